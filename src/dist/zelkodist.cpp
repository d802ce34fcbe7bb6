// zelkodist: computes the complete score distribution of every matrix of a profile library
// under a background and writes them to a distribution file, which zelkosearch -pdis reads
// instead of computing distributions itself.
//
// Contents: option table and exclusions; reading the command line; help, version and banner;
// computing one Profile; sequential and threaded runs; main.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "base/optionvalues.hpp"
#include "base/output.hpp"
#include "base/procopt.hpp"
#include "base/threadedbuild.hpp"
#include "base/threads.hpp"
#include "matching/enginebanner.hpp"
#include "matching/profile.hpp"
#include "profiles/libparse.hpp"
#include "sequences/inputseq.hpp"
#include "statistics/distribution.hpp"
#include "statistics/distwriter.hpp"
#include "statistics/freqfileparser.hpp"

namespace {

// ---- Option table and exclusions --------------------------------------------------------

struct DistOption {
  OptionDeclaration declaration;
  bool threadedonly;  // declared only in the threaded build
};

constexpr DistOption everyoption[] = {
    {{"-help", "Show help screen."}, false},
    {{"-version", "Show program version."}, false},
    {{"-pr", "Name of a profile library file."}, false},
    {{"-protein", "Use protein alphabet for input sequence."}, false},
    {{"-dna", "Use DNA alphabet for input sequence."}, false},
    {{"-smap", "Name of a symbol map file for input sequence alphabet."}, false},
    {{"-db", "Name of an enhanced suffix array for input sequence alphabet."}, false},
    {{"-freq", "Name of a frequency file."}, false},
    {{"-uniform", "Assume uniform character distribution in input sequence."}, false},
    {{"-pdis", "Name of the output file."}, false},
    {{"-mult", "Multiplier (default is 1.0)."}, false},
    {{"-j",
      "Number of simultaneous jobs (default is 1). If no argument is given,\n"
      "the number of CPUs is queried from the operating system."},
     true},
    {{"-qm", "Suppress status messages."}, false},
    {{"-qw", "Suppress warnings."}, false},
    {{"-q", "Quiet execution, suppress warnings and status messages."}, false},
};

constexpr size_t countdistoptions() {
  size_t count = 0;
  for (const DistOption &option : everyoption) {
    if (threadedbuild || !option.threadedonly) count++;
  }
  return count;
}
constexpr size_t distoptioncount = countdistoptions();

// The options of this build, numbered in declaration order.
constexpr std::array<OptionDeclaration, distoptioncount> distoptions = [] {
  std::array<OptionDeclaration, distoptioncount> options{};
  size_t count = 0;
  for (const DistOption &option : everyoption) {
    if (threadedbuild || !option.threadedonly) options[count++] = option.declaration;
  }
  return options;
}();
static_assert(distoptioncount == (threadedbuild ? 15 : 14));

consteval uint64_t optionnumber(std::string_view name) { return optionindex(distoptions, name); }
// -j exists only in the threaded build; elsewhere no option has this number.
constexpr uint64_t jobsoption = threadedbuild ? optionindex(distoptions, "-j") : distoptioncount;

// At most one alphabet source, at most one background.
constexpr std::array<ExclusionPair, 7> exclusionpairs = {{
    {"-smap", "-db"},
    {"-smap", "-protein"},
    {"-smap", "-dna"},
    {"-protein", "-db"},
    {"-protein", "-dna"},
    {"-dna", "-db"},
    {"-freq", "-uniform"},
}};
constexpr auto exclusionlist = makeexclusionlist(distoptions, exclusionpairs);

constexpr double maximummultiplier = 1000.0;

// ---- Reading the command line -----------------------------------------------------------

// The settings of one run; texts point into argv.
struct DistConfiguration {
  const char *libraryname;
  const char *smapname;
  const char *indexname;
  const char *frequencyname;  // null with -uniform
  const char *outputname;
  bool protein;
  bool dna;
  double multiplier;
  uint64_t jobs;
  bool statusoff;
  bool warningsoff;
};

enum CommandLineOutcome { COMMANDLINE_RUN, COMMANDLINE_HELP, COMMANDLINE_VERSION, COMMANDLINE_ERROR };

struct CommandLine {
  OptionEntry table[distoptioncount];
  DistConfiguration *config;
  int argc;
  char **argv;
  int next;  // index of the next word

  bool given(uint64_t number) const { return table[number].present != 0; }

  // The next word as the value of the current option, or null with "Missing argument".
  const char *value() {
    if (next >= argc) {
      reporterror("Missing argument");
      return nullptr;
    }
    return argv[next++];
  }
};

int readjobs(CommandLine *line, const char *option) {
  DistConfiguration *config = line->config;
  // The value is optional: a following option word is not taken as the value.
  if (line->next >= line->argc || line->argv[line->next][0] == '-') {
    config->jobs = processorjobs(config->statusoff);
    return 0;
  }
  uint64_t jobs;
  if (readcount(line->argv[line->next++], option, &jobs) != 0) return -1;
  if (jobs < 1 || jobs > maximumjobs) {
    return reporterror("The number of jobs must be in a range from 1 to %lu.",
                       static_cast<unsigned long>(maximumjobs));
  }
  config->jobs = jobs;
  return 0;
}

int readmultiplier(CommandLine *line, const char *option) {
  const char *text = line->value();
  if (text == nullptr) return -1;
  double multiplier;
  if (readreal(text, option, &multiplier) != 0) return -1;
  // Written so that NaN, which no table can be scaled with, is refused too.
  if (!(multiplier > 0.0 && multiplier <= maximummultiplier)) {
    return reporterror("The multiplier must be a positive real number, not exceeding %.0f.",
                       maximummultiplier);
  }
  line->config->multiplier = multiplier;
  return 0;
}

int readoption(CommandLine *line, uint64_t number) {
  DistConfiguration *config = line->config;
  const char *option = distoptions[number].name;
  if (number == jobsoption) return readjobs(line, option);
  switch (number) {
    case optionnumber("-pr"):
      return (config->libraryname = line->value()) == nullptr ? -1 : 0;
    case optionnumber("-protein"):
      config->protein = true;
      return 0;
    case optionnumber("-dna"):
      config->dna = true;
      return 0;
    case optionnumber("-smap"):
      return (config->smapname = line->value()) == nullptr ? -1 : 0;
    case optionnumber("-db"):
      return (config->indexname = line->value()) == nullptr ? -1 : 0;
    case optionnumber("-freq"):
      return (config->frequencyname = line->value()) == nullptr ? -1 : 0;
    case optionnumber("-uniform"):
      return 0;
    case optionnumber("-pdis"):
      return (config->outputname = line->value()) == nullptr ? -1 : 0;
    case optionnumber("-mult"):
      return readmultiplier(line, option);
    case optionnumber("-qm"):
      config->statusoff = true;
      return 0;
    case optionnumber("-qw"):
      config->warningsoff = true;
      return 0;
    case optionnumber("-q"):
      config->statusoff = true;
      config->warningsoff = true;
      return 0;
    default:
      return internalerror();
  }
}

int checkcombination(const CommandLine &line) {
  if (checkexclusions(line.table, exclusionlist.data(), exclusionlist.size()) != 0) {
    seterrorcode(1);
    return -1;
  }
  if (!line.given(optionnumber("-pdis"))) return reporterror("option %s is mandatory", "-pdis");
  if (!line.given(optionnumber("-smap")) && !line.given(optionnumber("-protein")) &&
      !line.given(optionnumber("-dna")) && !line.given(optionnumber("-db"))) {
    return reporterror("either option %s, %s, %s, or %s is mandatory", "-smap", "-protein",
                       "-dna", "-db");
  }
  if (!line.given(optionnumber("-pr"))) return reporterror("option %s is mandatory", "-pr");
  if (!line.given(optionnumber("-freq")) && !line.given(optionnumber("-uniform"))) {
    return reporterror("either option %s or %s is mandatory", "-freq", "-uniform");
  }
  return 0;
}

CommandLineOutcome parsecommandline(DistConfiguration *config, int argc, char **argv) {
  *config = DistConfiguration{};
  config->multiplier = 1.0;
  config->jobs = 1;
  CommandLine line;
  line.config = config;
  line.argc = argc;
  line.argv = argv;
  line.next = 1;
  if (declareoptions(line.table, distoptions.data(), distoptioncount) != 0) {
    seterrorcode(1);
    return COMMANDLINE_ERROR;
  }
  while (line.next < argc) {
    const char *word = argv[line.next++];
    const int64_t number = findoption(line.table, distoptioncount, word);
    if (number < 0) {
      if (std::strcmp(word, "--version") == 0) return COMMANDLINE_VERSION;
      seterrorcode(1);
      return COMMANDLINE_ERROR;
    }
    if (number == static_cast<int64_t>(optionnumber("-help"))) return COMMANDLINE_HELP;
    if (number == static_cast<int64_t>(optionnumber("-version"))) return COMMANDLINE_VERSION;
    if (readoption(&line, static_cast<uint64_t>(number)) != 0) return COMMANDLINE_ERROR;
  }
  if (checkcombination(line) != 0) return COMMANDLINE_ERROR;
  return COMMANDLINE_RUN;
}

// ---- Help, version and banner -----------------------------------------------------------

void printbanner() {
  if constexpr (threadedbuild) {
    std::printf("* Zelkodist 1.3-mt 64bit, compiled on " __DATE__ " at " __TIME__ "\n");
  } else {
    std::printf("* Zelkodist 1.3 64bit, compiled on " __DATE__ " at " __TIME__ "\n");
  }
}

void printhelp(const char *program) {
  OptionEntry table[distoptioncount];
  if (declareoptions(table, distoptions.data(), distoptioncount) != 0) fatalcase();
  printoptionhelp(nullptr, program, table, distoptioncount);
}

// ---- Computing one Profile --------------------------------------------------------------

struct DistRun {
  const DistConfiguration *config;
  ProfileCollection *collection;
  const double *frequencies;
  uint64_t processed;         // progress counter, under the output lock
  CompressedRecord *records;  // threaded mode: the record of each Profile, by index
};

void printprogress(DistRun *run) {
  if (!statusenabled()) return;
  outputlock();
  const uint64_t number = ++run->processed;
  std::fflush(stdout);
  std::fprintf(stderr, "Processing PSSM %lu of %lu\n", static_cast<unsigned long>(number),
               static_cast<unsigned long>(run->collection->numofprofiles));
  outputunlock();
}

// The complete distribution of a Profile's matrix, taken as float matrix, with the run's
// multiplier; exactly the table zelkosearch computes for the Profile when it needs one.
int computeprofile(DistRun *run, Profile *profile, ScoreDistribution *ret_distribution) {
  printprogress(run);
  ScoringMatrix scratch;
  const ScoringMatrix *floatmatrix;
  const bool copied = matrix_float_copy(&profile->matrix, &scratch, &floatmatrix);
  const int status = complete_distribution(floatmatrix, run->frequencies,
                                           run->config->multiplier, ret_distribution);
  if (copied) matrix_free(&scratch);
  return status;
}

// ---- Sequential and threaded runs -------------------------------------------------------

// One Profile after another, each record written as soon as it is computed.
int runsequential(DistRun *run) {
  const DistConfiguration *config = run->config;
  printstatus("Precalculating probablity distribution to `%s'.\n", config->outputname);
  DistributionWriter writer;
  if (distwriter_open(&writer, config->outputname) != 0) return -1;
  ProfileCollection *collection = run->collection;
  for (uint64_t i = 0; i < collection->numofprofiles; i++) {
    ScoreDistribution distribution{};
    int status = computeprofile(run, &collection->profiles[i], &distribution);
    if (status == 0) status = distwriter_append(&writer, &distribution, config->multiplier);
    freedistribution(&distribution);
    if (status != 0) {
      distwriter_abandon(&writer);
      return -1;
    }
  }
  return distwriter_finish(&writer);
}

// Takes Profiles from the collection's work counter until none is left, keeping each
// distribution's record, compressed, until the file is written: the tables themselves are
// released at once, so that the memory held stays near the size of the file. Returns
// non-null after success.
void *threadbody(void *argument) {
  DistRun *run = static_cast<DistRun *>(argument);
  ProfileCollection *collection = run->collection;
  for (;;) {
    const int64_t index = collection_next_profile(collection);
    if (index < 0) return argument;
    ScoreDistribution distribution{};
    int status = computeprofile(run, &collection->profiles[index], &distribution);
    if (status == 0) {
      status = distwriter_compress_record(&distribution, run->config->multiplier,
                                          &run->records[index]);
    }
    freedistribution(&distribution);
    if (status != 0) {
      seterrorcode(1);
      return nullptr;
    }
  }
}

int startandjoin(DistRun *run) {
  Thread threads[maximumjobs];
  const uint64_t jobs = run->config->jobs;
  collection_reset_work(run->collection);
  const int64_t started = startthreads(threads, jobs, threadbody, run);
  if (started < 0) return -1;
  const uint64_t created = static_cast<uint64_t>(started);
  printstatus("Spawned %lu threads.\n", static_cast<unsigned long>(created));
  bool joinfailed = false;
  for (uint64_t i = 0; i < created; i++) {
    const int status = threadjoin(&threads[i], nullptr);
    if (status == EDEADLK) {
      printwarning("a deadlock was detected, results may be invalid.");
    } else if (status != 0) {
      joinfailed = true;
    }
  }
  if (joinfailed) return internalerror();
  return geterrorcode() != 0 ? -1 : 0;
}

// All Profiles computed by the threads first; the file is created only once they all have
// ended, and written in library order.
int runthreaded(DistRun *run) {
  const DistConfiguration *config = run->config;
  const uint64_t count = run->collection->numofprofiles;
  std::vector<CompressedRecord> records(count, CompressedRecord{});
  run->records = records.data();
  printstatus("Precalculating probablity distribution.\n");
  int status = startandjoin(run);
  if (status == 0) {
    printstatus("All threads terminated, writing distribution to `%s'.\n", config->outputname);
    DistributionWriter writer;
    status = distwriter_open(&writer, config->outputname);
    if (status == 0) {
      status = distwriter_write_records(&writer, records.data(), count);
      status = status == 0 ? distwriter_finish(&writer) : (distwriter_abandon(&writer), -1);
    }
  }
  for (CompressedRecord &record : records) distwriter_free_record(&record);
  run->records = nullptr;
  return status;
}

void printerror() { std::fprintf(stderr, "*** Error: %s\n", errormessageorunknown()); }

int rundist(const DistConfiguration *config) {
  if (outputinit(!config->statusoff, !config->warningsoff) != 0) {
    internalerror();
    printerror();
    return 1;
  }
  Virtualtree alphabetsource{};
  bool isindex = false;
  if (selectinputsequence(config->indexname, config->smapname, config->protein, config->dna, 0,
                          &alphabetsource, &isindex) != 0) {
    printerror();
    outputdestroy();
    return 1;
  }
  int status = 0;
  double *frequencies = loadfrequencies(config->frequencyname, &alphabetsource.alpha);
  if (frequencies == nullptr) {
    seterrorcode(1);
    printerror();
    status = 1;
  }
  ProfileCollection collection{};
  if (status == 0 && parselibrary(config->libraryname, &alphabetsource.alpha, &collection) != 0) {
    std::fprintf(stderr, "*** Error %ld: %s\n", static_cast<long>(geterrorcode()),
                 errormessageorunknown());
    status = 1;
  } else if (status == 0) {
    DistRun run = {config, &collection, frequencies, 0, nullptr};
    const bool threaded = threadedbuild && config->jobs > 1;
    // A table that cannot fit is refused before anything is computed or written; with
    // threads, every job holds one.
    if (check_distributions_fit(&collection, config->multiplier, threaded ? config->jobs : 1,
                                physicalmemory()) == 0) {
      if (threaded) {
        runthreaded(&run);
      } else {
        runsequential(&run);
      }
    }
    printstatus("Cleaning up...\n");
    collection_free(&collection, false, false);
    if (geterrorcode() != 0) {
      std::fprintf(stderr, "*** Error %ld: %s\n", static_cast<long>(geterrorcode()),
                   errormessageorunknown());
      status = 1;
    } else {
      printstatus("Done.\n");
    }
  }
  clearerrorcode();
  freeandnull(frequencies);
  if (releaseinputsequence(&alphabetsource, isindex) != 0 && geterrorcode() != 0) {
    printerror();
    status = 1;
  }
  outputdestroy();
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  installnewhandler();
  DistConfiguration config;
  switch (parsecommandline(&config, argc, argv)) {
    case COMMANDLINE_HELP:
      printbanner();
      printhelp(argv[0]);
      return finishoutput(0);
    case COMMANDLINE_VERSION:
      printbanner();
      std::printf("* %s (%s)\n", enginebanner(), enginefeatures());
      return finishoutput(0);
    case COMMANDLINE_ERROR:
      printbanner();
      std::fflush(stdout);
      std::fputs("Use -help to show a list of available options.\n", stderr);
      std::fprintf(stderr, "*** Error: %s\n", errormessageorunknown());
      return 1;
    case COMMANDLINE_RUN:
      break;
  }
  return finishoutput(rundist(&config));
}
