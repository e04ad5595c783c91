#include "omzi2c_client/windows_mutex_hold.h"

#include <windows.h>
#include <sddl.h>

namespace omzi2c::client {

namespace {

// Whoever may run a monitoring tool may wait on the mutex and release it,
// elevated or not, so that a tool started without elevation still finds it
// usable when this library created it first; SYSTEM and Administrators have
// all access.
const char kMutexAccessList[] = "D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x100001;;;WD)";
constexpr DWORD kWaitAndRelease = SYNCHRONIZE | MUTEX_MODIFY_STATE;

class MutexHold : public SharedHold {
 public:
  explicit MutexHold(HANDLE mutex) : mutex_(mutex) {}
  ~MutexHold() override { CloseHandle(mutex_); }

  HoldOutcome Take(uint32_t milliseconds) override {
    switch (WaitForSingleObject(mutex_, milliseconds)) {
      case WAIT_OBJECT_0:
        return HoldOutcome::kTaken;
      case WAIT_ABANDONED:
        return HoldOutcome::kTakenAbandoned;
      default:  // WAIT_TIMEOUT; a failed wait cannot be told apart from a held bus
        return HoldOutcome::kTimedOut;
    }
  }

  void Release() override { ReleaseMutex(mutex_); }

 private:
  HANDLE mutex_;
};

HANDLE CreateShared() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kMutexAccessList, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return nullptr;
  }
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  const HANDLE mutex = CreateMutexA(&attributes, FALSE, kSharedSmbusMutexName);
  LocalFree(descriptor);
  return mutex;
}

}  // namespace

std::unique_ptr<SharedHold> MakeSharedMutexHold(std::string* error) {
  HANDLE mutex = CreateShared();
  // Another program made it with a list that gives this one less than all
  // access: waiting and releasing are enough.
  if (mutex == nullptr) mutex = OpenMutexA(kWaitAndRelease, FALSE, kSharedSmbusMutexName);
  if (mutex == nullptr) {
    *error = std::string("cannot open the shared SMBus mutex ") + kSharedSmbusMutexName +
             " (Windows error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  return std::make_unique<MutexHold>(mutex);
}

}  // namespace omzi2c::client
