"""The real program, one run per row: the dialogue, the divisor scan, and
the fault matrix of broken streams, odd files and requests that end the run.
Each row states standard output, standard error and the ending exactly, and
every run checks that the data files are left byte for byte as they were.
Environment: FACTORIZER_BIN, FACTORIZER_PRIMES (the 78498 primes below one
million), FACTORIZER_WRAPPER (an emulator's path) and FACTORIZER_PLATFORM."""
import contextlib
import fcntl
import functools
import os
import re
import resource
import select
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest
from pathlib import Path

BIN, PRIMES = os.environ["FACTORIZER_BIN"], os.environ["FACTORIZER_PRIMES"]
WRAPPER = list(filter(None, [os.environ.get("FACTORIZER_WRAPPER")]))
TIMEOUT = 30

# What differs by platform: the line end on standard output and error, what
# an abort looks like, and the signals that cannot reach a Windows program
# from outside, or a program of another CPU under qemu-user.
POSIX = os.environ.get("FACTORIZER_PLATFORM", "linux") != "windows"
QEMU = any(Path(part).name.startswith("qemu-") for part in WRAPPER)
# qemu-user's own line on standard error when the program dies by a signal.
QEMU_DEATH = re.compile(rb"qemu: uncaught target signal \d+ \([^)]*\) - core dumped\n\Z")
if POSIX:
    LE, ABORT_STATUS, SIGNAL_SKIPS = b"\n", -signal.SIGABRT, {}
    SETTLE = 0.5  # for a program blocked on output that nobody reads yet
    RACE_RUNS = 5
    if QEMU:  # the program holds SIGFPE off during every write-out
        SIGNAL_SKIPS = {signal.SIGFPE: "qemu-user dies of SIGSEGV on a SIGFPE "
                        "that the program holds off"}
else:
    LE, ABORT_STATUS = b"\r\n", 3
    # Wine turns SIGINT into the console's Ctrl-C, which reaches the program
    # on a thread of its own a moment later: the input must not end first.
    SETTLE = 5
    RACE_RUNS = 1
    SIGNAL_SKIPS = dict.fromkeys(
        (signal.SIGTERM, signal.SIGABRT, signal.SIGFPE),
        "Windows raises this signal only from inside; Wine ends the process "
        "on it, or takes it as its own failure")
ABORT = "abort"  # expected ending: abnormal termination
DIR = "<directory>"  # a folder entry that is no file


class Link(str):
    """A folder entry that is a symbolic link to this name."""


NOBODY = 65534

TABLE = Path(PRIMES).read_bytes()
RECORDS = TABLE.splitlines(keepends=True)
TABLE_VALUES = [int(v) for v in RECORDS]
assert len(TABLE_VALUES) == 78498, "the table must hold 78498 records"
FILES = {"primes.txt": TABLE, "factor.txt": b"84\n"}


def rec(text):  # one record holding one text item
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
    return b" El nombre \x82s %d" % n + LE


def report(n, m):
    return b" El nombre %d \x82s divisible entre %d" % (n, m) + LE


def reports(n, values=TABLE_VALUES):
    """Report lines of the number n against a table, in table order."""
    return b"".join(report(n, m) for m in values if m and n % m == 0)


def fatal(context, message, unit=5, name=None, direction=b"reading"):
    """The four lines of the fatal I/O error report on standard error."""
    where = b"named " + name if name else b"(unnamed)"
    return (context + b": " + message + LE
            + b"apparent state: unit %d " % unit + where + LE
            + b"last format: list io" + LE + b"lately " + direction
            + b" sequential formatted external IO" + LE)


def end_of_input(unit=5, name=None, context=b"list in"):
    return fatal(context, b"end of file", unit, name)


def table_with(position, record):
    """The table with its record number `position` (from 1) replaced."""
    return b"".join(RECORDS[:position - 1] + [record] + RECORDS[position:])


class Prefix(bytes):
    """Output cut off where nobody can predict: whole records of it, once."""


def _folder(files, mode, modes, owner):
    """A scratch folder holding `files` (bytes or DIR)."""
    folder = tempfile.TemporaryDirectory(prefix="factorizer-")
    for name, data in files.items():
        if isinstance(data, Link):
            Path(folder.name, name).symlink_to(data)
        elif data == DIR:
            Path(folder.name, name).mkdir()
        else:
            Path(folder.name, name).write_bytes(data)
    for path in [folder.name] + [Path(folder.name, n) for n in files]:
        if owner is not None:
            os.chown(path, owner, owner)
    for name, m in (modes or {}).items():
        os.chmod(Path(folder.name, name), m)
    os.chmod(folder.name, mode)
    return folder


def _collect(folder):
    """What the folder holds, then gone: name -> bytes, DIR or a Link.
    Entries are made readable first: a tester who is not root owns the
    write-only ones."""
    entries = list(Path(folder.name).iterdir())
    for path in entries:
        if not path.is_symlink():
            path.chmod(0o700)
    found = {path.name: Link(os.readlink(path)) if path.is_symlink()
             else DIR if path.is_dir() else path.read_bytes()
             for path in entries}
    os.chmod(folder.name, 0o755)
    folder.cleanup()
    return found


@functools.cache
def _copy_for_nobody():
    """The program where nobody reaches it (not under /root, say)."""
    folder = tempfile.TemporaryDirectory(prefix="factorizer-")
    os.chmod(folder.name, 0o755)
    return folder, shutil.copy(BIN, folder.name)


def run(stdin=b"", files=FILES, args=(), stdout="pipe", close=(), ignore=(),
        block=(), fsize=None, nobody=False, mode=0o755, modes=None,
        send=None, then=b"", jam=None):
    """Runs the program once in a fresh folder holding `files`, with
    `stdout` a "pipe", a "file", "full" (/dev/full) or "gone" (a pipe whose
    reader is gone). With `send`, (sig, wait), `sig` is sent once
    wait(stdout, pid) returns the output seen, then `then` is fed. With
    `jam`, (fd, room), descriptor fd is a pipe full but for `room` bytes,
    drained only once the signal is sent. The rest: descriptors closed,
    signals ignored or blocked, a file size limit, running as nobody, and
    the modes of the folder and of its entries."""
    if send and send[0] in SIGNAL_SKIPS:
        raise unittest.SkipTest(SIGNAL_SKIPS[send[0]])
    if (ignore or block) and not POSIX:
        raise unittest.SkipTest("Wine does not carry a signal's state over")
    nobody = nobody and os.geteuid() == 0
    folder = _folder(files, mode, modes, NOBODY if nobody else None)
    sink = out_file = None
    if stdout == "gone":
        reader, sink = os.pipe()
        os.close(reader)
    elif stdout != "pipe":
        sink = out_file = (tempfile.TemporaryFile() if stdout == "file"
                           else open("/dev/full", "wb"))
    streams = {1: subprocess.PIPE if sink is None else sink,
               2: subprocess.PIPE}
    if jam:
        jammed, streams[jam[0]] = os.pipe()
        filler = fcntl.fcntl(jammed, fcntl.F_GETPIPE_SZ) - jam[1]
        os.write(streams[jam[0]], bytes(filler))

    def prepare():
        # A shell starts background jobs with SIGINT ignored: not inherited.
        for sig in (signal.SIGINT, *ignore):
            signal.signal(sig, signal.SIG_IGN if sig in ignore
                          else signal.SIG_DFL)
        signal.pthread_sigmask(signal.SIG_BLOCK, block)
        if fsize is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (fsize, fsize))
        if QEMU:  # its core file would land among the data files
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        for fd in close:
            os.close(fd)
    p = subprocess.Popen(
        WRAPPER + [_copy_for_nobody()[1] if nobody else BIN, *args],
        cwd=folder.name, stdin=subprocess.PIPE, stdout=streams[1],
        stderr=streams[2], preexec_fn=prepare,
        **({"user": NOBODY, "group": NOBODY, "extra_groups": []}
           if nobody else {}))
    seen = b""
    try:
        if stdout == "gone":
            os.close(sink)
        if jam:
            os.close(streams[jam[0]])
        if send:
            p.stdin.write(stdin)
            p.stdin.flush()
            seen = send[1](out_file or p.stdout, p.pid)
            p.send_signal(send[0])
            with contextlib.suppress(subprocess.TimeoutExpired):
                p.wait(SETTLE)  # let it land before the input goes on
            stdin = then
        if jam:
            drained = []
            drainer = threading.Thread(target=lambda: drained.append(
                b"".join(iter(lambda: os.read(jammed, 65536), b""))))
            drainer.start()
        out, err = p.communicate(stdin, timeout=TIMEOUT)
        if jam:
            drainer.join(TIMEOUT)
            os.close(jammed)
            out, err = (drained[0][filler:], err) if jam[0] == 1 \
                else (out, drained[0][filler:])
        err = QEMU_DEATH.sub(b"", err) if QEMU else err
        if stdout == "file":
            out = _contents(out_file)
    finally:
        p.kill()
        p.wait()
        if out_file:
            out_file.close()
        found = _collect(folder)
    return ((seen if sink is None else b"") + (out or b""), err,
            p.returncode, found, seen)


def _contents(file):
    return os.pread(file.fileno(), os.fstat(file.fileno()).st_size, 0)


def after(done):
    """A wait: until done(the output so far), read off the pipe (which
    nobody reads after that) or from the file as the program writes it."""
    def wait(out, pid):
        seen, deadline = b"", time.monotonic() + TIMEOUT
        while not done(seen):
            if time.monotonic() > deadline:
                raise AssertionError("waited in vain; output: %r" % seen)
            if out.seekable():
                seen = _contents(out)
            elif select.select([out], [], [], 0.1)[0]:
                chunk = os.read(out.fileno(), 65536)
                if not chunk:
                    raise AssertionError("output ended early: %r" % seen)
                seen += chunk
        return seen
    return wait


def at_prompt(prompt):
    return after(lambda seen: seen.endswith(prompt))


def writing_blocked(fd):
    """A wait: until the program sleeps in a call on the pipe that is its
    descriptor `fd`, which only a write that a jammed pipe holds up does."""
    def wait(out, pid):
        deadline = time.monotonic() + TIMEOUT
        while True:
            call = Path("/proc/%d/syscall" % pid).read_text().split()
            with contextlib.suppress(OSError, IndexError, ValueError):
                if os.readlink("/proc/%d/fd/%d" % (pid, int(call[1], 16))) \
                        == os.readlink("/proc/%d/fd/%d" % (pid, fd)):
                    return b""
            if time.monotonic() > deadline:
                raise AssertionError("never blocked writing")
            time.sleep(0.01)
    return wait


def row(name, stdin, out, err=b"", ending=0, **options):
    """One run: standard output (exact, a Prefix or None), standard error,
    the ending (a status, ABORT or minus a signal), the options of run()
    and `created`, the files it must create empty."""
    return name, stdin, out, err, ending, options


PASS1 = NUMBER_PROMPT + echo(1)  # the number 1 has no report line
PASS2 = FROM_FILE + echo(84) + reports(84)  # factor.txt holds 84
ONE_PASS = MENU + PASS1 + ASK
SCAN0 = MENU + NUMBER_PROMPT + echo(0)  # then a report per table value
ECHO360 = MENU + NUMBER_PROMPT + echo(360)
SCAN360 = ECHO360 + reports(360)

DIALOGUE = [
    # The menu: 1 and 2 run their option, anything else shows it again; a
    # null answer keeps the start value, which is no choice.
    row("menu 1, then 0; arguments change nothing", b"1\n1\n0\n",
        ONE_PASS + CANCEL, args=["2", "-h", "factor.txt"]),
    row("no choice", b"0\n2.5\n,\n1\n1\n0\n",
        MENU + RETRY + MENU + RETRY + MENU + RETRY + ONE_PASS + CANCEL),
    row("a null or a slash keeps the last choice", b"2\n1\n,\n1\n/\n0\n",
        MENU + PASS2 + ASK + RESTART + MENU + PASS2 + ASK + RESTART + MENU
        + PASS2 + ASK + CANCEL),
    row("an empty repeated value keeps to its record", b"3*\n1\n7\n0\n",
        MENU + RETRY + MENU + NUMBER_PROMPT + echo(7) + reports(7) + ASK
        + CANCEL),
    # The continue prompt: 1 restarts, 0 stops, anything else asks again.
    row("no answer", b"1\n1\n,\n5\n0\n",
        ONE_PASS + RETRY + ASK + RETRY + ASK + CANCEL),
    row("restarts, a null keeps the answer", b"1\n1\n1\n1\n1\n,\n1\n1\n0\n",
        ONE_PASS + RESTART + ONE_PASS + RESTART + ONE_PASS + CANCEL),
    # Input that ends the run.
    row("end of input", b"", MENU, end_of_input(), ABORT),
    row("end of input after an answer without line end", b"1",
        MENU + NUMBER_PROMPT, end_of_input(context=b"read start"), ABORT),
    row("a point in the typed number", b"1\n12.0\n", MENU + NUMBER_PROMPT,
        fatal(b"invalid integer", b"read unexpected character"), ABORT),
    row("standard output full", b"1\n1\n0\n", None,
        fatal(b"list out", b"No space left on device", 6,
              direction=b"writing"), ABORT, stdout="full"),
]

# Every request whose handler ends the run: (signal, message, ending).
REQUESTS = [(signal.SIGINT, b"Interrupt", 1), (signal.SIGTERM, b"Killed", 1),
            (signal.SIGABRT, b"IOT Trap", ABORT),
            (signal.SIGFPE, b"Floating Exception", ABORT)]
SIGNALS = [
    # Each lands as the menu's write-out returns, before its records count
    # as written: the exit routine must not write them again. Without the
    # hold that prevents it, most runs here fail; a few make it certain.
    *[row("%s at the menu, run %d" % (sig.name, k), b"", MENU, message + LE,
          ending, send=(sig, at_prompt(MENU)))
      for sig, message, ending in REQUESTS for k in range(RACE_RUNS)],
    row("interrupt ignored at the start stays ignored", b"",
        ONE_PASS + CANCEL, ignore=[signal.SIGINT],
        send=(signal.SIGINT, at_prompt(MENU)), then=b"1\n1\n0\n"),
    # Nobody reads the full pipe, so the request comes in the middle of a
    # write: the run still ends after whole records, each once.
    row("interrupt while records are written", b"1\n0\n",
        Prefix(SCAN0 + reports(0) + ASK), b"Interrupt" + LE, 1,
        send=(signal.SIGINT, after(lambda seen: len(seen) >= 200000))),
    # The first ending decided completes; a request after it changes
    # nothing. The jammed pipe holds the ending up in its last write.
    row("interrupt while STOP writes out", b"1\n1\n0\n", ONE_PASS + CANCEL,
        jam=(1, len(ONE_PASS)), send=(signal.SIGINT, writing_blocked(1))),
    row("interrupt while the fatal report is written", b"abc\n", MENU,
        fatal(b"invalid number", b"incomprehensible list input"), ABORT,
        jam=(2, 0), send=(signal.SIGINT, writing_blocked(2))),
]


def typed(n, table=TABLE):
    """A pass with the number n typed in, then the answer 0."""
    return row("number %d" % n, b"1\n%d\n0\n" % n,
               MENU + NUMBER_PROMPT + echo(n) + reports(n) + ASK + CANCEL,
               files={"primes.txt": table})


def table(name, data, out, err=b"", ending=0, **options):
    return row(name, b"1\n360\n0\n", out, err, ending,
               files={"primes.txt": data}, **options)


# Table records taken as they come: a null keeps the previous value (at
# first a harmless 1), which is tested again; only a record's first counts.
ODD = [b",", b"-1", b"-2", b"4", b"12", b"-12", b"5", b",", b"3*3", b"2*",
       b"7,8", b" 6 9", b"-9223372036854775808"]
ODD_TABLE = b"".join(v + b"\n" for v in ODD) + b"7\n" * (78498 - len(ODD))
ODD_VALUES = [1, -1, -2, 4, 12, -12, 5, 5, 3, 3, 7, 6, -2 ** 63]
SHORT = b"".join(RECORDS[:-1])  # one record short

SCAN = [
    # Distinct divisors in table order; the number itself is never divided.
    row("number 360", b"1\n360\n0\n", ECHO360 + report(360, 2)
        + report(360, 3) + report(360, 5) + ASK + CANCEL),
    *[typed(n) for n in (-12, 1, 999983, 1000003, 999979 * 999983, 0,
                         2 ** 63 - 1, -2 ** 63)],
    typed(999983, TABLE[:-1]),  # the last record without its line end
    *[row("number %d, odd table values" % n, b"1\n%d\n0\n" % n,
          MENU + NUMBER_PROMPT + echo(n) + reports(n, ODD_VALUES) + ASK
          + CANCEL, files={"primes.txt": ODD_TABLE})
      for n in (-12, -2 ** 63)],
    # The number from factor.txt: the first value of its first record.
    row("factor.txt holding two values after a blank record, in CR LF",
        b"2\n0\n", MENU + FROM_FILE + echo(-2 ** 63) + reports(-2 ** 63) + ASK
        + CANCEL, files={"primes.txt": TABLE,
                         "factor.txt": b" \r\n-9223372036854775808 7\r\n"}),
    # Every pass opens both files again and reads them from the start; the
    # null number of the third pass keeps the 12 typed on the first.
    row("every pass reads both files from the start",
        b"1\n12\n1\n2\n1\n1\n,\n0\n",
        MENU + NUMBER_PROMPT + echo(12) + reports(12) + ASK + RESTART
        + MENU + PASS2 + ASK + RESTART
        + MENU + NUMBER_PROMPT + echo(12) + reports(12) + ASK + CANCEL),
    # Tables of other lengths and line ends.
    table("one record short", SHORT, SCAN360,
          end_of_input(3, b"primes.txt"), ABORT),
    table("one record short, no line end", SHORT[:-1], SCAN360,
          end_of_input(3, b"primes.txt", b"read start"), ABORT),
    table("extra records", TABLE + b"4\n9\n", SCAN360 + ASK + CANCEL),
    table("CR LF", TABLE.replace(b"\n", b"\r\n"), SCAN360 + ASK + CANCEL),
    table("a zero after 5", b"2\n3\n5\n0\n" + b"".join(RECORDS[4:]),
          SCAN360, b"Floating Exception" + LE, ABORT),
    table("a zero after 2, the fault blocked at the start",
          b"2\n0\n" + b"".join(RECORDS[2:]), ECHO360 + report(360, 2),
          b"Floating Exception" + LE, ABORT, block=[signal.SIGFPE]),
    # A missing file is created empty, and its first read finds the end.
    row("primes.txt missing", b"1\n360\n0\n", ECHO360,
        end_of_input(3, b"primes.txt"), ABORT, files={},
        created=["primes.txt"]),
    row("factor.txt missing", b"2\n0\n", MENU + FROM_FILE,
        end_of_input(7, b"factor.txt"), ABORT, files={"primes.txt": TABLE},
        created=["factor.txt"]),
]


def list_out(error):
    return fatal(b"list out", error, 6, direction=b"writing")


def denied(unit, name):
    return fatal(b"open", b"Permission denied", unit, name,
                 direction=b"writing")


CUT = (SCAN0 + reports(0))[:100000]  # the output at a 100000-byte limit

FAULTS = [
    # Standard streams. SIGXFSZ, SIGPIPE and SIGHUP have no handler: their
    # default ends the run. Ignored, a failed write is reported, and a file
    # is cut back to its last whole record.
    row("stdout closed", b"1\n360\n0\n", b"",
        list_out(b"Bad file descriptor"), ABORT, close=[1]),
    row("stdout reader gone, SIGPIPE ignored", b"1\n360\n0\n", None,
        list_out(b"Broken pipe"), ABORT, stdout="gone",
        ignore=[signal.SIGPIPE]),
    row("stdout file limit, SIGXFSZ ignored", b"1\n0\n0\n",
        CUT[:CUT.rfind(LE) + len(LE)], list_out(b"File too large"), ABORT,
        stdout="file", fsize=100000, ignore=[signal.SIGXFSZ]),
    row("SIGHUP has no handler", b"", MENU, b"", -signal.SIGHUP,
        send=(signal.SIGHUP, at_prompt(MENU))),
    row("stdin closed", b"", MENU,
        fatal(b"list in", b"Bad file descriptor"), ABORT, close=[0]),
    # A file opened while standard error is closed must not take its
    # number: the report would be written into the table.
    row("stderr closed, table too short", b"1\n360\n0\n",
        ECHO360 + reports(360, TABLE_VALUES[:3]), b"", ABORT, close=[2],
        files={"primes.txt": b"".join(RECORDS[:3])}),
    # Data files.
    row("a zero table value after 64 KB of reports", b"1\n0\n0\n",
        SCAN0 + reports(0, TABLE_VALUES[:59999]), b"Floating Exception" + LE,
        ABORT, files={"primes.txt": table_with(60000, b"0\n")}),
    row("factor.txt in UTF-8 with a mark", b"2\n0\n", MENU + FROM_FILE,
        fatal(b"invalid number", b"incomprehensible list input", 7,
              b"factor.txt"), ABORT,
        files={"primes.txt": TABLE, "factor.txt": b"\xef\xbb\xbf84\n"}),
    row("factor.txt a link to nothing", b"2\n0\n", MENU + FROM_FILE,
        end_of_input(7, b"factor.txt"), ABORT,
        files={"primes.txt": TABLE, "factor.txt": Link("number.txt")},
        created=["number.txt"]),
    row("primes.txt a directory", b"1\n360\n0\n", ECHO360,
        fatal(b"list in", b"Is a directory", 3, b"primes.txt"), ABORT,
        files={"primes.txt": DIR}),
    # Permissions, run as nobody. A file that cannot be opened for writing
    # is read; one that cannot be read is reported, never emptied.
    row("everything read-only", b"2\n0\n", MENU + PASS2 + ASK + CANCEL,
        nobody=True, mode=0o555,
        modes={"factor.txt": 0o444, "primes.txt": 0o444}),
    row("factor.txt write-only", b"2\n0\n", MENU + FROM_FILE,
        denied(7, b"factor.txt"), ABORT, nobody=True,
        modes={"factor.txt": 0o200}),
    row("primes.txt missing in a read-only folder", b"2\n0\n",
        MENU + FROM_FILE + echo(84), denied(3, b"primes.txt"), ABORT,
        nobody=True, mode=0o555, files={"factor.txt": b"84\n"}),
    # Requests just after the menu, while the program, fed ahead, goes on
    # to open the files: the exit routine must not meet an allocation half
    # done.
    *[row("%s as the files open" % sig.name, b"1\n0\n",
          Prefix(SCAN0 + reports(0) + ASK), message + LE, ending,
          stdout="file", send=(sig, after(lambda seen: len(seen) > len(MENU))))
      for sig, message, ending in REQUESTS],
]


class Runs(unittest.TestCase):
    def check(self, rows):
        """Runs each row, and checks both streams and the ending exactly,
        that every data file is unchanged and that only the `created` files
        appeared, empty."""
        for name, stdin, out, err, ending, options in rows:
            with self.subTest(name):
                options = dict(options)
                expected = {**options.setdefault("files", FILES),
                            **dict.fromkeys(options.pop("created", ()), b"")}
                got, stderr, status, found, seen = run(stdin, **options)
                self.assertTrue(got.startswith(seen), "output lost")
                if isinstance(out, Prefix):
                    self.assertTrue(out.startswith(got), "not the output")
                    self.assertTrue(got.endswith(LE), "half a record")
                elif out is not None:
                    self.assertEqual(got, out, "stdout")
                self.assertEqual(stderr, err, "stderr")
                self.assertEqual(status, ABORT_STATUS
                                 if ending == ABORT else ending, "status")
                self.assertTrue(found == expected, "data files changed or "
                                "added: %s" % sorted(found))

    def test_dialogue(self):
        self.check(DIALOGUE + SIGNALS)

    def test_scan(self):
        self.check(SCAN)

    @unittest.skipUnless(POSIX, "needs POSIX descriptors and signals")
    def test_faults(self):
        self.check(FAULTS)

    def test_shipped_table(self):
        # What the build's sieve wrote: the primes below one million, in LF.
        self.assertEqual((TABLE_VALUES[0], TABLE_VALUES[-1]), (2, 999983))
        self.assertEqual(sorted(set(TABLE_VALUES)), TABLE_VALUES)
        self.assertEqual(b"".join(b"%d\n" % v for v in TABLE_VALUES), TABLE)


if __name__ == "__main__":
    unittest.main()
