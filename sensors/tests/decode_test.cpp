// The decoders on register and SPD images, expected values read off the
// JEDEC layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "board/ddr4_module.h"
#include "board/ddr5_module.h"
#include "board/hardware_monitor.h"
#include "decode/chip_tables.h"
#include "decode/spd.h"

namespace omzi2c::decode {
namespace {

using Alarms = std::vector<std::string>;

TEST(DecodeJc42, TemperatureLimitsAndFlags) {
  const struct {
    uint16_t ambient;
    double celsius;
    Alarms alarms;
  } cases[] = {
      {0x0226, 34.375, {}},                  // 550 sixteenths
      {0x3FF0, -1.0, {"low"}},               // 0x1FF0: -16 sixteenths, below-low flag
      {0xC5F0, 95.0, {"high", "critical"}},  // critical and high flags
  };
  for (const auto& c : cases) {
    const std::vector<Reading> r =
        DecodeJc42({0x0057, 0, 0x04B0, 0x1FC0, 0x05F0, c.ambient, 0x4F4D, 0x0201});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_DOUBLE_EQ(*r[0].value, c.celsius);
    EXPECT_EQ(r[0].alarms, c.alarms) << c.ambient;
    EXPECT_DOUBLE_EQ(*r[0].high, 75.0);
    EXPECT_DOUBLE_EQ(*r[0].low, -4.0);
    EXPECT_DOUBLE_EQ(*r[0].critical, 95.0);
  }
  EXPECT_NE(FindTemperatureSensor(0x4F4D, 0x0203), nullptr);  // any revision
  EXPECT_EQ(FindTemperatureSensor(0x4F4D, 0x0301), nullptr);
}

TEST(DecodeMonitor, EveryKindOfInputWithItsLimits) {
  const MonitorFamily& family = MonitorFamilies().at(0);
  std::array<uint8_t, 256> regs{};
  const struct {
    size_t input;
    uint8_t count, low, high, critical;
    std::optional<double> value;
    Alarms alarms;
  } cases[] = {
      {3, 189, 170, 207, 0, 12.096, {}},   // +12V: 64 mV a count
      {0, 60, 67, 82, 0, 0.960, {"low"}},  // Vcore: 16 mV a count
      {5, 0xFE, 0, 70, 85, -2.0, {}},      // CPU: two's complement degrees
      {6, 88, 0, 70, 85, 88.0, {"high", "critical"}},
      {8, 135, 241, 0, 0, 1250.0, {}},               // rpm = 1350000 / (count * 8)
      {10, 0xFF, 241, 0, 0, std::nullopt, {"low"}},  // stopped
  };
  for (const auto& c : cases) {
    const MonitorInput& input = family.inputs.at(c.input);
    regs[input.reg] = c.count;
    const std::initializer_list<std::pair<int, uint8_t>> limits = {
        {input.low, c.low}, {input.high, c.high}, {input.critical, c.critical}};
    for (auto [reg, value] : limits) {
      if (reg != kNoRegister) regs[static_cast<size_t>(reg)] = value;
    }
    const Reading r = DecodeMonitorInput(family, input, regs);
    ASSERT_EQ(r.value.has_value(), c.value.has_value()) << input.label;
    if (c.value) {
      EXPECT_NEAR(*r.value, *c.value, 1e-9) << input.label;
    }
    EXPECT_EQ(r.alarms, c.alarms) << input.label;
  }
}

TEST(DecodeSpd, Ddr3AndDdr4ModulesAndTheirCrc) {
  std::vector<uint8_t> image;
  for (uint8_t byte : board::MemoryModuleSpd(0))
    image.push_back(byte);
  std::vector<uint8_t> slower = image;
  slower[4] = 0x02;   // 1 Gb dies
  slower[7] = 0x02;   // one rank of x16 devices
  slower[12] = 0x0C;  // tCK 1.5 ns
  slower[0] = 0x12;   // CRC over 0-125
  const struct {
    std::vector<uint8_t> bytes;
    uint64_t mb;
    std::string grade, pc;
    std::vector<unsigned> clocks;  // tAA, tRCD, tRP, tRAS
    std::string crcBytes;
    bool crcOk;
  } cases[] = {
      {image, 4096, "DDR3-1600", "PC3-12800", {11, 11, 11, 28}, "0-116", true},
      {slower, 512, "DDR3-1333", "PC3-10600", {9, 9, 9, 24}, "0-125", false},
  };
  for (const auto& c : cases) {
    const SpdModule m = DecodeSpd(c.bytes);
    EXPECT_TRUE(m.decoded);
    EXPECT_EQ(m.type, "DDR3 SDRAM");
    EXPECT_EQ(m.moduleType, "UDIMM");
    EXPECT_EQ(m.capacityMb, c.mb);
    EXPECT_EQ(m.speedGrade, c.grade);
    EXPECT_EQ(m.pcName, c.pc);
    EXPECT_EQ(m.casLatencies, (std::vector<unsigned>{5, 6, 7, 8, 9, 10, 11}));
    for (size_t i = 0; i < c.clocks.size(); ++i)
      EXPECT_EQ(m.timings.at(i).clocks, c.clocks[i]) << c.grade << " " << m.timings[i].name;
    EXPECT_DOUBLE_EQ(m.timings.at(0).ns, 13.125);
    EXPECT_EQ(m.volts, std::vector<double>{1.5});
    EXPECT_EQ(m.manufacturer, "Micron Technology");
    EXPECT_EQ(m.part, "OMZ3U1600C11-4G");
    EXPECT_EQ(m.serial, 0x1A2B3C00u);
    EXPECT_EQ(m.year, 2015u);
    EXPECT_EQ(m.week, 32u);
    ASSERT_EQ(m.crcs.size(), 1u);
    EXPECT_EQ(m.crcs[0].bytes, c.crcBytes);
    EXPECT_EQ(m.crcs[0].Ok(), c.crcOk);
  }
  std::vector<uint8_t> ddr4;
  for (uint8_t byte : board::Ddr4ModuleSpd())
    ddr4.push_back(byte);
  for (bool corrupt : {false, true}) {
    ddr4[130] ^= corrupt ? 0x01 : 0x00;  // in the module section
    const SpdModule m = DecodeSpd(ddr4);
    EXPECT_EQ(m.capacityMb, 8192u);  // 8 Gb / 8 * 64 / 8 * 1 rank
    EXPECT_EQ(m.pcName, "PC4-19200");
    EXPECT_DOUBLE_EQ(m.tckNs, 0.833);  // 7 * 0.125 - 0.042
    EXPECT_EQ(m.casLatencies, (std::vector<unsigned>{9, 10, 11, 12, 13, 14, 15, 16, 17, 18}));
    EXPECT_EQ(m.timings.at(0).clocks, 17u);  // tAA 13.75 ns
    EXPECT_TRUE(m.thermalSensor);
    EXPECT_EQ(m.manufacturer, "Samsung");
    EXPECT_EQ(m.part, "OMZ4U2400C17-8G");
    ASSERT_EQ(m.crcs.size(), 2u);
    EXPECT_TRUE(m.crcs[0].Ok());
    EXPECT_EQ(m.crcs[1].Ok(), !corrupt) << m.crcs[1].bytes;
  }
  std::vector<uint8_t> ddr5(256, 0);
  ddr5[2] = 0x12;
  EXPECT_EQ(DecodeSpd(ddr5).type, "DDR5 SDRAM");
  EXPECT_FALSE(DecodeSpd(ddr5).decoded);
}

template <size_t N>
std::vector<uint8_t> Bytes(const std::array<uint8_t, N>& bytes) {
  return {bytes.begin(), bytes.end()};
}

std::vector<uint8_t> Image(bool ddr4) {
  return ddr4 ? Bytes(board::Ddr4ModuleSpd()) : Bytes(board::MemoryModuleSpd(0));
}

// tCK is the medium-timebase count (DDR3 byte 12, DDR4 byte 18, 1/8 ns here)
// plus its signed fine offset (byte 34, byte 125, 1 ps here): the JEDEC
// grades' 2.5, 1.875, 1.5, 1.25, 1.071, 0.938, 0.833, 0.75, 0.682 and
// 0.625 ns, either rounding of 0.9375 and 0.6818 ns, and rates of no grade.
TEST(DecodeSpd, EveryJedecGradeFromItsStoredTck) {
  const struct {
    bool ddr4;
    uint8_t medium, fine;
    std::string grade, pc;  // empty: invalid
  } cases[] = {
      {false, 0x14, 0x00, "DDR3-800", "PC3-6400"},
      {false, 0x0F, 0x00, "DDR3-1066", "PC3-8500"},
      {false, 0x0C, 0x00, "DDR3-1333", "PC3-10600"},
      {false, 0x0A, 0x00, "DDR3-1600", "PC3-12800"},
      {false, 0x09, 0xCA, "DDR3-1866", "PC3-14900"},
      {false, 0x08, 0xC2, "DDR3-2133", "PC3-17000"},
      {false, 0x08, 0x00, "DDR3-2000", "PC3-16000"},
      {true, 0x0A, 0x00, "DDR4-1600", "PC4-12800"},
      {true, 0x09, 0xCA, "DDR4-1866", "PC4-14900"},
      {true, 0x08, 0xC2, "DDR4-2133", "PC4-17000"},
      {true, 0x08, 0xC1, "DDR4-2133", "PC4-17000"},
      {true, 0x07, 0xD6, "DDR4-2400", "PC4-19200"},
      {true, 0x06, 0x00, "DDR4-2666", "PC4-21300"},
      {true, 0x06, 0xBC, "DDR4-2933", "PC4-23466"},
      {true, 0x06, 0xBD, "DDR4-2933", "PC4-23466"},
      {true, 0x05, 0x00, "DDR4-3200", "PC4-25600"},
      {true, 0x07, 0x19, "DDR4-2222", "PC4-17700"},
      {true, 0x00, 0x01, "DDR4-2000000", "PC4-16000000"},
      {true, 0x00, 0x00, "", ""},
      {true, 0x00, 0xFF, "", ""},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> image = Image(c.ddr4);
    image[c.ddr4 ? 18 : 12] = c.medium;
    image[c.ddr4 ? 125 : 34] = c.fine;
    const SpdModule m = DecodeSpd(image);
    const std::string row = std::to_string(c.medium) + "/" + std::to_string(c.fine);
    EXPECT_EQ(m.speed.has_value(), !c.grade.empty()) << row;
    EXPECT_EQ(m.speedGrade, c.grade) << row;
    EXPECT_EQ(m.pcName, c.pc) << row;
  }
  // DDR5 keeps tCK in ps (bytes 20-21): the grades' 0.625, 0.555, 0.5,
  // 0.454, 0.416, 0.384, 0.357, 0.333 and 0.312 ns, 313 ps within the
  // rounding of 6400's 312.5, and none without a clock.
  const struct {
    uint16_t ps;
    std::string grade, pc;
  } ddr5Cases[] = {
      {625, "DDR5-3200", "PC5-25600"},
      {555, "DDR5-3600", "PC5-28800"},
      {500, "DDR5-4000", "PC5-32000"},
      {454, "DDR5-4400", "PC5-35200"},
      {416, "DDR5-4800", "PC5-38400"},
      {384, "DDR5-5200", "PC5-41600"},
      {357, "DDR5-5600", "PC5-44800"},
      {333, "DDR5-6000", "PC5-48000"},
      {312, "DDR5-6400", "PC5-51200"},
      {313, "DDR5-6400", "PC5-51200"},
      {0, "", ""},
  };
  const auto ddr5 = board::Ddr5ModuleSpd();
  for (const auto& c : ddr5Cases) {
    std::vector<uint8_t> image(ddr5.begin(), ddr5.end());
    image[20] = static_cast<uint8_t>(c.ps);
    image[21] = static_cast<uint8_t>(c.ps >> 8);
    const SpdModule m = DecodeSpd(image);
    EXPECT_EQ(m.speed.has_value(), !c.grade.empty()) << c.ps;
    EXPECT_EQ(m.speedGrade, c.grade) << c.ps;
    EXPECT_EQ(m.pcName, c.pc) << c.ps;
  }
}

// Each timing with a fine offset, the medium count and the offset set on
// their own: ns = count * 0.125 + offset * 0.001 (tRC: plus its upper nibble,
// 1 on both images, of byte 21 or 27). A negative time has no clock count.
TEST(DecodeSpd, EveryFineOffsetCounts) {
  const struct {
    bool ddr4;
    size_t mediumAt;
    uint8_t medium;
    size_t fineAt;
    uint8_t fine;
    std::string name;
    double ns;
  } cases[] = {
      {false, 12, 0x0A, 34, 0xF6, "tCK", 1.240},     {false, 16, 0x69, 35, 0xF6, "tAA", 13.115},
      {false, 18, 0x69, 36, 0x0A, "tRCD", 13.135},   {false, 20, 0x69, 37, 0xC5, "tRP", 13.066},
      {false, 23, 0x81, 38, 0xF6, "tRC", 48.115},    {true, 18, 0x07, 125, 0xD6, "tCK", 0.833},
      {true, 19, 0x0C, 124, 0xF6, "tCK max", 1.490}, {true, 24, 0x6E, 123, 0xF6, "tAA", 13.740},
      {true, 25, 0x6E, 122, 0x0A, "tRCD", 13.760},   {true, 26, 0x6E, 121, 0xC5, "tRP", 13.691},
      {true, 29, 0x6E, 120, 0xF6, "tRC", 45.740},    {true, 38, 0x1B, 119, 0xF6, "tRRD_S", 3.365},
      {true, 39, 0x28, 118, 0xE7, "tRRD_L", 4.975},  {true, 40, 0x28, 117, 0x9C, "tCCD_L", 4.900},
      {true, 24, 0x00, 123, 0x80, "tAA", -0.128},    {false, 20, 0x00, 37, 0xFF, "tRP", -0.001},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> image = Image(c.ddr4);
    image[c.ddr4 ? 125 : 34] = 0;  // tCK without its offset, unless the row sets it
    image[c.mediumAt] = c.medium;
    image[c.fineAt] = c.fine;
    const SpdModule m = DecodeSpd(image);
    std::optional<double> ns = c.name == "tCK" ? m.tckNs : m.tckMaxNs;
    for (const SpdTiming& t : m.timings) {
      if (t.name != c.name) continue;
      ns = t.ns;
      EXPECT_EQ(t.clocks.has_value(), c.ns >= 0) << c.name << " " << c.ns;
    }
    ASSERT_TRUE(ns.has_value()) << c.name;
    EXPECT_NEAR(*ns, c.ns, 1e-9) << (c.ddr4 ? "DDR4 " : "DDR3 ") << c.name;
  }
}

// DDR3 timebases 6/161 ns and 13/15 ps: one count less 43 fine units is a
// tCK of 0.4 fs, a rate past any count, as tRFC's 65535 counts (2.4 us) are
// in clocks; tAA's 105 counts are 9.4 million clocks.
TEST(DecodeSpd, HostileBytesDecodeAsInvalid) {
  std::vector<uint8_t> ddr3 = Image(false);
  const std::pair<size_t, uint8_t> tiny[] = {{9, 0xDF},  {10, 6},    {11, 161},  {12, 1},
                                             {34, 0xD5}, {24, 0xFF}, {25, 0xFF}, {122, 0xFF}};
  for (auto [at, value] : tiny)
    ddr3[at] = value;
  const SpdModule m = DecodeSpd(ddr3);
  EXPECT_GT(m.tckNs, 0);
  EXPECT_EQ(m.speed, std::nullopt);
  EXPECT_TRUE(m.timings.at(0).clocks.has_value());
  EXPECT_EQ(m.timings.at(7).name, std::string("tRFC"));
  EXPECT_EQ(m.timings.at(7).clocks, std::nullopt);
  EXPECT_EQ(m.serial >> 24, 0xFFu);  // no shift into a sign bit
}

// What DDR3 and DDR4 modules give beyond the main decode, read off the
// layouts: SPD revision (byte 1), DRAM maker (DDR3 148-149, DDR4 350-351),
// site (DDR3 119, DDR4 322), DDR4 tRFC2/4 (32-35) and tWTR_S/L (43-45, 125 ps
// units), and tCL-tRCD-tRP-tRAS in clocks.
TEST(DecodeSpd, Ddr3AndDdr4Additions) {
  std::vector<uint8_t> ddr3, ddr4;
  for (uint8_t byte : board::MemoryModuleSpd(0))
    ddr3.push_back(byte);
  for (uint8_t byte : board::Ddr4ModuleSpd())
    ddr4.push_back(byte);
  using Changes = std::vector<std::pair<size_t, uint8_t>>;
  using Timings = std::vector<std::pair<std::string, double>>;  // the last ones, in order
  const Changes ddr4Times = {{32, 0x20}, {33, 0x08}, {34, 0x00}, {35, 0x05},
                             {43, 0x00}, {44, 0x14}, {45, 0x3C}};
  const struct {
    const char* what;
    const std::vector<uint8_t>& bytes;
    Changes changes;
    std::string revision, dramMaker, summary;
    uint8_t site;
    Timings timings;
  } cases[] = {
      {"DDR3",
       ddr3,
       {{1, 0x12}, {119, 0x07}, {148, 0x80}, {149, 0x2C}},
       "1.2",
       "Micron Technology",
       "11-11-11-28",
       0x07,
       {}},
      {"DDR3 without DRAM maker",
       ddr3,
       {{1, 0x10}, {119, 0x00}, {149, 0x00}},
       "1.0",
       "",
       "11-11-11-28",
       0x00,
       {}},
      {"DDR4",
       ddr4,
       ddr4Times,
       "1.1",
       "",
       "17-17-17-39",
       0x01,
       {{"tRFC2", 260.0}, {"tRFC4", 160.0}, {"tWTR_S", 2.5}, {"tWTR_L", 7.5}}},
      {"DDR4 upper nibbles of tWTR",
       ddr4,
       {{43, 0x21}, {322, 0x05}, {350, 0x80}, {351, 0xAD}},
       "1.1",
       "SK Hynix",
       "17-17-17-39",
       0x05,
       {{"tWTR_S", 34.5}, {"tWTR_L", 71.5}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = c.bytes;
    for (auto [at, value] : c.changes)
      bytes[at] = value;
    const SpdModule m = DecodeSpd(bytes);
    EXPECT_EQ(m.spdRevision, c.revision);
    EXPECT_EQ(m.dramMaker, c.dramMaker);
    EXPECT_EQ(m.dramMakerBank, c.dramMaker.empty() ? 0u : 1u);
    EXPECT_EQ(m.location, std::optional<uint8_t>(c.site));
    EXPECT_EQ(m.timingSummary, c.summary);
    Timings last;
    for (size_t i = m.timings.size() - std::min(m.timings.size(), c.timings.size());
         i < m.timings.size(); ++i)
      last.push_back({m.timings[i].name, m.timings[i].ns});
    EXPECT_EQ(last, c.timings);
  }
  // At tCK 0.833 ns: tRFC2 (260 ns) takes 313 clocks, tWTR_L (7.5 ns) 9.
  std::map<std::string, std::optional<unsigned>> clocks;
  for (const SpdTiming& t : DecodeSpd(ddr4).timings)
    clocks[t.name] = t.clocks;
  EXPECT_EQ(clocks["tRFC2"], 313u);
  EXPECT_EQ(clocks["tWTR_L"], 9u);
}

// The board's DDR5 image and variants of it; clock counts by JEDEC's DDR5
// rounding, (t * 997 / tCK + 1000) / 1000 in ps.
TEST(DecodeSpd, Ddr5ModuleGradesGeometryAndCrc) {
  std::vector<uint8_t> image;
  for (uint8_t byte : board::Ddr5ModuleSpd())
    image.push_back(byte);
  using Changes = std::vector<std::pair<size_t, uint8_t>>;
  const struct {
    const char* what;
    Changes changes;
    uint64_t mb;
    unsigned ranks, width;
    std::string grade, pc;
    std::vector<unsigned> clocks;  // tAA .. tRFCsb; empty: not checked
    bool crcOk;
  } cases[] = {
      {"as made",
       {},
       32768,
       2,
       8,
       "DDR5-4800",
       "PC5-38400",
       {39, 39, 39, 77, 116, 72, 708, 384, 312},
       true},
      {"tCK 417 ps: still the 4800 grade",
       {{20, 0xA1}},
       32768,
       2,
       8,
       "DDR5-4800",
       "PC5-38400",
       {39},
       false},
      {"tCK 400 ps: no grade", {{20, 0x90}}, 32768, 2, 8, "DDR5-5000", "PC5-40000", {40}, false},
      {"tCK 312 ps", {{20, 0x38}}, 32768, 2, 8, "DDR5-6400", "PC5-51200", {52}, false},
      {"one rank of x16",
       {{234, 0x00}, {6, 0x40}},
       8192,
       1,
       16,
       "DDR5-4800",
       "PC5-38400",
       {},
       false},
      {"maker's bytes outside the CRC",
       {{600, 0x55}},
       32768,
       2,
       8,
       "DDR5-4800",
       "PC5-38400",
       {},
       true},
  };
  const char* const names[] = {"tAA", "tRCD",  "tRP",   "tRAS",  "tRC",
                               "tWR", "tRFC1", "tRFC2", "tRFCsb"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = image;
    for (auto [at, value] : c.changes)
      bytes[at] = value;
    const SpdModule m = DecodeSpd(bytes);
    ASSERT_TRUE(m.decoded);
    EXPECT_EQ(m.spdRevision, "1.0");
    EXPECT_EQ(m.moduleType, "UDIMM");
    EXPECT_EQ(m.capacityMb, c.mb);
    EXPECT_EQ(m.ranks, c.ranks);
    EXPECT_EQ(m.deviceWidth, c.width);
    EXPECT_EQ(m.subChannels, 2u);
    EXPECT_EQ(m.speedGrade, c.grade);
    EXPECT_EQ(m.pcName, c.pc);
    EXPECT_EQ(m.casLatencies, (std::vector<unsigned>{22, 24, 26, 28, 30, 32, 34, 36, 38, 40}));
    ASSERT_EQ(m.timings.size(), 9u);
    for (size_t i = 0; i < c.clocks.size(); ++i) {
      EXPECT_EQ(m.timings[i].name, std::string(names[i]));
      EXPECT_EQ(m.timings[i].clocks, c.clocks[i]) << names[i];
    }
    EXPECT_DOUBLE_EQ(m.timings[0].ns, 16.0);
    EXPECT_DOUBLE_EQ(m.timings[6].ns, 295.0);  // tRFC1, kept in ns
    EXPECT_EQ(m.volts, (std::vector<double>{1.1, 1.1, 1.8}));
    EXPECT_EQ(m.voltNames, (std::vector<std::string>{"VDD", "VDDQ", "VPP"}));
    EXPECT_EQ(m.manufacturer, "SK Hynix");
    EXPECT_EQ(m.dramMaker, "Samsung");
    EXPECT_EQ(m.location, std::optional<uint8_t>(3));
    EXPECT_EQ(m.part, "OMZ5U4800C40-32G");
    EXPECT_EQ(m.serial, 0x5E0DD501u);
    EXPECT_EQ(m.year, 2024u);
    EXPECT_EQ(m.week, 15u);
    ASSERT_EQ(m.crcs.size(), 1u);
    EXPECT_EQ(m.crcs[0].bytes, "0-509");
    EXPECT_EQ(m.crcs[0].stored, bytes[510] | bytes[511] << 8);
    EXPECT_EQ(m.crcs[0].Ok(), c.crcOk);
  }
}

}  // namespace
}  // namespace omzi2c::decode
