// The eight primitives of one back-end as calls with fixed arguments, each
// appending its out-parameters to a byte list (they keep kUntouched unless
// the primitive wrote them), so one table can drive every primitive.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "hosts/host_contract.h"

namespace omzi2c::testing {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kUntouched = 0xEE;

struct HostPrimitives {
  ResultCode (*receiveByte)(UCHAR, UCHAR*);
  ResultCode (*sendByte)(UCHAR, UCHAR);
  ResultCode (*readByteData)(UCHAR, UCHAR, UCHAR*);
  ResultCode (*writeByteData)(UCHAR, UCHAR, UCHAR);
  ResultCode (*readWordData)(UCHAR, UCHAR, USHORT*);
  ResultCode (*writeWordData)(UCHAR, UCHAR, USHORT);
  ResultCode (*blockRead)(UCHAR, UCHAR, UCHAR*, UCHAR*);
  ResultCode (*blockWrite)(UCHAR, UCHAR, const UCHAR*, UCHAR);
};

using Call = std::function<ResultCode(Bytes* out)>;

Call ReceiveByteCall(const HostPrimitives& host, UCHAR address);
Call SendByteCall(const HostPrimitives& host, UCHAR address, UCHAR byte);
Call ReadByteCall(const HostPrimitives& host, UCHAR address, UCHAR command);
Call WriteByteCall(const HostPrimitives& host, UCHAR address, UCHAR command, UCHAR byte);
Call ReadWordCall(const HostPrimitives& host, UCHAR address, UCHAR command);
Call WriteWordCall(const HostPrimitives& host, UCHAR address, UCHAR command, USHORT word);
// Appends the count, then the bytes read when the count is at most 32.
Call BlockReadCall(const HostPrimitives& host, UCHAR address, UCHAR command);
Call BlockWriteCall(const HostPrimitives& host, UCHAR address, UCHAR command, Bytes data);
// Every primitive once, with arbitrary arguments.
std::vector<Call> EveryPrimitive(const HostPrimitives& host);

Bytes Counting(uint8_t first, size_t n);
Bytes Prefixed(uint8_t first, const Bytes& rest);

}  // namespace omzi2c::testing
