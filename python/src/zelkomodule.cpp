// The extension module zelko._zelko: the scan library's records and calls (and the variant
// scoring built into it) as Python objects.
// It holds no algorithm of its own; the package zelko (python/zelko/__init__.py) builds the
// user's API (Motif, Hits, Enrichment, read_motifs, scan, enrich) on top of it.
//
// Every call that may take time runs with the interpreter lock released. A failure of the
// library raises zelko._zelko.ScanError with the library's message; the package turns it
// into ValueError or OSError. A scan or an enrichment runs in a thread of its own while the
// calling thread watches for signals (Ctrl-C) and calls the progress function, so that an
// interrupt stops it through the library's cancellation flag and raises KeyboardInterrupt.
// A scan may also write its table straight to a file in bounded memory instead of holding
// its matches; the file is put in place only when complete.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/replacefile.hpp"
#include "enrich/enrich.hpp"
#include "scan/scan.hpp"
#include "variants/variants.hpp"

namespace py = pybind11;

namespace {

// Raised with the library's message; the package maps it onto the builtin exceptions.
struct ScanFailure {
  std::string message;
};

[[noreturn]] void fail(std::string message) { throw ScanFailure{std::move(message)}; }

// The message of the last failure on this thread.
[[noreturn]] void failed() { fail(scan_errormessage()); }

// Warnings of the library collected on the thread that made the call; the package issues
// them as Python warnings once the call is back. A scan's go with its result; the other
// calls' wait on their thread for take_warnings.
void collectwarning(const char *text, void *context) {
  static_cast<std::vector<std::string> *>(context)->emplace_back(text);
}

thread_local std::vector<std::string> threadwarnings;

void collectthreadwarning(const char *text, void *) { threadwarnings.emplace_back(text); }

// Motif files as read, and prepared for one alphabet and background at a time. The lock
// keeps the preparation and the calls that rely on it together when several Python threads
// share a set.
// What the motifs are prepared for when only their statistics are asked for: the sequences'
// alphabet and a background that needs no sequences (uniform, a frequency file or given).
struct Preparation {
  std::string alphabet = "auto";
  std::string kind = "uniform";
  std::string filename;
  std::string letters;
  std::vector<double> frequencies;
  double pseudocount = 1.0;
  bool operator==(const Preparation &) const = default;
};

struct MotifSet {
  ScanMotifs motifs;
  std::mutex lock;
  // What motifs are prepared for; nothing after a scan, which prepares them for its sequences.
  bool prepared = false;
  Preparation preparation;
  MotifSet() = default;
  MotifSet(const MotifSet &) = delete;
  MotifSet &operator=(const MotifSet &) = delete;
  ~MotifSet() { scan_freemotifs(&motifs); }
};

struct Sequences {
  ScanSequences sequences;
  std::mutex lock;
  Sequences() = default;
  Sequences(const Sequences &) = delete;
  Sequences &operator=(const Sequences &) = delete;
  ~Sequences() { scan_freesequences(&sequences); }
};

// The outcome of one scan. It keeps the motifs and the sequences alive for the names and
// for the writers; the column arrays handed to Python point into hits.
struct Result {
  ScanResult result;
  std::shared_ptr<MotifSet> motifs;
  std::shared_ptr<Sequences> sequences;
  std::vector<std::string> warnings;
};

ScanFormat formatnamed(const std::string &name) {
  if (name.empty() || name == "auto") return SCAN_FORMAT_AUTO;
  if (name == "jaspar") return SCAN_FORMAT_JASPAR;
  if (name == "transfac") return SCAN_FORMAT_TRANSFAC;
  if (name == "meme") return SCAN_FORMAT_MEME;
  if (name == "library") return SCAN_FORMAT_LIBRARY;
  throw py::value_error("unknown motif format `" + name +
                        "': expected auto, jaspar, transfac, meme or library");
}

ScanAlphabet alphabetnamed(const std::string &name) {
  if (name.empty() || name == "auto") return SCAN_ALPHABET_AUTO;
  if (name == "dna") return SCAN_ALPHABET_DNA;
  if (name == "protein") return SCAN_ALPHABET_PROTEIN;
  throw py::value_error("unknown alphabet `" + name + "': expected auto, dna or protein");
}

const char *alphabetname(ScanAlphabet alphabet) {
  switch (alphabet) {
    case SCAN_ALPHABET_DNA: return "dna";
    case SCAN_ALPHABET_PROTEIN: return "protein";
    case SCAN_ALPHABET_AUTO: break;
  }
  return "auto";
}

// kind: "sequences", "uniform", "file" (filename names the frequency file) or "given" (the
// letters with their frequencies).
ScanBackground backgroundnamed(const std::string &kind, const std::string &filename,
                               const std::string &letters,
                               const std::vector<double> &frequencies) {
  ScanBackground background;
  if (kind == "sequences") {
    background.kind = SCAN_BACKGROUND_SEQUENCES;
  } else if (kind == "uniform") {
    background.kind = SCAN_BACKGROUND_UNIFORM;
  } else if (kind == "file") {
    background.kind = SCAN_BACKGROUND_FILE;
    background.filename = filename;
  } else if (kind == "given") {
    background.kind = SCAN_BACKGROUND_GIVEN;
    background.letters = letters;
    background.frequencies = frequencies;
  } else {
    throw py::value_error("unknown background kind `" + kind + "'");
  }
  return background;
}

std::shared_ptr<MotifSet> readmotifs(const std::vector<std::string> &paths,
                                     const std::vector<std::string> &formats) {
  if (paths.size() != formats.size()) throw py::value_error("one format per motif file");
  auto set = std::make_shared<MotifSet>();
  std::vector<ScanFormat> codes;
  for (const std::string &format : formats) codes.push_back(formatnamed(format));
  py::gil_scoped_release release;
  // Each run of files of one format in one call, in the order given: the library appends.
  for (size_t from = 0; from < paths.size();) {
    size_t to = from + 1;
    while (to < paths.size() && codes[to] == codes[from]) to++;
    const std::vector<std::string> run(paths.begin() + from, paths.begin() + to);
    if (scan_readmotifs(run, codes[from], &set->motifs) != 0) failed();
    from = to;
  }
  return set;
}

const ScanMotif &motifat(const MotifSet &set, int64_t index) {
  if (index < 0 || static_cast<uint64_t>(index) >= set.motifs.motifs.size()) {
    throw py::index_error("motif index out of range");
  }
  return set.motifs.motifs[index];
}

// Prepares the set for statistics alone unless it is prepared so already (the caller holds
// the set's lock and not the interpreter lock). The sequences only bring the alphabet, so
// one letter stands for them.
void prepareunlocked(MotifSet *set, const Preparation &preparation) {
  if (set->prepared && set->preparation == preparation) return;
  ScanAlphabet alphabet = alphabetnamed(preparation.alphabet);
  if (alphabet == SCAN_ALPHABET_AUTO) alphabet = set->motifs.alphabet;
  const ScanBackground background = backgroundnamed(
      preparation.kind, preparation.filename, preparation.letters, preparation.frequencies);
  if (background.kind == SCAN_BACKGROUND_SEQUENCES) {
    fail("a background counted from sequences needs the sequences");
  }
  set->prepared = false;
  ScanSequences standin;
  int status = scan_addsequence(&standin, "standin",
                                alphabet == SCAN_ALPHABET_PROTEIN ? "A" : "a");
  if (status == 0) status = scan_loadsequences(&standin, alphabet);
  if (status == 0) {
    status = scan_preparemotifs(&set->motifs, standin, background, preparation.pseudocount);
  }
  std::string message = status != 0 ? scan_errormessage() : "";
  scan_freesequences(&standin);
  if (status != 0) fail(message);
  set->prepared = true;
  set->preparation = preparation;
}

// Runs call(set) with the set prepared for preparation, under its lock, with the
// interpreter lock released.
template <typename Call>
auto withprepared(MotifSet *set, const Preparation &preparation, Call call) {
  py::gil_scoped_release release;
  std::lock_guard<std::mutex> guard(set->lock);
  prepareunlocked(set, preparation);
  return call(set);
}

py::array_t<double> countsof(const ScanMotif &motif) {
  const py::ssize_t columns = static_cast<py::ssize_t>(motif.letters.size());
  const py::ssize_t rows = columns == 0 ? 0 : motif.counts.size() / columns;
  py::array_t<double> counts({rows, columns});
  std::copy(motif.counts.begin(), motif.counts.end(), counts.mutable_data());
  return counts;
}

py::array_t<int64_t> weightsof(MotifSet *set, int64_t index, const Preparation &preparation) {
  motifat(*set, index);
  std::vector<int64_t> values = withprepared(set, preparation, [&](MotifSet *prepared) {
    return prepared->motifs.motifs[index].weights;
  });
  const ScanMotif &motif = set->motifs.motifs[index];
  const py::ssize_t columns = static_cast<py::ssize_t>(motif.letters.size());
  const py::ssize_t rows = static_cast<py::ssize_t>(motif.length);
  if (static_cast<uint64_t>(rows * columns) != values.size()) {
    throw py::value_error("the motif has no weights over its letters");
  }
  py::array_t<int64_t> weights({rows, columns});
  std::copy(values.begin(), values.end(), weights.mutable_data());
  return weights;
}

py::tuple scorerangeof(MotifSet *set, int64_t index, const Preparation &preparation) {
  motifat(*set, index);
  const auto range = withprepared(set, preparation, [&](MotifSet *prepared) {
    const ScanMotif &motif = prepared->motifs.motifs[index];
    return std::make_pair(motif.minscore, motif.maxscore);
  });
  return py::make_tuple(range.first, range.second);
}

py::tuple backgroundof(MotifSet *set, const Preparation &preparation) {
  struct Background {
    std::string letters;
    std::vector<double> frequencies;
    std::string source;
  };
  const Background background = withprepared(set, preparation, [&](MotifSet *prepared) {
    return Background{prepared->motifs.backgroundletters,
                      prepared->motifs.backgroundfrequencies,
                      prepared->motifs.backgroundsource};
  });
  return py::make_tuple(background.letters, background.frequencies, background.source);
}

// "+" is the forward strand, "-" the reverse complementary one.
ScanStrand strandnamed(const std::string &name) {
  if (name == "+") return SCAN_STRAND_FORWARD;
  if (name == "-") return SCAN_STRAND_REVERSE;
  throw py::value_error("strand must be '+' or '-', not `" + name + "'");
}

int64_t thresholdof(MotifSet *set, int64_t index, double pvalue, const Preparation &preparation,
                    const std::string &strandname) {
  motifat(*set, index);
  const ScanStrand strand = strandnamed(strandname);
  return withprepared(set, preparation, [&](MotifSet *prepared) {
    int64_t threshold = 0;
    if (scan_threshold(prepared->motifs, index, pvalue, &threshold, strand) != 0) failed();
    return threshold;
  });
}

// P-values of every score of scores.
py::array_t<double> pvaluesof(MotifSet *set, int64_t index, py::array_t<int64_t> scores,
                              const Preparation &preparation, const std::string &strandname) {
  motifat(*set, index);
  const ScanStrand strand = strandnamed(strandname);
  std::vector<int64_t> values(scores.data(), scores.data() + scores.size());
  std::vector<double> pvalues(values.size());
  withprepared(set, preparation, [&](MotifSet *prepared) {
    for (size_t i = 0; i < values.size(); i++) {
      if (scan_pvalue(prepared->motifs, index, values[i], &pvalues[i], strand) != 0) failed();
    }
    return 0;
  });
  return py::array_t<double>(pvalues.size(), pvalues.data());
}

// The window scores of both strands; the reverse one is empty for protein.
py::tuple scorewindowsof(MotifSet *set, int64_t index, std::string_view sequence,
                         const Preparation &preparation) {
  motifat(*set, index);
  std::vector<int64_t> forward, reverse;
  withprepared(set, preparation, [&](MotifSet *prepared) {
    if (scan_scorewindows(prepared->motifs, index, sequence, &forward, &reverse) != 0) failed();
    return 0;
  });
  return py::make_tuple(py::array_t<int64_t>(forward.size(), forward.data()),
                        py::array_t<int64_t>(reverse.size(), reverse.data()));
}

// A read-only array over memory that owner keeps alive.
template <typename T>
py::array columnof(const std::vector<T> &values, py::handle owner) {
  py::array column;
  if (values.empty()) {
    column = py::array_t<T>(0);
  } else {
    column = py::array_t<T>({static_cast<py::ssize_t>(values.size())}, {sizeof(T)},
                            values.data(), owner);
  }
  column.attr("setflags")(py::arg("write") = false);
  return column;
}

// The matched texts, one str per match, as the scan kept them (scan_keeptexts).
py::list matchedtexts(const Result &result) {
  const ScanHits &hits = result.result.hits;
  const uint64_t count = scan_hitcount(hits);
  py::list texts(count);
  const bool kept = hits.textoffset.size() == count + 1;
  for (uint64_t i = 0; i < count; i++) {
    texts[i] = kept ? py::str(hits.text.data() + hits.textoffset[i],
                              hits.textoffset[i + 1] - hits.textoffset[i])
                    : py::str("");
  }
  return texts;
}

// A column computed from the scan's own for every match, as a new read-only array.
template <typename T, typename Value>
py::array_t<T> derivedcolumn(uint64_t count, Value value) {
  py::array_t<T> column(static_cast<py::ssize_t>(count));
  auto cells = column.template mutable_unchecked<1>();
  for (uint64_t i = 0; i < count; i++) cells(static_cast<py::ssize_t>(i)) = value(i);
  column.attr("setflags")(py::arg("write") = false);
  return column;
}

// A new result holding the matches at rows (indices into this result), in that order.
std::shared_ptr<Result> selectrows(const Result &from, py::array_t<int64_t> rows) {
  auto to = std::make_shared<Result>();
  to->motifs = from.motifs;
  to->sequences = from.sequences;
  to->result.motifs = from.result.motifs;
  to->result.run = from.result.run;
  const ScanHits &in = from.result.hits;
  ScanHits &out = to->result.hits;
  const uint64_t count = scan_hitcount(in);
  const bool withtext = in.textoffset.size() == count + 1;
  auto view = rows.unchecked<1>();
  for (py::ssize_t k = 0; k < view.shape(0); k++) {
    const int64_t i = view(k);
    if (i < 0 || static_cast<uint64_t>(i) >= count) throw py::index_error("row out of range");
  }
  if (withtext) out.textoffset.push_back(0);
  for (py::ssize_t k = 0; k < view.shape(0); k++) {
    const uint64_t i = static_cast<uint64_t>(view(k));
    out.motif.push_back(in.motif[i]);
    out.sequence.push_back(in.sequence[i]);
    out.start.push_back(in.start[i]);
    out.strand.push_back(in.strand[i]);
    out.score.push_back(in.score[i]);
    out.pvalue.push_back(in.pvalue[i]);
    out.qvalue.push_back(in.qvalue[i]);
    if (withtext) {
      out.text.append(in.text, in.textoffset[i], in.textoffset[i + 1] - in.textoffset[i]);
      out.textoffset.push_back(out.text.size());
    }
  }
  return to;
}

// What write(stream) writes, as bytes: the library's writer of a table, called with the
// motif set's lock held and the interpreter lock released.
template <typename Write>
py::bytes writtenbytes(MotifSet *motifs, Write write) {
  char *buffer = nullptr;
  size_t size = 0;
  int status = 0;
  std::string message;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> guard(motifs->lock);
    FILE *stream = open_memstream(&buffer, &size);
    if (stream == nullptr) {
      status = -1;
      message = "cannot open a memory stream";
    } else {
      status = write(stream);
      if (status != 0) message = scan_errormessage();
      if (std::fclose(stream) != 0 && status == 0) {
        status = -1;
        message = "cannot write the table to memory";
      }
    }
  }
  py::bytes table(buffer == nullptr ? "" : buffer, buffer == nullptr ? 0 : size);
  std::free(buffer);
  if (status != 0) fail(message);
  return table;
}

// The table as zelko scan writes it, as bytes.
py::bytes writetable(const Result &result, const std::string &format) {
  int (*writer)(const ScanResult &, const ScanMotifs &, const ScanSequences &, FILE *) = nullptr;
  if (format == "tsv") {
    writer = scan_writetsv;
  } else if (format == "bed") {
    writer = scan_writebed;
  } else if (format == "gff3") {
    writer = scan_writegff3;
  } else {
    throw py::value_error("unknown table format `" + format + "': expected tsv, bed or gff3");
  }
  return writtenbytes(result.motifs.get(), [&](FILE *stream) {
    return writer(result.result, result.motifs->motifs, result.sequences->sequences, stream);
  });
}

// What the scan thread and the calling thread share.
struct ScanWatch {
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  ScanProgress progress;  // the latest the library reported, after the earlier scans'
  bool fresh = false;     // progress not yet handed to the Python function
  ScanProgress earlier;   // the work of the call's earlier scans (an enrichment's target)
  std::atomic<bool> stop{false};
};

int recordprogress(const ScanProgress &progress, void *context) {
  ScanWatch *watch = static_cast<ScanWatch *>(context);
  std::lock_guard<std::mutex> guard(watch->lock);
  watch->progress = progress;
  watch->progress.workdone += watch->earlier.workdone;
  watch->progress.worktotal += watch->earlier.worktotal;
  watch->progress.hits += watch->earlier.hits;
  watch->progress.elapsed += watch->earlier.elapsed;
  watch->fresh = true;
  return 0;
}

// An enrichment's control is scanned after its target: the progress then goes on from the
// target's whole work, so that the work done never goes back.
void nextscan(int, void *context) {
  ScanWatch *watch = static_cast<ScanWatch *>(context);
  std::lock_guard<std::mutex> guard(watch->lock);
  watch->earlier = watch->progress;
  watch->earlier.workdone = watch->earlier.worktotal;
}

// After a scan the sequences are only needed for what the tables name: their names and
// alphabet. The coded letters (and a mapped file) are let go.
void keepnamesonly(ScanSequences *sequences) {
  ScanSequences kept;
  kept.path = sequences->path;
  kept.isindex = sequences->isindex;
  kept.alphabet = sequences->alphabet;
  kept.count = sequences->count;
  kept.residues = sequences->residues;
  kept.totallength = sequences->totallength;
  kept.filebytes = sequences->filebytes;
  kept.names.swap(sequences->names);
  kept.lengths.swap(sequences->lengths);
  scan_freesequences(sequences);
  *sequences = std::move(kept);
}

struct RunOptions {
  double pvalue = 1e-4;
  bool useqvalue = false;
  double qvalue = 0.05;
  std::string strands = "both";
  std::string backgroundkind = "sequences";
  std::string backgroundfile;
  std::string backgroundletters;
  std::vector<double> backgroundfrequencies;
  double pseudocount = 1.0;
  std::string alphabet = "auto";
  uint64_t threads = 0;
  std::string sort = "position";
  bool matchedtext = true;
  double progressinterval = 0.25;
  // The table written to a file instead of being held (empty: held in the result), in
  // bounded memory: its format, the bytes of matches held at most, the folder of the sorted
  // runs beyond them (empty: $TMPDIR, else /tmp) and the motifs whose rows it holds
  // (indices into the motif set; empty: every motif).
  std::string output;
  std::string table = "tsv";
  uint64_t memory = SCAN_DEFAULT_MEMORY;
  std::string tmpdir;
  std::vector<uint64_t> outputmotifs;
};

ScanOptions scanoptionsof(const RunOptions &run) {
  ScanOptions options;
  options.pvalue = run.pvalue;
  options.useqvalue = run.useqvalue;
  options.qvalue = run.qvalue;
  if (run.strands == "both") {
    options.strands = SCAN_STRANDS_BOTH;
  } else if (run.strands == "forward") {
    options.strands = SCAN_STRANDS_FORWARD;
  } else {
    throw py::value_error("strands must be both or forward, not `" + run.strands + "'");
  }
  options.background = backgroundnamed(run.backgroundkind, run.backgroundfile,
                                       run.backgroundletters, run.backgroundfrequencies);
  options.pseudocount = run.pseudocount;
  options.alphabet = alphabetnamed(run.alphabet);
  options.threads = run.threads;
  if (run.sort == "position") {
    options.sort = SCAN_SORT_POSITION;
  } else if (run.sort == "pvalue") {
    options.sort = SCAN_SORT_PVALUE;
  } else if (run.sort == "genome") {
    options.sort = SCAN_SORT_GENOME;
  } else {
    throw py::value_error("sort must be position, pvalue or genome, not `" + run.sort + "'");
  }
  options.matchedtext = run.matchedtext;
  options.progressinterval = run.progressinterval;
  return options;
}

// A call of the library as the module runs every one that may take long (a scan, an
// enrichment). call(options) runs in a thread of its own, with the records of locks locked;
// this thread waits with the interpreter lock released, and every poll interval takes it
// back to look for signals and to hand the latest progress to the progress function. A
// signal handler that raises (Ctrl-C) or a progress function that raises stops the call
// through the cancellation flag; the call's thread is always joined before this returns
// (and after(), under the locks, run), and the Python exception then propagates (a failure
// of the call raises its message). options: ScanOptions or EnrichOptions, whose callbacks
// and flag are set here.
template <typename Options, typename Call, typename After>
void runwatched(std::vector<std::mutex *> locks, Options options,
                std::vector<std::string> *warnings, py::object progress, double pollinterval,
                Call call, After after) {
  auto watch = std::make_shared<ScanWatch>();
  options.cancel = &watch->stop;
  options.progress = recordprogress;
  options.progresscontext = watch.get();
  options.warning = collectwarning;
  options.warningcontext = warnings;

  int status = 0;
  std::string message;
  PyObject *errortype = nullptr, *errorvalue = nullptr, *errortrace = nullptr;
  {
    py::gil_scoped_release release;
    // Always in the same order, so that calls that share records wait for each other.
    std::sort(locks.begin(), locks.end(), std::less<std::mutex *>());
    locks.erase(std::unique(locks.begin(), locks.end()), locks.end());
    std::vector<std::unique_lock<std::mutex>> held;
    for (std::mutex *lock : locks) held.emplace_back(*lock);
    std::thread worker([&] {
      status = call(options);
      if (status != 0) message = scan_errormessage();
      std::lock_guard<std::mutex> guard(watch->lock);
      watch->done = true;
      watch->finished.notify_all();
    });
    const auto interval = std::chrono::duration<double>(pollinterval);
    for (;;) {
      std::unique_lock<std::mutex> guard(watch->lock);
      if (watch->finished.wait_for(guard, interval, [&] { return watch->done; })) break;
      if (watch->stop.load()) continue;  // stopping: wait for the call's thread alone
      const bool fresh = watch->fresh;
      const ScanProgress latest = watch->progress;
      watch->fresh = false;
      guard.unlock();
      py::gil_scoped_acquire acquire;
      bool raised = PyErr_CheckSignals() != 0;
      if (!raised && fresh && !progress.is_none()) {
        PyObject *answer = PyObject_CallFunction(
            progress.ptr(), "KKKd", static_cast<unsigned long long>(latest.workdone),
            static_cast<unsigned long long>(latest.worktotal),
            static_cast<unsigned long long>(latest.hits), latest.elapsed);
        if (answer == nullptr) {
          raised = true;
        } else {
          Py_DECREF(answer);
        }
      }
      if (raised) {
        PyErr_Fetch(&errortype, &errorvalue, &errortrace);
        watch->stop.store(true);
      }
    }
    worker.join();
    after();
  }
  if (errortype != nullptr) {
    PyErr_Restore(errortype, errorvalue, errortrace);
    throw py::error_already_set();
  }
  if (status != 0) fail(message);
}

// A scan, watched: the motifs are prepared for the scanned sequences after it, if at all,
// and the sequences keep their names alone.
template <typename Scan>
void runscanwatched(MotifSet *motifs, Sequences *sequences, const ScanOptions &options,
                    std::vector<std::string> *warnings, py::object progress,
                    double pollinterval, Scan scan) {
  runwatched({&motifs->lock, &sequences->lock}, options, warnings, progress, pollinterval, scan,
             [&] {
               motifs->prepared = false;
               keepnamesonly(&sequences->sequences);
             });
}

ScanTableFormat tableformatnamed(const std::string &name) {
  if (name == "tsv") return SCAN_TABLE_TSV;
  if (name == "bed") return SCAN_TABLE_BED;
  if (name == "gff3") return SCAN_TABLE_GFF3;
  throw py::value_error("unknown table format `" + name + "': expected tsv, bed or gff3");
}

// The output file of a streamed scan, written under a temporary name beside it; whatever
// ends the call before the commit (a failure, Ctrl-C, the progress function's exception)
// removes it.
struct TableFile {
  ReplacingFile file;
  TableFile() = default;
  TableFile(const TableFile &) = delete;
  TableFile &operator=(const TableFile &) = delete;
  ~TableFile() {
    if (file.stream != nullptr || !file.temporary.empty()) replacefile_discard(&file);
  }
};

[[noreturn]] void cannotwrite(const std::string &path, int error) {
  fail("cannot write `" + path + "': " + std::strerror(error));
}

// The whole scan: its matches held in the result, or, with run.output, its table written
// to that file in bounded memory (the result then holds the summaries and the run alone).
std::shared_ptr<Result> runscan(std::shared_ptr<MotifSet> motifs,
                                std::shared_ptr<Sequences> sequences, const RunOptions &run,
                                py::object progress, double pollinterval) {
  const ScanOptions options = scanoptionsof(run);
  auto result = std::make_shared<Result>();
  result->motifs = motifs;
  result->sequences = sequences;
  if (run.output.empty()) {
    runscanwatched(motifs.get(), sequences.get(), options, &result->warnings, progress,
                   pollinterval, [&](const ScanOptions &watched) {
                 const int status = scan_run(&motifs->motifs, &sequences->sequences, watched,
                                             &result->result);
                 // The texts stay with the result; the letters go.
                 if (status == 0) {
                   scan_keeptexts(&result->result, motifs->motifs, sequences->sequences);
                 }
                 return status;
               });
    return result;
  }
  ScanTableOutput table;
  table.format = tableformatnamed(run.table);
  table.memory = run.memory;
  table.tmpdir = run.tmpdir;
  if (!run.outputmotifs.empty()) {
    table.keep.assign(motifs->motifs.motifs.size(), false);
    for (const uint64_t motif : run.outputmotifs) {
      if (motif >= table.keep.size()) throw py::index_error("motif index out of range");
      table.keep[motif] = true;
    }
  }
  TableFile file;
  if (replacefile_open(&file.file, run.output.c_str(), true) != 0) cannotwrite(run.output, errno);
  table.stream = file.file.stream;
  runscanwatched(motifs.get(), sequences.get(), options, &result->warnings, progress,
                 pollinterval, [&](const ScanOptions &watched) {
               return scan_runtable(&motifs->motifs, &sequences->sequences, watched, table,
                                    &result->result);
             });
  int committed = 0;
  {
    py::gil_scoped_release release;
    committed = replacefile_commit(&file.file) == 0 ? 0 : errno;
  }
  if (committed != 0) cannotwrite(run.output, committed);
  return result;
}

// Per motif of a scan: its thresholds, windows and matches, as columns.
py::dict summariesof(const std::vector<ScanMotifSummary> &summaries) {
  const py::ssize_t count = static_cast<py::ssize_t>(summaries.size());
  py::array_t<int64_t> threshold(count), reversethreshold(count);
  py::array_t<bool> reachable(count), reversereachable(count);
  py::array_t<uint64_t> windows(count), hits(count), sequenceswithhit(count);
  for (py::ssize_t i = 0; i < count; i++) {
    threshold.mutable_at(i) = summaries[i].threshold;
    reachable.mutable_at(i) = summaries[i].reachable;
    reversethreshold.mutable_at(i) = summaries[i].reversethreshold;
    reversereachable.mutable_at(i) = summaries[i].reversereachable;
    windows.mutable_at(i) = summaries[i].windows;
    hits.mutable_at(i) = summaries[i].hits;
    sequenceswithhit.mutable_at(i) = summaries[i].sequenceswithhit;
  }
  py::dict columns;
  columns["threshold"] = threshold;
  columns["reachable"] = reachable;
  columns["reverse_threshold"] = reversethreshold;
  columns["reverse_reachable"] = reversereachable;
  columns["windows"] = windows;
  columns["hits"] = hits;
  columns["sequences_with_hit"] = sequenceswithhit;
  return columns;
}

py::dict runinfoof(const Result &result) {
  const ScanRunInfo &run = result.result.run;
  py::dict info;
  info["motif_files"] = run.motiffiles;
  info["sequence_file"] = run.sequencefile;
  info["motifs"] = run.motifs;
  info["sequences"] = run.sequences;
  info["residues"] = run.residues;
  info["file_bytes"] = run.filebytes;
  info["background_source"] = run.backgroundsource;
  info["background_letters"] = run.backgroundletters;
  info["background_frequencies"] = run.backgroundfrequencies;
  info["threads"] = run.threadsused;
  info["elapsed"] = run.elapsed;
  info["index"] = run.isindex;
  info["pvalue"] = run.options.pvalue;
  info["qvalue"] = run.options.useqvalue ? py::object(py::float_(run.options.qvalue))
                                         : py::object(py::none());
  info["strands"] = run.options.strands == SCAN_STRANDS_BOTH ? "both" : "forward";
  info["total_length"] = result.sequences->sequences.totallength;
  py::dict memory;
  memory["sequences"] = run.memory.sequences;
  memory["matches"] = run.memory.matches;
  memory["runs"] = run.memory.runs;
  memory["spilled"] = run.memory.spilled;
  info["memory"] = memory;
  return info;
}

// ---- Enrichment ------------------------------------------------------------------------------

struct EnrichRunOptions {
  double pvalue = 1e-4;
  std::string strands = "both";
  std::string threshold = "match";  // "match": Fisher's test; "best": the rank-sum test
  bool center = false;
  unsigned shuffleorder = 2;
  uint64_t shuffles = 1;
  uint64_t seed = 1;
  std::string backgroundkind = "sequences";  // "sequences": counted from the control
  std::string backgroundfile;
  std::string backgroundletters;
  std::vector<double> backgroundfrequencies;
  double pseudocount = 1.0;
  std::string alphabet = "auto";
  uint64_t threads = 0;
  std::vector<uint64_t> motifs;  // the motifs tested (indices into the set); empty: every one
};

// The outcome of one enrichment. It keeps the motifs alive for the table's names.
struct Enrichment {
  EnrichResult result;
  std::shared_ptr<MotifSet> motifs;
  std::vector<std::string> warnings;
  std::string backgroundletters;  // the background the scans used, as prepared
  std::vector<double> backgroundfrequencies;
};

EnrichOptions enrichoptionsof(const EnrichRunOptions &run, uint64_t motifcount) {
  EnrichOptions options;
  options.pvalue = run.pvalue;
  if (run.strands == "both") {
    options.strands = SCAN_STRANDS_BOTH;
  } else if (run.strands == "forward") {
    options.strands = SCAN_STRANDS_FORWARD;
  } else {
    throw py::value_error("strands must be both or forward, not `" + run.strands + "'");
  }
  if (run.threshold == "match") {
    options.test = ENRICH_TEST_FISHER;
  } else if (run.threshold == "best") {
    options.test = ENRICH_TEST_RANKSUM;
  } else {
    throw py::value_error("threshold must be match or best, not `" + run.threshold + "'");
  }
  options.center = run.center;
  options.shuffleorder = run.shuffleorder;
  options.shuffles = run.shuffles;
  options.seed = run.seed;
  options.background = backgroundnamed(run.backgroundkind, run.backgroundfile,
                                       run.backgroundletters, run.backgroundfrequencies);
  options.pseudocount = run.pseudocount;
  options.alphabet = alphabetnamed(run.alphabet);
  options.threads = run.threads;
  if (!run.motifs.empty()) {
    options.keep.assign(motifcount, false);
    for (const uint64_t motif : run.motifs) {
      if (motif >= motifcount) throw py::index_error("motif index out of range");
      options.keep[motif] = true;
    }
  }
  return options;
}

// The whole enrichment of target against control (null: the targets shuffled), watched as
// a scan is; both sets keep their names alone afterwards.
std::shared_ptr<Enrichment> runenrich(std::shared_ptr<MotifSet> motifs,
                                      std::shared_ptr<Sequences> target,
                                      std::shared_ptr<Sequences> control,
                                      const EnrichRunOptions &run, py::object progress,
                                      double pollinterval) {
  EnrichOptions options = enrichoptionsof(run, motifs->motifs.motifs.size());
  options.phase = nextscan;
  auto outcome = std::make_shared<Enrichment>();
  outcome->motifs = motifs;
  std::vector<std::mutex *> locks = {&motifs->lock, &target->lock};
  if (control != nullptr) locks.push_back(&control->lock);
  runwatched(
      locks, options, &outcome->warnings, progress, pollinterval,
      [&](const EnrichOptions &watched) {
        return enrich_run(&motifs->motifs, &target->sequences,
                          control != nullptr ? &control->sequences : nullptr, watched,
                          &outcome->result);
      },
      [&] {
        outcome->backgroundletters = motifs->motifs.backgroundletters;
        outcome->backgroundfrequencies = motifs->motifs.backgroundfrequencies;
        motifs->prepared = false;  // prepared for the control's background now, if at all
        keepnamesonly(&target->sequences);
        if (control != nullptr) keepnamesonly(&control->sequences);
      });
  return outcome;
}

// 10^log10p as a double, at most 1 (as the table writes it): 0 where it underflows.
double probabilityof(double log10p) {
  return !(log10p <= 0.0) ? 1.0 : std::pow(10.0, log10p);
}

// The table's columns, one entry per row in the table's order (zelko enrich's TSV, whose
// numbers these are unrounded), and "motif": each row's index into the motif set.
py::dict enrichcolumnsof(const Enrichment &outcome) {
  const EnrichResult &result = outcome.result;
  const ScanMotifs &motifs = outcome.motifs->motifs;
  const uint64_t count = result.motifs.size();
  auto integers = [&](auto value) {
    return derivedcolumn<int64_t>(count, [&](uint64_t i) {
      return static_cast<int64_t>(value(result.motifs[i]));
    });
  };
  auto reals = [&](auto value) {
    return derivedcolumn<double>(count, [&](uint64_t i) { return value(result.motifs[i]); });
  };
  py::list ids, accessions, names;
  for (const EnrichMotif &row : result.motifs) {
    const ScanMotif &motif = motifs.motifs[row.motif];
    ids.append(motif.id);
    accessions.append(motif.accession);
    names.append(enrich_motifname(motif));
  }
  const double targets = static_cast<double>(result.targets);
  const double controls = static_cast<double>(result.controls);
  py::dict columns;
  columns["motif"] = integers([](const EnrichMotif &row) { return row.motif; });
  columns["motif_id"] = ids;
  columns["motif_accession"] = accessions;
  columns["motif_name"] = names;
  columns["target_sequences"] = integers([&](const EnrichMotif &) { return result.targets; });
  columns["target_with_hit"] = integers([](const EnrichMotif &row) { return row.targetwithhit; });
  columns["target_hits"] = integers([](const EnrichMotif &row) { return row.targethits; });
  columns["target_hits_per_sequence"] = reals([&](const EnrichMotif &row) {
    return static_cast<double>(row.targethits) / targets;
  });
  columns["control_sequences"] = integers([&](const EnrichMotif &) { return result.controls; });
  columns["control_with_hit"] =
      integers([](const EnrichMotif &row) { return row.controlwithhit; });
  columns["control_hits"] = integers([](const EnrichMotif &row) { return row.controlhits; });
  columns["control_hits_per_sequence"] = reals([&](const EnrichMotif &row) {
    return static_cast<double>(row.controlhits) / controls;
  });
  columns["enrichment_ratio"] = reals([](const EnrichMotif &row) { return row.ratio; });
  columns["p_value"] = reals([](const EnrichMotif &row) { return probabilityof(row.log10p); });
  columns["log10_p_value"] =
      reals([](const EnrichMotif &row) { return row.log10p == 0.0 ? 0.0 : row.log10p; });
  // An E-value may pass 1.
  columns["e_value"] = reals([](const EnrichMotif &row) { return std::pow(10.0, row.log10e); });
  columns["q_value"] = reals([](const EnrichMotif &row) { return probabilityof(row.log10q); });
  if (result.options.center) {
    columns["central_width"] = integers([](const EnrichMotif &row) { return row.centralwidth; });
    columns["central_hits"] = integers([](const EnrichMotif &row) { return row.centralhits; });
    columns["central_all"] = integers([](const EnrichMotif &row) { return row.centralall; });
    columns["central_p_value"] =
        reals([](const EnrichMotif &row) { return probabilityof(row.centrallog10p); });
  }
  return columns;
}

py::dict enrichruninfoof(const Enrichment &outcome) {
  const EnrichResult &result = outcome.result;
  const EnrichOptions &options = result.options;
  py::dict info;
  info["motifs"] = result.motifs.size();
  info["targets"] = result.targets;
  info["controls"] = result.controls;
  info["target_residues"] = result.targetresidues;
  info["control_residues"] = result.controlresidues;
  info["shuffled"] = result.shuffled;
  info["pvalue"] = options.pvalue;
  info["threshold"] = options.test == ENRICH_TEST_RANKSUM ? "best" : "match";
  info["strands"] = options.strands == SCAN_STRANDS_BOTH ? "both" : "forward";
  info["center"] = options.center;
  info["length"] = result.length;
  info["shuffle_order"] = options.shuffleorder;
  info["shuffles"] = options.shuffles;
  info["seed"] = options.seed;
  info["background_source"] = result.backgroundsource;
  info["background_letters"] = outcome.backgroundletters;
  info["background_frequencies"] = outcome.backgroundfrequencies;
  info["threads"] = options.threads;
  info["elapsed"] = result.elapsed;
  return info;
}

// ---- Variants ------------------------------------------------------------------------------

// The pairs zelko.variants reports, as columns (the TSV's, with the motif as an index).
struct VariantColumns {
  std::vector<std::string> chrom, id, ref, alt, motifname, refsequence, altsequence;
  std::vector<uint64_t> pos, refstart, altstart;
  std::vector<uint32_t> motif;
  std::vector<char> refstrand, altstrand;
  std::vector<int64_t> refscore, altscore;
  std::vector<double> refpvalue, altpvalue, log2ratio;
  std::vector<std::string> effect;
  VariantSummary summary;
  std::vector<std::string> warnings;
};

int collectvariantrow(const VariantRow &row, void *context) {
  VariantColumns *columns = static_cast<VariantColumns *>(context);
  columns->chrom.emplace_back(row.chromosome);
  columns->pos.push_back(row.position);
  columns->id.emplace_back(row.id);
  columns->ref.emplace_back(row.ref);
  columns->alt.emplace_back(row.alt);
  columns->motif.push_back(row.motif);
  columns->motifname.emplace_back(row.motifname);
  columns->refstrand.push_back(row.refstrand);
  columns->refstart.push_back(row.refstart);
  columns->altstrand.push_back(row.altstrand);
  columns->altstart.push_back(row.altstart);
  columns->refscore.push_back(row.refscore);
  columns->altscore.push_back(row.altscore);
  columns->refpvalue.push_back(row.refpvalue);
  columns->altpvalue.push_back(row.altpvalue);
  columns->log2ratio.push_back(row.log2ratio);
  columns->effect.emplace_back(variants_effectname(row.effect));
  columns->refsequence.emplace_back(row.refsequence);
  columns->altsequence.emplace_back(row.altsequence);
  return 0;
}

struct VariantRunOptions {
  double pvalue = 1e-4;
  double minchange = 0.0;
  uint64_t maxindel = 50;
  std::string strands = "both";
  std::string backgroundkind = "sequences";
  std::string backgroundfile;
  std::string backgroundletters;
  std::vector<double> backgroundfrequencies;
  double pseudocount = 1.0;
  std::string regions;
  bool skipmissingcontigs = false;
  uint64_t threads = 0;
  double progressinterval = 0.25;
};

// What the scoring thread and the calling thread share.
struct VariantWatch {
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  VariantProgress progress;
  bool fresh = false;
  std::atomic<bool> stop{false};
};

int recordvariantprogress(const VariantProgress &progress, void *context) {
  VariantWatch *watch = static_cast<VariantWatch *>(context);
  std::lock_guard<std::mutex> guard(watch->lock);
  watch->progress = progress;
  watch->fresh = true;
  return 0;
}

// The whole scoring, in a thread of its own while this one watches for signals and hands the
// progress to the progress function, as runscan does.
std::shared_ptr<VariantColumns> runvariants(std::shared_ptr<MotifSet> motifs,
                                            const std::string &genome,
                                            const std::string &variants,
                                            const VariantRunOptions &run, py::object progress,
                                            double pollinterval) {
  VariantOptions options;
  options.pvalue = run.pvalue;
  options.minchange = run.minchange;
  options.maxindel = run.maxindel;
  if (run.strands == "both") {
    options.forwardonly = false;
  } else if (run.strands == "forward") {
    options.forwardonly = true;
  } else {
    throw py::value_error("strands must be both or forward, not `" + run.strands + "'");
  }
  options.background = backgroundnamed(run.backgroundkind, run.backgroundfile,
                                       run.backgroundletters, run.backgroundfrequencies);
  options.pseudocount = run.pseudocount;
  options.regions = run.regions;
  options.skipmissingcontigs = run.skipmissingcontigs;
  options.threads = run.threads;
  auto columns = std::make_shared<VariantColumns>();
  auto watch = std::make_shared<VariantWatch>();
  options.cancel = &watch->stop;
  options.progress = recordvariantprogress;
  options.progresscontext = watch.get();
  options.progressinterval = run.progressinterval;
  options.warning = collectwarning;
  options.warningcontext = &columns->warnings;
  VariantOutput output;
  output.format = VARIANT_FORMAT_NONE;
  output.row = collectvariantrow;
  output.rowcontext = columns.get();

  int status = 0;
  std::string message;
  PyObject *errortype = nullptr, *errorvalue = nullptr, *errortrace = nullptr;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> motiflock(motifs->lock);
    std::thread worker([&] {
      status = variants_run(&motifs->motifs, genome, variants, options, output,
                            &columns->summary);
      if (status != 0) message = scan_errormessage();
      std::lock_guard<std::mutex> guard(watch->lock);
      watch->done = true;
      watch->finished.notify_all();
    });
    const auto interval = std::chrono::duration<double>(pollinterval);
    for (;;) {
      std::unique_lock<std::mutex> guard(watch->lock);
      if (watch->finished.wait_for(guard, interval, [&] { return watch->done; })) break;
      if (watch->stop.load()) continue;
      const bool fresh = watch->fresh;
      const VariantProgress latest = watch->progress;
      watch->fresh = false;
      guard.unlock();
      py::gil_scoped_acquire acquire;
      bool raised = PyErr_CheckSignals() != 0;
      if (!raised && fresh && !progress.is_none()) {
        PyObject *answer = PyObject_CallFunction(
            progress.ptr(), "KKKKd", static_cast<unsigned long long>(latest.records),
            static_cast<unsigned long long>(latest.rows),
            static_cast<unsigned long long>(latest.bytesdone),
            static_cast<unsigned long long>(latest.bytestotal), latest.elapsed);
        if (answer == nullptr) {
          raised = true;
        } else {
          Py_DECREF(answer);
        }
      }
      if (raised) {
        PyErr_Fetch(&errortype, &errorvalue, &errortrace);
        watch->stop.store(true);
      }
    }
    worker.join();
    motifs->prepared = false;  // prepared for the genome's background now
  }
  if (errortype != nullptr) {
    PyErr_Restore(errortype, errorvalue, errortrace);
    throw py::error_already_set();
  }
  if (status != 0) fail(message);
  return columns;
}

// A list of texts as a numpy array of objects.
template <typename Texts>
py::array objectcolumn(const Texts &texts) {
  py::list values(texts.size());
  for (size_t i = 0; i < texts.size(); i++) values[i] = py::str(texts[i]);
  return py::array(py::module_::import("numpy").attr("array")(values, py::arg("dtype") = "object"));
}

py::dict variantcolumnsof(const VariantColumns &columns) {

  py::dict out;
  const auto copy = [](const auto &values) {
    using T = typename std::decay_t<decltype(values)>::value_type;
    return py::array_t<T>(values.size(), values.data());
  };
  const auto strands = [](const std::vector<char> &values) {
    std::vector<std::string> texts;
    for (const char strand : values) texts.emplace_back(strand == 0 ? "" : std::string(1, strand));
    return texts;
  };
  out["chrom"] = objectcolumn(columns.chrom);
  out["pos"] = copy(columns.pos);
  out["id"] = objectcolumn(columns.id);
  out["ref"] = objectcolumn(columns.ref);
  out["alt"] = objectcolumn(columns.alt);
  out["motif"] = copy(columns.motif);
  out["motif_name"] = objectcolumn(columns.motifname);
  out["ref_strand"] = objectcolumn(strands(columns.refstrand));
  out["ref_start"] = copy(columns.refstart);
  out["alt_strand"] = objectcolumn(strands(columns.altstrand));
  out["alt_start"] = copy(columns.altstart);
  out["ref_score"] = copy(columns.refscore);
  out["alt_score"] = copy(columns.altscore);
  out["ref_pvalue"] = copy(columns.refpvalue);
  out["alt_pvalue"] = copy(columns.altpvalue);
  out["log2_ratio"] = copy(columns.log2ratio);
  out["effect"] = objectcolumn(columns.effect);
  out["ref_sequence"] = objectcolumn(columns.refsequence);
  out["alt_sequence"] = objectcolumn(columns.altsequence);
  return out;
}

py::dict variantsummaryof(const VariantColumns &columns) {
  const VariantSummary &summary = columns.summary;
  py::dict out;
  out["records"] = summary.records;
  out["alleles"] = summary.alleles;
  out["rows"] = summary.rows;
  out["ref_mismatch"] = summary.refmismatch;
  out["symbolic"] = summary.symbolic;
  out["long_indel"] = summary.longindel;
  out["outside_regions"] = summary.outside;
  out["missing_contig"] = summary.missingcontig;
  out["background_source"] = summary.backgroundsource;
  out["background_letters"] = summary.backgroundletters;
  out["background_frequencies"] = summary.backgroundfrequencies;
  out["threads"] = summary.threadsused;
  out["elapsed"] = summary.elapsed;
  return out;
}

}  // namespace

PYBIND11_MODULE(_zelko, m) {
  m.doc() = "The scan library of Zelko (use the package zelko rather than this module).";
  static py::exception<ScanFailure> scanerror(m, "ScanError");
  py::register_exception_translator([](std::exception_ptr pointer) {
    try {
      if (pointer) std::rethrow_exception(pointer);
    } catch (const ScanFailure &failure) {
      PyErr_SetString(scanerror.ptr(), failure.message.c_str());
    }
  });

  scan_setwarninghandler(collectthreadwarning, nullptr);
  m.def("take_warnings", [] {
    std::vector<std::string> warnings;
    warnings.swap(threadwarnings);
    return warnings;
  });

  m.attr("SCALE") = SCAN_SCALE;
  m.attr("NOSCORE") = SCAN_NOSCORE;
  m.attr("DEFAULT_MEMORY") = SCAN_DEFAULT_MEMORY;
  m.def("version", [] { return std::string(scan_version()); });
  m.def("available_threads", [] { return scan_availablethreads(); });

  py::class_<MotifSet, std::shared_ptr<MotifSet>>(m, "MotifSet")
      .def("__len__", [](const MotifSet &set) { return set.motifs.motifs.size(); })
      .def_property_readonly("alphabet",
                             [](const MotifSet &set) { return alphabetname(set.motifs.alphabet); })
      .def_property_readonly("skipped", [](const MotifSet &set) { return set.motifs.skipped; })
      .def("fields",
           [](const MotifSet &set, int64_t index) {
             const ScanMotif &motif = motifat(set, index);
             py::dict fields;
             fields["id"] = motif.id;
             fields["accession"] = motif.accession;
             fields["description"] = motif.description;
             fields["letters"] = motif.letters;
             fields["length"] = motif.length;
             fields["counts"] = countsof(motif);
             fields["source_file"] = motif.sourcefile;
             fields["source_line"] = motif.sourceline;
             return fields;
           })
      .def("weights", &weightsof)
      .def("score_range", &scorerangeof)
      .def("background", &backgroundof)
      .def("threshold", &thresholdof, py::arg("index"), py::arg("pvalue"),
           py::arg("preparation"), py::arg("strand") = "+")
      .def("pvalues", &pvaluesof, py::arg("index"), py::arg("scores"), py::arg("preparation"),
           py::arg("strand") = "+")
      .def("score_windows", &scorewindowsof);

  py::class_<Preparation>(m, "Preparation")
      .def(py::init([](std::string alphabet, std::string kind, std::string filename,
                       std::string letters, std::vector<double> frequencies,
                       double pseudocount) {
             return Preparation{std::move(alphabet), std::move(kind), std::move(filename),
                                std::move(letters), std::move(frequencies), pseudocount};
           }),
           py::arg("alphabet") = "auto", py::arg("kind") = "uniform",
           py::arg("filename") = "", py::arg("letters") = "",
           py::arg("frequencies") = std::vector<double>(), py::arg("pseudocount") = 1.0)
      .def_readonly("alphabet", &Preparation::alphabet)
      .def_readonly("kind", &Preparation::kind)
      .def_readonly("filename", &Preparation::filename)
      .def_readonly("letters", &Preparation::letters)
      .def_readonly("frequencies", &Preparation::frequencies)
      .def_readonly("pseudocount", &Preparation::pseudocount);

  m.def("read_motifs", &readmotifs, py::arg("paths"), py::arg("formats"));

  py::class_<Sequences, std::shared_ptr<Sequences>>(m, "Sequences")
      .def(py::init([](const std::string &path) {
             auto sequences = std::make_shared<Sequences>();
             sequences->sequences.path = path;
             return sequences;
           }),
           py::arg("path") = std::string())
      .def("add",
           [](Sequences &self, std::string_view name, std::string_view residues) {
             std::lock_guard<std::mutex> guard(self.lock);
             if (scan_addsequence(&self.sequences, name, residues) != 0) failed();
           })
      .def_property_readonly("path", [](const Sequences &self) { return self.sequences.path; })
      .def_property_readonly("names",
                             [](const Sequences &self) { return self.sequences.names; })
      .def_property_readonly("lengths",
                             [](const Sequences &self) { return self.sequences.lengths; })
      .def_property_readonly("loaded", [](const Sequences &self) { return self.sequences.loaded; })
      .def_property_readonly("alphabet", [](const Sequences &self) {
        return alphabetname(self.sequences.alphabet);
      });

  py::class_<RunOptions>(m, "RunOptions")
      .def(py::init<>())
      .def_readwrite("pvalue", &RunOptions::pvalue)
      .def_readwrite("useqvalue", &RunOptions::useqvalue)
      .def_readwrite("qvalue", &RunOptions::qvalue)
      .def_readwrite("strands", &RunOptions::strands)
      .def_readwrite("background_kind", &RunOptions::backgroundkind)
      .def_readwrite("background_file", &RunOptions::backgroundfile)
      .def_readwrite("background_letters", &RunOptions::backgroundletters)
      .def_readwrite("background_frequencies", &RunOptions::backgroundfrequencies)
      .def_readwrite("pseudocount", &RunOptions::pseudocount)
      .def_readwrite("alphabet", &RunOptions::alphabet)
      .def_readwrite("threads", &RunOptions::threads)
      .def_readwrite("sort", &RunOptions::sort)
      .def_readwrite("matched_text", &RunOptions::matchedtext)
      .def_readwrite("progress_interval", &RunOptions::progressinterval)
      .def_readwrite("output", &RunOptions::output)
      .def_readwrite("table", &RunOptions::table)
      .def_readwrite("memory", &RunOptions::memory)
      .def_readwrite("tmpdir", &RunOptions::tmpdir)
      .def_readwrite("output_motifs", &RunOptions::outputmotifs);

  py::class_<Result, std::shared_ptr<Result>>(m, "Result")
      .def("__len__", [](const Result &self) { return scan_hitcount(self.result.hits); })
      .def("columns",
           [](py::object self) {
             const Result &result = self.cast<const Result &>();
             const ScanHits &hits = result.result.hits;
             const ScanMotifs &motifs = result.motifs->motifs;
             const uint64_t count = scan_hitcount(hits);
             py::dict columns;
             columns["motif"] = columnof(hits.motif, self);
             columns["sequence"] = columnof(hits.sequence, self);
             columns["start"] = columnof(hits.start, self);
             columns["stop"] = derivedcolumn<uint64_t>(
                 count, [&](uint64_t i) { return scan_hitstop(motifs, hits, i); });
             columns["strand"] = columnof(hits.strand, self).attr("view")("S1");
             columns["score"] = columnof(hits.score, self);
             columns["pvalue"] = columnof(hits.pvalue, self);
             columns["evalue"] = derivedcolumn<double>(
                 count, [&](uint64_t i) { return scan_hitevalue(result.result, i); });
             columns["mss"] = derivedcolumn<double>(
                 count, [&](uint64_t i) { return scan_hitmss(motifs, hits, i); });
             columns["qvalue"] = columnof(hits.qvalue, self);
             return columns;
           })
      .def("matched_texts", [](const Result &self) { return matchedtexts(self); })
      .def("summaries", [](const Result &self) { return summariesof(self.result.motifs); })
      .def("run_info", &runinfoof)
      .def_property_readonly("warnings", [](const Result &self) { return self.warnings; })
      .def_property_readonly("sequences", [](const Result &self) { return self.sequences; })
      .def_property_readonly("motifs", [](const Result &self) { return self.motifs; })
      .def("select", &selectrows)
      .def("write", &writetable);

  m.def("run", &runscan, py::arg("motifs"), py::arg("sequences"), py::arg("options"),
        py::arg("progress") = py::none(), py::arg("poll_interval") = 0.05);

  py::class_<EnrichRunOptions>(m, "EnrichOptions")
      .def(py::init<>())
      .def_readwrite("pvalue", &EnrichRunOptions::pvalue)
      .def_readwrite("strands", &EnrichRunOptions::strands)
      .def_readwrite("threshold", &EnrichRunOptions::threshold)
      .def_readwrite("center", &EnrichRunOptions::center)
      .def_readwrite("shuffle_order", &EnrichRunOptions::shuffleorder)
      .def_readwrite("shuffles", &EnrichRunOptions::shuffles)
      .def_readwrite("seed", &EnrichRunOptions::seed)
      .def_readwrite("background_kind", &EnrichRunOptions::backgroundkind)
      .def_readwrite("background_file", &EnrichRunOptions::backgroundfile)
      .def_readwrite("background_letters", &EnrichRunOptions::backgroundletters)
      .def_readwrite("background_frequencies", &EnrichRunOptions::backgroundfrequencies)
      .def_readwrite("pseudocount", &EnrichRunOptions::pseudocount)
      .def_readwrite("alphabet", &EnrichRunOptions::alphabet)
      .def_readwrite("threads", &EnrichRunOptions::threads)
      .def_readwrite("motifs", &EnrichRunOptions::motifs);

  py::class_<Enrichment, std::shared_ptr<Enrichment>>(m, "Enrichment")
      .def("__len__", [](const Enrichment &self) { return self.result.motifs.size(); })
      .def("columns", &enrichcolumnsof)
      .def("summaries", [](const Enrichment &self) { return summariesof(self.result.thresholds); })
      .def("run_info", &enrichruninfoof)
      .def_property_readonly("warnings", [](const Enrichment &self) { return self.warnings; })
      .def("write", [](const Enrichment &self) {
        return writtenbytes(self.motifs.get(), [&](FILE *stream) {
          return enrich_writetsv(self.result, self.motifs->motifs, stream);
        });
      });

  m.def("enrich", &runenrich, py::arg("motifs"), py::arg("target"), py::arg("control"),
        py::arg("options"), py::arg("progress") = py::none(), py::arg("poll_interval") = 0.05);

  py::class_<VariantRunOptions>(m, "VariantRunOptions")
      .def(py::init<>())
      .def_readwrite("pvalue", &VariantRunOptions::pvalue)
      .def_readwrite("min_change", &VariantRunOptions::minchange)
      .def_readwrite("max_indel", &VariantRunOptions::maxindel)
      .def_readwrite("strands", &VariantRunOptions::strands)
      .def_readwrite("background_kind", &VariantRunOptions::backgroundkind)
      .def_readwrite("background_file", &VariantRunOptions::backgroundfile)
      .def_readwrite("background_letters", &VariantRunOptions::backgroundletters)
      .def_readwrite("background_frequencies", &VariantRunOptions::backgroundfrequencies)
      .def_readwrite("pseudocount", &VariantRunOptions::pseudocount)
      .def_readwrite("regions", &VariantRunOptions::regions)
      .def_readwrite("skip_missing_contigs", &VariantRunOptions::skipmissingcontigs)
      .def_readwrite("threads", &VariantRunOptions::threads)
      .def_readwrite("progress_interval", &VariantRunOptions::progressinterval);

  py::class_<VariantColumns, std::shared_ptr<VariantColumns>>(m, "VariantColumns")
      .def("__len__", [](const VariantColumns &self) { return self.pos.size(); })
      .def("columns", &variantcolumnsof)
      .def("summary", &variantsummaryof)
      .def_property_readonly("warnings", [](const VariantColumns &self) { return self.warnings; });

  m.def("variants", &runvariants, py::arg("motifs"), py::arg("genome"), py::arg("variants"),
        py::arg("options"), py::arg("progress") = py::none(), py::arg("poll_interval") = 0.05);
}
