"""The amplifier's framing and replies: frames out of a byte stream, and what they say.

Replies are frames: a NUL byte, the text, then 0xFF. A NUL starts a frame afresh; bytes
outside a frame (junk on the line) are dropped. The identification reply holds a CR LF of
its own, which is why replies are read as frames and never as lines.
"""
import dataclasses
from typing import ClassVar, Optional

from .errors import BadReply
from .table import READINGS, SETTINGS, has_linearity, rf_switchable

START = 0x00
END = 0xFF
#: Real frames are under 100 bytes; a longer one is a device that lost its framing.
MAX_FRAME = 1024

IDENTIFY, STATUS, MEAS = "?", "Status", "Meas"
_WIDTHS = {STATUS: (3, 3, 3, 1, 3, 3, 3, 3), MEAS: (1, 4, 4, 4, 3, 3, 3)}
_MODEL_OFFSET = 3
_MODEL_LENGTH = 16


class FrameReader:
    """Gathers bytes into frames: ``feed()`` returns the frames they completed, each
    without its NUL and 0xFF. A frame cut off by a new NUL, an overlong one and bytes between
    frames are dropped."""

    def __init__(self):
        self._frame = None  # None: between frames

    def clear(self):
        """Forgets a frame begun: the next one starts with the next NUL."""
        self._frame = None

    def feed(self, data):
        """Takes received bytes; returns the list of frames they completed."""
        frames = []
        for byte in data:
            if byte == START:
                self._frame = bytearray()
            elif self._frame is None:
                continue
            elif byte == END:
                frames.append(bytes(self._frame))
                self._frame = None
            elif len(self._frame) >= MAX_FRAME:
                self._frame = None
            else:
                self._frame.append(byte)
        return frames


def kind_of(frame):
    """Which question a frame answers: "?", "Status", "Meas", or None for no question."""
    if frame.startswith(b"?\r\n"):
        return IDENTIFY
    for kind in (STATUS, MEAS):
        if frame.startswith(kind.encode() + b","):
            return kind
    return None


def _fields(frame, widths):
    """The fields after the keyword, as bytes, and how many the frame holds. A field starts
    two bytes after a comma (the comma and a blank) and is its full width, followed by
    blanks and the next comma or the frame's end; a field not so written gives None. A
    field cut short by the frame's end is missing: the count stops before it."""
    fields = []
    comma = frame.find(b",")
    while 0 <= comma < len(frame) - 1 and len(fields) < len(widths):
        width = widths[len(fields)]
        start = comma + 2
        field = frame[start:start + width]
        after = frame[start + width:].lstrip(b" ")
        if frame[comma + 1:start] != b" ":
            fields.append(None)
            comma = frame.find(b",", comma + 1)
        elif len(field) < width and not after:
            break
        elif len(field) == width and (not after or after.startswith(b",")):
            fields.append(field)
            comma = len(frame) - len(after) if after else -1
        else:
            fields.append(None)
            comma = frame.find(b",", start)
    return fields, len(fields)


def _number(field):
    """A field's integer, or None unless it is an optional minus sign and digits."""
    if field is None:
        return None
    digits = field[1:] if field.startswith(b"-") else field
    return int(field) if digits and digits.isdigit() and digits.isascii() else None


def _text(data):
    """Bytes as text for people: printable ASCII as it is, anything else escaped."""
    return "".join(chr(b) if 0x20 <= b < 0x7F else f"\\x{b:02x}" for b in data)


@dataclasses.dataclass(frozen=True)
class Identity:
    """What the amplifier says it is, and what that means for its settings."""

    model: str
    """The model number, such as "700136A"."""

    @property
    def rf_switchable(self):
        """Whether RF is switched by command (700115A); on the others it is on exactly
        while no fault is latched."""
        return rf_switchable(self.model)

    @property
    def has_linearity(self):
        """Whether the linearity can be set (all but the 700136A)."""
        return has_linearity(self.model)


def _result_type(name, doc, fields, extra=()):
    """A frozen dataclass with a docstring that lists each field with its unit."""
    lines = [doc, "", "Fields:", ""]
    for key, unit, type_, text in fields:
        lines.append(f"- ``{key}``: {text}" + (f", in {unit}" if unit else ""))
    for key, _, _, text in extra:
        lines.append(f"- ``{key}``: {text}")
    cls = dataclasses.make_dataclass(
        name, [(key, type_) for key, _, type_, _ in (*fields, *extra)]
        + [("units", ClassVar[dict], dataclasses.field(default={}))],
        frozen=True, namespace={"__module__": "korvane"})
    cls.units = {key: unit for key, unit, _, _ in fields}
    cls.__doc__ = "\n".join(lines)
    return cls


Status = _result_type(
    "Status",
    "The amplifier's eight settings, as its Status reply reports them. A setting whose"
    " text was no number is None.",
    [(s.key, s.unit, Optional[s.type],
      "whether the RF output is on" if s.type is bool else s.label) for s in SETTINGS])

Measurement = _result_type(
    "Measurement",
    "One reading of the amplifier: three output powers, three temperatures and the status"
    " character. A reading whose text was no number is None, never 0.",
    [(r.key, r.unit, Optional[float], r.label) for r in READINGS],
    [("status", "", str, 'the status character: "0" while no fault is latched; any other'
      " names the fault"),
     ("fault", "", bool, "whether a fault is latched (RF is then off)")])


def decode_identity(frame):
    """The Identity in a "?" reply; BadReply when it holds no model number."""
    model = frame[_MODEL_OFFSET:_MODEL_OFFSET + _MODEL_LENGTH]
    for stop in (b"\0", b"\r", b"\n"):
        model = model.split(stop, 1)[0]
    if not model:
        raise BadReply(f"the reply to '?' holds no model number: '{_text(frame)}'")
    return Identity(model.decode("utf-8", "backslashreplace"))


def decode_status(frame):
    """The Status in a Status reply; BadReply when fields are missing."""
    fields, count = _fields(frame, _WIDTHS[STATUS])
    if count < len(SETTINGS):
        raise BadReply(f"incomplete reply to 'Status': {count} of {len(SETTINGS)} fields")
    values = {}
    for setting in SETTINGS:
        field = fields[setting.index]
        if setting.type is bool:
            values[setting.key] = None if field is None else field != b"0"
        else:
            number = _number(field)
            values[setting.key] = None if number is None else setting.unit_value(number)
    return Status(**values)


def decode_measurement(frame):
    """The Measurement in a Meas reply; BadReply when fields are missing."""
    fields, count = _fields(frame, _WIDTHS[MEAS])
    if count < len(READINGS) + 1:
        raise BadReply(f"incomplete reply to 'Meas': {count} of {len(READINGS) + 1} fields")
    if fields[0] is None:
        raise BadReply(f"the reply to 'Meas' holds no status character: '{_text(frame)}'")
    values = {}
    for reading in READINGS:
        number = _number(fields[reading.index])
        values[reading.key] = None if number is None else number / 10
    status = fields[0].decode("latin-1")
    return Measurement(**values, status=status, fault=status != "0")


def wire_settings(frame):
    """The Status reply's settings as the integers on the wire (None where unreadable),
    in the order of the reply, for comparing with what a command sent."""
    fields, count = _fields(frame, _WIDTHS[STATUS])
    if count < len(SETTINGS):
        raise BadReply(f"incomplete reply to 'Status': {count} of {len(SETTINGS)} fields")
    return [(None if f is None else int(f != b"0")) if s.type is bool else _number(f)
            for s, f in zip(SETTINGS, fields)]
