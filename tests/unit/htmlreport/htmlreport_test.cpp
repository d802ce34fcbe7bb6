// The HTML report: logo heights against information content, logo frequencies from count and
// weight matrices, the best hits kept, bin widths, and a page's escaping and references.
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

namespace {

struct DrawnLetter {
  char letter;
  double x, y, width, height;
};

// The letters a nucleotide logo draws, read back from its SVG.
std::vector<DrawnLetter> drawnletters(const std::string &svg) {
  static const std::regex use(
      "<use href=\"#z(.)\" data-l=\"(.)\" x=\"([-0-9.]+)\" y=\"([-0-9.]+)\" "
      "width=\"([0-9.]+)\" height=\"([0-9.]+)\"/>");
  std::vector<DrawnLetter> letters;
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), use); it != std::sregex_iterator();
       ++it) {
    const std::smatch &m = *it;
    EXPECT_EQ(m[1].str(), m[2].str());
    letters.push_back({m[1].str()[0], std::stod(m[3]), std::stod(m[4]), std::stod(m[5]),
                       std::stod(m[6])});
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

  const double bitsperpixel = 2.0 / geometry.height;
  const double tolerance = 0.1 * bitsperpixel + 1e-9;  // coordinates have one decimal
  std::map<int, std::vector<DrawnLetter>> bycolumn;
  for (const DrawnLetter &letter : drawnletters(svg))
    bycolumn[static_cast<int>(letter.x / geometry.columnwidth)].push_back(letter);
  for (size_t c = 0; c < std::size(columns); c++) {
    const std::vector<DrawnLetter> &drawn = bycolumn[static_cast<int>(c)];
    double total = 0.0;
    for (const DrawnLetter &letter : drawn) {
      const size_t i = std::string("ACGT").find(letter.letter);
      ASSERT_NE(i, std::string::npos);
      EXPECT_NEAR(letter.height * bitsperpixel, columns[c].column[i] * columns[c].bits,
                  2 * tolerance) << "column " << c << " letter " << letter.letter;
      total += letter.height;
    }
    EXPECT_NEAR(total * bitsperpixel, columns[c].bits, 2 * tolerance) << "column " << c;
    // Only letters with a share are drawn, stacked without gaps from the base line, the
    // tallest on top.
    size_t present = 0;
    for (const double p : columns[c].column) present += columns[c].bits > 0.0 && p > 0.0;
    EXPECT_EQ(drawn.size(), present) << "column " << c;
    std::vector<DrawnLetter> stacked = drawn;
    std::sort(stacked.begin(), stacked.end(),
              [](const DrawnLetter &a, const DrawnLetter &b) { return a.y > b.y; });
    double base = geometry.height;
    for (size_t k = 0; k < stacked.size(); k++) {
      EXPECT_NEAR(stacked[k].y + stacked[k].height, base, 1e-9) << "column " << c;
      base = stacked[k].y;
      if (k > 0) {
        EXPECT_GE(stacked[k].height, stacked[k - 1].height - 1e-9);
      }
    }
  }
}

TEST(Logo, FrequenciesComeFromCountsOrFromUniformLogOddsWeights) {
  const std::vector<double> frequencies = {0.7, 0.1, 0.1, 0.1, 0.25, 0.25, 0.4, 0.1,
                                           0.0, 0.5, 0.5, 0.0};
  ScanMotif counts;
  counts.letters = "ACGT";
  counts.length = 3;
  for (const double f : frequencies) counts.counts.push_back(f * 20.0);
  ScanMotif weights;
  weights.letters = "ACGT";
  weights.length = 3;
  // Log-odds against a uniform background, x1000; a letter never seen gets a very low weight.
  for (const double f : frequencies)
    weights.weights.push_back(f > 0.0 ? std::llround(1000.0 * std::log(f / 0.25)) : -100000);
  for (const ScanMotif *motif : {&counts, &weights}) {
    std::vector<double> p;
    scanreport_probabilities(*motif, &p);
    ASSERT_EQ(p.size(), frequencies.size());
    for (size_t i = 0; i < p.size(); i++) EXPECT_NEAR(p[i], frequencies[i], 1e-3) << i;
  }
}

TEST(BestHits, KeepsTheHighestScoresInRankOrderWhateverTheOrderOffered) {
  std::mt19937_64 random(26);
  for (const uint64_t total : {0, 5, 20, 21, 500}) {
    std::vector<BestHitKey> keys;
    for (uint64_t i = 0; i < total; i++)
      keys.push_back({static_cast<int64_t>(random() % 40), random() % 3, random() % 50,
                      random() % 2 ? '+' : '-'});
    std::vector<BestHitKey> expected = keys;
    std::sort(expected.begin(), expected.end(), [](const BestHitKey &a, const BestHitKey &b) {
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
      besthits_insert(&best, 1, key, hit);
    }
    const std::vector<HtmlHit> kept = besthits_take(&best, 1);
    ASSERT_EQ(kept.size(), std::min<uint64_t>(total, 20));
    for (size_t i = 0; i < kept.size(); i++) {
      EXPECT_EQ(kept[i].score, static_cast<double>(expected[i].score)) << i;
      EXPECT_EQ(kept[i].sequence, std::to_string(expected[i].sequence)) << i;
      EXPECT_EQ(kept[i].start, expected[i].start) << i;
      EXPECT_EQ(kept[i].strand, expected[i].strand) << i;
    }
    EXPECT_TRUE(besthits_take(&best, 0).empty());
  }
}

TEST(BinWidth, IsTheSmallestRoundWidthGivingAtMost200Bins) {
  const struct {
    uint64_t longest, width;
  } cases[] = {{0, 1}, {1, 1}, {200, 1}, {201, 2}, {400, 2}, {401, 5}, {2000, 10},
               {2001, 20}, {52904706, 500000}};
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

}  // namespace
