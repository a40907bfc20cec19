#!/usr/bin/env python3
"""Writes the seed corpus of the two fuzz targets: one input per path the
targets' step languages can take, so that a short run starts from every
kind of answer and text rather than from nothing. Run it again after a
change to a target's input format."""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

ACTIVATE, DEACTIVATE, CHECK, TICK, RADIO, FILL, RESTART, FIELDS = range(8)
AT_ONCE, PENDING, REFUSED = 0, 1, 2
WAIT_FAILS, NO_EVENT, NO_DRIVER = 4, 8, 16


def answer(start=AT_ONCE, flags=0, count=0, writes=b""):
    return bytes([start | flags]) + struct.pack("<I", count) + bytes([len(writes)]) + writes


def code(value):
    return struct.pack("<H", value)


def entry(procedure, service, served, forwarded_to, size=54):
    body = bytes([procedure, service]) + served.ljust(26, b"\0")[:26] + forwarded_to.ljust(26, b"\0")[:26]
    return body.ljust(size, b"\0")[:size]


def step(op, *parts):
    return bytes([op]) + b"".join(parts)


driver_answers = {
    "activate_success": step(ACTIVATE, answer(count=53, writes=code(0))),
    "activate_pending_time_out": step(ACTIVATE, answer(PENDING, count=53, writes=code(0x3303))),
    "deactivate_refused": step(RADIO, b"\x01") + step(DEACTIVATE, answer(REFUSED)),
    "activate_wait_fails": step(ACTIVATE, answer(PENDING, WAIT_FAILS, 53, code(0))),
    "activate_no_event": step(ACTIVATE, answer(flags=NO_EVENT, count=53, writes=code(0))),
    "activate_no_driver": step(ACTIVATE, answer(flags=NO_DRIVER)),
    "activate_code_untouched": step(ACTIVATE, answer(count=0xFFFFFFFF)),
    "poll_entries_then_time_out": step(CHECK, answer(count=0))
    + step(TICK, answer(count=54, writes=entry(1, 1, b"821", b"739")))
    + step(TICK, answer(count=2, writes=entry(2, 38, b"821", b"5550100")))
    + step(TICK, answer(count=1)),
    "poll_unterminated_entry": step(CHECK, answer(count=60, writes=b"\x07\xff" + b"9" * 58))
    + step(TICK, answer(REFUSED)),
    "poll_pending_no_event": step(CHECK, answer(count=0))
    + step(TICK, answer(PENDING, count=54))
    + step(CHECK, answer(flags=NO_EVENT)),
    "poll_driver_gone": step(CHECK, answer(count=0))
    + step(TICK, answer(flags=NO_DRIVER))
    + step(TICK, answer(REFUSED)),
    "full_list_block": step(FILL, b"\x0f")
    + step(CHECK, answer(count=54, writes=entry(0, 3, b"821", b"739")))
    + step(ACTIVATE, answer(count=53, writes=code(0x00AB))),
    "missing_numbers_restart": step(FIELDS, b"\x01")
    + step(ACTIVATE, answer())
    + step(FIELDS, b"\x04")
    + step(DEACTIVATE, answer())
    + step(RESTART)
    + step(FIELDS, b"\x0e")
    + step(CHECK, answer(count=0)),
}


def text(value):
    return struct.pack("<H", len(value)) + value


def command(op, served, forwarded_to, answer_choice=None):
    out = bytes([op]) + text(served) + text(forwarded_to)
    if answer_choice is not None:
        out += bytes([answer_choice])
    return out


ENTRY, NOTHING_YET, FINISHED = 0, 1, 2
FILL_LIST = 4

field_texts = {
    "activate_short": command(0, b"821", b"739"),
    "deactivate_long": bytes([3, 1]) + command(1, b"1" * 30, b"2" * 40),
    "check_entry_then_finished": command(2, b"821", b"", ENTRY) + command(2, b"821", b"", FINISHED),
    "embedded_zero": command(0, b"82\x001", b"7\x0039") + command(2, b"\x00821", b"", ENTRY),
    "high_bytes": command(0, b"\xff" * 40, b"\x80\x81\x82") + command(2, b"\xfe" * 26, b"", NOTHING_YET),
    "empty_fields": command(0, b"", b"739") + command(1, b"821", b"") + command(2, b"", b"", ENTRY),
    "exactly_25": command(0, b"0123456789012345678901234", b"9876543210987654321098765")
    + command(2, b"0123456789012345678901234", b"", ENTRY),
    "full_list": bytes([FILL_LIST, 15]) + command(2, b"821", b"", ENTRY) + command(0, b"821", b"739"),
}


def write(target, seeds):
    # Both targets ignore inputs longer than FUZZ_INPUT_MAX.
    assert all(len(data) <= 256 for data in seeds.values())
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


write("driver_answers", driver_answers)
write("field_texts", field_texts)
sys.exit(0)
