// --state that loses nothing: runs of the tool's executable sharing one
// state file, at the same time or one after another, and a shell whose lines
// are kept as they run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/tool_runs.h"
#include "tools/cli.h"
#include "tools/state_file.h"

namespace {

using namespace omzi2c::tool;
using namespace omzi2c::tool::test_support;

std::string Path(const std::string& name) {
  const std::string path = ::testing::TempDir() + name;
  std::remove(path.c_str());
  return path;
}

// Runs the tool's executable with `args` (shell words); exit status, stdout.
std::pair<int, std::string> Binary(const std::string& args) {
  FILE* pipe = popen((std::string(OMZI2C_TOOL_BINARY) + " " + args + " 2>/dev/null").c_str(), "r");
  std::string out;
  char buffer[256];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// Of 30 runs setting different registers at once, every write survives.
TEST(ToolState, ParallelRunsTakeTurnsAndLoseNoWrite) {
  const std::string path = Path("omzi2c_parallel_state.txt");
  const std::string runs = "for i in $(seq 0 29); do '" OMZI2C_TOOL_BINARY "' --state " + path +
                           " -y set 0x50 $((0x80 + i)) $((i + 1)) & done; wait";
  ASSERT_EQ(std::system(runs.c_str()), 0);
  const std::string dump = Binary("--state " + path + " dump 0x50").second;
  EXPECT_TRUE(Contains(dump, "80: 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10")) << dump;
  EXPECT_TRUE(Contains(dump, "90: 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 00 00")) << dump;
}

// What one run wrote the next finds, the message device's note too (also
// through a run of a board without it); a run that only reads leaves the
// file alone; a path that cannot be the file is refused before the command.
TEST(ToolState, WritesLastReadsLeaveTheFileAndBadPathsAreRefused) {
  const std::string state = "--state " + Path("omzi2c_kept_state.txt");
  const std::pair<std::string, std::pair<int, std::string>> steps[] = {
      {"--chipset 5 write-message 0x3a 4 2 7 8", {0, ""}},
      {"--chipset 2 -y set 0x50 0xc0 0xab", {0, ""}},
      {"--chipset 5 exchange 0x3a 5 0", {0, "0x02 0x07 0x08\n"}},
      {"get 0x50 0xc0", {0, "0xab\n"}},
      {"-y set 0x37 0 0", {0, ""}},        // the DDR4 module's upper page
      {"get 0x54 0x49", {0, "0x4f\n"}},    // byte 329: its part number's first letter
      {"-y set 0x55 0x0b 3", {0, ""}},     // the DDR5 hub's MR11: page 3
      {"-y set 0x55 0x90 0x5a", {0, ""}},  // its memory's byte 3 * 128 + 16
      {"get 0x55 0x90", {0, "0x5a\n"}},    // the page and the byte, both kept
  };
  for (const auto& step : steps)
    EXPECT_EQ(Binary(state + " " + step.first), step.second) << step.first;
  const std::string path = ::testing::TempDir() + "omzi2c_kept_state.txt";
  std::ofstream(path, std::ios::app) << "# a read-only run leaves this line\n";
  EXPECT_EQ(Binary(state + " dump 0x50").first, 0);
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  EXPECT_TRUE(Contains(text.str(), "# a read-only run leaves this line")) << text.str();
  for (const std::string& bad : {::testing::TempDir(), Path("no-such-folder/state.txt")})
    EXPECT_EQ(Binary("--state " + bad + " -y set 0x50 0xc0 1").first, 1) << bad;
}

// A file this user may read but not write is refused; root may write it.
TEST(ToolState, AFileThatCannotBeWrittenIsRefused) {
  const std::string path = Path("omzi2c_read_only_state.txt");
  std::ofstream(path) << "";
  chmod(path.c_str(), S_IRUSR);
  if (access(path.c_str(), W_OK) == 0) GTEST_SKIP() << "skipped: this user may write it (root)";
  EXPECT_EQ(Binary("--state " + path + " get 0x50 0").first, 1);
}

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

std::string Text(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// A path that is a link, a FIFO, a device or a folder is refused at once,
// naming it and why, and nothing is made beside it; a link's target stays.
TEST(ToolState, APathThatIsNoRegularFileIsRefusedAtOnce) {
  const std::string target = Path("omzi2c_link_target.txt");
  std::ofstream(target) << "kept\n";
  const std::string link = Path("omzi2c_state_link.txt");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  const std::string fifo = Path("omzi2c_state_fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::pair<std::string, std::string> cases[] = {
      {link, "a symbolic link"},
      {fifo, "a FIFO"},
      {"/dev/zero", "a character device"},
      {::testing::TempDir() + ".", "a directory"},
  };
  for (const auto& [path, why] : cases) {
    const ToolRun run = Tool({"--state", path, "-y", "set", "0x50", "0xc0", "1"});
    EXPECT_EQ(run.status, 1) << path;
    EXPECT_TRUE(Contains(run.err, path + ": " + why)) << run.err;
    EXPECT_FALSE(Exists(path + ".lock") || Exists(path + ".new")) << path;
  }
  EXPECT_EQ(Text(target), "kept\n");
  std::remove(link.c_str());
  std::remove(fifo.c_str());
}

// A run that only reads makes no file; the first that writes makes the
// state and its lock file, and leaves no new version behind.
TEST(ToolState, OnlyARunThatWritesMakesFiles) {
  const std::string path = Path("omzi2c_made_state.txt");
  std::remove((path + ".lock").c_str());
  EXPECT_EQ(Tool({"--state", path, "get", "0x50", "0"}).status, 0);
  EXPECT_FALSE(Exists(path) || Exists(path + ".lock"));
  EXPECT_EQ(Tool({"--state", path, "-y", "set", "0x50", "0xc0", "7"}).status, 0);
  EXPECT_TRUE(Exists(path) && Exists(path + ".lock"));
  EXPECT_FALSE(Exists(path + ".new"));
}

// A save that cannot finish, because the run is killed between writing the
// new version and putting it in place or for a full disk (a run whose files
// may not grow past 4 KiB), leaves the former state whole.
TEST(ToolState, ASaveThatCannotFinishLeavesTheFormerStateWhole) {
  const std::string path = Path("omzi2c_whole_state.txt");
  const std::string former = "former\n", large(64 * 1024, 'x');
  std::string text, error;
  {
    StateFile file;
    ASSERT_TRUE(file.Open(path, &text, &error) && file.Write(former, &error)) << error;
  }
  for (const bool killed : {true, false}) {
    const pid_t child = fork();
    if (child == 0) {
      StateFile file;
      file.beforeRename = [] { raise(SIGKILL); };
      struct rlimit limit;
      getrlimit(RLIMIT_FSIZE, &limit);
      limit.rlim_cur = killed ? limit.rlim_cur : 4096;
      signal(SIGXFSZ, SIG_IGN);
      setrlimit(RLIMIT_FSIZE, &limit);
      const bool refused = file.Open(path, &text, &error) && !file.Write(large, &error);
      _exit(refused && Contains(error, path + ": File too large") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WIFSIGNALED(status), killed);
    EXPECT_TRUE(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
    EXPECT_EQ(Text(path), former) << killed;
    EXPECT_EQ(Exists(path + ".new"), killed);  // flushed, never put in place
  }
}

// A run that has to wait for another run's hold says so, naming the file.
TEST(ToolState, ARunThatWaitsForAnotherSaysSo) {
  const std::string path = Path("omzi2c_waited_state.txt");
  const int other = open((path + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX), 0);
  StateFile file;
  std::string told;
  file.SetWaitNotice(
      [&](const std::string& message) {
        told = message;
        close(other);  // the other run ends
      },
      0);
  std::string text, error;
  EXPECT_TRUE(file.Open(path, &text, &error)) << error;
  EXPECT_TRUE(Contains(told, "waiting for another run that holds " + path)) << told;
}

// A terminal that edits lines; before handing out each one it notes what
// the state file holds at that moment.
struct EditingTerminal : Terminal {
  std::string path;
  std::vector<std::string> lines, seen;
  bool InputIsTerminal() const override { return true; }
  std::optional<std::string> Ask(const std::string&) override { return std::nullopt; }
  bool EditsLines() const override { return true; }
  std::optional<std::string> EditLine(const std::string& prompt) override {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    seen.push_back(prompt + text.str());
    if (lines.empty()) return std::nullopt;
    const std::string line = lines.front();
    lines.erase(lines.begin());
    return line;
  }
};

// The shell reads its lines from the terminal's editor, and what a line
// wrote is in the file before the next line is read: a Ctrl-C then loses
// nothing.
TEST(ToolState, TheShellKeepsEachLineAsItRunsAndReadsFromTheEditor) {
  EditingTerminal terminal;
  terminal.path = Path("omzi2c_shell_state.txt");
  terminal.lines = {"set -y 0x50 0xc1 0x5a", "get 0x50 0xc1"};
  std::istringstream in("get 0x50 0\n");  // not read: the editor has the lines
  std::ostringstream out, err;
  EXPECT_EQ(RunTool({"--state", terminal.path, "shell"}, {in, out, err, &terminal}), 0);
  EXPECT_EQ(out.str(), "0x5a\n");
  ASSERT_EQ(terminal.seen.size(), 3u);
  EXPECT_EQ(terminal.seen[0], "omzi2c> ");
  const size_t module0 = terminal.seen[1].find("module 0 ") + 9;
  EXPECT_EQ(terminal.seen[1].substr(module0 + 2 * 0xc1, 2), "5a") << terminal.seen[1];
  EXPECT_EQ(terminal.seen[2], terminal.seen[1]);
}

}  // namespace
