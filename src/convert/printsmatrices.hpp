// Reading a file of PRINTS fingerprint score matrices and writing its motifs as a profile
// library: one group per fingerprint, one integer matrix over the letters A to Z per motif.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

constexpr int printsletters = 26;  // columns A to Z

// One motif of a fingerprint, with the texts of its fingerprint.
struct PrintsMatrix {
  std::string fingerprintcode;       // "gc; "
  std::string fingerprintaccession;  // "gx; "
  std::string fingerprinttitle;      // "gi; ", at most 40 characters; may be empty
  std::string motifcode;             // "mx; "
  int number = 0;                    // within its fingerprint, from "mn; "; 0 without that line
  int length = 0;                    // "ml; "
  // length rows of 26 scores, row by row; empty while no score row was taken (all scores 0)
  std::vector<int> scores;
  unsigned long group = 0;  // the matrices of one group share this number, in reading order
  unsigned long line = 0;   // where the motif's lines begin
};

struct PrintsLibrary {
  std::vector<PrintsMatrix> matrices;
  unsigned long fingerprints = 0;
  unsigned long longline = 0;  // a line too long to read, which ended the reading
};

// Reads the whole input into library. Prints "Fingerprint %d parsed. Containing %d
// matrices" after every 100th fingerprint, the title message "ERROR: EOL not found" and a
// "WARNING: line %lu: ..." for every motif left out (no fingerprint code, no motif code, no
// or an unreadable length, a score row that comes before the length or holds too few
// numbers) and for a missing motif count on messages. Returns 0, -1 when reading the input
// failed, or -2 at a line longer than maxconverterline (its number in library->longline).
int readprints(std::FILE *input, std::FILE *messages, PrintsLibrary *library);

// Writes the library text of all matrices to output: 0, or -1 when writing failed.
int writeprints(std::FILE *output, const PrintsLibrary &library);
