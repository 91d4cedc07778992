// Requests through real proxies in front of nginx: tinyproxy and squid,
// without authentication and asking for Basic or (squid) Digest. Plain http
// goes to the proxy in absolute form; https goes through a CONNECT tunnel.
// Every proxied body is compared byte for byte with a direct fetch and with
// curl through the same proxy, and the proxy's log must show the request,
// so a client that bypasses the proxy fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/http/peer_fetch.h"
#include "tests/support/proxy_peer.h"
#include "tests/support/release.h"
#include "tests/support/servers.h"

namespace {

const char MANIFEST_PATH[] = "/update/release/v1/corvanechat.xml";

// What the client is given for a row: a 407 with Basic is answered with the
// proxy credentials, one with Digest with the server credentials.
PeerSettings proxy_settings(const ProxyPeer& proxy, const char* password) {
    PeerSettings settings;
    settings.proxy_host = "127.0.0.1";
    settings.proxy_port = proxy.port();
    // A proxy that takes a TLS hello for a request line may wait for the
    // rest of it; a failing row need not wait 30 s.
    settings.timeout_seconds = 10;
    if (proxy.row().auth == PROXY_AUTH_BASIC) {
        settings.proxy_user = PROXY_USER;
        settings.proxy_password = password;
        settings.wanted_scheme = HTTP_AUTH_BASIC;
    } else if (proxy.row().auth == PROXY_AUTH_DIGEST) {
        settings.user = PROXY_USER;
        settings.password = password;
        settings.wanted_scheme = HTTP_AUTH_DIGEST;
    }
    return settings;
}

class ProxyFetch : public ::testing::TestWithParam<ProxyRow> {
  protected:
    void SetUp() override {
        // A signed release manifest as the update server offers it.
        TestRelease release = make_test_release(test_program_bytes(3000, 5),
                                                "https://127.0.0.1:9/files/CorvaneChat.exe");
        manifest = test_release_xml(release);
        std::filesystem::create_directories(www.file("update/release/v1"));
        ASSERT_TRUE(test_write_file(www.path() + MANIFEST_PATH, manifest));
        NginxOptions options;
        options.root = www.path();
        options.http = true;
        options.https = true;
        std::string error;
        ASSERT_TRUE(nginx.start(options, &error)) << error;
        // CONNECT is allowed to nginx's https port only.
        ASSERT_TRUE(proxy.start(GetParam(), nginx.https_port(), &error)) << error;
    }

    TestTempDir www;
    NginxServer nginx;
    ProxyPeer proxy;
    std::string manifest;
};

// The fixture itself, with curl: the proxy serves both schemes with the
// right credentials, and asks (407) for them when they are missing.
TEST_P(ProxyFetch, CurlThroughTheProxyGetsTheManifest) {
    for (const std::string& url : {nginx.http_url(MANIFEST_PATH), nginx.https_url(MANIFEST_PATH)}) {
        SCOPED_TRACE(url);
        EXPECT_EQ(test_curl_body(url, proxy.curl_options(PROXY_PASSWORD)), manifest);
        std::string bare = "-x http://127.0.0.1:" + std::to_string(proxy.port());
        if (GetParam().auth != PROXY_AUTH_NONE) {
            bool https = url.compare(0, 8, "https://") == 0;
            EXPECT_EQ(proxy_curl_status(url, bare, https), "407");
            EXPECT_NE(test_curl_body(url, proxy.curl_options("wrong")), manifest);
        } else {
            EXPECT_EQ(test_curl_body(url, bare), manifest);
        }
    }
    EXPECT_TRUE(proxy.forwarded_more("127.0.0.1:" + std::to_string(nginx.http_port()), 0));
    EXPECT_TRUE(proxy.forwarded_more("127.0.0.1:" + std::to_string(nginx.https_port()), 0));
}

// The manifest through the proxy, over http and over https, is the same
// bytes as a direct fetch and as curl's through the proxy.
TEST_P(ProxyFetch, ManifestThroughTheProxyMatchesADirectFetch) {
    for (const std::string& url : {nginx.http_url(MANIFEST_PATH), nginx.https_url(MANIFEST_PATH)}) {
        SCOPED_TRACE(url);
        bool https = url.compare(0, 8, "https://") == 0;
        PeerFetch direct = peer_fetch(url);
        ASSERT_EQ(direct.status, 200);
        ASSERT_EQ(direct.body, manifest);
        std::string target =
            "127.0.0.1:" + std::to_string(https ? nginx.https_port() : nginx.http_port());
        size_t forwarded_before = proxy.forwarded(target);
        PeerFetch got = peer_fetch(url, proxy_settings(proxy, PROXY_PASSWORD));
        // Before curl adds its own line.
        EXPECT_TRUE(proxy.forwarded_more(target, forwarded_before))
            << "the request did not go through the proxy";
        EXPECT_EQ(got.send, HTTP_OK);
        EXPECT_EQ(got.headers, HTTP_OK);
        EXPECT_EQ(got.status, 200);
        EXPECT_EQ(got.body_result, HTTP_END);
        EXPECT_EQ(got.body, direct.body);
        EXPECT_EQ(got.body, test_curl_body(url, proxy.curl_options(PROXY_PASSWORD)));
    }
}

// Wrong credentials (rows with authentication) or a tunnel to a port the
// proxy does not allow: never the manifest, and never a success.
TEST_P(ProxyFetch, RefusedRequestIsNeverASuccess) {
    struct Refused {
        std::string url;
        const char* password;
    };
    std::vector<Refused> cases;
    // nginx's http port speaks no TLS, but the proxy refuses the CONNECT
    // before that matters.
    cases.push_back(
        {"https://127.0.0.1:" + std::to_string(nginx.http_port()) + MANIFEST_PATH, PROXY_PASSWORD});
    if (GetParam().auth != PROXY_AUTH_NONE) {
        cases.push_back({nginx.http_url(MANIFEST_PATH), "wrong"});
        cases.push_back({nginx.https_url(MANIFEST_PATH), "wrong"});
    }
    for (const Refused& refused : cases) {
        SCOPED_TRACE(refused.url + " " + refused.password);
        std::string curl_options = proxy.curl_options(refused.password);
        EXPECT_NE(test_curl_body(refused.url, curl_options), manifest);
        EXPECT_NE(proxy_curl_status(refused.url, curl_options), "200");
        PeerFetch got = peer_fetch(refused.url, proxy_settings(proxy, refused.password));
        EXPECT_NE(got.body, manifest);
        // A refused tunnel is a failed send; a refused plain request is the
        // proxy's second refusal (squid: 407, tinyproxy: 401), delivered as
        // the response curl gets too.
        if (refused.url.compare(0, 8, "https://") == 0) {
            EXPECT_EQ(got.send, HTTP_ERR_PROXY_REFUSED);
        } else {
            EXPECT_EQ(got.send, HTTP_OK);
            EXPECT_EQ(std::to_string(got.status), proxy_curl_status(refused.url, curl_options));
            EXPECT_NE(got.status, 200);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Proxies, ProxyFetch, testing::ValuesIn(PROXY_ROWS),
                         [](const testing::TestParamInfo<ProxyRow>& row) {
                             return std::string(row.param.name);
                         });

// A plain-http request through tinyproxy with BasicAuth: whatever the proxy
// answers the second request, curl sees the same.
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
