// Built-in alphabets, symbol map files and their messages, the path-list search and the
// alphabets kept beside an index.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>

#include "base/error.hpp"
#include "base/filehandle.hpp"
#include "sequences/alphabet.hpp"
#include "support/scratchfiles.hpp"

namespace {

std::string domainof(const Alphabet &alpha) {
  return std::string(reinterpret_cast<const char *>(alpha.mapdomain), alpha.domainsize);
}
std::string charactersof(const Alphabet &alpha) {
  return std::string(reinterpret_cast<const char *>(alpha.characters), alpha.mapsize);
}

// Reads a symbol map given as text; returns readsymbolmap's result.
int readmap(Alphabet *alpha, const std::string &text, const char *name = "test.smap") {
  ScratchFolder scratch;
  const std::string path = scratch.write(name, text);
  FILE *stream = openfilehandle(path.c_str(), "rb");
  EXPECT_NE(stream, nullptr);
  const int result = readsymbolmap(alpha, name, stream);
  EXPECT_EQ(closefilehandle(stream), 0);
  return result;
}

// Sets an environment variable for the lifetime of a scope.
class ScopedVariable {
 public:
  ScopedVariable(const char *name, const std::string &value) : name_(name) {
    setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() { unsetenv(name_); }

 private:
  const char *name_;
};

const std::string dnamapfile = "aA\ncC\ngG\ntTuU\nnsywrkvbdhmNSYWRKVBDHM\n";

}  // namespace

TEST(BuiltinAlphabets, dna_map) {
  Alphabet dna;
  dnaalphabet(&dna);
  EXPECT_EQ(dna.mapsize, 5u);
  EXPECT_EQ(dna.domainsize, 32u);
  EXPECT_EQ(dna.mappedwildcards, 22u);
  EXPECT_EQ(dna.undefinedcode, UNDEFINEDCODE);
  EXPECT_EQ(domainof(dna), "aAcCgGtTuUnsywrkvbdhmNSYWRKVBDHM");
  EXPECT_EQ(charactersof(dna), "acgtn");
  EXPECT_EQ(dna.characters[WILDCARDCODE], 'n');
  const std::pair<char, uint64_t> expected[] = {
      {'a', 0}, {'A', 0}, {'c', 1}, {'C', 1}, {'g', 2}, {'G', 2},   {'t', 3},   {'T', 3},
      {'u', 3}, {'U', 3}, {'N', 254}, {'n', 254}, {'y', 254}, {'X', 253}, {'x', 253}, {'-', 253}};
  for (const auto &[c, code] : expected) EXPECT_EQ(dna.symbolmap[uint8_t(c)], code) << c;
  EXPECT_EQ(dna.symbolmap[0], UNDEFINEDCODE);
  EXPECT_EQ(dna.symbolmap[255], UNDEFINEDCODE);
}

TEST(BuiltinAlphabets, protein_map) {
  Alphabet protein;
  proteinalphabet(&protein);
  EXPECT_EQ(protein.mapsize, 21u);
  EXPECT_EQ(protein.domainsize, 26u);
  EXPECT_EQ(protein.mappedwildcards, 6u);
  EXPECT_EQ(domainof(protein), "LVIFKREDAGSTNQYWPHMCXUBZ*-");
  EXPECT_EQ(charactersof(protein), "LVIFKREDAGSTNQYWPHMCX");
  EXPECT_EQ(protein.characters[WILDCARDCODE], 'X');
  const char *order = "LVIFKREDAGSTNQYWPHMC";
  for (uint64_t code = 0; code < 20; code++) EXPECT_EQ(protein.symbolmap[uint8_t(order[code])], code);
  for (const char c : std::string("XUBZ*-")) EXPECT_EQ(protein.symbolmap[uint8_t(c)], WILDCARDCODE);
  EXPECT_EQ(protein.symbolmap[uint8_t('a')], UNDEFINEDCODE);
  EXPECT_EQ(protein.symbolmap[uint8_t('O')], UNDEFINEDCODE);

  Alphabet copy;
  std::memset(&copy, 0x5a, sizeof copy);
  copyalphabet(&copy, &protein);
  EXPECT_EQ(std::memcmp(&copy, &protein, sizeof copy), 0);
}

TEST(SymbolMapFile, five_line_dna_file_equals_builtin_map) {
  Alphabet fromfile;
  Alphabet builtin;
  dnaalphabet(&builtin);
  ASSERT_EQ(readmap(&fromfile, "# comment\n\n#another\n" + dnamapfile), 0);
  EXPECT_EQ(std::memcmp(&fromfile, &builtin, sizeof builtin), 0);
  // The fixture shipped for the programs' tests says the same.
  ASSERT_EQ(loadsymbolmapfile(&fromfile, ZELKO_TEST_DATA "/sequences/dna.smap"), 0);
  EXPECT_EQ(std::memcmp(&fromfile, &builtin, sizeof builtin), 0);
  EXPECT_EQ(openfilehandlecount(), 0u);
}

TEST(SymbolMapFile, representatives_comments_and_wildcard_line) {
  Alphabet alpha;
  // A representative after one blank; text after it is ignored; '#' after the first symbol
  // line is an ordinary symbol.
  ASSERT_EQ(readmap(&alpha, "#header\nacgt X trailing words\n#+ P\n\nnN\n"), 0);
  EXPECT_EQ(alpha.mapsize, 3u);
  EXPECT_EQ(charactersof(alpha), "XPn");
  for (const char c : std::string("acgt")) EXPECT_EQ(alpha.symbolmap[uint8_t(c)], 0u);
  EXPECT_EQ(alpha.symbolmap[uint8_t('#')], 1u);
  EXPECT_EQ(alpha.symbolmap[uint8_t('+')], 1u);
  EXPECT_EQ(alpha.symbolmap[uint8_t('n')], WILDCARDCODE);
  EXPECT_EQ(alpha.symbolmap[uint8_t('N')], WILDCARDCODE);
  EXPECT_EQ(alpha.mappedwildcards, 2u);
  EXPECT_EQ(alpha.characters[WILDCARDCODE], 'n');
  EXPECT_EQ(domainof(alpha), "acgt#+nN");
  EXPECT_EQ(alpha.symbolmap[uint8_t('X')], UNDEFINEDCODE);  // a representative is not mapped
}

TEST(SymbolMapFile, last_line_without_newline_is_read) {
  Alphabet alpha;
  ASSERT_EQ(readmap(&alpha, "aA\ncC\ngG\ntT\nnN"), 0);
  EXPECT_EQ(alpha.mapsize, 5u);
  EXPECT_EQ(alpha.symbolmap[uint8_t('N')], WILDCARDCODE);
  EXPECT_EQ(alpha.symbolmap[uint8_t('t')], 3u);
}

TEST(SymbolMapFile, malformed_files_fail_with_their_messages) {
  Alphabet alpha;
  EXPECT_EQ(readmap(&alpha, "ac\ngG\ntTa\nn\n", "twice.smap"), -1);
  EXPECT_EQ(errortext(), "cannot map symbol 'a' to 2: it is already mapped to 0");
  EXPECT_EQ(readmap(&alpha, "# x\n\nab\nc\td\n", "tab.smap"), -2);
  EXPECT_EQ(errortext(), "illegal character '\t' in line 4 of mapfile tab.smap");
  // Carriage returns are neither symbols nor the blank before a representative.
  EXPECT_EQ(readmap(&alpha, "#dos\r\naA\r\ncC\r\n", "dos.smap"), -2);
  EXPECT_EQ(errortext(), "illegal character '\r' in line 2 of mapfile dos.smap");
  EXPECT_EQ(readmap(&alpha, "aA\ncC  X\n", "blanks.smap"), -3);
  EXPECT_EQ(errortext(), "illegal character ' ' at the end of line 2 in mapfile blanks.smap");
  EXPECT_EQ(readmap(&alpha, "aA \t\n", "tabrep.smap"), -3);
  EXPECT_EQ(errortext(), "illegal character '\t' at the end of line 1 in mapfile tabrep.smap");
  // A blank that ends the line introduces no representative.
  EXPECT_EQ(readmap(&alpha, "aA\ncC \n", "trailing.smap"), -3);
  EXPECT_EQ(errortext(), "illegal character ' ' at the end of line 2 in mapfile trailing.smap");
  EXPECT_EQ(readmap(&alpha, "# only comments\n\n", "empty.smap"), -2);
  EXPECT_EQ(errortext(), "mapfile empty.smap defines no symbols");
  std::string manylines;
  for (int i = 0; i < 254; i++) manylines += " x\n";  // codes without symbols
  EXPECT_EQ(readmap(&alpha, manylines, "many.smap"), -2);
  EXPECT_EQ(errortext().rfind("too many symbol lines in mapfile many.smap", 0), 0u);
}

TEST(SymbolMapFile, search_through_path_list) {
  ScratchFolder scratch;
  const std::string first = scratch.mkdir("first");
  const std::string second = scratch.mkdir("second");
  scratch.write("first/both.smap", "aA\nxX\n");
  scratch.write("second/both.smap", "cC\nxX\n");
  scratch.write("second/only.smap", "gG\nxX\n");
  const ScopedVariable variable("SARNIXSMAPDIR", first + ":" + second);
  Alphabet alpha;

  ASSERT_EQ(loadsymbolmapfile(&alpha, "both.smap"), 0);
  EXPECT_EQ(alpha.symbolmap[uint8_t('a')], 0u);  // the first directory wins
  ASSERT_EQ(loadsymbolmapfile(&alpha, "only.smap"), 0);
  EXPECT_EQ(alpha.symbolmap[uint8_t('g')], 0u);
  EXPECT_EQ(openfilehandlecount(), 0u);

  EXPECT_EQ(loadsymbolmapfile(&alpha, "absent.smap"), -1);
  EXPECT_EQ(errortext(), "cannot find file \"absent.smap\"");
  // A name with a slash is only tried as given.
  EXPECT_EQ(loadsymbolmapfile(&alpha, "second/only.smap"), -1);
  EXPECT_EQ(errortext(),
            "filename \"second/only.smap\" contains illegal symbol '/': the path list specified "
            "by environment variable \"SARNIXSMAPDIR\" cannot be searched for it");
  EXPECT_EQ(geterrorcode(), 0);

  scratch.write("second/bad.smap", "aA\naB\n");
  EXPECT_EQ(loadsymbolmapfile(&alpha, "bad.smap"), -2);
  EXPECT_EQ(errortext(), "cannot map symbol 'a' to 1: it is already mapped to 0");
  EXPECT_EQ(openfilehandlecount(), 0u);
}

TEST(SymbolMapFile, empty_path_list_entry_means_root) {
  const ScopedVariable variable("SARNIXSMAPDIR", ":/nonexistent");
  FILE *stream = openinpathlist("SARNIXSMAPDIR", "etc");  // "/etc" opens (as a directory)
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(closefilehandle(stream), 0);
  unsetenv("SARNIXSMAPDIR");
  EXPECT_EQ(openinpathlist("SARNIXSMAPDIR", "zelko-absent.smap"), nullptr);
  EXPECT_EQ(errortext(), "cannot find file \"zelko-absent.smap\"");
}

TEST(IndexAlphabet, symbol_map_file_then_raw_list_then_nothing) {
  ScratchFolder scratch;
  const std::string index = scratch.path("db");
  Alphabet alpha;
  bool fromsymbolmap = false;

  scratch.write("db.al1", dnamapfile);
  scratch.write("db.al2", std::string("\x03" "xyz", 4));
  ASSERT_EQ(loadindexalphabet(index.c_str(), &alpha, &fromsymbolmap), 0);
  EXPECT_TRUE(fromsymbolmap);
  EXPECT_EQ(alpha.mapsize, 5u);

  // A broken N.al1 falls back to N.al2 silently.
  scratch.write("db.al1", "aa\n");
  ASSERT_EQ(loadindexalphabet(index.c_str(), &alpha, &fromsymbolmap), 0);
  EXPECT_FALSE(fromsymbolmap);
  EXPECT_EQ(alpha.mapsize, 3u);
  EXPECT_EQ(alpha.domainsize, 3u);
  EXPECT_EQ(charactersof(alpha), "xyz");
  EXPECT_EQ(alpha.symbolmap[uint8_t('z')], 2u);
  EXPECT_EQ(alpha.symbolmap[uint8_t('a')], UNDEFINEDCODE);
  EXPECT_EQ(alpha.undefinedcode, UNDEFINEDCODE);

  // Extra bytes beyond the count are ignored.
  scratch.write("db.al2", std::string("\x02" "pqr", 4));
  ASSERT_EQ(loadindexalphabet(index.c_str(), &alpha, &fromsymbolmap), 0);
  EXPECT_EQ(charactersof(alpha), "pq");
  EXPECT_EQ(alpha.symbolmap[uint8_t('r')], UNDEFINEDCODE);

  std::string all(1, '\0');
  for (int c = 0; c < 256; c++) all += static_cast<char>(c);
  scratch.write("db.al2", all);
  ASSERT_EQ(loadindexalphabet(index.c_str(), &alpha, &fromsymbolmap), 0);
  EXPECT_EQ(alpha.mapsize, 256u);
  EXPECT_EQ(alpha.symbolmap[200], 200u);

  ASSERT_EQ(loadindexalphabet(scratch.path("none").c_str(), &alpha, &fromsymbolmap), 0);
  EXPECT_FALSE(fromsymbolmap);
  EXPECT_EQ(alpha.mapsize, 0u);
  EXPECT_EQ(alpha.domainsize, 0u);
  EXPECT_EQ(openfilehandlecount(), 0u);
}
