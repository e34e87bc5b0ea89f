#!/usr/bin/env bash
# ParseManifest over a generated 100,000-file manifest (12.5 MB: more than the
# launcher ever fetches), natively and as the Windows build under Wine. Target:
# under 100 ms natively.
set -euo pipefail
: "${MORVEL_ROOT:?run through scripts/bench}" "${MORVEL_BENCH:?run through scripts/bench}"
cd "$MORVEL_ROOT"

native=$("${MORVEL_HOST_BUILD:-build/host}"/bench/manifest_parse 100000 15)
echo "native:  $native"

export MORVEL_RUN=$MORVEL_BENCH/wine-manifest
mkdir -p "$MORVEL_RUN"
source scripts/lib/wine.sh
wine_make_template
export WINEPREFIX=$MORVEL_RUN/template/prefix HOME=$MORVEL_RUN/template/home
echo "wine:    $(timeout 300 wine "$MORVEL_MINGW_BUILD"/bench/manifest_parse.exe 100000 15 | tr -d '\r') ($MORVEL_WINE_SUMMARY)"
wineserver -k 2>/dev/null || true

best=$(echo "$native" | sed -E 's/.*best ([0-9.]+) ms.*/\1/')
echo "native best ${best} ms (target < 100 ms): $(echo "$best < 100" | bc -l | sed 's/1/met/; s/0/MISSED/')"
