#!/usr/bin/env bash
# download_relay_tests.hook.sh up|down PREFIXDIR: puts bench/delay_relay.py, 25 ms
# each way, in front of the fault server while the test program runs; the
# program reads the relay's port from PREFIXDIR/relay.port (MORVEL_TEST_SCRATCH).
set -euo pipefail
action=${1:?usage: download_relay_tests.hook.sh up|down PREFIXDIR}
dir=${2:?usage: download_relay_tests.hook.sh up|down PREFIXDIR}
root=$(cd "$(dirname "$0")/../.." && pwd)

case $action in
  up)
    : "${MORVEL_FAULT_PORT:?hook: no fault server}"
    setsid python3 "$root/bench/delay_relay.py" --target "$MORVEL_FAULT_PORT" --delay-ms 25 \
      --port-file "$dir/relay.port" --lifetime 900 </dev/null >"$dir/relay.log" 2>&1 &
    echo $! >"$dir/relay.pid"
    for _ in $(seq 100); do [ -s "$dir/relay.port" ] && exit 0; sleep 0.1; done
    cat "$dir/relay.log" >&2
    echo "hook: the relay did not start" >&2
    exit 1
    ;;
  down)
    if [ -f "$dir/relay.pid" ]; then kill "$(cat "$dir/relay.pid")" 2>/dev/null || true; fi
    ;;
  *) echo "hook: unknown action $action" >&2; exit 2 ;;
esac
