#!/usr/bin/env bash
# The release bundle made twice from one build folder is the same bytes, and
# holds the setups, the images, the pictures, the Linux and macOS files and the
# README, which says the setups are not signed.
#
#   bundle_test.sh scripts/package BUILD_DIR WORKDIR
set -euo pipefail
package=$1 build=$2 work=$3
rm -rf "$work"
"$package" --from "$build" --out "$work/one" >/dev/null
sleep 1   # a second later: times must not leak into the zip
"$package" --from "$build" --out "$work/two" >/dev/null
one=$(ls "$work"/one/kbdQelvo-*.zip)
two=$work/two/$(basename "$one")
cmp "$one" "$two" || { echo "FAIL: two bundles from the same files differ"; exit 1; }
listing=$(zip -sf "$one")
name=$(basename "$one" .zip)
status=0
for f in README.txt kbdQelvo-setup-x86.exe kbdQelvo-setup-x64.exe kbdQelvo-setup-arm64.exe \
         images/x86/kbdQelvo.dll images/x64/kbdQelvo.dll images/arm64/kbdQelvo.dll images/wow64/kbdQelvo.dll \
         pictures/base-shift.svg pictures/altgr.svg pictures/dead-00AF.svg \
         linux/keymap.xkb linux/Compose linux/xkb/symbols/custom linux/xkb/rules/evdev \
         macos/kbdQelvo.bundle/Contents/Info.plist macos/kbdQelvo.bundle/Contents/Resources/kbdQelvo.keylayout; do
    grep -qx "  $name/$f" <<<"$listing" || { echo "FAIL: $f is not in $name.zip"; status=1; }
done
unzip -p "$one" "$name/README.txt" | grep -q "The setup is not signed" ||
    { echo "FAIL: the unsigned bundle's README does not say it is not signed"; status=1; }
echo "$(basename "$one"): $(stat -c %s "$one") bytes, $(grep -c "^  $name/" <<<"$listing") files, identical twice"
exit $status
