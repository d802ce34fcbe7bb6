# zelko.scan(..., output=FILE): the table streamed to a file in bounded memory is the file
# the held matches write, whatever the memory, the order and the threads; the arguments
# that go with it are checked before anything is scanned.
import numpy as np
import pandas
import pytest

import zelko
from conftest import FLY, JASPAR3, TWO

pytestmark = pytest.mark.filterwarnings("ignore::zelko.ZelkoWarning")

# (keyword arguments of zelko.scan, the motifs scanned out of those of JASPAR3 and TWO).
CASES = {
    "position order, one thread": ({"threads": 1}, None),
    "p-value order, q-values, three threads": ({"sort": "pvalue", "qvalue": 0.5,
                                                "threads": 3}, None),
    "genome order, three threads": ({"sort": "genome", "threads": 3}, None),
    "some motifs, forward, genome order": ({"sort": "genome", "strands": "forward",
                                            "threads": 1}, [4, 1]),
}
# (file name, table=, the Hits method that writes the same table).
TABLES = [("hits.tsv", None, "to_tsv"), ("hits.bed", None, "to_bed"),
          ("hits.gff3", None, "to_gff3"), ("hits.gff", None, "to_gff3"),
          ("hits.txt", "bed", "to_bed")]


@pytest.fixture(scope="module")
def motifs():
    return zelko.read_motifs([JASPAR3, TWO])


@pytest.mark.parametrize("case", list(CASES))
def test_the_streamed_file_is_the_written_hits(case, motifs, tmp_path):
    kwargs, chosen = CASES[case]
    scanned = motifs if chosen is None else [motifs[i] for i in chosen]
    hits = zelko.scan(scanned, FLY, pvalue=1e-3, **kwargs)
    assert len(hits) > 100
    for name, table, method in TABLES:
        expected = tmp_path / ("held-" + name)
        getattr(hits, method)(expected)
        # The budget of 4K spills every few matches; the default holds them all.
        for memory, spilled in (("4K", True), (None, False)):
            path = tmp_path / name
            written = zelko.scan(scanned, FLY, pvalue=1e-3, output=path, table=table,
                                 memory=memory, **kwargs)
            assert path.read_bytes() == expected.read_bytes(), (name, memory)
            assert (written.run["memory"]["runs"] > 0) == spilled
            assert written.output == str(path) and written.rows_written == len(hits)
            assert written.motifs == hits.motifs
            pandas.testing.assert_frame_equal(written.summary(), hits.summary())
    # Nothing but the tables: no temporary file beside them.
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(
        [name for name, _, _ in TABLES] + ["held-" + name for name, _, _ in TABLES])


def test_bad_output_arguments_are_refused(motifs, tmp_path):
    path = tmp_path / "hits.tsv"
    refused = [
        ({"output": tmp_path / "hits.tsv.gz"}, ValueError, "plain name"),
        ({"output": 3}, TypeError, "output"),
        ({"output": path, "table": "csv"}, ValueError, "table"),
        ({"output": path, "table": 1}, TypeError, "table"),
        ({"output": path, "memory": "lots"}, ValueError, "memory"),
        ({"output": path, "memory": "4Q"}, ValueError, "memory"),
        ({"output": path, "memory": 512}, ValueError, "memory"),
        ({"output": path, "memory": "0.5K"}, ValueError, "memory"),
        ({"output": path, "memory": 1.5e9}, TypeError, "memory"),
        ({"output": path, "memory": True}, TypeError, "memory"),
        ({"output": path, "tmpdir": 5}, TypeError, "tmpdir"),
        ({"memory": "1G"}, ValueError, "output"),
    ]
    for kwargs, error, word in refused:
        with pytest.raises(error, match=word):
            zelko.scan(motifs, FLY, **kwargs)
    assert list(tmp_path.iterdir()) == []
    sizes = {"1.5K": 1536, "512M": 512 << 20, "2G": 2 << 30, "2gb": 2 << 30, 4096: 4096,
             np.int64(1 << 40): 1 << 40, None: zelko._zelko.DEFAULT_MEMORY}
    assert {given: zelko._memory(given) for given in sizes} == sizes
