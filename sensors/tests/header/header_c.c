// The public header as a C caller sees it: it stands alone, may be included
// twice, and its macros are integer constant expressions fit for case labels;
// the switches also refuse two codes or two result codes of the same value.
#include <omzi2c/omzi2c.h>
#include <omzi2c/omzi2c.h>

int omzi2c_header_needs_write_access(uint32_t code) {
  switch (code) {
    case OMZI2C_IOCTL_PORT_READ:
    case OMZI2C_IOCTL_RECEIVE_BYTES:
    case OMZI2C_IOCTL_READ_WITH_COMMAND:
      return 0;
    case OMZI2C_IOCTL_PORT_WRITE:
    case OMZI2C_IOCTL_WRITE_WITH_COMMAND:
    case OMZI2C_IOCTL_SEND_BYTES:
    case OMZI2C_IOCTL_UNSUPPORTED:
    case OMZI2C_IOCTL_BLOCK_READ:
    case OMZI2C_IOCTL_BLOCK_WRITE:
    case OMZI2C_IOCTL_EXCHANGE_MESSAGE:
    case OMZI2C_IOCTL_WRITE_MESSAGE:
      return 1;
  }
  return -1;
}

int omzi2c_header_is_known_result(uint32_t result) {
  switch (result) {
    case OMZI2C_RESULT_SUCCESS:
    case OMZI2C_RESULT_NO_ACKNOWLEDGE:
    case OMZI2C_RESULT_TIMEOUT:
    case OMZI2C_RESULT_NOT_SUPPORTED:
    case OMZI2C_RESULT_BUS_BUSY:
    case OMZI2C_RESULT_HOST_NOT_READY:
    case OMZI2C_RESULT_COLLISION_OR_DEVICE_ERROR:
    case OMZI2C_RESULT_ALERT:
    case OMZI2C_RESULT_FAILED:
    case OMZI2C_RESULT_BUS_ERROR:
    case OMZI2C_RESULT_DEVICE_ERROR:
    case OMZI2C_RESULT_PEC_ERROR:
      return 1;
  }
  return 0;
}
