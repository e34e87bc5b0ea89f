# Configures a Windows preset for the test commands (tests, demo, benchmarks):
# its launcher exe knows the test-only key that their published trees are
# signed with. A release build takes the real key instead; without one its
# configure fails (app/shell/CMakeLists.txt).
windows_configure() {  # PRESET
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  cmake --preset "$1" -DMORVEL_MANIFEST_KEY="$(head -1 "$root/tests/support/test_signing.key.pub")" >/dev/null
}
