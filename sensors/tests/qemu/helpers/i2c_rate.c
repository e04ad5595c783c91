/* Benchmark helper for the QEMU guest: read-byte transactions per second
 * through the Linux kernel's own SMBus driver, reached through i2c-dev.
 * The kernel does the transactions; this program only times the ioctls.
 *
 * Usage: i2c_rate DEVICE CHIP REG COUNT
 * Prints: i2c-dev read-byte: COUNT transactions in S s: R per second
 * Exit status 0, or 1 when a transaction fails. */
#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: i2c_rate DEVICE CHIP REG COUNT\n");
    return 1;
  }
  const int fd = open(argv[1], O_RDWR);
  if (fd < 0) {
    fprintf(stderr, "i2c_rate: %s: %s\n", argv[1], strerror(errno));
    return 1;
  }
  const long chip = strtol(argv[2], NULL, 0);
  const unsigned char reg = (unsigned char)strtoul(argv[3], NULL, 0);
  const long count = strtol(argv[4], NULL, 0);
  if (ioctl(fd, I2C_SLAVE, chip) < 0) {
    fprintf(stderr, "i2c_rate: I2C_SLAVE 0x%02lx: %s\n", chip, strerror(errno));
    return 1;
  }
  union i2c_smbus_data data;
  struct i2c_smbus_ioctl_data request = {
      .read_write = I2C_SMBUS_READ, .command = reg, .size = I2C_SMBUS_BYTE_DATA, .data = &data};
  const double start = now();
  for (long i = 0; i < count; ++i) {
    if (ioctl(fd, I2C_SMBUS, &request) < 0) {
      fprintf(stderr, "i2c_rate: read byte %ld failed: %s\n", i, strerror(errno));
      return 1;
    }
  }
  const double seconds = now() - start;
  printf("i2c-dev read-byte: %ld transactions in %.3f s: %.0f per second\n", count, seconds,
         seconds > 0 ? (double)count / seconds : 0.0);
  close(fd);
  return 0;
}
