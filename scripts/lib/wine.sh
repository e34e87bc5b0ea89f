# Wine environment for the Win32 tests: a private Xvfb display, a template prefix
# made once per run (with the test CA trusted inside it), and a fresh copy of that
# prefix and a throwaway HOME for every test program. Never ~/.wine, never the
# machine's home. Source this file; the caller sets MORVEL_RUN (a scratch folder).

export WINEDEBUG=-all
# No menu entries or desktop files in the machine's real menus, and no Mono or
# Gecko installer prompts.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"

# --- Which Windows architecture runs here ------------------------------------
# The release exe is i686, and that is what the Win32 layers run where 32-bit Wine
# runs: the kernel starts 32-bit programs (some refuse them, ia32 emulation off),
# wine32 is installed (its i386 packages can be missing from a broken mirror), and
# it starts a program. Elsewhere the same programs are built for x86_64 (preset
# mingw64) and run under 64-bit Wine. MORVEL_WINE_ARCH=win32|win64
# forces either. Sets MORVEL_WINE_ARCH, WINEARCH, MORVEL_WIN_PRESET,
# MORVEL_WIN_BUILD (the build folder of everything run under Wine),
# MORVEL_WINE_LOADER, WINELOADER and MORVEL_WINE_SUMMARY, and puts the wine and
# wineboot of scripts/lib/bin first on PATH.

source "$(dirname "${BASH_SOURCE[0]}")/kernel.sh"

# Why 32-bit Wine cannot run the Win32 layers here, or nothing where it can: the
# kernel starts 32-bit programs, the 32-bit loader is installed, and it boots a
# throwaway prefix and runs a program in it.
wine32_unusable_reason() {
  kernel_runs_32bit || { echo "this machine cannot run 32-bit programs"; return; }
  [ -x /usr/lib/wine/wine ] || { echo "32-bit Wine not installable here: wine32:i386 is not installed (scripts/setup said why)"; return; }
  local dir ok=0
  dir=$(mktemp -d /tmp/morvel-wine32.XXXXXX)
  HOME=$dir WINEPREFIX=$dir/prefix WINEARCH=win32 WINELOADER=/usr/lib/wine/wine \
    timeout 120 /usr/lib/wine/wine cmd.exe /c exit 0 >/dev/null 2>&1 && ok=1
  HOME=$dir WINEPREFIX=$dir/prefix timeout 20 /usr/lib/wine/wineserver -k >/dev/null 2>&1
  rm -rf "$dir"
  [ $ok -eq 1 ] || echo "32-bit Wine is installed but does not start a program in a new prefix"
}

wine_choose_arch() {
  local root why
  # Chosen already by the script that started this one.
  [ -n "${MORVEL_WINE_SUMMARY:-}" ] && [ -n "${MORVEL_WIN_BUILD:-}" ] && return 0
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  case "${MORVEL_WINE_ARCH:-}" in
    win32)
      why=$(wine32_unusable_reason)
      if [ -n "$why" ]; then
        echo "wine.sh: MORVEL_WINE_ARCH=win32, but $why. Use win64 or leave it unset." >&2
        return 1
      fi
      MORVEL_WINE_SUMMARY="i686 under 32-bit Wine (forced by MORVEL_WINE_ARCH)" ;;
    win64)
      MORVEL_WINE_SUMMARY="x86_64 under 64-bit Wine (forced by MORVEL_WINE_ARCH)" ;;
    "")
      why=$(wine32_unusable_reason)
      if [ -z "$why" ]; then
        MORVEL_WINE_ARCH=win32
        MORVEL_WINE_SUMMARY="i686 under 32-bit Wine"
      else
        MORVEL_WINE_ARCH=win64
        MORVEL_WINE_SUMMARY="x86_64 under 64-bit Wine ($why)"
      fi ;;
    *)
      echo "wine.sh: MORVEL_WINE_ARCH is '$MORVEL_WINE_ARCH'; it takes win32 or win64" >&2
      return 1 ;;
  esac
  if [ "$MORVEL_WINE_ARCH" = win32 ]; then
    MORVEL_WIN_PRESET=mingw MORVEL_WINE_LOADER=/usr/lib/wine/wine
  else
    MORVEL_WIN_PRESET=mingw64 MORVEL_WINE_LOADER=/usr/lib/wine/wine64
  fi
  MORVEL_WIN_BUILD=$root/build/$MORVEL_WIN_PRESET
  export MORVEL_WINE_ARCH MORVEL_WINE_SUMMARY MORVEL_WIN_PRESET MORVEL_WIN_BUILD MORVEL_WINE_LOADER
  export WINEARCH=$MORVEL_WINE_ARCH WINELOADER=$MORVEL_WINE_LOADER
  case ":$PATH:" in *":$root/scripts/lib/bin:"*) ;; *) export PATH="$root/scripts/lib/bin:$PATH" ;; esac
}
wine_choose_arch || return 1

# A private display. Xvfb chooses the number itself (-displayfd) and writes it
# once it accepts connections: runs started together never share a display,
# as they could when each picked the first number without a socket and took
# another's socket, made a moment earlier, for its own.
wine_start_display() {
  [ -n "${MORVEL_DISPLAY_PID:-}" ] && return 0
  local number
  number=$(mktemp /tmp/morvel-display.XXXXXX) || return 1
  Xvfb -displayfd 3 -screen 0 1920x1200x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
  MORVEL_DISPLAY_PID=$!
  for _ in $(seq 100); do
    if [ -s "$number" ] && grep -q '^[0-9][0-9]*$' "$number"; then
      export DISPLAY=":$(cat "$number")"
      rm -f "$number"
      return 0
    fi
    kill -0 "$MORVEL_DISPLAY_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill "$MORVEL_DISPLAY_PID" 2>/dev/null
  unset MORVEL_DISPLAY_PID
  rm -f "$number"
  echo "wine.sh: Xvfb did not start a display" >&2
  return 1
}

wine_stop_display() {
  [ -n "${MORVEL_DISPLAY_PID:-}" ] && kill "$MORVEL_DISPLAY_PID" 2>/dev/null
  unset MORVEL_DISPLAY_PID
}

# Builds $MORVEL_RUN/template once: a booted prefix of the chosen architecture. $1, when given, is
# a PE program run once inside it (the CA installer).
wine_make_template() {
  local template="$MORVEL_RUN/template"
  [ -d "$template/prefix" ] && return 0
  mkdir -p "$template/home"
  HOME="$template/home" WINEPREFIX="$template/prefix" wineboot -i >/dev/null 2>&1
  if [ -n "${1:-}" ]; then
    HOME="$template/home" WINEPREFIX="$template/prefix" wine "$@" || return 1
  fi
  HOME="$template/home" WINEPREFIX="$template/prefix" wineserver -w
}

# Runs one PE program in a fresh copy of the template; its exit code is returned.
wine_run_isolated() {
  local name dir status
  name=$(basename "$1" .exe)
  dir=$(mktemp -d "$MORVEL_RUN/$name.XXXX")
  cp -a "$MORVEL_RUN/template/prefix" "$dir/prefix"
  mkdir -p "$dir/home"
  chmod 755 "$dir"
  # A test program may come with a shell hook that prepares the machine side of
  # its prefix (a small tmpfs, say) and takes it down again afterwards.
  local hook="${MORVEL_ROOT:-.}/tests/win32/$name.hook.sh"
  [ -f "$hook" ] && { bash "$hook" up "$dir" || return 1; }
  HOME="$dir/home" WINEPREFIX="$dir/prefix" MORVEL_TEST_SCRATCH="$dir" wine "$@"
  status=$?
  HOME="$dir/home" WINEPREFIX="$dir/prefix" wineserver -k >/dev/null 2>&1
  [ -f "$hook" ] && bash "$hook" down "$dir"
  # A prefix is some 700 MiB; a run makes dozens.
  rm -rf "$dir/prefix" "$dir/home"
  return $status
}
