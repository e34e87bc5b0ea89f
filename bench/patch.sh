#!/usr/bin/env bash
# Patches of generated sprite-like files (10, 50 and 200 MiB: fixed-size records
# then variable-size ones, pixel runs with transparent gaps), whose next version
# changes 1% of the records (a third rewritten in place, a third inserted, a
# third removed):
#  1. patch size against the whole gzip -9 body, and against xdelta3 -9, bsdiff
#     and zstd -19 --long --patch-from, with the time to make and to apply each
#     (ours: MakePatch, and the launcher's streaming path from the gzip body);
#  2. applying beside downloading the whole body on loopback (curl | gzip -dc |
#     sha256sum from nginx over TLS 1.2);
#  3. the launcher's install of the 50 MiB file's new version under Wine: the
#     patch path (UpdateClientFiles with the "p" lines) against the whole-body
#     path (the same manifest without them), interleaved pairs.
# Apply and download figures are medians of interleaved runs; make is one run.
# MORVEL_BENCH_PATCH_SIZES (default "10 50 200") picks the sizes of part 1.
set -euo pipefail
: "${MORVEL_ROOT:?run through scripts/bench}" "${MORVEL_BENCH:?run through scripts/bench}"
cd "$MORVEL_ROOT"
pairs=${MORVEL_BENCH_PAIRS:-3}
tool=${MORVEL_HOST_BUILD:-build/host}/tools/publish/morvel-publish
patch_tool=${MORVEL_HOST_BUILD:-build/host}/bench/patch_tool
sizes=${MORVEL_BENCH_PATCH_SIZES:-10 50 200}
bench_exe=${MORVEL_MINGW_BUILD:-build/mingw}/bench/download_bench.exe
ca_tool=${MORVEL_MINGW_BUILD:-build/mingw}/tests/support/trust_test_ca.exe
for f in "$tool" "$patch_tool"; do [ -x "$f" ] || { echo "patch.sh: no $f" >&2; exit 1; }; done
for t in xdelta3 bsdiff bspatch zstd; do command -v "$t" >/dev/null || { echo "patch.sh: no $t (scripts/setup installs it)" >&2; exit 1; }; done

run=$MORVEL_BENCH/patch
mkdir -p "$run"
chmod 755 "$MORVEL_BENCH" "$run"

python3 - "$run" <<'PY'
import os, random, sys
run = sys.argv[1]

def pixels(rng, n):
    # Runs of colour bytes with transparent (zero) gaps, as sprites have.
    out, left = [], n
    while left > 0:
        k = min(left, rng.randrange(8, 120))
        out.append(os.urandom(k) if rng.random() < 0.6 else bytes(k))
        left -= k
    return b"".join(out)

def record(rng, ident, size):
    return ident.to_bytes(4, "little") + size.to_bytes(4, "little") + pixels(rng, size - 8)

for mib in (10, 50, 200):
    rng = random.Random(mib)
    total = mib << 20
    fixed = [record(rng, i, 1024) for i in range(total // 2 // 1024)]
    variable, used, ident = [], 0, len(fixed)
    while used < total - total // 2:
        size = rng.randrange(100, 8000)
        variable.append(record(rng, ident, size))
        used += size
        ident += 1
    records = fixed + variable
    old = b"".join(records)
    new_records = list(records)
    picked = rng.sample(range(len(records)), len(records) // 100)
    for n, i in enumerate(sorted(picked, reverse=True)):
        kind = n % 3
        if kind == 0 or i < len(fixed):
            new_records[i] = record(rng, i, len(records[i]))  # rewritten in place
        elif kind == 1:
            new_records.insert(i, record(rng, ident, rng.randrange(100, 8000)))
            ident += 1
        else:
            del new_records[i]
    new = b"".join(new_records)
    for name, data in (("old", old), ("new", new)):
        with open(os.path.join(run, "%d.%s" % (mib, name)), "wb") as f:
            f.write(data)
    print("%d MiB: %d records, %d changed (%d in the fixed part)" %
          (mib, len(records), len(picked), sum(1 for i in picked if i < len(fixed))))
PY

now() { date +%s.%N; }
elapsed() { local t0=$1; shift; "$@" >/dev/null 2>&1 || return 1; printf '%.3f\n' "$(echo "$(now) - $t0" | bc -l)"; }
timed() { elapsed "$(now)" "$@"; }
median() { sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
size() { stat -c %s "$1"; }
pct() { echo "100 * $1 / $2" | bc -l; }
settle() { sync; sleep 0.5; }

# --- 1. Sizes and times, one file size at a time.
printf '\n%-7s %-28s %12s %9s %9s %9s\n' "file" "method" "bytes" "% whole" "make s" "apply s"
for mib in $sizes; do
  old=$run/$mib.old new=$run/$mib.new
  sha=$(sha256sum "$new" | cut -d' ' -f1)
  whole_t=$(timed sh -c "gzip -9 -n -c '$new' >'$run/$mib.whole.gz'")
  whole=$(size "$run/$mib.whole.gz")
  row() { printf '%-7s %-28s %12s %8.2f%% %9s %9s\n' "$mib MiB" "$1" "$2" "$(pct "$2" "$whole")" "$3" "$4"; }
  row "whole body (gzip -9)" "$whole" "$whole_t" "-"

  "$patch_tool" make "$old" "$new" "$run/$mib.patch" >"$run/$mib.make.out"
  gzip -9 -n -c "$run/$mib.patch" >"$run/$mib.patch.dl"
  make_t=$(awk '$1 == "seconds" { print $2 }' "$run/$mib.make.out")
  xd_make=$(timed xdelta3 -e -9 -f -s "$old" "$new" "$run/$mib.xd")
  zst_make=$(timed zstd -q -f -19 --long=31 --patch-from="$old" "$new" -o "$run/$mib.zst")
  rm -f "$run"/apply-*.txt
  rebuilt() { cmp -s "$run/$mib.out" "$new" || { echo "patch.sh: $1 did not rebuild the $mib MiB file" >&2; exit 1; }; }
  for i in $(seq "$pairs"); do
    settle
    "$patch_tool" apply "$old" "$run/$mib.patch.dl" "$run/$mib.out" "$(size "$new")" "$sha" >"$run/apply.out" ||
      { cat "$run/apply.out" >&2; echo "patch.sh: our patch does not rebuild the file" >&2; exit 1; }
    awk '$1 == "seconds" { print $2 }' "$run/apply.out" >>"$run/apply-ours.txt"
    settle
    timed xdelta3 -d -f -s "$old" "$run/$mib.xd" "$run/$mib.out" >>"$run/apply-xdelta3.txt"
    rebuilt xdelta3
    settle
    timed zstd -q -f -d --long=31 --patch-from="$old" "$run/$mib.zst" -o "$run/$mib.out" >>"$run/apply-zstd.txt"
    rebuilt zstd
  done
  row "ours (gzip-wrapped patch)" "$(size "$run/$mib.patch.dl")" "$make_t" "$(median <"$run/apply-ours.txt")"
  row "xdelta3 -9" "$(size "$run/$mib.xd")" "$xd_make" "$(median <"$run/apply-xdelta3.txt")"
  # bsdiff needs about 17 times the file in memory: not run on 200 MiB here.
  if [ "$mib" -le 50 ]; then
    t=$(timed bsdiff "$old" "$new" "$run/$mib.bsd")
    a=$(timed bspatch "$old" "$run/$mib.out" "$run/$mib.bsd")
    rebuilt bsdiff
    row "bsdiff" "$(size "$run/$mib.bsd")" "$t" "$a"
  else
    printf '%-7s %-28s %12s\n' "$mib MiB" "bsdiff" "not run (needs ~17x the file in memory)"
  fi
  row "zstd -19 --long --patch-from" "$(size "$run/$mib.zst")" "$zst_make" "$(median <"$run/apply-zstd.txt")"
  rm -f "$run/$mib.xd" "$run/$mib.zst" "$run/$mib.bsd" "$run/$mib.out"
done

# --- 2. Applying beside fetching the whole body from nginx on loopback.
tree=$run/www
mkdir -p "$run/src1/otc/data" "$run/src2/otc/data"
cp "$run/50.old" "$run/src1/otc/data/sprites.spr"
cp "$run/50.new" "$run/src2/otc/data/sprites.spr"
key=tests/support/test_signing.key  # test-only; the bench programs know its .pub
"$tool" publish --out "$tree" --key "$key" --otc "$run/src1/otc" >/dev/null
"$tool" publish --out "$tree" --key "$key" --otc "$run/src2/otc" >"$run/publish.out"
"$tool" verify "$tree" --key "$key.pub" >/dev/null
manifest=$tree/arquivos/launcher/manifest.txt
grep -q -P '^p\t' "$manifest" || { cat "$run/publish.out" >&2; echo "patch.sh: no patch published" >&2; exit 1; }
read -r body_sha body_size <<<"$(awk -F'\t' '$1 == "f" { print $3, $5 }' "$manifest")"
read -r patch_size patch_path <<<"$(awk -F'\t' '$1 == "p" { print $4, $5 }' "$manifest")"
bash tests/support/services.sh start "$run" >/dev/null
relay_cleanup() { bash tests/support/services.sh stop "$run" >/dev/null 2>&1 || true; }
trap relay_cleanup EXIT
set -a; source "$run/services.env"; set +a
url="https://localhost:$MORVEL_NGINX_PORT/arquivos/launcher/files/$body_sha.dl"
cat "$tree/arquivos/launcher/files/"*.dl >/dev/null
rm -f "$run"/fetch.txt "$run"/local-apply.txt
for i in $(seq "$pairs"); do
  settle
  timed sh -c "curl -s -f --cacert '$run/tls/ca.pem' '$url' | gzip -dc | sha256sum >/dev/null" >>"$run/fetch.txt"
  settle
  "$patch_tool" apply "$run/50.old" "$tree$patch_path" "$run/50.out" "$(size "$run/50.new")" "$(sha256sum "$run/50.new" | cut -d' ' -f1)" |
    awk '$1 == "seconds" { print $2 }' >>"$run/local-apply.txt"
done
fetch=$(median <"$run/fetch.txt")
local_apply=$(median <"$run/local-apply.txt")
printf '\n50 MiB file on loopback: whole body %s bytes, patch %s bytes (%.2f%% of it)\n' "$body_size" "$patch_size" \
  "$(pct "$patch_size" "$body_size")"
printf 'fetch the whole body (curl | gzip -dc | sha256sum): median %s s; apply the patch from disk: median %s s; apply / fetch %.2fx\n' \
  "$fetch" "$local_apply" "$(echo "$local_apply / $fetch" | bc -l)"

# --- 3. The launcher under Wine: patch path against whole-body path.
if [ ! -f "$bench_exe" ] || [ ! -f "$ca_tool" ]; then
  echo "install under Wine: not run (no $bench_exe)"
  exit 0
fi
grep -v -P '^p\t' "$manifest" >"$run/manifest-whole.txt"
cp "$manifest" "$run/manifest-patch.txt"
export MORVEL_RUN=$run
source scripts/lib/wine.sh
wine_cleanup() {
  WINEPREFIX=$run/template/prefix HOME=$run/template/home wineserver -k 2>/dev/null || true
  wine_stop_display
  relay_cleanup
}
trap wine_cleanup EXIT
wine_start_display
wine_make_template "$ca_tool" "Z:${run//\//\\}\\tls\\ca.der"
export WINEPREFIX=$run/template/prefix HOME=$run/template/home
users=$WINEPREFIX/drive_c/users
client="$users/$(ls "$users" | grep -v -x Public | head -1)/AppData/Local/Morvel Global/Morvel Global"
install_once() {  # patch | whole: the old file in place, then the update; seconds to stdout
  mkdir -p "$client/data"
  cp "$run/50.old" "$client/data/sprites.spr"
  settle
  wine "$bench_exe" "Z:${run//\//\\}\\manifest-$1.txt" >"$run/install-$1.out" ||
    { cat "$run/install-$1.out" >&2; echo "patch.sh: the $1 install failed" >&2; exit 1; }
  cmp -s "$client/data/sprites.spr" "$run/50.new" || { echo "patch.sh: the $1 install left another file" >&2; exit 1; }
  tr -d '\r' <"$run/install-$1.out" | awk '$1 == "seconds" { print $2 }'
}
rm -f "$run"/install-*.txt "$run/install-ratio.txt"
for i in $(seq "$pairs"); do
  if [ $((i % 2)) = 1 ]; then order="patch whole"; else order="whole patch"; fi
  for way in $order; do install_once "$way" >>"$run/install-$way.txt"; done
  echo "$(tail -1 "$run/install-patch.txt") / $(tail -1 "$run/install-whole.txt")" | bc -l >>"$run/install-ratio.txt"
done
printf 'install under Wine (check pass included): patch path median %s s, whole body median %s s; patch / whole per pair: %s\n' \
  "$(median <"$run/install-patch.txt")" "$(median <"$run/install-whole.txt")" \
  "$(sort -g "$run/install-ratio.txt" | awk '{ printf "%s%.2fx", (NR > 1 ? ", " : ""), $1 }')"
