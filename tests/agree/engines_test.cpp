// Agreement of the engines over random matrices and random databases: the simple search and
// the lookahead search each against a literal row-by-row version of their rule, the
// lookahead search against the simple search wherever sums are exact, and the k-best search
// against the k best of the simple search, on all four strands and on sequence ranges; the
// index search against the lookahead hits in suffix array order, and its k-best form
// against the k best of them by score and suffix rank; the
// lookahead search once with each level of its byte pass that the processor has; and batches
// of many matrices (lookahead_batch.hpp) against the lookahead search of each, by every route,
// in parts run in any order, under a budget that gives matrices up.
//
// The seed is printed; ZELKO_AGREE_SEED=<number> repeats a run, ZELKO_AGREE_CASES=<number>
// changes the number of random cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>

#include "matching/lookahead_batch.hpp"
#include "matching/lookahead_firstpass.hpp"
#include "matching/match_arraysearch.hpp"
#include "matching/match_lookaheadsearch.hpp"
#include "matching/match_simplesearch.hpp"
#include "support/enginefixtures.hpp"

using namespace enginetest;

namespace {

uint64_t envnumber(const char *name, uint64_t otherwise) {
  const char *text = std::getenv(name);
  return text == nullptr ? otherwise : std::strtoull(text, nullptr, 10);
}

// ---------------------------------------------------------------------------------------
// Literal versions of the rules

template <typename Score>
Score add(Score a, Score b) {
  if constexpr (std::is_integral_v<Score>) {
    return static_cast<Score>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
  } else {
    return a + b;
  }
}

template <typename Score>
Score cell(const ScoringMatrix *matrix, uint64_t row, uint64_t code) {
  return matrix_scores<Score>(matrix)[row * matrix_columns(matrix) + code];
}

struct Segment {
  uint64_t start, length;
};
std::vector<Segment> segments(const MemoryMultiseq &db, const SequenceRange *range) {
  std::vector<Segment> all;
  uint64_t start = 0;
  for (uint64_t i = 0; i < db.multiseq.numofsequences; i++) {
    const uint64_t end = i < db.separators.size() ? db.separators[i] : db.codes.size();
    if (range == nullptr || (i >= range->first && i <= range->last)) all.push_back({start, end - start});
    start = end + 1;
  }
  return all;
}

template <typename Score>
std::vector<Found> literal_simple(const MemoryMultiseq &db, const ScoringMatrix *matrix,
                                  const SequenceRange *range) {
  std::vector<Found> found;
  const uint64_t m = matrix->m;
  for (const Segment &segment : segments(db, range)) {
    for (uint64_t n = 0; n < segment.length && m > 0; n++) {
      Score sum = 0;
      bool complete = true;
      for (uint64_t j = 0; j < m && complete; j++) {
        if (n + j >= segment.length) { complete = false; break; }
        const uint64_t c = db.codes[segment.start + n + j];
        if (c >= matrix_columns(matrix)) { complete = false; break; }
        const Score s = cell<Score>(matrix, j, c);
        if (ScoreTraits<Score>::forbidden(s)) { complete = false; break; }
        sum = add(sum, s);
      }
      if (complete && scoreof<Score>(matrix->threshold) <= sum) {
        found.push_back({segment.start + n + m - 1, static_cast<double>(sum)});
      }
    }
  }
  return found;
}

// Calls hit(score, end) for each window passing the lookahead rule with the matrix's
// current thresholds (read again for every window).
template <typename Score, typename Hit>
void literal_lookahead_scan(const MemoryMultiseq &db, const ScoringMatrix *matrix,
                            const SequenceRange *range, Hit &&hit) {
  const uint64_t m = matrix->m;
  if (m == 0) return;
  for (const Segment &segment : segments(db, range)) {
    for (uint64_t n = 0; n + m <= segment.length; n++) {
      Score sum = 0;
      bool pass = true;
      for (uint64_t j = 0; j < m && pass; j++) {
        const uint64_t c = db.codes[segment.start + n + j];
        if (c >= 254 || c >= matrix_columns(matrix)) { pass = false; break; }
        sum = add(sum, cell<Score>(matrix, j, c));
        if (!(matrix_intermediate<Score>(matrix)[j] <= sum)) pass = false;
      }
      if (pass && scoreof<Score>(matrix->threshold) <= sum) hit(sum, segment.start + n + m - 1);
    }
  }
}

template <typename Score>
std::vector<Found> literal_lookahead(const MemoryMultiseq &db, const ScoringMatrix *matrix,
                                     const SequenceRange *range) {
  std::vector<Found> found;
  literal_lookahead_scan<Score>(db, matrix, range, [&](Score s, uint64_t e) {
    found.push_back({e, static_cast<double>(s)});
  });
  return found;
}

template <typename Score>
std::vector<Found> literal_kbest(const MemoryMultiseq &db, ScoringMatrix *matrix,
                                 const SequenceRange *range, uint64_t k) {
  auto better = [](const std::pair<Score, uint64_t> &a, const std::pair<Score, uint64_t> &b) {
    return a.first > b.first || (a.first == b.first && a.second < b.second);
  };
  std::set<std::pair<Score, uint64_t>, decltype(better)> kept(better);
  literal_lookahead_scan<Score>(db, matrix, range, [&](Score s, uint64_t e) {
    if (kept.size() == k) {
      if (!(s > std::prev(kept.end())->first)) return;
      kept.erase(std::prev(kept.end()));
    }
    kept.insert({s, e});
    if (kept.size() == k && std::prev(kept.end())->first > scoreof<Score>(matrix->threshold)) {
      scoreof<Score>(matrix->threshold) = std::prev(kept.end())->first;
      matrix_set_intermediate_thresholds(matrix);
    }
  });
  std::vector<Found> found;
  for (const auto &[s, e] : kept) found.push_back({e, static_cast<double>(s)});
  return found;
}

// The k best of a match list: greater score first, then smaller end position.
std::vector<Found> kbestof(std::vector<Found> found, uint64_t k) {
  std::stable_sort(found.begin(), found.end(), [](const Found &a, const Found &b) {
    return a.score > b.score || (a.score == b.score && a.endposition < b.endposition);
  });
  if (found.size() > k) found.resize(k);
  return found;
}

// Hits of a window of length m in the order the index search reports them: by the suffix
// rank of their start (a window's occurrences are consecutive ranks).
std::vector<Found> inrankorder(std::vector<Found> found, const MemoryIndex &index, uint64_t m) {
  const std::vector<uint64_t> rank = index.ranks();
  std::stable_sort(found.begin(), found.end(), [&](const Found &a, const Found &b) {
    return rank[a.endposition + 1 - m] < rank[b.endposition + 1 - m];
  });
  return found;
}

// The k best of the lookahead hits as the k-best index search keeps them: greater score
// first, then smaller suffix rank.
std::vector<Found> kbestbyrank(std::vector<Found> found, const MemoryIndex &index, uint64_t m,
                               uint64_t k) {
  found = inrankorder(std::move(found), index, m);
  std::stable_sort(found.begin(), found.end(),
                   [](const Found &a, const Found &b) { return a.score > b.score; });
  if (found.size() > k) found.resize(k);
  return found;
}

// ---------------------------------------------------------------------------------------
// Random cases

struct Case {
  uint64_t columns;     // alphabet size, the last being the wildcard class
  bool wildcardscores;  // the wildcard column holds scores instead of forbidden cells
  bool exact;           // all sums exact: the lookahead agrees with the simple search
};

template <typename Score>
struct CaseMaker {
  std::mt19937_64 &random;

  uint64_t below(uint64_t n) { return std::uniform_int_distribution<uint64_t>(0, n - 1)(random); }
  bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random) < p; }

  // Matrix of m rows: small integers (or arbitrary floats when not exact), some forbidden
  // cells, sometimes a row of negative scores only.
  void matrix(ScoringMatrix *matrix, const Alphabet *alpha, uint64_t m, const Case &shape) {
    matrix_init(matrix, ScoreTraits<Score>::type, alpha, m);
    const double forbiddenshare = chance(0.5) ? 0.0 : 0.08;
    const double scale = shape.exact ? 1.0 : std::ldexp(1.0, static_cast<int>(below(40)) - 10);
    for (uint64_t i = 0; i < m; i++) {
      const bool negative = chance(0.1);
      for (uint64_t j = 0; j < shape.columns; j++) {
        Score s;
        if (shape.exact) {
          s = static_cast<Score>(static_cast<int64_t>(below(41)) - 30 + (negative ? -12 : 0));
        } else {
          s = static_cast<Score>((std::uniform_real_distribution<double>(-3, 1)(random) -
                                  (negative ? 2 : 0)) * scale);
        }
        const bool last = j + 1 == shape.columns;
        if ((last && !shape.wildcardscores) || chance(forbiddenshare)) s = ScoreTraits<Score>::minusinfinity;
        matrix_scores<Score>(matrix)[matrix->rowoffsets[i] + j] = s;
      }
    }
  }

  // Sequences over the regular codes with wildcards, undefined characters and (when the
  // wildcard column is forbidden) the wildcard column's own code sprinkled in.
  std::vector<std::vector<unsigned char>> database(const Case &shape) {
    std::vector<std::vector<unsigned char>> sequences(1 + below(5));
    const double specials = chance(0.3) ? 0.0 : 0.02;
    for (auto &sequence : sequences) {
      const uint64_t length = chance(0.2) ? below(6) : below(2500);
      for (uint64_t p = 0; p < length; p++) {
        unsigned char code = static_cast<unsigned char>(below(shape.columns - 1));
        if (chance(specials)) {
          const uint64_t kind = below(3);
          code = kind == 0 ? WILDCARDCODE : kind == 1 ? UNDEFINEDCODE : static_cast<unsigned char>(shape.columns - 1);
          if (code == shape.columns - 1 && shape.wildcardscores) code = WILDCARDCODE;
        }
        sequence.push_back(code);
      }
    }
    // Repeats long enough for lcp values of 255 and more.
    if (sequences.size() > 1 && chance(0.2)) sequences.back() = sequences.front();
    return sequences;
  }

  // A threshold that some windows reach: the score of a random rank among the best windows,
  // or now and then one below or above every score.
  Score threshold(const MemoryMultiseq &db, ScoringMatrix *matrix) {
    scoreof<Score>(matrix->threshold) = -ScoreTraits<Score>::plusinfinity / 2;
    std::vector<Found> all = literal_simple<Score>(db, matrix, nullptr);
    if (all.empty() || chance(0.05)) return static_cast<Score>(chance(0.5) ? -1000 : 1000);
    std::vector<double> scores;
    for (const Found &found : all) scores.push_back(found.score);
    std::sort(scores.rbegin(), scores.rend());
    return static_cast<Score>(scores[below(std::min<uint64_t>(scores.size(), 60))]);
  }
};

// The matrix of a strand: 0 forward, 1 complementary, 2 reverse, 3 reverse complementary,
// made as the driver makes them. maps holds the complement map, then the identity map.
void strandmatrix(const ScoringMatrix *forward, ScoringMatrix *strand, int kind,
                  const unsigned char *maps) {
  switch (kind) {
    case 0:
      matrix_swapped_copy(forward, strand, maps + 256);
      break;
    case 1:
      matrix_swapped_copy(forward, strand, maps);
      break;
    case 2:
      matrix_reversed_copy(forward, strand, true);
      break;
    default:
      matrix_swapped_copy(forward, strand, maps);
      matrix_reverse(strand, true);
      break;
  }
}

template <typename Score>
void runcase(std::mt19937_64 &random, uint64_t number) {
  CaseMaker<Score> make{random};
  static const uint64_t alphabets[] = {5, 5, 5, 21, 2, 3};
  Case shape;
  shape.columns = alphabets[make.below(6)];
  shape.wildcardscores = make.chance(0.25);
  shape.exact = std::is_integral_v<Score> || make.chance(0.6);
  const Alphabet alpha = alphabetof(shape.columns);
  const uint64_t m = make.chance(0.1) ? make.below(2) : 1 + make.below(30);
  MemoryMultiseq db(make.database(shape));
  const MemoryIndex index(db);
  ScoringMatrix forward{};
  make.matrix(&forward, &alpha, m, shape);
  scoreof<Score>(forward.threshold) = make.threshold(db, &forward);
  matrix_set_intermediate_thresholds(&forward);

  unsigned char maps[512];
  for (int i = 0; i < 256; i++) maps[i] = maps[256 + i] = static_cast<unsigned char>(i);
  if (shape.columns == 5) {
    maps[0] = 3;
    maps[1] = 2;
  }
  SequenceRange range = {0, db.multiseq.numofsequences - 1};
  if (db.multiseq.numofsequences > 1 && make.chance(0.5)) {
    range.first = make.below(db.multiseq.numofsequences);
    range.last = range.first + make.below(db.multiseq.numofsequences - range.first);
  }
  const SequenceRange *ranges[2] = {nullptr, &range};

  for (int strand = 0; strand < 4; strand++) {
    SCOPED_TRACE("case " + std::to_string(number) + ", strand " + std::to_string(strand) +
                 ", m " + std::to_string(m) + ", columns " + std::to_string(shape.columns));
    ScoringMatrix matrix{};
    strandmatrix(&forward, &matrix, strand, maps);
    ASSERT_EQ(matrix_check(&matrix), 0);
    const SequenceRange *r = ranges[make.below(2)];
    const std::vector<Found> simple = record([&](ReportFunction report) {
      return simplesearch(&db.multiseq, &matrix, r, report, nullptr);
    });
    EXPECT_EQ(simple, literal_simple<Score>(db, &matrix, r));
    const std::vector<Found> lookahead = record([&](ReportFunction report) {
      return lookaheadsearch(&db.multiseq, &matrix, r, report, nullptr);
    });
    EXPECT_EQ(lookahead, literal_lookahead<Score>(db, &matrix, r));
    if (shape.exact) {
      EXPECT_EQ(lookahead, simple);
    }
    const std::vector<Found> everywhere = literal_lookahead<Score>(db, &matrix, nullptr);
    const std::vector<Found> esa = record([&](ReportFunction report) {
      return arraysearch(&index.tree, &matrix, report, nullptr);
    });
    EXPECT_EQ(esa, inrankorder(everywhere, index, m));
    if (!esa.empty()) {
      // A report that answers non-zero ends the search at once, whatever is still held back.
      const uint64_t stopat = make.below(esa.size());
      int status = 0;
      const std::vector<Found> stopped = record([&](ReportFunction report) {
        return arraysearch(&index.tree, &matrix, report, nullptr);
      }, &status, stopat);
      EXPECT_EQ(status, 1);
      EXPECT_EQ(stopped, std::vector<Found>(esa.begin(), esa.begin() + stopat + 1));
    }

    // k-best as the driver runs it: row bounds first, threshold restored afterwards.
    const uint64_t k = 1 + make.below(make.chance(0.5) ? 5 : 200);
    const ScoreValue saved = matrix.threshold;
    matrix_compute_row_bounds(&matrix);
    matrix_set_intermediate_thresholds(&matrix);
    ScoringMatrix twin{};
    matrix_swapped_copy(&matrix, &twin, maps + 256);
    const std::vector<Found> best = record([&](ReportFunction report) {
      return lookaheadsearch_kbest(&db.multiseq, &matrix, r, k, report, nullptr);
    });
    EXPECT_EQ(best, literal_kbest<Score>(db, &twin, r, k));
    if (shape.exact && !shape.wildcardscores) {
      EXPECT_EQ(best, kbestof(simple, k));
    }
    EXPECT_EQ(scoreof<Score>(matrix.threshold), scoreof<Score>(twin.threshold));
    EXPECT_EQ(matrix_check(&matrix), 0);

    matrix.threshold = saved;
    matrix_set_intermediate_thresholds(&matrix);
    int bestesastatus = 0;
    const std::vector<Found> bestesa = record([&](ReportFunction report) {
      return arraysearch_kbest(&index.tree, &matrix, k, report, nullptr);
    }, &bestesastatus);
    EXPECT_EQ(bestesastatus, 0) << errormessageorunknown();
    // Where sums round, raised intermediate thresholds may reject windows of the raised
    // threshold itself, depending on the order of the search: compare exact cases only.
    if (shape.exact) {
      EXPECT_EQ(bestesa, kbestbyrank(everywhere, index, m, k));
    }
    EXPECT_EQ(matrix_check(&matrix), 0);
    matrix.threshold = saved;
    matrix_free_row_bounds(&matrix);
    matrix_set_intermediate_thresholds(&matrix);
    matrix_free(&twin);
    matrix_free(&matrix);
  }
  matrix_free(&forward);
}

// Runs check once per byte pass level of this processor, the scalar filter first, and leaves
// the best level in use.
template <typename Check>
void eachlevel(Check &&check) {
  for (int level = FIRSTPASS_SCALAR; level <= firstpass_supported(); level++) {
    ASSERT_EQ(firstpass_cap(level), level);
    SCOPED_TRACE("byte pass level " + std::to_string(level));
    check();
  }
  firstpass_cap(FIRSTPASS_BEST);
}

uint64_t agreeseed() {
  static const uint64_t seed = [] {
    const uint64_t s = envnumber("ZELKO_AGREE_SEED", 20240611);
    std::printf("engine agreement seed: %lu (set ZELKO_AGREE_SEED to repeat)\n",
                static_cast<unsigned long>(s));
    return s;
  }();
  return seed;
}

template <typename Score>
class EngineAgreement : public testing::Test {};
using ScoreTypes = testing::Types<int64_t, float>;
TYPED_TEST_SUITE(EngineAgreement, ScoreTypes);

TYPED_TEST(EngineAgreement, random_matrices_and_databases_on_all_strands) {
  eachlevel([&] {
    std::mt19937_64 random(agreeseed() + sizeof(TypeParam));
    const uint64_t cases = envnumber("ZELKO_AGREE_CASES", 150);
    for (uint64_t number = 0; number < cases; number++) {
      runcase<TypeParam>(random, number);
      if (this->HasFailure()) break;
    }
  });
}

// One batch of matrices of both score types over one random database: every matrix whose
// hits the batch holds reports exactly what its own lookahead search reports, and stops
// where that search stops. Strand matrices as the driver makes them; thresholds at a random
// rank of the best windows (where the q-gram table pays) or anywhere; lengths around the
// q-gram and the word tables; every route; plan shares and parts run in reverse order.
void runbatchcase(std::mt19937_64 &random, uint64_t number) {
  CaseMaker<int64_t> makeinteger{random};
  CaseMaker<float> makefloat{random};
  static const uint64_t alphabets[] = {5, 5, 5, 5, 21, 2, 3};
  Case shape;
  shape.columns = alphabets[makeinteger.below(7)];
  shape.wildcardscores = makeinteger.chance(0.1);
  shape.exact = makeinteger.chance(0.6);
  const Alphabet alpha = alphabetof(shape.columns);
  MemoryMultiseq db(makeinteger.database(shape));
  unsigned char maps[512];
  for (int i = 0; i < 256; i++) maps[i] = maps[256 + i] = static_cast<unsigned char>(i);
  if (shape.columns == 5) {
    maps[0] = 3;
    maps[1] = 2;
  }
  SequenceRange range = {0, db.multiseq.numofsequences - 1};
  const bool ranged = db.multiseq.numofsequences > 1 && makeinteger.chance(0.4);
  if (ranged) {
    range.first = makeinteger.below(db.multiseq.numofsequences);
    range.last = range.first + makeinteger.below(db.multiseq.numofsequences - range.first);
  }
  const SequenceRange *r = ranged ? &range : nullptr;

  const uint64_t count = 1 + makeinteger.below(12);
  std::vector<ScoringMatrix> matrices(count);
  for (ScoringMatrix &matrix : matrices) {
    static const uint64_t lengths[] = {1, 3, 4, 5, 7, 8, 9, 12, 16, 17, 24, 31, 33, 64, 65, 70};
    const uint64_t m = makeinteger.chance(0.5) ? lengths[makeinteger.below(16)]
                                               : 1 + makeinteger.below(30);
    ScoringMatrix forward{};
    const bool integer = makeinteger.chance(0.5);
    Case matrixshape = shape;
    matrixshape.exact = integer || shape.exact;
    if (integer) {
      makeinteger.matrix(&forward, &alpha, m, matrixshape);
      scoreof<int64_t>(forward.threshold) = makeinteger.threshold(db, &forward);
    } else {
      makefloat.matrix(&forward, &alpha, m, matrixshape);
      scoreof<float>(forward.threshold) = makefloat.threshold(db, &forward);
    }
    matrix_set_intermediate_thresholds(&forward);
    strandmatrix(&forward, &matrix, static_cast<int>(makeinteger.below(4)), maps);
    matrix_free(&forward);
  }
  const BatchRoute routes[] = {BATCHROUTE_AUTO, BATCHROUTE_TABLE, BATCHROUTE_SCAN};
  const BatchRoute route = routes[makeinteger.below(3)];
  const uint64_t parts = 1 + makeinteger.below(4);
  const uint64_t workers = 1 + makeinteger.below(3);
  SCOPED_TRACE("batch case " + std::to_string(number) + ", columns " +
               std::to_string(shape.columns) + ", " + std::to_string(count) + " matrices, route " +
               std::to_string(route) + ", " + std::to_string(parts) + " parts, " +
               std::to_string(workers) + " workers");

  LookaheadBatch *batch = lookaheadbatch_create(&db.multiseq, r);
  ASSERT_NE(batch, nullptr);
  for (const ScoringMatrix &matrix : matrices) lookaheadbatch_add(batch, &matrix);
  if (makeinteger.chance(0.5)) {
    lookaheadbatch_plan(batch, parts, workers, route);
  } else {  // the plan shared out, the shares in reverse order
    const uint64_t shares = 1 + makeinteger.below(3);
    lookaheadbatch_planstart(batch, parts, workers, route);
    for (uint64_t share = shares; share-- > 0;) lookaheadbatch_planshare(batch, share, shares);
    lookaheadbatch_planfinish(batch);
  }
  const bool tight = makeinteger.chance(0.2);
  if (tight) lookaheadbatch_setbudget(batch, makeinteger.below(4096));
  // The parts in reverse order, the workers' scratches taken in turn.
  for (uint64_t part = lookaheadbatch_parts(batch); part-- > 0;)
    lookaheadbatch_runpart(batch, part, part % workers);
  for (uint64_t i = 0; i < count; i++) {
    SCOPED_TRACE("matrix " + std::to_string(i) + ", m " + std::to_string(matrices[i].m) +
                 (lookaheadbatch_intable(batch, i) ? ", in the table" : ", scanned"));
    if (!lookaheadbatch_holds(batch, i)) {
      EXPECT_TRUE(tight);  // only the budget gives a matrix up
      continue;
    }
    const std::vector<Found> own = record([&](ReportFunction report) {
      return lookaheadsearch(&db.multiseq, &matrices[i], r, report, nullptr);
    });
    // Every other matrix stops at a random hit; the report stops there too.
    const uint64_t stopat =
        !own.empty() && i % 2 == 1 ? makeinteger.below(own.size()) : UINT64_MAX;
    int status = 0;
    const std::vector<Found> held = record([&](ReportFunction report) {
      return lookaheadbatch_report(batch, i, &matrices[i], report, nullptr);
    }, &status, stopat);
    if (stopat == UINT64_MAX) {
      EXPECT_EQ(status, 0);
      EXPECT_EQ(held, own);
    } else {
      EXPECT_EQ(status, -1);
      EXPECT_EQ(held, std::vector<Found>(own.begin(), own.begin() + stopat + 1));
    }
  }
  lookaheadbatch_free(batch);
  for (ScoringMatrix &matrix : matrices) matrix_free(&matrix);
}

TEST(EngineAgreementBatch, batches_report_what_each_lookahead_search_reports) {
  eachlevel([] {
    std::mt19937_64 random(agreeseed() + 11);
    const uint64_t cases = envnumber("ZELKO_AGREE_CASES", 150);
    for (uint64_t number = 0; number < cases; number++) {
      runbatchcase(random, number);
      if (testing::Test::HasFailure()) break;
    }
  });
}

// A range naming a missing sequence leaves the searches to report it: no batch.
TEST(EngineAgreementBatch, no_batch_for_a_range_beyond_the_last_sequence) {
  MemoryMultiseq db({{0, 1, 2, 3}, {3, 2, 1, 0}});
  const SequenceRange beyond = {1, 2};
  EXPECT_EQ(lookaheadbatch_create(&db.multiseq, &beyond), nullptr);
  EXPECT_EQ(geterrorcode(), 0);
}

// Thresholds so low that a forbidden cell no longer drives a prefix below its intermediate
// threshold: the lookahead rule then follows the sums, and the engine must too.
TEST(EngineAgreementCorners, forbidden_cells_under_extreme_thresholds) {
  eachlevel([] {
    std::mt19937_64 random(agreeseed());
    const Alphabet alpha = alphabetof(5);
    CaseMaker<int64_t> make{random};
    for (int round = 0; round < 20; round++) {
      MemoryMultiseq db(make.database({5, false, true}));
      ScoringMatrix matrix{};
      make.matrix(&matrix, &alpha, 1 + make.below(8), {5, false, true});
      matrix_scores<int64_t>(&matrix)[1] = ScoreTraits<int64_t>::minusinfinity;
      scoreof<int64_t>(matrix.threshold) = -(INT64_C(1) << 62) - INT64_C(1000) * round;
      matrix_set_intermediate_thresholds(&matrix);
      const std::vector<Found> lookahead = record([&](ReportFunction report) {
        return lookaheadsearch(&db.multiseq, &matrix, nullptr, report, nullptr);
      });
      EXPECT_EQ(lookahead, literal_lookahead<int64_t>(db, &matrix, nullptr)) << round;
      matrix_free(&matrix);
    }
  });
}

// Scores in the range where floats round at every addition.
TEST(EngineAgreementCorners, float_sums_that_round) {
  eachlevel([] {
    std::mt19937_64 random(agreeseed() + 7);
    const Alphabet alpha = alphabetof(5);
    CaseMaker<float> make{random};
    for (int round = 0; round < 40; round++) {
      MemoryMultiseq db(make.database({5, false, false}));
      ScoringMatrix matrix{};
      const uint64_t m = 2 + make.below(12);
      matrix_init(&matrix, SCORE_FLOAT, &alpha, m);
      for (uint64_t i = 0; i < m * 5; i++) {
        matrix_scores<float>(&matrix)[i] =
            (i % 5 == 4) ? ScoreTraits<float>::minusinfinity
                         : static_cast<float>(std::ldexp(1.0, 24 + static_cast<int>(make.below(3))) +
                                              static_cast<double>(make.below(9)) - 4.0) *
                               (make.chance(0.2) ? -1.0f : 1.0f);
      }
      scoreof<float>(matrix.threshold) = make.threshold(db, &matrix);
      matrix_set_intermediate_thresholds(&matrix);
      const std::vector<Found> lookahead = record([&](ReportFunction report) {
        return lookaheadsearch(&db.multiseq, &matrix, nullptr, report, nullptr);
      });
      EXPECT_EQ(lookahead, literal_lookahead<float>(db, &matrix, nullptr)) << round;
      const std::vector<Found> simple = record([&](ReportFunction report) {
        return simplesearch(&db.multiseq, &matrix, nullptr, report, nullptr);
      });
      EXPECT_EQ(simple, literal_simple<float>(db, &matrix, nullptr)) << round;
      matrix_free(&matrix);
    }
  });
}

}  // namespace
