#include "board/embedded_controller_model.h"

#include <vector>

namespace board {

using namespace ec;

namespace {
constexpr uint8_t kOpenBus = 0xFF;
constexpr uint8_t kNoEvent = 0x00;  // a query's answer when nothing is queued
constexpr uint8_t kProtocolMask = 0x7F;
constexpr uint8_t kBlockCountMask = 0x1F;
constexpr size_t kDataBytes = 32;
}  // namespace

EmbeddedControllerModel::EmbeddedControllerModel(SmbusBus& bus, uint16_t base)
    : bus_(bus), base_(base) {}

uint32_t EmbeddedControllerModel::Read(uint32_t port, Width width) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < static_cast<uint32_t>(width); ++i) {
    value |= static_cast<uint32_t>(ReadPort(port - base_ + i)) << (8 * i);
  }
  return value;
}

void EmbeddedControllerModel::Write(uint32_t port, Width width, uint32_t value) {
  for (uint32_t i = 0; i < static_cast<uint32_t>(width); ++i) {
    WritePort(port - base_ + i, static_cast<uint8_t>(value >> (8 * i)));
  }
}

uint8_t EmbeddedControllerModel::ReadPort(uint32_t offset) {
  switch (offset) {
    case kDataOffset:
      return ReadData();
    case kCommandOffset:
      return ReadStatus();
    default:
      return kOpenBus;
  }
}

void EmbeddedControllerModel::WritePort(uint32_t offset, uint8_t value) {
  if (offset != kDataOffset && offset != kCommandOffset) return;
  commandLast_ = offset == kCommandOffset;
  if (faults_.inputStuckFull) return;    // never taken
  if (inputFull_) ++counters_.overruns;  // the byte waiting is lost
  inputFull_ = true;
  inputIsCommand_ = commandLast_;
  input_ = value;
  inputReadsLeft_ = handshakeReads_;
  if (handshakeReads_ == 0) Take();
}

// Each status read is one tick of the controller's progress; it shows the
// state before the tick.
uint8_t EmbeddedControllerModel::ReadStatus() {
  uint8_t value = 0;
  if (outputFull_ && !faults_.outputNeverFull) value |= status::kOutputFull;
  if (inputFull_ || faults_.inputStuckFull) value |= status::kInputFull;
  if (commandLast_) value |= status::kCommandLast;
  const bool event = !events_.empty() || faults_.eventStuckSet;
  if (event && !faults_.eventNeverRaised) value |= status::kEventPending;
  Tick();
  return value;
}

uint8_t EmbeddedControllerModel::ReadData() {
  if (!outputFull_ || faults_.outputNeverFull) {
    ++counters_.staleReads;
    return output_;
  }
  outputFull_ = false;
  return output_;
}

// A byte produced or a transaction started by this tick's input waits for
// later ticks.
void EmbeddedControllerModel::Tick() {
  if (outputPending_ && --outputReadsLeft_ == 0) {
    outputPending_ = false;
    outputFull_ = true;
  }
  if (running_ && --transactionReadsLeft_ == 0) Finish();
  if (inputFull_ && --inputReadsLeft_ == 0) Take();
}

void EmbeddedControllerModel::Take() {
  inputFull_ = false;
  if (inputIsCommand_) {
    TakeCommand(input_);
    return;
  }
  TakeData(input_);
}

// A command starts afresh, whatever the one before was waiting for.
void EmbeddedControllerModel::TakeCommand(uint8_t value) {
  phase_ = Phase::Idle;
  switch (value) {
    case command::kReadRegister:
      phase_ = Phase::ReadIndex;
      return;
    case command::kWriteRegister:
      phase_ = Phase::WriteIndex;
      return;
    case command::kQueryEvent: {
      ++counters_.queries;
      uint8_t event = kNoEvent;
      if (!events_.empty()) {
        event = events_.front();
        events_.pop_front();
      }
      Produce(event);
      return;
    }
    default:
      return;
  }
}

void EmbeddedControllerModel::TakeData(uint8_t value) {
  switch (phase_) {
    case Phase::ReadIndex:
      phase_ = Phase::Idle;
      Produce(registers_[value]);
      return;
    case Phase::WriteIndex:
      index_ = value;
      phase_ = Phase::WriteValue;
      return;
    case Phase::WriteValue:
      phase_ = Phase::Idle;
      WriteRegister(index_, value);
      return;
    case Phase::Idle:
      return;  // a data byte nobody asked for
  }
}

void EmbeddedControllerModel::Produce(uint8_t value) {
  output_ = value;
  outputFull_ = false;
  outputPending_ = handshakeReads_ != 0;
  outputReadsLeft_ = handshakeReads_;
  if (!outputPending_) outputFull_ = true;
}

void EmbeddedControllerModel::WriteRegister(uint8_t index, uint8_t value) {
  registers_[index] = value;
  if (index == smb::kProtocol && value != 0) {
    StartCommandWritten(running_);
    Start();
  }
}

void EmbeddedControllerModel::Start() {
  ++counters_.transactions;
  if (registers_[smb::kProtocol] & smb::kPec) ++counters_.pecRequests;
  registers_[smb::kStatus] = 0;
  running_ = true;
  transactionReadsLeft_ = transactionReads_;
  if (transactionReads_ == 0) Finish();
}

void EmbeddedControllerModel::Finish() {
  running_ = false;
  const uint8_t protocolNumber = registers_[smb::kProtocol] & kProtocolMask;
  registers_[smb::kStatus] =
      faults_.status >= 0 ? static_cast<uint8_t>(faults_.status) : Carry(protocolNumber);
  registers_[smb::kProtocol] = 0;
  RaiseEvent(kSmbusEvent);
}

// The transaction on the bus; the status it leaves.
uint8_t EmbeddedControllerModel::Carry(uint8_t protocolNumber) {
  const SlaveAddress address = SlaveAddress::FromAddressByte(registers_[smb::kAddress]);
  const uint8_t command = registers_[smb::kCommand];
  uint8_t* data = &registers_[smb::kData];
  uint8_t wire[2] = {data[0], data[1]};
  bool ok = false;
  switch (protocolNumber) {
    case protocol::kSendByte:
      ok = bus_.SendByte(address, command);
      break;
    case protocol::kReceiveByte:
      ok = bus_.ReceiveByte(address, &data[0]);
      break;
    case protocol::kWriteByte:
      ok = bus_.WriteByte(address, command, data[0]);
      break;
    case protocol::kReadByte:
      ok = bus_.ReadByte(address, command, &data[0]);
      break;
    case protocol::kWriteWord:
      ok = bus_.WriteWord(address, command, wire);
      break;
    case protocol::kReadWord:
      ok = bus_.ReadWord(address, command, wire);
      if (ok) data[0] = wire[0], data[1] = wire[1];
      break;
    case protocol::kBlockWrite:
    case protocol::kBlockRead:
      ok = CarryBlock(address, protocolNumber == protocol::kBlockRead);
      break;
    default:
      return smb::kUnknownProtocol;
  }
  if (ok) return smb::kDone;
  return bus_.IsPresent(address) ? smb::kDeviceError : smb::kNoAcknowledge;
}

// Block lengths travel in the count register's low five bits, 0 for 32.
bool EmbeddedControllerModel::CarryBlock(SlaveAddress address, bool read) {
  uint8_t* data = &registers_[smb::kData];
  const uint8_t command = registers_[smb::kCommand];
  if (!read) {
    const size_t length = registers_[smb::kBlockCount] & kBlockCountMask;
    const std::vector<uint8_t> block(data, data + (length == 0 ? kDataBytes : length));
    return bus_.BlockWrite(address, command, block);
  }
  std::vector<uint8_t> block;
  if (!bus_.BlockRead(address, command, &block)) return false;
  const size_t length = block.size() < kDataBytes ? block.size() : kDataBytes;
  for (size_t i = 0; i < length; ++i)
    data[i] = block[i];
  registers_[smb::kBlockCount] = faults_.blockCount >= 0 ? static_cast<uint8_t>(faults_.blockCount)
                                                         : static_cast<uint8_t>(length);
  return true;
}

}  // namespace board
