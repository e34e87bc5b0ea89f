#!/usr/bin/env bash
# The client download on a generated 512 MiB client of mixed file sizes,
# published with morvel-publish and served by nginx on loopback over TLS 1.2:
#  1. a fresh install by UpdateClientFiles under Wine (the 32-bit bench program,
#     test CA trusted in a throwaway prefix) beside curl fetching the same
#     bodies piped through gzip -dc and sha256sum: all bodies as one stream
#     through one connection (no files written, the fastest the host and the
#     inflater allow), and one pipeline per file checked against its digest;
#  2. the check pass of the installed client with nothing to fetch beside
#     sha256sum -c on the same files.
# Best of two runs each; prints throughputs, ratios and the bench program's
# peak memory.
set -euo pipefail
: "${MORVEL_ROOT:?run through scripts/bench}" "${MORVEL_BENCH:?run through scripts/bench}"
cd "$MORVEL_ROOT"
tool=${MORVEL_HOST_BUILD:-build/host}/tools/publish/morvel-publish
bench_exe=${MORVEL_MINGW_BUILD:-build/mingw}/bench/download_bench.exe
ca_tool=${MORVEL_MINGW_BUILD:-build/mingw}/tests/support/trust_test_ca.exe
for f in "$tool" "$bench_exe" "$ca_tool"; do [ -f "$f" ] || { echo "download.sh: no $f" >&2; exit 1; }; done

run=$MORVEL_BENCH/download
src=$run/src
www=$run/www
mkdir -p "$run"
chmod 755 "$MORVEL_BENCH" "$run"

# --- The client: 512 MiB in 4 x 64 MiB, 16 x 8 MiB, 64 x 1 MiB, 7 x 4 MiB,
# 512 x 64 KiB and 1024 x 4 KiB files; random, text-like and half-and-half.
python3 - "$src" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(512)
words = [b"sprite", b"creature", b"outfit", b"item", b"map", b"Morvel", b"Global", b"light", b"speed",
         b"name", b"=", b"{", b"}", b"\n", b"\t"]
text = b" ".join(rng.choice(words) + str(rng.randrange(100000)).encode() for _ in range(200000))

def content(kind, n, seed):
    if kind == "random":
        return os.urandom(n)
    start = seed * 7919 % len(text)
    rolled = text[start:] + text[:start]
    if kind == "text":
        return (rolled * (n // len(rolled) + 1))[:n]
    parts, i = [], 0
    while len(parts) * 4096 < n:
        parts.append(os.urandom(4096) if i % 2 == 0 else rolled[(i * 4096) % (len(rolled) - 4096):][:4096])
        i += 1
    return b"".join(parts)[:n]

kinds = ["random", "text", "half"]
plan = [(4, 64 << 20, "data/big"), (16, 8 << 20, "data/medium"), (64, 1 << 20, "modules"),
        (7, 4 << 20, "sounds"), (512, 64 << 10, "things"), (1024, 4 << 10, "ui")]
n = 0
for count, size, folder in plan:
    for i in range(count):
        path = os.path.join(root, "otc", folder, "d%02d" % (i % 16), "f%04d.bin" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content(kinds[n % 3], size, n))
        n += 1
PY
"$tool" publish --out "$www" --otc "$src/otc" --level 6 >/dev/null
manifest=$www/arquivos/launcher/manifest.txt
files=$(grep -c -P '^f\t' "$manifest")
size_bytes=$(awk -F'\t' '$1 == "f" { s += $4 } END { printf "%d", s }' "$manifest")
body_bytes=$(awk -F'\t' '$1 == "f" { s += $5 } END { printf "%d", s }' "$manifest")
echo "client: $files files, $((size_bytes >> 20)) MiB, bodies $((body_bytes >> 20)) MiB"

# --- nginx (and the fault server, unused) on loopback, with the test certificate.
bash tests/support/services.sh start "$run" >/dev/null
export MORVEL_RUN=$run
source scripts/lib/wine.sh
cleanup() {
  WINEPREFIX=$run/template/prefix HOME=$run/template/home wineserver -k 2>/dev/null || true
  wine_stop_display
  bash tests/support/services.sh stop "$run" >/dev/null 2>&1 || true
}
trap cleanup EXIT
set -a; source "$run/services.env"; set +a
wine_start_display
wine_make_template "$ca_tool" "Z:${run//\//\\}\\tls\\ca.der"
export WINEPREFIX=$run/template/prefix HOME=$run/template/home
users=$WINEPREFIX/drive_c/users
install_dir="$users/$(ls "$users" | grep -v -x Public | head -1)/AppData/Local/Morvel Global"
win_manifest="Z:${manifest//\//\\}"

# run_bench OUT: the bench program on the manifest; its output goes to OUT, and
# the peak resident size of its process (VmHWM, read from outside while it runs;
# the wine launcher execs into the program, so the pid is the program's) is
# appended as "vmhwm_kib N".
run_bench() {
  wine "$bench_exe" "$win_manifest" >"$1" &
  local pid=$! hwm=0 value status
  while kill -0 "$pid" 2>/dev/null; do
    value=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$value" ] && hwm=$value
    sleep 0.05
  done
  wait "$pid" && status=0 || status=$?
  echo "vmhwm_kib $hwm" >>"$1"
  return "$status"
}

now() { date +%s.%N; }
best() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
field() { tr -d '\r' <"$2" | awk -v k="$1" '$1 == k { print $2 }'; }  # the Win32 console ends lines with CR LF

# Every body in manifest order, as one stream of concatenated gzip members.
urls=$run/urls.txt
awk -F'\t' -v p="$MORVEL_NGINX_PORT" '$1 == "f" { printf "url = \"https://localhost:%s/arquivos/launcher/files/%s.dl\"\n", p, $3 }' \
  "$manifest" >"$urls"
cat "$www/arquivos/launcher/files/"*.dl >/dev/null  # nginx reads from the page cache in every run

# One request and one verified digest per file, as the launcher does it.
curl_each() {
  local sha size dl path bad=0
  while IFS=$'\t' read -r kind _ sha size dl _ path; do
    [ "$kind" = f ] || continue
    got=$(curl -s -f --cacert "$run/tls/ca.pem" "https://localhost:$MORVEL_NGINX_PORT/arquivos/launcher/files/$sha.dl" |
      gzip -dc | sha256sum | cut -d' ' -f1)
    [ "$got" = "$sha" ] || bad=$((bad + 1))
  done <"$manifest"
  return "$bad"
}

ours_install="" curl_time="" each_time="" peak_ws=0 peak_hwm=0
for round in 1 2; do
  rm -rf "$install_dir"
  run_bench "$run/install-$round.txt" || true
  [ "$(field result "$run/install-$round.txt")" = ok ] || { cat "$run/install-$round.txt"; exit 1; }
  ours_install=$(best "$ours_install" "$(field seconds "$run/install-$round.txt")")
  ws=$(field peak_working_set_kib "$run/install-$round.txt"); hwm=$(field vmhwm_kib "$run/install-$round.txt")
  [ "$ws" -gt "$peak_ws" ] && peak_ws=$ws
  [ "$hwm" -gt "$peak_hwm" ] && peak_hwm=$hwm

  t0=$(now)
  curl_digest=$(curl -s -f --cacert "$run/tls/ca.pem" -K "$urls" | gzip -dc | sha256sum | cut -d' ' -f1)
  t1=$(now)
  curl_time=$(best "$curl_time" "$(echo "$t1 - $t0" | bc -l)")

  t0=$(now)
  curl_each || { echo "curl per file: digests differ" >&2; exit 1; }
  t1=$(now)
  each_time=$(best "$each_time" "$(echo "$t1 - $t0" | bc -l)")
done
# The same bytes, in the same order, as the launcher installed them.
ours_digest=$(awk -F'\t' '$1 == "f" { print $7 }' "$manifest" | (cd "$install_dir/Morvel Global" && tr '\n' '\0' | xargs -0 cat) |
  sha256sum | cut -d' ' -f1)

# --- The check pass: everything installed, nothing to fetch.
sums=$run/sums.txt
awk -F'\t' '$1 == "f" { printf "%s  %s\n", $3, $7 }' "$manifest" >"$sums"
ours_check="" sums_check=""
for round in 1 2; do
  run_bench "$run/check-$round.txt" || true
  [ "$(field result "$run/check-$round.txt")" = ok ] || { cat "$run/check-$round.txt"; exit 1; }
  ours_check=$(best "$ours_check" "$(field seconds "$run/check-$round.txt")")
  ws=$(field peak_working_set_kib "$run/check-$round.txt"); hwm=$(field vmhwm_kib "$run/check-$round.txt")
  [ "$ws" -gt "$peak_ws" ] && peak_ws=$ws
  [ "$hwm" -gt "$peak_hwm" ] && peak_hwm=$hwm

  t0=$(now)
  (cd "$install_dir/Morvel Global" && sha256sum --quiet -c "$sums")
  t1=$(now)
  sums_check=$(best "$sums_check" "$(echo "$t1 - $t0" | bc -l)")
done

mib=$(echo "$size_bytes / 1048576" | bc -l)
rate() { printf '%.0f' "$(echo "$mib / $1" | bc -l)"; }
printf 'install, UpdateClientFiles under Wine: %6.2f s  %5s MB/s\n' "$ours_install" "$(rate "$ours_install")"
printf 'curl | gzip -dc | sha256sum, one stream of all bodies:\n'
printf '                                        %6.2f s  %5s MB/s\n' "$curl_time" "$(rate "$curl_time")"
printf 'the same, one pipeline per file:        %6.2f s  %5s MB/s\n' "$each_time" "$(rate "$each_time")"
printf 'install ratio (ours / curl stream):     %.2fx   (target >= 0.8)\n' "$(echo "$curl_time / $ours_install" | bc -l)"
printf 'install ratio (ours / curl per file):   %.2fx\n' "$(echo "$each_time / $ours_install" | bc -l)"
echo "content digests agree: $([ "$ours_digest" = "$curl_digest" ] && echo yes || echo "NO ($ours_digest vs $curl_digest)")"
printf 'check pass under Wine:                  %6.2f s  %5s MB/s\n' "$ours_check" "$(rate "$ours_check")"
printf 'sha256sum -c:                           %6.2f s  %5s MB/s\n' "$sums_check" "$(rate "$sums_check")"
printf 'check speed-up (sha256sum / ours):      %.2fx   (target >= 1.5)\n' "$(echo "$sums_check / $ours_check" | bc -l)"
echo "peak memory of the bench program: working set $((peak_ws / 1024)) MiB (GetProcessMemoryInfo)," \
  "VmHWM $((peak_hwm / 1024)) MiB (/proc of its process); limit 32 MiB"
[ "$ours_digest" = "$curl_digest" ]
