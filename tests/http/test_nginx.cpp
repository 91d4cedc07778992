// Static files from a real nginx over HTTP and HTTPS (self-signed and
// expired certificates), each body compared byte for byte with curl's.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "tests/http/peer_fetch.h"
#include "tests/support/servers.h"

namespace {

class NginxPeer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        content_ = std::make_unique<TestTempDir>();
        std::mt19937 random(1234);
        for (size_t size : {size_t{0}, size_t{10}, size_t{1023}, size_t{1024}, size_t{1} << 20}) {
            std::string bytes(size, '\0');
            for (char& c : bytes) {
                c = static_cast<char>(random());
            }
            test_write_file(content_->file("f" + std::to_string(size) + ".bin"), bytes);
        }
        std::string page;
        for (int i = 0; i < 2000; ++i) {
            page += "line " + std::to_string(i) + " needle\n";
        }
        test_write_file(content_->file("page.html"), page);
        NginxOptions options;
        options.root = content_->path();
        options.https = true;
        options.server_config =
            "location = /old { return 301 /f10.bin; }\n"
            "location = /server-name { default_type text/plain; "
            "return 200 \"[$ssl_server_name]\"; }\n"
            "location = /close.bin { alias " +
            content_->file("f1024.bin") +
            "; keepalive_timeout 0; }\n"
            "location = /chunked.html { alias " +
            content_->file("page.html") +
            ";"
            " sub_filter needle thread; sub_filter_once off; }\n";
        nginx_ = std::make_unique<NginxServer>();
        start_error_.clear();
        if (!nginx_->start(options, &start_error_)) {
            nginx_.reset();
        }
        NginxOptions expired = options;
        expired.http = false;
        expired.expired_cert = true;
        expired_ = std::make_unique<NginxServer>();
        if (!expired_->start(expired, &start_error_)) {
            expired_.reset();
        }
    }
    static void TearDownTestSuite() {
        nginx_.reset();
        expired_.reset();
        content_.reset();
    }
    void SetUp() override { ASSERT_TRUE(nginx_ && expired_) << start_error_; }

    static std::unique_ptr<TestTempDir> content_;
    static std::unique_ptr<NginxServer> nginx_;
    static std::unique_ptr<NginxServer> expired_;
    static std::string start_error_;
};

std::unique_ptr<TestTempDir> NginxPeer::content_;
std::unique_ptr<NginxServer> NginxPeer::nginx_;
std::unique_ptr<NginxServer> NginxPeer::expired_;
std::string NginxPeer::start_error_;

struct Case {
    const char* path;
    int32_t status;
    int32_t keep_alive;
    bool chunked;
};

const Case kCases[] = {
    {"/f0.bin", 200, 1, false},       {"/f10.bin", 200, 1, false},
    {"/f1023.bin", 200, 1, false},    {"/f1024.bin", 200, 1, false},
    {"/f1048576.bin", 200, 1, false}, {"/close.bin", 200, 0, false},
    {"/missing", 404, 1, false},      {"/old", 301, 1, false},
    {"/chunked.html", 200, 1, true},
};

void check_against_curl(const std::string& url, const Case& expected, int32_t capacity) {
    PeerSettings settings;
    settings.capacity = capacity;
    PeerFetch got = peer_fetch(url, settings);
    ASSERT_EQ(got.send, HTTP_OK) << url;
    ASSERT_EQ(got.headers, HTTP_OK) << url;
    EXPECT_EQ(got.body_result, HTTP_END) << url;
    EXPECT_EQ(got.status, expected.status) << url;
    EXPECT_EQ(got.keep_alive, expected.keep_alive) << url;
    EXPECT_EQ(got.chunked, expected.chunked) << url;
    std::string curl = test_curl_body(url);
    EXPECT_EQ(got.body.size(), curl.size()) << url;
    EXPECT_TRUE(got.body == curl) << url << ": bodies differ";
}

TEST_F(NginxPeer, HttpBodiesMatchCurl) {
    for (const Case& c : kCases) {
        for (int32_t capacity : {1024, 20000}) {
            check_against_curl(nginx_->http_url(c.path), c, capacity);
        }
    }
}

TEST_F(NginxPeer, HttpsBodiesMatchCurl) {
    for (const Case& c : kCases) {
        for (int32_t capacity : {1024, 20000}) {
            check_against_curl(nginx_->https_url(c.path), c, capacity);
        }
    }
}

TEST_F(NginxPeer, ExpiredCertificateIsAccepted) {
    check_against_curl(expired_->https_url("/f1048576.bin"), kCases[4], 20000);
}

TEST_F(NginxPeer, ChunkedBodyReallyWasSubstituted) {
    PeerFetch got = peer_fetch(nginx_->http_url("/chunked.html"));
    EXPECT_EQ(got.body.find("needle"), std::string::npos);
    EXPECT_NE(got.body.find("line 1999 thread\n"), std::string::npos);
}

// The handshake names the server when the URL's host is a name (as written),
// so that a server with several names can pick the right one; an address
// is no name and is not sent.
TEST_F(NginxPeer, TheServerNameIsSentForAHostName) {
    const std::string port = std::to_string(nginx_->https_port());
    struct Row {
        std::string url;
        const char* seen;
    };
    const Row rows[] = {
        {"https://localhost:" + port + "/server-name", "[localhost]"},
        {"https://LocalHost:" + port + "/server-name", "[LocalHost]"},
        {"https://127.0.0.1:" + port + "/server-name", "[]"},
    };
    for (const Row& row : rows) {
        PeerFetch got = peer_fetch(row.url);
        EXPECT_EQ(got.status, 200) << row.url;
        EXPECT_EQ(got.body, row.seen) << row.url;
    }
}

TEST_F(NginxPeer, TlsToAPlainPortFailsTheHandshake) {
    std::string url = "https://127.0.0.1:" + std::to_string(nginx_->http_port()) + "/f10.bin";
    EXPECT_EQ(peer_fetch(url).send, HTTP_ERR_TLS_HANDSHAKE);
}

TEST_F(NginxPeer, ClosedPortFailsToSend) {
    // Nothing listens there: the connection attempt starts, then fails.
    std::string url = "http://127.0.0.1:" + std::to_string(test_free_port()) + "/";
    EXPECT_EQ(peer_fetch(url).send, HTTP_ERR_SEND);
}

}  // namespace
