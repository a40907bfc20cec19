"""The program with no driver: every command says so, and nothing else."""

from e2e_harness import (ACTIVATE, BANNER, BUSY, CHECK, DEACTIVATE, FORWARDED_TO, NO_DRIVER,
                         NO_REPLY, SERVED, check_equal, scenario)


@scenario("driverless")
def every_command_reports_the_missing_driver(s):
    s.start()
    # Whatever the fields hold, the missing driver takes the place of the
    # number complaints, one line per command.
    fillings = [("", ""), ("821", ""), ("", "739"), ("821", "739")]
    expected = [BANNER]
    for served, forwarded_to in fillings:
        verbs = ["set", SERVED, served, "set", FORWARDED_TO, forwarded_to]
        for command in (ACTIVATE, DEACTIVATE, CHECK):
            verbs += ["click", command]
            expected.append(NO_DRIVER)
        s.probe(*verbs)
        check_equal(s.lines(), expected, f"status after each command with fields {served!r}/{forwarded_to!r}")
    # A tick of any timer is a poll, and reports the same.
    s.probe("timer", 1, "timer", 99)
    expected += [NO_DRIVER, NO_DRIVER]
    check_equal(s.lines(), expected, "status after two timer messages")
    # Choosing a condition logs nothing; a poll that found no driver armed
    # no timer, so nothing comes by itself.
    s.probe("click", BUSY, "click", NO_REPLY, "sleep", 1300)
    check_equal(s.lines(), expected, "status after radio buttons and 1.3 s of quiet")
    # For whoever supports the user: each failed open says why, in the debug
    # output only. Error 2: no such device, the driver is not installed.
    check_equal(s.debug_output(), [r"CreateFileA \\\\.\\CAPI201 failed, error 2"] * 14,
                "debug output of 14 commands without the driver")
    s.close("cancel")


@scenario("driverless")
def closing_without_any_command_exits_cleanly(s):
    s.start()
    check_equal(s.lines(), [BANNER], "status at start")
    s.close("wmclose")
