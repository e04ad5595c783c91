// Multi-byte operations and retries built from the routed primitives.
//
// Two retry shapes, both with a 1 ms pause between attempts:
//  - per item: the same byte is tried up to 8 times in all;
//  - whole operation: the whole sequence is started again, up to 9 times.
#include "hosts/host_contract.h"
#include "platform/port_io.h"

namespace {

constexpr ULONG kItemAttempts = 8;
constexpr ULONG kOperationRetries = 8;  // after the first attempt: 9 in all

void RetryPause() {
  SmbDelay(kDelay1ms);
}

void ClearBytes(UCHAR* buffer, ULONG count) {
  for (ULONG i = 0; i < count; ++i)
    buffer[i] = 0;
}

template <typename Attempt>
ResultCode RetryItem(Attempt attempt) {
  for (ULONG failed = 0;;) {
    const ResultCode result = attempt();
    if (result == kResultSuccess) return result;
    if (++failed == kItemAttempts) return result;
    RetryPause();
  }
}

template <typename Attempt>
ResultCode RetryOperation(Attempt attempt) {
  for (ULONG retries = 0;; ++retries) {
    const ResultCode result = attempt();
    if (result == kResultSuccess) return result;
    if (retries == kOperationRetries) return result;
    RetryPause();
  }
}

// One attempt of ReadWithCommand: a word read for count 2, otherwise a byte
// read at the command followed by receive bytes (the device is expected to
// move its register pointer on after each byte).
ResultCode ReadWithCommandOnce(UCHAR address, UCHAR command, UCHAR* buffer, UCHAR count) {
  ClearBytes(buffer, count);
  if (count == 2) {
    USHORT word = 0;
    const ResultCode result = Route::ReadWordData(address, command, &word);
    if (result != kResultSuccess) return result;
    buffer[0] = static_cast<UCHAR>(word & 0xFF);
    buffer[1] = static_cast<UCHAR>(word >> 8);
    return kResultSuccess;
  }
  UCHAR byte = 0;
  ResultCode result = Route::ReadByteData(address, command, &byte);
  if (result != kResultSuccess) return result;
  buffer[0] = byte;  // also for count 0
  for (ULONG i = 1; i < count; ++i) {
    result = Route::ReceiveByte(address, &byte);
    if (result != kResultSuccess) return result;
    buffer[i] = byte;
  }
  return kResultSuccess;
}

}  // namespace

ResultCode SendBytes(UCHAR address, const UCHAR* data, UCHAR count) {
  for (ULONG i = 0; i < count; ++i) {
    const ResultCode result = Route::SendByte(address, data[i]);
    if (result != kResultSuccess) return result;
  }
  return kResultSuccess;
}

ResultCode ReceiveBytes(UCHAR address, UCHAR* buffer, UCHAR count) {
  ClearBytes(buffer, count);
  for (ULONG i = 0; i < count; ++i) {
    UCHAR byte = 0;
    const ResultCode result = RetryItem([&] { return Route::ReceiveByte(address, &byte); });
    if (result != kResultSuccess) return result;
    buffer[i] = byte;
  }
  return kResultSuccess;
}

ResultCode ReadWithCommand(UCHAR address, UCHAR command, UCHAR* buffer, UCHAR count) {
  return RetryOperation([&] { return ReadWithCommandOnce(address, command, buffer, count); });
}

ResultCode WriteWithCommand(UCHAR address, UCHAR command, const UCHAR* data, UCHAR count) {
  if (count == 2) {
    const USHORT word = static_cast<USHORT>(data[0] | (data[1] << 8));
    return RetryOperation([&] { return Route::WriteWordData(address, command, word); });
  }
  for (ULONG i = 0; i < count; ++i) {
    const UCHAR itemCommand = static_cast<UCHAR>(command + i);  // wraps from 0xFF to 0x00
    const ResultCode result =
        RetryItem([&] { return Route::WriteByteData(address, itemCommand, data[i]); });
    if (result != kResultSuccess) return result;
  }
  return kResultSuccess;
}
