// SearchSettings: what the engines, the threshold derivation and the reports read of a search,
// apart from any command line. zelkosearch maps its options onto them (its RunConfiguration
// holds one); the scan library fills one directly.
#pragma once

#include <cstdint>

#include "model/kinds.hpp"

// Where the thresholds of probability cutoffs come from.
enum DistributionMode : uint32_t {
  DISTRIBUTION_NONE = 0,  // raw score, MSS and k best: no distribution is needed up front
  DISTRIBUTION_LAZY = 1,  // the lazy distribution under the background frequencies
  DISTRIBUTION_FILE = 2   // the records of a precalculated distribution file
};

struct SearchSettings {
  ThresholdKind thresholdkind;
  double thresholdvalue;  // the E-value, p-value, raw score or MSS cutoff
  uint64_t kbest;         // k of THRESHOLD_KBEST
  unsigned char strands;  // strand set
  SearchAlgorithm algorithm;
  bool lazy;                     // probability cutoffs through the lazy distribution
  const char *distributionname;  // precalculated distributions, or null
  double multiplier;             // score scale of the distributions
  bool allmatrices;              // keep matrices that cannot reach the cutoff, with a warning
  uint64_t jobs;                 // threads of the threshold derivation and of the search
  uint64_t dbsize;               // database size of E-values
  double *frequencies;           // background frequencies, or null; owned by who fills them
  // The inputs' names, as the CisML report states them.
  const char *databasename;
  const char *libraryname;
  const char *frequencyname;  // null: uniform background or none
};

// Every field zero, false or null, except jobs 1 and multiplier 1.0.
void initsearchsettings(SearchSettings *settings);

// A distribution file wins; the lazy distribution serves every cutoff but k best.
inline DistributionMode distributionmode(const SearchSettings *settings) {
  if (settings->distributionname != nullptr) return DISTRIBUTION_FILE;
  if (settings->thresholdkind != THRESHOLD_KBEST && settings->lazy) return DISTRIBUTION_LAZY;
  return DISTRIBUTION_NONE;
}
