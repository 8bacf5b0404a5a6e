#!/usr/bin/env python3
"""Writes a program's manual page from the text its --help prints, so that the two never differ.

    manpage.py --program PATH --name NAME --version VERSION --date DATE --output FILE.1.gz

The --help texts are laid out as manual pages: headings in capitals at the left margin, items as
a term with its description indented below it (or, in Qt's option tables, beside it), and
paragraphs. SYNOPSIS and EXAMPLES keep their lines as they are; everything else is filled.
"""

import argparse
import gzip
import os
import re
import subprocess
import sys

VERBATIM_SECTIONS = {"SYNOPSIS", "EXAMPLES"}
HEADING = re.compile(r"^[A-Z][A-Z ]*[A-Z]$")
# A row of Qt's option table: the option, two or more spaces, its description.
OPTION_ROW = re.compile(r"^(\s*)(-\S.*?)\s{2,}(\S.*)$")


def indent_of(line):
    return len(line) - len(line.lstrip(" "))


def escape(text):
    """Roff text: backslashes printed, option dashes as minus signs, no line read as a request."""
    text = text.replace("\\", "\\e")
    text = re.sub(r"(^|[\s\[(|=\"'])(-[^\s\[\]()|]*)",
                  lambda m: m.group(1) + m.group(2).replace("-", "\\-"), text)
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def split_sections(text):
    sections = []
    for line in text.splitlines():
        if HEADING.match(line):
            sections.append((line, []))
        elif sections:
            sections[-1][1].append(line.rstrip())
        elif line.strip():
            raise ValueError("text before the first heading: " + line)
    return sections


def paragraphs(lines):
    """Groups lines into paragraphs at blank lines."""
    groups, current = [], []
    for line in lines:
        if line.strip():
            current.append(line.strip())
        elif current:
            groups.append(current)
            current = []
    if current:
        groups.append(current)
    return groups


def filled(lines):
    return [escape(line) for line in lines]


def item(term_lines, body):
    """One term with its description, which may hold several paragraphs."""
    out = []
    if len(term_lines) == 1:
        out += [".TP", "\\fB" + escape(term_lines[0]) + "\\fR"]
        for n, paragraph in enumerate(paragraphs(body)):
            out += ([".IP"] if n else []) + filled(paragraph)
        return out
    out += [".PP", ".nf"] + ["\\fB" + escape(line) + "\\fR" for line in term_lines] + [".fi", ".RS"]
    for n, paragraph in enumerate(paragraphs(body)):
        out += ([".PP"] if n else []) + filled(paragraph)
    return out + [".RE"]


def items_and_paragraphs(lines):
    """A section's items (a term, then its description indented deeper) and paragraphs."""
    present = [line for line in lines if line.strip()]
    base = min(indent_of(line) for line in present)
    out, i = [], 0
    while i < len(lines):
        line = lines[i]
        if not line.strip():
            i += 1
            continue
        row = OPTION_ROW.match(line)
        if row and indent_of(line) == base:
            column = len(line) - len(row.group(3))
            body, i = [row.group(3)], i + 1
            while i < len(lines) and lines[i].strip() and indent_of(lines[i]) >= column:
                body.append(lines[i])
                i += 1
            out += item([row.group(2)], body)
        elif indent_of(line) == base and i + 1 < len(lines) and indent_of(lines[i + 1]) > base \
                and lines[i + 1].strip():
            term, i = [line.strip()], i + 1
            # A synopsis that goes on over several lines continues with its bracketed options.
            while i < len(lines) and lines[i].strip().startswith("["):
                term.append(lines[i].strip())
                i += 1
            body = []
            while i < len(lines) and (not lines[i].strip() or indent_of(lines[i]) > base):
                body.append(lines[i])
                i += 1
            out += item(term, body)
        else:
            paragraph = []
            while i < len(lines) and lines[i].strip():
                paragraph.append(lines[i].strip())
                i += 1
            out += [".PP"] + filled(paragraph)
    return out


def verbatim(lines):
    present = [line for line in lines if line.strip()]
    base = min(indent_of(line) for line in present)
    kept = [escape(line[base:]) if line.strip() else "" for line in lines]
    while kept and not kept[-1]:
        kept.pop()
    while kept and not kept[0]:
        kept.pop(0)
    return [".nf"] + kept + [".fi"]


def manual(text, name, version, date):
    out = ["'\\\" -*- coding: UTF-8 -*-",
           '.TH %s 1 "%s" "%s %s" "User Commands"' % (name.upper(), date, name, version)]
    for heading, lines in split_sections(text):
        if not any(line.strip() for line in lines):
            raise ValueError("empty section " + heading)
        out.append('.SH "%s"' % heading)
        if heading == "NAME":
            out += filled([" ".join(line.strip() for line in lines if line.strip())])
        elif heading in VERBATIM_SECTIONS:
            out += verbatim(lines)
        else:
            out += items_and_paragraphs(lines)
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--name", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--date", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()

    # The manual is the same with or without a display; ask for it without one.
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    help_text = subprocess.run([args.program, "--help"], check=True, env=env,
                               stdout=subprocess.PIPE).stdout.decode("utf-8")
    page = manual(help_text, args.name, args.version, args.date).encode("utf-8")
    # Compressed as Debian wants manual pages: at the highest level, without a name or a time.
    with open(args.output, "wb") as raw, \
            gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=raw, mtime=0) as out:
        out.write(page)
    return 0


if __name__ == "__main__":
    sys.exit(main())
