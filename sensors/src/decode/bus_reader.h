// Reads for the decoders through the client, sorting each outcome into
// "answered", "no device there" and a failure of the bus (a host error, a
// time-out), which ends whatever is being read.
#pragma once

#include <omzi2c_client/client.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace omzi2c::decode {

enum class Probe { kAnswered, kAbsent, kFailed };
// Only a chip that did not answer is "no device there": a device error or no
// acknowledge in the error reply, or, where the platform passes no error
// reply, the device-error status itself.
Probe ProbeResult(const client::Response& response);

class BusReader {
 public:
  explicit BusReader(client::Client& client) : client_(client) {}

  // Each read is empty when the chip did not answer or the bus failed; after
  // a failure, Failed() is true and every further read is empty.
  std::optional<uint8_t> Byte(uint8_t chip, uint8_t reg);
  std::optional<uint16_t> WordHighFirst(uint8_t chip, uint8_t reg);
  std::optional<std::vector<uint8_t>> Bytes(uint8_t chip, uint8_t reg, size_t count);
  // A write byte data, as the page-select addresses take it; false as above.
  bool Select(uint8_t chip);
  // A write byte data of `value` at `reg`; false as above.
  bool WriteByte(uint8_t chip, uint8_t reg, uint8_t value);
  // The same, tried even after a failure (which it leaves as recorded): for
  // putting back what a sequence changed.
  bool Restore(uint8_t chip, uint8_t reg, uint8_t value);

  // For a sequence that must keep the bus (client::SequenceHold).
  client::Client& Client() { return client_; }

  bool Failed() const { return failed_.has_value(); }
  const client::Response& Failure() const { return *failed_; }
  const std::string& FailedWhat() const { return failedWhat_; }

 private:
  bool Keep(const client::Response& response, const std::string& what);

  client::Client& client_;
  std::optional<client::Response> failed_;
  std::string failedWhat_;
};

}  // namespace omzi2c::decode
