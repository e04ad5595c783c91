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
        return f"memory type {kind:#04x}", "?"
    name = "DDR3" if kind == DDR3 else "DDR4"
    return name, bytes(text).decode("ascii", errors="replace").strip()


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
