// A HAL for running omzi2c.sys in a Windows-compatible user-space kernel host
// (the Wine test): the port routines land on the project's simulated board,
// and busy-waits are counted instead of spent.
//
// The board is built on first use, from the driver's own service parameters
// (HKLM\SYSTEM\CurrentControlSet\Services\omzi2c\Parameters), exactly as the
// Linux tool builds it from the same values: Chipset, VID, DID and Func (low
// three bits) place the controller. The file omzi2c-board.txt beside this DLL,
// when present, adjusts it for a test with words separated by spaces, commas
// or line breaks:
//   fault=NAME      inject a named fault of the simulated board (repeatable)
//   chipset=N, vid=N, did=N, func=N
//                   place the controller differently from the parameters
//                   (for example another device ID: the controller is absent)
//   log=PATH        a file that receives one line when the board is built and
//                   one with the access and pause counts when the process ends
// (A file rather than the environment: the service manager gives driver
// hosts an environment of its own.)
//
// On x86 the driver calls the port routines below. On x64 its port routines
// are inline instructions, which a handler installed at load carries out on
// the same board (port_trap.cpp).
//
// The 32-bit kernel host itself imports two spin-lock routines from the HAL;
// they are passed on to the kernel's own DPC-level spin-lock routines. The
// 64-bit host imports nothing from it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "board/simulated_board.h"
#include "board_ports.h"

namespace {

struct Counters {
  unsigned long long portReads = 0;
  unsigned long long portWrites = 0;
  unsigned long long stalls = 0;
  unsigned long long stallMicroseconds = 0;
};

CRITICAL_SECTION lock;
std::unique_ptr<board::SimulatedBoard> simulated;
ntemu::PortSpace* ports = nullptr;  // the board's, or the open bus when it cannot be built
ntemu::OpenBusPortSpace openBus;
Counters counters;
std::string logPath;
std::string boardProblem;

HMODULE self = nullptr;

// The adjustment file's text, empty when there is none.
std::string ReadAdjustments() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(self, path, sizeof path);
  if (length == 0 || length >= sizeof path) return std::string();
  std::string name(path, length);
  name = name.substr(0, name.find_last_of("\\/") + 1) + "omzi2c-board.txt";
  std::string text;
  FILE* file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) return text;
  char buffer[512];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) != 0)
    text.append(buffer, got);
  std::fclose(file);
  return text;
}

void Log(const std::string& line) {
  if (logPath.empty()) return;
  FILE* file = std::fopen(logPath.c_str(), "a");
  if (file == nullptr) return;
  std::fprintf(file, "%s\n", line.c_str());
  std::fclose(file);
}

bool ParseNumber(const std::string& text, long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtol(text.c_str(), &end, 0);
  return end != nullptr && *end == '\0';
}

// The service parameters the driver reads, with the driver's defaults.
board::BoardConfig ConfigFromParameters() {
  DWORD chipset = 11, vid = 0, did = 0, func = 0xFFFF;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\omzi2c\\Parameters",
                    0, KEY_READ, &key) == ERROR_SUCCESS) {
    const struct {
      const char* name;
      DWORD* value;
    } values[] = {{"Chipset", &chipset}, {"VID", &vid}, {"DID", &did}, {"Func", &func}};
    for (const auto& v : values) {
      DWORD data = 0, size = sizeof data, type = 0;
      if (RegQueryValueExA(key, v.name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) ==
              ERROR_SUCCESS &&
          type == REG_DWORD && size == sizeof data) {
        *v.value = data;
      }
    }
    RegCloseKey(key);
  }
  board::BoardConfig config;
  config.chipset = static_cast<int32_t>(chipset);
  config.vendorId = static_cast<uint16_t>(vid);
  config.deviceId = static_cast<uint16_t>(did);
  config.function = static_cast<uint8_t>(func & 0x07);
  return config;
}

// Applies the adjustment words to `config`, collects the faults and the log.
bool ApplyAdjustments(const std::string& text, board::BoardConfig* config,
                      std::vector<std::string>* faults, std::string* problem) {
  const char* const separators = ", \t\r\n";
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(separators, start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    start = end + 1;
    if (word.empty()) continue;
    const size_t equals = word.find('=');
    const std::string name = word.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
    long number = 0;
    if (name == "fault" && !value.empty()) {
      faults->push_back(value);
    } else if (name == "log" && !value.empty()) {
      logPath = value;
    } else if (name == "chipset" && ParseNumber(value, &number)) {
      config->chipset = static_cast<int>(number);
    } else if (name == "vid" && ParseNumber(value, &number)) {
      config->vendorId = static_cast<uint16_t>(number);
    } else if (name == "did" && ParseNumber(value, &number)) {
      config->deviceId = static_cast<uint16_t>(number);
    } else if (name == "func" && ParseNumber(value, &number)) {
      config->function = static_cast<uint8_t>(number & 0x07);
    } else {
      *problem = "omzi2c-board.txt: cannot use '" + word + "'";
      return false;
    }
  }
  return true;
}

void BuildBoard() {
  board::BoardConfig config = ConfigFromParameters();
  std::vector<std::string> faults;
  std::string problem;
  if (ApplyAdjustments(ReadAdjustments(), &config, &faults, &problem)) {
    try {
      simulated = std::make_unique<board::SimulatedBoard>(config);
      for (const std::string& fault : faults) {
        if (!simulated->InjectFault(fault, &problem)) break;
      }
    } catch (const std::exception& e) {
      problem = e.what();
    }
  }
  char line[256];
  std::snprintf(line, sizeof line, "board: Chipset %d, PCI %04x:%04x function %u, faults %u",
                config.chipset, config.vendorId, config.deviceId, config.function,
                static_cast<unsigned>(faults.size()));
  Log(line);
  if (!problem.empty()) {
    // A board that cannot be built as asked answers nothing: every test
    // against it fails visibly.
    simulated.reset();
    boardProblem = problem;
    Log("board problem: " + problem);
  }
  ports = simulated ? static_cast<ntemu::PortSpace*>(&simulated->Ports()) : &openBus;
}

ntemu::PortSpace& Ports() {
  if (ports == nullptr) BuildBoard();
  return *ports;
}

#if defined(__i386__)
// The kernel's DPC-level spin-lock routines, looked up when first needed.
typedef void(WINAPI* SpinLockRoutine)(ULONG_PTR*);
SpinLockRoutine KernelRoutine(const char* name) {
  HMODULE kernel = GetModuleHandleA("ntoskrnl.exe");
  return kernel == nullptr ? nullptr
                           : reinterpret_cast<SpinLockRoutine>(
                                 reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}
#endif

}  // namespace

uint32_t testhal::BoardPortRead(uint32_t port, ntemu::Width width) {
  EnterCriticalSection(&lock);
  const uint32_t value = Ports().Read(port, width);
  ++counters.portReads;
  LeaveCriticalSection(&lock);
  return value;
}

void testhal::BoardPortWrite(uint32_t port, ntemu::Width width, uint32_t value) {
  EnterCriticalSection(&lock);
  Ports().Write(port, width, value);
  ++counters.portWrites;
  LeaveCriticalSection(&lock);
}

namespace {
uint32_t PortRead(const void* port, ntemu::Width width) {
  return testhal::BoardPortRead(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(port)), width);
}
void PortWrite(const void* port, ntemu::Width width, uint32_t value) {
  testhal::BoardPortWrite(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(port)), width, value);
}
}  // namespace

// This HAL reaches the board's ports through the space it holds at every
// access: there are no routines to choose when a space is installed.
void ntemu::ChoosePortRoutines() {}

extern "C" {

__declspec(dllexport) UCHAR WINAPI READ_PORT_UCHAR(PUCHAR Port) {
  return static_cast<UCHAR>(PortRead(Port, ntemu::Width::Byte));
}
__declspec(dllexport) USHORT WINAPI READ_PORT_USHORT(PUSHORT Port) {
  return static_cast<USHORT>(PortRead(Port, ntemu::Width::Word));
}
__declspec(dllexport) ULONG WINAPI READ_PORT_ULONG(PULONG Port) {
  return PortRead(Port, ntemu::Width::Dword);
}
__declspec(dllexport) void WINAPI WRITE_PORT_UCHAR(PUCHAR Port, UCHAR Value) {
  PortWrite(Port, ntemu::Width::Byte, Value);
}
__declspec(dllexport) void WINAPI WRITE_PORT_USHORT(PUSHORT Port, USHORT Value) {
  PortWrite(Port, ntemu::Width::Word, Value);
}
__declspec(dllexport) void WINAPI WRITE_PORT_ULONG(PULONG Port, ULONG Value) {
  PortWrite(Port, ntemu::Width::Dword, Value);
}

// Busy-waits take no time on the simulated board: counted, not spent.
__declspec(dllexport) void WINAPI KeStallExecutionProcessor(ULONG MicroSeconds) {
  EnterCriticalSection(&lock);
  ++counters.stalls;
  counters.stallMicroseconds += MicroSeconds;
  LeaveCriticalSection(&lock);
}

#if defined(__i386__)
// Imported by the 32-bit kernel host itself. IRQL is not modelled: the old level
// reported is always passive (0).
__declspec(dllexport) void WINAPI KeAcquireSpinLock(ULONG_PTR* SpinLock, UCHAR* OldIrql) {
  static const SpinLockRoutine acquire = KernelRoutine("KeAcquireSpinLockAtDpcLevel");
  if (acquire != nullptr) {
    acquire(SpinLock);
  } else {
    while (InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(SpinLock), 1, 0) != 0)
      YieldProcessor();
  }
  *OldIrql = 0;
}
__declspec(dllexport) void WINAPI KeReleaseSpinLock(ULONG_PTR* SpinLock, UCHAR) {
  static const SpinLockRoutine release = KernelRoutine("KeReleaseSpinLockFromDpcLevel");
  if (release != nullptr) {
    release(SpinLock);
  } else {
    InterlockedExchange(reinterpret_cast<volatile LONG*>(SpinLock), 0);
  }
}
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    self = instance;
    InitializeCriticalSection(&lock);
#if defined(__x86_64__)
    testhal::InstallPortInstructionTrap();
#endif
  } else if (reason == DLL_PROCESS_DETACH && ports != nullptr) {
    char line[256];
    std::snprintf(
        line, sizeof line, "counts: %llu port reads, %llu port writes, %llu stalls (%llu us)",
        counters.portReads, counters.portWrites, counters.stalls, counters.stallMicroseconds);
    Log(line);
  }
  return TRUE;
}

}  // extern "C"
