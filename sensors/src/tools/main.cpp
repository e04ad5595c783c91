#include <iostream>

#include "tools/cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::unique_ptr<omzi2c::tool::Terminal> terminal = omzi2c::tool::ProcessTerminal();
  return omzi2c::tool::RunTool(args, {std::cin, std::cout, std::cerr, terminal.get()});
}
