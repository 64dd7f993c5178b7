#!/usr/bin/env bash
# The installer (scripts/lib/install.sh) against a made-up apt: dpkg-query, dpkg and apt-get
# stand-ins on PATH that keep the installed packages in a file and fail as told. Checks what is
# asked of apt and when, the reasons given for a package that cannot be installed, the retry of
# a failed download, and how required and optional groups end. Needs no root and touches
# neither apt nor build/. Prints one line a failed check; fails when any did.
set -euo pipefail
# shellcheck source=tests/scripts/check_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"
# shellcheck source=scripts/lib.sh
source "$root/scripts/lib.sh"

TOVARINE_INSTALL_NOTES="$work/notes"
export FAKE="$work/apt"
mkdir -p "$work/bin" "$FAKE"

# The made-up apt's state, in $FAKE: installed (one package a line), arches (dpkg's foreign
# architectures), broken ("PACKAGE|apt's line why it cannot be installed"), fetch_failures (how
# many installs fail to download first), update_fails (apt-get update fails when present), and
# calls (every apt-get and dpkg call, one a line, options left out).
cat >"$work/bin/dpkg-query" <<'TOOL'
#!/usr/bin/env bash
want="${*: -1}"
if [[ "$want" == '*:i386' ]]; then grep ':i386$' "$FAKE/installed" || true; exit 0; fi
grep -qxF "$want" "$FAKE/installed" || exit 1
echo "install ok installed"
TOOL
cat >"$work/bin/dpkg" <<'TOOL'
#!/usr/bin/env bash
case "$1" in
    --print-foreign-architectures) cat "$FAKE/arches" ;;
    --add-architecture) echo "dpkg $*" >>"$FAKE/calls"; echo "$2" >>"$FAKE/arches" ;;
    --remove-architecture) echo "dpkg $*" >>"$FAKE/calls"; sed -i "/^$2\$/d" "$FAKE/arches" ;;
esac
TOOL
cat >"$work/bin/apt-get" <<'TOOL'
#!/usr/bin/env bash
args=()
while (($# > 0)); do
    if [[ "$1" == -o ]]; then shift 2; else args+=("$1"); shift; fi
done
echo "apt-get ${args[*]}" >>"$FAKE/calls"
if [[ "${args[0]}" == update ]]; then
    if [[ -f "$FAKE/update_fails" ]]; then
        echo "E: Failed to fetch file:/mirror/Packages  Hash Sum mismatch"
        exit 100
    fi
    exit 0
fi
packages=() simulate=""
for arg in "${args[@]:1}"; do
    case "$arg" in
        -s) simulate=1 ;;
        -*) ;;
        *) packages+=("$arg") ;;
    esac
done
status=0
for package in "${packages[@]}"; do
    line="$(grep "^$package|" "$FAKE/broken" | cut -d'|' -f2-)" || true
    if [[ -n "$line" ]]; then
        echo "The following packages have unmet dependencies:"
        echo " $line"
        status=100
    fi
done
if ((status != 0)); then
    echo "E: Unable to correct problems, you have held broken packages."
    exit "$status"
fi
[[ -n "$simulate" ]] && exit 0
failures="$(cat "$FAKE/fetch_failures" 2>/dev/null || echo 0)"
if ((failures > 0)); then
    echo $((failures - 1)) >"$FAKE/fetch_failures"
    echo "E: Failed to fetch http://mirror/${packages[0]}.deb  Connection timed out"
    exit 100
fi
printf '%s\n' "${packages[@]}" >>"$FAKE/installed"
TOOL
chmod +x "$work/bin"/*
PATH="$work/bin:$PATH"
# The made-up apt needs no root; sudo would not find it on its own PATH.
tovarine_sudo() { "$@"; }


# fresh [INSTALLED...]: a new made-up apt with those packages installed, nothing broken.
fresh() {
    rm -rf "${FAKE:?}"/* "$TOVARINE_INSTALL_NOTES"
    printf '%s\n' "$@" >"$FAKE/installed"
    : >"$FAKE/arches"
    : >"$FAKE/broken"
    : >"$FAKE/calls"
    TOVARINE_APT_UPDATED=""
}
calls() { paste -sd';' "$FAKE/calls"; }
# check NAME ACTUAL EXPECTED
check() {
    [[ "$2" == "$3" ]] || fail "$1: got '$2', expected '$3'"
}
# check_output NAME PATTERN: $work/out has a line matching the extended regex PATTERN.
check_output() {
    grep -qE "$2" "$work/out" || fail "$1: no line matching '$2' in:$(printf '\n%s' "$(cat "$work/out")")"
}
# install_group ARG...: tovarine_install_group here, its output in $work/out; prints its status.
install_group() {
    local status=0
    tovarine_install_group "$@" >"$work/out" 2>&1 || status=$?
    echo "$status"
}

# ---- one group --------------------------------------------------------------------------------

fresh a b
check "nothing missing: status" "$(install_group a b)" 0
check "nothing missing: apt untouched" "$(calls)" ""

fresh a
check "missing ones only: status" "$(install_group a b c)" 0
check "missing ones only: apt" "$(calls)" "apt-get update;apt-get install -y --no-install-recommends b c"
check "installed" "$(tovarine_missing_packages a b c)" ""
fresh
install_group a >/dev/null
install_group b >/dev/null
check "one update a run" "$(calls)" \
    "apt-get update;apt-get install -y --no-install-recommends a;apt-get install -y --no-install-recommends b"

fresh a
check "reinstall: status" "$(install_group --reinstall a)" 0
check "reinstall: apt" "$(calls)" "apt-get update;apt-get install -y --no-install-recommends --reinstall a"

fresh
echo "bad|bad : Depends: libnothing but it is not going to be installed" >"$FAKE/broken"
check "cannot install: status" "$(install_group bad good)" 1
check_output "cannot install: apt's reason" \
    '^install: cannot install bad: bad : Depends: libnothing but it is not going to be installed$'
check_output "cannot install: the other package" '^install: cannot install good: E: Unable to correct problems'
check "cannot install: not tried again" "$(grep -c 'install -y --no-install-recommends bad good' "$FAKE/calls")" 1
tovarine_install_group bad good >/dev/null 2>&1 || true
check "cannot install: the first reason kept" "$TOVARINE_INSTALL_REASON" \
    "bad: bad : Depends: libnothing but it is not going to be installed"

fresh
echo 1 >"$FAKE/fetch_failures"
check "a failed download: status" "$(install_group a)" 0
check "a failed download: one more try after a fresh update" "$(calls)" \
    "apt-get update;apt-get install -y --no-install-recommends a;apt-get update;apt-get install -y --no-install-recommends a"
fresh
echo 2 >"$FAKE/fetch_failures"
check "a download that keeps failing: status" "$(install_group a)" 1
check_output "a download that keeps failing: why" '^install: cannot install a: E: Failed to fetch http://mirror/a.deb'

fresh
touch "$FAKE/update_fails"
check "a failed index: status" "$(install_group a)" 0
check_output "a failed index: one line" \
    '^install: apt-get update failed for some indexes; going on with the indexes it has \(E: Failed to fetch file:/mirror/Packages  Hash Sum mismatch\)$'
check "a failed index: tried twice, then the install" "$(calls)" \
    "apt-get update;apt-get update;apt-get install -y --no-install-recommends a"

fresh
check "an i386 package: status" "$(install_group w:i386)" 0
check "an i386 package: the architecture added" "$(cat "$FAKE/arches")" i386
check "an i386 package: apt" "$(calls)" \
    "dpkg --add-architecture i386;apt-get update;apt-get install -y --no-install-recommends w:i386"
fresh
echo "w:i386|w:i386 : Depends: libc6:i386 but it is not going to be installed" >"$FAKE/broken"
check "an i386 package that cannot be installed: status" "$(install_group w:i386)" 1
check "an i386 package that cannot be installed: the architecture removed again" \
    "$(cat "$FAKE/arches")" ""

# ---- groups: required ones fail the install, optional ones leave a note --------------------

# shellcheck disable=SC2034  # read by tovarine_install
TOVARINE_GROUPS=([one]="a b" [two]="c" [opt]="d" [wine32]="w:i386")
fresh
check "required and optional: status" "$(tovarine_install one two -- opt -- e >"$work/out" 2>&1; echo $?)" 0
check "required and optional: apt" "$(calls)" "apt-get update;apt-get install -y --no-install-recommends a b;apt-get install -y --no-install-recommends c;apt-get install -y --no-install-recommends d;apt-get install -y --no-install-recommends e"
check_output "required and optional: the end" '^install: every required package is installed$'

fresh
echo "a|a : Depends: x but it is not going to be installed" >"$FAKE/broken"
check "a required group fails: status" "$(tovarine_install one two >"$work/out" 2>&1; echo $?)" 1
check_output "a required group fails: why" \
    '^install: FAILED: a package the build needs cannot be installed: a: a : Depends: x but'
check "a required group fails: the next one still tried" "$(tovarine_missing_packages c)" ""

fresh
echo "d|d : Conflicts: c" >"$FAKE/broken"
check "an optional group fails: status" "$(tovarine_install one -- opt >"$work/out" 2>&1; echo $?)" 0
check_output "an optional group fails: said" \
    '^install: optional d: SKIPPED for the stages that need it: d could not be installed \(d : Conflicts: c\)$'
check "an optional group fails: its reason for the stages" "$(tovarine_optional_reason opt)" \
    "d could not be installed (d : Conflicts: c)"
: >"$FAKE/broken"
tovarine_install -- opt >/dev/null 2>&1
check "an optional group installed later: no reason left" "$(tovarine_optional_reason opt)" ""
check "an optional group installed later: no note left" "$(ls "$TOVARINE_INSTALL_NOTES")" ""

fresh
check "an optional group never installed: why" "$(tovarine_optional_reason opt)" \
    "d is not installed (bash scripts/test.sh install installs it)"

fresh a b
TOVARINE_REINSTALL="b" tovarine_install one >/dev/null 2>&1
check "TOVARINE_REINSTALL: installed again after the required groups" "$(calls)" \
    "apt-get update;apt-get install -y --no-install-recommends --reinstall b"

fresh
tovarine_runs_32bit() { return 1; }
tovarine_install -- wine32 >"$work/out" 2>&1
check "no 32-bit kernel: apt untouched" "$(calls)" ""
check "no 32-bit kernel: the reason" "$(tovarine_optional_reason wine32)" \
    "this machine's kernel cannot run 32-bit programs, so 32-bit Wine is not installed"

exit "$problems_found"
