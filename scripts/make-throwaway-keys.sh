#!/usr/bin/env bash
# Makes throwaway keys for tests and the demo, never for a release:
#   scripts/make-throwaway-keys.sh <folder>
# writes into <folder>
#   release_key.pem   ECDSA P-256 private key (PKCS#8) for TARN_SIGNING_KEY
#   release_keys.pem  its public key, for -DTARN_RELEASE_KEYS
#   ca.pem            a test authority
#   codesign.p12      a code-signing certificate that authority issued, with
#                     its key; password "throwaway"
set -euo pipefail
out="${1:?folder}"
mkdir -p "$out"
cd "$out"
quiet() { "$@" >/dev/null 2>&1 || { echo "make-throwaway-keys: $1 $2 failed" >&2; exit 1; }; }
quiet openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out release_key.pem
quiet openssl pkey -in release_key.pem -pubout -out release_keys.pem
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
    -subj "/CN=Tarn Throwaway Test Authority" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
quiet openssl req -newkey rsa:2048 -nodes -keyout codesign.key -out codesign.csr \
    -subj "/CN=Tarnwerk AG (throwaway)/O=Tarnwerk AG"
printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
    "extendedKeyUsage=codeSigning" >codesign.ext
quiet openssl x509 -req -in codesign.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile codesign.ext -out codesign.pem
quiet openssl pkcs12 -export -inkey codesign.key -in codesign.pem -certfile ca.pem \
    -passout pass:throwaway -out codesign.p12
rm -f ca.key codesign.key codesign.csr codesign.ext ca.srl
