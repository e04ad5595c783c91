# Checks the linked driver image: a native-subsystem PE of the architecture's
# format (PE32 for x86, PE32+ for x64) whose entry point is DriverEntry (the
# symbol ENTRY: _DriverEntry@8 on x86, DriverEntry on x64), that imports only
# the routines of the list IMPORTS (from ntoskrnl.exe and HAL.dll) and exports
# nothing. With DEBUG_IMAGE, IMAGE is the stripped release image (no symbols,
# smaller) and DEBUG_IMAGE its copy with symbols, which names DriverEntry at
# the same entry point and has the same sections. A PE32+ image must have
# unwind data (.pdata) for every function of DEBUG_IMAGE that is not a leaf
# (driver_image_rules.cmake says which are).
#   cmake -DOBJDUMP=... -DNM=... -DIMAGE=omzi2c.sys -DIMPORTS=imports-x86.txt
#         [-DDEBUG_IMAGE=omzi2c-debug.sys] [-DFORMAT=PE32|PE32+]
#         [-DENTRY=_DriverEntry@8|DriverEntry] -P check_driver_image.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/driver_image_rules.cmake)
if(NOT FORMAT)
  set(FORMAT PE32)
endif()
if(NOT ENTRY)
  set(ENTRY _DriverEntry@8)
endif()
foreach(var OBJDUMP NM IMAGE IMPORTS)
  if(NOT ${var})
    message(FATAL_ERROR "${var} not set")
  endif()
endforeach()
if(NOT EXISTS "${IMAGE}")
  message(FATAL_ERROR "no driver image at ${IMAGE}")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${IMAGE} OUTPUT_VARIABLE headers RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed")
endif()

if(FORMAT STREQUAL "PE32+")
  set(magic 020b)
elseif(FORMAT STREQUAL "PE32")
  set(magic 010b)
else()
  message(FATAL_ERROR "FORMAT is PE32 or PE32+, not '${FORMAT}'")
endif()
if(NOT headers MATCHES "\nMagic[ \t]+${magic}")
  message(FATAL_ERROR "not a ${FORMAT} image: ${IMAGE}")
endif()
if(NOT headers MATCHES "Subsystem[ \t]+00000001")
  message(FATAL_ERROR "not a native-subsystem image")
endif()
omzi2c_check_imports("${headers}" "${IMPORTS}")
# -shared leaves an export directory behind; it must stay empty.
# The first "Export Address Table" line holds the count, a later one the address.
string(REGEX MATCH "Export Address Table[ \t]+([0-9a-fA-F]+)" _ "${headers}")
if(CMAKE_MATCH_1 AND NOT CMAKE_MATCH_1 MATCHES "^0+$")
  message(FATAL_ERROR "driver exports 0x${CMAKE_MATCH_1} symbols")
endif()

string(REGEX MATCH "AddressOfEntryPoint[ \t]+([0-9a-fA-F]+)" _ "${headers}")
set(entry_rva "${CMAKE_MATCH_1}")
string(REGEX MATCH "ImageBase[ \t]+([0-9a-fA-F]+)" _ "${headers}")
set(image_base "${CMAKE_MATCH_1}")
set(symbol_image "${IMAGE}")
if(DEBUG_IMAGE)
  if(NOT EXISTS "${DEBUG_IMAGE}")
    message(FATAL_ERROR "no debug image at ${DEBUG_IMAGE}")
  endif()
  execute_process(COMMAND ${NM} ${IMAGE} OUTPUT_VARIABLE shipped ERROR_VARIABLE ignored)
  if(shipped MATCHES "[0-9a-fA-F]+ [A-Za-z] ")
    message(FATAL_ERROR "the release image still carries symbols")
  endif()
  file(SIZE "${IMAGE}" image_size)
  file(SIZE "${DEBUG_IMAGE}" debug_size)
  if(NOT image_size LESS debug_size)
    message(FATAL_ERROR "the release image (${image_size} bytes) is not smaller than the "
                        "debug image (${debug_size} bytes)")
  endif()
  execute_process(COMMAND ${OBJDUMP} -p ${DEBUG_IMAGE} OUTPUT_VARIABLE debug_headers)
  string(REGEX MATCH "AddressOfEntryPoint[ \t]+([0-9a-fA-F]+)" _ "${debug_headers}")
  set(debug_entry "${CMAKE_MATCH_1}")
  string(REGEX MATCH "AddressOfEntryPoint[ \t]+([0-9a-fA-F]+)" _ "${headers}")
  if(NOT debug_entry STREQUAL CMAKE_MATCH_1)
    message(FATAL_ERROR "the debug image's entry point (${debug_entry}) is not the release "
                        "image's (${CMAKE_MATCH_1})")
  endif()
  # Same sections at the same addresses: what the debug image says of its
  # code holds for the release image.
  execute_process(COMMAND ${OBJDUMP} -h ${IMAGE} OUTPUT_VARIABLE sections)
  execute_process(COMMAND ${OBJDUMP} -h ${DEBUG_IMAGE} OUTPUT_VARIABLE debug_sections)
  foreach(var sections debug_sections)
    string(REGEX MATCHALL "\n +[0-9]+ [^ \n]+ +[0-9a-f]+ +[0-9a-f]+" ${var} "${${var}}")
  endforeach()
  if(NOT sections OR NOT sections STREQUAL debug_sections)
    message(FATAL_ERROR "the debug image's sections are not the release image's")
  endif()
  set(symbol_image "${DEBUG_IMAGE}")
endif()
if(FORMAT STREQUAL "PE32+")
  if(NOT DEBUG_IMAGE)
    message(FATAL_ERROR "a PE32+ image is checked with its DEBUG_IMAGE (for its functions)")
  endif()
  omzi2c_check_unwind(${OBJDUMP} "${headers}" "${DEBUG_IMAGE}")
endif()
execute_process(COMMAND ${NM} ${symbol_image} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed")
endif()
string(REGEX MATCH "([0-9a-fA-F]+) T ${ENTRY}(\n|$)" _ "${symbols}")
set(driver_entry "${CMAKE_MATCH_1}")
if(NOT entry_rva OR NOT image_base OR NOT driver_entry)
  message(FATAL_ERROR "cannot find the entry point (rva '${entry_rva}', base '${image_base}', "
                      "${ENTRY} '${driver_entry}')")
endif()
math(EXPR entry "0x${image_base} + 0x${entry_rva}" OUTPUT_FORMAT HEXADECIMAL)
math(EXPR expected "0x${driver_entry}" OUTPUT_FORMAT HEXADECIMAL)
if(NOT entry EQUAL expected)
  message(FATAL_ERROR "entry point ${entry} is not ${ENTRY} (${expected})")
endif()
if(DEBUG_IMAGE)
  message(STATUS "${IMAGE}: stripped, ${image_size} bytes (symbols in ${debug_size} bytes of "
                 "${DEBUG_IMAGE})")
endif()
message(STATUS "${IMAGE}: ${FORMAT}, native, entry ${ENTRY}, its ${omzi2c_import_count} imports "
               "all in ${IMPORTS}")
if(omzi2c_unwind_summary)
  message(STATUS "${IMAGE}: ${omzi2c_unwind_summary}")
endif()
