// The profile library parser: a library file read into a ProfileCollection.
#pragma once

#include <cstdint>
#include <string_view>

#include "model/profile.hpp"
#include "sequences/characterclasses.hpp"

// Parses the library into the collection, every matrix laid out for alpha (borrowed; it must
// outlive the collection): 0, or -1 with the error code set. Prints the status line "Reading
// profile matrices from `%s'" and the column warnings through the output switches. A format
// error leaves "Parsing error in line %lu: %s." (or the synonym message of the column check)
// in the ErrorBuffer and shows the offending line with a caret on standard error. After a
// failure the collection has been released (or never created): the caller neither uses nor
// frees it.
int parselibrary(const char *filename, const Alphabet *alpha, ProfileCollection *collection);

// The same for a library held in memory (text need not end with a zero byte; the
// collection's texts are copies, so text may go once the parse is over). No status line.
int parselibrarytext(const char *text, uint64_t length, const Alphabet *alpha,
                     ProfileCollection *collection);

// One integer matrix given by its values rather than as text: appended to a collection made
// with collection_init for an alphabet (classes built from the same alphabet) exactly as
// parselibrarytext appends the entry "BEGIN GROUP", "BEGIN INT", ID, AC (when given), DE,
// "AL letters", "LE rows", one MA line per row, "END", "END": a group of its own, the same
// column checks (their warnings naming alphabetline), layout and score bounds. values holds
// rows x letters values, row by row. 0, or -1 with the message of the column check.
struct IntegerMatrix {
  std::string_view identifier;
  std::string_view accession;    // empty: none
  std::string_view description;  // empty: none
  std::string_view letters;
  uint64_t rows = 0;
  const int64_t *values = nullptr;
  uint64_t beginline = 0;
  uint64_t alphabetline = 0;
};
int appendintegermatrix(ProfileCollection *collection, const ClassTable *classes,
                        const IntegerMatrix &matrix);
