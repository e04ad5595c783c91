#include "ntemu/trace.h"

namespace ntemu {

void Timeline::OnPortAccess(const PortAccess& access) {
  entries_.push_back({false, access, Pause{}});
}

void Timeline::OnPause(const Pause& pause) {
  entries_.push_back({true, PortAccess{}, pause});
}

namespace {
TraceSink* installed = nullptr;
}  // namespace

void InstallTraceSink(TraceSink* sink) {
  installed = sink;
  ChoosePortRoutines();
}
TraceSink* CurrentTraceSink() {
  return installed;
}

ScopedTraceSink::ScopedTraceSink(TraceSink* sink) : previous_(installed) {
  InstallTraceSink(sink);
}
ScopedTraceSink::~ScopedTraceSink() {
  InstallTraceSink(previous_);
}

}  // namespace ntemu
