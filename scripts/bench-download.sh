#!/usr/bin/env bash
# Download benchmark: the program's single-file mode and curl, one after the
# other, fetch the same 512 MiB file from the same local nginx (127.0.0.1,
# sendfile, own configuration, stopped afterwards) into the build folder.
# Prints MB/s (10^6 bytes a second) of each, the program's share of curl's
# speed (of the best figures, and the median of each round's own share), and
# the program's peak working set. The program runs twice a round:
# with a record whose checksum is 0 (the transfer alone, the figure compared
# with curl) and with the real checksum (transfer and verification). Best of
# the rounds; arguments: number of rounds (5), size in MiB (512).
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
mkdir -p "$www/bench" "$work/nginx/tmp"

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
# The same file under a second name whose record asks for no verification.
ln -f "$data" "$www/bench/plain.cab"
# Into the page cache before the first round, so that no fetch reads from disk.
cat "$data" >/dev/null
printf '[FileInfo]\r\nCRC=0\r\nFileSize=%d\r\n' "$size" >"$www/bench/plain.fileinfo.txt"

bench() {
    local out status=0
    out=$(mktemp "${TMPDIR:-/tmp}/tarn-bench.XXXXXX")
    wine "$TARN_BUILD/bench/download_bench.exe" "$@" >"$out" 2>&1 </dev/null || status=$?
    tr -d '\r' <"$out"
    rm -f "$out"
    return $status
}

if [ ! -f "$www/bench/verified.fileinfo.txt" ]; then
    bench record "$(winepath -w "$data")" >/dev/null
fi

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
user=""
[ "$(id -u)" -eq 0 ] && user="user root root;"
cat >"$work/nginx/nginx.conf" <<EOF
$user
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 64; }
http {
    default_type application/octet-stream;
    access_log off;
    client_body_temp_path $work/nginx/tmp/body;
    proxy_temp_path $work/nginx/tmp/proxy;
    fastcgi_temp_path $work/nginx/tmp/fastcgi;
    uwsgi_temp_path $work/nginx/tmp/uwsgi;
    scgi_temp_path $work/nginx/tmp/scgi;
    sendfile on;
    server { listen 127.0.0.1:$port; root $www; }
}
EOF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" </dev/null >/dev/null 2>&1 &
nginx_pid=$!
for _ in $(seq 100); do
    curl -s -o /dev/null "http://127.0.0.1:$port/bench/plain.fileinfo.txt" && break
    sleep 0.05
done

url="http://127.0.0.1:$port/bench"
best_curl=0 best_plain=0 best_verified=0 peak=0
mbps() { LC_ALL=C awk -v b="$size" -v s="$1" 'BEGIN { printf "%.1f", b / s / 1e6 }'; }
max() { LC_ALL=C awk -v a="$1" -v b="$2" 'BEGIN { print (b > a ? b : a) }'; }
value() { sed -n "s/^$1=//p"; }
ratio() { LC_ALL=C awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# The middle value of its arguments (the lower of the two middle ones).
median() { printf '%s\n' "$@" | LC_ALL=C sort -g | sed -n "$((($# + 1) / 2))p"; }
plain_ratios=() verified_ratios=()

# Each run starts with the earlier runs' writes on disk: otherwise whichever
# run meets the kernel's write-back throttling loses, whatever its own speed.
fresh_target() {
    rm -rf "$target" && mkdir -p "$target"
    sync
}

for round in $(seq "$rounds"); do
    fresh_target
    seconds=$(curl -s -o "$target/plain.cab" -w '%{time_total}' "$url/plain.cab")
    [ "$(stat -c %s "$target/plain.cab")" = "$size" ] || { tarn_log "curl fetched a short file"; exit 1; }
    curl_mbps=$(mbps "$seconds")

    fresh_target
    result=$(bench run "$(winepath -w "$TARN_BUILD/Tarn_Gridwell_2023.exe")" "$url/plain.cab" "$(winepath -w "$target")")
    cmp -s "$target/plain.cab" "$data" || { tarn_log "the program fetched a different file"; exit 1; }
    plain_mbps=$(mbps "$(value program_seconds <<<"$result")")
    peak=$(max "$peak" "$(value peak_working_set_mib <<<"$result")")

    fresh_target
    result=$(bench run "$(winepath -w "$TARN_BUILD/Tarn_Gridwell_2023.exe")" "$url/verified.cab" "$(winepath -w "$target")")
    [ -f "$target/verified.cab" ] || { tarn_log "the verified download failed"; exit 1; }
    verified_mbps=$(mbps "$(value program_seconds <<<"$result")")
    peak=$(max "$peak" "$(value peak_working_set_mib <<<"$result")")

    plain_ratio=$(ratio "$plain_mbps" "$curl_mbps")
    verified_ratio=$(ratio "$verified_mbps" "$curl_mbps")
    plain_ratios+=("$plain_ratio")
    verified_ratios+=("$verified_ratio")
    printf 'round %d: curl %s MB/s, program %s MB/s (%s), program with verification %s MB/s (%s)\n' \
        "$round" "$curl_mbps" "$plain_mbps" "$plain_ratio" "$verified_mbps" "$verified_ratio"
    best_curl=$(max "$best_curl" "$curl_mbps")
    best_plain=$(max "$best_plain" "$plain_mbps")
    best_verified=$(max "$best_verified" "$verified_mbps")
done

LC_ALL=C awk -v c="$best_curl" -v p="$best_plain" -v v="$best_verified" -v m="$peak" -v n="$size_mib" \
    -v pm="$(median "${plain_ratios[@]}")" -v vm="$(median "${verified_ratios[@]}")" 'BEGIN {
    printf "\n%d MiB from nginx on 127.0.0.1, best of the rounds (and the median share per round):\n", n
    printf "curl                               : %8.1f MB/s\n", c
    printf "program, single-file mode          : %8.1f MB/s  (%.2f of curl; median %.2f)\n", p, p / c, pm
    printf "program, with checksum verification: %8.1f MB/s  (%.2f of curl; median %.2f)\n", v, v / c, vm
    printf "program peak working set           : %8.1f MiB\n", m
}'
