// The HTML report of a scan: plain records in, one self-contained HTML page out (inline
// style, a few lines of inline script, inline SVG; no network, no external file). A run
// summary, then one table row per motif (logo, hits, hits per kb, hits expected by chance,
// their ratio, sequences with a hit, a line of where the hits lie) that sorts by any
// column; a click opens the motif's position histogram per strand, its score distribution
// and its best hits. The records hold binned counts, never the hit list, so the page stays
// small whatever the number of hits.
//
// Contents: HtmlHit, HtmlMotif, HtmlSummaryItem, HtmlReport; htmlreport_render,
// htmlreport_writefile; HTMLREPORT_BESTHITS; the pieces every page of the report shares
// (htmlpage_*), which the page of an enrichment is made of too.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Best hits kept per motif.
constexpr uint64_t HTMLREPORT_BESTHITS = 20;

// One hit among a motif's best.
struct HtmlHit {
  std::string sequence;  // the sequence's name
  uint64_t start = 0;    // 1-based, closed
  uint64_t stop = 0;
  char strand = '+';
  double score = 0.0;    // in weight units
  double pvalue = 0.0;
  double qvalue = -1.0;  // negative: not known
  std::string text;      // matched letters in the motif's direction; may be empty
};

struct HtmlMotif {
  std::string id;
  std::string accession;
  std::string letters;               // column letters of probabilities
  uint64_t length = 0;
  std::vector<double> probabilities; // length x letters, each row summing to 1
  // Counts over the scan.
  uint64_t hits = 0;
  uint64_t sequenceswithhit = 0;
  uint64_t windows = 0;              // windows tested, both strands counted (0: not known)
  double expected = -1.0;            // hits expected by chance (negative: not known)
  bool reachable = true;             // the motif can reach its threshold at all
  bool thresholdknown = true;
  double threshold = 0.0;            // in weight units
  double thresholdpvalue = -1.0;     // exact p-value of the threshold (negative: not known)
  // The - strand's threshold, under the complemented background, when both strands were
  // searched and it differs from the + strand's.
  bool reversethresholdshown = false;
  double reversethreshold = 0.0;
  double reversethresholdpvalue = -1.0;
  // Hit centres per strand in bins of HtmlReport::binwidth from binorigin; reversebins
  // empty when one strand was searched.
  int64_t binorigin = 0;
  std::vector<uint64_t> forwardbins;
  std::vector<uint64_t> reversebins;
  // Scores of the hits: bin b from scorelow + b * scorebinwidth (weight units).
  double scorelow = 0.0;
  double scorebinwidth = 0.0;
  std::vector<uint64_t> scorebins;
  std::vector<HtmlHit> best;         // best first
};

struct HtmlSummaryItem {
  std::string label;
  std::string value;
};

struct HtmlReport {
  std::string title;                     // the page's title and heading
  std::vector<HtmlSummaryItem> summary;  // the run summary, in order
  uint64_t sequences = 0;                // sequences scanned (0: not known)
  uint64_t residues = 0;                 // letters scanned, for hits per kb (0: not known)
  uint64_t binwidth = 1;                 // letters per position bin
  bool centred = false;                  // positions relative to the sequence centre
  bool bothstrands = true;
  std::vector<HtmlMotif> motifs;         // the table's rows in their first order
};

// The whole page.
std::string htmlreport_render(const HtmlReport &report);

// Writes the page to path through a temporary file beside it that is renamed when complete,
// so a failed write leaves no partial page. 0, or -1 with the message in the ErrorBuffer.
int htmlreport_writefile(const HtmlReport &report, const std::string &path);

// ---- Pieces of every page ----------------------------------------------------------------
// One look and one script for every page: a page is htmlpage_begin, htmlpage_summary,
// htmlpage_tablestart, the table's <table class="motifs" id="motifs"> with its head and one
// <tbody class="motif" id="mN"> per motif (a row of class "m" whose cells 1 and 2 are the
// motif's id and accession, which the filter reads, then a hidden row of details that a click
// on the first opens), and htmlpage_end. Headings with data-s sort: "t" text, "n" numbers
// from the largest first, "a" numbers from the smallest first (p-values); a cell's data-v,
// when there is one, is the number it sorts by.

// The head (title, style), the page's definitions (the letter glyphs, then definitions: the
// frames of the plots), the header (the title, and line below it: HTML) and <main>.
void htmlpage_begin(std::string *out, std::string_view title, std::string_view definitions,
                    std::string_view line);
// The run summary.
void htmlpage_summary(std::string *out, const std::vector<HtmlSummaryItem> &summary);
// The motif section up to its table: filter, the reverse-complement button when there are
// nucleotide logos, and the hint ("a row for " opened).
void htmlpage_tablestart(std::string *out, bool nucleotides, std::string_view opened);
// A number cell: shown (HTML), sorted by value, extra (HTML) after it.
void htmlpage_numbercell(std::string *out, std::string_view shown, std::string_view value,
                         std::string_view extra = {});
// The logo cell of motif number (its SVG's id "logo-N"), turned by a click when nucleotides.
void htmlpage_logocell(std::string *out, const std::vector<double> &probabilities,
                       std::string_view letters, uint64_t length, uint64_t number);
// The end of the table and of <main>, footer (HTML), the script.
void htmlpage_end(std::string *out, std::string_view footer);
// A count with thousands separators; a number for data-v ("%.6g").
std::string htmlpage_thousands(uint64_t value);
std::string htmlpage_rawnumber(double value);
