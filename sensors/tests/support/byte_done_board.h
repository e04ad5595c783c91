// Test rigs for the byte-done host (Chipset 2 and 3).
//
// ByteDoneBoard: the host model at a fixed base on a simulated SMBus with an
// SPD EEPROM, a word-register device and a block device. The fixtures install
// a recording port space (bare, or over the board) and a virtual clock, point
// ControllerState at the host, and after every test make the check every
// byte-done test owes: no control value with the packet-error-checking bit
// was ever written.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "board/block_device.h"
#include "board/byte_done_host_model.h"
#include "board/port_map.h"
#include "board/smbus.h"
#include "board/spd_eeprom.h"
#include "board/word_register_device.h"
#include "ntemu/clock.h"
#include "ntemu/port_space.h"

namespace omzi2c::testing {

constexpr uint16_t kByteDoneBase = 0x0500;
constexpr board::SlaveAddress kEepromAddress{0x50};
constexpr board::SlaveAddress kSensorAddress{0x2E};
constexpr board::SlaveAddress kBlockAddress{0x44};
constexpr board::SlaveAddress kAbsentAddress{0x33};

// Every write of a value with bit 0x80 to the control register at `base`.
std::vector<ntemu::PortAccess> PecControlWrites(const std::vector<ntemu::PortAccess>& accesses,
                                                uint16_t base = kByteDoneBase);

struct ByteDoneBoard {
  ByteDoneBoard();
  board::PortMap ports;
  board::SmbusBus bus;
  board::ByteDoneHostModel host{bus, kByteDoneBase};
  board::SpdEeprom eeprom;
  board::WordRegisterDevice sensor;
  board::BlockDevice blocks;
};

// Scripted register answers only: for exact port sequences.
class ByteDoneScriptTest : public ::testing::Test {
 protected:
  ByteDoneScriptTest();
  ~ByteDoneScriptTest() override;
  void TearDown() override;

  ntemu::RecordingPortSpace recording_;
  ntemu::VirtualClock clock_;
  ntemu::ScopedPortSpace usePorts_{&recording_};
  ntemu::ScopedClock useClock_{&clock_};
};

// The model and devices behind the recording.
class ByteDoneBoardTest : public ::testing::Test {
 protected:
  ByteDoneBoardTest();
  ~ByteDoneBoardTest() override;
  void TearDown() override;

  ByteDoneBoard board_;
  ntemu::RecordingPortSpace recording_{&board_.ports};
  ntemu::VirtualClock clock_;
  ntemu::ScopedPortSpace usePorts_{&recording_};
  ntemu::ScopedClock useClock_{&clock_};
};

}  // namespace omzi2c::testing
