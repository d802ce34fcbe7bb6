// The complete score distributions of a library, as zelkodist computes them, against a plain
// dense dynamic programme over doubles for the same scaled tables (every cell of every prefix,
// every symbol, no ordering of rows, no cache blocking). Prints the median time of each over
// all matrices per multiplier, their ratio, and the largest relative difference of the tail
// entries (which differ only by rounding).
//
// Usage: densedp_bench LIBRARY [-reps N] [-mult LIST]   (DNA, uniform background)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/error.hpp"
#include "base/output.hpp"
#include "matching/profile.hpp"
#include "profiles/libparse.hpp"
#include "statistics/distribution.hpp"
#include "statistics/freqfileparser.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The tail table of a float matrix by the textbook recurrence over scaled scores.
std::vector<double> densetail(const ScoringMatrix *matrix, const double *frequencies,
                              double multiplier) {
  const uint64_t symbols = matrix_columns(matrix) - 1;
  float smallest = 0.0f;
  for (uint64_t i = 0; i < matrix->m; i++) {
    for (uint64_t j = 0; j < symbols; j++) {
      const float entry = matrix_cell<float>(matrix, i, j);
      if (!ScoreTraits<float>::forbidden(entry)) smallest = std::min(smallest, entry);
    }
  }
  const int64_t shift = std::llabs(static_cast<int64_t>(std::rint(multiplier * smallest)));
  std::vector<std::vector<int64_t>> scores(matrix->m);
  int64_t minimum = 0, maximum = 0;
  for (uint64_t i = 0; i < matrix->m; i++) {
    int64_t low = INT64_MAX, high = INT64_MIN;
    for (uint64_t j = 0; j < symbols; j++) {
      const float entry = matrix_cell<float>(matrix, i, j);
      const int64_t score = ScoreTraits<float>::forbidden(entry)
                                ? -1
                                : shift + static_cast<int64_t>(std::rint(multiplier * entry));
      scores[i].push_back(score);
      if (score >= 0) low = std::min(low, score), high = std::max(high, score);
    }
    minimum += low;
    maximum += high;
  }
  std::vector<double> previous(static_cast<size_t>(maximum + 1), 0.0), current(previous.size());
  previous[0] = 1.0;
  int64_t reach = 0;
  for (uint64_t i = 0; i < matrix->m; i++) {
    std::fill(current.begin(), current.end(), 0.0);
    for (int64_t x = 0; x <= reach; x++) {
      if (previous[x] == 0.0) continue;
      for (uint64_t j = 0; j < symbols; j++) {
        if (scores[i][j] >= 0) current[x + scores[i][j]] += previous[x] * frequencies[j];
      }
    }
    reach += *std::max_element(scores[i].begin(), scores[i].end());
    std::swap(previous, current);
  }
  std::vector<double> tail(static_cast<size_t>(maximum - minimum + 1));
  double sum = 0.0;
  for (int64_t s = maximum; s >= minimum; s--) tail[s - minimum] = (sum += previous[s]);
  return tail;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s LIBRARY [-reps N] [-mult LIST]\n", argv[0]);
    return 1;
  }
  int reps = 3;
  std::vector<double> multipliers = {1.0, 10.0};
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "-reps") == 0) reps = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "-mult") == 0) {
      multipliers.clear();
      for (char *p = argv[i + 1]; *p != '\0';) {
        multipliers.push_back(std::strtod(p, &p));
        if (*p == ',') p++;
      }
    }
  }
  outputinit(false, true);
  Alphabet alpha;
  dnaalphabet(&alpha);
  ProfileCollection collection;
  if (parselibrary(argv[1], &alpha, &collection) != 0) {
    std::fprintf(stderr, "*** Error: %s\n", errormessageorunknown());
    return 1;
  }
  double *frequencies = loadfrequencies(nullptr, &alpha);
  const size_t count = collection.numofprofiles;
  std::vector<ScoringMatrix> scratch(count);
  std::vector<const ScoringMatrix *> view(count);
  std::vector<bool> copied(count);
  for (size_t i = 0; i < count; i++)
    copied[i] = matrix_float_copy(&collection.profiles[i].matrix, &scratch[i], &view[i]);

  std::printf("%s: %zu matrices, median of %d runs\n", argv[1], count, reps);
  std::printf("%10s %12s %12s %8s %14s\n", "multiplier", "zelkodist_s", "dense_s", "ratio",
              "max_rel_diff");
  for (const double multiplier : multipliers) {
    std::vector<double> ours, dense;
    double worst = 0.0;
    for (int r = 0; r < reps; r++) {
      Clock::time_point start = Clock::now();
      std::vector<ScoreDistribution> tables(count);
      for (size_t i = 0; i < count; i++)
        complete_distribution(view[i], frequencies, multiplier, &tables[i]);
      ours.push_back(seconds(start));
      start = Clock::now();
      std::vector<std::vector<double>> plain(count);
      for (size_t i = 0; i < count; i++) plain[i] = densetail(view[i], frequencies, multiplier);
      dense.push_back(seconds(start));
      for (size_t i = 0; r == 0 && i < count; i++) {
        if (plain[i].size() != tables[i].size) {
          worst = INFINITY;
          continue;
        }
        for (size_t e = 0; e < plain[i].size(); e++) {
          const double a = plain[i][e], b = tables[i].tail[e];
          if (a > 1e-300) worst = std::max(worst, std::fabs(a - b) / a);
        }
      }
      for (ScoreDistribution &table : tables) freedistribution(&table);
    }
    std::printf("%10g %12.4f %12.4f %7.2fx %14.3g\n", multiplier, median(ours), median(dense),
                median(dense) / median(ours), worst);
    std::fflush(stdout);
  }
  for (size_t i = 0; i < count; i++)
    if (copied[i]) matrix_free(&scratch[i]);
  std::free(frequencies);
  collection_free(&collection, false, false);
  return 0;
}
