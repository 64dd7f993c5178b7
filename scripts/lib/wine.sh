# shellcheck shell=bash
# Wine for the 32-bit DLL's tests: which Wine runs them, and whether it can on this machine.
# Sourced by scripts/test.sh after scripts/lib.sh. (The 64-bit Wine is tests/windows/
# run-under-wine.sh's default and needs nothing here.)

# The 32-bit Wine: its launcher and server, as Debian's wine32:i386 installs them.
TOVARINE_WINE32=(WINE=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32 WINEARCH=win32)

# Why the 32-bit Wine cannot run the 32-bit tests here, in one line; nothing when it can:
# tovarine_wine32_unusable PROBE.exe. It can once wine32 is installed and PROBE, a tiny 32-bit
# Windows program that prints its pointer size, has run under it and printed 4. It cannot when
# wine32 could not be installed, or on a kernel without 32-bit support.
tovarine_wine32_unusable() {
    local probe="$1" reason output
    reason="$(tovarine_optional_reason wine32)"
    if [[ -n "$reason" ]]; then
        echo "$reason"
        return 0
    fi
    if output="$(env "${TOVARINE_WINE32[@]}" bash "$TOVARINE_ROOT/tests/windows/run-under-wine.sh" \
                     "$probe" 2>&1)" && [[ "$output" == *"sizeof(void*)=4"* ]]; then
        return 0
    fi
    echo "this machine cannot run 32-bit programs ($(grep -m1 -iE 'error|not found|cannot' \
        <<<"$output" || echo 'the probe failed'))"
}
