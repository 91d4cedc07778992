// Response heads: reading within the buffer's limit and parsing status,
// length, connection, transfer coding, challenges and redirects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    if (out.result == HTTP_OK) {
        out.result = http_receive_headers(request);
    }
    out.status = request->status;
    out.content_length = request->content_length;
    out.has_length = request->has_content_length;
    out.keep_alive = request->keep_alive;
    out.chunked = (request->options & HTTP_OPTION_CHUNKED_BODY) != 0;
    if (request->challenge.data != nullptr) {
        out.challenge.assign(request->challenge.data, request->challenge.length);
    }
    http_destroy(&request);
    return out;
}

std::string head(const std::string& status_line, const std::string& lines) {
    return status_line + "\r\n" + lines + "\r\n";
}

std::string interim_heads(int32_t n) {
    std::string out;
    for (int32_t i = 0; i < n; ++i) {
        out += head("HTTP/1.1 103 Early Hints", "");
    }
    return out;
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
        // Every interim head is skipped as 100 is; 101 is final.
        {head("HTTP/1.1 103 Early Hints", "Link: </s.css>; rel=preload\r\n") +
             head(ok, "Content-Length: 4\r\n"),
         HTTP_OK, 200, 4, 1, false},
        {head("HTTP/1.1 102 Processing", "") + head("HTTP/1.1 199 Odd", "") + head(ok, ""), HTTP_OK,
         200, 0, 1, false},
        {head("HTTP/1.1 101 Switching Protocols", "Connection: upgrade\r\n") + head(ok, ""),
         HTTP_OK, 101, 0, 0, false},
        {interim_heads(HTTP_MAX_INTERIM_HEADS) + head(ok, "Content-Length: 2\r\n"), HTTP_OK, 200, 2,
         1, false},
        {interim_heads(HTTP_MAX_INTERIM_HEADS + 1) + head(ok, ""), HTTP_ERR_BAD_RESPONSE, 0, 0, 0,
         false},
    };
    for (const Row& row : rows) {
        Head got = receive(row.reply);
        const std::string& where = row.reply;
        EXPECT_EQ(got.result, row.result) << where;
        if (row.result != HTTP_OK && row.status == 0) {
            continue;
        }
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
    // The wanted name is a whole scheme word, not text of a quoted value.
    Head quoted = receive(head("HTTP/1.1 401 Unauthorized",
                               "WWW-Authenticate: Digest realm=\"Basic area\"\r\n"
                               "WWW-Authenticate: Basic realm=\"r\"\r\n"),
                          "basic");
    EXPECT_EQ(quoted.result, HTTP_OK);
    EXPECT_EQ(quoted.challenge, "\r\nWWW-Authenticate: Basic realm=\"r\"");
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

// Deadlines on the peer's clock, which moves only while the peer is
// silent: the head has 15 s in all (interim heads included), each body
// read 30 s, a time limit bounds the whole request, and the clock's 32-bit
// wrap is no deadline.
TEST(HttpResponse, DeadlinesOnTheRequestClock) {
    const std::string early = head("HTTP/1.1 103 Early Hints", "");
    const std::string sized = head("HTTP/1.1 200 OK", "Content-Length: 4\r\n");
    const std::string open_ended = head("HTTP/1.1 200 OK", "");
    const uint64_t wrap = uint64_t{1} << 32;
    struct Row {
        const char* name;
        std::string reply;
        std::vector<MemoryPeer::Pause> pauses;
        bool stall;
        uint64_t start_ms;
        uint32_t limit_ms;  // 0: no time limit
        HttpResult headers;
        HttpResult body;
        std::string bytes;
        uint64_t elapsed_ms;  // on the peer's clock when the fetch ended
    };
    const Row rows[] = {
        {"silent before the head", "", {}, true, 0, 0, HTTP_ERR_HEADERS, -1, "", 15000},
        {"head just in time, then a stalled body",
         sized,
         {{0, 14900}},
         true,
         0,
         0,
         HTTP_OK,
         HTTP_ERR_TIMEOUT,
         "",
         14900 + 30000},
        {"interim heads share the head's deadline",
         early + early + sized + "abcd",
         {{0, 10000}, {early.size(), 10000}},
         false,
         0,
         0,
         HTTP_ERR_HEADERS,
         -1,
         "",
         15000},
        {"each body read has its own 30 s",
         sized + "abcd",
         {{sized.size() + 2, 29000}},
         false,
         0,
         0,
         HTTP_OK,
         HTTP_END,
         "abcd",
         29000},
        {"the time limit ends a body that keeps trickling",
         open_ended + "abcdef",
         {{open_ended.size() + 1, 20000},
          {open_ended.size() + 2, 20000},
          {open_ended.size() + 3, 20000},
          {open_ended.size() + 4, 20000},
          {open_ended.size() + 5, 20000}},
         false,
         0,
         70000,
         HTTP_OK,
         HTTP_ERR_TIMEOUT,
         "abcd",
         70000},
        {"the 32-bit wrap of the tick passes unnoticed",
         sized + "abcd",
         {{0, 900}, {sized.size() + 2, 2000}},
         false,
         wrap - 1000,
         0,
         HTTP_OK,
         HTTP_END,
         "abcd",
         2900},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MemoryPeer peer(row.reply);
        peer.piece = 1;
        peer.pauses = row.pauses;
        peer.stall_at_end = row.stall;
        peer.now_ms = row.start_ms;
        HttpRequest* request = memory_request(&peer);
        if (row.limit_ms != 0) {
            http_set_time_limit(request, row.limit_ms);
        }
        ASSERT_EQ(http_send_request(request, "http://h/"), HTTP_OK);
        EXPECT_EQ(http_receive_headers(request), row.headers);
        std::string body;
        HttpResult last = -1;
        if (row.headers == HTTP_OK) {
            last = read_whole_body(request, &body);
        }
        EXPECT_EQ(last, row.body);
        EXPECT_EQ(body, row.bytes);
        EXPECT_EQ(peer.now_ms - row.start_ms, row.elapsed_ms);
        http_destroy(&request);
    }
}

}  // namespace
