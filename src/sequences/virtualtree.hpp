// The opened database: a sequence file's or an index's Alphabet and Multiseq, and for an
// index the mapped suffix array tables.
#pragma once

#include <cstdint>

#include "sequences/alphabet.hpp"
#include "sequences/multiseq.hpp"

// Demand flags for the index tables.
constexpr uint32_t TISTAB = 1;
constexpr uint32_t OISTAB = 2;
constexpr uint32_t DESTAB = 4;
constexpr uint32_t SSPTAB = 8;
constexpr uint32_t SUFTAB = 0x20;
constexpr uint32_t LCPTAB = 0x40;
constexpr uint32_t SKPTAB = 0x200;

struct LargeLcpValue {
  uint64_t position;
  uint64_t value;
};

struct Virtualtree {
  const uint64_t *suftab;
  const uint64_t *skptab;
  const unsigned char *lcptab;
  uint64_t longest;
  bool longestdefined;
  Alphabet alpha;
  Multiseq multiseq;
  const LargeLcpValue *llvtab;
  uint64_t largelcpvalues;
  bool alphafromsymbolmap;
  bool specialindexiszero;
  int64_t specialindex;
  uint64_t maxbranchdepth;
  uint32_t mappedtables;
  uint64_t prefixlength;
  // Sequence files only: the file's name and the buffer that became the coded sequence.
  const char *filename;
  unsigned char *filebuffer;
};
