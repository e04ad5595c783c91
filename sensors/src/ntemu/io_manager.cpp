#include "ntemu/io_manager.h"

#include <algorithm>
#include <cstring>
#include <utility>

extern "C" VOID IofCompleteRequest(PIRP Irp, CCHAR) {
  Irp->Completed = TRUE;
}

namespace ntemu {

namespace {

void Dispatch(PDEVICE_OBJECT device, IRP& irp, IO_STACK_LOCATION& stack, IoCompletion& result) {
  stack.DeviceObject = device;
  irp.CurrentStackLocation = &stack;
  irp.RequestorMode = UserMode;  // every request comes from a user-mode caller
  irp.IoStatus.Status = STATUS_SUCCESS;
  irp.IoStatus.Information = 0;
  irp.Completed = FALSE;

  PDRIVER_DISPATCH routine = device->DriverObject->MajorFunction[stack.MajorFunction];
  const NTSTATUS returned =
      routine != nullptr ? routine(device, &irp) : STATUS_INVALID_DEVICE_REQUEST;
  result.completed = routine == nullptr || irp.Completed;
  result.status = routine != nullptr ? irp.IoStatus.Status : returned;
  result.information = irp.IoStatus.Information;
  result.driverFault = returned != result.status || !result.completed;
  result.bytesReturned = 0;
}

// Fills `buffer` (at least max(input, output) bytes) as the system buffer,
// dispatches, and copies the reply back.
void BufferedControl(PDEVICE_OBJECT device, IRP& irp, IO_STACK_LOCATION& stack, uint8_t* buffer,
                     ULONG code, const void* input, ULONG inputLength, void* output,
                     ULONG outputLength, IoCompletion& result) {
  const ULONG length = std::max(inputLength, outputLength);
  if (inputLength != 0) std::memcpy(buffer, input, inputLength);
  if (length > inputLength)
    std::memset(buffer + inputLength, kSystemBufferPoison, length - inputLength);
  irp.AssociatedIrp.SystemBuffer = length == 0 ? nullptr : buffer;
  stack.MajorFunction = IRP_MJ_DEVICE_CONTROL;
  stack.Parameters.DeviceIoControl.InputBufferLength = inputLength;
  stack.Parameters.DeviceIoControl.OutputBufferLength = outputLength;
  stack.Parameters.DeviceIoControl.IoControlCode = code;
  stack.Parameters.DeviceIoControl.Type3InputBuffer = nullptr;

  Dispatch(device, irp, stack, result);
  if (result.information > outputLength) result.driverFault = true;
  if (!NT_ERROR(result.status)) {
    // Windows would copy all `information` bytes and overrun the caller; the
    // stand-in copies what fits and reports the fault instead.
    const ULONG copied = static_cast<ULONG>(std::min<ULONG_PTR>(result.information, outputLength));
    if (copied != 0) std::memcpy(output, buffer, copied);
    result.bytesReturned = copied;
  }
}

}  // namespace

IoResult DeviceIoControl(PDEVICE_OBJECT device, ULONG code, const void* input, ULONG inputLength,
                         void* output, ULONG outputLength) {
  IoResult result{};
  result.systemBuffer.resize(std::max(inputLength, outputLength));
  IRP irp{};
  IO_STACK_LOCATION stack{};
  BufferedControl(device, irp, stack, result.systemBuffer.data(), code, input, inputLength, output,
                  outputLength, result);
  return result;
}

IoResult SendRequest(PDEVICE_OBJECT device, UCHAR majorFunction) {
  IRP irp{};
  IO_STACK_LOCATION stack{};
  stack.MajorFunction = majorFunction;
  IoResult result{};
  Dispatch(device, irp, stack, result);
  if (result.information != 0) result.driverFault = true;
  return result;
}

RequestSlot::RequestSlot(PDEVICE_OBJECT device, ULONG bufferBytes)
    : device_(device), buffer_(bufferBytes) {}

const IoCompletion& RequestSlot::DeviceIoControl(ULONG code, const void* input, ULONG inputLength,
                                                 void* output, ULONG outputLength) {
  length_ = std::max(inputLength, outputLength);
  if (length_ > buffer_.size()) buffer_.resize(length_);  // larger than any before
  BufferedControl(device_, irp_, stack_, buffer_.data(), code, input, inputLength, output,
                  outputLength, last_);
  return last_;
}

}  // namespace ntemu
