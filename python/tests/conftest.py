"""Fixtures: korvane-sim and korvane-agent started on free loopback ports for one test
(and ended with it, also when the test run is killed), and a scripted stand-in amplifier
for replies no real one sends."""
import ctypes
import os
import select
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import pytest

SOURCE = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "python"))

STARTUP_TIMEOUT = 10
_libc = ctypes.CDLL(None)


def _dies_with_us():
    _libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def wait_for(condition, timeout=10):
    """Polls condition() until it is true, for at most timeout seconds."""
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, "timed out"
        time.sleep(0.05)


def program(name):
    """The path of one of our programs: $KORVANE_SIM and the like, else the build folder."""
    variable = "KORVANE_" + name.split("-")[1].upper()
    path = os.environ.get(variable) or str(SOURCE / "build" / name.split("-")[1] / name)
    if not os.access(path, os.X_OK):
        pytest.skip(f"{name} is not built: cmake --build build --target {name}")
    return path


class Started:
    """A program started for a test, with the lines it announced on standard output."""

    def __init__(self, args, lines):
        self.log = tempfile.TemporaryFile()
        self.popen = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=self.log,
                                      preexec_fn=_dies_with_us)
        fd, data = self.popen.stdout.fileno(), b""
        deadline = time.monotonic() + STARTUP_TIMEOUT
        while data.count(b"\n") < lines:
            ready, _, _ = select.select([fd], [], [], max(0, deadline - time.monotonic()))
            chunk = os.read(fd, 4096) if ready else b""
            if not chunk:
                self.stop()
                raise RuntimeError(f"{args[0]} did not start: {data!r} {self.errors()}")
            data += chunk
        self.lines = data.decode().splitlines()
        self.port = int(self.lines[0].rsplit(":", 1)[1])
        self.tcp = f"tcp://127.0.0.1:{self.port}"
        pty = [line.split()[1] for line in self.lines if line.startswith("pty ")]
        self._serial = f"serial://{pty[0]}" if pty else None

    @property
    def serial(self):
        """The pseudo-terminal's address; the test is skipped without pyserial."""
        pytest.importorskip("serial", reason="pyserial is not installed (python3-serial)")
        return self._serial

    def errors(self):
        """What it reported on standard error so far."""
        self.log.seek(0)
        return self.log.read().decode(errors="replace")

    def stop(self):
        """Ends it (the agent before the simulator it uses)."""
        if self.popen.poll() is None:
            self.popen.terminate()
            try:
                self.popen.wait(10)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait()
        self.popen.stdout.close()


def _started_processes(command_for, port_lines):
    """A fixture's body: run(*arguments) starts a program from command_for(*arguments) and
    learns its port; every one started is stopped, newest first, when the test ends."""
    started = []

    def run(*arguments):
        process = Started(command_for(*arguments), port_lines)
        started.append(process)
        return process

    yield run
    for process in reversed(started):
        process.stop()


@pytest.fixture
def start_sim():
    """start_sim(*options): a korvane-sim on a free port, with a pseudo-terminal."""
    yield from _started_processes(
        lambda *options: [program("korvane-sim"), "--port", "0", "--pty", *options], 2)


@pytest.fixture
def start_agent():
    """start_agent(sim): a korvane-agent in front of a simulator, on a free port."""
    yield from _started_processes(
        lambda sim, *options: [program("korvane-agent"), "--host", "127.0.0.1", "--port",
                               str(sim.port), "--listen", "127.0.0.1:0", *options], 1)


@pytest.fixture
def sim(start_sim):
    """A 700115A simulator (the model with every setting)."""
    return start_sim("--model", "700115A")


@pytest.fixture(params=["tcp", "pty", "agent"])
def address(request, sim, start_agent):
    """The simulator's address over TCP, its pseudo-terminal, and an agent in front of it."""
    if request.param == "agent":
        return start_agent(sim).tcp
    return getattr(sim, "serial" if request.param == "pty" else "tcp")


def frame(text):
    """A reply frame as the amplifier sends it."""
    return b"\0" + (text.encode("latin-1") if isinstance(text, str) else text) + b"\xff"


STATUS_FRAME = frame("Status, 065, 055, 060, 1, 010, 021, 021, 021")
MEAS_FRAME = frame("Meas, 0, 0253, 0248, 0301, 123, 118, 120")


class FakeAmplifier:
    """A stand-in amplifier on a loopback port that answers as scripted and keeps every
    byte it was sent. ``replies[line]`` is the bytes sent for a line (default: a good
    identification, Status and Meas, nothing for settings); ``hang_up`` closes the
    connection after the next reply."""

    def __init__(self, model="700115A"):
        self.model = model
        self.replies = {}
        self.received = bytearray()
        self.hang_up = False
        self.connections = 0
        self._server = socket.create_server(("127.0.0.1", 0))
        self.address = f"tcp://127.0.0.1:{self._server.getsockname()[1]}"
        self._stopping = False
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def lines(self):
        """The lines it was sent, without their line ends."""
        return bytes(self.received).decode("latin-1").split("\r\n")[:-1]

    def _answer(self, line):
        default = {"?": frame("?\r\n" + self.model), "Status": STATUS_FRAME,
                   "Meas": MEAS_FRAME}
        return self.replies.get(line, default.get(line, b""))

    def _serve(self):
        while not self._stopping:
            try:
                client, _ = self._server.accept()
            except OSError:
                return
            self.connections += 1
            with client:
                pending = b""
                while not self._stopping:
                    data = client.recv(4096)
                    if not data:
                        break
                    self.received += data
                    pending += data
                    *lines, pending = pending.split(b"\r\n")
                    # Read before the replies go: a test that sets it once it has a reply
                    # means the next one, not this.
                    hang_up = self.hang_up
                    for line in lines:
                        client.sendall(self._answer(line.decode("latin-1")))
                    if hang_up and lines:
                        self.hang_up = False
                        break

    def stop(self):
        """Stops serving."""
        self._stopping = True
        try:
            self._server.shutdown(socket.SHUT_RDWR)  # wakes the accept()
        except OSError:
            pass
        self._server.close()


@pytest.fixture
def fake():
    """A scripted stand-in amplifier (700115A)."""
    amplifier = FakeAmplifier()
    yield amplifier
    amplifier.stop()
