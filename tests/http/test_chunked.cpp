// Chunked bodies as the client delivers them: lenient size lines, the CR LF
// between chunks, trailers, over-long lines and cut-off bodies.
#include <gtest/gtest.h>

#include <string>

#include "http/http_internal.h"
#include "tests/http/memory_transport.h"

namespace {

const char kChunkedHead[] = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

struct Body {
    HttpResult head;
    HttpResult last;
    std::string bytes;
};

Body fetch(const std::string& chunks, size_t piece, int32_t at_end, int32_t capacity) {
    MemoryPeer peer(kChunkedHead + chunks);
    peer.piece = piece;
    peer.at_end = at_end;
    HttpRequest* request = memory_request(&peer);
    Body out{};
    EXPECT_EQ(http_send_request(request, "http://h/"), HTTP_OK);
    out.head = http_receive_headers(request);
    out.last = read_whole_body(request, &out.bytes, capacity);
    http_destroy(&request);
    return out;
}

TEST(HttpChunked, Bodies) {
    struct Row {
        const char* name;
        std::string chunks;
        int32_t at_end;
        HttpResult last;
        std::string body;
    };
    const std::string a26(26, 'a'), e31(31, 'e');
    const Row rows[] = {
        {"plain", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", 0, HTTP_END, "hello world"},
        {"hex forms", "1a\r\n" + a26 + "\r\n1A\r\n" + a26 + "\r\n0x1a\r\n" + a26 + "\r\n0\r\n\r\n",
         0, HTTP_END, a26 + a26 + a26},
        {"extension joins", "1;q\r\n" + e31 + "\r\n0\r\n\r\n", 0, HTTP_END, e31},
        {"trailer ignored", "5\r\nhello\r\n0\r\nX-Trailer: 1\r\n\r\n", 0, HTTP_END, "hello"},
        {"ends at zero", "3\r\nabc\r\n0\r\n", -1, HTTP_END, "abc"},
        {"long line", "5" + std::string(70, ' ') + "\r\nhello\r\n0\r\n\r\n", 0, HTTP_ERR_CHUNK, ""},
        {"63-byte line fits", "5" + std::string(60, ' ') + "\r\nhello\r\n0\r\n\r\n", 0, HTTP_END,
         "hello"},
        {"64-byte line", "5" + std::string(61, ' ') + "\r\nhello\r\n0\r\n\r\n", 0, HTTP_ERR_CHUNK,
         ""},
        // Only the last chunk ends the body; a close before it cuts it.
        {"closed in size line", "5\r\nhello\r\n", 0, HTTP_ERR_RECV, "hello"},
        {"closed in the last size line", "5\r\nhello\r\n0", 0, HTTP_ERR_RECV, "hello"},
        {"failure in size line", "5\r\nhello\r\n", -1, HTTP_ERR_RECV, "hello"},
        {"closed in data", "9\r\nhel", 0, HTTP_ERR_RECV, "hel"},
        {"closed before any chunk", "", 0, HTTP_ERR_RECV, ""},
    };
    for (const Row& row : rows) {
        for (size_t piece : {size_t{1}, size_t{7}, size_t{1} << 20}) {
            Body got = fetch(row.chunks, piece, row.at_end, 1024);
            EXPECT_EQ(got.head, HTTP_OK) << row.name;
            EXPECT_EQ(got.last, row.last) << row.name << " piece " << piece;
            EXPECT_EQ(got.bytes, row.body) << row.name << " piece " << piece;
        }
    }
}

TEST(HttpChunked, PiecesStayInsideTheirChunkAndBuffer) {
    // Small buffers: a piece never passes the chunk's end or capacity - 1.
    std::string chunks = "a\r\n0123456789\r\n3\r\nabc\r\n0\r\n\r\n";
    for (int32_t capacity : {2, 3, 4, 11, 1024}) {
        Body got = fetch(chunks, 1 << 20, 0, capacity);
        EXPECT_EQ(got.last, HTTP_END) << capacity;
        EXPECT_EQ(got.bytes, "0123456789abc") << capacity;
    }
}

TEST(HttpChunked, LenientSizeLines) {
    struct Row {
        const char* line;
        uint32_t value;
    };
    const Row rows[] = {
        {"1a\r\n", 26},
        {"1A\r\n", 26},
        {"0x1a\r\n", 26},
        {"0X1A\r\n", 26},
        {"  1a  \r\n", 26},
        {"0\r\n", 0},
        {"\r\n", 0},
        {"ffffffff\r\n", 0xffffffffu},
        {"123456789\r\n", 0x12345678u},     // eight counted digits end the number
        {"000000000001\r\n", 1},            // leading zeros are not counted
        {"1g\r\n", 0x1f},                   // letters past F count as 15
        {"5;ext=1\r\n", 0xf1},              // the "x" of "ext" restarts the number
        {"4;x\r\n", 0},                     // an X restarts the number
        {"10;name=value\r\n", 0x10fafefa},  // the extension joins the number
    };
    for (const Row& row : rows) {
        EXPECT_EQ(http_parse_hex(row.line), row.value) << row.line;
    }
}

}  // namespace
