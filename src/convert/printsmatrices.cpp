// Reading PRINTS fingerprint score matrices and writing them as a profile library.
//
// The input is a run of fingerprints. A fingerprint begins with header lines ("gc; " code,
// "gx; " accession, "gn; " motif count, "gi; " title), which end at the first line whose
// second character is 'm' (the "gm; " line; lines of other kinds, motif lines included, are
// passed over without a message up to it); its motifs follow, each ended by a "KK;" line
// and one more line, the next one starting at an "mx;" line. Within a motif, a line of a
// letter and a blank is a row of the letter: the first row of each letter holds residue
// counts and is passed over, every later one holds the scores of the letter at the motif's
// positions.
//
// Contents: reading a fingerprint's header; reading one motif; readprints; writeprints.
#include "convert/printsmatrices.hpp"

#include <string_view>

#include "convert/linereader.hpp"

namespace {

// ---------------------------------------------------------------------------------------
// Reading a fingerprint's header

struct Fingerprint {
  std::string code, accession, title;
  int motifs = 0;  // from "gn; "; 0 while the line is missing
  bool hascount = false;
  unsigned long line = 0;  // its first line
};

char secondchar(std::string_view text) { return text.size() > 1 ? text[1] : '\0'; }

void takeheaderline(const LineReader &reader, Fingerprint *fingerprint, std::FILE *messages) {
  const std::string_view text = reader.text;
  if (startswith(text, "gc; ")) {
    fingerprint->code = firstword(text.substr(4));
  } else if (startswith(text, "gx; ")) {
    fingerprint->accession = firstword(text.substr(4));
  } else if (startswith(text, "gi; ")) {
    if (!reader.hasnewline) std::fputs("ERROR: EOL not found!!!!!!!!!!!!!!!!!\n", messages);
    fingerprint->title = text.substr(4, 40);
  } else if (startswith(text, "gn; ")) {
    // A count that is missing, zero or negative stands for one motif.
    int motifs = 0;
    if (!readint(firstword(text.substr(4)), &motifs) || motifs < 1) motifs = 1;
    fingerprint->motifs = motifs;
    fingerprint->hascount = true;
  }
}

// ---------------------------------------------------------------------------------------
// Reading one motif

struct MotifReading {
  PrintsMatrix matrix;
  bool hascode = false, haslength = false;
  bool seenletter[printsletters] = {};
  std::vector<int> rowvalues;  // the numbers of the row being read
  std::string problem;         // the first reason to leave the motif out, with its line
  unsigned long problemline = 0;
};

void noteproblem(MotifReading *motif, unsigned long line, std::string text) {
  if (!motif->problem.empty()) return;
  motif->problem = std::move(text);
  motif->problemline = line;
}

// A row of scores for letter: the first length words after the letter, split at blanks.
void takescorerow(const LineReader &reader, int letter, MotifReading *motif) {
  PrintsMatrix &matrix = motif->matrix;
  const char name = static_cast<char>('A' + letter);
  if (!motif->haslength) {
    noteproblem(motif, reader.number,
                std::string("score row of ") + name + " before the `ml; ' length");
    return;
  }
  const std::string_view text = reader.text.substr(2);
  motif->rowvalues.clear();
  size_t pos = 0;
  while (motif->rowvalues.size() < static_cast<size_t>(matrix.length) && pos < text.size()) {
    if (text[pos] == ' ') {
      pos++;
      continue;
    }
    size_t stop = text.find(' ', pos);
    if (stop == std::string_view::npos) stop = text.size();
    int value;
    if (!readint(text.substr(pos, stop - pos), &value)) break;
    motif->rowvalues.push_back(value);
    pos = stop;
  }
  if (motif->rowvalues.size() < static_cast<size_t>(matrix.length)) {
    noteproblem(motif, reader.number,
                std::string("score row of ") + name + " holds fewer than " +
                    std::to_string(matrix.length) + " numbers");
    return;
  }
  // The table comes into being with the first row that fills it, so a length that no row
  // backs costs no memory.
  if (matrix.scores.empty()) {
    matrix.scores.assign(static_cast<size_t>(matrix.length) * printsletters, 0);
  }
  for (int position = 0; position < matrix.length; position++) {
    matrix.scores[static_cast<size_t>(position) * printsletters + letter] =
        motif->rowvalues[position];
  }
}

// Takes the lines of a motif from the current line up to a "KK;" line (which stays current)
// or the end of the input. Returns whether a line is current.
bool readmotiflines(LineReader *reader, int number, MotifReading *motif) {
  PrintsMatrix &matrix = motif->matrix;
  matrix.line = reader->number;
  do {
    const std::string_view text = reader->text;
    if (startswith(text, "KK;")) return true;
    if (startswith(text, "mx; ")) {
      matrix.motifcode = firstword(text.substr(4));
      motif->hascode = !matrix.motifcode.empty();
    } else if (startswith(text, "mn; ")) {
      matrix.number = number;
    } else if (startswith(text, "ml; ")) {
      int length;
      if (readint(text.substr(4), &length) && length >= 0) {
        matrix.length = length;
        motif->haslength = true;
        matrix.scores.clear();
      } else {
        noteproblem(motif, reader->number, "unreadable motif length");
      }
    } else if (text.size() > 1 && text[1] == ' ' && text[0] >= 'A' && text[0] <= 'Z') {
      const int letter = text[0] - 'A';
      if (motif->seenletter[letter]) {
        takescorerow(*reader, letter, motif);
      } else {
        motif->seenletter[letter] = true;  // the row of residue counts
      }
    }
  } while (readline(reader));
  return false;
}

// Keeps the motif, or says why it is left out.
void finishmotif(const Fingerprint &fingerprint, MotifReading *motif, std::FILE *messages,
                 PrintsLibrary *library) {
  PrintsMatrix &matrix = motif->matrix;
  if (fingerprint.code.empty()) {
    motif->problem.clear();
    noteproblem(motif, matrix.line, "fingerprint without `gc; ' code");
  } else if (!motif->hascode) {
    noteproblem(motif, matrix.line, "motif without `mx; ' code");
  } else if (!motif->haslength) {
    noteproblem(motif, matrix.line, "motif without `ml; ' length");
  }
  if (!motif->problem.empty()) {
    std::fprintf(messages, "WARNING: line %lu: %s; motif left out\n", motif->problemline,
                 motif->problem.c_str());
    return;
  }
  matrix.fingerprintcode = fingerprint.code;
  matrix.fingerprintaccession = fingerprint.accession;
  matrix.fingerprinttitle = fingerprint.title;
  library->matrices.push_back(std::move(matrix));
}

}  // namespace

// ---------------------------------------------------------------------------------------
// readprints

int readprints(std::FILE *input, std::FILE *messages, PrintsLibrary *library) {
  LineReader reader;
  reader.stream = input;
  Fingerprint fingerprint;
  bool infingerprint = false;
  unsigned long group = 0;
  bool current = readline(&reader);
  while (current) {
    bool started = false;
    if (secondchar(reader.text) != 'm') {
      fingerprint = Fingerprint();
      fingerprint.line = reader.number;
      infingerprint = started = true;
      library->fingerprints++;
      do {
        takeheaderline(reader, &fingerprint, messages);
      } while ((current = readline(&reader)) && secondchar(reader.text) != 'm');
    }
    if (current) {
      if (!infingerprint) {  // motif lines before any header
        fingerprint.line = reader.number;
        infingerprint = true;
      }
      if (!fingerprint.hascount) {
        // Without a count no motif would be read and the line would never be passed.
        std::fprintf(messages,
                     "WARNING: line %lu: fingerprint without `gn; ' count; "
                     "taken as 1\n",
                     fingerprint.line);
        fingerprint.motifs = 1;
        fingerprint.hascount = true;
      }
      group++;
      for (int number = 1;; number++) {
        MotifReading motif;
        motif.matrix.group = group;
        current = readmotiflines(&reader, number, &motif);
        finishmotif(fingerprint, &motif, messages, library);
        // Pass over the "KK;" line and the line after it.
        if (current) current = readline(&reader);
        if (current) current = readline(&reader);
        if (!current) break;
        if (!startswith(reader.text, "mx;") && fingerprint.motifs <= 1000) break;
      }
    }
    if (started && library->fingerprints % 100 == 0) {
      std::fprintf(messages, "Fingerprint %lu parsed. Containing %d matrices\n",
                   library->fingerprints, fingerprint.motifs);
    }
  }
  const int status = reader.toolong ? -2 : reader.failed ? -1 : 0;
  if (reader.toolong) library->longline = reader.number + 1;
  freelinereader(&reader);
  return status;
}

// ---------------------------------------------------------------------------------------
// writeprints

int writeprints(std::FILE *output, const PrintsLibrary &library) {
  const PrintsMatrix *previous = nullptr;
  for (const PrintsMatrix &matrix : library.matrices) {
    if (previous == nullptr || matrix.group != previous->group) {
      if (previous != nullptr) std::fputs("END\n", output);
      std::fputs("BEGIN GROUP\n", output);
    }
    std::fprintf(output, "BEGIN INT\nID %s\nAC %s\n", matrix.fingerprintcode.c_str(),
                 matrix.motifcode.c_str());
    // An empty description line would not read back, so a missing title has none.
    if (!matrix.fingerprinttitle.empty()) {
      std::fprintf(output, "DE %s\n", matrix.fingerprinttitle.c_str());
    }
    std::fprintf(output, "DE %s\nAL ABCDEFGHIJKLMNOPQRSTUVWXYZ\nLE %d\n",
                 matrix.motifcode.c_str(), matrix.length);
    for (int position = 0; position < matrix.length; position++) {
      std::fputs("MA ", output);
      for (int letter = 0; letter < printsletters; letter++) {
        const int score =
            matrix.scores.empty()
                ? 0
                : matrix.scores[static_cast<size_t>(position) * printsletters + letter];
        std::fprintf(output, "%d\t", score);
      }
      std::fputc('\n', output);
    }
    std::fputs("END\n", output);
    previous = &matrix;
  }
  std::fputs("END\n", output);
  if (std::fflush(output) != 0 || std::ferror(output)) return -1;
  return 0;
}
