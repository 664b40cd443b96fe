"""Replies no amplifier should send: a clear exception or None, never a wrong number, and
nothing sent but what was asked."""
import pytest

import korvane
from conftest import MEAS_FRAME, frame

GOOD = {"power_a_w": 12.3, "power_b_w": 11.8, "power_c_w": 12.0, "cell1_temp_c": 25.3,
        "cell2_temp_c": 24.8, "driver_temp_c": 30.1}


@pytest.mark.parametrize("reply,unreadable", [
    (MEAS_FRAME, []),
    (b"xx\r\n\0\0junk\xff\0" + MEAS_FRAME, []),                     # junk and NUL bytes
    (b"\0Meas, 0, 02" + MEAS_FRAME, []),                            # a frame cut by a NUL
    (frame("Status, 065") + b"\xff\xff" + MEAS_FRAME, []),          # another reply first
    (frame("Meas, 0, 02a3, 0248, 0301, 123, 118, 120"), ["cell1_temp_c"]),
    (frame("Meas, 0, 0253, -nan, 0301, 123, 118, 120"), ["cell2_temp_c"]),
    (frame("Meas, 0, 0253, 0248, 0301, 12, 118, 120"), ["power_a_w"]),
    (frame("Meas, 0, 0253, 0248, 0301, 123, 1-8, 120"), ["power_b_w"]),
    (frame("Meas, 0, 0253, 0248, 030100, 123, 118, 120"), ["driver_temp_c"]),
    (frame("Meas, 0, 0253, 0248, 0301, 123, 118, 1e2"), ["power_c_w"]),
])
def test_unreadable_readings_are_none(fake, reply, unreadable):
    fake.replies["Meas"] = reply
    with korvane.Amplifier(fake.address, timeout=0.3) as amplifier:
        reading = amplifier.measure()
    for key, value in GOOD.items():
        assert getattr(reading, key) == (None if key in unreadable else value), key
    assert fake.lines() == ["?", "Meas"]


@pytest.mark.parametrize("reply,error", [
    (frame("Meas, 0, 0253, 0248, 0301, 123, 118, 1"), "incomplete reply to 'Meas': 6 of 7"),
    (frame("Meas, 0, 0253"), "incomplete reply to 'Meas': 2 of 7"),
    (frame("Meas"), "no reply"),                                    # no fields: no answer
    (frame("Meas, 0, 0253, 0248, 0301, 123, 118\0, 120"), "no reply"),  # a NUL restarts
    (MEAS_FRAME[:-1], "no reply to 'Meas'"),                        # no closing 0xFF
    (b"Meas, 0, 0253, 0248, 0301, 123, 118, 120\xff", "no reply"),  # no opening NUL
    (b"\0" + b"7" * 2000 + MEAS_FRAME[1:], "no reply"),            # framing lost
])
def test_cut_replies_raise(fake, reply, error):
    fake.replies["Meas"] = reply
    with korvane.Amplifier(fake.address, timeout=0.3) as amplifier:
        with pytest.raises(korvane.NoReply, match=error):
            amplifier.measure()
    assert fake.lines() == ["?", "Meas"]


def test_bad_identification(fake):
    fake.replies["?"] = frame("?\r\n")
    with pytest.raises(korvane.BadReply, match="no model number"):
        korvane.Amplifier(fake.address, timeout=0.3)


@pytest.mark.parametrize("status,reported", [
    (frame("Status, 065, 055, 060, 1, 010, 021, 021, 021"), "10.5 dB"),
    (frame("Status, 065, 055, 060, 1, 010, 0x1, 021, 021"), "an unreadable value"),
    (frame("Status, 065, 055, 060, 1"), "no readable Status"),
])
def test_setting_read_back_wrong(fake, status, reported):
    with korvane.Amplifier(fake.address, timeout=0.3) as amplifier:
        fake.replies["Status"] = status
        with pytest.raises(korvane.SettingNotTaken, match=f"gain A not taken: after 'SetGain 0"
                                                          f" 25' .*{reported}"):
            amplifier.gain_a = 12.5
    assert fake.lines() == ["?", "SetGain 0 25", "Status"]


def test_stale_replies_are_discarded(fake):
    with korvane.Amplifier(fake.address, timeout=0.3) as amplifier:
        fake.replies["Status"] = STALE = frame("Meas, 0, 0999, 0999, 0999, 999, 999, 999")
        fake.replies["Status"] += STALE
        with pytest.raises(korvane.NoReply):
            amplifier.status()
        assert amplifier.measure().power_a_w == 12.3
