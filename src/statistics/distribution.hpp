// Exact score distributions of a matrix under background frequencies: the complete tail
// table, the lazy threshold computation and p-value lookups.
#pragma once

#include <cstdint>

#include "matching/profile.hpp"

struct Profile;

struct ScoreDistribution {
  int64_t minimum;  // smallest scaled total
  int64_t maximum;  // largest scaled total
  int64_t offset;   // rows * shift: a real score s is the scaled total offset + multiplier * s
  double *tail;     // maximum - minimum + 1 entries: P(scaled total >= minimum + i); owned
  uint64_t size;    // entries of tail; 0 means no distribution
};

enum TailMode { TAIL_PVALUE = 0, TAIL_EVALUE = 1 };

// Computes the complete distribution of a float matrix: 0, or -1 with the message set.
int complete_distribution(const ScoringMatrix *floatmatrix, const double *frequencies,
                          double multiplier, ScoreDistribution *ret_distribution);
// Smallest integer threshold (in the matrix's score unit) whose tail probability does not
// exceed pvalue, computing only the part of the table above it: 0 or -1.
int lazy_threshold(const ScoringMatrix *floatmatrix, const double *frequencies, double multiplier,
                   double pvalue, int64_t *ret_threshold, ScoreDistribution *ret_distribution);
// P-value of score s (E-value: p-value times dbsize in TAIL_EVALUE mode).
double tail_lookup(const ScoreDistribution *distribution, int64_t score, double multiplier,
                   TailMode mode, uint64_t dbsize);
int64_t tail_threshold(const double *tail, uint64_t size, int64_t minimum, int64_t offset,
                       double multiplier, double pvalue);
// The Profile's distribution, computed completely and stored on first need; null on failure.
const ScoreDistribution *ensure_distribution(Profile *profile, const double *frequencies);
void freedistribution(ScoreDistribution *distribution);
