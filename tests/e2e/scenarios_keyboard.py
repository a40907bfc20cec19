"""Real keys and clicks through the X server, and the picture of the dialog."""

import os

from e2e_harness import (ACTIVATE, BANNER, BUSY, CHECK, DEACTIVATE, FINISHED, FORWARDED_TO,
                         SERVED, STATUS_LIST, becomes, check, check_equal, report_block, run_quietly,
                         scenario, sets_of, request_bytes)

# From the served user number field on, Tab visits the tab stops in template
# order, the checked radio button being the group's one stop.
TAB_ORDER = [1020, DEACTIVATE, 1005, ACTIVATE, CHECK, FORWARDED_TO, SERVED]


def focus(s):
    return int(s.probe("focus").one("focus"))


def focus_becomes(s, expected, what):
    becomes(lambda: focus(s), expected, what)


def text_becomes(s, control_id, expected, what):
    becomes(lambda: s.probe("text", control_id).one("text"), f"{control_id} {expected}", what)


def lines_become(s, expected, what):
    becomes(s.lines, expected, what)


def key(s, *keys):
    s.xdo("key", "--delay", 60, *keys)


def type_text(s, text):
    s.xdo("type", "--delay", 60, text)


def click_control(s, control_id):
    """A real mouse click in the middle of a control."""
    s.point_at(control_id)
    s.xdo("click", 1)


def start_with_keyboard(s):
    s.start()
    s.wait_keyboard_focus()
    focus_becomes(s, SERVED, "focused control at start")


@scenario("keyboard")
def typing_keeps_digits_and_tab_follows_the_template(s):
    s.reset_driver(delay=0)
    start_with_keyboard(s)
    type_text(s, "8a2b1")
    text_becomes(s, SERVED, "821", "served user number typed as 8a2b1")
    visited = []
    for expected in TAB_ORDER:
        key(s, "Tab")
        focus_becomes(s, expected, f"control after Tab, having visited {visited}")
        visited.append(expected)
    key(s, "shift+Tab")
    focus_becomes(s, FORWARDED_TO, "control after Shift+Tab")
    type_text(s, "7x3y9")
    text_becomes(s, FORWARDED_TO, "739", "forwarded-to number typed as 7x3y9")
    key(s, "shift+Tab", "shift+Tab")
    focus_becomes(s, ACTIVATE, "control after two Shift+Tab")
    key(s, "Return")
    lines_become(s, [BANNER, "Activation is successful"], "status after Enter on Activate")
    # Typed letters never reach the driver either.
    check_equal(sets_of(s.received())[-1].data, request_bytes(0x00, "821", "739"),
                "request from typed numbers")
    # 30 digits stop at 25 in each field, typed or pasted, and Activate sends
    # what the fields show. The 30 to paste are copied from a field that a
    # message filled, which the limit does not hold.
    typed, pasted = "123451234512345123451234599999", "987659876598765987659876511111"
    s.probe("clear", SERVED, "set", FORWARDED_TO, pasted)
    key(s, "Tab", "Tab", "ctrl+c", "BackSpace")  # Check, then all of forwarded-to
    for digits in (typed, pasted):
        for _ in range(2):  # forwarded-to, then served, all of it selected
            if digits == pasted:
                key(s, "ctrl+v", "Tab")
            else:
                type_text(s, digits)
                key(s, "Tab")
        for field in (SERVED, FORWARDED_TO):
            text_becomes(s, field, digits[:25], f"field {field} after 30 digits")
        key(s, "shift+Tab", "shift+Tab")
    s.probe("click", ACTIVATE)
    check_equal(sets_of(s.received())[-1].data, request_bytes(0x00, pasted, pasted),
                "request from fields that got 30 digits")
    s.close("cancel")


@scenario("keyboard")
def enter_and_space_press_the_focused_button_and_the_mouse_clicks(s):
    s.reset_driver(delay=0)
    start_with_keyboard(s)
    type_text(s, "821")
    key(s, "shift+Tab")
    focus_becomes(s, FORWARDED_TO, "focus after Shift+Tab")
    type_text(s, "739")
    text_becomes(s, FORWARDED_TO, "739", "forwarded-to number typed")
    # Forwarded-to field, then Tab: served field, radio, Deactivate, list, Activate.
    key(s, "Tab", "Tab", "Tab", "Tab", "Tab")
    focus_becomes(s, ACTIVATE, "focus after five Tabs")
    key(s, "Return")
    expected = [BANNER, "Activation is successful"]
    lines_become(s, expected, "Enter on Activate")
    key(s, "Tab")
    focus_becomes(s, CHECK, "focus after Tab")
    key(s, "space")
    s.probe("until", FINISHED, 5000, wait_s=5)
    expected += report_block("Immediately", " (All Services)", "821", "739") + [FINISHED]
    check_equal(s.lines(), expected, "Space on Check Current Setting")
    key(s, "Tab", "Tab", "Tab", "Tab")
    focus_becomes(s, DEACTIVATE, "focus after four Tabs")
    # Held 3 s: the wait cursor shows while the request is held, though the
    # mouse rests (without a move, a cursor set only by WM_SETCURSOR would not).
    s.probe("drv-config", "delay", 3000)
    s.point_at(STATUS_LIST)
    becomes(s.cursor, "arrow", "cursor before Enter")
    key(s, "Return")
    def cursor_and_held():
        out = s.probe("drv-stats", "cursor")
        return out.one("cursor"), out.stats()["setPendingNow"]
    becomes(cursor_and_held, ("wait", 1), "cursor while Enter's request is held")
    expected.append("Deactivation is successful")
    lines_become(s, expected, "Enter on Deactivate")
    check_equal(sets_of(s.received())[-1].data, request_bytes(0x80, "821", "739"),
                "request of Enter on Deactivate")
    # The mouse: choose Busy, press Activate.
    click_control(s, BUSY)
    becomes(lambda: s.probe("check", 1020, "check", BUSY).all("check"), ["1020 0", f"{BUSY} 1"],
            "radio states after clicking Busy")
    click_control(s, ACTIVATE)
    expected.append("Activation is successful")
    lines_become(s, expected, "mouse click on Activate")
    check_equal(sets_of(s.received())[-1].data, request_bytes(0x01, "821", "739"),
                "request of the mouse clicks")
    s.close("cancel")


@scenario("keyboard")
def enter_in_a_number_field_escape_and_the_close_box_end_the_dialog(s):
    s.reset_driver(delay=0)
    # Enter in the served user number field: no default button, so the
    # dialog ends as with OK.
    start_with_keyboard(s)
    type_text(s, "821")
    text_becomes(s, SERVED, "821", "served user number typed")
    key(s, "Return")
    check_equal(s.wait_exit(), 0, "exit code after Enter in the served user number field")
    check_equal(s.stats()["totalOpens"], 0, "driver opens by Enter in a number field")
    # The same in the forwarded-to field.
    start_with_keyboard(s)
    key(s, "shift+Tab")
    focus_becomes(s, FORWARDED_TO, "focus after Shift+Tab")
    type_text(s, "739")
    text_becomes(s, FORWARDED_TO, "739", "forwarded-to number typed")
    key(s, "Return")
    check_equal(s.wait_exit(), 0, "exit code after Enter in the forwarded-to field")
    # Escape, with a poll running.
    s.reset_driver(delay=600000)
    start_with_keyboard(s)
    type_text(s, "821")
    text_becomes(s, SERVED, "821", "served user number typed")
    s.probe("click", CHECK)
    s.wait_keyboard_focus()
    key(s, "Escape")
    check_equal(s.wait_exit(), 0, "exit code after Escape")
    # The close box, with the mouse.
    start_with_keyboard(s)
    x, y = s.probe("closebox").one("closebox").split()
    s.xdo("mousemove", x, y, "click", 1)
    check_equal(s.wait_exit(), 0, "exit code after a click on the close box")


def gray_range(image, x, y, w, h):
    """Darkest and lightest gray level (0..1) of a region of the image."""
    done = run_quietly(["convert", image, "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-colorspace",
                        "Gray", "-format", "%[fx:minima] %[fx:maxima]", "info:"])
    check(done.returncode == 0, f"cannot read pixels of {image}: {done.stderr.strip()}")
    low, high = map(float, done.stdout.split())
    return low, high


@scenario("keyboard")
def screenshot_after_a_check_that_found_a_forwarding(s):
    s.reset_driver(delay=0)
    s.start()
    s.probe("set", SERVED, "821", "set", FORWARDED_TO, "739", "click", BUSY, "click", ACTIVATE,
            "click", CHECK, "until", FINISHED, 5000, wait_s=5)
    lines = ([BANNER, "Activation is successful"] +
             report_block("Busy", " (All Services)", "821", "739") + [FINISHED])
    check_equal(s.lines(), lines, "status before the picture")
    s.wait_keyboard_focus()  # drawn as the active window
    verbs = ["window", "controls", "focus"] + [v for i in range(len(lines)) for v in ("itemrect", i)]
    out = s.probe(*verbs)
    left, top, right, bottom = map(int, out.one("window").split())
    c_left, c_top = map(int, out.one("client").split()[:2])
    whole = os.path.join(s.out_dir, "screen.png")
    s.screenshot(whole)

    # Every status line has ink on it; the list below the last is blank.
    for item in out.all("itemrect"):
        index, x0, y0, x1, y1, first = map(int, item.split())
        check_equal(first, 0, "first status line in view")
        low, _ = gray_range(whole, c_left + x0, c_top + y0, x1 - x0, y1 - y0)
        check(low < 0.4, f"status line {index} ({lines[index]!r}) not drawn: darkest gray {low:.2f}")
    list_line = out.all("control")[0].split()
    lx, ly, lw, lh = map(int, list_line[4:8])
    last_bottom = int(out.all("itemrect")[-1].split()[4])
    low, _ = gray_range(whole, c_left + lx + 4, c_top + last_bottom + 2, lw - 30,
                        ly + lh - last_bottom - 8)
    check(low > 0.9, f"the list below the last line is not blank: darkest gray {low:.2f}")
    # The dialog is drawn at the top-left corner and nothing beside it.
    low, high = gray_range(whole, c_left + 2, c_top + 2, 6, 6)
    check(0.5 < low and high < 0.99, f"dialog background not the usual gray: {low:.2f}-{high:.2f}")
    _, high = gray_range(whole, right + 5, 5, 20, 20)
    check(high < 0.1, f"something drawn right of the dialog: lightest gray {high:.2f}")

    picture = os.path.join(s.out_dir, "screenshot.png")
    done = run_quietly(["convert", whole, "-crop", f"{right - left}x{bottom - top}+{left}+{top}",
                        "+repage", "-strip", picture])
    check(done.returncode == 0, f"cannot crop the picture: {done.stderr.strip()}")
    s.close("cancel")
