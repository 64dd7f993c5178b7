#!/usr/bin/env bash
# The stage runner (scripts/lib/stages.sh) on stages made up here: which stages run and in what
# order, what a failing, skipping or missing stage does to the rest of the run, the summary and
# the run's exit status. Prints one line a failed check; fails when any did.
set -euo pipefail
# shellcheck source=tests/scripts/check_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"
# shellcheck source=scripts/lib/stages.sh
source "$root/scripts/lib/stages.sh"

ran="$work/ran"

# shellcheck disable=SC2034  # read by the runner
TOVARINE_STAGES=(
    "install||installs what the stages need"
    "one|g1|the first stage"
    "two|g1 g2|the second stage"
    "bad||a stage that fails"
    "skips||a stage that finds it cannot check anything"
    "late||a stage after the failing one"
)
# Each stage writes its name to $ran when it runs.
# shellcheck disable=SC2317  # the stages are called by name
{
    stage_install() {
        echo "install everything=${TOVARINE_INSTALL_EVERYTHING:-} selected=${TOVARINE_SELECTED[*]}" >>"$ran"
        [[ -z "${FAIL_INSTALL:-}" ]]
    }
    stage_one() { echo one >>"$ran"; }
    stage_two() { echo two >>"$ran"; }
    stage_bad() {
        false
        echo "bad went on after a failure" >>"$ran"
    }
    stage_skips() {
        echo skips >>"$ran"
        tovarine_stage_note "SKIPPED: no widget here"
    }
    stage_late() { echo late >>"$ran"; }
}
# The installer's answer for an extra optional package: missing when named in $ABSENT.
tovarine_optional_reason() {
    if [[ " ${ABSENT:-} " == *" $2 "* ]]; then echo "$2 is missing"; fi
}


# case NAME EXPECTED-STATUS EXPECTED-STAGES-RUN [ARG...]: runs the stages, checks the status and
# which ran (the install's line shortened to "install"), keeps the output in $work/out.
case_run() {
    local name="$1" want_status="$2" want_ran="$3" status=0 got_ran
    shift 3
    : >"$ran"
    # A plain command, as scripts/test.sh calls it: under "||" the stages' errexit would be off.
    set +e
    (tovarine_run_stages "$@") >"$work/out" 2>&1
    status=$?
    set -e
    got_ran="$(sed 's/^install .*/install/' "$ran" | paste -sd' ')"
    [[ "$status" == "$want_status" ]] || fail "$name: exit status $status, not $want_status"
    [[ "$got_ran" == "$want_ran" ]] || fail "$name: ran '$got_ran', not '$want_ran'"
}
# expect NAME PATTERN: the last run's output has a line matching the extended regex PATTERN.
expect() {
    grep -qE "$2" "$work/out" || fail "$1: no line matching '$2' in:$(printf '\n%s' "$(cat "$work/out")")"
}
expect_not() {
    ! grep -qE "$2" "$work/out" || fail "$1: a line matching '$2'"
}

case_run "order of the list, install first" 0 "install one two" two one
expect "summary" '^Stages: 3 passed, 0 failed, 0 skipped$'
grep -qx 'install everything= selected=install one two' "$ran" ||
    fail "the install without being named installs only what the stages named need: $(head -n 1 "$ran")"

case_run "each stage once" 0 "install one" one one
case_run "install named" 0 "install one" one install
grep -qx 'install everything=1 selected=install one' "$ran" ||
    fail "the install named installs every group: $(head -n 1 "$ran")"

case_run "every stage" 1 "install one two skips late"
grep -qx 'install everything=1 selected=install one two bad skips late' "$ran" ||
    fail "a run of every stage installs every group: $(head -n 1 "$ran")"
expect "a failed stage is said" '^bad: FAILED \(exit status 1\)$'
expect "a stage's note in the summary" '^  skips +skipped +[0-9]+ s  SKIPPED: no widget here$'
expect "the failed stage in the summary" '^  bad +failed +[0-9]+ s'
expect "summary" '^Stages: 4 passed, 1 failed, 1 skipped$'

case_run "no such stage" 2 "" one nosuch
expect "no such stage" "^test.sh: no stage 'nosuch'; the stages are: install one two bad skips late$"

FAIL_INSTALL=1 case_run "the install fails" 1 "install" one two
expect "the install fails" '^test.sh: the install failed; nothing can be built without it$'
expect "stages after a failed install" '^  one +not run'
expect "summary" '^Stages: 0 passed, 3 failed, 0 skipped$'

ABSENT="pkg-a" TOVARINE_EXTRA_OPTIONAL="one:pkg-a two:pkg-b" case_run "extra package missing" 0 \
    "install two" one two
expect "a skip for the missing package" '^one: SKIPPED: pkg-a is missing$'
expect "its reason in the summary" '^  one +skipped +[0-9]+ s  SKIPPED: pkg-a is missing$'
expect "summary" '^Stages: 2 passed, 0 failed, 1 skipped$'

case_run "--list" 0 "" --list
expect "--list" '^install +installs what the stages need$'
expect "--list" '^two                    the second stage$'
[[ "$(wc -l <"$work/out")" == 6 ]] || fail "--list: not one line a stage: $(cat "$work/out")"
expect_not "--list runs nothing" '^==>'

exit "$problems_found"
