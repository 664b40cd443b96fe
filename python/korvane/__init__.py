"""Korvane Amplifier driver: read and set a Korvane Amplifier from Python.

    import korvane

    with korvane.Amplifier("tcp://192.0.2.10:2101") as amplifier:
        print(amplifier.identify().model)
        amplifier.gain_a = 12.5            # dB; checked, sent and read back
        reading = amplifier.measure()
        print(reading.power_a_w, "W", reading.cell1_temp_c, "°C")

Addresses are ``tcp://HOST[:PORT]`` (port 2101, or a korvane-agent's) and
``serial:///dev/ttyACM0``. Errors are exceptions under ``korvane.Error``.
``korvane.pymeasure`` holds a PyMeasure instrument, ``korvane.tango`` a Tango device.
"""
from .amplifier import Amplifier
from .errors import (BadReply, Error, LinkError, ModelChanged, NoReply, OutOfRange, Refused,
                     SettingNotTaken)
from .protocol import Identity, Measurement, Status
from .table import READINGS, SETTINGS

__version__ = "0.9.0"

__all__ = ["Amplifier", "Identity", "Status", "Measurement", "Error", "LinkError", "NoReply",
           "BadReply", "OutOfRange", "Refused", "SettingNotTaken", "ModelChanged",
           "READINGS", "SETTINGS"]
