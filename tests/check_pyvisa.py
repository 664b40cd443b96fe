"""The PyVISA recipe of docs/pyvisa_example.py against korvane-sim and korvane-agent in front
of it, on loopback. Exits 77 (skipped) without PyVISA's pure-Python backend.

    python3 check_pyvisa.py KORVANE_SIM KORVANE_AGENT DOCS_FOLDER
"""
import ctypes
import signal
import subprocess
import sys

SKIPPED = 77

try:
    import pyvisa  # noqa: F401
    import pyvisa_py  # noqa: F401
except ImportError as error:
    print(f"skipped: PyVISA with pyvisa-py is not installed (Debian package python3-pyvisa-py): "
          f"{error}")
    sys.exit(SKIPPED)

sim_path, agent_path, docs = sys.argv[1:4]
sys.path.insert(0, docs)
import pyvisa_example as recipe  # noqa: E402

libc = ctypes.CDLL(None)


def dies_with_us():
    libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG: gone when this test is


def start(program, *arguments):
    """Starts one of our programs and returns it with the port it announced."""
    process = subprocess.Popen([program, *arguments], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True, preexec_fn=dies_with_us)
    first = process.stdout.readline().split()
    if len(first) != 2 or first[0] != "listening":
        sys.exit(f"{program} did not start: {first}")
    return process, int(first[1].rsplit(":", 1)[1])


def check(port, gain_db):
    amplifier = recipe.open_amplifier("127.0.0.1", port, timeout_ms=5000)
    assert recipe.model(amplifier) == "700136A", recipe.model(amplifier)
    recipe.set_gain(amplifier, 0, gain_db)
    settings = recipe.settings(amplifier)
    assert settings["gain_a_db"] == gain_db, settings
    assert settings["power_limit_w"] == 6.5, settings
    readings = recipe.readings(amplifier)
    assert readings["status"] == "0", readings
    assert 15 < readings["cell1_c"] < 60, readings
    assert len(readings) == 7, readings
    amplifier.close()


sim, sim_port = start(sim_path, "--port", "0")
agent, agent_port = start(agent_path, "--host", "127.0.0.1", "--port", str(sim_port),
                          "--listen", "127.0.0.1:0")
try:
    check(sim_port, 12.5)
    check(agent_port, 14.0)
finally:
    for process in (agent, sim):
        process.terminate()
        process.wait(10)
print("PyVISA recipe works against the simulator and the agent")
