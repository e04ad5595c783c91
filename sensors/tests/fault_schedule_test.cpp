// Faults that strike at a chosen transaction, for a number of transactions,
// or at random, and faults switched while the driver waits: what faults
// that are either always on or always off cannot show.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/loaded_board.h"

namespace {

using board::SmbusProtocol;
using omzi2c::testing::LoadedBoard;

struct Step {
  SmbusProtocol protocol;
  uint8_t command;
  bool acknowledged;
  bool operator==(const Step& o) const {
    return protocol == o.protocol && command == o.command && acknowledged == o.acknowledged;
  }
};

std::vector<Step> Steps(const board::SmbusBus& bus) {
  std::vector<Step> steps;
  for (const board::SmbusTransaction& t : bus.Log())
    steps.push_back({t.protocol, t.command, t.acknowledged});
  return steps;
}

// A single NAK at the third (or second) transaction of a composed operation,
// on every Chipset kind: the whole-operation retry starts again from the
// command read, the per-item retries repeat only the byte that failed.
TEST(FaultSchedule, OneFailureMidOperationRetriesAsTheOperationDoes) {
  constexpr auto RB = SmbusProtocol::ReadByte, RX = SmbusProtocol::ReceiveByte,
                 WB = SmbusProtocol::WriteByte;
  struct Case {
    const char* name;
    uint64_t failing;  // transaction of the operation that is not acknowledged
    omzi2c::client::Response (*run)(omzi2c::client::Client&);
    std::vector<Step> steps;
  };
  const std::vector<Case> cases = {
      {"read with command, 4 bytes",
       3,
       [](omzi2c::client::Client& c) { return c.ReadWithCommand(0x50, 0x10, 4); },
       {{RB, 0x10, true},
        {RX, 0, true},
        {RX, 0, false},  // the third byte fails once
        {RB, 0x10, true},
        {RX, 0, true},
        {RX, 0, true},
        {RX, 0, true}}},
      {"write with command, 3 bytes",
       3,
       [](omzi2c::client::Client& c) {
         return c.WriteWithCommand(0x50, 0x90, {1, 2, 3});
       },
       {{WB, 0x90, true}, {WB, 0x91, true}, {WB, 0x92, false}, {WB, 0x92, true}}},
      {"receive bytes, 3 bytes",
       2,
       [](omzi2c::client::Client& c) { return c.ReceiveBytes(0x50, 3); },
       {{RX, 0, true}, {RX, 0, false}, {RX, 0, true}, {RX, 0, true}}},
  };
  for (int chipset = 1; chipset <= 10; ++chipset) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", Chipset " + std::to_string(chipset));
      LoadedBoard loaded(chipset);
      ASSERT_TRUE(loaded.driver.Loaded());
      std::string error;
      const uint64_t at = loaded.board.Transactions() + c.failing;
      ASSERT_TRUE(loaded.board.ScheduleFault("nak", {at, 1, 1.0, 1}, &error)) << error;
      loaded.board.Bus().ClearLog();
      EXPECT_TRUE(c.run(loaded.client).Succeeded());
      EXPECT_EQ(Steps(loaded.board.Bus()), c.steps);
      EXPECT_EQ(loaded.board.Overlaps(), 0u);
    }
  }
}

// Stands over the Chipset 2 host's registers: counts status reads and
// control writes, and switches the in-use fault off after a number of reads,
// as another agent that lets go of the host would.
class InUseAgent : public board::PortHandler {
 public:
  InUseAgent(board::SimulatedBoard& board, uint64_t heldReads)
      : board_(board), host_(*board.ByteDoneHost()), heldReads_(heldReads) {}
  uint32_t Read(uint32_t port, board::Width width) override {
    const uint32_t value = host_.Read(port, width);
    if (port - board_.Config().smbBase == board::byte_done::kStatus && !addressed_ &&
        ++statusReads_ == heldReads_)
      board_.ClearScheduledFaults();
    return value;
  }
  void Write(uint32_t port, board::Width width, uint32_t value) override {
    const uint32_t offset = port - board_.Config().smbBase;
    if (offset == board::byte_done::kAddress) addressed_ = true;
    if (offset == board::byte_done::kControl && value == 0x02) ++kills_;
    host_.Write(port, width, value);
  }
  uint64_t statusReads_ = 0;  // before the address is first written
  uint64_t kills_ = 0;

 private:
  board::SimulatedBoard& board_;
  board::PortHandler& host_;
  uint64_t heldReads_;
  bool addressed_ = false;
};

// Another agent holds the in-use flag for the first few status reads only.
// Past 10000 re-reads the wait kills and frees the flag itself; when the
// read after that shows it clear the wait goes on, when it is still set the
// attempt fails and the operation's retry finds the host free.
TEST(FaultSchedule, InUseHeldForTheFirstReadsOnly) {
  struct Case {
    uint64_t heldReads;
    uint64_t statusReads;  // until the transaction is set up
    uint64_t kills;
    size_t pauses;  // retry pauses of 1 ms
  };
  const Case cases[] = {
      {1, 3, 0, 0},          // held, clear, busy checked
      {3, 5, 0, 0},          //
      {10001, 10003, 1, 0},  // held through the budget; clear after the kill
      {10002, 10004, 1, 1},  // still held after the kill: 2, then a retry
  };
  for (int chipset : {2, 3}) {
    for (const Case& c : cases) {
      SCOPED_TRACE("Chipset " + std::to_string(chipset) + ", held for " +
                   std::to_string(c.heldReads) + " reads");
      LoadedBoard loaded(chipset);
      ASSERT_TRUE(loaded.driver.Loaded());
      InUseAgent agent(loaded.board, c.heldReads);
      loaded.board.Ports().Map(loaded.board.Config().smbBase, 8, &agent);
      std::string error;
      ASSERT_TRUE(loaded.board.InjectFault(
          "in-use-stuck@" + std::to_string(loaded.board.Transactions() + 1), &error))
          << error;
      loaded.clock.ClearPauses();
      EXPECT_EQ(loaded.client.ReadWithCommand(0x50, 0x02, 1).reply, std::vector<uint8_t>{0x0B});
      EXPECT_EQ(agent.statusReads_, c.statusReads);
      EXPECT_EQ(agent.kills_, c.kills);
      EXPECT_EQ(loaded.clock.Pauses().size(), c.pauses);
    }
  }
}

// Send-byte requests: one transaction each, never retried.
std::string NakPattern(LoadedBoard& loaded, int requests) {
  std::string naks;
  for (int i = 0; i < requests; ++i)
    naks += loaded.client.SendBytes(0x50, {0x00}).Succeeded() ? '.' : 'x';
  return naks;
}

// The written forms of a schedule, and what each makes of the transactions.
TEST(FaultSchedule, WrittenFormsStrikeWhereTheySay) {
  struct Case {
    const char* form;
    bool accepted;
    std::string naks;  // of 8 transactions: x not acknowledged, . acknowledged
  };
  const Case cases[] = {
      {"nak", true, "xxxxxxxx"},
      {"nak@3", true, "..xxxxxx"},
      {"nak@2+3", true, ".xxx...."},
      {"nak@1+1", true, "x......."},
      {"nak%100", true, "xxxxxxxx"},
      {"nak@0", false, ""},
      {"nak@2+0", false, ""},
      {"nak@", false, ""},
      {"nak@x", false, ""},
      {"nak%0", false, ""},
      {"nak%101", false, ""},
      {"nak%50:", false, ""},
      {"nope@3", false, ""},
      {"controller-absent@2", false, ""},
      {"ec-event-stuck@2", false, ""},  // not on this host
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.form);
    LoadedBoard loaded(2);
    std::string error;
    EXPECT_EQ(loaded.board.InjectFault(c.form, &error), c.accepted);
    EXPECT_EQ(error.empty(), c.accepted) << error;
    if (c.accepted) {
      EXPECT_EQ(NakPattern(loaded, 8), c.naks);
    }
  }
  // At random: about the share asked for, the same for the same seed.
  std::string patterns[3];
  const char* forms[3] = {"nak%25:7", "nak%25:7", "nak%25:8"};
  for (int i = 0; i < 3; ++i) {
    LoadedBoard loaded(2);
    std::string error;
    ASSERT_TRUE(loaded.board.InjectFault(forms[i], &error)) << error;
    patterns[i] = NakPattern(loaded, 400);
    const auto naks = std::count(patterns[i].begin(), patterns[i].end(), 'x');
    EXPECT_GT(naks, 60);
    EXPECT_LT(naks, 140);
  }
  EXPECT_EQ(patterns[0], patterns[1]);
  EXPECT_NE(patterns[0], patterns[2]);
}

// The controller models flag a start written while their transaction still
// runs, and count every start command as a transaction.
TEST(FaultSchedule, StartWhileRunningIsFlagged) {
  struct Case {
    int chipset;
    uint32_t startOffset;
    uint8_t start;
  };
  const Case cases[] = {
      {2, board::byte_done::kControl, 0x48},
      {4, board::paced_poll::kControl, 0x48},
      {8, board::dual_status::kControl, 0x48},
      {1, board::start_port::kStart, board::start_port::kGo},
      {7, board::chunk_buffer::kProtocol, board::chunk_buffer::protocol::kByteData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("Chipset " + std::to_string(c.chipset));
    LoadedBoard loaded(c.chipset);
    ASSERT_TRUE(loaded.driver.Loaded());
    const uint32_t port = loaded.board.Config().smbBase + c.startOffset;
    const uint64_t before = loaded.board.Transactions();
    loaded.board.Ports().Write(port, board::Width::Byte, c.start);
    EXPECT_EQ(loaded.board.Overlaps(), 0u);
    loaded.board.Ports().Write(port, board::Width::Byte, c.start);  // still busy
    EXPECT_EQ(loaded.board.Overlaps(), 1u);
    EXPECT_EQ(loaded.board.Transactions(), before + 2);
  }
}

}  // namespace
