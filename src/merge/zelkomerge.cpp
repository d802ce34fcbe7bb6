// zelkomerge: merges the reports of zelkosearch runs over parts of one database into the
// report of one run over all of it.
//
//   zelkomerge [-o FILE] [-groupoffset G] [-seqoffset S] SHARD... -- ZELKOSEARCH-OPTIONS
//   zelkomerge -help | -version
//
// Every shard is the standard output of `zelkosearch ZELKOSEARCH-OPTIONS -seqrange m:n` for
// ranges that together cover the database once. The options name the database, the library
// and the statistics of the runs; the merge reads them to order the records exactly as one
// run would and, with -best k, to keep the k best of every profile and strand. A shard may
// also have searched a slice of the library (its groups are counted from G in the whole
// library) or one of several databases searched with -eval and -dbsize of them all (its
// sequences are counted from S); the offsets apply to the shards named after them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/output.hpp"
#include "merge/shardmerge.hpp"
#include "profiles/libparse.hpp"
#include "search/cmdline.hpp"
#include "sequences/alphabet.hpp"
#include "sequences/inputseq.hpp"
#include "statistics/freqfileparser.hpp"
#include "statistics/setthresholds.hpp"

namespace {

const char *const usage =
    "Usage: zelkomerge [-o FILE] [-groupoffset G] [-seqoffset S] SHARD... -- "
    "ZELKOSEARCH-OPTIONS\n"
    "Merges the reports (-format tabs or human) of zelkosearch runs over sequence ranges of one\n"
    "database into the report of one run over the whole database. The options after -- are\n"
    "those of the runs (a -seqrange among them is ignored). -groupoffset and -seqoffset add to\n"
    "the group and sequence numbers of the shards named after them: for runs over a slice of\n"
    "the library, or over one of several databases.\n";

void printbanner() {
  std::printf("* Zelkomerge 1.3 64bit, compiled on " __DATE__ " at " __TIME__ "\n");
}

bool readoffset(const char *text, uint64_t *ret_value) {
  char *end = nullptr;
  if (*text < '0' || *text > '9') return false;
  errno = 0;
  *ret_value = std::strtoull(text, &end, 10);
  return errno == 0 && *end == '\0';
}

int fail(const char *message) {
  std::fprintf(stderr, "*** Error: %s\n", message);
  return 1;
}

// The library with the thresholds and distributions the runs had, then the merge.
int merge(RunConfiguration *config, const std::vector<ShardFile> &shards, FILE *out) {
  Virtualtree database{};
  bool isindex = false;
  if (selectinputsequence(config->settings.databasename, config->smapname, config->protein,
                          config->dna, TISTAB | DESTAB, &database, &isindex) != 0)
    return fail(errormessageorunknown());
  // Under the reduced alphabet the runs read the library with the protein alphabet, and
  // their reports show the protein matrices.
  Alphabet protein;
  const Alphabet *parsingalpha = &database.alpha;
  if (config->reducedalphabet) {
    proteinalphabet(&protein);
    parsingalpha = &protein;
  }
  int status = 0;
  if (config->frequenciesgiven) {
    config->settings.frequencies = loadfrequencies(config->settings.frequencyname, parsingalpha);
    if (config->settings.frequencies == nullptr) status = fail(errormessageorunknown());
  }
  if (status == 0) {
    if (!config->dbsizegiven) config->settings.dbsize = database.multiseq.totallength;
    ProfileCollection collection{};
    if (parselibrary(config->settings.libraryname, parsingalpha, &collection) != 0 ||
        prepare_thresholds(&collection, &config->settings, nullptr) != 0) {
      status = fail(errormessageorunknown());
    } else {
      MergeRun run;
      mergerun_init(&run, config, &collection, config->settings.frequencies,
                    config->settings.dbsize, &database.multiseq);
      if (mergeshards(&run, shards, out) != 0) status = fail(errormessageorunknown());
    }
    collection_free(&collection, false, false);
  }
  freeandnull(config->settings.frequencies);
  releaseinputsequence(&database, isindex);
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  installnewhandler();
  const char *outputname = nullptr;
  std::vector<ShardFile> shards;
  uint64_t groupoffset = 0, seqoffset = 0;
  int separator = 0;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--") == 0) {
      separator = i;
      break;
    }
    if (std::strcmp(argv[i], "-help") == 0 || std::strcmp(argv[i], "--help") == 0) {
      printbanner();
      std::fputs(usage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "-version") == 0 || std::strcmp(argv[i], "--version") == 0) {
      printbanner();
      return 0;
    }
    const bool valued = i + 1 < argc;
    if (std::strcmp(argv[i], "-o") == 0 && valued) {
      outputname = argv[++i];
    } else if (std::strcmp(argv[i], "-groupoffset") == 0 && valued) {
      if (!readoffset(argv[++i], &groupoffset)) return fail("-groupoffset expects a number");
    } else if (std::strcmp(argv[i], "-seqoffset") == 0 && valued) {
      if (!readoffset(argv[++i], &seqoffset)) return fail("-seqoffset expects a number");
    } else {
      shards.push_back({argv[i], groupoffset, seqoffset});
    }
  }
  if (separator == 0 || shards.empty()) {
    std::fputs(usage, stderr);
    return 1;
  }
  // The runs' options, read by the search program's own command line.
  std::vector<char *> options = {argv[0]};
  for (int i = separator + 1; i < argc; i++) options.push_back(argv[i]);
  options.push_back(nullptr);
  RunConfiguration config;
  if (parsecommandline(&config, static_cast<int>(options.size()) - 1, options.data()) !=
      COMMANDLINE_RUN)
    return fail(geterrorcode() != 0 ? errormessageorunknown()
                                    : "the options after -- must describe a search");
  // Status lines and warnings belong to the runs; the merge repeats none of them.
  if (outputinit(false, false) != 0) return fail("cannot initialise the output");
  FILE *out = stdout;
  if (outputname != nullptr) {
    out = std::fopen(outputname, "w");
    if (out == nullptr) {
      outputdestroy();
      return fail((std::string("cannot open ") + outputname).c_str());
    }
  }
  static char buffer[1 << 16];
  std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
  int status = merge(&config, shards, out);
  if (std::fflush(out) != 0 && status == 0) status = fail("cannot write the merged report");
  if (out != stdout && std::fclose(out) != 0 && status == 0)
    status = fail("cannot write the merged report");
  // An incomplete merge leaves no file that could pass for a result.
  if (status != 0 && outputname != nullptr) std::remove(outputname);
  outputdestroy();
  return status;
}
