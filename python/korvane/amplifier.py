"""The Korvane Amplifier driver: ``Amplifier``."""
import threading
import time

from . import protocol
from .errors import BadReply, LinkError, ModelChanged, NoReply, Refused, SettingNotTaken
from .link import open_link
from .protocol import IDENTIFY, MEAS, STATUS
from .table import SETTINGS, channel_number

DEFAULT_TIMEOUT = 1.0


class Amplifier:
    """A Korvane Amplifier over TCP or a serial port.

    ``Amplifier("tcp://192.0.2.10:2101")`` (port 2101 by default; a korvane-agent's address
    works the same way) or ``Amplifier("serial:///dev/ttyACM0")``. The link is opened and the
    amplifier asked for its model at once; ``LinkError`` or ``NoReply`` says why when that
    fails. Each reply is waited for ``timeout`` seconds. Use it as a context manager, or
    call ``close()``.

    Settings are properties: reading one asks Status; setting one checks the value first
    (``OutOfRange``, nothing sent), sends it, then reads Status back and raises
    ``SettingNotTaken`` when Status does not show it. A link that was lost is opened again
    by the next call; if another model answers then, it raises ``ModelChanged``.

    One request and its reply at a time: an instance may be shared between threads.
    """

    def __init__(self, address, timeout=DEFAULT_TIMEOUT):
        self.address = address
        self.timeout = timeout
        self._lock = threading.RLock()
        self._link = None
        self._reader = protocol.FrameReader()
        self._identity = None
        self._open()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        model = self._identity.model if self._identity else "?"
        return f"<korvane.Amplifier {model} at {self.address}>"

    def close(self):
        """Closes the link; a later call opens it again."""
        with self._lock:
            if self._link is not None:
                self._link.close()
                self._link = None

    @property
    def model(self):
        """The model number that answered when the link was first opened, such as "700136A"."""
        return self._identity.model

    # --- Questions ------------------------------------------------------------------

    def identify(self):
        """Asks the amplifier what it is: an ``Identity``. ``ModelChanged`` when another
        model answers than at connect."""
        with self._lock:
            return self._check_model(protocol.decode_identity(self._ask(IDENTIFY)))

    def status(self):
        """The eight settings: a ``Status``."""
        return protocol.decode_status(self._ask(STATUS))

    def measure(self):
        """One reading: a ``Measurement`` of powers, temperatures and the fault state."""
        return protocol.decode_measurement(self._ask(MEAS))

    # --- Commands -------------------------------------------------------------------

    def set(self, name, value):
        """Sets a setting by its property's name ("gain_a", "rf", ...), as the property does;
        returns the ``Status`` read back."""
        setting = _setting(name)
        wire = setting.wire(value)
        check_allowed(self._identity, setting)
        line = setting.command.format(wire)
        with self._lock:
            try:
                frame = self._ask(STATUS, before=line)
                reported = protocol.wire_settings(frame)[setting.index]
                status = protocol.decode_status(frame)
            except BadReply as error:
                raise SettingNotTaken(f"{setting.label} not taken: after '{line}' the amplifier"
                                      f" sent no readable Status ({error})",
                                      setting.unit_value(wire)) from error
        if reported != wire:
            wanted = setting.unit_value(wire)
            got = getattr(status, setting.key)
            raise SettingNotTaken(f"{setting.label} not taken: after '{line}' the amplifier"
                                  f" reports {setting.shown(got)}, not {setting.shown(wanted)}",
                                  wanted, got)
        return status

    def calibrate(self, channel):
        """Runs the power calibration of channel "A", "B" or "C"; returns once the amplifier
        answered the Status asked after it."""
        line = f"Calibrate {channel_number(channel)}"
        protocol.decode_status(self._ask(STATUS, before=line))

    def reset(self):
        """Clears a latched fault (and on the 700122A and 700136A switches RF on again);
        returns the ``Status`` read after it."""
        return protocol.decode_status(self._ask(STATUS, before="Reset"))

    # --- The link -------------------------------------------------------------------

    def _open(self):
        """Opens the link and asks the model; the first model is the one kept."""
        self._link = open_link(self.address, self.timeout)
        self._reader.clear()
        try:
            identity = protocol.decode_identity(self._exchange(IDENTIFY))
            self._check_model(identity)
        except Exception:
            self.close()
            raise

    def _check_model(self, identity):
        if self._identity is None:
            self._identity = identity
        elif identity.model != self._identity.model:
            self.close()
            raise ModelChanged(f"{self.address} now answers as model {identity.model}, not "
                               f"{self._identity.model} as at first")
        return identity

    def _ask(self, question, before=None):
        """Sends the line ``before`` (if any) and the question; returns the reply's frame."""
        with self._lock:
            if self._link is None:
                self._open()
            return self._exchange(question, before)

    def _exchange(self, question, before=None):
        self._send(([before] if before else []) + [question])
        return self._receive(question)

    def _send(self, lines):
        """Drops what the link holds (replies left unread by an earlier client), then sends
        the lines. Called with the lock held."""
        if self._link is None:
            self._open()
        try:
            self._link.discard()
            self._reader.clear()
            self._link.write("".join(line + "\r\n" for line in lines).encode("ascii"))
        except LinkError:
            self.close()
            raise

    def _receive(self, question=None):
        """The next frame that answers the question (any question: None) within the
        timeout; frames that answer another are skipped. Called with the lock held."""
        if self._link is None:
            raise LinkError(f"the link to {self.address} is closed: ask a question first")
        deadline = time.monotonic() + self.timeout
        try:
            while True:
                data = self._link.read(deadline)
                if not data and time.monotonic() >= deadline:
                    raise NoReply(f"no reply to '{question or 'the last question'}' from "
                                  f"{self.address} within {self.timeout * 1000:g} ms")
                for frame in self._reader.feed(data):
                    kind = protocol.kind_of(frame)
                    if kind is not None and question in (kind, None):
                        return frame
        except LinkError:
            self.close()
            raise


def check_allowed(identity, setting):
    """Refused when the model of this identity has no such setting."""
    if setting.name == "rf" and not identity.rf_switchable:
        raise Refused(f"the {identity.model}'s RF follows its fault state: it is on while no"
                      f" fault is latched and cannot be switched by command")
    if setting.name == "linearity" and not identity.has_linearity:
        raise Refused(f"the {identity.model} has no linearity setting: its linearity is fixed")


def _setting(name):
    for setting in SETTINGS:
        if setting.name == name:
            return setting
    raise AttributeError(f"no setting '{name}'; settings: "
                         + ", ".join(s.name for s in SETTINGS))


def _property(setting):
    def fget(self):
        return getattr(self.status(), setting.key)

    def fset(self, value):
        self.set(setting.name, value)

    if setting.type is bool:
        doc = ("Whether the RF output is on. Settable on the 700115A only (True, False, "
               "\"on\" or \"off\"); on the others RF is on while no fault is latched, and "
               "setting it raises Refused.")
    else:
        allowed = setting.range_text.split(" must be ", 1)[1]
        doc = (f"The {setting.label} in {setting.unit}: {allowed}. Read from Status; a value"
               f" set is read back.")
        if setting.name == "linearity":
            doc += " The 700136A has none: setting it raises Refused."
    return property(fget, fset, doc=doc)


for _s in SETTINGS:
    setattr(Amplifier, _s.name, _property(_s))
del _s
