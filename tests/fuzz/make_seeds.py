#!/usr/bin/env python3
"""Writes the seed corpus of the upgrade fuzzer: a few runs that mean something (a whole upload,
an early "Done", a hang-up, No, Exit, chatter and floods, odd images), in the input layout that
upgrade_fuzzer.cpp decodes. Run it again after changing that layout:
    python3 tests/fuzz/make_seeds.py tests/fuzz/corpus
"""
import pathlib
import sys

# Header fields.
REACTIVE = 0x01  # the scripted unit answers every send on its own
PROMPT_CRLF = 0x08


def header(unit_port=3, port_map=0, behaviour=0, done_after=0, silent_after=0, version=0,
           tail=0, image=(0,), unit_busy=False):
    unit = (unit_port - 1) | (0x80 if unit_busy else 0)
    return bytes([unit, (port_map >> 16) & 0xFF, (port_map >> 8) & 0xFF, port_map & 0xFF,
                  behaviour, done_after, silent_after, version, tail]) + bytes(image)


# Operations.
BUTTON = {"exit": 0, "yes": 1, "no": 2, "ok": 3}
TOKEN = {"ident": 0, "VKT5": 1, "crlf": 2, "cr": 3, "lf": 4, "star": 5, "star_crlf": 6,
         "choice": 7, "erased": 8, "done": 9, "version": 10, "lower_version": 11, "nul": 12,
         "stars": 13, "ident_space": 14, "done_bare": 15, "choice_bare": 16, "two_lines": 17,
         "flood": 18, "long_line": 19}


def ticks(n):
    out = b""
    while n > 0:
        step = min(n, 64)
        out += bytes([0, step - 1])
        n -= step
    return out


def raw(data, delay=0):
    assert len(data) < 64 and delay < 4
    return bytes([1, (delay << 6) | len(data)]) + data


def token(name):
    return bytes([2, TOKEN[name]])


def press(name):
    return bytes([3, BUTTON[name]])


def wait_press(name):
    return bytes([6, BUTTON[name]])


def timer(timer_id):
    return bytes([7, timer_id >> 8, timer_id & 0xFF])


def close():
    return bytes([9])


def fail_nth(op, n, status):
    """op: PortOp (5 Send), status: PortStatus (3 IncompleteTransfer)."""
    return bytes([10, op, n - 1, status - 1])


def hang_up(after):
    return bytes([11, (after << 2) | 0])


def line_error(after):
    return bytes([11, (after << 2) | 1])


def by_hand_exchange(lines, split=False):
    """The unit played token by token on COM1, the image the fixed three-line one."""
    out = ticks(1) + token("ident") + ticks(36)  # opened on tick 1, checked on tick 37
    out += ticks(2)  # drain, then the dialogue starts
    out += token("ident") + ticks(2)  # accepted, then "Y"
    out += token("version") + ticks(1)
    out += press("yes") + ticks(1)  # "Y"
    if split:
        out += raw(b"E or") + ticks(1) + raw(b" P?\r") + ticks(1) + raw(b"\n") + ticks(2)
    else:
        out += token("choice") + ticks(2)  # "E"
    out += token("erased") + ticks(2)  # "Y"
    out += token("choice") + ticks(2)  # "P"
    for _ in range(lines):
        out += token("star") + ticks(2)
    return out + press("ok")


SEEDS = {
    "happy_short": header(behaviour=REACTIVE) + wait_press("yes") + wait_press("ok"),
    "happy_carried": header(behaviour=REACTIVE | 0x10, image=(5,)) + wait_press("yes")
    + wait_press("ok") + wait_press("ok"),
    "happy_by_hand": header(unit_port=1) + by_hand_exchange(3),
    "happy_split_lines": header(unit_port=1) + by_hand_exchange(3, split=True),
    "happy_crlf_prompt_odd_image": header(behaviour=REACTIVE | PROMPT_CRLF, image=(7, 4))
    + wait_press("yes") + wait_press("ok"),
    "done_early": header(behaviour=REACTIVE, done_after=2, image=(4, 7)) + wait_press("yes")
    + ticks(200) + close(),
    "silent_mid_upload": header(behaviour=REACTIVE, silent_after=3, image=(4, 9))
    + wait_press("yes") + ticks(120) + close(),
    "hang_up_mid_upload": header(behaviour=REACTIVE, image=(4, 15)) + wait_press("yes")
    + ticks(14) + hang_up(1) + ticks(64) + close(),
    "send_fails_mid_upload": header(behaviour=REACTIVE, image=(4, 12))
    + fail_nth(5, 9, 3) + wait_press("yes") + ticks(100) + close(),
    "answer_no": header(behaviour=REACTIVE, version=5) + wait_press("no"),
    "exit_while_reading_version": header(unit_port=2) + ticks(2) + token("ident") + ticks(36)
    + ticks(2) + token("ident") + ticks(3) + press("exit"),
    "busy_ports_and_chatter": header(unit_port=7, port_map=0b11_10_01_11_10_11, behaviour=REACTIVE)
    + wait_press("yes") + wait_press("ok"),
    "noise_and_flood": header(unit_port=5, port_map=0xFFFFFF)
    + ticks(149) + raw(b"\x00\x00VKT5\rVKT5\n\r\x00") + ticks(10) + token("flood") + ticks(10)
    + token("ident") + ticks(16) + ticks(4) + token("two_lines") + token("flood") + ticks(10)
    + raw(b"*\x00*", 2) + token("nul") + ticks(5) + line_error(2) + ticks(30) + timer(0xBEEF)
    + press("exit"),
    "ident_split_across_check": header(unit_port=1) + ticks(1) + raw(b"VKT5\r") + ticks(36) + raw(b"\n")
    + ticks(40) + close(),
    "empty_image": header(behaviour=REACTIVE, image=(7, 0)) + wait_press("yes"),
    "image_beyond_table": header(behaviour=REACTIVE, image=(6, 1)) + wait_press("yes")
    + ticks(200) + close(),
}


def main():
    folder = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "corpus")
    folder.mkdir(parents=True, exist_ok=True)
    for name, data in SEEDS.items():
        (folder / name).write_bytes(data)


if __name__ == "__main__":
    main()
