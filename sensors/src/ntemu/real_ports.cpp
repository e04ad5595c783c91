#include "ntemu/real_ports.h"

#include <cerrno>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define OMZI2C_HAVE_PORT_IO 1
#endif

namespace ntemu {

#if defined(OMZI2C_HAVE_PORT_IO)

bool RealPortSpace::Acquire(std::string* error) {
  if (iopl(3) == 0) return true;
  *error = std::string("cannot reach I/O ports (") + std::strerror(errno) +
           "): --board ports needs root (CAP_SYS_RAWIO)";
  return false;
}

uint32_t RealPortSpace::Read(uint32_t port, Width width) {
  const auto number = static_cast<unsigned short>(port);
  switch (width) {
    case Width::Byte:
      return inb(number);
    case Width::Word:
      return inw(number);
    case Width::Dword:
      return inl(number);
  }
  return OpenBus(width);
}

void RealPortSpace::Write(uint32_t port, Width width, uint32_t value) {
  const auto number = static_cast<unsigned short>(port);
  switch (width) {
    case Width::Byte:
      outb(static_cast<unsigned char>(value), number);
      break;
    case Width::Word:
      outw(static_cast<unsigned short>(value), number);
      break;
    case Width::Dword:
      outl(value, number);
      break;
  }
}

#else

bool RealPortSpace::Acquire(std::string* error) {
  *error = "real I/O ports exist only on x86";
  return false;
}
uint32_t RealPortSpace::Read(uint32_t, Width width) {
  return OpenBus(width);
}
void RealPortSpace::Write(uint32_t, Width, uint32_t) {}

#endif

}  // namespace ntemu
