// Behavioural model of the dual-status SMBus host controller (Chipset 8 and
// 9): eight byte-wide registers at a base port, carrying transactions out
// on a simulated SMBus.
//
// What the model holds to:
//  - writing the control register with the start bit (0x40) starts the
//    protocol in bits 4..2, unless the abort bit (0x02) is set with it; the
//    start bit reads back 0;
//  - the host then shows busy (0x01) for a configurable number of status
//    reads before the transaction is carried out and finished (0x02) is
//    set, together with any error flags; a device that does not acknowledge
//    gives device error (0x04);
//  - status flags other than busy are cleared by writing 1 to them;
//  - the second status register shows a second busy flag (0x01), set only
//    by fault injection, standing for another master on the bus;
//  - the block data register reads and writes successive bytes of a 32-byte
//    buffer; reading the control register rewinds it to the first byte;
//  - abort (0x02 in control) ends a transaction with failed (0x10).
#pragma once

#include <cstdint>

#include "board/byte_registers.h"
#include "board/host_transaction.h"
#include "board/port_map.h"
#include "board/smbus.h"
#include "board/start_watch.h"

namespace board {

namespace dual_status {
// Registers, at base + offset.
constexpr uint8_t kStatus = 0, kSecondStatus = 1, kControl = 2, kCommand = 3, kAddress = 4,
                  kData0 = 5, kData1 = 6, kBlockData = 7;
constexpr uint32_t kPortCount = 8;
namespace status {
constexpr uint8_t kBusy = 0x01, kFinished = 0x02, kDeviceError = 0x04, kCollision = 0x08,
                  kFailed = 0x10;
constexpr uint8_t kClearable = kFinished | kDeviceError | kCollision | kFailed;
}  // namespace status
namespace control {
constexpr uint8_t kAbort = 0x02, kStart = 0x40, kProtocolMask = 0x1C;
constexpr uint8_t kByte = 0x04, kByteData = 0x08, kWordData = 0x0C, kBlock = 0x14;
}  // namespace control
}  // namespace dual_status

// Faults the model can be told to show; all off by default.
struct DualStatusFaults {
  bool busyStuck = false;        // status busy reads set whatever happens, abort included
  bool secondBusyStuck = false;  // the second status register's busy flag stays set
  bool neverStarts = false;      // the start bit is ignored
  bool neverFinishes = false;    // a started transaction stays busy until aborted
  // Error flags (0x04, 0x08, 0x10, any mix) every transaction ends with,
  // instead of reaching the device.
  uint8_t errorFlags = 0;
  int blockCount = -1;  // >= 0: the count a block read reports, whatever the device sent
};

struct DualStatusState {
  uint8_t status = 0;  // latched flags; busy is kept apart
  uint8_t control = 0;
  HostRegisters registers;
  uint32_t blockIndex = 0;
  bool running = false;  // busy with a transaction
  bool hung = false;     // ... that only an abort ends
  uint32_t busyReadsLeft = 0;
  HostProtocol protocol = HostProtocol::Byte;
  // Counters for tests.
  uint32_t starts = 0;
  uint32_t aborts = 0;
};

class DualStatusHostModel : public ByteRegisterHandler, public StartWatch {
 public:
  DualStatusHostModel(SmbusBus& bus, uint16_t base);

  // Status reads that show busy before a transaction finishes; 0 finishes at once.
  void SetBusyReads(uint32_t reads) { busyReads_ = reads; }
  DualStatusFaults& Faults() { return faults_; }
  const DualStatusState& State() const { return state_; }

 private:
  uint8_t ReadRegister(uint8_t offset) override;
  void WriteRegister(uint8_t offset, uint8_t value) override;
  uint8_t ReadStatus();
  void WriteControl(uint8_t value);
  uint8_t ReadBlockData();
  void WriteBlockData(uint8_t value);
  void Begin(uint8_t protocol);
  void Finish();

  SmbusBus& bus_;
  uint32_t busyReads_ = 3;
  DualStatusFaults faults_;
  DualStatusState state_;
};

}  // namespace board
