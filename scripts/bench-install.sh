#!/usr/bin/env bash
# The install benchmark: a package set of about 1 GiB of mixed content
# (bench/make_mixed_content.py; thousands of files in several MSZIP cabinets
# made by gcab, a Setup.exe among them) served by nginx on 127.0.0.1. The
# real installer, from its start to the start of the product's Setup.exe
# (tests/helpers/record_start.exe, which writes its marker), against curl
# fetching the same cabinets and cabextract unpacking them, one after the
# other. The two sides run alternately (reference, installer, reference,
# installer, ...) for TARN_BENCH_PAIRS pairs (3), both timed from the start
# of their first process. Every run writes into a fresh folder: the earlier
# run's files are moved aside and deleted only after all timings, since on
# this kind of disk creating files soon after deleting thousands is many
# times slower for any program. The file system and its mount options are
# printed. Prints each side's median, the median per-pair ratio with min and
# max (goal: at most 1.2), the installer's whole-process median (it waits
# after the setup's start and closes on its timer) and the load average.
# The package set is kept in the build folder for later runs; a change of
# TARN_BENCH_SCALE or TARN_BENCH_PACKAGES makes it anew.
# A last row runs the installer twice over tools/devserver with the same set:
# once on a clean link, once on a link that resets the connection after
# every TARN_BENCH_RESET_MIB (128) MiB of an answer; it prints the package
# bytes the server sent against the package sizes (goal: at most 1.15) and
# the time to the setup's start against the clean link.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

scale="${TARN_BENCH_SCALE:-2.4}"
packages="${TARN_BENCH_PACKAGES:-4}"
pairs="${TARN_BENCH_PAIRS:-3}"
work="$TARN_BUILD/bench/install"
downloads="$work/www/gridwell/data/2023/Downloads"

tarn_install_packages
tarn_build
tarn_start_display
tarn_start_wine

if [ "$(cat "$work/set.stamp" 2>/dev/null)" != "$scale $packages" ]; then
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
    echo "$scale $packages" >"$work/set.stamp"
fi

# nginx with its own configuration on a free port.
tarn_start_nginx "$work/nginx" "$work/www"
port=$TARN_NGINX_PORT
nginx=$TARN_NGINX_PID
devserver=""
trap 'kill $nginx $devserver 2>/dev/null; tarn_stop_wine' EXIT
base="http://127.0.0.1:$port/gridwell/data/2023"
mapfile -t cabinets < <(cd "$downloads" && ls Tarn_Gridwell_2023_*.cab)
# Into the page cache, so that neither side reads the cabinets from disk.
cat "$downloads"/*.cab >/dev/null

prefixTemp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
data="$WINEPREFIX/drive_c/Tarn_InstallData/Tarn Gridwell 2023"
desktop="$WINEPREFIX/drive_c/users/$(id -un)/Desktop"
printf '[Settings]\r\nTarn_Gridwell_2023=%s\r\n' "$base" >"$desktop/Tarnix_Software.txt"
aside="$work/aside"   # earlier runs' files, deleted after the timings
finish() { rm -f "$desktop/Tarnix_Software.txt"; rm -rf "$aside"; }
if [ -e "$aside" ]; then
    tarn_log "deleting an interrupted benchmark's files, then a minute's rest for the file system"
    rm -rf "$aside"
    sync
    sleep 60
fi

# Each side starts from nothing of its own earlier run (no unpacked tree,
# no status file, no copies), with the earlier writes on disk.
runs=0
fresh_reference() {
    runs=$((runs + 1))
    reference="$aside/reference-$runs"
    mkdir -p "$reference/cabs"
    sync
}

fresh_installer() {
    runs=$((runs + 1))
    local moved="$aside/installer-$runs" file
    mkdir -p "$moved"
    for file in "$data" "$data DownloadStatus.txt" "$prefixTemp"/Tarn_Gridwell_2023_*.cab \
        "$prefixTemp"/Tarn_Gridwell_2023_*.cab.partial*; do
        if [ -e "$file" ]; then mv "$file" "$moved/"; fi
    done
    sync
}

reference_side() {
    local cabinet
    for cabinet in "${cabinets[@]}"; do
        curl -s -f -o "$reference/cabs/$cabinet" "$base/Downloads/$cabinet" || return 1
        cabextract -q -d "$reference/tree" "$reference/cabs/$cabinet" || return 1
    done
}

# The wait for the setup's marker ticks on a read with a time-out from a pipe
# nobody writes: a sleep process forked 50 times a second would take a share
# of a core from the installer it times.
rm -f "$work/tick"
mkfifo "$work/tick"
exec {tick}<>"$work/tick"
rm -f "$work/tick"

# Prints "<to the setup's start> <whole process>" in seconds.
installer_side() {
    local start program started end
    start=$(date +%s%N)
    wine "$TARN_BUILD/Tarn_Gridwell_2023.exe" </dev/null >/dev/null 2>&1 &
    program=$!
    until [ -f "$data/Setup.started.txt" ]; do
        kill -0 $program 2>/dev/null || { tarn_log "the installer ended without starting the setup"; return 1; }
        read -r -t 0.02 -u "$tick" _ || true
    done
    started=$(date +%s%N)
    wait $program || true
    end=$(date +%s%N)
    LC_ALL=C awk -v s=$((started - start)) -v e=$((end - start)) 'BEGIN { printf "%.3f %.3f\n", s / 1e9, e / 1e9 }'
}

median() { printf '%s\n' "$@" | LC_ALL=C sort -g | LC_ALL=C awk '{ v[NR] = $1 } END {
    printf "%.2f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

references=() installs=() wholes=() ratios=()
load_before=$(tarn_load)
for pair in $(seq "$pairs"); do
    fresh_reference
    seconds=$(tarn_time reference_side) || { tarn_log "curl or cabextract failed"; finish; exit 1; }
    fresh_installer
    read -r ours whole < <(installer_side) || { finish; exit 1; }
    differences=$(LC_ALL=C diff -rq "$reference/tree" "$data" 2>&1 | grep -vF "Only in $data" || true)
    if [ -n "$differences" ]; then
        printf '%s\n' "$differences" >&2
        tarn_log "the installer's tree differs from cabextract's"
        finish
        exit 1
    fi
    references+=("$seconds")
    installs+=("$ours")
    wholes+=("$whole")
    ratios+=("$(tarn_ratio "$ours" "$seconds")")
    tarn_log "pair $pair: curl + cabextract $seconds s, installer to the setup's start $ours s (process $whole s)"
done
load_after=$(tarn_load)

# The link that breaks, against a clean one, both from tools/devserver.
reset_mib="${TARN_BENCH_RESET_MIB:-128}"
devlog="$work/devserver.log"
rm -f "$work/devserver.port" "$devlog"
python3 "$TARN_ROOT/tools/devserver/devserver.py" --root "$work/www" --port-file "$work/devserver.port" \
    --log "$devlog" >/dev/null 2>&1 &
devserver=$!
for _ in $(seq 100); do [ -s "$work/devserver.port" ] && break; sleep 0.1; done
devurl="http://127.0.0.1:$(cat "$work/devserver.port")"
printf '[Settings]\r\nTarn_Gridwell_2023=%s/gridwell/data/2023\r\n' "$devurl" >"$desktop/Tarnix_Software.txt"
fresh_installer
read -r clean _ < <(installer_side) || { finish; exit 1; }
curl -s -f -X PUT --data "[{\"path\": \"/gridwell/data/2023/Downloads/*.cab\", \"fault\": \"reset-every\",
    \"bytes\": $((reset_mib * 1024 * 1024))}]" "$devurl/_devserver/rules" >/dev/null
fresh_installer
: >"$devlog"
read -r broken _ < <(installer_side) || { finish; exit 1; }
sent=$(python3 -c 'import json, sys
print(sum(e["sent"] for e in map(json.loads, open(sys.argv[1])) if e["method"] == "GET" and e["path"].endswith(".cab")))' \
    "$devlog")
resets=$(grep -c '"complete": false' "$devlog" || true)
sizes=$(stat -c %s "$downloads"/Tarn_Gridwell_2023_*.cab | LC_ALL=C awk '{ s += $1 } END { printf "%d", s }')
finish

printf '\ninstall of %s cabinets from nginx on 127.0.0.1, %d alternating pairs:\n' "${#cabinets[@]}" "$pairs"
printf 'curl + cabextract  median %s s\n' "$(median "${references[@]}")"
printf 'installer          median %s s to the setup'"'"'s start, %s s to its end\n' \
    "$(median "${installs[@]}")" "$(median "${wholes[@]}")"
printf 'installer / curl + cabextract: %s (goal <= 1.2)\n' "$(tarn_spread "${ratios[@]}")"
printf 'link reset every %s MiB (%s resets): package bytes sent / package sizes %s (goal <= 1.15); ' \
    "$reset_mib" "$resets" "$(tarn_ratio "$sent" "$sizes")"
printf 'to the setup'"'"'s start %s s against %s s on a clean link (%s)\n' "$broken" "$clean" \
    "$(tarn_ratio "$broken" "$clean")"
printf 'load average before: %s, after: %s (%s cores)\n' "$load_before" "$load_after" "$(nproc)"
printf 'file system: %s\n' "$(findmnt -no FSTYPE,OPTIONS -T "$work")"
