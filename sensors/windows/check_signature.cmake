# Checks that a driver image carries a valid Authenticode signature by the
# certificate CA, and that the same check fails for the image as linked
# (unsigned) and for a signed copy with one byte of its code changed.
#   cmake -DOSSLSIGNCODE=... -DCA=cert.pem -DIMAGE=signed.sys -DUNSIGNED=omzi2c.sys
#         -DWORK=DIR -P check_signature.cmake
foreach(var OSSLSIGNCODE CA IMAGE UNSIGNED WORK)
  if(NOT ${var})
    message(FATAL_ERROR "${var} not set")
  endif()
endforeach()
foreach(file "${CA}" "${IMAGE}" "${UNSIGNED}")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "no file ${file}")
  endif()
endforeach()

# Sets ${result} to TRUE when osslsigncode accepts the signature of `image`.
function(verify image result)
  execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile ${CA} -in ${image}
                  OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
  if(rc EQUAL 0 AND out MATCHES "Signature verification: ok")
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
    set(verify_output "${out}" PARENT_SCOPE)
  endif()
endfunction()

verify("${IMAGE}" ok)
if(NOT ok)
  message(FATAL_ERROR "${IMAGE}: no valid signature by ${CA}:\n${verify_output}")
endif()
verify("${UNSIGNED}" ok)
if(ok)
  message(FATAL_ERROR "${UNSIGNED}: the image as linked passes as signed")
endif()

# One byte of the first section (file offset 0x400, past the headers) flipped.
file(MAKE_DIRECTORY "${WORK}")
get_filename_component(name "${IMAGE}" NAME)
set(damaged "${WORK}/damaged-${name}")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy "${IMAGE}" "${damaged}")
execute_process(
  COMMAND perl -e "open(my $f, '+<', $ARGV[0]) or die; binmode $f; seek($f, 0x400, 0); read($f, my $b, 1); seek($f, 0x400, 0); print $f chr(ord($b) ^ 1); close($f) or die"
          "${damaged}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not damage ${damaged}")
endif()
verify("${damaged}" ok)
if(ok)
  message(FATAL_ERROR "${damaged}: a changed image still passes as signed")
endif()
message(STATUS "${IMAGE}: signature valid; the unsigned and a damaged image are refused")
