// Body delivery by http_read_body: piece sizes, terminators, the end of a
// body by length or by close, and failures that are not an end.
#include <gtest/gtest.h>

#include <string>

#include "tests/http/memory_transport.h"

namespace {

struct BodyRun {
    HttpResult last;
    std::string body;
    int32_t pieces;
};

BodyRun run(const std::string& reply, int32_t capacity, size_t piece = 1 << 20,
            int32_t at_end = 0) {
    MemoryPeer peer(reply);
    peer.piece = piece;
    peer.at_end = at_end;
    HttpRequest* request = memory_request(&peer);
    http_set_user_agent(request);
    EXPECT_EQ(http_send_request(request, "http://h/"), HTTP_OK);
    EXPECT_EQ(http_receive_headers(request), HTTP_OK);
    BodyRun out{};
    out.last = read_whole_body(request, &out.body, capacity, &out.pieces);
    http_destroy(&request);
    return out;
}

std::string with_length(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(HttpOperations, BodyByLength) {
    struct Row {
        size_t length;
        int32_t capacity;
        size_t piece;
        int32_t pieces;  // expected number of read_body calls
    };
    const Row rows[] = {
        {10, 1024, 1 << 20, 1},  // one piece of 10 carrying the end
        {10, 1024, 3, 4},        // 3+3+3+1, only the last carries the end
        {1023, 1024, 1 << 20, 1},  {1024, 1024, 1 << 20, 2},  // 1023 + 1
        {5000, 20000, 1 << 20, 1}, {0, 1024, 1 << 20, 1},     // an empty body ends at once
    };
    for (const Row& row : rows) {
        std::string body;
        for (size_t i = 0; i < row.length; ++i) {
            body += static_cast<char>('a' + i % 26);
        }
        BodyRun got = run(with_length(body) + "EXTRA", row.capacity, row.piece);
        EXPECT_EQ(got.last, HTTP_END) << row.length;
        EXPECT_EQ(got.body, body) << row.length;  // nothing behind the length is taken
        EXPECT_EQ(got.pieces, row.pieces) << row.length;
    }
}

TEST(HttpOperations, PieceLimitAndTerminator) {
    MemoryPeer peer(with_length(std::string(3000, 'z')));
    HttpRequest* request = memory_request(&peer);
    ASSERT_EQ(http_send_request(request, "http://h/"), HTTP_OK);
    ASSERT_EQ(http_receive_headers(request), HTTP_OK);
    char buffer[1024];
    HttpResult result;
    do {
        memset(buffer, 'x', sizeof buffer);
        int32_t count = -1;
        result = http_read_body(request, buffer, sizeof buffer, &count);
        ASSERT_TRUE(result == HTTP_OK || result == HTTP_END);
        ASSERT_LE(count, 1023);
        ASSERT_EQ(buffer[count], 0);
    } while (result == HTTP_OK);
    // Asking again after the end neither waits nor delivers.
    int32_t count = -1;
    EXPECT_EQ(http_read_body(request, buffer, sizeof buffer, &count), HTTP_END);
    EXPECT_EQ(count, 0);
    http_destroy(&request);
}

TEST(HttpOperations, BodyUntilClose) {
    struct Row {
        std::string reply;
        int32_t at_end;
        HttpResult last;
        std::string body;
    };
    const Row rows[] = {
        {"HTTP/1.1 200 OK\r\n\r\nto the end", 0, HTTP_END, "to the end"},
        {"HTTP/1.1 200 OK\r\n\r\n", 0, HTTP_END, ""},
        {"HTTP/1.1 200 OK\r\n\r\npartial", -1, HTTP_ERR_RECV, "partial"},
        // A close ends only a body without length or chunks.
        {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", 0, HTTP_ERR_RECV, "short"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nshort", 0, HTTP_END, "short"},
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone", 0, HTTP_END, "gone"},
    };
    for (const Row& row : rows) {
        BodyRun got = run(row.reply, 1024, 1 << 20, row.at_end);
        EXPECT_EQ(got.last, row.last) << row.reply;
        EXPECT_EQ(got.body, row.body) << row.reply;
    }
}

TEST(HttpOperations, UserAgentLine) {
    for (bool tool_agent : {true, false}) {
        MemoryPeer peer;
        HttpRequest* request = memory_request(&peer);
        if (tool_agent) {
            http_set_user_agent(request);
        }
        ASSERT_EQ(http_send_request(request, "http://h/"), HTTP_OK);
        size_t first = peer.sent.find("User-Agent:");
        ASSERT_NE(first, std::string::npos);
        EXPECT_EQ(peer.sent.find("User-Agent:", first + 1), std::string::npos);
        const char* line = tool_agent ? "User-Agent: Mozilla/4.0 (compatible; Corvane Chat "
                                        "Bootstrap)\r\n"
                                      : "User-Agent: Mozilla/4.0 (compatible)\r\n";
        EXPECT_NE(peer.sent.find(line), std::string::npos) << peer.sent;
        http_destroy(&request);
    }
}

TEST(HttpOperations, AuthConfiguredButNoChallenge) {
    MemoryPeer peer(with_length("x"));
    HttpRequest* request = memory_request(&peer);
    http_set_credentials(request, "u", "p");
    http_set_wanted_scheme(request, HTTP_AUTH_BASIC, "");
    EXPECT_EQ(http_send_request(request, "http://h/"), HTTP_ERR_AUTH_MISMATCH);
    http_destroy(&request);
}

TEST(HttpOperations, BasicAnswersForServerAndProxy) {
    struct Row {
        const char* status;
        const char* challenge_header;
        const char* expected_line;
    };
    const Row rows[] = {
        {"401 Unauthorized", "WWW-Authenticate", "Authorization: Basic dXNlcjpwYXNz\r\n"},
        {"407 Proxy", "Proxy-Authenticate", "Proxy-Authorization: Basic cHJveDpweHB3\r\n"},
    };
    for (const Row& row : rows) {
        MemoryPeer peer(std::string("HTTP/1.1 ") + row.status + "\r\n" + row.challenge_header +
                        ": Basic realm=\"r\"\r\nContent-Length: 4\r\n\r\ndenyHTTP/1.1 200 OK\r\n"
                        "Content-Length: 2\r\n\r\nok");
        HttpRequest* request = memory_request(&peer);
        http_set_credentials(request, "user", "pass");
        http_set_proxy_credentials(request, "prox", "pxpw");
        http_set_wanted_scheme(request, HTTP_AUTH_BASIC, "");
        ASSERT_EQ(http_send_request(request, "http://h/"), HTTP_OK);
        // The challenge body was drained: the next head is the 200.
        ASSERT_EQ(http_receive_headers(request), HTTP_OK);
        EXPECT_EQ(request->status, 200);
        size_t second = peer.sent.find("GET ", 1);
        ASSERT_NE(second, std::string::npos);
        EXPECT_EQ(peer.sent.substr(peer.sent.size() - strlen(row.expected_line) - 2),
                  std::string(row.expected_line) + "\r\n");
        http_destroy(&request);
    }
}

}  // namespace
