// The simple search, dispatched on the score type.
#include "matching/match_simplesearch.hpp"

#include "base/error.hpp"
#include "matching/match_simplesearch.templ.hpp"

namespace {

using SimpleSearch = int (*)(const Multiseq *, const ScoringMatrix *, const SequenceRange *,
                             ReportFunction, SearchJob *);
template <typename Score>
constexpr SimpleSearch simplesearchfor = simplesearch_templ<Score>;

SimpleSearch searchfor(ScoreType type) {
  switch (type) {
    case SCORE_INTEGER:
      return simplesearchfor<int64_t>;
    case SCORE_FLOAT:
      return simplesearchfor<float>;
  }
  return nullptr;
}

}  // namespace

int simplesearch(const Multiseq *multiseq, const ScoringMatrix *matrix,
                 const SequenceRange *range, ReportFunction report, SearchJob *userdata) {
  const SimpleSearch search = searchfor(matrix->scoretype);
  if (search == nullptr) return reporterror("Invalid profile type.");
  return search(multiseq, matrix, range, report, userdata);
}
