"""The real program, a run per row in a fresh folder: output, error and
ending exact, data files unchanged. Set FACTORIZER_BIN, FACTORIZER_PRIMES,
FACTORIZER_WRAPPER (an emulator) and FACTORIZER_PLATFORM."""
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
import time
import unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

BIN, PRIMES = os.environ["FACTORIZER_BIN"], os.environ["FACTORIZER_PRIMES"]
WRAPPER = list(filter(None, [os.environ.get("FACTORIZER_WRAPPER")]))
# The preloaded library that makes a race certain (race_shim.cpp); only a
# native Linux build has one.
SHIM = os.environ.get("RACE_SHIM_LIBRARY")
SANITIZED = os.environ.get("FACTORIZER_SANITIZE") == "ON"
TIMEOUT = 30

# What differs by platform: line ends, aborts, and the signals that cannot
# reach a Windows program from outside, or a program under qemu-user.
POSIX = os.environ.get("FACTORIZER_PLATFORM", "linux") != "windows"
QEMU = any(Path(part).name.startswith("qemu-") for part in WRAPPER)
# qemu-user's own line on standard error when the program dies by a signal.
QEMU_DEATH = re.compile(rb"qemu: uncaught target signal \d+ \([^)]*\) - core dumped\n\Z")
if POSIX:
    LE, ABORT_STATUS, SIGNAL_SKIPS = b"\n", -signal.SIGABRT, {}
    SETTLE, RACE_RUNS = 0.5, 5  # for a program blocked on output unread
    if QEMU:  # the program holds SIGFPE off during every write-out
        SIGNAL_SKIPS = {signal.SIGFPE: "qemu-user dies of SIGSEGV on a SIGFPE "
                        "that the program holds off"}
else:
    LE, ABORT_STATUS = b"\r\n", 3
    # Wine turns SIGINT into the console's Ctrl-C, which reaches the program
    # on a thread of its own a moment later: the input must not end first.
    SETTLE, RACE_RUNS = 5, 1
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
# What the build's sieve wrote: the 78498 primes below one million, in LF.
assert TABLE == b"".join(b"%d\n" % v for v in sorted(set(TABLE_VALUES))) and (
    len(TABLE_VALUES), TABLE_VALUES[-1]) == (78498, 999983), "not the table"
FILES = {"primes.txt": TABLE, "factor.txt": b" \r\n-9223372036854775808 7\r\n"}


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
    return b"".join(RECORDS[:position - 1] + [record] + RECORDS[position:])


def _folder(files, mode, modes, owner):
    """A scratch folder holding `files`: bytes, DIR or a Link."""
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
    """What the folder holds, then gone, made readable first: a tester who
    is not root owns the write-only ones."""
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
        send=None, then=b"", jam=None, nonblocking=(), preload=None,
        address_space=None):
    """Runs the program in a fresh folder holding `files`, its `stdout` a
    "pipe", a "file", "full" or bytes: a file holding them, opened to read
    and write. With `send`, (sig, wait), `sig` (if any) is sent once
    wait(stdout, pid) returns the output seen, then `then` is fed; with
    `jam`, (fd, room), fd is a pipe full but for `room` bytes till then.
    The descriptors `nonblocking` are left so by the parent; `preload` is
    the shim's race; `address_space` limits the program's, in bytes."""
    if send and send[0] in SIGNAL_SKIPS:
        raise unittest.SkipTest(SIGNAL_SKIPS[send[0]])
    if (ignore or block) and not POSIX:
        raise unittest.SkipTest("Wine does not carry a signal's state over")
    if preload and not SHIM:
        raise unittest.SkipTest("only a native Linux build preloads the shim")
    nobody = nobody and os.geteuid() == 0
    folder = _folder(files, mode, modes, NOBODY if nobody else None)
    out_file = (None if stdout == "pipe" else open("/dev/full", "wb")
                if stdout == "full" else tempfile.TemporaryFile())
    if isinstance(stdout, bytes):
        out_file.write(stdout)
        out_file.seek(0)
    streams = {1: out_file or subprocess.PIPE, 2: subprocess.PIPE}
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
        if address_space is not None:
            resource.setrlimit(resource.RLIMIT_AS, (address_space,) * 2)
        if QEMU:  # its core file would land among the data files
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        for fd in close:
            os.close(fd)
        for fd in nonblocking:
            os.set_blocking(fd, False)
    env = dict(os.environ, LD_PRELOAD=SHIM or "", RACE_SHIM=preload or "",
               # the shim comes before the sanitizers' run-time
               ASAN_OPTIONS="verify_asan_link_order=0") if preload else None
    p = subprocess.Popen(
        WRAPPER + [_copy_for_nobody()[1] if nobody else BIN, *args],
        cwd=folder.name, stdin=subprocess.PIPE, stdout=streams[1],
        stderr=streams[2], preexec_fn=prepare, env=env,
        **({"user": NOBODY, "group": NOBODY, "extra_groups": []}
           if nobody else {}))
    seen = b""
    try:
        if jam:
            os.close(streams[jam[0]])
        if send:
            p.stdin.write(stdin)
            p.stdin.flush()
            seen = send[1](p.stdout, p.pid)
            if send[0]:
                p.send_signal(send[0])
                with contextlib.suppress(subprocess.TimeoutExpired):
                    p.wait(SETTLE)  # let it land before the input goes on
            stdin = then
        if jam:
            drained = ThreadPoolExecutor().submit(lambda: b"".join(
                iter(lambda: os.read(jammed, 65536), b""))[filler:])
        out, err = p.communicate(stdin, timeout=TIMEOUT)
        if jam:
            out, err = {1: (drained.result(TIMEOUT), err),
                        2: (out, drained.result(TIMEOUT))}[jam[0]]
            os.close(jammed)
        err = QEMU_DEATH.sub(b"", err) if QEMU else err
        if out_file and stdout != "full":
            out = os.pread(out_file.fileno(), 1 << 24, 0)
    finally:
        p.kill()
        p.wait()
        if out_file:
            out_file.close()
        found = _collect(folder)
    return seen + (out or b""), err, p.returncode, found


def at_prompt(prompt):
    """A wait: until the output so far, read off the pipe, which nobody
    reads after that, ends with `prompt`."""
    def wait(out, pid):
        seen, deadline = b"", time.monotonic() + TIMEOUT
        while not seen.endswith(prompt):
            if time.monotonic() > deadline:
                raise AssertionError("waited in vain; output: %r" % seen)
            if select.select([out], [], [], 0.1)[0]:
                chunk = os.read(out.fileno(), 65536)
                if not chunk:
                    raise AssertionError("output ended early: %r" % seen)
                seen += chunk
        return seen
    return wait


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
    """One run: output, error, ending (a status, ABORT or minus a signal),
    the options of run() and `created`, the files it must create empty."""
    return name, stdin, out, err, ending, options


PASS1 = NUMBER_PROMPT + echo(1)  # the number 1 has no report line
# factor.txt's number is the first value of its first record.
PASS2 = FROM_FILE + echo(-2 ** 63) + reports(-2 ** 63)
ONE_PASS = MENU + PASS1 + ASK
SCAN0 = MENU + NUMBER_PROMPT + echo(0)  # then a report per table value
ECHO360 = MENU + NUMBER_PROMPT + echo(360)
SCAN360 = ECHO360 + reports(360)

DIALOGUE = [
    # The menu: 1 and 2 run their option, anything else shows it again; a
    # null answer keeps the start value, which is no choice.
    row("no choice; arguments change nothing", b"0\n2.5\n,\n1\n1\n0\n",
        MENU + RETRY + MENU + RETRY + MENU + RETRY + ONE_PASS + CANCEL,
        args=["2", "-h", "factor.txt"]),
    row("a null or a slash keeps the last choice", b"2\n1\n,\n1\n/\n0\n",
        MENU + PASS2 + ASK + RESTART + MENU + PASS2 + ASK + RESTART + MENU
        + PASS2 + ASK + CANCEL),
    # The continue prompt: 1 restarts, 0 stops, anything else asks again.
    row("no answer, then restarts; a null keeps the answer",
        b"1\n1\n,\n5\n1\n1\n1\n,\n1\n1\n0\n", ONE_PASS + RETRY + ASK + RETRY
        + ASK + RESTART + ONE_PASS + RESTART + ONE_PASS + CANCEL),
    row("end of input", b"", MENU, end_of_input(), ABORT),
    row("standard output full", b"1\n1\n0\n", b"",
        fatal(b"list out", b"No space left on device", 6,
              direction=b"writing"), ABORT, stdout="full"),
    # A parent may leave a pipe non-blocking: a write-out that finds it full,
    # or a READ that finds no input yet, waits for it.
    row("stdout a full non-blocking pipe", b"1\n0\n0\n",
        SCAN0 + reports(0) + ASK + CANCEL, nonblocking=[1], jam=(1, 0)),
    row("stdin a non-blocking pipe, the answers late", b"", ONE_PASS + CANCEL,
        nonblocking=[0], send=(None, at_prompt(MENU)), then=b"1\n1\n0\n"),
]

# Every request whose handler ends the run: (signal, message, ending).
REQUESTS = [(signal.SIGINT, b"Interrupt", 1), (signal.SIGTERM, b"Killed", 1),
            (signal.SIGABRT, b"IOT Trap", ABORT),
            (signal.SIGFPE, b"Floating Exception", ABORT)]
SIGNALS = [
    # Each lands as the menu's write-out returns, before its records count
    # as written: the exit routine must not write them again. Without the
    # hold that prevents it, most of these runs fail.
    *[row("%s at the menu, run %d" % (sig.name, k), b"", MENU, message + LE,
          ending, send=(sig, at_prompt(MENU)))
      for sig, message, ending in REQUESTS for k in range(RACE_RUNS)],
    # Held while the exit routine is registered, then handled.
    row("termination request as atexit registers", b"", b"", b"Killed" + LE,
        1, preload="atexit"),
    row("interrupt ignored at the start stays ignored", b"",
        ONE_PASS + CANCEL, ignore=[signal.SIGINT],
        send=(signal.SIGINT, at_prompt(MENU)), then=b"1\n1\n0\n"),
    # The first ending completes, the jammed pipe holding up its last write.
    row("interrupt while STOP writes out", b"1\n1\n0\n", ONE_PASS + CANCEL,
        jam=(1, len(ONE_PASS)), send=(signal.SIGINT, writing_blocked(1))),
    row("interrupt while the fatal report is written", b"abc\n", MENU,
        fatal(b"invalid number", b"incomprehensible list input"), ABORT,
        jam=(2, 0), send=(signal.SIGINT, writing_blocked(2))),
]


def table(name, data, out, err=b"", ending=0, **options):
    return row(name, b"1\n360\n0\n", out, err, ending,
               files={"primes.txt": data}, **options)


def at_ctrl_z(unit=5, name=None):
    """In Windows text mode a Ctrl-Z ends a file's or a pipe's input, as if
    cut there; elsewhere it is an ordinary byte, and starts no number."""
    if POSIX:
        return fatal(b"invalid number", b"incomprehensible list input", unit,
                     name)
    return end_of_input(unit, name)


# Odd records: a null keeps (and tests again) the value before; a first 1.
ODD = [b",", b"-1", b"-2", b"4", b"12", b"-12", b"64", b",", b"2*8", b"2*",
       b"16,7", b" 32 9", b"-9223372036854775808"]
ODD_TABLE = b"".join(v + b"\n" for v in ODD) + b"7\n" * (78498 - len(ODD))
ODD_VALUES = [1, -1, -2, 4, 12, -12, 64, 64, 8, 8, 16, 32, -2 ** 63]

SCAN = [
    # Distinct divisors in table order; the number itself is never divided.
    *[row("number %d" % n, b"1\n%d\n0\n" % n, MENU + NUMBER_PROMPT + echo(n)
          + reports(n) + ASK + CANCEL) for n in (
              360, -12, 1, 999983, 1000003, 999979 * 999983, 0, 2 ** 63 - 1,
              -2 ** 63)],
    row("odd table values", b"1\n-9223372036854775808\n0\n", MENU
        + NUMBER_PROMPT + echo(-2 ** 63) + reports(-2 ** 63, ODD_VALUES) + ASK
        + CANCEL, files={"primes.txt": ODD_TABLE}),
    table("one record short, no line end", b"".join(RECORDS[:-1])[:-1],
          SCAN360, end_of_input(3, b"primes.txt", b"read start"), ABORT),
    table("extra records", TABLE + b"4\n9\n", SCAN360 + ASK + CANCEL),
    table("CR LF", TABLE.replace(b"\n", b"\r\n"), SCAN360 + ASK + CANCEL),
    table("a zero after 2", b"2\n0\n" + b"".join(RECORDS[2:]),
          ECHO360 + report(360, 2), b"Floating Exception" + LE, ABORT),
    # A missing file is created empty, and its first read finds the end; one
    # that another run creates first is read as found.
    row("primes.txt missing", b"1\n360\n0\n", ECHO360,
        end_of_input(3, b"primes.txt"), ABORT, files={},
        created={"primes.txt": b""}),
    row("primes.txt made by another run as this one creates it",
        b"1\n360\n0\n", ECHO360 + reports(360, [2, 3, 5]),
        end_of_input(3, b"primes.txt"), ABORT, files={},
        created={"primes.txt": b"2\n3\n5\n"}, preload="create"),
    row("Ctrl-Z in standard input", b"1\n360\n\x1a0\n", SCAN360 + ASK,
        at_ctrl_z(), ABORT),
    row("Ctrl-Z in factor.txt", b"2\n0\n", MENU + FROM_FILE,
        at_ctrl_z(7, b"factor.txt"), ABORT,
        files={"primes.txt": TABLE, "factor.txt": b"\x1a84\n"}),
    table("Ctrl-Z as the last record", b"".join(RECORDS[:-1])
          + b"\x1a999983\n", SCAN360, at_ctrl_z(3, b"primes.txt"), ABORT),
]


OUT_OF_MEMORY = [fatal(b"list out", b"Cannot allocate memory", 6,
                       direction=b"writing"),
                 fatal(b"list in", b"Cannot allocate memory")]
CUT = (SCAN0 + reports(0))[:100000]  # the output at a 100000-byte limit
OLD = b"old\n" * 50000  # what a file held before the run

FAULTS = [
    # No handler for SIGXFSZ, SIGHUP; a failed write cuts back to a record.
    row("stdout file limit, SIGXFSZ ignored", b"1\n0\n0\n",
        CUT[:CUT.rfind(LE) + len(LE)],
        fatal(b"list out", b"File too large", 6, direction=b"writing"),
        ABORT, stdout="file", fsize=100000, ignore=[signal.SIGXFSZ]),
    row("stdout a longer file, read and written, at the limit", b"1\n0\n0\n",
        CUT + OLD[len(CUT):],
        fatal(b"list out", b"File too large", 6, direction=b"writing"),
        ABORT, stdout=OLD, fsize=100000, ignore=[signal.SIGXFSZ]),
    row("SIGHUP has no handler", b"", MENU, b"", -signal.SIGHUP,
        send=(signal.SIGHUP, at_prompt(MENU))),
    # A file opened while standard error is closed must not take its
    # number: the report would be written into the table.
    row("stderr closed, table too short", b"1\n360\n0\n",
        ECHO360 + reports(360, TABLE_VALUES[:3]), b"", ABORT, close=[2],
        files={"primes.txt": b"".join(RECORDS[:3])}),
    # Data files. The fault's own message, whatever mask the run inherits.
    row("a zero table value after 64 KB of reports, the fault blocked",
        b"1\n0\n0\n", SCAN0 + reports(0, TABLE_VALUES[:59999]),
        b"Floating Exception" + LE, ABORT, block=[signal.SIGFPE],
        files={"primes.txt": table_with(60000, b"0\n")}),
    row("factor.txt a link to nothing", b"2\n0\n", MENU + FROM_FILE,
        end_of_input(7, b"factor.txt"), ABORT,
        files={"primes.txt": TABLE, "factor.txt": Link("number.txt")},
        created={"number.txt": b""}),
    row("primes.txt a directory", b"1\n360\n0\n", ECHO360,
        fatal(b"list in", b"Is a directory", 3, b"primes.txt"), ABORT,
        files={"primes.txt": DIR}),
    # Run as nobody: a file not to be read or created is reported, unchanged.
    row("factor.txt write-only", b"2\n0\n", MENU + FROM_FILE,
        fatal(b"open", b"Permission denied", 7, b"factor.txt", b"writing"),
        ABORT, nobody=True,
        modes={"factor.txt": 0o200}),
    row("primes.txt missing in a read-only folder", b"2\n0\n",
        MENU + FROM_FILE + echo(84),
        fatal(b"open", b"Permission denied", 3, b"primes.txt", b"writing"),
        ABORT,
        nobody=True, mode=0o555, files={"factor.txt": b"84\n"}),
]


class Runs(unittest.TestCase):
    def check(self, rows):
        """Runs each row: only the `created` files may appear, empty."""
        for name, stdin, out, err, ending, options in rows:
            with self.subTest(name):
                options = dict(options)
                expected = {**options.setdefault("files", FILES),
                            **options.pop("created", {})}
                got, stderr, status, found = run(stdin, **options)
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

    @unittest.skipIf(WRAPPER or SANITIZED or not POSIX, "address-space limits"
                     " bind only the program itself, run natively and bare")
    def test_out_of_memory(self):
        """From a roomy address space down to one the program cannot start
        in: each run completes, or ends through the report of the
        allocation that failed, with nothing else on standard error."""
        full, reports_seen = ONE_PASS + CANCEL, 0
        for kib in range(8192, 0, -16):
            try:
                out, err, status, _ = run(b"1\n1\n0\n",
                                          address_space=kib * 1024)
            except OSError:  # too tight to start the program at all
                break
            if status == 127 and b"error while loading" in err:
                break  # the loader's own failure, before the program
            with self.subTest(kib=kib):
                if status == 0:
                    self.assertEqual((out, err), (full, b""))
                    continue
                self.assertIn(err, OUT_OF_MEMORY)
                self.assertEqual(status, ABORT_STATUS)
                self.assertEqual(out, full[:len(out)])  # whole records
                self.assertIn(out[-1:], (b"", b"\n"))
                reports_seen += 1
        self.assertGreater(reports_seen, 0, "no allocation ever failed")


if __name__ == "__main__":
    unittest.main()
