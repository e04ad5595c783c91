# build/windows-package: what a user copies to the Windows machine. The INF
# at the top, each architecture's driver, tool and client library (omzi2c.dll
# with its .def and import library) in the folder the INF names for it (x86,
# amd64), the headers for programs in include/, and the certificate the
# images are signed with.
#
# 64-bit Windows loads only signed drivers, so both images are test-signed
# (the 32-bit one gains only the signature: code and data stay as linked).
# The certificate and key are generated in the build folder on first use,
# never kept in the sources; a user may pass their own with
# -DOMZI2C_SIGN_CERT=cert.pem -DOMZI2C_SIGN_KEY=key.pem (PEM; the certificate
# file may carry its chain up to the root that the signature check trusts).
# The debug copies are not signed: a debugger reads them, nothing loads them.
set(OMZI2C_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate (PEM) for the driver images")
set(OMZI2C_SIGN_KEY "" CACHE FILEPATH "Private key (PEM) of OMZI2C_SIGN_CERT")
find_program(OMZI2C_OSSLSIGNCODE osslsigncode)
find_program(OMZI2C_OPENSSL openssl)
set(OMZI2C_SIGNING FALSE)
if(OMZI2C_OSSLSIGNCODE AND OMZI2C_OPENSSL)
  set(OMZI2C_SIGNING TRUE)
else()
  omzi2c_part_missing("signing the Windows driver images, signature checks"
                      "osslsigncode or openssl not found" "osslsigncode openssl")
endif()

set(OMZI2C_SIGN_DIR ${CMAKE_BINARY_DIR}/windows-signing)
if((OMZI2C_SIGN_CERT AND NOT OMZI2C_SIGN_KEY) OR (OMZI2C_SIGN_KEY AND NOT OMZI2C_SIGN_CERT))
  message(FATAL_ERROR "OMZI2C_SIGN_CERT and OMZI2C_SIGN_KEY go together")
endif()
if(OMZI2C_SIGN_CERT AND OMZI2C_SIGN_KEY)
  set(OMZI2C_CERT ${OMZI2C_SIGN_CERT})
  set(OMZI2C_KEY ${OMZI2C_SIGN_KEY})
  add_custom_target(omzi2c_signing_key)
else()
  set(OMZI2C_CERT ${OMZI2C_SIGN_DIR}/omzi2c-test.pem)
  set(OMZI2C_KEY ${OMZI2C_SIGN_DIR}/omzi2c-test.key)
  if(OMZI2C_SIGNING)
    # A self-signed code-signing certificate (no CA), made once per build
    # folder; its key readable by its owner only.
    add_custom_command(OUTPUT ${OMZI2C_CERT} ${OMZI2C_KEY}
      COMMAND ${CMAKE_COMMAND} -DOPENSSL=${OMZI2C_OPENSSL} -DCERT=${OMZI2C_CERT}
              -DKEY=${OMZI2C_KEY} -P ${OMZI2C_WINDOWS_DIR}/make_test_certificate.cmake
      DEPENDS ${OMZI2C_WINDOWS_DIR}/make_test_certificate.cmake
      COMMENT "Generating the test-signing certificate in ${OMZI2C_SIGN_DIR}"
      VERBATIM)
    add_custom_target(omzi2c_signing_key DEPENDS ${OMZI2C_CERT} ${OMZI2C_KEY})
  else()
    add_custom_target(omzi2c_signing_key)
  endif()
endif()

# The package, rebuilt after every build of either architecture.
set(commands
  COMMAND ${CMAKE_COMMAND} -E make_directory ${OMZI2C_PACKAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy ${OMZI2C_WINDOWS_DIR}/omzi2c.inf ${OMZI2C_PACKAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${OMZI2C_PACKAGE_DIR}/include/omzi2c
  COMMAND ${CMAKE_COMMAND} -E copy ${OMZI2C_WINDOWS_DIR}/../include/omzi2c/omzi2c.h
          ${OMZI2C_WINDOWS_DIR}/../include/omzi2c/omzi2c_client.h
          ${OMZI2C_PACKAGE_DIR}/include/omzi2c)
if(OMZI2C_SIGNING)
  list(APPEND commands
    COMMAND ${OMZI2C_OPENSSL} x509 -in ${OMZI2C_CERT} -outform DER
            -out ${OMZI2C_PACKAGE_DIR}/omzi2c-test.cer)
endif()
set(depends omzi2c_signing_key)
foreach(arch x86 x64)
  if(NOT OMZI2C_${arch}_BUILT)
    continue()
  endif()
  list(APPEND depends ${OMZI2C_${arch}_TARGET})
  set(from ${CMAKE_BINARY_DIR}/windows)
  set(to ${OMZI2C_PACKAGE_DIR}/x86)
  if(arch STREQUAL "x64")
    set(from ${CMAKE_BINARY_DIR}/windows-x64)
    set(to ${OMZI2C_PACKAGE_DIR}/amd64)
  endif()
  list(APPEND commands
    COMMAND ${CMAKE_COMMAND} -E make_directory ${to}
    COMMAND ${CMAKE_COMMAND} -E copy ${from}/omzi2c.exe ${from}/omzi2c.dll
            ${from}/libomzi2c.dll.a ${OMZI2C_WINDOWS_DIR}/../src/client/omzi2c.def ${to}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${to}/omzi2c.sys)
  if(OMZI2C_SIGNING)
    list(APPEND commands
      COMMAND ${OMZI2C_OSSLSIGNCODE} sign -certs ${OMZI2C_CERT} -key ${OMZI2C_KEY}
              -h sha256 -n "OMZI2C port and SMBus access"
              -in ${from}/omzi2c.sys -out ${to}/omzi2c.sys)
  else()
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy ${from}/omzi2c.sys ${to})
  endif()
endforeach()
add_custom_target(omzi2c_windows_package ALL ${commands}
  COMMENT "Signing the driver images into ${OMZI2C_PACKAGE_DIR}"
  VERBATIM)
add_dependencies(omzi2c_windows_package ${depends})

# The generated certificate signs code and is no CA; its key is its owner's.
if(OMZI2C_SIGNING AND NOT OMZI2C_SIGN_CERT)
  add_test(NAME windows.test_certificate
    COMMAND ${CMAKE_COMMAND} -DOPENSSL=${OMZI2C_OPENSSL} -DCERT=${OMZI2C_CERT}
            -DKEY=${OMZI2C_KEY} -P ${OMZI2C_WINDOWS_DIR}/check_certificate.cmake)
  set_tests_properties(windows.test_certificate PROPERTIES LABELS windows)
endif()

# Each image carries a valid signature by the build's certificate, and the
# check would see a damaged one.
if(OMZI2C_SIGNING)
  foreach(arch x86 x64)
    if(NOT OMZI2C_${arch}_BUILT)
      continue()
    endif()
    set(name windows.signature)
    set(folder windows)
    set(package_folder x86)
    if(arch STREQUAL "x64")
      set(name windows64.signature)
      set(folder windows-x64)
      set(package_folder amd64)
    endif()
    add_test(NAME ${name}
      COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${OMZI2C_OSSLSIGNCODE} -DCA=${OMZI2C_CERT}
              -DIMAGE=${OMZI2C_PACKAGE_DIR}/${package_folder}/omzi2c.sys
              -DUNSIGNED=${CMAKE_BINARY_DIR}/${folder}/omzi2c.sys
              -DWORK=${CMAKE_CURRENT_BINARY_DIR}/${name}
              -P ${OMZI2C_WINDOWS_DIR}/check_signature.cmake)
    set_tests_properties(${name} PROPERTIES LABELS windows)
  endforeach()
endif()
