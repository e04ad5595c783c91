#include "tools/state_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace omzi2c::tool {

namespace {

constexpr mode_t kNewFileMode = 0666;  // less the umask
constexpr long kLockPollNs = 10 * 1000 * 1000;
const char kLockSuffix[] = ".lock";
const char kNewSuffix[] = ".new";

std::string Reason(const std::string& path, int error) {
  return path + ": " + std::strerror(error);
}

const char* KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISDIR(mode)) return "a directory";
  return "not a regular file";
}

// Opens `path` for `flags` without following a link and without blocking on
// a FIFO; -1 with the reason, naming the path, when it is not a regular file.
int OpenRegular(const std::string& path, int flags, std::string* error, mode_t mode = 0) {
  const int fd = open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
  if (fd < 0) {
    struct stat info;
    if (errno == ELOOP && lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
      *error = path + ": a symbolic link, which is not followed";
    } else if (errno == EISDIR) {
      *error = path + ": a directory, not a regular file";
    } else {
      *error = Reason(path, errno);
    }
    return -1;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    *error = Reason(path, errno);
  } else if (!S_ISREG(info.st_mode)) {
    *error = path + ": " + KindOf(info.st_mode) + ", not a regular file";
  } else {
    return fd;
  }
  close(fd);
  errno = EINVAL;  // not ENOENT: the path is there, and refused
  return -1;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t count = write(fd, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return false;
    done += static_cast<size_t>(count);
  }
  return true;
}

// Holds off the signals that end a run (Ctrl-C, hang-up, termination) for
// its lifetime, so that no new version is left half made.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
      sigaddset(&held, signal);
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_;
};

}  // namespace

StateFile::~StateFile() {
  if (lock_ < 0) return;
  // A lock file this run made for nothing it wrote goes again, so that a
  // run that only reads leaves no file behind; a run waiting on it finds it
  // gone once it has it, and takes the lock afresh.
  if (madeLock_ && !wrote_) unlink((path_ + kLockSuffix).c_str());
  close(lock_);  // releases the lock
}

void StateFile::SetWaitNotice(WaitNotice notice, unsigned afterMilliseconds) {
  notice_ = std::move(notice);
  noticeAfterMs_ = afterMilliseconds;
}

bool StateFile::Open(const std::string& path, std::string* text, std::string* error) {
  path_ = path;
  // The path is checked before any wait for another run.
  const int fd = OpenRegular(path, O_RDWR, error);
  if (fd >= 0) {
    close(fd);
  } else if (errno != ENOENT) {
    return false;
  } else {
    struct stat folder;
    if (stat(FolderOf(path).c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
      *error = path + ": its folder " + FolderOf(path) + " does not exist";
      return false;
    }
  }
  return TakeLock(error) && Read(text, error);
}

// Opens the lock file, making it if missing, and waits for its lock, saying
// so once the wait grows long. The lock counts only on the file that still
// has the name once it is held: a lock file removed meanwhile is taken again.
bool StateFile::TakeLock(std::string* error) {
  const std::string lockPath = path_ + kLockSuffix;
  for (;;) {
    madeLock_ = false;
    lock_ = OpenRegular(lockPath, O_RDWR, error);
    if (lock_ < 0 && errno == ENOENT) {
      lock_ = OpenRegular(lockPath, O_RDWR | O_CREAT | O_EXCL, error, kNewFileMode);
      madeLock_ = lock_ >= 0;
      if (lock_ < 0 && errno == EEXIST) continue;
    }
    if (lock_ < 0) return false;
    if (!WaitForLock(lockPath, error)) return false;
    struct stat held, named;
    if (fstat(lock_, &held) == 0 && lstat(lockPath.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      return true;
    }
    close(lock_);
    lock_ = -1;
  }
}

bool StateFile::WaitForLock(const std::string& lockPath, std::string* error) {
  struct timespec started;
  clock_gettime(CLOCK_MONOTONIC, &started);
  bool told = false;
  while (flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      *error = Reason(lockPath, errno);
      return false;
    }
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long waitedMs =
        (now.tv_sec - started.tv_sec) * 1000LL + (now.tv_nsec - started.tv_nsec) / 1000000;
    if (!told && waitedMs >= noticeAfterMs_) {
      told = true;
      const std::string message =
          "waiting for another run that holds " + path_ + " (" + lockPath + ")";
      if (notice_) {
        notice_(message);
      } else {
        std::cerr << "omzi2c: " << message << "\n";
      }
    }
    const struct timespec pause = {0, kLockPollNs};
    nanosleep(&pause, nullptr);
  }
  return true;
}

bool StateFile::Read(std::string* text, std::string* error) const {
  text->clear();
  const int fd = OpenRegular(path_, O_RDONLY, error);
  if (fd < 0) return errno == ENOENT;
  char buffer[4096];
  for (;;) {
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      if (count < 0) *error = Reason(path_, errno);
      close(fd);
      return count == 0;
    }
    text->append(buffer, static_cast<size_t>(count));
  }
}

bool StateFile::Write(const std::string& text, std::string* error) {
  if (!Replace(text, error)) return false;
  wrote_ = true;
  return true;
}

// The new version beside the file, flushed, then renamed over it; on any
// failure the new version is removed and the file left as it was.
bool StateFile::Replace(const std::string& text, std::string* error) {
  const SignalsHeld held;
  const std::string newPath = path_ + kNewSuffix;
  struct stat old;
  const mode_t mode = stat(path_.c_str(), &old) == 0 ? (old.st_mode & 07777) : kNewFileMode;
  unlink(newPath.c_str());  // left by a run that was killed; the lock makes it ours
  const int fd = OpenRegular(newPath, O_WRONLY | O_CREAT | O_EXCL, error, mode);
  if (fd < 0) return false;
  bool written = WriteAll(fd, text) && fsync(fd) == 0;
  int writeError = errno;
  if (close(fd) != 0 && written) {
    written = false;
    writeError = errno;
  }
  if (written && beforeRename) beforeRename();
  if (!written || rename(newPath.c_str(), path_.c_str()) != 0) {
    *error = Reason(path_, written ? errno : writeError) + "; it keeps its former contents";
    unlink(newPath.c_str());
    return false;
  }
  const int folder = open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);  // the rename itself reaches the disk
    close(folder);
  }
  return true;
}

}  // namespace omzi2c::tool
