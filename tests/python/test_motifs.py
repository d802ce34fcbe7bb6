# Motifs from Python: their fields and weights as read, thresholds and p-values equal to
# those of zelkosearch, window scores equal to the matches' scores, and the exceptions bad
# input raises.
import errno
import os

import numpy as np
import pytest

import zelko
from conftest import FLY, JASPAR3, JASPAR4, MOTIFCONV_DATA, SOURCE, run


def library_weights(path):
    """ID -> the MA rows of a profile library."""
    weights, current = {}, None
    with open(path) as stream:
        for line in stream:
            words = line.split()
            if words[:1] == ["ID"]:
                current = weights.setdefault(words[1], [])
            elif words[:1] == ["MA"]:
                current.append([int(w) for w in words[1:]])
    return {key: np.array(rows) for key, rows in weights.items()}


def test_fields_and_weights_as_read():
    expected = library_weights(MOTIFCONV_DATA / "jaspar3_reference.lib")
    # The same three matrices in each format give the published weights (pseudocount 1,
    # uniform background, x 1000).
    for name in ("jaspar3.jaspar", "jaspar3.jaspar.gz", "jaspar3.meme", "jaspar3.transfac"):
        motifs = zelko.read_motifs(MOTIFCONV_DATA / name)
        assert [m.id for m in motifs] == ["Arnt", "PAX6", "ZFP14"], name
        assert [m.accession for m in motifs] == ["MA0004.1", "MA0069.1", "MA1972.1"], name
        for motif in motifs:
            assert motif.alphabet == "ACGT" and motif.weights.shape == (motif.length, 4)
            assert motif.counts.shape == (motif.length, 4)
            assert np.array_equal(motif.weights, expected[motif.id]), (name, motif.id)
            assert motif.background == {letter: 0.25 for letter in "acgt"}
    # A library's matrices are its weights (a FLOAT one times 1000, unless they are whole
    # numbers already, as here); it has no counts.
    library = zelko.read_motifs(JASPAR4)
    assert np.array_equal(library[0].weights, expected["Arnt"])
    assert library[0].counts.size == 0
    # Another background and pseudocount change the weights as log-odds do.
    motif = zelko.read_motifs(JASPAR3, pseudocount=0.5, background=[0.3, 0.2, 0.2, 0.3])[0]
    counts = motif.counts
    frequencies = np.array([0.3, 0.2, 0.2, 0.3])
    probabilities = (counts + 0.5 * frequencies) / (counts.sum(axis=1, keepdims=True) + 0.5)
    logodds = np.log(probabilities / frequencies) * 1000
    assert np.array_equal(motif.weights, np.sign(logodds) * np.floor(np.abs(logodds) + 0.5))
    protein = zelko.read_motifs(MOTIFCONV_DATA / "protein.meme")[0]
    assert len(protein.alphabet) == 20 and protein.weights.shape == (protein.length, 20)


def test_thresholds_and_pvalues_equal_zelkosearch(tmp_path):
    library = tmp_path / "jaspar3.lib"
    run("motifconv", "-scale", "1000", "-o", library, JASPAR3)
    report = run("zelkosearch", "-db", FLY, "-dna", "-pr", library, "-lahead", "-lazy",
                 "-uniform", "-2", "-pval", "1e-3", "-format", "tabs", "-q")
    motifs = {m.id: m for m in zelko.read_motifs(JASPAR3, background="uniform")}
    hits = zelko.scan(list(motifs.values()), FLY, pvalue=1e-3, background="uniform")
    scanned = dict(zip(zip(hits.motif_id, hits.score), hits.pvalue))
    checked = set()
    for line in report.splitlines():
        fields = line.split("\t")
        motif, threshold, score = motifs[fields[0]], int(fields[8]), int(fields[9])
        pvalue = float(fields[12])
        assert motif.threshold(1e-3) == threshold
        assert motif.pvalue(score) == pytest.approx(pvalue, rel=1e-6)
        assert scanned[fields[0], score] == pytest.approx(pvalue, rel=1e-6)
        checked.add((fields[0], score))
    assert len(checked) > 50
    # The threshold is the smallest score whose p-value does not exceed the cutoff.
    for motif in motifs.values():
        threshold = motif.threshold(1e-3)
        assert motif.pvalue(threshold) <= 1e-3 < motif.pvalue(threshold - 1)
        low, high = motif.score_range
        assert motif.pvalue(low) == pytest.approx(1.0) and motif.pvalue(high + 1) == 0.0
    # Arrays, NaN and scores between integers.
    arnt = motifs["Arnt"]
    values = arnt.pvalue([7829, 7828.5, np.nan])
    assert values[0] == values[1] == arnt.pvalue(7829) and np.isnan(values[2])


def test_background_forms_agree():
    motif = zelko.read_motifs(JASPAR3)[1]
    frequency_file = MOTIFCONV_DATA / "at_rich.freq"  # a 0.3, c 0.2, g 0.2, t 0.3
    expected = motif.threshold(1e-4, background=frequency_file)
    assert expected != motif.threshold(1e-4)
    for background in ([0.3, 0.2, 0.2, 0.3], np.array([0.3, 0.2, 0.2, 0.3]),
                       {"a": 0.3, "c": 0.2, "g": 0.2, "t": 0.3}, str(frequency_file)):
        assert motif.threshold(1e-4, background=background) == expected
    # The motif's own background is back after another was asked for.
    assert motif.threshold(1e-4) == motif.threshold(1e-4, background="uniform")


def test_window_scores_are_the_scores_of_the_matches(fly_records):
    motifs = zelko.read_motifs(JASPAR3, background="uniform")
    hits = zelko.scan(motifs, FLY, pvalue=1e-3, background="uniform")
    letters = dict((header.split()[0], sequence) for header, sequence in fly_records)
    for row in range(0, len(hits), 7):
        motif = hits.motifs[hits.motif[row]]
        scores = motif.score(letters[hits.sequence_name[row]], strand="both")
        strand = 0 if hits.strand[row] == "+" else 1
        assert scores[strand, hits.start[row] - 1] == hits.score[row]
    # A window with a wildcard has no score; protein motifs have no reverse strand.
    arnt = motifs[0]
    scores = arnt.score("CACGTGnCACGTG")
    assert scores[0] == 7829 and np.isnan(scores[1:7]).all() and scores[7] == 7829
    assert arnt.score("CACGTG", strand="-")[0] == 7829  # its own reverse complement
    protein = zelko.read_motifs(MOTIFCONV_DATA / "protein.meme")[0]
    with pytest.raises(ValueError):
        protein.score("ACDEFGHIKLMNPQRSTVWY", strand="-")


def test_bad_input_raises_the_exception_with_the_programs_message(tmp_path):
    motifs = zelko.read_motifs(JASPAR3)
    missing = str(tmp_path / "missing.fa")
    cases = [
        # (call, exception type, errno, text of the message)
        (lambda: zelko.read_motifs(tmp_path / "none.jaspar"), FileNotFoundError,
         errno.ENOENT, "none.jaspar': No such file or directory"),
        (lambda: zelko.scan(motifs, missing), FileNotFoundError, errno.ENOENT,
         "cannot open `%s': No such file or directory" % missing),
        (lambda: zelko.scan(motifs, tmp_path), IsADirectoryError, errno.EISDIR, str(tmp_path)),
        (lambda: zelko.scan(motifs, "ACGT", background=tmp_path / "none.freq"),
         FileNotFoundError, errno.ENOENT, "`%s'" % (tmp_path / "none.freq")),
        (lambda: zelko.read_motifs(SOURCE / "tests/data/runs/lib/bad-ma-too-few.lib"),
         ValueError, None, "Parsing error in line 7: too few MA lines"),
        (lambda: zelko.read_motifs(JASPAR3, format="meme"), ValueError, None,
         "the file holds no motif"),
        (lambda: zelko.read_motifs(JASPAR3, format="fasta"), ValueError, None, "format must"),
        (lambda: zelko.scan(motifs, SOURCE / "tests/data/runs/seq/illegal.fa"), ValueError,
         None, "Illegal character 'X'"),
        (lambda: zelko.scan(motifs, [("s1", "ACGTJJ")]), ValueError, None,
         "Illegal character 'J'"),
        (lambda: zelko.scan(motifs, [("s1", "ACGT>AA")]), ValueError, None,
         "sequence `s1' holds a line break or `>'"),
        (lambda: zelko.scan(motifs, []), ValueError, None, "no sequences were given"),
        (lambda: zelko.scan(motifs, "ACGT", pvalue=0), ValueError, None,
         "The p-value cutoff must lie above 0 and at most 1."),
        (lambda: zelko.scan(motifs, "ACGT", qvalue=2), ValueError, None,
         "The q-value cutoff must lie between 0 and 1."),
        (lambda: zelko.scan(motifs, "ACGT", background={"a": 0.5, "c": 0.5}), ValueError, None,
         "no positive"),
        (lambda: zelko.scan(motifs, "ACGT", strands="reverse"), ValueError, None, "strands"),
        (lambda: zelko.scan(motifs, "ACGT", threads=0), ValueError, None, "threads"),
        (lambda: zelko.scan([], "ACGT"), ValueError, None, "no motif given"),
        (lambda: motifs[0].threshold(1e-4, background="sequences"), ValueError, None,
         "needs the sequences"),
        (lambda: motifs[0].threshold(1e-4, background=[0.5, 0.5]), ValueError, None,
         "a background of 4 frequencies"),
    ]
    for call, kind, code, text in cases:
        with pytest.raises(kind) as caught:
            call()
        assert text in str(caught.value), (text, str(caught.value))
        if code is not None:
            assert caught.value.errno == code
    # Motifs that cannot be read are skipped with a warning each.
    with pytest.warns(zelko.ZelkoWarning, match="motif `X2' skipped: negative count"):
        read = zelko.read_motifs([MOTIFCONV_DATA / "unreadable.jaspar", JASPAR3])
    assert [m.id for m in read] == ["Arnt", "PAX6", "ZFP14"]
    assert os.path.basename(read[0].source_file) == "jaspar3.jaspar"
