// TCP sockets for the HTTP client: IPv4 only, non-blocking, with bounded
// readiness waits. Winsock 2.2 on Windows, BSD sockets on POSIX; both sides
// map their error numbers onto the same few codes so that callers recognise
// "would block", "in progress" and "connection reset" without system headers.
#pragma once

#include <stddef.h>
#include <stdint.h>

// A socket handle: SOCKET on Windows, a file descriptor on POSIX.
typedef intptr_t PlatformSocket;
constexpr PlatformSocket PLATFORM_SOCKET_NONE = -1;

// Last socket error, mapped. The Winsock numbers are kept as the values so
// that the mapping is the identity on Windows for the codes that matter.
constexpr int32_t PLATFORM_NET_OK = 0;
constexpr int32_t PLATFORM_NET_WOULD_BLOCK = 10035;  // WSAEWOULDBLOCK, EAGAIN
constexpr int32_t PLATFORM_NET_IN_PROGRESS = 10036;  // WSAEINPROGRESS, EINPROGRESS
constexpr int32_t PLATFORM_NET_CONN_RESET = 10054;   // WSAECONNRESET, ECONNRESET, EPIPE
constexpr int32_t PLATFORM_NET_OTHER = 1;            // anything else

// Starts the socket library (Winsock 2.2) once for the process; on POSIX it
// has nothing to start. True when sockets can be used.
bool platform_net_startup(void);

// Creates an IPv4 TCP stream socket. PLATFORM_SOCKET_NONE on failure.
PlatformSocket platform_net_socket_tcp(void);

// Switches the socket to non-blocking mode. False on failure.
bool platform_net_set_nonblocking(PlatformSocket socket);

// Starts a connection to an IPv4 address (network byte order) and port (host
// order). Returns the mapped last error after the call: PLATFORM_NET_OK,
// PLATFORM_NET_WOULD_BLOCK or PLATFORM_NET_IN_PROGRESS mean it has started.
int32_t platform_net_connect(PlatformSocket socket, uint32_t address, uint16_t port);

// One send or receive. The count moved, or -1 on failure (then
// platform_net_last_error tells why). A receive of 0 means the peer closed.
// Sending never raises a signal on a closed connection.
int32_t platform_net_send(PlatformSocket socket, const void* data, int32_t length);
int32_t platform_net_recv(PlatformSocket socket, void* buffer, int32_t size);

// The calling thread's last socket error, mapped as above.
int32_t platform_net_last_error(void);

// Readiness to wait for, and what a wait reports (bits may combine).
constexpr uint32_t PLATFORM_NET_READABLE = 0x1;
constexpr uint32_t PLATFORM_NET_WRITABLE = 0x2;
constexpr uint32_t PLATFORM_NET_ERROR = 0x4;  // always reported; asking is optional

// Waits up to timeout_ms for the events asked. Returns the events that hold
// (0 when the time ran out), or -1 when the wait itself failed. Errors and
// hang-ups on the socket are reported as PLATFORM_NET_ERROR only when the
// socket is not also readable, so that buffered data can still be read.
int32_t platform_net_wait(PlatformSocket socket, uint32_t events, uint32_t timeout_ms);

// Shuts the sending direction down; the result is of no interest to callers.
void platform_net_shutdown_send(PlatformSocket socket);
void platform_net_close(PlatformSocket socket);

// A dotted-quad text to an IPv4 address in network order: four decimal
// groups of 0 to 255 without leading zeros (core/text.h). False when the
// text is not one.
bool platform_net_parse_ipv4(const char* dotted, uint32_t* address);

// Looks a host name up and gives its first IPv4 address in network order.
// False when there is no answer.
bool platform_net_lookup_ipv4(const char* host, uint32_t* address);

// ---- Tests only: a socket that refuses writes ------------------------------
// Loopback sockets almost never refuse a write, so the callers' paths for a
// send that must wait would go unexercised. With a hook set, every
// platform_net_send first asks it how much of length the socket may take:
// a count from 1 to length is offered to the socket, and 0 or less refuses
// the send as a full socket does (-1, PLATFORM_NET_WOULD_BLOCK). Null, the
// default, leaves sends untouched. Process-wide; set and cleared while no
// other thread sends. The context must outlive the hook.
typedef int32_t (*PlatformNetSendHook)(void* context, int32_t length);
void platform_net_set_send_hook(PlatformNetSendHook hook, void* context);
