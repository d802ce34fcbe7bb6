// The page of an enrichment: position rates per kb and sequence, target and control plots on
// one scale, every motif's row with the numbers as the table prints them, the central test's
// columns only when asked for, and the page's records from a result and its motifs.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "enrich/enrich.hpp"
#include "htmlreport/enrichreport.hpp"
#include "htmlreport/htmlplots.hpp"

namespace {

TEST(EnrichPage, RatesAreMatchesPerKbAndSequenceAndScalesRound) {
  const struct {
    std::vector<uint64_t> bins;
    uint64_t sequences, binwidth;
    std::vector<double> rates;
  } cases[] = {
      {{0, 1, 4}, 10, 100, {0.0, 1.0, 4.0}},
      {{3, 6}, 1000, 2, {1.5, 3.0}},
      // Twice the sequences with twice the matches: the same rates.
      {{2, 8}, 20, 50, {2.0, 8.0}},
      {{4, 16}, 40, 50, {2.0, 8.0}},
      {{5}, 0, 10, {0.0}},
      {{}, 10, 10, {}},
  };
  for (const auto &c : cases) {
    const std::vector<double> rates = enrichreport_rates(c.bins, c.sequences, c.binwidth);
    ASSERT_EQ(rates.size(), c.rates.size());
    for (size_t b = 0; b < rates.size(); b++)
      EXPECT_NEAR(rates[b], c.rates[b], 1e-12) << c.sequences << " sequences, bin " << b;
  }
  const struct {
    double largest, top;
  } scales[] = {{0.0, 1.0},    {-3.0, 1.0}, {0.00042, 0.0005}, {0.2, 0.2},  {0.21, 0.25},
                {1.0, 1.0},   {1.01, 2.0}, {3.0, 5.0},          {7.5, 10.0}, {120.0, 200.0},
                {2.5e9, 2.5e9}};
  for (const auto &s : scales) EXPECT_DOUBLE_EQ(nicescaletop(s.largest), s.top) << s.largest;
}

HtmlEnrichMotif pagemotif(const std::string &id, double log10p, double log10e) {
  HtmlEnrichMotif motif;
  motif.id = id;
  motif.accession = "MA" + std::to_string(id.size()) + ".1";
  motif.letters = "ACGT";
  motif.length = 2;
  motif.probabilities = {0.7, 0.1, 0.1, 0.1, 0.0, 0.0, 0.0, 1.0};
  motif.counts.targetwithhit = 30;
  motif.counts.controlwithhit = 12;
  motif.counts.targethits = 41;
  motif.counts.controlhits = 15;
  motif.counts.ratio = 2.5;
  motif.counts.log10p = log10p;
  motif.counts.log10e = log10e;
  motif.counts.log10q = log10p / 2.0;
  motif.counts.centralwidth = 50;
  motif.counts.centralhits = 20;
  motif.counts.centralall = 41;
  motif.counts.centrallog10p = -4.2;
  // 100 targets against 200 controls: the control's twice as many matches are the same rates.
  motif.counts.targetbins = {0, 3, 1, 0};
  motif.counts.controlbins = {0, 6, 2, 0};
  return motif;
}

// The text of the element of the given id, up to its closing tag.
std::string element(const std::string &page, const std::string &tag, const std::string &id) {
  const size_t at = page.find("id=\"" + id + "\"");
  if (at == std::string::npos) return {};
  const size_t end = page.find("</" + tag + ">", at);
  return page.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

size_t count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

TEST(EnrichPage, ShowsEveryMotifWithTheTablesNumbersAndTheCentralTestWhenAsked) {
  for (const bool centred : {false, true}) {
    HtmlEnrichment page;
    page.title = "Enrichment of <odd> & names";
    page.summary = {{"Target", "a<b>.fa"}};
    page.targets = 100;
    page.controls = 200;
    page.binwidth = 50;
    page.binorigin = centred ? -100 : 0;
    page.centred = centred;
    page.motifs = {pagemotif("MYF6", -512.3, -510.7), pagemotif("<b>x</b>", -3.5, 0.4),
                   pagemotif("REST", 0.0, 1.6)};
    const std::string html = enrichreport_render(page);
    const std::string what = centred ? "centred: " : "from the start: ";

    EXPECT_EQ(html.find("<b>x</b>"), std::string::npos) << what;
    EXPECT_NE(html.find("&lt;b&gt;x&lt;/b&gt;"), std::string::npos) << what;
    EXPECT_NE(html.find("Enrichment of &lt;odd&gt; &amp; names"), std::string::npos) << what;
    for (const char *outside : {"http:", "https:", "//", "src=", "<link", "@import", "url("})
      EXPECT_EQ(html.find(outside), std::string::npos) << what << outside;

    // The heading's cells, every row's cells and the details' span agree.
    const size_t headstart = html.find("<table class=\"motifs\"");
    const size_t headend = html.find("</thead>");
    ASSERT_TRUE(headstart != std::string::npos && headend > headstart) << what;
    const std::string head = html.substr(headstart, headend - headstart);
    const size_t columns = count(head, "<th ") + count(head, "<th>");
    EXPECT_EQ(columns, centred ? 13u : 11u) << what;
    EXPECT_EQ(head.find("Central p") != std::string::npos, centred) << what;
    EXPECT_EQ(count(html, "colspan=\"" + std::to_string(columns) + "\""), 3u) << what;

    for (size_t m = 1; m <= page.motifs.size(); m++) {
      const std::string n = std::to_string(m);
      const std::string body = element(html, "tbody", "m" + n);
      ASSERT_FALSE(body.empty()) << what << "motif " << m;
      const std::string row = body.substr(0, body.find("</tr>"));
      EXPECT_EQ(count(row, "<td"), columns) << what << "motif " << m;
      const EnrichMotif &c = page.motifs[m - 1].counts;
      // p, E and q as the table prints them, sorted by their logarithm.
      for (const std::string &text :
           {enrich_probabilitytext(c.log10p), enrich_evaluetext(c.log10e),
            enrich_probabilitytext(c.log10q)})
        EXPECT_NE(row.find(">" + text + "</td>"), std::string::npos) << what << text;
      EXPECT_NE(row.find("data-v=\"" + htmlpage_rawnumber(c.log10p) + "\""), std::string::npos)
          << what << "motif " << m;
      EXPECT_NE(row.find("30 <span class=\"pct\">/ 100</span>"), std::string::npos) << what;
      EXPECT_NE(row.find("12 <span class=\"pct\">/ 200</span>"), std::string::npos) << what;
      EXPECT_EQ(row.find(">" + enrich_probabilitytext(c.centrallog10p) + "</td>") !=
                    std::string::npos,
                centred)
          << what << "motif " << m;
      EXPECT_NE(body.find("id=\"logo-" + n + "\""), std::string::npos) << what << m;

      // Target and control side by side on one scale: the same rates draw the same bars
      // under the same top label.
      const std::string target = element(html, "svg", "hist-t-" + n);
      const std::string control = element(html, "svg", "hist-c-" + n);
      ASSERT_FALSE(target.empty() || control.empty()) << what << "motif " << m;
      static const std::regex bars("<path class=\"(fw|ct)\" (transform=\"[^\"]*\" d=\"[^\"]*\")");
      static const std::regex top("<text x=\"44\" y=\"24\" class=\"e\">([^<]*)</text>");
      std::smatch t, u;
      ASSERT_TRUE(std::regex_search(target, t, bars)) << target;
      ASSERT_TRUE(std::regex_search(control, u, bars)) << control;
      EXPECT_EQ(t[1].str(), "fw");
      EXPECT_EQ(u[1].str(), "ct");
      EXPECT_EQ(t[2].str(), u[2].str()) << what << "motif " << m;
      ASSERT_TRUE(std::regex_search(target, t, top)) << target;
      ASSERT_TRUE(std::regex_search(control, u, top)) << control;
      // The largest rate, 3 matches of 100 targets in 50 letters (0.6 per kb), under 1.
      EXPECT_EQ(t[1].str(), "1") << what;
      EXPECT_EQ(t[1].str(), u[1].str()) << what;
    }
  }
}

TEST(EnrichPage, RecordsFollowTheResultsOrderAndNameTheControl) {
  ScanMotifs motifs;
  for (const char *id : {"Arnt", "Ahr::Arnt", "NFYA"}) {
    ScanMotif motif;
    motif.id = id;
    motif.accession = std::string("MA") + id;
    motif.letters = "ACGT";
    motif.length = 2;
    motif.counts = {8, 0, 0, 0, 0, 4, 4, 0};
    motif.sourcefile = "motifs.jaspar";
    motifs.motifs.push_back(motif);
  }
  EnrichResult result;
  for (const uint64_t m : {2, 0, 1}) {
    EnrichMotif row;
    row.motif = m;
    row.targetwithhit = 10 * m;
    result.motifs.push_back(row);
  }
  result.targets = 300;
  result.controls = 900;
  result.shuffled = true;
  result.options.shuffles = 3;
  result.options.seed = 7;
  result.options.threads = 2;
  result.binwidth = 20;
  EnrichReportInputs inputs;
  inputs.target = "data/peaks.fa";
  inputs.commandline = "zelko enrich motifs.jaspar data/peaks.fa";
  HtmlEnrichment page;
  ASSERT_EQ(enrichreport_build(motifs, result, inputs, &page), 0);
  ASSERT_EQ(page.motifs.size(), 3u);
  const char *ids[] = {"NFYA", "Arnt", "Ahr::Arnt"};
  for (size_t i = 0; i < 3; i++) {
    EXPECT_EQ(page.motifs[i].id, ids[i]);
    EXPECT_EQ(page.motifs[i].counts.targetwithhit, result.motifs[i].targetwithhit);
    const std::vector<double> expected = {1.0, 0.0, 0.0, 0.0, 0.0, 0.5, 0.5, 0.0};
    ASSERT_EQ(page.motifs[i].probabilities.size(), expected.size());
    for (size_t k = 0; k < expected.size(); k++)
      EXPECT_NEAR(page.motifs[i].probabilities[k], expected[k], 1e-12);
  }
  EXPECT_EQ(page.title, "Zelko enrichment in peaks.fa");
  std::string summary;
  for (const HtmlSummaryItem &item : page.summary) summary += item.label + ": " + item.value + "\n";
  EXPECT_NE(summary.find("Motifs: motifs.jaspar: 3 motifs"), std::string::npos) << summary;
  EXPECT_NE(summary.find("Target: data/peaks.fa: 300 sequences"), std::string::npos) << summary;
  EXPECT_NE(summary.find("Control: the targets shuffled: 3 copies of each, the counts of "
                         "2-letter words kept, seed 7; 900 sequences"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("Fisher's exact test"), std::string::npos) << summary;
  EXPECT_NE(summary.find("Command: zelko enrich motifs.jaspar data/peaks.fa"), std::string::npos);

  // A given control is named by its file; a result of other motifs is refused.
  result.shuffled = false;
  inputs.control = "data/flanks.fa";
  ASSERT_EQ(enrichreport_build(motifs, result, inputs, &page), 0);
  summary.clear();
  for (const HtmlSummaryItem &item : page.summary) summary += item.label + ": " + item.value + "\n";
  EXPECT_NE(summary.find("Control: data/flanks.fa: 900 sequences"), std::string::npos) << summary;
  result.motifs[1].motif = 3;
  EXPECT_EQ(enrichreport_build(motifs, result, inputs, &page), -1);
}

}  // namespace
