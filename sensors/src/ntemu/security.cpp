// The run-time library's security routines: SIDs, access lists and absolute
// security descriptors, laid out in the caller's memory as the kernel lays
// them out, with the kernel's checks of sizes and revisions. Also the string
// form of a recorded access list, as Windows' converter writes it.
#include <cstdio>
#include <cstring>
#include <string>

#include "ntemu/nt.h"
#include "ntemu/objects.h"

namespace {

constexpr ULONG kSidHeader = 8;  // revision, count, authority
constexpr UCHAR kMaxSubAuthorities = 15;
constexpr ULONG kAceHeader = sizeof(ACCESS_ALLOWED_ACE) - sizeof(ULONG);

// Short names of whole access masks and of well-known SIDs.
const struct {
  ACCESS_MASK mask;
  const char* name;
} kRightsNames[] = {
    {0x001F01FF, "FA"}, {0x00120089, "FR"}, {0x00120116, "FW"}, {0x001200A0, "FX"},
    {0x10000000, "GA"}, {0x80000000, "GR"}, {0x40000000, "GW"}, {0x20000000, "GX"},
};
const struct {
  const char* sid;
  const char* name;
} kSidNames[] = {
    {"S-1-5-18", "SY"}, {"S-1-5-32-544", "BA"}, {"S-1-5-32-545", "BU"},
    {"S-1-1-0", "WD"},  {"S-1-5-11", "AU"},
};

std::string RightsText(ACCESS_MASK mask) {
  for (const auto& rights : kRightsNames) {
    if (rights.mask == mask) return rights.name;
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(mask));
  return hex;
}

std::string SidText(const std::string& sid) {
  for (const auto& known : kSidNames) {
    if (sid == known.sid) return known.name;
  }
  return sid;
}

}  // namespace

namespace ntemu {

std::string Sddl(const ObjectSecurity& security) {
  if (!security.set) return "D:NO_ACCESS_CONTROL";
  std::string text = "D:";
  for (const AllowedAce& ace : security.dacl)
    text += "(A;;" + RightsText(ace.mask) + ";;;" + SidText(ace.sid) + ")";
  return text;
}

}  // namespace ntemu

extern "C" {

NTSTATUS RtlInitializeSid(PSID Sid, PSID_IDENTIFIER_AUTHORITY IdentifierAuthority,
                          UCHAR SubAuthorityCount) {
  if (SubAuthorityCount > kMaxSubAuthorities) return STATUS_INVALID_PARAMETER;
  auto* sid = static_cast<UCHAR*>(Sid);
  sid[0] = SID_REVISION;
  sid[1] = SubAuthorityCount;
  std::memcpy(sid + 2, IdentifierAuthority->Value, sizeof(IdentifierAuthority->Value));
  return STATUS_SUCCESS;
}

PULONG RtlSubAuthoritySid(PSID Sid, ULONG SubAuthority) {
  return reinterpret_cast<PULONG>(static_cast<UCHAR*>(Sid) + kSidHeader + 4 * SubAuthority);
}

ULONG RtlLengthSid(PSID Sid) {
  return kSidHeader + 4 * static_cast<const UCHAR*>(Sid)[1];
}

NTSTATUS RtlCreateAcl(PACL Acl, ULONG AclLength, ULONG AclRevision) {
  if (AclLength < sizeof(ACL) || AclLength > 0xFFFF) return STATUS_BUFFER_TOO_SMALL;
  if (AclRevision != ACL_REVISION) return STATUS_INVALID_PARAMETER;
  std::memset(Acl, 0, sizeof(ACL));
  Acl->AclRevision = static_cast<UCHAR>(AclRevision);
  Acl->AclSize = static_cast<USHORT>(AclLength & ~3u);
  return STATUS_SUCCESS;
}

NTSTATUS RtlAddAccessAllowedAce(PACL Acl, ULONG AceRevision, ACCESS_MASK AccessMask, PSID Sid) {
  if (AceRevision != ACL_REVISION || Acl->AclRevision != ACL_REVISION) {
    return STATUS_UNKNOWN_REVISION;
  }
  if (static_cast<const UCHAR*>(Sid)[0] != SID_REVISION) return STATUS_INVALID_SID;
  auto* bytes = reinterpret_cast<UCHAR*>(Acl);
  ULONG used = sizeof(ACL);
  for (USHORT i = 0; i < Acl->AceCount; ++i)
    used += reinterpret_cast<const ACE_HEADER*>(bytes + used)->AceSize;
  const ULONG size = kAceHeader + RtlLengthSid(Sid);
  if (used + size > Acl->AclSize) return STATUS_ALLOTTED_SPACE_EXCEEDED;
  ACE_HEADER header = {ACCESS_ALLOWED_ACE_TYPE, 0, static_cast<USHORT>(size)};
  std::memcpy(bytes + used, &header, sizeof header);
  std::memcpy(bytes + used + sizeof header, &AccessMask, sizeof AccessMask);
  std::memcpy(bytes + used + kAceHeader, Sid, RtlLengthSid(Sid));
  ++Acl->AceCount;
  return STATUS_SUCCESS;
}

NTSTATUS RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, ULONG Revision) {
  if (Revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_UNKNOWN_REVISION;
  auto* descriptor = static_cast<PISECURITY_DESCRIPTOR>(SecurityDescriptor);
  std::memset(descriptor, 0, sizeof(SECURITY_DESCRIPTOR));
  descriptor->Revision = static_cast<UCHAR>(Revision);
  return STATUS_SUCCESS;
}

NTSTATUS RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, BOOLEAN DaclPresent,
                                      PACL Dacl, BOOLEAN DaclDefaulted) {
  auto* descriptor = static_cast<PISECURITY_DESCRIPTOR>(SecurityDescriptor);
  if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_UNKNOWN_REVISION;
  descriptor->Control &= static_cast<USHORT>(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
  if (!DaclPresent) return STATUS_SUCCESS;
  descriptor->Control |= SE_DACL_PRESENT;
  if (DaclDefaulted) descriptor->Control |= SE_DACL_DEFAULTED;
  descriptor->Dacl = Dacl;
  return STATUS_SUCCESS;
}

}  // extern "C"
