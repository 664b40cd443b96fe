#!/usr/bin/python3
"""The Korvane Amplifier from PyVISA with the pyvisa-py backend (python3-pyvisa-py).

    python3 pyvisa_example.py HOST [PORT]

HOST and PORT are the amplifier's (TCP port 2101) or a korvane-agent's.
"""
import sys

import pyvisa


def open_amplifier(host, port=2101, timeout_ms=2000):
    """A VISA resource for the amplifier at HOST:PORT, set up for its framing."""
    manager = pyvisa.ResourceManager("@py")
    return manager.open_resource(
        f"TCPIP::{host}::{port}::SOCKET",
        encoding="latin-1",       # replies end in 0xFF, which is no UTF-8
        read_termination="\xff",  # ...and the identification holds a CR LF of its own
        write_termination="\r\n",
        timeout=timeout_ms,
    )


def ask(amplifier, question):
    """Asks "?", "Status" or "Meas"; the reply without its opening NUL and closing 0xFF."""
    return amplifier.query(question).lstrip("\x00")


def fields(reply):
    """The fields after the reply's keyword: 'Meas, 0, 0253' gives ['0', '0253']."""
    return [field.strip() for field in reply.split(",")[1:]]


def model(amplifier):
    """The model number, from the identification reply '?\\r\\n700136A'."""
    return ask(amplifier, "?").split("\r\n", 1)[-1]


def set_gain(amplifier, channel, db):
    """Sets a channel's gain (0 = A); a setting gets no reply, so it is write(), not query()."""
    amplifier.write(f"SetGain {channel} {round(db * 2)}")


def settings(amplifier):
    """The eight settings in their units."""
    f = fields(ask(amplifier, "Status"))
    return {
        "power_limit_w": int(f[0]) / 10,
        "cell_limit_c": int(f[1]),
        "driver_limit_c": int(f[2]),
        "rf_enabled": f[3] != "0",
        "linearity_pct": int(f[4]),
        "gain_a_db": int(f[5]) / 2,
        "gain_b_db": int(f[6]) / 2,
        "gain_c_db": int(f[7]) / 2,
    }


def readings(amplifier):
    """The status character and the six readings in their units."""
    f = fields(ask(amplifier, "Meas"))
    values = [int(value) / 10 for value in f[1:7]]
    names = ["cell1_c", "cell2_c", "driver_c", "power_a_w", "power_b_w", "power_c_w"]
    return {"status": f[0], **dict(zip(names, values))}


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    amplifier = open_amplifier(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 2101)
    print("model", model(amplifier))
    print("settings", settings(amplifier))
    print("readings", readings(amplifier))
    amplifier.close()


if __name__ == "__main__":
    main()
