// Decoding of a memory module's serial-presence-detect bytes (DDR3, DDR4,
// DDR5), after the JEDEC layouts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace omzi2c::decode {

namespace spd {
constexpr uint8_t kFirstAddress = 0x50;
constexpr uint8_t kLastAddress = 0x57;
constexpr size_t kPageSize = 256;
constexpr uint8_t kTypeByte = 2;
constexpr uint8_t kDdr3 = 0x0B;
constexpr uint8_t kDdr4 = 0x0C;
constexpr uint8_t kDdr5 = 0x12;
constexpr size_t kDdr5Size = 1024;
// DDR4 modules hold 512 bytes in two pages, chosen by a write to one of
// these addresses, which every module on the bus obeys.
constexpr uint8_t kSelectPage0 = 0x36;
constexpr uint8_t kSelectPage1 = 0x37;
}  // namespace spd

struct SpdTiming {
  const char* name;  // "tAA", ...
  double ns;
  // At the module's fastest clock, rounded up; none when the time is
  // negative (invalid) or the clock is.
  std::optional<unsigned> clocks;
  bool Valid() const { return ns >= 0; }
};

struct SpdCrc {
  std::string bytes;  // what it covers, as "0-116"
  uint16_t stored;
  uint16_t computed;
  bool Ok() const { return stored == computed; }
};

struct SpdModule {
  uint8_t typeCode = 0;
  std::string type;        // "DDR3 SDRAM"
  bool decoded = false;    // false: a type named but not decoded
  std::string moduleType;  // "UDIMM"
  unsigned dieMbit = 0, ranks = 0, deviceWidth = 0, busWidth = 0, eccBits = 0;
  uint64_t capacityMb = 0;
  std::optional<unsigned> speed;   // data rate in MT/s; none when tCK is invalid
  std::string speedGrade, pcName;  // "DDR3-1600", "PC3-12800"; empty when invalid
  double tckNs = 0;
  std::optional<double> tckMaxNs;  // DDR4 only
  std::vector<unsigned> casLatencies;
  std::vector<SpdTiming> timings;
  std::vector<double> volts;
  bool thermalSensor = false;
  unsigned manufacturerBank = 0;  // JEP-106 bank, from 1
  uint8_t manufacturerCode = 0;
  std::string manufacturer;  // empty when not in the table
  std::string part;
  uint32_t serial = 0;
  unsigned year = 0, week = 0;
  std::vector<SpdCrc> crcs;
  // Set where the memory type keeps them (empty or 0 otherwise).
  std::string spdRevision;             // "1.0"
  std::vector<std::string> voltNames;  // beside `volts`: "VDD", ...
  unsigned subChannels = 0;            // DDR5: per module
  unsigned dramMakerBank = 0;          // JEP-106 bank of the DRAM's maker, from 1
  uint8_t dramMakerCode = 0;
  std::string dramMaker;            // empty when not in the table
  std::optional<uint8_t> location;  // the maker's code for the plant
  std::string timingSummary;        // "11-11-11-28": tCL-tRCD-tRP-tRAS
};

// What the module's bytes say; `bytes` holds 256 (DDR4: 512, DDR5: 1024)
// bytes.
SpdModule DecodeSpd(const std::vector<uint8_t>& bytes);
// The name of a memory type code ("DDR3 SDRAM"); "unknown" when none.
std::string MemoryTypeName(uint8_t code);
// Whether the code names a memory type.
bool KnownMemoryType(uint8_t code);
// How many bytes a module of this type is read as: 512 for DDR4, 1024 for
// DDR5, else 256.
size_t SpdSize(uint8_t typeCode);
// "4 GB", "512 MB".
std::string CapacityText(uint64_t megabytes);

// The CRC-16 the modules keep (polynomial 0x1021, from 0).
uint16_t SpdCrc16(const uint8_t* bytes, size_t count);
// The module maker's name for a JEP-106 bank and code; empty when unknown.
std::string ModuleMaker(unsigned bank, uint8_t code);

// Shared by the per-type decoders.
namespace spd_detail {
void DecodeDdr3(const std::vector<uint8_t>& bytes, SpdModule* module);
void DecodeDdr4(const std::vector<uint8_t>& bytes, SpdModule* module);
void DecodeDdr5(const std::vector<uint8_t>& bytes, SpdModule* module);
// What DDR3 and DDR4 modules also give, after their decode; the
// tCL-tRCD-tRP-tRAS summary of any decoded module.
void AddDdr3Extras(const std::vector<uint8_t>& bytes, SpdModule* module);
void AddDdr4Extras(const std::vector<uint8_t>& bytes, SpdModule* module);
void SetTimingSummary(SpdModule* module);
enum class Generation { kDdr3, kDdr4, kDdr5 };
// The JEDEC speed grade of the generation whose tCK(avg)min the stored tCK
// is, to a few ps, and its module name; else the data rate 2000 / tCK
// computed, truncated.
void SetSpeed(double tckNs, Generation generation, SpdModule* module);
// ns in clocks of tckNs, rounded up; none when either is out of range.
std::optional<unsigned> Clocks(double ns, double tckNs);
std::string Text(const std::vector<uint8_t>& bytes, size_t first, size_t count);
unsigned Bcd(uint8_t byte);
// Where a memory type keeps the maker, date, serial number and part number.
struct IdentityLayout {
  size_t makerBank, makerCode, year, week, serial, part, partLength;
};
void DecodeIdentity(const std::vector<uint8_t>& bytes, const IdentityLayout& at, SpdModule* module);
SpdCrc Crc(const std::vector<uint8_t>& bytes, size_t first, size_t count, size_t at);
}  // namespace spd_detail

}  // namespace omzi2c::decode
