// --state that loses nothing: runs of the tool's executable that share one
// state file, at the same time, interrupted, or only reading.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string TempPath(const std::string& name) {
  const std::string path = ::testing::TempDir() + name;
  std::remove(path.c_str());
  return path;
}

// Starts the tool with `args`; its stdin and stdout are pipes when asked.
pid_t Spawn(const std::vector<std::string>& args, int* in = nullptr, int* out = nullptr) {
  int toChild[2], fromChild[2];
  if (pipe(toChild) != 0 || pipe(fromChild) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(toChild[0], STDIN_FILENO);
    dup2(fromChild[1], STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    std::vector<char*> argv = {const_cast<char*>(OMZI2C_TOOL_BINARY)};
    for (const auto& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  in ? void(*in = toChild[1]) : void(close(toChild[1]));
  out ? void(*out = fromChild[0]) : void(close(fromChild[0]));
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// Runs the tool to its end; its exit status and stdout.
std::pair<int, std::string> RunBinary(const std::vector<std::string>& args) {
  int out = -1;
  const pid_t pid = Spawn(args, nullptr, &out);
  std::string text;
  char buffer[256];
  ssize_t count;
  while ((count = read(out, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<size_t>(count));
  close(out);
  return {Wait(pid), text};
}

// Of many runs setting different registers at once, every write survives.
TEST(ToolState, ParallelRunsTakeTurnsAndLoseNoWrite) {
  const std::string path = TempPath("omzi2c_parallel_state.txt");
  constexpr int kRuns = 30;
  std::vector<pid_t> runs;
  for (int i = 0; i < kRuns; ++i) {
    runs.push_back(Spawn(
        {"--state", path, "-y", "set", "0x50", std::to_string(0x80 + i), std::to_string(i + 1)}));
  }
  for (pid_t pid : runs)
    EXPECT_EQ(Wait(pid), 0);
  const std::string dump = RunBinary({"--state", path, "dump", "0x50"}).second;
  EXPECT_TRUE(Contains(dump, "80: 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10")) << dump;
  EXPECT_TRUE(Contains(dump, "90: 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 00 00")) << dump;
  std::remove(path.c_str());
}

// What one run wrote the next finds: the message device's note too; a run
// that only reads leaves the file alone (a comment added to it stays); a
// path that cannot be the file is refused before the command, with why.
TEST(ToolState, WritesLastReadsLeaveTheFileAndBadPathsAreRefused) {
  const std::string path = TempPath("omzi2c_kept_state.txt");
  const std::string dir = ::testing::TempDir();
  const struct {
    std::vector<std::string> args;
    int status;
    const char* out;
  } steps[] = {
      {{"--chipset", "5", "write-message", "0x3a", "4", "2", "7", "8"}, 0, ""},
      {{"--chipset", "2", "-y", "set", "0x50", "0xc0", "0xab"}, 0, ""},  // no message device
      {{"--chipset", "5", "exchange", "0x3a", "5", "0"}, 0, "0x02 0x07 0x08\n"},
      {{"get", "0x50", "0xc0"}, 0, "0xab\n"},
  };
  for (const auto& step : steps) {
    std::vector<std::string> args = {"--state", path};
    args.insert(args.end(), step.args.begin(), step.args.end());
    EXPECT_EQ(RunBinary(args), std::make_pair(step.status, std::string(step.out))) << step.args[0];
  }
  std::ofstream(path, std::ios::app) << "# a read-only run leaves this line\n";
  EXPECT_EQ(RunBinary({"--state", path, "dump", "0x50"}).first, 0);
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  EXPECT_TRUE(Contains(text.str(), "# a read-only run leaves this line")) << text.str();
  for (const std::string& bad : {dir, dir + "no-such-folder/state.txt"})
    EXPECT_EQ(RunBinary({"--state", bad, "-y", "set", "0x50", "0xc0", "1"}).first, 1) << bad;
  std::remove(path.c_str());
}

// A shell ended by Ctrl-C keeps what its finished lines wrote.
TEST(ToolState, AnInterruptedShellKeepsWhatItWrote) {
  const std::string path = TempPath("omzi2c_shell_state.txt");
  int in = -1, out = -1;
  const pid_t shell = Spawn({"--state", path, "shell"}, &in, &out);
  const std::string script = "set -y 0x50 0xc1 0x5a\nget 0x50 0xc1\n";
  ASSERT_EQ(write(in, script.data(), script.size()), static_cast<ssize_t>(script.size()));
  std::string seen;
  char buffer[64];
  ssize_t count;
  while (!Contains(seen, "\n") && (count = read(out, buffer, sizeof buffer)) > 0)
    seen.append(buffer, static_cast<size_t>(count));
  EXPECT_EQ(seen, "0x5a\n");  // both lines done, the shell waits for more
  kill(shell, SIGINT);
  EXPECT_EQ(Wait(shell), -SIGINT);
  close(in);
  close(out);
  EXPECT_EQ(RunBinary({"--state", path, "get", "0x50", "0xc1"}).second, "0x5a\n");
  std::remove(path.c_str());
}

}  // namespace
