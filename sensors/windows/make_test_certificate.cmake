# Makes the self-signed test-signing certificate and its key: a code-signing
# certificate that is no certificate authority (CA:FALSE, critical), so that a
# machine that trusts it trusts nothing it might sign as an issuer. The key is
# not encrypted (the build signs without asking for a password), so it is
# written in a folder only its owner may enter and kept at mode 0600.
#   cmake -DOPENSSL=... -DCERT=omzi2c-test.pem -DKEY=omzi2c-test.key
#         -P make_test_certificate.cmake
foreach(var OPENSSL CERT KEY)
  if(NOT ${var})
    message(FATAL_ERROR "${var} not set")
  endif()
endforeach()
get_filename_component(dir "${KEY}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
file(CHMOD "${dir}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
file(REMOVE "${KEY}" "${CERT}")
execute_process(
  COMMAND ${OPENSSL} req -x509 -newkey rsa:3072 -sha256 -nodes -days 3650
          -subj "/CN=OMZI2C test signing (not for release)"
          -addext "basicConstraints=critical,CA:FALSE"
          -addext "keyUsage=critical,digitalSignature"
          -addext "extendedKeyUsage=codeSigning"
          -keyout "${KEY}" -out "${CERT}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  file(REMOVE "${KEY}" "${CERT}")
  message(FATAL_ERROR "${OPENSSL} req failed:\n${out}")
endif()
file(CHMOD "${KEY}" PERMISSIONS OWNER_READ OWNER_WRITE)
