// Winsock 2.2 behind platform/net.h. The readiness wait is select over the
// one socket, with the error set standing for a failed connection attempt.
#include "platform/net.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string.h>

namespace {

// Tests only (platform_net_set_send_hook); null in the shipped tool.
PlatformNetSendHook send_hook = nullptr;
void* send_hook_context = nullptr;

int32_t map_wsa(int error) {
    switch (error) {
        case 0:
            return PLATFORM_NET_OK;
        case WSAEWOULDBLOCK:
            return PLATFORM_NET_WOULD_BLOCK;
        case WSAEINPROGRESS:
            return PLATFORM_NET_IN_PROGRESS;
        case WSAECONNRESET:
        case WSAECONNABORTED:
            return PLATFORM_NET_CONN_RESET;
        default:
            return PLATFORM_NET_OTHER;
    }
}

}  // namespace

bool platform_net_startup(void) {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

PlatformSocket platform_net_socket_tcp(void) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return PLATFORM_SOCKET_NONE;
    }
    // A request goes out in several small pieces and then waits for the
    // answer; coalescing them would only add a delayed-ACK round trip.
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return static_cast<PlatformSocket>(s);
}

bool platform_net_set_nonblocking(PlatformSocket socket) {
    u_long on = 1;
    return ioctlsocket(static_cast<SOCKET>(socket), FIONBIO, &on) == 0;
}

int32_t platform_net_connect(PlatformSocket socket, uint32_t address, uint16_t port) {
    sockaddr_in peer;
    memset(&peer, 0, sizeof peer);
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = address;
    peer.sin_port = htons(port);
    int rc = connect(static_cast<SOCKET>(socket), reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    return rc == 0 ? PLATFORM_NET_OK : map_wsa(WSAGetLastError());
}

void platform_net_set_send_hook(PlatformNetSendHook hook, void* context) {
    send_hook = hook;
    send_hook_context = context;
}

int32_t platform_net_send(PlatformSocket socket, const void* data, int32_t length) {
    if (send_hook != nullptr) {
        int32_t offered = send_hook(send_hook_context, length);
        if (offered <= 0) {
            WSASetLastError(WSAEWOULDBLOCK);
            return -1;
        }
        length = offered < length ? offered : length;
    }
    int n = send(static_cast<SOCKET>(socket), static_cast<const char*>(data), length, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int32_t platform_net_recv(PlatformSocket socket, void* buffer, int32_t size) {
    int n = recv(static_cast<SOCKET>(socket), static_cast<char*>(buffer), size, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int32_t platform_net_last_error(void) {
    return map_wsa(WSAGetLastError());
}

int32_t platform_net_wait(PlatformSocket socket, uint32_t events, uint32_t timeout_ms) {
    SOCKET s = static_cast<SOCKET>(socket);
    fd_set read_set, write_set, error_set;
    FD_ZERO(&read_set);
    FD_ZERO(&write_set);
    FD_ZERO(&error_set);
    if (events & PLATFORM_NET_READABLE) {
        FD_SET(s, &read_set);
    }
    if (events & PLATFORM_NET_WRITABLE) {
        FD_SET(s, &write_set);
    }
    FD_SET(s, &error_set);
    timeval limit;
    limit.tv_sec = static_cast<long>(timeout_ms / 1000);
    limit.tv_usec = static_cast<long>((timeout_ms % 1000) * 1000);
    int rc = select(0, &read_set, &write_set, &error_set, &limit);
    if (rc == SOCKET_ERROR) {
        return -1;
    }
    if (rc == 0) {
        return 0;
    }
    int32_t ready = 0;
    if (FD_ISSET(s, &read_set)) {
        ready |= PLATFORM_NET_READABLE;
    }
    if (ready == 0 && FD_ISSET(s, &error_set)) {
        return PLATFORM_NET_ERROR;
    }
    if (FD_ISSET(s, &write_set)) {
        ready |= PLATFORM_NET_WRITABLE;
    }
    return ready;
}

void platform_net_shutdown_send(PlatformSocket socket) {
    shutdown(static_cast<SOCKET>(socket), SD_SEND);
}

void platform_net_close(PlatformSocket socket) {
    closesocket(static_cast<SOCKET>(socket));
}

bool platform_net_lookup_ipv4(const char* host, uint32_t* address) {
    hostent* answer = gethostbyname(host);
    if (answer == nullptr || answer->h_addrtype != AF_INET || answer->h_addr_list == nullptr ||
        answer->h_addr_list[0] == nullptr) {
        return false;
    }
    memcpy(address, answer->h_addr_list[0], sizeof *address);
    return true;
}
