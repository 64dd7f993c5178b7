#!/usr/bin/env bash
# The library's demonstration: feeds real-looking requests of each server kind through the
# command-line host and shows, per request, what the matching reader produced; then lets the
# sample server (built beside the tool) keep its settings in a registry store of its own.
#
# Usage: run-demo.sh TOOL_PATH
# Exits 0 when every step went through, non-zero as soon as the tool or the sample fails.
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

# What became of each parameter of a URL pasted from a client's configuration.
url='http://cams.example.net:8080/live?server=2&Timeout=30&server=5&framerate=12.5&preview'
printf "\n=== Why parameters were ignored: a pasted URL, explained ===\n\$ tovarine read live --explain '%s'\n" "$url"
if ! explained=$("$tool" read live --explain "$url"); then
    echo "run-demo.sh: the tool failed: tovarine read live --explain" >&2
    exit 1
fi
sed 's/^/    /' <<<"$explained"

# A server's access log replayed, one JSON object a request.
printf "\n=== An access log, replayed ===\n\$ tovarine read live --each requests/7-access.log\n"
show_request "$requests/7-access.log"
if ! replayed=$("$tool" read live --each "$requests/7-access.log"); then
    echo "run-demo.sh: the tool failed: tovarine read live --each" >&2
    exit 1
fi
sed 's/^/    /' <<<"$replayed"

# The settings: a fresh store, the settings root as an installer creates it, the sample server
# saving and loading through the library, and what the store holds afterwards.
sample=$(dirname "$tool")/sample_server
if [[ ! -x $sample ]]; then
    echo "run-demo.sh: no sample server beside the tool ('$sample')" >&2
    exit 1
fi
store=$(mktemp -d)
trap 'rm -rf "$store"' EXIT
export TOVARINE_REGISTRY=$store/registry.db

# step SHOWN COMMAND...: shows SHOWN as the command line, runs COMMAND and shows its output.
step() {
    local shown=$1 output
    shift
    printf '$ %s\n' "$shown"
    if ! output=$("$@" 2>&1); then
        sed 's/^/  /' <<<"$output"
        echo "run-demo.sh: failed: $shown" >&2
        exit 1
    fi
    [[ -z $output ]] || sed 's/^/  /' <<<"$output"
}

printf '\n=== Settings, in a fresh registry store ===\n'
echo "\$ export TOVARINE_REGISTRY=\$(mktemp -d)/registry.db"
step "tovarine settings init" "$tool" settings init
step "sample_server" "$sample"
step "tovarine settings list" "$tool" settings list
step "tovarine settings list 'Sample Server'" "$tool" settings list "Sample Server"
step "tovarine settings show 'Sample Server 0'" "$tool" settings show "Sample Server 0"

echo
echo "Every request and every settings step went through."
