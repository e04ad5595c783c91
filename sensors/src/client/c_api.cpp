// The C interface over the client: arguments checked before any request,
// statuses mapped to the library's, nothing but plain C types crossing.
#include <omzi2c/omzi2c.h>
#include <omzi2c/omzi2c_client.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "c_api_backend.h"
#include "omzi2c_client/holding_transport.h"

using omzi2c::client::Backend;
using omzi2c::client::PortWidth;
using omzi2c::client::Response;

struct omzi2c_handle {
  std::unique_ptr<Backend> backend;
  // The last failure: NTSTATUS in the high half, the result code (or -1) in the low.
  std::atomic<uint64_t> lastFailure{0};
  // A reply kept from one read to the next, so that a thread reading alone
  // allocates nothing once it has grown; a read that finds it taken by
  // another thread's uses one of its own.
  Response reply;
  std::atomic_flag replyTaken = ATOMIC_FLAG_INIT;
};

namespace {

constexpr uint8_t kMaxChip = 0x7F;
constexpr uint32_t kStatusAccessDenied = 0xC0000022;
constexpr char kLibraryVersion[] = "1.0.0";

// Runs `body`, turning anything thrown (only an allocation that failed can
// be) into a failure, since nothing may unwind into a C caller.
template <typename Body>
omzi2c_status Guarded(Body body) {
  try {
    return body();
  } catch (...) {
    return OMZI2C_ERROR_DRIVER;
  }
}

bool GoodLength(size_t length) {
  return length >= 1 && length <= OMZI2C_MAX_LENGTH;
}

bool Usable(omzi2c_handle* handle, uint8_t chip) {
  return handle != nullptr && chip <= kMaxChip;
}

// OMZI2C_OK for a request that succeeded; otherwise the failure is kept for
// omzi2c_last_failure and sorted.
omzi2c_status Outcome(omzi2c_handle* handle, const Response& response) {
  if (response.Succeeded()) return OMZI2C_OK;
  const int32_t result = response.errorReply.size() == omzi2c::kSmbErrorReplyLength
                             ? response.errorReply[OMZI2C_SMB_ERROR_RESULT_OFFSET]
                             : OMZI2C_RESULT_UNKNOWN;
  handle->lastFailure.store(static_cast<uint64_t>(response.status) << 32 |
                            static_cast<uint32_t>(result));
  if (response.status == omzi2c::kStatusIoTimeout) return OMZI2C_ERROR_BUS_HELD;
  if (response.status == kStatusAccessDenied) return OMZI2C_ERROR_ACCESS_DENIED;
  return OMZI2C_ERROR_DRIVER;
}

// A read whose reply must bring `length` bytes to `data`.
omzi2c_status ReadInto(omzi2c_handle* handle, const Response& response, uint8_t* data,
                       size_t length) {
  const omzi2c_status status = Outcome(handle, response);
  if (status != OMZI2C_OK) return status;
  if (response.reply.size() < length) return OMZI2C_ERROR_DRIVER;  // a driver that said less
  std::memcpy(data, response.reply.data(), length);
  return OMZI2C_OK;
}

// The handle's kept reply, or `own` when another thread has it.
class ReplyBuffer {
 public:
  explicit ReplyBuffer(omzi2c_handle* handle)
      : handle_(handle), kept_(!handle->replyTaken.test_and_set(std::memory_order_acquire)) {}
  ~ReplyBuffer() {
    if (kept_) handle_->replyTaken.clear(std::memory_order_release);
  }
  Response* Get() { return kept_ ? &handle_->reply : &own_; }

 private:
  omzi2c_handle* handle_;
  bool kept_;
  Response own_;
};

std::vector<uint8_t> Bytes(const uint8_t* data, size_t length) {
  return std::vector<uint8_t>(data, data + length);
}

bool WidthOf(unsigned bits, PortWidth* width, uint32_t* mask) {
  switch (bits) {
    case 8:
      *width = PortWidth::Byte, *mask = 0xFF;
      return true;
    case 16:
      *width = PortWidth::Word, *mask = 0xFFFF;
      return true;
    case 32:
      *width = PortWidth::Dword, *mask = 0xFFFFFFFF;
      return true;
    default:
      return false;
  }
}

void CopyMessage(const std::string& text, char* message, size_t size) {
  if (message == nullptr || size == 0) return;
  const size_t n = std::min(text.size(), size - 1);
  std::memcpy(message, text.data(), n);
  message[n] = '\0';
}

}  // namespace

extern "C" {

const char* OMZI2C_CALL omzi2c_version(void) {
  return kLibraryVersion;
}

uint32_t OMZI2C_CALL omzi2c_abi_version(void) {
  return OMZI2C_CLIENT_ABI_VERSION;
}

const char* OMZI2C_CALL omzi2c_strerror(omzi2c_status status) {
  switch (status) {
    case OMZI2C_OK:
      return "success";
    case OMZI2C_ERROR_DRIVER:
      return "the driver failed the request";
    case OMZI2C_ERROR_ACCESS_DENIED:
      return "access denied: the driver needs an administrator (on Linux, real ports need root)";
    case OMZI2C_ERROR_NOT_PRESENT:
      return "the driver is not installed or did not start";
    case OMZI2C_ERROR_BUS_HELD:
      return "another program held the bus past the wait limit";
    case OMZI2C_ERROR_BAD_ARGUMENT:
      return "bad argument";
    case OMZI2C_ERROR_ALREADY_OPEN:
      return "this process has the driver open already";
    default:
      return "unknown status";
  }
}

omzi2c_status OMZI2C_CALL omzi2c_open(const char* options, uint32_t flags, omzi2c_handle** handle,
                                      char* message, size_t size) {
  if (handle == nullptr) return OMZI2C_ERROR_BAD_ARGUMENT;
  *handle = nullptr;
  if ((flags & ~OMZI2C_OPEN_NO_SHARED_HOLD) != 0) {
    CopyMessage("unknown flags", message, size);
    return OMZI2C_ERROR_BAD_ARGUMENT;
  }
  std::string reason;
  const omzi2c_status status = Guarded([&] {
    auto opened = std::make_unique<omzi2c_handle>();
    const omzi2c_status s = omzi2c::client::OpenBackend(options, flags, &opened->backend, &reason);
    if (s == OMZI2C_OK) *handle = opened.release();
    return s;
  });
  if (status != OMZI2C_OK) CopyMessage(reason, message, size);
  return status;
}

void OMZI2C_CALL omzi2c_close(omzi2c_handle* handle) {
  delete handle;
}

omzi2c_status OMZI2C_CALL omzi2c_info(omzi2c_handle* handle, int32_t* chipset, uint32_t* base,
                                      uint32_t* services) {
  if (handle == nullptr) return OMZI2C_ERROR_BAD_ARGUMENT;
  int32_t c = 0;
  uint32_t b = 0, s = 0;
  handle->backend->Info(&c, &b, &s);
  if (chipset != nullptr) *chipset = c;
  if (base != nullptr) *base = b;
  if (services != nullptr) *services = s;
  return OMZI2C_OK;
}

omzi2c_status OMZI2C_CALL omzi2c_last_failure(omzi2c_handle* handle, uint32_t* ntstatus,
                                              int32_t* result) {
  if (handle == nullptr) return OMZI2C_ERROR_BAD_ARGUMENT;
  const uint64_t failure = handle->lastFailure.load();
  if (ntstatus != nullptr) *ntstatus = static_cast<uint32_t>(failure >> 32);
  if (result != nullptr) *result = static_cast<int32_t>(static_cast<uint32_t>(failure));
  return OMZI2C_OK;
}

omzi2c_status OMZI2C_CALL omzi2c_port_read(omzi2c_handle* handle, uint16_t port, unsigned width,
                                           uint32_t* value) {
  PortWidth w;
  uint32_t mask;
  if (handle == nullptr || value == nullptr || !WidthOf(width, &w, &mask)) {
    return OMZI2C_ERROR_BAD_ARGUMENT;
  }
  return Guarded([&] {
    const Response r = handle->backend->Requests().PortRead(w, port);
    const omzi2c_status status = Outcome(handle, r);
    if (status != OMZI2C_OK) return status;
    if (r.reply.size() < omzi2c::kPortRequestLength) return OMZI2C_ERROR_DRIVER;
    *value = omzi2c::client::Client::PortValue(r, w) & mask;
    return OMZI2C_OK;
  });
}

omzi2c_status OMZI2C_CALL omzi2c_port_write(omzi2c_handle* handle, uint16_t port, unsigned width,
                                            uint32_t value) {
  PortWidth w;
  uint32_t mask;
  if (handle == nullptr || !WidthOf(width, &w, &mask) || (value & ~mask) != 0) {
    return OMZI2C_ERROR_BAD_ARGUMENT;
  }
  return Guarded(
      [&] { return Outcome(handle, handle->backend->Requests().PortWrite(w, port, value)); });
}

omzi2c_status OMZI2C_CALL omzi2c_receive_byte(omzi2c_handle* handle, uint8_t chip, uint8_t* value) {
  return omzi2c_receive_bytes(handle, chip, value, 1);
}

omzi2c_status OMZI2C_CALL omzi2c_send_byte(omzi2c_handle* handle, uint8_t chip, uint8_t value) {
  return omzi2c_send_bytes(handle, chip, &value, 1);
}

omzi2c_status OMZI2C_CALL omzi2c_read_byte_data(omzi2c_handle* handle, uint8_t chip,
                                                uint8_t command, uint8_t* value) {
  return omzi2c_read_bytes(handle, chip, command, value, 1);
}

omzi2c_status OMZI2C_CALL omzi2c_write_byte_data(omzi2c_handle* handle, uint8_t chip,
                                                 uint8_t command, uint8_t value) {
  return omzi2c_write_bytes(handle, chip, command, &value, 1);
}

omzi2c_status OMZI2C_CALL omzi2c_read_word_data(omzi2c_handle* handle, uint8_t chip,
                                                uint8_t command, uint16_t* value) {
  if (value == nullptr) return OMZI2C_ERROR_BAD_ARGUMENT;
  uint8_t bytes[2];
  const omzi2c_status status = omzi2c_read_bytes(handle, chip, command, bytes, 2);
  if (status == OMZI2C_OK) *value = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
  return status;
}

omzi2c_status OMZI2C_CALL omzi2c_write_word_data(omzi2c_handle* handle, uint8_t chip,
                                                 uint8_t command, uint16_t value) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  return omzi2c_write_bytes(handle, chip, command, bytes, 2);
}

omzi2c_status OMZI2C_CALL omzi2c_block_read(omzi2c_handle* handle, uint8_t chip, uint8_t command,
                                            uint8_t* data, size_t* length) {
  if (!Usable(handle, chip) || data == nullptr || length == nullptr) {
    return OMZI2C_ERROR_BAD_ARGUMENT;
  }
  return Guarded([&] {
    const Response r = handle->backend->Requests().BlockRead(chip, command);
    const omzi2c_status status = Outcome(handle, r);
    if (status != OMZI2C_OK) return status;
    *length = std::min<size_t>(r.reply.size(), OMZI2C_MAX_LENGTH);
    std::memcpy(data, r.reply.data(), *length);
    return OMZI2C_OK;
  });
}

omzi2c_status OMZI2C_CALL omzi2c_block_write(omzi2c_handle* handle, uint8_t chip, uint8_t command,
                                             const uint8_t* data, size_t length) {
  if (!Usable(handle, chip) || data == nullptr || !GoodLength(length)) {
    return OMZI2C_ERROR_BAD_ARGUMENT;
  }
  return Guarded([&] {
    return Outcome(handle,
                   handle->backend->Requests().BlockWrite(chip, command, Bytes(data, length)));
  });
}

omzi2c_status OMZI2C_CALL omzi2c_read_bytes(omzi2c_handle* handle, uint8_t chip, uint8_t command,
                                            uint8_t* data, size_t length) {
  if (!Usable(handle, chip) || data == nullptr || !GoodLength(length)) {
    return OMZI2C_ERROR_BAD_ARGUMENT;
  }
  return Guarded([&] {
    ReplyBuffer reply(handle);
    handle->backend->Requests().ReadWithCommand(chip, command, static_cast<uint8_t>(length),
                                                reply.Get());
    return ReadInto(handle, *reply.Get(), data, length);
  });
}

omzi2c_status OMZI2C_CALL omzi2c_write_bytes(omzi2c_handle* handle, uint8_t chip, uint8_t command,
                                             const uint8_t* data, size_t length) {
  if (!Usable(handle, chip) || data == nullptr || !GoodLength(length)) {
    return OMZI2C_ERROR_BAD_ARGUMENT;
  }
  return Guarded([&] {
    return Outcome(
        handle, handle->backend->Requests().WriteWithCommand(chip, command, Bytes(data, length)));
  });
}

omzi2c_status OMZI2C_CALL omzi2c_receive_bytes(omzi2c_handle* handle, uint8_t chip, uint8_t* data,
                                               size_t length) {
  if (!Usable(handle, chip) || data == nullptr || !GoodLength(length)) {
    return OMZI2C_ERROR_BAD_ARGUMENT;
  }
  return Guarded([&] {
    ReplyBuffer reply(handle);
    handle->backend->Requests().ReceiveBytes(chip, static_cast<uint8_t>(length), reply.Get());
    return ReadInto(handle, *reply.Get(), data, length);
  });
}

omzi2c_status OMZI2C_CALL omzi2c_send_bytes(omzi2c_handle* handle, uint8_t chip,
                                            const uint8_t* data, size_t length) {
  if (!Usable(handle, chip) || data == nullptr || !GoodLength(length)) {
    return OMZI2C_ERROR_BAD_ARGUMENT;
  }
  return Guarded([&] {
    return Outcome(handle, handle->backend->Requests().SendBytes(chip, Bytes(data, length)));
  });
}

omzi2c_status OMZI2C_CALL omzi2c_exchange_message(omzi2c_handle* handle, uint8_t chip,
                                                  const uint8_t* message, size_t length,
                                                  uint8_t* reply, size_t* replyLength) {
  if (!Usable(handle, chip) || message == nullptr || !GoodLength(length) || reply == nullptr ||
      replyLength == nullptr) {
    return OMZI2C_ERROR_BAD_ARGUMENT;
  }
  return Guarded([&] {
    const Response r = handle->backend->Requests().ExchangeMessage(chip, Bytes(message, length));
    const omzi2c_status status = Outcome(handle, r);
    if (status != OMZI2C_OK) return status;
    // The reply: its length byte, then that many bytes.
    if (r.reply.empty() || r.reply[0] + 1u > r.reply.size()) return OMZI2C_ERROR_DRIVER;
    *replyLength = std::min<size_t>(r.reply[0], OMZI2C_MAX_LENGTH);
    std::memcpy(reply, r.reply.data() + 1, *replyLength);
    return OMZI2C_OK;
  });
}

omzi2c_status OMZI2C_CALL omzi2c_write_message(omzi2c_handle* handle, uint8_t chip,
                                               const uint8_t* message, size_t length) {
  if (!Usable(handle, chip) || message == nullptr || !GoodLength(length)) {
    return OMZI2C_ERROR_BAD_ARGUMENT;
  }
  return Guarded([&] {
    return Outcome(handle, handle->backend->Requests().WriteMessage(chip, Bytes(message, length)));
  });
}

omzi2c_status OMZI2C_CALL omzi2c_lock(omzi2c_handle* handle) {
  if (handle == nullptr) return OMZI2C_ERROR_BAD_ARGUMENT;
  if (handle->backend->Holding().Lock() != omzi2c::client::HoldOutcome::kTimedOut) {
    return OMZI2C_OK;
  }
  handle->lastFailure.store(static_cast<uint64_t>(omzi2c::kStatusIoTimeout) << 32 |
                            static_cast<uint32_t>(OMZI2C_RESULT_UNKNOWN));
  return OMZI2C_ERROR_BUS_HELD;
}

omzi2c_status OMZI2C_CALL omzi2c_unlock(omzi2c_handle* handle) {
  if (handle == nullptr) return OMZI2C_ERROR_BAD_ARGUMENT;
  return handle->backend->Holding().Unlock() ? OMZI2C_OK : OMZI2C_ERROR_BAD_ARGUMENT;
}

omzi2c_status OMZI2C_CALL omzi2c_set_wait_limit(omzi2c_handle* handle, uint32_t milliseconds) {
  if (handle == nullptr || milliseconds > omzi2c::client::kHoldWaitLimitMs) {
    return OMZI2C_ERROR_BAD_ARGUMENT;
  }
  handle->backend->Holding().SetWaitLimit(milliseconds);
  return OMZI2C_OK;
}

uint32_t OMZI2C_CALL omzi2c_abandoned(omzi2c_handle* handle) {
  return handle == nullptr ? 0 : handle->backend->Holding().TakeAbandonedCount();
}

}  // extern "C"
