#include "omzi2c_client/in_process_transport.h"

#include <omzi2c/omzi2c.h>

#include "ntemu/io_manager.h"

namespace omzi2c::client {

Response InProcessTransport::Control(uint32_t code, const std::vector<uint8_t>& input,
                                     uint32_t outputLength) {
  Response response;
  response.reply.assign(outputLength, 0);
  const ntemu::IoResult io =
      ntemu::DeviceIoControl(device_, code, input.data(), static_cast<ULONG>(input.size()),
                             response.reply.data(), outputLength);
  if (observer_) observer_(io);
  response.status = static_cast<uint32_t>(io.status);
  response.transferred = io.bytesReturned;
  response.reply.resize(io.bytesReturned);
  // The driver writes both bytes of the reply and reports as many as the
  // output buffer takes; the system buffer always has room for both.
  const bool reading = code == kIoctlReceiveBytes || code == kIoctlReadWithCommand ||
                       code == kIoctlBlockRead || code == kIoctlExchangeMessage;
  if (reading && !response.Succeeded() && io.information != 0 &&
      io.systemBuffer.size() >= kSmbErrorReplyLength) {
    response.errorReply.assign(io.systemBuffer.begin(),
                               io.systemBuffer.begin() + kSmbErrorReplyLength);
  }
  return response;
}

}  // namespace omzi2c::client
