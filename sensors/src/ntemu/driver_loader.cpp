#include "ntemu/driver_loader.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ntemu {

namespace {

const char* const kHeaders[] = {"REGEDIT4", "Windows Registry Editor Version 5.00"};

// UTF-16LE with a byte order mark (what regedit writes) or 8-bit text; only
// ASCII is expected in names and values.
std::string DecodeText(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF &&
      static_cast<uint8_t>(bytes[1]) == 0xFE) {
    std::string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const unsigned unit = static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1])
                                                                 << 8;
      text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return text;
  }
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  return bytes;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

bool StartsWithFolded(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

[[noreturn]] void Fail(size_t line, const std::string& what) {
  throw std::invalid_argument("line " + std::to_string(line) + ": " + what);
}

std::string RegistryPathOf(const std::string& name, size_t line) {
  for (const char* root : {"HKEY_LOCAL_MACHINE", "HKLM"}) {
    const std::string prefix = std::string(root) + "\\";
    if (StartsWithFolded(name, prefix)) return "\\Registry\\Machine\\" + name.substr(prefix.size());
  }
  Fail(line, "only keys under HKEY_LOCAL_MACHINE are supported: " + name);
}

// A quoted string starting at text[at]; returns it and moves `at` past it.
std::string QuotedString(const std::string& text, size_t& at, size_t line) {
  if (at >= text.size() || text[at] != '"') Fail(line, "expected a quoted name");
  std::string value;
  for (++at; at < text.size(); ++at) {
    if (text[at] == '\\' && at + 1 < text.size()) {
      value.push_back(text[++at]);
    } else if (text[at] == '"') {
      ++at;
      return value;
    } else {
      value.push_back(text[at]);
    }
  }
  Fail(line, "unterminated string");
}

RegistryValue DwordValue(const std::string& digits, size_t line) {
  if (digits.empty() || digits.size() > 8 ||
      digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    Fail(line, "a dword takes one to eight hex digits: " + digits);
  }
  const uint32_t value = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
  RegistryValue entry{REG_DWORD, std::vector<uint8_t>(4)};
  for (int i = 0; i < 4; ++i)
    entry.data[i] = static_cast<uint8_t>(value >> (8 * i));
  return entry;
}

RegistryValue StringValue(const std::string& text, size_t line) {
  size_t at = 0;
  const std::string value = QuotedString(text, at, line);
  if (at != text.size()) Fail(line, "text after the string value");
  const std::wstring wide = Widen(value);
  RegistryValue entry{REG_SZ, {}};
  const auto* bytes = reinterpret_cast<const uint8_t*>(wide.c_str());
  entry.data.assign(bytes, bytes + (wide.size() + 1) * sizeof(wchar_t));
  return entry;
}

std::pair<std::string, RegistryValue> ValueLine(const std::string& text, size_t line) {
  size_t at = 0;
  const std::string name = QuotedString(text, at, line);
  if (at >= text.size() || text[at] != '=') Fail(line, "expected '=' after the value name");
  const std::string data = Trimmed(text.substr(at + 1));
  if (StartsWithFolded(data, "dword:")) return {name, DwordValue(data.substr(6), line)};
  if (!data.empty() && data[0] == '"') return {name, StringValue(data, line)};
  Fail(line, "unsupported value type (only dword and string values): " + data);
}

}  // namespace

std::vector<RegFileKey> ParseRegFile(const std::string& bytes) {
  std::istringstream lines(DecodeText(bytes));
  std::vector<RegFileKey> keys;
  std::string raw;
  size_t number = 0;
  bool headerSeen = false;
  while (std::getline(lines, raw)) {
    ++number;
    const std::string text = Trimmed(raw);
    if (text.empty() || text[0] == ';') continue;
    if (!headerSeen) {
      if (text != kHeaders[0] && text != kHeaders[1]) Fail(number, "not a registration file");
      headerSeen = true;
      continue;
    }
    if (text[0] == '[') {
      if (text.back() != ']' || text.size() < 3) Fail(number, "malformed key line");
      if (text[1] == '-') Fail(number, "key deletion is not supported");
      keys.push_back({RegistryPathOf(text.substr(1, text.size() - 2), number), {}});
      continue;
    }
    if (keys.empty()) Fail(number, "value outside any key");
    keys.back().values.push_back(ValueLine(text, number));
  }
  if (!headerSeen) throw std::invalid_argument("empty registration file");
  return keys;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot open " + path);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

std::string ServiceKeyOf(const std::vector<RegFileKey>& keys) {
  const std::string suffix = "\\parameters";
  for (const RegFileKey& key : keys) {
    std::string folded = key.path;
    for (char& c : folded)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (folded.size() <= suffix.size() ||
        folded.compare(folded.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    const std::string service = key.path.substr(0, key.path.size() - suffix.size());
    const size_t slash = folded.rfind('\\', service.size() - 1);
    if (slash != std::string::npos && slash >= 9 &&
        folded.compare(slash - 9, 9, "\\services") == 0) {
      return service;
    }
  }
  throw std::invalid_argument("no ...\\Services\\<name>\\Parameters key in the file");
}

LoadedDriver::LoadedDriver(PDRIVER_INITIALIZE entry, const std::vector<RegFileKey>& keys)
    : serviceKey_(ServiceKeyOf(keys)), servicePath_(Widen(serviceKey_)) {
  RegistryCreateKey(serviceKey_);
  for (const RegFileKey& key : keys) {
    RegistryCreateKey(key.path);
    for (const auto& value : key.values)
      RegistrySetValue(key.path, value.first, value.second);
  }
  RtlInitUnicodeString(&registryPath_, servicePath_.c_str());
  status_ = entry(&driver_, &registryPath_);
}

void LoadedDriver::Unload() {
  if (unloaded_ || !Loaded()) return;
  unloaded_ = true;
  if (driver_.DriverUnload != nullptr) driver_.DriverUnload(&driver_);
}

LoadedDriver::~LoadedDriver() {
  Unload();
  RegistryDeleteTree(serviceKey_);
}

}  // namespace ntemu
