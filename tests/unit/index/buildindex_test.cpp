// The index builder: every table of indexes of random databases against the sequence reader
// and a construction by definition, read back through the index reader; and what a failed
// build leaves behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/output.hpp"
#include "index/buildindex.hpp"
#include "sequences/multiseq.hpp"
#include "sequences/readvirt.hpp"
#include "support/enginefixtures.hpp"
#include "support/scratchfiles.hpp"

namespace {

struct BuildCase {
  const char *name;
  bool protein;
  const char *smap;  // symbol map text, or null for the built-in alphabet
  int sequences;
  uint64_t length;      // of each sequence, roughly
  double wildcardshare;
  bool repeat;  // the last sequence repeats the first: lcp values beyond 255
  bool wide;
};

std::string randomfasta(const BuildCase &c, std::mt19937_64 &random) {
  const std::string letters = c.protein ? "LVIFKREDAGSTNQYWPHMC" : "acgtACGTu";
  const std::string wildcards = c.protein ? "XBZ" : "nNsy";
  std::vector<std::string> bodies;
  for (int s = 0; s < c.sequences; s++) {
    std::string body;
    const uint64_t length = 1 + random() % c.length;
    for (uint64_t p = 0; p < length; p++) {
      const bool wildcard = std::uniform_real_distribution<double>(0, 1)(random) < c.wildcardshare;
      body += wildcard ? wildcards[random() % wildcards.size()] : letters[random() % letters.size()];
    }
    bodies.push_back(body);
  }
  if (c.repeat && c.sequences > 1) bodies.back() = bodies.front();
  std::string text;
  for (int s = 0; s < c.sequences; s++) {
    text += ">seq" + std::to_string(s) + " description " + std::to_string(s) + "\n";
    for (size_t p = 0; p < bodies[s].size(); p += 60) text += bodies[s].substr(p, 60) + "\n";
  }
  return text;
}

template <typename T>
std::vector<T> tableof(const T *table, uint64_t count) {
  return table == nullptr ? std::vector<T>() : std::vector<T>(table, table + count);
}

constexpr uint32_t alltables = TISTAB | OISTAB | DESTAB | SSPTAB | SUFTAB | LCPTAB | SKPTAB;

}  // namespace

TEST(BuildIndex, every_table_matches_its_definition) {
  const BuildCase cases[] = {
      {"dna one sequence", false, nullptr, 1, 3000, 0.02, false, false},
      {"dna several with repeat", false, nullptr, 5, 900, 0.05, true, false},
      {"dna wide sorter", false, nullptr, 4, 700, 0.05, true, true},
      {"protein several", true, nullptr, 6, 400, 0.03, false, false},
      {"symbol map", false, "# two classes\naAcC x\ngGtTuU\nnNsy\n", 3, 500, 0.05, true, false},
      {"only wildcards and short", false, nullptr, 3, 3, 0.9, false, false},
  };
  outputinit(false, true);
  std::mt19937_64 random(7);
  for (const BuildCase &c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder scratch;
    const std::string fasta = scratch.write("db.fa", randomfasta(c, random));
    Alphabet alpha{};
    if (c.smap != nullptr) {
      ASSERT_EQ(loadsymbolmapfile(&alpha, scratch.write("map.smap", c.smap).c_str()), 0);
    } else if (c.protein) {
      proteinalphabet(&alpha);
    } else {
      dnaalphabet(&alpha);
    }
    const std::string indexname = scratch.path("idx");
    IndexBuildOptions options{};
    options.wideindex = c.wide;
    ASSERT_EQ(buildindex(fasta.c_str(), &alpha, indexname.c_str(), &options), 0) << errortext();

    Multiseq expected;
    initmultiseq(&expected);
    ASSERT_EQ(readsequencefile(&expected, fasta.c_str(), &alpha, true), 0);
    Virtualtree tree;
    ASSERT_EQ(openvirtualtree(&tree, indexname.c_str(), alltables), 0) << errortext();
    const Multiseq &ms = tree.multiseq;
    const uint64_t n = expected.totallength;

    // Alphabet read back from N.al1.
    EXPECT_TRUE(tree.alphafromsymbolmap);
    EXPECT_EQ(tree.alpha.mapsize, alpha.mapsize);
    EXPECT_EQ(tree.alpha.domainsize, alpha.domainsize);
    EXPECT_EQ(tree.alpha.mappedwildcards, alpha.mappedwildcards);
    EXPECT_EQ(tableof(tree.alpha.symbolmap, 256), tableof(alpha.symbolmap, 256));
    EXPECT_EQ(tableof(tree.alpha.mapdomain, alpha.domainsize), tableof(alpha.mapdomain, alpha.domainsize));
    EXPECT_EQ(tableof(tree.alpha.characters, alpha.mapsize), tableof(alpha.characters, alpha.mapsize));
    EXPECT_EQ(tree.alpha.characters[WILDCARDCODE], alpha.characters[WILDCARDCODE]);

    // Sequence tables and counts as the sequence reader gives them.
    EXPECT_EQ(ms.totallength, n);
    EXPECT_EQ(ms.numofsequences, expected.numofsequences);
    EXPECT_EQ(ms.numofdbsequences, expected.numofsequences);
    EXPECT_EQ(ms.specialcharacters, expected.specialcharacters);
    EXPECT_EQ(ms.specialranges, expected.specialranges);
    EXPECT_EQ(ms.lengthofspecialprefix, expected.lengthofspecialprefix);
    EXPECT_EQ(ms.lengthofspecialsuffix, expected.lengthofspecialsuffix);
    EXPECT_EQ(tableof(ms.sequence, n), tableof(expected.sequence, n));
    EXPECT_EQ(tableof(ms.plainsequence, n), tableof(expected.plainsequence, n));
    EXPECT_EQ(tableof(ms.separatorpositions, ms.numofsequences - 1),
              tableof(expected.separatorpositions, expected.numofsequences - 1));
    EXPECT_EQ(tableof(ms.desctext, ms.desctextlength),
              tableof(expected.desctext, expected.desctextlength));
    EXPECT_EQ(tableof(ms.descoffsets, ms.numofsequences + 1),
              tableof(expected.descoffsets, expected.numofsequences + 1));
    ASSERT_EQ(ms.numoffiles, 1u);
    EXPECT_EQ(std::string(ms.fileinfo[0].filename), fasta);
    EXPECT_EQ(ms.fileinfo[0].filelength, std::filesystem::file_size(fasta));
    EXPECT_EQ(ms.fileinfo[0].endposition, n);

    // Suffix array, lcp, large lcp and skip tables by definition.
    const enginetest::NaiveIndex naive(tableof(expected.sequence, n));
    EXPECT_EQ(tableof(tree.suftab, n + 1), naive.suf);
    EXPECT_EQ(tableof(tree.lcptab, n + 1), naive.lcp);
    ASSERT_EQ(tree.largelcpvalues, naive.llv.size());
    for (uint64_t i = 0; i < naive.llv.size(); i++) {
      EXPECT_EQ(tree.llvtab[i].position, naive.llv[i].position);
      EXPECT_EQ(tree.llvtab[i].value, naive.llv[i].value);
    }
    if (c.repeat) {
      EXPECT_GT(naive.llv.size(), 0u);
    }
    LargeLcpCursor cursor{};
    for (uint64_t r = 0; r <= n; r++) {
      if (lcpvalue(&tree, r, &cursor) != naive.lcpvalues[r]) {
        ADD_FAILURE() << "lcp of rank " << r;
        break;
      }
    }
    EXPECT_EQ(tableof(tree.skptab, n + 1), naive.skp);
    EXPECT_TRUE(tree.longestdefined);
    EXPECT_EQ(naive.suf[tree.longest], 0u);
    EXPECT_EQ(tree.maxbranchdepth, *std::max_element(naive.lcpvalues.begin(), naive.lcpvalues.end()));
    EXPECT_EQ(static_cast<uint64_t>(tree.specialindex), n - expected.specialcharacters);

    EXPECT_EQ(closevirtualtree(&tree), 0);
    freemultiseq(&expected);
  }
  outputinit(true, true);
}

TEST(BuildIndex, failed_build_leaves_no_index) {
  outputinit(false, true);
  ScratchFolder scratch;
  Alphabet dna{};
  dnaalphabet(&dna);
  const IndexBuildOptions options{};
  const std::string index = scratch.path("idx");
  auto names = [&] {
    std::vector<std::string> found;
    for (const auto &entry : std::filesystem::directory_iterator(scratch.path())) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  };

  const std::string bad = scratch.write("bad.fa", ">x\nacgtXacgt\n");
  EXPECT_EQ(buildindex(bad.c_str(), &dna, index.c_str(), &options), -1);
  EXPECT_EQ(errortext(), "Illegal character 'X' in file \"" + bad + "\" line 2");
  EXPECT_EQ(names(), std::vector<std::string>{"bad.fa"});

  const std::string blank = scratch.write("with blank.fa", ">x\nacgt\n");
  EXPECT_EQ(buildindex(blank.c_str(), &dna, index.c_str(), &options), -1);
  EXPECT_EQ(names(), (std::vector<std::string>{"bad.fa", "with blank.fa"}));

  // A new build replaces an index of the same name.
  const std::string first = scratch.write("first.fa", ">a\nacgtacgt\n>b\nccc\n");
  const std::string second = scratch.write("second.fa", ">c\nttttgggg\n");
  ASSERT_EQ(buildindex(first.c_str(), &dna, index.c_str(), &options), 0);
  ASSERT_EQ(buildindex(second.c_str(), &dna, index.c_str(), &options), 0);
  Virtualtree tree;
  ASSERT_EQ(openvirtualtree(&tree, index.c_str(), TISTAB | DESTAB | SUFTAB), 0) << errortext();
  EXPECT_EQ(tree.multiseq.numofsequences, 1u);
  EXPECT_EQ(tree.multiseq.totallength, 8u);
  EXPECT_EQ(closevirtualtree(&tree), 0);
  for (const std::string &name : names()) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
  outputinit(true, true);
}
