// The kinds every floor above shares: threshold kinds, search algorithms, output formats and
// the strand bits. A strand set is an OR of strand bits; a strand with bit 2 or 8 is read
// backwards, one with bit 4 or 8 is complementary.
#pragma once

#include <cstdint>

enum ThresholdKind : uint32_t {
  THRESHOLD_EVALUE = 0,
  THRESHOLD_PVALUE = 1,
  THRESHOLD_RAW = 2,
  THRESHOLD_MSS = 3,
  THRESHOLD_KBEST = 4
};
enum SearchAlgorithm : uint32_t { ALGORITHM_SIMPLE = 0, ALGORITHM_LOOKAHEAD = 1, ALGORITHM_ESA = 2 };
enum OutputFormat : uint32_t { FORMAT_NULL = 0, FORMAT_HUMAN = 1, FORMAT_TABS = 2, FORMAT_CISML = 3 };

constexpr unsigned char STRAND_FORWARD = 1;
constexpr unsigned char STRAND_REVERSE = 2;
constexpr unsigned char STRAND_COMPLEMENT = 4;
constexpr unsigned char STRAND_REVERSECOMPLEMENT = 8;
inline bool strandisreverse(unsigned char strand) { return (strand & (2 | 8)) != 0; }
inline bool strandiscomplement(unsigned char strand) { return (strand & (4 | 8)) != 0; }
