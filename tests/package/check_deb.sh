#!/usr/bin/env bash
# Installs the Debian package with dpkg -i into a scratch root (its own dpkg database, nothing
# outside it written), then checks what a user of the package gets: the files, the tool running,
# the README's C example built with pkg-config and printing what the README says, and a CMake
# project finding the package.
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
     /^```$/ && inside { if (text ~ /#include <tovarine.h>/ && text !~ /windows.h/) { printf "%s", text; exit }
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
echo "check_deb: $(basename "$deb") installs with dpkg -i; the README's example prints '$output'"
