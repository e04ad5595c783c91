// The sensors and spd commands on the simulated board, on every Chipset kind.
#include <gtest/gtest.h>

#include <cstdio>

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
