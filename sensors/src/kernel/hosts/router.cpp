// Selection of the back-end by Chipset, once per operation.
#include "controller_state.h"
#include "hosts/byte_done_host.h"
#include "hosts/embedded_controller_host.h"
#include "hosts/host_contract.h"

namespace Route {

ResultCode ReceiveByte(UCHAR address, UCHAR* byte) {
  switch (Controller.Chipset) {
    case 2:
    case 3:
      return ByteDoneHost::ReceiveByte(address, byte);
    case 10:
      return EmbeddedControllerHost::ReceiveByte(address, byte);
    default:
      return kResultNotSupported;
  }
}

ResultCode SendByte(UCHAR address, UCHAR byte) {
  switch (Controller.Chipset) {
    case 2:
    case 3:
      return ByteDoneHost::SendByte(address, byte);
    case 10:
      return EmbeddedControllerHost::SendByte(address, byte);
    default:
      return kResultNotSupported;
  }
}

ResultCode ReadByteData(UCHAR address, UCHAR command, UCHAR* byte) {
  switch (Controller.Chipset) {
    case 2:
    case 3:
      return ByteDoneHost::ReadByteData(address, command, byte);
    case 10:
      return EmbeddedControllerHost::ReadByteData(address, command, byte);
    default:
      return kResultNotSupported;
  }
}

ResultCode WriteByteData(UCHAR address, UCHAR command, UCHAR byte) {
  switch (Controller.Chipset) {
    case 2:
    case 3:
      return ByteDoneHost::WriteByteData(address, command, byte);
    case 10:
      return EmbeddedControllerHost::WriteByteData(address, command, byte);
    default:
      return kResultNotSupported;
  }
}

ResultCode ReadWordData(UCHAR address, UCHAR command, USHORT* word) {
  switch (Controller.Chipset) {
    case 2:
    case 3:
      return ByteDoneHost::ReadWordData(address, command, word);
    case 10:
      return EmbeddedControllerHost::ReadWordData(address, command, word);
    default:
      return kResultNotSupported;
  }
}

ResultCode WriteWordData(UCHAR address, UCHAR command, USHORT word) {
  switch (Controller.Chipset) {
    case 2:
    case 3:
      return ByteDoneHost::WriteWordData(address, command, word);
    case 10:
      return EmbeddedControllerHost::WriteWordData(address, command, word);
    default:
      return kResultNotSupported;
  }
}

}  // namespace Route

ResultCode BlockRead(UCHAR address, UCHAR command, UCHAR* buffer, UCHAR* count) {
  switch (Controller.Chipset) {
    case 2:
    case 3:
      return ByteDoneHost::BlockRead(address, command, buffer, count);
    case 10:
      // The host's own result and block length reach the caller as they are.
      return EmbeddedControllerHost::BlockRead(address, command, buffer, count);
    default:
      return kResultNotSupported;
  }
}

ResultCode BlockWrite(UCHAR address, UCHAR command, const UCHAR* data, UCHAR count) {
  switch (Controller.Chipset) {
    case 2:
    case 3:
      return ByteDoneHost::BlockWrite(address, command, data, count);
    case 10:
      return EmbeddedControllerHost::BlockWrite(address, command, data, count);
    default:
      return kResultNotSupported;
  }
}

ResultCode ExchangeMessage(UCHAR address, UCHAR* data, UCHAR* count, ULONG limit) {
  switch (Controller.Chipset) {
    default:
      (void)address, (void)data, (void)count, (void)limit;
      return kResultNotSupported;
  }
}

ResultCode WriteMessage(UCHAR address, const UCHAR* data, UCHAR count) {
  switch (Controller.Chipset) {
    default:
      (void)address, (void)data, (void)count;
      return kResultNotSupported;
  }
}
