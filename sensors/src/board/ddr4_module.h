// A DDR4 module's 512-byte SPD EEPROM: two 256-byte pages behind one
// address, each an SpdEeprom, and the page-select addresses that choose
// between them. A write to 0x36 selects page 0, one to 0x37 page 1, on every
// such EEPROM on the bus at once; reads there are not acknowledged.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "board/smbus.h"
#include "board/spd_eeprom.h"

namespace board {

class Ddr4SpdEeprom : public SmbusDevice {
 public:
  static constexpr size_t kSize = 2 * SpdEeprom::kSize;
  static constexpr unsigned kPages = 2;

  void Load(const std::array<uint8_t, kSize>& contents);
  uint8_t At(size_t offset) const;
  void Set(size_t offset, uint8_t value);
  unsigned Page() const { return page_; }
  void SetPage(unsigned page) { page_ = page % kPages; }
  void SetWriteProtected(bool on);

  bool ReceiveByte(uint8_t* byte) override { return Current().ReceiveByte(byte); }
  bool SendByte(uint8_t byte) override { return Current().SendByte(byte); }
  bool ReadByte(uint8_t command, uint8_t* byte) override;
  bool WriteByte(uint8_t command, uint8_t byte) override;
  bool ReadWord(uint8_t command, uint8_t (&wire)[2]) override;
  bool WriteWord(uint8_t command, const uint8_t (&wire)[2]) override;
  bool BlockRead(uint8_t command, std::vector<uint8_t>* block) override;
  bool BlockWrite(uint8_t command, const std::vector<uint8_t>& block) override;

 private:
  SpdEeprom& Current() { return pages_[page_]; }

  std::array<SpdEeprom, kPages> pages_;
  unsigned page_ = 0;
};

// One page-select address: any write selects its page.
class SpdPageSelect : public SmbusDevice {
 public:
  SpdPageSelect(unsigned page, std::vector<Ddr4SpdEeprom*> modules)
      : page_(page), modules_(std::move(modules)) {}

  bool Quick(bool read) override { return !read && Select(); }
  bool SendByte(uint8_t) override { return Select(); }
  bool WriteByte(uint8_t, uint8_t) override { return Select(); }
  bool WriteWord(uint8_t, const uint8_t (&)[2]) override { return Select(); }

 private:
  bool Select();

  unsigned page_;
  std::vector<Ddr4SpdEeprom*> modules_;
};

// A plausible 8 GB DDR4-2400 unbuffered module (one rank of 8 Gb x8 dies)
// with a thermal sensor, and valid checksums over bytes 0..125 and 128..253.
std::array<uint8_t, Ddr4SpdEeprom::kSize> Ddr4ModuleSpd();

}  // namespace board
