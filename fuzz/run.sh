#!/usr/bin/env bash
# Builds the cabinet reader's fuzz target (clang, libFuzzer, ASan, UBSan)
# and runs it on the committed seeds for SECONDS seconds (default 60).
# Exits non-zero on any finding; the input that caused it is left in
# $TARN_BUILD/fuzz/findings. New inputs that reach new code go to the
# working corpus $TARN_BUILD/fuzz/corpus (kept between runs); the committed
# seeds in fuzz/seeds are only read.
#   fuzz/run.sh [SECONDS] [extra libFuzzer options]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TARN_BUILD:-$root/build}/fuzz"
seconds="${1:-60}"
shift || true

cmake -S "$root/fuzz" -B "$build/cmake" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build/cmake" >/dev/null
mkdir -p "$build/corpus" "$build/findings"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
"$build/cmake/cab_fuzz" -max_total_time="$seconds" -max_len=200000 -timeout=100 -rss_limit_mb=2048 \
    -artifact_prefix="$build/findings/" -print_final_stats=1 "$@" "$build/corpus" "$root/fuzz/seeds"
