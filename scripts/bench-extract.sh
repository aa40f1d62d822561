#!/usr/bin/env bash
# The extraction benchmark: one cabinet of about 300 MiB of mixed content
# (made by gcab with MSZIP), unpacked by the installer's extraction (SetupAPI
# under Wine, bench/extract_bench.exe) and by cabextract, one after the
# other into the same file system. Prints MB/s of each (10^6 bytes of
# unpacked data per second) and the ratio; checks that both unpacked the
# same files. Runs each tool TARN_BENCH_RUNS times (default 3) and keeps
# the best run. The content and the cabinet are kept in the build folder
# for later runs.
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

now() { date +%s.%N; }

# Best wall time of cabextract over the runs.
cabextract_best=""
for run in $(seq "$runs"); do
    rm -rf "$work/out"
    sync
    start=$(now)
    cabextract -q -d "$work/out/cabextract" "$cabinet"
    end=$(now)
    seconds=$(python3 -c "print(f'{$end - $start:.3f}')")
    tarn_log "cabextract run $run: $seconds s"
    cabextract_best=$(python3 -c "b='$cabextract_best'; print(min(float(b), $seconds) if b else $seconds)")
done
# A result left by a killed run would take the new one inside it.
rm -rf "$work/cabextract-result"
mv "$work/out/cabextract" "$work/cabextract-result"

# Best time of our extraction, measured inside the program (without Wine's
# start-up), over the runs.
ours_best=""
ours_line=""
# winepath writes to a file: a Wine program's output pipe may be held open by
# Wine's services.
winepath -w "$work/out/ours" "$cabinet" >"$work/paths.txt" 2>/dev/null </dev/null
target_windows=$(sed -n 1p "$work/paths.txt" | tr -d '\r')
cabinet_windows=$(sed -n 2p "$work/paths.txt" | tr -d '\r')
for run in $(seq "$runs"); do
    rm -rf "$work/out"
    mkdir -p "$work/out"
    sync
    wine "$TARN_BUILD/bench/extract_bench.exe" "$cabinet_windows" "$target_windows" \
        >"$work/ours.log" 2>&1 </dev/null || { cat "$work/ours.log"; tarn_log "extraction failed"; exit 1; }
    line=$(grep '^result=' "$work/ours.log" | tr -d '\r')
    seconds=$(sed 's/.*seconds=\([0-9.]*\).*/\1/' <<<"$line")
    tarn_log "SetupAPI run $run: $seconds s"
    if [ -z "$ours_best" ] || python3 -c "import sys; sys.exit(0 if $seconds < $ours_best else 1)"; then
        ours_best=$seconds
        ours_line=$line
    fi
done

# Both must have unpacked the same files with the same bytes.
if ! diff -r -q "$work/out/ours" "$work/cabextract-result" >"$work/diff.log"; then
    head "$work/diff.log"
    tarn_log "the two extractions differ"
    exit 1
fi
rm -rf "$work/cabextract-result"

python3 - "$cabinet" "$ours_line" "$cabextract_best" "$ours_best" <<'EOF'
import os, sys
cabinet, line, cab_seconds, our_seconds = sys.argv[1], sys.argv[2], float(sys.argv[3]), float(sys.argv[4])
fields = dict(item.split("=") for item in line.split())
files, unpacked = int(fields["files"]), int(fields["bytes"])
ours = unpacked / 1e6 / our_seconds
theirs = unpacked / 1e6 / cab_seconds
print(f"cabinet: {os.path.getsize(cabinet) / 2**20:.1f} MiB (MSZIP, gcab), {files} files, "
      f"{unpacked / 2**20:.1f} MiB unpacked")
print(f"cabextract:                {cab_seconds:7.3f} s  {theirs:7.1f} MB/s")
print(f"ExtractCabinet (SetupAPI): {our_seconds:7.3f} s  {ours:7.1f} MB/s")
print(f"ratio SetupAPI / cabextract: {ours / theirs:.2f}")
print(f"per file, beyond cabextract's time: {(our_seconds - cab_seconds) / files * 1e3:.2f} ms")
EOF
