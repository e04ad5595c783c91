// Reads bytes from a chip on the SMBus through the OMZI2C driver, the way a
// monitoring program written in C would: the request record and control code
// from omzi2c.h, CreateFileA and DeviceIoControl, nothing else.
//
//   omzi2c_read_byte CHIP REGISTER [COUNT]
//
// CHIP is the 7-bit chip address (0x00-0x7f), REGISTER the SMBus command code,
// COUNT the number of bytes (1 by default; 2 reads a word, low byte first; more
// reads the register, then receives the next bytes). Numbers by C rules.
// Prints the bytes read on one line; on failure the Windows error, the
// driver's status where the error names one, and exits with status 2.
#include <windows.h>
#include <winternl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <omzi2c/omzi2c.h>

enum {
  kExitBadUsage = 1,
  kExitFailed = 2,
  kMaxChip = 0x7f,
  kMaxRegister = 0xff,
  kMaxCount = 0xff,  // the record's count is one byte
};

// The statuses a failed read with command completes with, and what they mean.
static const struct {
  ULONG status;
  const char* meaning;
} kReadFailures[] = {
    {OMZI2C_STATUS_IO_DEVICE_ERROR, "no acknowledge, or the host reported an error"},
    {OMZI2C_STATUS_TRANSACTION_TIMED_OUT, "time-out: the bus or the host stayed busy"},
    {OMZI2C_STATUS_NOT_SUPPORTED, "not supported by this SMBus host"},
    {OMZI2C_STATUS_INVALID_PARAMETER, "the driver refused the request's lengths"},
    {OMZI2C_STATUS_INVALID_DEVICE_REQUEST, "the driver's SMBus service is off"},
    {OMZI2C_STATUS_IO_TIMEOUT, "another program held the bus for 30 s"},
    {OMZI2C_STATUS_CANCELLED, "the request was cancelled while it waited for the bus"},
};

// Parses a number by C rules (0x-hex, 0-octal) no greater than `maximum`.
static int ParseNumber(const char* text, unsigned long maximum, unsigned long* value) {
  char* end = NULL;
  if (*text == '\0' || *text == '-') return 0;
  *value = strtoul(text, &end, 0);
  return *end == '\0' && *value <= maximum;
}

static void ReportOpenFailure(DWORD error) {
  fprintf(stderr, "cannot open %s: Windows error %lu\n", OMZI2C_USER_PATH, (unsigned long)error);
  if (error == ERROR_ACCESS_DENIED) {
    fprintf(stderr, "opening the device needs an administrator\n");
  } else if (error == ERROR_FILE_NOT_FOUND) {
    fprintf(stderr, "is the driver installed and started (sc start omzi2c)?\n");
  }
}

// DeviceIoControl hands back the Windows error the failing status translates
// to, not the status itself. The status is named when exactly one of those a
// read can fail with translates to that error on this system.
static void ReportReadFailure(DWORD error) {
  size_t match = 0;
  size_t matches = 0;
  size_t i;
  for (i = 0; i < sizeof kReadFailures / sizeof kReadFailures[0]; ++i) {
    if (RtlNtStatusToDosError((NTSTATUS)kReadFailures[i].status) == error) {
      match = i;
      ++matches;
    }
  }
  fprintf(stderr, "read failed: Windows error %lu", (unsigned long)error);
  if (matches == 1) {
    fprintf(stderr, ", status 0x%08lX (%s)", kReadFailures[match].status,
            kReadFailures[match].meaning);
  }
  fprintf(stderr, "\n");
  if (error == ERROR_ACCESS_DENIED) {
    fprintf(stderr, "the device needs an administrator for this request\n");
  }
}

int main(int argc, char** argv) {
  unsigned long chip = 0;
  unsigned long reg = 0;
  unsigned long count = 1;
  HANDLE device;
  OMZI2C_SMB_REQUEST request;
  uint8_t reply[kMaxCount];
  DWORD returned = 0;
  DWORD i;

  if (argc < 3 || argc > 4 || !ParseNumber(argv[1], kMaxChip, &chip) ||
      !ParseNumber(argv[2], kMaxRegister, &reg) ||
      (argc == 4 && (!ParseNumber(argv[3], kMaxCount, &count) || count == 0))) {
    fprintf(stderr,
            "usage: omzi2c_read_byte CHIP REGISTER [COUNT]\n"
            "  CHIP 0x00-0x7f (7-bit address), REGISTER 0x00-0xff, COUNT 1-255\n");
    return kExitBadUsage;
  }

  // Reading codes need no more than read access, which the driver grants to
  // every user; only the writing codes need an administrator.
  device = CreateFileA(OMZI2C_USER_PATH, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (device == INVALID_HANDLE_VALUE) {
    ReportOpenFailure(GetLastError());
    return kExitFailed;
  }

  // The short record: address byte, command and count; no data to send.
  memset(&request, 0, sizeof request);
  request.address = (uint8_t)(chip << 1);
  request.command = (uint8_t)reg;
  request.count = (uint8_t)count;
  if (!DeviceIoControl(device, OMZI2C_IOCTL_READ_WITH_COMMAND, &request,
                       OMZI2C_SMB_SHORT_RECORD_LENGTH, reply, (DWORD)count, &returned, NULL)) {
    ReportReadFailure(GetLastError());
    CloseHandle(device);
    return kExitFailed;
  }
  CloseHandle(device);

  for (i = 0; i < returned; ++i) {
    printf(i == 0 ? "0x%02x" : " 0x%02x", reply[i]);
  }
  printf("\n");
  return 0;
}
