// The SMBus host controllers the driver is known to serve, or known not to:
// for each, its PCI identity, the function that holds the host, and the
// Chipset codes whose discovery steps (function, base register and mask,
// enable bits) and host registers match that controller. The tool suggests
// a code from here; nothing here is guessed from a class code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace omzi2c::decode {

constexpr uint32_t kFirstChipset = 1;
constexpr uint32_t kLastChipset = 10;

// The function each code's discovery switches on and takes the base from,
// on the device the configured IDs locate; nullopt outside 1..10.
std::optional<unsigned> ChipsetFunction(uint32_t chipset);

// Codes as a bit set: bit N for Chipset N.
constexpr uint32_t ChipsetBit(uint32_t chipset) {
  return 1u << chipset;
}

struct KnownController {
  uint16_t vendorId;
  uint16_t deviceId;
  uint8_t function;    // where the host and these IDs sit on a real board
  uint32_t classCode;  // class, subclass, programming interface (24 bits)
  const char* name;    // short, for when the system has no pci.ids
  uint32_t chipsets;   // ChipsetBit of every code that serves it; 0: not served
  uint32_t suggested;  // the code the tool proposes; 0: not served
  bool tested;         // the suggested code ran on this controller in the tests
  bool simulatedOnly;  // a made-up identity the simulated board carries
  const char* note;    // why it is not served, or a caveat; may be empty
};

const std::vector<KnownController>& KnownControllers();

// The entry for these IDs, null when the table lacks them.
const KnownController* FindController(uint16_t vendorId, uint16_t deviceId);

// What to configure for a controller: the code and, where the code's own
// function is not the one holding the host, the HostFunction value.
struct ChipsetSuggestion {
  uint32_t chipset;
  std::optional<unsigned> hostFunction;
};
// Nullopt for a controller that is not served.
std::optional<ChipsetSuggestion> Suggest(const KnownController& controller);

// "2", or "2 +HostFunction 4".
std::string SuggestionText(const ChipsetSuggestion& suggestion);
// "2, 3" for a bit set of codes.
std::string ChipsetList(uint32_t chipsets);

// The table as docs/controllers.md shows it (Markdown), one row per
// controller.
std::string ControllersMarkdown();

// The README's summary of the table (Markdown): one row per configuration
// (a code, with HostFunction where needed, or "not served"), in the order the
// table first names it, with the names of the controllers it takes.
std::string ControllersByChipsetMarkdown();

}  // namespace omzi2c::decode
