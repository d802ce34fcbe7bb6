// Integer and float versions of the scoring-matrix operations, written once over the score
// type. Included only by .cpp files of matching/ and statistics/; profile.cpp dispatches to
// these through its operations table.
//
// Contents: score arithmetic; row maxima and intermediate thresholds; row bounds; reversal;
// column exchange; copies; checker.
#pragma once

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

#include "base/error.hpp"
#include "model/scoringmatrix.hpp"

// ---------------------------------------------------------------------------------------
// Score arithmetic

// Integer sums and differences saturate at the ends of the 64-bit range: rows whose regular
// columns are all forbidden contribute about -2^62 each, and a few of them would overflow.
// Such a matrix can never match, so any saturated value is as good as the exact one. Float
// arithmetic is plain single precision (it never traps; it may reach an infinity).
template <typename Score>
inline Score score_add(Score a, Score b) {
  if constexpr (std::is_integral_v<Score>) {
    Score sum;
    if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? INT64_MAX : INT64_MIN;
    return sum;
  } else {
    return a + b;
  }
}
template <typename Score>
inline Score score_sub(Score a, Score b) {
  if constexpr (std::is_integral_v<Score>) {
    Score difference;
    if (__builtin_sub_overflow(a, b, &difference)) return b < 0 ? INT64_MAX : INT64_MIN;
    return difference;
  } else {
    return a - b;
  }
}

// ---------------------------------------------------------------------------------------
// Row maxima and intermediate thresholds

// The best that row i can add when no row bounds exist: the largest score of all its
// columns, but at least 0.
template <typename Score>
Score matrix_row_best_templ(const ScoringMatrix *matrix, uint64_t row) {
  const Score *cells = matrix_scores<Score>(matrix) + matrix->rowoffsets[row];
  Score best = ScoreTraits<Score>::zero;
  for (uint64_t j = 0; j < matrix_columns(matrix); j++) best = std::max(best, cells[j]);
  return best;
}

// Writes into ret_thresholds the intermediate thresholds belonging to threshold T: entry i is
// T minus the best that rows i + 1 to m - 1 can still add.
template <typename Score>
void matrix_compute_intermediate_templ(const ScoringMatrix *matrix, Score *ret_thresholds) {
  Score t = scoreof<Score>(matrix->threshold);
  const Score *rowmaxima = static_cast<const Score *>(matrix->rowmaxima);
  for (uint64_t i = matrix->m; i-- > 0;) {
    ret_thresholds[i] = t;
    t = score_sub<Score>(t, rowmaxima != nullptr ? rowmaxima[i]
                                                 : matrix_row_best_templ<Score>(matrix, i));
  }
}

template <typename Score>
void matrix_set_intermediate_thresholds_templ(ScoringMatrix *matrix) {
  matrix_compute_intermediate_templ<Score>(matrix, matrix_intermediate<Score>(matrix));
}

// ---------------------------------------------------------------------------------------
// Row bounds

// Minimum and maximum of row i over the regular columns (the wildcard column is left out).
template <typename Score>
void matrix_row_extremes_templ(const ScoringMatrix *matrix, uint64_t row, Score *ret_min,
                               Score *ret_max) {
  const Score *cells = matrix_scores<Score>(matrix) + matrix->rowoffsets[row];
  Score low = ScoreTraits<Score>::plusinfinity;
  Score high = ScoreTraits<Score>::minusinfinity;
  for (uint64_t j = 0; j + 1 < matrix_columns(matrix); j++) {
    low = std::min(low, cells[j]);
    high = std::max(high, cells[j]);
  }
  *ret_min = low;
  *ret_max = high;
}

// Points the row maxima at the second half of the row bounds block (null for m = 0).
inline void matrix_link_rowmaxima(ScoringMatrix *matrix, size_t width) {
  matrix->rowmaxima = matrix->rowbounds == nullptr
                          ? nullptr
                          : static_cast<char *>(matrix->rowbounds) + matrix->m * width;
}

template <typename Score>
void matrix_compute_row_bounds_templ(ScoringMatrix *matrix) {
  const uint64_t m = matrix->m;
  Score *bounds = allocorexit<Score>(matrix_rowbounds<Score>(matrix), 2 * m);
  matrix->rowbounds = bounds;
  matrix_link_rowmaxima(matrix, sizeof(Score));
  Score minsum = ScoreTraits<Score>::zero;
  Score maxsum = ScoreTraits<Score>::zero;
  for (uint64_t i = 0; i < m; i++) {
    matrix_row_extremes_templ<Score>(matrix, i, &bounds[i], &bounds[m + i]);
    minsum = score_add<Score>(minsum, bounds[i]);
    maxsum = score_add<Score>(maxsum, bounds[m + i]);
  }
  scoreof<Score>(matrix->minscore) = minsum;
  scoreof<Score>(matrix->maxscore) = maxsum;
}

// ---------------------------------------------------------------------------------------
// Reversal

template <typename Score>
void matrix_reverse_templ(ScoringMatrix *matrix, bool recompute) {
  const uint64_t m = matrix->m;
  if (m < 2) return;
  const uint64_t columns = matrix_columns(matrix);
  Score *scores = matrix_scores<Score>(matrix);
  for (uint64_t i = 0; i < m - 1 - i; i++) {
    Score *upper = scores + matrix->rowoffsets[i];
    std::swap_ranges(upper, upper + columns, scores + matrix->rowoffsets[m - 1 - i]);
  }
  Score *bounds = matrix_rowbounds<Score>(matrix);
  if (bounds != nullptr) {
    std::reverse(bounds, bounds + m);
    std::reverse(bounds + m, bounds + 2 * m);
  }
  if (recompute) matrix_set_intermediate_thresholds_templ<Score>(matrix);
}

// Copies the row bounds of source into destination, in reverse row order when asked.
template <typename Score>
void matrix_copy_row_bounds_templ(const ScoringMatrix *source, ScoringMatrix *destination,
                                  bool reversed) {
  const Score *from = matrix_rowbounds<Score>(source);
  if (from == nullptr || source->m == 0) return;
  const uint64_t m = source->m;
  Score *to = allocorexit<Score>(nullptr, 2 * m);
  if (reversed) {
    std::reverse_copy(from, from + m, to);
    std::reverse_copy(from + m, from + 2 * m, to + m);
  } else {
    std::copy(from, from + 2 * m, to);
  }
  destination->rowbounds = to;
  matrix_link_rowmaxima(destination, sizeof(Score));
}

// The destination has been initialised with the source's type, alphabet and dimension.
template <typename Score>
void matrix_reversed_copy_templ(const ScoringMatrix *source, ScoringMatrix *destination,
                                bool recompute) {
  const uint64_t m = source->m;
  const uint64_t columns = matrix_columns(source);
  destination->threshold = source->threshold;
  const Score *from = matrix_scores<Score>(source);
  Score *to = matrix_scores<Score>(destination);
  for (uint64_t i = 0; i < m; i++) {
    std::copy(from + source->rowoffsets[i], from + source->rowoffsets[i] + columns,
              to + destination->rowoffsets[m - 1 - i]);
  }
  destination->minscore = source->minscore;
  destination->maxscore = source->maxscore;
  matrix_copy_row_bounds_templ<Score>(source, destination, true);
  if (recompute) matrix_set_intermediate_thresholds_templ<Score>(destination);
}

// ---------------------------------------------------------------------------------------
// Column exchange

template <typename Score>
void matrix_swap_columns_templ(ScoringMatrix *matrix, const unsigned char *swapmap) {
  const uint64_t columns = matrix_columns(matrix);
  Score *scores = matrix_scores<Score>(matrix);
  for (uint64_t i = 0; i < columns; i++) {
    const uint64_t p = swapmap[i];
    if (p == i) continue;
    for (uint64_t row = 0; row < matrix->m; row++) {
      Score *cells = scores + matrix->rowoffsets[row];
      std::swap(cells[i], cells[p]);
    }
  }
}

// The destination has been initialised with the source's type, alphabet and dimension.
template <typename Score>
void matrix_swapped_copy_templ(const ScoringMatrix *source, ScoringMatrix *destination,
                               const unsigned char *swapmap) {
  const uint64_t m = source->m;
  const uint64_t columns = matrix_columns(source);
  destination->threshold = source->threshold;
  if (m > 0) {
    std::copy(matrix_intermediate<Score>(source), matrix_intermediate<Score>(source) + m,
              matrix_intermediate<Score>(destination));
  }
  destination->minscore = source->minscore;
  destination->maxscore = source->maxscore;
  matrix_copy_row_bounds_templ<Score>(source, destination, false);
  const Score *from = matrix_scores<Score>(source);
  Score *to = matrix_scores<Score>(destination);
  auto copycolumn = [&](uint64_t fromcolumn, uint64_t tocolumn) {
    for (uint64_t row = 0; row < m; row++) {
      to[destination->rowoffsets[row] + tocolumn] = from[source->rowoffsets[row] + fromcolumn];
    }
  };
  bool written[256] = {};
  for (uint64_t i = 0; i < columns; i++) {
    const uint64_t p = swapmap[i];
    if (p == i) {
      if (!written[p]) {
        copycolumn(i, i);
        written[i] = true;
      }
    } else if (!written[i] || !written[p]) {
      copycolumn(i, p);
      copycolumn(p, i);
      written[i] = written[p] = true;
    }
  }
}

// ---------------------------------------------------------------------------------------
// Float copy

// The scratch matrix has been initialised as a float matrix of the source's alphabet and
// dimension; only its scores are set.
template <typename Score>
void matrix_float_scores_templ(const ScoringMatrix *source, ScoringMatrix *scratch) {
  const uint64_t count = source->m * matrix_columns(source);
  const Score *from = matrix_scores<Score>(source);
  float *to = matrix_scores<float>(scratch);
  for (uint64_t i = 0; i < count; i++) {
    to[i] = ScoreTraits<Score>::forbidden(from[i]) ? ScoreTraits<float>::minusinfinity
                                                   : static_cast<float>(from[i]);
  }
}

// ---------------------------------------------------------------------------------------
// Checker

// Recomputes row offsets, row bounds with their sums, and the intermediate thresholds from
// the threshold, and compares them with the stored ones. Returns 0, or -1 naming the first
// difference. Needs the threshold and the intermediate thresholds to have been set.
template <typename Score>
int matrix_check_templ(const ScoringMatrix *matrix) {
  const uint64_t m = matrix->m;
  const uint64_t columns = matrix_columns(matrix);
  if (m == 0) {
    if (matrix->rowoffsets != nullptr || matrix->scores != nullptr ||
        matrix->intermediate != nullptr || matrix->rowbounds != nullptr) {
      return reporterror("matrix of dimension 0 holds arrays");
    }
    return 0;
  }
  for (uint64_t i = 0; i < m; i++) {
    if (matrix->rowoffsets[i] != i * columns) {
      return reporterror("row offset %lu is %lu, expected %lu", static_cast<unsigned long>(i),
                         static_cast<unsigned long>(matrix->rowoffsets[i]),
                         static_cast<unsigned long>(i * columns));
    }
  }
  const Score *bounds = matrix_rowbounds<Score>(matrix);
  if (bounds != nullptr) {
    if (matrix->rowmaxima != bounds + m) return reporterror("row maxima do not follow row minima");
    Score minsum = ScoreTraits<Score>::zero;
    Score maxsum = ScoreTraits<Score>::zero;
    for (uint64_t i = 0; i < m; i++) {
      Score low, high;
      matrix_row_extremes_templ<Score>(matrix, i, &low, &high);
      if (!(low == bounds[i] && high == bounds[m + i])) {
        return reporterror("row bounds of row %lu differ from the row's scores",
                           static_cast<unsigned long>(i));
      }
      minsum = score_add<Score>(minsum, low);
      maxsum = score_add<Score>(maxsum, high);
    }
    if (!(minsum == scoreof<Score>(matrix->minscore) &&
          maxsum == scoreof<Score>(matrix->maxscore))) {
      return reporterror("minimum or maximum score differs from the sum of the row bounds");
    }
  } else if (matrix->rowmaxima != nullptr) {
    return reporterror("row maxima without row bounds");
  }
  const Score *stored = matrix_intermediate<Score>(matrix);
  std::vector<Score> expected(m);
  matrix_compute_intermediate_templ<Score>(matrix, expected.data());
  for (uint64_t i = 0; i < m; i++) {
    const bool bothnan = expected[i] != expected[i] && stored[i] != stored[i];
    if (!(expected[i] == stored[i]) && !bothnan) {
      return reporterror("intermediate threshold %lu differs from its recomputation",
                         static_cast<unsigned long>(i));
    }
  }
  return 0;
}
