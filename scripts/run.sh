#!/usr/bin/env bash
# Builds the program and starts it under Wine.
#   scripts/run.sh            the program's download road on a local default:
#                             tools/devserver publishes a demo package with its
#                             file-info record on 127.0.0.1, and the program's
#                             single-file mode fetches and verifies it into
#                             build/demo/target (run it twice: the second run
#                             finds the folder current and fetches nothing)
#   scripts/run.sh ARGS...    the program with these arguments, e.g. PackUpdate
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tarn_install_packages
tarn_build
tarn_start_display
tarn_start_wine

if [ $# -gt 0 ]; then
    trap tarn_stop_wine EXIT
    set +e
    wine "$TARN_BUILD/Tarn_Gridwell_2023.exe" "$@" </dev/null >"$TARN_BUILD/run.log" 2>&1
    status=$?
    set -e
    cat "$TARN_BUILD/run.log"
    tarn_log "Tarn_Gridwell_2023.exe ended with exit code $status"
    exit $status
fi

demo="$TARN_BUILD/demo"
mkdir -p "$demo/www/gridwell/data/2023/Downloads" "$demo/target"
python3 "$TARN_ROOT/scripts/make_demo_package.py" "$demo/www/gridwell/data/2023/Downloads/Tarn_Demo_1.cab"

rm -f "$demo/port" "$demo/requests.log"
python3 "$TARN_ROOT/tools/devserver/devserver.py" --root "$demo/www" --port 0 --port-file "$demo/port" \
    --log "$demo/requests.log" </dev/null >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; tarn_stop_wine' EXIT
for _ in $(seq 100); do [ -s "$demo/port" ] && break; sleep 0.1; done
url="http://127.0.0.1:$(cat "$demo/port")/gridwell/data/2023/Downloads/Tarn_Demo_1.cab"

# Wine quotes an argument that holds blanks as a whole, which the program's
# command-line rules read as the same keyword token.
target=$(winepath -w "$demo/target")
tarn_log "Tarn_Gridwell_2023.exe DownloadFile=$url ToFolder=$target"
wine "$TARN_BUILD/Tarn_Gridwell_2023.exe" "DownloadFile=$url" "ToFolder=$target" \
    </dev/null >"$TARN_BUILD/run.log" 2>&1 || true
tarn_log "requests the server saw:"
cat "$demo/requests.log" >&2 2>/dev/null || true
tarn_log "in $demo/target:"
LC_ALL=C ls -l "$demo/target"
cmp -s "$demo/target/Tarn_Demo_1.cab" "$demo/www/gridwell/data/2023/Downloads/Tarn_Demo_1.cab" &&
    tarn_log "the package arrived complete and verified"
