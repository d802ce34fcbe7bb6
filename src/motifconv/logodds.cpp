// Log-odds weights from counts and the library text of a converted motif.
#include "motifconv/logodds.hpp"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/error.hpp"
#include "statistics/freqfileparser.hpp"

namespace {

// Integer scores of a window must add up without overflow: the search refuses a matrix whose
// rows' largest magnitudes add up to the score infinity (2^62 - 1) or more.
constexpr double scoreinfinity = 4611686018427387903.0;

// Whether every letter has a code of its own (not undefined, not a wildcard) in alpha.
bool definesall(const Alphabet *alpha, const std::string &letters) {
  for (char letter : letters) {
    if (alpha->symbolmap[static_cast<unsigned char>(letter)] >= UNDEFINEDCODE) return false;
  }
  return true;
}

// A tag value is one line of text: control characters (a newline in a file name) would break
// it, so they become '?'.
std::string tagvalue(std::string_view text) {
  std::string value(text);
  for (char &c : value) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') c = '?';
  }
  return value;
}

}  // namespace

void initbackgroundsource(BackgroundSource *source, const char *filename) {
  source->filename = filename;
  dnaalphabet(&source->dna);
  proteinalphabet(&source->protein);
  source->dnafrequencies = nullptr;
  source->proteinfrequencies = nullptr;
}

void freebackgroundsource(BackgroundSource *source) {
  freeandnull(source->dnafrequencies);
  freeandnull(source->proteinfrequencies);
}

int motifbackground(BackgroundSource *source, const Motif &motif,
                    std::vector<double> *ret_background, std::string *ret_problem) {
  const size_t width = motif.letters.size();
  ret_background->assign(width, 1.0 / static_cast<double>(width));
  const bool dna = definesall(&source->dna, motif.letters);
  const Alphabet *alpha = dna ? &source->dna : &source->protein;
  double *&frequencies = dna ? source->dnafrequencies : source->proteinfrequencies;
  if (source->filename == nullptr && frequencies == nullptr) return 0;
  if (frequencies == nullptr) {
    frequencies = loadfrequencies(source->filename, alpha);
    if (frequencies == nullptr) return -1;
  }
  double sum = 0.0;
  for (size_t i = 0; i < width; i++) {
    const char letter = motif.letters[i];
    const uint64_t code = alpha->symbolmap[static_cast<unsigned char>(letter)];
    const double frequency = code < UNDEFINEDCODE ? frequencies[code] : 0.0;
    if (!(frequency > 0.0) || !std::isfinite(frequency)) {
      *ret_problem = std::string("letter `") + letter + "' has no positive background frequency";
      return 1;
    }
    (*ret_background)[i] = frequency;
    sum += frequency;
  }
  for (double &frequency : *ret_background) frequency /= sum;
  return 0;
}

void motifweights(const Motif &motif, const std::vector<double> &background, double pseudocount,
                  std::vector<double> *ret_weights) {
  const size_t width = motif.letters.size();
  const size_t length = motiflength(motif);
  ret_weights->resize(width * length);
  for (size_t position = 0; position < length; position++) {
    const double *counts = &motif.counts[position * width];
    double total = 0.0;
    for (size_t i = 0; i < width; i++) total += counts[i];
    for (size_t i = 0; i < width; i++) {
      const double q = background[i];
      (*ret_weights)[position * width + i] =
          std::log((counts[i] + pseudocount * q) / (total + pseudocount)) - std::log(q);
    }
  }
}

int scaledweights(const Motif &motif, const std::vector<double> &weights, double scale,
                  std::vector<int64_t> *ret_scaled) {
  const size_t width = motif.letters.size();
  const size_t length = motiflength(motif);
  ret_scaled->resize(length * width);
  double magnitude = 0.0;  // of the integer rows so far
  for (size_t position = 0; position < length; position++) {
    double rowmagnitude = 0.0;
    for (size_t i = 0; i < width; i++) {
      const double scaled = std::round(scale * weights[position * width + i]);
      rowmagnitude = std::max(rowmagnitude, std::fabs(scaled));
      if (!(magnitude + rowmagnitude < scoreinfinity)) {
        return reporterror("The weights of motif `%s' times %g exceed the integer score range.",
                           motif.name.c_str(), scale);
      }
      (*ret_scaled)[position * width + i] = static_cast<int64_t>(scaled);
    }
    magnitude += rowmagnitude;
  }
  return 0;
}

EntryTexts entrytexts(const Motif &motif, const char *sourcefile) {
  EntryTexts texts;
  texts.identifier = tagvalue(motif.name);
  texts.accession = tagvalue(motif.accession);
  texts.description = tagvalue(pathbasename(sourcefile));
  if (!motif.accession.empty()) texts.description.append(" ").append(texts.accession);
  texts.letters = tagvalue(motif.letters);
  return texts;
}

int appendlibraryentry(std::string *library, const Motif &motif, const std::vector<double> &weights,
                       double scale, const char *sourcefile) {
  const size_t width = motif.letters.size();
  const size_t length = motiflength(motif);
  std::vector<int64_t> scaled;
  if (scale > 0.0 && scaledweights(motif, weights, scale, &scaled) != 0) return -1;
  const EntryTexts texts = entrytexts(motif, sourcefile);
  std::string entry = scale > 0.0 ? "BEGIN GROUP\nBEGIN INT\n" : "BEGIN GROUP\nBEGIN FLOAT\n";
  // Appended piece by piece: "text" + std::string trips a false -Wrestrict of g++ 12.
  const auto tagline = [&entry](const char *tag, std::string_view value) {
    entry.append(tag).append(value).push_back('\n');
  };
  tagline("ID ", texts.identifier);
  if (!motif.accession.empty()) tagline("AC ", texts.accession);
  tagline("DE ", texts.description);
  tagline("AL ", texts.letters);
  char number[64];
  std::snprintf(number, sizeof number, "LE %lu\n", static_cast<unsigned long>(length));
  entry += number;
  for (size_t position = 0; position < length; position++) {
    entry += "MA";
    for (size_t i = 0; i < width; i++) {
      if (scale > 0.0) {
        std::snprintf(number, sizeof number, " %" PRId64, scaled[position * width + i]);
      } else {
        std::snprintf(number, sizeof number, " %.6f", weights[position * width + i]);
        if (std::strcmp(number, " -0.000000") == 0) std::strcpy(number, " 0.000000");
      }
      entry += number;
    }
    entry += '\n';
  }
  entry += "END\nEND\n";
  *library += entry;
  return 0;
}

std::string_view pathbasename(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}
