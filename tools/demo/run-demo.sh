#!/usr/bin/env bash
# The library's demonstration: feeds real-looking requests of each server kind through the
# command-line host and shows, per request, what the matching reader produced.
#
# Usage: run-demo.sh TOOL_PATH
# Exits 0 when every request went through, non-zero as soon as the tool fails.
set -euo pipefail

if [[ $# -ne 1 ]]; then
    echo "usage: run-demo.sh TOOL_PATH" >&2
    exit 2
fi
tool=$1
if [[ ! -x $tool ]]; then
    echo "run-demo.sh: '$tool' is not an executable" >&2
    exit 1
fi
requests=$(cd "$(dirname "${BASH_SOURCE[0]}")/requests" && pwd)

# The request as it came in, without its CRs: the first lines, each cut at 100 characters.
show_request() {
    tr -d '\r' <"$1" | awk -v keep=6 -v width=100 '
        /^$/ { next }
        ++n <= keep { print "  | " (length($0) > width ? substr($0, 1, width - 3) "..." : $0) }
        END { if (n > keep) print "  | ... (" n - keep " more header lines)" }'
}

# Runs the tool and shows what it printed; stops the demonstration when the tool fails.
show_outputs() {
    local output
    if ! output=$("$tool" "$@"); then
        echo "run-demo.sh: the tool failed: tovarine $*" >&2
        exit 1
    fi
    echo "  reader wrote:"
    if [[ -z $output ]]; then
        echo "    (nothing)"
    else
        sed 's/^/    /' <<<"$output"
    fi
}

# demo TITLE KIND FILE [OPTION...]: a captured request from the requests folder.
demo() {
    local title=$1 kind=$2 file=$requests/$3
    shift 3
    printf '\n=== %s ===\n$ tovarine read %s%s < requests/%s\n' "$title" "$kind" "${*:+ $*}" \
        "${file##*/}"
    show_request "$file"
    show_outputs read "$kind" "$@" <"$file"
}

version=$("$tool" --version) || { echo "run-demo.sh: '$tool --version' failed" >&2; exit 1; }
echo "tovarine demonstration: $version"

demo "Live video, from a browser (Mozilla client)" live 1-live-browser.http
demo "Live video, from a recording client (not a Mozilla client)" live 2-live-recorder.http
demo "Segment/channel stream, channel=R" stream 3-stream-channel.http
demo "Camera control, percent escapes and '+'" camera 4-camera-control.http
demo "The same camera control request, as JSON" camera 4-camera-control.http --json
demo "Media clip, audio" clip 5-clip-audio.http
demo "Media clip, video" clip 6-clip-video.http

printf "\n=== A bare query, given on the command line ===\n\$ tovarine read stream 'server=3&channel=r&timeout=1'\n"
show_outputs read stream 'server=3&channel=r&timeout=1'

echo
echo "Every request went through."
