// OMZI2C request surface, shared by the driver and its user-mode callers.
//
// Control codes, the layouts of the two request records, the result codes
// carried in error replies, and the NTSTATUS values the driver completes
// requests with. Only <stdint.h>- and <stddef.h>-level headers, so the kernel
// build (freestanding, 32-bit) and every user-mode build (32- and 64-bit) see
// the same layout.
//
// The header compiles as C (C99 and later) and as C++. The names of C and of
// other languages' bindings are the OMZI2C_ macros and the two record structs;
// C++ code also gets them as constants in namespace omzi2c, defined from the
// macros, so each value is written once.
#ifndef OMZI2C_OMZI2C_H
#define OMZI2C_OMZI2C_H

#include <stddef.h>
#include <stdint.h>

// A compile-time check in either language; `name` is a plain identifier.
// Before C11 a negative array size stops the compile instead.
#if defined(__cplusplus)
#define OMZI2C_STATIC_ASSERT(condition, name) static_assert(condition, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define OMZI2C_STATIC_ASSERT(condition, name) _Static_assert(condition, #name)
#else
#define OMZI2C_STATIC_ASSERT(condition, name) \
  typedef char omzi2c_static_assert_##name[(condition) ? 1 : -1]
#endif

// ---------------------------------------------------------------------------
// Device, link and bus event names. User mode opens OMZI2C_USER_PATH.
#define OMZI2C_DEVICE_TYPE 0x8007u
#define OMZI2C_DEVICE_NAME L"\\Device\\OMZI2C"
#define OMZI2C_LINK_NAME L"\\DosDevices\\OMZI2C"
#define OMZI2C_USER_PATH "\\\\.\\OMZI2C"
#define OMZI2C_BUS_EVENT_NAME L"\\QRAI2CDriverEvent"

// ---------------------------------------------------------------------------
// Control codes: device type 0x8007, buffered transfer, read (1) or write (2)
// access. Unsigned throughout: 0x8007xxxx does not fit a signed int (nor a C
// enum). Reading codes need a handle opened for reading; the others need one
// opened for writing.
#define OMZI2C_METHOD_BUFFERED 0u
#define OMZI2C_ACCESS_READ 1u
#define OMZI2C_ACCESS_WRITE 2u
#define OMZI2C_CONTROL_CODE(function, access) \
  ((OMZI2C_DEVICE_TYPE << 16) | ((access) << 14) | ((function) << 2) | OMZI2C_METHOD_BUFFERED)

#define OMZI2C_IOCTL_PORT_READ 0x80076004u
#define OMZI2C_IOCTL_PORT_WRITE 0x8007A000u
#define OMZI2C_IOCTL_RECEIVE_BYTES 0x80076400u
#define OMZI2C_IOCTL_READ_WITH_COMMAND 0x80076404u
#define OMZI2C_IOCTL_WRITE_WITH_COMMAND 0x8007A408u
#define OMZI2C_IOCTL_SEND_BYTES 0x8007A40Cu
#define OMZI2C_IOCTL_UNSUPPORTED 0x8007A410u  // always result 7
#define OMZI2C_IOCTL_BLOCK_READ 0x8007A414u
#define OMZI2C_IOCTL_BLOCK_WRITE 0x8007A418u
#define OMZI2C_IOCTL_EXCHANGE_MESSAGE 0x8007A440u
#define OMZI2C_IOCTL_WRITE_MESSAGE 0x8007A444u

OMZI2C_STATIC_ASSERT(OMZI2C_IOCTL_PORT_READ == OMZI2C_CONTROL_CODE(0x801u, OMZI2C_ACCESS_READ),
                     port_read_code);
OMZI2C_STATIC_ASSERT(OMZI2C_IOCTL_PORT_WRITE == OMZI2C_CONTROL_CODE(0x800u, OMZI2C_ACCESS_WRITE),
                     port_write_code);
OMZI2C_STATIC_ASSERT(OMZI2C_IOCTL_RECEIVE_BYTES == OMZI2C_CONTROL_CODE(0x900u, OMZI2C_ACCESS_READ),
                     receive_bytes_code);
OMZI2C_STATIC_ASSERT(OMZI2C_IOCTL_READ_WITH_COMMAND ==
                         OMZI2C_CONTROL_CODE(0x901u, OMZI2C_ACCESS_READ),
                     read_with_command_code);
OMZI2C_STATIC_ASSERT(OMZI2C_IOCTL_WRITE_WITH_COMMAND ==
                         OMZI2C_CONTROL_CODE(0x902u, OMZI2C_ACCESS_WRITE),
                     write_with_command_code);
OMZI2C_STATIC_ASSERT(OMZI2C_IOCTL_SEND_BYTES == OMZI2C_CONTROL_CODE(0x903u, OMZI2C_ACCESS_WRITE),
                     send_bytes_code);
OMZI2C_STATIC_ASSERT(OMZI2C_IOCTL_UNSUPPORTED == OMZI2C_CONTROL_CODE(0x904u, OMZI2C_ACCESS_WRITE),
                     unsupported_code);
OMZI2C_STATIC_ASSERT(OMZI2C_IOCTL_BLOCK_READ == OMZI2C_CONTROL_CODE(0x905u, OMZI2C_ACCESS_WRITE),
                     block_read_code);
OMZI2C_STATIC_ASSERT(OMZI2C_IOCTL_BLOCK_WRITE == OMZI2C_CONTROL_CODE(0x906u, OMZI2C_ACCESS_WRITE),
                     block_write_code);
OMZI2C_STATIC_ASSERT(OMZI2C_IOCTL_EXCHANGE_MESSAGE ==
                         OMZI2C_CONTROL_CODE(0x910u, OMZI2C_ACCESS_WRITE),
                     exchange_message_code);
OMZI2C_STATIC_ASSERT(OMZI2C_IOCTL_WRITE_MESSAGE == OMZI2C_CONTROL_CODE(0x911u, OMZI2C_ACCESS_WRITE),
                     write_message_code);

// ---------------------------------------------------------------------------
// OMZI2C_SMB_REQUEST: the record in the request buffer.
//   +0 address  slave address byte as on the bus (7-bit address << 1)
//   +1 command  SMBus command code
//   +4 count    number of data bytes
//   +8 data     bytes to write; the reply is written from offset 0
// Most codes take the short record (its first 12 bytes, room for 4 data
// bytes); block read and write and the two message codes take all 40. A write
// with command and a send bytes carry exactly 11 + count bytes.
//
// Error reply of a failed read (receive bytes, read with command, block read,
// message exchange): byte 0 the result code, byte 1 the host's last status.
// Windows passes no output of a failed request back to its caller, so there
// only the status is seen.
#define OMZI2C_SMB_ADDRESS_OFFSET 0u
#define OMZI2C_SMB_COMMAND_OFFSET 1u
#define OMZI2C_SMB_COUNT_OFFSET 4u
#define OMZI2C_SMB_DATA_OFFSET 8u
#define OMZI2C_SMB_SHORT_RECORD_LENGTH 12u
#define OMZI2C_SMB_BLOCK_RECORD_LENGTH 40u
#define OMZI2C_SMB_MAX_BLOCK_LENGTH 32u
#define OMZI2C_SMB_ERROR_REPLY_LENGTH 2u
#define OMZI2C_SMB_ERROR_RESULT_OFFSET 0u
#define OMZI2C_SMB_ERROR_HOST_STATUS_OFFSET 1u

typedef struct OMZI2C_SMB_REQUEST {
  uint8_t address;
  uint8_t command;
  uint8_t reserved0[2];
  uint8_t count;
  uint8_t reserved1[3];
  uint8_t data[OMZI2C_SMB_MAX_BLOCK_LENGTH];
} OMZI2C_SMB_REQUEST;

OMZI2C_STATIC_ASSERT(sizeof(OMZI2C_SMB_REQUEST) == OMZI2C_SMB_BLOCK_RECORD_LENGTH,
                     smb_block_record_size);
OMZI2C_STATIC_ASSERT(offsetof(OMZI2C_SMB_REQUEST, address) == OMZI2C_SMB_ADDRESS_OFFSET,
                     smb_address_offset);
OMZI2C_STATIC_ASSERT(offsetof(OMZI2C_SMB_REQUEST, command) == OMZI2C_SMB_COMMAND_OFFSET,
                     smb_command_offset);
OMZI2C_STATIC_ASSERT(offsetof(OMZI2C_SMB_REQUEST, count) == OMZI2C_SMB_COUNT_OFFSET,
                     smb_count_offset);
OMZI2C_STATIC_ASSERT(offsetof(OMZI2C_SMB_REQUEST, data) == OMZI2C_SMB_DATA_OFFSET, smb_data_offset);
OMZI2C_STATIC_ASSERT(OMZI2C_SMB_DATA_OFFSET + 4u == OMZI2C_SMB_SHORT_RECORD_LENGTH,
                     smb_short_record_length);

// ---------------------------------------------------------------------------
// OMZI2C_PORT_REQUEST: 12 bytes, little-endian.
//   +0 width  0 byte, 1 word, 2 doubleword
//   +4 port   I/O port number
//   +8 value  value to write; on a read, the value read (in the width's size)
#define OMZI2C_PORT_WIDTH_BYTE 0u
#define OMZI2C_PORT_WIDTH_WORD 1u
#define OMZI2C_PORT_WIDTH_DWORD 2u
#define OMZI2C_PORT_WIDTH_OFFSET 0u
#define OMZI2C_PORT_NUMBER_OFFSET 4u
#define OMZI2C_PORT_VALUE_OFFSET 8u
#define OMZI2C_PORT_REQUEST_LENGTH 12u

typedef struct OMZI2C_PORT_REQUEST {
  uint32_t width;
  uint32_t port;
  uint32_t value;
} OMZI2C_PORT_REQUEST;

OMZI2C_STATIC_ASSERT(sizeof(OMZI2C_PORT_REQUEST) == OMZI2C_PORT_REQUEST_LENGTH, port_record_size);
OMZI2C_STATIC_ASSERT(offsetof(OMZI2C_PORT_REQUEST, width) == OMZI2C_PORT_WIDTH_OFFSET,
                     port_width_offset);
OMZI2C_STATIC_ASSERT(offsetof(OMZI2C_PORT_REQUEST, port) == OMZI2C_PORT_NUMBER_OFFSET,
                     port_number_offset);
OMZI2C_STATIC_ASSERT(offsetof(OMZI2C_PORT_REQUEST, value) == OMZI2C_PORT_VALUE_OFFSET,
                     port_value_offset);

// ---------------------------------------------------------------------------
// Result codes of SMBus operations; byte 0 of an error reply.
#define OMZI2C_RESULT_SUCCESS 0u
#define OMZI2C_RESULT_NO_ACKNOWLEDGE 1u
#define OMZI2C_RESULT_TIMEOUT 2u
#define OMZI2C_RESULT_NOT_SUPPORTED 7u
#define OMZI2C_RESULT_BUS_BUSY 8u
#define OMZI2C_RESULT_HOST_NOT_READY 10u
#define OMZI2C_RESULT_COLLISION_OR_DEVICE_ERROR 11u
#define OMZI2C_RESULT_ALERT 13u
#define OMZI2C_RESULT_FAILED 14u
#define OMZI2C_RESULT_BUS_ERROR 15u
#define OMZI2C_RESULT_DEVICE_ERROR 16u
#define OMZI2C_RESULT_PEC_ERROR 17u

// ---------------------------------------------------------------------------
// NTSTATUS values the driver completes requests and start-up with. A Win32
// caller sees them translated by DeviceIoControl into GetLastError() codes.
#define OMZI2C_STATUS_SUCCESS 0x00000000u
#define OMZI2C_STATUS_BUFFER_OVERFLOW 0x80000005u  // reply cut to the output buffer
#define OMZI2C_STATUS_UNSUCCESSFUL 0xC0000001u
#define OMZI2C_STATUS_NOT_IMPLEMENTED 0xC0000002u
#define OMZI2C_STATUS_INVALID_PARAMETER 0xC000000Du
#define OMZI2C_STATUS_NO_SUCH_DEVICE 0xC000000Eu
#define OMZI2C_STATUS_INVALID_DEVICE_REQUEST 0xC0000010u
#define OMZI2C_STATUS_MUTANT_NOT_OWNED 0xC0000046u  // bus event could not be opened
#define OMZI2C_STATUS_IO_TIMEOUT 0xC00000B5u        // the bus was not free within 30 s
#define OMZI2C_STATUS_NOT_SUPPORTED 0xC00000BBu
#define OMZI2C_STATUS_CANCELLED 0xC0000120u  // the caller's thread ended while it waited
#define OMZI2C_STATUS_REGISTRY_CORRUPT 0xC000014Cu
#define OMZI2C_STATUS_DEVICE_CONFIGURATION_ERROR 0xC0000182u
#define OMZI2C_STATUS_IO_DEVICE_ERROR 0xC0000185u
#define OMZI2C_STATUS_TRANSACTION_TIMED_OUT 0xC0000210u

#ifdef __cplusplus
namespace omzi2c {

constexpr uint32_t kDeviceType = OMZI2C_DEVICE_TYPE;

constexpr uint32_t kMethodBuffered = OMZI2C_METHOD_BUFFERED;
constexpr uint32_t kAccessRead = OMZI2C_ACCESS_READ;
constexpr uint32_t kAccessWrite = OMZI2C_ACCESS_WRITE;

constexpr uint32_t ControlCode(uint32_t function, uint32_t access) {
  return OMZI2C_CONTROL_CODE(function, access);
}

constexpr uint32_t kIoctlPortRead = OMZI2C_IOCTL_PORT_READ;
constexpr uint32_t kIoctlPortWrite = OMZI2C_IOCTL_PORT_WRITE;
constexpr uint32_t kIoctlReceiveBytes = OMZI2C_IOCTL_RECEIVE_BYTES;
constexpr uint32_t kIoctlReadWithCommand = OMZI2C_IOCTL_READ_WITH_COMMAND;
constexpr uint32_t kIoctlWriteWithCommand = OMZI2C_IOCTL_WRITE_WITH_COMMAND;
constexpr uint32_t kIoctlSendBytes = OMZI2C_IOCTL_SEND_BYTES;
constexpr uint32_t kIoctlUnsupported = OMZI2C_IOCTL_UNSUPPORTED;
constexpr uint32_t kIoctlBlockRead = OMZI2C_IOCTL_BLOCK_READ;
constexpr uint32_t kIoctlBlockWrite = OMZI2C_IOCTL_BLOCK_WRITE;
constexpr uint32_t kIoctlExchangeMessage = OMZI2C_IOCTL_EXCHANGE_MESSAGE;
constexpr uint32_t kIoctlWriteMessage = OMZI2C_IOCTL_WRITE_MESSAGE;

constexpr uint32_t kSmbAddressOffset = OMZI2C_SMB_ADDRESS_OFFSET;
constexpr uint32_t kSmbCommandOffset = OMZI2C_SMB_COMMAND_OFFSET;
constexpr uint32_t kSmbCountOffset = OMZI2C_SMB_COUNT_OFFSET;
constexpr uint32_t kSmbDataOffset = OMZI2C_SMB_DATA_OFFSET;
constexpr uint32_t kSmbShortRecordLength = OMZI2C_SMB_SHORT_RECORD_LENGTH;
constexpr uint32_t kSmbBlockRecordLength = OMZI2C_SMB_BLOCK_RECORD_LENGTH;
constexpr uint32_t kSmbMaxBlockLength = OMZI2C_SMB_MAX_BLOCK_LENGTH;
constexpr uint32_t kSmbErrorReplyLength = OMZI2C_SMB_ERROR_REPLY_LENGTH;
typedef OMZI2C_SMB_REQUEST SmbRequest;

constexpr uint32_t kPortWidthByte = OMZI2C_PORT_WIDTH_BYTE;
constexpr uint32_t kPortWidthWord = OMZI2C_PORT_WIDTH_WORD;
constexpr uint32_t kPortWidthDword = OMZI2C_PORT_WIDTH_DWORD;
constexpr uint32_t kPortWidthOffset = OMZI2C_PORT_WIDTH_OFFSET;
constexpr uint32_t kPortNumberOffset = OMZI2C_PORT_NUMBER_OFFSET;
constexpr uint32_t kPortValueOffset = OMZI2C_PORT_VALUE_OFFSET;
constexpr uint32_t kPortRequestLength = OMZI2C_PORT_REQUEST_LENGTH;
typedef OMZI2C_PORT_REQUEST PortRequest;

typedef uint32_t ResultCode;
constexpr ResultCode kResultSuccess = OMZI2C_RESULT_SUCCESS;
constexpr ResultCode kResultNoAcknowledge = OMZI2C_RESULT_NO_ACKNOWLEDGE;
constexpr ResultCode kResultTimeout = OMZI2C_RESULT_TIMEOUT;
constexpr ResultCode kResultNotSupported = OMZI2C_RESULT_NOT_SUPPORTED;
constexpr ResultCode kResultBusBusy = OMZI2C_RESULT_BUS_BUSY;
constexpr ResultCode kResultHostNotReady = OMZI2C_RESULT_HOST_NOT_READY;
constexpr ResultCode kResultCollisionOrDeviceError = OMZI2C_RESULT_COLLISION_OR_DEVICE_ERROR;
constexpr ResultCode kResultAlert = OMZI2C_RESULT_ALERT;
constexpr ResultCode kResultFailed = OMZI2C_RESULT_FAILED;
constexpr ResultCode kResultBusError = OMZI2C_RESULT_BUS_ERROR;
constexpr ResultCode kResultDeviceError = OMZI2C_RESULT_DEVICE_ERROR;
constexpr ResultCode kResultPecError = OMZI2C_RESULT_PEC_ERROR;

constexpr uint32_t kStatusSuccess = OMZI2C_STATUS_SUCCESS;
constexpr uint32_t kStatusBufferOverflow = OMZI2C_STATUS_BUFFER_OVERFLOW;
constexpr uint32_t kStatusUnsuccessful = OMZI2C_STATUS_UNSUCCESSFUL;
constexpr uint32_t kStatusNotImplemented = OMZI2C_STATUS_NOT_IMPLEMENTED;
constexpr uint32_t kStatusInvalidParameter = OMZI2C_STATUS_INVALID_PARAMETER;
constexpr uint32_t kStatusNoSuchDevice = OMZI2C_STATUS_NO_SUCH_DEVICE;
constexpr uint32_t kStatusInvalidDeviceRequest = OMZI2C_STATUS_INVALID_DEVICE_REQUEST;
constexpr uint32_t kStatusMutantNotOwned = OMZI2C_STATUS_MUTANT_NOT_OWNED;
constexpr uint32_t kStatusIoTimeout = OMZI2C_STATUS_IO_TIMEOUT;
constexpr uint32_t kStatusNotSupported = OMZI2C_STATUS_NOT_SUPPORTED;
constexpr uint32_t kStatusCancelled = OMZI2C_STATUS_CANCELLED;
constexpr uint32_t kStatusRegistryCorrupt = OMZI2C_STATUS_REGISTRY_CORRUPT;
constexpr uint32_t kStatusDeviceConfigurationError = OMZI2C_STATUS_DEVICE_CONFIGURATION_ERROR;
constexpr uint32_t kStatusIoDeviceError = OMZI2C_STATUS_IO_DEVICE_ERROR;
constexpr uint32_t kStatusTransactionTimedOut = OMZI2C_STATUS_TRANSACTION_TIMED_OUT;

}  // namespace omzi2c
#endif  // __cplusplus

#endif  // OMZI2C_OMZI2C_H
