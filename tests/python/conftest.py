# Shared fixtures of the Python package's tests: where the bundled data and the programs of
# the same build are, and `zelko scan` run as a program for the module to be compared with.
import io
import os
import pathlib
import subprocess

import pandas
import pytest

SOURCE = pathlib.Path(os.environ.get("ZELKO_SOURCE_DIR",
                                     pathlib.Path(__file__).resolve().parents[2]))
BINARY = pathlib.Path(os.environ.get("ZELKO_BINARY_DIR", SOURCE / "build"))

FLY = SOURCE / "examples" / "dm3_upstream300.fa.gz"
MOTIFCONV_DATA = SOURCE / "tests" / "data" / "motifconv"
JASPAR3 = MOTIFCONV_DATA / "jaspar3.jaspar"
TWO = SOURCE / "tests" / "data" / "workflow" / "two.jaspar"
# Four matrices of the bundled JASPAR excerpt (examples/), as a FLOAT profile library.
JASPAR4 = SOURCE / "tests" / "data" / "table" / "jaspar4.lib"


def program(name):
    path = BINARY / name
    if not path.exists():
        pytest.skip("%s is not built in %s" % (name, BINARY))
    return str(path)


def run(*words):
    """Standard output of a program of this build; it must succeed."""
    done = subprocess.run([program(words[0]), *map(str, words[1:])], capture_output=True,
                          text=True)
    assert done.returncode == 0, done.stderr
    return done.stdout


def read_tsv(text):
    """A TSV table as pandas reads it, empty fields kept as empty text."""
    return pandas.read_csv(io.StringIO(text), sep="\t", keep_default_na=False)


@pytest.fixture(scope="session")
def fly_records():
    """The fly upstream regions as (header, letters) pairs."""
    import gzip

    pairs, header, lines = [], None, []
    with gzip.open(FLY, "rt") as stream:
        for line in stream:
            line = line.rstrip("\n")
            if line.startswith(">"):
                if header is not None:
                    pairs.append((header, "".join(lines)))
                header, lines = line[1:], []
            else:
                lines.append(line)
    pairs.append((header, "".join(lines)))
    return pairs
