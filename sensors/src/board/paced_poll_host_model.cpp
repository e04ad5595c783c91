#include "board/paced_poll_host_model.h"

#include <vector>

namespace board {

using namespace paced_poll;

PacedPollHostModel::PacedPollHostModel(SmbusBus& bus, uint16_t base)
    : ByteRegisterHandler(base, kPortCount), bus_(bus) {}

uint8_t PacedPollHostModel::ReadRegister(uint8_t offset) {
  switch (offset) {
    case kStatus:
      return ReadStatus();
    case kSecondStatus:
      return faults_.secondBusyStuck ? status::kBusy : 0;
    case kControl:
      state_.blockIndex = 0;  // reading control rewinds the block buffer
      ++state_.rewinds;
      return state_.control;
    case kCommand:
      return state_.command;
    case kAddress:
      return state_.address;
    case kData0:
      return state_.data0;
    case kData1:
      return state_.data1;
    case kBlockData:
      return NextBlockByte();
    default:
      return 0xFF;
  }
}

void PacedPollHostModel::WriteRegister(uint8_t offset, uint8_t value) {
  switch (offset) {
    case kStatus:
      state_.status = static_cast<uint8_t>(state_.status & ~(value & status::kClearable));
      break;
    case kControl:
      WriteControl(value);
      break;
    case kCommand:
      state_.command = value;
      break;
    case kAddress:
      state_.address = value;
      break;
    case kData0:
      state_.data0 = value;
      break;
    case kData1:
      state_.data1 = value;
      break;
    case kBlockData:
      if (state_.blockIndex < kBlockBufferSize) state_.block[state_.blockIndex] = value;
      state_.blockIndex = (state_.blockIndex + 1) % kBlockBufferSize;
      break;
    default:
      break;
  }
}

uint8_t PacedPollHostModel::NextBlockByte() {
  const uint8_t byte = state_.block[state_.blockIndex];
  state_.blockIndex = (state_.blockIndex + 1) % kBlockBufferSize;
  return byte;
}

// Each status read is one tick of the host's progress.
uint8_t PacedPollHostModel::ReadStatus() {
  uint8_t value = state_.status;
  if (state_.busy || faults_.busyStuck) value |= status::kBusy;
  if (state_.busy && !state_.hung && --state_.busyReadsLeft == 0) Finish();
  return value;
}

void PacedPollHostModel::WriteControl(uint8_t value) {
  state_.control = static_cast<uint8_t>(value & ~control::kStart);  // start reads back 0
  if (value & control::kKill) {
    Kill();
    return;
  }
  if (value & control::kStart) StartCommandWritten(state_.busy);
  if ((value & control::kStart) && !state_.busy && !faults_.neverStarts) {
    Start(value & control::kProtocolMask);
  }
}

void PacedPollHostModel::Start(uint8_t protocol) {
  ++state_.starts;
  protocol_ = protocol;
  state_.busy = true;
  state_.hung = faults_.neverFinishes;
  state_.busyReadsLeft = busyReads_;
  if (faults_.losesConfigAtStart && configLoss_) {
    faults_.losesConfigAtStart = false;
    configLoss_();
  }
}

void PacedPollHostModel::Finish() {
  state_.busy = false;
  uint8_t flags = faults_.errorFlags;
  if (flags == 0) {
    const bool known = protocol_ == control::kByte || protocol_ == control::kByteData ||
                       protocol_ == control::kWordData || protocol_ == control::kBlock;
    if (!known)
      flags = status::kFailed;
    else if (!Carry(protocol_))
      flags = status::kDeviceError;
  }
  state_.status |= static_cast<uint8_t>(status::kDone | flags);
}

bool PacedPollHostModel::Carry(uint8_t protocol) {
  const SlaveAddress target = SlaveAddress::FromAddressByte(state_.address);
  const bool read = (state_.address & 0x01) != 0;
  uint8_t wire[2] = {state_.data0, state_.data1};
  switch (protocol) {
    case control::kByte:
      return read ? bus_.ReceiveByte(target, &state_.data0) : bus_.SendByte(target, state_.command);
    case control::kByteData:
      return read ? bus_.ReadByte(target, state_.command, &state_.data0)
                  : bus_.WriteByte(target, state_.command, state_.data0);
    case control::kWordData:
      if (!read) return bus_.WriteWord(target, state_.command, wire);
      if (!bus_.ReadWord(target, state_.command, wire)) return false;
      state_.data0 = wire[0];
      state_.data1 = wire[1];
      return true;
    default:
      return CarryBlock(target, read);
  }
}

// The buffer holds what the device sent (at most 32 bytes); data0 holds the
// count byte it sent, which may promise more.
bool PacedPollHostModel::CarryBlock(SlaveAddress target, bool read) {
  state_.blockIndex = 0;
  if (!read) {
    const uint32_t count = state_.data0 < kBlockBufferSize ? state_.data0 : kBlockBufferSize;
    return bus_.BlockWrite(
        target, state_.command,
        std::vector<uint8_t>(state_.block.begin(), state_.block.begin() + count));
  }
  std::vector<uint8_t> block;
  if (!bus_.BlockRead(target, state_.command, &block)) return false;
  for (uint32_t i = 0; i < kBlockBufferSize; ++i)
    state_.block[i] = i < block.size() ? block[i] : 0;
  state_.data0 = static_cast<uint8_t>(faults_.blockCount >= 0 ? faults_.blockCount : block.size());
  return true;
}

void PacedPollHostModel::Kill() {
  ++state_.kills;
  if (!state_.busy) return;
  state_.busy = false;
  state_.hung = false;
  state_.status |= status::kFailed;
}

uint32_t AuxIndexDataPair::Read(uint32_t port, Width) {
  if (port != kDataPort) return 0xFF;
  ++dataReads_;
  return registers_[index_];
}

void AuxIndexDataPair::Write(uint32_t port, Width, uint32_t value) {
  if (port != kIndexPort) return;
  ++indexWrites_;
  index_ = static_cast<uint8_t>(value);
}

}  // namespace board
