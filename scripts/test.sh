#!/usr/bin/env bash
# Installs what the build needs, checks the sources' format (.clang-format), then configures, builds and tests the default preset, then the
# same with clang, then fuzzes the request readers and the settings calls for a minute each
# (scripts/fuzz.sh), then the same suites under AddressSanitizer with UndefinedBehaviorSanitizer
# and under ThreadSanitizer, then the 64- and 32-bit Windows DLLs (cross-built, their tests run
# under the Wine of their word size), then the release packages (scripts/package.sh).
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$TOVARINE_ROOT"

tovarine_install_packages
tovarine_check_format
echo "Format check: every C and C++ source as .clang-format says"
tovarine_configure
cmake --build --preset default -j"$(nproc)"
ctest --preset default

started=$SECONDS
cmake --preset clang
cmake --build --preset clang -j"$(nproc)"
ctest --preset clang
echo "clang stage: $((SECONDS - started)) s"

started=$SECONDS
bash scripts/fuzz.sh 60
echo "Fuzz stage: $((SECONDS - started)) s"

started=$SECONDS
tovarine_test_sanitizer asan
echo "ASan+UBSan stage: $((SECONDS - started)) s"

started=$SECONDS
tovarine_test_sanitizer tsan
echo "TSan stage: $((SECONDS - started)) s"

started=$SECONDS
tovarine_test_windows
echo "Windows stage: $((SECONDS - started)) s"

started=$SECONDS
tovarine_test_windows32
echo "Windows 32-bit stage: $((SECONDS - started)) s"

started=$SECONDS
bash scripts/package.sh
echo "Packages stage: $((SECONDS - started)) s"
