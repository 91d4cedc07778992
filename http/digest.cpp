// Digest authentication (MD5 and MD5-sess, qop as the server wrote it):
// the computation and the header, sent piece by piece in a fixed order.
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "core/text.h"
#include "http/http_internal.h"

namespace {

void md5_span(HttpMd5* md5, HttpSpan span) {
    if (span.data != nullptr && span.length > 0) {
        http_md5_update(md5, span.data, static_cast<size_t>(span.length));
    }
}

void md5_text(HttpMd5* md5, const char* text) {
    http_md5_update(md5, text, strlen(text));
}

void md5_finish_hex(HttpMd5* md5, char out[33]) {
    uint8_t digest[16];
    http_md5_final(md5, digest);
    http_md5_hex(digest, out);
}

HttpResult send_text(HttpRequest* request, const char* text) {
    return http_send_all(request, text, static_cast<int32_t>(strlen(text)));
}

HttpResult send_span(HttpRequest* request, HttpSpan span) {
    return http_send_all(request, span.data, span.length);
}

// The request target: from the path to the end of the URL copy, or for a
// CONNECT its "host:port".
HttpSpan request_target(const HttpRequest* request) {
    if (request->tunnel_target != nullptr) {
        return HttpSpan{request->tunnel_target,
                        static_cast<int32_t>(strlen(request->tunnel_target))};
    }
    const char* path = request->path.data != nullptr ? request->path.data : "/";
    return HttpSpan{path, static_cast<int32_t>(strlen(path))};
}

}  // namespace

void http_make_cnonce(char out[33]) {
    static const char DIGEST_HEX[] = "0123456789abcdef";
    srand(static_cast<unsigned>(time(nullptr)));
    for (int i = 0; i < 32; ++i) {
        // Fifteen bits scaled to a hex digit. Masking keeps the digit in
        // range where the generator's maximum is larger than 32767.
        int draw = rand() & 0x7FFF;
        out[i] = DIGEST_HEX[(draw * 16) >> 15];
    }
    out[32] = 0;
}

void http_digest_ha1(bool md5_sess, const char* user, HttpSpan realm, const char* password,
                     HttpSpan nonce, const char* cnonce, char out[33]) {
    HttpMd5 md5;
    http_md5_init(&md5);
    md5_text(&md5, user);
    md5_text(&md5, ":");
    md5_span(&md5, realm);
    md5_text(&md5, ":");
    md5_text(&md5, password);
    md5_finish_hex(&md5, out);
    if (!md5_sess) {
        return;
    }
    char first[33];
    memcpy(first, out, sizeof first);
    http_md5_init(&md5);
    md5_text(&md5, first);
    md5_text(&md5, ":");
    md5_span(&md5, nonce);
    md5_text(&md5, ":");
    md5_text(&md5, cnonce);
    md5_finish_hex(&md5, out);
}

void http_digest_response(const char ha1[33], HttpSpan nonce, const char* cnonce, HttpSpan qop,
                          const char* method, HttpSpan uri, char out[33]) {
    HttpMd5 md5;
    char ha2[33];
    http_md5_init(&md5);
    md5_text(&md5, method);
    md5_text(&md5, ":");
    md5_span(&md5, uri);
    md5_finish_hex(&md5, ha2);

    http_md5_init(&md5);
    md5_text(&md5, ha1);
    md5_text(&md5, ":");
    md5_span(&md5, nonce);
    md5_text(&md5, ":00000001:");
    md5_text(&md5, cnonce);
    md5_text(&md5, ":");
    md5_span(&md5, qop);
    md5_text(&md5, ":");
    md5_text(&md5, ha2);
    md5_finish_hex(&md5, out);
}

HttpResult http_write_digest_auth(HttpRequest* request) {
    char cnonce[33];
    http_make_cnonce(cnonce);
    const char* prefix;
    if (request->status == 401) {
        prefix = "Authorization: Digest username=\"";
    } else if (request->status == 407) {
        prefix = "Proxy-Authorization: Digest username=\"";
    } else {
        return HTTP_ERR_AUTH_SCHEME;
    }

    HttpSpan realm, qop, algorithm, nonce, opaque;
    HttpResult result = send_text(request, prefix);
    // The Digest header always carries the server credentials, also for 407.
    if (result == HTTP_OK) {
        result = send_text(request, request->user);
    }
    if (result == HTTP_OK) {
        result = send_text(request, "\", realm=\"");
    }
    if (result == HTTP_OK) {
        result = http_challenge_param("realm", request->challenge, &realm);
    }
    if (result == HTTP_OK) {
        result = send_span(request, realm);
    }
    if (result == HTTP_OK) {
        result = send_text(request, "\", qop=\"");
    }
    if (result == HTTP_OK) {
        result = http_challenge_param("qop", request->challenge, &qop);
    }
    if (result == HTTP_OK) {
        result = send_span(request, qop);
    }
    if (result == HTTP_OK) {
        result = send_text(request, "\", algorithm=\"");
    }
    if (result != HTTP_OK) {
        return result;
    }

    bool md5_sess = false;
    if (http_challenge_param("algorithm", request->challenge, &algorithm) == HTTP_OK) {
        if (algorithm.length < 3 || !text_span_equal_nocase(TextSpan{algorithm.data, 3},
                                                            text_span("md5"), TEXT_FOLD_FROM_AT)) {
            return HTTP_ERR_DIGEST_ALGORITHM;
        }
        md5_sess =
            text_span_equal_nocase(http_text(algorithm), text_span("md5-sess"), TEXT_FOLD_FROM_AT);
        result = send_span(request, algorithm);
    } else {
        result = send_text(request, "MD5");
    }
    HttpSpan target = request_target(request);
    if (result == HTTP_OK) {
        result = send_text(request, "\", uri=\"");
    }
    if (result == HTTP_OK) {
        result = send_span(request, target);
    }
    if (result == HTTP_OK) {
        result = send_text(request, "\", nonce=\"");
    }
    if (result == HTTP_OK) {
        result = http_challenge_param("nonce", request->challenge, &nonce);
    }
    if (result == HTTP_OK) {
        result = send_span(request, nonce);
    }
    if (result == HTTP_OK) {
        result = send_text(request, "\", nc=00000001, cnonce=\"");
    }
    if (result == HTTP_OK) {
        result = send_text(request, cnonce);
    }
    if (result == HTTP_OK &&
        http_challenge_param("opaque", request->challenge, &opaque) == HTTP_OK) {
        result = send_text(request, "\", opaque=\"");
        if (result == HTTP_OK) {
            result = send_span(request, opaque);
        }
    }
    if (result != HTTP_OK) {
        return result;
    }

    char ha1[33], digest[33];
    http_digest_ha1(md5_sess, request->user, realm, request->password, nonce, cnonce, ha1);
    const char* method = request->tunnel_target != nullptr ? "CONNECT" : request->verb_text;
    http_digest_response(ha1, nonce, cnonce, qop, method, target, digest);
    result = send_text(request, "\", response=\"");
    if (result == HTTP_OK) {
        result = send_text(request, digest);
    }
    if (result == HTTP_OK) {
        result = send_text(request, "\"\r\n");
    }
    return result;
}
