// Chunk-size lines of a chunked body, read one byte at a time into a fixed
// 64-byte line so that no data byte is taken with the line, and their
// lenient hexadecimal: letters past F count as 15, an X starts the number
// again, other bytes are skipped.
#include <string.h>

#include "http/http_internal.h"

uint32_t http_parse_hex(const char* line) {
    uint32_t value = 0;
    int counted = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(line); *p != 0; ++p) {
        unsigned char c = *p;
        if (c >= 'a' && c <= 'z') {
            c = static_cast<unsigned char>(c - 0x20);
        }
        uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'A' && c <= 'Z') {
            if (c == 'X') {  // takes a "0x" prefix: start the number again
                value = 0;
                counted = 0;
                continue;
            }
            digit = static_cast<uint32_t>(c - 'A') + 10;
            if (digit > 15) {
                digit = 15;
            }
        } else {
            continue;  // blanks, ';', '=', CR, LF
        }
        value = value * 16 + digit;
        if (value != 0) {
            ++counted;
        }
        // Eight counted digits fill 32 bits: no more can be taken.
        if (counted == 8) {
            return value;
        }
    }
    return value;
}

HttpResult http_read_chunk_size(HttpRequest* request) {
    char line[HTTP_CHUNK_LINE_CAPACITY];
    memset(line, 0, sizeof line);
    int32_t collected = 0;
    int32_t received = 0;
    for (;;) {
        // The last byte stays the terminator.
        if (collected >= HTTP_CHUNK_LINE_CAPACITY - 1) {
            return HTTP_ERR_CHUNK_LINE_LONG;
        }
        int32_t size = 1;
        HttpResult result = http_receive_bytes(request, line + collected, &size);
        if (result != HTTP_OK) {
            return result;
        }
        if (size == 0) {
            if (http_deadline_passed(request)) {
                return HTTP_ERR_TIMEOUT;
            }
            continue;
        }
        char c = line[collected];
        ++received;
        // The CR LF that closes the previous chunk's data comes first.
        if ((received == 1 && c == '\r') || (received == 2 && c == '\n')) {
            line[collected] = 0;
            continue;
        }
        ++collected;
        if (collected >= 2 && line[collected - 2] == '\r' && line[collected - 1] == '\n') {
            break;
        }
    }
    uint32_t value = http_parse_hex(line);
    request->chunk_size = value;
    request->chunk_remaining = value;
    return HTTP_OK;
}
