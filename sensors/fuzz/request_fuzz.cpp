// Fuzz target: any request, with any lengths and bytes, against the driver
// started on the simulated board in a configuration the input picks.
//
// Input: a configuration, then up to kMaxRequests requests.
//   [0] Chipset (0..11)   [1] services (both, SMBus only, port only)
//   [2] [3] board faults (0: none, else one of the board's faults; the form
//   ec-status-XX takes XX from one more byte, right after its own)
//   each request: [code selector] ([4-byte code] when the selector asks for
//   any code) [2-byte input length] [2-byte output length] [input bytes]
// Lengths run from 0 to 300, each on its own. The system buffer is exactly
// max(input, output) bytes, so a read or write past it is caught by the
// address sanitizer.
//
// After every request the target checks what must hold whatever came in:
// the request completed and its transferred length fits the output buffer,
// the bus event is free, no data byte sent on the bus came from past the
// input (the bytes past it are the I/O manager's fill, which the input never
// contains), and the request's virtual time is bounded.
//
// An input stops issuing requests once it has used kPortAccessBudget port
// accesses. A request that times out polls the board thousands of times, and
// the composed operations retry each byte; without a budget a few inputs of
// stuck-host faults and 255-byte reads would take most of a long run's time.
// The request that crosses the budget still runs to its end and is checked.
#include <omzi2c/omzi2c.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "board/chipset_hosts.h"
#include "board/simulated_board.h"
#include "driver_entry.h"
#include "ntemu/clock.h"
#include "ntemu/driver_loader.h"
#include "ntemu/event.h"
#include "ntemu/io_manager.h"
#include "ntemu/objects.h"
#include "ntemu/port_space.h"
#include "ntemu/registry.h"

namespace {

using namespace omzi2c;

constexpr size_t kMaxRequests = 24;
constexpr uint32_t kMaxLength = 300;
constexpr uint8_t kAnyCode = 11;  // selector (mod 12) that reads a whole code
// The longest a request may take: every byte of the longest composed
// operation retried on the slowest host, with room to spare.
constexpr uint64_t kMaxVirtualTime100ns = 1000ull * 10000000;  // 1000 s
constexpr uint64_t kPortAccessBudget = 1000000;

const uint32_t kCodes[] = {kIoctlPortRead,        kIoctlPortWrite,        kIoctlReceiveBytes,
                           kIoctlReadWithCommand, kIoctlWriteWithCommand, kIoctlSendBytes,
                           kIoctlUnsupported,     kIoctlBlockRead,        kIoctlBlockWrite,
                           kIoctlExchangeMessage, kIoctlWriteMessage};

const char kParameters[] =
    "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\omzi2c\\Parameters";

// The board's port space, counting the accesses made through it.
class CountingPorts : public ntemu::PortSpace {
 public:
  explicit CountingPorts(ntemu::PortSpace& board) : board_(board) {}
  uint32_t Read(uint32_t port, ntemu::Width width) override {
    ++accesses_;
    return board_.Read(port, width);
  }
  void Write(uint32_t port, ntemu::Width width, uint32_t value) override {
    ++accesses_;
    board_.Write(port, width, value);
  }
  uint64_t Accesses() const { return accesses_; }

 private:
  ntemu::PortSpace& board_;
  uint64_t accesses_ = 0;
};

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t Bytes(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
      value |= static_cast<uint32_t>(Byte()) << (8 * i);
    return value;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

[[noreturn]] void Broken(const char* what, uint32_t code, uint32_t in, uint32_t out) {
  std::fprintf(stderr, "invariant broken: %s (code 0x%08x, input %u, output %u)\n", what, code, in,
               out);
  std::abort();
}

ntemu::RegistryValue Dword(uint32_t value) {
  return {REG_DWORD,
          {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
           static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)}};
}

board::BoardConfig BoardFor(int chipset) {
  board::BoardConfig config;
  config.chipset = chipset;
  if (chipset >= 1 && chipset <= 10) config.function = board::LayoutForChipset(chipset).function;
  return config;
}

std::vector<ntemu::RegFileKey> ParametersFor(const board::BoardConfig& config, uint8_t services) {
  const bool port = services != 1;
  const bool smb = services != 2;
  return {{kParameters,
           {{"ISAPortDriverEnable", Dword(port)},
            {"I2CDriverEnable", Dword(smb)},
            {"Chipset", Dword(static_cast<uint32_t>(config.chipset))},
            {"VID", Dword(config.vendorId)},
            {"DID", Dword(config.deviceId)},
            {"Func", Dword(config.function)}}}};
}

void InjectFault(board::SimulatedBoard& board, Input& input) {
  const uint8_t selector = input.Byte();
  const auto& faults = board::SimulatedBoard::Faults();
  if (selector == 0 || faults.empty()) return;
  std::string name = faults[(selector - 1u) % faults.size()].name;
  if (name.size() > 2 && name.compare(name.size() - 2, 2, "XX") == 0) {
    char digits[3];
    std::snprintf(digits, sizeof(digits), "%02x", input.Byte());
    name.replace(name.size() - 2, 2, digits);
  }
  std::string error;
  board.InjectFault(name, &error);
}

void RunRequest(Input& input, PDEVICE_OBJECT device, board::SimulatedBoard& board,
                ntemu::VirtualClock& clock, PKEVENT busEvent) {
  const uint8_t selector = input.Byte() % 12;
  const uint32_t code = selector == kAnyCode ? input.Bytes(4) : kCodes[selector];
  const uint32_t in = input.Bytes(2) % (kMaxLength + 1);
  const uint32_t out = input.Bytes(2) % (kMaxLength + 1);
  std::vector<uint8_t> bytes(in);
  for (uint8_t& byte : bytes) {
    byte = input.Byte();
    if (byte == ntemu::kSystemBufferPoison) byte ^= 1;  // only the fill past the input has it
  }
  std::vector<uint8_t> output(out);

  board.Bus().ClearLog();
  const uint64_t start = clock.Now();
  const ntemu::IoResult io =
      ntemu::DeviceIoControl(device, code, bytes.data(), in, output.data(), out);
  if (!io.completed || io.driverFault) Broken("request not completed as returned", code, in, out);
  if (io.information > out) Broken("transferred length beyond the output buffer", code, in, out);
  if (busEvent != nullptr && !ntemu::IsSignalled(*busEvent)) {
    Broken("bus event left held", code, in, out);
  }
  for (uint8_t sent : board.Bus().SentData()) {
    if (sent == ntemu::kSystemBufferPoison)
      Broken("sent a byte from past the input", code, in, out);
  }
  if (clock.Now() - start > kMaxVirtualTime100ns) Broken("request took too long", code, in, out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input input(data, size);
  const int chipset = input.Byte() % 12;
  const uint8_t services = input.Byte() % 3;
  const board::BoardConfig config = BoardFor(chipset);

  ntemu::ResetObjects();
  ntemu::RegistryClear();
  ntemu::VirtualClock clock(false);
  ntemu::InstallClock(&clock);
  {
    board::SimulatedBoard board(config);
    InjectFault(board, input);
    InjectFault(board, input);
    CountingPorts counting(board.Ports());
    ntemu::ScopedPortSpace ports(&counting);
    ntemu::LoadedDriver driver(DriverEntry, ParametersFor(config, services));
    if (driver.Loaded()) {
      PKEVENT busEvent = ntemu::FindEvent("\\QRAI2CDriverEvent");
      for (size_t i = 0; i < kMaxRequests && !input.Empty(); ++i) {
        if (counting.Accesses() >= kPortAccessBudget) break;
        RunRequest(input, driver.Device(), board, clock, busEvent);
      }
    }
  }
  ntemu::InstallClock(nullptr);
  return 0;
}
