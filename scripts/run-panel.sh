#!/usr/bin/env bash
# Builds the panel and opens it against the amplifier simulator on 127.0.0.1:2101. The panel
# runs with scratch settings that point it at the simulator (press Connect under Ethernet);
# your own saved address is not touched. The simulator stops when the panel closes.
# Extra arguments go to the simulator, e.g. --model 700115A.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=deps.sh
source "$here/deps.sh"
korvane_install_packages "${KORVANE_BUILD_PACKAGES[@]}" "${KORVANE_RUNTIME_PACKAGES[@]}"
korvane_build
build=${KORVANE_BUILD_DIR:-$here/../build}

scratch=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

mkdir -p "$scratch/Orvane, Inc."
printf '[General]\nSaveIPAddress=127.0.0.1\n' >"$scratch/Orvane, Inc./KorvaneAmp.conf"

"$build/sim/korvane-sim" --host 127.0.0.1 --port 2101 "$@" &
sim_pid=$!
XDG_CONFIG_HOME="$scratch" "$build/app/korvane-panel"
