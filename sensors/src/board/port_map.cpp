#include "board/port_map.h"

#include <algorithm>

namespace board {

void PortMap::Map(uint32_t first, uint32_t count, PortHandler* handler) {
  ranges_.push_back({first, count, handler});
}

void PortMap::Unmap(PortHandler* handler) {
  ranges_.erase(std::remove_if(ranges_.begin(), ranges_.end(),
                               [handler](const Range& r) { return r.handler == handler; }),
                ranges_.end());
}

bool PortMap::IsMapped(PortHandler* handler) const {
  return std::any_of(ranges_.begin(), ranges_.end(),
                     [handler](const Range& r) { return r.handler == handler; });
}

PortHandler* PortMap::Find(uint32_t port) const {
  for (auto it = ranges_.rbegin(); it != ranges_.rend(); ++it) {
    if (port >= it->first && port - it->first < it->count) return it->handler;
  }
  return nullptr;
}

uint32_t PortMap::Read(uint32_t port, Width width) {
  port &= 0xFFFF;
  PortHandler* handler = Find(port);
  return handler != nullptr ? handler->Read(port, width) : ntemu::OpenBus(width);
}

void PortMap::Write(uint32_t port, Width width, uint32_t value) {
  port &= 0xFFFF;
  if (PortHandler* handler = Find(port)) handler->Write(port, width, value);
}

}  // namespace board
