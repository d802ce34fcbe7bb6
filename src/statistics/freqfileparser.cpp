// The frequency file reader: lines of one character, white space and a number; comments and
// empty lines are skipped; values of a character given on several lines add up.
#include "statistics/freqfileparser.hpp"

#include <cstdlib>

#include "base/error.hpp"
#include "base/mapfile.hpp"
#include "base/output.hpp"
#include "base/tokenizer.hpp"

namespace {

// The sum may differ from 1 by the double-precision machine epsilon before it is reported.
constexpr double sumtolerance = 2.220446049250313e-16;

double *uniformfrequencies(const Alphabet *alpha) {
  printstatus("Assuming uniform character distribution.\n");
  const uint64_t size = alpha->mapsize;
  double *frequencies = allocorexit<double>(nullptr, size);
  for (uint64_t i = 0; i + 1 < size; i++) frequencies[i] = 1.0 / static_cast<double>(size - 1);
  if (size > 0) frequencies[size - 1] = 0.0;
  return frequencies;
}

// One line that is neither comment nor empty: its reason for failing, or null after the
// value has been added.
const char *readfrequencyline(TextCursor *cursor, const Alphabet *alpha, double *frequencies,
                              double *sum) {
  const unsigned char character = static_cast<unsigned char>(*cursor->pos++);
  if (atend(cursor)) return "unexpected end of file";
  if (!isblankchar(*cursor->pos)) return "expecting white space after token";
  skipblanks(cursor);
  double value;
  const char *reason = readfloattoken(cursor, &value);
  if (reason != nullptr) return reason;
  skipblanks(cursor);
  if (!atendofline(cursor)) return "extra characters after numeric value";

  const uint64_t code = alpha->symbolmap[character];
  const uint64_t wildcardentry = alpha->mapsize - 1;
  if (code == alpha->undefinedcode) {
    printwarning("character `%c' is %s in the input alphabet (line %lu).\n", character,
                 "undefined", static_cast<unsigned long>(cursor->line));
  } else if (code == WILDCARDCODE) {
    printwarning("character `%c' is %s in the input alphabet (line %lu).\n", character,
                 "defined as a wildcard", static_cast<unsigned long>(cursor->line));
    frequencies[wildcardentry] += value;
    *sum += value;
  } else if (code == SEPARATORCODE) {
    printwarning("character `%c' is %s in the input alphabet (line %lu).\n", character,
                 "defined as the special separator character",
                 static_cast<unsigned long>(cursor->line));
  } else if (code < alpha->mapsize) {
    frequencies[code] += value;
    *sum += value;
  }
  return nullptr;
}

}  // namespace

double *loadfrequencies(const char *filename, const Alphabet *alpha) {
  if (filename == nullptr) return uniformfrequencies(alpha);
  printstatus("Reading frequencies from `%s'.\n", filename);
  uint64_t length;
  const char *text = static_cast<const char *>(mapwholefile(filename, false, &length));
  if (text == nullptr) {
    reporterror("Failed to open file `%s'.", filename);
    return nullptr;
  }
  double *frequencies = allocorexit<double>(nullptr, alpha->mapsize);
  for (uint64_t i = 0; i < alpha->mapsize; i++) frequencies[i] = 0.0;
  double sum = 0.0;
  TextCursor cursor = {text, text + length, 1};
  while (true) {
    skipcommentlines(&cursor);
    if (atend(&cursor)) break;
    const char *reason = readfrequencyline(&cursor, alpha, frequencies, &sum);
    if (reason != nullptr) {
      reporterror("Parsing error in line %lu: %s.", static_cast<unsigned long>(cursor.line),
                  reason);
      std::free(frequencies);
      unmapfile(text);
      return nullptr;
    }
    skipline(&cursor);
  }
  if (warningsenabled() && (sum + sumtolerance < 1.0 || sum - sumtolerance > 1.0)) {
    printwarning("sum of relative frequencies is not 1.0 (calculated %f).\n", sum);
  }
  unmapfile(text);
  return frequencies;
}
