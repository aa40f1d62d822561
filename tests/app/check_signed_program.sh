#!/usr/bin/env bash
# scripts/sign-release.sh with a throwaway authority: the signed program and
# MakeCab.exe verify against that authority; the unsigned program and a
# signed one changed after signing do not.
#   check_signed_program.sh <source root> <work folder> <program> <makecab>
set -euo pipefail
root="$1" work="$2" program="$3" makecab="$4"
rm -rf "$work"
mkdir -p "$work"
"$root/scripts/make-throwaway-keys.sh" "$work/keys"
cp "$program" "$work/Tarn_Gridwell_2023.exe"
cp "$makecab" "$work/MakeCab.exe"
cp "$program" "$work/unsigned.exe"
TARN_CODESIGN_PKCS12="$work/keys/codesign.p12" TARN_CODESIGN_PASSWORD=throwaway \
    "$root/scripts/sign-release.sh" "$work/Tarn_Gridwell_2023.exe" "$work/MakeCab.exe"
verify() { osslsigncode verify -CAfile "$work/keys/ca.pem" -in "$1" >"$work/verify.log" 2>&1; }
for signed in Tarn_Gridwell_2023.exe MakeCab.exe; do
    verify "$work/$signed" || { cat "$work/verify.log"; echo "FAIL: $signed does not verify"; exit 1; }
done
if verify "$work/unsigned.exe"; then echo "FAIL: an unsigned program verifies"; exit 1; fi
cp "$work/Tarn_Gridwell_2023.exe" "$work/changed.exe"
printf 'X' | dd of="$work/changed.exe" bs=1 seek=1024 conv=notrunc 2>/dev/null
if verify "$work/changed.exe"; then echo "FAIL: a program changed after signing verifies"; exit 1; fi
echo "signed programs verify"
