"""SMBus transactions and raw I/O ports through the OMZI2C driver, from
Python: smbus2's SMBus interface over the OMZI2C client library
(omzi2c.dll on Windows, libomzi2c.so on Linux, where it runs the driver
itself on the simulated board or, as root, on real ports).

    from omzi2c import SMBus
    with SMBus() as bus:
        memory_type = bus.read_byte_data(0x50, 2)
"""

from ._library import (ERROR_ACCESS_DENIED, ERROR_ALREADY_OPEN, ERROR_BAD_ARGUMENT,
                       ERROR_BUS_HELD, ERROR_DRIVER, ERROR_NOT_PRESENT, SERVICE_PORTS,
                       SERVICE_SMBUS)
from .errors import OMZI2CError
from .smbus import SMBus, Ports, Info

__version__ = "1.0.0"

__all__ = ["SMBus", "Ports", "Info", "OMZI2CError", "ERROR_DRIVER", "ERROR_ACCESS_DENIED",
           "ERROR_NOT_PRESENT", "ERROR_BUS_HELD", "ERROR_BAD_ARGUMENT", "ERROR_ALREADY_OPEN",
           "SERVICE_PORTS", "SERVICE_SMBUS"]
