// The enhanced suffix array search and its k-best form, dispatched on the score type.
#include "matching/match_arraysearch.hpp"

#include "base/error.hpp"
#include "matching/match_arraysearch.templ.hpp"

namespace {

struct ArrayOps {
  int (*search)(const Virtualtree *, const ScoringMatrix *, ReportFunction, SearchJob *);
  int (*kbest)(const Virtualtree *, ScoringMatrix *, uint64_t, ReportFunction, SearchJob *);
};
template <typename Score>
constexpr ArrayOps arrayops = {arraysearch_templ<Score>, arraysearch_kbest_templ<Score>};

const ArrayOps *opsfor(ScoreType type) {
  switch (type) {
    case SCORE_INTEGER:
      return &arrayops<int64_t>;
    case SCORE_FLOAT:
      return &arrayops<float>;
  }
  return nullptr;
}

}  // namespace

int arraysearch(const Virtualtree *virtualtree, const ScoringMatrix *matrix,
                ReportFunction report, SearchJob *userdata) {
  const ArrayOps *ops = opsfor(matrix->scoretype);
  if (ops == nullptr) return reporterror("Invalid profile type.");
  return ops->search(virtualtree, matrix, report, userdata);
}

int arraysearch_kbest(const Virtualtree *virtualtree, ScoringMatrix *matrix, uint64_t k,
                      ReportFunction report, SearchJob *userdata) {
  const ArrayOps *ops = opsfor(matrix->scoretype);
  if (ops == nullptr) return reporterror("Invalid profile type.");
  return ops->kbest(virtualtree, matrix, k, report, userdata);
}
