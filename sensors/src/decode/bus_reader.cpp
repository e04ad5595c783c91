#include "decode/bus_reader.h"

#include <omzi2c/omzi2c.h>

#include <algorithm>
#include <cstdio>

namespace omzi2c::decode {

namespace {

std::string Where(uint8_t chip, uint8_t reg) {
  char text[40];
  std::snprintf(text, sizeof text, "Read of chip 0x%02x, register 0x%02x", chip, reg);
  return text;
}

constexpr size_t kLargestRead = 128;

}  // namespace

Probe ProbeResult(const client::Response& response) {
  if (response.Succeeded()) return Probe::kAnswered;
  if (response.status != kStatusIoDeviceError) return Probe::kFailed;
  if (response.errorReply.size() != kSmbErrorReplyLength) return Probe::kAbsent;
  const uint8_t result = response.errorReply[0];
  return result == kResultNoAcknowledge || result == kResultDeviceError ? Probe::kAbsent
                                                                        : Probe::kFailed;
}

bool BusReader::Keep(const client::Response& response, const std::string& what) {
  if (failed_) return false;
  const Probe probe = ProbeResult(response);
  if (probe == Probe::kFailed) {
    failed_ = response;
    failedWhat_ = what;
  }
  return probe == Probe::kAnswered;
}

std::optional<uint8_t> BusReader::Byte(uint8_t chip, uint8_t reg) {
  if (failed_) return std::nullopt;
  const client::Response r = client_.ReadWithCommand(chip, reg, 1);
  if (!Keep(r, Where(chip, reg)) || r.reply.size() != 1) return std::nullopt;
  return r.reply[0];
}

std::optional<uint16_t> BusReader::WordHighFirst(uint8_t chip, uint8_t reg) {
  if (failed_) return std::nullopt;
  const client::Response r = client_.ReadWithCommand(chip, reg, 2);
  if (!Keep(r, Where(chip, reg)) || r.reply.size() != 2) return std::nullopt;
  return static_cast<uint16_t>(r.reply[0] << 8 | r.reply[1]);
}

std::optional<std::vector<uint8_t>> BusReader::Bytes(uint8_t chip, uint8_t reg, size_t count) {
  std::vector<uint8_t> bytes;
  while (bytes.size() < count) {
    if (failed_) return std::nullopt;
    const size_t offset = reg + bytes.size();
    const auto chunk = static_cast<uint8_t>(std::min(kLargestRead, count - bytes.size()));
    const auto at = static_cast<uint8_t>(offset);
    const client::Response r = client_.ReadWithCommand(chip, at, chunk);
    if (!Keep(r, Where(chip, at)) || r.reply.size() != chunk) return std::nullopt;
    bytes.insert(bytes.end(), r.reply.begin(), r.reply.end());
  }
  return bytes;
}

bool BusReader::Select(uint8_t chip) {
  if (failed_) return false;
  char what[40];
  std::snprintf(what, sizeof what, "Write to chip 0x%02x", chip);
  return Keep(client_.WriteWithCommand(chip, 0, {0}), what);
}

bool BusReader::WriteByte(uint8_t chip, uint8_t reg, uint8_t value) {
  if (failed_) return false;
  char what[48];
  std::snprintf(what, sizeof what, "Write to chip 0x%02x, register 0x%02x", chip, reg);
  return Keep(client_.WriteWithCommand(chip, reg, {value}), what);
}

bool BusReader::Restore(uint8_t chip, uint8_t reg, uint8_t value) {
  if (!failed_) return WriteByte(chip, reg, value);
  return client_.WriteWithCommand(chip, reg, {value}).Succeeded();
}

}  // namespace omzi2c::decode
