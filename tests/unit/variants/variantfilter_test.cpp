// The variant filter against brute force: for random motifs (shorter and longer than the
// filter's words), cutoffs and texts (N's, text ends, changes at every place), the motifs it
// finds are exactly those with a window of either strand that overlaps the change, fits, and
// scores at least the strand's threshold, on either allele of an SNV or on one allele of any
// change; and the best window is the highest-scoring, leftmost one of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "scan/scan.hpp"
#include "support/scratchfiles.hpp"
#include "variants/variantsinternal.hpp"

namespace {

// Random count motifs of the given lengths in a JASPAR file, prepared on a uniform background.
struct Motifs {
  ScanMotifs motifs;
  ~Motifs() { scan_freemotifs(&motifs); }
};

void makemotifs(const ScratchFolder &folder, const std::vector<int> &lengths, std::mt19937 *random,
                Motifs *out) {
  std::string text;
  for (size_t k = 0; k < lengths.size(); k++) {
    text += ">MT";
    text += std::to_string(k);
    text += " m";
    text += std::to_string(k);
    text += "\n";
    std::vector<std::vector<int>> counts(lengths[k], std::vector<int>(4));
    for (auto &row : counts) {
      for (int &count : row) count = static_cast<int>((*random)() % 25);
    }
    for (int letter = 0; letter < 4; letter++) {
      text.push_back("ACGT"[letter]);
      text += " [";
      for (const auto &row : counts) {
        text.push_back(' ');
        text += std::to_string(row[letter]);
      }
      text += " ]\n";
    }
  }
  ASSERT_EQ(scan_readmotifs({folder.write("motifs.jaspar", text)}, SCAN_FORMAT_JASPAR, &out->motifs),
            0);
  ScanSequences standin;
  ASSERT_EQ(scan_addsequence(&standin, "s", "a"), 0);
  ASSERT_EQ(scan_loadsequences(&standin, SCAN_ALPHABET_DNA), 0);
  ScanBackground uniform;
  uniform.kind = SCAN_BACKGROUND_UNIFORM;
  ASSERT_EQ(scan_preparemotifs(&out->motifs, standin, uniform, 1.0), 0) << scan_errormessage();
  scan_freesequences(&standin);
}

// A window's score, or false when it holds a letter that cannot be scored.
bool windowscore(const VariantProfile &profile, const std::vector<uint8_t> &codes, int64_t start,
                 int64_t *score) {
  *score = 0;
  for (uint32_t k = 0; k < profile.length; k++) {
    const uint8_t code = codes[start + k];
    if (code == VARIANT_OTHER || profile.weights[k * 4 + code] == VARIANT_FORBIDDEN) return false;
    *score += profile.weights[k * 4 + code];
  }
  return true;
}

// The windows of a profile that overlap the change [changed, end) (or span changed - 1 and
// changed when it is empty) and fit.
std::vector<int64_t> overlapping(const VariantProfile &profile, const AlleleText &text) {
  std::vector<int64_t> starts;
  const int64_t m = profile.length, changed = text.changed, end = text.changedend;
  for (int64_t start = 0; start + m <= static_cast<int64_t>(text.length); start++) {
    const bool overlaps = end > changed ? start < end && start + m > changed
                                        : start <= changed - 1 && start + m - 1 >= changed;
    if (overlaps) starts.push_back(start);
  }
  return starts;
}

std::set<uint32_t> bruteforce(const VariantMatrices &matrices, const std::vector<uint8_t> &codes,
                              const AlleleText &text) {
  std::set<uint32_t> found;
  for (const VariantProfile &profile : matrices.profiles) {
    if (!profile.reachable) continue;
    for (const int64_t start : overlapping(profile, text)) {
      int64_t score = 0;
      if (windowscore(profile, codes, start, &score) && score >= profile.threshold) {
        found.insert(profile.motif);
      }
    }
  }
  return found;
}

std::vector<uint8_t> randomcodes(std::mt19937 *random, size_t length, double other) {
  std::vector<uint8_t> codes(length);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (uint8_t &code : codes) code = unit(*random) < other ? VARIANT_OTHER : (*random)() % 4;
  return codes;
}

TEST(VariantFilter, finds_exactly_the_motifs_brute_force_finds) {
  ScratchFolder folder;
  std::mt19937 random(34);
  Motifs motifs;
  // Lengths around the filter's word (8) and its next block (4 more), and beyond.
  makemotifs(folder, {3, 5, 7, 8, 9, 11, 12, 13, 16, 21}, &random, &motifs);
  int snvpasses = 0, changepasses = 0;
  for (const double pvalue : {0.05, 1e-2, 1e-3}) {
    SCOPED_TRACE("p-value " + std::to_string(pvalue));
    VariantMatrices matrices;
    ASSERT_EQ(variantmatrices_build(motifs.motifs, pvalue, false, &matrices), 0);
    ASSERT_EQ(matrices.q, 8u);
    VariantFilter filter;
    for (int round = 0; round < 300; round++) {
      // Texts shorter than a motif, than the word, and long ones; a few with N's.
      const size_t length = round % 10 == 0 ? 6 + round % 7 : 30 + random() % 30;
      std::vector<uint8_t> codes = randomcodes(&random, length, round % 3 == 0 ? 0.05 : 0.0);
      AlleleText text{codes.data(), length, 0, 0};
      // An SNV at every place, both alleles at once.
      for (uint64_t place = 0; place < length; place++) {
        SCOPED_TRACE("round " + std::to_string(round) + ", SNV at " + std::to_string(place));
        const uint8_t alt = static_cast<uint8_t>(random() % 4);
        text.changed = place;
        text.changedend = place + 1;
        std::set<uint32_t> want = bruteforce(matrices, codes, text);
        std::vector<uint8_t> altcodes = codes;
        altcodes[place] = alt;
        const AlleleText alttext{altcodes.data(), length, place, place + 1};
        for (const uint32_t motif : bruteforce(matrices, altcodes, alttext)) want.insert(motif);
        variantfilter_begin(&filter, motifs.motifs.motifs.size());
        variantfiltersnv(matrices, text, alt, &filter);
        const std::set<uint32_t> got(filter.passed.begin(), filter.passed.end());
        ASSERT_EQ(got.size(), filter.passed.size()) << "a motif found twice";
        ASSERT_EQ(got, want);
        snvpasses += !want.empty();
      }
      // Changes of every size, empty ones (the place of an insertion) among them.
      for (int change = 0; change < 8; change++) {
        const uint64_t changed = random() % (length + 1);
        const uint64_t end = std::min<uint64_t>(length, changed + random() % 4);
        text.changed = changed;
        text.changedend = end;
        SCOPED_TRACE("change " + std::to_string(changed) + " .. " + std::to_string(end));
        variantfilter_begin(&filter, motifs.motifs.motifs.size());
        variantfilter(matrices, text, &filter);
        const std::set<uint32_t> want = bruteforce(matrices, codes, text);
        ASSERT_EQ(std::set<uint32_t>(filter.passed.begin(), filter.passed.end()), want);
        changepasses += !want.empty();
        // The best window of every profile: the highest score, the leftmost of equal ones.
        for (const VariantProfile &profile : matrices.profiles) {
          ProfileBest want{};
          for (const int64_t start : overlapping(profile, text)) {
            int64_t score = 0;
            if (windowscore(profile, codes, start, &score) && (!want.found || score > want.score)) {
              want = {true, score, static_cast<uint64_t>(start)};
            }
          }
          const ProfileBest got = variantbest(profile, text);
          ASSERT_EQ(got.found, want.found);
          if (want.found) {
            ASSERT_EQ(got.score, want.score);
            ASSERT_EQ(got.start, want.start);
          }
        }
      }
    }
  }
  // The cutoffs let many variants pass, and many not.
  EXPECT_GT(snvpasses, 2000);
  EXPECT_GT(changepasses, 1000);
}

}  // namespace
