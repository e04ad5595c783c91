#include "decode/spd.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

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

// The JEDEC speed grades: the data rate, the grade's tCK(avg)min as the
// bytes store it (whole ps) and the module name that goes with it.
struct SpeedGrade {
  unsigned rate;
  double tckNs;
  const char* pcName;
};
const SpeedGrade kDdr3Grades[] = {
    {800, 2.5, "PC3-6400"},    {1066, 1.875, "PC3-8500"},  {1333, 1.5, "PC3-10600"},
    {1600, 1.25, "PC3-12800"}, {1866, 1.071, "PC3-14900"}, {2133, 0.938, "PC3-17000"},
};
const SpeedGrade kDdr4Grades[] = {
    {1600, 1.25, "PC4-12800"},  {1866, 1.071, "PC4-14900"}, {2133, 0.938, "PC4-17000"},
    {2400, 0.833, "PC4-19200"}, {2666, 0.75, "PC4-21300"},  {2933, 0.682, "PC4-23466"},
    {3200, 0.625, "PC4-25600"},
};
const SpeedGrade kDdr5Grades[] = {
    {3200, 0.625, "PC5-25600"}, {3600, 0.555, "PC5-28800"}, {4000, 0.5, "PC5-32000"},
    {4400, 0.454, "PC5-35200"}, {4800, 0.416, "PC5-38400"}, {5200, 0.384, "PC5-41600"},
    {5600, 0.357, "PC5-44800"}, {6000, 0.333, "PC5-48000"}, {6400, 0.312, "PC5-51200"},
};

// Each generation's grades and the prefixes of its names.
struct GenerationGrades {
  const SpeedGrade* first;
  const SpeedGrade* last;
  const char* prefix;
  const char* pcPrefix;
};
GenerationGrades GradesOf(spd_detail::Generation generation) {
  switch (generation) {
    case spd_detail::Generation::kDdr3:
      return {std::begin(kDdr3Grades), std::end(kDdr3Grades), "DDR3-", "PC3-"};
    case spd_detail::Generation::kDdr4:
      return {std::begin(kDdr4Grades), std::end(kDdr4Grades), "DDR4-", "PC4-"};
    case spd_detail::Generation::kDdr5:
      break;
  }
  return {std::begin(kDdr5Grades), std::end(kDdr5Grades), "DDR5-", "PC5-"};
}
// The exact periods (0.9375 ns, 1.0714 ns, ...) are stored rounded to a
// whole ps, either way; a tCK this close to a grade's is that grade.
constexpr double kGradeSlackNs = 0.003;

// A non-negative value that fits an unsigned; none otherwise (a negative
// time, a clock count or rate from a tCK of a few fine units).
std::optional<unsigned> Whole(double value) {
  if (!(value >= 0 && value <= std::numeric_limits<unsigned>::max())) return std::nullopt;
  return static_cast<unsigned>(value);
}

constexpr uint16_t kCrcPolynomial = 0x1021;

}  // namespace

std::string MemoryTypeName(uint8_t code) {
  for (const TypeName& t : kTypes) {
    if (t.code == code) return t.name;
  }
  return "unknown";
}

bool KnownMemoryType(uint8_t code) {
  return std::any_of(std::begin(kTypes), std::end(kTypes),
                     [code](const TypeName& t) { return t.code == code; });
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

void SetSpeed(double tckNs, Generation generation, SpdModule* module) {
  module->tckNs = tckNs;
  if (!(tckNs > 0)) return;
  const GenerationGrades grades = GradesOf(generation);
  for (const SpeedGrade* grade = grades.first; grade != grades.last; ++grade) {
    if (std::fabs(tckNs - grade->tckNs) <= kGradeSlackNs) {
      module->speed = grade->rate;
      module->speedGrade = grades.prefix + std::to_string(grade->rate);
      module->pcName = grade->pcName;
      return;
    }
  }
  constexpr double kTransfersPerClockNs = 2000;  // two transfers a clock, in MT/s
  module->speed = Whole(kTransfersPerClockNs / tckNs);
  if (!module->speed) return;
  module->speedGrade = grades.prefix + std::to_string(*module->speed);
  // Module names count bytes per second over the 64-bit bus, in 100s.
  constexpr uint64_t kBytesPerTransfer = 8, kRounding = 100;
  module->pcName =
      grades.pcPrefix + std::to_string(*module->speed * kBytesPerTransfer / kRounding * kRounding);
}

std::optional<unsigned> Clocks(double ns, double tckNs) {
  constexpr double kSlack = 0.025;  // a clock's fraction lost to rounding in the bytes
  if (!(ns >= 0 && tckNs > 0)) return std::nullopt;
  return Whole(std::ceil(ns / tckNs - kSlack));
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
  m->serial = 0;
  for (size_t i = 0; i < 4; ++i)
    m->serial = m->serial << 8 | b[at.serial + i];
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
