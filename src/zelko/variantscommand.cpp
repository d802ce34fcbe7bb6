// zelko variants: the command line of a variant scoring, its progress line and its output
// file.
//
// Contents: help; reading the command line; the progress line; the output file;
// variantscommand.
#include <sys/stat.h>
#include <unistd.h>

#include <htslib/hts.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/replacefile.hpp"
#include "scan/scan.hpp"
#include "variants/variants.hpp"
#include "zelko/commands.hpp"
#include "zelko/commonoptions.hpp"
#include "zelko/compressedfile.hpp"
#include "zelko/progressline.hpp"
#include "zelko/zelkofiles.hpp"

namespace {

// ---- Help ----------------------------------------------------------------------------------

const char *const variantshelp =
    "Usage: zelko variants [options] MOTIFS... GENOME VARIANTS\n"
    "Scores every allele of VARIANTS with every motif of the MOTIFS files: the best\n"
    "window overlapping the variant on the reference and on the alternative sequence\n"
    "of GENOME, with exact p-values, reported where either reaches the cutoff.\n"
    "\n"
    "MOTIFS: DNA count or frequency matrices (JASPAR, TRANSFAC-style, MEME; plain or\n"
    "gzip) or profile libraries, weighed as zelko scan weighs them (integer weights,\n"
    "log-odds x 1000); p-values are exact for these weights, as in zelko scan.\n"
    "GENOME: a Fasta file (plain or bgzip) read through its .fai (and .gzi), made\n"
    "when missing. VARIANTS: VCF or BCF (plain, bgzip or BCF); - for standard input.\n"
    "\n"
    "What is scored: REF and ALT lose the letters they share at their start, then at\n"
    "their end. The windows that hold one of the letters left (for the REF of an\n"
    "insertion and the ALT of a deletion, that span the place where they were) are\n"
    "scored on both strands, on the reference and on the alternative sequence: indels\n"
    "shift the windows. Each allele is scored alone against the reference, whatever\n"
    "other variants lie near it; each ALT of a record on its own. Windows that do\n"
    "not fit into their sequence or hold a letter other than A, C, G and T (N, ...)\n"
    "are not scored; lower-case letters count as upper-case ones. The best window\n"
    "of an allele has the smallest p-value (then the higher score, the + strand, the\n"
    "leftmost).\n"
    "Skipped, counted and warned about: records whose REF is not the genome's letters\n"
    "(the first few named), symbolic and missing alleles (<DEL>, *, breakends, .)\n"
    "and alleles of other letters than A, C, G, T and N, alleles that change more\n"
    "than --max-indel letters. A record on a contig GENOME lacks fails the run,\n"
    "naming the contig, unless --skip-missing-contigs.\n"
    "\n"
    "Defaults: both strands, p-value at most 1e-4, the background counted from GENOME\n"
    "(order 0 over A, C, G and T in either case, read in blocks; --regions does not\n"
    "change it), pseudocount 1, a TSV table, one thread per available core.\n"
    "\n"
    "TSV columns (a header row; rows in the order of VARIANTS, a record's ALT alleles\n"
    "in order, an allele's motifs in file order):\n"
    "  chrom, pos, id, ref, alt    the record (pos 1-based; REF and ALT as written)\n"
    "  motif_id, motif_accession   as zelko scan's TSV names the motif\n"
    "  motif_name                  accession_name (MA0071.1_RORA), one per motif\n"
    "  ref_strand, ref_start       the reference's best window: strand, first letter\n"
    "  alt_strand, alt_start       the alternative's (its letters before the variant\n"
    "                              keep their positions, inserted ones follow on)\n"
    "  ref_score, alt_score        their scores (x1000 units, as zelko scan's)\n"
    "  ref_pvalue, alt_pvalue      their exact p-values\n"
    "  log2_ratio                  log2(ref_pvalue / alt_pvalue): above 0 the ALT\n"
    "                              makes the stronger site, below 0 the weaker\n"
    "  effect                      gain: only the ALT's best window reaches the\n"
    "                              cutoff; loss: only the REF's; both\n"
    "  ref_sequence, alt_sequence  the windows' letters in the motif's direction (the\n"
    "                              reverse complement on -), the variant's lower case\n"
    "An allele without a window that can be scored has NA there and p-value 1.\n"
    "\n"
    "Options:\n"
    "  -o, --output=FILE       Write to FILE (under a temporary name, renamed when\n"
    "                          complete) instead of standard output. A FILE ending\n"
    "                          in .gz is BGZF-compressed, as bgzip, tabix and\n"
    "                          bcftools read it.\n"
    "  -p, --pvalue=P          Report an allele and a motif when either best window\n"
    "                          has a p-value <= P (default 1e-4).\n"
    "      --min-change=L      And only when |log2_ratio| >= L (default 0).\n"
    "      --max-indel=N       Skip alleles whose REF or ALT, trimmed as above, is\n"
    "                          longer than N letters (default 50).\n"
    "      --forward           Score the forward strand's windows only.\n"
    "  -b, --background=BG     `uniform' or a frequency file (lines such as\n"
    "                          \"a 0.3\"); default: counted from GENOME.\n"
    "      --pseudocount=P     Pseudocount of the count matrices (default 1).\n"
    "      --motif-format=F    `auto' (default: detected per file), `jaspar',\n"
    "                          `transfac', `meme' or `library'.\n"
    "      --regions=FILE      Score only the records whose REF overlaps an interval\n"
    "                          of FILE (BED, plain or gzip, - for standard input;\n"
    "                          0-based, half-open); the windows reach beyond the\n"
    "                          intervals as they need.\n"
    "      --skip-missing-contigs\n"
    "                          Skip (count and name) the records on contigs GENOME\n"
    "                          lacks instead of failing.\n"
    "      --tsv               Write the TSV table (default).\n"
    "      --vcf               Write VARIANTS as VCF, every record of it, with an\n"
    "                          INFO field MOTIFS (declared in the header) on the\n"
    "                          records with reported pairs, an entry per pair:\n"
    "                          ALT number|motif_name|effect|log2_ratio|ref_pvalue|\n"
    "                          alt_pvalue, the entries joined by `,'.\n"
    "  -j, --threads=N         Worker threads (default: the available cores); the\n"
    "                          output is the same for every N.\n"
    "      --progress          Draw the progress line on standard error even when it\n"
    "                          is no terminal.\n"
    "  -q, --quiet             No progress line and no warnings.\n"
    "  -h, --help              Show this help.\n"
    "  -V, --version           Show the version.\n"
    "\n"
    "Exit status: 0 after a run, 1 when it failed, 2 for a usage error.\n";

// ---- Reading the command line ------------------------------------------------------------

struct VariantsCommandLine {
  CommonOptions common;
  VariantOptions options;
  VariantFormat format = VARIANT_FORMAT_TSV;
  const char *formatoption = nullptr;
  bool progress = false;
  std::vector<std::string> motiffiles;
  std::string genome;
  std::string variants;
};

enum VariantsOption {
  OPTION_MINCHANGE = OPTION_OWN,
  OPTION_MAXINDEL,
  OPTION_REGIONS,
  OPTION_SKIPMISSING,
  OPTION_TSV,
  OPTION_VCF,
  OPTION_PROGRESS,
};

Outcome readvariantsoption(const CommandOptions &command, int code, const char *name,
                           const char *value, VariantsCommandLine *line) {
  double number = 0.0;
  switch (code) {
    case OPTION_MINCHANGE:
      if (!readnumber(value, &number) || !(number >= 0.0)) {
        usageerror(command, "%s: `%s' is no number of at least 0", name, value);
        return OUTCOME_USAGE;
      }
      line->options.minchange = number;
      break;
    case OPTION_MAXINDEL:
      if (!readwhole(value, 1, 100000, &line->options.maxindel)) {
        usageerror(command, "%s: `%s' is no number of letters from 1 to 100000", name, value);
        return OUTCOME_USAGE;
      }
      break;
    case OPTION_REGIONS:
      line->options.regions = std::strcmp(value, "-") == 0 ? "/dev/stdin" : value;
      break;
    case OPTION_SKIPMISSING:
      line->options.skipmissingcontigs = true;
      break;
    case OPTION_TSV:
    case OPTION_VCF:
      if (!chooseonce(command, &line->formatoption, code == OPTION_TSV ? "--tsv" : "--vcf")) {
        return OUTCOME_USAGE;
      }
      line->format = code == OPTION_TSV ? VARIANT_FORMAT_TSV : VARIANT_FORMAT_VCF;
      break;
    case 'j':
      if (!readwhole(value, 1, 128, &line->options.threads)) {
        usageerror(command, "%s: `%s' is no number of threads from 1 to 128", name, value);
        return OUTCOME_USAGE;
      }
      break;
    case OPTION_PROGRESS:
      line->progress = true;
      break;
  }
  return OUTCOME_RUN;
}

Outcome readcommandline(int argc, char **argv, VariantsCommandLine *line) {
  const CommandOptions command =
      commandoptions("variants",
                     {{"min-change", required_argument, nullptr, OPTION_MINCHANGE},
                      {"max-indel", required_argument, nullptr, OPTION_MAXINDEL},
                      {"regions", required_argument, nullptr, OPTION_REGIONS},
                      {"skip-missing-contigs", no_argument, nullptr, OPTION_SKIPMISSING},
                      {"tsv", no_argument, nullptr, OPTION_TSV},
                      {"vcf", no_argument, nullptr, OPTION_VCF},
                      {"threads", required_argument, nullptr, 'j'},
                      {"progress", no_argument, nullptr, OPTION_PROGRESS}},
                     "j:");
  const Outcome outcome = readoptions(
      command, argc, argv, &line->common,
      [&](int code, const char *name, const char *value) {
        return readvariantsoption(command, code, name, value, line);
      });
  if (outcome != OUTCOME_RUN) return outcome;
  const CommonOptions &common = line->common;
  // The shared options of the report and of protein scans have no meaning here.
  const char *foreign = common.binwidth > 0 ? "--bin-width"
                        : common.centred    ? "--center"
                                            : nullptr;
  if (foreign != nullptr) {
    usageerror(command, "option %s does not apply to zelko variants", foreign);
    return OUTCOME_USAGE;
  }
  if (common.alphabet == SCAN_ALPHABET_PROTEIN) {
    usageerror(command, "option %s does not apply: zelko variants scores DNA", "--protein");
    return OUTCOME_USAGE;
  }
  if (line->progress && common.quiet) {
    usageerror(command, "options %s and %s exclude each other", "--progress", "--quiet");
    return OUTCOME_USAGE;
  }
  const int files = argc - optind;
  if (files < 3) {
    usageerror(command, files == 0   ? "motif files, a genome and a VCF file are needed"
                        : files == 1 ? "a genome and a VCF file are needed after the motif files"
                                     : "a VCF file is needed after the motif files and the "
                                       "genome");
    return OUTCOME_USAGE;
  }
  for (int i = optind; i + 2 < argc; i++) line->motiffiles.emplace_back(argv[i]);
  line->genome = argv[argc - 2];
  line->variants = argv[argc - 1];
  if (line->genome == "-") {
    usageerror(command, "the genome is read through its index (.fai): give a Fasta file, not "
               "standard input");
    return OUTCOME_USAGE;
  }
  if (line->variants == "-" && line->options.regions == "/dev/stdin") {
    usageerror(command, "the VCF file and --regions cannot both be standard input");
    return OUTCOME_USAGE;
  }
  std::vector<NamedFile> inputs;
  for (const std::string &file : line->motiffiles) inputs.push_back({file, "a motif file"});
  inputs.push_back({line->genome, "the genome"});
  inputs.push_back({line->genome + ".fai", "the genome's index"});
  if (line->variants != "-") inputs.push_back({line->variants, "the VCF file"});
  if (!line->options.regions.empty()) {
    inputs.push_back({line->options.regions, "the regions file (--regions)"});
  }
  std::vector<NamedFile> outputs;
  if (common.output != nullptr && std::strcmp(common.output, "-") != 0) {
    outputs.push_back({common.output, "the output (-o)"});
  }
  if (!refusesharedfiles(command, outputs, inputs)) return OUTCOME_USAGE;
  line->options.pvalue = common.pvalue;
  line->options.forwardonly = common.forward;
  line->options.background = common.background;
  line->options.pseudocount = common.pseudocount;
  return OUTCOME_RUN;
}

// ---- The progress line -------------------------------------------------------------------

int drawvariantprogress(const VariantProgress &progress, void *context) {
  ProgressLine *line = static_cast<ProgressLine *>(context);
  // Into a pipe or a file a line a second is plenty, and the last; a terminal redraws.
  if (!line->terminal && !progress.finished && progress.elapsed - line->lastdrawn < 1.0) return 0;
  line->lastdrawn = progress.elapsed;
  const double rate =
      progress.elapsed > 0.0 ? static_cast<double>(progress.records) / progress.elapsed : 0.0;
  if (progress.bytestotal > 0) {
    // The share of the file read: of its compressed bytes for bgzip and BCF.
    const double fraction = static_cast<double>(progress.bytesdone) /
                            static_cast<double>(progress.bytestotal);
    const double left =
        fraction > 0.0 ? progress.elapsed * (1.0 - fraction) / fraction : -1.0;
    std::fprintf(stderr, "%s%5.1f%%  %lu records  %lu rows  %.0f records/s  %s left%s",
                 line->terminal ? "\r" : "", 100.0 * fraction,
                 static_cast<unsigned long>(progress.records),
                 static_cast<unsigned long>(progress.rows), rate, clocktext(left).c_str(),
                 line->terminal ? "\033[K" : "\n");
  } else {
    std::fprintf(stderr, "%s%lu records  %lu rows  %.0f records/s%s", line->terminal ? "\r" : "",
                 static_cast<unsigned long>(progress.records),
                 static_cast<unsigned long>(progress.rows), rate,
                 line->terminal ? "\033[K" : "\n");
  }
  std::fflush(stderr);
  line->drawn = true;
  return 0;
}

// ---- The output file ---------------------------------------------------------------------

int failed(const char *message) { return commandfailed("variants", message); }

// The output goes to a new file beside FILE, which replaces it when complete; a name ending
// in .gz is written BGZF-compressed.
struct OutputFile {
  ReplacingFile file;
  FILE *stream = nullptr;
  bool compressed = false;
  CompressedStream gzip;
};

bool openoutput(const char *path, uint64_t threads, OutputFile *file) {
  if (path == nullptr || std::strcmp(path, "-") == 0) {
    file->stream = stdout;
    return true;
  }
  if (replacefile_open(&file->file, path, true) != 0) {
    std::fprintf(stderr, "zelko variants: cannot write `%s': %s\n", path, std::strerror(errno));
    return false;
  }
  registertemporary(file->file.temporary);
  file->stream = file->file.stream;
  if (compressedname(path)) {
    if (compressedstream_open(fileno(file->file.stream), threads, &file->gzip) != 0) {
      std::fprintf(stderr, "zelko variants: cannot write `%s': %s\n", path, std::strerror(errno));
      const std::string temporary = file->file.temporary;
      replacefile_discard(&file->file);
      unregistertemporary(temporary);
      file->stream = nullptr;
      return false;
    }
    file->compressed = true;
    file->stream = file->gzip.stream;
  }
  return true;
}

void discardoutput(OutputFile *file) {
  if (file->stream == nullptr || file->stream == stdout) return;
  if (file->compressed) {
    compressedstream_close(&file->gzip);
    file->compressed = false;
  }
  const std::string temporary = file->file.temporary;
  replacefile_discard(&file->file);
  unregistertemporary(temporary);
  file->stream = nullptr;
}

// The output in place: false after a message (the temporary file removed).
bool closeoutput(OutputFile *file) {
  if (file->stream == stdout) {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
      std::fprintf(stderr, "zelko variants: cannot write to standard output: %s\n",
                   std::strerror(errno != 0 ? errno : EIO));
      return false;
    }
    return true;
  }
  if (file->compressed) {
    file->compressed = false;
    if (compressedstream_close(&file->gzip) != 0) {
      std::fprintf(stderr, "zelko variants: cannot write `%s': %s\n",
                   file->file.finalpath.c_str(), std::strerror(errno));
      file->stream = file->file.stream;
      discardoutput(file);
      return false;
    }
  }
  file->stream = nullptr;
  const std::string temporary = file->file.temporary;
  const int committed = replacefile_commit(&file->file);
  unregistertemporary(temporary);
  if (committed != 0) {
    std::fprintf(stderr, "zelko variants: cannot write `%s': %s\n",
                 file->file.finalpath.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

// The genome is read through its index, which seeks: a pipe or a FIFO cannot be, and an
// index of zelkoindex is no Fasta file. false after the message.
bool genomefile(const std::string &genome) {
  struct stat status;
  if (stat(genome.c_str(), &status) == 0) {
    if (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)) return true;
    std::fprintf(stderr, "zelko variants: `%s' is no regular file: the genome is read "
                 "through its index (.fai), which needs a file\n", genome.c_str());
    return false;
  }
  if (stat((genome + ".prj").c_str(), &status) == 0) {
    std::fprintf(stderr, "zelko variants: `%s' is an index: the genome is a Fasta file\n",
                 genome.c_str());
    return false;
  }
  return true;
}

std::string commandtext(int argc, char **argv) {
  std::string text = "zelko";
  for (int i = 0; i < argc; i++) {
    text += ' ';
    text += argv[i];
  }
  return text;
}

}  // namespace

// ---- variantscommand -----------------------------------------------------------------------

int variantscommand(int argc, char **argv) {
  VariantsCommandLine line;
  const int stop = outcomestatus(readcommandline(argc, argv, &line), variantshelp);
  if (stop >= 0) return stop;
  const CommonOptions &common = line.common;
  ProgressLine progress;
  progress.terminal = isatty(STDERR_FILENO) != 0;
  if (!common.quiet && (progress.terminal || line.progress)) {
    line.options.progress = drawvariantprogress;
    line.options.progresscontext = &progress;
  }
  line.options.warnings = !common.quiet;
  setwarnings(common.quiet);
  installcleanuphandlers();
  // htslib's own notes (a contig missing from the VCF header, ...) are not the user's
  // business; its errors are, and the run names the file besides.
  hts_set_log_level(HTS_LOG_ERROR);

  ScanMotifs motifs;
  int status = EXIT_DONE;
  if (scan_readmotifs(line.motiffiles, common.motifformat, &motifs) != 0) {
    status = failed(scan_errormessage());
  } else if (!genomefile(line.genome)) {
    status = EXIT_FAILED;
  } else {
    OutputFile output;
    const uint64_t threads =
        line.options.threads == 0 ? scan_availablethreads() : line.options.threads;
    if (!openoutput(common.output, threads > 1 ? threads : 0, &output)) {
      status = EXIT_FAILED;
    } else {
      VariantOutput target;
      target.format = line.format;
      target.stream = output.stream;
      target.commandline = commandtext(argc, argv);
      VariantSummary summary;
      const int result =
          variants_run(&motifs, line.genome, line.variants, line.options, target, &summary);
      endprogress(&progress);
      if (result != 0) {
        discardoutput(&output);
        status = failed(scan_errormessage());
      } else if (!closeoutput(&output)) {
        status = EXIT_FAILED;
      }
    }
  }
  scan_freemotifs(&motifs);
  return status;
}
