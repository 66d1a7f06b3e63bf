#!/usr/bin/env python3
"""Random differential run of a cubewright build against a model of its own.

    tools/differential.py [--cases N] [--seed S] [--mode lenient|strict|both]
                          [--without-flag] [--direct] [PROGRAM]

Makes N random inputs and command lines and runs PROGRAM on each, once with
--lenient (at a random place among the arguments) and once without it
(--mode both, the default), one case right after the other in a folder of
its own. Each run's exit status, standard output, standard error and the
files the folder holds afterwards are compared with what the model below
says they must be. PROGRAM defaults to build/windows/cubewright.exe, which
runs under wine through cmake/wine-run.sh, a fresh wine process per case (a
native program runs as it is). --direct runs the exe with wine itself,
without the runner's retries, to measure how often wine fails to start a
program. --without-flag runs the lenient cases without --lenient and with
the options first, for a build from before the option (lenient mode only).

The model is written from the documented behaviour of the command line and
shares no code with the program. The lenient reading:

- fields are separated by "," and LF (a CR right before the LF is part of the
  line end), empty fields carry nothing, a UTF-8 byte order mark at the start
  is skipped; fewer than three fields is a failure, and so is a missing input;
- the first three fields are the sizes along x, y and z, and the offsets are
  positional arguments three to five, all read as C's atoi reads them,
  saturated to 32 bits; arguments six to eight mirror x, y and z by their
  presence alone; fewer than two positional arguments print the usage text;
- cells run x fastest, then z, then y downward from size_y - 1; a size of zero
  or less wraps its index on every cell; exactly #00000000 is empty;
- a position is index * (1 or -1) + offset in single precision, a colour is
  its pair (read like a stream reads hex, a missing pair 0) divided by 256;
  numbers are "%g" to six digits, ties to even; lines end in CR LF on Windows.

The strict reading (no --lenient) writes the same document for a well-formed
case and refuses every other one:

- the fields, split as above, are three sizes of digits only with blanks
  (space, tab) around them, each 1 to 2^31 - 1, then exactly x * y * z cells
  of "#" and eight hex digits;
- offsets are blanks, an optional sign, digits and blanks, within 32 bits; a
  mirror switch is any text but "", "0", "no", "false" and "off" (blanks
  trimmed, any case); arguments beyond the eighth are ignored;
- every filled cell's exact position (index * factor + offset) reads back
  from its "%g" text as the same whole number (so up to 999999 either way);
- a refusal, and one positional argument, is exit status 1, one line on
  standard error beginning "cubewright: " and the folder as it was.

In both readings standard output is empty but for the usage text; an
argument that begins with "--" or is "-" and a letter is an option wherever
it stands before "--", and one not known is a refusal, except with --lenient
after the input and the output, where it is an offset or a switch as it
always was.

Prints one line per run that does not match, then the figures of each mode
and the share of well-formed cases with the first fault of the others.
Exits 1 if any run did not match.
"""

import argparse
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1
C_SPACE = " \t\n\v\f\r"
EMPTY = "#00000000"
OFF_WORDS = ("", "0", "no", "false", "off")
SIZE = re.compile(r"[ \t]*[0-9]+[ \t]*")
CELL = re.compile(r"#[0-9a-fA-F]{8}")
OFFSET = re.compile(r"[ \t]*[+-]?[0-9]+[ \t]*")


def f32(value):
    """The nearest single-precision value."""
    return struct.unpack("<f", struct.pack("<f", value))[0]


def read_integer(text, base):
    """C's atoi (base 10), or a stream's hex extraction (base 16), saturated."""
    i = 0
    while i < len(text) and text[i] in C_SPACE:
        i += 1
    sign = 1
    if i < len(text) and text[i] in "+-":
        sign = -1 if text[i] == "-" else 1
        i += 1
    digits = "0123456789abcdef"[:base]
    if base == 16 and text[i:i + 2].lower() == "0x" and text[i + 2:i + 3].lower() in list(digits):
        i += 2
    value = 0
    while i < len(text) and text[i].lower() in digits:
        value = min(value * base + digits.index(text[i].lower()), 2**31)
        i += 1
    return max(INT32_MIN, min(INT32_MAX, sign * value))


def fields(data):
    """The non-empty fields of an input, as text of one character a byte."""
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    result = []
    lines = data.split(b"\n")
    for number, line in enumerate(lines):
        parts = line.split(b",")
        # A CR belongs to the line end only right before an LF.
        if number < len(lines) - 1 and parts[-1].endswith(b"\r"):
            parts[-1] = parts[-1][:-1]
        result.extend(part.decode("latin-1") for part in parts if part)
    return result


def colour(token, start):
    pair = token[start:start + 2]
    return f32(read_integer(pair, 16) / 256.0) if pair else 0.0


def filled_cells(tokens, sizes):
    """(x, y, z, token) of every filled cell, in file order."""
    size_x, size_y, size_z = sizes
    x, y, z = 0, size_y - 1, 0
    for token in tokens:
        if token != EMPTY:
            yield x, y, z, token
        x += 1
        if x > size_x - 1:
            x = 0
            z += 1
            if z > size_z - 1:
                z = 0
                y -= 1


class Case:
    """One input and command line: positional arguments, an option the
    program does not know (or None), -v or not, the input's bytes (None: no
    input) and an output that exists before the run (or None)."""

    def __init__(self):
        self.csv = b""
        self.positionals = ["in.csv", "out.xml"]
        self.unknown = None
        self.verbose = False
        self.existing = None


def failure(prefix="cubewright: "):
    return "failure", prefix


def lenient_document(tokens, arguments, line_end):
    sizes = [read_integer(token, 10) for token in tokens[:3]]
    offsets = [read_integer(arguments[i], 10) if len(arguments) > i else 0 for i in range(3)]
    factors = [-1.0 if len(arguments) > i else 1.0 for i in range(3, 6)]
    lines = ["<model>", "<voxels>"]
    for x, y, z, token in filled_cells(tokens[3:], sizes):
        place = [f32(f32(f32(index) * factor) + f32(offset))
                 for index, factor, offset in zip((x, y, z), factors, offsets)]
        values = place + [colour(token, 1), colour(token, 3), colour(token, 5)]
        attributes = " ".join('%s="%g"' % pair for pair in zip("xyzrgb", values))
        lines.append('<voxel %s a="1.0" />' % attributes)
    lines += ["</voxels>", "<skeleton />", "<skeletonVoxelBindings />", "</model>"]
    return "".join(line + line_end for line in lines).encode()


def strict_fault(case):
    """What keeps a case from being well-formed, or None."""
    if case.csv is None:
        return "missing input"
    tokens = fields(case.csv)
    if len(tokens) < 3:
        return "fewer than three fields"
    if not all(SIZE.fullmatch(token) and 1 <= int(token) <= INT32_MAX for token in tokens[:3]):
        return "header"
    sizes = [int(token) for token in tokens[:3]]
    if len(tokens) - 3 != sizes[0] * sizes[1] * sizes[2]:
        return "cell count"
    if not all(CELL.fullmatch(token) for token in tokens[3:]):
        return "cell"
    arguments = case.positionals[2:8]
    if not all(OFFSET.fullmatch(text) and INT32_MIN <= int(text) <= INT32_MAX
               for text in arguments[:3]):
        return "offset"
    if any(text.strip(" \t").lower() in OFF_WORDS for text in arguments[3:]):
        return "switch"
    offsets = [int(text) for text in arguments[:3]] + [0] * (3 - len(arguments[:3]))
    factors = [-1 if len(arguments) > i else 1 for i in range(3, 6)]
    for cell in filled_cells(tokens[3:], sizes):
        for index, factor, offset in zip(cell[:3], factors, offsets):
            place = index * factor + offset
            if float("%g" % place) != place:
                return "position"
    return None


KNOWN_OPTIONS = ("-v", "--verbose", "--lenient")


def lenient_case(case, arguments):
    """The case as --lenient reads `arguments`: an unknown word after the
    first two positional arguments is one of them, where it stands."""
    if not case.unknown:
        return case
    positionals = []
    options_ended = False
    for argument in arguments:
        if not options_ended and argument == "--":
            options_ended = True
        elif (options_ended or argument in ("", "-") or not argument.startswith("-") or
              (argument[1] != "-" and not argument[1].isalpha())):
            positionals.append(argument)
        elif argument in KNOWN_OPTIONS:
            continue
        elif len(positionals) >= 2:
            positionals.append(argument)
        else:
            return case
    read = Case()
    read.__dict__.update(case.__dict__)
    read.unknown = None
    read.positionals = positionals
    return read


def expected_run(case, mode, line_end):
    """("document", bytes), ("usage", None) or ("failure", start of the line)."""
    if case.unknown:
        return failure()
    if mode == "strict":
        if len(case.positionals) < 2 or strict_fault(case):
            return failure()
    elif len(case.positionals) < 2:
        return "usage", None
    if case.csv is None:
        return failure("cubewright: cannot open input: in.csv: ")
    tokens = fields(case.csv)
    if len(tokens) < 3:
        return failure("cubewright: cannot read grid size: in.csv: fewer than three fields "
                       "(the header needs x, y and z sizes)" + line_end)
    return "document", lenient_document(tokens, case.positionals[2:], line_end)


# ---------------------------------------------------------------------------
# Random cases: well-formed ones with the odd but allowed texts, and faults


def good_cell(rng):
    if rng.random() < 0.35:
        return EMPTY
    text = "#" + "".join(rng.choice("0123456789abcdef") for _ in range(8))
    return text.upper() if rng.random() < 0.5 else text


def good_offset(rng):
    roll = rng.random()
    if roll < 0.75:
        return str(rng.randint(-50, 50))
    if roll < 0.85:
        return str(rng.choice([1, -1]) * rng.randint(10**4, 999000))
    return rng.choice([" 7 ", "+3", "-0", "\t-5\t", "007", "+0", " 12"])


def good_switch(rng):
    return rng.choice(["flip", "1", "y", "-", "yes", "00", "x", " on ", "No!"])


def cell_fault(rng):
    return rng.choice([
        # bad hex, blanks, wrong length
        "#zz00gg00", "#0000000g", "#0x123456", "#+1234567", "#12 34567", "#-1+f 0a",
        " #00000000", "#00000000 ", "\t#ff00ffff", "#00000000\r",
        "#12", "#1234567", "#123456789", "#ABCDEF", "#", "12345678", "##1234567", "x"])


def join_fields(rng, header, cells, line_end):
    """The fields laid out on lines, with empty fields and blank lines."""
    parts = []
    per_line = rng.randint(1, 8)
    every = header + cells
    for i, field in enumerate(every):
        parts.append(field)
        if i == len(every) - 1:
            parts.append(line_end if rng.random() < 0.7 else "")
        elif i < 3:
            parts.append("," if rng.random() < 0.3 else line_end)
        elif (i - 2) % per_line == 0:
            parts.append(line_end + (line_end if rng.random() < 0.2 else ""))
        else:
            parts.append(",," if rng.random() < 0.05 else ",")
    if rng.random() < 0.05:
        parts.append(",")
    return "".join(parts)


def near_million(rng):
    """An offset that puts a small grid's positions across 999999."""
    base = rng.choice([999999, 1000000, 1500000, 2000000, 1234560])
    return str(rng.choice([1, -1]) * (base + rng.randint(-6, 6)))


HEADER_FAULTS = ("x", "size", "4x", "0x10", "1 2", "+2", "-2", "2.5", "2.0", "1e1", "0", "00",
                 " 0", "-0", "2147483648", "4294967297", "99999999999", "\u00b2")
OFFSET_FAULTS = ("flip", "4.7", "1e5", "4,-2,0", "", " ", "-", "0x10", "1 2", "+-3", "5-",
                 "2147483648", "-2147483649", "99999999999", "-99999999999")
SWITCH_FAULTS = ("0", "no", "OFF", " ", "", " False ", "off\t", "NO", "\t0 ")
UNKNOWN_OPTIONS = ("--flip", "-x", "--lenien", "--LENIENT", "-V", "--strict", "--offset", "-f")
FAULTS = ("header", "cells", "cell", "line end", "byte order mark", "offset", "switch",
          "position", "limits", "one argument", "missing input", "few fields", "unknown option")


def random_case(rng):
    """A case, meant to be well-formed half the time (the model judges it), -v in a tenth."""
    case = Case()
    line_end = rng.choice(["\n", "\r\n"])
    sizes = [rng.randint(1, 4) for _ in range(3)]
    if rng.random() < 0.3:
        sizes[rng.randrange(3)] = 1
    header = [rng.choice(["%d", "%d", "%d", " %d", "%d\t", "00%d"]) % size for size in sizes]
    cells = [good_cell(rng) for _ in range(sizes[0] * sizes[1] * sizes[2])]
    arguments = [good_offset(rng) for _ in range(rng.choice([0, 1, 2, 3, 3, 3]))]
    if len(arguments) == 3:
        arguments += [good_switch(rng) for _ in range(rng.randint(0, 3))]
        if len(arguments) == 6 and rng.random() < 0.2:
            arguments += rng.choice([["0"], ["", "no"], ["flip", "4.7", "x"]])
    fault = rng.choice(FAULTS) if rng.random() < 0.5 else None
    if fault == "header":
        header[rng.randrange(3)] = rng.choice(HEADER_FAULTS)
    elif fault == "cells" and rng.random() < 0.5:
        start = rng.randrange(len(cells))
        del cells[start:start + rng.randint(1, 3)]
    elif fault == "cells":
        cells += [good_cell(rng) for _ in range(rng.randint(1, 3))]
    elif fault == "cell":
        cells[rng.randrange(len(cells))] = cell_fault(rng)
    elif fault in ("offset", "switch"):
        target = rng.randint(0, 2) if fault == "offset" else rng.randint(3, 5)
        while len(arguments) <= target:
            arguments.append(good_offset(rng) if len(arguments) < 3 else good_switch(rng))
        arguments[target] = rng.choice(OFFSET_FAULTS if fault == "offset" else SWITCH_FAULTS)
    elif fault == "position":
        arguments = [near_million(rng) if rng.random() < 0.6 else str(rng.randint(-3, 3))
                     for _ in range(3)] + ["flip"] * rng.randint(0, 3)
    elif fault == "limits":
        arguments = [rng.choice(["2147483647", "-2147483648", "2147483646", "16777217"])
                     for _ in range(3)]
        if rng.random() < 0.5:
            cells = [EMPTY] * len(cells)
    text = join_fields(rng, header, cells, line_end)
    if fault == "line end" and rng.random() < 0.7:
        at = rng.randint(0, len(text))
        text = text[:at] + "\r" + text[at:]
    elif fault == "line end":
        text = text.rstrip("\n") + "\r"
    elif fault == "byte order mark" and rng.random() < 0.5:
        text = "\ufeff\ufeff" + text
    elif fault == "byte order mark":
        at = rng.randint(1, len(text))
        text = rng.choice(["", "\ufeff"]) + text[:at] + "\ufeff" + text[at:]
    elif rng.random() < 0.05:
        text = "\ufeff" + text
    case.csv = text.encode("utf-8")
    case.positionals += arguments
    if fault == "one argument":
        case.positionals = ["in.csv"]
    elif fault == "missing input":
        case.csv = None
    elif fault == "few fields":
        case.csv = rng.choice([b"", b"3,2", b",,\r\n", b"4\n\n5\n", b"\xef\xbb\xbf1\n1\n"])
    elif fault == "unknown option":
        case.unknown = rng.choice(UNKNOWN_OPTIONS)
    case.verbose = rng.random() < 0.1
    if rng.random() < 0.25:
        case.existing = b"<model>\n<voxels>\n</voxels>\n</model>\n"
    return case


def command_line(rng, case, mode, with_flag):
    """The arguments after the program: options among the positional ones,
    sometimes followed by "--"; all options first without the flag."""
    arguments = list(case.positionals)
    options = [case.unknown] if case.unknown else []
    options += [rng.choice(["-v", "--verbose"])] if case.verbose else []
    if mode == "lenient" and with_flag:
        options.append("--lenient")
    last = -1
    for option in options:
        at = rng.randint(0, len(arguments)) if with_flag else 0
        arguments.insert(at, option)
        last = at if at > last else last + 1
    if with_flag and rng.random() < 0.2:
        arguments.insert(rng.randint(last + 1, len(arguments)), "--")
    return arguments


def snapshot(folder):
    result = {}
    for name in os.listdir(folder):
        with open(os.path.join(folder, name), "rb") as file:
            result[name] = file.read()
    return result


def one_line(text, line_end):
    body = text[:-len(line_end)]
    return text.endswith(line_end) and "\n" not in body and "\r" not in body


def judge(expected, verbose, run, before, after, line_end):
    kind, detail = expected
    error = run.stderr.decode("utf-8", "replace")
    if run.returncode != 0 and not run.stderr and not run.stdout:
        return "silent failure"
    if kind == "usage":
        if run.returncode != 0 or not run.stdout or error:
            return "wrong status or message"
        return "matched" if after == before else "folder changed"
    if run.stdout:
        return "wrong standard output"
    if kind == "document":
        # -v: one line on standard error, "cubewright: wrote out.xml: N voxels, x ..."
        voxels = detail.count(b"<voxel ")
        note = "cubewright: wrote out.xml: %d voxel%s" % (voxels, "" if voxels == 1 else "s")
        rest = error[len(note):]
        noted = (error.startswith(note) and rest[:1] in (",", line_end[0])
                 and one_line(error, line_end)) if verbose else not error
        if run.returncode != 0 or not noted:
            return "wrong status or message"
        return "matched" if after == dict(before, **{"out.xml": detail}) else "wrong document"
    if run.returncode != 1 or not error.startswith(detail) or not one_line(error, line_end):
        return "wrong status or message"
    return "matched" if after == before else "folder changed"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program", nargs="?",
                        default=os.path.join(ROOT, "build", "windows", "cubewright.exe"))
    parser.add_argument("--cases", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--mode", choices=["lenient", "strict", "both"], default="both")
    parser.add_argument("--without-flag", action="store_true",
                        help="lenient cases without --lenient, for a build from before it")
    parser.add_argument("--direct", action="store_true",
                        help="run the exe with wine itself, without the runner's retries")
    options = parser.parse_args()
    if options.without_flag and options.mode != "lenient":
        parser.error("--without-flag needs --mode lenient")
    modes = ["lenient", "strict"] if options.mode == "both" else [options.mode]
    seed = options.seed if options.seed is not None else random.randrange(2**32)
    rng = random.Random(seed)
    program = os.path.abspath(options.program)
    windows = program.lower().endswith(".exe")
    line_end = "\r\n" if windows else "\n"

    work = tempfile.mkdtemp(prefix="cubewright-differential-")
    environment = dict(os.environ)
    retry_log = os.path.join(work, "retries")
    environment["CUBEWRIGHT_WINE_RETRY_LOG"] = retry_log
    if windows:
        build = os.path.dirname(program)
        while build != "/" and not os.path.exists(os.path.join(build, "CMakeCache.txt")):
            build = os.path.dirname(build)
        environment.setdefault("WINEPREFIX", os.path.join(build, "wine-prefix"))
        environment.update(WINEDEBUG="-all", LC_ALL="C.UTF-8", WINEDLLOVERRIDES="mscoree,mshtml=")
        environment.pop("DISPLAY", None)
        runner = ["/usr/lib/wine/wine64"] if options.direct else [
            os.path.join(ROOT, "cmake", "wine-run.sh")]
    else:
        runner = []

    verdicts = ["matched", "wrong document", "wrong status or message", "wrong standard output",
                "folder changed", "silent failure"]
    counts = {mode: dict.fromkeys(verdicts, 0) for mode in modes}
    missed = {mode: {} for mode in modes}
    faults = {}
    started = time.monotonic()
    try:
        for number in range(1, options.cases + 1):
            case = random_case(rng)
            # Before --lenient, -v wrote to standard output.
            case.verbose = case.verbose and not options.without_flag
            fault = strict_fault(case) if len(case.positionals) > 1 else "one argument"
            fault = ("unknown option" if case.unknown else fault) or "well-formed"
            faults[fault] = faults.get(fault, 0) + 1
            for mode in modes:
                folder = os.path.join(work, "case")
                shutil.rmtree(folder, ignore_errors=True)
                os.makedirs(folder)
                for name, data in (("in.csv", case.csv), ("out.xml", case.existing)):
                    if data is not None:
                        with open(os.path.join(folder, name), "wb") as file:
                            file.write(data)
                before = snapshot(folder)
                arguments = command_line(rng, case, mode, not options.without_flag)
                run = subprocess.run(runner + [program] + arguments, cwd=folder,
                                     env=environment, stdin=subprocess.DEVNULL,
                                     capture_output=True)
                read = lenient_case(case, arguments) if mode == "lenient" else case
                verdict = judge(expected_run(read, mode, line_end), case.verbose, run, before,
                                snapshot(folder), line_end)
                counts[mode][verdict] += 1
                if verdict != "matched":
                    missed[mode][fault] = missed[mode].get(fault, 0) + 1
                    print("case %d, %s: %s: status %d, stdout %r, stderr %r, arguments %r, "
                          "input %r" % (number, mode, verdict, run.returncode, run.stdout[:80],
                                        run.stderr[:200], arguments,
                                        None if case.csv is None else case.csv[:200]),
                          flush=True)
                    shutil.copytree(folder, os.path.join(work, "failed-%d-%s" % (number, mode)))
            if number % 500 == 0:
                print("%d cases" % number, flush=True)
    finally:
        elapsed = time.monotonic() - started
        retries = 0
        if os.path.exists(retry_log):
            with open(retry_log) as file:
                retries = sum(1 for _ in file)
    total = sum(faults.values())
    runs = total * len(modes)
    print("seed %d: %d cases in %.0f s (%.1f ms a run)" %
          (seed, total, elapsed, 1000 * elapsed / max(runs, 1)))
    for mode in modes:
        print("  %s: %s" % (mode, ", ".join("%d %s" % (count, name)
                                            for name, count in counts[mode].items())))
        if missed[mode]:
            print("    did not match, by first fault: " +
                  ", ".join("%s %d" % item for item in sorted(missed[mode].items())))
    well_formed = faults.pop("well-formed", 0)
    print("  well-formed %d (%.0f %%); first fault of the others: %s" %
          (well_formed, 100.0 * well_formed / max(total, 1),
           ", ".join("%s %d" % item for item in sorted(faults.items()))))
    if windows:
        print("runner retries after a start that showed no sign of the program: %d" % retries)
    if all(counts[mode]["matched"] == total for mode in modes):
        shutil.rmtree(work)
        return 0
    print("the folders of the runs that did not match are in " + work)
    return 1


if __name__ == "__main__":
    sys.exit(main())
