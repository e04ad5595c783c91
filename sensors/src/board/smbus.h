// The simulated SMBus: slave devices at 7-bit addresses and a bus that
// carries whole SMBus transactions from a host controller model to them.
//
// Transactions are modelled at the level of the SMBus protocols, with the
// data bytes in the order they travel on the wire. A device answers each
// protocol it understands and returns false (a NAK) for the others; an
// address with no device NAKs everything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace board {

// A 7-bit slave address, as opposed to the address byte a host sends.
class SlaveAddress {
 public:
  constexpr explicit SlaveAddress(uint8_t sevenBit) : value_(sevenBit & 0x7F) {}
  // From the address byte on the bus: address in bits 7..1, bit 0 read/write.
  static constexpr SlaveAddress FromAddressByte(uint8_t byte) { return SlaveAddress(byte >> 1); }
  constexpr uint8_t value() const { return value_; }
  constexpr uint8_t AddressByte() const { return static_cast<uint8_t>(value_ << 1); }
  friend constexpr bool operator<(SlaveAddress a, SlaveAddress b) { return a.value_ < b.value_; }
  friend constexpr bool operator==(SlaveAddress a, SlaveAddress b) { return a.value_ == b.value_; }

 private:
  uint8_t value_;
};

// SMBus allows at most this many bytes in a block.
constexpr size_t kSmbusMaxBlock = 32;

// A slave device. Each call is one whole transaction addressed to it;
// returning false NAKs it. Word bytes are given in wire order: wire[0]
// travels first. A block read answers its data bytes; the count byte on the
// wire is their number.
class SmbusDevice {
 public:
  virtual ~SmbusDevice() = default;
  virtual bool Quick(bool /*read*/) { return true; }  // an address ACK is all it takes
  virtual bool ReceiveByte(uint8_t* /*byte*/) { return false; }
  virtual bool SendByte(uint8_t /*byte*/) { return false; }
  virtual bool ReadByte(uint8_t /*command*/, uint8_t* /*byte*/) { return false; }
  virtual bool WriteByte(uint8_t /*command*/, uint8_t /*byte*/) { return false; }
  virtual bool ReadWord(uint8_t /*command*/, uint8_t (&/*wire*/)[2]) { return false; }
  virtual bool WriteWord(uint8_t /*command*/, const uint8_t (&/*wire*/)[2]) { return false; }
  virtual bool BlockRead(uint8_t /*command*/, std::vector<uint8_t>* /*block*/) { return false; }
  virtual bool BlockWrite(uint8_t /*command*/, const std::vector<uint8_t>& /*block*/) {
    return false;
  }
};

enum class SmbusProtocol : uint8_t {
  Quick,
  ReceiveByte,
  SendByte,
  ReadByte,
  WriteByte,
  ReadWord,
  WriteWord,
  BlockRead,
  BlockWrite,
};

// One transaction as the bus saw it.
struct SmbusTransaction {
  SmbusProtocol protocol;
  SlaveAddress address;
  uint8_t command;  // 0 for protocols without one; the data byte of a send byte
  bool acknowledged;
};

class SmbusBus {
 public:
  // A later attach at the same address replaces the earlier device.
  void Attach(SlaveAddress address, SmbusDevice* device);
  void Detach(SlaveAddress address);
  bool IsPresent(SlaveAddress address) const;

  bool Quick(SlaveAddress address, bool read);
  bool ReceiveByte(SlaveAddress address, uint8_t* byte);
  bool SendByte(SlaveAddress address, uint8_t byte);
  bool ReadByte(SlaveAddress address, uint8_t command, uint8_t* byte);
  bool WriteByte(SlaveAddress address, uint8_t command, uint8_t byte);
  bool ReadWord(SlaveAddress address, uint8_t command, uint8_t (&wire)[2]);
  bool WriteWord(SlaveAddress address, uint8_t command, const uint8_t (&wire)[2]);
  bool BlockRead(SlaveAddress address, uint8_t command, std::vector<uint8_t>* block);
  bool BlockWrite(SlaveAddress address, uint8_t command, const std::vector<uint8_t>& block);

  const std::vector<SmbusTransaction>& Log() const { return log_; }
  // The data bytes the host sent to devices (send byte, write byte and word,
  // block write), in wire order, acknowledged or not.
  const std::vector<uint8_t>& SentData() const { return sent_; }
  void ClearLog() {
    log_.clear();
    sent_.clear();
  }
  // Whether transactions and sent data are logged (they are unless told):
  // a long-running session, or a benchmark, has no use for the log.
  void KeepLog(bool keep) { keepLog_ = keep; }

 private:
  SmbusDevice* Find(SlaveAddress address) const;
  bool Record(SmbusProtocol protocol, SlaveAddress address, uint8_t command, bool acknowledged);

  std::map<SlaveAddress, SmbusDevice*> devices_;
  std::vector<SmbusTransaction> log_;
  std::vector<uint8_t> sent_;
  bool keepLog_ = true;
};

}  // namespace board
