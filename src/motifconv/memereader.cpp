// MEME's minimal motif format (also written by STREME and Tomtom's databases): a
// "MEME version" line, "ALPHABET= ACGT" (or the 20 protein letters), a background, then per
// motif "MOTIF id alt" and "letter-probability matrix: alength= 4 w= 6 nsites= 20 E= 0"
// followed by w rows of letter probabilities. Counts are the probabilities times nsites
// (20 when the header gives none); everything else in the file is passed over.
#include <cstdio>

#include "motifconv/motiflines.hpp"

namespace {

constexpr double defaultsites = 20.0;
constexpr std::string_view dnaletters = "ACGT";
constexpr std::string_view proteinletters = "ACDEFGHIKLMNPQRSTVWY";

struct MemeMotif {
  bool open;
  bool hasmatrix;
  Motif motif;
  std::string problem;
  uint64_t problemline;
};

void noteproblem(MemeMotif *meme, const std::string &problem, uint64_t line) {
  if (meme->problem.empty()) {
    meme->problem = problem;
    meme->problemline = line;
  }
}

void closemotif(MemeMotif *meme, MotifSink *sink) {
  if (!meme->open) return;
  if (!meme->hasmatrix) noteproblem(meme, "no letter-probability matrix", meme->motif.line);
  finishmotif(sink, &meme->motif, meme->problem, meme->problemline);
  *meme = MemeMotif{};
}

// The values of "alength=", "w=" and "nsites=" in the matrix header (negative when absent);
// false when one of them is no number.
bool readmatrixheader(std::string_view text, double *alength, double *width, double *sites) {
  const std::vector<std::string_view> words = splitwords(text);
  *alength = *width = *sites = -1.0;
  for (size_t i = 0; i < words.size(); i++) {
    const size_t equals = words[i].find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = words[i].substr(0, equals);
    std::string_view value = words[i].substr(equals + 1);
    if (value.empty() && i + 1 < words.size()) value = words[++i];
    double *field = key == "alength" ? alength : key == "w" ? width : key == "nsites" ? sites
                                                                                    : nullptr;
    if (field != nullptr && !readnumber(value, field)) return false;
  }
  return true;
}

// Reads the matrix after its header line.
void readmatrix(LineCursor *cursor, std::string_view header, std::string_view alphabet,
                MemeMotif *meme) {
  const uint64_t headerline = cursor->line;
  if (meme->hasmatrix) noteproblem(meme, "a second letter-probability matrix", headerline);
  meme->hasmatrix = true;
  Motif *motif = &meme->motif;
  motif->counts.clear();
  double alength, width, sites;
  if (!readmatrixheader(header, &alength, &width, &sites)) {
    noteproblem(meme, "a value of the matrix header is no number", headerline);
  }
  if (sites < 0.0) sites = defaultsites;
  if (!(sites > 0.0)) noteproblem(meme, "nsites is not positive", headerline);
  if (alphabet.empty()) {
    alphabet = alength == 4.0 ? dnaletters : alength == 20.0 ? proteinletters : "";
    if (alphabet.empty()) noteproblem(meme, "no `ALPHABET=' line for this alength", headerline);
  } else if (alength >= 0.0 && alength != static_cast<double>(alphabet.size())) {
    noteproblem(meme, "alength differs from the alphabet's size", headerline);
  }
  motif->letters = alphabet;
  const size_t letters = alphabet.empty() ? 0 : alphabet.size();
  // Rows follow until w of them are read or a line is no row.
  uint64_t rows = 0;
  std::string_view line;
  while ((width < 0.0 || static_cast<double>(rows) < width) && peekline(cursor, &line)) {
    const std::string_view row = trimblanks(line);
    if (row.empty() || !isnumberstart(row[0])) break;
    nextline(cursor, &line);
    rows++;
    const std::vector<std::string_view> words = splitwords(row);
    if (words.size() != letters) {
      noteproblem(meme, "a row whose number of values differs from the alphabet's size",
                  cursor->line);
      continue;
    }
    for (std::string_view word : words) {
      double probability;
      if (!readnumber(word, &probability)) {
        noteproblem(meme, quotedword(word, "is no probability"), cursor->line);
        probability = 0.0;
      }
      motif->counts.push_back(probability * sites);
    }
  }
  if (width >= 0.0 && static_cast<double>(rows) != width) {
    char text[96];
    std::snprintf(text, sizeof text, "w= %.0f, but %lu rows", width,
                  static_cast<unsigned long>(rows));
    noteproblem(meme, text, cursor->line);
  }
}

}  // namespace

int readmeme(LineCursor *cursor, MotifSink *sink) {
  std::string alphabet;
  MemeMotif meme{};
  std::string_view line;
  while (nextline(cursor, &line)) {
    if (startswith(line, "ALPHABET=")) {
      alphabet = std::string(trimblanks(line.substr(9)));
      const std::string problem = letterproblem(alphabet);
      if (alphabet.empty() || !problem.empty()) {
        return layouterror(sink, cursor->line, "expecting the letters of the alphabet");
      }
    } else if (startswith(line, "ALPHABET")) {
      return layouterror(sink, cursor->line,
                         "only alphabets given as `ALPHABET= letters' can be read");
    } else if (startswith(line, "MOTIF") && (line.size() == 5 || isblankbyte(line[5]))) {
      closemotif(&meme, sink);
      const std::vector<std::string_view> words = splitwords(line.substr(5));
      if (words.empty()) return layouterror(sink, cursor->line, "a motif without a name");
      meme.open = true;
      meme.motif.line = cursor->line;
      if (words.size() >= 2) {
        meme.motif.accession = words[0];
        meme.motif.name = words[1];
      } else {
        meme.motif.name = words[0];
      }
    } else if (startswith(line, "letter-probability matrix:")) {
      if (!meme.open) {
        return layouterror(sink, cursor->line, "a letter-probability matrix outside a motif");
      }
      readmatrix(cursor, line.substr(26), alphabet, &meme);
    }
  }
  closemotif(&meme, sink);
  return 0;
}
