#!/usr/bin/env bash
# download_space_tests.hook.sh up|down PREFIXDIR: puts the launcher's install
# folder of the throwaway prefix on a 64 MiB tmpfs, so the free-space test meets
# a really small disk; takes it down again afterwards. Needs root, as the tests run.
set -euo pipefail
action=${1:?usage: download_space_tests.hook.sh up|down PREFIXDIR}
dir=${2:?usage: download_space_tests.hook.sh up|down PREFIXDIR}
users=$dir/prefix/drive_c/users
user=$(ls "$users" | grep -v -x Public | head -1)
[ -n "$user" ] || { echo "hook: no user folder in $users" >&2; exit 1; }
target="$users/$user/AppData/Local/Morvel Global"

case $action in
  up)
    mkdir -p "$target"
    mount -t tmpfs -o size=64m,mode=0755 morvel-space-test "$target"
    ;;
  down)
    if mountpoint -q "$target"; then umount "$target"; fi
    ;;
  *) echo "hook: unknown action $action" >&2; exit 2 ;;
esac
