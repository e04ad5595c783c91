#include "ntemu/io_manager.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

extern "C" VOID IofCompleteRequest(PIRP Irp, CCHAR) {
  Irp->Completed = TRUE;
}

namespace ntemu {

namespace {

IoResult Dispatch(PDEVICE_OBJECT device, IRP& irp, IO_STACK_LOCATION& stack) {
  stack.DeviceObject = device;
  irp.CurrentStackLocation = &stack;
  irp.IoStatus.Status = STATUS_SUCCESS;
  irp.IoStatus.Information = 0;
  irp.Completed = FALSE;

  IoResult result{};
  PDRIVER_DISPATCH routine = device->DriverObject->MajorFunction[stack.MajorFunction];
  const NTSTATUS returned =
      routine != nullptr ? routine(device, &irp) : STATUS_INVALID_DEVICE_REQUEST;
  result.completed = routine == nullptr || irp.Completed;
  result.status = routine != nullptr ? irp.IoStatus.Status : returned;
  result.information = irp.IoStatus.Information;
  result.driverFault = returned != result.status || !result.completed;
  return result;
}

}  // namespace

IoResult DeviceIoControl(PDEVICE_OBJECT device, ULONG code, const void* input, ULONG inputLength,
                         void* output, ULONG outputLength) {
  std::vector<uint8_t> systemBuffer(std::max(inputLength, outputLength), kSystemBufferPoison);
  if (inputLength != 0) std::memcpy(systemBuffer.data(), input, inputLength);

  IRP irp{};
  irp.AssociatedIrp.SystemBuffer = systemBuffer.empty() ? nullptr : systemBuffer.data();
  IO_STACK_LOCATION stack{};
  stack.MajorFunction = IRP_MJ_DEVICE_CONTROL;
  stack.Parameters.DeviceIoControl.InputBufferLength = inputLength;
  stack.Parameters.DeviceIoControl.OutputBufferLength = outputLength;
  stack.Parameters.DeviceIoControl.IoControlCode = code;

  IoResult result = Dispatch(device, irp, stack);
  if (result.information > outputLength) result.driverFault = true;
  if (!NT_ERROR(result.status)) {
    // Windows would copy all `information` bytes and overrun the caller; the
    // stand-in copies what fits and reports the fault instead.
    const ULONG copied = static_cast<ULONG>(std::min<ULONG_PTR>(result.information, outputLength));
    if (copied != 0) std::memcpy(output, systemBuffer.data(), copied);
    result.bytesReturned = copied;
  }
  result.systemBuffer = std::move(systemBuffer);
  return result;
}

IoResult SendRequest(PDEVICE_OBJECT device, UCHAR majorFunction) {
  IRP irp{};
  IO_STACK_LOCATION stack{};
  stack.MajorFunction = majorFunction;
  IoResult result = Dispatch(device, irp, stack);
  if (result.information != 0) result.driverFault = true;
  return result;
}

}  // namespace ntemu
