# shellcheck shell=bash
# Configuring, building and testing a preset of CMakePresets.json, the same way for every stage
# and script. Sourced by scripts/lib.sh.

# Configures the preset PRESET in build/PRESET and builds it:
#   tovarine_preset_build PRESET [CONFIGURE-ARG...] [-- BUILD-ARG...]
# The configure arguments go to `cmake --preset` (e.g. -DTOVARINE_BUILD_TESTS=OFF), the build
# ones to `cmake --build` (e.g. --target NAME...). Stops at the first step that fails.
tovarine_preset_build() {
    local preset="$1" configure=()
    shift
    while (($# > 0)) && [[ "$1" != -- ]]; do
        configure+=("$1")
        shift
    done
    if (($# > 0)); then shift; fi
    cmake --preset "$preset" "${configure[@]}" || return
    cmake --build --preset "$preset" -j"$(nproc)" "$@"
}

# Runs the tests of the preset PRESET, built: tovarine_preset_test PRESET [CTEST-ARG...]
tovarine_preset_test() {
    local preset="$1"
    shift
    ctest --preset "$preset" "$@"
}

# Configures, builds and tests the preset PRESET: tovarine_preset_build_and_test PRESET
# [CTEST-ARG...]. The build and test presets of the same name say what is built and run.
tovarine_preset_build_and_test() {
    tovarine_preset_build "$1" || return
    tovarine_preset_test "$@"
}
