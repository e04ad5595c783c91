#include "omzi2c_client/in_process_transport.h"

#include <omzi2c/omzi2c.h>

#include "ntemu/io_manager.h"

namespace omzi2c::client {

Response InProcessTransport::Control(uint32_t code, const std::vector<uint8_t>& input,
                                     uint32_t outputLength) {
  Response response;
  ControlInto(code, input.data(), static_cast<uint32_t>(input.size()), outputLength, &response);
  return response;
}

void InProcessTransport::ControlInto(uint32_t code, const uint8_t* input, uint32_t inputLength,
                                     uint32_t outputLength, Response* response) {
  if (slotTaken_.test_and_set(std::memory_order_acquire)) {
    ntemu::RequestSlot own(device_);  // another thread's request holds the shared one
    ControlThrough(own, code, input, inputLength, outputLength, response);
    return;
  }
  ControlThrough(slot_, code, input, inputLength, outputLength, response);
  slotTaken_.clear(std::memory_order_release);
}

void InProcessTransport::ControlThrough(ntemu::RequestSlot& slot, uint32_t code,
                                        const uint8_t* input, uint32_t inputLength,
                                        uint32_t outputLength, Response* response) {
  response->reply.resize(outputLength);
  const ntemu::IoCompletion& io =
      slot.DeviceIoControl(code, input, inputLength, response->reply.data(), outputLength);
  if (observer_) {
    ntemu::IoResult seen;
    static_cast<ntemu::IoCompletion&>(seen) = io;
    seen.systemBuffer.assign(slot.SystemBuffer(), slot.SystemBuffer() + slot.SystemBufferLength());
    observer_(seen);
  }
  response->status = static_cast<uint32_t>(io.status);
  response->transferred = io.bytesReturned;
  response->reply.resize(io.bytesReturned);
  response->errorReply.clear();
  // The driver writes both bytes of the reply and reports as many as the
  // output buffer takes; the system buffer always has room for both.
  const bool reading = code == kIoctlReceiveBytes || code == kIoctlReadWithCommand ||
                       code == kIoctlBlockRead || code == kIoctlExchangeMessage;
  if (reading && !response->Succeeded() && io.information != 0 &&
      slot.SystemBufferLength() >= kSmbErrorReplyLength) {
    response->errorReply.assign(slot.SystemBuffer(), slot.SystemBuffer() + kSmbErrorReplyLength);
  }
}

}  // namespace omzi2c::client
