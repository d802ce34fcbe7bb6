// The search run driver (threaded build): what a run leaves behind when its database fails
// in the middle of opening. The outputs of whole runs are covered by the golden cases.
#include "search/driver.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/filehandle.hpp"
#include "base/mapfile.hpp"
#include "index/buildindex.hpp"
#include "search/cmdline.hpp"
#include "sequences/alphabet.hpp"
#include "support/scratchfiles.hpp"

namespace {

// An index whose text table is gone fails the run with the packaging message; the tables,
// files and names the index reader had taken by then are all given back.
TEST(SearchDriver, an_index_without_its_text_is_released) {
  ScratchFolder folder;
  const std::string fasta = folder.write("seq.fa", ">a one\nacgtacgt\n>b two\nttgca\n");
  const std::string library = folder.write(
      "lib.txt", "BEGIN GROUP\nBEGIN INT\nID m\nAL ACGT\nLE 2\nMA 1 0 0 0\nMA 0 1 0 0\nEND\nEND\n");
  const std::string index = folder.path("idx");
  Alphabet dna;
  dnaalphabet(&dna);
  const IndexBuildOptions options{};
  ASSERT_EQ(buildindex(fasta.c_str(), &dna, index.c_str(), &options), 0) << errormessagespace();
  ASSERT_EQ(std::remove((index + ".tis").c_str()), 0);

  std::vector<std::string> words = {"zelkosearch", "-db", index, "-pr", library, "-lahead",
                                    "-rawth", "1", "-q"};
  std::vector<char *> argv;
  for (std::string &word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  RunConfiguration config;
  ASSERT_EQ(parsecommandline(&config, static_cast<int>(words.size()), argv.data()),
            COMMANDLINE_RUN);
  const uint64_t mapped = mappedbytes();
  const uint64_t handles = openfilehandlecount();
  EXPECT_EQ(runsearch(&config), 1);
  EXPECT_EQ(mappedbytes(), mapped);
  EXPECT_EQ(openfilehandlecount(), handles);
  EXPECT_EQ(geterrorcode(), 0);
  clearerrorcode();
}

}  // namespace
