"""Check Current Setting: the poll, its ticks, its report blocks and its end."""

from e2e_harness import (BANNER, CHECK, FINISHED, IOCTL_CF_INTERROGATE, NEED_SERVED, RULE, SERVED,
                         STATUS_LIST, TIMED_OUT, becomes, check, check_equal, interrogations_of,
                         report_block, scenario)

PROCEDURES = {0: "Immediately", 1: "Busy", 2: "No reply"}
SERVICES = {0: " (All Services)", 1: " (Speech)", 2: " (Data call)", 3: " (3.1KHz Audio)",
            32: " (3.1KHz Telephony)", 38: " (7KHz Telephony)"}

# The poll timer's period is 500 ms. A loaded machine handles a tick late,
# and a periodic timer then brings the next one early, so single gaps say
# little: their mean must be about 500 ms, and no gap may be a stall.
TICK_MEAN_MS, TICK_MAX_MS = (400, 700), 1500


def service_text(code):
    return SERVICES.get(code, " (All Services)")


def expected_blocks(s, served):
    """The blocks of the forwardings in force for a number, in the order the
    network hands them out (its table order)."""
    lines = []
    for forwarding in s.probe("drv-forwardings").all("forwarding"):
        procedure, service, number, forwarded_to = forwarding.split()
        if number == served:
            lines += report_block(PROCEDURES[int(procedure)], service_text(int(service)), number,
                                  forwarded_to)
    return lines


def check_interrogations(requests, served, what):
    check(requests, f"{what}: no interrogation reached the driver")
    for request in requests:
        check_equal((request.code, request.in_length, request.out_capacity),
                    (IOCTL_CF_INTERROGATE, 60, 60), f"{what}: control code and buffer sizes")
        head = served.encode()[:25] + b"\0"
        check_equal(request.data[:len(head)], head, f"{what}: served user number with its terminator")


def check_ticks(requests, what):
    times = [r.at_ms for r in requests]
    gaps = [after - before for before, after in zip(times, times[1:])]
    check(gaps and TICK_MEAN_MS[0] <= sum(gaps) / len(gaps) <= TICK_MEAN_MS[1]
          and max(gaps) <= TICK_MAX_MS, f"{what}: polls not about 500 ms apart: {times}")


def check_poll_stopped(s, lines, what):
    """No tick once the poll has ended: nothing new reaches the driver or
    the list for well over two tick periods."""
    before = s.probe("drv-received").received_total()
    out = s.probe("sleep", 1300, "drv-received", "lines")
    check_equal(out.received_total(), before, f"{what}: requests after the poll ended")
    check_equal(out.status_lines(), lines, f"{what}: status after the poll ended")


@scenario("interrogation")
def poll_waits_then_reports_every_entry_and_ends(s):
    # Every basic-service text, and an entry of another number that must
    # not show.
    entries = ["1:1:821:739", "0:2:821:100", "2:3:821:200", "1:32:821:301", "0:38:821:302",
               "2:0:821:303", "1:4:821:304", "0:1:822:999"]
    s.reset_driver(delay=1100, forward=entries)
    blocks = expected_blocks(s, "821")
    check_equal(len(blocks), 7 * 5, "report lines expected")
    s.start()
    s.point_at(STATUS_LIST)
    becomes(s.cursor, "arrow", "cursor before the check", 3)
    out = s.probe("set", SERVED, "821", "click", CHECK, "count", "cursor")
    # The network has not answered yet: nothing is logged, the poll goes on,
    # and the cursor is all the user has to see that it does.
    check_equal(out.one("count"), "1", "status lines right after Check Current Setting")
    check_equal(out.one("cursor"), "appstarting", "cursor while the poll runs")
    s.probe("until", FINISHED, 15000, wait_s=15)
    lines = [BANNER] + blocks + [FINISHED]
    check_equal(s.lines(), lines, "status after the poll")
    becomes(s.cursor, "arrow", "cursor after the poll ended", 3)
    # The failed call that ends an interrogation leaves one line for a
    # debugger: no more entries (259).
    check_equal(s.debug_output(),
                [r"DeviceIoControl 0x80012118 \\\\.\\CAPI201 failed, error 259"],
                "debug output of one interrogation")
    requests = interrogations_of(s.received())
    check_interrogations(requests, "821", "poll")
    # Nothing yet (at least once: the count above), one request per entry,
    # then the one that finds no entry left.
    check(len(requests) >= 1 + 7 + 1, f"{len(requests)} requests for 7 entries and 1.1 s of delay")
    check_ticks(requests, "poll")
    check_poll_stopped(s, lines, "poll")
    # Ctrl+C on the list copies its lines, CR LF between them, adding none,
    # also while another program holds it for a third of the second the
    # program goes on trying (all the probe's waits are for a fault).
    s.wait_keyboard_focus()
    s.xdo("click", 1, "key", "ctrl+c")
    out = s.probe("clipboard", 10000, "holdclipboard", 300, "clipboard", 10000, "lines", wait_s=20)
    check_equal(([bytes.fromhex(h) for h in out.all("clipboard")], out.status_lines()),
                (["\r\n".join(lines).encode()] * 2, lines), "clipboard, held or not, and status")
    s.close("cancel")


@scenario("interrogation")
def poll_times_out(s):
    s.reset_driver(delay=300, timeout=1600, unreachable="999")
    s.start()
    out = s.probe("set", SERVED, "999", "click", CHECK, "count")
    check_equal(out.one("count"), "1", "status lines right after Check Current Setting")
    s.probe("until", TIMED_OUT, 10000, wait_s=10)
    lines = [BANNER, TIMED_OUT]
    check_equal(s.lines(), lines, "status after the time-out")
    requests = interrogations_of(s.received())
    check_interrogations(requests, "999", "time-out")
    check(len(requests) >= 3, f"only {len(requests)} requests before a 1.6 s time-out")
    check_ticks(requests, "time-out")
    check_poll_stopped(s, lines, "time-out")
    s.close("cancel")


@scenario("interrogation")
def poll_finished_at_once_arms_no_timer(s):
    s.reset_driver(delay=0)
    s.start()
    s.probe("set", SERVED, "555", "click", CHECK)
    lines = [BANNER, FINISHED]
    check_equal(s.lines(), lines, "status after a poll that found nothing")
    check_poll_stopped(s, lines, "finished at once")
    check_equal(len(interrogations_of(s.received())), 1, "requests of one poll")
    # A timer message of any identifier is one poll.
    s.probe("timer", 42)
    lines.append(FINISHED)
    check_poll_stopped(s, lines, "timer 42")
    requests = interrogations_of(s.received())
    check_equal(len(requests), 2, "requests after one timer message")
    check_interrogations(requests, "555", "timer 42")
    # A held check, cancelled: while the driver takes 4 s over it, a tick is answered at once.
    s.probe("drv-config", "pendquery", 1, "drv-config", "canceldelay", 4000)
    s.xdo("mousemove", *s.centres()[CHECK], "click", 1)
    becomes(lambda: s.stats()["queriesHeldNow"], 1, "checks held")
    out = s.probe("timer", 1, "drv-stats")
    check(out.stats()["queriesHeldNow"] == 1 and int(out.one("timed").split()[-1]) < 1500,
          f"held check: {out.stats()['queriesHeldNow']}, tick answered: {out.one('timed')}")
    lines.append(FINISHED)
    s.probe("atleast", len(lines), 10000, wait_s=10)
    check_poll_stopped(s, lines, "check held, then cancelled")
    s.close("cancel")


@scenario("interrogation")
def pressing_again_while_polling_adds_one_poll(s):
    s.reset_driver(delay=1600, forward=["1:1:821:739"])
    s.start()
    # Read at once, well before the first tick is due.
    out = s.probe("set", SERVED, "821", "click", CHECK, "sleep", 150, "click", CHECK, "drv-received")
    check_equal(len(interrogations_of(out.received())), 2, "requests after two presses")
    s.probe("until", FINISHED, 10000, wait_s=10)
    lines = [BANNER] + report_block("Busy", " (Speech)", "821", "739") + [FINISHED]
    check_equal(s.lines(), lines, "status: one block, one end")
    check_poll_stopped(s, lines, "second press")
    s.close("cancel")


@scenario("interrogation")
def poll_goes_on_while_the_number_is_emptied_and_refilled(s):
    s.reset_driver(delay=2500, forward=["2:1:821:739"])
    s.start()
    s.probe("set", SERVED, "821", "click", CHECK)
    # Every tick with an empty field complains, and the poll goes on.
    s.probe("clear", SERVED, "atleast", 4, 5000, wait_s=5)
    asked = len(interrogations_of(s.received()))
    s.probe("set", SERVED, "821", "until", FINISHED, 10000, wait_s=10)
    lines = s.lines()
    complaints = lines[1:lines.index(RULE)] if RULE in lines else lines[1:]
    check(len(complaints) >= 3 and set(complaints) == {NEED_SERVED},
          f"complaints while the field was empty: {complaints}")
    expected = [BANNER] + complaints + report_block("No reply", " (Speech)", "821", "739") + [FINISHED]
    check_equal(lines, expected, "status after the refilled poll")
    requests = interrogations_of(s.received())
    check(len(requests) > asked, "no request after the number came back")
    check_interrogations(requests, "821", "refilled poll")
    check_poll_stopped(s, lines, "refilled poll")
    s.close("cancel")


@scenario("interrogation")
def long_number_is_asked_for_cut_at_25(s):
    digits25 = "1234567890123456789012345"
    s.reset_driver(delay=0, forward=[f"0:1:{digits25}:{digits25[::-1]}"])
    s.start()
    s.probe("set", SERVED, digits25 + "67890", "click", CHECK, "until", FINISHED, 5000, wait_s=5)
    lines = [BANNER] + report_block("Immediately", " (Speech)", digits25, digits25[::-1]) + [FINISHED]
    check_equal(s.lines(), lines, "status")
    check_interrogations(interrogations_of(s.received()), digits25, "30-digit field")
    s.close("cancel")
