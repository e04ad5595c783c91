#include "board/ddr5_module.h"

#include <cstring>

#include "board/hardware_monitor.h"

namespace board {

namespace {

constexpr uint8_t kTypeHigh = 0x51, kTypeLow = 0x18;
constexpr uint8_t kRevisionValue = 0x08;             // revision 1.5 as bits 5:4 and 3:1 count it
constexpr uint8_t kBank1 = 0x80, kMakerCode = 0xAD;  // with their parity bits
constexpr uint8_t kCapabilityValue = 0x03;           // a hub with a sensor
constexpr uint8_t kLegacyModeBits = 0x0F;
// The limit registers keep bits 12:2 of their 16 bits.
constexpr uint8_t kLimitLowBits = 0xFC, kLimitHighBits = 0x1F;
constexpr uint8_t kFirstLimit = hub::kHighLimit, kLastLimit = hub::kLowCriticalLimit + 1;
constexpr int kSignBit = 0x400, kCountBits = 0x7FF;

bool IsLimit(uint8_t index) {
  return index >= kFirstLimit && index <= kLastLimit;
}

}  // namespace

SpdHub::SpdHub() {
  memory_.fill(0xFF);
  registers_[hub::kDeviceType] = kTypeHigh;
  registers_[hub::kDeviceType + 1] = kTypeLow;
  registers_[hub::kRevision] = kRevisionValue;
  registers_[hub::kVendorBank] = kBank1;
  registers_[hub::kVendorCode] = kMakerCode;
  registers_[hub::kCapability] = kCapabilityValue;
}

void SpdHub::SetRegister(uint8_t index, uint8_t value) {
  registers_.at(index) = value;
  UpdateStatus();
}

void SpdHub::SetWordRegister(uint8_t index, uint16_t value) {
  registers_.at(index) = static_cast<uint8_t>(value & 0xFF);
  registers_.at(index + 1u) = static_cast<uint8_t>(value >> 8);
  UpdateStatus();
}

void SpdHub::SetQuarters(int quarters) {
  SetWordRegister(hub::kTemperature, hub::Quarters(quarters));
}

void SpdHub::Advance() {
  const auto next = static_cast<uint8_t>((pointer_ + 1) & (hub::kRegisters - 1));
  pointer_ =
      pointer_ >= hub::kMemoryWindow ? static_cast<uint8_t>(hub::kMemoryWindow | next) : next;
}

bool SpdHub::Read(uint8_t* byte) {
  if (pointer_ < hub::kMemoryWindow) {
    *byte = registers_[pointer_];
  } else {
    if (registers_[hub::kLegacyMode] & hub::kTwoByteAddressing) return false;
    *byte = memory_[Page() * kPageSize + (pointer_ - hub::kMemoryWindow)];
  }
  Advance();
  return true;
}

bool SpdHub::Write(uint8_t byte) {
  if (pointer_ < hub::kMemoryWindow) {
    WriteRegister(pointer_, byte);
  } else {
    if (registers_[hub::kLegacyMode] & hub::kTwoByteAddressing) return false;
    if (writeProtected_) return false;
    memory_[Page() * kPageSize + (pointer_ - hub::kMemoryWindow)] = byte;
  }
  Advance();
  return true;
}

// Only the host's registers take writes; the rest keep their value, and the
// clear registers (write 1 to clear) always read 0.
void SpdHub::WriteRegister(uint8_t index, uint8_t value) {
  if (index == hub::kLegacyMode) {
    registers_[index] = value & kLegacyModeBits;
  } else if (index == hub::kSensorConfig) {
    registers_[index] = value & hub::kSensorOff;
  } else if (IsLimit(index)) {
    registers_[index] = value & ((index - kFirstLimit) % 2 == 0 ? kLimitLowBits : kLimitHighBits);
    UpdateStatus();
  }
}

bool SpdHub::ReadByte(uint8_t command, uint8_t* byte) {
  pointer_ = command;
  return Read(byte);
}

bool SpdHub::WriteByte(uint8_t command, uint8_t byte) {
  pointer_ = command;
  return Write(byte);
}

bool SpdHub::ReadWord(uint8_t command, uint8_t (&wire)[2]) {
  pointer_ = command;
  return Read(&wire[0]) && Read(&wire[1]);
}

bool SpdHub::WriteWord(uint8_t command, const uint8_t (&wire)[2]) {
  pointer_ = command;
  return Write(wire[0]) && Write(wire[1]);
}

void SpdHub::UpdateStatus() {
  const auto quarters = [this](uint8_t at) {
    const int count = ((registers_[at] | registers_[at + 1] << 8) >> 2) & kCountBits;
    return count & kSignBit ? count - 2 * kSignBit : count;
  };
  const int t = quarters(hub::kTemperature);
  uint8_t status = 0;
  if (t > quarters(hub::kHighLimit)) status |= hub::kAboveHigh;
  if (t < quarters(hub::kLowLimit)) status |= hub::kBelowLow;
  if (t > quarters(hub::kCriticalLimit)) status |= hub::kAboveCritical;
  if (t < quarters(hub::kLowCriticalLimit)) status |= hub::kBelowLowCritical;
  registers_[hub::kStatus] = status;
}

namespace {

constexpr size_t kCrcAt = 510, kMaker = 512, kDate = 515, kSerial = 517, kPart = 521;
constexpr size_t kPartLength = 30, kDramMaker = 552;
constexpr size_t kModuleSection = 192, kOrganization = 234;

void Put16(std::array<uint8_t, SpdHub::kSize>& spd, size_t at, unsigned value) {
  spd[at] = static_cast<uint8_t>(value & 0xFF);
  spd[at + 1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

std::array<uint8_t, SpdHub::kSize> Ddr5ModuleSpd() {
  std::array<uint8_t, SpdHub::kSize> spd{};
  const uint8_t base[] = {
      0x30,  // 1024 bytes
      0x10,  // revision 1.0
      0x12,  // DDR5 SDRAM
      0x02,  // unbuffered DIMM
      0x04,  // one 16 Gb die a package
      0x00,  // 16 row, 10 column address bits
      0x20,  // x8 devices
      0x62,  // 8 bank groups of 4 banks
  };
  std::memcpy(spd.data(), base, sizeof base);
  spd[16] = spd[17] = 0x00;        // VDD, VDDQ 1.1 V
  spd[18] = 0x00;                  // VPP 1.8 V
  Put16(spd, 20, 416);             // tCK min 416 ps
  Put16(spd, 22, 1010);            // tCK max
  spd[24] = 0xFE;                  // CAS latencies 22-34
  spd[25] = 0x07;                  // 36-40
  Put16(spd, 30, 16000);           // tAA
  Put16(spd, 32, 16000);           // tRCD
  Put16(spd, 34, 16000);           // tRP
  Put16(spd, 36, 32000);           // tRAS
  Put16(spd, 38, 48000);           // tRC
  Put16(spd, 40, 30000);           // tWR
  Put16(spd, 42, 295);             // tRFC1 in ns
  Put16(spd, 44, 160);             // tRFC2 in ns
  Put16(spd, 46, 130);             // tRFCsb in ns
  spd[kModuleSection] = 0x10;      // module section revision 1.0
  spd[kModuleSection + 2] = 0x80;  // the hub's maker: bank 1,
  spd[kModuleSection + 3] = 0xAD;  // code 0xAD
  spd[kModuleSection + 4] = 0x80;  // an SPD5118 hub, installed
  spd[kOrganization] = 0x08;       // two ranks
  spd[kOrganization + 1] = 0x22;   // two 32-bit sub-channels, no ECC
  Put16(spd, kCrcAt, SpdChecksum(spd.data(), kCrcAt));
  const uint8_t maker[] = {0x80, 0xAD, 0x03};  // bank 1, code 0xAD; location
  std::memcpy(&spd[kMaker], maker, sizeof maker);
  spd[kDate] = 0x24;      // year (BCD)
  spd[kDate + 1] = 0x15;  // week (BCD)
  const uint8_t serial[] = {0x5E, 0x0D, 0xD5, 0x01};
  std::memcpy(&spd[kSerial], serial, sizeof serial);
  std::memcpy(&spd[kPart], "OMZ5U4800C40-32G              ", kPartLength);
  spd[kDramMaker] = 0x80;      // DRAM by bank 1,
  spd[kDramMaker + 1] = 0xCE;  // code 0xCE
  return spd;
}

}  // namespace board
