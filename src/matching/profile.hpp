// Scoring-matrix operations: initialisation, intermediate thresholds, row bounds, reversed and
// column-swapped copies, float views and checks. Every operation exists for integer and float
// scores (profile.templ.hpp) and dispatches here on the score type. The record itself is in
// model/scoringmatrix.hpp.
#pragma once

#include <cstdint>

#include "model/scoringmatrix.hpp"

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
// matrix holding float copies of the scores (answer true; free it with matrix_free, model/scoringmatrix.hpp).
bool matrix_float_copy(const ScoringMatrix *source, ScoringMatrix *scratch,
                       const ScoringMatrix **ret_result);
// Checks bounds and intermediate thresholds against a recomputation from scratch: 0 or -1.
int matrix_check(const ScoringMatrix *matrix);
