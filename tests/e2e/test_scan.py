"""The divisor scan: the number, the prime table and factor.txt."""
import unittest

from harness import (ABORT, ASK, CANCEL, FROM_FILE, LE, MENU, NUMBER_PROMPT,
                     RESTART, TABLE, EndToEnd, echo, end_of_input, fatal,
                     report, reports)

LAST = TABLE.rstrip(b"\n").rsplit(b"\n", 1)[0] + b"\n"  # one record short


def option1(n, text=None):
    """Input and output of one typed number, then the answer 0."""
    text = str(n).encode() if text is None else text
    return (b"1\n" + text + b"\n0\n",
            MENU + NUMBER_PROMPT + echo(n) + reports(n) + ASK + CANCEL)


def table_of(values):
    """A table of 78498 records: `values` first, then sevens."""
    return b"".join(v + b"\n" for v in values) + b"7\n" * (78498 - len(values))


def bad_number(context, message):
    return fatal(context, message, 5)


class Scan(EndToEnd):
    def test_shipped_table(self):
        # What the build's sieve wrote: the primes below one million.
        self.assertNotIn(b"\r", TABLE)
        self.assertTrue(TABLE.endswith(b"\n"))
        values = [int(v) for v in TABLE.split()]
        self.assertEqual((len(values), values[0], values[-1]), (78498, 2, 999983))
        self.assertTrue(all(a < b for a, b in zip(values, values[1:])))

    def test_typed_numbers(self):
        for n in (1, 2, 999983, 1000003, 999979 * 999983, 0,
                  2 ** 63 - 1, -2 ** 63):
            with self.subTest(n):
                self.expect(*option1(n))
        with self.subTest("leading zeros"):
            self.expect(*option1(2 ** 63 - 1, b"0009223372036854775807"))

    def test_distinct_primes_in_table_order(self):
        self.expect(b"1\n360\n0\n", MENU + NUMBER_PROMPT + echo(360)
                    + report(360, 2) + report(360, 3) + report(360, 5)
                    + ASK + CANCEL)
        self.expect(b"1\n-12\n0\n", MENU + NUMBER_PROMPT + echo(-12)
                    + report(-12, 2) + report(-12, 3) + ASK + CANCEL)

    def test_bad_typed_numbers(self):
        unexpected = bad_number(b"invalid integer",
                                b"read unexpected character")
        out_of_range = bad_number(b"invalid integer", b"integer out of range")
        for text, err in [
                (b"12.0", unexpected), (b"1e3", unexpected),
                (b"12+", unexpected), (b"12-x", unexpected),
                (b"abc", bad_number(b"invalid number",
                                    b"incomprehensible list input")),
                (b"9223372036854775808", out_of_range),
                (b"-9223372036854775809", out_of_range),
                (b"18446744073709551616", out_of_range),
                (b"123456789012345678901234", out_of_range)]:
            with self.subTest(text):
                self.expect(b"1\n" + text + b"\n0\n", MENU + NUMBER_PROMPT,
                            err, ABORT)

    def test_number_from_factor_txt(self):
        for name, data, n in [("two values", b"84 99\n", 84),
                              ("CR LF", b"84\r\n", 84),
                              ("blank records, no line end",
                               b"\n \n-9223372036854775808", -2 ** 63)]:
            with self.subTest(name):
                self.expect(b"2\n0\n", MENU + FROM_FILE + echo(n) + reports(n)
                            + ASK + CANCEL, files={"primes.txt": TABLE,
                                                   "factor.txt": data})

    def test_every_pass_reads_both_files_from_the_start(self):
        # The null number of the third pass keeps the 12 typed on the first.
        pass12 = NUMBER_PROMPT + echo(12) + reports(12)
        self.expect(b"1\n12\n1\n2\n1\n1\n,\n0\n",
                    MENU + pass12 + ASK + RESTART
                    + MENU + FROM_FILE + echo(84) + reports(84) + ASK + RESTART
                    + MENU + pass12 + ASK + CANCEL,
                    files={"primes.txt": TABLE, "factor.txt": b"84\n"})

    def test_tables(self):
        start = MENU + NUMBER_PROMPT + echo(360) + reports(360)
        done = start + ASK + CANCEL
        eof3 = end_of_input(3, b"primes.txt")
        for name, table, out, err, ending in [
                ("one record short", LAST, start, eof3, ABORT),
                ("one record short, no line end", LAST[:-1], start,
                 end_of_input(3, b"primes.txt", b"read start"), ABORT),
                ("extra records", TABLE + b"4\n9\n", done, b"", 0),
                ("CR LF", TABLE.replace(b"\n", b"\r\n"), done, b"", 0),
                ("a zero after 5", b"2\n3\n5\n0\n" + TABLE.split(b"\n", 4)[4],
                 start, b"Floating Exception" + LE, ABORT)]:
            with self.subTest(name):
                self.expect(b"1\n360\n0\n", out, err, ending,
                            {"primes.txt": table})

    def test_last_record_without_line_end(self):
        self.expect(*option1(999983), files={"primes.txt": TABLE[:-1]})

    def test_table_values_are_not_checked(self):
        # A null record keeps the previous value, tested once more.
        values = [b"1", b"-1", b"-2", b"4", b"12", b"-12", b"5", b",",
                  b"3*3", b"2*", b"7,8", b" 6 9", b"-9223372036854775808"]
        found = [1, -1, -2, 4, 12, -12, 5, 5, 3, 3, 7, 6, -2 ** 63]
        for n in (-12, -2 ** 63):
            with self.subTest(n):
                self.expect(b"1\n%d\n0\n" % n, MENU + NUMBER_PROMPT + echo(n)
                            + reports(n, found) + ASK + CANCEL,
                            files={"primes.txt": table_of(values)})

    def test_missing_files_are_created_empty(self):
        self.expect(b"1\n360\n0\n", MENU + NUMBER_PROMPT + echo(360),
                    end_of_input(3, b"primes.txt"), ABORT, files={},
                    created=["primes.txt"])
        self.expect(b"2\n0\n", MENU + FROM_FILE,
                    end_of_input(7, b"factor.txt"), ABORT,
                    created=["factor.txt"])


if __name__ == "__main__":
    unittest.main()
