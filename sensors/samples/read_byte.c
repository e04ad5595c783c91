/* Reads bytes from a chip on the SMBus through the OMZI2C client library,
 * the way a monitoring program written in C would: omzi2c_client.h and
 * omzi2c.dll (Windows) or libomzi2c.so (Linux), nothing else.
 *
 *   omzi2c_read_byte CHIP REGISTER [COUNT]
 *
 * CHIP is the 7-bit chip address (0x00-0x7f), REGISTER the first SMBus
 * command code, COUNT the number of bytes (1 by default, up to 256), read in
 * pieces of up to 32 bytes under one hold of the bus, so that no other
 * program's request comes between them. Numbers by C rules. Prints the
 * bytes read on one line; on failure the library's words, the driver's
 * status, and exits with status 2. On Linux, OMZI2C_OPTIONS in the
 * environment gives the driver's options ("--board ports --chipset 4 ..."). */
#include <omzi2c/omzi2c_client.h>

#include <stdio.h>
#include <stdlib.h>

enum {
  kExitBadUsage = 1,
  kExitFailed = 2,
  kMaxChip = 0x7f,
  kMaxRegister = 0xff,
  kMaxCount = 256,
};

/* Parses a number by C rules (0x-hex, 0-octal) no greater than `maximum`. */
static int ParseNumber(const char* text, unsigned long maximum, unsigned long* value) {
  char* end = NULL;
  if (*text == '\0' || *text == '-') return 0;
  *value = strtoul(text, &end, 0);
  return *end == '\0' && *value <= maximum;
}

static int Fail(omzi2c_handle* bus, const char* what, omzi2c_status status) {
  uint32_t ntstatus = 0;
  int32_t result = OMZI2C_RESULT_UNKNOWN;
  omzi2c_last_failure(bus, &ntstatus, &result);
  fprintf(stderr, "%s failed: %s", what, omzi2c_strerror(status));
  if (status == OMZI2C_ERROR_DRIVER || status == OMZI2C_ERROR_BUS_HELD) {
    fprintf(stderr, " (status 0x%08lX", (unsigned long)ntstatus);
    if (result != OMZI2C_RESULT_UNKNOWN) fprintf(stderr, ", result %ld", (long)result);
    fprintf(stderr, ")");
  }
  fprintf(stderr, "\n");
  return kExitFailed;
}

static int ReadAll(omzi2c_handle* bus, uint8_t chip, unsigned long reg, unsigned long count,
                   uint8_t* bytes) {
  unsigned long done = 0;
  omzi2c_status status = omzi2c_lock(bus);
  if (status != OMZI2C_OK) return Fail(bus, "hold", status);
  while (done < count && status == OMZI2C_OK) {
    size_t piece = count - done > OMZI2C_MAX_LENGTH ? OMZI2C_MAX_LENGTH : count - done;
    status = omzi2c_read_bytes(bus, chip, (uint8_t)(reg + done), bytes + done, piece);
    done += piece;
  }
  omzi2c_unlock(bus);
  return status == OMZI2C_OK ? 0 : Fail(bus, "read", status);
}

int main(int argc, char** argv) {
  unsigned long chip = 0;
  unsigned long reg = 0;
  unsigned long count = 1;
  omzi2c_handle* bus = NULL;
  uint8_t bytes[kMaxCount];
  char why[256];
  omzi2c_status status;
  unsigned long i;
  int exitStatus;

  if (argc < 3 || argc > 4 || !ParseNumber(argv[1], kMaxChip, &chip) ||
      !ParseNumber(argv[2], kMaxRegister, &reg) ||
      (argc == 4 && (!ParseNumber(argv[3], kMaxCount, &count) || count == 0))) {
    fprintf(stderr,
            "usage: omzi2c_read_byte CHIP REGISTER [COUNT]\n"
            "  CHIP 0x00-0x7f (7-bit address), REGISTER 0x00-0xff, COUNT 1-256\n");
    return kExitBadUsage;
  }

  status = omzi2c_open(getenv("OMZI2C_OPTIONS"), 0, &bus, why, sizeof why);
  if (status != OMZI2C_OK) {
    fprintf(stderr, "cannot open the driver: %s: %s\n", omzi2c_strerror(status), why);
    return kExitFailed;
  }
  exitStatus = ReadAll(bus, (uint8_t)chip, reg, count, bytes);
  omzi2c_close(bus);
  if (exitStatus != 0) return exitStatus;

  for (i = 0; i < count; ++i) {
    printf(i == 0 ? "0x%02x" : " 0x%02x", bytes[i]);
  }
  printf("\n");
  return 0;
}
