// The stand-in's synchronization events: auto-reset semantics, waits that
// end by their time-out or by an interruption without the event, and the
// system-wide lock that serialises processes using the same event name and
// is dropped when a holder dies.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <thread>
#include <vector>

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

// Every thread that takes the event is alone inside until it sets it again,
// whichever way it waited (spinning, yielding or asleep).
TEST(SynchronizationEvent, AdmitsOneThreadAtATime) {
  KEVENT event;
  ntemu::InitializeSynchronizationEvent(event, true);
  std::atomic<int> inside{0};
  int overlaps = 0;
  long entries = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        if (inside.fetch_add(1) != 0) ++overlaps;
        ++entries;  // guarded by the event alone
        inside.fetch_sub(1);
        KeSetEvent(&event, 0, FALSE);
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(entries, 4 * 20000);
  EXPECT_EQ(event.waits.load(), 4u * 20000);
  EXPECT_TRUE(ntemu::IsSignalled(event));
}

TEST(SynchronizationEvent, ASleepingWaiterIsWokenBySet) {
  KEVENT event;
  ntemu::InitializeSynchronizationEvent(event, false);
  std::thread waiter([&] {
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    KeSetEvent(&event, 0, FALSE);
  });
  // The waiter marks the event once it has given up spinning and sleeps.
  while (event.state.load() != ntemu::kEventHeldWithSleepers)
    std::this_thread::yield();
  EXPECT_EQ(KeSetEvent(&event, 0, FALSE), 0);
  waiter.join();
  EXPECT_TRUE(ntemu::IsSignalled(event));
}

// Files of the shared bus lock go to a folder of the test's own.
class SystemWideLock : public ::testing::Test {
 protected:
  std::string name = "\\OmziTestEvent";
  void SetUp() override {
    char folder[] = "/tmp/omzi2c-event-test.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    ntemu::SetSystemWideLockFolder(folder_);
  }
  void TearDown() override {
    std::filesystem::remove_all(folder_);
    ntemu::SetSystemWideLockFolder("");
  }

  // Attaching an event to the lock in `folder` fails, naming `refused`,
  // what is wrong with it (`says`) and how to recover, at once even while
  // another holder keeps the file locked.
  void ExpectRefused(const std::string& folder, const std::string& refused, const char* says) {
    ntemu::SetSystemWideLockFolder(folder);
    const int held = open(refused.c_str(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (held >= 0) {
      EXPECT_EQ(flock(held, LOCK_EX), 0);
    }
    KEVENT event;
    std::string error;
    auto attached = std::async(std::launch::async,
                               [&] { return ntemu::AttachSystemWideLock(event, name, &error); });
    const bool prompt = attached.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (held >= 0) close(held);  // lets a refusal that waited for the lock end
    EXPECT_TRUE(prompt) << refused << " was refused only after the file lock";
    EXPECT_FALSE(attached.get());
    EXPECT_EQ(event.systemLock, nullptr);
    for (const std::string& part : {refused + ": ", std::string(says), std::string("remove it")})
      EXPECT_NE(error.find(part), std::string::npos) << error << " lacks " << part;
  }

  // Runs `hold` in a child process that takes the shared bus lock through an
  // event of its own; returns once the child says it is holding it.
  pid_t ChildHolding() {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t child = fork();
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
    char byte = 0;
    const bool held = child > 0 && read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    close(ready[1]);
    return held ? child : -1;
  }

  std::string folder_;
};

TEST_F(SystemWideLock, HeldBetweenWaitAndSet) {
  KEVENT event;
  ntemu::InitializeSynchronizationEvent(event, true);
  std::string error;
  ASSERT_TRUE(ntemu::AttachSystemWideLock(event, name, &error)) << error;
  EXPECT_EQ(ntemu::ProbeSystemWideLock(name), ntemu::SharedLockState::Free);
  KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
  EXPECT_EQ(ntemu::ProbeSystemWideLock(name), ntemu::SharedLockState::Held);
  EXPECT_EQ(KeSetEvent(&event, 0, FALSE), 0);
  EXPECT_EQ(ntemu::ProbeSystemWideLock(name), ntemu::SharedLockState::Free);
  EXPECT_EQ(KeSetEvent(&event, 0, FALSE), 1);  // setting a free event leaves the lock alone
  EXPECT_EQ(ntemu::ProbeSystemWideLock(name), ntemu::SharedLockState::Free);
  EXPECT_EQ(ntemu::DeadHoldersRecovered(name), 0u);
  ntemu::DetachSystemWideLock(event);
}

TEST_F(SystemWideLock, AHolderThatDiesDoesNotLeaveTheBusLocked) {
  const pid_t child = ChildHolding();
  ASSERT_GT(child, 0);
  EXPECT_EQ(ntemu::ProbeSystemWideLock(name), ntemu::SharedLockState::Held);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));

  KEVENT event;
  ntemu::InitializeSynchronizationEvent(event, true);
  std::string error;
  ASSERT_TRUE(ntemu::AttachSystemWideLock(event, name, &error)) << error;
  KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);  // does not hang
  EXPECT_EQ(ntemu::DeadHoldersRecovered(name), 1u);  // taken over from the dead holder
  KeSetEvent(&event, 0, FALSE);
  EXPECT_EQ(ntemu::ProbeSystemWideLock(name), ntemu::SharedLockState::Free);
  ntemu::DetachSystemWideLock(event);
}

// Alertable waits that end without the event, at their time-out or by a
// user APC (which ends only a wait in user mode), give back what they took
// within the process while another process holds the shared mutex.
TEST_F(SystemWideLock, AWaitThatEndsWithoutTheSharedMutexGivesTheEventBack) {
  const pid_t child = ChildHolding();
  ASSERT_GT(child, 0);
  KEVENT event;
  ntemu::InitializeSynchronizationEvent(event, true);
  std::string error;
  ASSERT_TRUE(ntemu::AttachSystemWideLock(event, name, &error)) << error;
  ntemu::InterruptWait(event, STATUS_USER_APC);
  LARGE_INTEGER none = {};  // a time-out of 0: only look
  for (auto [mode, status] : {std::pair{KernelMode, STATUS_TIMEOUT},
                              {UserMode, STATUS_USER_APC},
                              {UserMode, STATUS_TIMEOUT}}) {
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, mode, TRUE, &none), status);
    EXPECT_TRUE(ntemu::IsSignalled(event));
  }
  EXPECT_EQ(event.waits.load(), 0u);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ntemu::DetachSystemWideLock(event);
}

TEST_F(SystemWideLock, AProbeAlsoRecoversFromADeadHolder) {
  const pid_t child = ChildHolding();
  ASSERT_GT(child, 0);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(ntemu::ProbeSystemWideLock(name), ntemu::SharedLockState::HolderDied);
  EXPECT_EQ(ntemu::ProbeSystemWideLock(name), ntemu::SharedLockState::Free);
  EXPECT_EQ(ntemu::DeadHoldersRecovered(name), 1u);
}

TEST_F(SystemWideLock, AFileOfAnotherLayoutIsSetUpAfresh) {
  const std::string path = ntemu::SystemWideLockPath(name);
  const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);  // as an older lock file was
  ASSERT_GE(fd, 0);
  close(fd);
  KEVENT event;
  ntemu::InitializeSynchronizationEvent(event, true);
  std::string error;
  ASSERT_TRUE(ntemu::AttachSystemWideLock(event, name, &error)) << error;
  KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
  EXPECT_EQ(ntemu::ProbeSystemWideLock(name), ntemu::SharedLockState::Held);
  KeSetEvent(&event, 0, FALSE);
  ntemu::DetachSystemWideLock(event);
}

void WriteFile(const std::string& path, const std::string& bytes, mode_t mode) {
  std::ofstream(path, std::ios::binary) << bytes;
  chmod(path.c_str(), mode);
}

std::string ReadFile(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

// Whatever could have been planted or changed by another user is refused,
// and a planted link's target is left as it was.
TEST_F(SystemWideLock, RefusesAFileOrFolderItCannotTrust) {
  const std::string secret = folder_ + "/secret";
  const std::string header(sizeof(ntemu::SharedBusLock), 'Z');
  WriteFile(secret, header, 0600);
  const std::string file = ntemu::SystemWideLockPath(name).substr(folder_.size());
  // Each case plants in a fresh folder F; the lock folder is F, or F/d for
  // the folder's own faults.
  const struct {
    bool folderFault;  // the lock folder is F/d
    const char* says;
    std::function<void(const std::string& lock)> plant;  // the file or the folder
  } cases[] = {
      {false, "symbolic link",
       [&](auto& lock) { EXPECT_EQ(symlink(secret.c_str(), lock.c_str()), 0); }},
      {false, "10 bytes", [&](auto& lock) { WriteFile(lock, std::string(10, 0), 0600); }},
      {false, "header", [&](auto& lock) { WriteFile(lock, header, 0600); }},
      {false, "2 links",
       [&](auto& lock) {
         WriteFile(lock, "", 0600);
         EXPECT_EQ(link(lock.c_str(), (lock + ".2").c_str()), 0);
       }},
      {false, "mode 0622", [&](auto& lock) { WriteFile(lock, "", 0622); }},
      {false, "mode 0620", [&](auto& lock) { WriteFile(lock, "", 0620); }},
      {false, "mode 0602", [&](auto& lock) { WriteFile(lock, "", 0602); }},
      {false, "not a regular file", [&](auto& lock) { EXPECT_EQ(mkdir(lock.c_str(), 0700), 0); }},
      {false, "not a regular file", [&](auto& lock) { EXPECT_EQ(mkfifo(lock.c_str(), 0600), 0); }},
      {true, "symbolic link",
       [&](auto& lock) { EXPECT_EQ(symlink(folder_.c_str(), lock.c_str()), 0); }},
      {true, "mode 0777",
       [&](auto& lock) {
         EXPECT_EQ(mkdir(lock.c_str(), 0700), 0);
         EXPECT_EQ(chmod(lock.c_str(), 0777), 0);
       }},
      {true, "mode 0770",
       [&](auto& lock) {
         EXPECT_EQ(mkdir(lock.c_str(), 0700), 0);
         EXPECT_EQ(chmod(lock.c_str(), 0770), 0);
       }},
      {true, "mode 0707",
       [&](auto& lock) {
         EXPECT_EQ(mkdir(lock.c_str(), 0700), 0);
         EXPECT_EQ(chmod(lock.c_str(), 0707), 0);
       }},
      {true, "not a directory", [&](auto& lock) { WriteFile(lock, "", 0600); }},
  };
  int n = 0;
  for (const auto& c : cases) {
    std::string folder = folder_ + "/" + std::to_string(++n);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    if (c.folderFault) folder += "/d";
    const std::string refused = c.folderFault ? folder : folder + file;
    c.plant(refused);
    ExpectRefused(folder, refused, c.says);
  }
  EXPECT_EQ(ReadFile(secret), header);
}

// A lock file emptied, or emptied and filled with zeros, while a holder has
// it: the holder is not killed and its threads still take turns; no other
// attacher sets the file up afresh meanwhile, and once the holder is gone the
// next one does.
TEST_F(SystemWideLock, AFileCutWhileHeldNeitherKillsTheHolderNorIsSetUpAgain) {
  const std::string path = ntemu::SystemWideLockPath(name);
  for (const bool refilled : {false, true}) {
    const uint64_t cutBefore = ntemu::SystemWideLocksCut();
    std::thread([&] {  // the holder's own thread, ended with the holder
      KEVENT event;
      ntemu::InitializeSynchronizationEvent(event, true);
      std::string error;
      ASSERT_TRUE(ntemu::AttachSystemWideLock(event, name, &error)) << error;
      KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
      ASSERT_EQ(truncate(path.c_str(), 0), 0);
      if (refilled) {
        ASSERT_EQ(truncate(path.c_str(), sizeof(ntemu::SharedBusLock)), 0);
      }
      KEVENT second;
      ntemu::InitializeSynchronizationEvent(second, true);
      EXPECT_FALSE(ntemu::AttachSystemWideLock(second, name, &error));
      EXPECT_NE(error.find("emptied while another process uses it"), std::string::npos) << error;
      EXPECT_EQ(KeSetEvent(&event, 0, FALSE), 0);
      LARGE_INTEGER none = {};  // the holder's threads still take turns
      EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &none), STATUS_SUCCESS);
      EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &none), STATUS_TIMEOUT);
      ntemu::DetachSystemWideLock(event);
    })
        .join();
    EXPECT_EQ(ntemu::SystemWideLocksCut(), cutBefore + (refilled ? 0 : 1));
    KEVENT event;
    ntemu::InitializeSynchronizationEvent(event, true);
    std::string error;
    ASSERT_TRUE(ntemu::AttachSystemWideLock(event, name, &error)) << error;
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    EXPECT_EQ(ntemu::ProbeSystemWideLock(name), ntemu::SharedLockState::Held);
    KeSetEvent(&event, 0, FALSE);
    ntemu::DetachSystemWideLock(event);
  }
}

// Only root can plant a file or folder of another user (nobody, 65534).
TEST_F(SystemWideLock, RefusesAFileOrFolderOfAnotherUser) {
  if (geteuid() != 0) GTEST_SKIP() << "skipped: planting another user's file needs root";
  for (const bool ownFolder : {true, false}) {
    const std::string folder = folder_ + (ownFolder ? "/mine" : "/theirs");
    const std::string file = folder + ntemu::SystemWideLockPath(name).substr(folder_.size());
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    WriteFile(file, "", 0600);
    ASSERT_EQ(chown((ownFolder ? file : folder).c_str(), 65534, 65534), 0);
    ExpectRefused(folder, ownFolder ? file : folder, "owned by user 65534");
  }
}

// The default folder is the project's own under /run; a folder that is
// missing is made, and nobody but its owner may write to it or its files.
TEST_F(SystemWideLock, KeepsItsFilesInAFolderOnlyItsOwnerMayWrite) {
  ntemu::SetSystemWideLockFolder("");
  EXPECT_EQ(ntemu::SystemWideLockPath("\\QRAI2CDriverEvent"), "/run/omzi2c/qrai2cdriverevent.lock");
  const std::string folder = folder_ + "/made";
  ntemu::SetSystemWideLockFolder(folder);
  KEVENT event;
  std::string error;
  ASSERT_TRUE(ntemu::AttachSystemWideLock(event, name, &error)) << error;
  struct stat info[2];
  ASSERT_EQ(lstat(folder.c_str(), &info[0]), 0);
  ASSERT_EQ(lstat(ntemu::SystemWideLockPath(name).c_str(), &info[1]), 0);
  EXPECT_TRUE(S_ISDIR(info[0].st_mode));
  for (const struct stat& i : info)
    EXPECT_TRUE(i.st_uid == geteuid() && (i.st_mode & 022) == 0) << std::oct << i.st_mode;
}

TEST_F(SystemWideLock, MissingFileProbesAsMissing) {
  EXPECT_EQ(ntemu::ProbeSystemWideLock(name), ntemu::SharedLockState::Missing);
  EXPECT_EQ(ntemu::DeadHoldersRecovered(name), 0u);
}

}  // namespace
