#!/usr/bin/env bash
# The extraction benchmark: one cabinet of about 300 MiB of mixed content
# (made by gcab with MSZIP), unpacked by the installer's extraction (SetupAPI
# under Wine, bench/extract_bench.exe) and by cabextract into the same file
# system, alternately (cabextract, ours, cabextract, ours, ...) and each
# timed as a whole process. Prints the median MB/s of each (10^6 bytes of
# unpacked data per second), the median of the per-pair ratios with min and
# max, and the load average; checks that both unpacked the same files.
# TARN_BENCH_RUNS pairs (default 3). The content and the cabinet are kept in
# the build folder for later runs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

runs="${TARN_BENCH_RUNS:-3}"
work="$TARN_BUILD/bench/extract"
cabinet="$work/mixed.cab"

tarn_install_packages
tarn_build
tarn_start_wine
trap 'rm -rf "$work/out" "$work/cabextract-result"; tarn_stop_wine' EXIT

if [ ! -f "$work/content.stamp" ] || [ ! -f "$cabinet" ]; then
    tarn_log "making the mixed content and its cabinet"
    rm -f "$work/content.stamp" "$cabinet"
    python3 "$TARN_ROOT/bench/make_mixed_content.py" --out "$work/content"
    mapfile -t files < <(cd "$work/content" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
    (cd "$work/content" && gcab -c -z "$cabinet" "${files[@]}")
    touch "$work/content.stamp"
fi

# winepath writes to a file: a Wine program's output pipe may be held open by
# Wine's services.
winepath -w "$work/out/ours" "$cabinet" >"$work/paths.txt" 2>/dev/null </dev/null
target_windows=$(sed -n 1p "$work/paths.txt" | tr -d '\r')
cabinet_windows=$(sed -n 2p "$work/paths.txt" | tr -d '\r')

# Each run starts on an empty folder with the earlier runs' writes on disk.
fresh_out() {
    rm -rf "$work/out"
    mkdir -p "$work/out"
    sync
}
ours() { wine "$TARN_BUILD/bench/extract_bench.exe" "$cabinet_windows" "$target_windows"; }

load_before=$(tarn_load)
cab_times=() our_times=() ratios=()
for run in $(seq "$runs"); do
    fresh_out
    cab_seconds=$(tarn_time cabextract -q -d "$work/out/cabextract" "$cabinet")
    # A result left by a killed run would take the new one inside it.
    rm -rf "$work/cabextract-result"
    mv "$work/out/cabextract" "$work/cabextract-result"
    fresh_out
    our_seconds=$(tarn_time ours) || { tarn_log "extraction failed"; exit 1; }
    # Both must have unpacked the same files with the same bytes.
    if ! diff -r -q "$work/out/ours" "$work/cabextract-result" >"$work/diff.log"; then
        head "$work/diff.log"
        tarn_log "the two extractions differ"
        exit 1
    fi
    tarn_log "pair $run: cabextract $cab_seconds s, SetupAPI $our_seconds s"
    cab_times+=("$cab_seconds")
    our_times+=("$our_seconds")
    # The pair's speed ratio, ours / cabextract, is cabextract's time / ours.
    ratios+=("$(tarn_ratio "$cab_seconds" "$our_seconds")")
done
load_after=$(tarn_load)
rm -rf "$work/cabextract-result"

python3 - "$cabinet" "$work/content" "${cab_times[*]}" "${our_times[*]}" <<'EOF'
import os, statistics, sys
cabinet, content = sys.argv[1], sys.argv[2]
cab_times = [float(t) for t in sys.argv[3].split()]
our_times = [float(t) for t in sys.argv[4].split()]
sizes = [os.path.getsize(os.path.join(root, name)) for root, _, names in os.walk(content) for name in names]
unpacked = sum(sizes)
print(f"cabinet: {os.path.getsize(cabinet) / 2**20:.1f} MiB (MSZIP, gcab), {len(sizes)} files, "
      f"{unpacked / 2**20:.1f} MiB unpacked; {len(cab_times)} alternating pairs, whole processes timed")
for name, times in (("cabextract", cab_times), ("ExtractCabinet (SetupAPI)", our_times)):
    median = statistics.median(times)
    print(f"{name + ':':27}{median:7.3f} s  {unpacked / 1e6 / median:7.1f} MB/s (median)")
EOF
echo "ratio SetupAPI / cabextract: $(tarn_spread "${ratios[@]}")"
echo "load average before: $load_before, after: $load_after ($(nproc) cores)"
