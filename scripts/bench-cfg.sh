#!/usr/bin/env bash
# Runs the settings-store benchmark under Wine, then times Python's
# configparser (Linux, an independent figure) on files of the same layout.
# Extra argument: the largest entry count (default 160000).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tarn_install_packages
tarn_build
tarn_start_wine
trap tarn_stop_wine EXIT

largest=${1:-160000}
out=$(mktemp "${TMPDIR:-/tmp}/tarn-bench.XXXXXX")
status=0
wine "$TARN_BUILD/bench/cfg_load_bench.exe" "$largest" >"$out" 2>&1 </dev/null || status=$?
cat "$out"
rm -f "$out"
python3 - "$largest" <<'PY'
import configparser, random, sys, time
largest = int(sys.argv[1])
print("configparser (Linux, Python) load ms:")
for many in (False, True):
    count = 10000
    while count <= largest:
        order = list(range(count))
        random.Random(42).shuffle(order)
        if many:
            text = "".join(f"[Section{i}]\nkey={i}\n" for i in order)
        else:
            text = "[Big]\n" + "".join(f"Key{i}={i}\n" for i in order)
        start = time.perf_counter()
        configparser.ConfigParser(interpolation=None).read_string(text)
        ms = (time.perf_counter() - start) * 1000
        print(f"{'sections' if many else 'keys':<9} {count:>8} {ms:>10.1f}")
        count *= 2
PY
exit $status
