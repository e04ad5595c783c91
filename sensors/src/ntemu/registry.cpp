// The registry, RtlQueryRegistryValues and RtlInitUnicodeString.
//
// Only what a driver reading its parameters needs: absolute paths, with or
// without RTL_REGISTRY_OPTIONAL; table entries that query one named value,
// either directly into the entry context (RTL_QUERY_REGISTRY_DIRECT) or
// through a query routine, with an optional default. A table ends at the
// first entry with neither a routine nor a name.
#include "ntemu/registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>

#include "ntemu/nt.h"

namespace ntemu {

namespace {

std::string Folded(const std::string& text) {
  std::string folded = text;
  for (char& c : folded)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

struct Key {
  std::map<std::string, RegistryValue> values;  // by folded name
};

struct Registry {
  std::mutex mutex;
  std::map<std::string, Key> keys;  // by folded path
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

bool IsStringType(uint32_t type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A direct query of a string: the entry context is taken for a
// UNICODE_STRING, filled in place or, with no buffer, given one from pool.
NTSTATUS StoreDirectString(PVOID context, const void* data, size_t length) {
  auto* text = static_cast<PUNICODE_STRING>(context);
  if (text->Buffer == nullptr) {
    text->Buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, length, 0));
    if (text->Buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    text->MaximumLength = static_cast<USHORT>(length);
  } else if (text->MaximumLength < length) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  std::memcpy(text->Buffer, data, length);
  text->Length = static_cast<USHORT>(length >= sizeof(WCHAR) ? length - sizeof(WCHAR) : 0);
  return STATUS_SUCCESS;
}

// Writes a direct query's data to the entry context the way the real
// routine does, whatever the variable behind it: data up to a ULONG lands in
// it; a string fills a UNICODE_STRING there; longer data is taken to follow
// a LONG size at the context (negative: data only; positive: length, type,
// data). A caller that passes a ULONG for a value of another type has its
// memory overwritten, as on Windows.
NTSTATUS StoreDirect(PVOID context, uint32_t type, const void* data, size_t length) {
  if (type == REG_NONE) return STATUS_SUCCESS;
  if (IsStringType(type)) return StoreDirectString(context, data, length);
  if (length <= sizeof(ULONG)) {
    std::memcpy(context, data, length);
    return STATUS_SUCCESS;
  }
  LONG size;
  std::memcpy(&size, context, sizeof size);
  auto* bytes = static_cast<uint8_t*>(context);
  if (size < 0) {
    if (static_cast<size_t>(-static_cast<int64_t>(size)) < length) return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(bytes, data, length);
    return STATUS_SUCCESS;
  }
  if (static_cast<size_t>(size) < length + 2 * sizeof(ULONG)) return STATUS_BUFFER_TOO_SMALL;
  const ULONG header[2] = {static_cast<ULONG>(length), type};
  std::memcpy(bytes, header, sizeof header);
  std::memcpy(bytes + sizeof header, data, length);
  return STATUS_SUCCESS;
}

// One table entry naming one value: stored directly, or handed to the
// entry's query routine (once, unexpanded: expansion is not modelled).
NTSTATUS QueryEntry(const Key& key, const RTL_QUERY_REGISTRY_TABLE& entry, PVOID context) {
  const bool direct = (entry.Flags & RTL_QUERY_REGISTRY_DIRECT) != 0;
  if (entry.Name == nullptr || (direct && entry.EntryContext == nullptr) ||
      (!direct && entry.QueryRoutine == nullptr)) {
    return STATUS_INVALID_PARAMETER;  // only queries of named values are modelled
  }
  uint32_t type = entry.DefaultType;
  const void* data = entry.DefaultData;
  size_t length = entry.DefaultLength;
  const auto found = key.values.find(Folded(Narrow(entry.Name)));
  if (found != key.values.end()) {
    type = found->second.type;
    data = found->second.data.data();
    length = found->second.data.size();
  } else if (entry.DefaultType == REG_NONE) {
    if (entry.Flags & RTL_QUERY_REGISTRY_REQUIRED) return STATUS_OBJECT_NAME_NOT_FOUND;
    return STATUS_SUCCESS;
  }
  if (direct) return StoreDirect(entry.EntryContext, type, data, length);
  return entry.QueryRoutine(const_cast<PWSTR>(entry.Name), type, const_cast<void*>(data),
                            static_cast<ULONG>(length), context, entry.EntryContext);
}

}  // namespace

std::string Narrow(const wchar_t* text, size_t characters) {
  std::string narrow;
  narrow.reserve(characters);
  for (size_t i = 0; i < characters; ++i)
    narrow.push_back(static_cast<char>(text[i]));
  return narrow;
}

std::string Narrow(const wchar_t* text) {
  return Narrow(text, std::wcslen(text));
}

std::wstring Widen(const std::string& text) {
  std::wstring wide;
  for (char c : text)
    wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

void RegistryCreateKey(const std::string& key) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.keys[Folded(key)];
}

void RegistrySetValue(const std::string& key, const std::string& name, const RegistryValue& value) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.keys[Folded(key)].values[Folded(name)] = value;
}

void RegistrySetDword(const std::string& key, const std::string& name, uint32_t value) {
  RegistryValue entry{REG_DWORD, std::vector<uint8_t>(4)};
  std::memcpy(entry.data.data(), &value, 4);
  RegistrySetValue(key, name, entry);
}

bool RegistryKeyExists(const std::string& key) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  return registry.keys.count(Folded(key)) != 0;
}

void RegistryDeleteTree(const std::string& key) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  const std::string path = Folded(key);
  const std::string below = path + "\\";
  for (auto it = registry.keys.begin(); it != registry.keys.end();) {
    const bool inside = it->first == path || it->first.compare(0, below.size(), below) == 0;
    it = inside ? registry.keys.erase(it) : std::next(it);
  }
}

void RegistryClear() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.keys.clear();
}

}  // namespace ntemu

extern "C" {

VOID RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
  const size_t bytes = SourceString != nullptr ? std::wcslen(SourceString) * sizeof(WCHAR) : 0;
  DestinationString->Length = static_cast<USHORT>(bytes);
  DestinationString->MaximumLength =
      static_cast<USHORT>(SourceString != nullptr ? bytes + sizeof(WCHAR) : 0);
  DestinationString->Buffer = const_cast<PWSTR>(SourceString);
}

NTSTATUS RtlQueryRegistryValues(ULONG RelativeTo, PCWSTR Path, PRTL_QUERY_REGISTRY_TABLE QueryTable,
                                PVOID Context, PVOID) {
  if ((RelativeTo & ~RTL_REGISTRY_OPTIONAL) != RTL_REGISTRY_ABSOLUTE || Path == nullptr) {
    return STATUS_INVALID_PARAMETER;  // only absolute paths are modelled
  }
  ntemu::Registry& registry = ntemu::TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  const auto key = registry.keys.find(ntemu::Folded(ntemu::Narrow(Path)));
  if (key == registry.keys.end()) {
    // An optional key that does not exist is no error: nothing is queried
    // and no entry context is written.
    return (RelativeTo & RTL_REGISTRY_OPTIONAL) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
  }
  for (PRTL_QUERY_REGISTRY_TABLE entry = QueryTable;
       entry->QueryRoutine != nullptr || entry->Name != nullptr; ++entry) {
    const NTSTATUS status = ntemu::QueryEntry(key->second, *entry, Context);
    if (!NT_SUCCESS(status)) return status;
  }
  return STATUS_SUCCESS;
}

}  // extern "C"
