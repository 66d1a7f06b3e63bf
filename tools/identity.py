#!/usr/bin/env python3
"""Side-by-side identity check of two cubewright builds.

    tools/identity.py [--cases N] [--seed S] [--sides LIST] [--timeout T]
                      [--no-fixtures] [--no-limits] [--only ID] [--keep DIR]
                      OLD_PROGRAM NEW_PROGRAM

Holds NEW_PROGRAM to every byte of what OLD_PROGRAM does, case by case: the
exit status, standard output, standard error and every entry left in the
case's folder (names, kinds, modes, link targets and bytes; an entry that
only one of them leaves, such as a temporary file, is a difference).

A case is a set of files and one or more command lines. It is laid out in a
fresh folder and OLD_PROGRAM runs its command lines there one after the
other; the folder is recorded and removed, and the same is done for
NEW_PROGRAM in a folder of the same absolute path, so that messages naming
paths match. Both run with argv[0] "cubewright", standard input from
/dev/null, the same small environment, and at most --timeout seconds (30) a
command. A command that times out ends its case; the case is identical then
only if both programs timed out at the same command, with the same results
before it (what the folder holds is not compared then).

The cases, in this order:

- fixtures (id: the file's path and a number): every file under examples/
  and tests/data/ (the real exports and .vox files, with their notices),
  converted to a document, to CSV and to .vox, with -v,
  --preview, --compare, offsets, flip arguments and --mirror, in place, and
  in round trips (the output of one command is the input of the next);
- bench (bench-SIDE-KIND#N): a dense random export at each side of --sides
  (16,32,48), its document and its .vox made by OLD_PROGRAM, all converted
  the same ways, and each damaged at random places five times (lines
  replaced, added, dropped, swapped, a CR, a NUL, the end cut off). A
  document of 1 MiB or more is read by two threads, so the 48 side runs that
  path; an export of 8 MiB or more (side 94 and up, e.g. --sides
  16,32,48,104) or a .vox file of 1 MiB or more runs the pieces written by
  two threads;
- random (random-N): --cases cases (3000), each made from --seed and its
  number alone: small exports well-formed and malformed (missing and extra
  cells, CR LF, BOM, blank lines, empty fields, bad cells, odd sizes),
  documents (OLD_PROGRAM's own, foreign in style, mutated: cut short,
  numbers such as 1e400 and nan, attributes, comments, skeletons, deep
  nesting), .vox files (OLD_PROGRAM's own and ones made here with scene
  graphs, hidden nodes, layers, rotations and animation frames, mutated),
  odd inputs (empty, binary, missing, a folder, /dev/null, links), and command
  lines with odd offsets and flip texts, options in odd places, unknown
  options, missing arguments, --help and --version, existing outputs of
  every kind, missing folders, the input as output, device files
  (/dev/stdout, /dev/full, /dev/fd/N), and a few runs with standard output
  on /dev/full.

Prints one line per case that differs (its id, what differed, the
commands), then "identity: N cases, N identical, N differ", and exits 1 if
any differ. The same seed makes the same cases. --only ID runs that one case
again; --keep DIR lays out each differing case's files under DIR/ID, with
its commands in DIR/ID/commands.sh, to reproduce it by hand.
"""

import argparse
import hashlib
import os
import random
import resource
import shlex
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TIMEOUT = 30
EMPTY = "#00000000"

# ---------------------------------------------------------------------------
# Running a case and recording what it left


class Case:
    """Files to lay out (("file", path, bytes, mode), ("dir", path) or
    ("link", path, target)) and the command lines to run, argv[1:] each."""

    def __init__(self, ident, files, steps, stdout_full=False):
        self.ident = ident
        self.files = files
        self.steps = steps
        self.stdout_full = stdout_full

    def commands(self):
        text = " && ".join(shlex.join(["cubewright"] + step) for step in self.steps)
        return text + (" >/dev/full" if self.stdout_full else "")


def make_writable(top):
    for dirpath, dirnames, _ in os.walk(top):
        for name in dirnames:
            path = os.path.join(dirpath, name)
            if not os.path.islink(path):
                os.chmod(path, 0o755)


def clear(top):
    if os.path.lexists(top):
        make_writable(top)
        shutil.rmtree(top)


def lay_out(files, top):
    os.mkdir(top)
    for entry in files:
        path = os.path.normpath(os.path.join(top, entry[1]))
        try:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if entry[0] == "file":
                with open(path, "wb") as out:
                    out.write(entry[2])
                os.chmod(path, entry[3])
            elif entry[0] == "dir":
                os.makedirs(path, exist_ok=True)
            else:
                os.symlink(entry[2], path)
        except OSError:
            pass  # two entries in each other's way: the same happens for both programs


def snapshot(top):
    """Every entry under top: kind, mode, link target or size and digest."""
    entries = {}
    for dirpath, dirnames, filenames in os.walk(top):
        dirnames.sort()
        for name in dirnames + sorted(filenames):
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, top)
            status = os.lstat(path)
            mode = stat.S_IMODE(status.st_mode)
            if stat.S_ISLNK(status.st_mode):
                entries[rel] = ("link", os.readlink(path))
            elif stat.S_ISDIR(status.st_mode):
                entries[rel] = ("dir", oct(mode))
            elif stat.S_ISREG(status.st_mode):
                with open(path, "rb") as f:
                    data = f.read()
                # Small files are kept whole, to say where they differ.
                content = data if len(data) <= 1 << 20 else hashlib.sha256(data).hexdigest()
                entries[rel] = ("file", oct(mode), len(data), content)
            else:
                entries[rel] = ("other", oct(status.st_mode))
    return entries


def run_case(program, case, top):
    """The results of the case's commands (exit status, stdout, stderr, or
    "timeout"), and what the folder holds afterwards."""
    clear(top)
    lay_out(case.files, top)
    results = []
    for step in case.steps:
        stdout = open("/dev/full", "wb") if case.stdout_full else subprocess.PIPE
        # A session of its own, so that a timeout ends whatever it started.
        child = subprocess.Popen(["cubewright"] + step, executable=program, cwd=top,
                                 stdin=subprocess.DEVNULL, stdout=stdout, stderr=subprocess.PIPE,
                                 env=ENVIRONMENT, start_new_session=True)
        try:
            out, err = child.communicate(timeout=TIMEOUT)
            results.append((child.returncode, out or b"", err))
        except subprocess.TimeoutExpired:
            os.killpg(child.pid, signal.SIGKILL)
            child.communicate()
            results.append("timeout")
        finally:
            if case.stdout_full:
                stdout.close()
        if results[-1] == "timeout":
            break
    left = snapshot(top)
    clear(top)
    return results, left


def first_difference(a, b):
    same = 0
    while same < min(len(a), len(b)) and a[same] == b[same]:
        same += 1
    return same


def excerpts(a, b, limit=50):
    """Both texts from a little before their first difference."""
    start = max(0, first_difference(a, b) - 10)

    def excerpt(data):
        text = ("..." if start else "") + repr(bytes(data[start:start + limit]))
        return text + ("..." if len(data) > start + limit else "")

    return f"at byte {first_difference(a, b)}: old {excerpt(a)}, new {excerpt(b)}"


def differences(old, new):
    """What differs between two runs of one case, as short phrases."""
    (old_results, old_left), (new_results, new_left) = old, new
    found = []
    several = max(len(old_results), len(new_results)) > 1
    for i in range(max(len(old_results), len(new_results))):
        where = f" of command {i + 1}" if several else ""
        a = old_results[i] if i < len(old_results) else "not run"
        b = new_results[i] if i < len(new_results) else "not run"
        if a == b:
            continue
        if isinstance(a, str) or isinstance(b, str):
            found.append(f"run{where}: old {a if isinstance(a, str) else 'ended'},"
                         f" new {b if isinstance(b, str) else 'ended'}")
            continue
        if a[0] != b[0]:
            found.append(f"exit status{where} (old {a[0]}, new {b[0]})")
        for name, index in (("stdout", 1), ("stderr", 2)):
            if a[index] != b[index]:
                found.append(f"{name}{where} ({excerpts(a[index], b[index])})")
    if old_results and old_results[-1] == "timeout" and old_results == new_results:
        return found  # both timed out at the same command: what they left is not compared
    for name in sorted(set(old_left) | set(new_left)):
        a, b = old_left.get(name), new_left.get(name)
        if a == b:
            continue
        if a is None or b is None:
            found.append(f"{name} left only by {'new' if a is None else 'old'}")
        elif a[0] == "file" and b[0] == "file" and a[1] == b[1]:
            where = ""
            if isinstance(a[3], bytes) and isinstance(b[3], bytes):
                where = f", first difference at byte {first_difference(a[3], b[3])}"
            found.append(f"bytes of {name} (old {a[2]}, new {b[2]} bytes{where})")
        else:
            found.append(f"{name} (old {a[:2]}, new {b[:2]})")
    return found


def keep(case, folder):
    where = os.path.join(folder, case.ident.replace("/", "_"))
    os.makedirs(folder, exist_ok=True)
    clear(where)
    lay_out(case.files, where)
    with open(os.path.join(where, "commands.sh"), "w") as out:
        out.write(case.commands() + "\n")


# ---------------------------------------------------------------------------
# Sproxel CSV exports


def colour(rng, palette=None):
    if palette:
        return rng.choice(palette)
    text = "#%08x" % rng.getrandbits(32)
    if text == EMPTY:
        text = "#000000ff"
    return text.upper() if rng.random() < 0.3 else text


def layout_cells(rng, sizes, cells, style):
    """The lines of the cells: as the editor lays them out (a line per z row,
    a blank line after each layer), all on one line, or broken anywhere."""
    if style == "editor":
        row = max(sizes[0], 1)
        layer = row * max(sizes[2], 1)
        lines = []
        for start in range(0, len(cells), row):
            lines.append(",".join(cells[start:start + row]))
            if (start + row) % layer == 0:
                lines.append("")
        return lines
    if style == "one":
        return [",".join(cells)]
    lines, start = [], 0
    while start < len(cells):
        step = rng.randint(1, 7)
        lines.append(",".join(cells[start:start + step]))
        start += step
    return lines


BAD_CELLS = ["#zz00ff00", "#12", "#1234567890", "#", "ff00ffff", " #00000000", "#00000000 ",
             "#0000000", "#000000000", "#-1000000", "#+f00ff00", "#0x00ff00", "x", "#ffffff",
             "#GGGGGGGG", "#00000000\t", "\t#ff0000ff", "#00 00000", "#ffff", "#fffffffff",
             "#\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", "##0000000", "#0000000\r", "#00000001"]
ODD_SIZES = ["0", "-3", " 4", "4x", "", "+2", "1e1", "99999999999", "-99999999999", "2.5",
             "\t3", "0x4", "-0", "+-2", "2147483647", "2147483648", "-2147483648", "00003",
             "3 ", "x", "-1"]


def random_csv(rng, malformed=None):
    """A small export as text (str); malformed in about half of them unless
    told."""
    if rng.random() < 0.06:
        sizes = rng.choice([[300, 1, 2], [17, 9, 3], [12, 12, 12], [1, 40, 1], [257, 2, 1]])
    else:
        sizes = [rng.choice([1, 1, 2, 2, 3, 4, 5, 6]) for _ in range(3)]
    count = sizes[0] * sizes[1] * sizes[2]
    palette = None
    if rng.random() < 0.6:
        palette = [colour(rng) for _ in range(rng.randint(1, 6))]
    fill = rng.choice([0.0, 0.1, 0.3, 0.5, 0.8, 1.0, 1.0])
    cells = [colour(rng, palette) if rng.random() < fill else EMPTY for _ in range(count)]
    header = [str(s) for s in sizes]
    if malformed is None:
        malformed = rng.random() < 0.5
    text_ops = []
    if malformed:
        for _ in range(rng.randint(1, 3)):
            op = rng.randrange(14)
            if op == 0 and cells:
                del cells[rng.randrange(len(cells)):][:rng.randint(1, 5)]
            elif op == 1:
                cells.extend(colour(rng, palette) if rng.random() < 0.5 else EMPTY
                             for _ in range(rng.randint(1, 9)))
            elif op == 2:
                for _ in range(rng.randint(1, 4)):
                    cells.insert(rng.randint(0, len(cells)), "")
            elif op == 3 and cells:
                cells[rng.randrange(len(cells))] = rng.choice(BAD_CELLS)
            elif op == 4 and header:
                header[rng.randrange(len(header))] = rng.choice(ODD_SIZES)
            elif op == 5:
                header = header[:rng.randint(0, 2)]
                if rng.random() < 0.5:
                    cells = []
            elif op == 6:
                cells = []
            else:
                text_ops.append(op)
    lines = [",".join(header)]
    lines += layout_cells(rng, sizes, cells, rng.choice(["editor", "editor", "one", "random"]))
    if 7 in text_ops and len(lines) > 1:  # the header and the cells on one line
        lines[0:2] = [lines[0] + "," + lines[1]]
    if 8 in text_ops:  # blank lines
        for _ in range(rng.randint(1, 3)):
            lines.insert(rng.randint(0, len(lines)), "")
    if 9 in text_ops:  # trailing commas
        lines = [line + "," * rng.randint(0, 2) for line in lines]
    text = "\n".join(lines) + rng.choice(["\n", "\n", "", "\n\n"])
    if 10 in text_ops or (malformed and rng.random() < 0.15):
        text = text.replace("\n", "\r\n")
    if 11 in text_ops:
        text = "\ufeff" + text
    if 12 in text_ops:  # a lone CR, a tab, a NUL or a stray byte
        where = rng.randint(0, len(text))
        text = text[:where] + rng.choice(["\r", "\t", "\0", " ", ";", "\xff"]) + text[where:]
    if 13 in text_ops and text:
        text = text[:rng.randint(0, len(text))]
    return text


def dense_csv(rng, side, palette_size=None):
    """A dense export as the editor lays it out, upper-case cells."""
    palette = None
    if palette_size:
        palette = ["#%06X%02X" % (rng.getrandbits(24), rng.randint(1, 255))
                   for _ in range(palette_size)]
    lines = [f"{side},{side},{side}"]
    for _ in range(side):
        for _ in range(side):
            row = []
            for _ in range(side):
                if rng.random() >= 0.65:
                    row.append(EMPTY)
                elif palette:
                    row.append(rng.choice(palette))
                else:
                    row.append("#%06XFF" % rng.getrandbits(24))
            lines.append(",".join(row))
        lines.append("")
    return ("\n".join(lines) + "\n").encode()


# ---------------------------------------------------------------------------
# Model documents

VOXEL_LINE = (b'<voxel x="', b'" y="', b'" z="', b'" r="', b'" g="', b'" b="', b'" a="', b'" />')


def voxels_of(document):
    """The voxels of a document cubewright wrote, as lists of seven texts."""
    voxels = []
    for line in document.split(b"\n"):
        line = line.strip(b"\r")
        if not line.startswith(VOXEL_LINE[0]):
            continue
        values, rest = [], line[len(VOXEL_LINE[0]):]
        for sep in VOXEL_LINE[1:]:
            value, rest = (rest.split(sep, 1) + [b""])[:2]
            values.append(value.decode())
        voxels.append(values)
    return voxels


NUMBER_TEXTS = ["0", "1", "-1", "7", "-12", "255", "256", "300", "-0", "1.5", "0.5", "-2.5",
                "1e400", "-1e400", "nan", "NaN", "-nan", "inf", "-inf", "infinity", "1e9", "3.4e38",
                "1e-400", "", " 2 ", "\t3\n", "0x10", "0x1p3", "1e", "+", "-", "2147483648",
                "-2147483649", "1e2", "2e1", "+4", "1.0000001", "0.999999", "4294967296",
                ".5", "5.", "1e+02", "1,5", "1 2", "one", "&#49;", "&#x32;", "1&amp;",
                "0" * 1030 + "1",
                "9" * 40, "0." + "0" * 1100 + "1", "-0.0", "1E2", "  ", "0.0195312"]
ATTRIBUTES = ['a="0.5"', "foo='bar'", 'x="1"', "q='\"'", 'w="&lt;&gt;&amp;&quot;&apos;"',
              'bad=noquote', 'n="&bogus;"', 'c="&#0;"', 'u="\xc3\xa9"', 'id="&#x1F600;"',
              'A="1"', ':z="1"', 'xml:lang="en"', 'x', 'r = "0.25"', 'y="1" y="2"']
INSERTS = ["<!-- a comment -->", "<!---->", "<!-- a -- b -->", "<?pi data?>",
           "<?xml version=\"1.0\"?>",
           "<![CDATA[ <voxel x=\"9\"/> ]]>", "text", "   \n\t", "<extra/>", "<extra>x</extra>",
           "<voxel x=\"1\" y=\"2\" z=\"3\" r=\"0\" g=\"0\" b=\"0\"/>", "&amp;", "&bogus;", "&#10;",
           "<", ">", "]]>", "<voxel>", "</voxel>", "<voxels>", "</voxels>", "<skeleton/>",
           "<!DOCTYPE model>", "\0", "\xff", "\xc3", "\r", "<a:b/>", "<voxel/>",
           "<?xml-stylesheet href='x'?>"]
SKELETONS = ["<skeleton />", "<skeleton></skeleton>", "<skeleton/>",
             "<skeleton><bone id=\"1\"/></skeleton>",
             "<skeleton>text</skeleton>", "<skeleton><!-- only a comment --></skeleton>",
             "<skeleton> </skeleton>", "<skeleton><?pi?></skeleton>",
             "<skeleton><![CDATA[]]></skeleton>"]
BINDINGS = ["<skeletonVoxelBindings />", "<skeletonVoxelBindings></skeletonVoxelBindings>",
            "<skeletonVoxelBindings><binding voxel=\"0\" bone=\"1\"/></skeletonVoxelBindings>",
            "<skeletonVoxelBindings>\n</skeletonVoxelBindings>", ""]
DECLARATIONS = ['<?xml version="1.0"?>', '<?xml version="1.0" encoding="UTF-8"?>',
                "<?xml version='1.0' encoding='utf-8' standalone='yes'?>",
                '<?xml version="1.0" encoding="ISO-8859-1"?>', '<?xml version="1.1"?>',
                '<?xml encoding="UTF-8"?>', '<?xml version="1.0" encoding="UTF-16"?>',
                '<!DOCTYPE model [<!ENTITY e "1">]>']


def restyle(rng, voxels):
    """A well-formed document of these voxels in another style than
    cubewright's own (mostly)."""
    nl = rng.choice(["\n", "\r\n", "", "\n  "])
    dq = rng.random() < 0.6
    pieces = []
    if rng.random() < 0.1:
        pieces.append("\ufeff")
    if rng.random() < 0.4:
        pieces.append(rng.choice(DECLARATIONS[:3]) + nl)
    if rng.random() < 0.2:
        pieces.append("<!-- exported -->" + nl)
    pieces.append(rng.choice(["<model>", '<model name="gun" version="2">', "<model >"]) + nl)
    if rng.random() < 0.2:
        pieces.append("<info><author>someone &amp; co</author></info>" + nl)
    pieces.append("<voxels>" + nl)
    names = ["x", "y", "z", "r", "g", "b", "a"]
    for values in voxels:
        pairs = list(zip(names, values))
        if rng.random() < 0.3:
            rng.shuffle(pairs)
        if rng.random() < 0.3:
            pairs = [p for p in pairs if p[0] != "a"]
        if rng.random() < 0.1:
            pairs.insert(rng.randint(0, len(pairs)), ("bone", "3"))
        attrs = []
        for name, value in pairs:
            if rng.random() < 0.05:
                value = rng.choice([" " + value, value + " ",
                                    value if "." in value else value + ".0"])
            q = '"' if (dq if rng.random() < 0.9 else not dq) else "'"
            attrs.append(f"{name}{rng.choice(['=', '=', ' = '])}{q}{value}{q}")
        close = rng.choice(["/>", " />", "></voxel>", "> </voxel>"])
        pieces.append("<voxel " + rng.choice([" ", "\n"]).join(attrs) + close + nl)
        if rng.random() < 0.05:
            pieces.append(rng.choice(["<!-- c -->", "<?pi x?>", "<note>hi</note>", "<![CDATA[ ]]>",
                                     " "]) + nl)
    pieces.append("</voxels>" + nl)
    pieces.append(rng.choice(SKELETONS[:3] + [""]) + nl)
    pieces.append(rng.choice(BINDINGS[:2] + [""]) + nl)
    pieces.append("</model>" + rng.choice(["", "\n", "\n\n", "<!-- end -->"]))
    return "".join(pieces).encode()


def number_spans(document):
    """Where the attribute values are: (start, end) pairs."""
    spans, at = [], 0
    while True:
        at = document.find(b'="', at)
        if at < 0:
            return spans
        end = document.find(b'"', at + 2)
        if end < 0:
            return spans
        spans.append((at + 2, end))
        at = end + 1


def mutate_document(rng, document):
    data = bytearray(document)
    for _ in range(rng.randint(1, 3)):
        op = rng.randrange(16)
        if op == 0 and data:  # truncate
            del data[rng.randint(0, len(data) - 1):]
        elif op in (1, 2, 3):  # another value
            spans = number_spans(bytes(data))
            if spans:
                start, end = rng.choice(spans)
                data[start:end] = rng.choice(NUMBER_TEXTS).encode("utf-8", "surrogateescape")
        elif op == 4:  # an attribute more
            tags = [i for i in range(len(data)) if data[i:i + 7] == b"<voxel "]
            if tags:
                at = rng.choice(tags) + 7
                data[at:at] = (rng.choice(ATTRIBUTES) + " ").encode("latin-1")
        elif op == 5:  # something between the tags
            ends = [i + 1 for i in range(len(data)) if data[i] == ord(">")] or [0]
            at = rng.choice(ends + [0])
            data[at:at] = rng.choice(INSERTS).encode("latin-1")
        elif op == 6:  # a skeleton with content
            for old, options in ((b"<skeleton />", SKELETONS),
                                 (b"<skeletonVoxelBindings />", BINDINGS)):
                if rng.random() < 0.6 and old in data:
                    at = data.find(old)
                    data[at:at + len(old)] = rng.choice(options).encode()
        elif op == 7:  # an attribute less
            spans = number_spans(bytes(data))
            if spans:
                start, end = rng.choice(spans)
                name_start = data.rfind(b" ", 0, start) + 1
                del data[name_start:end + 1]
        elif op == 8:  # a line less or twice
            lines = bytes(data).split(b"\n")
            i = rng.randrange(len(lines))
            if rng.random() < 0.5:
                del lines[i]
            else:
                lines.insert(i, lines[i])
            data = bytearray(b"\n".join(lines))
        elif op == 9:  # an end tag less
            for tag in (b"</voxels>", b"</model>"):
                if rng.random() < 0.5 and tag in data:
                    at = data.find(tag)
                    del data[at:at + len(tag)]
        elif op == 10:  # something before the root
            before = DECLARATIONS + ["\ufeff", " \n", "\n\ufeff", "<!-- first -->", "x"]
            data[0:0] = rng.choice(before).encode()
        elif op == 11:
            data = bytearray(bytes(data).replace(b"\n", b"\r\n"))
        elif op == 12 and data:  # a stray byte
            data[rng.randrange(len(data))] = rng.choice(b"<>&\"'= /\0\xff\xc3\t\rvx0-")
        elif op == 13:  # an element renamed
            names = [b"<voxel ", b"<voxels>", b"</voxels>", b"<model>", b"</model>"]
            name = rng.choice(names)
            if name in data:
                at = data.find(name)
                data[at:at + len(name)] = rng.choice([name.upper(), name.replace(b"l", b"l2"),
                                                      name.replace(b"voxel", b"v:voxel")])
        elif op == 14:  # nested deep
            depth = rng.choice([10, 4094, 4095, 4096, 4097, 5000])
            at = data.find(b"<voxels>")
            if at >= 0:
                data[at:at] = b"<g>" * depth
                end = data.find(b"</model>")
                if end >= 0:
                    data[end:end] = b"</g>" * depth
        elif op == 15:  # quotes swapped in one tag
            spans = number_spans(bytes(data))
            if spans:
                start, end = rng.choice(spans)
                data[start - 1] = ord("'")
                if rng.random() < 0.8:
                    data[end] = ord("'")
    return bytes(data)


# ---------------------------------------------------------------------------
# MagicaVoxel files


def chunk(name, content=b"", children=b""):
    return name + struct.pack("<II", len(content), len(children)) + content + children


def vox_string(text):
    data = text.encode()
    return struct.pack("<I", len(data)) + data


def vox_dict(pairs):
    return struct.pack("<I", len(pairs)) + b"".join(vox_string(k) + vox_string(v) for k, v in pairs)


ROTATIONS = [4, 6, 9, 17, 24, 33, 40, 65, 82, 96, 120, 18, 36]  # some valid, some not (12, 0, 5)


def random_vox(rng):
    """A .vox file of its own: several models, a scene graph with
    translations, rotations, hidden nodes and layers, or animation frames
    without one."""
    count = rng.randint(1, 3)
    body = b""
    if count > 1 and rng.random() < 0.2:
        body += chunk(b"PACK", struct.pack("<i", count))
    for _ in range(count):
        size = [rng.randint(1, 6) for _ in range(3)]
        if rng.random() < 0.1:
            size[rng.randrange(3)] = rng.choice([0, 40, 256, 257])
        voxels = []
        for _ in range(rng.randint(0, 30)):
            voxels.append((rng.randrange(max(size[0], 1)), rng.randrange(max(size[1], 1)),
                           rng.randrange(max(size[2], 1)),
                           rng.randint(0 if rng.random() < 0.05 else 1, 255)))
        if rng.random() < 0.05 and voxels:
            voxels.append((size[0], 0, 0, 1))  # outside its model
        body += chunk(b"SIZE", struct.pack("<iii", *size))
        body += chunk(b"XYZI", struct.pack("<I", len(voxels))
                      + b"".join(bytes(min(c, 255) for c in v) for v in voxels))
    if rng.random() < 0.75:
        shapes = [rng.randrange(count) for _ in range(rng.randint(1, count + 1))]
        body += chunk(b"nTRN", struct.pack("<i", 0) + vox_dict([])
                      + struct.pack("<iiii", 1, -1, -1, 1) + vox_dict([]))
        children = [2 + 2 * i for i in range(len(shapes))]
        body += chunk(b"nGRP", struct.pack("<i", 1) + vox_dict([])
                      + struct.pack("<I", len(children))
                      + b"".join(struct.pack("<i", c) for c in children))
        for i, model in enumerate(shapes):
            attrs = [("_hidden", "1")] if rng.random() < 0.1 else []
            frame = []
            if rng.random() < 0.7:
                frame.append(("_t", " ".join(str(rng.randint(-20, 20)) for _ in range(3))))
            if rng.random() < 0.4:
                frame.append(("_r", str(rng.choice(ROTATIONS + [0, 5, 12]))))
            layer = rng.choice([-1, 0, 1])
            body += chunk(b"nTRN", struct.pack("<i", 2 + 2 * i) + vox_dict(attrs)
                          + struct.pack("<iiii", 3 + 2 * i, -1, layer, 1) + vox_dict(frame))
            body += chunk(b"nSHP", struct.pack("<i", 3 + 2 * i) + vox_dict([])
                          + struct.pack("<I", 1)
                          + struct.pack("<i", model) + vox_dict([]))
        for layer in (0, 1):
            attrs = [("_hidden", "1")] if rng.random() < 0.2 else []
            body += chunk(b"LAYR", struct.pack("<i", layer) + vox_dict(attrs)
                          + struct.pack("<i", -1))
    if rng.random() < 0.7:
        body += chunk(b"RGBA", bytes(rng.getrandbits(8) for _ in range(1024)))
    if rng.random() < 0.2:
        body += chunk(b"MATL", struct.pack("<i", 1) + vox_dict([("_type", "_glass")]))
    if rng.random() < 0.1:
        body += chunk(b"ZZZZ", b"unknown")
    return b"VOX " + struct.pack("<i", rng.choice([150, 150, 200, 1])) + chunk(b"MAIN", b"", body)


CHUNK_NAMES = (b"SIZE", b"XYZI", b"nTRN", b"nGRP", b"nSHP", b"MAIN", b"RGBA", b"LAYR")
VOX_INTS = [0, 1, 2, 255, 256, 0x7FFFFFFF, 0xFFFFFFFF, 0x80000000, 1 << 24, 12, 1000]


def mutate_vox(rng, data):
    data = bytearray(data)
    for _ in range(rng.randint(1, 3)):
        op = rng.randrange(6)
        if op == 0 and data:  # truncate
            del data[rng.randint(0, len(data) - 1):]
        elif op == 1:  # bytes changed
            for _ in range(rng.randint(1, 4)):
                if data:
                    data[rng.randrange(len(data))] = rng.getrandbits(8)
        elif op == 2 and len(data) >= 4:  # a number changed
            at = rng.randrange(len(data) - 3)
            if rng.random() < 0.7:  # one right after a chunk name
                names = [i + 4 for i in range(len(data) - 8) if bytes(data[i:i + 4]) in CHUNK_NAMES]
                if names:
                    at = rng.choice(names) + rng.choice([0, 4, 8, 12, 16])
                    at = min(at, len(data) - 4)
            data[at:at + 4] = struct.pack("<I", rng.choice(VOX_INTS))
        elif op == 3:  # bytes inserted
            at = rng.randint(0, len(data))
            data[at:at] = bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 8)))
        elif op == 4 and len(data) > 8:  # a stretch twice
            start = rng.randrange(8, len(data))
            end = min(len(data), start + rng.randint(1, 64))
            data[end:end] = data[start:end]
        elif op == 5:  # a translation or rotation text changed
            at = bytes(data).find(rng.choice([b"_t", b"_r", b"_hidden"]))
            if at >= 0 and at + 6 < len(data):
                length = struct.unpack_from("<I", data, at + 2)[0]
                text = rng.choice(["0 0 0", "1000 0 0", "-5 x 3", "", "1 2", "99999999999 0 0",
                                   "0", "120", "255", "1", "0 0 0 0",
                                   "2147483647 -2147483648 0"]).encode()
                if length <= 64:
                    data[at + 2:at + 6 + length] = struct.pack("<I", len(text)) + text
    return bytes(data)


# ---------------------------------------------------------------------------
# Command lines

OFFSETS = ["0", "3", "-2", "1", "-5", "7", "12", "flip", "4.7", "-0", "+3", "99999999999",
           "-99999999999", " 12", "\t5", "", "x", "1e5", "0x10", "2147483647", "2147483648",
           "-2147483648", "-2147483649", "\uff11", "007", "  -7abc", "+-3", "1000000", "-1000000",
           "999999", "12345678901234567890123", "-", "+", " ", "3 4", "--", "-v", "--to"]
MIRRORS = ["flip", "0", "", "1", "x", "-", "no", "false", "--mirror", "-h"]
UNKNOWN = ["-x", "--frobnicate", "--to=", "--to=json", "--mirror=w", "--mirror=", "-", "---",
           "--tO", "--versio", "--help=yes", "--version=1", "-vv", "--verbose=1", "--to=csv=x",
           "--preview=", "--compare=", "-V", "--Verbose", "-to", "--mirror=X", "--mirror=xyzx",
           "--mirror=xw", "-\xc3\xa9", "--to=XML", "--to= csv"]


def random_option(rng, state):
    """One option, as one or two arguments."""
    kind = rng.randrange(9)
    if kind == 0:
        return [rng.choice(["-v", "--verbose"])]
    if kind in (1, 2):
        fmt = rng.choice(["xml", "csv", "vox"])
        return [f"--to={fmt}"] if rng.random() < 0.3 else ["--to", fmt]
    if kind == 3:
        axes = rng.choice(["x", "y", "z", "yz", "xyz", "zx", "xx", "zyx"])
        return [f"--mirror={axes}"] if rng.random() < 0.3 else ["--mirror", axes]
    if kind in (4, 5):
        return ["--preview", state["preview"]]
    if kind == 6:
        compare = ["--compare", state["compare"]]
        if rng.random() < 0.3:
            compare = [f"--compare={state['compare']}"]
        return compare if rng.random() < 0.2 else ["--preview", state["preview"]] + compare
    if kind == 7:
        return [rng.choice(UNKNOWN)]
    return [rng.choice(["-h", "--help", "--version", "--"])]


def existing(rng, name, pools, kind=None):
    """A file of a random kind at name, or nothing."""
    kind = kind or rng.choice(["csv", "xml", "vox", "text", "empty", "binary", "png", "xml",
                               "dir", "link", "dangling", "readonly"])
    if kind == "csv":
        return [("file", name, rng.choice(pools["csv"]), 0o644)]
    if kind == "xml":
        return [("file", name, rng.choice(pools["xml"]), 0o644)]
    if kind == "vox":
        return [("file", name, rng.choice(pools["vox"]), 0o600)]
    if kind == "text":
        return [("file", name, b"notes, keep me\n", 0o644)]
    if kind == "empty":
        return [("file", name, b"", 0o640)]
    if kind == "binary":
        return [("file", name, b"\x00\x01\x02binary\xff", 0o755)]
    if kind == "png":
        return [("file", name, b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 0o644)]
    if kind == "dir":
        return [("dir", name), ("file", os.path.join(name, "inside.txt"), b"x", 0o644)]
    if kind == "link":
        return [("file", "real/target.xml", rng.choice(pools["xml"] + pools["csv"]), 0o644),
                ("link", name, os.path.relpath("real/target.xml", os.path.dirname(name) or "."))]
    if kind == "dangling":
        return [("link", name, "nowhere/missing.xml")]
    return [("file", name, rng.choice(pools["xml"]), 0o444)]


def output_name(rng, fmt):
    ext = {None: "xml", "xml": "xml", "csv": "csv", "vox": "vox"}[fmt]
    if rng.random() < 0.8:
        return f"out.{ext}"
    return rng.choice([f"sub/out.{ext}", f"missing/out.{ext}", "out", "OUT.XML", "-", "--help",
                       "/dev/null", "/dev/stdout", "/dev/stderr", "/dev/full",
                       f"Модели/模型 {ext}.{ext}",
                       "a" * 240 + "." + ext, ".hidden", "out.xml/", "", " ", f"sub/../out.{ext}",
                       "/dev/fd/1", "/dev/fd/2", "/proc/self/fd/1", "/dev/fd/9"])


def random_command(rng, input_name, pools, files):
    """A command line on input_name, and the files it needs beside it."""
    fmt = rng.choice([None, None, "xml", "csv", "vox", "csv", "vox"])
    output = output_name(rng, fmt)
    if rng.random() < 0.08:
        output = input_name  # in place
    if output.startswith("sub/"):
        files.append(("dir", "sub"))
    if rng.random() < 0.3 and not output.startswith("/") and output not in ("", " ", input_name):
        files.extend(existing(rng, output.rstrip("/") or "x", pools))
    preview = rng.choice(["p.png"] * 6 + ["no/p.png", "/dev/null", "/dev/full", "out.xml", "pdir",
                                           input_name, "p", "ex.png", "-", ""])
    if preview == "pdir":
        files.append(("dir", "pdir"))
    if preview == "ex.png":
        files.extend(existing(rng, "ex.png", pools))
    compare = rng.choice(["cmp.csv", "cmp.xml", "cmp.vox", "bad.xml", "missing.xml", input_name,
                          "/dev/null", "cdir", "p.png"])
    if compare in ("cmp.csv", "cmp.xml", "cmp.vox"):
        files.extend(existing(rng, compare, pools, compare[4:]))
    elif compare == "bad.xml":
        files.append(("file", compare, mutate_document(rng, rng.choice(pools["xml"])), 0o644))
    elif compare == "cdir":
        files.append(("dir", "cdir"))
    state = {"preview": preview, "compare": compare}

    options = []
    if fmt:
        options += [f"--to={fmt}"] if rng.random() < 0.3 else ["--to", fmt]
    for _ in range(rng.choice([0, 0, 0, 1, 1, 2, 3])):
        options += random_option(rng, state)
    if rng.random() < 0.1:
        rng.shuffle(options)
    if input_name.startswith("-") or rng.random() < 0.05:
        options.append("--")
    positional = [input_name, output]
    count = rng.choice([0, 0, 0, 1, 2, 3, 3, 3])
    positional += [rng.choice(OFFSETS) for _ in range(count)]
    if count == 3:
        positional += [rng.choice(MIRRORS) for _ in range(rng.choice([0, 0, 1, 2, 3, 4]))]
    args = options + positional
    odd = rng.random()
    if odd < 0.05:  # arguments missing
        args = args[:rng.randint(0, len(args) - 1)]
    elif odd < 0.10:  # an option in an odd place
        args.insert(rng.randint(0, len(args)), rng.choice(
            ["-v", "--to", "csv", "--help", "--", "-h", "--version", "--preview", "--mirror=x"]))
    elif odd < 0.12:
        args = rng.choice([[], ["--help"], ["-h"], ["--version"], [input_name], ["--to", "csv"],
                           ["--", input_name], ["-v", input_name], ["--version", input_name, "x"],
                           ["-h", "--version"], ["--version", "--help"], ["--"],
                           ["--", "--help", "x"]])
    return args


def random_input(rng, pools):
    """A kind, a file name and its content (bytes), or a path of the system."""
    kind = rng.choices(["csv", "xml", "vox", "odd"], [34, 30, 26, 10])[0]
    if kind == "csv":
        name = rng.choice(["in.csv"] * 8 + ["model.xml", "m.vox", "in", "-in.csv",
                                            "Модели/ружьё.csv", "with space.csv"])
        return name, random_csv(rng).encode("utf-8", "surrogateescape")
    if kind == "xml":
        name = rng.choice(["model.xml"] * 8 + ["model.csv", "model", "-model.xml", "模型.xml"])
        base = rng.choice(pools["xml"])
        if rng.random() < 0.3:
            voxels = voxels_of(base)
            if not voxels or rng.random() < 0.2:
                voxels = voxels_of(rng.choice(pools["xml"]))
            base = restyle(rng, voxels)
        if rng.random() < 0.7:
            base = mutate_document(rng, base)
        return name, base
    if kind == "vox":
        name = rng.choice(["m.vox"] * 8 + ["m.xml", "m.csv", "m"])
        base = rng.choice(pools["vox"]) if rng.random() < 0.6 else random_vox(rng)
        if rng.random() < 0.6:
            base = mutate_vox(rng, base)
        return name, base
    name, content = rng.choice([
        ("empty.csv", b""), ("bom.csv", b"\xef\xbb\xbf"), ("blank.csv", b" \n\t\r\n"),
        ("lt.csv", b"<"), ("lt2.csv", b"\xef\xbb\xbf \n<model/>"), ("vox.vox", b"VOX "),
        ("vox3.vox", b"VOX"), ("nul.csv", b"1,1,1\n#ff0000ff\0\n"), ("bin.csv", bytes(range(256))),
        ("text.csv", b"hello world\n"), ("three.csv", b"1,1,1"), ("two.csv", b"1,1\n"),
        ("commas.csv", b",,,,,\n,,\n"), ("header.csv", b"0,0,0\n#ff0000ff,#00ff00ff\n"),
        ("neg.csv", b"-2,-3,-1\n#ff0000ff,#00ff00ff,#0000ffff,#ffffffff\n"),
        ("png.csv", b"\x89PNG\r\n\x1a\n"), ("utf16.xml", "<model/>".encode("utf-16")),
        ("skeleton.xml", b"<model><voxels><voxel x='1' y='2' z='3' r='0.5' g='0.5' b='0.5'/>"
                         b"</voxels>"
                         b"<skeleton><bone/></skeleton></model>"),
        ("novoxels.xml", b"<model><voxels/></model>"), ("root.xml", b"<model/>"),
        ("other.xml",
         b"<scene><voxels><voxel x='1' y='2' z='3' r='0' g='0' b='0'/></voxels></scene>"),
        ("/dev/null", None), ("/dev/stdin", None), ("missing.csv", None), ("adir", "dir"),
        ("-", None), ("", None), ("dangling.csv", "dangling"), ("link.csv", "link"),
    ])
    return name, content


def random_case(index, seed, pools):
    rng = random.Random(f"{seed}/random/{index}")
    files = []
    name, content = random_input(rng, pools)
    if isinstance(content, bytes):
        files.append(("file", name, content, 0o644))
    elif content == "dir":
        files += [("dir", name), ("file", name + "/a.csv", b"1,1,1\n#ff0000ff\n", 0o644)]
    elif content == "dangling":
        files.append(("link", name, "gone.csv"))
    elif content == "link":
        files += [("file", "real/in.csv", random_csv(rng, False).encode(), 0o644),
                  ("link", name, "real/in.csv")]
    steps = [random_command(rng, name, pools, files)]
    if rng.random() < 0.08:  # the output fed back
        fmt = rng.choice(["csv", "vox", "xml"])
        offsets = rng.choice([[], ["3", "-2", "1"], ["0", "0", "0", "f"]])
        steps = [["--to", fmt, "--", name, "mid." + fmt] + offsets]
        steps.append(random_command(rng, "mid." + fmt, pools, files))
    return Case(f"random-{index}", files, steps, stdout_full=rng.random() < 0.02)


# ---------------------------------------------------------------------------
# Fixtures and bench models


def fixture_files():
    found = []
    for folder, every in (("examples", True), ("tests/data", True)):
        top = os.path.normpath(os.path.join(ROOT, folder))
        for dirpath, dirnames, filenames in os.walk(top):
            dirnames.sort()
            for name in sorted(filenames):
                if every or name.endswith((".csv", ".vox", ".xml")):
                    path = os.path.join(dirpath, name)
                    with open(path, "rb") as f:
                        found.append((os.path.relpath(path, ROOT), name, f.read()))
    return found


DIRECTIONS = [
    [["IN", "out.xml"]],
    [["--to", "csv", "IN", "out.csv"]],
    [["--to", "vox", "IN", "out.vox"]],
    [["--to=xml", "IN", "out.xml", "3", "-2", "1"]],
    [["-v", "IN", "out.xml"]],
    [["-v", "--to", "csv", "IN", "out.csv"]],
    [["--verbose", "--to", "vox", "IN", "out.vox"]],
    [["--preview", "p.png", "IN", "out.xml"]],
    [["--preview", "p.png", "--to", "vox", "IN", "out.vox", "0", "0", "0", "flip"]],
    [["--preview", "p.png", "--compare", "IN", "-v", "IN", "out.xml",
      "-5", "7", "0", "1", "1", "1"]],
    [["IN", "out.xml", "0", "0", "0", "flip"]],
    [["IN", "out.xml", "-5", "7", "0", "1", "1", "1"]],
    [["--to", "csv", "IN", "out.csv", "3", "-2", "1"]],
    [["--to", "csv", "--mirror", "yz", "IN", "out.csv", "-5", "7", "0", "1"]],
    [["--to", "vox", "IN", "out.vox", "-5", "7", "0", "1", "1", "1"]],
    [["--mirror=xz", "IN", "out.xml", "3", "-2", "1"]],
    [["--to", "csv", "IN", "mid.csv"], ["mid.csv", "back.xml"]],
    [["--to", "vox", "IN", "mid.vox"], ["mid.vox", "back.xml"],
     ["--to", "csv", "mid.vox", "back.csv"]],
    [["IN", "mid.xml", "3", "-2", "1", "flip"], ["--to", "csv", "mid.xml", "back.csv"],
     ["-v", "back.csv", "again.xml", "-8", "-2", "1"]],
    [["--to", "csv", "IN", "mid.csv", "0", "0", "0", "x", "y", "z"],
     ["--to", "vox", "mid.csv", "back.vox"],
     ["--to", "xml", "back.vox", "back.xml"]],
    [["IN", "IN"]],
]


def direction_cases(prefix, name, content):
    cases = []
    for number, steps in enumerate(DIRECTIONS):
        steps = [[name if arg == "IN" else arg for arg in step] for step in steps]
        cases.append(Case(f"{prefix}#{number}", [("file", name, content, 0o644)], steps))
    return cases


def fixture_cases():
    cases = []
    for rel, name, content in fixture_files():
        cases += direction_cases(rel, name, content)
    return cases


def run_old(program, top, files, steps):
    """The files that OLD_PROGRAM leaves after these steps, by name."""
    clear(top)
    lay_out(files, top)
    for step in steps:
        subprocess.run(["cubewright"] + step, executable=program, cwd=top,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, env=ENVIRONMENT, timeout=TIMEOUT)
    left = {}
    for name in os.listdir(top):
        path = os.path.join(top, name)
        if os.path.isfile(path):
            with open(path, "rb") as f:
                left[name] = f.read()
    clear(top)
    return left


def bench_cases(old, top, seed, sides):
    cases = []
    for side in sides:
        rng = random.Random(f"{seed}/bench/{side}")
        csv = dense_csv(rng, side, 200 if side <= 16 else None)
        made = run_old(old, top, [("file", "bench.csv", csv, 0o644)],
                       [["bench.csv", "bench.xml"], ["--to", "vox", "bench.xml", "bench.vox"]])
        if "bench.xml" not in made or "bench.vox" not in made:
            sys.exit(f"identity: the old program made no document or .vox of the {side} model")
        for ext in ("csv", "xml", "vox"):
            content = csv if ext == "csv" else made["bench." + ext]
            cases += direction_cases(f"bench-{side}-{ext}", "bench." + ext, content)
            # Damage deep inside a large input, where the work is shared out.
            for variant in range(5):
                damaged = mutate_large(rng, content, ext)
                for number, step in enumerate(LARGE_DIRECTIONS):
                    step = [f"bench.{ext}" if arg == "IN" else arg for arg in step]
                    cases.append(Case(f"bench-{side}-{ext}-damaged-{variant}#{number}",
                                      [("file", f"bench.{ext}", damaged, 0o644)], [step]))
    return cases


LARGE_DIRECTIONS = [["IN", "out.xml"], ["--to", "csv", "IN", "out.csv"],
                    ["--to", "vox", "IN", "out.vox"],
                    ["--preview", "p.png", "IN", "out.xml", "1", "2", "3"]]
DOCUMENT_LINES = [
    b'<voxel x="1.5" y="0" z="0" r="0.5" g="0.5" b="0.5" a="1.0" />',
    b"<voxel y='3' x='2' z='1' r='0' g='0' b='1'/>", b"<!-- a note -->", b"", b"  ", b"\t",
    b'<voxel x="2" y="3" z="4" r="0.5" g="0.5" b="0.5" a="1.0" foo="1" />',
    b'<voxel x="-0" y="1e1" z="+3" r=".5" g="0.50" b="5e-1" a="1.0" />',
    b'<voxel x="1" y="2" z="3" r="0.5" g="0.5" a="1.0" />',
    b'<voxel x="1" y="2" z="3" r="nan" g="0.5" b="0.5" a="1.0" />',
    b'<voxel x="999999999" y="0" z="0" r="0" g="0" b="0" a="1.0" />',
    b'<voxel x="1" y="2" z="3" r="0.5" g="0.5" b="0.5" a="1.0"></voxel>',
    b'<voxel  x="1"  y="2" z="3" r="0.5" g="0.5" b="0.5" a="1.0" />',
    b'<voxel x="1" y="2" z="3" r="0.5" g="0.5" b="0.5" a="1.0" />',
    b'<voxel x="1" y="2" z="3" r="0.5" g="0.5" b="0.5" a="1.0" />'
    b'<voxel x="1" y="2" z="4" r="0" g="0" b="0"/>',
    b"<voxel x=\"1\" y=\"2\" z=\"3\" r=\"0.5\" g=\"0.5\" b=\"0.5\" a=\"1.0\" />\r",
    b"<voxel x=\"1\"",
]


def mutate_large(rng, data, kind):
    """The input damaged or changed at one to three random places: lines
    replaced, added, dropped or swapped, a CR, a NUL, or the end cut off;
    a .vox file's bytes changed or cut."""
    data = bytearray(data)
    for _ in range(rng.randint(1, 3)):
        if kind == "vox":
            op = rng.randrange(3)
            if op == 0:
                del data[rng.randrange(len(data)):]
            elif op == 1:
                data[rng.randrange(len(data))] = rng.getrandbits(8)
            else:
                at = rng.randrange(len(data) - 4)
                data[at:at + 4] = struct.pack("<I", rng.choice(VOX_INTS))
            continue
        at = rng.randrange(len(data))
        start = data.rfind(b"\n", 0, at) + 1
        end = data.find(b"\n", at)
        end = len(data) if end < 0 else end
        line = bytes(data[start:end])
        op = rng.randrange(8)
        if op in (0, 1):  # a line replaced, or one more
            if kind == "xml":
                new = rng.choice(DOCUMENT_LINES)
            else:
                cells = line.split(b",")
                change = rng.randrange(5)
                if change == 0 and cells:
                    cells.pop()
                elif change == 1:
                    cells.append(b"#FF8000FF")
                elif change == 2 and cells:
                    bad = rng.choice([b"#zz000000", b"", b" #00000000", b"#12"])
                    cells[rng.randrange(len(cells))] = bad
                elif change == 3:
                    cells = [EMPTY.encode()] * len(cells)
                new = b",".join(cells) + rng.choice([b"", b"", b",", b"\r"])
            if op == 0:
                data[start:end] = new
            else:
                data[start:start] = new + b"\n"
        elif op == 2:  # a line less
            del data[start:end + 1]
        elif op == 3:  # a line ending in CR LF
            data[end:end] = b"\r"
        elif op == 4:  # a NUL byte
            data[at:at] = b"\0"
        elif op == 5:  # the end cut off
            del data[rng.choice([at, start]):]
        elif op == 6 and end + 1 < len(data):  # two lines swapped
            after = data.find(b"\n", end + 1)
            after = len(data) if after < 0 else after
            data[start:after] = data[end + 1:after] + b"\n" + line
        else:  # a blank line
            data[start:start] = b"\n"
    return bytes(data)


def make_pools(old, top, seed):
    """Inputs for the random cases: exports, the old program's documents
    and .vox files of them, and the fixtures'."""
    rng = random.Random(f"{seed}/pools")
    pools = {"csv": [], "xml": [], "vox": []}
    for _, name, content in fixture_files():
        kind = name.rsplit(".", 1)[-1]
        if kind in pools and len(content) < 100_000:
            pools[kind].append(content)
    for number in range(40):
        csv = random_csv(rng, malformed=False).encode()
        offsets = rng.choice([[], ["3", "-2", "1"], ["-5", "7", "0", "1"],
                              ["0", "0", "0", "f", "f", "f"],
                              ["100", "0", "-300"], ["1000000", "0", "0"]])
        made = run_old(old, top, [("file", "in.csv", csv, 0o644)],
                       [["in.csv", "out.xml"] + offsets, ["--to", "vox", "out.xml", "out.vox"]])
        pools["csv"].append(csv)
        for kind in ("xml", "vox"):
            if "out." + kind in made:
                pools[kind].append(made["out." + kind])
    for number in range(10):
        made = run_old(old, top, [("file", "in.vox", random_vox(rng), 0o644)],
                       [["in.vox", "out.xml"]])
        if "out.xml" in made:
            pools["xml"].append(made["out.xml"])
    return pools


# ---------------------------------------------------------------------------


ENVIRONMENT = {"PATH": "/usr/bin:/bin", "LC_ALL": "C.UTF-8", "HOME": "/nonexistent"}


def main():
    global TIMEOUT  # pylint: disable=global-statement
    parser = argparse.ArgumentParser(
        description="Side-by-side identity check of two cubewright builds.")
    parser.add_argument("--cases", type=int, default=3000, help="random cases (3000)")
    parser.add_argument("--seed", default="1", help="seed of the random cases and models (1)")
    parser.add_argument("--sides", default="16,32,48", help="sides of the bench models (16,32,48)")
    parser.add_argument("--timeout", type=float, default=TIMEOUT,
                        help="seconds a command may take (30)")
    parser.add_argument("--no-fixtures", action="store_true",
                        help="leave out the cases of the files in the tree (for a slow runner)")
    parser.add_argument("--no-limits", action="store_true",
                        help="no limit on address space (wine reserves more than 4 GiB)")
    parser.add_argument("--only", help="run only the case of this id")
    parser.add_argument("--keep", help="lay out each differing case under this folder")
    parser.add_argument("old", help="the program as it was")
    parser.add_argument("new", help="the program to hold to it")
    args = parser.parse_args()
    old, new = os.path.abspath(args.old), os.path.abspath(args.new)
    for program in (old, new):
        if not os.access(program, os.X_OK):
            sys.exit(f"identity: cannot run {program}")
    sides = [int(s) for s in args.sides.split(",") if s]
    TIMEOUT = args.timeout

    # Guards against a run that would fill the memory or the disk.
    if not args.no_limits:
        resource.setrlimit(resource.RLIMIT_AS, (4 << 30, 4 << 30))
    resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 30, 1 << 30))

    started = time.monotonic()
    scratch = tempfile.mkdtemp(prefix="cubewright-identity-")
    top = os.path.join(scratch, "case")
    total = identical = 0
    try:
        pools = make_pools(old, top, args.seed)

        def all_cases():
            if not args.no_fixtures:
                yield from fixture_cases()
            yield from bench_cases(old, top, args.seed, sides)
            for index in range(args.cases):
                yield random_case(index, args.seed, pools)

        for case in all_cases():
            if args.only and case.ident != args.only:
                continue
            total += 1
            found = differences(run_case(old, case, top), run_case(new, case, top))
            if not found:
                identical += 1
                continue
            print(f"{case.ident}: {'; '.join(found)}: {case.commands()}", flush=True)
            if args.keep:
                keep(case, os.path.abspath(args.keep))
    finally:
        clear(scratch)
    print(f"identity: {total} cases, {identical} identical, {total - identical} differ")
    print(f"identity took {time.monotonic() - started:.1f} s", file=sys.stderr)
    return 0 if total == identical else 1


if __name__ == "__main__":
    sys.exit(main())
