# What the demo and the end-to-end suite share: the builds they need, the sample
# clients published with morvel-publish, a player's Wine prefix with the demo
# CA trusted inside it only, and a player's hands on the X display (xdotool)
# and eyes on it (screenshots). Source after scripts/lib/wine.sh.

player_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
player_port=47443  # MORVEL_LOOPBACK_PORT of the loopback launcher builds
player_tool=${MORVEL_PUBLISH:-$player_root/build/host/tools/publish/morvel-publish}
player_exe_dir=$MORVEL_WIN_BUILD/tests/e2e
# The loopback launchers know this test-only key's public half (tests/e2e/CMakeLists.txt).
player_key=$player_root/tests/support/test_signing.key

source "$player_root/scripts/lib/windows_build.sh"

# Builds (or finds up to date) the publishing tool and the loopback launchers.
player_build() {
  (cd "$player_root" &&
    cmake --preset host >/dev/null && cmake --build --preset host --target morvel-publish >/dev/null &&
    windows_configure "$MORVEL_WIN_PRESET" &&
    cmake --build --preset "$MORVEL_WIN_PRESET" --target loopback_launcher_v2 loopback_launcher_v3 \
      sample_client_otc sample_client_classic trust_test_ca >/dev/null)
}

# player_publish SRC WWW [LAUNCHER VERSION]: two sample client trees in SRC, published
# into WWW (the served root) by morvel-publish and verified.
player_publish() {
  local src=$1 www=$2 support=$MORVEL_WIN_BUILD/tests/support
  rm -rf "$src"
  mkdir -p "$src/otc/data" "$src/classic/Automap"
  cp "$support/sample_client_otc.exe" "$src/otc/Morvel Global.exe"
  cp "$support/sample_client_classic.exe" "$src/classic/Tibia.exe"
  # Incompressible and large enough that the download shows its progress.
  head -c 24000000 < <(openssl enc -aes-128-ctr -pass pass:morvel -nosalt -pbkdf2 </dev/zero 2>/dev/null) \
    >"$src/otc/data/things.dat"
  printf 'Sample client of the Morvel Global demo\r\n' >"$src/classic/Leia-me.txt"
  printf '2026.12\r\n' >"$src/classic/Automap/versao.txt"
  head -c 4096 /dev/zero | tr '\0' 'a' >"$src/classic/Automap/00000001.map"
  local launcher=()
  [ -n "${3:-}" ] && launcher=(--launcher "$3" --launcher-version "$4")
  "$player_tool" publish --out "$www" --key "$player_key" --otc "$src/otc" --classic "$src/classic" \
    "${launcher[@]}" >/dev/null &&
    "$player_tool" verify "$www" --key "$player_key.pub" >/dev/null
}

# player_make_prefix DIR CA_DER: DIR/prefix booted once, with the CA trusted in it.
player_make_prefix() {
  local dir=$1 ca_der=$2
  [ -f "$dir/prefix/.morvel-ready" ] && return 0
  rm -rf "$dir/prefix"
  mkdir -p "$dir/home"
  HOME="$dir/home" WINEPREFIX="$dir/prefix" wineboot -i >/dev/null 2>&1 &&
    HOME="$dir/home" WINEPREFIX="$dir/prefix" wine "$MORVEL_WIN_BUILD/tests/support/trust_test_ca.exe" \
      "Z:${ca_der//\//\\}" &&
    HOME="$dir/home" WINEPREFIX="$dir/prefix" wineserver -w &&
    touch "$dir/prefix/.morvel-ready"
}

# The player's folders inside a prefix (unix paths).
player_profile() { echo "$1/drive_c/users/$(id -un)"; }
player_install_dir() { echo "$(player_profile "$1")/AppData/Local/Morvel Global"; }
player_downloads() { echo "$(player_profile "$1")/Downloads"; }
player_desktop() { echo "$(player_profile "$1")/Desktop"; }

# xdotool with a bound: one search once waited 35 minutes on its server's
# answer, holding the whole run; bounded, it fails that step instead.
xdo() { timeout 10 xdotool "$@"; }

# player_window NAME SECONDS: the id of the first visible window of that title.
player_window() {
  local id
  for _ in $(seq $(($2 * 5))); do
    id=$(xdo search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}

# player_click WINDOW X Y: a real press and release at a point of the window.
player_click() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdo getwindowgeometry --shell "$1")"
  xdo mousemove --sync $((X + $2)) $((Y + $3))
  sleep 0.15
  xdo mousedown 1
  sleep 0.1
  xdo mouseup 1
}

# Button centres in the launcher's client area.
player_button() {
  case $1 in
    otc) echo "487 417" ;; classic) echo "607 417" ;; verify) echo "487 463" ;;
    exit) echo "607 463" ;; minimize) echo "631 41" ;; close) echo "651 41" ;;
  esac
}

player_shot() { import -window root "$1" 2>/dev/null; }
