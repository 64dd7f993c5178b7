#!/usr/bin/env bash
# Builds the release packages into build/packages, then checks them:
#   tovarine-VERSION-windows.zip   x86/ and x64/, each with tovarine.dll, its MinGW import
#                                  library libtovarine.dll.a, the import library for hosts built
#                                  with MSVC tovarine.lib (made from the .def), tovarine.exe;
#                                  include/ (tovarine.h, tovarine_host.h, tovarine_version.h)
#                                  and tovarine.def
#   tovarine_VERSION_ARCH.deb      the shared library, the tool, the header, the pkg-config file
#                                  and the CMake package, under /usr (CPack)
# It builds the default, windows and windows32 presets (reusing the trees scripts/test.sh
# leaves), and installs what the machine lacks first.
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$TOVARINE_ROOT"

tovarine_install demo build windows packages
version="$(tovarine_project_version)"
out=build/packages
rm -rf "$out"
mkdir -p "$out"

# Linux: the Debian package from the default tree.
tovarine_preset_build default
(cd build/default && cpack -G DEB -B "$TOVARINE_ROOT/$out/cpack")
mv "$out"/cpack/*.deb "$out/"
rm -rf "$out/cpack"

# Windows: both word sizes, debug information stripped from the copies.
name="tovarine-$version-windows"
stage="$out/$name"
mkdir -p "$stage/include"
for build in x64:windows:x86_64-w64-mingw32 x86:windows32:i686-w64-mingw32; do
    IFS=: read -r folder preset prefix <<<"$build"
    tovarine_preset_build "$preset" -- --target tovarine tovarine_tool tovarine_msvc_import_library
    mkdir -p "$stage/$folder"
    cp "build/$preset/tovarine.dll" "build/$preset/libtovarine.dll.a" "build/$preset/tovarine.lib" \
       "build/$preset/tools/tovarine.exe" "$stage/$folder/"
    "$prefix-strip" --strip-debug "$stage/$folder/tovarine.dll" "$stage/$folder/tovarine.exe"
done
cp include/tovarine.h include/tovarine_host.h build/windows/include/tovarine_version.h "$stage/include/"
cp build/windows/exports/tovarine.def "$stage/"  # made from src/exports.txt
(cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name")
rm -rf "$stage"

bash tests/package/check_deb.sh "$out"/tovarine_"$version"_*.deb
bash tests/package/check_windows_zip.sh "$out/$name.zip"
bash tests/package/check_versions.sh "$out"/tovarine_"$version"_*.deb "$out/$name.zip"
echo "Packages in $out:"
ls -l "$out"
