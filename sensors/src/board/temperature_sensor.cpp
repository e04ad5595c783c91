#include "board/temperature_sensor.h"

namespace board {

using namespace temperature;

namespace {

constexpr uint16_t kSignBit = 0x1000;

// A 13-bit two's complement register field as a signed number.
int Signed13(uint16_t value) {
  const int field = value & kTemperatureBits;
  return (field & kSignBit) ? field - (kTemperatureBits + 1) : field;
}

}  // namespace

TemperatureSensor::TemperatureSensor() : WordRegisterDevice(kRegisters, WireOrder::kHighFirst) {
  for (uint8_t r : {kCapabilities, kAmbient, kVendor, kDevice})
    SetReadOnly(r, true);
}

void TemperatureSensor::SetSixteenths(int sixteenths) {
  SetRegister(kAmbient, static_cast<uint16_t>(sixteenths) & kTemperatureBits);
  UpdateFlags();
}

bool TemperatureSensor::WriteWord(uint8_t command, const uint8_t (&wire)[2]) {
  if (!WordRegisterDevice::WriteWord(command, wire)) return false;
  UpdateFlags();
  return true;
}

void TemperatureSensor::UpdateFlags() {
  const uint16_t ambient = Register(kAmbient) & kTemperatureBits;
  const int now = Signed13(ambient);
  uint16_t flags = 0;
  if (now >= Signed13(Register(kCriticalLimit))) flags |= kAboveCritical;
  if (now > Signed13(Register(kHighLimit))) flags |= kAboveHigh;
  if (now < Signed13(Register(kLowLimit))) flags |= kBelowLow;
  SetRegister(kAmbient, static_cast<uint16_t>(ambient | flags));
}

}  // namespace board
