// Behavioural model of the start-port SMBus host controller (Chipset 1):
// eight byte-wide registers at a base port, carrying transactions out on a
// simulated SMBus.
//
// What the model holds to:
//  - the protocol register selects the transaction type (0x10 byte, 0x20
//    byte data, 0x30 word data, 0x40 block); writing 0x01 to the start
//    register starts it while the host is idle;
//  - the host then shows busy (0x08) for a configurable number of status
//    reads; the transaction is then carried out and done (0x10) is set with
//    any error flags, but idle (0x04) comes back only after a further
//    configurable number of reads; a device that does not acknowledge gives
//    device error (0x20);
//  - done and the error flags are cleared by writing 1 to them; writing
//    0x04 to the status register rewinds the block data index;
//  - the block data register reads and writes successive bytes of a 32-byte
//    buffer;
//  - 0x04 written to the protocol register kills a running transaction,
//    which ends with failed (0x80) and leaves the host idle.
#pragma once

#include <cstdint>

#include "board/byte_registers.h"
#include "board/host_transaction.h"
#include "board/port_map.h"
#include "board/smbus.h"
#include "board/start_watch.h"

namespace board {

namespace start_port {
// Registers, at base + offset.
constexpr uint8_t kStatus = 0, kProtocol = 1, kStart = 2, kAddress = 3, kData0 = 4, kData1 = 5,
                  kBlockData = 6, kCommand = 7;
constexpr uint32_t kPortCount = 8;
namespace status {
constexpr uint8_t kIdle = 0x04, kBusy = 0x08, kDone = 0x10, kDeviceError = 0x20, kBusError = 0x40,
                  kFailed = 0x80;
constexpr uint8_t kClearable = kDone | kDeviceError | kBusError | kFailed;
constexpr uint8_t kRewindBlock = 0x04;
}  // namespace status
namespace protocol {
constexpr uint8_t kKill = 0x04, kByte = 0x10, kByteData = 0x20, kWordData = 0x30, kBlock = 0x40;
}  // namespace protocol
constexpr uint8_t kGo = 0x01;
}  // namespace start_port

// Faults the model can be told to show; all off by default.
struct StartPortFaults {
  bool busyStuck = false;      // busy reads set whatever happens, kill included
  bool notIdle = false;        // between transactions the host shows neither busy nor idle
  bool neverStarts = false;    // the start register is ignored
  bool neverFinishes = false;  // a started transaction stays busy until killed
  // Error flags (0x20, 0x40, 0x80, any mix) every transaction ends with,
  // instead of reaching the device.
  uint8_t errorFlags = 0;
  int blockCount = -1;  // >= 0: the count a block read reports, whatever the device sent
};

enum class StartPortPhase : uint8_t {
  Idle,
  Working,   // busy, counting status reads until the transaction is carried out
  Settling,  // done, counting status reads until idle comes back
  Hung,      // busy until killed
};

struct StartPortState {
  uint8_t status = 0;  // latched flags; idle and busy are kept apart
  uint8_t protocol = 0;
  HostRegisters registers;
  uint32_t blockIndex = 0;
  StartPortPhase phase = StartPortPhase::Idle;
  uint32_t readsLeft = 0;
  // Counters for tests.
  uint32_t starts = 0;
  uint32_t kills = 0;
};

class StartPortHostModel : public ByteRegisterHandler, public StartWatch {
 public:
  StartPortHostModel(SmbusBus& bus, uint16_t base);

  // Status reads that show busy before the transaction is carried out, and
  // reads after that which show done without idle; 0 moves on at once.
  void SetBusyReads(uint32_t reads) { busyReads_ = reads; }
  void SetSettleReads(uint32_t reads) { settleReads_ = reads; }
  StartPortFaults& Faults() { return faults_; }
  const StartPortState& State() const { return state_; }

 private:
  uint8_t ReadRegister(uint8_t offset) override;
  void WriteRegister(uint8_t offset, uint8_t value) override;
  uint8_t ReadStatus();
  void WriteStatus(uint8_t value);
  void WriteProtocol(uint8_t value);
  void WriteStart(uint8_t value);
  uint8_t ReadBlockData();
  void WriteBlockData(uint8_t value);
  void Tick();
  void CarryOutNow();
  void Settle();

  SmbusBus& bus_;
  uint32_t busyReads_ = 3;
  uint32_t settleReads_ = 1;
  StartPortFaults faults_;
  StartPortState state_;
};

}  // namespace board
