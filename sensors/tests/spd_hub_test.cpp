// The DDR5 SPD hub: its model on the simulated board, and the page sequence
// that reads it, which must never write MR11 (0x0B) to anything but a hub.
#include <gtest/gtest.h>

#include <functional>

#include "decode/scan.h"
#include "decode/spd_hub.h"
#include "support/loaded_board.h"

namespace omzi2c::decode {
namespace {

using omzi2c::testing::LoadedBoard;

constexpr uint8_t kMr11 = 0x0B;
constexpr uint8_t kHubAt = 0x55;

// The MR11 writes (write byte data at 0x0B) the bus carried, by address.
std::vector<uint8_t> Mr11Writes(const board::SmbusBus& bus) {
  std::vector<uint8_t> at;
  for (const board::SmbusTransaction& t : bus.Log()) {
    if (t.protocol == board::SmbusProtocol::WriteByte && t.command == kMr11)
      at.push_back(t.address.value());
  }
  return at;
}

TEST(SpdHub, PageSequenceWritesMr11OnlyToAHubAndPutsItBack) {
  using Setup = std::function<void(board::SimulatedBoard&)>;
  const struct {
    const char* what;
    Setup setup;
    uint8_t chip;
    bool read;          // the module's bytes come back
    size_t mr11Writes;  // to this chip; none ever to another
    uint8_t mr11After;
  } cases[] = {
      // Type bytes DDR3 (0x0B) and DDR4 (0x0C) behind bytes 0-1 that look
      // like a hub's MR0:MR1.
      {"DDR3 reading 0x51 0x18",
       [](board::SimulatedBoard& b) {
         b.Module(0).Set(0, 0x51);
         b.Module(0).Set(1, 0x18);
       },
       0x50, true, 0, 0},
      {"DDR4 reading 0x51 0x18",
       [](board::SimulatedBoard& b) {
         b.Ddr4Module().Set(0, 0x51);
         b.Ddr4Module().Set(1, 0x18);
       },
       0x54, true, 0, 0},
      // Left on its upper page, whose first bytes look like a hub's.
      {"DDR4 on page 1",
       [](board::SimulatedBoard& b) {
         b.Ddr4Module().Set(256, 0x51);
         b.Ddr4Module().Set(257, 0x18);
         b.Ddr4Module().SetPage(1);
       },
       0x54, true, 0, 0},
      // A hub on page 0: pages 1-7 selected, then page 0 again.
      {"hub on page 0", [](board::SimulatedBoard&) {}, kHubAt, true, 8, 0x00},
      // Left on page 5 by other software: pages 0-7 selected in turn (5
      // too, after 4), then 5 again.
      {"hub on page 5", [](board::SimulatedBoard& b) { b.Ddr5Module().SetRegister(kMr11, 5); },
       kHubAt, true, 9, 0x05},
      // Two-byte addressing: refused before any write.
      {"hub in two-byte mode",
       [](board::SimulatedBoard& b) { b.Ddr5Module().SetRegister(kMr11, 0x0A); }, kHubAt, false, 0,
       0x0A},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LoadedBoard loaded(2);
    c.setup(loaded.board);
    loaded.board.Bus().ClearLog();
    BusReader bus(loaded.client);
    std::vector<std::string> notes;
    const auto module = ReadModule(bus, c.chip, &notes);
    ASSERT_EQ(module.has_value(), c.read) << (notes.empty() ? "" : notes[0]);
    EXPECT_EQ(Mr11Writes(loaded.board.Bus()), std::vector<uint8_t>(c.mr11Writes, c.chip));
    EXPECT_EQ(loaded.board.Ddr5Module().Register(kMr11), c.mr11After);
    if (!c.read) {
      EXPECT_EQ(notes, std::vector<std::string>{"the SPD hub at 0x55 is in two-byte addressing "
                                                "mode; its memory is not read"});
      continue;
    }
    if (c.chip != kHubAt) continue;
    // All eight pages in order, as the board holds them.
    ASSERT_EQ(module->bytes.size(), 1024u);
    for (size_t i = 0; i < module->bytes.size(); ++i)
      ASSERT_EQ(module->bytes[i], loaded.board.Ddr5Module().At(i)) << i;
  }
  // A whole scan of 0x50-0x57 writes MR11 to the hub only.
  LoadedBoard loaded(2);
  BusReader bus(loaded.client);
  std::vector<std::string> notes;
  for (uint8_t chip = spd::kFirstAddress; chip <= spd::kLastAddress; ++chip)
    ReadModule(bus, chip, &notes);
  for (uint8_t chip : Mr11Writes(loaded.board.Bus()))
    EXPECT_EQ(chip, kHubAt);
}

// The hub model: the memory window follows MR11, reads wrap within the page,
// the limits keep bits 12:2, the status follows the temperature, a write to
// MR11 keeps bits 3:0, the sensor registers decode as quarter degrees.
TEST(SpdHub, ModelRegistersPagesAndSensor) {
  board::SpdHub hub;
  std::array<uint8_t, board::SpdHub::kSize> memory{};
  for (size_t i = 0; i < memory.size(); ++i)
    memory[i] = static_cast<uint8_t>(i * 7 + i / 128);
  hub.Load(memory);
  uint8_t byte = 0;
  const struct {
    uint8_t mr11, command;
    size_t offset;  // in the memory
  } reads[] = {{0x00, 0x80, 0}, {0x03, 0x85, 3 * 128 + 5}, {0xF7, 0xFF, 7 * 128 + 127}};
  for (const auto& r : reads) {
    ASSERT_TRUE(hub.WriteByte(kMr11, r.mr11));
    EXPECT_EQ(hub.Register(kMr11), r.mr11 & 0x0F);
    ASSERT_TRUE(hub.ReadByte(r.command, &byte));
    EXPECT_EQ(byte, memory[r.offset]) << int(r.command);
  }
  ASSERT_TRUE(hub.ReceiveByte(&byte));  // wrapped to the start of page 7
  EXPECT_EQ(byte, memory[7 * 128]);
  ASSERT_TRUE(hub.WriteByte(kMr11, 0x08));
  EXPECT_FALSE(hub.ReadByte(0x80, &byte));  // two-byte mode: no one-byte window

  const struct {
    int quarters;
    uint8_t status;  // bit 0 high, 1 low, 2 critical, 3 low critical
  } temperatures[] = {{146, 0x00}, {221, 0x01}, {400, 0x05}, {-1, 0x02}, {-81, 0x0A}};
  hub.SetWordRegister(0x1C, 0x0370);  // high 55 C (220 quarters)
  hub.SetWordRegister(0x1E, 0x0000);  // low 0 C
  hub.SetWordRegister(0x20, 0x0550);  // critical 85 C
  hub.SetWordRegister(0x22, 0x1EC0);  // low critical -20 C (-80 quarters)
  for (const auto& t : temperatures) {
    hub.SetQuarters(t.quarters);
    EXPECT_EQ(hub.Register(0x33), t.status) << t.quarters;
    uint8_t wire[2];
    ASSERT_TRUE(hub.ReadWord(0x31, wire));
    const Reading r = DecodeHubTemperature(
        {wire[0], wire[1]}, {0x70, 0x03, 0, 0, 0x50, 0x05, 0xC0, 0x1E}, 0, hub.Register(0x33));
    EXPECT_DOUBLE_EQ(*r.value, t.quarters / 4.0);
    EXPECT_DOUBLE_EQ(*r.lowCritical, -20.0);
    EXPECT_EQ(r.alarms.size(), static_cast<size_t>(__builtin_popcount(t.status)));
  }
  const uint8_t limit[2] = {0xFF, 0xFF};
  ASSERT_TRUE(hub.WriteWord(0x1C, limit));
  EXPECT_EQ(hub.Register(0x1C), 0xFC);
  EXPECT_EQ(hub.Register(0x1D), 0x1F);
  EXPECT_FALSE(DecodeHubTemperature({0, 0}, std::vector<uint8_t>(8), 0x01, 0).value);  // off
}

}  // namespace
}  // namespace omzi2c::decode
