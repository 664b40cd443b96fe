"""korvane.pymeasure.KorvaneAmplifier against korvane-sim (skipped without PyMeasure)."""
import pytest

import korvane

pytest.importorskip("pymeasure", reason="PyMeasure is not installed (python3-pymeasure)")
import korvane.pymeasure as pymeasure  # noqa: E402
from conftest import wait_for  # noqa: E402


@pytest.fixture(params=["tcp", "serial"])
def instrument(request, sim):
    instrument = pymeasure.KorvaneAmplifier(getattr(sim, request.param))
    yield instrument
    instrument.adapter.amplifier.close()


def test_measurements(instrument):
    assert instrument.id == "700115A"
    assert 0 < instrument.power_a <= 6.5 and 15 < instrument.cell1_temp < 60
    assert 15 < instrument.driver_temp < 60
    assert instrument.status_character == "0" and instrument.fault is False


@pytest.mark.parametrize("name,value", [("gain_a", 0.0), ("gain_c", 31.5), ("max_power", 6.6),
                                        ("linearity", 100), ("max_driver_temp", 255),
                                        ("rf", False)])
def test_controls_set_and_read_back(instrument, name, value):
    setattr(instrument, name, value)
    assert getattr(instrument, name) == value


@pytest.mark.parametrize("name,value", [("gain_b", 12.3), ("gain_b", 32), ("max_power", 6.55),
                                        ("linearity", 0), ("max_cell_temp", 256.0),
                                        ("gain_a", True), ("rf", 2)])
def test_validators_refuse(instrument, name, value):
    with pytest.raises(korvane.OutOfRange, match=f"must be .*, not '{value}'"):
        setattr(instrument, name, value)


def test_setting_not_taken_and_reset(instrument):
    instrument.max_cell_temp = 0
    wait_for(lambda: instrument.fault)
    with pytest.raises(korvane.SettingNotTaken, match="rf not taken"):
        instrument.rf = True
    instrument.max_cell_temp = 255
    instrument.reset()
    instrument.calibrate("A")
    assert instrument.fault is False


@pytest.mark.parametrize("model", ["700122A", "700136A"])
def test_model_rules(fake, model):
    fake.model = model
    instrument = pymeasure.KorvaneAmplifier(fake.address)
    with pytest.raises(korvane.Refused):
        instrument.rf = False
    if model == "700136A":
        with pytest.raises(korvane.Refused):
            instrument.linearity = 50
    instrument.gain_a = 10.5
    assert fake.lines() == ["?", "SetGain 0 21", "Status"]


def test_unreadable_reading_is_none(fake):
    fake.replies["Meas"] = b"\0Meas, 0, 0253, 0248, 0301, 1x3, 118, 120\xff"
    instrument = pymeasure.KorvaneAmplifier(fake.address)
    assert instrument.power_a is None and instrument.power_b == 11.8
