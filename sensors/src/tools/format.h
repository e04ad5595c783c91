// Parsing of command-line numbers and the i2c-tools style tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace omzi2c::tool {

// By C rules (0x-hex, 0-octal, decimal), the whole text, within [0, max].
std::optional<uint32_t> ParseNumber(const std::string& text, uint32_t max);
// Hex bytes: "0a0b0c", "0a 0b 0c" or "0x0a,0x0b"; empty text is no bytes.
std::optional<std::vector<uint8_t>> ParseHexBytes(const std::string& text);

// What the host reported in a failed read's error reply: the result code in
// words, and the host's last status byte with its flags named where one was
// recorded (not 0).
std::string DescribeHostReport(uint8_t result, uint8_t hostStatus);

std::string Hex2(uint32_t value);                         // "0x5a"
std::string Hex4(uint32_t value);                         // "0x1234"
std::string Hex8(uint32_t value);                         // "0x12345678"
std::string ByteList(const std::vector<uint8_t>& bytes);  // "0x01 0x02"

// The 16-column address grid of a bus scan; `found[a]` for addresses
// first..last that answered, other cells in the range show "--".
std::string DetectGrid(const std::vector<bool>& found, unsigned first, unsigned last);

// The 256-register table with an ASCII column; nullopt marks a failed read.
// Only the rows holding registers first..last, the others' cells blank.
std::string ByteDump(const std::vector<std::optional<uint8_t>>& values, size_t first = 0,
                     size_t last = SIZE_MAX);
// Word i is register i read as a word; 8 registers a row.
std::string WordDump(const std::vector<std::optional<uint16_t>>& values, size_t first = 0,
                     size_t last = SIZE_MAX);

}  // namespace omzi2c::tool
