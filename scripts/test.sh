#!/usr/bin/env bash
# Every test, in stages that can also run alone:
#   bash scripts/test.sh              every stage, in the order --list gives
#   bash scripts/test.sh STAGE...     the install of what those stages need, then those stages
#   bash scripts/test.sh --list       the stages, one a line, with what each does
# A stage that fails does not stop the run (except the install: nothing builds without it); the
# run ends with a summary (each stage passed, failed or skipped with why, and its time) and fails
# when any stage failed. A stage skipped because an optional package could not be installed
# says "SKIPPED: <reason>" in one line and does not fail the run.
#
# For checking the install itself: TOVARINE_EXTRA_OPTIONAL="STAGE:PACKAGE ..." adds optional
# packages that STAGE needs (one that cannot be installed makes STAGE skip), and
# TOVARINE_REINSTALL="PACKAGE ..." downloads and installs those packages again as required ones.
# shellcheck disable=SC2317  # the stage functions are called by name
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
# shellcheck source=scripts/lib/stages.sh
source "$TOVARINE_ROOT/scripts/lib/stages.sh"
# shellcheck source=scripts/lib/wine.sh
source "$TOVARINE_ROOT/scripts/lib/wine.sh"
cd "$TOVARINE_ROOT"

# name|required package groups|what it does
TOVARINE_STAGES=(
    "install||installs what the stages need: required groups, then optional ones (apt-get)"
    "format|clang|every C and C++ source against .clang-format"
    "default|demo build|the default preset (gcc): build and every native test"
    "clang|demo build clang|the same with clang"
    "fuzz|demo build clang|every fuzzer's saved inputs, then a minute of fuzzing each (scripts/fuzz.sh)"
    "asan|demo build|the native suites under AddressSanitizer, leaks and UBSan (gcc)"
    "tsan|demo build|the native suites under ThreadSanitizer (gcc)"
    "consumer-asan|demo build clang|clang with -fsanitize only in the compile flags: the library, a C host and the tool link and run"
    "windows|demo build windows|the 64-bit DLL cross-built, its tests under the 64-bit Wine"
    "windows32|demo build windows|the 32-bit DLL cross-built, its tests under the 32-bit Wine (optional: skipped without it)"
    "packages|demo build windows packages|the release zip and .deb built and checked (scripts/package.sh)"
    "abi|demo build abi|libtovarine.so's interface against the committed ABI baseline (abidiff)"
    "examples|demo build examples|the example HTTP server built against the installed library and asked by real clients (Chromium optional)"
    "install-broken-mirror||the install stage again with a corrupt apt source and a package that cannot exist"
)

# ---- the stages; each runs in a subshell of its own with errexit on -------------------------

stage_install() {
    local groups=() optional=() group stage
    if [[ -n "$TOVARINE_INSTALL_EVERYTHING" ]]; then
        groups=("${TOVARINE_REQUIRED_GROUPS[@]}")
        optional=("${TOVARINE_OPTIONAL_GROUPS[@]}")
    else
        for stage in "${TOVARINE_SELECTED[@]}"; do
            for group in $(tovarine_stage_field "$stage" 1); do
                [[ " ${groups[*]} " == *" $group "* ]] || groups+=("$group")
            done
        done
        [[ " ${TOVARINE_SELECTED[*]} " == *" windows32 "* ]] && optional+=(wine32)
        [[ " ${TOVARINE_SELECTED[*]} " == *" examples "* ]] && optional+=(browser)
    fi
    local extras=()
    for stage in "${TOVARINE_SELECTED[@]}"; do
        mapfile -t -O "${#extras[@]}" extras < <(tovarine_stage_extra_packages "$stage")
    done
    tovarine_install "${groups[@]}" -- "${optional[@]}" -- "${extras[@]}"
}

# Fix with: git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format -i
stage_format() {
    git ls-files -z -- '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
    echo "Format check: every C and C++ source as .clang-format says"
}

stage_default() { tovarine_preset_build_and_test default; }
stage_clang() { tovarine_preset_build_and_test clang; }
stage_fuzz() { bash scripts/fuzz.sh 60; }

# The native suites under the sanitizers: asan (AddressSanitizer, leaks and
# UndefinedBehaviorSanitizer) and tsan (ThreadSanitizer), each in build/PRESET. The test presets
# set the sanitizers' options; any finding fails its test. They leave out interface.install: its
# consumer is built without sanitizers, and a sanitized library cannot be loaded into it.
stage_asan() { tovarine_preset_build_and_test asan; }
stage_tsan() { tovarine_preset_build_and_test tsan; }

# The library, a C host and the tool built as a consumer's sanitizing build makes them: clang,
# -fsanitize=address,undefined in CMAKE_C_FLAGS and CMAKE_CXX_FLAGS and nowhere else. The hosts
# load libtovarine.so and run under the sanitizers.
stage_consumer-asan() { tovarine_preset_build_and_test consumer-asan; }

# The 64-bit DLL cross-built in build/windows; its tests check the DLL's export table and run
# the test programs under the 64-bit Wine.
stage_windows() { tovarine_preset_build_and_test windows; }

# The 32-bit DLL cross-built in build/windows32, its tests under the 32-bit Wine. Where that
# Wine cannot run (it could not be installed, a kernel without 32-bit support), one line says
# why and only the checks that need no Wine run.
stage_windows32() {
    tovarine_preset_build windows32
    local reason
    reason="$(tovarine_wine32_unusable build/windows32/tests/windows/tovarine_wine_probe.exe)"
    if [[ -z "$reason" ]]; then
        tovarine_preset_test windows32
        return
    fi
    echo "windows32: SKIPPED: the Wine run: $reason"
    tovarine_stage_note "Wine run SKIPPED: $reason"
    tovarine_preset_test windows32 --label-exclude wine
}

stage_packages() { bash scripts/package.sh; }

# The library's exported interface, read from the default build's debug information with
# abidw, against abi/libtovarine.abi: a change that breaks hosts built against the baseline
# fails the stage.
stage_abi() { bash tests/package/check_abi.sh; }

# examples/http_server installed beside the library into a scratch prefix, built against it
# with pkg-config and with find_package, and asked by curl, Python's http.client and urllib and,
# when it could be installed and started, headless Chromium. Where Chromium cannot run, one
# line says why and the other clients still run.
stage_examples() { bash tests/examples/run_clients.sh; }
stage_install-broken-mirror() { bash tests/scripts/broken_mirror.sh; }

# ---- the run ----------------------------------------------------------------------------------

if [[ "${1:-}" == --help || "${1:-}" == -h ]]; then
    sed -n '2,13p' "$TOVARINE_ROOT/scripts/test.sh" | sed 's/^# \{0,1\}//'
    exit 0
fi
tovarine_run_stages "$@"
