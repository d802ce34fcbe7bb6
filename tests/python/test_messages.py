# Messages too long for the library's message buffer: every call still ends in a Python
# exception (or a result), never in the end of the process. Each case runs in a child
# interpreter, so that a process exit shows as this test's failure.
import os
import subprocess
import sys

import pytest

from conftest import JASPAR3, SOURCE

GENBANK = SOURCE / "tests" / "data" / "runs" / "seq" / "two.gb"

CHILD = """
import sys, zelko
motifs = zelko.read_motifs(sys.argv[1])
long = "x" * 10_000
fasta = ">s\\n" + "ACGT" * 2500 + "\\n"
genbank = open(sys.argv[2]).read()
try:
    result = {call}
except Exception as error:
    print(type(error).__name__, len(str(error)))
else:
    print("returned", type(result).__name__)
"""

# (the call, what the child prints first: the exception's type or "returned")
CASES = {
    "long motif file name": ("zelko.read_motifs('/data/' + long)", "OSError"),
    "Fasta text as motif file": ("zelko.read_motifs(fasta)", "ValueError"),
    "one-line Fasta as motif file": ("zelko.read_motifs(fasta.replace('\\n', ''))", "OSError"),
    "long sequence file name": ("zelko.scan(motifs, '/data/' + long)", "OSError"),
    "pasted GenBank text, 10 kB": (
        "zelko.scan(motifs, genbank.replace('ORIGIN', 'COMMENT ' + long + '\\nORIGIN'))",
        "returned"),
    "pasted GenBank text without its sequence": (
        "zelko.scan(motifs, 'LOCUS ' + long + '\\n' + long)", "ValueError"),
    "long background file name": ("zelko.scan(motifs, 'ACGT', background='/b' + long)",
                                  "OSError"),
}


@pytest.mark.parametrize("case", list(CASES))
def test_a_long_message_raises_and_the_process_lives(case):
    call, expected = CASES[case]
    done = subprocess.run(
        [sys.executable, "-c", CHILD.format(call=call), str(JASPAR3), str(GENBANK)],
        capture_output=True, text=True, env=dict(os.environ), timeout=120)
    assert done.returncode == 0, done.stderr
    words = done.stdout.split()
    assert words[:1] == [expected], done.stdout + done.stderr
    if expected != "returned":
        assert 0 < int(words[1]) <= 10_000  # a message, cut to a readable length
