#!/usr/bin/env bash
# Runs a command under a virtual X server of its own. Xvfb picks a free display itself
# (-displayfd), so that runs side by side never share one or pull it from under each other,
# as two `xvfb-run -a` started at once can. It never resets when its last client leaves: a
# client connecting just then would be refused.
# Usage: run-in-xvfb.sh "XVFB OPTIONS" COMMAND [ARGUMENT...]
set -uo pipefail
options=$1
shift
dir=$(mktemp -d)
xvfb=
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
mkfifo "$dir/display"
# shellcheck disable=SC2086 # the options are words for Xvfb
Xvfb -displayfd 3 -nolisten tcp -noreset $options 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
if ! read -r number <"$dir/display"; then
    echo "run-in-xvfb.sh: Xvfb did not start:" >&2
    cat "$dir/xvfb.log" >&2
    exit 1
fi
unset XAUTHORITY
DISPLAY=:$number "$@"
