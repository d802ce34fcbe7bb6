// From the scan library's records, or from a table `zelko scan' wrote, to the HTML report's
// records. A table's hit centres and scores are binned by the scan library's own rules
// (scan_positionlayout, scan_scorelayout, ...) and both ways keep the best hits in the same
// order, so a page made from a table equals the page made while scanning.
#include "htmlreport/scanreport.hpp"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <map>
#include <string_view>
#include <unordered_map>

#include <unistd.h>

#include "base/error.hpp"
#include "htmlreport/htmlplots.hpp"

namespace {

// ---- Best hits ---------------------------------------------------------------------------

// Whether a ranks below b.
bool worse(const BestHitKey &a, const BestHitKey &b) {
  if (a.pvalue != b.pvalue) return a.pvalue > b.pvalue;
  if (a.score != b.score) return a.score < b.score;
  if (a.sequence != b.sequence) return a.sequence > b.sequence;
  if (a.start != b.start) return a.start > b.start;
  return a.strand == '-' && b.strand != '-';
}

// A p-value as the table's "%.6e" gives it back.
double printedpvalue(double pvalue) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6e", pvalue);
  return std::strtod(text, nullptr);
}

// Heap order: the worst entry on top.
bool heapbefore(const BestHitEntry &a, const BestHitEntry &b) { return worse(b.key, a.key); }

// ---- Shared pieces -----------------------------------------------------------------------

}  // namespace

std::string scanreport_basename(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string scanreport_bytestext(uint64_t bytes) {
  const char *units[] = {"bytes", "KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  size_t unit = 0;
  while (value >= 1000.0 && unit + 1 < std::size(units)) {
    value /= 1000.0;
    unit++;
  }
  return (unit == 0 ? std::to_string(bytes) : formatnumber(value, 3)) + " " + units[unit];
}

std::string scanreport_today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

std::string scanreport_backgroundtext(const ScanMotifs &motifs, std::string_view source) {
  std::string text = !source.empty()                    ? std::string(source)
                     : motifs.backgroundsource.empty() ? std::string("not known")
                                                       : motifs.backgroundsource;
  if (!motifs.backgroundfrequencies.empty()) {
    text += ":";
    for (size_t i = 0; i < motifs.backgroundletters.size() &&
                       i < motifs.backgroundfrequencies.size(); i++) {
      text += ' ';
      text += motifs.backgroundletters[i];
      text += ' ';
      text += formatnumber(motifs.backgroundfrequencies[i], 3);
    }
  }
  return text;
}

std::string scanreport_binstext(uint64_t binwidth, bool centred, std::string_view noun) {
  return std::to_string(binwidth) + (binwidth == 1 ? " letter per bin, " : " letters per bin, ") +
         std::string(noun) +
         (centred ? " centres relative to the sequence centre"
                  : " centres from the sequence start");
}

std::vector<std::string> scanreport_motiffiles(const ScanMotifs &motifs) {
  std::vector<std::string> files;
  for (const ScanMotif &motif : motifs.motifs)
    if (std::find(files.begin(), files.end(), motif.sourcefile) == files.end())
      files.push_back(motif.sourcefile);
  return files;
}

std::string scanreport_motifstext(const std::vector<std::string> &files,
                                  const ScanMotifs &motifs) {
  std::string text;
  for (const std::string &file : files) text += (text.empty() ? "" : ", ") + file;
  text += ": " + htmlpage_thousands(motifs.motifs.size()) +
          (motifs.motifs.size() == 1 ? " motif" : " motifs");
  if (motifs.skipped > 0) text += ", " + htmlpage_thousands(motifs.skipped) + " skipped";
  return text;
}

namespace {

std::string sequencestext(const ScanSequences &sequences) {
  std::string text = sequences.path.empty() ? "in memory" : sequences.path;
  if (sequences.isindex) text += " (index)";
  text += ": " + htmlpage_thousands(sequences.count) +
          (sequences.count == 1 ? " sequence, " : " sequences, ");
  text += htmlpage_thousands(sequences.residues) + " letters";
  if (sequences.filebytes > 0) text += ", " + scanreport_bytestext(sequences.filebytes);
  return text;
}

// The motif's page record without the counts.
HtmlMotif pagemotif(const ScanMotif &motif) {
  HtmlMotif page;
  page.id = motif.id;
  page.accession = motif.accession;
  page.letters = motif.letters;
  page.length = motif.length;
  scanreport_probabilities(motif, &page.probabilities);
  return page;
}

// Windows of the sequences a motif of length m fits in, times the strands.
uint64_t windowsof(const ScanSequences &sequences, uint64_t m, uint64_t strands) {
  if (m == 0) return 0;
  uint64_t windows = 0;
  for (const uint64_t length : sequences.lengths)
    if (length >= m) windows += length - m + 1;
  return windows * strands;
}

// ---- Reading a table ---------------------------------------------------------------------

struct LineReader {
  gzFile file = nullptr;
  std::string buffer;
  size_t begin = 0;  // unread part of buffer
  bool ended = false;
  uint64_t number = 0;
};

// The next line without its newline; false at the end or after a read error (*failed set).
bool nextline(LineReader *reader, std::string_view *line, bool *failed) {
  for (;;) {
    const size_t newline = reader->buffer.find('\n', reader->begin);
    if (newline != std::string::npos) {
      *line = std::string_view(reader->buffer).substr(reader->begin, newline - reader->begin);
      reader->begin = newline + 1;
      reader->number++;
      return true;
    }
    if (reader->ended) {
      if (reader->begin >= reader->buffer.size()) return false;
      *line = std::string_view(reader->buffer).substr(reader->begin);
      reader->begin = reader->buffer.size();
      reader->number++;
      return true;
    }
    reader->buffer.erase(0, reader->begin);
    reader->begin = 0;
    const size_t had = reader->buffer.size();
    constexpr size_t block = size_t{1} << 20;
    reader->buffer.resize(had + block);
    const int got = gzread(reader->file, reader->buffer.data() + had, block);
    if (got < 0) {
      *failed = true;
      return false;
    }
    reader->buffer.resize(had + static_cast<size_t>(got));
    if (got == 0) reader->ended = true;
  }
}

template <typename Number>
bool readnumber(std::string_view text, Number *value) {
  const char *end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, *value);
  return error == std::errc() && stop == end && !text.empty();
}

enum TableColumn {
  COLUMN_MOTIF, COLUMN_ACCESSION, COLUMN_SEQUENCE, COLUMN_NUMBER, COLUMN_START, COLUMN_STOP,
  COLUMN_STRAND, COLUMN_SCORE, COLUMN_PVALUE, COLUMN_TEXT, COLUMN_THRESHOLD, COLUMN_QVALUE,
  COLUMN_COUNT
};
constexpr const char *columnnames[COLUMN_COUNT] = {
    "motif_id", "motif_accession", "sequence_name", "sequence_number", "start", "stop",
    "strand", "score", "p_value", "matched_sequence", "threshold", "q_value"};

// The columns of a table by name, as its header row places them.
struct TableColumns {
  size_t at[COLUMN_COUNT];
  size_t count = 0;  // fields of the header row
};

// Splits line at tabs into fields (as many as fit) and returns the number of fields.
size_t splitfields(std::string_view line, std::vector<std::string_view> *fields) {
  size_t at = 0, got = 0;
  for (;;) {
    const size_t tab = line.find('\t', at);
    if (got < fields->size())
      (*fields)[got] = line.substr(at, tab == std::string_view::npos ? line.npos : tab - at);
    got++;
    if (tab == std::string_view::npos) return got;
    at = tab + 1;
  }
}

int readheader(std::string_view line, const char *name, TableColumns *columns) {
  std::fill(std::begin(columns->at), std::end(columns->at), SIZE_MAX);
  std::vector<std::string_view> headers(line.size() + 1);
  columns->count = splitfields(line, &headers);
  for (size_t field = 0; field < columns->count; field++)
    for (int c = 0; c < COLUMN_COUNT; c++)
      if (headers[field] == columnnames[c] && columns->at[c] == SIZE_MAX) columns->at[c] = field;
  for (int c = 0; c < COLUMN_COUNT; c++)
    if (columns->at[c] == SIZE_MAX && c != COLUMN_QVALUE && c != COLUMN_TEXT)
      return reporterror("`%s', line 1: no column `%s' (is it a table of zelko scan?)", name,
                         columnnames[c]);
  return 0;
}

// One row, read and checked against the motifs and (when given) the sequences.
struct TableRow {
  uint32_t motif = 0;
  uint64_t sequence = 0;
  uint64_t start = 0;
  uint64_t stop = 0;
  char strand = '+';
  int64_t score = 0;
  int64_t threshold = 0;
  double pvalue = 0.0;
  double qvalue = -1.0;
  std::string_view sequencename;
  std::string_view text;
};

struct RowReader {
  const char *name = nullptr;
  const ScanMotifs *motifs = nullptr;
  const ScanSequences *sequences = nullptr;
  TableColumns columns;
  std::unordered_map<std::string, uint32_t> index;  // "id<tab>accession": first such motif
  std::vector<std::string_view> fields;
  std::string lastkey;  // rows of one motif usually follow each other
  uint32_t lastmotif = UINT32_MAX;
};

void initrowreader(RowReader *reader, const char *name, const ScanMotifs &motifs,
                   const ScanSequences *sequences, const TableColumns &columns) {
  reader->name = name;
  reader->motifs = &motifs;
  reader->sequences = sequences;
  reader->columns = columns;
  for (size_t m = motifs.motifs.size(); m-- > 0;)
    reader->index[motifs.motifs[m].id + '\t' + motifs.motifs[m].accession] =
        static_cast<uint32_t>(m);
  reader->fields.assign(columns.count, {});
}

int readrow(RowReader *reader, std::string_view line, uint64_t number, TableRow *row) {
  const char *name = reader->name;
  const unsigned long linenumber = static_cast<unsigned long>(number);
  const size_t got = splitfields(line, &reader->fields);
  if (got != reader->columns.count)
    return reporterror("`%s', line %lu: %zu fields, the header has %zu", name, linenumber, got,
                       reader->columns.count);
  const auto field = [&](TableColumn c) {
    return reader->columns.at[c] == SIZE_MAX ? std::string_view()
                                             : reader->fields[reader->columns.at[c]];
  };
  const std::string_view id = field(COLUMN_MOTIF), accession = field(COLUMN_ACCESSION);
  const std::string_view lastkey = reader->lastkey;
  if (reader->lastmotif == UINT32_MAX || lastkey.size() != id.size() + 1 + accession.size() ||
      lastkey.substr(0, id.size()) != id || lastkey.substr(id.size() + 1) != accession) {
    reader->lastkey.assign(id);
    reader->lastkey.push_back('\t');
    reader->lastkey.append(accession);
    const auto found = reader->index.find(reader->lastkey);
    if (found == reader->index.end()) {
      reader->lastmotif = UINT32_MAX;
      return reporterror("`%s', line %lu: motif `%.*s' (%.*s) is not in the motif files", name,
                         linenumber, static_cast<int>(id.size()), id.data(),
                         static_cast<int>(accession.size()), accession.data());
    }
    reader->lastmotif = found->second;
  }
  row->motif = reader->lastmotif;
  const ScanMotif &motif = reader->motifs->motifs[row->motif];
  const std::string_view strand = field(COLUMN_STRAND);
  row->qvalue = -1.0;
  if (!readnumber(field(COLUMN_NUMBER), &row->sequence) ||
      !readnumber(field(COLUMN_START), &row->start) ||
      !readnumber(field(COLUMN_STOP), &row->stop) || row->start == 0 ||
      row->stop < row->start || !readnumber(field(COLUMN_SCORE), &row->score) ||
      !readnumber(field(COLUMN_THRESHOLD), &row->threshold) ||
      !readnumber(field(COLUMN_PVALUE), &row->pvalue) ||
      (reader->columns.at[COLUMN_QVALUE] != SIZE_MAX &&
       !readnumber(field(COLUMN_QVALUE), &row->qvalue)) ||
      (strand != "+" && strand != "-"))
    return reporterror("`%s', line %lu: not a row of zelko scan (sequence number, start, "
                       "stop, strand, integer score and threshold, p-value, q-value)",
                       name, linenumber);
  row->strand = strand[0];
  row->sequencename = field(COLUMN_SEQUENCE);
  row->text = field(COLUMN_TEXT);
  const uint64_t letters = row->stop - row->start + 1;
  if (letters != motif.length)
    return reporterror("`%s', line %lu: a match of %lu letters for motif `%s' of length %lu",
                       name, linenumber, static_cast<unsigned long>(letters), motif.id.c_str(),
                       static_cast<unsigned long>(motif.length));
  const ScanSequences *sequences = reader->sequences;
  if (sequences == nullptr) return 0;
  if (row->sequence >= sequences->count)
    return reporterror("`%s', line %lu: sequence number %lu, but the sequences are %lu", name,
                       linenumber, static_cast<unsigned long>(row->sequence),
                       static_cast<unsigned long>(sequences->count));
  if (sequences->names[row->sequence] != row->sequencename ||
      row->stop > sequences->lengths[row->sequence])
    return reporterror("`%s', line %lu: sequence %lu is not `%.*s' of %lu letters or more as "
                       "in the table: other sequences?", name, linenumber,
                       static_cast<unsigned long>(row->sequence),
                       static_cast<int>(row->sequencename.size()), row->sequencename.data(),
                       static_cast<unsigned long>(row->stop));
  return 0;
}

// What is gathered per motif from the rows.
struct TableMotif {
  uint64_t hits = 0;
  bool thresholdseen = false;
  int64_t threshold = 0;  // of the first row, whose strand it is
  // The threshold column of each strand's rows, as first seen.
  bool strandthresholdseen[2] = {false, false};
  int64_t strandthreshold[2] = {0, 0};
  ScanScoreLayout scores;
  std::vector<uint64_t> scorebins;
  std::map<int64_t, uint64_t> seenscores;  // hits by score
  std::vector<uint64_t> forward, reverse;
  std::vector<uint64_t> sequences;  // sequence numbers, a new entry when it changes
};

// Position bins gathered from rows when the longest sequence is not known: the width grows
// tenfold whenever a centre lies beyond `capacity' bins, so memory stays bounded.
constexpr int64_t adaptivecapacity = 2000;

void regroup(std::vector<uint64_t> *bins, size_t factor) {
  std::vector<uint64_t> grouped((bins->size() + factor - 1) / factor, 0);
  for (size_t b = 0; b < bins->size(); b++) grouped[b / factor] += (*bins)[b];
  *bins = std::move(grouped);
}

// Everything gathered over the rows.
struct Gathering {
  const TableReportOptions *options = nullptr;
  const ScanSequences *sequences = nullptr;
  bool centred = false;
  bool adaptive = false;  // bins grow with the rows (no sequences, no bin width asked for)
  ScanPositionLayout layout;
  std::vector<TableMotif> motifs;
  BestHits best;
  uint64_t rows = 0;
  uint64_t longeststop = 0;
};

void gatherrow(Gathering *g, const ScanMotif &motif, const TableRow &row) {
  g->rows++;
  g->longeststop = std::max(g->longeststop, row.stop);
  TableMotif &gather = g->motifs[row.motif];
  gather.hits++;
  if (gather.sequences.empty() || gather.sequences.back() != row.sequence)
    gather.sequences.push_back(row.sequence);
  const int strand = row.strand == '-' ? 1 : 0;
  if (!gather.strandthresholdseen[strand]) {
    gather.strandthresholdseen[strand] = true;
    gather.strandthreshold[strand] = row.threshold;
  }
  if (!gather.thresholdseen) {
    gather.thresholdseen = true;
    gather.threshold = row.threshold;
    if (!g->adaptive) {
      gather.forward.assign(g->layout.count, 0);
      gather.reverse.assign(g->layout.count, 0);
    }
  }
  // Binned at the end, from the lowest threshold of the strands.
  gather.seenscores[row.score]++;
  // Where the scan counts the hit.
  const int64_t x = scan_hitposition(
      row.start, motif.length, g->centred ? g->sequences->lengths[row.sequence] : 0, g->centred);
  std::vector<uint64_t> &bins = row.strand == '-' ? gather.reverse : gather.forward;
  ScanPositionLayout &layout = g->layout;
  if (g->adaptive) {
    while (x >= adaptivecapacity * layout.width) {
      layout.width *= 10;
      for (TableMotif &other : g->motifs) {
        regroup(&other.forward, 10);
        regroup(&other.reverse, 10);
      }
    }
    const size_t bin = static_cast<size_t>(x / layout.width);
    if (bins.size() <= bin) bins.resize(bin + 1, 0);
    bins[bin]++;
  } else {
    bins[scan_positionbin(layout, x)]++;
  }
  const BestHitKey key{row.pvalue, row.score, row.sequence, row.start, row.strand};
  if (besthits_accepts(g->best, row.motif, key)) {
    HtmlHit hit;
    hit.sequence = row.sequencename;
    hit.start = row.start;
    hit.stop = row.stop;
    hit.strand = row.strand;
    hit.score = static_cast<double>(row.score);
    hit.pvalue = row.pvalue;
    hit.qvalue = row.qvalue;
    hit.text = row.text;
    besthits_insert(&g->best, row.motif, key, std::move(hit));
  }
}

// The threshold fields of a motif's page and its hits expected by chance: the windows of each
// strand times the exact p-value of its threshold (page->windows counts both strands).
int thresholdstatistics(const ScanMotifs &motifs, size_t m, int64_t forward, int64_t reverse,
                        bool bothstrands, HtmlMotif *page) {
  const ScanMotif &motif = motifs.motifs[m];
  const bool forwardreachable = forward <= motif.maxscore;
  const bool reversereachable = bothstrands && reverse <= motif.maxscore;
  page->reachable = forwardreachable || reversereachable;
  page->threshold = static_cast<double>(forward);
  page->reversethresholdshown = bothstrands && reverse != forward;
  page->reversethreshold = static_cast<double>(reverse);
  const double strandwindows =
      static_cast<double>(page->windows) / (bothstrands ? 2.0 : 1.0);
  page->expected = 0.0;
  double p = 0.0;
  if (forwardreachable) {
    if (scan_pvalue(motifs, m, forward, &p, SCAN_STRAND_FORWARD) != 0) return -1;
    page->thresholdpvalue = p;
    page->expected += strandwindows * p;
  }
  if (reversereachable) {
    if (scan_pvalue(motifs, m, reverse, &p, SCAN_STRAND_REVERSE) != 0) return -1;
    page->reversethresholdpvalue = p;
    page->expected += strandwindows * p;
  }
  return 0;
}

// The page record of motif m from what its rows gave; *mismatched counts a threshold that
// is not the one the cutoff gives.
int finishmotif(Gathering *g, const ScanMotifs &motifs, size_t m, HtmlMotif *page,
                uint64_t *mismatched) {
  const TableReportOptions &options = *g->options;
  const ScanSequences *sequences = g->sequences;
  const ScanMotif &motif = motifs.motifs[m];
  TableMotif &gather = g->motifs[m];
  *page = pagemotif(motif);
  page->hits = gather.hits;
  std::sort(gather.sequences.begin(), gather.sequences.end());
  page->sequenceswithhit = static_cast<uint64_t>(
      std::unique(gather.sequences.begin(), gather.sequences.end()) - gather.sequences.begin());
  int64_t threshold = gather.threshold;
  bool known = gather.thresholdseen;
  // The score histogram starts at the lower of the strands' thresholds.
  int64_t lowest = threshold;
  for (int strand = 0; strand < 2; strand++) {
    if (gather.strandthresholdseen[strand]) lowest = std::min(lowest, gather.strandthreshold[strand]);
  }
  if (sequences != nullptr) {
    // Each strand's threshold, which its rows must show.
    const int strands = options.bothstrands ? 2 : 1;
    int64_t computed[2] = {0, 0};
    for (int strand = 0; strand < strands; strand++) {
      if (scan_threshold(motifs, m, options.pvalue, &computed[strand],
                         strand == 0 ? SCAN_STRAND_FORWARD : SCAN_STRAND_REVERSE) != 0)
        return -1;
      if (gather.strandthresholdseen[strand] && gather.strandthreshold[strand] != computed[strand])
        ++*mismatched;
    }
    threshold = computed[0];
    known = true;
    const bool forwardreachable = computed[0] <= motif.maxscore;
    const bool reversereachable = computed[strands - 1] <= motif.maxscore;
    lowest = forwardreachable && reversereachable ? std::min(computed[0], computed[strands - 1])
             : reversereachable                   ? computed[strands - 1]
                                                  : computed[0];
    page->thresholdknown = true;
    page->windows = windowsof(*sequences, motif.length, strands);
    if (thresholdstatistics(motifs, m, computed[0], computed[strands - 1], strands == 2,
                            page) != 0)
      return -1;
  } else {
    page->thresholdknown = known;
    page->reachable = known && threshold <= motif.maxscore;
    page->threshold = static_cast<double>(threshold);
  }
  if (!gather.thresholdseen) {
    gather.forward.assign(g->layout.count, 0);
    gather.reverse.assign(g->layout.count, 0);
  }
  page->binorigin = g->layout.origin;
  page->forwardbins = std::move(gather.forward);
  if (options.bothstrands) page->reversebins = std::move(gather.reverse);
  // With weights that are not the scan's, the table's scores span the histogram.
  const int64_t highest = options.weightsknown || gather.seenscores.empty()
                              ? motif.maxscore
                              : gather.seenscores.rbegin()->first;
  gather.scores = scan_scorelayout(motif, gather.thresholdseen || page->reachable, lowest,
                                   highest, options.scorebins);
  gather.scorebins.assign(gather.scores.count, 0);
  for (const auto &[score, hits] : gather.seenscores)
    gather.scorebins[scan_scorebin(gather.scores, score)] += hits;
  page->scorelow = static_cast<double>(gather.scores.low);
  page->scorebinwidth = gather.scores.width;
  page->scorebins = std::move(gather.scorebins);
  page->best = besthits_take(&g->best, static_cast<uint32_t>(m));
  return 0;
}

}  // namespace

// ---- Best hits ---------------------------------------------------------------------------

void besthits_init(BestHits *best, uint64_t motifs, uint64_t keep) {
  best->keep = keep;
  best->motifs.assign(motifs, {});
}

bool besthits_accepts(const BestHits &best, uint32_t motif, const BestHitKey &key) {
  const std::vector<BestHitEntry> &heap = best.motifs[motif];
  if (best.keep == 0) return false;
  return heap.size() < best.keep || worse(heap.front().key, key);
}

void besthits_insert(BestHits *best, uint32_t motif, const BestHitKey &key, HtmlHit hit) {
  std::vector<BestHitEntry> &heap = best->motifs[motif];
  if (heap.size() >= best->keep) {
    std::pop_heap(heap.begin(), heap.end(), heapbefore);
    heap.pop_back();
  }
  heap.push_back(BestHitEntry{key, std::move(hit)});
  std::push_heap(heap.begin(), heap.end(), heapbefore);
}

std::vector<HtmlHit> besthits_take(BestHits *best, uint32_t motif) {
  std::vector<BestHitEntry> &heap = best->motifs[motif];
  std::sort(heap.begin(), heap.end(),
            [](const BestHitEntry &a, const BestHitEntry &b) { return worse(b.key, a.key); });
  std::vector<HtmlHit> hits;
  hits.reserve(heap.size());
  for (BestHitEntry &entry : heap) hits.push_back(std::move(entry.hit));
  heap.clear();
  return hits;
}

void besthits_offer(BestHits *best, const ScanMotifs &motifs, const ScanSequences &sequences,
                    const ScanRow &row, const ScanResult *result, size_t i) {
  // Ranked by the p-value as the table prints it, so that a page made from the table keeps
  // the same best hits: a hit clearly behind the worst kept one needs no printing.
  BestHitKey key{row.pvalue, row.score, row.sequence, row.start, row.strand};
  const std::vector<BestHitEntry> &kept = best->motifs[row.motif];
  if (kept.size() >= best->keep && key.pvalue > kept.front().key.pvalue * (1.0 + 1e-5)) return;
  key.pvalue = printedpvalue(key.pvalue);
  if (!besthits_accepts(*best, row.motif, key)) return;
  const ScanMotif &motif = motifs.motifs[row.motif];
  const uint64_t offset =
      sequences.offsets.size() == sequences.count && row.sequence < sequences.offsets.size()
          ? sequences.offsets[row.sequence]
          : 0;
  HtmlHit hit;
  hit.sequence = sequences.names[row.sequence];
  hit.start = offset + row.start;
  hit.stop = offset + row.start + motif.length - 1;
  hit.strand = row.strand;
  hit.score = static_cast<double>(row.score);
  hit.pvalue = row.pvalue;
  hit.qvalue = row.qvalue;
  if (result != nullptr) {
    scan_hittext(*result, motifs, sequences, i, &hit.text);
  } else {
    scan_rowtext(motifs, sequences, row, &hit.text);
  }
  besthits_insert(best, row.motif, key, std::move(hit));
}

// ---- Scan to page ------------------------------------------------------------------------

uint64_t scanreport_binwidth(uint64_t longest) {
  constexpr uint64_t maxbins = 100;
  for (uint64_t power = 1;; power *= 10) {
    for (const uint64_t factor : {1, 2, 5}) {
      const uint64_t width = factor * power;
      if ((longest + width - 1) / width <= maxbins) return width;
    }
    if (power > UINT64_MAX / 100) return power * 10;
  }
}

int scanreport_request(const ScanMotifs &motifs, ScanSequences *sequences,
                       ScanOptions *options, uint64_t binwidth, bool centred) {
  if (!sequences->loaded) {
    const ScanAlphabet alphabet =
        options->alphabet != SCAN_ALPHABET_AUTO ? options->alphabet : motifs.alphabet;
    if (scan_loadsequences(sequences, alphabet) != 0) return -1;
  }
  uint64_t longest = 0;
  for (const uint64_t length : sequences->lengths) longest = std::max(longest, length);
  options->histogram.enabled = true;
  options->histogram.binwidth = binwidth > 0 ? binwidth : scanreport_binwidth(longest);
  options->histogram.centred = centred;
  return 0;
}

namespace {

// Weights at or below this are letters a matrix forbids.
constexpr double forbiddenweight = -1e15;

// The scale of a matrix of log-odds weights w = ln(p / b) / lambda against a uniform
// background b: the positive root of the mean over positions of sum_i b exp(lambda w_i),
// which is 1 at lambda = 0 and at the matrix's own scale, where every position's
// probabilities sum to 1. 0 when there is no such root (not log-odds: no negative mean or
// no positive weight).
double logoddsscale(const std::vector<int64_t> &weights, size_t k, size_t length) {
  double largest = 0.0, mean = 0.0;
  for (const int64_t w : weights) {
    const double x = static_cast<double>(w);
    if (x <= forbiddenweight) continue;
    largest = std::max(largest, std::fabs(x));
    mean += x;
  }
  if (largest == 0.0 || mean >= 0.0) return 0.0;
  const auto excess = [&](double lambda) {
    double sum = 0.0;
    for (const int64_t w : weights) {
      const double x = static_cast<double>(w);
      if (x > forbiddenweight) sum += std::exp(std::min(lambda * x, 700.0));
    }
    return sum / static_cast<double>(k * length) - 1.0;
  };
  double low = 0.0, high = 1.0 / largest;
  for (int i = 0; excess(high) < 0.0; i++) {
    if (i == 200) return 0.0;
    low = high;
    high *= 2.0;
  }
  for (int i = 0; i < 200 && high - low > 1e-15 * high; i++) {
    const double middle = 0.5 * (low + high);
    (excess(middle) < 0.0 ? low : high) = middle;
  }
  return 0.5 * (low + high);
}

// The unit of every score, threshold and score bin on the page: the table's own.
constexpr const char *scoreunittext =
    "the table's integer scores (for count matrices log-odds weights in thousandths of a "
    "nat, natural logarithm times 1000)";

}  // namespace

void scanreport_probabilities(const ScanMotif &motif, std::vector<double> *probabilities) {
  const size_t k = motif.letters.size();
  const size_t cells = static_cast<size_t>(motif.length) * k;
  probabilities->assign(cells, k == 0 ? 0.0 : 1.0 / static_cast<double>(k));
  const bool counts = motif.counts.size() == cells;
  if (!counts && motif.weights.size() != cells) return;
  // Weights of unknown units: their log-odds scale, or natural-log thousandths.
  double lambda = 0.0;
  if (!counts) {
    lambda = logoddsscale(motif.weights, k, motif.length);
    if (lambda == 0.0) lambda = 1.0 / SCAN_SCALE;
  }
  for (size_t row = 0; row < motif.length; row++) {
    double *p = probabilities->data() + row * k;
    if (counts) {
      for (size_t i = 0; i < k; i++) p[i] = std::max(0.0, motif.counts[row * k + i]);
    } else {
      // Relative to the row's largest weight, so that nothing overflows.
      double largest = -HUGE_VAL;
      for (size_t i = 0; i < k; i++)
        largest = std::max(largest, static_cast<double>(motif.weights[row * k + i]));
      for (size_t i = 0; i < k; i++) {
        const double w = static_cast<double>(motif.weights[row * k + i]);
        p[i] = w <= forbiddenweight ? 0.0 : std::exp(lambda * (w - largest));
      }
    }
    double sum = 0.0;
    for (size_t i = 0; i < k; i++) sum += p[i];
    for (size_t i = 0; i < k; i++) p[i] = sum > 0.0 ? p[i] / sum : 1.0 / static_cast<double>(k);
  }
}

int scanreport_build(const ScanMotifs &motifs, const ScanSequences &sequences,
                     const ScanResult &result, const std::string &commandline,
                     HtmlReport *report, BestHits *given) {
  const ScanRunInfo &run = result.run;
  const ScanHits &hits = result.hits;
  const size_t count = motifs.motifs.size();
  if (result.motifs.size() != count) return internalerror();
  *report = HtmlReport{};
  report->title = "Zelko scan of " + (sequences.path.empty() ? std::string("in-memory sequences")
                                                             : scanreport_basename(sequences.path));
  report->sequences = sequences.count;
  report->residues = sequences.residues;
  report->binwidth = std::max<uint64_t>(run.options.histogram.binwidth, 1);
  report->centred = run.options.histogram.centred;
  report->bothstrands = run.options.strands == SCAN_STRANDS_BOTH &&
                        sequences.alphabet != SCAN_ALPHABET_PROTEIN;

  BestHits own;
  if (given == nullptr) {
    besthits_init(&own, count, HTMLREPORT_BESTHITS);
    for (size_t i = 0; i < scan_hitcount(hits); i++) {
      besthits_offer(&own, motifs, sequences, scan_hitrow(hits, i), &result, i);
    }
  }
  BestHits &best = given != nullptr ? *given : own;
  if (best.motifs.size() != count) return internalerror();

  report->motifs.reserve(count);
  for (size_t m = 0; m < count; m++) {
    const ScanMotifSummary &summary = result.motifs[m];
    HtmlMotif page = pagemotif(motifs.motifs[m]);
    page.hits = summary.hits;
    page.sequenceswithhit = summary.sequenceswithhit;
    page.windows = summary.windows;
    if (thresholdstatistics(motifs, m, summary.threshold, summary.reversethreshold,
                            report->bothstrands, &page) != 0)
      return -1;
    page.binorigin = summary.binorigin;
    page.forwardbins = summary.forwardbins;
    if (report->bothstrands) page.reversebins = summary.reversebins;
    page.scorelow = static_cast<double>(summary.scorelow);
    page.scorebinwidth = summary.scorebinwidth;
    page.scorebins = summary.scorebins;
    page.best = besthits_take(&best, static_cast<uint32_t>(m));
    report->motifs.push_back(std::move(page));
  }

  std::vector<HtmlSummaryItem> &items = report->summary;
  items.push_back({"Motifs", scanreport_motifstext(run.motiffiles.empty()
                                                       ? scanreport_motiffiles(motifs)
                                                       : run.motiffiles,
                                                   motifs)});
  items.push_back({"Sequences", sequencestext(sequences)});
  items.push_back({"Alphabet", sequences.alphabet == SCAN_ALPHABET_PROTEIN ? "protein" : "DNA"});
  items.push_back({"Strands", report->bothstrands ? "both" : "forward"});
  items.push_back({"P-value cutoff", formatnumber(run.options.pvalue, 3)});
  if (run.options.useqvalue)
    items.push_back({"Q-value cutoff", formatnumber(run.options.qvalue, 3)});
  items.push_back({"Background", scanreport_backgroundtext(motifs)});
  items.push_back({"Pseudocount", formatnumber(motifs.pseudocount, 3)});
  items.push_back({"Scores", scoreunittext});
  items.push_back({"Position bins", scanreport_binstext(report->binwidth, report->centred)});
  items.push_back({"Threads", std::to_string(run.threadsused)});
  items.push_back({"Scan time", formatnumber(run.elapsed, 3) + " s"});
  items.push_back({"Date", scanreport_today()});
  items.push_back({"Program", scan_version()});
  if (!commandline.empty()) items.push_back({"Command", commandline});
  return 0;
}

// ---- Table to page -----------------------------------------------------------------------

int scanreport_fromtable(const std::string &path, const ScanMotifs &motifs,
                         const ScanSequences *sequences, const TableReportOptions &options,
                         HtmlReport *report, uint64_t *ret_mismatched) {
  const size_t count = motifs.motifs.size();
  const bool standardinput = path == "-";
  const char *name = standardinput ? "(standard input)" : path.c_str();
  if (options.centred && sequences == nullptr)
    return reporterror("centred positions need the sequences");
  Gathering g;
  g.options = &options;
  g.sequences = sequences;
  g.centred = options.centred;
  uint64_t longest = 0;
  if (sequences != nullptr)
    for (const uint64_t length : sequences->lengths) longest = std::max(longest, length);
  // With the sequences the layout is the scan's; without them it adapts to the rows.
  g.adaptive = sequences == nullptr && options.binwidth == 0;
  uint64_t width = options.binwidth > 0 ? options.binwidth
                   : sequences != nullptr ? scanreport_binwidth(longest)
                                          : 1;
  g.layout = scan_positionlayout(longest, width, g.centred);
  g.motifs.resize(count);
  besthits_init(&g.best, count, HTMLREPORT_BESTHITS);

  LineReader reader;
  reader.file = standardinput ? gzdopen(dup(0), "rb") : gzopen(name, "rb");
  if (reader.file == nullptr) return reporterror("cannot open `%s': %s", name, std::strerror(errno));
  struct Closer {
    gzFile file;
    ~Closer() { gzclose(file); }
  } closer{reader.file};
  bool failed = false;
  std::string_view line;
  if (!nextline(&reader, &line, &failed)) {
    if (failed) return reporterror("cannot read `%s'", name);
    return reporterror("`%s' is empty: no header row", name);
  }
  TableColumns columns;
  if (readheader(line, name, &columns) != 0) return -1;
  RowReader rows;
  initrowreader(&rows, name, motifs, sequences, columns);
  TableRow row;
  while (nextline(&reader, &line, &failed)) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (readrow(&rows, line, reader.number, &row) != 0) return -1;
    gatherrow(&g, motifs.motifs[row.motif], row);
  }
  if (failed) return reporterror("cannot read `%s' after line %lu", name,
                                 static_cast<unsigned long>(reader.number));

  // Without the sequences, the bins so far become those of the longest match's end.
  if (g.adaptive) {
    const uint64_t base = static_cast<uint64_t>(g.layout.width);
    width = std::max(scanreport_binwidth(g.longeststop), base);
    g.layout = scan_positionlayout(g.longeststop, width, false);
    for (TableMotif &gather : g.motifs) {
      for (std::vector<uint64_t> *bins : {&gather.forward, &gather.reverse}) {
        regroup(bins, static_cast<size_t>(width / base));
        bins->resize(g.layout.count, 0);
      }
    }
  }

  *report = HtmlReport{};
  // Titled as the scan's own page when the sequences are known.
  report->title = sequences != nullptr && !sequences->path.empty()
                      ? "Zelko scan of " + scanreport_basename(sequences->path)
                      : "Zelko scan report of " +
                            (standardinput ? std::string("a table") : scanreport_basename(path));
  report->binwidth = width;
  report->centred = g.centred;
  report->bothstrands = options.bothstrands;
  if (sequences != nullptr) {
    report->sequences = sequences->count;
    report->residues = sequences->residues;
  }
  uint64_t mismatched = 0;
  report->motifs.resize(count);
  for (size_t m = 0; m < count; m++)
    if (finishmotif(&g, motifs, m, &report->motifs[m], &mismatched) != 0) return -1;
  if (ret_mismatched != nullptr) *ret_mismatched = mismatched;

  std::vector<HtmlSummaryItem> &items = report->summary;
  std::string table = standardinput ? std::string("standard input") : path;
  table += ": " + htmlpage_thousands(g.rows) + (g.rows == 1 ? " row" : " rows");
  items.push_back({"Table", table});
  items.push_back({"Motifs", scanreport_motifstext(scanreport_motiffiles(motifs), motifs)});
  if (sequences != nullptr) {
    items.push_back({"Sequences", sequencestext(*sequences)});
    items.push_back({"Background", scanreport_backgroundtext(motifs)});
    items.push_back({"Pseudocount", formatnumber(motifs.pseudocount, 3)});
    items.push_back({"P-value cutoff", formatnumber(options.pvalue, 3)});
  } else {
    items.push_back({"Sequences", "not given: no hits per kb, windows, hits expected by "
                                  "chance or thresholds of motifs without a row"});
  }
  items.push_back({"Strands", options.bothstrands ? "both" : "forward"});
  items.push_back({"Scores", scoreunittext});
  items.push_back({"Position bins", scanreport_binstext(width, g.centred)});
  items.push_back({"Date", scanreport_today()});
  items.push_back({"Program", scan_version()});
  if (!options.commandline.empty()) items.push_back({"Command", options.commandline});
  return 0;
}
