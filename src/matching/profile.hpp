// The scoring matrix: one row of scores per matrix position and one column per symbol code,
// with threshold, score bounds and the intermediate thresholds the lookahead engines prune on.
// Every operation exists for integer and float scores (profile.templ.hpp) and dispatches here
// on the score type.
#pragma once

#include <bit>
#include <cstdint>

#include "sequences/alphabet.hpp"

using ScoreType = uint32_t;
constexpr ScoreType SCORE_INTEGER = 0;
constexpr ScoreType SCORE_FLOAT = 1;

template <typename Score>
struct ScoreTraits;
template <>
struct ScoreTraits<int64_t> {
  static constexpr ScoreType type = SCORE_INTEGER;
  static constexpr int64_t minusinfinity = -INT64_C(4611686018427387903);
  static constexpr int64_t plusinfinity = INT64_C(4611686018427387903);
  static constexpr int64_t zero = 0;
  // A cell that forbids its symbol.
  static constexpr bool forbidden(int64_t s) { return s < -INT64_C(4611686018427387902); }
};
template <>
struct ScoreTraits<float> {
  static constexpr ScoreType type = SCORE_FLOAT;
  static constexpr float minusinfinity = std::bit_cast<float>(0xfeffffffu);
  static constexpr float plusinfinity = std::bit_cast<float>(0x7effffffu);
  static constexpr float zero = 0.0f;
  static constexpr bool forbidden(float s) { return s <= minusinfinity; }
};

// One score of either type.
union ScoreValue {
  int64_t i;
  float f;
};
template <typename Score>
inline Score &scoreof(ScoreValue &value) {
  if constexpr (ScoreTraits<Score>::type == SCORE_INTEGER) return value.i; else return value.f;
}
template <typename Score>
inline Score scoreof(const ScoreValue &value) {
  if constexpr (ScoreTraits<Score>::type == SCORE_INTEGER) return value.i; else return value.f;
}

struct ScoringMatrix {
  ScoreType scoretype;
  uint64_t m;
  uint64_t *rowoffsets;  // row i begins at scores[rowoffsets[i]] (i * columns)
  void *intermediate;    // m scores: intermediate thresholds
  void *scores;          // m * columns scores, row after row
  void *rowbounds;       // null, or 2m scores: row minima, then row maxima
  void *rowmaxima;       // null, or entry m of rowbounds (not owned)
  ScoreValue threshold;
  ScoreValue minscore;
  ScoreValue maxscore;
  const Alphabet *alphabet;  // borrowed; columns = alphabet->mapsize
};

inline uint64_t matrix_columns(const ScoringMatrix *matrix) { return matrix->alphabet->mapsize; }
template <typename Score>
inline Score *matrix_scores(const ScoringMatrix *matrix) {
  return static_cast<Score *>(matrix->scores);
}
template <typename Score>
inline Score *matrix_intermediate(const ScoringMatrix *matrix) {
  return static_cast<Score *>(matrix->intermediate);
}
template <typename Score>
inline Score *matrix_rowbounds(const ScoringMatrix *matrix) {
  return static_cast<Score *>(matrix->rowbounds);
}
template <typename Score>
inline Score matrix_cell(const ScoringMatrix *matrix, uint64_t row, uint64_t code) {
  return matrix_scores<Score>(matrix)[matrix->rowoffsets[row] + code];
}

// Swap map: swapmap[i] = j != i names the pair of columns i and j, named once.
using SwapMap = unsigned char[256];

// All operations with a status return 0, or -1 with "Invalid profile type." for a score type
// other than SCORE_INTEGER and SCORE_FLOAT.
int matrix_init(ScoringMatrix *matrix, ScoreType type, const Alphabet *alpha, uint64_t m);
int matrix_init_threshold(ScoringMatrix *matrix, ScoreType type, const Alphabet *alpha,
                          uint64_t m, ScoreValue threshold);
int matrix_set_intermediate_thresholds(ScoringMatrix *matrix);
int matrix_compute_row_bounds(ScoringMatrix *matrix);
void matrix_free_row_bounds(ScoringMatrix *matrix);
int matrix_reverse(ScoringMatrix *matrix, bool recompute);
int matrix_reversed_copy(const ScoringMatrix *source, ScoringMatrix *destination, bool recompute);
int matrix_swap_columns(ScoringMatrix *matrix, const unsigned char *swapmap);
int matrix_swapped_copy(const ScoringMatrix *source, ScoringMatrix *destination,
                        const unsigned char *swapmap);
// Float view of a matrix: *ret_result is the source itself (answer false) or the scratch
// matrix holding float copies of the scores (answer true; free it with matrix_free).
bool matrix_float_copy(const ScoringMatrix *source, ScoringMatrix *scratch,
                       const ScoringMatrix **ret_result);
void matrix_free(ScoringMatrix *matrix);
// Checks bounds and intermediate thresholds against a recomputation from scratch: 0 or -1.
int matrix_check(const ScoringMatrix *matrix);
