// The SPD hub of DDR5 modules (the SPD5118 kind) at 0x50-0x57: its memory,
// read page by page through MR11, and its temperature sensor.
//
// A write of MR11 to a DDR3 or DDR4 EEPROM would overwrite its byte 11, so
// MR11 is written only to a chip whose MR0:MR1 read 0x51 0x18, after MR11
// was read, never in two-byte addressing mode, and it is put back as it was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decode/bus_reader.h"
#include "decode/readings.h"

namespace omzi2c::decode {

namespace hub {
constexpr uint8_t kDeviceType = 0x00;  // MR0:MR1
constexpr uint8_t kTypeHigh = 0x51, kTypeLow = 0x18;
constexpr uint8_t kRevision = 0x02;  // MR2
constexpr uint8_t kVendor = 0x03;    // MR3:MR4, bank then code
constexpr uint8_t kCapability = 0x05;
constexpr uint8_t kSensorSupported = 0x02;
constexpr uint8_t kCapabilityReserved = 0xFC;
constexpr uint8_t kLegacyMode = 0x0B;  // MR11
constexpr uint8_t kPageMask = 0x07;
constexpr uint8_t kTwoByteAddressing = 0x08;
constexpr uint8_t kSensorConfig = 0x1A;  // MR26
constexpr uint8_t kSensorOff = 0x01;
constexpr uint8_t kLimits = 0x1C;  // high, low, critical, low critical: MR28-MR35
constexpr uint8_t kLimitBytes = 8;
constexpr uint8_t kTemperature = 0x31;  // MR49:MR50
constexpr uint8_t kStatus = 0x33;       // MR51
constexpr uint8_t kAboveHigh = 0x01, kBelowLow = 0x02, kAboveCritical = 0x04,
                  kBelowLowCritical = 0x08;
constexpr uint8_t kMemoryWindow = 0x80;
constexpr unsigned kPages = 8;
constexpr size_t kPageSize = 128;
}  // namespace hub

// Whether the chip's MR0:MR1 read 0x51 0x18, its MR3:MR4 a valid JEP-106
// vendor and MR5's reserved bits 0. Reads only.
bool IsSpdHub(BusReader& bus, uint8_t chip);

// The hub's 1024 bytes, page by page, its page selection put back
// afterwards; empty with a note when it is in two-byte addressing mode or
// stopped answering, or when the bus failed. Call under a sequence hold.
std::optional<std::vector<uint8_t>> ReadHubMemory(BusReader& bus, uint8_t chip,
                                                  std::vector<std::string>* notes);

// The hub's temperature with its four limits and alarms; empty when the chip
// is no hub or has no sensor. Reads only.
std::optional<ChipReport> ReadHubSensor(BusReader& bus, uint8_t chip,
                                        std::vector<std::string>* notes);

// A reading of the sensor's registers: the temperature, the limits from
// MR28 on (8 bytes), MR26 and MR51.
Reading DecodeHubTemperature(const std::vector<uint8_t>& temperature,
                             const std::vector<uint8_t>& limits, uint8_t config, uint8_t status);

}  // namespace omzi2c::decode
