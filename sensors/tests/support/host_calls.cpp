#include "support/host_calls.h"

#include <algorithm>

namespace omzi2c::testing {

Call ReceiveByteCall(const HostPrimitives& host, UCHAR address) {
  return [=](Bytes* out) {
    UCHAR byte = kUntouched;
    const ResultCode result = host.receiveByte(address, &byte);
    out->push_back(byte);
    return result;
  };
}

Call SendByteCall(const HostPrimitives& host, UCHAR address, UCHAR byte) {
  return [=](Bytes*) { return host.sendByte(address, byte); };
}

Call ReadByteCall(const HostPrimitives& host, UCHAR address, UCHAR command) {
  return [=](Bytes* out) {
    UCHAR byte = kUntouched;
    const ResultCode result = host.readByteData(address, command, &byte);
    out->push_back(byte);
    return result;
  };
}

Call WriteByteCall(const HostPrimitives& host, UCHAR address, UCHAR command, UCHAR byte) {
  return [=](Bytes*) { return host.writeByteData(address, command, byte); };
}

Call ReadWordCall(const HostPrimitives& host, UCHAR address, UCHAR command) {
  return [=](Bytes* out) {
    USHORT word = kUntouched | (kUntouched << 8);
    const ResultCode result = host.readWordData(address, command, &word);
    out->push_back(static_cast<uint8_t>(word & 0xFF));
    out->push_back(static_cast<uint8_t>(word >> 8));
    return result;
  };
}

Call WriteWordCall(const HostPrimitives& host, UCHAR address, UCHAR command, USHORT word) {
  return [=](Bytes*) { return host.writeWordData(address, command, word); };
}

Call BlockReadCall(const HostPrimitives& host, UCHAR address, UCHAR command) {
  return [=](Bytes* out) {
    UCHAR buffer[32];
    std::fill(buffer, buffer + 32, kUntouched);
    UCHAR count = kUntouched;
    const ResultCode result = host.blockRead(address, command, buffer, &count);
    out->push_back(count);
    if (count <= 32) out->insert(out->end(), buffer, buffer + count);
    return result;
  };
}

Call BlockWriteCall(const HostPrimitives& host, UCHAR address, UCHAR command, Bytes data) {
  return [=](Bytes*) {
    return host.blockWrite(address, command, data.data(), static_cast<UCHAR>(data.size()));
  };
}

std::vector<Call> EveryPrimitive(const HostPrimitives& host) {
  return {ReceiveByteCall(host, 0xA0),  SendByteCall(host, 0xA0, 1),
          ReadByteCall(host, 0xA0, 2),  WriteByteCall(host, 0xA0, 3, 4),
          ReadWordCall(host, 0xA0, 5),  WriteWordCall(host, 0xA0, 6, 0x0708),
          BlockReadCall(host, 0xA0, 9), BlockWriteCall(host, 0xA0, 10, {1, 2})};
}

Bytes Counting(uint8_t first, size_t n) {
  Bytes bytes(n);
  for (size_t i = 0; i < n; ++i)
    bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

Bytes Prefixed(uint8_t first, const Bytes& rest) {
  Bytes bytes(1 + rest.size(), first);
  std::copy(rest.begin(), rest.end(), bytes.begin() + 1);
  return bytes;
}

}  // namespace omzi2c::testing
