#include "tools/decode_text.h"

#include <cstdio>
#include <sstream>

#include "tools/format.h"

namespace omzi2c::tool {

namespace {

using decode::Reading;
using decode::Unit;

constexpr int kLabelWidth = 14;
constexpr int kFieldWidth = 22;

std::string Value(double value, Unit unit) {
  char text[32];
  if (unit == Unit::kRpm) {
    std::snprintf(text, sizeof text, "%.0f RPM", value);
  } else if (unit == Unit::kVolt) {
    std::snprintf(text, sizeof text, "%+.2f V", value);
  } else {
    std::snprintf(text, sizeof text, "%+.1f C", value);
  }
  return text;
}

std::string Limits(const Reading& r) {
  const bool temperature = r.unit == Unit::kCelsius;
  std::vector<std::string> parts;
  if (r.low)
    parts.push_back(std::string(temperature ? "low" : "min") + " = " + Value(*r.low, r.unit));
  if (r.high)
    parts.push_back(std::string(temperature ? "high" : "max") + " = " + Value(*r.high, r.unit));
  if (r.critical) parts.push_back("crit = " + Value(*r.critical, r.unit));
  std::string text;
  for (const std::string& part : parts)
    text += (text.empty() ? "(" : ", ") + part;
  return text.empty() ? text : text + ")";
}

std::string ReadingLine(const Reading& r) {
  std::ostringstream line;
  line.setf(std::ios::left);
  line.width(kLabelWidth);
  line << r.label + ":";
  line.width(12);
  line << (r.value ? Value(*r.value, r.unit) : std::string("stopped"));
  line << "  " << Limits(r);
  for (const std::string& alarm : r.alarms)
    line << "  ALARM (" << alarm << ")";
  return line.str();
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
  for (double v : m.volts) {
    char one[16];
    std::snprintf(one, sizeof one, "%.2f V", v);
    text += (text.empty() ? "" : ", ") + std::string(one);
  }
  return text;
}

std::string Maker(const decode::SpdModule& m) {
  const std::string ids =
      "bank " + std::to_string(m.manufacturerBank) + ", code " + Hex2(m.manufacturerCode);
  return m.manufacturer.empty() ? "unknown (" + ids + ")" : m.manufacturer + " (" + ids + ")";
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

}  // namespace

std::string ChipText(const decode::ChipReport& chip) {
  std::string text = chip.family + "-" + Hex2(chip.address) + "\n";
  std::string ids;
  for (const decode::ChipId& id : chip.ids)
    ids += (ids.empty() ? "" : ", ") + id.name + " " +
           (id.hexDigits > 2 ? Hex4(id.value) : Hex2(id.value));
  text += "Chip: " + chip.name + " (" + ids + ")\n";
  for (const Reading& r : chip.readings)
    text += ReadingLine(r) + "\n";
  return text;
}

std::string ModuleLine(const decode::ModuleRead& read) {
  const decode::SpdModule& m = read.module;
  std::string line = Hex2(read.address) + ": ";
  line += decode::KnownMemoryType(m.typeCode) ? m.type : "unknown memory type " + Hex2(m.typeCode);
  if (!m.decoded) return line + ", not decoded";
  return line + " " + m.moduleType + ", " + decode::CapacityText(m.capacityMb) + ", " +
         (m.speed ? m.speedGrade : "invalid speed") + ", " + m.part;
}

std::string ModuleText(const decode::ModuleRead& read) {
  const decode::SpdModule& m = read.module;
  std::string text = "Module at " + Hex2(read.address) + "\n" + Field("Memory type", TypeText(m));
  if (!m.decoded) return text + "  (this memory type is not decoded)\n";
  text += Field("Module type", m.moduleType) + Field("Capacity", Geometry(m)) +
          Field("Speed grade", SpeedText(m)) + Field("tCK", Time(m.tckNs)) +
          (m.tckMaxNs ? Field("tCK max", Time(*m.tckMaxNs)) : "") +
          Field("CAS latencies", Latencies(m)) + TimingsText(m) + Field("Voltage", Volts(m)) +
          Field("Thermal sensor", m.thermalSensor ? "yes" : "no") +
          Field("Manufacturer", Maker(m)) + Field("Part number", m.part) +
          Field("Serial number", Hex8(m.serial)) +
          Field("Manufactured", std::to_string(m.year) + ", week " + std::to_string(m.week));
  for (const decode::SpdCrc& crc : m.crcs)
    text += Field("CRC of " + crc.bytes, CrcText(crc));
  return text;
}

}  // namespace omzi2c::tool
