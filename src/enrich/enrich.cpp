// enrich_run: the control (given, or the targets shuffled), its background, the scans of both
// sets, and per motif the counts, the test, the central test and the position histograms;
// enrich_writetsv and the notation of probabilities too small for a double.
//
// Contents: letters of loaded sequences; the shuffled control; best scores; the central
// test; enrich_run; the table.
#include "enrich/enrich.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <numeric>
#include <set>

#include "base/error.hpp"
#include "base/threads.hpp"
#include "enrich/enrichstats.hpp"
#include "scan/scaninternal.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// ---- Letters of loaded sequences -------------------------------------------------------------

// The symbol codes of sequence i of loaded sequences.
std::string_view sequencecodes(const ScanSequences &sequences, uint64_t i) {
  const Multiseq *multiseq = &sequences.database->tree.multiseq;
  const uint64_t first = seqstartposition(multiseq, i);
  return std::string_view(reinterpret_cast<const char *>(multiseq->sequence) + first,
                          sequences.lengths[i]);
}

// ---- The shuffled control ----------------------------------------------------------------

// The seed of one copy of one sequence: the same whatever else is shuffled, and by whom.
uint64_t copyseed(uint64_t seed, uint64_t sequence, uint64_t copy) {
  uint64_t x = seed ^ (sequence * UINT64_C(0x9E3779B97F4A7C15)) ^ (copy * UINT64_C(0xC2B2AE3D27D4EB4F));
  x ^= x >> 31;
  x *= UINT64_C(0xBF58476D1CE4E5B9);
  x ^= x >> 27;
  return x;
}

// Every target's copies, shuffled with their k-let counts kept, as in-memory sequences.
int makeshuffled(const ScanSequences &target, const EnrichOptions &options,
                 ScanSequences *control) {
  const Alphabet *alpha = &target.database->tree.alpha;
  std::string shuffled, letters;
  for (uint64_t i = 0; i < target.count; i++) {
    const std::string_view codes = sequencecodes(target, i);
    if (codes.empty()) continue;
    shuffled.resize(codes.size());
    letters.resize(codes.size());
    for (uint64_t copy = 0; copy < options.shuffles; copy++) {
      shuffle_klets(reinterpret_cast<const unsigned char *>(codes.data()), codes.size(),
                    options.shuffleorder, copyseed(options.seed, i, copy),
                    reinterpret_cast<unsigned char *>(shuffled.data()));
      for (size_t k = 0; k < shuffled.size(); k++) {
        letters[k] = static_cast<char>(alpha->characters[static_cast<unsigned char>(shuffled[k])]);
      }
      const std::string name = target.names[i] + "_shuffled" + std::to_string(copy + 1);
      if (scan_addsequence(control, name, letters) != 0) return reporterror("%s", scan_errormessage());
    }
  }
  return 0;
}

// ---- Best scores -------------------------------------------------------------------------

// The best window score of every sequence for one motif (both strands when searched), or
// none (SCAN_NOSCORE) for a sequence without a window that can be scored.
void bestscores(const ScanMotifs &motifs, const ScanSequences &sequences, uint64_t motif,
                bool bothstrands, std::vector<int64_t> *best) {
  const ScanLibrary *library = motifs.library;
  const ScoringMatrix *matrices[2] = {&library->profiles[motif]->matrix,
                                      bothstrands && library->hasreverse
                                          ? &library->reverseprofiles[motif]->matrix
                                          : nullptr};
  best->assign(sequences.count, SCAN_NOSCORE);
  for (const ScoringMatrix *matrix : matrices) {
    if (matrix == nullptr || matrix->scoretype != SCORE_INTEGER) continue;
    const uint64_t m = matrix->m;
    const uint64_t columns = matrix_columns(matrix);
    // The most the rows from j on can add: a window whose sum so far cannot beat the best
    // one with them is left there, as the lookahead search leaves windows below its
    // threshold.
    std::vector<int64_t> rest(m + 1, 0);
    for (uint64_t j = m; j-- > 0;) {
      int64_t most = INT64_MIN;
      for (uint64_t code = 0; code < columns; code++) {
        const int64_t cell = matrix_cell<int64_t>(matrix, j, code);
        if (!ScoreTraits<int64_t>::forbidden(cell)) most = std::max(most, cell);
      }
      rest[j] = most == INT64_MIN ? INT64_MIN / 4 : rest[j + 1] + most;
    }
    // The cells in one block of 256 per row, codes beyond the columns (separators, wildcards)
    // and forbidden letters marked, so that a window holding one is left at once.
    constexpr int64_t never = INT64_MIN / 4;
    std::vector<int64_t> cells(m * 256, never);
    for (uint64_t j = 0; j < m; j++) {
      for (uint64_t code = 0; code < columns && code < 256; code++) {
        const int64_t cell = matrix_cell<int64_t>(matrix, j, code);
        if (!ScoreTraits<int64_t>::forbidden(cell)) cells[j * 256 + code] = cell;
      }
    }
    for (uint64_t i = 0; i < sequences.count; i++) {
      const std::string_view codes = sequencecodes(sequences, i);
      if (codes.size() < m || m == 0) continue;
      const unsigned char *letters = reinterpret_cast<const unsigned char *>(codes.data());
      int64_t &top = (*best)[i];
      // Below the lowest possible sum, until a window has been scored.
      int64_t bar = never;
      for (uint64_t s = 0; s + m <= codes.size(); s++) {
        int64_t score = 0;
        uint64_t j = 0;
        for (; j < m; j++) {
          const int64_t cell = cells[j * 256 + letters[s + j]];
          if (cell == never) break;
          score += cell;
          if (score + rest[j + 1] <= bar) break;
        }
        if (j == m && score > top) {
          top = score;
          bar = score;
        }
      }
    }
  }
}

struct BestScoreWork {
  const ScanMotifs *motifs;
  const ScanSequences *target;
  const ScanSequences *control;
  bool bothstrands;
  const std::vector<size_t> *tested;  // the motifs, by index
  std::vector<double> *log10p;        // per motif tested
  const std::atomic<bool> *cancel;
  std::atomic<uint64_t> next{0};
};

void *bestscoreworker(void *argument) {
  BestScoreWork *work = static_cast<BestScoreWork *>(argument);
  std::vector<int64_t> target, control;
  std::vector<double> a, b;
  const uint64_t count = work->tested->size();
  for (;;) {
    if (work->cancel != nullptr && work->cancel->load()) break;
    const uint64_t slot = work->next.fetch_add(1);
    if (slot >= count) break;
    const uint64_t motif = (*work->tested)[slot];
    bestscores(*work->motifs, *work->target, motif, work->bothstrands, &target);
    bestscores(*work->motifs, *work->control, motif, work->bothstrands, &control);
    a.clear();
    b.clear();
    for (const int64_t s : target)
      if (s != SCAN_NOSCORE) a.push_back(static_cast<double>(s));
    for (const int64_t s : control)
      if (s != SCAN_NOSCORE) b.push_back(static_cast<double>(s));
    (*work->log10p)[slot] = a.empty() || b.empty() ? 0.0 : ranksum_log10p(a, b);
  }
  return nullptr;
}

// ---- The central test --------------------------------------------------------------------

// Of the window centres of a motif in sequences of length letters, those in the central
// region of width letters: [length / 2 - width / 2, + width).
void centralwindows(uint64_t length, uint64_t m, uint64_t width, uint64_t *ret_inside,
                    uint64_t *ret_all) {
  const uint64_t all = length >= m ? length - m + 1 : 0;
  const int64_t low = static_cast<int64_t>(length / 2) - static_cast<int64_t>(width / 2);
  const int64_t high = low + static_cast<int64_t>(width);
  uint64_t inside = 0;
  for (uint64_t s = 0; s < all; s++) {
    const int64_t centre = static_cast<int64_t>(s + (m - 1) / 2);
    if (centre >= low && centre < high) inside++;
  }
  *ret_inside = inside;
  *ret_all = all;
}

void centraltest(const ScanHits &hits, const std::vector<size_t> &rows, uint64_t length,
                 uint64_t m, EnrichMotif *motif) {
  double best = 0.0;
  uint64_t tried = 0;
  motif->centralall = rows.size();
  for (const uint64_t width : ENRICH_CENTRAL_WIDTHS) {
    if (width >= length) continue;
    uint64_t inside = 0, all = 0;
    centralwindows(length, m, width, &inside, &all);
    if (inside == 0 || inside >= all) continue;
    tried++;
    const int64_t low = static_cast<int64_t>(length / 2) - static_cast<int64_t>(width / 2);
    const int64_t high = low + static_cast<int64_t>(width);
    uint64_t k = 0;
    for (const size_t r : rows) {
      const int64_t centre = static_cast<int64_t>(hits.start[r] - 1 + (m - 1) / 2);
      if (centre >= low && centre < high) k++;
    }
    const double p = binomial_log10p(k, rows.size(),
                                     static_cast<double>(inside) / static_cast<double>(all));
    if (motif->centralwidth == 0 || p < best) {
      best = p;
      motif->centralwidth = width;
      motif->centralhits = k;
    }
  }
  motif->centrallog10p = tried == 0 ? 0.0 : std::min(0.0, best + std::log10(static_cast<double>(tried)));
}

// ---- The run -----------------------------------------------------------------------------

// Passes each warning on once: to the caller's handler, or standard error.
struct WarningsOnce {
  ScanWarningFunction handler;
  void *context;
  std::set<std::string> seen;
};

void warnonce(const char *text, void *context) {
  WarningsOnce *once = static_cast<WarningsOnce *>(context);
  if (!once->seen.insert(text).second) return;
  if (once->handler != nullptr) {
    once->handler(text, once->context);
  } else {
    std::fputs(text, stderr);
  }
}

int checkoptions(const EnrichOptions &options) {
  if (!(options.pvalue > 0.0 && options.pvalue <= 1.0)) {
    return reporterror("The p-value cutoff must lie above 0 and at most 1.");
  }
  if (options.shuffleorder < 1 || options.shuffleorder > 8) {
    return reporterror("the shuffle order must lie from 1 to 8");
  }
  if (options.shuffles < 1 || options.shuffles > 1000) {
    return reporterror("the number of shuffled copies must lie from 1 to 1000");
  }
  if (options.threads > 128) return reporterror("At most 128 threads can be used.");
  return 0;
}

// The histogram of the match centres of rows, in the layout.
void binrows(const ScanHits &hits, const std::vector<size_t> &rows, const ScanSequences &sequences,
             uint64_t m, bool centred, const ScanPositionLayout &layout,
             std::vector<uint64_t> *bins) {
  bins->assign(layout.count, 0);
  for (const size_t r : rows) {
    const int64_t position =
        scan_hitposition(hits.start[r], m, sequences.lengths[hits.sequence[r]], centred);
    (*bins)[scan_positionbin(layout, position)]++;
  }
}

int runenrich(ScanMotifs *motifs, ScanSequences *target, ScanSequences *controlgiven,
              const EnrichOptions &options, EnrichResult *out, ScanCall *call) {
  const Clock::time_point start = Clock::now();
  if (checkoptions(options) != 0) return -1;
  if (motifs->library == nullptr || motifs->motifs.empty()) return reporterror("no motifs were read");
  const size_t count = motifs->motifs.size();
  if (!options.keep.empty() && options.keep.size() != count) {
    return reporterror("the motifs to keep: %lu flags for %lu motifs",
                       static_cast<unsigned long>(options.keep.size()),
                       static_cast<unsigned long>(count));
  }
  std::vector<size_t> tested;
  for (size_t m = 0; m < count; m++) {
    if (options.keep.empty() || options.keep[m]) tested.push_back(m);
  }
  if (tested.empty()) return reporterror("no motif is kept for the test");
  const ScanAlphabet alphabet =
      options.alphabet == SCAN_ALPHABET_AUTO ? motifs->alphabet : options.alphabet;
  const uint64_t threads = options.threads == 0 ? scan_availablethreads() : options.threads;
  if (scanloadsequences(target, alphabet, threads) != 0) return -1;
  ScanSequences shuffled;
  struct Release {
    ScanSequences *sequences;
    ~Release() { scan_freesequences(sequences); }
  } release{&shuffled};
  ScanSequences *control = controlgiven;
  if (control == nullptr) {
    if (makeshuffled(*target, options, &shuffled) != 0) return -1;
    control = &shuffled;
  }
  if (scanloadsequences(control, alphabet, threads) != 0) return -1;
  call->deliverwarnings();
  uint64_t targets = 0, controls = 0;
  for (const uint64_t length : target->lengths) targets += length > 0;
  for (const uint64_t length : control->lengths) controls += length > 0;
  if (targets < 1) return reporterror("the target sequences hold no letters");
  if (controls < 2) {
    return reporterror("the control holds %lu sequence%s with letters: at least 2 are needed "
                       "for the test",
                       static_cast<unsigned long>(controls), controls == 1 ? "" : "s");
  }
  // Regions of one length for the central test.
  uint64_t length = 0, first = 0;
  for (uint64_t i = 0; i < target->count; i++) {
    const uint64_t l = target->lengths[i];
    if (l == 0) continue;
    if (length == 0) first = i;
    if (options.center && length != 0 && l != length) {
      return reporterror("--center needs target sequences of one length: `%s' has %lu letters, "
                         "`%s' %lu",
                         target->names[first].c_str(), static_cast<unsigned long>(length),
                         target->names[i].c_str(), static_cast<unsigned long>(l));
    }
    length = std::max(length, l);
  }
  uint64_t longest = length;
  for (const uint64_t l : control->lengths) longest = std::max(longest, l);

  // The background: the control's letters, unless the options name another.
  ScanOptions scan;
  scan.pvalue = options.pvalue;
  scan.strands = options.strands;
  scan.pseudocount = options.pseudocount;
  scan.alphabet = alphabet;
  scan.threads = threads;
  scan.cancel = options.cancel;
  scan.progress = options.progress;
  scan.progresscontext = options.progresscontext;
  // Both scans say the same of the motifs (those that cannot reach the cutoff): once is enough.
  WarningsOnce once{options.warning, options.warningcontext, {}};
  scan.warning = warnonce;
  scan.warningcontext = &once;
  scan.warnings = options.warnings;
  scan.matchedtext = false;
  scan.background = options.background;
  std::string backgroundsource = options.background.kind == SCAN_BACKGROUND_UNIFORM ? "uniform"
                                 : options.background.kind == SCAN_BACKGROUND_FILE
                                     ? options.background.filename
                                     : "given";
  if (options.background.kind == SCAN_BACKGROUND_SEQUENCES) {
    std::vector<double> frequencies;
    if (scancountbackground(*control, &frequencies) != 0) return -1;
    const Alphabet *alpha = &control->database->tree.alpha;
    scan.background = ScanBackground{};
    scan.background.kind = SCAN_BACKGROUND_GIVEN;
    for (uint64_t code = 0; code + 1 < alpha->mapsize; code++) {
      scan.background.letters.push_back(static_cast<char>(alpha->characters[code]));
      scan.background.frequencies.push_back(frequencies[code]);
    }
    backgroundsource = "control";
  }

  // Both scans, with the same thresholds.
  ScanResult targetscan, controlscan;
  if (scan_run(motifs, target, scan, &targetscan) != 0) return reporterror("%s", scan_errormessage());
  if (options.phase != nullptr) options.phase(1, options.progresscontext);
  if (scan_run(motifs, control, scan, &controlscan) != 0) {
    return reporterror("%s", scan_errormessage());
  }
  const bool bothstrands = targetscan.run.options.strands == SCAN_STRANDS_BOTH;

  out->motifs.assign(tested.size(), EnrichMotif{});
  std::vector<std::vector<size_t>> targetrows(count), controlrows(count);
  for (size_t i = 0; i < scan_hitcount(targetscan.hits); i++) {
    targetrows[targetscan.hits.motif[i]].push_back(i);
  }
  for (size_t i = 0; i < scan_hitcount(controlscan.hits); i++) {
    controlrows[controlscan.hits.motif[i]].push_back(i);
  }
  // The rank-sum test needs every sequence's best score.
  std::vector<double> ranklog10p;
  if (options.test == ENRICH_TEST_RANKSUM) {
    ranklog10p.assign(tested.size(), 0.0);
    BestScoreWork work{motifs, target, control, bothstrands, &tested, &ranklog10p, options.cancel};
    std::vector<Thread> handles(std::min<uint64_t>(threads, tested.size()));
    if (handles.size() <= 1) {
      bestscoreworker(&work);
    } else {
      const int64_t started = startthreads(handles.data(), handles.size(), bestscoreworker, &work);
      if (started < 0) return -1;
      for (int64_t i = 0; i < started; i++) threadjoin(&handles[i], nullptr);
    }
    if (options.cancel != nullptr && options.cancel->load()) return reporterror("scan cancelled");
  }
  const bool centred = options.center;
  const uint64_t binwidth =
      options.binwidth > 0 ? options.binwidth : std::max<uint64_t>(1, (longest + 99) / 100);
  const ScanPositionLayout layout = scan_positionlayout(longest, binwidth, centred);
  std::vector<double> log10p(tested.size(), 0.0);
  for (size_t slot = 0; slot < tested.size(); slot++) {
    const size_t m = tested[slot];
    EnrichMotif &motif = out->motifs[slot];
    motif.motif = m;
    const ScanMotifSummary &t = targetscan.motifs[m];
    const ScanMotifSummary &c = controlscan.motifs[m];
    motif.targethits = t.hits;
    motif.targetwithhit = t.sequenceswithhit;
    motif.controlhits = c.hits;
    motif.controlwithhit = c.sequenceswithhit;
    motif.ratio = (static_cast<double>(motif.targetwithhit) + 1.0) /
                  (static_cast<double>(targets) + 1.0) /
                  ((static_cast<double>(motif.controlwithhit) + 1.0) /
                   (static_cast<double>(controls) + 1.0));
    motif.log10p = options.test == ENRICH_TEST_RANKSUM
                       ? ranklog10p[slot]
                       : fisher_log10p(motif.targetwithhit, targets, motif.controlwithhit,
                                       controls);
    log10p[slot] = motif.log10p;
    const uint64_t width = motifs->motifs[m].length;
    if (centred) centraltest(targetscan.hits, targetrows[m], length, width, &motif);
    binrows(targetscan.hits, targetrows[m], *target, width, centred, layout, &motif.targetbins);
    binrows(controlscan.hits, controlrows[m], *control, width, centred, layout,
            &motif.controlbins);
  }
  const std::vector<double> log10q = bh_log10q(log10p);
  const double log10tested = std::log10(static_cast<double>(tested.size()));
  for (size_t slot = 0; slot < tested.size(); slot++) {
    out->motifs[slot].log10q = log10q[slot];
    out->motifs[slot].log10e = out->motifs[slot].log10p + log10tested;
  }
  std::stable_sort(out->motifs.begin(), out->motifs.end(),
                   [](const EnrichMotif &a, const EnrichMotif &b) { return a.log10p < b.log10p; });

  out->targets = targets;
  out->controls = controls;
  out->targetresidues = target->residues;
  out->controlresidues = control->residues;
  out->shuffled = controlgiven == nullptr;
  out->options = options;
  out->options.threads = threads;
  out->options.cancel = nullptr;
  out->options.progress = nullptr;
  out->options.progresscontext = nullptr;
  out->options.phase = nullptr;
  out->options.warning = nullptr;
  out->options.warningcontext = nullptr;
  out->options.strands = bothstrands ? SCAN_STRANDS_BOTH : SCAN_STRANDS_FORWARD;
  out->binorigin = layout.origin;
  out->binwidth = static_cast<uint64_t>(layout.width);
  out->length = length;
  out->backgroundsource = backgroundsource;
  out->thresholds = targetscan.motifs;
  out->elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  return 0;
}

}  // namespace

int enrich_run(ScanMotifs *motifs, ScanSequences *target, ScanSequences *control,
               const EnrichOptions &options, EnrichResult *out) {
  ScanCall call(options.warnings, options.warning, options.warningcontext);
  return call.finish(runenrich(motifs, target, control, options, out, &call));
}

// ---- The table -----------------------------------------------------------------------------

std::string enrich_probabilitytext(double log10p) {
  char text[48];
  if (!(log10p <= 0.0)) log10p = 0.0;
  if (log10p > -300.0) {
    std::snprintf(text, sizeof text, "%.3e", std::pow(10.0, log10p));
    return text;
  }
  double exponent = std::floor(log10p);
  double mantissa = std::pow(10.0, log10p - exponent);
  // 9.9996 rounds up to 10.000: one more in the exponent.
  char digits[16];
  std::snprintf(digits, sizeof digits, "%.3f", mantissa);
  if (digits[0] == '1' && digits[1] == '0') {
    mantissa /= 10.0;
    exponent += 1.0;
  }
  std::snprintf(text, sizeof text, "%.3fe%.0f", mantissa, exponent);
  return text;
}

std::string enrich_evaluetext(double log10e) {
  if (!(log10e > -300.0)) return enrich_probabilitytext(log10e);
  // An E-value may pass 1.
  char text[48];
  std::snprintf(text, sizeof text, "%.3e", std::pow(10.0, log10e));
  return text;
}

std::string enrich_motifname(const ScanMotif &motif) {
  if (motif.accession.empty()) return motif.id;
  if (motif.id.empty() || motif.id == motif.accession) return motif.accession;
  return motif.accession + "_" + motif.id;
}

int enrich_writetsv(const EnrichResult &result, const ScanMotifs &motifs, FILE *stream) {
  ScanCall call;
  const bool central = result.options.center;
  std::string text =
      "motif_id\tmotif_accession\tmotif_name\ttarget_sequences\ttarget_with_hit\ttarget_hits\t"
      "target_hits_per_sequence\tcontrol_sequences\tcontrol_with_hit\tcontrol_hits\t"
      "control_hits_per_sequence\tenrichment_ratio\tp_value\tlog10_p_value\te_value\tq_value";
  if (central) text += "\tcentral_width\tcentral_hits\tcentral_all\tcentral_p_value";
  text += '\n';
  char number[64];
  for (const EnrichMotif &row : result.motifs) {
    const ScanMotif &motif = motifs.motifs[row.motif];
    text += motif.id;
    text += '\t';
    text += motif.accession;
    text += '\t';
    text += enrich_motifname(motif);
    std::snprintf(number, sizeof number, "\t%" PRIu64 "\t%" PRIu64 "\t%" PRIu64 "\t%.4f",
                  result.targets, row.targetwithhit, row.targethits,
                  static_cast<double>(row.targethits) / static_cast<double>(result.targets));
    text += number;
    std::snprintf(number, sizeof number, "\t%" PRIu64 "\t%" PRIu64 "\t%" PRIu64 "\t%.4f",
                  result.controls, row.controlwithhit, row.controlhits,
                  static_cast<double>(row.controlhits) / static_cast<double>(result.controls));
    text += number;
    std::snprintf(number, sizeof number, "\t%.4f\t", row.ratio);
    text += number;
    text += enrich_probabilitytext(row.log10p);
    std::snprintf(number, sizeof number, "\t%.3f\t", row.log10p == 0.0 ? 0.0 : row.log10p);
    text += number;
    text += enrich_evaluetext(row.log10e);
    text += '\t';
    text += enrich_probabilitytext(row.log10q);
    if (central) {
      std::snprintf(number, sizeof number, "\t%" PRIu64 "\t%" PRIu64 "\t%" PRIu64 "\t",
                    row.centralwidth, row.centralhits, row.centralall);
      text += number;
      text += enrich_probabilitytext(row.centrallog10p);
    }
    text += '\n';
  }
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stream) != text.size() ||
      std::fflush(stream) != 0) {
    return call.finish(
        reporterror("cannot write the table: %s", std::strerror(errno != 0 ? errno : EIO)));
  }
  return call.finish(0);
}
