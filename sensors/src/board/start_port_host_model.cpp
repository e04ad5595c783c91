#include "board/start_port_host_model.h"

namespace board {

using namespace start_port;

StartPortHostModel::StartPortHostModel(SmbusBus& bus, uint16_t base)
    : ByteRegisterHandler(base, kPortCount), bus_(bus) {}

uint8_t StartPortHostModel::ReadRegister(uint8_t offset) {
  switch (offset) {
    case kStatus:
      return ReadStatus();
    case kProtocol:
      return state_.protocol;
    case kStart:
      return 0;  // the start reads back 0
    case kAddress:
      return state_.registers.address;
    case kData0:
      return state_.registers.data0;
    case kData1:
      return state_.registers.data1;
    case kBlockData:
      return ReadBlockData();
    default:
      return state_.registers.command;
  }
}

void StartPortHostModel::WriteRegister(uint8_t offset, uint8_t value) {
  switch (offset) {
    case kStatus:
      WriteStatus(value);
      break;
    case kProtocol:
      WriteProtocol(value);
      break;
    case kStart:
      WriteStart(value);
      break;
    case kAddress:
      state_.registers.address = value;
      break;
    case kData0:
      state_.registers.data0 = value;
      break;
    case kData1:
      state_.registers.data1 = value;
      break;
    case kBlockData:
      WriteBlockData(value);
      break;
    default:
      state_.registers.command = value;
      break;
  }
}

// Each status read is one tick of the host's progress.
uint8_t StartPortHostModel::ReadStatus() {
  uint8_t value = state_.status;
  const StartPortPhase phase = state_.phase;
  if (phase == StartPortPhase::Working || phase == StartPortPhase::Hung || faults_.busyStuck) {
    value |= status::kBusy;
  } else if (phase == StartPortPhase::Idle && !faults_.notIdle) {
    value |= status::kIdle;
  }
  Tick();
  return value;
}

void StartPortHostModel::WriteStatus(uint8_t value) {
  state_.status = static_cast<uint8_t>(state_.status & ~(value & status::kClearable));
  if (value & status::kRewindBlock) state_.blockIndex = 0;
}

void StartPortHostModel::WriteProtocol(uint8_t value) {
  if (value != protocol::kKill) {
    state_.protocol = value;
    return;
  }
  ++state_.kills;
  if (state_.phase != StartPortPhase::Idle) state_.status |= status::kFailed;
  state_.phase = StartPortPhase::Idle;
}

void StartPortHostModel::WriteStart(uint8_t value) {
  if ((value & kGo) == 0) return;
  StartCommandWritten(state_.phase != StartPortPhase::Idle);
  if (state_.phase != StartPortPhase::Idle || faults_.neverStarts) return;
  ++state_.starts;
  if (faults_.neverFinishes) {
    state_.phase = StartPortPhase::Hung;
    return;
  }
  state_.phase = StartPortPhase::Working;
  state_.readsLeft = busyReads_;
  if (busyReads_ == 0) CarryOutNow();
}

uint8_t StartPortHostModel::ReadBlockData() {
  const std::vector<uint8_t>& block = state_.registers.block;
  return state_.blockIndex < block.size() ? block[state_.blockIndex++] : 0xFF;
}

void StartPortHostModel::WriteBlockData(uint8_t value) {
  std::vector<uint8_t>& block = state_.registers.block;
  if (state_.blockIndex >= kSmbusMaxBlock) return;  // the buffer ends here
  if (block.size() <= state_.blockIndex) block.resize(state_.blockIndex + 1);
  block[state_.blockIndex++] = value;
}

void StartPortHostModel::Tick() {
  if (state_.phase == StartPortPhase::Working && --state_.readsLeft == 0) {
    CarryOutNow();
  } else if (state_.phase == StartPortPhase::Settling && --state_.readsLeft == 0) {
    state_.phase = StartPortPhase::Idle;
  }
}

void StartPortHostModel::CarryOutNow() {
  HostProtocol kind;
  switch (state_.protocol) {
    case protocol::kByte:
      kind = HostProtocol::Byte;
      break;
    case protocol::kByteData:
      kind = HostProtocol::ByteData;
      break;
    case protocol::kWordData:
      kind = HostProtocol::WordData;
      break;
    case protocol::kBlock:
      kind = HostProtocol::Block;
      break;
    default:
      state_.status |= status::kDone | status::kFailed;  // a type this host lacks
      Settle();
      return;
  }
  uint8_t flags = faults_.errorFlags;
  if (flags == 0 && !CarryOut(bus_, kind, &state_.registers, faults_.blockCount)) {
    flags = status::kDeviceError;
  }
  state_.status |= static_cast<uint8_t>(status::kDone | flags);
  Settle();
}

void StartPortHostModel::Settle() {
  state_.phase = StartPortPhase::Settling;
  state_.readsLeft = settleReads_;
  if (settleReads_ == 0) state_.phase = StartPortPhase::Idle;
}

}  // namespace board
