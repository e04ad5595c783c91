// The simulated board's I/O space: devices claim port ranges; a port nobody
// claims reads as an open bus and ignores writes.
#pragma once

#include <cstdint>
#include <vector>

#include "ntemu/port_space.h"

namespace board {

using ntemu::Width;

// A device on the board's I/O space. Ports are passed as full numbers.
class PortHandler {
 public:
  virtual ~PortHandler() = default;
  virtual uint32_t Read(uint32_t port, Width width) = 0;
  virtual void Write(uint32_t port, Width width, uint32_t value) = 0;
};

class PortMap : public ntemu::PortSpace {
 public:
  // Claims ports [first, first + count); a later claim overlapping an earlier
  // one wins for the overlap.
  void Map(uint32_t first, uint32_t count, PortHandler* handler);
  void Unmap(PortHandler* handler);
  bool IsMapped(PortHandler* handler) const;

  // x86 port numbers are 16 bits wide; higher bits are dropped as the
  // processor does.
  uint32_t Read(uint32_t port, Width width) override;
  void Write(uint32_t port, Width width, uint32_t value) override;

 private:
  struct Range {
    uint32_t first;
    uint32_t count;
    PortHandler* handler;
  };
  PortHandler* Find(uint32_t port) const;
  std::vector<Range> ranges_;
};

}  // namespace board
