"""korvane.Amplifier against korvane-sim over TCP, its pseudo-terminal and korvane-agent."""
import threading
import time

import pytest

import korvane
from conftest import wait_for


def test_reads_typed_values(address):
    with korvane.Amplifier(address) as amplifier:
        assert amplifier.identify() == korvane.Identity("700115A")
        assert amplifier.status() == korvane.Status(
            max_power_w=6.5, max_cell_temp_c=55, max_driver_temp_c=60, rf_on=True,
            linearity_pct=10, gain_a_db=10.5, gain_b_db=10.5, gain_c_db=10.5)
        reading = amplifier.measure()
        assert reading.status == "0" and reading.fault is False
        assert 0 < reading.power_a_w <= 6.5 and 15 < reading.cell1_temp_c < 60
        assert korvane.Measurement.units["cell1_temp_c"] == "°C"


EDGES = [(name, value, value) for name, values in [
    ("gain_a", (0.0, 31.5)), ("gain_b", (0.0, 31.5)), ("gain_c", (0.0, 31.5)),
    ("max_power", (0.0, 50.0, 6.6)), ("linearity", (1, 100)), ("max_cell_temp", (0, 255)),
    ("max_driver_temp", (0, 255)), ("rf", (False, True))] for value in values] + [
    ("gain_c", "12.5", 12.5), ("max_power", 7, 7.0), ("rf", "off", False)]


@pytest.mark.parametrize("name,value,expected", EDGES)
def test_takes_range_edges(address, name, value, expected):
    with korvane.Amplifier(address) as amplifier:
        setattr(amplifier, name, value)
        assert getattr(amplifier, name) == expected
        assert type(getattr(amplifier, name)) is type(expected)


BAD = [("gain_a", -0.5), ("gain_b", 32), ("gain_c", 12.3), ("gain_a", 0.25),
       ("gain_a", float("nan")), ("gain_a", True), ("gain_a", "loud"), ("max_power", -0.1),
       ("max_power", 50.1), ("max_power", 6.55), ("linearity", 0), ("linearity", 101),
       ("linearity", 5.5), ("max_cell_temp", -1), ("max_cell_temp", 256),
       ("max_cell_temp", 40.5), ("max_driver_temp", -1), ("max_driver_temp", 256),
       ("max_driver_temp", 0.5), ("rf", "maybe"), ("rf", 2)]


@pytest.mark.parametrize("name,value", BAD)
def test_refuses_values_out_of_range_sending_nothing(fake, name, value):
    with korvane.Amplifier(fake.address) as amplifier:
        with pytest.raises(korvane.OutOfRange, match=f"must be .*, not '{value}'"):
            setattr(amplifier, name, value)
        with pytest.raises(korvane.OutOfRange, match="channel must be A, B or C, not 'D'"):
            amplifier.calibrate("D")
    assert fake.lines() == ["?"]


@pytest.mark.parametrize("model,name,value", [("700122A", "rf", False),
                                              ("700136A", "rf", True),
                                              ("700136A", "linearity", 50)])
def test_model_rules_refuse_sending_nothing(fake, model, name, value):
    fake.model = model
    with korvane.Amplifier(fake.address) as amplifier:
        with pytest.raises(korvane.Refused, match=model):
            setattr(amplifier, name, value)
    assert fake.lines() == ["?"]


def test_setting_not_taken_while_a_fault_is_latched(sim):
    with korvane.Amplifier(sim.tcp) as amplifier:
        amplifier.max_cell_temp = 0        # below the ambient: the cells are over it at once
        wait_for(lambda: amplifier.measure().fault)
        assert amplifier.measure().status == "1" and amplifier.rf is False
        with pytest.raises(korvane.SettingNotTaken, match="rf not taken: .* reports off, "
                                                          "not on") as caught:
            amplifier.rf = True
        assert (caught.value.wanted, caught.value.reported) == (True, False)
        amplifier.max_cell_temp = 255
        assert amplifier.reset().rf_on is False   # the 700115A's RF stays as it was
        assert amplifier.measure().fault is False
        amplifier.calibrate("c")


def test_another_model_at_reconnect_is_an_error(fake):
    with korvane.Amplifier(fake.address) as amplifier:
        fake.model = "700136A"
        with pytest.raises(korvane.ModelChanged, match="700136A, not 700115A"):
            amplifier.identify()
        fake.model, fake.hang_up = "700115A", True
        with pytest.raises(korvane.LinkError):
            amplifier.measure()
        fake.model = "700122A"
        with pytest.raises(korvane.ModelChanged):
            amplifier.measure()
        assert fake.connections == 3


@pytest.mark.parametrize("link", ["tcp", "serial"])
def test_reply_timeout(start_sim, link):
    sim = start_sim("--mute-after", "1")
    amplifier = korvane.Amplifier(getattr(sim, link), timeout=0.2)
    started = time.monotonic()
    with pytest.raises(korvane.NoReply, match="no reply to 'Meas' .* within 200 ms"):
        amplifier.measure()
    assert 0.2 <= time.monotonic() - started < 2
    slow = start_sim("--delay", "500")
    with pytest.raises(korvane.NoReply):
        korvane.Amplifier(getattr(slow, link), timeout=0.1)
    assert korvane.Amplifier(getattr(slow, link), timeout=2).measure().status == "0"


def test_dropped_link_is_reopened(start_sim):
    sim = start_sim("--drop-after", "2", "--burst", "5")
    with korvane.Amplifier(sim.tcp) as amplifier:
        amplifier.measure()
        with pytest.raises(korvane.LinkError, match="lost"):
            amplifier.measure()
        assert amplifier.measure().status == "0"


def test_link_lost_mid_reply(fake):
    with korvane.Amplifier(fake.address) as amplifier:
        fake.replies["Meas"], fake.hang_up = b"\0Meas, 0, 0253, 02", True
        with pytest.raises(korvane.LinkError, match="link to .* lost"):
            amplifier.measure()


@pytest.mark.parametrize("options", [["--junk"], ["--burst", "3"], ["--junk", "--baud", "9600"]])
def test_junk_and_split_replies(start_sim, options):
    sim = start_sim(*options)
    for address in (sim.tcp, sim.serial):
        with korvane.Amplifier(address) as amplifier:
            amplifier.gain_b = 3
            assert amplifier.status().gain_b_db == 3.0
            assert amplifier.measure().fault is False


def test_cannot_open():
    with pytest.raises(korvane.LinkError, match="cannot connect to 127.0.0.1:9"):
        korvane.Amplifier("tcp://127.0.0.1:9")
    with pytest.raises(korvane.LinkError, match="cannot open /nonexistent"):
        korvane.Amplifier("serial:///nonexistent/tty")
    with pytest.raises(korvane.LinkError, match="tcp://HOST"):
        korvane.Amplifier("127.0.0.1:2101")


def test_threads_share_one_amplifier(address):
    amplifier = korvane.Amplifier(address)
    errors = []

    def work(channel):
        try:
            for step in range(20):
                setattr(amplifier, f"gain_{channel}", step / 2)
                assert amplifier.measure().status == "0"
                assert amplifier.identify().model == "700115A"
        except Exception as error:  # noqa: BLE001 - reported below
            errors.append(error)

    threads = [threading.Thread(target=work, args=(c,)) for c in "abc" * 2]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(60)
    assert not errors
    amplifier.close()
