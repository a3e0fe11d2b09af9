#!/bin/sh
# Tagvert tests: the Windows installer's round trip under Wine, in a fresh prefix of its own.
#   installer_test.sh INSTALLER SAMPLE NATIVE_TAGVERT
# `setup.exe /S` installs and registers: a VBScript creates the converter by ProgID and converts
# SAMPLE to the same bytes as the native command, and tagvert is found on the PATH. Then
# `uninstall.exe /S`: the install folder is gone and a `reg export` of HKLM\Software, the system
# environment and HKCU is as before the install. Exit 77 (skipped) without the installer or the native command.
set -eu
installer="$1"
sample="$2"
native="$3"
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
for needed in "$installer" "$native" "$sample"; do
  [ -e "$needed" ] || { echo "SKIPPED: $needed does not exist"; exit 77; }
done
winpath() {
  printf 'Z:%s' "$1" | tr / '\\'
}

export WINEDEBUG=-all
WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/tagvert-wine.XXXXXX")"
export WINEPREFIX
# No persistent wineserver: `wineserver -w` below waits for every program of the prefix.
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
work="$WINEPREFIX/work"
wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
mkdir -p "$work"
folder="$WINEPREFIX/drive_c/Program Files/Tagvert"

# Exports into $work/$1.reg, as UTF-8 text, the registry an installer of a COM server may
# change: HKLM\Software (both views, the classes, the uninstall entries, the kernel's keys), the
# system environment and HKCU. The rest of HKLM\System is Wine's (its display driver and service
# manager write new values at every start).
export_registry() {
  : >"$work/$1.reg"
  for key in 'HKLM\Software' 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' \
    HKCU; do
    wine reg export "$key" "$work/export.reg" /y >/dev/null || fail "reg export $key"
    iconv -f UTF-16 -t UTF-8 "$work/export.reg" | tr -d '\r' >>"$work/$1.reg"
  done
}
# The script host registers its own classes when it first runs: let it do that before.
printf 'WScript.Echo 1\n' >"$work/warm.vbs"
wine cscript //nologo "$(winpath "$work/warm.vbs")" >/dev/null || fail "cscript does not run"
# The new prefix's services go on writing their keys for a while: wait until they are done.
wineserver -w
export_registry before

rc=0
wine "$installer" /S || rc=$?
[ "$rc" = 0 ] || fail "the silent install exited with $rc"
installed="$(cd "$folder" && find . -type f | sort | tr '\n' ' ')"
echo "installed in C:\\Program Files\\Tagvert: $installed"
case "$installed" in
  "./tagvert.dll ./tagvert.exe ./uninstall.exe ") ;;
  "./tagvert.dll ./tagvert.exe ./uninstall.exe ./x86/tagvert.dll ") ;;
  *) fail "installed files: $installed" ;;
esac

# The converter by ProgID, as a script host finds it after the install.
cat >"$work/convert.vbs" <<'VBS'
Set converter = CreateObject("Tagvert.Converter")
converter.ConvertToIF WScript.Arguments(0), WScript.Arguments(1)
converter.ConvertFromIF WScript.Arguments(1), WScript.Arguments(2)
WScript.Echo converter.Name
VBS
cp "$sample" "$work/sample.ttx"
out="$(wine cscript //nologo "$(winpath "$work/convert.vbs")" "$(winpath "$work/sample.ttx")" \
  "$(winpath "$work/sample.if")" "$(winpath "$work/sample.out.ttx")" | tr -d '\r')" ||
  fail "the VBScript host failed: $out"
[ "$out" = TTX ] || fail "the VBScript host printed: $out"
"$native" to-if "$sample" -o "$work/native.if" --direction 0 --quiet
"$native" from-if "$work/native.if" -o "$work/native.ttx" --quiet
cmp "$work/sample.if" "$work/native.if" || fail "the installed converter's IF"
cmp "$work/sample.out.ttx" "$work/native.ttx" || fail "the installed converter's TTX"
echo "ok: the installed converter, created by ProgID from VBScript, writes the native bytes"

# A new program finds the command on the system PATH.
version="$(wine cmd /c tagvert --version | tr -d '\r')" || fail "tagvert is not on the PATH"
[ "$version" = "$("$native" --version)" ] || fail "tagvert --version on the PATH: $version"
echo "ok: tagvert on the PATH: $version"

rc=0
wine "C:\\Program Files\\Tagvert\\uninstall.exe" /S || rc=$?
[ "$rc" = 0 ] || fail "the silent uninstall exited with $rc"
# The uninstaller goes on in a copy of itself: wait until every program of the prefix is done.
wineserver -w
[ ! -e "$folder" ] || fail "left in the install folder: $(cd "$folder" && find . | tr '\n' ' ')"
export_registry after
if ! cmp -s "$work/before.reg" "$work/after.reg"; then
  diff -u "$work/before.reg" "$work/after.reg" | head -n 40 >&2
  fail "the registry after the uninstall differs from before the install"
fi
echo "ok: after the uninstall the install folder is gone and the registry is as before"
