#!/usr/bin/env python3
"""Runs a Wine test program with an nginx update server on loopback.

usage: with_nginx.py EMULATOR TEST.exe [ARGS...]

nginx runs natively over HTTPS (a fresh self-signed certificate) on a free
127.0.0.1 port, serving an empty folder. The test program learns the folder
(POSIX path) from CORVANE_WINE_WWW and the port from CORVANE_WINE_HTTPS_PORT;
under /slow/ the same files come at 64 KiB/s;
it publishes its releases there itself; CORVANE_WINE_HTTP_PORT serves the
folder over plain HTTP. A tinyproxy on another free port
(CORVANE_WINE_PROXY_PORT) logs each request it relays to the file named in
CORVANE_WINE_PROXY_LOG (POSIX path); nginx logs each request's TLS version
and suite to CORVANE_WINE_ACCESS_LOG. The run also gets a Wine drive of
its own, a fresh empty folder, named (as "R:") in CORVANE_WINE_DRIVE, for
tests that need a drive root. The exit code is the test program's; a server
or drive that cannot be set up fails the run (exit 1), never skips.
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

NGINX = "/usr/sbin/nginx"
OPENSSL = "/usr/bin/openssl"
TINYPROXY = "/usr/bin/tinyproxy"


def fail(message):
    print("with_nginx: " + message, file=sys.stderr)
    sys.exit(1)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def map_drive(top):
    """Maps a free drive letter of the Wine prefix to a fresh folder.

    Returns the link made and the drive ("R:"). Wine resolves a drive through
    its symlink in dosdevices at each use, so the drive exists at once. A
    link whose folder is gone is left from a killed run and is taken over;
    creating the link is the claim, so parallel runs never share a letter.
    """
    prefix = os.environ.get("WINEPREFIX") or os.path.join(os.path.expanduser("~"), ".wine")
    devices = os.path.join(prefix, "dosdevices")
    if not os.path.isdir(devices):
        shutil.rmtree(top, ignore_errors=True)
        fail("no Wine prefix at " + prefix + " (run wine_prefix_init first)")
    folder = os.path.join(top, "drive")
    os.makedirs(folder)
    for letter in "rstuvwxy":
        link = os.path.join(devices, letter + ":")
        if os.path.islink(link) and not os.path.exists(link):
            try:
                os.remove(link)
            except OSError:
                continue
        try:
            os.symlink(folder, link)
        except FileExistsError:
            continue
        return link, letter.upper() + ":"
    shutil.rmtree(top, ignore_errors=True)
    fail("no free drive letter in " + devices)


def start_tinyproxy(top):
    """Starts tinyproxy for loopback clients; returns it, its port and log."""
    folder = os.path.join(top, "tinyproxy")
    os.makedirs(folder)
    port = free_port()
    log_path = os.path.join(folder, "tinyproxy.log")
    conf = os.path.join(folder, "tinyproxy.conf")
    with open(conf, "w") as f:
        # As root it drops to nobody, who must still write the log.
        if os.geteuid() == 0:
            f.write("User nobody\nGroup nogroup\n")
        f.write("Port %d\nListen 127.0.0.1\nTimeout 30\n" % port)
        f.write('PidFile "%s/tinyproxy.pid"\nLogFile "%s"\n' % (folder, log_path))
        f.write("LogLevel Info\nMaxClients 16\nAllow 127.0.0.1\nDisableViaHeader Yes\n")
    open(log_path, "w").close()
    os.chmod(log_path, 0o666)
    os.chmod(folder, 0o777)
    out = open(os.path.join(folder, "stdout.log"), "w")
    proxy = subprocess.Popen([TINYPROXY, "-d", "-c", conf], stdin=subprocess.DEVNULL,
                             stdout=out, stderr=subprocess.STDOUT)
    out.close()
    return proxy, port, log_path


def stop(process):
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def main():
    if len(sys.argv) < 3:
        fail("usage: with_nginx.py EMULATOR TEST.exe [ARGS...]")
    for program in (NGINX, OPENSSL, TINYPROXY):
        if not os.access(program, os.X_OK):
            fail("required program missing: " + program + " (install nginx, openssl, tinyproxy)")
    top = tempfile.mkdtemp(prefix="corvane-wine-nginx-")
    os.chmod(top, 0o755)
    www = os.path.join(top, "www")
    os.makedirs(os.path.join(www, "update", "release", "v1"))
    cert = os.path.join(top, "cert.pem")
    key = os.path.join(top, "key.pem")
    made = subprocess.run(
        [OPENSSL, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
         "-nodes", "-subj", "/CN=localhost", "-days", "30", "-keyout", key, "-out", cert],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if made.returncode != 0:
        shutil.rmtree(top, ignore_errors=True)
        fail("openssl req failed:\n" + made.stdout)
    port = free_port()
    http_port = free_port()
    conf = os.path.join(top, "nginx.conf")
    access_log = os.path.join(top, "access.log")
    temps = "".join("  %s_temp_path %s/%s_temp;\n" % (t, top, t)
                    for t in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    with open(conf, "w") as f:
        # As root the workers would become "nobody" and lose the folder.
        if os.geteuid() == 0:
            f.write("user root;\n")
        f.write("worker_processes 1;\ndaemon off;\nmaster_process on;\n")
        f.write("pid %s/nginx.pid;\nerror_log %s/error.log warn;\n" % (top, top))
        # Each request's TLS version and suite, for whoever wants to know
        # what was negotiated (CORVANE_WINE_ACCESS_LOG).
        f.write("events { worker_connections 128; }\nhttp {\n")
        f.write('  log_format tls "$ssl_protocol $ssl_cipher $uri";\n')
        f.write("  access_log %s tls;\n" % access_log)
        f.write(temps)
        f.write("  default_type application/octet-stream;\n  sendfile on;\n")
        f.write("  server {\n    listen 127.0.0.1:%d ssl;\n" % port)
        f.write("    ssl_certificate %s;\n    ssl_certificate_key %s;\n" % (cert, key))
        f.write("    server_name localhost;\n    root %s;\n" % www)
        # The same files, slow enough for a test to act mid-download.
        f.write("    location /slow/ {\n      alias %s/;\n      limit_rate 64k;\n    }\n" % www)
        f.write("  }\n")
        # The same folder over plain HTTP, for proxy auto-config scripts.
        f.write("  server {\n    listen 127.0.0.1:%d;\n    root %s;\n  }\n}\n" % (http_port, www))
    drive_link, drive = map_drive(top)
    log = open(os.path.join(top, "nginx.log"), "w")
    server = subprocess.Popen([NGINX, "-p", top, "-e", top + "/error.log", "-c", conf],
                              stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
    proxy, proxy_port, proxy_log = start_tinyproxy(top)
    code = 1
    try:
        deadline = time.monotonic() + 15
        while not listening(port):
            if server.poll() is not None or time.monotonic() > deadline:
                log.flush()
                with open(os.path.join(top, "error.log")) as errors:
                    fail("nginx did not start on port %d:\n%s" % (port, errors.read()[-2000:]))
            time.sleep(0.05)
        while not listening(proxy_port):
            if proxy.poll() is not None or time.monotonic() > deadline:
                fail("tinyproxy did not start on port %d" % proxy_port)
            time.sleep(0.05)
        # The tests save shell links; Wine's menu builder would copy them
        # into the desktop's menus outside the prefix.
        overrides = os.environ.get("WINEDLLOVERRIDES", "")
        overrides = (overrides + ";" if overrides else "") + "winemenubuilder.exe=d"
        env = dict(os.environ, CORVANE_WINE_WWW=www, CORVANE_WINE_HTTPS_PORT=str(port),
                   CORVANE_WINE_HTTP_PORT=str(http_port), CORVANE_WINE_PROXY_PORT=str(proxy_port),
                   CORVANE_WINE_PROXY_LOG=proxy_log, CORVANE_WINE_ACCESS_LOG=access_log,
                   CORVANE_WINE_DRIVE=drive, WINEDLLOVERRIDES=overrides)
        code = subprocess.call(sys.argv[1:], env=env)
    finally:
        stop(proxy)
        stop(server)
        log.close()
        os.remove(drive_link)
        shutil.rmtree(top, ignore_errors=True)
    sys.exit(code)


if __name__ == "__main__":
    main()
