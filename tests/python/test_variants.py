# zelko.variants: the rows of `zelko variants` as columns and a DataFrame, for the motifs
# chosen and the options given; faults raised as the package's exceptions; the progress
# function's exception stops a run.
import random
import shutil
import time

import numpy as np
import pytest

import zelko
from conftest import FLY, JASPAR3, SOURCE, read_tsv, run

CHROM = SOURCE / "tests" / "data" / "table" / "chrom.fa"
VCF = """##fileformat=VCFv4.2
##contig=<ID=chrT,length=1200>
##contig=<ID=loose,length=100>
#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO
chrT\t10\trs1\tC\tA\t.\t.\t.
chrT\t110\trs2\tGCTG\tG\t.\t.\t.
chrT\t852\trs3\tA\tC\t.\t.\t.
chrT\t855\trs4\tG\tA,T\t.\t.\t.
chrT\t1000\trs5\tA\t<DEL>\t.\t.\t.
chrT\t1190\trs6\tG\tGGTGA\t.\t.\t.
loose\t31\trs7\tA\tG\t.\t.\t.
"""


@pytest.fixture()
def calls(tmp_path):
    genome = tmp_path / "genome.fa"
    shutil.copy(CHROM, genome)
    vcf = tmp_path / "calls.vcf"
    vcf.write_text(VCF)
    return genome, vcf


def program_table(genome, vcf, *options):
    return read_tsv(run("zelko", "variants", "-q", "-b", "uniform", *options, JASPAR3, genome,
                        vcf))


@pytest.mark.parametrize("options, arguments", [
    ({"pvalue": 1e-3}, ["-p", "1e-3"]),
    ({"pvalue": 1e-3, "strands": "forward"}, ["-p", "1e-3", "--forward"]),
    ({"pvalue": 2e-3, "min_change": 1.0}, ["-p", "2e-3", "--min-change", "1"]),
    ({"pvalue": 1e-3, "threads": 1}, ["-p", "1e-3", "-j", "1"]),
])
def test_frame_equals_the_program_table(calls, options, arguments):
    genome, vcf = calls
    with pytest.warns(zelko.ZelkoWarning, match="symbolic"):
        effects = zelko.variants(JASPAR3, genome, vcf, background="uniform", **options)
    frame = effects.to_pandas()
    table = program_table(genome, vcf, *arguments)
    assert list(frame.columns) == list(zelko.VARIANT_COLUMNS) == list(table.columns)
    assert len(frame) == len(table) == len(effects) > 0
    for name in zelko.VARIANT_COLUMNS:
        if frame[name].dtype == np.float64:
            np.testing.assert_allclose(frame[name], table[name].astype(float), rtol=2e-6,
                                       atol=1e-3 if name == "log2_ratio" else 0)
        else:
            assert list(frame[name].astype(str)) == list(table[name].astype(str)), name
    assert effects.summary["symbolic"] == 1 and effects.summary["rows"] == len(table)


def test_chosen_motifs_are_the_rows_of_all(calls):
    genome, vcf = calls
    motifs = zelko.read_motifs(JASPAR3)
    whole = zelko.variants(motifs, genome, vcf, pvalue=1e-3, background="uniform")
    some = zelko.variants([motifs[2], motifs[0]], genome, vcf, pvalue=1e-3,
                          background="uniform")
    chosen = np.isin(whole["motif_id"], [motifs[0].id, motifs[2].id])
    assert 0 < len(some) < len(whole)
    for name in zelko.VARIANT_COLUMNS:
        assert list(some[name]) == list(whole[name][chosen]), name
    assert [some.motifs[i].id for i in some["motif"]] == list(some["motif_id"])


def test_faults_raise(calls, tmp_path):
    genome, vcf = calls
    missing = tmp_path / "missing.vcf"
    missing.write_text(VCF.replace("loose\t31", "chrZ\t31"))
    with pytest.raises(ValueError, match="contig `chrZ'"):
        zelko.variants(JASPAR3, genome, missing)
    with pytest.warns(zelko.ZelkoWarning, match="genome .* lacks"):
        effects = zelko.variants(JASPAR3, genome, missing, skip_missing_contigs=True)
    assert effects.summary["missing_contig"] == 1
    with pytest.raises(OSError, match="absent.vcf"):
        zelko.variants(JASPAR3, genome, tmp_path / "absent.vcf")
    with pytest.raises(ValueError, match="max_indel"):
        zelko.variants(JASPAR3, genome, vcf, max_indel=0)


def test_progress_exception_stops_the_run(tmp_path):
    # Random SNVs over the fly upstream regions, long enough for a progress report.
    import gzip

    genome = tmp_path / "fly.fa"
    names, letters = [], []
    with gzip.open(FLY, "rt") as stream, open(genome, "w") as out:
        for line in stream:
            out.write(line)
            if line.startswith(">"):
                names.append(line[1:].split()[0])
                letters.append([])
            else:
                letters[-1].append(line.strip())
    rng = random.Random(7)
    vcf = tmp_path / "snvs.vcf"
    with open(vcf, "w") as out:
        out.write("##fileformat=VCFv4.2\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\n")
        for name, parts in zip(names, letters):
            sequence = "".join(parts).upper()
            for place in sorted(rng.sample(range(len(sequence)), 1200)):
                if sequence[place] in "ACGT":
                    alt = rng.choice([c for c in "ACGT" if c != sequence[place]])
                    out.write("%s\t%d\t.\t%s\t%s\t.\t.\t.\n" % (name, place + 1,
                                                              sequence[place], alt))
    motifs = SOURCE / "examples" / "jaspar_vertebrates40.jaspar"
    reports = []
    start = time.monotonic()
    effects = zelko.variants(motifs, genome, vcf, threads=1,
                             progress=lambda *report: reports.append(report))
    whole = time.monotonic() - start
    if not reports and whole < 1.0:
        pytest.skip("the run is too quick for a progress report (%.2f s)" % whole)
    records, rows, done, total, _ = reports[-1]
    assert 0 < records and rows <= len(effects) and 0 < done <= total

    class Enough(Exception):
        pass

    def stop(*report):
        raise Enough()

    with pytest.raises(Enough):
        zelko.variants(motifs, genome, vcf, threads=1, progress=stop)
