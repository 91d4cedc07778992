// Test programs have no start-up of their own: the TLS library's crypto is
// set up once before the first test, as the tool's start-up does before its
// first request, so TLS 1.3 peers are reached as the tool reaches them.
#include "http/http.h"

#include <gtest/gtest.h>

namespace {

class TlsStartup : public testing::Environment {
  public:
    void SetUp() override { ASSERT_TRUE(http_tls_startup()); }
};

const testing::Environment* const tls_startup = testing::AddGlobalTestEnvironment(new TlsStartup);

}  // namespace
