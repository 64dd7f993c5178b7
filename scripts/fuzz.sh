#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer), runs
# the saved inputs (seeds and regressions) through CTest, then fuzzes each fuzzer (fuzz/*_fuzzer.cpp:
# the request readers, the settings calls, the .reg reader, the capture forms, the text
# encodings) for
# SECONDS_EACH seconds (default 60), starting from a copy of its seeds so that the repository is
# left as it is. An input that makes a fuzzer fail is copied into fuzz/regressions/<fuzzer>/,
# where it runs as a test of the fuzz preset from then on, and the script exits non-zero.
#   usage: scripts/fuzz.sh [SECONDS_EACH]
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$TOVARINE_ROOT"

seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [SECONDS_EACH]" >&2
    exit 2
fi

tovarine_install demo build clang
tovarine_preset_build_and_test fuzz

# Working corpora, findings, logs and the settings fuzzer's registry store, in memory if possible.
parent=/tmp
if [[ -d /dev/shm && -w /dev/shm ]]; then
    parent=/dev/shm
fi
work="$(mktemp -d "$parent/tovarine-fuzz.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# Every fuzzer there is (fuzz/NAME_fuzzer.cpp), with the longest input each is given.
fuzzers=()
for source in fuzz/*_fuzzer.cpp; do
    name="$(basename "$source" .cpp)"
    fuzzers+=("${name%_fuzzer}")
done
declare -A max_len=([settings]=2048 [reg_file]=8192)
failed=()
for fuzzer in "${fuzzers[@]}"; do
    mkdir -p "$work/$fuzzer/findings"
    cp -R "fuzz/corpus/$fuzzer" "$work/$fuzzer/corpus"
    log="$work/$fuzzer/log"
    options=(-max_total_time="$seconds" -max_len="${max_len[$fuzzer]:-4096}" -rss_limit_mb=2048
             -timeout=30 -print_final_stats=1 -artifact_prefix="$work/$fuzzer/findings/")
    if [[ -f "fuzz/$fuzzer.dict" ]]; then
        options+=(-dict="fuzz/$fuzzer.dict")
    fi
    status=0
    TMPDIR="$work/$fuzzer" "build/fuzz/fuzz/${fuzzer}_fuzzer" "$work/$fuzzer/corpus" "${options[@]}" \
        >"$log" 2>&1 || status=$?
    executed="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    echo "$fuzzer fuzzer: ${executed:-an unknown number of} executions in $seconds s"
    if ((status != 0)); then
        tail -n 60 "$log" >&2
        mkdir -p "fuzz/regressions/$fuzzer"
        for input in "$work/$fuzzer/findings"/*; do
            [[ -f "$input" ]] || continue
            cp "$input" "fuzz/regressions/$fuzzer/"
            echo "saved fuzz/regressions/$fuzzer/$(basename "$input")" >&2
        done
        failed+=("$fuzzer")
    fi
done

if ((${#failed[@]} != 0)); then
    echo "fuzz.sh: the ${failed[*]} fuzzer failed (exit status above); its input now runs as" \
         "a test: ctest --preset fuzz" >&2
    exit 1
fi
