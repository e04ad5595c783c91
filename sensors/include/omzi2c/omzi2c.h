// OMZI2C request surface, shared by the driver and its user-mode clients.
//
// Control codes, the layouts of the two request records, the result codes
// carried in error replies, and the NTSTATUS values the driver completes
// requests with. Only <stdint.h>-level types, so the kernel build (freestanding,
// 32-bit) and every user-mode build (32- and 64-bit) see the same layout.
#pragma once

#include <stdint.h>

namespace omzi2c {

// ---------------------------------------------------------------------------
// Device, link and bus event names.
constexpr uint32_t kDeviceType = 0x8007;
#define OMZI2C_DEVICE_NAME L"\\Device\\OMZI2C"
#define OMZI2C_LINK_NAME L"\\DosDevices\\OMZI2C"
#define OMZI2C_USER_PATH "\\\\.\\OMZI2C"
#define OMZI2C_BUS_EVENT_NAME L"\\QRAI2CDriverEvent"

// ---------------------------------------------------------------------------
// Control codes: device type 0x8007, buffered transfer, read (1) or write (2)
// access. Unsigned throughout: 0x8007xxxx does not fit a signed int.
constexpr uint32_t kMethodBuffered = 0;
constexpr uint32_t kAccessRead = 1;
constexpr uint32_t kAccessWrite = 2;

constexpr uint32_t ControlCode(uint32_t function, uint32_t access) {
  return (kDeviceType << 16) | (access << 14) | (function << 2) | kMethodBuffered;
}

constexpr uint32_t kIoctlPortRead = ControlCode(0x801, kAccessRead);
constexpr uint32_t kIoctlPortWrite = ControlCode(0x800, kAccessWrite);
constexpr uint32_t kIoctlReceiveBytes = ControlCode(0x900, kAccessRead);
constexpr uint32_t kIoctlReadWithCommand = ControlCode(0x901, kAccessRead);
constexpr uint32_t kIoctlWriteWithCommand = ControlCode(0x902, kAccessWrite);
constexpr uint32_t kIoctlSendBytes = ControlCode(0x903, kAccessWrite);
constexpr uint32_t kIoctlUnsupported = ControlCode(0x904, kAccessWrite);  // always result 7
constexpr uint32_t kIoctlBlockRead = ControlCode(0x905, kAccessWrite);
constexpr uint32_t kIoctlBlockWrite = ControlCode(0x906, kAccessWrite);
constexpr uint32_t kIoctlExchangeMessage = ControlCode(0x910, kAccessWrite);
constexpr uint32_t kIoctlWriteMessage = ControlCode(0x911, kAccessWrite);

static_assert(kIoctlPortRead == 0x80076004u, "port read code");
static_assert(kIoctlPortWrite == 0x8007A000u, "port write code");
static_assert(kIoctlReceiveBytes == 0x80076400u, "receive bytes code");
static_assert(kIoctlReadWithCommand == 0x80076404u, "read with command code");
static_assert(kIoctlWriteWithCommand == 0x8007A408u, "write with command code");
static_assert(kIoctlSendBytes == 0x8007A40Cu, "send bytes code");
static_assert(kIoctlUnsupported == 0x8007A410u, "unsupported code");
static_assert(kIoctlBlockRead == 0x8007A414u, "block read code");
static_assert(kIoctlBlockWrite == 0x8007A418u, "block write code");
static_assert(kIoctlExchangeMessage == 0x8007A440u, "exchange message code");
static_assert(kIoctlWriteMessage == 0x8007A444u, "write message code");

// ---------------------------------------------------------------------------
// SmbRequest: the record in the request buffer.
//   +0 address  slave address byte as on the bus (7-bit address << 1)
//   +1 command  SMBus command code
//   +4 count    number of data bytes
//   +8 data     bytes to write; the reply is written from offset 0
constexpr uint32_t kSmbAddressOffset = 0;
constexpr uint32_t kSmbCommandOffset = 1;
constexpr uint32_t kSmbCountOffset = 4;
constexpr uint32_t kSmbDataOffset = 8;
constexpr uint32_t kSmbShortRecordLength = 12;  // room for 4 data bytes
constexpr uint32_t kSmbBlockRecordLength = 40;  // room for 32 data bytes
constexpr uint32_t kSmbMaxBlockLength = 32;
constexpr uint32_t kSmbErrorReplyLength = 2;  // result code, last host status

struct SmbRequest {
  uint8_t address;
  uint8_t command;
  uint8_t reserved0[2];
  uint8_t count;
  uint8_t reserved1[3];
  uint8_t data[kSmbMaxBlockLength];
};
static_assert(sizeof(SmbRequest) == kSmbBlockRecordLength, "block record size");
static_assert(__builtin_offsetof(SmbRequest, count) == kSmbCountOffset, "count offset");
static_assert(__builtin_offsetof(SmbRequest, data) == kSmbDataOffset, "data offset");

// ---------------------------------------------------------------------------
// PortRequest: 12 bytes, little-endian.
//   +0 width  0 byte, 1 word, 2 doubleword
//   +4 port   I/O port number
//   +8 value  value to write; on a read, the value read (in the width's size)
constexpr uint32_t kPortWidthByte = 0;
constexpr uint32_t kPortWidthWord = 1;
constexpr uint32_t kPortWidthDword = 2;
constexpr uint32_t kPortWidthOffset = 0;
constexpr uint32_t kPortNumberOffset = 4;
constexpr uint32_t kPortValueOffset = 8;
constexpr uint32_t kPortRequestLength = 12;

struct PortRequest {
  uint32_t width;
  uint32_t port;
  uint32_t value;
};
static_assert(sizeof(PortRequest) == kPortRequestLength, "port record size");

// ---------------------------------------------------------------------------
// Result codes of SMBus operations; byte 0 of an error reply.
typedef uint32_t ResultCode;
constexpr ResultCode kResultSuccess = 0;
constexpr ResultCode kResultNoAcknowledge = 1;
constexpr ResultCode kResultTimeout = 2;
constexpr ResultCode kResultNotSupported = 7;
constexpr ResultCode kResultBusBusy = 8;
constexpr ResultCode kResultHostNotReady = 10;
constexpr ResultCode kResultCollisionOrDeviceError = 11;
constexpr ResultCode kResultAlert = 13;
constexpr ResultCode kResultFailed = 14;
constexpr ResultCode kResultBusError = 15;
constexpr ResultCode kResultDeviceError = 16;
constexpr ResultCode kResultPecError = 17;

// ---------------------------------------------------------------------------
// NTSTATUS values the driver completes requests and start-up with.
constexpr uint32_t kStatusSuccess = 0x00000000u;
constexpr uint32_t kStatusBufferOverflow = 0x80000005u;  // reply cut to the output buffer
constexpr uint32_t kStatusUnsuccessful = 0xC0000001u;
constexpr uint32_t kStatusNotImplemented = 0xC0000002u;
constexpr uint32_t kStatusInvalidParameter = 0xC000000Du;
constexpr uint32_t kStatusNoSuchDevice = 0xC000000Eu;
constexpr uint32_t kStatusInvalidDeviceRequest = 0xC0000010u;
constexpr uint32_t kStatusMutantNotOwned = 0xC0000046u;  // bus event could not be opened
constexpr uint32_t kStatusIoTimeout = 0xC00000B5u;       // the bus was not free within 30 s
constexpr uint32_t kStatusNotSupported = 0xC00000BBu;
constexpr uint32_t kStatusCancelled = 0xC0000120u;  // the caller's thread ended while it waited
constexpr uint32_t kStatusRegistryCorrupt = 0xC000014Cu;
constexpr uint32_t kStatusDeviceConfigurationError = 0xC0000182u;
constexpr uint32_t kStatusIoDeviceError = 0xC0000185u;
constexpr uint32_t kStatusTransactionTimedOut = 0xC0000210u;

}  // namespace omzi2c
