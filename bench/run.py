#!/usr/bin/env python3
"""Times the factorizer's divisor scan against the floor program and reads
the factorizer's peak resident memory; prints the figures as two tables.

Workloads, each run through the real dialogue (menu answer 1, the number,
continue answer 1, ..., last continue answer 0):
  - 50 scans of 360, standard output to /dev/null;
  - 20 scans of 9223372036854775783, the largest prime below 2^63: no table
    value divides it, and every remainder is a full 64-bit division;
  - 5 scans of 0 (78498 report lines each), standard output to /dev/null;
  - the same, standard output to a file, where writing costs the kernel more.
The floor (bench_floor) does the same work with no list-directed rules; the
naive iostreams scan (bench_iostream_scan), when built, is a third column
for orientation. Every program runs in a temporary folder that holds a copy
of primes.txt from the build folder. Before timing, the outputs of all
programs are compared byte for byte. Peak memory is read with the small
helper bench_peak_rss (see peak_rss.cpp for why).

Every figure of the program has a target, and each line says whether it
met it; the last line gives the verdict on them all.

Usage: run.py [BUILD_DIR] [--runs N] [--program PATH] [--floor PATH]
              [--iostream PATH] [--peak-rss PATH]
BUILD_DIR defaults to ./build. Exit status 0 when every figure meets its
target, 1 when one does not, and 2 when a program fails to run or is
missing.
"""

import argparse
import datetime
import os
import platform
import shutil
import statistics
import sys
import tempfile
import time

TABLE = "primes.txt"

# (label, number, scans, sink): sink is "null" or "file".
WORKLOADS = [
    ("50 scans of 360, stdout /dev/null", 360, 50, "null"),
    ("20 scans of 2^63-25, stdout /dev/null", 9223372036854775783, 20, "null"),
    ("5 scans of 0, stdout /dev/null", 0, 5, "null"),
    ("5 scans of 0, stdout to a file", 0, 5, "file"),
]
# The highest program/floor time ratio that passes, for every workload:
# the list-directed rules may cost a fifth over the floor's bare loop.
TIME_TARGET = 1.2
MEMORY_SCANS = [1, 200]
MEMORY_RUNS = 5
# The highest ratio of the program's peak memory to its peak after one scan
# of the plain table that passes: after 200 scans, and after one scan of a
# padded table. More means that something read is being held.
MEMORY_TARGET = 1.1


class BenchError(Exception):
    pass


class Candidate:
    """A program under test, and how it is told the number and scan count."""

    def __init__(self, name, path, dialogue):
        self.name = name
        self.path = path
        self.dialogue = dialogue  # True: driven through standard input

    def argv(self, number, scans):
        if self.dialogue:
            return [self.path]
        return [self.path, str(number), str(scans)]


def dialogue_input(number, scans):
    """Standard input for `scans` scans of `number` through option 1."""
    again = "1\n%d\n1\n" % number
    return again * (scans - 1) + "1\n%d\n0\n" % number


class Runner:
    """Runs children in one working folder; reports wall time and rusage."""

    def __init__(self, folder):
        self.folder = folder
        self.inputs = {}

    def input_file(self, candidate, number, scans):
        if not candidate.dialogue:
            return os.devnull
        key = (number, scans)
        if key not in self.inputs:
            path = os.path.join(self.folder, "input-%d-%d.txt" % key)
            with open(path, "w", encoding="ascii") as f:
                f.write(dialogue_input(number, scans))
            self.inputs[key] = path
        return self.inputs[key]

    def spawn(self, argv, stdin_path, stdout_path):
        """Runs one child to completion; returns (wall seconds, exit code)."""
        actions = [
            (os.POSIX_SPAWN_OPEN, 0, stdin_path, os.O_RDONLY, 0),
            (os.POSIX_SPAWN_OPEN, 1, stdout_path,
             os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644),
        ]
        start = time.perf_counter()
        pid = os.posix_spawn(argv[0], argv, os.environ, file_actions=actions)
        _, status, _ = os.wait4(pid, 0)
        wall = time.perf_counter() - start
        return wall, os.waitstatus_to_exitcode(status)

    def run(self, candidate, number, scans, stdout_path):
        """Runs a candidate; returns its wall time in seconds."""
        wall, code = self.spawn(candidate.argv(number, scans),
                                self.input_file(candidate, number, scans),
                                stdout_path)
        check_status(candidate, number, scans, code)
        return wall

    def peak_rss(self, helper, candidate, number, scans):
        """Runs a candidate under the peak-memory helper; returns its
        ru_maxrss in KiB. Straight from this script, os.wait4 would report
        at least the script's own size: Linux keeps the peak across exec."""
        report = os.path.join(self.folder, "peak.txt")
        _, code = self.spawn([helper, report] + candidate.argv(number, scans),
                             self.input_file(candidate, number, scans),
                             os.devnull)
        if code != 0:
            raise BenchError("bench_peak_rss ended with status %d" % code)
        with open(report, encoding="ascii") as f:
            kib, child_code = (int(field) for field in f.read().split())
        check_status(candidate, number, scans, child_code)
        return kib


def check_status(candidate, number, scans, code):
    if code != 0:
        raise BenchError("%s (%d scans of %d) ended with status %d"
                         % (candidate.name, scans, number, code))


def cpu_description():
    model, count = platform.processor() or "unknown", 0
    try:
        with open("/proc/cpuinfo", encoding="utf-8", errors="replace") as f:
            for line in f:
                key, _, value = line.partition(":")
                key = key.strip()
                if key == "model name" and count == 1:
                    model = value.strip()
                if key == "processor":
                    count += 1
    except OSError:
        pass
    return model, count or os.cpu_count()


def check_outputs(runner, candidates, folder):
    """Runs every candidate once per number and scan count and compares the
    outputs with the factorizer's; returns the mismatches. Also a warm-up:
    the table is in the page cache before any run is timed."""
    mismatches = []
    seen = set()
    for label, number, scans, _ in WORKLOADS:
        if (number, scans) in seen:
            continue
        seen.add((number, scans))
        reference = None
        for c in candidates:
            path = os.path.join(folder, "check-%s.txt" % c.name)
            runner.run(c, number, scans, path)
            with open(path, "rb") as f:
                data = f.read()
            os.remove(path)
            if reference is None:
                reference = data
            elif data != reference:
                mismatches.append("%s: %s output differs from %s (%d vs %d bytes)"
                                  % (label, c.name, candidates[0].name,
                                     len(data), len(reference)))
    return mismatches


def time_workloads(runner, candidates, runs, folder):
    """Per workload: the median wall time of each candidate, and the median
    over the rounds of each candidate's time over the floor's in that round.
    The candidates run one after the other in every round, so a ratio
    compares runs made under the same load."""
    results = []
    sink_file = os.path.join(folder, "stdout.txt")
    for _, number, scans, sink in WORKLOADS:
        target = os.devnull if sink == "null" else sink_file
        times = {c.name: [] for c in candidates}
        for _ in range(runs):
            for c in candidates:
                if sink == "file" and os.path.exists(sink_file):
                    # Removed here, untimed: a child that truncated it would
                    # pay for freeing the previous run's pages of output.
                    os.remove(sink_file)
                times[c.name].append(runner.run(c, number, scans, target))
        ratios = {name: statistics.median(a / b for a, b in zip(t, times["floor"]))
                  for name, t in times.items()}
        medians = {name: statistics.median(t) for name, t in times.items()}
        results.append((medians, ratios))
    return results


def peak_memory(runner, helper, candidates):
    """ru_maxrss in KiB of each candidate for each count of scans of 360, the
    median of MEMORY_RUNS runs; and the widest spread between repeat runs of
    one command, which is the resolution of the figures."""
    peaks, spread = {}, 0
    for c in candidates:
        peaks[c.name] = []
        for scans in MEMORY_SCANS:
            kib = [runner.peak_rss(helper, c, 360, scans) for _ in range(MEMORY_RUNS)]
            peaks[c.name].append(statistics.median(kib))
            spread = max(spread, max(kib) - min(kib))
    return peaks, spread


def peak_with_large_table(runner, helper, program, table):
    """The program's peak after 1 scan of the same table with every record
    padded by blanks to about 30 times its size: what it reads is never
    held, so the peak must not follow the table."""
    with open(table, encoding="ascii") as f:
        padded = "".join(" " * 100 + line.strip() + " " * 100 + "\n" for line in f)
    with open(TABLE, "w", encoding="ascii") as f:
        f.write(padded)
    try:
        kib = [runner.peak_rss(helper, program, 360, 1) for _ in range(MEMORY_RUNS)]
    finally:
        shutil.copyfile(table, TABLE)
    return statistics.median(kib), len(padded)


def verdict(ok):
    return "pass" if ok else "FAIL"


def meets(ratio, target):
    """Judged as printed, so that a 1.20 never fails a target of 1.2."""
    return round(ratio, 2) <= target


def print_report(header, candidates, results, memory, spread, large, mismatches):
    """Prints the figures, each of the program's with its target and
    verdict, then the verdict on them all; returns True when all pass."""
    names = [c.name for c in candidates]
    verdicts = []
    for line in header:
        print(line)
    print()
    width = max(len(w[0]) for w in WORKLOADS) + 2
    head = "%-*s" % (width, "median wall time, ms")
    head += "".join("%12s" % n for n in names)
    head += "%15s%9s%9s" % ("program/floor", "target", "verdict")
    if "iostream" in names:
        head += "%17s" % "iostream/floor"
    print(head)
    print("-" * len(head))
    for (label, _, _, _), (m, ratio) in zip(WORKLOADS, results):
        verdicts.append(meets(ratio["program"], TIME_TARGET))
        row = "%-*s" % (width, label)
        row += "".join("%12.1f" % (m[n] * 1e3) for n in names)
        row += "%15.2f%9s%9s" % (ratio["program"], "<= %.1f" % TIME_TARGET,
                                 verdict(verdicts[-1]))
        if "iostream" in names:
            row += "%17.2f" % ratio["iostream"]
        print(row)
    print("ratios: median over the rounds of the times within one round")
    print()
    scans = ["%d scan%s" % (s, "" if s == 1 else "s") for s in MEMORY_SCANS]
    head = "%-*s" % (width, "peak resident memory, KiB")
    head += "".join("%12s" % s for s in scans)
    head += "%15s%9s%9s" % ("%d/%d" % (MEMORY_SCANS[-1], MEMORY_SCANS[0]),
                            "target", "verdict")
    print(head)
    print("-" * len(head))
    for n in names:
        row = "%-*s" % (width, n) + "".join("%12d" % kib for kib in memory[n])
        growth = memory[n][-1] / memory[n][0]
        row += "%15.2f" % growth
        if n == "program":
            verdicts.append(meets(growth, MEMORY_TARGET))
            row += "%9s%9s" % ("<= %.1f" % MEMORY_TARGET, verdict(verdicts[-1]))
        print(row)
    print("ru_maxrss of the child, median of %d runs; repeat runs of one command"
          % MEMORY_RUNS)
    print("differed by up to %d KiB, so smaller differences are noise" % spread)
    kib, size = large
    growth = kib / memory["program"][0]
    verdicts.append(meets(growth, MEMORY_TARGET))
    print("program, 1 scan of the table padded to %.1f MB: %d KiB, %.2f times "
          "the plain table's; target <= %.1f: %s"
          % (size / 1e6, kib, growth, MEMORY_TARGET, verdict(verdicts[-1])))
    if mismatches:
        print()
        print("OUTPUT MISMATCH (timings compare unequal work): FAIL")
        for m in mismatches:
            print("  " + m)
    print()
    failed = verdicts.count(False) + (1 if mismatches else 0)
    if failed:
        print("verdict: FAIL, %d of %d figures missed their targets"
              % (failed, len(verdicts) + (1 if mismatches else 0)))
    else:
        print("verdict: pass, all %d figures met their targets" % len(verdicts))
    return not failed


def fail(why):
    print("run.py: %s" % why, file=sys.stderr)
    sys.exit(2)


def find(build, given, names):
    if given:
        return os.path.abspath(given)
    for name in names:
        path = os.path.join(build, name)
        if os.access(path, os.X_OK):
            return os.path.abspath(path)
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", nargs="?", default="build",
                        help="build folder holding factorizer and primes.txt")
    parser.add_argument("--runs", type=int, default=21,
                        help="timed runs per workload and program (default 21)")
    parser.add_argument("--program", help="factorizer executable")
    parser.add_argument("--floor", help="bench_floor executable")
    parser.add_argument("--iostream", help="bench_iostream_scan executable")
    parser.add_argument("--peak-rss", help="bench_peak_rss executable")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    table = os.path.join(build, TABLE)
    program = find(build, args.program, ["factorizer"])
    floor = find(build, args.floor, ["bench/bench_floor", "bench_floor"])
    iostream = find(build, args.iostream,
                    ["bench/bench_iostream_scan", "bench_iostream_scan"])
    helper = find(build, args.peak_rss, ["bench/bench_peak_rss", "bench_peak_rss"])
    for what, path in [("factorizer", program), ("bench_floor", floor),
                       ("bench_peak_rss", helper),
                       ("primes.txt", table if os.path.isfile(table) else None)]:
        if path is None:
            fail("no %s in %s" % (what, build))

    candidates = [Candidate("program", program, True),
                  Candidate("floor", floor, False)]
    if iostream:
        candidates.append(Candidate("iostream", iostream, False))

    model, cores = cpu_description()
    header = [
        "factorizer divisor scan benchmark, %s"
        % datetime.datetime.now().strftime("%Y-%m-%d %H:%M"),
        "machine: %s, %d cores, %s %s, %s"
        % (model, cores, platform.system(), platform.release(), platform.machine()),
        "program: %s" % program,
        "floor:   %s" % floor,
        "table:   %s (%d bytes), copied to a temporary folder"
        % (table, os.path.getsize(table)),
        "%d timed rounds; each round runs every program once, in turn" % args.runs,
    ]

    old_cwd = os.getcwd()
    with tempfile.TemporaryDirectory(prefix="factorizer-bench-") as folder:
        shutil.copyfile(table, os.path.join(folder, TABLE))
        os.chdir(folder)  # the children read primes.txt from their cwd
        try:
            runner = Runner(folder)
            mismatches = check_outputs(runner, candidates, folder)
            results = time_workloads(runner, candidates, args.runs, folder)
            memory, spread = peak_memory(runner, helper, candidates)
            large = peak_with_large_table(runner, helper, candidates[0], table)
        except BenchError as e:
            fail(e)
        finally:
            os.chdir(old_cwd)
    passed = print_report(header, candidates, results, memory, spread, large,
                          mismatches)
    sys.exit(0 if passed else 1)


if __name__ == "__main__":
    main()
