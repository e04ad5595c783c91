// The --state file of the simulated board's memory, shared by runs that may
// go on at the same time. Runs take turns through a lock file beside it
// (FILE.lock), held from opening to the run's end, so that none overwrites
// what another wrote. The file is replaced whole: a new version is written
// beside it, flushed and renamed over it, so that a full disk or a run killed
// at any moment leaves the former version as it was.
#pragma once

#include <functional>
#include <string>

namespace omzi2c::tool {

class StateFile {
 public:
  // Told once when a run has waited this long for another run's hold.
  using WaitNotice = std::function<void(const std::string& message)>;

  StateFile() = default;
  StateFile(const StateFile&) = delete;
  StateFile& operator=(const StateFile&) = delete;
  ~StateFile();

  // Where the notice goes (stderr unless told) and after how many
  // milliseconds of waiting.
  void SetWaitNotice(WaitNotice notice, unsigned afterMilliseconds);

  // Takes the lock and reads the state (none yet is no error). False with
  // the path and the reason, before any wait, when the path cannot be the
  // file: a symbolic link, anything but a regular file, a file this user may
  // not write, or no folder to hold it. A run that writes nothing leaves no
  // file it made.
  bool Open(const std::string& path, std::string* text, std::string* error);
  // Replaces the file's contents.
  bool Write(const std::string& text, std::string* error);

  // Called between the flush of the new version and its rename; for tests.
  std::function<void()> beforeRename;

 private:
  bool TakeLock(std::string* error);
  bool WaitForLock(const std::string& lockPath, std::string* error);
  bool Read(std::string* text, std::string* error) const;
  bool Replace(const std::string& text, std::string* error);

  std::string path_;
  int lock_ = -1;
  bool madeLock_ = false;  // this run made the lock file
  bool wrote_ = false;
  WaitNotice notice_;
  unsigned noticeAfterMs_ = 1000;
};

}  // namespace omzi2c::tool
