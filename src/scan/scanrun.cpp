// scan_run: thresholds from the p-value cutoff, the search of every motif in work units of a
// profile and a range of sequences spread over per-call threads, then q-values, the q-value
// filter, the order of the rows and the per-motif summaries.
//
// Contents: work units; collecting matches; workers and the waiting caller; q-values;
// ordering; summaries; scan_run.
#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numeric>
#include <type_traits>

#include "base/error.hpp"
#include "base/output.hpp"
#include "base/threads.hpp"
#include "matching/match_simplesearch.hpp"
#include "report/reports.hpp"
#include "matching/lookahead_batch.hpp"
#include "scan/scaninternal.hpp"
#include "scan/scanstore.hpp"
#include "search/profilesearch.hpp"
#include "statistics/setthresholds.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double secondssince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---- Work units --------------------------------------------------------------------------

// One searched profile (a motif, or a motif's reverse complementary matrix) over one range of
// sequences, or one part of the lookahead batch of all of them.
struct WorkUnit {
  uint64_t motif;  // the searched profile: motif, or motifs + motif for its - strand
  bool hasrange;
  SequenceRange range;
  uint64_t work;  // letters (x profiles for a part of the batch)
  bool batchpart = false;
  uint64_t part = 0;
};

// The parts of the batch as units, each with its share of the work of all profiles.
std::vector<WorkUnit> batchunits(LookaheadBatch *batch, const ScanSequences &sequences,
                                 uint64_t profiles) {
  std::vector<WorkUnit> units;
  const uint64_t parts = lookaheadbatch_parts(batch);
  for (uint64_t part = 0; part < parts; part++) {
    const uint64_t share = sequences.residues / parts + (part < sequences.residues % parts);
    units.push_back({0, false, {0, 0}, share * profiles, true, part});
  }
  return units;
}

// The batch of a scan, released whatever happens.
struct ScanBatch {
  PreparedBatch prepared;
  ~ScanBatch() {
    releasebatchmatrices(&prepared);
    lookaheadbatch_free(prepared.batch);
  }
};

// Ranges of whole sequences of about chunk letters each.
std::vector<SequenceRange> sequencechunks(const ScanSequences &sequences, uint64_t chunk) {
  std::vector<SequenceRange> chunks;
  uint64_t first = 0, letters = 0;
  for (uint64_t i = 0; i < sequences.count; i++) {
    letters += sequences.lengths[i];
    if (letters >= chunk || i + 1 == sequences.count) {
      chunks.push_back({first, i});
      first = i + 1;
      letters = 0;
    }
  }
  return chunks;
}

// Every profile is one unit when there are enough of them to keep the threads busy, as in
// zelkosearch; otherwise the sequences are cut into ranges so that there are. Ranges stay
// below 16 M letters, so that cancelling and the progress line do not wait long.
std::vector<WorkUnit> workunits(const ScanSequences &sequences, uint64_t profiles,
                                uint64_t threads) {
  constexpr uint64_t smallest = uint64_t{1} << 16;
  constexpr uint64_t largest = uint64_t{16} << 20;
  const uint64_t wanted = 8 * threads;
  uint64_t pieces = profiles >= wanted ? 1 : (wanted + profiles - 1) / profiles;
  uint64_t chunk = std::max<uint64_t>(sequences.residues / pieces, smallest);
  chunk = std::min(chunk, largest);
  if (chunk >= sequences.residues) chunk = sequences.residues + 1;
  const std::vector<SequenceRange> chunks = sequencechunks(sequences, chunk);
  std::vector<uint64_t> letters;
  for (const SequenceRange &range : chunks) {
    uint64_t sum = 0;
    for (uint64_t i = range.first; i <= range.last; i++) sum += sequences.lengths[i];
    letters.push_back(sum);
  }
  std::vector<WorkUnit> units;
  for (uint64_t profile = 0; profile < profiles; profile++) {
    if (chunks.size() <= 1) {
      units.push_back({profile, false, {0, 0}, sequences.residues});
      continue;
    }
    for (size_t c = 0; c < chunks.size(); c++) {
      units.push_back({profile, true, chunks[c], letters[c]});
    }
  }
  return units;
}

// ---- Collecting matches ------------------------------------------------------------------

// The sequence that holds a position, in a step or two: the sequences' starts, and per
// bucket of positions the last sequence starting at or before the bucket's first position.
struct SequenceFinder {
  std::vector<uint64_t> starts;
  std::vector<uint32_t> buckets;
  unsigned shift = 0;
  uint64_t total = 0;  // coded positions
  void build(const Multiseq *multiseq) {
    const uint64_t count = multiseq->numofsequences;
    total = multiseq->totallength;
    starts.resize(count);
    for (uint64_t i = 0; i < count; i++) starts[i] = seqstartposition(multiseq, i);
    const uint64_t total = std::max<uint64_t>(multiseq->totallength, 1);
    shift = 4;
    while ((total >> shift) > 2 * count + 16) shift++;
    buckets.assign((total >> shift) + 1, 0);
    uint32_t sequence = 0;
    for (uint64_t b = 0; b < buckets.size(); b++) {
      while (sequence + 1 < count && starts[sequence + 1] <= (b << shift)) sequence++;
      buckets[b] = sequence;
    }
  }
  uint32_t find(uint64_t position) const {
    uint32_t sequence = buckets[std::min<uint64_t>(position >> shift, buckets.size() - 1)];
    while (sequence + 1 < starts.size() && starts[sequence + 1] <= position) sequence++;
    return sequence;
  }
};

struct WorkerContext {
  WorkerStore *store = nullptr;
  // The motif of the unit's profile, with HIT_REVERSE when the profile is the motif's reverse
  // complementary matrix: its matches, found on the forward text, are the motif's on the -
  // strand.
  uint32_t tag = 0;
  uint64_t profile = 0;
  const SequenceFinder *finder = nullptr;
};

// The ReportFunction of the scan: location, score and p-value of the match, kept by the
// worker's store.
int collecthit(Match *match) {
  SearchJob *job = match->job;
  WorkerContext *context = static_cast<WorkerContext *>(job->userdata);
  job->matchcount++;
  // The match lies in one sequence: the one its first letter is in.
  const uint64_t first = match->endposition + 1 - match->length;
  if (match->endposition >= context->finder->total) {
    MatchLocation location;
    return match_location(match, &location) != 0 ? -1 : internalerror();
  }
  const uint32_t sequence = context->finder->find(first);
  // A p-value follows from the profile and the score: computed once per score.
  ScoreCount &count = context->store->countof(context->profile, match->score.i);
  if (count.count == 0) {
    MatchStatistics statistics;
    if (match_statistics(job->profile, job, match->score, &statistics) != 0) return -1;
    count.pvalue = statistics.pvalue;
  }
  count.count++;
  HitRecord hit;
  hit.sequence = sequence;
  hit.position = first - context->finder->starts[sequence];
  hit.score = match->score.i;
  hit.pvalue = count.pvalue;
  hit.profile = context->tag;
  return context->store->keep(hit);
}

// ---- Workers and the waiting caller ------------------------------------------------------

struct RunShared {
  const std::vector<WorkUnit> *units;
  uint64_t worktotal = 0;  // of all units of the run (those of the batch's parts too)
  LookaheadBatch *batch = nullptr;
  std::atomic<uint64_t> workers{0};  // numbers the workers, whose scratch in the batch it is
  std::vector<WorkerStore> *stores = nullptr;
  const SequenceFinder *finder = nullptr;
  const std::vector<Profile *> *profiles;  // the motifs', then their reverse matrices
  uint64_t motifs = 0;
  SearchJob templatejob;
  std::atomic<bool> *cancel;
  std::atomic<uint64_t> next{0};
  std::atomic<uint64_t> workdone{0};
  std::atomic<uint64_t> hits{0};
  std::atomic<uint64_t> finished{0};
  std::atomic<bool> stop{false};
  std::atomic<bool> failed{false};
  std::atomic<bool> cancelled{false};
  Mutex errorlock;
  std::string errormessage;
  // Only when the caller's thread does the work itself: the progress callback between units.
  const ScanOptions *options = nullptr;
  Clock::time_point start;
};

ScanProgress progressof(const RunShared *shared, uint64_t worktotal) {
  ScanProgress progress;
  progress.worktotal = worktotal;
  progress.workdone = shared->workdone.load();
  progress.hits = shared->hits.load();
  progress.elapsed = secondssince(shared->start);
  return progress;
}

bool cancelrequested(RunShared *shared) {
  if (shared->cancel != nullptr && shared->cancel->load()) shared->cancelled = true;
  return shared->cancelled.load() || shared->stop.load();
}

void *workerbody(void *argument) {
  RunShared *shared = static_cast<RunShared *>(argument);
  WorkerContext context;
  SearchJob job = shared->templatejob;
  job.userdata = &context;
  context.finder = shared->finder;
  const uint64_t count = shared->units->size();
  const uint64_t worktotal = shared->worktotal;
  const uint64_t worker = shared->workers.fetch_add(1);
  Clock::time_point lastprogress = Clock::now();
  while (!cancelrequested(shared)) {
    const uint64_t index = shared->next.fetch_add(1);
    if (index >= count) break;
    const WorkUnit &unit = (*shared->units)[index];
    job.matchcount = 0;
    if (unit.batchpart) {
      lookaheadbatch_runpart(shared->batch, unit.part, worker);
      // The part's hits of every profile go to the worker's store at once.
      context.store = &(*shared->stores)[worker];
      int reported = 0;
      for (uint64_t profile = 0; profile < shared->profiles->size() && reported == 0; profile++) {
        const uint64_t number = shared->templatejob.batchnumbers[4 * profile];
        if (number == BATCH_NONE) continue;
        Profile *searched = (*shared->profiles)[profile];
        context.profile = profile;
        context.tag = static_cast<uint32_t>(profile % shared->motifs) |
                      (profile >= shared->motifs ? HIT_REVERSE : 0);
        job.profile = searched;
        job.strand = STRAND_FORWARD;
        reported = lookaheadbatch_reportpart(shared->batch, unit.part, number, &searched->matrix,
                                             collecthit, &job);
      }
      if (reported != 0) {
        MutexGuard guard(&shared->errorlock);
        shared->errormessage = errormessageorunknown();
        shared->failed = true;
        shared->stop = true;
        break;
      }
    } else {
      context.store = &(*shared->stores)[worker];
      context.profile = unit.motif;
      context.tag = static_cast<uint32_t>(unit.motif % shared->motifs) |
                    (unit.motif >= shared->motifs ? HIT_REVERSE : 0);
      job.range = unit.hasrange ? &unit.range : nullptr;
      job.batchindex = unit.motif;
      if (profileroutine(&job, (*shared->profiles)[unit.motif]) != 0) {
        MutexGuard guard(&shared->errorlock);
        shared->errormessage = errormessageorunknown();
        shared->failed = true;
        shared->stop = true;
        break;
      }
    }
    shared->workdone += unit.work;
    shared->hits += job.matchcount;
    const ScanOptions *options = shared->options;
    if (options != nullptr && options->progress != nullptr &&
        std::chrono::duration<double>(Clock::now() - lastprogress).count() >=
            options->progressinterval) {
      lastprogress = Clock::now();
      if (options->progress(progressof(shared, worktotal), options->progresscontext) != 0) {
        shared->cancelled = true;
      }
    }
  }
  shared->finished++;
  return nullptr;
}

// Runs the units in threads (the caller's thread waits, reports progress and watches the
// flag) or, with one thread, on the caller's thread: 0, or -1 with the message. A run may
// take its units in more than one call (the batch's parts, then the motifs); the last one
// reports the progress at its end.
int runworkers(RunShared *shared, uint64_t threads, const ScanOptions &options, bool last,
               uint64_t *ret_threadsused) {
  const uint64_t worktotal = shared->worktotal;
  shared->next = 0;
  shared->finished = 0;
  shared->workers = 0;
  threads = std::min<uint64_t>(threads, std::max<size_t>(shared->units->size(), 1));
  if (threads <= 1) {
    shared->options = &options;
    *ret_threadsused = 1;
    workerbody(shared);
  } else {
    std::vector<Thread> handles(threads);
    const int64_t started = startthreads(handles.data(), threads, workerbody, shared);
    if (started < 0) return -1;
    *ret_threadsused = static_cast<uint64_t>(started);
    const auto pause = std::chrono::duration<double>(std::min(options.progressinterval, 0.01));
    Clock::time_point lastprogress = Clock::now();
    while (shared->finished.load() < static_cast<uint64_t>(started)) {
      const auto nanoseconds =
          std::chrono::duration_cast<std::chrono::nanoseconds>(pause).count();
      const timespec delay = {0, static_cast<long>(std::max<int64_t>(nanoseconds, 1000000))};
      nanosleep(&delay, nullptr);
      cancelrequested(shared);
      if (options.progress != nullptr &&
          secondssince(lastprogress) >= options.progressinterval) {
        lastprogress = Clock::now();
        if (options.progress(progressof(shared, worktotal), options.progresscontext) != 0) {
          shared->cancelled = true;
        }
      }
    }
    for (int64_t i = 0; i < started; i++) {
      void *unused = nullptr;
      threadjoin(&handles[i], &unused);
    }
  }
  if (shared->failed) return reporterror("%s", shared->errormessage.c_str());
  if (shared->cancelled || (options.cancel != nullptr && options.cancel->load())) {
    return reporterror("scan cancelled");
  }
  if (last && options.progress != nullptr) {
    // A last report, so that a progress line can end at 100 %.
    options.progress(progressof(shared, worktotal), options.progresscontext);
  }
  return 0;
}

// ---- q-values ----------------------------------------------------------------------------

// The q-value of every score a motif's matches have, per strand: Benjamini-Hochberg over the
// motif's windows, q(p) = min over p' >= p of p' N / #{matches with p-value <= p'}, at most 1.
// A p-value follows from the strand and the score, so the matches' counts by score give
// every q-value exactly, as the ranks of the matches sorted by p-value would.
struct QvalueTable {
  std::vector<int64_t> scores;  // ascending
  std::vector<double> qvalues;
  // The entry of a score that matches have.
  size_t find(int64_t score) const {
    return static_cast<size_t>(std::lower_bound(scores.begin(), scores.end(), score) -
                               scores.begin());
  }
};

// The tables of one motif from the stores' counts of its profiles (forward, then the -
// strand's when searched); returns the motif's matches.
uint64_t qvaluetables(const std::vector<WorkerStore> &stores, const uint64_t *profiles,
                      size_t count, double windows, std::vector<QvalueTable> *tables) {
  struct Entry {
    double pvalue;
    uint64_t count;
    size_t table;
    size_t index;
  };
  std::vector<Entry> entries;
  for (size_t t = 0; t < count; t++) {
    std::vector<std::pair<int64_t, ScoreCount>> merged;
    for (const WorkerStore &store : stores) {
      store.counts[profiles[t]].each(
          [&merged](int64_t score, const ScoreCount &count) { merged.push_back({score, count}); });
    }
    std::sort(merged.begin(), merged.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    QvalueTable &table = (*tables)[profiles[t]];
    table = QvalueTable{};
    for (const auto &[score, count] : merged) {
      if (!table.scores.empty() && table.scores.back() == score) {
        entries.back().count += count.count;
        continue;
      }
      table.scores.push_back(score);
      entries.push_back({count.pvalue, count.count, profiles[t], table.scores.size() - 1});
    }
    table.qvalues.assign(table.scores.size(), 1.0);
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry &a, const Entry &b) { return a.pvalue < b.pvalue; });
  uint64_t total = 0;
  for (const Entry &entry : entries) total += entry.count;
  // From the largest p-value down; the matches of one p-value share its q-value.
  double running = 1.0;
  uint64_t atmost = total;
  for (size_t end = entries.size(); end > 0;) {
    size_t first = end - 1;
    while (first > 0 && entries[first - 1].pvalue == entries[end - 1].pvalue) first--;
    const double q = entries[end - 1].pvalue * windows / static_cast<double>(atmost);
    running = std::min(running, q);
    for (size_t i = first; i < end; i++) {
      (*tables)[entries[i].table].qvalues[entries[i].index] = running;
      atmost -= entries[i].count;
    }
    end = first;
  }
  return total;
}

// ---- Summaries ---------------------------------------------------------------------------

// Windows of every sequence the motif fits in.
uint64_t windowsof(const std::vector<uint64_t> &sortedlengths,
                   const std::vector<uint64_t> &suffixsums, uint64_t m) {
  if (m == 0) return 0;
  const auto first = std::lower_bound(sortedlengths.begin(), sortedlengths.end(), m);
  const size_t index = static_cast<size_t>(first - sortedlengths.begin());
  const uint64_t fitting = sortedlengths.size() - index;
  return suffixsums[index] - fitting * (m - 1);
}

// Empty position and score bins of one motif's summary.
void startbins(const ScanPositionLayout &positions, uint64_t scorebins, const ScanMotif &motif,
               ScanMotifSummary *summary) {
  summary->binorigin = positions.origin;
  summary->forwardbins.assign(positions.count, 0);
  summary->reversebins.assign(positions.count, 0);
  // From the lower threshold of the strands that can reach theirs.
  const bool forward = summary->reachable, reverse = summary->reversereachable;
  const int64_t low = forward && reverse ? std::min(summary->threshold, summary->reversethreshold)
                      : reverse          ? summary->reversethreshold
                                         : summary->threshold;
  const ScanScoreLayout scores =
      scan_scorelayout(motif, forward || reverse, low, motif.maxscore, scorebins);
  summary->scorelow = scores.low;
  summary->scorebinwidth = scores.width;
  summary->scorebins.assign(scores.count, 0);
}

// Counts a row of its motif in the bins startbins made: its centre by strand, its score.
void binrow(const ScanPositionLayout &positions, bool centred, const ScanSequences &sequences,
            const ScanMotif &motif, const ScanRow &row, ScanMotifSummary *summary) {
  const int64_t position =
      scan_hitposition(row.start, motif.length, sequences.lengths[row.sequence], centred);
  (row.strand == '-' ? summary->reversebins
                     : summary->forwardbins)[scan_positionbin(positions, position)]++;
  const ScanScoreLayout scores{summary->scorelow, summary->scorebinwidth,
                               summary->scorebins.size()};
  summary->scorebins[scan_scorebin(scores, row.score)]++;
}

// ---- Rows ----------------------------------------------------------------------------------

// Where the rows go: the result's columns, or a table. profile and entry name the row's
// entry of the q-value tables: its strand and score.
using RowSink = int (*)(const ScanRow &row, uint64_t profile, uint64_t entry, void *context);

// The records of the merge turned into rows: q-value, the q-value filter, the summaries.
struct RowStream {
  const ScanOptions *options = nullptr;
  const ScanMotifs *motifs = nullptr;
  const ScanSequences *sequences = nullptr;
  const std::vector<QvalueTable> *qvalues = nullptr;
  const std::vector<bool> *keep = nullptr;  // the motifs whose rows are wanted; null: all
  uint64_t motifcount = 0;
  std::vector<ScanMotifSummary> *summaries = nullptr;
  // Sequences with a row, per motif: the last one seen where a motif's rows come by
  // sequence (position and genome order), else one bit per sequence.
  std::vector<uint64_t> lastsequence;
  std::vector<std::vector<uint64_t>> seen;
  bool bysequence = true;
  ScanPositionLayout positions;
  RowSink sink = nullptr;
  void *sinkcontext = nullptr;
};

int streamrecord(const HitRecord &hit, void *context) {
  RowStream *stream = static_cast<RowStream *>(context);
  ScanRow row;
  row.motif = hitmotif(hit);
  if (stream->keep != nullptr && !(*stream->keep)[row.motif]) return 0;
  const bool reverse = hitreverse(hit);
  const uint64_t profile = row.motif + (reverse ? stream->motifcount : 0);
  const QvalueTable &table = (*stream->qvalues)[profile];
  const size_t entry = table.find(hit.score);
  row.qvalue = table.qvalues[entry];
  const ScanOptions &options = *stream->options;
  if (options.useqvalue && !(row.qvalue <= options.qvalue)) return 0;
  row.sequence = hit.sequence;
  row.start = hit.position + 1;
  row.strand = reverse ? '-' : '+';
  row.score = hit.score;
  row.pvalue = hit.pvalue;
  ScanMotifSummary *summary = &(*stream->summaries)[row.motif];
  summary->hits++;
  if (stream->bysequence) {
    if (stream->lastsequence[row.motif] != hit.sequence) {
      stream->lastsequence[row.motif] = hit.sequence;
      summary->sequenceswithhit++;
    }
  } else {
    std::vector<uint64_t> &bits = stream->seen[row.motif];
    if (bits.empty()) bits.assign((stream->sequences->count + 63) / 64, 0);
    uint64_t &word = bits[hit.sequence / 64];
    const uint64_t bit = uint64_t{1} << (hit.sequence % 64);
    if ((word & bit) == 0) {
      word |= bit;
      summary->sequenceswithhit++;
    }
  }
  if (options.histogram.enabled) {
    binrow(stream->positions, options.histogram.centred, *stream->sequences,
           stream->motifs->motifs[row.motif], row, summary);
  }
  return stream->sink(row, profile, entry, stream->sinkcontext);
}

int appendcolumns(const ScanRow &row, uint64_t, uint64_t, void *context) {
  ScanHits *hits = static_cast<ScanHits *>(context);
  hits->motif.push_back(row.motif);
  hits->sequence.push_back(row.sequence);
  hits->start.push_back(row.start);
  hits->strand.push_back(row.strand);
  hits->score.push_back(row.score);
  hits->pvalue.push_back(row.pvalue);
  hits->qvalue.push_back(row.qvalue);
  return 0;
}

// The numbers of a row that follow from its strand and score (score, p-value, E-value, MSS,
// q-value), formatted once for every entry of the q-value tables that rows have: a table
// has far fewer of them than rows. The cache stops growing at a bound; rows beyond it are
// formatted one by one.
class NumberCache {
 public:
  void setup(const std::vector<QvalueTable> &tables) {
    uint64_t entries = 0;
    for (const QvalueTable &table : tables) {
      firsts_.push_back(entries);
      entries += table.scores.size();
    }
    if (entries <= maxentries) places_.assign(entries, Place{});
  }
  // The texts of an entry, or null when it is not cached (and cannot be).
  const RowNumbers *get(uint64_t profile, uint64_t entry, const ScanRow &row,
                        TableRowWriter *writer) {
    if (places_.empty()) return nullptr;
    Place &place = places_[firsts_[profile] + entry];
    if (place.length[0] == 0) {
      if (text_.size() >= maxbytes) return nullptr;
      writer->numbers(row, &numbers_);
      place.offset = text_.size();
      const std::string_view parts[5] = {numbers_.score, numbers_.pvalue, numbers_.evalue,
                                         numbers_.mss, numbers_.qvalue};
      for (int i = 0; i < 5; i++) {
        text_.append(parts[i]);
        place.length[i] = static_cast<uint8_t>(parts[i].size());
      }
    }
    // Views into the text stay valid only until it grows: taken now, used at once.
    const char *at = text_.data() + place.offset;
    std::string_view *parts[5] = {&numbers_.score, &numbers_.pvalue, &numbers_.evalue,
                                  &numbers_.mss, &numbers_.qvalue};
    for (int i = 0; i < 5; i++) {
      *parts[i] = std::string_view(at, place.length[i]);
      at += place.length[i];
    }
    return &numbers_;
  }

 private:
  static constexpr uint64_t maxentries = uint64_t{1} << 22;
  static constexpr uint64_t maxbytes = uint64_t{192} << 20;
  struct Place {
    uint64_t offset = 0;
    uint8_t length[5] = {};
  };
  std::vector<uint64_t> firsts_;
  std::vector<Place> places_;
  std::string text_;
  RowNumbers numbers_;
};

// A table being written from the rows, a block of them at a time: the letters of a block's
// texts are fetched together, which hides most of the wait for memory.
struct PendingRow {
  ScanRow row;
  uint64_t profile, entry;
};
struct TableSink {
  TableRowWriter *writer;
  const ScanMotifs *motifs;
  const ScanSequences *sequences;
  const ScanTableOutput *output;
  bool matchedtext;
  std::string scratch, text;
  std::vector<PendingRow> block;
  NumberCache numbers;
};

constexpr size_t rowblock = 64;

int writeblock(TableSink *sink) {
  for (const PendingRow &pending : sink->block) {
    const ScanRow &row = pending.row;
    if (sink->matchedtext) {
      scanrowtext(*sink->motifs, *sink->sequences, row, &sink->scratch, &sink->text);
    }
    sink->writer->row(row, sink->text,
                      sink->numbers.get(pending.profile, pending.entry, row, sink->writer));
    if (sink->output->row != nullptr && sink->output->row(row, sink->output->rowcontext) != 0) {
      if (geterrorcode() == 0) reporterror("scan cancelled");
      return -1;
    }
  }
  sink->block.clear();
  return 0;
}

int writerow(const ScanRow &row, uint64_t profile, uint64_t entry, void *context) {
  TableSink *sink = static_cast<TableSink *>(context);
  if (sink->matchedtext) scanprefetchtext(*sink->sequences, row);
  sink->block.push_back({row, profile, entry});
  return sink->block.size() == rowblock ? writeblock(sink) : 0;
}

// ---- The run -----------------------------------------------------------------------------

int checkoptions(const ScanOptions &options) {
  if (!(options.pvalue > 0.0 && options.pvalue <= 1.0)) {
    return reporterror("The p-value cutoff must lie above 0 and at most 1.");
  }
  if (options.useqvalue && !(options.qvalue >= 0.0 && options.qvalue <= 1.0)) {
    return reporterror("The q-value cutoff must lie between 0 and 1.");
  }
  if (options.threads > 128) return reporterror("At most 128 threads can be used.");
  return 0;
}

// The scan, its rows going to the result's columns (table null) or to a table in bounded
// memory.
int runscan(ScanMotifs *motifs, ScanSequences *sequences, const ScanOptions &options,
            const ScanTableOutput *table, ScanResult *out, ScanCall *call) {
  const Clock::time_point start = Clock::now();
  if (checkoptions(options) != 0) return -1;
  if (motifs->library == nullptr || motifs->motifs.empty()) return reporterror("no motifs were read");
  const ScanAlphabet alphabet =
      options.alphabet == SCAN_ALPHABET_AUTO ? motifs->alphabet : options.alphabet;
  // The scan's threads read a sequence file not yet loaded and compute the thresholds too.
  const uint64_t threads = options.threads == 0 ? scan_availablethreads() : options.threads;
  if (scanloadsequences(sequences, alphabet, threads) != 0) return -1;
  if (scanpreparemotifs(motifs, *sequences, options.background, options.pseudocount) != 0) {
    return -1;
  }
  call->deliverwarnings();
  ScanLibrary *library = motifs->library;
  ScanDatabase *database = sequences->database;

  // The search's settings: the p-value cutoff through the lazy distribution under the
  // background, with the lookahead engine. An index is searched the same way over its
  // sequences: the lookahead engine is faster than the index engine at every cutoff and finds
  // the same windows.
  SearchSettings settings;
  initsearchsettings(&settings);
  settings.jobs = threads;
  settings.thresholdkind = THRESHOLD_PVALUE;
  settings.thresholdvalue = options.pvalue;
  settings.lazy = true;
  settings.frequencies = library->frequencies.data();
  settings.dbsize = sequences->totallength;
  settings.algorithm = ALGORITHM_LOOKAHEAD;
  // Every profile is searched on the forward text: the motifs, and for the - strand their
  // reverse complementary matrices, each with the threshold of its own distribution.
  settings.strands = STRAND_FORWARD;
  ComplementTables complement{};
  bool bothstrands = false;
  if (options.strands == SCAN_STRANDS_BOTH && library->hasreverse) {
    // Warnings about the alphabet's letter pairs are the search's business, not the user's.
    const bool warnings = warningsenabled();
    outputinit(false, false);
    bothstrands = preparecomplement(&database->tree.alpha, false, &complement) == 0;
    clearerrorcode();
    outputinit(false, warnings);
  }
  const uint64_t strands = bothstrands ? 2 : 1;
  // The letters of the - strand's matched texts, for scan_hittext.
  database->complemented = bothstrands;
  std::memcpy(database->complementcharacters, complement.characters,
              sizeof database->complementcharacters);
  const size_t count = motifs->motifs.size();
  if (count >= HIT_REVERSE) {
    return reporterror("at most %lu motifs can be scanned at once",
                       static_cast<unsigned long>(HIT_REVERSE - 1));
  }
  if (sequences->count > UINT32_MAX) {
    return reporterror("at most %lu sequences can be scanned at once",
                       static_cast<unsigned long>(UINT32_MAX));
  }
  std::vector<Profile *> profiles = library->profiles;
  if (bothstrands) {
    profiles.insert(profiles.end(), library->reverseprofiles.begin(),
                    library->reverseprofiles.end());
  }

  // Thresholds through the exact lazy distribution. Its warnings name lines of the generated
  // library; the motifs that cannot reach the cutoff are named here instead.
  {
    const bool warnings = warningsenabled();
    outputinit(false, false);
    int result = 0;
    for (ProfileCollection &collection : library->collections) {
      if (prepare_with_frequencies(&collection, &settings, nullptr) != 0) {
        result = -1;
        break;
      }
    }
    if (result == 0 && bothstrands &&
        prepare_with_frequencies(&library->reversecollection, &settings, nullptr) != 0) {
      result = -1;
    }
    outputinit(false, warnings);
    if (result != 0) return -1;
  }
  out->motifs.assign(count, ScanMotifSummary{});
  std::string unreachable;
  uint64_t unreachablecount = 0;
  for (size_t i = 0; i < count; i++) {
    const Profile *profile = library->profiles[i];
    ScanMotifSummary *summary = &out->motifs[i];
    summary->threshold = profile->matrix.threshold.i;
    summary->reachable = profile->matrix.threshold.i <= profile->matrix.maxscore.i;
    const Profile *reverse = bothstrands ? library->reverseprofiles[i] : profile;
    summary->reversethreshold = reverse->matrix.threshold.i;
    summary->reversereachable = reverse->matrix.threshold.i <= reverse->matrix.maxscore.i;
    if (!summary->reachable && !summary->reversereachable) {
      // Short or vague motifs: named once, a few of them.
      if (++unreachablecount <= 5) {
        unreachable += unreachablecount == 1 ? "" : ", ";
        unreachable += motifs->motifs[i].id;
      }
    }
  }
  if (unreachablecount > 0) {
    printwarning("%lu motif%s cannot reach a p-value of %g on this background and %s no "
                 "matches: %s%s\n",
                 static_cast<unsigned long>(unreachablecount), unreachablecount == 1 ? "" : "s",
                 options.pvalue, unreachablecount == 1 ? "has" : "have", unreachable.c_str(),
                 unreachablecount > 5 ? ", ..." : ".");
  }
  call->deliverwarnings();

  // The search. Without an index, the lookahead searches of all motifs and strands run first
  // as one batch over the database, its parts taken by the threads as units; the motifs'
  // units then report their hits from it.
  RunShared shared;
  shared.profiles = &profiles;
  shared.motifs = count;
  shared.cancel = options.cancel;
  shared.start = Clock::now();
  SearchJob &job = shared.templatejob;
  job = SearchJob{};
  job.settings = &settings;
  job.frequencies = settings.frequencies;
  job.dbsize = settings.dbsize;
  job.database = &database->tree;
  job.isindex = database->isindex;
  job.firstreport = collecthit;
  for (int i = 0; i < 256; i++) job.swapmap[i] = static_cast<unsigned char>(i);
  const uint64_t profilecount = profiles.size();
  ScanBatch batch;
  // The batch's parts of at most 32 M letters each report their hits as soon as they have
  // run, so that its lists hold the hits of the parts in hand only, and no matrix is ever
  // given up to be searched again on its own.
  constexpr uint64_t partletters = uint64_t{32} << 20;
  preparebatch(&job, profiles.data(), profilecount, threads, &batch.prepared,
               (sequences->totallength + partletters - 1) / partletters);
  if (batch.prepared.batch != nullptr) lookaheadbatch_setbudget(batch.prepared.batch, UINT64_MAX);
  std::vector<WorkUnit> units;
  std::vector<WorkUnit> parts;
  if (batch.prepared.batch != nullptr) {
    parts = batchunits(batch.prepared.batch, *sequences, profilecount);
    for (uint64_t profile = 0; profile < profilecount; profile++) {
      units.push_back({profile, false, {0, 0}, 0});
    }
    job.batch = batch.prepared.batch;
    job.batchnumbers = batch.prepared.numbers.data();
    shared.batch = batch.prepared.batch;
  } else {
    units = workunits(*sequences, profilecount, threads);
  }
  // The matches' records: each worker's own store, spilling beyond its share of the memory
  // when a table is written.
  std::vector<uint64_t> motiflengths(count);
  for (size_t i = 0; i < count; i++) motiflengths[i] = motifs->motifs[i].length;
  StoreSettings storesettings;
  storesettings.order.sort = options.sort;
  storesettings.order.lengths = motiflengths.data();
  if (table != nullptr) {
    storesettings.budget = table->memory / threads;
    storesettings.tmpdir = spillfolder(table->tmpdir);
  }
  std::vector<WorkerStore> stores(threads);
  for (WorkerStore &store : stores) store.setup(&storesettings, profilecount);
  shared.stores = &stores;
  SequenceFinder finder;
  finder.build(&database->tree.multiseq);
  shared.finder = &finder;
  for (const std::vector<WorkUnit> *list : {&parts, &units})
    for (const WorkUnit &unit : *list) shared.worktotal += unit.work;
  if (mutexinit(&shared.errorlock) != 0) return internalerror();
  uint64_t threadsused = 1;
  int searched = 0;
  if (!parts.empty()) {
    shared.units = &parts;
    searched = runworkers(&shared, threads, options, false, &threadsused);
    releasebatchmatrices(&batch.prepared);
  }
  if (searched == 0) {
    uint64_t used = 1;
    shared.units = &units;
    searched = runworkers(&shared, threads, options, true, &used);
    threadsused = std::max(threadsused, used);
  }
  mutexdestroy(&shared.errorlock);
  if (searched != 0) return -1;

  // q-values per motif from the counts of its matches by score.
  for (WorkerStore &store : stores) store.seal();
  std::vector<uint64_t> sortedlengths = sequences->lengths;
  std::sort(sortedlengths.begin(), sortedlengths.end());
  std::vector<uint64_t> suffixsums(sortedlengths.size() + 1, 0);
  for (size_t i = sortedlengths.size(); i-- > 0;) {
    suffixsums[i] = suffixsums[i + 1] + sortedlengths[i];
  }
  std::vector<QvalueTable> qvalues(profilecount);
  uint64_t found = 0;
  for (uint64_t motif = 0; motif < count; motif++) {
    ScanMotifSummary *summary = &out->motifs[motif];
    summary->windows = windowsof(sortedlengths, suffixsums, motifs->motifs[motif].length) * strands;
    const uint64_t tables[2] = {motif, count + motif};
    found += qvaluetables(stores, tables, bothstrands ? 2 : 1,
                          static_cast<double>(summary->windows), &qvalues);
  }
  for (WorkerStore &store : stores) std::vector<ScoreCounts>().swap(store.counts);
  const uint64_t maxlength = sortedlengths.empty() ? 0 : sortedlengths.back();
  std::vector<uint64_t>().swap(sortedlengths);
  std::vector<uint64_t>().swap(suffixsums);

  // What the run was.
  // What the run was.
  ScanRunInfo &run = out->run;
  run = ScanRunInfo{};
  for (const ScanSource &source : library->sources) run.motiffiles.push_back(source.path);
  run.sequencefile = sequences->path;
  run.motifs = count;
  run.sequences = sequences->count;
  run.residues = sequences->residues;
  run.filebytes = sequences->filebytes;
  run.options = options;
  run.options.threads = threads;
  run.options.cancel = nullptr;
  run.options.progress = nullptr;
  run.options.progresscontext = nullptr;
  run.options.warning = nullptr;
  run.options.warningcontext = nullptr;
  run.options.strands = strands == 2 ? SCAN_STRANDS_BOTH : SCAN_STRANDS_FORWARD;
  run.options.alphabet = sequences->alphabet;
  run.backgroundsource = motifs->backgroundsource;
  run.backgroundletters = motifs->backgroundletters;
  run.backgroundfrequencies = motifs->backgroundfrequencies;
  run.threadsused = threadsused;
  run.isindex = sequences->isindex;
  run.totallength = sequences->totallength;
  // The rows in the table's order: every run merged, each record's q-value looked up, the
  // filter applied, the summaries counted.
  RowStream stream;
  stream.options = &options;
  stream.motifs = motifs;
  stream.sequences = sequences;
  stream.qvalues = &qvalues;
  stream.motifcount = count;
  stream.summaries = &out->motifs;
  stream.bysequence = options.sort != SCAN_SORT_PVALUE;
  if (stream.bysequence) {
    stream.lastsequence.assign(count, UINT64_MAX);
  } else {
    stream.seen.resize(count);
  }
  if (options.histogram.enabled) {
    const ScanHistogramRequest &request = options.histogram;
    stream.positions = scan_positionlayout(maxlength, request.binwidth, request.centred);
    for (size_t motif = 0; motif < count; motif++) {
      startbins(stream.positions, request.scorebins, motifs->motifs[motif], &out->motifs[motif]);
    }
  }
  ScanHits &hits = out->hits;
  hits = ScanHits{};
  std::unique_ptr<TableRowWriter> writer;
  TableSink tablesink{};
  tablesink.block.reserve(rowblock);
  if (table != nullptr) tablesink.numbers.setup(qvalues);
  if (table == nullptr) {
    hits.motif.reserve(found);
    hits.sequence.reserve(found);
    hits.start.reserve(found);
    hits.strand.reserve(found);
    hits.score.reserve(found);
    hits.pvalue.reserve(found);
    hits.qvalue.reserve(found);
    stream.sink = appendcolumns;
    stream.sinkcontext = &hits;
  } else {
    writer = std::make_unique<TableRowWriter>(*motifs, *sequences, run, out->motifs,
                                              table->format, table->stream);
    tablesink.writer = writer.get();
    tablesink.motifs = motifs;
    tablesink.sequences = sequences;
    tablesink.output = table;
    tablesink.matchedtext = options.matchedtext;
    if (!table->keep.empty()) stream.keep = &table->keep;
    stream.sink = writerow;
    stream.sinkcontext = &tablesink;
  }
  ScanMemory &memory = run.memory;
  memory.sequences = sequences->totallength;
  for (const std::string &name : sequences->names) memory.sequences += name.size();
  memory.matches = lookaheadbatch_peakbytes(batch.prepared.batch);
  for (const WorkerStore &store : stores) {
    memory.matches += store.peakheld * sizeof(HitRecord);
    memory.runs += store.fileruns.size();
    memory.spilled += store.spilled * sizeof(HitRecord);
  }
  if (mergeruns(&stores, storesettings.order, storesettings.tmpdir, streamrecord, &stream) != 0) {
    return -1;
  }
  if (writer != nullptr && (writeblock(&tablesink) != 0 || writer->finish() != 0)) return -1;
  run.elapsed = secondssince(start);
  return 0;
}

}  // namespace

int scan_run(ScanMotifs *motifs, ScanSequences *sequences, const ScanOptions &options,
             ScanResult *out) {
  ScanCall call(options.warnings, options.warning, options.warningcontext);
  return call.finish(runscan(motifs, sequences, options, nullptr, out, &call));
}

int scan_runtable(ScanMotifs *motifs, ScanSequences *sequences, const ScanOptions &options,
                  const ScanTableOutput &output, ScanResult *out) {
  ScanCall call(options.warnings, options.warning, options.warningcontext);
  if (output.stream == nullptr) return call.finish(reporterror("no stream to write the table to"));
  if (!output.keep.empty() && output.keep.size() != motifs->motifs.size()) {
    return call.finish(reporterror("the table's choice of motifs has %lu flags for %lu motifs",
                                   static_cast<unsigned long>(output.keep.size()),
                                   static_cast<unsigned long>(motifs->motifs.size())));
  }
  return call.finish(runscan(motifs, sequences, options, &output, out, &call));
}
