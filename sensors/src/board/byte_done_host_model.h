// Behavioural model of the byte-done SMBus host controller (Chipset 2 and 3):
// eight byte-wide registers at a base port, carrying transactions out on a
// simulated SMBus.
//
// What the model holds to:
//  - writing the control register with the start bit (0x40) starts the
//    protocol in bits 4..2; the start bit reads back 0;
//  - the host then shows busy for a configurable number of status reads
//    before each step completes, so a driver that never waits to see busy
//    or done is caught;
//  - a finished transaction sets done (0x02), together with any error flags;
//    an absent or refusing device gives device error (0x04);
//  - status flags are cleared by writing 1 to them; busy is read-only;
//  - in use (0x40) is a semaphore: a status read that finds it clear shows it
//    clear and claims it, so later reads show it set until a write of 0x40
//    releases it;
//  - block transfers go byte by byte: the host sets byte done (0x80) per
//    byte and holds the bus until the driver clears it; a block read ends
//    once the last byte's byte done is cleared and last byte (0x20) has been
//    written to control;
//  - kill (0x02 in control) ends any transaction, clears busy and sets
//    failed (0x10); no start is taken while the kill bit is set.
#pragma once

#include <cstdint>
#include <vector>

#include "board/start_watch.h"
#include "board/byte_registers.h"
#include "board/port_map.h"
#include "board/smbus.h"

namespace board {

namespace byte_done {
// Registers, at base + offset.
constexpr uint8_t kStatus = 0, kControl = 2, kCommand = 3, kAddress = 4, kData0 = 5, kData1 = 6,
                  kBlockData = 7;
constexpr uint32_t kPortCount = 8;
namespace status {
constexpr uint8_t kBusy = 0x01, kDone = 0x02, kDeviceError = 0x04, kCollision = 0x08,
                  kFailed = 0x10, kAlert = 0x20, kInUse = 0x40, kByteDone = 0x80;
constexpr uint8_t kClearable = kDone | kDeviceError | kCollision | kFailed | kAlert | kByteDone;
}  // namespace status
namespace control {
constexpr uint8_t kKill = 0x02, kLastByte = 0x20, kStart = 0x40, kPec = 0x80;
constexpr uint8_t kProtocolMask = 0x1C;
constexpr uint8_t kQuick = 0x00, kByte = 0x04, kByteData = 0x08, kWordData = 0x0C, kBlock = 0x14;
}  // namespace control
}  // namespace byte_done

// Faults the model can be told to show; all off by default.
struct ByteDoneFaults {
  bool inUseStuck = false;     // another agent owns in use and never lets go
  bool inUseHeld = false;      // another agent owns in use until 0x40 is written
  bool busyStuck = false;      // busy reads set whatever happens, kill included
  bool neverStarts = false;    // the start bit is ignored
  bool neverFinishes = false;  // a started transaction stays busy until killed
  // Error flags (0x04, 0x08, 0x10, 0x20, any mix) every transaction ends with,
  // instead of reaching the device. Block transfers meet them at byte
  // errorAtByte: an alert alone is raised there and the transfer goes on.
  uint8_t errorFlags = 0;
  uint32_t errorAtByte = 0;
  int blockCount = -1;       // >= 0: the count a block read reports, whatever the device sent
  int byteDoneNeverAt = -1;  // >= 0: byte done for this block byte never comes
};

enum class ByteDonePhase : uint8_t {
  Idle,
  Working,    // busy, counting status reads until the current step completes
  Holding,    // block: byte done set, waiting for the driver to clear it
  AwaitLast,  // block read: every byte taken, waiting for last byte
  Hung,       // busy until killed
};

enum class ByteDoneStep : uint8_t { Transaction, BlockReadFirst, BlockReadNext, BlockWriteByte };

struct ByteDoneState {
  uint8_t status = 0;  // latched flags; busy and in use are kept apart
  uint8_t control = 0;
  uint8_t command = 0;
  uint8_t address = 0;
  uint8_t data0 = 0;
  uint8_t data1 = 0;
  uint8_t blockData = 0;
  uint8_t protocol = 0;  // of the transaction started last
  bool read = false;     // its direction, from bit 0 of the address
  bool inUse = false;
  ByteDonePhase phase = ByteDonePhase::Idle;
  ByteDoneStep step = ByteDoneStep::Transaction;
  uint32_t busyReadsLeft = 0;
  std::vector<uint8_t> block;  // the block being moved
  uint32_t blockIndex = 0;     // block byte the host is on
  uint32_t blockCount = 0;
  bool lastByte = false;  // last byte written since the start
  // Counters for tests.
  uint32_t starts = 0;
  uint32_t kills = 0;
  uint32_t pecRequests = 0;
};

class ByteDoneHostModel : public ByteRegisterHandler, public StartWatch {
 public:
  ByteDoneHostModel(SmbusBus& bus, uint16_t base);

  // Status reads that show busy before each step completes; 0 completes at once.
  void SetBusyReads(uint32_t reads) { busyReads_ = reads; }
  ByteDoneFaults& Faults() { return faults_; }
  const ByteDoneState& State() const { return state_; }
  bool Busy() const;

 private:
  uint8_t ReadRegister(uint8_t offset) override;
  void WriteRegister(uint8_t offset, uint8_t value) override;
  uint8_t ReadStatus();
  void WriteStatus(uint8_t value);
  void WriteControl(uint8_t value);
  uint8_t ReadBlockData() const;

  SlaveAddress Target() const { return SlaveAddress::FromAddressByte(state_.address); }
  void Begin(uint8_t protocol);
  void Work(ByteDoneStep step);
  void Complete();
  void CarryTransaction();
  bool CarrySimple(SlaveAddress address);
  void FirstBlockByte();
  bool ByteFault();
  void BlockByteReady();
  void BlockByteSent();
  void ByteDoneCleared();
  void End(uint8_t flags);
  void Kill();

  SmbusBus& bus_;
  uint32_t busyReads_ = 3;
  ByteDoneFaults faults_;
  ByteDoneState state_;
};

}  // namespace board
