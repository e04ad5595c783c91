// PCI configuration space of the simulated board, reached through
// configuration mechanism #1: a dword written to 0xCF8 selects bus, device,
// function and dword index (bit 31 enables), and 0xCFC moves the selected
// dword. Only 32-bit accesses are decoded; a function that is not there reads
// all ones, as on a real bus.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <tuple>

#include "board/port_map.h"

namespace board {

// Distinct types, so that swapped arguments do not compile.
struct PciBus {
  uint8_t value;
};
struct PciDevice {
  uint8_t value;
};
struct PciFunctionNumber {
  uint8_t value;
};

struct PciLocation {
  PciBus bus;
  PciDevice device;
  PciFunctionNumber function;
};
bool operator<(const PciLocation& a, const PciLocation& b);

// One function's 256 bytes of configuration space as 64 dwords. Software
// writes change only the bits marked writable; the identification dword is
// read-only.
class PciFunction {
 public:
  static constexpr uint32_t kDwords = 64;
  static constexpr uint32_t kCommandOffset = 0x04;
  static constexpr uint32_t kIoSpaceEnable = 0x01;

  PciFunction(uint16_t vendorId, uint16_t deviceId);
  virtual ~PciFunction() = default;
  PciFunction(const PciFunction&) = delete;
  PciFunction& operator=(const PciFunction&) = delete;

  // The bus side: dword index 0..63.
  uint32_t Read(uint32_t index) const { return dwords_[index % kDwords]; }
  void Write(uint32_t index, uint32_t value);

  // Board set-up and inspection, by byte offset.
  void Preset(uint32_t offset, uint32_t value, uint32_t writable);
  uint32_t Config(uint32_t offset) const { return dwords_[(offset / 4) % kDwords]; }
  size_t SoftwareWrites() const { return writes_; }

 protected:
  // Called after every change, from software or set-up.
  virtual void OnConfigChanged() {}

 private:
  std::array<uint32_t, kDwords> dwords_{};
  std::array<uint32_t, kDwords> writable_{};
  size_t writes_ = 0;
};

class PciConfigSpace : public PortHandler {
 public:
  static constexpr uint32_t kAddressPort = 0xCF8;
  static constexpr uint32_t kDataPort = 0xCFC;
  static constexpr uint32_t kAbsent = 0xFFFFFFFFu;

  // Claims 0xCF8..0xCFF of the board's I/O space for its lifetime.
  explicit PciConfigSpace(PortMap& ports);
  ~PciConfigSpace() override;

  // The function stays owned by the caller and must outlive the placement.
  void Place(PciLocation at, PciFunction* function);
  void Remove(PciLocation at);

  uint32_t Address() const { return address_; }

  uint32_t Read(uint32_t port, Width width) override;
  void Write(uint32_t port, Width width, uint32_t value) override;

 private:
  PciFunction* Selected() const;
  uint32_t SelectedIndex() const;

  PortMap& ports_;
  uint32_t address_ = 0;
  std::map<PciLocation, PciFunction*> functions_;
};

// A function that owns an I/O window: while every enable bit is set and its
// base register holds a non-zero base, the host's register handler is mapped
// at that base; otherwise nothing answers there. Any controller model plugs
// in as the handler.
struct EnableBit {
  uint32_t offset;  // configuration dword, by byte offset
  uint32_t mask;
};

struct IoWindow {
  uint32_t baseOffset;  // configuration dword holding the base
  uint32_t baseShift;   // 16 when the base sits in the upper half
  uint32_t baseMask;    // base bits after the shift
  uint32_t span;        // ports decoded from the base on
};

class GatedHostFunction : public PciFunction {
 public:
  static constexpr size_t kMaxEnables = 3;

  GatedHostFunction(uint16_t vendorId, uint16_t deviceId, PortMap& ports, PortHandler* host,
                    IoWindow window, std::initializer_list<EnableBit> enables);
  ~GatedHostFunction() override;

  bool Decoding() const { return mapped_; }
  uint32_t DecodedBase() const { return mappedBase_; }

 protected:
  void OnConfigChanged() override;

 private:
  bool Enabled() const;

  PortMap& ports_;
  PortHandler* host_;
  IoWindow window_;
  std::array<EnableBit, kMaxEnables> enables_{};
  size_t enableCount_ = 0;
  bool mapped_ = false;
  uint32_t mappedBase_ = 0;
};

}  // namespace board
