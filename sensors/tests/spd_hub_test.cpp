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
      // MR0:MR1 right but MR3:MR4 no JEP-106 vendor (bank 0x00: even
      // parity), or MR5's reserved bits set: no hub, so no MR11 write.
      {"bad vendor parity",
       [](board::SimulatedBoard& b) { b.Ddr5Module().SetRegister(0x03, 0x00); }, kHubAt, true, 0,
       0x00},
      {"reserved capability bits",
       [](board::SimulatedBoard& b) { b.Ddr5Module().SetRegister(0x05, 0x82); }, kHubAt, true, 0,
       0x00},
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
    if (c.chip != kHubAt || c.mr11Writes == 0) continue;
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

// The hub model beyond what the page sequence reads: reads wrap within the
// page, two-byte mode closes the one-byte window, MR11 keeps bits 3:0 and the
// limits bits 12:2, and MR51 follows the temperature against the limits.
TEST(SpdHub, ModelWrapsModesLimitsAndStatus) {
  board::SpdHub hub;
  hub.Set(7 * 128, 0x77);
  uint8_t byte = 0;
  ASSERT_TRUE(hub.WriteByte(kMr11, 0xF7));
  EXPECT_EQ(hub.Register(kMr11), 0x07);
  ASSERT_TRUE(hub.ReadByte(0xFF, &byte) && hub.ReceiveByte(&byte));
  EXPECT_EQ(byte, 0x77);  // after 0xFF, the start of page 7
  ASSERT_TRUE(hub.WriteByte(kMr11, 0x08));
  EXPECT_FALSE(hub.ReadByte(0x80, &byte));
  const uint8_t ones[2] = {0xFF, 0xFF};
  ASSERT_TRUE(hub.WriteWord(0x1C, ones));
  EXPECT_EQ(hub.Register(0x1C) << 8 | hub.Register(0x1D), 0xFC1F);

  hub.SetWordRegister(0x1C, 0x0370);  // high 55 C (220 quarters)
  hub.SetWordRegister(0x1E, 0x0000);  // low 0 C
  hub.SetWordRegister(0x20, 0x0550);  // critical 85 C
  hub.SetWordRegister(0x22, 0x1EC0);  // low critical -20 C (-80 quarters)
  const struct {
    int quarters;
    uint8_t status;  // bit 0 high, 1 low, 2 critical, 3 low critical
  } temperatures[] = {{146, 0x00}, {221, 0x01}, {400, 0x05}, {-1, 0x02}, {-81, 0x0A}};
  for (const auto& t : temperatures) {
    hub.SetQuarters(t.quarters);
    EXPECT_EQ(hub.Register(0x33), t.status) << t.quarters;
    const Reading r = DecodeHubTemperature({hub.Register(0x31), hub.Register(0x32)},
                                           std::vector<uint8_t>(8), 0, 0);
    EXPECT_DOUBLE_EQ(*r.value, t.quarters / 4.0);
  }
}

}  // namespace
}  // namespace omzi2c::decode
