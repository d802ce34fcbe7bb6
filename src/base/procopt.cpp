// The option processor: declaring options, recognising command-line words, exclusions and
// the help screen. Failures leave their text in the ErrorBuffer; the program sets the code.
#include "base/procopt.hpp"

#include <cstdlib>
#include <cstring>

#include "base/error.hpp"

void initoptiontable(OptionEntry *table, uint64_t count) {
  for (uint64_t i = 0; i < count; i++) table[i].declared = 0;
}

int declareoption(OptionEntry *table, uint64_t count, uint64_t number, const char *name,
                  const char *help) {
  if (number >= count) {
    reporttext("option number %ld out of range [0,%lu]", static_cast<long>(number),
               static_cast<unsigned long>(count - 1));
    return -1;
  }
  if (number > 0 && table[number].declared) {
    reporttext("option %lu already declared", static_cast<unsigned long>(number));
    return -2;
  }
  table[number].name = name;
  table[number].help = help;
  table[number].number = number;
  table[number].present = 0;
  table[number].declared = 1;
  // The highest number comes last, so the table must be complete once it is declared.
  if (number == count - 1) {
    for (uint64_t i = 0; i < count; i++) {
      if (!table[i].declared) {
        reporttext("option %lu not declared", static_cast<unsigned long>(i));
        return -3;
      }
    }
  }
  return 0;
}

int declareoptions(OptionEntry *table, const OptionDeclaration *declarations, uint64_t count) {
  initoptiontable(table, count);
  for (uint64_t i = 0; i < count; i++) {
    const int result = declareoption(table, count, i, declarations[i].name, declarations[i].help);
    if (result != 0) return result;
  }
  return 0;
}

int64_t findoption(OptionEntry *table, uint64_t count, const char *word) {
  for (uint64_t i = 0; i < count; i++) {
    if (std::strcmp(table[i].name, word) == 0) {
      if (table[i].present) {
        reporttext("option \"%s\" already set", word);
        return -1;
      }
      table[i].present = 1;
      return static_cast<int64_t>(table[i].number);
    }
  }
  reporttext("illegal option \"%s\"", word);
  return -2;
}

int checkexclusions(const OptionEntry *table, const int32_t *exclusionlist, uint64_t length) {
  uint64_t i = 0;
  while (i < length) {
    const int32_t leading = exclusionlist[i++];
    if (!table[leading].present) {
      // Skip the whole group, whatever its other options are.
      while (i < length && exclusionlist[i] != -1) i++;
      i++;
      continue;
    }
    for (; i < length && exclusionlist[i] != -1; i++) {
      const int32_t excluded = exclusionlist[i];
      if (table[excluded].present) {
        reporttext("option %s and option %s exclude each other", table[leading].name,
                   table[excluded].name);
        return -1;
      }
    }
    i++;
  }
  return 0;
}

void printoptionhelp(FILE *out, const char *program, const OptionEntry *table, uint64_t count) {
  if (out == nullptr) out = stdout;
  size_t longest = 0;
  for (uint64_t i = 0; i < count; i++) {
    const size_t length = std::strlen(table[i].name);
    if (length > longest) longest = length;
  }
  const int width = static_cast<int>(longest + 2);
  for (uint64_t i = 0; i < count; i++) {
    if (table[i].number != i) {
      std::fprintf(stderr, "%s: optvalue %lu for option \"%s\" must be %lu\n", program,
                   static_cast<unsigned long>(table[i].number), table[i].name,
                   static_cast<unsigned long>(i));
      std::exit(EXIT_FAILURE);
    }
    std::fprintf(out, "%-*s", width, table[i].name);
    for (const char *c = table[i].help; *c != '\0'; c++) {
      if (*c == '\n') {
        std::fprintf(out, "\n%-*s", width, "");
      } else {
        std::fputc(*c, out);
      }
    }
    std::fputc('\n', out);
  }
}
