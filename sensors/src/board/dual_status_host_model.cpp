#include "board/dual_status_host_model.h"

namespace board {

using namespace dual_status;

DualStatusHostModel::DualStatusHostModel(SmbusBus& bus, uint16_t base)
    : ByteRegisterHandler(base, kPortCount), bus_(bus) {}

uint8_t DualStatusHostModel::ReadRegister(uint8_t offset) {
  switch (offset) {
    case kStatus:
      return ReadStatus();
    case kSecondStatus:
      return faults_.secondBusyStuck ? status::kBusy : 0;
    case kControl:
      state_.blockIndex = 0;  // a control read rewinds the block data index
      return state_.control;
    case kCommand:
      return state_.registers.command;
    case kAddress:
      return state_.registers.address;
    case kData0:
      return state_.registers.data0;
    case kData1:
      return state_.registers.data1;
    default:
      return ReadBlockData();
  }
}

void DualStatusHostModel::WriteRegister(uint8_t offset, uint8_t value) {
  switch (offset) {
    case kStatus:
      state_.status = static_cast<uint8_t>(state_.status & ~(value & status::kClearable));
      break;
    case kControl:
      WriteControl(value);
      break;
    case kCommand:
      state_.registers.command = value;
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
      break;  // the second status register is read-only
  }
}

// Each status read is one tick of the host's progress.
uint8_t DualStatusHostModel::ReadStatus() {
  uint8_t value = state_.status;
  if (state_.running || faults_.busyStuck) value |= status::kBusy;
  if (state_.running && !state_.hung && --state_.busyReadsLeft == 0) Finish();
  return value;
}

void DualStatusHostModel::WriteControl(uint8_t value) {
  state_.control = static_cast<uint8_t>(value & ~control::kStart);  // start reads back 0
  if (value & control::kAbort) {
    ++state_.aborts;
    if (state_.running) state_.status |= status::kFailed;
    state_.running = false;
    return;
  }
  if (value & control::kStart) StartCommandWritten(state_.running);
  if ((value & control::kStart) && !state_.running && !faults_.neverStarts) {
    Begin(value & control::kProtocolMask);
  }
}

uint8_t DualStatusHostModel::ReadBlockData() {
  const std::vector<uint8_t>& block = state_.registers.block;
  return state_.blockIndex < block.size() ? block[state_.blockIndex++] : 0xFF;
}

void DualStatusHostModel::WriteBlockData(uint8_t value) {
  std::vector<uint8_t>& block = state_.registers.block;
  if (state_.blockIndex >= kSmbusMaxBlock) return;  // the buffer ends here
  if (block.size() <= state_.blockIndex) block.resize(state_.blockIndex + 1);
  block[state_.blockIndex++] = value;
}

void DualStatusHostModel::Begin(uint8_t protocol) {
  ++state_.starts;
  switch (protocol) {
    case control::kByte:
      state_.protocol = HostProtocol::Byte;
      break;
    case control::kByteData:
      state_.protocol = HostProtocol::ByteData;
      break;
    case control::kWordData:
      state_.protocol = HostProtocol::WordData;
      break;
    case control::kBlock:
      state_.protocol = HostProtocol::Block;
      break;
    default:
      state_.status |= status::kFinished | status::kFailed;  // a protocol this host lacks
      return;
  }
  state_.running = true;
  state_.hung = faults_.neverFinishes;
  state_.busyReadsLeft = busyReads_;
  if (busyReads_ == 0 && !state_.hung) Finish();
}

void DualStatusHostModel::Finish() {
  state_.running = false;
  uint8_t flags = faults_.errorFlags;
  if (flags == 0 && !CarryOut(bus_, state_.protocol, &state_.registers, faults_.blockCount)) {
    flags = status::kDeviceError;
  }
  state_.status |= static_cast<uint8_t>(status::kFinished | flags);
}

}  // namespace board
