#!/usr/bin/env bash
# Signing the release files with a throwaway self-signed certificate: every
# signed file verifies against that certificate, signing twice gives the same
# bytes, and a file with one byte flipped after signing fails verification.
#
#   sign_test.sh scripts/sign WORKDIR FILE...
set -euo pipefail
sign=$1 work=$2; shift 2
rm -rf "$work" && mkdir -p "$work"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=kbdQelvo test signer" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
status=0
n=0
for file in "$@"; do
    n=$((n + 1))
    one=$work/$n-one-$(basename "$file") two=$work/$n-two-$(basename "$file")
    "$sign" "$work/cert.pem" "$work/key.pem" "$file" "$one"
    "$sign" "$work/cert.pem" "$work/key.pem" "$file" "$two"
    cmp -s "$one" "$two" || { echo "FAIL: $file signed twice differs"; status=1; }
    osslsigncode verify -CAfile "$work/cert.pem" -in "$one" >/dev/null 2>&1 ||
        { echo "FAIL: signed $file does not verify"; status=1; }
    # A byte in the middle of the code, covered by the signed hash.
    flipped=$work/$n-flipped
    cp "$one" "$flipped"
    at=$(($(stat -c %s "$file") / 2))
    old=$(od -An -tu1 -j "$at" -N1 "$flipped" | tr -d ' ')
    printf "\\$(printf %03o $((old ^ 0xff)))" | dd of="$flipped" bs=1 seek="$at" conv=notrunc status=none
    if osslsigncode verify -CAfile "$work/cert.pem" -in "$flipped" >/dev/null 2>&1; then
        echo "FAIL: $file with a flipped byte still verifies"; status=1
    fi
done
[ $status -eq 0 ] && echo "$n files signed, verified, identical twice; a flipped byte fails each"
exit $status
