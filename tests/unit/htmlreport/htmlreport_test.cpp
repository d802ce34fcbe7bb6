// The HTML report: logo heights against information content, logo frequencies from count and
// weight matrices, the best hits kept, bin widths, a page's escaping and references, the page
// of a table against the page of the scan that wrote it, and tables that are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "htmlreport/htmlplots.hpp"
#include "htmlreport/htmlreport.hpp"
#include "htmlreport/scanreport.hpp"
#include "support/scratchfiles.hpp"

namespace {

const std::string example = ZELKO_TEST_DATA "/../../examples/dm3_upstream300.fa.gz";
const std::string jaspar = ZELKO_TEST_DATA "/motifconv/jaspar3.jaspar";

struct DrawnLetter {
  char letter;
  double x, y, width, height;
};

// The letters a nucleotide logo draws, read back from its SVG.
std::vector<DrawnLetter> drawnletters(const std::string &svg) {
  static const std::regex use(
      "<use href=\"#z(.)\" x=\"([-0-9.]+)\" y=\"([-0-9.]+)\" "
      "width=\"([0-9.]+)\" height=\"([0-9.]+)\"/>");
  std::vector<DrawnLetter> letters;
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), use); it != std::sregex_iterator();
       ++it) {
    const std::smatch &m = *it;
    letters.push_back({m[1].str()[0], std::stod(m[2]), std::stod(m[3]), std::stod(m[4]),
                       std::stod(m[5])});
  }
  return letters;
}

TEST(Logo, LetterHeightsAreTheColumnsInformationContentInBits) {
  const struct {
    std::vector<double> column;  // A C G T
    double bits;                 // information content
  } columns[] = {
      {{1.0, 0.0, 0.0, 0.0}, 2.0},
      {{0.25, 0.25, 0.25, 0.25}, 0.0},
      {{0.5, 0.0, 0.5, 0.0}, 1.0},
      {{0.7, 0.1, 0.1, 0.1}, 2.0 + 0.7 * std::log2(0.7) + 0.3 * std::log2(0.1)},
      {{0.1, 0.2, 0.3, 0.4},
       2.0 + 0.1 * std::log2(0.1) + 0.2 * std::log2(0.2) + 0.3 * std::log2(0.3) +
           0.4 * std::log2(0.4)},
      {{0.0, 0.0, 0.0, 1.0}, 2.0},
      // C, G and T at 0.002 bits each, under a pixel.
      {{0.97, 0.01, 0.01, 0.01}, 2.0 + 0.97 * std::log2(0.97) + 0.03 * std::log2(0.01)},
  };
  std::vector<double> probabilities;
  for (const auto &c : columns) {
    EXPECT_NEAR(columninformation(c.column.data(), 4), c.bits, 1e-12);
    probabilities.insert(probabilities.end(), c.column.begin(), c.column.end());
  }
  const LogoGeometry geometry;
  std::string svg;
  appendlogo(&svg, probabilities, "ACGT", std::size(columns), geometry, "logo-1", {});
  // The drawing's frame is the logo: positions across, 2 bits high.
  char viewbox[96];
  std::snprintf(viewbox, sizeof viewbox, "viewBox=\"0 0 %g %g\"",
                geometry.columnwidth * std::size(columns), geometry.height);
  EXPECT_NE(svg.find(viewbox), std::string::npos) << svg;

  const double pixelsperbit = geometry.height / 2.0;
  const double tolerance = 0.1;  // pixels: edges have one decimal
  std::map<int, std::vector<DrawnLetter>> bycolumn;
  for (const DrawnLetter &letter : drawnletters(svg))
    bycolumn[static_cast<int>(letter.x / geometry.columnwidth)].push_back(letter);
  for (size_t c = 0; c < std::size(columns); c++) {
    std::vector<DrawnLetter> drawn = bycolumn[static_cast<int>(c)];
    // Each letter p * information content high; those under a pixel left out.
    size_t visible = 0;
    for (size_t i = 0; i < 4; i++) {
      const double pixels = columns[c].column[i] * columns[c].bits * pixelsperbit;
      const auto found = std::find_if(drawn.begin(), drawn.end(), [&](const DrawnLetter &l) {
        return l.letter == "ACGT"[i];
      });
      if (pixels < 1.0 - tolerance) {
        EXPECT_EQ(found, drawn.end()) << "column " << c << " letter " << "ACGT"[i];
        continue;
      }
      visible++;
      ASSERT_NE(found, drawn.end()) << "column " << c << " letter " << "ACGT"[i];
      EXPECT_NEAR(found->height, pixels, 2 * tolerance) << "column " << c << " letter "
                                                        << "ACGT"[i];
    }
    EXPECT_EQ(drawn.size(), visible) << "column " << c;
    if (drawn.empty()) continue;
    // Stacked without gaps, the tallest on top, the top at the information content.
    std::sort(drawn.begin(), drawn.end(),
              [](const DrawnLetter &a, const DrawnLetter &b) { return a.y > b.y; });
    for (size_t k = 1; k < drawn.size(); k++) {
      EXPECT_NEAR(drawn[k].y + drawn[k].height, drawn[k - 1].y, 1e-9) << "column " << c;
      EXPECT_GE(drawn[k].height, drawn[k - 1].height - 1e-9) << "column " << c;
    }
    EXPECT_NEAR(geometry.height - drawn.back().y, columns[c].bits * pixelsperbit, tolerance)
        << "column " << c;
  }
}

TEST(Logo, FrequenciesComeFromCountsOrFromLogOddsWeightsInAnyUnit) {
  const std::vector<double> frequencies = {0.7, 0.1, 0.1, 0.1, 0.25, 0.25, 0.4, 0.1,
                                           0.01, 0.49, 0.49, 0.01};
  ScanMotif counts;
  counts.letters = "ACGT";
  counts.length = 3;
  for (const double f : frequencies) counts.counts.push_back(f * 20.0);
  std::vector<double> p;
  scanreport_probabilities(counts, &p);
  ASSERT_EQ(p.size(), frequencies.size());
  for (size_t i = 0; i < p.size(); i++) EXPECT_NEAR(p[i], frequencies[i], 1e-12) << i;
  // Log-odds against a uniform background in natural-log thousandths, the same scaled once
  // more by 1000 (a library in thousandths read as a FLOAT library), and in bits x 100.
  for (const double scale : {1000.0, 1e6, 100.0 / std::log(2.0)}) {
    ScanMotif weights;
    weights.letters = "ACGT";
    weights.length = 3;
    for (const double f : frequencies)
      weights.weights.push_back(std::llround(scale * std::log(f / 0.25)));
    scanreport_probabilities(weights, &p);
    ASSERT_EQ(p.size(), frequencies.size());
    for (size_t i = 0; i < p.size(); i++)
      EXPECT_NEAR(p[i], frequencies[i], 2e-3) << "scale " << scale << ", cell " << i;
  }
  // A letter a matrix forbids has no share.
  ScanMotif forbidding;
  forbidding.letters = "ACGT";
  forbidding.length = 1;
  forbidding.weights = {std::llround(1000.0 * std::log(0.5 / 0.25)), INT64_MIN / 2,
                        std::llround(1000.0 * std::log(0.25 / 0.25)),
                        std::llround(1000.0 * std::log(0.25 / 0.25))};
  scanreport_probabilities(forbidding, &p);
  EXPECT_EQ(p[1], 0.0);
  EXPECT_NEAR(p[0], 0.5, 2e-3);
}

TEST(BestHits, KeepsTheSmallestPvaluesInRankOrderWhateverTheOrderOffered) {
  std::mt19937_64 random(26);
  for (const uint64_t total : {0, 5, 20, 21, 500}) {
    std::vector<BestHitKey> keys;
    // A few p-values, each of several scores (as on the two strands), so that every rule of
    // the order is needed.
    for (uint64_t i = 0; i < total; i++)
      keys.push_back({1e-4 * static_cast<double>(1 + random() % 8),
                      static_cast<int64_t>(random() % 40), random() % 3, random() % 50,
                      random() % 2 ? '+' : '-'});
    std::vector<BestHitKey> expected = keys;
    std::sort(expected.begin(), expected.end(), [](const BestHitKey &a, const BestHitKey &b) {
      if (a.pvalue != b.pvalue) return a.pvalue < b.pvalue;
      if (a.score != b.score) return a.score > b.score;
      if (a.sequence != b.sequence) return a.sequence < b.sequence;
      if (a.start != b.start) return a.start < b.start;
      return a.strand == '+' && b.strand == '-';
    });
    std::shuffle(keys.begin(), keys.end(), random);
    BestHits best;
    besthits_init(&best, 2, 20);
    for (const BestHitKey &key : keys) {
      if (!besthits_accepts(best, 1, key)) continue;
      HtmlHit hit;
      hit.start = key.start;
      hit.sequence = std::to_string(key.sequence);
      hit.score = static_cast<double>(key.score);
      hit.strand = key.strand;
      hit.pvalue = key.pvalue;
      besthits_insert(&best, 1, key, hit);
    }
    const std::vector<HtmlHit> kept = besthits_take(&best, 1);
    ASSERT_EQ(kept.size(), std::min<uint64_t>(total, 20));
    for (size_t i = 0; i < kept.size(); i++) {
      EXPECT_EQ(kept[i].pvalue, expected[i].pvalue) << i;
      EXPECT_EQ(kept[i].score, static_cast<double>(expected[i].score)) << i;
      EXPECT_EQ(kept[i].sequence, std::to_string(expected[i].sequence)) << i;
      EXPECT_EQ(kept[i].start, expected[i].start) << i;
      EXPECT_EQ(kept[i].strand, expected[i].strand) << i;
    }
    EXPECT_TRUE(besthits_take(&best, 0).empty());
  }
}

TEST(BinWidth, IsTheSmallestRoundWidthGivingAtMost100Bins) {
  const struct {
    uint64_t longest, width;
  } cases[] = {{0, 1}, {1, 1}, {100, 1}, {101, 2}, {200, 2}, {201, 5}, {2000, 20},
               {2001, 50}, {52904706, 1000000}};
  for (const auto &c : cases) EXPECT_EQ(scanreport_binwidth(c.longest), c.width) << c.longest;
}

HtmlReport smallreport() {
  HtmlReport report;
  report.title = "Scan of <odd> & \"quoted\" names";
  report.summary = {{"Sequences", "a<b>.fa"}};
  report.sequences = 10;
  report.residues = 20000;
  report.binwidth = 10;
  for (int m = 0; m < 3; m++) {
    HtmlMotif motif;
    motif.id = m == 1 ? "<script>alert(1)</script>" : "M" + std::to_string(m);
    motif.accession = "MA000" + std::to_string(m) + ".1";
    motif.letters = "ACGT";
    motif.length = 2;
    motif.probabilities = {0.7, 0.1, 0.1, 0.1, 0.0, 0.0, 0.0, 1.0};
    motif.hits = 40u * static_cast<uint64_t>(m);
    motif.expected = m == 2 ? -1.0 : 10.0;
    motif.forwardbins = {1, 2, 3};
    motif.reversebins = {0, 4, 1};
    motif.scorebins = {5, 3, 1};
    motif.scorebinwidth = 0.5;
    HtmlHit hit;
    hit.sequence = "chr<2>";
    hit.text = "AT";
    motif.best.push_back(hit);
    report.motifs.push_back(motif);
  }
  return report;
}

TEST(Page, EscapesEveryTextAndReferencesNothingOutside) {
  const std::string page = htmlreport_render(smallreport());
  EXPECT_EQ(page.find("<script>alert"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(page.find("Scan of &lt;odd&gt; &amp; &quot;quoted&quot; names"), std::string::npos);
  EXPECT_NE(page.find("a&lt;b&gt;.fa"), std::string::npos);
  EXPECT_NE(page.find("chr&lt;2&gt;"), std::string::npos);
  // No address of any kind: no scheme, no src, no link; every href is a fragment.
  for (const char *outside : {"http:", "https:", "//", "src=", "<link", "@import", "url("})
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  static const std::regex href("href=\"([^\"]*)\"");
  for (auto it = std::sregex_iterator(page.begin(), page.end(), href);
       it != std::sregex_iterator(); ++it)
    EXPECT_EQ((*it)[1].str()[0], '#') << (*it)[1].str();
  // Every motif has its row, logo, sparkline, histograms and best hits; unknown numbers show
  // as a dash.
  for (int m = 1; m <= 3; m++) {
    for (const std::string id : {"id=\"m", "id=\"logo-", "id=\"hist-", "id=\"scores-"})
      EXPECT_NE(page.find(id + std::to_string(m) + "\""), std::string::npos) << id << m;
  }
  size_t rows = 0;
  for (size_t at = page.find("<tr class=\"m\">"); at != std::string::npos;
       at = page.find("<tr class=\"m\">", at + 1))
    rows++;
  EXPECT_EQ(rows, 3u);
}

// A scan of the three JASPAR motifs over the example sequences, with its page and its table.
struct ScannedPage {
  ScanMotifs motifs;
  ScanSequences sequences;
  ScanResult result;
  HtmlReport page;
  std::string table;  // the TSV's path
  ~ScannedPage() {
    scan_freesequences(&sequences);
    scan_freemotifs(&motifs);
  }
};

void scanwithpage(ScannedPage *scan, const ScratchFolder &scratch, ScanOptions options,
                  bool centred) {
  scan->sequences.path = example;
  options.warnings = false;
  ASSERT_EQ(scan_readmotifs({jaspar}, SCAN_FORMAT_AUTO, &scan->motifs), 0) << scan_errormessage();
  ASSERT_EQ(scanreport_request(scan->motifs, &scan->sequences, &options, 0, centred), 0);
  ASSERT_EQ(scan_run(&scan->motifs, &scan->sequences, options, &scan->result), 0)
      << scan_errormessage();
  ASSERT_EQ(scanreport_build(scan->motifs, scan->sequences, scan->result, "", &scan->page), 0);
  scan->table = scratch.path("hits.tsv");
  FILE *stream = std::fopen(scan->table.c_str(), "w");
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(scan_writetsv(scan->result, scan->motifs, scan->sequences, stream), 0);
  std::fclose(stream);
}

std::vector<uint64_t> withouttrailingzeros(std::vector<uint64_t> bins) {
  while (!bins.empty() && bins.back() == 0) bins.pop_back();
  return bins;
}

void expectrelative(double a, double b, const std::string &what) {
  EXPECT_NEAR(a, b, 1e-5 * std::fabs(b) + 1e-300) << what;
}

TEST(TablePage, EqualsThePageOfTheScanThatWroteTheTable) {
  const struct {
    ScanSort sort;
    bool centred;
    ScanStrands strands;
    bool withsequences;
    double pvalue;
  } cases[] = {
      {SCAN_SORT_POSITION, false, SCAN_STRANDS_BOTH, true, 1e-4},
      {SCAN_SORT_PVALUE, true, SCAN_STRANDS_BOTH, true, 1e-3},
      // Without the sequences: bins grown from the rows, no windows or expectations.
      {SCAN_SORT_PVALUE, false, SCAN_STRANDS_FORWARD, false, 1e-3},
  };
  for (const auto &c : cases) {
    const std::string name = "case sort " + std::to_string(c.sort) + " centred " +
                             std::to_string(c.centred) + " p " + std::to_string(c.pvalue);
    ScratchFolder scratch;
    ScannedPage scan;
    ScanOptions options;
    options.sort = c.sort;
    options.strands = c.strands;
    options.pvalue = c.pvalue;
    options.threads = 2;
    scanwithpage(&scan, scratch, options, c.centred);
    if (HasFatalFailure()) return;
    TableReportOptions tableoptions;
    tableoptions.centred = c.centred;
    tableoptions.bothstrands = c.strands == SCAN_STRANDS_BOTH;
    tableoptions.pvalue = c.pvalue;
    HtmlReport table;
    uint64_t mismatched = 99;
    ASSERT_EQ(scanreport_fromtable(scan.table, scan.motifs,
                                   c.withsequences ? &scan.sequences : nullptr, tableoptions,
                                   &table, &mismatched),
              0)
        << errortext();
    EXPECT_EQ(mismatched, 0u) << name;
    const HtmlReport &page = scan.page;
    EXPECT_EQ(table.binwidth, page.binwidth) << name;
    EXPECT_EQ(table.centred, page.centred) << name;
    EXPECT_EQ(table.bothstrands, page.bothstrands) << name;
    ASSERT_EQ(table.motifs.size(), page.motifs.size());
    uint64_t hits = 0;
    for (size_t m = 0; m < page.motifs.size(); m++) {
      const HtmlMotif &a = table.motifs[m], &b = page.motifs[m];
      const std::string motif = name + ", motif " + b.id;
      hits += b.hits;
      EXPECT_EQ(a.id, b.id) << motif;
      EXPECT_EQ(a.probabilities, b.probabilities) << motif;
      EXPECT_EQ(a.hits, b.hits) << motif;
      EXPECT_EQ(a.sequenceswithhit, b.sequenceswithhit) << motif;
      EXPECT_EQ(a.binorigin, b.binorigin) << motif;
      EXPECT_EQ(withouttrailingzeros(a.forwardbins), withouttrailingzeros(b.forwardbins))
          << motif;
      EXPECT_EQ(withouttrailingzeros(a.reversebins), withouttrailingzeros(b.reversebins))
          << motif;
      EXPECT_EQ(a.scorebins, b.scorebins) << motif;
      if (b.hits > 0 || c.withsequences) {
        EXPECT_EQ(a.reachable, b.reachable) << motif;
        // The threshold of a motif that cannot reach the cutoff is no score to show.
        if (b.reachable) {
          EXPECT_EQ(a.threshold, b.threshold) << motif;
        }
        EXPECT_EQ(a.scorelow, b.scorelow) << motif;
        EXPECT_DOUBLE_EQ(a.scorebinwidth, b.scorebinwidth) << motif;
      }
      if (c.withsequences) {
        EXPECT_EQ(a.windows, b.windows) << motif;
        EXPECT_EQ(a.expected, b.expected) << motif;
        EXPECT_EQ(a.thresholdpvalue, b.thresholdpvalue) << motif;
        if (c.centred) {
          EXPECT_LT(a.binorigin, 0) << motif;
        }
      } else {
        EXPECT_LT(a.expected, 0.0) << motif;
      }
      ASSERT_EQ(a.best.size(), b.best.size()) << motif;
      EXPECT_EQ(b.best.size(), std::min<uint64_t>(b.hits, HTMLREPORT_BESTHITS)) << motif;
      for (size_t i = 0; i < a.best.size(); i++) {
        const HtmlHit &x = a.best[i], &y = b.best[i];
        const std::string hit = motif + ", best " + std::to_string(i);
        EXPECT_EQ(x.sequence, y.sequence) << hit;
        EXPECT_EQ(x.start, y.start) << hit;
        EXPECT_EQ(x.stop, y.stop) << hit;
        EXPECT_EQ(x.strand, y.strand) << hit;
        EXPECT_EQ(x.score, y.score) << hit;
        EXPECT_EQ(x.text, y.text) << hit;
        expectrelative(x.pvalue, y.pvalue, hit);
        expectrelative(x.qvalue, y.qvalue, hit);
        if (i > 0) {
          // Ranked by the p-values as printed (seven digits), which equal ones of the two
          // strands can share.
          EXPECT_GE(y.pvalue, b.best[i - 1].pvalue * (1.0 - 1e-6)) << hit;
        }
      }
    }
    EXPECT_GT(hits, 100u) << name;
  }
}

TEST(TablePage, RefusesTablesThatAreNotTheScansNamingTheLine) {
  ScratchFolder scratch;
  ScannedPage scan;
  ScanOptions options;
  options.threads = 1;
  scanwithpage(&scan, scratch, options, false);
  if (HasFatalFailure()) return;
  // The header and the first row of the real table, changed field by field.
  std::FILE *stream = std::fopen(scan.table.c_str(), "r");
  ASSERT_NE(stream, nullptr);
  char buffer[4096];
  ASSERT_NE(std::fgets(buffer, sizeof buffer, stream), nullptr);
  const std::string header = buffer;
  ASSERT_NE(std::fgets(buffer, sizeof buffer, stream), nullptr);
  std::fclose(stream);
  std::vector<std::string> fields;
  std::string row = buffer;
  row.pop_back();
  for (size_t at = 0;;) {
    const size_t tab = row.find('\t', at);
    fields.push_back(row.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
    if (tab == std::string::npos) break;
    at = tab + 1;
  }
  const auto changed = [&](size_t field, const std::string &value) {
    std::string line;
    for (size_t i = 0; i < fields.size(); i++)
      line += (i ? "\t" : "") + (i == field ? value : fields[i]);
    return header + line + "\n";
  };
  const std::string name = scan.table;
  const struct {
    std::string table;
    bool withsequences;
    std::string message;
  } cases[] = {
      {"", true, "`" + name + "' is empty: no header row"},
      {header.substr(0, header.find("\tthreshold")) + "\n", true,
       "`" + name + "', line 1: no column `threshold' (is it a table of zelko scan?)"},
      {changed(0, "TBP"), true,
       "`" + name + "', line 2: motif `TBP' (" + fields[1] + ") is not in the motif files"},
      {changed(4, "x"), true,
       "`" + name + "', line 2: not a row of zelko scan (sequence number, start, stop, strand, "
                    "integer score and threshold, p-value, q-value)"},
      {changed(7, "+-"), true,
       "`" + name + "', line 2: not a row of zelko scan (sequence number, start, stop, strand, "
                    "integer score and threshold, p-value, q-value)"},
      {changed(5, std::to_string(std::stoul(fields[5]) + 1)), false,
       "`" + name + "', line 2: a match of " + std::to_string(std::stoul(fields[5]) -
                                                              std::stoul(fields[4]) + 2) +
           " letters for motif `" + fields[0] + "' of length " +
           std::to_string(std::stoul(fields[5]) - std::stoul(fields[4]) + 1)},
      {changed(3, "300"), true, "`" + name + "', line 2: sequence number 300, but the "
                                             "sequences are 300"},
      {changed(2, "chrX"), true,
       "`" + name + "', line 2: sequence " + fields[3] + " is not `chrX' of " + fields[5] +
           " letters or more as in the table: other sequences?"},
      {header + row + "\textra\n", true,
       "`" + name + "', line 2: 15 fields, the header has 14"},
  };
  for (const auto &c : cases) {
    scratch.write("hits.tsv", c.table);
    HtmlReport page;
    EXPECT_EQ(scanreport_fromtable(scan.table, scan.motifs,
                                   c.withsequences ? &scan.sequences : nullptr,
                                   TableReportOptions{}, &page, nullptr),
              -1)
        << c.message;
    EXPECT_EQ(errortext(), c.message);
  }
  clearerrorcode();
}

}  // namespace
