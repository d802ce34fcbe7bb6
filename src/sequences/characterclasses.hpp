// Character classes of a sequence alphabet: for each symbol code, the byte values mapping to
// it; and the check of a matrix's column characters against them, which finds synonym
// columns, columns that can never match and symbols without a column, and gives the matrix
// its adjusted copy of the alphabet.
#pragma once

#include <cstdint>

#include "sequences/alphabet.hpp"

// Character classes: for each code some byte maps to (undefined excepted), the byte values
// mapping to it in increasing order.
struct CharacterClass {
  char members[257];
  uint64_t length;
};
struct ClassTable {
  const Alphabet *alphabet;     // the sequence alphabet the classes were built from (borrowed)
  CharacterClass classes[256];  // indexed by symbol code
  bool present[256];
};
void buildcharacterclasses(ClassTable *table, const Alphabet *alpha);
// The class of character c (null for an undefined character) and its code.
const CharacterClass *classofcharacter(const ClassTable *table, const Alphabet *alpha,
                                       unsigned char c, uint64_t *ret_code);
// -1 on a synonym error, 1 when something was adjusted or warned about, 0 otherwise. A line
// number of 0 marks a probe: no warnings, no line in the message.
// The destination becomes a copy of the table's alphabet in which every character whose class
// has no column maps to the undefined code and the printed character of its former code is
// '~'. Warnings go through printwarning.
int checkcompatibility(const ClassTable *table, const unsigned char *characters, uint64_t count,
                       Alphabet *destination, uint64_t linenumber);
// For a matrix over an adjusted alphabet made by checkcompatibility: warns about every class of
// codes 0 to mapsize - 2 whose members are all undefined there, naming the matrix's line.
void warnmissingcolumns(const ClassTable *table, const Alphabet *adjusted, uint64_t linenumber);
