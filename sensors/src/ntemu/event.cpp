#include "ntemu/event.h"

namespace ntemu {

void InitializeSynchronizationEvent(KEVENT& event, bool signalled) {
  std::lock_guard<std::mutex> lock(event.mutex);
  event.signalled = signalled;
  event.autoReset = true;
  event.waits = 0;
  event.sets = 0;
}

bool IsSignalled(KEVENT& event) {
  std::lock_guard<std::mutex> lock(event.mutex);
  return event.signalled;
}

}  // namespace ntemu

extern "C" {

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                               PLARGE_INTEGER) {
  KEVENT& event = *static_cast<KEVENT*>(Object);
  std::unique_lock<std::mutex> lock(event.mutex);
  event.changed.wait(lock, [&event] { return event.signalled; });
  if (event.autoReset) event.signalled = false;
  ++event.waits;
  return STATUS_SUCCESS;
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY, BOOLEAN) {
  LONG previous;
  {
    std::lock_guard<std::mutex> lock(Event->mutex);
    previous = Event->signalled ? 1 : 0;
    Event->signalled = true;
    ++Event->sets;
  }
  Event->changed.notify_one();
  return previous;
}

}  // extern "C"
