#include "ntemu/clock.h"

#include <time.h>

#include <chrono>
#include <ostream>

namespace ntemu {

bool operator==(const Pause& a, const Pause& b) {
  return a.kind == b.kind && a.length == b.length;
}

std::ostream& operator<<(std::ostream& out, const Pause& pause) {
  if (pause.kind == PauseKind::BusyWait) return out << "stall " << pause.length / 10 << "us";
  return out << "sleep " << pause.length * 100 << "ns";
}

void VirtualClock::BusyWait(uint32_t microseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (recordPauses_) pauses_.push_back(BusyWaitUs(microseconds));
  now_ += uint64_t{microseconds} * 10;
}

void VirtualClock::Sleep(uint64_t length100ns) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (recordPauses_) pauses_.push_back(Sleep100ns(length100ns));
  now_ += length100ns;
}

uint64_t VirtualClock::Now() {
  std::lock_guard<std::mutex> lock(mutex_);
  return now_;
}

void VirtualClock::Advance(uint64_t length100ns) {
  std::lock_guard<std::mutex> lock(mutex_);
  now_ += length100ns;
}

std::vector<Pause> VirtualClock::Pauses() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pauses_;
}

void VirtualClock::ClearPauses() {
  std::lock_guard<std::mutex> lock(mutex_);
  pauses_.clear();
}

void RealClock::BusyWait(uint32_t microseconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(microseconds);
  while (std::chrono::steady_clock::now() < until) {
  }
}

void RealClock::Sleep(uint64_t length100ns) {
  struct timespec request;
  request.tv_sec = static_cast<time_t>(length100ns / 10000000);
  request.tv_nsec = static_cast<long>((length100ns % 10000000) * 100);
  while (nanosleep(&request, &request) != 0) {
  }
}

uint64_t RealClock::Now() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() /
                               100);
}

namespace {
Clock* installed = nullptr;
}  // namespace

VirtualClock& DefaultVirtualClock() {
  static VirtualClock clock;
  return clock;
}

void InstallClock(Clock* clock) {
  installed = clock;
}

Clock& CurrentClock() {
  return installed != nullptr ? *installed : DefaultVirtualClock();
}

ScopedClock::ScopedClock(Clock* clock) : previous_(installed) {
  installed = clock;
}
ScopedClock::~ScopedClock() {
  installed = previous_;
}

}  // namespace ntemu
