// The simulated board the tool and the tests run the driver on: PCI
// configuration space with the configured SMBus controller (switched off
// until the driver enables it), the controller's model at its base, and an
// SMBus with the devices a real board carries: memory-module EEPROMs at
// 0x50-0x53 (DDR3) and 0x54 (DDR4, with its page selects at 0x36 and
// 0x37), 0x55 (DDR5, behind its SPD hub with a temperature sensor), a
// JC-42.4 temperature sensor, a hardware monitor
// with byte registers, and a block-capable device.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "board/block_device.h"
#include "board/board_identities.h"
#include "board/byte_done_host_model.h"
#include "board/chunk_buffer_host_model.h"
#include "board/ddr4_module.h"
#include "board/ddr5_module.h"
#include "board/dual_status_host_model.h"
#include "board/embedded_controller_model.h"
#include "board/hardware_monitor.h"
#include "board/message_device.h"
#include "board/paced_poll_host_model.h"
#include "board/pci_config_space.h"
#include "board/port_map.h"
#include "board/smbus.h"
#include "board/spd_eeprom.h"
#include "board/start_port_host_model.h"
#include "board/temperature_sensor.h"
#include "board/word_register_device.h"

namespace board {

constexpr uint8_t kKindFunction = 0xFF;

struct BoardConfig {
  int chipset = 2;
  uint16_t vendorId = 0x8086;
  uint16_t deviceId = 0x2930;
  uint8_t function = 3;  // where the identification is found (the driver's Func)
  PciBus bus{0};
  PciDevice device{0x1F};
  uint16_t smbBase = 0x0400;
  // Where the host sits: kKindFunction for the function the kind's
  // discovery switches on.
  uint8_t hostFunction = kKindFunction;
  uint32_t hostClass = 0;  // 24 bits; 0: the kind's usual class for its function
  // Other functions of the device. Without one at function 0 a host placed
  // elsewhere gets a bridge there with its own IDs, as a device must have a
  // function 0.
  std::vector<NeighbourFunction> neighbours;
};

// Addresses of the devices on the simulated SMBus (7-bit).
namespace address {
constexpr uint8_t kFirstModule = 0x50;  // four modules, 0x50..0x53
constexpr uint8_t kModuleCount = 4;
constexpr uint8_t kDdr4Module = 0x54;   // a DDR4 module beside them
constexpr uint8_t kDdr5Module = 0x55;   // a DDR5 module's SPD hub
constexpr uint8_t kSelectPage0 = 0x36;  // DDR4 SPD page selects
constexpr uint8_t kSelectPage1 = 0x37;
constexpr uint8_t kTemperatureSensor = 0x18;
constexpr uint8_t kHardwareMonitor = 0x2E;
constexpr uint8_t kBlockDevice = 0x44;
constexpr uint8_t kMessageDevice = 0x3A;  // Chipset 5 and 6 boards
}  // namespace address

// Block commands of the block device.
namespace block {
constexpr uint8_t kIdentity = 0x00;  // a short text naming the device
constexpr uint8_t kScratch = 0x10;   // writable
}  // namespace block

// The board's block device also answers a receive byte with its status
// byte (0, ready), so that a bus scan finds it.
class StatusBlockDevice : public BlockDevice {
 public:
  bool ReceiveByte(uint8_t* byte) override {
    *byte = 0;
    return true;
  }
};

struct FaultInfo {
  const char* name;
  const char* description;
};

// When a fault strikes, counted in transactions: each start command the
// driver writes to the controller model (taken or not) is one, numbered from
// 1 since the board was made. A fault in force at a start stays so until the
// next start, so it also covers the waits before that one.
struct FaultSchedule {
  uint64_t first = 1;        // the transaction it first strikes at
  uint64_t count = 0;        // for this many transactions; 0: for ever after
  double probability = 1.0;  // below 1: drawn afresh at every transaction
  uint64_t seed = 1;         // of the draws
};

// The models' own fault settings, as a whole.
struct ModelFaults {
  ByteDoneFaults byteDone;
  PacedPollFaults pacedPoll;
  DualStatusFaults dualStatus;
  StartPortFaults startPort;
  ChunkBufferFaults chunkBuffer;
  EmbeddedControllerFaults embeddedController;
};

class SimulatedBoard {
 public:
  explicit SimulatedBoard(const BoardConfig& config);
  ~SimulatedBoard();
  SimulatedBoard(const SimulatedBoard&) = delete;
  SimulatedBoard& operator=(const SimulatedBoard&) = delete;

  PortMap& Ports() { return ports_; }
  SmbusBus& Bus() { return bus_; }
  const BoardConfig& Config() const { return config_; }
  // The controller model, when the configured kind has one on this board.
  ByteDoneHostModel* ByteDoneHost() { return byteDone_.get(); }
  PacedPollHostModel* PacedPollHost() { return pacedPoll_.get(); }
  AuxIndexDataPair* AuxPorts() { return aux_.get(); }    // Chipset 5
  MessageDevice* Messages() { return messages_.get(); }  // Chipset 5 and 6
  DualStatusHostModel* DualStatusHost() { return dualStatus_.get(); }
  StartPortHostModel* StartPortHost() { return startPort_.get(); }
  ChunkBufferHostModel* ChunkBufferHost() { return chunkBuffer_.get(); }
  EmbeddedControllerModel* EmbeddedController() { return embeddedController_.get(); }
  GatedHostFunction* HostFunction() { return hostFunction_.get(); }
  // A function beside the host (NeighbourFunction), null when none is there.
  PciFunction* NeighbourAt(uint8_t function) const { return Neighbour(function); }

  SpdEeprom& Module(unsigned slot) { return modules_.at(slot); }
  Ddr4SpdEeprom& Ddr4Module() { return ddr4_; }
  SpdHub& Ddr5Module() { return ddr5_; }
  board::TemperatureSensor& TemperatureSensor() { return temperatureSensor_; }
  HardwareMonitor& Monitor() { return monitor_; }
  StatusBlockDevice& Blocks() { return blocks_; }

  static const std::vector<FaultInfo>& Faults();
  // NAME: from now on, for good. NAME@N: from the Nth transaction on;
  // NAME@N+K: for K transactions from the Nth; NAME%P or NAME%P:SEED: at
  // each transaction with probability P percent, drawn from SEED (default 1).
  bool InjectFault(const std::string& form, std::string* error);
  // The same, switched on and off by the board at each transaction. May be
  // called while the driver runs, between its requests.
  bool ScheduleFault(const std::string& name, const FaultSchedule& schedule, std::string* error);
  // Ends every scheduled fault; the models keep what was injected for good.
  void ClearScheduledFaults();
  uint64_t Transactions() const { return transactions_; }
  // Start commands the controller model took while a transaction was running.
  uint64_t Overlaps() const;

 private:
  struct ScheduledFault {
    std::string name;
    FaultSchedule schedule;
    uint64_t draws;  // state of its random sequence
  };
  bool ApplyFault(const std::string& name, std::string* error);
  StartWatch* ControllerModel() const;
  void RestoreBaseline();
  ModelFaults SaveModelFaults();
  void RestoreModelFaults(const ModelFaults& faults);
  void AttachToBus();
  void TransactionStarts();
  void SwitchFaults(bool draw);

  void PlaceController();
  void PlaceNeighbours(uint8_t hostFunction);
  PciFunction* Neighbour(uint8_t function) const;
  void AttachDevices();
  PortHandler* PlacePacedPollHost();
  bool InjectPacedPollFault(const std::string& name, std::string* error);
  bool InjectDualStatusFault(const std::string& name, std::string* error);
  bool InjectStartPortFault(const std::string& name, std::string* error);
  bool InjectChunkBufferFault(const std::string& name, std::string* error);
  bool InjectEmbeddedControllerFault(const std::string& name, std::string* error);

  BoardConfig config_;
  PortMap ports_;
  PciConfigSpace pci_;
  SmbusBus bus_;
  std::unique_ptr<ByteDoneHostModel> byteDone_;
  std::unique_ptr<PacedPollHostModel> pacedPoll_;
  std::unique_ptr<AuxIndexDataPair> aux_;
  std::unique_ptr<MessageDevice> messages_;
  std::unique_ptr<DualStatusHostModel> dualStatus_;
  std::unique_ptr<StartPortHostModel> startPort_;
  std::unique_ptr<ChunkBufferHostModel> chunkBuffer_;
  std::unique_ptr<EmbeddedControllerModel> embeddedController_;
  std::unique_ptr<GatedHostFunction> hostFunction_;
  // Functions with the host's IDs: where Func names another function, and
  // function 0 when nothing else is there.
  std::vector<std::unique_ptr<PciFunction>> identityFunctions_;
  std::vector<std::unique_ptr<PciFunction>> neighbours_;
  std::vector<PciLocation> placed_;
  std::vector<SpdEeprom> modules_;
  Ddr4SpdEeprom ddr4_;
  SpdHub ddr5_;
  SpdPageSelect selectPage0_{0, {&ddr4_}};
  SpdPageSelect selectPage1_{1, {&ddr4_}};
  board::TemperatureSensor temperatureSensor_;
  HardwareMonitor monitor_;
  StatusBlockDevice blocks_;
  uint64_t transactions_ = 0;
  std::vector<ScheduledFault> scheduled_;
  ModelFaults baseline_;  // the models' faults apart from scheduled ones
  bool baselineNak_ = false;
  bool baselineWriteProtect_ = false;
  bool nak_ = false;
  bool writeProtect_ = false;
};

}  // namespace board
