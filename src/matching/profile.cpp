// Scoring-matrix operations that dispatch on the score type: one table of function pointers
// per score type, built from the templates of profile.templ.hpp.
#include "matching/profile.hpp"

#include "base/error.hpp"
#include "matching/profile.templ.hpp"

namespace {

// Allocates the scores and intermediate thresholds of an initialised matrix. Kept in this
// unit so that an allocation failure names `profile`.
template <typename Score>
void matrix_allocate_templ(ScoringMatrix *matrix) {
  matrix->scores = allocorexit<Score>(nullptr, matrix->m * matrix_columns(matrix));
  matrix->intermediate = allocorexit<Score>(nullptr, matrix->m);
}

struct MatrixOps {
  void (*allocate)(ScoringMatrix *);
  void (*setintermediate)(ScoringMatrix *);
  void (*rowbounds)(ScoringMatrix *);
  void (*reverse)(ScoringMatrix *, bool);
  void (*reversedcopy)(const ScoringMatrix *, ScoringMatrix *, bool);
  void (*swapcolumns)(ScoringMatrix *, const unsigned char *);
  void (*swappedcopy)(const ScoringMatrix *, ScoringMatrix *, const unsigned char *);
  void (*floatscores)(const ScoringMatrix *, ScoringMatrix *);
  int (*check)(const ScoringMatrix *);
};

template <typename Score>
constexpr MatrixOps matrixops = {
    matrix_allocate_templ<Score>,          matrix_set_intermediate_thresholds_templ<Score>,
    matrix_compute_row_bounds_templ<Score>, matrix_reverse_templ<Score>,
    matrix_reversed_copy_templ<Score>,     matrix_swap_columns_templ<Score>,
    matrix_swapped_copy_templ<Score>,      matrix_float_scores_templ<Score>,
    matrix_check_templ<Score>,
};

const MatrixOps *opsfor(ScoreType type) {
  switch (type) {
    case SCORE_INTEGER:
      return &matrixops<int64_t>;
    case SCORE_FLOAT:
      return &matrixops<float>;
  }
  return nullptr;
}

int invalidtype() { return reporterror("Invalid profile type."); }

}  // namespace

int matrix_init(ScoringMatrix *matrix, ScoreType type, const Alphabet *alpha, uint64_t m) {
  matrix->scoretype = type;
  matrix->m = m;
  matrix->alphabet = alpha;
  matrix->rowoffsets = nullptr;
  matrix->intermediate = nullptr;
  matrix->scores = nullptr;
  matrix->rowbounds = nullptr;
  matrix->rowmaxima = nullptr;
  const MatrixOps *ops = opsfor(type);
  if (ops == nullptr) return invalidtype();
  ops->allocate(matrix);
  matrix->rowoffsets = allocorexit<uint64_t>(nullptr, m);
  const uint64_t columns = matrix_columns(matrix);
  for (uint64_t i = 0; i < m; i++) matrix->rowoffsets[i] = i * columns;
  return 0;
}

int matrix_init_threshold(ScoringMatrix *matrix, ScoreType type, const Alphabet *alpha,
                          uint64_t m, ScoreValue threshold) {
  if (matrix_init(matrix, type, alpha, m) != 0) return -1;
  matrix->threshold = threshold;
  return 0;
}

int matrix_set_intermediate_thresholds(ScoringMatrix *matrix) {
  const MatrixOps *ops = opsfor(matrix->scoretype);
  if (ops == nullptr) return invalidtype();
  ops->setintermediate(matrix);
  return 0;
}

int matrix_compute_row_bounds(ScoringMatrix *matrix) {
  const MatrixOps *ops = opsfor(matrix->scoretype);
  if (ops == nullptr) return invalidtype();
  ops->rowbounds(matrix);
  return 0;
}

void matrix_free_row_bounds(ScoringMatrix *matrix) {
  freeandnull(matrix->rowbounds);
  matrix->rowmaxima = nullptr;
}

int matrix_reverse(ScoringMatrix *matrix, bool recompute) {
  const MatrixOps *ops = opsfor(matrix->scoretype);
  if (ops == nullptr) return invalidtype();
  ops->reverse(matrix, recompute);
  return 0;
}

int matrix_reversed_copy(const ScoringMatrix *source, ScoringMatrix *destination,
                         bool recompute) {
  const MatrixOps *ops = opsfor(source->scoretype);
  if (ops == nullptr) return invalidtype();
  if (matrix_init(destination, source->scoretype, source->alphabet, source->m) != 0) return -1;
  ops->reversedcopy(source, destination, recompute);
  return 0;
}

int matrix_swap_columns(ScoringMatrix *matrix, const unsigned char *swapmap) {
  const MatrixOps *ops = opsfor(matrix->scoretype);
  if (ops == nullptr) return invalidtype();
  ops->swapcolumns(matrix, swapmap);
  return 0;
}

int matrix_swapped_copy(const ScoringMatrix *source, ScoringMatrix *destination,
                        const unsigned char *swapmap) {
  const MatrixOps *ops = opsfor(source->scoretype);
  if (ops == nullptr) return invalidtype();
  if (matrix_init(destination, source->scoretype, source->alphabet, source->m) != 0) return -1;
  ops->swappedcopy(source, destination, swapmap);
  return 0;
}

bool matrix_float_copy(const ScoringMatrix *source, ScoringMatrix *scratch,
                       const ScoringMatrix **ret_result) {
  *ret_result = source;
  if (source->scoretype == SCORE_FLOAT) return false;
  const MatrixOps *ops = opsfor(source->scoretype);
  if (ops == nullptr) {
    invalidtype();
    return false;
  }
  matrix_init(scratch, SCORE_FLOAT, source->alphabet, source->m);
  ops->floatscores(source, scratch);
  *ret_result = scratch;
  return true;
}

int matrix_check(const ScoringMatrix *matrix) {
  const MatrixOps *ops = opsfor(matrix->scoretype);
  if (ops == nullptr) return invalidtype();
  return ops->check(matrix);
}
