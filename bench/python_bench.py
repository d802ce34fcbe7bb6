#!/usr/bin/env python3
"""The Python module's scan against the zelko scan program on the same work, and two Python
threads scanning at once against one, measured side by side in one run (best of repeats).

  python_bench.py [--build DIR] [--motifs FILE...] [--sequences FILE] [--pvalue P]
                  [--threads N] [--repeats R]

Defaults: the bundled JASPAR count matrices (tests/data/motifconv/jaspar3.jaspar and
tests/data/workflow/two.jaspar) against the whole shared fly upstream file (52.9 Mbp;
the bundled 300 regions when it is missing), p-value 1e-4, 2 threads, 3 repeats.

Rows: the program (`zelko scan -q -j N ... > /dev/null`, process start and TSV writing
included); the module (read_motifs + scan) and with to_pandas(); two Python threads each
running the module's scan at once, against one such scan; and two one-thread scans in two
Python threads at once against the same two one after the other (at most 0.6 on two cores:
the calls run side by side), with their results compared. The package is taken from the
build folder (BUILD/python) before an installed one.
"""
import argparse
import os
import pathlib
import subprocess
import sys
import threading
import time
import warnings

HERE = pathlib.Path(__file__).resolve().parents[1]


def best(repeats, work):
    """The shortest wall time of repeats runs of work()."""
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(HERE / "build"))
    parser.add_argument("--motifs", nargs="+", default=[
        str(HERE / "tests/data/motifconv/jaspar3.jaspar"),
        str(HERE / "tests/data/workflow/two.jaspar")])
    shared = HERE.parent / "shared/data/dna/dm3_upstream2000.fa.gz"
    parser.add_argument("--sequences", default=str(
        shared if shared.exists() else HERE / "examples/dm3_upstream300.fa.gz"))
    parser.add_argument("--pvalue", type=float, default=1e-4)
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()

    sys.path.insert(0, os.path.join(args.build, "python"))
    import zelko

    warnings.simplefilter("ignore", zelko.ZelkoWarning)
    program = os.path.join(args.build, "zelko")
    command = [program, "scan", "-q", "-j", str(args.threads), "--pvalue", str(args.pvalue),
               *args.motifs, args.sequences]

    def run_program():
        subprocess.run(command, stdout=subprocess.DEVNULL, check=True)

    def run_module(frame=False, threads=args.threads):
        hits = zelko.scan(zelko.read_motifs(args.motifs), args.sequences, pvalue=args.pvalue,
                          threads=threads)
        if frame:
            hits.to_pandas()
        return hits

    results = {}

    def run_two(threads=args.threads):
        def scan(slot):
            results[slot] = run_module(threads=threads).to_pandas()
        workers = [threading.Thread(target=scan, args=(slot,)) for slot in range(2)]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()

    def run_two_serially():
        run_module(threads=1)
        run_module(threads=1)

    hits = run_module(frame=True)  # and pandas imported before the timing
    print("work: %d motifs, %s (%d sequences, %d letters), p-value %g, %d threads: %d matches"
          % (hits.run["motifs"], os.path.basename(args.sequences),
             hits.run["sequences"], hits.run["residues"], args.pvalue, args.threads, len(hits)))
    program_time = best(args.repeats, run_program)
    module_time = best(args.repeats, run_module)
    frame_time = best(args.repeats, lambda: run_module(frame=True))
    one_time = module_time
    two_time = best(args.repeats, run_two)
    serial_time = best(args.repeats, run_two_serially)
    side_time = best(args.repeats, lambda: run_two(threads=1))
    same = results[0].equals(results[1]) and results[0].equals(
        run_module(threads=1).to_pandas())
    print("zelko scan (program)            %8.3f s" % program_time)
    print("zelko.scan (module)             %8.3f s   %.2fx the program" %
          (module_time, module_time / program_time))
    print("zelko.scan + to_pandas()        %8.3f s   %.2fx the program" %
          (frame_time, frame_time / program_time))
    print("two Python threads at once      %8.3f s   %.2fx one scan" %
          (two_time, two_time / one_time))
    print("two 1-thread scans, one by one  %8.3f s" % serial_time)
    print("the same two side by side       %8.3f s   %.2fx one by one (target <= 0.60), "
          "results %s" % (side_time, side_time / serial_time, "equal" if same else "DIFFER"))


if __name__ == "__main__":
    main()
