// The stand-in's registry query, .reg parsing and object services, as far as
// start-up relies on them.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "ntemu/driver_loader.h"
#include "ntemu/event.h"
#include "ntemu/objects.h"
#include "ntemu/pool.h"
#include "ntemu/registry.h"

namespace {

const char kService[] = "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\omzi2c";

uint32_t DwordOf(const ntemu::RegistryValue& value) {
  return value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
         static_cast<uint32_t>(value.data[3]) << 24;
}

TEST(RegFile, Regedit4WithCommentsAndStrings) {
  const auto keys = ntemu::ParseRegFile(
      "REGEDIT4\r\n\r\n; settings\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\omzi2c]\r\n"
      "\"Type\"=dword:00000001\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\omzi2c\\Parameters]\r\n"
      "\"Chipset\"=dword:0000000A\r\n\"Note\"=\"a \\\"quoted\\\" word\"\r\n");
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[1].path, std::string(kService) + "\\Parameters");
  ASSERT_EQ(keys[1].values.size(), 2u);
  EXPECT_EQ(keys[1].values[0].first, "Chipset");
  EXPECT_EQ(keys[1].values[0].second.type, static_cast<uint32_t>(REG_DWORD));
  EXPECT_EQ(DwordOf(keys[1].values[0].second), 10u);
  EXPECT_EQ(keys[1].values[1].second.type, static_cast<uint32_t>(REG_SZ));
  EXPECT_EQ(ntemu::ServiceKeyOf(keys), kService);
}

TEST(RegFile, Version5InUtf16) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\omzi2c\\Parameters]\r\n"
      "\"VID\"=dword:00008086\r\n";
  std::string bytes = "\xFF\xFE";
  for (char c : text) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  const auto keys = ntemu::ParseRegFile(bytes);
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(DwordOf(keys[0].values.at(0).second), 0x8086u);
}

TEST(RegFile, RejectsWhatItCannotRepresent) {
  const std::string key =
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\x\\Parameters]\n";
  for (const std::string& text : std::vector<std::string>{
           "", std::string("[HKLM\\A]\n"), "REGEDIT4\n\"A\"=dword:1\n",
           "REGEDIT4\n" + key + "\"A\"=dword:123456789\n", "REGEDIT4\n" + key + "\"A\"=dword:xyz\n",
           "REGEDIT4\n" + key + "\"A\"=hex:01,02\n", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n",
           "REGEDIT4\n[-HKEY_LOCAL_MACHINE\\A]\n", "REGEDIT4\n" + key + "\"A=dword:1\n"}) {
    EXPECT_THROW(ntemu::ParseRegFile(text), std::invalid_argument) << text;
  }
  EXPECT_THROW(ntemu::ServiceKeyOf(ntemu::ParseRegFile("REGEDIT4\n[HKLM\\SOFTWARE\\X]\n")),
               std::invalid_argument);
}

TEST(Registry, DirectQueryOfAnAbsentKeyDependsOnTheOptionalFlag) {
  ntemu::RegistryClear();
  const std::wstring path = ntemu::Widen(std::string(kService) + "\\Parameters");
  ULONG result = 0x1234;
  ULONG fallback = 7;
  RTL_QUERY_REGISTRY_TABLE table[2] = {};
  table[0].Flags = RTL_QUERY_REGISTRY_DIRECT;
  table[0].Name = L"VID";
  table[0].EntryContext = &result;
  table[0].DefaultType = REG_DWORD;
  table[0].DefaultData = &fallback;
  table[0].DefaultLength = 4;
  EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, path.c_str(), table, nullptr, nullptr),
            STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL, path.c_str(),
                                   table, nullptr, nullptr),
            STATUS_SUCCESS);
  EXPECT_EQ(result, 0x1234u);  // untouched
  ntemu::RegistryCreateKey(std::string(kService) + "\\Parameters");
  EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, path.c_str(), table, nullptr, nullptr),
            STATUS_SUCCESS);
  EXPECT_EQ(result, 7u);  // the default
  ntemu::RegistryDeleteTree(kService);
  EXPECT_FALSE(ntemu::RegistryKeyExists(std::string(kService) + "\\Parameters"));
}

TEST(Objects, EventsHandlesAndClose) {
  ntemu::ResetObjects();
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"\\SomeEvent");
  HANDLE first = nullptr, second = nullptr;
  PKEVENT event = IoCreateSynchronizationEvent(&name, &first);
  ASSERT_NE(event, nullptr);
  EXPECT_TRUE(ntemu::IsSignalled(*event));
  EXPECT_EQ(IoCreateSynchronizationEvent(&name, &second), event);
  EXPECT_NE(first, second);
  EXPECT_EQ(ZwClose(nullptr), STATUS_INVALID_HANDLE);
  EXPECT_EQ(ZwClose(first), STATUS_SUCCESS);
  EXPECT_EQ(ZwClose(first), STATUS_INVALID_HANDLE);
  EXPECT_EQ(ntemu::InvalidCloseCount(), 2u);
  EXPECT_EQ(ZwClose(second), STATUS_SUCCESS);
  EXPECT_EQ(ntemu::FindEvent("\\someevent"), nullptr);
  ntemu::FailNextEventCreation();
  EXPECT_EQ(IoCreateSynchronizationEvent(&name, &first), nullptr);
  EXPECT_NE(IoCreateSynchronizationEvent(&name, &first), nullptr);  // one failure only
  ntemu::ResetObjects();
}

// Access lists in the string form Windows writes: short names where a whole
// mask or SID has one.
TEST(Objects, AccessListsAsSecurityDescriptorStrings) {
  EXPECT_EQ(ntemu::Sddl({}), "D:NO_ACCESS_CONTROL");
  EXPECT_EQ(ntemu::Sddl({true, {{"S-1-1-0", 0x120089}, {"S-1-5-21-7-1000", 0x1F01FE}}}),
            "D:(A;;FR;;;WD)(A;;0x1f01fe;;;S-1-5-21-7-1000)");
}

TEST(Pool, TracksBlocksPoisonsThemAndFailsOnRequest) {
  ntemu::PoolReset();
  const size_t before = ntemu::PoolOutstanding();
  auto* block = static_cast<uint8_t*>(ExAllocatePoolWithTag(PagedPool, 16, 0x206B6444));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[15], ntemu::kPoolPoison);
  EXPECT_EQ(ntemu::PoolOutstanding(), before + 1);
  ExFreePool(block);
  EXPECT_EQ(ntemu::PoolOutstanding(), before);
  ntemu::PoolFailNextAllocations(1);
  EXPECT_EQ(ExAllocatePoolWithTag(PagedPool, 16, 1), nullptr);
  EXPECT_EQ(ntemu::PoolAllocationCount(), 1u);
}

}  // namespace
