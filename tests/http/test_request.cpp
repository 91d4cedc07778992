// The request object's life: creation, verb, settings and destruction.
#include <gtest/gtest.h>

#include <string>

#include "http/http_internal.h"

namespace {

TEST(HttpRequestObject, CreatedState) {
    HttpRequest* request = http_create();
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->verb, HTTP_VERB_GET);
    EXPECT_STREQ(request->verb_text, "GET");
    EXPECT_EQ(request->port, 80);
    EXPECT_EQ(request->socket, PLATFORM_SOCKET_NONE);
    EXPECT_EQ(request->status, 0);
    EXPECT_EQ(request->options, 0u);
    EXPECT_EQ(request->headers_capacity, 1024);
    EXPECT_EQ(request->response_headers, nullptr);
    for (int i = 0; i < 1024; ++i) {
        ASSERT_EQ(request->headers[i], 0) << i;
    }
    EXPECT_EQ(http_destroy(&request), HTTP_OK);
    EXPECT_EQ(request, nullptr);
    EXPECT_EQ(http_destroy(&request), HTTP_ERR_NULL_REQUEST);
    EXPECT_EQ(http_destroy(nullptr), HTTP_ERR_NULL_REQUEST);
}

TEST(HttpRequestObject, Verbs) {
    struct Row {
        HttpVerb verb;
        HttpResult result;
        const char* text;  // verb_text afterwards
    };
    const Row rows[] = {
        {HTTP_VERB_POST, HTTP_OK, "POST"}, {1, HTTP_ERR_VERB, "POST"},
        {3, HTTP_ERR_VERB, "POST"},        {-1, HTTP_ERR_VERB, "POST"},
        {HTTP_VERB_GET, HTTP_OK, "GET"},
    };
    HttpRequest* request = http_create();
    for (const Row& row : rows) {
        EXPECT_EQ(http_set_verb(request, row.verb), row.result) << row.verb;
        EXPECT_STREQ(request->verb_text, row.text) << row.verb;
    }
    http_destroy(&request);
}

TEST(HttpRequestObject, NullRequest) {
    char buffer[4] = {'x', 'x', 'x', 'x'};
    int32_t count = 7;
    EXPECT_EQ(http_set_verb(nullptr, HTTP_VERB_GET), HTTP_ERR_NULL_REQUEST);
    EXPECT_EQ(http_set_user_agent(nullptr), HTTP_ERR_NULL_REQUEST);
    EXPECT_EQ(http_send_request(nullptr, "http://h/"), HTTP_ERR_NULL_REQUEST);
    EXPECT_EQ(http_receive_headers(nullptr), HTTP_ERR_NULL_REQUEST);
    EXPECT_EQ(http_read_body(nullptr, buffer, 4, &count), HTTP_ERR_NULL_REQUEST);
    EXPECT_EQ(http_close_connection(nullptr), HTTP_ERR_NULL_REQUEST);
}

TEST(HttpRequestObject, ReadBodyBeforeHeaders) {
    HttpRequest* request = http_create();
    char buffer[16];
    memset(buffer, 'x', sizeof buffer);
    int32_t count = 5;
    EXPECT_EQ(http_read_body(request, buffer, sizeof buffer, &count), HTTP_ERR_NO_RESPONSE);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(http_close_connection(request), HTTP_ERR_SOCKET);
    http_destroy(&request);
}

TEST(HttpRequestObject, SettingsRefuseWhatDoesNotFit) {
    HttpRequest* request = http_create();
    std::string fifteen(15, 'a'), sixteen(16, 'a');
    EXPECT_EQ(http_set_credentials(request, fifteen.c_str(), "pw"), HTTP_OK);
    EXPECT_STREQ(request->user, fifteen.c_str());
    EXPECT_EQ(http_set_credentials(request, "x", sixteen.c_str()), HTTP_ERR_NO_ROOM);
    EXPECT_STREQ(request->user, fifteen.c_str());  // unchanged
    EXPECT_EQ(http_set_proxy_credentials(request, sixteen.c_str(), ""), HTTP_ERR_NO_ROOM);
    EXPECT_EQ(http_set_wanted_scheme(request, HTTP_AUTH_DIGEST, sixteen.c_str()), HTTP_ERR_NO_ROOM);
    EXPECT_EQ(request->wanted_scheme, HTTP_AUTH_NONE);
    EXPECT_EQ(http_set_proxy(request, std::string(64, 'p').c_str(), 8080), HTTP_ERR_NO_ROOM);
    EXPECT_EQ(request->options & HTTP_OPTION_PROXY, 0u);
    EXPECT_EQ(http_set_proxy(request, "127.0.0.1", 8080), HTTP_OK);
    EXPECT_NE(request->options & HTTP_OPTION_PROXY, 0u);
    EXPECT_EQ(http_set_proxy(request, "", 0), HTTP_OK);
    EXPECT_EQ(request->options & HTTP_OPTION_PROXY, 0u);
    http_destroy(&request);
}

TEST(HttpRequestObject, PostNeedsChunkedUpload) {
    HttpRequest* request = http_create();
    ASSERT_EQ(http_set_verb(request, HTTP_VERB_POST), HTTP_OK);
    EXPECT_EQ(http_send_request(request, "http://127.0.0.1:9/"), HTTP_ERR_POST_NEEDS_CHUNKED);
    http_destroy(&request);
}

}  // namespace
