# zelko.scan against the `zelko scan` program of the same build: the DataFrame equals the
# program's TSV, the written tables equal its files, and every way of giving sequences in
# memory finds what the file gives.
import gzip
import warnings

import numpy as np
import pandas
import pytest

import zelko
from conftest import FLY, JASPAR3, JASPAR4, MOTIFCONV_DATA, SOURCE, TWO, read_tsv, run

PROTEINS = SOURCE / "tests" / "data" / "runs" / "seq" / "protein.fa"

# (motif files, keyword arguments of zelko.scan, the same options of zelko scan).
SCANS = {
    "counts, counted background": ([JASPAR3, TWO], {}, []),
    "counts, uniform, forward": ([JASPAR3, TWO], {"background": "uniform", "strands": "forward"},
                                 ["--background", "uniform", "--forward"]),
    "meme and transfac, q-values, p-value order": (
        [MOTIFCONV_DATA / "jaspar3.meme", MOTIFCONV_DATA / "jaspar3.transfac"],
        {"pvalue": 1e-3, "qvalue": 0.9, "sort": "pvalue"},
        ["--pvalue", "1e-3", "--qvalue", "0.9", "--sort", "pvalue"]),
    "genome order": ([JASPAR3, TWO], {"sort": "genome"}, ["--sort", "genome"]),
    "frequency file": ([JASPAR3], {"background": MOTIFCONV_DATA / "at_rich.freq"},
                       ["--background", MOTIFCONV_DATA / "at_rich.freq"]),
    "JASPAR library excerpt": ([JASPAR4], {"background": "uniform"},
                               ["--background", "uniform"]),
    "protein": ([MOTIFCONV_DATA / "protein.meme"], {"pvalue": 0.5, "background": "uniform",
                                                   "sequences": PROTEINS},
                ["--pvalue", "0.5", "--background", "uniform"]),
}


def scan_quietly(*args, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", zelko.ZelkoWarning)
        return zelko.scan(*args, **kwargs)


@pytest.fixture(scope="module", params=list(SCANS))
def scanned(request):
    files, kwargs, options = SCANS[request.param]
    kwargs = dict(kwargs)
    sequences = kwargs.pop("sequences", FLY)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", zelko.ZelkoWarning)
        motifs = zelko.read_motifs(files)
    hits = scan_quietly(motifs, sequences, threads=2, **kwargs)
    return hits, files + [sequences], options


def test_dataframe_and_tables_equal_the_program(scanned):
    hits, files, options = scanned
    table = run("zelko", "scan", "-q", *options, *files)
    expected = read_tsv(table)
    assert len(expected) >= 3
    frame = hits.to_pandas()
    # Same columns, rows, types; numbers to the seven digits the table prints.
    pandas.testing.assert_frame_equal(frame, expected, rtol=1e-6)
    assert hits.to_tsv() == table
    for kind in ("bed", "gff3"):
        assert getattr(hits, "to_" + kind)() == run("zelko", "scan", "-q", "--" + kind,
                                                     *options, *files)


def test_columns_agree_with_the_frame(scanned):
    hits, _, _ = scanned
    frame = hits.to_pandas()
    assert len(hits) == len(frame)
    assert hits.motif_id.tolist() == frame["motif_id"].tolist()
    assert [hits.motifs[i].id for i in hits.motif] == frame["motif_id"].tolist()
    assert [hits.sequence_names[i] for i in hits.sequence] == frame["sequence_name"].tolist()
    assert np.array_equal(hits.stop - hits.start + 1,
                          [hits.motifs[i].length for i in hits.motif])
    summary = hits.summary()
    assert summary["hits"].sum() == len(hits)
    reverse = hits.strand == "-"
    assert np.array_equal(summary["threshold"].to_numpy()[hits.motif][~reverse],
                          hits.threshold[~reverse])
    assert np.array_equal(summary["reverse_threshold"].to_numpy()[hits.motif][reverse],
                          hits.threshold[reverse])


def test_sequences_in_memory_give_the_file_hits(fly_records):
    bio = pytest.importorskip("Bio.SeqIO")
    motifs = zelko.read_motifs([JASPAR3, TWO])
    expected = scan_quietly(motifs, FLY, pvalue=1e-3).to_pandas()
    fasta = "".join(">%s\n%s\n" % pair for pair in fly_records)
    with gzip.open(FLY, "rt") as stream:
        records = list(bio.parse(stream, "fasta"))
    inputs = {
        "Fasta text": fasta,
        "Fasta bytes": fasta.encode(),
        "pairs": fly_records,
        "pairs of bytes": [(name, letters.encode()) for name, letters in fly_records],
        "generator": (pair for pair in fly_records),
        "Biopython records": records,
        "Biopython sequences": [(r.description, r.seq) for r in records],
    }
    for name, sequences in inputs.items():
        frame = scan_quietly(motifs, sequences, pvalue=1e-3).to_pandas()
        pandas.testing.assert_frame_equal(frame, expected, obj=name)


def test_one_sequence_alone():
    motifs = zelko.read_motifs(JASPAR3)
    letters = "ttttCACGTGtttt"
    for sequences in (letters, letters.encode(), [letters], [("only", letters)]):
        hits = scan_quietly(motifs, sequences, pvalue=1e-3, background="uniform")
        arnt = hits[hits.motif_id == "Arnt"]
        assert arnt.start.tolist() == [5, 5] and arnt.strand.tolist() == ["+", "-"]
        assert arnt.matched.tolist() == ["CACGTG", "CACGTG"]


def test_selected_motifs_are_the_rows_of_the_whole_scan():
    motifs = zelko.read_motifs(JASPAR3) + zelko.read_motifs(TWO)
    whole = scan_quietly(motifs, FLY, pvalue=1e-3)
    frame = whole.to_pandas()
    # Files read apart and scanned together make one scan of both.
    together = scan_quietly(zelko.read_motifs([JASPAR3, TWO]), FLY, pvalue=1e-3).to_pandas()
    pandas.testing.assert_frame_equal(frame, together)
    for chosen in ([1], [4, 1], [1, 2, 3]):
        hits = scan_quietly([motifs[i] for i in chosen], FLY, pvalue=1e-3)
        expected = frame[np.isin(whole.motif, chosen)].reset_index(drop=True)
        pandas.testing.assert_frame_equal(hits.to_pandas(), expected)
        assert hits.motifs == [motifs[i] for i in sorted(chosen)]
        # Written tables hold the selected rows only.
        assert len(hits.to_tsv().splitlines()) == len(expected) + 1


def test_row_selection_keeps_columns_and_tables_together():
    hits = scan_quietly(zelko.read_motifs(JASPAR3), FLY, pvalue=1e-3)
    frame = hits.to_pandas()
    mask = hits.pvalue < 1e-4
    for rows in (mask, np.flatnonzero(mask)[::-1], slice(3, 9)):
        part = hits[rows]
        expected = frame.iloc[rows]
        pandas.testing.assert_frame_equal(part.to_pandas(), expected.reset_index(drop=True))
        assert len(part.to_tsv().splitlines()) == len(part) + 1


def test_an_index_gives_the_file_hits(tmp_path):
    regions = SOURCE / "tests" / "data" / "table" / "regions.fa"
    run("zelkoindex", "-db", regions, "-dna", "-indexname", tmp_path / "idx", "-q")
    motifs = zelko.read_motifs(JASPAR3)
    expected = scan_quietly(motifs, regions, pvalue=1e-2, background="uniform")
    hits = scan_quietly(motifs, str(tmp_path / "idx"), pvalue=1e-2, background="uniform")
    assert hits.run["index"] and len(hits) > 20
    pandas.testing.assert_frame_equal(hits.to_pandas(), expected.to_pandas())
