// libFuzzer harness: the Basic/Digest challenge parser.
//
// Byte 0 bit 0 picks the mode. Raw: the rest is the header value, and every
// parameter found must lie inside the challenge's own line. Built: the rest
// describes a scheme and parameters that the harness writes out itself
// (quoted or bare, decoy names such as "cnonce" and names inside quoted
// values), so it knows which scheme and which values the parser must find.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "http/http_internal.h"

namespace {

// The names the Digest answer asks for, each written at most once.
const char* const kNames[] = {"realm", "nonce", "qop", "algorithm", "opaque"};
constexpr size_t kNameCount = sizeof kNames / sizeof kNames[0];
// Names that contain, or end in, one of the above.
const char* const kDecoys[] = {"cnonce", "xqop", "realmx", "nonce-count", "opaque2", "algorithms"};

struct SchemeRow {
    const char* word;
    int32_t scheme;
};
const SchemeRow kSchemes[] = {
    {"Basic", HTTP_AUTH_BASIC},    {"Digest", HTTP_AUTH_DIGEST}, {"Negotiate", HTTP_AUTH_NEGOTIATE},
    {"dIgEsT", HTTP_AUTH_DIGEST},  {"BASIC", HTTP_AUTH_BASIC},   {"Bearer", HTTP_AUTH_NONE},
    {"Digestive", HTTP_AUTH_NONE}, {"XBasic", HTTP_AUTH_NONE},
};

// A challenge span as the response parser leaves it: from the CR LF in
// front of the header name to the CR behind its line, inside a block that
// goes on with a decoy line carrying every name again.
HttpSpan challenge_in(std::string* block, const std::string& value) {
    *block = "\r\nWWW-Authenticate: " + value;
    size_t length = block->size();
    *block += "\r\nX-Decoy: Basic realm=D, nonce=D, qop=D, algorithm=D, opaque=D\r\n\r\n";
    return HttpSpan{block->c_str(), static_cast<int32_t>(length)};
}

bool inside(HttpSpan span, HttpSpan part) {
    return part.length >= 0 && part.data >= span.data &&
           part.data + part.length <= span.data + span.length;
}

// Reads the input one byte at a time; zero once it runs out.
struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at;
    uint8_t next() { return at < size ? data[at++] : 0; }
    bool done() const { return at >= size; }
};

// A value of up to 15 bytes that the writer can quote or leave bare.
std::string value_from(Reader* in, bool quoted) {
    std::string value;
    size_t length = in->next() % 16;
    for (size_t i = 0; i < length && !in->done(); ++i) {
        char c = static_cast<char>(in->next());
        bool bad = c == '"' || c == '\\' || c == '\r' || c == '\n' || c == 0;
        if (!quoted) {
            bad = bad || c == ' ' || c == '\t' || c == ',' || c == '=';
        }
        value += bad ? 'v' : c;
    }
    return value;
}

// One request for every input; only its challenge fields are used.
HttpRequest* shared_request() {
    static HttpRequest* request = http_create();
    if (request == nullptr) {
        abort();
    }
    return request;
}

void check_raw(const uint8_t* data, size_t size) {
    std::string block;
    HttpSpan challenge =
        challenge_in(&block, std::string(reinterpret_cast<const char*>(data), size));
    for (const char* name : kNames) {
        HttpSpan value{nullptr, 0};
        if (http_challenge_param(name, challenge, &value) == HTTP_OK &&
            (!inside(challenge, value) ||
             memchr(value.data, '\n', static_cast<size_t>(value.length)) != nullptr)) {
            abort();
        }
    }
    HttpRequest* request = shared_request();
    request->challenge = challenge;
    request->force_basic = 0;
    request->wanted_scheme = HTTP_AUTH_DIGEST;
    (void)http_pick_auth_scheme(request);
    request->challenge = HttpSpan{nullptr, 0};
}

void check_built(const uint8_t* data, size_t size) {
    Reader in{data, size, 0};
    const SchemeRow& scheme = kSchemes[in.next() % (sizeof kSchemes / sizeof kSchemes[0])];
    std::string line = scheme.word;
    std::string expected[kNameCount];
    bool present[kNameCount] = {};
    bool first = true;
    while (!in.done()) {
        uint8_t shape = in.next();
        bool quoted = (shape & 0x01) != 0;
        const char* separators[] = {", ", ",", " , ", ",\t"};
        line += first ? " " : separators[(shape >> 1) & 0x03];
        first = false;
        std::string name;
        size_t pick = (shape >> 3) % (kNameCount + 2);
        std::string value = value_from(&in, quoted);
        if (pick < kNameCount && !present[pick]) {
            name = kNames[pick];
            present[pick] = true;
            expected[pick] = value;
        } else if (pick == kNameCount) {
            name = kDecoys[in.next() % (sizeof kDecoys / sizeof kDecoys[0])];
        } else {
            // A quoted value that reads like a whole challenge.
            name = "domain";
            quoted = true;
            value = std::string("Basic nonce=X, ") + kNames[in.next() % kNameCount] + "=X";
        }
        // Names and scheme words are matched without regard to case.
        if (shape & 0x80) {
            for (char& c : name) {
                c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 0x20 : c);
            }
        }
        line += name + (shape & 0x40 ? " = " : "=");
        line += quoted ? "\"" + value + "\"" : value;
    }

    std::string block;
    HttpSpan challenge = challenge_in(&block, line);
    for (size_t i = 0; i < kNameCount; ++i) {
        HttpSpan value{nullptr, 0};
        HttpResult result = http_challenge_param(kNames[i], challenge, &value);
        // A bare parameter with nothing behind "=" may count as absent.
        if (result != HTTP_OK) {
            if (present[i] && !expected[i].empty()) {
                abort();
            }
            continue;
        }
        if (!present[i] || !inside(challenge, value) ||
            std::string(value.data, static_cast<size_t>(value.length)) != expected[i]) {
            abort();
        }
    }

    HttpRequest* request = shared_request();
    request->challenge = challenge;
    request->force_basic = 0;
    request->wanted_scheme = scheme.scheme == HTTP_AUTH_NONE ? HTTP_AUTH_DIGEST : scheme.scheme;
    HttpResult picked = http_pick_auth_scheme(request);
    if (scheme.scheme == HTTP_AUTH_NONE
            ? picked != HTTP_ERR_AUTH_SCHEME
            : picked != HTTP_OK || request->auth_scheme != scheme.scheme) {
        abort();
    }
    request->challenge = HttpSpan{nullptr, 0};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    if (data[0] & 0x01) {
        check_built(data + 1, size - 1);
    } else {
        check_raw(data + 1, size - 1);
    }
    return 0;
}
