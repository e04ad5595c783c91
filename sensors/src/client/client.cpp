#include "omzi2c_client/client.h"

#include <omzi2c/omzi2c.h>

#include <algorithm>
#include <array>
#include <cstdio>

namespace omzi2c::client {

namespace {

uint8_t AddressByte(uint8_t chip) {
  return static_cast<uint8_t>(chip << 1);
}

// A record of `length` bytes (at least the fixed part) with `data` at offset 8.
std::vector<uint8_t> SmbRecord(uint8_t chip, uint8_t command, uint8_t count,
                               const std::vector<uint8_t>& data, size_t length) {
  std::vector<uint8_t> record(std::max(length, kSmbDataOffset + data.size()), 0);
  record[kSmbAddressOffset] = AddressByte(chip);
  record[kSmbCommandOffset] = command;
  record[kSmbCountOffset] = count;
  std::copy(data.begin(), data.end(), record.begin() + kSmbDataOffset);
  return record;
}

uint8_t CountOf(const std::vector<uint8_t>& data) {
  return static_cast<uint8_t>(std::min<size_t>(data.size(), 255));
}

std::vector<uint8_t> PortRecord(PortWidth width, uint32_t port, uint32_t value) {
  std::vector<uint8_t> record(kPortRequestLength);
  for (int i = 0; i < 4; ++i) {
    record[kPortWidthOffset + i] = static_cast<uint8_t>(static_cast<uint32_t>(width) >> (8 * i));
    record[kPortNumberOffset + i] = static_cast<uint8_t>(port >> (8 * i));
    record[kPortValueOffset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  return record;
}

// The short record of a read, on the stack.
std::array<uint8_t, kSmbShortRecordLength> ShortRecord(uint8_t chip, uint8_t command,
                                                       uint8_t count) {
  std::array<uint8_t, kSmbShortRecordLength> record{};
  record[kSmbAddressOffset] = AddressByte(chip);
  record[kSmbCommandOffset] = command;
  record[kSmbCountOffset] = count;
  return record;
}

}  // namespace

void Transport::ControlInto(uint32_t code, const uint8_t* input, uint32_t inputLength,
                            uint32_t outputLength, Response* response) {
  *response = Control(code, std::vector<uint8_t>(input, input + inputLength), outputLength);
}

void Client::ReceiveBytes(uint8_t chip, uint8_t count, Response* into) {
  const auto record = ShortRecord(chip, 0, count);
  transport_.ControlInto(kIoctlReceiveBytes, record.data(), record.size(), count, into);
}

void Client::ReadWithCommand(uint8_t chip, uint8_t command, uint8_t count, Response* into) {
  const auto record = ShortRecord(chip, command, count);
  transport_.ControlInto(kIoctlReadWithCommand, record.data(), record.size(), count, into);
}

Response Client::ReceiveBytes(uint8_t chip, uint8_t count) {
  return transport_.Control(kIoctlReceiveBytes,
                            SmbRecord(chip, 0, count, {}, kSmbShortRecordLength), count);
}

// Writes carry exactly their data bytes after the fixed part: the driver
// checks the input length against the count.
Response Client::SendBytes(uint8_t chip, const std::vector<uint8_t>& data) {
  const uint8_t count = CountOf(data);
  return transport_.Control(kIoctlSendBytes, SmbRecord(chip, 0, count, data, count + 11u), 0);
}

Response Client::ReadWithCommand(uint8_t chip, uint8_t command, uint8_t count) {
  return transport_.Control(kIoctlReadWithCommand,
                            SmbRecord(chip, command, count, {}, kSmbShortRecordLength), count);
}

Response Client::WriteWithCommand(uint8_t chip, uint8_t command, const std::vector<uint8_t>& data) {
  const uint8_t count = CountOf(data);
  return transport_.Control(kIoctlWriteWithCommand,
                            SmbRecord(chip, command, count, data, count + 11u), 0);
}

Response Client::BlockRead(uint8_t chip, uint8_t command) {
  return transport_.Control(kIoctlBlockRead, SmbRecord(chip, command, 0, {}, kSmbBlockRecordLength),
                            kSmbMaxBlockLength);
}

Response Client::BlockWrite(uint8_t chip, uint8_t command, const std::vector<uint8_t>& data) {
  return transport_.Control(
      kIoctlBlockWrite, SmbRecord(chip, command, CountOf(data), data, kSmbBlockRecordLength), 0);
}

Response Client::ExchangeMessage(uint8_t chip, const std::vector<uint8_t>& message,
                                 uint32_t replyRoom) {
  return transport_.Control(kIoctlExchangeMessage,
                            SmbRecord(chip, 0, CountOf(message), message, kSmbBlockRecordLength),
                            replyRoom);
}

Response Client::WriteMessage(uint8_t chip, const std::vector<uint8_t>& message) {
  return transport_.Control(
      kIoctlWriteMessage, SmbRecord(chip, 0, CountOf(message), message, kSmbBlockRecordLength), 0);
}

Response Client::PortRead(PortWidth width, uint32_t port) {
  return transport_.Control(kIoctlPortRead, PortRecord(width, port, 0), kPortRequestLength);
}

Response Client::PortWrite(PortWidth width, uint32_t port, uint32_t value) {
  return transport_.Control(kIoctlPortWrite, PortRecord(width, port, value), 0);
}

Response Client::Raw(uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength) {
  return transport_.Control(code, input, outputLength);
}

uint32_t Client::PortValue(const Response& response, PortWidth width) {
  const size_t bytes = width == PortWidth::Byte ? 1 : width == PortWidth::Word ? 2 : 4;
  uint32_t value = 0;
  for (size_t i = 0; i < bytes && kPortValueOffset + i < response.reply.size(); ++i) {
    value |= static_cast<uint32_t>(response.reply[kPortValueOffset + i]) << (8 * i);
  }
  return value;
}

const char* StatusName(uint32_t status) {
  switch (status) {
    case kStatusSuccess:
      return "STATUS_SUCCESS";
    case kStatusBufferOverflow:
      return "STATUS_BUFFER_OVERFLOW";
    case kStatusUnsuccessful:
      return "STATUS_UNSUCCESSFUL";
    case kStatusNotImplemented:
      return "STATUS_NOT_IMPLEMENTED";
    case kStatusInvalidParameter:
      return "STATUS_INVALID_PARAMETER";
    case kStatusNoSuchDevice:
      return "STATUS_NO_SUCH_DEVICE";
    case kStatusInvalidDeviceRequest:
      return "STATUS_INVALID_DEVICE_REQUEST";
    case kStatusMutantNotOwned:
      return "STATUS_MUTANT_NOT_OWNED";
    case kStatusIoTimeout:
      return "STATUS_IO_TIMEOUT";
    case kStatusNotSupported:
      return "STATUS_NOT_SUPPORTED";
    case kStatusCancelled:
      return "STATUS_CANCELLED";
    case kStatusRegistryCorrupt:
      return "STATUS_REGISTRY_CORRUPT";
    case kStatusDeviceConfigurationError:
      return "STATUS_DEVICE_CONFIGURATION_ERROR";
    case kStatusIoDeviceError:
      return "STATUS_IO_DEVICE_ERROR";
    case kStatusTransactionTimedOut:
      return "STATUS_TRANSACTION_TIMED_OUT";
    default:
      return "STATUS_UNKNOWN";
  }
}

namespace {

const char* StatusWords(uint32_t status) {
  switch (status) {
    case kStatusSuccess:
      return "success";
    case kStatusBufferOverflow:
      return "reply longer than the output buffer, cut to fit";
    case kStatusUnsuccessful:
      return "unsuccessful";
    case kStatusNotImplemented:
      return "request kind not implemented";
    case kStatusInvalidParameter:
      return "invalid request record or buffer length";
    case kStatusNoSuchDevice:
      return "SMBus controller not found";
    case kStatusInvalidDeviceRequest:
      return "service not enabled or unknown control code";
    case kStatusMutantNotOwned:
      return "bus event could not be opened";
    case kStatusIoTimeout:
      return "the bus was not free within 30 s";
    case kStatusNotSupported:
      return "operation not supported by this controller";
    case kStatusCancelled:
      return "cancelled while waiting for the bus";
    case kStatusRegistryCorrupt:
      return "invalid driver parameters";
    case kStatusDeviceConfigurationError:
      return "device configuration error";
    case kStatusIoDeviceError:
      return "device error (no acknowledge, collision or failed transaction)";
    case kStatusTransactionTimedOut:
      return "transaction timed out";
    default:
      return "unknown status";
  }
}

}  // namespace

std::string DescribeStatus(uint32_t status) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", status);
  return std::string(StatusWords(status)) + " (" + StatusName(status) + ", " + code + ")";
}

const char* ResultName(uint32_t result) {
  switch (result) {
    case kResultSuccess:
      return "success";
    case kResultNoAcknowledge:
      return "slave address not acknowledged";
    case kResultTimeout:
      return "time-out";
    case kResultNotSupported:
      return "not supported";
    case kResultBusBusy:
      return "bus busy";
    case kResultHostNotReady:
      return "host not ready";
    case kResultCollisionOrDeviceError:
      return "bus collision or device error";
    case kResultAlert:
      return "alert";
    case kResultFailed:
      return "transaction failed or killed";
    case kResultBusError:
      return "bus error or collision";
    case kResultDeviceError:
      return "device error or invalid block count";
    case kResultPecError:
      return "packet error check mismatch";
    default:
      return "unknown result";
  }
}

}  // namespace omzi2c::client
