// zelko scan: the command line of a scan, its progress line and its output file.
//
// Contents: help; reading the command line; the progress line; the output file; scancommand.
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "scan/scan.hpp"
#include "zelko/commands.hpp"

namespace {

// ---- Help ----------------------------------------------------------------------------------

const char *const scanhelp =
    "Usage: zelko scan [options] MOTIFS... SEQUENCES\n"
    "Searches SEQUENCES with every motif of the MOTIFS files and writes one table of\n"
    "the matches with exact p-values and q-values.\n"
    "\n"
    "MOTIFS: count or frequency matrices in JASPAR, TRANSFAC-style or MEME files\n"
    "(plain or gzip), or profile libraries. Counts become log-odds weights (natural\n"
    "logarithm, the pseudocount spread by the background) times 1000, rounded to\n"
    "integers; FLOAT library matrices are scaled by 1000 the same way (those whose\n"
    "weights are all whole numbers are taken as they are, as INT matrices are).\n"
    "Thresholds and p-values are exact for these integer weights, that is to a\n"
    "thousandth of a unit.\n"
    "SEQUENCES: a Fasta, GenBank or EMBL file (plain or gzip), or an index built by\n"
    "zelkoindex, which is then searched with the index engine.\n"
    "\n"
    "Defaults: both strands of DNA, p-value at most 1e-4, the lookahead engine, the\n"
    "exact lazy distribution, the background counted from SEQUENCES (order 0, over the\n"
    "letters of the alphabet), pseudocount 1, a TSV table with a header row sorted by\n"
    "motif, sequence and position, one thread per available core.\n"
    "\n"
    "q-value: Benjamini-Hochberg per motif over all windows searched for it (N = the\n"
    "windows of every sequence the motif fits in, times the strands), q(i) = min over\n"
    "k >= i of p(k) N / k over the matches ranked by p-value, at most 1. Only matches\n"
    "up to the p-value cutoff are computed and ranked: --qvalue keeps those among them\n"
    "with q <= Q, so raise --pvalue (to 1e-3, say) for --qvalue to see more.\n"
    "\n"
    "Options:\n"
    "  -o, --output=FILE       Write the table to FILE (written under a temporary\n"
    "                          name and renamed when complete) instead of standard\n"
    "                          output.\n"
    "  -p, --pvalue=P          Report windows with p-value <= P (default 1e-4).\n"
    "      --qvalue=Q          Keep only the matches with q-value <= Q.\n"
    "      --forward           Search the forward strand only.\n"
    "  -b, --background=BG     `sequences' (default), `uniform', or a frequency file\n"
    "                          (lines such as \"a 0.3\", as zelkosearch -freq reads).\n"
    "      --pseudocount=P     Pseudocount of the count matrices (default 1).\n"
    "      --motif-format=F    `auto' (default: detected per file), `jaspar',\n"
    "                          `transfac', `meme' or `library'.\n"
    "      --dna               SEQUENCES are DNA (default when every motif has\n"
    "                          nucleotide letters).\n"
    "      --protein           SEQUENCES are protein (forward strand only).\n"
    "      --tsv               Write TSV: the columns of zelkotable's TSV, then\n"
    "                          q_value (default).\n"
    "      --bed               Write BED6 as zelkotable -bed does.\n"
    "      --gff3              Write GFF3 as zelkotable -gff3 does, with a qvalue\n"
    "                          attribute.\n"
    "      --sort=KEY          `position' (default: motif, sequence, position) or\n"
    "                          `pvalue' (smallest first).\n"
    "      --html=FILE         Also write an HTML report to FILE: one page that needs\n"
    "                          nothing else (no network), with every motif's logo,\n"
    "                          hits against chance and plots of hit positions and\n"
    "                          scores; see zelko report --help.\n"
    "      --bin-width=N       Letters per bin of the report's position plots\n"
    "                          (default: a round width giving at most 100 bins).\n"
    "      --center            The report's positions from the sequence centres.\n"
    "  -j, --threads=N         Worker threads (default: the available cores); the\n"
    "                          table is the same for every N.\n"
    "      --progress          Draw the progress line on standard error even when it\n"
    "                          is no terminal.\n"
    "  -q, --quiet             No progress line and no warnings.\n"
    "  -h, --help              Show this help.\n"
    "  -V, --version           Show the version.\n"
    "\n"
    "Exit status: 0 after a scan, 1 when it failed, 2 for a usage error.\n";

// ---- Reading the command line ------------------------------------------------------------

enum TableKind { TABLE_KIND_TSV, TABLE_KIND_BED, TABLE_KIND_GFF3 };

struct ScanCommandLine {
  ScanOptions options;
  ScanFormat motifformat = SCAN_FORMAT_AUTO;
  TableKind table = TABLE_KIND_TSV;
  const char *tableoption = nullptr;     // the option that chose the table, for conflicts
  const char *alphabetoption = nullptr;  // --dna or --protein
  const char *output = nullptr;
  bool progress = false;
  bool quiet = false;
  std::vector<std::string> motiffiles;
  std::string sequencefile;
  // The HTML report: its file, the position bins, centred positions.
  const char *html = nullptr;
  uint64_t binwidth = 0;
  bool centred = false;
};

enum Outcome { OUTCOME_RUN, OUTCOME_HELP, OUTCOME_VERSION, OUTCOME_USAGE };

enum LongOnly {
  OPTION_QVALUE = 256,
  OPTION_FORWARD,
  OPTION_PSEUDOCOUNT,
  OPTION_MOTIFFORMAT,
  OPTION_DNA,
  OPTION_PROTEIN,
  OPTION_TSV,
  OPTION_BED,
  OPTION_GFF3,
  OPTION_SORT,
  OPTION_PROGRESS,
  OPTION_HTML,
  OPTION_BINWIDTH,
  OPTION_CENTER,
};

constexpr option longoptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"pvalue", required_argument, nullptr, 'p'},
    {"qvalue", required_argument, nullptr, OPTION_QVALUE},
    {"forward", no_argument, nullptr, OPTION_FORWARD},
    {"background", required_argument, nullptr, 'b'},
    {"pseudocount", required_argument, nullptr, OPTION_PSEUDOCOUNT},
    {"motif-format", required_argument, nullptr, OPTION_MOTIFFORMAT},
    {"dna", no_argument, nullptr, OPTION_DNA},
    {"protein", no_argument, nullptr, OPTION_PROTEIN},
    {"tsv", no_argument, nullptr, OPTION_TSV},
    {"bed", no_argument, nullptr, OPTION_BED},
    {"gff3", no_argument, nullptr, OPTION_GFF3},
    {"sort", required_argument, nullptr, OPTION_SORT},
    {"threads", required_argument, nullptr, 'j'},
    {"progress", no_argument, nullptr, OPTION_PROGRESS},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"html", required_argument, nullptr, OPTION_HTML},
    {"bin-width", required_argument, nullptr, OPTION_BINWIDTH},
    {"center", no_argument, nullptr, OPTION_CENTER},
    {nullptr, 0, nullptr, 0},
};
constexpr const char *shortoptions = ":o:p:b:j:qhV";

void usageerror(const char *format, const char *a = "", const char *b = "") {
  std::fputs("zelko scan: ", stderr);
  std::fprintf(stderr, format, a, b);
  std::fputs("\nTry `zelko scan --help' for more information.\n", stderr);
}

// A real number, read whole and finite.
bool readnumber(const char *text, double *ret_value) {
  char *end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(value)) return false;
  *ret_value = value;
  return true;
}

// The name of the option being read, as the user wrote it, for messages.
std::string optionname(int code, int index) {
  if (index >= 0) return std::string("--") + longoptions[index].name;
  return std::string("-") + static_cast<char>(code);
}

bool chooseonce(const char **chosen, const char *option) {
  if (*chosen != nullptr && std::strcmp(*chosen, option) != 0) {
    usageerror("options %s and %s exclude each other", *chosen, option);
    return false;
  }
  *chosen = option;
  return true;
}

Outcome readcommandline(int argc, char **argv, ScanCommandLine *line) {
  opterr = 0;
  optind = 1;
  // Options may follow the file names, as GNU programs take them.
  for (;;) {
    int index = -1;
    const int code = getopt_long(argc, argv, shortoptions, longoptions, &index);
    if (code == -1) break;
    const std::string name = optionname(code, index);
    const char *value = optarg;
    double number = 0.0;
    switch (code) {
      case 'o':
        line->output = value;
        break;
      case 'p':
        if (!readnumber(value, &number) || !(number > 0.0 && number <= 1.0)) {
          usageerror("%s: `%s' is no p-value above 0 and at most 1", name.c_str(), value);
          return OUTCOME_USAGE;
        }
        line->options.pvalue = number;
        break;
      case OPTION_QVALUE:
        if (!readnumber(value, &number) || !(number >= 0.0 && number <= 1.0)) {
          usageerror("%s: `%s' is no q-value between 0 and 1", name.c_str(), value);
          return OUTCOME_USAGE;
        }
        line->options.useqvalue = true;
        line->options.qvalue = number;
        break;
      case OPTION_FORWARD:
        line->options.strands = SCAN_STRANDS_FORWARD;
        break;
      case 'b':
        if (std::strcmp(value, "sequences") == 0) {
          line->options.background.kind = SCAN_BACKGROUND_SEQUENCES;
        } else if (std::strcmp(value, "uniform") == 0) {
          line->options.background.kind = SCAN_BACKGROUND_UNIFORM;
        } else {
          line->options.background.kind = SCAN_BACKGROUND_FILE;
          line->options.background.filename = value;
        }
        break;
      case OPTION_PSEUDOCOUNT:
        if (!readnumber(value, &number) || !(number > 0.0)) {
          usageerror("%s: `%s' is no positive number", name.c_str(), value);
          return OUTCOME_USAGE;
        }
        line->options.pseudocount = number;
        break;
      case OPTION_MOTIFFORMAT: {
        static constexpr struct {
          const char *word;
          ScanFormat format;
        } formats[] = {{"auto", SCAN_FORMAT_AUTO},     {"jaspar", SCAN_FORMAT_JASPAR},
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
      case OPTION_PROTEIN:
        if (!chooseonce(&line->alphabetoption, code == OPTION_DNA ? "--dna" : "--protein")) {
          return OUTCOME_USAGE;
        }
        line->options.alphabet = code == OPTION_DNA ? SCAN_ALPHABET_DNA : SCAN_ALPHABET_PROTEIN;
        break;
      case OPTION_TSV:
      case OPTION_BED:
      case OPTION_GFF3: {
        const char *option = code == OPTION_TSV ? "--tsv" : code == OPTION_BED ? "--bed" : "--gff3";
        if (!chooseonce(&line->tableoption, option)) return OUTCOME_USAGE;
        line->table = code == OPTION_TSV   ? TABLE_KIND_TSV
                      : code == OPTION_BED ? TABLE_KIND_BED
                                           : TABLE_KIND_GFF3;
        break;
      }
      case OPTION_SORT:
        if (std::strcmp(value, "position") == 0) {
          line->options.sort = SCAN_SORT_POSITION;
        } else if (std::strcmp(value, "pvalue") == 0) {
          line->options.sort = SCAN_SORT_PVALUE;
        } else {
          usageerror("%s: `%s' is neither position nor pvalue", name.c_str(), value);
          return OUTCOME_USAGE;
        }
        break;
      case 'j': {
        char *end = nullptr;
        errno = 0;
        const unsigned long long threads = std::strtoull(value, &end, 10);
        if (value[0] < '0' || value[0] > '9' || *end != '\0' || errno != 0 || threads < 1 ||
            threads > 128) {
          usageerror("%s: `%s' is no number of threads from 1 to 128", name.c_str(), value);
          return OUTCOME_USAGE;
        }
        line->options.threads = threads;
        break;
      }
      case OPTION_PROGRESS:
        line->progress = true;
        break;
      case OPTION_HTML:
        line->html = value;
        break;
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
  if (line->progress && line->quiet) {
    usageerror("options %s and %s exclude each other", "--progress", "--quiet");
    return OUTCOME_USAGE;
  }
  if ((line->binwidth > 0 || line->centred) && line->html == nullptr) {
    usageerror("option %s needs %s", line->binwidth > 0 ? "--bin-width" : "--center", "--html");
    return OUTCOME_USAGE;
  }
  const int files = argc - optind;
  if (files < 2) {
    usageerror(files == 0 ? "motif files and a sequence file are needed"
                          : "a sequence file is needed after the motif files");
    return OUTCOME_USAGE;
  }
  for (int i = optind; i + 1 < argc; i++) line->motiffiles.emplace_back(argv[i]);
  line->sequencefile = argv[argc - 1];
  return OUTCOME_RUN;
}

// ---- The progress line -------------------------------------------------------------------

struct ProgressLine {
  bool terminal = false;
  bool drawn = false;
  double lastdrawn = -1.0;
};

// "time" as m:ss or h:mm:ss.
std::string clocktext(double seconds) {
  if (!(seconds >= 0.0) || seconds > 359999.0) return "--:--";
  const unsigned long total = static_cast<unsigned long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%lu:%02lu", total / 60, total % 60);
  }
  return text;
}

int drawprogress(const ScanProgress &progress, void *context) {
  ProgressLine *line = static_cast<ProgressLine *>(context);
  // Into a pipe or a file a line a second is plenty; a terminal redraws in place.
  if (!line->terminal && progress.workdone < progress.worktotal &&
      progress.elapsed - line->lastdrawn < 1.0) {
    return 0;
  }
  line->lastdrawn = progress.elapsed;
  const double fraction = progress.worktotal == 0
                              ? 1.0
                              : static_cast<double>(progress.workdone) /
                                    static_cast<double>(progress.worktotal);
  const double rate = progress.elapsed > 0.0
                          ? static_cast<double>(progress.workdone) / progress.elapsed / 1e6
                          : 0.0;
  const double left =
      fraction > 0.0 ? progress.elapsed * (1.0 - fraction) / fraction : -1.0;
  std::fprintf(stderr, "%s%5.1f%%  %.1f of %.1f M letters x motifs x strands  %lu matches  "
               "%.0f M/s  %s left%s",
               line->terminal ? "\r" : "", 100.0 * fraction,
               static_cast<double>(progress.workdone) / 1e6,
               static_cast<double>(progress.worktotal) / 1e6,
               static_cast<unsigned long>(progress.hits), rate, clocktext(left).c_str(),
               line->terminal ? "\033[K" : "\n");
  std::fflush(stderr);
  line->drawn = true;
  return 0;
}

void endprogress(ProgressLine *line) {
  if (line->drawn && line->terminal) std::fputc('\n', stderr);
}

// ---- The output file ---------------------------------------------------------------------

// The table goes to a new file beside the output file, which replaces it when complete, so
// that a failed or cancelled scan leaves no half-written table behind.
struct OutputFile {
  std::string path;
  std::string temporary;
  FILE *stream = nullptr;
};

bool openoutput(const char *path, OutputFile *file) {
  if (path == nullptr || std::strcmp(path, "-") == 0) {
    file->stream = stdout;
    return true;
  }
  file->path = path;
  file->temporary = file->path + ".XXXXXX";
  const int descriptor = mkstemp(file->temporary.data());
  if (descriptor < 0) {
    std::fprintf(stderr, "zelko scan: cannot write `%s': %s\n", path, std::strerror(errno));
    return false;
  }
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(descriptor, 0666 & ~mask);
  file->stream = fdopen(descriptor, "w");
  if (file->stream == nullptr) {
    close(descriptor);
    unlink(file->temporary.c_str());
    std::fprintf(stderr, "zelko scan: cannot write `%s': %s\n", path, std::strerror(errno));
    return false;
  }
  return true;
}

void discardoutput(OutputFile *file) {
  if (file->stream == nullptr || file->stream == stdout) return;
  std::fclose(file->stream);
  file->stream = nullptr;
  unlink(file->temporary.c_str());
}

bool closeoutput(OutputFile *file) {
  if (file->stream == stdout) {
    if (std::fflush(stdout) != 0) {
      std::fprintf(stderr, "zelko scan: cannot write to standard output: %s\n",
                   std::strerror(errno));
      return false;
    }
    return true;
  }
  const bool closed = std::fclose(file->stream) == 0;
  file->stream = nullptr;
  if (!closed || std::rename(file->temporary.c_str(), file->path.c_str()) != 0) {
    std::fprintf(stderr, "zelko scan: cannot write `%s': %s\n", file->path.c_str(),
                 std::strerror(errno));
    unlink(file->temporary.c_str());
    return false;
  }
  return true;
}

void dropwarning(const char *, void *) {}

int failed(const char *message) {
  std::fprintf(stderr, "zelko scan: %s\n", message);
  return EXIT_FAILED;
}

}  // namespace

// ---- scancommand -------------------------------------------------------------------------

int scancommand(int argc, char **argv) {
  ScanCommandLine line;
  switch (readcommandline(argc, argv, &line)) {
    case OUTCOME_HELP:
      std::fputs(scanhelp, stdout);
      return EXIT_DONE;
    case OUTCOME_VERSION:
      printzelkoversion();
      return EXIT_DONE;
    case OUTCOME_USAGE:
      return EXIT_USAGE;
    case OUTCOME_RUN:
      break;
  }
  ProgressLine progress;
  progress.terminal = isatty(STDERR_FILENO) != 0;
  if (!line.quiet && (progress.terminal || line.progress)) {
    line.options.progress = drawprogress;
    line.options.progresscontext = &progress;
  }
  line.options.warnings = !line.quiet;
  scan_setwarninghandler(line.quiet ? dropwarning : nullptr, nullptr);

  ScanMotifs motifs;
  ScanSequences sequences;
  sequences.path = line.sequencefile;
  OutputFile output;
  int status = EXIT_DONE;
  ScanResult result;
  if (scan_readmotifs(line.motiffiles, line.motifformat, &motifs) != 0) {
    status = failed(scan_errormessage());
  } else if (!openoutput(line.output, &output)) {
    status = EXIT_FAILED;
  } else if (line.html != nullptr &&
             preparescanreport(motifs, &sequences, &line.options, line.binwidth, line.centred,
                               line.html) != 0) {
    discardoutput(&output);
    status = failed(errormessageorunknown());
  } else if (scan_run(&motifs, &sequences, line.options, &result) != 0) {
    endprogress(&progress);
    discardoutput(&output);
    status = failed(scan_errormessage());
  } else {
    endprogress(&progress);
    int written = 0;
    switch (line.table) {
      case TABLE_KIND_TSV:
        written = scan_writetsv(result, motifs, sequences, output.stream);
        break;
      case TABLE_KIND_BED:
        written = scan_writebed(result, motifs, sequences, output.stream);
        break;
      case TABLE_KIND_GFF3:
        written = scan_writegff3(result, motifs, sequences, output.stream);
        break;
    }
    if (written != 0) {
      discardoutput(&output);
      status = failed(scan_errormessage());
    } else if (!closeoutput(&output)) {
      status = EXIT_FAILED;
    } else if (line.html != nullptr &&
               writescanreport(motifs, sequences, result, argc, argv, line.html) != 0) {
      status = failed(errormessageorunknown());
    }
  }
  scan_freesequences(&sequences);
  scan_freemotifs(&motifs);
  return status;
}
