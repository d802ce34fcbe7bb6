// zelko report: the HTML page of a table zelko scan wrote, with the motif files it read (and,
// when given, the sequences it searched); and the page zelko scan --html writes.
//
// Contents: help; reading the command line; the command line shown on the page; the page's
// file; writescanreport; reportcommand.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/replacefile.hpp"
#include "htmlreport/htmlreport.hpp"
#include "htmlreport/scanreport.hpp"
#include "scan/scan.hpp"
#include "zelko/commands.hpp"
#include "zelko/commonoptions.hpp"
#include "zelko/zelkofiles.hpp"

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
  CommonOptions common;  // the options zelko scan takes too: what the scan was
  const char *sequencefile = nullptr;
  std::string table;
  std::vector<std::string> motiffiles;
};

Outcome readcommandline(int argc, char **argv, ReportCommandLine *line) {
  const CommandOptions command =
      commandoptions("report", {{"sequences", required_argument, nullptr, 's'}}, "s:");
  const Outcome outcome = readoptions(command, argc, argv, &line->common,
                                      [&](int code, const char *, const char *value) {
                                        if (code == 's') line->sequencefile = value;
                                        return OUTCOME_RUN;
                                      });
  if (outcome != OUTCOME_RUN) return outcome;
  if (line->common.centred && line->sequencefile == nullptr) {
    usageerror(command, "option %s needs %s", "--center", "--sequences");
    return OUTCOME_USAGE;
  }
  const int files = argc - optind;
  if (files < 2) {
    usageerror(command, files == 0 ? "a table and motif files are needed"
                                   : "the motif files are needed after the table");
    return OUTCOME_USAGE;
  }
  line->table = argv[optind];
  for (int i = optind + 1; i < argc; i++) line->motiffiles.emplace_back(argv[i]);
  std::vector<NamedFile> inputs = {{line->table, "the table"}};
  for (const std::string &file : line->motiffiles) inputs.push_back({file, "a motif file"});
  if (line->sequencefile != nullptr) inputs.push_back({line->sequencefile, "the sequence file"});
  const char *output = line->common.output;
  if (output != nullptr && std::strcmp(output, "-") != 0 &&
      !refusesharedfiles(command, {{output, "the output (-o)"}}, inputs)) {
    return OUTCOME_USAGE;
  }
  return OUTCOME_RUN;
}

}  // namespace

// ---- The command line shown on the page --------------------------------------------------

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

namespace {

int failed(const char *message) { return commandfailed("report", message); }

// Loads the sequences and prepares the motifs with the scan's background and pseudocount.
// Without the sequences, one sequence of every letter stands in, for the weights and score
// ranges (the statistics it would give are not used).
int preparemotifs(ScanMotifs *motifs, const ReportCommandLine &line, ScanSequences *sequences,
                  ScanSequences *standin) {
  const CommonOptions &common = line.common;
  const ScanAlphabet alphabet =
      common.alphabet != SCAN_ALPHABET_AUTO ? common.alphabet : motifs->alphabet;
  if (line.sequencefile != nullptr) {
    sequences->path = line.sequencefile;
    if (scan_loadsequences(sequences, alphabet) != 0) return -1;
    return scan_preparemotifs(motifs, *sequences, common.background, common.pseudocount);
  }
  const char *letters = alphabet == SCAN_ALPHABET_PROTEIN ? "ACDEFGHIKLMNPQRSTVWY" : "ACGT";
  if (scan_addsequence(standin, "letters", letters) != 0) return -1;
  if (scan_loadsequences(standin, alphabet) != 0) return -1;
  ScanBackground background = common.background;
  if (background.kind == SCAN_BACKGROUND_SEQUENCES) background.kind = SCAN_BACKGROUND_UNIFORM;
  return scan_preparemotifs(motifs, *standin, background, common.pseudocount);
}

int writepage(const HtmlReport &report, const char *output) {
  if (output == nullptr || std::strcmp(output, "-") == 0) {
    const std::string page = htmlreport_render(report);
    if (std::fwrite(page.data(), 1, page.size(), stdout) != page.size() ||
        std::fflush(stdout) != 0)
      return reporterror("cannot write to standard output: %s", std::strerror(errno));
    return 0;
  }
  return writepagefile(htmlreport_render(report), output);
}

}  // namespace

// ---- The page's file ---------------------------------------------------------------------

int writepagefile(const std::string &page, const char *path) {
  ReplacingFile file;
  if (replacefile_open(&file, path, true) != 0)
    return reporterror("cannot write `%s': %s", path, std::strerror(errno));
  const std::string temporary = file.temporary;
  registertemporary(temporary);
  if (std::fwrite(page.data(), 1, page.size(), file.stream) != page.size()) {
    const int code = errno != 0 ? errno : EIO;
    replacefile_discard(&file);
    unregistertemporary(temporary);
    return reporterror("cannot write `%s': %s", path, std::strerror(code));
  }
  const int committed = replacefile_commit(&file);
  const int code = errno;
  unregistertemporary(temporary);
  if (committed != 0) return reporterror("cannot write `%s': %s", path, std::strerror(code));
  return 0;
}

int checkpagefolder(const char *path) {
  std::string folder = path;
  const size_t slash = folder.find_last_of('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
  if (access(folder.c_str(), W_OK | X_OK) != 0)
    return reporterror("cannot write `%s': %s", path, std::strerror(errno));
  return 0;
}

int preparescanreport(const ScanMotifs &motifs, ScanSequences *sequences, ScanOptions *options,
                      uint64_t binwidth, bool centred, const char *path) {
  // The page is written after the scan: a folder it cannot go to fails before the scan.
  if (checkpagefolder(path) != 0) return -1;
  return scanreport_request(motifs, sequences, options, binwidth, centred);
}

int writescanreport(const ScanMotifs &motifs, const ScanSequences &sequences,
                    const ScanResult &result, int argc, char **argv, const char *path,
                    BestHits *best) {
  HtmlReport report;
  if (scanreport_build(motifs, sequences, result, commandlinetext(argc, argv), &report,
                       best) != 0)
    return -1;
  return writepagefile(htmlreport_render(report), path);
}

// ---- reportcommand -----------------------------------------------------------------------

int reportcommand(int argc, char **argv) {
  ReportCommandLine line;
  const int stop = outcomestatus(readcommandline(argc, argv, &line), reporthelp);
  if (stop >= 0) return stop;
  const CommonOptions &common = line.common;
  setwarnings(common.quiet);
  installcleanuphandlers();
  ScanMotifs motifs;
  ScanSequences sequences;
  ScanSequences standin;
  const bool withsequences = line.sequencefile != nullptr;
  int status = EXIT_DONE;
  HtmlReport report;
  uint64_t mismatched = 0;
  TableReportOptions options;
  options.binwidth = common.binwidth;
  options.centred = common.centred;
  options.pvalue = common.pvalue;
  options.commandline = commandlinetext(argc, argv);
  options.weightsknown = withsequences || common.background.kind != SCAN_BACKGROUND_SEQUENCES;
  if (scan_readmotifs(line.motiffiles, common.motifformat, &motifs) != 0 ||
      preparemotifs(&motifs, line, &sequences, &standin) != 0) {
    status = failed(scan_errormessage());
  } else {
    const ScanAlphabet alphabet = withsequences ? sequences.alphabet : standin.alphabet;
    options.bothstrands = !common.forward && alphabet != SCAN_ALPHABET_PROTEIN;
    if (scanreport_fromtable(line.table, motifs, withsequences ? &sequences : nullptr, options,
                             &report, &mismatched) != 0 ||
        writepage(report, common.output) != 0) {
      status = failed(errormessageorunknown());
    } else if (mismatched > 0 && !common.quiet) {
      std::fprintf(stderr,
                   "zelko report: warning: the thresholds of %lu motifs in the table are not "
                   "those of p-value %g with this background and pseudocount: give the "
                   "scan's --pvalue, --background and --pseudocount\n",
                   static_cast<unsigned long>(mismatched), common.pvalue);
    }
  }
  scan_freesequences(&standin);
  scan_freesequences(&sequences);
  scan_freemotifs(&motifs);
  return status;
}
