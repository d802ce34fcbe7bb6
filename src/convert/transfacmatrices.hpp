// Reading a library of TRANSFAC nucleotide weight matrices and writing it as a profile
// library: one group per entry holding one floating-point matrix over A, C, G, T.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

struct TransfacEntry {
  std::string accession;   // "AC "; an entry without one is invalid
  std::string identifier;  // "ID  "; may be empty
  std::string name;        // first word of "NA  "; may be empty
  int length = 0;          // "MATR_LENGTH "
  bool hasthreshold = false;
  double threshold = 0.0;                   // "THRESHOLD "
  std::vector<std::array<double, 4>> rows;  // length rows of the weights of A, C, G, T
  unsigned long line = 0;                   // the entry's first line
  // Why a valid entry cannot be written (empty when it can), and the line that shows it.
  std::string problem;
  unsigned long problemline = 0;
};

struct TransfacLibrary {
  std::vector<TransfacEntry> entries;
  unsigned long longline = 0;  // a line too long to read, which ended the reading
};

// Reads the whole input into library. Prints "Failure cannot read %c weight" for every
// weight that does not read as a finite number (the weight is then 0) and a warning for an
// unreadable threshold on messages. Returns 0, -1 when reading the input failed, or -2 at a
// line longer than maxconverterline (its number in library->longline).
int readtransfac(std::FILE *input, std::FILE *messages, TransfacLibrary *library);

// Writes the library text of the entries to output. Reports "Invalid entry number: %d" for
// an entry without accession and "WARNING: line %lu: ...; entry %s left out" for one whose
// weight rows do not fill its length exactly, on messages. Returns 0, or -1 when writing
// failed.
int writetransfac(std::FILE *output, std::FILE *messages, const TransfacLibrary &library);
