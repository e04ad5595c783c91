// User-mode client of the driver: typed operations over the control codes and
// request records, on any transport that can issue a buffered device-control
// request and hand back the status, the transferred length and the reply.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace omzi2c::client {

struct Response {
  uint32_t status = 0;         // NTSTATUS the request completed with
  uint32_t transferred = 0;    // bytes that reached the output buffer
  std::vector<uint8_t> reply;  // those bytes
  // A failed read's error reply (result code, host's last status byte),
  // where the platform passes it back: the in-process driver does, Windows
  // copies no output of a failed request.
  std::vector<uint8_t> errorReply;
  bool Succeeded() const { return (status >> 30) != 3; }  // not an error status
};

class Transport {
 public:
  virtual ~Transport() = default;
  virtual Response Control(uint32_t code, const std::vector<uint8_t>& input,
                           uint32_t outputLength) = 0;
  // The same request with the outcome in `response`, whose buffers are kept
  // from one request to the next: a transport that overrides it allocates
  // nothing per request once they have grown. By default, Control above.
  virtual void ControlInto(uint32_t code, const uint8_t* input, uint32_t inputLength,
                           uint32_t outputLength, Response* response);
  // Keeps the bus across several requests where the transport shares a
  // hold with other programs (see holding_transport.h); false when the bus
  // stayed held by another program. By default there is nothing to hold.
  virtual bool Hold() { return true; }
  virtual void Release() {}
};

enum class PortWidth : uint32_t { Byte = 0, Word = 1, Dword = 2 };

// Chip addresses are 7-bit; the client shifts them into the address byte.
class Client {
 public:
  explicit Client(Transport& transport) : transport_(transport) {}

  Response ReceiveBytes(uint8_t chip, uint8_t count);
  Response SendBytes(uint8_t chip, const std::vector<uint8_t>& data);
  Response ReadWithCommand(uint8_t chip, uint8_t command, uint8_t count);
  Response WriteWithCommand(uint8_t chip, uint8_t command, const std::vector<uint8_t>& data);
  Response BlockRead(uint8_t chip, uint8_t command);
  Response BlockWrite(uint8_t chip, uint8_t command, const std::vector<uint8_t>& data);
  // `replyRoom`: output bytes offered for the reply (length byte included).
  Response ExchangeMessage(uint8_t chip, const std::vector<uint8_t>& message,
                           uint32_t replyRoom = 40);
  Response WriteMessage(uint8_t chip, const std::vector<uint8_t>& message);
  Response PortRead(PortWidth width, uint32_t port);
  Response PortWrite(PortWidth width, uint32_t port, uint32_t value);
  Response Raw(uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength);

  // Reuse-friendly reads: the outcome lands in `into`, whose buffers are
  // kept, so that a loop of them allocates nothing once they have grown.
  void ReceiveBytes(uint8_t chip, uint8_t count, Response* into);
  void ReadWithCommand(uint8_t chip, uint8_t command, uint8_t count, Response* into);

  // The value of a successful port read (little-endian at offset 8).
  static uint32_t PortValue(const Response& response, PortWidth width);

  // The sequence hold of the transport (see Transport::Hold).
  bool Hold() { return transport_.Hold(); }
  void Release() { transport_.Release(); }

 private:
  Transport& transport_;
};

// Keeps the bus for the requests of a scope, such as a page select and the
// reads of that page. Where the hold could not be had, the requests go on
// alone, and each meets the other program's hold itself.
class SequenceHold {
 public:
  explicit SequenceHold(Client& client) : client_(client), held_(client.Hold()) {}
  ~SequenceHold() {
    if (held_) client_.Release();
  }
  SequenceHold(const SequenceHold&) = delete;
  SequenceHold& operator=(const SequenceHold&) = delete;

 private:
  Client& client_;
  bool held_;
};

// Name and plain words for an NTSTATUS the driver returns.
const char* StatusName(uint32_t status);
std::string DescribeStatus(uint32_t status);  // "words (NAME, 0x...)"
// Plain words for a result code of an error reply.
const char* ResultName(uint32_t result);

}  // namespace omzi2c::client
