#include "tools/decode_json.h"

#ifdef OMZI2C_HAVE_JSON
#include <nlohmann/json.hpp>

#include <algorithm>

#include "tools/decode_text.h"
#endif

namespace omzi2c::tool {

#ifdef OMZI2C_HAVE_JSON

namespace {

using nlohmann::json;
using nlohmann::ordered_json;
constexpr int kIndent = 2;

// A value, or null where there is none.
template <typename T>
json Optional(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

// The hwmon prefix of a reading and the number of the next one of its kind
// on the chip: voltages count from in0, temperatures and fans from 1.
struct FeatureNumbers {
  unsigned in = 0, temp = 1, fan = 1;
  std::string Next(decode::Unit unit) {
    if (unit == decode::Unit::kVolt) return "in" + std::to_string(in++);
    if (unit == decode::Unit::kRpm) return "fan" + std::to_string(fan++);
    return "temp" + std::to_string(temp++);
  }
};

bool Alarmed(const decode::Reading& r, const char* alarm) {
  return std::find(r.alarms.begin(), r.alarms.end(), alarm) != r.alarms.end();
}

ordered_json FeatureJson(const decode::Reading& r, const std::string& prefix) {
  const bool fan = r.unit == decode::Unit::kRpm;
  ordered_json feature = ordered_json::object();
  // A fan too slow to count reads 0, as the kernel reports it.
  if (r.value || fan) feature[prefix + "_input"] = r.value.value_or(0.0);
  const struct {
    const std::optional<double>& value;
    const char* name;
    const char* alarm;
  } limits[] = {{r.high, "max", "high"},
                {r.low, "min", "low"},
                {r.critical, "crit", "critical"},
                {r.lowCritical, "lcrit", "low critical"}};
  for (const auto& limit : limits) {
    if (!limit.value) continue;
    feature[prefix + "_" + limit.name] = *limit.value;
  }
  if (fan) {
    if (r.low) feature[prefix + "_alarm"] = Alarmed(r, "low") ? 1.0 : 0.0;
    return feature;
  }
  for (const auto& limit : limits) {
    if (!limit.value) continue;
    feature[prefix + "_" + limit.name + "_alarm"] = Alarmed(r, limit.alarm) ? 1.0 : 0.0;
  }
  return feature;
}

ordered_json ChipJson(const decode::ChipReport& chip, const std::string& adapter) {
  ordered_json object = {{"Adapter", adapter}};
  FeatureNumbers numbers;
  for (const decode::Reading& r : chip.readings)
    object[r.label] = FeatureJson(r, numbers.Next(r.unit));
  return object;
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
  if (!m.voltNames.empty()) module["voltage_names"] = m.voltNames;
  if (m.subChannels) module["sub_channels"] = m.subChannels;
  if (!m.spdRevision.empty()) module["spd_revision"] = m.spdRevision;
  if (!m.timingSummary.empty()) module["timing_summary"] = m.timingSummary;
  if (m.dramMakerBank) {
    module["dram_manufacturer"] = {
        {"jep106_bank", m.dramMakerBank},
        {"jep106_code", m.dramMakerCode},
        {"name", m.dramMaker.empty() ? json(nullptr) : json(m.dramMaker)}};
  }
  if (m.location) module["manufacturing_site"] = *m.location;
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

std::optional<std::string> SensorsJson(const decode::ScanResult& scan, const std::string& adapter) {
  ordered_json chips = ordered_json::object();
  for (const decode::ChipReport& chip : scan.chips)
    chips[ChipName(chip)] = ChipJson(chip, adapter);
  return chips.dump(kIndent) + "\n";
}

std::optional<std::string> ModulesJson(const std::vector<decode::ModuleRead>& modules) {
  return json{{"modules", ModulesArray(modules)}}.dump(kIndent) + "\n";
}

#else

bool JsonAvailable() {
  return false;
}

std::optional<std::string> SensorsJson(const decode::ScanResult&, const std::string&) {
  return std::nullopt;
}

std::optional<std::string> ModulesJson(const std::vector<decode::ModuleRead>&) {
  return std::nullopt;
}

#endif

}  // namespace omzi2c::tool
