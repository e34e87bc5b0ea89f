#!/usr/bin/env bash
# The window's paint under Wine on a private Xvfb: a paint that copies the kept
# frame next to one that composes (interleaved pairs, medians and spreads), a
# paint with every step and the cost of each step; then the CPU of an idle
# window at its 50 ms timer, over 20 s from /proc, in 1-s samples: the
# launcher's window, the same window composing at every tick (its peer), and a
# bare window that draws nothing (the floor). Each beside the Xvfb it draws on.
# All of it at 100% (96 DPI) and at 150% (144 DPI, the prefix's LogPixels).
set -euo pipefail
: "${MORVEL_ROOT:?run through scripts/bench}" "${MORVEL_BENCH:?run through scripts/bench}"
cd "$MORVEL_ROOT"
exe=${MORVEL_MINGW_BUILD:-build/mingw}/bench/paint_bench.exe
[ -f "$exe" ] || { echo "paint.sh: no $exe" >&2; exit 1; }

chmod 755 "$MORVEL_BENCH"
source scripts/lib/wine.sh
wine_start_display
trap 'wine_stop_display' EXIT

hz=$(getconf CLK_TCK)
# User and system ticks of the given processes, summed; gone ones count as 0.
ticks() {
  local files=() p
  for p in "$@"; do [ -r "/proc/$p/stat" ] && files+=("/proc/$p/stat"); done
  [ ${#files[@]} -eq 0 ] && { echo 0; return; }
  awk '{ s += $14 + $15 } END { print s + 0 }' "${files[@]}" 2>/dev/null || echo 0
}
# The processes of one throwaway prefix (the program, wineserver, Wine's services).
prefix_pids() { grep -lzxF "WINEPREFIX=$1" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 || true; }
# Median and range of the per-second percentages, then the whole span's mean.
summary() {
  sort -n | awk -v total="$1" '{v[NR] = $1} END {
    printf "median %4.1f%%  range %.1f-%.1f%%  mean %.1f%%", v[int((NR + 1) / 2)], v[1], v[NR], total }'
}

idle() {
  local mode=$1 runner pid= dir= i p
  wine_run_isolated "$exe" "$mode" >/dev/null 2>&1 &
  runner=$!
  for i in $(seq 300); do
    for p in /proc/[0-9]*; do
      if { tr '\0' ' ' <"$p/cmdline"; } 2>/dev/null | grep -q "paint_bench.exe $mode *$"; then pid=${p#/proc/}; break 2; fi
    done
    sleep 0.1
  done
  [ -n "$pid" ] || { echo "paint.sh: the $mode window did not start" >&2; return 1; }
  dir=$(tr '\0' '\n' <"/proc/$pid/environ" | sed -n 's/^WINEPREFIX=//p')
  sleep 5  # past start-up
  local others xvfb=$MORVEL_DISPLAY_PID start now last a b c a0 b0 c0 ta tb tc
  others=$(prefix_pids "$dir" | grep -vx "$pid" | tr '\n' ' ')
  rm -f "$MORVEL_RUN/$mode".*
  # shellcheck disable=SC2086
  read -r start a0 b0 c0 <<<"$(cut -d' ' -f1 /proc/uptime) $(ticks "$pid") $(ticks $others) $(ticks "$xvfb")"
  last=$start ta=$a0 tb=$b0 tc=$c0
  for i in $(seq 20); do
    sleep 1
    # shellcheck disable=SC2086
    read -r now a b c <<<"$(cut -d' ' -f1 /proc/uptime) $(ticks "$pid") $(ticks $others) $(ticks "$xvfb")"
    awk -v d="$((a - ta))" -v t="$now" -v l="$last" -v hz="$hz" 'BEGIN { print d * 100 / hz / (t - l) }' >>"$MORVEL_RUN/$mode.window"
    awk -v d="$((b - tb))" -v t="$now" -v l="$last" -v hz="$hz" 'BEGIN { print d * 100 / hz / (t - l) }' >>"$MORVEL_RUN/$mode.others"
    awk -v d="$((c - tc))" -v t="$now" -v l="$last" -v hz="$hz" 'BEGIN { print d * 100 / hz / (t - l) }' >>"$MORVEL_RUN/$mode.xvfb"
    last=$now ta=$a tb=$b tc=$c
  done
  mean() { awk -v d="$1" -v t="$now" -v s="$start" -v hz="$hz" 'BEGIN { print d * 100 / hz / (t - s) }'; }
  echo "$mode (% of one core, 20 samples of about 1 s):"
  echo "  window process       $(summary "$(mean $((a - a0)))" <"$MORVEL_RUN/$mode.window")"
  echo "  wineserver, services $(summary "$(mean $((b - b0)))" <"$MORVEL_RUN/$mode.others")"
  echo "  Xvfb                 $(summary "$(mean $((c - c0)))" <"$MORVEL_RUN/$mode.xvfb")"
  kill "$pid" 2>/dev/null || true  # the program would run on for a while yet
  wait "$runner" || true
}

for dpi in 96 144; do
  echo "--- at $((dpi * 100 / 96))% ($dpi DPI)"
  export MORVEL_RUN=$MORVEL_BENCH/paint-$dpi
  mkdir -p "$MORVEL_RUN"
  chmod 755 "$MORVEL_RUN"
  wine_make_template
  bash tests/support/set_dpi.sh "$MORVEL_RUN/template" "$dpi"
  echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
  wine_run_isolated "$exe"
  echo "idle window at the 50 ms timer, 20 s each"
  for mode in idle idle-composing idle-floor; do idle "$mode"; done
  echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
done
