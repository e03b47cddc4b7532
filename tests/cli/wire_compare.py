#!/usr/bin/env python3
"""Compares the program's --trace with the simulator's --wire-log, direction by direction.

    wire_compare.py TRACE WIRE_LOG [PORT]

What the program sent (tx) must be exactly what the unit received (rx). What the program received
must be one unbroken stretch of what the unit sent: the unit talks before the port is opened and
may still talk after it is closed, but nothing in between may be lost, added or reordered.
"""
import re
import sys


def unescape(text):
    return re.sub(rb"\\(r|n|x[0-9A-F]{2})",
                  lambda m: {b"r": b"\r", b"n": b"\n"}.get(m.group(1), None)
                  or bytes([int(m.group(1)[1:], 16)]), text)


def streams(path, port_field):
    out = {}
    with open(path, "rb") as f:
        for line in f:
            line = line.rstrip(b"\n")
            parts = line.split(b" ", 3 if port_field else 2)
            if port_field:
                if len(parts) < 4:
                    continue
                _, port, direction, data = parts
                if len(sys.argv) > 3 and port.decode() != sys.argv[3]:
                    continue
            else:
                if len(parts) < 3:
                    continue
                _, direction, data = parts
            if direction in (b"tx", b"rx"):
                out.setdefault(direction, bytearray()).extend(unescape(data))
    return out


trace = streams(sys.argv[1], True)
wire = streams(sys.argv[2], False)
sent, unit_received = bytes(trace.get(b"tx", b"")), bytes(wire.get(b"rx", b""))
received, unit_sent = bytes(trace.get(b"rx", b"")), bytes(wire.get(b"tx", b""))
ok = True
if sent != unit_received:
    print(f"sent {len(sent)} bytes, the unit received {len(unit_received)}: they differ")
    ok = False
if not received or unit_sent.find(received) < 0:
    print(f"received {len(received)} bytes: not one stretch of the {len(unit_sent)} the unit sent")
    ok = False
print(f"tx {len(sent)} bytes equal: {sent == unit_received}; rx {len(received)} of "
      f"{len(unit_sent)} bytes, in one stretch: {unit_sent.find(received) >= 0}")
sys.exit(0 if ok else 1)
