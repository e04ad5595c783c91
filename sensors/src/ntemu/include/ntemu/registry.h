// The stand-in's registry: keys by absolute path ("\Registry\Machine\..."),
// each holding named values. Names compare without regard to case, as the
// real registry's do. RtlQueryRegistryValues answers from here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ntemu {

struct RegistryValue {
  uint32_t type;  // REG_DWORD, REG_BINARY, ...
  std::vector<uint8_t> data;
};

void RegistryCreateKey(const std::string& key);
void RegistrySetValue(const std::string& key, const std::string& name, const RegistryValue& value);
void RegistrySetDword(const std::string& key, const std::string& name, uint32_t value);
bool RegistryKeyExists(const std::string& key);
// Removes the key, its values and every key below it.
void RegistryDeleteTree(const std::string& key);
void RegistryClear();

// Wide (platform) strings to and from the narrow strings used above; the
// stand-in's names are plain ASCII.
std::string Narrow(const wchar_t* text, size_t characters);
std::string Narrow(const wchar_t* text);
std::wstring Widen(const std::string& text);

}  // namespace ntemu
