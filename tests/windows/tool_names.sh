#!/usr/bin/env bash
# tovarine.exe under 64-bit Wine takes names and texts outside the ANSI code page (1252 here)
# from its command line, and file names too: an instance key and a value written in Greek read
# back the same, Wine's own registry export holds the key under that name, and a request text
# and a request file named in Greek are read as given.
# Usage: tool_names.sh tovarine.dll tovarine.exe
set -euo pipefail

if (($# != 2)); then
    echo "usage: $0 tovarine.dll tovarine.exe" >&2
    exit 2
fi
dll="$(realpath "$1")" exe="$(realpath "$2")"

wine="${WINE64:-/usr/lib/wine/wine64}"
wineserver="${WINESERVER:-$(dirname "$wine")/wineserver}"
work="$(mktemp -d "${TMPDIR:-/tmp}/tovarine-names.XXXXXX")"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINESERVER="$wineserver" WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml="
# The ANSI code page of the Windows side: 1252, which has no Greek letters.
export LC_ALL=C.UTF-8 LANG=C.UTF-8
# shellcheck disable=SC2317  # run by the EXIT trap
cleanup() {
    "$wineserver" -k >/dev/null 2>&1 || true
    "$wineserver" -w >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "tool_names: $*" >&2
    exit 1
}
w() { "$wine" "$@"; }
tool() { w tovarine.exe "$@" | tr -d '\r'; }

if ! { "$wine" wineboot -i && "$wineserver" -w; } >"$work/prefix.log" 2>&1; then
    cat "$work/prefix.log" >&2
    fail "no Wine prefix"
fi
mkdir "$work/run"
cp "$dll" "$exe" "$work/run/"
cd "$work/run"

root='HKCU\SOFTWARE\Zel Inc.\Zel Quantivale Servers'
key='Κάμερα 1'
tool settings init >/dev/null || fail "settings init failed"
tool settings set "$key" 'τίτλος' 'Ωμέγα' --yes >/dev/null || fail "settings set failed"

got="$(tool settings list)"
[[ "$got" == *"$key"* ]] || fail "settings list: '$got' does not name '$key'"
got="$(tool settings show --json "$key")"
want='{"τίτλος":"Ωμέγα"}'
[[ "$got" == "$want" ]] || fail "settings show: $got, not $want"

w reg export "$root\\$key" wine.reg /y >/dev/null || fail "Wine's reg finds no key '$key'"
iconv -f UTF-16 -t UTF-8 wine.reg | grep -q '"τίτλος"="Ωμέγα"' || fail "Wine's export lacks the value"
echo "tool_names: the key '$key' and its value are in the registry under their names"

tool settings export Κάμερα -o 'Κάμερες.reg' >/dev/null || fail "export to a Greek file name failed"
[[ -s 'Κάμερες.reg' ]] || fail "no file 'Κάμερες.reg'"

got="$(tool read camera 'model=Ωμέγα&camera=2')"
want=$'model=Ωμέγα\ncamera=2'
[[ "$got" == "$want" ]] || fail "read: '$got', not '$want'"
printf 'model=Δέλτα\n' >'αίτημα.txt'
got="$(tool read camera --each 'αίτημα.txt')"
want='{"line":1,"form":"query","outputs":{"model":"Δέλτα"}}'
[[ "$got" == "$want" ]] || fail "read --each: '$got', not '$want'"
echo "tool_names: request texts and file names outside the code page are read as given"
