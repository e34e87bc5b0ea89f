#!/usr/bin/env bash
# The window's paint under Wine on a private Xvfb: one paint from the kept
# static layer and with every step (median and 95th percentile), the cost of
# each step, then the idle window's CPU at its 50 ms timer over 20 s, read from
# /proc (percent of one core).
set -euo pipefail
: "${MORVEL_ROOT:?run through scripts/bench}" "${MORVEL_BENCH:?run through scripts/bench}"
cd "$MORVEL_ROOT"
exe=${MORVEL_MINGW_BUILD:-build/mingw}/bench/paint_bench.exe
[ -f "$exe" ] || { echo "paint.sh: no $exe" >&2; exit 1; }

export MORVEL_RUN=$MORVEL_BENCH/paint
mkdir -p "$MORVEL_RUN"
chmod 755 "$MORVEL_BENCH" "$MORVEL_RUN"
source scripts/lib/wine.sh
wine_start_display
trap 'wine_stop_display' EXIT
wine_make_template

wine_run_isolated "$exe"

wine_run_isolated "$exe" idle >/dev/null 2>&1 &
runner=$!
pid=
for _ in $(seq 100); do
  for p in /proc/[0-9]*; do
    if { tr '\0' ' ' <"$p/cmdline"; } 2>/dev/null | grep -q 'paint_bench.exe idle'; then pid=${p#/proc/}; break 2; fi
  done
  sleep 0.1
done
[ -n "$pid" ] || { echo "paint.sh: the idle window did not start" >&2; exit 1; }
sleep 2  # past start-up
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
before=$(ticks)
sleep 20
after=$(ticks)
echo "idle window at the 50 ms timer: $(echo "scale=1; ($after - $before) * 100 / $(getconf CLK_TCK) / 20" | bc)% of one core over 20 s"
wait "$runner"
