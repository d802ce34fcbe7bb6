#!/usr/bin/env python3
"""Cuts a profile library into slices of whole groups for searching them apart.

    slice_library.py LIBRARY COUNT OUTDIR

writes OUTDIR/slice<j>.lib (j = 0 .. COUNT-1) and OUTDIR/slice<j>.groupoffset, the number of
groups before the slice's first group, which the merge adds to the group numbers of the
slice's matches. Slices hold about equal numbers of matrix rows; a slice may be left empty
when the library has fewer groups than slices. The lines are copied unchanged: a group
starts at a line "BEGIN GROUP" (blanks between and after the words allowed), and the lines
before the first group (comments) go to the first slice.
"""
import os
import re
import sys

GROUPSTART = re.compile(rb"^BEGIN[ \t]+GROUP[ \t]*\r?\n?$")
ROW = re.compile(rb"^MA[ \t]")


def groups(path):
    """The lines before the first group, then each group's lines and its number of rows."""
    head, found = [], []
    with open(path, "rb") as handle:
        for line in handle:
            if GROUPSTART.match(line):
                found.append([[line], 0])
            elif found:
                found[-1][0].append(line)
                if ROW.match(line):
                    found[-1][1] += 1
            else:
                head.append(line)
    return head, found


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 1
    head, found = groups(argv[1])
    count = int(argv[2])
    outdir = argv[3]
    os.makedirs(outdir, exist_ok=True)
    total = sum(rows for _, rows in found) or 1
    # Consecutive groups, a slice closed once the rows so far pass its share.
    slices = [[] for _ in range(count)]
    running, current = 0, 0
    for lines, rows in found:
        slices[current].append(lines)
        running += rows
        if current + 1 < count and running >= total * (current + 1) / count:
            current += 1
    before = 0
    for index, members in enumerate(slices):
        with open(os.path.join(outdir, f"slice{index}.lib"), "wb") as out:
            if index == 0:
                out.writelines(head)
            for lines in members:
                out.writelines(lines)
        with open(os.path.join(outdir, f"slice{index}.groupoffset"), "w") as out:
            out.write(f"{before}\n")
        before += len(members)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
