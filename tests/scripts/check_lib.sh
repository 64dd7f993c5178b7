# shellcheck shell=bash disable=SC2034  # root and problems_found are read by the tests
# What the scripts' tests share, sourced by each: the project's root, a work folder removed at the
# end, and fail(), which says one failed check and marks the run failed ("exit
# $problems_found" ends each test).
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
problems_found=0
fail() {
    echo "FAILED: $*" >&2
    problems_found=1
}
