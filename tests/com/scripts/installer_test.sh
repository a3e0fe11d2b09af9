#!/bin/sh
# Tagvert tests: the Windows installer's round trip under Wine, in a fresh prefix of its own.
#   installer_test.sh INSTALLER SAMPLE NATIVE_TAGVERT
# `setup.exe /S` installs and registers: the VBScript example of docs/windows.md creates the
# converter by ProgID and converts SAMPLE to the same bytes as the native command, and tagvert is
# found on the PATH. Then
# `uninstall.exe /S`: the install folder is gone and a `reg export` of HKLM\Software, the system
# environment and HKCU is as before the install. Exit 77 (skipped) when an argument is missing.
set -eu
for needed in "$@"; do
  [ -e "$needed" ] || { echo "SKIPPED: $needed does not exist"; exit 77; }
done
TAGVERT_WINE_STATE=
. "$(dirname "$0")/wine_prefix.sh"
work="$WINEPREFIX/work"
mkdir -p "$work"
wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
folder="$WINEPREFIX/drive_c/Program Files/Tagvert"

# Exports into $work/$1.reg what an installer of a COM server may change: HKLM\Software (both
# views, the classes, the uninstall entries), the system environment and HKCU. The rest of
# HKLM\System is Wine's (its services write new values at every start).
export_registry() {
  : >"$work/$1.reg"
  for key in 'HKLM\Software' 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' \
    HKCU; do
    wine reg export "$key" "$work/export.reg" /y >/dev/null || fail "reg export $key"
    iconv -f UTF-16 -t UTF-8 "$work/export.reg" | tr -d '\r' >>"$work/$1.reg"
  done
}
# The script host registers its own classes when it first runs, and the new prefix's services
# go on writing their keys for a while: let them finish before.
printf 'WScript.Echo 1\n' >"$work/warm.vbs"
wine cscript //nologo "$(winpath "$work/warm.vbs")" >/dev/null || fail "cscript does not run"
wineserver -w
export_registry before

wine "$1" /S || fail "the silent install exited with $?"
installed="$(cd "$folder" && find . -type f | sort | tr '\n' ' ')"
case "$installed" in
  "./tagvert.dll ./tagvert.exe ./uninstall.exe " | \
    "./tagvert.dll ./tagvert.exe ./uninstall.exe ./x86/tagvert.dll ") ;;
  *) fail "installed files: $installed" ;;
esac
# The converter by ProgID, as a script host finds it after the install: the VBScript example of
# docs/windows.md, exactly as written there.
awk '/^```vbscript$/ { inside = 1; next } /^```$/ { inside = 0 } inside' \
  "$(dirname "$0")/../../../docs/windows.md" >"$work/example.vbs"
cp "$2" "$work/sample.ttx"
sample="$(winpath "$work/sample.ttx")"
out="$(wine cscript //nologo "$(winpath "$work/example.vbs")" "$sample" | tr -d '\r')"
[ "$out" = "TTX 31: $sample.out.ttx" ] || fail "the VBScript host printed: $out"
"$3" to-if "$2" -o "$work/native.if" --direction de-de --quiet
"$3" from-if "$work/native.if" -o "$work/native.ttx" --quiet
cmp "$work/sample.ttx.if" "$work/native.if" && cmp "$work/sample.ttx.out.ttx" "$work/native.ttx" ||
  fail "the installed converter's output"
echo "ok: the example of docs/windows.md, run on the installed converter, writes the native bytes"
version="$(wine cmd /c tagvert --version | tr -d '\r')"
[ "$version" = "$("$3" --version)" ] || fail "tagvert --version on the PATH: $version"
echo "ok: tagvert on the PATH: $version"

wine "C:\\Program Files\\Tagvert\\uninstall.exe" /S || fail "the silent uninstall exited with $?"
# The uninstaller goes on in a copy of itself: wait until every program of the prefix is done.
wineserver -w
[ ! -e "$folder" ] || fail "left in the install folder: $(cd "$folder" && find . | tr '\n' ' ')"
export_registry after
diff -u "$work/before.reg" "$work/after.reg" | head -n 40 >&2
cmp -s "$work/before.reg" "$work/after.reg" || fail "the registry after the uninstall differs"
echo "ok: after the uninstall the install folder is gone and the registry is as before"
