#!/usr/bin/env python3
"""Writes a package's README.txt from the sections of the project's README.md
that its reader needs, so the two never say different things:

    make_readme.py windows|linux VERSION README.md OUTPUT

The package's own section (how to start the program there) comes first,
then what every reader shares: the sample session, how to answer, what the
scan reports and the table of reports. The Markdown becomes plain text:
paragraphs and list items wrapped, code blocks indented, and each table row
a block of its own, its first cell on top. A Windows README has CR LF line
ends and a byte order mark, which Notepad takes as UTF-8.
"""
import os
import re
import sys
import textwrap

WIDTH = 76
# The heading of each package's own section in README.md.
OWN = {"windows": "The Windows ZIP", "linux": "The Linux package"}
SHARED = ["A session", "How to answer", "What the scan reports", "Reports"]
TITLE = {"windows": "for the Windows console", "linux": "for Linux"}


def sections(markdown):
    """The README's parts: the text before its first section, under the
    key "", then each "## " section under its heading."""
    parts, name = {"": []}, ""
    for line in markdown.splitlines():
        if line.startswith("## "):
            name = line[3:].strip()
            parts[name] = []
        elif not line.startswith("# "):
            parts[name].append(line)
    return parts


def inline(text):
    """Markdown's inline marks dropped: code, emphasis."""
    text = re.sub(r"`([^`]*)`", r"\1", text)
    return re.sub(r"(\*\*|\*)(\S[^*]*?)\1", r"\2", text)


def cells(line):
    return [inline(c.strip()) for c in line.strip().strip("|").split("|")]


def table(rows):
    """A row per block: the first cell, then "Heading: cell" for the rest."""
    heads, out = cells(rows[0]), []
    for row in rows[2:]:  # past the heading and the rule
        first, *rest = cells(row)
        out += [""] * bool(out) + [first]
        for head, cell in zip(heads[1:], rest):
            out += textwrap.wrap("%s: %s" % (head, cell), WIDTH, initial_indent="  ",
                                 subsequent_indent="    ")
    return out


def blocks(lines):
    """Splits a section's lines into (kind, lines): code, table, item, text."""
    found, i = [], 0
    while i < len(lines):
        line = lines[i]
        if not line.strip():
            i += 1
        elif line.startswith("```"):
            end = lines.index("```", i + 1)
            found.append(("code", lines[i + 1:end]))
            i = end + 1
        else:
            kind = ("table" if line.startswith("|")
                    else "item" if re.match(r"(- |\d+\. )", line) else "text")
            j = i + 1
            while j < len(lines) and lines[j].strip() and not lines[j].startswith("```"):
                if kind == "table" and not lines[j].startswith("|"):
                    break
                if kind != "table" and re.match(r"(- |\d+\. |\|)", lines[j]):
                    break
                j += 1
            found.append((kind, lines[i:j]))
            i = j
    return found


def plain(lines):
    out, previous = [], None
    for kind, part in blocks(lines):
        if out and not (kind == previous == "item"):
            out.append("")  # a list's items stand together
        previous = kind
        if kind == "code":
            out += ["    " + line if line else "" for line in part]
        elif kind == "table":
            out += table(part)
        else:
            text = inline(" ".join(line.strip() for line in part))
            marker = re.match(r"(- |\d+\. )", text) if kind == "item" else None
            lead = " " * len(marker.group(0)) if marker else ""
            out += textwrap.wrap(text, WIDTH, subsequent_indent=lead,
                                 break_on_hyphens=False)
    return out + [""]


def heading(text):
    return [text, "-" * len(text), ""]


def main(argv):
    if len(argv) != 4 or argv[0] not in OWN:
        sys.exit("usage: make_readme.py windows|linux VERSION README.md OUTPUT")
    system, version, source, output = argv
    with open(source, encoding="utf-8") as f:
        parts = sections(f.read())
    missing = [name for name in [OWN[system]] + SHARED if name not in parts]
    if missing:
        sys.exit("make_readme.py: %s has no section %s" % (source, ", ".join(missing)))
    title = "factorizer %s %s" % (version, TITLE[system])
    lines = [title, "=" * len(title), ""] + plain(parts[""])
    lines += heading("Starting it") + plain(parts[OWN[system]])
    for name in SHARED:
        lines += heading(name) + plain(parts[name])
    while lines[-1] == "":
        lines.pop()
    text = "\n".join(lines) + "\n"
    if system == "windows":
        text = "\ufeff" + text.replace("\n", "\r\n")
    os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
    with open(output, "w", encoding="utf-8", newline="") as f:
        f.write(text)


if __name__ == "__main__":
    main(sys.argv[1:])
