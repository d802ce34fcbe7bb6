// The search run driver: opens the database, loads the frequencies and the library, prepares
// thresholds and the complementary strands, searches every profile on every requested strand
// in one job or several threads, reports and cleans up.
//
// Contents: lookahead batch; jobs and threads; sorted report walk; runsearch. The search of
// one profile is in profilesearch.cpp.
#include "search/driver.hpp"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/error.hpp"
#include "base/output.hpp"
#include "base/threadedbuild.hpp"
#include "base/threads.hpp"
#include "matching/lookahead_batch.hpp"
#include "matching/match_arraysearch.hpp"
#include "matching/match_lookaheadsearch.hpp"
#include "matching/match_simplesearch.hpp"
#include "matching/reducedalphabet.hpp"
#include "model/match.hpp"
#include "profiles/libparse.hpp"
#include "report/cismlreport.hpp"
#include "report/matchcollection.hpp"
#include "report/reports.hpp"
#include "search/banner.hpp"
#include "search/profilesearch.hpp"
#include "sequences/alphabet.hpp"
#include "sequences/inputseq.hpp"
#include "statistics/freqfileparser.hpp"
#include "statistics/setthresholds.hpp"

namespace {

constexpr uint64_t MAXTHREADS = 128;

// ---- Lookahead batch -----------------------------------------------------------------------
//
// Without k best, the lookahead searches of all profiles and strands run ahead of the jobs as
// one batch over the database (preparebatch); the profile routines then report each strand's
// hits from it.

// One job's share of the parts of the batch: each job takes the next part not yet taken, so
// that a job slowed down by other work on its processor does less of them.
struct BatchWork {
  LookaheadBatch *batch;
  uint64_t job;
  std::atomic<uint64_t> *nextpart;
};

void *batchworkbody(void *argument) {
  const BatchWork *work = static_cast<const BatchWork *>(argument);
  const uint64_t parts = lookaheadbatch_parts(work->batch);
  for (;;) {
    const uint64_t part = work->nextpart->fetch_add(1, std::memory_order_relaxed);
    if (part >= parts) break;
    lookaheadbatch_runpart(work->batch, part, work->job);
  }
  return nullptr;
}

// Searches the strands of every profile that the profile routine would search in one batch
// (in the prepared record, whose batch is null when there is none), in jobs jobs (runeach;
// quiet: the messages about threads belong to the jobs of the profiles).
void runbatch(SearchJob *job, PreparedBatch *prepared) {
  const uint64_t jobs = threadedbuild && job->settings->jobs > 1 ? job->settings->jobs : 1;
  const uint64_t count = job->profiles->numofprofiles;
  std::vector<Profile *> profiles(count);
  for (uint64_t i = 0; i < count; i++) profiles[i] = &job->profiles->profiles[i];
  preparebatch(job, profiles.data(), count, jobs, prepared);
  if (prepared->batch == nullptr) return;
  std::atomic<uint64_t> nextpart{0};
  std::vector<BatchWork> work(jobs);
  for (uint64_t j = 0; j < jobs; j++) work[j] = {prepared->batch, j, &nextpart};
  runeach(work.data(), jobs, batchworkbody);
  releasebatchmatrices(prepared);
}

// ---- Jobs --------------------------------------------------------------------------------

void *threadbody(void *argument) {
  SearchJob job = *static_cast<const SearchJob *>(argument);
  job.matchcount = 0;
  for (;;) {
    const int64_t index = collection_next_profile(job.profiles);
    if (index < 0) break;
    job.batchindex = static_cast<uint64_t>(index);
    if (job.profileroutine(&job, &job.profiles->profiles[index]) != 0) {
      seterrorcode(1);
      return nullptr;
    }
  }
  return reinterpret_cast<void *>(static_cast<uintptr_t>(job.matchcount + 1));
}

int runonejob(SearchJob *job) {
  for (uint64_t i = 0; i < job->profiles->numofprofiles; i++) {
    job->batchindex = i;
    if (job->profileroutine(job, &job->profiles->profiles[i]) != 0) return -1;
  }
  return 0;
}

int runthreads(SearchJob *job, uint64_t jobs) {
  collection_reset_work(job->profiles);
  Thread threads[MAXTHREADS];
  const int64_t started = startthreads(threads, jobs, threadbody, job);
  if (started < 0) return -1;
  const uint64_t created = static_cast<uint64_t>(started);
  printstatus("Spawned %lu thread%s.\n", static_cast<unsigned long>(created),
              created == 1 ? "" : "s");
  bool joinfailed = false;
  // Counted apart and added after the last join: threads still starting read the template.
  uint64_t found = 0;
  for (uint64_t i = 0; i < created; i++) {
    void *threadresult = nullptr;
    const int status = threadjoin(&threads[i], &threadresult);
    if (status == EDEADLK) {
      if (warningsenabled()) {
        outputlock();
        std::fputs("WARNING: a deadlock was detected, results may be invalid.", stderr);
        outputunlock();
      }
      continue;
    }
    if (status != 0) {
      joinfailed = true;
      continue;
    }
    const uint64_t count = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(threadresult));
    if (count != 0) found += count - 1;
  }
  job->matchcount += found;
  printstatus("All threads terminated.\n");
  if (joinfailed) return internalerror();
  return geterrorcode() != 0 ? -1 : 0;
}

// ---- Sorted report walk ----------------------------------------------------------------

struct WalkContext {
  SearchJob *job;
  ReportFunction report;
  Match match;
};

int reportcollected(const CollectedMatch *entry, void *context) {
  WalkContext *walk = static_cast<WalkContext *>(context);
  Match *match = &walk->match;
  Profile *profile = entry->profile;
  match->matrix = &profile->matrix;
  match->length = entry->length;
  match->endposition = entry->endposition;
  match->score = entry->score;
  walk->job->profile = profile;
  walk->job->strand = entry->strand;
  return walk->report(match) != 0 ? -1 : 0;
}

// ---- The search --------------------------------------------------------------------------

ReportFunction formatreport(OutputFormat format) {
  switch (format) {
    case FORMAT_NULL:
      return report_null;
    case FORMAT_HUMAN:
      return report_human;
    case FORMAT_TABS:
      return report_tabs;
    case FORMAT_CISML:
      return report_cisml;
    default:
      return nullptr;
  }
}

// collection carries the thresholds and the reports' profiles (the protein collection under
// the reduced alphabet, whose data is reduced; otherwise reduced is null).
int search(RunConfiguration *config, Virtualtree *database, bool isindex,
           ProfileCollection *collection, ReducedAlphabetData *reduced) {
  if (prepare_thresholds(collection, &config->settings,
                         reduced != nullptr ? reduced->reduced : nullptr) != 0)
    return -1;

  SearchJob job{};
  job.settings = &config->settings;
  job.frequencies = config->settings.frequencies;
  job.dbsize = config->settings.dbsize;
  job.profiles = collection;
  job.database = database;
  job.isindex = isindex;
  job.profileroutine = profileroutine;
  const SequenceRange range = {config->seqrangelower, config->seqrangeupper};
  job.range = config->seqrangegiven ? &range : nullptr;
  ComplementTables complement{};
  for (int i = 0; i < 256; i++) job.swapmap[i] = static_cast<unsigned char>(i);
  if ((config->settings.strands & (STRAND_COMPLEMENT | STRAND_REVERSECOMPLEMENT)) != 0) {
    if (preparecomplement(&database->alpha, config->ncompl, &complement) != 0) return -1;
    std::memcpy(job.swapmap, complement.swapmap, sizeof job.swapmap);
    // With -ncompl, complementary matches print as they stand in the database. They cannot
    // use the engines' table, the matrix's alphabet, which prints `~' for symbols the matrix
    // has no column for: a complementary window may hold them, since their partners score.
    job.complementcharacters =
        complement.withcharacters ? complement.characters : database->alpha.characters;
  }

  printstatus("Starting to search.\n");
  // The document's head goes out before the searches, its body and closing line after them.
  if (config->format == FORMAT_CISML &&
      cisml_write_head(&config->settings, searchprogramname()) != 0)
    return -1;
  switch (config->settings.algorithm) {
    case ALGORITHM_SIMPLE:
    case ALGORITHM_LOOKAHEAD:
      break;
    case ALGORITHM_ESA:
      if (!isindex) return reporterror("The input sequence is not an enhanced suffix array.");
      break;
    default:
      return internalerror();
  }
  const ReportFunction report = formatreport(config->format);
  if (report == nullptr) return internalerror();
  MatchCollection *matches = nullptr;
  if (config->sortkeys != nullptr) {
    matches = matchcollection_create(config->sortkeys);
    job.collection = matches;
    job.firstreport = collect_match;
  } else {
    job.firstreport = report;
  }
  if (reduced != nullptr) {
    // Candidates of the reduced matrices are confirmed before they reach the report.
    job.reduceddata = reduced;
    job.nextreport = job.firstreport;
    job.firstreport = config->settings.thresholdkind == THRESHOLD_KBEST
                          ? reducedalphabet_check_kbest
                          : reducedalphabet_check;
  }

  PreparedBatch prepared;
  runbatch(&job, &prepared);
  job.batch = prepared.batch;
  job.batchnumbers = prepared.numbers.data();

  int result = 0;
  if constexpr (threadedbuild) {
    result = config->settings.jobs > 1 ? runthreads(&job, config->settings.jobs) : runonejob(&job);
  } else {
    result = runonejob(&job);
  }

  // What every collected entry shares when it is reported again.
  Match walkmatch{};
  walkmatch.sourcekind = isindex ? SOURCE_VIRTUALTREE : SOURCE_MULTISEQ;
  // Under the reduced alphabet the plain view, whose characters the reports print.
  const Virtualtree *view = reduced != nullptr ? &reduced->plainview : database;
  walkmatch.characters = view->alpha.characters;
  walkmatch.source = isindex ? static_cast<const void *>(view)
                             : static_cast<const void *>(&view->multiseq);
  walkmatch.job = &job;
  if (result == 0 && config->format == FORMAT_CISML) {
    // The document counts the matches it lists; a failed walk leaves it without its closing
    // line, so that it cannot pass for a complete one.
    uint64_t written = 0;
    result = cisml_write_body(matches, &walkmatch, &written);
    job.matchcount = written;
    if (result == 0) result = cisml_write_tail();
  } else if (result == 0 && matches != nullptr && job.matchcount != 0) {
    job.matchcount = 0;
    WalkContext walk{};
    walk.job = &job;
    walk.report = report;
    walk.match = walkmatch;
    if (matchcollection_walk(matches, reportcollected, &walk) != 0) result = -1;
  }
  if (result == 0)
    printstatus("Found %lu match%s.\n", static_cast<unsigned long>(job.matchcount),
                job.matchcount == 1 ? "" : "es");
  if (matches != nullptr) matchcollection_free(matches);
  lookaheadbatch_free(job.batch);
  return result;
}

void printerror() { std::fprintf(stderr, "*** Error: %s\n", errormessageorunknown()); }

void printpendingerror() {
  std::fprintf(stderr, "*** Error %ld: %s\n", static_cast<long>(geterrorcode()),
               errormessageorunknown());
  clearerrorcode();
}

}  // namespace

int runsearch(RunConfiguration *config) {
  if (outputinit(!config->statusoff, !config->warningsoff) != 0) {
    internalerror();
    printerror();
    return 1;
  }
  uint32_t demand = TISTAB | DESTAB;
  if (config->reducedalphabet) demand |= OISTAB;
  if (config->settings.algorithm == ALGORITHM_ESA) demand |= SUFTAB | LCPTAB | SKPTAB;

  Virtualtree database{};
  bool isindex = false;
  const uint64_t jobs = threadedbuild && config->settings.jobs > 1 ? config->settings.jobs : 1;
  if (selectinputsequence(config->settings.databasename, config->smapname, config->protein,
                          config->dna, demand, &database, &isindex, jobs) != 0) {
    printerror();
    outputdestroy();
    return 1;
  }
  if (database.multiseq.sequence == nullptr && database.multiseq.totallength > 0) {
    std::fprintf(stderr,
                 "*** Error: Failed to map sequence data. This condition indicates a bug during "
                 "packaging. Please send a short bug report to the Zelko maintainers "
                 "(zelko-bugs@zelko.org).\n");
    // What the index reader did open (its file table, the other tables) is released all the
    // same, so that nothing it read is left behind.
    releaseinputsequence(&database, isindex);
    clearerrorcode();
    outputdestroy();
    return 1;
  }

  int status = 0;
  // Under the reduced alphabet the library is parsed with the protein alphabet and searched
  // through a second, reduced collection; the frequencies belong to the parsing alphabet.
  ReducedAlphabetData *reduced = nullptr;
  Alphabet proteinalpha;
  const Alphabet *parsingalpha = &database.alpha;
  if (config->reducedalphabet) {
    reduced = new ReducedAlphabetData{};
    if (reducedalphabet_prepare(reduced, &database) != 0) {
      printerror();
      status = 1;
    }
    proteinalphabet(&proteinalpha);
    parsingalpha = &proteinalpha;
  }
  if (status == 0 && config->frequenciesgiven) {
    config->settings.frequencies = loadfrequencies(config->settings.frequencyname, parsingalpha);
    if (config->settings.frequencies == nullptr) {
      seterrorcode(1);
      printerror();
      status = 1;
    }
  }
  if (status == 0) {
    if (!config->dbsizegiven) config->settings.dbsize = database.multiseq.totallength;
    ProfileCollection collection{};
    ProfileCollection reducedcollection{};
    if (parselibrary(config->settings.libraryname, parsingalpha, &collection) != 0) {
      printpendingerror();
      status = 1;
    } else if (reduced != nullptr &&
               reduce_collection(&reducedcollection, &collection, &database.alpha) != 0) {
      // The reduced collection shares the texts of the protein one: whatever it took over is
      // released with it.
      collection_free(&reducedcollection, true, true);
      collection_free(&collection, true, false);
      seterrorcode(1);
      printpendingerror();
      status = 1;
    } else {
      if (reduced != nullptr) reduced->reduced = &reducedcollection;
      search(config, &database, isindex, &collection, reduced);
      printstatus("Cleaning up...\n");
      if (reduced != nullptr) {
        collection_free(&reducedcollection, true, true);
        collection_free(&collection, true, false);
      } else {
        collection_free(&collection, false, false);
      }
      if (geterrorcode() != 0) {
        // A failed write ends the search too; the program reports it once, when it closes
        // standard output.
        if (outputfailed()) {
          clearerrorcode();
        } else {
          printpendingerror();
        }
        status = 1;
      }
    }
  }
  delete reduced;
  clearerrorcode();
  freeandnull(config->settings.frequencies);
  if (releaseinputsequence(&database, isindex) != 0 && geterrorcode() != 0) {
    printerror();
    status = 1;
  }
  outputdestroy();
  return status;
}
