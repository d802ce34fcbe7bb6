// Opening an index: every check of the project file and of the table lengths on hand-made
// damage to a real index, the tables demanded, and the large lcp lookup.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>

#include "base/error.hpp"
#include "base/output.hpp"
#include "index/buildindex.hpp"
#include "sequences/readvirt.hpp"
#include "support/scratchfiles.hpp"

namespace {

std::string readfile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A scratch folder with the index "idx" of two DNA sequences (12 symbols and a separator).
struct SmallIndex {
  ScratchFolder scratch;
  std::string name = scratch.path("idx");
  SmallIndex(const char *fasta = ">one\nacgtacgt\n>two\nacgt\n") {
    outputinit(false, true);
    Alphabet dna{};
    dnaalphabet(&dna);
    const IndexBuildOptions options{};
    const std::string db = scratch.write("db.fa", fasta);
    EXPECT_EQ(buildindex(db.c_str(), &dna, name.c_str(), &options), 0) << errortext();
    outputinit(true, true);
  }
  std::string file(const char *suffix) const { return name + "." + suffix; }
  // Replaces the project file's line "key=..." (or removes it for an empty replacement).
  void editproject(const std::string &key, const std::string &replacement) {
    std::string text = readfile(file("prj"));
    text = std::regex_replace(text, std::regex("(^|\n)" + key + "=[^\n]*\n"),
                              replacement.empty() ? "$1" : "$1" + replacement + "\n");
    scratch.write("idx.prj", text);
  }
};

}  // namespace

TEST(ReadVirt, damaged_indexes_fail_with_their_message) {
  struct Damage {
    const char *what;
    std::function<void(SmallIndex &)> damage;
    int result;
    std::string message;  // "@" stands for the index name
  };
  const Damage cases[] = {
      {"no prefixlength", [](SmallIndex &x) { x.editproject("prefixlength", ""); }, -2,
       "@.prj does not contain line defining prefixlength"},
      {"no totallength", [](SmallIndex &x) { x.editproject("totallength", ""); }, -2,
       "@.prj does not contain line defining totallength"},
      {"negative count", [](SmallIndex &x) { x.editproject("specialranges", "specialranges=-1"); }, -2,
       "@.prj does not contain line defining specialranges"},
      {"lines out of order", [](SmallIndex &x) {
         x.editproject("longest", "");
         x.editproject("dbfile", "dbfile=db.fa 1 13\nlongest=3");
       }, -2, "@.prj does not contain line defining totallength"},
      {"sequence counts", [](SmallIndex &x) { x.editproject("numofdbsequences", "numofdbsequences=3"); }, -2,
       "inconsistent number of sequences: dbseq=3, queryseq=0, total=2"},
      {"32-bit integers", [](SmallIndex &x) { x.editproject("integersize", "integersize=32"); }, -2,
       "index was generated for 32-bit integers while this program uses 64-bit integers"},
      {"no integer size", [](SmallIndex &x) { x.editproject("integersize", ""); }, -2,
       "index was generated for 32-bit integers while this program uses 64-bit integers"},
      {"odd integer size", [](SmallIndex &x) { x.editproject("integersize", "integersize=16"); }, -2,
       "@.prj contains illegal line defining the integer size"},
      {"no byte order", [](SmallIndex &x) { x.editproject("littleendian", ""); }, -2,
       "@.prj contains illegal line defining the endianess"},
      {"big endian", [](SmallIndex &x) { x.editproject("littleendian", "littleendian=0"); }, -2,
       "computer has little endian byte order, while index was build on computer with big "
       "endian byte order"},
      {"negative special index", [](SmallIndex &x) { x.editproject("specialindex", "specialindex=-2"); }, -2,
       "@.prj contains illegal line defining special index"},
      {"suf one entry short", [](SmallIndex &x) {
         std::filesystem::resize_file(x.file("suf"), 8 * 13);
       }, -1, "104 bytes read from @.suf, but 112 expected"},
      {"lcp too long", [](SmallIndex &x) {
         std::filesystem::resize_file(x.file("lcp"), 15);
       }, -1, "15 bytes read from @.lcp, but 14 expected"},
      {"skp too short", [](SmallIndex &x) { std::filesystem::resize_file(x.file("skp"), 8); }, -1,
       "8 bytes read from @.skp, but 112 expected"},
      {"llv too short", [](SmallIndex &x) { x.editproject("largelcpvalues", "largelcpvalues=2"); }, -1,
       "readvirt, line *: cannot read file \"@.llv\": it is empty"},
      {"separators out of order", [](SmallIndex &x) {
         x.scratch.write("idx.ssp", std::string("\x0f\0\0\0\0\0\0\0", 8));
       }, -1, "@.ssp: separator positions do not ascend below 13"},
  };
  for (const Damage &c : cases) {
    SCOPED_TRACE(c.what);
    SmallIndex index;
    c.damage(index);
    Virtualtree tree;
    const int result = openvirtualtree(&tree, index.name.c_str(),
                                       TISTAB | OISTAB | DESTAB | SUFTAB | LCPTAB | SKPTAB);
    EXPECT_EQ(result, c.result);
    std::string expected = std::regex_replace(c.message, std::regex("@"), index.name);
    std::string actual = errortext();
    if (expected.find('*') != std::string::npos) {
      actual = std::regex_replace(actual, std::regex("line [0-9]+"), "line *");
    }
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(closevirtualtree(&tree), 0);
  }
}

TEST(ReadVirt, name_and_project_file) {
  std::string longname(MAXINDEXNAME, 'x');
  Virtualtree tree;
  EXPECT_EQ(openvirtualtree(&tree, longname.c_str(), TISTAB), -1);
  EXPECT_EQ(errortext(), "indexname \"" + longname.substr(0, 1000) + "\" too long");
  EXPECT_EQ(closevirtualtree(&tree), 0);

  ScratchFolder scratch;
  const std::string missing = scratch.path("none");
  EXPECT_EQ(openvirtualtree(&tree, missing.c_str(), TISTAB), -1);
  EXPECT_EQ(errortext(), "cannot open file \"" + missing + ".prj\": No such file or directory");
  EXPECT_EQ(closevirtualtree(&tree), 0);
}

TEST(ReadVirt, tables_are_mapped_on_demand) {
  // One sequence: no separator table is read, so its absence does not matter.
  SmallIndex single(">only\nacgtnnacgt\n");
  std::filesystem::remove(single.file("ssp"));
  Virtualtree tree;
  ASSERT_EQ(openvirtualtree(&tree, single.name.c_str(), TISTAB | DESTAB), 0) << errortext();
  EXPECT_EQ(tree.multiseq.separatorpositions, nullptr);
  EXPECT_EQ(tree.suftab, nullptr);
  EXPECT_EQ(tree.lcptab, nullptr);
  EXPECT_EQ(tree.multiseq.plainsequence, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(tree.multiseq.desctext),
                        tree.multiseq.desctextlength), "only\n");
  EXPECT_EQ(closevirtualtree(&tree), 0);

  // A missing coded sequence is left to the caller to notice; the opening goes on.
  std::filesystem::remove(single.file("tis"));
  ASSERT_EQ(openvirtualtree(&tree, single.name.c_str(), TISTAB | DESTAB), 0);
  EXPECT_EQ(tree.multiseq.sequence, nullptr);
  EXPECT_EQ(closevirtualtree(&tree), 0);

  // Without N.al1 the raw list N.al2 gives the alphabet.
  SmallIndex other;
  std::filesystem::remove(other.file("al1"));
  other.scratch.write("idx.al2", std::string("\x04" "ACGT", 5));
  ASSERT_EQ(openvirtualtree(&tree, other.name.c_str(), TISTAB), 0);
  EXPECT_FALSE(tree.alphafromsymbolmap);
  EXPECT_EQ(tree.alpha.mapsize, 4u);
  EXPECT_EQ(tree.alpha.symbolmap['G'], 2u);
  EXPECT_EQ(closevirtualtree(&tree), 0);
}

TEST(ReadVirtDeath, impossible_project_and_missing_large_lcp_value_stop_the_program) {
  SmallIndex index;
  index.editproject("dbfile", "queryfile=q.fa 1 13");
  Virtualtree tree;
  EXPECT_EXIT(openvirtualtree(&tree, index.name.c_str(), TISTAB), testing::ExitedWithCode(1),
              "readvirt: line [0-9]+: This case is not supposed to occur");

  const LargeLcpValue table[] = {{3, 300}, {9, 256}};
  Virtualtree fake{};
  fake.llvtab = table;
  fake.largelcpvalues = 2;
  LargeLcpCursor cursor{};
  EXPECT_EQ(largelcp(&fake, 9, &cursor), 256u);
  EXPECT_EQ(largelcp(&fake, 3, &cursor), 300u);
  EXPECT_EXIT(largelcp(&fake, 4, &cursor), testing::ExitedWithCode(1),
              "cannot find 4 in exception table");
}
