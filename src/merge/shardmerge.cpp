// The merge of shard reports: settling each record's profile and statistics, the order of
// the merged report, the selection of the k best matches of every profile and strand, and
// the streaming merge of the shard files.
//
// Contents: settling records; order; k-best selection; the merge.
#include "merge/shardmerge.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/error.hpp"
#include "merge/shardrecords.hpp"
#include "report/reports.hpp"
#include "search/profilesearch.hpp"

namespace {

bool isinteger(const Profile *profile) { return profile->matrix.scoretype == SCORE_INTEGER; }

// printf's "%.6e" of value, as the reports print p-values, E-values and MSS.
bool sameprinted(double value, std::string_view printed) {
  char digits[64];
  const int length = std::snprintf(digits, sizeof digits, "%.6e", value);
  return length > 0 && printed == std::string_view(digits, static_cast<size_t>(length));
}

double readdouble(std::string_view text) {
  char copy[64];
  const size_t length = std::min(text.size(), sizeof copy - 1);
  std::memcpy(copy, text.data(), length);
  copy[length] = '\0';
  return std::strtod(copy, nullptr);
}

bool readscore(std::string_view text, bool integer, ScoreValue *ret_score) {
  char copy[64];
  if (text.empty() || text.size() >= sizeof copy) return false;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  char *end = nullptr;
  errno = 0;
  if (integer) {
    ret_score->i = std::strtoll(copy, &end, 10);
  } else {
    ret_score->f = std::strtof(copy, &end);
  }
  return errno == 0 && *end == '\0';
}

std::string formatscore(const Profile *profile, ScoreValue score) {
  char digits[64];
  if (isinteger(profile)) {
    std::snprintf(digits, sizeof digits, "%ld", static_cast<long>(score.i));
  } else {
    std::snprintf(digits, sizeof digits, "%.6e", static_cast<double>(score.f));
  }
  return digits;
}

// Whether a score is below the profile's threshold. A float score is printed with seven
// digits; rounding keeps the order, so the printed score is held against the threshold
// printed the same way.
bool belowthreshold(const Profile *profile, std::string_view printed, ScoreValue score) {
  if (isinteger(profile)) return score.i < profile->matrix.threshold.i;
  return readdouble(printed) < readdouble(formatscore(profile, profile->matrix.threshold));
}

// Whether the window of length at seqposition lies inside sequence seqnum.
bool insidesequence(const Multiseq *database, uint64_t seqnum, uint64_t seqposition,
                    uint64_t length) {
  PositionPair range;
  if (seqnum >= database->numofsequences || seqrange(database, seqnum, &range) != 0) return false;
  const uint64_t size = range.last + 1 - range.first;
  return length <= size && seqposition <= size - length;
}

int recorderror(const char *shard, uint64_t line, const char *what) {
  return reporterror("%s, line %lu: %s", shard, static_cast<unsigned long>(line), what);
}

}  // namespace

// ---- Settling records ----------------------------------------------------------------------

void mergerun_init(MergeRun *run, const RunConfiguration *config, ProfileCollection *profiles,
                   const double *frequencies, uint64_t dbsize, const Multiseq *database) {
  run->config = config;
  run->database = database;
  run->profiles = profiles;
  run->job = SearchJob{};
  run->job.settings = &config->settings;
  run->job.frequencies = frequencies;
  run->job.dbsize = dbsize;
  run->profileofgroup.clear();
  for (uint64_t i = 0; i < profiles->numofprofiles; i++) {
    const Profile *profile = &profiles->profiles[i];
    if (run->profileofgroup.size() <= profile->groupnumber)
      run->profileofgroup.resize(profile->groupnumber + 1);
    std::vector<uint64_t> &group = run->profileofgroup[profile->groupnumber];
    if (group.size() <= profile->groupposition) group.resize(profile->groupposition + 1, UINT64_MAX);
    group[profile->groupposition] = i;
  }
}

namespace {

// Writes the numbers the offsets changed into the record's text, the rightmost first, and
// moves the threshold's place with what changed before it.
void renumber(ShardRecord *record, const RecordFields &fields, uint64_t groupnumber,
              uint64_t seqnum) {
  struct Change {
    size_t start;
    size_t length;
    std::string digits;
  } changes[2] = {
      {static_cast<size_t>(fields.groupdigits.data() - record->text.data()),
       fields.groupdigits.size(), std::to_string(groupnumber)},
      {static_cast<size_t>(fields.seqnumdigits.data() - record->text.data()),
       fields.seqnumdigits.size(), std::to_string(seqnum)}};
  if (changes[0].start < changes[1].start) std::swap(changes[0], changes[1]);
  for (const Change &change : changes) {
    record->text.replace(change.start, change.length, change.digits);
    if (change.start < record->thresholdstart)
      record->thresholdstart += change.digits.size() - change.length;
  }
}

}  // namespace

int settlerecord(MergeRun *run, ShardRecord *record, const ShardReader &reader) {
  const char *shard = reader.name;
  const uint64_t line = reader.recordline;
  std::string_view text = record->text;
  RecordFields fields{};
  int parsed;
  if (run->config->format == FORMAT_HUMAN) {
    parsed = parsehumanrecord(text, &fields);
  } else {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    parsed = parsetabsrecord(text, &fields);
  }
  if (parsed == -2)
    return recorderror(shard, line,
                       "the fields cannot be told apart: tabs inside the descriptions make the "
                       "numbers read at two places");
  if (parsed != 0) return recorderror(shard, line, "not a record of the report format");

  const uint64_t shardgroupnumber = fields.groupnumber;
  fields.groupnumber += reader.groupoffset;
  if (fields.groupnumber >= run->profileofgroup.size() ||
      fields.groupposition >= run->profileofgroup[fields.groupnumber].size() ||
      run->profileofgroup[fields.groupnumber][fields.groupposition] == UINT64_MAX)
    return recorderror(shard, line, "no profile of the library has this group and position");
  record->profile = run->profileofgroup[fields.groupnumber][fields.groupposition];
  Profile *profile = &run->profiles->profiles[record->profile];
  if (run->config->format == FORMAT_TABS) {
    // Identifiers and accessions may hold tabs themselves, so the line's start is compared.
    const std::string_view identifier = profile->identifier != nullptr ? profile->identifier : "";
    const std::string_view accession = profile->accession != nullptr ? profile->accession : "";
    if (text.size() <= identifier.size() + accession.size() + 1 ||
        text.substr(0, identifier.size()) != identifier || text[identifier.size()] != '\t' ||
        text.substr(identifier.size() + 1, accession.size()) != accession ||
        text[identifier.size() + 1 + accession.size()] != '\t')
      return recorderror(shard, line, "the identifier differs from the library's");
  }
  record->strand = fields.strand;
  record->seqnum = fields.seqnum + reader.seqoffset;
  record->seqposition = fields.seqposition;
  record->thresholdstart = static_cast<size_t>(fields.threshold.data() - record->text.data());
  record->thresholdlength = fields.threshold.size();
  if (!readscore(fields.score, isinteger(profile), &record->score))
    return recorderror(shard, line, "the score is not a number");
  // What the options could not have produced: another strand, a lower score, another
  // threshold (k-best runs print the threshold they raised), a window outside the database.
  if ((run->config->settings.strands & record->strand) == 0)
    return recorderror(shard, line, "the options do not search this strand");
  if (belowthreshold(profile, fields.score, record->score))
    return recorderror(shard, line, "the score is below the threshold the options give");
  if (run->config->settings.thresholdkind != THRESHOLD_KBEST &&
      fields.threshold != formatscore(profile, profile->matrix.threshold))
    return recorderror(shard, line, "the threshold differs from the one the options give");
  if (reader.seqoffset == 0 && run->database != nullptr &&
      !insidesequence(run->database, fields.seqnum, fields.seqposition, fields.length))
    return recorderror(shard, line, "the match lies outside the sequences of the database");

  // The printed digits cannot tell close values apart, so the order uses the values the
  // run computed, taken again from the score. A float score printed with seven digits may
  // have lost bits; then the printed values stand.
  MatchStatistics statistics;
  if (match_statistics(profile, &run->job, record->score, &statistics) != 0) return -1;
  const bool printedwithdistribution = !fields.pvalue.empty();
  const bool same = statistics.hasdistribution == printedwithdistribution &&
                    sameprinted(statistics.mss, fields.mss) &&
                    (!printedwithdistribution || (sameprinted(statistics.pvalue, fields.pvalue) &&
                                                  sameprinted(statistics.evalue, fields.evalue)));
  if (same) {
    record->pvalue = statistics.pvalue;
    record->evalue = statistics.evalue;
    record->mss = statistics.mss;
  } else if (isinteger(profile)) {
    return recorderror(shard, line,
                       "the statistics differ from the library's under the merge's options");
  } else {
    record->pvalue = printedwithdistribution ? readdouble(fields.pvalue) : 0.0;
    record->evalue = printedwithdistribution ? readdouble(fields.evalue) : 0.0;
    record->mss = readdouble(fields.mss);
  }
  if (fields.groupnumber != shardgroupnumber || record->seqnum != fields.seqnum)
    renumber(record, fields, fields.groupnumber, record->seqnum);
  return 0;
}

// ---- Order ---------------------------------------------------------------------------------

namespace {

// Ascending; unordered values (NaN) are equal.
template <typename T>
int ascending(T a, T b) {
  if (a < b) return -1;
  if (a > b) return 1;
  return 0;
}

int comparestrings(const char *a, const char *b) {
  if (a == b) return 0;
  if (a == nullptr) return -1;
  if (b == nullptr) return 1;
  return std::strcmp(a, b);
}

float scoreasfloat(const Profile *profile, ScoreValue score) {
  return isinteger(profile) ? static_cast<float>(score.i) : score.f;
}

int comparekey(char key, const Profile *pa, const Profile *pb, const ShardRecord &a,
               const ShardRecord &b) {
  switch (key) {
    case 'i':
      return comparestrings(pa->identifier, pb->identifier);
    case 'a':
      return comparestrings(pa->accession, pb->accession);
    case 'p':
      return ascending(a.pvalue, b.pvalue);
    case 'e':
      return ascending(a.evalue, b.evalue);
    case 'm':
      return ascending(b.mss, a.mss);
    case 's':
      return ascending(scoreasfloat(pb, b.score), scoreasfloat(pa, a.score));
    case 'n':
      return ascending(a.seqnum, b.seqnum);
    case 'o':
      return ascending(a.seqposition, b.seqposition);
    case 'r':
      return ascending(pa->groupnumber, pb->groupnumber);
    case 't':
      return ascending(pa->groupposition, pb->groupposition);
    case 'g': {
      const int result = ascending(pa->groupnumber, pb->groupnumber);
      return result != 0 ? result : ascending(pa->groupposition, pb->groupposition);
    }
  }
  return 0;
}

// Order of the k-best store of one profile and strand: greater score first, then the match
// that ends first.
int bestorder(const Profile *profile, ScoreValue scorea, uint64_t seqnuma, uint64_t positiona,
              ScoreValue scoreb, uint64_t seqnumb, uint64_t positionb) {
  const int byscore = isinteger(profile) ? ascending(scoreb.i, scorea.i)
                                         : ascending(scoreb.f, scorea.f);
  if (byscore != 0) return byscore;
  const int bysequence = ascending(seqnuma, seqnumb);
  return bysequence != 0 ? bysequence : ascending(positiona, positionb);
}

}  // namespace

int comparerecords(const MergeRun *run, const ShardRecord &a, const ShardRecord &b) {
  const Profile *pa = &run->profiles->profiles[a.profile];
  const Profile *pb = &run->profiles->profiles[b.profile];
  if (const char *keys = run->config->sortkeys; keys != nullptr) {
    for (; *keys != '\0'; keys++) {
      const int result = comparekey(*keys, pa, pb, a, b);
      if (result != 0) return result;
    }
  }
  // The order in which one job reports: profiles in library order, strands in search order,
  // then the order of the engine.
  if (a.profile != b.profile) return ascending(a.profile, b.profile);
  if (a.strand != b.strand) return ascending(strandslot(a.strand), strandslot(b.strand));
  if (run->config->settings.thresholdkind == THRESHOLD_KBEST)
    return bestorder(pa, a.score, a.seqnum, a.seqposition, b.score, b.seqnum, b.seqposition);
  const int bysequence = ascending(a.seqnum, b.seqnum);
  return bysequence != 0 ? bysequence : ascending(a.seqposition, b.seqposition);
}

// ---- K-best selection ----------------------------------------------------------------------

namespace {

struct Candidate {
  ScoreValue score;
  uint64_t seqnum;
  uint64_t seqposition;
};

// What the k-best selection keeps: per profile and strand the worst kept candidate when a
// shard offered more than k, and per profile the threshold the single run prints.
struct BestSelection {
  std::vector<std::vector<Candidate>> candidates;  // [profile * 4 + strand rank]
  std::vector<bool> limited;
  std::vector<Candidate> worstkept;
  std::vector<std::string> threshold;  // [profile], empty: no record
};

size_t slotof(const ShardRecord &record) {
  return static_cast<size_t>(record.profile) * 4 + static_cast<size_t>(strandslot(record.strand));
}

bool greaterthreshold(const Profile *profile, std::string_view a, std::string_view b) {
  if (isinteger(profile)) {
    ScoreValue va{}, vb{};
    readscore(a, true, &va);
    readscore(b, true, &vb);
    return va.i > vb.i;
  }
  return readdouble(a) > readdouble(b);
}

int openreaders(const MergeRun *run, const std::vector<ShardFile> &shards,
                std::vector<ShardReader> *readers) {
  readers->resize(shards.size());
  for (size_t i = 0; i < shards.size(); i++) {
    ShardReader *reader = &(*readers)[i];
    if (shardreader_open(reader, shards[i].name, run->config->format) == 0) {
      reader->groupoffset = shards[i].groupoffset;
      reader->seqoffset = shards[i].seqoffset;
    } else {
      for (size_t j = 0; j < i; j++) shardreader_close(&(*readers)[j]);
      return -1;
    }
  }
  return 0;
}

void closereaders(std::vector<ShardReader> *readers) {
  for (ShardReader &reader : *readers) shardreader_close(&reader);
}

// The single run keeps the k best of every profile and strand over the whole database, and
// prints with each record the profile's own threshold, which its forward search raises to the
// score of its k-th best match once it holds k of them (the threshold of the reduced-alphabet
// search is not the one printed). A shard saw fewer matches, so its threshold may be lower.
int selectbest(MergeRun *run, const std::vector<ShardFile> &shards, BestSelection *best) {
  const uint64_t k = run->config->settings.kbest;
  const size_t profiles = run->profiles->numofprofiles;
  best->candidates.assign(profiles * 4, {});
  best->threshold.assign(profiles, {});
  std::vector<ShardReader> readers;
  if (openreaders(run, shards, &readers) != 0) return -1;
  ShardRecord record;
  int result = 0;
  for (ShardReader &reader : readers) {
    while ((result = shardreader_next(&reader, &record.text)) == 1) {
      if ((result = settlerecord(run, &record, reader)) != 0) break;
      best->candidates[slotof(record)].push_back(
          {record.score, record.seqnum, record.seqposition});
      const std::string_view threshold(record.text.data() + record.thresholdstart,
                                       record.thresholdlength);
      std::string &kept = best->threshold[record.profile];
      const Profile *profile = &run->profiles->profiles[record.profile];
      if (kept.empty() || greaterthreshold(profile, threshold, kept)) kept.assign(threshold);
    }
    if (result != 0) break;
  }
  closereaders(&readers);
  if (result != 0) return -1;

  best->limited.assign(profiles * 4, false);
  best->worstkept.assign(profiles * 4, Candidate{});
  for (size_t slot = 0; slot < best->candidates.size(); slot++) {
    std::vector<Candidate> &candidates = best->candidates[slot];
    if (candidates.size() < k) continue;
    const Profile *profile = &run->profiles->profiles[slot / 4];
    auto better = [profile](const Candidate &a, const Candidate &b) {
      return bestorder(profile, a.score, a.seqnum, a.seqposition, b.score, b.seqnum,
                       b.seqposition) < 0;
    };
    std::nth_element(candidates.begin(), candidates.begin() + static_cast<ptrdiff_t>(k - 1),
                     candidates.end(), better);
    best->limited[slot] = true;
    best->worstkept[slot] = candidates[k - 1];
    if (slot % 4 == 0 && run->config->reducedalphabet == false)
      best->threshold[slot / 4] = formatscore(profile, candidates[k - 1].score);
    std::vector<Candidate>().swap(candidates);
  }
  return 0;
}

bool kept(const MergeRun *run, const BestSelection *best, const ShardRecord &record) {
  const size_t slot = slotof(record);
  if (!best->limited[slot]) return true;
  const Candidate &worst = best->worstkept[slot];
  return bestorder(&run->profiles->profiles[record.profile], record.score, record.seqnum,
                   record.seqposition, worst.score, worst.seqnum, worst.seqposition) <= 0;
}

}  // namespace

// ---- The merge -----------------------------------------------------------------------------

namespace {

// A file named twice would have every record merged twice.
int refuserepeatedfiles(const std::vector<ShardFile> &shards) {
  std::vector<struct stat> status(shards.size());
  std::vector<bool> regular(shards.size(), false);
  for (size_t i = 0; i < shards.size(); i++) {
    regular[i] = stat(shards[i].name, &status[i]) == 0 && S_ISREG(status[i].st_mode);
    for (size_t j = 0; regular[i] && j < i; j++) {
      if (regular[j] && status[j].st_dev == status[i].st_dev &&
          status[j].st_ino == status[i].st_ino)
        return reporterror("%s and %s are the same shard: its records would be merged twice",
                           shards[j].name, shards[i].name);
    }
  }
  return 0;
}

// The window a record reports; two shards that hold the same one overlap.
bool samewindow(const ShardRecord &a, const ShardRecord &b) {
  return a.profile == b.profile && a.strand == b.strand && a.seqnum == b.seqnum &&
         a.seqposition == b.seqposition;
}

}  // namespace

int mergeshards(MergeRun *run, const std::vector<ShardFile> &shards, FILE *out) {
  const RunConfiguration *config = run->config;
  if (config->format == FORMAT_CISML)
    return reporterror("CisML documents cannot be merged; use the tabs or human format");
  if (refuserepeatedfiles(shards) != 0) return -1;
  const bool kbest = config->settings.thresholdkind == THRESHOLD_KBEST;
  std::unique_ptr<BestSelection> best;
  if (kbest) {
    best = std::make_unique<BestSelection>();
    if (selectbest(run, shards, best.get()) != 0) return -1;
  }

  std::vector<ShardReader> readers;
  if (openreaders(run, shards, &readers) != 0) return -1;
  const size_t count = shards.size();
  std::vector<ShardRecord> current(count), previous(count);
  std::vector<bool> hasprevious(count, false);
  // A min-heap of the shards by their current records; equal records by shard order.
  std::vector<size_t> heap;
  auto later = [&](size_t a, size_t b) {
    const int order = comparerecords(run, current[a], current[b]);
    return order != 0 ? order > 0 : a > b;
  };
  // Reads the next record of shard i; 1 when there is one.
  auto advance = [&](size_t i) -> int {
    ShardReader *reader = &readers[i];
    std::swap(previous[i], current[i]);
    const int read = shardreader_next(reader, &current[i].text);
    if (read != 1) return read;
    if (settlerecord(run, &current[i], *reader) != 0) return -1;
    // Sorted reports come in the merge's order; a shard that does not was made with other
    // sort keys or another library.
    if (config->sortkeys != nullptr && hasprevious[i] &&
        comparerecords(run, previous[i], current[i]) > 0)
      return recorderror(reader->name, reader->recordline,
                         "the records are not in the order of the run's sort keys");
    hasprevious[i] = true;
    return 1;
  };

  int result = 0;
  for (size_t i = 0; i < count && result == 0; i++) {
    const int read = advance(i);
    if (read < 0) result = -1;
    if (read == 1) heap.push_back(i);
  }
  if (result == 0) std::make_heap(heap.begin(), heap.end(), later);
  // The record met last, with its shard and line: equal windows come out one after the other.
  ShardRecord last;
  size_t lastshard = count;
  uint64_t lastline = 0;
  while (result == 0 && !heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), later);
    const size_t i = heap.back();
    const ShardRecord &record = current[i];
    if (lastshard != count && lastshard != i && samewindow(last, record)) {
      result = reporterror("%s, line %lu: the match of %s, line %lu again: the shards overlap",
                           readers[i].name, static_cast<unsigned long>(readers[i].recordline),
                           readers[lastshard].name, static_cast<unsigned long>(lastline));
      break;
    }
    last.profile = record.profile;
    last.strand = record.strand;
    last.seqnum = record.seqnum;
    last.seqposition = record.seqposition;
    lastshard = i;
    lastline = readers[i].recordline;
    if (!kbest) {
      std::fwrite(record.text.data(), 1, record.text.size(), out);
    } else if (kept(run, best.get(), record)) {
      const std::string &threshold = best->threshold[record.profile];
      std::fwrite(record.text.data(), 1, record.thresholdstart, out);
      std::fwrite(threshold.data(), 1, threshold.size(), out);
      const size_t rest = record.thresholdstart + record.thresholdlength;
      std::fwrite(record.text.data() + rest, 1, record.text.size() - rest, out);
    }
    const int read = advance(i);
    if (read < 0) {
      result = -1;
    } else if (read == 1) {
      std::push_heap(heap.begin(), heap.end(), later);
    } else {
      heap.pop_back();
    }
  }
  closereaders(&readers);
  if (result == 0 && std::ferror(out)) return reporterror("cannot write the merged report");
  return result;
}
