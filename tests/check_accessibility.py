#!/usr/bin/python3
"""The panel as assistive technology meets it, through the real AT-SPI stack.

Run inside a D-Bus session with an X server (xvfb-run -a dbus-run-session -- ...):
starts the accessibility bus, the simulator on a loopback address of its own and the panel,
then reads the panel's accessible tree: every control and display is named for what it is
and which channel, and the lamps and the Reset button tell their state; the trend window,
opened through the tool bar, names its controls too; and the panel has loaded no OpenGL
driver. Exits 77 (skipped)
with a reason when a part of the stack is not installed.

Usage: check_accessibility.py PANEL SIMULATOR
"""

import os
import shutil
import subprocess
import sys
import tempfile

from atspi_check import LAUNCHER, fail, pyatspi, start, stop_children, wait_for, walk


panel_path, sim_path = sys.argv[1:3]


def fresh(node, attribute):
    node.clearCache()
    return getattr(node, attribute)


def check_all_named(window, nodes):
    for node in nodes:
        if node.getRoleName() in ("spin button", "push button", "check box", "text") \
                and node.getState().contains(pyatspi.STATE_VISIBLE):
            if not node.name:
                path = []
                up = node
                while up is not None and up != window:
                    path.append("%s %r" % (up.getRoleName(), up.name))
                    up = up.parent
                fail("a %s without a name: %s" % (node.getRoleName(), " in ".join(path)))


def check_trends(app, window):
    """Opens the trend window through the tool bar's button, as a screen reader user
    would, and reads its controls' names."""
    button = next((n for n in walk(window) if n.getRoleName() == "push button"
                   and n.name == "Trends"), None)
    if button is None:
        fail("no Trends button on the tool bar")
    button.queryAction().doAction(0)
    def windows():
        return [w for w in (app.getChildAtIndex(i) for i in range(app.childCount))
                if w is not None]
    trends = wait_for("the trend window (there: %s)" % [w.name for w in windows()],
                      lambda: next((w for w in windows() if w.name.startswith("Trends")),
                                   None))
    nodes = list(walk(trends))
    names = {node.name: node.getRoleName() for node in nodes}
    for name, roles in (("Pause the plots; recording goes on", ("push button", "check box",
                                                                 "toggle button")),
                        ("Export the shown span as CSV", ("push button",)),
                        ("Export the plots as PNG or SVG", ("push button",)),
                        ("Output power of channels A, B and C", None),
                        ("Cell 1, cell 2 and driver temperature with limits", None)):
        if name not in names:
            fail("the trend window has no %r (there: %s)" % (name, sorted(
                (n.getRoleName(), n.name) for n in nodes)))
        if roles and names[name] not in roles:
            fail("%r is a %s, not a %s" % (name, names[name], " or ".join(roles)))
    # A combo box is named by its current value here; what it is comes from its label.
    span = next((n for n in nodes if n.getRoleName() == "combo box"), None)
    if span is None:
        fail("the trend window has no span box")
    labels = [target.name for relation in span.getRelationSet()
              if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY
              for target in (relation.getTarget(i) for i in range(relation.getNTargets()))]
    if labels != ["Span"]:
        fail("the span box is labelled by %r, not by 'Span'" % labels)
    check_all_named(trends, nodes)


def main():
    scratch = tempfile.mkdtemp()
    try:
        start([LAUNCHER, "--launch-immediately"])
        # The simulator: an ambient above the cell limit latches a fault at once.
        sim = None
        for host in ("127.0.22.%d" % n for n in range(1, 10)):
            sim = start([sim_path, "--host", host, "--port", "2101", "--ambient", "70"],
                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            if sim.stdout.readline().startswith("listening"):
                break
            sim.wait()
            sim = None
        if sim is None:
            fail("the simulator could not listen on 127.0.22.1 to 127.0.22.9, port 2101")
        os.makedirs(os.path.join(scratch, "Orvane, Inc."))
        with open(os.path.join(scratch, "Orvane, Inc.", "KorvaneAmp.conf"), "w") as settings:
            settings.write("[General]\nSaveIPAddress=%s\n" % host)
        environment = dict(os.environ, XDG_CONFIG_HOME=scratch, QT_QPA_PLATFORM="xcb",
                           QT_ACCESSIBILITY="1", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        panel = start([panel_path], env=environment)

        desktop = pyatspi.Registry.getDesktop(0)
        app = wait_for("the panel on the accessibility bus (there: %s)"
                       % [a.name for a in desktop if a is not None], lambda: next(
            (a for a in desktop if a is not None and a.name == "korvane-panel"), None))
        window = wait_for("the panel's window", lambda: app.childCount > 0 and app[0])
        # The panel draws without OpenGL, so the system's GL driver never loads: on X11 it
        # would hold up the first window for tens of milliseconds.
        with open("/proc/%d/maps" % panel.pid) as maps:
            drivers = sorted({line.split()[-1] for line in maps
                              if "_dri.so" in line or "libGLX_" in line})
        if drivers:
            fail("the panel loaded OpenGL: %s" % ", ".join(drivers))

        nodes = list(walk(window))
        by_name = {}
        for node in nodes:
            by_name.setdefault(node.name, []).append(node)
        expected = {
            "Gain channel A (dB)": "spin button", "Gain channel B (dB)": "spin button",
            "Gain channel C (dB)": "spin button", "Linearity (%)": "spin button",
            "Maximum cell temperature (\u00b0C)": "spin button",
            "Maximum driver temperature (\u00b0C)": "spin button",
            "Maximum driver power (W)": "spin button",
            "Set maximum cell temperature": "push button",
            "Set maximum driver temperature": "push button",
            "Set maximum driver power": "push button",
            "Calibrate channel A": "push button", "Calibrate channel B": "push button",
            "Calibrate channel C": "push button", "Reset": "push button",
            "RF output on": "check box",
            "Output power channel A (W)": None, "Output power channel B (W)": None,
            "Output power channel C (W)": None, "Cell temperature 1 (\u00b0C)": None,
            "Cell temperature 2 (\u00b0C)": None, "Driver temperature (\u00b0C)": None,
            "USB link lamp": None, "Ethernet link lamp": None, "Amplifier IP address": None,
            "USB port": None,
        }
        for name, role in expected.items():
            # A label may show the same words beside its control.
            found = [n for n in by_name.get(name, []) if n.getRoleName() != "label"]
            if len(found) != 1:
                fail("%d accessibles named %r" % (len(found), name))
            if role and found[0].getRoleName() != role:
                fail("%r is a %s, not a %s" % (name, found[0].getRoleName(), role))
        # No two controls share a name: the three gains once were all "Gain (dB)".
        check_all_named(window, nodes)
        lamp = by_name["Ethernet link lamp"][0]
        if fresh(lamp, "description") != "No link":
            fail("the Ethernet lamp says %r before any link" % lamp.description)

        connect = next(n for n in nodes if n.getRoleName() == "push button"
                       and n.description == "Ethernet link")
        connect.queryAction().doAction(0)
        wait_for("the Ethernet lamp to say Link up",
                 lambda: fresh(lamp, "description") == "Link up")
        reset = by_name["Reset"][0]
        wait_for("the Reset button to say Fault latched",
                 lambda: fresh(reset, "description") == "Fault latched")
        temperature = by_name["Cell temperature 1 (\u00b0C)"][0]
        wait_for("the cell temperature to say it is over its limit",
                 lambda: fresh(temperature, "description") == "Over its limit")
        check_trends(app, window)
        print("PASS: names, lamp, fault and reading state read through AT-SPI, the trend "
              "window's names too; no OpenGL")
        return 0
    finally:
        stop_children()
        shutil.rmtree(scratch, ignore_errors=True)


sys.exit(main())
