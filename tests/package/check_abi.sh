#!/usr/bin/env bash
# Checks libtovarine.so's binary interface against the committed baseline abi/libtovarine.abi:
# builds the library with the default preset (RelWithDebInfo, so it carries DWARF), dumps its
# interface with abidw restricted to what the public headers declare, and compares the two with
# abidiff. Hosts built against the baseline must keep working with the new library, so
#   - an incompatible change (a removed export, a changed parameter or record layout) fails;
#   - a compatible change (only additions: an added export) passes, prints the report and asks
#     for the baseline to be refreshed;
#   - the SONAME must be libtovarine.so.MAJOR, MAJOR from project(VERSION) in CMakeLists.txt.
#   usage: check_abi.sh [--update]
# --update rewrites the baseline from the library just built (after a deliberate change).
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
# shellcheck source=scripts/lib/stages.sh
source "$TOVARINE_ROOT/scripts/lib/stages.sh"  # tovarine_stage_note
cd "$TOVARINE_ROOT"

update=
case "${1:-}" in
    "") ;;
    --update) update=1 ;;
    *)
        echo "usage: $0 [--update]" >&2
        exit 2
        ;;
esac

fail() {
    echo "check_abi: $*" >&2
    tovarine_stage_note "$*"
    exit 1
}

baseline=abi/libtovarine.abi
build=build/default
version="$(tovarine_project_version)"
[[ "$version" =~ ^([0-9]+)\.[0-9]+\.[0-9]+$ ]] || fail "no VERSION in CMakeLists.txt's project()"
major="${BASH_REMATCH[1]}"

tovarine_preset_build default -- --target tovarine
library="$build/libtovarine.so.$version"
[[ -f "$library" ]] || fail "the build made no $library"

soname="$(readelf -d "$library" | sed -n 's/.*Library soname: \[\(.*\)\]$/\1/p')"
[[ "$soname" == "libtovarine.so.$major" ]] ||
    fail "$library has the SONAME '$soname', not libtovarine.so.$major (project VERSION $version)"

work="$(mktemp -d "${TMPDIR:-/tmp}/tovarine-abi.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# Only what the public headers declare and the exports reach (no C++ internals, no standard
# library), without the build's paths, the needed libraries or source locations, so that the
# dump is the same from any checkout and build folder. The sources' paths that stay in the
# translation units' names are made relative to the checkout.
abidw --headers-dir include --headers-dir "$build/include" --drop-private-types \
      --exported-interfaces-only --no-corpus-path --no-comp-dir-path --no-show-locs \
      --no-elf-needed --out-file "$work/raw.abi" "$library" ||
    fail "abidw could not read $library"
sed "s|path='$TOVARINE_ROOT/|path='|" "$work/raw.abi" >"$work/current.abi"
functions="$(grep -c '<function-decl ' "$work/current.abi" || true)"

if [[ -n "$update" ]]; then
    mkdir -p "$(dirname "$baseline")"
    cp "$work/current.abi" "$baseline"
    echo "check_abi: $baseline rewritten from $library ($soname, $functions functions)"
    tovarine_stage_note "baseline rewritten ($functions functions)"
    exit 0
fi

[[ -f "$baseline" ]] || fail "no baseline $baseline (make one with: bash $0 --update)"

# abidiff's status is a bit field: 1 an error, 2 a usage error, 4 a change, 8 an incompatible
# change. abidiff counts only a removed export as incompatible: a changed parameter or record
# (an int32_t * that became an int64_t *, a member moved) is "a change" to it, yet breaks every
# host built against the baseline. So only additions pass: any removed or changed function or
# variable, or another SONAME or architecture, fails as incompatible.
status=0
abidiff "$baseline" "$work/current.abi" >"$work/report" 2>&1 || status=$?
if (((status & 3) != 0)); then
    cat "$work/report" >&2
    fail "abidiff failed (exit $status)"
fi
breaking="$(grep 'changes summary' "$work/report" | grep -oE '[1-9][0-9]* (Removed|Changed)' || true)"
if grep -qE '^ELF (SONAME|architecture) changed' "$work/report"; then breaking+=$'\nSONAME'; fi
if ((status & 8)) || { ((status & 4)) && [[ -n "$breaking" ]]; }; then
    cat "$work/report" >&2
    fail "$soname: incompatible change against $baseline (abidiff exit $status:" \
         "${breaking//$'\n'/, })"
fi
if ((status & 4)); then
    cat "$work/report"
    echo "check_abi: $soname: compatible change against $baseline (abidiff exit 4: additions" \
         "only); if it is meant, refresh the baseline: bash tests/package/check_abi.sh --update"
    tovarine_stage_note "compatible change: refresh $baseline with check_abi.sh --update"
    exit 0
fi
echo "check_abi: $soname ($functions functions) matches $baseline"
tovarine_stage_note "$soname matches $baseline ($functions functions)"
