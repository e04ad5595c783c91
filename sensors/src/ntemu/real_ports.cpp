#include "ntemu/real_ports.h"

#include <unistd.h>

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
  *error = RefusalReason(errno, geteuid() == 0);
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

namespace {
uint8_t In8(uint32_t port) {
  return inb(static_cast<unsigned short>(port));
}
uint16_t In16(uint32_t port) {
  return inw(static_cast<unsigned short>(port));
}
uint32_t In32(uint32_t port) {
  return inl(static_cast<unsigned short>(port));
}
void Out8(uint32_t port, uint8_t value) {
  outb(value, static_cast<unsigned short>(port));
}
void Out16(uint32_t port, uint16_t value) {
  outw(value, static_cast<unsigned short>(port));
}
void Out32(uint32_t port, uint32_t value) {
  outl(value, static_cast<unsigned short>(port));
}
constexpr PortRoutines kRealPorts{In8, In16, In32, Out8, Out16, Out32, true};
}  // namespace

const PortRoutines* RealPortSpace::Direct() const {
  return &kRealPorts;
}

#else

const PortRoutines* RealPortSpace::Direct() const {
  return nullptr;
}

bool RealPortSpace::Acquire(std::string* error) {
  *error = "real I/O ports exist only on x86";
  return false;
}
uint32_t RealPortSpace::Read(uint32_t, Width width) {
  return OpenBus(width);
}
void RealPortSpace::Write(uint32_t, Width, uint32_t) {}

#endif

std::string RealPortSpace::RefusalReason(int errorNumber, bool root) {
  const std::string cause = std::string(" (iopl: ") + std::strerror(errorNumber) + ")";
  if (errorNumber == EPERM && !root) {
    return "cannot reach I/O ports: not root" + cause +
           "; --board ports needs root (CAP_SYS_RAWIO)";
  }
  if (errorNumber == EPERM) {
    return "the kernel refuses port access to root" + cause +
           ": the process lacks CAP_SYS_RAWIO (a container?) or the kernel is locked down "
           "(secure boot)";
  }
  return "the kernel refuses port access" + cause +
         ": it, or the virtual machine it runs in, does not let programs raise their I/O "
         "privilege level";
}

}  // namespace ntemu
