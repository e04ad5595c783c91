"""Loading the OMZI2C client library and declaring its C functions."""

import ctypes
import os
import sys
import threading

# The interface version this package is written against.
ABI_VERSION = 1

# Status values of the C interface.
OK = 0
ERROR_DRIVER = -1
ERROR_ACCESS_DENIED = -2
ERROR_NOT_PRESENT = -3
ERROR_BUS_HELD = -4
ERROR_BAD_ARGUMENT = -5
ERROR_ALREADY_OPEN = -6

MAX_LENGTH = 32
OPEN_NO_SHARED_HOLD = 0x1
SERVICE_PORTS = 0x1
SERVICE_SMBUS = 0x2
RESULT_UNKNOWN = -1
LONGEST_WAIT_MS = 30000

_h = ctypes.c_void_p
_u8 = ctypes.c_uint8
_u8p = ctypes.POINTER(ctypes.c_uint8)
_size = ctypes.c_size_t
_int = ctypes.c_int

# name: (result type, argument types)
_PROTOTYPES = {
    "omzi2c_version": (ctypes.c_char_p, []),
    "omzi2c_abi_version": (ctypes.c_uint32, []),
    "omzi2c_strerror": (ctypes.c_char_p, [_int]),
    "omzi2c_open": (_int, [ctypes.c_char_p, ctypes.c_uint32, ctypes.POINTER(_h),
                           ctypes.c_char_p, _size]),
    "omzi2c_close": (None, [_h]),
    "omzi2c_info": (_int, [_h, ctypes.POINTER(ctypes.c_int32), ctypes.POINTER(ctypes.c_uint32),
                           ctypes.POINTER(ctypes.c_uint32)]),
    "omzi2c_last_failure": (_int, [_h, ctypes.POINTER(ctypes.c_uint32),
                                   ctypes.POINTER(ctypes.c_int32)]),
    "omzi2c_port_read": (_int, [_h, ctypes.c_uint16, ctypes.c_uint,
                                ctypes.POINTER(ctypes.c_uint32)]),
    "omzi2c_port_write": (_int, [_h, ctypes.c_uint16, ctypes.c_uint, ctypes.c_uint32]),
    "omzi2c_receive_byte": (_int, [_h, _u8, _u8p]),
    "omzi2c_send_byte": (_int, [_h, _u8, _u8]),
    "omzi2c_read_byte_data": (_int, [_h, _u8, _u8, _u8p]),
    "omzi2c_write_byte_data": (_int, [_h, _u8, _u8, _u8]),
    "omzi2c_read_word_data": (_int, [_h, _u8, _u8, ctypes.POINTER(ctypes.c_uint16)]),
    "omzi2c_write_word_data": (_int, [_h, _u8, _u8, ctypes.c_uint16]),
    "omzi2c_block_read": (_int, [_h, _u8, _u8, _u8p, ctypes.POINTER(_size)]),
    "omzi2c_block_write": (_int, [_h, _u8, _u8, _u8p, _size]),
    "omzi2c_read_bytes": (_int, [_h, _u8, _u8, _u8p, _size]),
    "omzi2c_write_bytes": (_int, [_h, _u8, _u8, _u8p, _size]),
    "omzi2c_lock": (_int, [_h]),
    "omzi2c_unlock": (_int, [_h]),
    "omzi2c_set_wait_limit": (_int, [_h, ctypes.c_uint32]),
    "omzi2c_abandoned": (ctypes.c_uint32, [_h]),
}

_loaded = {}
_loading = threading.Lock()


def default_name():
    """The library's file name on this system, looked for where the system
    looks for libraries unless OMZI2C_LIBRARY names a path."""
    return "omzi2c.dll" if sys.platform == "win32" else "libomzi2c.so"


def load(path=None):
    """The C library at `path` (or OMZI2C_LIBRARY, or the system's default
    place), loaded once per process, its functions declared. Raises OSError
    when it cannot be loaded or is of another interface version."""
    path = path or os.environ.get("OMZI2C_LIBRARY") or default_name()
    path = os.fspath(path)
    with _loading:
        library = _loaded.get(path)
        if library is None:
            # CDLL is the C convention, which 32-bit Windows builds use too.
            library = ctypes.CDLL(path)
            for name, (restype, argtypes) in _PROTOTYPES.items():
                function = getattr(library, name)
                function.restype = restype
                function.argtypes = argtypes
            version = library.omzi2c_abi_version()
            if version != ABI_VERSION:
                raise OSError(f"{path} has interface version {version}; "
                              f"this package needs version {ABI_VERSION}")
            _loaded[path] = library
        return library
