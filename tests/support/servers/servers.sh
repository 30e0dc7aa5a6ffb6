#!/usr/bin/env bash
# Test servers on loopback, shared by every test and benchmark that needs a download server:
#
#   servers.sh start STATE_DIR   starts nginx and the fault server on free ports
#   servers.sh stop STATE_DIR    stops them again
#   servers.sh start-vendor STATE_DIR / stop-vendor STATE_DIR
#                                https://localhost/ on 127.0.0.1:443 (needs root), the vendor's
#                                own site, serving the same www folder with the same authority
#
# STATE_DIR/servers.env then holds http_port, tls_port, untrusted_tls_port and fault_port.
# Both servers serve STATE_DIR/www; a test puts its files below www/<scenario>/, writes fault
# rules to rules/<scenario>.json (see fault_server.py) and reads what was asked for from
# logs/nginx-access.log and logs/<scenario>.log. tls/ca.der is the authority behind tls_port.
# CTest starts them once per run as the fixture "test_servers"; tests/support/test_servers.h
# gives C++ tests the addresses and logs. Safe to run twice; stop kills only what start started.
# For the write-failure paths of downloads, STATE_DIR/full/ holds the partial and part file names
# of a destination "disk.zip" as links to /dev/full, where every write fails for lack of space.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
action=${1:?usage: servers.sh start|stop STATE_DIR}
state=${2:?usage: servers.sh start|stop STATE_DIR}
mkdir -p "$state"
state=$(cd "$state" && pwd)
nginx=$(command -v nginx || echo /usr/sbin/nginx)  # sbin may be missing from PATH

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

wait_for_port() {
  local port=$1 i
  for i in $(seq 100); do
    if python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null; then
      return 0
    fi
    sleep 0.05
  done
  return 1
}

stop_pid_file() {
  local file=$1 pid i
  [ -f "$file" ] || return 0
  pid=$(cat "$file")
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null || true
    for i in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$file"
}

make_certificates() {
  local tls=$state/tls
  [ -f "$tls/untrusted-server.pem" ] && return 0
  mkdir -p "$tls"
  local name
  for name in ca untrusted-ca; do
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Orvalo Test $name" \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
      -keyout "$tls/$name.key" -out "$tls/$name.pem" 2>/dev/null
  done
  openssl x509 -in "$tls/ca.pem" -outform DER -out "$tls/ca.der"
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' \
    >"$tls/server.ext"
  for name in server untrusted-server; do
    local ca=ca
    [ "$name" = untrusted-server ] && ca=untrusted-ca
    openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
      -keyout "$tls/$name.key" -out "$tls/$name.csr" 2>/dev/null
    openssl x509 -req -in "$tls/$name.csr" -CA "$tls/$ca.pem" -CAkey "$tls/$ca.key" \
      -CAcreateserial -days 3650 -extfile "$tls/server.ext" -out "$tls/$name.pem" 2>/dev/null
  done
}

start_nginx() {
  local attempt http tls untrusted
  mkdir -p "$state/nginx/temp"
  for attempt in 1 2 3; do
    http=$(free_port); tls=$(free_port); untrusted=$(free_port)
    sed -e "s|@STATE@|$state|g" -e "s|@HTTP_PORT@|$http|" -e "s|@TLS_PORT@|$tls|" \
      -e "s|@UNTRUSTED_TLS_PORT@|$untrusted|" "$here/nginx.conf.in" >"$state/nginx/nginx.conf"
    setsid "$nginx" -p "$state/nginx" -c "$state/nginx/nginx.conf" \
      </dev/null >>"$state/logs/nginx.out" 2>&1 &
    echo $! >"$state/nginx.pid"
    # Another program may have taken a port between the choice and the start: try again.
    if wait_for_port "$http" && wait_for_port "$tls" && wait_for_port "$untrusted"; then
      printf 'http_port=%s\ntls_port=%s\nuntrusted_tls_port=%s\n' "$http" "$tls" "$untrusted" \
        >"$state/nginx.env"
      return 0
    fi
    stop_pid_file "$state/nginx.pid"
  done
  echo "nginx did not start, see $state/logs/nginx-error.log" >&2
  return 1
}

start_fault_server() {
  rm -f "$state/fault.port"
  setsid python3 "$here/fault_server.py" --root "$state/www" --rules "$state/rules" \
    --logs "$state/logs" --port-file "$state/fault.port" \
    </dev/null >>"$state/logs/fault.out" 2>&1 &
  echo $! >"$state/fault.pid"
  local i
  for i in $(seq 100); do [ -s "$state/fault.port" ] && break; sleep 0.05; done
  if [ ! -s "$state/fault.port" ]; then
    echo "fault server did not start, see $state/logs/fault.out" >&2
    return 1
  fi
}

port_in_use() {
  python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $1), 1)" 2>/dev/null
}

# Port 443 is one per machine: another run may hold it for a while, so wait for it first.
start_vendor_nginx() {
  local i
  for i in $(seq 600); do port_in_use 443 || break; sleep 0.1; done
  if port_in_use 443; then
    echo "port 443 of 127.0.0.1 stays busy" >&2
    return 1
  fi
  mkdir -p "$state/vendor-nginx/temp" "$state/logs" "$state/www"
  sed -e "s|@STATE@|$state|g" "$here/vendor-nginx.conf.in" >"$state/vendor-nginx/nginx.conf"
  setsid "$nginx" -p "$state/vendor-nginx" -c "$state/vendor-nginx/nginx.conf" \
    </dev/null >>"$state/logs/vendor-nginx.out" 2>&1 &
  echo $! >"$state/vendor-nginx.pid"
  if wait_for_port 443 && kill -0 "$(cat "$state/vendor-nginx.pid")" 2>/dev/null; then return 0; fi
  stop_pid_file "$state/vendor-nginx.pid"
  echo "nginx on port 443 did not start, see $state/logs/vendor-nginx-error.log" >&2
  return 1
}

case $action in
  start)
    "$0" stop "$state"
    mkdir -p "$state/www" "$state/rules" "$state/logs"
    make_certificates
    mkdir -p "$state/full"
    for name in disk.zip.part disk.zip.parts; do ln -sfn /dev/full "$state/full/$name"; done
    start_nginx
    start_fault_server
    { cat "$state/nginx.env"; echo "fault_port=$(cat "$state/fault.port")"; } >"$state/servers.env.tmp"
    mv "$state/servers.env.tmp" "$state/servers.env"
    ;;
  start-vendor)
    stop_pid_file "$state/vendor-nginx.pid"
    make_certificates
    start_vendor_nginx
    ;;
  stop-vendor)
    stop_pid_file "$state/vendor-nginx.pid"
    ;;
  stop)
    stop_pid_file "$state/fault.pid"
    stop_pid_file "$state/nginx.pid"
    rm -f "$state/servers.env"
    ;;
  *)
    echo "usage: servers.sh start|stop|start-vendor|stop-vendor STATE_DIR" >&2
    exit 2
    ;;
esac
