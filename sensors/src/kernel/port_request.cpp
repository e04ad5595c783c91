// Raw port access: one read or write of a byte, word or doubleword at any
// port, with no range check and no lock.
#include "byte_order.h"
#include "platform/port_io.h"
#include "requests.h"

using omzi2c::kIoctlPortRead;
using omzi2c::kIoctlPortWrite;

bool IsPortControlCode(ULONG code) {
  return code == kIoctlPortRead || code == kIoctlPortWrite;
}

namespace {

// Stores only the width's bytes at offset 8; the rest echo the request.
ULONG_PTR ReadPort(ULONG width, ULONG port, UCHAR* value) {
  switch (width) {
    case omzi2c::kPortWidthByte:
      value[0] = PortReadByte(port);
      break;
    case omzi2c::kPortWidthWord:
      StoreLe16(value, PortReadWord(port));
      break;
    case omzi2c::kPortWidthDword:
      StoreLe32(value, PortReadDword(port));
      break;
    default:
      return 0;  // unknown width: no access
  }
  return omzi2c::kPortRequestLength;
}

void WritePort(ULONG width, ULONG port, const UCHAR* value) {
  switch (width) {
    case omzi2c::kPortWidthByte:
      PortWriteByte(port, value[0]);
      break;
    case omzi2c::kPortWidthWord:
      PortWriteWord(port, static_cast<USHORT>(value[0] | (value[1] << 8)));
      break;
    case omzi2c::kPortWidthDword:
      PortWriteDword(port, LoadLe32(value));
      break;
    default:
      break;  // unknown width: no access
  }
}

}  // namespace

NTSTATUS HandlePortRequest(DeviceExtension*, PIRP irp, PIO_STACK_LOCATION stack, ULONG code) {
  const ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
  if (in < omzi2c::kPortRequestLength) return STATUS_INVALID_PARAMETER;
  if (code == kIoctlPortRead && out < omzi2c::kPortRequestLength) return STATUS_INVALID_PARAMETER;

  UCHAR* buffer = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
  const ULONG width = LoadLe32(buffer + omzi2c::kPortWidthOffset);
  const ULONG port = LoadLe32(buffer + omzi2c::kPortNumberOffset);
  UCHAR* value = buffer + omzi2c::kPortValueOffset;
  if (code == kIoctlPortRead) {
    irp->IoStatus.Information = ReadPort(width, port, value);
  } else {
    WritePort(width, port, value);
  }
  return STATUS_SUCCESS;
}
