#include "tools/decode_json.h"

#ifdef OMZI2C_HAVE_JSON
#include <nlohmann/json.hpp>
#endif

namespace omzi2c::tool {

#ifdef OMZI2C_HAVE_JSON

namespace {

using nlohmann::json;
constexpr int kIndent = 2;

// A value, or null where there is none.
template <typename T>
json Optional(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

json ReadingJson(const decode::Reading& r) {
  return {{"label", r.label},
          {"unit", decode::UnitName(r.unit)},
          {"value", Optional(r.value)},
          {"stopped", r.unit == decode::Unit::kRpm && !r.value},
          {"low", Optional(r.low)},
          {"high", Optional(r.high)},
          {"critical", Optional(r.critical)},
          {"alarms", r.alarms}};
}

json ChipJson(const decode::ChipReport& chip) {
  json readings = json::array();
  for (const decode::Reading& r : chip.readings)
    readings.push_back(ReadingJson(r));
  json ids = json::object();
  for (const decode::ChipId& id : chip.ids)
    ids[id.name] = id.value;
  return {{"address", chip.address},
          {"family", chip.family},
          {"name", chip.name},
          {"ids", ids},
          {"readings", readings}};
}

json TimingsJson(const decode::SpdModule& m) {
  json timings = json::array();
  for (const decode::SpdTiming& t : m.timings) {
    timings.push_back(
        {{"name", t.name}, {"ns", t.ns}, {"valid", t.Valid()}, {"clocks", Optional(t.clocks)}});
  }
  return timings;
}

json IdentityJson(const decode::SpdModule& m) {
  json crcs = json::array();
  for (const decode::SpdCrc& c : m.crcs) {
    crcs.push_back(
        {{"bytes", c.bytes}, {"stored", c.stored}, {"computed", c.computed}, {"ok", c.Ok()}});
  }
  return {{"manufacturer",
           {{"jep106_bank", m.manufacturerBank},
            {"jep106_code", m.manufacturerCode},
            {"name", m.manufacturer.empty() ? json(nullptr) : json(m.manufacturer)}}},
          {"part_number", m.part},
          {"serial_number", m.serial},
          {"manufactured", {{"year", m.year}, {"week", m.week}}},
          {"crc", crcs}};
}

json ModuleJson(const decode::ModuleRead& read) {
  const decode::SpdModule& m = read.module;
  json module = {{"address", read.address},
                 {"memory_type", m.type},
                 {"memory_type_code", m.typeCode},
                 {"decoded", m.decoded}};
  if (!m.decoded) return module;
  module.update({{"module_type", m.moduleType},
                 {"capacity_mb", m.capacityMb},
                 {"ranks", m.ranks},
                 {"device_width_bits", m.deviceWidth},
                 {"die_mbit", m.dieMbit},
                 {"bus_width_bits", m.busWidth},
                 {"ecc_bits", m.eccBits},
                 {"speed_mts", Optional(m.speed)},
                 {"speed_grade", m.speed ? json(m.speedGrade) : json(nullptr)},
                 {"pc_name", m.speed ? json(m.pcName) : json(nullptr)},
                 {"tck_ns", m.tckNs},
                 {"tck_max_ns", Optional(m.tckMaxNs)},
                 {"cas_latencies", m.casLatencies},
                 {"timings", TimingsJson(m)},
                 {"voltages_v", m.volts},
                 {"thermal_sensor", m.thermalSensor}});
  module.update(IdentityJson(m));
  return module;
}

json ModulesArray(const std::vector<decode::ModuleRead>& modules) {
  json array = json::array();
  for (const decode::ModuleRead& module : modules)
    array.push_back(ModuleJson(module));
  return array;
}

}  // namespace

bool JsonAvailable() {
  return true;
}

std::optional<std::string> SensorsJson(const decode::ScanResult& scan) {
  json chips = json::array();
  for (const decode::ChipReport& chip : scan.chips)
    chips.push_back(ChipJson(chip));
  return json{{"chips", chips}, {"modules", ModulesArray(scan.modules)}}.dump(kIndent) + "\n";
}

std::optional<std::string> ModulesJson(const std::vector<decode::ModuleRead>& modules) {
  return json{{"modules", ModulesArray(modules)}}.dump(kIndent) + "\n";
}

#else

bool JsonAvailable() {
  return false;
}

std::optional<std::string> SensorsJson(const decode::ScanResult&) {
  return std::nullopt;
}

std::optional<std::string> ModulesJson(const std::vector<decode::ModuleRead>&) {
  return std::nullopt;
}

#endif

}  // namespace omzi2c::tool
