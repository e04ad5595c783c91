#include "support/driver_harness.h"

#include <algorithm>

#include "requests.h"

namespace omzi2c::testing {

DriverHarness::DriverHarness(bool portService, bool smbService, int32_t chipset, uint16_t smbBase) {
  Controller = ControllerState{};
  Controller.ISAPortDriverEnable = portService ? 1 : 0;
  Controller.I2CDriverEnable = smbService ? 1 : 0;
  Controller.Chipset = chipset;
  Controller.SmbBase = smbBase;
  ntemu::InitializeSynchronizationEvent(event_, true);
  driver_.DeviceObject = &device_;
  driver_.MajorFunction[IRP_MJ_CREATE] = DispatchRequest;
  driver_.MajorFunction[IRP_MJ_CLOSE] = DispatchRequest;
  driver_.MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchRequest;
  device_.DeviceType = kDeviceType;
  device_.DriverObject = &driver_;
  device_.DeviceExtension = &extension_;
  extension_.DeviceType = kDeviceType;
  extension_.Device = &device_;
  extension_.BusEvent = smbService ? &event_ : nullptr;
}

DriverHarness::~DriverHarness() {
  Controller = ControllerState{};
}

Reply DriverHarness::Ioctl(uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength,
                           uint8_t outputFill) {
  Reply reply;
  reply.bytes.assign(outputLength, outputFill);
  reply.io = ntemu::DeviceIoControl(&device_, code, input.data(), static_cast<ULONG>(input.size()),
                                    reply.bytes.data(), outputLength);
  return reply;
}

ntemu::IoResult DriverHarness::Send(uint8_t majorFunction) {
  return ntemu::SendRequest(&device_, majorFunction);
}

ntemu::IoResult DriverHarness::SendTo(uint8_t majorFunction) {
  driver_.MajorFunction[majorFunction] = DispatchRequest;
  return ntemu::SendRequest(&device_, majorFunction);
}

uint64_t DriverHarness::EventWaits() {
  return event_.waits.load();
}

uint64_t DriverHarness::EventSets() {
  return event_.sets.load();
}

std::vector<uint8_t> SmbRecord(uint8_t address, uint8_t command, uint8_t count,
                               std::initializer_list<uint8_t> data, size_t length) {
  std::vector<uint8_t> record(std::max<size_t>(length, 8 + data.size()), 0);
  record[kSmbAddressOffset] = address;
  record[kSmbCommandOffset] = command;
  record[kSmbCountOffset] = count;
  std::copy(data.begin(), data.end(), record.begin() + kSmbDataOffset);
  record.resize(length);
  return record;
}

std::vector<uint8_t> PortRecord(uint32_t width, uint32_t port, uint32_t value) {
  std::vector<uint8_t> record(kPortRequestLength);
  for (int i = 0; i < 4; ++i) {
    record[kPortWidthOffset + i] = static_cast<uint8_t>(width >> (8 * i));
    record[kPortNumberOffset + i] = static_cast<uint8_t>(port >> (8 * i));
    record[kPortValueOffset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  return record;
}

}  // namespace omzi2c::testing
