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
    "install-broken-mirror||the install stage again with a corrupt apt source and a package that cannot exist"
)

stage_names() {
    local entry
    for entry in "${TOVARINE_STAGES[@]}"; do echo "${entry%%|*}"; done
}

stage_field() {  # NAME FIELD(1: groups, 2: what)
    local entry name rest
    for entry in "${TOVARINE_STAGES[@]}"; do
        name="${entry%%|*}"
        rest="${entry#*|}"
        if [[ "$name" == "$1" ]]; then
            if (($2 == 1)); then echo "${rest%%|*}"; else echo "${rest#*|}"; fi
            return 0
        fi
    done
    return 1
}

# The extra optional packages of stage $1 (TOVARINE_EXTRA_OPTIONAL).
extra_packages_of() {
    local entry
    for entry in ${TOVARINE_EXTRA_OPTIONAL:-}; do
        [[ "${entry%%:*}" == "$1" ]] && echo "${entry#*:}"
    done
    return 0
}

# ---- the stages; each runs in a subshell of its own with errexit on -------------------------

stage_install() {
    local groups=() optional=() group stage
    if [[ -n "$install_everything" ]]; then
        groups=("${TOVARINE_REQUIRED_GROUPS[@]}")
        optional=("${TOVARINE_OPTIONAL_GROUPS[@]}")
    else
        for stage in "${selected[@]}"; do
            for group in $(stage_field "$stage" 1); do
                [[ " ${groups[*]} " == *" $group "* ]] || groups+=("$group")
            done
        done
        [[ " ${selected[*]} " == *" windows32 "* ]] && optional+=(wine32)
    fi
    local extras=()
    for stage in "${selected[@]}"; do
        mapfile -t -O "${#extras[@]}" extras < <(extra_packages_of "$stage")
    done
    tovarine_install "${groups[@]}" -- "${optional[@]}" -- "${extras[@]}"
}

stage_format() {
    tovarine_check_format
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
stage_windows32() { tovarine_test_windows32; }
stage_packages() { bash scripts/package.sh; }
stage_install-broken-mirror() { bash tests/scripts/broken_mirror.sh; }

# ---- the run ----------------------------------------------------------------------------------

mapfile -t all_stages < <(stage_names)
if [[ "${1:-}" == --list || "${1:-}" == -l ]]; then
    for stage in "${all_stages[@]}"; do printf '%-22s %s\n' "$stage" "$(stage_field "$stage" 2)"; done
    exit 0
fi
if [[ "${1:-}" == --help || "${1:-}" == -h ]]; then
    sed -n '2,13p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
    exit 0
fi
selected=()
install_everything=""  # every group, optional ones too: a full run, or the install named
if (($# == 0)); then
    selected=("${all_stages[@]}")
    install_everything=1
else
    [[ " $* " == *" install "* ]] && install_everything=1
    for stage in "$@"; do
        if ! stage_field "$stage" 2 >/dev/null; then
            echo "test.sh: no stage '$stage'; the stages are: ${all_stages[*]}" >&2
            exit 2
        fi
    done
    # In the order of the list, each once; the install first, whether named or not.
    for stage in "${all_stages[@]}"; do
        if [[ "$stage" == install || " $* " == *" $stage "* ]]; then selected+=("$stage"); fi
    done
fi

notes="$(mktemp -d)"
trap 'rm -rf "$notes"' EXIT
declare -A status seconds
run_failed=0
for stage in "${selected[@]}"; do
    started=$SECONDS
    echo "==> $stage: $(stage_field "$stage" 2)"
    reason=""
    for package in $(extra_packages_of "$stage"); do
        reason="$(tovarine_optional_reason "extra-$package" "$package")"
        [[ -n "$reason" ]] && break
    done
    if [[ -n "$reason" ]]; then
        echo "$stage: SKIPPED: $reason"
        echo "SKIPPED: $reason" >"$notes/$stage"
        status[$stage]=skipped
    else
        set +e
        (
            set -e
            export TOVARINE_STAGE_NOTES="$notes/$stage"
            "stage_$stage"
        )
        rc=$?
        set -e
        if ((rc == 0)); then
            status[$stage]=passed
            grep -q '^SKIPPED: ' "$notes/$stage" 2>/dev/null && status[$stage]=skipped
        else
            status[$stage]=failed
            run_failed=1
            echo "$stage: FAILED (exit status $rc)" >&2
        fi
    fi
    seconds[$stage]=$((SECONDS - started))
    echo "<== $stage: ${status[$stage]} in ${seconds[$stage]} s"
    if [[ "$stage" == install && "${status[$stage]}" == failed ]]; then
        echo "test.sh: the install failed; nothing can be built without it" >&2
        break
    fi
done

echo
echo "Stage summary:"
counts=([0]=0 [1]=0 [2]=0)
for stage in "${selected[@]}"; do
    state="${status[$stage]:-not run}"
    note="$(head -n 1 "$notes/$stage" 2>/dev/null || true)"
    printf '  %-22s %-8s %6s  %s\n' "$stage" "$state" "${seconds[$stage]:+${seconds[$stage]} s}" "$note"
    case "$state" in
        passed) counts[0]=$((counts[0] + 1)) ;;
        skipped) counts[2]=$((counts[2] + 1)) ;;
        *) counts[1]=$((counts[1] + 1)) ;;
    esac
done
echo "Stages: ${counts[0]} passed, ${counts[1]} failed, ${counts[2]} skipped"
exit "$run_failed"
