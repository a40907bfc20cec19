"""Activate and Deactivate: the complaints, the bytes the driver receives and
every outcome line."""

from e2e_harness import (ACTIVATE, BANNER, BUSY, CHECK, DEACTIVATE, FORWARDED_TO, IMMEDIATELY,
                         IOCTL_CF_SET, NEED_FORWARDED_TO, NEED_SERVED, NO_REPLY, RADIOS, SERVED,
                         STATUS_LIST, becomes, check, check_equal, request_bytes, scenario, sets_of)

CONDITIONS = [(IMMEDIATELY, 0, "Immediately"), (BUSY, 1, "Busy"), (NO_REPLY, 2, "No Reply")]


def last_set(s):
    requests = sets_of(s.received())
    check(requests, "no set-forwarding request reached the driver")
    return requests[-1]


def check_request(request, control, served, forwarded_to, what):
    check_equal((request.code, request.in_length, request.out_capacity),
                (IOCTL_CF_SET, 53, 53), f"{what}: control code and buffer sizes")
    check_equal(request.data.hex(), request_bytes(control, served, forwarded_to).hex(),
                f"{what}: the 53 bytes the driver received")


@scenario("forwarding")
def missing_numbers_are_complained_about(s):
    s.reset_driver()
    s.start()
    expected = [BANNER]
    # served, forwarded-to, command, complaint
    cases = [
        ("", "", ACTIVATE, NEED_SERVED),
        ("", "", DEACTIVATE, NEED_SERVED),
        ("", "739", ACTIVATE, NEED_SERVED),
        ("", "739", DEACTIVATE, NEED_SERVED),
        ("821", "", ACTIVATE, NEED_FORWARDED_TO),
        ("821", "", DEACTIVATE, NEED_FORWARDED_TO),
        ("", "739", CHECK, NEED_SERVED),
    ]
    for served, forwarded_to, command, complaint in cases:
        s.probe("set", SERVED, served, "set", FORWARDED_TO, forwarded_to, "click", command)
        expected.append(complaint)
        check_equal(s.lines(), expected,
                    f"status after command {command} with fields {served!r}/{forwarded_to!r}")
    # The driver was opened once per command and asked nothing; the poll
    # that found no number armed no timer.
    stats = s.probe("sleep", 1200, "drv-stats").stats()
    check_equal(stats["totalOpens"], len(cases), "driver opens, one per command")
    check_equal(s.probe("drv-received").received_total(), 0, "requests received")
    check_equal(s.lines(), expected, "status 1.2 s after the last command")
    s.close("cancel")


@scenario("forwarding")
def each_condition_activates_and_deactivates(s):
    s.reset_driver()
    s.start()
    s.probe("set", SERVED, "821", "set", FORWARDED_TO, "739")
    expected = [BANNER]
    # No condition chosen since start: "Immediately", control byte 0x00.
    s.probe("click", ACTIVATE)
    expected.append("Activation is successful")
    check_request(last_set(s), 0x00, "821", "739", "activation before any choice")
    for radio, procedure, name in CONDITIONS:
        out = s.probe("click", radio, "check", IMMEDIATELY, "check", BUSY, "check", NO_REPLY)
        check_equal(out.all("check"), [f"{r} {1 if r == radio else 0}" for r in RADIOS],
                    f"radio states after choosing {name}")
        # Choosing logs nothing and sends nothing.
        check_equal(s.lines(), expected, f"status after choosing {name}")
        total = s.probe("drv-received").received_total()

        out = s.probe("click", ACTIVATE, "drv-forwardings")
        expected.append("Activation is successful")
        check_request(last_set(s), procedure, "821", "739", f"activation {name}")
        check(f"{procedure} 0 821 739" in out.all("forwarding"),
              f"forwarding {name} not in force after activation: {out.all('forwarding')}")

        out = s.probe("click", DEACTIVATE, "drv-forwardings")
        expected.append("Deactivation is successful")
        check_request(last_set(s), 0x80 | procedure, "821", "739", f"deactivation {name}")
        check(all(not f.startswith(f"{procedure} ") for f in out.all("forwarding")),
              f"forwarding {name} still in force after deactivation: {out.all('forwarding')}")
        check_equal(s.probe("drv-received").received_total(), total + 2,
                    f"requests for {name}: one per command")
        check_equal(s.lines(), expected, f"status after {name}")
    # The direction follows the button, whatever was pressed before.
    s.probe("click", BUSY, "click", DEACTIVATE)
    check_request(last_set(s), 0x81, "821", "739", "deactivation of Busy, nothing active")
    s.probe("click", ACTIVATE)
    check_request(last_set(s), 0x01, "821", "739", "activation right after a deactivation")
    expected += ["Deactivation is failed (3a03)", "Activation is successful"]
    check_equal(s.lines(), expected, "status at the end")
    s.close("cancel")


@scenario("forwarding")
def every_outcome_text(s):
    # Pended requests (the network answers after 400 ms): the dialog waits
    # for each before it answers the click.
    s.reset_driver(delay=400, timeout=900, unreachable="999")
    s.start()
    expected = [BANNER]
    steps = [
        ("821", "739", ACTIVATE, "Activation is successful"),
        ("821", "739", DEACTIVATE, "Deactivation is successful"),
        ("821", "739", DEACTIVATE, "Deactivation is failed (3a03)"),  # nothing to deactivate
        ("999", "739", ACTIVATE, "Activation is time out"),
        ("999", "739", DEACTIVATE, "Deactivation is time out"),
        # The field takes only digits from the keyboard, but a message can
        # put anything there: the network rejects it with its own code.
        ("82a", "739", ACTIVATE, "Activation is failed (3a01)"),
    ]
    for served, forwarded_to, command, line in steps:
        out = s.probe("set", SERVED, served, "set", FORWARDED_TO, forwarded_to, "click", command)
        expected.append(line)
        busy_ms = int(out.one("clicked").split()[1])
        check(busy_ms >= 300, f"{line!r}: the dialog answered after {busy_ms} ms, before the network")
        control = 0x80 if command == DEACTIVATE else 0x00
        check_request(last_set(s), control, served, forwarded_to, line)
        check_equal(s.lines(), expected, f"status after {line!r}")
    stats = s.stats()
    check_equal((stats["setPended"], stats["setCompleted"]), (len(steps), len(steps)),
                "pended and completed set-forwarding requests")

    # Answered at once (no network delay): the same texts, never waited for.
    s.probe("drv-config", "delay", 0, "drv-config", "timeout", 0)
    for served, command, line in (("821", ACTIVATE, "Activation is successful"),
                                  ("999", DEACTIVATE, "Deactivation is time out"),
                                  ("822", DEACTIVATE, "Deactivation is failed (3a03)")):
        s.probe("set", SERVED, served, "set", FORWARDED_TO, "739", "click", command)
        expected.append(line)
        check_request(last_set(s), 0x80 if command == DEACTIVATE else 0x00, served, "739", line)
    check_equal(s.lines(), expected, "status after requests answered at once")
    check_equal(s.stats()["setPended"], len(steps), "requests pended (none more)")

    # Refused at once: while the driver's queue is full it turns requests
    # away before they reach the network.
    s.probe("drv-config", "delay", 60000)
    out = s.probe("set", SERVED, "821", "drv-fill", "click", ACTIVATE, "click", DEACTIVATE,
                  "drv-release")
    check(out.one("filled").split()[0] != "0", "the probe could not fill the driver's queue")
    expected += ["Activation is failed", "Deactivation is failed"]
    check_equal(s.lines(), expected, "status after requests refused at once")

    # Pended, then ended by the driver with an error: nothing is copied back
    # into the buffer, so there is no code to show, only "failed".
    s.reset_driver(delay=400, failset=1)
    for command, line in ((ACTIVATE, "Activation is failed"),
                          (DEACTIVATE, "Deactivation is failed")):
        out = s.probe("set", SERVED, "821", "set", FORWARDED_TO, "739", "click", command)
        expected.append(line)
        busy_ms = int(out.one("clicked").split()[1])
        check(busy_ms >= 300, f"{line!r} after an error: the dialog answered after {busy_ms} ms")
        check_request(last_set(s), 0x80 if command == DEACTIVATE else 0x00, "821", "739", line)
        check_equal(s.lines(), expected, f"status after {line!r} ended with an error")
    check_equal(s.stats()["setPended"], 2, "requests pended, then ended with an error")
    # The dialog goes on working.
    s.reset_driver(delay=400)
    s.probe("click", ACTIVATE)
    expected.append("Activation is successful")
    check_equal(s.lines(), expected, "status after the requests that ended with an error")

    # A mouse click on Deactivate, held 6 s: the list is repainted meanwhile,
    # and what another program sends (a click, a condition, a tick, Cancel)
    # is answered at once and never run, nor are the user's clicks and keys.
    at = s.centres()
    s.probe("drv-config", "delay", 6000)
    received = s.probe("drv-received").received_total()
    s.xdo("mousemove", *at[DEACTIVATE], "click", 1)
    becomes(lambda: s.stats()["setPendingNow"], 1, "Deactivate's request held")
    out = s.probe("repaint", STATUS_LIST, 1500, "click", ACTIVATE,
                  "click", BUSY, "timer", 1, "command", 2, 0, "check", BUSY, "count", "drv-stats")
    check_equal(out.stats()["setPendingNow"], 1, "requests held after the checks")
    answered = [int(v.split()[-1]) for k in ("clicked", "timed", "commanded") for v in out.all(k)]
    check(len(answered) == 4 and max(answered) < 1500, f"answers while held took {answered} ms")
    check_equal((out.one("check"), out.one("count")), (f"{BUSY} 0", str(len(expected))),
                "Busy and the status lines while held")
    s.xdo("mousemove", *at[ACTIVATE], "click", "--repeat", 2, 1, "mousemove", *at[DEACTIVATE],
          "click", 1, "mousemove", *at[NO_REPLY], "click", 1, "mousemove", *at[SERVED], "click", 1,
          "type", "555")
    expected.append("Deactivation is successful")
    out = s.probe("drv-stats", "cursor", "until", expected[-1], 10000, "sleep", 1000, "lines",
                  "drv-received", "check", NO_REPLY, "check", IMMEDIATELY, "text", SERVED, "focus",
                  "drv-config", "delay", 4000, wait_s=11)
    check_equal((out.stats()["setPendingNow"], out.one("cursor"), out.status_lines(),
                 out.received_total(), out.all("check"), out.one("text"), out.one("focus")),
                (1, "wait", expected, received + 1, [f"{NO_REPLY} 0", f"{IMMEDIATELY} 1"],
                 f"{SERVED} 821", str(BUSY)),
                "held and cursor after the clicks and keys, then status, requests, conditions, "
                "field, focus (where the other program's click put it)")
    # Deactivate, held down when another program's Activate starts a hold, lets
    # go when the button is released; the click that completes is refused.
    s.xdo("mousemove", *at[DEACTIVATE], "mousedown", 1)
    s.probe_in_thread("command", ACTIVATE, 0, wait_s=5)
    def deactivate_and_held():
        out = s.probe("check", DEACTIVATE, "drv-stats")
        return out.one("check"), out.stats()["setPendingNow"]
    becomes(deactivate_and_held, (f"{DEACTIVATE} 4", 1), "Deactivate down during the hold")
    s.xdo("mouseup", 1)
    s.join_threads()
    expected.append("Activation is successful")
    out = s.probe("until", expected[-1], 10000, "check", DEACTIVATE, "drv-received", wait_s=10)
    check_equal((out.one("check"), out.received_total()), (f"{DEACTIVATE} 0", received + 2),
                "Deactivate let go after the hold, and the requests: none more")
    # A right click and the menu key on a number field during a hold open no
    # context menu, then or once the request has ended, and change nothing.
    s.xdo("mousemove", *at[SERVED], "click", 1)
    s.probe_in_thread("command", ACTIVATE, 0, wait_s=5)
    becomes(lambda: s.stats()["setPendingNow"], 1, "a hold for the right click")
    s.xdo("click", 3, "key", "Menu")
    s.join_threads()
    expected.append("Activation is successful")
    out = s.probe("until", expected[-1], 10000, "menus", "sleep", 500, "menus", "text", SERVED,
                  "drv-received", wait_s=10)
    check_equal((out.all("menus"), out.one("text"), out.received_total()),
                (["0", "0"], f"{SERVED} 821", received + 3), "context menus, field, requests")
    # A close during a hold ends the dialog once the request is done, even when
    # a drag of the title bar runs a loop of its own meanwhile.
    x, y = map(int, s.probe("closebox").one("closebox").split())
    s.xdo("mousemove", *at[ACTIVATE], "click", 1, "sleep", 0.3, "mousemove", x, y, "click", 1,
          "mousemove", x - 150, y, "mousedown", 1, "mousemove", x - 100, y + 60, "mouseup", 1)
    check_equal((s.wait_exit(20), s.stats()["setCompleted"], s.stats()["openHandles"]), (0, 5, 0),
                "exit code, requests completed and handles left, a close and a drag during a hold")


@scenario("forwarding")
def long_numbers_are_sent_whole_or_cut_at_25(s):
    s.reset_driver(delay=0)
    s.start()
    digits25 = "1234567890123456789012345"
    digits30 = "987654321098765432109876543210"
    shown = s.probe("set", SERVED, digits25, "set", FORWARDED_TO, digits30, "text", FORWARDED_TO,
                    "click", ACTIVATE).one("text")
    request = last_set(s)
    check_request(request, 0x00, digits25, digits30[:25], "25 and 30 digits")
    check_equal(request.data[26], 0, "terminator of a 25-digit served user number at byte 26")
    check_equal(request.data[52], 0, "terminator of the cut forwarded-to number at byte 52")
    # 30 digits whose first 25 are the number activated: the deactivation
    # reaches that forwarding only if the number is cut where it should be.
    served30 = digits25 + "99999"
    s.probe("set", SERVED, served30, "set", FORWARDED_TO, digits25, "click", DEACTIVATE)
    check_request(last_set(s), 0x80, digits25, digits25, "30 and 25 digits")
    check_equal(shown, f"{FORWARDED_TO} {digits30[:25]}", "a field another program set to 30")
    check_equal(s.lines(), [BANNER, "Activation is successful", "Deactivation is successful"],
                "status")
    s.close("cancel")


@scenario("forwarding")
def notifications_change_nothing_and_command_1023_selects_code_3(s):
    s.reset_driver(delay=0)
    s.start()
    s.probe("set", SERVED, "821", "set", FORWARDED_TO, "739", "click", BUSY)
    EN_CHANGE, EN_UPDATE, LBN_SELCHANGE, LBN_DBLCLK = 0x300, 0x400, 1, 2
    out = s.probe("command", SERVED, EN_CHANGE, "command", FORWARDED_TO, EN_UPDATE,
                  "command", 1005, LBN_SELCHANGE, "command", 1005, LBN_DBLCLK,
                  "command", 1040, 0, "drv-received", "drv-stats",
                  "check", IMMEDIATELY, "check", BUSY, "check", NO_REPLY,
                  "text", SERVED, "text", FORWARDED_TO, "lines")
    check_equal(out.status_lines(), [BANNER], "status after notifications")
    check_equal((out.received_total(), out.stats()["totalOpens"]), (0, 0),
                "requests and driver opens after notifications")
    check_equal(out.all("check"), [f"{IMMEDIATELY} 0", f"{BUSY} 1", f"{NO_REPLY} 0"],
                "radio states after notifications")
    check_equal(out.all("text"), [f"{SERVED} 821", f"{FORWARDED_TO} 739"], "fields after notifications")
    # The condition chosen before is still the one sent.
    s.probe("click", ACTIVATE)
    check_request(last_set(s), 0x01, "821", "739", "activation after notifications")
    # Command 1023 belongs to the range of conditions though no button has
    # it: every radio button goes out and the request carries code 3, which
    # the network refuses.
    out = s.probe("command", 1023, 0, "check", IMMEDIATELY, "check", BUSY, "check", NO_REPLY,
                  "click", ACTIVATE)
    check_equal(out.all("check"), [f"{IMMEDIATELY} 0", f"{BUSY} 0", f"{NO_REPLY} 0"],
                "radio states after command 1023")
    check_request(last_set(s), 0x03, "821", "739", "activation after command 1023")
    check_equal(s.lines(), [BANNER, "Activation is successful", "Activation is failed (3a05)"],
                "status")
    s.close("cancel")
