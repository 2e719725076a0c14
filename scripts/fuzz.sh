#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang (ASan and UBSan) into build-fuzz/ (or $FUZZ_BUILD_DIR), and
# runs each for the given number of inputs, starting from the seeds it writes itself and the corpus of earlier
# runs (build-fuzz/corpus/<harness>). Prints one line per harness; a failing input is kept in
# build-fuzz/artifacts/<harness>/ and the run's output in build-fuzz/logs/<harness>.log.
#   ./scripts/fuzz.sh [RUNS] [HARNESS...]     RUNS defaults to 100000, 0 only builds; default: every harness
# FUZZ_MAX_TIME=S stops each harness after S seconds at the latest; FUZZ_SKIP_BUILD=1 runs what is built;
# FUZZ_JOBS=N runs each harness as N processes side by side, RUNS/N inputs each, sharing the corpus (the figures
# printed are their sums; each process's output is in build-fuzz/logs/<harness>.<n>.log).
# FUZZ_FRESH=1 starts from the seeds alone (in build-fuzz/corpus-fresh/, emptied first) instead of the corpus of
# earlier runs; FUZZ_SEED=N fixes libFuzzer's random seed. The test command uses both for short, repeatable runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
runs=${1:-100000}
shift || true

if [ "${FUZZ_SKIP_BUILD:-0}" != 1 ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORRIN_FUZZ=ON \
    -DQUORRIN_SANITIZE=address -DQUORRIN_BUILD_TESTS=OFF -DQUORRIN_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" --target quorrin_fuzzers -j"$(nproc)" >"$build/fuzz-build.log" 2>&1 ||
    { tail -n 40 "$build/fuzz-build.log"; exit 1; }
fi
[ "$runs" -gt 0 ] || exit 0

harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  for src in "$root"/fuzz/fuzz_*.cpp; do harnesses+=("$(basename "$src" .cpp)"); done
fi

export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8

# The request harness's dictionary: the keys the handlers read, taken from their sources as they stand.
dict=$build/fuzz_requests.dict
if [[ " ${harnesses[*]} " == *" fuzz_requests "* ]]; then
  {
    printf '%s\n' MainType SubType MsgID
    grep -ohE '(\["|isMember\(")[A-Za-z0-9_]+"' "$root"/requests/*.cpp | sed -E 's/^(\["|isMember\(")//; s/"$//'
  } | sort -u | sed 's/.*/"\\"&\\""/' >"$dict"
  printf '"%s"\n' '{' '}' '[' ']' ':' ',' 'null' 'true' '-1' '0.5' '1e9' '/*' '//' '\\u0000' >>"$dict"
fi

failed=0
for name in "${harnesses[@]}"; do
  exe=$build/fuzz/$name
  corpus=$build/corpus/$name
  if [ "${FUZZ_FRESH:-0}" = 1 ]; then
    corpus=$build/corpus-fresh/$name
    rm -rf "$corpus"
  fi
  artifacts=$build/artifacts/$name
  log=$build/logs/$name.log
  mkdir -p "$corpus" "$artifacts" "$build/logs"
  # Application folders a harness made for itself (NAME-app-PID-XXXXXX) and left behind when it failed.
  for dir in "$build/fuzz/$name"-app-* /dev/shm/"$name"-app-*; do
    [ -d "$dir" ] || continue
    pid=${dir##*-app-}
    kill -0 "${pid%%-*}" 2>/dev/null || rm -rf "$dir"
  done
  jobs=${FUZZ_JOBS:-1}
  flags=(-timeout=60 -print_final_stats=1 -artifact_prefix="$artifacts/")
  [ "${FUZZ_MAX_TIME:-0}" -gt 0 ] && flags+=(-max_total_time="$FUZZ_MAX_TIME")
  [ -n "${FUZZ_SEED:-}" ] && flags+=(-seed="$FUZZ_SEED")
  if [ "$name" = fuzz_requests ]; then
    # Requests long enough for a reply to outgrow the 65535 bytes the send path keeps. The handlers keep their
    # state from one request to the next (a login, open tiles), so an input that allocates more than it frees
    # is no sign of a leak, and the leak check libFuzzer would make after it scans the whole heap (a third of a
    # second each): leaks are checked when the process ends.
    flags+=(-dict="$dict" -max_len=16384 -detect_leaks=0)
  elif [ "$name" = fuzz_hostlink_frame ]; then
    # Repeated up to 8 times, an input makes streams of frames across chunks of up to 5000 bytes and back.
    flags+=(-max_len=1024)
  else
    flags+=(-max_len=4096)
  fi
  rm -f "$log" "$build/logs/$name".*.log
  status=0
  start=$(date +%s.%N)
  if [ "$jobs" -gt 1 ]; then
    # Processes of our own rather than libFuzzer's -jobs, which starts them through a shell: the request
    # harness refuses to start any process once it is set up.
    pids=()
    for ((n = 0; n < jobs; n++)); do
      (cd "$build" && QUORRIN_FUZZ_SEEDS=$corpus exec "$exe" "${flags[@]}" -runs=$(((runs + jobs - 1) / jobs)) \
        "$corpus") >"$build/logs/$name.$n.log" 2>&1 &
      pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid" || status=$?; done
  else
    (cd "$build" && QUORRIN_FUZZ_SEEDS=$corpus "$exe" "${flags[@]}" -runs="$runs" "$corpus") >"$log" 2>&1 || status=$?
  fi
  end=$(date +%s.%N)
  logs=("$log")
  [ "$jobs" -gt 1 ] && logs=("$build/logs/$name".*.log)
  execs=$(cat "${logs[@]}" | awk '/^stat::number_of_executed_units:/ { n += $2 } END { print n + 0 }')
  rate=$(awk -v n="$execs" -v a="$start" -v b="$end" 'BEGIN { printf "%d", (b > a) ? n / (b - a) : 0 }')
  # Every fault found (a failed check, a sanitizer's report, a timeout) ends its process with a "SUMMARY" line.
  crashes=$(cat "${logs[@]}" | grep -c '^SUMMARY: ' || true)
  [ "$status" -ne 0 ] && [ "$crashes" -eq 0 ] && crashes=1
  [ "$crashes" -gt 0 ] && failed=1
  echo "$name: $execs executions, $crashes crashes, $rate exec/s"
  if [ "$crashes" -gt 0 ]; then
    cat "${logs[@]}" | grep -E -A12 'check failed|ERROR: |runtime error|SUMMARY' | head -n 40 || true
    ls -t "$artifacts" | head -n 1 | sed "s|^|  input kept: $artifacts/|"
  fi
done
exit "$failed"
