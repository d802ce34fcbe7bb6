// The option processor: a table of declared options with which a program recognises the
// words of its command line, enforces which options exclude each other and prints its help.
// It knows nothing of option values; the program takes and checks them itself.
//
// Contents: OptionEntry; compile-time declaration tables (OptionDeclaration, optionindex,
// makeexclusionlist); initoptiontable, declareoption, declareoptions; findoption;
// checkexclusions; printoptionhelp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

// One option of a table. The strings are not copied: they must outlive the table.
struct OptionEntry {
  const char *name;  // the option word with its leading '-'
  const char *help;  // may contain line breaks
  uint64_t number;   // equal to the entry's index
  unsigned char present;
  unsigned char declared;
};

// A program's options as a compile-time table, declared in index order.
struct OptionDeclaration {
  const char *name;
  const char *help;
};

// Index of an option name in a declaration table. In a constant expression (a case label, a
// constexpr variable) a name that is not in the table does not compile; elsewhere it does not
// link, since optionnamenotdeclared has no definition.
void optionnamenotdeclared();
template <size_t N>
constexpr uint64_t optionindex(const std::array<OptionDeclaration, N> &declarations,
                               std::string_view name) {
  for (size_t i = 0; i < N; i++) {
    if (std::string_view(declarations[i].name) == name) return i;
  }
  optionnamenotdeclared();
  return N;
}

// Pairs of option names that exclude each other.
struct ExclusionPair {
  const char *first;
  const char *second;
};

// The exclusionlist of a program at compile time: one group (leading option, excluded option,
// end mark -1) per pair, in pair order.
template <size_t N, size_t P>
constexpr std::array<int32_t, 3 * P> makeexclusionlist(
    const std::array<OptionDeclaration, N> &declarations,
    const std::array<ExclusionPair, P> &pairs) {
  std::array<int32_t, 3 * P> list{};
  for (size_t i = 0; i < P; i++) {
    list[3 * i] = static_cast<int32_t>(optionindex(declarations, pairs[i].first));
    list[3 * i + 1] = static_cast<int32_t>(optionindex(declarations, pairs[i].second));
    list[3 * i + 2] = -1;
  }
  return list;
}

// Marks every one of the count entries as not declared. Call before the first declaration.
void initoptiontable(OptionEntry *table, uint64_t count);

// Declares option number with its name and help text; returns 0, or with a message in the
// ErrorBuffer (text only):
//   -1 "option number %ld out of range [0,%lu]" (number >= count),
//   -2 "option %lu already declared" (a number other than 0 declared again),
//   -3 "option %lu not declared" after the last number (count - 1) when an earlier one is missing.
int declareoption(OptionEntry *table, uint64_t count, uint64_t number, const char *name,
                  const char *help);

// Initialises the table and declares the count declarations in order, stopping at the first
// failure (its result and message are passed on).
int declareoptions(OptionEntry *table, const OptionDeclaration *declarations, uint64_t count);

// The number of the option whose name equals word exactly, which is then marked present; or
// -1 "option \"%s\" already set" when it was present before, -2 "illegal option \"%s\"" when
// no option has that name (messages text only).
int64_t findoption(OptionEntry *table, uint64_t count, const char *word);

// Walks the exclusionlist (groups: leading option, excluded options, -1); for each group whose
// leading option is present, the first excluded option also present fails with "option %s and
// option %s exclude each other" (text only), result -1. Returns 0 otherwise.
int checkexclusions(const OptionEntry *table, const int32_t *exclusionlist, uint64_t length);

// Prints every option (name left-aligned in a field two wider than the longest name, then its
// help text with continuation lines aligned) on out, or standard output when out is null.
// An entry whose number differs from its index prints "%s: optvalue %lu for option \"%s\" must
// be %lu" on standard error and ends the process with status 1.
void printoptionhelp(FILE *out, const char *program, const OptionEntry *table, uint64_t count);
