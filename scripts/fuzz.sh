#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer in
# build-fuzz and runs each for the given number of seconds (default 60), two at a time.
# Inputs that reach new code collect in build-fuzz/corpus/<target>; a crash or a broken
# invariant is saved in build-fuzz/crashes/<target>/ and fails the run. Adding such an input to
# fuzz/corpus/<target>/ makes it a regression test of every build's `make test`.
#   scripts/fuzz.sh [seconds] [target...]
set -euo pipefail

duration=${1:-60}
shift || true
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
parallel=${FUZZ_JOBS:-2}
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(version txt_record publish_file device_reply pe_version command_line)

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DKV_SANITIZE=address > /dev/null
cmake --build "$build" -j "$parallel" --target "${targets[@]/#/fuzz_}"

run() {
    local target=$1
    local corpus=$build/corpus/$target crashes=$build/crashes/$target
    local log=$build/fuzz-$target.log
    mkdir -p "$corpus" "$crashes"
    local options=()
    [ -f "$root/fuzz/dict/$target.dict" ] && options+=(-dict="$root/fuzz/dict/$target.dict")
    local status=0
    # Standard output carries the program's own log lines; the fuzzer reports on standard error.
    "$build/bin/fuzz_$target" -max_total_time="$duration" -timeout=20 -close_fd_mask=1 \
        -print_final_stats=1 -artifact_prefix="$crashes/" "${options[@]}" \
        "$corpus" "$root/fuzz/corpus/$target" \
        > "$log" 2>&1 || status=$?
    local runs seconds
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    seconds=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
    if [ $status -eq 0 ]; then
        echo "$target: ${runs:-?} runs in ${seconds:-?} s, corpus $(ls "$corpus" | wc -l) inputs, no failure"
    else
        echo "$target: FAILED after ${runs:-?} runs, input in $crashes, log $log"
    fi
}

for target in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do
        wait -n || true
    done
    run "$target" > "$build/fuzz-$target.result" &
done
wait || true

failed=0
for target in "${targets[@]}"; do
    cat "$build/fuzz-$target.result"
    grep -q "no failure" "$build/fuzz-$target.result" || failed=1
done
exit $failed
