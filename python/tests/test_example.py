"""python/examples/read_amplifier.py against the simulator, as a user runs it."""
import os
import subprocess
import sys

import pytest

from conftest import SOURCE

EXAMPLE = SOURCE / "python" / "examples" / "read_amplifier.py"


def run(*arguments):
    env = dict(os.environ, PYTHONPATH=str(SOURCE / "python"))
    return subprocess.run([sys.executable, str(EXAMPLE), *arguments], capture_output=True,
                          text=True, timeout=60, env=env)


@pytest.mark.parametrize("link", ["tcp", "serial"])
def test_example_reads_and_sets(sim, link):
    done = run(getattr(sim, link), "12.5")
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[:2] == ["model 700115A", "gain A 12.5 dB, max power 6.5 W, RF on"]
    assert len(lines) == 5 and all("no fault" in line for line in lines[2:])


def test_example_says_what_went_wrong(sim):
    done = run(sim.tcp, "12.3")
    assert done.returncode == 1
    assert "gain must be 0 to 31.5 dB in steps of 0.5, not '12.3'" in done.stderr
