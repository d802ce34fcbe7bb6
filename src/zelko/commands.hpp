// The subcommands of zelko and what they share.
#pragma once

#include <cstdint>
#include <string>

// Exit statuses of every subcommand: success, a failure of the work, a usage error.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

// zelko scan: argv[0] is "scan".
int scancommand(int argc, char **argv);

// zelko enrich: argv[0] is "enrich". Which motifs are enriched in target sequences.
int enrichcommand(int argc, char **argv);
// zelko variants: argv[0] is "variants". Motif sites the alleles of a VCF make or break.
int variantscommand(int argc, char **argv);

// zelko report: argv[0] is "report". The HTML page of a table zelko scan wrote.
int reportcommand(int argc, char **argv);

// What zelko scan --html takes from the report's side: before the scan, the histogram
// request (loading the sequences) and a check that path can be written; after it, the page
// written to path. 0, or -1 with the message in the ErrorBuffer.
struct ScanMotifs;
struct ScanSequences;
struct ScanOptions;
struct ScanResult;
struct BestHits;
int preparescanreport(const ScanMotifs &motifs, ScanSequences *sequences, ScanOptions *options,
                      uint64_t binwidth, bool centred, const char *path);
// best: the best hits gathered from the rows of scan_runtable (null: from result's hits).
int writescanreport(const ScanMotifs &motifs, const ScanSequences &sequences,
                    const ScanResult &result, int argc, char **argv, const char *path,
                    BestHits *best = nullptr);

// zelko enrich --html: the page of an enrichment, written to path; target and control (null:
// the targets shuffled) named as the user gave them. 0, or -1 with the message.
struct EnrichResult;
int writeenrichreport(const ScanMotifs &motifs, const ScanSequences &target,
                      const ScanSequences *control, const EnrichResult &result, int argc,
                      char **argv, const char *path);

// The pages' files: a page written through a temporary file beside path, renamed when
// complete, which a signal does not leave behind; before a long run, a check that the
// folder of path can take it. 0, or -1 with the message in the ErrorBuffer.
int writepagefile(const std::string &page, const char *path);
int checkpagefolder(const char *path);
// The command line as a shell takes it back ("zelko scan ..."): plain words as they are,
// others in single quotes.
std::string commandlinetext(int argc, char **argv);

// "zelko 1.3 ..." with the build date, for --version of every subcommand.
void printzelkoversion();
