#!/usr/bin/env bash
# Installs what the demonstration needs (a compiler, CMake, SQLite), builds the library, the
# command-line host and the sample server in build/default (the same tree scripts/test.sh uses,
# so neither rebuilds the other's work) and runs the demonstration. It needs no terminal.
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$TOVARINE_ROOT"

tovarine_install demo
# The host, the sample server and the library they load. The test suites are not needed here,
# nor GoogleTest to configure them; scripts/test.sh configures the same tree with them again.
tovarine_preset_build default -DTOVARINE_BUILD_TESTS=OFF -- \
    --target tovarine tovarine_tool sample_server

demo=tools/demo/run-demo.sh
if [[ ! -f "$demo" ]]; then
    echo "demo.sh: $demo is missing" >&2
    exit 1
fi
exec bash "$demo" build/default/tools/tovarine
