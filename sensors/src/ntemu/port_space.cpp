#include "ntemu/port_space.h"

#include <ostream>

namespace ntemu {

uint32_t OpenBus(Width width) {
  switch (width) {
    case Width::Byte:
      return 0xFF;
    case Width::Word:
      return 0xFFFF;
    case Width::Dword:
      return 0xFFFFFFFFu;
  }
  return 0xFFFFFFFFu;
}

bool operator==(const PortAccess& a, const PortAccess& b) {
  return a.direction == b.direction && a.width == b.width && a.port == b.port && a.value == b.value;
}

std::ostream& operator<<(std::ostream& out, const PortAccess& access) {
  const char* name = access.direction == Direction::Read ? "in" : "out";
  const int bits = 8 * static_cast<int>(access.width);
  const auto flags = out.flags();
  out << name << bits << " 0x" << std::hex << access.port << " 0x" << access.value;
  out.flags(flags);
  return out;
}

void RecordingPortSpace::Queue(uint32_t port, uint32_t value, size_t times) {
  if (times == 0) return;
  queued_[port].push_back({value, times});
}

void RecordingPortSpace::SetDefault(uint32_t port, uint32_t value) {
  defaults_[port] = value;
}

uint32_t RecordingPortSpace::Read(uint32_t port, Width width) {
  uint32_t value;
  auto queue = queued_.find(port);
  auto fallback = defaults_.find(port);
  if (queue != queued_.end() && !queue->second.empty()) {
    Scripted& next = queue->second.front();
    value = next.value;
    if (--next.remaining == 0) queue->second.pop_front();
  } else if (fallback != defaults_.end()) {
    value = fallback->second;
  } else if (inner_ != nullptr) {
    value = inner_->Read(port, width);
  } else {
    value = OpenBus(width);
  }
  value &= OpenBus(width);
  accesses_.push_back({Direction::Read, width, port, value});
  return value;
}

void RecordingPortSpace::Write(uint32_t port, Width width, uint32_t value) {
  accesses_.push_back({Direction::Write, width, port, value});
  if (inner_ != nullptr) inner_->Write(port, width, value);
}

std::vector<PortAccess> RecordingPortSpace::Writes() const {
  std::vector<PortAccess> writes;
  for (const PortAccess& access : accesses_) {
    if (access.direction == Direction::Write) writes.push_back(access);
  }
  return writes;
}

size_t RecordingPortSpace::CountReads(uint32_t port) const {
  size_t reads = 0;
  for (const PortAccess& access : accesses_) {
    if (access.direction == Direction::Read && access.port == port) ++reads;
  }
  return reads;
}

namespace {
OpenBusPortSpace openBus;
PortSpace* installed = nullptr;
}  // namespace

void InstallPortSpace(PortSpace* space) {
  installed = space;
  ChoosePortRoutines();
}

PortSpace& CurrentPortSpace() {
  return installed != nullptr ? *installed : openBus;
}

ScopedPortSpace::ScopedPortSpace(PortSpace* space) : previous_(installed) {
  InstallPortSpace(space);
}
ScopedPortSpace::~ScopedPortSpace() {
  InstallPortSpace(previous_);
}

}  // namespace ntemu
