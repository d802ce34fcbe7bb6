// The reduced-alphabet search: the plain view of the database, the reduced collection, the
// checks in front of the reports, and the k-best search, dispatched on the score type.
#include "matching/reducedalphabet.hpp"

#include "base/error.hpp"
#include "matching/profile.hpp"
#include "matching/reducedalphabet.templ.hpp"
#include "model/match.hpp"
#include "model/profile.hpp"
#include "sequences/characterclasses.hpp"

namespace {

// Strand bits 2 (reverse) and 8 (reverse complementary) read the window backwards.
constexpr unsigned char STRAND_REVERSE_BITS = 2 | 8;

struct ReducedOps {
  void (*cells)(const ScoringMatrix *, const ClassTable *, ScoringMatrix *);
  bool (*confirm)(const ScoringMatrix *, const unsigned char *, uint64_t, bool, ScoreValue *);
  int (*kbest)(const Multiseq *, ScoringMatrix *, const ScoringMatrix *, const SequenceRange *,
               uint64_t, ReportFunction, SearchJob *);
};

// A window's protein score, kept only when it reaches the protein matrix's threshold.
template <typename Score>
bool confirm_templ(const ScoringMatrix *protein, const unsigned char *plain,
                   uint64_t endposition, bool reversed, ScoreValue *ret_score) {
  Score score;
  if (!proteinscore_templ<Score>(protein, plain, endposition, reversed, &score)) return false;
  if (!reachesthreshold<Score>(protein, score)) return false;
  scoreof<Score>(*ret_score) = score;
  return true;
}

template <typename Score>
constexpr ReducedOps reducedops = {reducedcells_templ<Score>, confirm_templ<Score>,
                                   reducedsearch_kbest_templ<Score>};

const ReducedOps *opsfor(ScoreType type) {
  switch (type) {
    case SCORE_INTEGER:
      return &reducedops<int64_t>;
    case SCORE_FLOAT:
      return &reducedops<float>;
  }
  return nullptr;
}

// The plain characters of the Match's source, or null for a source kind no engine produces.
const unsigned char *plaincharacters(const Match *match) {
  switch (match->sourcekind) {
    case SOURCE_MULTISEQ:
      return static_cast<const Multiseq *>(match->source)->plainsequence;
    case SOURCE_VIRTUALTREE:
      return static_cast<const Virtualtree *>(match->source)->multiseq.plainsequence;
  }
  return nullptr;
}

// Points a copy of an engine's Match at the protein matrix and the plain view.
void toplainview(Match *match, const ReducedAlphabetData *data, const ScoringMatrix *protein) {
  match->characters = data->characters;
  match->source = match->sourcekind == SOURCE_MULTISEQ
                      ? static_cast<const void *>(&data->plainview.multiseq)
                      : static_cast<const void *>(&data->plainview);
  match->matrix = protein;
}

}  // namespace

int reducedalphabet_prepare(ReducedAlphabetData *data, const Virtualtree *database) {
  if (database->multiseq.plainsequence == nullptr && database->multiseq.totallength > 0) {
    return internalerror();
  }
  data->plainview = *database;
  data->plainview.multiseq.sequence = database->multiseq.plainsequence;
  Alphabet *identity = &data->plainview.alpha;
  for (int c = 0; c < 256; c++) {
    identity->characters[c] = static_cast<unsigned char>(c);
    identity->mapdomain[c] = static_cast<unsigned char>(c);
    identity->symbolmap[c] = static_cast<uint64_t>(c);
    data->characters[c] = static_cast<unsigned char>(c);
  }
  identity->domainsize = 256;
  identity->mapsize = 256;
  identity->mappedwildcards = 0;
  return 0;
}

int reduce_collection(ProfileCollection *reduced, const ProfileCollection *protein,
                      const Alphabet *databasealpha) {
  if (protein->numofprofiles == 0) return reporterror("No PSSMs defined.");
  if (collection_init(reduced, databasealpha) != 0) return -1;
  for (uint64_t g = 0; g < protein->numofgroups; g++) {
    ProfileGroup *group = collection_append_group(reduced);
    group->firstprofile = protein->groups[g].firstprofile;
    group->numofprofiles = protein->groups[g].numofprofiles;
    group->extra = nullptr;
  }
  ClassTable *classes = new ClassTable;
  buildcharacterclasses(classes, databasealpha);
  int result = 0;
  for (uint64_t i = 0; i < protein->numofprofiles && result == 0; i++) {
    const Profile *source = &protein->profiles[i];
    Profile *profile = collection_append_profile(reduced);
    *profile = *source;  // texts shared, owned by the reduced collection from now on
    profile->distribution = ScoreDistribution{};
    profile->matrix = ScoringMatrix{};
    copyalphabet(&profile->alphabet, databasealpha);
    const ReducedOps *ops = opsfor(source->matrix.scoretype);
    if (ops == nullptr) {
      result = reporterror("Invalid profile type.");
      break;
    }
    result = matrix_init(&profile->matrix, source->matrix.scoretype, &profile->alphabet,
                         source->matrix.m);
    if (result != 0) break;
    ops->cells(&source->matrix, classes, &profile->matrix);
    profile->matrix.threshold = source->matrix.threshold;
    profile->matrix.minscore = source->matrix.minscore;
    profile->matrix.maxscore = source->matrix.maxscore;
  }
  delete classes;
  return result;
}

int reducedalphabet_check(Match *match) {
  SearchJob *job = match->job;
  const ReducedAlphabetData *data = static_cast<const ReducedAlphabetData *>(job->reduceddata);
  const unsigned char *plain = plaincharacters(match);
  if (plain == nullptr) return internalerror();
  const ScoringMatrix *protein = &job->profile->matrix;
  const ReducedOps *ops = opsfor(protein->scoretype);
  if (ops == nullptr) return reporterror("Invalid profile type.");
  Match confirmed = *match;
  if (!ops->confirm(protein, plain, match->endposition, (job->strand & (STRAND_REVERSE_BITS)) != 0,
                    &confirmed.score)) {
    return 0;
  }
  toplainview(&confirmed, data, protein);
  return job->nextreport(&confirmed);
}

int reducedalphabet_check_kbest(Match *match) {
  SearchJob *job = match->job;
  const ReducedAlphabetData *data = static_cast<const ReducedAlphabetData *>(job->reduceddata);
  if (match->sourcekind != SOURCE_MULTISEQ && match->sourcekind != SOURCE_VIRTUALTREE) {
    return internalerror();
  }
  Match confirmed = *match;
  toplainview(&confirmed, data, &job->profile->matrix);
  return job->nextreport(&confirmed);
}

int reducedsearch_kbest(const Multiseq *multiseq, ScoringMatrix *reducedmatrix,
                        const ScoringMatrix *proteinmatrix, const SequenceRange *range,
                        uint64_t k, ReportFunction report, SearchJob *userdata) {
  const ReducedOps *ops = opsfor(reducedmatrix->scoretype);
  if (ops == nullptr || proteinmatrix->scoretype != reducedmatrix->scoretype) {
    return reporterror("Invalid profile type.");
  }
  return ops->kbest(multiseq, reducedmatrix, proteinmatrix, range, k, report, userdata);
}
