// Statistics of single prepared motifs: the threshold of a p-value and the p-value of a score
// through the distribution code the search uses, and the score of every window of a sequence
// through the simple engine.
#include <algorithm>
#include <cstring>

#include "base/error.hpp"
#include "matching/match_simplesearch.hpp"
#include "matching/profile.hpp"
#include "scan/scaninternal.hpp"
#include "search/profilesearch.hpp"
#include "statistics/distribution.hpp"

namespace {

// The float view of a profile's matrix that the distributions are computed on.
struct FloatView {
  ScoringMatrix scratch{};
  const ScoringMatrix *matrix = nullptr;
  bool copied = false;
  explicit FloatView(const ScoringMatrix *source) {
    copied = matrix_float_copy(source, &scratch, &matrix);
  }
  ~FloatView() {
    if (copied) matrix_free(&scratch);
  }
};

}  // namespace

int scanthreshold(const ScanMotifs &motifs, uint64_t motif, double pvalue, ScanStrand strand,
                  int64_t *ret_threshold) {
  if (!(pvalue > 0.0 && pvalue <= 1.0)) {
    return reporterror("The p-value cutoff must lie above 0 and at most 1.");
  }
  const Profile *profile = scanprofile(motifs, motif, strand);
  if (profile == nullptr) return -1;
  const FloatView view(&profile->matrix);
  ScoreDistribution distribution{};
  int64_t value = 0;
  if (lazy_threshold(view.matrix, motifs.library->frequencies.data(), 1.0, pvalue, &value,
                     &distribution) != 0) {
    return -1;
  }
  // As the search's threshold step: every window when even the lowest score qualifies, and
  // above the maximum when not even the best window is rare enough.
  const ScoringMatrix *matrix = &profile->matrix;
  if (!(distribution.tail[0] > pvalue)) value = matrix->minscore.i;
  if (distribution.tail[distribution.size - 1] > pvalue) value = matrix->maxscore.i + 1;
  freedistribution(&distribution);
  *ret_threshold = value;
  return 0;
}

int scanpvalue(const ScanMotifs &motifs, uint64_t motif, int64_t score, ScanStrand strand,
               double *ret_pvalue) {
  const Profile *profile = scanprofile(motifs, motif, strand);
  if (profile == nullptr) return -1;
  // No window scores above the maximum; the table would answer with the maximum's tail.
  if (score > profile->matrix.maxscore.i) {
    *ret_pvalue = 0.0;
    return 0;
  }
  ScoreDistribution *distribution =
      &(strand == SCAN_STRAND_REVERSE ? motifs.library->reversecomplete
                                      : motifs.library->complete)[motif];
  if (distribution->size == 0) {
    const FloatView view(&profile->matrix);
    if (complete_distribution(view.matrix, motifs.library->frequencies.data(), 1.0,
                              distribution) != 0) {
      return -1;
    }
  }
  *ret_pvalue = tail_lookup(distribution, score, 1.0, TAIL_PVALUE, 0);
  return 0;
}

int scanstrandweights(const ScanMotifs &motifs, uint64_t motif, ScanStrand strand,
                      std::string_view letters, std::vector<int64_t> *weights,
                      int64_t *ret_maxscore) {
  const Profile *profile = scanprofile(motifs, motif, strand);
  if (profile == nullptr) return -1;
  const ScoringMatrix *matrix = &profile->matrix;
  if (matrix->scoretype != SCORE_INTEGER) return internalerror();
  const Alphabet *alpha = matrix->alphabet;
  weights->assign(matrix->m * letters.size(), SCAN_NOSCORE);
  for (size_t k = 0; k < letters.size(); k++) {
    const uint64_t code = alpha->symbolmap[static_cast<unsigned char>(letters[k])];
    if (code >= UNDEFINEDCODE || code + 1 >= alpha->mapsize) continue;
    for (uint64_t row = 0; row < matrix->m; row++) {
      const int64_t cell = matrix_cell<int64_t>(matrix, row, code);
      if (!ScoreTraits<int64_t>::forbidden(cell)) (*weights)[row * letters.size() + k] = cell;
    }
  }
  *ret_maxscore = matrix->maxscore.i;
  return 0;
}

ScanTail::~ScanTail() { freedistribution(&distribution); }

int scantailcompute(const ScanMotifs &motifs, uint64_t motif, ScanStrand strand,
                    int64_t lowest, const ScanTail *previous, ScanTail *out) {
  const Profile *profile = scanprofile(motifs, motif, strand);
  if (profile == nullptr) return -1;
  if (previous != nullptr && previous->distribution.size > 0) {
    const ScoreDistribution &table = previous->distribution;
    const int64_t depth = table.maximum - table.minimum;
    lowest = std::min(lowest, table.maximum - table.offset - 2 * depth - 1);
  }
  const FloatView view(&profile->matrix);
  ScoreDistribution table{};
  if (lazy_tail(view.matrix, motifs.library->frequencies.data(), 1.0, lowest, &table) != 0) {
    return -1;
  }
  freedistribution(&out->distribution);
  out->distribution = table;
  return 0;
}

namespace {

struct WindowScores {
  std::vector<int64_t> *scores;
  uint64_t m;
};

// Stores the score of every window at its first position.
int storescore(Match *match) {
  const WindowScores *target = static_cast<const WindowScores *>(match->job->userdata);
  (*target->scores)[match->endposition + 1 - target->m] = match->score.i;
  return 0;
}

int scorewindows(const ScanMotifs &motifs, uint64_t motif, std::string_view sequence,
                 std::vector<int64_t> *forward, std::vector<int64_t> *reverse) {
  const Profile *profile = scanprofile(motifs, motif);
  if (profile == nullptr) return -1;
  const uint64_t m = profile->matrix.m;
  const uint64_t windows = sequence.size() >= m && m > 0 ? sequence.size() - m + 1 : 0;
  forward->assign(windows, SCAN_NOSCORE);
  if (reverse != nullptr) reverse->clear();
  if (windows == 0) return 0;
  if (sequence.find_first_of("\n\r>") != std::string_view::npos) {
    return reporterror("a sequence to score holds a line break or `>'");
  }
  // The sequence as a one-sequence database, coded as the scanned sequences are.
  const Alphabet *alpha = &motifs.library->alphabet;
  Multiseq multiseq;
  initmultiseq(&multiseq);
  const uint64_t length = sequence.size() + 3;
  unsigned char *buffer = allocorexit<unsigned char>(nullptr, length);
  std::memcpy(buffer, ">s\n", 3);
  std::memcpy(buffer + 3, sequence.data(), sequence.size());
  if (parsefasta(alpha, &multiseq, "(sequence)", buffer, length) != 0) {
    freemultiseq(&multiseq);
    return reporterror("%s", errormessageorunknown());
  }
  if (multiseq.totallength != sequence.size()) {
    freemultiseq(&multiseq);
    return reporterror("a sequence to score must not hold blanks");
  }
  Virtualtree tree{};
  tree.alpha = *alpha;
  tree.multiseq = multiseq;

  // A copy of the profile whose threshold every window reaches: the simple engine then
  // reports every window that holds no forbidden letter and no wildcard.
  Profile copy = *profile;
  copy.matrix.threshold = copy.matrix.minscore;
  SearchSettings settings;
  initsearchsettings(&settings);
  settings.algorithm = ALGORITHM_SIMPLE;
  settings.thresholdkind = THRESHOLD_RAW;
  settings.strands = STRAND_FORWARD;
  ComplementTables complement{};
  const bool dna = reverse != nullptr && preparecomplement(alpha, false, &complement) == 0;
  clearerrorcode();
  if (dna) settings.strands |= STRAND_REVERSECOMPLEMENT;
  if (dna) reverse->assign(windows, SCAN_NOSCORE);
  SearchJob job{};
  job.settings = &settings;
  job.database = &tree;
  job.firstreport = storescore;
  std::memcpy(job.swapmap, complement.swapmap, sizeof job.swapmap);
  if (!dna) {
    for (int i = 0; i < 256; i++) job.swapmap[i] = static_cast<unsigned char>(i);
  }
  // The engine reports the strands one after another: forward first.
  WindowScores target = {forward, m};
  job.userdata = &target;
  settings.strands = STRAND_FORWARD;
  int result = profileroutine(&job, &copy);
  if (result == 0 && dna) {
    target.scores = reverse;
    settings.strands = STRAND_REVERSECOMPLEMENT;
    result = profileroutine(&job, &copy);
  }
  freemultiseq(&tree.multiseq);
  return result;
}

}  // namespace

int scan_threshold(const ScanMotifs &motifs, uint64_t motif, double pvalue,
                   int64_t *ret_threshold, ScanStrand strand) {
  ScanCall call;
  return call.finish(scanthreshold(motifs, motif, pvalue, strand, ret_threshold));
}

int scan_pvalue(const ScanMotifs &motifs, uint64_t motif, int64_t score, double *ret_pvalue,
                ScanStrand strand) {
  ScanCall call;
  return call.finish(scanpvalue(motifs, motif, score, strand, ret_pvalue));
}

int scan_scorewindows(const ScanMotifs &motifs, uint64_t motif, std::string_view sequence,
                      std::vector<int64_t> *forward, std::vector<int64_t> *reverse) {
  ScanCall call;
  return call.finish(scorewindows(motifs, motif, sequence, forward, reverse));
}
