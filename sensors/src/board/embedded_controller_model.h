// Behavioural model of the embedded controller that carries the SMBus host
// of Chipset 10: a data port at the base and a command/status port four
// above it, and a 256-byte register space whose first registers are an
// SMBus host controller.
//
// What the model holds to:
//  - a byte written to either port sets input full (0x02); the controller
//    takes it only after a configurable number of status reads, and a byte
//    written while input is still full replaces the one waiting (counted as
//    an overrun);
//  - a byte the controller produces (a register value, an event byte) shows
//    output full (0x01) only after the same number of status reads; reading
//    the data port takes it and clears the flag, and a read with output
//    empty gets the stale byte (counted);
//  - 0x08 in the status shows that the last byte written went to the
//    command port;
//  - commands: read register (0x80, then the index), write register (0x81,
//    then the index and the value), query event (0x84: the oldest queued
//    event byte, or 0 when none is queued); unknown commands are ignored;
//  - the event flag (0x20) is set while an event byte is queued;
//  - writing a non-zero protocol number to register 0x00 starts an SMBus
//    transaction: the status register reads 0 until it finishes, a
//    configurable number of status reads later. It then holds 0x80, or the
//    status code of the outcome (0x10 nobody answered, 0x11 the device
//    refused, 0x19 unknown protocol), the protocol register reads 0 again
//    and the event byte kSmbusEvent is queued.
#pragma once

#include <array>
#include <cstdint>
#include <deque>

#include "board/start_watch.h"
#include "board/port_map.h"
#include "board/smbus.h"

namespace board {

namespace ec {
constexpr uint32_t kDataOffset = 0, kCommandOffset = 4;
constexpr uint32_t kPortSpan = 8;
namespace status {
constexpr uint8_t kOutputFull = 0x01, kInputFull = 0x02, kCommandLast = 0x08, kEventPending = 0x20;
}  // namespace status
namespace command {
constexpr uint8_t kReadRegister = 0x80, kWriteRegister = 0x81, kQueryEvent = 0x84;
}  // namespace command
// The SMBus host's registers in the controller's register space.
namespace smb {
constexpr uint8_t kProtocol = 0x00, kStatus = 0x01, kAddress = 0x02, kCommand = 0x03, kData = 0x04,
                  kBlockCount = 0x24;
constexpr uint8_t kPec = 0x80;  // in the protocol register
constexpr uint8_t kDone = 0x80, kNoAcknowledge = 0x10, kDeviceError = 0x11, kUnknownProtocol = 0x19;
}  // namespace smb
namespace protocol {
constexpr uint8_t kSendByte = 0x04, kReceiveByte = 0x05, kWriteByte = 0x06, kReadByte = 0x07,
                  kWriteWord = 0x08, kReadWord = 0x09, kBlockWrite = 0x0A, kBlockRead = 0x0B;
}  // namespace protocol
constexpr uint8_t kSmbusEvent = 0x5E;  // queued when an SMBus transaction finishes
}  // namespace ec

// Faults the model can be told to show; all off by default.
struct EmbeddedControllerFaults {
  bool inputStuckFull = false;    // input full reads set; nothing written is taken
  bool outputNeverFull = false;   // produced bytes never show output full
  bool eventNeverRaised = false;  // the event flag always reads clear
  bool eventStuckSet = false;     // the event flag always reads set
  int status = -1;                // >= 0: every SMBus transaction ends with this status instead
  int blockCount = -1;            // >= 0: what a block read leaves in the count register
};

// Counters for tests.
struct EmbeddedControllerCounters {
  uint32_t overruns = 0;    // bytes written while input was full
  uint32_t staleReads = 0;  // data port reads with output empty
  uint32_t queries = 0;
  uint32_t transactions = 0;
  uint32_t pecRequests = 0;
};

class EmbeddedControllerModel : public PortHandler, public StartWatch {
 public:
  EmbeddedControllerModel(SmbusBus& bus, uint16_t base);

  void MapInto(PortMap& map) { map.Map(base_, ec::kPortSpan, this); }
  uint16_t Base() const { return base_; }

  // Status reads before a written byte is taken and before a produced byte
  // shows; 0 does both at once.
  void SetHandshakeReads(uint32_t reads) { handshakeReads_ = reads; }
  // Status reads from the protocol write until the transaction finishes.
  void SetTransactionReads(uint32_t reads) { transactionReads_ = reads; }
  // Queues an event byte, as the controller's other duties do.
  void RaiseEvent(uint8_t event) { events_.push_back(event); }

  EmbeddedControllerFaults& Faults() { return faults_; }
  const EmbeddedControllerCounters& Counters() const { return counters_; }
  const std::deque<uint8_t>& Events() const { return events_; }
  uint8_t Register(uint8_t index) const { return registers_[index]; }
  bool Running() const { return running_; }

  uint32_t Read(uint32_t port, Width width) override;
  void Write(uint32_t port, Width width, uint32_t value) override;

 private:
  enum class Phase : uint8_t { Idle, ReadIndex, WriteIndex, WriteValue };

  uint8_t ReadPort(uint32_t offset);
  void WritePort(uint32_t offset, uint8_t value);
  uint8_t ReadStatus();
  uint8_t ReadData();
  void Tick();
  void Take();
  void TakeCommand(uint8_t value);
  void TakeData(uint8_t value);
  void Produce(uint8_t value);
  void WriteRegister(uint8_t index, uint8_t value);
  void Start();
  void Finish();
  uint8_t Carry(uint8_t protocolNumber);
  bool CarryBlock(SlaveAddress address, bool read);

  SmbusBus& bus_;
  uint16_t base_;
  uint32_t handshakeReads_ = 1;
  uint32_t transactionReads_ = 3;
  EmbeddedControllerFaults faults_;
  EmbeddedControllerCounters counters_;

  std::array<uint8_t, 256> registers_{};
  std::deque<uint8_t> events_;
  Phase phase_ = Phase::Idle;
  uint8_t index_ = 0;
  bool inputFull_ = false;
  bool inputIsCommand_ = false;
  uint8_t input_ = 0;
  uint32_t inputReadsLeft_ = 0;
  bool commandLast_ = false;
  bool outputFull_ = false;
  bool outputPending_ = false;  // produced, not yet shown
  uint8_t output_ = 0;
  uint32_t outputReadsLeft_ = 0;
  bool running_ = false;
  uint32_t transactionReadsLeft_ = 0;
};

}  // namespace board
