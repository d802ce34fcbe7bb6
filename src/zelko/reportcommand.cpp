// zelko report: the HTML page of a table zelko scan wrote, with the motif files it read (and,
// when given, the sequences it searched); and the page zelko scan --html writes.
//
// Contents: help; reading the command line; the command line shown on the page;
// writescanreport; reportcommand.
#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "htmlreport/htmlreport.hpp"
#include "htmlreport/scanreport.hpp"
#include "scan/scan.hpp"
#include "zelko/commands.hpp"

namespace {

// ---- Help ----------------------------------------------------------------------------------

const char *const reporthelp =
    "Usage: zelko report [options] TABLE MOTIFS...\n"
    "Writes one HTML page of the TSV table zelko scan wrote (plain or gzip; - for\n"
    "standard input) and the MOTIFS files that scan read: the same page as\n"
    "zelko scan --html. The page needs nothing else (no network, no other file): a\n"
    "run summary, and per motif its logo (letter heights in bits), hits, hits per kb,\n"
    "hits expected by chance (windows tested times the exact p-value of the threshold),\n"
    "their ratio and the sequences with a hit, in a table that sorts by any column; a\n"
    "click on a row shows the hit positions per strand, the score distribution and the\n"
    "20 best hits. The table is read once, as it streams: plots are binned counts.\n"
    "\n"
    "Give the scan's sequence file with --sequences for the sequence count, hits per\n"
    "kb, the windows tested, the hits expected by chance and centred positions, and\n"
    "the scan's --pvalue, --background and --pseudocount for their statistics (a\n"
    "warning says when the table's thresholds differ from those they give).\n"
    "\n"
    "Options:\n"
    "  -o, --output=FILE       Write the page to FILE (written under a temporary name\n"
    "                          and renamed when complete) instead of standard output.\n"
    "  -s, --sequences=FILE    The sequence file (or index) the scan searched.\n"
    "  -p, --pvalue=P          The scan's p-value cutoff (default 1e-4).\n"
    "      --forward           The scan searched the forward strand only.\n"
    "  -b, --background=BG     The scan's background: `sequences' (default), `uniform',\n"
    "                          or a frequency file.\n"
    "      --pseudocount=P     The scan's pseudocount (default 1).\n"
    "      --motif-format=F    `auto' (default), `jaspar', `transfac', `meme' or\n"
    "                          `library'.\n"
    "      --dna, --protein    The sequences' alphabet, as for zelko scan.\n"
    "      --bin-width=N       Letters per bin of the position plots (default: a round\n"
    "                          width giving at most 100 bins).\n"
    "      --center            Positions relative to the sequence centre (needs\n"
    "                          --sequences).\n"
    "  -q, --quiet             No warnings.\n"
    "  -h, --help              Show this help.\n"
    "  -V, --version           Show the version.\n"
    "\n"
    "Exit status: 0 after writing the page, 1 when it failed, 2 for a usage error.\n";

// ---- Reading the command line ------------------------------------------------------------

struct ReportCommandLine {
  const char *output = nullptr;
  const char *sequencefile = nullptr;
  double pvalue = 1e-4;
  bool forward = false;
  ScanBackground background;
  double pseudocount = 1.0;
  ScanFormat motifformat = SCAN_FORMAT_AUTO;
  ScanAlphabet alphabet = SCAN_ALPHABET_AUTO;
  const char *alphabetoption = nullptr;
  uint64_t binwidth = 0;
  bool centred = false;
  bool quiet = false;
  std::string table;
  std::vector<std::string> motiffiles;
};

enum Outcome { OUTCOME_RUN, OUTCOME_HELP, OUTCOME_VERSION, OUTCOME_USAGE };

enum LongOnly {
  OPTION_FORWARD = 256,
  OPTION_PSEUDOCOUNT,
  OPTION_MOTIFFORMAT,
  OPTION_DNA,
  OPTION_PROTEIN,
  OPTION_BINWIDTH,
  OPTION_CENTER,
};

constexpr option longoptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"sequences", required_argument, nullptr, 's'},
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
    {nullptr, 0, nullptr, 0},
};
constexpr const char *shortoptions = ":o:s:p:b:qhV";

void usageerror(const char *format, const char *a = "", const char *b = "") {
  std::fputs("zelko report: ", stderr);
  std::fprintf(stderr, format, a, b);
  std::fputs("\nTry `zelko report --help' for more information.\n", stderr);
}

bool readreal(const char *text, double *ret_value) {
  char *end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(value)) return false;
  *ret_value = value;
  return true;
}

Outcome readcommandline(int argc, char **argv, ReportCommandLine *line) {
  opterr = 0;
  optind = 1;
  for (;;) {
    int index = -1;
    const int code = getopt_long(argc, argv, shortoptions, longoptions, &index);
    if (code == -1) break;
    const std::string name = index >= 0 ? std::string("--") + longoptions[index].name
                                        : std::string("-") + static_cast<char>(code);
    const char *value = optarg;
    double number = 0.0;
    switch (code) {
      case 'o':
        line->output = value;
        break;
      case 's':
        line->sequencefile = value;
        break;
      case 'p':
        if (!readreal(value, &number) || !(number > 0.0 && number <= 1.0)) {
          usageerror("%s: `%s' is no p-value above 0 and at most 1", name.c_str(), value);
          return OUTCOME_USAGE;
        }
        line->pvalue = number;
        break;
      case OPTION_FORWARD:
        line->forward = true;
        break;
      case 'b':
        if (std::strcmp(value, "sequences") == 0) {
          line->background.kind = SCAN_BACKGROUND_SEQUENCES;
        } else if (std::strcmp(value, "uniform") == 0) {
          line->background.kind = SCAN_BACKGROUND_UNIFORM;
        } else {
          line->background.kind = SCAN_BACKGROUND_FILE;
          line->background.filename = value;
        }
        break;
      case OPTION_PSEUDOCOUNT:
        if (!readreal(value, &number) || !(number > 0.0)) {
          usageerror("%s: `%s' is no positive number", name.c_str(), value);
          return OUTCOME_USAGE;
        }
        line->pseudocount = number;
        break;
      case OPTION_MOTIFFORMAT: {
        static constexpr struct {
          const char *word;
          ScanFormat format;
        } formats[] = {{"auto", SCAN_FORMAT_AUTO},         {"jaspar", SCAN_FORMAT_JASPAR},
                       {"transfac", SCAN_FORMAT_TRANSFAC}, {"meme", SCAN_FORMAT_MEME},
                       {"library", SCAN_FORMAT_LIBRARY}};
        bool known = false;
        for (const auto &entry : formats) {
          if (std::strcmp(value, entry.word) == 0) {
            line->motifformat = entry.format;
            known = true;
          }
        }
        if (!known) {
          usageerror("%s: `%s' is none of auto, jaspar, transfac, meme, library",
                     name.c_str(), value);
          return OUTCOME_USAGE;
        }
        break;
      }
      case OPTION_DNA:
      case OPTION_PROTEIN: {
        const char *option = code == OPTION_DNA ? "--dna" : "--protein";
        if (line->alphabetoption != nullptr && std::strcmp(line->alphabetoption, option) != 0) {
          usageerror("options %s and %s exclude each other", line->alphabetoption, option);
          return OUTCOME_USAGE;
        }
        line->alphabetoption = option;
        line->alphabet = code == OPTION_DNA ? SCAN_ALPHABET_DNA : SCAN_ALPHABET_PROTEIN;
        break;
      }
      case OPTION_BINWIDTH:
        if (!readbinwidth(value, &line->binwidth)) {
          usageerror("%s: `%s' is no number of letters from 1 to 10^12", name.c_str(), value);
          return OUTCOME_USAGE;
        }
        break;
      case OPTION_CENTER:
        line->centred = true;
        break;
      case 'q':
        line->quiet = true;
        break;
      case 'h':
        return OUTCOME_HELP;
      case 'V':
        return OUTCOME_VERSION;
      case ':':
        usageerror("option %s needs a value", argv[optind - 1]);
        return OUTCOME_USAGE;
      default:
        // A long option given a value it takes none of: getopt names it by its code.
        for (const option *known = longoptions; known->name != nullptr; known++) {
          if (optopt != 0 && known->val == optopt) {
            usageerror("option --%s takes no value", known->name);
            return OUTCOME_USAGE;
          }
        }
        if (optopt != 0) {
          const char shortname[3] = {'-', static_cast<char>(optopt), '\0'};
          usageerror("unknown option %s", shortname);
        } else {
          usageerror("unknown option %s", argv[optind - 1]);
        }
        return OUTCOME_USAGE;
    }
  }
  if (line->centred && line->sequencefile == nullptr) {
    usageerror("option %s needs %s", "--center", "--sequences");
    return OUTCOME_USAGE;
  }
  const int files = argc - optind;
  if (files < 2) {
    usageerror(files == 0 ? "a table and motif files are needed"
                          : "the motif files are needed after the table");
    return OUTCOME_USAGE;
  }
  line->table = argv[optind];
  for (int i = optind + 1; i < argc; i++) line->motiffiles.emplace_back(argv[i]);
  return OUTCOME_RUN;
}

// ---- The command line shown on the page --------------------------------------------------

// The words as a shell takes them back: plain words as they are, others in single quotes.
std::string commandlinetext(int argc, char **argv) {
  std::string text = "zelko";
  for (int i = 0; i < argc; i++) {
    const std::string_view word = argv[i];
    bool plain = !word.empty();
    for (const char c : word) {
      const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || std::strchr("-_./=:,+@%", c) != nullptr;
      plain = plain && safe;
    }
    text += ' ';
    if (plain) {
      text += word;
      continue;
    }
    text += '\'';
    for (const char c : word) {
      if (c == '\'') {
        text += "'\\''";
      } else {
        text += c;
      }
    }
    text += '\'';
  }
  return text;
}

int failed(const char *message) {
  std::fprintf(stderr, "zelko report: %s\n", message);
  return EXIT_FAILED;
}

void dropwarning(const char *, void *) {}

// Loads the sequences and prepares the motifs with the scan's background and pseudocount.
// Without the sequences, one sequence of every letter stands in, for the weights and score
// ranges (the statistics it would give are not used).
int preparemotifs(ScanMotifs *motifs, const ReportCommandLine &line, ScanSequences *sequences,
                  ScanSequences *standin) {
  const ScanAlphabet alphabet =
      line.alphabet != SCAN_ALPHABET_AUTO ? line.alphabet : motifs->alphabet;
  if (line.sequencefile != nullptr) {
    sequences->path = line.sequencefile;
    if (scan_loadsequences(sequences, alphabet) != 0) return -1;
    return scan_preparemotifs(motifs, *sequences, line.background, line.pseudocount);
  }
  const char *letters = alphabet == SCAN_ALPHABET_PROTEIN ? "ACDEFGHIKLMNPQRSTVWY" : "ACGT";
  if (scan_addsequence(standin, "letters", letters) != 0) return -1;
  if (scan_loadsequences(standin, alphabet) != 0) return -1;
  ScanBackground background = line.background;
  if (background.kind == SCAN_BACKGROUND_SEQUENCES) background.kind = SCAN_BACKGROUND_UNIFORM;
  return scan_preparemotifs(motifs, *standin, background, line.pseudocount);
}

int writepage(const HtmlReport &report, const char *output) {
  if (output == nullptr || std::strcmp(output, "-") == 0) {
    const std::string page = htmlreport_render(report);
    if (std::fwrite(page.data(), 1, page.size(), stdout) != page.size() ||
        std::fflush(stdout) != 0)
      return reporterror("cannot write to standard output: %s", std::strerror(errno));
    return 0;
  }
  return htmlreport_writefile(report, output);
}

}  // namespace

bool readbinwidth(const char *text, uint64_t *ret_width) {
  char *end = nullptr;
  errno = 0;
  const unsigned long long width = std::strtoull(text, &end, 10);
  if (text[0] < '0' || text[0] > '9' || *end != '\0' || errno != 0 || width < 1 ||
      width > 1000000000000ull)
    return false;
  *ret_width = width;
  return true;
}

int preparescanreport(const ScanMotifs &motifs, ScanSequences *sequences, ScanOptions *options,
                      uint64_t binwidth, bool centred, const char *path) {
  // The page is written after the scan: a folder it cannot go to fails before the scan.
  std::string folder = path;
  const size_t slash = folder.find_last_of('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
  if (access(folder.c_str(), W_OK | X_OK) != 0)
    return reporterror("cannot write `%s': %s", path, std::strerror(errno));
  return scanreport_request(motifs, sequences, options, binwidth, centred);
}

int writescanreport(const ScanMotifs &motifs, const ScanSequences &sequences,
                    const ScanResult &result, int argc, char **argv, const char *path) {
  HtmlReport report;
  if (scanreport_build(motifs, sequences, result, commandlinetext(argc, argv), &report) != 0)
    return -1;
  return htmlreport_writefile(report, path);
}

// ---- reportcommand -----------------------------------------------------------------------

int reportcommand(int argc, char **argv) {
  ReportCommandLine line;
  switch (readcommandline(argc, argv, &line)) {
    case OUTCOME_HELP:
      std::fputs(reporthelp, stdout);
      return EXIT_DONE;
    case OUTCOME_VERSION:
      printzelkoversion();
      return EXIT_DONE;
    case OUTCOME_USAGE:
      return EXIT_USAGE;
    case OUTCOME_RUN:
      break;
  }
  scan_setwarninghandler(line.quiet ? dropwarning : nullptr, nullptr);
  ScanMotifs motifs;
  ScanSequences sequences;
  ScanSequences standin;
  const bool withsequences = line.sequencefile != nullptr;
  int status = EXIT_DONE;
  HtmlReport report;
  uint64_t mismatched = 0;
  TableReportOptions options;
  options.binwidth = line.binwidth;
  options.centred = line.centred;
  options.pvalue = line.pvalue;
  options.commandline = commandlinetext(argc, argv);
  options.weightsknown = withsequences || line.background.kind != SCAN_BACKGROUND_SEQUENCES;
  if (scan_readmotifs(line.motiffiles, line.motifformat, &motifs) != 0 ||
      preparemotifs(&motifs, line, &sequences, &standin) != 0) {
    status = failed(scan_errormessage());
  } else {
    const ScanAlphabet alphabet = withsequences ? sequences.alphabet : standin.alphabet;
    options.bothstrands = !line.forward && alphabet != SCAN_ALPHABET_PROTEIN;
    if (scanreport_fromtable(line.table, motifs, withsequences ? &sequences : nullptr, options,
                             &report, &mismatched) != 0 ||
        writepage(report, line.output) != 0) {
      status = failed(errormessageorunknown());
    } else if (mismatched > 0 && !line.quiet) {
      std::fprintf(stderr,
                   "zelko report: warning: the thresholds of %lu motifs in the table are not "
                   "those of p-value %g with this background and pseudocount: give the "
                   "scan's --pvalue, --background and --pseudocount\n",
                   static_cast<unsigned long>(mismatched), line.pvalue);
    }
  }
  scan_freesequences(&standin);
  scan_freesequences(&sequences);
  scan_freemotifs(&motifs);
  return status;
}
