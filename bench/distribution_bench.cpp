// Lazy threshold computation against the complete distribution on a real library: for every
// multiplier and p-value, the total time over all matrices (median of several runs), the
// speed-up, and a check that every lazy threshold equals the one the complete table gives
// (the exit status is 1 when one does not).
//
// Usage: distribution_bench LIBRARY [-reps N] [-max N] [-mult LIST] [-pvals LIST]
//   LIBRARY  a profile library over DNA (uniform background)
//   -reps    runs per measurement, the median is printed (default 5)
//   -max     use at most N matrices for multipliers above 10 (default all); the complete
//            distribution grows with the multiplier, so large ones take minutes otherwise
//   -mult    comma-separated multipliers (default 1,10,100)
//   -pvals   comma-separated p-values (default 1e-3,...,1e-8)
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

std::vector<double> parselist(const char *text) {
  std::vector<double> values;
  for (const char *p = text; *p != '\0';) {
    char *end;
    values.push_back(std::strtod(p, &end));
    p = *end == ',' ? end + 1 : end;
    if (end == p && *p != '\0') break;
  }
  return values;
}

// The float view of every matrix, made once: the copy is not what is measured.
struct FloatMatrices {
  std::vector<ScoringMatrix> scratch;
  std::vector<const ScoringMatrix *> view;
  std::vector<bool> copied;
};

// Smallest integer score whose tail entry in a complete table does not exceed pvalue.
int64_t completethreshold(const ScoreDistribution *distribution, double multiplier,
                          double pvalue) {
  int64_t score = static_cast<int64_t>(
      std::floor(static_cast<double>(distribution->minimum - distribution->offset) / multiplier)) - 2;
  const int64_t top = static_cast<int64_t>(std::ceil(
      static_cast<double>(distribution->maximum - distribution->offset) / multiplier)) + 2;
  for (; score <= top; score++) {
    if (tail_lookup(distribution, score, multiplier, TAIL_PVALUE, 0) <= pvalue) return score;
  }
  return score;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s LIBRARY [-reps N] [-max N] [-mult LIST] [-pvals LIST]\n",
                 argv[0]);
    return 1;
  }
  int reps = 5;
  size_t maxlarge = SIZE_MAX;
  std::vector<double> multipliers = {1.0, 10.0, 100.0};
  std::vector<double> pvalues = {1e-3, 1e-4, 1e-5, 1e-6, 1e-7, 1e-8};
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "-reps") == 0) reps = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "-max") == 0) maxlarge = std::strtoul(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "-mult") == 0) multipliers = parselist(argv[i + 1]);
    if (std::strcmp(argv[i], "-pvals") == 0) pvalues = parselist(argv[i + 1]);
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
  FloatMatrices floats;
  floats.scratch.resize(count);
  floats.view.resize(count);
  floats.copied.resize(count);
  for (size_t i = 0; i < count; i++) {
    floats.copied[i] =
        matrix_float_copy(&collection.profiles[i].matrix, &floats.scratch[i], &floats.view[i]);
  }

  std::printf("library %s: %zu matrices, uniform background, median of %d runs\n", argv[1],
              count, reps);
  size_t mismatches = 0;
  std::printf("%10s %8s %9s %12s %12s %9s %s\n", "multiplier", "matrices", "p-value",
              "complete_s", "lazy_s", "speedup", "thresholds");
  for (const double multiplier : multipliers) {
    const size_t used = multiplier > 10.0 ? std::min(count, maxlarge) : count;
    // Complete distributions: timed once per multiplier (they do not depend on the p-value).
    // As in a run, every table stays until all are computed. The last run's tables give the
    // reference thresholds; they are freed before the lazy runs, which thus start from the
    // same heap as a threshold preparation does.
    std::vector<ScoreDistribution> complete(used);
    std::vector<double> completetimes;
    for (int r = 0; r < reps; r++) {
      if (r > 0) {
        for (ScoreDistribution &distribution : complete) freedistribution(&distribution);
      }
      const Clock::time_point start = Clock::now();
      for (size_t i = 0; i < used; i++) {
        complete_distribution(floats.view[i], frequencies, multiplier, &complete[i]);
      }
      completetimes.push_back(seconds(start));
    }
    const double completetime = median(completetimes);
    std::vector<std::vector<int64_t>> reference(pvalues.size(), std::vector<int64_t>(used));
    for (size_t v = 0; v < pvalues.size(); v++) {
      for (size_t i = 0; i < used; i++) {
        // A matrix whose maximum is more probable than the target has no threshold; the
        // threshold preparation makes it unreachable (marked here by the maximum value).
        reference[v][i] = complete[i].tail[complete[i].size - 1] > pvalues[v]
                              ? INT64_MAX
                              : completethreshold(&complete[i], multiplier, pvalues[v]);
      }
    }
    for (ScoreDistribution &distribution : complete) freedistribution(&distribution);

    for (size_t v = 0; v < pvalues.size(); v++) {
      const double pvalue = pvalues[v];
      std::vector<double> lazytimes;
      size_t agreeing = 0, unreachable = 0;
      for (int r = 0; r < reps; r++) {
        std::vector<int64_t> thresholds(used);
        std::vector<ScoreDistribution> lazy(used);
        const Clock::time_point start = Clock::now();
        for (size_t i = 0; i < used; i++) {
          lazy_threshold(floats.view[i], frequencies, multiplier, pvalue, &thresholds[i],
                         &lazy[i]);
        }
        lazytimes.push_back(seconds(start));
        if (r == 0) {
          for (size_t i = 0; i < used; i++) {
            if (reference[v][i] == INT64_MAX) {
              unreachable++;
            } else if (thresholds[i] == reference[v][i]) {
              agreeing++;
            }
          }
        }
        for (ScoreDistribution &distribution : lazy) freedistribution(&distribution);
      }
      mismatches += used - agreeing - unreachable;
      const double lazytime = median(lazytimes);
      std::printf("%10g %8zu %9.0e %12.6f %12.6f %8.1fx %zu exact, %zu unreachable\n",
                  multiplier, used, pvalue, completetime, lazytime, completetime / lazytime,
                  agreeing, unreachable);
      std::fflush(stdout);
    }
  }

  // The headline: exact thresholds for every matrix at p = 1e-5, multiplier 1, including the
  // float copy of each matrix, keeping every distribution, as the threshold preparation does.
  std::vector<double> headline;
  for (int r = 0; r < std::max(reps, 11); r++) {
    std::vector<ScoreDistribution> kept(count);
    const Clock::time_point start = Clock::now();
    for (size_t i = 0; i < count; i++) {
      ScoringMatrix scratch;
      const ScoringMatrix *view;
      const bool copied = matrix_float_copy(&collection.profiles[i].matrix, &scratch, &view);
      int64_t threshold;
      lazy_threshold(view, frequencies, 1.0, 1e-5, &threshold, &kept[i]);
      if (copied) matrix_free(&scratch);
    }
    headline.push_back(seconds(start));
    for (ScoreDistribution &distribution : kept) freedistribution(&distribution);
  }
  std::printf("all %zu thresholds at p = 1e-5, multiplier 1: %.6f s (median of %zu)\n", count,
              median(headline), headline.size());

  for (size_t i = 0; i < count; i++) {
    if (floats.copied[i]) matrix_free(&floats.scratch[i]);
  }
  std::free(frequencies);
  collection_free(&collection, false, false);
  outputdestroy();
  if (mismatches > 0) {
    std::fprintf(stderr, "%zu lazy thresholds differ from the complete tables\n", mismatches);
    return 1;
  }
  return 0;
}
