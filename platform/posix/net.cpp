// BSD sockets behind platform/net.h. Error numbers are folded onto the
// Winsock values the portable code tests for.
#include "platform/net.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// errno of the last socket call on this thread, as the call left it.
thread_local int last_errno = 0;

// Tests only (platform_net_set_send_hook); null in the shipped tool.
PlatformNetSendHook send_hook = nullptr;
void* send_hook_context = nullptr;

int32_t map_errno(int error) {
    switch (error) {
        case 0:
            return PLATFORM_NET_OK;
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            return PLATFORM_NET_WOULD_BLOCK;
        case EINPROGRESS:
        case EALREADY:
            return PLATFORM_NET_IN_PROGRESS;
        case ECONNRESET:
        case EPIPE:
            return PLATFORM_NET_CONN_RESET;
        default:
            return PLATFORM_NET_OTHER;
    }
}

}  // namespace

bool platform_net_startup(void) {
    return true;
}

PlatformSocket platform_net_socket_tcp(void) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    last_errno = fd < 0 ? errno : 0;
    if (fd < 0) {
        return PLATFORM_SOCKET_NONE;
    }
    // A request goes out in several small pieces and then waits for the
    // answer; coalescing them would only add a delayed-ACK round trip.
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return static_cast<PlatformSocket>(fd);
}

bool platform_net_set_nonblocking(PlatformSocket socket) {
    int fd = static_cast<int>(socket);
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        last_errno = errno;
        return false;
    }
    return true;
}

int32_t platform_net_connect(PlatformSocket socket, uint32_t address, uint16_t port) {
    sockaddr_in peer;
    memset(&peer, 0, sizeof peer);
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = address;
    peer.sin_port = htons(port);
    int rc = connect(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    last_errno = rc == 0 ? 0 : errno;
    return map_errno(last_errno);
}

void platform_net_set_send_hook(PlatformNetSendHook hook, void* context) {
    send_hook = hook;
    send_hook_context = context;
}

int32_t platform_net_send(PlatformSocket socket, const void* data, int32_t length) {
    if (send_hook != nullptr) {
        int32_t offered = send_hook(send_hook_context, length);
        if (offered <= 0) {
            last_errno = EAGAIN;
            return -1;
        }
        length = offered < length ? offered : length;
    }
    ssize_t n;
    do {
        n = send(static_cast<int>(socket), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    last_errno = n < 0 ? errno : 0;
    return n < 0 ? -1 : static_cast<int32_t>(n);
}

int32_t platform_net_recv(PlatformSocket socket, void* buffer, int32_t size) {
    ssize_t n;
    do {
        n = recv(static_cast<int>(socket), buffer, static_cast<size_t>(size), 0);
    } while (n < 0 && errno == EINTR);
    last_errno = n < 0 ? errno : 0;
    return n < 0 ? -1 : static_cast<int32_t>(n);
}

int32_t platform_net_last_error(void) {
    return map_errno(last_errno);
}

int32_t platform_net_wait(PlatformSocket socket, uint32_t events, uint32_t timeout_ms) {
    pollfd entry;
    entry.fd = static_cast<int>(socket);
    entry.events = 0;
    if (events & PLATFORM_NET_READABLE) {
        entry.events |= POLLIN;
    }
    if (events & PLATFORM_NET_WRITABLE) {
        entry.events |= POLLOUT;
    }
    entry.revents = 0;
    int rc = poll(&entry, 1, static_cast<int>(timeout_ms));
    if (rc < 0) {
        // An interrupted wait is a wait that saw nothing: the caller looks again.
        if (errno == EINTR) {
            return 0;
        }
        last_errno = errno;
        return -1;
    }
    if (rc == 0) {
        return 0;
    }
    int32_t ready = 0;
    // Like select's read set, readable covers a hang-up: the receive then
    // reports the close (0) or the error (-1) itself.
    if ((events & PLATFORM_NET_READABLE) && (entry.revents & (POLLIN | POLLHUP | POLLERR))) {
        ready |= PLATFORM_NET_READABLE;
    }
    if (ready == 0 && (entry.revents & (POLLERR | POLLNVAL))) {
        return PLATFORM_NET_ERROR;
    }
    if ((events & PLATFORM_NET_WRITABLE) && (entry.revents & (POLLOUT | POLLHUP))) {
        ready |= PLATFORM_NET_WRITABLE;
    }
    return ready;
}

void platform_net_shutdown_send(PlatformSocket socket) {
    shutdown(static_cast<int>(socket), SHUT_WR);
}

void platform_net_close(PlatformSocket socket) {
    close(static_cast<int>(socket));
}

bool platform_net_lookup_ipv4(const char* host, uint32_t* address) {
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* answer = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &answer) != 0 || answer == nullptr) {
        return false;
    }
    bool found = false;
    for (addrinfo* entry = answer; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            *address = reinterpret_cast<sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
            found = true;
            break;
        }
    }
    freeaddrinfo(answer);
    return found;
}
