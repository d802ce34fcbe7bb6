// Threshold derivation for every Profile of a collection, and the reader of the distribution
// file.
//
// Contents: thresholds by score type; distribution file records; the per-Profile step; the
// three preparation walks.
#include "statistics/setthresholds.hpp"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/error.hpp"
#include "base/mapfile.hpp"
#include "base/output.hpp"
#include "base/threads.hpp"
#include "matching/profile.hpp"
#include "statistics/distindex.hpp"
#include "statistics/distribution.hpp"

namespace {

// ---------------------------------------------------------------------------------------
// Thresholds by score type

// A double as an integer threshold, truncated toward zero. Values beyond the unreachable
// threshold saturate there (a plain conversion would be undefined and could wrap to a threshold
// every window passes); NaN, which no score reaches, becomes the unreachable threshold.
int64_t truncatedscore(double value) {
  constexpr double limit = static_cast<double>(unreachablethreshold);
  if (std::isnan(value) || value >= limit) return unreachablethreshold;
  if (value <= -limit) return -unreachablethreshold;
  return static_cast<int64_t>(value);
}

template <typename Score>
Score fromintegerscore(int64_t value) {
  return static_cast<Score>(value);
}

template <typename Score>
void setthreshold(ScoringMatrix *matrix, Score threshold) {
  scoreof<Score>(matrix->threshold) = threshold;
}

template <typename Score>
void warnrawtoohigh(Score threshold, uint64_t line, Score limit, bool adjusted) {
  if constexpr (ScoreTraits<Score>::type == SCORE_INTEGER) {
    if (adjusted) {
      printwarning("Threshold %ld too high for PSSM declared on line %lu (adjusted to %ld).\n",
                   static_cast<long>(threshold), static_cast<unsigned long>(line),
                   static_cast<long>(limit));
    } else {
      printwarning(
          "Threshold %ld too high for PSSM declared on line %lu (maximum is %ld, no matches "
          "possible).\n",
          static_cast<long>(threshold), static_cast<unsigned long>(line),
          static_cast<long>(limit));
    }
  } else {
    if (adjusted) {
      printwarning("Threshold %e too high for PSSM declared on line %lu (adjusted to %e).\n",
                   static_cast<double>(threshold), static_cast<unsigned long>(line),
                   static_cast<double>(limit));
    } else {
      printwarning(
          "Threshold %e too high for PSSM declared on line %lu (maximum is %e, no matches "
          "possible).\n",
          static_cast<double>(threshold), static_cast<unsigned long>(line),
          static_cast<double>(limit));
    }
  }
}

template <typename Score>
void rawthreshold_templ(Profile *profile, double cutoff, bool all) {
  ScoringMatrix *matrix = &profile->matrix;
  Score threshold;
  if constexpr (ScoreTraits<Score>::type == SCORE_INTEGER) {
    threshold = truncatedscore(cutoff);
  } else {
    threshold = static_cast<float>(cutoff);
  }
  const Score maximum = scoreof<Score>(matrix->maxscore);
  if (threshold > maximum) {
    warnrawtoohigh<Score>(threshold, profile->beginline, maximum, all);
    if (all) threshold = maximum;
  }
  setthreshold<Score>(matrix, threshold);
}

template <typename Score>
void mssthreshold_templ(Profile *profile, double mss) {
  ScoringMatrix *matrix = &profile->matrix;
  const Score minimum = scoreof<Score>(matrix->minscore);
  const Score maximum = scoreof<Score>(matrix->maxscore);
  Score threshold;
  if constexpr (ScoreTraits<Score>::type == SCORE_INTEGER) {
    const int64_t difference = maximum - minimum;
    threshold = truncatedscore(
        std::ceil(static_cast<double>(difference) * mss + static_cast<double>(minimum)));
  } else {
    const float difference = maximum - minimum;
    const float sum =
        static_cast<float>(static_cast<double>(difference) * mss + static_cast<double>(minimum));
    threshold = std::ceil(sum);
  }
  if (threshold < minimum) threshold = minimum;
  if (threshold > maximum) threshold = maximum;
  setthreshold<Score>(matrix, threshold);
}

template <typename Score>
void kbestthreshold_templ(Profile *profile) {
  setthreshold<Score>(&profile->matrix, scoreof<Score>(profile->matrix.minscore));
}

template <typename Score>
void integerthreshold_templ(Profile *profile, int64_t threshold) {
  setthreshold<Score>(&profile->matrix, fromintegerscore<Score>(threshold));
}

template <typename Score>
void maximumthreshold_templ(Profile *profile) {
  setthreshold<Score>(&profile->matrix, scoreof<Score>(profile->matrix.maxscore));
}

// The threshold of a matrix as the score type of another one.
template <typename Score>
ScoreValue convertthreshold_templ(const ScoringMatrix *source, ScoreType destinationtype) {
  ScoreValue value;
  const Score threshold = scoreof<Score>(source->threshold);
  if (destinationtype == SCORE_INTEGER) {
    value.i = ScoreTraits<Score>::type == SCORE_INTEGER ? static_cast<int64_t>(threshold)
                                                        : truncatedscore(threshold);
  } else {
    value.f = static_cast<float>(threshold);
  }
  return value;
}

struct ThresholdOps {
  void (*raw)(Profile *, double, bool);
  void (*mss)(Profile *, double);
  void (*kbest)(Profile *);
  void (*integer)(Profile *, int64_t);
  void (*maximum)(Profile *);
  ScoreValue (*convert)(const ScoringMatrix *, ScoreType);
};

template <typename Score>
constexpr ThresholdOps thresholdops = {
    rawthreshold_templ<Score>,     mssthreshold_templ<Score>,     kbestthreshold_templ<Score>,
    integerthreshold_templ<Score>, maximumthreshold_templ<Score>, convertthreshold_templ<Score>,
};

const ThresholdOps *thresholdopsfor(ScoreType type) {
  switch (type) {
    case SCORE_INTEGER:
      return &thresholdops<int64_t>;
    case SCORE_FLOAT:
      return &thresholdops<float>;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------
// Distribution file records

// Tables are read in pieces, so that a damaged size field ends in the end-of-file message
// rather than in one huge allocation, and no single read exceeds what gzread can take.
constexpr uint64_t tablepiece = UINT64_C(1) << 20;

// Reads exactly length bytes: 0, or -1 with the message set.
int readexactly(gzFile file, const char *filename, void *buffer, unsigned length) {
  const int got = gzread(file, buffer, length);
  if (got < 0) return reporterror("Error reading distribution file `%s'.", filename);
  if (static_cast<unsigned>(got) < length) {
    return reporterror("Unexpected end of file while reading distribution file `%s'.", filename);
  }
  return 0;
}

int invalidrecord(const char *filename) {
  return reporterror("Invalid data in distribution file `%s' (wrong architecture?).", filename);
}

// Reads the next record into the Profile: its distribution and its multiplier.
int readrecord(gzFile file, const char *filename, Profile *profile) {
  int64_t header[3];
  if (readexactly(file, filename, header, sizeof header) != 0) return -1;
  if (readexactly(file, filename, &profile->multiplier, sizeof profile->multiplier) != 0) {
    return -1;
  }
  const int64_t minimum = header[0], maximum = header[1], offset = header[2];
  const double multiplier = profile->multiplier;
  // The size in unsigned arithmetic: the difference of any two 64-bit values fits, and only
  // the whole range wraps the size to 0.
  const uint64_t size = static_cast<uint64_t>(maximum) - static_cast<uint64_t>(minimum) + 1;
  if (!distrecord_plausible(minimum, maximum, offset, multiplier) || size == 0) {
    return invalidrecord(filename);
  }
  freedistribution(&profile->distribution);
  double *tail = nullptr;
  for (uint64_t done = 0; done < size;) {
    const uint64_t piece = std::min(size - done, tablepiece);
    tail = allocorexit<double>(tail, done + piece);
    prefaultwritable(tail + done, piece * sizeof(double));
    if (readexactly(file, filename, tail + done, static_cast<unsigned>(piece * sizeof(double))) !=
        0) {
      std::free(tail);
      return -1;
    }
    done += piece;
  }
  if (!disttail_plausible(tail, size)) {
    std::free(tail);
    return invalidrecord(filename);
  }
  profile->distribution = {minimum, maximum, offset, tail, size};
  return 0;
}

// ---------------------------------------------------------------------------------------
// The per-Profile step

enum PreparationStep { STEP_FREQUENCIES, STEP_FILE, STEP_PLAIN };

// A threshold computed ahead of the walk over the Profiles, its table held by the Profile.
struct AheadThreshold {
  int64_t threshold;
  bool done;
};

struct Preparation {
  const SearchSettings *settings;
  ProfileCollection *mirror;
  PreparationStep step;
  double target;  // the p-value of an E-value or p-value cutoff
  gzFile file;
  bool tablesread;  // the Profiles hold their tables already (through the file's index)
  const AheadThreshold *ahead = nullptr;  // STEP_FREQUENCIES: one per Profile, or null
};

// The smallest p-value the Profile's distribution can give must not exceed the target;
// otherwise the threshold becomes unreachable or, with -all, the matrix maximum.
void reachcheck(const Preparation *preparation, const ThresholdOps *ops, Profile *profile) {
  const SearchSettings *settings = preparation->settings;
  const double top = profile->distribution.tail[profile->distribution.size - 1];
  if (!(top > preparation->target)) return;
  const bool evalue = settings->thresholdkind == THRESHOLD_EVALUE;
  const char *kind = evalue ? "an E-Value" : "a p-value";
  const double smallest = evalue ? top * static_cast<double>(settings->dbsize) : top;
  const unsigned long line = static_cast<unsigned long>(profile->beginline);
  if (settings->allmatrices) {
    ops->maximum(profile);
    printwarning(
        "%s of %e is too low for the PSSM declared on line %lu, which can only code down to a "
        "minimum of %e (adjusted threshold to maximum score).\n",
        kind, settings->thresholdvalue, line, smallest);
  } else {
    ops->integer(profile, unreachablethreshold);
    printwarning(
        "%s of %e is too low for the PSSM declared on line %lu, which can only code down to a "
        "minimum of %e (no matches possible).\n",
        kind, settings->thresholdvalue, line, smallest);
  }
}

// The lazily computed threshold of the Profile and its table: 0, or -1 with the message set.
int lazyprofilethreshold(const Preparation *preparation, Profile *profile,
                         int64_t *ret_threshold) {
  const SearchSettings *settings = preparation->settings;
  ScoringMatrix scratch;
  const ScoringMatrix *floatmatrix;
  const bool copied = matrix_float_copy(&profile->matrix, &scratch, &floatmatrix);
  freedistribution(&profile->distribution);
  int status = check_distribution_size(profile, floatmatrix, settings->multiplier,
                                       preparation->target > 1.0);
  if (status == 0) {
    status = lazy_threshold(floatmatrix, settings->frequencies, settings->multiplier,
                            preparation->target, ret_threshold, &profile->distribution);
  }
  if (copied) matrix_free(&scratch);
  return status != 0 ? -1 : 0;
}

int probabilitythreshold(const Preparation *preparation, const ThresholdOps *ops,
                         uint64_t index, Profile *profile) {
  const SearchSettings *settings = preparation->settings;
  int64_t threshold;
  if (preparation->step == STEP_FREQUENCIES) {
    if (preparation->ahead != nullptr && preparation->ahead[index].done) {
      threshold = preparation->ahead[index].threshold;
    } else if (lazyprofilethreshold(preparation, profile, &threshold) != 0) {
      return -1;
    }
    profile->multiplier = settings->multiplier;
  } else if (preparation->step == STEP_FILE) {
    if (!preparation->tablesread &&
        readrecord(preparation->file, settings->distributionname, profile) != 0) {
      return -1;
    }
    const ScoreDistribution *distribution = &profile->distribution;
    threshold = tail_threshold(distribution->tail, distribution->size, distribution->minimum,
                               distribution->offset, profile->multiplier, preparation->target);
  } else {
    return internalerror();
  }
  // When not even the lowest entry exceeds the target, every window qualifies. The threshold
  // is then the matrix's minimum score: one derived from the scaled table could round above
  // the lowest windows, and would differ between a stored and a lazily computed table.
  if (profile->distribution.tail[0] > preparation->target) {
    ops->integer(profile, threshold);
  } else {
    ops->kbest(profile);
  }
  reachcheck(preparation, ops, profile);
  return 0;
}

int directthreshold(const Preparation *preparation, const ThresholdOps *ops, Profile *profile) {
  const SearchSettings *settings = preparation->settings;
  if (preparation->step == STEP_FREQUENCIES) return internalerror();
  switch (settings->thresholdkind) {
    case THRESHOLD_RAW:
      ops->raw(profile, settings->thresholdvalue, settings->allmatrices);
      break;
    case THRESHOLD_MSS:
      ops->mss(profile, settings->thresholdvalue);
      break;
    case THRESHOLD_KBEST:
      ops->kbest(profile);
      break;
    default:
      return internalerror();
  }
  profile->multiplier = settings->multiplier;
  if (preparation->step == STEP_FILE) {
    return readrecord(preparation->file, settings->distributionname, profile);
  }
  return 0;
}

int prepareprofile(const Preparation *preparation, uint64_t index, Profile *profile) {
  const ThresholdOps *ops = thresholdopsfor(profile->matrix.scoretype);
  if (ops == nullptr) return internalerror();
  int status;
  switch (preparation->settings->thresholdkind) {
    case THRESHOLD_EVALUE:
    case THRESHOLD_PVALUE:
      if (preparation->step == STEP_PLAIN) return internalerror();
      status = probabilitythreshold(preparation, ops, index, profile);
      break;
    default:
      status = directthreshold(preparation, ops, profile);
      break;
  }
  if (status != 0) return -1;
  if (matrix_set_intermediate_thresholds(&profile->matrix) != 0) return -1;

  ProfileCollection *mirror = preparation->mirror;
  if (mirror != nullptr && index < mirror->numofprofiles) {
    ScoringMatrix *twin = &mirror->profiles[index].matrix;
    twin->threshold = ops->convert(&profile->matrix, twin->scoretype);
    if (matrix_set_intermediate_thresholds(twin) != 0) return -1;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------
// The three preparation walks

const char *plural(uint64_t count) { return count == 1 ? "" : "s"; }

// The p-value an E-value or p-value cutoff stands for.
double targetpvalue(const SearchSettings *settings) {
  return settings->thresholdkind == THRESHOLD_EVALUE
             ? settings->thresholdvalue / static_cast<double>(settings->dbsize)
             : settings->thresholdvalue;
}

// Computes the lazy thresholds of the Profiles ahead in jobs threads (the calling one among
// them), each taking the next Profile not yet taken. A Profile whose computation would warn or
// fails is left to the walk, which computes it again in its turn, so that the messages come as
// from a walk alone: warnings in the order of the Profiles, then the first failure.
struct AheadWork {
  const Preparation *preparation;
  ProfileCollection *collection;
  AheadThreshold *ahead;
  std::atomic<uint64_t> next;
};

// Whether scaling the Profile's matrix warns of a background frequency above 1: such a
// Profile is left to the walk too, which prints the warning in its turn.
bool frequencywarning(const Preparation *preparation, const Profile *profile) {
  const double *frequencies = preparation->settings->frequencies;
  const uint64_t columns = matrix_columns(&profile->matrix);
  for (uint64_t j = 0; j + 1 < columns; j++)
    if (frequencies[j] > 1.0) return true;
  return false;
}

void *aheadbody(void *argument) {
  AheadWork *work = *static_cast<AheadWork **>(argument);
  for (;;) {
    const uint64_t i = work->next.fetch_add(1, std::memory_order_relaxed);
    if (i >= work->collection->numofprofiles) break;
    AheadThreshold *ahead = &work->ahead[i];
    if (frequencywarning(work->preparation, &work->collection->profiles[i])) continue;
    ahead->done = lazyprofilethreshold(work->preparation, &work->collection->profiles[i],
                                       &ahead->threshold) == 0;
  }
  return nullptr;
}

std::vector<AheadThreshold> computeahead(const Preparation *preparation,
                                         ProfileCollection *collection, uint64_t jobs) {
  std::vector<AheadThreshold> ahead(collection->numofprofiles, AheadThreshold{0, false});
  AheadWork work{preparation, collection, ahead.data(), {0}};
  std::vector<AheadWork *> shares(std::min<uint64_t>(jobs, collection->numofprofiles), &work);
  runeach(shares.data(), shares.size(), aheadbody);
  // The failures are met again by the walk, with their messages.
  if (std::any_of(ahead.begin(), ahead.end(), [](const AheadThreshold &a) { return !a.done; })) {
    clearerrorcode();
    errormessagespace()[0] = '\0';
  }
  return ahead;
}

int walkprofiles(ProfileCollection *collection, Preparation *preparation) {
  preparation->target = targetpvalue(preparation->settings);
  // Only tables cut at the threshold are computed ahead: complete ones may be large, and
  // several of them at once might not fit where one does.
  std::vector<AheadThreshold> ahead;
  const uint64_t jobs = preparation->settings->jobs;
  if (preparation->step == STEP_FREQUENCIES && jobs > 1 && collection->numofprofiles > 1 &&
      preparation->target <= 1.0) {
    ahead = computeahead(preparation, collection, jobs);
    preparation->ahead = ahead.data();
  }
  for (uint64_t i = 0; i < collection->numofprofiles; i++) {
    if (prepareprofile(preparation, i, &collection->profiles[i]) != 0) return -1;
  }
  return 0;
}

void preparingstatus(const ProfileCollection *collection, const char *suffix) {
  printstatus("Preparing %lu profile%s in %lu group%s%s.\n",
              static_cast<unsigned long>(collection->numofprofiles),
              plural(collection->numofprofiles),
              static_cast<unsigned long>(collection->numofgroups),
              plural(collection->numofgroups), suffix);
}

}  // namespace

int prepare_with_frequencies(ProfileCollection *collection, const SearchSettings *settings,
                             ProfileCollection *mirror) {
  preparingstatus(collection, "");
  Preparation preparation = {settings, mirror, STEP_FREQUENCIES, 0.0, nullptr, false};
  return walkprofiles(collection, &preparation);
}

int prepare_from_file(ProfileCollection *collection, const SearchSettings *settings,
                      ProfileCollection *mirror) {
  preparingstatus(collection, " from precalculated distribution");
  const char *filename = settings->distributionname;
  // A p-value or E-value threshold, and the p-values of the matches that reach it, need only
  // the tops of the tables: with the file's index, only those are inflated. Files without
  // one, and any doubt about it, take the full read below, which also names what is wrong.
  const bool probability = settings->thresholdkind == THRESHOLD_EVALUE ||
                           settings->thresholdkind == THRESHOLD_PVALUE;
  if (probability && distindex_read_tops(filename, collection, targetpvalue(settings))) {
    Preparation preparation = {settings, mirror, STEP_FILE, 0.0, nullptr, true};
    return walkprofiles(collection, &preparation);
  }
  errno = 0;
  gzFile file = gzopen(filename, "r");
  if (file == nullptr) {
    if (errno != 0) return reporterror("Couldn't open probability distribution file `%s'.", filename);
    return reporterror("Couldn't open probability distribution file `%s' (out of memory).",
                       filename);
  }
  Preparation preparation = {settings, mirror, STEP_FILE, 0.0, file, false};
  const int status = walkprofiles(collection, &preparation);
  gzclose(file);
  return status;
}

int prepare_plain(ProfileCollection *collection, const SearchSettings *settings,
                  ProfileCollection *mirror) {
  preparingstatus(collection, "");
  Preparation preparation = {settings, mirror, STEP_PLAIN, 0.0, nullptr, false};
  return walkprofiles(collection, &preparation);
}

int prepare_thresholds(ProfileCollection *collection, const SearchSettings *settings,
                       ProfileCollection *mirror) {
  switch (distributionmode(settings)) {
    case DISTRIBUTION_FILE:
      return prepare_from_file(collection, settings, mirror);
    case DISTRIBUTION_LAZY:
      return prepare_with_frequencies(collection, settings, mirror);
    case DISTRIBUTION_NONE:
      break;
  }
  return prepare_plain(collection, settings, mirror);
}
