# shellcheck shell=bash
# What every script in this folder needs; source it, don't run it: the repository's root
# (TOVARINE_ROOT, whichever folder the script was started from), the installer
# (scripts/lib/install.sh) and the preset builds (scripts/lib/presets.sh). scripts/test.sh also
# sources the stage runner (scripts/lib/stages.sh) and the Wine helpers (scripts/lib/wine.sh).

# shellcheck disable=SC2034  # used by the scripts that source this file
TOVARINE_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# shellcheck source=scripts/lib/install.sh
source "$TOVARINE_ROOT/scripts/lib/install.sh"
# shellcheck source=scripts/lib/presets.sh
source "$TOVARINE_ROOT/scripts/lib/presets.sh"

# The library's version, MAJOR.MINOR.PATCH, from project(VERSION) in CMakeLists.txt: the one
# place it is given. Prints nothing when it cannot be read there.
tovarine_project_version() {
    sed -n 's/^project(tovarine VERSION \([0-9][0-9]*\.[0-9][0-9]*\.[0-9][0-9]*\).*/\1/p' \
        "$TOVARINE_ROOT/CMakeLists.txt"
}
