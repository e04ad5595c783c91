// DDR4 modules: bytes 0-127 describe the SDRAM, 128-255 the module, and the
// upper page (256-511) holds the maker's identification.
#include <iterator>

#include "decode/spd.h"

namespace omzi2c::decode::spd_detail {

namespace {

namespace ddr4 {
constexpr size_t kModuleType = 3, kDensity = 4, kPackage = 6, kVoltage = 11;
constexpr size_t kOrganization = 12, kBusWidth = 13, kThermalSensor = 14;
constexpr size_t kTck = 18, kTckMax = 19, kCas = 20, kCasBytes = 4, kTaa = 24, kTrcd = 25,
                 kTrp = 26;
constexpr size_t kTrasTrcUpper = 27, kTras = 28, kTrc = 29, kTrfc1 = 30, kTfawUpper = 36;
constexpr size_t kTfaw = 37, kTrrdS = 38, kTrrdL = 39, kTccdL = 40, kTwrUpper = 41, kTwr = 42;
// Fine offsets (signed, 1 ps) of the timings that have one.
constexpr size_t kTccdLFine = 117, kTrrdLFine = 118, kTrrdSFine = 119, kTrcFine = 120;
constexpr size_t kTrpFine = 121, kTrcdFine = 122, kTaaFine = 123, kTckMaxFine = 124;
constexpr size_t kTckFine = 125, kBaseCrc = 126, kBaseLength = 126;
constexpr size_t kModuleSection = 128, kModuleCrc = 254, kModuleLength = 126;
constexpr size_t kMakerBank = 320, kMakerCode = 321, kYear = 323, kWeek = 324;
constexpr size_t kSerial = 325, kPart = 329, kPartLength = 20;
constexpr unsigned kFirstCas = 7, kHighFirstCas = 23;
constexpr double kMediumNs = 0.125, kFineNs = 0.001;
}  // namespace ddr4

const char* const kModuleTypes[] = {
    "extended", "RDIMM",        "UDIMM",        "SO-DIMM", "LRDIMM",  "Mini-RDIMM",  "Mini-UDIMM",
    "unknown",  "72b-SO-RDIMM", "72b-SO-UDIMM", "unknown", "unknown", "16b-SO-DIMM", "32b-SO-DIMM"};

double Fine(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<int8_t>(b[at]) * ddr4::kFineNs;
}

double Medium(const std::vector<uint8_t>& b, size_t at, size_t fineAt) {
  return b[at] * ddr4::kMediumNs + Fine(b, fineAt);
}

void DecodeLatencies(const std::vector<uint8_t>& b, SpdModule* m) {
  const bool high = (b[ddr4::kCas + ddr4::kCasBytes - 1] & 0x80) != 0;
  const unsigned first = high ? ddr4::kHighFirstCas : ddr4::kFirstCas;
  for (unsigned bit = 0; bit < 8 * ddr4::kCasBytes - 2; ++bit) {
    if (b[ddr4::kCas + bit / 8] & (1u << (bit % 8))) m->casLatencies.push_back(first + bit);
  }
}

void DecodeTimings(const std::vector<uint8_t>& b, SpdModule* m) {
  const double tck = Medium(b, ddr4::kTck, ddr4::kTckFine);
  SetSpeed(tck, Generation::kDdr4, m);
  m->tckMaxNs = Medium(b, ddr4::kTckMax, ddr4::kTckMaxFine);
  DecodeLatencies(b, m);
  const unsigned upper = b[ddr4::kTrasTrcUpper];
  auto wide = [&](unsigned high, size_t low) { return (high << 8 | b[low]) * ddr4::kMediumNs; };
  const struct {
    const char* name;
    double ns;
  } timings[] = {
      {"tAA", Medium(b, ddr4::kTaa, ddr4::kTaaFine)},
      {"tRCD", Medium(b, ddr4::kTrcd, ddr4::kTrcdFine)},
      {"tRP", Medium(b, ddr4::kTrp, ddr4::kTrpFine)},
      {"tRAS", wide(upper & 0x0F, ddr4::kTras)},
      {"tRC", wide(upper >> 4, ddr4::kTrc) + Fine(b, ddr4::kTrcFine)},
      {"tRFC1", wide(b[ddr4::kTrfc1 + 1], ddr4::kTrfc1)},
      {"tFAW", wide(b[ddr4::kTfawUpper] & 0x0F, ddr4::kTfaw)},
      {"tRRD_S", Medium(b, ddr4::kTrrdS, ddr4::kTrrdSFine)},
      {"tRRD_L", Medium(b, ddr4::kTrrdL, ddr4::kTrrdLFine)},
      {"tCCD_L", Medium(b, ddr4::kTccdL, ddr4::kTccdLFine)},
      {"tWR", wide(b[ddr4::kTwrUpper] & 0x0F, ddr4::kTwr)},
  };
  for (const auto& t : timings)
    m->timings.push_back({t.name, t.ns, Clocks(t.ns, tck)});
}

void DecodeGeometry(const std::vector<uint8_t>& b, SpdModule* m) {
  constexpr unsigned kSmallestDieMbit = 256, kBitsPerByte = 8, kStackedLoading = 2;
  const unsigned type = b[ddr4::kModuleType] & 0x0F;
  m->moduleType = type < std::size(kModuleTypes) ? kModuleTypes[type] : "unknown";
  m->dieMbit = kSmallestDieMbit << (b[ddr4::kDensity] & 0x0F);
  m->deviceWidth = 4u << (b[ddr4::kOrganization] & 0x07);
  m->ranks = ((b[ddr4::kOrganization] >> 3) & 0x07) + 1;
  m->busWidth = 8u << (b[ddr4::kBusWidth] & 0x07);
  m->eccBits = ((b[ddr4::kBusWidth] >> 3) & 0x03) ? 8 : 0;
  // Stacked (3DS) packages hold several dies per rank.
  const uint8_t package = b[ddr4::kPackage];
  const unsigned dies = (package & 0x03) == kStackedLoading ? ((package >> 4) & 0x07) + 1 : 1;
  m->capacityMb = static_cast<uint64_t>(m->dieMbit) / kBitsPerByte * m->busWidth / m->deviceWidth *
                  m->ranks * dies;
  constexpr double kDdr4Volts = 1.2;
  if (b[ddr4::kVoltage] & 0x01) m->volts.push_back(kDdr4Volts);
  m->thermalSensor = (b[ddr4::kThermalSensor] & 0x80) != 0;
}

}  // namespace

void DecodeDdr4(const std::vector<uint8_t>& bytes, SpdModule* module) {
  module->decoded = true;
  DecodeGeometry(bytes, module);
  DecodeTimings(bytes, module);
  DecodeIdentity(bytes,
                 {ddr4::kMakerBank, ddr4::kMakerCode, ddr4::kYear, ddr4::kWeek, ddr4::kSerial,
                  ddr4::kPart, ddr4::kPartLength},
                 module);
  module->crcs.push_back(Crc(bytes, 0, ddr4::kBaseLength, ddr4::kBaseCrc));
  module->crcs.push_back(Crc(bytes, ddr4::kModuleSection, ddr4::kModuleLength, ddr4::kModuleCrc));
}

}  // namespace omzi2c::decode::spd_detail
