#!/usr/bin/env bash
# Packing benchmark: the program's whole "PackGridwell" mode under Wine
# against `gcab -c -z` on the same mixed Gridwell source tree (thousands of
# files, some already compressed, three QX cabinets), in pairs A B A B ...;
# prints wall time, CPU time and peak memory of each side's process tree,
# the per-pair ratios and the load average (bench/pack_bench.py).
#   scripts/bench-pack.sh [PAIRS [MIB]]     default: 3 pairs, about 300 MiB
# The packing runs in a Wine prefix of its own (a copy of the build's) whose
# drives N: and H: point into build/bench/pack/drives; the tree is kept there
# for later runs of the same size.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

pairs="${1:-3}"
mib="${2:-300}"
work="$TARN_BUILD/bench/pack"
drives="$work/drives"
tree="$drives/n/CD_2023/Tarn Gridwell"

tarn_install_packages
tarn_build
tarn_start_wine
shared="$WINEPREFIX"
export WINEPREFIX="$work/wineprefix"
trap 'wineserver -k 2>/dev/null; WINEPREFIX="$shared" tarn_stop_wine' EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    tarn_log "copying the Wine prefix to $WINEPREFIX"
    mkdir -p "$work"
    cp -a "$shared" "$WINEPREFIX"
fi
mkdir -p "$drives/n" "$drives/h"
for letter in n h; do ln -sfn "$drives/$letter" "$WINEPREFIX/dosdevices/$letter:"; done
# A desktop product list: no mode start waits for the maker's server.
printf '[Settings]\r\n[Ready]\r\n' >"$WINEPREFIX/drive_c/users/$(id -un)/Desktop/Tarnix_Software.txt"
# The mode runs our MakeCab.exe from the search path.
export WINEPATH="Z:$(printf '%s' "$TARN_BUILD/tools/bin" | tr / '\\')"

if [ "$(cat "$work/content.mib" 2>/dev/null)" != "$mib" ]; then
    tarn_log "making the mixed content (about $mib MiB)"
    rm -f "$work/content.mib"
    python3 "$TARN_ROOT/bench/make_mixed_content.py" --out "$tree" --mib "$mib" --qx-cabinets 3
    echo "$mib" >"$work/content.mib"
fi
# A persistent Wine server with its service processes up, started outside
# the measured process trees.
wineserver -p
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
python3 "$TARN_ROOT/bench/pack_bench.py" --program "$TARN_BUILD/Tarn_Gridwell_2023.exe" --drives "$drives" \
    --pairs "$pairs"
