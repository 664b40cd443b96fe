#!/usr/bin/env bash
# Redraws the panel's images into images/ at the repository root.
# Usage: scripts/draw-images.sh
set -euo pipefail

repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$(mktemp -d)"
trap 'rm -rf "$build_dir"' EXIT

# shellcheck disable=SC2046  # pkg-config output is meant to be word-split
g++ -std=c++17 -Wall -Wextra -fPIC -O2 \
    -o "$build_dir/draw-images" "$repo_root/scripts/draw-images.cpp" \
    $(pkg-config --cflags --libs Qt5Gui)

mkdir -p "$repo_root/images"
# Qt wants a private runtime directory; the temporary build directory is one (mode 0700).
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$build_dir" "$build_dir/draw-images" "$repo_root/images"

cd "$repo_root/images"
for file in LED_Grey.png LED_Green.png LED_Red.png OK.png Error.png Arrow.png Arrow-Left.png \
    HelpIcon.png "Sine-Wave Inv.png" Logo.png lgplv3-147x51.png; do
    printf '%8d  %s\n' "$(stat -c %s "$file")" "images/$file"
done
