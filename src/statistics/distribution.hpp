// Exact score distributions of a matrix under background frequencies: the complete tail
// table, the lazy threshold computation and p-value lookups.
// The record and its score scaling are in model/distribution.hpp.
#pragma once

#include <cstdint>

#include "model/distribution.hpp"
#include "model/scoringmatrix.hpp"

struct Profile;
struct ProfileCollection;

enum TailMode { TAIL_PVALUE = 0, TAIL_EVALUE = 1 };

// Computes the complete distribution of a float matrix (the matrix's own minimum to maximum):
// 0, or -1 with "Invalid profile type." for a matrix that is not float. A frequency above 1
// is reported as a warning. Forbidden cells count as symbols of probability 0.
int complete_distribution(const ScoringMatrix *floatmatrix, const double *frequencies,
                          double multiplier, ScoreDistribution *ret_distribution);
// The smallest integer threshold (in the matrix's score unit) whose tail probability does not
// exceed pvalue, computing only the part of the table above it: 0 or -1 as above. The
// distribution returned holds the entries from the maximum down to the first one that exceeds
// pvalue, or one further (its minimum is the lowest scaled total it holds, and differs from
// the complete table's by an even number, so that lookups round alike); they equal the
// complete table's entries bit for bit, and lookups of every score from the threshold up give
// the complete table's answers. When even the maximum is more probable than pvalue, the table
// starts at the maximum and the threshold lies above it. A pvalue above 1 computes the
// complete table and answers a threshold no window falls below.
int lazy_threshold(const ScoringMatrix *floatmatrix, const double *frequencies, double multiplier,
                   double pvalue, int64_t *ret_threshold, ScoreDistribution *ret_distribution);
// The part of the distribution from the maximum down to the scaled total of score lowest (or
// one entry further), computed as lazy_threshold computes its part: the same entries, bit for
// bit, and lookups of every score from lowest up give the complete table's answers. 0 or -1
// as above.
int lazy_tail(const ScoringMatrix *floatmatrix, const double *frequencies, double multiplier,
              int64_t lowest, ScoreDistribution *ret_distribution);
// P-value of score s: the entry of the scaled total offset + s * multiplier, clamped to the
// table (E-value: p-value times dbsize in TAIL_EVALUE mode); 0 without a table.
double tail_lookup(const ScoreDistribution *distribution, int64_t score, double multiplier,
                   TailMode mode, uint64_t dbsize);
// Threshold from a stored table (read from a distribution file): the smallest integer score
// whose lookup finds the lowest entry that does not exceed pvalue (about ceil((minimum +
// index - offset) / multiplier)), so that it equals the lazy threshold; the minimum score when
// every entry does.
int64_t tail_threshold(const double *tail, uint64_t size, int64_t minimum, int64_t offset,
                       double multiplier, double pvalue);
// The Profile's distribution, computed completely with the Profile's multiplier and stored on
// first need ("Calculating complete distribution, multiplier %.6e." as a status line); null
// on failure.
const ScoreDistribution *ensure_distribution(Profile *profile, const double *frequencies);
void freedistribution(ScoreDistribution *distribution);

// Bytes of working memory the complete (or lazy) distribution of a float matrix needs with the
// given multiplier, as a double so that no size overflows.
double distribution_bytes(const ScoringMatrix *floatmatrix, double multiplier, bool complete);
// 0 when that memory is within the machine's physical memory; otherwise -1 with a message that
// names the Profile, the size and the way out.
int check_distribution_size(const Profile *profile, const ScoringMatrix *floatmatrix,
                            double multiplier, bool complete);
// The machine's physical memory in bytes; 0 when it cannot be told.
double physicalmemory();
// For a run that computes the complete distribution of every Profile of collection with
// multiplier, jobs of them at a time, each held until it is computed: 0 when every one fits
// into memory (bytes; 0 accepts everything) and the jobs largest fit together; otherwise -1
// with the message of check_distribution_size for a Profile too large on its own, or one
// that names the jobs and the size they need together.
int check_distributions_fit(const ProfileCollection *collection, double multiplier,
                            uint64_t jobs, double memory);
