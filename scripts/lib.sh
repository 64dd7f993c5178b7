# shellcheck shell=bash
# Shared by the scripts in this folder; source it, don't run it.

# Debian packages the demonstration needs: a compiler, CMake and SQLite, nothing else.
TOVARINE_DEMO_PACKAGES=(cmake g++ make libsqlite3-dev)

# Debian packages a build, its tests, the packages and the tools need. Add new ones here.
# Names with an architecture (":i386") need that architecture added to dpkg first.
TOVARINE_PACKAGES=(
    "${TOVARINE_DEMO_PACKAGES[@]}" pkg-config binutils
    libgtest-dev libgmock-dev libbenchmark-dev
    # The Debian package: CPack reads its dependencies with dpkg-shlibdeps and file.
    dpkg-dev file
    # The Windows DLLs: the cross toolchains, GoogleTest's sources to build for them, and Wine
    # (64- and 32-bit) with a virtual X display to run their tests (reg.exe is one of Wine's own
    # programs).
    g++-mingw-w64-x86-64 g++-mingw-w64-i686 googletest wine64 wine32:i386 xvfb xauth
    # The fuzzers: clang, and its runtimes with libFuzzer (a package clang only recommends).
    clang clang-14 libclang-rt-14-dev
    # The benchmarks: the URL libraries the readers are compared with, and gnuplot for the plot.
    liburiparser-dev libboost-url1.81-dev gnuplot-nox
    # The command-line tool: its command-line parser and its JSON writer (header-only).
    libcli11-dev nlohmann-json3-dev
    # The format check of every C and C++ source against .clang-format.
    clang-format
)

# The repository root, whichever folder the script was started from.
# shellcheck disable=SC2034  # used by the scripts that source this file
TOVARINE_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Installs whichever of TOVARINE_PACKAGES is missing; touches apt not at all when none is.
tovarine_install_packages() {
    tovarine_install_missing "${TOVARINE_PACKAGES[@]}"
}

# Installs whichever of the packages named is missing; touches apt not at all when none is.
tovarine_install_missing() {
    local wanted=("$@")
    if ! command -v dpkg-query >/dev/null 2>&1; then
        echo "lib.sh: no dpkg-query here; assuming ${wanted[*]} are available" >&2
        return 0
    fi
    local missing=() package status
    for package in "${wanted[@]}"; do
        status="$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
        [[ "$status" == "install ok installed" ]] || missing+=("$package")
    done
    if ((${#missing[@]} == 0)); then
        return 0
    fi
    echo "Installing missing packages: ${missing[*]}"
    local sudo=()
    if ((EUID != 0)); then
        sudo=(sudo)
    fi
    if [[ " ${missing[*]}" == *":i386"* ]] &&
       ! grep -qx i386 <<<"$(dpkg --print-foreign-architectures)"; then
        "${sudo[@]}" dpkg --add-architecture i386
    fi
    "${sudo[@]}" apt-get update
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y --no-install-recommends "${missing[@]}"
}

# Configures the default preset in build/default.
tovarine_configure() {
    cmake --preset default
}

# Cross-builds the windows preset in build/windows and runs its tests: the DLL's export table,
# and the test programs under the 64-bit Wine.
tovarine_test_windows() {
    cmake --preset windows
    cmake --build --preset windows -j"$(nproc)"
    ctest --preset windows
}

# The 32-bit Wine: its launcher and server, as Debian's wine32:i386 installs them.
TOVARINE_WINE32=(WINE=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32 WINEARCH=win32)

# Cross-builds the windows32 preset in build/windows32 and runs its tests under the 32-bit Wine,
# once a tiny 32-bit program has shown that this machine runs such programs. When it cannot
# (a kernel without 32-bit support, no 32-bit Wine), it says so in one line and runs only the
# checks that need no Wine.
tovarine_test_windows32() {
    cmake --preset windows32
    cmake --build --preset windows32 -j"$(nproc)"
    local probe=build/windows32/tests/windows/tovarine_wine_probe.exe output
    if output="$(env "${TOVARINE_WINE32[@]}" bash tests/windows/run-under-wine.sh "$probe" 2>&1)" &&
       [[ "$output" == *"sizeof(void*)=4"* ]]; then
        ctest --preset windows32
    else
        echo "Windows 32-bit stage: SKIPPED under Wine, this machine cannot run 32-bit programs" \
             "($(grep -m1 -iE 'error|not found|cannot' <<<"$output" || echo 'the probe failed'))"
        ctest --preset windows32 --label-exclude wine
    fi
}

# Builds the sanitizer preset $1 (asan: AddressSanitizer, leaks and UndefinedBehaviorSanitizer;
# tsan: ThreadSanitizer) in build/$1 and runs the native suites under it. The test presets set
# the sanitizers' options; any finding fails its test. They leave out interface.install: its
# consumer is built without sanitizers, and a sanitized library cannot be loaded into it.
tovarine_test_sanitizer() {
    cmake --preset "$1"
    cmake --build --preset "$1" -j"$(nproc)"
    ctest --preset "$1"
}

# Checks that every tracked C and C++ source is formatted as .clang-format says; prints the
# offending lines and fails otherwise. Fix with: git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format -i
tovarine_check_format() {
    git ls-files -z -- '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
}
