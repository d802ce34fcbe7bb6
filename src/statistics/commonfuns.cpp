// The complete distribution of a Profile on first need, with its status line.
#include <unistd.h>

#include "base/error.hpp"
#include "base/output.hpp"
#include "matching/profile.hpp"
#include "profiles/profilecollection.hpp"
#include "statistics/distribution.hpp"

int check_distribution_size(const Profile *profile, const ScoringMatrix *floatmatrix,
                            double multiplier, bool complete) {
  const double needed = distribution_bytes(floatmatrix, multiplier, complete);
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pagesize = sysconf(_SC_PAGESIZE);
  const double memory = pages > 0 && pagesize > 0
                            ? static_cast<double>(pages) * static_cast<double>(pagesize)
                            : 0.0;
  if (memory == 0.0 || needed <= memory) return 0;
  return reporterror(
      "The score distribution of PSSM `%s' (declared on line %lu) needs %.0f bytes, more than "
      "the %.0f bytes of memory of this machine; scale its scores down or use a smaller "
      "multiplier (-mult).",
      profile->identifier, static_cast<unsigned long>(profile->beginline), needed, memory);
}

const ScoreDistribution *ensure_distribution(Profile *profile, const double *frequencies) {
  if (profile->distribution.size > 0) return &profile->distribution;
  printstatus("Calculating complete distribution, multiplier %.6e.\n", profile->multiplier);
  ScoringMatrix scratch;
  const ScoringMatrix *floatmatrix;
  const bool copied = matrix_float_copy(&profile->matrix, &scratch, &floatmatrix);
  if (check_distribution_size(profile, floatmatrix, profile->multiplier, true) != 0) {
    if (copied) matrix_free(&scratch);
    return nullptr;
  }
  const int status = complete_distribution(floatmatrix, frequencies, profile->multiplier,
                                           &profile->distribution);
  if (copied) matrix_free(&scratch);
  return status == 0 ? &profile->distribution : nullptr;
}
