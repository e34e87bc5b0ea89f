#!/usr/bin/env bash
# set_dpi.sh PREFIXDIR DPI: sets the display scale of a throwaway Wine prefix
# (PREFIXDIR holds prefix/ and home/, as scripts/lib/wine.sh makes them): Wine
# takes its DPI from the LogPixels value, read when the prefix's programs start.
set -euo pipefail
dir=${1:?usage: set_dpi.sh PREFIXDIR DPI} dpi=${2:?usage: set_dpi.sh PREFIXDIR DPI}
HOME="$dir/home" WINEPREFIX="$dir/prefix" wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
  /d "$dpi" /f >/dev/null 2>&1
HOME="$dir/home" WINEPREFIX="$dir/prefix" wineserver -w
