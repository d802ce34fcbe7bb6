# The module as Python code expects it to behave: TypeError naming the argument, file objects
# and texts read as their files, rows to iterate over, motifs as values (read-only, equal,
# picklable), motifs made from arrays, Biopython motifs and text, and the notebook views.
import copy
import gzip
import io
import pickle
import warnings

import numpy as np
import pandas
import pytest

import zelko
from conftest import FLY, JASPAR3, JASPAR4, MOTIFCONV_DATA, SOURCE

pytestmark = pytest.mark.filterwarnings("ignore::zelko.ZelkoWarning")

GENBANK = SOURCE / "tests" / "data" / "runs" / "seq" / "two.gb"
PROTEIN = MOTIFCONV_DATA / "protein.meme"


@pytest.fixture(scope="module")
def motifs():
    return zelko.read_motifs(JASPAR3)


@pytest.fixture(scope="module")
def fly_hits(motifs):
    return zelko.scan(motifs, FLY, pvalue=5e-3)


# (call on the motifs of JASPAR3, the start of the TypeError's message)
WRONG_TYPES = {
    "sequences None": (lambda m: zelko.scan(m, None), "sequences must be"),
    "sequences int": (lambda m: zelko.scan(m, 12345), "sequences must be"),
    "sequences dict": (lambda m: zelko.scan(m, {"s": "ACGT"}), "sequences must be"),
    "tuple of one": (lambda m: zelko.scan(m, [("a",)]), "sequences: item 0 must be"),
    "pair without letters": (lambda m: zelko.scan(m, [("a", "ACGT"), ("b", None)]),
                             "sequences: item 1 must be"),
    "motifs None": (lambda m: zelko.scan(None, "ACGT"), "motifs must be"),
    "pvalue str": (lambda m: zelko.scan(m, "ACGT", pvalue="1e-4"), "pvalue must be"),
    "threads float": (lambda m: zelko.scan(m, "ACGT", threads=1.5), "threads must be"),
    "score None": (lambda m: m[0].score(None), "sequence must be"),
    "score int": (lambda m: m[0].score(7), "sequence must be"),
    "pvalue of None": (lambda m: m[0].pvalue(None), "score must be"),
    "pvalue of str": (lambda m: m[0].pvalue("7000"), "score must be"),
    "threshold str": (lambda m: m[0].threshold("1e-4"), "pvalue must be"),
    "read_motifs None": (lambda m: zelko.read_motifs(None), "path must be"),
    "read_motifs int": (lambda m: zelko.read_motifs(42), "path must be"),
    "read_motifs list with int": (lambda m: zelko.read_motifs([JASPAR3, 42]), "path must be"),
    "read_motifs format": (lambda m: zelko.read_motifs(JASPAR3, format=1), "format must be"),
    "read_motifs pseudocount": (lambda m: zelko.read_motifs(JASPAR3, pseudocount=None),
                                "pseudocount must be"),
    "from_counts str": (lambda m: zelko.Motif.from_counts("ACGT"), "counts must be"),
    "from_counts letters": (lambda m: zelko.Motif.from_counts(np.ones((3, 4)), letters=4),
                            "letters must be"),
    "from_biopython int": (lambda m: zelko.Motif.from_biopython(42), "motif must be"),
    "motifs_from_text None": (lambda m: zelko.motifs_from_text(None), "text must be"),
}


@pytest.mark.parametrize("case", list(WRONG_TYPES))
def test_wrong_types_raise_type_error_naming_the_argument(motifs, case):
    call, text = WRONG_TYPES[case]
    with pytest.raises(TypeError) as caught:
        call(motifs)
    assert str(caught.value).startswith(text), str(caught.value)


def gzipped(path):
    return io.BytesIO(gzip.compress(path.read_bytes()))


# (how the sequences are given, made from the file) -> the file's hits
SEQUENCE_TEXTS = {
    "Fasta file object": (FLY, lambda p: io.StringIO(gzip.decompress(p.read_bytes()).decode())),
    "gzip file object": (FLY, lambda p: io.BytesIO(p.read_bytes())),
    "GenBank text": (GENBANK, lambda p: p.read_text()),
    "GenBank bytes": (GENBANK, lambda p: p.read_bytes()),
    "GenBank file object": (GENBANK, lambda p: io.StringIO(p.read_text())),
    "gzipped GenBank file object": (GENBANK, gzipped),
}


@pytest.mark.parametrize("case", list(SEQUENCE_TEXTS))
def test_sequence_texts_and_file_objects_give_the_file_hits(motifs, case):
    path, given = SEQUENCE_TEXTS[case]
    expected = zelko.scan(motifs, path, pvalue=0.2 if path == GENBANK else 1e-3)
    hits = zelko.scan(motifs, given(path), pvalue=0.2 if path == GENBANK else 1e-3)
    assert len(expected) > 0
    pandas.testing.assert_frame_equal(hits.to_pandas(), expected.to_pandas())
    assert hits.run["sequence_file"] in ("", "(text)")


MOTIF_FILES = ["jaspar3.jaspar", "jaspar3.meme", "jaspar3.transfac", "protein.meme"]


@pytest.mark.parametrize("name", MOTIF_FILES)
def test_motif_texts_and_file_objects_give_the_file_motifs(name):
    path = MOTIFCONV_DATA / name
    expected = zelko.read_motifs(path)
    text = path.read_text()
    for given in (zelko.read_motifs(text), zelko.read_motifs(io.StringIO(text)),
                  zelko.read_motifs([io.BytesIO(text.encode())]),
                  zelko.motifs_from_text(text.encode()), zelko.motifs_from_text(text)):
        assert given == expected
        assert all(np.array_equal(a.weights, b.weights) for a, b in zip(given, expected))
        assert given[0].source_file == "(text)"
    # A text's errors name it as the text, not as a temporary file.
    with pytest.raises(ValueError, match=r"^Parsing error in file `\(text\)', line 2"):
        zelko.read_motifs(">s1\nACGTTGCA\n")


def test_iterating_gives_the_rows_of_the_table(fly_hits):
    rows = list(fly_hits)
    frame = fly_hits.to_pandas()
    assert len(rows) == len(fly_hits) == len(frame) > 4096  # more than one batch
    assert zelko.Row._fields == zelko.COLUMNS == tuple(frame.columns)
    assert rows == [zelko.Row(*values) for values in frame.itertuples(index=False)]
    assert fly_hits[0] == rows[0] and fly_hits[-1] == rows[-1]
    assert fly_hits[np.int64(5)].start == frame["start"][5]
    with pytest.raises(IndexError):
        fly_hits[len(fly_hits)]
    assert list(fly_hits[:0]) == []


def test_motifs_are_read_only(motifs):
    motif = motifs[1]
    for name in ("weights", "counts", "id", "accession", "background"):
        with pytest.raises(AttributeError):
            setattr(motif, name, getattr(motif, name))
    for array in (motif.weights, motif.counts):
        assert not array.flags.writeable
        with pytest.raises(ValueError):
            array[0, 0] = 0


# Motifs of each kind: counts (uniform or given background and pseudocount), a FLOAT library,
# protein, and a motif made from counts in memory.
MOTIF_KINDS = {
    "counts": lambda: zelko.read_motifs(JASPAR3)[1],
    "counts, own background": lambda: zelko.read_motifs(
        JASPAR3, pseudocount=0.5, background=[0.45, 0.2, 0.25, 0.1])[2],
    "library": lambda: zelko.read_motifs(JASPAR4)[3],
    "protein": lambda: zelko.read_motifs(PROTEIN)[0],
    "from counts": lambda: zelko.Motif.from_counts([[1, 2, 3, 4], [4, 0, 0, 0]], id="m 1"),
}


@pytest.mark.parametrize("kind", list(MOTIF_KINDS))
def test_motifs_pickle_copy_and_compare_as_values(kind):
    motif = MOTIF_KINDS[kind]()
    restored = pickle.loads(pickle.dumps(motif))
    for other in (restored, copy.copy(motif), copy.deepcopy(motif)):
        assert other == motif and hash(other) == hash(motif)
        assert (other.id, other.accession, other.description, other.source_file,
                other.source_line) == (motif.id, motif.accession, motif.description,
                                       motif.source_file, motif.source_line)
        assert np.array_equal(other.weights, motif.weights)
        assert other.background == motif.background
        assert other.threshold(1e-3) == motif.threshold(1e-3)
    # A restored motif scans as the motif does, alone and with others.
    letters = "ACDEFGHIKLMNPQRSTVWY" * 20 if kind == "protein" else "ACGGTTACGTAGCATTTGACCA" * 20
    pandas.testing.assert_frame_equal(zelko.scan(restored, letters, pvalue=0.1).to_pandas(),
                                      zelko.scan(motif, letters, pvalue=0.1).to_pandas())
    if kind in ("counts", "library", "from counts"):
        other = zelko.read_motifs(JASPAR3)[0]
        together = zelko.scan([other, restored], letters, pvalue=0.1)
        assert set(together.motif_id) <= {other.id, motif.id}
    # Another motif, or the same counts on another background, differ.
    assert motif != zelko.read_motifs(JASPAR3)[0]
    if kind == "counts":
        assert motif != zelko.read_motifs(JASPAR3, background=[0.3, 0.2, 0.2, 0.3])[1]


def test_pvalues_beyond_the_score_range(motifs):
    motif = motifs[1]
    low, high = motif.score_range
    cases = [(2 ** 70, 0.0), (10 ** 400, 0.0), (np.inf, 0.0), (high + 1, 0.0),
             (high + 0.5, 0.0), (-np.inf, 1.0), (-2 ** 70, 1.0), (-10 ** 400, 1.0),
             (low, 1.0)]
    for score, expected in cases:
        assert motif.pvalue(score) == pytest.approx(expected), score
        assert motif.pvalue(score, strand="-") == pytest.approx(expected), score
    values = motif.pvalue([2 ** 70, -np.inf, high, np.nan])
    assert values[0] == 0.0 and values[1] == pytest.approx(1.0) and 0 < values[2] < 1e-6
    assert np.isnan(values[3])  # the score of a window that has none


SKEWED = [0.45, 0.2, 0.25, 0.1]  # a, c, g, t
COMPLEMENTED = SKEWED[::-1]


def test_each_strand_has_its_threshold_and_pvalues():
    pax6 = zelko.read_motifs(JASPAR3)[1]
    # Weights that do not depend on the background: the reverse strand under a background
    # has the distribution of the forward strand under the complemented one.
    fixed = zelko.Motif.from_weights(pax6.weights, id="PAX6")
    for pvalue in (1e-2, 1e-4):
        forward = fixed.threshold(pvalue, background=SKEWED)
        reverse = fixed.threshold(pvalue, background=SKEWED, strand="-")
        assert reverse == fixed.threshold(pvalue, background=COMPLEMENTED)
        assert forward == fixed.threshold(pvalue, background=COMPLEMENTED, strand="-")
        assert forward != reverse
        assert fixed.pvalue(reverse, background=SKEWED, strand="-") == pytest.approx(
            fixed.pvalue(reverse, background=COMPLEMENTED))
        # A background that complementing leaves as it is gives both strands one threshold.
        assert fixed.threshold(pvalue, strand="-") == fixed.threshold(pvalue)
    protein = zelko.read_motifs(PROTEIN)[0]
    for call in (lambda: protein.threshold(1e-3, strand="-"),
                 lambda: protein.pvalue(0, strand="-"), lambda: pax6.threshold(1e-3, strand="both")):
        with pytest.raises(ValueError, match="strand"):
            call()


def test_the_threshold_column_is_the_rows_strand_threshold():
    motifs = zelko.read_motifs(JASPAR3)
    letters = np.random.default_rng(3).choice(list("acgt"), 200_000, p=SKEWED)
    hits = zelko.scan(motifs, "".join(letters), pvalue=1e-3)
    counted = dict(zip(hits.run["background_letters"], hits.run["background_frequencies"]))
    summary = hits.summary()
    for strand, column in (("+", "threshold"), ("-", "reverse_threshold")):
        # The scan's thresholds are the motifs' on its counted background, strand by strand.
        assert summary[column].tolist() == [
            zelko.read_motifs(JASPAR3, background=counted)[i].threshold(1e-3, strand=strand)
            for i in range(len(motifs))]
        rows = hits.strand == strand
        assert rows.any()
        assert np.array_equal(hits.threshold[rows], summary[column].to_numpy()[hits.motif[rows]])
        assert (hits.score[rows] >= hits.threshold[rows]).all()
    assert (summary["threshold"] != summary["reverse_threshold"]).any()


def biopython_motifs():
    motifs = pytest.importorskip("Bio.motifs")
    with open(JASPAR3) as stream:
        return list(motifs.parse(stream, "jaspar"))


# (a motif made in memory, the motif of JASPAR3 it equals)
MADE = {
    "counts array": (lambda m: zelko.Motif.from_counts(m.counts, id=m.id, accession=m.accession)),
    "counts as lists": (lambda m: zelko.Motif.from_counts(m.counts.tolist(), "ACGT", m.id,
                                                          m.accession)),
    "columns by letter": (lambda m: zelko.Motif.from_counts(
        {letter: m.counts[:, i] for i, letter in enumerate("ACGT")}, id=m.id,
        accession=m.accession)),
    "letters in another order": (lambda m: zelko.Motif.from_counts(
        m.counts[:, ::-1], letters="TGCA", id=m.id, accession=m.accession)),
    "Biopython motif": (lambda m: zelko.Motif.from_biopython(
        biopython_motifs()[[x.id for x in zelko.read_motifs(JASPAR3)].index(m.id)])),
}


@pytest.mark.parametrize("case", list(MADE))
def test_motifs_made_in_memory_equal_the_files(motifs, case):
    for motif in motifs:
        made = MADE[case](motif)
        assert np.array_equal(made.weights if case != "letters in another order"
                              else made.weights[:, ::-1], motif.weights)
        assert (made.id, made.accession) == (motif.id, motif.accession)
        assert made.threshold(1e-4) == motif.threshold(1e-4)
        if case != "letters in another order":
            assert made == motif


def test_frequencies_weights_and_other_backgrounds_made_in_memory():
    meme = zelko.read_motifs(MOTIFCONV_DATA / "jaspar3.meme")
    for motif in meme:  # frequencies over the sites of the MEME matrix
        sites = round(motif.counts.sum(axis=1).mean())
        frequencies = motif.counts / sites
        made = zelko.Motif.from_counts(frequencies, id=motif.id, sites=sites)
        assert np.array_equal(made.weights, motif.weights)
        # Rows that sum to 1 are frequencies; without sites they count as 20.
        assert np.array_equal(zelko.Motif.from_counts(frequencies).weights,
                              zelko.Motif.from_counts(frequencies * 20).weights)
    protein = zelko.read_motifs(PROTEIN)[0]
    made = zelko.Motif.from_counts(protein.counts, letters=protein.alphabet, id=protein.id)
    assert np.array_equal(made.weights, protein.weights)
    skewed = zelko.read_motifs(JASPAR3, pseudocount=0.25, background=SKEWED)[1]
    made = zelko.Motif.from_counts(skewed.counts, id="PAX6", pseudocount=0.25,
                                   background=SKEWED)
    assert np.array_equal(made.weights, skewed.weights)
    library = zelko.read_motifs(JASPAR4)[2]
    made = zelko.Motif.from_weights(library.weights, id=library.id)
    assert np.array_equal(made.weights, library.weights)
    assert made.score_range == library.score_range
    assert made.threshold(1e-4) == library.threshold(1e-4)


BAD_MATRICES = {
    "wrong width": (lambda: zelko.Motif.from_counts(np.ones((5, 3))), "positions x 4"),
    "one dimension": (lambda: zelko.Motif.from_counts(np.ones(4)), "positions x 4"),
    "no positions": (lambda: zelko.Motif.from_counts(np.ones((0, 4))), "positions x 4"),
    "NaN": (lambda: zelko.Motif.from_counts([[1, 2, np.nan, 1]]), "finite"),
    "negative count": (lambda: zelko.Motif.from_counts([[1, 2, -3, 1]]), "negative count"),
    "id with a newline": (lambda: zelko.Motif.from_counts(np.ones((2, 4)), id="a\nb"),
                          "one line"),
    "accession with a blank": (lambda: zelko.Motif.from_counts(np.ones((2, 4)),
                                                               accession="MA 1"), "one word"),
    "fractional weights": (lambda: zelko.Motif.from_weights([[0.5, 1, 2, 3]]),
                           "whole numbers"),
}


@pytest.mark.parametrize("case", list(BAD_MATRICES))
def test_bad_matrices_are_refused(case):
    call, text = BAD_MATRICES[case]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", zelko.ZelkoWarning)
        with pytest.raises(ValueError, match=text):
            call()


def test_biopython_motifs_are_scanned_as_the_file(motifs):
    bio = biopython_motifs()
    expected = zelko.scan(motifs, FLY, pvalue=1e-3).to_pandas()
    for given in (bio, bio[1], [motifs[0], bio[2]]):
        frame = zelko.scan(given, FLY, pvalue=1e-3).to_pandas()
        ids = {m.name for m in (given if isinstance(given, list) else [given])}
        pandas.testing.assert_frame_equal(
            frame, expected[expected["motif_id"].isin(ids)].reset_index(drop=True))


def test_notebook_views(fly_hits):
    page = fly_hits._repr_html_()
    assert page.count("<tr>") == 11 and "%d more rows" % (len(fly_hits) - 10) in page
    assert all("<th>%s</th>" % name in page for name in zelko.COLUMNS)
    odd = zelko.Motif.from_counts([[0, 9, 0, 0], [9, 0, 0, 0], [0, 0, 0, 9]], id="<b>&x",
                                  accession="MA<1>")
    hits = zelko.scan(odd, ">s<i>\nCATCAT\n", pvalue=0.1, background="uniform")
    page = hits._repr_html_()
    assert "&lt;b&gt;&amp;x" in page and "MA&lt;1&gt;" in page and "s&lt;i&gt;" in page
    assert "<b>&x" not in page and "<i>" not in page
    assert "<table>" not in zelko.scan(odd, "GGGGGG", background="uniform")._repr_html_()
    summary = fly_hits.summary()
    assert list(summary.columns) == [
        "motif_id", "motif_accession", "threshold", "reverse_threshold", "reachable",
        "reverse_reachable", "windows", "hits", "sequences_with_hit"]
    assert summary["hits"].sum() == len(fly_hits)
