"""Zelko for Python: motif files in, every motif match with exact statistics out.

    import zelko
    motifs = zelko.read_motifs("JASPAR2024_CORE_vertebrates_non-redundant_pfms_jaspar.txt")
    hits = zelko.scan(motifs, "upstream.fa.gz", pvalue=1e-4)
    table = hits.to_pandas()     # the columns and rows of `zelko scan`'s TSV

The module runs the code of the `zelko scan` program in this process: the same motif
readers, thresholds, search engines and tables.

Scores are integers, as in the tables of `zelko scan`: the log-odds weights of a count
matrix (natural logarithm) are multiplied by 1000 and rounded, the values of a FLOAT profile
library are multiplied by 1000 the same way (unless they are all whole numbers) and an INT
library is taken as it is, so every threshold and p-value is exact for the weights in use. `Motif.weights`, `Motif.threshold`, `Motif.pvalue`, `Motif.score` and the score
columns of `Hits` all use these units.

Failures raise ValueError (bad input: a malformed motif file, a letter outside the
alphabet, a bad option) or OSError (a file that cannot be opened or read), with the message
the programs print. Warnings of the library (motifs skipped while reading, ...) are issued
as `ZelkoWarning`.
"""

from __future__ import annotations

import contextlib
import errno as _errno
import io
import itertools
import os
import re
import sys
import warnings

import numpy as np

from . import _zelko

__all__ = [
    "Hits",
    "Motif",
    "NOSCORE",
    "SCALE",
    "ZelkoWarning",
    "available_threads",
    "read_motifs",
    "scan",
    "to_pandas",
]

SCALE = int(_zelko.SCALE)  # integer score units per natural-log unit
NOSCORE = int(_zelko.NOSCORE)  # a weight for a letter the motif cannot take

_version = re.search(r"\d+(\.\d+)*", _zelko.version())
__version__ = _version.group(0) if _version else "0"


class ZelkoWarning(UserWarning):
    """A warning of the scan library, such as a motif skipped while reading."""


def available_threads():
    """The cores this process may use: what `threads=None` scans with."""
    return _zelko.available_threads()


# ---- Failures ---------------------------------------------------------------------------

# Messages about files that cannot be opened, read or written, in the words the library uses;
# a message that ends with the text of an errno is one as well.
_FILE_WORDS = (
    "cannot open",
    "failed to open",
    "couldn't open",
    "cannot read",
    "cannot find file",
    "cannot write",
    "failed to write",
    "cannot close",
    "failed to map",
    "file system error",
    "error reading",
    "error when decompressing",
    "error when uncompressing",
)
_QUOTED = re.compile(r"`([^']*)'|\"([^\"]*)\"")
_ERRNO_TEXTS = sorted(
    ((code, os.strerror(code)) for code in _errno.errorcode),
    key=lambda pair: -len(pair[1]),
)


def _exception_for(message):
    """The exception for a message of the library: an OSError (of the subclass its errno
    calls for) when a file could not be opened, read or written, a ValueError otherwise.
    str() of the exception is the message itself."""
    for code, text in _ERRNO_TEXTS:
        if message.rstrip(". ").endswith(text) or (": " + text) in message:
            kind = type(OSError(code, text))
            error = kind(message)
            error.errno = code
            return error
    lowered = message.lower()
    if any(words in lowered for words in _FILE_WORDS):
        # A message without the errno's text: a file it names that is not there.
        for quoted in _QUOTED.finditer(message):
            name = quoted.group(1) or quoted.group(2)
            if name and not os.path.lexists(name):
                error = FileNotFoundError(message)
                error.errno = _errno.ENOENT
                return error
        return OSError(message)
    return ValueError(message)


@contextlib.contextmanager
def _library(warn=True):
    """Turns the failures of the extension module into the builtin exceptions and its
    warnings into ZelkoWarning (or drops them, warn=False)."""
    try:
        yield
    except _zelko.ScanError as failure:
        raise _exception_for(str(failure)) from None
    finally:
        texts = _zelko.take_warnings()
        if warn:
            _warn(texts)


def _warn(texts):
    """Issues the library's warnings as ZelkoWarning, attributed to the caller's code."""
    if not texts:
        return
    frame, level = sys._getframe(0), 1
    while frame is not None and frame.f_code.co_filename in (__file__, contextlib.__file__):
        frame, level = frame.f_back, level + 1
    for text in texts:
        text = text.strip()
        if text.startswith("WARNING:"):
            text = text[len("WARNING:"):].strip()
        warnings.warn(text, ZelkoWarning, stacklevel=level)


# ---- Backgrounds --------------------------------------------------------------------------

class _Background:
    """A background as the library takes it: kind "sequences" (counted from the scanned
    sequences), "uniform", "file" (filename) or "given" (letters with frequencies)."""

    def __init__(self, kind, filename="", letters="", frequencies=()):
        self.kind = kind
        self.filename = filename
        self.letters = letters
        self.frequencies = list(frequencies)


def _background(background, letters, allow_sequences):
    """The _Background of one given as None/"sequences" (scans only: counted from the
    scanned sequences), "uniform", the name of a frequency file (lines "a 0.3"), a dict of
    letter frequencies, or a sequence of frequencies in the order of letters (the regular
    letters of the sequence alphabet)."""
    if background is None or (isinstance(background, str) and background == "sequences"):
        if not allow_sequences:
            raise ValueError("a background counted from sequences needs the sequences; "
                             "give 'uniform', a frequency file or frequencies")
        return _Background("sequences")
    if isinstance(background, str) and background == "uniform":
        return _Background("uniform")
    if isinstance(background, (str, os.PathLike)):
        return _Background("file", filename=os.fspath(background))
    if isinstance(background, dict):
        for letter in background:
            if not isinstance(letter, str) or len(letter) != 1 or letter.isspace():
                raise ValueError("background letters must be single characters, not %r"
                                 % (letter,))
        return _Background("given", letters="".join(background),
                           frequencies=[float(f) for f in background.values()])
    frequencies = np.asarray(background, dtype=float)
    if frequencies.ndim != 1 or len(frequencies) != len(letters):
        raise ValueError("a background of %d frequencies for the letters %s, not %r"
                         % (len(letters), letters, background))
    return _Background("given", letters=letters, frequencies=frequencies.tolist())


# ---- Motifs -------------------------------------------------------------------------------

_FORMATS = ("auto", "jaspar", "transfac", "meme", "library")


class _Source:
    """The motifs of one read_motifs call: the files, how they were read, the library's
    record of them and the background of the weights."""

    _serials = itertools.count()

    def __init__(self, paths, formats, pseudocount, background):
        self.serial = next(self._serials)  # sources scanned together go in reading order
        self.paths = paths
        self.formats = formats
        self.pseudocount = pseudocount
        with _library():
            self.motifset = _zelko.read_motifs(paths, formats)
        uniform = _zelko.Preparation("auto", "uniform", pseudocount=pseudocount)
        with _library():
            self.letters = self.motifset.background(uniform)[0]
        self.preparation = self.preparation_for(background)
        self.motifs = []

    def preparation_for(self, background):
        if background is None and getattr(self, "preparation", None) is not None:
            return self.preparation
        if background is None:
            background = "uniform"
        given = _background(background, self.letters, allow_sequences=False)
        return _zelko.Preparation("auto", given.kind, given.filename, given.letters,
                                  given.frequencies, self.pseudocount)


class Motif:
    """One motif of a motif file or profile library.

    Attributes: id and name (the motif's name: the ID of a library entry, the name of a
    JASPAR, MEME or TRANSFAC matrix; the motif_id column of the tables), accession (empty
    when the file gives none), description, alphabet (the letters of the weight columns),
    length (positions), counts (positions x letters, as read; empty for library matrices),
    weights (positions x letters, int64, thousandths of a natural-log unit, for the
    background and pseudocount given to read_motifs), background (letter -> frequency of
    those weights), source_file and source_line.
    """

    __slots__ = ("_source", "_index", "id", "name", "accession", "description", "alphabet",
                 "length", "counts", "weights", "source_file", "source_line", "__weakref__")

    def __init__(self, source, index):
        fields = source.motifset.fields(index)
        self._source = source
        self._index = index
        self.id = fields["id"]
        self.name = fields["id"]
        self.accession = fields["accession"]
        self.description = fields["description"]
        self.alphabet = fields["letters"]
        self.length = int(fields["length"])
        self.counts = fields["counts"]
        self.counts.setflags(write=False)
        with _library():
            self.weights = source.motifset.weights(index, source.preparation)
        self.weights.setflags(write=False)
        self.source_file = fields["source_file"]
        self.source_line = int(fields["source_line"])

    def __repr__(self):
        accession = " " + self.accession if self.accession else ""
        return "<Motif %s%s, length %d>" % (self.id, accession, self.length)

    @property
    def background(self):
        """The background of the weights: letter -> frequency."""
        with _library():
            letters, frequencies, _ = self._source.motifset.background(
                self._source.preparation)
        return dict(zip(letters, frequencies))

    @property
    def score_range(self):
        """(lowest, highest) score of a window, in the units of the weights."""
        with _library():
            return self._source.motifset.score_range(self._index, self._source.preparation)

    def threshold(self, pvalue, background=None):
        """The smallest integer score whose exact p-value (the probability that a random
        window scores at least as much) does not exceed pvalue: the threshold a scan at this
        p-value uses. background: None for the motif's own, or "uniform", a frequency file,
        a dict of letter frequencies or the frequencies in the order of the sequence
        alphabet's letters; a scan with the background counted from the sequences uses that
        one (see Hits.summary())."""
        preparation = self._source.preparation_for(background)
        with _library():
            return int(self._source.motifset.threshold(self._index, float(pvalue),
                                                       preparation))

    def pvalue(self, score, background=None):
        """The exact p-value of a score (a number or an array of them): the probability that
        a random window scores at least score. A score between two integers counts as the
        next integer up; NaN gives NaN."""
        preparation = self._source.preparation_for(background)
        scores = np.asarray(score, dtype=float)
        known = ~np.isnan(scores)
        integers = np.ceil(scores[known]).astype(np.int64)
        with _library():
            pvalues = self._source.motifset.pvalues(self._index, integers, preparation)
            highest = self._source.motifset.score_range(self._index, preparation)[1]
        # No window scores above the highest score (the library's lookup gives that
        # score's p-value there).
        pvalues[integers > highest] = 0.0
        result = np.full(scores.shape, np.nan)
        result[known] = pvalues
        return float(result) if result.ndim == 0 else result

    def score(self, sequence, strand="+", background=None):
        """The score of every window of sequence (str, bytes or Biopython Seq): window i
        covers letters i .. i + length - 1 (from 0). strand "+" scores the letters as they
        are, "-" the reverse complementary strand at the same positions (DNA), "both" gives
        both as the rows of a 2 x windows array. float64 array; a window the motif cannot
        score (a wildcard such as N in it) is NaN."""
        if strand not in ("+", "-", "both"):
            raise ValueError("strand must be '+', '-' or 'both', not %r" % (strand,))
        if hasattr(sequence, "seq") and not isinstance(sequence, (str, bytes)):
            sequence = sequence.seq  # a SeqRecord
        if not isinstance(sequence, (str, bytes)):
            sequence = str(sequence)
        preparation = self._source.preparation_for(background)
        with _library():
            forward, reverse = self._source.motifset.score_windows(self._index, sequence,
                                                                   preparation)

        def floats(scores):
            values = scores.astype(float)
            values[scores == NOSCORE] = np.nan
            return values

        if strand == "+":
            return floats(forward)
        if len(reverse) != len(forward):
            raise ValueError("motif %s is not a DNA motif: it has no reverse strand" % self.id)
        if strand == "-":
            return floats(reverse)
        return np.vstack([floats(forward), floats(reverse)])


def read_motifs(path, format=None, pseudocount=1.0, background=None):
    """Every motif of a motif file or of several (a str, path or list of them): JASPAR,
    TRANSFAC-style counts and MEME files as motifconv reads them, plain or gzip, and profile
    libraries. format: None or "auto" (detected per file), "jaspar", "transfac", "meme" or
    "library". Count matrices become log-odds weights with pseudocount and background
    (None: uniform; or a frequency file, a dict of letter frequencies, or frequencies in the
    order of the alphabet's letters), times 1000 and rounded. Returns a list of Motif."""
    if isinstance(path, (str, bytes, os.PathLike)):
        paths = [path]
    else:
        paths = list(path)
    paths = [os.fsdecode(p) for p in paths]
    if not paths:
        raise ValueError("no motif file given")
    format = "auto" if format is None else str(format).lower()
    if format not in _FORMATS:
        raise ValueError("format must be one of %s, not %r" % (", ".join(_FORMATS), format))
    pseudocount = float(pseudocount)
    source = _Source(paths, [format] * len(paths), pseudocount, background)
    source.motifs = [Motif(source, i) for i in range(len(source.motifset))]
    return list(source.motifs)


def _selection(motifs):
    """The motifs of a scan as a list of Motif without repeats, in the order given."""
    if isinstance(motifs, (str, bytes, os.PathLike)):
        return read_motifs(motifs)
    if isinstance(motifs, Motif):
        return [motifs]
    chosen, seen = [], set()
    for motif in motifs:
        if not isinstance(motif, Motif):
            raise TypeError("motifs must be Motif objects or motif file names, not %r"
                            % type(motif).__name__)
        key = (id(motif._source), motif._index)
        if key not in seen:
            seen.add(key)
            chosen.append(motif)
    if not chosen:
        raise ValueError("no motif given")
    return chosen


# ---- Sequences ----------------------------------------------------------------------------

_RESIDUES = re.compile(r"[A-Za-z*\-\s]*\Z")


def _fasta_pairs(text):
    """(header, letters) of every record of Fasta text."""
    pairs, header, lines = [], None, []
    for line in text.splitlines():
        if line.startswith(">"):
            if header is not None:
                pairs.append((header, "".join(lines)))
            header, lines = line[1:], []
        elif line.startswith(";"):
            continue
        elif header is None:
            if line.strip():
                raise ValueError("Fasta text must start with a `>' header line")
        else:
            lines.append(line.strip())
    if header is not None:
        pairs.append((header, "".join(lines)))
    return pairs


def _letters(sequence):
    if isinstance(sequence, (str, bytes)):
        return sequence
    if isinstance(sequence, (bytearray, memoryview)):
        return bytes(sequence)
    return str(sequence)  # Biopython Seq, ...


def _header(item):
    """(header, letters) of one in-memory sequence: a Biopython SeqRecord, a (name,
    sequence) pair or the letters alone (str, bytes, Seq; named by their number)."""
    if hasattr(item, "seq") and hasattr(item, "id"):
        identifier = str(item.id)
        description = str(getattr(item, "description", "") or "")
        if description.split(None, 1)[:1] == [identifier]:
            header = description
        elif description and description != "<unknown description>":
            header = identifier + " " + description
        else:
            header = identifier
        return header, _letters(item.seq)
    if isinstance(item, tuple) and len(item) == 2:
        return str(item[0]), _letters(item[1])
    return "", _letters(item)


def _sequences(sequences):
    """The library's record of the scan's sequences: a file or an index named by a path, or
    sequences in memory."""
    if isinstance(sequences, os.PathLike):
        return _zelko.Sequences(os.fspath(sequences))
    if isinstance(sequences, str):
        if os.path.exists(sequences) or os.path.exists(sequences + ".prj"):
            return _zelko.Sequences(sequences)
        if sequences.lstrip().startswith(">"):
            return _in_memory(_fasta_pairs(sequences))
        if _RESIDUES.match(sequences) and sequences.strip():
            return _in_memory([("", sequences)])
        return _zelko.Sequences(sequences)  # a file name: the library says it is missing
    if isinstance(sequences, (bytes, bytearray, memoryview)):
        data = bytes(sequences)
        if data.lstrip().startswith(b">"):
            return _in_memory(_fasta_pairs(data.decode("latin-1")))
        return _in_memory([("", data)])
    if hasattr(sequences, "seq") and hasattr(sequences, "id"):
        return _in_memory([_header(sequences)])
    if hasattr(sequences, "__iter__"):
        return _in_memory(_header(item) for item in sequences)
    return _in_memory([_header(sequences)])


def _in_memory(pairs):
    held = _zelko.Sequences("")
    with _library():
        for header, letters in pairs:
            held.add(header, letters)
    return held


# ---- Scans --------------------------------------------------------------------------------

def scan(motifs, sequences, pvalue=1e-4, qvalue=None, strands="both", background=None,
         threads=None, *, sort="position", matched_text=True, progress=None):
    """Every window of the sequences whose score reaches the motif's threshold for pvalue,
    as `zelko scan` finds them: exact p-values, E-values, and q-values per motif.

    motifs: Motif objects (from read_motifs) or motif file names. sequences: the name of a
    Fasta, GenBank or EMBL file (plain or gzip) or of a zelkoindex index; or sequences in
    memory: Fasta text (str or bytes starting with `>'), the letters of one sequence, a list
    of (name, sequence) pairs, Biopython SeqRecords or letters. qvalue: keep only the matches
    with a q-value (Benjamini-Hochberg per motif over every window tested) at most this;
    pvalue then only bounds what is computed. strands: "both" or "forward" (protein is
    forward only). background: None (counted from the sequences, order 0), "uniform", a
    frequency file, a dict of letter frequencies or frequencies in the order of the
    alphabet's letters. threads: worker threads (None: every available core); the results do
    not depend on it. sort: "position" (motif in file order, sequence, start, strand) or
    "pvalue". progress: a function called now and then during the scan with (work done,
    work in all, matches so far, seconds); an exception it raises stops the scan.

    The scan runs with the interpreter lock released; Ctrl-C stops it and raises
    KeyboardInterrupt. Returns Hits.
    """
    chosen = _selection(motifs)
    sources = []
    for motif in chosen:
        if all(motif._source is not source for source in sources):
            sources.append(motif._source)
    sources.sort(key=lambda source: source.serial)
    if len(sources) == 1:
        motifset = sources[0].motifset
    else:
        if len({source.pseudocount for source in sources}) != 1:
            raise ValueError("motifs read with different pseudocounts cannot be scanned "
                             "together; scan them separately")
        paths = [path for source in sources for path in source.paths]
        formats = [format for source in sources for format in source.formats]
        with _library(warn=False):  # said when the files were read
            motifset = _zelko.read_motifs(paths, formats)
        if len(motifset) != sum(len(source.motifs) for source in sources):
            raise ValueError("the motif files changed since they were read: read them again")
    offsets, offset = {}, 0
    for source in sources:
        offsets[id(source)] = offset
        offset += len(source.motifs)
    allmotifs = [motif for source in sources for motif in source.motifs]

    options = _zelko.RunOptions()
    options.pvalue = float(pvalue)
    if qvalue is not None:
        options.useqvalue = True
        options.qvalue = float(qvalue)
    if strands not in ("both", "forward"):
        raise ValueError("strands must be 'both' or 'forward', not %r" % (strands,))
    options.strands = strands
    given = _background(background, sources[0].letters, allow_sequences=True)
    options.background_kind = given.kind
    options.background_file = given.filename
    options.background_letters = given.letters
    options.background_frequencies = given.frequencies
    options.pseudocount = sources[0].pseudocount
    if threads is None:
        options.threads = 0
    else:
        if int(threads) < 1:
            raise ValueError("threads must be at least 1, not %r" % (threads,))
        options.threads = int(threads)
    if sort not in ("position", "pvalue"):
        raise ValueError("sort must be 'position' or 'pvalue', not %r" % (sort,))
    options.sort = sort
    options.matched_text = bool(matched_text)
    if progress is not None and not callable(progress):
        raise TypeError("progress must be callable")

    held = _sequences(sequences)
    with _library():
        result = _zelko.run(motifset, held, options, progress)
    _warn(result.warnings)
    selected = sorted(offsets[id(motif._source)] + motif._index for motif in chosen)
    return Hits._create(result, allmotifs, selected)


_SIGNS = np.array(["+", "-"], dtype=object)


class Hits:
    """The matches of a scan, one row per match, as numpy columns:

    motif (index into .motifs), motif_id, motif_accession, sequence (0-based index into
    .sequence_names), sequence_name, start and stop (1-based, closed), strand ('+' or '-',
    the reverse complementary strand), score (int64, thousandths of a natural-log unit),
    pvalue, evalue, mss (matrix similarity score, 0 to 1), qvalue, threshold (of the row's
    motif) and matched (the matched letters in the motif's reading direction, upper case).

    to_pandas() gives the table of `zelko scan`; to_tsv(), to_bed() and to_gff3() write its
    files. summary() describes every motif of the scan; run holds the scan's facts.
    """

    def __init__(self):
        raise TypeError("Hits come from zelko.scan()")

    @classmethod
    def _create(cls, result, allmotifs, selected):
        hits = object.__new__(cls)
        columns = result.columns()
        if len(selected) < len(allmotifs) and len(result) > 0:
            rows = np.flatnonzero(np.isin(columns["motif"], selected))
            result = result.select(rows.astype(np.int64))
            columns = result.columns()
        hits._result = result
        hits._allmotifs = allmotifs
        hits._selected = np.asarray(selected, dtype=np.int64)
        hits.motifs = [allmotifs[i] for i in selected]
        motifmap = np.full(len(allmotifs), -1, dtype=np.int64)
        motifmap[hits._selected] = np.arange(len(selected))
        hits._scanmotif = columns["motif"].astype(np.int64)
        hits.motif = motifmap[hits._scanmotif]
        hits.sequence = columns["sequence"].view(np.int64)
        hits.start = columns["start"].view(np.int64)
        hits.stop = columns["stop"].view(np.int64)
        hits.strand = columns["strand"].astype("U1")
        hits.score = columns["score"]
        hits.pvalue = columns["pvalue"]
        hits.evalue = columns["evalue"]
        hits.mss = columns["mss"]
        hits.qvalue = columns["qvalue"]
        summaries = result.summaries()
        hits._thresholds = summaries["threshold"]
        hits.threshold = hits._thresholds[hits._scanmotif]
        hits._summaries = summaries
        hits.sequence_names = list(result.sequences.names)
        hits.run = result.run_info()
        hits.warnings = [text.strip() for text in result.warnings]
        hits._matched = None
        for name in ("strand", "threshold"):
            getattr(hits, name).setflags(write=False)
        return hits

    def __len__(self):
        return len(self._result)

    def __repr__(self):
        return "<Hits: %d matches of %d motifs in %d sequences>" % (
            len(self), len(self.motifs), len(self.sequence_names))

    def __getitem__(self, rows):
        """The matches at rows (a slice, a boolean mask or indices), as Hits."""
        picked = np.arange(len(self), dtype=np.int64)[rows]
        if picked.ndim != 1:
            raise IndexError("select matches with a slice, a boolean mask or indices")
        hits = Hits._create(self._result.select(picked), self._allmotifs,
                            self._selected.tolist())
        hits.warnings = self.warnings
        return hits

    @property
    def matched(self):
        if self._matched is None:
            texts = np.empty(len(self), dtype=object)
            texts[:] = self._result.matched_texts()
            texts.setflags(write=False)
            self._matched = texts
        return self._matched

    @property
    def motif_id(self):
        ids = np.array([motif.id for motif in self.motifs] or [""], dtype=object)
        return ids[self.motif]

    @property
    def motif_accession(self):
        accessions = np.array([motif.accession for motif in self.motifs] or [""], dtype=object)
        return accessions[self.motif]

    @property
    def sequence_name(self):
        names = np.array(self.sequence_names or [""], dtype=object)
        return names[self.sequence]

    def to_pandas(self):
        """The matches as a pandas DataFrame with the columns and rows of `zelko scan`'s TSV:
        motif_id, motif_accession, sequence_name, sequence_number, start, stop, strand,
        score, p_value, e_value, mss, matched_sequence, threshold, q_value. The numbers keep
        their full precision (the TSV prints seven digits)."""
        import pandas

        return pandas.DataFrame({
            "motif_id": self.motif_id,
            "motif_accession": self.motif_accession,
            "sequence_name": self.sequence_name,
            "sequence_number": self.sequence,
            "start": self.start,
            "stop": self.stop,
            "strand": _SIGNS[(self.strand == "-").view(np.int8)],
            "score": self.score,
            "p_value": self.pvalue,
            "e_value": self.evalue,
            "mss": self.mss,
            "matched_sequence": self.matched,
            "threshold": self.threshold,
            "q_value": self.qvalue,
        })

    def summary(self):
        """One row per motif of the scan: motif_id, motif_accession, threshold (of the
        scan's background), reachable (the motif can score it at all), windows (tested: the
        N of the q-values), hits (reported by the scan) and sequences_with_hit."""
        import pandas

        columns = {
            "motif_id": [motif.id for motif in self.motifs],
            "motif_accession": [motif.accession for motif in self.motifs],
        }
        for name in ("threshold", "reachable", "windows", "hits", "sequences_with_hit"):
            values = self._summaries[name][self._selected]
            columns[name] = values.astype(np.int64) if values.dtype == np.uint64 else values
        return pandas.DataFrame(columns)

    def _table(self, format, path):
        with _library():
            table = self._result.write(format)
        if path is None:
            return table.decode("utf-8", "replace")
        if hasattr(path, "write"):
            if isinstance(path, io.TextIOBase):
                path.write(table.decode("utf-8", "replace"))
            else:
                path.write(table)
            return None
        with open(path, "wb") as stream:
            stream.write(table)
        return None

    def to_tsv(self, path=None):
        """The TSV of `zelko scan` (header row, seven-digit numbers): returned as str without
        path, else written to the file name or file object."""
        return self._table("tsv", path)

    def to_bed(self, path=None):
        """BED6 as `zelko scan --bed` writes it (0-based half-open)."""
        return self._table("bed", path)

    def to_gff3(self, path=None):
        """GFF3 as `zelko scan --gff3` writes it, with a qvalue attribute."""
        return self._table("gff3", path)


def to_pandas(hits):
    """hits.to_pandas(): the DataFrame of a scan's matches."""
    return hits.to_pandas()
