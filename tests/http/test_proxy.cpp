// A plain-http request through tinyproxy with BasicAuth in front of nginx:
// the 407 is answered with the proxy credentials.
#include <gtest/gtest.h>

#include <string>

#include "tests/http/peer_fetch.h"
#include "tests/support/servers.h"

namespace {

TEST(ProxyPeer, BasicAuthThroughTinyproxy) {
    TestTempDir content;
    std::string page;
    for (int i = 0; i < 500; ++i) {
        page += "proxied line " + std::to_string(i) + "\n";
    }
    ASSERT_TRUE(test_write_file(content.file("page.txt"), page));
    std::string error;
    NginxServer nginx;
    NginxOptions options;
    options.root = content.path();
    ASSERT_TRUE(nginx.start(options, &error)) << error;
    TinyproxyServer proxy;
    ASSERT_TRUE(proxy.start("pxuser", "pxpass", &error)) << error;

    const std::string proxy_option = "-x http://127.0.0.1:" + std::to_string(proxy.port());
    const char* passwords[] = {"pxpass", "wrong"};
    for (const char* password : passwords) {
        PeerSettings settings;
        settings.proxy_host = "127.0.0.1";
        settings.proxy_port = proxy.port();
        settings.proxy_user = "pxuser";
        settings.proxy_password = password;
        settings.wanted_scheme = HTTP_AUTH_BASIC;
        std::string url = nginx.http_url("/page.txt");
        PeerFetch got = peer_fetch(url, settings);
        SCOPED_TRACE(password);
        ASSERT_EQ(got.send, HTTP_OK);
        ASSERT_EQ(got.headers, HTTP_OK);
        EXPECT_EQ(got.body_result, HTTP_END);
        // Whatever the proxy answers the second request, curl sees the same.
        std::string curl_options = proxy_option + " -U pxuser:" + password;
        std::string curl_status = test_run_capture(
            "/usr/bin/curl -s -o /dev/null -w '%{http_code}' " + curl_options + " " + url, nullptr);
        EXPECT_EQ(std::to_string(got.status), curl_status);
        EXPECT_EQ(got.body, test_curl_body(url, curl_options));
        if (std::string(password) == "pxpass") {
            EXPECT_EQ(got.status, 200);
            EXPECT_EQ(got.body, page);
        } else {
            EXPECT_NE(got.status, 200);
        }
    }
}

}  // namespace
