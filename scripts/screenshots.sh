#!/usr/bin/env bash
# Redraws the README's screenshots: the panel under a virtual X server, connected over TCP to
# the simulator, in its Simple and Advanced views, and its trend window over the first half
# minute, with two gain changes. Writes docs/panel-simple.png, docs/panel-advanced.png and
# docs/panel-trends.png. Needs port 2101 free on 127.0.0.1.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
# shellcheck source=deps.sh
source "$here/deps.sh"
korvane_install_packages "${KORVANE_BUILD_PACKAGES[@]}" "${KORVANE_RUNTIME_PACKAGES[@]}" \
    "${KORVANE_TEST_PACKAGES[@]}" xdotool imagemagick
korvane_build
build=${KORVANE_BUILD_DIR:-$root/build}

scratch=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT

export DISPLAY=:77
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
"$build/sim/korvane-sim" --port 2101 --model 700122A >/dev/null 2>&1 &
pids+=($!)
mkdir -p "$scratch/Orvane, Inc."
printf '[General]\nSaveIPAddress=127.0.0.1\n' >"$scratch/Orvane, Inc./KorvaneAmp.conf"
sleep 1
XDG_CONFIG_HOME="$scratch" "$build/app/korvane-panel" &
pids+=($!)

window=$(xdotool search --sync --name "Korvane Amplifier" | head -n 1)
sleep 1
# Form places of the buttons' centres, moved down by the tool bar above the central widget
# (31 pixels in the default style, with its Trends button).
toolbar=31
click() { xdotool mousemove --window "$window" "$1" $(($2 + toolbar)) click 1; }

mkdir -p "$root/docs"
click 320 185 # EthernetConnect
sleep 3
import -window "$window" "$root/docs/panel-simple.png"
click 410 245 # AdvancedBtn
sleep 2
import -window "$window" "$root/docs/panel-advanced.png"

xdotool mousemove --window "$window" 25 $((toolbar / 2)) click 1 # Trends
trends=$(xdotool search --sync --name "Trends" | head -n 1)
sleep 1
xdotool key alt+s Up # a span of one minute
ctl() { "$build/ctl/korvane-ctl" --host 127.0.0.1 "$@" >/dev/null; }
sleep 8
ctl set gain B 14
sleep 8
ctl set gain A 8.5
sleep 12
import -window "$trends" "$root/docs/panel-trends.png"
echo "screenshots written to $root/docs"
