// Inline SVG of the HTML report: logos, position and score histograms, glyphs.
#include "htmlreport/htmlplots.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Letter colours: A green, C blue, G orange, T (and U) red, as nucleotide logos draw them.
struct Glyph {
  char letter;
  const char *colour;
  const char *path;  // in a 100 x 100 box, baseline at y = 100
};
constexpr Glyph glyphs[] = {
    {'A', "#1a9a3e",
     "M0 100L38 0H62L100 100H79L70 76H30L21 100ZM50 24L37 58H63Z"},
    {'C', "#1f5fbf",
     "M91 21.3A50 50 0 1 0 91 78.7L74.6 68.4A30 32 0 1 1 74.6 31.6Z"},
    {'G', "#f0a000",
     "M91 21.3A50 50 0 1 0 100 50H52V66H76A30 32 0 1 1 74.6 31.6Z"},
    {'T', "#d42a2a", "M0 0H100V20H60V100H40V20H0Z"},
    {'U', "#d42a2a", "M0 0H20V62A30 30 0 0 0 80 62V0H100V62A50 38 0 0 1 0 62Z"},
};

// Amino acid colours by side chain: hydrophobic, polar, basic, acidic.
const char *aminoacidcolour(char letter) {
  switch (letter) {
    case 'K': case 'R': case 'H': return "#1f5fbf";
    case 'D': case 'E': return "#d42a2a";
    case 'G': case 'S': case 'T': case 'Y': case 'C': case 'Q': case 'N': return "#1a9a3e";
    default: return "#333333";
  }
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// A coordinate with one decimal, without a trailing ".0".
void appendcoord(std::string *out, double value) {
  long tenths = std::lround(value * 10.0);
  if (tenths < 0) {
    out->push_back('-');
    tenths = -tenths;
  }
  *out += std::to_string(tenths / 10);
  if (tenths % 10 != 0) {
    out->push_back('.');
    out->push_back(static_cast<char>('0' + tenths % 10));
  }
}

double roundtenth(double value) { return std::round(value * 10.0) / 10.0; }

// A round step (1, 2 or 5 times a power of ten) giving at most about `ticks' ticks over span.
double nicestep(double span, double ticks) {
  if (span <= 0.0) return 1.0;
  const double raw = span / ticks;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double factor : {1.0, 2.0, 5.0, 10.0})
    if (factor * power >= raw) return factor * power;
  return 10.0 * power;
}

// The smallest round number (1, 2, 2.5, 5 times a power of ten) not below value.
double niceceiling(double value) {
  if (value <= 1.0) return 1.0;
  const double power = std::pow(10.0, std::floor(std::log10(value)));
  for (const double factor : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (factor * power >= value - 1e-9) return factor * power;
  return 10.0 * power;
}

std::string formatcount(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", value);
  return text;
}

// Inside a <symbol>, which <use> draws as a copy that the page's style rules do not reach,
// the style classes are written out as presentation attributes (the same look as the
// page's style gives the classes).
struct ClassStyle {
  std::string_view name;
  const char *attributes;
};
constexpr ClassStyle classstyles[] = {
    {"m", " text-anchor=\"middle\""},
    {"e", " text-anchor=\"end\""},
    {"fw", " fill=\"#2f6db5\" font-weight=\"600\""},
    {"rv", " fill=\"#e07b24\" font-weight=\"600\""},
    {"lab", " fill=\"#5d6775\""},
    {"ax", " stroke=\"#8a939e\" fill=\"none\""},
    {"mid", " stroke=\"#9aa3ad\" stroke-dasharray=\"3 3\" fill=\"none\""},
};
// What a <symbol>'s contents inherit: the font and colour of labels.
constexpr const char *symbolgroup =
    "<g font-size=\"11\" font-family=\"system-ui,-apple-system,Segoe UI,Arial,sans-serif\" "
    "fill=\"#4a5361\">";

void appendstyle(std::string *out, std::string_view classes, bool inlined) {
  if (classes.empty()) return;
  if (!inlined) {
    *out += " class=\"";
    *out += classes;
    out->push_back('"');
    return;
  }
  while (!classes.empty()) {
    const size_t space = classes.find(' ');
    const std::string_view name = classes.substr(0, space);
    for (const ClassStyle &style : classstyles)
      if (style.name == name) *out += style.attributes;
    classes = space == std::string_view::npos ? std::string_view() : classes.substr(space + 1);
  }
}

// A label; classes hold the anchor ("m" middle, "e" end, none for start) and the style.
void appendtext(std::string *out, double x, double y, std::string_view classes,
                std::string_view text, bool inlined = false) {
  *out += "<text x=\"";
  appendcoord(out, x);
  *out += "\" y=\"";
  appendcoord(out, y);
  out->push_back('"');
  appendstyle(out, classes, inlined);
  out->push_back('>');
  appendescaped(out, text);
  *out += "</text>";
}

// A straight segment appended to path data.
void appendsegment(std::string *path, double x1, double y1, double x2, double y2) {
  path->push_back('M');
  appendcoord(path, x1);
  path->push_back(' ');
  appendcoord(path, y1);
  path->push_back('L');
  appendcoord(path, x2);
  path->push_back(' ');
  appendcoord(path, y2);
}

void appendpath(std::string *out, std::string_view classes, const std::string &data,
                bool inlined = false) {
  *out += "<path";
  appendstyle(out, classes, inlined);
  *out += " d=\"";
  *out += data;
  *out += "\"/>";
}

// A transform's number: up to four decimals, no trailing zeros.
void appendfactor(std::string *out, double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", value);
  std::string_view number = text;
  while (number.back() == '0') number.remove_suffix(1);
  if (number.back() == '.') number.remove_suffix(1);
  *out += number == "-0" ? "0" : number;
}

// A filled step outline of counts (or rates) over [left, left + width], bars rising from
// base by scale pixels per unit (a negative scale draws downwards). The outline is written in
// whole units, one per bin across and one per half pixel up, and a transform puts it in
// place: a few characters a bin, equal neighbours sharing one run.
template <typename Value>
void appendbars(std::string *out, const std::vector<Value> &counts, double left,
                double width, double base, double scale, const char *cls) {
  if (counts.empty()) return;
  constexpr double levelheight = 0.5;
  const double levelspercount = std::fabs(scale) / levelheight;
  *out += "<path class=\"";
  *out += cls;
  *out += "\" transform=\"matrix(";
  appendfactor(out, width / static_cast<double>(counts.size()));
  *out += " 0 0 ";
  appendfactor(out, scale < 0.0 ? levelheight : -levelheight);
  out->push_back(' ');
  appendfactor(out, left);
  out->push_back(' ');
  appendfactor(out, base);
  *out += ")\" d=\"M0 0";
  long last = 0;
  size_t run = 0;
  const auto endrun = [&]() {
    if (run == 0) return;
    out->push_back('h');
    *out += std::to_string(run);
    run = 0;
  };
  for (const Value count : counts) {
    const long level = std::lround(static_cast<double>(count) * levelspercount);
    if (level != last) {
      endrun();
      out->push_back('V');
      *out += std::to_string(level);
      last = level;
    }
    run++;
  }
  endrun();
  *out += "V0Z\"/>";
}

void appendsvgopen(std::string *out, const char *cls, std::string_view id, double width,
                   double height) {
  *out += "<svg class=\"";
  *out += cls;
  out->push_back('"');
  if (!id.empty()) {
    *out += " id=\"";
    appendescaped(out, id);
    out->push_back('"');
  }
  *out += " viewBox=\"0 0 ";
  appendcoord(out, width);
  out->push_back(' ');
  appendcoord(out, height);
  *out += "\" width=\"";
  appendcoord(out, width);
  *out += "\" height=\"";
  appendcoord(out, height);
  *out += "\">";
}

}  // namespace

double columninformation(const double *probabilities, uint64_t letters) {
  if (letters < 2) return 0.0;
  double entropy = 0.0;
  for (uint64_t i = 0; i < letters; i++)
    if (probabilities[i] > 0.0) entropy -= probabilities[i] * std::log2(probabilities[i]);
  return std::max(0.0, std::log2(static_cast<double>(letters)) - entropy);
}

bool nucleotideletters(std::string_view letters) {
  if (letters.empty()) return false;
  for (const char c : letters) {
    switch (upper(c)) {
      case 'A': case 'C': case 'G': case 'T': case 'U': break;
      default: return false;
    }
  }
  return true;
}

void appendglyphdefinitions(std::string *out) {
  for (const Glyph &glyph : glyphs) {
    *out += "<symbol id=\"z";
    out->push_back(glyph.letter);
    *out += "\" viewBox=\"0 0 100 100\" preserveAspectRatio=\"none\"><path fill=\"";
    *out += glyph.colour;
    *out += "\" fill-rule=\"evenodd\" d=\"";
    *out += glyph.path;
    *out += "\"/></symbol>";
  }
}

void appendlogo(std::string *out, const std::vector<double> &probabilities,
                std::string_view letters, uint64_t length, const LogoGeometry &geometry,
                std::string_view id, std::string_view extraclass) {
  const uint64_t k = letters.size();
  const double width = geometry.columnwidth * static_cast<double>(length);
  const double height = geometry.height;
  const bool nucleotides = nucleotideletters(letters);
  const double pixelsperbit = k < 2 ? 0.0 : height / std::log2(static_cast<double>(k));
  std::string cls = "logo";
  if (!extraclass.empty()) {
    cls += ' ';
    cls += extraclass;
  }
  appendsvgopen(out, cls.c_str(), id, width, height);
  std::vector<std::pair<double, uint64_t>> stack(k);
  for (uint64_t position = 0; position < length && k > 0; position++) {
    const double *column = probabilities.data() + position * k;
    const double information = columninformation(column, k);
    for (uint64_t i = 0; i < k; i++)
      stack[i] = {std::max(0.0, column[i]) * information * pixelsperbit, i};
    // Smallest at the bottom, tallest on top; ties in the letters' order.
    std::stable_sort(stack.begin(), stack.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    const double left = geometry.columnwidth * static_cast<double>(position) + 0.5;
    const double glyphwidth = geometry.columnwidth - 1.0;
    double cumulative = 0.0;
    for (const auto &[pixels, letter] : stack) {
      // Edges rounded once each, so that letters tile without gaps or overlaps.
      const double bottom = roundtenth(height - cumulative);
      cumulative += pixels;
      const double top = roundtenth(height - cumulative);
      // Letters below a pixel would not show; the stack keeps their share.
      if (bottom - top < 1.0) continue;
      const char l = upper(letters[letter]);
      if (nucleotides) {
        *out += "<use href=\"#z";
        out->push_back(l);
        *out += "\" x=\"";
        appendcoord(out, left);
        *out += "\" y=\"";
        appendcoord(out, top);
        *out += "\" width=\"";
        appendcoord(out, glyphwidth);
        *out += "\" height=\"";
        appendcoord(out, bottom - top);
        *out += "\"/>";
      } else {
        // Capital letters of a sans-serif face are about 0.72 em high and 0.65 em wide.
        char transform[128];
        std::snprintf(transform, sizeof transform, "matrix(%.4f 0 0 %.4f %.1f %.1f)",
                      glyphwidth / 65.0, (bottom - top) / 72.0, left + glyphwidth / 2.0,
                      bottom);
        *out += "<text class=\"aa\" text-anchor=\"middle\" font-size=\"100\" fill=\"";
        *out += aminoacidcolour(l);
        *out += "\" transform=\"";
        *out += transform;
        *out += "\">";
        appendescaped(out, std::string_view(&l, 1));
        *out += "</text>";
      }
    }
  }
  *out += "</svg>";
}

namespace {

// Layout of the position histogram, in pixels.
struct PositionGeometry {
  static constexpr double width = 520.0, height = 170.0;
  static constexpr double left = 48.0, right = 16.0, top = 20.0, bottom = 30.0;
  static constexpr double plotwidth = width - left - right;
  static constexpr double plotheight = height - top - bottom;
};

size_t bincount(const PositionHistogram &histogram) {
  const size_t forward = histogram.forward ? histogram.forward->size() : 0;
  const size_t reverse = histogram.reverse ? histogram.reverse->size() : 0;
  return std::max(forward, reverse);
}

// What the axes of a position plot depend on: the bins, not the counts.
struct AxesLayout {
  int64_t origin = 0;
  uint64_t binwidth = 1;
  size_t bins = 0;
  bool centred = false;
  bool twostrands = false;   // the axis in the middle: + strand above, - strand below
  bool legend = true;        // the strands' names above the plot
  std::string_view noun = "hit";
};

AxesLayout layoutof(const PositionHistogram &histogram) {
  AxesLayout layout;
  layout.origin = histogram.origin;
  layout.binwidth = histogram.binwidth;
  layout.bins = bincount(histogram);
  layout.centred = histogram.centred;
  layout.twostrands = histogram.reverse != nullptr;
  return layout;
}

AxesLayout layoutof(const RateHistogram &histogram) {
  AxesLayout layout;
  layout.origin = histogram.origin;
  layout.binwidth = histogram.binwidth;
  layout.bins = histogram.rates ? histogram.rates->size() : 0;
  layout.centred = histogram.centred;
  layout.twostrands = false;
  layout.legend = false;
  layout.noun = "match";
  return layout;
}

// Legend, axes, position ticks and their labels: what depends on the bins but not on the
// counts. inlined: styles as attributes, for a <symbol>.
void appendpositionaxes(std::string *out, const AxesLayout &layout, bool inlined) {
  using G = PositionGeometry;
  const double axis = G::top + (layout.twostrands ? G::plotheight / 2.0 : G::plotheight);
  if (layout.legend) {
    appendtext(out, G::left, 12.0, "fw", "+ strand", inlined);
    if (layout.twostrands) appendtext(out, G::left + 70.0, 12.0, "rv", "\u2212 strand", inlined);
  }
  std::string axes;
  appendsegment(&axes, G::left, G::top, G::left, G::top + G::plotheight);
  appendsegment(&axes, G::left, axis, G::left + G::plotwidth, axis);
  const double first = static_cast<double>(layout.origin);
  const double span = static_cast<double>(layout.bins * layout.binwidth);
  if (span > 0.0) {
    const double step = nicestep(span, 7.0);
    const double bottom = G::top + G::plotheight;
    for (double tick = std::ceil(first / step) * step; tick <= first + span + 1e-9;
         tick += step) {
      const double x = G::left + (tick - first) / span * G::plotwidth;
      appendsegment(&axes, x, bottom, x, bottom + 3.0);
      appendtext(out, x, bottom + 14.0, "m", formatcount(tick), inlined);
    }
    if (layout.centred && first < 0.0 && first + span > 0.0) {
      std::string middle;
      const double x = G::left + (0.0 - first) / span * G::plotwidth;
      appendsegment(&middle, x, G::top, x, G::top + G::plotheight);
      appendpath(out, "mid", middle, inlined);
    }
  }
  appendpath(out, "ax", axes, inlined);
  const std::string label =
      std::string(layout.noun) + (layout.centred
                                      ? " centre relative to the sequence centre (letters)"
                                      : " centre from the sequence start (letters)");
  appendtext(out, G::left + G::plotwidth / 2.0, G::height - 2.0, "m lab", label, inlined);
}

void appendframe(std::string *out, const AxesLayout &layout, std::string_view frameid) {
  using G = PositionGeometry;
  *out += "<symbol overflow=\"visible\" id=\"";
  appendescaped(out, frameid);
  *out += "\" viewBox=\"0 0 ";
  appendcoord(out, G::width);
  out->push_back(' ');
  appendcoord(out, G::height);
  *out += "\">";
  *out += symbolgroup;
  appendpositionaxes(out, layout, true);
  *out += "</g></symbol>";
}

// The plot's frame: its own axes, or a <use> of the shared frame of that id.
void appendframeuse(std::string *out, const AxesLayout &layout, std::string_view frameid) {
  using G = PositionGeometry;
  if (frameid.empty()) {
    appendpositionaxes(out, layout, false);
    return;
  }
  *out += "<use href=\"#";
  appendescaped(out, frameid);
  *out += "\" width=\"";
  appendcoord(out, G::width);
  *out += "\" height=\"";
  appendcoord(out, G::height);
  *out += "\"/>";
}

// A small line of bars for a table cell, from its bottom up to top at its full height; bins
// beyond 40 are summed in groups, the last group perhaps covering fewer.
constexpr double sparkwidth = 120.0, sparkheight = 22.0;
constexpr size_t sparkbins = 40;

template <typename Value>
std::vector<Value> sparkgroups(const std::vector<Value> &values, size_t bins) {
  const size_t group = bins == 0 ? 1 : (bins + sparkbins - 1) / sparkbins;
  std::vector<Value> sum((bins + group - 1) / group, 0);
  for (size_t b = 0; b < values.size(); b++) sum[b / group] += values[b];
  return sum;
}

template <typename Value>
void appendsparkbars(std::string *out, const std::vector<Value> &sum, size_t bins, double top,
                     double y, const char *cls) {
  const size_t group = bins == 0 ? 1 : (bins + sparkbins - 1) / sparkbins;
  if (top > 0.0) {
    // The last group may cover fewer bins; the line spans the groups' share of the width.
    const double spanned = sparkwidth * static_cast<double>(sum.size() * group) /
                           static_cast<double>(std::max<size_t>(bins, 1));
    appendbars(out, sum, 0.0, std::min(sparkwidth, spanned), y + sparkheight,
               (sparkheight - 1.0) / top, cls);
  }
  std::string base;
  appendsegment(&base, 0.0, y + sparkheight - 0.5, sparkwidth, y + sparkheight - 0.5);
  appendpath(out, "ax", base);
}

}  // namespace

void appendpositionframe(std::string *out, const PositionHistogram &layout,
                         std::string_view frameid) {
  appendframe(out, layoutof(layout), frameid);
}

void appendpositionhistogram(std::string *out, const PositionHistogram &histogram,
                             std::string_view id, std::string_view frameid) {
  using G = PositionGeometry;
  static const std::vector<uint64_t> none;
  const std::vector<uint64_t> &forward = histogram.forward ? *histogram.forward : none;
  const std::vector<uint64_t> &reverse = histogram.reverse ? *histogram.reverse : none;
  const bool twostrands = histogram.reverse != nullptr;
  const size_t bins = bincount(histogram);
  uint64_t largest = 0;
  for (const uint64_t c : forward) largest = std::max(largest, c);
  for (const uint64_t c : reverse) largest = std::max(largest, c);
  const double ymax = niceceiling(static_cast<double>(largest));
  const double half = twostrands ? G::plotheight / 2.0 : G::plotheight;
  const double axis = G::top + half;
  const double scale = half / ymax;

  appendsvgopen(out, "hist", id, G::width, G::height);
  appendframeuse(out, layoutof(histogram), frameid);
  if (bins > 0) {
    appendbars(out, forward, G::left,
               G::plotwidth * static_cast<double>(forward.size()) / static_cast<double>(bins),
               axis, scale, "fw");
    if (twostrands)
      appendbars(out, reverse, G::left,
                 G::plotwidth * static_cast<double>(reverse.size()) / static_cast<double>(bins),
                 axis, -scale, "rv");
  }
  // The count scale, which is the motif's own.
  appendtext(out, G::left - 4.0, G::top + 4.0, "e", formatcount(ymax));
  appendtext(out, G::left - 4.0, axis + 4.0, "e", "0");
  if (twostrands)
    appendtext(out, G::left - 4.0, G::top + G::plotheight + 4.0, "e", formatcount(ymax));
  *out += "</svg>";
}

void appendsparkline(std::string *out, const PositionHistogram &histogram) {
  static const std::vector<uint64_t> none;
  const std::vector<uint64_t> &forward = histogram.forward ? *histogram.forward : none;
  const std::vector<uint64_t> &reverse = histogram.reverse ? *histogram.reverse : none;
  const size_t bins = std::max(forward.size(), reverse.size());
  std::vector<uint64_t> sum = sparkgroups(forward, bins);
  const std::vector<uint64_t> more = sparkgroups(reverse, bins);
  for (size_t g = 0; g < sum.size(); g++) sum[g] += more[g];
  uint64_t largest = 0;
  for (const uint64_t c : sum) largest = std::max(largest, c);
  appendsvgopen(out, "spark", {}, sparkwidth, sparkheight);
  appendsparkbars(out, sum, bins, static_cast<double>(largest), 0.0, "sp");
  *out += "</svg>";
}

double nicescaletop(double largest) {
  if (!(largest > 0.0) || !std::isfinite(largest)) return 1.0;
  const double power = std::pow(10.0, std::floor(std::log10(largest)));
  for (const double factor : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (factor * power >= largest * (1.0 - 1e-12)) return factor * power;
  return 10.0 * power;
}

void appendrateframe(std::string *out, const RateHistogram &layout, std::string_view frameid) {
  appendframe(out, layoutof(layout), frameid);
}

void appendratehistogram(std::string *out, const RateHistogram &histogram, std::string_view id,
                         std::string_view frameid) {
  using G = PositionGeometry;
  static const std::vector<double> none;
  const std::vector<double> &rates = histogram.rates ? *histogram.rates : none;
  const double top = histogram.top > 0.0 ? histogram.top : 1.0;
  const double axis = G::top + G::plotheight;
  appendsvgopen(out, "hist", id, G::width, G::height);
  appendframeuse(out, layoutof(histogram), frameid);
  appendbars(out, rates, G::left, G::plotwidth, axis, G::plotheight / top, histogram.cls);
  appendtext(out, G::left - 4.0, G::top + 4.0, "e", formatnumber(top, 3));
  appendtext(out, G::left - 4.0, axis + 4.0, "e", "0");
  *out += "</svg>";
}

void appendsparklinepair(std::string *out, const std::vector<double> &first,
                         const std::vector<double> &second, const char *firstclass,
                         const char *secondclass) {
  const size_t bins = std::max(first.size(), second.size());
  const std::vector<double> a = sparkgroups(first, bins), b = sparkgroups(second, bins);
  double largest = 0.0;
  for (const double v : a) largest = std::max(largest, v);
  for (const double v : b) largest = std::max(largest, v);
  appendsvgopen(out, "spark", {}, sparkwidth, 2.0 * sparkheight + 2.0);
  appendsparkbars(out, a, bins, largest, 0.0, firstclass);
  appendsparkbars(out, b, bins, largest, sparkheight + 2.0, secondclass);
  *out += "</svg>";
}

void appendscorehistogram(std::string *out, const ScoreHistogram &histogram,
                          std::string_view id) {
  constexpr double width = 300.0, height = 150.0;
  constexpr double left = 48.0, right = 14.0, top = 10.0, bottom = 20.0;
  const double plotwidth = width - left - right;
  const double plotheight = height - top - bottom;
  static const std::vector<uint64_t> none;
  const std::vector<uint64_t> &bins = histogram.bins ? *histogram.bins : none;
  uint64_t largest = 0;
  for (const uint64_t c : bins) largest = std::max(largest, c);
  const double ymax = niceceiling(static_cast<double>(largest));
  const double axis = top + plotheight;
  appendsvgopen(out, "scores", id, width, height);
  appendbars(out, bins, left, plotwidth, axis, plotheight / ymax, "sc");
  std::string axes;
  appendsegment(&axes, left, top, left, axis);
  appendsegment(&axes, left, axis, left + plotwidth, axis);
  appendtext(out, left - 4.0, top + 4.0, "e", formatcount(ymax));
  appendtext(out, left - 4.0, axis + 4.0, "e", "0");
  const double span = histogram.binwidth * static_cast<double>(bins.size());
  if (!bins.empty() && span > 0.0) {
    const double step = nicestep(span, 4.0);
    for (double tick = std::ceil(histogram.low / step - 1e-9) * step;
         tick <= histogram.low + span + 1e-9; tick += step) {
      const double x = left + (tick - histogram.low) / span * plotwidth;
      appendsegment(&axes, x, axis, x, axis + 3.0);
      appendtext(out, x, axis + 14.0, "m", formatnumber(tick, 4));
    }
  }
  appendpath(out, "ax", axes);
  *out += "</svg>";
}

void appendescaped(std::string *out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&': *out += "&amp;"; break;
      case '<': *out += "&lt;"; break;
      case '>': *out += "&gt;"; break;
      case '"': *out += "&quot;"; break;
      case '\'': *out += "&#39;"; break;
      default: out->push_back(c);
    }
  }
}

std::string formatnumber(double value, int digits) {
  char text[64];
  if (!std::isfinite(value)) return value > 0 ? "inf" : (value < 0 ? "-inf" : "nan");
  const double magnitude = std::fabs(value);
  if (value == 0.0) return "0";
  if (magnitude >= 1e-3 && magnitude < 1e9) {
    const int exponent = static_cast<int>(std::floor(std::log10(magnitude)));
    const int decimals = std::max(0, digits - 1 - exponent);
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s = text;
    if (s.find('.') != std::string::npos) {
      while (s.back() == '0') s.pop_back();
      if (s.back() == '.') s.pop_back();
    }
    return s;
  }
  std::snprintf(text, sizeof text, "%.*e", std::max(0, digits - 1), value);
  std::string s = text;
  // Mantissa without trailing zeros, exponent without a plus sign.
  const size_t e = s.find('e');
  std::string mantissa = s.substr(0, e), exponent = s.substr(e + 1);
  if (mantissa.find('.') != std::string::npos) {
    while (mantissa.back() == '0') mantissa.pop_back();
    if (mantissa.back() == '.') mantissa.pop_back();
  }
  if (exponent[0] == '+') exponent.erase(0, 1);
  return mantissa + "e" + exponent;
}
