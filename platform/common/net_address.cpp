// Dotted IPv4 text to an address, alike on both systems.
#include <string.h>

#include "core/text.h"
#include "platform/net.h"

// The toolkit's strict reading, so that no address is read as octal or
// as a short form here and as decimal by the proxy choice. The address is
// in network order: its bytes are the groups as written, first to last.
bool platform_net_parse_ipv4(const char* dotted, uint32_t* address) {
    uint32_t value = 0;
    if (!text_parse_ipv4(text_span(dotted), &value)) {
        return false;
    }
    const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    memcpy(address, bytes, sizeof bytes);
    return true;
}
