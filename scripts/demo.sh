#!/usr/bin/env bash
# The main job: builds the tool, starts the project's local update server
# with a demo release, and runs the console tool on a fresh demo folder.
#
#   sudo bash scripts/demo.sh [--no-deps]
#
# The server is nginx over HTTPS on the loopback address and port built
# into the tool (CORVANE_UPDATE_HOST, 127.0.0.1:47443 by default). It serves
# a signed manifest and the demo chat program (tests/support/demo_chat.cpp),
# both signed with the development key in keys/. In the tool, type a
# command a line: install, repair, uninstall, folder PATH, browse PATH,
# cancel, close (yes/no answer its questions). Install downloads the demo
# chat program, starts it (it prints its arguments) and the tool exits.
# CORVANE_DEMO_FOLDER=PATH runs it on an existing folder instead (to repair
# or uninstall what an earlier run installed).
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
build="$top/build/native"
demo="$top/build/demo"

case "${1:-}" in
  "") bash scripts/install-deps.sh >/dev/null ;;
  --no-deps) ;;
  *) echo "usage: sudo bash scripts/demo.sh [--no-deps]" >&2; exit 2 ;;
esac

echo "demo: building the tool, the release tool and the demo chat program" >&2
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" --target corvane-bootstrap corvane-release corvane-demo-chat >/dev/null

host=$(sed -n 's/^CORVANE_UPDATE_HOST:STRING=//p' "$build/CMakeCache.txt")
case "$host" in
  127.0.0.1:*|localhost:*) ;;
  *) echo "demo: the tool's update host is $host, not a loopback port" >&2; exit 1 ;;
esac
port=${host##*:}

# The release: the demo chat program and its signed manifest.
rm -rf "$demo/www" "$demo/server"
mkdir -p "$demo/www/update/release/v1" "$demo/server"
cp "$build/tests/ui/corvane-demo-chat" "$demo/www/CorvaneChat.exe"
"$build/tools/corvane-release" manifest --key keys/dev-signing-private.pem \
  --file "$demo/www/CorvaneChat.exe" --version 1.0.0.1 \
  --url "https://$host/CorvaneChat.exe" --displayname "Corvane Chat (demo)" \
  -o "$demo/www/update/release/v1/corvanechat.xml" >/dev/null

# The server: a throw-away self-signed certificate (the tool trusts the
# signatures, not the certificate).
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=localhost -keyout "$demo/server/key.pem" -out "$demo/server/cert.pem" 2>/dev/null
user_line=""
if [ "$(id -u)" -eq 0 ]; then user_line="user root;"; fi
cat > "$demo/server/nginx.conf" <<CONF
$user_line
worker_processes 1;
daemon on;
pid $demo/server/nginx.pid;
error_log $demo/server/error.log warn;
events { worker_connections 64; }
http {
  access_log $demo/server/access.log;
  client_body_temp_path $demo/server/body;
  proxy_temp_path $demo/server/proxy;
  fastcgi_temp_path $demo/server/fastcgi;
  uwsgi_temp_path $demo/server/uwsgi;
  scgi_temp_path $demo/server/scgi;
  types { text/xml xml; }
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port ssl;
    ssl_certificate $demo/server/cert.pem;
    ssl_certificate_key $demo/server/key.pem;
    root $demo/www;
  }
}
CONF
/usr/sbin/nginx -p "$demo/server" -e "$demo/server/error.log" -c "$demo/server/nginx.conf"
stop_server() { kill "$(cat "$demo/server/nginx.pid" 2>/dev/null)" 2>/dev/null || true; }
trap stop_server EXIT
answered=0
for _ in $(seq 50); do
  if curl -sk -o /dev/null "https://$host/update/release/v1/corvanechat.xml"; then
    answered=1
    break
  fi
  sleep 0.1
done
if [ "$answered" -ne 1 ]; then
  echo "demo: the update server never answered on https://$host (see $demo/server/error.log)" >&2
  exit 1
fi

folder=${CORVANE_DEMO_FOLDER:-$demo/install-$(date +%Y%m%d-%H%M%S)}
echo "demo: update server on https://$host, install folder $folder" >&2
echo "demo: type 'install'; later CORVANE_DEMO_FOLDER=$folder runs it again to repair or uninstall" >&2
status=0
"$build/corvane-bootstrap" -cvdir "$folder" || status=$?
echo "demo: the tool ended with exit code $status" >&2
exit "$status"
