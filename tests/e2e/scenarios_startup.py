"""What the user sees as the dialog opens: title, place, controls, state."""

from e2e_harness import (BANNER, IMMEDIATELY, BUSY, NO_REPLY, SERVED, check, check_equal,
                         scenario)

WS_CHILD, WS_VISIBLE = 0x40000000, 0x10000000
WS_POPUP, WS_CAPTION, WS_SYSMENU = 0x80000000, 0x00C00000, 0x00080000
WS_BORDER, WS_GROUP, WS_TABSTOP = 0x00800000, 0x00020000, 0x00010000
WS_EX_CLIENTEDGE = 0x200
DS_MODALFRAME, DS_CENTER, DS_CENTERMOUSE = 0x80, 0x800, 0x1000
ES_NUMBER, ES_AUTOHSCROLL, ES_MULTILINE = 0x2000, 0x80, 0x4
LBS_NOTIFY, LBS_SORT, LBS_NOINTEGRALHEIGHT = 0x1, 0x2, 0x100
BS_TYPE_MASK = 0xF
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_AUTORADIOBUTTON, BS_GROUPBOX = 0, 1, 9, 7
SS_TYPE_MASK, SS_LEFT = 0x1F, 0

# The template in dialog units, in tab order: id, class, text, x, y, w, h.
CONTROLS = [
    (1005, "ListBox", "", 97, 3, 145, 137),
    (1032, "Button", "Activate", 7, 105, 37, 12),
    (1033, "Button", "Check Current Setting", 7, 125, 79, 12),
    (1009, "Edit", "", 7, 38, 79, 12),
    (-1, "Static", "Forwarded-to Number :", 9, 30, 77, 9),
    (-1, "Static", "Served User Number :", 9, 6, 77, 9),
    (1010, "Edit", "", 7, 14, 78, 12),
    (1020, "Button", "Immediately", 13, 66, 56, 10),
    (1021, "Button", "Busy", 13, 76, 39, 10),
    (1022, "Button", "No Reply", 13, 87, 46, 10),
    (-1, "Button", "Forward By", 9, 55, 77, 44),
    (1031, "Button", "Deactivate", 48, 105, 38, 12),
]
# Invisible, just before its field, where a screen reader looks for a name.
HIDDEN_LABEL = (-1, "Static", "Forwarded-to Number :", 0, 0, 0, 0)


def mul_div(value, numerator, denominator):
    """Rounded as the platform turns dialog units into pixels."""
    return (value * numerator + denominator // 2) // denominator


def check_style(control_id, style, exstyle):
    """Styles the template gives each kind of control, as the live window
    shows them (a bordered control may show its border as a client edge)."""
    check(style & WS_CHILD and style & WS_VISIBLE, f"control {control_id} child and visible")
    bordered = bool(style & WS_BORDER or exstyle & WS_EX_CLIENTEDGE)
    if control_id == 1005:
        check(bordered, "status list bordered")
        check(style & WS_TABSTOP, "status list is a tab stop")
        check(style & LBS_NOTIFY and style & LBS_NOINTEGRALHEIGHT, f"status list styles {style:08x}")
        check(not style & LBS_SORT, "status list not sorted")
    elif control_id in (1009, 1010):
        check(bordered, f"number field {control_id} bordered")
        check(style & WS_TABSTOP, f"number field {control_id} is a tab stop")
        check(style & ES_NUMBER and style & ES_AUTOHSCROLL, f"number field {control_id} styles {style:08x}")
        check(not style & ES_MULTILINE, f"number field {control_id} single line")
    elif control_id in (1031, 1032, 1033):
        check_equal(style & BS_TYPE_MASK, BS_PUSHBUTTON, f"button {control_id} kind (never the default)")
        check(style & WS_TABSTOP, f"button {control_id} is a tab stop")
    elif control_id in (1020, 1021, 1022):
        check_equal(style & BS_TYPE_MASK, BS_AUTORADIOBUTTON, f"radio button {control_id} kind")


@scenario("startup")
def dialog_opens_as_the_template_says(s):
    s.start()
    out = s.probe("window", "units", "controls", "focus", "check", IMMEDIATELY, "check", BUSY,
                  "check", NO_REPLY, "lines", "accname", 1009, "accname", SERVED, "accname", 1005)
    check_equal(out.one("title"), "Call Forwarding Setting", "title")
    check_equal(out.status_lines(), [BANNER], "status list at start")
    check_equal(out.all("check"), [f"{IMMEDIATELY} 1", f"{BUSY} 0", f"{NO_REPLY} 0"], "radio states")
    check_equal(out.one("focus"), str(SERVED), "control with the keyboard focus")
    check_equal(out.all("accname"), ["1009 Forwarded-to Number :", "1010 Served User Number :",
                                     "1005 "], "the names a screen reader reads")

    style = int(out.one("style").split()[0], 16)
    for bit, name in ((WS_POPUP, "WS_POPUP"), (WS_CAPTION, "WS_CAPTION"), (WS_SYSMENU, "WS_SYSMENU"),
                      (DS_MODALFRAME, "DS_MODALFRAME")):
        check(style & bit == bit, f"dialog style {style:08x} lacks {name}")
    check(not style & (DS_CENTER | DS_CENTERMOUSE), f"dialog style {style:08x} centres")

    # At the top-left corner, 245 x 144 dialog units of client area.
    unit_x, unit_y = map(int, out.one("units").split())
    left, top, right, bottom = map(int, out.one("window").split())
    check_equal((left, top), (0, 0), "dialog window's top-left corner")
    c_left, c_top, c_right, c_bottom = map(int, out.one("client").split())
    check_equal((c_right - c_left, c_bottom - c_top),
                (mul_div(245, unit_x, 4), mul_div(144, unit_y, 8)), "client area in pixels")

    controls = out.all("control")
    check_equal(len(controls), len(CONTROLS) + 1, "number of controls, the hidden label included")
    for line, expected in zip(controls, CONTROLS[:3] + [HIDDEN_LABEL] + CONTROLS[3:]):
        fields = line.split(" ", 8)
        control_id, class_name = int(fields[0]), fields[1]
        style, exstyle = int(fields[2], 16), int(fields[3], 16)
        x, y, w, h = map(int, fields[4:8])
        text = fields[8] if len(fields) > 8 else ""
        want_id, want_class, want_text, dx, dy, dw, dh = expected
        if want_id == -1:
            want_id = 0xFFFF  # the template's -1 as the window keeps it
        check_equal((control_id, class_name.lower(), text), (want_id, want_class.lower(), want_text),
                    "control in order")
        check_equal((x, y, w, h),
                    (mul_div(dx, unit_x, 4), mul_div(dy, unit_y, 8), mul_div(dw, unit_x, 4),
                     mul_div(dh, unit_y, 8)),
                    f"position of control {control_id} {want_text!r}")
        if expected is not HIDDEN_LABEL:
            check_style(expected[0], style, exstyle)
        if want_class == "Static":
            check_equal(style & SS_TYPE_MASK, SS_LEFT, f"static {want_text!r} left-aligned")
            check_equal(style & (WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP),
                        WS_CHILD | (0 if expected is HIDDEN_LABEL else WS_VISIBLE | WS_GROUP),
                        f"static {want_text!r}: shown and starting a group, or hidden and neither")
        if want_text == "Forward By":
            check_equal(style & BS_TYPE_MASK, BS_GROUPBOX, "Forward By is a group box")
    ids = [int(line.split()[0]) for line in controls]
    check(1 not in ids and 2 not in ids, "no control has identifier 1 or 2")
    s.close("cancel")
