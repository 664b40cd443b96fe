#!/usr/bin/python3
"""korvane-fleet as assistive technology meets it, through the real AT-SPI stack.

Run inside a D-Bus session with an X server (run-in-xvfb.sh ... dbus-run-session -- ...):
starts the accessibility bus and mosquitto on a free loopback port, publishes the retained
status and state of a live amplifier in alarm and of one whose agent went long ago, starts
korvane-fleet on that broker and reads its accessible tree: the filter and its check box are
named, each tile tells its whole state in its name (the alarm, and for the other that it is
not live), every button is named, and the status bar names the broker. Exits 77 (skipped)
with a reason when a part of the stack is not installed.

Usage: check_fleet_accessibility.py FLEET
"""

import datetime
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile

from atspi_check import LAUNCHER, fail, pyatspi, skip, start, stop_children, wait_for, walk

MOSQUITTO = shutil.which("mosquitto") or shutil.which("mosquitto", path="/usr/sbin:/sbin")
PUBLISH = shutil.which("mosquitto_pub")
if not MOSQUITTO or not PUBLISH:
    skip("mosquitto or mosquitto_pub is not installed (mosquitto, mosquitto-clients)")

fleet_path = sys.argv[1]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def listening(port):
    try:
        socket.create_connection(("127.0.0.1", port), 1).close()
        return True
    except OSError:
        return False


def state(made, worst):
    return json.dumps({
        "time": made.isoformat(timespec="milliseconds"), "interval_ms": 3600000,
        "model": "700136A", "up": True, "fault": False, "advertise": "127.0.0.1:2101",
        "readings": {"power_a_w": 10, "power_b_w": 11, "power_c_w": 12, "cell1_c": 31,
                     "cell2_c": 32, "driver_c": 33},
        "settings": {"cell_limit_c": 60, "driver_limit_c": 70, "rf_enabled": True},
        "worst_severity": worst,
        "alarms": [{"name": "fault", "severity": worst, "unacknowledged": worst}],
        "lease": {"held": False}})


def main():
    scratch = tempfile.mkdtemp()
    try:
        start([LAUNCHER, "--launch-immediately"])
        port = free_port()
        config = os.path.join(scratch, "mosquitto.conf")
        with open(config, "w") as out:
            out.write("listener %d 127.0.0.1\nallow_anonymous true\n" % port)
        start([MOSQUITTO, "-c", config], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for("mosquitto on port %d" % port, lambda: listening(port))
        now = datetime.datetime.now(datetime.timezone.utc)
        for topic, payload in (("korvane/lab1/status", "online"),
                               ("korvane/lab1/state", state(now, "MAJOR")),
                               ("korvane/lab2/status", "online"),
                               ("korvane/lab2/state",
                                state(now - datetime.timedelta(days=2), "NO_ALARM"))):
            subprocess.run([PUBLISH, "-h", "127.0.0.1", "-p", str(port), "-r", "-q", "1",
                            "-t", topic, "-m", payload], check=True, timeout=30)

        environment = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_ACCESSIBILITY="1",
                           QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        start([fleet_path, "--mqtt", "127.0.0.1:%d" % port], env=environment)
        desktop = pyatspi.Registry.getDesktop(0)
        app = wait_for("korvane-fleet on the accessibility bus", lambda: next(
            (a for a in desktop if a is not None and a.name == "korvane-fleet"), None))
        window = wait_for("its window", lambda: app.childCount > 0 and app[0])

        def names():
            return [node.name for node in walk(window)]
        lab1 = wait_for("the tile of lab1 in alarm", lambda: next(
            (n for n in names() if n.startswith("lab1; 700136A; MAJOR;")), None))
        for words in ("Agent online", "Amplifier answering", "Power A 10.0 W",
                      "Cell 1 31.0 of 60 \u00b0C", "Worst alarm MAJOR, 1 not acknowledged"):
            if words not in lab1:
                fail("the tile of lab1 does not say %r: %r" % (words, lab1))
        lab2 = wait_for("the tile of lab2, stale", lambda: next(
            (n for n in names() if n.startswith("lab2; 700136A; STALE; Not live:")), None))
        if "made 2 days ago" not in lab2:
            fail("the stale tile does not say how old: %r" % lab2)
        nodes = list(walk(window))
        roles = {(node.getRoleName(), node.name) for node in nodes}
        for role, name in (("text", "Filter by name or model"), ("check box", "Only alarms")):
            if (role, name) not in roles:
                fail("no %s named %r (there: %s)" % (role, name, sorted(roles)))
        for node in nodes:
            if node.getRoleName() in ("push button", "check box", "text") and not node.name \
                    and node.getState().contains(pyatspi.STATE_VISIBLE):
                fail("a %s without a name, in %r" % (node.getRoleName(), node.parent.name))
        buttons = [n.name for n in nodes if n.getRoleName() == "push button"]
        for name in ("Open panel", "Acknowledge", "Shelve\u2026"):
            if buttons.count(name) != 2:
                fail("%d buttons named %r, not one a tile" % (buttons.count(name), name))
        wait_for("the status bar to name the broker", lambda: any(
            ("connected to 127.0.0.1:%d" % port) == n for n in names()))
        print("PASS: the filter, the tiles' whole state and the broker read through AT-SPI")
        return 0
    finally:
        stop_children()
        shutil.rmtree(scratch, ignore_errors=True)


sys.exit(main())
