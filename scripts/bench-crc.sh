#!/usr/bin/env bash
# Builds the checksum benchmark, makes 1 GiB of random data once and runs the
# benchmark on it under Wine; then times coreutils' cksum (a different CRC,
# as an independent figure) on the same file. Extra argument: number of runs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tarn_install_packages
tarn_build
tarn_start_wine
trap tarn_stop_wine EXIT

data="$TARN_BUILD/bench/crc_data.bin"
if [ "$(stat -c %s "$data" 2>/dev/null || echo 0)" != 1073741824 ]; then
    tarn_log "making $data"
    head -c 1073741824 /dev/urandom >"$data"
fi
out=$(mktemp "${TMPDIR:-/tmp}/tarn-bench.XXXXXX")
status=0
wine "$TARN_BUILD/bench/crc_bench.exe" "$(winepath -w "$data")" "${1:-3}" >"$out" 2>&1 </dev/null || status=$?
cat "$out"
rm -f "$out"
start=$(date +%s.%N)
cksum "$data" >/dev/null
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" 'BEGIN { printf "cksum (Linux, coreutils)           : %8.1f MB/s\n", 1073.741824 / (e - s) }'
exit $status
