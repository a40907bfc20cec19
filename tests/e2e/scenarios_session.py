"""A long session and the ways out: the bounded status list, the driver
handles left open, the exit code."""

import re

from e2e_harness import (ACTIVATE, BANNER, CHECK, FINISHED, FORWARDED_TO, NEED_SERVED, SERVED,
                         STATUS_LIST, WINE, Failure, becomes, check, check_equal,
                         report_block, run_quietly, scenario)

LIMIT = 256
WS_VSCROLL = 0x00200000


def views(out):
    """(first line in view, whole lines in view, lines) of each 'view' verb."""
    return [tuple(map(int, v.split())) for v in out.all("view")]


def newest_in_view(top, rows, count):
    return top <= count - 1 < top + rows


@scenario("session")
def long_session_keeps_the_list_bounded_and_one_handle_open(s):
    s.reset_driver(delay=0)
    s.start()
    opens_at_start = s.stats()["totalOpens"]

    # 300 polls with an empty number: one complaint each, the oldest lines
    # (the banner first) make room. The newest line stays in view, after 40
    # as after 300.
    out = s.probe("repeat", 40, "timer", 1, "view", "repeat", 260, "timer", 1, "view", "lines",
                  "controls")
    check_equal(out.status_lines(), [NEED_SERVED] * LIMIT, "status after 300 complaints")
    list_style = int(out.all("control")[0].split()[2], 16)
    check(list_style & WS_VSCROLL, f"no vertical scroll bar on a full list (style {list_style:08x})")
    for top, rows, count in views(out):
        check(rows < count and newest_in_view(top, rows, count),
              f"view {top}+{rows} does not show the newest of {count} lines")
    # The user turns the mouse wheel to older lines: as room is made for
    # each new line, the view stays on the lines it showed, so its first
    # line moves up by one.
    s.point_at(STATUS_LIST)
    s.xdo("click", "--repeat", 10, 4)
    (top, rows, count), after = views(s.probe("view", "timer", 1, "view"))
    check(0 < top and not newest_in_view(top, rows, count),
          f"view {top} {rows} {count} not scrolled up to the middle")
    check_equal(after, (top - 1, rows, LIMIT), "view of a scrolled-up full list after one more line")

    # A report block on a full list: room is made for the command and again
    # for the block, which then goes over the limit until the next command.
    s.probe("drv-config", "forward", "0:1:555:739")
    block = report_block("Immediately", " (Speech)", "555", "739")
    # The count is read in the same breath as the click; reading every line
    # takes longer, and on a busy machine the next tick (500 ms on) may have
    # ended the poll by then, so the lines may already show that.
    out = s.probe("set", SERVED, "555", "click", CHECK, "count", "lines")
    # The first count is the one read right after the click; "lines" prints its own.
    check_equal(out.all("count")[0], str(LIMIT + 4), "status lines right after a block on a full list")
    right_after = [NEED_SERVED] * (LIMIT - 1) + block
    after_tick = [NEED_SERVED] * (LIMIT - 6) + block + [FINISHED]
    check(out.status_lines() in (right_after, after_tick),
          "status after a block on a full list is neither the block at the end "
          "nor the block followed by the end of the poll")
    s.probe("until", FINISHED, 5000, wait_s=5)
    check_equal(s.lines(), [NEED_SERVED] * (LIMIT - 6) + block + [FINISHED],
                "status once the next poll made room")

    # Hundreds of polls that get no answer yet, each opening the driver
    # afresh; then let the poll end so that nothing runs between commands.
    s.probe("drv-config", "delay", 600000)
    out = s.probe("set", SERVED, "556", "repeat", 300, "timer", 1, "count", wait_s=60)
    check_equal(out.one("count"), str(LIMIT - 1), "status lines after polls that logged nothing")
    s.probe("drv-config", "delay", 0, "until", FINISHED, 5000, wait_s=5)
    stats = s.stats()
    check(stats["totalOpens"] - opens_at_start >= 600 + 2,
          f"only {stats['totalOpens'] - opens_at_start} driver opens for 600 polls")
    check(stats["openHandles"] <= 1,
          f"{stats['openHandles']} driver handles open between commands after 600 polls")
    check_equal(s.lines()[-1], FINISHED, "last status line")
    s.close("cancel")
    check_equal(s.stats()["openHandles"], 0, "driver handles open after the program ended")


@scenario("session")
def every_way_out_exits_with_code_0(s):
    s.reset_driver(delay=0)
    # No command at all: the close finds an empty handle slot.
    for how in ("cancel", "ok", "wmclose"):
        s.start()
        s.close(how)
    # After an activation, and with a poll running (its timer armed).
    s.reset_driver(delay=600000)
    for how in ("cancel", "ok", "wmclose"):
        s.start()
        s.probe("drv-config", "delay", 0, "set", SERVED, "821", "set", FORWARDED_TO, "739",
                "click", ACTIVATE, "drv-config", "delay", 600000, "click", CHECK)
        check_equal(s.lines(), [BANNER, "Activation is successful"], f"status before close {how}")
        s.close(how)
    # During a held activation Alt+Space opens the system menu, whose Move
    # moves at once, as with no request held, and Alt+F4 closes as the close
    # box does, once the answer is in. Under Wine 10 Move's loop ends by
    # itself at once, held or not: a glimpse of it there proves nothing.
    def move_started(what):
        try:
            return becomes(lambda: s.probe("movesize").one("movesize"), "1", what, 3)
        except Failure:
            return "0"
    wine = int(re.search(r"wine-(\d+)", run_quietly(WINE + ["--version"]).stdout).group(1))
    s.start()
    s.wait_keyboard_focus()
    s.xdo("key", "alt+space", "sleep", 0.3, "key", "m")
    idle = move_started("Move with no request held") if wine < 10 else "0"
    s.xdo("key", "Escape", "sleep", 0.3, "key", "Escape")  # the move, if any, then the dialog
    s.wait_exit()
    s.reset_driver(delay=8000)
    s.start()
    s.probe("set", SERVED, "821", "set", FORWARDED_TO, "739")
    s.xdo("mousemove", *s.centres()[ACTIVATE], "click", 1)
    becomes(lambda: s.stats()["setPendingNow"], 1, "activation held")
    s.xdo("key", "alt+space")
    becomes(lambda: s.probe("menus").one("menus"), "1", "system menu during the hold")
    s.xdo("key", "m")
    moving = move_started("Move during the hold") if idle == "1" else idle
    s.xdo("key", "Escape", "alt+F4")
    held = s.probe("sleep", 300, "drv-stats").stats()
    check_equal((moving, held["setPendingNow"], s.wait_exit(20), s.stats()["setCompleted"]),
                (idle, 1, 0, 1), "Move, held after Alt+F4, exit code, requests")
    check_equal(s.stats()["openHandles"], 0, "driver handles open after the program ended")
