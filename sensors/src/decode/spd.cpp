#include "decode/spd.h"

#include <cmath>

namespace omzi2c::decode {

namespace {

struct TypeName {
  uint8_t code;
  const char* name;
};
const TypeName kTypes[] = {
    {0x01, "FPM DRAM"},     {0x02, "EDO"},        {0x04, "SDRAM"},      {0x07, "DDR SDRAM"},
    {0x08, "DDR2 SDRAM"},   {0x0B, "DDR3 SDRAM"}, {0x0C, "DDR4 SDRAM"}, {0x0F, "LPDDR3 SDRAM"},
    {0x10, "LPDDR4 SDRAM"}, {0x12, "DDR5 SDRAM"},
};

// Common module makers in JEP-106 (bank from 1, code with its parity bit).
struct Maker {
  unsigned bank;
  uint8_t code;
  const char* name;
};
const Maker kMakers[] = {
    {1, 0x2C, "Micron Technology"}, {1, 0xCE, "Samsung"}, {1, 0xAD, "SK Hynix"},
    {2, 0x98, "Kingston"},          {3, 0x9E, "Corsair"}, {5, 0xCD, "G.Skill"},
};

// Data rates modules are sold at; a computed rate just above one of them
// (from a tCK rounded down in the bytes) is that grade.
const unsigned kGrades[] = {800, 1066, 1333, 1600, 1866, 2133, 2400, 2666, 2933, 3200};
constexpr double kGradeTolerance = 1.01;
constexpr uint16_t kCrcPolynomial = 0x1021;

}  // namespace

std::string MemoryTypeName(uint8_t code) {
  for (const TypeName& t : kTypes) {
    if (t.code == code) return t.name;
  }
  return "unknown";
}

size_t SpdSize(uint8_t typeCode) {
  if (typeCode == spd::kDdr5) return spd::kDdr5Size;
  return typeCode == spd::kDdr4 ? 2 * spd::kPageSize : spd::kPageSize;
}

std::string CapacityText(uint64_t megabytes) {
  constexpr uint64_t kMbPerGb = 1024;
  if (megabytes >= kMbPerGb && megabytes % kMbPerGb == 0) {
    return std::to_string(megabytes / kMbPerGb) + " GB";
  }
  return std::to_string(megabytes) + " MB";
}

uint16_t SpdCrc16(const uint8_t* bytes, size_t count) {
  uint16_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    crc ^= static_cast<uint16_t>(bytes[i] << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ kCrcPolynomial)
                           : static_cast<uint16_t>(crc << 1);
    }
  }
  return crc;
}

std::string ModuleMaker(unsigned bank, uint8_t code) {
  for (const Maker& m : kMakers) {
    if (m.bank == bank && m.code == code) return m.name;
  }
  return "";
}

SpdModule DecodeSpd(const std::vector<uint8_t>& bytes) {
  SpdModule module;
  module.typeCode = bytes.size() > spd::kTypeByte ? bytes[spd::kTypeByte] : 0;
  module.type = MemoryTypeName(module.typeCode);
  if (bytes.size() < SpdSize(module.typeCode)) return module;
  if (module.typeCode == spd::kDdr3) spd_detail::DecodeDdr3(bytes, &module);
  if (module.typeCode == spd::kDdr4) spd_detail::DecodeDdr4(bytes, &module);
  if (module.typeCode == spd::kDdr5) spd_detail::DecodeDdr5(bytes, &module);
  if (module.typeCode == spd::kDdr3) spd_detail::AddDdr3Extras(bytes, &module);
  if (module.typeCode == spd::kDdr4) spd_detail::AddDdr4Extras(bytes, &module);
  if (module.decoded) spd_detail::SetTimingSummary(&module);
  return module;
}

namespace spd_detail {

void SetSpeed(double tckNs, const char* prefix, const char* pcPrefix, SpdModule* module) {
  module->tckNs = tckNs;
  if (tckNs <= 0) return;
  const double rate = 2000.0 / tckNs;
  unsigned speed = static_cast<unsigned>(rate);
  for (unsigned grade : kGrades) {
    if (rate >= grade && rate < grade * kGradeTolerance) speed = grade;
  }
  module->speed = speed;
  module->speedGrade = prefix + std::to_string(speed);
  // Module names count bytes per second over the 64-bit bus, in 100s.
  constexpr unsigned kBytesPerTransfer = 8, kRounding = 100;
  module->pcName = pcPrefix + std::to_string(speed * kBytesPerTransfer / kRounding * kRounding);
}

unsigned Clocks(double ns, double tckNs) {
  constexpr double kSlack = 0.025;  // a clock's fraction lost to rounding in the bytes
  return static_cast<unsigned>(std::ceil(ns / tckNs - kSlack));
}

std::string Text(const std::vector<uint8_t>& bytes, size_t first, size_t count) {
  std::string text;
  for (size_t i = first; i < first + count; ++i)
    text += (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? static_cast<char>(bytes[i]) : '?';
  while (!text.empty() && text.back() == ' ')
    text.pop_back();
  return text;
}

unsigned Bcd(uint8_t byte) {
  return (byte >> 4) * 10 + (byte & 0x0F);
}

void DecodeIdentity(const std::vector<uint8_t>& b, const IdentityLayout& at, SpdModule* m) {
  constexpr unsigned kCenturyYear = 2000;  // the year byte counts from 2000
  m->manufacturerBank = (b[at.makerBank] & 0x7F) + 1u;
  m->manufacturerCode = b[at.makerCode];
  m->manufacturer = ModuleMaker(m->manufacturerBank, m->manufacturerCode);
  m->part = Text(b, at.part, at.partLength);
  m->serial = static_cast<uint32_t>(b[at.serial] << 24 | b[at.serial + 1] << 16 |
                                    b[at.serial + 2] << 8 | b[at.serial + 3]);
  m->year = kCenturyYear + Bcd(b[at.year]);
  m->week = Bcd(b[at.week]);
}

SpdCrc Crc(const std::vector<uint8_t>& bytes, size_t first, size_t count, size_t at) {
  SpdCrc crc;
  crc.bytes = std::to_string(first) + "-" + std::to_string(first + count - 1);
  crc.stored = static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
  crc.computed = SpdCrc16(&bytes[first], count);
  return crc;
}

}  // namespace spd_detail

}  // namespace omzi2c::decode
