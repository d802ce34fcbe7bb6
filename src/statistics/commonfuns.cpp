// The complete distribution of a Profile on first need, with its status line, and the checks
// that the distributions a run computes fit into the machine's memory.
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "base/error.hpp"
#include "base/output.hpp"
#include "matching/profile.hpp"
#include "model/profile.hpp"
#include "statistics/distribution.hpp"

double physicalmemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pagesize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pagesize <= 0) return 0.0;
  return static_cast<double>(pages) * static_cast<double>(pagesize);
}

namespace {

int refuseprofile(const Profile *profile, double needed, double memory) {
  return reporterror(
      "The score distribution of PSSM `%s' (declared on line %lu) needs %.0f bytes, more than "
      "the %.0f bytes of memory of this machine; scale its scores down or use a smaller "
      "multiplier (-mult).",
      profile->identifier, static_cast<unsigned long>(profile->beginline), needed, memory);
}

}  // namespace

int check_distribution_size(const Profile *profile, const ScoringMatrix *floatmatrix,
                            double multiplier, bool complete) {
  const double needed = distribution_bytes(floatmatrix, multiplier, complete);
  const double memory = physicalmemory();
  if (memory == 0.0 || needed <= memory) return 0;
  return refuseprofile(profile, needed, memory);
}

int check_distributions_fit(const ProfileCollection *collection, double multiplier,
                            uint64_t jobs, double memory) {
  if (memory == 0.0) return 0;
  std::vector<double> needs;
  needs.reserve(collection->numofprofiles);
  for (uint64_t i = 0; i < collection->numofprofiles; i++) {
    const Profile *profile = &collection->profiles[i];
    ScoringMatrix scratch;
    const ScoringMatrix *floatmatrix;
    const bool copied = matrix_float_copy(&profile->matrix, &scratch, &floatmatrix);
    const double needed = distribution_bytes(floatmatrix, multiplier, true);
    if (copied) matrix_free(&scratch);
    // Written so that a size that is not a number is refused too.
    if (!(needed <= memory)) return refuseprofile(profile, needed, memory);
    needs.push_back(needed);
  }
  // Each job holds the table of the Profile it computes; at worst the largest ones meet.
  const size_t together = static_cast<size_t>(std::min<uint64_t>(jobs, needs.size()));
  if (together < 2) return 0;
  std::partial_sort(needs.begin(), needs.begin() + static_cast<ptrdiff_t>(together), needs.end(),
                    std::greater<double>());
  double total = 0.0;
  for (size_t i = 0; i < together; i++) total += needs[i];
  if (total <= memory) return 0;
  return reporterror(
      "The score distributions of the %lu largest PSSMs, computed at once by %lu jobs, need "
      "%.0f bytes, more than the %.0f bytes of memory of this machine; use fewer jobs (-j), "
      "scale the scores down or use a smaller multiplier (-mult).",
      static_cast<unsigned long>(together), static_cast<unsigned long>(jobs), total, memory);
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
