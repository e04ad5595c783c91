// What every host controller model shares about the start of a transaction:
// it counts the start commands written to it, notices one written while a
// transaction is still running (two transactions would overlap on the bus),
// and tells its owner before it looks at its faults, so that the board can
// switch faults per transaction.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

namespace board {

class StartWatch {
 public:
  // Called at every start command, before the model acts on it.
  void OnStartCommand(std::function<void()> hook) { hook_ = std::move(hook); }
  uint64_t StartCommands() const { return startCommands_; }
  // Start commands written while a transaction was running.
  uint64_t Overlaps() const { return overlaps_; }

 protected:
  void StartCommandWritten(bool running) {
    ++startCommands_;
    if (running) ++overlaps_;
    if (hook_) hook_();
  }

 private:
  std::function<void()> hook_;
  uint64_t startCommands_ = 0;
  uint64_t overlaps_ = 0;
};

}  // namespace board
