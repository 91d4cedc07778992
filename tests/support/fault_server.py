#!/usr/bin/env python3
"""A loopback HTTP server that misbehaves on purpose, for the client's tests.

Usage: fault_server.py PORT [FILES] [--tls TLS_PORT CERT KEY]. The request
path picks the behaviour (see ROUTES); /cut/NAME and /reset/NAME send the head
and the first half of FILES/NAME and then close or reset the connection, and
/raw/KIND/N/NAME sends the first N bytes of FILES/NAME, a whole response laid
out by the test, and then breaks the connection as KIND says (see raw_fault).
With --tls the same routes are also served through TLS on TLS_PORT with the
given certificate. A CONNECT makes it act as a proxy (see CONNECT_MODES).
Every connection is answered once and then closed, except where a route
keeps it open on purpose. Standard library only.
"""
import os
import socket
import socketserver
import ssl
import sys
import threading
import time

HEAD_END = b"\r\n\r\n"


def read_head(conn):
    """Reads up to the blank line; returns the head bytes (b"" on EOF)."""
    data = b""
    while HEAD_END not in data:
        piece = conn.recv(4096)
        if not piece:
            return b""
        data += piece
        if len(data) > 65536:
            break
    return data


def response(status, headers, body=b""):
    lines = ["HTTP/1.1 " + status]
    lines += headers
    return ("\r\n".join(lines) + "\r\n\r\n").encode() + body


def ok(body, extra=()):
    return response("200 OK", ["Content-Length: %d" % len(body), "Connection: close"] + list(extra), body)


def padded_head(total):
    """A 200 head of exactly `total` bytes, then the body "ok"."""
    start = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\nX-Pad: "
    end = "\r\n\r\n"
    pad = total - len(start) - len(end)
    if pad < 0:
        raise ValueError("head too small")
    return (start + "p" * pad + end).encode() + b"ok"


def chunked(lines):
    return response("200 OK", ["Transfer-Encoding: chunked", "Connection: close"]) + lines


def has_auth(head):
    lowered = head.lower()
    return b"\r\nauthorization:" in lowered or b"\r\nproxy-authorization:" in lowered


def challenge(status, header, value):
    def route(conn, head):
        if has_auth(head):
            conn.sendall(ok(head))
        else:
            body = b"challenge"
            conn.sendall(response(status, [header + ": " + value, "Content-Length: %d" % len(body),
                                           "Connection: close"], body))
    return route


def send_all(data):
    return lambda conn, head: conn.sendall(data)


def byte_at_a_time(conn, head):
    data = ok(b"slowly")
    for i in range(len(data)):
        conn.sendall(data[i:i + 1])
        time.sleep(0.002)


def silent(conn, head):
    # Holds the connection until the client gives up.
    conn.settimeout(60)
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass


def stall_body(conn, head):
    conn.sendall(response("200 OK", ["Content-Length: 10", "Connection: close"]))
    silent(conn, head)


def reset_mid_body(conn, head):
    conn.sendall(response("200 OK", ["Content-Length: 100000", "Connection: close"], b"x" * 10))
    time.sleep(0.05)
    # Linger on with a zero time: closing sends a reset instead of a FIN.
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
    conn.close()


def keep_alive_zero(conn, head):
    # An empty body on a connection the server keeps open.
    conn.sendall(response("200 OK", ["Content-Length: 0"]))
    silent(conn, head)


def endless(opening, piece, pause):
    """A body without length that never ends: opening, then piece after
    piece (every pause seconds) until the client goes away."""
    def route(conn, head):
        conn.sendall(response("200 OK", ["Connection: close"], opening))
        while True:
            conn.sendall(piece)
            if pause:
                time.sleep(pause)
    return route


def sink(count):
    """Reads count bytes sent behind the request head, starting only after
    1.5 s (longer than the client's one wait to send) so that the client's
    buffers fill and its sends must wait; answers with their SHA-256 in
    hexadecimal."""
    def route(conn, head):
        import hashlib
        time.sleep(1.5)
        digest = hashlib.sha256()
        data = head.split(HEAD_END, 1)[1][:count]
        left = count
        while True:
            digest.update(data)
            left -= len(data)
            if left <= 0:
                break
            data = conn.recv(min(65536, left))
            if not data:
                break
        conn.sendall(ok(digest.hexdigest().encode()))
    return route


ROUTES = {
    "/echo": lambda conn, head: conn.sendall(ok(head)),
    "/chunked-hex": send_all(chunked(b"1a\r\n" + b"a" * 26 + b"\r\n1A\r\n" + b"b" * 26 +
                                     b"\r\n0x1a\r\n" + b"c" * 26 + b"\r\n0\r\n\r\n")),
    # "1;q" reads as 0x1F: the extension's letter joins the number.
    "/chunked-ext": send_all(chunked(b"1;q\r\n" + b"e" * 31 + b"\r\n0\r\n\r\n")),
    "/chunked-trailer": send_all(chunked(b"5\r\nhello\r\n0\r\nX-Trailer: yes\r\n\r\n")),
    "/chunked-long-line": send_all(chunked(b"5" + b" " * 70 + b"\r\nhello\r\n0\r\n\r\n")),
    "/chunked-close-in-line": send_all(chunked(b"5\r\nhello\r\n")),
    "/continue": send_all(b"HTTP/1.1 100 Continue\r\n\r\n" + ok(b"after continue")),
    "/401-bare": send_all(response("401 Unauthorized", ["Content-Length: 0", "Connection: close"])),
    "/302-bare": send_all(response("302 Found", ["Content-Length: 3", "Connection: close"], b"302")),
    "/302-location": send_all(response("302 Found", ["Location: /elsewhere", "Content-Length: 5",
                                                     "Connection: close"], b"moved")),
    "/not-http": send_all(b"ICY 200 OK\r\nContent-Length: 2\r\n\r\nok"),
    "/close-mid-head": send_all(b"HTTP/1.1 200 OK\r\nContent-Le"),
    "/close-mid-body": send_all(response("200 OK", ["Content-Length: 100", "Connection: close"],
                                         b"0123456789")),
    "/no-length": send_all(response("200 OK", ["Connection: close"], b"until the end")),
    "/spaced-length": send_all(response("200 OK", ["Content-Length: 1 2", "Connection: close"],
                                        b"twelve bytes")),
    "/slow-head": byte_at_a_time,
    "/silent": silent,
    "/stall-body": stall_body,
    "/reset-mid-body": reset_mid_body,
    "/keep-alive-empty": keep_alive_zero,
    "/endless-comment": endless(b"<m><!--", b"x" * 65536, 0),
    "/endless-name": endless(b"<m><", b"n" * 65536, 0),
    "/trickle": endless(b"<m>", b" ", 0.05),
    "/auth/basic": challenge("401 Unauthorized", "WWW-Authenticate", 'Basic realm="fault"'),
    "/auth/digest": challenge("401 Unauthorized", "WWW-Authenticate",
                              'Digest realm="fault", qop="auth,auth-int", nonce="abc123", opaque="op"'),
    "/auth/digest-noqop": challenge("401 Unauthorized", "WWW-Authenticate",
                                    'Digest realm="fault", nonce="abc123"'),
    "/auth/digest-sha256": challenge("401 Unauthorized", "WWW-Authenticate",
                                     'Digest realm="fault", qop="auth", nonce="n", algorithm=SHA-256'),
    "/auth/digest-plain": challenge("401 Unauthorized", "WWW-Authenticate",
                                    'Digest realm="fault", qop="auth", nonce="n"'),
    "/auth/negotiate": challenge("401 Unauthorized", "WWW-Authenticate", "Negotiate"),
    "/auth/none": send_all(ok(b"no challenge")),
    "/proxy-auth/basic": challenge("407 Proxy Authentication Required", "Proxy-Authenticate",
                                   'Basic realm="proxy"'),
    "/proxy-auth/digest": challenge("407 Proxy Authentication Required", "Proxy-Authenticate",
                                    'Digest realm="proxy", qop="auth", nonce="pn"'),
}


# Folder of real files for the routes that break a download part-way
# (second command-line argument; none without it).
FILES = None


def file_cut(name, reset):
    """The whole file's head and its first half, then a close (FIN) or a reset."""
    def route(conn, head):
        import os
        path = os.path.join(FILES, os.path.basename(name)) if FILES else None
        if path is None or not os.path.isfile(path):
            body = b"no such file"
            conn.sendall(response("404 Not Found", ["Content-Length: %d" % len(body),
                                                    "Connection: close"], body))
            return
        with open(path, "rb") as f:
            data = f.read()
        conn.sendall(response("200 OK", ["Content-Length: %d" % len(data), "Connection: close"],
                              data[:len(data) // 2]))
        time.sleep(0.05)
        if reset:
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        conn.close()
    return route


def reset_close(conn):
    # Linger on with a zero time: closing sends a reset instead of a FIN.
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
    conn.close()


class TlsConnection:
    """A TLS connection made over memory buffers, so that a route can also
    send a record only in part. Offers what the routes use of a socket."""

    def __init__(self, sock, context):
        self.sock = sock
        self.incoming = ssl.MemoryBIO()
        self.outgoing = ssl.MemoryBIO()
        self.tls = context.wrap_bio(self.incoming, self.outgoing, server_side=True)
        self.pump(self.tls.do_handshake)

    def flush(self):
        data = self.outgoing.read()
        if data:
            self.sock.sendall(data)

    def pump(self, operation, *args):
        while True:
            try:
                result = operation(*args)
                self.flush()
                return result
            except ssl.SSLWantReadError:
                self.flush()
                data = self.sock.recv(16384)
                if not data:
                    raise ConnectionAbortedError("closed during TLS")
                self.incoming.write(data)

    def recv(self, size):
        try:
            return self.pump(self.tls.read, size)
        except (ssl.SSLZeroReturnError, ConnectionAbortedError):
            return b""

    def sendall(self, data):
        self.pump(self.tls.write, data)

    def send_record_part(self, data, part):
        """Sends data's first record only up to `part` bytes ("header": three
        bytes, inside the record header; "half": half of the record)."""
        self.tls.write(data)
        wire = self.outgoing.read()
        length = 5 + int.from_bytes(wire[3:5], "big")
        self.sock.sendall(wire[:3] if part == "header" else wire[:length // 2])

    def close_notify(self):
        try:
            self.tls.unwrap()
        except ssl.SSLError:
            pass  # the peer's own alert is not awaited
        self.flush()

    def settimeout(self, seconds):
        self.sock.settimeout(seconds)

    def setsockopt(self, *args):
        self.sock.setsockopt(*args)

    def fileno(self):
        return self.sock.fileno()

    def close(self):
        self.sock.close()


def tls_close_notify(conn):
    """Sends the TLS close-notify alert, then closes; a plain socket just closes."""
    if isinstance(conn, TlsConnection):
        try:
            conn.close_notify()
        except OSError:
            pass
    conn.close()


RAW_KINDS = ("all", "cut", "notify", "reset", "stall", "record-header", "record-half")


def raw_fault(kind, count, name):
    """The first count bytes of FILES/name exactly as they stand, then:
    all: the rest too, and an orderly end (close-notify through TLS);
    cut: a close with no close-notify; notify: a close-notify, then the close;
    reset: a TCP reset; stall: nothing more until the client gives up;
    record-header, record-half: through TLS, the next record's first three
    bytes or first half, then a close (a plain connection just closes)."""
    def route(conn, head):
        relative = os.path.normpath(name)
        path = os.path.join(FILES, relative) if FILES else None
        if (path is None or relative.startswith("..") or os.path.isabs(relative) or
                not os.path.isfile(path)):
            body = b"no such file"
            conn.sendall(response("404 Not Found", ["Content-Length: %d" % len(body),
                                                    "Connection: close"], body))
            return
        with open(path, "rb") as f:
            data = f.read()
        if kind == "all":
            conn.sendall(data)
            tls_close_notify(conn)
            return
        if count > 0:
            conn.sendall(data[:count])
        if kind.startswith("record-") and isinstance(conn, TlsConnection):
            conn.send_record_part(data[count:], kind[len("record-"):])
            conn.close()
        elif kind == "cut" or kind.startswith("record-"):
            conn.close()
        elif kind == "notify":
            tls_close_notify(conn)
        elif kind == "reset":
            # Let the bytes leave before the reset throws away what is unsent.
            time.sleep(0.02)
            reset_close(conn)
        else:
            silent(conn, head)
    return route


def route_for(path):
    if path.startswith("/raw/"):
        parts = path.split("/", 4)
        if len(parts) == 5 and parts[2] in RAW_KINDS and parts[3].isdigit():
            return raw_fault(parts[2], int(parts[3]), parts[4])
        return None
    if path.startswith("/cut/"):
        return file_cut(path[len("/cut/"):], False)
    if path.startswith("/reset/"):
        return file_cut(path[len("/reset/"):], True)
    if path.startswith("/sink/"):
        return sink(int(path[len("/sink/"):]))
    if path.startswith("/head/"):
        size = int(path[len("/head/"):])
        return send_all(padded_head(size))
    return ROUTES.get(path)


def request_target(head):
    parts = head.split(b"\r\n", 1)[0].split(b" ")
    return parts[1].decode("latin-1") if len(parts) > 1 else "/"


def serve(conn, head, route_head):
    """Answers one request head through its route; the route is handed
    route_head (the head itself, or behind a terminated tunnel the CONNECT
    heads in front of it)."""
    target = request_target(head)
    if target.startswith("http://"):  # absolute form through a proxy
        target = "/" + target.split("/", 3)[3] if target.count("/") >= 3 else "/"
    route = route_for(target.split("?", 1)[0])
    if route is None:
        body = b"no such fault"
        conn.sendall(response("404 Not Found", ["Content-Length: %d" % len(body),
                                                "Connection: close"], body))
    else:
        route(conn, route_head)


# ---- Acting as a proxy for CONNECT ------------------------------------------
#
# The host of the CONNECT target picks the behaviour (see CONNECT_MODES); any
# other target on 127.0.0.1 is relayed there byte for byte, as a real proxy
# does. The modes that let the tunnel up end it here: TLS is made with the
# server's own certificate and the request inside is answered through the
# routes, which see the CONNECT heads in front of the request's own head.

PROXY_CREDENTIALS = ("prox", "pxpw")  # Basic, the proxy's own
DIGEST_CREDENTIALS = ("user", "pass")  # Digest towards a proxy uses the server's
TUNNEL_UP = b"HTTP/1.1 200 Connection established\r\n\r\n"


def header_value(head, name):
    for line in head.split(b"\r\n")[1:]:
        key, _, value = line.partition(b":")
        if key.strip().lower() == name:
            return value.strip().decode("latin-1")
    return None


def basic_authorized(head):
    import base64
    expected = base64.b64encode(("%s:%s" % PROXY_CREDENTIALS).encode()).decode()
    return header_value(head, b"proxy-authorization") == "Basic " + expected


def digest_authorized(head):
    """A Digest answer whose response is right for the method CONNECT and
    the CONNECT target, with the server credentials."""
    import hashlib
    import re
    value = header_value(head, b"proxy-authorization") or ""
    if not value.startswith("Digest "):
        return False
    params = dict(re.findall(r'(\w+)="?([^",]*)"?', value[len("Digest "):]))
    def md5(text):
        return hashlib.md5(text.encode()).hexdigest()
    user, password = DIGEST_CREDENTIALS
    ha1 = md5("%s:%s:%s" % (user, params.get("realm"), password))
    ha2 = md5("CONNECT:" + request_target(head))
    expected = md5(":".join([ha1, params.get("nonce", ""), params.get("nc", ""),
                             params.get("cnonce", ""), params.get("qop", ""), ha2]))
    return (params.get("username") == user and params.get("uri") == request_target(head) and
            params.get("response") == expected)


def terminate(conn, heads):
    """The tunnel is up: TLS with the server's certificate, then one request."""
    conn.sendall(TUNNEL_UP)
    tls = TlsConnection(conn, TLS_CONTEXT)
    inner = read_head(tls)
    if inner:
        serve(tls, inner, heads + inner)
    tls_close_notify(tls)


def proxy_challenge(conn, heads, value, keep):
    """407 with the challenge value; a kept connection takes the next CONNECT."""
    body = b"proxy says no"
    headers = ["Proxy-Authenticate: " + value, "Content-Length: %d" % len(body)]
    conn.sendall(response("407 Proxy Authentication Required",
                          headers + ([] if keep else ["Connection: close"]), body))
    return read_head(conn) if keep else b""


def authenticated(check, value, keep):
    def mode(conn, head):
        heads = head
        while not check(head):
            head = proxy_challenge(conn, heads, value, keep)
            if not head:
                return
            heads += head
        terminate(conn, heads)
    return mode


def endless_answer(conn, head):
    # Header lines without end, until the client gives up.
    conn.sendall(b"HTTP/1.1 200 Connection established\r\n")
    for _ in range(100000):
        conn.sendall(b"X-Pad: " + b"p" * 60 + b"\r\n")
        time.sleep(0.001)


def up_then(after):
    def mode(conn, head):
        conn.sendall(TUNNEL_UP)
        after(conn, head)
    return mode


def relay(conn, host, port):
    import select
    if host != "127.0.0.1":
        conn.sendall(response("403 Forbidden", ["Content-Length: 0", "Connection: close"]))
        return
    upstream = socket.create_connection((host, port), timeout=30)
    conn.sendall(TUNNEL_UP)
    ends = [conn, upstream]
    try:
        while True:
            readable, _, _ = select.select(ends, [], [], 30)
            if not readable:
                return
            for end in readable:
                data = end.recv(65536)
                if not data:
                    return
                (upstream if end is conn else conn).sendall(data)
    finally:
        upstream.close()


CONNECT_MODES = {
    "refuse.connect": send_all(response("403 Forbidden", ["Content-Length: 9",
                                                          "Connection: close"], b"forbidden")),
    "bare407.connect": send_all(response("407 Proxy Authentication Required",
                                         ["Content-Length: 0", "Connection: close"])),
    "close.connect": send_all(TUNNEL_UP),
    "endless.connect": endless_answer,
    "silent.connect": silent,
    "stall.connect": up_then(silent),
    "open.connect": lambda conn, head: terminate(conn, head),
    "basic.connect": authenticated(basic_authorized, 'Basic realm="proxy"', False),
    "basic-kept.connect": authenticated(basic_authorized, 'Basic realm="proxy"', True),
    "digest.connect": authenticated(digest_authorized,
                                    'Digest realm="proxy", qop="auth", nonce="pn"', False),
}


def connect(conn, head):
    host, _, port = request_target(head).rpartition(":")
    mode = CONNECT_MODES.get(host)
    if mode is not None:
        mode(conn, head)
    elif port.isdigit():
        relay(conn, host, int(port))


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        conn = self.request
        try:
            head = read_head(conn)
            if not head:
                return
            if head.startswith(b"CONNECT "):
                connect(conn, head)
            else:
                serve(conn, head, head)
        except OSError:
            pass


# The server side of TLS, set up by main when --tls is given.
TLS_CONTEXT = None


class TlsHandler(Handler):
    """The plain handler behind a TLS handshake made in the connection's own
    thread, so that a client that never finishes it holds up no one else."""
    def handle(self):
        plain = self.request
        try:
            plain.settimeout(30)
            self.request = TlsConnection(plain, TLS_CONTEXT)
        except OSError:
            plain.close()
            return
        try:
            super().handle()
        finally:
            # A route that ended without closing gets an orderly end.
            if self.request.fileno() >= 0:
                tls_close_notify(self.request)


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def main():
    global FILES, TLS_CONTEXT
    args = sys.argv[1:]
    tls = None
    if "--tls" in args:
        at = args.index("--tls")
        tls = args[at + 1:at + 4]
        del args[at:at + 4]
    port = int(args[0])
    if len(args) > 1 and args[1]:
        FILES = args[1]
    if tls is not None:
        TLS_CONTEXT = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        # The faults are placed by the byte in TLS 1.2's records, and a reset
        # behind a TLS 1.3 server's tickets takes the bytes before it along
        # (curl gets nothing either); TLS 1.3 peers are the nginx rows.
        TLS_CONTEXT.maximum_version = ssl.TLSVersion.TLSv1_2
        TLS_CONTEXT.load_cert_chain(tls[1], tls[2])
        tls_server = Server(("127.0.0.1", int(tls[0])), TlsHandler)
        threading.Thread(target=tls_server.serve_forever, daemon=True).start()
    with Server(("127.0.0.1", port), Handler) as server:
        server.serve_forever()


if __name__ == "__main__":
    main()
