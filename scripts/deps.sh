# Installs the Debian packages the build needs, and only those that are missing, so that a
# second run costs nothing. Sourced by the run and test scripts; uses sudo when not root.

korvane_install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

KORVANE_BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qtbase5-dev qtbase5-dev-tools
    libqt5serialport5-dev base-files help2man gzip bash-completion libmicrohttpd-dev
    libmosquitto-dev libqwt-qt5-dev libqt5svg5-dev libxcb1-dev libyaml-cpp-dev libgnutls28-dev
    libcrypt-dev libfontconfig-dev)
# What the panel needs to run: the metric-compatible families its form is laid out for.
KORVANE_RUNTIME_PACKAGES=(fonts-liberation)
# What the tests need beyond that: a virtual X server for the keyboard test under X11, and
# what `cpack -G DEB` and the package's test (lintian, desktop entry and AppStream checks) use,
# the real servers the agent's telemetry is tested against, with certificates that openssl
# makes for each run and curl to fetch over https, PyVISA for the protocol's recipe and socat
# for the half-close the README shows, and the AT-SPI stack on a D-Bus session that the
# screen-reader test reads the panel through. The Python package korvane is tested with
# pytest, against pyserial, PyMeasure and PyTango, and installed with pip into a venv.
KORVANE_TEST_PACKAGES=(xvfb xauth dpkg-dev file lintian desktop-file-utils appstream
    mosquitto mosquitto-clients prometheus openssl curl at-spi2-core python3-pyatspi dbus
    dbus-x11 python3-pyvisa-py socat python3-pytest python3-serial python3-pymeasure
    python3-tango python3-venv python3-setuptools)

# Configures and builds the tree into build/ (or $KORVANE_BUILD_DIR): the given targets
# only, or everything when none is given.
korvane_build() {
    local root build
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    build=${KORVANE_BUILD_DIR:-$root/build}
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    if [ $# -gt 0 ]; then
        cmake --build "$build" -j"$(nproc)" --target "$@"
    else
        cmake --build "$build" -j"$(nproc)"
    fi
}
