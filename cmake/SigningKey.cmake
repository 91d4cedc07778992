# The signing key and update host built into the tool.
#
# corvane_check_signing_key(PATH) stops the configure unless PATH holds
# exactly an 88-byte DER SubjectPublicKeyInfo of an uncompressed secp256k1
# point. corvane_generate_build_config(OUT) writes a source file with that
# key's bytes and CORVANE_UPDATE_HOST.

# SEQUENCE(86) { SEQUENCE(16) { OID id-ecPublicKey, OID secp256k1 },
# BIT STRING(66) 00 04 ... }: everything up to the X coordinate.
set(CORVANE_SPKI_SECP256K1_PREFIX "3056301006072a8648ce3d020106052b8104000a03420004")

function(corvane_check_signing_key path)
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    message(FATAL_ERROR "CORVANE_SIGNING_KEY: ${path}: no such file")
  endif()
  file(SIZE "${path}" size)
  if(NOT size EQUAL 88)
    message(FATAL_ERROR "CORVANE_SIGNING_KEY: ${path}: ${size} bytes; a secp256k1 "
                        "SubjectPublicKeyInfo in DER is exactly 88 bytes")
  endif()
  file(READ "${path}" hex HEX)
  string(SUBSTRING "${hex}" 0 48 prefix)
  string(TOLOWER "${prefix}" prefix)
  if(NOT prefix STREQUAL CORVANE_SPKI_SECP256K1_PREFIX)
    message(FATAL_ERROR "CORVANE_SIGNING_KEY: ${path}: not a DER SubjectPublicKeyInfo of "
                        "an uncompressed secp256k1 key (the first 24 bytes differ)")
  endif()
endfunction()

function(corvane_generate_build_config out key_path host)
  file(READ "${key_path}" hex HEX)
  # Twelve bytes a line (CMake's regular expressions have no counted repeats).
  set(bytes "")
  foreach(offset RANGE 0 175 24)
    string(SUBSTRING "${hex}" ${offset} 24 line)
    string(REGEX REPLACE "([0-9a-fA-F][0-9a-fA-F])" "0x\\1, " line "${line}")
    string(STRIP "${line}" line)
    string(APPEND bytes "    ${line}\n")
  endforeach()
  string(REPLACE "\\" "\\\\" host_escaped "${host}")
  string(REPLACE "\"" "\\\"" host_escaped "${host_escaped}")
  set(content "// Generated from ${key_path} and CORVANE_UPDATE_HOST; do not edit.
#include \"update/build_config.h\"

const char corvane_update_default_host[] = \"${host_escaped}\";

const uint8_t corvane_builtin_signing_key[88] = {
${bytes}};
")
  file(CONFIGURE OUTPUT "${out}" CONTENT "${content}" @ONLY)
endfunction()
