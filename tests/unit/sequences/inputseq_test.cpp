// Choosing between an index and a sequence file, the alphabet options and the release.
#include <gtest/gtest.h>

#include <string>

#include "base/error.hpp"
#include "base/mapfile.hpp"
#include "base/output.hpp"
#include "sequences/inputseq.hpp"
#include "support/scratchfiles.hpp"

namespace {

const std::string datadir = ZELKO_TEST_DATA "/sequences/";

struct Selection {
  Virtualtree virtualtree{};
  bool isindex = true;
  int status = 0;
  std::string stderrtext;
  Selection(const char *database, const char *smap, bool protein, bool dna, uint32_t demand = TISTAB | DESTAB) {
    clearerrorcode();
    testing::internal::CaptureStderr();
    status = selectinputsequence(database, smap, protein, dna, demand, &virtualtree, &isindex);
    stderrtext = testing::internal::GetCapturedStderr();
  }
  ~Selection() {
    EXPECT_EQ(releaseinputsequence(&virtualtree, isindex), 0);
    clearerrorcode();
  }
};

// Status lines are on for these tests unless a test turns them off.
class InputSelection : public testing::Test {
 protected:
  void SetUp() override { outputinit(true, true); }
  void TearDown() override { outputinit(true, true); }
};

}  // namespace

TEST_F(InputSelection, index_name_is_recognised_by_its_project_file) {
  ScratchFolder scratch;
  const std::string index = scratch.path("db");
  scratch.write("db.prj", "totallength=4\n");
  scratch.write("db", ">x\nacgt\n");  // the file itself exists too: still an index
  {
    Selection withdna(index.c_str(), nullptr, false, true);
    EXPECT_EQ(withdna.status, -1);
    EXPECT_EQ(withdna.stderrtext, "Reading input sequence from ESA `" + index + "'.\n");
    EXPECT_EQ(errortext(),
              "No symbol map must be specified if the input sequence is an enhanced suffix array.");
    EXPECT_EQ(geterrorcode(), 1);
    EXPECT_FALSE(withdna.isindex);
  }
  {
    Selection withsmap(index.c_str(), "dna.smap", false, false);
    EXPECT_EQ(withsmap.status, -1);
    EXPECT_EQ(errortext(),
              "No symbol map must be specified if the input sequence is an enhanced suffix array.");
  }
  Selection plain(index.c_str(), nullptr, false, false);
  EXPECT_EQ(plain.status, -1);
  EXPECT_EQ(errortext(), index + ".prj does not contain line defining specialcharacters");
  EXPECT_EQ(geterrorcode(), 1);
}

TEST_F(InputSelection, sequence_file_needs_an_alphabet) {
  const std::string fasta = datadir + "mixed.fa";
  Selection none(fasta.c_str(), nullptr, false, false);
  EXPECT_EQ(none.status, -1);
  EXPECT_EQ(none.stderrtext, "Reading input sequence from `" + fasta + "'.\n");
  EXPECT_EQ(errortext(), "The input sequence is not an enhanced suffix array. You must specify a "
                         "symbol map via -smap, -protein, or -dna option.");
  EXPECT_EQ(geterrorcode(), 1);
  EXPECT_FALSE(none.isindex);
}

TEST_F(InputSelection, alphabet_alone_without_database) {
  Selection protein(nullptr, nullptr, true, false);
  EXPECT_EQ(protein.status, 0);
  EXPECT_EQ(protein.stderrtext, "");
  EXPECT_EQ(protein.virtualtree.alpha.mapsize, 21u);
  Selection smap(nullptr, (datadir + "dna.smap").c_str(), true, true);  // -smap wins
  EXPECT_EQ(smap.status, 0);
  EXPECT_EQ(smap.virtualtree.alpha.mapsize, 5u);
  Selection missing(nullptr, "zelko-absent.smap", false, false);
  EXPECT_EQ(missing.status, -1);
  EXPECT_EQ(errortext(), "cannot find file \"zelko-absent.smap\"");
  EXPECT_EQ(geterrorcode(), 1);
}

TEST_F(InputSelection, loads_and_releases_a_sequence_file) {
  const uint64_t mappedbefore = mappedbytes();
  const std::string fasta = datadir + "mixed.fa";
  {
    Selection loaded(fasta.c_str(), nullptr, false, true, TISTAB | DESTAB | OISTAB);
    ASSERT_EQ(loaded.status, 0) << errortext();
    EXPECT_FALSE(loaded.isindex);
    const Virtualtree &tree = loaded.virtualtree;
    EXPECT_EQ(tree.multiseq.numofsequences, 3u);
    EXPECT_EQ(tree.filebuffer, tree.multiseq.sequence);
    EXPECT_STREQ(tree.filename, fasta.c_str());
    ASSERT_NE(tree.multiseq.plainsequence, nullptr);
    EXPECT_EQ(tree.multiseq.plainsequence[0], 'a');
    EXPECT_GT(mappedbytes(), mappedbefore);
  }
  EXPECT_EQ(mappedbytes(), mappedbefore);  // released by releaseinputsequence
  Selection withoutplain(fasta.c_str(), nullptr, false, true);
  ASSERT_EQ(withoutplain.status, 0);
  EXPECT_EQ(withoutplain.virtualtree.multiseq.plainsequence, nullptr);
}

TEST_F(InputSelection, failures_set_the_code_and_release_cleanly) {
  ScratchFolder scratch;
  const uint64_t mappedbefore = mappedbytes();
  const std::string bad = scratch.write("bad.fa", ">x\nacgt\n>y\n");
  {
    Selection failed(bad.c_str(), nullptr, false, true);
    EXPECT_EQ(failed.status, -1);
    EXPECT_EQ(errortext(), "sequence 1 is empty");
    EXPECT_EQ(geterrorcode(), 1);
  }
  EXPECT_EQ(mappedbytes(), mappedbefore);
}

TEST_F(InputSelection, gz_suffix_decides_decompression) {
  ScratchFolder scratch;
  Selection gzip((datadir + "mixed.fa.gz").c_str(), nullptr, false, true);
  ASSERT_EQ(gzip.status, 0) << errortext();
  EXPECT_EQ(gzip.virtualtree.multiseq.numofsequences, 3u);
  // Compressed content under another name is mapped as it is, and is no known format.
  const std::string renamed = scratch.path("mixed.fasta");
  std::filesystem::copy_file(datadir + "mixed.fa.gz", renamed);
  Selection mapped(renamed.c_str(), nullptr, false, true);
  EXPECT_EQ(mapped.status, -1);
  EXPECT_EQ(errortext(), "input file \"" + renamed + "\" is not in Fasta, GENBANK or EMBL format");
}

TEST_F(InputSelection, quiet_runs_print_no_status_line) {
  outputinit(false, true);
  ScratchFolder scratch;
  scratch.write("db.prj", "");
  Selection index(scratch.path("db").c_str(), nullptr, false, true);
  EXPECT_EQ(index.stderrtext, "");
  Selection fasta((datadir + "mixed.fa").c_str(), nullptr, false, true);
  EXPECT_EQ(fasta.status, 0);
  EXPECT_EQ(fasta.stderrtext, "");
}
