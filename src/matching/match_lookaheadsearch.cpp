// The lookahead search and its k-best form, dispatched on the score type.
#include "matching/match_lookaheadsearch.hpp"

#include "base/error.hpp"
#include "matching/match_lookaheadsearch.templ.hpp"

namespace {

struct LookaheadOps {
  int (*search)(const Multiseq *, const ScoringMatrix *, const SequenceRange *, ReportFunction,
                SearchJob *);
  int (*kbest)(const Multiseq *, ScoringMatrix *, const SequenceRange *, uint64_t,
               ReportFunction, SearchJob *);
};
template <typename Score>
constexpr LookaheadOps lookaheadops = {lookaheadsearch_templ<Score>,
                                       lookaheadsearch_kbest_templ<Score>};

const LookaheadOps *opsfor(ScoreType type) {
  switch (type) {
    case SCORE_INTEGER:
      return &lookaheadops<int64_t>;
    case SCORE_FLOAT:
      return &lookaheadops<float>;
  }
  return nullptr;
}

}  // namespace

int lookaheadsearch(const Multiseq *multiseq, const ScoringMatrix *matrix,
                    const SequenceRange *range, ReportFunction report, SearchJob *userdata) {
  const LookaheadOps *ops = opsfor(matrix->scoretype);
  if (ops == nullptr) return reporterror("Invalid profile type.");
  return ops->search(multiseq, matrix, range, report, userdata);
}

int lookaheadsearch_kbest(const Multiseq *multiseq, ScoringMatrix *matrix,
                          const SequenceRange *range, uint64_t k, ReportFunction report,
                          SearchJob *userdata) {
  const LookaheadOps *ops = opsfor(matrix->scoretype);
  if (ops == nullptr) return reporterror("Invalid profile type.");
  return ops->kbest(multiseq, matrix, range, k, report, userdata);
}
