# Wine environment for the Win32 tests: a private Xvfb display, a template prefix
# made once per run (with the test CA trusted inside it), and a fresh copy of that
# prefix and a throwaway HOME for every test program. Never ~/.wine, never the
# machine's home. Source this file; the caller sets MORVEL_RUN (a scratch folder).

export WINEDEBUG=-all
# No menu entries or desktop files in the machine's real menus, and no Mono or
# Gecko installer prompts.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
export WINEARCH=win32

wine_start_display() {
  [ -n "${MORVEL_DISPLAY_PID:-}" ] && return 0
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    MORVEL_DISPLAY_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.1; done
    kill "$MORVEL_DISPLAY_PID" 2>/dev/null
    unset MORVEL_DISPLAY_PID
  done
  echo "wine.sh: no free X display" >&2
  return 1
}

wine_stop_display() {
  [ -n "${MORVEL_DISPLAY_PID:-}" ] && kill "$MORVEL_DISPLAY_PID" 2>/dev/null
  unset MORVEL_DISPLAY_PID
}

# Builds $MORVEL_RUN/template once: a booted 32-bit prefix. $1, when given, is
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
  return $status
}
