"""The korvane-tango command: serves Korvane Amplifiers as Tango devices.

Kept apart from ``korvane.tango`` so that ``--help`` and ``--version`` answer without
PyTango installed.
"""
import sys

from . import __version__

USAGE = """Usage: korvane-tango INSTANCE [Tango server options]
Serves Korvane Amplifiers as Tango devices of class KorvaneAmplifier (PyTango, Debian
package python3-tango).

Each device's property Address names its amplifier: tcp://HOST[:PORT] (port 2101, or a
korvane-agent's) or serial:///dev/ttyACM0; Timeout is how long each reply is waited for,
in seconds (default 1). Register the devices in the Tango database under the server
korvane-tango/INSTANCE first, or run without a database.

Options:
  -h, --help     Displays this help.
  -v, --version  Displays version information.
  -?             Lists the Tango server options.
"""


def main(args=None):
    """Runs the device server with the command line args (sys.argv by default)."""
    args = sys.argv if args is None else args
    if len(args) > 1 and args[1] in ("-h", "--help"):
        print(USAGE, end="")
        return 0
    if len(args) > 1 and args[1] in ("-v", "--version"):
        print(f"korvane-tango {__version__}")
        return 0
    try:
        from .tango import KorvaneAmplifier
        from tango.server import run
    except ImportError as error:
        print(f"korvane-tango: PyTango is not installed (Debian package python3-tango): "
              f"{error}", file=sys.stderr)
        return 1
    return run((KorvaneAmplifier,), args=args)
