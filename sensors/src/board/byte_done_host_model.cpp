#include "board/byte_done_host_model.h"

namespace board {

using namespace byte_done;

ByteDoneHostModel::ByteDoneHostModel(SmbusBus& bus, uint16_t base)
    : ByteRegisterHandler(base, kPortCount), bus_(bus) {}

bool ByteDoneHostModel::Busy() const {
  return faults_.busyStuck || state_.phase != ByteDonePhase::Idle;
}

uint8_t ByteDoneHostModel::ReadRegister(uint8_t offset) {
  switch (offset) {
    case kStatus:
      return ReadStatus();
    case kControl:
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
      return ReadBlockData();
    default:
      return 0xFF;  // no register here
  }
}

void ByteDoneHostModel::WriteRegister(uint8_t offset, uint8_t value) {
  switch (offset) {
    case kStatus:
      WriteStatus(value);
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
      state_.blockData = value;
      break;
    default:
      break;
  }
}

// Each status read is one tick of the host's progress.
uint8_t ByteDoneHostModel::ReadStatus() {
  const bool shownInUse = state_.inUse || faults_.inUseStuck || faults_.inUseHeld;
  uint8_t value = state_.status;
  if (Busy()) value |= status::kBusy;
  if (shownInUse) value |= status::kInUse;
  if (!shownInUse) state_.inUse = true;  // the read that finds it free claims it
  if (state_.phase == ByteDonePhase::Working && --state_.busyReadsLeft == 0) Complete();
  return value;
}

void ByteDoneHostModel::WriteStatus(uint8_t value) {
  const bool byteDoneCleared = (value & state_.status & status::kByteDone) != 0;
  state_.status = static_cast<uint8_t>(state_.status & ~(value & status::kClearable));
  if (value & status::kInUse) {
    state_.inUse = false;
    faults_.inUseHeld = false;
  }
  if (byteDoneCleared && state_.phase == ByteDonePhase::Holding) ByteDoneCleared();
}

void ByteDoneHostModel::WriteControl(uint8_t value) {
  state_.control = static_cast<uint8_t>(value & ~control::kStart);  // start reads back 0
  if (value & control::kPec) ++state_.pecRequests;
  if (value & control::kKill) {
    Kill();
    return;
  }
  if (value & control::kStart) StartCommandWritten(state_.phase != ByteDonePhase::Idle);
  if ((value & control::kStart) && state_.phase == ByteDonePhase::Idle && !faults_.neverStarts) {
    Begin(value & control::kProtocolMask);
  }
  if (value & control::kLastByte) {
    state_.lastByte = true;
    if (state_.phase == ByteDonePhase::AwaitLast) End(0);
  }
}

uint8_t ByteDoneHostModel::ReadBlockData() const {
  const bool reading = state_.protocol == control::kBlock && state_.read;
  if (!reading || state_.phase == ByteDonePhase::Idle) return state_.blockData;
  if (state_.blockIndex < state_.block.size()) return state_.block[state_.blockIndex];
  return 0xFF;  // the count promised more than the device sent
}

void ByteDoneHostModel::Begin(uint8_t protocol) {
  ++state_.starts;
  state_.protocol = protocol;
  state_.read = (state_.address & 0x01) != 0;
  state_.block.clear();
  state_.blockIndex = 0;
  state_.blockCount = 0;
  state_.lastByte = false;
  if (faults_.neverFinishes) {
    state_.phase = ByteDonePhase::Hung;
    return;
  }
  switch (protocol) {
    case control::kQuick:
    case control::kByte:
    case control::kByteData:
    case control::kWordData:
      Work(ByteDoneStep::Transaction);
      return;
    case control::kBlock:
      break;
    default:
      End(status::kFailed);  // a protocol this host does not have
      return;
  }
  if (state_.read) {
    Work(ByteDoneStep::BlockReadFirst);
    return;
  }
  state_.blockCount = state_.data0;
  if (state_.blockCount == 0 || state_.blockCount > kSmbusMaxBlock) {
    End(status::kFailed);
    return;
  }
  state_.block.push_back(state_.blockData);  // the first byte goes out with the start
  Work(ByteDoneStep::BlockWriteByte);
}

void ByteDoneHostModel::Work(ByteDoneStep step) {
  state_.phase = ByteDonePhase::Working;
  state_.step = step;
  state_.busyReadsLeft = busyReads_;
  if (busyReads_ == 0) Complete();
}

void ByteDoneHostModel::Complete() {
  switch (state_.step) {
    case ByteDoneStep::Transaction:
      CarryTransaction();
      return;
    case ByteDoneStep::BlockReadFirst:
      FirstBlockByte();
      return;
    case ByteDoneStep::BlockReadNext:
      BlockByteReady();
      return;
    case ByteDoneStep::BlockWriteByte:
      BlockByteSent();
      return;
  }
}

void ByteDoneHostModel::CarryTransaction() {
  if (faults_.errorFlags != 0) {
    End(faults_.errorFlags);
    return;
  }
  End(CarrySimple(Target()) ? 0 : status::kDeviceError);
}

bool ByteDoneHostModel::CarrySimple(SlaveAddress address) {
  const bool read = state_.read;
  uint8_t wire[2] = {state_.data0, state_.data1};
  switch (state_.protocol) {
    case control::kQuick:
      return bus_.Quick(address, read);
    case control::kByte:
      if (!read) return bus_.SendByte(address, state_.command);
      if (!bus_.ReceiveByte(address, &wire[0])) return false;
      break;
    case control::kByteData:
      if (!read) return bus_.WriteByte(address, state_.command, state_.data0);
      if (!bus_.ReadByte(address, state_.command, &wire[0])) return false;
      break;
    case control::kWordData:
      if (!read) return bus_.WriteWord(address, state_.command, wire);
      if (!bus_.ReadWord(address, state_.command, wire)) return false;
      state_.data1 = wire[1];
      break;
    default:
      return false;
  }
  state_.data0 = wire[0];
  return true;
}

void ByteDoneHostModel::FirstBlockByte() {
  if (!bus_.BlockRead(Target(), state_.command, &state_.block)) {
    End(status::kDeviceError);
    return;
  }
  state_.blockCount = faults_.blockCount >= 0 ? static_cast<uint32_t>(faults_.blockCount)
                                              : static_cast<uint32_t>(state_.block.size());
  state_.data0 = static_cast<uint8_t>(state_.blockCount);
  BlockByteReady();
}

// Injected trouble at the current block byte: an error that ends the
// transaction, an alert, or a byte done that never comes.
bool ByteDoneHostModel::ByteFault() {
  if (faults_.byteDoneNeverAt >= 0 &&
      state_.blockIndex == static_cast<uint32_t>(faults_.byteDoneNeverAt)) {
    state_.phase = ByteDonePhase::Hung;
    return true;
  }
  if (faults_.errorFlags == 0 || state_.blockIndex != faults_.errorAtByte) return false;
  // An alert is raised beside the transfer; the other errors end it.
  state_.status |= faults_.errorFlags & status::kAlert;
  const uint8_t ending = faults_.errorFlags & static_cast<uint8_t>(~status::kAlert);
  if (ending == 0) return false;
  End(ending);
  return true;
}

void ByteDoneHostModel::BlockByteReady() {
  if (ByteFault()) return;
  state_.status |= status::kByteDone;
  state_.phase = ByteDonePhase::Holding;
}

void ByteDoneHostModel::BlockByteSent() {
  if (ByteFault()) return;
  if (state_.blockIndex == 0 && !bus_.IsPresent(Target())) {
    End(status::kDeviceError);  // nobody acknowledged the address
    return;
  }
  if (state_.blockIndex + 1 < state_.blockCount) {
    state_.status |= status::kByteDone;
    state_.phase = ByteDonePhase::Holding;
    return;
  }
  const bool accepted = bus_.BlockWrite(Target(), state_.command, state_.block);
  End(accepted ? 0 : status::kDeviceError);
}

void ByteDoneHostModel::ByteDoneCleared() {
  ++state_.blockIndex;
  if (!state_.read) {
    state_.block.push_back(state_.blockData);  // the byte the driver just wrote
    Work(ByteDoneStep::BlockWriteByte);
    return;
  }
  if (state_.blockIndex < state_.blockCount) {
    Work(ByteDoneStep::BlockReadNext);
    return;
  }
  if (state_.lastByte) {
    End(0);
    return;
  }
  state_.phase = ByteDonePhase::AwaitLast;
}

void ByteDoneHostModel::End(uint8_t flags) {
  state_.status |= static_cast<uint8_t>(status::kDone | flags);
  state_.phase = ByteDonePhase::Idle;
}

void ByteDoneHostModel::Kill() {
  ++state_.kills;
  state_.status |= status::kFailed;
  state_.phase = ByteDonePhase::Idle;
}

}  // namespace board
