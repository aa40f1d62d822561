#!/usr/bin/env bash
# The install benchmark: a package set of about 1 GiB of mixed content
# (bench/make_mixed_content.py; thousands of files in several MSZIP cabinets
# made by gcab, a Setup.exe among them) served by nginx on 127.0.0.1. Times
# the real installer from its start to the start of the product's Setup.exe
# (tests/helpers/record_start.exe, which writes its marker), against curl
# fetching the same cabinets and cabextract unpacking them, one after the
# other, in the same run. Prints both times and the ratio (goal: at most
# 1.5). The package set is kept in the build folder for later runs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

scale="${TARN_BENCH_SCALE:-2.4}"
packages="${TARN_BENCH_PACKAGES:-4}"
work="$TARN_BUILD/bench/install"
downloads="$work/www/gridwell/data/2023/Downloads"

tarn_install_packages
tarn_build
tarn_start_display
tarn_start_wine
now() { date +%s.%N; }

if [ ! -f "$work/set.stamp" ]; then
    tarn_log "making the package set (scale $scale, $packages cabinets)"
    rm -rf "$work"
    mkdir -p "$downloads"
    python3 "$TARN_ROOT/bench/make_mixed_content.py" --out "$work/content" --scale "$scale"
    cp "$TARN_BUILD/tests/bin/record_start.exe" "$work/content/Setup.exe"
    mapfile -t files < <(cd "$work/content" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
    : >"$downloads/Tarn_Gridwell_2023_Download_List.txt"
    for n in $(seq "$packages"); do
        group=()
        for ((i = n - 1; i < ${#files[@]}; i += packages)); do group+=("${files[$i]}"); done
        (cd "$work/content" && gcab -c -z "$downloads/Tarn_Gridwell_2023_($n).cab" "${group[@]}")
        printf 'Tarn_Gridwell_2023_(%d).cab\r\n' "$n" >>"$downloads/Tarn_Gridwell_2023_Download_List.txt"
    done
    printf 'SetupUpdater_2023.cab\r\n' >>"$downloads/Tarn_Gridwell_2023_Download_List.txt"
    wine "$TARN_BUILD/bench/file_records.exe" $(for f in "$downloads"/*.cab; do winepath -w "$f"; done) \
        </dev/null >/dev/null 2>&1
    du -sh "$work/content" "$downloads" >&2
    echo "$(cd "$work/content" && find . -type f | wc -l) files" >&2
    touch "$work/set.stamp"
fi

# nginx with its own configuration on a free port.
tarn_start_nginx "$work/nginx" "$work/www"
port=$TARN_NGINX_PORT
nginx=$TARN_NGINX_PID
trap 'kill $nginx 2>/dev/null; tarn_stop_wine' EXIT
base="http://127.0.0.1:$port/gridwell/data/2023"
mapfile -t cabinets < <(cd "$downloads" && ls Tarn_Gridwell_2023_*.cab)

# curl and cabextract, one after the other.
rm -rf "$work/reference"
mkdir -p "$work/reference/cabs"
sync
start=$(now)
for cabinet in "${cabinets[@]}"; do
    curl -s -o "$work/reference/cabs/$cabinet" "$base/Downloads/$cabinet"
    cabextract -q -d "$work/reference/tree" "$work/reference/cabs/$cabinet"
done
end=$(now)
reference=$(python3 -c "print(f'{$end - $start:.2f}')")
tarn_log "curl + cabextract: $reference s"

# The installer from a fresh state: no installation data, status or copies.
prefixTemp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
data="$WINEPREFIX/drive_c/Tarn_InstallData/Tarn Gridwell 2023"
rm -rf "$data" "$data DownloadStatus.txt" "$work/reference/cabs"
rm -f "$prefixTemp"/Tarn_Gridwell_2023_*.cab
desktop="$WINEPREFIX/drive_c/users/$(id -un)/Desktop"
printf '[Settings]\r\nTarn_Gridwell_2023=%s\r\n' "$base" >"$desktop/Tarnix_Software.txt"
sync
start=$(now)
wine "$TARN_BUILD/Tarn_Gridwell_2023.exe" </dev/null >/dev/null 2>&1 &
program=$!
until [ -f "$data/Setup.started.txt" ]; do
    kill -0 $program 2>/dev/null || { tarn_log "the installer ended without starting the setup"; exit 1; }
    sleep 0.05
done
end=$(now)
wait $program || true
rm -f "$desktop/Tarnix_Software.txt"
ours=$(python3 -c "print(f'{$end - $start:.2f}')")
tarn_log "installer to the setup's start: $ours s"
diff -rq "$work/reference/tree" "$data" | grep -v 'Only in .*Tarn Gridwell 2023' >&2 || true
python3 -c "r = $ours / $reference; print(f'install: ours {$ours:.2f} s, curl + cabextract {$reference:.2f} s, ratio {r:.2f} (goal <= 1.5)')"
rm -rf "$work/reference"
