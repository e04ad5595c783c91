// The bus event shared between processes: a process whose driver dies in
// the middle of a transaction, holding the bus, does not keep another
// process's driver off it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "board/simulated_board.h"
#include "driver_entry.h"
#include "ntemu/clock.h"
#include "ntemu/driver_loader.h"
#include "ntemu/event.h"
#include "ntemu/objects.h"
#include "ntemu/port_space.h"
#include "omzi2c_client/client.h"
#include "omzi2c_client/in_process_transport.h"
#include "support/loaded_board.h"

namespace {

const char kBusEvent[] = "\\QRAI2CDriverEvent";
constexpr uint8_t kModule = 0x50;
constexpr uint8_t kMemoryTypeRegister = 0x02;
constexpr uint8_t kMemoryType = 0x0B;  // what the simulated modules hold there

// Passes every access on to the board; once armed, the process kills itself
// at the given write, leaving the transaction half done and the bus held.
class DyingPorts : public ntemu::PortSpace {
 public:
  DyingPorts(ntemu::PortSpace& board, int told) : board_(board), told_(told) {}
  void ArmAtWrite(int write) { dieAt_ = write; }
  uint32_t Read(uint32_t port, ntemu::Width width) override { return board_.Read(port, width); }
  void Write(uint32_t port, ntemu::Width width, uint32_t value) override {
    board_.Write(port, width, value);
    if (dieAt_ != 0 && ++writes_ == dieAt_) {
      if (::write(told_, "x", 1) != 1) _exit(5);
      raise(SIGKILL);
    }
  }

 private:
  ntemu::PortSpace& board_;
  int told_;
  int dieAt_ = 0;
  int writes_ = 0;
};

class SharedBus : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/omzi2c-shared-bus.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    ntemu::SetSystemWideLockFolder(folder_);
    ntemu::SetNamedEventsSystemWide(true);
  }
  void TearDown() override {
    ntemu::SetNamedEventsSystemWide(false);
    unlink(ntemu::SystemWideLockPath(kBusEvent).c_str());
    rmdir(folder_.c_str());
    ntemu::SetSystemWideLockFolder("");
  }
  std::string folder_;
};

// The child's driver dies after its `dieAt`-th port write of a read: after
// taking the bus and clearing the host (1), with the address written (2),
// with the command written too (3), with the protocol set (4), or right
// after the start (5). The parent's driver then reads the same register.
TEST_F(SharedBus, AHolderThatDiesInATransactionDoesNotKeepTheBus) {
  for (int dieAt : {1, 2, 3, 4, 5}) {
    SCOPED_TRACE("the holder dies at write " + std::to_string(dieAt));
    int told[2];
    ASSERT_EQ(pipe(told), 0);
    const uint64_t recoveredBefore = ntemu::DeadHoldersRecovered(kBusEvent);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ntemu::VirtualClock clock(/*recordPauses=*/false);
      ntemu::ScopedClock useClock(&clock);
      board::SimulatedBoard board{board::BoardConfig{}};
      DyingPorts ports(board.Ports(), told[1]);
      ntemu::ScopedPortSpace usePorts(&ports);
      ntemu::LoadedDriver driver(DriverEntry,
                                 ntemu::ParseRegFile(omzi2c::testing::ParametersFor(2)));
      if (!driver.Loaded()) _exit(3);
      omzi2c::client::InProcessTransport transport(driver.Device());
      omzi2c::client::Client client(transport);
      ports.ArmAtWrite(dieAt);
      client.ReadWithCommand(kModule, kMemoryTypeRegister, 1);
      _exit(4);  // not reached: the process dies in the transaction
    }
    char byte = 0;
    EXPECT_EQ(read(told[0], &byte, 1), 1);  // the child got as far as the write
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    close(told[0]);
    close(told[1]);

    ntemu::VirtualClock clock(/*recordPauses=*/false);
    ntemu::ScopedClock useClock(&clock);
    board::SimulatedBoard board{board::BoardConfig{}};
    ntemu::ScopedPortSpace usePorts(&board.Ports());
    ntemu::LoadedDriver driver(DriverEntry, ntemu::ParseRegFile(omzi2c::testing::ParametersFor(2)));
    ASSERT_TRUE(driver.Loaded());
    omzi2c::client::InProcessTransport transport(driver.Device());
    omzi2c::client::Client client(transport);
    const omzi2c::client::Response response =
        client.ReadWithCommand(kModule, kMemoryTypeRegister, 1);
    EXPECT_TRUE(response.Succeeded());
    EXPECT_EQ(response.reply, std::vector<uint8_t>{kMemoryType});
    EXPECT_EQ(ntemu::DeadHoldersRecovered(kBusEvent), recoveredBefore + 1);
    EXPECT_EQ(ntemu::ProbeSystemWideLock(kBusEvent), ntemu::SharedLockState::Free);
  }
}

// A lock file the driver cannot trust stops start-up as a failed event
// creation does, and the stand-in keeps the reason for the tool to show.
TEST_F(SharedBus, ARefusedLockFileStopsStartUpAndSaysWhy) {
  const std::string path = ntemu::SystemWideLockPath(kBusEvent);
  ASSERT_EQ(symlink("/dev/null", path.c_str()), 0);
  board::SimulatedBoard board{board::BoardConfig{}};
  ntemu::ScopedPortSpace usePorts(&board.Ports());
  ntemu::LoadedDriver driver(DriverEntry, ntemu::ParseRegFile(omzi2c::testing::ParametersFor(2)));
  EXPECT_EQ(driver.Status(), STATUS_MUTANT_NOT_OWNED);
  EXPECT_NE(ntemu::SystemWideEventError().find(path + ": it is a symbolic link"),
            std::string::npos);
  EXPECT_EQ(unlink(path.c_str()), 0);
}

}  // namespace
