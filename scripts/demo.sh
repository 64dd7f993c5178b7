#!/usr/bin/env bash
# Installs what the build needs, builds the command-line host in build/default (the same tree
# scripts/test.sh uses, so neither rebuilds the other's work) and runs the demonstration.
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$TOVARINE_ROOT"

tovarine_install_packages
tovarine_configure
# The host and the library it loads; the test suites are not needed here.
cmake --build --preset default -j"$(nproc)" --target tovarine tovarine_tool

demo=tools/demo/run-demo.sh
if [[ ! -f "$demo" ]]; then
    echo "demo.sh: $demo is missing" >&2
    exit 1
fi
exec bash "$demo" build/default/tools/tovarine
