#!/usr/bin/env python3
"""Times one Python call: read_byte_data through SMBus, the same request
through the library's C function called straight from ctypes, and a call
that does nothing (a refused argument, no request), each the median of
several runs.

usage: call_cost.py [--library PATH] [--count N] [--chip 0x50] [--register 2]"""

import argparse
import ctypes
import statistics
import time

from omzi2c import SMBus


def per_call(function, count, runs=7):
    """The median time of one call of `function`, in microseconds."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        for _ in range(count):
            function()
        times.append((time.perf_counter() - start) / count * 1e6)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--library", help="path of libomzi2c.so or omzi2c.dll")
    parser.add_argument("--count", type=int, default=20000, help="calls per run")
    parser.add_argument("--chip", type=lambda text: int(text, 0), default=0x50)
    parser.add_argument("--register", type=lambda text: int(text, 0), default=2)
    arguments = parser.parse_args()
    chip, register = arguments.chip, arguments.register
    with SMBus(library=arguments.library) as bus:
        handle = bus._open_handle()
        value = ctypes.c_uint8()
        c_function = handle.lib.omzi2c_read_byte_data

        def through_c():
            c_function(handle.handle, chip, register, ctypes.byref(value))

        def refused():
            try:
                bus.read_byte_data(0x80, register)
            except ValueError:
                pass

        python = per_call(lambda: bus.read_byte_data(chip, register), arguments.count)
        c = per_call(through_c, arguments.count)
        nothing = per_call(refused, arguments.count)
    print(f"read_byte_data through SMBus: {python:.2f} us per call")
    print(f"the C function from ctypes:   {c:.2f} us per call")
    print(f"the package's own share:      {python - c:.2f} us per call")
    print(f"a refused argument (no request): {nothing:.2f} us per call")


if __name__ == "__main__":
    main()
