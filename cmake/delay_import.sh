#!/bin/sh
# delay_import.sh NM DLLTOOL IMPORT_LIB DLL OUT: a delay-import library for DLL
# naming every function of its ordinary import library IMPORT_LIB. A program
# linked against OUT loads DLL at its first call (through System32 only, once
# the entry has set the DLL search) instead of at start-up.
set -eu
nm=$1 dlltool=$2 lib=$3 dll=$4 out=$5
def=$out.def
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  # 32-bit import symbols carry the C underscore (__imp__Name@8), 64-bit ones not.
  "$nm" -g "$lib" | sed -n 's/^[0-9a-f]* I __imp_//p' | case "$dlltool" in
    *i686*) sed 's/^_//' ;;
    *) cat ;;
  esac | sort -u
} >"$def"
# -k: the DLL exports the names without their 32-bit "@N" stack size.
"$dlltool" -k --input-def "$def" --dllname "$dll" --output-delaylib "$out"
