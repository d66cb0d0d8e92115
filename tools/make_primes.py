"""Writes the prime table that ships with the program: the primes below one
million in ascending order, one per line, LF ends.

    python3 tools/make_primes.py OUTPUT

A script, not a program of the build: a cross build could run its own
programs only under an emulator, and the table is the same on every CPU."""
import sys

LIMIT = 1000000


def primes_below(limit):
    composite = bytearray(limit)
    for n in range(2, limit):
        if not composite[n]:
            yield n
            composite[n * n::n] = b"\1" * len(range(n * n, limit, n))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_primes.py OUTPUT")
    with open(sys.argv[1], "wb") as out:
        out.write(b"".join(b"%d\n" % n for n in primes_below(LIMIT)))
