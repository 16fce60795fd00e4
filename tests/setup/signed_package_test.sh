#!/usr/bin/env bash
# scripts/package --sign with a throwaway self-signed certificate, as a
# release is signed: the images are signed before the setups carry them, then
# the setups. Every signed file in the bundle verifies against the
# certificate, each setup carries the signed images byte for byte, a file with
# one byte flipped fails, the bundle's README says it is signed, and signing
# again (the signed files made anew from the same build) gives the same zip.
#
#   signed_package_test.sh scripts/package WORKDIR
set -euo pipefail
package=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=kbdQelvo test signer" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
"$package" --sign "$work/cert.pem" "$work/key.pem" --build "$work/build" --out "$work/one" >/dev/null
rm -rf "$work/build/signed"   # signed again, and the setups linked again with what that gives
"$package" --sign "$work/cert.pem" "$work/key.pem" --build "$work/build" --out "$work/two" >/dev/null
one=$(ls "$work"/one/kbdQelvo-*.zip)
two=$work/two/$(basename "$one")
status=0
cmp -s "$one" "$two" || { echo "FAIL: two signed bundles from the same build differ"; status=1; }
unzip -q "$one" -d "$work/unzipped"
bundle=$(ls -d "$work"/unzipped/kbdQelvo-*)
verifies() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >/dev/null 2>&1; }
n=0
for f in "$bundle"/kbdQelvo-setup-*.exe "$bundle"/images/*/kbdQelvo.dll; do
    n=$((n + 1))
    verifies "$f" || { echo "FAIL: ${f#"$bundle"/} does not verify"; status=1; }
    # A byte in the middle of the code, covered by the signed hash.
    cp "$f" "$work/flipped"
    at=$(($(stat -c %s "$f") / 3))
    old=$(od -An -tu1 -j "$at" -N1 "$f" | tr -d ' ')
    printf "\\$(printf %03o $((old ^ 0xff)))" | dd of="$work/flipped" bs=1 seek="$at" conv=notrunc status=none
    if verifies "$work/flipped"; then echo "FAIL: ${f#"$bundle"/} with a flipped byte still verifies"; status=1; fi
done
[ $n = 7 ] || { echo "FAIL: $n signed files in the bundle, not 3 setups and 4 images"; status=1; }
# The signed images are what each setup carries (resources keep them verbatim).
python3 - "$bundle" <<'PY' || status=1
import pathlib, sys
bundle = pathlib.Path(sys.argv[1])
images = {p.parent.name: p.read_bytes() for p in bundle.glob("images/*/kbdQelvo.dll")}
for setup in sorted(bundle.glob("kbdQelvo-setup-*.exe")):
    data = setup.read_bytes()
    missing = [kind for kind, image in sorted(images.items()) if image not in data]
    if missing:
        print(f"FAIL: {setup.name} does not carry the signed {', '.join(missing)} image")
        sys.exit(1)
PY
grep -q "The setups and the layout files are signed" "$bundle/README.txt" ||
    { echo "FAIL: the signed bundle's README does not say it is signed"; status=1; }
[ $status -eq 0 ] && echo "$(basename "$one"): $n files signed and verified, each image inside each setup," \
    "a flipped byte fails each; identical when signed again"
exit $status
