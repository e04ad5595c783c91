#include "board/pci_config_space.h"

#include <stdexcept>

namespace board {

namespace {

constexpr uint32_t kEnableBit = 0x80000000u;
constexpr uint32_t kPortsClaimed = 8;  // 0xCF8..0xCFF

uint32_t AddressOf(const PciLocation& at) {
  return static_cast<uint32_t>(at.bus.value) << 16 |
         static_cast<uint32_t>(at.device.value & 0x1F) << 11 |
         static_cast<uint32_t>(at.function.value & 0x07) << 8;
}

}  // namespace

bool operator<(const PciLocation& a, const PciLocation& b) {
  return AddressOf(a) < AddressOf(b);
}

PciFunction::PciFunction(uint16_t vendorId, uint16_t deviceId) {
  dwords_[0] = static_cast<uint32_t>(deviceId) << 16 | vendorId;
  // Command register: I/O, memory, bus master and interrupt disable are
  // software's; the status half is left read-only.
  writable_[kCommandOffset / 4] = 0x00000407;
}

void PciFunction::Write(uint32_t index, uint32_t value) {
  index %= kDwords;
  ++writes_;
  dwords_[index] = (dwords_[index] & ~writable_[index]) | (value & writable_[index]);
  OnConfigChanged();
}

void PciFunction::Preset(uint32_t offset, uint32_t value, uint32_t writable) {
  const uint32_t index = (offset / 4) % kDwords;
  if (index == 0) throw std::invalid_argument("the identification dword is fixed");
  dwords_[index] = value;
  writable_[index] = writable;
  OnConfigChanged();
}

PciConfigSpace::PciConfigSpace(PortMap& ports) : ports_(ports) {
  ports_.Map(kAddressPort, kPortsClaimed, this);
}

PciConfigSpace::~PciConfigSpace() {
  ports_.Unmap(this);
}

void PciConfigSpace::Place(PciLocation at, PciFunction* function) {
  functions_[at] = function;
}

void PciConfigSpace::Remove(PciLocation at) {
  functions_.erase(at);
}

PciFunction* PciConfigSpace::Selected() const {
  if ((address_ & kEnableBit) == 0) return nullptr;
  const PciLocation at{PciBus{static_cast<uint8_t>(address_ >> 16)},
                       PciDevice{static_cast<uint8_t>((address_ >> 11) & 0x1F)},
                       PciFunctionNumber{static_cast<uint8_t>((address_ >> 8) & 0x07)}};
  const auto found = functions_.find(at);
  return found != functions_.end() ? found->second : nullptr;
}

uint32_t PciConfigSpace::SelectedIndex() const {
  return (address_ >> 2) & 0x3F;
}

uint32_t PciConfigSpace::Read(uint32_t port, Width width) {
  if (width != Width::Dword) return ntemu::OpenBus(width);
  if (port == kAddressPort) return address_;
  if (port != kDataPort) return ntemu::OpenBus(width);
  const PciFunction* function = Selected();
  return function != nullptr ? function->Read(SelectedIndex()) : kAbsent;
}

void PciConfigSpace::Write(uint32_t port, Width width, uint32_t value) {
  if (width != Width::Dword) return;
  if (port == kAddressPort) {
    address_ = value;
    return;
  }
  if (port != kDataPort) return;
  if (PciFunction* function = Selected()) function->Write(SelectedIndex(), value);
}

GatedHostFunction::GatedHostFunction(uint16_t vendorId, uint16_t deviceId, PortMap& ports,
                                     PortHandler* host, IoWindow window,
                                     std::initializer_list<EnableBit> enables)
    : PciFunction(vendorId, deviceId), ports_(ports), host_(host), window_(window) {
  if (enables.size() > kMaxEnables) throw std::invalid_argument("too many enable bits");
  for (const EnableBit& bit : enables)
    enables_[enableCount_++] = bit;
}

GatedHostFunction::~GatedHostFunction() {
  if (mapped_) ports_.Unmap(host_);
}

bool GatedHostFunction::Enabled() const {
  for (size_t i = 0; i < enableCount_; ++i) {
    if ((Config(enables_[i].offset) & enables_[i].mask) != enables_[i].mask) return false;
  }
  return true;
}

void GatedHostFunction::OnConfigChanged() {
  const uint32_t base = (Config(window_.baseOffset) >> window_.baseShift) & window_.baseMask;
  const bool decode = Enabled() && base != 0;
  if (mapped_ && (!decode || base != mappedBase_)) {
    ports_.Unmap(host_);
    mapped_ = false;
    mappedBase_ = 0;
  }
  if (decode && !mapped_) {
    ports_.Map(base, window_.span, host_);
    mapped_ = true;
    mappedBase_ = base;
  }
}

}  // namespace board
