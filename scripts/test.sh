#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds, and runs every test
# under Wine. Exits non-zero on any failure. Extra arguments go to ctest.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tarn_install_packages
tarn_build
tarn_start_display
tarn_start_wine
trap tarn_stop_wine EXIT

cd "$TARN_BUILD"
ctest --output-on-failure --timeout 900 "$@"
