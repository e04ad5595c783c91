/* The client library's header as a C caller sees it: it stands alone, may be
 * included twice, and its statuses are distinct constants fit for case
 * labels (a duplicate would stop the compile). */
#include <omzi2c/omzi2c_client.h>
#include <omzi2c/omzi2c_client.h>

int omzi2c_client_header_is_failure(omzi2c_status status) {
  switch (status) {
    case OMZI2C_OK:
      return 0;
    case OMZI2C_ERROR_DRIVER:
    case OMZI2C_ERROR_ACCESS_DENIED:
    case OMZI2C_ERROR_NOT_PRESENT:
    case OMZI2C_ERROR_BUS_HELD:
    case OMZI2C_ERROR_BAD_ARGUMENT:
    case OMZI2C_ERROR_ALREADY_OPEN:
      return 1;
    default:
      return -1;
  }
}

/* A function's type as the header declares it, taken by address (a function
 * rather than a constant, which C++ would give internal linkage and warn
 * about as unused). */
typedef omzi2c_status (*omzi2c_client_header_read_type)(omzi2c_handle*, uint8_t, uint8_t, uint8_t*);
omzi2c_client_header_read_type omzi2c_client_header_read(void) {
  return omzi2c_read_byte_data;
}
