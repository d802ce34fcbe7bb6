// Release of a scoring matrix. Freeing does not depend on the score width, so it needs none of
// the per-type operations of matching/.
#include "model/scoringmatrix.hpp"

#include "base/error.hpp"

void matrix_free(ScoringMatrix *matrix) {
  // Even a matrix of an invalid type loses all of its blocks; the failure is still reported.
  if (matrix->scoretype != SCORE_INTEGER && matrix->scoretype != SCORE_FLOAT) {
    reporterror("Invalid profile type.");
  }
  freeandnull(matrix->scores);
  freeandnull(matrix->intermediate);
  freeandnull(matrix->rowbounds);
  matrix->rowmaxima = nullptr;
  freeandnull(matrix->rowoffsets);
}
