#!/usr/bin/env python3
"""Drives the QX5200 as a SCPI instrument with PyVISA: identity, a pulse uploaded as a table
block, its figures checked, a run polled to its end, the temperature and the error queue.

Usage: pyvisa_pulse.py [RESOURCE]
RESOURCE defaults to TCPIP::127.0.0.1::5025::SOCKET (qx5200-ctl serve). With
--serve PROGRAM, the script first starts `PROGRAM --simulate serve --listen 127.0.0.1:0` and
talks to the port it reports (this is how the test runs it).

Run it with the interpreter that sees Debian's python3-pyvisa and python3-pyvisa-py:
/usr/bin/python3.
"""
import json
import re
import subprocess
import sys
import time

import pyvisa

PULSE = "t\tv\n0\t0\n100e-6\t0\n101e-6\t0.5\n2e-3\t0.5\n2.001e-3\t0\n3e-3\t0\n"


def block(text):
    data = text.encode()
    return f"#{len(str(len(data)))}{len(data)}".encode() + data


def check_errors(inst):
    """Every queued error, oldest first; the script ends on the first one."""
    while True:
        code, text = inst.query("SYST:ERR?").split(",", 1)
        if int(code) == 0:
            return
        sys.exit(f"SCPI error {code}: {text}")


def main(resource):
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(resource, read_termination="\n", write_termination="\n", timeout=10000)
    print(inst.query("*IDN?"))
    inst.write("*RST;*CLS")

    inst.write_raw(b"SOUR:WAV:FORM TABL;SEP TAB;DATA " + block(PULSE) + b";REP 2\n")
    check_errors(inst)
    result = json.loads(inst.query("WAV:VAL?"))
    stats = result["statistics"]
    if result["data_error"]:
        sys.exit(f"waveform refused: {result['error']}")
    print(f"{result['data_count']} points, {stats['sampled_data_count']} device points, "
          f"pulse average {stats['pulse_average']:.4g}, P2t {stats['p2t']:.4g} WWs")
    if not 0.45 < stats["pulse_average"] < 0.55:
        sys.exit(f"unexpected pulse average {stats['pulse_average']}")

    inst.write("OUTP ON")
    check_errors(inst)
    deadline = time.monotonic() + 30
    while inst.query("OUTP:COND?") == "RUNNING":
        if time.monotonic() > deadline:
            inst.write("OUTP OFF")
            sys.exit("the run did not end")
        time.sleep(0.01)
    print("run ended; temperature", inst.query("MEAS:TEMP?"), "C, sensor", inst.query("MEAS:SENS?"))
    print(inst.query("SYST:ERR?"))
    check_errors(inst)
    inst.close()


if __name__ == "__main__":
    args = sys.argv[1:]
    if args[:1] == ["--serve"]:
        server = subprocess.Popen([args[1], "--simulate", "serve", "--listen", "127.0.0.1:0"],
                                  stdout=subprocess.PIPE, text=True)
        try:
            line = server.stdout.readline()
            found = re.search(r" on 127\.0\.0\.1:(\d+) ", line)
            if not found:
                sys.exit(f"serve did not start: {line!r}")
            main(f"TCPIP::127.0.0.1::{found.group(1)}::SOCKET")
        finally:
            server.terminate()
            server.wait(30)
    else:
        main(args[0] if args else "TCPIP::127.0.0.1::5025::SOCKET")
