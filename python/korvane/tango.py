"""The Korvane Amplifier as a Tango device (PyTango 9.3, Debian's python3-tango).

Device class ``KorvaneAmplifier``; its device property ``Address`` is the amplifier's
address as ``korvane.Amplifier`` takes it (``tcp://192.0.2.10:2101``,
``serial:///dev/ttyACM0``). Run the server as ``korvane-tango INSTANCE``.

Attributes: the output powers ``PowerA``, ``PowerB``, ``PowerC`` (W); the temperatures
``Cell1Temperature``, ``Cell2Temperature``, ``DriverTemperature`` (°C), in alarm above the
amplifier's limit and in warning within 5 °C of it; the settings ``GainA``, ``GainB``,
``GainC`` (dB), ``Linearity`` (%), ``MaxPower`` (W), ``MaxCellTemperature``,
``MaxDriverTemperature`` (°C) and ``RF``, writable within the amplifier's ranges and read
back after each write. State ON, FAULT while a fault is latched, UNKNOWN while the
amplifier does not answer. Commands ``Reset`` and ``Calibrate`` (channel "A", "B", "C").
"""
import threading
import time

from tango import AttrQuality, AttrWriteType, DevState
from tango.server import Device, attribute, command, device_property

from . import Amplifier, Error
from .table import READINGS, SETTING, SETTINGS

#: Warning this many °C below a temperature limit.
WARNING_MARGIN_C = 5
# A temperature is over its limit when strictly above it. Readings come in tenths, so an
# alarm level half a tenth above the limit holds a reading at the limit within it,
# whether Tango compares with > or >=.
_OVER = 0.05
# One Meas serves all the readings a client asks for at once.
_READING_AGE_S = 0.1


def _reading_attribute(reading):
    def read(self):
        value = getattr(self._reading(), reading.key)
        if value is None:
            return 0.0, time.time(), AttrQuality.ATTR_INVALID
        return value

    return {reading.tango: attribute(dtype=float, unit=reading.unit, format="%.1f",
                                     doc=f"The {reading.label} in {reading.unit}."),
            "read_" + reading.tango: read}


def _setting_attribute(setting):
    def read(self):
        value = getattr(self._call(lambda amplifier: amplifier.status()), setting.key)
        if value is None:
            return setting.type(0), time.time(), AttrQuality.ATTR_INVALID
        return value

    def write(self, value):
        status = self._call(lambda amplifier: amplifier.set(setting.name, value))
        self._set_limits(status)

    extra = {}
    if setting.type is not bool:
        extra = dict(unit=setting.unit, min_value=setting.low, max_value=setting.high,
                     format="%.1f" if setting.type is float else "%d")
    doc = (f"The {setting.label}" + (f" in {setting.unit}: "
                                     f"{setting.range_text.split(' must be ')[1]}"
                                     if setting.type is not bool else
                                     ": settable on the 700115A; on the others it is on while"
                                     " no fault is latched")
           + ". Read back after each write.")
    return {setting.tango: attribute(dtype=setting.type, access=AttrWriteType.READ_WRITE,
                                     doc=doc, **extra),
            "read_" + setting.tango: read, "write_" + setting.tango: write}


class _KorvaneAmplifier(Device):
    Address = device_property(
        dtype=str, mandatory=True,
        doc="The amplifier's address: tcp://HOST[:PORT] or serial:///dev/ttyACM0.")
    Timeout = device_property(dtype=float, default_value=1.0,
                              doc="How long to wait for each reply, in seconds.")

    def init_device(self):
        """Opens the link; while the amplifier cannot be reached the state is UNKNOWN and
        every access tries again."""
        Device.init_device(self)
        self._lock = threading.Lock()
        self._amplifier = None
        self._last_reading = (0.0, None)
        self._limits = {}
        try:
            self._set_limits(self._call(lambda amplifier: amplifier.status()))
        except Exception:  # noqa: BLE001 - the state says it
            pass

    def delete_device(self):
        """Closes the link."""
        if self._amplifier is not None:
            self._amplifier.close()
            self._amplifier = None

    def _call(self, action):
        """action(amplifier) with the link opened if need be; korvane's errors go to the
        client with their words."""
        with self._lock:
            if self._amplifier is None:
                self._amplifier = Amplifier(self.Address, self.Timeout)
            return action(self._amplifier)

    def _reading(self):
        taken, reading = self._last_reading
        if reading is None or time.monotonic() - taken > _READING_AGE_S:
            reading = self._call(lambda amplifier: amplifier.measure())
            self._last_reading = (time.monotonic(), reading)
        return reading

    def _set_limits(self, status):
        """Puts the amplifier's temperature limits into the temperatures' alarm ranges."""
        attributes = self.get_device_attr()
        for reading in READINGS:
            if reading.limit is None:
                continue
            limit = getattr(status, SETTING[reading.limit].key)
            if limit is None or self._limits.get(reading.tango) == limit:
                continue
            self._limits[reading.tango] = limit
            attr = attributes.get_attr_by_name(reading.tango)
            config = attr.get_properties()
            config.max_alarm = f"{limit + _OVER:g}"
            config.max_warning = (f"{limit - WARNING_MARGIN_C + _OVER:g}"
                                  if limit >= WARNING_MARGIN_C else "Not specified")
            attr.set_properties(config)

    def dev_state(self):
        """ON, FAULT while a fault is latched, UNKNOWN while the amplifier does not answer."""
        return self._state_and_status()[0]

    def dev_status(self):
        """The state in words, with the reason."""
        return self._state_and_status()[1]

    def _state_and_status(self):
        try:
            reading = self._call(lambda amplifier: amplifier.measure())
            self._set_limits(self._call(lambda amplifier: amplifier.status()))
        except Error as error:
            return DevState.UNKNOWN, f"The amplifier does not answer: {error}"
        self._last_reading = (time.monotonic(), reading)
        if reading.fault:
            return DevState.FAULT, (f"Fault {reading.status!r} is latched: RF is off until"
                                    f" Reset.")
        return DevState.ON, f"The amplifier {self._amplifier.model} answers; no fault."

    @command(doc_in="", doc_out="")
    def Reset(self):
        """Clears a latched fault."""
        self._call(lambda amplifier: amplifier.reset())

    @command(dtype_in=str, doc_in='The channel: "A", "B" or "C".')
    def Calibrate(self, channel):
        """Runs the power calibration of a channel."""
        self._call(lambda amplifier: amplifier.calibrate(channel))


#: The Tango device class, its attributes made from korvane's table.
KorvaneAmplifier = type(
    "KorvaneAmplifier", (_KorvaneAmplifier,),
    {"__doc__": __doc__, "__module__": __name__,
     **{k: v for r in READINGS for k, v in _reading_attribute(r).items()},
     **{k: v for s in SETTINGS for k, v in _setting_attribute(s).items()}})


from .server import main  # noqa: E402 - korvane-tango's entry point

__all__ = ["KorvaneAmplifier", "main", "WARNING_MARGIN_C"]
