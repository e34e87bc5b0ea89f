#!/usr/bin/env bash
# services.sh start|stop [RUNDIR]: the test servers on loopback for the Win32
# tests. RUNDIR defaults to $MORVEL_RUN.
#
# start: nginx with server/nginx.conf (served root RUNDIR/www; published trees
# live at RUNDIR/www/arquivos/launcher/) and tests/support/fault_server.py over
# the same root, both on free ports of 127.0.0.1 with the test certificate of
# RUNDIR/tls (made here if missing). Waits until both answer, then writes
# RUNDIR/services.env:
#   MORVEL_TEST_HOST     host name the tests connect to (localhost)
#   MORVEL_NGINX_PORT    nginx's HTTPS port
#   MORVEL_FAULT_PORT    the fault server's HTTPS port (TLS 1.2)
#   MORVEL_FAULT_TLS11_PORT, MORVEL_FAULT_TLS13_PORT  the same server speaking
#                        only TLS 1.0/1.1, or only TLS 1.3
#   MORVEL_WWW           served root (unix path), MORVEL_WWW_WIN as a Z:\ path
#   MORVEL_FAULT_DIR     the fault server's rules and request log, + _WIN
#   MORVEL_TLS_DIR       ca.pem and friends
# stop: ends both (bounded waits, then SIGKILL) and leaves no process behind.
#
# MORVEL_NGINX_FIXED_PORT=N puts nginx on that port (the loopback launcher
# builds have theirs built in); MORVEL_NGINX_ONLY=1 leaves the fault server out.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
command=${1:?usage: services.sh start|stop [RUNDIR]}
run=${2:-${MORVEL_RUN:?services.sh: no RUNDIR and no MORVEL_RUN}}
run=$(cd "$run" && pwd)
state=$run/services

win_path() { printf 'Z:%s' "${1//\//\\}"; }

# Waits (up to $2 tenths of a second) for a pid to end; true when it did.
wait_gone() {
  local pid=$1 tenths=$2
  for _ in $(seq "$tenths"); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
  ! kill -0 "$pid" 2>/dev/null
}

stop_pid_file() {
  local file=$1 pid
  [ -f "$file" ] || return 0
  pid=$(cat "$file" 2>/dev/null || true)
  rm -f "$file"
  [[ "$pid" =~ ^[0-9]+$ ]] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  wait_gone "$pid" 50 || { kill -KILL "$pid" 2>/dev/null; wait_gone "$pid" 20 || true; }
}

children_of() {
  local status
  for status in /proc/[0-9]*/status; do
    grep -qx "PPid:[[:space:]]*$1" "$status" 2>/dev/null && basename "$(dirname "$status")"
  done
  return 0
}

stop_all() {
  # nginx first: its master takes its workers down with it on TERM.
  if [ -f "$state/nginx.pid" ]; then
    local master
    master=$(cat "$state/nginx.pid" 2>/dev/null || true)
    local workers=""
    [[ "$master" =~ ^[0-9]+$ ]] && workers=$(children_of "$master")
    stop_pid_file "$state/nginx.pid"
    for w in $workers; do kill -KILL "$w" 2>/dev/null || true; done
  fi
  stop_pid_file "$state/fault.pid"
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

# True once an HTTPS request to the port gets any HTTP answer.
answers() {
  curl -s -o /dev/null --max-time 2 --cacert "$run/tls/ca.pem" "https://localhost:$1/" 2>/dev/null
}

wait_answer() {
  local port=$1 pid_file=$2
  for _ in $(seq 100); do
    answers "$port" && return 0
    [ -f "$pid_file" ] && ! kill -0 "$(cat "$pid_file")" 2>/dev/null && return 1
    sleep 0.1
  done
  return 1
}

start_nginx() {
  local port attempt
  mkdir -p "$state/nginx/logs" "$state/nginx/temp"
  local attempts=5
  [ -n "${MORVEL_NGINX_FIXED_PORT:-}" ] && attempts=1
  for attempt in $(seq "$attempts"); do
    port=${MORVEL_NGINX_FIXED_PORT:-$(free_port)}
    sed -e "s|@LISTEN@|127.0.0.1:$port|" -e "s|@SERVER_NAME@|localhost|" -e "s|@ROOT@|$run/www|" \
      -e "s|@CERT@|$run/tls/server.pem|" -e "s|@KEY@|$run/tls/server.key|" \
      -e "s|@USER@|$(id -un)|" -e "s|@PID@|$state/nginx.pid|" \
      -e "s|@LOGS@|$state/nginx/logs|" -e "s|@TEMP@|$state/nginx/temp|" \
      -e "s|^worker_processes auto;|worker_processes 1;|" \
      "$root/server/nginx.conf" >"$state/nginx.conf"
    if nginx -q -p "$state/nginx" -c "$state/nginx.conf" -e "$state/nginx/logs/error.log" \
      >>"$state/nginx/logs/start.log" 2>&1; then
      if wait_answer "$port" "$state/nginx.pid"; then
        echo "$port"
        return 0
      fi
      stop_pid_file "$state/nginx.pid"
    fi
    echo "services.sh: nginx did not start on port $port (attempt $attempt)" >&2
  done
  cat "$state/nginx/logs/error.log" "$state/nginx/logs/start.log" >&2 2>/dev/null || true
  return 1
}

start_fault() {
  local port_file=$state/fault.port
  rm -f "$port_file"
  mkdir -p "$run/fault"
  # setsid: its own session, so nothing ties it to the caller's terminal.
  setsid python3 "$here/fault_server.py" --root "$run/www" --fault-dir "$run/fault" \
    --cert "$run/tls/server.pem" --key "$run/tls/server.key" \
    --port-file "$port_file" --pid-file "$state/fault.pid" --lifetime 7200 \
    </dev/null >"$state/fault.log" 2>&1 &
  for _ in $(seq 100); do
    [ -s "$port_file" ] && break
    sleep 0.1
  done
  [ -s "$port_file" ] || { echo "services.sh: the fault server did not start" >&2; cat "$state/fault.log" >&2; return 1; }
  local port
  port=$(awk '$1 == "main" { print $2 }' "$port_file")
  wait_answer "$port" "$state/fault.pid" || { echo "services.sh: the fault server does not answer" >&2; return 1; }
  awk '{ print $2 }' "$port_file" | tr '\n' ' '  # main tls11 tls13
}

case $command in
  start)
    stop_all
    mkdir -p "$state" "$run/www/arquivos/launcher/files" "$run/fault"
    bash "$here/make_tls.sh" "$run/tls"
    nginx_port=$(start_nginx) || { stop_all; exit 1; }
    fault_ports="0 0 0"
    if [ -z "${MORVEL_NGINX_ONLY:-}" ]; then fault_ports=$(start_fault) || { stop_all; exit 1; }; fi
    read -r fault_port fault_tls11_port fault_tls13_port <<<"$fault_ports"
    # Single-quoted: the file is sourced, and the Z:\ paths hold backslashes.
    {
      echo "MORVEL_TEST_HOST='localhost'"
      echo "MORVEL_NGINX_PORT='$nginx_port'"
      echo "MORVEL_FAULT_PORT='$fault_port'"
      echo "MORVEL_FAULT_TLS11_PORT='$fault_tls11_port'"
      echo "MORVEL_FAULT_TLS13_PORT='$fault_tls13_port'"
      echo "MORVEL_WWW='$run/www'"
      echo "MORVEL_WWW_WIN='$(win_path "$run/www")'"
      echo "MORVEL_FAULT_DIR='$run/fault'"
      echo "MORVEL_FAULT_DIR_WIN='$(win_path "$run/fault")'"
      echo "MORVEL_TLS_DIR='$run/tls'"
    } >"$run/services.env.tmp"
    mv "$run/services.env.tmp" "$run/services.env"
    ;;
  stop)
    stop_all
    rm -f "$run/services.env"
    ;;
  *)
    echo "usage: services.sh start|stop [RUNDIR]" >&2
    exit 2
    ;;
esac
