// Lookahead search and its k-best form: the float rounding rule, symbols that stop a
// window, the best-match store's order, ties and threshold raising, and failures.
#include <gtest/gtest.h>

#include "base/error.hpp"
#include "matching/match_lookaheadsearch.hpp"
#include "matching/match_simplesearch.hpp"
#include "support/enginefixtures.hpp"

using namespace enginetest;

namespace {

template <typename Score>
class LookaheadTest : public testing::Test {
 protected:
  static constexpr Score f = ScoreTraits<Score>::minusinfinity;
  Alphabet alpha = alphabetof(5);
  ScoringMatrix matrix{};
  // Scores a = 3, c = 2, g = 1, t = 0 at each of two rows.
  void ranked(Score threshold) {
    fillmatrix<Score>(&matrix, &alpha, {{3, 2, 1, 0, f}, {3, 2, 1, 0, f}}, threshold);
    matrix_compute_row_bounds(&matrix);
    matrix_set_intermediate_thresholds(&matrix);
  }
  std::vector<Found> lookahead(const MemoryMultiseq &db, const SequenceRange *range = nullptr,
                               int *ret_status = nullptr) {
    return record([&](ReportFunction report) {
      return lookaheadsearch(&db.multiseq, &matrix, range, report, nullptr);
    }, ret_status);
  }
  std::vector<Found> kbest(const MemoryMultiseq &db, uint64_t k, int *ret_status = nullptr,
                           uint64_t stopat = UINT64_MAX, const SequenceRange *range = nullptr) {
    return record([&](ReportFunction report) {
      return lookaheadsearch_kbest(&db.multiseq, &matrix, range, k, report, nullptr);
    }, ret_status, stopat);
  }
  void TearDown() override {
    matrix_free(&matrix);
    clearerrorcode();
  }
};
using ScoreTypes = testing::Types<int64_t, float>;
TYPED_TEST_SUITE(LookaheadTest, ScoreTypes);

TYPED_TEST(LookaheadTest, wildcards_undefined_and_separators_are_never_hits) {
  this->ranked(-10);  // every complete window reaches the threshold
  MemoryMultiseq db({dna("tan?ag"), dna("gt")});
  // Windows: ta, an, n?, ?a, ag | gt (the separator lies between g and g).
  EXPECT_EQ(this->lookahead(db), (std::vector<Found>{{1, 3}, {5, 4}, {8, 1}}));
}

TYPED_TEST(LookaheadTest, kbest_keeps_best_first_and_earlier_among_equals) {
  this->ranked(0);
  // Window scores in end order: aa 6, ac 5, ca 5, ag 4, gc 3, cc 4, ca 5, aa 6.
  MemoryMultiseq db({dna("aacagccaa")});
  // k above the number of hits: all of them, best first, threshold unchanged.
  EXPECT_EQ(this->kbest(db, 100),
            (std::vector<Found>{{1, 6}, {8, 6}, {2, 5}, {3, 5}, {7, 5}, {4, 4}, {6, 4}, {5, 3}}));
  EXPECT_EQ(scoreof<TypeParam>(this->matrix.threshold), TypeParam(0));
  // Three places for three 5s: the earlier two are kept, the third ties and is dropped.
  EXPECT_EQ(this->kbest(db, 4), (std::vector<Found>{{1, 6}, {8, 6}, {2, 5}, {3, 5}}));
  // The threshold stays raised to the worst kept score: a second search without restoring
  // it finds only hits at least as good.
  EXPECT_EQ(scoreof<TypeParam>(this->matrix.threshold), TypeParam(5));
  EXPECT_EQ(matrix_check(&this->matrix), 0);
  EXPECT_EQ(this->kbest(db, 100), (std::vector<Found>{{1, 6}, {8, 6}, {2, 5}, {3, 5}, {7, 5}}));
  EXPECT_EQ(this->lookahead(db), (std::vector<Found>{{1, 6}, {2, 5}, {3, 5}, {7, 5}, {8, 6}}));
}

TYPED_TEST(LookaheadTest, kbest_failures_report_nothing) {
  this->ranked(0);
  MemoryMultiseq db({dna("aacag")});
  int status = 0;
  EXPECT_TRUE(this->kbest(db, 0, &status).empty());
  EXPECT_EQ(status, -1);
  EXPECT_STREQ(errormessagespace(), "Searching for zero best matches doesn't make any sense.");
  EXPECT_EQ(geterrorcode(), 1);
  clearerrorcode();
  const SequenceRange missing = {0, 1};
  EXPECT_TRUE(this->kbest(db, 2, &status, UINT64_MAX, &missing).empty());
  EXPECT_EQ(status, -1);
  EXPECT_STREQ(errormessagespace(), "unit 1 does not exist: maximal number of units is 1");
  clearerrorcode();
  // A refusal during the final walk stops it; what was handed over stays handed over.
  EXPECT_EQ(this->kbest(db, 3, &status, 1), (std::vector<Found>{{1, 6}, {2, 5}}));
  EXPECT_EQ(status, -1);
  EXPECT_EQ(geterrorcode(), 1);
}

}  // namespace

// A float intermediate threshold rounds: T = 2^25 and a second row adding at most 1 give
// the first row the threshold fl(2^25 - 1) = 2^25. A first score of 2^25 - 2 then fails the
// lookahead rule, while its complete sum fl(2^25 - 2 + 1) rounds up to 2^25 and satisfies the
// simple search. Each engine keeps its own rule.
TEST(LookaheadFloat, intermediate_threshold_rounding_follows_each_rule) {
  Alphabet alpha = alphabetof(5);
  const float f = ScoreTraits<float>::minusinfinity;
  const float t = 33554432.0f;
  ScoringMatrix matrix{};
  fillmatrix<float>(&matrix, &alpha, {{t - 2, 0, 0, 0, f}, {1, 0, 0, 0, f}}, t);
  ASSERT_EQ(matrix_intermediate<float>(&matrix)[0], t);
  MemoryMultiseq db({dna("aa")});
  EXPECT_EQ(record([&](ReportFunction report) {
              return simplesearch(&db.multiseq, &matrix, nullptr, report, nullptr);
            }),
            (std::vector<Found>{{1, t}}));
  EXPECT_TRUE(record([&](ReportFunction report) {
                return lookaheadsearch(&db.multiseq, &matrix, nullptr, report, nullptr);
              }).empty());
  matrix_free(&matrix);
}

TEST(Lookahead, invalid_type_is_reported) {
  Alphabet alpha = alphabetof(5);
  ScoringMatrix matrix{};
  matrix_init(&matrix, SCORE_INTEGER, &alpha, 1);
  matrix.scoretype = 2;
  MemoryMultiseq db({dna("acgt")});
  EXPECT_EQ(lookaheadsearch(&db.multiseq, &matrix, nullptr, recordmatch, nullptr), -1);
  EXPECT_STREQ(errormessagespace(), "Invalid profile type.");
  EXPECT_EQ(lookaheadsearch_kbest(&db.multiseq, &matrix, nullptr, 1, recordmatch, nullptr), -1);
  EXPECT_STREQ(errormessagespace(), "Invalid profile type.");
  matrix.scoretype = SCORE_INTEGER;
  matrix_free(&matrix);
  clearerrorcode();
}
