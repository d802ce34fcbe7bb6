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

void appendtext(std::string *out, double x, double y, const char *anchor, std::string_view text,
                std::string_view extra = {}) {
  *out += "<text x=\"";
  appendcoord(out, x);
  *out += "\" y=\"";
  appendcoord(out, y);
  *out += "\" text-anchor=\"";
  *out += anchor;
  out->push_back('"');
  *out += extra;
  out->push_back('>');
  appendescaped(out, text);
  *out += "</text>";
}

void appendline(std::string *out, double x1, double y1, double x2, double y2,
                const char *cls) {
  *out += "<path class=\"";
  *out += cls;
  *out += "\" d=\"M";
  appendcoord(out, x1);
  out->push_back(' ');
  appendcoord(out, y1);
  out->push_back('L');
  appendcoord(out, x2);
  out->push_back(' ');
  appendcoord(out, y2);
  *out += "\"/>";
}

// A filled step outline of counts over [left, left + width], bars rising from base by
// scale pixels per count (a negative scale draws downwards).
void appendbars(std::string *out, const std::vector<uint64_t> &counts, double left,
                double width, double base, double scale, const char *cls) {
  if (counts.empty()) return;
  const double barwidth = width / static_cast<double>(counts.size());
  *out += "<path class=\"";
  *out += cls;
  *out += "\" d=\"M";
  appendcoord(out, left);
  out->push_back(' ');
  appendcoord(out, base);
  double lasty = roundtenth(base);
  for (size_t b = 0; b < counts.size(); b++) {
    const double y = roundtenth(base - scale * static_cast<double>(counts[b]));
    if (y != lasty) {
      out->push_back('V');
      appendcoord(out, y);
      lasty = y;
    }
    // Equal neighbours share one horizontal run.
    if (b + 1 < counts.size() && counts[b + 1] == counts[b]) continue;
    out->push_back('H');
    appendcoord(out, left + barwidth * static_cast<double>(b + 1));
  }
  if (lasty != roundtenth(base)) {
    out->push_back('V');
    appendcoord(out, base);
  }
  *out += "Z\"/>";
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
  *out += "<svg class=\"glyphs\" width=\"0\" height=\"0\" aria-hidden=\"true\"><defs>";
  for (const Glyph &glyph : glyphs) {
    *out += "<symbol id=\"z";
    out->push_back(glyph.letter);
    *out += "\" viewBox=\"0 0 100 100\" preserveAspectRatio=\"none\"><path fill=\"";
    *out += glyph.colour;
    *out += "\" fill-rule=\"evenodd\" d=\"";
    *out += glyph.path;
    *out += "\"/></symbol>";
  }
  *out += "</defs></svg>\n";
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
      if (bottom - top < 0.05) continue;
      const char l = upper(letters[letter]);
      if (nucleotides) {
        *out += "<use href=\"#z";
        out->push_back(l);
        *out += "\" data-l=\"";
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
        *out += "<text class=\"aa\" text-anchor=\"middle\" font-size=\"100\" data-l=\"";
        appendescaped(out, std::string_view(&l, 1));
        *out += "\" fill=\"";
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

void appendpositionhistogram(std::string *out, const PositionHistogram &histogram,
                             std::string_view id) {
  constexpr double width = 560.0, height = 170.0;
  constexpr double left = 48.0, right = 12.0, top = 20.0, bottom = 30.0;
  const double plotwidth = width - left - right;
  const double plotheight = height - top - bottom;
  static const std::vector<uint64_t> none;
  const std::vector<uint64_t> &forward = histogram.forward ? *histogram.forward : none;
  const std::vector<uint64_t> &reverse = histogram.reverse ? *histogram.reverse : none;
  const bool twostrands = histogram.reverse != nullptr;
  const size_t bins = std::max(forward.size(), reverse.size());
  uint64_t largest = 0;
  for (const uint64_t c : forward) largest = std::max(largest, c);
  for (const uint64_t c : reverse) largest = std::max(largest, c);
  const double ymax = niceceiling(static_cast<double>(largest));
  const double half = twostrands ? plotheight / 2.0 : plotheight;
  const double axis = top + half;
  const double scale = half / ymax;

  appendsvgopen(out, "hist", id, width, height);
  // Legend.
  appendtext(out, left, 12.0, "start", "+ strand", " class=\"fw\"");
  if (twostrands) appendtext(out, left + 70.0, 12.0, "start", "\u2212 strand", " class=\"rv\"");
  // Bars.
  if (bins > 0) {
    appendbars(out, forward, left, plotwidth * static_cast<double>(forward.size()) / bins,
               axis, scale, "fw");
    if (twostrands)
      appendbars(out, reverse, left, plotwidth * static_cast<double>(reverse.size()) / bins,
                 axis, -scale, "rv");
  }
  // Axes: counts on the left, positions below.
  appendline(out, left, top, left, top + plotheight, "ax");
  appendline(out, left, axis, left + plotwidth, axis, "ax");
  appendtext(out, left - 4.0, top + 4.0, "end", formatcount(ymax));
  appendtext(out, left - 4.0, axis + 4.0, "end", "0");
  if (twostrands) appendtext(out, left - 4.0, top + plotheight + 4.0, "end", formatcount(ymax));
  const double first = static_cast<double>(histogram.origin);
  const double span = static_cast<double>(bins * histogram.binwidth);
  if (span > 0.0) {
    const double step = nicestep(span, 7.0);
    const double labely = top + plotheight + 14.0;
    for (double tick = std::ceil(first / step) * step; tick <= first + span + 1e-9;
         tick += step) {
      const double x = left + (tick - first) / span * plotwidth;
      appendline(out, x, top + plotheight, x, top + plotheight + 3.0, "ax");
      appendtext(out, x, labely, "middle", formatcount(tick));
    }
    if (histogram.centred && first < 0.0 && first + span > 0.0) {
      const double x = left + (0.0 - first) / span * plotwidth;
      appendline(out, x, top, x, top + plotheight, "mid");
    }
  }
  appendtext(out, left + plotwidth / 2.0, height - 2.0, "middle",
             histogram.centred ? "hit centre relative to the sequence centre (letters)"
                               : "hit centre from the sequence start (letters)",
             " class=\"lab\"");
  *out += "</svg>";
}

void appendsparkline(std::string *out, const PositionHistogram &histogram) {
  constexpr double width = 120.0, height = 22.0;
  constexpr size_t maxbins = 60;
  static const std::vector<uint64_t> none;
  const std::vector<uint64_t> &forward = histogram.forward ? *histogram.forward : none;
  const std::vector<uint64_t> &reverse = histogram.reverse ? *histogram.reverse : none;
  const size_t bins = std::max(forward.size(), reverse.size());
  const size_t group = bins == 0 ? 1 : (bins + maxbins - 1) / maxbins;
  std::vector<uint64_t> sum((bins + group - 1) / group, 0);
  for (size_t b = 0; b < forward.size(); b++) sum[b / group] += forward[b];
  for (size_t b = 0; b < reverse.size(); b++) sum[b / group] += reverse[b];
  uint64_t largest = 0;
  for (const uint64_t c : sum) largest = std::max(largest, c);
  appendsvgopen(out, "spark", {}, width, height);
  if (largest > 0) {
    // The last group may cover fewer bins; the line spans the groups' share of the width.
    const double spanned = width * static_cast<double>(sum.size() * group) /
                           static_cast<double>(std::max<size_t>(bins, 1));
    appendbars(out, sum, 0.0, std::min(width, spanned), height,
               (height - 1.0) / static_cast<double>(largest), "sp");
  }
  appendline(out, 0.0, height - 0.5, width, height - 0.5, "ax");
  *out += "</svg>";
}

void appendscorehistogram(std::string *out, const ScoreHistogram &histogram,
                          std::string_view id) {
  constexpr double width = 300.0, height = 170.0;
  constexpr double left = 48.0, right = 14.0, top = 20.0, bottom = 30.0;
  const double plotwidth = width - left - right;
  const double plotheight = height - top - bottom;
  static const std::vector<uint64_t> none;
  const std::vector<uint64_t> &bins = histogram.bins ? *histogram.bins : none;
  uint64_t largest = 0;
  for (const uint64_t c : bins) largest = std::max(largest, c);
  const double ymax = niceceiling(static_cast<double>(largest));
  const double axis = top + plotheight;
  appendsvgopen(out, "scores", id, width, height);
  appendtext(out, left, 12.0, "start", "hits per score bin", " class=\"lab\"");
  appendbars(out, bins, left, plotwidth, axis, plotheight / ymax, "sc");
  appendline(out, left, top, left, axis, "ax");
  appendline(out, left, axis, left + plotwidth, axis, "ax");
  appendtext(out, left - 4.0, top + 4.0, "end", formatcount(ymax));
  appendtext(out, left - 4.0, axis + 4.0, "end", "0");
  const double span = histogram.binwidth * static_cast<double>(bins.size());
  if (!bins.empty() && span > 0.0) {
    const double step = nicestep(span, 4.0);
    for (double tick = std::ceil(histogram.low / step - 1e-9) * step;
         tick <= histogram.low + span + 1e-9; tick += step) {
      const double x = left + (tick - histogram.low) / span * plotwidth;
      appendline(out, x, axis, x, axis + 3.0, "ax");
      appendtext(out, x, axis + 14.0, "middle", formatnumber(tick, 4));
    }
  }
  appendtext(out, left + plotwidth / 2.0, height - 2.0, "middle",
             "score (threshold at the left edge)", " class=\"lab\"");
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
