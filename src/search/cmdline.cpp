// The zelkosearch command line. The option table below is the one source of the option
// names, numbers, help texts and exclusions; the parser and -help both read it.
//
// Contents: option table and exclusions; value conversions; reading the words; combination
// checks; help and version.
#include "search/cmdline.hpp"

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/error.hpp"
#include "base/optionvalues.hpp"
#include "base/procopt.hpp"
#include "base/threadedbuild.hpp"
#include "matching/enginebanner.hpp"
#include "search/banner.hpp"

namespace {

// ---- Option table and exclusions --------------------------------------------------------

struct SearchOption {
  OptionDeclaration declaration;
  bool threadedonly;  // declared only in the threaded build
};

constexpr SearchOption everyoption[] = {
    {{"-help", "Show help screen."}, false},
    {{"-version", "Show program version."}, false},
    {{"-db",
      "Name of a database to search in, which can be either an enhanced\n"
      "suffix array, a Fasta, GENBANK, or EMBL file."},
     false},
    {{"-pr", "Name of a profile library file."}, false},
    {{"-protein", "Use protein alphabet for input sequence."}, false},
    {{"-dna", "Use DNA alphabet for input sequence."}, false},
    {{"-smap", "Name of a symbol map file for input sequence alphabet."}, false},
    {{"-freq", "Name of a frequency file."}, false},
    {{"-uniform", "Assume uniform character distribution in input sequence."}, false},
    {{"-pdis", "Name of a precalculated probability distribution file."}, false},
    {{"-lazy", "Lazy probability evaluation."}, false},
    {{"-esa",
      "Enhanced suffix array search algorithm (only applicable if the input\n"
      "is really an enhanced suffix array)."},
     false},
    {{"-lahead", "Lookahead search algorithm."}, false},
    {{"-simple", "Simple search algorithm."}, false},
    {{"-eval", "An E-value to determine the threshold from."}, false},
    {{"-pval", "A p-value to determine the threshold from."}, false},
    {{"-mssth", "A matrix similarity score (MSS) to determine the threshold from."}, false},
    {{"-rawth", "Raw threshold value."}, false},
    {{"-best", "Search for k best matches for each PSSM."}, false},
    {{"-all", "Search for all PSSMs, even if they cannot code for the given cutoff."}, false},
    {{"-dbsize", "Size of database for E-value tuning (optional if -eval is used)."}, false},
    {{"-realpha", "Use reduced alphabet for searching protein PSSMs."}, false},
    {{"-sort",
      "Sort output by key. Valid keys are i=identifier, a=accession,\n"
      "p=p-value, e=E-value, m=mss, s=score, n=sequence number, o=position,\n"
      "r=group ID, t=group position, g=group ID/position (=rt)."},
     false},
    {{"-format", "Output format, one of \"human\" (default), \"cisml\", \"tabs\", or \"null\"."},
     false},
    {{"-fn", "Search in forward direction (default)."}, false},
    {{"-rc", "Search for reverse complementary matches (only applicable on DNA)."}, false},
    {{"-rn", "Search for reverse non-complementary matches."}, false},
    {{"-fc", "Search for complementary matches (only applicable on DNA)."}, false},
    {{"-2", "Search forward and reverse complementary (short for ``-fn -rc'')."}, false},
    {{"-4", "Search in all possible ways (short for ``-fn -fc -rn -rc'')."}, false},
    {{"-ncompl",
      "When reporting complementary matches, print out the matching\n"
      "sequences as appearing in the database instead of complementary."},
     false},
    {{"-seqrange", "Sequence range in which to search, given as min:max pair."}, false},
    {{"-mult", "Multiplier (default is 1.0)."}, false},
    {{"-j",
      "Number of simultaneous jobs (default is 1). If no argument is given,\n"
      "the number of CPUs is queried from the operating system."},
     true},
    {{"-qm", "Suppress status messages."}, false},
    {{"-qw", "Suppress warnings."}, false},
    {{"-q", "Quiet execution, suppress warnings and status messages."}, false},
};

constexpr size_t countsearchoptions() {
  size_t count = 0;
  for (const SearchOption &option : everyoption) {
    if (threadedbuild || !option.threadedonly) count++;
  }
  return count;
}
constexpr size_t searchoptioncount = countsearchoptions();

// The options of this build, numbered in declaration order.
constexpr std::array<OptionDeclaration, searchoptioncount> searchoptions = [] {
  std::array<OptionDeclaration, searchoptioncount> options{};
  size_t count = 0;
  for (const SearchOption &option : everyoption) {
    if (threadedbuild || !option.threadedonly) options[count++] = option.declaration;
  }
  return options;
}();
static_assert(searchoptioncount == (threadedbuild ? 37 : 36));

// Option numbers are computed from the table at compile time, so the single-threaded build,
// whose table lacks -j, gets its own numbers; a misspelt name does not compile.
consteval uint64_t optionnumber(std::string_view name) { return optionindex(searchoptions, name); }
// -j exists only in the threaded build; elsewhere no option has this number.
constexpr uint64_t jobsoption =
    threadedbuild ? optionindex(searchoptions, "-j") : searchoptioncount;
static_assert(optionnumber("-q") == (threadedbuild ? 36 : 35));

constexpr std::array<ExclusionPair, 33> exclusionpairs = {{
    {"-smap", "-esa"},     {"-smap", "-protein"}, {"-smap", "-dna"},   {"-protein", "-esa"},
    {"-protein", "-dna"},  {"-protein", "-fc"},   {"-protein", "-rc"}, {"-protein", "-2"},
    {"-protein", "-4"},    {"-realpha", "-fc"},   {"-realpha", "-rc"}, {"-realpha", "-2"},
    {"-realpha", "-4"},    {"-dna", "-esa"},      {"-eval", "-pval"},  {"-eval", "-rawth"},
    {"-eval", "-mssth"},   {"-eval", "-best"},    {"-pval", "-rawth"}, {"-pval", "-mssth"},
    {"-pval", "-best"},    {"-rawth", "-mssth"},  {"-rawth", "-best"}, {"-rawth", "-lazy"},
    {"-mssth", "-best"},   {"-mssth", "-lazy"},   {"-best", "-all"},   {"-best", "-simple"},
    {"-freq", "-uniform"}, {"-pdis", "-lazy"},    {"-pdis", "-freq"},  {"-pdis", "-uniform"},
    {"-mult", "-pdis"},
}};
constexpr auto exclusionlist = makeexclusionlist(searchoptions, exclusionpairs);

constexpr double maximummultiplier = 1000.0;

// ---- Value conversions ------------------------------------------------------------------

// A sequence range "m:n" of decimal digits with m <= n.
int readrange(const char *text, const char *option, RunConfiguration *config) {
  char *copy = copystring(text);
  char *colon = nullptr;
  for (char *c = copy; *c != '\0'; c++) {
    if (*c == ':' && colon == nullptr) {
      colon = c;
    } else if (!std::isdigit(static_cast<unsigned char>(*c))) {
      std::free(copy);
      return reporterror("Invalid characters in range for option %s.", option);
    }
  }
  if (colon == nullptr) {
    std::free(copy);
    return reporterror("A range is denoted by `m:n' where m is less or equal to n (option %s).",
                       option);
  }
  *colon = '\0';
  const char *upper = colon + 1;
  // Only digits are left, so a part converts unless it is empty; a part beyond the range of
  // long is read as the largest long.
  if (*copy == '\0') {
    std::free(copy);
    return reporterror("The lower boundary must be a positive integer or 0 (option %s).", option);
  }
  if (*upper == '\0') {
    std::free(copy);
    return reporterror("The upper boundary must be a positive integer or 0 (option %s).", option);
  }
  const long lower = std::strtol(copy, nullptr, 10);
  const long higher = std::strtol(upper, nullptr, 10);
  std::free(copy);
  if (lower > higher) {
    return reporterror(
        "First number of a range is expected to be less than or equal to the second number "
        "(option %s).",
        option);
  }
  config->seqrangelower = static_cast<uint64_t>(lower);
  config->seqrangeupper = static_cast<uint64_t>(higher);
  return 0;
}

int readformat(const char *text, RunConfiguration *config) {
  static constexpr struct {
    const char *word;
    OutputFormat format;
  } formats[] = {{"human", FORMAT_HUMAN},
                 {"cisml", FORMAT_CISML},
                 {"tabs", FORMAT_TABS},
                 {"null", FORMAT_NULL}};
  for (const auto &entry : formats) {
    if (std::strcmp(text, entry.word) == 0) {
      config->format = entry.format;
      return 0;
    }
  }
  return reporterror("Supported output formats are \"human\", \"cisml\", \"tabs\", and \"null\".");
}

// ---- Reading the words ------------------------------------------------------------------

struct CommandLine {
  OptionEntry table[searchoptioncount];
  RunConfiguration *config;
  int argc;
  char **argv;
  int next;  // index of the next word

  bool given(uint64_t number) const { return table[number].present != 0; }

  // The next word as the value of option, or null with "Missing argument".
  const char *value() {
    if (next >= argc) {
      reporterror("Missing argument");
      return nullptr;
    }
    return argv[next++];
  }
};

int readthreshold(CommandLine *line, const char *option, ThresholdKind kind) {
  const char *text = line->value();
  if (text == nullptr) return -1;
  double value;
  if (readreal(text, option, &value) != 0) return -1;
  // The ranges are written so that NaN fails them too.
  switch (kind) {
    case THRESHOLD_EVALUE:
      if (!(value >= 0.0)) return reporterror("An E-value cannot take negative values.");
      break;
    case THRESHOLD_PVALUE:
      if (!(value >= 0.0 && value <= 1.0)) {
        return reporterror("A p-value can only take values between 0.0 and 1.0.");
      }
      break;
    case THRESHOLD_MSS:
      if (!(value >= 0.0 && value <= 1.0)) {
        return reporterror("A matrix similarity score can only take values between 0.0 and 1.0.");
      }
      break;
    default:
      break;
  }
  line->config->settings.thresholdkind = kind;
  line->config->settings.thresholdvalue = value;
  return 0;
}

int readjobs(CommandLine *line, const char *option) {
  RunConfiguration *config = line->config;
  // The value is optional: a following option word is not taken as the value.
  if (line->next >= line->argc || line->argv[line->next][0] == '-') {
    config->settings.jobs = processorjobs(config->statusoff);
    return 0;
  }
  uint64_t jobs;
  if (readcount(line->argv[line->next++], option, &jobs) != 0) return -1;
  if (jobs < 1 || jobs > maximumjobs) {
    return reporterror("The number of jobs must be in a range from 1 to %lu.",
                       static_cast<unsigned long>(maximumjobs));
  }
  config->settings.jobs = jobs;
  return 0;
}

// Acts on option number found at the current word; 0, or -1 with the error reported.
int readoption(CommandLine *line, uint64_t number) {
  RunConfiguration *config = line->config;
  const char *option = searchoptions[number].name;
  if (number == jobsoption) return readjobs(line, option);
  const char *text = nullptr;
  switch (number) {
    case optionnumber("-db"):
      if ((config->settings.databasename = line->value()) == nullptr) return -1;
      break;
    case optionnumber("-pr"):
      if ((config->settings.libraryname = line->value()) == nullptr) return -1;
      break;
    case optionnumber("-protein"):
      config->protein = true;
      break;
    case optionnumber("-dna"):
      config->dna = true;
      break;
    case optionnumber("-smap"):
      if ((config->smapname = line->value()) == nullptr) return -1;
      break;
    case optionnumber("-freq"):
      if ((config->settings.frequencyname = line->value()) == nullptr) return -1;
      config->frequenciesgiven = true;
      break;
    case optionnumber("-uniform"):
      config->frequenciesgiven = true;
      break;
    case optionnumber("-pdis"):
      if ((config->settings.distributionname = line->value()) == nullptr) return -1;
      config->distributiongiven = true;
      break;
    case optionnumber("-lazy"):
      config->settings.lazy = true;
      config->settings.distributionname = nullptr;
      break;
    case optionnumber("-esa"):
      config->settings.algorithm = ALGORITHM_ESA;
      break;
    case optionnumber("-lahead"):
      config->settings.algorithm = ALGORITHM_LOOKAHEAD;
      break;
    case optionnumber("-simple"):
      config->settings.algorithm = ALGORITHM_SIMPLE;
      break;
    case optionnumber("-eval"):
      return readthreshold(line, option, THRESHOLD_EVALUE);
    case optionnumber("-pval"):
      return readthreshold(line, option, THRESHOLD_PVALUE);
    case optionnumber("-mssth"):
      return readthreshold(line, option, THRESHOLD_MSS);
    case optionnumber("-rawth"):
      return readthreshold(line, option, THRESHOLD_RAW);
    case optionnumber("-best"): {
      if ((text = line->value()) == nullptr) return -1;
      uint64_t k;
      if (readcount(text, option, &k) != 0) return -1;
      if (k == 0) return reporterror("Requesting zero best matches doesn't make sense.");
      config->settings.thresholdkind = THRESHOLD_KBEST;
      config->settings.kbest = k;
      break;
    }
    case optionnumber("-all"):
      config->settings.allmatrices = true;
      break;
    case optionnumber("-dbsize"):
      if ((text = line->value()) == nullptr) return -1;
      if (readcount(text, option, &config->settings.dbsize) != 0) return -1;
      config->dbsizegiven = true;
      break;
    case optionnumber("-realpha"):
      config->reducedalphabet = true;
      break;
    case optionnumber("-sort"):
      if ((config->sortkeys = line->value()) == nullptr) return -1;
      break;
    case optionnumber("-format"):
      if ((text = line->value()) == nullptr) return -1;
      return readformat(text, config);
    case optionnumber("-fn"):
      config->settings.strands |= STRAND_FORWARD;
      break;
    case optionnumber("-rc"):
      config->settings.strands |= STRAND_REVERSECOMPLEMENT;
      break;
    case optionnumber("-rn"):
      config->settings.strands |= STRAND_REVERSE;
      break;
    case optionnumber("-fc"):
      config->settings.strands |= STRAND_COMPLEMENT;
      break;
    case optionnumber("-2"):
      config->settings.strands |= STRAND_FORWARD | STRAND_REVERSECOMPLEMENT;
      break;
    case optionnumber("-4"):
      config->settings.strands |=
          STRAND_FORWARD | STRAND_REVERSE | STRAND_COMPLEMENT | STRAND_REVERSECOMPLEMENT;
      break;
    case optionnumber("-ncompl"):
      config->ncompl = true;
      break;
    case optionnumber("-seqrange"):
      if ((text = line->value()) == nullptr) return -1;
      config->seqrangegiven = true;
      return readrange(text, option, config);
    case optionnumber("-mult"): {
      if ((text = line->value()) == nullptr) return -1;
      double multiplier;
      if (readreal(text, option, &multiplier) != 0) return -1;
      if (!(multiplier > 0.0 && multiplier <= maximummultiplier)) {
        return reporterror("The multiplier must be a positive real number, not exceeding %.0f.",
                           maximummultiplier);
      }
      config->settings.multiplier = multiplier;
      break;
    }
    case optionnumber("-qm"):
      config->statusoff = true;
      break;
    case optionnumber("-qw"):
      config->warningsoff = true;
      break;
    case optionnumber("-q"):
      config->statusoff = true;
      config->warningsoff = true;
      break;
    default:
      return internalerror();
  }
  return 0;
}

// ---- Combination checks -----------------------------------------------------------------

int checksortkeys(const CommandLine &line) {
  const char *keys = line.config->sortkeys;
  static constexpr std::string_view validkeys = "iapemsnortg";
  bool seen[256] = {};
  bool probability = false;
  for (const char *c = keys; *c != '\0'; c++) {
    const unsigned char key = static_cast<unsigned char>(*c);
    if (seen[key]) return reporterror("Sort key `%c' specified multiple times.", *c);
    seen[key] = true;
    if (validkeys.find(*c) == std::string_view::npos) {
      return reporterror("Invalid sort key `%c'.", *c);
    }
    if (*c == 'e' || *c == 'p') probability = true;
  }
  if (probability && !line.given(optionnumber("-pdis")) && !line.given(optionnumber("-freq")) &&
      !line.given(optionnumber("-uniform"))) {
    return reporterror(
        "Sorting by E- or p-value impossible, don't know how to calculate probability "
        "distribution for E- and p-value derivation (need character frequencies or "
        "precalculated distribution).");
  }
  return 0;
}

int checkcombination(const CommandLine &line) {
  RunConfiguration *config = line.config;
  if (checkexclusions(line.table, exclusionlist.data(), exclusionlist.size()) != 0) {
    seterrorcode(1);
    return -1;
  }
  if (!line.given(optionnumber("-pr"))) return reporterror("option %s is mandatory", "-pr");
  if (!line.given(optionnumber("-db"))) return reporterror("option %s is mandatory", "-db");
  const bool eval = line.given(optionnumber("-eval"));
  const bool pval = line.given(optionnumber("-pval"));
  const bool best = line.given(optionnumber("-best"));
  if (!eval && !pval && !line.given(optionnumber("-rawth")) &&
      !line.given(optionnumber("-mssth")) && !best) {
    return reporterror("either option %s, %s, %s, %s, or %s is mandatory", "-eval", "-pval",
                       "-rawth", "-mssth", "-best");
  }
  const bool frequencies =
      line.given(optionnumber("-freq")) || line.given(optionnumber("-uniform"));
  if (line.given(optionnumber("-mssth")) || line.given(optionnumber("-rawth")) || best) {
    if (line.given(optionnumber("-mult")) && !frequencies) {
      return reporterror("option %s requires either option %s or %s", "-mult", "-freq", "-uniform");
    }
  } else if (line.given(optionnumber("-pdis")) == line.given(optionnumber("-lazy"))) {
    return reporterror("either option %s or %s is mandatory", "-pdis", "-lazy");
  }
  if (line.given(optionnumber("-lazy")) && !frequencies) {
    const char *requiring = pval ? "-pval" : eval ? "-eval" : best ? "-lazy" : nullptr;
    if (requiring != nullptr) {
      return reporterror("option %s requires either option %s or %s", requiring, "-freq",
                         "-uniform");
    }
  }
  if (line.given(optionnumber("-dbsize")) && !eval) {
    return reporterror("option %s requires option %s", "-dbsize", "-eval");
  }
  const int algorithms = (line.given(optionnumber("-simple")) ? 1 : 0) +
                         (line.given(optionnumber("-lahead")) ? 1 : 0) +
                         (line.given(optionnumber("-esa")) ? 1 : 0);
  if (algorithms != 1) {
    return reporterror("either option %s, %s, or %s is mandatory", "-simple", "-lahead", "-esa");
  }
  if (config->settings.strands == 0) config->settings.strands = STRAND_FORWARD;
  if (line.given(optionnumber("-realpha")) && best && line.given(optionnumber("-esa"))) {
    return reporterror(
        "Options %s and %s cannot be combined with %s. Use lookahead search instead.", "-realpha",
        "-best", "-esa");
  }
  if (line.given(optionnumber("-esa")) && line.given(optionnumber("-seqrange"))) {
    return reporterror("Option %s can only be used with simple or lookahead search.", "-seqrange");
  }
  if (config->format == FORMAT_CISML && line.given(optionnumber("-sort"))) {
    return reporterror("Option %s cannot be used with CisML output format.", "-sort");
  }
  if (config->sortkeys != nullptr && checksortkeys(line) != 0) return -1;
  // CisML lists its matches by matrix, then by sequence.
  if (config->format == FORMAT_CISML) config->sortkeys = "gn";
  return 0;
}

}  // namespace

// ---- Entry points -----------------------------------------------------------------------

CommandLineOutcome parsecommandline(RunConfiguration *config, int argc, char **argv) {
  initrunconfiguration(config);
  CommandLine line;
  line.config = config;
  line.argc = argc;
  line.argv = argv;
  line.next = 1;
  if (declareoptions(line.table, searchoptions.data(), searchoptioncount) != 0) {
    seterrorcode(1);
    return COMMANDLINE_ERROR;
  }
  while (line.next < argc) {
    const char *word = argv[line.next++];
    const int64_t number = findoption(line.table, searchoptioncount, word);
    if (number < 0) {
      if (std::strcmp(word, "--version") == 0) return COMMANDLINE_VERSION;
      if (std::strcmp(word, "-fwd") == 0 || std::strcmp(word, "-rev") == 0) {
        reporterror(
            "Options `-fwd' and `-rev' have been replaced by options `%s', `%s', `%s', and "
            "`%s'. Please use `%s' or read the full documentation to learn about these new "
            "options.",
            "-fn", "-rc", "-rn", "-fc", "-help");
      }
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

void printsearchhelp(const char *program) {
  OptionEntry table[searchoptioncount];
  if (declareoptions(table, searchoptions.data(), searchoptioncount) != 0) fatalcase();
  printoptionhelp(nullptr, program, table, searchoptioncount);
}

void printsearchversion() {
  printsearchbanner();
  std::printf("* %s (%s)\n", enginebanner(), enginefeatures());
}
