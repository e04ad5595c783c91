#include "board/simulated_board.h"

#include <algorithm>
#include <cstring>

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
    {"second-busy-stuck", "the second busy flag of the host state (0x02) stays set (Chipset 7)"},
    {"chunk-flag-stuck", "the block chunk flag (0x10), once raised, never clears (Chipset 7)"},
    {"nak", "no device answers: every address is not acknowledged"},
    {"eeprom-write-protect", "the memory-module EEPROMs refuse writes"},
    {"controller-absent", "the configured controller is not on the PCI bus"},
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
  if (config_.chipset == 7) {
    chunkBuffer_ = std::make_unique<ChunkBufferHostModel>(bus_, config_.smbBase);
    chunkBuffer_->SetBusyReads(2);
    host = chunkBuffer_.get();
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
  if (chunkBuffer_ || name == "second-busy-stuck" || name == "chunk-flag-stuck") {
    return InjectChunkBufferFault(name, error);
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

}  // namespace board
