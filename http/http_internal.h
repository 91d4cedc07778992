// The client's internal operations, shared between its files and its tests.
#pragma once

#include <stdint.h>

#include "core/text.h"
#include "http/http.h"

// A span of the client's as the text toolkit takes it.
inline TextSpan http_text(HttpSpan span) {
    return TextSpan{span.data, span.length > 0 ? static_cast<size_t>(span.length) : 0};
}

// ---- URL and transport (url.cpp, transport.cpp) ----------------------------

// A URL as the client reads it; every span points into the text split.
struct HttpUrlParts {
    HttpOptions options;  // HTTPS and TLS for "https", EXPLICIT_PORT with a port part
    HttpSpan scheme;
    HttpSpan authority;  // the host and the port part
    HttpSpan host;
    HttpSpan port_text;  // after the ':'; null without one
    HttpSpan path;       // from the first '/'; empty when the URL has none
    uint16_t port;       // the leading digits of the port part, else the scheme's
};

// Splits url as every part of the client reads it (the proxy choice too):
// "http" or "https" in any case, "://", a host up to ':' or '/', a port part
// of fewer than HTTP_PORT_PART_LIMIT characters up to '/'. 19 for a URL that
// does not fit the request's copy, with the "/" it stands for when it has no
// path; 22 for any other fault, a user part or an IPv6 literal included.
// *out is zeroed on failure.
HttpResult http_split_url(const char* url, HttpUrlParts* out);

// http_split_url onto the request's own copy, and its TLS host.
HttpResult http_parse_url(HttpRequest* request, const char* url);

// 1 with an IPv4 address in network order, 0 when the text cannot be
// resolved; digits and dots are an address or nothing, never looked up.
int32_t http_resolve_host(const char* host, uint32_t* address);

// The host of the parsed URL (authority without port), copied and
// terminated. 3 when it does not fit.
HttpResult http_copy_host(const HttpRequest* request, char* out, int32_t capacity);

// The request's clock in milliseconds: the 64-bit system tick, or the
// test clock.
uint64_t http_now_ms(const HttpRequest* request);
bool http_deadline_passed(const HttpRequest* request);
void http_start_deadline(HttpRequest* request, uint32_t seconds);

// Opens the connection: TCP to the server or the proxy and, for "https"
// through the proxy, the CONNECT tunnel. 0, 4, 5, 7 or a tunnel error.
HttpResult http_connect(HttpRequest* request);
// The TCP part of http_connect alone (no tunnel, no TLS binding).
HttpResult http_open_socket(HttpRequest* request);
// The byte movers go through TLS on the current connection: an "https" URL,
// and through the proxy only once the tunnel is up.
bool http_tls_in_use(const HttpRequest* request);
HttpResult http_send_bytes(HttpRequest* request, const char* data, int32_t* length);
HttpResult http_receive_bytes(HttpRequest* request, char* buffer, int32_t* size);
// Sends every byte, piece by piece, within the deadline (0, 8, 10 or 30).
HttpResult http_send_all(HttpRequest* request, const char* data, int32_t length);

// ---- CONNECT tunnel (tunnel.cpp) -------------------------------------------

// "https" through the proxy needs a tunnel before TLS can start.
bool http_needs_tunnel(const HttpRequest* request);
// On a freshly opened socket to the proxy: sends the CONNECT, answers one
// 407 when credentials are configured, and returns 0 once a 2xx came back,
// with the response state as it was before. Otherwise 31 for a refusal, or
// the error of sending, reading (3, 11) or parsing (23) the answer, or of
// the authorization; the proxy's answer then stays in the response block.
HttpResult http_tunnel_open(HttpRequest* request);

// ---- TLS (tls.cpp) ---------------------------------------------------------

// What a TLS step asks of the transport before it can be tried again.
constexpr int32_t HTTP_TLS_DONE = 0;
constexpr int32_t HTTP_TLS_WANT_READ = -1;
constexpr int32_t HTTP_TLS_WANT_WRITE = -2;
constexpr int32_t HTTP_TLS_FAILED = -3;
constexpr int32_t HTTP_TLS_CLOSED = -4;  // the peer ended the TLS session

bool http_tls_setup(HttpTlsState* tls);
// Times the two bulk ciphers on this processor, once at start-up, and puts
// the faster one's suites first.
void http_tls_choose_suites(void);
// The suites offered, in the order chosen; 0-terminated.
const int* http_tls_suites(void);
HttpResult http_tls_set_host(HttpTlsState* tls, const char* host, int32_t length);
void http_tls_attach(HttpRequest* request);
// Runs the handshake to its end within the request's deadline: 0 or 30.
HttpResult http_tls_handshake(HttpRequest* request);
// Count written or read (>= 0), or one of HTTP_TLS_WANT_*, FAILED, CLOSED.
int32_t http_tls_write(HttpRequest* request, const char* data, int32_t length);
int32_t http_tls_read(HttpRequest* request, char* buffer, int32_t size);
int32_t http_tls_pending(HttpRequest* request);
void http_tls_close_notify(HttpRequest* request);
void http_tls_teardown(HttpTlsState* tls);

// ---- Header buffer (headers.cpp) -------------------------------------------

constexpr int32_t HTTP_BLOCK_REQUEST = 0;
constexpr int32_t HTTP_BLOCK_RESPONSE = 1;

HttpResult http_remove_header(HttpRequest* request, const char* name);
HttpResult http_find_header(const HttpRequest* request, const char* name, HttpSpan* span,
                            int32_t block, int32_t start_offset);
// The value of a header line with every blank removed, terminated, or null
// when it does not fit (then *capacity is the value's length).
const char* http_header_value(HttpSpan span, char* value, int32_t* capacity);

// ---- Request and response (writer.cpp, response.cpp, chunked.cpp) ---------

HttpResult http_write_request(HttpRequest* request, HttpVerb verb);
HttpResult http_read_response_headers(HttpRequest* request);
HttpResult http_reset_response(HttpRequest* request);
HttpResult http_parse_response(HttpRequest* request);

// Lenient hexadecimal of a chunk-size line.
uint32_t http_parse_hex(const char* line);

// 0 with chunk_size/chunk_remaining set; 15 for an over-long line; the
// receive error (or HTTP_END for a closed connection) otherwise.
HttpResult http_read_chunk_size(HttpRequest* request);

// ---- Authentication (auth.cpp, digest.cpp, md5.cpp, base64.cpp) -----------

HttpResult http_retry_with_auth(HttpRequest* request);
HttpResult http_pick_auth_scheme(HttpRequest* request);
HttpResult http_write_auth_header(HttpRequest* request);
HttpResult http_write_basic_auth(HttpRequest* request);
// The proxy's Basic line whatever the last status: for proxy_basic_first.
HttpResult http_write_proxy_basic_auth(HttpRequest* request);
HttpResult http_write_digest_auth(HttpRequest* request);
HttpResult http_challenge_param(const char* name, HttpSpan challenge, HttpSpan* value);
// The scheme word stands in the challenge line as a whole bare word (not a
// parameter name, not inside a quoted value); any case.
bool http_challenge_names_scheme(HttpSpan challenge, const char* word);

struct HttpMd5 {
    uint32_t state[4];
    uint64_t bit_count;
    uint8_t block[64];
};
void http_md5_init(HttpMd5* md5);
void http_md5_update(HttpMd5* md5, const void* data, size_t length);
void http_md5_final(HttpMd5* md5, uint8_t digest[16]);
// 32 lower-case hexadecimal digits and a terminator.
void http_md5_hex(const uint8_t digest[16], char out[33]);

void http_make_cnonce(char out[33]);
void http_digest_ha1(bool md5_sess, const char* user, HttpSpan realm, const char* password,
                     HttpSpan nonce, const char* cnonce, char out[33]);
void http_digest_response(const char ha1[33], HttpSpan nonce, const char* cnonce, HttpSpan qop,
                          const char* method, HttpSpan uri, char out[33]);
