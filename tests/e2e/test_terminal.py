"""What the README's start command runs, in a real terminal: the program in
its build folder behind tools/cp850-terminal, inside tmux. Keys are typed
with send-keys, and the screen must read as a person reads it, in UTF-8,
with Ctrl-C and the exit status passed through."""
import os
import shlex
import shutil
import subprocess
import time
import unittest
from pathlib import Path

TOOL = Path(__file__).resolve().parents[2] / "tools" / "cp850-terminal"
BIN = Path(os.environ.get("FACTORIZER_BIN", "factorizer"))
NATIVE = (os.environ.get("FACTORIZER_PLATFORM", "linux") == "linux"
          and not os.environ.get("FACTORIZER_WRAPPER"))
START = "cd %s && %s ./%s; echo exit status $?" % (
    shlex.quote(str(BIN.parent)), shlex.quote(str(TOOL)), BIN.name)
TIMEOUT = 30


@unittest.skipUnless(shutil.which("tmux"), "tmux is not installed")
@unittest.skipUnless(NATIVE, "the pass-through is for a UTF-8 terminal on "
                     "Linux; a Windows console shows code page 850 itself")
class Terminal(unittest.TestCase):
    def setUp(self):
        # A server of our own, so that no tmux of the user's is touched.
        self.tmux = ["tmux", "-u", "-f", "/dev/null", "-L",
                     "factorizer-%d-%s" % (os.getpid(), self.id())]
        env = dict(os.environ, LC_ALL="C.UTF-8", TERM="xterm")
        subprocess.run(self.tmux + ["new-session", "-d", "-x", "100", "-y",
                                    "50", "sh"], env=env, check=True)
        self.addCleanup(subprocess.run, self.tmux + ["kill-server"])
        self.screen_shows()  # typing starts once the shell prompts

    def keys(self, *keys):
        subprocess.run(self.tmux + ["send-keys", *keys], check=True)

    def screen_shows(self, *lines):
        """Waits until every one of `lines` is a line of the screen, or with
        no `lines`, until anything is."""
        deadline = time.monotonic() + TIMEOUT
        while True:
            screen = subprocess.run(self.tmux + ["capture-pane", "-p"],
                                    capture_output=True, check=True).stdout
            shown = [line.rstrip() for line in screen.decode().splitlines()]
            if all(line in shown for line in lines) and any(shown):
                return
            if time.monotonic() > deadline:
                self.fail("not on the screen: %r\n%s"
                          % (lines, screen.decode()))
            time.sleep(0.1)

    def test_a_pass_reads_in_utf8(self):
        self.keys(START, "Enter")
        self.screen_shows(" Què vols fer? (1 / 2)")
        self.keys("1", "Enter")
        self.screen_shows(" Introdueix el nombre que vols factoritzar.")
        self.keys("360", "Enter")
        self.screen_shows(" El nombre és 360",
                          " El nombre 360 és divisible entre 5",
                          " Vols seguir? (S 1 / N 0)")
        self.keys("1", "Enter")
        self.screen_shows(" Reiniciant el procés...")
        self.keys("2", "Enter")
        self.screen_shows(" Llegint el nombre des de factor.txt ...")
        self.keys("0", "Enter")
        self.screen_shows(" Tasca cancel·lada.", "exit status 0")

    def test_ctrl_c_interrupts(self):
        self.keys(START, "Enter")
        self.screen_shows(" Què vols fer? (1 / 2)")
        self.keys("C-c")
        self.screen_shows("^CInterrupt", "exit status 1")


if __name__ == "__main__":
    unittest.main()
