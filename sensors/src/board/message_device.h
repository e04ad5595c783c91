// A device that speaks length-prefixed messages over send-byte and
// receive-byte transactions, as the message exchange of the paced-poll
// hosts expects.
//
// A message is a series of send bytes: a command byte, an argument count n,
// then n argument bytes. Once the message is complete the device holds its
// reply; the first receive byte answers the reply's length, each further one
// the next reply byte. A receive byte with no message under way answers 0
// (nothing to say); in the middle of a message it is refused. A send byte
// during a reply drops the rest of the reply and begins a new message.
//
// Commands:
//   0x01 echo     reply: the arguments
//   0x02 pattern  argument: n; reply: n bytes 0x00, 0x01, ... (n up to 255)
//   0x03 identify reply: a short text naming the device
//   0x04 store    keeps the arguments as the device's note; no reply
//   0x05 recall   reply: the note
// An unknown command gets an empty reply.
#pragma once

#include <cstdint>
#include <vector>

#include "board/smbus.h"

namespace board {

namespace message {
constexpr uint8_t kEcho = 0x01;
constexpr uint8_t kPattern = 0x02;
constexpr uint8_t kIdentify = 0x03;
constexpr uint8_t kStore = 0x04;
constexpr uint8_t kRecall = 0x05;
}  // namespace message

class MessageDevice : public SmbusDevice {
 public:
  bool SendByte(uint8_t byte) override;
  bool ReceiveByte(uint8_t* byte) override;

  const std::vector<uint8_t>& Note() const { return note_; }
  // Puts back a note kept from an earlier session.
  void SetNote(const std::vector<uint8_t>& note) { note_ = note; }
  uint32_t MessagesTaken() const { return messages_; }

 private:
  enum class Phase : uint8_t { Idle, Command, Arguments, Replying };

  void Complete();

  Phase phase_ = Phase::Idle;
  uint8_t command_ = 0;
  uint32_t expected_ = 0;
  std::vector<uint8_t> arguments_;
  std::vector<uint8_t> reply_;
  uint32_t replied_ = 0;  // reply bytes handed out, the length byte counted
  std::vector<uint8_t> note_;
  uint32_t messages_ = 0;
};

}  // namespace board
