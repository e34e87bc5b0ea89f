#!/usr/bin/env bash
# SHA-256 throughput beside OpenSSL and coreutils on the same 256 MiB file, in
# one run: the native program with the SHA extensions and with the portable
# transform, and the 32-bit exe under Wine. Best of three runs each.
set -euo pipefail
: "${MORVEL_ROOT:?run through scripts/bench}" "${MORVEL_BENCH:?run through scripts/bench}"
cd "$MORVEL_ROOT"
data=$MORVEL_BENCH/sha256-256MiB.bin
head -c $((256 << 20)) /dev/urandom >"$data"
mb=256

declare -A secs digests
# Runs a command three times; keeps its best wall time and its digest.
run() {
  local name=$1 best="" t0 t1 t out
  shift
  for _ in 1 2 3; do
    t0=$(date +%s.%N)
    out=$("$@" 2>/dev/null)
    t1=$(date +%s.%N)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  secs[$name]=$best
  digests[$name]=$(echo "$out" | grep -o -E '[0-9a-f]{64}' | head -1)
}

# Wine: a throwaway prefix, never ~/.wine.
export MORVEL_RUN=$MORVEL_BENCH/wine
mkdir -p "$MORVEL_RUN"
source scripts/lib/wine.sh
wine_make_template
export WINEPREFIX=$MORVEL_RUN/template/prefix HOME=$MORVEL_RUN/template/home
winpath="Z:${data//\//\\}"

run openssl openssl dgst -sha256 "$data"
run sha256sum sha256sum "$data"
run ours build/host/bench/sha256_files "$data"
run ours-portable build/host/bench/sha256_files --portable "$data"
run wine wine "$MORVEL_MINGW_BUILD/bench/sha256_files.exe" "$winpath"
run wine-portable wine "$MORVEL_MINGW_BUILD/bench/sha256_files.exe" --portable "$winpath"
wineserver -k 2>/dev/null || true

reference=${digests[openssl]}
agree=yes
for name in "${!digests[@]}"; do [ "${digests[$name]}" = "$reference" ] || { agree=no; echo "digest of $name differs: ${digests[$name]}"; }; done
echo "digests agree: $agree ($reference)"

rate() { echo "scale=0; $mb / ${secs[$1]}" | bc -l; }
ratio() { echo "scale=2; ${secs[$2]} / ${secs[$1]}" | bc -l; }
printf '%-18s %8s MB/s\n' openssl "$(rate openssl)" sha256sum "$(rate sha256sum)"
for name in ours ours-portable wine wine-portable; do printf '%-18s %8s MB/s\n' "$name" "$(rate "$name")"; done
sha=$(grep -q -w sha_ni /proc/cpuinfo && echo yes || echo no)
echo "CPU has SHA extensions: $sha"
echo "ours / openssl:              $(ratio ours openssl)x   (target >= 0.8 with SHA extensions)"
echo "wine / openssl:              $(ratio wine openssl)x   ($MORVEL_WINE_SUMMARY)"
echo "ours-portable / sha256sum:   $(ratio ours-portable sha256sum)x   (target >= 0.9)"
echo "wine-portable / sha256sum:   $(ratio wine-portable sha256sum)x"
[ "$agree" = yes ]
