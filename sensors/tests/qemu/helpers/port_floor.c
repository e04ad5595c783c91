/* Benchmark helper for the QEMU guest: the floor of a read-byte transaction,
 * a bare loop of the port accesses omzi2c makes for one successful read byte
 * with command, in the same order, with nothing around them (no request, no
 * bus event, no driver). What omzi2c adds on top of the hardware shows as
 * the gap between its rate and this one.
 *
 * Usage: port_floor BASE CHIP REG COUNT [--paced-poll]
 *   BASE  the SMBus host's I/O base; CHIP a 7-bit address; REG its register.
 *   Default: the byte-done host's sequence (Chipset 2 and 3, 13 accesses);
 *   --paced-poll: the paced-poll host's (Chipset 4, 12 accesses).
 * Prints: port floor read-byte: COUNT transactions in S s: R per second
 *         (N port accesses each), last value 0xVV
 * Exit status 0, or 1 when the ports cannot be reached or a transaction
 * ends with an error flag. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/io.h>
#include <time.h>

/* Registers at BASE + offset; the same block on both hosts. */
enum { STATUS = 0, SECOND_STATUS = 1, CONTROL = 2, COMMAND = 3, ADDRESS = 4, DATA0 = 5 };
enum { BUSY = 0x01, DONE = 0x02, ERRORS = 0x3C, IN_USE = 0x40 };
enum { BYTE_DATA = 0x08, START = 0x40, PACED_START_BYTE_DATA = 0x48 };
enum { BUDGET = 10000 };

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

/* Reads the status until (value & mask) != 0 (set) or == 0 (clear). */
static unsigned char poll(unsigned short base, unsigned char mask, int set) {
  unsigned char value = inb(base + STATUS);
  for (int polls = 0; ((value & mask) != 0) != set && polls < BUDGET; ++polls)
    value = inb(base + STATUS);
  return value;
}

/* Byte-done host: wait idle (in use, busy), clear, program, start, wait
 * started, one more read, wait finished, clear, data. */
static int byte_done(unsigned short base, unsigned char address, unsigned char reg,
                     unsigned char* data) {
  inb(base + STATUS);
  inb(base + STATUS);
  outb((unsigned char)~IN_USE, base + STATUS);
  outb(address, base + ADDRESS);
  outb(reg, base + COMMAND);
  outb(BYTE_DATA, base + CONTROL);
  outb(BYTE_DATA | START, base + CONTROL);
  poll(base, BUSY | DONE, 1);
  inb(base + STATUS);
  const unsigned char status = poll(base, BUSY, 0);
  outb(inb(base + STATUS), base + STATUS);
  *data = inb(base + DATA0);
  return (status & ERRORS) == 0;
}

/* Paced-poll host: both status registers free, clear, program, start, wait
 * started, wait finished, clear, data. */
static int paced_poll(unsigned short base, unsigned char address, unsigned char reg,
                      unsigned char* data) {
  inb(base + STATUS);
  inb(base + SECOND_STATUS);
  outb(inb(base + STATUS), base + STATUS);
  outb(address, base + ADDRESS);
  outb(reg, base + COMMAND);
  outb(PACED_START_BYTE_DATA, base + CONTROL);
  poll(base, BUSY | DONE, 1);
  const unsigned char status = poll(base, BUSY, 0);
  outb(inb(base + STATUS), base + STATUS);
  *data = inb(base + DATA0);
  return (status & ERRORS) == 0;
}

int main(int argc, char** argv) {
  const int paced = argc == 6 && strcmp(argv[5], "--paced-poll") == 0;
  if (argc != 5 && !paced) {
    fprintf(stderr, "usage: port_floor BASE CHIP REG COUNT [--paced-poll]\n");
    return 1;
  }
  const unsigned short base = (unsigned short)strtoul(argv[1], NULL, 0);
  const unsigned char address = (unsigned char)(strtoul(argv[2], NULL, 0) << 1 | 1);
  const unsigned char reg = (unsigned char)strtoul(argv[3], NULL, 0);
  const long count = strtol(argv[4], NULL, 0);
  if (iopl(3) != 0) {
    fprintf(stderr, "port_floor: iopl(3): %s\n", strerror(errno));
    return 1;
  }
  unsigned char data = 0;
  const double start = now();
  for (long i = 0; i < count; ++i) {
    const int ok =
        paced ? paced_poll(base, address, reg, &data) : byte_done(base, address, reg, &data);
    if (!ok) {
      fprintf(stderr, "port_floor: transaction %ld ended with an error flag\n", i);
      return 1;
    }
  }
  const double seconds = now() - start;
  printf(
      "port floor read-byte: %ld transactions in %.3f s: %.0f per second (%d port accesses each), "
      "last value 0x%02x\n",
      count, seconds, seconds > 0 ? (double)count / seconds : 0.0, paced ? 12 : 13, data);
  return 0;
}
