// Integer and float versions of the simple search, written once over the score type.
#pragma once

#include <cstdint>
#include <type_traits>

#include "matching/match_simplesearch.hpp"

// Adds two scores. Integer sums wrap around instead of overflowing (well defined); real
// matrices stay far away from the 64-bit range. Float sums are single precision.
template <typename Score>
inline Score addscore(Score a, Score b) {
  if constexpr (std::is_integral_v<Score>) {
    return static_cast<Score>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
  } else {
    return a + b;
  }
}

// Scores every window of the segment of length len starting at absolute position start.
template <typename Score>
int simplesearch_segment(const ScoringMatrix *matrix, const unsigned char *sequence,
                         uint64_t start, uint64_t len, Match *match, ReportFunction report) {
  const uint64_t m = matrix->m;
  if (m == 0 || len < m) return 0;
  const uint64_t columns = matrix_columns(matrix);
  const Score *scores = matrix_scores<Score>(matrix);
  const uint64_t *rowoffsets = matrix->rowoffsets;
  const Score threshold = scoreof<Score>(matrix->threshold);
  const unsigned char *segment = sequence + start;
  // Windows starting after len - m run into the end of the segment and are abandoned.
  for (uint64_t n = 0; n + m <= len; n++) {
    const unsigned char *window = segment + n;
    Score sum = ScoreTraits<Score>::zero;
    uint64_t j = 0;
    for (; j < m; j++) {
      const uint64_t code = window[j];
      if (code >= columns) break;
      const Score s = scores[rowoffsets[j] + code];
      if (ScoreTraits<Score>::forbidden(s)) break;
      sum = addscore<Score>(sum, s);
    }
    if (j == m && threshold <= sum) {
      scoreof<Score>(match->score) = sum;
      match->endposition = start + n + m - 1;
      if (report(match) != 0) return -1;
    }
  }
  return 0;
}

template <typename Score>
int simplesearch_templ(const Multiseq *multiseq, const ScoringMatrix *matrix,
                       const SequenceRange *range, ReportFunction report, SearchJob *userdata) {
  Match match;
  initmatch(&match, multiseq, matrix, userdata);
  return walksegments(multiseq, range, [&](uint64_t start, uint64_t len) {
    return simplesearch_segment<Score>(matrix, multiseq->sequence, start, len, &match, report);
  });
}
