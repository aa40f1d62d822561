#!/usr/bin/env bash
# The extraction benchmark: two cabinets made by gcab with MSZIP, one of
# about 8,000 small files (1-8 KiB) and one of a few large files (32 MiB
# each, half compressible text, half random), each unpacked by cabextract,
# by the own reader and by the setup library (bench/extract_bench.exe under
# Wine), in turn, TARN_BENCH_RUNS rounds (default 3). Every run writes into
# a fresh folder, and the folders are deleted only after all timings (on
# this disk, creating files soon after deleting thousands is much slower).
# cabextract is timed as a whole process, ours by the extraction call
# (bench/extract_bench.exe prints it; Wine's start is not counted). Prints
# each run, the median seconds and MB/s of each, the ratios against
# cabextract, the file system and the load average; checks that all three
# unpacked the same files. The content and cabinets stay in the build folder.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

runs="${TARN_BENCH_RUNS:-3}"
work="$TARN_BUILD/bench/extract"

tarn_install_packages
# Only the benchmark program is needed: the rest of the build may be in progress.
[ -f "$TARN_BUILD/build.ninja" ] || tarn_build
cmake --build "$TARN_BUILD" --target extract_bench >/dev/null
tarn_start_wine
trap 'rm -rf "$work/out"; tarn_stop_wine' EXIT

make_content() {
    python3 - "$work/content-small" "$work/content-large" <<'PY'
import os, random, sys
small, large = sys.argv[1], sys.argv[2]
rng = random.Random(22)
words = b"Tarn Gridwell Datenpaket Bauteil Ebene Layer Block Profil Raster Werkzeug Zeichnung\r\n".split(b" ")
def text(size):
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + b" "
    return bytes(out[:size])
for i in range(8000):
    path = os.path.join(small, "f%02d" % (i % 40), "file%04d.%s" % (i, "txt" if i % 2 else "bin"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    size = rng.randint(1024, 8192)
    with open(path, "wb") as handle:
        handle.write(text(size) if i % 2 else rng.randbytes(size))
os.makedirs(large, exist_ok=True)
for i in range(4):
    with open(os.path.join(large, "large%d.dat" % i), "wb") as handle:
        for _ in range(16):
            handle.write(text(1 << 20) if i % 2 else rng.randbytes(1 << 20))
            handle.write(text(1 << 20))
PY
}

if [ ! -f "$work/content.stamp" ]; then
    tarn_log "making the content and its cabinets"
    rm -rf "$work"
    mkdir -p "$work"
    make_content
    for kind in small large; do
        mapfile -t files < <(cd "$work/content-$kind" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
        (cd "$work/content-$kind" && gcab -c -z "$work/$kind.cab" "${files[@]}")
    done
    touch "$work/content.stamp"
fi

rm -rf "$work/out"
mkdir -p "$work/out"
# winepath writes to a file: a Wine program's output pipe may be held open by
# Wine's services.
winepath -w "$work/out" "$work/small.cab" "$work/large.cab" >"$work/paths.txt" 2>/dev/null </dev/null
out_windows=$(sed -n 1p "$work/paths.txt" | tr -d '\r')
declare -A cabinet_windows=([small]=$(sed -n 2p "$work/paths.txt" | tr -d '\r')
                            [large]=$(sed -n 3p "$work/paths.txt" | tr -d '\r'))

# run <kind> <tool> <n>: one timed extraction into a fresh folder; prints seconds.
run() {
    local kind=$1 tool=$2 n=$3 folder="$kind-$2-$3" line
    sync
    if [ "$tool" = cabextract ]; then
        tarn_time cabextract -q -d "$work/out/$folder" "$work/$kind.cab"
        return
    fi
    line=$(wine "$TARN_BUILD/bench/extract_bench.exe" "${cabinet_windows[$kind]}" "$out_windows\\$folder" "$tool" \
        2>/dev/null </dev/null | tr -d '\r') || { tarn_log "$tool failed on $kind: $line"; return 1; }
    sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$line"
}

load_before=$(tarn_load)
results="$work/results.txt"
: >"$results"
for kind in small large; do
    for n in $(seq "$runs"); do
        for tool in cabextract own setup; do
            seconds=$(run "$kind" "$tool" "$n")
            tarn_log "$kind round $n: $tool $seconds s"
            echo "$kind $tool $seconds" >>"$results"
        done
    done
    # All three must have unpacked the same files with the same bytes.
    for tool in own setup; do
        if ! diff -r -q "$work/out/$kind-cabextract-1" "$work/out/$kind-$tool-1" >"$work/diff.log"; then
            head "$work/diff.log"
            tarn_log "$tool and cabextract unpacked $kind.cab differently"
            exit 1
        fi
    done
done
load_after=$(tarn_load)

python3 - "$work" "$results" <<'PY'
import os, statistics, sys
work, results = sys.argv[1], sys.argv[2]
times = {}
for line in open(results):
    kind, tool, seconds = line.split()
    times.setdefault((kind, tool), []).append(float(seconds))
for kind in ("small", "large"):
    content = os.path.join(work, "content-" + kind)
    sizes = [os.path.getsize(os.path.join(r, n)) for r, _, names in os.walk(content) for n in names]
    unpacked = sum(sizes)
    print(f"{kind}.cab: {os.path.getsize(os.path.join(work, kind + '.cab')) / 2**20:.1f} MiB (MSZIP, gcab), "
          f"{len(sizes)} files, {unpacked / 2**20:.1f} MiB unpacked; {len(times[(kind, 'own')])} rounds")
    base = statistics.median(times[(kind, "cabextract")])
    for tool, name in (("cabextract", "cabextract"), ("own", "own reader"), ("setup", "setup library")):
        median = statistics.median(times[(kind, tool)])
        print(f"  {name + ':':16}{median:7.3f} s  {unpacked / 1e6 / median:7.1f} MB/s  "
              f"(runs {', '.join('%.2f' % t for t in times[(kind, tool)])}; time / cabextract {median / base:.2f})")
PY
echo "file system: $(df -T "$work" | awk 'NR == 2 { print $2 " on " $1 }')"
echo "load average before: $load_before, after: $load_after ($(nproc) cores)"
