#!/usr/bin/env bash
# Fuzzes frame assembly and reply decoding for a bounded time (default 45 s, at most 60 s),
# where clang is installed; without clang it says so and succeeds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-45}
[ "$seconds" -le 60 ] || seconds=60
if ! command -v clang++ >/dev/null; then
    echo "run-fuzz: clang++ not installed, fuzzing skipped"
    exit 0
fi
build=${KORVANE_FUZZ_BUILD_DIR:-$root/build-fuzz}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKORVANE_FUZZ=ON -DKORVANE_BUILD_TESTS=OFF -DKORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_replies -j"$(nproc)"
corpus="$build/corpus"
log="$build/fuzz.log"
mkdir -p "$corpus"
status=0
"$build/fuzz/fuzz_replies" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 -artifact_prefix="$build/" \
    -print_final_stats=1 "$corpus" "$root/fuzz/seeds" >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
    tail -n 80 "$log"
    echo "run-fuzz: the fuzzer found a problem (exit $status); the input is saved in $build as crash-*, timeout-* or oom-*"
    exit "$status"
fi
grep -E "^(Done|stat::)" "$log"
