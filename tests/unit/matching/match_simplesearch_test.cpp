// Simple search: window boundaries, symbols that stop a window, sequence ranges, the Match
// it fills and stopping on the ReportFunction's answer.
#include <gtest/gtest.h>

#include "base/error.hpp"
#include "matching/match_simplesearch.hpp"
#include "support/enginefixtures.hpp"

using namespace enginetest;

namespace {

template <typename Score>
class SimpleSearchTest : public testing::Test {
 protected:
  static constexpr Score f = ScoreTraits<Score>::minusinfinity;
  Alphabet alpha = alphabetof(5);
  ScoringMatrix matrix{};
  // Scores 1 for a match with "acg", 0 otherwise; the wildcard column is forbidden.
  void acg(Score threshold) {
    fillmatrix<Score>(&matrix, &alpha, {{1, 0, 0, 0, f}, {0, 1, 0, 0, f}, {0, 0, 1, 0, f}},
                      threshold);
  }
  std::vector<Found> search(const MemoryMultiseq &db, const SequenceRange *range = nullptr,
                            int *ret_status = nullptr, uint64_t stopat = UINT64_MAX) {
    return record([&](ReportFunction report) {
      return simplesearch(&db.multiseq, &matrix, range, report, nullptr);
    }, ret_status, stopat);
  }
  void TearDown() override { matrix_free(&matrix); }
};
using ScoreTypes = testing::Types<int64_t, float>;
TYPED_TEST_SUITE(SimpleSearchTest, ScoreTypes);

TYPED_TEST(SimpleSearchTest, windows_stay_inside_their_sequence) {
  this->acg(2);
  // Sequence 0 ends in "ac", sequence 1 begins with "g": no window crosses the separator.
  // "ac" alone is shorter than the matrix.
  MemoryMultiseq db({dna("acgtac"), dna("gacc"), dna("ac")});
  EXPECT_EQ(this->search(db), (std::vector<Found>{{2, 3}, {10, 2}}));
}

TYPED_TEST(SimpleSearchTest, wildcards_undefined_and_forbidden_cells_stop_windows) {
  using Score = TypeParam;
  // Every regular symbol allowed at every row, threshold below every reachable score.
  fillmatrix<Score>(&this->matrix, &this->alpha,
                    {{0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}}, -100);
  MemoryMultiseq db({dna("ana?cc")});
  // Even a matrix scoring the wildcard column cannot match a window holding a wildcard.
  EXPECT_EQ(this->search(db), (std::vector<Found>{{5, 0}}));
  matrix_free(&this->matrix);
  // Forbidding g at row 1 removes exactly the windows with g at offset 1.
  fillmatrix<Score>(&this->matrix, &this->alpha, {{0, 0, 0, 0, this->f}, {0, 0, this->f, 0, this->f}},
                    -100);
  MemoryMultiseq db2({dna("aggat")});
  EXPECT_EQ(this->search(db2), (std::vector<Found>{{3, 0}, {4, 0}}));
}

TYPED_TEST(SimpleSearchTest, overlapping_windows_are_all_reported) {
  using Score = TypeParam;
  fillmatrix<Score>(&this->matrix, &this->alpha, {{1, 0, 0, 0, this->f}, {1, 0, 0, 0, this->f}}, 2);
  MemoryMultiseq db({dna("aaaa")});
  EXPECT_EQ(this->search(db), (std::vector<Found>{{1, 2}, {2, 2}, {3, 2}}));
}

TYPED_TEST(SimpleSearchTest, dimension_0_matches_nothing) {
  using Score = TypeParam;
  fillmatrix<Score>(&this->matrix, &this->alpha, {}, -1);
  MemoryMultiseq db({dna("acgt"), dna("a")});
  int status = 1;
  EXPECT_TRUE(this->search(db, nullptr, &status).empty());
  EXPECT_EQ(status, 0);
}

TYPED_TEST(SimpleSearchTest, sequence_ranges_select_sequences_and_fail_before_searching) {
  this->acg(3);
  MemoryMultiseq db({dna("acg"), dna("tacg"), dna("acgacg")});
  const SequenceRange one = {1, 1};
  EXPECT_EQ(this->search(db, &one), (std::vector<Found>{{7, 3}}));
  const SequenceRange tail = {1, 2};
  EXPECT_EQ(this->search(db, &tail), (std::vector<Found>{{7, 3}, {11, 3}, {14, 3}}));
  clearerrorcode();
  const SequenceRange beyond = {0, 3};
  int status = 0;
  EXPECT_TRUE(this->search(db, &beyond, &status).empty());
  EXPECT_EQ(status, -1);
  EXPECT_STREQ(errormessagespace(), "unit 3 does not exist: maximal number of units is 3");
  EXPECT_EQ(geterrorcode(), 1);
  clearerrorcode();
}

TYPED_TEST(SimpleSearchTest, match_carries_the_search_context_and_a_refusal_stops) {
  this->acg(3);
  MemoryMultiseq db({dna("acgacg"), dna("acg")});
  SearchJob job{};
  Recorder recorder;
  recorder.stopat = 0;
  currentrecorder = &recorder;
  EXPECT_EQ(simplesearch(&db.multiseq, &this->matrix, nullptr, recordmatch, &job), -1);
  currentrecorder = nullptr;
  ASSERT_EQ(recorder.matches.size(), 1u);  // stopped after the first answer
  const Match &match = recorder.matches[0];
  EXPECT_EQ(match.sourcekind, SOURCE_MULTISEQ);
  EXPECT_EQ(match.length, 3u);
  EXPECT_EQ(match.endposition, 2u);
  EXPECT_EQ(match.characters, this->alpha.characters);
  EXPECT_EQ(match.job, &job);
  EXPECT_EQ(match.source, &db.multiseq);
  EXPECT_EQ(match.matrix, &this->matrix);
}

}  // namespace

TEST(SimpleSearch, invalid_type_is_reported) {
  Alphabet alpha = alphabetof(5);
  ScoringMatrix matrix{};
  matrix_init(&matrix, SCORE_INTEGER, &alpha, 1);
  matrix.scoretype = 3;
  MemoryMultiseq db({dna("acgt")});
  EXPECT_EQ(simplesearch(&db.multiseq, &matrix, nullptr, recordmatch, nullptr), -1);
  EXPECT_STREQ(errormessagespace(), "Invalid profile type.");
  matrix.scoretype = SCORE_INTEGER;
  matrix_free(&matrix);
  clearerrorcode();
}
