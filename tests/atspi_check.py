"""What the AT-SPI checks share: skipping where a part of the stack is missing, the child
processes they start and end, and waiting on another process's accessible tree."""

import os
import subprocess
import sys
import time

SKIP = 77
WAIT_S = 60


def skip(reason):
    print("SKIP: " + reason)
    sys.exit(SKIP)


def fail(reason):
    print("FAIL: " + reason)
    sys.exit(1)


try:
    import pyatspi  # noqa: F401  (the checks use it; missing, they are skipped)
except ImportError as error:
    skip("python3-pyatspi is not installed (%s)" % error)

LAUNCHER = next((p for p in ("/usr/libexec/at-spi-bus-launcher",
                             "/usr/lib/at-spi2-core/at-spi-bus-launcher") if os.path.exists(p)), None)
if LAUNCHER is None:
    skip("at-spi2-core is not installed (no at-spi-bus-launcher)")
if not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
    skip("no D-Bus session (run under dbus-run-session)")
if not os.environ.get("DISPLAY"):
    skip("no X server (run under run-in-xvfb.sh)")

children = []


def start(arguments, **options):
    process = subprocess.Popen(arguments, **options)
    children.append(process)
    return process


def stop_children():
    """Ends every process started, the last first."""
    for process in reversed(children):
        process.terminate()
    for process in reversed(children):
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()


def wait_for(what, condition):
    """Asks again until the answer holds; the tree is another process's, with no signal
    to wait on here."""
    deadline = time.monotonic() + WAIT_S
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            fail("gave up waiting for " + what)
        time.sleep(0.1)


def walk(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)
