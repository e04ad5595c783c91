// From a board to a reading: the table of known controllers, what pci makes
// of each function (from the port pair or from sysfs), and the round trip of
// every kind's simulated board through pci's suggestion and the driver.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "board/simulated_board.h"
#include "decode/controllers.h"
#include "support/tool_runs.h"
#include "tools/decode_json.h"

namespace {

namespace fs = std::filesystem;
using namespace omzi2c::tool;
using namespace omzi2c::tool::test_support;
using omzi2c::decode::FindController;
using omzi2c::decode::KnownController;

// Each code's fixed function, as discovery's rows give it.
unsigned RowFunction(uint32_t chipset) {
  const unsigned functions[] = {0, 0, 3, 3, 3, 0, 0, 0, 3, 4, 2};
  return functions[chipset];
}

TEST(ControllerTable, SuggestsWhatTheRowsServeAndExplainsWhatTheyDoNot) {
  const struct {
    uint16_t vendor, device;
    const char* suggestion;  // "" when not served
    bool tested;
  } cases[] = {
      {0x8086, 0x2930, "2", true},                   // ICH9, q35
      {0x8086, 0x3A30, "2", false},                  // ICH10
      {0x8086, 0xA123, "2 +HostFunction 4", false},  // 100 Series: function 4
      {0x8086, 0x7113, "4", true},                   // PIIX4, pc
      {0x1106, 0x3051, "8", false},
      {0x1106, 0x3057, "9", false},
      {0x1022, 0x746A, "10", false},
      {0x1022, 0x790B, "", false},  // base behind an index/data pair
      {0x10B9, 0x7101, "", false},  // the same IDs on two layouts
  };
  for (const auto& c : cases) {
    const KnownController* known = FindController(c.vendor, c.device);
    ASSERT_NE(known, nullptr) << std::hex << c.vendor << ":" << c.device;
    const auto suggestion = omzi2c::decode::Suggest(*known);
    EXPECT_EQ(suggestion ? omzi2c::decode::SuggestionText(*suggestion) : "", c.suggestion)
        << known->name;
    EXPECT_EQ(known->tested, c.tested) << known->name;
  }
  EXPECT_EQ(FindController(0x8086, 0x2918), nullptr);  // the ICH9's LPC bridge is no host

  std::set<uint32_t> ids;
  int tested = 0;
  for (const KnownController& c : omzi2c::decode::KnownControllers()) {
    EXPECT_TRUE(ids.insert(c.deviceId << 16 | c.vendorId).second) << c.name;
    tested += c.tested;
    const auto suggestion = omzi2c::decode::Suggest(c);
    if (!suggestion) {
      EXPECT_EQ(c.chipsets, 0u) << c.name;
      EXPECT_NE(std::string(c.note), "") << c.name;
      continue;
    }
    EXPECT_TRUE(c.chipsets & omzi2c::decode::ChipsetBit(suggestion->chipset)) << c.name;
    EXPECT_EQ(suggestion->hostFunction.has_value(), c.function != RowFunction(c.suggested))
        << c.name;
  }
  EXPECT_EQ(tested, 2);  // the two QEMU machines' hosts
}

std::string FirstModuleByte() {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x\n", board::MemoryModuleSpd(0)[0]);
  return text;
}

// The listing's line with a Chipset suggestion: its location and column.
bool SuggestedLine(const std::string& listing, std::string* at, std::string* column) {
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.size() < 29 || line[28] == ' ' || line.compare(0, 2, "BB") == 0) continue;
    *at = line.substr(0, 7);
    *column = line.substr(28, line.find("  ", 28) - 28);
    return true;
  }
  return false;
}

// pci on each kind's board suggests a code that serves that kind (Chipset 2
// for the Chipset 3 board, the two being one), and the driver started from
// the .reg lines pci prints reads the DDR3 module's first byte.
TEST(BoardRoundTrip, EveryKindThroughPciAndTheDriver) {
  const std::string path = ::testing::TempDir() + "omzi2c_round_trip.reg";
  for (int kind = 1; kind <= 10; ++kind) {
    const std::string chipset = std::to_string(kind);
    const ToolRun listing = Tool({"--chipset", chipset, "--smb-service", "off", "pci"});
    ASSERT_EQ(listing.status, 0) << listing.err;
    std::string at, column;
    ASSERT_TRUE(SuggestedLine(listing.out, &at, &column)) << listing.out;
    const board::BoardConfig config = board::ConfigForKind(kind);
    const KnownController* known = FindController(config.vendorId, config.deviceId);
    ASSERT_NE(known, nullptr) << chipset;
    EXPECT_TRUE(known->chipsets & omzi2c::decode::ChipsetBit(kind)) << chipset;
    EXPECT_EQ(known->simulatedOnly, board::SimulatedOnly(config)) << chipset;
    EXPECT_EQ(column, std::to_string(known->suggested)) << chipset;

    std::ofstream(path) << Tool({"--chipset", chipset, "--smb-service", "off", "pci", at}).out;
    const ToolRun read = Tool({"--config", path, "get", "0x50", "0"});
    EXPECT_EQ(read.status, 0) << chipset << read.err;
    EXPECT_EQ(read.out, FirstModuleByte()) << chipset;
  }
  std::remove(path.c_str());
}

// The board of a 100 Series host: pci asks for HostFunction 4 and the
// driver started with it serves the host; info says so.
TEST(BoardRoundTrip, AHostAtFunction4ThroughHostFunction) {
  const std::string path = ::testing::TempDir() + "omzi2c_host_function.reg";
  std::ofstream(path) << "REGEDIT4\n\n"
                         "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\omzi2c\\"
                         "Parameters]\n"
                         "\"ISAPortDriverEnable\"=dword:00000001\n"
                         "\"VID\"=dword:00008086\n\"DID\"=dword:0000a123\n";
  const ToolRun listing = Tool({"--config", path, "pci"});
  EXPECT_TRUE(Contains(listing.out, "00:1f.4  8086:a123  0c0500  2 +HostFunction 4 "))
      << listing.out;
  const std::string lines = Tool({"--config", path, "pci", "00:1f.4"}).out;
  EXPECT_TRUE(Contains(lines, "\"Func\"=dword:00000004\n\"HostFunction\"=dword:00000004\n"))
      << lines;
  std::ofstream(path) << lines;
  EXPECT_EQ(Tool({"--config", path, "get", "0x50", "0"}).out, FirstModuleByte());
  const ToolRun info = Tool({"--config", path, "info"});
  EXPECT_TRUE(Contains(info.out, "parameter HostFunction: 0x00000004\n")) << info.out;
  EXPECT_TRUE(Contains(info.out, "host: PCI 00:1f.4\n")) << info.out;
  std::remove(path.c_str());
}

// A kernel device tree of PCI functions "DD:BB.F VVVV:DDDD CLASS" with
// their configuration headers.
std::string FakePciTree(const std::vector<std::string>& functions) {
  const fs::path root = fs::path(::testing::TempDir()) / "omzi2c_pci_tree";
  fs::remove_all(root);
  for (const std::string& line : functions) {
    unsigned vendor = 0, device = 0, classCode = 0;
    char at[16] = {};
    std::sscanf(line.c_str(), "%15s %4x:%4x %6x", at, &vendor, &device, &classCode);
    const fs::path dir = root / "bus/pci/devices" / (std::string("0000:") + at);
    fs::create_directories(dir);
    const uint32_t dwords[4] = {device << 16 | vendor, 0, classCode << 8, 0};
    std::ofstream(dir / "config", std::ios::binary)
        .write(reinterpret_cast<const char*>(dwords), sizeof dwords);
  }
  return root.string();
}

class NoSession : public SessionSource {
 public:
  Session* Get(int* exitStatus, std::ostream&) override {
    ++asked;
    *exitStatus = kExitFailed;
    return nullptr;
  }
  int asked = 0;
};

// With real ports, configuration space comes from sysfs, and no session
// (and no driver start, which would write to PCI) is needed.
TEST(ToolPci, MarksWhatDiscoveryCannotReachOrDoesNotPick) {
  GlobalOptions options;
  options.board = "ports";
  options.sysfs = FakePciTree({"00:1f.3 8086:2930 0c0500", "00:1e.3 8086:1234 0c0500",
                               "00:14.0 1022:790b 0c0500", "01:00.3 8086:2930 0c0500",
                               "07:00.3 8086:7113 068000", "00:00.0 8086:29c0 060000",
                               "00:1f.0 1234:7113 068000"});
  const struct {
    const char* location;
    const char* text;
  } cases[] = {
      {"00:1f.3", "00:1f.3  8086:2930  0c0500  2 "},
      {"00:1e.3", "  unknown "},
      {"00:14.0", "  not served "},
      {"00:14.0", "0xCD6"},
      {"01:00.3", "[not the one discovery picks: 00:1f.3 has the same IDs]"},
      {"07:00.3", "  4 "},
      {"07:00.3", "[unreachable: discovery looks on buses 0-6 only]"},
      {"00:00.0", "00:00.0  8086:29c0  060000"},
      {"00:1f.0", "00:1f.0  1234:7113  068000"},
  };
  NoSession sessions;
  std::istringstream in;
  std::ostringstream out, err;
  ASSERT_EQ(RunCommand({"pci"}, sessions, options, {in, out, err}), kExitOk) << err.str();
  EXPECT_EQ(sessions.asked, 0);
  for (const auto& c : cases) {
    const size_t start = out.str().find(std::string("\n") + c.location);
    ASSERT_NE(start, std::string::npos) << c.location << "\n" << out.str();
    const std::string line = out.str().substr(start + 1, out.str().find('\n', start + 1) - start);
    EXPECT_TRUE(Contains(line, c.text)) << line;
  }
  for (const char* plain : {"00:00.0", "00:1f.0"}) {  // nothing known: no column, no remark
    const size_t start = out.str().find(std::string("\n") + plain);
    const std::string line = out.str().substr(start + 1, out.str().find('\n', start + 1) - start);
    EXPECT_FALSE(Contains(line, "[")) << line;
  }
  const struct {
    const char* location;
    int status;
    const char* text;
  } regCases[] = {
      {"00:1f.3", kExitOk, "\"Chipset\"=dword:00000002\n"},
      {"00:1e.3", kExitFailed, "not a controller the table knows"},
      {"00:14.0", kExitFailed, "not served"},
      {"00:05.0", kExitFailed, "no PCI function answers at 00:05.0"},
  };
  for (const auto& c : regCases) {
    std::ostringstream regOut, regErr;
    EXPECT_EQ(RunCommand({"pci", c.location}, sessions, options, {in, regOut, regErr}), c.status);
    EXPECT_TRUE(Contains(regOut.str() + regErr.str(), c.text)) << regOut.str() << regErr.str();
  }
  EXPECT_EQ(sessions.asked, 0);
  if (JsonAvailable()) {
    options.json = true;
    std::ostringstream json;
    EXPECT_EQ(RunCommand({"pci"}, sessions, options, {in, json, err}), kExitOk);
    EXPECT_TRUE(Contains(json.str(), "\"chipset\": 2,")) << json.str();
  }
}

}  // namespace

namespace {

// The documentation's tables of supported controllers are the code's table:
// in full in docs/controllers.md, by Chipset in the README.
TEST(ControllerTable, TheDocumentationShowsTheCodesTable) {
  const std::string here = __FILE__;
  const std::string root = here.substr(0, here.rfind('/')) + "/../../";
  const struct {
    const char* file;
    std::string table;
  } pages[] = {{"docs/controllers.md", omzi2c::decode::ControllersMarkdown()},
               {"README.md", omzi2c::decode::ControllersByChipsetMarkdown()}};
  for (const auto& page : pages) {
    std::ifstream file(root + page.file);
    ASSERT_TRUE(file) << page.file << " not found beside the sources";
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    EXPECT_TRUE(Contains(text, page.table)) << page.file << " lacks the table; it reads:\n"
                                            << page.table;
  }
}

}  // namespace
