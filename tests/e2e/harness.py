"""Runs the factorizer binary end to end and builds the bytes it must write.

Environment:
  FACTORIZER_BIN       the program under test (required)
  FACTORIZER_PRIMES    the table: the 78498 primes below one million (required)
  FACTORIZER_WRAPPER   optional command prefix, split on blanks
  FACTORIZER_PLATFORM  "linux" (default) or "windows"
"""
import os
import select
import signal
import subprocess
import tempfile
import time
import unittest

BIN = os.environ.get("FACTORIZER_BIN")
PRIMES = os.environ.get("FACTORIZER_PRIMES")
if not BIN or not PRIMES:
    raise RuntimeError("set FACTORIZER_BIN and FACTORIZER_PRIMES")
WRAPPER = os.environ.get("FACTORIZER_WRAPPER", "").split()
PLATFORM = os.environ.get("FACTORIZER_PLATFORM", "linux")
TIMEOUT = 30

# Everything that differs by platform: the line end the text mode writes on
# standard output and standard error, what an abort looks like, and the
# signal cases that mean nothing there, each with its reason. POSIX: the
# program itself is a POSIX process (its descriptors, signals, /proc).
# POSIX_HOST: the tests run on a POSIX host, which sends the signals and has
# /dev/full; Wine gives a Windows program the effect of both.
POSIX_HOST = os.name == "posix"
if PLATFORM == "windows":
    LE = b"\r\n"
    ABORT_STATUS = 3
    POSIX = False
    # Wine turns SIGINT into the console's Ctrl-C, the one request that a
    # Windows program gets from outside. It reaches the program on a thread
    # of its own a moment after the signal: closing the input at once could
    # still show an end of file first.
    SIGNAL_LAG = 5
    SIGNAL_SKIPS = {
        signal.SIGTERM: "Windows has no termination request from outside; "
                        "Wine ends the process on SIGTERM, no handler runs",
        signal.SIGABRT: "Windows raises the abort signal only from inside; "
                        "Wine takes SIGABRT as its own assertion failure",
        signal.SIGFPE: "Windows raises the arithmetic fault only from inside",
    }
    IGNORED_INTERRUPT_SKIP = (
        "Windows itself keeps an inherited Ctrl-C ignore from the handlers; "
        "Wine does not carry an ignored SIGINT over into the program")
else:
    LE = b"\n"
    ABORT_STATUS = -signal.SIGABRT
    POSIX = True
    SIGNAL_LAG = 0
    SIGNAL_SKIPS = {}
    IGNORED_INTERRUPT_SKIP = None
ABORT = "abort"  # expected ending: abnormal termination

with open(PRIMES, "rb") as f:
    TABLE = f.read()
TABLE_VALUES = [int(v) for v in TABLE.split()]
assert len(TABLE_VALUES) == 78498, "the table must hold 78498 records"
DATA_FILES = ("primes.txt", "factor.txt")


def rec(text):
    """One record holding one text item."""
    return b" " + text + LE


MENU = (rec(b"Qu\x8a vols fer? (1 / 2)")
        + rec(b"1. Introduir un nombre i factoritzar-lo.")
        + rec(b"2. Factoritzar un nombre guardat en factor.txt."))
RETRY = rec(b"Torna-ho a intentar.")
ASK = rec(b"Vols seguir? (S 1 / N 0)")
CANCEL = rec(b"Tasca cancel\xfalada.")
RESTART = rec(b"Reiniciant el proc\x82s...")
NUMBER_PROMPT = rec(b"Introdueix el nombre que vols factoritzar.")
FROM_FILE = rec(b"Llegint el nombre des de factor.txt ...")


def echo(n):
    return b" El nombre \x82s " + str(n).encode() + LE


def report(n, m):
    return (b" El nombre " + str(n).encode() + b" \x82s divisible entre "
            + str(m).encode() + LE)


def reports(n, values=None):
    """Report lines of the number n against a table, in table order."""
    values = TABLE_VALUES if values is None else values
    return b"".join(report(n, m) for m in values if m and n % m == 0)


def fatal(context, message, unit, name=None, direction=b"reading"):
    """The four lines of the fatal I/O error report on standard error."""
    where = b"named " + name if name else b"(unnamed)"
    return (context + b": " + message + LE
            + b"apparent state: unit %d " % unit + where + LE
            + b"last format: list io" + LE
            + b"lately " + direction + b" sequential formatted external IO"
            + LE)


def end_of_input(unit=5, name=None, context=b"list in"):
    return fatal(context, b"end of file", unit, name)


class Result:
    def __init__(self, stdout, stderr, status, files):
        self.stdout, self.stderr, self.status = stdout, stderr, status
        self.files = files  # name -> bytes, everything in the folder after


def _prepare(files):
    folder = tempfile.TemporaryDirectory(prefix="factorizer-")
    for name, data in files.items():
        with open(os.path.join(folder.name, name), "wb") as f:
            f.write(data)
    return folder


def _collect(folder):
    files = {}
    for name in os.listdir(folder.name):
        with open(os.path.join(folder.name, name), "rb") as f:
            files[name] = f.read()
    folder.cleanup()
    return files


def run(stdin, files, args=(), stdout=subprocess.PIPE):
    """Runs the program once in a fresh folder holding `files`."""
    folder = _prepare(files)
    try:
        p = subprocess.run(WRAPPER + [BIN, *args], input=stdin,
                           cwd=folder.name, stdout=stdout,
                           stderr=subprocess.PIPE, timeout=TIMEOUT)
    finally:
        found = _collect(folder)
    return Result(p.stdout, p.stderr, p.returncode, found)


def run_signalled(stdin, prompt, sig, files, then=b"",
                  ignore_interrupt=False):
    """Feeds `stdin` through a pipe kept open, waits until standard output
    ends with `prompt`, sends `sig`, then feeds `then` and collects the rest.
    With `ignore_interrupt` the program starts with SIGINT ignored."""
    if sig in SIGNAL_SKIPS:
        raise unittest.SkipTest(SIGNAL_SKIPS[sig])
    if ignore_interrupt and IGNORED_INTERRUPT_SKIP:
        raise unittest.SkipTest(IGNORED_INTERRUPT_SKIP)
    folder = _prepare(files)
    p = subprocess.Popen(WRAPPER + [BIN], cwd=folder.name,
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE,
                         preexec_fn=lambda: _set_interrupt(ignore_interrupt))
    try:
        p.stdin.write(stdin)
        p.stdin.flush()
        seen, deadline = b"", time.monotonic() + TIMEOUT
        while not seen.endswith(prompt):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([p.stdout], [], [], left)[0]:
                raise AssertionError("no prompt; output so far: %r" % seen)
            chunk = os.read(p.stdout.fileno(), 65536)
            if not chunk:
                raise AssertionError("output ended early: %r" % seen)
            seen += chunk
        p.send_signal(sig)
        if SIGNAL_LAG:
            try:  # let the signal land before the input ends
                p.wait(SIGNAL_LAG)
            except subprocess.TimeoutExpired:
                pass
        out, err = p.communicate(then, timeout=TIMEOUT)
    finally:
        if p.poll() is None:
            p.kill()
            p.wait()
        found = _collect(folder)
    return Result(seen + out, err, p.returncode, found)


def _set_interrupt(ignore):
    # A shell starts background jobs with SIGINT ignored; the child must not
    # inherit that by accident.
    signal.signal(signal.SIGINT, signal.SIG_IGN if ignore else signal.SIG_DFL)


def first_difference(actual, expected):
    """Where two outputs part, as a short readable note."""
    a, e = actual.split(b"\n"), expected.split(b"\n")
    for i, (x, y) in enumerate(zip(a, e)):
        if x != y:
            return "line %d: got %r, expected %r" % (i + 1, x, y)
    return "got %d lines, expected %d; first extra: %r" % (
        len(a), len(e), (a[len(e):] or e[len(a):])[0])


class EndToEnd(unittest.TestCase):
    def expect(self, stdin, out, err=b"", ending=0, files=None, created=(),
               args=()):
        files = {"primes.txt": TABLE} if files is None else files
        self.verify(run(stdin, files, args), out, err, ending, files, created)

    def verify(self, result, out, err, ending, files, created=()):
        """Checks both streams and the ending exactly, that every data file
        is unchanged, and that only the `created` files appeared, empty."""
        if out is not None and result.stdout != out:
            self.fail("stdout " + first_difference(result.stdout, out))
        self.assertEqual(result.stderr, err, "stderr")
        status = ABORT_STATUS if ending == ABORT else ending
        self.assertEqual(result.status, status, "exit status")
        self.assertEqual(set(result.files), set(files) | set(created),
                         "files in the folder")
        for name, data in files.items():
            if result.files[name] != data:
                self.fail(name + " changed")
        for name in created:
            self.assertEqual(result.files[name], b"", name + " created")
