// Observing what the driver does to the hardware: every port access and every
// pause, in the order they happen, handed to an installed sink.
#pragma once

#include <vector>

#include "ntemu/clock.h"
#include "ntemu/port_space.h"

namespace ntemu {

class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void OnPortAccess(const PortAccess& access) = 0;
  virtual void OnPause(const Pause& pause) = 0;
};

void InstallTraceSink(TraceSink* sink);  // nullptr: no tracing
TraceSink* CurrentTraceSink();

// Keeps port accesses and pauses in one ordered list.
class Timeline : public TraceSink {
 public:
  struct Entry {
    bool isPause;
    PortAccess access;  // when !isPause
    Pause pause;        // when isPause
  };
  void OnPortAccess(const PortAccess& access) override;
  void OnPause(const Pause& pause) override;
  const std::vector<Entry>& Entries() const { return entries_; }
  void Clear() { entries_.clear(); }

 private:
  std::vector<Entry> entries_;
};

class ScopedTraceSink {
 public:
  explicit ScopedTraceSink(TraceSink* sink);
  ~ScopedTraceSink();
  ScopedTraceSink(const ScopedTraceSink&) = delete;
  ScopedTraceSink& operator=(const ScopedTraceSink&) = delete;

 private:
  TraceSink* previous_;
};

}  // namespace ntemu
