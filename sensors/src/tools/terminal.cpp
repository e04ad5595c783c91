// The terminal of the tool's own process: where confirmations are asked in
// the shell and, on Linux with libedit, where the shell's lines are edited.
// Kept apart from the command core so that each executable chooses: the
// statically linked guest tool goes without line editing.
#include <optional>
#include <string>

#include "tools/cli.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#if defined(OMZI2C_HAVE_LIBEDIT)
#include <editline/readline.h>
#endif
#endif

namespace omzi2c::tool {

namespace {

#if defined(_WIN32)
class ConsoleTerminal : public Terminal {
 public:
  bool InputIsTerminal() const override { return _isatty(_fileno(stdin)) != 0; }
  std::optional<std::string> Ask(const std::string& question) override {
    HANDLE out = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    std::optional<std::string> answer;
    if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE) {
      DWORD count = 0;
      WriteFile(out, question.data(), static_cast<DWORD>(question.size()), &count, nullptr);
      char buffer[256];
      if (ReadFile(in, buffer, sizeof buffer, &count, nullptr)) {
        answer = std::string(buffer, count);
        answer->erase(answer->find_last_not_of("\r\n") + 1);
      }
    }
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    return answer;
  }
};
#else
class ConsoleTerminal : public Terminal {
 public:
  bool InputIsTerminal() const override { return isatty(STDIN_FILENO) != 0; }
#if defined(OMZI2C_HAVE_LIBEDIT)
  bool EditsLines() const override {
    return true;
  }
  std::optional<std::string> EditLine(const std::string& prompt) override {
    rl_outstream = stderr;  // stdout is the commands' data
    char* line = readline(prompt.c_str());
    if (line == nullptr) return std::nullopt;
    const std::string text = line;
    std::free(line);
    if (!text.empty()) add_history(text.c_str());
    return text;
  }
#endif
  std::optional<std::string> Ask(const std::string& question) override {
    std::fstream tty("/dev/tty", std::ios::in | std::ios::out);
    if (!tty) return std::nullopt;
    tty << question << std::flush;
    std::string answer;
    if (!std::getline(tty, answer)) return std::nullopt;
    return answer;
  }
};
#endif

}  // namespace

std::unique_ptr<Terminal> ProcessTerminal() {
  return std::make_unique<ConsoleTerminal>();
}

}  // namespace omzi2c::tool
