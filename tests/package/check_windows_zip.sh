#!/usr/bin/env bash
# Checks the Windows release zip: its layout; each DLL built for its folder's word size,
# exporting exactly the eleven undecorated names and carrying its version resource; each import
# library naming those exports for tovarine.dll; a host linking each import library with the
# zip's header. (The same hosts run under Wine in the windows and windows32 test presets.)
#   usage: check_windows_zip.sh tovarine-VERSION-windows.zip
set -euo pipefail

if (($# != 1)) || [[ ! -f "$1" ]]; then
    echo "usage: $0 tovarine-VERSION-windows.zip" >&2
    exit 2
fi
zip="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/tovarine-zip.XXXXXX")"
trap 'rm -rf "$work"' EXIT

fail() {
    echo "check_windows_zip: $*" >&2
    exit 1
}

# The DLL's exports: every name of the export list not marked for POSIX only.
mapfile -t exports < <(sed 's/#.*//' "$source_dir/src/exports.txt" |
                       awk 'NF && $2 != "posix" { print $1 }')
((${#exports[@]} > 0)) || fail "no export in $source_dir/src/exports.txt"

(cd "$work" && cmake -E tar xf "$zip")
top="$work/$(basename "$zip" .zip)"
[[ -d "$top" ]] || fail "the zip has no folder $(basename "$top")"
for file in include/tovarine.h include/tovarine_host.h include/tovarine_version.h tovarine.def; do
    [[ -f "$top/$file" ]] || fail "the zip has no $file"
done

for build in x64:x86_64-w64-mingw32:pei-x86-64:__imp_ x86:i686-w64-mingw32:pei-i386:__imp__; do
    IFS=: read -r folder prefix format import_prefix <<<"$build"
    dir="$top/$folder"
    for file in tovarine.dll libtovarine.dll.a tovarine.lib tovarine.exe; do
        [[ -f "$dir/$file" ]] || fail "the zip has no $folder/$file"
    done
    for file in tovarine.dll tovarine.exe; do
        grep -q "file format $format" <<<"$("$prefix-objdump" -f "$dir/$file")" ||
            fail "$folder/$file is not $format"
    done
    headers="$("$prefix-objdump" -p "$dir/tovarine.dll")"
    names="$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' \
             <<<"$headers" | sort)"
    [[ "$names" == "$(printf '%s\n' "${exports[@]}" | sort)" ]] ||
        fail "$folder/tovarine.dll exports [$(tr '\n' ' ' <<<"$names")]"
    grep -q '\.rsrc' <<<"$("$prefix-objdump" -h "$dir/tovarine.dll")" ||
        fail "$folder/tovarine.dll has no resources"
    for library in libtovarine.dll.a tovarine.lib; do
        symbols="$("$prefix-nm" "$dir/$library" 2>/dev/null)"
        for name in "${exports[@]}"; do
            grep -q " I $import_prefix$name\$" <<<"$symbols" ||
                fail "$folder/$library has no import of $name as $import_prefix$name"
        done
        "$prefix-gcc" -std=c11 -Wall -Wextra -Werror -I"$top/include" \
            "$source_dir/tests/windows/import_host.c" "$dir/$library" -o "$work/host.exe" ||
            fail "a host does not link $folder/$library"
        grep -qi 'DLL Name: tovarine.dll' <<<"$("$prefix-objdump" -p "$work/host.exe")" ||
            fail "a host linked with $folder/$library does not import tovarine.dll"
    done
done
echo "check_windows_zip: $(basename "$zip"): x86 and x64 complete, ${#exports[@]} exports each"
