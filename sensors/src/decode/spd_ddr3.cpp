// DDR3 modules: bytes 0-175 describe the module, 176-255 are the maker's.
#include <iterator>

#include "decode/spd.h"

namespace omzi2c::decode::spd_detail {

namespace {

namespace ddr3 {
constexpr size_t kCrcCoverage = 0, kModuleType = 3, kDensity = 4, kVoltage = 6;
constexpr size_t kOrganization = 7, kBusWidth = 8, kFineTimebase = 9;
constexpr size_t kMediumDividend = 10, kMediumDivisor = 11, kTck = 12;
constexpr size_t kCasLow = 14, kCasHigh = 15, kTaa = 16, kTwr = 17, kTrcd = 18, kTrrd = 19;
constexpr size_t kTrp = 20, kTrasTrcUpper = 21, kTras = 22, kTrc = 23, kTrfc = 24;
constexpr size_t kTwtr = 26, kTrtp = 27, kTfawUpper = 28, kTfaw = 29, kThermalSensor = 32;
constexpr size_t kTckFine = 34, kTaaFine = 35, kTrcdFine = 36, kTrpFine = 37, kTrcFine = 38;
constexpr size_t kMakerBank = 117, kMakerCode = 118, kYear = 120, kWeek = 121, kSerial = 122;
constexpr size_t kCrc = 126, kPart = 128, kPartLength = 18;
constexpr size_t kShortCrc = 117, kLongCrc = 126;
constexpr unsigned kFirstCas = 4;
}  // namespace ddr3

const char* const kModuleTypes[] = {"unknown",      "RDIMM",        "UDIMM",        "SO-DIMM",
                                    "Micro-DIMM",   "Mini-RDIMM",   "Mini-UDIMM",   "Mini-CDIMM",
                                    "72b-SO-UDIMM", "72b-SO-RDIMM", "72b-SO-CDIMM", "LRDIMM",
                                    "16b-SO-DIMM",  "32b-SO-DIMM"};

// Timebases: the medium one in ns, the fine one in ns.
struct Timebases {
  double medium;
  double fine;
};

Timebases ReadTimebases(const std::vector<uint8_t>& b) {
  constexpr double kPsPerNs = 1000;
  const unsigned fineDividend = b[ddr3::kFineTimebase] >> 4;
  const unsigned fineDivisor = b[ddr3::kFineTimebase] & 0x0F;
  Timebases t{0, 0};
  if (b[ddr3::kMediumDivisor] != 0) {
    t.medium = static_cast<double>(b[ddr3::kMediumDividend]) / b[ddr3::kMediumDivisor];
  }
  if (fineDivisor != 0) t.fine = static_cast<double>(fineDividend) / fineDivisor / kPsPerNs;
  return t;
}

void DecodeTimings(const std::vector<uint8_t>& b, const Timebases& t, SpdModule* m) {
  auto fine = [&](size_t at) { return static_cast<int8_t>(b[at]) * t.fine; };
  const double tck = b[ddr3::kTck] * t.medium + fine(ddr3::kTckFine);
  SetSpeed(tck, Generation::kDdr3, m);
  const unsigned cas = b[ddr3::kCasLow] | b[ddr3::kCasHigh] << 8;
  for (unsigned bit = 0; bit < 16; ++bit) {
    if (cas & (1u << bit)) m->casLatencies.push_back(ddr3::kFirstCas + bit);
  }
  const unsigned upper = b[ddr3::kTrasTrcUpper];
  const double tras = ((upper & 0x0F) << 8 | b[ddr3::kTras]) * t.medium;
  const double trc = ((upper >> 4) << 8 | b[ddr3::kTrc]) * t.medium + fine(ddr3::kTrcFine);
  const struct {
    const char* name;
    double ns;
  } timings[] = {
      {"tAA", b[ddr3::kTaa] * t.medium + fine(ddr3::kTaaFine)},
      {"tRCD", b[ddr3::kTrcd] * t.medium + fine(ddr3::kTrcdFine)},
      {"tRP", b[ddr3::kTrp] * t.medium + fine(ddr3::kTrpFine)},
      {"tRAS", tras},
      {"tRC", trc},
      {"tWR", b[ddr3::kTwr] * t.medium},
      {"tRRD", b[ddr3::kTrrd] * t.medium},
      {"tRFC", (b[ddr3::kTrfc] | b[ddr3::kTrfc + 1] << 8) * t.medium},
      {"tWTR", b[ddr3::kTwtr] * t.medium},
      {"tRTP", b[ddr3::kTrtp] * t.medium},
      {"tFAW", ((b[ddr3::kTfawUpper] & 0x0F) << 8 | b[ddr3::kTfaw]) * t.medium},
  };
  for (const auto& timing : timings)
    m->timings.push_back({timing.name, timing.ns, Clocks(timing.ns, tck)});
}

void DecodeGeometry(const std::vector<uint8_t>& b, SpdModule* m) {
  constexpr unsigned kSmallestDieMbit = 256;
  constexpr unsigned kBitsPerByte = 8;
  const unsigned type = b[ddr3::kModuleType] & 0x0F;
  m->moduleType = type < std::size(kModuleTypes) ? kModuleTypes[type] : "unknown";
  m->dieMbit = kSmallestDieMbit << (b[ddr3::kDensity] & 0x0F);
  m->deviceWidth = 4u << (b[ddr3::kOrganization] & 0x07);
  m->ranks = ((b[ddr3::kOrganization] >> 3) & 0x07) + 1;
  m->busWidth = 8u << (b[ddr3::kBusWidth] & 0x07);
  m->eccBits = ((b[ddr3::kBusWidth] >> 3) & 0x03) ? 8 : 0;
  m->capacityMb =
      static_cast<uint64_t>(m->dieMbit) / kBitsPerByte * m->busWidth / m->deviceWidth * m->ranks;
  // Byte 6: bit 0 set means NOT operable at 1.5 V; bits 1 and 2 add 1.35 V and 1.25 V.
  const uint8_t voltage = b[ddr3::kVoltage];
  if (!(voltage & 0x01)) m->volts.push_back(1.5);
  if (voltage & 0x02) m->volts.push_back(1.35);
  if (voltage & 0x04) m->volts.push_back(1.25);
  m->thermalSensor = (b[ddr3::kThermalSensor] & 0x80) != 0;
}

}  // namespace

void DecodeDdr3(const std::vector<uint8_t>& bytes, SpdModule* module) {
  module->decoded = true;
  DecodeGeometry(bytes, module);
  DecodeTimings(bytes, ReadTimebases(bytes), module);
  DecodeIdentity(bytes,
                 {ddr3::kMakerBank, ddr3::kMakerCode, ddr3::kYear, ddr3::kWeek, ddr3::kSerial,
                  ddr3::kPart, ddr3::kPartLength},
                 module);
  // Byte 0 bit 7: the CRC covers bytes 0-116 only, else 0-125.
  const size_t covered = (bytes[ddr3::kCrcCoverage] & 0x80) ? ddr3::kShortCrc : ddr3::kLongCrc;
  module->crcs.push_back(Crc(bytes, 0, covered, ddr3::kCrc));
}

}  // namespace omzi2c::decode::spd_detail
