# shellcheck shell=bash
# The installer: Debian packages in groups, installed with apt-get. Sourced by scripts/lib.sh,
# which sets TOVARINE_ROOT first.

# Debian packages, in groups. Each group is installed by an apt-get call of its own, so that a
# package that cannot be installed sinks only its own group. Add new packages to the group of
# the stages that need them. Names with an architecture (":i386") need that architecture added
# to dpkg first.
declare -A TOVARINE_GROUPS=(
    # The demonstration: a compiler, CMake and SQLite, nothing else.
    [demo]="cmake g++ make libsqlite3-dev"
    # Every native build and its tests: pkg-config for the installed package's check, GoogleTest,
    # and the command-line tool's parser and JSON writer (header-only).
    [build]="pkg-config binutils libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev"
    # clang for its own build, the fuzzers (libFuzzer and the sanitizer runtimes come with
    # libclang-rt, which clang only recommends) and the format check.
    [clang]="clang clang-14 libclang-rt-14-dev clang-format"
    # The Windows DLLs: the cross toolchains, GoogleTest's sources to build for them, and the
    # 64-bit Wine with a virtual X display to run their tests (reg.exe is one of Wine's own).
    [windows]="g++-mingw-w64-x86-64 g++-mingw-w64-i686 googletest wine64 xvfb xauth"
    # The Debian package: CPack reads its dependencies with dpkg-shlibdeps and file; lintian
    # checks the package; Python reads the DLLs' version resources.
    [packages]="dpkg-dev file lintian python3"
    # The ABI check: libabigail's abidw and abidiff.
    [abi]="abigail-tools"
    # The example server's clients: curl, and Python for http.client, urllib and the model the
    # answers are checked against.
    [examples]="curl python3"
    # Optional. Headless Chromium as one more client of the example server.
    [browser]="chromium"
    # Optional. The 32-bit Wine, for the 32-bit DLL's tests (without it they are skipped).
    [wine32]="wine32:i386"
    # Optional. The benchmarks (scripts/bench.sh): Google Benchmark, the URL libraries the
    # readers are compared with, and gnuplot for the plot.
    [bench]="libbenchmark-dev liburiparser-dev libboost-url1.81-dev"
    [plot]="gnuplot-nox"
)
# The groups whose failure fails the install; the others only skip what needs them.
# shellcheck disable=SC2034  # used by the scripts that source this file
TOVARINE_REQUIRED_GROUPS=(demo build clang windows packages abi examples)
# shellcheck disable=SC2034
TOVARINE_OPTIONAL_GROUPS=(wine32 bench plot browser)

# Why an optional group was not installed, one file per group, for the stages that need it.
TOVARINE_INSTALL_NOTES="$TOVARINE_ROOT/build/install"

# apt: wait for another apt to let go of its lock, retry a failed download once, give up on a
# silent mirror; the whole call is bounded too.
TOVARINE_APT_OPTIONS=(-o DPkg::Lock::Timeout=300 -o Acquire::Retries=1
                      -o Acquire::http::Timeout=60 -o Acquire::https::Timeout=60)
TOVARINE_APT_TIME_LIMIT=1800

tovarine_sudo() {
    if ((EUID != 0)); then
        sudo "$@"
    else
        "$@"
    fi
}

# Prints whichever of the packages named is not installed.
tovarine_missing_packages() {
    local package status
    for package in "$@"; do
        status="$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
        [[ "$status" == "install ok installed" ]] || echo "$package"
    done
}

# apt-get update, once a run of the scripts: an index that fails to download (a mirror in the
# middle of a sync, an architecture whose index is broken) leaves the others usable, so a failure
# is reported in one line and the install goes on with what was fetched. Tried twice.
tovarine_apt_update() {
    [[ -n "${TOVARINE_APT_UPDATED:-}" ]] && return 0
    TOVARINE_APT_UPDATED=1
    local log _
    log="$(mktemp)"
    for _ in 1 2; do
        if tovarine_sudo timeout "$TOVARINE_APT_TIME_LIMIT" apt-get "${TOVARINE_APT_OPTIONS[@]}" \
               update >"$log" 2>&1; then
            rm -f "$log"
            return 0
        fi
    done
    echo "install: apt-get update failed for some indexes; going on with the indexes it has" \
         "($( (grep -m1 '^E: ' "$log" || grep -m1 '^W: ' "$log" || echo 'no message') | cut -c1-300))"
    rm -f "$log"
    return 0
}

# Installs the packages named, missing ones only, in one apt-get call; touches apt not at all
# when none is missing. With --reinstall, every package named is downloaded and installed again.
# On failure prints one line per package that cannot be installed, with apt's reason, sets
# TOVARINE_INSTALL_REASON to the first of them and returns non-zero.
tovarine_install_group() {
    local reinstall=()
    if [[ "${1:-}" == --reinstall ]]; then
        reinstall=(--reinstall)
        shift
    fi
    TOVARINE_INSTALL_REASON=""
    if ! command -v dpkg-query >/dev/null 2>&1; then
        echo "install: no dpkg-query here; assuming $* are available" >&2
        return 0
    fi
    local missing=()
    if ((${#reinstall[@]} != 0)); then
        missing=("$@")
    else
        mapfile -t missing < <(tovarine_missing_packages "$@")
    fi
    ((${#missing[@]} == 0)) && return 0
    echo "install: ${missing[*]}"
    local added_i386=""
    if [[ " ${missing[*]}" == *":i386"* ]] &&
       ! grep -qx i386 <<<"$(dpkg --print-foreign-architectures)"; then
        tovarine_sudo dpkg --add-architecture i386
        added_i386=1
        TOVARINE_APT_UPDATED=""  # the new architecture's indexes
    fi
    tovarine_apt_update
    local log _
    log="$(mktemp)"
    for _ in 1 2; do
        # Shown as it goes, and kept for the reasons below; its status whatever pipefail says.
        { tovarine_sudo env DEBIAN_FRONTEND=noninteractive timeout "$TOVARINE_APT_TIME_LIMIT" \
              apt-get "${TOVARINE_APT_OPTIONS[@]}" install -y --no-install-recommends \
              "${reinstall[@]}" "${missing[@]}" 2>&1
          echo "$?" >"$log.status"; } | tee "$log"
        if [[ "$(cat "$log.status")" == 0 ]]; then
            rm -f "$log" "$log.status"
            return 0
        fi
        # A download that failed twice within apt (Acquire::Retries) gets one more whole try
        # after a fresh look at the indexes; anything else would fail the same way again.
        grep -qE '^E: (Failed to fetch|Unable to fetch)' "$log" || break
        TOVARINE_APT_UPDATED=""
        tovarine_apt_update
    done
    # Which of them cannot be installed, and why: each alone, as apt would try it (simulated).
    local package reason
    for package in $(tovarine_missing_packages "${missing[@]}"); do
        reason="$(tovarine_sudo apt-get "${TOVARINE_APT_OPTIONS[@]}" install -s -y \
                      --no-install-recommends "$package" 2>&1 |
                  grep -m1 -E ' : (Depends|PreDepends|Conflicts|Breaks): |^E: ' |
                  sed -E 's/^ +//' || true)"
        if [[ -z "$reason" ]]; then
            reason="$(grep -m1 -E '^E: ' "$log" || echo "apt-get install failed (exit status above)")"
        fi
        reason="$(cut -c1-300 <<<"$reason")"
        echo "install: cannot install $package: $reason"
        [[ -n "$TOVARINE_INSTALL_REASON" ]] || TOVARINE_INSTALL_REASON="$package: $reason"
    done
    if [[ -z "$TOVARINE_INSTALL_REASON" ]]; then
        TOVARINE_INSTALL_REASON="$(grep -m1 -E '^E: ' "$log" || echo 'apt-get install failed')"
        echo "install: ${missing[*]}: $TOVARINE_INSTALL_REASON"
    fi
    rm -f "$log" "$log.status"
    if [[ -n "$added_i386" ]] && [[ -z "$(dpkg-query -W -f='${Package}\n' '*:i386' 2>/dev/null)" ]]; then
        # Nothing of the architecture came in: leave apt as it was, without its indexes to fetch.
        tovarine_sudo dpkg --remove-architecture i386 || true
    fi
    return 1
}

# Installs package groups: `tovarine_install REQUIRED... [-- OPTIONAL... [-- EXTRA-PACKAGE...]]`.
# Required groups first, each on its own; every one is tried, and the call fails when any cannot
# be installed. Then the optional groups and each extra optional package on its own: one that
# cannot be installed leaves its reason in build/install/GROUP.skipped for the stages that need
# it, and the call goes on. TOVARINE_REINSTALL names packages installed again as required ones.
tovarine_install() {
    local required=() optional=() extras=() part=0 word
    for word in "$@"; do
        if [[ "$word" == -- ]]; then
            part=$((part + 1))
            continue
        fi
        [[ -z "$word" ]] && continue
        case $part in
            0) required+=("$word") ;;
            1) optional+=("$word") ;;
            *) extras+=("$word") ;;
        esac
    done
    mkdir -p "$TOVARINE_INSTALL_NOTES"
    local group packages failed=()
    for group in "${required[@]}"; do
        read -r -a packages <<<"${TOVARINE_GROUPS[$group]}"
        tovarine_install_group "${packages[@]}" || failed+=("$TOVARINE_INSTALL_REASON")
    done
    if [[ -n "${TOVARINE_REINSTALL:-}" ]]; then
        read -r -a packages <<<"$TOVARINE_REINSTALL"
        tovarine_install_group --reinstall "${packages[@]}" || failed+=("$TOVARINE_INSTALL_REASON")
    fi
    for group in "${optional[@]}"; do
        read -r -a packages <<<"${TOVARINE_GROUPS[$group]}"
        tovarine_install_optional "$group" "${packages[@]}"
    done
    for word in "${extras[@]}"; do
        tovarine_install_optional "extra-$word" "$word"
    done
    if ((${#failed[@]} != 0)); then
        echo "install: FAILED: a package the build needs cannot be installed: ${failed[0]}" >&2
        return 1
    fi
    echo "install: every required package is installed"
}

# One optional group: GROUP PACKAGE...
tovarine_install_optional() {
    local group="$1"
    shift
    local note="$TOVARINE_INSTALL_NOTES/$group.skipped"
    mkdir -p "$TOVARINE_INSTALL_NOTES"
    if [[ "$group" == wine32 ]] && [[ -n "$(tovarine_missing_packages "$@")" ]] &&
       ! tovarine_runs_32bit; then
        echo "this machine's kernel cannot run 32-bit programs, so 32-bit Wine is not installed" >"$note"
        echo "install: optional $*: not installed: $(cat "$note")"
        return 0
    fi
    if tovarine_install_group "$@"; then
        rm -f "$note"
    else
        echo "$* could not be installed (${TOVARINE_INSTALL_REASON#*: })" >"$note"
        echo "install: optional $*: SKIPPED for the stages that need it: $(cat "$note")"
    fi
    return 0
}

# Why the optional GROUP (packages PACKAGE..., default the group's own) is not there; nothing
# when every package of it is installed.
tovarine_optional_reason() {
    local group="$1"
    shift
    local packages=("$@")
    if ((${#packages[@]} == 0)); then read -r -a packages <<<"${TOVARINE_GROUPS[$group]}"; fi
    [[ -z "$(tovarine_missing_packages "${packages[@]}")" ]] && return 0
    if [[ -f "$TOVARINE_INSTALL_NOTES/$group.skipped" ]]; then
        cat "$TOVARINE_INSTALL_NOTES/$group.skipped"
    else
        echo "${packages[*]} is not installed (bash scripts/test.sh install installs it)"
    fi
}

# Whether this machine's kernel runs 32-bit x86 programs: a 93-byte program that only exits 0
# is run. Returns 1 only when the kernel refuses the format outright; any other outcome counts
# as "maybe" (0), so that a machine that can is never passed over.
tovarine_runs_32bit() {
    local probe status=0 output
    probe="$(mktemp)"
    local elf=''
    elf+='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'         # 32-bit, little-endian
    elf+='\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08'                 # executable, i386, entry
    elf+='\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'                 # program header at 52
    elf+='\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'                 # one, no sections
    elf+='\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' # the file at 0x8048000
    elf+='\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' # 93 bytes, read, execute
    elf+='\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80'                             # exit(0)
    # shellcheck disable=SC2059  # the bytes are the format
    printf "$elf" >"$probe"
    chmod +x "$probe"
    output="$("$probe" 2>&1)" || status=$?
    rm -f "$probe"
    ! [[ $status -eq 126 && "$output" == *"format"* ]]
}
