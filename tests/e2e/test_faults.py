"""The fault matrix: the real program against broken and closed streams,
signals wherever it waits or writes, odd data files and odd input. Each case
states the exact ending (status or signal) and standard error, and checks
that standard output holds every record written before the end, ending on a
whole record, and that every data file is left byte for byte as it was.
End of input at the first prompts and /dev/full are in test_dialogue."""
import fcntl
import os
import resource
import select
import shutil
import signal
import stat
import struct
import subprocess
import tempfile
import termios
import time
import unittest

from harness import (ABORT, ASK, BIN, CANCEL, FROM_FILE, LE, MENU,
                     NUMBER_PROMPT, POSIX, RESTART, RETRY, TABLE,
                     TABLE_VALUES, TIMEOUT, WRAPPER, EndToEnd, Result, echo,
                     end_of_input, fatal, reports, run_signalled)

DIR, FIFO = "<directory>", "<fifo>"  # folder entries that are not files
FILES = {"primes.txt": TABLE, "factor.txt": b"84\n"}
RECORDS = TABLE.splitlines(keepends=True)
TEN_MB = 10 * 1024 * 1024
NOBODY = 65534
ROOT = POSIX and os.geteuid() == 0

PASS1 = NUMBER_PROMPT + echo(1)  # the number 1 has no report line
PASS2 = FROM_FILE + echo(84) + reports(84)
SCAN0 = MENU + NUMBER_PROMPT + echo(0)  # then a report per table value
SCAN360 = MENU + NUMBER_PROMPT + echo(360)


def table_with(position, record):
    """The table with its record number `position` (from 1) replaced."""
    return b"".join(RECORDS[:position - 1] + [record] + RECORDS[position:])


def unreadable(context, unit=5, name=None):
    return fatal(context, b"incomprehensible list input", unit, name)


def whole_records(output):
    """What stays of output cut off part way: its whole records."""
    return output[:output.rfind(LE) + len(LE)]


def list_out(error):
    return fatal(b"list out", error, 6, direction=b"writing")


class Folder:
    """A scratch folder holding `files` (bytes, DIR or FIFO), with `modes`
    applied to entries and `mode` to the folder itself."""

    def __init__(self, files, mode=0o755, modes=None):
        self._tmp = tempfile.TemporaryDirectory(prefix="factorizer-")
        self.path = self._tmp.name
        for name, data in files.items():
            path = os.path.join(self.path, name)
            if data == DIR:
                os.mkdir(path)
            elif data == FIFO:
                os.mkfifo(path)
            else:
                with open(path, "wb") as f:
                    f.write(data)
        for name, m in (modes or {}).items():
            os.chmod(os.path.join(self.path, name), m)
        os.chmod(self.path, mode)

    def collect(self):
        found = {}
        for name in os.listdir(self.path):
            path = os.path.join(self.path, name)
            kind = os.lstat(path).st_mode
            if stat.S_ISDIR(kind) or stat.S_ISFIFO(kind):
                found[name] = DIR if stat.S_ISDIR(kind) else FIFO
            else:
                with open(path, "rb") as f:
                    found[name] = f.read()
        os.chmod(self.path, 0o755)
        self._tmp.cleanup()
        return found


_copies = {}


def _binary(nobody):
    """The program; for nobody, a copy it can reach wherever the build tree
    lies (a tree under /root is closed to it)."""
    if not nobody:
        return BIN
    if not _copies:
        _copies["folder"] = tempfile.TemporaryDirectory(prefix="factorizer-")
        _copies["bin"] = os.path.join(_copies["folder"].name, "factorizer")
        shutil.copy(BIN, _copies["bin"])
        os.chmod(_copies["folder"].name, 0o755)
    return _copies["bin"]


def launch(folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
           stderr=subprocess.PIPE, close=(), ignore=(), fsize=None,
           nobody=False):
    """Starts the program in `folder` with the descriptors in `close` closed,
    the signals in `ignore` ignored, a file size limit, and as nobody (when
    the tests run as root, so that permissions hold)."""
    def prepare():
        for sig in ignore:
            signal.signal(sig, signal.SIG_IGN)
        if fsize is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (fsize, fsize))
        for fd in close:
            os.close(fd)
    nobody = nobody and ROOT
    user = {"user": NOBODY, "group": NOBODY, "extra_groups": []} \
        if nobody else {}
    return subprocess.Popen(WRAPPER + [_binary(nobody)], cwd=folder.path,
                            stdin=stdin, stdout=stdout, stderr=stderr,
                            preexec_fn=prepare, **user)


def run_case(stdin, files=FILES, stdout="pipe", close=(), mode=0o755,
             modes=None, **options):
    """Runs once to the end. `stdout` is "pipe", "file", "closed" or "gone"
    (a pipe whose reader has gone); `stdin` None is closed."""
    folder = Folder(files, mode, modes)
    close, sink, out_file = tuple(close), subprocess.PIPE, None
    if stdout == "file":
        sink = out_file = tempfile.TemporaryFile()
    elif stdout == "closed":
        sink, close = None, close + (1,)
    elif stdout == "gone":
        reader, sink = os.pipe()
        os.close(reader)
    if stdin is None:
        close += (0,)
    try:
        p = launch(folder, None if stdin is None else subprocess.PIPE, sink,
                   None if 2 in close else subprocess.PIPE, close, **options)
        if stdout == "gone":
            os.close(sink)
        out, err = p.communicate(stdin, timeout=TIMEOUT)
        if out_file is not None:
            out_file.seek(0)
            out = out_file.read()
    finally:
        if out_file is not None:
            out_file.close()
        found = folder.collect()
    return Result(out, err or b"", p.returncode, found)


def run_interrupted(stdin, sig, files, wait):
    """Runs with standard output to a file and standard input kept open,
    sends `sig` once `wait(p, folder, out)` returns, and collects the end.
    Returns the result and what `wait` returned."""
    folder = Folder(files)
    out_file = tempfile.TemporaryFile()
    p = launch(folder, stdout=out_file)
    try:
        p.stdin.write(stdin)
        p.stdin.flush()
        seen = wait(p, folder, out_file.fileno())
        p.send_signal(sig)
        _, err = p.communicate(timeout=TIMEOUT)
    finally:
        if p.poll() is None:
            p.kill()
            p.wait()
        out_file.seek(0)
        out = out_file.read()
        out_file.close()
        found = folder.collect()
    return Result(out, err, p.returncode, found), seen


def table_read_after(records):
    """A wait: feeds the FIFO primes.txt the first `records` table records,
    then waits until the program sleeps in the READ of the next one."""
    def wait(p, folder, _):
        fifo = os.open(os.path.join(folder.path, "primes.txt"),
                       os.O_RDWR | os.O_NONBLOCK)
        data = b"".join(RECORDS[:records])
        deadline = time.monotonic() + TIMEOUT
        try:
            while data or not _sleeps_on_table(p.pid, fifo):
                if time.monotonic() > deadline or p.poll() is not None:
                    raise AssertionError("the scan never waited for a record")
                if data and select.select([], [fifo], [], 0.01)[1]:
                    data = data[os.write(fifo, data[:65536]):]
                elif not data:
                    time.sleep(0.002)
        finally:
            os.close(fifo)  # the program holds the FIFO open itself
    return wait


def _sleeps_on_table(pid, fifo):
    """The FIFO is drained and the program sleeps in a read of a descriptor
    above the standard ones."""
    pending = struct.unpack("i", fcntl.ioctl(fifo, termios.FIONREAD,
                                             b"\0" * 4))[0]
    with open("/proc/%d/syscall" % pid) as f:
        call = f.read().split()
    return pending == 0 and call[0] == "0" and int(call[1], 16) > 2


def output_beyond(size):
    """A wait: until the output file holds more than `size` bytes, wherever
    the program then is. Returns what the file held."""
    def wait(p, folder, out):
        deadline = time.monotonic() + TIMEOUT
        while (held := os.fstat(out).st_size) <= size:
            if time.monotonic() > deadline:
                raise AssertionError("no output")
        return os.pread(out, held, 0)
    return wait


# (name, standard input, run options, standard output, standard error,
#  ending). None as input: standard input closed; as output: unchecked.
ROWS = [
    # Standard streams.
    ("stdout closed", b"1\n360\n0\n", {"stdout": "closed"}, None,
     list_out(b"Bad file descriptor"), ABORT),
    # SIGPIPE has no handler: its default action ends the run, no report.
    ("stdout reader gone", b"1\n360\n0\n", {"stdout": "gone"}, None, b"",
     -signal.SIGPIPE),
    ("stdout reader gone, SIGPIPE ignored", b"1\n360\n0\n",
     {"stdout": "gone", "ignore": [signal.SIGPIPE]}, None,
     list_out(b"Broken pipe"), ABORT),
    # A full medium takes what fits; the failed write then cuts the file
    # back to its last whole record. Killed by SIGXFSZ, nothing can cut it.
    ("stdout file limit, SIGXFSZ ignored", b"1\n0\n0\n",
     {"stdout": "file", "fsize": 100000, "ignore": [signal.SIGXFSZ]},
     whole_records((SCAN0 + reports(0))[:100000]), list_out(b"File too large"), ABORT),
    ("stdout file limit", b"1\n0\n0\n", {"stdout": "file", "fsize": 100000},
     (SCAN0 + reports(0))[:100000], b"", -signal.SIGXFSZ),
    ("stdin closed", None, {}, MENU,
     fatal(b"list in", b"Bad file descriptor", 5), ABORT),
    ("stdin ends at the continue prompt asked again", b"1\n1\n7\n", {},
     MENU + PASS1 + ASK + RETRY + ASK, end_of_input(), ABORT),
    ("stdin ends at the menu shown again", b"9\n", {}, MENU + RETRY + MENU,
     end_of_input(), ABORT),
    ("stdin ends at the menu after a restart", b"1\n1\n1\n", {},
     MENU + PASS1 + ASK + RESTART + MENU, end_of_input(), ABORT),
    ("stdin ends inside the number's record", b"1\n12", {},
     MENU + NUMBER_PROMPT + echo(12) + reports(12) + ASK,
     end_of_input(context=b"read start"), ABORT),
    # A file opened while standard error is closed must not take its
    # number: the report would be written into the table.
    ("stderr closed, table too short", b"1\n360\n0\n",
     {"close": [2], "files": {"primes.txt": b"".join(RECORDS[:3])}},
     SCAN360 + reports(360, TABLE_VALUES[:3]), b"", ABORT),

    # Data files.
    ("zero table value after many reports", b"1\n0\n0\n",
     {"files": {"primes.txt": table_with(60000, b"0\n")}},
     SCAN0 + reports(0, TABLE_VALUES[:59999]), b"Floating Exception" + LE,
     ABORT),
    ("10 MB table record", b"1\n360\n0\n",
     {"files": {"primes.txt": table_with(1, b"2" + b" " * TEN_MB + b"\n")}},
     SCAN360 + reports(360) + ASK + CANCEL, b"", 0),
    ("10 MB of zeros before 84 in factor.txt", b"2\n0\n",
     {"files": {"primes.txt": TABLE, "factor.txt": b"0" * TEN_MB + b"84"}},
     MENU + PASS2 + ASK + CANCEL, b"", 0),
    ("NUL after a table value", b"1\n360\n0\n",
     {"files": {"primes.txt": table_with(1, b"2\x00\n")}},
     SCAN360 + reports(360) + ASK + CANCEL, b"", 0),
    ("NUL as a table record", b"1\n360\n0\n",
     {"files": {"primes.txt": table_with(4, b"\x00\n")}},
     SCAN360 + reports(360, TABLE_VALUES[:3]),
     unreadable(b"invalid number", 3, b"primes.txt"), ABORT),
    ("factor.txt in UTF-8 with a mark", b"2\n0\n",
     {"files": {"primes.txt": TABLE, "factor.txt": b"\xef\xbb\xbf84\n"}},
     MENU + FROM_FILE, unreadable(b"invalid number", 7, b"factor.txt"),
     ABORT),
    ("primes.txt a directory", b"1\n360\n0\n", {"files": {"primes.txt": DIR}},
     SCAN360, fatal(b"list in", b"Is a directory", 3, b"primes.txt"), ABORT),
    ("factor.txt a directory", b"2\n0\n",
     {"files": {"primes.txt": TABLE, "factor.txt": DIR}}, MENU + FROM_FILE,
     fatal(b"list in", b"Is a directory", 7, b"factor.txt"), ABORT),
    ("factor.txt empty", b"2\n0\n",
     {"files": {"primes.txt": TABLE, "factor.txt": b""}}, MENU + FROM_FILE,
     end_of_input(7, b"factor.txt"), ABORT),
    ("primes.txt empty", b"1\n360\n0\n", {"files": {"primes.txt": b""}},
     SCAN360, end_of_input(3, b"primes.txt"), ABORT),
    ("factor.txt read-only", b"2\n0\n",
     {"nobody": True, "modes": {"factor.txt": 0o444}},
     MENU + PASS2 + ASK + CANCEL, b"", 0),
    ("everything read-only", b"2\n0\n",
     {"nobody": True, "mode": 0o555,
      "modes": {"factor.txt": 0o444, "primes.txt": 0o444}},
     MENU + PASS2 + ASK + CANCEL, b"", 0),
    ("factor.txt unreadable", b"2\n0\n",
     {"nobody": True, "modes": {"factor.txt": 0o000}}, MENU + FROM_FILE,
     fatal(b"open", b"Permission denied", 7, b"factor.txt",
           direction=b"writing"), ABORT),
    # Write-only: opening it to write would empty it; it is reported instead.
    ("factor.txt write-only", b"2\n0\n",
     {"nobody": True, "modes": {"factor.txt": 0o200}}, MENU + FROM_FILE,
     fatal(b"open", b"Permission denied", 7, b"factor.txt",
           direction=b"writing"), ABORT),
    ("primes.txt missing in a read-only folder", b"1\n360\n0\n",
     {"nobody": True, "mode": 0o555, "files": {}}, SCAN360,
     fatal(b"open", b"Permission denied", 3, b"primes.txt",
           direction=b"writing"), ABORT),

    # Console input.
    ("10 MB of text after the menu answer",
     b"1 " + b"x" * TEN_MB + b"\n1\n0\n", {}, MENU + PASS1 + ASK + CANCEL,
     b"", 0),
    ("10 MB of blanks before the menu answer", b" " * TEN_MB + b"2\n0\n",
     {}, MENU + PASS2 + ASK + CANCEL, b"", 0),
    ("10 MB of digits as the number", b"1\n" + b"9" * TEN_MB + b"\n0\n", {},
     MENU + NUMBER_PROMPT,
     fatal(b"invalid integer", b"integer out of range", 5), ABORT),
    ("NUL before the menu answer", b"\x001\n", {}, MENU,
     unreadable(b"invalid number"), ABORT),
    ("NUL and high bytes after answers", b"1\x00\n1\xff\n0\x8a\n", {},
     MENU + PASS1 + ASK + CANCEL, b"", 0),
    ("high byte as the menu answer", b"\x8a\n", {}, MENU,
     unreadable(b"invalid number"), ABORT),
    ("lone CR after a repeat count", b"1\n3*\r5\n", {}, MENU + NUMBER_PROMPT,
     unreadable(b"invalid number"), ABORT),
]

# (name, standard input, the output that shows the prompt)
PROMPTS = [
    ("menu", b"", MENU),
    ("number prompt", b"1\n", MENU + NUMBER_PROMPT),
    ("continue prompt", b"1\n1\n", MENU + PASS1 + ASK),
    ("continue prompt asked again", b"1\n1\n7\n",
     MENU + PASS1 + ASK + RETRY + ASK),
    ("menu after a restart", b"2\n1\n", MENU + PASS2 + ASK + RESTART + MENU),
]
# Every request whose handler ends the run: (signal, message, ending).
EXIT_SIGNALS = [(signal.SIGINT, b"Interrupt", 1), (signal.SIGTERM, b"Killed", 1),
                (signal.SIGABRT, b"IOT Trap", ABORT),
                (signal.SIGFPE, b"Floating Exception", ABORT)]


@unittest.skipUnless(POSIX, "needs POSIX descriptors, signals and /proc")
class Faults(EndToEnd):
    def test_rows(self):
        for name, stdin, options, out, err, ending in ROWS:
            with self.subTest(name):
                files = options.get("files", FILES)
                result = run_case(stdin, **options)
                self.verify(result, out, err, ending, files)

    def test_reader_gone_after_the_menu(self):
        folder = Folder(FILES)
        p = launch(folder)
        try:
            got = b""
            while len(got) < len(MENU):
                got += os.read(p.stdout.fileno(), 65536)
            p.stdout.close()
            _, err = p.communicate(b"1\n360\n0\n", timeout=TIMEOUT)
        finally:
            found = folder.collect()
        self.verify(Result(got, err, p.returncode, found), MENU, b"",
                    -signal.SIGPIPE, FILES)

    def test_signals_at_every_prompt(self):
        for (name, stdin, out), (sig, message, ending) in (
                (p, s) for p in PROMPTS for s in EXIT_SIGNALS):
            with self.subTest(name, signal=sig.name):
                result = run_signalled(stdin, out, sig, FILES)
                self.verify(result, out, message + LE, ending, FILES)

    def test_requests_racing_the_menu_write_out(self):
        # The request lands as the menu's write-out returns, before its
        # records count as written: the exit routine must not write them
        # again. Busy processors stretch that window; so do many runs.
        busy = [subprocess.Popen(["python3", "-c", "while True: pass"])
                for _ in range(os.cpu_count() or 2)]
        try:
            for sig, message, ending in EXIT_SIGNALS:
                for run in range(30):
                    with self.subTest(signal=sig.name, run=run):
                        result = run_signalled(b"", MENU, sig, FILES)
                        self.verify(result, MENU, message + LE, ending, FILES)
        finally:
            for spinner in busy:
                spinner.kill()
                spinner.wait()

    def test_signals_inside_a_table_read(self):
        files = {"primes.txt": FIFO, "factor.txt": b"84\n"}
        for name, stdin, records, out in [
                ("option 1", b"1\n1\n", 1000, MENU + PASS1),
                ("option 2, factor.txt open", b"2\n", 50000, MENU + PASS2),
                ("number 0, in the middle of its output", b"1\n0\n", 40000,
                 SCAN0 + reports(0, TABLE_VALUES[:40000]))]:
            for sig, message, ending in EXIT_SIGNALS:
                with self.subTest(name, signal=sig.name):
                    result, _ = run_interrupted(stdin, sig, files,
                                                table_read_after(records))
                    self.verify(result, out, message + LE, ending, files)
        with self.subTest("hangup has no handler: buffered records are lost"):
            result, _ = run_interrupted(b"1\n0\n", signal.SIGHUP, files,
                                        table_read_after(40000))
            full = SCAN0 + reports(0, TABLE_VALUES[:40000])
            self.verify(result, None, b"", -signal.SIGHUP, files)
            self.assertLess(len(result.stdout), len(full))
            self.assertTrue(full.startswith(result.stdout))
            self.assertTrue(result.stdout.endswith(LE))

    def test_signals_racing_the_output(self):
        full = SCAN0 + reports(0) + ASK
        for (sig, message, ending), size in ((s, n) for s in EXIT_SIGNALS
                                             for n in (len(MENU), 1000000)):
            with self.subTest(signal=sig.name, after=size):
                result, seen = run_interrupted(b"1\n0\n", sig, FILES,
                                               output_beyond(size))
                self.verify(result, None, message + LE, ending, FILES)
                out = result.stdout
                self.assertTrue(out.startswith(seen), "lost output")
                self.assertTrue(full.startswith(out), "not the output")
                self.assertTrue(out.endswith(LE), "half a record")


if __name__ == "__main__":
    unittest.main()
