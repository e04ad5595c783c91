// The chunk-buffer host back-end (Chipset 7), port by port: scripted register
// answers and the exact accesses the driver makes for them, reached through
// the router as the request layer reaches it.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "controller_state.h"
#include "hosts/chunk_buffer_host.h"
#include "ntemu/clock.h"
#include "ntemu/port_space.h"

namespace omzi2c::testing {
namespace {

using ntemu::Direction;
using ntemu::In8;
using ntemu::Out8;
using ntemu::PortAccess;
using Sequence = std::vector<PortAccess>;

constexpr uint32_t kBase = 0x0600;
constexpr uint32_t kStatus = kBase + 0x80;
constexpr uint32_t kHostState = kBase + 0x82;
constexpr uint32_t kProtocol = kBase + 0x83;
constexpr uint32_t kAddress = kBase + 0x84;
constexpr uint32_t kCommand = kBase + 0x85;
constexpr uint32_t kBlockCount = kBase + 0x87;
constexpr uint32_t kData0 = kBase + 0x88;
constexpr uint32_t kData1 = kBase + 0x89;
constexpr size_t kBudget = 10001;  // one read plus 10000 re-reads

Sequence operator+(Sequence a, const Sequence& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Sequence Repeat(const Sequence& accesses, size_t times) {
  Sequence all;
  all.reserve(accesses.size() * times);
  for (size_t i = 0; i < times; ++i)
    all.insert(all.end(), accesses.begin(), accesses.end());
  return all;
}

// A free host: both host-state reads clear, then the status cleared.
Sequence Idle(uint8_t left = 0x41) {
  return {In8(kHostState, 0x00), In8(kHostState, 0x00), In8(kStatus, left), Out8(kStatus, left)};
}
// One host-state read per poll: busy (first flag), busy (second flag), free;
// then the decided status and the cleared one.
Sequence Done(uint8_t decided = 0x00, uint8_t left = 0x08) {
  return {In8(kHostState, 0x01), In8(kHostState, 0x02), In8(kHostState, 0x00),
          In8(kStatus, decided), In8(kStatus, left),    Out8(kStatus, left)};
}
// Free at the first read after the start.
Sequence DoneAtOnce(uint8_t decided, uint8_t left) {
  return {In8(kHostState, 0x00), In8(kStatus, decided), In8(kStatus, left), Out8(kStatus, left)};
}
// The chunk flag seen once, then `decided` without it, then the clear.
Sequence Chunk(uint8_t decided = 0x00, uint8_t left = 0x01) {
  return {In8(kStatus, 0x10), In8(kStatus, decided), In8(kStatus, left), Out8(kStatus, left)};
}

class ChunkBufferPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    Controller = ControllerState{}, Controller.Chipset = 7, Controller.SmbBase = kBase;
  }
  ~ChunkBufferPorts() override { Controller = ControllerState{}; }

  // Every test: no pause, only registers +0x80..+0x8F, and the host state,
  // +0x81 and +0x86 never written.
  void TearDown() override {
    EXPECT_TRUE(clock_.Pauses().empty());
    for (const PortAccess& a : recording_.Accesses()) {
      EXPECT_TRUE(a.port >= kBase + 0x80 && a.port <= kBase + 0x8F) << a;
      const bool forbidden =
          a.port == kHostState || a.port == kBase + 0x81 || a.port == kBase + 0x86;
      EXPECT_FALSE(a.direction == Direction::Write && forbidden) << a;
    }
  }
  // Queues the reads of `sequence` as the script, in order.
  void Script(const Sequence& sequence) {
    for (const PortAccess& a : sequence)
      if (a.direction == Direction::Read) recording_.Queue(a.port, a.value);
  }
  const Sequence& Log() const { return recording_.Accesses(); }

  ntemu::RecordingPortSpace recording_;
  ntemu::VirtualClock clock_;
  ntemu::ScopedPortSpace usePorts_{&recording_};
  ntemu::ScopedClock useClock_{&clock_};
};

// What a primitive returns into; 0xEE... until it stores something.
struct Out {
  UCHAR byte = 0xEE;
  USHORT word = 0xEEEE;
  bool operator==(const Out& o) const { return byte == o.byte && word == o.word; }
};

// One primitive through the router.
struct Call {
  const char* name;
  ResultCode (*run)(Out&);
  Sequence setup;  // set-up writes, protocol write included
  Sequence reads;  // after success
  Out result;      // after success
};

// clang-format off
const Call kCalls[] = {
    {"SendByte", [](Out&) { return Route::SendByte(0xA1, 0x5A); },
     {Out8(kAddress, 0xA0), Out8(kCommand, 0x5A), Out8(kProtocol, 0x11)}, {}, {}},
    {"ReceiveByte", [](Out& o) { return Route::ReceiveByte(0xA0, &o.byte); },
     {Out8(kAddress, 0xA1), Out8(kProtocol, 0x11)}, {In8(kData0, 0x77)}, {0x77, 0xEEEE}},
    {"ReadByteData", [](Out& o) { return Route::ReadByteData(0xA0, 0x10, &o.byte); },
     {Out8(kAddress, 0xA1), Out8(kCommand, 0x10), Out8(kProtocol, 0x12)}, {In8(kData0, 0x5A)},
     {0x5A, 0xEEEE}},
    {"WriteByteData", [](Out&) { return Route::WriteByteData(0xA1, 0x22, 0x99); },
     {Out8(kAddress, 0xA0), Out8(kCommand, 0x22), Out8(kData0, 0x99), Out8(kProtocol, 0x12)}, {}, {}},
    {"ReadWordData", [](Out& o) { return Route::ReadWordData(0x5C, 0x07, &o.word); },
     {Out8(kAddress, 0x5D), Out8(kCommand, 0x07), Out8(kProtocol, 0x13)},
     {In8(kData0, 0x34), In8(kData1, 0x12)}, {0xEE, 0x1234}},
    {"WriteWordData", [](Out&) { return Route::WriteWordData(0x5C, 0x07, 0x1234); },
     {Out8(kAddress, 0x5C), Out8(kCommand, 0x07), Out8(kData0, 0x34), Out8(kData1, 0x12),
      Out8(kProtocol, 0x13)}, {}, {}},
};
// clang-format on

// Every primitive, the block ones included, against a host that stays busy:
// the first flag needs one host-state read a poll, the second flag two.
TEST_F(ChunkBufferPorts, EitherBusyFlagAloneHoldsWaitIdleForTheBudgetAndNothingIsWritten) {
  UCHAR buffer[32] = {};
  UCHAR count = 0;
  for (uint8_t state : {0x01, 0x03, 0x02}) {
    const Sequence poll(state & 0x01 ? 1 : 2, In8(kHostState, state));
    recording_.SetDefault(kHostState, state);
    for (size_t i = 0; i < std::size(kCalls) + 2; ++i) {
      SCOPED_TRACE(::testing::Message() << "state " << int(state) << " primitive " << i);
      recording_.ClearLog();
      Out out;
      const ResultCode result = i < std::size(kCalls)    ? kCalls[i].run(out)
                                : i == std::size(kCalls) ? ::BlockRead(0xA0, 0, buffer, &count)
                                                         : ::BlockWrite(0xA0, 0, buffer, 4);
      EXPECT_EQ(result, kResultTimeout);
      EXPECT_EQ(Log(), Repeat(poll, kBudget));
    }
  }
}

// After the start: one host-state read a poll until both flags are clear (the
// first clear read ends it), then the decided status and the clear.
TEST_F(ChunkBufferPorts, PrimitivesStartWithTheProtocolWriteAndDecideByTheFinalStatus) {
  const struct {
    Sequence done;
    ResultCode result;
  } cases[] = {
      {Done(), kResultSuccess},
      {DoneAtOnce(0x06, 0x46), kResultCollisionOrDeviceError},
      {DoneAtOnce(0x04, 0x04), kResultCollisionOrDeviceError},
      {DoneAtOnce(0x02, 0x42), kResultDeviceError},
      {DoneAtOnce(0x01, 0x41), kResultSuccess},
      {DoneAtOnce(0x08, 0x48), kResultSuccess},
      {DoneAtOnce(0x10, 0x10), kResultSuccess},
      {Repeat({In8(kHostState, 0x01)}, kBudget), kResultTimeout},  // nothing written, no abort
      {Repeat({In8(kHostState, 0x02)}, kBudget), kResultTimeout},
  };
  for (const auto& c : cases) {
    for (const Call& call : kCalls) {
      SCOPED_TRACE(::testing::Message() << call.name << " result " << c.result << " after "
                                        << c.done.size() << " accesses");
      recording_.ClearLog();
      const bool ok = c.result == kResultSuccess;
      const Sequence expected = Idle() + call.setup + c.done + (ok ? call.reads : Sequence{});
      Script(expected);
      Out out;
      EXPECT_EQ(call.run(out), c.result);
      EXPECT_EQ(out, ok ? call.result : Out{});
      EXPECT_EQ(Log(), expected);
    }
  }
}

// --- blocks ---------------------------------------------------------------

// The reads (or writes) of one chunk of `n` bytes from data0 on, values from `first`.
Sequence ChunkData(Direction direction, size_t n, uint8_t first) {
  Sequence chunk;
  for (size_t k = 0; k < n; ++k)
    chunk.push_back({direction, ntemu::Width::Byte, static_cast<uint32_t>(kData0 + k),
                     static_cast<uint32_t>(first + k)});
  return chunk;
}
// Every chunk of a block of `length` bytes, each followed by its wait.
Sequence Chunks(Direction direction, size_t length) {
  Sequence all;
  for (size_t i = 0; i < length; i += 8)
    all = all + ChunkData(direction, std::min<size_t>(8, length - i), static_cast<uint8_t>(i)) +
          Chunk();
  return all;
}

Sequence BlockReadStart(uint8_t length) {
  return Idle() + Sequence{Out8(kAddress, 0x89), Out8(kCommand, 0x05), Out8(kProtocol, 0x15)} +
         Done() + Sequence{In8(kBlockCount, length)};
}
Sequence BlockWriteStart(uint8_t count) {
  return Idle() + Sequence{Out8(kAddress, 0x88), Out8(kCommand, 0x05), Out8(kBlockCount, count),
                           Out8(kProtocol, 0x15)};
}

// Writes start before their first byte, are cut to 32 and end at their last
// chunk wait (0 bytes: at once). Reads take chunks from data0 on, a wait
// after each; a reported count of 0 or above 32 is refused untouched.
TEST_F(ChunkBufferPorts, BlocksMoveInChunksOfEightWithAWaitAfterEach) {
  const uint8_t counts[][2] = {{0, 0},   {1, 1},   {7, 7},   {8, 8},   {9, 9},
                               {20, 20}, {32, 32}, {33, 32}, {255, 32}};
  UCHAR data[255];
  for (size_t i = 0; i < sizeof data; ++i)
    data[i] = static_cast<UCHAR>(i);
  for (const auto& [count, sent] : counts) {
    SCOPED_TRACE(int(count));
    recording_.ClearLog();
    const Sequence write = BlockWriteStart(sent) + Chunks(Direction::Write, sent);
    Script(write);
    EXPECT_EQ(::BlockWrite(0x89, 0x05, data, count), kResultSuccess);
    EXPECT_EQ(Log(), write);

    recording_.ClearLog();
    const bool valid = count == sent && sent != 0;
    const Sequence read = BlockReadStart(count) + Chunks(Direction::Read, valid ? count : 0);
    Script(read);
    UCHAR buffer[33];
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    UCHAR reported = 0;
    EXPECT_EQ(::BlockRead(0x88, 0x05, buffer, &reported),
              valid ? kResultSuccess : kResultDeviceError);
    EXPECT_EQ(reported, count);
    for (uint8_t i = 0; i < 33; ++i)
      EXPECT_EQ(buffer[i], valid && i < count ? i : 0xEE);
    EXPECT_EQ(Log(), read);
  }
}

// A chunk wait that fails at the second chunk of a 20-byte block.
TEST_F(ChunkBufferPorts, FailedChunkWaitEndsTheBlockKeepingWhatWasTaken) {
  const struct {
    const char* name;
    Sequence wait;  // the failing wait's accesses
    ResultCode result;
  } cases[] = {
      {"flag never clears", Repeat({In8(kStatus, 0x10)}, kBudget), kResultTimeout},
      {"device error", Chunk(0x02, 0x03), kResultDeviceError},
      {"collision", Chunk(0x06, 0x07), kResultCollisionOrDeviceError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    recording_.ClearLog();
    const Sequence read = BlockReadStart(20) + ChunkData(Direction::Read, 8, 0) + Chunk() +
                          ChunkData(Direction::Read, 8, 8) + c.wait;
    Script(read);
    UCHAR buffer[32] = {};
    UCHAR count = 0;
    EXPECT_EQ(::BlockRead(0x88, 0x05, buffer, &count), c.result);
    EXPECT_EQ(buffer[15], 15);
    EXPECT_EQ(Log(), read);

    recording_.ClearLog();
    const Sequence write = BlockWriteStart(20) + ChunkData(Direction::Write, 8, 0) + Chunk() +
                           ChunkData(Direction::Write, 8, 8) + c.wait;
    Script(write);
    UCHAR data[20];
    for (UCHAR i = 0; i < 20; ++i)
      data[i] = i;
    EXPECT_EQ(::BlockWrite(0x88, 0x05, data, 20), c.result);
    EXPECT_EQ(Log(), write);
  }
}

}  // namespace
}  // namespace omzi2c::testing
