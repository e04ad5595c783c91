// The sensors and spd commands on the simulated board, on every Chipset kind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
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

// LC_ALL, LC_CTYPE (cleared) and LANG for one scope; "" counts as unset.
class Locale {
 public:
  Locale(const char* lcAll, const char* lang) {
    for (const char* name : kNames)
      saved_.push_back(std::getenv(name) ? std::getenv(name) : "");
    Set({lcAll, "", lang});
  }
  ~Locale() { Set(saved_); }

 private:
  static constexpr const char* kNames[] = {"LC_ALL", "LC_CTYPE", "LANG"};
  static void Set(const std::vector<std::string>& values) {
    for (size_t i = 0; i < values.size(); ++i)
      setenv(kNames[i], values[i].c_str(), 1);
  }
  std::vector<std::string> saved_;
};

// The sensors in lm-sensors' layout: labels padded to 13, values %+6.1f
// and %+6.2f, limits two to a parenthesis, the second line indented by 23.
TEST(ToolDecode, SensorsAndSpdOnEveryChipset) {
  const Locale ascii("C", "");
  const std::vector<std::string> sensorsShows = {
      "jc42-i2c-0-18\nAdapter: SMBus ",
      "temp1:        +34.4 C  (low  =  +0.0 C, high = +75.0 C)\n"
      "                       (crit = +95.0 C)\n",
      "+12V:        +12.10 V  (min = +10.88 V, max = +13.25 V)\n",
      "CPU Temp:     +38.0 C  (high = +70.0 C, crit = +85.0 C)\n",
      "CPU Fan:     1250 RPM  (min =  700 RPM)\n",
      "Aux Fan:        0 RPM  (min =  700 RPM)  ALARM\n",
      "spd5118-i2c-0-55\nAdapter: SMBus ",
      "temp1:        +36.5 C  (low  =  +0.0 C, high = +55.0 C)\n"
      "                       (crit low =  +0.0 C, crit = +85.0 C)\n"};
  const std::vector<std::string> spdShows = {"Capacity:           4 GB",
                                             "DDR3-1600 (PC3-12800)",
                                             "tAA:                13.125 ns (11 clocks)",
                                             "Part number:        OMZ3U1600C11-4G",
                                             "CRC of 0-116:       ok",
                                             "Capacity:           8 GB",
                                             "DDR4-2400 (PC4-19200)",
                                             "CRC of 128-253:     ok",
                                             "Capacity:           32 GB (2 ranks of x8 devices, "
                                             "16 Gb dies, 64-bit bus in 2 sub-channels)",
                                             "Speed grade:        DDR5-4800 (PC5-38400)",
                                             "tRFC1:              295.000 ns (708 clocks)",
                                             "Part number:        OMZ5U4800C40-32G",
                                             "CRC of 0-509:       ok"};
  const char* const hosts[] = {"start-port",  "byte-done",          "byte-done",    "paced-poll",
                               "paced-poll",  "paced-poll",         "chunk-buffer", "dual-status",
                               "dual-status", "embedded-controller"};
  for (int kind = 1; kind <= kChipsetKinds; ++kind) {
    const std::string chipset = std::to_string(kind);
    const ToolRun sensors = Tool({"--chipset", chipset, "sensors"});
    const ToolRun spd = Tool({"--chipset", chipset, "spd", "0x50", "0x54", "0x55"});
    ASSERT_EQ(sensors.status + spd.status, 0) << chipset << sensors.err << spd.err;
    const std::string adapter = std::string("Adapter: SMBus ") + hosts[kind - 1] + " host at ";
    EXPECT_TRUE(Contains(sensors.out, adapter)) << chipset << "\n" << sensors.out;
    for (const std::string& part : sensorsShows)
      EXPECT_TRUE(Contains(sensors.out, part)) << chipset << ": " << part << "\n" << sensors.out;
    for (const std::string& part : spdShows)
      EXPECT_TRUE(Contains(spd.out, part)) << chipset << ": " << part << "\n" << spd.out;
  }
  // A byte under each CRC changed; the hub's high limit set to 30 C (120
  // quarters in bits 12:2), then its sensor switched off.
  const ToolRun changed = Tool({"shell"},
                               "set 0x50 0x10 0x6a\nspd 0x50\nset 0x55 0x8a 0x01\nspd 0x55\n"
                               "set 0x55 0x1c 0x01e0 w\nsensors\nset 0x55 0x1a 1\nsensors\n");
  for (const char* part :
       {"CRC of 0-116:       BAD (stored 0x", "CRC of 0-509:       BAD (stored 0x",
        "temp1:        +36.5 C  (low  =  +0.0 C, high = +30.0 C)  ALARM (HIGH)\n",
        "temp1:            N/A  (low  =  +0.0 C, high = +30.0 C)"})
    EXPECT_TRUE(Contains(changed.out, part)) << part << "\n" << changed.out;
}

TEST(ToolDecode, DegreeSignFollowsTheLocale) {
  const struct {
    const char* lcAll;
    const char* lang;
    const char* shows;
  } cases[] = {{"C", "en_US.UTF-8", "+34.4 C  "},  // LC_ALL comes first
               {"", "en_US.UTF-8", "+34.4\u00B0C  "},
               {"de_DE.utf8", "", "+34.4\u00B0C  "},
               {"", "", "+34.4 C  "}};
  for (const auto& c : cases) {
    const Locale locale(c.lcAll, c.lang);
    const ToolRun run = Tool({"sensors"});
    EXPECT_TRUE(Contains(run.out, c.shows)) << c.shows << "\n" << run.out;
  }
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
// (0x0c), spd writes its page selects, 0x37 (0x6e) then 0x36 (0x6c); as
// anything else, the module is no DDR4 module and nothing is written. sensors
// reads modules' hubs only: no write, whatever the modules are.
TEST(ToolDecode, ScansWriteOnlyThePageSelectsOfADdr4Module) {
  const struct {
    std::string commands;
    std::vector<std::string> writes;
    std::string shows;
  } cases[] = {
      {"set 0x54 2 0x0c\nsensors\n", {}, "spd5118-i2c-0-55"},
      {"set 0x54 2 0xff\nsensors\n", {}, "jc42-i2c-0-18"},
      {"set 0x54 2 0x0c\nspd 0x54\n", {"6e", "6c"}, "Speed grade:        DDR4-2400 (PC4-19200)"},
      {"set 0x54 2 0xff\nspd 0x54\n", {}, "Memory type:        unknown (0xff)"},
      {"set 0x54 2 0x0b\nspd 0x54\n", {}, "Memory type:        DDR3 SDRAM"},
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

// sensors --json in the shape of lm-sensors' sensors -j: chips by name with
// their adapter, features by label, subfeatures by hwmon name, alarms 0 or 1.
TEST(ToolDecode, JsonCarriesTheValuesTheTextShows) {
  const auto doc = nlohmann::json::parse(Tool({"--json", "sensors"}).out);
  ASSERT_EQ(doc.size(), 3u);
  for (const auto& [name, chip] : doc.items()) {
    EXPECT_EQ(chip.at("Adapter"), "SMBus byte-done host at 0400") << name;
  }
  const struct {
    const char* chip;
    const char* feature;
    const char* subfeature;
    double value;
  } values[] = {
      {"jc42-i2c-0-18", "temp1", "temp1_input", 34.375},  // 0x0226: 550 sixteenths
      {"jc42-i2c-0-18", "temp1", "temp1_max", 75.0},
      {"jc42-i2c-0-18", "temp1", "temp1_min", 0.0},
      {"jc42-i2c-0-18", "temp1", "temp1_crit", 95.0},
      {"jc42-i2c-0-18", "temp1", "temp1_max_alarm", 0.0},
      {"spd5118-i2c-0-55", "temp1", "temp1_input", 36.5},
      {"spd5118-i2c-0-55", "temp1", "temp1_lcrit", 0.0},
      {"spd5118-i2c-0-55", "temp1", "temp1_crit", 85.0},
      {"spd5118-i2c-0-55", "temp1", "temp1_lcrit_alarm", 0.0},
      {"omzmon-i2c-0-2e", "Vcore", "in0_input", 1.2},
      {"omzmon-i2c-0-2e", "+12V", "in3_input", 12.096},  // 189 counts of 64 mV
      {"omzmon-i2c-0-2e", "CPU Temp", "temp1_input", 38.0},
      {"omzmon-i2c-0-2e", "CPU Fan", "fan1_input", 1250.0},
      {"omzmon-i2c-0-2e", "Aux Fan", "fan3_input", 0.0},  // stopped
      {"omzmon-i2c-0-2e", "Aux Fan", "fan3_alarm", 1.0},
  };
  for (const auto& v : values) {
    EXPECT_NEAR(doc.at(v.chip).at(v.feature).at(v.subfeature).get<double>(), v.value, 1e-9)
        << v.chip << " " << v.subfeature;
  }
  const ToolRun spd = Tool({"spd"});
  const auto modules = nlohmann::json::parse(Tool({"--json", "spd"}).out).at("modules");
  ASSERT_EQ(modules.size(), 6u);
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
