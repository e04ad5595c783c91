#include "omzi2c_client/in_process_transport.h"

#include "ntemu/io_manager.h"

namespace omzi2c::client {

Response InProcessTransport::Control(uint32_t code, const std::vector<uint8_t>& input,
                                     uint32_t outputLength) {
  Response response;
  response.reply.assign(outputLength, 0);
  const ntemu::IoResult io =
      ntemu::DeviceIoControl(device_, code, input.data(), static_cast<ULONG>(input.size()),
                             response.reply.data(), outputLength);
  response.status = static_cast<uint32_t>(io.status);
  response.transferred = io.bytesReturned;
  response.reply.resize(io.bytesReturned);
  return response;
}

}  // namespace omzi2c::client
