// The byte pass of the lookahead filter: every window of a block scored at once against a
// coarse copy of the matrix, one byte per cell, so that a vector unit scores many windows
// with one table lookup per row. A scalar version and versions for wider vector units,
// chosen at run time from what the processor offers, all give the same result.
#pragma once

#include <cstdint>

// Instruction sets of the byte pass, each including the ones before it.
enum FirstPassLevel : int {
  FIRSTPASS_SCALAR = 0,      // no byte pass: the table filter alone
  FIRSTPASS_AVX2 = 1,        // 32 windows at a time
  FIRSTPASS_AVX512 = 2,      // 64 windows at a time (AVX-512BW)
  FIRSTPASS_AVX512VBMI = 3,  // 64 windows, one byte permutation per row of a wide table
};
constexpr int FIRSTPASS_BEST = FIRSTPASS_AVX512VBMI;

// Codes that a table row covers: narrow rows (one 16-byte shuffle) for small alphabets such
// as DNA, wide rows (two shuffles, or one permutation) for protein-sized ones.
constexpr uint64_t BYTEPASS_CODES = 16;
constexpr uint64_t BYTEPASS_WIDECODES = 32;

// The best level this processor (and its operating system) supports.
int firstpass_supported();

// The level that searches use: the supported one unless capped by firstpass_cap.
int firstpass_level();

// Caps the level used by the searches that start afterwards (tests and benchmarks compare
// the levels with it); a cap above the supported level gives the supported level. Returns
// the level now in use. Not to be called while searches run.
int firstpass_cap(int level);

// Lists in survivors, in order, the windows 0 to windows - 1 whose byte score reaches bound.
// The byte score of window w is the sum, saturating at 255, over the rows j < m of
// tables[stride j + symbols[w + j]], stride being the row width (16 or 32 codes); a symbol
// of 253 or more (the wildcard, undefined and separator codes) counts 0. Every other symbol
// read lies below the stride. survivors has room for windows entries. Returns the number
// listed.
using BytePass = uint64_t (*)(const unsigned char *symbols, uint64_t windows,
                              const uint8_t *tables, uint64_t m, uint8_t bound,
                              uint32_t *survivors);

// The byte pass of a level for narrow or wide rows, null for FIRSTPASS_SCALAR.
BytePass bytepass_for(int level, bool wide = false);

// The q-gram pass of the lookahead batch: QGRAMPASS_LENGTH codes of two bits each form the
// index of a q-gram (the first code highest). Lists in hits, in order, the starts p (0 to
// count - 1) whose q-gram symbols[p .. p + QGRAMPASS_LENGTH - 1] holds only codes below
// regular (at most 4) and whose index has its bit set in present (bit i % 64 of word i / 64).
// hits has room for count entries. Returns the number listed.
constexpr uint64_t QGRAMPASS_LENGTH = 8;
using QgramPass = uint64_t (*)(const unsigned char *symbols, uint64_t count, uint64_t regular,
                               const uint64_t *present, uint32_t *hits);

// The q-gram pass of a level; the scalar one for FIRSTPASS_SCALAR.
QgramPass qgrampass_for(int level);

// The byte score of the window at symbols, with rows of stride codes.
inline unsigned bytescore(const unsigned char *symbols, const uint8_t *tables, uint64_t m,
                          uint64_t stride = BYTEPASS_CODES) {
  unsigned sum = 0;
  for (uint64_t j = 0; j < m; j++) {
    const unsigned char symbol = symbols[j];
    sum += symbol < stride ? tables[stride * j + symbol] : 0;
    if (sum > 255) sum = 255;
  }
  return sum;
}
