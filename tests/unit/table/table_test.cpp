// Report lines to tables: field checks, tabs inside fields, matched text orientation,
// region words and chromosome coordinates, BED scores.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/error.hpp"
#include "table/genomic.hpp"
#include "table/tablewriters.hpp"
#include "table/tabsrecord.hpp"

namespace {

// A report line of 18 fields; replacements change single fields by index.
std::string reportline(std::vector<std::pair<size_t, std::string>> replacements = {}) {
  std::vector<std::string> fields = {
      "Arnt", "MA0004.1", "JASPAR MA0004.1", "0", "1", "60", "6", "fn", "3.435000e+03",
      "7.829000e+03", "-1.8e+04", "7.8e+03", "2.441406e-04", "2.448730e-01", "1.000000e+00",
      "3", "loose no region here. ", "cacgtg"};
  for (const auto &[index, text] : replacements) fields[index] = text;
  std::string line;
  for (size_t i = 0; i < fields.size(); i++) line += (i ? "\t" : "") + fields[i];
  return line;
}

TEST(TabsLine, RefusesMalformedLinesNamingTheLine) {
  const char *ambiguous =
      "line 7: the fields cannot be told apart: a tab inside the identifier, the accession or "
      "a description";
  const struct {
    std::string line;
    const char *message;
  } cases[] = {
      {"", "line 7: 1 tab-separated fields, expected 18"},
      {reportline().substr(0, reportline().rfind('\t')),
       "line 7: 17 tab-separated fields, expected 18"},
      {reportline({{3, "x"}}), "line 7: group ID `x' is not a non-negative integer"},
      {reportline({{5, "-1"}}), "line 7: position `-1' is not a non-negative integer"},
      {reportline({{5, "18446744073709551616"}}),
       "line 7: position `18446744073709551616' is not a non-negative integer"},
      {reportline({{6, "0"}}), "line 7: length `0' is not a positive integer"},
      {reportline({{7, "+"}}), "line 7: strand `+' is not one of fn, fc, rn, rc"},
      {reportline({{9, "12ab"}}), "line 7: score `12ab' is not a number"},
      {reportline({{13, ""}}),
       "line 7: p-value and E-value must both be given or both be empty"},
      {reportline({{12, "p"}}), "line 7: p-value `p' is not a number"},
      {reportline({{14, ""}}), "line 7: MSS `' is not a number"},
      {reportline({{15, "3.5"}}), "line 7: sequence number `3.5' is not a non-negative integer"},
      {reportline({{17, "cacgt"}}),
       "line 7: matched sequence of 5 characters for a match of length 6"},
      // A tab in the matched text is taken for one in the sequence description.
      {reportline({{17, "cacgtg\tx"}}),
       "line 7: matched sequence of 1 characters for a match of length 6"},
      // No share of the extra field between the descriptions makes the numbers read.
      {reportline({{4, "y\tz"}}), "line 7: position in group `y' is not a non-negative integer"},
      // Tabs in front of the numbers: the identifier, the accession and the matrix
      // description cannot be told apart, nor can two places where the numbers read.
      {reportline({{0, "Ar\tnt"}}), ambiguous},
      {reportline({{1, "MA0004\t1"}}), ambiguous},
      {reportline({{2, "a\tb"}}), ambiguous},
      {reportline({{2, "a\t\tb"}, {16, "x\ty. "}}), ambiguous},
      {reportline({{16, "s\t0\t1\t60\t6\tfn\t1\t1\t1\t1\t\t\t1\t3\tt. "}}), ambiguous},
  };
  for (const auto &c : cases) {
    TabsRecord record;
    EXPECT_EQ(parsetabsline(c.line, 7, &record), -1) << c.line;
    EXPECT_STREQ(errormessagespace(), c.message) << c.line;
  }
  clearerrorcode();
}

TEST(TabsLine, TabsInsideTheSequenceDescriptionStayInIt) {
  const struct {
    std::string line;
    std::string description, sequencedescription;
  } cases[] = {
      {reportline(), "JASPAR MA0004.1", "loose no region here. "},
      {reportline({{16, "s1\tchrT:1-9. "}}), "JASPAR MA0004.1", "s1\tchrT:1-9. "},
      {reportline({{16, "x\t\ty. "}}), "JASPAR MA0004.1", "x\t\ty. "},
      {reportline({{2, ""}, {16, ""}, {12, ""}, {13, ""}}), "", ""},
  };
  for (const auto &c : cases) {
    TabsRecord record;
    ASSERT_EQ(parsetabsline(c.line, 1, &record), 0) << errormessagespace();
    EXPECT_EQ(record.description, c.description);
    EXPECT_EQ(record.sequencedescription, c.sequencedescription);
    EXPECT_EQ(record.identifier, "Arnt");
    EXPECT_EQ(record.position, 60u);
    EXPECT_EQ(record.sequencenumber, 3u);
    EXPECT_EQ(record.matchedtext, "cacgtg");
  }
}

TEST(TabsLine, SequenceNameIsTheFirstHeaderWord) {
  const struct {
    const char *description, *name;
  } cases[] = {{"seq1. ", "seq1"},       {"chr2L:1-9 more. ", "chr2L:1-9"},
               {"a. b. ", "a."},          {". ", ""},
               {"", ""},                  {"  lead. ", "lead"},
               {"no line end", "no"}};
  for (const auto &c : cases) EXPECT_EQ(sequencename(c.description), c.name) << c.description;
}

TEST(TabsLine, MatchedTextReadsInTheMatrixDirection) {
  // zelkosearch prints database order, complemented on complementary strands unless -ncompl.
  const struct {
    const char *strand, *printed;
    bool databasetext;
    const char *expected;
  } cases[] = {
      {"fn", "aacgtn", false, "AACGTN"}, {"fc", "ttgcan", false, "TTGCAN"},
      {"rn", "aacgtn", false, "NTGCAA"}, {"rc", "ttgcan", false, "NACGTT"},
      {"fn", "aacgtn", true, "AACGTN"},  {"fc", "aacgtn", true, "TTGCAN"},
      {"rn", "aacgtn", true, "NTGCAA"},  {"rc", "aacgtn", true, "NACGTT"},
      {"rc", "ryKMbdhvsw", true, "WSBDHVKMRY"}, {"rn", "LIVE", false, "EVIL"},
  };
  for (const auto &c : cases) {
    TabsRecord record;
    record.strand = c.strand;
    record.matchedtext = c.printed;
    std::string text;
    orientedtext(record, c.databasetext, &text);
    EXPECT_EQ(text, c.expected) << c.strand << " " << c.printed;
  }
}

TEST(Genomic, RegionWordsAndTheStrandTheSequenceWasCutFrom) {
  const struct {
    const char *description;
    bool found;
    const char *chromosome;
    uint64_t start, end;
    bool reverse;
  } cases[] = {
      {"NM_1_up_2000_chr2L_521466_f chr2L:521466-523465. ", true, "chr2L", 521466, 523465, false},
      {"NM_2_up_2000_chr2L_2109879_r chr2L:2109879-2111878. ", true, "chr2L", 2109879, 2111878,
       true},
      // "_r" names another region's start: not taken for a reverse cut.
      {"NM_2_up_2000_chr2L_2109870_r chr2L:2109879-2111878. ", true, "chr2L", 2109879, 2111878,
       false},
      {"NM_2_up_2000_xchr2L_2109879_r chr2L:2109879-2111878. ", true, "chr2L", 2109879, 2111878,
       false},
      {"hg_ENST1 range=chr1:11869-14409 5'pad=0 strand=- repeatMasking=none. ", true, "chr1",
       11869, 14409, true},
      {"x range=chr1:5-9 strand=+. ", true, "chr1", 5, 9, false},
      {"chrUn:gl1:10-20. ", true, "chrUn:gl1", 10, 20, false},
      {"a chrX:1-5. more text. ", true, "chrX", 1, 5, false},
      {"a chrX:0-5. ", false, "", 0, 0, false},
      {"a chrX:6-5. ", false, "", 0, 0, false},
      {"a chrX:1-5x. ", false, "", 0, 0, false},
      {"a :1-5. ", false, "", 0, 0, false},
      {"seq1. ", false, "", 0, 0, false},
  };
  for (const auto &c : cases) {
    GenomicRegion region;
    ASSERT_EQ(findregion(c.description, &region), c.found) << c.description;
    if (!c.found) continue;
    EXPECT_EQ(region.chromosome, c.chromosome) << c.description;
    EXPECT_EQ(region.start, c.start) << c.description;
    EXPECT_EQ(region.end, c.end) << c.description;
    EXPECT_EQ(region.reverse, c.reverse) << c.description;
  }
}

TEST(Genomic, CoordinatesCountFromTheRegionStartOrItsEnd) {
  const struct {
    bool reverse;
    uint64_t position, length;
    bool inside;
    uint64_t start, stop;
  } cases[] = {
      {false, 0, 6, true, 101, 106},  {false, 294, 6, true, 395, 400},
      {false, 295, 6, false, 0, 0},   {true, 0, 6, true, 395, 400},
      {true, 294, 6, true, 101, 106}, {true, 300, 1, false, 0, 0},
  };
  GenomicRegion region;
  region.chromosome = "chrT";
  region.start = 101;
  region.end = 400;
  for (const auto &c : cases) {
    region.reverse = c.reverse;
    uint64_t start = 0, stop = 0;
    ASSERT_EQ(genomiccoordinates(region, c.position, c.length, &start, &stop), c.inside);
    if (!c.inside) continue;
    EXPECT_EQ(start, c.start);
    EXPECT_EQ(stop, c.stop);
  }
  const char *turns[][2] = {{"fn", "rc"}, {"rc", "fn"}, {"fc", "rn"}, {"rn", "fc"}};
  for (const auto &turn : turns) EXPECT_EQ(turnedstrand(turn[0]), turn[1]);
}

TEST(BedScore, TenTimesMinusLog10RoundedAndCapped) {
  const struct {
    double pvalue;
    uint64_t score;
  } cases[] = {{1e-6, 60}, {2.441406e-04, 36}, {0.5, 3}, {1.0, 0},
               {1e-100, 1000}, {1e-99, 990}, {0.0, 1000}, {1e-320, 1000}};
  for (const auto &c : cases) EXPECT_EQ(bedscore(c.pvalue), c.score) << c.pvalue;
}

}  // namespace
