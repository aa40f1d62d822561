#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds, and runs every test
# under Wine. Exits non-zero on any failure, when a filter (-R, -L, ...)
# matches no test, or when a Wine process of the build's prefixes outlives
# the run. Extra arguments go to ctest.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tarn_install_packages
tarn_build
tarn_start_display
tarn_start_wine
trap tarn_stop_wine EXIT

cd "$TARN_BUILD"
status=0
ctest --output-on-failure --no-tests=error --timeout 900 "$@" || status=$?

# Every test stops the Wine servers it started; the shared prefix's server
# is this script's. Whatever still runs after both were asked to end leaked.
tarn_stop_wine
trap - EXIT
wineserver -w 2>/dev/null || true
leaked=""
for _ in $(seq 50); do
    leaked=$(tarn_prefix_processes)
    [ -z "$leaked" ] && break
    sleep 0.2
done
if [ -n "$leaked" ]; then
    tarn_log "Wine processes of the build's prefixes outlived the tests:"
    printf '%s\n' "$leaked" >&2
    status=1
fi
exit $status
