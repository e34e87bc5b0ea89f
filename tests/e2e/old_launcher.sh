#!/usr/bin/env bash
# Builds the loopback launcher (version 2) from the code as it was before
# patches (commit d215212, or MORVEL_OLD_COMMIT) into build/e2e-old, for the
# end-to-end scenario old_launcher_patches: a launcher already in players' hands
# must keep updating from a tree that has patch lines. Built for the Windows
# preset that runs under Wine here; kept until the commit or preset changes.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
: "${MORVEL_WIN_PRESET:?source scripts/lib/wine.sh first}"
commit=${MORVEL_OLD_COMMIT:-d215212}
out=$root/build/e2e-old
stamp="$commit $MORVEL_WIN_PRESET"
[ -f "$out/loopback_launcher_v2.exe" ] && [ "$(cat "$out/stamp" 2>/dev/null)" = "$stamp" ] && exit 0
rm -rf "$out"
mkdir -p "$out/src"
git -C "$root" archive "$commit" | tar -x -C "$out/src"
toolchain=$root/cmake/mingw-i686.cmake
[ "$MORVEL_WIN_PRESET" = mingw64 ] && toolchain=$root/cmake/mingw-x86_64.cmake
cmake -S "$out/src" -B "$out/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out/build" --target loopback_launcher_v2 -j 2 >/dev/null
cp "$out/build/tests/e2e/loopback_launcher_v2.exe" "$out/"
echo "$stamp" >"$out/stamp"
