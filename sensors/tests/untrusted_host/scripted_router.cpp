// Stands in for the router: every operation the request layer reaches ends
// here, whatever the Chipset.
#include "scripted_router.h"

namespace scripted {

Script& TheScript() {
  static Script script;
  return script;
}

}  // namespace scripted

using scripted::TheScript;

namespace Route {
ResultCode ReceiveByte(UCHAR, UCHAR*) {
  return kResultNotSupported;
}
ResultCode SendByte(UCHAR, UCHAR) {
  return kResultNotSupported;
}
ResultCode ReadByteData(UCHAR, UCHAR, UCHAR*) {
  return kResultNotSupported;
}
ResultCode WriteByteData(UCHAR, UCHAR, UCHAR) {
  return kResultNotSupported;
}
ResultCode ReadWordData(UCHAR, UCHAR, USHORT*) {
  return kResultNotSupported;
}
ResultCode WriteWordData(UCHAR, UCHAR, USHORT) {
  return kResultNotSupported;
}
}  // namespace Route

// Fills what fits a real host's block and reports the scripted count.
ResultCode BlockRead(UCHAR, UCHAR, UCHAR* buffer, UCHAR* count) {
  for (UCHAR i = 0; i < kMaxBlockBytes; ++i)
    buffer[i] = static_cast<UCHAR>(0xB0 + i);
  *count = TheScript().reportedCount;
  return TheScript().result;
}

// Does not cut the block to 32 bytes.
ResultCode BlockWrite(UCHAR, UCHAR, const UCHAR* data, UCHAR count) {
  TheScript().blockWrite.assign(data, data + count);
  return TheScript().result;
}

// Reports the scripted reply length, whatever the limit.
ResultCode ExchangeMessage(UCHAR, UCHAR* data, UCHAR* count, ULONG) {
  *count = TheScript().reportedCount;
  data[0] = *count;
  return TheScript().result;
}

ResultCode WriteMessage(UCHAR, const UCHAR*, UCHAR) {
  return TheScript().result;
}
