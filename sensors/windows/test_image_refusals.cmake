# Shows that check_driver_image.cmake refuses what it must: it runs the check
# on the image as built (which must pass) and on damaged copies of the image
# or of its import list, each of which must fail with its own message.
#   cmake -DOBJDUMP=... -DNM=... -DIMAGE=... -DDEBUG_IMAGE=... -DFORMAT=PE32|PE32+
#         -DENTRY=... -DIMPORTS=imports-ARCH.txt -DWORK=DIR -P test_image_refusals.cmake
foreach(var OBJDUMP NM IMAGE DEBUG_IMAGE FORMAT ENTRY IMPORTS WORK)
  if(NOT ${var})
    message(FATAL_ERROR "${var} not set")
  endif()
endforeach()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(READ "${IMPORTS}" list_text)

# Each case: a name and the message the check must stop with, as one line
# ("" to pass).
set(cases as-built renamed-import unlisted-import other-dll no-version)
set(expect_as-built "")
# ExAllocatePool2 (a routine of later kernels) in place of ExAllocatePoolWithTag.
set(expect_renamed-import "driver imports ntoskrnl.exe!ExAllocatePool2, not in")
set(expect_unlisted-import "driver imports ntoskrnl.exe!KeSetEvent, not in")
set(expect_other-dll "driver imports hal.dll!KeStallExecutionProcessor, not in")
set(expect_no-version "'ntoskrnl.exe +KeSetEvent' is not 'DLL routine Windows-version'")
if(FORMAT STREQUAL "PE32+")
  list(APPEND cases no-unwind-entry)
  set(expect_no-unwind-entry "no .pdata entry for these functions that need unwind data: DriverEntry at")
endif()

# perl -e SCRIPT ARGS... on a copy, which must change.
function(patch_copy file script)
  execute_process(COMMAND perl -e "${script}" "${file}" ${ARGN}
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${IMAGE}" "${file}"
                  RESULT_VARIABLE same)
  if(NOT rc EQUAL 0 OR same EQUAL 0)
    message(FATAL_ERROR "could not damage ${file}: ${err}")
  endif()
endfunction()

set(failures)
foreach(case IN LISTS cases)
  set(image "${IMAGE}")
  set(imports "${IMPORTS}")
  set(copy "${WORK}/${case}.sys")
  set(list "${WORK}/${case}.txt")
  if(case STREQUAL "renamed-import")
    execute_process(COMMAND ${CMAKE_COMMAND} -E copy "${IMAGE}" "${copy}")
    patch_copy("${copy}" "local $/; open(my $f, '+<', $ARGV[0]) or die; binmode $f; my $d = <$f>; $d =~ s/ExAllocatePoolWithTag\\0/ExAllocatePool2\\0\\0\\0\\0\\0\\0\\0/ or die 'no import'; seek($f, 0, 0); print $f $d; close($f) or die")
    set(image "${copy}")
  elseif(case STREQUAL "no-unwind-entry")
    # DriverEntry's .pdata entry overwritten with the entry before it: the
    # table keeps its size and order, DriverEntry loses its entry.
    execute_process(COMMAND ${OBJDUMP} -h -p "${IMAGE}" OUTPUT_VARIABLE headers)
    execute_process(COMMAND ${NM} "${DEBUG_IMAGE}" OUTPUT_VARIABLE symbols)
    string(REGEX MATCH "\\.pdata +([0-9a-f]+) +[0-9a-f]+ +[0-9a-f]+ +([0-9a-f]+)" _ "${headers}")
    set(pdata_size "${CMAKE_MATCH_1}")
    set(pdata_offset "${CMAKE_MATCH_2}")
    string(REGEX MATCH "ImageBase[ \t]+([0-9a-fA-F]+)" _ "${headers}")
    set(base "${CMAKE_MATCH_1}")
    string(REGEX MATCH "([0-9a-f]+) T ${ENTRY}\n" _ "${symbols}")
    math(EXPR rva "0x${CMAKE_MATCH_1} - 0x${base}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E copy "${IMAGE}" "${copy}")
    patch_copy("${copy}" "open(my $f, '+<', $ARGV[0]) or die; binmode $f; my ($o, $n, $r) = (hex $ARGV[1], hex $ARGV[2], $ARGV[3]); seek($f, $o, 0); read($f, my $t, $n); for (my $i = 12; $i + 12 <= $n; $i += 12) { if (unpack('V', substr($t, $i, 4)) == $r) { seek($f, $o + $i, 0); print $f substr($t, $i - 12, 12); close($f) or die; exit 0 } } die 'no entry'"
               ${pdata_offset} ${pdata_size} ${rva})
    set(image "${copy}")
  elseif(NOT case STREQUAL "as-built")
    if(case STREQUAL "unlisted-import")
      string(REGEX REPLACE "\nntoskrnl\\.exe +KeSetEvent +[^\n]+" "" text "${list_text}")
    elseif(case STREQUAL "other-dll")
      string(REGEX REPLACE "\nHAL\\.dll( +KeStallExecutionProcessor)" "\nntoskrnl.exe\\1" text "${list_text}")
    elseif(case STREQUAL "no-version")
      string(REGEX REPLACE "\n(ntoskrnl\\.exe +KeSetEvent) +[^\n]+" "\n\\1" text "${list_text}")
    endif()
    if(text STREQUAL list_text)
      message(FATAL_ERROR "${case}: the list did not change")
    endif()
    file(WRITE "${list}" "${text}")
    set(imports "${list}")
  endif()

  execute_process(
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${OBJDUMP} -DNM=${NM} -DIMAGE=${image}
            -DDEBUG_IMAGE=${DEBUG_IMAGE} -DFORMAT=${FORMAT} -DENTRY=${ENTRY} -DIMPORTS=${imports}
            -P ${CMAKE_CURRENT_LIST_DIR}/check_driver_image.cmake
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  # The message as one line (CMake wraps it).
  string(REGEX REPLACE " *\n[ \n]*" " " flat "${out}")
  set(expected "${expect_${case}}")
  if(expected STREQUAL "")
    if(NOT rc EQUAL 0)
      list(APPEND failures "${case}: the check failed:\n${out}")
    endif()
  elseif(rc EQUAL 0)
    list(APPEND failures "${case}: the check passed")
  elseif(NOT flat MATCHES "${expected}")
    list(APPEND failures "${case}: the check failed for another reason than '${expected}':\n${out}")
  endif()
endforeach()
if(failures)
  string(REPLACE ";" "\n" failures "${failures}")
  message(FATAL_ERROR "${failures}")
endif()
list(LENGTH cases count)
message(STATUS "${IMAGE}: the check passes the image as built and refuses all ${count} damages")
