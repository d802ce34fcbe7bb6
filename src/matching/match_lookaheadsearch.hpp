// The lookahead search: finds the windows of the simple search, but gives a window up as
// soon as a prefix of it falls below that prefix's intermediate threshold; and its k-best
// form, which keeps only the best matches of the whole search.
#pragma once

#include <cstdint>

#include "matching/match_simplesearch.hpp"

// Reports every window of the sequences in range (all when range is null) that passes the
// intermediate thresholds of all its rows and reaches the threshold, in order of end
// position. A window holding a wildcard, a separator or a code not below the alphabet's
// mapsize never matches. The threshold and the intermediate thresholds must be set.
// Returns 0, or -1 as simplesearch does.
int lookaheadsearch(const Multiseq *multiseq, const ScoringMatrix *matrix,
                    const SequenceRange *range, ReportFunction report, SearchJob *userdata);

// Keeps the k best hits of the lookahead test over all sequences of range (greater score
// first, among equal scores the smaller end position) and reports them best first after the
// scan. Once k hits are kept, the matrix's threshold is raised to the worst kept score and
// its intermediate thresholds recomputed; they stay raised (the caller restores them before
// searching again). The caller computes the row bounds before and frees them after.
// Returns 0; -1 with "Searching for zero best matches doesn't make any sense." for k = 0,
// with "Invalid profile type.", with the sequence lookup's message (nothing reported), or
// with the error code set when report answered non-zero during the final walk.
int lookaheadsearch_kbest(const Multiseq *multiseq, ScoringMatrix *matrix,
                          const SequenceRange *range, uint64_t k, ReportFunction report,
                          SearchJob *userdata);
