"""The menu, the continue prompt, console input errors and signals."""
import os
import signal
import subprocess
import time
import unittest

from harness import (ABORT, ASK, CANCEL, FROM_FILE, LE, MENU, NUMBER_PROMPT,
                     POSIX_HOST, RESTART, RETRY, TABLE, TIMEOUT, WRAPPER, BIN,
                     EndToEnd, Result, _collect, _prepare, echo,
                     end_of_input, fatal, reports, run, run_signalled)

# factor.txt and the typed number both hold 1, which has no report line, so a
# pass shows only which option ran.
FILES = {"primes.txt": TABLE, "factor.txt": b"1\n"}
PASS1 = NUMBER_PROMPT + echo(1)
PASS2 = FROM_FILE + echo(1)
ONE_PASS = MENU + PASS1 + ASK


def bad(context):
    return fatal(context, b"incomprehensible list input", 5)


# (name, standard input, standard output, standard error, ending)
ROWS = [
    # Menu answers that read as exactly 1.0 run option 1.
    *[("one " + repr(t), t + b"\n1\n0\n", ONE_PASS + CANCEL, b"", 0)
      for t in (b"1", b"1.", b"1.0", b"+1", b"0.1E1", b"1.00000001", b"1e0",
                b"10d-1", b"1+0", b"1abc", b" \t1", b"1,5", b"1 2", b"1*1")],
    # Only 2.0 runs option 2; blank records before the answer are skipped.
    *[("two " + repr(t), t + b"\n0\n", MENU + PASS2 + ASK + CANCEL, b"", 0)
      for t in (b"2", b"2.0", b"\n2", b"\n \t\n2", b"0.2e1")],
    # Any other value brings the whole menu back.
    *[("retry " + repr(t), t + b"\n1\n1\n0\n",
       MENU + RETRY + ONE_PASS + CANCEL, b"", 0)
      for t in (b"0", b"3", b"1.5", b"-1", b"-2", b"0.99999", b"1e1", b"2.5",
                b",")],  # a null first answer keeps the start value 0.0
    ("null menu answer repeats option 2", b"2\n1\n,\n0\n",
     MENU + PASS2 + ASK + RESTART + MENU + PASS2 + ASK + CANCEL, b"", 0),
    ("slash menu answer repeats option 2", b"2\n1\n/\n0\n",
     MENU + PASS2 + ASK + RESTART + MENU + PASS2 + ASK + CANCEL, b"", 0),
    ("CR LF input", b"1\r\n1\r\n0\r\n", ONE_PASS + CANCEL, b"", 0),
    ("an empty repeated value keeps to its record", b"3*\n1\n7\n0\n",
     MENU + RETRY + MENU + NUMBER_PROMPT + echo(7) + reports(7) + ASK
     + CANCEL, b"", 0),

    # The continue prompt.
    ("continue 0", b"1\n1\n0\n", ONE_PASS + CANCEL, b"", 0),
    ("continue -0", b"1\n1\n-0\n", ONE_PASS + CANCEL, b"", 0),
    ("continue 5 asks again alone", b"1\n1\n5\n0\n",
     ONE_PASS + RETRY + ASK + CANCEL, b"", 0),
    ("null first continue answer", b"1\n1\n,\n0\n",
     ONE_PASS + RETRY + ASK + CANCEL, b"", 0),
    ("continue 1 restarts", b"1\n1\n1\n1\n1\n0\n",
     ONE_PASS + RESTART + ONE_PASS + CANCEL, b"", 0),
    ("null continue answer after 1 restarts", b"1\n1\n1\n1\n1\n,\n1\n1\n0\n",
     ONE_PASS + RESTART + ONE_PASS + RESTART + ONE_PASS + CANCEL, b"", 0),

    # Input the reader refuses, and the end of input.
    ("end of input at the menu", b"", MENU, end_of_input(), ABORT),
    ("only blank records", b"\n \n\t\n", MENU, end_of_input(), ABORT),
    ("end of input at the continue prompt", b"1\n1\n", ONE_PASS,
     end_of_input(), ABORT),
    ("end of input at the number prompt", b"1\n", MENU + NUMBER_PROMPT,
     end_of_input(), ABORT),
    ("answer without line end, then a read", b"1", MENU + NUMBER_PROMPT,
     end_of_input(context=b"read start"), ABORT),
    ("letters at the menu", b"abc\n", MENU, bad(b"invalid number"), ABORT),
    ("lone sign", b"-\n", MENU, bad(b"invalid number"), ABORT),
    ("lone CR is not a blank", b"1\n\r5\n", MENU + NUMBER_PROMPT,
     bad(b"invalid number"), ABORT),
    ("letters at the continue prompt", b"1\n1\nno\n", ONE_PASS,
     bad(b"invalid number"), ABORT),
    ("exponent without digits", b"1e\n", MENU, bad(b"exponent field"), ABORT),
    ("repeat count without digits", b"*5\n", MENU,
     bad(b"bad repetition count"), ABORT),
]

# (name, signal, input before it, output before it, standard error, ending)
SIGNALS = [
    ("interrupt at the menu", signal.SIGINT, b"", MENU, b"Interrupt", 1),
    ("interrupt at the number prompt", signal.SIGINT, b"1\n",
     MENU + NUMBER_PROMPT, b"Interrupt", 1),
    ("termination at the menu", signal.SIGTERM, b"", MENU, b"Killed", 1),
    ("termination at the continue prompt", signal.SIGTERM, b"1\n1\n",
     ONE_PASS, b"Killed", 1),
    ("abort at the menu", signal.SIGABRT, b"", MENU, b"IOT Trap", ABORT),
]


class Dialogue(EndToEnd):
    def test_rows(self):
        for name, stdin, out, err, ending in ROWS:
            with self.subTest(name):
                self.expect(stdin, out, err, ending, FILES)

    def test_arguments_change_nothing(self):
        self.expect(b"1\n1\n0\n", ONE_PASS + CANCEL, files=FILES,
                    args=["2", "-h", "--help", "factor.txt"])

    @unittest.skipUnless(POSIX_HOST, "needs /dev/full")
    def test_failed_write_of_standard_output(self):
        with open("/dev/full", "wb") as full:
            result = run(b"1\n1\n0\n", FILES, stdout=full)
        err = fatal(b"list out", b"No space left on device", 6,
                    direction=b"writing")
        self.verify(result, None, err, ABORT, FILES)

    @unittest.skipUnless(POSIX_HOST, "needs POSIX signals")
    def test_signals(self):
        for name, sig, stdin, out, err, ending in SIGNALS:
            with self.subTest(name):
                result = run_signalled(stdin, out, sig, FILES)
                self.verify(result, out, err + LE, ending, FILES)

    @unittest.skipUnless(POSIX_HOST, "needs POSIX signals")
    def test_interrupt_while_records_are_written(self):
        # Nothing reads the full pipe, so the interrupt comes in the middle
        # of a write: the run still ends after whole records, each once.
        full = MENU + NUMBER_PROMPT + echo(0) + reports(0) + ASK
        folder = _prepare(FILES)
        p = subprocess.Popen(WRAPPER + [BIN], cwd=folder.name,
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
        p.stdin.write(b"1\n0\n")
        p.stdin.flush()
        seen = b""
        while len(seen) < 200000:
            seen += os.read(p.stdout.fileno(), 65536)
        p.send_signal(signal.SIGINT)
        time.sleep(0.5)
        out, err = p.communicate(timeout=TIMEOUT)
        result = Result(seen + out, err, p.returncode, _collect(folder))
        self.verify(result, None, b"Interrupt" + LE, 1, FILES)
        self.assertTrue(full.startswith(result.stdout), "not the output")
        self.assertTrue(result.stdout.endswith(LE), "half a record")

    @unittest.skipUnless(POSIX_HOST, "needs POSIX signals")
    def test_interrupt_ignored_from_the_start_stays_ignored(self):
        result = run_signalled(b"", MENU, signal.SIGINT, FILES,
                               then=b"1\n1\n0\n", ignore_interrupt=True)
        self.verify(result, ONE_PASS + CANCEL, b"", 0, FILES)


if __name__ == "__main__":
    unittest.main()
