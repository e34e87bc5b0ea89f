#!/usr/bin/env bash
# morvel-publish on a generated ~1 GiB client tree (a few big files, a few
# hundred medium ones, thousands of small ones; random, text-like and
# half-compressible data), beside gzip -9 and sha256sum over the same files in
# the same run. Then an unchanged second publish, which must compress nothing,
# and a verify of the whole tree.
set -euo pipefail
: "${MORVEL_ROOT:?run through scripts/bench}" "${MORVEL_BENCH:?run through scripts/bench}"
cd "$MORVEL_ROOT"
tool=${MORVEL_HOST_BUILD:-build/host}/tools/publish/morvel-publish
key=tests/support/test_signing.key  # a benchmark tree is signed like any other
src=$MORVEL_BENCH/publish-src
out=$MORVEL_BENCH/publish-www

python3 - "$src" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(860)
words = [b"sprite", b"creature", b"outfit", b"item", b"map", b"Morvel", b"Global", b"regi\xc3\xa3o",
         b"0x1f", b"light", b"speed", b"name", b"=", b"{", b"}", b"\n", b"\t"]
text = b" ".join(rng.choice(words) + str(rng.randrange(100000)).encode() for _ in range(200000))

def content(kind, n, seed):
    if kind == "random":
        return os.urandom(n)
    if kind == "text":
        start = seed * 7919 % len(text)
        return ((text[start:] + text[:start]) * (n // len(text) + 1))[:n]
    # half: 4 KiB random, 4 KiB from the text, in turn
    parts, i = [], 0
    while sum(map(len, parts)) < n:
        parts.append(os.urandom(4096) if i % 2 == 0 else text[(i * 4096) % (len(text) - 4096):][:4096])
        i += 1
    return b"".join(parts)[:n]

def write(path, data):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data)

kinds = ["random", "text", "half"]
total = 0
write("otc/data/things/big-random.dat", os.urandom(160 << 20)); total += 160 << 20
big_text = content("text", 160 << 20, 1); write("classic/Tibia.spr", big_text); total += len(big_text)
for i in range(400):                     # 400 x 1 MiB
    data = content(kinds[i % 3], 1 << 20, i)
    write("otc/modules/m%03d/part%03d.bin" % (i % 40, i), data); total += len(data)
i = 0
while total < (1 << 30):                 # small files up to 1 GiB in all
    n = rng.randrange(1024, 100 * 1024)
    data = content(kinds[i % 3], n, i)
    write("classic/Automap/sub%02d/f%05d.map" % (i % 64, i), data); total += n
    i += 1
print("generated %.0f MB in %d files" % (total / 1048576.0, 402 + i))
PY

files_list=$MORVEL_BENCH/publish-files
find "$src" -type f -print0 >"$files_list"
bytes=$(find "$src" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
mb=$(echo "scale=1; $bytes / 1048576" | bc -l)

# Wall seconds of a command; its stdout goes to $2.
timed() {
  local t0 t1 sink=$1
  shift
  t0=$(date +%s.%N)
  "$@" >"$sink"
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}
rate() { echo "scale=1; $mb / $1" | bc -l; }

t_sha=$(timed /dev/null xargs -0 sha256sum <"$files_list")
gz_out=$MORVEL_BENCH/publish-gzip-bytes
t_gz=$(timed /dev/null bash -c "xargs -0 gzip -9 -n -c <'$files_list' | wc -c >'$gz_out'")
gz_bytes=$(cat "$gz_out")

log=$MORVEL_BENCH/publish-log
rm -rf "$out"
t_pub1=$(timed "$log.1" "$tool" publish --out "$out.j1" --key "$key" --otc "$src/otc" --classic "$src/classic" --jobs 1)
t_pub=$(timed "$log" "$tool" publish --out "$out" --key "$key" --otc "$src/otc" --classic "$src/classic")
body_bytes=$(find "$out/arquivos/launcher/files" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
rm -rf "$out.j1"
t_again=$(timed "$log.2" "$tool" publish --out "$out" --key "$key" --otc "$src/otc" --classic "$src/classic")
t_verify=$(timed "$log.3" "$tool" verify "$out" --key "$key.pub")

compressed_again=$(sed -nE 's/.* ([0-9]+) compressed .*/\1/p' "$log.2")
echo "tree: $mb MB in $(tr -cd '\0' <"$files_list" | wc -c) files, $(nproc) cores"
printf '%-34s %6.1f s %8s MB/s\n' "sha256sum" "$t_sha" "$(rate "$t_sha")"
printf '%-34s %6.1f s %8s MB/s   out %s MB\n' "gzip -9 (one process)" "$t_gz" "$(rate "$t_gz")" \
  "$(echo "scale=1; $gz_bytes / 1048576" | bc -l)"
printf '%-34s %6.1f s %8s MB/s\n' "morvel-publish --jobs 1 (first)" "$t_pub1" "$(rate "$t_pub1")"
printf '%-34s %6.1f s %8s MB/s   out %s MB\n' "morvel-publish (first, all cores)" "$t_pub" "$(rate "$t_pub")" \
  "$(echo "scale=1; $body_bytes / 1048576" | bc -l)"
printf '%-34s %6.1f s %8s MB/s\n' "morvel-publish (unchanged again)" "$t_again" "$(rate "$t_again")"
printf '%-34s %6.1f s %8s MB/s\n' "morvel-publish verify" "$t_verify" "$(rate "$t_verify")"
echo "first run:  $(head -1 "$log")"
echo "second run: $(head -1 "$log.2")"
echo "bodies compressed by the unchanged second publish: $compressed_again (must be 0)"
grep -q '^verified' "$log.3"
[ "$compressed_again" = 0 ]
