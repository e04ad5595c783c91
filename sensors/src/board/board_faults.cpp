// The simulated board's faults: their names, how a schedule is written and
// drawn, and what each does to the controller model or the bus.
#include <algorithm>
#include <cctype>
#include <map>

#include "board/simulated_board.h"

namespace board {

namespace {

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
    {"chunk-flag-stuck", "the block chunk flag (0x10), once raised, never clears"},
    {"nak", "no device answers: every address is not acknowledged"},
    {"eeprom-write-protect", "the memory-module EEPROMs refuse writes"},
    {"controller-absent", "the configured controller is not on the PCI bus"},
    {"loses-config", "the first transaction makes the host drop its PCI configuration while busy"},
    {"second-busy-stuck",
     "the host's second busy flag stays set (the second status register of Chipset 4, 5, 6, "
     "8, 9; the host state's 0x02 on Chipset 7)"},
    {"not-idle", "the start-port host shows neither busy nor idle"},
    {"done-late", "the start-port host is done after 9000 status reads and idle 2000 reads later"},
    {"ec-input-stuck", "embedded controller: input buffer full stays set, nothing is taken"},
    {"ec-output-never", "embedded controller: output buffer full never sets"},
    {"ec-event-never", "embedded controller: the event flag is never raised"},
    {"ec-event-stuck", "embedded controller: the event flag stays set"},
    {"ec-status-XX",
     "embedded controller: every SMBus transaction ends with status 0xXX, XX any two hex digits "
     "(80: done, no error; 00: never finished; 10 or 90: address not acknowledged)"},
};

}  // namespace

ModelFaults SimulatedBoard::SaveModelFaults() {
  ModelFaults faults;
  if (byteDone_) faults.byteDone = byteDone_->Faults();
  if (pacedPoll_) faults.pacedPoll = pacedPoll_->Faults();
  if (dualStatus_) faults.dualStatus = dualStatus_->Faults();
  if (startPort_) faults.startPort = startPort_->Faults();
  if (chunkBuffer_) faults.chunkBuffer = chunkBuffer_->Faults();
  if (embeddedController_) faults.embeddedController = embeddedController_->Faults();
  return faults;
}

void SimulatedBoard::RestoreModelFaults(const ModelFaults& faults) {
  if (byteDone_) byteDone_->Faults() = faults.byteDone;
  if (pacedPoll_) pacedPoll_->Faults() = faults.pacedPoll;
  if (dualStatus_) dualStatus_->Faults() = faults.dualStatus;
  if (startPort_) startPort_->Faults() = faults.startPort;
  if (chunkBuffer_) chunkBuffer_->Faults() = faults.chunkBuffer;
  if (embeddedController_) embeddedController_->Faults() = faults.embeddedController;
}

const std::vector<FaultInfo>& SimulatedBoard::Faults() {
  return kFaults;
}

namespace {

const char kEcStatusFault[] = "ec-status-XX";  // the form of the list, not a name
const char kEcStatusPrefix[] = "ec-status-";

// The status byte of an ec-status-XX fault (two hex digits), or -1.
int EcStatusOf(const std::string& name) {
  const size_t prefix = sizeof(kEcStatusPrefix) - 1;
  if (name.size() != prefix + 2 || name.compare(0, prefix, kEcStatusPrefix) != 0) return -1;
  int value = 0;
  for (size_t i = prefix; i < name.size(); ++i) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

bool KnownFault(const std::string& name, std::string* error) {
  const auto known = std::find_if(kFaults.begin(), kFaults.end(),
                                  [&](const FaultInfo& f) { return name == f.name; });
  if (known != kFaults.end() && name != kEcStatusFault) return true;
  if (EcStatusOf(name) >= 0) return true;
  *error = "unknown fault '" + name + "' (--list-faults names them)";
  return false;
}

// A whole decimal number, or a decimal fraction when `fraction` allows it.
bool ParseNumber(const std::string& text, bool fraction, double* value) {
  if (text.empty() || text.size() > 18) return false;
  bool point = false;
  for (char c : text) {
    if (c == '.' && fraction && !point) {
      point = true;
    } else if (c < '0' || c > '9') {
      return false;
    }
  }
  *value = std::stod(text);
  return true;
}

// NAME@N, NAME@N+K, NAME%P, NAME%P:SEED.
bool ParseSchedule(const std::string& form, std::string* name, FaultSchedule* schedule,
                   std::string* error) {
  const size_t mark = form.find_first_of("@%");
  *name = form.substr(0, mark);
  const std::string rest = form.substr(mark + 1);
  double first = 0, count = 0, percent = 0, seed = 1;
  bool good = false;
  if (form[mark] == '@') {
    const size_t plus = rest.find('+');
    good = ParseNumber(rest.substr(0, plus), false, &first) && first >= 1 &&
           (plus == std::string::npos ||
            (ParseNumber(rest.substr(plus + 1), false, &count) && count >= 1));
  } else {
    const size_t colon = rest.find(':');
    good = ParseNumber(rest.substr(0, colon), true, &percent) && percent > 0 && percent <= 100 &&
           (colon == std::string::npos || ParseNumber(rest.substr(colon + 1), false, &seed));
  }
  if (!good) {
    *error = "bad fault schedule '" + form +
             "' (NAME@N, NAME@N+K with N, K from 1, NAME%P or NAME%P:SEED with 0 < P <= 100)";
    return false;
  }
  if (form[mark] == '@') {
    schedule->first = static_cast<uint64_t>(first);
    schedule->count = static_cast<uint64_t>(count);
  } else {
    schedule->first = 1;
    schedule->probability = percent / 100;
    schedule->seed = static_cast<uint64_t>(seed);
  }
  return true;
}

// The next number of a random sequence (splitmix64), and a draw from it.
uint64_t NextRandom(uint64_t* state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

bool Strikes(const FaultSchedule& schedule, uint64_t transaction, uint64_t* draws, bool draw) {
  if (transaction < schedule.first) return false;
  if (schedule.count != 0 && transaction - schedule.first >= schedule.count) return false;
  if (schedule.probability >= 1) return true;
  if (!draw) return false;
  return static_cast<double>(NextRandom(draws) >> 11) * 0x1.0p-53 < schedule.probability;
}

}  // namespace

bool SimulatedBoard::InjectFault(const std::string& form, std::string* error) {
  if (form.find_first_of("@%") == std::string::npos) {
    if (!KnownFault(form, error)) return false;
    if (scheduled_.empty()) return ApplyFault(form, error);
    return ScheduleFault(form, FaultSchedule{transactions_ + 1, 0, 1.0, 1}, error);
  }
  std::string name;
  FaultSchedule schedule;
  return ParseSchedule(form, &name, &schedule, error) && ScheduleFault(name, schedule, error);
}

bool SimulatedBoard::ScheduleFault(const std::string& name, const FaultSchedule& schedule,
                                   std::string* error) {
  if (!KnownFault(name, error)) return false;
  if (name == "controller-absent" || name == "done-late") {
    *error = "fault '" + name + "' changes the board for good and cannot be scheduled";
    return false;
  }
  if (scheduled_.empty()) {
    baseline_ = SaveModelFaults();
    baselineNak_ = nak_;
    baselineWriteProtect_ = writeProtect_;
  }
  // Tried once on the models, so that one that does not apply is refused here.
  if (!ApplyFault(name, error)) {
    if (scheduled_.empty()) RestoreBaseline();
    SwitchFaults(false);
    return false;
  }
  scheduled_.push_back({name, schedule, schedule.seed});
  SwitchFaults(false);
  return true;
}

void SimulatedBoard::ClearScheduledFaults() {
  if (scheduled_.empty()) return;
  scheduled_.clear();
  RestoreBaseline();
}

void SimulatedBoard::RestoreBaseline() {
  RestoreModelFaults(baseline_);
  if (nak_ && !baselineNak_) AttachToBus();
  nak_ = baselineNak_;
  writeProtect_ = baselineWriteProtect_;
  for (SpdEeprom& module : modules_)
    module.SetWriteProtected(writeProtect_);
  ddr4_.SetWriteProtected(writeProtect_);
  ddr5_.SetWriteProtected(writeProtect_);
}

void SimulatedBoard::TransactionStarts() {
  ++transactions_;
  if (!scheduled_.empty()) SwitchFaults(true);
}

// Sets the faults in force from the next transaction on (the one that
// starts now when `draw`); random ones are drawn only at a start.
void SimulatedBoard::SwitchFaults(bool draw) {
  if (scheduled_.empty()) return;
  const uint64_t transaction = draw ? transactions_ : transactions_ + 1;
  std::vector<ScheduledFault> scheduled;
  scheduled.swap(scheduled_);
  RestoreBaseline();
  std::string ignored;
  for (ScheduledFault& fault : scheduled) {
    if (Strikes(fault.schedule, transaction, &fault.draws, draw)) ApplyFault(fault.name, &ignored);
  }
  scheduled_.swap(scheduled);
}

bool SimulatedBoard::ApplyFault(const std::string& name, std::string* error) {
  if (name == "nak") {
    for (unsigned a = 0; a < 0x80; ++a)
      bus_.Detach(SlaveAddress(static_cast<uint8_t>(a)));
    nak_ = true;
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
    ddr4_.SetWriteProtected(true);
    ddr5_.SetWriteProtected(true);
    writeProtect_ = true;
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
  static const char* const kByteDoneFaults[] = {
      "in-use-stuck",   "in-use-held",   "busy-stuck",     "never-starts",
      "never-finishes", "device-error",  "collision",      "failed",
      "alert",          "block-count-0", "block-count-33", "byte-done-never"};
  if (std::find(std::begin(kByteDoneFaults), std::end(kByteDoneFaults), name) ==
      std::end(kByteDoneFaults)) {
    *error = "fault '" + name + "' does not apply to the byte-done host (Chipset 2 and 3)";
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
  if (EcStatusOf(name) >= 0) {
    faults.status = EcStatusOf(name);
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
