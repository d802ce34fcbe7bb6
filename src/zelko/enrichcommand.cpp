// zelko enrich: the command line of a motif enrichment analysis, its progress line, its table
// and page.
//
// Contents: help; reading the command line; enrichcommand.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/replacefile.hpp"
#include "enrich/enrich.hpp"
#include "zelko/commands.hpp"
#include "zelko/commonoptions.hpp"
#include "zelko/progressline.hpp"
#include "zelko/zelkofiles.hpp"

namespace {

// ---- Help ----------------------------------------------------------------------------------

const char *const enrichhelp =
    "Usage: zelko enrich [options] MOTIFS... TARGET [--control CONTROL]\n"
    "Tests which motifs of the MOTIFS files are over-represented in the TARGET\n"
    "sequences against CONTROL sequences, with exact statistics, and writes one\n"
    "table row per motif, the most enriched first.\n"
    "\n"
    "MOTIFS as for zelko scan (JASPAR, TRANSFAC-style, MEME, profile libraries);\n"
    "TARGET and CONTROL: Fasta, GenBank or EMBL files (plain or gzip), - for\n"
    "standard input. Without --control, the control is the targets shuffled, each\n"
    "with the counts of its dinucleotides kept exactly (--shuffle-order 2: a random\n"
    "Eulerian path through its graph of letters, its first and last letters kept),\n"
    "one copy of each target (--shuffles) from --seed.\n"
    "\n"
    "Both sets are scanned as zelko scan scans (both strands of DNA, exact\n"
    "p-values of the integer weights), with the same thresholds: those of the\n"
    "background counted from the control (order 0), unless --background names\n"
    "another.\n"
    "\n"
    "Tests, per motif (--threshold):\n"
    "  match (default)  the sequences with at least one match (p-value at most\n"
    "                   --pvalue) in target and control: one-sided Fisher's exact\n"
    "                   test of the 2 x 2 table, summed exactly in log space.\n"
    "  best             every sequence's best window score (both strands), the\n"
    "                   targets' against the control's: one-sided rank-sum\n"
    "                   (Mann-Whitney) test, exact for small sets without ties,\n"
    "                   else the normal approximation with tie correction.\n"
    "E-value: the p-value times the motifs tested; q-value: Benjamini-Hochberg\n"
    "over the motifs. Probabilities below the range of a double keep their\n"
    "digits (1.234e-512); log10_p_value gives the logarithm.\n"
    "enrichment_ratio: (target_with_hit + 1) / (target_sequences + 1) over\n"
    "(control_with_hit + 1) / (control_sequences + 1).\n"
    "\n"
    "--center (TARGET of regions of one length, such as peaks centred on their\n"
    "summits): the central enrichment of each motif's target matches, those whose\n"
    "window centre lies in the central W letters against all, by the binomial test\n"
    "with the chance of a window centre falling there; W the best of 20, 50, 100,\n"
    "200 and 500 (those shorter than the regions), its p-value times the number of\n"
    "widths tried (central_p_value).\n"
    "\n"
    "Columns: motif_id, motif_accession, motif_name (accession_name, as zelko\n"
    "scan's BED names it), target_sequences, target_with_hit, target_hits,\n"
    "target_hits_per_sequence, the same four for the control, enrichment_ratio,\n"
    "p_value, log10_p_value, e_value, q_value; with --center also central_width,\n"
    "central_hits, central_all and central_p_value.\n"
    "\n"
    "Options:\n"
    "      --control=FILE      The control sequences (default: shuffled targets).\n"
    "  -o, --output=FILE       Write the table to FILE (written under a temporary\n"
    "                          name and renamed when complete) instead of standard\n"
    "                          output. An output that is an input or the other\n"
    "                          output is refused; with --html, both files are\n"
    "                          written or neither.\n"
    "      --threshold=TEST    `match' (default) or `best', see above.\n"
    "  -p, --pvalue=P          Matches: windows with p-value <= P (default 1e-4).\n"
    "      --forward           Search the forward strand only.\n"
    "  -b, --background=BG     `control' (default: counted from the control),\n"
    "                          `uniform', or a frequency file.\n"
    "      --pseudocount=P     Pseudocount of the count matrices (default 1).\n"
    "      --motif-format=F    `auto' (default), `jaspar', `transfac', `meme' or\n"
    "                          `library'.\n"
    "      --dna               The sequences are DNA (default for nucleotide motifs).\n"
    "      --protein           The sequences are protein (forward strand only).\n"
    "      --center            Also the central enrichment test, see above.\n"
    "      --shuffle-order=K   Keep the counts of K-letter words when shuffling\n"
    "                          (1 to 8; default 2).\n"
    "      --shuffles=N        Shuffled copies of every target (default 1).\n"
    "      --seed=S            Seed of the shuffle (default 1); the control is the\n"
    "                          same for a seed whatever the threads.\n"
    "      --html=FILE         Also write an HTML page: the table, sortable, with\n"
    "                          every motif's logo and the positions of its matches\n"
    "                          in target and control.\n"
    "      --bin-width=N       Letters per bin of the page's position plots.\n"
    "      --tmpdir=DIR        Folder of the copies of sequences read from standard\n"
    "                          input or a pipe (default: $TMPDIR, else /tmp).\n"
    "  -j, --threads=N         Worker threads (default: the available cores); the\n"
    "                          table is the same for every N.\n"
    "      --progress          Draw the progress line on standard error even when it\n"
    "                          is no terminal.\n"
    "  -q, --quiet             No progress line and no warnings.\n"
    "  -h, --help              Show this help.\n"
    "  -V, --version           Show the version.\n"
    "\n"
    "Exit status: 0 after the analysis, 1 when it failed, 2 for a usage error.\n";

// ---- Reading the command line ------------------------------------------------------------

struct EnrichCommandLine {
  CommonOptions common;
  EnrichOptions options;
  bool progress = false;
  std::vector<std::string> motiffiles;
  std::string targetfile;
  const char *controlfile = nullptr;
  const char *html = nullptr;
  const char *tmpdir = nullptr;
};

enum EnrichOption {
  OPTION_CONTROL = OPTION_OWN,
  OPTION_THRESHOLD,
  OPTION_SHUFFLEORDER,
  OPTION_SHUFFLES,
  OPTION_SEED,
  OPTION_HTML,
  OPTION_TMPDIR,
  OPTION_PROGRESS,
};

Outcome readenrichoption(const CommandOptions &command, int code, const char *name,
                         const char *value, EnrichCommandLine *line) {
  uint64_t number = 0;
  switch (code) {
    case OPTION_CONTROL:
      line->controlfile = value;
      break;
    case OPTION_THRESHOLD:
      if (std::strcmp(value, "match") == 0) {
        line->options.test = ENRICH_TEST_FISHER;
      } else if (std::strcmp(value, "best") == 0) {
        line->options.test = ENRICH_TEST_RANKSUM;
      } else {
        usageerror(command, "%s: `%s' is neither match nor best", name, value);
        return OUTCOME_USAGE;
      }
      break;
    case OPTION_SHUFFLEORDER:
      if (!readwhole(value, 1, 8, &number)) {
        usageerror(command, "%s: `%s' is no word length from 1 to 8", name, value);
        return OUTCOME_USAGE;
      }
      line->options.shuffleorder = static_cast<unsigned>(number);
      break;
    case OPTION_SHUFFLES:
      if (!readwhole(value, 1, 1000, &line->options.shuffles)) {
        usageerror(command, "%s: `%s' is no number of copies from 1 to 1000", name, value);
        return OUTCOME_USAGE;
      }
      break;
    case OPTION_SEED:
      if (!readwhole(value, 0, UINT64_MAX, &line->options.seed)) {
        usageerror(command, "%s: `%s' is no whole number", name, value);
        return OUTCOME_USAGE;
      }
      break;
    case 'j':
      if (!readwhole(value, 1, 128, &line->options.threads)) {
        usageerror(command, "%s: `%s' is no number of threads from 1 to 128", name, value);
        return OUTCOME_USAGE;
      }
      break;
    case OPTION_HTML:
      line->html = value;
      break;
    case OPTION_TMPDIR:
      line->tmpdir = value;
      break;
    case OPTION_PROGRESS:
      line->progress = true;
      break;
  }
  return OUTCOME_RUN;
}

Outcome readcommandline(int argc, char **argv, EnrichCommandLine *line) {
  const CommandOptions command =
      commandoptions("enrich",
                     {{"control", required_argument, nullptr, OPTION_CONTROL},
                      {"threshold", required_argument, nullptr, OPTION_THRESHOLD},
                      {"shuffle-order", required_argument, nullptr, OPTION_SHUFFLEORDER},
                      {"shuffles", required_argument, nullptr, OPTION_SHUFFLES},
                      {"seed", required_argument, nullptr, OPTION_SEED},
                      {"html", required_argument, nullptr, OPTION_HTML},
                      {"tmpdir", required_argument, nullptr, OPTION_TMPDIR},
                      {"threads", required_argument, nullptr, 'j'},
                      {"progress", no_argument, nullptr, OPTION_PROGRESS}},
                     "j:");
  const Outcome outcome = readoptions(
      command, argc, argv, &line->common, [&](int code, const char *name, const char *value) {
        return readenrichoption(command, code, name, value, line);
      });
  if (outcome != OUTCOME_RUN) return outcome;
  const CommonOptions &common = line->common;
  if (line->progress && common.quiet) {
    usageerror(command, "options %s and %s exclude each other", "--progress", "--quiet");
    return OUTCOME_USAGE;
  }
  if (common.binwidth > 0 && line->html == nullptr) {
    usageerror(command, "option %s needs %s", "--bin-width", "--html");
    return OUTCOME_USAGE;
  }
  const int files = argc - optind;
  if (files < 2) {
    usageerror(command, files == 0 ? "motif files and a target sequence file are needed"
                                   : "a target sequence file is needed after the motif files");
    return OUTCOME_USAGE;
  }
  for (int i = optind; i + 1 < argc; i++) line->motiffiles.emplace_back(argv[i]);
  line->targetfile = argv[argc - 1];
  if (line->controlfile != nullptr && std::strcmp(line->controlfile, "-") == 0 &&
      line->targetfile == "-") {
    usageerror(command, "target and control cannot both be standard input");
    return OUTCOME_USAGE;
  }
  std::vector<NamedFile> inputs;
  for (const std::string &file : line->motiffiles) inputs.push_back({file, "a motif file"});
  inputs.push_back({line->targetfile, "the target sequences"});
  if (line->controlfile != nullptr) inputs.push_back({line->controlfile, "the control (--control)"});
  std::vector<NamedFile> outputs;
  if (common.output != nullptr && std::strcmp(common.output, "-") != 0)
    outputs.push_back({common.output, "the output (-o)"});
  if (line->html != nullptr) outputs.push_back({line->html, "the HTML page (--html)"});
  if (!refusesharedfiles(command, outputs, inputs)) return OUTCOME_USAGE;
  line->options.pvalue = common.pvalue;
  line->options.strands = common.forward ? SCAN_STRANDS_FORWARD : SCAN_STRANDS_BOTH;
  line->options.background = common.background;
  // `control' is this command's name of the default background, counted from the control.
  if (common.background.kind == SCAN_BACKGROUND_FILE && common.background.filename == "control") {
    line->options.background = ScanBackground{};
  }
  line->options.pseudocount = common.pseudocount;
  line->options.alphabet = common.alphabet;
  line->options.center = common.centred;
  line->options.binwidth = common.binwidth;
  return OUTCOME_RUN;
}

int failed(const char *message) { return commandfailed("enrich", message); }

// The control's scan follows the target's on the progress line.
void showphase(int phase, void *context) {
  ProgressLine *line = static_cast<ProgressLine *>(context);
  if (phase == 1) {
    endprogress(line);
    line->drawn = false;
    line->lastdrawn = -1.0;
    line->phase = "control: ";
  }
}

// The table to the output (a file is renamed into place when complete), then the page when
// there is one (writepage not empty). A file is put in place only together with the page: a
// page that cannot be written leaves no table behind (and an older table as it was).
int writetable(const EnrichResult &result, const ScanMotifs &motifs, const char *output,
               const std::function<int()> &writepage) {
  const auto page = [&]() {
    return !writepage || writepage() == 0 ? EXIT_DONE : failed(errormessageorunknown());
  };
  if (output == nullptr || std::strcmp(output, "-") == 0) {
    if (enrich_writetsv(result, motifs, stdout) != 0) {
      return failed((std::string("cannot write to standard output: ") +
                     std::strerror(errno != 0 ? errno : EIO)).c_str());
    }
    return page();
  }
  ReplacingFile file;
  if (replacefile_open(&file, output) != 0) {
    return failed((std::string("cannot write `") + output + "': " + std::strerror(errno)).c_str());
  }
  registertemporary(file.temporary);
  const int written = enrich_writetsv(result, motifs, file.stream);
  const std::string temporary = file.temporary;
  if (written != 0) {
    const std::string message = scan_errormessage();
    replacefile_discard(&file);
    unregistertemporary(temporary);
    return failed((std::string("cannot write `") + output + "': " +
                   message.substr(message.find(": ") + 2)).c_str());
  }
  if (page() != EXIT_DONE) {
    replacefile_discard(&file);
    unregistertemporary(temporary);
    return EXIT_FAILED;
  }
  const int committed = replacefile_commit(&file);
  unregistertemporary(temporary);
  if (committed != 0) {
    return failed((std::string("cannot write `") + output + "': " + std::strerror(errno)).c_str());
  }
  return EXIT_DONE;
}

}  // namespace

// ---- enrichcommand -------------------------------------------------------------------------

int enrichcommand(int argc, char **argv) {
  EnrichCommandLine line;
  const int stop = outcomestatus(readcommandline(argc, argv, &line), enrichhelp);
  if (stop >= 0) return stop;
  const CommonOptions &common = line.common;
  ProgressLine progress;
  progress.terminal = isatty(STDERR_FILENO) != 0;
  progress.phase = "target: ";
  if (!common.quiet && (progress.terminal || line.progress)) {
    line.options.progress = drawprogress;
    line.options.progresscontext = &progress;
    line.options.phase = showphase;
  }
  line.options.warnings = !common.quiet;
  setwarnings(common.quiet);
  installcleanuphandlers();

  ScanMotifs motifs;
  ScanSequences target, control;
  SequenceInput targetinput, controlinput;
  const std::string folder = temporaryfolder(line.tmpdir);
  int status = EXIT_DONE;
  std::string message;
  EnrichResult result;
  if (scan_readmotifs(line.motiffiles, common.motifformat, &motifs) != 0) {
    status = failed(scan_errormessage());
  } else if (line.html != nullptr && checkpagefolder(line.html) != 0) {
    // The page is written after the analysis: a folder it cannot go to fails before it.
    status = failed(errormessageorunknown());
  } else if (opensequenceinput(line.targetfile, folder, &targetinput, &message) != 0) {
    status = failed(message.c_str());
  } else if (line.controlfile != nullptr &&
             opensequenceinput(line.controlfile, folder, &controlinput, &message) != 0) {
    status = failed(message.c_str());
  } else {
    target.path = targetinput.path;
    if (line.controlfile != nullptr) control.path = controlinput.path;
    const int ran = enrich_run(&motifs, &target, line.controlfile != nullptr ? &control : nullptr,
                               line.options, &result);
    endprogress(&progress);
    if (ran != 0) {
      std::string text = showninput(targetinput, scan_errormessage());
      if (line.controlfile != nullptr) text = showninput(controlinput, text);
      status = failed(text.c_str());
    } else {
      // The page names the sequence files as the user did.
      target.path = targetinput.given;
      control.path = controlinput.given;
      const ScanSequences *given = line.controlfile != nullptr ? &control : nullptr;
      std::function<int()> page;
      if (line.html != nullptr) {
        page = [&]() {
          return writeenrichreport(motifs, target, given, result, argc, argv, line.html);
        };
      }
      status = writetable(result, motifs, common.output, page);
    }
  }
  closesequenceinput(&controlinput);
  closesequenceinput(&targetinput);
  scan_freesequences(&control);
  scan_freesequences(&target);
  scan_freemotifs(&motifs);
  return status;
}
