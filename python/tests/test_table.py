"""The package's table agrees with the C++ one (protocol/fields.cpp) and with what
korvane-ctl prints and refuses."""
import json
import re
import subprocess
from dataclasses import asdict

import pytest

import korvane
from conftest import SOURCE, program

CPP_UNITS = {"Watts": "W", "Degrees": "°C", '"%"': "%", '"dB"': "dB", '""': ""}
CPP_SCALES = {"Command::PowerLimitScale": 10, "Command::GainScale": 2, "1": 1}


def cpp_entries(kind):
    """The initialisers of the C++ table's Readings or Settings, as lists of tokens."""
    text = (SOURCE / "protocol" / "fields.cpp").read_text()
    return [[token.strip() for token in body.split(",")]
            for body in re.findall(r"\{(" + kind + r"::\w+,[^{}]*)\}", text)]


def test_readings_agree_with_fields_cpp():
    cpp = cpp_entries("MeasField")
    assert [(CPP_UNITS[e[1]], e[2].strip('"'), e[6].strip('"')) for e in cpp] == \
        [(r.unit, r.label, r.key) for r in korvane.READINGS]


def test_settings_agree_with_fields_cpp():
    cpp = cpp_entries("StatusField")
    assert [(CPP_SCALES[e[1]], CPP_UNITS[e[3]], e[4].strip('"'), e[5].strip('"')) for e in cpp] \
        == [(s.scale, s.unit, s.label, s.key) for s in korvane.SETTINGS]


def test_models_agree_with_models_h():
    text = (SOURCE / "protocol" / "models.h").read_text()
    cpp = re.findall(r'\{"(\w+)", (true|false), (true|false)\}', text)
    assert [(number, rf == "true", linearity == "true") for number, rf, linearity in cpp] == \
        [(m.number, m.rf_by_command, m.has_linearity) for m in korvane.table.MODELS]


def ctl(sim, *arguments):
    return subprocess.run([program("korvane-ctl"), "--host", "127.0.0.1", "--port",
                           str(sim.port), *arguments], capture_output=True, text=True, timeout=30)


def test_values_agree_with_korvane_ctl(sim):
    with korvane.Amplifier(sim.tcp) as amplifier:
        amplifier.gain_c, amplifier.max_power, amplifier.linearity = 7.5, 12.3, 42
        assert json.loads(ctl(sim, "status", "--json").stdout) == asdict(amplifier.status())
        ours, theirs = asdict(amplifier.measure()), json.loads(ctl(sim, "meas", "--json").stdout)
    assert ours.keys() == theirs.keys()
    for key, value in theirs.items():
        assert ours[key] == pytest.approx(value, abs=0.3), key


@pytest.mark.parametrize("name,value", [("gain_b", "12.3"), ("max_power", "6.55"),
                                        ("linearity", "0"), ("max_cell_temp", "256"),
                                        ("max_driver_temp", "1.5"), ("rf", "maybe")])
def test_range_errors_in_korvane_ctl_words(sim, name, value):
    words = name.replace("_", "-").split("-")
    arguments = ["gain", words[1].upper()] if words[0] == "gain" else ["-".join(words)]
    refused = ctl(sim, "set", *arguments, value)
    assert refused.returncode == 2
    with pytest.raises(korvane.OutOfRange) as caught:
        korvane.SETTINGS[[s.name for s in korvane.SETTINGS].index(name)].wire(value)
    assert f"korvane-ctl: {caught.value}\n" in refused.stderr


def test_public_names_have_docstrings():
    import importlib
    import inspect
    missing = []
    for module in ("korvane", "korvane.amplifier", "korvane.errors", "korvane.link",
                   "korvane.protocol", "korvane.table", "korvane.server"):
        module = importlib.import_module(module)
        for name, value in vars(module).items():
            if name.startswith("_") or not (inspect.isclass(value) or inspect.isfunction(value)):
                continue
            members = [value, *(m for n, m in vars(value).items() if not n.startswith("_")
                                and (inspect.isfunction(m) or isinstance(m, property)))] \
                if inspect.isclass(value) else [value]
            missing += [f"{module.__name__}.{name}" for m in members if not m.__doc__]
    assert not missing
