#include "controller_state.h"
#include "requests.h"

namespace {

NTSTATUS HandleDeviceControl(PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION stack) {
  DeviceExtension* extension = static_cast<DeviceExtension*>(device->DeviceExtension);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  if (IsPortControlCode(code)) {
    if (Controller.ISAPortDriverEnable == 0) return STATUS_INVALID_DEVICE_REQUEST;
    return HandlePortRequest(extension, irp, stack, code);
  }
  if (IsSmbControlCode(code)) {
    if (Controller.I2CDriverEnable == 0) return STATUS_INVALID_DEVICE_REQUEST;
    return HandleSmbRequest(extension, irp, stack, code);
  }
  return STATUS_INVALID_DEVICE_REQUEST;
}

}  // namespace

NTSTATUS NTAPI DispatchRequest(PDEVICE_OBJECT device, PIRP irp) {
  irp->IoStatus.Information = 0;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  NTSTATUS status;
  switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLOSE:
      status = STATUS_SUCCESS;
      break;
    case IRP_MJ_DEVICE_CONTROL:
      status = HandleDeviceControl(device, irp, stack);
      break;
    default:
      status = STATUS_NOT_IMPLEMENTED;
      break;
  }
  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;  // the request is gone once completed
}

NTSTATUS ToNtStatus(omzi2c::ResultCode result) {
  const LONG value = static_cast<LONG>(result);
  if (value == 0) return STATUS_SUCCESS;
  if (value < 0 || value == 1) return STATUS_IO_DEVICE_ERROR;
  if (value == 2) return STATUS_TRANSACTION_TIMED_OUT;
  if (value <= 6) return STATUS_DEVICE_CONFIGURATION_ERROR;
  if (value == 7) return STATUS_NOT_SUPPORTED;
  if (value <= 10) return STATUS_TRANSACTION_TIMED_OUT;
  return STATUS_IO_DEVICE_ERROR;
}
