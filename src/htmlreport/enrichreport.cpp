// The HTML page of a motif enrichment: its records from the enrichment library's result, and
// the page made of the pieces every page of the report shares.
#include "htmlreport/enrichreport.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <string_view>

#include "base/error.hpp"
#include "htmlreport/htmlplots.hpp"
#include "htmlreport/scanreport.hpp"

namespace {

// E-values at most this are counted in the header line.
constexpr double significant = 0.05;

std::string plural(uint64_t count, const char *one, const char *many) {
  return htmlpage_thousands(count) + " " + (count == 1 ? one : many);
}

// "123 / 300": sequences with a match of all, the share as the cell's title.
void appendsharecell(std::string *out, uint64_t withhit, uint64_t sequences) {
  std::string shown = "<span title=\"";
  if (sequences > 0) {
    shown += formatnumber(100.0 * static_cast<double>(withhit) / static_cast<double>(sequences),
                          2);
    shown += "% of the sequences";
  }
  shown += "\">";
  shown += htmlpage_thousands(withhit);
  shown += " <span class=\"pct\">/ ";
  shown += htmlpage_thousands(sequences);
  shown += "</span></span>";
  htmlpage_numbercell(out, shown, std::to_string(withhit));
}

// A probability cell: the table's text, sorted by its log10 (which holds any exponent).
void appendprobabilitycell(std::string *out, const std::string &shown, double log10p) {
  htmlpage_numbercell(out, shown, htmlpage_rawnumber(log10p == 0.0 ? 0.0 : log10p));
}

std::string perseqtext(uint64_t hits, uint64_t sequences) {
  if (sequences == 0) return "\u2013";
  return formatnumber(static_cast<double>(hits) / static_cast<double>(sequences), 3);
}

// The frames of the position plots: one per number of bins, shared by the motifs.
using Frames = std::map<size_t, std::string>;

RateHistogram ratesof(const HtmlEnrichment &page, const std::vector<double> &rates, double top,
                      const char *cls) {
  RateHistogram histogram;
  histogram.origin = page.binorigin;
  histogram.binwidth = page.binwidth;
  histogram.rates = &rates;
  histogram.top = top;
  histogram.centred = page.centred;
  histogram.cls = cls;
  return histogram;
}

void appendmotif(std::string *out, const HtmlEnrichment &page, const Frames &frames,
                 const HtmlEnrichMotif &motif, uint64_t number, size_t columns) {
  const EnrichMotif &c = motif.counts;
  const std::string n = std::to_string(number);
  *out += "<tbody class=\"motif\" id=\"m";
  *out += n;
  *out += "\"><tr class=\"m\">";
  htmlpage_numbercell(out, n, n);
  *out += "<td class=\"id\">";
  appendescaped(out, motif.id);
  *out += "</td><td class=\"acc\">";
  appendescaped(out, motif.accession);
  *out += "</td>";
  htmlpage_logocell(out, motif.probabilities, motif.letters, motif.length, number);
  appendsharecell(out, c.targetwithhit, page.targets);
  appendsharecell(out, c.controlwithhit, page.controls);
  htmlpage_numbercell(out, formatnumber(c.ratio, 3), htmlpage_rawnumber(c.ratio));
  appendprobabilitycell(out, enrich_probabilitytext(c.log10p), c.log10p);
  appendprobabilitycell(out, enrich_evaluetext(c.log10e), c.log10e);
  appendprobabilitycell(out, enrich_probabilitytext(c.log10q), c.log10q);
  if (page.centred) {
    if (c.centralwidth > 0) {
      htmlpage_numbercell(out, std::to_string(c.centralwidth), std::to_string(c.centralwidth));
    } else {
      htmlpage_numbercell(out, "<span class=\"dim\">\u2013</span>", "");
    }
    appendprobabilitycell(out, enrich_probabilitytext(c.centrallog10p), c.centrallog10p);
  }
  const std::vector<double> target = enrichreport_rates(c.targetbins, page.targets, page.binwidth);
  const std::vector<double> control =
      enrichreport_rates(c.controlbins, page.controls, page.binwidth);
  *out += "<td title=\"Target above, control below\">";
  appendsparklinepair(out, target, control, "fw", "ct");
  *out += "</td></tr>\n<tr class=\"d\" hidden><td colspan=\"";
  *out += std::to_string(columns);
  *out += "\"><div class=\"detail\"><div class=\"plots sets\">";

  // Target and control side by side, on one scale.
  double largest = 0.0;
  for (const double r : target) largest = std::max(largest, r);
  for (const double r : control) largest = std::max(largest, r);
  const double top = nicescaletop(largest);
  const auto found = frames.find(std::max(target.size(), control.size()));
  const std::string frame = found == frames.end() ? std::string() : found->second;
  const struct {
    const char *name;
    const char *id;
    const std::vector<double> *rates;
    const char *cls;
  } sets[] = {{"Target", "hist-t-", &target, "fw"}, {"Control", "hist-c-", &control, "ct"}};
  for (const auto &set : sets) {
    *out += "<div class=\"panel\"><h3>";
    *out += set.name;
    *out += ": matches per kb and sequence, ";
    *out += std::to_string(page.binwidth);
    *out += page.binwidth == 1 ? " letter per bin" : " letters per bin";
    *out += "</h3>";
    appendratehistogram(out, ratesof(page, *set.rates, top, set.cls), set.id + n, frame);
    *out += "</div>";
  }
  *out += "</div><div class=\"panel\"><h3>Matches</h3><p>Target: ";
  *out += plural(c.targethits, "match", "matches");
  *out += " in ";
  *out += plural(page.targets, "sequence", "sequences");
  *out += " (";
  *out += perseqtext(c.targethits, page.targets);
  *out += " per sequence).</p><p>Control: ";
  *out += plural(c.controlhits, "match", "matches");
  *out += " in ";
  *out += plural(page.controls, "sequence", "sequences");
  *out += " (";
  *out += perseqtext(c.controlhits, page.controls);
  *out += " per sequence).</p>";
  if (page.centred) {
    *out += "<p>";
    if (c.centralwidth > 0) {
      *out += "Central ";
      *out += std::to_string(c.centralwidth);
      *out += " letters: ";
      *out += htmlpage_thousands(c.centralhits);
      *out += " of the ";
      *out += plural(c.centralall, "target match", "target matches");
      *out += " (p = ";
      *out += enrich_probabilitytext(c.centrallog10p);
      *out += ", for the widths tried).";
    } else {
      *out += "No central window tested.";
    }
    *out += "</p>";
  }
  *out += "</div></div></td></tr></tbody>\n";
}

void appendfooter(std::string *out, const HtmlEnrichment &page) {
  *out += "<footer><dl>"
          "<dt>Logo</dt><dd>Letter heights in bits: the column's information content "
          "(log<sub>2</sub> of the alphabet size minus the entropy) shared by the letters' "
          "frequencies; the full height is 2 bits for nucleotides.</dd>"
          "<dt>Target, control</dt><dd>Sequences with at least one match (a window with a "
          "p-value at most the cutoff) of all sequences of the set.</dd>"
          "<dt>Ratio</dt><dd>(target with a match + 1) / (targets + 1) over the same of the "
          "control.</dd>"
          "<dt>p</dt><dd>The test's one-sided p-value (see the run); E: p times the motifs "
          "tested; q: Benjamini\u2013Hochberg over the motifs.</dd>";
  if (page.centred) {
    *out += "<dt>Central</dt><dd>The central window of the target regions whose share of the "
            "motif's target matches is least likely by chance (binomial), and its p-value "
            "times the widths tried.</dd>";
  }
  *out += "<dt>Where</dt><dd>Match centres along the sequences, both strands together, as "
          "matches per kb and sequence, so that sets of different sizes compare: the target "
          "above, the control below, on one scale; the opened row shows both side by side."
          "</dd></dl></footer>\n";
}

}  // namespace

std::vector<double> enrichreport_rates(const std::vector<uint64_t> &bins, uint64_t sequences,
                                       uint64_t binwidth) {
  std::vector<double> rates(bins.size(), 0.0);
  if (sequences == 0 || binwidth == 0) return rates;
  const double scale = 1000.0 / (static_cast<double>(sequences) * static_cast<double>(binwidth));
  for (size_t b = 0; b < bins.size(); b++) rates[b] = static_cast<double>(bins[b]) * scale;
  return rates;
}

std::string enrichreport_render(const HtmlEnrichment &page) {
  std::string out;
  out.reserve(4096 + page.motifs.size() * 5000);
  Frames frames;
  std::string definitions;
  for (const HtmlEnrichMotif &motif : page.motifs) {
    const size_t bins = std::max(motif.counts.targetbins.size(), motif.counts.controlbins.size());
    std::string &id = frames[bins];
    if (!id.empty()) continue;
    id = "pf" + std::to_string(frames.size());
    const std::vector<double> none(bins, 0.0);
    appendrateframe(&definitions, ratesof(page, none, 1.0, "fw"), id);
  }
  uint64_t enriched = 0;
  for (const HtmlEnrichMotif &motif : page.motifs)
    enriched += motif.counts.log10e <= std::log10(significant);
  std::string line = plural(page.motifs.size(), "motif", "motifs");
  line += " \u00b7 ";
  line += plural(page.targets, "target", "targets");
  line += " \u00b7 ";
  line += plural(page.controls, "control sequence", "control sequences");
  line += " \u00b7 ";
  line += htmlpage_thousands(enriched);
  line += " with E \u2264 ";
  line += formatnumber(significant, 2);
  htmlpage_begin(&out, page.title, definitions, line);
  htmlpage_summary(&out, page.summary);
  bool nucleotides = false;
  for (const HtmlEnrichMotif &motif : page.motifs) nucleotides |= nucleotideletters(motif.letters);
  htmlpage_tablestart(&out, nucleotides, "its match positions in target and control");
  out += "<table class=\"motifs\" id=\"motifs\"><thead><tr>"
         "<th data-s=\"n\" class=\"n\">#</th><th data-s=\"t\">Motif</th>"
         "<th data-s=\"t\">Accession</th><th>Logo</th>"
         "<th data-s=\"n\" class=\"n\">Target with a match</th>"
         "<th data-s=\"n\" class=\"n\">Control with a match</th>"
         "<th data-s=\"n\" class=\"n\">Ratio</th>"
         "<th data-s=\"a\" class=\"n\">p</th><th data-s=\"a\" class=\"n\">E</th>"
         "<th data-s=\"a\" class=\"n\">q</th>";
  size_t columns = 11;
  if (page.centred) {
    out += "<th data-s=\"n\" class=\"n\">Central width</th>"
           "<th data-s=\"a\" class=\"n\">Central p</th>";
    columns += 2;
  }
  out += "<th>Where</th></tr></thead>\n";
  for (size_t i = 0; i < page.motifs.size(); i++)
    appendmotif(&out, page, frames, page.motifs[i], i + 1, columns);
  std::string footer;
  appendfooter(&footer, page);
  htmlpage_end(&out, footer);
  return out;
}

namespace {

std::string settext(const std::string &file, uint64_t bytes, uint64_t sequences,
                    uint64_t residues) {
  std::string text = file.empty() ? "in memory" : file;
  text += ": " + plural(sequences, "sequence", "sequences") + ", " +
          plural(residues, "letter", "letters");
  if (bytes > 0) text += ", " + scanreport_bytestext(bytes);
  return text;
}

}  // namespace

int enrichreport_build(const ScanMotifs &motifs, const EnrichResult &result,
                       const EnrichReportInputs &inputs, HtmlEnrichment *page) {
  *page = HtmlEnrichment{};
  const EnrichOptions &options = result.options;
  page->title = "Zelko enrichment in " + (inputs.target.empty()
                                              ? std::string("in-memory sequences")
                                              : scanreport_basename(inputs.target));
  page->targets = result.targets;
  page->controls = result.controls;
  page->binorigin = result.binorigin;
  page->binwidth = std::max<uint64_t>(result.binwidth, 1);
  page->centred = options.center;
  page->motifs.reserve(result.motifs.size());
  for (const EnrichMotif &counts : result.motifs) {
    if (counts.motif >= motifs.motifs.size()) return internalerror();
    const ScanMotif &motif = motifs.motifs[counts.motif];
    HtmlEnrichMotif row;
    row.id = motif.id;
    row.accession = motif.accession;
    row.letters = motif.letters;
    row.length = motif.length;
    scanreport_probabilities(motif, &row.probabilities);
    row.counts = counts;
    page->motifs.push_back(std::move(row));
  }

  std::vector<HtmlSummaryItem> &items = page->summary;
  items.push_back({"Motifs", scanreport_motifstext(scanreport_motiffiles(motifs), motifs)});
  items.push_back({"Target", settext(inputs.target, inputs.targetbytes, result.targets,
                                     result.targetresidues)});
  if (result.shuffled) {
    std::string text = "the targets shuffled: " +
                       plural(options.shuffles, "copy", "copies") + " of each, the counts of " +
                       (options.shuffleorder == 1 ? std::string("letters")
                                                  : std::to_string(options.shuffleorder) +
                                                        "-letter words") +
                       " kept, seed " + std::to_string(options.seed) + "; " +
                       plural(result.controls, "sequence", "sequences") + ", " +
                       plural(result.controlresidues, "letter", "letters");
    items.push_back({"Control", text});
  } else {
    items.push_back({"Control", settext(inputs.control, inputs.controlbytes, result.controls,
                                        result.controlresidues)});
  }
  const ScanAlphabet alphabet =
      options.alphabet == SCAN_ALPHABET_AUTO ? motifs.alphabet : options.alphabet;
  items.push_back({"Sequences", std::string(alphabet == SCAN_ALPHABET_PROTEIN ? "protein" : "DNA") +
                                    (options.strands == SCAN_STRANDS_BOTH ? ", both strands"
                                                                          : ", forward strand")});
  items.push_back({"Background",
                   scanreport_backgroundtext(motifs, result.backgroundsource == "control"
                                                         ? "counted from the control"
                                                         : result.backgroundsource) +
                       "; pseudocount " + formatnumber(options.pseudocount, 3)});
  items.push_back({"P-value cutoff", formatnumber(options.pvalue, 3)});
  items.push_back(
      {"Test", options.test == ENRICH_TEST_RANKSUM
                   ? "every sequence's best window score, targets against controls: one-sided "
                     "rank-sum (Mann-Whitney) test"
                   : "sequences with a match, targets against controls: one-sided Fisher's "
                     "exact test"});
  if (options.center) {
    items.push_back({"Central test",
                     "target matches in the central window against all (binomial), the best "
                     "of the widths tried, its p-value times their number"});
  }
  items.push_back(
      {"Position bins", scanreport_binstext(page->binwidth, page->centred, "match")});
  items.push_back({"Time", formatnumber(result.elapsed, 3) + " s, " +
                               plural(options.threads, "thread", "threads")});
  items.push_back({"Date", scanreport_today()});
  items.push_back({"Program", scan_version()});
  if (!inputs.commandline.empty()) items.push_back({"Command", inputs.commandline});
  return 0;
}
