#!/usr/bin/env bash
# Download benchmark: the program's single-file mode and curl fetch the same
# 512 MiB file from the same local nginx (127.0.0.1, sendfile, own
# configuration, stopped afterwards) into the build folder. Four rows, each
# of paired rounds run alternately (curl, program, curl, program, ...), both
# sides timed as whole processes:
#   http          the program with a record whose checksum is 0 (the
#                 transfer alone)
#   http+crc      the program with a record that states the checksum only
#   http+sha256   the program with the whole record, SHA-256 included: its
#                 pace cannot pass the program's SHA-256 on one thread,
#                 which is printed too
#   https         both over TLS from the same nginx, the program trusting a
#                 test authority in the build's own Wine prefix only
# Prints each side's median MB/s (10^6 bytes a second), the median of the
# per-pair shares (program / curl) with min and max, the load average before
# and after, and the program's peak working set (from one extra run).
# Arguments: number of rounds (5), size in MiB (512).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

rounds="${1:-5}"
size_mib="${2:-512}"
size=$((size_mib * 1024 * 1024))

tarn_install_packages
tarn_build
tarn_start_wine

work="$TARN_BUILD/bench/download"
www="$work/www"
target="$work/target"
mkdir -p "$www/bench"

nginx_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill -QUIT "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$target"
    tarn_stop_wine
}
trap cleanup EXIT

data="$www/bench/verified.cab"
if [ "$(stat -c %s "$data" 2>/dev/null || echo 0)" != "$size" ]; then
    tarn_log "making $data ($size_mib MiB)"
    rm -f "$www/bench/"*
    head -c "$size" /dev/urandom >"$data"
fi
# The same file under two more names whose records ask for no verification
# and for the checksum alone.
ln -f "$data" "$www/bench/plain.cab"
ln -f "$data" "$www/bench/checked.cab"
# Into the page cache before the first round, so that no fetch reads from disk.
cat "$data" >/dev/null
printf '[FileInfo]\r\nCRC=0\r\nFileSize=%d\r\n' "$size" >"$www/bench/plain.fileinfo.txt"

program="$TARN_BUILD/Tarn_Gridwell_2023.exe"
# winepath writes to a file: a Wine program's output pipe may be held open by
# Wine's services.
winepath -w "$program" "$target" "$data" >"$work/paths.txt" 2>/dev/null </dev/null
program_windows=$(sed -n 1p "$work/paths.txt" | tr -d '\r')
target_windows=$(sed -n 2p "$work/paths.txt" | tr -d '\r')
data_windows=$(sed -n 3p "$work/paths.txt" | tr -d '\r')

if [ ! -f "$www/bench/verified.fileinfo.txt" ]; then
    wine "$TARN_BUILD/bench/download_bench.exe" record "$data_windows" >/dev/null 2>&1 </dev/null
fi
grep -v '^SHA256=' "$www/bench/verified.fileinfo.txt" >"$www/bench/checked.fileinfo.txt"
sha256_mbps=$(wine "$TARN_BUILD/bench/download_bench.exe" sha256 "$data_windows" 2>/dev/null </dev/null |
    tr -d '\r' | sed -n 's/^sha256_mbps=//p')

# TLS with a test authority of our own, trusted inside the build's prefix only.
tls_server=""
if [ -f "$TARN_BUILD/tests/bin/trust_authority.exe" ]; then
    python3 "$TARN_ROOT/tests/e2e/authority.py" "$work/tls" --build-dir "$TARN_BUILD" >/dev/null
    tls_port=$(tarn_free_port)
    tls_server="server { listen 127.0.0.1:$tls_port ssl; ssl_certificate $work/tls/good.pem;
        ssl_certificate_key $work/tls/server.key; root $www; }"
else
    tarn_log "no tests/bin/trust_authority.exe (built with TARN_BUILD_TESTS=OFF): no https row"
fi

tarn_start_nginx "$work/nginx" "$www" "$tls_server"
port=$TARN_NGINX_PORT
nginx_pid=$TARN_NGINX_PID

mbps() { LC_ALL=C awk -v b="$size" -v s="$1" 'BEGIN { printf "%.1f", b / s / 1e6 }'; }
median() { printf '%s\n' "$@" | LC_ALL=C sort -g | LC_ALL=C awk '{ v[NR] = $1 } END {
    printf "%.1f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Each run starts with the earlier runs' writes on disk: otherwise whichever
# run meets the kernel's write-back throttling loses, whatever its own speed.
fresh_target() {
    rm -rf "$target" && mkdir -p "$target"
    sync
}

fetch_curl() { curl -s -f "$@"; }
fetch_program() { wine "$program_windows" "DownloadFile=$1" "ToFolder=$target_windows"; }

# row <label> <name on the server> <base URL> [curl options...]
row() {
    local label=$1 name=$2 url=$3
    shift 3
    local curl_speeds=() program_speeds=() shares=() seconds curl_mbps program_mbps round
    for round in $(seq "$rounds"); do
        fresh_target
        seconds=$(tarn_time fetch_curl "$@" -o "$target/$name" "$url/$name")
        [ "$(stat -c %s "$target/$name")" = "$size" ] || { tarn_log "curl fetched a short file"; exit 1; }
        curl_mbps=$(mbps "$seconds")

        fresh_target
        seconds=$(tarn_time fetch_program "$url/$name")
        cmp -s "$target/$name" "$data" || { tarn_log "the program fetched a different file ($label)"; exit 1; }
        program_mbps=$(mbps "$seconds")

        curl_speeds+=("$curl_mbps")
        program_speeds+=("$program_mbps")
        shares+=("$(tarn_ratio "$program_mbps" "$curl_mbps")")
        tarn_log "$label round $round: curl $curl_mbps MB/s, program $program_mbps MB/s"
    done
    printf '%-12s curl %7s MB/s  program %7s MB/s  program/curl %s\n' "$label" "$(median "${curl_speeds[@]}")" \
        "$(median "${program_speeds[@]}")" "$(tarn_spread "${shares[@]}")" >>"$work/summary.txt"
}

load_before=$(tarn_load)
: >"$work/summary.txt"
row http plain.cab "http://127.0.0.1:$port/bench"
row http+crc checked.cab "http://127.0.0.1:$port/bench"
row http+sha256 verified.cab "http://127.0.0.1:$port/bench"
if [ -n "$tls_server" ]; then
    row https plain.cab "https://localhost:$tls_port/bench" --cacert "$work/tls/authority.pem"
fi
load_after=$(tarn_load)

fresh_target
peak=$(wine "$TARN_BUILD/bench/download_bench.exe" run "$program_windows" \
    "http://127.0.0.1:$port/bench/verified.cab" "$target_windows" 2>/dev/null </dev/null |
    tr -d '\r' | sed -n 's/^peak_working_set_mib=//p')

printf '\n%d MiB from nginx on 127.0.0.1, %d alternating pairs per row, whole processes timed:\n' \
    "$size_mib" "$rounds"
cat "$work/summary.txt"
printf 'SHA-256 (one thread, file in the page cache): %s MB/s\n' "$sha256_mbps"
printf 'program peak working set: %s MiB\n' "$peak"
printf 'load average before: %s, after: %s (%s cores)\n' "$load_before" "$load_after" "$(nproc)"
