#!/usr/bin/env python3
"""Random differential run of a cubewright build against a model of its own.

    tools/differential.py [--cases N] [--seed S] [--direct] [PROGRAM]

Makes N random inputs and command lines, runs PROGRAM once per case, one case
right after the other, and compares the exit status, standard error and
document with what the model below says they must be. PROGRAM defaults to
build/windows/cubewright.exe, which runs under wine through
cmake/wine-run.sh, a fresh wine process per case (a native program runs as
it is). --direct runs the exe with wine itself, without the runner's retries,
to measure how often wine fails to start a program.

The model is written from the documented behaviour of the plain command line
and shares no code with the program:

- fields are separated by "," and LF (a CR right before the LF is part of the
  line end), empty fields carry nothing, a UTF-8 byte order mark at the start
  is skipped; fewer than three fields is a failure;
- the first three fields are the sizes along x, y and z, and the offsets are
  arguments three to five, all read as C's atoi reads them, saturated to 32
  bits; arguments six to eight mirror x, y and z by their presence alone;
- cells run x fastest, then z, then y downward from size_y - 1; a size of zero
  or less wraps its index on every cell; exactly #00000000 is empty;
- a position is index * (1 or -1) + offset in single precision, a colour is
  its pair (read like a stream reads hex, a missing pair 0) divided by 256;
  numbers are "%g" to six digits, ties to even; lines end in CR LF on Windows.

Prints one line per case that does not match, then the figures. Exits 1 if
any case did not match.
"""

import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1
C_SPACE = " \t\n\v\f\r"


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


def number_text(value):
    return "%g" % value


def colour(token, start):
    pair = token[start:start + 2]
    return f32(read_integer(pair, 16) / 256.0) if pair else 0.0


def expected_run(csv, arguments, line_end):
    """(exit status, standard error, document or None) for one case."""
    tokens = fields(csv)
    if len(tokens) < 3:
        message = ("cubewright: cannot read grid size: in.csv: fewer than three fields "
                   "(the header needs x, y and z sizes)")
        return 1, message + line_end, None
    size_x, size_y, size_z = (read_integer(token, 10) for token in tokens[:3])
    offsets = [read_integer(arguments[i], 10) if len(arguments) > i else 0 for i in range(3)]
    factors = [-1.0 if len(arguments) > i else 1.0 for i in range(3, 6)]
    lines = ["<model>", "<voxels>"]
    x, y, z = 0, size_y - 1, 0
    for token in tokens[3:]:
        if token != "#00000000":
            place = [f32(f32(f32(index) * factor) + f32(offset))
                     for index, factor, offset in zip((x, y, z), factors, offsets)]
            values = place + [colour(token, 1), colour(token, 3), colour(token, 5)]
            attributes = " ".join('%s="%s"' % (name, number_text(value))
                                  for name, value in zip("xyzrgb", values))
            lines.append('<voxel %s a="1.0" />' % attributes)
        x += 1
        if x > size_x - 1:
            x = 0
            z += 1
            if z > size_z - 1:
                z = 0
                y -= 1
    lines += ["</voxels>", "<skeleton />", "<skeletonVoxelBindings />", "</model>"]
    return 0, "", "".join(line + line_end for line in lines).encode()


def random_size(rng):
    roll = rng.random()
    if roll < 0.8:
        return str(rng.randint(1, 6))
    return rng.choice(["0", "-2", " 3", "+2", "4x", "2.5", "x", "0x10", "99999999999"])


def random_cell(rng):
    roll = rng.random()
    if roll < 0.35:
        return "#00000000"
    if roll < 0.9:
        text = "#" + "".join(rng.choice("0123456789abcdef") for _ in range(8))
        return text.upper() if rng.random() < 0.5 else text
    return rng.choice([" #00000000", "#000000ff", "#ff000000", "#12", "#1", "x", "#-1+f 0a",
                       "#0x0x0x", "#\tf\rf0f", "#zz00gg00", "#ABCDEF", "#00000000\r"])


def random_offset(rng):
    roll = rng.random()
    if roll < 0.6:
        return str(rng.randint(-50, 50))
    if roll < 0.8:
        return str(rng.choice([1, -1]) * rng.randint(10**5, 10**7))
    return rng.choice(["2.9", "x", " -1", "1e5", "+7", "", "-0", "99999999999",
                       "-99999999999", "2147483647", "-2147483648", "16777217"])


def random_case(rng):
    line_end = rng.choice(["\n", "\r\n"])
    header = [random_size(rng) for _ in range(3)]
    cells = [random_cell(rng) for _ in range(rng.randint(0, 60))]
    parts = []
    per_line = rng.randint(1, 8)
    for i, field in enumerate(header + cells):
        parts.append(field)
        if i == len(header) + len(cells) - 1:
            parts.append(line_end if rng.random() < 0.7 else "")
        elif i < 3:
            parts.append("," if rng.random() < 0.3 else line_end)
        elif (i - 2) % per_line == 0:
            parts.append(line_end + (line_end if rng.random() < 0.2 else ""))
        else:
            parts.append(",," if rng.random() < 0.05 else ",")
    text = "".join(parts)
    if rng.random() < 0.05:
        text = "\ufeff" + text
    if rng.random() < 0.03:
        text = rng.choice(["", "3,2", ",,\r\n", "4\n\n5\n"])
    arguments = [random_offset(rng) for _ in range(rng.randint(0, 3))]
    if len(arguments) == 3:
        arguments += [rng.choice(["flip", "0", "", "y", "-"]) for _ in range(rng.randint(0, 4))]
    return text.encode("utf-8"), arguments


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program", nargs="?",
                        default=os.path.join(ROOT, "build", "windows", "cubewright.exe"))
    parser.add_argument("--cases", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--direct", action="store_true",
                        help="run the exe with wine itself, without the runner's retries")
    options = parser.parse_args()
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

    counts = {"matched": 0, "wrong document": 0, "wrong status or message": 0,
              "silent failure": 0}
    started = time.monotonic()
    try:
        for number in range(1, options.cases + 1):
            csv, arguments = random_case(rng)
            case = os.path.join(work, "case")
            os.makedirs(case, exist_ok=True)
            with open(os.path.join(case, "in.csv"), "wb") as file:
                file.write(csv)
            output = os.path.join(case, "out.xml")
            if os.path.exists(output):
                os.remove(output)
            status, error, document = expected_run(csv, arguments, line_end)
            run = subprocess.run(runner + [program, "in.csv", "out.xml"] + arguments, cwd=case,
                                 env=environment, stdin=subprocess.DEVNULL, capture_output=True)
            got_document = None
            if os.path.exists(output):
                with open(output, "rb") as file:
                    got_document = file.read()
            if run.returncode != 0 and not run.stderr and not run.stdout:
                verdict = "silent failure"
            elif run.returncode != status or run.stderr.decode("utf-8", "replace") != error:
                verdict = "wrong status or message"
            elif got_document != document or run.stdout:
                verdict = "wrong document"
            else:
                verdict = "matched"
            counts[verdict] += 1
            if number % 100 == 0:
                print("%d cases, %d matched" % (number, counts["matched"]), flush=True)
            if verdict != "matched":
                print("case %d: %s: status %d, stderr %r, arguments %r, input %r" %
                      (number, verdict, run.returncode, run.stderr[:200], arguments, csv[:200]),
                      flush=True)
                keep = os.path.join(work, "failed-%d" % number)
                shutil.copytree(case, keep)
    finally:
        elapsed = time.monotonic() - started
        retries = 0
        if os.path.exists(retry_log):
            with open(retry_log) as file:
                retries = sum(1 for _ in file)
    total = sum(counts.values())
    print("seed %d: %d cases in %.0f s (%.0f ms a case), %s" %
          (seed, total, elapsed, 1000 * elapsed / max(total, 1),
           ", ".join("%d %s" % (count, name) for name, count in counts.items())))
    print("runner retries after a start that showed no sign of the program: %d" % retries)
    if counts["matched"] == total:
        shutil.rmtree(work)
        return 0
    print("inputs of the cases that did not match are in " + work)
    return 1


if __name__ == "__main__":
    sys.exit(main())
