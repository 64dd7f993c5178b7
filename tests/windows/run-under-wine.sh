#!/usr/bin/env bash
# Runs a Windows program under Wine: in a Wine prefix of its own, made for this run and removed
# after it, with the given DLLs beside the program, on a virtual X display of its own for the
# message boxes (wine_session.sh).
# Exits with the program's status.
#   usage: run-under-wine.sh PROGRAM.exe [FILE.dll...] [-- arguments...]
#          run-under-wine.sh PROGRAM.exe tovarine.dll [arguments...]   (one DLL, no "--")
# The Wine to use comes from the environment, so the same script serves both word sizes:
#   WINE        the launcher (default /usr/lib/wine/wine64; the 32-bit one is /usr/lib/wine/wine)
#   WINESERVER  its server (default: the wineserver beside the launcher; 32-bit: wineserver32)
#   WINEARCH    win64 or win32, the kind of prefix to make (default win64)
# WINE64 is still accepted for WINE.
set -euo pipefail

if (($# < 1)); then
    echo "usage: $0 PROGRAM.exe [FILE.dll...] [-- arguments...]" >&2
    exit 2
fi
program="$1"
shift
files=()
if [[ " $* " == *" -- "* ]]; then
    while (($# > 0)) && [[ "$1" != "--" ]]; do
        files+=("$1")
        shift
    done
    shift
elif (($# > 0)); then
    files=("$1")
    shift
fi

wine="${WINE:-${WINE64:-/usr/lib/wine/wine64}}"
wineserver="${WINESERVER:-$(dirname "$wine")/wineserver}"
arch="${WINEARCH:-win64}"
if [[ "$arch" != win64 && "$arch" != win32 ]]; then
    echo "run-under-wine: WINEARCH is '$arch', not win64 or win32" >&2
    exit 2
fi
for tool in "$wine" "$wineserver"; do
    if [[ ! -x "$tool" ]]; then
        echo "run-under-wine: $tool not found (Debian: wine64, or wine32:i386 for 32-bit)" >&2
        exit 2
    fi
done
if ! command -v Xvfb >/dev/null 2>&1; then
    echo "run-under-wine: Xvfb not found (Debian: xvfb)" >&2
    exit 2
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/tovarine-wine.XXXXXX")"
export WINEPREFIX="$work/prefix"
export WINEARCH="$arch"
export WINEDEBUG=-all
export WINESERVER="$wineserver"
# No Mono or Gecko installers: nothing here needs them, and they would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
# shellcheck source=wine_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_session.sh"
# shellcheck disable=SC2064  # the folder is fixed now
trap "end_wine_session '$work'" EXIT

started=$SECONDS
# Nothing manages the virtual display's windows: without Managed=N, Wine would wait for a
# window manager at every box that closes.
if ! { "$wine" wineboot -i &&
       "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f &&
       "$wineserver" -w; } >"$work/prefix.log" 2>&1; then
    cat "$work/prefix.log" >&2
    echo "run-under-wine: the Wine prefix could not be made" >&2
    exit 2
fi

start_virtual_display "$work" || exit 2

# The program loads its DLLs from its own folder, as a server does.
mkdir "$work/run"
cp "$program" "${files[@]}" "$work/run/"
cd "$work/run"
# Wine's processes are waited for while the display is still there.
status=0
"$wine" "$(basename "$program")" "$@" || status=$?
"$wineserver" -w || true
echo "run-under-wine: exit status $status after $((SECONDS - started)) s" >&2
exit "$status"
