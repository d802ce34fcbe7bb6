// The ReportFunctions: the human-readable record, the tab-separated line, the null report and
// collect_match for sorted runs, with the location and statistics of a match they share.
//
// Contents: location; statistics; text helpers; records; collect_match.
#include "report/reports.hpp"

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "base/error.hpp"
#include "base/output.hpp"
#include "model/profile.hpp"
#include "report/matchcollection.hpp"
#include "sequences/multiseq.hpp"
#include "sequences/virtualtree.hpp"
#include "statistics/distribution.hpp"

const Multiseq *multiseqofmatch(const Match *match) {
  switch (match->sourcekind) {
    case SOURCE_MULTISEQ:
      return static_cast<const Multiseq *>(match->source);
    case SOURCE_VIRTUALTREE:
      return &static_cast<const Virtualtree *>(match->source)->multiseq;
  }
  return nullptr;
}

namespace {

[[gnu::format(printf, 2, 3)]] void appendformat(std::string &text, const char *format, ...) {
  char small[256];
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  const int needed = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (needed > 0) {
    if (static_cast<size_t>(needed) < sizeof small) {
      text.append(small, static_cast<size_t>(needed));
    } else {
      const size_t old = text.size();
      text.resize(old + static_cast<size_t>(needed) + 1);
      std::vsnprintf(text.data() + old, static_cast<size_t>(needed) + 1, format, again);
      text.resize(old + static_cast<size_t>(needed));
    }
  }
  va_end(again);
}

// One record buffer per thread, reused so that reporting a match does not allocate once the
// buffer has grown to the size of a record.
std::string &recordbuffer() {
  thread_local std::string buffer;
  buffer.clear();
  return buffer;
}

// Everything a record prints besides the Profile's own fields.
struct MatchFacts {
  MatchLocation location;
  MatchStatistics statistics;
};

int matchfacts(Match *match, MatchFacts *facts) {
  if (match_location(match, &facts->location) != 0) return -1;
  return match_statistics(match->job->profile, match->job, match->score, &facts->statistics);
}

// Prints a record; a failed write ends the search as an error of the run.
int writerecord(const std::string &text) {
  if (writeoutput(text.data(), text.size()) == 0) return 0;
  seterrorcode(1);
  return -1;
}

void appendmatchingtext(std::string &text, const Match *match, const MatchLocation *location) {
  appendmatchingsequence(text, location->sequence, location->startposition, match->endposition,
                         matchcharacters(match));
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Location

int match_location(const Match *match, MatchLocation *ret_location) {
  *ret_location = MatchLocation{};
  const Multiseq *multiseq = multiseqofmatch(match);
  if (multiseq == nullptr) return 0;
  const int64_t seqnum = seqnumofposition(multiseq, match->endposition);
  if (seqnum < 0) {
    // The container writes only the text; passing it on makes it an error of the run.
    seterrorcode(1);
    return -1;
  }
  ret_location->seqnum = static_cast<uint64_t>(seqnum);
  if (multiseq->descoffsets != nullptr && multiseq->desctext != nullptr) {
    const uint64_t first = multiseq->descoffsets[seqnum];
    ret_location->description = multiseq->desctext + first;
    ret_location->descriptionlength = multiseq->descoffsets[seqnum + 1] - first;
  }
  ret_location->startposition = match->endposition + 1 - match->length;
  ret_location->seqposition =
      ret_location->startposition - seqstartposition(multiseq, ret_location->seqnum);
  ret_location->sequence = multiseq->sequence;
  return 0;
}

// ---------------------------------------------------------------------------------------
// Statistics

int match_statistics(Profile *profile, const SearchJob *job, ScoreValue score,
                     MatchStatistics *ret_statistics) {
  *ret_statistics = MatchStatistics{};
  const ScoringMatrix *matrix = &profile->matrix;
  double mss;
  int64_t lookupscore;
  switch (matrix->scoretype) {
    case SCORE_INTEGER: {
      const int64_t range = matrix->maxscore.i - matrix->minscore.i;
      // A matrix whose scores cannot vary has a single score, its maximum.
      mss = range == 0 ? 1.0
                       : static_cast<double>(score.i - matrix->minscore.i) /
                             static_cast<double>(range);
      lookupscore = score.i;
      break;
    }
    case SCORE_FLOAT: {
      const float range = matrix->maxscore.f - matrix->minscore.f;
      mss = range == 0.0f ? 1.0
                          : static_cast<double>(score.f - matrix->minscore.f) /
                                static_cast<double>(range);
      // Rounded to the nearest integer, halfway cases to even.
      lookupscore = static_cast<int64_t>(std::llrint(static_cast<double>(score.f)));
      break;
    }
    default:
      return internalerror();
  }
  if (mss > 1.0) mss = 1.0;
  if (mss < 0.0) mss = 0.0;
  ret_statistics->mss = mss;

  const ScoreDistribution *distribution = nullptr;
  if (profile->distribution.size > 0) {
    distribution = &profile->distribution;
  } else if (job->frequencies != nullptr) {
    distribution = ensure_distribution(profile, job->frequencies);
    if (distribution == nullptr) return -1;
  }
  if (distribution != nullptr && distribution->size > 0) {
    ret_statistics->hasdistribution = true;
    ret_statistics->pvalue =
        tail_lookup(distribution, lookupscore, profile->multiplier, TAIL_PVALUE, 0);
    ret_statistics->evalue = ret_statistics->pvalue * static_cast<double>(job->dbsize);
  }
  return 0;
}

// ---------------------------------------------------------------------------------------
// Text helpers

const unsigned char *matchcharacters(const Match *match) {
  const SearchJob *job = match->job;
  if (strandiscomplement(job->strand) && job->complementcharacters != nullptr) {
    return job->complementcharacters;
  }
  return match->characters;
}

void appenddescription(std::string &text, const unsigned char *bytes, uint64_t length) {
  for (uint64_t i = 0; i < length; i++) {
    if (bytes[i] == '\n') {
      text += ". ";
    } else {
      text += static_cast<char>(bytes[i]);
    }
  }
}

void appendmatchingsequence(std::string &text, const unsigned char *sequence,
                            uint64_t startposition, uint64_t endposition,
                            const unsigned char *characters) {
  if (endposition < startposition) return;
  // One resize, then the letters: a match's text costs no check of the room per letter.
  const size_t before = text.size();
  text.resize(before + (endposition - startposition + 1));
  char *out = text.data() + before;
  for (uint64_t i = startposition; i <= endposition; i++) {
    *out++ = static_cast<char>(characters[sequence[i]]);
  }
}

// ---------------------------------------------------------------------------------------
// Records

int report_null(Match *match) {
  match->job->matchcount++;
  return 0;
}

namespace {

void appendprofiledescription(std::string &text, const char *description) {
  for (const char *c = description; *c != '\0'; c++) {
    if (*c == '\n') {
      text += ". ";
    } else {
      text += *c;
    }
  }
}

const char *orNULL(const char *text) { return text != nullptr ? text : "(NULL)"; }
const char *orempty(const char *text) { return text != nullptr ? text : ""; }

}  // namespace

int report_human(Match *match) {
  SearchJob *job = match->job;
  job->matchcount++;
  MatchFacts facts;
  if (matchfacts(match, &facts) != 0) return -1;
  const Profile *profile = job->profile;
  const ScoringMatrix *matrix = &profile->matrix;
  const MatchLocation &location = facts.location;
  const MatchStatistics &statistics = facts.statistics;

  std::string &text = recordbuffer();
  appendformat(text, "Match for `%s', `%s', group %lu, position %lu (%s %s)\n",
               orNULL(profile->identifier), orNULL(profile->accession), profile->groupnumber,
               profile->groupposition, strandisreverse(job->strand) ? "reverse" : "forward",
               strandiscomplement(job->strand) ? "compl." : "non-compl.");
  if (profile->description != nullptr) {
    text += "  description: `";
    appendprofiledescription(text, profile->description);
    text += "'\n";
  }
  appendformat(text, "  sequence %lu", location.seqnum);
  if (location.description != nullptr) {
    text += ": `";
    appenddescription(text, location.description, location.descriptionlength);
    text += "'";
  }
  text += "\n";
  appendformat(text, "  position %lu, length %lu, ", location.seqposition, match->length);
  if (matrix->scoretype == SCORE_INTEGER) {
    appendformat(text, "threshold %ld, score range %ld..%ld\n  score %ld, ", matrix->threshold.i,
                 matrix->minscore.i, matrix->maxscore.i, match->score.i);
  } else {
    appendformat(text, "threshold %.6e, score range %.6e..%.6e\n  score %.6e, ",
                 static_cast<double>(matrix->threshold.f), static_cast<double>(matrix->minscore.f),
                 static_cast<double>(matrix->maxscore.f), static_cast<double>(match->score.f));
  }
  appendformat(text, "MSS %.6e", statistics.mss);
  if (statistics.hasdistribution) {
    appendformat(text, ", p-value %.6e, E-value %.6e", statistics.pvalue, statistics.evalue);
  }
  if (location.sequence != nullptr) {
    text += "\n  matching sequence: `";
    appendmatchingtext(text, match, &location);
    text += "'";
  }
  text += "\n";
  return writerecord(text);
}

int report_tabs(Match *match) {
  SearchJob *job = match->job;
  job->matchcount++;
  MatchFacts facts;
  if (matchfacts(match, &facts) != 0) return -1;
  const Profile *profile = job->profile;
  const ScoringMatrix *matrix = &profile->matrix;
  const MatchLocation &location = facts.location;
  const MatchStatistics &statistics = facts.statistics;

  std::string &text = recordbuffer();
  appendformat(text, "%s\t%s\t", orempty(profile->identifier), orempty(profile->accession));
  if (profile->description != nullptr) appendprofiledescription(text, profile->description);
  appendformat(text, "\t%lu\t%lu\t", profile->groupnumber, profile->groupposition);
  appendformat(text, "%lu\t%lu\t%c%c\t", location.seqposition, match->length,
               strandisreverse(job->strand) ? 'r' : 'f',
               strandiscomplement(job->strand) ? 'c' : 'n');
  if (matrix->scoretype == SCORE_INTEGER) {
    appendformat(text, "%ld\t%ld\t%ld\t%ld\t", matrix->threshold.i, match->score.i,
                 matrix->minscore.i, matrix->maxscore.i);
  } else {
    appendformat(text, "%.6e\t%.6e\t%.6e\t%.6e\t", static_cast<double>(matrix->threshold.f),
                 static_cast<double>(match->score.f), static_cast<double>(matrix->minscore.f),
                 static_cast<double>(matrix->maxscore.f));
  }
  if (statistics.hasdistribution) {
    appendformat(text, "%.6e\t%.6e\t", statistics.pvalue, statistics.evalue);
  } else {
    text += "\t\t";
  }
  appendformat(text, "%.6e\t%lu\t", statistics.mss, location.seqnum);
  if (location.description != nullptr) {
    appenddescription(text, location.description, location.descriptionlength);
  }
  text += "\t";
  if (location.sequence != nullptr) appendmatchingtext(text, match, &location);
  text += "\n";
  return writerecord(text);
}

// ---------------------------------------------------------------------------------------
// collect_match

int collect_match(Match *match) {
  SearchJob *job = match->job;
  job->matchcount++;
  MatchFacts facts;
  if (matchfacts(match, &facts) != 0) return -1;
  CollectedMatch entry{};
  entry.profile = job->profile;
  entry.reportorder = job->profilematchcount++;
  entry.pvalue = facts.statistics.pvalue;
  entry.evalue = facts.statistics.evalue;
  entry.mss = facts.statistics.mss;
  entry.score = match->score;
  entry.seqnum = facts.location.seqnum;
  entry.seqposition = facts.location.seqposition;
  entry.endposition = match->endposition;
  entry.length = match->length;
  entry.strand = job->strand;
  matchcollection_insert(job->collection, &entry);
  return 0;
}
