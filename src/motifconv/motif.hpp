// Count matrices as the motif files hold them, and the readers of the three motif formats
// (JASPAR, TRANSFAC-style count tables, MEME's minimal motif format).
//
// Contents: MotifFormat, Motif; detectmotifformat; readmotiftext, readmotiffile.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum MotifFormat { MOTIF_AUTO, MOTIF_JASPAR, MOTIF_TRANSFAC, MOTIF_MEME };

// One motif: a count for every letter at every position. Counts may be fractional; the
// readers hand on only motifs whose counts are finite, non-negative and positive in sum at
// every position.
struct Motif {
  std::string name;            // the identifier written as ID; never empty
  std::string accession;       // written as AC; empty when the source has none
  std::string letters;         // column letters in the source's order, all different
  std::vector<double> counts;  // position by position, one count per letter
  uint64_t line;               // line of the file where the motif starts
};

inline uint64_t motiflength(const Motif &motif) {
  return motif.letters.empty() ? 0 : motif.counts.size() / motif.letters.size();
}

// The format of a motif file from its first lines: MEME when a line starts with
// "MEME version", JASPAR when the first non-empty line is a `>' header or a row of counts,
// TRANSFAC when it starts with a two-character tag. MOTIF_AUTO when none fits; then
// *ret_line is the first non-empty line (or 1).
MotifFormat detectmotifformat(std::string_view text, uint64_t *ret_line);

// Reads every motif of text, in the given format or, with MOTIF_AUTO, the detected one, and
// appends the readable ones to *motifs. A motif that cannot be read (ragged rows, a value that
// is no count, negative counts, a position without counts, ...) is skipped with a warning
// that names the file, the line and the motif, and counted in *ret_skipped. TRANSFAC tables
// lose their leading and trailing positions without counts, with a warning. Returns 0, or -1
// with "Parsing error in file `%s', line %lu: %s." when the layout is not the format's or the
// text holds no motif at all. formatoption names the option that chooses the format, for
// the message of a text whose format is not detected ("unknown motif format (try -from)").
int readmotiftext(const char *filename, std::string_view text, MotifFormat format,
                  std::vector<Motif> *motifs, uint64_t *ret_skipped,
                  const char *formatoption = "-from");

// Reads the file (plain or gzip-compressed) and its motifs as readmotiftext does. Fails with
// "Failed to open file `%s'." when it cannot be opened, or with the reader's message.
int readmotiffile(const char *filename, MotifFormat format, std::vector<Motif> *motifs,
                  uint64_t *ret_skipped);
