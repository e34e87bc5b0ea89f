#!/usr/bin/env bash
# The install folder on the same small tmpfs as the free-space tests, so a copy
# can meet a full disk.
exec bash "$(dirname "$0")/download_space_tests.hook.sh" "$@"
