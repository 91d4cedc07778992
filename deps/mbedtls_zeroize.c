// The library's wiping of secrets (MBEDTLS_PLATFORM_ZEROIZE_ALT in
// mbedtls_config.h), built into libmbedcrypto.a by scripts/deps-build.sh.
// The library's own one calls SecureZeroMemory on Windows, which mingw-w64
// writes as a loop of single volatile byte stores on 32-bit x86: SHA-256
// wipes 296 bytes of its state per 64-byte block, so that loop cost it a
// third of its speed. This is the library's portable way instead: memset
// through a volatile pointer, then a barrier the compiler has to assume
// reads the buffer, so the stores are never dropped as dead.
#include <string.h>

#include "mbedtls/platform_util.h"

static void* (*const volatile corvane_memset)(void*, int, size_t) = memset;

void mbedtls_platform_zeroize(void* buf, size_t len) {
    if (len > 0) {
        corvane_memset(buf, 0, len);
        __asm__ __volatile__("" : : "r"(buf) : "memory");
    }
}
