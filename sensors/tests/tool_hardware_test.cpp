// The tool's care on real hardware (no host shared with a kernel driver, the
// confirmation naming what is written where, bus numbers refused) and the
// forms people who know i2c-tools type.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "support/tool_runs.h"
#include "tools/kernel_driver_check.h"

namespace {

namespace fs = std::filesystem;
using namespace omzi2c::tool;
using namespace omzi2c::tool::test_support;

// A kernel device tree in a folder of the test's own: PCI functions "BB:DD.F
// VID DID [DRIVER ADAPTER]" and a device bound to the ACPI EC driver.
std::string FakeSysfs(const std::vector<std::string>& functions, const std::string& ec) {
  const fs::path root = fs::path(::testing::TempDir()) /
                        ::testing::UnitTest::GetInstance()->current_test_info()->name();
  fs::remove_all(root);
  fs::create_directories(root / "bus/acpi/drivers/ec" / ec);
  for (const std::string& line : functions) {
    std::istringstream words(line);
    std::string at, vid, did, driver, adapter;
    words >> at >> vid >> did >> driver >> adapter;
    const fs::path dir = root / "bus/pci/devices" / ("0000:" + at);
    fs::create_directories(dir / adapter);
    std::ofstream(dir / "vendor") << vid << "\n";
    std::ofstream(dir / "device") << did << "\n";
    if (!driver.empty()) fs::create_directory_symlink("../../drivers/" + driver, dir / "driver");
  }
  return root.string();
}

TEST(ToolKernelDriver, AHostHeldByAKernelDriverIsFoundWhereDiscoveryLooks) {
  const std::string i801 = "00:1f.3 0x8086 0x2930 i801_smbus i2c-0";
  const struct {
    ConfiguredHost host;
    std::vector<std::string> functions;
    const char* ec;
    const char* conflict;  // part of the reason; "" : none
  } cases[] = {
      {{2, 0x8086, 0x2930, 3},
       {i801},
       "",
       "i801_smbus drives the SMBus host at PCI 00:1f.3 (adapter i2c-0)"},
      {{2, 0x8086, 0x2930, 3}, {i801}, "", "echo 0000:00:1f.3 > "},
      {{2, 0x8086, 0x2930, 3}, {"00:1f.3 0x8086 0x2930 i801_smbus"}, "", ""},        // no adapter
      {{2, 0x8086, 0x2931, 3}, {i801}, "", ""},                                      // other IDs
      {{2, 0x8086, 0x2930, 3}, {"07:1f.3 0x8086 0x2930 i801_smbus i2c-0"}, "", ""},  // bus 7
      {{2, 0x8086, 0x2930, 3},
       {"01:00.3 0x8086 0x2930 i801_smbus i2c-2", "00:1f.3 0x8086 0x2930"},
       "",
       ""},  // the lowest bus is the one
      // Func names function 0; the host of Chipset 4 sits at 3.
      {{4, 0x1022, 0x780b, 0},
       {"00:14.0 0x1022 0x780b", "00:14.3 0x1022 0x780b piix4_smbus i2c-1"},
       "",
       "piix4_smbus drives the SMBus host at PCI 00:14.3"},
      {{5, 0x8086, 0x2930, 3}, {i801}, "", ""},  // Chipset 5's host sits at function 0
      {{10, 0, 0, 0}, {}, "PNP0C09:00", "embedded-controller driver (ec) has PNP0C09:00 bound"},
      {{10, 0, 0, 0}, {}, "", ""},
      {{2, 0x8086, 0x2930, 3}, {}, "PNP0C09:00", ""},
  };
  for (const auto& c : cases) {
    const auto conflict = KernelDriverConflict(FakeSysfs(c.functions, c.ec), c.host);
    EXPECT_EQ(conflict.has_value(), *c.conflict != 0) << c.host.chipset << c.functions.size();
    EXPECT_TRUE(Contains(conflict.value_or(""), c.conflict)) << conflict.value_or("");
  }
}

// Checked before real ports are asked for: refused with exit status 1; -f
// and a session without the SMBus service go on (to the port access this
// machine may refuse: anything but the refusal).
TEST(ToolKernelDriver, RealPortSessionsRefuseAHeldHostUnlessForced) {
  const std::string sysfs = FakeSysfs({"00:1f.3 0x8086 0x2930 i801_smbus i2c-0"}, "");
  for (const bool force : {false, true}) {
    for (const bool smbService : {false, true}) {
      GlobalOptions options;
      options.board = "ports";
      options.sysfs = sysfs;
      options.force = force;
      options.smbService = smbService;
      std::string error;
      int status = 0;
      const bool opened = OpenSession(options, std::cerr, &error, &status) != nullptr;
      const bool refused = !force && smbService;
      EXPECT_EQ(Contains(error, "i801_smbus"), refused) << error;
      EXPECT_TRUE(!refused || (!opened && status == kExitUsage)) << error;
    }
  }
}

// The question names chip, data address, data, mode and host, as i2cset's
// does, after the danger line of a module EEPROM (0x50-0x57).
TEST(ToolConfirm, TheQuestionSaysWhatGoesWhere) {
  const std::string host =
      ",\non the byte-done host (Chipset 2) at PCI 00:1f.3 of the simulated "
      "board.\nContinue? [y/N] Aborted.\n";
  const struct {
    std::vector<std::string> args;
    std::string intent;
  } cases[] = {
      {{"set", "0x50", "0x10", "0x12"},
       "unable to start.\nI will write to chip address 0x50, data address 0x10, data 0x12, mode "
       "byte" +
           host},
      {{"set", "0x18", "2", "0x0510", "w"},
       "worse.\nI will write to chip address 0x18, data address 0x02, data 0x0510, mode word" +
           host},
      {{"set", "0x44", "0x10", "1", "2", "s"}, "data 0x01 0x02, mode block" + host},
      {{"write", "0x51", "0x10", "1", "2"}, "data address 0x10, data 0x01 0x02, mode word" + host},
      {{"send", "0x50", "0x10"}, "chip address 0x50, data 0x10, mode send byte" + host},
      {{"write-message", "0x3a", "9"}, "chip address 0x3a, data 0x09, mode message" + host},
      {{"port", "write", "0x80", "0x12"}, "I will write 0x12 to I/O port 0x0080, width byte.\nC"},
      {{"ioctl", "0x80076404", "a0", "2"}, "I will send control code 0x80076404 with 1 input"},
  };
  for (const auto& c : cases) {
    PretendHardware board;
    std::istringstream in("n\n");
    std::ostringstream out, err;
    EXPECT_EQ(RunCommand(c.args, board, GlobalOptions{}, {in, out, err}), kExitOk);
    EXPECT_TRUE(Contains(err.str(), c.intent)) << err.str();
  }
}

// A decimal number then a chip written in hex is i2c-tools' bus and chip,
// whatever the bus: refused before anything is sent. Other forms are a chip
// and a register.
TEST(ToolAddresses, BusNumbersOfAnyValueAreRefused) {
  const std::string bus = "looks like an i2c-tools bus number";
  ExpectRuns({
      {{"--trace", "-y", "set", "9", "0x50", "0x12"}, 1, "(omzi2c set 0x09 ...)", "", "trace"},
      {{"--trace", "get", "300", "0x50"}, 1, "number out (omzi2c get 0x50 ...)", "", "trace"},
      {{"--trace", "get", "24", "0x10"}, 1, "write it in hex (omzi2c get 0x18 ...)", "", "trace"},
      {{"--trace", "dump", "11", "0x50"}, 1, bus, "", "trace"},
      {{"--trace", "get", "0", "80"}, 1, "write it in hex and give -a", "", "trace"},
      {{"--trace", "detect", "1", "0x50", "0x57"}, 1, "run 'omzi2c detect' without it", "", ""},
      {{"get", "24", "5", "w"}, 0, "", "0x", bus},  // chip 0x18, register 5
      {{"get", "24", "0x05"}, 0, "", "0x", bus},    // 0x05 cannot be a chip
      {{"get", "080", "0x10"}, 1, "a leading 0 makes it octal", "", bus},
  });
}

// detect's and dump's ranges, --name=value, a dump that fails midway, failed
// writes, modes and empty payloads, faults a kind lacks, info's host.
TEST(ToolForms, TheFormsPeopleType) {
  const std::string none = "does not apply";
  ExpectRuns({
      {{"detect"}, 0, "", "00:                         -- --", ""},
      {{"detect", "0x50", "0x57"}, 0, "", "50: 50 51 52 53 54 55 -- --    ", "18"},
      {{"detect", "0x03", "0x10"}, 1, "(0x00-0x7f with -a)", "", ""},
      {{"-a", "detect", "0x03", "0x04"}, 0, "", "00:          -- --      ", ""},
      {{"dump", "0x50", "-r", "0x0c-0x21"}, 0, "", "20: 00 00      ", "30:"},
      {{"dump", "0x50", "-r", "0x21-0x20"}, 1, "-r takes FIRST-LAST", "", ""},
      {{"--chipset=5", "info"}, 0, "", "Chipset 5 (paced-poll host)", ""},
      {{"--yes=1", "info"}, 1, "--yes takes no value", "", ""},
      {{"--fault", "failed@40", "dump", "0x50"},
       2,
       "register 0x27",
       "20: 00 00 00 00 00 00 00  ",
       "28"},
      {{"--fault", "nak", "set", "0x50", "0x10", "1"},
       2,
       "to chip 0x50, register 0x10 failed",
       "",
       ""},
      {{"--fault", "nak", "get", "0x50", "0"}, 2, "(result 16)\n", "", "last host status"},
      {{"set", "0x50", "0x10", "1", "q"}, 1, "set's MODE is b (byte), w (word) or s", "", ""},
      {{"set", "0x50", "0x10", "1", "c"}, 1, "set's MODE is b (byte)", "", ""},
      {{"--trace", "write-message", "0x3a"}, 1, "at least one BYTE", "", "trace"},
      {{"--trace", "block-write", "0x44", "0"}, 1, "at least one BYTE", "", "trace"},
      {{"--trace", "exchange", "0x3a"}, 1, "at least one BYTE", "", "trace"},
      {{"--chipset", "2", "--fault", "loses-config", "info"}, 1, none, "", ""},
      {{"--chipset", "3", "--fault", "not-idle", "info"}, 1, none, "", ""},
      {{"--chipset", "2", "--fault", "second-busy-stuck", "info"}, 1, none, "", ""},
      {{"--chipset", "2", "--fault", "done-late", "info"}, 1, none, "", ""},
      {{"--list-faults"}, 0, "", "not-idle\tthe start-port host", ""},
      {{"--list-faults"}, 0, "", "[Chipset 2, 3]\n", ""},
      {{"--chipset", "2", "--list-faults"}, 0, "", "alert\t", "not-idle"},
      {{"--chipset", "10", "--list-faults"}, 0, "", "acknowledged) [Chipset 10]\n", "[Chipset ]"},
      {{"info"}, 0, "", "host: PCI 00:1f.3\n", ""},
      {{"--chipset", "9", "--func", "4", "info"}, 0, "", "host: PCI 00:07.4\n", ""},
  });
}

}  // namespace
