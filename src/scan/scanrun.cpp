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
#include "scan/scaninternal.hpp"
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

// A match as the search finds it: 32 bytes. Its stop, E-value, MSS and text follow from it
// when the table is written.
struct RawHit {
  uint64_t position;  // of the first letter in its sequence, from 0
  int64_t score;
  double pvalue;
  uint32_t sequence;
  char strand;  // '+' or '-'
};

// The matches of one unit.
struct UnitHits {
  std::vector<RawHit> hits;
};

struct WorkerContext {
  UnitHits *unit = nullptr;
  // Whether the unit's profile is a motif's reverse complementary matrix: its matches, found
  // on the forward text, are the motif's on the - strand.
  bool reverse = false;
};

// The ReportFunction of the scan: location and p-value of the match, kept in the unit's list.
int collecthit(Match *match) {
  SearchJob *job = match->job;
  WorkerContext *context = static_cast<WorkerContext *>(job->userdata);
  job->matchcount++;
  MatchLocation location;
  if (match_location(match, &location) != 0) return -1;
  MatchStatistics statistics;
  if (match_statistics(job->profile, job, match->score, &statistics) != 0) return -1;
  RawHit hit;
  hit.sequence = static_cast<uint32_t>(location.seqnum);
  hit.position = location.seqposition;
  hit.score = match->score.i;
  hit.pvalue = statistics.pvalue;
  hit.strand = context->reverse || strandisreverse(job->strand) ? '-' : '+';
  context->unit->hits.push_back(hit);
  return 0;
}

// ---- Workers and the waiting caller ------------------------------------------------------

struct RunShared {
  const std::vector<WorkUnit> *units;
  uint64_t worktotal = 0;  // of all units of the run (those of the batch's parts too)
  LookaheadBatch *batch = nullptr;
  std::atomic<uint64_t> workers{0};  // numbers the workers, whose scratch in the batch it is
  std::vector<UnitHits> *results;
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
    } else {
      context.unit = &(*shared->results)[index];
      context.reverse = unit.motif >= shared->motifs;
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

// Benjamini-Hochberg over the windows of one motif: q_i = min over k >= i of p_(k) N / k for
// the matches sorted by p-value, at most 1. Ties get the same q-value in any order.
void computeqvalues(const std::vector<RawHit> &hits, double windows,
                    std::vector<double> *qvalues) {
  const size_t n = hits.size();
  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&hits](size_t a, size_t b) {
    return hits[a].pvalue < hits[b].pvalue;
  });
  qvalues->assign(n, 1.0);
  double running = 1.0;
  for (size_t k = n; k-- > 0;) {
    const double q = hits[order[k]].pvalue * windows / static_cast<double>(k + 1);
    running = std::min(running, q);
    (*qvalues)[order[k]] = running;
  }
}

// ---- Ordering ----------------------------------------------------------------------------

// The matches of one motif in the order of the table: sequence, start, + before -.
bool positionbefore(const RawHit &a, const RawHit &b) {
  if (a.sequence != b.sequence) return a.sequence < b.sequence;
  if (a.position != b.position) return a.position < b.position;
  return a.strand == '+' && b.strand == '-';
}

// Puts every column of the hits in the order of the permutation: one column's worth of
// scratch at a time.
template <typename Index>
void permutecolumns(const std::vector<Index> &order, ScanHits *hits) {
  auto permute = [&order](auto *column) {
    std::remove_reference_t<decltype(*column)> sorted(order.size());
    for (size_t i = 0; i < order.size(); i++) sorted[i] = (*column)[order[i]];
    column->swap(sorted);
  };
  permute(&hits->motif);
  permute(&hits->sequence);
  permute(&hits->start);
  permute(&hits->strand);
  permute(&hits->score);
  permute(&hits->pvalue);
  permute(&hits->qvalue);
}

// The hits from the smallest p-value up, of one p-value in the order they have.
template <typename Index>
void sortbypvalue(ScanHits *hits) {
  std::vector<Index> order(hits->pvalue.size());
  std::iota(order.begin(), order.end(), Index{0});
  const std::vector<double> &pvalue = hits->pvalue;
  std::stable_sort(order.begin(), order.end(),
                   [&pvalue](Index a, Index b) { return pvalue[a] < pvalue[b]; });
  permutecolumns(order, hits);
}

// The hits in genome order: sequence, start, stop, motif, strand (+ before -).
template <typename Index>
void sortbygenome(const ScanMotifs &motifs, ScanHits *hits) {
  std::vector<Index> order(hits->motif.size());
  std::iota(order.begin(), order.end(), Index{0});
  const ScanHits &h = *hits;
  std::sort(order.begin(), order.end(), [&h, &motifs](Index a, Index b) {
    if (h.sequence[a] != h.sequence[b]) return h.sequence[a] < h.sequence[b];
    if (h.start[a] != h.start[b]) return h.start[a] < h.start[b];
    const uint64_t stopa = h.start[a] + motifs.motifs[h.motif[a]].length;
    const uint64_t stopb = h.start[b] + motifs.motifs[h.motif[b]].length;
    if (stopa != stopb) return stopa < stopb;
    if (h.motif[a] != h.motif[b]) return h.motif[a] < h.motif[b];
    return h.strand[a] == '+' && h.strand[b] == '-';
  });
  permutecolumns(order, hits);
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

// Counts match i of its motif in the bins startbins made: its centre by strand, its score.
void binhit(const ScanPositionLayout &positions, bool centred, const ScanSequences &sequences,
            const ScanMotif &motif, const ScanHits &hits, size_t i, ScanMotifSummary *summary) {
  const int64_t position = scan_hitposition(hits.start[i], motif.length,
                                            sequences.lengths[hits.sequence[i]], centred);
  (hits.strand[i] == '-' ? summary->reversebins
                         : summary->forwardbins)[scan_positionbin(positions, position)]++;
  const ScanScoreLayout scores{summary->scorelow, summary->scorebinwidth,
                               summary->scorebins.size()};
  summary->scorebins[scan_scorebin(scores, hits.score[i])]++;
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

int runscan(ScanMotifs *motifs, ScanSequences *sequences, const ScanOptions &options,
            ScanResult *out, ScanCall *call) {
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
  preparebatch(&job, profiles.data(), profilecount, threads, &batch.prepared);
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
  std::vector<UnitHits> results(units.size());
  shared.results = &results;
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

  // q-values per motif over the matches of all its units, then the filter.
  std::vector<uint64_t> sortedlengths = sequences->lengths;
  std::sort(sortedlengths.begin(), sortedlengths.end());
  std::vector<uint64_t> suffixsums(sortedlengths.size() + 1, 0);
  for (size_t i = sortedlengths.size(); i-- > 0;) {
    suffixsums[i] = suffixsums[i + 1] + sortedlengths[i];
  }
  // Motif by motif: its matches gathered from its units (whose lists are released), ranked
  // for the q-values, filtered and appended to the columns in position order, so that the
  // matches are held about once. The columns are sized for every match; the pages of what
  // the filter drops are never touched.
  uint64_t found = 0;
  for (const UnitHits &unit : results) found += unit.hits.size();
  ScanHits &hits = out->hits;
  hits = ScanHits{};
  hits.motif.reserve(found);
  hits.sequence.reserve(found);
  hits.start.reserve(found);
  hits.strand.reserve(found);
  hits.score.reserve(found);
  hits.pvalue.reserve(found);
  hits.qvalue.reserve(found);
  std::vector<std::vector<size_t>> unitsof(count);
  for (size_t unit = 0; unit < units.size(); unit++) unitsof[units[unit].motif % count].push_back(unit);
  std::vector<RawHit> motifhits;
  std::vector<double> qvalues;
  std::vector<size_t> order;
  // The units' lists are mostly too small for the allocator to hand back to the system
  // when freed: every so often it is asked to, so that the columns take their place.
  constexpr uint64_t trimstep = uint64_t{32} << 20;
  uint64_t freed = 0;
  for (uint32_t motif = 0; motif < count; motif++) {
    const uint64_t m = motifs->motifs[motif].length;
    motifhits.clear();
    for (const size_t unit : unitsof[motif]) {
      std::vector<RawHit> &list = results[unit].hits;
      motifhits.insert(motifhits.end(), list.begin(), list.end());
      freed += list.capacity() * sizeof(RawHit);
      std::vector<RawHit>().swap(list);
    }
    if (freed >= trimstep) {
      malloc_trim(0);
      freed = 0;
    }
    ScanMotifSummary *summary = &out->motifs[motif];
    summary->windows = windowsof(sortedlengths, suffixsums, m) * strands;
    computeqvalues(motifhits, static_cast<double>(summary->windows), &qvalues);
    order.resize(motifhits.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(), [&motifhits](size_t a, size_t b) {
      return positionbefore(motifhits[a], motifhits[b]);
    });
    uint64_t lastsequence = UINT64_MAX;
    for (const size_t h : order) {
      if (options.useqvalue && !(qvalues[h] <= options.qvalue)) continue;
      const RawHit &hit = motifhits[h];
      hits.motif.push_back(motif);
      hits.sequence.push_back(hit.sequence);
      hits.start.push_back(hit.position + 1);
      hits.strand.push_back(hit.strand);
      hits.score.push_back(hit.score);
      hits.pvalue.push_back(hit.pvalue);
      hits.qvalue.push_back(qvalues[h]);
      summary->hits++;
      if (hit.sequence != lastsequence) {
        lastsequence = hit.sequence;
        summary->sequenceswithhit++;
      }
    }
  }
  std::vector<RawHit>().swap(motifhits);
  std::vector<size_t>().swap(order);
  std::vector<double>().swap(qvalues);
  const size_t n = scan_hitcount(hits);
  if (options.sort == SCAN_SORT_PVALUE) {
    if (n <= UINT32_MAX) {
      sortbypvalue<uint32_t>(&hits);
    } else {
      sortbypvalue<uint64_t>(&hits);
    }
  } else if (options.sort == SCAN_SORT_GENOME) {
    if (n <= UINT32_MAX) {
      sortbygenome<uint32_t>(*motifs, &hits);
    } else {
      sortbygenome<uint64_t>(*motifs, &hits);
    }
  }

  // Histograms when asked for.
  const uint64_t maxlength = sortedlengths.empty() ? 0 : sortedlengths.back();
  if (options.histogram.enabled) {
    // One pass over the rows, whatever their order.
    const ScanHistogramRequest &request = options.histogram;
    const ScanPositionLayout positions =
        scan_positionlayout(maxlength, request.binwidth, request.centred);
    for (size_t motif = 0; motif < count; motif++) {
      startbins(positions, request.scorebins, motifs->motifs[motif], &out->motifs[motif]);
    }
    for (size_t i = 0; i < n; i++) {
      binhit(positions, request.centred, *sequences, motifs->motifs[hits.motif[i]], hits, i,
             &out->motifs[hits.motif[i]]);
    }
  }

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
  run.elapsed = secondssince(start);
  return 0;
}

}  // namespace

int scan_run(ScanMotifs *motifs, ScanSequences *sequences, const ScanOptions &options,
             ScanResult *out) {
  ScanCall call(options.warnings, options.warning, options.warningcontext);
  return call.finish(runscan(motifs, sequences, options, out, &call));
}
