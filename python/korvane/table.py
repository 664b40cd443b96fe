"""The amplifier's readings and settings in one table: names, units, wire scales, ranges.

Everything else in the package (the result types, the properties of ``Amplifier``, the
range checks and their messages, the PyMeasure and Tango attributes) is made from these
two tuples, so that a value has one name, one unit and one range everywhere. The names
are those of ``korvane-ctl status --json`` and ``meas --json``.
"""
import math
from dataclasses import dataclass
from typing import Optional

from .errors import OutOfRange

#: Readings and settings travel in tenths, half-dB steps, percent or whole degrees.
READING_SCALE = 10

@dataclass(frozen=True)
class Model:
    """One model of the amplifier and what it can do."""

    number: str           #: as the identification reply gives it: "700115A"
    rf_by_command: bool   #: RF switches by command; else it is on while no fault is latched
    has_linearity: bool   #: the 700136A's linearity is fixed


#: The models, as the panel, korvane-ctl and the simulator know them (protocol/models.h).
MODELS = (
    Model("700115A", True, True),
    Model("700122A", False, True),
    Model("700136A", False, False),
)

# The digits that tell the models apart; the letter after them is a revision.
_MODEL_DIGITS = 6

# Decimal text such as "12.3" is no exact binary number: this much off a step still counts.
_STEP_TOLERANCE = 1e-6


@dataclass(frozen=True)
class Reading:
    """One reading of the measurement reply."""

    key: str        #: the field of ``Measurement``, as ``korvane-ctl meas --json`` names it
    label: str      #: for people: "power A"
    unit: str       #: "W" or "°C"
    index: int      #: where the Meas reply carries it, after the status character (1...6)
    limit: Optional[str] = None  #: the setting it is held against (temperatures only)
    tango: str = ""  #: the Tango attribute


@dataclass(frozen=True)
class Setting:
    """One setting of the Status reply, with the command that changes it."""

    name: str       #: the property of ``Amplifier``: "gain_a"
    key: str        #: the field of ``Status``, as ``korvane-ctl status --json`` names it
    label: str      #: for people, and in error messages: "gain A"
    unit: str       #: "W", "°C", "%", "dB"; empty for the RF switch
    index: int      #: where the Status reply carries it (0...7)
    command: str    #: the command line, with {} for the value in wire units
    scale: int = 1  #: wire units per unit
    low: float = 0
    high: float = 0
    step: float = 1
    tango: str = ""  #: the Tango attribute

    @property
    def type(self):
        """The Python type of the value: bool for the RF switch, float or int."""
        if self.name == "rf":
            return bool
        return int if self.step == 1 else float

    @property
    def range_text(self):
        """What the setting takes, in korvane-ctl's words (which name all gains "gain")."""
        what = "gain" if self.name.startswith("gain_") else self.label
        if self.type is bool:
            return f"{what} must be on or off"
        if self.type is int:
            return (f"{what} must be a whole number from {self.low:g} to {self.high:g}"
                    f" {self.unit}")
        if self.step * 10 == 1:
            return (f"{what} must be {self.low:g} to {self.high:.1f} {self.unit} with at"
                    f" most one decimal")
        return (f"{what} must be {self.low:g} to {self.high:g} {self.unit} in steps of"
                f" {self.step:g}")

    @property
    def values(self):
        """Every value the setting takes, in its unit, lowest first."""
        if self.type is bool:
            return [False, True]
        count = round((self.high - self.low) / self.step)
        return [self.type(round((self.low + i * self.step) * self.scale) / self.scale)
                for i in range(count + 1)]

    def wire(self, value):
        """The value as the command carries it (an int); OutOfRange, in korvane-ctl's words,
        for one the amplifier does not take."""
        if self.type is bool:
            words = {"on": 1, "off": 0}
            if isinstance(value, str) and value.strip().lower() in words:
                return words[value.strip().lower()]
            if isinstance(value, (bool, int)) and value in (0, 1):
                return int(value)
            raise OutOfRange(f"{self.range_text}, not '{value}'")
        number = None
        if not isinstance(value, bool):
            try:
                number = float(value.strip() if isinstance(value, str) else value)
            except (TypeError, ValueError):
                pass
        if number is None or not math.isfinite(number):
            raise OutOfRange(f"{self.range_text}, not '{value}'")
        steps = round(number / self.step)
        if (abs(number / self.step - steps) > _STEP_TOLERANCE
                or not round(self.low / self.step) <= steps <= round(self.high / self.step)):
            raise OutOfRange(f"{self.range_text}, not '{value}'")
        return round(steps * self.step * self.scale)

    def unit_value(self, wire):
        """A wire value in the setting's unit and type."""
        if self.type is bool:
            return wire != 0
        return self.type(wire / self.scale) if self.scale != 1 else self.type(wire)

    def shown(self, value):
        """A value for a message: "12.5 dB", "on"."""
        if value is None:
            return "an unreadable value"
        if self.type is bool:
            return "on" if value else "off"
        text = f"{value:.1f}" if self.type is float else f"{value:g}"
        return f"{text} {self.unit}"


#: The six readings in the order korvane-ctl lists them: powers, then temperatures.
READINGS = (
    Reading("power_a_w", "power A", "W", 4, tango="PowerA"),
    Reading("power_b_w", "power B", "W", 5, tango="PowerB"),
    Reading("power_c_w", "power C", "W", 6, tango="PowerC"),
    Reading("cell1_temp_c", "cell 1 temp", "°C", 1, "max_cell_temp", "Cell1Temperature"),
    Reading("cell2_temp_c", "cell 2 temp", "°C", 2, "max_cell_temp", "Cell2Temperature"),
    Reading("driver_temp_c", "driver temp", "°C", 3, "max_driver_temp", "DriverTemperature"),
)

#: The eight settings in the order of the Status reply.
SETTINGS = (
    Setting("max_power", "max_power_w", "max power", "W", 0, "SetMaxP {}", 10, 0, 50.0, 0.1,
            "MaxPower"),
    Setting("max_cell_temp", "max_cell_temp_c", "max cell temp", "°C", 1, "SetMaxCellT {}",
            1, 0, 255, 1, "MaxCellTemperature"),
    Setting("max_driver_temp", "max_driver_temp_c", "max driver temp", "°C", 2,
            "SetMaxDrvT {}", 1, 0, 255, 1, "MaxDriverTemperature"),
    Setting("rf", "rf_on", "rf", "", 3, "SetRF {}", tango="RF"),
    Setting("linearity", "linearity_pct", "linearity", "%", 4, "SetLin {}", 1, 1, 100, 1,
            "Linearity"),
    Setting("gain_a", "gain_a_db", "gain A", "dB", 5, "SetGain 0 {}", 2, 0, 31.5, 0.5, "GainA"),
    Setting("gain_b", "gain_b_db", "gain B", "dB", 6, "SetGain 1 {}", 2, 0, 31.5, 0.5, "GainB"),
    Setting("gain_c", "gain_c_db", "gain C", "dB", 7, "SetGain 2 {}", 2, 0, 31.5, 0.5, "GainC"),
)

SETTING = {setting.name: setting for setting in SETTINGS}
READING = {reading.key: reading for reading in READINGS}

#: Channels as calibrate() takes them, and as the commands carry them.
CHANNELS = ("A", "B", "C")


def channel_number(channel):
    """0, 1 or 2 for channel "A", "B" or "C" (either case); OutOfRange for any other."""
    name = channel.strip().upper() if isinstance(channel, str) else None
    if name not in CHANNELS:
        raise OutOfRange(f"channel must be A, B or C, not '{channel}'")
    return CHANNELS.index(name)


def find_model(model):
    """The ``Model`` a model text names by its six digits, or None for one not known."""
    for known in MODELS:
        if model.startswith(known.number[:_MODEL_DIGITS]):
            return known
    return None


def rf_switchable(model):
    """Whether this model switches RF by command (else RF is on while no fault is latched).
    A model not known is taken as most are: RF follows its fault state."""
    known = find_model(model)
    return known is not None and known.rf_by_command


def has_linearity(model):
    """Whether this model has a linearity setting; a model not known is taken to have one."""
    known = find_model(model)
    return known is None or known.has_linearity
