// A small HTTP/1.1 client over non-blocking sockets with bounded waits,
// HTTPS through Mbed TLS, chunked bodies and Basic and Digest
// authentication. One HttpRequest carries one request from http_create to
// http_destroy; every operation returns an HttpResult (0 is success).
//
// Calling order for one fetch: http_create, http_set_user_agent,
// http_set_verb(HTTP_VERB_GET), http_send_request, http_receive_headers,
// http_read_body until HTTP_END or an error, http_destroy (always).
#pragma once

#include <stdint.h>

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/ssl.h>

#include "platform/net.h"

// ---- Result codes ----------------------------------------------------------

typedef int32_t HttpResult;

constexpr HttpResult HTTP_OK = 0;
constexpr HttpResult HTTP_ERR_NULL_REQUEST = 2;
constexpr HttpResult HTTP_ERR_NO_ROOM = 3;
constexpr HttpResult HTTP_ERR_SOCKET = 4;
constexpr HttpResult HTTP_ERR_NONBLOCK = 5;
constexpr HttpResult HTTP_ERR_CONNECT = 7;
constexpr HttpResult HTTP_ERR_TIMEOUT = 8;
constexpr HttpResult HTTP_ERR_RECV = 9;
constexpr HttpResult HTTP_ERR_SEND = 10;
constexpr HttpResult HTTP_ERR_HEADERS = 11;
constexpr HttpResult HTTP_ERR_NO_HEADER = 12;
constexpr HttpResult HTTP_ERR_NAME_TOO_LONG = 13;
constexpr HttpResult HTTP_ERR_POST_NEEDS_CHUNKED = 14;
constexpr HttpResult HTTP_ERR_CHUNK_LINE_LONG = 15;
constexpr HttpResult HTTP_ERR_VERB = 18;
constexpr HttpResult HTTP_ERR_URL_TOO_LONG = 19;
constexpr HttpResult HTTP_ERR_NO_RESPONSE = 20;
constexpr HttpResult HTTP_ERR_CHUNK = 21;
constexpr HttpResult HTTP_ERR_BAD_URL = 22;
constexpr HttpResult HTTP_ERR_BAD_RESPONSE = 23;
constexpr HttpResult HTTP_ERR_AUTH_SCHEME = 25;
constexpr HttpResult HTTP_ERR_AUTH_MISMATCH = 26;
constexpr HttpResult HTTP_ERR_DIGEST_PARAM = 27;
constexpr HttpResult HTTP_ERR_DIGEST_ALGORITHM = 28;
constexpr HttpResult HTTP_ERR_TLS_HANDSHAKE = 30;
// The proxy answered the CONNECT for an "https" URL with a status other than
// 2xx (a 407 counts once it was answered, or when no credentials are set).
constexpr HttpResult HTTP_ERR_PROXY_REFUSED = 31;
constexpr HttpResult HTTP_ERR_NEGOTIATE = 64;
constexpr HttpResult HTTP_END = 1000;

// ---- Verbs, options, schemes -----------------------------------------------

typedef int32_t HttpVerb;
constexpr HttpVerb HTTP_VERB_GET = 0;
constexpr HttpVerb HTTP_VERB_POST = 2;

typedef uint32_t HttpOptions;
constexpr HttpOptions HTTP_OPTION_KEEP_ALIVE = 0x001;      // send "Connection: Keep-Alive"
constexpr HttpOptions HTTP_OPTION_CHUNKED_UPLOAD = 0x002;  // POST with chunked coding
constexpr HttpOptions HTTP_OPTION_NO_CACHE = 0x004;        // send "Cache-Control: no-cache"
constexpr HttpOptions HTTP_OPTION_TLS = 0x010;             // connection runs through TLS
constexpr HttpOptions HTTP_OPTION_EXPLICIT_PORT = 0x020;   // the URL named a port
constexpr HttpOptions HTTP_OPTION_HTTPS = 0x040;           // scheme is "https"
constexpr HttpOptions HTTP_OPTION_PROXY = 0x080;           // through proxy_host:proxy_port
constexpr HttpOptions HTTP_OPTION_CHUNKED_BODY = 0x100;    // current response is chunked

constexpr int32_t HTTP_AUTH_NONE = 0;
constexpr int32_t HTTP_AUTH_BASIC = 1;
constexpr int32_t HTTP_AUTH_DIGEST = 2;
constexpr int32_t HTTP_AUTH_NEGOTIATE = 3;

// ---- Hard limits -----------------------------------------------------------
// Every fixed size of the client, in one place. Each is a result code when
// reached, never a cut: the request holds all its text in these buffers and
// allocates nothing else.

// The URL copy with its terminator; every URL span points into it.
constexpr int32_t HTTP_URL_CAPACITY = 512;
// The one header buffer: request lines, the response head behind them, then
// 0. The request lines share it with the response head, so every request
// line added costs the server's head room.
constexpr int32_t HTTP_HEADERS_CAPACITY = 1024;
// What the two blocks may fill: the last byte stays 0, so both read as text.
constexpr int32_t HTTP_HEADERS_USABLE = HTTP_HEADERS_CAPACITY - 1;
// A header name to look up: its pattern CR LF name ":" and a terminator must
// fit a buffer of HTTP_HEADERS_CAPACITY.
constexpr int32_t HTTP_HEADER_NAME_MAX = HTTP_HEADERS_CAPACITY - 4;
// A response value the parser acts on, blanks removed, with its terminator;
// a longer one counts as absent.
constexpr int32_t HTTP_HEADER_VALUE_CAPACITY = 512;
// A chunk-size line with its terminator: eight digits fill 32 bits, the rest
// is room for extensions; a longer line is refused rather than skipped.
constexpr int32_t HTTP_CHUNK_LINE_CAPACITY = 64;
// The port part of a URL, ":" included, is shorter; a longer one is refused.
constexpr int32_t HTTP_PORT_PART_LIMIT = 10;
// A CONNECT target: the host (at most the URL), ":", five digits and a
// terminator.
constexpr int32_t HTTP_TUNNEL_TARGET_CAPACITY = HTTP_URL_CAPACITY + 8;
// The verb text kept in the record ("GET", "POST") with its terminator.
constexpr int32_t HTTP_VERB_TEXT_CAPACITY = 16;
// The proxy's host name with its terminator, kept in the record.
constexpr int32_t HTTP_PROXY_HOST_CAPACITY = 64;
// User names, passwords and the wanted scheme name: 15 characters and a
// terminator, in the record.
constexpr int32_t HTTP_CREDENTIAL_CAPACITY = 16;
// Basic's "user:password" of two longest credentials, and its base64 with a
// terminator: the answer always fits.
constexpr int32_t HTTP_BASIC_TEXT_CAPACITY = 2 * (HTTP_CREDENTIAL_CAPACITY - 1) + 2;
constexpr int32_t HTTP_BASIC_CODED_CAPACITY = 4 * ((HTTP_BASIC_TEXT_CAPACITY + 2) / 3) + 1;

// Built-in deadline lengths in seconds: a whole request, and a response head.
constexpr uint32_t HTTP_REQUEST_TIMEOUT_SECONDS = 30;
constexpr uint32_t HTTP_HEADERS_TIMEOUT_SECONDS = 15;
// Interim heads skipped before the final one; one more fails the response,
// so endless 1xx heads end the request at once, not at the deadline.
constexpr int32_t HTTP_MAX_INTERIM_HEADS = 16;

// ---- Records ---------------------------------------------------------------

// A piece of text inside a request's url or headers buffer; owns nothing.
struct HttpSpan {
    const char* data;
    int32_t length;
};

// Mbed TLS state of one request object: set up on the first "https" URL and
// torn down by http_destroy.
struct HttpTlsState {
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
    mbedtls_ssl_context ssl;
    mbedtls_ssl_config config;
    char* host_name;  // heap copy, the server name sent in the handshake
    int32_t ready;    // the four contexts are set up
};

// Replaces the socket for the byte movers (tests and fuzzing): receive and
// send behave as platform_net_recv/send on a socket that is always ready,
// except that receive may answer HTTP_TRANSPORT_NOT_READY: nothing has
// arrived yet, as when a wait ends empty (the deadline is checked).
constexpr int32_t HTTP_TRANSPORT_NOT_READY = -2;
struct HttpTransportHooks {
    int32_t (*receive)(void* context, char* buffer, int32_t size);
    int32_t (*send)(void* context, const char* data, int32_t length);
    void* context;
};

struct HttpRequest {
    HttpSpan scheme;
    HttpSpan authority;
    HttpSpan port_text;
    HttpSpan path;
    uint16_t port;
    char url[HTTP_URL_CAPACITY];
    char* headers;  // owned, HTTP_HEADERS_CAPACITY bytes
    int32_t headers_capacity;
    int32_t request_headers_length;
    char* response_headers;  // inside headers, behind the request lines
    int32_t response_headers_length;
    HttpVerb verb;
    char verb_text[HTTP_VERB_TEXT_CAPACITY];
    int32_t user_agent_set;
    int32_t status;
    uint32_t content_length;  // 0: none, unless has_content_length
    int32_t keep_alive;
    HttpSpan challenge;
    int32_t auth_scheme;
    char proxy_host[HTTP_PROXY_HOST_CAPACITY];
    char proxy_user[HTTP_CREDENTIAL_CAPACITY];
    char proxy_password[HTTP_CREDENTIAL_CAPACITY];
    uint16_t proxy_port;
    int32_t force_basic;
    // Credentials from a proxy setting go out as Basic with the first
    // request to the proxy (the CONNECT, or the absolute-form request), as
    // proxy URLs with a user part are used everywhere; no challenge is needed.
    int32_t proxy_basic_first;
    char user[HTTP_CREDENTIAL_CAPACITY];
    char password[HTTP_CREDENTIAL_CAPACITY];
    char wanted_scheme_name[HTTP_CREDENTIAL_CAPACITY];
    int32_t wanted_scheme;
    uint32_t wait_events;  // readiness the next wait asks for (PLATFORM_NET_*)
    PlatformSocket socket;
    int32_t tls_handshake_done;
    HttpTlsState tls;
    uint32_t body_bytes_read;
    uint32_t chunk_size;
    uint32_t chunk_remaining;
    uint64_t start_ms;  // start of the current deadline on the 64-bit tick
    uint32_t timeout;   // seconds
    int32_t response_ready;
    HttpOptions options;
    // A Content-Length line was present (so that a length of 0 is an empty
    // body, not a body that runs until the peer closes).
    int32_t has_content_length;
    // Deadline lengths; the built-in values unless a test shortened them.
    uint32_t request_timeout;
    uint32_t headers_timeout;
    // Null for the real socket.
    const HttpTransportHooks* transport;
    // Bound on the whole request, on the same tick as start_ms; 0: none.
    uint64_t end_ms;
    // Tests only: the clock the deadlines read instead of the system tick.
    uint64_t (*test_clock)(void* context);
    void* test_clock_context;
    // "https" through the proxy: the CONNECT was answered 2xx on the current
    // connection, so bytes from here on are the origin's TLS.
    int32_t tunnel_ready;
    // The tunnel's 407 was answered: the configured authentication is used.
    int32_t tunnel_authenticated;
    // "host:port" while a CONNECT is written (its Digest method and target);
    // null otherwise.
    const char* tunnel_target;
};

// ---- Set-up ----------------------------------------------------------------

// Sets up the TLS library's crypto for the whole process, once, before the
// first request: TLS 1.3 keys are made through it. True when it is ready;
// without it a TLS 1.3 handshake fails (30) while TLS 1.2 still works.
bool http_tls_startup(void);

// A new request (verb GET, port 80, no socket, zeroed 1024-byte header
// buffer), or null when memory runs out.
HttpRequest* http_create(void);

// HTTP_VERB_GET or HTTP_VERB_POST; anything else returns 18.
HttpResult http_set_verb(HttpRequest* request, HttpVerb verb);

// Adds "User-Agent: Mozilla/4.0 (compatible; Corvane Chat Bootstrap)".
HttpResult http_set_user_agent(HttpRequest* request);

// Settings the tool itself leaves at zero. Texts that do not fit their
// buffer (15 characters; 63 for the proxy host) return 3 and change nothing.
HttpResult http_set_credentials(HttpRequest* request, const char* user, const char* password);
HttpResult http_set_wanted_scheme(HttpRequest* request, int32_t scheme, const char* scheme_name);
HttpResult http_set_force_basic(HttpRequest* request, bool on);
// Sends the proxy credentials as Basic with the first request to the proxy.
HttpResult http_set_proxy_basic_first(HttpRequest* request, bool on);
// Sets the proxy option; a null or empty host clears it.
HttpResult http_set_proxy(HttpRequest* request, const char* host, uint16_t port);
HttpResult http_set_proxy_credentials(HttpRequest* request, const char* user, const char* password);
HttpResult http_set_keep_alive(HttpRequest* request, bool on);
HttpResult http_set_no_cache(HttpRequest* request, bool on);
HttpResult http_set_chunked_upload(HttpRequest* request, bool on);

// Tests only: shortens the 30 s request and 15 s header deadlines. A zero
// keeps the built-in value.
HttpResult http_set_test_timeouts(HttpRequest* request, uint32_t request_seconds,
                                  uint32_t headers_seconds);

// Bounds the whole request, from now, by milliseconds: every later wait
// ends by then with a time-out, and http_read_body returns 8 once it passed.
HttpResult http_set_time_limit(HttpRequest* request, uint32_t milliseconds);
// A time limit was set and has passed.
bool http_time_limit_passed(const HttpRequest* request);

// Tests only: deadlines read this clock (milliseconds) instead of the
// system tick; null restores the tick.
HttpResult http_set_test_clock(HttpRequest* request, uint64_t (*now_ms)(void* context),
                               void* context);

// Tests and fuzzing only: moves bytes through hooks instead of a socket
// (null restores the socket). The hooks must outlive the request's use.
HttpResult http_set_transport(HttpRequest* request, const HttpTransportHooks* hooks);

// Adds a request header line "name: value" (0, or 3 when it does not fit).
HttpResult http_add_header(HttpRequest* request, const char* name, int32_t name_length,
                           const char* value, int32_t value_length);

// ---- Operations ------------------------------------------------------------

// Parses the URL, adds the Host line, connects and writes the request.
HttpResult http_send_request(HttpRequest* request, const char* url);

// Reads and parses the response head. Interim 1xx heads (all but 101) are
// skipped, at most HTTP_MAX_INTERIM_HEADS of them; one deadline covers all.
HttpResult http_receive_headers(HttpRequest* request);

// Delivers the next body piece: at most capacity - 1 bytes, always followed
// by a 0 byte. 0: more may follow; HTTP_END: this was the last piece.
HttpResult http_read_body(HttpRequest* request, char* buffer, int32_t capacity, int32_t* count);

// Closes the connection (TLS close-notify first). 4 without an open socket.
HttpResult http_close_connection(HttpRequest* request);

// Frees everything and sets *handle to null; 2 when *handle is null.
HttpResult http_destroy(HttpRequest** handle);
