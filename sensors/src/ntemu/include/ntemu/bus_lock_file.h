// The part of a named event that other processes share: a small file in the
// lock folder holding a process-shared, robust mutex, mapped by every process
// that attaches the event's name. Holding the event then also holds the
// mutex (see KeWaitForSingleObject and KeSetEvent).
#pragma once

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "ntemu/nt.h"

namespace ntemu {

// The mapped file: one per event name, shared by every process that attaches
// it. The magic is written last, once the mutex is set up.
struct SharedBusLock {
  uint32_t magic;
  uint32_t size;
  pthread_mutex_t mutex;              // process-shared, robust
  std::atomic<uint64_t> deadHolders;  // takers that found the holder dead
};

// Takes the shared mutex, taking it over from a holder that died. With
// `until` (on CLOCK_REALTIME), false when another holder still has it then;
// a time already past makes it one try.
bool TakeShared(SharedBusLock& shared, const struct timespec* until);

// Makes holding the event also hold a mutex shared with every process that
// attaches the same name: a process-shared, robust mutex in a small file
// mapped from the lock folder. Taking and releasing it uncontended costs no
// system call. A holder that dies, in or out of a transaction, is noticed by
// the next taker, which makes the mutex consistent and carries on, so a
// crashed process never leaves the bus held. False with the reason when the
// file cannot be opened or mapped, or is refused: the folder and the file
// are never followed through a link, and either must belong to this
// process's user with nobody else allowed to write it; the file must be a
// regular file with one link, the size of the lock and its header (or be new
// and empty). These are checked before the file lock that serialises the
// set-up is waited for. A file emptied or cleared while another process has
// it attached is refused rather than set up afresh; the process holding it
// goes on, its own threads still taking turns (see SystemWideLocksCut).
bool AttachSystemWideLock(KEVENT& event, const std::string& name, std::string* error);
void DetachSystemWideLock(KEVENT& event);
// How many times a mapped lock file of this process was found cut short;
// each such mapping was given a private page in its place.
uint64_t SystemWideLocksCut();
// Where the shared file of `name` lives: in the lock folder (below), named
// after the event.
std::string SystemWideLockPath(const std::string& name);
// The lock folder: /run/omzi2c unless set, made (mode 0755) when missing;
// an empty folder goes back to that default. For tests, which keep their
// files to themselves.
void SetSystemWideLockFolder(const std::string& folder);

// How the shared mutex of `name` stands, seen from a fresh mapping by
// another thread: free, held by a live holder, or left by a dead one (which
// the probe then recovers, as a taker would). Missing when no usable file
// exists.
enum class SharedLockState { Free, Held, HolderDied, Missing };
SharedLockState ProbeSystemWideLock(const std::string& name);
// How many takers so far found the holder of `name` dead and recovered the
// mutex (0 when no file exists).
uint64_t DeadHoldersRecovered(const std::string& name);

}  // namespace ntemu
