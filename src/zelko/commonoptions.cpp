// The command line zelko scan and zelko report share: the options both take, their checks
// and messages, and the getopt_long loop over them.
#include "zelko/commonoptions.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "zelko/commands.hpp"

namespace {

constexpr option sharedoptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"pvalue", required_argument, nullptr, 'p'},
    {"forward", no_argument, nullptr, OPTION_FORWARD},
    {"background", required_argument, nullptr, 'b'},
    {"pseudocount", required_argument, nullptr, OPTION_PSEUDOCOUNT},
    {"motif-format", required_argument, nullptr, OPTION_MOTIFFORMAT},
    {"dna", no_argument, nullptr, OPTION_DNA},
    {"protein", no_argument, nullptr, OPTION_PROTEIN},
    {"bin-width", required_argument, nullptr, OPTION_BINWIDTH},
    {"center", no_argument, nullptr, OPTION_CENTER},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
};
constexpr const char *sharedshort = "o:p:b:qhV";

// One shared option into *common: OUTCOME_RUN, or what reading ends in.
Outcome readshared(const CommandOptions &command, int code, const char *name, const char *value,
                   CommonOptions *common) {
  double number = 0.0;
  switch (code) {
    case 'o':
      common->output = value;
      return OUTCOME_RUN;
    case 'p':
      if (!readnumber(value, &number) || !(number > 0.0 && number <= 1.0)) {
        usageerror(command, "%s: `%s' is no p-value above 0 and at most 1", name, value);
        return OUTCOME_USAGE;
      }
      common->pvalue = number;
      return OUTCOME_RUN;
    case OPTION_FORWARD:
      common->forward = true;
      return OUTCOME_RUN;
    case 'b':
      if (std::strcmp(value, "sequences") == 0) {
        common->background.kind = SCAN_BACKGROUND_SEQUENCES;
      } else if (std::strcmp(value, "uniform") == 0) {
        common->background.kind = SCAN_BACKGROUND_UNIFORM;
      } else {
        common->background.kind = SCAN_BACKGROUND_FILE;
        common->background.filename = value;
      }
      return OUTCOME_RUN;
    case OPTION_PSEUDOCOUNT:
      if (!readnumber(value, &number) || !(number > 0.0)) {
        usageerror(command, "%s: `%s' is no positive number", name, value);
        return OUTCOME_USAGE;
      }
      common->pseudocount = number;
      return OUTCOME_RUN;
    case OPTION_MOTIFFORMAT: {
      static constexpr struct {
        const char *word;
        ScanFormat format;
      } formats[] = {{"auto", SCAN_FORMAT_AUTO},         {"jaspar", SCAN_FORMAT_JASPAR},
                     {"transfac", SCAN_FORMAT_TRANSFAC}, {"meme", SCAN_FORMAT_MEME},
                     {"library", SCAN_FORMAT_LIBRARY}};
      for (const auto &entry : formats) {
        if (std::strcmp(value, entry.word) == 0) {
          common->motifformat = entry.format;
          return OUTCOME_RUN;
        }
      }
      usageerror(command, "%s: `%s' is none of auto, jaspar, transfac, meme, library", name,
                 value);
      return OUTCOME_USAGE;
    }
    case OPTION_DNA:
    case OPTION_PROTEIN:
      if (!chooseonce(command, &common->alphabetoption,
                      code == OPTION_DNA ? "--dna" : "--protein")) {
        return OUTCOME_USAGE;
      }
      common->alphabet = code == OPTION_DNA ? SCAN_ALPHABET_DNA : SCAN_ALPHABET_PROTEIN;
      return OUTCOME_RUN;
    case OPTION_BINWIDTH:
      if (!readwhole(value, 1, 1000000000000ull, &common->binwidth)) {
        usageerror(command, "%s: `%s' is no number of letters from 1 to 10^12", name, value);
        return OUTCOME_USAGE;
      }
      return OUTCOME_RUN;
    case OPTION_CENTER:
      common->centred = true;
      return OUTCOME_RUN;
    case 'q':
      common->quiet = true;
      return OUTCOME_RUN;
    case 'h':
      return OUTCOME_HELP;
    case 'V':
      return OUTCOME_VERSION;
    default:
      return OUTCOME_USAGE;  // not a shared option: readoptions does not call this
  }
}

bool isshared(int code) {
  for (const option &entry : sharedoptions) {
    if (entry.val == code) return true;
  }
  return false;
}

// A getopt_long failure: a missing value, a long option given a value it takes none of, or
// an unknown option.
void optionerror(const CommandOptions &command, int code, char **argv) {
  if (code == ':') {
    usageerror(command, "option %s needs a value", argv[optind - 1]);
    return;
  }
  // The long option given a value: getopt names it by its code.
  for (const option &known : command.longoptions) {
    if (known.name != nullptr && optopt != 0 && known.val == optopt) {
      usageerror(command, "option --%s takes no value", known.name);
      return;
    }
  }
  if (optopt != 0) {
    const char shortname[3] = {'-', static_cast<char>(optopt), '\0'};
    usageerror(command, "unknown option %s", shortname);
  } else {
    usageerror(command, "unknown option %s", argv[optind - 1]);
  }
}

}  // namespace

CommandOptions commandoptions(const char *command, std::initializer_list<option> own,
                              const char *ownshort) {
  CommandOptions options;
  options.command = command;
  options.longoptions.assign(std::begin(sharedoptions), std::end(sharedoptions));
  options.longoptions.insert(options.longoptions.end(), own.begin(), own.end());
  options.longoptions.push_back({nullptr, 0, nullptr, 0});
  options.shortoptions = std::string(":") + sharedshort + ownshort;
  return options;
}

void usageerror(const CommandOptions &command, const char *format, const char *a,
                const char *b) {
  std::fprintf(stderr, "zelko %s: ", command.command);
  std::fprintf(stderr, format, a, b);
  std::fprintf(stderr, "\nTry `zelko %s --help' for more information.\n", command.command);
}

Outcome readoptions(const CommandOptions &command, int argc, char **argv,
                    CommonOptions *common, const OwnOption &own) {
  opterr = 0;
  optind = 1;
  for (;;) {
    int index = -1;
    const int code = getopt_long(argc, argv, command.shortoptions.c_str(),
                                 command.longoptions.data(), &index);
    if (code == -1) return OUTCOME_RUN;
    if (code == ':' || code == '?') {
      optionerror(command, code, argv);
      return OUTCOME_USAGE;
    }
    // The option's name as the user wrote it, for messages.
    const std::string name = index >= 0 ? std::string("--") + command.longoptions[index].name
                                        : std::string("-") + static_cast<char>(code);
    const Outcome outcome = isshared(code) ? readshared(command, code, name.c_str(), optarg, common)
                                           : own(code, name.c_str(), optarg);
    if (outcome != OUTCOME_RUN) return outcome;
  }
}

bool chooseonce(const CommandOptions &command, const char **chosen, const char *option) {
  if (*chosen != nullptr && std::strcmp(*chosen, option) != 0) {
    usageerror(command, "options %s and %s exclude each other", *chosen, option);
    return false;
  }
  *chosen = option;
  return true;
}

bool refusesharedfiles(const CommandOptions &command, const std::vector<NamedFile> &outputs,
                       const std::vector<NamedFile> &inputs) {
  NamedFile output, other;
  if (findsharedfile(outputs, inputs, &output, &other)) return true;
  const std::string text = "`" + output.path + "', " + output.role + ", is " + other.role +
                           (output.path == other.path ? "" : " `" + other.path + "'") +
                           ": give another output file";
  usageerror(command, "%s", text.c_str());
  return false;
}

bool readnumber(const char *text, double *ret_value) {
  char *end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(value)) return false;
  *ret_value = value;
  return true;
}

bool readwhole(const char *text, uint64_t low, uint64_t high, uint64_t *ret_value) {
  char *end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (text[0] < '0' || text[0] > '9' || *end != '\0' || errno != 0 || value < low ||
      value > high)
    return false;
  *ret_value = value;
  return true;
}

int outcomestatus(Outcome outcome, const char *help) {
  switch (outcome) {
    case OUTCOME_HELP:
      std::fputs(help, stdout);
      return EXIT_DONE;
    case OUTCOME_VERSION:
      printzelkoversion();
      return EXIT_DONE;
    case OUTCOME_USAGE:
      return EXIT_USAGE;
    case OUTCOME_RUN:
      break;
  }
  return -1;
}

namespace {
void dropwarning(const char *, void *) {}
}  // namespace

void setwarnings(bool quiet) { scan_setwarninghandler(quiet ? dropwarning : nullptr, nullptr); }

int commandfailed(const char *command, const char *message) {
  std::fprintf(stderr, "zelko %s: %s\n", command, message);
  return EXIT_FAILED;
}
