# shellcheck shell=bash
# The stage runner of scripts/test.sh. Sourced after scripts/lib.sh; the caller defines
#   TOVARINE_STAGES  one entry a stage, "NAME|required package groups|what it does", in the
#                    order the stages run; the install stage is named install
#   stage_NAME       one function a stage, run in a subshell of its own with errexit on
# and calls tovarine_run_stages with the command line, under set -euo pipefail and as a plain
# command: in an if or before || or &&, bash would turn errexit off in the stages too. While a
# stage runs, TOVARINE_SELECTED holds the stages of the run and TOVARINE_INSTALL_EVERYTHING is
# set when every group is to be installed (a run of every stage, or one that names the install).

tovarine_stage_names() {
    local entry
    for entry in "${TOVARINE_STAGES[@]}"; do echo "${entry%%|*}"; done
}

# One field of a stage's entry: tovarine_stage_field NAME FIELD (1: its groups, 2: what it does).
# Fails when there is no such stage.
tovarine_stage_field() {
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

# The extra optional packages of stage $1 (TOVARINE_EXTRA_OPTIONAL="STAGE:PACKAGE ...").
tovarine_stage_extra_packages() {
    local entry
    for entry in ${TOVARINE_EXTRA_OPTIONAL:-}; do
        [[ "${entry%%:*}" == "$1" ]] && echo "${entry#*:}"
    done
    return 0
}

# A line for the summary, from inside a stage (the first one a stage leaves is shown). A stage
# that leaves one starting "SKIPPED: " counts as skipped.
tovarine_stage_note() {
    if [[ -n "${TOVARINE_STAGE_NOTES:-}" ]]; then echo "$*" >>"$TOVARINE_STAGE_NOTES"; fi
}

# tovarine_run_stages [--list | STAGE...]: with --list (or -l), prints the stages, one a line,
# with what each does. Otherwise runs the stages named (every one when none is), in the order of
# TOVARINE_STAGES, each once, the install first whether named or not. A stage whose extra
# optional package is missing is skipped with its reason. A stage that fails does not stop the
# later ones, except the install. Ends with the summary; returns 1 when any stage failed, 2 for
# a stage that does not exist.
# shellcheck disable=SC2034  # TOVARINE_SELECTED and TOVARINE_INSTALL_EVERYTHING: for the stages
tovarine_run_stages() {
    local all_stages=() stage
    mapfile -t all_stages < <(tovarine_stage_names)
    if [[ "${1:-}" == --list || "${1:-}" == -l ]]; then
        for stage in "${all_stages[@]}"; do
            printf '%-22s %s\n' "$stage" "$(tovarine_stage_field "$stage" 2)"
        done
        return 0
    fi
    TOVARINE_SELECTED=()
    TOVARINE_INSTALL_EVERYTHING=""
    if (($# == 0)); then
        TOVARINE_SELECTED=("${all_stages[@]}")
        TOVARINE_INSTALL_EVERYTHING=1
    else
        if [[ " $* " == *" install "* ]]; then TOVARINE_INSTALL_EVERYTHING=1; fi
        for stage in "$@"; do
            if ! tovarine_stage_field "$stage" 2 >/dev/null; then
                echo "test.sh: no stage '$stage'; the stages are: ${all_stages[*]}" >&2
                return 2
            fi
        done
        for stage in "${all_stages[@]}"; do
            if [[ "$stage" == install || " $* " == *" $stage "* ]]; then
                TOVARINE_SELECTED+=("$stage")
            fi
        done
    fi

    local notes
    notes="$(mktemp -d)"
    # shellcheck disable=SC2064  # the folder is named now
    trap "rm -rf '$notes'" EXIT
    local -A stage_status=() stage_seconds=()
    local run_failed=0 started reason package rc
    for stage in "${TOVARINE_SELECTED[@]}"; do
        started=$SECONDS
        echo "==> $stage: $(tovarine_stage_field "$stage" 2)"
        reason=""
        for package in $(tovarine_stage_extra_packages "$stage"); do
            reason="$(tovarine_optional_reason "extra-$package" "$package")"
            [[ -n "$reason" ]] && break
        done
        if [[ -n "$reason" ]]; then
            echo "$stage: SKIPPED: $reason"
            echo "SKIPPED: $reason" >"$notes/$stage"
            stage_status[$stage]=skipped
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
                stage_status[$stage]=passed
                grep -q '^SKIPPED: ' "$notes/$stage" 2>/dev/null && stage_status[$stage]=skipped
            else
                stage_status[$stage]=failed
                run_failed=1
                echo "$stage: FAILED (exit status $rc)" >&2
            fi
        fi
        stage_seconds[$stage]=$((SECONDS - started))
        echo "<== $stage: ${stage_status[$stage]} in ${stage_seconds[$stage]} s"
        if [[ "$stage" == install && "${stage_status[$stage]}" == failed ]]; then
            echo "test.sh: the install failed; nothing can be built without it" >&2
            break
        fi
    done

    echo
    echo "Stage summary:"
    local counts=([0]=0 [1]=0 [2]=0) state note
    for stage in "${TOVARINE_SELECTED[@]}"; do
        state="${stage_status[$stage]:-not run}"
        note="$(head -n 1 "$notes/$stage" 2>/dev/null || true)"
        printf '  %-22s %-8s %6s  %s\n' "$stage" "$state" \
            "${stage_seconds[$stage]:+${stage_seconds[$stage]} s}" "$note"
        case "$state" in
            passed) counts[0]=$((counts[0] + 1)) ;;
            skipped) counts[2]=$((counts[2] + 1)) ;;
            *) counts[1]=$((counts[1] + 1)) ;;
        esac
    done
    echo "Stages: ${counts[0]} passed, ${counts[1]} failed, ${counts[2]} skipped"
    return "$run_failed"
}
