#include "tools/trace_printer.h"

#include <cstdio>

namespace omzi2c::tool {

std::string TraceLine(const ntemu::PortAccess& access) {
  const bool read = access.direction == ntemu::Direction::Read;
  const int bytes = static_cast<int>(access.width);
  char line[64];
  std::snprintf(line, sizeof line, "trace %s%d 0x%04x 0x%0*x", read ? "in" : "out", 8 * bytes,
                access.port, 2 * bytes, access.value);
  return line;
}

std::string TraceLine(const ntemu::Pause& pause) {
  const bool busy = pause.kind == ntemu::PauseKind::BusyWait;
  const unsigned long long whole = pause.length / 10;
  const unsigned tenths = static_cast<unsigned>(pause.length % 10);
  char line[64];
  if (tenths == 0) {
    std::snprintf(line, sizeof line, "trace %s %lluus", busy ? "stall" : "sleep", whole);
  } else {
    std::snprintf(line, sizeof line, "trace %s %llu.%uus", busy ? "stall" : "sleep", whole, tenths);
  }
  return line;
}

std::string TraceLine(const ntemu::IoResult& completion) {
  char head[64];
  std::snprintf(head, sizeof head, "trace done 0x%08x %llu",
                static_cast<unsigned>(completion.status),
                static_cast<unsigned long long>(completion.information));
  std::string line = head;
  for (const uint8_t byte : completion.systemBuffer) {
    char text[4];
    std::snprintf(text, sizeof text, " %02x", byte);
    line += text;
  }
  return line;
}

void TracePrinter::OnPortAccess(const ntemu::PortAccess& access) {
  out_ << TraceLine(access) << '\n';
}

void TracePrinter::OnPause(const ntemu::Pause& pause) {
  out_ << TraceLine(pause) << '\n';
}

void TracePrinter::OnCompletion(const ntemu::IoResult& completion) {
  out_ << TraceLine(completion) << '\n';
}

}  // namespace omzi2c::tool
