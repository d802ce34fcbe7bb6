// Character classes of a sequence alphabet (the byte values sharing one symbol code) and the
// check of a matrix's column characters against them, which finds synonym columns, columns
// that can never match and symbols without a column, and adjusts the matrix's alphabet copy.
#include <cstring>

#include "base/error.hpp"
#include "base/output.hpp"
#include "sequences/characterclasses.hpp"

namespace {

bool ordinarycode(const Alphabet *alpha, uint64_t code) {
  return code < UNDEFINEDCODE && code != alpha->undefinedcode;
}

const char *specialcodename(uint64_t code) {
  if (code == WILDCARDCODE) return "defined as a wildcard";
  if (code == SEPARATORCODE) return "defined as the special separator character";
  return "undefined";
}

void warnnocolumn(const CharacterClass *cls, uint64_t linenumber) {
  if (cls->length == 1) {
    printwarning(
        "character `%c' may occur in the input sequence, but is not defined for the PSSM given "
        "on line %lu.\n",
        cls->members[0], static_cast<unsigned long>(linenumber));
  } else {
    printwarning(
        "character class {%s} may occur in the input sequence, but no column for any of its "
        "representatives is defined in the PSSM given on line %lu.\n",
        cls->members, static_cast<unsigned long>(linenumber));
  }
}

}  // namespace

void buildcharacterclasses(ClassTable *table, const Alphabet *alpha) {
  table->alphabet = alpha;
  for (unsigned code = 0; code < 256; code++) {
    table->present[code] = false;
    table->classes[code].length = 0;
    table->classes[code].members[0] = '\0';
  }
  for (unsigned c = 0; c < 256; c++) {
    const uint64_t code = alpha->symbolmap[c];
    if (code == alpha->undefinedcode || code > 255) continue;
    CharacterClass *cls = &table->classes[code];
    table->present[code] = true;
    cls->members[cls->length++] = static_cast<char>(c);
    cls->members[cls->length] = '\0';
  }
}

const CharacterClass *classofcharacter(const ClassTable *table, const Alphabet *alpha,
                                       unsigned char c, uint64_t *ret_code) {
  const uint64_t code = alpha->symbolmap[c];
  *ret_code = code;
  if (code > 255 || !table->present[code]) return nullptr;
  return &table->classes[code];
}

int checkcompatibility(const ClassTable *table, const unsigned char *characters, uint64_t count,
                       Alphabet *destination, uint64_t linenumber) {
  const Alphabet *source = table->alphabet;
  copyalphabet(destination, source);
  bool marked[256] = {};
  int result = 0;
  for (uint64_t i = 0; i < count; i++) {
    const unsigned char c = characters[i];
    uint64_t code;
    const CharacterClass *cls = classofcharacter(table, source, c, &code);
    if (marked[c]) {
      const char *members = cls == nullptr ? "" : cls->members;
      if (linenumber > 0) {
        return reporterror(
            "Character `%c' is a synonym for at least one other character in the input sequence "
            "alphabet (they are all represented by the same symbolic value %lu). There is no way "
            "to decide which of the given profile columns apply for scoring (line %lu).\n"
            "Offending mapping: %c -> {%s}.",
            c, static_cast<unsigned long>(code), static_cast<unsigned long>(linenumber), c,
            members);
      }
      return reporterror(
          "Character `%c' is a synonym for at least one other character in the input sequence "
          "alphabet (they are all represented by the same symbolic value %lu). There is no way "
          "to decide which of the given profile columns apply for scoring.\n"
          "Offending mapping: %c -> {%s}.",
          c, static_cast<unsigned long>(code), c, members);
    }
    if (!ordinarycode(source, code)) {
      if (linenumber > 0) {
        printwarning(
            "character `%c' is %s in the input alphabet, it won't match even if it is defined "
            "for the PSSM on line %lu.\n",
            c, specialcodename(code), static_cast<unsigned long>(linenumber));
      }
      marked[c] = true;
      result = 1;
      continue;
    }
    for (uint64_t k = 0; k < cls->length; k++) marked[static_cast<unsigned char>(cls->members[k])] = true;
  }
  for (unsigned c = 0; c < 256; c++) {
    const uint64_t code = source->symbolmap[c];
    if (marked[c] || !ordinarycode(source, code)) continue;
    const CharacterClass *cls = &table->classes[code];
    if (linenumber > 0) warnnocolumn(cls, linenumber);
    for (uint64_t k = 0; k < cls->length; k++) {
      const unsigned char member = static_cast<unsigned char>(cls->members[k]);
      marked[member] = true;
      destination->symbolmap[member] = destination->undefinedcode;
    }
    destination->characters[code] = '~';
    result = 1;
  }
  return result;
}

void warnmissingcolumns(const ClassTable *table, const Alphabet *adjusted, uint64_t linenumber) {
  if (!warningsenabled() || adjusted->mapsize < 2) return;
  for (uint64_t code = 0; code + 2 <= adjusted->mapsize && code < 256; code++) {
    if (!table->present[code]) continue;
    const CharacterClass *cls = &table->classes[code];
    bool allundefined = true;
    for (uint64_t k = 0; k < cls->length && allundefined; k++) {
      const unsigned char member = static_cast<unsigned char>(cls->members[k]);
      allundefined = adjusted->symbolmap[member] == adjusted->undefinedcode;
    }
    if (allundefined) warnnocolumn(cls, linenumber);
  }
}
