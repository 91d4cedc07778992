// What real servers will not do, from the project's fault server: odd
// chunk lines, heads at the buffer's limit, missing required lines, peers
// that stall, close or reset, and challenges of every kind.
#include <gtest/gtest.h>

#include <mbedtls/md.h>

#include <memory>
#include <string>

#include "http/http_internal.h"
#include "platform/platform.h"
#include "tests/http/peer_fetch.h"
#include "tests/support/servers.h"

namespace {

class FaultPeer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        files_ = std::make_unique<TestTempDir>();
        server_ = std::make_unique<FaultServer>();
        if (!server_->start_with_tls(files_->path(), &start_error_)) {
            server_.reset();
        }
    }
    static void TearDownTestSuite() {
        server_.reset();
        files_.reset();
    }
    void SetUp() override { ASSERT_TRUE(server_) << start_error_; }

    // The fault server as the proxy, with server credentials for the
    // origin's challenges and a deadline short enough for the stall rows.
    static PeerSettings through_the_proxy() {
        PeerSettings settings;
        settings.proxy_host = "127.0.0.1";
        settings.proxy_port = server_->port();
        settings.timeout_seconds = 2;
        settings.user = "user";
        settings.password = "pass";
        return settings;
    }

    // Responses laid out for the /raw/ routes.
    static std::unique_ptr<TestTempDir> files_;
    static std::unique_ptr<FaultServer> server_;
    static std::string start_error_;
};

std::unique_ptr<TestTempDir> FaultPeer::files_;
std::unique_ptr<FaultServer> FaultPeer::server_;
std::string FaultPeer::start_error_;

// Request lines of the tool for host 127.0.0.1: User-Agent and Host.
const int32_t kToolRequestLines =
    static_cast<int32_t>(strlen("User-Agent: Mozilla/4.0 (compatible; Corvane Chat Bootstrap)\r\n"
                                "Host: 127.0.0.1\r\n"));

TEST_F(FaultPeer, Responses) {
    struct Row {
        std::string path;
        HttpResult headers;
        HttpResult body_result;
        int32_t status;
        std::string body;
    };
    const int32_t room = 1023 - kToolRequestLines;
    const Row rows[] = {
        {"/chunked-hex", HTTP_OK, HTTP_END, 200,
         std::string(26, 'a') + std::string(26, 'b') + std::string(26, 'c')},
        {"/chunked-ext", HTTP_OK, HTTP_END, 200, std::string(31, 'e')},
        {"/chunked-trailer", HTTP_OK, HTTP_END, 200, "hello"},
        {"/chunked-long-line", HTTP_OK, HTTP_ERR_CHUNK, 200, ""},
        {"/chunked-close-in-line", HTTP_OK, HTTP_ERR_RECV, 200, "hello"},
        {"/continue", HTTP_OK, HTTP_END, 200, "after continue"},
        {"/401-bare", HTTP_ERR_BAD_RESPONSE, -1, 0, ""},
        {"/302-bare", HTTP_ERR_BAD_RESPONSE, -1, 0, ""},
        {"/302-location", HTTP_OK, HTTP_END, 302, "moved"},
        {"/not-http", HTTP_ERR_BAD_RESPONSE, -1, 0, ""},
        {"/close-mid-head", HTTP_ERR_HEADERS, -1, 0, ""},
        {"/close-mid-body", HTTP_OK, HTTP_ERR_RECV, 200, "0123456789"},
        {"/no-length", HTTP_OK, HTTP_END, 200, "until the end"},
        {"/spaced-length", HTTP_OK, HTTP_END, 200, "twelve bytes"},
        {"/slow-head", HTTP_OK, HTTP_END, 200, "slowly"},
        {"/head/" + std::to_string(room), HTTP_OK, HTTP_END, 200, "ok"},
        {"/head/" + std::to_string(room + 1), HTTP_ERR_NO_ROOM, -1, 0, ""},
        {"/nothing-here", HTTP_OK, HTTP_END, 404, "no such fault"},
    };
    for (const Row& row : rows) {
        PeerFetch got = peer_fetch(server_->url(row.path));
        SCOPED_TRACE(row.path);
        ASSERT_EQ(got.send, HTTP_OK);
        EXPECT_EQ(got.headers, row.headers);
        EXPECT_EQ(got.body_result, row.body_result);
        EXPECT_EQ(got.status, row.status);
        EXPECT_EQ(got.body, row.body);
    }
}

// Through TLS a close-notify is the orderly end of the connection: it ends
// a body that has neither length nor chunks, and cuts any other short.
TEST_F(FaultPeer, CloseNotifyEndsOnlyABodyWithoutLengthOrChunks) {
    const std::string body = "through tls";
    struct Row {
        const char* name;
        std::string response;
        size_t cut_before_end;  // bytes of the response left unsent
        HttpResult body_result;
        std::string bytes;
    };
    const Row rows[] = {
        {"no length", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body, 0, HTTP_END, body},
        {"short of its length",
         "HTTP/1.1 200 OK\r\nContent-Length: 20\r\nConnection: close\r\n\r\n" + body, 0,
         HTTP_ERR_RECV, body},
        {"before the last chunk",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nb\r\n" + body + "\r\n0\r\n\r\n", 5,
         HTTP_ERR_RECV, body},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(test_write_file(files_->file("notify-response"), row.response));
        std::string path = "/raw/notify/" +
                           std::to_string(row.response.size() - row.cut_before_end) +
                           "/notify-response";
        PeerFetch got = peer_fetch(server_->tls_url(path));
        ASSERT_EQ(got.send, HTTP_OK);
        ASSERT_EQ(got.headers, HTTP_OK);
        EXPECT_EQ(got.body_result, row.body_result);
        EXPECT_EQ(got.body, row.bytes);
    }
}

// A socket that takes at most step bytes of a send, then refuses the next
// refusals sends as a full one would, over and over; it counts what it
// refused, each of which the client had to wait out and offer again.
struct RefusingSocket {
    int32_t step;
    int32_t refusals;
    int32_t left_to_refuse;
    int64_t refused;
    static int32_t offer(void* context, int32_t length) {
        RefusingSocket* socket = static_cast<RefusingSocket*>(context);
        if (socket->left_to_refuse > 0) {
            --socket->left_to_refuse;
            ++socket->refused;
            return -1;
        }
        socket->left_to_refuse = socket->refusals;
        return length < socket->step ? length : socket->step;
    }
};

// Leaves the sends untouched again however the test ends.
struct SendHookGuard {
    explicit SendHookGuard(RefusingSocket* socket) {
        if (socket != nullptr) {
            platform_net_set_send_hook(&RefusingSocket::offer, socket);
        }
    }
    ~SendHookGuard() { platform_net_set_send_hook(nullptr, nullptr); }
};

// Megabytes behind the request head, to a peer that reads nothing for
// longer than one wait for the socket. Over the plain socket the sends meet
// a full buffer and wait (at least once in vain); over a socket that
// refuses writes every send is cut short and refused twice, so a TLS write
// stops mid-record on "want write" and is offered again. Either way every
// byte arrives in order (the peer answers with their digest).
TEST_F(FaultPeer, ASendThatMustWaitSendsEveryByte) {
    const int32_t size = 32 << 20;
    std::string data(static_cast<size_t>(size), '\0');
    for (int32_t i = 0; i < size; ++i) {
        data[static_cast<size_t>(i)] = static_cast<char>((static_cast<uint32_t>(i) * 7919u) >> 5);
    }
    uint8_t digest[32];
    ASSERT_EQ(mbedtls_md(mbedtls_md_info_from_type(MBEDTLS_MD_SHA256),
                         reinterpret_cast<const uint8_t*>(data.data()), data.size(), digest),
              0);
    char hex[65];
    for (int i = 0; i < 32; ++i) {
        snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    }
    const std::string sink = "/sink/" + std::to_string(size);
    struct Row {
        const char* name;
        std::string url;
        bool refusing;
    };
    const Row rows[] = {
        {"tls, full socket", server_->tls_url(sink), false},
        {"plain, full socket", server_->url(sink), false},
        {"tls, refusing socket", server_->tls_url(sink), true},
        {"plain, refusing socket", server_->url(sink), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HttpRequest* request = http_create();
        http_set_user_agent(request);
        ASSERT_EQ(http_send_request(request, row.url.c_str()), HTTP_OK);
        RefusingSocket refusing = {1000, 2, 0, 0};
        uint64_t start = platform_tick64_ms();
        {
            SendHookGuard guard(row.refusing ? &refusing : nullptr);
            EXPECT_EQ(http_send_all(request, data.data(), size), HTTP_OK);
        }
        if (row.refusing) {
            // Every piece but the last was followed by two refusals; a TLS
            // record's overhead only adds pieces.
            EXPECT_GE(refusing.refused, 2 * (size / refusing.step - 1));
        } else {
            EXPECT_GE(platform_tick64_ms() - start, 500u) << "the sends never had to wait";
        }
        ASSERT_EQ(http_receive_headers(request), HTTP_OK);
        char body[128];
        int32_t count = 0;
        std::string got;
        HttpResult result;
        do {
            result = http_read_body(request, body, sizeof body, &count);
            got.append(body, static_cast<size_t>(count));
        } while (result == HTTP_OK);
        EXPECT_EQ(result, HTTP_END);
        EXPECT_EQ(got, hex);
        http_destroy(&request);
    }
}

TEST_F(FaultPeer, ExactRequestOnTheWire) {
    PeerFetch got = peer_fetch(server_->url("/echo"));
    EXPECT_EQ(got.body,
              "GET /echo HTTP/1.1\r\n"
              "User-Agent: Mozilla/4.0 (compatible; Corvane Chat Bootstrap)\r\n"
              "Host: 127.0.0.1\r\n"
              "\r\n");
}

TEST_F(FaultPeer, ResetMidBodyIsAFailure) {
    PeerFetch got = peer_fetch(server_->url("/reset-mid-body"));
    ASSERT_EQ(got.headers, HTTP_OK);
    EXPECT_EQ(got.body_result, HTTP_ERR_RECV);
    EXPECT_EQ(got.body, std::string(got.body.size(), 'x'));
}

TEST_F(FaultPeer, EmptyBodyOnAKeptConnectionEndsAtOnce) {
    uint32_t start = platform_tick_ms();
    PeerFetch got = peer_fetch(server_->url("/keep-alive-empty"));
    EXPECT_EQ(got.headers, HTTP_OK);
    EXPECT_EQ(got.body_result, HTTP_END);
    EXPECT_EQ(got.body, "");
    EXPECT_LT(platform_tick_ms() - start, 1000u);
}

TEST_F(FaultPeer, Deadlines) {
    struct Row {
        std::string url;
        HttpResult send;
        HttpResult headers;
        HttpResult body_result;
    };
    const std::string https_silent =
        "https://127.0.0.1:" + std::to_string(server_->port()) + "/silent";
    const Row rows[] = {
        {server_->url("/silent"), HTTP_OK, HTTP_ERR_HEADERS, -1},
        {server_->url("/stall-body"), HTTP_OK, HTTP_OK, HTTP_ERR_TIMEOUT},
        // The handshake never gets an answer: bounded by the deadline.
        {https_silent, HTTP_ERR_TLS_HANDSHAKE, -1, -1},
    };
    for (const Row& row : rows) {
        PeerSettings settings;
        settings.timeout_seconds = 2;
        uint32_t start = platform_tick_ms();
        PeerFetch got = peer_fetch(row.url, settings);
        uint32_t elapsed = platform_tick_ms() - start;
        SCOPED_TRACE(row.url);
        EXPECT_EQ(got.send, row.send);
        EXPECT_EQ(got.headers, row.headers);
        EXPECT_EQ(got.body_result, row.body_result);
        EXPECT_GE(elapsed, 900u);
        EXPECT_LT(elapsed, 3500u);
    }
}

TEST_F(FaultPeer, Challenges) {
    struct Row {
        const char* path;
        int32_t scheme;
        bool force_basic;
        HttpResult send;
        const char* line;  // an authorization line the second request carries
    };
    const Row rows[] = {
        {"/auth/basic", HTTP_AUTH_BASIC, false, HTTP_OK,
         "\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"},
        {"/auth/digest", HTTP_AUTH_DIGEST, true, HTTP_OK,
         "\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"},
        {"/auth/digest", HTTP_AUTH_DIGEST, false, HTTP_OK,
         "\r\nAuthorization: Digest username=\"user\", realm=\"fault\", qop=\"auth,auth-int\", "
         "algorithm=\"MD5\", uri=\"/auth/digest\", nonce=\"abc123\", nc=00000001, cnonce=\""},
        {"/auth/digest-plain", HTTP_AUTH_DIGEST, false, HTTP_OK, "algorithm=\"MD5\", uri="},
        {"/auth/digest-noqop", HTTP_AUTH_DIGEST, false, HTTP_ERR_DIGEST_PARAM, nullptr},
        {"/auth/digest-sha256", HTTP_AUTH_DIGEST, false, HTTP_ERR_DIGEST_ALGORITHM, nullptr},
        {"/auth/negotiate", HTTP_AUTH_NEGOTIATE, false, HTTP_ERR_NEGOTIATE, nullptr},
        {"/auth/basic", HTTP_AUTH_DIGEST, false, HTTP_ERR_AUTH_MISMATCH, nullptr},
        {"/auth/none", HTTP_AUTH_BASIC, false, HTTP_ERR_AUTH_MISMATCH, nullptr},
        {"/proxy-auth/basic", HTTP_AUTH_BASIC, false, HTTP_OK,
         "\r\nProxy-Authorization: Basic cHJveDpweHB3\r\n"},
        // Digest towards a proxy carries the server credentials.
        {"/proxy-auth/digest", HTTP_AUTH_DIGEST, false, HTTP_OK,
         "\r\nProxy-Authorization: Digest username=\"user\", realm=\"proxy\""},
    };
    for (const Row& row : rows) {
        PeerSettings settings;
        settings.user = "user";
        settings.password = "pass";
        settings.proxy_user = "prox";
        settings.proxy_password = "pxpw";
        settings.wanted_scheme = row.scheme;
        settings.force_basic = row.force_basic;
        PeerFetch got = peer_fetch(server_->url(row.path), settings);
        SCOPED_TRACE(row.path);
        EXPECT_EQ(got.send, row.send);
        if (row.line != nullptr) {
            EXPECT_EQ(got.status, 200);
            EXPECT_NE(got.body.find(row.line), std::string::npos) << got.body;
        }
    }
}

// The fault server as the proxy. An "https" URL goes through a CONNECT
// tunnel (the URL's host picks how the proxy answers it) and carries the
// origin-form request inside; plain "http" keeps the absolute form. The
// terminating modes echo the CONNECT heads in front of the request's own.
TEST_F(FaultPeer, ConnectTunnel) {
    // AUTH_BASIC_FIRST: proxy credentials sent before any challenge, as a
    // proxy setting with a user part has them.
    enum Auth { AUTH_NONE, AUTH_BASIC, AUTH_BASIC_WRONG, AUTH_DIGEST, AUTH_BASIC_FIRST };
    struct Row {
        const char* name;
        std::string url;
        Auth auth;
        HttpResult send;
        bool waits_for_the_deadline;
        std::string body;  // the whole echo (a 200), or empty
    };
    const std::string agent = "User-Agent: Mozilla/4.0 (compatible; Corvane Chat Bootstrap)\r\n";
    const std::string basic_answer = "Proxy-Authorization: Basic cHJveDpweHB3\r\n";
    auto connect_head = [](const std::string& target, const std::string& extra) {
        return "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n" + extra + "\r\n";
    };
    auto get_head = [&agent](const std::string& target, const std::string& host) {
        return "GET " + target + " HTTP/1.1\r\n" + agent + "Host: " + host + "\r\n\r\n";
    };
    const std::string plain_echo = server_->url("/echo");
    const Row rows[] = {
        {"refused", "https://refuse.connect/echo", AUTH_NONE, HTTP_ERR_PROXY_REFUSED, false, ""},
        {"407 without a challenge", "https://bare407.connect/echo", AUTH_BASIC,
         HTTP_ERR_BAD_RESPONSE, false, ""},
        {"407 and no credentials", "https://basic.connect/echo", AUTH_NONE, HTTP_ERR_PROXY_REFUSED,
         false, ""},
        {"407 answered wrongly", "https://basic.connect/echo", AUTH_BASIC_WRONG,
         HTTP_ERR_PROXY_REFUSED, false, ""},
        {"200, then a close", "https://close.connect/echo", AUTH_NONE, HTTP_ERR_TLS_HANDSHAKE,
         false, ""},
        {"endless answer head", "https://endless.connect/echo", AUTH_NONE, HTTP_ERR_NO_ROOM, false,
         ""},
        {"no answer", "https://silent.connect/echo", AUTH_NONE, HTTP_ERR_HEADERS, true, ""},
        {"stalled tunnel", "https://stall.connect/echo", AUTH_NONE, HTTP_ERR_TLS_HANDSHAKE, true,
         ""},
        {"tunnel", "https://open.connect:8443/echo", AUTH_NONE, HTTP_OK, false,
         connect_head("open.connect:8443", "") + get_head("/echo", "open.connect")},
        {"Basic, the proxy closes after its 407", "https://basic.connect/echo", AUTH_BASIC, HTTP_OK,
         false,
         connect_head("basic.connect:443", basic_answer) + get_head("/echo", "basic.connect")},
        {"Basic, the proxy keeps the connection", "https://basic-kept.connect/echo", AUTH_BASIC,
         HTTP_OK, false,
         connect_head("basic-kept.connect:443", "") +
             connect_head("basic-kept.connect:443", basic_answer) +
             get_head("/echo", "basic-kept.connect")},
        // The proxy checks the digest over CONNECT and its target.
        {"Digest", "https://digest.connect/echo", AUTH_DIGEST, HTTP_OK, false, "digest"},
        {"relayed to the origin", server_->tls_url("/echo"), AUTH_NONE, HTTP_OK, false,
         get_head("/echo", "127.0.0.1")},
        {"plain http", plain_echo, AUTH_NONE, HTTP_OK, false, get_head(plain_echo, "127.0.0.1")},
        {"Basic first, a proxy that asks", "https://basic.connect/echo", AUTH_BASIC_FIRST, HTTP_OK,
         false,
         connect_head("basic.connect:443", basic_answer) + get_head("/echo", "basic.connect")},
        {"Basic first, a proxy that does not ask", "https://open.connect:8443/echo",
         AUTH_BASIC_FIRST, HTTP_OK, false,
         connect_head("open.connect:8443", basic_answer) + get_head("/echo", "open.connect")},
        {"Basic first, plain http", plain_echo, AUTH_BASIC_FIRST, HTTP_OK, false,
         "GET " + plain_echo + " HTTP/1.1\r\n" + agent + "Host: 127.0.0.1\r\n" + basic_answer +
             "\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PeerSettings settings = through_the_proxy();
        settings.proxy_user = "prox";
        settings.proxy_password = row.auth == AUTH_BASIC_WRONG ? "nope" : "pxpw";
        settings.proxy_basic_first = row.auth == AUTH_BASIC_FIRST;
        settings.wanted_scheme = row.auth == AUTH_NONE || row.auth == AUTH_BASIC_FIRST
                                     ? HTTP_AUTH_NONE
                                 : row.auth == AUTH_DIGEST ? HTTP_AUTH_DIGEST
                                                           : HTTP_AUTH_BASIC;
        uint32_t start = platform_tick_ms();
        PeerFetch got = peer_fetch(row.url, settings);
        uint32_t elapsed = platform_tick_ms() - start;
        EXPECT_EQ(got.send, row.send);
        // Only a silent peer may hold the request until its deadline.
        if (row.waits_for_the_deadline) {
            EXPECT_GE(elapsed, 1900u);
            EXPECT_LT(elapsed, 3500u);
        } else {
            EXPECT_LT(elapsed, 1500u);
        }
        if (row.send != HTTP_OK) {
            continue;
        }
        EXPECT_EQ(got.headers, HTTP_OK);
        EXPECT_EQ(got.status, 200);
        if (row.body == "digest") {
            EXPECT_EQ(got.body.find("CONNECT digest.connect:443 HTTP/1.1\r\n"), 0u) << got.body;
            EXPECT_NE(got.body.find("\r\nProxy-Authorization: Digest username=\"user\", "
                                    "realm=\"proxy\", qop=\"auth\", algorithm=\"MD5\", "
                                    "uri=\"digest.connect:443\""),
                      std::string::npos)
                << got.body;
            EXPECT_NE(got.body.find("\r\n\r\n" + get_head("/echo", "digest.connect")),
                      std::string::npos);
        } else {
            EXPECT_EQ(got.body, row.body);
        }
    }
}

// A challenge from the origin inside the tunnel: the origin closes, so the
// answer goes through a new tunnel, and the challenge it answers survives
// the CONNECT exchange that opened it.
TEST_F(FaultPeer, OriginChallengeThroughANewTunnel) {
    PeerSettings settings = through_the_proxy();
    settings.wanted_scheme = HTTP_AUTH_BASIC;
    PeerFetch got = peer_fetch("https://open.connect/auth/basic", settings);
    ASSERT_EQ(got.send, HTTP_OK);
    ASSERT_EQ(got.headers, HTTP_OK);
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body.find("CONNECT open.connect:443 HTTP/1.1\r\n"), 0u) << got.body;
    EXPECT_NE(got.body.find("\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"), std::string::npos)
        << got.body;
}

}  // namespace
