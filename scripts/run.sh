#!/usr/bin/env bash
# Builds the program and starts it under Wine.
#   scripts/run.sh            both sides of a release: the program's
#                             "PackGridwell" packs a demo product's source
#                             tree (on drive N:, mapped into build/demo) into
#                             its cabinets, records, download list and
#                             starter copies, signed: the program itself
#                             with a throwaway code-signing certificate,
#                             the release with a throwaway key pair whose
#                             public key the installer is built with
#                             (build/keyed); tools/devserver publishes them
#                             on 127.0.0.1; the product list on the Wine
#                             desktop points Tarn_Gridwell_2023 there, and
#                             the installer dialog downloads, unpacks and
#                             starts the demo Setup.exe, which shows what it
#                             found. Without a display it runs under Xvfb and
#                             saves screenshots in build/demo/.
#   scripts/run.sh ARGS...    the program with these arguments, e.g. PackUpdate
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tarn_install_packages
tarn_build
ownDisplay=0
[ -z "${DISPLAY:-}" ] && ownDisplay=1
tarn_start_display
# A sealed prefix of its own (build/wineprefix-run): the demo maps drives and
# writes a product list, which no test run may see.
tarn_use_prefix run
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
makecab="$TARN_BUILD/tools/bin/MakeCab.exe"
rm -rf "$demo"
mkdir -p "$demo/www" "$demo/drives/n" "$demo/drives/h"

# Throwaway keys, as a maker keeps real ones on the build machine: the
# release key pair and a code-signing certificate of a test authority.
"$TARN_ROOT/scripts/make-throwaway-keys.sh" "$demo/keys"
# The customer's installer knows the public key: a second build with it.
keyed="$TARN_BUILD/keyed"
tarn_log "building the installer with the demo's public key into $keyed"
cmake -S "$TARN_ROOT" -B "$keyed" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TARN_ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DTARN_BUILD_TESTS=OFF -DTARN_RELEASE_KEYS="$demo/keys/release_keys.pem" >/dev/null
cmake --build "$keyed" --target Tarn_Gridwell_2023 >/dev/null
# The program that packs is signed first, so that its starter copies are.
mkdir -p "$demo/signed"
cp "$TARN_BUILD/Tarn_Gridwell_2023.exe" "$demo/signed/"
TARN_CODESIGN_PKCS12="$demo/keys/codesign.p12" TARN_CODESIGN_PASSWORD=throwaway \
    "$TARN_ROOT/scripts/sign-release.sh" "$demo/signed/Tarn_Gridwell_2023.exe" >&2

screenshot() {
    [ "$ownDisplay" = 1 ] || return 0
    /usr/bin/python3 - "$1" <<'PY' && tarn_log "screenshot: $1"
import os, sys
from PIL import ImageGrab
ImageGrab.grab(xdisplay=os.environ["DISPLAY"]).save(sys.argv[1])
PY
}

# The maker's side. The packing reads and writes the build machine's
# drives: N: (source tree, packages, configuration) and H: (the record of
# what was packed) point into the demo folder while it runs.
devices="$WINEPREFIX/dosdevices"
for letter in n h; do
    link="$devices/$letter:"
    if [ -e "$link" ] || [ -L "$link" ]; then
        case "$(readlink "$link")" in
            "$demo"/drives/*) ;;  # left by an interrupted demo
            *) tarn_log "drive $letter: of $WINEPREFIX is mapped elsewhere; the demo leaves it alone"; exit 1 ;;
        esac
    fi
done
# The demo's product lists on the prefix's desktop go at the end, and one
# that was there before comes back.
productList="$WINEPREFIX/drive_c/users/$(id -un)/Desktop/Tarnix_Software.txt"
[ -f "$productList" ] && cp -p "$productList" "$demo/Tarnix_Software.txt.before"
cleanup() {
    rm -f "$devices/n:" "$devices/h:"
    if [ -f "$demo/Tarnix_Software.txt.before" ]; then
        cp -p "$demo/Tarnix_Software.txt.before" "$productList"
    else
        rm -f "$productList"
    fi
}
trap 'cleanup; tarn_stop_wine' EXIT
for letter in n h; do ln -sfn "$demo/drives/$letter" "$devices/$letter:"; done
python3 "$TARN_ROOT/scripts/make_demo_product.py" tree "$demo/drives/n/CD_2023/Tarn Gridwell" \
    "$TARN_BUILD/tools/bin/demo_setup.exe" "$makecab"
# No server is asked for the product list while packing.
printf '[Settings]\r\n[Ready]\r\n' >"$productList"
packed="$demo/drives/n/CD_2023/Download"
# The updater is published before a product is packed: its list names it.
python3 "$TARN_ROOT/scripts/make_demo_product.py" updater "$packed" "$makecab"
tarn_log "Tarn_Gridwell_2023.exe PackGridwell: N:\\CD_2023\\Tarn Gridwell into N:\\CD_2023\\Download"
# The packing runs our MakeCab.exe from the search path.
searchPath="$(printf 'Z:%s' "${makecab%/*}" | tr / '\\')"
signingKey="$(printf 'Z:%s' "$demo/keys/release_key.pem" | tr / '\\')"
WINEPATH="$searchPath" TARN_SIGNING_KEY="$signingKey" wine "$demo/signed/Tarn_Gridwell_2023.exe" PackGridwell \
    </dev/null >"$TARN_BUILD/pack.log" 2>&1 &
packer=$!
# A failure stops the mode at a message box naming what failed.
for _ in $(seq 600); do kill -0 $packer 2>/dev/null || break; sleep 0.5; done
if kill -0 $packer 2>/dev/null || [ ! -f "$packed/Tarn_Gridwell_2023_Download_List.txt" ]; then
    screenshot "$demo/packing-failed.png"
    tarn_log "PackGridwell published no download list (see $TARN_BUILD/pack.log)"
    exit 1
fi
wait $packer || true
rm -f "$devices/n:" "$devices/h:"
tarn_log "packed into $packed:"
(cd "$packed" && ls -l --time-style=+ | tail -n +2) >&2
tarn_log "the release's signed manifest:"
cat "$packed/Tarn_Gridwell_2023_Download_List.txt.sig" >&2
for starter in "$packed"/*.exe; do
    osslsigncode verify -CAfile "$demo/keys/ca.pem" -in "$starter" >/dev/null 2>&1 &&
        tarn_log "${starter##*/}: Authenticode signature verifies against the demo authority"
done

# The user's side: the server publishes what was packed.
python3 "$TARN_ROOT/scripts/make_demo_product.py" publish "$packed" "$demo/www" "$makecab"
python3 "$TARN_ROOT/tools/devserver/devserver.py" --root "$demo/www" --port 0 --port-file "$demo/port" \
    --log "$demo/requests.log" </dev/null >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; cleanup; tarn_stop_wine' EXIT
for _ in $(seq 100); do [ -s "$demo/port" ] && break; sleep 0.1; done
base="http://127.0.0.1:$(cat "$demo/port")/gridwell/data/2023"

# The product list on the prefix's desktop points the product at the server.
printf '[Settings]\r\nTarn_Gridwell_2023=%s\r\n[Ready]\r\nTarn_Gridwell_2023=True\r\n' "$base" \
    >"$productList"
# A fresh start: no earlier installation data, status or packages.
data="$WINEPREFIX/drive_c/Tarn_InstallData"
rm -rf "$data/Tarn Gridwell 2023" "$data/Tarn Gridwell 2023 DownloadStatus.txt"
rm -f "$WINEPREFIX/drive_c/users/$(id -un)/Temp/"Tarn_Gridwell_2023_*.cab

tarn_log "Tarn_Gridwell_2023.exe (built with the release key) against $base"
wine "$keyed/Tarn_Gridwell_2023.exe" </dev/null >"$TARN_BUILD/run.log" 2>&1 &
program=$!
# The dialog, once it fetches the first package.
for _ in $(seq 300); do grep -q '_(1)\.cab' "$demo/requests.log" 2>/dev/null && break; sleep 0.1; done
screenshot "$demo/dialog.png"
marker="$data/Tarn Gridwell 2023/Setup.started.txt"
for _ in $(seq 600); do [ -f "$marker" ] && break; sleep 0.5; done
if [ -f "$marker" ]; then
    sleep 2
    screenshot "$demo/setup.png"
    tarn_log "the demo Setup.exe was started from $data/Tarn Gridwell 2023"
else
    tarn_log "the demo Setup.exe was not started (see $TARN_BUILD/run.log)"
fi
wait $program || true
tarn_log "requests the server saw:"
python3 -c 'import json, sys
for line in open(sys.argv[1]):
    e = json.loads(line); print(e["status"], e["path"])' "$demo/requests.log" >&2 || true
tarn_log "unpacked into $data/Tarn Gridwell 2023:"
(cd "$data/Tarn Gridwell 2023" 2>/dev/null && find . -type f | sort) || true
if [ "$ownDisplay" = 0 ]; then
    tarn_log "close the demo setup's window to end"
    wineserver -w 2>/dev/null || true
fi
