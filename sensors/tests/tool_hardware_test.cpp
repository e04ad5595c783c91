// The tool's care on real hardware: no host shared with a kernel driver, the
// confirmation naming what is written where, bus numbers refused.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/cli.h"
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
    EXPECT_TRUE(Contains(conflict.value_or(""), c.conflict)) << c.what << ": " << conflict.value_or("");
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
