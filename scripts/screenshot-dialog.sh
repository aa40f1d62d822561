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
if [ ! -f "$TARN_BUILD/build.ninja" ]; then
    cmake -S "$TARN_ROOT" -B "$TARN_BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TARN_ROOT/cmake/mingw-w64-x86_64.cmake"
fi
cmake --build "$TARN_BUILD" --target show_installer_dialog
tarn_use_prefix screenshot
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
tarn_seal_prefix

for dpi in "${dpis[@]}"; do
    tarn_log "dialog at $dpi DPI"
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
        /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    marker="$outDir/shown-$dpi"
    rm -f "$marker"
    # The helper makes the marker once the dialog shows its status text.
    wine explorer /desktop=screenshot,1280x1000 "$helper" 6 "Z:${marker//\//\\}" >/dev/null 2>&1 &
    dialogPid=$!
    for _ in $(seq 240); do
        [ -f "$marker" ] && break
        sleep 0.5
    done
    [ -f "$marker" ] || { tarn_log "the dialog did not show at $dpi DPI"; exit 1; }
    sleep 2  # let it paint
    /usr/bin/python3 - "$outDir/dialog-$dpi.png" <<'PY'
import os, sys
from PIL import ImageGrab
ImageGrab.grab(xdisplay=os.environ["DISPLAY"]).save(sys.argv[1])
PY
    tarn_log "saved $outDir/dialog-$dpi.png"
    wait "$dialogPid" || true
    rm -f "$marker"
done
