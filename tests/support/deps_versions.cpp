// The Mbed TLS and expat compiled into this build are the ones the lock
// pins: the upstream versions the libraries report at run time, and the
// Debian revision of the sources they were built from.
#include <expat.h>
#include <mbedtls/version.h>

#include <string>

#include <gtest/gtest.h>

#if !defined(CORVANE_LOCKED_EXPAT_DEBIAN) || !defined(CORVANE_BUILT_EXPAT_DEBIAN) || \
    !defined(CORVANE_LOCKED_MBEDTLS_DEBIAN) || !defined(CORVANE_BUILT_MBEDTLS_DEBIAN)
#error "cmake/Dependencies.cmake passes the locked and built versions (corvane_deps_versions)"
#endif

namespace {

// "2.8.3-1~deb13u1" -> "2.8.3": no epoch, no Debian revision.
std::string upstream(const std::string& debian) {
    std::string v = debian.substr(debian.find(':') + 1);
    return v.substr(0, v.rfind('-'));
}

TEST(PinnedLibraries, AreTheLockedVersions) {
    struct Row {
        const char* library;
        std::string reported;  // by the linked library itself
        std::string expected;  // from the lock
        const char* built;     // the unpacked source's changelog
        const char* locked;
    };
    char mbedtls[18] = {};
    mbedtls_version_get_string(mbedtls);
    const Row rows[] = {
        {"expat", XML_ExpatVersion(), "expat_" + upstream(CORVANE_LOCKED_EXPAT_DEBIAN),
         CORVANE_BUILT_EXPAT_DEBIAN, CORVANE_LOCKED_EXPAT_DEBIAN},
        {"mbedtls", mbedtls, upstream(CORVANE_LOCKED_MBEDTLS_DEBIAN), CORVANE_BUILT_MBEDTLS_DEBIAN,
         CORVANE_LOCKED_MBEDTLS_DEBIAN},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.library);
        EXPECT_EQ(row.reported, row.expected);
        EXPECT_STREQ(row.built, row.locked) << "stale libraries: configure again";
        EXPECT_STRNE(row.locked, "");
    }
}

}  // namespace
