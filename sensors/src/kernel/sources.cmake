# Kernel sources, shared by the user-space build and the Windows driver build.
set(OMZI2C_KERNEL_DIR ${CMAKE_CURRENT_LIST_DIR})
set(OMZI2C_KERNEL_SOURCES
  ${OMZI2C_KERNEL_DIR}/access_lists.cpp
  ${OMZI2C_KERNEL_DIR}/controller_state.cpp
  ${OMZI2C_KERNEL_DIR}/dispatch.cpp
  ${OMZI2C_KERNEL_DIR}/driver_entry.cpp
  ${OMZI2C_KERNEL_DIR}/port_request.cpp
  ${OMZI2C_KERNEL_DIR}/smb_request.cpp
  ${OMZI2C_KERNEL_DIR}/platform/smb_delay.cpp
  ${OMZI2C_KERNEL_DIR}/discovery/discovery.cpp
  ${OMZI2C_KERNEL_DIR}/discovery/pci_config.cpp
  ${OMZI2C_KERNEL_DIR}/hosts/byte_done_host.cpp
  ${OMZI2C_KERNEL_DIR}/hosts/chunk_buffer_host.cpp
  ${OMZI2C_KERNEL_DIR}/hosts/composed.cpp
  ${OMZI2C_KERNEL_DIR}/hosts/dual_status_host.cpp
  ${OMZI2C_KERNEL_DIR}/hosts/embedded_controller_host.cpp
  ${OMZI2C_KERNEL_DIR}/hosts/paced_poll_host.cpp
  ${OMZI2C_KERNEL_DIR}/hosts/router.cpp
  ${OMZI2C_KERNEL_DIR}/hosts/start_port_host.cpp
)
# The warnings every target of the project is built with; errors only when
# OMZI2C_WERROR is on (the test script and CI switch it on).
set(OMZI2C_WARNINGS -Wall -Wextra -Wshadow)
if(OMZI2C_WERROR)
  list(APPEND OMZI2C_WARNINGS -Werror)
endif()
# Freestanding: no exceptions, no RTTI, no standard library. The x64 Windows
# image carries unwind data (.pdata/.xdata) for its functions, as that
# architecture requires of every function that is not a leaf: crash dumps and
# the kernel's own unwinds walk through the driver's frames with it. That adds
# the tables (about 2.5 KB) and keeps prologues and epilogues in the forms
# they describe. Elsewhere (x86 Windows, the user-space build) no unwind
# tables are made: nothing there reads them.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(OMZI2C_UNWIND_FLAG -fasynchronous-unwind-tables)
else()
  set(OMZI2C_UNWIND_FLAG -fno-asynchronous-unwind-tables)
endif()
set(OMZI2C_KERNEL_FLAGS
  -ffreestanding -fno-exceptions -fno-rtti ${OMZI2C_UNWIND_FLAG}
  -fno-threadsafe-statics ${OMZI2C_WARNINGS})
