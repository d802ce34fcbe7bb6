// The HTML page of a motif enrichment: the enrichment library's result in, one self-contained
// page out, with the look, logos, sortable table and script of the scan's page (the
// htmlpage_* pieces of htmlreport.hpp). A run summary, then one row per motif in the result's
// order (most enriched first): logo, the target and control sequences with a match, the
// enrichment ratio, p-, E- and q-value as the table prints them, the central test when it
// was asked for, and where the matches lie; a click opens the positions of the motif's
// matches in target and control side by side, per sequence so that sets of different sizes
// compare.
//
// Contents: HtmlEnrichMotif, HtmlEnrichment; enrichreport_rates; enrichreport_render;
// EnrichReportInputs, enrichreport_build.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "enrich/enrich.hpp"
#include "htmlreport/htmlreport.hpp"
#include "scan/scan.hpp"

struct HtmlEnrichMotif {
  std::string id;
  std::string accession;
  std::string letters;                // column letters of probabilities
  uint64_t length = 0;
  std::vector<double> probabilities;  // length x letters, each row summing to 1
  EnrichMotif counts;                 // counts, tests and position bins of the analysis
};

struct HtmlEnrichment {
  std::string title;                     // the page's title and heading
  std::vector<HtmlSummaryItem> summary;  // the run summary, in order
  uint64_t targets = 0;                  // sequences (with letters) of each set
  uint64_t controls = 0;
  int64_t binorigin = 0;                 // the position bins of every motif
  uint64_t binwidth = 1;
  bool centred = false;  // positions from the sequence centres, and the central test's columns
  std::vector<HtmlEnrichMotif> motifs;   // the table's rows in their first order
};

// Bins of match centres as matches per kb and sequence: count * 1000 / (sequences *
// binwidth), so that the plots of sets of different sizes compare (none for no sequences).
std::vector<double> enrichreport_rates(const std::vector<uint64_t> &bins, uint64_t sequences,
                                       uint64_t binwidth);

// The whole page.
std::string enrichreport_render(const HtmlEnrichment &page);

// What the page's summary names beside the result.
struct EnrichReportInputs {
  std::string target;       // the target file as the user named it
  std::string control;      // the control file; empty when the targets were shuffled
  uint64_t targetbytes = 0;  // file sizes (0: not known)
  uint64_t controlbytes = 0;
  std::string commandline;  // shown when not empty
};

// The page's records from a finished enrichment and its motifs (as the analysis prepared
// them, with the background it used). 0, or -1 with the message in the ErrorBuffer when the
// result does not belong to the motifs.
int enrichreport_build(const ScanMotifs &motifs, const EnrichResult &result,
                       const EnrichReportInputs &inputs, HtmlEnrichment *page);
