// motifconv: turns count and frequency matrices from JASPAR, TRANSFAC-style count tables and
// MEME motif files into a profile library of log-odds scores, ready to search.
//
// Contents: option table; reading the command line; converting; writing the library; main.
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/output.hpp"
#include "base/replacefile.hpp"
#include "base/procopt.hpp"
#include "motifconv/logodds.hpp"
#include "motifconv/motif.hpp"
#include "motifconv/motifbanner.hpp"

namespace {

// ---- Option table -----------------------------------------------------------------------

constexpr std::array<OptionDeclaration, 9> motifoptions = {{
    {"-help", "Show help screen."},
    {"-version", "Show program version."},
    {"-from",
     "Input format, one of \"jaspar\", \"transfac\", \"meme\", or \"auto\"\n"
     "(default: detected for each file)."},
    {"-pseudo", "Pseudocount, spread over the letters by the background (default 1)."},
    {"-freq", "Name of a frequency file with the background of the letters."},
    {"-uniform", "Assume a uniform background (default)."},
    {"-scale",
     "Write INT matrices of the weights times this factor, rounded half\n"
     "away from zero (default 1000: searches then take exact thresholds\n"
     "and p-values to a thousandth of a unit)."},
    {"-float",
     "Write FLOAT matrices of the weights with six decimals instead. The\n"
     "search rounds FLOAT scores to whole units for thresholds and p-values."},
    {"-o", "Name of the output file (default: standard output)."},
}};
constexpr size_t motifoptioncount = motifoptions.size();
consteval uint64_t optionnumber(std::string_view name) { return optionindex(motifoptions, name); }

constexpr std::array<ExclusionPair, 2> exclusionpairs = {{{"-freq", "-uniform"},
                                                          {"-scale", "-float"}}};
constexpr auto exclusionlist = makeexclusionlist(motifoptions, exclusionpairs);

// ---- Reading the command line -----------------------------------------------------------

struct MotifSettings {
  MotifFormat format;
  double pseudocount;
  double scale;                // 0 for FLOAT matrices (-float)
  const char *frequencyfile;   // null for the uniform background
  const char *outputfile;      // null for standard output
  std::vector<const char *> inputfiles;
};

enum CommandLineOutcome { COMMANDLINE_RUN, COMMANDLINE_HELP, COMMANDLINE_VERSION, COMMANDLINE_ERROR };

// A positive, finite real number, read whole.
int readpositive(const char *text, const char *message, double *ret_value) {
  char *end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(value) || !(value > 0.0)) {
    return reporterror("%s", message);
  }
  *ret_value = value;
  return 0;
}

int readformat(const char *text, MotifFormat *ret_format) {
  static constexpr struct {
    const char *word;
    MotifFormat format;
  } formats[] = {{"jaspar", MOTIF_JASPAR},
                 {"transfac", MOTIF_TRANSFAC},
                 {"meme", MOTIF_MEME},
                 {"auto", MOTIF_AUTO}};
  for (const auto &entry : formats) {
    if (std::strcmp(text, entry.word) == 0) {
      *ret_format = entry.format;
      return 0;
    }
  }
  return reporterror(
      "Supported input formats are \"jaspar\", \"transfac\", \"meme\", and \"auto\".");
}

CommandLineOutcome readcommandline(int argc, char **argv, MotifSettings *settings) {
  OptionEntry table[motifoptioncount];
  if (declareoptions(table, motifoptions.data(), motifoptioncount) != 0) fatalcase();
  *settings = MotifSettings{MOTIF_AUTO, 1.0, 1000.0, nullptr, nullptr, {}};
  for (int next = 1; next < argc; next++) {
    const char *word = argv[next];
    if (word[0] != '-') {
      settings->inputfiles.push_back(word);
      continue;
    }
    if (std::strcmp(word, "--help") == 0) return COMMANDLINE_HELP;
    if (std::strcmp(word, "--version") == 0) return COMMANDLINE_VERSION;
    const int64_t number = findoption(table, motifoptioncount, word);
    if (number < 0) {
      seterrorcode(1);
      return COMMANDLINE_ERROR;
    }
    if (number == optionnumber("-help")) return COMMANDLINE_HELP;
    if (number == optionnumber("-version")) return COMMANDLINE_VERSION;
    if (number == optionnumber("-uniform")) continue;
    if (number == optionnumber("-float")) {
      settings->scale = 0.0;
      continue;
    }
    // Every other option takes the next word as its value.
    if (next + 1 >= argc) {
      reporterror("Missing argument");
      return COMMANDLINE_ERROR;
    }
    const char *value = argv[++next];
    int result = 0;
    switch (number) {
      case optionnumber("-from"):
        result = readformat(value, &settings->format);
        break;
      case optionnumber("-pseudo"):
        result = readpositive(value, "The pseudocount must be a positive real number.",
                              &settings->pseudocount);
        break;
      case optionnumber("-freq"):
        settings->frequencyfile = value;
        break;
      case optionnumber("-scale"):
        result = readpositive(value, "The scale must be a positive real number.",
                              &settings->scale);
        break;
      case optionnumber("-o"):
        settings->outputfile = value;
        break;
      default:
        result = internalerror();
    }
    if (result != 0) return COMMANDLINE_ERROR;
  }
  if (checkexclusions(table, exclusionlist.data(), exclusionlist.size()) != 0) {
    seterrorcode(1);
    return COMMANDLINE_ERROR;
  }
  if (settings->inputfiles.empty()) {
    reporterror("At least one motif file must be given.");
    return COMMANDLINE_ERROR;
  }
  return COMMANDLINE_RUN;
}

void printhelp(const char *program) {
  std::printf("* %s\n", motifconvbanner());
  std::printf("Usage: motifconv [options] FILE...\n");
  std::printf(
      "Converts count and frequency matrices (JASPAR, TRANSFAC-style count tables,\n"
      "MEME motif files; plain or gzip-compressed) into a profile library of\n"
      "log-odds scores ln((n + P*q) / (N + P)) - ln(q), one group per motif.\n\n");
  OptionEntry table[motifoptioncount];
  if (declareoptions(table, motifoptions.data(), motifoptioncount) != 0) fatalcase();
  printoptionhelp(nullptr, program, table, motifoptioncount);
}

// ---- Converting -------------------------------------------------------------------------

// The comment that heads the library and says how it was made.
std::string libraryheader(const MotifSettings &settings) {
  char text[256];
  std::snprintf(text, sizeof text, "# log-odds scores (natural logarithm), pseudocount %g, ",
                settings.pseudocount);
  std::string header = text;
  header += settings.frequencyfile == nullptr
                ? std::string("uniform background")
                : std::string("background from ") + settings.frequencyfile;
  if (settings.scale > 0.0) {
    std::snprintf(text, sizeof text, ", scaled by %g and rounded", settings.scale);
    header += text;
  }
  header += "\n";
  for (size_t i = 0; i < header.size() - 1; i++) {
    if (static_cast<unsigned char>(header[i]) < 0x20 && header[i] != '\t') header[i] = '?';
  }
  return header;
}

// Converts the motifs of every input file into *library; 0 or -1.
int convertfiles(const MotifSettings &settings, std::string *library) {
  BackgroundSource background;
  initbackgroundsource(&background, settings.frequencyfile);
  *library = libraryheader(settings);
  uint64_t converted = 0;
  std::vector<Motif> motifs;
  std::vector<double> frequencies, weights;
  int result = 0;
  for (size_t f = 0; result == 0 && f < settings.inputfiles.size(); f++) {
    const char *file = settings.inputfiles[f];
    motifs.clear();
    uint64_t skipped;
    if (readmotiffile(file, settings.format, &motifs, &skipped) != 0) {
      result = -1;
      break;
    }
    for (const Motif &motif : motifs) {
      std::string problem;
      const int status = motifbackground(&background, motif, &frequencies, &problem);
      if (status < 0) {
        result = -1;
        break;
      }
      if (status > 0) {
        const std::string &label = motif.accession.empty() ? motif.name : motif.accession;
        printwarning("file `%s', line %lu: motif `%s' skipped: %s.\n", file,
                     static_cast<unsigned long>(motif.line), label.c_str(), problem.c_str());
        continue;
      }
      motifweights(motif, frequencies, settings.pseudocount, &weights);
      if (appendlibraryentry(library, motif, weights, settings.scale, file) != 0) {
        result = -1;
        break;
      }
      converted++;
    }
  }
  freebackgroundsource(&background);
  if (result == 0 && converted == 0) result = reporterror("No motif could be converted.");
  return result;
}

// ---- Writing the library ----------------------------------------------------------------

// Writes the library to standard output, or to a new file beside the output file that then
// replaces it, so that a failed run leaves no half-written output behind.
int writelibrary(const char *outputfile, const std::string &library) {
  if (outputfile == nullptr) {
    if (writeoutput(library.data(), library.size()) != 0) return -1;
    return 0;
  }
  ReplacingFile file;
  if (replacefile_open(&file, outputfile, true) != 0) {
    return reporterror("Failed to open file `%s'.", outputfile);
  }
  if (std::fwrite(library.data(), 1, library.size(), file.stream) != library.size()) {
    replacefile_discard(&file);
    return reporterror("Failed to write file `%s'.", outputfile);
  }
  if (replacefile_commit(&file) != 0) return reporterror("Failed to write file `%s'.", outputfile);
  return 0;
}

}  // namespace

// ---- main -------------------------------------------------------------------------------

int main(int argc, char **argv) {
  installnewhandler();
  if (outputinit(false, true) != 0) {
    std::fputs("*** Error: cannot create the output lock\n", stderr);
    return 1;
  }
  MotifSettings settings;
  switch (readcommandline(argc, argv, &settings)) {
    case COMMANDLINE_HELP:
      printhelp(argv[0]);
      return finishoutput(0);
    case COMMANDLINE_VERSION:
      std::printf("* %s\n", motifconvbanner());
      return finishoutput(0);
    case COMMANDLINE_ERROR:
      std::fputs("Use -help to show a list of available options.\n", stderr);
      std::fprintf(stderr, "*** Error: %s\n", errormessageorunknown());
      return 1;
    case COMMANDLINE_RUN:
      break;
  }
  std::string library;
  if (convertfiles(settings, &library) != 0 || writelibrary(settings.outputfile, library) != 0) {
    std::fprintf(stderr, "*** Error: %s\n", errormessageorunknown());
    return 1;
  }
  // The library is on standard output only once it has been flushed and closed.
  return finishoutput(0);
}
