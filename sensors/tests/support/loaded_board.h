// A simulated board of a chosen Chipset kind with the driver started on it
// and a client talking to it in process, as the tool's default session has
// them: the board's defaults for the identification, a virtual clock.
#pragma once

#include <memory>
#include <string>

#include "board/simulated_board.h"
#include "driver_entry.h"
#include "ntemu/clock.h"
#include "ntemu/driver_loader.h"
#include "ntemu/port_space.h"
#include "omzi2c_client/client.h"
#include "omzi2c_client/in_process_transport.h"

namespace omzi2c::testing {

inline std::string ParametersFor(int chipset) {
  return "REGEDIT4\r\n"
         "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\omzi2c\\Parameters]\r\n"
         "\"I2CDriverEnable\"=dword:00000001\r\n"
         "\"ISAPortDriverEnable\"=dword:00000001\r\n"
         "\"Chipset\"=dword:0000000" +
         std::string(1, "0123456789a"[chipset]) +
         "\r\n"
         "\"VID\"=dword:00008086\r\n"
         "\"DID\"=dword:00002930\r\n"
         "\"Func\"=dword:00000003\r\n";
}

struct LoadedBoard {
  explicit LoadedBoard(int chipset, bool recordPauses = true)
      : clock(recordPauses), board(Config(chipset)) {}

  static board::BoardConfig Config(int chipset) {
    board::BoardConfig config;
    config.chipset = chipset;
    return config;
  }

  ntemu::VirtualClock clock;
  ntemu::ScopedClock useClock{&clock};
  board::SimulatedBoard board;
  ntemu::ScopedPortSpace ports{&board.Ports()};
  ntemu::LoadedDriver driver{DriverEntry,
                             ntemu::ParseRegFile(ParametersFor(board.Config().chipset))};
  client::InProcessTransport transport{driver.Device()};
  client::Client client{transport};
};

}  // namespace omzi2c::testing
