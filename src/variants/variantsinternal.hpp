// What the units of the variant scoring share: the motifs' weights laid out for scoring the
// few windows around a variant (both strands, every threshold), the filter that finds the
// motifs a variant's windows may reach the threshold of, and the exact best windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scan/scan.hpp"

// Letters as the scoring reads them: a c g t (u), either case, as 0 .. 3; every other byte
// (N, the other IUPAC codes, anything else) as 4, which no window may hold.
constexpr uint8_t VARIANT_OTHER = 4;
uint8_t variantcode(char letter);

// A cell that forbids its letter: far below any sum of real weights, so that a window
// holding it stays below every threshold and is not scored.
constexpr int64_t VARIANT_FORBIDDEN = INT64_MIN / 4;

// One searched matrix: a motif's, or (profile motif * 2 + 1) its reverse complementary one,
// which scores the - strand over the forward letters.
struct VariantProfile {
  uint32_t motif = 0;
  bool reverse = false;
  uint32_t length = 0;
  std::vector<int64_t> weights;  // length x 4 (a c g t), VARIANT_FORBIDDEN for forbidden cells
  int64_t threshold = 0;         // the strand's threshold of the p-value cutoff
  bool reachable = false;        // threshold <= the best score
  int64_t columnrange = 0;       // the largest difference of two weights of one column
  // needed[k]: the least score of the first k columns from which the threshold can still
  // be reached (threshold minus the best scores of columns k ..), k = 0 .. length.
  std::vector<int64_t> needed;
};

// The motifs' matrices and the filter over them. The filter lists for every q-mer (q
// letters, 2 bits each) the profiles whose first q columns score it high enough to still
// reach their threshold, with that score, longest profiles first; a profile shorter than q
// is listed where its whole window (the q-mer's first letters) reaches its threshold.
struct VariantMatrices {
  std::vector<VariantProfile> profiles;  // per motif: forward, then reverse when both strands
  uint32_t strands = 2;
  uint32_t longest = 0;
  unsigned q = 0;
  struct Entry {
    uint32_t profile;
    int32_t prefix;  // score of the first min(q, length) columns
  };
  std::vector<uint64_t> offsets;  // 4^q + 1: the entries of q-mer x are offsets[x] .. [x + 1]
  std::vector<Entry> entries;
  std::vector<uint32_t> bylength;  // reachable profiles, longest first (the slow path's list)
  // The reachable profiles as the filter reads them, in 32 bits: per column the weights of
  // a c g t and of any other letter (forbidden), then needed[column + 1].
  static constexpr unsigned cells = 6;
  // And the score of the columns after the q-mer, the next block letters at once (fewer
  // where the profile ends before), by the block's letters and then by profile: a window's
  // block is the same for every profile of a list, whose scores then lie close together.
  static constexpr unsigned block = 4;
  struct Layout {
    uint32_t first;   // of the profile's columns in cells
    uint32_t length;
    uint32_t motif;
    int32_t needed;   // needed after the block (profiles longer than q)
  };
  std::vector<Layout> layout;    // per profile
  std::vector<int32_t> columns;  // cells per column of every reachable profile
  std::vector<int32_t> blocks;   // 4^block x profiles
};
// The matrices of prepared motifs with the thresholds of pvalue on each strand (forward only
// when forwardonly). Memory: the matrices and at most some 100 MB of filter.
int variantmatrices_build(const ScanMotifs &motifs, double pvalue, bool forwardonly,
                          VariantMatrices *out);

// One allele's letters around the variant: codes (variantcode), and the changed letters
// changed .. changedend - 1 (none for the REF of an insertion and the ALT of a deletion:
// then the windows spanning changed - 1 and changed count).
struct AlleleText {
  const uint8_t *codes = nullptr;
  uint64_t length = 0;
  uint64_t changed = 0;
  uint64_t changedend = 0;
};

// The range of window starts that overlap an allele's variant, first .. last (none when
// first > last); a window of a profile must also fit: start + length <= text length, and
// reach the change: start + length > changed.
struct WindowRange {
  int64_t first = 0;
  int64_t last = -1;
};
WindowRange variantwindows(const AlleleText &text, uint32_t longest);

// What the filter keeps between calls: the motifs found for the variant at hand (passed,
// each once: marks[motif] == stamp), and the lists it is about to read.
struct VariantFilter {
  std::vector<uint32_t> marks;  // one per motif
  uint32_t stamp = 0;
  std::vector<uint32_t> passed;
  struct Job {
    int64_t start;   // of the windows
    int64_t twice;   // the column read with both letters, or -1
    uint64_t code;   // the q-mer's list, unless every profile is read
    bool all;
    uint8_t other;   // the other letter at twice
  };
  std::vector<Job> jobs;
};
// A new variant: nothing passed yet.
void variantfilter_begin(VariantFilter *filter, uint64_t motifs);
// Adds every motif with a window of either strand overlapping the allele's variant whose
// score reaches the strand's threshold.
void variantfilter(const VariantMatrices &matrices, const AlleleText &text, VariantFilter *filter);
// The same for both alleles of an SNV at once: ref's letter at changed replaced by alt (a
// code 0 .. 3) makes the alternative. A window's best allele scores its other letters plus
// the larger weight of the two at the variant.
void variantfiltersnv(const VariantMatrices &matrices, const AlleleText &ref, uint8_t alt,
                      VariantFilter *filter);

// The best window of one profile over the allele's windows: the highest score, the leftmost
// of equal ones; found false when no window can be scored.
struct ProfileBest {
  bool found = false;
  int64_t score = 0;
  uint64_t start = 0;  // in the text
};
ProfileBest variantbest(const VariantProfile &profile, const AlleleText &text);
