#!/usr/bin/env bash
# The install stage on a machine whose apt has a source with a corrupt index, as a mirror in the
# middle of a sync serves it (its Release names a Packages file of another size), and an optional
# package that cannot exist. The install must pass, say which index failed, skip the stage that
# needs the package with "SKIPPED:", and leave every required package installed; one of them
# (xauth, small) is downloaded and installed again through the broken apt to show that installs
# still work. The source is removed afterwards, whatever happens. Needs root (or sudo without a
# password); run by the install-broken-mirror stage of scripts/test.sh.
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
# shellcheck source=scripts/lib/stages.sh
source "$TOVARINE_ROOT/scripts/lib/stages.sh"
cd "$TOVARINE_ROOT"

if ((EUID != 0)) && ! sudo -n true 2>/dev/null; then
    echo "install-broken-mirror: SKIPPED: needs root to add an apt source"
    tovarine_stage_note "SKIPPED: needs root to add an apt source"
    exit 0
fi
list=/etc/apt/sources.list.d/tovarine-broken-mirror.list
repo="$(mktemp -d /tmp/tovarine-broken-mirror.XXXXXX)"
log="$(mktemp)"
# shellcheck disable=SC2064  # the names are fixed now
trap "tovarine_sudo rm -rf '$repo' '$list' '$log'; tovarine_sudo rm -f /var/lib/apt/lists/*tovarine-broken-mirror*" EXIT
chmod 755 "$repo"
index="$repo/dists/sync/main/binary-amd64"
mkdir -p "$index"
printf 'Package: tovarine-sync-probe\nVersion: 1\nArchitecture: all\nFilename: none.deb\n' \
    >"$index/Packages"
size="$(stat -c %s "$index/Packages")"
sum="$(sha256sum "$index/Packages" | cut -d' ' -f1)"
{
    echo "Origin: tovarine"
    echo "Suite: sync"
    echo "Codename: sync"
    echo "Date: $(LC_ALL=C date -Ru)"
    echo "Architectures: amd64"
    echo "Components: main"
    echo "SHA256:"
    echo " $sum $((size + 1184)) main/binary-amd64/Packages"
} >"$repo/dists/sync/Release"
chmod -R a+rX "$repo"
echo "deb [trusted=yes] file:$repo sync main" | tovarine_sudo tee "$list" >/dev/null

# Not from apt's cache: the package is downloaded again while the broken source is there.
tovarine_sudo rm -f /var/cache/apt/archives/xauth_*.deb
status=0
TOVARINE_EXTRA_OPTIONAL="format:tovarine-no-such-package" TOVARINE_REINSTALL="xauth" \
    bash "$TOVARINE_ROOT/scripts/test.sh" install format >"$log" 2>&1 || status=$?
grep -E '^(install|format|<==)|^Get:.* xauth ' "$log" || true
problems=()
((status == 0)) || problems+=("the run failed (exit status $status)")
grep -q '^install: apt-get update failed' "$log" || problems+=("no line for the failed index")
grep -q '^format: SKIPPED: tovarine-no-such-package' "$log" ||
    problems+=("no SKIPPED line for the stage that needs the missing package")
grep -q '^Get:.* xauth ' "$log" || problems+=("xauth was not downloaded again")
missing=()
for group in "${TOVARINE_REQUIRED_GROUPS[@]}"; do
    read -r -a packages <<<"${TOVARINE_GROUPS[$group]}"
    mapfile -t -O "${#missing[@]}" missing < <(tovarine_missing_packages "${packages[@]}")
done
((${#missing[@]} == 0)) || problems+=("not installed: ${missing[*]}")
if ((${#problems[@]} != 0)); then
    echo "install-broken-mirror: FAILED: ${problems[*]}; the run's output:" >&2
    cat "$log" >&2
    exit 1
fi
echo "install-broken-mirror: the install passed with a corrupt index, skipped what needs the" \
     "missing package, and every required package is there"
