// Behavioural model of the chunk-buffer SMBus host controller (Chipset 7):
// byte-wide registers at base + 0x80 to + 0x8F (the window starts at the
// base; nothing answers below + 0x80), carrying transactions out on a
// simulated SMBus.
//
// What the model holds to:
//  - writing the protocol register starts a transaction with the address,
//    command, block count and data buffer as they stand;
//  - the host state shows busy (0x01) from the start for a configurable
//    number of host-state reads; then the transaction's result is in: error
//    flags in the status, read data in the data buffer (and, for a block
//    read, the block count and the first chunk);
//  - status flags are cleared by writing 1 to them (writing back the value
//    read); an absent or refusing device gives device error (0x02);
//  - blocks move through the 8-byte data buffer in chunks of at most 8
//    bytes: once the driver has taken a chunk out (block read) or put one in
//    (block write), the host raises the chunk flag (0x10) and keeps it for
//    a configurable number of status reads while it moves the chunk, then
//    clears it when ready for the next, together with any error flag;
//  - after a block write's last chunk the host still holds the bus, shown
//    as the second busy flag (0x02) for that many host-state reads;
//  - nothing aborts a transaction: a new protocol write while the host is
//    not busy drops a block left half-moved and starts afresh.
#pragma once

#include <cstdint>
#include <vector>

#include "board/start_watch.h"
#include "board/byte_registers.h"
#include "board/port_map.h"
#include "board/smbus.h"

namespace board {

namespace chunk_buffer {
// Registers, at base + offset.
constexpr uint8_t kStatus = 0x80, kPrepared = 0x81, kHostState = 0x82, kProtocol = 0x83,
                  kAddress = 0x84, kCommand = 0x85, kBlockCount = 0x87, kData0 = 0x88;
constexpr uint8_t kDataBytes = 8;  // the data buffer, 0x88..0x8F
constexpr uint8_t kFirstRegister = 0x80;
constexpr uint32_t kPortCount = 0x90;
namespace status {
constexpr uint8_t kDeviceError = 0x02, kCollision = 0x04, kChunk = 0x10;
}  // namespace status
namespace host_state {
constexpr uint8_t kBusy = 0x01, kBusHeld = 0x02;
constexpr uint8_t kBusyBits = kBusy | kBusHeld;
}  // namespace host_state
namespace protocol {
constexpr uint8_t kByte = 0x11, kByteData = 0x12, kWordData = 0x13, kBlock = 0x15;
}  // namespace protocol
}  // namespace chunk_buffer

// Faults the model can be told to show; all off by default.
struct ChunkBufferFaults {
  uint8_t stuckBusy = 0;       // host-state busy bits (0x01, 0x02) that always read set
  bool neverStarts = false;    // the protocol write is ignored
  bool neverFinishes = false;  // a started transaction stays busy
  // Error flags (0x02, 0x04, or both) the transaction ends with instead of
  // reaching the device; for blocks, at the end of chunk errorAtChunk
  // (-1: where the transaction's result comes, the first chunk of a write).
  uint8_t errorFlags = 0;
  int errorAtChunk = -1;
  int blockCount = -1;          // >= 0: the count a block read reports
  bool chunkFlagStuck = false;  // the chunk flag, once raised, never clears
};

enum class ChunkBufferPhase : uint8_t {
  Idle,
  Working,    // busy after the start, counting host-state reads
  AwaitData,  // block: waiting for the driver to take or load a chunk
  Moving,     // block: chunk flag set, counting status reads
  Releasing,  // block write done, bus still held, counting host-state reads
};

struct ChunkBufferState {
  uint8_t status = 0;
  uint8_t prepared = 0;   // +0x81
  uint8_t hostState = 0;  // the settable bits; busy bits come from the phase
  uint8_t address = 0;
  uint8_t command = 0;
  uint8_t blockCount = 0;
  uint8_t data[chunk_buffer::kDataBytes] = {};
  uint8_t protocol = 0;
  bool read = false;
  ChunkBufferPhase phase = ChunkBufferPhase::Idle;
  uint32_t readsLeft = 0;
  std::vector<uint8_t> block;  // read: as the device sent it; write: as loaded so far
  uint32_t blockLength = 0;    // the count the block moves by
  uint32_t blockDone = 0;      // bytes moved through the buffer so far
  uint32_t chunkIndex = 0;
  uint32_t chunkAccesses = 0;  // data-buffer accesses in the current chunk
  // Counters for tests.
  uint32_t starts = 0;
  uint32_t startsWhileBusy = 0;  // protocol writes the busy host did not take
  uint32_t strayAccesses = 0;    // below + 0x80, or at +0x86
};

class ChunkBufferHostModel : public ByteRegisterHandler, public StartWatch {
 public:
  ChunkBufferHostModel(SmbusBus& bus, uint16_t base);

  // Reads that show busy (or the chunk flag) before each step completes.
  void SetBusyReads(uint32_t reads) { busyReads_ = reads; }
  ChunkBufferFaults& Faults() { return faults_; }
  const ChunkBufferState& State() const { return state_; }

 private:
  uint8_t ReadRegister(uint8_t offset) override;
  void WriteRegister(uint8_t offset, uint8_t value) override;
  uint8_t ReadHostState();
  uint8_t ReadStatus();
  uint8_t ReadData(uint8_t index);
  void WriteData(uint8_t index, uint8_t value);
  void WriteProtocol(uint8_t value);

  SlaveAddress Target() const { return SlaveAddress::FromAddressByte(state_.address); }
  uint32_t ChunkLength() const;
  bool Tick();
  void Wait(ChunkBufferPhase phase);
  void Complete();
  void CarryTransaction();
  bool CarrySimple();
  void BeginBlockRead();
  void BeginBlockWrite();
  void LoadChunk();
  void ChunkTouched();
  void ChunkMoved();
  bool ChunkFault();
  void FinishBlockWrite(uint8_t flags);
  void End(uint8_t flags);

  SmbusBus& bus_;
  uint32_t busyReads_ = 3;
  ChunkBufferFaults faults_;
  ChunkBufferState state_;
};

}  // namespace board
