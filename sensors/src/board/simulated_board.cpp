#include "board/simulated_board.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "board/chipset_hosts.h"

namespace board {

namespace {

// Temperatures in the sensor's unit of 1/16 degree C.
constexpr uint16_t Sixteenths(int celsius) {
  return static_cast<uint16_t>(celsius * 16);
}

const std::vector<FaultInfo> kFaults = {
    {"in-use-stuck", "the host's in-use flag stays set, whoever writes it"},
    {"in-use-held", "another agent holds the in-use flag until the driver frees it"},
    {"busy-stuck", "the host reads busy forever, kill included"},
    {"never-starts", "the host ignores the start bit"},
    {"never-finishes", "a started transaction stays busy until killed"},
    {"device-error", "every transaction ends with the device-error flag (0x04)"},
    {"collision", "every transaction ends with the bus-collision flag (0x08)"},
    {"failed", "every transaction ends with the failed flag (0x10)"},
    {"alert", "every transaction ends with the alert flag (0x20)"},
    {"block-count-0", "a block read reports a count of 0"},
    {"block-count-33", "a block read reports a count of 33"},
    {"byte-done-never", "byte done never comes for the first block byte"},
    {"chunk-flag-stuck", "the block chunk flag (0x10), once raised, never clears (Chipset 7)"},
    {"nak", "no device answers: every address is not acknowledged"},
    {"eeprom-write-protect", "the memory-module EEPROMs refuse writes"},
    {"controller-absent", "the configured controller is not on the PCI bus"},
    {"loses-config",
     "the first transaction makes the host drop its PCI configuration while "
     "busy (Chipset 6)"},
    {"second-busy-stuck",
     "the host's second busy flag stays set (the second status register of Chipset 4, 5, 6, "
     "8, 9; the host state's 0x02 on Chipset 7)"},
    {"not-idle", "the start-port host shows neither busy nor idle (Chipset 1)"},
    {"done-late",
     "the start-port host is done after 9000 status reads and idle 2000 reads later (Chipset 1)"},
    {"ec-input-stuck", "embedded controller: input buffer full stays set, nothing is taken"},
    {"ec-output-never", "embedded controller: output buffer full never sets"},
    {"ec-event-never", "embedded controller: the event flag is never raised"},
    {"ec-event-stuck", "embedded controller: the event flag stays set"},
    {"ec-status-00", "embedded controller: every SMBus transaction ends with status 0x00"},
    {"ec-status-07", "embedded controller: every SMBus transaction ends with status 0x07"},
    {"ec-status-10", "embedded controller: every SMBus transaction ends with status 0x10"},
    {"ec-status-11", "embedded controller: every SMBus transaction ends with status 0x11"},
    {"ec-status-12", "embedded controller: every SMBus transaction ends with status 0x12"},
    {"ec-status-13", "embedded controller: every SMBus transaction ends with status 0x13"},
    {"ec-status-17", "embedded controller: every SMBus transaction ends with status 0x17"},
    {"ec-status-18", "embedded controller: every SMBus transaction ends with status 0x18"},
    {"ec-status-19", "embedded controller: every SMBus transaction ends with status 0x19"},
    {"ec-status-1a", "embedded controller: every SMBus transaction ends with status 0x1A"},
    {"ec-status-1f", "embedded controller: every SMBus transaction ends with status 0x1F"},
    {"ec-status-40", "embedded controller: every SMBus transaction ends with status 0x40"},
    {"ec-status-90", "embedded controller: every SMBus transaction ends with status 0x90"},
};

}  // namespace

SimulatedBoard::SimulatedBoard(const BoardConfig& config)
    : config_(config),
      pci_(ports_),
      modules_(address::kModuleCount),
      temperatureSensor_(temperature::kRegisters) {
  PlaceController();
  AttachDevices();
}

SimulatedBoard::~SimulatedBoard() = default;

void SimulatedBoard::PlaceController() {
  PortHandler* host = nullptr;
  if (config_.chipset == 2 || config_.chipset == 3) {
    byteDone_ = std::make_unique<ByteDoneHostModel>(bus_, config_.smbBase);
    byteDone_->SetBusyReads(2);  // a real host is busy for a while after the start
    host = byteDone_.get();
  }
  if (config_.chipset >= 4 && config_.chipset <= 6) host = PlacePacedPollHost();
  if (config_.chipset == 8 || config_.chipset == 9) {
    dualStatus_ = std::make_unique<DualStatusHostModel>(bus_, config_.smbBase);
    dualStatus_->SetBusyReads(2);
    host = dualStatus_.get();
  }
  if (config_.chipset == 1) {
    startPort_ = std::make_unique<StartPortHostModel>(bus_, config_.smbBase);
    startPort_->SetBusyReads(2);
    startPort_->SetSettleReads(1);
    host = startPort_.get();
  }
  if (config_.chipset == 7) {
    chunkBuffer_ = std::make_unique<ChunkBufferHostModel>(bus_, config_.smbBase);
    chunkBuffer_->SetBusyReads(2);
    host = chunkBuffer_.get();
  }
  if (config_.chipset == 10) {
    embeddedController_ = std::make_unique<EmbeddedControllerModel>(bus_, config_.smbBase);
    embeddedController_->SetHandshakeReads(2);  // the controller's firmware takes its time
    embeddedController_->SetTransactionReads(6);
    host = embeddedController_.get();
  }
  if (config_.chipset < 1 || config_.chipset > 10) return;  // nothing for the driver to find
  hostFunction_ = MakeChipsetHost(config_.chipset, config_.vendorId, config_.deviceId,
                                  config_.smbBase, ports_, host);
  const uint8_t hostFunction = LayoutForChipset(config_.chipset).function;
  placed_.push_back({config_.bus, config_.device, PciFunctionNumber{hostFunction}});
  pci_.Place(placed_.back(), hostFunction_.get());
  const uint8_t scanned = config_.function & 0x07;
  if (scanned != hostFunction) {
    // The configured function (for example the device's function 0) only
    // identifies the device; the host sits at its own function.
    identityFunction_ = std::make_unique<PciFunction>(config_.vendorId, config_.deviceId);
    placed_.push_back({config_.bus, config_.device, PciFunctionNumber{scanned}});
    pci_.Place(placed_.back(), identityFunction_.get());
  }
}

// The paced-poll host; Chipset 5 boards also carry the auxiliary port pair,
// and Chipset 5 and 6 boards a device that speaks messages.
PortHandler* SimulatedBoard::PlacePacedPollHost() {
  pacedPoll_ = std::make_unique<PacedPollHostModel>(bus_, config_.smbBase);
  pacedPoll_->SetBusyReads(2);
  if (config_.chipset == 5) {
    aux_ = std::make_unique<AuxIndexDataPair>();
    aux_->MapInto(ports_);
  }
  if (config_.chipset != 4) {
    messages_ = std::make_unique<MessageDevice>();
    bus_.Attach(SlaveAddress(address::kMessageDevice), messages_.get());
  }
  // Dropping off the bus: the host enable (0xD0) and the base (0x90) are
  // lost, until the driver's recovery writes them back.
  const ChipsetHostLayout layout = LayoutForChipset(config_.chipset);
  pacedPoll_->OnConfigLoss([this, layout] {
    const EnableBit enable = layout.hostEnable;
    hostFunction_->Write(enable.offset / 4, hostFunction_->Config(enable.offset) & ~enable.mask);
    hostFunction_->Write(layout.window.baseOffset / 4, 0);
  });
  return pacedPoll_.get();
}

void SimulatedBoard::AttachDevices() {
  for (unsigned slot = 0; slot < address::kModuleCount; ++slot) {
    modules_[slot].Load(MemoryModuleSpd(slot));
    bus_.Attach(SlaveAddress(static_cast<uint8_t>(address::kFirstModule + slot)), &modules_[slot]);
  }
  using namespace temperature;
  temperatureSensor_.SetRegister(kCapabilities, 0x0057);
  temperatureSensor_.SetRegister(kConfig, 0x0000);
  temperatureSensor_.SetRegister(kHighLimit, Sixteenths(75));
  temperatureSensor_.SetRegister(kLowLimit, Sixteenths(0));
  temperatureSensor_.SetRegister(kCriticalLimit, Sixteenths(95));
  temperatureSensor_.SetRegister(kAmbient, static_cast<uint16_t>(Sixteenths(34) + 6));  // 34.375
  temperatureSensor_.SetRegister(kVendor, 0x4F4D);
  temperatureSensor_.SetRegister(kDevice, 0x0201);
  for (uint8_t r : {kCapabilities, kAmbient, kVendor, kDevice}) {
    temperatureSensor_.SetReadOnly(r, true);
  }
  bus_.Attach(SlaveAddress(address::kTemperatureSensor), &temperatureSensor_);
  bus_.Attach(SlaveAddress(address::kHardwareMonitor), &monitor_);

  const char identity[] = "OMZ block device rev 2";
  blocks_.SetBlock(block::kIdentity,
                   std::vector<uint8_t>(identity, identity + sizeof identity - 1));
  blocks_.SetBlock(block::kScratch, std::vector<uint8_t>(8, 0));
  bus_.Attach(SlaveAddress(address::kBlockDevice), &blocks_);
}

const std::vector<FaultInfo>& SimulatedBoard::Faults() {
  return kFaults;
}

bool SimulatedBoard::InjectFault(const std::string& name, std::string* error) {
  const auto known = std::find_if(kFaults.begin(), kFaults.end(),
                                  [&](const FaultInfo& f) { return name == f.name; });
  if (known == kFaults.end()) {
    *error = "unknown fault '" + name + "' (--list-faults names them)";
    return false;
  }
  if (name == "nak") {
    for (unsigned a = 0; a < 0x80; ++a)
      bus_.Detach(SlaveAddress(static_cast<uint8_t>(a)));
    return true;
  }
  if (name == "controller-absent") {
    for (const PciLocation& at : placed_)
      pci_.Remove(at);
    return true;
  }
  if (name == "eeprom-write-protect") {
    for (SpdEeprom& module : modules_)
      module.SetWriteProtected(true);
    return true;
  }
  if (pacedPoll_) return InjectPacedPollFault(name, error);
  if (dualStatus_) return InjectDualStatusFault(name, error);
  if (startPort_) return InjectStartPortFault(name, error);
  if (chunkBuffer_ || name == "chunk-flag-stuck") {
    return InjectChunkBufferFault(name, error);
  }
  if (embeddedController_ || name.compare(0, 3, "ec-") == 0) {
    return InjectEmbeddedControllerFault(name, error);
  }
  if (!byteDone_) {
    *error = "fault '" + name + "' needs the byte-done host (Chipset 2 or 3)";
    return false;
  }
  ByteDoneFaults& faults = byteDone_->Faults();
  if (name == "in-use-stuck") faults.inUseStuck = true;
  if (name == "in-use-held") faults.inUseHeld = true;
  if (name == "busy-stuck") faults.busyStuck = true;
  if (name == "never-starts") faults.neverStarts = true;
  if (name == "never-finishes") faults.neverFinishes = true;
  if (name == "device-error") faults.errorFlags |= byte_done::status::kDeviceError;
  if (name == "collision") faults.errorFlags |= byte_done::status::kCollision;
  if (name == "failed") faults.errorFlags |= byte_done::status::kFailed;
  if (name == "alert") faults.errorFlags |= byte_done::status::kAlert;
  if (name == "block-count-0") faults.blockCount = 0;
  if (name == "block-count-33") faults.blockCount = 33;
  if (name == "byte-done-never") faults.byteDoneNeverAt = 0;
  return true;
}

bool SimulatedBoard::InjectPacedPollFault(const std::string& name, std::string* error) {
  PacedPollFaults& faults = pacedPoll_->Faults();
  if (name == "busy-stuck")
    faults.busyStuck = true;
  else if (name == "second-busy-stuck")
    faults.secondBusyStuck = true;
  else if (name == "never-starts")
    faults.neverStarts = true;
  else if (name == "never-finishes")
    faults.neverFinishes = true;
  else if (name == "device-error")
    faults.errorFlags |= paced_poll::status::kDeviceError;
  else if (name == "collision")
    faults.errorFlags |= paced_poll::status::kBusError;
  else if (name == "failed")
    faults.errorFlags |= paced_poll::status::kFailed;
  else if (name == "block-count-0")
    faults.blockCount = 0;
  else if (name == "block-count-33")
    faults.blockCount = 33;
  else if (name == "loses-config" && config_.chipset == 6)
    faults.losesConfigAtStart = true;
  else {
    *error = "fault '" + name + "' does not apply to the paced-poll host of Chipset " +
             std::to_string(config_.chipset);
    return false;
  }
  return true;
}

bool SimulatedBoard::InjectDualStatusFault(const std::string& name, std::string* error) {
  using namespace dual_status::status;
  static const std::map<std::string, void (*)(DualStatusFaults&)> kSetters = {
      {"busy-stuck", [](DualStatusFaults& f) { f.busyStuck = true; }},
      {"second-busy-stuck", [](DualStatusFaults& f) { f.secondBusyStuck = true; }},
      {"never-starts", [](DualStatusFaults& f) { f.neverStarts = true; }},
      {"never-finishes", [](DualStatusFaults& f) { f.neverFinishes = true; }},
      {"device-error", [](DualStatusFaults& f) { f.errorFlags |= kDeviceError; }},
      {"collision", [](DualStatusFaults& f) { f.errorFlags |= kCollision; }},
      {"failed", [](DualStatusFaults& f) { f.errorFlags |= kFailed; }},
      {"block-count-0", [](DualStatusFaults& f) { f.blockCount = 0; }},
      {"block-count-33", [](DualStatusFaults& f) { f.blockCount = 33; }},
  };
  const auto setter = kSetters.find(name);
  if (setter == kSetters.end()) {
    *error = "fault '" + name + "' does not apply to the dual-status host (Chipset 8 and 9)";
    return false;
  }
  setter->second(dualStatus_->Faults());
  return true;
}

// On this host the collision flag is its bus-error flag (0x40).
bool SimulatedBoard::InjectStartPortFault(const std::string& name, std::string* error) {
  using namespace start_port::status;
  static const std::map<std::string, void (*)(StartPortHostModel&)> kSetters = {
      {"busy-stuck", [](StartPortHostModel& h) { h.Faults().busyStuck = true; }},
      {"not-idle", [](StartPortHostModel& h) { h.Faults().notIdle = true; }},
      {"never-starts", [](StartPortHostModel& h) { h.Faults().neverStarts = true; }},
      {"never-finishes", [](StartPortHostModel& h) { h.Faults().neverFinishes = true; }},
      {"done-late",
       [](StartPortHostModel& h) {
         h.SetBusyReads(9000);
         h.SetSettleReads(2001);
       }},
      {"device-error", [](StartPortHostModel& h) { h.Faults().errorFlags |= kDeviceError; }},
      {"collision", [](StartPortHostModel& h) { h.Faults().errorFlags |= kBusError; }},
      {"failed", [](StartPortHostModel& h) { h.Faults().errorFlags |= kFailed; }},
      {"block-count-0", [](StartPortHostModel& h) { h.Faults().blockCount = 0; }},
      {"block-count-33", [](StartPortHostModel& h) { h.Faults().blockCount = 33; }},
  };
  const auto setter = kSetters.find(name);
  if (setter == kSetters.end()) {
    *error = "fault '" + name + "' does not apply to the start-port host (Chipset 1)";
    return false;
  }
  setter->second(*startPort_);
  return true;
}

// The chunk-buffer host's own faults: busy bit 0x01 (busy-stuck) or 0x02
// stuck, a protocol write not taken up, a transaction that never ends, error
// flags 0x02 (device-error) and 0x04 (collision), reported block counts and
// a chunk flag that never clears.
bool SimulatedBoard::InjectChunkBufferFault(const std::string& name, std::string* error) {
  if (!chunkBuffer_) {
    *error = "fault '" + name + "' needs the chunk-buffer host (Chipset 7)";
    return false;
  }
  ChunkBufferFaults& faults = chunkBuffer_->Faults();
  if (name == "busy-stuck") {
    faults.stuckBusy |= chunk_buffer::host_state::kBusy;
  } else if (name == "second-busy-stuck") {
    faults.stuckBusy |= chunk_buffer::host_state::kBusHeld;
  } else if (name == "never-starts") {
    faults.neverStarts = true;
  } else if (name == "never-finishes") {
    faults.neverFinishes = true;
  } else if (name == "device-error") {
    faults.errorFlags |= chunk_buffer::status::kDeviceError;
  } else if (name == "collision") {
    faults.errorFlags |= chunk_buffer::status::kCollision;
  } else if (name == "block-count-0") {
    faults.blockCount = 0;
  } else if (name == "block-count-33") {
    faults.blockCount = 33;
  } else if (name == "chunk-flag-stuck") {
    faults.chunkFlagStuck = true;
  } else {
    *error = "fault '" + name + "' is not one the chunk-buffer host (Chipset 7) shows";
    return false;
  }
  return true;
}

bool SimulatedBoard::InjectEmbeddedControllerFault(const std::string& name, std::string* error) {
  if (!embeddedController_) {
    *error = "fault '" + name + "' needs the embedded-controller host (Chipset 10)";
    return false;
  }
  EmbeddedControllerFaults& faults = embeddedController_->Faults();
  const std::string statusPrefix = "ec-status-";
  if (name.compare(0, statusPrefix.size(), statusPrefix) == 0) {
    faults.status = std::stoi(name.substr(statusPrefix.size()), nullptr, 16);
  } else if (name == "ec-input-stuck") {
    faults.inputStuckFull = true;
  } else if (name == "ec-output-never") {
    faults.outputNeverFull = true;
  } else if (name == "ec-event-never") {
    faults.eventNeverRaised = true;
  } else if (name == "ec-event-stuck") {
    faults.eventStuckSet = true;
  } else if (name == "block-count-0" || name == "block-count-33") {
    faults.blockCount = name == "block-count-0" ? 0 : 33;
  } else {
    *error = "fault '" + name + "' does not apply to the embedded-controller host";
    return false;
  }
  return true;
}

}  // namespace board
