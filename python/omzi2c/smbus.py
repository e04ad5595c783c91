"""SMBus transactions and I/O ports through the OMZI2C driver, with the
method names, signatures and return types of smbus2's SMBus class."""

import collections
import contextlib
import ctypes
import operator
import sys

from . import _library as lib
from .errors import OMZI2CError

Info = collections.namedtuple("Info", "chipset base services")
Info.__doc__ = """The SMBus host kind (Chipset), its I/O base (0 on Windows, where
the driver does not report it) and the services enabled (SERVICE_ bits)."""

# Board options of the open, as keyword arguments: name -> kind. The
# simulated board and real ports are Linux's; on Windows the installed
# driver's parameters apply and none of these may be given.
_OPTION_KINDS = {
    "board": str,  # "sim" (default) or "ports" (root)
    "config": str,  # driver parameters from a .reg file
    "chipset": int,
    "vid": int,
    "did": int,
    "func": int,
    "port_service": bool,
    "smb_service": bool,
    "state": str,  # keep the simulated board's memory in this file
    "fault": list,  # simulated faults, one name or a list of names
    "trace": bool,  # every port access and pause on stderr
}


def _integer(value, what, top):
    """`value` as an int in 0..top, or ValueError naming `what`."""
    try:
        number = operator.index(value)
    except TypeError:
        raise ValueError(f"{what} must be an integer, not {type(value).__name__}") from None
    if isinstance(value, bool) or not 0 <= number <= top:
        raise ValueError(f"{what} must be 0 to {top:#x}, not {value!r}")
    return number


def _chip(address):
    return _integer(address, "i2c_addr (a 7-bit chip address)", 0x7F)


def _data(data, what="data"):
    """A list of 1 to 32 bytes as a ctypes array."""
    try:
        values = [_integer(byte, f"each byte of {what}", 0xFF) for byte in data]
    except TypeError:
        raise ValueError(f"{what} must be a sequence of bytes") from None
    if not 1 <= len(values) <= lib.MAX_LENGTH:
        raise ValueError(f"{what} must hold 1 to {lib.MAX_LENGTH} bytes, not {len(values)}")
    return (ctypes.c_uint8 * len(values))(*values), len(values)


def _force(force):
    if force is not None and not isinstance(force, bool):
        raise ValueError(f"force must be None, True or False, not {force!r}")


def _option_words(options):
    """The library's open options for the keyword arguments given."""
    words = []
    for name, value in options.items():
        kind = _OPTION_KINDS.get(name)
        if kind is None:
            raise ValueError(f"unknown option {name!r}; the options are: "
                             + ", ".join(sorted(_OPTION_KINDS)))
        if value is None:
            continue
        flag = "--" + name.replace("_", "-")
        if kind is bool:
            if not isinstance(value, bool):
                raise ValueError(f"{name} must be True or False, not {value!r}")
            if name == "trace":
                words += [flag] if value else []
            else:
                words.append(f"{flag}={'on' if value else 'off'}")
            continue
        values = [value] if kind is not list or isinstance(value, str) else list(value)
        for item in values:
            if kind is int:
                item = _integer(item, name, 0xFFFF)
            elif not isinstance(item, str) or not item or any(c.isspace() for c in item):
                raise ValueError(f"{name} must be a text without spaces, not {item!r}")
            words.append(f"{flag}={item}")
    return words


class _Handle:
    """One open handle of the library; raises OMZI2CError for a failed call."""

    def __init__(self, library, options, force, shared_hold, wait_limit):
        words = _option_words(options)
        if sys.platform == "win32" and words:
            raise ValueError("on Windows the installed driver's parameters apply: "
                             "no board options may be given")
        # Windows has no other driver of the host to check for: force is moot there.
        if force and sys.platform != "win32":
            words.append("--force")
        if wait_limit is not None:
            _integer(wait_limit, "wait_limit (ms)", lib.LONGEST_WAIT_MS)
        self.lib = lib.load(library)
        handle = ctypes.c_void_p()
        message = ctypes.create_string_buffer(512)
        flags = 0 if shared_hold else lib.OPEN_NO_SHARED_HOLD
        status = self.lib.omzi2c_open(" ".join(words).encode(), flags, ctypes.byref(handle),
                                      message, len(message))
        if status != lib.OK:
            reason = message.value.decode(errors="replace") or self._words(status)
            raise OMZI2CError(f"cannot open the driver: {reason}", status)
        self.handle = handle
        if wait_limit is not None:
            self.call("omzi2c_set_wait_limit", None, wait_limit)

    def _words(self, status):
        return self.lib.omzi2c_strerror(status).decode()

    def call(self, name, chip, *args):
        """Calls `name` with the handle and `args`; `chip` is named in the
        error of a failed call."""
        if self.handle is None:
            raise ValueError("the bus is closed")
        status = getattr(self.lib, name)(self.handle, *args)
        if status == lib.OK:
            return
        ntstatus, result = ctypes.c_uint32(), ctypes.c_int32()
        known = status in (lib.ERROR_DRIVER, lib.ERROR_BUS_HELD)
        if known:
            self.lib.omzi2c_last_failure(self.handle, ctypes.byref(ntstatus), ctypes.byref(result))
        where = "" if chip is None else f" at chip {chip:#04x}"
        text = f"{name[len('omzi2c_'):]}{where}: {self._words(status)}"
        if known:
            text += f" (NTSTATUS 0x{ntstatus.value:08X}"
            if result.value != lib.RESULT_UNKNOWN:
                text += f", result {result.value}"
            text += ")"
        raise OMZI2CError(text, status, ntstatus.value if known else None,
                          result.value if known and result.value != lib.RESULT_UNKNOWN else None)

    def close(self):
        if self.handle is not None:
            self.lib.omzi2c_close(self.handle)
            self.handle = None


class SMBus:
    """The driver's SMBus, with smbus2's SMBus interface.

    SMBus(bus=0, force=False, *, library=None, shared_hold=True,
    wait_limit=None, **options) opens the driver. There is one bus, the
    driver's: any bus number names it (bus=None opens nothing until open()).
    force=True drives the SMBus host even where a kernel driver holds it
    (Linux, real ports). library: the path of libomzi2c.so or omzi2c.dll
    (default: OMZI2C_LIBRARY, else the system's library search). options,
    on Linux only: board ("sim" or "ports"), config, chipset, vid, did,
    func, port_service, smb_service, state, fault (a name or a list), trace.
    shared_hold=False leaves the shared sequence hold to the caller;
    wait_limit is the longest wait for it in ms (default 30000).
    On Linux a process has one open handle at a time.

    Where this differs from smbus2:
    - SMBus() opens the driver's bus (smbus2 opens nothing without a bus
      number); every bus number names that one bus.
    - read_i2c_block_data and write_i2c_block_data are not one I2C transfer
      but a sequence of SMBus transactions the driver composes: a read is a
      read byte at `register` then receive bytes (the chip must advance its
      register pointer itself), a write is one write byte per register
      (register, register + 1, ...), and a count of 2 is one read or write
      word transaction instead. Each piece is retried by the driver.
    - write_quick, process_call, block_process_call and i2c_rdwr have no
      request in the driver and raise NotImplementedError; so does turning
      PEC on.
    - A per-call force is accepted and ignored: the host is claimed once,
      at open.
    - Errors are OMZI2CError (an OSError) with the library status, the
      driver's NTSTATUS and result code; errno follows a Linux i2c bus's
      (ENXIO for an address not acknowledged where the result is known).
    - Bad arguments raise ValueError before any request reaches the driver;
      blocks hold 1 to 32 bytes.
    """

    def __init__(self, bus=0, force=False, *, library=None, shared_hold=True, wait_limit=None,
                 **options):
        _force(force)
        self.force = bool(force)
        self.bus = None
        self._settings = (library, options, shared_hold, wait_limit)
        self._handle = None
        if bus is not None:
            self.open(bus)

    def open(self, bus):
        """Opens the driver (smbus2: opens bus number `bus`)."""
        if isinstance(bus, bool):
            bus = -1
        self.bus = _integer(bus, "bus (a bus number)", sys.maxsize)
        if self._handle is None:
            library, options, shared_hold, wait_limit = self._settings
            self._handle = _Handle(library, options, self.force, shared_hold, wait_limit)

    def close(self):
        """Closes the driver; a hold the calling thread still has is released."""
        if self._handle is not None:
            self._handle.close()
            self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        if getattr(self, "_handle", None) is not None:
            self.close()

    def _open_handle(self):
        if self._handle is None:
            raise ValueError("the bus is not open")
        return self._handle

    def _read(self, name, chip, kind, *args):
        value = kind()
        self._open_handle().call(name, chip, chip, *args, ctypes.byref(value))
        return value.value

    # Transactions of the driver's request surface.

    def read_byte(self, i2c_addr, force=None):
        """Receive byte: one byte from the chip, without a register."""
        _force(force)
        return self._read("omzi2c_receive_byte", _chip(i2c_addr), ctypes.c_uint8)

    def write_byte(self, i2c_addr, value, force=None):
        """Send byte: one byte to the chip, without a register."""
        _force(force)
        self._open_handle().call("omzi2c_send_byte", _chip(i2c_addr), _chip(i2c_addr),
                                 _integer(value, "value", 0xFF))

    def read_byte_data(self, i2c_addr, register, force=None):
        """Read byte: the byte at `register`."""
        _force(force)
        return self._read("omzi2c_read_byte_data", _chip(i2c_addr), ctypes.c_uint8,
                          _integer(register, "register", 0xFF))

    def write_byte_data(self, i2c_addr, register, value, force=None):
        """Write byte: `value` to `register`."""
        _force(force)
        chip = _chip(i2c_addr)
        self._open_handle().call("omzi2c_write_byte_data", chip, chip,
                                 _integer(register, "register", 0xFF),
                                 _integer(value, "value", 0xFF))

    def read_word_data(self, i2c_addr, register, force=None):
        """Read word: the word at `register`, its first byte on the bus the low one."""
        _force(force)
        return self._read("omzi2c_read_word_data", _chip(i2c_addr), ctypes.c_uint16,
                          _integer(register, "register", 0xFF))

    def write_word_data(self, i2c_addr, register, value, force=None):
        """Write word: `value` to `register`, low byte first on the bus."""
        _force(force)
        chip = _chip(i2c_addr)
        self._open_handle().call("omzi2c_write_word_data", chip, chip,
                                 _integer(register, "register", 0xFF),
                                 _integer(value, "value", 0xFFFF))

    def read_block_data(self, i2c_addr, register, force=None):
        """SMBus block read at `register`: the list of bytes the chip sent
        (it gives their count, at most 32)."""
        _force(force)
        chip = _chip(i2c_addr)
        data = (ctypes.c_uint8 * lib.MAX_LENGTH)()
        length = ctypes.c_size_t()
        self._open_handle().call("omzi2c_block_read", chip, chip,
                                 _integer(register, "register", 0xFF), data,
                                 ctypes.byref(length))
        return list(data[:length.value])

    def write_block_data(self, i2c_addr, register, data, force=None):
        """SMBus block write of 1 to 32 bytes at `register`."""
        _force(force)
        chip = _chip(i2c_addr)
        register = _integer(register, "register", 0xFF)
        array, length = _data(data)
        self._open_handle().call("omzi2c_block_write", chip, chip, register, array, length)

    def read_i2c_block_data(self, i2c_addr, register, length, force=None):
        """`length` (1 to 32) bytes from `register` on, as a list. Not one I2C
        transfer: a read byte at `register`, then receive bytes; 2 bytes are
        one read word. The driver retries the whole sequence."""
        _force(force)
        chip = _chip(i2c_addr)
        register = _integer(register, "register", 0xFF)
        length = _integer(length, "length", lib.MAX_LENGTH)
        if length == 0:
            raise ValueError(f"length must be 1 to {lib.MAX_LENGTH}, not 0")
        data = (ctypes.c_uint8 * length)()
        self._open_handle().call("omzi2c_read_bytes", chip, chip, register, data, length)
        return list(data)

    def write_i2c_block_data(self, i2c_addr, register, data, force=None):
        """1 to 32 bytes to `register`, `register` + 1, ... (wrapping after
        0xff). Not one I2C transfer: a write byte per register, each retried;
        2 bytes are one write word at `register`, the first byte the low one."""
        _force(force)
        chip = _chip(i2c_addr)
        register = _integer(register, "register", 0xFF)
        array, length = _data(data)
        self._open_handle().call("omzi2c_write_bytes", chip, chip, register, array, length)

    # smbus2 transactions the driver has no request for.

    def write_quick(self, i2c_addr, force=None):
        raise NotImplementedError("the driver has no quick command request")

    def process_call(self, i2c_addr, register, value, force=None):
        raise NotImplementedError("the driver has no process call request")

    def block_process_call(self, i2c_addr, register, data, force=None):
        raise NotImplementedError("the driver has no block process call request")

    def i2c_rdwr(self, *i2c_msgs):
        raise NotImplementedError("the driver runs SMBus transactions, not I2C messages: "
                                  "read_i2c_block_data and write_i2c_block_data compose them")

    @property
    def pec(self):
        """Packet error checking: always off, the driver's requests carry none."""
        return 0

    @pec.setter
    def pec(self, enable):
        self.enable_pec(enable)

    def enable_pec(self, enable=True):
        if enable:
            raise NotImplementedError("the driver's requests carry no packet error check")

    # What the driver adds.

    @contextlib.contextmanager
    def lock(self):
        """Holds the bus for a sequence of transactions (an SPD page select
        and the reads of that page, say): no other program's request comes
        between them. The hold belongs to the calling thread and nests."""
        handle = self._open_handle()
        handle.call("omzi2c_lock", None)
        try:
            yield self
        finally:
            if handle.handle is not None:
                handle.call("omzi2c_unlock", None)

    def info(self):
        """The SMBus host kind, its base and the services, as an Info."""
        chipset, base, services = ctypes.c_int32(), ctypes.c_uint32(), ctypes.c_uint32()
        self._open_handle().call("omzi2c_info", None, ctypes.byref(chipset), ctypes.byref(base),
                                 ctypes.byref(services))
        return Info(chipset.value, base.value, services.value)

    def abandoned(self):
        """How many holds were taken since the last call whose former holder
        ended without releasing them."""
        handle = self._open_handle()
        return handle.lib.omzi2c_abandoned(handle.handle)

    @property
    def ports(self):
        """The driver's port service over this bus's handle."""
        return Ports(self)


class Ports:
    """The driver's raw I/O-port service: reads and writes of 8, 16 or 32 bits
    at any port, without the SMBus hold.

    Ports(bus=None, *, library=None, **options): over an open SMBus's handle,
    or, without one, over a handle of its own opened with SMBus's keyword
    arguments (then closed by close() or at the end of a with block)."""

    def __init__(self, bus=None, *, library=None, force=False, **options):
        if bus is not None:
            if not isinstance(bus, SMBus):
                raise ValueError("bus must be an SMBus or None")
            self._bus, self._own = bus, None
        else:
            _force(force)
            self._own = _Handle(library, options, force, True, None)
            self._bus = None

    def _handle(self):
        return self._own if self._bus is None else self._bus._open_handle()

    @staticmethod
    def _check(port, width):
        port = _integer(port, "port", 0xFFFF)
        if width not in (8, 16, 32) or isinstance(width, bool):
            raise ValueError(f"width must be 8, 16 or 32, not {width!r}")
        return port

    def read(self, port, width=8):
        """The value read at `port`, `width` bits wide."""
        port = self._check(port, width)
        value = ctypes.c_uint32()
        self._handle().call("omzi2c_port_read", None, port, width, ctypes.byref(value))
        return value.value

    def write(self, port, value, width=8):
        """Writes `value` at `port`, `width` bits wide."""
        port = self._check(port, width)
        value = _integer(value, f"value of a {width}-bit port", (1 << width) - 1)
        self._handle().call("omzi2c_port_write", None, port, width, value)

    def close(self):
        """Closes a handle of its own; one of an SMBus stays open."""
        if self._own is not None:
            self._own.close()

    def __del__(self):
        if getattr(self, "_own", None) is not None:
            self._own.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
