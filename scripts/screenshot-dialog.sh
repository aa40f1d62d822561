#!/usr/bin/env bash
# Photographs the installer dialog at 96 and 144 DPI under Xvfb, with a
# worker that shows a status text and a progress position and then waits.
# The pictures land in build/screenshots/dialog-<dpi>.png; look at them.
#
#   scripts/screenshot-dialog.sh [dpi ...]     (default: 96 144)
#
# The dialog runs in a Wine prefix of its own (build/wineprefix-screenshot),
# so changing its DPI setting disturbs no test run, inside a Wine virtual
# desktop, which draws the window frame that no window manager would.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

dpis=("$@")
[ ${#dpis[@]} -eq 0 ] && dpis=(96 144)

tarn_install_packages
tarn_build
tarn_wine_env
export WINEPREFIX="$TARN_BUILD/wineprefix-screenshot"
outDir="$TARN_BUILD/screenshots"
mkdir -p "$outDir"
helper="$TARN_BUILD/tests/bin/show_installer_dialog.exe"
[ -f "$helper" ] || { tarn_log "missing $helper (build with tests)"; exit 1; }

# Always a display of our own: the pictures must not show the user's screen.
unset DISPLAY
trap tarn_stop_wine EXIT
tarn_start_display

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    tarn_log "making the Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi

for dpi in "${dpis[@]}"; do
    tarn_log "dialog at $dpi DPI"
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
        /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    wine explorer /desktop=screenshot,1600x1000 "$helper" "${TARN_SCREENSHOT_WAIT:-20}" >/dev/null 2>&1 &
    dialogPid=$!
    sleep "${TARN_SCREENSHOT_DELAY:-8}"
    /usr/bin/python3 - "$outDir/dialog-$dpi.png" <<'PY'
import os, sys
from PIL import ImageGrab
ImageGrab.grab(xdisplay=os.environ["DISPLAY"]).save(sys.argv[1])
PY
    tarn_log "saved $outDir/dialog-$dpi.png"
    wait "$dialogPid" || true
done
