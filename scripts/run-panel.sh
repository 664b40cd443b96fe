#!/usr/bin/env bash
# Builds the panel and the amplifier simulator, and opens the panel against the simulator.
# The simulator listens on a loopback address of its own (127.0.21.N, port 2101), never on
# 127.0.0.1:2101, where korvane-agent or a real amplifier may be served. The panel runs with
# scratch settings that point it at the simulator (press Connect under Ethernet); your own
# saved address is not touched. The simulator stops when the panel closes.
# Extra arguments go to the simulator, e.g. --model 700115A.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=deps.sh
source "$here/deps.sh"
korvane_install_packages "${KORVANE_BUILD_PACKAGES[@]}" "${KORVANE_RUNTIME_PACKAGES[@]}"
korvane_build korvane-panel korvane-sim
build=${KORVANE_BUILD_DIR:-$here/../build}

scratch=$(mktemp -d)
sim_pid=
tail_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    [ -n "$tail_pid" ] && kill "$tail_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

# Starts the simulator on $1 and waits for its first line: "listening ..." once it listens;
# nothing when it has ended, having said why on standard error.
start_sim() {
    local address=$1 line=
    shift
    rm -f "$scratch/sim.out"
    mkfifo "$scratch/sim.out"
    "$build/sim/korvane-sim" --host "$address" --port 2101 "$@" >"$scratch/sim.out" \
        2>"$scratch/sim.err" &
    sim_pid=$!
    exec 3<"$scratch/sim.out"
    read -r line <&3 || true
    if [[ $line == listening* ]]; then
        return 0
    fi
    exec 3<&-
    wait "$sim_pid" || true
    sim_pid=
    return 1
}

address=
for host in 127.0.21.1 127.0.21.2 127.0.21.3 127.0.21.4 127.0.21.5; do
    if start_sim "$host" "$@"; then
        address=$host
        break
    fi
    # Another run may hold this address; any other reason is the same for the next one.
    grep -q 'in use' "$scratch/sim.err" || break
done
if [ -z "$address" ]; then
    echo "run-panel.sh: the simulator could not start:" >&2
    cat "$scratch/sim.err" >&2
    exit 1
fi
# The simulator's reports, as they come.
tail -n +1 -f "$scratch/sim.err" >&2 &
tail_pid=$!
echo "korvane-sim listens on $address:2101"

mkdir -p "$scratch/Orvane, Inc."
printf '[General]\nSaveIPAddress=%s\n' "$address" >"$scratch/Orvane, Inc./KorvaneAmp.conf"
XDG_CONFIG_HOME="$scratch" "$build/app/korvane-panel"
