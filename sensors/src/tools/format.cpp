#include "tools/format.h"

#include <omzi2c/omzi2c.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace omzi2c::tool {

std::optional<uint32_t> ParseNumber(const std::string& text, uint32_t max) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || std::isspace(uint8_t(text[0]))) {
    return std::nullopt;
  }
  // C rules, as i2c-tools reads numbers: 0x hex, a leading 0 octal (so "08"
  // is refused), decimal otherwise.
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0' || value > max) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::optional<std::vector<uint8_t>> ParseHexBytes(const std::string& text) {
  std::string digits;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == ',' || c == ':' || c == '-') continue;
    if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
      ++i;
      continue;
    }
    if (!std::isxdigit(uint8_t(c))) return std::nullopt;
    digits += c;
  }
  if (digits.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
  }
  return bytes;
}

namespace {

const char* ResultWords(uint8_t result) {
  switch (result) {
    case kResultNoAcknowledge:
      return "no acknowledge: no chip answered at this address";
    case kResultTimeout:
      return "time-out: the host did not become free or did not finish";
    case kResultNotSupported:
      return "not supported by this controller";
    case kResultBusBusy:
      return "bus busy";
    case kResultHostNotReady:
      return "host not ready: it stayed busy or in use, or never reported completion";
    case kResultCollisionOrDeviceError:
      return "bus collision or device error";
    case kResultAlert:
      return "alert: the host flagged an SMBus alert";
    case kResultFailed:
      return "failed transaction: the host reported failure or the transaction was killed";
    case kResultBusError:
      return "collision: bus error or lost arbitration";
    case kResultDeviceError:
      return "device error: no acknowledge from the chip (or a refused byte), or a bad "
             "block count";
    case kResultPecError:
      return "packet error check mismatch";
    default:
      return "unknown result";
  }
}

// Flags of the status byte in an error reply: the host that records its
// status there (the paced-poll host) has them in these bits.
constexpr uint8_t kHostBusy = 0x01, kHostDone = 0x02, kHostDeviceError = 0x04,
                  kHostCollision = 0x08, kHostFailed = 0x10;

std::string HostStatusWords(uint8_t status) {
  std::string words;
  const struct {
    uint8_t bit;
    const char* name;
  } flags[] = {{kHostBusy, "busy"},
               {kHostDone, "done"},
               {kHostDeviceError, "device error"},
               {kHostCollision, "collision"},
               {kHostFailed, "failed"}};
  for (const auto& flag : flags) {
    if ((status & flag.bit) == 0) continue;
    words += words.empty() ? "" : ", ";
    words += flag.name;
  }
  return words.empty() ? "no known flag" : words;
}

}  // namespace

namespace {
std::string Format(const char* pattern, uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}
}  // namespace

std::string DescribeHostReport(uint8_t result, uint8_t hostStatus) {
  const std::string words =
      std::string(ResultWords(result)) + " (result " + std::to_string(result) + ")";
  // Only the paced-poll host records its status; 0 is nothing to show.
  if (hostStatus == 0) return words;
  return words + "; last host status " + Hex2(hostStatus) + " (" + HostStatusWords(hostStatus) +
         ")";
}

std::string Hex2(uint32_t value) {
  return Format("0x%02x", value);
}
std::string Hex4(uint32_t value) {
  return Format("0x%04x", value);
}
std::string Hex8(uint32_t value) {
  return Format("0x%08x", value);
}

std::string ByteList(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (uint8_t byte : bytes) {
    if (!text.empty()) text += ' ';
    text += Hex2(byte);
  }
  return text;
}

std::string DetectGrid(const std::vector<bool>& found, unsigned first, unsigned last) {
  std::string grid = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n";
  for (unsigned row = 0; row < 0x80; row += 16) {
    grid += Format("%02x:", row);
    for (unsigned address = row; address < row + 16; ++address) {
      if (address < first || address > last) {
        grid += "   ";
      } else if (address < found.size() && found[address]) {
        grid += Format(" %02x", address);
      } else {
        grid += " --";
      }
    }
    grid += '\n';
  }
  return grid;
}

namespace {
char AsciiOf(const std::optional<uint8_t>& value) {
  if (!value) return 'X';
  if (*value == 0x00 || *value == 0xFF) return '.';
  if (*value < 32 || *value >= 127) return '?';
  return static_cast<char>(*value);
}
}  // namespace

std::string ByteDump(const std::vector<std::optional<uint8_t>>& values, size_t first, size_t last) {
  constexpr size_t kRow = 16;
  std::string dump = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n";
  last = std::min(last, values.size() - 1);
  for (size_t row = first / kRow * kRow; row <= last; row += kRow) {
    dump += Format("%02x:", static_cast<uint32_t>(row));
    std::string ascii;
    for (size_t i = row; i < row + kRow && i < values.size(); ++i) {
      const bool shown = i >= first && i <= last;
      dump += !shown ? "   " : values[i] ? Format(" %02x", *values[i]) : " XX";
      ascii += shown ? AsciiOf(values[i]) : ' ';
    }
    dump += "    " + ascii + '\n';
  }
  return dump;
}

std::string WordDump(const std::vector<std::optional<uint16_t>>& values, size_t first,
                     size_t last) {
  constexpr size_t kRow = 8;
  std::string dump = "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f\n";
  last = std::min(last, values.size() - 1);
  for (size_t row = first / kRow * kRow; row <= last; row += kRow) {
    dump += Format("%02x:", static_cast<uint32_t>(row));
    for (size_t i = row; i < row + kRow && i < values.size(); ++i) {
      const bool shown = i >= first && i <= last;
      dump += !shown ? "     " : values[i] ? Format(" %04x", *values[i]) : " XXXX";
    }
    dump += '\n';
  }
  return dump;
}

}  // namespace omzi2c::tool
