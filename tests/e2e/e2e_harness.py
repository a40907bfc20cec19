"""Runs the real program under Wine and drives it as a user would.

The shell harness (run_e2e.sh) prepares the Wine prefix, the virtual display
and the stand-in driver, then runs run_scenarios.py with the environment set:
WINEPREFIX, DISPLAY and Wine's own variables, E2E_APP and E2E_PROBE (the two
executables), E2E_WINE (the loader that starts them), E2E_OUT (a folder for
logs and pictures).

Scenarios live in scenarios_*.py, grouped by what they show; each is a
function taking a Session. A failing check raises Failure; the runner then
names the scenario and prints the status lines it last read.
"""

import importlib
import os
import re
import shlex
import struct
import select
import subprocess
import sys
import threading
import time
import traceback
from concurrent.futures import ThreadPoolExecutor

BANNER = "Quorvan App Version 1.0"
NO_DRIVER = "Failed to Open Driver"
NEED_SERVED = "Need to fill Transferd Number!"
NEED_FORWARDED_TO = "Need to fill Forward-To Number!"
FINISHED = "Interrogation is finished"
TIMED_OUT = "Interrogation is time-out"
RULE = "-" * 33

STATUS_LIST = 1005
FORWARDED_TO = 1009
SERVED = 1010
IMMEDIATELY, BUSY, NO_REPLY = 1020, 1021, 1022
DEACTIVATE, ACTIVATE, CHECK = 1031, 1032, 1033
RADIOS = (IMMEDIATELY, BUSY, NO_REPLY)

IOCTL_CF_SET = 0x80012114
IOCTL_CF_INTERROGATE = 0x80012118

# The QS_ flags the Windows of the run knows (0x05FF up to Windows 7, 0x1FFF
# from 8 on), when run_e2e.sh has the waits traced; and a traced call's last
# argument: the wake mask, or the filter with the flags in its high word.
WAIT_FLAGS_KNOWN = int(os.environ.get("E2E_WAIT_FLAGS_KNOWN", "0"), 16)
WAIT_CALL = re.compile(r"^([0-9a-f]+):Call user32\.(MsgWaitForMultipleObjects|PeekMessageA)\("
                       r"(?:[0-9a-f]+,){4}([0-9a-f]+)\) ret=([0-9a-f]+)", re.MULTILINE)


def image_size(path):
    """The size of a program's image once loaded (SizeOfImage)."""
    with open(path, "rb") as image:
        head = image.read(1024)
    optional = struct.unpack_from("<I", head, 0x3C)[0] + 24
    return struct.unpack_from("<I", head, optional + 56)[0]

# Slack for one probe run on top of what its own waits may take.
PROBE_SLACK_S = 30

# The loader that starts the program and the probe, as e2e_locate chose it.
WINE = shlex.split(os.environ.get("E2E_WINE", "wine"))


def not_started(what, process, errors_path):
    """Whether Wine's loader ended a process before any of its code ran (it
    ended, answered nothing, and its own errors hold the loader's failure
    text): only then is it started once more, as by wine_run."""
    if process.poll() is None:
        return False
    with open(errors_path, errors="replace") as errors:
        failed = os.environ["WINE_LOADER_FAILED"] in errors.read()
    if failed:
        print(f"note  Wine's loader did not start the {what}; once more", flush=True)
    return failed


class Failure(Exception):
    pass


def run_quietly(command, timeout_s=30):
    """Runs a helper that starts no Wine process, with a time limit."""
    try:
        return subprocess.run(command, capture_output=True, text=True, timeout=timeout_s)
    except subprocess.TimeoutExpired:
        raise Failure(f"{' '.join(command)} did not end within {timeout_s} s")


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(actual, expected, what):
    if actual != expected:
        raise Failure(f"{what}:\n      expected: {expected!r}\n      actual:   {actual!r}")


def becomes(read, expected, what, timeout_s=10):
    """What another process or X input starts happens on the machine's own
    time: waits until read() gives the expected value, and fails with the
    last one seen. The deadline is for a fault, never for a slow machine."""
    deadline = time.monotonic() + timeout_s
    while True:
        actual = read()
        if actual == expected or time.monotonic() > deadline:
            check_equal(actual, expected, f"{what} (within {timeout_s} s)")
            return actual
        time.sleep(0.05)


class Received:
    """One request as the stand-in driver's device received it."""

    def __init__(self, fields):
        self.code = int(fields[0], 16)
        self.in_length = int(fields[1])
        self.out_capacity = int(fields[2])
        self.at_ms = int(fields[3])
        self.data = bytes.fromhex(fields[4]) if len(fields) > 4 else b""

    def __repr__(self):
        return f"<{self.code:08x} in {self.in_length} out {self.out_capacity} at {self.at_ms} {self.data.hex()}>"


class Output:
    """The lines of one probe run, looked up by their first word."""

    def __init__(self, lines):
        self.lines = lines

    def all(self, key):
        prefix = key + " "
        return [line[len(prefix):] for line in self.lines if line.startswith(prefix) or line == key]

    def one(self, key):
        found = self.all(key)
        if len(found) != 1:
            raise Failure(f"probe gave {len(found)} '{key}' lines: {self.lines}")
        return found[0]

    def status_lines(self):
        """The status list from a 'lines' verb (the last one given)."""
        result = []
        for line in self.lines:
            match = re.match(r"line (\d+)(?: (.*))?$", line)
            if match:
                index = int(match.group(1))
                if index == 0:
                    result = []
                check_equal(index, len(result), "status line index")
                result.append(match.group(2) or "")
        return result

    def stats(self):
        return {k: int(v) for k, v in (s.split() for s in self.all("stat"))}

    def received(self):
        return [Received(r.split()[1:]) for r in self.all("request")]

    def received_total(self):
        return int(self.one("received").split()[0])


class Prober:
    """One "probe serve": runs of verbs, a line each, each answered up to
    "end CODE". Starting a Wine process costs far more than asking. Its
    output is read up to each end line, never to the pipe's end, which a
    helper process Wine starts may inherit and hold open."""

    def __init__(self, path, errors_path):
        self.errors_path = errors_path  # its own: the rule for a start once more reads it
        with open(errors_path, "a") as errors:
            self.process = subprocess.Popen(WINE + [path, "serve"], stdin=subprocess.PIPE,
                                            stdout=subprocess.PIPE, stderr=errors)
        self.pending = b""
        self.answered = False

    def run(self, args, timeout_s):
        """The run's lines and CODE, or the probe's exit code if it ended."""
        deadline = time.monotonic() + timeout_s
        lines = []
        try:
            self.process.stdin.write(("\t".join(map(str, args)) + "\n").encode())
            self.process.stdin.flush()
        except BrokenPipeError:
            pass  # ended: its exit code below
        while True:
            line, newline, rest = self.pending.partition(b"\n")
            if newline:
                self.pending = rest
                line = line.decode(errors="replace").rstrip("\r")
                self.answered = True
                if line.startswith("end "):
                    return lines, int(line[4:])
                lines.append(line)
            elif select.select([self.process.stdout], [], [], 0.5)[0] and \
                    (chunk := os.read(self.process.stdout.fileno(), 65536)):
                self.pending += chunk
            elif self.process.poll() is not None or time.monotonic() > deadline:
                code = self.process.poll()
                self.end()
                if code is None:
                    raise Failure(f"probe {' '.join(map(str, args))} did not end in time")
                return lines, code or -1  # ended within a run: never a success

    def errors(self):
        with open(self.errors_path, errors="replace") as errors:
            return errors.read()

    def end(self):
        """At the end of its input the probe ends; else it is killed."""
        try:
            self.process.stdin.close()
            self.process.wait(timeout=10)
        except (BrokenPipeError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()


class Session:
    """One scenario's view of the world: the program, the probe, X input."""

    def __init__(self, name):
        self.name = name
        self.app = None
        self.app_log = None
        self.last_lines = []
        self.out_dir = os.environ["E2E_OUT"]
        self.app_path = os.environ["E2E_APP"]
        self.probe_path = os.environ["E2E_PROBE"]
        self.started_apps = 0
        self.probers = {}  # by thread
        self.probes_started = 0
        self.probe_lock = threading.Lock()
        self.helpers, self.runs = ThreadPoolExecutor(), []

    # --- the probe -------------------------------------------------------

    def probe(self, *args, wait_s=0):
        """Runs the probe with the given verbs. wait_s: the longest of the
        waits among the verbs, added to the run's own timeout."""
        prober = self.prober()
        lines, code = prober.run(args, PROBE_SLACK_S + wait_s)
        if not prober.answered and not_started("probe", prober.process, prober.errors_path):
            prober = self.prober()
            lines, code = prober.run(args, PROBE_SLACK_S + wait_s)
        output = Output(lines)
        statuses = output.status_lines()
        if statuses:
            self.last_lines = statuses
        if code != 0:
            errors = [line for line in lines if line.startswith("error ")] or lines[-3:]
            raise Failure(f"probe {' '.join(map(str, args))} failed ({code}): "
                          f"{' | '.join(errors)} {prober.errors().strip()[-300:]}")
        return output

    def prober(self):
        """The calling thread's probe, started at its first run: a thread of
        the scenario's may hold its own in a run while the scenario goes on
        asking through the one it has. Each writes a log of its own."""
        with self.probe_lock:
            prober = self.probers.get(threading.get_ident())
            if prober is None or prober.process.poll() is not None:
                self.probes_started += 1
                log = os.path.join(self.out_dir, f"{self.name}.probe{self.probes_started}.log")
                prober = self.probers[threading.get_ident()] = Prober(self.probe_path, log)
            return prober

    def probe_in_thread(self, *args, wait_s=0):
        """Starts a probe run on a thread of its own (one that holds a
        request while the scenario goes on, say); join_threads() waits for
        it and raises what it raised, as the scenario's end does."""
        self.runs.append(self.helpers.submit(self.probe, *args, wait_s=wait_s))

    def join_threads(self):
        while self.runs:
            self.runs.pop(0).result()  # each run ends by its own deadline

    def lines(self):
        return self.probe("lines").status_lines()

    def reset_driver(self, **settings):
        """Back to the start state, then the given settings: delay, timeout,
        idle (ms), unreachable ("999,555" or "none"), failset (1: set-forwarding
        requests end with an error once due), forward (a list of
        "P:S:SERVED:TO")."""
        verbs = ["drv-reset"]
        for key in ("delay", "timeout", "idle", "unreachable", "failset"):
            if key in settings:
                verbs += ["drv-config", key, settings[key]]
        for forwarding in settings.get("forward", []):
            verbs += ["drv-config", "forward", forwarding]
        self.probe(*verbs)

    def received(self):
        return self.probe("drv-received").received()

    def stats(self):
        return self.probe("drv-stats").stats()

    def cursor(self):
        return self.probe("cursor").one("cursor")

    # --- the program -----------------------------------------------------

    def start(self, attempt=1):
        """Starts the program and waits for its dialog to be ready."""
        check(self.app is None, "program already running")
        self.started_apps += 1
        log_path = os.path.join(self.out_dir, f"{self.name}.{self.started_apps}.log")
        self.app_log = open(log_path, "w")
        # The program's debug output (OutputDebugStringA) goes to its log.
        environment = dict(os.environ)
        environment["WINEDEBUG"] = os.environ.get("WINEDEBUG", "fixme-all") + ",warn+debugstr"
        if WAIT_FLAGS_KNOWN:
            environment["WINEDEBUG"] += ",+relay"  # the prefix's RelayInclude names the waits
        self.app = subprocess.Popen(WINE + [self.app_path], stdout=self.app_log,
                                    stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                    env=environment)
        try:
            self.thread = self.probe("wait", 20000, "thread", wait_s=20).one("thread").split()
        except Failure:
            self.app_log.close()
            if attempt > 1 or not not_started("program", self.app, self.app_log.name):
                raise
            self.app = None
            self.start(attempt=2)

    def debug_output(self):
        """The lines the running program wrote with OutputDebugStringA, as
        Wine's debugstr channel shows them (backslashes doubled)."""
        self.app_log.flush()
        with open(self.app_log.name, errors="replace") as log:
            return re.findall(r'OutputDebugStringA "CallForwardingSetting: (.*?)(?:\\n)?"$',
                              log.read(), re.MULTILINE)

    def wait_exit(self, timeout_s=10):
        """Waits for the program to end; returns its exit code."""
        check(self.app is not None, "program not running")
        try:
            code = self.app.wait(timeout=timeout_s)
        except subprocess.TimeoutExpired:
            raise Failure(f"program still running {timeout_s} s after it was told to end")
        finally:
            self.app_log.close()
        log_path = self.app_log.name
        self.app = None
        with open(log_path, errors="replace") as log:
            text = log.read()
        for marker in ("Unhandled", "wine: Call from", "Assertion"):
            check(marker not in text, f"program log shows '{marker}': {log_path}")
        self.check_wait_flags(text)
        return code

    def check_wait_flags(self, log_text):
        """Every wake mask and message filter the program's waits passed, as
        Wine's relay trace shows them, within what this Windows knows: Wine
        takes any, a Windows before 8 fails a wait that names a flag it lacks.
        The values seen go to wait_flags.txt for the run's summary."""
        if not WAIT_FLAGS_KNOWN:
            return
        # Only the calls of the dialog's thread that return into the program
        # where it is loaded: on Wine 10, Wine's DLLs ask QS_ALLINPUT with the
        # flags of Windows 10, and so do other processes whose traces reach
        # this log, from images that may lie where the program's does.
        # 32-bit parameters: a 64-bit program's trace shows whole registers.
        thread, low = (int(field, 16) for field in self.thread)
        high = low + image_size(self.app_path)
        seen = {(name, int(value, 16) & 0xFFFFFFFF) for tid, name, value, back in WAIT_CALL.findall(log_text)
                if int(tid, 16) == thread and low <= int(back, 16) < high}
        with open(os.path.join(self.out_dir, "wait_flags.txt"), "a") as summary:
            summary.writelines(f"{name} {value:#010x}\n" for name, value in sorted(seen))
        unknown = [f"{name} {value:#010x}" for name, value in sorted(seen)
                   if (value if name.startswith("Msg") else value >> 16) & ~WAIT_FLAGS_KNOWN]
        check(not unknown, f"waits ask for flags this Windows does not know: {unknown}")

    def close(self, how="cancel"):
        """Ends the dialog by the given way and checks exit code 0."""
        self.probe("close", how, "gone", 10000, wait_s=10)
        check_equal(self.wait_exit(), 0, f"exit code after close {how}")

    def kill(self):
        self.helpers.shutdown()  # the threads' runs end before their probes
        with self.probe_lock:
            for prober in self.probers.values():
                prober.end()
            self.probers.clear()
        if self.app is not None and self.app.poll() is None:
            self.app.kill()
            self.app.wait()
        if self.app_log is not None and not self.app_log.closed:
            self.app_log.close()
        self.app = None

    # --- X input ---------------------------------------------------------

    def xdo(self, *args):
        done = run_quietly(["xdotool"] + [str(a) for a in args])
        if done.returncode != 0:
            raise Failure(f"xdotool {' '.join(map(str, args))} failed: {done.stderr.strip()}")
        return done.stdout.strip()

    def centres(self):
        """The screen point in the middle of each control, by identifier."""
        out = self.probe("window", "controls")
        left, top = map(int, out.one("client").split()[:2])
        fields = [list(map(int, line.split()[:1] + line.split()[4:8])) for line in out.all("control")]
        return {c: (left + x + w // 2, top + y + h // 2) for c, x, y, w, h in fields}

    def point_at(self, control_id):
        """Moves the real pointer to the middle of a control."""
        self.xdo("mousemove", *self.centres()[control_id])

    def wait_keyboard_focus(self, timeout_s=10):
        """Waits until the dialog's X window holds the keyboard focus, so
        that keys go to it."""
        deadline = time.monotonic() + timeout_s
        while True:
            name = run_quietly(["xdotool", "getwindowfocus", "getwindowname"]).stdout.strip()
            if name == "Call Forwarding Setting":
                return
            if time.monotonic() > deadline:
                raise Failure(f"keyboard focus on {name!r}, not on the dialog")
            time.sleep(0.05)

    def screenshot(self, path):
        done = run_quietly(["import", "-window", "root", path])
        check(done.returncode == 0, f"no screenshot: {done.stderr.strip()}")


# --- expectations shared by the scenarios ---------------------------------

def request_bytes(control, served, forwarded_to):
    """The 53 bytes of a set-forwarding request as the program must send
    them: numbers cut at 25 characters, zero-filled after the terminator."""
    data = bytearray(53)
    data[0] = control
    served = served.encode()[:25]
    forwarded_to = forwarded_to.encode()[:25]
    data[1:1 + len(served)] = served
    data[27:27 + len(forwarded_to)] = forwarded_to
    return bytes(data)


def report_block(procedure_text, service_text, served, forwarded_to):
    return [RULE, f"CF by {procedure_text}{service_text}", f"From: {served}",
            f"To:   {forwarded_to}", RULE]


def sets_of(received):
    return [r for r in received if r.code == IOCTL_CF_SET]


def interrogations_of(received):
    return [r for r in received if r.code == IOCTL_CF_INTERROGATE]


# --- the runner ---------------------------------------------------------------

SCENARIOS = []


def scenario(group):
    def register(function):
        # The test command finds a group by its file: scenarios_GROUP.py.
        assert function.__module__ == f"scenarios_{group}", f"{function.__name__} in {group}"
        SCENARIOS.append((group, function.__name__, function))
        return function
    return register


def run(selected_groups, name_filter):
    here = os.path.dirname(os.path.abspath(__file__))
    for module in sorted(f[:-3] for f in os.listdir(here) if re.match(r"scenarios_\w+\.py$", f)):
        importlib.import_module(module)  # registers its scenarios

    failures = []
    ran = 0
    started = time.monotonic()
    order = {group: index for index, group in enumerate(selected_groups)}
    chosen = [entry for entry in SCENARIOS if not selected_groups or entry[0] in order]
    chosen.sort(key=lambda entry: order.get(entry[0], 0))  # stable: file order within a group
    for group, name, function in chosen:
        if name_filter and not re.search(name_filter, name):
            continue
        ran += 1
        with open(os.path.join(os.environ["E2E_OUT"], "running"), "w") as running:
            running.write(f"{group}/{name}\n")  # named by run_e2e.sh if the time limit ends the run
        session = Session(name)
        began = time.monotonic()
        try:
            function(session)
            session.join_threads()  # a thread's failure fails the scenario too
            if session.app is not None:
                raise Failure("scenario left the program running")
            print(f"ok    {group}/{name} ({time.monotonic() - began:.1f} s)", flush=True)
        except Exception as error:  # every failure is reported, then the next runs
            detail = str(error) if isinstance(error, Failure) else \
                f"{type(error).__name__}: {error}\n{traceback.format_exc()}"
            if session.app is not None:
                try:
                    session.probe("lines")
                except Exception:
                    pass
            failures.append(name)
            print(f"FAIL  {group}/{name}: {detail}", flush=True)
            print("      status lines read last:", flush=True)
            for index, line in enumerate(session.last_lines):
                print(f"      {index:3d} {line}", flush=True)
        finally:
            session.kill()
    print(f"{ran - len(failures)} of {ran} scenarios passed in {time.monotonic() - started:.0f} s",
          flush=True)
    if ran == 0:
        print(f"no scenario selected in {' '.join(selected_groups) or 'any group'}", flush=True)
        return 5  # the runner fails only when no turn of its groups selects one
    if failures:
        print("failed: " + " ".join(failures), flush=True)
        return 1
    return 0


def main(argv):
    """run_scenarios.py [GROUP ...] [-k REGEX]; exit code 5 when none is selected"""
    arguments = list(argv)
    pattern = None
    if "-k" in arguments:
        position = arguments.index("-k")
        pattern = arguments[position + 1]
        del arguments[position:position + 2]
    return run(arguments, pattern)
