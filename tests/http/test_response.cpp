// Response heads: reading within the buffer's limit and parsing status,
// length, connection, transfer coding, challenges and redirects.
#include <gtest/gtest.h>

#include <string>

#include "tests/http/memory_transport.h"

namespace {

struct Head {
    HttpResult result;
    int32_t status;
    uint32_t content_length;
    int32_t has_length;
    int32_t keep_alive;
    bool chunked;
    std::string challenge;
};

Head receive(const std::string& reply, const char* wanted_name = "") {
    MemoryPeer peer(reply);
    HttpRequest* request = memory_request(&peer);
    http_set_wanted_scheme(request, HTTP_AUTH_NONE, wanted_name);
    Head out{};
    out.result = http_send_request(request, "http://h/");
    if (out.result == HTTP_OK)
        out.result = http_receive_headers(request);
    out.status = request->status;
    out.content_length = request->content_length;
    out.has_length = request->has_content_length;
    out.keep_alive = request->keep_alive;
    out.chunked = (request->options & HTTP_OPTION_CHUNKED_BODY) != 0;
    if (request->challenge.data != nullptr)
        out.challenge.assign(request->challenge.data, request->challenge.length);
    http_destroy(&request);
    return out;
}

std::string head(const std::string& status_line, const std::string& lines) {
    return status_line + "\r\n" + lines + "\r\n";
}

TEST(HttpResponse, StatusAndFields) {
    struct Row {
        std::string reply;
        HttpResult result;
        int32_t status;
        uint32_t length;
        int32_t keep_alive;
        bool chunked;
    };
    const std::string ok = "HTTP/1.1 200 OK";
    const Row rows[] = {
        {head(ok, "Content-Length: 10\r\n"), HTTP_OK, 200, 10, 1, false},
        {head(ok, "content-length: 1 0 2\r\n"), HTTP_OK, 200, 102, 1, false},
        {head(ok, "Content-Length: -5\r\n"), HTTP_OK, 200, 0, 1, false},
        {head(ok, "Content-Length: 99999999999\r\n"), HTTP_OK, 200, 0xFFFFFFFFu, 1, false},
        {head(ok, "Connection: close\r\n"), HTTP_OK, 200, 0, 0, false},
        {head(ok, "Connection: CLOSE\r\n"), HTTP_OK, 200, 0, 0, false},
        {head(ok, "Connection: Keep-Alive\r\n"), HTTP_OK, 200, 0, 1, false},
        {head(ok, "Connection: keep-alive, Upgrade\r\n"), HTTP_OK, 200, 0, 0, false},
        {head(ok, "Connection: upgrade\r\n"), HTTP_OK, 200, 0, 0, false},
        {head(ok, "Proxy-Connection: close\r\n"), HTTP_OK, 200, 0, 0, false},
        {head(ok, "Connection: keep-alive\r\nProxy-Connection: close\r\n"), HTTP_OK, 200, 0, 1,
         false},
        {head(ok, "Connection: " + std::string(512, 'x') + "\r\n"), HTTP_OK, 200, 0, 1, false},
        {head(ok, "Transfer-Encoding: chunked\r\n"), HTTP_OK, 200, 0, 1, true},
        {head(ok, "TRANSFER-ENCODING: Chunked\r\n"), HTTP_OK, 200, 0, 1, true},
        {head(ok, "Transfer-Encoding: gzip, chunked\r\n"), HTTP_OK, 200, 0, 1, false},
        {head("http/1.0 404 Not Found", ""), HTTP_OK, 404, 0, 1, false},
        {head("HTTP/1.1 500", ""), HTTP_OK, 500, 0, 1, false},
        {head("ICY 200 OK", ""), HTTP_ERR_BAD_RESPONSE, 0, 0, 0, false},
        {head("HTTP/1.1 302 Found", "Location: /x\r\n"), HTTP_OK, 302, 0, 1, false},
        {head("HTTP/1.1 301 Moved", "location: /x\r\n"), HTTP_OK, 301, 0, 1, false},
        {head("HTTP/1.1 302 Found", ""), HTTP_ERR_BAD_RESPONSE, 302, 0, 1, false},
        {head("HTTP/1.1 301 Moved", "Location : /x\r\n"), HTTP_ERR_BAD_RESPONSE, 301, 0, 1, false},
        {head("HTTP/1.1 401 No", ""), HTTP_ERR_BAD_RESPONSE, 401, 0, 1, false},
        {head("HTTP/1.1 407 No", "WWW-Authenticate: Basic\r\n"), HTTP_ERR_BAD_RESPONSE, 407, 0, 1,
         false},
        {"HTTP/1.1 100 Continue\r\n\r\n" + head(ok, "Content-Length: 3\r\n"), HTTP_OK, 200, 3, 1,
         false},
        {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\n\r\n" + head(ok, ""), HTTP_OK, 200,
         0, 1, false},
    };
    for (const Row& row : rows) {
        Head got = receive(row.reply);
        const std::string& where = row.reply;
        EXPECT_EQ(got.result, row.result) << where;
        if (row.result != HTTP_OK && row.status == 0)
            continue;
        EXPECT_EQ(got.status, row.status) << where;
        EXPECT_EQ(got.content_length, row.length) << where;
        EXPECT_EQ(got.keep_alive, row.keep_alive) << where;
        EXPECT_EQ(got.chunked, row.chunked) << where;
    }
}

TEST(HttpResponse, ChallengeChoice) {
    const std::string reply = head("HTTP/1.1 401 Unauthorized",
                                   "WWW-Authenticate: Negotiate\r\n"
                                   "WWW-Authenticate: Digest realm=\"r\"\r\n"
                                   "WWW-Authenticate: Basic realm=\"r\"\r\n");
    struct Row {
        const char* name;
        HttpResult result;
        const char* challenge;
    };
    const Row rows[] = {
        {"", HTTP_OK, "\r\nWWW-Authenticate: Negotiate"},
        {"digest", HTTP_OK, "\r\nWWW-Authenticate: Digest realm=\"r\""},
        {"BASIC", HTTP_OK, "\r\nWWW-Authenticate: Basic realm=\"r\""},
        {"ntlm", HTTP_ERR_AUTH_MISMATCH, nullptr},
    };
    for (const Row& row : rows) {
        Head got = receive(reply, row.name);
        EXPECT_EQ(got.result, row.result) << row.name;
        if (row.challenge != nullptr) {
            EXPECT_EQ(got.challenge, row.challenge) << row.name;
        }
    }
    Head proxy = receive(head("HTTP/1.1 407 Proxy", "Proxy-Authenticate: Basic realm=\"p\"\r\n"));
    EXPECT_EQ(proxy.result, HTTP_OK);
    EXPECT_EQ(proxy.challenge, "\r\nProxy-Authenticate: Basic realm=\"p\"");
}

// The request lines of "http://h/" without a User-Agent call.
constexpr int32_t kRequestLines = 9 + 38;

TEST(HttpResponse, HeadLimit) {
    struct Row {
        int32_t size;
        HttpResult result;
    };
    const int32_t room = 1023 - kRequestLines;
    const Row rows[] = {{room - 1, HTTP_OK}, {room, HTTP_OK}, {room + 1, HTTP_ERR_NO_ROOM}};
    for (const Row& row : rows) {
        std::string start = "HTTP/1.1 200 OK\r\nX-Pad: ";
        std::string reply = start + std::string(row.size - start.size() - 4, 'p') + "\r\n\r\n";
        ASSERT_EQ(static_cast<int32_t>(reply.size()), row.size);
        MemoryPeer peer(reply + "body");
        HttpRequest* request = memory_request(&peer);
        ASSERT_EQ(http_send_request(request, "http://h/"), HTTP_OK);
        ASSERT_EQ(request->request_headers_length, kRequestLines);
        EXPECT_EQ(http_receive_headers(request), row.result) << row.size;
        EXPECT_EQ(request->headers[1023], 0);
        // Nothing of the body was taken with the head.
        if (row.result == HTTP_OK) {
            EXPECT_EQ(peer.position, reply.size());
        }
        http_destroy(&request);
    }
}

TEST(HttpResponse, HeadCutShort) {
    struct Row {
        const char* reply;
        int32_t at_end;
    };
    const Row rows[] = {
        {"HTTP/1.1 200 OK\r\nContent-Le", 0},  // the peer closes
        {"HTTP/1.1 200 OK\r\n", -1},           // receiving fails
        {"", 0},
    };
    for (const Row& row : rows) {
        MemoryPeer peer(row.reply);
        peer.at_end = row.at_end;
        HttpRequest* request = memory_request(&peer);
        ASSERT_EQ(http_send_request(request, "http://h/"), HTTP_OK);
        EXPECT_EQ(http_receive_headers(request), HTTP_ERR_HEADERS) << row.reply;
        char buffer[8];
        int32_t count;
        EXPECT_EQ(http_read_body(request, buffer, sizeof buffer, &count), HTTP_ERR_NO_RESPONSE);
        http_destroy(&request);
    }
}

}  // namespace
