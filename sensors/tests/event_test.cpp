// The stand-in's synchronization events: auto-reset semantics, and the
// system-wide lock that serialises processes using the same event name and
// is dropped when a holder dies.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "ntemu/event.h"

namespace {

TEST(SynchronizationEvent, SatisfiedWaitResetsIt) {
  KEVENT event;
  ntemu::InitializeSynchronizationEvent(event, true);
  KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
  EXPECT_FALSE(ntemu::IsSignalled(event));
  EXPECT_EQ(KeSetEvent(&event, 0, FALSE), 0);  // was not signalled
  EXPECT_TRUE(ntemu::IsSignalled(event));
  EXPECT_EQ(KeSetEvent(&event, 0, FALSE), 1);
}

TEST(SynchronizationEvent, ReleasesOneWaiterPerSet) {
  KEVENT event;
  ntemu::InitializeSynchronizationEvent(event, false);
  int entered = 0;
  std::thread waiter([&] {
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    entered = 1;
  });
  KeSetEvent(&event, 0, FALSE);
  waiter.join();
  EXPECT_EQ(entered, 1);
  EXPECT_FALSE(ntemu::IsSignalled(event));  // consumed by the waiter
}

class SystemWideLock : public ::testing::Test {
 protected:
  std::string name = "\\OmziTestEvent" + std::to_string(getpid());
  void TearDown() override { unlink(ntemu::SystemWideLockPath(name).c_str()); }

  // True when another open file description can take the lock right now.
  bool LockIsFree() {
    const int fd = open(ntemu::SystemWideLockPath(name).c_str(), O_RDWR);
    if (fd < 0) return false;
    const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
  }
};

TEST_F(SystemWideLock, HeldBetweenWaitAndSet) {
  KEVENT event;
  ntemu::InitializeSynchronizationEvent(event, true);
  std::string error;
  ASSERT_TRUE(ntemu::AttachSystemWideLock(event, name, &error)) << error;
  EXPECT_TRUE(LockIsFree());
  KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
  EXPECT_FALSE(LockIsFree());
  KeSetEvent(&event, 0, FALSE);
  EXPECT_TRUE(LockIsFree());
  KeSetEvent(&event, 0, FALSE);  // setting a free event leaves the lock alone
  EXPECT_TRUE(LockIsFree());
  ntemu::DetachSystemWideLock(event);
}

TEST_F(SystemWideLock, AHolderThatDiesDoesNotLeaveTheBusLocked) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    KEVENT event;
    ntemu::InitializeSynchronizationEvent(event, true);
    std::string error;
    if (!ntemu::AttachSystemWideLock(event, name, &error)) _exit(3);
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    if (write(ready[1], "x", 1) != 1) _exit(4);
    pause();  // dies holding the lock when killed
    _exit(0);
  }
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  EXPECT_FALSE(LockIsFree());  // the other process holds the bus
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(LockIsFree());

  KEVENT event;
  ntemu::InitializeSynchronizationEvent(event, true);
  std::string error;
  ASSERT_TRUE(ntemu::AttachSystemWideLock(event, name, &error)) << error;
  KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);  // does not hang
  KeSetEvent(&event, 0, FALSE);
  ntemu::DetachSystemWideLock(event);
  close(ready[0]);
  close(ready[1]);
}

}  // namespace
