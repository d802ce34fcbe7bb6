// The enrichment statistics against independent computations: Fisher's test and the binomial
// tail against exact sums of big integers, the rank-sum test against every split of small
// sets, the q-values against the definition; the k-let shuffle keeps every k-let count and is
// uniform over the sequences that do.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "enrich/enrichstats.hpp"

namespace {

// A non-negative integer of any size: what exact binomial sums need.
struct Big {
  std::vector<uint32_t> limb;  // least significant first, no zero limb on top
  explicit Big(uint32_t v = 0) {
    if (v) limb.push_back(v);
  }
  void mul(uint32_t f) {
    uint64_t carry = 0;
    for (uint32_t &l : limb) {
      const uint64_t v = uint64_t{l} * f + carry;
      l = static_cast<uint32_t>(v);
      carry = v >> 32;
    }
    if (carry) limb.push_back(static_cast<uint32_t>(carry));
    if (f == 0) limb.clear();
  }
  void div(uint32_t d) {  // the division is exact wherever it is used
    uint64_t rest = 0;
    for (size_t i = limb.size(); i-- > 0;) {
      const uint64_t v = rest << 32 | limb[i];
      limb[i] = static_cast<uint32_t>(v / d);
      rest = v % d;
    }
    if (rest != 0) std::abort();
    while (!limb.empty() && limb.back() == 0) limb.pop_back();
  }
  void add(const Big &o, bool subtract = false) {  // subtract: *this >= o
    if (limb.size() < o.limb.size()) limb.resize(o.limb.size(), 0);
    int64_t carry = 0;
    for (size_t i = 0; i < limb.size(); i++) {
      int64_t v = int64_t{limb[i]} + carry;
      if (i < o.limb.size()) v += subtract ? -int64_t{o.limb[i]} : int64_t{o.limb[i]};
      limb[i] = static_cast<uint32_t>(v);
      carry = v >> 32;
    }
    if (carry > 0) limb.push_back(static_cast<uint32_t>(carry));
    while (!limb.empty() && limb.back() == 0) limb.pop_back();
  }
  bool less(const Big &o) const {
    if (limb.size() != o.limb.size()) return limb.size() < o.limb.size();
    for (size_t i = limb.size(); i-- > 0;)
      if (limb[i] != o.limb[i]) return limb[i] < o.limb[i];
    return false;
  }
  double mantissa(int64_t *exponent) const {  // value = mantissa * 2^exponent
    double m = 0;
    const size_t top = std::min<size_t>(limb.size(), 3);
    for (size_t i = 0; i < top; i++) m = m * 4294967296.0 + limb[limb.size() - 1 - i];
    *exponent = 32 * static_cast<int64_t>(limb.size() - top);
    return m;
  }
};

// log10(a / b) for 0 < a <= b.
double log10ratio(const Big &a, const Big &b) {
  int64_t ea, eb;
  const double ma = a.mantissa(&ea), mb = b.mantissa(&eb);
  return std::log10(ma / mb) + static_cast<double>(ea - eb) * std::log10(2.0);
}

// times C(n, k), each step exact: c C(n - k + i - 1, i - 1) (n - k + i) = i c C(n - k + i, i).
void mulchoose(Big *c, uint32_t n, uint32_t k) {
  for (uint32_t i = 1; i <= k; i++) {
    c->mul(n - k + i);
    c->div(i);
  }
}

// log10 of a tail sum_x t(x) / total given as exact integers; through the complement when the
// tail is most of the total, so that values near 0 keep their digits.
double log10tail(const Big &sum, Big total) {
  Big twice = sum;
  twice.mul(2);
  if (!total.less(twice)) return log10ratio(sum, total);
  Big rest = total;
  rest.add(sum, true);
  if (rest.limb.empty()) return 0.0;
  return std::log1p(-std::pow(10.0, log10ratio(rest, total))) / std::log(10.0);
}

// log10 P(X >= a) of the hypergeometric null of the table, summed exactly.
double exactfisher(uint32_t a, uint32_t n1, uint32_t c, uint32_t n2) {
  const uint32_t all = n1 + n2, hits = a + c, misses = all - hits;
  const uint32_t low = n1 > misses ? n1 - misses : 0, high = std::min(hits, n1);
  if (a <= low) return 0.0;
  Big term(1), sum;
  mulchoose(&term, hits, a);
  mulchoose(&term, misses, n1 - a);
  for (uint32_t x = a;; x++) {  // t(x) = C(hits, x) C(misses, n1 - x)
    sum.add(term);
    if (x == high) break;
    term.mul(hits - x);
    term.mul(n1 - x);
    term.div(x + 1);
    term.div(misses - n1 + x + 1);
  }
  Big total(1);
  mulchoose(&total, all, std::min(n1, n2));
  return log10tail(sum, total);
}

// log10 P(X >= k) for X ~ Binomial(n, r / s), summed exactly: C(n, x) r^x (s - r)^(n - x) / s^n.
double exactbinomial(uint32_t k, uint32_t n, uint32_t r, uint32_t s) {
  if (k == 0) return 0.0;
  Big term(1), sum, total(1);
  mulchoose(&term, n, k);
  for (uint32_t i = 0; i < k; i++) term.mul(r);
  for (uint32_t i = k; i < n; i++) term.mul(s - r);
  for (uint32_t x = k;; x++) {
    sum.add(term);
    if (x == n) break;
    term.mul(n - x);
    term.mul(r);
    term.div(x + 1);
    term.div(s - r);
  }
  for (uint32_t i = 0; i < n; i++) total.mul(s);
  return log10tail(sum, total);
}

void expectlog10(double got, double exact, const std::string &what) {
  if (exact == 0.0)
    EXPECT_EQ(got, 0.0) << what;
  else
    EXPECT_NEAR(got, exact, 1e-10 * std::fabs(exact)) << what;
}

TEST(EnrichStats, fisher_matches_the_exact_hypergeometric_sum) {
  struct Case {
    uint32_t targethit, targettotal, controlhit, controltotal;
  };
  const std::vector<Case> cases = {
      {3000, 20000, 1500, 30000},   // strongly enriched
      {1, 20000, 1, 30000},         // balanced, small
      {1200, 20000, 1800, 30000},   // the same rate in both: near 0.5
      {1000, 20000, 2000, 30000},   // depleted: p near 1
      {1150, 20000, 1800, 30000},   // just below the expectation
      {5000, 25000, 0, 25000},      // a zero cell, p near 1e-1500
      {25000, 25000, 0, 25000},     // every target sequence and no control one: 1 / C(50000, 25000)
      {300, 1000, 40, 49000},       // p below 1e-300
      {1, 1, 0, 49999},             // p = 1 / 50000
      {0, 20000, 1500, 30000},      // no target hit: p = 1
      {20000, 20000, 30000, 30000}, // every sequence a hit: p = 1
      {2, 3, 0, 0},                 // no control
  };
  for (const Case &c : cases)
    expectlog10(fisher_log10p(c.targethit, c.targettotal, c.controlhit, c.controltotal),
                exactfisher(c.targethit, c.targettotal, c.controlhit, c.controltotal),
                std::to_string(c.targethit) + "/" + std::to_string(c.targettotal) + " " +
                    std::to_string(c.controlhit) + "/" + std::to_string(c.controltotal));
  // Every table of up to 24 sequences: each side of the mode, both ways of summing.
  for (uint32_t n1 = 0; n1 <= 12; n1++)
    for (uint32_t n2 = 0; n2 <= 12; n2++)
      for (uint32_t a = 0; a <= n1; a++)
        for (uint32_t c = 0; c <= n2; c++)
          expectlog10(fisher_log10p(a, n1, c, n2), exactfisher(a, n1, c, n2),
                      std::to_string(a) + "/" + std::to_string(n1) + " " + std::to_string(c) +
                          "/" + std::to_string(n2));
  EXPECT_TRUE(std::isnan(fisher_log10p(3, 2, 0, 5)));  // more hits than sequences
}

TEST(EnrichStats, binomial_tail_matches_the_exact_sum) {
  struct Case {
    uint32_t n, r, s;  // p = r / s
  };
  const std::vector<Case> cases = {{1, 1, 2}, {7, 3, 10}, {40, 1, 100}, {60, 97, 100},
                                   {1000, 1, 1000}, {1000, 1, 2}, {1000, 999, 1000}};
  for (const Case &c : cases) {
    const double p = static_cast<double>(c.r) / c.s;
    for (uint32_t k = 0; k <= c.n; k += 1 + c.n / 97)
      expectlog10(binomial_log10p(k, c.n, p), exactbinomial(k, c.n, c.r, c.s),
                  std::to_string(k) + " of " + std::to_string(c.n) + " at " + std::to_string(p));
    expectlog10(binomial_log10p(c.n, c.n, p), exactbinomial(c.n, c.n, c.r, c.s), "k = n");
  }
  EXPECT_EQ(binomial_log10p(3, 2, 0.5), -INFINITY);
  EXPECT_EQ(binomial_log10p(1, 10, 0.0), -INFINITY);
  EXPECT_EQ(binomial_log10p(10, 10, 1.0), 0.0);
  EXPECT_TRUE(std::isnan(binomial_log10p(1, 10, 1.5)));
}

// The ranks of the target's scores then the control's among both, ties at their mean rank.
std::vector<double> midranks(const std::vector<double> &target, const std::vector<double> &control) {
  std::vector<double> pooled(target);
  pooled.insert(pooled.end(), control.begin(), control.end());
  std::vector<double> rank(pooled.size());
  for (size_t i = 0; i < pooled.size(); i++) {
    rank[i] = 0.5;  // 1, less half of the score itself
    for (double v : pooled) rank[i] += v < pooled[i] ? 1.0 : v == pooled[i] ? 0.5 : 0.0;
  }
  return rank;
}

// P(rank sum of the target >= the observed one) over every split of the pooled scores.
double splitsp(const std::vector<double> &target, const std::vector<double> &control) {
  const std::vector<double> rank = midranks(target, control);
  const size_t pooled = rank.size();
  double observed = 0;
  for (size_t i = 0; i < target.size(); i++) observed += rank[i];
  uint64_t atleast = 0, splits = 0;
  for (uint64_t mask = 0; mask < (uint64_t{1} << pooled); mask++) {
    if (static_cast<size_t>(__builtin_popcountll(mask)) != target.size()) continue;
    double sum = 0;
    for (size_t i = 0; i < pooled; i++)
      if (mask >> i & 1) sum += rank[i];
    splits++;
    atleast += sum >= observed - 1e-9;
  }
  return static_cast<double>(atleast) / static_cast<double>(splits);
}

TEST(EnrichStats, ranksum_agrees_with_every_split_and_stays_finite_far_out) {
  struct Case {
    std::vector<double> target, control;
    double tolerance;  // on p: 0 for the exact distribution (no ties), else the normal's
  };
  const std::vector<Case> cases = {
      {{5.0}, {1.0}, 0},
      {{3.1, 4.2, 9.0}, {1.0, 2.0, 5.5, 7.0}, 0},
      {{0.5, 0.1, 0.3}, {0.9, 0.8, 0.7, 0.6}, 0},                         // the target smallest
      {{8, 9, 10, 11, 12, 13, 14}, {1, 2, 3, 4, 5, 6, 7, 15}, 0},          // nearly separated
      {{2.5, 7.5, 1.5, 9.5, 6.5, 3.5, 8.5}, {4.5, 0.5, 5.5, 10.5, 11.5, 12.5, 13.5}, 0},
      {{1, 2, 2, 3, 3, 3, 4, 4}, {1, 1, 2, 2, 3, 4, 0, 0}, 0.02},          // many ties
      {{5, 5, 6, 7, 7, 8, 9, 9}, {1, 2, 2, 3, 5, 6, 7, 4}, 0.02},
  };
  for (const Case &c : cases) {
    const double got = std::pow(10.0, ranksum_log10p(c.target, c.control));
    const double exact = splitsp(c.target, c.control);
    if (c.tolerance == 0)
      EXPECT_NEAR(got, exact, 1e-12 * exact);
    else
      EXPECT_NEAR(got, exact, c.tolerance);
  }
  // Large sets: the two one-sided tests add up to about 1, with and without ties; the tail is
  // the normal one of the ranks' own variance over the splits, n1 n2 / (N (N - 1)) times the
  // sum of their squared deviations, which counts the ties.
  std::mt19937_64 random(7);
  std::normal_distribution<double> normal;
  for (int ties = 0; ties < 2; ties++) {
    std::vector<double> a(300), b(250);
    for (double &v : a) v = ties ? std::floor(normal(random) * 2 + 0.3) : normal(random) + 0.1;
    for (double &v : b) v = ties ? std::floor(normal(random) * 2) : normal(random);
    const double log10p = ranksum_log10p(a, b), p = std::pow(10.0, log10p);
    EXPECT_NEAR(p + std::pow(10.0, ranksum_log10p(b, a)), 1.0, 0.005) << "ties " << ties;
    const std::vector<double> rank = midranks(a, b);
    const double all = static_cast<double>(rank.size()), n1 = 300, n2 = 250;
    double ranksum = 0, squares = 0;
    for (size_t i = 0; i < rank.size(); i++) {
      ranksum += i < a.size() ? rank[i] : 0.0;
      squares += (rank[i] - (all + 1) / 2) * (rank[i] - (all + 1) / 2);
    }
    const double sd = std::sqrt(n1 * n2 / (all * (all - 1)) * squares);
    const double z = (ranksum - n1 * (all + 1) / 2 - 0.5) / sd;
    EXPECT_NEAR(log10p, std::log10(0.5 * std::erfc(z / std::sqrt(2.0))), 1e-9 * std::fabs(log10p));
    EXPECT_LT(p, 0.5);
  }
  // Completely separated sets of 1500: z near 47, far beyond what erfc holds.
  std::vector<double> high(1500), low(1500);
  for (size_t i = 0; i < high.size(); i++) high[i] = 2000.0 + i, low[i] = static_cast<double>(i);
  const double z = (1500.0 * 1500.0 / 2 - 0.5) / std::sqrt(1500.0 * 1500.0 * 3001.0 / 12.0);
  const double tail = -z * z / 2 / std::log(10.0) - std::log10(z * std::sqrt(2 * M_PI));
  EXPECT_NEAR(ranksum_log10p(high, low), tail, 1e-3 * std::fabs(tail));
  EXPECT_EQ(ranksum_log10p({}, low), 0.0);
  EXPECT_EQ(ranksum_log10p({1, 1}, {1, 1, 1}), 0.0);
}

TEST(EnrichStats, bh_qvalues_follow_the_definition) {
  std::mt19937_64 random(11);
  for (size_t m : {1, 2, 10, 200}) {
    std::vector<double> log10p(m);
    for (double &v : log10p)  // a third of them drawn from a few values, so that ties occur
      v = random() % 3 == 0 ? -static_cast<double>(random() % 4)
                            : -static_cast<double>(random() % 100000) / 10000.0;
    std::vector<double> sorted(log10p);
    std::sort(sorted.begin(), sorted.end());
    const std::vector<double> q = bh_log10q(log10p);
    for (size_t i = 0; i < m; i++) {
      double expected = 1.0;
      for (size_t j = 0; j < m; j++)
        if (sorted[j] >= log10p[i])
          expected = std::min(expected, std::pow(10.0, sorted[j]) * m / (j + 1));
      EXPECT_NEAR(q[i], std::log10(expected), 1e-12) << "m " << m << " i " << i;
    }
  }
}

std::map<std::string, int> kletcounts(const std::string &s, unsigned k) {
  std::map<std::string, int> counts;
  for (size_t i = 0; i + k <= s.size(); i++) counts[s.substr(i, k)]++;
  return counts;
}

std::string shuffled(const std::string &s, unsigned k, uint64_t seed) {
  std::string out(s.size(), '\0');
  shuffle_klets(reinterpret_cast<const unsigned char *>(s.data()), s.size(), k, seed,
                reinterpret_cast<unsigned char *>(out.data()));
  return out;
}

// The first records of the fly upstream regions of the examples, as they are (lower case).
std::vector<std::string> flyrecords(size_t count) {
  std::vector<std::string> records;
  gzFile file = gzopen(ZELKO_TEST_DATA "/../../examples/dm3_upstream300.fa.gz", "rb");
  if (file == nullptr) return records;
  char line[4096];
  while (gzgets(file, line, sizeof line) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text[0] == '>') {
      if (records.size() == count) break;
      records.emplace_back();
    } else if (!records.empty()) {
      records.back() += text;
    }
  }
  gzclose(file);
  return records;
}

TEST(KletShuffle, keeps_every_klet_count_and_the_ends) {
  std::vector<std::string> sequences = flyrecords(12);
  ASSERT_EQ(sequences.size(), 12u);
  std::mt19937_64 random(3);
  const std::string protein = "ACDEFGHIKLMNPQRSTVWY";
  for (uint64_t length : {0, 1, 2, 3, 50, 5000}) {
    std::string skewed, letters;  // runs and a skewed composition; protein letters
    while (skewed.size() < length) skewed.append(1 + random() % 7, "AAAACCGT"[random() % 8]);
    skewed.resize(length);
    for (uint64_t i = 0; i < length; i++) letters += protein[random() % (random() % 2 ? 4 : 20)];
    sequences.push_back(skewed);
    sequences.push_back(letters);
  }
  sequences.push_back(std::string(300, 'A'));
  sequences.push_back("ACACACACACGT");
  for (const std::string &s : sequences) {
    for (unsigned k : {1u, 2u, 3u, 6u, 11u}) {
      const std::string out = shuffled(s, k, 42);
      const std::string what = "k " + std::to_string(k) + " length " + std::to_string(s.size());
      ASSERT_EQ(out.size(), s.size());
      EXPECT_EQ(kletcounts(out, k), kletcounts(s, k)) << what;
      if (k >= 2 && s.size() >= k) {
        EXPECT_EQ(out.substr(0, k - 1), s.substr(0, k - 1)) << what;
        EXPECT_EQ(out.substr(s.size() - k + 1), s.substr(s.size() - k + 1)) << what;
      }
      EXPECT_EQ(shuffled(s, k, 42), out) << what;  // deterministic for a seed
      if (s.size() >= 1000 && k <= 3) {
        EXPECT_NE(shuffled(s, k, 43), out) << what;
      }
      std::string inplace(s);  // the output may be the input
      shuffle_klets(reinterpret_cast<const unsigned char *>(inplace.data()), inplace.size(), k,
                    42, reinterpret_cast<unsigned char *>(inplace.data()));
      EXPECT_EQ(inplace, out) << what;
    }
  }
}

TEST(KletShuffle, every_admissible_sequence_is_about_equally_likely) {
  struct Case {
    std::string sequence;
    unsigned k;
    size_t admissible;  // sequences with the same k-let counts and first (k-1)-let
  };
  const std::vector<Case> cases = {
      {"AACGT", 1, 60}, {"ACAGTACGGTCA", 2, 30}, {"AAAAACAAGAAC", 3, 20}};
  for (const Case &c : cases) {
    std::map<std::string, int> seen;
    std::string letters(c.sequence);
    std::sort(letters.begin(), letters.end());
    const auto counts = kletcounts(c.sequence, c.k);
    do {
      if (kletcounts(letters, c.k) == counts &&
          letters.compare(0, c.k - 1, c.sequence, 0, c.k - 1) == 0)
        seen[letters] = 0;
    } while (std::next_permutation(letters.begin(), letters.end()));
    ASSERT_EQ(seen.size(), c.admissible) << c.sequence;
    const int draws = 300 * static_cast<int>(c.admissible);
    for (int seed = 0; seed < draws; seed++) {
      auto found = seen.find(shuffled(c.sequence, c.k, seed));
      ASSERT_NE(found, seen.end()) << c.sequence << " seed " << seed;
      found->second++;
    }
    // Chi-square against the uniform distribution, below its 1e-6 quantile (Wilson-Hilferty).
    double chi2 = 0;
    for (const auto &[sequence, n] : seen) chi2 += (n - 300.0) * (n - 300.0) / 300.0;
    const double df = static_cast<double>(c.admissible - 1), h = 2.0 / (9.0 * df);
    EXPECT_LT(chi2, df * std::pow(1.0 - h + 4.75 * std::sqrt(h), 3)) << c.sequence;
  }
}

}  // namespace
