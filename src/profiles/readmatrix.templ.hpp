// Reading the MA rows of one library matrix into its ScoringMatrix, for integer and float
// scores alike, with the row extremes that give the matrix's score bounds.
#pragma once

#include <algorithm>

#include "base/tokenizer.hpp"
#include "profiles/parsevalue.templ.hpp"

// Where the values of a library row go: column[i] is the matrix column of the i-th character
// of the matrix's alphabet, or -1 when its value is read but not stored.
struct RowLayout {
  const int64_t *column;
  uint64_t count;
};

// Sum of two score bounds, kept between the two infinities so that rows without any stored
// value cannot overflow the sum.
template <typename Score>
Score addbounded(Score a, Score b) {
  const Score sum = a + b;
  if (sum < ScoreTraits<Score>::minusinfinity) return ScoreTraits<Score>::minusinfinity;
  if (sum > ScoreTraits<Score>::plusinfinity) return ScoreTraits<Score>::plusinfinity;
  return sum;
}

// Reads one row after its "MA" tag and blanks into row (one score per column): null, or the
// reason with the cursor at the error. Every column starts forbidden.
template <typename Score>
const char *readmatrixrow(TextCursor *cursor, const RowLayout *layout, uint64_t columns,
                          Score *row, Score *ret_minimum, Score *ret_maximum) {
  std::fill(row, row + columns, ScoreTraits<Score>::minusinfinity);
  Score minimum = ScoreTraits<Score>::plusinfinity;
  Score maximum = ScoreTraits<Score>::minusinfinity;
  for (uint64_t i = 0; i < layout->count; i++) {
    if (atend(cursor)) return "unexpected end of file";
    if (*cursor->pos == '\n') return "line incomplete, missing values according to alphabet";
    Score value;
    const char *reason = parsescore<Score>(cursor, true, &value);
    if (reason != nullptr) return reason;
    if (layout->column[i] >= 0) {
      row[layout->column[i]] = value;
      minimum = std::min(minimum, value);
      maximum = std::max(maximum, value);
    }
    skipblanks(cursor);
  }
  if (atend(cursor)) return "unexpected end of file";
  if (*cursor->pos != '\n') return "line contains too many values according to alphabet";
  cursor->pos++;
  cursor->line++;
  *ret_minimum = minimum;
  *ret_maximum = maximum;
  return nullptr;
}

// Integer engines add a window's scores in 64 bits without checking each sum. A matrix is
// refused when the magnitudes of its row extremes add up beyond the score infinity (2^62 - 1):
// then no partial sum of any window, nor any threshold derived from the sums, can overflow.
template <typename Score>
bool sumsoverflow(uint64_t *magnitude, Score rowminimum, Score rowmaximum) {
  if constexpr (ScoreTraits<Score>::type != SCORE_INTEGER) {
    return false;
  } else {
    if (rowminimum > rowmaximum) return false;  // the row stores no value
    const auto absolute = [](Score v) {
      return v < 0 ? uint64_t(0) - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    };
    *magnitude += std::max(absolute(rowminimum), absolute(rowmaximum));
    return *magnitude >= static_cast<uint64_t>(ScoreTraits<Score>::plusinfinity);
  }
}

// Reads the rows of a matrix and its END line. The matrix has room for min(rows, what the rest
// of the text could hold) rows: announced is the LE value. On success stores the score bounds in
// the matrix and the smallest value in *ret_smallest.
template <typename Score>
const char *readmatrix_templ(TextCursor *cursor, const RowLayout *layout, uint64_t announced,
                             ScoringMatrix *matrix, ScoreValue *ret_smallest) {
  const uint64_t columns = matrix_columns(matrix);
  Score minscore = ScoreTraits<Score>::zero;
  Score maxscore = ScoreTraits<Score>::zero;
  Score smallest = ScoreTraits<Score>::plusinfinity;
  uint64_t magnitude = 0;
  uint64_t rows = 0;
  for (;;) {
    skipcommentlines(cursor);
    if (atend(cursor)) return "unexpected end of file";
    const char *linestart = cursor->pos;
    if (lookingat(cursor, "MA")) {
      cursor->pos += 2;
      if (atend(cursor) || !isblankchar(*cursor->pos))
        return "looks like an `MA' tag, but white space missing";
      if (rows == announced || rows == matrix->m) {
        cursor->pos = linestart;
        return "too many MA lines, expecting END";
      }
      skipblanks(cursor);
      const uint64_t rowline = cursor->line;
      Score rowminimum, rowmaximum;
      Score *row = matrix_scores<Score>(matrix) + matrix->rowoffsets[rows];
      const char *reason = readmatrixrow(cursor, layout, columns, row, &rowminimum, &rowmaximum);
      if (reason != nullptr) return reason;
      if (sumsoverflow(&magnitude, rowminimum, rowmaximum)) {
        cursor->pos = linestart;
        cursor->line = rowline;
        return "matrix values too large, the sum of a window's scores would overflow";
      }
      minscore = addbounded(minscore, rowminimum);
      maxscore = addbounded(maxscore, rowmaximum);
      smallest = std::min(smallest, rowminimum);
      rows++;
    } else if (lookingat(cursor, "END")) {
      cursor->pos += 3;
      skipblanks(cursor);
      if (!atendofline(cursor)) return "extra characters after `END'";
      if (rows < announced) {
        cursor->pos = linestart;
        return "too few MA lines, LE header announced more lines than available";
      }
      skipline(cursor);
      scoreof<Score>(matrix->minscore) = minscore;
      scoreof<Score>(matrix->maxscore) = maxscore;
      scoreof<Score>(*ret_smallest) = smallest;
      return nullptr;
    } else {
      return "expecting `MA' tag or `END'";
    }
  }
}
