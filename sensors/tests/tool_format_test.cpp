// The tool's number parsing and its i2c-tools style tables.
#include <gtest/gtest.h>

#include "tools/trace_printer.h"
#include "tools/format.h"

namespace {

using namespace omzi2c::tool;

TEST(ToolParse, NumbersInDecimalOrHexWithinRange) {
  EXPECT_EQ(ParseNumber("80", 0xFF), 80u);
  EXPECT_EQ(ParseNumber("0x50", 0x7F), 0x50u);
  EXPECT_EQ(ParseNumber("0XfF", 0xFF), 0xFFu);
  EXPECT_EQ(ParseNumber("0", 0xFF), 0u);
  EXPECT_EQ(ParseNumber("0xFFFFFFFF", 0xFFFFFFFF), 0xFFFFFFFFu);
  for (const char* bad :
       {"", "0x", "x10", "12a", "-1", "+1", " 1", "0x100", "256", "1e3", "99999999999999999999"}) {
    EXPECT_FALSE(ParseNumber(bad, 0xFF)) << bad;
  }
}

TEST(ToolParse, HexByteLists) {
  EXPECT_EQ(ParseHexBytes("a0100000"), (std::vector<uint8_t>{0xA0, 0x10, 0, 0}));
  EXPECT_EQ(ParseHexBytes("0xa0,0x10 ff"), (std::vector<uint8_t>{0xA0, 0x10, 0xFF}));
  EXPECT_EQ(ParseHexBytes(""), std::vector<uint8_t>{});
  EXPECT_FALSE(ParseHexBytes("abc"));
  EXPECT_FALSE(ParseHexBytes("zz"));
}

TEST(ToolTables, DetectGridMarksAnswersInsideTheScannedRange) {
  std::vector<bool> found(0x80, false);
  found[0x50] = found[0x51] = found[0x77] = true;
  found[0x02] = true;  // outside the range: never shown
  const std::string grid = DetectGrid(found, 0x03, 0x77);
  EXPECT_EQ(grid.substr(0, grid.find('\n')), "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f");
  EXPECT_NE(grid.find("00:          -- -- --"), std::string::npos);
  EXPECT_NE(grid.find("50: 50 51 -- --"), std::string::npos);
  EXPECT_NE(grid.find("70: -- -- -- -- -- -- -- 77                        \n"), std::string::npos);
  EXPECT_EQ(std::count(grid.begin(), grid.end(), '\n'), 9);
}

TEST(ToolTables, ByteDumpShowsFailuresAndAscii) {
  std::vector<std::optional<uint8_t>> values(256, uint8_t{0});
  values[0x00] = 0x41;  // 'A'
  values[0x01] = 0xFF;  // shown as '.'
  values[0x02] = 0x07;  // unprintable: '?'
  values[0x03] = std::nullopt;
  const std::string dump = ByteDump(values);
  EXPECT_NE(dump.find("00: 41 ff 07 XX 00"), std::string::npos);
  EXPECT_NE(dump.find("    A.?X............\n"), std::string::npos);
  EXPECT_NE(dump.find("\nf0: 00"), std::string::npos);
}

TEST(ToolTables, WordDumpEightRegistersARow) {
  std::vector<std::optional<uint16_t>> values(256, uint16_t{0x1234});
  values[9] = std::nullopt;
  const std::string dump = WordDump(values);
  EXPECT_NE(dump.find("08: 1234 XXXX 1234"), std::string::npos);
  EXPECT_NE(dump.find("\nf8: "), std::string::npos);
}

}  // namespace

namespace {

TEST(ToolParse, NumbersByCRules) {
  const struct {
    const char* text;
    std::optional<uint32_t> value;
  } cases[] = {{"010", 8},           {"0777", 0777},       {"00", 0},
               {"0x1F", 0x1F},       {"08", std::nullopt}, {"019", std::nullopt},
               {"0x", std::nullopt}, {"0b1", std::nullopt}};
  for (const auto& c : cases)
    EXPECT_EQ(ParseNumber(c.text, 0xFFFF), c.value) << c.text;
}

TEST(ToolTables, HostReportNamesResultAndStatusFlags) {
  const struct {
    uint8_t result, status;
    const char* text;
  } cases[] = {
      {1, 0x00, "no acknowledge: no chip answered at this address (result 1)"},
      {2, 0x05,
       "time-out: the host did not become free or did not finish (result 2); last host "
       "status 0x05 (busy, device error)"},
      {15, 0x08,
       "collision: bus error or lost arbitration (result 15); last host status 0x08 "
       "(collision)"},
      {14, 0x12, "failed transaction"},
      {13, 0x00, "alert"},
      {99, 0x40, "unknown result (result 99); last host status 0x40 (no known flag)"},
  };
  for (const auto& c : cases) {
    const std::string report = DescribeHostReport(c.result, c.status);
    EXPECT_NE(report.find(c.text), std::string::npos) << report;
    // A status of 0 was never recorded: nothing to show.
    EXPECT_EQ(report.find("last host status") == std::string::npos, c.status == 0) << report;
  }
}

}  // namespace

namespace {

TEST(TraceFormat, DoneLineGivesStatusLengthAndEveryBufferByte) {
  const struct {
    ntemu::IoResult io;
    const char* line;
  } cases[] = {
      {{{STATUS_SUCCESS, 0, 0, true, false}, {}}, "trace done 0x00000000 0"},
      {{{STATUS_BUFFER_OVERFLOW, 3, 3, true, false}, {0x01, 0xab, 0xff, 0xcd}},
       "trace done 0x80000005 3 01 ab ff cd"},
      {{{STATUS_TRANSACTION_TIMED_OUT, 2, 0, true, false}, {0x02, 0x5c}},
       "trace done 0xc0000210 2 02 5c"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(omzi2c::tool::TraceLine(c.io), c.line);
}

}  // namespace
