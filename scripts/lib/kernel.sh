# What the kernel starts. Sourced by scripts/setup and scripts/lib/wine.sh.

# True when a 32-bit Linux program starts: a 93-byte static i386 ELF that calls
# exit(0), written here so the answer comes from the kernel, not a package list.
# MORVEL_KERNEL_RUNS_32BIT=1|0 stands in for the answer (the set-up test).
kernel_runs_32bit() {
  case "${MORVEL_KERNEL_RUNS_32BIT:-}" in 1) return 0 ;; 0) return 1 ;; esac
  local probe status
  probe=$(mktemp /tmp/morvel-elf32.XXXXXX) || return 1
  /usr/bin/python3 - "$probe" <<'PY' || { rm -f "$probe"; return 1; }
import struct, sys
code = bytes.fromhex("b801000000" "31db" "cd80")  # mov eax,1; xor ebx,ebx; int 0x80
base, size = 0x08048000, 52 + 32 + len(code)
header = b"\x7fELF\x01\x01\x01" + bytes(9) + struct.pack(
    "<HHIIIIIHHHHHH", 2, 3, 1, base + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0)
program = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
open(sys.argv[1], "wb").write(header + program + code)
PY
  chmod 755 "$probe"
  "$probe" 2>/dev/null
  status=$?
  rm -f "$probe"
  return $status
}
