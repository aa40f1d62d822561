#!/usr/bin/env bash
# Signs the shipped programs with the maker's code-signing certificate
# (Authenticode, SHA-256), before a packing run copies the program into the
# starter copies:
#   TARN_CODESIGN_PKCS12=<certificate and key, PKCS#12>
#   TARN_CODESIGN_PASSWORD=<its password>
#   TARN_CODESIGN_TIMESTAMP=<time-stamp server URL>   (optional)
#   scripts/sign-release.sh [program ...]
# Without arguments it signs build/Tarn_Gridwell_2023.exe and
# build/tools/bin/MakeCab.exe. The certificate and its password stay
# outside the repository; the password reaches osslsigncode through a pipe,
# never on a command line.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TARN_BUILD:-$root/build}"

: "${TARN_CODESIGN_PKCS12:?names the PKCS#12 file with the code-signing certificate}"
: "${TARN_CODESIGN_PASSWORD?holds the password of that file}"
[ -r "$TARN_CODESIGN_PKCS12" ] || { echo "sign-release: cannot read $TARN_CODESIGN_PKCS12" >&2; exit 1; }
command -v osslsigncode >/dev/null || { echo "sign-release: osslsigncode is missing" >&2; exit 1; }

programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=("$build/Tarn_Gridwell_2023.exe" "$build/tools/bin/MakeCab.exe")

timestamp=()
[ -n "${TARN_CODESIGN_TIMESTAMP:-}" ] && timestamp=(-ts "$TARN_CODESIGN_TIMESTAMP")

for program in "${programs[@]}"; do
    [ -f "$program" ] || { echo "sign-release: $program is missing" >&2; exit 1; }
    work="$(mktemp -d)"
    # A program signed before is signed anew: its old signature goes first.
    if ! osslsigncode remove-signature -in "$program" -out "$work/unsigned.exe" >/dev/null 2>&1; then
        cp "$program" "$work/unsigned.exe"
    fi
    name="$(basename "$program" .exe)"
    if ! printf '%s' "$TARN_CODESIGN_PASSWORD" |
        osslsigncode sign -pkcs12 "$TARN_CODESIGN_PKCS12" -readpass - -h sha256 \
            -n "$name" -i "https://www.tarnwerk.de" "${timestamp[@]}" \
            -in "$work/unsigned.exe" -out "$work/signed.exe" >/dev/null; then
        rm -rf "$work"
        echo "sign-release: signing $program failed" >&2
        exit 1
    fi
    cat "$work/signed.exe" >"$program.signing"
    chmod --reference="$program" "$program.signing"
    mv -f "$program.signing" "$program"
    rm -rf "$work"
    echo "signed $program"
done
