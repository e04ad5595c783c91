"""The package's error: an OSError with the library's status, the driver's
NTSTATUS and, where known, the result code of the failed transaction."""

import errno

from . import _library as lib

STATUS_IO_DEVICE_ERROR = 0xC0000185
STATUS_TRANSACTION_TIMED_OUT = 0xC0000210
STATUS_IO_TIMEOUT = 0xC00000B5
STATUS_NOT_SUPPORTED = 0xC00000BB
STATUS_CANCELLED = 0xC0000120

RESULT_ADDRESS_NOT_ACKNOWLEDGED = 1

# The errno of each library status other than a driver failure.
_STATUS_ERRNO = {
    lib.ERROR_ACCESS_DENIED: errno.EACCES,
    lib.ERROR_NOT_PRESENT: errno.ENODEV,
    lib.ERROR_BUS_HELD: errno.EBUSY,
    lib.ERROR_BAD_ARGUMENT: errno.EINVAL,
    lib.ERROR_ALREADY_OPEN: errno.EBUSY,
}

# The errno of a driver failure, by its NTSTATUS.
_NTSTATUS_ERRNO = {
    STATUS_IO_DEVICE_ERROR: errno.EIO,
    STATUS_TRANSACTION_TIMED_OUT: errno.ETIMEDOUT,
    STATUS_IO_TIMEOUT: errno.ETIMEDOUT,
    STATUS_NOT_SUPPORTED: errno.EOPNOTSUPP,
    STATUS_CANCELLED: errno.ECANCELED,
}


def _errno_of(status, ntstatus, result):
    """The errno a Linux i2c bus would give for the same failure, so that
    scripts that test e.errno keep working: ENXIO for a chip that did not
    acknowledge its address, as i2c adapters report it."""
    if status != lib.ERROR_DRIVER:
        return _STATUS_ERRNO.get(status, errno.EIO)
    if result == RESULT_ADDRESS_NOT_ACKNOWLEDGED:
        return errno.ENXIO
    return _NTSTATUS_ERRNO.get(ntstatus, errno.EIO)


class OMZI2CError(OSError):
    """A call the library or the driver failed.

    status: the library's status (negative, ERROR_ in this package);
    ntstatus: the driver's NTSTATUS, or None when no request failed (an open);
    result: the driver's result code of the transaction (16: device error,
    for a chip that is not there), or None where it is unknown (a writing
    request, any failure on Windows, an open).
    errno follows a Linux i2c bus's (ENXIO, EIO, ETIMEDOUT, EBUSY, ...)."""

    def __init__(self, message, status, ntstatus=None, result=None):
        self.status = status
        self.ntstatus = ntstatus
        self.result = result
        super().__init__(_errno_of(status, ntstatus, result), message)

    def __str__(self):
        return self.strerror

    def __reduce__(self):
        return (type(self), (self.strerror, self.status, self.ntstatus, self.result))
