#include <iostream>

#include "tools/cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return omzi2c::tool::RunTool(args, {std::cin, std::cout, std::cerr});
}
