// The HTML page of a scan report: style, summary, the motif table, the per-motif details and
// the inline script that sorts, filters, opens rows and turns logos around.
#include "htmlreport/htmlreport.hpp"
#include "base/replacefile.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include <sys/stat.h>
#include <unistd.h>

#include "base/error.hpp"
#include "htmlreport/htmlplots.hpp"

namespace {

constexpr std::string_view style = R"(
:root{--fw:#2f6db5;--rv:#e07b24;--line:#dde2e8;--muted:#5d6775;--head:#1e3a5f}
*{box-sizing:border-box}
body{margin:0;background:#f5f6f8;color:#1c2430;font:14px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif}
header{background:var(--head);color:#fff;padding:14px 24px}
header h1{margin:0;font-size:20px;font-weight:600}
header p{margin:2px 0 0;color:#c8d4e3;font-size:13px}
main{padding:14px 24px 24px}
.card{background:#fff;border:1px solid var(--line);border-radius:6px;padding:12px 16px;margin:0 0 14px}
h2{font-size:15px;margin:0 0 8px}
h3{font-size:13px;margin:0 0 4px;color:var(--muted);font-weight:600}
dl.run{display:grid;grid-template-columns:max-content 1fr;gap:2px 18px;margin:0}
dl.run dt{color:var(--muted)}
dl.run dd{margin:0;overflow-wrap:anywhere}
.tools{display:flex;flex-wrap:wrap;gap:10px;align-items:center;margin:0 0 8px}
.tools input{font:inherit;padding:4px 8px;border:1px solid #b9c2cd;border-radius:4px;width:260px}
.tools button{font:inherit;padding:4px 10px;border:1px solid #b9c2cd;border-radius:4px;background:#fff;cursor:pointer}
.tools button:hover{background:#eef2f7}
.hint{color:var(--muted);font-size:13px}
table.motifs{border-collapse:collapse;width:100%;background:#fff;border:1px solid var(--line)}
.motifs>thead th{position:sticky;top:0;z-index:1;background:#eaeef3;text-align:left;padding:6px 8px;border-bottom:2px solid #c9d1db;font-weight:600;vertical-align:bottom}
.motifs>thead th[data-s]{cursor:pointer}
.motifs>thead th[data-s]:hover{background:#dde4ec}
.motifs>thead th.asc::after{content:" \25B2";font-size:10px}
.motifs>thead th.desc::after{content:" \25BC";font-size:10px}
.motifs>thead th.n{text-align:right}
tr.m>td{padding:3px 8px;border-top:1px solid var(--line);vertical-align:middle}
tr.m{cursor:pointer}
tr.m:hover{background:#f1f6fd}
tr.m.open{background:#e6effb}
td.n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
td.id{font-weight:600}
td.acc{color:var(--muted)}
.pct{color:var(--muted);font-size:12px}
.dim{color:#9aa3ad}
svg{overflow:visible}
svg text{font:11px system-ui,-apple-system,"Segoe UI",Arial,sans-serif;fill:#4a5361}
svg text.lab{fill:var(--muted)}
svg text.m{text-anchor:middle}
svg text.e{text-anchor:end}
svg text.fw{fill:var(--fw);font-weight:600}
svg text.rv{fill:var(--rv);font-weight:600}
svg text.aa{font:700 100px Arial,"Helvetica Neue",Helvetica,"DejaVu Sans",sans-serif}
svg.glyphs{position:absolute;width:0;height:0}
svg.logo{display:block;cursor:pointer;border-bottom:1px solid #aab3bf}
svg.logo.rc{background:#fff4e0}
path.fw{fill:var(--fw)}
path.rv{fill:var(--rv)}
path.sp{fill:#8193ab}
path.ct{fill:#8a939e}
path.sc{fill:#5f7a99}
path.ax{stroke:#8a939e;fill:none;stroke-width:1}
path.mid{stroke:#9aa3ad;stroke-dasharray:3 3;fill:none}
tr.d>td{padding:0 8px 12px;background:#fafbfc;border-top:1px solid var(--line)}
.detail{display:flex;flex-wrap:wrap;gap:14px 28px;padding-top:10px}
.detail p{margin:4px 0 0;color:var(--muted);font-size:12px}
.plots{display:flex;flex-direction:column;gap:12px}
.plots.sets{flex-direction:row;flex-wrap:wrap;gap:12px 28px}
table.best{border-collapse:collapse;font-size:12px;background:#fff}
table.best th,table.best td{padding:2px 7px;border-bottom:1px solid var(--line);text-align:right;white-space:nowrap}
table.best th{background:#eef1f5;font-weight:600}
table.best td:first-child,table.best th:first-child,table.best th:last-child{text-align:left}
table.best td:last-child{font-family:ui-monospace,"DejaVu Sans Mono",Menlo,Consolas,monospace;text-align:left;letter-spacing:.5px}
footer{color:var(--muted);font-size:12px;padding:0 24px 24px}
footer dl{display:grid;grid-template-columns:max-content 1fr;gap:2px 14px;margin:6px 0 0}
footer dt{font-weight:600}
footer dd{margin:0}
)";

// Sorting by a heading (numbers first from the largest, or with data-s="a" (p-values) from
// the smallest; text from A), a click on a row to
// open its details, a click on a nucleotide logo to show its reverse complement (columns
// mirrored, letters complemented), a filter. Words of the address after # and between &
// do the same on loading: mN opens motif N and scrolls to it, open=mN opens it only,
// sort=C sorts by column C (from 0), rc shows every reverse complement.
constexpr std::string_view script = R"(
(()=>{
const T=document.getElementById('motifs'),F=document.getElementById('filter'),R=document.getElementById('rcall'),C={A:'T',C:'G',G:'C',T:'A',U:'A'};
let all=false;
function flip(s){const w=s.viewBox.baseVal.width;for(const u of s.querySelectorAll('use')){u.setAttribute('href','#z'+C[u.getAttribute('href').slice(2)]);u.setAttribute('x',(w-u.x.baseVal.value-u.width.baseVal.value).toFixed(1))}s.classList.toggle('rc')}
T.tHead.addEventListener('click',e=>{const h=e.target.closest('th');if(!h||!h.dataset.s)return;const i=h.cellIndex,n=h.dataset.s!=='t',asc=h.dataset.s==='n'?h.classList.contains('desc'):!h.classList.contains('asc');
for(const c of T.tHead.rows[0].cells)c.classList.remove('asc','desc');h.classList.add(asc?'asc':'desc');
const key=b=>{const c=b.rows[0].cells[i],v=c.dataset.v??c.textContent;if(!n)return v.toLowerCase();const x=parseFloat(v);return isNaN(x)?-Infinity:x};
[...T.tBodies].map(b=>[key(b),b]).sort((a,b)=>(a[0]<b[0]?-1:a[0]>b[0]?1:0)*(asc?1:-1)).forEach(p=>T.appendChild(p[1]))});
T.addEventListener('click',e=>{const s=e.target.closest('svg.logo');if(s){if(s.querySelector('use'))flip(s);return}const r=e.target.closest('tr.m');if(!r)return;const d=r.nextElementSibling;d.hidden=!d.hidden;r.classList.toggle('open',!d.hidden)});
if(R)R.addEventListener('click',()=>{all=!all;for(const s of T.querySelectorAll('svg.logo'))if(s.querySelector('use')&&s.classList.contains('rc')!==all)flip(s);R.textContent=all?'Show forward logos':'Show reverse complements'});
F.addEventListener('input',()=>{const q=F.value.trim().toLowerCase();for(const b of T.tBodies){const r=b.rows[0];b.hidden=q!==''&&!(r.cells[1].textContent+' '+r.cells[2].textContent).toLowerCase().includes(q)}});
for(const w of location.hash.slice(1).split('&')){const [k,v]=w.split('='),o=document.getElementById(v??k);
if(k==='rc'&&R)R.click();else if(k==='sort'&&T.tHead.rows[0].cells[v])T.tHead.rows[0].cells[v].click();
else if(o&&o.classList.contains('motif')){o.rows[1].hidden=false;o.rows[0].classList.add('open');if(v===undefined)o.scrollIntoView()}}
document.documentElement.dataset.ready='1';
})();
)";

std::string formatpvalue(double p) {
  if (p < 0.0) return "\u2013";
  char text[32];
  std::snprintf(text, sizeof text, "%.2e", p);
  return text;
}

// A value for the table: three significant digits, whole numbers from 1000 on with
// thousands separators.
std::string formatvalue(double value) {
  if (value >= 999.5) return htmlpage_thousands(static_cast<uint64_t>(std::llround(value)));
  return formatnumber(value, 3);
}

void appendbesthits(std::string *out, const HtmlMotif &motif) {
  *out += "<div class=\"panel\"><h3>Best ";
  *out += std::to_string(motif.best.size());
  *out += motif.best.size() == 1 ? " hit" : " hits";
  *out += "</h3>";
  if (motif.best.empty()) {
    *out += "<p>No hit.</p></div>";
    return;
  }
  // Rows of bare cells (end tags are optional in HTML), as the page holds thousands.
  *out += "<table class=\"best\"><tr><th>Sequence<th>Start<th>End<th>Strand<th>Score"
          "<th>p-value<th>q-value<th>Matched";
  for (const HtmlHit &hit : motif.best) {
    *out += "\n<tr><td>";
    appendescaped(out, hit.sequence);
    *out += "<td>";
    *out += std::to_string(hit.start);
    *out += "<td>";
    *out += std::to_string(hit.stop);
    *out += hit.strand == '-' ? "<td>\u2212" : "<td>+";
    *out += "<td>";
    *out += formatnumber(hit.score, 6);
    *out += "<td>";
    *out += hit.pvalue < 0.0 ? "\u2013" : formatnumber(hit.pvalue, 2);
    *out += "<td>";
    *out += hit.qvalue < 0.0 ? "\u2013" : formatnumber(hit.qvalue, 2);
    *out += "<td>";
    appendescaped(out, hit.text);
  }
  *out += "</table></div>";
}

PositionHistogram positionsof(const HtmlReport &report, const HtmlMotif &motif) {
  PositionHistogram positions;
  positions.origin = motif.binorigin;
  positions.binwidth = report.binwidth;
  positions.forward = &motif.forwardbins;
  positions.reverse = report.bothstrands ? &motif.reversebins : nullptr;
  positions.centred = report.centred;
  return positions;
}

// The frames of the position histograms: one per layout of bins, shared by the motifs.
struct Frames {
  std::map<std::pair<int64_t, size_t>, std::string> ids;
};
std::string frameof(const Frames &frames, const HtmlMotif &motif) {
  const size_t bins = std::max(motif.forwardbins.size(), motif.reversebins.size());
  const auto found = frames.ids.find({motif.binorigin, bins});
  return found == frames.ids.end() ? std::string() : found->second;
}

void appendmotif(std::string *out, const HtmlReport &report, const Frames &frames,
                 const HtmlMotif &motif, uint64_t number) {
  const std::string anchor = "m" + std::to_string(number);
  const PositionHistogram positions = positionsof(report, motif);

  *out += "<tbody class=\"motif\" id=\"";
  *out += anchor;
  *out += "\"><tr class=\"m\">";
  htmlpage_numbercell(out, std::to_string(number), std::to_string(number));
  *out += "<td class=\"id\">";
  appendescaped(out, motif.id);
  *out += "</td><td class=\"acc\">";
  appendescaped(out, motif.accession);
  *out += "</td>";
  htmlpage_logocell(out, motif.probabilities, motif.letters, motif.length, number);
  htmlpage_numbercell(out, htmlpage_thousands(motif.hits), std::to_string(motif.hits));
  if (report.residues > 0) {
    const double perkb = static_cast<double>(motif.hits) * 1000.0 /
                         static_cast<double>(report.residues);
    htmlpage_numbercell(out, formatvalue(perkb), htmlpage_rawnumber(perkb));
  } else {
    htmlpage_numbercell(out, "<span class=\"dim\">\u2013</span>", "");
  }
  if (motif.expected >= 0.0) {
    htmlpage_numbercell(out, formatvalue(motif.expected), htmlpage_rawnumber(motif.expected));
    if (motif.expected > 0.0) {
      const double ratio = static_cast<double>(motif.hits) / motif.expected;
      htmlpage_numbercell(out, formatvalue(ratio), htmlpage_rawnumber(ratio));
    } else {
      htmlpage_numbercell(out, "<span class=\"dim\">\u2013</span>", "");
    }
  } else {
    htmlpage_numbercell(out, "<span class=\"dim\">\u2013</span>", "");
    htmlpage_numbercell(out, "<span class=\"dim\">\u2013</span>", "");
  }
  std::string share;
  if (report.sequences > 0) {
    const double percent = 100.0 * static_cast<double>(motif.sequenceswithhit) /
                           static_cast<double>(report.sequences);
    share = " <span class=\"pct\">(";
    share += formatnumber(percent, 2);
    share += "%)</span>";
  }
  htmlpage_numbercell(out, htmlpage_thousands(motif.sequenceswithhit),
                   std::to_string(motif.sequenceswithhit), share);
  *out += "<td>";
  appendsparkline(out, positions);
  *out += "</td></tr>\n<tr class=\"d\" hidden><td colspan=\"10\"><div class=\"detail\">";

  // Positions and scores in one column, the best hits beside.
  *out += "<div class=\"plots\"><div class=\"panel\"><h3>Hit positions, ";
  *out += std::to_string(report.binwidth);
  *out += report.binwidth == 1 ? " letter per bin" : " letters per bin";
  *out += "</h3>";
  appendpositionhistogram(out, positions, "hist-" + std::to_string(number),
                          frameof(frames, motif));
  *out += "</div>";

  // Scores and threshold.
  *out += "<div class=\"panel\"><h3>Scores of the hits, from the threshold</h3>";
  ScoreHistogram scores;
  scores.low = motif.scorelow;
  scores.binwidth = motif.scorebinwidth;
  scores.bins = &motif.scorebins;
  appendscorehistogram(out, scores, "scores-" + std::to_string(number));
  *out += "<p>";
  if (!motif.thresholdknown) {
    *out += "Threshold not known (no hit in the table, no sequences given).";
  } else if (!motif.reachable) {
    *out += "The motif cannot reach the p-value cutoff.";
  } else {
    *out += "Threshold ";
    *out += formatnumber(motif.threshold, 6);
    if (motif.thresholdpvalue >= 0.0) {
      *out += " (p = ";
      *out += formatpvalue(motif.thresholdpvalue);
      *out += ")";
    }
    if (motif.reversethresholdshown) {
      *out += " on the + strand, ";
      *out += formatnumber(motif.reversethreshold, 6);
      if (motif.reversethresholdpvalue >= 0.0) {
        *out += " (p = ";
        *out += formatpvalue(motif.reversethresholdpvalue);
        *out += ")";
      }
      *out += " on the &minus; strand";
    }
    if (motif.windows > 0) {
      *out += ", ";
      *out += htmlpage_thousands(motif.windows);
      *out += " windows tested";
    }
    *out += ".";
  }
  *out += "</p></div></div>";

  appendbesthits(out, motif);
  *out += "</div></td></tr></tbody>\n";
}

void appendfooter(std::string *out, const HtmlReport &report) {
  *out += "<footer><dl>"
          "<dt>Logo</dt><dd>Letter heights in bits: the column's information content (";
  *out += "log<sub>2</sub> of the alphabet size minus the entropy) shared by the letters' "
          "frequencies; the full height is 2 bits for nucleotides.</dd>"
          "<dt>Hits per kb</dt><dd>Hits per 1000 letters of sequence";
  *out += report.bothstrands ? " (both strands counted).</dd>" : ".</dd>";
  *out += "<dt>Expected</dt><dd>Hits expected by chance: the windows tested times the exact "
          "p-value of the motif's threshold under the background.</dd>"
          "<dt>Hits / expected</dt><dd>Enrichment over that chance level.</dd>"
          "<dt>Where</dt><dd>Hit centres along the sequences, both strands together; the "
          "opened row shows them per strand (+ above the axis, \u2212 below).</dd>"
          "</dl></footer>\n";
}

}  // namespace

std::string htmlreport_render(const HtmlReport &report) {
  std::string out;
  out.reserve(4096 + report.motifs.size() * 6000);
  // Frames of the position histograms, for the page's definitions.
  Frames frames;
  std::string definitions;
  for (const HtmlMotif &motif : report.motifs) {
    const size_t bins = std::max(motif.forwardbins.size(), motif.reversebins.size());
    std::string &id = frames.ids[{motif.binorigin, bins}];
    if (!id.empty()) continue;
    id = "pf" + std::to_string(frames.ids.size());
    appendpositionframe(&definitions, positionsof(report, motif), id);
  }
  std::string line = htmlpage_thousands(report.motifs.size());
  line += report.motifs.size() == 1 ? " motif" : " motifs";
  if (report.sequences > 0) {
    line += " \u00b7 ";
    line += htmlpage_thousands(report.sequences);
    line += report.sequences == 1 ? " sequence" : " sequences";
  }
  uint64_t hits = 0;
  for (const HtmlMotif &motif : report.motifs) hits += motif.hits;
  line += " \u00b7 ";
  line += htmlpage_thousands(hits);
  line += hits == 1 ? " hit" : " hits";
  htmlpage_begin(&out, report.title, definitions, line);
  htmlpage_summary(&out, report.summary);
  bool nucleotides = false;
  for (const HtmlMotif &motif : report.motifs) nucleotides |= nucleotideletters(motif.letters);
  htmlpage_tablestart(&out, nucleotides, "its plots and best hits");
  out += "<table class=\"motifs\" id=\"motifs\"><thead><tr>"
         "<th data-s=\"n\" class=\"n\">#</th><th data-s=\"t\">Motif</th>"
         "<th data-s=\"t\">Accession</th><th>Logo</th>"
         "<th data-s=\"n\" class=\"n\">Hits</th><th data-s=\"n\" class=\"n\">Hits per kb</th>"
         "<th data-s=\"n\" class=\"n\">Expected</th>"
         "<th data-s=\"n\" class=\"n\">Hits / expected</th>"
         "<th data-s=\"n\" class=\"n\">Sequences with a hit</th><th>Where</th>"
         "</tr></thead>\n";
  for (size_t i = 0; i < report.motifs.size(); i++)
    appendmotif(&out, report, frames, report.motifs[i], i + 1);
  std::string footer;
  appendfooter(&footer, report);
  htmlpage_end(&out, footer);
  return out;
}

// ---- Pieces of every page ----------------------------------------------------------------

std::string htmlpage_thousands(uint64_t value) {
  std::string digits = std::to_string(value);
  std::string out;
  for (size_t i = 0; i < digits.size(); i++) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

std::string htmlpage_rawnumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

void htmlpage_begin(std::string *out, std::string_view title, std::string_view definitions,
                    std::string_view line) {
  *out += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
          "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
          "<title>";
  appendescaped(out, title);
  *out += "</title><style>";
  *out += style;
  *out += "</style></head>\n<body>\n";
  // Definitions the plots refer to: letter glyphs, frames of the position histograms.
  *out += "<svg class=\"glyphs\" width=\"0\" height=\"0\" aria-hidden=\"true\"><defs>";
  appendglyphdefinitions(out);
  *out += definitions;
  *out += "</defs></svg>\n";
  *out += "<header><h1>";
  appendescaped(out, title);
  *out += "</h1><p>";
  *out += line;
  *out += "</p></header>\n<main>\n";
}

void htmlpage_summary(std::string *out, const std::vector<HtmlSummaryItem> &summary) {
  *out += "<section class=\"card\"><h2>Run</h2><dl class=\"run\">";
  for (const HtmlSummaryItem &item : summary) {
    *out += "<dt>";
    appendescaped(out, item.label);
    *out += "</dt><dd>";
    appendescaped(out, item.value);
    *out += "</dd>";
  }
  *out += "</dl></section>\n";
}

void htmlpage_tablestart(std::string *out, bool nucleotides, std::string_view opened) {
  *out += "<section class=\"card\"><h2>Motifs</h2><div class=\"tools\">"
          "<input id=\"filter\" type=\"search\" placeholder=\"Filter by motif or accession\" "
          "aria-label=\"Filter motifs\">";
  if (nucleotides)
    *out += "<button id=\"rcall\" type=\"button\">Show reverse complements</button>";
  *out += "<span class=\"hint\">Click a heading to sort, a row for ";
  *out += opened;
  *out += nucleotides ? ", a logo for its reverse complement.</span></div>\n"
                      : ".</span></div>\n";
}

void htmlpage_numbercell(std::string *out, std::string_view shown, std::string_view value,
                         std::string_view extra) {
  *out += "<td class=\"n\" data-v=\"";
  appendescaped(out, value);
  *out += "\">";
  *out += shown;
  *out += extra;
  *out += "</td>";
}

void htmlpage_logocell(std::string *out, const std::vector<double> &probabilities,
                       std::string_view letters, uint64_t length, uint64_t number) {
  *out += "<td";
  if (nucleotideletters(letters)) *out += " title=\"Click: reverse complement\"";
  out->push_back('>');
  appendlogo(out, probabilities, letters, length, LogoGeometry{},
             "logo-" + std::to_string(number), {});
  *out += "</td>";
}

void htmlpage_end(std::string *out, std::string_view footer) {
  *out += "</table></section>\n</main>\n";
  *out += footer;
  *out += "<script>";
  *out += script;
  *out += "</script>\n</body></html>\n";
}

int htmlreport_writefile(const HtmlReport &report, const std::string &path) {
  const std::string page = htmlreport_render(report);
  ReplacingFile file;
  if (replacefile_open(&file, path.c_str(), true) != 0) {
    return reporterror("cannot write `%s': %s", path.c_str(), std::strerror(errno));
  }
  if (std::fwrite(page.data(), 1, page.size(), file.stream) != page.size()) {
    const int code = errno != 0 ? errno : EIO;
    replacefile_discard(&file);
    return reporterror("cannot write `%s': %s", path.c_str(), std::strerror(code));
  }
  if (replacefile_commit(&file) != 0) {
    return reporterror("cannot write `%s': %s", path.c_str(), std::strerror(errno));
  }
  return 0;
}
