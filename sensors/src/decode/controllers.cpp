#include "decode/controllers.h"

#include <algorithm>
#include <cstdio>

namespace omzi2c::decode {

namespace {

// Functions by code, 1..10.
constexpr unsigned kChipsetFunction[] = {0, 0, 3, 3, 3, 0, 0, 0, 3, 4, 2};

constexpr uint32_t kSmbusClass = 0x0C0500;
constexpr uint32_t kOtherBridgeClass = 0x068000;
constexpr uint32_t kIsaBridgeClass = 0x060100;

// Made-up vendor ID of the simulated board's hosts that stand for no real
// controller (no vendor holds it in the PCI ID list).
constexpr uint16_t kSimulatedVendor = 0x4F4D;

constexpr uint32_t kByteDone = ChipsetBit(2) | ChipsetBit(3);

// Intel ICH and PCH SMBus functions. Host registers, HOSTC at 0x40 bit 0,
// base in BAR4 (0x20): drivers/i2c/busses/i2c-i801.c (SMBHSTCFG, SMBBAR,
// SMBHST*). Up to the 9 Series the host is function 3 of device 31; from the
// 100 Series on it is function 4, where function 3 holds another device, so
// these need HostFunction 4. Names and IDs: pci.ids.
KnownController Intel(uint16_t device, uint8_t function, const char* name, bool tested = false) {
  return {0x8086, device, function, kSmbusClass, name, kByteDone, 2, tested, false, ""};
}

// The PIIX4 family's power-management function: SMBus base at 0x90, host
// enable at 0xD2 bit 0, host registers with the second status at +1:
// i2c-piix4.c (SMBBA, SMBHSTCFG, SMBHST*); the _3 of its device names
// (82371AB_3, 82443MX_3, SLC90E66_3) is the function.
KnownController Piix4(uint16_t vendor, uint16_t device, const char* name, bool tested = false) {
  return {vendor, device, 3, kOtherBridgeClass, name, ChipsetBit(4), 4, tested, false, ""};
}

// VIA's power-management functions with the SMBus base at 0x90 (SMBBA1),
// host enable at 0xD2 bit 0: i2c-viapro.c; the function is the _3 or _4 of
// their device names there (82C596B_3, 82C686_4, 8231_4).
KnownController Via(uint16_t device, uint8_t function, const char* name) {
  const uint32_t code = function == 3 ? 8 : 9;
  return {0x1106, device, function, kOtherBridgeClass, name, ChipsetBit(code), code,
          false,  false,  ""};
}

KnownController NotServed(uint16_t vendor, uint16_t device, uint8_t function, uint32_t classCode,
                          const char* name, const char* reason) {
  return {vendor, device, function, classCode, name, 0, 0, false, false, reason};
}

KnownController Simulated(uint16_t device, uint32_t code, const char* name) {
  return {kSimulatedVendor,
          device,
          0,
          kIsaBridgeClass,
          name,
          ChipsetBit(code),
          code,
          false,
          true,
          "a made-up identity of the simulated board"};
}

std::vector<KnownController> MakeTable() {
  return {
      Intel(0x2413, 3, "Intel 82801AA (ICH) SMBus"),
      Intel(0x2423, 3, "Intel 82801AB (ICH0) SMBus"),
      Intel(0x2443, 3, "Intel 82801BA (ICH2) SMBus"),
      Intel(0x2483, 3, "Intel 82801CA (ICH3) SMBus"),
      Intel(0x24C3, 3, "Intel 82801DB (ICH4) SMBus"),
      Intel(0x24D3, 3, "Intel 82801EB (ICH5) SMBus"),
      Intel(0x25A4, 3, "Intel 6300ESB SMBus"),
      Intel(0x266A, 3, "Intel ICH6 SMBus"),
      Intel(0x27DA, 3, "Intel ICH7 SMBus"),
      Intel(0x283E, 3, "Intel ICH8 SMBus"),
      Intel(0x2930, 3, "Intel ICH9 SMBus", /*tested=*/true),  // QEMU's q35
      Intel(0x3A30, 3, "Intel ICH10 SMBus"),
      Intel(0x3A60, 3, "Intel ICH10 (82801JD) SMBus"),
      Intel(0x3B30, 3, "Intel 5 Series SMBus"),
      Intel(0x1C22, 3, "Intel 6 Series SMBus"),
      Intel(0x1E22, 3, "Intel 7 Series SMBus"),
      Intel(0x8C22, 3, "Intel 8 Series SMBus"),
      Intel(0x9C22, 3, "Intel 8 Series (LP) SMBus"),
      Intel(0x8CA2, 3, "Intel 9 Series SMBus"),
      Intel(0x9CA2, 3, "Intel Wildcat Point-LP SMBus"),
      Intel(0xA123, 4, "Intel 100 Series SMBus"),
      Intel(0x9D23, 4, "Intel Sunrise Point-LP SMBus"),
      Intel(0xA1A3, 4, "Intel C620 Series SMBus"),
      Intel(0xA2A3, 4, "Intel 200 Series SMBus"),
      Intel(0xA323, 4, "Intel Cannon Lake PCH SMBus"),
      Intel(0x9DA3, 4, "Intel Cannon Point-LP SMBus"),
      Intel(0x02A3, 4, "Intel Comet Lake PCH-LP SMBus"),
      Intel(0x06A3, 4, "Intel Comet Lake PCH SMBus"),
      Intel(0xA0A3, 4, "Intel Tiger Lake-LP SMBus"),
      Intel(0x43A3, 4, "Intel Tiger Lake-H SMBus"),
      Intel(0x7AA3, 4, "Intel Alder Lake-S PCH SMBus"),
      Intel(0x51A3, 4, "Intel Alder Lake PCH-P SMBus"),
      Piix4(0x8086, 0x7113, "Intel 82371AB PIIX4 ACPI", /*tested=*/true),  // QEMU's pc
      Piix4(0x8086, 0x719B, "Intel 82440MX power management"),
      Piix4(0x1055, 0x9463, "Efar SLC90E66 ACPI"),
      Via(0x3051, 3, "VIA VT82C596B power management"),
      Via(0x3057, 4, "VIA VT82C686 ACPI"),
      Via(0x8235, 4, "VIA VT8231 power management"),
      // i2c-amd8111.c: the ACPI SMBus interface behind an embedded-controller
      // port pair at BAR0 and BAR0 + 4; the SMBus 2.0 controller is function 2
      // of the AMD-8111 (its ACPI function 3 is 746b).
      {0x1022, 0x746A, 2, kSmbusClass, "AMD-8111 SMBus 2.0", ChipsetBit(10), 10, false, false, ""},
      // i2c-piix4.c, piix4_setup_sb800: the base is read through the power
      // management index/data pair at 0xCD6/0xCD7, not from configuration space.
      NotServed(0x1022, 0x780B, 0, kSmbusClass, "AMD FCH SMBus",
                "its SMBus base is held behind the index/data pair at 0xCD6/0xCD7"),
      NotServed(0x1022, 0x790B, 0, kSmbusClass, "AMD FCH SMBus",
                "its SMBus base is held behind the index/data pair at 0xCD6/0xCD7"),
      NotServed(0x1002, 0x4385, 0, kSmbusClass, "ATI SBx00 SMBus",
                "from revision 0x40 on its SMBus base is held behind the index/data pair at "
                "0xCD6/0xCD7; before, it is a function 0 host no code enables alone"),
      // i2c-ali1535.c (base at 0xE2, enable at 0xF0) and i2c-ali15x3.c (base
      // at 0x14, enable at 0xE0) claim the same IDs.
      NotServed(0x10B9, 0x7101, 0, kOtherBridgeClass, "ALi M7101 power management",
                "these IDs name both the M1535's unit, which Chipset 1 serves, and the "
                "M1541/M1543's, which keeps its base at 0x14: give Chipset 1 only for an M1535"),
      // i2c-viapro.c: their SMBus base sits at 0xD0 (SMBBA3) of function 0.
      NotServed(0x1106, 0x3074, 0, kIsaBridgeClass, "VIA VT8233 south bridge",
                "its SMBus base sits at 0xD0, which no code reads"),
      NotServed(0x1106, 0x3177, 0, kIsaBridgeClass, "VIA VT8235 south bridge",
                "its SMBus base sits at 0xD0, which no code reads"),
      NotServed(0x1106, 0x3227, 0, kIsaBridgeClass, "VIA VT8237 south bridge",
                "its SMBus base sits at 0xD0, which no code reads"),
      Simulated(0x0001, 1, "simulated start-port host"),
      Simulated(0x0005, 5, "simulated paced-poll host (auxiliary ports)"),
      Simulated(0x0006, 6, "simulated paced-poll host (recovery)"),
      Simulated(0x0007, 7, "simulated chunk-buffer host"),
  };
}

}  // namespace

std::optional<unsigned> ChipsetFunction(uint32_t chipset) {
  if (chipset < kFirstChipset || chipset > kLastChipset) return std::nullopt;
  return kChipsetFunction[chipset];
}

const std::vector<KnownController>& KnownControllers() {
  static const std::vector<KnownController> table = MakeTable();
  return table;
}

const KnownController* FindController(uint16_t vendorId, uint16_t deviceId) {
  for (const KnownController& c : KnownControllers()) {
    if (c.vendorId == vendorId && c.deviceId == deviceId) return &c;
  }
  return nullptr;
}

std::optional<ChipsetSuggestion> Suggest(const KnownController& controller) {
  if (controller.suggested == 0) return std::nullopt;
  ChipsetSuggestion s{controller.suggested, std::nullopt};
  if (ChipsetFunction(controller.suggested) != controller.function) {
    s.hostFunction = controller.function;
  }
  return s;
}

std::string SuggestionText(const ChipsetSuggestion& suggestion) {
  std::string text = std::to_string(suggestion.chipset);
  if (suggestion.hostFunction) text += " +HostFunction " + std::to_string(*suggestion.hostFunction);
  return text;
}

std::string ChipsetList(uint32_t chipsets) {
  std::string text;
  for (uint32_t code = kFirstChipset; code <= kLastChipset; ++code) {
    if (!(chipsets & ChipsetBit(code))) continue;
    text += (text.empty() ? "" : ", ") + std::to_string(code);
  }
  return text;
}

std::string ControllersMarkdown() {
  std::string text =
      "| VID:DID | controller | at function | Chipset | also served by | remark |\n"
      "|---|---|---|---|---|---|\n";
  char ids[16];
  for (const KnownController& c : KnownControllers()) {
    std::snprintf(ids, sizeof ids, "%04x:%04x", c.vendorId, c.deviceId);
    const auto suggestion = Suggest(c);
    const uint32_t others = c.chipsets & ~(suggestion ? ChipsetBit(suggestion->chipset) : 0);
    std::string remark = c.note;
    if (c.tested) remark = "tested (QEMU)";
    text += std::string("| ") + ids + " | " + c.name + " | " + std::to_string(c.function) + " | " +
            (suggestion ? SuggestionText(*suggestion) : "not served") + " | " +
            ChipsetList(others) + " | " + remark + " |\n";
  }
  return text;
}

std::string ControllersByChipsetMarkdown() {
  // Each configuration with its controllers' names, a name once per row
  // (a controller may have several device IDs).
  std::vector<std::pair<std::string, std::vector<std::string>>> rows;
  for (const KnownController& c : KnownControllers()) {
    const auto suggestion = Suggest(c);
    const std::string key = suggestion ? SuggestionText(*suggestion) : "not served";
    const std::string name = std::string(c.name) + (c.tested ? " (tested in QEMU)" : "");
    auto row =
        std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.first == key; });
    if (row == rows.end()) row = rows.insert(rows.end(), {key, {}});
    if (std::find(row->second.begin(), row->second.end(), name) == row->second.end())
      row->second.push_back(name);
  }
  std::string text = "| Chipset | controllers |\n|---|---|\n";
  for (const auto& [key, names] : rows) {
    text += "| " + key + " |";
    for (size_t i = 0; i < names.size(); ++i)
      text += (i == 0 ? " " : ", ") + names[i];
    text += " |\n";
  }
  return text;
}

}  // namespace omzi2c::decode
