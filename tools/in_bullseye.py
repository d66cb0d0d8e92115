#!/usr/bin/env python3
"""Unpacks the Linux package into a clean root of an older Debian, 11 (minbase: glibc 2.31 and
no Python), and checks that its programs write the same bytes and end with the same status there
as here, piped and on a terminal:

    tools/in_bullseye.py BUILD_FOLDER

The package is the one that `--target package` made in the build folder. The root is made once,
by debootstrap, and kept there as a tarball; each run unpacks it afresh. Where no root can be
made (not root, no debootstrap, no network), the last line says why and the status is 77."""
import glob
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import time
from pathlib import Path

SKIP = 77
MIRROR = "http://deb.debian.org/debian"
ENV = {"PATH": "/usr/bin:/bin", "LANG": "C"}
MENU_SHOWN = "factor.txt.\r\n".encode()
# Piped runs: (name, input, what the output holds): a scan, option 2, a fatal report.
PIPED = [("scan of 360", b"1\n360\n0\n", b" El nombre 360 \x82s divisible entre 5\n"),
         ("option 2", b"2\n0\n", b" El nombre \x82s 123456789\n"),
         ("fatal report", b"1\nabc\n", b" Introdueix el nombre que vols factoritzar.\n")]
# Runs through the pass-through on a terminal: (name, [(what to wait for, keys)], what it shows).
TYPED = [
    ("scan on a terminal", [(MENU_SHOWN, b"1\r"), (b"factoritzar.\r\n", b"360\r"),
                            (b"(S 1 / N 0)\r\n", b"0\r")], " Tasca cancel·lada.\r\n"),
    ("Ctrl-C on a terminal", [(MENU_SHOWN, b"\x03")], "^CInterrupt"),
]


def skip(why):
    print("skipped: " + why)
    sys.exit(SKIP)


def cached_root(build):
    """The tarball of the root, made first if need be."""
    tarball = build / "bullseye-minbase.tar"
    if tarball.exists():
        return tarball
    if not shutil.which("debootstrap"):
        skip("needs debootstrap")
    with tempfile.TemporaryDirectory(dir=build) as scratch:
        made = subprocess.run(["debootstrap", "--variant=minbase", "bullseye", scratch, MIRROR],
                              capture_output=True, text=True)
        if made.returncode != 0:
            said = (made.stderr or made.stdout).strip().splitlines() or ["no word"]
            skip("debootstrap could not make a Debian 11 root: " + said[-1])
        subprocess.run(["tar", "-cf", "%s.part" % tarball, "-C", scratch, "."], check=True)
    os.rename("%s.part" % tarball, tarball)
    return tarball


def unpack(package, folder):
    """The package's one folder, unpacked into `folder`."""
    with tarfile.open(package) as tgz:
        tgz.extractall(folder)
        return Path(folder, tgz.getnames()[0].split("/")[0])


def entering(folder, root, session=False):
    """What a run does before the program starts: a session of its own for a terminal, the
    interrupt at its default (a shell starts its background jobs with it ignored), the root
    and the folder."""
    def enter():
        if session:
            os.setsid()
        signal.signal(signal.SIGINT, signal.SIG_DFL)
        if root:
            os.chroot(root)
        os.chdir(folder)
    return enter


def run_piped(command, stdin, folder, root):
    done = subprocess.run(command, input=stdin, capture_output=True,
                          preexec_fn=entering(folder, root), env=ENV, timeout=60)
    return done.stdout, done.stderr, done.returncode


def read_until(master, awaited, shown, deadline):
    """The output shown so far, read on until it ends with `awaited`, or with None, until the
    terminal's other side closes."""
    while awaited is None or not shown.endswith(awaited):
        if not select.select([master], [], [], max(0, deadline - time.monotonic()))[0]:
            raise AssertionError("waited in vain; output: %r" % shown)
        try:
            chunk = os.read(master, 4096)
        except OSError:  # EIO: the pass-through has ended
            chunk = b""
        if not chunk:
            if awaited is None:
                return shown
            raise AssertionError("output ended early: %r" % shown)
        shown += chunk
    return shown


def run_typed(steps, folder, root):
    """The program behind the pass-through on a terminal of ours, sent each step's keys once
    the output ends with what it waits for; returns all it showed, and its status."""
    master, slave = pty.openpty()
    p = subprocess.Popen(["./cp850-terminal", "./factorizer"], stdin=slave, stdout=slave,
                         stderr=slave, preexec_fn=entering(folder, root, session=True), env=ENV)
    os.close(slave)
    shown, deadline = b"", time.monotonic() + 60
    try:
        for awaited, keys in steps:
            shown = read_until(master, awaited, shown, deadline)
            os.write(master, keys)
        shown = read_until(master, None, shown, deadline)
    except BaseException:
        p.kill()
        raise
    finally:
        status = p.wait(60)
        os.close(master)
    return shown, status


# (name, the run in a folder of the root or of here, what its output holds)
CHECKS = [(name, lambda folder, root, s=stdin: run_piped(["./factorizer"], s, folder, root),
           shows) for name, stdin, shows in PIPED] + [
    (name, lambda folder, root, s=steps: run_typed(s, folder, root), shows.encode())
    for name, steps, shows in TYPED]


def mount(root):
    """What the programs need in the root: /proc, and terminals. The root gets a devpts of its
    own, whose ptmx is its /dev/ptmx: through the host's, a new terminal would be made in the
    host's devpts, where the root finds no /dev/pts entry for it."""
    mounts = [(["-t", "proc", "proc"], root / "proc"),
              (["-t", "devpts", "-o", "newinstance,ptmxmode=0666,mode=0620", "devpts"],
               root / "dev/pts"),
              (["--bind", str(root / "dev/pts/ptmx")], root / "dev/ptmx")]
    done = []
    try:
        for how, where in mounts:
            subprocess.run(["mount", *how, str(where)], check=True)
            done.append(where)
    except BaseException:
        unmount(done)
        raise
    return done


def unmount(done):
    """Whether all of `done` is unmounted."""
    return all([subprocess.run(["umount", str(where)]).returncode == 0
                for where in reversed(done)])


def main(argv):
    if len(argv) != 1:
        sys.exit("usage: in_bullseye.py BUILD_FOLDER")
    if os.geteuid() != 0:
        skip("needs root, to make the root and enter it")
    build = Path(argv[0]).resolve()
    packages = glob.glob(str(build / "factorizer-*-Linux-x86_64.tar.gz"))
    if len(packages) != 1:
        sys.exit("in_bullseye.py: no one x86-64 package in %s: --target package makes it" % build)
    tarball = cached_root(build)
    # A request to end the check ends it through the unmounting below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("in_bullseye.py: terminated"))
    scratch = Path(tempfile.mkdtemp(dir=build, prefix="bullseye-"))
    root, here = scratch / "root", scratch / "here"
    root.mkdir()
    subprocess.run(["tar", "-xf", tarball, "-C", root], check=True)
    assert not glob.glob(str(root / "usr/bin/python*")), "the root has a Python"
    inside = "/" + unpack(packages[0], root).name
    at_home = unpack(packages[0], here)
    mounted = mount(root)
    failures = 0
    try:
        for name, check, shows in CHECKS:
            there, home = check(inside, root), check(at_home, None)
            ok = there == home and shows in there[0]
            failures += not ok
            print("%s: %s" % ("ok" if ok else "FAILED", name))
            if not ok:
                print("  in Debian 11: %r\n  here:         %r" % (there, home))
    finally:
        if unmount(mounted):  # else rmtree would reach into what is still mounted
            shutil.rmtree(scratch)
    print("the package in Debian 11: %d of %d checks failed" % (failures, len(CHECKS)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
