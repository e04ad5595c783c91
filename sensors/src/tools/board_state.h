// The simulated board's memory in a text file, so that a run can go on from
// where the last one left the board: the memory-module EEPROMs, the sensor's
// and the hardware monitor's registers and the block device's blocks. Hosts,
// faults and PCI configuration always start afresh.
#pragma once

#include <string>

namespace board {
class SimulatedBoard;
}

namespace omzi2c::tool {

// The file's text for the board's memory as it is now.
std::string SaveBoardState(board::SimulatedBoard& board);
// Puts the memory the text describes into the board; false with the reason
// (and the line) when the text is not such a file.
bool LoadBoardState(const std::string& text, board::SimulatedBoard& board, std::string* error);

}  // namespace omzi2c::tool
