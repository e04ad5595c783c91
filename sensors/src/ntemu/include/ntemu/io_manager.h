// The stand-in's I/O manager: issues requests to a driver's dispatch routine
// the way the real one does for buffered (METHOD_BUFFERED) device control.
#pragma once

#include <cstdint>
#include <vector>

#include "ntemu/nt.h"

namespace ntemu {

// What came of one request.
struct IoCompletion {
  NTSTATUS status;
  ULONG_PTR information;  // what the driver reported as transferred
  ULONG bytesReturned;    // what reached the caller's output buffer
  bool completed;         // the driver completed the request
  bool driverFault;       // transferred length beyond the output buffer, or
                          // returned status differs from the completed one
};

struct IoResult : IoCompletion {
  // The system buffer as the driver left it: shows what a failed request
  // wrote there (an error reply), which the caller does not receive.
  std::vector<uint8_t> systemBuffer;
};

// Byte the system buffer is filled with before the input is copied in, so
// that a driver reading past the input meets a recognisable pattern.
constexpr uint8_t kSystemBufferPoison = 0xCD;

// Buffered device control: a system buffer of max(input, output) bytes, the
// input copied in, the rest poisoned; dispatch; on completion the transferred
// length is copied back to `output` unless the status is an error status.
IoResult DeviceIoControl(PDEVICE_OBJECT device, ULONG code, const void* input, ULONG inputLength,
                         void* output, ULONG outputLength);

// A request with no buffers and the given major function (create, close, ...).
IoResult SendRequest(PDEVICE_OBJECT device, UCHAR majorFunction);

// The IRP, stack location and system buffer of one session with a device,
// reused from one request to the next as the real I/O manager's lookaside
// lists reuse them: a request allocates nothing unless it is larger than any
// before it (the buffer starts at the size of the largest SMBus request). One
// slot serves one thread at a time.
class RequestSlot {
 public:
  static constexpr ULONG kInitialBuffer = 256;

  explicit RequestSlot(PDEVICE_OBJECT device, ULONG bufferBytes = kInitialBuffer);

  // Buffered device control, as DeviceIoControl above.
  const IoCompletion& DeviceIoControl(ULONG code, const void* input, ULONG inputLength,
                                      void* output, ULONG outputLength);
  // The last request's system buffer as the driver left it.
  const uint8_t* SystemBuffer() const { return buffer_.data(); }
  ULONG SystemBufferLength() const { return length_; }

 private:
  PDEVICE_OBJECT device_;
  IRP irp_{};
  IO_STACK_LOCATION stack_{};
  std::vector<uint8_t> buffer_;
  ULONG length_ = 0;
  IoCompletion last_{};
};

}  // namespace ntemu
