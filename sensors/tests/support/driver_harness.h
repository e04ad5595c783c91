// A driver's device as the request layer sees it, without start-up: driver
// and device objects, the extension, and the bus event, with the
// ControllerState set by the test. Requests go through the stand-in's I/O
// manager exactly as buffered device control issues them.
#pragma once

#include <omzi2c/omzi2c.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "controller_state.h"
#include "device_extension.h"
#include "ntemu/event.h"
#include "ntemu/io_manager.h"

namespace omzi2c::testing {

struct Reply {
  ntemu::IoResult io;
  std::vector<uint8_t> bytes;  // the caller's output buffer after the request
};

class DriverHarness {
 public:
  // Resets ControllerState to the given services and Chipset.
  DriverHarness(bool portService, bool smbService, int32_t chipset = 0, uint16_t smbBase = 0);
  ~DriverHarness();

  Reply Ioctl(uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength,
              uint8_t outputFill = 0xEE);
  ntemu::IoResult Send(uint8_t majorFunction);
  // Registers the dispatcher for `majorFunction` too, then sends it.
  ntemu::IoResult SendTo(uint8_t majorFunction);

  KEVENT& BusEvent() { return event_; }
  PDEVICE_OBJECT Device() { return &device_; }
  // Waits and sets seen on the bus event since construction.
  uint64_t EventWaits();
  uint64_t EventSets();

 private:
  DRIVER_OBJECT driver_{};
  DEVICE_OBJECT device_{};
  DeviceExtension extension_{};
  KEVENT event_;
};

// A short (12-byte) or block (40-byte) SmbRequest record.
std::vector<uint8_t> SmbRecord(uint8_t address, uint8_t command, uint8_t count,
                               std::initializer_list<uint8_t> data = {}, size_t length = 12);
std::vector<uint8_t> PortRecord(uint32_t width, uint32_t port, uint32_t value);

}  // namespace omzi2c::testing
