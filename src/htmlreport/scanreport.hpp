// From the scan library's records to the HTML report's: the histogram request of a scan
// whose page is wanted, and the page's records from the scan's result (logos, counts, hits
// expected by chance, bins, best hits, run summary), or from a table `zelko scan' wrote.
//
// Contents: scanreport_binwidth, scanreport_request; scanreport_probabilities;
// BestHitKey, BestHits, besthits_*; scanreport_build; TableReportOptions, scanreport_fromtable;
// the texts of a run summary.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "htmlreport/htmlreport.hpp"
#include "scan/scan.hpp"

// The bin width the page uses when none is asked for: the smallest round width (1, 2 or 5
// times a power of ten) that covers the longest sequence in at most 100 bins.
uint64_t scanreport_binwidth(uint64_t longest);

// Asks a scan for the histograms of its report: loads the sequences when they are not
// loaded (with the options' alphabet, or the motifs' one), to learn their longest, and
// fills options->histogram (binwidth 0: scanreport_binwidth of the longest).
int scanreport_request(const ScanMotifs &motifs, ScanSequences *sequences,
                       ScanOptions *options, uint64_t binwidth, bool centred);

// The letter probabilities a motif's logo is drawn from, length x letters: the counts of a
// count matrix as frequencies per position; for a matrix given as weights only (a profile
// library), whose units are not known, p = exp(lambda w) / 4 normalised per position, with
// lambda the scale at which the probabilities of log-odds weights against a uniform
// background sum to 1 (natural-log thousandths when there is none). This gives back the
// frequencies of log-odds weights in any unit: bits, natural logarithms, times 1000.
void scanreport_probabilities(const ScanMotif &motif, std::vector<double> *probabilities);

// The best hits of every motif, kept while the hits go by: smaller p-value first (the strands
// have distributions of their own, so a score alone does not rank hits of both), then higher
// score, sequence, start and + before -. A caller asks
// whether a hit would be kept before it builds the hit's record.
struct BestHitKey {
  double pvalue = 1.0;
  int64_t score = 0;  // x1000
  uint64_t sequence = 0;
  uint64_t start = 0;
  char strand = '+';
};
struct BestHitEntry {
  BestHitKey key;
  HtmlHit hit;
};
struct BestHits {
  uint64_t keep = HTMLREPORT_BESTHITS;
  std::vector<std::vector<BestHitEntry>> motifs;  // a heap each, the worst on top
};
void besthits_init(BestHits *best, uint64_t motifs, uint64_t keep);
bool besthits_accepts(const BestHits &best, uint32_t motif, const BestHitKey &key);
// Adds a hit that besthits_accepts, dropping the worst when the motif has enough.
void besthits_insert(BestHits *best, uint32_t motif, const BestHitKey &key, HtmlHit hit);
// Offers a row of a scan (row i of result when result is not null, its text taken from there;
// a row of scan_runtable otherwise) to the best hits.
void besthits_offer(BestHits *best, const ScanMotifs &motifs, const ScanSequences &sequences,
                    const ScanRow &row, const ScanResult *result, size_t i);
// Moves the kept hits of a motif out, best first.
std::vector<HtmlHit> besthits_take(BestHits *best, uint32_t motif);

// The page of a finished scan (run with the histogram request). commandline is shown in
// the summary when not empty. The best hits are taken from result's hits, or from given
// (offered the rows of scan_runtable; emptied).
int scanreport_build(const ScanMotifs &motifs, const ScanSequences &sequences,
                     const ScanResult &result, const std::string &commandline,
                     HtmlReport *report, BestHits *given = nullptr);

// What `zelko report' knows beside the table: the motifs (prepared) and, when given, the
// sequences the scan ran on, which give the sequence count, the windows tested, centring
// and hits per kb.
struct TableReportOptions {
  uint64_t binwidth = 0;         // 0: scanreport_binwidth of the longest sequence
  bool centred = false;          // needs the sequences
  bool bothstrands = true;       // the strands the scan searched
  double pvalue = 1e-4;          // the scan's cutoff, for motifs without a row
  uint64_t scorebins = 20;
  // The motifs were prepared with the scan's background, so their highest scores bound the
  // score histograms as in the scan; otherwise the table's highest scores do.
  bool weightsknown = true;
  std::string commandline;
};
// Reads the TSV table at path (plain or gzip; "-" for standard input) and builds its page.
// sequences may be null. A row naming a motif that is not among the motifs, a sequence
// number beyond the sequences, or a row whose fields do not read fails, naming the line.
// *ret_mismatched counts the motifs whose threshold in the table differs from the one the
// p-value cutoff gives with the motifs as prepared (another background or cutoff).
int scanreport_fromtable(const std::string &path, const ScanMotifs &motifs,
                         const ScanSequences *sequences, const TableReportOptions &options,
                         HtmlReport *report, uint64_t *ret_mismatched);

// ---- Texts of a run summary, which the page of an enrichment shares ----------------------

// A path's last part.
std::string scanreport_basename(const std::string &path);
// "812 bytes", "3.2 MB".
std::string scanreport_bytestext(uint64_t bytes);
// The local date and time, "2025-01-31 14:05".
std::string scanreport_today();
// The background's source (source when not empty, else the motifs' own) and its frequencies.
std::string scanreport_backgroundtext(const ScanMotifs &motifs, std::string_view source = {});
// "10 letters per bin, hit centres from the sequence start" (noun: "hit").
std::string scanreport_binstext(uint64_t binwidth, bool centred, std::string_view noun = "hit");
// The files the motifs were read from, in their order, and "FILES: 40 motifs".
std::vector<std::string> scanreport_motiffiles(const ScanMotifs &motifs);
std::string scanreport_motifstext(const std::vector<std::string> &files, const ScanMotifs &motifs);
