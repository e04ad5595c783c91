#include "tools/decode_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tools/format.h"

namespace omzi2c::tool {

namespace {

using decode::Reading;
using decode::Unit;

constexpr int kFieldWidth = 22;

// lm-sensors' layout: labels padded to the longest (at least 11) plus two,
// limits two to a line in parentheses, continuation lines indented by the
// label width and ten, an ALARM after the first line of limits.
constexpr size_t kShortestLabel = 11;
constexpr int kValueWidth = 10;
constexpr int kAlarmWidth = 7, kAlarmAfterOne = 16, kAlarmWithoutLimits = 32;

struct Limit {
  const char* name;
  double value;
};

std::string Format(const char* format, double value, const char* unit = "") {
  char text[48];
  std::snprintf(text, sizeof text, format, value, unit);
  return text;
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

// The alarms by lm-sensors' names, in its order.
std::string AlarmNames(const Reading& r) {
  const struct {
    const char* ours;
    const char* temperature;
    const char* other;
  } names[] = {{"low critical", "LCRIT", "LCRIT"},
               {"low", "LOW", "MIN"},
               {"high", "HIGH", "MAX"},
               {"critical", "CRIT", "CRIT"}};
  std::string text;
  for (const auto& n : names) {
    for (const std::string& alarm : r.alarms) {
      if (alarm != n.ours) continue;
      text += (text.empty() ? " (" : ", ") +
              std::string(r.unit == Unit::kCelsius ? n.temperature : n.other);
    }
  }
  return text.empty() ? text : text + ")";
}

std::string Alarm(const Reading& r, int leading) {
  if (r.alarms.empty()) return "";
  return std::string(static_cast<size_t>(leading + kAlarmWidth) - 5, ' ') + "ALARM" + AlarmNames(r);
}

std::string Limits(const Reading& r, const std::string& degrees, size_t labelWidth) {
  const bool temperature = r.unit == Unit::kCelsius;
  // Temperatures: low, high, crit low, crit; voltages: crit min, min, max,
  // crit max.
  std::vector<Limit> limits;
  if (r.lowCritical && !temperature) limits.push_back({"crit min", *r.lowCritical});
  if (r.low) limits.push_back({temperature ? "low" : "min", *r.low});
  if (r.high) limits.push_back({temperature ? "high" : "max", *r.high});
  if (r.lowCritical && temperature) limits.push_back({"crit low", *r.lowCritical});
  if (r.critical) limits.push_back({temperature ? "crit" : "crit max", *r.critical});
  if (limits.empty()) return Alarm(r, kAlarmWithoutLimits);
  std::string text;
  bool alarmShown = false;
  for (size_t i = 0; i < limits.size(); ++i) {
    if (i % 2 == 0) text += i ? "\n" + std::string(labelWidth + kValueWidth, ' ') + "(" : "(";
    if (i % 2 == 1) text += ", ";
    text += temperature ? Padded(limits[i].name, 4) +
                              Format(" = %+5.1f%s", limits[i].value, degrees.c_str())
                        : limits[i].name + Format(" = %+6.2f V", limits[i].value);
    if (i % 2 == 1 || i + 1 == limits.size()) {
      text += ")";
      if (!alarmShown) text += Alarm(r, i % 2 == 1 ? 0 : kAlarmAfterOne);
      alarmShown = true;
    }
  }
  return text;
}

std::string ReadingLine(const Reading& r, const std::string& degrees, size_t labelWidth) {
  std::string line = Padded(r.label + ":", labelWidth);
  if (r.unit == Unit::kRpm) {
    // A fan too slow to count reads 0 RPM, as the kernel reports it.
    line += Format("%4.0f RPM", r.value.value_or(0.0));
    if (r.low) line += Format("  (min = %4.0f RPM)", *r.low);
    return line + (r.alarms.empty() ? "" : "  ALARM");
  }
  if (!r.value) {
    line += "     N/A  ";
  } else if (r.unit == Unit::kVolt) {
    line += Format("%+6.2f V  ", *r.value);
  } else {
    line += Format("%+6.1f%s  ", *r.value, degrees.c_str());
  }
  return line + Limits(r, degrees, labelWidth);
}

std::string Field(const std::string& name, const std::string& value) {
  std::string line = "  " + name + ":";
  line.resize(kFieldWidth, ' ');
  return line + value + "\n";
}

std::string Ns(double ns) {
  char text[24];
  std::snprintf(text, sizeof text, "%.3f ns", ns);
  return text;
}

// A time the bytes give; a negative one is invalid, shown with its value.
std::string Time(double ns) {
  return ns >= 0 ? Ns(ns) : "invalid (" + Ns(ns) + ")";
}

std::string SpeedText(const decode::SpdModule& m) {
  return m.speed ? m.speedGrade + " (" + m.pcName + ")" : "invalid";
}

// The memory type's name; the type byte too when it names none.
std::string TypeText(const decode::SpdModule& m) {
  return decode::KnownMemoryType(m.typeCode) ? m.type : m.type + " (" + Hex2(m.typeCode) + ")";
}

std::string DieText(unsigned mbit) {
  constexpr unsigned kMbitPerGbit = 1024;
  return mbit >= kMbitPerGbit ? std::to_string(mbit / kMbitPerGbit) + " Gb"
                              : std::to_string(mbit) + " Mb";
}

std::string Geometry(const decode::SpdModule& m) {
  return decode::CapacityText(m.capacityMb) + " (" + std::to_string(m.ranks) + " rank" +
         (m.ranks == 1 ? "" : "s") + " of x" + std::to_string(m.deviceWidth) + " devices, " +
         DieText(m.dieMbit) + " dies, " + std::to_string(m.busWidth) + "-bit bus" +
         (m.subChannels > 1 ? " in " + std::to_string(m.subChannels) + " sub-channels" : "") +
         (m.eccBits ? " with ECC)" : ")");
}

std::string Latencies(const decode::SpdModule& m) {
  std::string text;
  for (unsigned cl : m.casLatencies)
    text += (text.empty() ? "" : " ") + std::to_string(cl);
  return text;
}

std::string Volts(const decode::SpdModule& m) {
  std::string text;
  for (size_t i = 0; i < m.volts.size(); ++i) {
    char one[16];
    std::snprintf(one, sizeof one, "%.2f V", m.volts[i]);
    text += (text.empty() ? "" : ", ") + std::string(one);
    if (i < m.voltNames.size()) text += " (" + m.voltNames[i] + ")";
  }
  return text;
}

std::string Maker(const std::string& name, unsigned bank, uint8_t code) {
  const std::string ids = "bank " + std::to_string(bank) + ", code " + Hex2(code);
  return name.empty() ? "unknown (" + ids + ")" : name + " (" + ids + ")";
}

std::string CrcText(const decode::SpdCrc& crc) {
  if (crc.Ok()) return "ok (" + Hex4(crc.stored) + ")";
  return "BAD (stored " + Hex4(crc.stored) + ", computed " + Hex4(crc.computed) + ")";
}

std::string TimingsText(const decode::SpdModule& m) {
  std::string text;
  for (const decode::SpdTiming& t : m.timings) {
    const std::string clocks = t.clocks ? " (" + std::to_string(*t.clocks) + " clocks)" : "";
    text += Field(t.name, Time(t.ns) + (t.Valid() ? clocks : ""));
  }
  return text;
}

// Lines only some memory types have.
std::string OptionalFields(const decode::SpdModule& m) {
  std::string text;
  if (!m.dramMaker.empty() || m.dramMakerBank != 0) {
    text += Field("DRAM manufacturer", Maker(m.dramMaker, m.dramMakerBank, m.dramMakerCode));
  }
  if (m.location) text += Field("Manufacturing site", Hex2(*m.location));
  return text;
}

}  // namespace

std::string DegreesText() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    std::string lower(value);
    for (char& c : lower)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool utf8 =
        lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos;
    return utf8 ? "\xC2\xB0"
                  "C"
                : " C";
  }
  return " C";
}

std::string ChipName(const decode::ChipReport& chip) {
  char address[8];
  std::snprintf(address, sizeof address, "%02x", chip.address);
  return chip.family + "-i2c-0-" + address;
}

std::string ChipText(const decode::ChipReport& chip, const std::string& adapter,
                     const std::string& degrees) {
  size_t longest = kShortestLabel;
  for (const Reading& r : chip.readings)
    longest = std::max(longest, r.label.size());
  std::string text = ChipName(chip) + "\nAdapter: " + adapter + "\n";
  for (const Reading& r : chip.readings)
    text += ReadingLine(r, degrees, longest + 2) + "\n";
  return text;
}

std::string ModuleText(const decode::ModuleRead& read) {
  const decode::SpdModule& m = read.module;
  std::string text = "Module at " + Hex2(read.address) + "\n" + Field("Memory type", TypeText(m));
  if (!m.decoded) return text + "  (this memory type is not decoded)\n";
  if (!m.spdRevision.empty()) text += Field("SPD revision", m.spdRevision);
  text += Field("Module type", m.moduleType) + Field("Capacity", Geometry(m)) +
          Field("Speed grade", SpeedText(m)) + Field("tCK", Time(m.tckNs)) +
          (m.tckMaxNs ? Field("tCK max", Time(*m.tckMaxNs)) : "");
  if (!m.timingSummary.empty()) text += Field("tCL-tRCD-tRP-tRAS", m.timingSummary);
  text += Field("CAS latencies", Latencies(m)) + TimingsText(m) + Field("Voltage", Volts(m));
  // A DDR5 module's sensor is in its SPD hub, shown by sensors.
  if (m.typeCode != decode::spd::kDdr5)
    text += Field("Thermal sensor", m.thermalSensor ? "yes" : "no");
  text += Field("Manufacturer", Maker(m.manufacturer, m.manufacturerBank, m.manufacturerCode)) +
          OptionalFields(m) + Field("Part number", m.part) +
          Field("Serial number", Hex8(m.serial)) +
          Field("Manufactured", std::to_string(m.year) + ", week " + std::to_string(m.week));
  for (const decode::SpdCrc& crc : m.crcs)
    text += Field("CRC of " + crc.bytes, CrcText(crc));
  return text;
}

}  // namespace omzi2c::tool
