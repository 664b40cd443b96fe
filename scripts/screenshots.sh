#!/usr/bin/env bash
# Redraws the README's screenshots: the panel under a virtual X server, connected over TCP to
# the simulator, in its Simple and Advanced views. Writes docs/panel-simple.png and
# docs/panel-advanced.png. Needs port 2101 free on 127.0.0.1.
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
# Form places of the buttons' centres, moved down by the empty tool bar above the
# central widget (17 pixels in the default style).
toolbar=17
click() { xdotool mousemove --window "$window" "$1" $(($2 + toolbar)) click 1; }

mkdir -p "$root/docs"
click 320 185 # EthernetConnect
sleep 3
import -window "$window" "$root/docs/panel-simple.png"
click 410 245 # AdvancedBtn
sleep 2
import -window "$window" "$root/docs/panel-advanced.png"
echo "screenshots written to $root/docs"
