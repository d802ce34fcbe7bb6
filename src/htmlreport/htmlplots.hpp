// Inline SVG of the HTML report: sequence logos from letter probabilities (heights in bits),
// histograms of hit positions per strand or of match rates per set of sequences, score
// distributions and the glyph definitions the logos refer to. Every function appends to a
// string; nothing here knows about scans.
//
// Contents: columninformation; nucleotideletters; appendglyphdefinitions; LogoGeometry,
// appendlogo; PositionHistogram, appendpositionhistogram, appendpositionframe,
// appendsparkline; RateHistogram, nicescaletop, appendratehistogram, appendrateframe,
// appendsparklinepair; ScoreHistogram, appendscorehistogram; appendescaped, formatnumber.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Information content of one column in bits: log2(letters) minus the Shannon entropy of
// the probabilities (which are taken as they are: they should sum to 1).
double columninformation(const double *probabilities, uint64_t letters);

// Whether every letter is a nucleotide (A, C, G, T, U in either case): such logos are drawn
// with the glyphs of appendglyphdefinitions and can be turned into their reverse complement.
bool nucleotideletters(std::string_view letters);

// The <symbol>s of the letter glyphs (A, C, G, T, U as filled paths in a unit box, in the
// colours the field uses) that every nucleotide logo of the page refers to by id "zA" etc.,
// for the page's <defs>.
void appendglyphdefinitions(std::string *out);

// Logo size: columnwidth pixels per position; the full height is the largest information
// content of the alphabet, log2(letters) bits.
struct LogoGeometry {
  double columnwidth = 11.0;
  double height = 44.0;
};

// A logo: per position the letters stacked by their share p * information content, the
// tallest on top. The SVG's viewBox is exactly length * columnwidth by height, so a letter's
// drawn height divided by height times log2(letters) is its height in bits. Nucleotide
// logos use <use> elements of the glyphs (href "#zA" for A); other
// alphabets are drawn as scaled text. Letters lower than a pixel are left out (their share
// stays in the stack, whose top is the column's information content).
// id may be empty; extraclass is added to the class "logo".
void appendlogo(std::string *out, const std::vector<double> &probabilities,
                std::string_view letters, uint64_t length, const LogoGeometry &geometry,
                std::string_view id, std::string_view extraclass);

// Counts of hit positions per strand: bin b covers origin + b * binwidth ..
// origin + (b + 1) * binwidth - 1. reverse is empty when one strand was searched.
struct PositionHistogram {
  int64_t origin = 0;
  uint64_t binwidth = 1;
  const std::vector<uint64_t> *forward = nullptr;
  const std::vector<uint64_t> *reverse = nullptr;
  bool centred = false;  // positions relative to the sequence centre
};
// The histogram with axes: forward strand above the axis, reverse strand mirrored below it.
// With a frame id, the legend, axes and position labels are those of the <symbol> of that id
// (appendpositionframe, for the page's <defs>), which histograms of the same bins share.
void appendpositionhistogram(std::string *out, const PositionHistogram &histogram,
                             std::string_view id, std::string_view frameid);
void appendpositionframe(std::string *out, const PositionHistogram &layout,
                         std::string_view frameid);
// A small line of both strands together, for a table cell.
void appendsparkline(std::string *out, const PositionHistogram &histogram);

// Rates of match positions of one set of sequences (such as matches per sequence and kb in
// each bin, so that sets of different sizes compare), from origin in bins of binwidth letters,
// drawn as bars above one axis up to top, a scale the caller gives so that the plots of
// several sets share it (nicescaletop of their largest rate). Bars in the style class cls.
struct RateHistogram {
  int64_t origin = 0;
  uint64_t binwidth = 1;
  const std::vector<double> *rates = nullptr;
  double top = 1.0;
  bool centred = false;  // positions relative to the sequence centre
  const char *cls = "fw";
};
// The smallest round number (1, 2, 2.5 or 5 times a power of ten) at least largest; 1 when
// largest is not above 0.
double nicescaletop(double largest);
// As appendpositionhistogram; frames of appendrateframe (no legend) for the same bins.
void appendratehistogram(std::string *out, const RateHistogram &histogram, std::string_view id,
                         std::string_view frameid);
void appendrateframe(std::string *out, const RateHistogram &layout, std::string_view frameid);
// Two sets' rates as two small lines, the first above the second, on one scale, for a table
// cell.
void appendsparklinepair(std::string *out, const std::vector<double> &first,
                         const std::vector<double> &second, const char *firstclass,
                         const char *secondclass);

// Counts of hit scores: bin b covers low + b * binwidth (in display units) upwards;
// threshold is marked.
struct ScoreHistogram {
  double low = 0.0;
  double binwidth = 1.0;
  const std::vector<uint64_t> *bins = nullptr;
};
void appendscorehistogram(std::string *out, const ScoreHistogram &histogram,
                          std::string_view id);

// Text for HTML content and attribute values: & < > " ' as character references.
void appendescaped(std::string *out, std::string_view text);
// A number with up to digits significant digits in the shortest plain form ("12.5", "0.031",
// "3.2e-08" for very small or large values).
std::string formatnumber(double value, int digits);
