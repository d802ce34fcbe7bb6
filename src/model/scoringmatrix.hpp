// The scoring matrix record: one row of scores per matrix position and one column per symbol
// code, with threshold, score bounds and the intermediate thresholds the lookahead engines
// prune on; its score types and the accessors of its cells. Scores are signed 64-bit integers
// (SCORE_INTEGER) or 32-bit floats (SCORE_FLOAT); a forbidden cell holds minus infinity. The
// operations over a matrix are in matching/profile.hpp.
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

// Releases the matrix's arrays, setting their fields to null; a score type other than
// SCORE_INTEGER and SCORE_FLOAT still loses every block, and is reported as "Invalid profile
// type.". The other operations are in matching/profile.hpp.
void matrix_free(ScoringMatrix *matrix);
