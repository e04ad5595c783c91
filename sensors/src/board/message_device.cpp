#include "board/message_device.h"

namespace board {

namespace {
const char kIdentity[] = "OMZ message device";
}  // namespace

bool MessageDevice::SendByte(uint8_t byte) {
  switch (phase_) {
    case Phase::Idle:
    case Phase::Replying:
      command_ = byte;
      arguments_.clear();
      phase_ = Phase::Command;
      return true;
    case Phase::Command:
      expected_ = byte;
      phase_ = Phase::Arguments;
      break;
    case Phase::Arguments:
      arguments_.push_back(byte);
      break;
  }
  if (arguments_.size() == expected_) Complete();
  return true;
}

bool MessageDevice::ReceiveByte(uint8_t* byte) {
  switch (phase_) {
    case Phase::Idle:
      *byte = 0;
      return true;
    case Phase::Command:
    case Phase::Arguments:
      return false;  // the message is not complete
    case Phase::Replying:
      break;
  }
  *byte = replied_ == 0 ? static_cast<uint8_t>(reply_.size()) : reply_[replied_ - 1];
  if (++replied_ > reply_.size()) phase_ = Phase::Idle;
  return true;
}

void MessageDevice::Complete() {
  ++messages_;
  reply_.clear();
  replied_ = 0;
  phase_ = Phase::Replying;
  switch (command_) {
    case message::kEcho:
      reply_ = arguments_;
      break;
    case message::kPattern:
      for (uint32_t i = 0; !arguments_.empty() && i < arguments_[0]; ++i)
        reply_.push_back(static_cast<uint8_t>(i));
      break;
    case message::kIdentify:
      reply_.assign(kIdentity, kIdentity + sizeof kIdentity - 1);
      break;
    case message::kStore:
      note_ = arguments_;
      phase_ = Phase::Idle;  // nothing to answer
      break;
    case message::kRecall:
      reply_ = note_;
      break;
    default:
      break;
  }
}

}  // namespace board
