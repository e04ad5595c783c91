#include "tools/format.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace omzi2c::tool {

std::optional<uint32_t> ParseNumber(const std::string& text, uint32_t max) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || std::isspace(uint8_t(text[0]))) {
    return std::nullopt;
  }
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
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
std::string Format(const char* pattern, uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}
}  // namespace

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

std::string ByteDump(const std::vector<std::optional<uint8_t>>& values) {
  std::string dump = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n";
  for (size_t row = 0; row < values.size(); row += 16) {
    dump += Format("%02x:", static_cast<uint32_t>(row));
    std::string ascii;
    for (size_t i = row; i < row + 16 && i < values.size(); ++i) {
      dump += values[i] ? Format(" %02x", *values[i]) : " XX";
      ascii += AsciiOf(values[i]);
    }
    dump += "    " + ascii + '\n';
  }
  return dump;
}

std::string WordDump(const std::vector<std::optional<uint16_t>>& values) {
  std::string dump = "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f\n";
  for (size_t row = 0; row < values.size(); row += 8) {
    dump += Format("%02x:", static_cast<uint32_t>(row));
    for (size_t i = row; i < row + 8 && i < values.size(); ++i) {
      dump += values[i] ? Format(" %04x", *values[i]) : " XXXX";
    }
    dump += '\n';
  }
  return dump;
}

}  // namespace omzi2c::tool
