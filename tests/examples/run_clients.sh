#!/usr/bin/env bash
# The examples stage: examples/http_server built against the library as installed into a
# scratch prefix (with pkg-config and with CMake's find_package), started on a free port with a
# scratch settings store, asked by real clients (curl, Python's http.client and urllib, raw
# sockets, headless Chromium when it can run) over a fixed table of requests, and every answer
# checked against an independent model (tests/examples/model.py) computed from the raw bytes the
# server logged. Then SIGHUP must reload the settings (an operator's edit is kept) and save them
# with the server's count of requests, a save into a damaged store must reach the server's log
# as a diagnostic, and SIGTERM must stop it with exit status 0. Ends with a table (one row per client) and "N passed, N failed".
#
#   bash tests/examples/run_clients.sh        (from anywhere; bash scripts/test.sh examples)
#
# TOVARINE_EXAMPLES_LIBRARY_BUILD=DIR installs the library from an already built tree DIR instead
# of building the default preset first (for working on the example alone);
# TOVARINE_EXAMPLES_CHROMIUM=PROGRAM runs another browser program than /usr/bin/chromium.
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/lib.sh"
# shellcheck source=scripts/lib/stages.sh
source "$TOVARINE_ROOT/scripts/lib/stages.sh"
cd "$TOVARINE_ROOT"
export PYTHONDONTWRITEBYTECODE=1

SCRATCH="$(mktemp -d "${TMPDIR:-/tmp}/tovarine-examples.XXXXXX")"
PREFIX="$SCRATCH/prefix"
CHECKS="$SCRATCH/checks"
SETTINGS_NAME="Example Server"
INSTANCE="$SETTINGS_NAME 0"
: >"$CHECKS"
server_pid=""

# Whatever happens, no server is left running and the scratch folder goes.
cleanup() {
    if [[ -n "$server_pid" ]] && kill -0 "$server_pid" 2>/dev/null; then
        kill -KILL "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    if [[ -n "${TOVARINE_EXAMPLES_KEEP:-}" ]]; then echo "examples: kept $SCRATCH"; else rm -rf "$SCRATCH"; fi
}
trap cleanup EXIT

# check WHAT COMMAND...: one check of the server's own, recorded for the summary.
check() {
    local what="$1"
    shift
    if "$@"; then
        printf 'PASS\t%s\n' "$what" >>"$CHECKS"
    else
        printf 'FAIL\t%s\n' "$what" >>"$CHECKS"
        echo "examples: FAILED: $what"
    fi
}

# wait_for SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds, at most SECONDS.
wait_for() {
    local tenths=$(($1 * 10))
    shift
    while ((tenths-- > 0)); do
        if "$@"; then return 0; fi
        sleep 0.1
    done
    return 1
}

# start_server LABEL [ARG...]: starts the CMake-built server on a free port with its logs in
# SCRATCH/LABEL.*; sets server_pid and port, or fails when no port line came within 10 s.
start_server() {
    local label="$1"
    shift
    "$SERVER" --port 0 --port-file "$SCRATCH/$label.port" --log "$SCRATCH/$label.log" \
        --raw-log "$SCRATCH/$label.raw" --settings "$SETTINGS_NAME" "$@" \
        >"$SCRATCH/$label.out" 2>"$SCRATCH/$label.err" &
    server_pid=$!
    if ! wait_for 10 grep -qs '^listening on 127\.0\.0\.1:[0-9]*$' "$SCRATCH/$label.out"; then
        echo "examples: the server printed no port line within 10 s:" >&2
        cat "$SCRATCH/$label.out" "$SCRATCH/$label.err" >&2
        return 1
    fi
    port="$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$SCRATCH/$label.out")"
}

# stop_server LABEL: SIGTERM, then up to 10 s for the exit; sets stop_status.
stop_server() {
    kill -TERM "$server_pid"
    if ! wait_for 10 eval '! kill -0 "$server_pid" 2>/dev/null'; then
        echo "examples: the server did not stop within 10 s of SIGTERM" >&2
        kill -KILL "$server_pid" 2>/dev/null || true
    fi
    stop_status=0
    wait "$server_pid" || stop_status=$?
    server_pid=""
}

# ---- 1. the library, installed into the scratch prefix -----------------------------------------
library_build="${TOVARINE_EXAMPLES_LIBRARY_BUILD:-}"
if [[ -z "$library_build" ]]; then
    tovarine_preset_build default -- --target tovarine tovarine_tool
    library_build=build/default
fi
cmake --install "$library_build" --prefix "$PREFIX" >"$SCRATCH/install.log"
TOOL="$PREFIX/bin/tovarine"

# ---- 2. the example, built against it twice ----------------------------------------------------
export PKG_CONFIG_PATH="$PREFIX/lib/pkgconfig"
unset LD_LIBRARY_PATH
warnings=(-std=c11 -Wall -Wextra -pedantic -Wconversion -Wshadow -Werror)
read -r -a pc_flags <<<"$(pkg-config --cflags --libs tovarine)"
compilers=(cc)
if command -v clang >/dev/null; then compilers+=(clang); fi
for compiler in "${compilers[@]}"; do
    mkdir -p "$SCRATCH/pkg-config-$compiler"
    "$compiler" "${warnings[@]}" examples/http_server/http_server.c \
        -o "$SCRATCH/pkg-config-$compiler/http_server" "${pc_flags[@]}" -Wl,-rpath,"$PREFIX/lib"
    check "built with $compiler and pkg-config, warning-free; runs without LD_LIBRARY_PATH" \
        "$SCRATCH/pkg-config-$compiler/http_server" --help >/dev/null
done
cmake -S examples/http_server -B "$SCRATCH/cmake-build" -DCMAKE_PREFIX_PATH="$PREFIX" \
    -DHTTP_SERVER_WERROR=ON >"$SCRATCH/cmake.log"
cmake --build "$SCRATCH/cmake-build" -j2 >>"$SCRATCH/cmake.log"
SERVER="$SCRATCH/cmake-build/http_server"
check "built with CMake (find_package); runs without LD_LIBRARY_PATH" "$SERVER" --help >/dev/null

# ---- 3. a scratch store with settings saved before the start -----------------------------------
export XDG_CONFIG_HOME="$SCRATCH/config"
export TOVARINE_REGISTRY="$SCRATCH/store/registry.db"
"$TOOL" settings init >/dev/null
"$TOOL" settings set "$INSTANCE" title "Lobby east" --yes >/dev/null
"$TOOL" settings set "$INSTANCE" default_timeout_ms 4500 --yes >/dev/null
"$TOOL" settings set "$INSTANCE" default_server 3 --yes >/dev/null
"$TOOL" settings set "$INSTANCE" key c0ffee01 --yes >/dev/null

start_server main
check "the port line and the port file agree" \
    test "$(cat "$SCRATCH/main.port")" = "$port"
log="$SCRATCH/main.log"
check "the log holds the start" grep -q ' start: tovarine ' "$log"
check "the silent load at the start read the saved instance" \
    grep -q "settings load of \"$SETTINGS_NAME\" returned 0\$" "$log"
check "the loaded settings are in use" grep -qF \
    'settings in use: title="Lobby east" default_timeout_ms=4500 default_server=3 key=c0ffee01' \
    "$log"

# ---- 4. and 5. the clients, each answer against the model --------------------------------------
check "the model keeps the host guide's examples (tests/examples/model_test.py)" \
    python3 tests/examples/model_test.py -q
chromium="${TOVARINE_EXAMPLES_CHROMIUM:-/usr/bin/chromium}"
chromium_skip="$(tovarine_optional_reason browser)"
if [[ -z "$chromium_skip" && ! -x "$chromium" ]]; then
    chromium_skip="$chromium is not there"
fi
timeout 150 python3 tests/examples/clients.py ask --port "$port" --raw-log "$SCRATCH/main.raw" \
    --server 3 --timeout-ms 4500 --results "$SCRATCH/results.json" \
    --chromium "$chromium" --chromium-skip "$chromium_skip"
chromium_skip="$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["chromium_skipped"] or "")' \
    "$SCRATCH/results.json")"
if [[ -n "$chromium_skip" ]]; then
    echo "examples: SKIPPED: Chromium: $chromium_skip"
    tovarine_stage_note "Chromium SKIPPED: $chromium_skip"
fi

# ---- 6. SIGHUP reloads, then saves: an operator's change made meanwhile is kept ----------------
"$TOOL" settings set "$INSTANCE" default_server 9 --yes >/dev/null
served="$(wc -l <"$SCRATCH/main.raw")"
kill -HUP "$server_pid"
check "SIGHUP: the save is logged" \
    wait_for 10 grep -q "settings save of \"$SETTINGS_NAME\" returned 0\$" "$log"
check "SIGHUP: the reload took the operator's change" grep -qF \
    "settings save: title=\"Lobby east\" default_timeout_ms=4500 default_server=9 key=c0ffee01 requests_served=$served" \
    "$log"
shown="$("$TOOL" settings show "$INSTANCE" --json)"
check "SIGHUP: the store keeps the operator's change and holds the server's count" python3 -c '
import json, sys
want = {"title": "Lobby east", "default_timeout_ms": "4500", "default_server": "9",
        "key": "c0ffee01", "requests_served": sys.argv[2]}
sys.exit(0 if json.loads(sys.argv[1]) == want else 1)' "$shown" "$served"
check "SIGHUP: the save went into the loaded instance, no new one" \
    test "$("$TOOL" settings list "$SETTINGS_NAME" | grep -c "$SETTINGS_NAME [0-9]")" = 1

# ---- 7. SIGTERM stops it -----------------------------------------------------------------------
stop_server
check "SIGTERM: exit status 0 (it was $stop_status)" test "$stop_status" = 0
check "SIGTERM: the log says it stopped" grep -q ' stopped after [0-9]* requests$' "$log"
check "the log's request count is the raw log's" test \
    "$(sed -n 's/.* stopped after \([0-9]*\) requests$/\1/p' "$log")" = \
    "$(wc -l <"$SCRATCH/main.raw")"

# A second, short run over a damaged store: the load and the save fail, each told to the log,
# and the file is left as it was.
export TOVARINE_REGISTRY="$SCRATCH/damaged.db"
head -c 8192 /dev/urandom >"$TOVARINE_REGISTRY"
cp "$TOVARINE_REGISTRY" "$SCRATCH/damaged.copy"
start_server damaged
kill -HUP "$server_pid"
check "damaged store: the save is logged" \
    wait_for 10 grep -q "settings save of \"$SETTINGS_NAME\" returned" "$SCRATCH/damaged.log"
stop_server
check "damaged store: the library's diagnostic reached the server's log" \
    grep -q 'library diagnostic: error [0-9]*, key .*: tovarine: ' "$SCRATCH/damaged.log"
check "damaged store: exit status 0 after SIGTERM" test "$stop_status" = 0
check "damaged store: the file is as it was" cmp -s "$TOVARINE_REGISTRY" "$SCRATCH/damaged.copy"

# ---- 8. the summary ----------------------------------------------------------------------------
python3 tests/examples/clients.py summary --results "$SCRATCH/results.json" --checks "$CHECKS"
