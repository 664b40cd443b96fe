"""The Korvane Amplifier as a PyMeasure instrument (PyMeasure 0.9, Debian's
python3-pymeasure)::

    from korvane.pymeasure import KorvaneAmplifier

    amplifier = KorvaneAmplifier("tcp://192.0.2.10:2101")
    amplifier.gain_a = 12.5          # dB, validated, then read back from Status
    print(amplifier.power_a, "W")
"""
from pymeasure.adapters import Adapter
from pymeasure.instruments import Instrument
from pymeasure.instruments.validators import strict_discrete_set

from . import protocol
from .amplifier import Amplifier, check_allowed
from .errors import OutOfRange, SettingNotTaken
from .protocol import IDENTIFY, MEAS, STATUS
from .table import READINGS, SETTINGS, channel_number


class FrameAdapter(Adapter):
    """A PyMeasure adapter for the amplifier's framing, over TCP or a serial port.

    PyMeasure's own adapters read a reply up to a line end. The amplifier's replies are
    frames instead: a NUL byte, the text, then 0xFF, and the reply to "?" holds a CR LF of
    its own. So this adapter reads frames: it goes through ``korvane.Amplifier`` (address
    as it takes it, ``timeout`` per reply in seconds), which writes each command with CR LF,
    drops stale bytes before each request, gathers bytes into frames, skips junk between
    them and frames that answer another question, and locks each request with its reply.

    ``ask()`` returns a reply's text without its NUL and 0xFF (Latin-1). ``values()``
    returns the fields of a "Meas" or "Status" reply in their units, in the reply's order,
    with None for a field that is no number; the separator and cast PyMeasure passes are
    not needed.
    """

    def __init__(self, address, timeout=1.0, **kwargs):
        super().__init__(**kwargs)
        self.amplifier = Amplifier(address, timeout)
        self.connection = self.amplifier

    def write(self, command):
        """Sends one command line."""
        with self.amplifier._lock:
            self.amplifier._send([command])

    def read(self):
        """The text of the next reply frame."""
        with self.amplifier._lock:
            return self.amplifier._receive().decode("latin-1")

    def ask(self, command):
        """Sends a question ("?", "Status", "Meas") and returns the text of its reply."""
        if command not in (IDENTIFY, STATUS, MEAS):
            return super().ask(command)
        return self.amplifier._ask(command).decode("latin-1")

    def values(self, command, **kwargs):
        """The fields of the reply to "Meas" or "Status", in their units (None where not a
        number): for "Meas" the status character, then the readings as the reply orders
        them."""
        frame = self.ask(command).encode("latin-1")
        if command == MEAS:
            reading = protocol.decode_measurement(frame)
            values = [reading.status] + [None] * len(READINGS)
            for r in READINGS:
                values[r.index] = getattr(reading, r.key)
            return values
        if command == STATUS:
            status = protocol.decode_status(frame)
            return [getattr(status, s.key) for s in SETTINGS]
        return super().values(command, **kwargs)


def _validator(setting):
    """PyMeasure's strict_discrete_set over the setting's steps, refusing in korvane-ctl's
    words (OutOfRange is a ValueError, as PyMeasure's validators raise)."""
    def validate(value, values):
        try:
            if isinstance(value, bool) != (setting.type is bool):
                raise ValueError(value)
            return strict_discrete_set(value, values)
        except (ValueError, TypeError):
            raise OutOfRange(f"{setting.range_text}, not '{value}'") from None
    return validate


def _command_setting(command):
    """The setting a command line changes and the value it sends, or (None, None)."""
    for setting in SETTINGS:
        prefix = setting.command.replace("{}", "")
        if command.startswith(prefix) and command[len(prefix):].isdigit():
            return setting, int(command[len(prefix):])
    return None, None


class KorvaneAmplifier(Instrument):
    """A Korvane Amplifier as a PyMeasure instrument.

    ``adapter`` is an address as ``korvane.Amplifier`` takes it (``tcp://HOST[:PORT]``,
    ``serial:///dev/ttyACM0``) or a ``FrameAdapter``. Readings are measurements, settings
    controls validated with ``strict_discrete_set`` against the amplifier's steps. A setting
    is read back from Status after it is written (``check_errors``): ``SettingNotTaken``
    when Status does not show it. On the 700122A and 700136A ``rf`` cannot be set, and the
    700136A has no ``linearity``: ``Refused``, nothing sent.
    """

    def __init__(self, adapter, name="Korvane Amplifier", timeout=1.0, **kwargs):
        if isinstance(adapter, str):
            adapter = FrameAdapter(adapter, timeout)
        super().__init__(adapter, name, includeSCPI=False, **kwargs)
        self._identity = adapter.amplifier._identity
        self._last_setting = None

    @property
    def id(self):
        """The model number, such as "700136A"."""
        return protocol.decode_identity(self.ask(IDENTIFY).encode("latin-1")).model

    def write(self, command):
        """Sends a command line; a setting this model does not have is refused unsent."""
        setting, wire = _command_setting(command)
        if setting is not None:
            check_allowed(self._identity, setting)
        self._last_setting = (setting, wire, command) if setting else None
        super().write(command)

    def check_errors(self):
        """Reads Status after a setting; SettingNotTaken when it does not show it."""
        if self._last_setting is None:
            return []
        setting, wire, command = self._last_setting
        self._last_setting = None
        frame = self.ask(STATUS).encode("latin-1")
        if protocol.wire_settings(frame)[setting.index] != wire:
            got = getattr(protocol.decode_status(frame), setting.key)
            wanted = setting.unit_value(wire)
            raise SettingNotTaken(f"{setting.label} not taken: after '{command}' the amplifier"
                                  f" reports {setting.shown(got)}, not {setting.shown(wanted)}",
                                  wanted, got)
        return []

    def reset(self):
        """Clears a latched fault."""
        self.write("Reset")
        self.ask(STATUS)

    def calibrate(self, channel):
        """Runs the power calibration of channel "A", "B" or "C"."""
        self.write(f"Calibrate {channel_number(channel)}")
        self.ask(STATUS)

    def clear(self):
        """Nothing to clear: stale replies are dropped before each request anyway."""

    status_character = Instrument.measurement(
        MEAS, """The status character: "0" while no fault is latched.""",
        get_process=lambda values: values[0])
    fault = Instrument.measurement(
        MEAS, """Whether a fault is latched (RF is then off).""",
        get_process=lambda values: values[0] != "0")


def _add_properties():
    for reading in READINGS:
        setattr(KorvaneAmplifier, reading.key.rsplit("_", 1)[0], Instrument.measurement(
            MEAS, f"The {reading.label} in {reading.unit}; None when the reply's text was"
                  f" no number.",
            get_process=lambda values, i=reading.index: values[i]))
    for setting in SETTINGS:
        boolean = setting.type is bool
        setattr(KorvaneAmplifier, setting.name, Instrument.control(
            STATUS, setting.command.replace("{}", "%d"),
            f"The {setting.label}" + (" (True or False)." if boolean else
                                      f" in {setting.unit}: "
                                      f"{setting.range_text.split(' must be ')[1]}."),
            validator=_validator(setting), values=setting.values,
            get_process=lambda values, i=setting.index: values[i],
            set_process=setting.wire, check_set_errors=True))


_add_properties()
