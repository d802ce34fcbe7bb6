// Alphabets: the map from byte values to symbol codes, the built-in DNA and protein maps,
// symbol map files and the alphabets stored beside an index.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr uint64_t UNDEFINEDCODE = 253;
constexpr uint64_t WILDCARDCODE = 254;
constexpr uint64_t SEPARATORCODE = 255;

// A plain value: owns no memory and may be copied field by field.
struct Alphabet {
  unsigned char characters[256];  // character printed for each code; 254 holds the wildcard's
  unsigned char mapdomain[256];   // characters defined, in order of definition, wildcards last
  uint64_t domainsize;
  uint64_t mapsize;  // number of codes, the wildcard class included
  uint64_t mappedwildcards;
  uint64_t undefinedcode;  // always 253
  uint64_t symbolmap[256];
};

void dnaalphabet(Alphabet *alpha);
void proteinalphabet(Alphabet *alpha);
// The protein alphabet with the same codes and characters, whose letters are also read in
// lower case.
void proteinalphabetanycase(Alphabet *alpha);
void copyalphabet(Alphabet *destination, const Alphabet *source);

// Reads a symbol map file from an open stream: 0, or -1/-2/-3 with the message in the
// ErrorBuffer (text only; the caller sets the code).
int readsymbolmap(Alphabet *alpha, const char *filename, FILE *stream);
// Finds (through SARNIXSMAPDIR when the name has no slash), reads and closes a symbol map
// file: 0, -1 not found, -2 reading failed, -3 closing failed.
int loadsymbolmapfile(Alphabet *alpha, const char *filename);
// Loads the alphabet of the index named indexname from N.al1 or N.al2: 0 or -1;
// *ret_fromsymbolmap tells whether N.al1 was used.
int loadindexalphabet(const char *indexname, Alphabet *alpha, bool *ret_fromsymbolmap);
// Opens filename as given (a tracked handle, mode "rb"); when that fails and the name has no
// slash, tries each directory of the colon-separated list in the environment variable in
// order (an empty entry means "/"). Null with a message (text only) when nothing opens.
FILE *openinpathlist(const char *envname, const char *filename);
