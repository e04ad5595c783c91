#!/usr/bin/env python3
"""Shows the memory modules' part numbers and the module temperature sensor's
reading, through the OMZI2C driver.

usage: modules_and_sensor.py [--library PATH] [--chipset N]
(--chipset: Linux's simulated board or real ports only; on Windows the
installed driver's parameters apply)."""

import argparse

from omzi2c import OMZI2CError, SMBus

FIRST_MODULE, LAST_MODULE = 0x50, 0x57
MEMORY_TYPE = 2
DDR3, DDR4 = 0x0B, 0x0C
DDR3_PART_NUMBER = (128, 18)  # first SPD byte, length
DDR4_PART_NUMBER = (329, 20)  # on the upper 256-byte page
SELECT_PAGE0, SELECT_PAGE1 = 0x36, 0x37
# A DDR5 module's SPD hub: its device type in MR0:MR1, the page of the
# 1024-byte memory that offsets 0x80-0xFF show in MR11 (bit 3: two-byte
# addressing, which this example leaves alone).
HUB_TYPE, HUB_PAGE, HUB_TWO_BYTE = (0x51, 0x18), 11, 0x08
DDR5_PART_NUMBER = (521, 30)
HUB_PAGE_SIZE, HUB_WINDOW = 128, 0x80
SENSOR, AMBIENT = 0x18, 5


def part_number(bus, chip):
    """The module's type and part number, or None where no module answers."""
    try:
        kind = bus.read_byte_data(chip, MEMORY_TYPE)
    except OSError:
        return None
    if kind == DDR3:
        first, length = DDR3_PART_NUMBER
        text = bus.read_i2c_block_data(chip, first, length)
    elif kind == DDR4:
        # The page select and the page's reads under one hold, so that no
        # other program switches the page in between.
        first, length = DDR4_PART_NUMBER
        with bus.lock():
            bus.write_byte_data(SELECT_PAGE1, 0, 0)
            try:
                text = bus.read_i2c_block_data(chip, first - 256, length)
            finally:
                bus.write_byte_data(SELECT_PAGE0, 0, 0)
    else:
        text = hub_part_number(bus, chip)
        if text is None:
            return f"memory type {kind:#04x}", "?"
    name = {DDR3: "DDR3", DDR4: "DDR4"}.get(kind, "DDR5")
    return name, bytes(text).decode("ascii", errors="replace").strip()


def hub_part_number(bus, chip):
    """A DDR5 module's part number through its hub, or None for anything
    else. MR11 is written only to a chip whose MR0:MR1 name a hub (on a DDR3
    or DDR4 EEPROM it would overwrite SPD byte 11), and put back afterwards,
    all under one hold."""
    first, length = DDR5_PART_NUMBER
    with bus.lock():
        if (bus.read_byte_data(chip, 0), bus.read_byte_data(chip, 1)) != HUB_TYPE:
            return None
        page = bus.read_byte_data(chip, HUB_PAGE)
        if page & HUB_TWO_BYTE:
            return None
        bus.write_byte_data(chip, HUB_PAGE, first // HUB_PAGE_SIZE)
        try:
            return bus.read_i2c_block_data(chip, HUB_WINDOW + first % HUB_PAGE_SIZE, length)
        finally:
            bus.write_byte_data(chip, HUB_PAGE, page)


def temperature(bus):
    """The sensor's ambient temperature in degrees C. The sensor sends its
    registers high byte first, the reverse of an SMBus word; the low 13 bits
    are 1/16 degree C in two's complement."""
    word = bus.read_word_data(SENSOR, AMBIENT)
    raw = ((word & 0xFF) << 8 | word >> 8) & 0x1FFF
    return (raw - 0x2000 if raw & 0x1000 else raw) / 16


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--library", help="path of libomzi2c.so or omzi2c.dll")
    parser.add_argument("--chipset", type=int, help="SMBus host kind (Linux)")
    arguments = parser.parse_args()
    with SMBus(library=arguments.library, chipset=arguments.chipset) as bus:
        for chip in range(FIRST_MODULE, LAST_MODULE + 1):
            module = part_number(bus, chip)
            if module:
                print(f"module {chip:#04x}: {module[0]}, part number {module[1]}")
        try:
            print(f"sensor {SENSOR:#04x}: {temperature(bus):+.1f} C")
        except OMZI2CError as error:
            print(f"sensor {SENSOR:#04x}: {error}")


if __name__ == "__main__":
    main()
