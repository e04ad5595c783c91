/* OMZI2C client library: plain C functions over the driver, for programs in
 * C and for bindings in other languages (C#, Python's ctypes, Rust).
 *
 * Built as omzi2c.dll (x86 and x64 Windows, with omzi2c.def and an import
 * library) and as libomzi2c.so (Linux, where the library holds the driver
 * itself on the simulated board or on real ports).
 *
 * Conventions:
 *  - Calling convention: __cdecl on 32-bit x86 Windows (OMZI2C_CALL), the
 *    platform's only C convention on x64 Windows and on Linux. Names are
 *    exported undecorated.
 *  - Every call returns an omzi2c_status: OMZI2C_OK (0) or a negative error.
 *    No C++ type, exception or allocation owned by the caller crosses the
 *    interface; strings returned are static.
 *  - Chip addresses are 7-bit (0x00-0x7f); the library shifts them into the
 *    address byte. Data lengths are 1 to 32 bytes.
 *  - Bad arguments (a NULL handle or buffer, a length of 0 or over 32, a chip
 *    address over 0x7f, a port width other than 8, 16 or 32, a value wider
 *    than its port) return OMZI2C_ERROR_BAD_ARGUMENT without a driver call.
 *  - Calls on one handle from several threads are safe; omzi2c_close must be
 *    the handle's last call.
 *
 * Sequences and the shared SMBus hold: each SMBus request (never a port
 * request) runs under a hold that other programs share, and omzi2c_lock /
 * omzi2c_unlock keep that hold across several requests, so that no other
 * program's request comes between them (an SPD page select and the reads of
 * that page, say). The hold belongs to the thread that took it; it nests.
 *  - Windows: the named mutex "Global\Access_SMBUS.HTP.Method", which
 *    hardware monitors and lighting tools take around their own SMBus
 *    transactions. The wait for it is bounded (30 s unless
 *    omzi2c_set_wait_limit says less); past it the call fails with
 *    OMZI2C_ERROR_BUS_HELD. A mutex left by a holder that ended without
 *    releasing it is taken and counted once (omzi2c_abandoned).
 *    OMZI2C_OPEN_NO_SHARED_HOLD opts a handle out, for callers that take the
 *    mutex themselves. Programs that send requests to the driver directly,
 *    without this library or the omzi2c tool, take no such mutex: nothing
 *    protects a sequence against them.
 *  - Linux: a lock of its own in the bus lock folder (/run/omzi2c) for
 *    --board ports, shared by every process using the library or the tool;
 *    within the process for the simulated board, which no other process
 *    sees. A holder that died is taken over and counted the same way.
 * Lock order: the sequence's hold first, then the driver's bus event, which
 * the driver takes for each request on its own.
 */
#ifndef OMZI2C_OMZI2C_CLIENT_H
#define OMZI2C_OMZI2C_CLIENT_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && (defined(_M_IX86) || defined(__i386__))
#define OMZI2C_CALL __cdecl
#else
#define OMZI2C_CALL
#endif

#if defined(OMZI2C_CLIENT_BUILD)
#if defined(_WIN32)
#define OMZI2C_API /* exported through omzi2c.def */
#else
#define OMZI2C_API __attribute__((visibility("default")))
#endif
#elif defined(_WIN32) && !defined(OMZI2C_CLIENT_STATIC)
#define OMZI2C_API __declspec(dllimport)
#else
#define OMZI2C_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The interface's version: changes when a function or a value changes. */
#define OMZI2C_CLIENT_ABI_VERSION 1

typedef int omzi2c_status;
#define OMZI2C_OK 0
#define OMZI2C_ERROR_DRIVER (-1)        /* the driver failed the request: omzi2c_last_failure */
#define OMZI2C_ERROR_ACCESS_DENIED (-2) /* the driver or the ports need an administrator (root) */
#define OMZI2C_ERROR_NOT_PRESENT (-3)   /* the driver is not installed or did not start */
#define OMZI2C_ERROR_BUS_HELD (-4)      /* another program held the bus past the wait limit */
#define OMZI2C_ERROR_BAD_ARGUMENT (-5)  /* refused before any driver call */
#define OMZI2C_ERROR_ALREADY_OPEN (-6)  /* Linux: this process holds the driver already */

/* Largest data length of one request. */
#define OMZI2C_MAX_LENGTH 32

/* omzi2c_open flags. */
#define OMZI2C_OPEN_NO_SHARED_HOLD 0x1u /* the caller holds the shared SMBus mutex itself */

/* omzi2c_info services. */
#define OMZI2C_SERVICE_PORTS 0x1u
#define OMZI2C_SERVICE_SMBUS 0x2u

/* omzi2c_last_failure's result when the driver's result code is unknown. */
#define OMZI2C_RESULT_UNKNOWN (-1)

typedef struct omzi2c_handle omzi2c_handle; /* opaque */

/* "1.0.0", and OMZI2C_CLIENT_ABI_VERSION of the library loaded. */
OMZI2C_API const char* OMZI2C_CALL omzi2c_version(void);
OMZI2C_API uint32_t OMZI2C_CALL omzi2c_abi_version(void);
/* Words for a status; never NULL. */
OMZI2C_API const char* OMZI2C_CALL omzi2c_strerror(omzi2c_status status);

/* Opens the driver. `options` (NULL or "" for the defaults): on Linux the
 * omzi2c tool's session options, separated by spaces ("--board ports
 * --chipset 4 --vid 0x8086 --did 0x2930 --func 3", "--config omzi2c.reg",
 * "--fault nak", "--state FILE", "-f", ...); on Windows only NULL or "" (the
 * installed driver's parameters apply). Linux allows one open handle per
 * process (OMZI2C_ERROR_ALREADY_OPEN). On failure *handle is NULL and, when
 * `message` is not NULL, the reason is written there (cut to `size`, always
 * terminated). */
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_open(const char* options, uint32_t flags,
                                                 omzi2c_handle** handle, char* message,
                                                 size_t size);
/* Releases a hold the calling thread still has and closes; NULL is ignored. */
OMZI2C_API void OMZI2C_CALL omzi2c_close(omzi2c_handle* handle);

/* The SMBus host kind (Chipset), its I/O base and OMZI2C_SERVICE_ bits.
 * Windows reads the driver's parameters; the base is 0 there (the driver
 * does not report it). Each output may be NULL. */
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_info(omzi2c_handle* handle, int32_t* chipset,
                                                 uint32_t* base, uint32_t* services);

/* The last failed request of the handle (of any thread): the driver's
 * NTSTATUS (STATUS_IO_TIMEOUT, 0xC00000B5, also when the library's own wait
 * for the shared hold ran out) and the result code of the driver's error
 * reply (OMZI2C_RESULT_ in omzi2c.h). On Windows a failed request returns no
 * output, so the result is OMZI2C_RESULT_UNKNOWN there; on Linux it is known
 * for the reading requests. Both 0 before any failure. */
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_last_failure(omzi2c_handle* handle, uint32_t* ntstatus,
                                                         int32_t* result);

/* Port service: width 8, 16 or 32 bits. Takes no SMBus hold. */
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_port_read(omzi2c_handle* handle, uint16_t port,
                                                      unsigned width, uint32_t* value);
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_port_write(omzi2c_handle* handle, uint16_t port,
                                                       unsigned width, uint32_t value);

/* SMBus transactions, one verb each. */
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_receive_byte(omzi2c_handle* handle, uint8_t chip,
                                                         uint8_t* value);
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_send_byte(omzi2c_handle* handle, uint8_t chip,
                                                      uint8_t value);
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_read_byte_data(omzi2c_handle* handle, uint8_t chip,
                                                           uint8_t command, uint8_t* value);
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_write_byte_data(omzi2c_handle* handle, uint8_t chip,
                                                            uint8_t command, uint8_t value);
/* Words: the first byte on the bus is the low byte. */
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_read_word_data(omzi2c_handle* handle, uint8_t chip,
                                                           uint8_t command, uint16_t* value);
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_write_word_data(omzi2c_handle* handle, uint8_t chip,
                                                            uint8_t command, uint16_t value);
/* Block read: `data` has room for OMZI2C_MAX_LENGTH bytes; *length gets the
 * count the device sent. */
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_block_read(omzi2c_handle* handle, uint8_t chip,
                                                       uint8_t command, uint8_t* data,
                                                       size_t* length);
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_block_write(omzi2c_handle* handle, uint8_t chip,
                                                        uint8_t command, const uint8_t* data,
                                                        size_t length);
/* Multi-byte requests: a read of `command` then receive bytes (2 bytes: one
 * word read); writes of command, command + 1, ... (2 bytes: one word write);
 * bytes received or sent without a command. */
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_read_bytes(omzi2c_handle* handle, uint8_t chip,
                                                       uint8_t command, uint8_t* data,
                                                       size_t length);
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_write_bytes(omzi2c_handle* handle, uint8_t chip,
                                                        uint8_t command, const uint8_t* data,
                                                        size_t length);
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_receive_bytes(omzi2c_handle* handle, uint8_t chip,
                                                          uint8_t* data, size_t length);
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_send_bytes(omzi2c_handle* handle, uint8_t chip,
                                                       const uint8_t* data, size_t length);
/* Messages, on the hosts that have them (Chipset 5 and 6; elsewhere the
 * driver fails them with STATUS_NOT_SUPPORTED). The reply's bytes, without
 * its length byte, go to `reply` (room for OMZI2C_MAX_LENGTH bytes). */
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_exchange_message(omzi2c_handle* handle, uint8_t chip,
                                                             const uint8_t* message, size_t length,
                                                             uint8_t* reply, size_t* replyLength);
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_write_message(omzi2c_handle* handle, uint8_t chip,
                                                          const uint8_t* message, size_t length);

/* The sequence hold (see above): omzi2c_lock waits for it (or nests);
 * omzi2c_unlock gives it back, OMZI2C_ERROR_BAD_ARGUMENT when the calling
 * thread does not hold it. With OMZI2C_OPEN_NO_SHARED_HOLD both do nothing. */
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_lock(omzi2c_handle* handle);
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_unlock(omzi2c_handle* handle);
/* The longest wait for the hold, in ms: 0 (one try) to 30000 (the default). */
OMZI2C_API omzi2c_status OMZI2C_CALL omzi2c_set_wait_limit(omzi2c_handle* handle,
                                                           uint32_t milliseconds);
/* How many times this handle took a hold whose former holder ended without
 * releasing it, since the last call (each such hold is counted once). */
OMZI2C_API uint32_t OMZI2C_CALL omzi2c_abandoned(omzi2c_handle* handle);

#ifdef __cplusplus
}
#endif

#endif /* OMZI2C_OMZI2C_CLIENT_H */
