#!/usr/bin/env bash
# scripts/setup against stand-in apt-get, dpkg, dpkg-query and systemctl first on
# PATH: no real package call is made. Each case gives the machine (installed
# packages, foreign architectures, what the kernel starts) and the mirror (update
# failing, packages that cannot be installed), runs set-up and checks its exit
# code, what it said and which apt calls it made.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/morvel-setup-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
bin=$work/bin
mkdir -p "$bin"

cat >"$bin/dpkg-query" <<'SH'
#!/bin/bash
# -W -f=FORMAT [PACKAGE]: a status for one package, or Package:Architecture of all.
fmt=${2#-f=}
if [ $# -ge 3 ]; then
  grep -qx -- "$3" "$FAKE/installed" && printf 'install ok installed' && exit 0
  exit 1
fi
sed 's/^\([^:]*\)$/\1:amd64/' "$FAKE/installed" | sed 's/$/\n/' | grep -v '^$'
SH
cat >"$bin/dpkg" <<'SH'
#!/bin/bash
case $1 in
  --print-foreign-architectures) cat "$FAKE/arches" ;;
  --add-architecture) echo "$2" >>"$FAKE/arches"; echo "dpkg add $2" >>"$FAKE/calls" ;;
  --remove-architecture) sed -i "/^$2\$/d" "$FAKE/arches"; echo "dpkg remove $2" >>"$FAKE/calls" ;;
esac
SH
cat >"$bin/apt-get" <<'SH'
#!/bin/bash
echo "apt-get $*" >>"$FAKE/calls"
if [ "$1" = update ]; then
  rc=$(cat "$FAKE/update_rc")
  [ "$rc" -ne 0 ] && echo "E: Failed to fetch http://mirror/binary-i386/Packages.xz  File has unexpected size"
  exit "$rc"
fi
shift
for p in "$@"; do
  case $p in -*) continue ;; esac
  if grep -qx -- "$p" "$FAKE/broken"; then
    echo "E: Unable to correct problems, you have held broken packages ($p)"; exit 100
  fi
done
for p in "$@"; do case $p in -*) ;; *) echo "$p" >>"$FAKE/installed" ;; esac; done
SH
printf '#!/bin/sh\necho "systemctl $*" >>"$FAKE/calls"\n' >"$bin/systemctl"
chmod 755 "$bin"/*

# Every base package, as scripts/setup lists them (one source of the list).
mapfile -t base < <(sed -n '/^base=(/,/^)/p' "$root/scripts/setup" | sed '1d;$d' | tr ' ' '\n' | grep -v '^$')

passed=0 failed=0
check() {  # NAME CONDITION-TEXT RESULT
  if [ "$3" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1: $2"; fi
}

# name | kernel runs 32-bit | installed: all, base or none | update exit | broken package | foreign arch i386 already
# | expected exit | output must match (grep -E, empty: no output) | calls must match | calls must not match
# (the calls as one line, each ended by ";")
cases=(
  "all-installed|1|all|0||1|0||^$|."
  "all-but-32bit-kernel-refuses|0|base|0||0|0||^$|."
  "update-fails-install-works|0|none|100||0|0||^(apt-get update -q;){3}apt-get install|dpkg add"
  "32bit-not-installable|1|base|100|wine32:i386|0|0|^setup: 32-bit Wine not installable here \(E: Unable to correct problems.*; the package lists' update said: Failed to fetch http://mirror/binary-i386/Packages.xz File has unexpected size\); going on with 64-bit Wine$|dpkg add i386.*dpkg remove i386|apt-get install.* nginx-light"
  "32bit-installs|1|base|0||0|0||apt-get install -y -q --no-install-recommends wine32:i386|dpkg remove"
  "base-not-installable|1|none|0|nginx-light|0|1|^setup: could not install .*nginx-light|apt-get update|wine32"
)
for row in "${cases[@]}"; do
  IFS='|' read -r name can32 have update_rc broken has_i386 want_rc want_out want_calls not_calls <<<"$row"
  export FAKE=$work/$name
  mkdir -p "$FAKE"
  : >"$FAKE/calls"; : >"$FAKE/arches"; : >"$FAKE/installed"
  echo "$update_rc" >"$FAKE/update_rc"
  echo "$broken" >"$FAKE/broken"
  [ "$has_i386" = 1 ] && echo i386 >"$FAKE/arches"
  [ "$have" != none ] && printf '%s\n' "${base[@]}" >"$FAKE/installed"
  [ "$have" = all ] && echo wine32:i386 >>"$FAKE/installed"
  out=$(PATH="$bin:$PATH" MORVEL_KERNEL_RUNS_32BIT=$can32 MORVEL_SETUP_PAUSE=0 TMPDIR=$FAKE \
    bash "$root/scripts/setup" 2>&1)
  rc=$?
  calls=$(tr '\n' ';' <"$FAKE/calls")  # one line, calls separated by ";"
  check "$name" "exit $rc, expected $want_rc (output: $out)" $([ "$rc" -eq "$want_rc" ]; echo $?)
  if [ -z "$want_out" ]; then
    check "$name" "said something: $out" $([ -z "$out" ]; echo $?)
  else
    check "$name" "output '$out' does not match" $(printf '%s' "$out" | grep -qzE "$want_out"; echo $?)
  fi
  check "$name" "calls do not match '$want_calls': $calls" $(printf '%s\n' "$calls" | grep -qE "$want_calls"; echo $?)
  check "$name" "calls match '$not_calls': $calls" $(printf '%s\n' "$calls" | grep -qE "$not_calls"; [ $? -ne 0 ]; echo $?)
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
