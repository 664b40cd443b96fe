#!/usr/bin/env bash
# Builds everything, fuzzes the reply decoding for 45 s where clang is installed, and runs
# the whole test suite through CTest, headless.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=deps.sh
source "$here/deps.sh"
korvane_install_packages "${KORVANE_BUILD_PACKAGES[@]}" "${KORVANE_PACKAGE_CHECK_PACKAGES[@]}"
korvane_build
build=${KORVANE_BUILD_DIR:-$here/../build}
"$here/run-fuzz.sh" 45
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j2
