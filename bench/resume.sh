#!/usr/bin/env bash
# What resuming inside a body costs (bench/resume_cost.cpp): 100 MiB that gzip
# cannot shrink and 100 MiB of the kind it can, each as the publishing tool
# compresses a body. The disk cost beside each is the record's bytes per point;
# keeping the compressed bytes instead would cost the whole body again on disk.
set -euo pipefail
: "${MORVEL_ROOT:?run through scripts/bench}" "${MORVEL_BENCH:?run through scripts/bench}"
cd "$MORVEL_ROOT"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
random=$MORVEL_BENCH/resume-random.bin
text=$MORVEL_BENCH/resume-text.bin
head -c $((100 << 20)) < <(openssl enc -aes-128-ctr -pass pass:resume -nosalt -pbkdf2 </dev/zero 2>/dev/null) >"$random"
head -c $((100 << 20)) < <(seq 1 100000000) >"$text"
for f in "$random" "$text"; do
  gzip -9 -n -c "$f" >"$f.gz"
  echo "-- $(basename "$f"): body $(stat -c %s "$f.gz") bytes"
  build/host/bench/resume_cost "$f.gz" "$(stat -c %s "$f")" "$(sha256sum "$f" | cut -d' ' -f1)"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
