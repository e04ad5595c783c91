// The --state file of the simulated board's memory, shared by runs that may
// go on at the same time: a run holds the file locked from opening to its
// end, so that runs take turns and none overwrites what another wrote.
#pragma once

#include <string>

namespace omzi2c::tool {

class StateFile {
 public:
  StateFile() = default;
  StateFile(const StateFile&) = delete;
  StateFile& operator=(const StateFile&) = delete;
  ~StateFile();

  // Opens the file (creating it empty), waits for the lock and reads it;
  // false with the system's reason when the path cannot be read and
  // written, a directory for instance.
  bool Open(const std::string& path, std::string* text, std::string* error);
  // Replaces the file's contents; an interrupt or termination asked for
  // meanwhile waits until the file is whole.
  bool Write(const std::string& text, std::string* error);

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace omzi2c::tool
