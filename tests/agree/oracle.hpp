// An independent model of whole zelkosearch runs for the end-to-end agreement suite: random
// databases and libraries written as files, and the tabular records a run must print,
// computed by brute force from the definitions (every window scored in full, thresholds
// derived from score distributions enumerated word by word). Nothing here calls the
// program's own engines, statistics or report code.
//
// Contents: alphabets; databases; libraries; score distributions; run options; expected
// records.
#pragma once

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace oracle {

// Formats like printf into a std::string.
template <typename... Args>
std::string format(const char *pattern, Args... args) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, pattern, args...);
  return buffer;
}

struct Random {
  std::mt19937_64 engine;
  explicit Random(uint64_t seed) : engine(seed) {}
  uint64_t below(uint64_t n) { return std::uniform_int_distribution<uint64_t>(0, n - 1)(engine); }
  int64_t between(int64_t low, int64_t high) {
    return std::uniform_int_distribution<int64_t>(low, high)(engine);
  }
  bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(engine) < p; }
  template <typename T>
  const T &pick(const std::vector<T> &items) {
    return items[below(items.size())];
  }
  char pick(const std::string &text) { return text[below(text.size())]; }
};

// ---------------------------------------------------------------------------------------
// Alphabets: the built-in DNA and protein maps, as the user sees them

struct Alphabet {
  bool dna;
  std::string characters;  // printed character of each regular code
  std::string wildcards;

  size_t symbols() const { return characters.size(); }

  // Regular code of a byte, -1 for a wildcard, -2 for a character outside the alphabet.
  int code(char c) const {
    if (dna) {
      switch (c) {
        case 'a':
        case 'A': return 0;
        case 'c':
        case 'C': return 1;
        case 'g':
        case 'G': return 2;
        case 't':
        case 'T':
        case 'u':
        case 'U': return 3;
      }
    } else {
      const size_t at = characters.find(c);
      if (at != std::string::npos) return static_cast<int>(at);
    }
    return wildcards.find(c) != std::string::npos ? -1 : -2;
  }
};

inline Alphabet dnaalphabet() { return {true, "acgt", "nsywrkvbdhmNSYWRKVBDHM"}; }
inline Alphabet proteinalphabet() { return {false, "LVIFKREDAGSTNQYWPHMC", "XUBZ*-"}; }

// Watson-Crick partner of a DNA code (a-t, c-g).
inline int complementcode(int code) { return 3 - code; }

// ---------------------------------------------------------------------------------------
// Databases

struct Sequence {
  std::string header;    // the text after '>' up to the end of the line
  std::string residues;  // the characters as written, without line breaks
};

struct Database {
  Alphabet alpha;
  std::vector<Sequence> sequences;
  std::vector<std::vector<int>> codes;  // per sequence: regular code, or -1 for a wildcard
  uint64_t totallength = 0;             // all positions, one separator between sequences
};

inline void codedatabase(Database &db) {
  db.codes.clear();
  uint64_t position = 0;
  for (const Sequence &sequence : db.sequences) {
    std::vector<int> codes;
    for (char c : sequence.residues) codes.push_back(db.alpha.code(c));
    position += codes.size() + 1;
    db.codes.push_back(std::move(codes));
  }
  db.totallength = position - 1;
}

// Sequences of mixed lengths (some shorter than any matrix), upper and lower case for DNA,
// wildcards sprinkled in, now and then a run of wildcards or a sequence of wildcards only.
inline Database randomdatabase(Random &random, const Alphabet &alpha, uint64_t count,
                               uint64_t maxlength) {
  Database db{alpha, {}, {}, 0};
  const std::string regular = alpha.dna ? "acgtACGTacgtACGTuU" : alpha.characters;
  for (uint64_t i = 0; i < count; i++) {
    Sequence sequence;
    sequence.header = format("seq%" PRIu64, i + 1);
    if (random.chance(0.7))
      sequence.header +=
          format(" sample %d, region #%d", (int)random.below(90), (int)random.below(9));
    const uint64_t length = random.chance(0.2) ? 1 + random.below(4) : 1 + random.below(maxlength);
    const bool wildonly = random.chance(0.05);
    for (uint64_t p = 0; p < length; p++) {
      const bool wild = wildonly || random.chance(0.04);
      sequence.residues += wild ? random.pick(alpha.wildcards) : random.pick(regular);
      if (wild && random.chance(0.3)) sequence.residues += random.pick(alpha.wildcards);
    }
    db.sequences.push_back(sequence);
  }
  codedatabase(db);
  return db;
}

// Fasta text with lines of random width, blank lines and blanks inside sequence lines.
inline std::string fastatext(const Database &db, Random &random) {
  std::string text = random.chance(0.3) ? "\n\n" : "";
  for (const Sequence &sequence : db.sequences) {
    text += '>';
    text += sequence.header;
    text += '\n';
    const uint64_t width = 5 + random.below(70);
    for (uint64_t p = 0; p < sequence.residues.size(); p += width) {
      std::string line = sequence.residues.substr(p, width);
      if (random.chance(0.1)) line.insert(random.below(line.size() + 1), 1, ' ');
      text += line;
      text += '\n';
      if (random.chance(0.05)) text += "\n";
    }
  }
  return text;
}

// ---------------------------------------------------------------------------------------
// Libraries

struct Score {
  int64_t i = 0;
  float f = 0.0f;
};

struct Matrix {
  std::string id, ac;
  std::vector<std::string> de;
  bool isfloat = false;
  bool predefined = false;  // AP instead of AL
  std::string columns;      // characters of the columns in order
  uint64_t m = 0;
  std::vector<std::vector<std::string>> tokens;  // the values as written, one row per MA line
  uint64_t group = 0, position = 0;

  // Derived from the tokens the way the library defines them: one cell per row and regular
  // code; a code without a column is forbidden.
  size_t symbols = 0;
  std::vector<int64_t> icells;
  std::vector<float> fcells;
  std::vector<char> allowed;
  bool forbidden = false;  // some cell of a regular code is forbidden
  Score minimum, maximum;  // sums of the row extremes over the stored values

  size_t at(uint64_t row, int code) const { return row * symbols + static_cast<size_t>(code); }
};

inline void derivecells(Matrix &matrix, const Alphabet &alpha) {
  matrix.symbols = alpha.symbols();
  matrix.icells.assign(matrix.m * matrix.symbols, 0);
  matrix.fcells.assign(matrix.m * matrix.symbols, 0.0f);
  matrix.allowed.assign(matrix.m * matrix.symbols, 0);
  matrix.minimum = matrix.maximum = Score{};
  for (uint64_t row = 0; row < matrix.m; row++) {
    bool first = true;
    Score low, high;
    for (size_t column = 0; column < matrix.columns.size(); column++) {
      const int code = alpha.code(matrix.columns[column]);
      if (code < 0) continue;  // a wildcard or undefined column is read and dropped
      const std::string &token = matrix.tokens[row][column];
      const size_t cell = matrix.at(row, code);
      matrix.allowed[cell] = 1;
      if (matrix.isfloat) {
        const float value = static_cast<float>(std::strtod(token.c_str(), nullptr));
        matrix.fcells[cell] = value;
        if (first || value < low.f) low.f = value;
        if (first || value > high.f) high.f = value;
      } else {
        const int64_t value = std::strtoll(token.c_str(), nullptr, 10);
        matrix.icells[cell] = value;
        if (first || value < low.i) low.i = value;
        if (first || value > high.i) high.i = value;
      }
      first = false;
    }
    matrix.minimum.i += low.i;
    matrix.maximum.i += high.i;
    matrix.minimum.f += low.f;
    matrix.maximum.f += high.f;
  }
  matrix.forbidden =
      std::find(matrix.allowed.begin(), matrix.allowed.end(), 0) != matrix.allowed.end();
}

struct LibraryShape {
  uint64_t maxrows;       // DNA up to 7, protein up to 3 keeps enumeration cheap
  bool forbiddencolumns;  // allow matrices without a column for some symbol
  bool inexactfloats;     // float values that are not sums of small powers of two
};

struct Library {
  std::vector<Matrix> matrices;
  uint64_t groups = 0;
};

inline std::string valuetoken(Random &random, const Matrix &matrix, bool inexact) {
  if (!matrix.isfloat) return format("%" PRId64, random.between(-6, 6));
  if (inexact && random.chance(0.5)) return format("%.1f", random.between(-40, 40) / 10.0);
  const double value = random.between(-32, 32) / 8.0;
  switch (random.below(3)) {
    case 0: return format("%g", value);
    case 1: return format("%.3f", value);
    default: return format("%ge0", value);
  }
}

inline std::string columnsfor(Random &random, const Alphabet &alpha, const LibraryShape &shape,
                              bool *ret_predefined) {
  *ret_predefined = false;
  std::string upper = alpha.dna ? "ACGT" : "ACDEFGHIKLMNPQRSTVWY";
  if (random.chance(0.25)) {
    *ret_predefined = true;
    return upper;
  }
  std::string columns = upper;
  std::shuffle(columns.begin(), columns.end(), random.engine);
  if (alpha.dna && random.chance(0.3)) {
    for (char &c : columns) c = static_cast<char>(c - 'A' + 'a');
  }
  if (shape.forbiddencolumns && random.chance(0.4)) columns.erase(random.below(columns.size()), 1);
  // Columns the database can never hold: a wildcard and, for DNA, an undefined letter.
  if (random.chance(0.3))
    columns.insert(random.below(columns.size() + 1), 1, alpha.dna ? 'N' : 'X');
  if (alpha.dna && random.chance(0.2)) columns.insert(random.below(columns.size() + 1), 1, 'X');
  return columns;
}

// A library of several groups (one of them sometimes empty) whose matrices have varying
// rows, so that no matrix has equal minimum and maximum.
inline Library randomlibrary(Random &random, const Alphabet &alpha, const LibraryShape &shape,
                             uint64_t count) {
  Library library;
  library.groups = 1 + random.below(3);
  std::vector<uint64_t> groupof(count);
  for (uint64_t &g : groupof) g = random.below(library.groups);
  std::sort(groupof.begin(), groupof.end());
  std::vector<uint64_t> positions(library.groups, 0);
  for (uint64_t i = 0; i < count; i++) {
    Matrix matrix;
    matrix.group = groupof[i];
    matrix.position = positions[matrix.group]++;
    matrix.id = format("M%" PRIu64 "%s", i, random.chance(0.3) ? " site" : "");
    if (random.chance(0.7)) matrix.ac = format("AC%04" PRIu64, 100 + i);
    for (uint64_t d = random.below(3); d > 0; d--)
      matrix.de.push_back(format("note %d on #%" PRIu64, (int)random.below(100), i));
    matrix.isfloat = random.chance(0.5);
    matrix.columns = columnsfor(random, alpha, shape, &matrix.predefined);
    matrix.m = 1 + random.below(shape.maxrows);
    for (;;) {
      matrix.tokens.assign(matrix.m, {});
      for (auto &row : matrix.tokens)
        for (size_t c = 0; c < matrix.columns.size(); c++)
          row.push_back(valuetoken(random, matrix, shape.inexactfloats));
      derivecells(matrix, alpha);
      const bool varies = matrix.isfloat ? matrix.minimum.f != matrix.maximum.f
                                         : matrix.minimum.i != matrix.maximum.i;
      if (varies) break;
    }
    library.matrices.push_back(matrix);
  }
  return library;
}

// The library text: groups, comments and empty lines, header tags in random order.
inline std::string librarytext(const Library &library, Random &random) {
  std::string text = "# random library\n";
  size_t next = 0;
  for (uint64_t g = 0; g < library.groups; g++) {
    text += random.chance(0.3) ? "BEGIN\tGROUP \n" : "BEGIN GROUP\n";
    if (random.chance(0.3)) text += "\n# group comment\n";
    for (; next < library.matrices.size() && library.matrices[next].group == g; next++) {
      const Matrix &matrix = library.matrices[next];
      text += matrix.isfloat ? "BEGIN FLOAT\n" : "BEGIN INT \n";
      std::vector<std::string> tags;
      tags.push_back("ID " + matrix.id);
      if (!matrix.ac.empty()) tags.push_back("AC " + matrix.ac);
      std::string de;
      for (const std::string &line : matrix.de) de += "DE " + line + "\n";
      if (!de.empty()) tags.push_back(de.substr(0, de.size() - 1));
      tags.push_back(matrix.predefined ? (matrix.columns.size() == 4 ? "AP DNA" : "AP PROTEIN")
                                       : "AL " + matrix.columns);
      tags.push_back(format("LE %" PRIu64, matrix.m));
      if (random.chance(0.3)) tags.push_back(matrix.isfloat ? "TH 1.5" : "TH 3");
      std::shuffle(tags.begin(), tags.end(), random.engine);
      for (const std::string &tag : tags) text += tag + (random.chance(0.1) ? "\n#\n" : "\n");
      for (const auto &row : matrix.tokens) {
        text += random.chance(0.5) ? "MA " : "MA\t ";
        for (size_t c = 0; c < row.size(); c++)
          text += row[c] + (c + 1 < row.size() ? (random.chance(0.2) ? "  " : " ") : "");
        text += random.chance(0.2) ? " \n" : "\n";
      }
      text += "END\n";
    }
    text += "END\n";
  }
  return text;
}

// ---------------------------------------------------------------------------------------
// Score distributions, by enumerating every word of the matrix's length

struct Distribution {
  int64_t minimum = 0, maximum = 0, offset = 0;
  double multiplier = 1.0;
  std::vector<double> tail;  // tail[i]: probability of a scaled total of at least minimum + i
  // A distribution derived lazily for a p-value target must hold exact entries from the top
  // down to this index; below it, its entries lie between the entry at this index and the
  // exact ones (the derivation may leave them unfilled).
  size_t lowestfilled = 0;
};

// Scaled scores: shift + rint(multiplier x entry) over the float view of the matrix, the
// shift undoing the most negative entry.
inline Distribution enumeratedistribution(const Matrix &matrix,
                                          const std::vector<double> &frequencies,
                                          double multiplier) {
  const size_t symbols = matrix.symbols;
  std::vector<float> entries(matrix.m * symbols);
  float least = 0.0f;
  for (size_t cell = 0; cell < entries.size(); cell++) {
    entries[cell] = matrix.isfloat ? matrix.fcells[cell] : static_cast<float>(matrix.icells[cell]);
    least = std::min(least, entries[cell]);
  }
  const int64_t shift = static_cast<int64_t>(std::fabs(std::rint(multiplier * least)));
  std::vector<int64_t> scaled(entries.size());
  for (size_t cell = 0; cell < entries.size(); cell++)
    scaled[cell] = shift + static_cast<int64_t>(std::rint(multiplier * entries[cell]));

  Distribution distribution;
  distribution.multiplier = multiplier;
  distribution.offset = static_cast<int64_t>(matrix.m) * shift;
  for (uint64_t row = 0; row < matrix.m; row++) {
    const auto first = scaled.begin() + static_cast<ptrdiff_t>(row * symbols);
    distribution.minimum += *std::min_element(first, first + static_cast<ptrdiff_t>(symbols));
    distribution.maximum += *std::max_element(first, first + static_cast<ptrdiff_t>(symbols));
  }
  std::vector<double> exact(static_cast<size_t>(distribution.maximum - distribution.minimum + 1),
                            0.0);
  std::vector<size_t> word(matrix.m, 0);
  for (;;) {
    int64_t total = 0;
    double probability = 1.0;
    for (uint64_t row = 0; row < matrix.m; row++) {
      total += scaled[row * symbols + word[row]];
      probability *= frequencies[word[row]];
    }
    exact[static_cast<size_t>(total - distribution.minimum)] += probability;
    uint64_t row = 0;
    while (row < matrix.m && ++word[row] == symbols) word[row++] = 0;
    if (row == matrix.m) break;
  }
  distribution.tail.assign(exact.size(), 0.0);
  double sum = 0.0;
  for (size_t i = exact.size(); i-- > 0;) distribution.tail[i] = sum += exact[i];
  return distribution;
}

// Index into the tail table of an integer score in the matrix's unit.
inline size_t tailindex(const Distribution &distribution, int64_t score) {
  const double index = std::rint(static_cast<double>(distribution.offset) +
                                 static_cast<double>(score) * distribution.multiplier -
                                 static_cast<double>(distribution.minimum));
  return static_cast<size_t>(
      std::clamp(index, 0.0, static_cast<double>(distribution.tail.size() - 1)));
}

inline double lookup(const Distribution &distribution, int64_t score) {
  return distribution.tail[std::max(tailindex(distribution, score), distribution.lowestfilled)];
}

inline double exactlookup(const Distribution &distribution, int64_t score) {
  return distribution.tail[tailindex(distribution, score)];
}

// True when a tail probability lies so close to the target that rounding in the program's
// log-space arithmetic could decide a comparison either way.
inline bool ambiguoustarget(const Distribution &distribution, double target) {
  for (double p : distribution.tail)
    if (std::fabs(p - target) <= 1e-9 * target) return true;
  return false;
}

// The highest scaled total whose tail reaches a target (p-value at most 1), or the minimum:
// where the lazy derivation stops.
inline int64_t reachedtotal(const Distribution &distribution, double target) {
  for (int64_t total = distribution.maximum; total > distribution.minimum; total--)
    if (distribution.tail[static_cast<size_t>(total - distribution.minimum)] >= target)
      return total;
  return distribution.minimum;
}

// The threshold of a p-value target (at most 1): the smallest integer score whose tail
// probability does not exceed the target. The search starts from the reached total taken
// back to the matrix's unit, which is the answer itself unless the multiplier is below 1,
// when neighbouring scores share scaled totals.
inline int64_t pvaluethreshold(const Distribution &distribution, double target) {
  const int64_t reached = reachedtotal(distribution, target);
  int64_t threshold = static_cast<int64_t>(
      std::rint(static_cast<double>(reached - distribution.offset) / distribution.multiplier));
  const size_t top = distribution.tail.size() - 1;
  while (lookup(distribution, threshold) > target && tailindex(distribution, threshold) < top)
    threshold++;
  while (tailindex(distribution, threshold - 1) > 0 &&
         lookup(distribution, threshold - 1) <= target)
    threshold--;
  return threshold;
}

// ---------------------------------------------------------------------------------------
// Run options

enum class Cutoff { evalue, pvalue, raw, mss, best };
enum class Background { none, uniform, file };

constexpr unsigned FORWARD = 1, REVERSE = 2, COMPLEMENT = 4, REVERSECOMPLEMENT = 8;

struct Options {
  Cutoff cutoff = Cutoff::raw;
  double value = 0.0;  // the cutoff as given (not for k best)
  std::string valuetext;
  uint64_t k = 0;
  bool lookahead = false;
  unsigned strands = FORWARD;
  std::vector<std::string> strandoptions;  // how the strand set is written; empty: default
  bool all = false;
  bool ncompl = false;
  Background background = Background::none;
  std::vector<double> frequencies;  // per regular code, for uniform and file backgrounds
  bool multgiven = false;
  double multiplier = 1.0;
  std::string multtext;
  bool seqrange = false;
  uint64_t firstsequence = 0, lastsequence = 0;
  bool dbsizegiven = false;
  uint64_t dbsize = 0;
  std::string sortkeys;
  uint64_t jobs = 1;  // 0: no -j option
};

inline std::vector<std::string> arguments(const Options &options, const Alphabet &alpha,
                                          const std::string &db, const std::string &library,
                                          const std::string &frequencyfile) {
  std::vector<std::string> args = {"-db", db,      alpha.dna ? "-dna" : "-protein",
                                   "-pr", library, options.lookahead ? "-lahead" : "-simple"};
  switch (options.cutoff) {
    case Cutoff::evalue: args.insert(args.end(), {"-eval", options.valuetext}); break;
    case Cutoff::pvalue: args.insert(args.end(), {"-pval", options.valuetext}); break;
    case Cutoff::raw: args.insert(args.end(), {"-rawth", options.valuetext}); break;
    case Cutoff::mss: args.insert(args.end(), {"-mssth", options.valuetext}); break;
    case Cutoff::best: args.insert(args.end(), {"-best", format("%" PRIu64, options.k)}); break;
  }
  if (options.cutoff == Cutoff::evalue || options.cutoff == Cutoff::pvalue) args.push_back("-lazy");
  if (options.background == Background::uniform) args.push_back("-uniform");
  if (options.background == Background::file) args.insert(args.end(), {"-freq", frequencyfile});
  if (options.multgiven) args.insert(args.end(), {"-mult", options.multtext});
  if (options.all) args.push_back("-all");
  if (options.ncompl) args.push_back("-ncompl");
  args.insert(args.end(), options.strandoptions.begin(), options.strandoptions.end());
  if (options.seqrange)
    args.insert(args.end(), {"-seqrange", format("%" PRIu64 ":%" PRIu64, options.firstsequence,
                                                 options.lastsequence)});
  if (options.dbsizegiven) args.insert(args.end(), {"-dbsize", format("%" PRIu64, options.dbsize)});
  if (!options.sortkeys.empty()) args.insert(args.end(), {"-sort", options.sortkeys});
  args.insert(args.end(), {"-format", "tabs"});
  if (options.jobs > 0) args.insert(args.end(), {"-j", format("%" PRIu64, options.jobs)});
  return args;
}

// ---------------------------------------------------------------------------------------
// Expected records

// One tabular record: its eighteen fields as they must print, plus the values the sort keys
// and the tolerant comparison of p- and E-values need.
struct Record {
  std::vector<std::string> fields;
  const Matrix *matrix = nullptr;
  bool haspvalue = false;
  double pvalue = 0.0, evalue = 0.0, mss = 0.0;
  // Where a lookup falls below the part of a lazily derived table that the derivation must
  // fill, the p-value may be anything from that part's lowest entry up to the exact one.
  double leastpvalue = 0.0, leastevalue = 0.0;
  float score = 0.0f;  // the score as the sort compares it
  uint64_t seqnum = 0, seqposition = 0;
};

enum Field {
  F_ID,
  F_AC,
  F_DE,
  F_GROUP,
  F_POSITION,
  F_SEQPOSITION,
  F_LENGTH,
  F_STRAND,
  F_THRESHOLD,
  F_SCORE,
  F_MIN,
  F_MAX,
  F_PVALUE,
  F_EVALUE,
  F_MSS,
  F_SEQNUM,
  F_SEQDESC,
  F_TEXT,
  F_COUNT
};

// Score of the window starting at `start` of a sequence on one strand, or false when it
// holds a wildcard or a forbidden symbol. Reverse strands read the rows backwards,
// complementary strands score the partner of each symbol; floats add up in single
// precision in window order.
inline bool windowscore(const Matrix &matrix, const std::vector<int> &codes, uint64_t start,
                        unsigned strand, Score *ret_score) {
  Score sum;
  for (uint64_t j = 0; j < matrix.m; j++) {
    int code = codes[start + j];
    if (code < 0) return false;
    if (strand & (COMPLEMENT | REVERSECOMPLEMENT)) code = complementcode(code);
    const uint64_t row = strand & (REVERSE | REVERSECOMPLEMENT) ? matrix.m - 1 - j : j;
    const size_t cell = matrix.at(row, code);
    if (!matrix.allowed[cell]) return false;
    if (matrix.isfloat)
      sum.f += matrix.fcells[cell];
    else
      sum.i += matrix.icells[cell];
  }
  *ret_score = sum;
  return true;
}

inline bool atleast(const Matrix &matrix, const Score &score, const Score &threshold) {
  return matrix.isfloat ? threshold.f <= score.f : score.i >= threshold.i;
}

inline bool better(const Matrix &matrix, const Score &a, const Score &b) {
  return matrix.isfloat ? a.f > b.f : a.i > b.i;
}

inline std::string scoretext(const Matrix &matrix, const Score &score) {
  return matrix.isfloat ? format("%.6e", static_cast<double>(score.f))
                        : format("%" PRId64, score.i);
}

inline double mssof(const Matrix &matrix, const Score &score) {
  double mss;
  if (matrix.isfloat) {
    const float above = score.f - matrix.minimum.f, range = matrix.maximum.f - matrix.minimum.f;
    mss = static_cast<double>(above) / static_cast<double>(range);
  } else {
    mss = static_cast<double>(score.i - matrix.minimum.i) /
          static_cast<double>(matrix.maximum.i - matrix.minimum.i);
  }
  return std::clamp(mss, 0.0, 1.0);
}

struct Window {
  uint64_t seqnum, seqposition;
  Score score;
};

// The windows of one strand that hold no wildcard and no forbidden symbol, in the order the
// scan meets them.
inline std::vector<Window> completewindows(const Matrix &matrix, const Database &db,
                                           const Options &options, unsigned strand) {
  std::vector<Window> windows;
  if (matrix.m == 0) return windows;
  for (uint64_t s = 0; s < db.sequences.size(); s++) {
    if (options.seqrange && (s < options.firstsequence || s > options.lastsequence)) continue;
    const std::vector<int> &codes = db.codes[s];
    for (uint64_t n = 0; n + matrix.m <= codes.size(); n++) {
      Score score;
      if (windowscore(matrix, codes, n, strand, &score)) windows.push_back({s, n, score});
    }
  }
  return windows;
}

struct Expectation {
  std::vector<Record> records;     // in the order a single job reports them unsorted
  std::vector<std::string> notes;  // per matrix: how its threshold came about
};

constexpr int64_t UNREACHABLE = INT64_C(4611686018427387903);

// The records a run prints, in the order one job reports them: profiles in library order,
// strands forward, complementary, reverse complementary, reverse, windows by position (k
// best: best first).
inline Expectation expectedrun(const Database &db, const Library &library, const Options &options) {
  Expectation expectation;
  const bool statistics = options.background != Background::none;
  const uint64_t dbsize = options.dbsizegiven ? options.dbsize : db.totallength;
  for (const Matrix &matrix : library.matrices) {
    Distribution distribution;
    if (statistics)
      distribution = enumeratedistribution(matrix, options.frequencies, options.multiplier);
    Score threshold;
    auto setthreshold = [&](double value) {
      threshold.f = static_cast<float>(value);
      threshold.i = static_cast<int64_t>(value);
    };
    std::string note = matrix.id + ": ";
    bool atmostminimum = false;
    switch (options.cutoff) {
      case Cutoff::raw:
        setthreshold(options.value);
        if (options.all && better(matrix, threshold, matrix.maximum)) threshold = matrix.maximum;
        break;
      case Cutoff::mss:
        if (matrix.isfloat) {
          const float range = matrix.maximum.f - matrix.minimum.f;
          const double bound =
              static_cast<double>(range) * options.value + static_cast<double>(matrix.minimum.f);
          threshold.f =
              std::clamp(std::ceil(static_cast<float>(bound)), matrix.minimum.f, matrix.maximum.f);
        } else {
          const int64_t range = matrix.maximum.i - matrix.minimum.i;
          const double bound =
              static_cast<double>(range) * options.value + static_cast<double>(matrix.minimum.i);
          threshold.i = std::clamp(static_cast<int64_t>(std::ceil(bound)), matrix.minimum.i,
                                   matrix.maximum.i);
        }
        break;
      case Cutoff::best: threshold = matrix.minimum; break;
      case Cutoff::pvalue:
      case Cutoff::evalue: {
        const double target = options.cutoff == Cutoff::pvalue
                                  ? options.value
                                  : options.value / static_cast<double>(dbsize);
        if (target > 1.0) {
          // An E-value above the database size admits every window; the threshold printed
          // only has to lie at or below the matrix minimum.
          threshold = matrix.minimum;
          atmostminimum = true;
        } else {
          setthreshold(static_cast<double>(pvaluethreshold(distribution, target)));
          distribution.lowestfilled =
              static_cast<size_t>(reachedtotal(distribution, target) - distribution.minimum);
        }
        if (target <= 1.0 && distribution.tail.back() > target) {
          if (options.all) {
            threshold = matrix.maximum;
          } else {
            threshold.i = UNREACHABLE;
            threshold.f = static_cast<float>(UNREACHABLE);
          }
        }
        note += format("target %.6e, top %.6e, ", target, distribution.tail.back());
        break;
      }
    }
    note += "threshold " + scoretext(matrix, threshold);
    expectation.notes.push_back(note);

    static constexpr unsigned order[4] = {FORWARD, COMPLEMENT, REVERSECOMPLEMENT, REVERSE};
    // With k best, reports print the profile's own threshold, which the forward strand's
    // search leaves raised to its k-th best score.
    Score shown = threshold;
    std::vector<std::vector<Window>> perstrand(4);
    for (int o = 0; o < 4; o++) {
      if ((options.strands & order[o]) == 0) continue;
      std::vector<Window> windows = completewindows(matrix, db, options, order[o]);
      if (options.cutoff == Cutoff::best) {
        std::stable_sort(windows.begin(), windows.end(), [&](const Window &a, const Window &b) {
          return better(matrix, a.score, b.score);
        });
        if (windows.size() >= options.k) {
          windows.resize(options.k);
          if (order[o] == FORWARD && better(matrix, windows.back().score, threshold))
            shown = windows.back().score;
        }
      } else {
        std::vector<Window> kept;
        for (const Window &window : windows)
          if (atleast(matrix, window.score, threshold)) kept.push_back(window);
        windows.swap(kept);
      }
      perstrand[o] = std::move(windows);
    }

    for (int o = 0; o < 4; o++) {
      const unsigned strand = order[o];
      for (const Window &window : perstrand[o]) {
        Record record;
        record.matrix = &matrix;
        record.seqnum = window.seqnum;
        record.seqposition = window.seqposition;
        record.score = matrix.isfloat ? window.score.f : static_cast<float>(window.score.i);
        record.mss = mssof(matrix, window.score);
        std::string description;
        for (size_t d = 0; d < matrix.de.size(); d++)
          description += (d > 0 ? ". " : "") + matrix.de[d];
        std::string text;
        const std::string &residues = db.sequences[window.seqnum].residues;
        for (uint64_t p = window.seqposition; p < window.seqposition + matrix.m; p++) {
          int code = db.alpha.code(residues[p]);
          if (strand & (COMPLEMENT | REVERSECOMPLEMENT) && !options.ncompl)
            code = complementcode(code);
          text += db.alpha.characters[static_cast<size_t>(code)];
        }
        std::string pfield, efield;
        if (statistics) {
          const int64_t lookupscore =
              matrix.isfloat ? static_cast<int64_t>(std::rint(static_cast<double>(window.score.f)))
                             : window.score.i;
          record.haspvalue = true;
          record.pvalue = exactlookup(distribution, lookupscore);
          record.leastpvalue = lookup(distribution, lookupscore);
          record.evalue = record.pvalue * static_cast<double>(dbsize);
          record.leastevalue = record.leastpvalue * static_cast<double>(dbsize);
          pfield = format("%.6e", record.pvalue);
          efield = format("%.6e", record.evalue);
        }
        record.fields = {matrix.id,
                         matrix.ac,
                         description,
                         format("%" PRIu64, matrix.group),
                         format("%" PRIu64, matrix.position),
                         format("%" PRIu64, window.seqposition),
                         format("%" PRIu64, matrix.m),
                         std::string(1, strand & (REVERSE | REVERSECOMPLEMENT) ? 'r' : 'f') +
                             (strand & (COMPLEMENT | REVERSECOMPLEMENT) ? 'c' : 'n'),
                         (atmostminimum ? "<=" : "") + scoretext(matrix, shown),
                         scoretext(matrix, window.score),
                         scoretext(matrix, matrix.minimum),
                         scoretext(matrix, matrix.maximum),
                         pfield,
                         efield,
                         format("%.6e", record.mss),
                         format("%" PRIu64, window.seqnum),
                         db.sequences[window.seqnum].header + ". ",
                         text};
        expectation.records.push_back(std::move(record));
      }
    }
  }
  return expectation;
}

// Orders records by a sort key string; equal records keep their order.
inline void sortrecords(std::vector<Record> &records, const std::string &keys) {
  auto compare = [&](const Record &a, const Record &b) -> int {
    for (char key : keys) {
      int c = 0;
      auto ascending = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
      switch (key) {
        case 'i': c = a.matrix->id.compare(b.matrix->id); break;
        case 'a': c = a.matrix->ac.compare(b.matrix->ac); break;
        case 'p': c = ascending(a.pvalue, b.pvalue); break;
        case 'e': c = ascending(a.evalue, b.evalue); break;
        case 'm': c = -ascending(a.mss, b.mss); break;
        case 's': c = -ascending(a.score, b.score); break;
        case 'n': c = ascending(a.seqnum, b.seqnum); break;
        case 'o': c = ascending(a.seqposition, b.seqposition); break;
        case 'r': c = ascending(a.matrix->group, b.matrix->group); break;
        case 't': c = ascending(a.matrix->position, b.matrix->position); break;
        case 'g':
          c = ascending(a.matrix->group, b.matrix->group);
          if (c == 0) c = ascending(a.matrix->position, b.matrix->position);
          break;
      }
      if (c != 0) return c;
    }
    return 0;
  };
  std::stable_sort(records.begin(), records.end(),
                   [&](const Record &a, const Record &b) { return compare(a, b) < 0; });
}

}  // namespace oracle
