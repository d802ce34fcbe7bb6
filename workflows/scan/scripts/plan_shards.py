#!/usr/bin/env python3
"""Plans the shards of a scan: cuts the sequences of one database into consecutive ranges of
about equal total length, or, for several databases, makes each file a shard.

    plan_shards.py ranges DATABASE COUNT OUTDIR
        writes OUTDIR/shard<i>.range (i = 0 .. COUNT-1) holding "m:n" for zelkosearch's
        -seqrange, or nothing for a shard left without sequences (fewer sequences than shards)
    plan_shards.py files OUTDIR DATABASE...
        each database is a shard of its own: writes OUTDIR/dbsize (the length of the
        databases joined, as zelkosearch counts it: residues plus one separator between two
        sequences) and OUTDIR/file<i>.offset (the number of sequences in the files before
        database i)

Reads Fasta, GenBank and EMBL, plain or gzip-compressed, as the search program does: a
sequence per Fasta header or per record.
"""
import gzip
import os
import sys

WHITESPACE = b" \t\n\r\v\f"


def opentext(path):
    with open(path, "rb") as probe:
        magic = probe.read(2)
    if magic == b"\x1f\x8b":
        return gzip.open(path, "rb")
    return open(path, "rb")


def sequencelengths(path):
    """Lengths of the sequences of a database, in file order, counted as the search program
    counts residues: every byte of a sequence line but white space (and, in GenBank and EMBL
    sequence lines, the position numbers)."""
    lengths = []
    with opentext(path) as handle:
        lines = iter(handle)
        first = next((line for line in lines if line.strip()), b"")
        if first.startswith(b">"):
            lengths.append(0)
            for line in lines:
                if line.startswith(b">"):
                    lengths.append(0)
                else:
                    lengths[-1] += len(line.translate(None, WHITESPACE))
            return lengths
        # GenBank (ORIGIN ... //) and EMBL (SQ ... //): one sequence per record.
        insequence = False
        for line in [first, *lines]:
            if line.startswith((b"ORIGIN", b"SQ ")):
                insequence = True
                lengths.append(0)
            elif line.startswith(b"//"):
                if not insequence:
                    lengths.append(0)
                insequence = False
            elif insequence:
                lengths[-1] += len(line.translate(None, WHITESPACE + b"0123456789"))
    return lengths


def balancedcuts(lengths, count):
    """Start index of each of count consecutive ranges of about equal total length."""
    total = sum(lengths)
    starts = [0]
    running = 0
    for index, length in enumerate(lengths[:-1]):
        running += length
        if len(starts) < count and running >= total * len(starts) / count:
            starts.append(index + 1)
    return starts


def writeranges(database, count, outdir):
    lengths = sequencelengths(database)
    starts = balancedcuts(lengths, count) if lengths else []
    os.makedirs(outdir, exist_ok=True)
    for shard in range(count):
        text = ""
        if shard < len(starts):
            end = starts[shard + 1] - 1 if shard + 1 < len(starts) else len(lengths) - 1
            text = f"{starts[shard]}:{end}\n"
        with open(os.path.join(outdir, f"shard{shard}.range"), "w") as out:
            out.write(text)


def writefiles(outdir, databases):
    lengths = [sequencelengths(database) for database in databases]
    os.makedirs(outdir, exist_ok=True)
    sequences = sum(len(each) for each in lengths)
    with open(os.path.join(outdir, "dbsize"), "w") as out:
        out.write(f"{sum(sum(each) for each in lengths) + max(sequences - 1, 0)}\n")
    before = 0
    for index, each in enumerate(lengths):
        with open(os.path.join(outdir, f"file{index}.offset"), "w") as out:
            out.write(f"{before}\n")
        before += len(each)


def main(argv):
    if len(argv) == 5 and argv[1] == "ranges":
        writeranges(argv[2], int(argv[3]), argv[4])
    elif len(argv) >= 4 and argv[1] == "files":
        writefiles(argv[2], argv[3:])
    else:
        sys.stderr.write(__doc__)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
