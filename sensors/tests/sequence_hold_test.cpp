// A DDR4 module's page selects and the reads of each page run under one hold
// of the bus, so that no other program selects another page in between.
#include <gtest/gtest.h>

#include <algorithm>

#include "decode/bus_reader.h"
#include "decode/scan.h"
#include "support/loaded_board.h"

namespace omzi2c {
namespace {

constexpr uint8_t kDdr4Module = 0x54;

// Passes requests on, noting for each whether a hold was in force.
class HoldWatch : public client::Transport {
 public:
  explicit HoldWatch(client::Transport& inner) : inner_(inner) {}
  client::Response Control(uint32_t code, const std::vector<uint8_t>& input,
                           uint32_t outputLength) override {
    heldAt.push_back(depth > 0);
    return inner_.Control(code, input, outputLength);
  }
  void ControlInto(uint32_t code, const uint8_t* input, uint32_t inputLength, uint32_t outputLength,
                   client::Response* response) override {
    heldAt.push_back(depth > 0);
    inner_.ControlInto(code, input, inputLength, outputLength, response);
  }
  bool Hold() override {
    ++depth, ++holds;
    return true;
  }
  void Release() override { --depth; }

  int depth = 0, holds = 0;
  std::vector<bool> heldAt;

 private:
  client::Transport& inner_;
};

TEST(SequenceHold, Ddr4PagesAreReadUnderOneHold) {
  testing::LoadedBoard loaded(2);
  HoldWatch watch(loaded.transport);
  client::Client client(watch);
  decode::BusReader bus(client);
  std::vector<std::string> notes;
  const auto module = decode::ReadModule(bus, kDdr4Module, &notes);
  ASSERT_TRUE(module.has_value());
  EXPECT_EQ(module->bytes.size(), 512u);  // both pages, so both selects were made
  EXPECT_EQ(watch.holds, 1);
  EXPECT_EQ(watch.depth, 0);
  ASSERT_FALSE(watch.heldAt.empty());
  EXPECT_TRUE(
      std::all_of(watch.heldAt.begin(), watch.heldAt.end(), [](bool held) { return held; }));
}

}  // namespace
}  // namespace omzi2c
