// The access lists of the device and of the bus event. A driver that reads
// and writes any I/O port hands the machine to whoever may send it requests:
// a port read alone can swallow keystrokes or upset another driver's
// controller. Nobody but SYSTEM and Administrators may open the device, for
// reading or writing. The bus event is held by whoever waits on it, so an
// ordinary process that could open it could keep the bus from every driver
// that shares it; only SYSTEM and Administrators may open it either.
#include "access_lists.h"

namespace {

constexpr ACCESS_MASK kDeviceAccess = FILE_ALL_ACCESS;
constexpr ACCESS_MASK kEventAccess = EVENT_ALL_ACCESS;

constexpr UCHAR kNtAuthority = 5;  // SECURITY_NT_AUTHORITY

// A well-known SID with up to two sub-authorities, aligned for the routines.
struct WellKnownSid {
  ULONG words[4];
};

// Builds S-1-5-<first>[-<second>] in `sid`.
NTSTATUS BuildSid(WellKnownSid* sid, UCHAR count, ULONG first, ULONG second) {
  SID_IDENTIFIER_AUTHORITY identifier = {{0, 0, 0, 0, 0, kNtAuthority}};
  const NTSTATUS status = RtlInitializeSid(sid->words, &identifier, count);
  if (!NT_SUCCESS(status)) return status;
  *RtlSubAuthoritySid(sid->words, 0) = first;
  if (count > 1) *RtlSubAuthoritySid(sid->words, 1) = second;
  return STATUS_SUCCESS;
}

// The two SIDs, their entries, the list itself and the descriptor holding it.
struct AdministratorsOnly {
  WellKnownSid system;
  WellKnownSid administrators;
  ULONG list[16];  // ACL header and two entries: 8 + 20 + 24 bytes
  SECURITY_DESCRIPTOR descriptor;
};

NTSTATUS BuildAccessList(AdministratorsOnly* acl, ACCESS_MASK access) {
  PACL list = reinterpret_cast<PACL>(acl->list);
  NTSTATUS status = BuildSid(&acl->system, 1, SECURITY_LOCAL_SYSTEM_RID, 0);
  if (NT_SUCCESS(status)) {
    status =
        BuildSid(&acl->administrators, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
  }
  if (NT_SUCCESS(status)) status = RtlCreateAcl(list, sizeof(acl->list), ACL_REVISION);
  if (NT_SUCCESS(status))
    status = RtlAddAccessAllowedAce(list, ACL_REVISION, access, acl->system.words);
  if (NT_SUCCESS(status)) {
    status = RtlAddAccessAllowedAce(list, ACL_REVISION, access, acl->administrators.words);
  }
  if (NT_SUCCESS(status))
    status = RtlCreateSecurityDescriptor(&acl->descriptor, SECURITY_DESCRIPTOR_REVISION);
  if (NT_SUCCESS(status))
    status = RtlSetDaclSecurityDescriptor(&acl->descriptor, TRUE, list, FALSE);
  return status;
}

}  // namespace

// The object manager copies the descriptors, so they may live on the stack.
NTSTATUS ProtectDevice(PDEVICE_OBJECT device) {
  AdministratorsOnly acl;
  NTSTATUS status = BuildAccessList(&acl, kDeviceAccess);
  if (!NT_SUCCESS(status)) return status;
  HANDLE handle = nullptr;
  status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC, nullptr, KernelMode,
                                 &handle);
  if (!NT_SUCCESS(status)) return status;
  status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &acl.descriptor);
  ZwClose(handle);
  return status;
}

NTSTATUS OpenOrCreateBusEvent(PUNICODE_STRING name, PHANDLE handle) {
  AdministratorsOnly acl;
  const NTSTATUS status = BuildAccessList(&acl, kEventAccess);
  if (!NT_SUCCESS(status)) return status;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, name,
                             OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE | OBJ_OPENIF, nullptr,
                             &acl.descriptor);
  return ZwCreateEvent(handle, EVENT_ALL_ACCESS, &attributes, SynchronizationEvent, TRUE);
}
