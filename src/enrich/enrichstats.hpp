// The statistics of motif enrichment, each exact and computed in log space so that tables of
// tens of thousands of sequences neither underflow nor lose digits: Fisher's exact test on a
// 2 x 2 table, the rank-sum test of two sets of scores, the binomial tail of a central window,
// and the Benjamini-Hochberg q-values over the motifs tested. Plain arithmetic: no lock, no
// failure.
#pragma once

#include <cstdint>
#include <vector>

// One-sided Fisher's exact test for over-representation in the target: the 2 x 2 table of
// sequences with at least one match (targethit of targettotal, controlhit of controltotal),
// and the probability under the hypergeometric null of a table at least as extreme, that is
// of targethit or more of the (targethit + controlhit) sequences with a match falling into
// the target. Returned as log10 of that probability (0 for p = 1; never -inf: very small
// probabilities keep their exponent, down to about -1e300 and beyond). Relative error in
// log10 within 1e-13 for tables of tens of thousands of sequences, p near 1 included. A count
// of hits above its total gives NaN.
double fisher_log10p(uint64_t targethit, uint64_t targettotal, uint64_t controlhit,
                     uint64_t controltotal);

// The rank-sum (Mann-Whitney U / Wilcoxon) test that the target's scores tend to be larger
// than the control's: every score of both sets ranked together (ties share their mean rank),
// the one-sided p-value of the target's rank sum. Exact (by the distribution of the rank sum)
// for small sets without ties (the product of the sizes at most 10,000), otherwise through
// the normal approximation with the tie correction and a continuity correction, its tail
// computed in log space (erfc's asymptotic expansion far out). log10 of the p-value; 0 when a
// set is empty or every score is tied. NaN scores rank lowest, tied with each other.
double ranksum_log10p(const std::vector<double> &target, const std::vector<double> &control);

// The upper tail of the binomial distribution: log10 P(X >= k) for X ~ Binomial(n, p), exact
// (summed in log space from k up; 0 for k = 0, -inf for k > n or for p = 0 with k > 0, NaN
// for a p outside [0, 1]).
double binomial_log10p(uint64_t k, uint64_t n, double p);

// Benjamini-Hochberg q-values of p-values given as log10 (in any order): q_i = min over the
// p-values p_j >= p_i of p_j m / rank_j, at most 1, as log10 as well (equal p-values share
// their q-value). m is the number of p-values; a NaN is not counted and gets a NaN q-value.
std::vector<double> bh_log10q(const std::vector<double> &log10p);

// The letters of a sequence shuffled with the counts of every k-let (k >= 1) kept exactly:
// a uniformly chosen Eulerian path through the graph of its (k-1)-lets (the method of
// Altschul and Erickson, as extended by Kandel et al. to k-lets), from the same first
// (k-1)-let, so that the first and last (k-1)-lets stay. Deterministic for a seed, the same
// on every platform and standard library. k = 1 is a plain shuffle; a sequence shorter than
// k + 1 letters, or k = 0, is copied as it is. Letters are bytes, compared as they are (give
// the codes or upper-cased letters). Any k and any length (about 20 bytes of memory a letter;
// k up to 9 packs the (k-1)-lets into integers, longer ones are sorted as strings, slower);
// out may be the sequence itself.
void shuffle_klets(const unsigned char *sequence, uint64_t length, unsigned k, uint64_t seed,
                   unsigned char *out);
