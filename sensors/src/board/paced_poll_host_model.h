// Behavioural model of the paced-poll SMBus host controller (Chipset 4, 5
// and 6): eight byte-wide registers at a base port, carrying transactions out
// on a simulated SMBus.
//
// What the model holds to:
//  - one write of the control register with the start bit (0x40) starts the
//    protocol in bits 4..2; the start bit reads back 0; no start is taken
//    while the host is busy or the kill bit (0x02) is set;
//  - the host then shows busy for a configurable number of status reads, and
//    finishes with done (0x02) or an error flag: device error (0x04) for a
//    device that does not answer, failed (0x10) for a kill or a protocol the
//    host lacks;
//  - status flags are cleared by writing 1 to them, so writing back the value
//    read clears it; busy is read-only;
//  - the second status register (+1) shows busy in bit 0x01 only when told;
//  - the 32-byte block buffer sits behind the block data register (+7); each
//    access moves its index on by one, and a read of the control register
//    rewinds it; data0 holds the block count;
//  - kill (0x02 in control) ends a running transaction with failed; 0x00
//    releases it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "board/byte_registers.h"
#include "board/port_map.h"
#include "board/smbus.h"
#include "board/start_watch.h"

namespace board {

namespace paced_poll {
// Registers, at base + offset.
constexpr uint8_t kStatus = 0, kSecondStatus = 1, kControl = 2, kCommand = 3, kAddress = 4,
                  kData0 = 5, kData1 = 6, kBlockData = 7;
constexpr uint32_t kPortCount = 8;
namespace status {
constexpr uint8_t kBusy = 0x01, kDone = 0x02, kDeviceError = 0x04, kBusError = 0x08, kFailed = 0x10;
constexpr uint8_t kClearable = kDone | kDeviceError | kBusError | kFailed;
}  // namespace status
namespace control {
constexpr uint8_t kKill = 0x02, kStart = 0x40;
constexpr uint8_t kProtocolMask = 0x1C;
constexpr uint8_t kByte = 0x04, kByteData = 0x08, kWordData = 0x0C, kBlock = 0x14;
}  // namespace control
constexpr uint32_t kBlockBufferSize = 32;
}  // namespace paced_poll

// Faults the model can be told to show; all off by default.
struct PacedPollFaults {
  bool busyStuck = false;           // busy reads set whatever happens, kill included
  bool secondBusyStuck = false;     // the second status register reads busy for good
  bool neverStarts = false;         // the start bit is ignored: neither busy nor done
  bool neverFinishes = false;       // a started transaction stays busy until killed
  uint8_t errorFlags = 0;           // flags (0x04, 0x08, 0x10, any mix) every transaction ends with
  int blockCount = -1;              // >= 0: the count a block read reports
  bool losesConfigAtStart = false;  // the next start makes the host drop off the bus (once)
};

struct PacedPollState {
  uint8_t status = 0;  // latched flags; busy is kept apart
  uint8_t control = 0;
  uint8_t command = 0;
  uint8_t address = 0;
  uint8_t data0 = 0;
  uint8_t data1 = 0;
  std::array<uint8_t, paced_poll::kBlockBufferSize> block{};
  uint32_t blockIndex = 0;
  bool busy = false;
  bool hung = false;  // busy until killed
  uint32_t busyReadsLeft = 0;
  // Counters for tests.
  uint32_t starts = 0;
  uint32_t kills = 0;
  uint32_t rewinds = 0;
};

class PacedPollHostModel : public ByteRegisterHandler, public StartWatch {
 public:
  PacedPollHostModel(SmbusBus& bus, uint16_t base);

  // Status reads that show busy before a transaction finishes (at least 1).
  void SetBusyReads(uint32_t reads) { busyReads_ = reads == 0 ? 1 : reads; }
  PacedPollFaults& Faults() { return faults_; }
  const PacedPollState& State() const { return state_; }
  // What dropping off the bus means on this board (the losesConfigAtStart fault).
  void OnConfigLoss(std::function<void()> loss) { configLoss_ = std::move(loss); }

 private:
  uint8_t ReadRegister(uint8_t offset) override;
  void WriteRegister(uint8_t offset, uint8_t value) override;
  uint8_t ReadStatus();
  void WriteControl(uint8_t value);
  uint8_t NextBlockByte();

  void Start(uint8_t protocol);
  void Finish();
  bool Carry(uint8_t protocol);
  bool CarryBlock(SlaveAddress target, bool read);
  void Kill();

  SmbusBus& bus_;
  uint32_t busyReads_ = 2;
  uint8_t protocol_ = 0;
  PacedPollFaults faults_;
  PacedPollState state_;
  std::function<void()> configLoss_;
};

// The auxiliary index/data pair of the Chipset 5 board (0xC50/0xC51): a write
// to the index port selects a register, each data read answers it.
class AuxIndexDataPair : public PortHandler {
 public:
  static constexpr uint32_t kIndexPort = 0xC50;
  static constexpr uint32_t kDataPort = 0xC51;

  void MapInto(PortMap& map) { map.Map(kIndexPort, 2, this); }
  void SetRegister(uint8_t index, uint8_t value) { registers_[index] = value; }
  uint8_t Index() const { return index_; }
  uint32_t IndexWrites() const { return indexWrites_; }
  uint32_t DataReads() const { return dataReads_; }

  uint32_t Read(uint32_t port, Width width) override;
  void Write(uint32_t port, Width width, uint32_t value) override;

 private:
  std::array<uint8_t, 256> registers_{};
  uint8_t index_ = 0;
  uint32_t indexWrites_ = 0;
  uint32_t dataReads_ = 0;
};

}  // namespace board
