#include "tools/board_state.h"

#include <cstdint>
#include <sstream>
#include <vector>

#include "board/simulated_board.h"

namespace omzi2c::tool {

namespace {

const char kHeader[] = "# omzi2c simulated board memory";
constexpr unsigned kRegisters = 256;
// The DDR4 module is saved after the DDR3 ones, as the next slot.
constexpr unsigned kDdr4Slot = board::address::kModuleCount;
// The DDR5 module's memory follows, and its hub's registers on a line of
// their own.
constexpr unsigned kDdr5Slot = kDdr4Slot + 1;

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>* bytes) {
  if (text.size() % 2 != 0) return false;
  bytes->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    for (size_t j = i; j < i + 2; ++j) {
      const char c = text[j];
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) return false;
      value = value << 4 | static_cast<unsigned>(digit);
    }
    bytes->push_back(static_cast<uint8_t>(value));
  }
  return true;
}

// One "KIND INDEX HEX" line applied to the board; false when it does not fit.
bool ApplyLine(const std::string& kind, unsigned index, const std::vector<uint8_t>& bytes,
               board::SimulatedBoard& board) {
  if (kind == "module" && index == kDdr4Slot) {
    if (bytes.size() != board::Ddr4SpdEeprom::kSize) return false;
    for (unsigned i = 0; i < bytes.size(); ++i)
      board.Ddr4Module().Set(i, bytes[i]);
    return true;
  }
  if (kind == "module" && index == kDdr5Slot) {
    if (bytes.size() != board::SpdHub::kSize) return false;
    for (unsigned i = 0; i < bytes.size(); ++i)
      board.Ddr5Module().Set(i, bytes[i]);
    return true;
  }
  if (kind == "hub") {
    if (index != 0 || bytes.size() != board::hub::kRegisters) return false;
    for (unsigned i = 0; i < bytes.size(); ++i)
      board.Ddr5Module().SetRegister(static_cast<uint8_t>(i), bytes[i]);
    return true;
  }
  if (kind == "spd-page") {
    if (index != 0 || bytes.size() != 1 || bytes[0] >= board::Ddr4SpdEeprom::kPages) return false;
    board.Ddr4Module().SetPage(bytes[0]);
    return true;
  }
  if (kind == "module") {
    if (index >= board::address::kModuleCount || bytes.size() != board::SpdEeprom::kSize) {
      return false;
    }
    for (unsigned i = 0; i < bytes.size(); ++i)
      board.Module(index).Set(static_cast<uint8_t>(i), bytes[i]);
    return true;
  }
  if (kind == "sensor") {
    if (index >= board::temperature::kRegisters || bytes.size() != 2) return false;
    board.TemperatureSensor().SetRegister(static_cast<uint8_t>(index),
                                          static_cast<uint16_t>(bytes[0] | bytes[1] << 8));
    return true;
  }
  if (kind == "monitor") {
    if (index != 0 || bytes.size() != kRegisters) return false;
    // Readings are the board's own; only what software may write is restored.
    for (unsigned i = 0; i < kRegisters; ++i)
      board.Monitor().WriteByte(static_cast<uint8_t>(i), bytes[i]);
    return true;
  }
  if (kind == "note") {
    if (index != 0 || !board.Messages()) return false;
    board.Messages()->SetNote(bytes);
    return true;
  }
  if (kind == "block") {
    if (index >= kRegisters) return false;
    board.Blocks().SetBlock(static_cast<uint8_t>(index), bytes);
    return true;
  }
  return false;
}

}  // namespace

std::string SaveBoardState(board::SimulatedBoard& board, const std::string& carried) {
  std::ostringstream text;
  text << kHeader << "\n";
  for (unsigned slot = 0; slot < board::address::kModuleCount; ++slot) {
    std::vector<uint8_t> bytes;
    for (unsigned i = 0; i < board::SpdEeprom::kSize; ++i)
      bytes.push_back(board.Module(slot).At(static_cast<uint8_t>(i)));
    text << "module " << slot << " " << HexBytes(bytes) << "\n";
  }
  std::vector<uint8_t> ddr4;
  for (size_t i = 0; i < board::Ddr4SpdEeprom::kSize; ++i)
    ddr4.push_back(board.Ddr4Module().At(i));
  text << "module " << kDdr4Slot << " " << HexBytes(ddr4) << "\n";
  text << "spd-page 0 " << HexBytes({static_cast<uint8_t>(board.Ddr4Module().Page())}) << "\n";
  std::vector<uint8_t> ddr5, hub;
  for (size_t i = 0; i < board::SpdHub::kSize; ++i)
    ddr5.push_back(board.Ddr5Module().At(i));
  for (unsigned r = 0; r < board::hub::kRegisters; ++r)
    hub.push_back(board.Ddr5Module().Register(static_cast<uint8_t>(r)));
  text << "module " << kDdr5Slot << " " << HexBytes(ddr5) << "\n";
  text << "hub 0 " << HexBytes(hub) << "\n";
  for (unsigned r = 0; r < board::temperature::kRegisters; ++r) {
    const uint16_t value = board.TemperatureSensor().Register(static_cast<uint8_t>(r));
    text << "sensor " << r << " "
         << HexBytes({static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)}) << "\n";
  }
  std::vector<uint8_t> monitor;
  for (unsigned r = 0; r < kRegisters; ++r)
    monitor.push_back(board.Monitor().Register(static_cast<uint8_t>(r)));
  text << "monitor 0 " << HexBytes(monitor) << "\n";
  for (unsigned command = 0; command < kRegisters; ++command) {
    const auto c = static_cast<uint8_t>(command);
    if (board.Blocks().HasBlock(c)) {
      text << "block " << command << " " << HexBytes(board.Blocks().Block(c)) << "\n";
    }
  }
  if (board.Messages() && !board.Messages()->Note().empty()) {
    text << "note 0 " << HexBytes(board.Messages()->Note()) << "\n";
  }
  return text.str() + carried;
}

bool LoadBoardState(const std::string& text, board::SimulatedBoard& board, std::string* error,
                    std::string* carried) {
  std::istringstream lines(text);
  std::string line;
  size_t number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (number == 1 && line != kHeader) {
      *error = "not a board state file (its first line is not '" + std::string(kHeader) + "')";
      return false;
    }
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string kind, hex, rest;
    unsigned index = 0;
    std::vector<uint8_t> bytes;
    const bool parsed =
        (words >> kind >> index >> hex) && !(words >> rest) && ParseHex(hex, &bytes);
    if (parsed && kind == "note" && index == 0 && !board.Messages() && carried) {
      *carried += line + "\n";
      continue;
    }
    if (!parsed || !ApplyLine(kind, index, bytes, board)) {
      *error = "line " + std::to_string(number) + " is not part of a board state";
      return false;
    }
  }
  return true;
}

}  // namespace omzi2c::tool
