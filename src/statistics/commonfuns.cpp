// The complete distribution of a Profile on first need, with its status line.
#include "base/output.hpp"
#include "matching/profile.hpp"
#include "profiles/profilecollection.hpp"
#include "statistics/distribution.hpp"

const ScoreDistribution *ensure_distribution(Profile *profile, const double *frequencies) {
  if (profile->distribution.size > 0) return &profile->distribution;
  printstatus("Calculating complete distribution, multiplier %.6e.\n", profile->multiplier);
  ScoringMatrix scratch;
  const ScoringMatrix *floatmatrix;
  const bool copied = matrix_float_copy(&profile->matrix, &scratch, &floatmatrix);
  const int status = complete_distribution(floatmatrix, frequencies, profile->multiplier,
                                           &profile->distribution);
  if (copied) matrix_free(&scratch);
  return status == 0 ? &profile->distribution : nullptr;
}
