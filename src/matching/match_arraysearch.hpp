// The enhanced suffix array search: walks the suffixes of an index in suffix array order,
// scores the prefix that consecutive suffixes share only once, passes over every block of
// suffixes whose common prefix falls below its intermediate threshold, and reports a
// matching window once for each suffix that begins with it; and its k-best form.
#pragma once

#include <cstdint>

#include "model/match.hpp"
#include "model/scoringmatrix.hpp"
#include "sequences/virtualtree.hpp"

// Reports every window of the index that passes the intermediate thresholds of all its rows
// and reaches the threshold, as Matches of kind index, in suffix array order (grouped by
// window content in order of the symbol codes). The index must have its suffix, lcp and skip
// tables mapped; threshold and intermediate thresholds must be set. Returns 0 after the whole
// traversal, -1 with "Invalid profile type.", or the non-zero answer of report, which ends
// the traversal at once.
int arraysearch(const Virtualtree *virtualtree, const ScoringMatrix *matrix,
                ReportFunction report, SearchJob *userdata);

// Keeps the k best windows of the traversal (greater score first, among equal scores the
// smaller suffix rank) and reports them best first afterwards. Once k are kept, the matrix's
// threshold is raised to the worst kept score and its intermediate thresholds recomputed;
// they stay raised. The caller computes the row bounds before and frees them after.
// Returns 0, or -1 with "Searching for zero best matches doesn't make any sense." for k = 0,
// with "Invalid profile type.", or with the error code set when report answered non-zero.
int arraysearch_kbest(const Virtualtree *virtualtree, ScoringMatrix *matrix, uint64_t k,
                      ReportFunction report, SearchJob *userdata);
