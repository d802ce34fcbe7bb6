// Reading one score of a library matrix in the matrix's score type: integers for INT matrices,
// 32-bit floats for FLOAT matrices, with the range check of matrix cells.
#pragma once

#include <limits>

#include "base/tokenizer.hpp"
#include "model/scoringmatrix.hpp"

// Reads a score token at the cursor: null, or the reason with the cursor at the fault. With
// checkrange the value must lie strictly between the two score infinities; the reason is then
// "matrix value too small" or "matrix value too high", with the cursor at the token's start.
template <typename Score>
const char *parsescore(TextCursor *cursor, bool checkrange, Score *ret_value) {
  const char *start = cursor->pos;
  if constexpr (ScoreTraits<Score>::type == SCORE_INTEGER) {
    int64_t value;
    const char *reason = readintegertoken(cursor, true, &value);
    if (reason != nullptr) return reason;
    if (checkrange && value <= ScoreTraits<Score>::minusinfinity) {
      cursor->pos = start;
      return "matrix value too small";
    }
    if (checkrange && value >= ScoreTraits<Score>::plusinfinity) {
      cursor->pos = start;
      return "matrix value too high";
    }
    *ret_value = value;
  } else {
    double value;
    const char *reason = readfloattoken(cursor, &value);
    if (reason != nullptr) return reason;
    // Values beyond the float range become infinite rather than undefined.
    constexpr double largest = std::numeric_limits<float>::max();
    const float narrowed = value > largest    ? std::numeric_limits<float>::infinity()
                           : value < -largest ? -std::numeric_limits<float>::infinity()
                                              : static_cast<float>(value);
    if (checkrange && narrowed <= ScoreTraits<Score>::minusinfinity) {
      cursor->pos = start;
      return "matrix value too small";
    }
    if (checkrange && narrowed >= ScoreTraits<Score>::plusinfinity) {
      cursor->pos = start;
      return "matrix value too high";
    }
    *ret_value = narrowed;
  }
  return nullptr;
}

template <typename Score>
const char *parsescorevalue(TextCursor *cursor, ScoreValue *ret_value) {
  return parsescore<Score>(cursor, false, &scoreof<Score>(*ret_value));
}
