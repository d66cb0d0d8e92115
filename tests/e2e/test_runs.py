"""The real program, a run per row in a fresh folder (harness.py): output, error and ending
exact, data files unchanged, one table of rows a test."""
import mmap
import os
import resource
import signal
import unittest

from harness import (ABORT_STATUS, DIR, LE, POSIX, SANITIZED, TABLE, WRAPPER, Appended, Child,
                     Fifo, Jam, Leased, Link, Pause, Row, at_prompt, opening, run,
                     writing_blocked)

ABORT = "abort"  # expected ending: abnormal termination
ONLY = os.environ.get("ROW", "")  # by hand: run only the rows whose names hold this

RECORDS = TABLE.splitlines(keepends=True)
TABLE_VALUES = [int(v) for v in RECORDS]
# What the build's sieve wrote: the 78498 primes below one million, in LF.
assert TABLE == b"".join(b"%d\n" % v for v in sorted(set(TABLE_VALUES))) and (
    len(TABLE_VALUES), TABLE_VALUES[-1]) == (78498, 999983), "not the table"


def rec(text):  # one record holding one text item
    return b" " + text + LE


MENU = (rec(b"Qu\x8a vols fer? (1 / 2)") + rec(b"1. Introduir un nombre i factoritzar-lo.")
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


def reports(n, values=TABLE_VALUES):  # in table order
    return b"".join(report(n, m) for m in values if m and n % m == 0)


def fatal(context, message, unit=5, name=None, direction=b"reading"):  # the report's 4 lines
    return (context + b": " + message + LE + b"apparent state: unit %d " % unit
            + (b"named " + name if name else b"(unnamed)") + LE + b"last format: list io" + LE
            + b"lately " + direction + b" sequential formatted external IO" + LE)


def end_of_input(unit=5, name=None, context=b"list in"):
    return fatal(context, b"end of file", unit, name)


def list_out(message):  # a failed write-out of standard output
    return fatal(b"list out", message, 6, direction=b"writing")


PASS1 = NUMBER_PROMPT + echo(1)  # the number 1 has no report line
# factor.txt's number is the first value of its first record.
PASS2 = FROM_FILE + echo(-2 ** 63) + reports(-2 ** 63)
ONE_PASS = MENU + PASS1 + ASK
SCAN0 = MENU + NUMBER_PROMPT + echo(0)  # then a report per table value
ECHO360 = MENU + NUMBER_PROMPT + echo(360)
SCAN360 = ECHO360 + reports(360)

DIALOGUE = [
    # The menu: 1 and 2 run their option, anything else shows it again; a null answer keeps
    # the start value, which is no choice.
    Row("no choice; arguments change nothing", b",\n0\n2.5\n1\n1\n0\n",
        MENU + RETRY + MENU + RETRY + MENU + RETRY + ONE_PASS + CANCEL,
        args=["2", "-h", "factor.txt"]),
    Row("a null or a slash keeps the last choice", b"2\n1\n,\n1\n/\n0\n",
        MENU + PASS2 + ASK + RESTART + MENU + PASS2 + ASK + RESTART + MENU + PASS2 + ASK + CANCEL),
    # The continue prompt: 1 restarts, 0 stops, anything else asks again.
    Row("no answer, then restarts; a null keeps the answer", b"1\n1\n,\n5\n1\n1\n1\n,\n1\n1\n0\n",
        ONE_PASS + RETRY + ASK + RETRY + ASK + RESTART + ONE_PASS + RESTART + ONE_PASS + CANCEL),
    # A null as the first number, typed or in factor.txt, keeps the start value 1 (the table's
    # first value keeps its own in "odd table values").
    Row("a null first number", b"1\n,\n1\n2\n0\n",
        ONE_PASS + RESTART + MENU + FROM_FILE + echo(1) + ASK + CANCEL,
        files={"primes.txt": TABLE, "factor.txt": b",\n"}),
    Row("end of input", b"", MENU, end_of_input(), ABORT),
    Row("standard output full", b"1\n1\n0\n", b"", list_out(b"No space left on device"), ABORT,
        stdout="full"),
    # A parent may leave a pipe non-blocking: a write-out that finds it full, or a READ that
    # finds no input yet, waits for it.
    Row("stdout a full non-blocking pipe", b"1\n0\n0\n", SCAN0 + reports(0) + ASK + CANCEL,
        child=Child(nonblocking=[1]), jam=Jam(1)),
    Row("stdin a non-blocking pipe, the answers late", b"", ONE_PASS + CANCEL,
        child=Child(nonblocking=[0]), pause=Pause(at_prompt(MENU), then=b"1\n1\n0\n")),
]

# The write-out that STOP starts is the first to find the pipe full. A write-out waits once all
# of a pipe's pages are taken (the echo and the question take the last one), where a blocking
# write, as on Windows, waits once the last page has no room.
STOP_ROOM = mmap.PAGESIZE + len(MENU + NUMBER_PROMPT) if POSIX else len(ONE_PASS)

# Every request whose handler ends the run: (signal, message, ending).
REQUESTS = [(signal.SIGINT, b"Interrupt", 1), (signal.SIGTERM, b"Killed", 1),
            (signal.SIGABRT, b"IOT Trap", ABORT), (signal.SIGFPE, b"Floating Exception", ABORT)]
SIGNALS = [
    # Raised by the shim as the menu's write-out returns, before its records count as written:
    # the exit routine must not write them again. One request shows it: all share the hold.
    Row("SIGINT as the menu is written out", b"", MENU, b"Interrupt" + LE, 1,
        child=Child(preload="written", signal=signal.SIGINT)),
    # Each sent from outside at the menu, as a user would; these run where no shim loads too.
    *[Row("%s at the menu" % sig.name, b"", MENU, message + LE, ending,
          pause=Pause(at_prompt(MENU), sig)) for sig, message, ending in REQUESTS],
    # Held while the exit routine is registered, then handled.
    Row("termination request as atexit registers", b"", b"", b"Killed" + LE, 1,
        child=Child(preload="atexit")),
    Row("interrupt ignored at the start stays ignored", b"", ONE_PASS + CANCEL,
        child=Child(ignore=[signal.SIGINT]),
        pause=Pause(at_prompt(MENU), signal.SIGINT, b"1\n1\n0\n")),
    # The first ending completes, the jammed pipe holding up its last write.
    Row("interrupt while STOP writes out", b"1\n1\n0\n", ONE_PASS + CANCEL,
        jam=Jam(1, STOP_ROOM), pause=Pause(writing_blocked(1), signal.SIGINT)),
    Row("interrupt while the fatal report is written", b"abc\n", MENU,
        fatal(b"invalid number", b"incomprehensible list input"), ABORT, jam=Jam(2),
        pause=Pause(writing_blocked(2), signal.SIGINT)),
]


def table(name, data, out, err=b"", ending=0, **options):
    return Row(name, b"1\n360\n0\n", out, err, ending, files={"primes.txt": data}, **options)


def at_ctrl_z(unit=5, name=None):
    """In Windows text mode a Ctrl-Z ends a file's or a pipe's input, as if cut there;
    elsewhere it is an ordinary byte, and starts no number."""
    if POSIX:
        return fatal(b"invalid number", b"incomprehensible list input", unit, name)
    return end_of_input(unit, name)


# Odd records: a null keeps (and tests again) the value before; a first 1.
ODD = [b",", b"-1", b"-2", b"4", b"12", b"-12", b"64", b",", b"2*8", b"2*", b"16,7", b" 32 9",
       b"-9223372036854775808"]
ODD_TABLE = b"".join(v + b"\n" for v in ODD) + b"7\n" * (78498 - len(ODD))
ODD_VALUES = [1, -1, -2, 4, 12, -12, 64, 64, 8, 8, 16, 32, -2 ** 63]

SCAN = [
    # Distinct divisors in table order; the number itself is never divided.
    *[Row("number %d" % n, b"1\n%d\n0\n" % n,
          MENU + NUMBER_PROMPT + echo(n) + reports(n) + ASK + CANCEL)
      for n in (360, -12, 1, 999983, 1000003, 999979 * 999983, 0, 2 ** 63 - 1)],
    Row("odd table values", b"1\n-9223372036854775808\n0\n", MENU + NUMBER_PROMPT
        + echo(-2 ** 63) + reports(-2 ** 63, ODD_VALUES) + ASK + CANCEL,
        files={"primes.txt": ODD_TABLE}),
    table("one record short, no line end", b"".join(RECORDS[:-1])[:-1], SCAN360,
          end_of_input(3, b"primes.txt", b"read start"), ABORT),
    table("extra records", TABLE + b"4\n9\n", SCAN360 + ASK + CANCEL),
    table("CR LF", TABLE.replace(b"\n", b"\r\n"), SCAN360 + ASK + CANCEL),
    table("a zero after 2", b"2\n0\n" + b"".join(RECORDS[2:]), ECHO360 + report(360, 2),
          b"Floating Exception" + LE, ABORT),
    # A missing file is created empty, and its first read finds the end; one that another run
    # creates first is read as found.
    Row("primes.txt missing", b"1\n360\n0\n", ECHO360, end_of_input(3, b"primes.txt"), ABORT,
        files={}, created={"primes.txt": b""}),
    Row("primes.txt made by another run as this one creates it", b"1\n360\n0\n",
        ECHO360 + reports(360, [2, 3, 5]), end_of_input(3, b"primes.txt"), ABORT, files={},
        created={"primes.txt": b"2\n3\n5\n"}, child=Child(preload="create")),
    Row("Ctrl-Z in standard input", b"1\n360\n\x1a0\n", SCAN360 + ASK, at_ctrl_z(), ABORT),
    Row("Ctrl-Z in factor.txt", b"2\n0\n", MENU + FROM_FILE, at_ctrl_z(7, b"factor.txt"), ABORT,
        files={"primes.txt": TABLE, "factor.txt": b"\x1a84\n"}),
    table("Ctrl-Z as the last record", b"".join(RECORDS[:-1]) + b"\x1a999983\n", SCAN360,
          at_ctrl_z(3, b"primes.txt"), ABORT),
]


CUT = (SCAN0 + reports(0))[:100000]  # the output at a 100000-byte limit
# The shim's short write tears a record, and another process's line follows it.
SIBLING = (SCAN0 + reports(0))[:len(MENU + NUMBER_PROMPT) + 1000] + b"OTHER PROCESS\n"
assert not SIBLING.endswith(LE + b"OTHER PROCESS\n")
OLD = b"old\n" * 50000  # what a file held before the run


def at_limit(size):  # writes fail past `size` bytes, and no SIGXFSZ ends the run
    return Child(ignore=[signal.SIGXFSZ], limits={resource.RLIMIT_FSIZE: size})


FAULTS = [
    # No handler for SIGXFSZ; a failed write cuts back to a record.
    Row("stdout file limit, SIGXFSZ ignored", b"1\n0\n0\n", CUT[:CUT.rfind(LE) + len(LE)],
        list_out(b"File too large"), ABORT, stdout="file", child=at_limit(100000)),
    Row("stdout appended to, at the limit in its first write-out", b"1\n0\n0\n",
        OLD + MENU[:MENU.find(LE) + len(LE)],
        list_out(b"File too large"), ABORT, stdout=Appended(OLD), child=at_limit(len(OLD) + 50)),
    Row("stdout shared with another process, a short write, then no space", b"1\n0\n0\n", SIBLING,
        list_out(b"No space left on device"), ABORT, stdout="file", child=Child(preload="sibling")),
    # A wait for room tries again, and so sees what no wait reports: a full socket's reader
    # gone (SIGPIPE ignored, else it would end the run silently).
    Row("stdout a full socket, its reader shut down", b"1\n0\n0\n", b"", list_out(b"Broken pipe"),
        ABORT, stdout="socket", child=Child(ignore=[signal.SIGPIPE]),
        pause=Pause(writing_blocked(1))),
    Row("stdout file limit as the exit routine writes out", b"1\n1\n0\n", ONE_PASS,
        list_out(b"File too large"), ABORT, stdout="file", child=at_limit(len(ONE_PASS))),
    # A file opened while standard error is closed must not take its number: the report
    # would be written into the table.
    table("stderr closed, table too short", b"".join(RECORDS[:3]),
          ECHO360 + reports(360, TABLE_VALUES[:3]), b"", ABORT, child=Child(close=[2])),
    # Data files. The fault's own message, whatever mask the run inherits.
    Row("a zero table value after 64 KB of reports, the fault blocked", b"1\n0\n0\n",
        SCAN0 + reports(0, TABLE_VALUES[:59999]), b"Floating Exception" + LE, ABORT,
        child=Child(block=[signal.SIGFPE]),
        files={"primes.txt": b"".join(RECORDS[:59999] + [b"0\n"] + RECORDS[60000:])}),
    Row("factor.txt a link to nothing", b"2\n0\n", MENU + FROM_FILE,
        end_of_input(7, b"factor.txt"), ABORT, created={"number.txt": b""},
        files={"primes.txt": TABLE, "factor.txt": Link("number.txt")}),
    table("primes.txt a directory", DIR, ECHO360,
          fatal(b"list in", b"Is a directory", 3, b"primes.txt"), ABORT),
    # A FIFO is read till its writer closes it; an open that waits on another process ends at
    # an interrupt, the records before it whole.
    table("primes.txt a FIFO of 10 records", Fifo(b"".join(RECORDS[:10])),
          ECHO360 + reports(360, TABLE_VALUES[:10]), end_of_input(3, b"primes.txt"), ABORT),
    Row("factor.txt a FIFO written nothing", b"2\n0\n", MENU + FROM_FILE,
        end_of_input(7, b"factor.txt"), ABORT, files={"primes.txt": TABLE, "factor.txt": Fifo(b"")}),
    Row("interrupt while factor.txt, a FIFO, waits for a writer", b"2\n", MENU + FROM_FILE,
        b"Interrupt" + LE, 1, files={"primes.txt": TABLE, "factor.txt": Fifo()},
        pause=Pause(opening, signal.SIGINT)),
    table("interrupt while a lease on primes.txt breaks", Leased(TABLE), ECHO360,
          b"Interrupt" + LE, 1, pause=Pause(opening, signal.SIGINT)),
    # Run as nobody: a file not to be read or created is reported, unchanged.
    Row("factor.txt write-only", b"2\n0\n", MENU + FROM_FILE,
        fatal(b"open", b"Permission denied", 7, b"factor.txt", b"writing"), ABORT,
        child=Child(nobody=True), modes={"factor.txt": 0o200}),
    Row("primes.txt missing in a read-only folder", b"2\n0\n", MENU + FROM_FILE + echo(84),
        fatal(b"open", b"Permission denied", 3, b"primes.txt", b"writing"), ABORT,
        child=Child(nobody=True), modes={".": 0o555}, files={"factor.txt": b"84\n"}),
]


class Runs(unittest.TestCase):
    def check(self, rows):
        for row in filter(lambda row: ONLY in row.name, rows):
            with self.subTest(row.name):
                out, err, status, found = run(row)
                self.assertEqual(out, row.out, "stdout")
                self.assertEqual(err, row.err, "stderr")
                self.assertEqual(status, ABORT_STATUS if row.ending == ABORT else row.ending,
                                 "status")
                self.assertTrue(found == {**row.files, **row.created},
                                "files changed or added: %s" % sorted(found))

    def test_dialogue(self):
        self.check(DIALOGUE)

    def test_signals(self):
        self.check(SIGNALS)

    def test_scan(self):
        self.check(SCAN)

    @unittest.skipUnless(POSIX, "needs POSIX descriptors and signals")
    def test_faults(self):
        self.check(FAULTS)

    @unittest.skipIf(WRAPPER or SANITIZED or not POSIX,
                     "address-space limits bind only the program itself, run natively and bare")
    def test_out_of_memory(self):
        """From a roomy address space to one the program cannot start in (its loader fails, 127,
        or its C library dies before main), each run ends well, or on a whole record with the
        report of the allocation that failed, and no more."""
        full = ONE_PASS + CANCEL
        outcomes = [(full, b"", 0)] + [
            (full[:end], err, ABORT_STATUS) for err in (
                list_out(b"Cannot allocate memory"), fatal(b"list in", b"Cannot allocate memory"),
                fatal(b"list in", b"Cannot allocate memory", 3, b"primes.txt"))
            for end in [0] + [k + 1 for k, byte in enumerate(full) if byte == LE[-1]]]
        failed = 0
        for kib in range(8192, 0, -16):
            out, err, status, _ = run(Row("", b"1\n1\n0\n", full, child=Child(
                limits={resource.RLIMIT_AS: kib * 1024})))
            if status == 127 or (status == -signal.SIGSEGV and (out, err) == (b"", b"")):
                break
            with self.subTest(kib=kib):
                self.assertIn((out, err, status), outcomes)
                failed += status != 0
        self.assertGreater(failed, 0, "no allocation ever failed")


if __name__ == "__main__":
    unittest.main()
