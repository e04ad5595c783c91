#include "board/chunk_buffer_host_model.h"

#include <algorithm>

namespace board {

using namespace chunk_buffer;

ChunkBufferHostModel::ChunkBufferHostModel(SmbusBus& bus, uint16_t base)
    : ByteRegisterHandler(base, kPortCount), bus_(bus) {}

uint8_t ChunkBufferHostModel::ReadRegister(uint8_t offset) {
  if (offset >= kData0) return ReadData(static_cast<uint8_t>(offset - kData0));
  switch (offset) {
    case kStatus:
      return ReadStatus();
    case kPrepared:
      return state_.prepared;
    case kHostState:
      return ReadHostState();
    case kProtocol:
      return state_.protocol;
    case kAddress:
      return state_.address;
    case kCommand:
      return state_.command;
    case kBlockCount:
      return state_.blockCount;
    default:
      ++state_.strayAccesses;
      return 0xFF;  // no register here
  }
}

void ChunkBufferHostModel::WriteRegister(uint8_t offset, uint8_t value) {
  if (offset >= kData0) {
    WriteData(static_cast<uint8_t>(offset - kData0), value);
    return;
  }
  switch (offset) {
    case kStatus:
      state_.status = static_cast<uint8_t>(state_.status & ~value);
      break;
    case kPrepared:
      state_.prepared = value;
      break;
    case kHostState:
      state_.hostState = static_cast<uint8_t>(value & ~host_state::kBusyBits);
      break;
    case kProtocol:
      WriteProtocol(value);
      break;
    case kAddress:
      state_.address = value;
      break;
    case kCommand:
      state_.command = value;
      break;
    case kBlockCount:
      state_.blockCount = value;
      break;
    default:
      ++state_.strayAccesses;
      break;
  }
}

// Host-state reads are the ticks of a transaction and of the bus release.
uint8_t ChunkBufferHostModel::ReadHostState() {
  uint8_t value = static_cast<uint8_t>(state_.hostState | faults_.stuckBusy);
  if (state_.phase == ChunkBufferPhase::Working) value |= host_state::kBusy;
  if (state_.phase == ChunkBufferPhase::Releasing) value |= host_state::kBusHeld;
  const bool ticking = (state_.phase == ChunkBufferPhase::Working && !faults_.neverFinishes) ||
                       state_.phase == ChunkBufferPhase::Releasing;
  if (ticking && Tick()) Complete();
  return value;
}

// Status reads are the ticks of a chunk being moved; the chunk flag is the
// host's own and no write clears it.
uint8_t ChunkBufferHostModel::ReadStatus() {
  uint8_t value = state_.status;
  if (state_.phase != ChunkBufferPhase::Moving) return value;
  value |= status::kChunk;
  if (!faults_.chunkFlagStuck && Tick()) ChunkMoved();
  return value;
}

uint8_t ChunkBufferHostModel::ReadData(uint8_t index) {
  const uint8_t value = state_.data[index];
  if (state_.phase == ChunkBufferPhase::AwaitData && state_.read && index < ChunkLength() &&
      ++state_.chunkAccesses == ChunkLength()) {
    ChunkTouched();
  }
  return value;
}

void ChunkBufferHostModel::WriteData(uint8_t index, uint8_t value) {
  state_.data[index] = value;
  if (state_.phase == ChunkBufferPhase::AwaitData && !state_.read && index < ChunkLength() &&
      ++state_.chunkAccesses == ChunkLength()) {
    ChunkTouched();
  }
}

void ChunkBufferHostModel::WriteProtocol(uint8_t value) {
  state_.protocol = value;
  // A block left half-way (a bad count, a chunk wait given up) shows the
  // host free; a start then drops it, and only a start while busy overlaps.
  StartCommandWritten(state_.phase == ChunkBufferPhase::Working ||
                      state_.phase == ChunkBufferPhase::Releasing);
  if (faults_.neverStarts) return;
  if (state_.phase == ChunkBufferPhase::Working || state_.phase == ChunkBufferPhase::Releasing) {
    ++state_.startsWhileBusy;
    return;
  }
  ++state_.starts;
  state_.read = (state_.address & 0x01) != 0;
  state_.block.clear();
  state_.blockLength = 0;
  state_.blockDone = 0;
  state_.chunkIndex = 0;
  state_.chunkAccesses = 0;
  if (value == protocol::kBlock && !state_.read) {
    BeginBlockWrite();
    return;
  }
  Wait(ChunkBufferPhase::Working);
}

uint32_t ChunkBufferHostModel::ChunkLength() const {
  return std::min<uint32_t>(kDataBytes, state_.blockLength - state_.blockDone);
}

// One counted read; true when it was the last one the step needed (a step
// held by a fault that is gone completes at the next read).
bool ChunkBufferHostModel::Tick() {
  if (state_.readsLeft > 0) --state_.readsLeft;
  return state_.readsLeft == 0;
}

// Enters a counted phase; with no reads to count, its step completes at once.
void ChunkBufferHostModel::Wait(ChunkBufferPhase phase) {
  state_.phase = phase;
  state_.readsLeft = busyReads_;
  if (busyReads_ != 0) return;
  if (phase == ChunkBufferPhase::Moving) {
    if (!faults_.chunkFlagStuck) ChunkMoved();
    return;
  }
  if (phase != ChunkBufferPhase::Working || !faults_.neverFinishes) Complete();
}

void ChunkBufferHostModel::Complete() {
  if (state_.phase == ChunkBufferPhase::Releasing) {
    state_.phase = ChunkBufferPhase::Idle;
    return;
  }
  CarryTransaction();
}

void ChunkBufferHostModel::CarryTransaction() {
  const bool block = state_.protocol == protocol::kBlock;
  if (faults_.errorFlags != 0 && (!block || faults_.errorAtChunk < 0)) {
    End(faults_.errorFlags);
    return;
  }
  if (block) {
    BeginBlockRead();
    return;
  }
  End(CarrySimple() ? 0 : status::kDeviceError);
}

bool ChunkBufferHostModel::CarrySimple() {
  const SlaveAddress address = Target();
  const bool read = state_.read;
  uint8_t wire[2] = {state_.data[0], state_.data[1]};
  switch (state_.protocol) {
    case protocol::kByte:
      if (!read) return bus_.SendByte(address, state_.command);
      if (!bus_.ReceiveByte(address, &wire[0])) return false;
      break;
    case protocol::kByteData:
      if (!read) return bus_.WriteByte(address, state_.command, wire[0]);
      if (!bus_.ReadByte(address, state_.command, &wire[0])) return false;
      break;
    case protocol::kWordData:
      if (!read) return bus_.WriteWord(address, state_.command, wire);
      if (!bus_.ReadWord(address, state_.command, wire)) return false;
      state_.data[1] = wire[1];
      break;
    default:
      return false;  // a protocol this host does not have
  }
  state_.data[0] = wire[0];
  return true;
}

void ChunkBufferHostModel::BeginBlockRead() {
  if (!bus_.BlockRead(Target(), state_.command, &state_.block)) {
    End(status::kDeviceError);
    return;
  }
  state_.blockLength = faults_.blockCount >= 0 ? static_cast<uint32_t>(faults_.blockCount)
                                               : static_cast<uint32_t>(state_.block.size());
  state_.blockCount = static_cast<uint8_t>(state_.blockLength);
  if (state_.blockLength == 0) {
    End(0);
    return;
  }
  LoadChunk();
}

// The driver set the count before the start; the bytes follow chunk by chunk.
void ChunkBufferHostModel::BeginBlockWrite() {
  state_.blockLength = state_.blockCount;
  if (state_.blockLength == 0 || state_.blockLength > kSmbusMaxBlock) {
    End(status::kDeviceError);  // nothing to send: refused without touching the bus
    return;
  }
  state_.chunkAccesses = 0;
  state_.phase = ChunkBufferPhase::AwaitData;
}

// Block read: the next chunk into the buffer from data0 on.
void ChunkBufferHostModel::LoadChunk() {
  const uint32_t length = ChunkLength();
  for (uint32_t k = 0; k < length; ++k) {
    const uint32_t i = state_.blockDone + k;
    state_.data[k] = i < state_.block.size() ? state_.block[i] : 0xFF;
  }
  state_.chunkAccesses = 0;
  state_.phase = ChunkBufferPhase::AwaitData;
}

void ChunkBufferHostModel::ChunkTouched() {
  if (!state_.read) {
    state_.block.insert(state_.block.end(), state_.data, state_.data + ChunkLength());
  }
  Wait(ChunkBufferPhase::Moving);
}

void ChunkBufferHostModel::ChunkMoved() {
  state_.blockDone += ChunkLength();
  if (ChunkFault()) return;
  const bool last = state_.blockDone >= state_.blockLength;
  if (state_.read) {
    if (last) {
      End(0);
      return;
    }
    ++state_.chunkIndex;
    LoadChunk();
    return;
  }
  if (state_.chunkIndex == 0 && !bus_.IsPresent(Target())) {
    FinishBlockWrite(status::kDeviceError);  // nobody acknowledged the address
    return;
  }
  if (last) {
    const bool accepted = bus_.BlockWrite(Target(), state_.command, state_.block);
    FinishBlockWrite(accepted ? 0 : status::kDeviceError);
    return;
  }
  ++state_.chunkIndex;
  state_.chunkAccesses = 0;
  state_.phase = ChunkBufferPhase::AwaitData;
}

// Injected error flags at the end of the current chunk.
bool ChunkBufferHostModel::ChunkFault() {
  const int at = faults_.errorAtChunk < 0 ? 0 : faults_.errorAtChunk;
  if (faults_.errorFlags == 0 || state_.chunkIndex != static_cast<uint32_t>(at)) return false;
  if (state_.read && faults_.errorAtChunk < 0) return false;  // came with the result
  if (state_.read) {
    End(faults_.errorFlags);
  } else {
    FinishBlockWrite(faults_.errorFlags);
  }
  return true;
}

void ChunkBufferHostModel::FinishBlockWrite(uint8_t flags) {
  state_.status |= flags;
  Wait(ChunkBufferPhase::Releasing);
}

void ChunkBufferHostModel::End(uint8_t flags) {
  state_.status |= flags;
  state_.phase = ChunkBufferPhase::Idle;
}

}  // namespace board
