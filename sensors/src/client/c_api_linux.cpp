// The C interface on Linux: the library holds the driver itself, loaded as
// the omzi2c tool loads it, on the simulated board or on real ports.
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <sstream>

#include "c_api_backend.h"
#include "controller_state.h"
#include "tools/cli.h"
#include "tools/session.h"

namespace omzi2c::client {

namespace {

// The driver's state is the process's: one open handle at a time.
std::atomic<bool> driverTaken{false};

class SessionBackend : public Backend {
 public:
  explicit SessionBackend(std::unique_ptr<tool::Session> session) : session_(std::move(session)) {}
  ~SessionBackend() override {
    session_.reset();  // unloads the driver before the next open may load it
    driverTaken.store(false);
  }

  Client& Requests() override { return session_->Client(); }
  HoldingTransport& Holding() override { return session_->Holding(); }
  void Info(int32_t* chipset, uint32_t* base, uint32_t* services) override {
    *chipset = Controller.Chipset;
    *base = Controller.SmbBase;
    *services = (Controller.ISAPortDriverEnable ? OMZI2C_SERVICE_PORTS : 0u) |
                (Controller.I2CDriverEnable ? OMZI2C_SERVICE_SMBUS : 0u);
  }

 private:
  std::unique_ptr<tool::Session> session_;
};

std::vector<std::string> Words(const char* text) {
  std::vector<std::string> words;
  std::istringstream in(text == nullptr ? "" : text);
  for (std::string word; in >> word;)
    words.push_back(word);
  return words;
}

}  // namespace

omzi2c_status OpenBackend(const char* options, uint32_t flags, std::unique_ptr<Backend>* backend,
                          std::string* message) {
  tool::GlobalOptions parsed;
  if (!tool::ParseSessionOptions(Words(options), &parsed, message)) {
    return OMZI2C_ERROR_BAD_ARGUMENT;
  }
  parsed.sharedHold = (flags & OMZI2C_OPEN_NO_SHARED_HOLD) == 0;
  if (parsed.board == "ports" && geteuid() != 0) {
    *message = "real I/O ports need root";
    return OMZI2C_ERROR_ACCESS_DENIED;
  }
  if (driverTaken.exchange(true)) {
    *message = "this process has the driver open already: close that handle first";
    return OMZI2C_ERROR_ALREADY_OPEN;
  }
  int exitStatus = 0;
  auto session = tool::OpenSession(parsed, std::cerr, message, &exitStatus);
  if (!session) {
    driverTaken.store(false);
    return exitStatus == tool::kExitUsage ? OMZI2C_ERROR_BAD_ARGUMENT : OMZI2C_ERROR_NOT_PRESENT;
  }
  *backend = std::make_unique<SessionBackend>(std::move(session));
  return OMZI2C_OK;
}

}  // namespace omzi2c::client
