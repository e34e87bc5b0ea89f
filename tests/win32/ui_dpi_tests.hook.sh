#!/usr/bin/env bash
# The hook of ui_dpi_NNN_tests (each a link to this file): the prefix at NNN DPI.
[ "$1" = up ] || exit 0
dpi=$(basename "$0" | sed -n 's/^ui_dpi_\([0-9]*\)_tests\.hook\.sh$/\1/p')
[ -n "$dpi" ] || { echo "ui_dpi_tests.hook.sh: run as ui_dpi_NNN_tests.hook.sh" >&2; exit 1; }
exec bash "$(dirname "$0")/../support/set_dpi.sh" "$2" "$dpi"
