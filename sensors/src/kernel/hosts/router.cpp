// Selection of the back-end by Chipset, once per operation.
#include "controller_state.h"
#include "hosts/byte_done_host.h"
#include "hosts/chunk_buffer_host.h"
#include "hosts/dual_status_host.h"
#include "hosts/embedded_controller_host.h"
#include "hosts/host_contract.h"
#include "hosts/paced_poll_host.h"
#include "hosts/start_port_host.h"

namespace Route {

ResultCode ReceiveByte(UCHAR address, UCHAR* byte) {
  switch (Controller.Chipset) {
    case 1:
      return StartPortHost::ReceiveByte(address, byte);
    case 2:
    case 3:
      return ByteDoneHost::ReceiveByte(address, byte);
    case 4:
    case 5:
    case 6:
      return PacedPollHost::ReceiveByte(address, byte);
    case 7:
      return ChunkBufferHost::ReceiveByte(address, byte);
    case 8:
    case 9:
      return DualStatusHost::ReceiveByte(address, byte);
    case 10:
      return EmbeddedControllerHost::ReceiveByte(address, byte);
    default:
      return kResultNotSupported;
  }
}

ResultCode SendByte(UCHAR address, UCHAR byte) {
  switch (Controller.Chipset) {
    case 1:
      return StartPortHost::SendByte(address, byte);
    case 2:
    case 3:
      return ByteDoneHost::SendByte(address, byte);
    case 4:
    case 5:
    case 6:
      return PacedPollHost::SendByte(address, byte);
    case 7:
      return ChunkBufferHost::SendByte(address, byte);
    case 8:
    case 9:
      return DualStatusHost::SendByte(address, byte);
    case 10:
      return EmbeddedControllerHost::SendByte(address, byte);
    default:
      return kResultNotSupported;
  }
}

ResultCode ReadByteData(UCHAR address, UCHAR command, UCHAR* byte) {
  switch (Controller.Chipset) {
    case 1:
      return StartPortHost::ReadByteData(address, command, byte);
    case 2:
    case 3:
      return ByteDoneHost::ReadByteData(address, command, byte);
    case 4:
    case 5:
    case 6:
      return PacedPollHost::ReadByteData(address, command, byte);
    case 7:
      return ChunkBufferHost::ReadByteData(address, command, byte);
    case 8:
    case 9:
      return DualStatusHost::ReadByteData(address, command, byte);
    case 10:
      return EmbeddedControllerHost::ReadByteData(address, command, byte);
    default:
      return kResultNotSupported;
  }
}

ResultCode WriteByteData(UCHAR address, UCHAR command, UCHAR byte) {
  switch (Controller.Chipset) {
    case 1:
      return StartPortHost::WriteByteData(address, command, byte);
    case 2:
    case 3:
      return ByteDoneHost::WriteByteData(address, command, byte);
    case 4:
    case 5:
    case 6:
      return PacedPollHost::WriteByteData(address, command, byte);
    case 7:
      return ChunkBufferHost::WriteByteData(address, command, byte);
    case 8:
    case 9:
      return DualStatusHost::WriteByteData(address, command, byte);
    case 10:
      return EmbeddedControllerHost::WriteByteData(address, command, byte);
    default:
      return kResultNotSupported;
  }
}

ResultCode ReadWordData(UCHAR address, UCHAR command, USHORT* word) {
  switch (Controller.Chipset) {
    case 1:
      return StartPortHost::ReadWordData(address, command, word);
    case 2:
    case 3:
      return ByteDoneHost::ReadWordData(address, command, word);
    case 4:
    case 5:
    case 6:
      return PacedPollHost::ReadWordData(address, command, word);
    case 7:
      return ChunkBufferHost::ReadWordData(address, command, word);
    case 8:
    case 9:
      return DualStatusHost::ReadWordData(address, command, word);
    case 10:
      return EmbeddedControllerHost::ReadWordData(address, command, word);
    default:
      return kResultNotSupported;
  }
}

ResultCode WriteWordData(UCHAR address, UCHAR command, USHORT word) {
  switch (Controller.Chipset) {
    case 1:
      return StartPortHost::WriteWordData(address, command, word);
    case 2:
    case 3:
      return ByteDoneHost::WriteWordData(address, command, word);
    case 4:
    case 5:
    case 6:
      return PacedPollHost::WriteWordData(address, command, word);
    case 7:
      return ChunkBufferHost::WriteWordData(address, command, word);
    case 8:
    case 9:
      return DualStatusHost::WriteWordData(address, command, word);
    case 10:
      return EmbeddedControllerHost::WriteWordData(address, command, word);
    default:
      return kResultNotSupported;
  }
}

}  // namespace Route

ResultCode BlockRead(UCHAR address, UCHAR command, UCHAR* buffer, UCHAR* count) {
  switch (Controller.Chipset) {
    case 1:
      return StartPortHost::BlockRead(address, command, buffer, count);
    case 2:
    case 3:
      return ByteDoneHost::BlockRead(address, command, buffer, count);
    case 4:
    case 5:
    case 6:
      return PacedPollHost::BlockRead(address, command, buffer, count);
    case 7:
      return ChunkBufferHost::BlockRead(address, command, buffer, count);
    case 8:
    case 9:
      return DualStatusHost::BlockRead(address, command, buffer, count);
    case 10:
      // The host's own result and block length reach the caller as they are.
      return EmbeddedControllerHost::BlockRead(address, command, buffer, count);
    default:
      return kResultNotSupported;
  }
}

ResultCode BlockWrite(UCHAR address, UCHAR command, const UCHAR* data, UCHAR count) {
  switch (Controller.Chipset) {
    case 1:
      return StartPortHost::BlockWrite(address, command, data, count);
    case 2:
    case 3:
      return ByteDoneHost::BlockWrite(address, command, data, count);
    case 4:
    case 5:
    case 6:
      return PacedPollHost::BlockWrite(address, command, data, count);
    case 7:
      return ChunkBufferHost::BlockWrite(address, command, data, count);
    case 8:
    case 9:
      return DualStatusHost::BlockWrite(address, command, data, count);
    case 10:
      return EmbeddedControllerHost::BlockWrite(address, command, data, count);
    default:
      return kResultNotSupported;
  }
}

ResultCode ExchangeMessage(UCHAR address, UCHAR* data, UCHAR* count, ULONG limit) {
  switch (Controller.Chipset) {
    case 5:
    case 6:
      return PacedPollHost::ExchangeMessage(address, data, count, limit);
    default:
      return kResultNotSupported;
  }
}

ResultCode WriteMessage(UCHAR address, const UCHAR* data, UCHAR count) {
  switch (Controller.Chipset) {
    case 5:
    case 6:
      return PacedPollHost::WriteMessage(address, data, count);
    default:
      return kResultNotSupported;
  }
}
