// The tool's care on real hardware (no host shared with a kernel driver, the
// confirmation naming what is written where, bus numbers refused) and the
// forms people who know i2c-tools type.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/cli.h"
#include "tools/commands.h"
#include "tools/kernel_driver_check.h"
#include "tools/session.h"

namespace {

namespace fs = std::filesystem;
using namespace omzi2c::tool;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A kernel device tree in a folder of its own: PCI functions with their IDs,
// the driver bound and the adapter it registered, and the ACPI EC driver's
// devices.
class FakeSysfs {
 public:
  explicit FakeSysfs(const std::string& name) : root_(fs::path(::testing::TempDir()) / name) {
    fs::remove_all(root_);
    fs::create_directories(root_ / "bus/pci/devices");
    fs::create_directories(root_ / "bus/acpi/drivers/ec");
  }
  ~FakeSysfs() { fs::remove_all(root_); }
  void Function(const std::string& at, const char* vid, const char* did, const char* driver = "",
                const char* adapter = "") {
    const fs::path dir = root_ / "bus/pci/devices" / at;
    fs::create_directories(dir);
    std::ofstream(dir / "vendor") << vid << "\n";
    std::ofstream(dir / "device") << did << "\n";
    if (*driver) fs::create_directory_symlink(fs::path("../../drivers") / driver, dir / "driver");
    if (*adapter) fs::create_directories(dir / adapter);
  }
  void EcDevice(const std::string& name) {
    fs::create_directories(root_ / "bus/acpi/drivers/ec" / name);
  }
  std::string Root() const { return root_.string(); }

 private:
  fs::path root_;
};

TEST(ToolKernelDriver, AHostHeldByAKernelDriverIsFoundWhereDiscoveryLooks) {
  const struct {
    const char* what;
    ConfiguredHost host;
    std::vector<std::array<const char*, 5>> functions;  // location, VID, DID, driver, adapter
    const char* ec;
    const char* conflict;  // part of the reason; "" : none
  } cases[] = {
      {"i801 with its adapter",
       {2, 0x8086, 0x2930, 3},
       {{"0000:00:1f.3", "0x8086", "0x2930", "i801_smbus", "i2c-0"}},
       "",
       "i801_smbus drives the SMBus host at PCI 00:1f.3 (adapter i2c-0)"},
      {"the unbind line",
       {2, 0x8086, 0x2930, 3},
       {{"0000:00:1f.3", "0x8086", "0x2930", "i801_smbus", "i2c-0"}},
       "",
       "echo 0000:00:1f.3 > "},
      {"bound, no adapter",
       {2, 0x8086, 0x2930, 3},
       {{"0000:00:1f.3", "0x8086", "0x2930", "i801_smbus", ""}},
       "",
       ""},
      {"adapter, nothing bound",
       {2, 0x8086, 0x2930, 3},
       {{"0000:00:1f.3", "0x8086", "0x2930", "", "i2c-0"}},
       "",
       ""},
      {"Func names function 0, the host sits at 3",
       {4, 0x1022, 0x780b, 0},
       {{"0000:00:14.0", "0x1022", "0x780b", "", ""},
        {"0000:00:14.3", "0x1022", "0x780b", "piix4_smbus", "i2c-1"}},
       "",
       "piix4_smbus drives the SMBus host at PCI 00:14.3"},
      {"the host kind sits at function 0, the driver at 3",
       {5, 0x8086, 0x2930, 3},
       {{"0000:00:1f.0", "0x8086", "0x1234", "", ""},
        {"0000:00:1f.3", "0x8086", "0x2930", "i801_smbus", "i2c-0"}},
       "",
       ""},
      {"other IDs",
       {2, 0x8086, 0x2931, 3},
       {{"0000:00:1f.3", "0x8086", "0x2930", "i801_smbus", "i2c-0"}},
       "",
       ""},
      {"beyond bus 6",
       {2, 0x8086, 0x2930, 3},
       {{"0000:07:00.3", "0x8086", "0x2930", "i801_smbus", "i2c-0"}},
       "",
       ""},
      {"the lowest bus wins",
       {2, 0x8086, 0x2930, 3},
       {{"0000:01:00.3", "0x8086", "0x2930", "i801_smbus", "i2c-2"},
        {"0000:00:1f.3", "0x8086", "0x2930", "", ""}},
       "",
       ""},
      {"ACPI EC bound",
       {10, 0x1022, 0x780b, 0},
       {},
       "PNP0C09:00",
       "embedded-controller driver (ec) has PNP0C09:00 bound"},
      {"ACPI EC idle", {10, 0x1022, 0x780b, 0}, {}, "", ""},
      {"an EC driver matters to Chipset 10 only", {2, 0x8086, 0x2930, 3}, {}, "PNP0C09:00", ""},
  };
  for (const auto& c : cases) {
    FakeSysfs sysfs("omzi2c_sysfs");
    for (const auto& f : c.functions)
      sysfs.Function(f[0], f[1], f[2], f[3], f[4]);
    if (*c.ec) sysfs.EcDevice(c.ec);
    const auto conflict = KernelDriverConflict(sysfs.Root(), c.host);
    EXPECT_EQ(conflict.has_value(), *c.conflict != 0) << c.what;
    EXPECT_TRUE(Contains(conflict.value_or(""), c.conflict))
        << c.what << ": " << conflict.value_or("");
  }
}

// The check runs before real ports are asked for: refused with exit status
// 1 and the reason; -f and a session without the SMBus service go on (to
// the port access this test machine may refuse: anything but the refusal).
TEST(ToolKernelDriver, RealPortSessionsRefuseAHeldHostUnlessForced) {
  FakeSysfs sysfs("omzi2c_sysfs_session");
  sysfs.Function("0000:00:1f.3", "0x8086", "0x2930", "i801_smbus", "i2c-0");
  const struct {
    bool force;
    bool smbService;
    bool refused;
  } cases[] = {{false, true, true}, {true, true, false}, {false, false, false}};
  for (const auto& c : cases) {
    GlobalOptions options;
    options.board = "ports";
    options.sysfs = sysfs.Root();
    options.force = c.force;
    options.smbService = c.smbService;
    std::ostringstream trace;
    std::string error;
    int status = 0;
    const auto session = OpenSession(options, trace, &error, &status);
    EXPECT_EQ(!session && status == kExitUsage && Contains(error, "i801_smbus"), c.refused)
        << c.force << c.smbService << error;
    EXPECT_EQ(Contains(error, "i801_smbus"), c.refused) << error;
  }
}

}  // namespace

namespace {

// The simulated board taken for real hardware, so that writes ask first.
class PretendHardware : public SessionSource, public Session {
 public:
  PretendHardware() : real_(OpenSession(GlobalOptions{}, std::cerr, &error_, &status_)) {}
  Session* Get(int*, std::ostream&) override { return this; }
  omzi2c::client::Client& Client() override { return real_->Client(); }
  bool RealHardware() const override { return true; }
  std::string HostDescription() const override { return real_->HostDescription(); }
  std::vector<std::string> Info() const override { return {}; }

 private:
  std::string error_;
  int status_ = 0;
  std::unique_ptr<Session> real_;
};

// The question names chip, data address, data, mode and the host, as
// i2cset's does; answered no, nothing is written.
TEST(ToolConfirm, TheQuestionSaysWhatGoesWhere) {
  const std::string host =
      ",\non the byte-done host (Chipset 2) at PCI 00:1f.3 of the simulated board";
  const struct {
    std::vector<std::string> args;
    std::string intent;
    bool danger;
  } cases[] = {
      {{"set", "0x50", "0x10", "0x12"},
       "I will write to chip address 0x50, data address 0x10, data 0x12, mode byte" + host,
       true},
      {{"set", "0x18", "2", "0x0510", "w"},
       "chip address 0x18, data address 0x02, data 0x0510, mode word" + host,
       false},
      {{"set", "0x44", "0x10", "1", "2", "s"}, "data 0x01 0x02, mode block" + host, false},
      {{"write", "0x51", "0x10", "1", "2"},
       "data address 0x10, data 0x01 0x02, mode word" + host,
       true},
      {{"send", "0x50", "0x10"}, "chip address 0x50, data 0x10, mode send byte" + host, true},
      {{"block-write", "0x44", "0", "9"}, "data 0x09, mode block" + host, false},
      {{"write-message", "0x3a", "9"}, "chip address 0x3a, data 0x09, mode message" + host, false},
      {{"port", "write", "0x80", "0x12"},
       "I will write 0x12 to I/O port 0x0080, width byte.\n",
       false},
      {{"ioctl", "0x80076404", "a0", "2"},
       "I will send control code 0x80076404 with 1 input bytes",
       false},
  };
  for (const auto& c : cases) {
    PretendHardware board;
    std::istringstream in("n\n");
    std::ostringstream before, out, err;
    RunCommand({"dump", "0x50"}, board, GlobalOptions{}, {in, before, err});
    EXPECT_EQ(RunCommand(c.args, board, GlobalOptions{}, {in, out, err}), kExitOk);
    EXPECT_TRUE(Contains(err.str(), c.intent + (c.intent.back() == '\n' ? "" : ".\n") +
                                        "Continue? [y/N] Aborted.\n"))
        << err.str();
    EXPECT_EQ(Contains(err.str(), "DANGER! Chip"), c.danger) << err.str();
    RunCommand({"dump", "0x50"}, board, GlobalOptions{}, {in, out, err});
    EXPECT_EQ(out.str(), before.str()) << c.args[0] << ": written although declined";
  }
}

}  // namespace

namespace {

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

ToolRun Tool(std::vector<std::string> args) {
  std::istringstream in;
  std::ostringstream out, err;
  const int status = RunTool(args, {in, out, err, nullptr});
  return {status, out.str(), err.str()};
}

// A decimal number then a chip written in hex is i2c-tools' bus and chip,
// whatever the bus: refused before anything is sent. Other forms are a chip
// and a register.
TEST(ToolAddresses, BusNumbersOfAnyValueAreRefused) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char* text;  // part of stderr, or of stdout when the status is 0
  } cases[] = {
      {{"-y", "set", "9", "0x50", "0x12"}, 1, "write it in hex (omzi2c set 0x09 ...)"},
      {{"get", "24", "0x10"}, 1, "'24 0x10' looks like an i2c-tools bus number"},
      {{"get", "24", "0x10"}, 1, "write it in hex (omzi2c get 0x18 ...)"},
      {{"get", "24", "0x05"}, 0, "0x"},  // 0x05 cannot be a chip: a register
      {{"get", "300", "0x50"}, 1, "leave the bus\nnumber out (omzi2c get 0x50 ...)"},
      {{"dump", "11", "0x50"}, 1, "looks like an i2c-tools bus number"},
      {{"get", "0", "80"}, 1, "write it in hex and give -a"},
      {{"get", "24", "5", "w"}, 0, "0x"},  // chip 0x18, register 5
      {{"get", "0x18", "0x05", "w"}, 0, "0x"},
      {{"get", "0x50", "0x10"}, 0, "0x"},
      {{"get", "080", "0x10"}, 1, "a leading 0 makes it octal"},  // a number, not a bus
      {{"detect", "1", "0x50", "0x57"}, 1, "run 'omzi2c detect' without it"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> traced = {"--trace"};
    traced.insert(traced.end(), c.args.begin(), c.args.end());
    const ToolRun run = Tool(traced);
    std::string joined;
    for (const auto& a : c.args)
      joined += a + " ";
    EXPECT_EQ(run.status == 0 ? 0 : 1, c.status) << joined << run.err;
    EXPECT_TRUE(Contains(c.status == 0 ? run.out : run.err, c.text)) << joined << run.err;
    EXPECT_EQ(c.status == 1 && Contains(run.err, "trace "), false) << joined;
  }
}

// detect's and dump's ranges, --name=value, a dump that fails midway, failed
// writes, modes and empty payloads, faults a kind lacks, info's host.
TEST(ToolForms, TheFormsPeopleType) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char* err;     // part of stderr
    const char* out;     // part of stdout
    const char* absent;  // in neither ("" : not checked)
  } cases[] = {
      {{"detect"}, 0, "", "00:                         -- --", ""},
      {{"detect", "0x50", "0x57"}, 0, "", "50: 50 51 52 53 -- -- -- --    ", "18"},
      {{"detect", "0x03", "0x10"}, 1, "(0x00-0x7f with -a)", "", ""},
      {{"-a", "detect", "0x03", "0x04"}, 0, "", "00:          -- --      ", ""},
      {{"dump", "0x50", "-r", "0x0c-0x21"}, 0, "", "10: 69 78", "30:"},
      {{"dump", "0x50", "-r", "0x0c-0x21"}, 0, "", "20: 00 00      ", "0b"},
      {{"dump", "0x50", "-r", "0x21-0x20"}, 1, "-r takes FIRST-LAST", "", ""},
      {{"--chipset=5", "info"}, 0, "", "Chipset 5 (paced-poll host)", ""},
      {{"--yes=1", "info"}, 1, "--yes takes no value", "", ""},
      {{"--fault", "failed@40", "dump", "0x50"},
       2,
       "Read of register 0x27",
       "20: 00 00 00 00 00 00 00    ",
       "28"},
      {{"--fault", "nak", "set", "0x50", "0x10", "1"},
       2,
       "the write to chip 0x50, register 0x10 failed",
       "",
       ""},
      {{"--fault", "nak", "get", "0x50", "0"}, 2, "(result 16)\n", "", "last host status"},
      {{"set", "0x50", "0x10", "1", "q"}, 1, "set's MODE is b (byte), w (word) or s", "", ""},
      {{"set", "0x50", "0x10", "1", "c"}, 1, "set's MODE is b (byte)", "", ""},
      {{"--trace", "write-message", "0x3a"}, 1, "at least one BYTE", "", "trace"},
      {{"--trace", "block-write", "0x44", "0"}, 1, "at least one BYTE", "", "trace"},
      {{"--trace", "exchange", "0x3a"}, 1, "at least one BYTE", "", "trace"},
      {{"--chipset", "2", "--fault", "loses-config", "info"}, 1, "does not apply", "", ""},
      {{"--chipset", "3", "--fault", "not-idle", "info"}, 1, "does not apply", "", ""},
      {{"--chipset", "2", "--fault", "second-busy-stuck", "info"}, 1, "does not apply", "", ""},
      {{"--chipset", "2", "--fault", "done-late", "info"}, 1, "does not apply", "", ""},
      {{"--list-faults"}, 0, "", "not-idle\tthe start-port host", ""},
      {{"--list-faults"}, 0, "", "[Chipset 2, 3]\n", ""},
      {{"--chipset", "2", "--list-faults"}, 0, "", "alert\t", "not-idle"},
      {{"info"}, 0, "", "host: PCI 00:1f.3\n", ""},
      {{"--chipset", "9", "--func", "4", "info"}, 0, "", "host: PCI 00:1f.4\n", ""},
  };
  for (const auto& c : cases) {
    const ToolRun run = Tool(c.args);
    std::string joined;
    for (const auto& a : c.args)
      joined += a + " ";
    EXPECT_EQ(run.status, c.status) << joined << run.err;
    EXPECT_TRUE(Contains(run.err, c.err)) << joined << run.err;
    EXPECT_TRUE(Contains(run.out, c.out)) << joined << run.out;
    EXPECT_FALSE(*c.absent && Contains(run.out + run.err, c.absent))
        << joined << run.out << run.err;
  }
}

}  // namespace

namespace {

// A terminal that edits lines: the shell reads its lines from it, not from
// standard input.
struct EditingTerminal : Terminal {
  std::vector<std::string> lines;
  std::string prompts;
  bool InputIsTerminal() const override { return true; }
  std::optional<std::string> Ask(const std::string&) override { return std::nullopt; }
  bool EditsLines() const override { return true; }
  std::optional<std::string> EditLine(const std::string& prompt) override {
    prompts += prompt;
    if (lines.empty()) return std::nullopt;
    const std::string line = lines.front();
    lines.erase(lines.begin());
    return line;
  }
};

TEST(ToolShell, LinesComeFromTheTerminalsEditorWhereItHasOne) {
  EditingTerminal terminal;
  terminal.lines = {"get 0x50 2", "get 0x50 4"};
  std::istringstream in("get 0x50 0\n");
  std::ostringstream out, err;
  EXPECT_EQ(RunTool({"shell"}, {in, out, err, &terminal}), 0);
  EXPECT_EQ(out.str(), "0x0b\n0x03\n");
  EXPECT_EQ(terminal.prompts, "omzi2c> omzi2c> omzi2c> ");
  EXPECT_FALSE(Contains(err.str(), "omzi2c> "));  // the editor showed them
}

}  // namespace
