// The simulated board's memory in a text file, so that a run can go on from
// where the last one left the board: the memory-module EEPROMs, the sensor's
// and the hardware monitor's registers, the block device's blocks and the
// message device's note. Hosts, faults and PCI configuration always start
// afresh.
#pragma once

#include <string>

namespace board {
class SimulatedBoard;
}

namespace omzi2c::tool {

// The file's text for the board's memory as it is now, followed by
// `carried`: lines of a former file that this board has no device for.
std::string SaveBoardState(board::SimulatedBoard& board, const std::string& carried = "");
// Puts the memory the text describes into the board; false with the reason
// (and the line) when the text is not such a file. Lines for a device this
// board lacks (the message device's note, which only Chipset 5 and 6 boards
// have) are added to `carried`, so that saving keeps them.
bool LoadBoardState(const std::string& text, board::SimulatedBoard& board, std::string* error,
                    std::string* carried = nullptr);

}  // namespace omzi2c::tool
