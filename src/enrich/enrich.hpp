// Motif enrichment: which motifs of a database are over-represented in a set of target
// sequences against control sequences (a second file, or the targets shuffled with their
// k-let counts kept), with exact statistics. The scan of both sets is the scan library's own
// (the same thresholds, from the control's background); per motif, the sequences with at
// least one match give Fisher's exact test, or every sequence's best score the rank-sum test,
// and regions of one length a test of central enrichment.
//
// Conventions as in the scan library (scan/scan.hpp): 0, or -1 with the message in
// scan_errormessage() for the calling thread; threads started and joined inside the call.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "scan/scan.hpp"

enum EnrichTest {
  ENRICH_TEST_FISHER,  // sequences with a match (p-value at most the cutoff): Fisher's exact test
  ENRICH_TEST_RANKSUM  // every sequence's best window score: the rank-sum test
};

// The central windows tried by the central-enrichment test, in letters (those shorter than
// the sequences); the smallest p-value among them is reported, times their number.
constexpr uint64_t ENRICH_CENTRAL_WIDTHS[] = {20, 50, 100, 200, 500};

struct EnrichOptions {
  double pvalue = 1e-4;  // matches: windows with a p-value at most this
  ScanStrands strands = SCAN_STRANDS_BOTH;
  EnrichTest test = ENRICH_TEST_FISHER;
  bool center = false;   // the central-enrichment test (sequences of one length)
  // The control made of the targets when none is given: shuffles copies of every target,
  // each with its k-let counts kept (k = shuffleorder), from seed.
  unsigned shuffleorder = 2;
  uint64_t seed = 1;
  uint64_t shuffles = 1;
  // SCAN_BACKGROUND_SEQUENCES: counted from the control; the others as for a scan.
  ScanBackground background;
  double pseudocount = 1.0;
  ScanAlphabet alphabet = SCAN_ALPHABET_AUTO;
  uint64_t threads = 0;  // 0: the available cores
  uint64_t binwidth = 0;  // letters per bin of the position histograms; 0: a round width
  // The motifs tested and reported, one flag per motif of ScanMotifs; empty: every motif.
  // The others are scanned all the same but take no part in the E- and q-values, which
  // are then those of a motif file holding the kept motifs alone.
  std::vector<bool> keep;
  std::atomic<bool> *cancel = nullptr;  // set to stop: the call fails with "scan cancelled"
  ScanProgressFunction progress = nullptr;  // called for the target's scan, then the control's
  void *progresscontext = nullptr;
  // Told when the control's scan begins (phase 1) after the target's (phase 0).
  void (*phase)(int phase, void *context) = nullptr;
  ScanWarningFunction warning = nullptr;
  void *warningcontext = nullptr;
  bool warnings = true;
};

// One motif's counts and tests. Probabilities are given as log10, so that none underflows.
struct EnrichMotif {
  uint64_t motif = 0;           // index in ScanMotifs::motifs
  uint64_t targethits = 0;      // matches in the targets
  uint64_t targetwithhit = 0;   // targets with at least one match
  uint64_t controlhits = 0;
  uint64_t controlwithhit = 0;
  double ratio = 0.0;           // (targetwithhit + 1) / (targets + 1) over the control's same
  double log10p = 0.0;          // the test's one-sided p-value
  double log10e = 0.0;          // p times the motifs tested
  double log10q = 0.0;          // Benjamini-Hochberg over the motifs
  // The central test (EnrichOptions::center): the width chosen, the target matches whose
  // centre lies in it, of all, and the p-value times the widths tried.
  uint64_t centralwidth = 0;
  uint64_t centralhits = 0;
  uint64_t centralall = 0;
  double centrallog10p = 0.0;
  // Match centres binned by position (from the sequence start, or from its centre with
  // center), both strands: bin b holds binorigin + b * binwidth .. + binwidth - 1.
  std::vector<uint64_t> targetbins;
  std::vector<uint64_t> controlbins;
};

struct EnrichResult {
  std::vector<EnrichMotif> motifs;  // the kept ones, sorted by p-value, then in motif order
  uint64_t targets = 0;             // target sequences
  uint64_t controls = 0;
  uint64_t targetresidues = 0;
  uint64_t controlresidues = 0;
  bool shuffled = false;            // the control was made of the targets
  EnrichOptions options;            // as used (threads resolved; callbacks cleared)
  int64_t binorigin = 0;
  uint64_t binwidth = 1;
  uint64_t length = 0;              // the sequences' one length with center, else the longest
  std::string backgroundsource;     // "control", "uniform", or a file's name
  std::vector<ScanMotifSummary> thresholds;  // per motif: the thresholds of the scans
  double elapsed = 0.0;
};

// The whole analysis. target and control (null: shuffled targets) are loaded when they are
// not; the motifs are prepared with the control's background (or the options'). A control
// with fewer than 2 sequences, or sequences of several lengths with center, fail with a
// message saying so.
int enrich_run(ScanMotifs *motifs, ScanSequences *target, ScanSequences *control,
               const EnrichOptions &options, EnrichResult *out);

// The table: a header row, then one row per motif in the result's order. 0, or -1 when the
// stream cannot be written.
int enrich_writetsv(const EnrichResult &result, const ScanMotifs &motifs, FILE *stream);

// The motif_name column of a motif: its accession and name joined by `_', as zelko scan's BED
// names a motif (the one of them it has alone, once when they are the same).
std::string enrich_motifname(const ScanMotif &motif);

// A probability given as log10 in the table's notation: "%.3e" while a double holds it, the
// same digits from the logarithm below that ("1.234e-512").
std::string enrich_probabilitytext(double log10p);
// An E-value given as log10 in the table's notation: as a probability, but it may pass 1.
std::string enrich_evaluetext(double log10e);
