// What the tool's commands run against: a driver reached through a client
// transport, plus what the tool can say about it.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "omzi2c_client/client.h"
#include "omzi2c_client/holding_transport.h"

namespace omzi2c::tool {

struct GlobalOptions {
  std::string board = "sim";  // sim | ports (Linux)
  std::string config;         // parameters from a .reg file
  std::string state;          // the simulated board's memory, kept between runs
  std::optional<uint32_t> chipset, vid, did, func;
  std::optional<bool> portService, smbService;
  std::vector<std::string> faults;
  bool trace = false;
  bool yes = false;
  bool allAddresses = false;   // -a: chip addresses 0x00-0x07 and 0x78-0x7f too
  bool force = false;          // -f: drive the host even where a kernel driver holds it
  bool json = false;           // sensors and spd print one JSON document
  std::string sysfs = "/sys";  // the kernel's device tree, looked at before real ports
  bool sharedHold = true;      // SMBus requests under the hold other programs share
};

class Session {
 public:
  virtual ~Session() = default;
  virtual client::Client& Client() = 0;
  // The sequence hold the session's SMBus requests run under.
  virtual client::HoldingTransport& Holding() = 0;
  // Writes reach real hardware: ask before them unless told not to.
  virtual bool RealHardware() const = 0;
  // The SMBus host requests go to, for confirmations ("the byte-done host
  // (Chipset 2) at PCI 00:1f.3").
  virtual std::string HostDescription() const { return "the driver's SMBus host"; }
  // The SMBus host as lm-sensors names an adapter ("SMBus byte-done host at
  // 0400").
  virtual std::string AdapterName() const { return "SMBus host"; }
  // Lines describing parameters, the controller found, services enabled.
  virtual std::vector<std::string> Info() const = 0;
  // Keeps what the session must keep so far (the board's memory for
  // --state), so that an interrupted shell loses nothing done before;
  // false with the reason when that failed.
  virtual bool Keep(std::string* /*error*/) { return true; }
  // Ends the session: keeps what it must keep; false with the reason when
  // that failed.
  virtual bool Finish(std::string* /*error*/) { return true; }
};

// Loads or opens the driver as the options say, with the options' faults
// injected into the simulated board first; on failure returns null and
// explains in `error` (and `exitStatus`: 1 for bad usage, 2 for a failure).
std::unique_ptr<Session> OpenSession(const GlobalOptions& options, std::ostream& trace,
                                     std::string* error, int* exitStatus);
// Names of the simulated board's faults, with a line of description each
// and the controller kinds that have the fault; only those of `chipset`
// when given.
std::vector<std::string> DescribeFaults(std::optional<uint32_t> chipset = {});

}  // namespace omzi2c::tool
