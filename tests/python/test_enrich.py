# zelko.enrich against the `zelko enrich` program of the same build: its table equals the
# program's byte for byte for each test, control and option; motifs chosen from a file are
# tested as a file of them alone; the result is the same for every number of threads; bad
# arguments raise TypeError or ValueError naming them; the run stops as a scan does.
import io
import os
import signal
import threading
import time

import numpy as np
import pandas
import pytest

import zelko
from conftest import FLY, SOURCE, read_tsv, run

pytestmark = pytest.mark.filterwarnings("ignore::zelko.ZelkoWarning")

JASPAR40 = SOURCE / "examples" / "jaspar_vertebrates40.jaspar"


@pytest.fixture(scope="module")
def regions(fly_records, tmp_path_factory):
    """Target and control files: the last and the first 200 letters of each fly region."""
    folder = tmp_path_factory.mktemp("enrich")
    files = {}
    for name, part in (("target", slice(-200, None)), ("control", slice(0, 200))):
        files[name] = folder / (name + ".fa")
        files[name].write_text("".join(">%s\n%s\n" % (header, letters[part])
                                       for header, letters in fly_records))
    return files


# (keyword arguments of zelko.enrich, the same options of zelko enrich); "control" stands
# for the control file.
RUNS = {
    "match, control": ({"control": "control"}, ["--control", "control"]),
    "best, control": ({"control": "control", "threshold": "best"},
                      ["--control", "control", "--threshold", "best"]),
    "match, shuffled": ({}, []),
    "best, shuffled order 3, 2 copies, seed 7": (
        {"threshold": "best", "shuffle_order": 3, "shuffles": 2, "seed": 7},
        ["--threshold", "best", "--shuffle-order", "3", "--shuffles", "2", "--seed", "7"]),
    "center, control": ({"control": "control", "center": True}, ["--control", "control",
                                                                 "--center"]),
    "center, shuffled, forward, uniform, p 1e-3": (
        {"center": True, "strands": "forward", "background": "uniform", "pvalue": 1e-3},
        ["--center", "--forward", "--background", "uniform", "--pvalue", "1e-3"]),
}


def with_files(regions, kwargs, options):
    kwargs = {name: regions[value] if value == "control" else value
              for name, value in kwargs.items()}
    return kwargs, [regions["control"] if word == "control" else word for word in options]


@pytest.mark.parametrize("case", list(RUNS))
def test_the_table_is_the_programs(regions, case):
    kwargs, options = with_files(regions, *RUNS[case])
    enrichment = zelko.enrich(zelko.read_motifs(JASPAR40), regions["target"], threads=2,
                              **kwargs)
    table = run("zelko", "enrich", "-q", *options, JASPAR40, regions["target"])
    assert enrichment.to_tsv() == table
    # The rows and columns are the table's, its numbers unrounded.
    expected = read_tsv(table)
    assert len(enrichment) == len(expected) == 40
    frame = enrichment.to_pandas()
    pandas.testing.assert_frame_equal(frame, expected, rtol=1e-3, atol=5e-4)
    assert list(frame.columns) == list(enrichment.columns())
    assert list(enrichment)[0] == tuple(frame.iloc[0])
    assert [enrichment.motifs[i].id for i in enrichment.motif] == frame["motif_id"].tolist()
    if kwargs.get("center"):
        assert type(next(iter(enrichment))).__name__ == "CentralEnrichmentRow"
    page = enrichment._repr_html_()
    assert page.count("<tr>") == 11 and "30 more rows" in page
    assert all("<th>%s</th>" % name in page for name in frame.columns)
    # Something is enriched in the core promoters against the upstream regions.
    if "control" in kwargs:
        assert frame["e_value"].iloc[0] < 1e-3


def test_inputs_in_memory_give_the_files_table(regions, fly_records):
    motifs = zelko.read_motifs(JASPAR40)
    expected = zelko.enrich(motifs, regions["target"], regions["control"]).to_tsv()
    target, control = (regions[name].read_text() for name in ("target", "control"))
    # (motifs, target, control)
    inputs = {
        "texts": (motifs, target, control),
        "file objects": (motifs, io.StringIO(target), io.BytesIO(control.encode())),
        "pairs, a str path": (motifs, [(h, s[-200:]) for h, s in fly_records],
                              str(regions["control"])),
        "motif file, generator": (JASPAR40, regions["target"],
                                  ((h, s[:200]) for h, s in fly_records)),
    }
    for name, given in inputs.items():
        assert zelko.enrich(*given).to_tsv() == expected, name


def test_chosen_motifs_are_tested_as_a_file_of_them_alone(regions, tmp_path):
    motifs = zelko.read_motifs(JASPAR40)
    records = [">" + part for part in JASPAR40.read_text().split(">")[1:]]
    for chosen in ([5], [17, 0, 33], list(range(0, 40, 3))):
        alone = tmp_path / "chosen.jaspar"
        alone.write_text("".join(records[i] for i in sorted(chosen)))
        for options in ([], ["--threshold", "best"]):
            kwargs = {"threshold": "best"} if options else {}
            enrichment = zelko.enrich([motifs[i] for i in chosen], regions["target"],
                                      regions["control"], **kwargs)
            assert enrichment.to_tsv() == run("zelko", "enrich", "-q", *options, alone,
                                              regions["target"], "--control",
                                              regions["control"])
            assert enrichment.motifs == [motifs[i] for i in sorted(chosen)]
            assert len(enrichment.summary()) == len(chosen)


def test_the_shuffled_control_does_not_depend_on_threads(regions):
    motifs = zelko.read_motifs(JASPAR40)
    for kwargs in ({}, {"threshold": "best", "shuffles": 3, "seed": 11}):
        tables = {threads: zelko.enrich(motifs, regions["target"], threads=threads,
                                        **kwargs).to_tsv() for threads in (1, 3)}
        assert tables[1] == tables[3]
    other = zelko.enrich(motifs, regions["target"], seed=2, threshold="best").to_tsv()
    assert other != zelko.enrich(motifs, regions["target"], threshold="best").to_tsv()


# (keyword arguments, exception, the start of its message)
BAD = {
    "motifs None": ({"motifs": None}, TypeError, "motifs must be"),
    "target None": ({"target": None}, TypeError, "target must be"),
    "control int": ({"control": 12}, TypeError, "control must be"),
    "control item": ({"control": [("a",)]}, TypeError, "control: item 0 must be"),
    "pvalue str": ({"pvalue": "1e-4"}, TypeError, "pvalue must be"),
    "shuffles float": ({"shuffles": 1.5}, TypeError, "shuffles must be"),
    "seed str": ({"seed": "1"}, TypeError, "seed must be"),
    "threads float": ({"threads": 1.5}, TypeError, "threads must be"),
    "progress not callable": ({"progress": 5}, TypeError, "progress must be"),
    "pvalue 0": ({"pvalue": 0}, ValueError, "pvalue must lie"),
    "pvalue 2": ({"pvalue": 2}, ValueError, "pvalue must lie"),
    "threshold": ({"threshold": "mean"}, ValueError, "threshold must be"),
    "threshold a list": ({"threshold": ["best"]}, ValueError, "threshold must be"),
    "strands": ({"strands": "reverse"}, ValueError, "strands must be"),
    "shuffle order 9": ({"shuffle_order": 9}, ValueError, "shuffle_order must lie"),
    "no shuffles": ({"shuffles": 0}, ValueError, "shuffles must lie"),
    "negative seed": ({"seed": -1}, ValueError, "seed must lie"),
    "no threads": ({"threads": 0}, ValueError, "threads must be"),
    "control of one sequence": ({"control": [("one", "ACGT" * 50)]}, ValueError,
                                "the control holds 1 sequence with letters: at least 2"),
    "center over several lengths": ({"target": [("a", "ACGT" * 50), ("b", "ACGT" * 40)],
                                     "center": True}, ValueError,
                                    "center=True needs target sequences of one length"),
    "missing control file": ({"control": "/nonexistent/control.fa"}, FileNotFoundError,
                             ""),
}


@pytest.mark.parametrize("case", list(BAD))
def test_bad_arguments_raise_naming_them(case):
    kwargs, error, text = BAD[case]
    arguments = {"motifs": zelko.read_motifs(JASPAR40), "target": FLY}
    arguments.update(kwargs)
    with pytest.raises(error) as caught:
        zelko.enrich(arguments.pop("motifs"), arguments.pop("target"), **arguments)
    assert str(caught.value).startswith(text), str(caught.value)


@pytest.fixture(scope="module")
def long_target():
    """40,000 random regions of 200 letters: an enrichment of 120 motifs of a good part of a
    second."""
    rng = np.random.default_rng(5)
    letters = np.frombuffer(b"acgt", dtype="S1")[rng.integers(0, 4, 8_000_000)].tobytes()
    return [("r%d" % i, letters[i * 200:(i + 1) * 200]) for i in range(40_000)]


def test_progress_goes_on_over_both_scans_with_the_lock_released(long_target):
    reports, turns, done = [], [0], []
    motifs = zelko.read_motifs([JASPAR40] * 3)
    worker = threading.Thread(target=lambda: done.append(zelko.enrich(
        motifs, long_target, threads=1, progress=lambda *report: reports.append(report))))
    worker.start()
    while worker.is_alive():
        turns[0] += 1  # runs only while the enrichment leaves the interpreter to this thread
    worker.join()
    assert done and len(done[0]) == 120
    assert turns[0] > 1000
    if len(reports) < 2:
        pytest.skip("the run is too quick for progress reports")
    work = np.array([report[:3] for report in reports])
    assert (np.diff(work, axis=0) >= 0).all()  # done, total and matches never go back
    assert (work[:, 0] <= work[:, 1]).all()
    assert work[-1][1] > work[0][1]  # the control's work joined the target's


def test_ctrl_c_and_the_progress_function_stop_it(long_target):
    class Enough(Exception):
        pass

    def stop(*report):
        raise Enough()

    # 240 motifs: scans long beside the shuffle and the loading, which come first.
    many, few = zelko.read_motifs([JASPAR40] * 6), zelko.read_motifs(JASPAR40)
    # (motifs, target, keyword arguments, a SIGINT is sent, the exception)
    cases = {
        "Ctrl-C while scanning": (many, long_target, {}, True, KeyboardInterrupt),
        "progress raises": (many, long_target, {"progress": stop}, False, Enough),
        "Ctrl-C while ranking the best scores": (few, long_target[:4000],
                                                 {"threshold": "best"}, True,
                                                 KeyboardInterrupt),
    }
    for name, (motifs, target, kwargs, interrupt, error) in cases.items():
        quiet = {key: value for key, value in kwargs.items() if key != "progress"}
        start = time.monotonic()
        zelko.enrich(motifs, target, threads=1, **quiet)
        whole = time.monotonic() - start
        if whole < 0.8:
            pytest.skip("%s: the run is too quick to be stopped (%.2f s)" % (name, whole))
        timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
        if interrupt:
            timer.start()
        start = time.monotonic()
        with pytest.raises(error):
            zelko.enrich(motifs, target, threads=1, **kwargs)
        stopped = time.monotonic() - start
        timer.cancel()
        assert stopped < 0.7 * whole, (name, stopped, whole)
    assert len(zelko.enrich(few, long_target[:50])) == 40  # ready for the next run
