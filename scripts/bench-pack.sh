#!/usr/bin/env bash
# Packing benchmark: our MakeCab.exe (Wine, MSZIP blocks on every core)
# against `gcab -c -z` on the same mixed tree of about 300 MiB, alternating
# the two; prints wall time, CPU time and peak memory of each run, medians
# and ratios (bench/pack_bench.py). Argument: number of rounds (3). The tree
# is kept in the build folder for later runs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

rounds="${1:-3}"
work="$TARN_BUILD/bench/pack"

tarn_install_packages
tarn_build
tarn_start_wine
trap 'rm -f "$work"/*.cab; tarn_stop_wine' EXIT

if [ ! -f "$work/content.stamp" ]; then
    tarn_log "making the mixed content"
    python3 "$TARN_ROOT/bench/make_mixed_content.py" --out "$work/content" --scale 0.7
    touch "$work/content.stamp"
fi
python3 "$TARN_ROOT/bench/pack_bench.py" --content "$work/content" --work "$work/run" \
    --makecab "$TARN_BUILD/tools/bin/MakeCab.exe" --rounds "$rounds"
