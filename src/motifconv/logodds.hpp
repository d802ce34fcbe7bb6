// From counts to scores: the background of a motif's letters, the natural log-odds weights
// with a pseudocount, and the motif written as a group of the profile library format.
//
// Contents: BackgroundSource; motifbackground; motifweights; appendlibraryentry,
// scaledweights, entrytexts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "motifconv/motif.hpp"
#include "sequences/alphabet.hpp"

// Where the background frequencies come from: uniform over a motif's letters (no file and no
// frequencies given), a frequency file, read once over the DNA alphabet and once over the
// protein alphabet as the motifs need them, or frequencies the caller put in place (counted
// from sequences), which take the file's part.
struct BackgroundSource {
  const char *filename;  // null for the uniform background or given frequencies
  Alphabet dna;
  Alphabet protein;
  double *dnafrequencies;  // owned (allocated with malloc), null until needed
  double *proteinfrequencies;
};

void initbackgroundsource(BackgroundSource *source, const char *filename);
void freebackgroundsource(BackgroundSource *source);

// The background q of every letter of the motif in *ret_background, summing to 1: uniform, or
// the file's frequencies of the letters (through the DNA alphabet when it defines all of them,
// else the protein alphabet), scaled to sum 1 over them. Returns 0; 1 with the reason in
// *ret_problem when a letter has no positive frequency (the motif cannot be converted); -1
// when the file cannot be read (message in the ErrorBuffer).
int motifbackground(BackgroundSource *source, const Motif &motif,
                    std::vector<double> *ret_background, std::string *ret_problem);

// The weight of every count, w = ln((n + P q) / (N + P)) - ln q, with N the position's own
// count total and P the pseudocount, spread over the letters by the background q.
void motifweights(const Motif &motif, const std::vector<double> &background, double pseudocount,
                  std::vector<double> *ret_weights);

// Appends the motif as a group of one matrix: ID, AC (when it has one), DE with the base name
// of the source file and the accession, AL with its letters, LE and one MA line per position. With scale 0
// a FLOAT matrix of the weights with six decimals; otherwise an INT matrix of round(scale * w),
// halves away from zero. Returns 0, or -1 with a message when a scaled weight leaves the range
// of integer scores.
int appendlibraryentry(std::string *library, const Motif &motif, const std::vector<double> &weights,
                       double scale, const char *sourcefile);

// The integer weights of an INT entry: round(scale * w), halves away from zero, row by row.
// Returns 0, or -1 with a message when they leave the range of integer scores (a window's sum
// could reach the score infinity).
int scaledweights(const Motif &motif, const std::vector<double> &weights, double scale,
                  std::vector<int64_t> *ret_scaled);

// The texts of the motif's entry as the library holds them: ID, AC, DE and AL values.
struct EntryTexts {
  std::string identifier, accession, description, letters;
};
EntryTexts entrytexts(const Motif &motif, const char *sourcefile);

// The base name of a path: what follows its last slash.
std::string_view pathbasename(std::string_view path);
