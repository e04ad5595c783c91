// The simulated board put together: the controller of its kind placed on PCI
// beside the functions of its device, and the SMBus devices attached.
#include "board/simulated_board.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "board/chipset_hosts.h"

namespace board {

namespace {

constexpr uint32_t kClassOffset = 0x08;
constexpr uint32_t kRevision = 0x02;
constexpr uint32_t kIsaBridgeClass = 0x060100;

// Temperatures in the sensor's unit of 1/16 degree C.
constexpr uint16_t Sixteenths(int celsius) {
  return static_cast<uint16_t>(celsius * 16);
}

}  // namespace

SimulatedBoard::SimulatedBoard(const BoardConfig& config)
    : config_(config), pci_(ports_), modules_(address::kModuleCount) {
  PlaceController();
  AttachDevices();
  if (StartWatch* model = ControllerModel()) model->OnStartCommand([this] { TransactionStarts(); });
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
  const uint8_t hostFunction = config_.hostFunction == kKindFunction
                                   ? LayoutForChipset(config_.chipset).function
                                   : static_cast<uint8_t>(config_.hostFunction & 0x07);
  if (config_.hostClass != 0) {
    hostFunction_->Preset(kClassOffset, config_.hostClass << 8 | kRevision, 0);
  }
  placed_.push_back({config_.bus, config_.device, PciFunctionNumber{hostFunction}});
  pci_.Place(placed_.back(), hostFunction_.get());
  PlaceNeighbours(hostFunction);
}

PciFunction* SimulatedBoard::Neighbour(uint8_t function) const {
  for (size_t i = 0; i < config_.neighbours.size(); ++i) {
    if (config_.neighbours[i].function == function) return neighbours_[i].get();
  }
  return nullptr;
}

// The device's other functions. The configured function (for example the
// device's function 0) may only identify the device, with the host's IDs;
// and a device has a function 0.
void SimulatedBoard::PlaceNeighbours(uint8_t hostFunction) {
  for (const NeighbourFunction& n : config_.neighbours) {
    auto function = std::make_unique<PciFunction>(n.vendorId, n.deviceId);
    function->Preset(kClassOffset, n.classCode << 8 | kRevision, 0);
    for (uint32_t offset = PciFunction::kCommandOffset; offset < PciFunction::kDwords * 4;
         offset += 4) {
      if (offset != kClassOffset) function->Preset(offset, function->Config(offset), 0xFFFFFFFF);
    }
    placed_.push_back({config_.bus, config_.device, PciFunctionNumber{n.function}});
    pci_.Place(placed_.back(), function.get());
    neighbours_.push_back(std::move(function));
  }
  const uint8_t scanned = config_.function & 0x07;
  for (const uint8_t at : {scanned, uint8_t{0}}) {
    if (at == hostFunction || Neighbour(at) != nullptr) continue;
    if (at == 0 && scanned == 0 && !identityFunctions_.empty()) continue;
    auto identity = std::make_unique<PciFunction>(config_.vendorId, config_.deviceId);
    if (at == 0) identity->Preset(kClassOffset, kIsaBridgeClass << 8 | kRevision, 0);
    placed_.push_back({config_.bus, config_.device, PciFunctionNumber{at}});
    pci_.Place(placed_.back(), identity.get());
    identityFunctions_.push_back(std::move(identity));
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
  if (config_.chipset != 4) messages_ = std::make_unique<MessageDevice>();
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
  for (unsigned slot = 0; slot < address::kModuleCount; ++slot)
    modules_[slot].Load(MemoryModuleSpd(slot));
  ddr4_.Load(Ddr4ModuleSpd());
  ddr5_.Load(Ddr5ModuleSpd());
  constexpr int kQuartersPerDegree = 4;
  ddr5_.SetWordRegister(hub::kHighLimit, hub::Quarters(55 * kQuartersPerDegree));
  ddr5_.SetWordRegister(hub::kCriticalLimit, hub::Quarters(85 * kQuartersPerDegree));
  ddr5_.SetQuarters(36 * kQuartersPerDegree + 2);  // 36.5
  using namespace temperature;
  temperatureSensor_.SetRegister(kCapabilities, 0x0057);  // alarms, 1/8 degree resolution
  temperatureSensor_.SetRegister(kConfig, 0x0000);
  temperatureSensor_.SetRegister(kHighLimit, Sixteenths(75));
  temperatureSensor_.SetRegister(kLowLimit, Sixteenths(0));
  temperatureSensor_.SetRegister(kCriticalLimit, Sixteenths(95));
  temperatureSensor_.SetRegister(kVendor, 0x4F4D);
  temperatureSensor_.SetRegister(kDevice, 0x0201);
  temperatureSensor_.SetSixteenths(Sixteenths(34) + 6);  // 34.375

  const char identity[] = "OMZ block device rev 2";
  blocks_.SetBlock(block::kIdentity,
                   std::vector<uint8_t>(identity, identity + sizeof identity - 1));
  blocks_.SetBlock(block::kScratch, std::vector<uint8_t>(8, 0));
  AttachToBus();
}

void SimulatedBoard::AttachToBus() {
  for (unsigned slot = 0; slot < address::kModuleCount; ++slot)
    bus_.Attach(SlaveAddress(static_cast<uint8_t>(address::kFirstModule + slot)), &modules_[slot]);
  bus_.Attach(SlaveAddress(address::kDdr4Module), &ddr4_);
  bus_.Attach(SlaveAddress(address::kDdr5Module), &ddr5_);
  bus_.Attach(SlaveAddress(address::kSelectPage0), &selectPage0_);
  bus_.Attach(SlaveAddress(address::kSelectPage1), &selectPage1_);
  bus_.Attach(SlaveAddress(address::kTemperatureSensor), &temperatureSensor_);
  bus_.Attach(SlaveAddress(address::kHardwareMonitor), &monitor_);
  bus_.Attach(SlaveAddress(address::kBlockDevice), &blocks_);
  if (messages_) bus_.Attach(SlaveAddress(address::kMessageDevice), messages_.get());
}

StartWatch* SimulatedBoard::ControllerModel() const {
  if (byteDone_) return byteDone_.get();
  if (pacedPoll_) return pacedPoll_.get();
  if (dualStatus_) return dualStatus_.get();
  if (startPort_) return startPort_.get();
  if (chunkBuffer_) return chunkBuffer_.get();
  if (embeddedController_) return embeddedController_.get();
  return nullptr;
}

uint64_t SimulatedBoard::Overlaps() const {
  const StartWatch* model = ControllerModel();
  return model ? model->Overlaps() : 0;
}

}  // namespace board
