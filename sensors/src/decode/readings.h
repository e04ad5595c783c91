// What a decoded chip reports: readings with their units and limits, grouped
// by the chip they came from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace omzi2c::decode {

enum class Unit { kCelsius, kVolt, kRpm };

// The unit's name as the output shows it ("C", "V", "RPM") and as JSON
// names it ("celsius", "volt", "rpm").
const char* UnitSymbol(Unit unit);
const char* UnitName(Unit unit);

struct Reading {
  std::string label;
  Unit unit = Unit::kCelsius;
  std::optional<double> value;  // none: a stopped fan
  std::optional<double> low, high, critical;
  std::optional<double> lowCritical;
  std::vector<std::string> alarms;  // "low", "high", "critical", "low critical"
};

// An ID register's value, as the chip was identified by it.
struct ChipId {
  std::string name;  // "manufacturer", "device", "vendor"
  unsigned value;
  int hexDigits;
};

struct ChipReport {
  uint8_t address = 0;
  std::string family;  // short name, as "jc42"
  std::string name;    // what the ID registers say it is
  std::vector<ChipId> ids;
  std::vector<Reading> readings;
};

}  // namespace omzi2c::decode
