// What decode-dimms also shows for DDR3 and DDR4 modules beyond the main
// decode: the SPD revision, the DRAM's maker, the manufacturing site, the
// DDR4 refresh and write-to-read times, and for every decoded type the
// tCL-tRCD-tRP-tRAS summary.
#include <algorithm>

#include "decode/spd.h"

namespace omzi2c::decode::spd_detail {

namespace {

constexpr size_t kRevision = 1;

namespace ddr3 {
constexpr size_t kLocation = 119, kDramMakerBank = 148, kDramMakerCode = 149;
}  // namespace ddr3

namespace ddr4 {
constexpr size_t kTrfc2 = 32, kTrfc4 = 34, kTwtrUpper = 43, kTwtrS = 44, kTwtrL = 45;
constexpr size_t kLocation = 322, kDramMakerBank = 350, kDramMakerCode = 351;
constexpr double kMediumNs = 0.125;
}  // namespace ddr4

std::string Revision(uint8_t byte) {
  return std::to_string(byte >> 4) + "." + std::to_string(byte & 0x0F);
}

// The DRAM's maker where the module gives one (code 0 is none).
void SetDramMaker(const std::vector<uint8_t>& b, size_t bankAt, size_t codeAt, SpdModule* m) {
  if (b[codeAt] == 0) return;
  m->dramMakerBank = (b[bankAt] & 0x7F) + 1u;
  m->dramMakerCode = b[codeAt];
  m->dramMaker = ModuleMaker(m->dramMakerBank, m->dramMakerCode);
}

const SpdTiming* Find(const SpdModule& m, const char* name) {
  for (const SpdTiming& t : m.timings) {
    if (std::string(t.name) == name) return &t;
  }
  return nullptr;
}

}  // namespace

void AddDdr3Extras(const std::vector<uint8_t>& b, SpdModule* m) {
  m->spdRevision = Revision(b[kRevision]);
  SetDramMaker(b, ddr3::kDramMakerBank, ddr3::kDramMakerCode, m);
  m->location = b[ddr3::kLocation];
}

void AddDdr4Extras(const std::vector<uint8_t>& b, SpdModule* m) {
  m->spdRevision = Revision(b[kRevision]);
  SetDramMaker(b, ddr4::kDramMakerBank, ddr4::kDramMakerCode, m);
  m->location = b[ddr4::kLocation];
  const unsigned upper = b[ddr4::kTwtrUpper];
  const struct {
    const char* name;
    unsigned units;
  } timings[] = {
      {"tRFC2", static_cast<unsigned>(b[ddr4::kTrfc2] | b[ddr4::kTrfc2 + 1] << 8)},
      {"tRFC4", static_cast<unsigned>(b[ddr4::kTrfc4] | b[ddr4::kTrfc4 + 1] << 8)},
      {"tWTR_S", (upper & 0x0F) << 8 | b[ddr4::kTwtrS]},
      {"tWTR_L", (upper >> 4) << 8 | b[ddr4::kTwtrL]},
  };
  for (const auto& t : timings) {
    const double ns = t.units * ddr4::kMediumNs;
    m->timings.push_back({t.name, ns, Clocks(ns, m->tckNs)});
  }
}

void SetTimingSummary(SpdModule* m) {
  const SpdTiming* taa = Find(*m, "tAA");
  const SpdTiming* trcd = Find(*m, "tRCD");
  const SpdTiming* trp = Find(*m, "tRP");
  const SpdTiming* tras = Find(*m, "tRAS");
  // Only from valid times at a valid clock.
  for (const SpdTiming* t : {taa, trcd, trp, tras}) {
    if (!t || !t->clocks) return;
  }
  if (*taa->clocks == 0) return;
  // The module runs at the lowest CAS latency it supports that covers tAA.
  unsigned cl = *taa->clocks;
  const auto supported = std::lower_bound(m->casLatencies.begin(), m->casLatencies.end(), cl);
  if (supported != m->casLatencies.end()) cl = *supported;
  m->timingSummary = std::to_string(cl) + "-" + std::to_string(*trcd->clocks) + "-" +
                     std::to_string(*trp->clocks) + "-" + std::to_string(*tras->clocks);
}

}  // namespace omzi2c::decode::spd_detail
