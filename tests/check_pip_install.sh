#!/bin/sh
# `pip install ./python` into a fresh virtual environment works and gives the package and
# korvane-tango; with Debian's setuptools and nothing fetched. Exits 77 (skipped) without
# python3-venv or python3-setuptools.
#   check_pip_install.sh PYTHON3 SOURCE_DIR SCRATCH_DIR
set -eu
python=$1 source=$2 scratch=$3
rm -rf "$scratch"
mkdir -p "$scratch"
if ! "$python" -c 'import setuptools, ensurepip' 2>/dev/null; then
    echo "skipped: python3-venv and python3-setuptools are needed"
    exit 77
fi
# A copy, so that the build's leftovers stay out of the source tree.
cp -r "$source/python" "$scratch/src"
rm -rf "$scratch/src/build" "$scratch/src"/*.egg-info
"$python" -m venv --system-site-packages "$scratch/venv"
PIP_NO_INDEX=1 "$scratch/venv/bin/pip" install --quiet --no-build-isolation --no-deps \
    "$scratch/src"
cd "$scratch"
"$scratch/venv/bin/python" -c '
import korvane, sys
assert korvane.__file__.startswith(sys.prefix), korvane.__file__
print("installed", korvane.__version__, "in", sys.prefix)'
"$scratch/venv/bin/korvane-tango" --version
