#!/usr/bin/env bash
# Builds the benchmarks as a Release build in build-bench, runs each one and writes
# bench/REPORT.md and the README's benchmark table from the RESULT lines they print.
# A benchmark that misses its target or fails is reported, never an error of this script.
#   scripts/bench.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench
run=$build/bench-run
benches=(kv_sync_bench kv_transfer_bench kv_zeroconf_resolve_bench kv_zeroconf_idle_bench
    kv_studio_bench)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target "${benches[@]}"

load() { cut -d' ' -f1-3 /proc/loadavg; }

rm -rf "$run"
mkdir -p "$run"
commit=$(git -C "$root" rev-parse --short HEAD)
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
    commit+=" with uncommitted changes in the tree"
fi
{
    echo "date=$(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "cores=$(nproc)"
    echo "cpu=$(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)"
    echo "memory=$(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)"
    echo "os=$(. /etc/os-release && echo "$PRETTY_NAME")"
    echo "build=Release (build-bench)"
    echo "commit=$commit"
    echo "load_start=$(load)"
} > "$run/machine.txt"

order=0
for bench in "${benches[@]}"; do
    order=$((order + 1))
    log=$run/$bench.log
    echo "$bench: running (whole output in ${log#"$root"/})"
    started_load=$(load)
    start=$(date +%s)
    status=0
    "$build/bin/$bench" > "$log" 2>&1 < /dev/null || status=$?
    seconds=$(($(date +%s) - start))
    echo "$bench: exit status $status after $seconds s"
    printf '%s\n' "order=$order" "name=$bench" "command=build-bench/bin/$bench" "status=$status" \
        "seconds=$seconds" "load=$started_load" "log=${log#"$root"/}" > "$run/$bench.meta"
done
echo "load_end=$(load)" >> "$run/machine.txt"

python3 "$root/bench/report.py" "$run" "$root/bench/REPORT.md" "$root/README.md"
echo "Report: bench/REPORT.md; table in README.md"
