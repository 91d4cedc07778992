// The shared header buffer: adding, finding, removing and taking values,
// with the request lines and the response block side by side.
#include <gtest/gtest.h>

#include <string>

#include "http/http_internal.h"

namespace {

HttpResult add(HttpRequest* request, const std::string& name, const std::string& value) {
    return http_add_header(request, name.data(), static_cast<int32_t>(name.size()), value.data(),
                           static_cast<int32_t>(value.size()));
}

// Places a response block behind the request lines, as a read would.
void put_response(HttpRequest* request, const std::string& block) {
    request->response_headers = request->headers + request->request_headers_length;
    memcpy(request->response_headers, block.data(), block.size());
    request->response_headers_length = static_cast<int32_t>(block.size());
}

std::string used(const HttpRequest* request) {
    return std::string(request->headers,
                       request->request_headers_length + request->response_headers_length);
}

bool tail_is_zero(const HttpRequest* request) {
    for (int32_t i = request->request_headers_length + request->response_headers_length;
         i < HTTP_HEADERS_CAPACITY; ++i) {
        if (request->headers[i] != 0) {
            return false;
        }
    }
    return true;
}

TEST(HttpHeaders, AddFillsToTheLastUsableByte) {
    HttpRequest* request = http_create();
    // One line of exactly 1023 bytes fits; the buffer's last byte stays 0.
    std::string value(1023 - 4 - 1, 'v');
    EXPECT_EQ(add(request, "X", value + "v"), HTTP_ERR_NO_ROOM);
    EXPECT_EQ(request->request_headers_length, 0);
    EXPECT_EQ(add(request, "X", value), HTTP_OK);
    EXPECT_EQ(request->request_headers_length, 1023);
    EXPECT_EQ(request->headers[1023], 0);
    EXPECT_EQ(add(request, "", ""), HTTP_ERR_NO_ROOM);
    http_destroy(&request);
}

TEST(HttpHeaders, AddMovesTheResponseBlockBack) {
    HttpRequest* request = http_create();
    ASSERT_EQ(add(request, "Host", "a"), HTTP_OK);
    put_response(request, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n");
    ASSERT_EQ(add(request, "X-Two", "bb"), HTTP_OK);
    EXPECT_EQ(used(request),
              "Host: a\r\nX-Two: bb\r\nHTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n");
    EXPECT_EQ(request->response_headers, request->headers + request->request_headers_length);
    EXPECT_TRUE(tail_is_zero(request));
    // The room counts both blocks.
    int32_t left = 1023 - request->request_headers_length - request->response_headers_length;
    EXPECT_EQ(add(request, "Y", std::string(left - 5, 'y') + "!"), HTTP_ERR_NO_ROOM);
    EXPECT_EQ(add(request, "Y", std::string(left - 5, 'y')), HTTP_OK);
    EXPECT_EQ(request->headers[1023], 0);
    http_destroy(&request);
}

TEST(HttpHeaders, FindInResponseBlock) {
    HttpRequest* request = http_create();
    ASSERT_EQ(add(request, "Host", "example"), HTTP_OK);
    put_response(request,
                 "HTTP/1.1 200 OK\r\ncOnTeNt-LeNgTh: 1 0\r\nServer : x\r\nHost: other\r\n\r\n");
    struct Row {
        const char* name;
        HttpResult result;
        const char* line;  // the span, CR LF in front included
    };
    const Row rows[] = {
        {"content-length", HTTP_OK, "\r\ncOnTeNt-LeNgTh: 1 0"},
        {"CONTENT-LENGTH", HTTP_OK, "\r\ncOnTeNt-LeNgTh: 1 0"},
        {"server", HTTP_ERR_NO_HEADER, nullptr},  // a blank before the colon
        {"host", HTTP_OK, "\r\nHost: other"},     // the response's own, not the request's
        {"location", HTTP_ERR_NO_HEADER, nullptr},
        {"HTTP/1.1 200 OK", HTTP_ERR_NO_HEADER, nullptr},
    };
    for (const Row& row : rows) {
        HttpSpan span{nullptr, 0};
        EXPECT_EQ(http_find_header(request, row.name, &span, HTTP_BLOCK_RESPONSE, 0), row.result)
            << row.name;
        if (row.line != nullptr) {
            EXPECT_EQ(std::string(span.data, span.length), row.line);
        }
    }
    std::string long_name(1021, 'n');
    HttpSpan span;
    EXPECT_EQ(http_find_header(request, long_name.c_str(), &span, HTTP_BLOCK_RESPONSE, 0),
              HTTP_ERR_NAME_TOO_LONG);
    EXPECT_EQ(http_find_header(request, long_name.c_str() + 1, &span, HTTP_BLOCK_RESPONSE, 0),
              HTTP_ERR_NO_HEADER);
    http_destroy(&request);
}

TEST(HttpHeaders, FindInRequestBlockStaysInsideIt) {
    HttpRequest* request = http_create();
    ASSERT_EQ(add(request, "User-Agent", "u"), HTTP_OK);
    ASSERT_EQ(add(request, "Host", "h"), HTTP_OK);
    put_response(request, "HTTP/1.1 200 OK\r\nLocation: /x\r\n\r\n");
    HttpSpan span;
    // The first request line has no CR LF in front of it.
    EXPECT_EQ(http_find_header(request, "user-agent", &span, HTTP_BLOCK_REQUEST, 0),
              HTTP_ERR_NO_HEADER);
    EXPECT_EQ(http_find_header(request, "host", &span, HTTP_BLOCK_REQUEST, 0), HTTP_OK);
    EXPECT_EQ(http_find_header(request, "location", &span, HTTP_BLOCK_REQUEST, 0),
              HTTP_ERR_NO_HEADER);
    http_destroy(&request);
}

TEST(HttpHeaders, RemoveKeepsBothBlocksIntact) {
    HttpRequest* request = http_create();
    ASSERT_EQ(add(request, "A", "1"), HTTP_OK);
    ASSERT_EQ(add(request, "Transfer-Encoding", "chunked"), HTTP_OK);
    ASSERT_EQ(add(request, "B", "2"), HTTP_OK);
    put_response(request, "HTTP/1.1 200 OK\r\n\r\n");
    EXPECT_EQ(http_remove_header(request, "transfer-encoding"), HTTP_OK);
    EXPECT_EQ(used(request), "A: 1\r\nB: 2\r\nHTTP/1.1 200 OK\r\n\r\n");
    EXPECT_EQ(request->request_headers_length, 12);
    EXPECT_EQ(request->response_headers, request->headers + 12);
    EXPECT_TRUE(tail_is_zero(request));
    EXPECT_EQ(http_remove_header(request, "transfer-encoding"), HTTP_ERR_NO_HEADER);
    http_destroy(&request);
}

TEST(HttpHeaders, Value) {
    struct Row {
        const char* line;
        int32_t capacity;
        const char* value;  // null: does not fit
        int32_t capacity_out;
    };
    const Row rows[] = {
        {"\r\nContent-Length: 1 2 3\r\n", 512, "123", 512},
        {"\r\nConnection:   keep-alive  \r\n", 512, "keep-alive", 512},
        {"\r\nX: a\tb\r\n", 512, "ab", 512},
        {"\r\nX:\r\n", 512, "", 512},
        {"\r\nX: abc\r\n", 4, "abc", 4},
        {"\r\nX: abcd\r\n", 3, nullptr, 4},  // capacity out: the length
        {"\r\nX: a:b\r\n", 16, "a:b", 16},
    };
    for (const Row& row : rows) {
        std::string line = row.line;
        HttpSpan span{line.data(), static_cast<int32_t>(line.find('\r', 2))};
        char value[512];
        int32_t capacity = row.capacity;
        const char* got = http_header_value(span, value, &capacity);
        if (row.value == nullptr) {
            EXPECT_EQ(got, nullptr) << row.line;
            EXPECT_EQ(capacity, row.capacity_out) << row.line;
        } else {
            ASSERT_NE(got, nullptr) << row.line;
            EXPECT_STREQ(got, row.value) << row.line;
        }
    }
}

}  // namespace
