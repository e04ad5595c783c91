// Sessions on Linux: the driver runs in this process on the user-space
// stand-in, loaded through its entry point from registry parameters, over the
// simulated board or over the machine's real I/O ports.
#include <omzi2c/omzi2c.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <stdexcept>

#include "board/simulated_board.h"
#include "controller_state.h"
#include "discovery/pci_config.h"
#include "driver_entry.h"
#include "ntemu/clock.h"
#include "ntemu/driver_loader.h"
#include "ntemu/objects.h"
#include "ntemu/real_ports.h"
#include "ntemu/registry.h"
#include "omzi2c_client/in_process_transport.h"
#include "omzi2c_client/linux_holds.h"
#include "tools/board_state.h"
#include "tools/cli.h"
#include "tools/format.h"
#include "tools/host_function.h"
#include "tools/kernel_driver_check.h"
#include "tools/session.h"
#include "tools/state_file.h"
#include "tools/trace_printer.h"

namespace omzi2c::tool {

namespace {

const char kParametersKey[] =
    "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\omzi2c\\Parameters";
constexpr uint32_t kRegDword = 4;

// Defaults that start the driver on the simulated board out of the box: the
// kind, and the identity of its controller on the board.
constexpr uint32_t kDefaultChipset = 2;

const char* HostName(int32_t chipset) {
  switch (chipset) {
    case 1:
      return "start-port host";
    case 2:
    case 3:
      return "byte-done host";
    case 4:
    case 5:
    case 6:
      return "paced-poll host";
    case 7:
      return "chunk-buffer host";
    case 8:
    case 9:
      return "dual-status host";
    case 10:
      return "embedded-controller host";
    default:
      return "no host";
  }
}

ntemu::RegistryValue Dword(uint32_t value) {
  ntemu::RegistryValue v{kRegDword, std::vector<uint8_t>(4)};
  for (int i = 0; i < 4; ++i)
    v.data[i] = static_cast<uint8_t>(value >> (8 * i));
  return v;
}

std::optional<uint32_t> DwordOf(const ntemu::RegistryValue& value) {
  if (value.type != kRegDword || value.data.size() != 4) return std::nullopt;
  return value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
         (static_cast<uint32_t>(value.data[3]) << 24);
}

// The driver's parameters: a .reg file if given, else the defaults, then the
// command-line options on top.
struct Parameters {
  std::vector<ntemu::RegFileKey> keys;

  std::optional<uint32_t> Get(const std::string& name) const {
    for (const auto& key : keys) {
      for (const auto& value : key.values) {
        if (value.first == name && key.path.size() >= 11 &&
            key.path.compare(key.path.size() - 11, 11, "\\Parameters") == 0) {
          return DwordOf(value.second);
        }
      }
    }
    return std::nullopt;
  }

  void Set(const std::string& name, uint32_t value) {
    ntemu::RegFileKey& key = ParametersKey();
    for (auto& existing : key.values) {
      if (existing.first == name) {
        existing.second = Dword(value);
        return;
      }
    }
    key.values.push_back({name, Dword(value)});
  }

  ntemu::RegFileKey& ParametersKey() {
    for (auto& key : keys) {
      if (key.path.size() >= 11 &&
          key.path.compare(key.path.size() - 11, 11, "\\Parameters") == 0) {
        return key;
      }
    }
    keys.push_back({kParametersKey, {}});
    return keys.back();
  }
};

bool ResolveParameters(const GlobalOptions& options, Parameters* parameters, std::string* error) {
  if (!options.config.empty()) {
    try {
      parameters->keys = ntemu::ParseRegFile(ntemu::ReadFileBytes(options.config));
      ntemu::ServiceKeyOf(parameters->keys);
    } catch (const std::exception& e) {
      *error = options.config + ": " + e.what();
      return false;
    }
  } else {
    // A code outside 1..10 keeps the identity of the default kind: the
    // driver is to refuse the code, not miss the controller.
    const uint32_t chipset = options.chipset.value_or(kDefaultChipset);
    const bool known = chipset >= kFirstChipset && chipset <= kLastChipset;
    const board::BoardConfig identity =
        board::ConfigForKind(static_cast<int>(known ? chipset : kDefaultChipset));
    parameters->Set("ISAPortDriverEnable", 1);
    parameters->Set("I2CDriverEnable", 1);
    parameters->Set("Chipset", chipset);
    parameters->Set("VID", identity.vendorId);
    parameters->Set("DID", identity.deviceId);
    parameters->Set("Func", identity.function);
  }
  if (options.portService) parameters->Set("ISAPortDriverEnable", *options.portService ? 1 : 0);
  if (options.smbService) parameters->Set("I2CDriverEnable", *options.smbService ? 1 : 0);
  if (options.chipset) parameters->Set("Chipset", *options.chipset);
  if (options.vid) parameters->Set("VID", *options.vid);
  if (options.did) parameters->Set("DID", *options.did);
  if (options.func) parameters->Set("Func", *options.func);
  return true;
}

// The board of the configured kind, whose controller carries the IDs of a
// real controller of that kind (or the board of a Chipset 2 host at
// function 4, for its IDs). Parameters naming other IDs get the kind's host
// with those IDs at bus 0, device 0x1f, found through Func.
board::BoardConfig BoardFor(const Parameters& parameters) {
  const int chipset = static_cast<int32_t>(parameters.Get("Chipset").value_or(11));
  const uint32_t vid = parameters.Get("VID").value_or(0);
  const uint32_t did = parameters.Get("DID").value_or(0);
  for (const board::BoardConfig& config :
       {board::ConfigForKind(chipset), board::HostAtFunction4Config()}) {
    if (config.vendorId == vid && config.deviceId == did) return config;
  }
  board::BoardConfig config;
  config.chipset = chipset;
  config.vendorId = static_cast<uint16_t>(vid);
  config.deviceId = static_cast<uint16_t>(did);
  config.function = static_cast<uint8_t>(parameters.Get("Func").value_or(0) & 0x07);
  return config;
}

class InProcessSession : public Session {
 public:
  InProcessSession(const GlobalOptions& options, Parameters parameters, std::ostream& trace)
      : options_(options), parameters_(std::move(parameters)), tracePrinter_(trace) {}

  ~InProcessSession() override {
    client_.reset();
    holding_.reset();
    transport_.reset();
    driver_.reset();  // unloads the driver while the board is still there
    ntemu::InstallTraceSink(nullptr);
    ntemu::InstallPortSpace(nullptr);
    ntemu::InstallClock(nullptr);
    ntemu::SetNamedEventsSystemWide(false);
  }

  // Installs the board or real ports, then loads the driver; false with the
  // reason when the driver does not start.
  bool Start(std::string* error, int* exitStatus) {
    if (options_.board == "ports" && !options_.state.empty()) {
      *error = "--state keeps the simulated board's memory: it has no use with --board ports";
      *exitStatus = kExitUsage;
      return false;
    }
    if (options_.board == "ports") {
      if (HeldByKernelDriver(error)) {
        *exitStatus = kExitUsage;
        return false;
      }
      if (!ntemu::RealPortSpace::Acquire(error)) {
        *exitStatus = kExitFailed;
        return false;
      }
      ntemu::InstallPortSpace(&realPorts_);
      ntemu::InstallClock(&realClock_);
      ntemu::SetNamedEventsSystemWide(true);
    } else {
      board_ = std::make_unique<board::SimulatedBoard>(BoardFor(parameters_));
      // Nothing here reads the bus's log, and a long session (a shell, a
      // program polling through the library) would only grow it.
      board_->Bus().KeepLog(false);
      ntemu::InstallPortSpace(&board_->Ports());
      ntemu::InstallClock(&virtualClock_);
      if (!LoadState(error)) {
        *exitStatus = kExitUsage;
        return false;
      }
    }
    if (!InjectFaults(error)) {
      *exitStatus = kExitUsage;
      return false;
    }
    LocateHost();
    if (options_.trace) ntemu::InstallTraceSink(&tracePrinter_);
    driver_ = std::make_unique<ntemu::LoadedDriver>(DriverEntry, parameters_.keys);
    if (!driver_->Loaded()) {
      *error = "the driver did not start: " + client::DescribeStatus(driver_->Status());
      const std::string lockError = ntemu::SystemWideEventError();
      if (!lockError.empty()) *error += "\n" + lockError;
      *exitStatus = kExitFailed;
      return false;
    }
    client::InProcessTransport::CompletionObserver observer;
    if (options_.trace) {
      observer = [this](const ntemu::IoResult& io) { tracePrinter_.OnCompletion(io); };
    }
    transport_ = std::make_unique<client::InProcessTransport>(driver_->Device(), observer);
    std::unique_ptr<client::SharedHold> hold;
    if (options_.sharedHold) hold = MakeHold(error);
    if (options_.sharedHold && !hold) {
      *exitStatus = kExitFailed;
      return false;
    }
    holding_ = std::make_unique<client::HoldingTransport>(*transport_, std::move(hold));
    client_ = std::make_unique<client::Client>(*holding_);
    return true;
  }

  client::Client& Client() override { return *client_; }
  client::HoldingTransport& Holding() override { return *holding_; }
  bool RealHardware() const override { return options_.board == "ports"; }

  std::vector<std::string> Info() const override {
    std::vector<std::string> lines;
    lines.push_back(board_ ? "board: simulated" : "board: real I/O ports");
    for (const char* name :
         {"ISAPortDriverEnable", "I2CDriverEnable", "Chipset", "VID", "DID", "Func"}) {
      const auto value = parameters_.Get(name);
      lines.push_back(std::string("parameter ") + name + ": " +
                      (value ? Hex8(*value) : std::string("(absent: default applies)")));
    }
    const auto hostFunction = parameters_.Get("HostFunction");
    lines.push_back(
        "parameter HostFunction: " +
        (hostFunction ? Hex8(*hostFunction) : std::string("(absent: the Chipset's own function)")));
    lines.push_back(std::string("port service: ") +
                    (Controller.ISAPortDriverEnable ? "enabled" : "disabled"));
    lines.push_back(std::string("SMBus service: ") +
                    (Controller.I2CDriverEnable ? "enabled" : "disabled"));
    if (Controller.I2CDriverEnable) {
      lines.push_back("controller: Chipset " + std::to_string(Controller.Chipset) + " (" +
                      HostName(Controller.Chipset) + "), PCI " + Hex4(Controller.VID) + ":" +
                      Hex4(Controller.DID) + " function " + std::to_string(Controller.Func) +
                      ", SMBus base " + Hex4(Controller.SmbBase));
      if (!hostAt_.empty()) lines.push_back("host: PCI " + hostAt_);
    }
    if (Controller.Chipset == 10) {
      lines.push_back("embedded controller: data " + Hex4(Controller.EcDataPort) + ", command " +
                      Hex4(Controller.EcCommandPort));
    }
    // Who may open the device and the bus event, as the driver set it.
    const std::string device = ntemu::Narrow(OMZI2C_DEVICE_NAME);
    const std::string event = ntemu::Narrow(OMZI2C_BUS_EVENT_NAME);
    lines.push_back("access to " + device + ": " + ntemu::Sddl(ntemu::SecurityOf(device)));
    lines.push_back("access to " + event + ": " +
                    (Controller.I2CDriverEnable ? ntemu::Sddl(ntemu::EventSecurityOf(event))
                                                : std::string("none (no SMBus service)")));
    return lines;
  }

  std::string AdapterName() const override {
    char base[8];
    std::snprintf(base, sizeof base, "%04x", Controller.SmbBase);
    return std::string("SMBus ") + HostName(Controller.Chipset) + " at " + base;
  }

  std::string HostDescription() const override {
    std::string text = std::string("the ") + HostName(Controller.Chipset) + " (Chipset " +
                       std::to_string(Controller.Chipset) + ")";
    if (!hostAt_.empty()) text += " at PCI " + hostAt_;
    return text + (board_ ? " of the simulated board" : "");
  }

  // Saves the board's memory to the --state file when it changed since it
  // was loaded or last saved: read-only sessions leave the file as it was.
  bool Keep(std::string* error) override {
    if (!board_ || options_.state.empty()) return true;
    const std::string text = SaveBoardState(*board_, carried_);
    if (text == kept_) return true;
    if (!stateFile_.Write(text, error)) return false;
    kept_ = text;
    return true;
  }

  bool Finish(std::string* error) override { return Keep(error); }

 private:
  // The memory a former run left in the --state file (none yet is no
  // error), holding the file locked until this session ends.
  bool LoadState(std::string* error) {
    if (options_.state.empty()) return true;
    std::string text;
    if (!stateFile_.Open(options_.state, &text, error)) return false;
    if (!LoadBoardState(text, *board_, error, &carried_)) {
      *error = options_.state + ": " + *error;
      return false;
    }
    kept_ = SaveBoardState(*board_, carried_);
    return true;
  }

  bool SmbServiceOn() const {
    constexpr uint32_t kEnableMask = 0xFF;  // the low byte of the value counts
    return (parameters_.Get("I2CDriverEnable").value_or(0) & kEnableMask) != 0;
  }

  // True, with the reason, when the SMBus service would drive a host that a
  // kernel driver holds, unless told to go on (-f). Checked before the
  // driver starts, since its discovery already writes PCI configuration.
  bool HeldByKernelDriver(std::string* error) const {
    if (options_.force || !SmbServiceOn()) return false;
    const ConfiguredHost host{parameters_.Get("Chipset").value_or(0),
                              static_cast<uint16_t>(parameters_.Get("VID").value_or(0)),
                              static_cast<uint16_t>(parameters_.Get("DID").value_or(0)),
                              static_cast<uint16_t>(parameters_.Get("Func").value_or(0xFFFF)),
                              parameters_.Get("HostFunction")};
    const std::optional<std::string> conflict = KernelDriverConflict(options_.sysfs, host);
    if (conflict) *error = *conflict;
    return conflict.has_value();
  }

  // Where the host sits, "00:1f.3", as discovery will find it: the device
  // the configured IDs and function locate, at the function of the host's
  // kind. Looked up before --trace starts showing port accesses, with the
  // same identification reads discovery makes.
  void LocateHost() {
    auto function = HostFunction(parameters_.Get("Chipset").value_or(0));
    const auto hostFunction = parameters_.Get("HostFunction");
    if (function && hostFunction && *hostFunction <= 7) function = *hostFunction;
    if (!SmbServiceOn() || !function) return;
    LONG bus = 0, device = 0;
    if (!FindPciFunction(static_cast<USHORT>(parameters_.Get("VID").value_or(0)),
                         static_cast<USHORT>(parameters_.Get("DID").value_or(0)),
                         parameters_.Get("Func").value_or(0xFFFF), bus, device)) {
      return;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%02x:%02x.%u", static_cast<unsigned>(bus),
                  static_cast<unsigned>(device), *function);
    hostAt_ = text;
  }

  // Real ports are shared with every other process on the machine that uses
  // the library or the tool: a lock file beside the bus event's. Nobody
  // else sees the simulated board, so there the hold is the process's own.
  std::unique_ptr<client::SharedHold> MakeHold(std::string* error) const {
    if (options_.board != "ports") return client::MakeProcessHold();
    return client::MakeFileHold(error);
  }

  bool InjectFaults(std::string* error) {
    for (const std::string& fault : options_.faults) {
      if (!board_) {
        *error = "faults can only be injected on the simulated board: " + fault;
        return false;
      }
      if (!board_->InjectFault(fault, error)) return false;
    }
    return true;
  }

  const GlobalOptions& options_;
  Parameters parameters_;
  TracePrinter tracePrinter_;
  std::unique_ptr<board::SimulatedBoard> board_;
  ntemu::RealPortSpace realPorts_;
  ntemu::VirtualClock virtualClock_{/*recordPauses=*/false};  // --trace shows them
  ntemu::RealClock realClock_;
  std::unique_ptr<ntemu::LoadedDriver> driver_;
  std::unique_ptr<client::InProcessTransport> transport_;
  std::unique_ptr<client::HoldingTransport> holding_;
  std::unique_ptr<client::Client> client_;
  std::string hostAt_;  // "00:1f.3"; empty where there is no PCI host
  StateFile stateFile_;
  std::string carried_;  // state lines for devices this board lacks
  std::string kept_;     // the memory as the state file holds it
};

}  // namespace

std::unique_ptr<Session> OpenSession(const GlobalOptions& options, std::ostream& trace,
                                     std::string* error, int* exitStatus) {
  Parameters parameters;
  if (!ResolveParameters(options, &parameters, error)) {
    *exitStatus = kExitUsage;
    return nullptr;
  }
  auto session = std::make_unique<InProcessSession>(options, std::move(parameters), trace);
  if (!session->Start(error, exitStatus)) return nullptr;
  return session;
}

namespace {

// A fault listed as a form, such as ec-status-XX, is tried as one of its
// instances.
std::string InstanceOf(std::string name) {
  const size_t form = name.rfind("XX");
  if (form != std::string::npos) name.replace(form, 2, "80");
  return name;
}

}  // namespace

std::vector<std::string> DescribeFaults(std::optional<uint32_t> chipset) {
  // Which kinds have a fault is what their boards accept.
  std::vector<std::unique_ptr<board::SimulatedBoard>> boards;
  for (uint32_t kind = kFirstChipset; kind <= kLastChipset; ++kind) {
    board::BoardConfig config;
    config.chipset = static_cast<int>(kind);
    boards.push_back(std::make_unique<board::SimulatedBoard>(config));
  }
  std::vector<std::string> lines;
  for (const auto& fault : board::SimulatedBoard::Faults()) {
    std::string kinds, ignored;
    bool wanted = !chipset;
    for (uint32_t kind = kFirstChipset; kind <= kLastChipset; ++kind) {
      if (!boards[kind - kFirstChipset]->InjectFault(InstanceOf(fault.name), &ignored)) continue;
      kinds += (kinds.empty() ? "" : ", ") + std::to_string(kind);
      wanted = wanted || kind == *chipset;
    }
    if (!wanted) continue;
    lines.push_back(std::string(fault.name) + "\t" + fault.description + " [Chipset " + kinds +
                    "]");
  }
  return lines;
}

}  // namespace omzi2c::tool
