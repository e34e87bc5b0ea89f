#!/usr/bin/env bash
# End-to-end suite of the real launcher exe (the loopback build of
# tests/e2e/CMakeLists.txt), driven as a player drives it: real mouse input on a
# private Xvfb (xdotool), message boxes answered the same way. It asserts the
# disk, the processes (command lines, working folders), the file host's request
# log, exit codes and screenshots.
#
#   tests/e2e/run.sh [SCENARIO...]     every scenario of the table, or those named
#                                      (or those whose "e2e/NAME" matches MORVEL_TEST_ONLY)
#
# Runs in a network namespace of its own, so nginx (or the fault server) can sit
# on the port built into the exe without meeting anything else on the machine.
# Each scenario gets a fresh copy of a prefix with the test CA trusted in it.
# Prints one "[  PASSED  ] N tests." line and, on failures, "[  FAILED  ] N tests".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
if [ "${MORVEL_E2E_INSIDE:-}" != 1 ]; then
  MORVEL_E2E_INSIDE=1 exec unshare -n bash "$0" "$@"
fi
ip link set lo up || exit 1

export MORVEL_RUN
MORVEL_RUN=$(mktemp -d /tmp/morvel-e2e.XXXXXX)
chmod 755 "$MORVEL_RUN"
run=$MORVEL_RUN
source "$root/scripts/lib/wine.sh" || exit 1
source "$root/scripts/lib/player.sh"
screen() { /usr/bin/python3 "$here/screen.py" "$@"; }

# Scenario table: name, file host (nginx, fault or none), what it shows.
scenarios=(
  "first_run            nginx  first run from the downloads folder: installed copy, shortcut, start-up"
  "play_each_client     nginx  Instalar e jogar on each client, then Jogar fetches only the manifest"
  "verify_repairs       nginx  Verificar arquivos repairs a damaged file"
  "cancel_then_resume   fault  Cancelar during a large download, then a resumed run"
  "close_during_stall   fault  closing during a stalled download ends the process cleanly"
  "kill_then_resume     fault  a launcher killed at 90% of a large body; the next run asks only for the rest"
  "second_instance      nginx  a second instance brings the first to the front and exits 0"
  "offline              none   offline start in the error colour; offline Jogar answered Yes and No"
  "self_update          nginx  a published, signed version 3 replaces the running exe and restarts it"
  "map_install_open     nginx  --instalar-mapa while a launcher window is open"
  "cut_running_path     nginx  a running path cut by the 260-character buffer deletes nothing"
  "patch_update         nginx  Jogar after a new version fetches the changed big file as a patch"
  "patch_fallback       fault  a corrupt patch falls back to the whole body, silently, with the right file"
  "old_launcher_patches nginx  a launcher built from before patches updates from a tree with patch lines"
  "old_launcher_packs   nginx  a launcher from before packs installs and updates from a tree with packs, fetching none"
  "pack_install         nginx  Jogar on a fresh install fetches the small files in packs, not one by one"
  "planted_dlls         nginx  a stand-in for every system DLL beside the exe is never loaded"
  "release_exe          none   the release exe of the build under Wine: installs itself, starts, reaches no host"
  "rollback_refused     nginx  an older signed manifest after a newer one counts as none, also after a restart"
  "mirror_takes_over    none   a first host refusing, answering 503 or serving an older manifest: the mirror installs"
  "mirror_mid_download  none   a first host cutting a body: the rest, requests under way included, from the mirror"
  "unsigned_mirrors     nginx  a build without a key, with mirrors, as before on a working first host"
)

passed=0
failed=0
current=""
check() {  # DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "  FAILED [$current] $what" >&2
  fi
}
equal() { [ "$1" = "$2" ] || { echo "    got: '$1'" >&2; echo "    expected: '$2'" >&2; return 1; }; }

cleanup() {
  stop_server
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
  wine_stop_display
  [ -n "${MORVEL_E2E_KEEP:-}" ] && cp "$run/wine.log" "$MORVEL_E2E_KEEP/" 2>/dev/null
  rm -rf "$run"
}
trap cleanup EXIT

# --- File hosts ---------------------------------------------------------------
access_log=$run/services/nginx/logs/access.log
fault_pid=""
start_server() {  # nginx | fault | none
  case $1 in
    nginx) MORVEL_NGINX_FIXED_PORT=$player_port MORVEL_NGINX_ONLY=1 \
      bash "$root/tests/support/services.sh" start "$run" >/dev/null ;;
    fault)
      mkdir -p "$run/fault"
      setsid python3 "$root/tests/support/fault_server.py" --root "$run/www" --fault-dir "$run/fault" \
        --cert "$run/tls/server.pem" --key "$run/tls/server.key" --port "$player_port" \
        --lifetime 600 </dev/null >"$run/fault.log" 2>&1 &
      fault_pid=$!
      for _ in $(seq 50); do
        curl -s -o /dev/null --cacert "$run/tls/ca.pem" "https://localhost:$player_port/" && return 0
        sleep 0.1
      done
      return 1 ;;
  esac
}
stop_server() {
  bash "$root/tests/support/services.sh" stop "$run" >/dev/null 2>&1
  bash "$root/tests/support/services.sh" stop "$run/mirror" >/dev/null 2>&1
  if [ -n "$fault_pid" ]; then kill "$fault_pid" 2>/dev/null; wait "$fault_pid" 2>/dev/null; fault_pid=""; fi
}
# The mirror: nginx on the next port over its own copy of the tree (the same
# bodies, hard-linked, and a manifest of its own).
mirror_port=$((player_port + 1))
mirror_manifest=$run/mirror/www/arquivos/launcher/manifest.txt
start_mirror() {  # MANIFEST
  rm -f "$run/mirror/services/nginx/logs/access.log"
  cp "$1" "$mirror_manifest" &&
    MORVEL_NGINX_FIXED_PORT=$mirror_port MORVEL_NGINX_ONLY=1 \
      bash "$root/tests/support/services.sh" start "$run/mirror" >/dev/null
}
mirror_requests() { awk '{ print $7 }' "$run/mirror/services/nginx/logs/access.log" 2>/dev/null | sed 's/?.*//'; }
# Request paths the file host saw, one a line, without queries.
requests() {
  {
    if [ -f "$run/fault/requests.log" ]; then cut -f3 "$run/fault/requests.log"; fi
    if [ -f "$access_log" ]; then awk '{ print $7 }' "$access_log"; fi
  } | sed 's/?.*//'
}
clear_requests() { rm -f "$run/fault/requests.log" "$run/fault/bytes.log"; [ -f "$access_log" ] && : >"$access_log"; }
# Body bytes the fault server sent for PATH (queries aside).
sent_bytes() { awk -F '\t' -v p="$1" '{ sub(/\?.*/, "", $1) } $1 == p { n += $2 } END { print n + 0 }' "$run/fault/bytes.log" 2>/dev/null; }
fault_rules() { printf '%s\n' "$@" >"$run/fault/rules.tmp" && mv "$run/fault/rules.tmp" "$run/fault/rules.txt"; }
body_path() {  # PATH [MANIFEST]: the body's request path, by the manifest in place or the one given
  echo "/arquivos/launcher/files/$(awk -F '\t' -v p="$1" '$7 == p { print $3 }' "${2:-$run/www/arquivos/launcher/manifest.txt}").dl"
}
# The "p" line's request path of the manifest in place (the next version has one).
patch_path() { awk -F '\t' '$1 == "p" { print $5 }' "$run/www/arquivos/launcher/manifest.txt"; }

# --- The player's machine -----------------------------------------------------
user=$(id -un)
win() {
  local p=${1#"$WINEPREFIX/drive_c"} drive=C
  [ "$p" = "$1" ] && drive=Z
  echo "$drive:${p//\//\\}"
}
fresh_player() {
  local dir=$run/players/$current
  rm -rf "$dir"
  mkdir -p "$dir/home"
  cp -a "$run/template/prefix" "$dir/prefix"
  export WINEPREFIX=$dir/prefix HOME=$dir/home
  install_dir=$(player_install_dir "$WINEPREFIX")
  downloads=$(player_downloads "$WINEPREFIX")
  desktop=$(player_desktop "$WINEPREFIX")
  appdata=$(player_profile "$WINEPREFIX")/AppData/Roaming
  mkdir -p "$downloads"
  cp "$player_exe_dir/loopback_launcher_v2.exe" "$downloads/Morvel-Global-Launcher.exe"
  downloaded=$downloads/Morvel-Global-Launcher.exe
  installed="$install_dir/Morvel Global Launcher.exe"
}
shots=$run/shots
shot() { mkdir -p "$shots"; player_shot "$shots/$current-$1.png"; echo "$shots/$current-$1.png"; }

# launch EXE [ARGS...]: starts it by its Windows path; the pid goes to $launched.
launch() {
  local exe=$1
  shift
  wine "$(win "$exe")" "$@" >>"$run/wine.log" 2>&1 &
  launched=$!
}
# exit_code PID SECONDS: the exit code, or 255 when it still runs after SECONDS.
exit_code() {
  for _ in $(seq $(($2 * 5))); do
    kill -0 "$1" 2>/dev/null || { wait "$1"; return $?; }
    sleep 0.2
  done
  return 255
}
window_state() { wine "$(win "$player_exe_dir/window_state.exe")" 2>/dev/null | tr -d '\r'; }
gone() { for _ in $(seq $(($2 * 5))); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.2; done; return 1; }
main_window() { player_window "Morvel Global Launcher" "${1:-60}"; }
click() { read -r x y <<<"$(player_button "$2")"; player_click "$1" "$x" "$y"; }

# The lower panel (status, bars, buttons) unchanged over three shots half a
# second apart: the task has ended and the launcher is idle or waiting.
settle() {
  local window=$1 last="" same=0 X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdo getwindowgeometry --shell "$window")"
  for _ in $(seq 120); do
    player_shot "$run/settle.png"
    local now
    now=$(screen hash "$run/settle.png" $((X + 20)) $((Y + 385)) 650 100)
    if [ "$now" = "$last" ]; then same=$((same + 1)); else same=0; fi
    [ "$same" -ge 3 ] && return 0
    last=$now
    sleep 0.5
  done
  return 1
}
# status_colours WINDOW PNG: gold=N error=N muted=N of the status title line.
status_colours() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdo getwindowgeometry --shell "$1")"
  screen colours "$2" $((X + 30)) $((Y + 391)) 390 35
}
has_gold_title() { [[ "$1" =~ gold=([0-9]+)\ error=0 ]] && [ "${BASH_REMATCH[1]}" -gt 40 ]; }
has_error_title() { [[ "$1" =~ gold=0\ error=([0-9]+) ]] && [ "${BASH_REMATCH[1]}" -gt 40 ]; }

# The launch record a sample client writes beside itself: command line, then folder.
record() { iconv -f UTF-16LE -t UTF-8 "$1/launch-record.txt" 2>/dev/null; }
wait_file() { for _ in $(seq $(($2 * 5))); do [ -e "$1" ] && return 0; sleep 0.2; done; return 1; }
same_file() { cmp -s "$1" "$2"; }
client_dir() { [ "$1" = otc ] && echo "$install_dir/Morvel Global" || echo "$install_dir/Morvel Global 8.60"; }
client_exe() { [ "$1" = otc ] && echo "$(client_dir otc)/Morvel Global.exe" || echo "$(client_dir classic)/Tibia.exe"; }
closed_by_box() { click "$1" close; exit_code "$2" 15; }

# Starts the downloaded launcher and waits for the start-up check to end.
start_and_settle() {
  launch "${1:-$downloaded}"
  window=$(main_window) || return 1
  settle "$window"
}

# --- Scenarios ----------------------------------------------------------------
scenario_first_run() {
  start_and_settle
  check "the window opens" [ -n "$window" ]
  check "the installed copy is the downloaded file byte for byte" same_file "$downloaded" "$installed"
  local link
  link=$(wine "$(win "$player_exe_dir/read_shortcut.exe")" "$(win "$desktop/Morvel Global.lnk")" 2>/dev/null | tr -d '\r')
  check "the shortcut's target is the installed copy" equal "$(sed -n 1p <<<"$link")" "$(win "$installed")"
  check "the shortcut's working folder is the install folder" equal "$(sed -n 2p <<<"$link")" "$(win "$install_dir")"
  check "the shortcut's description" equal "$(sed -n 3p <<<"$link")" "Morvel Global Launcher"
  check "start-up ends on the ready text's gold title" has_gold_title "$(status_colours "$window" "$(shot start-up)")"
  check "start-up fetched the manifest" grep -qx /arquivos/launcher/manifest.txt <(requests)
  closed_by_box "$window" "$launched"
  check "closing gives exit code 0" equal $? 0

  # The installed copy, started as the shortcut starts it: neither copy nor shortcut changes.
  local before
  before=$(stat -c '%Y %s' "$installed" "$desktop/Morvel Global.lnk"; sha256sum "$installed" "$desktop/Morvel Global.lnk")
  sleep 1.1  # a rewrite would show in the modification times
  start_and_settle "$installed"
  closed_by_box "$window" "$launched"
  check "the installed copy's run exits 0" equal $? 0
  check "running the installed copy changes neither copy nor shortcut" equal \
    "$(stat -c '%Y %s' "$installed" "$desktop/Morvel Global.lnk"; sha256sum "$installed" "$desktop/Morvel Global.lnk")" "$before"
}

# play CLIENT EXE: clicks the client's button and expects it started, the launcher gone.
play() {
  local client=$1 dir
  dir=$(client_dir "$client")
  rm -f "$dir/launch-record.txt"
  start_and_settle "$2"
  click "$window" "$client"
  check "$client: the client starts" wait_file "$dir/launch-record.txt" 60
  check "$client: started by its quoted path" equal "$(record "$dir" | sed -n 1p)" "\"$(win "$(client_exe "$client")")\""
  check "$client: started in its own folder" equal "$(record "$dir" | sed -n 2p)" "$(win "$dir")"
  exit_code "$launched" 20
  check "$client: the launcher is gone with exit code 0" equal $? 0
}

scenario_play_each_client() {
  play otc "$downloaded"
  check "otc: every file as published" diff -r "$run/src/otc" "$(client_dir otc)" -x launch-record.txt
  play classic "$installed"
  check "classic: every file as published" diff -r "$run/src/classic" "$(client_dir classic)" -x launch-record.txt
  check "classic: the Automap is in the Tibia client's map folder" \
    same_file "$run/src/classic/Automap/00000001.map" "$appdata/Tibia/Automap/00000001.map"
  clear_requests
  play otc "$installed"
  check "Jogar on a current client fetches only the manifest" equal "$(requests | sort -u)" /arquivos/launcher/manifest.txt
}

scenario_verify_repairs() {
  play otc "$downloaded"
  local damaged="$install_dir/Morvel Global/data/things.dat"
  printf 'damaged' | dd of="$damaged" bs=1 seek=1000 conv=notrunc status=none
  clear_requests
  start_and_settle "$installed"
  click "$window" verify
  sleep 1
  settle "$window"
  check "Verificar arquivos ends on a gold title" has_gold_title "$(status_colours "$window" "$(shot verified)")"
  check "the damaged file is repaired" same_file "$run/src/otc/data/things.dat" "$damaged"
  check "only the damaged file's body is fetched" equal "$(requests | grep '\.dl$')" "$(body_path data/things.dat)"
  closed_by_box "$window" "$launched"
  check "closing gives exit code 0" equal $? 0
}

# Waits until the file host has seen a request for PATH.
wait_request() { for _ in $(seq $(($2 * 5))); do requests | grep -qx "$1" && return 0; sleep 0.2; done; return 1; }

scenario_cancel_then_resume() {
  local big exe_body
  big=$(body_path data/things.dat)
  exe_body=$(body_path "Morvel Global.exe")
  fault_rules "$big stall 8 200000 times=1"
  start_and_settle
  click "$window" otc
  check "the large file's download begins" wait_request "$big" 30
  shot downloading >/dev/null
  click "$window" exit
  settle "$window"
  check "Cancelar ends the task in the normal colours" has_gold_title "$(status_colours "$window" "$(shot cancelled)")"
  check "the launcher stays open after Cancelar" kill -0 "$launched"
  check "no half-written file in place" [ ! -e "$install_dir/Morvel Global/data/things.dat" ]
  check "no partial download left behind" [ -z "$(find "$install_dir" -name '*.part')" ]
  check "the client does not start" [ ! -e "$install_dir/Morvel Global/launch-record.txt" ]
  clear_requests
  click "$window" otc
  check "the resumed run starts the client" wait_file "$install_dir/Morvel Global/launch-record.txt" 60
  check "the resumed run fetches what was missing" grep -qx "$big" <(requests)
  check "the resumed run keeps what was complete" bash -c "! grep -qx '$exe_body' <<<\"\$1\"" _ "$(requests)"
  check "the resumed file is whole" same_file "$run/src/otc/data/things.dat" "$install_dir/Morvel Global/data/things.dat"
  exit_code "$launched" 20
  check "the launcher is gone with exit code 0" equal $? 0
}

scenario_close_during_stall() {
  local big
  big=$(body_path data/things.dat)
  fault_rules "$big stall 60 200000"
  start_and_settle
  click "$window" otc
  check "the large file's download begins" wait_request "$big" 30
  local t0
  t0=$(date +%s%N)
  click "$window" close
  exit_code "$launched" 15
  check "closed during a stalled download, the process ends with exit code 0" equal $? 0
  local waited=$((($(date +%s%N) - t0) / 1000000))
  echo "  close during the stall: the process was gone ${waited} ms after the click (polled every 200 ms)"
  check "the worker ends well inside the 3000 ms the window waits" at_least 3000 "$waited"
  check "no half-written file in place" [ ! -e "$install_dir/Morvel Global/data/things.dat" ]
  check "the file finished before is whole" same_file "$run/src/otc/Morvel Global.exe" \
    "$install_dir/Morvel Global/Morvel Global.exe"
}

# The record beside a ".part": the body offset of its point.
record_body() { awk -F '\t' '$1 == "body" { print $2 }' "$1" 2>/dev/null; }
at_least() { [ "${1:-0}" -ge "$2" ]; }
# Whether a request for PATH carried "Range: bytes=FROM-".
asked_range() {
  awk -F '\t' -v p="$1" -v r="Range: bytes=$2-" '$3 == p { for (i = 4; i <= NF; i++) if ($i == r) found = 1 }
    END { exit !found }' "$run/fault/requests.log"
}
wait_point() {  # RECORD OFFSET SECONDS: until the record's point reaches OFFSET
  for _ in $(seq $(($3 * 5))); do at_least "$(record_body "$1")" "$2" && return 0; sleep 0.2; done
  return 1
}

scenario_kill_then_resume() {
  local big size cut part from
  big=$(body_path data/things.dat)
  size=$(stat -c %s "$run/www$big")
  cut=$((size * 9 / 10))
  part="$install_dir/Morvel Global/data/things.dat.part"
  fault_rules "$big stall 60 $cut"
  start_and_settle
  click "$window" otc
  check "the record beside the .part reaches the last point before the cut" \
    wait_point "$part.state" $((cut - (1 << 20) - (256 << 10))) 60
  wineserver -k >/dev/null 2>&1  # the process killed, as by the task manager or a crash
  check "the killed launcher is gone" gone "$launched" 15
  check "the .part outlives the killed process" [ -s "$part" ]
  from=$(record_body "$part.state")
  fault_rules ""
  clear_requests
  start_and_settle "$installed"
  click "$window" otc
  check "the next run starts the client" wait_file "$install_dir/Morvel Global/launch-record.txt" 60
  check "it asks for the rest only, from the record's point" asked_range "$big" "$from"
  check "no whole body is fetched again" equal "$(requests | grep -c -x -F "$big")" 1
  check "it fetches the rest and no more" equal "$(sent_bytes "$big")" $((size - from))
  check "the point was at most 1.25 MiB before the cut" at_least $((from + (1 << 20) + (256 << 10))) "$cut"
  check "the file is whole" same_file "$run/src/otc/data/things.dat" "$install_dir/Morvel Global/data/things.dat"
  check "nothing staged is left" [ -z "$(find "$install_dir" -name '*.part*')" ]
  exit_code "$launched" 20
  check "the launcher is gone with exit code 0" equal $? 0
}

scenario_second_instance() {
  start_and_settle
  local first=$launched
  click "$window" minimize
  sleep 1
  # Another program's window in front of it.
  wine "$(win "$MORVEL_WIN_BUILD/tests/support/sample_client_classic.exe")" >>"$run/wine.log" 2>&1 &
  player_window "Tibia 8.60" 30 >/dev/null
  check "the first window is minimized, another in front" equal "$(window_state)" "iconic=1 foreground=0"
  launch "$downloaded"
  exit_code "$launched" 20
  check "the second instance exits 0" equal $? 0
  check "the first instance still runs" kill -0 "$first"
  check "the first window is restored and in front" equal "$(window_state)" "iconic=0 foreground=1"
  shot restored >/dev/null
  closed_by_box "$window" "$first"
  check "the first closes with exit code 0" equal $? 0
}

# The question box: the launcher's other window of that title. Answers with a click
# on its Yes (left) or No (right) button, found in a screenshot of the box.
answer_box() {
  local box="" id X Y WIDTH HEIGHT SCREEN WINDOW
  for _ in $(seq 100); do
    for id in $(xdo search --onlyvisible --name '^Morvel Global Launcher$' 2>/dev/null); do
      eval "$(xdo getwindowgeometry --shell "$id")"
      [ "$WIDTH" != 688 ] && box=$id
    done
    [ -n "$box" ] && break
    sleep 0.2
  done
  [ -n "$box" ] || return 1
  sleep 0.5
  eval "$(xdo getwindowgeometry --shell "$box")"
  shot "question-$1" >/dev/null
  local buttons
  buttons=$(/usr/bin/python3 "$here/find_buttons.py" "$shots/$current-question-$1.png" "$X" "$Y" "$WIDTH" "$HEIGHT") ||
    return 1
  read -r yes_x yes_y no_x no_y <<<"$buttons"
  if [ "$1" = yes ]; then player_click "$box" "$yes_x" "$yes_y"; else player_click "$box" "$no_x" "$no_y"; fi
}

scenario_offline() {
  start_and_settle
  check "offline start-up shows its texts in the error colour" has_error_title "$(status_colours "$window" "$(shot start-up)")"
  closed_by_box "$window" "$launched"
  check "closing gives exit code 0" equal $? 0

  # An installed client, played without the file host: the player is asked.
  mkdir -p "$install_dir"
  cp -r "$run/src/otc" "$(client_dir otc)"
  local answer
  for answer in no yes; do
    start_and_settle
    click "$window" otc
    check "Jogar offline asks ($answer)" answer_box "$answer"
    if [ "$answer" = no ]; then
      settle "$window"
      check "No: the client does not start" [ ! -e "$(client_dir otc)/launch-record.txt" ]
      check "No: the launcher stays open" kill -0 "$launched"
      closed_by_box "$window" "$launched"
      check "No: closing gives exit code 0" equal $? 0
    else
      check "Yes: the client starts" wait_file "$(client_dir otc)/launch-record.txt" 30
      exit_code "$launched" 20
      check "Yes: the launcher is gone with exit code 0" equal $? 0
    fi
  done
}

scenario_self_update() {
  cp "$run/manifest-v3.txt" "$run/www/arquivos/launcher/manifest.txt"
  local v3=$signed_v3 seen_old=no
  check "the published version 3 is the signed build" \
    bash -c '! cmp -s "$1" "$2" && osslsigncode verify -CAfile "$3" -in "$1" >/dev/null' _ \
    "$v3" "$player_exe_dir/loopback_launcher_v3.exe" "$run/tls/ca.pem"
  launch "$downloaded"
  local old_pid=$launched
  for _ in $(seq 300); do
    [ -e "$downloaded.old" ] && seen_old=yes
    cmp -s "$downloaded" "$v3" && ! kill -0 "$old_pid" 2>/dev/null && [ ! -e "$downloaded.old" ] && break
    sleep 0.1
  done
  exit_code "$old_pid" 20
  check "the old launcher ends with exit code 0" equal $? 0
  check "the running path holds the signed version 3" same_file "$v3" "$downloaded"
  check "the previous executable was set aside as .old (seen: $seen_old) and is gone" [ ! -e "$downloaded.old" ]
  check "no .novo is left" [ ! -e "$downloaded.novo" ]
  check "the new exe was fetched" grep -q "\.exe$" <(requests)
  local p restarted=""
  for p in $(pgrep -f -- "--atualizado"); do
    [ "$(tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null | sed 's/ *$//')" = "$(win "$downloaded") --atualizado" ] &&
      restarted=$p
  done
  check "the new exe runs, restarted with --atualizado" [ -n "$restarted" ]
  window=$(main_window 30)
  check "the new launcher's window opens" [ -n "$window" ]
  settle "$window"
  check "version 3 is current: it ends on the gold title" has_gold_title "$(status_colours "$window" "$(shot updated)")"
  click "$window" close
  check "the restarted launcher closes" gone "$restarted" 15
}

scenario_map_install_open() {
  play classic "$downloaded"
  rm -rf "$appdata/Tibia"
  start_and_settle "$installed"
  local first=$launched
  launch "$installed" --instalar-mapa
  exit_code "$launched" 20
  check "the map-install run exits 0" equal $? 0
  check "the Automap is installed" same_file "$run/src/classic/Automap/00000001.map" "$appdata/Tibia/Automap/00000001.map"
  check "the open launcher still runs" kill -0 "$first"
  closed_by_box "$window" "$first"
  check "the open launcher closes with exit code 0" equal $? 0
}

scenario_cut_running_path() {
  local profile
  profile=$(player_profile "$WINEPREFIX")
  local folder=$profile/$(printf 'd%.0s' $(seq 150))/$(printf 'e%.0s' $(seq 100))
  mkdir -p "$folder"
  cp "$downloaded" "$folder/Morvel-Global-Launcher.exe"
  local full cut
  full=$(win "$folder/Morvel-Global-Launcher.exe")
  cut=${full:0:259}
  # The file that the cut path plus ".old" names: someone else's.
  local decoy=$profile/$(printf 'd%.0s' $(seq 150))/${cut##*\\}.old
  echo "not the launcher's" >"$decoy"
  start_and_settle "$folder/Morvel-Global-Launcher.exe"
  check "a cut running path deletes nothing" [ -e "$decoy" ]
  check "nor installs a copy from a cut path" [ ! -e "$installed" ]
  closed_by_box "$window" "$launched"
  check "closing gives exit code 0" equal $? 0
}

# The next version in place: data/things.dat with records rewritten and
# inserted, published over version 1 so that it comes with a patch.
next_version() { cp "$run/manifest-next.txt" "$run/www/arquivos/launcher/manifest.txt"; }
lacks_line() { ! grep -qx -F -e "$1" <<<"$2"; }  # LINE TEXT
expect_next_version() {
  check "otc: every file as in the next version" diff -r "$run/src-next/otc" "$(client_dir otc)" -x launch-record.txt
}

scenario_patch_update() {
  play otc "$downloaded"
  next_version
  clear_requests
  play otc "$installed"
  expect_next_version
  check "the patch was fetched" grep -qx "$(patch_path)" <(requests)
  check "no whole body of the patched file" lacks_line "$(body_path data/things.dat)" "$(requests)"
}

scenario_patch_fallback() {
  play otc "$downloaded"
  next_version
  fault_rules "$(patch_path) body 5000"
  clear_requests
  play otc "$installed"
  expect_next_version
  check "the patch was asked for, then the whole body" equal "$(requests | grep -e '\.dl$')" \
    "$(printf '%s\n%s' "$(patch_path)" "$(body_path data/things.dat)")"
}

scenario_old_launcher_patches() {
  if [ ! -f "$old_exe" ]; then
    check "the launcher from before patches was built ($old_exe)" false
    return
  fi
  cp "$old_exe" "$downloaded"
  play otc "$downloaded"
  next_version
  clear_requests
  play otc "$installed"
  expect_next_version
  check "it asked for no patch" lacks_line "$(patch_path)" "$(requests)"
  check "it fetched the whole body" grep -qx "$(body_path data/things.dat)" <(requests)
}

pack_requests() { requests | grep -e '^/arquivos/launcher/packs/'; }
# Bodies of the classic client (its small files) that lie in a pack of the
# manifest in place.
packed_bodies() {
  awk -F '\t' '$1 == "k" && $2 == "classic" { for (i = 6; i <= NF; i += 3) print "/arquivos/launcher/files/" $i ".dl" }' \
    "$run/www/arquivos/launcher/manifest.txt"
}

scenario_old_launcher_packs() {
  if [ ! -f "$old_exe" ]; then
    check "the launcher from before packs was built ($old_exe)" false
    return
  fi
  check "the tree has classic packs" [ -n "$(packed_bodies)" ]
  cp "$old_exe" "$downloaded"
  play classic "$downloaded"
  check "classic: every file as published" diff -r "$run/src/classic" "$(client_dir classic)" -x launch-record.txt
  check "the install asked for no pack" equal "$(pack_requests)" ""
  check "it fetched the packed files' bodies" equal "$(grep -c -x -F -f <(packed_bodies) <(requests))" \
    "$(packed_bodies | wc -l)"
  next_version
  clear_requests
  play otc "$installed"
  expect_next_version
  check "the next version asked for no pack" equal "$(pack_requests)" ""
}

scenario_pack_install() {
  check "the tree has classic packs" [ -n "$(packed_bodies)" ]
  play classic "$downloaded"
  check "classic: every file as published" diff -r "$run/src/classic" "$(client_dir classic)" -x launch-record.txt
  check "it fetched packs" [ -n "$(pack_requests)" ]
  check "no single body of a packed file" equal "$(grep -x -F -f <(packed_bodies) <(requests))" ""
}

# The DLLs the exe uses: every DLL name in it (its import table, the delay
# imports' names, the names it loads by) and bcrypt, which the signature check
# loads. kernel32 and msvcrt are KnownDLLs on every Windows, loaded from System32
# before the exe's first instruction; a stand-in for them would only show Wine's
# order, not Windows'.
used_dlls() {
  { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p'
    strings -a "$1"
    strings -a -el "$1"
    echo bcrypt.dll
  } | grep -ioE '^[a-z0-9_.-]+[.]dll$' | tr 'A-Z' 'a-z' | sort -u | grep -v -x -e kernel32.dll -e msvcrt.dll
}

scenario_planted_dlls() {
  local names name overrides=""
  names=$(used_dlls "$downloaded")
  check "the probe covers winhttp, gdiplus and bcrypt" \
    bash -c 'grep -qx winhttp.dll <<<"$1" && grep -qx gdiplus.dll <<<"$1" && grep -qx bcrypt.dll <<<"$1"' _ "$names"
  for name in $names; do
    cp "$player_exe_dir/../support/planted_dll.dll" "$downloads/$name"
    overrides+=";${name%.dll}=n,b"  # native first, from the exe's folder: Windows' order
  done
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES$overrides" start_and_settle
  check "start-up ends on the ready text's gold title" has_gold_title "$(status_colours "$window" "$(shot start-up)")"
  check "start-up fetched the manifest" grep -qx /arquivos/launcher/manifest.txt <(requests)
  closed_by_box "$window" "$launched"
  check "closing gives exit code 0" equal $? 0
  for name in $names; do
    check "$name planted beside the exe is never loaded" [ ! -e "$downloads/$name.loaded" ]
  done
}

scenario_release_exe() {
  # The product as shipped (its real file host, unreachable from here): the i686
  # exe where 32-bit Wine runs, else its x86_64 twin.
  cp "$MORVEL_WIN_BUILD/Morvel-Global-Launcher.exe" "$downloaded"
  start_and_settle
  check "the window opens" [ -n "$window" ]
  check "the installed copy is the release exe byte for byte" same_file "$downloaded" "$installed"
  check "with no file host its start-up ends in the error colour" \
    has_error_title "$(status_colours "$window" "$(shot start-up)")"
  closed_by_box "$window" "$launched"
  check "closing gives exit code 0" equal $? 0
}

# --- The manifest's serial and the mirrors ---------------------------------------
record_file() { echo "$install_dir/manifest-serial.txt"; }
serial_of() { awk -F '\t' '$1 == "serial" { print $2 }' "$1"; }
# The launcher's answer to a manifest it refuses: the offline texts at start-up,
# and for an installed client the question, answered No; nothing fetched, nothing
# changed, nothing started.
expect_refused() {  # WHAT
  local before
  before=$(cd "$(client_dir otc)" && find . -type f ! -name launch-record.txt -exec sha256sum {} + | sort)
  rm -f "$(client_dir otc)/launch-record.txt"
  clear_requests
  start_and_settle "$installed"
  check "$1: start-up shows the offline texts in the error colour" \
    has_error_title "$(status_colours "$window" "$(shot "$1-start-up")")"
  click "$window" otc
  check "$1: Jogar asks whether to open the client anyway" answer_box "no-$1"
  settle "$window"
  check "$1: the client does not start" [ ! -e "$(client_dir otc)/launch-record.txt" ]
  check "$1: only the manifest was fetched" equal "$(requests | sort -u)" /arquivos/launcher/manifest.txt
  check "$1: no file changed" equal \
    "$(cd "$(client_dir otc)" && find . -type f ! -name launch-record.txt -exec sha256sum {} + | sort)" "$before"
  closed_by_box "$window" "$launched"
  check "$1: closing gives exit code 0" equal $? 0
}

scenario_rollback_refused() {
  next_version
  play otc "$downloaded"
  expect_next_version
  check "the accepted serial is recorded in the install folder" \
    equal "$(cat "$(record_file)")" "$(serial_of "$run/manifest-next.txt")"
  cp "$run/manifest-v2.txt" "$run/www/arquivos/launcher/manifest.txt"
  expect_refused older
  # A new process reads the record from disk.
  expect_refused "older-after-a-restart"
  expect_next_version
  next_version
  clear_requests
  play otc "$installed"
  check "the same serial again is accepted" grep -qx /arquivos/launcher/manifest.txt <(requests)
}

# Installs the OTClient from scratch (the record stays) with the launcher built
# with a mirror; the mirror serves the next version.
install_through_mirror() {  # WHAT
  rm -rf "$(client_dir otc)"
  : >"$run/mirror/services/nginx/logs/access.log"
  clear_requests
  play otc "$installed"
  expect_next_version
  check "$1: the mirror served the bodies" grep -qx "$(body_path data/things.dat "$run/manifest-next.txt")" <(mirror_requests)
  check "$1: the first host was asked for the manifest at most" \
    bash -c '[ -z "$(grep -v -x /arquivos/launcher/manifest.txt <<<"$1")" ]' _ "$(requests)"
}

scenario_mirror_takes_over() {
  cp "$player_exe_dir/loopback_launcher_mirrors.exe" "$downloaded"
  start_mirror "$run/manifest-next.txt" || { check "the mirror starts" false; return; }
  start_and_settle
  closed_by_box "$window" "$launched"
  check "the mirrors build runs its first start" equal $? 0
  install_through_mirror "first host refusing connections"
  start_server fault || { check "the fault server starts" false; return; }
  fault_rules "* status 503"
  install_through_mirror "first host answering 503"
  stop_server
  start_mirror "$run/manifest-next.txt"
  start_server nginx  # serving manifest-v2, older than the one recorded
  check "the record holds the next version's serial" equal "$(cat "$(record_file)")" "$(serial_of "$run/manifest-next.txt")"
  install_through_mirror "first host serving an older manifest"
}

scenario_mirror_mid_download() {
  cp "$player_exe_dir/loopback_launcher_mirrors.exe" "$downloaded"
  cp "$run/manifest-v2.txt" "$run/www/arquivos/launcher/manifest.txt"
  start_mirror "$run/manifest-v2.txt" || { check "the mirror starts" false; return; }
  start_server fault || { check "the fault server starts" false; return; }
  local exe_body
  exe_body=$(body_path "Morvel Global.exe")
  # The first body is cut; data/things.dat's request is already out by then.
  fault_rules "$exe_body drop 10000"
  play otc "$downloaded"
  check "every file is right" diff -r "$run/src/otc" "$(client_dir otc)" -x launch-record.txt
  check "the first host was asked for the cut body once" equal "$(requests | grep -c -x "$exe_body")" 1
  check "the mirror served the cut body" grep -qx "$exe_body" <(mirror_requests)
  check "the mirror served the body requested ahead" grep -qx "$(body_path data/things.dat)" <(mirror_requests)
  check "the mirror was not asked for the manifest" bash -c '! grep -qx /arquivos/launcher/manifest.txt <<<"$1"' _ \
    "$(mirror_requests)"
}

scenario_unsigned_mirrors() {
  cp "$player_exe_dir/loopback_launcher_unsigned_mirrors.exe" "$downloaded"
  start_mirror "$run/manifest-next.txt" || { check "the mirror starts" false; return; }
  next_version
  play otc "$downloaded"
  expect_next_version
  check "everything came from the first host" grep -qx "$(body_path data/things.dat)" <(requests)
  check "the mirror was asked nothing" equal "$(mirror_requests | grep -v -x /)" ""  # but services.sh's "is it up"
  check "no serial is recorded" [ ! -e "$(record_file)" ]
  # An older manifest is taken as before.
  cp "$run/manifest-v2.txt" "$run/www/arquivos/launcher/manifest.txt"
  play otc "$installed"
  check "the older version is installed" diff -r "$run/src/otc" "$(client_dir otc)" -x launch-record.txt
}

# --- The run --------------------------------------------------------------------
wine_start_display || exit 1
bash "$root/tests/support/make_tls.sh" "$run/tls" || exit 1
player_make_prefix "$run/template" "$run/tls/ca.der" || exit 1
mkdir -p "$run/www"
# Version 3 goes out as a release does: Authenticode-signed (by a certificate of
# the test CA) before it is hashed into the manifest.
player_publish "$run/src" "$run/www" || exit 1
"$player_tool" publish --out "$run/www" --key "$player_key" --otc "$run/src/otc" --classic "$run/src/classic" \
  --launcher "$player_exe_dir/loopback_launcher_v3.exe" --launcher-version 3 \
  --sign-cert "$run/tls/codesign.pem" --sign-key "$run/tls/codesign.key" >/dev/null &&
  "$player_tool" verify "$run/www" --key "$player_key.pub" --sign-ca "$run/tls/ca.pem" >/dev/null || exit 1
cp "$run/www/arquivos/launcher/manifest.txt" "$run/manifest-v3.txt"
signed_v3=$run/www$(awk -F '\t' '$1 == "self" { print $4 }' "$run/manifest-v3.txt")
player_publish "$run/src" "$run/www" "$player_exe_dir/loopback_launcher_v2.exe" 2 || exit 1
cp "$run/www/arquivos/launcher/manifest.txt" "$run/manifest-v2.txt"
cp -a "$run/src" "$run/src-next"
python3 - "$run/src-next/otc/data/things.dat" <<'PY' || exit 1
import os, sys
data = bytearray(open(sys.argv[1], "rb").read())
for at in range(1000000, len(data), 5000000):
    data[at:at + 3000] = os.urandom(3000)      # a record rewritten
data[7000000:7000000] = os.urandom(2500)        # one inserted
open(sys.argv[1], "wb").write(data)
PY
"$player_tool" publish --out "$run/www" --key "$player_key" --otc "$run/src-next/otc" \
  --classic "$run/src-next/classic" --launcher "$player_exe_dir/loopback_launcher_v2.exe" --launcher-version 2 >/dev/null &&
  "$player_tool" verify "$run/www" --key "$player_key.pub" >/dev/null || exit 1
grep -q -P '^p\t' "$run/www/arquivos/launcher/manifest.txt" || { echo "run.sh: the next version has no patch" >&2; exit 1; }
cp "$run/www/arquivos/launcher/manifest.txt" "$run/manifest-next.txt"
mkdir -p "$run/mirror"
cp -a "$run/tls" "$run/mirror/tls"
cp -al "$run/www" "$run/mirror/www"
rm -f "$mirror_manifest"  # its own file, not a link to the first host's
# A launcher built from the code before patches (cached in build/e2e-old).
old_exe=${MORVEL_OLD_LAUNCHER:-$root/build/e2e-old/loopback_launcher_v2.exe}
named=" $* "
wanted() {  # SCENARIO: named on the command line (or none named) and matching MORVEL_TEST_ONLY
  { [ "$named" = "  " ] || [[ $named == *" $1 "* ]]; } && { [ -z "${MORVEL_TEST_ONLY:-}" ] || [[ e2e/$1 =~ $MORVEL_TEST_ONLY ]]; }
}
if [ -z "${MORVEL_OLD_LAUNCHER:-}" ] && { wanted old_launcher_patches || wanted old_launcher_packs; }; then
  bash "$here/old_launcher.sh" || echo "run.sh: the launcher from before patches did not build" >&2
fi

for row in "${scenarios[@]}"; do
  read -r name server what <<<"$row"
  wanted "$name" || continue
  current=$name
  echo "[ RUN      ] $name: $what"
  cp "$run/manifest-v2.txt" "$run/www/arquivos/launcher/manifest.txt"
  rm -f "$run/fault/rules.txt"
  start_server "$server" || { check "the file host starts" false; continue; }
  clear_requests
  fresh_player
  before=$failed
  "scenario_$name"
  wineserver -k >/dev/null 2>&1
  rm -rf "$run/players/$current"  # some 700 MiB a player
  stop_server
  [ "$failed" -eq "$before" ] && echo "[       OK ] $name" || echo "[  FAILED  ] $name"
done

echo "screenshots: $shots (removed with the run folder; set MORVEL_E2E_KEEP to keep them)"
[ -n "${MORVEL_E2E_KEEP:-}" ] && { mkdir -p "$MORVEL_E2E_KEEP"; cp -r "$shots/." "$MORVEL_E2E_KEEP/"; }
echo "[  PASSED  ] $passed tests."
[ "$failed" -gt 0 ] && echo "[  FAILED  ] $failed tests, listed above"
[ "$failed" -eq 0 ]
