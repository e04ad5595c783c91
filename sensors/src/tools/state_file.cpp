#include "tools/state_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace omzi2c::tool {

namespace {

constexpr mode_t kNewFileMode = 0666;  // less the umask

std::string Reason(const std::string& path, int error) {
  return path + ": " + std::strerror(error);
}

// Holds off the signals that end a run (Ctrl-C, hang-up, termination) for
// its lifetime.
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
  if (fd_ >= 0) close(fd_);  // releases the lock
}

bool StateFile::Open(const std::string& path, std::string* text, std::string* error) {
  path_ = path;
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kNewFileMode);
  if (fd_ < 0) {
    *error = Reason(path, errno);
    return false;
  }
  int locked;
  do {
    locked = flock(fd_, LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    *error = Reason(path, errno);
    return false;
  }
  text->clear();
  char buffer[4096];
  for (;;) {
    const ssize_t count = read(fd_, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      *error = Reason(path, errno);
      return false;
    }
    if (count == 0) return true;
    text->append(buffer, static_cast<size_t>(count));
  }
}

bool StateFile::Write(const std::string& text, std::string* error) {
  const SignalsHeld held;
  if (ftruncate(fd_, 0) != 0) {
    *error = Reason(path_, errno);
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t count =
        pwrite(fd_, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      *error = Reason(path_, errno);
      return false;
    }
    done += static_cast<size_t>(count);
  }
  return true;
}

}  // namespace omzi2c::tool
