#!/usr/bin/env bash
# Runs the Windows test program under Wine: in a Wine prefix of its own, made for this run and
# removed after it, with tovarine.dll beside the program, on a virtual X display for the message
# boxes. Exits with the program's status. Usage: run-under-wine.sh PROGRAM.exe tovarine.dll
# [GoogleTest arguments...]
set -euo pipefail

if (($# < 2)); then
    echo "usage: $0 PROGRAM.exe tovarine.dll [arguments...]" >&2
    exit 2
fi
program="$1"
dll="$2"
shift 2

wine="${WINE64:-/usr/lib/wine/wine64}"
wineserver="${WINESERVER:-$(dirname "$wine")/wineserver}"
for tool in "$wine" "$wineserver"; do
    if [[ ! -x "$tool" ]]; then
        echo "run-under-wine: $tool not found (Debian: wine64)" >&2
        exit 2
    fi
done
if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "run-under-wine: xvfb-run not found (Debian: xvfb, xauth)" >&2
    exit 2
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/tovarine-wine.XXXXXX")"
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
export WINESERVER="$wineserver"
# No Mono or Gecko installers: nothing here needs them, and they would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
# shellcheck disable=SC2317  # run by the EXIT trap
cleanup() {
    "$wineserver" -k >/dev/null 2>&1 || true
    "$wineserver" -w >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

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

# The program loads tovarine.dll from its own folder, as a server does.
mkdir "$work/run"
cp "$program" "$dll" "$work/run/"
cd "$work/run"
# Wine's processes are waited for while the display is still there.
status=0
# shellcheck disable=SC2016  # expanded by the inner shell
xvfb-run -a bash -c '"$0" "$@"; status=$?; "$WINESERVER" -w; exit $status' \
    "$wine" "$(basename "$program")" "$@" || status=$?
echo "run-under-wine: exit status $status after $((SECONDS - started)) s" >&2
exit "$status"
