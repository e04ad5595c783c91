# Checks the generated test-signing certificate and its key: a code-signing
# certificate (extended key use codeSigning, key use digitalSignature) that
# is no certificate authority (basicConstraints critical, CA:FALSE), and an
# unencrypted key that belongs to it and that only its owner may read or
# write (mode 0600).
#   cmake -DOPENSSL=... -DCERT=omzi2c-test.pem -DKEY=omzi2c-test.key
#         -P check_certificate.cmake
foreach(var OPENSSL CERT KEY)
  if(NOT ${var})
    message(FATAL_ERROR "${var} not set")
  endif()
endforeach()

execute_process(
  COMMAND ${OPENSSL} x509 -in ${CERT} -noout
          -ext basicConstraints,keyUsage,extendedKeyUsage
  OUTPUT_VARIABLE ext ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot read the extensions of ${CERT}:\n${err}")
endif()
foreach(pattern
    "Basic Constraints: critical[ \t]*\n[ \t]*CA:FALSE[ \t]*\n"
    "Key Usage: critical[ \t]*\n[ \t]*Digital Signature[ \t]*\n"
    "Extended Key Usage:[^\n]*\n[ \t]*Code Signing[ \t]*\n")
  if(NOT ext MATCHES "${pattern}")
    message(FATAL_ERROR "${CERT} lacks ${pattern}; its extensions:\n${ext}")
  endif()
endforeach()

execute_process(COMMAND stat -c %a ${KEY} OUTPUT_VARIABLE mode RESULT_VARIABLE rc
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0 OR NOT mode STREQUAL "600")
  message(FATAL_ERROR "${KEY} has mode '${mode}', not 600")
endif()
# An empty password opens an unencrypted key only.
execute_process(COMMAND ${OPENSSL} pkey -in ${KEY} -pubout -passin pass:
                OUTPUT_VARIABLE key_public ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot open ${KEY} without a password:\n${err}")
endif()
execute_process(COMMAND ${OPENSSL} x509 -in ${CERT} -noout -pubkey
                OUTPUT_VARIABLE cert_public RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT key_public STREQUAL cert_public)
  message(FATAL_ERROR "${KEY} is not the key of ${CERT}")
endif()
message(STATUS "${CERT}: code signing, CA:FALSE (critical); ${KEY}: mode 600, its key")
