// zelko scan: the command line of a scan, its progress line and its output file.
//
// Contents: help; reading the command line; the output file; scancommand.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/replacefile.hpp"
#include "htmlreport/scanreport.hpp"
#include "scan/scan.hpp"
#include "zelko/commands.hpp"
#include "zelko/commonoptions.hpp"
#include "zelko/compressedfile.hpp"
#include "zelko/progressline.hpp"
#include "zelko/zelkofiles.hpp"

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
    "zelkoindex (its sequences searched with the lookahead engine); - for standard\n"
    "input.\n"
    "Standard input, pipes and FIFOs are copied to a temporary file first (see\n"
    "--tmpdir). A record without letters is skipped with a warning; the records keep\n"
    "their numbers (sequence_number counts every record from 0, the skipped ones too).\n"
    "\n"
    "Defaults: both strands of DNA, p-value at most 1e-4, the lookahead engine, the\n"
    "exact lazy distribution, the background counted from SEQUENCES (order 0, over the\n"
    "letters of the alphabet), pseudocount 1, a TSV table with a header row sorted by\n"
    "motif, sequence and position, one thread per available core.\n"
    "\n"
    "Strands: the background describes the forward strand (counted over its letters);\n"
    "a window on the - strand reads their complements, which follow the complemented\n"
    "frequencies. Each strand has its own exact distribution, threshold and p-values,\n"
    "so the threshold column differs by strand unless the background is its own\n"
    "complement (A = T, C = G, as uniform is). A background file's frequencies must\n"
    "all be positive; they are scaled to add up to 1 (with a warning beyond 0.01).\n"
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
    "                          output. An output that is an input or the other\n"
    "                          output is refused; with --html, both files are\n"
    "                          written or neither. A FILE ending in .gz is\n"
    "                          BGZF-compressed, as zcat, bgzip and tabix read it.\n"
    "      --index             Also write the tabix index of the compressed table\n"
    "                          beside it (FILE.tbi, or FILE.csi for sequences over\n"
    "                          512 Mbp); needs --sort genome and -o FILE.gz.\n"
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
    "                          attribute. In BED and GFF3 a motif is named by its\n"
    "                          accession and name (MA0071.1_RORA; the name alone\n"
    "                          without an accession), a name taken twice followed by\n"
    "                          _2, _3, ... so that every motif's name is its own.\n"
    "      --sort=KEY          `position' (default: motif, sequence, position),\n"
    "                          `pvalue' (smallest first) or `genome' (sequence in\n"
    "                          file order, start, stop, motif, strand: each\n"
    "                          sequence's rows together by start, as tabix\n"
    "                          reads them).\n"
    "      --html=FILE         Also write an HTML report to FILE: one page that needs\n"
    "                          nothing else (no network), with every motif's logo,\n"
    "                          hits against chance and plots of hit positions and\n"
    "                          scores; see zelko report --help.\n"
    "      --bin-width=N       Letters per bin of the report's position plots\n"
    "                          (default: a round width giving at most 100 bins).\n"
    "      --center            The report's positions from the sequence centres.\n"
    "      --regions=FILE      Scan only the intervals of FILE (BED, plain or gzip,\n"
    "                          - for standard input; 0-based, half-open; names in\n"
    "                          column 4) of SEQUENCES, which is then a Fasta genome\n"
    "                          (plain or bgzip) read through its .fai (and .gzi),\n"
    "                          made when missing. Regions that overlap or touch are\n"
    "                          merged; rows are in genome coordinates, TSV with a\n"
    "                          last column `region' (the names of the merged\n"
    "                          regions); q-values count the windows of the regions.\n"
    "      --memory=SIZE       Matches held in memory at most (default 512M; K, M, G\n"
    "                          for kB, MB, GB of 1024), 32 bytes each. Beyond it\n"
    "                          the matches go to --tmpdir as sorted runs, merged\n"
    "                          into the table at the end; the table is the same for\n"
    "                          every SIZE.\n"
    "      --tmpdir=DIR        Folder of those runs and of the copy of sequences\n"
    "                          read from standard input or a pipe (default: $TMPDIR,\n"
    "                          else /tmp). Nothing is left there when the scan ends,\n"
    "                          however it ends.\n"
    "  -j, --threads=N         Worker threads (default: the available cores); the\n"
    "                          table is the same for every N.\n"
    "      --progress          Draw the progress line on standard error even when it\n"
    "                          is no terminal; its last line gives the memory of\n"
    "                          the sequences and of the matches.\n"
    "  -q, --quiet             No progress line and no warnings.\n"
    "  -h, --help              Show this help.\n"
    "  -V, --version           Show the version.\n"
    "\n"
    "Exit status: 0 after a scan, 1 when it failed, 2 for a usage error.\n";

// ---- Reading the command line ------------------------------------------------------------

enum TableKind { TABLE_KIND_TSV, TABLE_KIND_BED, TABLE_KIND_GFF3 };

struct ScanCommandLine {
  CommonOptions common;  // the options zelko report takes too
  ScanOptions options;   // with the shared options' values once read
  TableKind table = TABLE_KIND_TSV;
  const char *tableoption = nullptr;  // the option that chose the table, for conflicts
  bool progress = false;
  std::vector<std::string> motiffiles;
  std::string sequencefile;
  const char *html = nullptr;  // the HTML report's file
  const char *tmpdir = nullptr;  // --tmpdir
  bool index = false;            // --index
  uint64_t memory = SCAN_DEFAULT_MEMORY;  // --memory
  const char *regions = nullptr;  // --regions: the BED file
};

enum ScanOption {
  OPTION_QVALUE = OPTION_OWN,
  OPTION_TSV,
  OPTION_BED,
  OPTION_GFF3,
  OPTION_SORT,
  OPTION_PROGRESS,
  OPTION_HTML,
  OPTION_TMPDIR,
  OPTION_INDEX,
  OPTION_MEMORY,
  OPTION_REGIONS,
};

// A size in bytes: a whole or decimal number, optionally followed by K, M, G or T (powers
// of 1024, with or without a B); at least 1 kB.
bool readsize(const char *text, uint64_t *ret_bytes) {
  char *end = nullptr;
  errno = 0;
  const double number = std::strtod(text, &end);
  if (end == text || errno != 0 || !(number > 0.0)) return false;
  double factor = 1.0;
  switch (*end) {
    case 'k': case 'K': factor = 1024.0; end++; break;
    case 'm': case 'M': factor = 1024.0 * 1024.0; end++; break;
    case 'g': case 'G': factor = 1024.0 * 1024.0 * 1024.0; end++; break;
    case 't': case 'T': factor = 1024.0 * 1024.0 * 1024.0 * 1024.0; end++; break;
    default: break;
  }
  if (*end == 'b' || *end == 'B') end++;
  if (*end != '\0') return false;
  const double bytes = number * factor;
  if (!(bytes >= 1024.0 && bytes < 1.8e19)) return false;
  *ret_bytes = static_cast<uint64_t>(bytes);
  return true;
}

// The scan's own options, beside the shared ones.
Outcome readscanoption(const CommandOptions &command, int code, const char *name,
                       const char *value, ScanCommandLine *line) {
  double number = 0.0;
  switch (code) {
    case OPTION_QVALUE:
      if (!readnumber(value, &number) || !(number >= 0.0 && number <= 1.0)) {
        usageerror(command, "%s: `%s' is no q-value between 0 and 1", name, value);
        return OUTCOME_USAGE;
      }
      line->options.useqvalue = true;
      line->options.qvalue = number;
      break;
    case OPTION_TSV:
    case OPTION_BED:
    case OPTION_GFF3: {
      const char *option = code == OPTION_TSV ? "--tsv" : code == OPTION_BED ? "--bed" : "--gff3";
      if (!chooseonce(command, &line->tableoption, option)) return OUTCOME_USAGE;
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
      } else if (std::strcmp(value, "genome") == 0) {
        line->options.sort = SCAN_SORT_GENOME;
      } else {
        usageerror(command, "%s: `%s' is none of position, pvalue and genome", name, value);
        return OUTCOME_USAGE;
      }
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
    case OPTION_HTML:
      line->html = value;
      break;
    case OPTION_INDEX:
      line->index = true;
      break;
    case OPTION_TMPDIR:
      line->tmpdir = value;
      break;
    case OPTION_MEMORY:
      if (!readsize(value, &line->memory)) {
        usageerror(command, "%s: `%s' is no size of at least 1K (such as 512M or 2G)", name,
                   value);
        return OUTCOME_USAGE;
      }
      break;
    case OPTION_REGIONS:
      // The BED file is read in one pass: standard input will do.
      line->regions = std::strcmp(value, "-") == 0 ? "/dev/stdin" : value;
      break;
  }
  return OUTCOME_RUN;
}

Outcome readcommandline(int argc, char **argv, ScanCommandLine *line) {
  const CommandOptions command =
      commandoptions("scan",
                     {{"qvalue", required_argument, nullptr, OPTION_QVALUE},
                      {"tsv", no_argument, nullptr, OPTION_TSV},
                      {"bed", no_argument, nullptr, OPTION_BED},
                      {"gff3", no_argument, nullptr, OPTION_GFF3},
                      {"sort", required_argument, nullptr, OPTION_SORT},
                      {"threads", required_argument, nullptr, 'j'},
                      {"progress", no_argument, nullptr, OPTION_PROGRESS},
                      {"html", required_argument, nullptr, OPTION_HTML},
                      {"tmpdir", required_argument, nullptr, OPTION_TMPDIR},
                      {"index", no_argument, nullptr, OPTION_INDEX},
                      {"memory", required_argument, nullptr, OPTION_MEMORY},
                      {"regions", required_argument, nullptr, OPTION_REGIONS}},
                     "j:");
  const Outcome outcome = readoptions(
      command, argc, argv, &line->common,
      [&](int code, const char *name, const char *value) {
        return readscanoption(command, code, name, value, line);
      });
  if (outcome != OUTCOME_RUN) return outcome;
  const CommonOptions &common = line->common;
  if (line->progress && common.quiet) {
    usageerror(command, "options %s and %s exclude each other", "--progress", "--quiet");
    return OUTCOME_USAGE;
  }
  if (line->index && line->options.sort != SCAN_SORT_GENOME) {
    usageerror(command, "option %s needs %s", "--index", "--sort genome");
    return OUTCOME_USAGE;
  }
  if (line->index && (common.output == nullptr || !compressedname(common.output))) {
    usageerror(command, "option %s needs %s", "--index", "an output file whose name ends in .gz");
    return OUTCOME_USAGE;
  }
  if ((common.binwidth > 0 || common.centred) && line->html == nullptr) {
    usageerror(command, "option %s needs %s", common.binwidth > 0 ? "--bin-width" : "--center",
               "--html");
    return OUTCOME_USAGE;
  }
  const int files = argc - optind;
  if (files < 2) {
    usageerror(command, files == 0 ? "motif files and a sequence file are needed"
                                   : "a sequence file is needed after the motif files");
    return OUTCOME_USAGE;
  }
  for (int i = optind; i + 1 < argc; i++) line->motiffiles.emplace_back(argv[i]);
  line->sequencefile = argv[argc - 1];
  if (line->regions != nullptr && line->sequencefile == "-") {
    usageerror(command, "option %s needs %s", "--regions",
               "a Fasta genome file as SEQUENCES, not standard input");
    return OUTCOME_USAGE;
  }
  std::vector<NamedFile> inputs;
  for (const std::string &file : line->motiffiles) inputs.push_back({file, "a motif file"});
  inputs.push_back({line->sequencefile, "the sequence file"});
  if (line->regions != nullptr) inputs.push_back({line->regions, "the regions file (--regions)"});
  std::vector<NamedFile> outputs;
  if (common.output != nullptr && std::strcmp(common.output, "-") != 0)
    outputs.push_back({common.output, "the output (-o)"});
  if (line->html != nullptr) outputs.push_back({line->html, "the HTML report (--html)"});
  if (!refusesharedfiles(command, outputs, inputs)) return OUTCOME_USAGE;
  line->options.pvalue = common.pvalue;
  line->options.strands = common.forward ? SCAN_STRANDS_FORWARD : SCAN_STRANDS_BOTH;
  line->options.background = common.background;
  line->options.pseudocount = common.pseudocount;
  line->options.alphabet = common.alphabet;
  return OUTCOME_RUN;
}

// ---- The output file ---------------------------------------------------------------------

// The table goes to a new file beside the output file, which replaces it when complete, so
// that a failed or cancelled scan leaves no half-written table behind.
// A name ending in .gz is written BGZF-compressed, by the scan's threads.
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
    std::fprintf(stderr, "zelko scan: cannot write `%s': %s\n", path, std::strerror(errno));
    return false;
  }
  registertemporary(file->file.temporary);
  file->stream = file->file.stream;
  if (compressedname(path)) {
    if (compressedstream_open(fileno(file->file.stream), threads, &file->gzip) != 0) {
      std::fprintf(stderr, "zelko scan: cannot write `%s': %s\n", path, std::strerror(errno));
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

// The compressed stream's last blocks written: false after a message.
bool finishcompression(OutputFile *file) {
  if (!file->compressed) return true;
  file->compressed = false;
  if (compressedstream_close(&file->gzip) != 0) {
    std::fprintf(stderr, "zelko scan: cannot write `%s': %s\n", file->file.finalpath.c_str(),
                 std::strerror(errno));
    return false;
  }
  file->stream = file->file.stream;
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

// The table written in full, not yet in place: false after a message.
bool flushoutput(OutputFile *file) {
  errno = 0;
  if (std::fflush(file->stream) != 0 || std::ferror(file->stream) != 0) {
    const int error = errno != 0 ? errno : EIO;
    if (file->stream == stdout) {
      std::fprintf(stderr, "zelko scan: cannot write to standard output: %s\n",
                   std::strerror(error));
    } else {
      std::fprintf(stderr, "zelko scan: cannot write `%s': %s\n", file->file.finalpath.c_str(),
                   std::strerror(error));
    }
    return false;
  }
  return true;
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
  if (!finishcompression(file)) {
    discardoutput(file);
    return false;
  }
  file->stream = nullptr;
  const std::string temporary = file->file.temporary;
  const int committed = replacefile_commit(&file->file);
  unregistertemporary(temporary);
  if (committed != 0) {
    std::fprintf(stderr, "zelko scan: cannot write `%s': %s\n", file->file.finalpath.c_str(),
                 std::strerror(errno));
    return false;
  }
  return true;
}

int failed(const char *message) { return commandfailed("scan", message); }

// With --regions, SEQUENCES is a genome read through its index, which seeks in it: a pipe or
// a FIFO cannot be, and an index of zelkoindex is no Fasta file. Other faults (a file that
// is missing, a folder) are the library's to name. false after the message.
bool regionsgenome(const std::string &genome) {
  struct stat status;
  if (stat(genome.c_str(), &status) == 0) {
    if (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)) return true;
    std::fprintf(stderr, "zelko scan: `%s' is no regular file: with --regions the genome is "
                 "read through its index (.fai), which needs a file\n", genome.c_str());
    return false;
  }
  if (stat((genome + ".prj").c_str(), &status) == 0) {
    std::fprintf(stderr, "zelko scan: `%s' is an index: with --regions SEQUENCES is a Fasta "
                 "genome\n", genome.c_str());
    return false;
  }
  return true;
}

// Warnings as the user's names tell them: the copy of standard input or a pipe is named as
// given.
void showwarning(const char *text, void *context) {
  const SequenceInput *input = static_cast<const SequenceInput *>(context);
  std::fputs(showninput(*input, text).c_str(), stderr);
}

// Whether the motifs can be read in the alphabet the sequences were given: nucleotide motifs
// (A, C, G, T) would otherwise be taken for the amino acids of those letters, and amino acid
// motifs lose their columns in DNA. A message names the first motif when not.
bool alphabetfits(const ScanMotifs &motifs, ScanAlphabet alphabet) {
  if (alphabet == SCAN_ALPHABET_AUTO || alphabet == motifs.alphabet) return true;
  const bool protein = alphabet == SCAN_ALPHABET_PROTEIN;
  for (const ScanMotif &motif : motifs.motifs) {
    const bool nucleotides = motif.letters.find_first_not_of("ACGTUacgtu") == std::string::npos;
    if (nucleotides != protein) continue;
    std::fprintf(stderr,
                 "zelko scan: the alphabet of motif `%s' (`%s') does not fit the sequences: "
                 "its letters %s are %s, the sequences %s (%s)\n",
                 motif.id.c_str(), motif.sourcefile.c_str(), motif.letters.c_str(),
                 protein ? "nucleotides" : "amino acids", protein ? "protein" : "DNA",
                 protein ? "--protein" : "--dna");
    return false;
  }
  return true;
}

// A row of the table offered to the page's best hits.
struct RowOffer {
  BestHits *best;
  const ScanMotifs *motifs;
  const ScanSequences *sequences;
};

int offerrow(const ScanRow &row, void *context) {
  const RowOffer *offer = static_cast<const RowOffer *>(context);
  besthits_offer(offer->best, *offer->motifs, *offer->sequences, row, nullptr, 0);
  return 0;
}

// Bytes as "812.3 MB" (powers of 1000, as the progress line counts letters).
std::string bytestext(uint64_t bytes) {
  char text[32];
  const double value = static_cast<double>(bytes);
  if (value >= 1e9) {
    std::snprintf(text, sizeof text, "%.2f GB", value / 1e9);
  } else if (value >= 1e6) {
    std::snprintf(text, sizeof text, "%.1f MB", value / 1e6);
  } else {
    std::snprintf(text, sizeof text, "%.1f kB", value / 1e3);
  }
  return text;
}

// The progress line's last line: the memory of the sequences and of the matches.
void showmemory(const ScanMemory &memory, const std::string &tmpdir) {
  std::string runs = "none on disk";
  if (memory.runs > 0) {
    runs = std::to_string(memory.runs) + " sorted run" + (memory.runs == 1 ? "" : "s") + " (" +
           bytestext(memory.spilled) + ") in " + tmpdir;
  }
  std::fprintf(stderr, "memory: sequences %s, matches %s, %s\n",
               bytestext(memory.sequences).c_str(), bytestext(memory.matches).c_str(),
               runs.c_str());
}

// The scan of the loaded motifs and the sequence input, and its table and page.
int scanandwrite(ScanCommandLine *line, ScanMotifs *motifs, ScanSequences *sequences,
                 const SequenceInput &input, ProgressLine *progress, int argc, char **argv) {
  const CommonOptions &common = line->common;
  OutputFile output;
  ScanResult result;
  const uint64_t threads =
      line->options.threads == 0 ? scan_availablethreads() : line->options.threads;
  if (!openoutput(common.output, threads > 1 ? threads : 0, &output)) return EXIT_FAILED;
  if (line->html != nullptr &&
      preparescanreport(*motifs, sequences, &line->options, common.binwidth, common.centred,
                        line->html) != 0) {
    discardoutput(&output);
    return failed(showninput(input, errormessageorunknown()).c_str());
  }
  // The page's best hits, offered every row as the table is written.
  BestHits best;
  RowOffer offer{&best, motifs, sequences};
  ScanTableOutput table;
  table.format = line->table == TABLE_KIND_BED    ? SCAN_TABLE_BED
                 : line->table == TABLE_KIND_GFF3 ? SCAN_TABLE_GFF3
                                                  : SCAN_TABLE_TSV;
  table.stream = output.stream;
  table.memory = line->memory;
  table.tmpdir = temporaryfolder(line->tmpdir);
  if (line->html != nullptr) {
    besthits_init(&best, motifs->motifs.size(), HTMLREPORT_BESTHITS);
    table.row = offerrow;
    table.rowcontext = &offer;
  }
  const int written = scan_runtable(motifs, sequences, line->options, table, &result);
  endprogress(progress);
  if (written == 0 && line->options.progress != nullptr) showmemory(result.run.memory, table.tmpdir);
  // The page shows the sequence file as the user named it.
  sequences->path = input.given;
  // Table and page are put in place together: a page that cannot be written leaves no
  // table behind (and an older table as it was).
  if (written != 0) {
    discardoutput(&output);
    return failed(showninput(input, scan_errormessage()).c_str());
  }
  if (!flushoutput(&output)) {
    discardoutput(&output);
    return EXIT_FAILED;
  }
  if (line->html != nullptr &&
      writescanreport(*motifs, *sequences, result, argc, argv, line->html, &best) != 0) {
    discardoutput(&output);
    return failed(errormessageorunknown());
  }
  if (!closeoutput(&output)) return EXIT_FAILED;
  if (line->index) {
    // Regions of a genome reach as far as their genome coordinates.
    uint64_t longest = 0;
    const bool regions = sequences->offsets.size() == sequences->lengths.size();
    for (size_t i = 0; i < sequences->lengths.size(); i++) {
      longest = std::max(longest, sequences->lengths[i] + (regions ? sequences->offsets[i] : 0));
    }
    const IndexedTable table = line->table == TABLE_KIND_BED    ? INDEXED_BED
                               : line->table == TABLE_KIND_GFF3 ? INDEXED_GFF3
                                                                : INDEXED_TSV;
    std::string message;
    if (writetableindex(output.file.finalpath, table, longest, &message) != 0) {
      return failed(message.c_str());
    }
  }
  return EXIT_DONE;
}

}  // namespace

// ---- scancommand -------------------------------------------------------------------------

int scancommand(int argc, char **argv) {
  ScanCommandLine line;
  const int stop = outcomestatus(readcommandline(argc, argv, &line), scanhelp);
  if (stop >= 0) return stop;
  const CommonOptions &common = line.common;
  ProgressLine progress;
  progress.terminal = isatty(STDERR_FILENO) != 0;
  if (!common.quiet && (progress.terminal || line.progress)) {
    line.options.progress = drawprogress;
    line.options.progresscontext = &progress;
  }
  line.options.warnings = !common.quiet;
  setwarnings(common.quiet);
  installcleanuphandlers();

  ScanMotifs motifs;
  ScanSequences sequences;
  SequenceInput input;
  int status = EXIT_DONE;
  std::string message;
  if (scan_readmotifs(line.motiffiles, common.motifformat, &motifs) != 0) {
    status = failed(scan_errormessage());
  } else if (!alphabetfits(motifs, common.alphabet)) {
    status = EXIT_FAILED;
  } else if (line.regions != nullptr) {
    // Only the regions' letters are read, into memory.
    input.given = input.shown = input.path = line.sequencefile;
    if (!regionsgenome(line.sequencefile)) {
      status = EXIT_FAILED;
    } else if (scan_addregions(&sequences, line.sequencefile, line.regions) != 0) {
      status = failed(scan_errormessage());
    } else {
      status = scanandwrite(&line, &motifs, &sequences, input, &progress, argc, argv);
    }
  } else if (opensequenceinput(line.sequencefile, temporaryfolder(line.tmpdir), &input,
                               &message) != 0) {
    status = failed(message.c_str());
  } else {
    sequences.path = input.path;
    if (input.copied && !common.quiet) {
      line.options.warning = showwarning;
      line.options.warningcontext = &input;
      scan_setwarninghandler(showwarning, &input);
    }
    status = scanandwrite(&line, &motifs, &sequences, input, &progress, argc, argv);
  }
  closesequenceinput(&input);
  scan_freesequences(&sequences);
  scan_freemotifs(&motifs);
  return status;
}
