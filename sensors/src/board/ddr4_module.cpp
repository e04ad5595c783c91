#include "board/ddr4_module.h"

#include <cstring>

#include "board/hardware_monitor.h"

namespace board {

void Ddr4SpdEeprom::Load(const std::array<uint8_t, kSize>& contents) {
  for (size_t i = 0; i < kSize; ++i)
    Set(i, contents[i]);
}

uint8_t Ddr4SpdEeprom::At(size_t offset) const {
  return pages_[offset / SpdEeprom::kSize].At(static_cast<uint8_t>(offset));
}

void Ddr4SpdEeprom::Set(size_t offset, uint8_t value) {
  pages_[offset / SpdEeprom::kSize].Set(static_cast<uint8_t>(offset), value);
}

void Ddr4SpdEeprom::SetWriteProtected(bool on) {
  for (SpdEeprom& page : pages_)
    page.SetWriteProtected(on);
}

bool Ddr4SpdEeprom::ReadByte(uint8_t command, uint8_t* byte) {
  return Current().ReadByte(command, byte);
}

bool Ddr4SpdEeprom::WriteByte(uint8_t command, uint8_t byte) {
  return Current().WriteByte(command, byte);
}

bool Ddr4SpdEeprom::ReadWord(uint8_t command, uint8_t (&wire)[2]) {
  return Current().ReadWord(command, wire);
}

bool Ddr4SpdEeprom::WriteWord(uint8_t command, const uint8_t (&wire)[2]) {
  return Current().WriteWord(command, wire);
}

bool Ddr4SpdEeprom::BlockRead(uint8_t command, std::vector<uint8_t>* block) {
  return Current().BlockRead(command, block);
}

bool Ddr4SpdEeprom::BlockWrite(uint8_t command, const std::vector<uint8_t>& block) {
  return Current().BlockWrite(command, block);
}

bool SpdPageSelect::Select() {
  for (Ddr4SpdEeprom* module : modules_)
    module->SetPage(page_);
  return true;
}

namespace {

constexpr size_t kBaseCrc = 126, kModuleCrc = 254, kModuleSection = 128;
constexpr size_t kTckFine = 125, kMaker = 320, kDate = 323, kSerial = 325, kPart = 329;
constexpr size_t kPartLength = 20;

void StoreCrc(std::array<uint8_t, Ddr4SpdEeprom::kSize>& spd, size_t first, size_t at) {
  const uint16_t crc = SpdChecksum(&spd[first], at - first);
  spd[at] = static_cast<uint8_t>(crc & 0xFF);
  spd[at + 1] = static_cast<uint8_t>(crc >> 8);
}

}  // namespace

std::array<uint8_t, Ddr4SpdEeprom::kSize> Ddr4ModuleSpd() {
  std::array<uint8_t, Ddr4SpdEeprom::kSize> spd{};
  const uint8_t base[] = {
      0x23,                    // 384 bytes used, 512 total
      0x11,                    // revision 1.1
      0x0C,                    // DDR4 SDRAM
      0x02,                    // unbuffered DIMM
      0x85,                    // 8 Gb dies, 4 bank groups of 4 banks
      0x21,                    // 16 row, 10 column address bits
      0x00,                    // one die per package
      0x08, 0x00, 0x60, 0x00,  // refresh and repair options
      0x03,                    // 1.2 V
      0x01,                    // one rank of x8 devices
      0x03,                    // 64-bit bus, no ECC
      0x80,                    // thermal sensor on the module
      0x00, 0x00,              // extended type, reserved
      0x00,                    // timebases: 125 ps medium, 1 ps fine
      0x07,                    // tCK min 0.875 ns, less 42 ps (byte 125): 0.833 ns
      0x0C,                    // tCK max 1.5 ns
      0xFC, 0x0F, 0x00, 0x00,  // CAS latencies 9..18
      0x6E,                    // tAA min 13.75 ns
      0x6E,                    // tRCD min 13.75 ns
      0x6E,                    // tRP min 13.75 ns
      0x11,                    // upper nibbles of tRAS and tRC
      0x00,                    // tRAS min 32 ns
      0x6E,                    // tRC min 45.75 ns
      0xF0, 0x0A,              // tRFC1 min 350 ns
      0x20, 0x08,              // tRFC2 min 260 ns
      0x00, 0x05,              // tRFC4 min 160 ns
      0x00, 0xA8,              // tFAW min 21 ns
      0x1B,                    // tRRD_S min 3.375 ns
      0x28,                    // tRRD_L min 5 ns
      0x28,                    // tCCD_L min 5 ns
      0x00, 0x78,              // tWR min 15 ns
      0x00, 0x14, 0x3C,        // tWTR_S min 2.5 ns, tWTR_L min 7.5 ns
  };
  std::memcpy(spd.data(), base, sizeof base);
  spd[kTckFine] = 0xD6;  // -42 ps
  StoreCrc(spd, 0, kBaseCrc);
  spd[kModuleSection] = 0x11;      // 32 mm high
  spd[kModuleSection + 1] = 0x11;  // 2 mm thick each side
  StoreCrc(spd, kModuleSection, kModuleCrc);
  const uint8_t maker[] = {0x80, 0xCE, 0x01};  // bank 1, code 0xCE; location
  std::memcpy(&spd[kMaker], maker, sizeof maker);
  spd[kDate] = 0x19;      // year (BCD)
  spd[kDate + 1] = 0x12;  // week (BCD)
  const uint8_t serial[] = {0x4D, 0x5A, 0x00, 0x01};
  std::memcpy(&spd[kSerial], serial, sizeof serial);
  std::memcpy(&spd[kPart], "OMZ4U2400C17-8G     ", kPartLength);
  return spd;
}

}  // namespace board
