#!/usr/bin/env bash
# Builds the program and starts it under Wine with the given arguments
# (none: the installer of the default product).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tarn_install_packages
tarn_build
tarn_start_display
tarn_start_wine
trap tarn_stop_wine EXIT

set +e
wine "$TARN_BUILD/Tarn_Gridwell_2023.exe" "$@"
status=$?
set -e
tarn_log "Tarn_Gridwell_2023.exe ended with exit code $status"
exit $status
