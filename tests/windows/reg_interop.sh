#!/usr/bin/env bash
# Settings move between the Windows registry and the Linux store through .reg files, in both
# directions, under 64-bit Wine:
#   1. keys tovarine.dll saved, exported by Wine's reg, imported by the Linux tool: same values;
#   2. the Linux tool's export, imported by Wine's reg: the DLL loads the values unchanged;
#   3. tovarine.exe's export under Wine is the Linux tool's export, byte for byte.
# Usage: reg_interop.sh tovarine.dll tovarine.exe settings_host.exe LINUX-TOOL
# Exit status 77 (skipped) when the Linux tool has not been built.
set -euo pipefail

if (($# != 4)); then
    echo "usage: $0 tovarine.dll tovarine.exe settings_host.exe LINUX-TOOL" >&2
    exit 2
fi
dll="$(realpath "$1")" exe="$(realpath "$2")" host="$(realpath "$3")" tool="$4"
if [[ ! -x "$tool" ]]; then
    echo "reg_interop: no Linux tool at $tool (build the default preset first); skipped" >&2
    exit 77
fi
tool="$(realpath "$tool")"

wine="${WINE64:-/usr/lib/wine/wine64}"
wineserver="${WINESERVER:-$(dirname "$wine")/wineserver}"
work="$(mktemp -d "${TMPDIR:-/tmp}/tovarine-reg.XXXXXX")"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINESERVER="$wineserver"
export WINEDLLOVERRIDES="mscoree,mshtml="
# The ANSI code page of the Windows side: 1252, as on a Western European Windows.
export LC_ALL=C.UTF-8 LANG=C.UTF-8
# shellcheck source=wine_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_session.sh"
# shellcheck disable=SC2064  # the folder is fixed now
trap "end_wine_session '$work'" EXIT
# A virtual display, for the library's message boxes.
start_virtual_display "$work" || exit 2

fail() {
    echo "reg_interop: $*" >&2
    exit 1
}
w() { "$wine" "$@"; }

root='HKCU\SOFTWARE\Zel Inc.\Zel Quantivale Servers'
{ w wineboot -i && w reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f &&
    "$wineserver" -w; } >"$work/prefix.log" 2>&1 || { cat "$work/prefix.log" >&2; fail "no Wine prefix"; }
mkdir "$work/run"
cp "$dll" "$exe" "$host" "$work/run/"
cd "$work/run"
export TOVARINE_REGISTRY="$work/linux.db"
"$tool" settings init >/dev/null

# 1. Windows to Linux.
w reg add "$root" /f >/dev/null
w settings_host.exe save Windows || fail "the DLL did not save"
w reg export "$root" windows.reg /y >/dev/null || fail "reg export failed"
"$tool" settings import windows.reg --yes >/dev/null || fail "the Linux tool did not import reg's export"
got="$("$tool" settings show --json 'Windows 0')"
want='{"port":"8080","title":"café crème"}'
[[ "$got" == "$want" ]] || fail "imported from Windows: $got, not $want"
echo "reg_interop: Windows -> Linux: $got"

# 2. Linux to Windows.
"$tool" settings set 'Linux 0' port 9090 --yes >/dev/null
"$tool" settings set 'Linux 0' title 'crème brûlée' --yes >/dev/null
"$tool" settings export Linux -o linux.reg
w reg import linux.reg >/dev/null 2>&1 || fail "reg import refused the Linux tool's export"
got="$(w settings_host.exe load Linux | tr -d '\r')"
want=$'port=9090\ntitle=crème brûlée'
[[ "$got" == "$want" ]] || fail "the DLL loaded: $got, not $want"
echo "reg_interop: Linux -> Windows: the DLL loads ${got//$'\n'/ }"

# 3. The same export from tovarine.exe under Wine.
w tovarine.exe settings export Linux -o exe.reg || fail "tovarine.exe settings export failed"
cmp exe.reg linux.reg || fail "tovarine.exe and the Linux tool exported different files"
echo "reg_interop: tovarine.exe and the Linux tool export the same bytes"
