// DDR5 modules: bytes 0-127 describe the SDRAM with timings in picoseconds,
// 192-447 the module, 510-511 hold the CRC of bytes 0-509, and the maker's
// identification starts at 512.
#include <iterator>

#include "decode/spd.h"

namespace omzi2c::decode::spd_detail {

namespace {

namespace ddr5 {
constexpr size_t kRevision = 1, kModuleType = 3, kDensity = 4, kWidth = 6;
constexpr size_t kVdd = 16, kVddq = 17, kVpp = 18, kTck = 20, kCas = 24, kCasBytes = 5;
constexpr size_t kTaa = 30, kTrcd = 32, kTrp = 34, kTras = 36, kTrc = 38, kTwr = 40;
constexpr size_t kTrfc1 = 42, kTrfc2 = 44, kTrfcSb = 46;
constexpr size_t kOrganization = 234, kChannels = 235;
constexpr size_t kCrcAt = 510;
constexpr size_t kMakerBank = 512, kMakerCode = 513, kLocation = 514, kYear = 515, kWeek = 516;
constexpr size_t kSerial = 517, kPart = 521, kPartLength = 30;
constexpr size_t kDramMakerBank = 552, kDramMakerCode = 553;
constexpr unsigned kFirstCas = 20, kCasStep = 2;
constexpr double kPsPerNs = 1000.0;
}  // namespace ddr5

// Module types by the low nibble of byte 3.
const char* const kModuleTypes[] = {"unknown", "RDIMM",   "UDIMM",   "SO-DIMM",
                                    "LRDIMM",  "unknown", "unknown", "unknown",
                                    "unknown", "unknown", "DDIMM",   "Solder down"};

// Die density in Mbit by byte 4 bits 4:0; 0 where reserved.
const unsigned kDensityMbit[] = {0, 4096, 8192, 12288, 16384, 24576, 32768, 49152, 65536};
// Dies per package by byte 4 bits 7:5 (monolithic, then stacks).
const unsigned kDiesPerPackage[] = {1, 0, 2, 4, 8, 16, 0, 0};

unsigned Word(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8;
}

// JEDEC's rounding for DDR5: the clock count less 0.3 percent, rounded up;
// none without a clock.
std::optional<unsigned> Ddr5Clocks(unsigned ps, unsigned tckPs) {
  constexpr unsigned kPerMille = 1000, kTolerance = 997;
  if (tckPs == 0) return std::nullopt;
  return static_cast<unsigned>((static_cast<uint64_t>(ps) * kTolerance / tckPs + kPerMille) /
                               kPerMille);
}

void DecodeTimings(const std::vector<uint8_t>& b, SpdModule* m) {
  const unsigned tck = Word(b, ddr5::kTck);
  SetSpeed(tck / ddr5::kPsPerNs, Generation::kDdr5, m);
  for (unsigned bit = 0; bit < 8 * ddr5::kCasBytes; ++bit) {
    if (b[ddr5::kCas + bit / 8] & (1u << (bit % 8)))
      m->casLatencies.push_back(ddr5::kFirstCas + ddr5::kCasStep * bit);
  }
  constexpr unsigned kPs = 1, kNs = 1000;  // refresh times are kept in ns
  const struct {
    const char* name;
    size_t at;
    unsigned psPerUnit;
  } timings[] = {
      {"tAA", ddr5::kTaa, kPs},     {"tRCD", ddr5::kTrcd, kPs},   {"tRP", ddr5::kTrp, kPs},
      {"tRAS", ddr5::kTras, kPs},   {"tRC", ddr5::kTrc, kPs},     {"tWR", ddr5::kTwr, kPs},
      {"tRFC1", ddr5::kTrfc1, kNs}, {"tRFC2", ddr5::kTrfc2, kNs}, {"tRFCsb", ddr5::kTrfcSb, kNs},
  };
  for (const auto& t : timings) {
    const unsigned ps = Word(b, t.at) * t.psPerUnit;
    m->timings.push_back({t.name, ps / ddr5::kPsPerNs, Ddr5Clocks(ps, tck)});
  }
}

void DecodeGeometry(const std::vector<uint8_t>& b, SpdModule* m) {
  constexpr unsigned kBitsPerByte = 8;
  const unsigned type = b[ddr5::kModuleType] & 0x0F;
  m->moduleType = type < std::size(kModuleTypes) ? kModuleTypes[type] : "unknown";
  const unsigned density = b[ddr5::kDensity] & 0x1F;
  m->dieMbit = density < std::size(kDensityMbit) ? kDensityMbit[density] : 0;
  const unsigned dies = kDiesPerPackage[b[ddr5::kDensity] >> 5];
  m->deviceWidth = 4u << ((b[ddr5::kWidth] >> 5) & 0x03);
  m->ranks = ((b[ddr5::kOrganization] >> 3) & 0x07) + 1;
  const uint8_t channels = b[ddr5::kChannels];
  m->subChannels = ((channels >> 5) & 0x03) + 1;
  const unsigned subChannelWidth = 8u << (channels & 0x07);
  const unsigned extension = (channels >> 3) & 0x03;
  m->busWidth = m->subChannels * subChannelWidth;
  m->eccBits = m->subChannels * (extension == 1 ? 4 : extension == 2 ? 8 : 0);
  m->capacityMb = static_cast<uint64_t>(m->subChannels) * (subChannelWidth / m->deviceWidth) *
                  (m->dieMbit / kBitsPerByte) * dies * m->ranks;
  // Nominal voltages: only the code 0 of each is defined so far.
  const struct {
    const char* name;
    size_t at;
    double volts;
  } rails[] = {{"VDD", ddr5::kVdd, 1.1}, {"VDDQ", ddr5::kVddq, 1.1}, {"VPP", ddr5::kVpp, 1.8}};
  for (const auto& rail : rails) {
    if ((b[rail.at] >> 4) != 0) continue;
    m->volts.push_back(rail.volts);
    m->voltNames.push_back(rail.name);
  }
}

}  // namespace

void DecodeDdr5(const std::vector<uint8_t>& bytes, SpdModule* module) {
  module->decoded = true;
  module->spdRevision = std::to_string(bytes[ddr5::kRevision] >> 4) + "." +
                        std::to_string(bytes[ddr5::kRevision] & 0x0F);
  DecodeGeometry(bytes, module);
  DecodeTimings(bytes, module);
  DecodeIdentity(bytes,
                 {ddr5::kMakerBank, ddr5::kMakerCode, ddr5::kYear, ddr5::kWeek, ddr5::kSerial,
                  ddr5::kPart, ddr5::kPartLength},
                 module);
  module->dramMakerBank = (bytes[ddr5::kDramMakerBank] & 0x7F) + 1u;
  module->dramMakerCode = bytes[ddr5::kDramMakerCode];
  module->dramMaker = ModuleMaker(module->dramMakerBank, module->dramMakerCode);
  module->location = bytes[ddr5::kLocation];
  module->crcs.push_back(Crc(bytes, 0, ddr5::kCrcAt, ddr5::kCrcAt));
}

}  // namespace omzi2c::decode::spd_detail
