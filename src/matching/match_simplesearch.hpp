// The simple search: scores every window of a Multiseq against a ScoringMatrix and reports
// each window whose score reaches the threshold. Also what all engines over a Multiseq share:
// the sequence range, the filling of the Match, and the walk over the sequences.
#pragma once

#include <cstdint>

#include "base/error.hpp"
#include "model/kinds.hpp"
#include "model/match.hpp"
#include "model/scoringmatrix.hpp"
#include "sequences/multiseq.hpp"

// Sequence numbers, counted from 0, both inclusive.
struct SequenceRange {
  uint64_t first, last;
};

// Reports every window of the sequences in range (all sequences when range is null) whose
// score reaches the matrix's threshold, in order of end position. No window crosses a
// separator; a window holding a code not below the alphabet's mapsize or a forbidden cell
// never matches. The threshold must be set; intermediate thresholds and row bounds are not
// used. Returns 0 when the whole search ran; -1 with "Invalid profile type.", with the
// sequence lookup's message (range naming a missing sequence, nothing searched), or when
// report answered non-zero (matches already reported stay reported).
int simplesearch(const Multiseq *multiseq, const ScoringMatrix *matrix,
                 const SequenceRange *range, ReportFunction report, SearchJob *userdata);

// The fixed fields of the Match that an engine over a Multiseq hands to its ReportFunction:
// kind sequence file, length m, the matrix's characters, the job and the source.
inline void initmatch(Match *match, const Multiseq *multiseq, const ScoringMatrix *matrix,
                      SearchJob *userdata) {
  match->sourcekind = SOURCE_MULTISEQ;
  match->length = matrix->m;
  match->endposition = 0;
  match->characters = matrix->alphabet->characters;
  match->job = userdata;
  match->source = multiseq;
  match->matrix = matrix;
  match->score.i = 0;
}

// The first and last sequence of range (all sequences when null). Both ends of a range are
// looked up first (seqrange): 1 with the two numbers, 0 when the database holds no sequence,
// -1 with the error code set when a lookup failed.
inline int rangesequences(const Multiseq *multiseq, const SequenceRange *range,
                          uint64_t *ret_first, uint64_t *ret_last) {
  if (range != nullptr) {
    PositionPair bounds;
    if (seqrange(multiseq, range->first, &bounds) != 0 ||
        seqrange(multiseq, range->last, &bounds) != 0) {
      seterrorcode(1);
      return -1;
    }
    *ret_first = range->first;
    *ret_last = range->last;
    return 1;
  }
  if (multiseq->numofsequences == 0) return 0;
  *ret_first = 0;
  *ret_last = multiseq->numofsequences - 1;
  return 1;
}

// Calls search(start, length) for every sequence of range (all when null) in increasing
// order, start being the absolute position of the sequence's first symbol. Both ends of a
// range are looked up first (seqrange); if either fails nothing is searched and the error
// code is set. Returns 0, or -1 when a lookup or a call of search failed.
template <typename SegmentSearch>
int walksegments(const Multiseq *multiseq, const SequenceRange *range, SegmentSearch &&search) {
  uint64_t first = 0, last = 0;
  const int found = rangesequences(multiseq, range, &first, &last);
  if (found <= 0) return found;
  for (uint64_t i = first; i <= last; i++) {
    const uint64_t start = i == 0 ? 0 : multiseq->separatorpositions[i - 1] + 1;
    const uint64_t end = i + 1 < multiseq->numofsequences ? multiseq->separatorpositions[i]
                                                          : multiseq->totallength;
    if (search(start, end - start) != 0) return -1;
  }
  return 0;
}
