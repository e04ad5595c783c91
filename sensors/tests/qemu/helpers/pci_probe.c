/* Test scaffolding for the QEMU guest: reads the PCI configuration of one
 * function through configuration mechanism #1 (ports 0xCF8/0xCFC) with
 * user-space port I/O, to show that real port access works in the guest.
 * It only reads configuration space; SMBus transactions are the driver's job.
 *
 * Usage: pci_probe BUS DEV FUNC [--switch-off] [--piix4]
 * Prints: vendor=0x.... device=0x.... base=0x........ hostcfg=0x.. io=N
 * (base: dword at 0x20, hostcfg: byte at 0x40, io: the command register's I/O
 * space enable; with --piix4, the layout of the pc machine's power-management
 * function: base dword at 0x90, hostcfg byte at 0xD2). --switch-off first
 * clears the I/O space enable and bit 0 of the hostcfg byte, undoing what the
 * firmware did, so that a later run of the driver only finds the host
 * answering if its own discovery switched it on.
 * Exit status 0, or 1 when the ports cannot be reached. */
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/io.h>

static uint32_t config_read32(unsigned bus, unsigned dev, unsigned func, unsigned offset) {
  const uint32_t address = 0x80000000u | (bus << 16) | (dev << 11) | (func << 8) | (offset & 0xFC);
  outl(address, 0xCF8);
  return inl(0xCFC);
}

static void config_write32(unsigned bus, unsigned dev, unsigned func, unsigned offset,
                           uint32_t value) {
  const uint32_t address = 0x80000000u | (bus << 16) | (dev << 11) | (func << 8) | (offset & 0xFC);
  outl(address, 0xCF8);
  outl(value, 0xCFC);
}

int main(int argc, char** argv) {
  int switch_off = 0, piix4 = 0, bad = argc < 4;
  for (int i = 4; i < argc; ++i) {
    if (strcmp(argv[i], "--switch-off") == 0)
      switch_off = 1;
    else if (strcmp(argv[i], "--piix4") == 0)
      piix4 = 1;
    else
      bad = 1;
  }
  if (bad) {
    fprintf(stderr, "usage: pci_probe BUS DEV FUNC [--switch-off] [--piix4]\n");
    return 1;
  }
  /* Where the base dword and the host configuration byte are. */
  const unsigned base_offset = piix4 ? 0x90 : 0x20;
  const unsigned hostcfg_offset = piix4 ? 0xD0 : 0x40;
  const unsigned hostcfg_shift = piix4 ? 16 : 0;
  const unsigned bus = (unsigned)strtoul(argv[1], NULL, 0);
  const unsigned dev = (unsigned)strtoul(argv[2], NULL, 0);
  const unsigned func = (unsigned)strtoul(argv[3], NULL, 0);
  if (iopl(3) != 0) {
    fprintf(stderr, "pci_probe: iopl(3): %s\n", strerror(errno));
    return 1;
  }
  if (switch_off) {
    config_write32(bus, dev, func, hostcfg_offset,
                   config_read32(bus, dev, func, hostcfg_offset) & ~(1u << hostcfg_shift));
    config_write32(bus, dev, func, 0x04, config_read32(bus, dev, func, 0x04) & ~1u);
  }
  const uint32_t id = config_read32(bus, dev, func, 0x00);
  const uint32_t command = config_read32(bus, dev, func, 0x04) & 0xFFFF;
  const uint32_t base = config_read32(bus, dev, func, base_offset);
  const uint32_t hostcfg = (config_read32(bus, dev, func, hostcfg_offset) >> hostcfg_shift) & 0xFF;
  printf("vendor=0x%04x device=0x%04x base=0x%08x hostcfg=0x%02x io=%u\n", id & 0xFFFF, id >> 16,
         base, hostcfg, command & 1u);
  return 0;
}
