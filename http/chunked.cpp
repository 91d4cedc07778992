// Chunk-size lines of a chunked body, read one byte at a time into a fixed
// 64-byte line so that no data byte is taken with the line.
#include <string.h>

#include "http/http_internal.h"

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
