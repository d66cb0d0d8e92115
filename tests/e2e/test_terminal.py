"""The program in a real terminal, tmux, read in UTF-8: on Linux behind tools/cp850-terminal
as the README starts it, for Windows in Wine's console."""
import os
import shlex
import shutil
import subprocess
import termios
import time
import unittest
from pathlib import Path, PureWindowsPath

TOOL = Path(__file__).resolve().parents[2] / "tools" / "cp850-terminal"
BIN = Path(os.environ.get("FACTORIZER_BIN", "factorizer"))
WRAPPER = shlex.join(filter(None, [os.environ.get("FACTORIZER_WRAPPER")]))
WINDOWS = os.environ.get("FACTORIZER_PLATFORM") == "windows"
HERE = "cd %s && " % shlex.quote(str(BIN.parent))
# A build for another CPU runs behind the pass-through under its emulator.
LINUX = HERE + "%s %s ./%s; echo exit status $?" % (shlex.quote(str(TOOL)), WRAPPER, BIN.name)
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

MENU = ((), [" Què vols fer? (1 / 2)"])
PASS = [MENU, (("1", "Enter"), [" Introdueix el nombre que vols factoritzar."]),
        (("360", "Enter"), [" El nombre és 360", " El nombre 360 és divisible entre 5",
                            " Vols seguir? (S 1 / N 0)"]),
        (("0", "Enter"), [" Tasca cancel·lada."])]
PAGE_BACK = ["UTF-8 again: és"]

# (name, platform, start command, steps: keys typed, then the lines shown)
ROWS = [
    ("pass_reads_in_utf8", "linux", LINUX, PASS + [((), ["exit status 0"])]),
    ("ctrl_c_interrupts", "linux", LINUX, [MENU, (("C-c",), ["^CInterrupt", "exit status 1"])]),
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
            elif keys:
                self.tmux_run("send-keys", *keys)
            self.screen_shows(*lines)

    def tmux_run(self, *command):
        return subprocess.run(self.tmux + list(command), capture_output=True, check=True,
                              encoding="utf-8").stdout

    def screen_shows(self, *lines):
        """Waits until all `lines` (or, with none, anything) are shown."""
        deadline = time.monotonic() + WAIT
        while True:
            screen = self.tmux_run("capture-pane", "-p")
            shown = [line.rstrip() for line in screen.splitlines()]
            if all(line in shown for line in lines) and any(shown):
                return
            if time.monotonic() > deadline:
                self.fail("not on the screen: %r\n%s" % (lines, screen))
            time.sleep(0.1)

    def console_takes_terminal(self):
        """Waits for Wine's console to make the terminal raw, at the program's first read:
        before, the terminal cooks keys, Enter into a bare ^J."""
        deadline = time.monotonic() + WAIT
        tty = self.tmux_run("display", "-p", "#{pane_tty}").strip()
        with open(tty) as terminal:
            while termios.tcgetattr(terminal)[3] & termios.ICANON:
                self.assertLess(time.monotonic(), deadline, "never made raw")
                time.sleep(0.05)

    def interrupt_program(self):
        """Wine turns SIGINT into the console's Ctrl-C. The key would send it to Wine's cmd too,
        which ends on it and runs nothing after, so it goes to the program of this terminal's
        session alone."""
        session = self.tmux_run("display", "-p", "#{pane_pid}").strip()
        subprocess.run(["pkill", "-INT", "-s", session, "-x", BIN.name], check=True)


for name, *rest in ROWS:
    setattr(Terminal, "test_" + name, lambda self, r=rest: self.run_row(*r))

if __name__ == "__main__":
    unittest.main()
