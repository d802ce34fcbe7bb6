// The search of one profile on every requested strand, and the complement tables the
// complementary strands need: the part of the search run that zelkosearch's driver and the
// scan library share.
#include "search/profilesearch.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/error.hpp"
#include "base/output.hpp"
#include "base/threads.hpp"
#include "matching/lookahead_batch.hpp"
#include "matching/lookahead_firstpass.hpp"
#include "matching/match_arraysearch.hpp"
#include "matching/match_lookaheadsearch.hpp"
#include "matching/match_simplesearch.hpp"
#include "matching/profile.hpp"
#include "matching/reducedalphabet.hpp"
#include "model/profile.hpp"
#include "sequences/virtualtree.hpp"

namespace {

uint64_t symbolof(const Alphabet *alpha, unsigned char c) { return alpha->symbolmap[c]; }

// The symbol of a letter pair (lower, upper): 0, or -1 when both are defined differently.
int pairsymbol(const Alphabet *alpha, char lower, char upper, uint64_t *ret_symbol) {
  const uint64_t undefined = alpha->undefinedcode;
  const uint64_t a = symbolof(alpha, static_cast<unsigned char>(lower));
  const uint64_t b = symbolof(alpha, static_cast<unsigned char>(upper));
  if (a == b) {
    if (a == undefined && warningsenabled())
      printwarning("characters `%c' and `%c' are both undefined in the input alphabet.\n", lower,
                   upper);
    *ret_symbol = a;
  } else if (a == undefined) {
    *ret_symbol = b;
  } else if (b == undefined) {
    *ret_symbol = a;
  } else {
    return reporterror(
        "Characters `%c' and `%c' map to different symbols (%lu and %lu), cannot search on "
        "complementary strand.",
        lower, upper, static_cast<unsigned long>(a), static_cast<unsigned long>(b));
  }
  return 0;
}

// ---- Profile routines ------------------------------------------------------------------

void printsearching(const SearchJob *job, const Profile *profile, const ScoringMatrix *matrix) {
  if (!statusenabled()) return;
  const unsigned char strand = job->strand;
  const char *direction = strandisreverse(strand) ? "reverse" : "forward";
  const char *non = strandiscomplement(strand) ? "" : "non-";
  const char *identifier = profile->identifier != nullptr ? profile->identifier : "(NULL)";
  const char *accession = profile->accession != nullptr ? profile->accession : "(NULL)";
  if (matrix->scoretype == SCORE_INTEGER)
    printstatus("Searching `%s', `%s', [%lu:%lu], %s %scomplementary, threshold %ld\n",
                identifier, accession, static_cast<unsigned long>(profile->groupnumber),
                static_cast<unsigned long>(profile->groupposition), direction, non,
                static_cast<long>(matrix->threshold.i));
  else
    printstatus("Searching `%s', `%s', [%lu:%lu], %s %scomplementary, threshold %e\n",
                identifier, accession, static_cast<unsigned long>(profile->groupnumber),
                static_cast<unsigned long>(profile->groupposition), direction, non,
                static_cast<double>(matrix->threshold.f));
}

// The k best protein matches of a reduced matrix: the protein matrix of the current profile,
// reversed (with its intermediate thresholds) for the reverse strand.
int reducedkbest(SearchJob *job, ScoringMatrix *matrix, const SequenceRange *range) {
  const ScoringMatrix *protein = &job->profile->matrix;
  ScoringMatrix reversed{};
  const bool reverse = strandisreverse(job->strand);
  if (reverse) {
    if (matrix_reversed_copy(protein, &reversed, true) != 0) return -1;
    protein = &reversed;
  }
  const int result = reducedsearch_kbest(databaseof(job), matrix, protein, range,
                                         job->settings->kbest, job->firstreport, job);
  if (reverse) matrix_free(&reversed);
  return result;
}

int searchstrand(SearchJob *job, ScoringMatrix *matrix) {
  const SearchSettings *search = job->settings;
  const SequenceRange *rangeref = job->range;
  const Multiseq *multiseq = databaseof(job);
  const ReportFunction report = job->firstreport;
  switch (search->algorithm) {
    case ALGORITHM_SIMPLE:
      return simplesearch(multiseq, matrix, rangeref, report, job);
    case ALGORITHM_LOOKAHEAD:
      if (search->thresholdkind == THRESHOLD_KBEST && job->reduceddata != nullptr)
        return reducedkbest(job, matrix, rangeref);
      if (search->thresholdkind == THRESHOLD_KBEST)
        return lookaheadsearch_kbest(multiseq, matrix, rangeref, search->kbest, report, job);
      if (job->batch != nullptr) {
        const uint64_t number = job->batchnumbers[4 * job->batchindex + strandslot(job->strand)];
        if (number != BATCH_NONE && lookaheadbatch_holds(job->batch, number))
          return lookaheadbatch_report(job->batch, number, matrix, report, job);
      }
      return lookaheadsearch(multiseq, matrix, rangeref, report, job);
    case ALGORITHM_ESA: {
      const Virtualtree *index = static_cast<const Virtualtree *>(job->database);
      if (search->thresholdkind == THRESHOLD_KBEST)
        return arraysearch_kbest(index, matrix, search->kbest, report, job);
      return arraysearch(index, matrix, report, job) != 0 ? -1 : 0;
    }
    default:
      return internalerror();
  }
}

}  // namespace

const Multiseq *databaseof(const SearchJob *job) {
  return &static_cast<const Virtualtree *>(job->database)->multiseq;
}

bool belowthreshold(const ScoringMatrix *matrix) {
  if (matrix->scoretype == SCORE_INTEGER) return matrix->maxscore.i < matrix->threshold.i;
  return matrix->maxscore.f < matrix->threshold.f;
}

uint64_t strandslot(unsigned char strand) {
  switch (strand) {
    case STRAND_FORWARD:
      return 0;
    case STRAND_COMPLEMENT:
      return 1;
    case STRAND_REVERSECOMPLEMENT:
      return 2;
    default:
      return 3;
  }
}

ScoringMatrix *searchedmatrix(const SearchJob *job, Profile *profile) {
  const ReducedAlphabetData *reduced = static_cast<const ReducedAlphabetData *>(job->reduceddata);
  return reduced == nullptr ? &profile->matrix
                            : &reduced->reduced->profiles[profile - job->profiles->profiles].matrix;
}

LookaheadSettings lookaheadsettings() {
  LookaheadSettings settings;
  const char *text = std::getenv("ZELKO_TEST_LOOKAHEAD");
  while (text != nullptr && *text != '\0') {
    const char *end = std::strchr(text, ',');
    const size_t length = end != nullptr ? static_cast<size_t>(end - text) : std::strlen(text);
    auto is = [&](const char *word) {
      return std::strlen(word) == length && std::strncmp(text, word, length) == 0;
    };
    if (is("nobatch")) settings.batch = false;
    if (is("table")) settings.route = BATCHROUTE_TABLE;
    if (is("scan")) settings.route = BATCHROUTE_SCAN;
    if (std::strncmp(text, "level=", 6) == 0) firstpass_cap(std::atoi(text + 6));
    if (std::strncmp(text, "budget=", 7) == 0) settings.budget = std::atoll(text + 7);
    text = end != nullptr ? end + 1 : nullptr;
  }
  return settings;
}

namespace {

// One thread's share of the plan: every shares-th matrix from its number on.
struct PlanShare {
  LookaheadBatch *batch;
  uint64_t share, shares;
};

void *plansharebody(void *argument) {
  const PlanShare *share = static_cast<const PlanShare *>(argument);
  lookaheadbatch_planshare(share->batch, share->share, share->shares);
  return nullptr;
}

}  // namespace

void preparebatch(const SearchJob *job, Profile *const *profiles, uint64_t count,
                  uint64_t workers, PreparedBatch *prepared, uint64_t minparts) {
  const SearchSettings *search = job->settings;
  const LookaheadSettings settings = lookaheadsettings();
  prepared->batch = nullptr;
  if (search->algorithm != ALGORITHM_LOOKAHEAD || search->thresholdkind == THRESHOLD_KBEST ||
      !settings.batch)
    return;
  LookaheadBatch *batch = lookaheadbatch_create(databaseof(job), job->range);
  if (batch == nullptr) return;
  prepared->numbers.assign(4 * count, BATCH_NONE);
  // The strand matrices as the profile routine derives them, each a copy of its own.
  std::vector<ScoringMatrix> &copies = prepared->copies;
  copies.clear();
  copies.reserve(3 * count);
  for (uint64_t i = 0; i < count; i++) {
    ScoringMatrix *own = searchedmatrix(job, profiles[i]);
    if (belowthreshold(own)) continue;
    for (unsigned char strand : strandorder) {
      if ((search->strands & strand) == 0) continue;
      const ScoringMatrix *matrix = own;
      if (strand != STRAND_FORWARD) {
        ScoringMatrix copy{};
        int status = 0;
        if (strand == STRAND_REVERSE) {
          status = matrix_reversed_copy(own, &copy, true);
        } else {
          status = matrix_swapped_copy(own, &copy, job->swapmap);
          if (status == 0 && strand == STRAND_REVERSECOMPLEMENT) status = matrix_reverse(&copy, true);
        }
        if (status != 0) {
          // The profile routine meets the same failure and reports it.
          matrix_free(&copy);
          clearerrorcode();
          continue;
        }
        copies.push_back(copy);
        matrix = &copies.back();
      }
      prepared->numbers[4 * i + strandslot(strand)] = lookaheadbatch_add(batch, matrix);
    }
  }
  workers = std::max<uint64_t>(workers, 1);
  lookaheadbatch_planstart(batch, std::max(workers, minparts), workers, settings.route);
  std::vector<PlanShare> shares(workers);
  for (uint64_t j = 0; j < workers; j++) shares[j] = {batch, j, workers};
  runeach(shares.data(), workers, plansharebody);
  lookaheadbatch_planfinish(batch);
  if (settings.budget >= 0) lookaheadbatch_setbudget(batch, static_cast<uint64_t>(settings.budget));
  prepared->batch = batch;
}

void releasebatchmatrices(PreparedBatch *prepared) {
  for (ScoringMatrix &copy : prepared->copies) matrix_free(&copy);
  prepared->copies.clear();
}

int preparecomplement(const Alphabet *alpha, bool ncompl, ComplementTables *tables) {
  uint64_t c = 0, g = 0, a = 0, t = 0, u = 0;
  if (pairsymbol(alpha, 'c', 'C', &c) != 0 || pairsymbol(alpha, 'g', 'G', &g) != 0 ||
      pairsymbol(alpha, 'a', 'A', &a) != 0 || pairsymbol(alpha, 't', 'T', &t) != 0 ||
      pairsymbol(alpha, 'u', 'U', &u) != 0)
    return -1;
  const uint64_t undefined = alpha->undefinedcode;
  if (t != u) {
    if (t == undefined) {
      t = u;
    } else if (u != undefined) {
      return reporterror(
          "The input alphabet distinguishes between `t' (or `T', symbol %lu) and `u' (or `U', "
          "symbol %lu), cannot search on complementary strand.",
          static_cast<unsigned long>(t), static_cast<unsigned long>(u));
    }
  }
  for (int i = 0; i < 256; i++) tables->swapmap[i] = static_cast<unsigned char>(i);
  tables->withcharacters = !ncompl;
  if (tables->withcharacters) std::memcpy(tables->characters, alpha->characters, 256);
  if (c == undefined || g == undefined)
    return reporterror(
        "Characters `c' and `g' are not both defined in the input alphabet, cannot search on "
        "complementary strand.");
  tables->swapmap[c] = static_cast<unsigned char>(g);
  if (tables->withcharacters) std::swap(tables->characters[c], tables->characters[g]);
  if (a == undefined || t == undefined)
    return reporterror(
        "Characters `a' and `t' (or `u') are not both defined in the input alphabet, cannot "
        "search on complementary strand.");
  tables->swapmap[a] = static_cast<unsigned char>(t);
  if (tables->withcharacters) std::swap(tables->characters[a], tables->characters[t]);
  return 0;
}

// Searches the requested strands of one profile, deriving the strand matrices once and
// reusing them: complementary -> reverse complementary -> reverse.
int profileroutine(SearchJob *job, Profile *profile) {
  // Under the reduced alphabet the engines search the reduced matrix at the profile's index,
  // while the job's profile stays the protein profile that the reports show.
  ScoringMatrix *own = searchedmatrix(job, profile);
  const bool kbest = job->settings->thresholdkind == THRESHOLD_KBEST;
  // The k-best index search looks at every profile; the others skip one that cannot match.
  if (!(kbest && job->settings->algorithm == ALGORITHM_ESA) && belowthreshold(own)) return 0;
  job->profile = profile;
  job->profilematchcount = 0;
  ScoreValue savedthreshold = own->threshold;
  if (kbest) {
    // The row bounds count the cells of symbols the matrix has no column for, whose sums
    // overflow; the reports keep the score range read from the library.
    const ScoreValue minscore = own->minscore, maxscore = own->maxscore;
    if (matrix_compute_row_bounds(own) != 0) return -1;
    own->minscore = minscore;
    own->maxscore = maxscore;
    savedthreshold = own->threshold;
  }

  enum { NOCOPY, COMPLEMENT, REVERSECOMPLEMENT, REVERSE } copystate = NOCOPY;
  ScoringMatrix copy{};
  int result = 0;
  for (unsigned char strand : strandorder) {
    if ((job->settings->strands & strand) == 0) continue;
    ScoringMatrix *matrix = own;
    switch (strand) {
      case STRAND_FORWARD:
        break;
      case STRAND_COMPLEMENT:
        result = matrix_swapped_copy(own, &copy, job->swapmap);
        copystate = COMPLEMENT;
        matrix = &copy;
        break;
      case STRAND_REVERSECOMPLEMENT:
        if (copystate == NOCOPY) result = matrix_swapped_copy(own, &copy, job->swapmap);
        if (result == 0) result = matrix_reverse(&copy, true);
        copystate = REVERSECOMPLEMENT;
        matrix = &copy;
        break;
      case STRAND_REVERSE:
        if (copystate == COMPLEMENT) {
          result = matrix_reverse(&copy, true);
          if (result == 0) result = matrix_swap_columns(&copy, job->swapmap);
        } else if (copystate == REVERSECOMPLEMENT) {
          result = matrix_swap_columns(&copy, job->swapmap);
        } else {
          result = matrix_reversed_copy(own, &copy, true);
        }
        copystate = REVERSE;
        matrix = &copy;
        break;
    }
    if (result != 0) break;
    if (kbest) {
      matrix->threshold = savedthreshold;
      matrix_set_intermediate_thresholds(matrix);
    }
    job->strand = strand;
    printsearching(job, profile, matrix);
    result = searchstrand(job, matrix);
    if (result != 0) break;
  }
  if (copystate != NOCOPY) matrix_free(&copy);
  if (kbest) matrix_free_row_bounds(own);
  return result != 0 ? -1 : 0;
}

