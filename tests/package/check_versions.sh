#!/usr/bin/env bash
# Checks that every place a host or an operator reads the library's version from gives the one
# version of CMakeLists.txt's project(): the header's macros, `tovarine --version`,
# `pkg-config --modversion tovarine`, the CMake package's version file, the .deb's Version and
# the version resource of both DLLs in the release zip (fixed and text fields).
#   usage: check_versions.sh tovarine_VERSION_ARCH.deb tovarine-VERSION-windows.zip
set -euo pipefail

if (($# != 2)) || [[ ! -f "$1" || ! -f "$2" ]]; then
    echo "usage: $0 PACKAGE.deb PACKAGE-windows.zip" >&2
    exit 2
fi
deb="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
zip="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
# shellcheck source=scripts/lib.sh
source "$source_dir/scripts/lib.sh"  # tovarine_project_version
work="$(mktemp -d "${TMPDIR:-/tmp}/tovarine-versions.XXXXXX")"
trap 'rm -rf "$work"' EXIT

expected="$(tovarine_project_version)"
[[ "$expected" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] ||
    { echo "check_versions: no MAJOR.MINOR.PATCH version in CMakeLists.txt" >&2; exit 1; }

failed=0
# agree WHAT VALUE: one line of the table, and a failure when VALUE is not the version.
agree() {
    local state=agrees
    if [[ "$2" != "$expected" ]]; then
        state="DIFFERS"
        failed=1
    fi
    printf '  %-44s %-12s %s\n' "$1" "$2" "$state"
}

dpkg-deb -x "$deb" "$work/deb"
usr="$work/deb/usr"
(cd "$work" && cmake -E tar xf "$zip")
zip_dir="$(find "$work" -maxdepth 1 -name 'tovarine-*-windows' -type d | head -n 1)"
[[ -n "$zip_dir" ]] || { echo "check_versions: no tovarine-*-windows folder in $zip" >&2; exit 1; }

echo "check_versions: the version is $expected (CMakeLists.txt); each place that gives it:"

# The header, as a host compiles it: the numbers and the text.
cat >"$work/version.c" <<'EOF'
#include <stdio.h>
#include <tovarine.h>
int main(void) {
    printf("%d.%d.%d %s\n", TOVARINE_VERSION_MAJOR, TOVARINE_VERSION_MINOR,
           TOVARINE_VERSION_PATCH, TOVARINE_VERSION_STRING);
    return 0;
}
EOF
cc -std=c99 -Wall -Werror -I "$usr/include" "$work/version.c" -o "$work/version"
read -r numbers text < <("$work/version")
agree "tovarine.h: MAJOR.MINOR.PATCH" "$numbers"
agree "tovarine.h: TOVARINE_VERSION_STRING" "$text"
zip_text="$(sed -n 's/^#define TOVARINE_VERSION_STRING "\(.*\)"$/\1/p' \
            "$zip_dir/include/tovarine_version.h")"
agree "the zip's include/tovarine_version.h" "$zip_text"

tool="$("$usr/bin/tovarine" --version)"
agree "tovarine --version" "${tool#tovarine }"

agree "pkg-config --modversion tovarine" \
    "$(PKG_CONFIG_SYSROOT_DIR="$work/deb" PKG_CONFIG_LIBDIR="$usr/lib/pkgconfig" \
       pkg-config --modversion tovarine)"

# The CMake package's version file, asked as find_package(tovarine VERSION) asks it.
cat >"$work/version.cmake" <<EOF
set(PACKAGE_FIND_VERSION "$expected")
string(REPLACE "." ";" parts "$expected")
list(GET parts 0 PACKAGE_FIND_VERSION_MAJOR)
list(GET parts 1 PACKAGE_FIND_VERSION_MINOR)
list(GET parts 2 PACKAGE_FIND_VERSION_PATCH)
set(CMAKE_SIZEOF_VOID_P 8)
include("$usr/lib/cmake/tovarine/tovarineConfigVersion.cmake")
if(NOT PACKAGE_VERSION_COMPATIBLE)
    set(PACKAGE_VERSION "\${PACKAGE_VERSION} (not compatible with itself)")
endif()
message("\${PACKAGE_VERSION}")
EOF
agree "CMake package (tovarineConfigVersion.cmake)" "$(cmake -P "$work/version.cmake" 2>&1)"

agree "the .deb's Version" "$(dpkg-deb -f "$deb" Version)"

# The DLLs' version resources: VS_FIXEDFILEINFO (after its signature 0xFEEF04BD, the file and
# product versions as MAJOR<<16|MINOR, PATCH<<16|BUILD) and the FileVersion and ProductVersion
# texts (UTF-16).
for dll in "$zip_dir"/x64/tovarine.dll "$zip_dir"/x86/tovarine.dll; do
    word="${dll%/tovarine.dll}"
    word="${word##*/}"
    while read -r what value; do
        agree "$word/tovarine.dll: $what" "$value"
    done < <(python3 - "$dll" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))
if at < 0:
    print("resource none")
    sys.exit()
_, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", data, at)
for name, ms, ls in (("FileVersion(fixed)", file_ms, file_ls),
                     ("ProductVersion(fixed)", product_ms, product_ls)):
    build = "" if ls & 0xFFFF == 0 else ".%d" % (ls & 0xFFFF)
    print(name, "%d.%d.%d%s" % (ms >> 16, ms & 0xFFFF, ls >> 16, build))
for name in ("FileVersion", "ProductVersion"):
    key = (name + "\0").encode("utf-16-le")
    where = data.find(key)
    if where < 0:
        print(name, "none")
        continue
    where += len(key)
    where += (4 - where % 4) % 4  # the value starts on a 32-bit boundary
    end = where
    while data[end:end + 2] != b"\0\0":
        end += 2
    print(name, data[where:end].decode("utf-16-le"))
EOF
    )
done

if ((failed)); then
    echo "check_versions: not every place gives version $expected" >&2
    exit 1
fi
echo "check_versions: all agree on $expected"
