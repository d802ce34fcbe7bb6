// Alphabets: the built-in DNA and protein maps, symbol map files, the alphabet files kept
// beside an index.
#include "sequences/alphabet.hpp"

#include <cctype>
#include <cstring>

#include "base/error.hpp"
#include "base/filehandle.hpp"
#include "base/genfile.hpp"

namespace {

constexpr const char *smapdirvariable = "SARNIXSMAPDIR";
// While a file is read, codes must stay below the undefined code, so at most 253 lines
// (the wildcard line included) can be told apart.
constexpr uint64_t maxsymbollines = UNDEFINEDCODE;
// A symbol line lists at most 253 characters and a representative; comments and the ignored
// rest of a line get generous room, but a file without newlines is not read without end.
constexpr uint64_t maxlinelength = 65536;

void clearalphabet(Alphabet *alpha) {
  std::memset(alpha->characters, 0, sizeof alpha->characters);
  std::memset(alpha->mapdomain, 0, sizeof alpha->mapdomain);
  alpha->domainsize = 0;
  alpha->mapsize = 0;
  alpha->mappedwildcards = 0;
  alpha->undefinedcode = UNDEFINEDCODE;
  for (uint64_t &code : alpha->symbolmap) code = UNDEFINEDCODE;
}

// The last code defined is the wildcard class: its characters are coded 254 and its
// representative prints code 254.
void foldwildcards(Alphabet *alpha) {
  const uint64_t wildcardclass = alpha->mapsize - 1;
  for (uint64_t &code : alpha->symbolmap) {
    if (code == wildcardclass) {
      code = WILDCARDCODE;
      alpha->mappedwildcards++;
    }
  }
  alpha->characters[WILDCARDCODE] = alpha->characters[wildcardclass];
}

// A built-in map: one string per code, its first character representing it; the last
// string is the wildcard class.
void fillfromclasses(Alphabet *alpha, const char *const *classes, size_t count) {
  clearalphabet(alpha);
  for (size_t i = 0; i < count; i++) {
    for (const char *c = classes[i]; *c != '\0'; c++) {
      const unsigned char symbol = static_cast<unsigned char>(*c);
      alpha->mapdomain[alpha->domainsize++] = symbol;
      alpha->symbolmap[symbol] = alpha->mapsize;
    }
    alpha->characters[alpha->mapsize++] = static_cast<unsigned char>(classes[i][0]);
  }
  foldwildcards(alpha);
}

bool issymbolcharacter(unsigned char c) { return std::isalnum(c) || std::ispunct(c); }

// One symbol line defines the next code: 0 or the failure value of readsymbolmap.
int readsymbolline(Alphabet *alpha, const LineBuffer *line, uint64_t linenumber,
                   const char *filename) {
  const unsigned char *text = reinterpret_cast<const unsigned char *>(line->text);
  for (uint64_t i = 0; i < line->length; i++) {
    const unsigned char c = text[i];
    if (issymbolcharacter(c)) {
      if (alpha->symbolmap[c] != alpha->undefinedcode) {
        reporttext("cannot map symbol '%c' to %lu: it is already mapped to %lu", c,
                   static_cast<unsigned long>(alpha->mapsize),
                   static_cast<unsigned long>(alpha->symbolmap[c]));
        return -1;
      }
      alpha->mapdomain[alpha->domainsize++] = c;
      alpha->symbolmap[c] = alpha->mapsize;
    } else if (c == ' ') {
      // A blank introduces the representative. A blank that ends the line has none; it is
      // rejected like a blank followed by white space instead of printing a NUL.
      const unsigned char next = i + 1 < line->length ? text[i + 1] : ' ';
      if (std::isspace(next)) {
        reporttext("illegal character '%c' at the end of line %lu in mapfile %s", next,
                   static_cast<unsigned long>(linenumber), filename);
        return -3;
      }
      alpha->characters[alpha->mapsize++] = next;
      return 0;
    } else {
      reporttext("illegal character '%c' in line %lu of mapfile %s", c,
                 static_cast<unsigned long>(linenumber), filename);
      return -2;
    }
  }
  alpha->characters[alpha->mapsize++] = text[0];
  return 0;
}

}  // namespace

void dnaalphabet(Alphabet *alpha) {
  static constexpr const char *classes[] = {"aA", "cC", "gG", "tTuU",
                                            "nsywrkvbdhmNSYWRKVBDHM"};
  fillfromclasses(alpha, classes, std::size(classes));
}

void proteinalphabet(Alphabet *alpha) {
  static constexpr const char *classes[] = {"L", "V", "I", "F", "K", "R", "E",
                                            "D", "A", "G", "S", "T", "N", "Q",
                                            "Y", "W", "P", "H", "M", "C", "XUBZ*-"};
  fillfromclasses(alpha, classes, std::size(classes));
}

void proteinalphabetanycase(Alphabet *alpha) {
  static constexpr const char *classes[] = {"Ll", "Vv", "Ii", "Ff", "Kk", "Rr", "Ee",
                                            "Dd", "Aa", "Gg", "Ss", "Tt", "Nn", "Qq",
                                            "Yy", "Ww", "Pp", "Hh", "Mm", "Cc", "XUBZ*-xubz"};
  fillfromclasses(alpha, classes, std::size(classes));
}

void copyalphabet(Alphabet *destination, const Alphabet *source) { *destination = *source; }

int readsymbolmap(Alphabet *alpha, const char *filename, FILE *stream) {
  clearalphabet(alpha);
  LineBuffer line{};
  uint64_t linenumber = 0;
  bool symbollineseen = false;
  int result = 0;
  for (int status; result == 0 && (status = readfileline(stream, &line, maxlinelength)) != -1;) {
    linenumber++;
    if (status == -2) {
      reporttext("line %lu of mapfile %s is longer than %lu characters",
                 static_cast<unsigned long>(linenumber), filename,
                 static_cast<unsigned long>(maxlinelength));
      result = -2;
      break;
    }
    if (line.length == 0) continue;
    if (!symbollineseen && line.text[0] == '#') continue;
    symbollineseen = true;
    if (alpha->mapsize >= maxsymbollines) {
      reporttext("too many symbol lines in mapfile %s: at most %lu codes are possible", filename,
                 static_cast<unsigned long>(maxsymbollines));
      result = -2;
      break;
    }
    result = readsymbolline(alpha, &line, linenumber, filename);
  }
  freelinebuffer(&line);
  if (result != 0) return result;
  if (alpha->mapsize == 0) {
    reporttext("mapfile %s defines no symbols", filename);
    return -2;
  }
  foldwildcards(alpha);
  return 0;
}

int loadsymbolmapfile(Alphabet *alpha, const char *filename) {
  FILE *stream = openinpathlist(smapdirvariable, filename);
  if (stream == nullptr) return -1;
  if (readsymbolmap(alpha, filename, stream) != 0) {
    // The reading failure's message is the one to keep.
    if (closefilehandle(stream) != 0) return -3;
    return -2;
  }
  if (closefilehandle(stream) != 0) return -3;
  return 0;
}

int loadindexalphabet(const char *indexname, Alphabet *alpha, bool *ret_fromsymbolmap) {
  char *al1name = addsuffix(indexname, "al1");
  FILE *stream = openinpathlist(smapdirvariable, al1name);
  if (stream != nullptr) {
    const bool readok = readsymbolmap(alpha, al1name, stream) == 0;
    const bool closeok = closefilehandle(stream) == 0;
    if (readok && closeok) {
      std::free(al1name);
      *ret_fromsymbolmap = true;
      return 0;
    }
  }
  std::free(al1name);

  char *al2name = addsuffix(indexname, "al2");
  stream = openfilehandle(al2name, "rb");
  std::free(al2name);
  clearalphabet(alpha);
  if (stream != nullptr) {
    const int count = getc(stream);
    // An empty file defines no codes; a count of 0 stands for 256.
    const uint64_t announced = count == EOF ? 0 : (count == 0 ? 256 : uint64_t(count));
    uint64_t code = 0;
    while (code < announced) {
      const int c = getc(stream);
      if (c == EOF) break;
      alpha->characters[code] = static_cast<unsigned char>(c);
      alpha->mapdomain[code] = static_cast<unsigned char>(c);
      alpha->symbolmap[c] = code;
      code++;
    }
    // A file shorter than its count defines only the codes it lists.
    alpha->mapsize = code;
    if (closefilehandle(stream) != 0) return -1;
  }
  alpha->domainsize = alpha->mapsize;
  *ret_fromsymbolmap = false;
  return 0;
}
