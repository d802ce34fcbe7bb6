// Scoring matrix: bounds, intermediate thresholds, reversal, column exchange, copies, and the
// checker, for integer and float scores alike.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/error.hpp"
#include "matching/profile.hpp"

namespace {

// An alphabet of `columns` codes whose last code is the wildcard class.
Alphabet testalphabet(uint64_t columns) {
  Alphabet alpha{};
  alpha.mapsize = columns;
  alpha.undefinedcode = UNDEFINEDCODE;
  for (uint64_t i = 0; i < columns; i++) alpha.characters[i] = static_cast<unsigned char>('a' + i);
  return alpha;
}

template <typename Score>
ScoreValue value(Score s) {
  ScoreValue v;
  scoreof<Score>(v) = s;
  return v;
}

template <typename Score>
std::vector<Score> allscores(const ScoringMatrix *matrix) {
  const Score *scores = matrix_scores<Score>(matrix);
  return std::vector<Score>(scores, scores + matrix->m * matrix_columns(matrix));
}
template <typename Score>
std::vector<Score> intermediates(const ScoringMatrix *matrix) {
  const Score *thr = matrix_intermediate<Score>(matrix);
  return std::vector<Score>(thr, thr + matrix->m);
}

template <typename Score>
class MatrixTest : public testing::Test {
 protected:
  static constexpr ScoreType type = ScoreTraits<Score>::type;
  static constexpr Score minf = ScoreTraits<Score>::minusinfinity;
  static constexpr Score pinf = ScoreTraits<Score>::plusinfinity;
  Alphabet alpha = testalphabet(5);  // four regular columns and the wildcard column
  ScoringMatrix matrix{};

  // Builds a matrix from rows of five cells each.
  void build(const std::vector<std::vector<Score>> &rows, Score threshold) {
    ASSERT_EQ(matrix_init_threshold(&matrix, type, &alpha, rows.size(), value<Score>(threshold)), 0);
    for (uint64_t i = 0; i < rows.size(); i++) {
      for (uint64_t j = 0; j < 5; j++) matrix_scores<Score>(&matrix)[matrix.rowoffsets[i] + j] = rows[i][j];
    }
  }
  void TearDown() override { matrix_free(&matrix); }
};

using ScoreTypes = testing::Types<int64_t, float>;
TYPED_TEST_SUITE(MatrixTest, ScoreTypes);

TYPED_TEST(MatrixTest, init_lays_out_rows_and_dimension_0_allocates_nothing) {
  using Score = TypeParam;
  this->build({{1, 2, 3, 4, this->minf}, {5, 6, 7, 8, this->minf}, {0, 0, 0, 0, this->minf}}, 3);
  EXPECT_EQ(this->matrix.rowoffsets[0], 0u);
  EXPECT_EQ(this->matrix.rowoffsets[2], 10u);
  EXPECT_EQ(this->matrix.rowbounds, nullptr);
  EXPECT_EQ(this->matrix.rowmaxima, nullptr);
  EXPECT_EQ((matrix_cell<Score>(&this->matrix, 1, 2)), Score(7));
  EXPECT_EQ(scoreof<Score>(this->matrix.threshold), Score(3));

  ScoringMatrix empty{};
  ASSERT_EQ(matrix_init_threshold(&empty, this->type, &this->alpha, 0, value<Score>(5)), 0);
  EXPECT_EQ(empty.rowoffsets, nullptr);
  EXPECT_EQ(empty.scores, nullptr);
  EXPECT_EQ(empty.intermediate, nullptr);
  ASSERT_EQ(matrix_set_intermediate_thresholds(&empty), 0);
  ASSERT_EQ(matrix_compute_row_bounds(&empty), 0);
  EXPECT_EQ(empty.rowbounds, nullptr);
  EXPECT_EQ(empty.rowmaxima, nullptr);
  EXPECT_EQ(scoreof<Score>(empty.minscore), Score(0));
  EXPECT_EQ(scoreof<Score>(empty.maxscore), Score(0));
  EXPECT_EQ(matrix_reverse(&empty, true), 0);
  EXPECT_EQ(matrix_check(&empty), 0);
  ScoringMatrix copy{};
  ASSERT_EQ(matrix_reversed_copy(&empty, &copy, true), 0);
  EXPECT_EQ(copy.scores, nullptr);
  matrix_free(&copy);
  matrix_free(&empty);
  EXPECT_EQ(empty.rowoffsets, nullptr);
}

TYPED_TEST(MatrixTest, row_bounds_leave_out_the_wildcard_column) {
  using Score = TypeParam;
  this->build({{1, -2, 3, 0, 100}, {-4, -5, -6, -7, 100}, {this->minf, this->minf, this->minf, this->minf, 9}}, 0);
  ASSERT_EQ(matrix_compute_row_bounds(&this->matrix), 0);
  const Score *bounds = matrix_rowbounds<Score>(&this->matrix);
  EXPECT_EQ(this->matrix.rowmaxima, bounds + 3);
  EXPECT_EQ(bounds[0], Score(-2));
  EXPECT_EQ(bounds[3], Score(3));
  EXPECT_EQ(bounds[1], Score(-7));
  EXPECT_EQ(bounds[4], Score(-4));
  // A row whose regular columns are all forbidden has the forbidden score as its maximum.
  EXPECT_EQ(bounds[2], this->minf);
  EXPECT_EQ(bounds[5], this->minf);
  ASSERT_EQ(matrix_set_intermediate_thresholds(&this->matrix), 0);
  EXPECT_EQ(matrix_check(&this->matrix), 0);
  matrix_free_row_bounds(&this->matrix);
  EXPECT_EQ(this->matrix.rowbounds, nullptr);
  EXPECT_EQ(this->matrix.rowmaxima, nullptr);

  // One column (the wildcard alone): the bounds keep their start values.
  Alphabet single = testalphabet(1);
  ScoringMatrix one{};
  ASSERT_EQ(matrix_init(&one, this->type, &single, 2), 0);
  matrix_scores<Score>(&one)[0] = 5;
  matrix_scores<Score>(&one)[1] = 6;
  ASSERT_EQ(matrix_compute_row_bounds(&one), 0);
  EXPECT_EQ(matrix_rowbounds<Score>(&one)[0], this->pinf);
  EXPECT_EQ(matrix_rowbounds<Score>(&one)[3], this->minf);
  matrix_free(&one);
}

TYPED_TEST(MatrixTest, intermediate_thresholds_with_and_without_row_bounds) {
  using Score = TypeParam;
  // rows: best 4, all negative (best -1), all forbidden, best 2
  this->build({{1, 4, 0, 2, 50},
               {-1, -3, -2, -5, this->minf},
               {this->minf, this->minf, this->minf, this->minf, this->minf},
               {2, 1, 0, -1, this->minf}},
              10);
  ASSERT_EQ(matrix_set_intermediate_thresholds(&this->matrix), 0);
  // Without bounds negative and forbidden rows add 0.
  EXPECT_EQ(intermediates<Score>(&this->matrix), (std::vector<Score>{8, 8, 8, 10}));
  EXPECT_EQ(matrix_check(&this->matrix), 0);

  ASSERT_EQ(matrix_compute_row_bounds(&this->matrix), 0);
  ASSERT_EQ(matrix_set_intermediate_thresholds(&this->matrix), 0);
  const std::vector<Score> thr = intermediates<Score>(&this->matrix);
  EXPECT_EQ(thr[3], Score(10));
  EXPECT_EQ(thr[2], Score(8));
  EXPECT_EQ(thr[1], Score(8) - this->minf);  // the forbidden row raises everything before it
  EXPECT_GE(thr[0], thr[1]);                 // and so does the negative row
  if constexpr (std::is_integral_v<Score>) {
    EXPECT_EQ(thr[0], thr[1] + 1);
  }
  EXPECT_EQ(matrix_check(&this->matrix), 0);

  // m = 1: the only intermediate threshold is T.
  ScoringMatrix one{};
  ASSERT_EQ(matrix_init_threshold(&one, this->type, &this->alpha, 1, value<Score>(-3)), 0);
  for (int j = 0; j < 5; j++) matrix_scores<Score>(&one)[j] = Score(j);
  ASSERT_EQ(matrix_set_intermediate_thresholds(&one), 0);
  EXPECT_EQ(matrix_intermediate<Score>(&one)[0], Score(-3));
  matrix_free(&one);
}

TYPED_TEST(MatrixTest, several_forbidden_rows_do_not_overflow_the_bounds) {
  using Score = TypeParam;
  const Score f = this->minf;
  this->build({{f, f, f, f, f}, {f, f, f, f, f}, {f, f, f, f, f}, {f, f, f, f, f}, {1, 2, 3, 4, f}}, 5);
  ASSERT_EQ(matrix_compute_row_bounds(&this->matrix), 0);
  ASSERT_EQ(matrix_set_intermediate_thresholds(&this->matrix), 0);
  const std::vector<Score> thr = intermediates<Score>(&this->matrix);
  // Before the forbidden rows each threshold is at least the later one: nothing wrapped.
  EXPECT_EQ(thr[3], Score(1));
  for (int i = 0; i + 1 < 4; i++) EXPECT_GE(thr[i], thr[i + 1]) << i;
  EXPECT_LT(scoreof<Score>(this->matrix.maxscore), Score(0));
  EXPECT_EQ(matrix_check(&this->matrix), 0);
}

TYPED_TEST(MatrixTest, reverse_twice_is_identity_and_matches_reversed_copy) {
  using Score = TypeParam;
  this->build({{1, 2, 3, 4, this->minf}, {-5, 6, -7, 8, this->minf}, {9, -1, 0, 2, this->minf}}, 7);
  ASSERT_EQ(matrix_compute_row_bounds(&this->matrix), 0);
  ASSERT_EQ(matrix_set_intermediate_thresholds(&this->matrix), 0);
  const std::vector<Score> scores = allscores<Score>(&this->matrix);
  const std::vector<Score> thr = intermediates<Score>(&this->matrix);

  ScoringMatrix copy{};
  ASSERT_EQ(matrix_reversed_copy(&this->matrix, &copy, true), 0);
  EXPECT_EQ(matrix_check(&copy), 0);
  EXPECT_EQ((matrix_cell<Score>(&copy, 0, 0)), Score(9));
  EXPECT_EQ((matrix_cell<Score>(&copy, 2, 3)), Score(4));
  EXPECT_EQ(matrix_rowbounds<Score>(&copy)[0], Score(-1));  // minimum of source row 2
  EXPECT_EQ(scoreof<Score>(copy.threshold), Score(7));
  EXPECT_EQ(scoreof<Score>(copy.maxscore), scoreof<Score>(this->matrix.maxscore));

  ASSERT_EQ(matrix_reverse(&this->matrix, true), 0);
  EXPECT_EQ(allscores<Score>(&this->matrix), allscores<Score>(&copy));
  EXPECT_EQ(intermediates<Score>(&this->matrix), intermediates<Score>(&copy));
  EXPECT_EQ(matrix_check(&this->matrix), 0);
  ASSERT_EQ(matrix_reverse(&this->matrix, true), 0);
  EXPECT_EQ(allscores<Score>(&this->matrix), scores);
  EXPECT_EQ(intermediates<Score>(&this->matrix), thr);
  EXPECT_EQ(matrix_check(&this->matrix), 0);
  matrix_free(&copy);

  // An odd and an even number of rows both reverse fully; m = 1 stays as it is.
  ScoringMatrix one{};
  ASSERT_EQ(matrix_init(&one, this->type, &this->alpha, 1), 0);
  for (int j = 0; j < 5; j++) matrix_scores<Score>(&one)[j] = Score(j);
  ASSERT_EQ(matrix_reverse(&one, false), 0);
  EXPECT_EQ(allscores<Score>(&one), (std::vector<Score>{0, 1, 2, 3, 4}));
  matrix_free(&one);
}

TYPED_TEST(MatrixTest, column_exchange_twice_is_identity_and_matches_swapped_copy) {
  using Score = TypeParam;
  this->build({{1, 2, 3, 4, this->minf}, {5, 6, 7, 8, this->minf}}, 9);
  ASSERT_EQ(matrix_compute_row_bounds(&this->matrix), 0);
  ASSERT_EQ(matrix_set_intermediate_thresholds(&this->matrix), 0);
  const std::vector<Score> scores = allscores<Score>(&this->matrix);
  const std::vector<Score> thr = intermediates<Score>(&this->matrix);
  // Complement map: a<->t named at a, c<->g named at c.
  SwapMap swapmap;
  for (int i = 0; i < 256; i++) swapmap[i] = static_cast<unsigned char>(i);
  swapmap[0] = 3;
  swapmap[1] = 2;

  ScoringMatrix copy{};
  ASSERT_EQ(matrix_swapped_copy(&this->matrix, &copy, swapmap), 0);
  EXPECT_EQ(allscores<Score>(&copy),
            (std::vector<Score>{4, 3, 2, 1, this->minf, 8, 7, 6, 5, this->minf}));
  EXPECT_EQ(intermediates<Score>(&copy), thr);
  EXPECT_NE(copy.rowbounds, this->matrix.rowbounds);
  EXPECT_EQ(matrix_check(&copy), 0);

  ASSERT_EQ(matrix_swap_columns(&this->matrix, swapmap), 0);
  EXPECT_EQ(allscores<Score>(&this->matrix), allscores<Score>(&copy));
  ASSERT_EQ(matrix_swap_columns(&this->matrix, swapmap), 0);
  EXPECT_EQ(allscores<Score>(&this->matrix), scores);
  EXPECT_EQ(intermediates<Score>(&this->matrix), thr);
  matrix_free(&copy);
}

TYPED_TEST(MatrixTest, float_copy_converts_scores_and_sentinels) {
  using Score = TypeParam;
  this->build({{1, this->minf, 3, -4, this->minf}}, 0);
  ScoringMatrix scratch{};
  const ScoringMatrix *result = nullptr;
  const bool copied = matrix_float_copy(&this->matrix, &scratch, &result);
  if constexpr (std::is_same_v<Score, float>) {
    EXPECT_FALSE(copied);
    EXPECT_EQ(result, &this->matrix);
  } else {
    ASSERT_TRUE(copied);
    EXPECT_EQ(result, &scratch);
    EXPECT_EQ(scratch.scoretype, SCORE_FLOAT);
    EXPECT_EQ(allscores<float>(&scratch),
              (std::vector<float>{1.0f, -1.7014117e38f, 3.0f, -4.0f, -1.7014117e38f}));
    matrix_free(&scratch);
  }
}

TYPED_TEST(MatrixTest, checker_finds_stale_bounds_and_thresholds) {
  using Score = TypeParam;
  this->build({{1, 2, 3, 4, this->minf}, {5, 6, 7, 8, this->minf}}, 9);
  ASSERT_EQ(matrix_compute_row_bounds(&this->matrix), 0);
  ASSERT_EQ(matrix_set_intermediate_thresholds(&this->matrix), 0);
  ASSERT_EQ(matrix_check(&this->matrix), 0);
  matrix_scores<Score>(&this->matrix)[6] = 20;  // row 1 now has a larger maximum
  EXPECT_EQ(matrix_check(&this->matrix), -1);
  ASSERT_EQ(matrix_compute_row_bounds(&this->matrix), 0);
  EXPECT_EQ(matrix_check(&this->matrix), -1);  // intermediate thresholds are stale
  ASSERT_EQ(matrix_set_intermediate_thresholds(&this->matrix), 0);
  EXPECT_EQ(matrix_check(&this->matrix), 0);
  clearerrorcode();
}

}  // namespace

TEST(Matrix, invalid_type_is_reported_and_free_still_releases) {
  Alphabet alpha = testalphabet(5);
  ScoringMatrix matrix{};
  clearerrorcode();
  EXPECT_EQ(matrix_init(&matrix, 2, &alpha, 3), -1);
  EXPECT_STREQ(errormessagespace(), "Invalid profile type.");
  EXPECT_EQ(geterrorcode(), 1);
  ASSERT_EQ(matrix_init(&matrix, SCORE_INTEGER, &alpha, 3), 0);
  matrix.scoretype = 7;
  EXPECT_EQ(matrix_set_intermediate_thresholds(&matrix), -1);
  EXPECT_EQ(matrix_compute_row_bounds(&matrix), -1);
  EXPECT_EQ(matrix_reverse(&matrix, true), -1);
  EXPECT_EQ(matrix_check(&matrix), -1);
  ScoringMatrix copy{};
  EXPECT_EQ(matrix_reversed_copy(&matrix, &copy, true), -1);
  EXPECT_EQ(copy.scores, nullptr);
  matrix_free(&matrix);
  EXPECT_EQ(matrix.rowoffsets, nullptr);
  EXPECT_EQ(matrix.scores, nullptr);
  clearerrorcode();
}

TEST(Matrix, allocation_failures_name_their_unit) {
  Alphabet alpha = testalphabet(4);
  EXPECT_EXIT(
      {
        ScoringMatrix matrix{};
        matrix_init(&matrix, SCORE_INTEGER, &alpha, UINT64_C(1) << 58);
      },
      testing::ExitedWithCode(1), "^file profile, line [0-9]+: malloc\\([0-9]+\\) failed\n$");
  EXPECT_EXIT(
      {
        ScoringMatrix matrix{};
        matrix_init(&matrix, SCORE_FLOAT, &alpha, 0);
        matrix.m = UINT64_C(1) << 59;
        matrix_compute_row_bounds(&matrix);
      },
      testing::ExitedWithCode(1), "^file profile.templ, line [0-9]+: malloc\\([0-9]+\\) failed\n$");
}
