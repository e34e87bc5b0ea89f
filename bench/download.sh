#!/usr/bin/env bash
# The client download on a generated 512 MiB client of mixed file sizes,
# published with morvel-publish and served by nginx on loopback over TLS 1.2:
#  1. the launcher's fresh install (UpdateClientFiles in the 32-bit bench program
#     under Wine, test CA trusted in a throwaway prefix) interleaved with the
#     floor of its design (bench/download_floor.cpp: GET and discard, then
#     inflate, SHA-256, the ".part" files and the moves added one at a time, each
#     in one process over one connection), and with curl | gzip -dc | sha256sum
#     of all bodies as one stream, as context;
#  2. the check pass of the installed client with nothing to fetch, both ways:
#     "Jogar"'s (the record of verified files vouches for every file) and
#     "Verificar arquivos"' (every file hashed), interleaved with the floor of
#     the full check (bench/check_floor.cpp: the same opens and reads, and the
#     hashing, under Wine, nothing else) and openssl dgst -sha256 of the same
#     files (natively: the floor and openssl apart are Wine's cost), and with
#     sha256sum -c (context);
#  3. the install through bench/delay_relay.py, which adds a fixed delay each way
#     on loopback (25 and 75 ms: 50 and 150 ms round trips), each paired with
#     the same install through the relay with no delay, for the launcher's
#     order (several body requests under way) and for the sequential one (the
#     bench program with one request in flight), each with packs and without
#     (the bench program's "nopacks"); ratio delayed / undelayed per pair, and
#     what the delay added per request.
# Then part 3 again on a second client made mostly of small files (600 files
# of 1-200 KiB around three of 16 MiB): MORVEL_BENCH_DOWNLOAD_CLIENT ("mixed",
# or "small") runs only one of them, with all its parts.
# Every run is preceded by sync and a short pause; pairs alternate which side
# runs first. Prints medians with min-max and the ratios per pair.
# MORVEL_BENCH_PAIRS (5) and MORVEL_BENCH_RELAY_PAIRS (3) set the pair counts;
# MORVEL_BENCH_DOWNLOAD_PARTS ("install check relay") picks the parts to run;
# MORVEL_BENCH_RELAY_DELAYS ("25 75", ms each way) and MORVEL_BENCH_RELAY_ORDERS
# ("launcher nopacks 1": the launcher's own order, the same without packs, and
# one request in flight without packs) the relay runs.
set -euo pipefail
: "${MORVEL_ROOT:?run through scripts/bench}" "${MORVEL_BENCH:?run through scripts/bench}"
cd "$MORVEL_ROOT"
pairs=${MORVEL_BENCH_PAIRS:-5}
relay_pairs=${MORVEL_BENCH_RELAY_PAIRS:-3}
parts=${MORVEL_BENCH_DOWNLOAD_PARTS:-install check relay}
part() { [[ " $parts " == *" $1 "* ]]; }
delays_ms=${MORVEL_BENCH_RELAY_DELAYS:-25 75}
orders=${MORVEL_BENCH_RELAY_ORDERS:-launcher nopacks 1}
client=${MORVEL_BENCH_DOWNLOAD_CLIENT:-mixed}
tool=${MORVEL_HOST_BUILD:-build/host}/tools/publish/morvel-publish
bench_exe=${MORVEL_MINGW_BUILD:-build/mingw}/bench/download_bench.exe
floor_exe=${MORVEL_MINGW_BUILD:-build/mingw}/bench/download_floor.exe
check_floor_exe=${MORVEL_MINGW_BUILD:-build/mingw}/bench/check_floor.exe
ca_tool=${MORVEL_MINGW_BUILD:-build/mingw}/tests/support/trust_test_ca.exe
for f in "$tool" "$bench_exe" "$floor_exe" "$check_floor_exe" "$ca_tool"; do [ -f "$f" ] || { echo "download.sh: no $f" >&2; exit 1; }; done

run=$MORVEL_BENCH/download-$client
src=$run/src
www=$run/www
mkdir -p "$run"
chmod 755 "$MORVEL_BENCH" "$run"

# --- The client: 512 MiB in 4 x 64 MiB, 16 x 8 MiB, 64 x 1 MiB, 7 x 4 MiB,
# 512 x 64 KiB and 1024 x 4 KiB files; random, text-like and half-and-half.
# The small client: 600 files of 1-200 KiB (images, scripts) around three of 16 MiB.
python3 - "$src" "$client" <<'PY'
import os, random, sys
root, client = sys.argv[1], sys.argv[2]
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
if client == "small":
    plan = [(3, 16 << 20, "data")] + [(1, rng.randrange(1 << 10, 200 << 10), "ui/n%03d" % i) for i in range(600)]
n = 0
for count, size, folder in plan:
    for i in range(count):
        path = os.path.join(root, "otc", folder, "d%02d" % (i % 16), "f%04d.bin" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content(kinds[n % 3], size, n))
        n += 1
PY
"$tool" publish --out "$www" --key tests/support/test_signing.key --otc "$src/otc" --level 6 >/dev/null
manifest=$www/arquivos/launcher/manifest.txt
files=$(grep -c -P '^f\t' "$manifest")
size_bytes=$(awk -F'\t' '$1 == "f" { s += $4 } END { printf "%d", s }' "$manifest")
body_bytes=$(awk -F'\t' '$1 == "f" { s += $5 } END { printf "%d", s }' "$manifest")
echo "client: $files files, $((size_bytes >> 20)) MiB, bodies $((body_bytes >> 20)) MiB; $pairs pairs"

# --- nginx (and the fault server, unused) on loopback, with the test certificate.
bash tests/support/services.sh start "$run" >/dev/null
export MORVEL_RUN=$run
source scripts/lib/wine.sh
relay_pid=""
cleanup() {
  [ -z "$relay_pid" ] || kill "$relay_pid" 2>/dev/null || true
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

settle() { sync; sleep 1; }
field() { tr -d '\r' <"$2" | awk -v k="$1" '$1 == k { print $2 }'; }  # the Win32 console ends lines with CR LF
now() { date +%s.%N; }
# "median min max" of the numbers in a file, one a line.
stats() { sort -g "$1" | awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.3f %.3f %.3f", m, v[1], v[NR] }'; }
ratio() { echo "$1 / $2" | bc -l; }

# run_bench OUT [PORT [WORD...]]: the bench program on the manifest (against
# nginx, or the port given), with the words it takes after the manifest: the
# number of body requests in flight or "launcher", "nopacks", "play" or
# "verify" (empty words are left out); its output goes to OUT, and the peak resident size
# of its process (VmHWM, read from outside while it runs; the wine launcher
# execs into the program, so the pid is the program's) is appended as
# "vmhwm_kib N". Ends the program after fifteen minutes.
peak_ws=0 peak_hwm=0
run_bench() {
  local words=() word
  for word in "${@:3}"; do [ -n "$word" ] && words+=("$word"); done
  MORVEL_NGINX_PORT=${2:-$MORVEL_NGINX_PORT} wine "$bench_exe" "$win_manifest" "${words[@]}" >"$1" &
  local pid=$! hwm=0 value status ticks=0 ws
  while kill -0 "$pid" 2>/dev/null; do
    value=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$value" ] && hwm=$value
    ticks=$((ticks + 1))
    [ "$ticks" -gt 18000 ] && kill "$pid" 2>/dev/null
    sleep 0.05
  done
  wait "$pid" && status=0 || status=$?
  echo "vmhwm_kib $hwm" >>"$1"
  [ "$(field result "$1")" = ok ] || { cat "$1" >&2; echo "download.sh: the bench program failed" >&2; exit 1; }
  ws=$(field peak_working_set_kib "$1")
  [ "$ws" -gt "$peak_ws" ] && peak_ws=$ws
  [ "$hwm" -gt "$peak_hwm" ] && peak_hwm=$hwm
  return "$status"
}

install_once() {  # OUT [PORT [IN_FLIGHT [nopacks]]]: a fresh install; its seconds go to stdout
  rm -rf "$install_dir"; settle
  run_bench "$@"
  field seconds "$1"
}

levels="get inflate sha256 files move"
floor_once() {  # LEVEL OUT
  rm -rf "$install_dir"; settle
  timeout 300 wine "$floor_exe" "$win_manifest" "$1" >"$2" ||
    { cat "$2" >&2; echo "download.sh: download_floor $1 failed" >&2; exit 1; }
  [ "$(field files "$2")" = "$files" ] || { echo "download.sh: download_floor $1 fetched too few files" >&2; exit 1; }
  field setup_seconds "$2" >>"$run/setup.txt"
  field seconds "$2" >>"$run/floor-$1.txt"
}
floor_all() { for level in $levels; do floor_once "$level" "$run/floor-$level-$1.out"; done; }

# Every body in manifest order, as one stream of concatenated gzip members.
urls=$run/urls.txt
awk -F'\t' -v p="$MORVEL_NGINX_PORT" '$1 == "f" { printf "url = \"https://localhost:%s/arquivos/launcher/files/%s.dl\"\n", p, $3 }' \
  "$manifest" >"$urls"
cat "$www/arquivos/launcher/files/"*.dl >/dev/null  # nginx reads from the page cache in every run
# The client's files in manifest order, as paths inside its folder.
paths=$run/paths.txt
awk -F'\t' '$1 == "f" { print $7 }' "$manifest" >"$paths"
curl_once() {
  settle
  local t0 t1
  t0=$(now)
  curl -s -f --max-time 300 --cacert "$run/tls/ca.pem" -K "$urls" | gzip -dc | sha256sum | cut -d' ' -f1 >"$run/curl-digest.txt"
  t1=$(now)
  echo "$t1 - $t0" | bc -l >>"$run/curl.txt"
}

# --- 1. The install, the floor and curl, pair by pair.
if part install; then
rm -f "$run"/floor-*.txt "$run"/setup.txt "$run"/curl.txt "$run"/ours.txt "$run"/floor-ratio.txt "$run"/curl-ratio.txt
for pair in $(seq "$pairs"); do
  if [ $((pair % 2)) = 1 ]; then
    install_once "$run/install-$pair.txt" >>"$run/ours.txt"
    floor_all "$pair"
  else
    floor_all "$pair"
    install_once "$run/install-$pair.txt" >>"$run/ours.txt"
  fi
  curl_once
  ours=$(tail -1 "$run/ours.txt")
  ratio "$(tail -1 "$run/floor-move.txt")" "$ours" >>"$run/floor-ratio.txt"
  ratio "$(tail -1 "$run/curl.txt")" "$ours" >>"$run/curl-ratio.txt"
done
# The same bytes, in the same order, as the launcher installed them.
ours_digest=$( (cd "$install_dir/Morvel Global" && tr '\n' '\0' <"$paths" | xargs -0 cat) | sha256sum | cut -d' ' -f1)
curl_digest=$(cat "$run/curl-digest.txt")
fi

# --- 2. The check pass: everything installed, nothing to fetch; "Jogar" and
# "Verificar arquivos", the floor of the full check and openssl, in an order
# that turns round every pair.
if part check; then
[ -d "$install_dir/Morvel Global" ] || install_once "$run/check-install.out" >/dev/null
sums=$run/sums.txt
awk -F'\t' '$1 == "f" { printf "%s  %s\n", $3, $7 }' "$manifest" >"$sums"
awk -F'\t' '$1 == "f" { printf "%s *%s\n", $3, $7 }' "$manifest" | sort >"$run/sums-openssl.txt"
rm -f "$run"/check-*.txt
check_openssl() {
  settle
  local t0 t1
  t0=$(now)
  (cd "$install_dir/Morvel Global" && tr '\n' '\0' <"$paths" | xargs -0 openssl dgst -sha256 -r >"$run/openssl.out")
  t1=$(now)
  echo "$t1 - $t0" | bc -l >>"$run/check-openssl.txt"
  sort "$run/openssl.out" | cmp -s - "$run/sums-openssl.txt" || { echo "download.sh: openssl digests differ" >&2; exit 1; }
}
check_play() {
  settle
  run_bench "$run/check-play-$pair.out" "" "" play
  field seconds "$run/check-play-$pair.out" >>"$run/check-play.txt"
}
check_verify() {
  settle
  run_bench "$run/check-verify-$pair.out" "" "" verify
  field seconds "$run/check-verify-$pair.out" >>"$run/check-verify.txt"
}
check_floor() {
  settle
  local out=$run/check-floor-$pair.out
  timeout 300 wine "$check_floor_exe" "$win_manifest" >"$out" ||
    { cat "$out" >&2; echo "download.sh: check_floor failed" >&2; exit 1; }
  [ "$(field files "$out")" = "$files" ] || { echo "download.sh: check_floor read too few files" >&2; exit 1; }
  field seconds "$out" >>"$run/check-floor.txt"
}
check_sums() {
  settle
  local t0 t1
  t0=$(now)
  (cd "$install_dir/Morvel Global" && sha256sum --quiet -c "$sums")
  t1=$(now)
  echo "$t1 - $t0" | bc -l >>"$run/check-sums.txt"
}
sides=(play verify floor openssl sums)
for pair in $(seq "$pairs"); do
  # Each side starts a pair once in every five.
  k=$(((pair - 1) % ${#sides[@]}))
  order=("${sides[@]:k}" "${sides[@]:0:k}")
  for side in "${order[@]}"; do "check_$side"; done
  verify_s=$(tail -1 "$run/check-verify.txt")
  ratio "$(tail -1 "$run/check-floor.txt")" "$verify_s" >>"$run/check-verify-floor.ratio"
  ratio "$(tail -1 "$run/check-openssl.txt")" "$verify_s" >>"$run/check-verify-openssl.ratio"
  ratio "$(tail -1 "$run/check-openssl.txt")" "$(tail -1 "$run/check-floor.txt")" >>"$run/check-floor-openssl.ratio"
  ratio "$(tail -1 "$run/check-verify.txt")" "$(tail -1 "$run/check-play.txt")" >>"$run/check-play-verify.ratio"
  echo "check pair $pair (${order[*]}): play $(tail -1 "$run/check-play.txt") s, verify $verify_s s," \
    "floor $(tail -1 "$run/check-floor.txt") s, openssl $(tail -1 "$run/check-openssl.txt") s; load $(cut -d' ' -f1-3 /proc/loadavg)"
done
fi

# --- 3. The install through the relay: each delay beside no delay (the relay's
# own cost), for both orders, in interleaved pairs.
relay_install() {  # DELAY_MS OUT [BENCH ARGS]
  rm -f "$run/relay.port"
  setsid python3 bench/delay_relay.py --target "$MORVEL_NGINX_PORT" --delay-ms "$1" --port-file "$run/relay.port" \
    --lifetime 1200 </dev/null >"$run/relay.log" 2>&1 &
  relay_pid=$!
  for _ in $(seq 100); do [ -s "$run/relay.port" ] && break; sleep 0.1; done
  [ -s "$run/relay.port" ] || { cat "$run/relay.log" >&2; echo "download.sh: the relay did not start" >&2; exit 1; }
  install_once "$2" "$(cat "$run/relay.port")" "${@:3}"
  kill "$relay_pid" 2>/dev/null; wait "$relay_pid" 2>/dev/null || true
  relay_pid=""
}
# The bench program's arguments for an order.
order_args() {
  case $1 in
    launcher) ;;
    nopacks) echo launcher nopacks ;;
    *) echo "$1" nopacks ;;
  esac
}
if part relay; then
# On a loaded machine one check can miss its timing by a scheduling delay: up to three tries.
for try in 1 2 3; do python3 bench/delay_relay_test.py && break; [ "$try" = 3 ] && { echo "download.sh: the relay is not sound" >&2; exit 1; }; sleep 5; done
rm -f "$run"/relay-*.s "$run"/relay-*.ratio "$run"/relay-*.cost
for pair in $(seq "$relay_pairs"); do
  for delay in $delays_ms; do
    for order in $orders; do
      for d in $([ $((pair % 2)) = 1 ] && echo "0 $delay" || echo "$delay 0"); do
        # shellcheck disable=SC2046 # the order's words are separate arguments
        relay_install "$d" "$run/relay-$order-$delay-$d-$pair.out" $(order_args "$order") >>"$run/relay-$order-$delay-$d.s"
      done
      slow=$(tail -1 "$run/relay-$order-$delay-$delay.s") fast=$(tail -1 "$run/relay-$order-$delay-0.s")
      ratio "$slow" "$fast" >>"$run/relay-$order-$delay.ratio"
      echo "($slow - $fast) * 1000 / $files" | bc -l >>"$run/relay-$order-$delay.cost"
    done
  done
done
fi

# --- Report.
mib=$(echo "$size_bytes / 1048576" | bc -l)
body_mib=$(echo "$body_bytes / 1048576" | bc -l)
rate() { printf '%.0f' "$(echo "$mib / $1" | bc -l)"; }
row() {  # LABEL FILE: median s, MiB/s of the client, min-max
  read -r m lo hi <<<"$(stats "$2")"
  printf '%-58s %7.2f %6s   %.2f-%.2f\n' "$1" "$m" "$(rate "$m")" "$lo" "$hi"
}
ratio_line() {  # LABEL FILE
  read -r m lo hi <<<"$(stats "$2")"
  printf '%-58s %.2fx (min %.2fx, max %.2fx)\n' "$1" "$m" "$lo" "$hi"
}
if part install; then
printf '%-58s %7s %6s   %s\n' "layer, each adding to the one above (one connection)" "median s" "MiB/s" "min-max s"
row "GET every body, discard the bytes" "$run/floor-get.txt"
row "+ inflate" "$run/floor-inflate.txt"
row "+ SHA-256 (size and digest checked)" "$run/floor-sha256.txt"
row "+ create, write, close the \".part\"" "$run/floor-files.txt"
row "+ the folders and the move into place (the floor)" "$run/floor-move.txt"
row "the launcher's UpdateClientFiles (check pass included)" "$run/ours.txt"
row "context: curl | gzip -dc | sha256sum, one stream" "$run/curl.txt"
read -r net _ _ <<<"$(stats "$run/floor-get.txt")"
printf 'network floor alone: %.2f s, %.0f MiB/s of bodies (%.0f MiB)\n' "$net" "$(echo "$body_mib / $net" | bc -l)" "$body_mib"
read -r m lo hi <<<"$(stats "$run/setup.txt")"
printf "first request's set-up (connection, TLS handshake, first byte): median %.0f ms (%.0f-%.0f ms)\n" \
  "$(echo "$m * 1000" | bc -l)" "$(echo "$lo * 1000" | bc -l)" "$(echo "$hi * 1000" | bc -l)"
ratio_line "launcher speed / floor speed, per pair (target >= 0.95):" "$run/floor-ratio.txt"
ratio_line "context: launcher speed / curl stream speed, per pair:" "$run/curl-ratio.txt"
echo "content digests agree: $([ "$ours_digest" = "$curl_digest" ] && echo yes || echo "NO ($ours_digest vs $curl_digest)")"
fi
if part check; then
row "check pass of \"Jogar\" (the record vouches), under Wine" "$run/check-play.txt"
row "check pass of \"Verificar arquivos\" (all hashed), under Wine" "$run/check-verify.txt"
row "its floor: open, read, hash, close (check_floor), under Wine" "$run/check-floor.txt"
row "openssl dgst -sha256 of the same files, native" "$run/check-openssl.txt"
row "context: sha256sum -c, native" "$run/check-sums.txt"
ratio_line "full check speed / its floor's, per pair (goal >= 0.9):" "$run/check-verify-floor.ratio"
ratio_line "full check speed / openssl's, per pair (goal >= 0.8):" "$run/check-verify-openssl.ratio"
ratio_line "Wine's share: floor speed / openssl's, per pair:" "$run/check-floor-openssl.ratio"
ratio_line "\"Jogar\" check speed / full check speed, per pair:" "$run/check-play-verify.ratio"
fi
if part relay; then
  for delay in $delays_ms; do
    for order in $orders; do
      n=$(field in_flight "$run/relay-$order-$delay-0-1.out")
      label="$n in flight"
      [ "$(field packs "$run/relay-$order-$delay-0-1.out")" = 0 ] && label+=", no packs" ||
        label+=", $(field packs "$run/relay-$order-$delay-0-1.out") packs"
      [ "$order" = launcher ] && label+=", the launcher's"
      [ "$n" = 1 ] && label+=", sequential"
      row "relay, no delay, $label" "$run/relay-$order-$delay-0.s"
      row "relay, $delay ms each way, $label" "$run/relay-$order-$delay-$delay.s"
      ratio_line "  delayed / undelayed, per pair:" "$run/relay-$order-$delay.ratio"
      read -r m lo hi <<<"$(stats "$run/relay-$order-$delay.cost")"
      printf '  what the delay added per file: %.1f ms (%.1f-%.1f ms) for a %s ms round trip\n' "$m" "$lo" "$hi" \
        "$((2 * delay))"
    done
  done
fi
echo "peak memory of the bench program: working set $((peak_ws / 1024)) MiB (GetProcessMemoryInfo)," \
  "VmHWM $((peak_hwm / 1024)) MiB (/proc of its process); limit 32 MiB"
status=0
part install && [ "$ours_digest" != "$curl_digest" ] && status=1
# Then the small client, part 3 alone, unless one client was asked for.
if [ -z "${MORVEL_BENCH_DOWNLOAD_CLIENT:-}" ] && part relay; then
  cleanup
  trap - EXIT
  echo "== download, the small-file client"
  MORVEL_BENCH_DOWNLOAD_CLIENT=small MORVEL_BENCH_DOWNLOAD_PARTS=relay bash "$0" || status=1
fi
exit "$status"
