// The sensors and spd commands on the simulated board, on every Chipset kind.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#ifdef OMZI2C_HAVE_JSON
#include <nlohmann/json.hpp>
#endif

#include "support/tool_runs.h"
#include "tools/format.h"

namespace omzi2c::tool {
namespace {

using test_support::Contains;
using test_support::ExpectRuns;
using test_support::Tool;
using test_support::ToolRun;

constexpr int kChipsetKinds = 10;

TEST(ToolDecode, SensorsAndSpdOnEveryChipset) {
  const std::vector<std::string> sensorsShows = {
      "jc42-0x18",
      "temp1:        +34.4 C",
      "high = +75.0 C",
      "+12V:         +12.10 V",
      "CPU Temp:     +38.0 C",
      "CPU Fan:      1250 RPM",
      "Aux Fan:      stopped",
      "0x50: DDR3 SDRAM UDIMM, 4 GB, DDR3-1600, OMZ3U1600C11-4G",
      "0x54: DDR4 SDRAM UDIMM, 8 GB, DDR4-2400, OMZ4U2400C17-8G"};
  const std::vector<std::string> spdShows = {"Capacity:           4 GB",
                                             "DDR3-1600 (PC3-12800)",
                                             "tAA:                13.125 ns (11 clocks)",
                                             "Part number:        OMZ3U1600C11-4G",
                                             "CRC of 0-116:       ok",
                                             "Capacity:           8 GB",
                                             "DDR4-2400 (PC4-19200)",
                                             "CRC of 128-253:     ok"};
  for (int kind = 1; kind <= kChipsetKinds; ++kind) {
    const std::string chipset = std::to_string(kind);
    const ToolRun sensors = Tool({"--chipset", chipset, "sensors"});
    const ToolRun spd = Tool({"--chipset", chipset, "spd", "0x50", "0x54"});
    ASSERT_EQ(sensors.status + spd.status, 0) << chipset << sensors.err << spd.err;
    for (const std::string& part : sensorsShows)
      EXPECT_TRUE(Contains(sensors.out, part)) << chipset << ": " << part << "\n" << sensors.out;
    for (const std::string& part : spdShows)
      EXPECT_TRUE(Contains(spd.out, part)) << chipset << ": " << part << "\n" << spd.out;
  }
  const ToolRun corrupted = Tool({"shell"}, "set 0x50 0x10 0x6a\nspd 0x50\n");
  EXPECT_TRUE(Contains(corrupted.out, "CRC of 0-116:       BAD (stored 0x")) << corrupted.out;
}

TEST(ToolDecode, SkippedChipsFailingBusAndArguments) {
  ExpectRuns({
      {{"--fault", "nak@3", "sensors"}, 0, "Note: chip 0x18 stopped answering; skipped", ""},
      {{"--fault", "failed@3", "sensors"}, 2, "sensors stopped", "", "jc42"},
      {{"--fault", "failed@40", "spd"}, 2, "spd stopped", "", "Module at"},
      {{"spd", "0x57"}, 2, "no module answers at 0x57", ""},
      {{"--fault", "nak", "spd"}, 2, "no memory module answers at 0x50-0x57", ""},
      {{"spd", "0x60"}, 1, "memory modules sit at 0x50-0x57", ""},
      {{"sensors", "0x18"}, 1, "sensors takes no arguments", ""},
      {{"--json", "detect"}, 1, "--json applies to sensors, spd and pci only", ""},
  });
}

// The address bytes of the SMBus writes (read bit clear) sent to the
// Chipset 2 host's address register after the first request's completion.
std::vector<std::string> WritesAfterFirstRequest(const std::string& trace) {
  const std::regex write("trace out8 0x0404 0x([0-9a-f][02468ace])\n");
  std::vector<std::string> writes;
  const std::string after = trace.substr(trace.find("trace done"));
  for (std::sregex_iterator it(after.begin(), after.end(), write), end; it != end; ++it)
    writes.push_back((*it)[1]);
  return writes;
}

// The type byte of the board's DDR4 module at 0x54 set first: left DDR4
// (0x0c), the scans write its page selects, 0x37 (0x6e) then 0x36 (0x6c);
// as anything else, the module is no DDR4 module and nothing is written.
TEST(ToolDecode, ScansWriteOnlyThePageSelectsOfADdr4Module) {
  const struct {
    std::string commands;
    std::vector<std::string> writes;
    std::string shows;
  } cases[] = {
      {"set 0x54 2 0x0c\nsensors\n", {"6e", "6c"}, "0x54: DDR4 SDRAM UDIMM, 8 GB, DDR4-2400"},
      {"set 0x54 2 0xff\nsensors\n", {}, "0x54: unknown memory type 0xff, not decoded"},
      {"set 0x54 2 0x0b\nsensors\n", {}, "0x54: DDR3 SDRAM"},
      {"set 0x54 2 0x0c\nspd 0x54\n", {"6e", "6c"}, "Speed grade:        DDR4-2400 (PC4-19200)"},
      {"set 0x54 2 0xff\nspd 0x54\n", {}, "Memory type:        unknown (0xff)"},
  };
  for (const auto& c : cases) {
    const ToolRun run = Tool({"--trace", "shell"}, c.commands);
    ASSERT_EQ(run.status, 0) << c.commands << run.err;
    EXPECT_EQ(WritesAfterFirstRequest(run.err), c.writes) << c.commands;
    EXPECT_TRUE(Contains(run.out, c.shows)) << c.commands << run.out;
  }
}

#ifdef OMZI2C_HAVE_JSON
// A JSON number as the text shows it.
std::string Shown(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

TEST(ToolDecode, JsonCarriesTheValuesTheTextShows) {
  const ToolRun text = Tool({"sensors"});
  const auto doc = nlohmann::json::parse(Tool({"--json", "sensors"}).out);
  size_t readings = 0;
  for (const auto& chip : doc.at("chips")) {
    for (const auto& r : chip.at("readings")) {
      const std::string unit = r.at("unit"), label = r.at("label");
      const char* format = unit == "volt" ? "%+.2f V" : unit == "rpm" ? "%.0f RPM" : "%+.1f C";
      std::string line = label + ":";
      line.resize(14, ' ');
      line += r.at("stopped") ? "stopped" : Shown(format, r.at("value"));
      EXPECT_TRUE(Contains(text.out, line)) << line;
      ++readings;
    }
  }
  EXPECT_EQ(readings, 12u);  // the sensor's temperature, the monitor's 11 inputs
  const ToolRun spd = Tool({"spd"});
  const auto modules = nlohmann::json::parse(Tool({"--json", "spd"}).out).at("modules");
  ASSERT_EQ(modules.size(), 5u);
  for (const auto& m : modules) {
    const std::string at = Hex2(m.at("address"));
    EXPECT_TRUE(Contains(spd.out, "Module at " + at + "\n  Memory type:        " +
                                      m.at("memory_type").get<std::string>()));
    for (const char* field : {"part_number", "speed_grade"})
      EXPECT_TRUE(Contains(spd.out, m.at(field).get<std::string>())) << at << field;
    EXPECT_TRUE(Contains(spd.out, Shown("%.3f ns", m.at("tck_ns")))) << at;
    for (const auto& t : m.at("timings")) {
      const std::string shown =
          Shown("%.3f ns (", t.at("ns")) + std::to_string(int(t.at("clocks")));
      EXPECT_TRUE(Contains(spd.out, shown)) << at << t.at("name");
    }
    for (const auto& crc : m.at("crc"))
      EXPECT_TRUE(Contains(spd.out, Hex4(crc.at("stored")))) << at;
  }
}
#endif

}  // namespace
}  // namespace omzi2c::tool
