# Mbed TLS and expat: static libraries built from the pinned and checked
# sources of deps/sources.lock (scripts/deps-build.sh), with this build's
# compilers and with the flags every object of it gets, so a sanitizer or
# the fuzzer's coverage reaches into the libraries too. No target links the
# system's copies: the paths below are the only ones given to the linker.

set(corvane_deps_flags "")
if(NOT CMAKE_CROSSCOMPILING)
  list(APPEND corvane_deps_flags -g)
endif()
if(CORVANE_SANITIZE)
  list(APPEND corvane_deps_flags -fsanitize=${CORVANE_SANITIZE} -fno-omit-frame-pointer
    -fno-sanitize-recover=all)
endif()
if(CORVANE_FUZZ)
  list(APPEND corvane_deps_flags -fsanitize=fuzzer-no-link)
endif()
set(corvane_deps_toolchain "")
if(CMAKE_CROSSCOMPILING)
  set(corvane_deps_toolchain ${CMAKE_TOOLCHAIN_FILE})
endif()

message(STATUS "Building or finding the pinned Mbed TLS and expat")
execute_process(
  COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/deps-build.sh ${CMAKE_C_COMPILER}
    ${CMAKE_CXX_COMPILER} ${corvane_deps_toolchain} -- ${corvane_deps_flags}
  OUTPUT_VARIABLE CORVANE_DEPS_PREFIX OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE corvane_deps_result)
if(NOT corvane_deps_result EQUAL 0 OR NOT EXISTS ${CORVANE_DEPS_PREFIX}/share/corvane-deps.versions)
  message(FATAL_ERROR "scripts/deps-build.sh failed (see above)")
endif()
message(STATUS "Pinned Mbed TLS and expat: ${CORVANE_DEPS_PREFIX}")

# The Debian versions built, from the unpacked sources' changelogs, and the
# ones the lock names, for the tests that compare them.
file(STRINGS ${CORVANE_DEPS_PREFIX}/share/corvane-deps.versions corvane_deps_built)
file(STRINGS ${PROJECT_SOURCE_DIR}/deps/sources.lock corvane_deps_locked REGEX "^library ")
foreach(line ${corvane_deps_built})
  if(line MATCHES "^(expat|mbedtls)=(.*)$")
    set(CORVANE_BUILT_${CMAKE_MATCH_1}_DEBIAN "${CMAKE_MATCH_2}")
  endif()
endforeach()
foreach(line ${corvane_deps_locked})
  if(line MATCHES "^library (expat|mbedtls) ([^ ]+) ")
    set(CORVANE_LOCKED_${CMAKE_MATCH_1}_DEBIAN "${CMAKE_MATCH_2}")
  endif()
endforeach()

add_library(corvane_mbedtls INTERFACE)
target_include_directories(corvane_mbedtls SYSTEM INTERFACE ${CORVANE_DEPS_PREFIX}/include)
target_link_libraries(corvane_mbedtls INTERFACE ${CORVANE_DEPS_PREFIX}/lib/libmbedtls.a
  ${CORVANE_DEPS_PREFIX}/lib/libmbedx509.a ${CORVANE_DEPS_PREFIX}/lib/libmbedcrypto.a)
if(WIN32)
  # Sockets for the TLS layer's callbacks; the default entropy source asks
  # the system's random source in bcrypt. Both after the static libraries.
  target_link_libraries(corvane_mbedtls INTERFACE ws2_32 bcrypt)
endif()

add_library(corvane_expat INTERFACE)
target_include_directories(corvane_expat SYSTEM INTERFACE ${CORVANE_DEPS_PREFIX}/include)
target_link_libraries(corvane_expat INTERFACE ${CORVANE_DEPS_PREFIX}/lib/libexpat.a)
if(WIN32)
  target_compile_definitions(corvane_expat INTERFACE XML_STATIC)
endif()

# The compile definitions the version tests compare against.
add_library(corvane_deps_versions INTERFACE)
target_compile_definitions(corvane_deps_versions INTERFACE
  CORVANE_LOCKED_EXPAT_DEBIAN="${CORVANE_LOCKED_expat_DEBIAN}"
  CORVANE_LOCKED_MBEDTLS_DEBIAN="${CORVANE_LOCKED_mbedtls_DEBIAN}"
  CORVANE_BUILT_EXPAT_DEBIAN="${CORVANE_BUILT_expat_DEBIAN}"
  CORVANE_BUILT_MBEDTLS_DEBIAN="${CORVANE_BUILT_mbedtls_DEBIAN}")

# A new lock, configuration or build script reconfigures, and so rebuilds.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/deps/sources.lock ${PROJECT_SOURCE_DIR}/deps/mbedtls_config.h
  ${PROJECT_SOURCE_DIR}/scripts/deps-build.sh ${PROJECT_SOURCE_DIR}/scripts/deps-fetch.sh
  ${PROJECT_SOURCE_DIR}/scripts/deps-common.sh)
