#!/usr/bin/env bash
# Sets up a fresh machine, builds, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$@"
build=${BUILD_DIR:-$root/build}
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
