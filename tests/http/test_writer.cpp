// The exact bytes of a request, over an in-memory peer.
#include <gtest/gtest.h>

#include <string>

#include "tests/http/memory_transport.h"

namespace {

std::string request_bytes(void (*prepare)(HttpRequest*), const char* url,
                          HttpResult* result = nullptr) {
    MemoryPeer peer;
    HttpRequest* request = memory_request(&peer);
    prepare(request);
    HttpResult got = http_send_request(request, url);
    if (result != nullptr) {
        *result = got;
    }
    http_destroy(&request);
    return peer.sent;
}

TEST(HttpWriter, ManifestRequestByteForByte) {
    std::string sent = request_bytes(
        [](HttpRequest* r) {
            http_set_user_agent(r);
            http_set_verb(r, HTTP_VERB_GET);
        },
        "https://updates.example.org/update/release/v1/corvanechat.xml");
    EXPECT_EQ(sent,
              "GET /update/release/v1/corvanechat.xml HTTP/1.1\r\n"
              "User-Agent: Mozilla/4.0 (compatible; Corvane Chat Bootstrap)\r\n"
              "Host: updates.example.org\r\n"
              "\r\n");
}

TEST(HttpWriter, Variants) {
    struct Row {
        void (*prepare)(HttpRequest*);
        const char* url;
        const char* bytes;
    };
    const Row rows[] = {
        {[](HttpRequest*) {}, "http://h:8080",
         "GET / HTTP/1.1\r\nHost: h\r\nUser-Agent: Mozilla/4.0 (compatible)\r\n\r\n"},
        {[](HttpRequest* r) {
             http_set_user_agent(r);
             http_set_keep_alive(r, true);
             http_set_no_cache(r, true);
         },
         "http://h/a?b=c",
         "GET /a?b=c HTTP/1.1\r\nUser-Agent: Mozilla/4.0 (compatible; Corvane Chat Bootstrap)\r\n"
         "Host: h\r\nConnection: Keep-Alive\r\nCache-Control: no-cache\r\n\r\n"},
        {[](HttpRequest* r) {
             http_set_proxy(r, "127.0.0.1", 3128);
             http_set_keep_alive(r, true);
         },
         "http://h:81/p",
         "GET http://h:81/p HTTP/1.1\r\nHost: h\r\nUser-Agent: Mozilla/4.0 (compatible)\r\n"
         "Proxy-Connection: Keep-Alive\r\n\r\n"},
        {[](HttpRequest* r) {
             http_set_verb(r, HTTP_VERB_POST);
             http_set_chunked_upload(r, true);
         },
         "http://h/up",
         "POST /up HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n"
         "User-Agent: Mozilla/4.0 (compatible)\r\n\r\n"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(request_bytes(row.prepare, row.url), row.bytes) << row.url;
    }
}

TEST(HttpWriter, HeaderBufferFull) {
    HttpResult result = HTTP_OK;
    std::string host(400, 'h');
    std::string url = "http://" + host + "/";
    std::string sent = request_bytes(
        [](HttpRequest* r) {
            std::string big(600, 'x');
            http_add_header(r, "X-Big", 5, big.data(), static_cast<int32_t>(big.size()));
        },
        url.c_str(), &result);
    EXPECT_EQ(result, HTTP_ERR_NO_ROOM);
    EXPECT_EQ(sent, "");  // nothing goes out when the head cannot be built
}

// A peer that takes at most a few bytes per send: every piece must still
// arrive whole and in order.
TEST(HttpWriter, ShortSendsAreCompleted) {
    struct Trickle : MemoryPeer {
        static int32_t send_few(void* context, const char* data, int32_t length) {
            return MemoryPeer::send(context, data, length < 3 ? length : 3);
        }
    } peer;
    peer.hooks.send = &Trickle::send_few;
    HttpRequest* request = memory_request(&peer);
    http_set_user_agent(request);
    EXPECT_EQ(http_send_request(request, "http://h/x"), HTTP_OK);
    EXPECT_EQ(peer.sent,
              "GET /x HTTP/1.1\r\nUser-Agent: Mozilla/4.0 (compatible; Corvane Chat Bootstrap)\r\n"
              "Host: h\r\n\r\n");
    http_destroy(&request);
}

}  // namespace
