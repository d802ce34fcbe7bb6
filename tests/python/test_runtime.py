# How scans run: the threads asked for, the interpreter lock released, Python threads
# scanning at once, a scan stopped by Ctrl-C or by its progress function, and a scan to a
# file that leaves none when it stops or fails.
import os
import re
import signal
import threading
import time

import numpy as np
import pandas
import pytest

import zelko
from conftest import FLY, JASPAR3, TWO

pytestmark = pytest.mark.filterwarnings("ignore::zelko.ZelkoWarning")

MOTIFS = [JASPAR3, TWO]
MANY = [JASPAR3, TWO] * 8  # 40 motifs: long scans of the random genome


@pytest.fixture(scope="module")
def genome():
    """50 Mb of random DNA, a scan of which takes a good part of a second or more."""
    rng = np.random.default_rng(7)
    letters = np.frombuffer(b"acgt", dtype="S1")[rng.integers(0, 4, 50_000_000)]
    return [("random", letters.tobytes())]


def scan(sequences, files=MOTIFS, **kwargs):
    kwargs.setdefault("background", "uniform")
    return zelko.scan(zelko.read_motifs(files), sequences, **kwargs)


def test_results_do_not_depend_on_threads():
    expected = scan(FLY, threads=1, pvalue=1e-3)
    assert expected.run["threads"] == 1
    for threads in (2, 3, None):
        hits = scan(FLY, threads=threads, pvalue=1e-3)
        if threads is not None:
            assert hits.run["threads"] == threads
        pandas.testing.assert_frame_equal(hits.to_pandas(), expected.to_pandas())


def test_python_threads_scan_at_once(genome):
    part = [(name, letters[:5_000_000]) for name, letters in genome]
    expected = [scan(FLY, pvalue=1e-3).to_pandas(), scan(part, pvalue=1e-3).to_pandas()]
    results = [None, None]

    def work(slot, sequences):
        results[slot] = scan(sequences, pvalue=1e-3, threads=1).to_pandas()

    workers = [threading.Thread(target=work, args=(0, FLY)),
               threading.Thread(target=work, args=(1, part))]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    for got, wanted in zip(results, expected):
        pandas.testing.assert_frame_equal(got, wanted)


def test_scanning_releases_the_interpreter_lock(genome):
    done = []
    worker = threading.Thread(target=lambda: done.append(scan(genome, threads=1)))
    worker.start()
    turns = 0
    while worker.is_alive():
        turns += 1  # runs only while the scan leaves the interpreter to this thread
    worker.join()
    assert done and len(done[0]) > 0
    assert turns > 1000


def test_ctrl_c_stops_a_scan(genome):
    start = time.monotonic()
    scan(genome, MANY, threads=1)
    whole = time.monotonic() - start
    if whole < 0.5:
        pytest.skip("the scan is too quick to be interrupted (%.2f s)" % whole)
    timer = threading.Timer(0.1, os.kill, (os.getpid(), signal.SIGINT))
    start = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        scan(genome, MANY, threads=1)
    stopped = time.monotonic() - start
    timer.join()
    assert stopped < 0.8 * whole, (stopped, whole)
    # The library is ready for the next scan.
    assert len(scan(FLY)) > 0


def test_progress_is_reported_and_its_exception_stops_the_scan(genome):
    reports = []

    def watch(done, total, matches, seconds):
        reports.append((done, total, matches, seconds))

    start = time.monotonic()
    hits = scan(genome, MANY, threads=1, progress=watch)
    whole = time.monotonic() - start
    assert len(hits) > 0
    if not reports and whole < 1.0:
        pytest.skip("the scan is too quick for a progress report (%.2f s)" % whole)
    assert reports
    done, total, matches, _ = reports[-1]
    assert 0 < done <= total and matches <= len(hits)

    class Enough(Exception):
        pass

    def stop(*progress):
        raise Enough()

    start = time.monotonic()
    try:
        zelko.scan(zelko.read_motifs(MANY * 3), genome, threads=1, progress=stop)
    except Enough:
        pass
    else:
        # Progress comes every quarter of a second: a quicker scan has none to stop it.
        whole = time.monotonic() - start
        if whole < 0.5:
            pytest.skip("the scan is too quick for a progress report (%.2f s)" % whole)
        pytest.fail("the progress callback's exception did not stop a %.2f s scan" % whole)
    assert len(scan(FLY)) > 0


def test_a_scan_to_a_file_that_stops_or_fails_leaves_no_file(genome, tmp_path):
    class Enough(Exception):
        pass

    def raising(error):
        def progress(*report):
            raise error()
        return progress

    missing = tmp_path / "missing"
    # (motifs, keyword arguments, exception, words of its message).
    cases = {
        "progress raises": (MANY * 3, {"progress": raising(Enough)}, Enough, ""),
        "interrupted": (MANY * 3, {"progress": raising(KeyboardInterrupt)},
                        KeyboardInterrupt, ""),
        "no folder for the sorted runs": (MOTIFS, {"memory": "4K", "tmpdir": missing},
                                          FileNotFoundError, "`%s'.*tmpdir=" % missing),
        "no folder for the file": (MOTIFS, {"output": missing / "hits.tsv"},
                                   FileNotFoundError, "hits.tsv"),
    }
    path = tmp_path / "hits.tsv"
    for name, (files, kwargs, error, words) in cases.items():
        path.write_text("older\n")
        kwargs = dict({"output": path}, **kwargs)
        start = time.monotonic()
        try:
            scan(genome, files, threads=1, **kwargs)
        except error as raised:
            assert re.search(words, str(raised)), (name, str(raised))
        else:
            # Progress comes every quarter of a second: a quicker scan has none to stop it.
            whole = time.monotonic() - start
            if "progress" in kwargs and whole < 0.5:
                pytest.skip("the scan is too quick for a progress report (%.2f s)" % whole)
            pytest.fail("%s: the scan did not fail" % name)
        # The older file as it was, and no temporary file beside it.
        assert path.read_text() == "older\n", name
        assert sorted(p.name for p in tmp_path.iterdir()) == ["hits.tsv"], name
