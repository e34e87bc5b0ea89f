#!/usr/bin/env bash
# The window's paint under Wine on a private Xvfb: a paint that copies the kept
# frame next to one that composes (interleaved pairs, medians and spreads), a
# paint with every step and the cost of each step; then the CPU of an idle
# window at its 50 ms timer, over 20 s from /proc, in 1-s samples: the
# launcher's window, the same window composing at every tick (its peer), and a
# bare window that draws nothing (the floor). Each beside the Xvfb it draws on.
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

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
wine_run_isolated "$exe"

hz=$(getconf CLK_TCK)
# User and system ticks of the given processes; gone ones count as 0.
ticks() {
  local p sum=0 t
  for p in "$@"; do
    t=$(awk '{print $14 + $15}' "/proc/$p/stat" 2>/dev/null) || t=0
    sum=$((sum + ${t:-0}))
  done
  echo "$sum"
}
# The processes of one throwaway prefix (the program, wineserver, Wine's services).
prefix_pids() { grep -lzxF "WINEPREFIX=$1" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 || true; }
# Median and range of per-second percentages, then the mean over the whole span.
summary() {
  sort -n | awk -v total="$1" '{v[NR] = $1} END {
    printf "median %4.1f%%  range %.0f-%.0f%%  mean over 20 s %.1f%%", v[int((NR + 1) / 2)], v[1], v[NR], total }'
}

idle() {
  local mode=$1 runner pid= dir= i
  wine_run_isolated "$exe" "$mode" >/dev/null 2>&1 &
  runner=$!
  for i in $(seq 100); do
    for p in /proc/[0-9]*; do
      if { tr '\0' ' ' <"$p/cmdline"; } 2>/dev/null | grep -q "paint_bench.exe $mode *$"; then pid=${p#/proc/}; break 2; fi
    done
    sleep 0.1
  done
  [ -n "$pid" ] || { echo "paint.sh: the $mode window did not start" >&2; return 1; }
  dir=$(tr '\0' '\n' <"/proc/$pid/environ" | sed -n 's/^WINEPREFIX=//p')
  sleep 3  # past start-up
  local others xvfb=$MORVEL_DISPLAY_PID
  others=$(prefix_pids "$dir" | grep -vx "$pid" | tr '\n' ' ')
  local a b c a0 b0 c0 ta tb tc
  read -r a0 b0 c0 <<<"$(ticks "$pid") $(ticks $others) $(ticks "$xvfb")"
  ta=$a0 tb=$b0 tc=$c0
  rm -f "$MORVEL_RUN/$mode".*
  for i in $(seq 20); do
    sleep 1
    read -r a b c <<<"$(ticks "$pid") $(ticks $others) $(ticks "$xvfb")"
    echo "$(( (a - ta) * 100 / hz ))" >>"$MORVEL_RUN/$mode.window"
    echo "$(( (b - tb) * 100 / hz ))" >>"$MORVEL_RUN/$mode.others"
    echo "$(( (c - tc) * 100 / hz ))" >>"$MORVEL_RUN/$mode.xvfb"
    ta=$a tb=$b tc=$c
  done
  echo "$mode (% of one core, 1-s samples):"
  echo "  window process       $(summary "$(echo "scale=1; ($a - $a0) * 100 / $hz / 20" | bc)" <"$MORVEL_RUN/$mode.window")"
  echo "  wineserver, services $(summary "$(echo "scale=1; ($b - $b0) * 100 / $hz / 20" | bc)" <"$MORVEL_RUN/$mode.others")"
  echo "  Xvfb                 $(summary "$(echo "scale=1; ($c - $c0) * 100 / $hz / 20" | bc)" <"$MORVEL_RUN/$mode.xvfb")"
  wait "$runner" || true
}

echo "idle window at the 50 ms timer, 20 s each"
for mode in idle idle-composing idle-floor; do idle "$mode"; done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
