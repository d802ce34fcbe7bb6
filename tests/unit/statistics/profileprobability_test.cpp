// Score distributions: the complete table against enumeration of all words, the lazy
// threshold against the complete table on many random matrices, lookups, thresholds from
// stored tables, and the report of frequencies above 1.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <map>
#include <random>

#include "model/profile.hpp"
#include "statistics/distribution.hpp"
#include "statistics/freqfileparser.hpp"
#include "statisticsfixture.hpp"

using stattest::FloatView;
using stattest::OwnedDistribution;
using stattest::RowMatrix;

namespace {

// The probability of every scaled total, by enumerating all words of the matrix.
struct Enumerated {
  int64_t minimum, maximum, offset;
  std::map<int64_t, double> probability;
  // P(scaled total >= total).
  double tail(int64_t total) const {
    double sum = 0.0;
    for (auto it = probability.lower_bound(total); it != probability.end(); ++it) sum += it->second;
    return sum;
  }
};

Enumerated enumerate(const ScoringMatrix *floatmatrix, const double *frequencies,
                     double multiplier) {
  const uint64_t symbols = matrix_columns(floatmatrix) - 1;
  const auto allowed = [&](uint64_t i, uint64_t j) {
    return !ScoreTraits<float>::forbidden(matrix_cell<float>(floatmatrix, i, j));
  };
  float smallest = 0.0f;
  for (uint64_t i = 0; i < floatmatrix->m; i++) {
    for (uint64_t j = 0; j < symbols; j++) {
      if (allowed(i, j)) smallest = std::min(smallest, matrix_cell<float>(floatmatrix, i, j));
    }
  }
  const int64_t shift = std::llabs(static_cast<int64_t>(std::rint(multiplier * smallest)));
  const auto scaled = [&](uint64_t i, uint64_t j) {
    return shift + static_cast<int64_t>(
                       std::rint(multiplier * static_cast<double>(matrix_cell<float>(floatmatrix, i, j))));
  };
  Enumerated result{0, 0, static_cast<int64_t>(floatmatrix->m) * shift, {}};
  for (uint64_t i = 0; i < floatmatrix->m; i++) {
    int64_t low = INT64_MAX, high = INT64_MIN;
    for (uint64_t j = 0; j < symbols; j++) {
      if (!allowed(i, j)) continue;
      low = std::min(low, scaled(i, j));
      high = std::max(high, scaled(i, j));
    }
    result.minimum += low;
    result.maximum += high;
  }
  std::map<int64_t, double> current = {{0, 1.0}};
  for (uint64_t i = 0; i < floatmatrix->m; i++) {
    std::map<int64_t, double> next;
    for (const auto &[total, prob] : current) {
      for (uint64_t j = 0; j < symbols; j++) {
        if (allowed(i, j) && frequencies[j] > 0.0) next[total + scaled(i, j)] += prob * frequencies[j];
      }
    }
    current.swap(next);
  }
  result.probability = current;
  return result;
}

void expectmatchesenumeration(const ScoreDistribution *distribution, const Enumerated &expected) {
  ASSERT_EQ(distribution->minimum, expected.minimum);
  ASSERT_EQ(distribution->maximum, expected.maximum);
  ASSERT_EQ(distribution->offset, expected.offset);
  ASSERT_EQ(distribution->size, static_cast<uint64_t>(expected.maximum - expected.minimum + 1));
  for (uint64_t i = 0; i < distribution->size; i++) {
    const double want = expected.tail(expected.minimum + static_cast<int64_t>(i));
    EXPECT_NEAR(distribution->tail[i], want, 1e-12 * std::max(1.0, want)) << "entry " << i;
  }
}

std::vector<double> uniform(const Alphabet *alpha) {
  outputinit(false, true);
  double *made = loadfrequencies(nullptr, alpha);
  outputinit(true, true);
  std::vector<double> frequencies(made, made + alpha->mapsize);
  std::free(made);
  return frequencies;
}

class Distribution : public testing::Test {
 protected:
  void SetUp() override {
    dnaalphabet(&dna);
    proteinalphabet(&protein);
  }
  Alphabet dna, protein;
};

}  // namespace

// One row scoring 1, 2, 3, 4 for a, c, g, t: the smallest complete example.
TEST_F(Distribution, worked_example_table_lookups_and_lazy_thresholds) {
  RowMatrix<int64_t> matrix(&dna, {{1, 2, 3, 4}});
  FloatView floatview(&matrix.matrix);
  const std::vector<double> frequencies = uniform(&dna);
  OwnedDistribution complete;
  ASSERT_EQ(complete_distribution(floatview.view, frequencies.data(), 1.0, &complete.d), 0);
  EXPECT_EQ(complete.d.minimum, 1);
  EXPECT_EQ(complete.d.maximum, 4);
  EXPECT_EQ(complete.d.offset, 0);
  ASSERT_EQ(complete.d.size, 4u);
  EXPECT_EQ(std::vector<double>(complete.d.tail, complete.d.tail + 4),
            (std::vector<double>{1.0, 0.75, 0.5, 0.25}));
  EXPECT_EQ(tail_lookup(&complete.d, 3, 1.0, TAIL_PVALUE, 0), 0.5);
  EXPECT_EQ(tail_lookup(&complete.d, 3, 1.0, TAIL_EVALUE, 1000), 500.0);
  // Scores outside the table take its ends.
  EXPECT_EQ(tail_lookup(&complete.d, -7, 1.0, TAIL_PVALUE, 0), 1.0);
  EXPECT_EQ(tail_lookup(&complete.d, 9, 1.0, TAIL_PVALUE, 0), 0.25);

  const std::vector<std::pair<double, int64_t>> cases = {{0.3, 4}, {0.25, 4}, {0.5, 3},
                                                         {0.74, 3}, {0.75, 2}, {1.0, 1}};
  for (const auto &[pvalue, threshold] : cases) {
    OwnedDistribution lazy;
    int64_t found = 0;
    ASSERT_EQ(lazy_threshold(floatview.view, frequencies.data(), 1.0, pvalue, &found, &lazy.d), 0);
    EXPECT_EQ(found, threshold) << "p-value " << pvalue;
    EXPECT_EQ(lazy.d.maximum, 4);
    EXPECT_EQ(tail_lookup(&lazy.d, threshold, 1.0, TAIL_PVALUE, 0),
              tail_lookup(&complete.d, threshold, 1.0, TAIL_PVALUE, 0));
  }

  // The same thresholds from the stored table.
  EXPECT_EQ(tail_threshold(complete.d.tail, 4, 1, 0, 1.0, 0.3), 4);
  EXPECT_EQ(tail_threshold(complete.d.tail, 4, 1, 0, 1.0, 0.25), 4);
  EXPECT_EQ(tail_threshold(complete.d.tail, 4, 1, 0, 1.0, 0.5), 3);
  EXPECT_EQ(tail_threshold(complete.d.tail, 4, 1, 0, 1.0, 0.1), 5);  // above the maximum
  EXPECT_EQ(tail_threshold(complete.d.tail, 4, 1, 0, 1.0, 1.5), 1);  // no entry reaches it
  // Another multiplier and offset: ceil((minimum + index - offset) / multiplier).
  EXPECT_EQ(tail_threshold(complete.d.tail, 4, 1, -20, 10.0, 0.5), 3);
  // Below multiplier 1 two scores can share an entry: score 5 looks up rint(2.5 - 1) = 2,
  // the entry 0.5 that ceil((1 + 2) / 0.5) = 6 reaches, so 5 is the threshold.
  EXPECT_EQ(tail_threshold(complete.d.tail, 4, 1, 0, 0.5, 0.5), 5);
  EXPECT_EQ(tail_lookup(&complete.d, 5, 0.5, TAIL_PVALUE, 0), 0.5);
}

TEST_F(Distribution, complete_table_equals_enumeration_of_all_words) {
  std::vector<double> frequencies = {0.1, 0.4, 0.3, 0.2, 0.9};  // the wildcard's entry is unused
  // Negative integer entries are shifted; the offset undoes the shift.
  {
    RowMatrix<int64_t> matrix(&dna, {{-2, 0, 1, 3}, {-1, -1, 2, 0}, {4, -3, 0, 0}});
    FloatView floatview(&matrix.matrix);
    OwnedDistribution complete;
    ASSERT_EQ(complete_distribution(floatview.view, frequencies.data(), 1.0, &complete.d), 0);
    EXPECT_EQ(complete.d.offset, 9);
    expectmatchesenumeration(&complete.d, enumerate(floatview.view, frequencies.data(), 1.0));
    // Real score 3 (for example c, g, a: 0 + 2 + 4 = 6 and more): the offset maps it back.
    const Enumerated expected = enumerate(floatview.view, frequencies.data(), 1.0);
    EXPECT_NEAR(tail_lookup(&complete.d, 3, 1.0, TAIL_PVALUE, 0), expected.tail(9 + 3), 1e-15);
  }
  // Whole-number scores times a multiplier lie on a step of the multiplier or more (here 10
  // and 100; 2 for halves at multiplier 4): the table between the steps holds the tail of the
  // step above, as in the full grid.
  for (const double multiplier : {10.0, 100.0}) {
    RowMatrix<int64_t> matrix(&dna, {{-2, 0, 2, 4}, {-6, -2, 2, 0}, {4, -2, 0, 0}});
    FloatView floatview(&matrix.matrix);
    OwnedDistribution complete;
    ASSERT_EQ(complete_distribution(floatview.view, frequencies.data(), multiplier, &complete.d),
              0);
    expectmatchesenumeration(&complete.d, enumerate(floatview.view, frequencies.data(), multiplier));
  }
  {
    RowMatrix<float> matrix(&dna, {{0.5f, -1.5f, 1.0f, 2.0f}, {-0.5f, 0.0f, 1.5f, 3.0f}});
    OwnedDistribution complete;
    ASSERT_EQ(complete_distribution(&matrix.matrix, frequencies.data(), 4.0, &complete.d), 0);
    expectmatchesenumeration(&complete.d, enumerate(&matrix.matrix, frequencies.data(), 4.0));
  }
  // Float entries with a multiplier; halfway cases round to even (2.5 -> 2, 3.5 -> 4).
  for (const double multiplier : {1.0, 10.0, 0.5, 2.5}) {
    RowMatrix<float> matrix(&dna, {{0.25f, -1.35f, 0.74f, 2.0f}, {0.35f, 0.05f, -0.5f, 1.25f}});
    OwnedDistribution complete;
    ASSERT_EQ(complete_distribution(&matrix.matrix, frequencies.data(), multiplier, &complete.d), 0);
    expectmatchesenumeration(&complete.d,
                             enumerate(&matrix.matrix, frequencies.data(), multiplier));
  }
  // A symbol of frequency 0 removes its paths; a forbidden cell leaves its symbol out of the
  // row altogether, bounds included.
  {
    std::vector<double> zero = {0.5, 0.0, 0.25, 0.25, 0.0};
    const int64_t forbidden = ScoreTraits<int64_t>::minusinfinity;
    RowMatrix<int64_t> matrix(&dna, {{1, 9, 2, 3}, {forbidden, 5, 0, -4}});
    FloatView floatview(&matrix.matrix);
    OwnedDistribution complete;
    ASSERT_EQ(complete_distribution(floatview.view, zero.data(), 1.0, &complete.d), 0);
    const Enumerated expected = enumerate(floatview.view, zero.data(), 1.0);
    expectmatchesenumeration(&complete.d, expected);
    EXPECT_EQ(complete.d.maximum - complete.d.offset, 14);
    EXPECT_EQ(complete.d.tail[complete.d.size - 1], 0.0);  // 9 + 5 needs c, of frequency 0
    EXPECT_NEAR(complete.d.tail[0], 0.5, 1e-15);  // a forbidden a and a c of frequency 0 in row 2
  }
}

// The contract of the lazy computation, on many random integer and float matrices over DNA
// and protein with several multipliers: the threshold is the smallest integer score whose
// complete tail probability does not exceed the target, and every entry the lazy table holds
// equals the complete table's entry bit for bit, down to and below the threshold.
TEST_F(Distribution, lazy_tables_agree_with_complete_on_random_matrices) {
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  int checked = 0, unreachable = 0;
  for (int round = 0; round < 400; round++) {
    const bool isprotein = round % 4 == 3;
    const bool isinteger = round % 2 == 0;
    const Alphabet *alpha = isprotein ? &protein : &dna;
    const uint64_t symbols = alpha->mapsize - 1;
    const uint64_t m = 1 + random() % (isprotein ? 7 : 14);
    const double multipliers[] = {1.0, 10.0, 0.5, 3.7};
    const double multiplier = multipliers[random() % (isinteger ? 3 : 4)];
    const int range = (round % 5 == 0) ? 600 : 25;
    SCOPED_TRACE("round " + std::to_string(round) + ", m " + std::to_string(m) +
                 ", multiplier " + std::to_string(multiplier));

    std::vector<double> frequencies(alpha->mapsize, 0.0);
    double sum = 0.0;
    for (uint64_t j = 0; j < symbols; j++) {
      frequencies[j] = unit(random) < 0.1 ? 0.0 : 0.05 + unit(random);
      sum += frequencies[j];
    }
    for (uint64_t j = 0; j < symbols; j++) frequencies[j] /= sum;
    frequencies[symbols] = 0.7;  // the wildcard takes no part

    std::vector<std::vector<double>> rows(m, std::vector<double>(symbols));
    for (auto &row : rows) {
      for (double &entry : row) {
        entry = isinteger ? static_cast<double>(static_cast<int>(random() % (2 * range + 1)) - range)
                          : std::round((unit(random) * 2 - 1) * range * 100) / 100;
        if (unit(random) < 0.02) entry = -HUGE_VAL;  // forbidden
      }
    }
    std::vector<std::vector<int64_t>> integerrows;
    std::vector<std::vector<float>> floatrows;
    for (const auto &row : rows) {
      std::vector<int64_t> irow;
      std::vector<float> frow;
      for (double entry : row) {
        irow.push_back(std::isinf(entry) ? ScoreTraits<int64_t>::minusinfinity
                                         : static_cast<int64_t>(entry));
        frow.push_back(std::isinf(entry) ? ScoreTraits<float>::minusinfinity
                                         : static_cast<float>(entry));
      }
      integerrows.push_back(irow);
      floatrows.push_back(frow);
    }
    RowMatrix<int64_t> integermatrix(alpha, integerrows);
    RowMatrix<float> floatmatrix(alpha, floatrows);
    FloatView floatview(isinteger ? &integermatrix.matrix : &floatmatrix.matrix);

    OwnedDistribution complete;
    ASSERT_EQ(complete_distribution(floatview.view, frequencies.data(), multiplier, &complete.d), 0);
    const ScoreDistribution *c = &complete.d;
    if (m <= 4 && !isprotein) {
      expectmatchesenumeration(c, enumerate(floatview.view, frequencies.data(), multiplier));
    }

    // Targets: random magnitudes, entries of the table itself (exact ties) and the ends.
    std::vector<double> targets = {1.0, 0.0};
    for (int t = 0; t < 4; t++) targets.push_back(std::pow(10.0, -9.0 * unit(random)));
    for (int t = 0; t < 2; t++) targets.push_back(c->tail[random() % c->size]);
    for (const double target : targets) {
      SCOPED_TRACE("target " + std::to_string(target));
      OwnedDistribution lazy;
      int64_t threshold = 0;
      ASSERT_EQ(lazy_threshold(floatview.view, frequencies.data(), multiplier, target, &threshold,
                               &lazy.d),
                0);
      const ScoreDistribution *l = &lazy.d;
      ASSERT_GE(l->size, 1u);
      ASSERT_EQ(l->maximum, c->maximum);
      ASSERT_EQ(l->offset, c->offset);
      ASSERT_GE(l->minimum, c->minimum);
      for (int64_t total = l->minimum; total <= l->maximum; total++) {
        ASSERT_EQ(l->tail[total - l->minimum], c->tail[total - c->minimum]) << "total " << total;
      }
      if (c->tail[c->size - 1] > target) {
        // Not even the maximum reaches the target: the preparation's reach check decides.
        EXPECT_LE(l->size, 2u);
        EXPECT_GT(tail_lookup(c, threshold, multiplier, TAIL_PVALUE, 0), target);
        unreachable++;
        continue;
      }
      EXPECT_LE(tail_lookup(c, threshold, multiplier, TAIL_PVALUE, 0), target);
      if (c->tail[0] > target) {
        EXPECT_GT(tail_lookup(c, threshold - 1, multiplier, TAIL_PVALUE, 0), target);
        // The lazy table reaches the threshold, so lookups of matches agree.
        const int64_t top = static_cast<int64_t>(
            std::ceil(static_cast<double>(c->maximum - c->offset) / multiplier)) + 1;
        for (int64_t score = threshold; score <= top; score++) {
          ASSERT_EQ(tail_lookup(l, score, multiplier, TAIL_PVALUE, 0),
                    tail_lookup(c, score, multiplier, TAIL_PVALUE, 0))
              << "score " << score;
        }
      }
      checked++;
    }

    // The table down to a given score: the complete one's entries, and its lookups from that
    // score up (scores below the minimum, at it, inside and above the maximum).
    const int64_t lowscore = static_cast<int64_t>(
        std::floor(static_cast<double>(c->minimum - c->offset) / multiplier));
    const int64_t highscore = static_cast<int64_t>(
        std::ceil(static_cast<double>(c->maximum - c->offset) / multiplier));
    std::vector<int64_t> lowests = {lowscore - 5, lowscore, highscore, highscore + 3};
    for (int t = 0; t < 3; t++) {
      lowests.push_back(lowscore + static_cast<int64_t>(random() % static_cast<uint64_t>(
                                       highscore - lowscore + 1)));
    }
    for (const int64_t lowest : lowests) {
      SCOPED_TRACE("lowest " + std::to_string(lowest));
      OwnedDistribution part;
      ASSERT_EQ(lazy_tail(floatview.view, frequencies.data(), multiplier, lowest, &part.d), 0);
      const ScoreDistribution *l = &part.d;
      ASSERT_EQ(l->maximum, c->maximum);
      ASSERT_EQ(l->offset, c->offset);
      ASSERT_GE(l->minimum, c->minimum);
      ASSERT_EQ((l->minimum - c->minimum) % 2, 0);
      for (int64_t total = l->minimum; total <= l->maximum; total++) {
        ASSERT_EQ(l->tail[total - l->minimum], c->tail[total - c->minimum]) << "total " << total;
      }
      for (int64_t score = std::max(lowest, lowscore); score <= highscore + 1; score++) {
        ASSERT_EQ(tail_lookup(l, score, multiplier, TAIL_PVALUE, 0),
                  tail_lookup(c, score, multiplier, TAIL_PVALUE, 0))
            << "score " << score;
      }
    }
  }
  EXPECT_GT(checked, 1000);
  EXPECT_GT(unreachable, 100);
}

// Long matrices whose least probable words lie below the smallest normal double are computed
// with logarithms; shorter ones with plain probabilities. Both agree with the binomial tail of
// a matrix that counts the positions showing one symbol.
TEST_F(Distribution, binomial_tails_in_both_probability_domains) {
  const std::vector<double> frequencies = uniform(&protein);  // 1/20 each
  for (const uint64_t m : {200u, 230u}) {
    std::vector<std::vector<int64_t>> rows(m, std::vector<int64_t>(20, 0));
    for (auto &row : rows) row[0] = 1;
    RowMatrix<int64_t> matrix(&protein, rows);
    FloatView floatview(&matrix.matrix);
    OwnedDistribution complete;
    ASSERT_EQ(complete_distribution(floatview.view, frequencies.data(), 1.0, &complete.d), 0);
    ASSERT_EQ(complete.d.size, m + 1);
    for (uint64_t k = 0; k <= m; k++) {
      // log P(X = j) for X ~ Bin(m, 0.05), summed from the top.
      double expected = 0.0;
      for (uint64_t j = k; j <= m; j++) {
        expected += std::exp(std::lgamma(m + 1.0) - std::lgamma(j + 1.0) - std::lgamma(m - j + 1.0) +
                             j * std::log(0.05) + (m - j) * std::log(0.95));
      }
      EXPECT_NEAR(complete.d.tail[k] / expected, 1.0, 1e-9) << "m " << m << ", k " << k;
    }
    for (const double target : {1e-250, 1e-10, 1e-3}) {
      OwnedDistribution lazy;
      int64_t threshold;
      ASSERT_EQ(lazy_threshold(floatview.view, frequencies.data(), 1.0, target, &threshold,
                               &lazy.d),
                0);
      EXPECT_LE(complete.d.tail[threshold], target);
      EXPECT_GT(complete.d.tail[threshold - 1], target);
      for (uint64_t i = 0; i < lazy.d.size; i++) {
        EXPECT_EQ(lazy.d.tail[i], complete.d.tail[complete.d.size - lazy.d.size + i]);
      }
    }
  }
}

TEST_F(Distribution, edge_matrices_and_targets) {
  const std::vector<double> frequencies = uniform(&dna);
  // No rows: one total, 0, with probability 1.
  {
    RowMatrix<int64_t> matrix(&dna, {});
    FloatView floatview(&matrix.matrix);
    OwnedDistribution complete, lazy;
    ASSERT_EQ(complete_distribution(floatview.view, frequencies.data(), 1.0, &complete.d), 0);
    ASSERT_EQ(complete.d.size, 1u);
    EXPECT_EQ(complete.d.tail[0], 1.0);
    int64_t threshold;
    ASSERT_EQ(lazy_threshold(floatview.view, frequencies.data(), 1.0, 1.0, &threshold, &lazy.d), 0);
    EXPECT_EQ(threshold, 0);
  }
  // A target above 1 (an E-value above the database size) lets every window pass: the
  // threshold lies at or below the smallest real score, also for float scores and multipliers
  // other than 1, and the table is complete.
  for (const double multiplier : {1.0, 10.0, 0.5}) {
    RowMatrix<float> matrix(&dna, {{1.4f, 2.0f, 3.0f, 4.0f}, {1.6f, 2.0f, 5.0f, 6.0f}});
    OwnedDistribution lazy;
    int64_t threshold;
    ASSERT_EQ(lazy_threshold(&matrix.matrix, frequencies.data(), multiplier, 2.5, &threshold,
                             &lazy.d),
              0);
    EXPECT_LE(static_cast<double>(threshold), 3.0) << "multiplier " << multiplier;
    EXPECT_EQ(lazy.d.size, static_cast<uint64_t>(lazy.d.maximum - lazy.d.minimum + 1));
    EXPECT_NEAR(lazy.d.tail[0], 1.0, 1e-15);
  }
  // An integer matrix as it stands (not float) is refused.
  {
    RowMatrix<int64_t> matrix(&dna, {{1, 2, 3, 4}});
    OwnedDistribution complete;
    stattest::clearerror();
    EXPECT_EQ(complete_distribution(&matrix.matrix, frequencies.data(), 1.0, &complete.d), -1);
    EXPECT_EQ(stattest::errortext(), "Invalid profile type.");
  }
}

// A frequency above 1 is reported as a warning on standard error; the computation goes on
// with the value and never reads standard input, nor writes standard output.
TEST_F(Distribution, frequency_above_one_warns_without_touching_standard_input) {
  std::vector<double> frequencies = {1.5, 0.25, 0.25, 2.0, 3.0};  // the wildcard is not checked
  RowMatrix<int64_t> matrix(&dna, {{1, 2, 3, 4}});
  FloatView floatview(&matrix.matrix);

  int pipefds[2];
  ASSERT_EQ(pipe(pipefds), 0);
  ASSERT_EQ(write(pipefds[1], "x", 1), 1);
  close(pipefds[1]);
  const int savedstdin = dup(STDIN_FILENO);
  ASSERT_EQ(dup2(pipefds[0], STDIN_FILENO), STDIN_FILENO);
  close(pipefds[0]);

  OwnedDistribution complete;
  testing::internal::CaptureStdout();
  const std::string errors = stattest::capturestderr(false, true, [&] {
    EXPECT_EQ(complete_distribution(floatview.view, frequencies.data(), 1.0, &complete.d), 0);
  });
  const std::string output = testing::internal::GetCapturedStdout();
  char waiting = 0;
  const ssize_t stillthere = read(STDIN_FILENO, &waiting, 1);
  dup2(savedstdin, STDIN_FILENO);
  close(savedstdin);

  EXPECT_EQ(errors,
            "WARNING: Error: rfrequency of symbol 0 is 1.500000>1!\n"
            "WARNING: Error: rfrequency of symbol 3 is 2.000000>1!\n");
  EXPECT_EQ(output, "");
  EXPECT_EQ(stillthere, 1);
  EXPECT_EQ(waiting, 'x');
  EXPECT_DOUBLE_EQ(complete.d.tail[complete.d.size - 1], 2.0);  // computed with the value as it is
  EXPECT_EQ(stattest::capturestderr(false, false, [&] {
              OwnedDistribution again;
              complete_distribution(floatview.view, frequencies.data(), 1.0, &again.d);
            }),
            "");
}

TEST_F(Distribution, ensure_distribution_computes_once_with_the_profile_multiplier) {
  RowMatrix<float> matrix(&dna, {{0.0f, 0.5f, 1.0f, 1.5f}});
  const std::vector<double> frequencies = uniform(&dna);
  Profile profile{};
  profile.matrix = matrix.matrix;  // borrowed: the RowMatrix frees it
  profile.multiplier = 2.0;
  const ScoreDistribution *first = nullptr;
  EXPECT_EQ(stattest::capturestderr(true, true,
                                    [&] { first = ensure_distribution(&profile, frequencies.data()); }),
            "Calculating complete distribution, multiplier 2.000000e+00.\n");
  ASSERT_EQ(first, &profile.distribution);
  EXPECT_EQ(profile.distribution.size, 4u);
  EXPECT_EQ(tail_lookup(first, 1, 2.0, TAIL_PVALUE, 0), 0.5);
  EXPECT_EQ(stattest::capturestderr(true, true,
                                    [&] { EXPECT_EQ(ensure_distribution(&profile, frequencies.data()), first); }),
            "");
  freedistribution(&profile.distribution);
}
