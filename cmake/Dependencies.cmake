# Mbed TLS and expat: Debian's packages natively, the cross-built static
# libraries (scripts/build-win-deps.sh) for Windows.

find_path(MBEDTLS_INCLUDE_DIR mbedtls/ssl.h REQUIRED)
find_library(MBEDTLS_LIB mbedtls REQUIRED)
find_library(MBEDX509_LIB mbedx509 REQUIRED)
find_library(MBEDCRYPTO_LIB mbedcrypto REQUIRED)

add_library(corvane_mbedtls INTERFACE)
target_include_directories(corvane_mbedtls SYSTEM INTERFACE ${MBEDTLS_INCLUDE_DIR})
target_link_libraries(corvane_mbedtls INTERFACE ${MBEDTLS_LIB} ${MBEDX509_LIB} ${MBEDCRYPTO_LIB})
if(WIN32)
  # Sockets for the TLS layer's callbacks; the default entropy source asks
  # the system random source in advapi32. Both after the static libraries.
  target_link_libraries(corvane_mbedtls INTERFACE ws2_32 advapi32)
endif()

find_path(EXPAT_INCLUDE_DIR expat.h REQUIRED)
find_library(EXPAT_LIB NAMES expat libexpat libexpatMD REQUIRED)
add_library(corvane_expat INTERFACE)
target_include_directories(corvane_expat SYSTEM INTERFACE ${EXPAT_INCLUDE_DIR})
target_link_libraries(corvane_expat INTERFACE ${EXPAT_LIB})

# The tool needs the secp256k1 curve and ECDSA from Mbed TLS.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_INCLUDES ${MBEDTLS_INCLUDE_DIR})
check_cxx_source_compiles("
#include <mbedtls/config.h>
#if !defined(MBEDTLS_ECP_DP_SECP256K1_ENABLED) || !defined(MBEDTLS_ECDSA_C)
#error missing
#endif
int main() { return 0; }" CORVANE_MBEDTLS_HAS_SECP256K1)
unset(CMAKE_REQUIRED_INCLUDES)
if(NOT CORVANE_MBEDTLS_HAS_SECP256K1)
  message(FATAL_ERROR "Mbed TLS at ${MBEDTLS_INCLUDE_DIR} lacks secp256k1 or ECDSA; "
                      "the signature checks need both")
endif()
