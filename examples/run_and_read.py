#!/usr/bin/env python3
"""Runs a waveform on the QX5200 and reports the board and the sensor, through qx5200-ctl --json.

Usage: run_and_read.py WAVEFORM
QX5200_CTL names the program (default qx5200-ctl); QX5200_CTL_OPTIONS adds options to every
call, e.g. "--simulate" or "--device /dev/hidraw3".
"""
import json
import os
import shlex
import subprocess
import sys

CTL = shlex.split(os.environ.get("QX5200_CTL", "qx5200-ctl")) + shlex.split(
    os.environ.get("QX5200_CTL_OPTIONS", ""))


def ctl(*args):
    """One qx5200-ctl call; its JSON output, or the script ends with qx5200-ctl's status."""
    p = subprocess.run(CTL + ["--json", *args], capture_output=True, text=True, check=False)
    if p.returncode != 0:
        print(f"qx5200-ctl {' '.join(args)}: {p.stderr.strip()}", file=sys.stderr)
        sys.exit(p.returncode)
    return [json.loads(line) for line in p.stdout.splitlines()]


def main():
    status = ctl("status")[0]
    board = status["board"]
    print(f"QX5200 {status['serial']} (firmware {status['firmware']}), load board {board['name']}, "
          f"up to {board['max_value']} {board['units']}")
    run = ctl("run", "--wait", "--timeout", "60", sys.argv[1])[0]
    print(f"ran {run['data_count']} points as {run['buffer_count']} words; "
          f"average power {run['statistics']['average_power']:.3g} W")
    rows = ctl("log", "--duration", "0.3", "--interval", "100")
    mean = sum(r["sensor_value"] for r in rows) / len(rows)
    print(f"sensor {mean:.3f} {rows[0]['sensor_units']} over {len(rows)} readings, "
          f"{rows[-1]['temperature']:.1f} C")
    if run["ended"] is not True or any(r["over_temperature"] for r in rows):
        sys.exit(1)


if __name__ == "__main__":
    main()
