"""korvane.tango.KorvaneAmplifier in a DeviceTestContext (no Tango database) against
korvane-sim; skipped without PyTango."""
import ctypes
import os
import signal

import pytest

pytest.importorskip("tango", reason="PyTango is not installed (python3-tango)")
import tango  # noqa: E402
from tango.test_context import DeviceTestContext  # noqa: E402

from conftest import wait_for  # noqa: E402
from korvane.tango import KorvaneAmplifier  # noqa: E402

# The device server runs in a process forked for each test: it ends with this one.
os.register_at_fork(after_in_child=lambda: ctypes.CDLL(None).prctl(1, signal.SIGTERM))


@pytest.fixture
def device():
    """device(address): a proxy to a KorvaneAmplifier served on loopback for the test."""
    contexts = []

    def serve(address):
        context = DeviceTestContext(KorvaneAmplifier, properties={"Address": address},
                                    host="127.0.0.1", process=True, timeout=10)
        contexts.append(context)
        return context.__enter__()

    yield serve
    for context in contexts:
        context.__exit__(None, None, None)


def error_text(call):
    with pytest.raises(tango.DevFailed) as caught:
        call()
    return caught.value.args[0].desc


def test_reads_writes_and_follows_faults(sim, device):
    proxy = device(sim.tcp)
    assert proxy.state() == tango.DevState.ON
    assert 0 < proxy.PowerA <= 6.5 and 15 < proxy.DriverTemperature < 60
    config = proxy.get_attribute_config("Cell1Temperature")
    assert (config.unit, config.alarms.max_alarm, config.alarms.max_warning) == \
        ("°C", "55.05", "50.05")
    for name, value in [("GainA", 0.0), ("GainB", 31.5), ("MaxPower", 50.0), ("Linearity", 1),
                        ("MaxDriverTemperature", 255), ("RF", False), ("RF", True)]:
        proxy.write_attribute(name, value)
        assert proxy.read_attribute(name).value == value
    assert "gain must be 0 to 31.5 dB in steps of 0.5, not '12.3'" in \
        error_text(lambda: proxy.write_attribute("GainC", 12.3))
    assert "above the maximum" in error_text(lambda: proxy.write_attribute("MaxPower", 50.1))
    assert "channel must be A, B or C" in error_text(lambda: proxy.Calibrate("D"))

    proxy.MaxCellTemperature = 0
    wait_for(lambda: proxy.state() == tango.DevState.FAULT)
    assert "Fault '1' is latched" in proxy.status()
    assert proxy.read_attribute("Cell1Temperature").quality == tango.AttrQuality.ATTR_ALARM
    assert proxy.get_attribute_config("Cell1Temperature").alarms.max_alarm == "0.05"
    assert "rf not taken" in error_text(lambda: proxy.write_attribute("RF", True))
    proxy.MaxCellTemperature = 255
    proxy.Reset()
    proxy.Calibrate("a")
    assert proxy.state() == tango.DevState.ON

    sim.stop()
    assert proxy.state() == tango.DevState.UNKNOWN
    assert "does not answer" in proxy.status()


def test_model_rules(start_sim, device):
    proxy = device(start_sim("--model", "700136A").serial)
    assert "has no linearity setting" in error_text(lambda: proxy.write_attribute("Linearity", 5))
    assert "follows its fault state" in error_text(lambda: proxy.write_attribute("RF", True))
    assert proxy.RF is True and proxy.state() == tango.DevState.ON


def test_unreadable_reading_is_invalid(fake, device):
    fake.replies["Meas"] = b"\0Meas, 0, 0253, 0248, 0301, 1x3, 118, 120\xff"
    proxy = device(fake.address)
    assert proxy.read_attribute("PowerA").quality == tango.AttrQuality.ATTR_INVALID
    assert proxy.PowerB == 11.8


def test_unreachable_amplifier_is_unknown(device):
    proxy = device("tcp://127.0.0.1:9")
    assert proxy.state() == tango.DevState.UNKNOWN
    assert "cannot connect to 127.0.0.1:9" in proxy.status()
