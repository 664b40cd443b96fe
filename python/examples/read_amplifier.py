#!/usr/bin/python3
"""Reads a Korvane Amplifier and sets channel A's gain, with the korvane package.

    python3 read_amplifier.py tcp://192.0.2.10:2101 [GAIN_DB]
    python3 read_amplifier.py serial:///dev/ttyACM0

Prints the model, the settings and three readings a second apart.
"""
import sys
import time

import korvane


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    try:
        with korvane.Amplifier(sys.argv[1]) as amplifier:
            print("model", amplifier.identify().model)
            if len(sys.argv) > 2:
                amplifier.gain_a = sys.argv[2]     # checked, sent, read back
            status = amplifier.status()
            print(f"gain A {status.gain_a_db} dB, max power {status.max_power_w} W, "
                  f"RF {'on' if status.rf_on else 'off'}")
            for _ in range(3):
                reading = amplifier.measure()
                print(f"power A {reading.power_a_w} W, cell 1 {reading.cell1_temp_c} °C, "
                      f"{'fault ' + reading.status if reading.fault else 'no fault'}")
                time.sleep(1)
    except korvane.Error as error:
        sys.exit(f"{sys.argv[1]}: {error}")


if __name__ == "__main__":
    main()
