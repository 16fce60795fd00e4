#!/usr/bin/env bash
# The x64 setup in a Wine prefix filled with a registry like a Windows
# machine's: install, install again, repair, a restart left waiting, uninstall,
# failures half-way, and a run elevated with another account's password.
# Another layout's setup, as kbdtool build --setup makes it, is installed,
# upgraded and uninstalled beside ours. Prints the registry and the files
# before and after each step.
#
#   wine_setup_test.sh SETUP.exe IMAGE_X64 IMAGE_WOW64 FIXTURE.reg WORKDIR STANDINS IDENTITY SETUP_X86 SETUP_ARM64 GENERATED
#
# STANDINS is the folder of tests/setup/standins' build: input.dll, a stand-in
# for the system's that records each InstallLayoutOrTip call in
# $KBD_INPUT_LOG (the calls are checked too), wtsapi32.dll, which names
# another user as the session's, and hold.exe, which keeps a file in use.
# IDENTITY and the other two setups make the winget manifest, whose entry is
# checked against the one the setup writes. GENERATED holds kbdtool build
# --setup's output for the test layout sgcaps at two versions, 1.0/ and
# 1.0.3.40/ (cmake/setup.cmake).
#
# Needs WINEPREFIX (a prefix made by scripts/wine --prepare). Exit 0 when
# every check holds; each failed check prints one line starting "FAIL".
set -uo pipefail
SETUP=$1 IMAGE_X64=$2 IMAGE_WOW64=$3 FIXTURE=$4 WORK=$5 STANDINS=$6 IDENTITY=$7 SETUP_X86=$8 SETUP_ARM64=$9 GENERATED=${10}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WINE=$ROOT/scripts/wine
: "${WINEPREFIX:?WINEPREFIX must name the prepared prefix}"
# The whole test in one Wine session: one server, so each run starts at once.
[ "${KBD_WINE_SESSION:-}" = "$WINEPREFIX" ] || exec "$WINE" --session "$0" "$@"
C=$WINEPREFIX/drive_c
SYS32=$C/windows/system32/kbdQelvo.dll
WOW64=$C/windows/syswow64/kbdQelvo.dll
KEPT="$C/Program Files/kbdQelvo"
LAYOUTS='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Keyboard Layouts'
UNINSTALL='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
USERKEY='HKEY_CURRENT_USER\Keyboard Layout'
SIGNIN='HKEY_USERS\.DEFAULT\Keyboard Layout'
# A second user's hive, loaded (Wine keeps such a hive only while its
# server runs, so it is made, used and read in one batch).
OTHER='HKEY_USERS\S-1-5-21-1111-2222-3333-1001'
ACTIVE='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Active Setup\Installed Components'
OURS='{6F3C29A4-8B1D-4E57-A0C2-5D94E7B1F038}'
# The other layout's setups and what they install.
GEN_V1=$GENERATED/1.0/sgcaps-setup-x64.exe GEN_V2=$GENERATED/1.0.3.40/sgcaps-setup-x64.exe
GEN_SYS32=$C/windows/system32/sgcaps.dll
GEN_WOW64=$C/windows/syswow64/sgcaps.dll
GEN_KEPT="$C/Program Files/sgcaps"

rm -rf "$WORK"
mkdir -p "$WORK"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
winpath() { echo "Z:${1//\//\\}"; }
cp "$STANDINS/input.dll" "$C/windows/system32/input.dll"
trap 'rm -f "$C/windows/system32/input.dll"' EXIT
export KBD_INPUT_LOG
KBD_INPUT_LOG=$(winpath "$WORK/input-calls.txt")
# The InstallLayoutOrTip calls since the last look, one "STRING 0xFLAGS" a line.
calls() { [ -f "$WORK/input-calls.txt" ] && tr -d '\r' <"$WORK/input-calls.txt" | tr '\n' ';'; rm -f "$WORK/input-calls.txt"; }

# One Wine start runs a batch of commands.
batch() {  # NAME, then the lines of the batch
    local name=$1
    shift
    printf '%s\r\n' "@echo off" "$@" >"$WORK/$name.bat"
    "$WINE" "$C/windows/system32/cmd.exe" /c "$(winpath "$WORK/$name.bat")" >"$WORK/$name.out" 2>&1
}

# The keys the setup may touch, as one UTF-8 text. LINES run first, in the
# same Wine start. Each export is tried a second time when the first did not
# write its file (Wine, busy, now and then fails to start a program).
snapshot() {  # NAME [LINES...]
    local name=$1 k key exports=()
    shift
    k=0
    for key in "$LAYOUTS" "$UNINSTALL" "$USERKEY" "$SIGNIN" "$ACTIVE"; do
        k=$((k + 1))
        exports+=("reg export \"$key\" $(winpath "$WORK/$name-$k.reg") /y >nul"
                  "if not exist $(winpath "$WORK/$name-$k.reg") reg export \"$key\" $(winpath "$WORK/$name-$k.reg") /y >nul")
    done
    batch "export-$name" "$@" "${exports[@]}"
    for k in 1 2 3 4 5; do
        [ -f "$WORK/$name-$k.reg" ] || { fail "reg export $k for $name"; continue; }
        iconv -f UTF-16 -t UTF-8 "$WORK/$name-$k.reg" | tr -d '\r' | sed '1s/^\xEF\xBB\xBF//'
    done >"$WORK/$name.txt"
}

files() {  # [FILES...]: by default ours
    local f
    [ $# -gt 0 ] || set -- "$SYS32" "$WOW64" "$KEPT/kbdQelvo-setup.exe"
    for f in "$@"; do
        if [ -f "$f" ]; then
            echo "  ${f#"$C"/}  $(stat -c %s "$f") bytes  sha256 $(sha256sum <"$f" | cut -c1-16)…  mtime $(stat -c %.9Y "$f")"
        else
            echo "  ${f#"$C"/}  (absent)"
        fi
    done
}

run_setup() {  # NAME ARGS...: runs the setup, prints what it said and its exit code
    local name=$1
    shift
    "$WINE" "${RUN_SETUP_EXE:-$SETUP}" "$@" >"$WORK/$name.out" 2>&1
    local rc=$?
    echo "\$ kbdQelvo-setup.exe $*   (exit $rc)"
    sed 's/^/  | /' "$WORK/$name.out"
    return $rc
}

# Our key's block in an export.
our_key() { awk -v RS= '/"Qelvo Setup"=/' "$1"; }

# ---- A known start: nothing of ours or the other layout's (a run before may
# have stopped half-way), the fixture loaded
"$WINE" "$SETUP" --quiet --uninstall >/dev/null 2>&1
rm -rf "$WOW64" "$SYS32"
batch fixture "$(winpath "$GEN_V1") --quiet --uninstall >nul 2>nul" "reg delete \"$USERKEY\\Preload\" /f >nul 2>nul" "reg delete \"$USERKEY\\Substitutes\" /f >nul 2>nul" \
    "reg delete \"$SIGNIN\" /f >nul 2>nul" \
    "reg delete \"$ACTIVE\\$OURS\" /f >nul 2>nul" "regedit /S $(winpath "$FIXTURE")"
rm -rf "$GEN_SYS32" "$GEN_WOW64" "$GEN_KEPT"
calls >/dev/null
snapshot before
echo "== Before: the layouts' keys"
grep '^\[' "$WORK/before.txt" | sed 's/^/  /'
echo "== Before: files"
files

# ---- Install
echo
echo "== Install"
# The sign-in screen's first language is German (0407), the user's English
# (0409): each list gets the layout under its own first language.
run_setup install --quiet --sign-in-screen || fail "install exited non-zero"
got=$(calls)
[ "$got" = "0407:A0010409 0x00000024;0409:A0010409 0x00000000;" ] || fail "install called InstallLayoutOrTip as '$got'"
grep -q "in your list of keyboards now: press Windows key + Space to switch to it; nothing waits for a restart.$" \
    "$WORK/install.out" || fail "the message does not say how to switch and that nothing waits for a restart"
snapshot install
echo "== After install: what changed in the registry"
diff -u "$WORK/before.txt" "$WORK/install.txt" | tail -n +3 | grep '^[-+]' | sed 's/^/  /'
echo "== After install: files"
files
block=$(our_key "$WORK/install.txt")
klid=$(sed -n 's/.*Keyboard Layouts\\\([0-9a-fA-F]\{8\}\)\]$/\1/p' <<<"$block")
id=$(sed -n 's/^"Layout Id"="\(.*\)"$/\1/p' <<<"$block")
[ "$(grep -c '"Qelvo Setup"=' "$WORK/install.txt")" = 1 ] || fail "not exactly one key with our marker"
[ "$klid" = a0010409 ] || fail "KLID $klid, expected a0010409 (a0000409 is another layout's)"
grep -qi "Keyboard Layouts\\\\$klid\]" "$WORK/before.txt" && fail "KLID $klid was already taken"
grep -q '^"Layout File"="kbdQelvo.dll"$' <<<"$block" || fail "Layout File"
grep -q '^"Layout Text"="Qelvo Keyboard Layout"$' <<<"$block" || fail "Layout Text"
[ "$(grep -ic "^\"Layout Id\"=\"$id\"$" "$WORK/install.txt")" = 1 ] || fail "Layout Id $id is not unique"
[ "$id" = 00f9 ] || fail "Layout Id $id, expected 00f9 (one above the highest, 00f8)"
signin=$(awk -v RS= 'tolower($0) ~ /hkey_users\\.default\\keyboard layout/' "$WORK/install.txt")
grep -q '^"2"="d0010407"$' <<<"$signin" && grep -q '^"d0010407"="a0010409"$' <<<"$signin" ||
    fail "the sign-in screen's list does not name a0010409 under its own language, through substitute d0010407"
# Everything that was there is still there, unchanged: the diff only adds.
diff "$WORK/before.txt" "$WORK/install.txt" | grep -q '^<' && fail "install changed or removed existing registry lines"
cmp -s "$SYS32" "$IMAGE_X64" || fail "system32\\kbdQelvo.dll is not the x64 image"
cmp -s "$WOW64" "$IMAGE_WOW64" || fail "syswow64\\kbdQelvo.dll is not the WOW64 image"
cmp -s "$KEPT/kbdQelvo-setup.exe" "$SETUP" || fail "the kept setup is not this setup"
grep -q '"UninstallString"=.*kbdQelvo-setup.exe\\" --uninstall"' "$WORK/install.txt" || fail "no uninstall command"
files >"$WORK/files-install.txt"
# The winget manifest describes the entry this install wrote in the list of programs.
mkdir -p "$WORK/setups"
for m in x86:$SETUP_X86 x64:$SETUP arm64:$SETUP_ARM64; do ln -s "$(realpath "${m#*:}")" "$WORK/setups/kbdQelvo-setup-${m%%:*}.exe"; done
"$ROOT/scripts/winget" "$IDENTITY" "$WORK/setups" https://example.invalid "$WORK/winget" >/dev/null ||
    fail "scripts/winget failed"
manifest_entry=$(python3 -c 'import sys, yaml
e = yaml.safe_load(open(sys.argv[1], encoding="utf-8"))["AppsAndFeaturesEntries"][0]
print("ProductCode=" + e["ProductCode"])
for k in ("DisplayName", "DisplayVersion", "Publisher"): print(k + "=" + str(e[k]))' "$WORK"/winget/*/*.installer.yaml)
written_entry=$(awk -v RS= '/Uninstall\\kbdQelvo\]/' "$WORK/install.txt" |
    sed -n -e 's/^\[.*\\Uninstall\\\(.*\)\]$/ProductCode=\1/p' \
           -e 's/^"\(DisplayName\|DisplayVersion\|Publisher\)"="\(.*\)"$/\1=\2/p')
if [ "$manifest_entry" = "$written_entry" ]; then
    echo "== The winget manifest's entry is the one the setup wrote: $(tr '\n' ' ' <<<"$manifest_entry")"
else
    fail "the winget manifest's entry differs from the one the setup wrote:"
    diff <(echo "$manifest_entry") <(echo "$written_entry") | sed 's/^/  /'
fi

# ---- Install again: nothing changes
echo
echo "== Second install"
run_setup again --quiet || fail "second install exited non-zero"
got=$(calls)
[ "$got" = "0407:A0010409 0x00000024;0409:A0010409 0x00000000;" ] || fail "the second install called InstallLayoutOrTip as '$got'"
snapshot again
if cmp -s "$WORK/install.txt" "$WORK/again.txt"; then
    echo "== After the second install: registry export identical to the one after the first"
else
    fail "the second install changed the registry:"
    diff -u "$WORK/install.txt" "$WORK/again.txt" | sed 's/^/  /'
fi
files >"$WORK/files-again.txt"
cmp -s "$WORK/files-install.txt" "$WORK/files-again.txt" || fail "the second install rewrote files"
echo "== After the second install: files (same sizes, hashes and times)"
files

# ---- Another layout's setup beside ours, as kbdtool build --setup writes it
# for the test layout sgcaps: built from its .klc (1.0.0.0), run twice, then
# upgraded by the one built from its image (1.0.3.40) and uninstalled. It gets
# a KLID, a Layout Id, an entry and files of its own; ours stay as they were.
gen_run() {  # NAME SETUP ARGS...: the setup and a snapshot in one Wine start
    local name=$1 exe=$2
    shift 2
    snapshot "$name" "$(winpath "$exe") $*" "echo exit %ERRORLEVEL%"
    echo "\$ ${exe#"$GENERATED"/} $*"
    sed 's/^/  | /' "$WORK/export-$name.out"
    grep -q '^exit 0' "$WORK/export-$name.out" || fail "${exe##*/} $* did not exit 0"
}
gen_files() { files "$GEN_SYS32" "$GEN_WOW64" "$GEN_KEPT/sgcaps-setup.exe"; }
# Its files are the images its build wrote (which the setup carries), and
# the kept copy is the setup that ran.
gen_files_are() {  # SETUP
    local dir=${1%/*}
    cmp -s "$GEN_SYS32" "$dir/x64/sgcaps.dll" || fail "system32\\sgcaps.dll is not $dir/x64/sgcaps.dll"
    cmp -s "$GEN_WOW64" "$dir/wow64/sgcaps.dll" || fail "syswow64\\sgcaps.dll is not $dir/wow64/sgcaps.dll"
    cmp -s "$GEN_KEPT/sgcaps-setup.exe" "$1" || fail "the kept sgcaps-setup.exe is not $1"
}
ours_unchanged() {  # WHEN
    files >"$WORK/files-ours.txt"
    cmp -s "$WORK/files-again.txt" "$WORK/files-ours.txt" || fail "our files changed $1"
}
echo
echo "== Another layout's setup (kbdtool build --setup, sgcaps 1.0.0.0 from its .klc) installed beside ours"
gen_run gen-install "$GEN_V1" --quiet
got=$(calls)
[ "$got" = "0409:A0020409 0x00000000;" ] || fail "sgcaps' install called InstallLayoutOrTip as '$got'"
echo "== After it: what changed in the registry"
diff -u "$WORK/again.txt" "$WORK/gen-install.txt" | tail -n +3 | grep '^[-+]' | sed 's/^/  /'
echo "== After it: its files"
gen_files
diff "$WORK/again.txt" "$WORK/gen-install.txt" | grep -q '^<' &&
    fail "sgcaps' install changed or removed registry lines (ours among them)"
block=$(awk -v RS= '/"sgcaps Setup"=/' "$WORK/gen-install.txt")
gen_klid=$(sed -n 's/.*Keyboard Layouts\\\([0-9a-fA-F]\{8\}\)\]$/\1/p' <<<"$block")
[ "$(grep -c '"sgcaps Setup"=' "$WORK/gen-install.txt")" = 1 ] || fail "not exactly one key with sgcaps' marker"
[ "$gen_klid" = a0020409 ] || fail "sgcaps' KLID $gen_klid, expected a0020409 (a0000409 is another layout's, a0010409 ours)"
grep -q '^"Layout File"="sgcaps.dll"$' <<<"$block" || fail "sgcaps' Layout File"
grep -q '^"Layout Text"="Test layout sgcaps"$' <<<"$block" || fail "sgcaps' Layout Text"
grep -q '^"Layout Id"="00fa"$' <<<"$block" || fail "sgcaps' Layout Id is not 00fa (one above ours, 00f9)"
grep -q '^"sgcaps Setup"="1.0.0.0"$' <<<"$block" || fail "sgcaps' marker does not hold 1.0.0.0"
entry=$(awk -v RS= '/Uninstall\\sgcaps\]/' "$WORK/gen-install.txt")
for line in '"DisplayName"="Test layout sgcaps"' '"DisplayVersion"="1.0.0.0"' '"Publisher"="kbdQelvo test layouts"' \
            '"KeyboardLayout"="a0020409"' '"LayoutId"="00fa"' \
            '"UninstallString"="\"C:\\Program Files\\sgcaps\\sgcaps-setup.exe\" --uninstall"'; do
    grep -qFx "$line" <<<"$entry" || fail "sgcaps' program entry lacks $line"
done
gen_files_are "$GEN_V1"
ours_unchanged "when sgcaps was installed"

echo
echo "== sgcaps' setup again"
gen_files >"$WORK/gen-files-install.txt"
gen_run gen-again "$GEN_V1" --quiet
got=$(calls)
[ "$got" = "0409:A0020409 0x00000000;" ] || fail "sgcaps' second run called InstallLayoutOrTip as '$got'"
grep -q "was already installed (nothing changed)" "$WORK/export-gen-again.out" || fail "sgcaps' second run does not say nothing changed"
cmp -s "$WORK/gen-install.txt" "$WORK/gen-again.txt" ||
    { fail "sgcaps' second run changed the registry:"; diff -u "$WORK/gen-install.txt" "$WORK/gen-again.txt" | sed 's/^/  /'; }
gen_files >"$WORK/gen-files-again.txt"
cmp -s "$WORK/gen-files-install.txt" "$WORK/gen-files-again.txt" || fail "sgcaps' second run rewrote files"
echo "== After it: registry export identical, files the same (sizes, hashes, times)"

echo
echo "== sgcaps 1.0.3.40 (kbdtool build --setup from its image) over 1.0.0.0"
gen_run gen-upgrade "$GEN_V2" --quiet
got=$(calls)
[ "$got" = "0409:A0020409 0x00000000;" ] || fail "sgcaps' upgrade called InstallLayoutOrTip as '$got'"
grep -q "is updated: keyboard layout a0020409, Layout Id 00fa" "$WORK/export-gen-upgrade.out" ||
    fail "sgcaps' upgrade does not say it updated a0020409, Layout Id 00fa"
# The same KLID, Layout Id and entry: only the version changes.
changed=$(diff "$WORK/gen-again.txt" "$WORK/gen-upgrade.txt" | grep '^[<>]')
expected='< "sgcaps Setup"="1.0.0.0"
> "sgcaps Setup"="1.0.3.40"
< "DisplayVersion"="1.0.0.0"
> "DisplayVersion"="1.0.3.40"'
if [ "$changed" = "$expected" ]; then
    echo "== After it: only the version changed in the registry (the marker and DisplayVersion); files"
else
    fail "sgcaps' upgrade changed more than its version:"
    diff -u "$WORK/gen-again.txt" "$WORK/gen-upgrade.txt" | sed 's/^/  /'
fi
gen_files
gen_files_are "$GEN_V2"
cmp -s "$GENERATED/1.0/x64/sgcaps.dll" "$GENERATED/1.0.3.40/x64/sgcaps.dll" &&
    fail "the two versions' images are the same bytes (the upgrade would show nothing)"

echo
echo "== sgcaps' uninstall"
gen_run gen-uninstall "$GEN_V2" --quiet --uninstall
got=$(calls)
[ "$got" = "0409:A0020409 0x00000001;" ] || fail "sgcaps' uninstall called InstallLayoutOrTip as '$got'"
if cmp -s "$WORK/again.txt" "$WORK/gen-uninstall.txt"; then
    echo "== After it: registry export identical to the one before sgcaps' install (ours untouched); files"
else
    fail "the registry after sgcaps' uninstall differs from the one before its install:"
    diff -u "$WORK/again.txt" "$WORK/gen-uninstall.txt" | sed 's/^/  /'
fi
gen_files
[ -e "$GEN_SYS32" ] && fail "system32\\sgcaps.dll remains"
[ -e "$GEN_WOW64" ] && fail "syswow64\\sgcaps.dll remains"
[ -e "$GEN_KEPT" ] && fail "Program Files\\sgcaps remains"
ours_unchanged "when sgcaps was uninstalled"

# ---- Repair: a feature update drops the layout's key and leaves the files;
# here the system32 image is damaged too
echo
echo "== The layout's key and the sign-in screen's entries deleted, system32\\kbdQelvo.dll damaged; --repair"
echo "   (then the key deleted again; a plain run)"
batch dropped "reg delete \"$LAYOUTS\\$klid\" /f >nul" "reg delete \"$SIGNIN\\Preload\" /v 2 /f >nul" \
    "reg delete \"$SIGNIN\\Substitutes\" /v d0010407 /f >nul"
printf 'not a layout' >"$SYS32"
run_setup repair --quiet --repair || fail "repair exited non-zero"
got=$(calls)
[ "$got" = "0407:A0010409 0x00000024;0409:A0010409 0x00000000;" ] || fail "repair called InstallLayoutOrTip as '$got'"
grep -q "is repaired" "$WORK/repair.out" || fail "the repair message does not say it repaired"
snapshot repair
cmp -s "$WORK/again.txt" "$WORK/repair.txt" ||
    { fail "the repaired registry differs from the one before the key was deleted:"; diff -u "$WORK/again.txt" "$WORK/repair.txt" | sed 's/^/  /'; }
cmp -s "$SYS32" "$IMAGE_X64" || fail "repair did not put back system32\\kbdQelvo.dll"
# The same by simply running the setup again
batch dropped-again "reg delete \"$LAYOUTS\\$klid\" /f >nul"
run_setup rerun --quiet || fail "the run after the key was deleted exited non-zero"
got=$(calls)
[ "$got" = "0407:A0010409 0x00000024;0409:A0010409 0x00000000;" ] || fail "the run after the key was deleted called InstallLayoutOrTip as '$got'"
snapshot rerun
cmp -s "$WORK/again.txt" "$WORK/rerun.txt" ||
    { fail "a second run did not register the layout as before:"; diff -u "$WORK/again.txt" "$WORK/rerun.txt" | sed 's/^/  /'; }
echo "== After repair: registry export identical to the one before the key was deleted; files"
files

# ---- A restart left waiting: the installed image differs and is in use
echo
echo "== system32\\kbdQelvo.dll damaged and held open; the setup again"
printf 'not a layout' >"$SYS32"
export KBD_HOLD_FILE KBD_HOLD_READY KBD_HOLD_STOP
KBD_HOLD_FILE='C:\windows\system32\kbdQelvo.dll'
KBD_HOLD_READY=$(winpath "$WORK/held") KBD_HOLD_STOP=$(winpath "$WORK/release")
SESSION='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager'
batch in-use "start \"\" $(winpath "$STANDINS/hold.exe")" \
    "set n=0" ":wait" "set /a n+=1" "if %n% gtr 200000 goto held" "if not exist $KBD_HOLD_READY goto wait" ":held" \
    "$(winpath "$SETUP") --quiet" "echo exit %ERRORLEVEL%" \
    "echo x >$KBD_HOLD_STOP" \
    "set n=0" ":release" "set /a n+=1" "if %n% gtr 200000 goto released" "if exist $KBD_HOLD_STOP goto release" \
    ":released" \
    "reg query \"$SESSION\" /v PendingFileRenameOperations" \
    "reg delete \"$SESSION\" /v PendingFileRenameOperations /f >nul"
sed 's/^/  | /' "$WORK/in-use.out"
[ -f "$WORK/held" ] || fail "hold.exe did not hold system32\\kbdQelvo.dll"
[ ! -f "$WORK/release" ] || fail "hold.exe did not let system32\\kbdQelvo.dll go"
grep -q '^exit 3010' "$WORK/in-use.out" || fail "the setup with its image in use did not exit 3010"
grep -q "restart Windows to finish replacing it.$" "$WORK/in-use.out" || fail "the message does not ask for a restart"
# REG_MULTI_SZ: the staged file, then "!" and the file it replaces at the restart.
grep -Fiq 'REG_MULTI_SZ    \??\C:\windows\system32\kbdQelvo.dll.new\0!\??\C:\windows\system32\kbdQelvo.dll' \
    "$WORK/in-use.out" || fail "no PendingFileRenameOperations entry replacing system32\\kbdQelvo.dll at the restart"
cmp -s "$SYS32.new" "$IMAGE_X64" || fail "the image waiting for the restart is not the x64 image"
mv "$SYS32.new" "$SYS32"   # the restart
got=$(calls)
[ "$got" = "0407:A0010409 0x00000024;0409:A0010409 0x00000000;" ] || fail "the run with its image in use called InstallLayoutOrTip as '$got'"
snapshot in-use
cmp -s "$WORK/again.txt" "$WORK/in-use.txt" ||
    { fail "the run with its image in use changed the registry:"; diff -u "$WORK/again.txt" "$WORK/in-use.txt" | sed 's/^/  /'; }

# ---- Failures after our keys were deleted put them back byte for byte:
# an uninstall stopped by a subkey it does not own under its entry, and a
# reinstall for another language (which moves the key) stopped at the images
echo
echo "== Uninstall that fails after deleting the layout's key (a foreign subkey under the program's entry)"
batch foreign "reg add \"$UNINSTALL\\kbdQelvo\\Foreign\" /f >nul"
snapshot foreign
run_setup failed-uninstall --quiet --uninstall
rc=$?
[ $rc = 1 ] || fail "a failed uninstall exited $rc, not 1"
got=$(calls)
[ "$got" = "0409:A0010409 0x00000001;0409:A0010409 0x00000000;" ] ||
    fail "the failed uninstall did not take the layout out of the list and give it back: '$got'"
snapshot failed-uninstall
cmp -s "$WORK/foreign.txt" "$WORK/failed-uninstall.txt" ||
    { fail "the failed uninstall did not restore the registry:"; diff -u "$WORK/foreign.txt" "$WORK/failed-uninstall.txt" | sed 's/^/  /'; }
batch unforeign "reg delete \"$UNINSTALL\\kbdQelvo\\Foreign\" /f >nul"
echo
echo "== Reinstall for German (0407) that fails at its last step (syswow64\\kbdQelvo.dll is a folder)"
mv "$WOW64" "$WORK/wow64.dll"
mkdir -p "$WOW64"
run_setup failed-move --quiet --language 0407
rc=$?
[ $rc = 1 ] || fail "a failed move exited $rc, not 1"
got=$(calls)
[ "$got" = "0409:A0010409 0x00000001;0409:A0010409 0x00000000;" ] ||
    fail "the failed move did not take the layout out of the list and give it back: '$got'"
rmdir "$WOW64"
mv "$WORK/wow64.dll" "$WOW64"
snapshot failed-move
cmp -s "$WORK/again.txt" "$WORK/failed-move.txt" ||
    { fail "the failed move did not restore the registry:"; diff -u "$WORK/again.txt" "$WORK/failed-move.txt" | sed 's/^/  /'; }
echo "== After both failures: registry export identical to the one before each"

# ---- Uninstall, after the user has chosen the layout: Windows lists it in
# Preload through a substitute id, here between the two others
echo
echo "== The user's keyboard list names the layout (Preload 2 = d0020409 = $klid)"
batch chosen "reg add \"$USERKEY\\Preload\" /v 3 /d 00000407 /f >nul" \
    "reg add \"$USERKEY\\Preload\" /v 2 /d d0020409 /f >nul" \
    "reg add \"$USERKEY\\Substitutes\" /v d0020409 /d $klid /f >nul"
snapshot chosen
diff -u "$WORK/again.txt" "$WORK/chosen.txt" | tail -n +3 | grep '^[-+]' | sed 's/^/  /'
echo
echo "== Uninstall"
run_setup uninstall --quiet --uninstall || fail "uninstall exited non-zero"
got=$(calls)
# Out of the sign-in screen's list under the language it is listed under
# there, and under the KLID's own in case an older setup listed it so.
[ "$got" = "0409:A0010409 0x00000001;0407:A0010409 0x00000025;0409:A0010409 0x00000025;" ] ||
    fail "uninstall called InstallLayoutOrTip as '$got'"
snapshot uninstall
if cmp -s "$WORK/before.txt" "$WORK/uninstall.txt"; then
    echo "== After uninstall: registry export identical to the one before install"
    echo "   (foreign a0000409 kept; Preload back to 1 = 00000409, 2 = 00000407; substitute d0020409 gone)"
else
    fail "the registry after uninstall differs from before install:"
    diff -u "$WORK/before.txt" "$WORK/uninstall.txt" | sed 's/^/  /'
fi
echo "== After uninstall: files"
files
[ -e "$SYS32" ] && fail "system32\\kbdQelvo.dll remains"
[ -e "$WOW64" ] && fail "syswow64\\kbdQelvo.dll remains"
[ -e "$KEPT" ] && fail "Program Files\\kbdQelvo remains"

# ---- A failure half-way is undone: the WOW64 image cannot be written
echo
echo "== Install that fails at its last step (syswow64\\kbdQelvo.dll is a folder)"
mkdir -p "$WOW64"
run_setup broken --quiet
rc=$?
[ $rc = 1 ] || fail "a failed install exited $rc, not 1"
got=$(calls)
[ -z "$got" ] || fail "the failed install called InstallLayoutOrTip as '$got'"
grep -q "undone" "$WORK/broken.out" || fail "the failure message does not say the changes were undone"
snapshot broken
cmp -s "$WORK/before.txt" "$WORK/broken.txt" || { fail "the failed install left registry changes:"; diff -u "$WORK/before.txt" "$WORK/broken.txt" | sed 's/^/  /'; }
[ -e "$SYS32" ] && fail "the failed install left system32\\kbdQelvo.dll"
[ -e "$KEPT" ] && fail "the failed install left Program Files\\kbdQelvo"
rmdir "$WOW64"
echo "== After the failed install: registry as before, files"
files

# ---- --language with the sign-in screen, run with another account's
# password (the session's user is someone else: wtsapi32.dll beside a copy of
# the setup says so); a second user's hive names the layout too (Active Setup
# ran for them); uninstall leaves nothing
echo
echo "== Install for German (0407) --sign-in-screen, elevated as another account than the desk's, then uninstall"
mkdir -p "$WORK/other-account"
cp "$SETUP" "$WORK/other-account/kbdQelvo-setup.exe"
cp "$STANDINS/wtsapi32.dll" "$WORK/other-account/"
RUN_SETUP_EXE=$WORK/other-account/kbdQelvo-setup.exe KBD_SESSION_USER=someone-else KBD_SESSION_DOMAIN=VM \
    KBD_WINE_DLLOVERRIDES=wtsapi32=n \
    run_setup german --quiet --language 0407 --sign-in-screen || fail "install for 0407 exited non-zero"
got=$(calls)
[ "$got" = "0407:A0000407 0x00000024;" ] ||
    fail "install for 0407 at the sign-in screen, as another account, called InstallLayoutOrTip as '$got'"
grep -q "ran under another account, so the layout joins the list of whoever signs in next" "$WORK/german.out" ||
    fail "the message does not say the layout joins the desk's list at the next sign-in"
snapshot german
echo "== After it: what changed in the registry"
diff -u "$WORK/before.txt" "$WORK/german.txt" | tail -n +3 | grep '^[-+]' | sed 's/^/  /'
signin=$(awk -v RS= 'tolower($0) ~ /hkey_users\\.default\\keyboard layout/' "$WORK/german.txt")
grep -q '^"2"="d0010407"$' <<<"$signin" && grep -q '^"d0010407"="a0000407"$' <<<"$signin" ||
    fail "the sign-in screen's list does not name a0000407 through substitute d0010407"
grep -Fq '"StubPath"="\"C:\\Program Files\\kbdQelvo\\kbdQelvo-setup.exe\" --enable-for-me --quiet"' "$WORK/german.txt" ||
    fail "no Active Setup entry running --enable-for-me"
run_setup enable --quiet --enable-for-me || fail "--enable-for-me exited non-zero"
got=$(calls)
[ "$got" = "0407:A0000407 0x00000000;" ] || fail "--enable-for-me (language given: 0407) called InstallLayoutOrTip as '$got'"
# The second user: a list of two, then the layout added by Active Setup's run
# for them; the uninstall runs while their hive is loaded.
batch german-uninstall "reg add \"$OTHER\\Keyboard Layout\\Preload\" /v 1 /d 00000407 /f >nul" \
    "reg add \"$OTHER\\Keyboard Layout\\Preload\" /v 2 /d 00000409 /f >nul" \
    "reg add \"$OTHER\\Keyboard Layout\\Substitutes\" /f >nul" \
    "reg add \"$OTHER\\SOFTWARE\\Microsoft\\Active Setup\\Installed Components\" /f >nul" \
    "reg export \"$OTHER\" $(winpath "$WORK/other-before.reg") /y >nul" \
    "reg add \"$OTHER\\Keyboard Layout\\Preload\" /v 3 /d d0010407 /f >nul" \
    "reg add \"$OTHER\\Keyboard Layout\\Substitutes\" /v d0010407 /d a0000407 /f >nul" \
    "reg add \"$OTHER\\SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\$OURS\" /v Version /d 1,0,3,13 /f >nul" \
    "start /wait \"\" $(winpath "$SETUP") --quiet --uninstall" \
    "echo exit %ERRORLEVEL%" \
    "reg export \"$OTHER\" $(winpath "$WORK/other-after.reg") /y >nul"
echo "\$ kbdQelvo-setup.exe --quiet --uninstall   (with a second user's hive loaded)"
sed 's/^/  | /' "$WORK/german-uninstall.out"
grep -q '^exit 0' "$WORK/german-uninstall.out" || fail "uninstall after 0407 exited non-zero"
if [ -f "$WORK/other-before.reg" ] && cmp -s "$WORK/other-before.reg" "$WORK/other-after.reg"; then
    echo "== The second user's hive after uninstall: export identical to the one before the layout was added"
else
    fail "the second user's hive after uninstall differs:"
    diff -u <(iconv -f UTF-16 -t UTF-8 "$WORK/other-before.reg") <(iconv -f UTF-16 -t UTF-8 "$WORK/other-after.reg") | sed 's/^/  /'
fi
got=$(calls)
[ "$got" = "0407:A0000407 0x00000001;0407:A0000407 0x00000025;" ] ||
    fail "uninstall after 0407 called InstallLayoutOrTip as '$got'"
snapshot german-uninstall
cmp -s "$WORK/before.txt" "$WORK/german-uninstall.txt" ||
    { fail "the registry after the 0407 uninstall differs from before:"; diff -u "$WORK/before.txt" "$WORK/german-uninstall.txt" | sed 's/^/  /'; }
echo "== After uninstall: registry export identical to the one before (sign-in screen, second user, Active Setup)"

echo
[ $failures -eq 0 ] && echo "All checks hold." || echo "$failures check(s) failed."
[ $failures -eq 0 ]
