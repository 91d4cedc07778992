// Basic and Digest (MD5, qop=auth) against a real Apache httpd.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>

#include "tests/http/peer_fetch.h"
#include "tests/support/servers.h"

namespace {

class ApachePeer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        content_ = std::make_unique<TestTempDir>();
        mkdir(content_->file("basic").c_str(), 0755);
        mkdir(content_->file("digest").c_str(), 0755);
        test_write_file(content_->file("basic/page.html"), "<p>basic page body</p>\n");
        test_write_file(content_->file("digest/page.html"), "<p>digest page body</p>\n");
        ApacheOptions options;
        options.root = content_->path();
        apache_ = std::make_unique<ApacheServer>();
        if (!apache_->start(options, &start_error_)) {
            apache_.reset();
        }
    }
    static void TearDownTestSuite() {
        apache_.reset();
        content_.reset();
    }
    void SetUp() override { ASSERT_TRUE(apache_) << start_error_; }

    static std::unique_ptr<TestTempDir> content_;
    static std::unique_ptr<ApacheServer> apache_;
    static std::string start_error_;
};

std::unique_ptr<TestTempDir> ApachePeer::content_;
std::unique_ptr<ApacheServer> ApachePeer::apache_;
std::string ApachePeer::start_error_;

TEST_F(ApachePeer, Exchanges) {
    struct Row {
        const char* path;
        int32_t scheme;
        const char* password;
        bool force_basic;
        int32_t status;         // of the response delivered
        const char* curl_auth;  // curl's options for the same exchange
    };
    const Row rows[] = {
        {"/basic/page.html", HTTP_AUTH_BASIC, "secret", false, 200, "--basic -u ann:secret"},
        {"/digest/page.html", HTTP_AUTH_DIGEST, "secret", false, 200, "--digest -u ann:secret"},
        // A wrong password: the second 401 is delivered as the body.
        {"/basic/page.html", HTTP_AUTH_BASIC, "wrong", false, 401, "--basic -u ann:wrong"},
        {"/digest/page.html", HTTP_AUTH_DIGEST, "wrong", false, 401, "--digest -u ann:wrong"},
        // Basic credentials offered to a Digest folder are refused.
        {"/digest/page.html", HTTP_AUTH_DIGEST, "secret", true, 401, "--basic -u ann:secret"},
        // force-Basic answers a Basic folder whatever the wanted scheme.
        {"/basic/page.html", HTTP_AUTH_DIGEST, "secret", true, 200, "--basic -u ann:secret"},
    };
    for (const Row& row : rows) {
        PeerSettings settings;
        settings.user = "ann";
        settings.password = row.password;
        settings.wanted_scheme = row.scheme;
        settings.force_basic = row.force_basic;
        std::string url = apache_->url(row.path);
        PeerFetch got = peer_fetch(url, settings);
        SCOPED_TRACE(std::string(row.path) + " " + row.password +
                     (row.force_basic ? " forced" : ""));
        ASSERT_EQ(got.send, HTTP_OK);
        ASSERT_EQ(got.headers, HTTP_OK);
        EXPECT_EQ(got.status, row.status);
        EXPECT_EQ(got.body_result, HTTP_END);
        EXPECT_EQ(got.body, test_curl_body(url, row.curl_auth));
    }
}

TEST_F(ApachePeer, SchemeMismatchIsRefused) {
    PeerSettings settings;
    settings.user = "ann";
    settings.password = "secret";
    settings.wanted_scheme = HTTP_AUTH_BASIC;
    EXPECT_EQ(peer_fetch(apache_->url("/digest/page.html"), settings).send, HTTP_ERR_AUTH_MISMATCH);
}

TEST_F(ApachePeer, NoCredentialsDeliversTheChallenge) {
    PeerFetch got = peer_fetch(apache_->url("/digest/page.html"));
    ASSERT_EQ(got.headers, HTTP_OK);
    EXPECT_EQ(got.status, 401);
    EXPECT_EQ(got.body, test_curl_body(apache_->url("/digest/page.html")));
}

}  // namespace
