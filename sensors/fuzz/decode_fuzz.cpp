// Fuzz target: the decoders on any register values and any SPD image, as
// the scans hand them over, and the text and JSON the tool prints of a
// module (the readings' text is a number each, not worth the time).
//
// Input: [0..15] the temperature sensor's eight registers (high byte first),
// [16..271] the hardware monitor's 256 registers, then the SPD image: every
// byte from 272 on, up to 1024 (a short input leaves the registers' tail at
// 0 and gives a short image, which must decode as "not decoded"). The SPD
// hub's sensor registers (MR49:MR50, MR28-MR35, MR26, MR51) are the first
// twelve bytes again, read the hub's way.
//
// After decoding, the target checks what must hold whatever the bytes are:
// a clock count only for a valid time and a valid tCK, and then the time in
// clocks rounded up, DDR5's less its 0.3 percent (never a count wrapped round
// from a negative time), a speed grade only from a positive tCK, a
// temperature within the 13-bit range of the sensor's format (both the
// JC-42.4 one and the hub's) and a monitor reading that is a number.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "decode/chip_tables.h"
#include "decode/spd.h"
#include "decode/spd_hub.h"
#include "tools/decode_json.h"
#include "tools/decode_text.h"

namespace {

using namespace omzi2c;

constexpr size_t kSensorBytes = 2 * decode::jc42::kRegisters;
constexpr size_t kMonitorRegisters = 256;
constexpr size_t kImageAt = kSensorBytes + kMonitorRegisters;
constexpr size_t kLargestImage = decode::spd::kDdr5Size;
constexpr double kLowestCelsius = -256, kHighestCelsius = 256;

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

uint8_t At(const uint8_t* data, size_t size, size_t i) {
  return i < size ? data[i] : 0;
}

void CheckModule(const decode::SpdModule& m) {
  for (const decode::SpdTiming& t : m.timings) {
    if (!t.clocks) continue;
    if (!t.Valid() || !(m.tckNs > 0)) Broken("clocks of an invalid time or tCK");
    // DDR5's rounding takes 0.3 percent off first: a long time may come
    // out more than a clock short of it.
    constexpr double kDdr5Rounding = 0.997;
    const double exact = t.ns / m.tckNs;
    if (*t.clocks + 1.0 < exact * kDdr5Rounding || *t.clocks > exact + 1.0)
      Broken("clocks not the time rounded up");
  }
  if (m.speed && !(m.tckNs > 0)) Broken("a speed grade from a tCK that is not positive");
  if (m.speed && m.speedGrade.empty()) Broken("a speed without its grade");
}

void DecodeSensors(const uint8_t* data, size_t size) {
  std::array<uint16_t, decode::jc42::kRegisters> words{};
  for (size_t r = 0; r < words.size(); ++r)
    words[r] = static_cast<uint16_t>(At(data, size, 2 * r) << 8 | At(data, size, 2 * r + 1));
  for (const decode::Reading& r : decode::DecodeJc42(words)) {
    if (!(*r.value >= kLowestCelsius && *r.value < kHighestCelsius)) Broken("temperature range");
  }
  decode::FindTemperatureSensor(words[decode::jc42::kManufacturer], words[decode::jc42::kDevice]);
  const std::vector<uint8_t> temperature = {At(data, size, 0), At(data, size, 1)};
  std::vector<uint8_t> limits(decode::hub::kLimitBytes);
  for (size_t i = 0; i < limits.size(); ++i)
    limits[i] = At(data, size, 2 + i);
  const size_t config = 2 + decode::hub::kLimitBytes;
  const decode::Reading hub = decode::DecodeHubTemperature(
      temperature, limits, At(data, size, config), At(data, size, config + 1));
  for (const std::optional<double>& value :
       {hub.value, hub.high, hub.low, hub.critical, hub.lowCritical}) {
    if (value && !(*value >= kLowestCelsius && *value < kHighestCelsius))
      Broken("hub temperature range");
  }
  std::array<uint8_t, kMonitorRegisters> registers{};
  for (size_t r = 0; r < registers.size(); ++r)
    registers[r] = At(data, size, kSensorBytes + r);
  for (const decode::MonitorFamily& family : decode::MonitorFamilies()) {
    for (const decode::MonitorInput& input : family.inputs) {
      const decode::Reading r = decode::DecodeMonitorInput(family, input, registers);
      if (r.value && !std::isfinite(*r.value)) Broken("a reading that is not a number");
    }
  }
}

void DecodeModule(const uint8_t* data, size_t size) {
  const size_t length = size > kImageAt ? std::min(size - kImageAt, kLargestImage) : 0;
  decode::ModuleRead read;
  read.address = 0x50;
  read.bytes.assign(data + (length ? kImageAt : 0), data + (length ? kImageAt + length : 0));
  read.module = decode::DecodeSpd(read.bytes);
  if (read.module.decoded && length < decode::SpdSize(read.module.typeCode))
    Broken("a module decoded from fewer bytes than its type has");
  CheckModule(read.module);
  tool::ModuleText(read);
  tool::ModulesJson({read});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DecodeSensors(data, size);
  DecodeModule(data, size);
  return 0;
}
