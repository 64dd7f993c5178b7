#!/usr/bin/env bash
# Installs the Debian package with dpkg -i into a scratch root (its own dpkg database, nothing
# outside it written), then checks what a user of the package gets: the files, the tool running,
# the README's C example built with pkg-config and printing what the README says, and a CMake
# project finding the package; then the package's symbols file against its library
# (dpkg-gensymbols), its Debian changelog against its version, and lintian (no error allowed).
#   usage: check_deb.sh tovarine_VERSION_ARCH.deb
set -euo pipefail

if (($# != 1)) || [[ ! -f "$1" ]]; then
    echo "usage: $0 PACKAGE.deb" >&2
    exit 2
fi
deb="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/tovarine-deb.XXXXXX")"
trap 'rm -rf "$work"' EXIT

fail() {
    echo "check_deb: $*" >&2
    exit 1
}

# A dpkg database of its own; the package's dependencies (libc, libstdc++, SQLite) are the
# machine's, which that database does not know, hence --force-depends. The scratch root has no
# shell to chroot into, so the maintainer scripts run outside it with DPKG_ROOT set, and leave
# the running system alone.
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
: >"$root/var/lib/dpkg/status"
dpkg --root="$root" --log=/dev/null --force-not-root --force-depends \
     --force-script-chrootless -i "$deb" >"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log" >&2; fail "dpkg -i failed"; }
grep -qx 'Status: install ok installed' <<<"$(dpkg --root="$root" -s tovarine)" ||
    fail "dpkg does not list tovarine as installed"

usr="$root/usr"
for file in include/tovarine.h include/tovarine_host.h include/tovarine_version.h bin/tovarine lib/pkgconfig/tovarine.pc \
            lib/cmake/tovarine/tovarineConfig.cmake lib/libtovarine.so.0 lib/libtovarine.so; do
    [[ -e "$usr/$file" ]] || fail "the package has no /usr/$file"
done
depends="$(dpkg-deb -f "$deb" Depends)"
[[ "$depends" == *libsqlite3* ]] || fail "Depends lacks SQLite: '$depends'"

"$usr/bin/tovarine" --version >/dev/null || fail "the installed tool does not run"

# The README's C example, as its reader would copy it, built with the package's pkg-config file.
awk '/^```c$/ { inside = 1; text = ""; next }
     /^```$/ && inside { if (text ~ /#include <tovarine(_host)?\.h>/ && text !~ /windows.h/) { printf "%s", text; exit }
                         inside = 0; next }
     inside { text = text $0 "\n" }' "$source_dir/README.md" >"$work/host.c"
expected="$(sed -n 's|.*/\* \(server .*\) \*/.*|\1|p' "$work/host.c")"
[[ -n "$expected" ]] || fail "no C example with its expected output in README.md"
flags="$(PKG_CONFIG_SYSROOT_DIR="$root" PKG_CONFIG_LIBDIR="$usr/lib/pkgconfig" \
         pkg-config --cflags --libs tovarine)" || fail "pkg-config does not find tovarine"
# shellcheck disable=SC2086  # the flags are words
cc -std=c11 -Wall -Wextra -pedantic -Werror "$work/host.c" $flags -o "$work/host" ||
    fail "the README's C example does not build against the package"
output="$(LD_LIBRARY_PATH="$usr/lib" "$work/host")"
[[ "$output" == "$expected" ]] || fail "the README's example printed '$output', not '$expected'"

# A CMake project finding the installed package.
if ! { cmake -S "$source_dir/tests/interface/consumer" -B "$work/consumer" \
            -DCMAKE_PREFIX_PATH="$usr" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF &&
        cmake --build "$work/consumer"; } >"$work/cmake.log" 2>&1; then
    cat "$work/cmake.log" >&2
    fail "find_package(tovarine) against the package failed"
fi
LD_LIBRARY_PATH="$usr/lib" "$work/consumer/consumer" || fail "the CMake consumer failed"
# The symbols file against the library as installed: dpkg-gensymbols -c4 fails on an export the
# file lacks (and on a library it does not name); it takes a line for a symbol the library no
# longer has, when the line's version is the package's own, for a symbol yet to come, so the
# names are also compared both ways here, and no line may name a version later than the
# package's.
version="$(dpkg-deb -f "$deb" Version)"
control="$work/control"
dpkg-deb -e "$deb" "$control"
[[ -f "$control/symbols" ]] || fail "the package has no symbols file"
library="$(readlink -f "$usr/lib/libtovarine.so.0")"
if ! (cd "$work" && dpkg-gensymbols -ptovarine -v"$version" -e"$library" -c4 \
                       -I"$control/symbols" -O"$work/symbols") >"$work/gensymbols.log" 2>&1; then
    cat "$work/gensymbols.log" >&2
    fail "the symbols file does not match $(basename "$library") (dpkg-gensymbols -c4)"
fi
nm -D --defined-only "$library" | awk 'NF == 3 && $2 ~ /^[TDBRVWiu]$/ { print $3 }' |
    sort >"$work/exported"
sed -n 's/^ \([^ @]*\)@[^ ]* .*/\1/p' "$control/symbols" | sort >"$work/listed"
if ! diff -u --label exported --label symbols "$work/exported" "$work/listed" >"$work/names.diff"; then
    cat "$work/names.diff" >&2
    fail "the symbols file and the library's exports differ (-: not listed, +: not exported)"
fi
while read -r name since; do
    dpkg --compare-versions "$since" le "$version" ||
        fail "the symbols file gives $name version $since, later than the package's $version"
done < <(sed -n 's/^ \([^ ]*\) \([^ ]*\).*/\1 \2/p' "$control/symbols")
symbols="$(wc -l <"$work/listed")"

# The newest entry of the Debian changelog is this version (a release without its entry would
# ship the previous one's).
changelog="$usr/share/doc/tovarine/changelog.gz"
[[ -f "$changelog" ]] || fail "the package has no /usr/share/doc/tovarine/changelog.gz"
gzip -dc "$changelog" >"$work/changelog"
logged="$(dpkg-parsechangelog -l "$work/changelog" -S Version)" ||
    fail "the Debian changelog does not parse"
[[ "$logged" == "$version" ]] ||
    fail "the Debian changelog's newest entry is $logged, the package is $version"

# lintian: no error. Its warnings are printed; docs/testing.md says why each stays.
command -v lintian >/dev/null || fail "lintian is not installed (package group packages)"
started=$SECONDS
lintian_status=0
lintian --fail-on error "$deb" >"$work/lintian.log" 2>"$work/lintian.err" || lintian_status=$?
grep -v '^running with root privileges' "$work/lintian.err" >&2 || true
cat "$work/lintian.log"
errors="$(grep -c '^E: ' "$work/lintian.log" || true)"
warnings="$(grep -c '^W: ' "$work/lintian.log" || true)"
if ((lintian_status != 0 || errors != 0)); then
    fail "lintian: $errors errors (exit $lintian_status)"
fi

echo "check_deb: $(basename "$deb") installs with dpkg -i; the README's example prints" \
     "'$output'; symbols file matches ($symbols exports); lintian: 0 errors, $warnings" \
     "warnings ($((SECONDS - started)) s)"
