"""The program in a real terminal, tmux, read in UTF-8: on Linux behind the built cp850-terminal
as the README starts it, for Windows in Wine's console; and the pass-through fed by a pipe."""
import os
import shlex
import shutil
import signal
import subprocess
import termios
import time
import unittest
from collections import Counter
from pathlib import Path, PureWindowsPath

BIN = Path(os.environ.get("FACTORIZER_BIN", "factorizer"))
EMULATOR = list(filter(None, [os.environ.get("FACTORIZER_WRAPPER")]))
WRAPPER = shlex.join(EMULATOR)
WINDOWS = os.environ.get("FACTORIZER_PLATFORM") == "windows"
HERE = "cd %s && " % shlex.quote(str(BIN.parent))
# A build for another CPU runs the pass-through and the program each under its emulator.
TERMINAL = EMULATOR + [os.environ.get("CP850_TERMINAL", "cp850-terminal")]
LINUX = HERE + "%s %s ./%s; echo exit status $?" % (shlex.join(TERMINAL), WRAPPER, BIN.name)
# Wine's chcp shows the input code page, so what tells the output page that the program puts
# back is a UTF-8 line copied to the console after the run, by its bare name from its folder:
# Wine's cmd finds no quoted name here.
UTF8 = HERE + "%s cmd /c %s" % (WRAPPER, shlex.quote(
    "chcp 65001 >nul & %s & cd Z:%s & copy /b code-page-check.txt CON"
    % (BIN.name, PureWindowsPath(Path(__file__).parent))))
SKIPS = {"linux": WINDOWS and "a Windows console shows code page 850 itself",  # why not here
         "windows": not (WINDOWS and shutil.which("pkill"))
         and "the console rows run in the Windows suite, under Wine, and need pkill"}
INTERRUPT = "interrupt"  # Ctrl-C for the program alone, as Wine gives it
WAIT = 10  # seconds for a screen to show, as for a run's waits in harness.py
RESIZE = "resize"  # the window becomes 80 columns by 40 lines

MENU = ((), [" Què vols fer? (1 / 2)"])
PASS = [MENU, (("1", "Enter"), [" Introdueix el nombre que vols factoritzar."]),
        (("360", "Enter"), [" El nombre és 360", " El nombre 360 és divisible entre 5",
                            " Vols seguir? (S 1 / N 0)"]),
        (("0", "Enter"), [" Tasca cancel·lada."])]
PAGE_BACK = ["UTF-8 again: és"]

# (name, platform, start command, steps: keys typed, then the lines shown)
ROWS = [
    ("ctrl_c_interrupts", "linux", LINUX, [MENU, (("C-c",), ["^CInterrupt", "exit status 1"])]),
    # The program's terminal takes the size of ours, and its changes.
    ("window_size", "linux", HERE + "%s sh -c 'stty size; read x; stty size'" % shlex.join(TERMINAL),
     [((), ["50 100"]), ((RESIZE, "Enter"), ["40 80"])]),
    # The end of input sticks: the READ after it asks the terminal no more.
    ("end_of_input_sticks", "linux", LINUX, PASS[:2] + [
        (("5", "C-d", "C-d"), [" El nombre 5 és divisible entre 5", "read start: end of file"])]),
    ("console_at_65001", "windows", UTF8, PASS + [((), PAGE_BACK)]),
    ("console_at_65001_fatal_report", "windows", UTF8,
     [MENU, (("a", "Enter"), ["invalid number: incomprehensible list input"] + PAGE_BACK)]),
    ("console_at_65001_interrupt", "windows", UTF8,
     [MENU, (INTERRUPT, ["Interrupt"] + PAGE_BACK)]),
    # The key reaches the console, not the terminal's job control.
    ("console_ctrl_z_ends_input", "windows", "stty susp undef; " + UTF8,
     [MENU, (("C-z", "Enter"), ["list in: end of file"] + PAGE_BACK)]),
]


@unittest.skipUnless(shutil.which("tmux"), "tmux is not installed")
class Terminal(unittest.TestCase):
    def run_row(self, platform, start, steps):
        if SKIPS[platform]:
            self.skipTest(SKIPS[platform])
        # A server of its own, so that no tmux of the user's is touched.
        self.tmux = ["tmux", "-u", "-f", "/dev/null", "-L",
                     "factorizer-%d-%s" % (os.getpid(), self.id())]
        env = dict(os.environ, LC_ALL="C.UTF-8", TERM="xterm")
        subprocess.run(self.tmux + ["new-session", "-d", "-x", "100", "-y", "50", "sh"], env=env,
                       check=True)
        self.addCleanup(subprocess.run, self.tmux + ["kill-server"])
        self.screen_shows()  # typing starts once the shell prompts
        self.tmux_run("send-keys", start, "Enter")
        if platform == "windows":
            self.console_takes_terminal()
        for keys, lines in steps:
            if keys == INTERRUPT:
                self.interrupt_program()
            elif keys and keys[0] == RESIZE:
                self.tmux_run("resize-window", "-x", "80", "-y", "40")
                self.tmux_run("send-keys", *keys[1:])
            elif keys:
                self.tmux_run("send-keys", *keys)
            self.screen_shows(*lines)

    def tmux_run(self, *command):
        return subprocess.run(self.tmux + list(command), capture_output=True, check=True,
                              encoding="utf-8").stdout

    def screen_shows(self, *lines):  # all `lines`, or with none, anything
        deadline = time.monotonic() + WAIT
        while True:
            screen = self.tmux_run("capture-pane", "-p")
            shown = [line.rstrip() for line in screen.splitlines()]
            if all(line in shown for line in lines) and any(shown):
                return
            if time.monotonic() > deadline:
                self.fail("not on the screen: %r\n%s" % (lines, screen))
            time.sleep(0.1)

    def console_takes_terminal(self):  # Wine's console makes it raw at the first read: before,
        # the terminal cooks keys, Enter into a bare ^J
        deadline = time.monotonic() + WAIT
        tty = self.tmux_run("display", "-p", "#{pane_tty}").strip()
        with open(tty) as terminal:
            while termios.tcgetattr(terminal)[3] & termios.ICANON:
                self.assertLess(time.monotonic(), deadline, "never made raw")
                time.sleep(0.05)

    def interrupt_program(self):  # the console's Ctrl-C, for the program alone: Wine's cmd
        # would end on it too, and run nothing after
        session = self.tmux_run("display", "-p", "#{pane_pid}").strip()
        subprocess.run(["pkill", "-INT", "-s", session, "-x", BIN.name], check=True)


for name, *rest in ROWS:
    setattr(Terminal, "test_" + name, lambda self, r=rest: self.run_row(*r))


def utf8(text):
    return text.encode("utf-8")


# 10,000 answers at once, 20 KB, 1.3 MB of output: 3 at the menu again and again, then a scan.
PASTE = b"3\n" * 9997 + b"1\n1\n0\n"
CANCEL = utf8(" Tasca cancel·lada.\r\n")
# (name, input, command after the pass-through, what its output and error hold, ending)
PIPED = [
    # The last line's end is missing: the program still reads 0, then the end of its input.
    ("input_without_line_end", b"1\n360\n0", [BIN], CANCEL, 0),
    ("program_killed", b"1\nabc\n", [BIN], b"invalid number: incomprehensible list input",
     -signal.SIGABRT),
    # Typed é and € reach the program as code page 850 (€ has no form there).
    ("typed_in_code_page_850", utf8("é€\n"), ["od", "-An", "-tx1"], b" 82 3f 0a\r\n", 0),
    ("program_not_started", b"", ["./no-such-program"], b"\ncp850-terminal: cannot start "
     b"./no-such-program: No such file or directory\n", 127),
]


@unittest.skipIf(WINDOWS, "a Windows console shows code page 850 itself")
class Piped(unittest.TestCase):
    def through(self, stdin, command):
        command = [*EMULATOR, str(command[0])] if command[0] == BIN else command
        return subprocess.run(TERMINAL + command, input=stdin, capture_output=True,
                              cwd=BIN.parent, timeout=WAIT)

    def test_rows(self):
        for name, stdin, command, holds, ending in PIPED:
            with self.subTest(name):
                done = self.through(stdin, command)
                shown = b"\n".join([done.stdout, done.stderr])
                self.assertEqual(shown.count(holds), 1, shown[-300:])
                self.assertEqual(done.returncode, ending)

    def test_paste_arrives_whole(self):
        """All the program's output arrives, in order; the terminal mixes its echo of the
        answers into it, and drops some of that when its output is full."""
        bare = subprocess.run([*EMULATOR, BIN], input=PASTE, capture_output=True,
                              cwd=BIN.parent, timeout=WAIT).stdout
        done = self.through(PASTE, [BIN])
        shown = bare.decode("cp850").replace("\n", "\r\n").encode()
        arrived = iter(done.stdout)
        self.assertTrue(all(byte in arrived for byte in shown), "output lost")
        self.assertLessEqual(set(Counter(done.stdout) - Counter(shown)), set(PASTE + b"\r"))
        self.assertEqual(done.returncode, 0)


if __name__ == "__main__":
    unittest.main()
