"""Zelko for Python: motif files in, every motif match with exact statistics out.

    import zelko
    motifs = zelko.read_motifs("JASPAR2024_CORE_vertebrates_non-redundant_pfms_jaspar.txt")
    hits = zelko.scan(motifs, "upstream.fa.gz", pvalue=1e-4)
    table = hits.to_pandas()     # the columns and rows of `zelko scan`'s TSV
    enriched = zelko.enrich(motifs, "peaks.fa", "flanks.fa").to_pandas()  # `zelko enrich`'s

The module runs the code of the `zelko scan` and `zelko enrich` programs in this process:
the same motif readers, thresholds, search engines, statistics and tables.

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
import collections
import html
import itertools
import math
import operator
import os
import re
import sys
import tempfile
import warnings

import numpy as np

from . import _zelko

__all__ = [
    "CENTRAL_COLUMNS",
    "COLUMNS",
    "CentralEnrichmentRow",
    "ENRICHMENT_COLUMNS",
    "Enrichment",
    "EnrichmentRow",
    "Hits",
    "Motif",
    "NOSCORE",
    "SCALE",
    "VARIANT_COLUMNS",
    "VariantEffects",
    "ZelkoWarning",
    "available_threads",
    "enrich",
    "motifs_from_text",
    "read_motifs",
    "Row",
    "TableWritten",
    "scan",
    "to_pandas",
    "variants",
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
    if "is a directory" in lowered:
        error = IsADirectoryError(message)
        error.errno = _errno.EISDIR
        return error
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
def _library(warn=True, rename=None):
    """Turns the failures of the extension module into the builtin exceptions and its
    warnings into ZelkoWarning (or drops them, warn=False). rename, when given, rewrites the
    messages first (the temporary files of text given in memory get their labels back)."""
    rename = rename or (lambda text: text)
    try:
        yield
    except _zelko.ScanError as failure:
        raise _exception_for(rename(str(failure))) from None
    finally:
        texts = _zelko.take_warnings()
        if warn:
            _warn([rename(text) for text in texts])


_TEXT_LABEL = "(text)"


class _Text:
    """Text given in memory (motifs or sequences) where the library reads files: it is
    written to a temporary file for the call, and the messages name it by its label."""

    __slots__ = ("data", "label")

    def __init__(self, data, label=_TEXT_LABEL):
        self.data = data.encode("utf-8") if isinstance(data, str) else bytes(data)
        self.label = label


@contextlib.contextmanager
def _materialised(inputs):
    """(paths, rename) for inputs, a list of file names and _Text: each text written to a
    file of a temporary folder, removed when the block ends; rename turns the names of
    those files in a message back into the texts' labels."""
    if not any(isinstance(item, _Text) for item in inputs):
        yield [os.fspath(item) for item in inputs], None
        return
    with tempfile.TemporaryDirectory(prefix="zelko-") as folder:
        paths, labels = [], {}
        for number, item in enumerate(inputs):
            if not isinstance(item, _Text):
                paths.append(os.fspath(item))
                continue
            # gzip data is known by its file name's ending.
            suffix = ".gz" if item.data.startswith(b"\x1f\x8b") else ""
            path = os.path.join(folder, "%d%s" % (number, suffix))
            with open(path, "wb") as stream:
                stream.write(item.data)
            paths.append(path)
            labels[path] = item.label

        def rename(text):
            for path in sorted(labels, key=len, reverse=True):
                text = text.replace(path, labels[path])
            return text

        yield paths, rename


def _typename(value):
    return type(value).__name__


def _number(value, name, kind=float):
    """value as a float (or int), or TypeError naming the argument."""
    if isinstance(value, (str, bytes, bool)) or value is None:
        raise TypeError("%s must be a number, not %s" % (name, _typename(value)))
    try:
        if kind is int:
            return operator.index(value)
        return float(value)
    except TypeError:
        raise TypeError("%s must be %s, not %s"
                        % (name, "an integer" if kind is int else "a number",
                           _typename(value))) from None


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


def _read_motifset(inputs, formats, warn=True):
    """The library's record of the motifs of inputs (file names and _Text) and the message
    rewriting of their temporary files."""
    with _materialised(inputs) as (paths, rename):
        with _library(warn=warn, rename=rename):
            return _zelko.read_motifs(paths, formats), rename


class _Source:
    """The motifs of one read_motifs call: the files (or texts), how they were read, the
    library's record of them and the background of the weights."""

    _serials = itertools.count()

    def __init__(self, inputs, formats, pseudocount, background):
        self.serial = next(self._serials)  # sources scanned together go in reading order
        self.paths = inputs  # file names and _Text, read again for a scan with other sources
        self.formats = formats
        self.pseudocount = pseudocount
        self.motifset, self.rename = _read_motifset(inputs, formats)
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


def _motifs_of(inputs, formats, pseudocount, background):
    source = _Source(inputs, formats, pseudocount, background)
    source.motifs = [Motif(source, i) for i in range(len(source.motifset))]
    return list(source.motifs)


def _number_text(value):
    """A number as the readers take it back unchanged (shortest round-trip form)."""
    text = repr(float(value))
    return text[:-2] if text.endswith(".0") else text


def _header_word(value, name, blanks):
    value = str(value)
    if any(c in value for c in "\n\r") or (not blanks and any(c.isspace() for c in value)):
        raise ValueError("%s must be %s, not %r"
                         % (name, "one line" if blanks else "one word", value))
    return value.strip()


def _counts_text(identifier, accession, letters, counts):
    """The text and format of a count matrix (positions x letters) for the library's
    readers: JASPAR, or TRANSFAC for a name with blanks and no accession (a JASPAR header
    would take its first word for the accession)."""
    rows = counts.T
    if accession or not any(c.isspace() for c in identifier):
        header = ">%s %s" % (accession, identifier) if accession else ">" + identifier
        lines = [header] + ["%s [ %s ]" % (letter, " ".join(map(_number_text, row)))
                            for letter, row in zip(letters, rows)]
        return "\n".join(lines) + "\n", "jaspar"
    lines = ["ID " + identifier, "P0 " + " ".join(letters)]
    for position, row in enumerate(counts, 1):
        lines.append("%02d %s" % (position, " ".join(map(_number_text, row))))
    return "\n".join(lines) + "\n//\n", "transfac"


def _frequencies_text(identifier, accession, letters, frequencies, sites):
    """MEME text of a matrix of letter frequencies counted over sites sequences."""
    lines = ["MEME version 4", "", "ALPHABET= " + letters, "",
             "MOTIF %s %s" % (accession, identifier) if accession else "MOTIF " + identifier,
             "letter-probability matrix: alength= %d w= %d nsites= %s E= 0"
             % (len(letters), len(frequencies), _number_text(sites))]
    lines += [" ".join(map(_number_text, row)) for row in frequencies]
    return "\n".join(lines) + "\n", "meme"


def _weights_text(identifier, accession, description, letters, weights):
    """A profile library of integer weights (positions x letters), taken as they are."""
    lines = ["BEGIN GROUP", "BEGIN INT", "ID " + identifier]
    if accession:
        lines.append("AC " + accession)
    if description:
        lines.append("DE " + description)
    lines += ["AL " + letters, "LE %d" % len(weights)]
    lines += ["MA " + " ".join(str(int(w)) for w in row) for row in weights]
    return "\n".join(lines + ["END", "END"]) + "\n", "library"


def _matrix(values, letters, name):
    """values (an array of positions x letters, or a dict letter -> column) as a float
    array and the letters of its columns."""
    if isinstance(values, dict):
        letters = "".join(str(letter) for letter in values)
        values = np.column_stack([np.asarray(column, dtype=float)
                                  for column in values.values()]) if values else np.empty((0, 0))
    if not isinstance(letters, str):
        raise TypeError("letters must be a str such as 'ACGT', not %s" % _typename(letters))
    try:
        matrix = np.asarray(values, dtype=float)
    except (TypeError, ValueError):
        raise TypeError("%s must be an array of numbers (positions x letters), not %s"
                        % (name, _typename(values))) from None
    if matrix.ndim != 2 or matrix.shape[0] == 0 or matrix.shape[1] != len(letters):
        raise ValueError("%s must be an array of positions x %d letters (%s), not of shape %s"
                         % (name, len(letters), letters, matrix.shape))
    if not np.isfinite(matrix).all():
        raise ValueError("%s must be finite numbers" % name)
    return matrix, letters


class Motif:
    """One motif of a motif file or profile library.

    Attributes (read-only): id and name (the motif's name: the ID of a library entry, the
    name of a JASPAR, MEME or TRANSFAC matrix; the motif_id column of the tables), accession
    (empty when the file gives none), description, alphabet (the letters of the weight
    columns), length (positions), counts (positions x letters, as read; empty for library
    matrices), weights (positions x letters, int64, thousandths of a natural-log unit, for
    the background and pseudocount given to read_motifs), background (letter -> frequency of
    those weights), source_file and source_line. The arrays are read-only.

    Motifs compare equal when their id, accession, letters, counts, weights and background
    are; they can be pickled and copied (a copy is the motif itself: it cannot change).
    Motif.from_counts, Motif.from_weights and Motif.from_biopython make motifs in memory.
    """

    __slots__ = ("_source", "_index", "_id", "_accession", "_description", "_alphabet",
                 "_length", "_counts", "_weights", "_source_file", "_source_line",
                 "__weakref__")

    def __init__(self, source, index):
        fields = source.motifset.fields(index)
        rename = source.rename or (lambda text: text)
        self._source = source
        self._index = index
        self._id = fields["id"]
        self._accession = fields["accession"]
        self._description = rename(fields["description"])
        self._alphabet = fields["letters"]
        self._length = int(fields["length"])
        self._counts = fields["counts"]
        self._counts.setflags(write=False)
        with _library():
            self._weights = source.motifset.weights(index, source.preparation)
        self._weights.setflags(write=False)
        self._source_file = rename(fields["source_file"])
        self._source_line = int(fields["source_line"])

    id = property(lambda self: self._id, doc="The motif's name (motif_id in the tables).")
    name = property(lambda self: self._id, doc="The same as id.")
    accession = property(lambda self: self._accession)
    description = property(lambda self: self._description)
    alphabet = property(lambda self: self._alphabet,
                        doc="The letters of the columns of counts and weights.")
    length = property(lambda self: self._length)
    counts = property(lambda self: self._counts)
    weights = property(lambda self: self._weights)
    source_file = property(lambda self: self._source_file)
    source_line = property(lambda self: self._source_line)

    def __repr__(self):
        accession = " " + self.accession if self.accession else ""
        return "<Motif %s%s, length %d>" % (self.id, accession, self.length)

    # -- Values: equality, hashing, pickling and copies.

    def __eq__(self, other):
        if not isinstance(other, Motif):
            return NotImplemented
        if other is self:
            return True
        return (self._id == other._id and self._accession == other._accession
                and self._alphabet == other._alphabet
                and np.array_equal(self._counts, other._counts)
                and np.array_equal(self._weights, other._weights)
                and self.background == other.background)

    def __hash__(self):
        return hash((self._id, self._accession, self._alphabet, self._length))

    def __copy__(self):
        return self

    def __deepcopy__(self, memo):
        return self

    def __reduce__(self):
        background = self.background
        uniform = len(set(background.values())) <= 1
        state = {
            "id": self._id, "accession": self._accession, "description": self._description,
            "alphabet": self._alphabet, "counts": np.array(self._counts),
            "weights": np.array(self._weights), "pseudocount": self._source.pseudocount,
            "background": None if uniform else background,
            "source_file": self._source_file, "source_line": self._source_line,
        }
        return (_restore_motif, (state,))

    # -- Motifs made in memory.

    @classmethod
    def from_counts(cls, counts, letters="ACGT", id="motif", accession="", *, sites=None,
                    pseudocount=1.0, background=None):
        """A motif from a matrix of counts (positions x letters: a numpy array, nested
        lists, or a dict letter -> column), weighed as read_motifs weighs the motifs of a
        file (pseudocount, background). A matrix whose rows each sum to 1 holds frequencies:
        they count as sites sequences (20 when not given, as for a MEME matrix without
        nsites); given sites, the rows are always taken as frequencies."""
        matrix, letters = _matrix(counts, letters, "counts")
        identifier = _header_word(id, "id", blanks=True)
        accession = _header_word(accession, "accession", blanks=False)
        if not identifier:
            raise ValueError("id must not be empty")
        frequencies = sites is not None or np.allclose(matrix.sum(axis=1), 1.0, atol=1e-3)
        if frequencies:
            sites = 20.0 if sites is None else _number(sites, "sites")
            if any(c.isspace() for c in identifier):
                raise ValueError("id must be one word for a matrix of frequencies, not %r"
                                 % identifier)
            text, format = _frequencies_text(identifier, accession, letters, matrix, sites)
        else:
            text, format = _counts_text(identifier, accession, letters, matrix)
        return _one_motif(text, format, pseudocount, background)

    @classmethod
    def from_weights(cls, weights, letters="ACGT", id="motif", accession="",
                     description=""):
        """A motif of the given integer weights (positions x letters), in the units of
        Motif.weights: thousandths of a natural-log unit (log-odds in nats times
        zelko.SCALE, rounded). Its scores and statistics use them as they are."""
        matrix, letters = _matrix(weights, letters, "weights")
        if not (matrix == np.round(matrix)).all():
            raise ValueError("weights must be whole numbers (thousandths of a natural-log "
                             "unit: multiply log-odds in nats by zelko.SCALE and round)")
        identifier = _header_word(id, "id", blanks=False)
        if not identifier:
            raise ValueError("id must not be empty")
        accession = _header_word(accession, "accession", blanks=False)
        description = _header_word(description, "description", blanks=True)
        text, format = _weights_text(identifier, accession, description, letters,
                                     matrix.astype(np.int64))
        return _one_motif(text, format, 1.0, None)

    @classmethod
    def from_biopython(cls, motif, *, pseudocount=1.0, background=None):
        """A motif from a Bio.motifs motif: its counts, alphabet, name and (JASPAR)
        matrix_id as the accession."""
        counts = getattr(motif, "counts", None)
        letters = getattr(motif, "alphabet", None)
        if counts is None or letters is None:
            raise TypeError("motif must be a Bio.motifs motif with counts, not %s"
                            % _typename(motif))
        letters = "".join(letters)
        matrix = np.column_stack([np.asarray(counts[letter], dtype=float)
                                  for letter in letters])
        identifier = str(getattr(motif, "name", "") or "").strip() or "motif"
        accession = str(getattr(motif, "matrix_id", "") or "").strip()
        matrix, letters = _matrix(matrix, letters, "counts")
        text, format = _counts_text(identifier, accession, letters, matrix)
        return _one_motif(text, format, pseudocount, background)

    # -- Statistics.

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

    def _strand(self, strand):
        if strand not in ("+", "-"):
            raise ValueError("strand must be '+' or '-', not %r" % (strand,))
        if strand == "-" and self._source.motifset.alphabet == "protein":
            raise ValueError("motif %s is not a DNA motif: it has no reverse strand" % self.id)
        return strand

    def threshold(self, pvalue, background=None, strand="+"):
        """The smallest integer score whose exact p-value (the probability that a random
        window scores at least as much) does not exceed pvalue: the threshold a scan at this
        p-value uses. background: None for the motif's own, or "uniform", a frequency file,
        a dict of letter frequencies or the frequencies in the order of the sequence
        alphabet's letters; a scan with the background counted from the sequences uses that
        one (see Hits.summary()). strand: "+" or "-" (DNA): the background describes the
        forward strand, and a window of the reverse strand reads the complements, whose
        frequencies are the complemented ones, so each strand has its own threshold."""
        pvalue = _number(pvalue, "pvalue")
        strand = self._strand(strand)
        preparation = self._source.preparation_for(background)
        with _library():
            return int(self._source.motifset.threshold(self._index, pvalue, preparation,
                                                       strand))

    def pvalue(self, score, background=None, strand="+"):
        """The exact p-value of a score (a number or an array of them): the probability that
        a random window of the strand ("+" or "-", see threshold) scores at least score. A
        score between two integers counts as the next integer up; a score above the highest
        (inf included) gives 0, one at or below the lowest (-inf included) 1; NaN (the
        score of a window Motif.score cannot score) gives NaN."""
        strand = self._strand(strand)
        if isinstance(score, (str, bytes)) or score is None:
            raise TypeError("score must be a number or an array of numbers, not %s"
                            % _typename(score))
        try:
            scores = np.asarray(score, dtype=float)
        except OverflowError:  # an int beyond the floats: above or below every score
            scores = np.asarray(math.inf if score > 0 else -math.inf)
        except (TypeError, ValueError):
            raise TypeError("score must be a number or an array of numbers, not %s"
                            % _typename(score)) from None
        preparation = self._source.preparation_for(background)
        with _library():
            low, high = self._source.motifset.score_range(self._index, preparation)
        known = ~np.isnan(scores)
        # Within [low, high + 1] every score keeps its p-value, and int64 holds it.
        integers = np.ceil(np.clip(scores[known], low, high + 1)).astype(np.int64)
        with _library():
            pvalues = self._source.motifset.pvalues(self._index, integers, preparation, strand)
        # No window scores above the highest score (the library's lookup gives that
        # score's p-value there).
        pvalues[integers > high] = 0.0
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
        if _is_record(sequence):
            sequence = sequence.seq
        letters = _letters(sequence)
        if letters is None:
            raise TypeError("sequence must be str, bytes or a Biopython Seq or SeqRecord, "
                            "not %s" % _typename(sequence))
        preparation = self._source.preparation_for(background)
        with _library():
            forward, reverse = self._source.motifset.score_windows(self._index, letters,
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


def _one_motif(text, format, pseudocount, background):
    """The motif of a text holding one, read as a file of it would be; one the reader skips
    fails with the reason it gave."""
    pseudocount = _number(pseudocount, "pseudocount")
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", ZelkoWarning)
        try:
            motifs = _motifs_of([_Text(text)], [format], pseudocount, background)
        except ValueError as error:
            reasons = [str(w.message) for w in caught if issubclass(w.category, ZelkoWarning)]
            if reasons:
                raise ValueError("; ".join(reasons)) from None
            raise
    for warning in caught:
        warnings.warn_explicit(warning.message, warning.category, warning.filename,
                               warning.lineno)
    return motifs[0]


def _restore_motif(state):
    """A pickled motif: its counts (or weights) read again with its pseudocount and
    background, and the fields of where it came from."""
    letters = state["alphabet"]
    if state["counts"].size:
        text, format = _counts_text(state["id"], state["accession"], letters, state["counts"])
    else:
        text, format = _weights_text(state["id"], state["accession"], "", letters,
                                     state["weights"])
    motif = _one_motif(text, format, state["pseudocount"], state["background"])
    motif._description = state["description"]
    motif._source_file = state["source_file"]
    motif._source_line = state["source_line"]
    return motif


def _is_text(value):
    """Motif or sequence text given where a file name may be: more than one line, and no
    file of that name."""
    if isinstance(value, bytes):
        return b"\n" in value and not os.path.exists(value)
    return isinstance(value, str) and "\n" in value and not os.path.exists(value)


def _motif_inputs(path):
    """The file names and texts of read_motifs' first argument."""
    if isinstance(path, (str, bytes, os.PathLike)) or hasattr(path, "read"):
        items = [path]
    elif isinstance(path, (list, tuple)) or (hasattr(path, "__iter__")
                                             and not isinstance(path, dict)):
        items = list(path)
    else:
        raise TypeError("path must be a motif file name, motif text or a list of them, "
                        "not %s" % _typename(path))
    inputs = []
    for item in items:
        if hasattr(item, "read"):
            inputs.append(_Text(item.read()))
        elif _is_text(item):
            inputs.append(_Text(item))
        elif isinstance(item, (str, bytes, os.PathLike)):
            inputs.append(os.fsdecode(item))
        else:
            raise TypeError("path must be a motif file name, motif text or a list of them; "
                            "it holds an item of type %s" % _typename(item))
    return inputs


def read_motifs(path, format=None, pseudocount=1.0, background=None):
    """Every motif of a motif file or of several (a str, path or list of them): JASPAR,
    TRANSFAC-style counts and MEME files as motifconv reads them, plain or gzip, and profile
    libraries. Text of such a file (a str of more than one line, bytes, or a file object
    open for reading) is read as the file would be. format: None or "auto" (detected per
    file), "jaspar", "transfac", "meme" or "library". Count matrices become log-odds weights
    with pseudocount and background (None: uniform; or a frequency file, a dict of letter
    frequencies, or frequencies in the order of the alphabet's letters), times 1000 and
    rounded. Returns a list of Motif."""
    inputs = _motif_inputs(path)
    if not inputs:
        raise ValueError("no motif file given")
    format, pseudocount = _reading(format, pseudocount)
    return _motifs_of(inputs, [format] * len(inputs), pseudocount, background)


def motifs_from_text(text, format=None, pseudocount=1.0, background=None):
    """The motifs of the text of a motif file (str or bytes), as read_motifs reads the
    file."""
    if hasattr(text, "read"):
        text = text.read()
    if not isinstance(text, (str, bytes, bytearray, memoryview)):
        raise TypeError("text must be str or bytes, not %s" % _typename(text))
    format, pseudocount = _reading(format, pseudocount)
    return _motifs_of([_Text(text)], [format], pseudocount, background)


def _reading(format, pseudocount):
    """The checked format name and pseudocount of a motif reader's call."""
    if format is not None and not isinstance(format, str):
        raise TypeError("format must be a str, not %s" % _typename(format))
    format = "auto" if format is None else format.lower()
    if format not in _FORMATS:
        raise ValueError("format must be one of %s, not %r" % (", ".join(_FORMATS), format))
    return format, _number(pseudocount, "pseudocount")


def _is_biopython_motif(value):
    return (hasattr(value, "counts") and hasattr(value, "alphabet")
            and hasattr(value, "consensus"))


def _selection(motifs):
    """The motifs of a scan as a list of Motif without repeats, in the order given."""
    if isinstance(motifs, (str, bytes, os.PathLike)):
        return read_motifs(motifs)
    if isinstance(motifs, Motif):
        return [motifs]
    if _is_biopython_motif(motifs):
        return [Motif.from_biopython(motifs)]
    if not hasattr(motifs, "__iter__") or isinstance(motifs, dict):
        raise TypeError("motifs must be Motif objects or motif file names, not %s"
                        % _typename(motifs))
    chosen, seen = [], set()
    for motif in motifs:
        if _is_biopython_motif(motif):
            motif = Motif.from_biopython(motif)
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
_SEQUENCES_TYPES = ("a file name, Fasta text, the letters of a sequence, a file object, or an "
                    "iterable of sequences")
_ITEM_TYPES = ("str, bytes, a Biopython Seq or SeqRecord, or a (name, sequence) pair")


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


def _is_record(value):
    """A Biopython SeqRecord (or anything with seq and id)."""
    return hasattr(value, "seq") and hasattr(value, "id")


def _letters(sequence):
    """The letters of one sequence (str, bytes-like or Biopython Seq), or None for anything
    else."""
    if isinstance(sequence, (str, bytes)):
        return sequence
    if isinstance(sequence, (bytearray, memoryview)):
        return bytes(sequence)
    if hasattr(sequence, "reverse_complement") and not _is_record(sequence):
        return str(sequence)  # Biopython Seq, MutableSeq
    return None


def _header(item, number, name="sequences"):
    """(header, letters) of one in-memory sequence: a Biopython SeqRecord, a (name,
    sequence) pair or the letters alone (str, bytes, Seq; named by their number). name: the
    argument the sequences were given as, for the TypeError."""
    if _is_record(item):
        identifier = str(item.id)
        description = str(getattr(item, "description", "") or "")
        if description.split(None, 1)[:1] == [identifier]:
            header = description
        elif description and description != "<unknown description>":
            header = identifier + " " + description
        else:
            header = identifier
        letters = _letters(item.seq)
        if letters is not None:
            return header, letters
    elif isinstance(item, tuple) and len(item) == 2 and isinstance(item[0], (str, bytes)):
        letters = _letters(item[1])
        if letters is not None:
            name = item[0].decode("latin-1") if isinstance(item[0], bytes) else item[0]
            return name, letters
    else:
        letters = _letters(item)
        if letters is not None:
            return "", letters
    what = _typename(item)
    if isinstance(item, tuple):
        what = "tuple of %d" % len(item) if len(item) != 2 else "(%s, %s)" % tuple(
            _typename(part) for part in item)
    raise TypeError("%s: item %d must be %s, not %s" % (name, number, _ITEM_TYPES, what))


def _sequence_text(data):
    """The record of sequences given as the text of a file: Fasta text in memory, any other
    (GenBank, EMBL, gzip) as a file the library reads."""
    if isinstance(data, str):
        if data.lstrip().startswith(">"):
            return _in_memory(_fasta_pairs(data)), None
        return None, _Text(data)
    data = bytes(data)
    if data.lstrip().startswith(b">"):
        return _in_memory(_fasta_pairs(data.decode("latin-1"))), None
    return None, _Text(data)


def _sequences(sequences, name="sequences"):
    """The library's record of the scan's sequences: a file or an index named by a path, or
    sequences in memory; and the text to write to a temporary file for it (or None). name:
    the argument they were given as, for the TypeError."""
    if isinstance(sequences, os.PathLike):
        return _zelko.Sequences(os.fspath(sequences)), None
    if hasattr(sequences, "read"):
        data = sequences.read()
        if not isinstance(data, (str, bytes)):
            raise TypeError("%s: the file object gave %s, not text or bytes"
                            % (name, _typename(data)))
        return _sequence_text(data)
    if isinstance(sequences, str):
        if os.path.exists(sequences) or os.path.exists(sequences + ".prj"):
            return _zelko.Sequences(sequences), None
        if sequences.lstrip().startswith(">") or "\n" in sequences:
            return _sequence_text(sequences)
        if _RESIDUES.match(sequences) and sequences.strip():
            return _in_memory([("", sequences)]), None
        return _zelko.Sequences(sequences), None  # a file name: the library says it is missing
    if isinstance(sequences, (bytes, bytearray, memoryview)):
        data = bytes(sequences)
        if data.lstrip().startswith(b">") or data.startswith(b"\x1f\x8b") or (
                b"\n" in data.strip()):
            return _sequence_text(data)
        return _in_memory([("", data)]), None
    if _is_record(sequences) or _letters(sequences) is not None:
        return _in_memory([_header(sequences, 0)]), None
    if not hasattr(sequences, "__iter__"):
        raise TypeError("%s must be %s, not %s" % (name, _SEQUENCES_TYPES,
                                                   _typename(sequences)))
    if isinstance(sequences, dict):
        raise TypeError("%s must be %s, not dict (give its items() for (name, sequence) "
                        "pairs)" % (name, _SEQUENCES_TYPES))
    return _in_memory(_header(item, number, name)
                      for number, item in enumerate(sequences)), None


def _in_memory(pairs):
    held = _zelko.Sequences("")
    with _library():
        for header, letters in pairs:
            held.add(header, letters)
    return held


# ---- Scans --------------------------------------------------------------------------------

_TABLES = ("tsv", "bed", "gff3")
_TABLE_ENDINGS = {".bed": "bed", ".gff3": "gff3", ".gff": "gff3"}
_SIZE = re.compile(r"(\d+(?:\.\d*)?|\.\d+)([kmgt]?)b?\Z", re.IGNORECASE)
_SIZE_FACTORS = {"": 1, "k": 1 << 10, "m": 1 << 20, "g": 1 << 30, "t": 1 << 40}


def _table_output(output, table):
    """The file name and the table format of a scan written to output."""
    if not isinstance(output, (str, os.PathLike)):
        raise TypeError("output must be a file name (str or os.PathLike), not %s"
                        % _typename(output))
    path = os.fsdecode(os.fspath(output))
    if not path:
        raise ValueError("output must name a file")
    if path.lower().endswith(".gz"):
        raise ValueError("output %r: zelko.scan writes plain tables; give a plain name "
                         "(`zelko scan -o FILE.gz` writes compressed ones)" % path)
    if table is None:
        return path, _TABLE_ENDINGS.get(os.path.splitext(path)[1].lower(), "tsv")
    if not isinstance(table, str):
        raise TypeError("table must be a str, not %s" % _typename(table))
    if table.lower() not in _TABLES:
        raise ValueError("table must be 'tsv', 'bed' or 'gff3', not %r" % (table,))
    return path, table.lower()


def _memory(memory):
    """The bytes of memory=: an int, or a size such as "512M" or "2G" (K, M, G, T: powers
    of 1024); at least 1K."""
    if memory is None:
        return int(_zelko.DEFAULT_MEMORY)
    if isinstance(memory, str):
        found = _SIZE.match(memory.strip())
        if found is None:
            raise ValueError("memory must be a number of bytes or a size such as '512M' or "
                             "'2G', not %r" % (memory,))
        size = float(found.group(1)) * _SIZE_FACTORS[found.group(2).lower()]
    else:
        size = _number(memory, "memory", int)
    if not 1024 <= size < 1 << 64:
        raise ValueError("memory must be at least 1K (1024 bytes), not %r" % (memory,))
    return int(size)


def _folder(tmpdir):
    if tmpdir is None:
        return ""  # the library's: $TMPDIR, else /tmp
    if not isinstance(tmpdir, (str, os.PathLike)):
        raise TypeError("tmpdir must be a folder name (str or os.PathLike), not %s"
                        % _typename(tmpdir))
    return os.fsdecode(os.fspath(tmpdir))


def _python_words(text):
    """A message of the library in the words of scan()'s arguments, not the program's."""
    return text.replace("--tmpdir", "tmpdir=").replace("--memory", "memory=")


def _motifs_to_run(motifs):
    """(motif set, sources, every motif of the set, indices of the chosen ones in it) of the
    motifs of a scan or an enrichment: the library's record of the files the chosen motifs
    come from (read again as one set when they come from several calls of read_motifs),
    and which of its motifs were chosen, in the set's order."""
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
        motifset, _ = _read_motifset(paths, formats, warn=False)  # warned when read
        if len(motifset) != sum(len(source.motifs) for source in sources):
            raise ValueError("the motif files changed since they were read: read them again")
    offsets, offset = {}, 0
    for source in sources:
        offsets[id(source)] = offset
        offset += len(source.motifs)
    allmotifs = [motif for source in sources for motif in source.motifs]
    selected = sorted(offsets[id(motif._source)] + motif._index for motif in chosen)
    return motifset, sources, allmotifs, selected


def _threads(threads):
    """The library's number of threads for threads= (None: 0, every available core)."""
    if threads is None:
        return 0
    threads = _number(threads, "threads", int)
    if threads < 1:
        raise ValueError("threads must be at least 1, not %r" % (threads,))
    return threads


def scan(motifs, sequences, pvalue=1e-4, qvalue=None, strands="both", background=None,
         threads=None, *, sort="position", matched_text=True, progress=None, output=None,
         table=None, memory=None, tmpdir=None):
    """Every window of the sequences whose score reaches the motif's threshold for pvalue,
    as `zelko scan` finds them: exact p-values, E-values, and q-values per motif.

    motifs: Motif objects (from read_motifs), Bio.motifs motifs, or motif file names.
    sequences: the name of a Fasta, GenBank or EMBL file (plain or gzip) or of a zelkoindex
    index; the text of such a file (str or bytes of more than one line, or a file object
    open for reading); or sequences in memory: the letters of one sequence, a list of (name,
    sequence) pairs, Biopython SeqRecords or letters. qvalue: keep only the matches
    with a q-value (Benjamini-Hochberg per motif over every window tested) at most this;
    pvalue then only bounds what is computed. strands: "both" or "forward" (protein is
    forward only). background: None (counted from the sequences, order 0), "uniform", a
    frequency file, a dict of letter frequencies or frequencies in the order of the
    alphabet's letters. threads: worker threads (None: every available core); the results do
    not depend on it. sort: "position" (motif in file order, sequence, start, strand),
    "pvalue" or "genome" (sequence in file order, start, stop, motif, strand). progress: a function called now and then during the scan with (work done,
    work in all, matches so far, seconds); an exception it raises stops the scan.

    output: a file name (str or os.PathLike) to write the table to instead of holding the
    matches, in memory that does not grow with them: the file is the one Hits.to_tsv(),
    to_bed() or to_gff3() would write, byte for byte. table: "tsv", "bed" or "gff3" (None:
    "bed" for a name ending in .bed, "gff3" for .gff3 or .gff, else "tsv"). A name ending in
    .gz is refused: `zelko scan -o FILE.gz` writes compressed tables. memory: the bytes of
    matches held at most (an int, or a str such as "512M" or "2G": K, M, G powers of 1024;
    None: 512M); beyond it sorted runs go to temporary files in tmpdir (None: $TMPDIR, else
    /tmp), which are removed however the scan ends. The file is written under a temporary
    name beside it and takes its name when complete: a scan that fails or is stopped leaves
    no file (and an older file of that name as it was). Returns a TableWritten, which has
    the summary and the run but no rows.

    The scan runs with the interpreter lock released; Ctrl-C stops it and raises
    KeyboardInterrupt. Returns Hits (TableWritten with output).
    """
    motifset, sources, allmotifs, selected = _motifs_to_run(motifs)

    options = _zelko.RunOptions()
    options.pvalue = _number(pvalue, "pvalue")
    if qvalue is not None:
        options.useqvalue = True
        options.qvalue = _number(qvalue, "qvalue")
    if strands not in ("both", "forward"):
        raise ValueError("strands must be 'both' or 'forward', not %r" % (strands,))
    options.strands = strands
    given = _background(background, sources[0].letters, allow_sequences=True)
    options.background_kind = given.kind
    options.background_file = given.filename
    options.background_letters = given.letters
    options.background_frequencies = given.frequencies
    options.pseudocount = sources[0].pseudocount
    options.threads = _threads(threads)
    if sort not in ("position", "pvalue", "genome"):
        raise ValueError("sort must be 'position', 'pvalue' or 'genome', not %r" % (sort,))
    options.sort = sort
    options.matched_text = bool(matched_text)
    if progress is not None and not callable(progress):
        raise TypeError("progress must be callable")
    if output is not None:
        options.output, options.table = _table_output(output, table)
        options.memory = _memory(memory)
        options.tmpdir = _folder(tmpdir)
        if len(selected) < len(allmotifs):
            options.output_motifs = selected
    elif (table, memory, tmpdir) != (None, None, None):
        raise ValueError("table, memory and tmpdir go with output= (a scan written to a "
                         "file)")

    held, text = _sequences(sequences)
    if text is None:
        with _library(rename=_python_words):
            result = _zelko.run(motifset, held, options, progress)
    else:
        with _materialised([text]) as (paths, rename):
            held = _zelko.Sequences(paths[0])
            with _library(rename=lambda message: _python_words(rename(message))):
                result = _zelko.run(motifset, held, options, progress)
    _warn(result.warnings)
    run = result.run_info()
    # Texts given in memory are named by their labels, not by their temporary files.
    run["motif_files"] = [item.label if isinstance(item, _Text) else item
                          for source in sources for item in source.paths]
    if text is not None:
        run["sequence_file"] = text.label
    if output is not None:
        return TableWritten._create(result, allmotifs, selected, run, options)
    return Hits._create(result, allmotifs, selected, run)


_SIGNS = np.array(["+", "-"], dtype=object)

# The columns of `zelko scan`'s TSV, in its order: the fields of a row of Hits.
COLUMNS = ("motif_id", "motif_accession", "sequence_name", "sequence_number", "start", "stop",
           "strand", "score", "p_value", "e_value", "mss", "matched_sequence", "threshold",
           "q_value")
Row = collections.namedtuple("Row", COLUMNS)
Row.__doc__ = """One match of a scan, with the columns of `zelko scan`'s TSV as fields."""
_HTML_ROWS = 10


class Hits:
    """The matches of a scan, one row per match, as numpy columns:

    motif (index into .motifs), motif_id, motif_accession, sequence (0-based index into
    .sequence_names), sequence_name, start and stop (1-based, closed), strand ('+' or '-',
    the reverse complementary strand), score (int64, thousandths of a natural-log unit),
    pvalue, evalue, mss (matrix similarity score, 0 to 1), qvalue, threshold (of the row's
    motif on the row's strand) and matched (the matched letters in the motif's reading
    direction, upper case).

    Iterating gives the rows as Row named tuples whose fields are the TSV's columns
    (zelko.COLUMNS); hits[i] is row i, hits[slice or mask or indices] the Hits of those rows.
    to_pandas() gives the table of `zelko scan`; to_tsv(), to_bed() and to_gff3() write its
    files. summary() describes every motif of the scan; run holds the scan's facts. In a
    notebook, Hits show as a table of their first rows.
    """

    def __init__(self):
        raise TypeError("Hits come from zelko.scan()")

    @classmethod
    def _create(cls, result, allmotifs, selected, run=None):
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
        # Each strand has its threshold (the reverse one under the complemented background).
        hits.threshold = np.where(hits.strand == "-",
                                  summaries["reverse_threshold"][hits._scanmotif],
                                  summaries["threshold"][hits._scanmotif])
        hits._summaries = summaries
        hits.sequence_names = list(result.sequences.names)
        hits.run = dict(run) if run is not None else result.run_info()
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
        """The match at an integer position as a Row; the matches at rows (a slice, a
        boolean mask or indices) as Hits."""
        if isinstance(rows, (int, np.integer)) and not isinstance(rows, (bool, np.bool_)):
            position = operator.index(rows)
            if not -len(self) <= position < len(self):
                raise IndexError("match %d of %d out of range" % (position, len(self)))
            position %= len(self)
            return next(self._rows(slice(position, position + 1)))
        picked = np.arange(len(self), dtype=np.int64)[rows]
        if picked.ndim != 1:
            raise IndexError("select matches with an integer, a slice, a boolean mask or "
                             "indices")
        hits = Hits._create(self._result.select(picked), self._allmotifs,
                            self._selected.tolist(), self.run)
        hits.warnings = self.warnings
        return hits

    def __iter__(self):
        """The matches as Row named tuples, in the order of the table."""
        step = 4096  # rows converted at a time
        for first in range(0, len(self), step):
            yield from self._rows(slice(first, first + step))

    def _rows(self, part):
        columns = [
            self.motif_id[part], self.motif_accession[part], self.sequence_name[part],
            self.sequence[part], self.start[part], self.stop[part], self.strand[part],
            self.score[part], self.pvalue[part], self.evalue[part], self.mss[part],
            self.matched[part], self.threshold[part], self.qvalue[part],
        ]
        return map(Row._make, zip(*(column.tolist() for column in columns)))

    def _repr_html_(self):
        """A notebook's view: the scan in one line, then the first rows of the table."""
        facts = "%d matches of %d motifs in %d sequences" % (
            len(self), len(self.motifs), len(self.sequence_names))
        pvalue = self.run.get("pvalue")
        if pvalue is not None:
            facts += ", p-value &le; %s" % html.escape("%g" % pvalue)
        if self.run.get("qvalue") is not None:
            facts += ", q-value &le; %s" % html.escape("%g" % self.run["qvalue"])
        return _html_view("Hits", facts, COLUMNS, self._rows(slice(0, _HTML_ROWS)), len(self))

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
        """One row per motif of the scan, as a pandas DataFrame: motif_id, motif_accession,
        threshold and reverse_threshold (of the forward and the reverse strand, under the
        scan's background and its complement), reachable and reverse_reachable (the motif
        can score that threshold at all), windows (tested: the N of the q-values), hits
        (reported by the scan) and sequences_with_hit."""
        return _summary_frame(self.motifs, self._summaries, self._selected)

    def _table(self, format, path):
        with _library():
            table = self._result.write(format)
        return _deliver(table, path)

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


def _deliver(table, path):
    """A table (bytes) as str without path, else written to the file name or file object."""
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


def _html_view(name, facts, columns, rows, count):
    """A notebook's view of a table: its facts in one line (HTML), then a table of columns
    over rows (its first ones, of count)."""
    parts = ["<div><p><b>zelko.%s</b>: %s</p>" % (name, facts)]
    if count:
        parts.append("<table><thead><tr>%s</tr></thead><tbody>" % "".join(
            "<th>%s</th>" % html.escape(column) for column in columns))
        for row in rows:
            parts.append("<tr>%s</tr>" % "".join(
                "<td>%s</td>" % html.escape(_cell(value)) for value in row))
        parts.append("</tbody></table>")
        if count > _HTML_ROWS:
            parts.append("<p>&hellip; %d more rows (to_pandas() gives them all)</p>"
                         % (count - _HTML_ROWS))
    parts.append("</div>")
    return "".join(parts)


def _summary_frame(motifs, summaries, selected):
    """The summary() of a scan: the library's summaries of the selected motifs."""
    import pandas

    columns = {
        "motif_id": [motif.id for motif in motifs],
        "motif_accession": [motif.accession for motif in motifs],
    }
    for name in ("threshold", "reverse_threshold", "reachable", "reverse_reachable",
                 "windows", "hits", "sequences_with_hit"):
        values = summaries[name][selected]
        columns[name] = values.astype(np.int64) if values.dtype == np.uint64 else values
    return pandas.DataFrame(columns)


class TableWritten:
    """What zelko.scan(..., output=FILE) returns: the table is in the file, and this holds
    the rest of the scan.

    output: the file's name, as given; table: its format, "tsv", "bed" or "gff3";
    rows_written: the rows of the table (its matches); motifs and sequence_names: the
    scan's, as in Hits; run: the scan's facts, as Hits.run, with "memory": the bytes of the
    sequences, the most bytes of matches held at once, and the sorted runs written to
    temporary files and their bytes; warnings: the library's. summary() gives one row per
    motif, as Hits.summary() does.
    """

    def __init__(self):
        raise TypeError("TableWritten comes from zelko.scan(..., output=FILE)")

    @classmethod
    def _create(cls, result, allmotifs, selected, run, options):
        written = object.__new__(cls)
        written._summaries = result.summaries()
        written._selected = np.asarray(selected, dtype=np.int64)
        written.motifs = [allmotifs[i] for i in selected]
        written.sequence_names = list(result.sequences.names)
        written.output = options.output
        written.table = options.table
        written.rows_written = int(written._summaries["hits"][written._selected].sum())
        written.run = dict(run)
        written.warnings = [text.strip() for text in result.warnings]
        return written

    def __repr__(self):
        return "<TableWritten: %d rows of %d motifs in %d sequences to %s (%s)>" % (
            self.rows_written, len(self.motifs), len(self.sequence_names), self.output,
            self.table)

    def summary(self):
        """One row per motif of the scan, as Hits.summary() gives it."""
        return _summary_frame(self.motifs, self._summaries, self._selected)


def _cell(value):
    if isinstance(value, float):
        return "%.4g" % value
    return str(value)


def to_pandas(hits):
    """hits.to_pandas(): the DataFrame of a scan's matches."""
    return hits.to_pandas()


# ---- Enrichment ---------------------------------------------------------------------------

# The columns of `zelko enrich`'s TSV, in its order: the fields of a row of Enrichment; with
# center=True the central test's follow.
ENRICHMENT_COLUMNS = (
    "motif_id", "motif_accession", "motif_name", "target_sequences", "target_with_hit",
    "target_hits", "target_hits_per_sequence", "control_sequences", "control_with_hit",
    "control_hits", "control_hits_per_sequence", "enrichment_ratio", "p_value",
    "log10_p_value", "e_value", "q_value")
CENTRAL_COLUMNS = ("central_width", "central_hits", "central_all", "central_p_value")
EnrichmentRow = collections.namedtuple("EnrichmentRow", ENRICHMENT_COLUMNS)
EnrichmentRow.__doc__ = """One motif of an enrichment, with the columns of `zelko enrich`'s TSV."""
CentralEnrichmentRow = collections.namedtuple("CentralEnrichmentRow",
                                              ENRICHMENT_COLUMNS + CENTRAL_COLUMNS)
CentralEnrichmentRow.__doc__ = """One motif of an enrichment with center=True: the columns of
`zelko enrich --center`'s TSV."""

_TESTS = {"match": "Fisher's exact test", "best": "rank-sum test"}


def _whole(value, name, low, high):
    """An integer argument from low to high, or TypeError / ValueError naming it."""
    value = _number(value, name, int)
    if not low <= value <= high:
        raise ValueError("%s must lie from %d to %d, not %r" % (name, low, high, value))
    return value


def _enrich_words(text):
    """A message of the library in the words of enrich()'s arguments."""
    return text.replace("--center", "center=True")


def enrich(motifs, target, control=None, *, pvalue=1e-4, threshold="match", strands="both",
           background=None, center=False, shuffle_order=2, shuffles=1, seed=1, threads=None,
           progress=None):
    """Which motifs are over-represented in the target sequences against the control, as
    `zelko enrich` tests it, with exact statistics. Returns an Enrichment: one row per motif,
    the most enriched first, with the columns of the program's table.

    motifs: as for scan (Motif objects, Bio.motifs motifs or motif file names); when they
    are some of a file's motifs, those alone are tested and reported, and the E-values
    (p-value times the motifs tested) and q-values (Benjamini-Hochberg) are theirs: the
    table is the one of a file that holds them alone. target, control: sequences as scan
    takes them (a file name, the text of a file, a file object, or sequences in memory).
    control None: the targets shuffled, each with the counts of its words of shuffle_order
    letters kept (2: dinucleotides), shuffles copies of each, from seed (the same for a seed
    whatever the threads); at least 2 control sequences are needed.

    pvalue: a match is a window of p-value at most this. threshold: "match" (the sequences
    with a match, target against control: one-sided Fisher's exact test) or "best" (every
    sequence's best window score: one-sided rank-sum test). strands: "both" or "forward".
    background: None or "control" (counted from the control), "uniform", a frequency file,
    a dict of letter frequencies or frequencies in the order of the alphabet's letters.
    center: also the central enrichment test of the target matches (targets of one length,
    such as peaks centred on their summits). threads: worker threads (None: every available
    core); the result does not depend on it. progress: a function called now and then with
    (work done, work in all, matches so far, seconds), the target's scan and then the
    control's (whose work then joins the whole: work done never goes back); an exception it
    raises stops the run.

    Runs with the interpreter lock released; Ctrl-C stops it and raises KeyboardInterrupt.
    """
    motifset, sources, allmotifs, selected = _motifs_to_run(motifs)
    options = _zelko.EnrichOptions()
    pvalue = _number(pvalue, "pvalue")
    if not 0.0 < pvalue <= 1.0:
        raise ValueError("pvalue must lie above 0 and at most 1, not %r" % (pvalue,))
    options.pvalue = pvalue
    if threshold not in ("match", "best"):
        raise ValueError("threshold must be 'match' or 'best', not %r" % (threshold,))
    options.threshold = threshold
    if strands not in ("both", "forward"):
        raise ValueError("strands must be 'both' or 'forward', not %r" % (strands,))
    options.strands = strands
    if isinstance(background, str) and background == "control":
        background = None
    given = _background(background, sources[0].letters, allow_sequences=True)
    options.background_kind = given.kind
    options.background_file = given.filename
    options.background_letters = given.letters
    options.background_frequencies = given.frequencies
    options.pseudocount = sources[0].pseudocount
    options.center = bool(center)
    options.shuffle_order = _whole(shuffle_order, "shuffle_order", 1, 8)
    options.shuffles = _whole(shuffles, "shuffles", 1, 1000)
    options.seed = _whole(seed, "seed", 0, (1 << 64) - 1)
    options.threads = _threads(threads)
    if progress is not None and not callable(progress):
        raise TypeError("progress must be callable")
    if len(selected) < len(allmotifs):
        options.motifs = selected

    target_held, target_text = _sequences(target, "target")
    control_held, control_text = (None, None) if control is None else _sequences(control,
                                                                                  "control")
    texts = [text for text in (target_text, control_text) if text is not None]
    with _materialised(texts) as (paths, rename):
        rename = rename or (lambda message: message)
        files = iter(paths)
        if target_text is not None:
            target_held = _zelko.Sequences(next(files))
        if control_text is not None:
            control_held = _zelko.Sequences(next(files))
        with _library(rename=lambda message: _enrich_words(rename(message))):
            outcome = _zelko.enrich(motifset, target_held, control_held, options, progress)
    _warn(outcome.warnings)
    run = outcome.run_info()
    # Texts given in memory are named by their labels, not by their temporary files.
    run["motif_files"] = [item.label if isinstance(item, _Text) else item
                          for source in sources for item in source.paths]
    run["target_file"] = target_text.label if target_text is not None else target_held.path
    run["control_file"] = (control_text.label if control_text is not None
                           else "" if control_held is None else control_held.path)
    return Enrichment._create(outcome, allmotifs, selected, run)


class Enrichment:
    """The outcome of zelko.enrich(): one row per motif tested, the most enriched first
    (by p-value, then in the motifs' order), with the columns of `zelko enrich`'s TSV
    (zelko.ENRICHMENT_COLUMNS, and zelko.CENTRAL_COLUMNS with center=True).

    len() is the number of rows; iterating gives them as EnrichmentRow (or
    CentralEnrichmentRow) named tuples. Counts are ints; p_value, e_value, q_value and
    central_p_value are floats, 0.0 where they are too small for a double (log10_p_value
    keeps the logarithm, and to_tsv() the digits). columns() gives the table as a dict of
    numpy columns, to_pandas() as a DataFrame, to_tsv() as the program writes it.
    motifs: the motifs tested, in their files' order; motif: each row's index into them;
    summary(): the motifs' thresholds; run: the run's facts (sequences, letters, the
    background used, the options, threads, seconds); warnings: the library's.
    """

    def __init__(self):
        raise TypeError("Enrichment comes from zelko.enrich()")

    @classmethod
    def _create(cls, outcome, allmotifs, selected, run):
        enrichment = object.__new__(cls)
        enrichment._outcome = outcome
        columns = outcome.columns()
        setindex = columns.pop("motif")
        for name in ("motif_id", "motif_accession", "motif_name"):
            texts = np.empty(len(columns[name]), dtype=object)
            texts[:] = columns[name]
            texts.setflags(write=False)
            columns[name] = texts
        enrichment._columns = columns
        enrichment._selected = np.asarray(selected, dtype=np.int64)
        enrichment.motifs = [allmotifs[i] for i in selected]
        motifmap = np.full(len(allmotifs), -1, dtype=np.int64)
        motifmap[enrichment._selected] = np.arange(len(selected))
        enrichment.motif = motifmap[setindex]
        enrichment.motif.setflags(write=False)
        enrichment._summaries = outcome.summaries()
        enrichment._row = CentralEnrichmentRow if run["center"] else EnrichmentRow
        enrichment.run = dict(run)
        enrichment.warnings = [text.strip() for text in outcome.warnings]
        return enrichment

    def __len__(self):
        return len(self._outcome)

    def __repr__(self):
        return "<Enrichment: %d motifs, %d target sequences against %d %s>" % (
            len(self), self.run["targets"], self.run["controls"],
            "shuffled ones" if self.run["shuffled"] else "control sequences")

    def __iter__(self):
        """The rows as named tuples, in the order of the table."""
        return self._rows(slice(None))

    def _rows(self, part):
        columns = [column[part].tolist() for column in self._columns.values()]
        return map(self._row._make, zip(*columns))

    def columns(self):
        """The table as a dict of read-only numpy columns (name -> column), in the TSV's
        order: int64 counts, float64 numbers, object arrays of str for the names."""
        return dict(self._columns)

    def to_pandas(self):
        """The table as a pandas DataFrame: the columns and rows of `zelko enrich`'s TSV,
        the numbers unrounded."""
        import pandas

        return pandas.DataFrame(self._columns)

    def to_tsv(self, path=None):
        """The TSV of `zelko enrich`, byte for byte: returned as str without path, else
        written to the file name or file object."""
        with _library():
            table = self._outcome.write()
        return _deliver(table, path)

    def summary(self):
        """One row per motif tested, in the motifs' order, as a pandas DataFrame, as
        Hits.summary() gives it for the target's scan: motif_id, motif_accession, threshold
        and reverse_threshold (under the background of the run), reachable and
        reverse_reachable, and the target's windows, hits and sequences_with_hit."""
        return _summary_frame(self.motifs, self._summaries, self._selected)

    def _repr_html_(self):
        """A notebook's view: the run in one line, then the first rows of the table."""
        facts = "%d motifs, %d target sequences against %d %s, p-value &le; %s, %s" % (
            len(self), self.run["targets"], self.run["controls"],
            "shuffled ones" if self.run["shuffled"] else "control sequences",
            html.escape("%g" % self.run["pvalue"]), _TESTS[self.run["threshold"]])
        return _html_view("Enrichment", facts, list(self._columns),
                          self._rows(slice(0, _HTML_ROWS)), len(self))


# ---- Variants -------------------------------------------------------------------------------

# The columns of `zelko variants`'s TSV, in its order: those of VariantEffects.
VARIANT_COLUMNS = ("chrom", "pos", "id", "ref", "alt", "motif_id", "motif_accession",
                   "motif_name", "ref_strand", "ref_start", "alt_strand", "alt_start",
                   "ref_score", "alt_score", "ref_pvalue", "alt_pvalue", "log2_ratio", "effect",
                   "ref_sequence", "alt_sequence")


def variants(motifs, genome, variants, pvalue=1e-4, *, min_change=0.0, max_indel=50,
             strands="both", background=None, regions=None, skip_missing_contigs=False,
             threads=None, progress=None):
    """Which alleles of a VCF make or break motif sites, as `zelko variants` finds them: for
    every ALT allele and motif the best window overlapping the variant on the reference and
    on the alternative sequence of the genome, with exact p-values, where either reaches
    pvalue (and |log2_ratio| >= min_change).

    motifs: Motif objects (from read_motifs), Bio.motifs motifs, or motif file names (DNA).
    genome: a Fasta file (plain or bgzip), read through its .fai (made when missing).
    variants: a VCF or BCF file (plain, bgzip or BCF). max_indel: alleles whose REF or ALT,
    less the letters they share at their ends, is longer are skipped. strands: "both" or
    "forward". background: None (counted from the genome, order 0), "uniform", a frequency
    file, a dict of letter frequencies or frequencies of a, c, g, t. regions: a BED file;
    only the records whose REF overlaps one of its intervals are scored.
    skip_missing_contigs: records on contigs the genome lacks are skipped (and counted)
    instead of failing. threads: worker threads (None: every available core); the result
    does not depend on it. progress: a function called now and then with (records done,
    rows so far, bytes of the file read, its size or 0, seconds); an exception it raises
    stops the run.

    Skipped records and alleles (REF not the genome's letters, symbolic alleles, long
    indels) are counted in .summary and warned about as ZelkoWarning. The run releases the
    interpreter lock; Ctrl-C stops it and raises KeyboardInterrupt. Returns VariantEffects.
    """
    motifset, sources, allmotifs, selected = _motifs_to_run(motifs)
    options = _zelko.VariantRunOptions()
    options.pvalue = _number(pvalue, "pvalue")
    options.min_change = _number(min_change, "min_change")
    max_indel = _number(max_indel, "max_indel", int)
    if max_indel < 1:
        raise ValueError("max_indel must be at least 1, not %r" % (max_indel,))
    options.max_indel = max_indel
    if strands not in ("both", "forward"):
        raise ValueError("strands must be 'both' or 'forward', not %r" % (strands,))
    options.strands = strands
    if isinstance(background, str) and background == "genome":
        background = None
    given = _background(background, sources[0].letters, allow_sequences=True)
    options.background_kind = given.kind
    options.background_file = given.filename
    options.background_letters = given.letters
    options.background_frequencies = given.frequencies
    options.pseudocount = sources[0].pseudocount
    if regions is not None:
        options.regions = os.fspath(regions)
    options.skip_missing_contigs = bool(skip_missing_contigs)
    if threads is not None:
        threads = _number(threads, "threads", int)
        if threads < 1:
            raise ValueError("threads must be at least 1, not %r" % (threads,))
        options.threads = threads
    if progress is not None and not callable(progress):
        raise TypeError("progress must be callable")
    with _library():
        result = _zelko.variants(motifset, os.fspath(genome), os.fspath(variants), options,
                                 progress)
    _warn(result.warnings)
    return VariantEffects._create(result, allmotifs, selected)


class VariantEffects:
    """The pairs of an allele and a motif that zelko.variants reports, one row per pair, in
    the VCF's order, as numpy columns named as `zelko variants`'s TSV (VARIANT_COLUMNS):
    chrom, pos (1-based), id, ref, alt, motif_id, motif_accession, motif_name, ref_strand and
    ref_start, alt_strand and alt_start (the best windows: '+' or '-', first letter;
    the alternative's letters before the variant keep their genome positions), ref_score
    and alt_score (int64, thousandths of a natural-log unit), ref_pvalue and alt_pvalue,
    log2_ratio (log2(ref_pvalue / alt_pvalue): above 0 the ALT makes the stronger site),
    effect ("gain": only the ALT's best window reaches the cutoff, "loss": only the REF's,
    "both"), ref_sequence and alt_sequence (the windows' letters in the motif's direction,
    the variant's lower case). An allele without a window that can be scored has strand "",
    start 0, score NOSCORE, p-value 1 and sequence "". motif holds the index of the row's
    motif into .motifs.

    effects[name] is a column, len(effects) the number of rows; to_pandas() gives the TSV's
    table; summary holds the run's counts (records, alleles scored, rows, the records and
    alleles skipped, the background).
    """

    def __init__(self):
        raise TypeError("VariantEffects come from zelko.variants()")

    @classmethod
    def _create(cls, result, allmotifs, selected):
        effects = object.__new__(cls)
        columns = result.columns()
        keep = None
        if len(selected) < len(allmotifs) and len(result) > 0:
            keep = np.isin(columns["motif"], selected)
        motifmap = np.full(len(allmotifs), -1, dtype=np.int64)
        motifmap[np.asarray(selected, dtype=np.int64)] = np.arange(len(selected))
        effects.motifs = [allmotifs[i] for i in selected]
        ids = np.array([motif.id for motif in allmotifs] or [""], dtype=object)
        accessions = np.array([motif.accession for motif in allmotifs] or [""], dtype=object)
        index = columns["motif"].astype(np.int64)
        table = {}
        for name in VARIANT_COLUMNS:
            if name == "motif_id":
                table[name] = ids[index]
            elif name == "motif_accession":
                table[name] = accessions[index]
            elif name in ("pos", "ref_start", "alt_start"):
                table[name] = columns[name].astype(np.int64)
            else:
                table[name] = columns[name]
        table["motif"] = motifmap[index]
        if keep is not None:
            table = {name: column[keep] for name, column in table.items()}
        for column in table.values():
            column.setflags(write=False)
        effects._columns = table
        effects.summary = result.summary()
        if keep is not None:
            effects.summary["rows"] = int(np.count_nonzero(keep))
        return effects

    def __len__(self):
        return len(self._columns["pos"])

    def __getitem__(self, name):
        return self._columns[name]

    def __repr__(self):
        return "<VariantEffects: %d rows, %d motifs>" % (len(self), len(self.motifs))

    @property
    def columns(self):
        """The columns by name (VARIANT_COLUMNS, then motif)."""
        return dict(self._columns)

    def to_pandas(self):
        """The rows as a pandas DataFrame with the columns of `zelko variants`'s TSV. The
        numbers keep their full precision (the TSV prints seven digits)."""
        import pandas

        return pandas.DataFrame({name: self._columns[name] for name in VARIANT_COLUMNS})
