# What the scripts that run programs under Wine share, sourced by them: a virtual X display of
# the run's own, and the end of the run. Xvfb itself picks a free display number and writes it
# once it accepts connections, so runs side by side never race for one number, and a display
# that cannot start is said as such instead of showing up as the program's failure.
#   start_virtual_display DIR   starts it, logging into DIR; exports DISPLAY; returns 1 on failure
#   stop_virtual_display        stops it (safe to call when none was started)
#   end_wine_session DIR        stops the prefix's Wine server and the display, removes DIR;
#                               WINESERVER names the server
virtual_display_pid=

start_virtual_display() {
    local dir="$1" number="" tries
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
    virtual_display_pid=$!
    for ((tries = 0; tries < 300; ++tries)); do
        if read -r number <"$dir/display" && [[ -n "$number" ]]; then
            export DISPLAY=":$number"
            return 0
        fi
        kill -0 "$virtual_display_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$dir/xvfb.log" >&2
    echo "the virtual display did not start" >&2
    return 1
}

# shellcheck disable=SC2317  # called from EXIT traps
stop_virtual_display() {
    if [[ -n "$virtual_display_pid" ]]; then
        kill "$virtual_display_pid" 2>/dev/null || true
        wait "$virtual_display_pid" 2>/dev/null || true
        virtual_display_pid=
    fi
}

# shellcheck disable=SC2317  # called from EXIT traps
end_wine_session() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
    stop_virtual_display
    rm -rf "$1"
}
