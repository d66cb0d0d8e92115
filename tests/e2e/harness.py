"""Runs the real program once per row in a fresh folder and hands back what it did. Reads
FACTORIZER_BIN, _PRELOAD_BIN, _PRIMES, _WRAPPER, _PLATFORM, _SANITIZE and RACE_SHIM_LIBRARY."""
import contextlib
import fcntl
import functools
import os
import platform
import re
import resource
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable

BIN, PRIMES = os.environ["FACTORIZER_BIN"], os.environ["FACTORIZER_PRIMES"]
# The shim (race_shim.cpp, native Linux only) reaches only a program that loads the C library,
# and the shipped one is static: its rows run the same objects linked as usual.
PRELOAD_BIN = os.environ.get("FACTORIZER_PRELOAD_BIN") or BIN
SHIM = os.environ.get("RACE_SHIM_LIBRARY")
WRAPPER = list(filter(None, [os.environ.get("FACTORIZER_WRAPPER")]))
SANITIZED = os.environ.get("FACTORIZER_SANITIZE") == "ON"

# What differs by platform: line ends, aborts, and the signals that cannot reach a Windows
# program from outside, or a program under qemu-user.
POSIX = os.environ.get("FACTORIZER_PLATFORM", "linux") != "windows"
QEMU = any(Path(part).name.startswith("qemu-") for part in WRAPPER)
# qemu-user's own line on standard error when the program dies by a signal.
QEMU_DEATH = re.compile(rb"qemu: uncaught target signal \d+ \([^)]*\) - core dumped\n\Z")
if POSIX:
    LE, ABORT_STATUS, SIGNAL_SKIPS = b"\n", -signal.SIGABRT, {}
    SETTLE = 0.5  # for a program blocked on output unread
    if QEMU:  # the program holds SIGFPE off during every write-out
        SIGNAL_SKIPS = {signal.SIGFPE: "qemu-user dies of SIGSEGV on a held-off SIGFPE"}
else:
    LE, ABORT_STATUS = b"\r\n", 3
    # Wine turns SIGINT into the console's Ctrl-C, which reaches the program on a thread of
    # its own a moment later: the input must not end first.
    SETTLE = 5
    SIGNAL_SKIPS = dict.fromkeys((signal.SIGTERM, signal.SIGABRT, signal.SIGFPE), "Windows raises "
                                 "it only from inside; Wine ends the process on it, or fails")
# Seconds any wait of a run may last, so that a program that stops answering fails its row by
# name: the slowest run takes a fraction of a second, under qemu-user and Wine too.
TIMEOUT = 10
DIR = "<directory>"  # a folder entry that is no file
NOBODY = 65534
TABLE = Path(PRIMES).read_bytes()
FILES = {"primes.txt": TABLE, "factor.txt": b" \r\n-9223372036854775808 7\r\n"}


class Link(str):
    """A folder entry that is a symbolic link to this name."""


class Fifo:
    """A folder entry that is a FIFO: its writer puts `data` and closes, or with None, nobody
    ever opens it to write. Any FIFO equals any other: what went through is gone."""

    def __init__(self, data=None):
        self.data = data

    def __eq__(self, other):
        return isinstance(other, Fifo)


class Appended(bytes):
    """Standard output a file holding these bytes, opened to append."""


class Leased(bytes):
    """A file holding these bytes under the test's read lease: an open to write waits."""


class Child:
    """What the program inherits besides folder and streams: signals `ignore`d or `block`ed,
    `limits`, descriptors `close`d or `nonblocking`, the shim's race to `preload` (with the
    `signal` it raises), `nobody`."""

    def __init__(self, ignore=(), block=(), limits=None, close=(), nonblocking=(), preload=None,
                 signal=None, nobody=False):
        self.ignore, self.block, self.limits = ignore, block, limits or {}
        self.close, self.nonblocking, self.preload = close, nonblocking, preload
        self.signal, self.nobody = signal, nobody and os.geteuid() == 0
        self.skip = ("Wine does not carry a signal's state over" if (ignore or block) and not POSIX
                     else "only a native Linux build preloads the shim" if preload and not SHIM
                     else None)

    def prepare(self):  # in the child; a background job's SIGINT ignored is not inherited
        for sig in (signal.SIGINT, *self.ignore):
            signal.signal(sig, signal.SIG_IGN if sig in self.ignore else signal.SIG_DFL)
        signal.pthread_sigmask(signal.SIG_BLOCK, self.block)
        if QEMU:  # its core file would land among the data files
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        for limit, value in self.limits.items():
            resource.setrlimit(limit, (value, value))
        for fd in self.close:
            os.close(fd)
        for fd in self.nonblocking:
            os.set_blocking(fd, False)

    def start(self, args, folder, stdout, stderr):  # its input a pipe
        program, env, user = BIN, None, {}
        if self.preload:  # the shim comes before the sanitizers' run-time
            program, env = PRELOAD_BIN, dict(os.environ, LD_PRELOAD=SHIM, RACE_SHIM=self.preload,
                                             RACE_SIGNAL="%d" % (self.signal or 0),
                                             ASAN_OPTIONS="verify_asan_link_order=0")
        if self.nobody:
            program, user = _copy_for_nobody()[1], dict(user=NOBODY, group=NOBODY, extra_groups=[])
        return subprocess.Popen(WRAPPER + [program, *args], cwd=folder, stdin=subprocess.PIPE,
                                stdout=stdout, stderr=stderr, preexec_fn=self.prepare, env=env,
                                **user)


@dataclass
class Pause:
    """The input stops until `wait`(stdout, pid) returns (the output it read off); then
    `signal`, if any, is sent and `then` is the input that follows."""
    wait: Callable
    signal: int = None
    then: bytes = b""


@dataclass
class Jam:
    """Descriptor `fd` is a pipe full but for `room` bytes until the pause, then drained."""
    fd: int
    room: int = 0


@dataclass
class Row:
    """A run and what it must give: output, standard error, `ending` (a status, ABORT or minus
    a signal), its `files` (bytes, DIR, a Link, a Fifo or Leased bytes, by name) unchanged beside
    those `created`. Around it: `modes` ("." the folder), `args`, `stdout` ("pipe", "file",
    "full", "socket": a full non-blocking Unix socket whose reader shuts down at the pause, or
    bytes in a file read and written, or Appended to), what the `child` inherits, a `pause`, a
    `jam`med pipe."""
    name: str
    stdin: bytes
    out: bytes
    err: bytes = b""
    ending: object = 0
    files: dict = field(default_factory=lambda: FILES)
    created: dict = field(default_factory=dict)
    modes: dict = field(default_factory=dict)
    args: list = ()
    stdout: object = "pipe"
    child: Child = field(default_factory=Child)
    pause: Pause = None
    jam: Jam = None


@functools.cache
def _copy_for_nobody():
    """The program where nobody reaches it (not under /root, say)."""
    folder = tempfile.TemporaryDirectory(prefix="factorizer-")
    os.chmod(folder.name, 0o755)
    return folder, shutil.copy(BIN, folder.name)


def _lease(path):  # held till the descriptor returned closes
    signal.signal(signal.SIGIO, signal.SIG_IGN)  # the news of a breaker, else our end
    fd = os.open(path, os.O_RDONLY)
    try:
        fcntl.fcntl(fd, fcntl.F_SETLEASE, fcntl.F_RDLCK)
    except OSError as error:
        os.close(fd)
        raise unittest.SkipTest("no read lease here (it needs root or the file's owner, on a "
                                "local file system): " + error.strerror)
    return fd


@contextlib.contextmanager
def _folder(row, found):
    """A scratch folder holding the row's files, their FIFOs' writers started (one that no
    reader comes to waits till the tests end) and leases taken; then `found` gets what it
    holds, made readable first, for a tester who is not root."""
    folder = tempfile.TemporaryDirectory(prefix="factorizer-")
    with contextlib.ExitStack() as leases:
        try:
            for name, data in row.files.items():
                path = Path(folder.name, name)
                if isinstance(data, Link):
                    path.symlink_to(data)
                elif isinstance(data, Fifo):
                    os.mkfifo(path)
                    if data.data is not None:
                        threading.Thread(target=path.write_bytes, args=(data.data,),
                                         daemon=True).start()
                elif data == DIR:
                    path.mkdir()
                else:
                    path.write_bytes(data)
                if isinstance(data, Leased):
                    leases.callback(os.close, _lease(path))
            for name in [".", *row.files] if row.child.nobody else []:
                os.chown(Path(folder.name, name), NOBODY, NOBODY)
            for name, mode in {".": 0o755, **row.modes}.items():
                os.chmod(Path(folder.name, name), mode)
            yield folder.name
        finally:
            entries = list(Path(folder.name).iterdir())
            for path in entries:
                if not path.is_symlink():
                    path.chmod(0o700)
            found.update({path.name: Link(os.readlink(path)) if path.is_symlink() else DIR
                          if path.is_dir() else Fifo() if path.is_fifo() else path.read_bytes()
                          for path in entries})
            os.chmod(folder.name, 0o755)
            folder.cleanup()


def run(row):
    """Runs the program as `row` says, in a fresh folder; returns its output, standard error,
    ending (status, or minus the signal) and the folder's files."""
    pause, jam, stdout, found = row.pause, row.jam, row.stdout, {}
    skip = SIGNAL_SKIPS.get(pause and pause.signal) or row.child.skip
    if skip:
        raise unittest.SkipTest(skip)
    with contextlib.ExitStack() as held:
        folder = held.enter_context(_folder(row, found))
        streams = {1: subprocess.PIPE, 2: subprocess.PIPE}
        if stdout == "full":
            streams[1] = held.enter_context(open("/dev/full", "wb"))
        elif stdout == "socket":
            streams[1], reader = map(held.enter_context, socket.socketpair())
            streams[1].setblocking(False)
            with contextlib.suppress(BlockingIOError):
                while True:
                    streams[1].send(bytes(65536))
        elif stdout != "pipe":
            streams[1] = held.enter_context(tempfile.TemporaryFile())
            streams[1].write(stdout if isinstance(stdout, bytes) else b"")
            streams[1].seek(0)
            if isinstance(stdout, Appended):
                fcntl.fcntl(streams[1], fcntl.F_SETFL, fcntl.fcntl(streams[1], fcntl.F_GETFL)
                            | os.O_APPEND)
        if jam:
            jammed, streams[jam.fd] = os.pipe()
            held.callback(os.close, jammed)
            filler = fcntl.fcntl(jammed, fcntl.F_GETPIPE_SZ) - jam.room
            os.write(streams[jam.fd], bytes(filler))
        p = held.enter_context(row.child.start(row.args, folder, streams[1], streams[2]))
        held.callback(p.kill)
        seen, stdin = b"", row.stdin
        if jam:
            os.close(streams[jam.fd])
        if pause:
            p.stdin.write(stdin)
            p.stdin.flush()
            seen = pause.wait(p.stdout, p.pid)
            if stdout == "socket":
                reader.shutdown(socket.SHUT_RD)
            if pause.signal:
                p.send_signal(pause.signal)
                with contextlib.suppress(subprocess.TimeoutExpired):
                    p.wait(SETTLE)  # let it land before the input goes on
            stdin = pause.then
        if jam:
            drained = ThreadPoolExecutor().submit(
                lambda: b"".join(iter(lambda: os.read(jammed, 65536), b""))[filler:])
        out, err = p.communicate(stdin, timeout=TIMEOUT)
        if jam:
            out, err = {1: (drained.result(TIMEOUT), err),
                        2: (out, drained.result(TIMEOUT))}[jam.fd]
        if stdout not in ("pipe", "socket", "full"):
            out = os.pread(streams[1].fileno(), 1 << 24, 0)
    return seen + (out or b""), QEMU_DEATH.sub(b"", err) if QEMU else err, p.returncode, found


def _until(done, failure):
    """A wait of at most TIMEOUT seconds: until done(seen, pid), `seen` the output read off the
    pipe meanwhile (not read again after)."""
    def wait(out, pid):
        seen, deadline = b"", time.monotonic() + TIMEOUT
        while not done(seen, pid):
            if time.monotonic() > deadline:
                raise AssertionError("%s; output: %r" % (failure, seen))
            if not out:
                time.sleep(0.01)
            elif select.select([out], [], [], 0.01)[0]:
                chunk = os.read(out.fileno(), 65536)
                if not chunk:
                    raise AssertionError("output ended early: %r" % seen)
                seen += chunk
        return seen
    return wait


def at_prompt(prompt):
    return _until(lambda seen, pid: seen.endswith(prompt), "waited in vain")


# The calls that wait for room or for a file to open, by this machine's call numbers.
POLLS, OPENS = {"x86_64": ({7, 271}, {2, 257}), "aarch64": ({73}, {56})}.get(platform.machine(),
                                                                          (set(), set()))


def _asleep_in(pid):
    """The call the program sleeps in and its first argument: for a poll, its first pollfd's
    descriptor. A 32-bit Wine has other call numbers, but sleeps in the write itself."""
    call = Path("/proc/%d/syscall" % pid).read_text().split()
    number, first = int(call[0]), int(call[1], 16)
    if number in POLLS:
        with open("/proc/%d/mem" % pid, "rb") as memory:
            memory.seek(first)
            first = int.from_bytes(memory.read(4), sys.byteorder, signed=True)
    return number, first


def _asleep(test):
    def done(seen, pid):
        with contextlib.suppress(OSError, IndexError, ValueError):  # "running": in no call
            return test(pid, *_asleep_in(pid))
    return done


def writing_blocked(fd):
    """A wait: until the program sleeps writing to its descriptor `fd`, or waiting for room."""
    return _until(_asleep(lambda pid, call, first: os.readlink("/proc/%d/fd/%d" % (pid, first))
                          == os.readlink("/proc/%d/fd/%d" % (pid, fd))), "never blocked writing")


opening = _until(_asleep(lambda pid, call, first: call in OPENS), "never waited opening")
