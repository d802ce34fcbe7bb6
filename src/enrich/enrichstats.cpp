// The tests of motif enrichment: Fisher's exact test, the rank-sum test, the binomial tail and
// the Benjamini-Hochberg q-values, all in log space.
//
// The discrete tails (hypergeometric, binomial) are sums of a log-concave density. The density
// of one point is computed in the saddle-point form (Stirling's remainder and the deviance
// term, after Loader), whose error stays near the rounding error of the result even when the
// binomial coefficients involved have tens of thousands of digits; the other terms follow as
// ratios of neighbours, summed from the term nearest the mode outward, relative to that term,
// so that nothing underflows and the sum stops where the terms no longer count. A tail that
// holds the mode is computed as the complement of the other tail when that one is the smaller,
// so that p-values near 1 keep their relative precision in log10 too.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

#include "enrich/enrichstats.hpp"

namespace {

constexpr double LN10 = 2.302585092994045684017991454684364;
constexpr double LOG_2PI = 1.837877066409345483560659472811235;
constexpr long double LOG_SQRT_2PI_L = 0.918938533204672741780329736405617639861L;

// log(n!) - log(sqrt(2 pi n) (n / e)^n) for an integer n >= 1: directly (in extended
// precision) for small n, from the asymptotic series beyond, where its next term is below
// 1e-16.
double stirlerr(double n) {
  if (n <= 15.0) {
    long double factorial = 1.0L;
    for (int i = 2; i <= static_cast<int>(n); i++) factorial *= i;
    const long double ln = n;
    return static_cast<double>(std::log(factorial) - (ln + 0.5L) * std::log(ln) + ln -
                               LOG_SQRT_2PI_L);
  }
  const double nn = n * n;
  return (1.0 / 12 - (1.0 / 360 - (1.0 / 1260 - (1.0 / 1680 - 1.0 / 1188 / nn) / nn) / nn) / nn) /
         n;
}

// x log(x / np) + np - x, without the cancellation of its terms when x is near np.
double bd0(double x, double np) {
  if (std::fabs(x - np) < 0.1 * (x + np)) {
    double v = (x - np) / (x + np);
    double sum = (x - np) * v;
    double term = 2.0 * x * v;
    v *= v;
    for (int j = 1; j < 1000; j++) {
      term *= v;
      const double next = sum + term / (2 * j + 1);
      if (next == sum) break;
      sum = next;
    }
    return sum;
  }
  return x * std::log(x / np) + np - x;
}

// log P(X = x) for X ~ Binomial(n, p), q = 1 - p given apart (0 < p < 1, x <= n).
double logdbinom(double x, double n, double p, double q) {
  if (x == 0.0) {
    if (n == 0.0) return 0.0;
    return p < 0.1 ? -bd0(n, n * q) - n * p : n * std::log(q);
  }
  if (x == n) return q < 0.1 ? -bd0(n, n * p) - n * q : n * std::log(p);
  const double lc = stirlerr(n) - stirlerr(x) - stirlerr(n - x) - bd0(x, n * p) - bd0(n - x, n * q);
  const double lf = LOG_2PI + std::log(x) + std::log1p(-x / n);
  return lc - 0.5 * lf;
}

// sum over x from `from` to `to` (upwards or downwards) of t(x) / t(from), where ratio(x) is
// t(x + 1) / t(x) upwards and t(x - 1) / t(x) downwards, and the terms do not grow on the way
// (`from` lies on the far side of the mode, or at it). Stops once a term no longer changes
// the sum.
template <typename Ratio>
double relativesum(uint64_t from, uint64_t to, Ratio ratio) {
  double sum = 1.0, term = 1.0;
  for (uint64_t x = from; x != to; x = to > from ? x + 1 : x - 1) {
    term *= ratio(x);
    const double next = sum + term;
    if (next == sum) break;
    sum = next;
  }
  return sum;
}

// ln P(X >= a) for a log-concave distribution on [low, high] with its maximum at mode,
// log density logdensity(x), up(x) = t(x + 1) / t(x) and down(x) = t(x - 1) / t(x).
template <typename Density, typename Up, typename Down>
double logupper(uint64_t a, uint64_t low, uint64_t high, uint64_t mode, Density logdensity, Up up,
                Down down) {
  if (a <= low) return 0.0;
  if (a > high) return -std::numeric_limits<double>::infinity();
  if (a > mode) return logdensity(a) + std::log(relativesum(a, high, up));
  // The tail holds the mode: the other tail, P(X <= a - 1), is usually the smaller one.
  const double lower = std::exp(logdensity(a - 1)) * relativesum(a - 1, low, down);
  if (lower <= 0.5) return std::log1p(-lower);
  const double below = relativesum(mode, a, down);  // from the mode down to a
  const double above = relativesum(mode, high, up);  // from the mode up
  return logdensity(mode) + std::log(below + above - 1.0);
}

// ln of the standard normal upper tail P(Z >= z): through erfc while it keeps its relative
// precision, from the asymptotic series of Mills' ratio far out (z = 40 gives about -804).
double lognormalupper(double z) {
  if (z < 0.0) return std::log1p(-0.5 * std::erfc(-z / std::sqrt(2.0)));
  if (z < 30.0) return std::log(0.5 * std::erfc(z / std::sqrt(2.0)));
  const double z2 = z * z;
  double sum = 1.0, term = 1.0;
  for (int j = 1; j <= 10; j++) {
    term *= -(2.0 * j - 1.0) / z2;
    sum += term;
  }
  return -0.5 * z2 - std::log(z) - 0.5 * LOG_2PI + std::log(sum);
}

// P(U >= u) for the Mann-Whitney U of sets of m and n scores without ties, from the exact
// distribution: f(m, n; u) = f(m - 1, n; u - n) + f(m, n - 1; u) (the largest score is one of
// the m, beating all n others, or one of the n), built column by column with m the smaller
// size. Only additions of counts, at most C(m + n, m), which stays in range for m n <= 10,000.
double exactupper(uint64_t m, uint64_t n, uint64_t u) {
  if (m > n) std::swap(m, n);  // the distribution is the same for the sizes swapped
  std::vector<std::vector<double>> counts(m + 1);
  for (uint64_t i = 0; i <= m; i++) counts[i].assign(i * n + 1, 0.0);
  for (uint64_t i = 0; i <= m; i++) counts[i][0] = 1.0;  // f(i, 0) is 1 at u = 0
  for (uint64_t j = 1; j <= n; j++) {
    for (uint64_t i = 1; i <= m; i++) {
      // counts[i] holds f(i, j - 1); counts[i - 1] already f(i - 1, j), over 0..(i - 1) j.
      const std::vector<double> &shorter = counts[i - 1];
      std::vector<double> &row = counts[i];
      for (uint64_t v = (i - 1) * j + 1; v-- > 0;) row[v + j] += shorter[v];
    }
  }
  const std::vector<double> &f = counts[m];
  double tail = 0.0, total = 0.0;
  for (uint64_t v = f.size(); v-- > 0;) {
    total += f[v];
    if (v >= u) tail += f[v];
  }
  return tail / total;
}

constexpr uint64_t EXACT_RANKSUM_PAIRS = 10000;  // m n up to this: the exact distribution

}  // namespace

double fisher_log10p(uint64_t targethit, uint64_t targettotal, uint64_t controlhit,
                     uint64_t controltotal) {
  if (targethit > targettotal || controlhit > controltotal)
    return std::numeric_limits<double>::quiet_NaN();
  // X, the target's sequences with a match, is hypergeometric: targettotal drawn from all
  // sequences, of which hits have a match and misses have none.
  const uint64_t drawn = targettotal;
  const uint64_t all = targettotal + controltotal;
  const uint64_t hits = targethit + controlhit;
  const uint64_t misses = all - hits;
  const uint64_t low = drawn > misses ? drawn - misses : 0;
  const uint64_t high = std::min(hits, drawn);
  if (targethit <= low) return 0.0;  // also every table with an empty set
  // The hypergeometric density as a ratio of binomial densities with p = drawn / all:
  // C(hits, x) C(misses, drawn - x) / C(all, drawn) = b(x; hits) b(drawn - x; misses) /
  // b(drawn; all), the powers of p and q cancelling.
  const double p = static_cast<double>(drawn) / static_cast<double>(all);
  const double q = static_cast<double>(controltotal) / static_cast<double>(all);
  const double h = static_cast<double>(hits), mi = static_cast<double>(misses);
  const double d = static_cast<double>(drawn);
  const double logall = logdbinom(d, static_cast<double>(all), p, q);
  auto logdensity = [&](uint64_t x) {
    const double dx = static_cast<double>(x);
    return logdbinom(dx, h, p, q) + logdbinom(d - dx, mi, p, q) - logall;
  };
  auto up = [&](uint64_t x) {  // x < high, so misses - drawn + x + 1 >= 1
    const double dx = static_cast<double>(x);
    return (h - dx) * (d - dx) / ((dx + 1.0) * static_cast<double>(misses + x + 1 - drawn));
  };
  auto down = [&](uint64_t x) {  // x > low, so misses - drawn + x >= 1
    const double dx = static_cast<double>(x);
    return dx * static_cast<double>(misses + x - drawn) / ((h - dx + 1.0) * (d - dx + 1.0));
  };
  const unsigned __int128 modeproduct =
      static_cast<unsigned __int128>(drawn + 1) * static_cast<unsigned __int128>(hits + 1);
  const uint64_t mode =
      std::clamp(static_cast<uint64_t>(modeproduct / (all + 2)), low, high);
  return logupper(targethit, low, high, mode, logdensity, up, down) / LN10;
}

double ranksum_log10p(const std::vector<double> &target, const std::vector<double> &control) {
  const uint64_t n1 = target.size(), n2 = control.size();
  if (n1 == 0 || n2 == 0) return 0.0;
  struct Score {
    double value;
    bool intarget;
  };
  std::vector<Score> scores;
  scores.reserve(n1 + n2);
  for (double v : target) scores.push_back({v, true});
  for (double v : control) scores.push_back({v, false});
  // NaN ranks lowest, tied with the other NaNs, so that the order stays a strict weak one.
  auto less = [](const Score &a, const Score &b) {
    if (std::isnan(a.value)) return !std::isnan(b.value);
    return !std::isnan(b.value) && a.value < b.value;
  };
  std::sort(scores.begin(), scores.end(), less);
  double ranksum = 0.0, tieterm = 0.0;  // the target's ranks; sum of t^3 - t over tied groups
  for (uint64_t start = 0; start < scores.size();) {
    uint64_t end = start + 1, intarget = scores[start].intarget;
    while (end < scores.size() && !less(scores[start], scores[end])) intarget += scores[end++].intarget;
    const double t = static_cast<double>(end - start);
    ranksum += static_cast<double>(intarget) * (static_cast<double>(start + end) + 1.0) / 2.0;
    tieterm += t * t * t - t;
    start = end;
  }
  const double a = static_cast<double>(n1), b = static_cast<double>(n2), all = a + b;
  const double u = ranksum - a * (a + 1.0) / 2.0;  // target-control pairs the target wins
  if (tieterm == 0.0 && n1 * n2 <= EXACT_RANKSUM_PAIRS)
    return std::log10(exactupper(n1, n2, static_cast<uint64_t>(u)));
  const double variance = a * b / 12.0 * (all + 1.0 - tieterm / (all * (all - 1.0)));
  if (!(variance > 0.0)) return 0.0;  // every score tied
  const double z = (u - a * b / 2.0 - 0.5) / std::sqrt(variance);
  return lognormalupper(z) / LN10;
}

double binomial_log10p(uint64_t k, uint64_t n, double p) {
  if (!(p >= 0.0 && p <= 1.0)) return std::numeric_limits<double>::quiet_NaN();
  if (k == 0) return 0.0;
  if (k > n || p == 0.0) return -std::numeric_limits<double>::infinity();
  if (p == 1.0) return 0.0;
  const double q = 1.0 - p, dn = static_cast<double>(n), odds = p / q;
  auto logdensity = [&](uint64_t x) { return logdbinom(static_cast<double>(x), dn, p, q); };
  auto up = [&](uint64_t x) {
    return (dn - static_cast<double>(x)) / (static_cast<double>(x) + 1.0) * odds;
  };
  auto down = [&](uint64_t x) {
    return static_cast<double>(x) / (dn - static_cast<double>(x) + 1.0) / odds;
  };
  const double modeguess = std::floor((dn + 1.0) * p);
  const uint64_t mode = modeguess >= dn ? n : static_cast<uint64_t>(modeguess);
  return logupper(k, 0, n, mode, logdensity, up, down) / LN10;
}

std::vector<double> bh_log10q(const std::vector<double> &log10p) {
  std::vector<double> q(log10p.size(), std::numeric_limits<double>::quiet_NaN());
  std::vector<uint64_t> order;
  for (uint64_t i = 0; i < log10p.size(); i++)
    if (!std::isnan(log10p[i])) order.push_back(i);
  std::sort(order.begin(), order.end(),
            [&](uint64_t a, uint64_t b) { return log10p[a] < log10p[b]; });
  const double logm = std::log10(static_cast<double>(order.size()));
  double running = 0.0;  // the minimum so far from the largest p-value down, at most 1
  for (uint64_t rank = order.size(); rank > 0; rank--) {
    const uint64_t i = order[rank - 1];
    running = std::min(running, log10p[i] + logm - std::log10(static_cast<double>(rank)));
    q[i] = running;
  }
  return q;
}
