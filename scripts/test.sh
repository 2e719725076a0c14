#!/usr/bin/env bash
# Sets up a fresh machine, builds, and runs every test; then builds the fuzz harnesses (build-fuzz/) and runs
# each briefly from its seeds with a fixed random seed: FUZZ_RUNS inputs (default 20000), at most FUZZ_MAX_TIME
# seconds of fuzzing each (default 15); FUZZ_RUNS=0 skips them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$@"
build=${BUILD_DIR:-$root/build}
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
if [ "${FUZZ_RUNS:-20000}" -gt 0 ]; then
  FUZZ_FRESH=1 FUZZ_SEED=${FUZZ_SEED:-1} FUZZ_MAX_TIME=${FUZZ_MAX_TIME:-15} "$root/scripts/fuzz.sh" "${FUZZ_RUNS:-20000}"
fi
