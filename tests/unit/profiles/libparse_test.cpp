// The library parser: the layout of parsed matrices and groups, and every format error with its
// message, line number and caret display.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "libraryfixture.hpp"

namespace {

constexpr int64_t intminus = ScoreTraits<int64_t>::minusinfinity;
constexpr float floatminus = ScoreTraits<float>::minusinfinity;

std::vector<int64_t> introw(const Profile *profile, uint64_t row) {
  const ScoringMatrix *matrix = &profile->matrix;
  std::vector<int64_t> cells;
  for (uint64_t c = 0; c < matrix_columns(matrix); c++)
    cells.push_back(matrix_cell<int64_t>(matrix, row, c));
  return cells;
}

std::vector<float> floatrow(const Profile *profile, uint64_t row) {
  const ScoringMatrix *matrix = &profile->matrix;
  std::vector<float> cells;
  for (uint64_t c = 0; c < matrix_columns(matrix); c++)
    cells.push_back(matrix_cell<float>(matrix, row, c));
  return cells;
}

class LibraryParse : public testing::Test {
 protected:
  void SetUp() override {
    dnaalphabet(&dna);
    proteinalphabet(&protein);
  }
  Alphabet dna, protein;
  ProfileCollection collection;
};

TEST_F(LibraryParse, groups_matrices_and_their_fields_in_file_order) {
  const ParseOutcome outcome = parsefile(datafile("groups.lib"), &dna, &collection);
  ASSERT_EQ(outcome.status, 0) << outcome.message;
  EXPECT_EQ(outcome.stderrtext,
            "WARNING: character `N' is defined as a wildcard in the input alphabet, it won't "
            "match even if it is defined for the PSSM on line 38.\n"
            "WARNING: character class {TUtu} may occur in the input sequence, but no column for "
            "any of its representatives is defined in the PSSM given on line 38.\n");
  EXPECT_EQ(collection.alphabet, &dna);
  ASSERT_EQ(collection.numofgroups, 3u);
  ASSERT_EQ(collection.numofprofiles, 3u);
  EXPECT_EQ(collection.groups[0].firstprofile, 0u);
  EXPECT_EQ(collection.groups[0].numofprofiles, 2u);
  EXPECT_EQ(collection.groups[1].firstprofile, 2u);
  EXPECT_EQ(collection.groups[1].numofprofiles, 0u);
  EXPECT_EQ(collection.groups[2].firstprofile, 2u);
  EXPECT_EQ(collection.groups[2].numofprofiles, 1u);
  for (uint64_t g = 0; g < 3; g++) EXPECT_EQ(collection.groups[g].extra, nullptr);

  // An INT matrix with every tag; "1-2" reads as 1.
  const Profile *first = &collection.profiles[0];
  EXPECT_STREQ(first->identifier, "box-one");
  EXPECT_STREQ(first->accession, "X00001");
  EXPECT_STREQ(first->description, "first line of the description\nsecond line");
  EXPECT_EQ(first->groupnumber, 0u);
  EXPECT_EQ(first->groupposition, 0u);
  EXPECT_EQ(first->beginline, 6u);
  EXPECT_EQ(first->matrix.scoretype, SCORE_INTEGER);
  ASSERT_EQ(first->matrix.m, 3u);
  EXPECT_EQ(first->matrix.alphabet, &first->alphabet);
  EXPECT_EQ(first->matrix.threshold.i, 7);
  EXPECT_EQ(introw(first, 0), (std::vector<int64_t>{1, -2, 3, -4, intminus}));
  EXPECT_EQ(introw(first, 1), (std::vector<int64_t>{5, 6, -7, 8, intminus}));
  EXPECT_EQ(introw(first, 2), (std::vector<int64_t>{0, 0, 1, -9, intminus}));
  EXPECT_EQ(first->matrix.minscore.i, -4 - 7 - 9);
  EXPECT_EQ(first->matrix.maxscore.i, 3 + 8 + 1);
  EXPECT_EQ(first->smallestvalue.i, -9);
  EXPECT_EQ(first->distribution.tail, nullptr);

  // A FLOAT matrix over AP DNA; the ID keeps the second blank.
  const Profile *second = &collection.profiles[1];
  EXPECT_STREQ(second->identifier, " two blanks");
  EXPECT_EQ(second->accession, nullptr);
  EXPECT_EQ(second->description, nullptr);
  EXPECT_EQ(second->groupposition, 1u);
  EXPECT_EQ(second->beginline, 23u);
  EXPECT_EQ(second->matrix.scoretype, SCORE_FLOAT);
  EXPECT_EQ(floatrow(second, 0), (std::vector<float>{0.5f, -1.25f, 20.0f, 3.0f, floatminus}));
  EXPECT_EQ(floatrow(second, 1), (std::vector<float>{-0.5f, 1.5f, 0.25f, -0.2f, floatminus}));
  EXPECT_FLOAT_EQ(second->matrix.minscore.f, -1.75f);
  EXPECT_FLOAT_EQ(second->matrix.maxscore.f, 21.5f);
  EXPECT_FLOAT_EQ(second->smallestvalue.f, -1.25f);

  // Columns N (a wildcard: value dropped), g, C, a; T has no column and never scores.
  const Profile *third = &collection.profiles[2];
  EXPECT_EQ(third->groupnumber, 2u);
  EXPECT_EQ(third->groupposition, 0u);
  EXPECT_EQ(third->beginline, 35u);
  EXPECT_EQ(introw(third, 0), (std::vector<int64_t>{40, 30, 20, intminus, intminus}));
  EXPECT_EQ(third->matrix.minscore.i, 20);
  EXPECT_EQ(third->matrix.maxscore.i, 40);
  EXPECT_EQ(third->alphabet.symbolmap[static_cast<unsigned char>('t')], UNDEFINEDCODE);
  EXPECT_EQ(third->alphabet.characters[3], '~');
  EXPECT_EQ(first->alphabet.symbolmap[static_cast<unsigned char>('t')], 3u);
  collection_free(&collection, false, false);
}

TEST_F(LibraryParse, libraries_without_matrices) {
  ParseOutcome outcome = parsefile(datafile("comments.lib"), &dna, &collection);
  ASSERT_EQ(outcome.status, 0);
  EXPECT_EQ(collection.numofgroups, 0u);
  EXPECT_EQ(collection.numofprofiles, 0u);
  EXPECT_EQ(outcome.stderrtext, "");
  collection_free(&collection, false, false);

  outcome = parsetext("BEGIN GROUP\nEND\nBEGIN GROUP\n# empty\n\nEND", &dna, &collection);
  ASSERT_EQ(outcome.status, 0);
  EXPECT_EQ(collection.numofgroups, 2u);
  EXPECT_EQ(collection.groups[1].numofprofiles, 0u);
  collection_free(&collection, false, false);
}

TEST_F(LibraryParse, protein_columns_and_a_final_end_without_newline) {
  ParseOutcome outcome = parsefile(datafile("protein.lib"), &protein, &collection);
  ASSERT_EQ(outcome.status, 0) << outcome.message;
  ASSERT_EQ(collection.numofprofiles, 1u);
  EXPECT_EQ(collection.profiles[0].groupnumber, 2u);
  // Value k+1 belongs to the k-th letter of ACDEFGHIKLMNPQRSTVWY; codes follow LVIFKREDAGSTNQYWPHMC.
  const std::vector<float> row = floatrow(&collection.profiles[0], 0);
  const std::string columns = "ACDEFGHIKLMNPQRSTVWY";
  for (size_t k = 0; k < columns.size(); k++)
    EXPECT_EQ(row[protein.symbolmap[static_cast<unsigned char>(columns[k])]], k + 1.0f) << columns[k];
  EXPECT_EQ(row[20], floatminus);
  EXPECT_EQ(outcome.stderrtext, "");
  collection_free(&collection, false, false);

  // Over DNA the same matrix keeps A, C, G, T and drops the rest.
  outcome = parsefile(datafile("protein.lib"), &dna, &collection);
  ASSERT_EQ(outcome.status, 0) << outcome.message;
  EXPECT_EQ(floatrow(&collection.profiles[0], 0),
            (std::vector<float>{1.0f, 2.0f, 6.0f, 17.0f, floatminus}));
  collection_free(&collection, false, false);
}

TEST_F(LibraryParse, status_line_and_unreadable_file) {
  const std::string path = datafile("comments.lib");
  ParseOutcome outcome = parsefile(path, &dna, &collection, true, true);
  ASSERT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.stderrtext, "Reading profile matrices from `" + path + "'\n");
  collection_free(&collection, false, false);

  const std::string missing = testing::TempDir() + "no-such-library.lib";
  outcome = parsefile(missing, &dna, &collection);
  EXPECT_EQ(outcome.status, -1);
  EXPECT_EQ(outcome.message, "Failed to open file `" + missing + "'.");
  EXPECT_EQ(outcome.code, 1);
  EXPECT_EQ(outcome.stderrtext, "");  // no caret display
}

TEST_F(LibraryParse, many_matrices_keep_their_own_alphabet_after_the_array_grows) {
  std::string text = "BEGIN GROUP\n";
  for (int i = 0; i < 1030; i++)
    text += "BEGIN INT\nID m" + std::to_string(i) + "\nAL ACG\nLE 1\nMA 1 2 " +
            std::to_string(i) + "\nEND\n";
  text += "END\n";
  const ParseOutcome outcome = parsetext(text, &dna, &collection, false);
  ASSERT_EQ(outcome.status, 0) << outcome.message;
  ASSERT_EQ(collection.numofprofiles, 1030u);
  for (uint64_t i = 0; i < collection.numofprofiles; i++) {
    const Profile *profile = &collection.profiles[i];
    ASSERT_EQ(profile->matrix.alphabet, &profile->alphabet) << i;
    ASSERT_EQ(matrix_cell<int64_t>(&profile->matrix, 0, 2), static_cast<int64_t>(i));
    ASSERT_EQ(profile->alphabet.symbolmap[static_cast<unsigned char>('T')], UNDEFINEDCODE);
  }
  collection_free(&collection, false, false);
}

TEST_F(LibraryParse, value_ranges_of_both_score_types) {
  const std::string intlib =
      "BEGIN GROUP\nBEGIN INT\nID m\nAL AC\nLE 1\nMA 4611686018427387902 -4611686018427387902\n"
      "END\nEND\n";
  ParseOutcome outcome = parsetext(intlib, &dna, &collection, false);
  ASSERT_EQ(outcome.status, 0) << outcome.message;
  EXPECT_EQ(matrix_cell<int64_t>(&collection.profiles[0].matrix, 0, 0), INT64_C(4611686018427387902));
  EXPECT_EQ(matrix_cell<int64_t>(&collection.profiles[0].matrix, 0, 1), -INT64_C(4611686018427387902));
  collection_free(&collection, false, false);

  const std::string floatlib =
      "BEGIN GROUP\nBEGIN FLOAT\nID m\nTH -2.5e-1\nAL AC\nLE 1\nMA 1.7e38 -1.7e38\nEND\nEND\n";
  outcome = parsetext(floatlib, &dna, &collection, false);
  ASSERT_EQ(outcome.status, 0) << outcome.message;
  EXPECT_EQ(collection.profiles[0].matrix.threshold.f, -0.25f);
  EXPECT_EQ(matrix_cell<float>(&collection.profiles[0].matrix, 0, 0), 1.7e38f);
  collection_free(&collection, false, false);
}

// ---------------------------------------------------------------- format errors

struct ErrorCase {
  const char *name;
  std::string text;
  const char *reason;
  unsigned long line;
  std::string shown;  // the displayed line
  unsigned long column;
};

const std::string group = "BEGIN GROUP\n";                       // line 1
const std::string matrix = group + "BEGIN INT\n";                 // line 2
const std::string header = matrix + "ID m\nAL ACGT\nLE 2\n";      // lines 3 to 5
const std::string row = "MA 1 2 3 4\n";

std::vector<ErrorCase> errorcases() {
  return {
      {"blank line before a group", "  \n" + group + "END\n", "expecting `BEGIN GROUP'", 1, "  ", 1},
      {"hash after blanks is no comment", "  # x\n", "expecting `BEGIN GROUP'", 1, "  # x", 1},
      {"no blank after BEGIN", "BEGINGROUP\nEND\n", "expecting `BEGIN GROUP'", 1, "BEGINGROUP", 6},
      {"BEGIN without GROUP", "BEGIN INT\n", "expecting `BEGIN GROUP'", 1, "BEGIN INT", 7},
      {"extra after BEGIN GROUP", "BEGIN GROUPS\nEND\n", "extra characters after `BEGIN GROUP'", 1,
       "BEGIN GROUPS", 12},
      {"nested group", group + "BEGIN GROUP\n", "invalid type", 2, "BEGIN GROUP", 7},
      {"BEGIN alone in a group", group + "BEGIN\n", "invalid type", 2, "BEGIN", 6},
      {"extra after type", group + "BEGIN INTEGER\n", "extra characters after type identifier", 2,
       "BEGIN INTEGER", 10},
      {"neither BEGIN nor END", group + row, "expecting `BEGIN' for next matrix or `END' to end the group",
       2, "MA 1 2 3 4", 1},
      {"group without END", group, "expecting `END'", 2, "", 1},
      {"extra after END", group + "END x\n", "extra characters after `END'", 2, "END x", 5},
      {"end of file in header", matrix + "ID m\n", "unexpected end of file", 4, "", 1},
      {"blank line between tags", matrix + "ID m\n  \n", "invalid tag", 4, "  ", 1},
      {"unknown tag", matrix + "ID m\nXX y\n", "invalid tag", 4, "XX y", 1},
      {"tag without blank", matrix + "IDm\n", "tag seems valid, but is not followed by white space", 3,
       "IDm", 3},
      {"line too short", matrix + "ID m\nA", "expecting tag, but line is too short to contain one", 4,
       "A", 1},
      {"duplicate ID", matrix + "ID m\nID n\n", "duplicate `ID' tag", 4, "ID n", 4},
      {"duplicate AC", matrix + "AC a\nAC b\n", "duplicate `AC' tag", 4, "AC b", 4},
      {"empty ID", matrix + "ID \n", "empty tag", 3, "ID ", 4},
      {"empty DE", matrix + "DE \n", "empty tag", 3, "DE ", 4},
      {"AL after AP", matrix + "AP DNA\nAL ACGT\n",
       "the `AL' tag cannot be used when an `AP' tag is present", 4, "AL ACGT", 4},
      {"AP after AL", matrix + "AL ACGT\nAP DNA\n",
       "the `AP' tag cannot be used when an `AL' tag is present", 4, "AP DNA", 4},
      {"duplicate AL", matrix + "AL ACGT\nAL ACGT\n", "duplicate `AL' tag", 4, "AL ACGT", 4},
      {"duplicate AP", matrix + "AP DNA\nAP DNA\n", "duplicate `AP' tag", 4, "AP DNA", 4},
      {"blanks between AL letters", matrix + "AL A C G T\n", "duplicate characters in `AL' definition",
       3, "AL A C G T", 7},
      {"AP in lower case", matrix + "AP dna\n", "invalid alphabet name", 3, "AP dna", 4},
      {"AP with two blanks", matrix + "AP  DNA\n", "invalid alphabet name", 3, "AP  DNA", 4},
      {"AP with a second word", matrix + "AP DNA X\n", "extra characters after alphabet name", 3,
       "AP DNA X", 8},
      {"LE with two blanks", matrix + "LE  2\n", "numeric value expected", 3, "LE  2", 4},
      {"LE with a letter", matrix + "LE 2x\n", "numeric value expected", 3, "LE 2x", 5},
      {"LE with a word after it", matrix + "LE 2 x\n", "extra characters after numeric value", 3,
       "LE 2 x", 6},
      {"negative LE", matrix + "LE -2\n", "numeric value expected", 3, "LE -2", 4},
      {"duplicate LE", matrix + "LE 2\nLE 2\n", "duplicate `LE' tag", 4, "LE 2", 4},
      {"float TH in an INT matrix", matrix + "TH 1.5\n", "numeric value expected", 3, "TH 1.5", 5},
      {"TH with two blanks", matrix + "TH  1\n", "numeric value expected", 3, "TH  1", 4},
      {"duplicate TH", matrix + "TH 1\nTH 1\n", "duplicate `TH' tag", 4, "TH 1", 4},
      {"no ID", matrix + "AL ACGT\nLE 1\n" + row + "END\nEND\n", "identifier missing (`ID')", 5,
       "MA 1 2 3 4", 1},
      {"no LE", matrix + "ID m\nAL ACGT\n" + row + "END\nEND\n",
       "you must specify the number of lines in the matrix (`LE')", 5, "MA 1 2 3 4", 1},
      {"no alphabet", matrix + "ID m\nLE 1\n" + row + "END\nEND\n",
       "you must specify an alphabet (`AL' or `AP')", 5, "MA 1 2 3 4", 1},
      {"first MA without blank", header + "MA1 2 3 4\n",
       "tag seems valid, but is not followed by white space", 6, "MA1 2 3 4", 3},
      {"later MA without blank", header + row + "MA1 2 3 4\n",
       "looks like an `MA' tag, but white space missing", 7, "MA1 2 3 4", 3},
      {"neither MA nor END", header + row + "XX\n", "expecting `MA' tag or `END'", 7, "XX", 1},
      {"too many MA lines", header + row + row + row + "END\nEND\n", "too many MA lines, expecting END",
       8, "MA 1 2 3 4", 1},
      {"too few MA lines", header + row + "END\nEND\n",
       "too few MA lines, LE header announced more lines than available", 7, "END", 1},
      {"LE far beyond the file", matrix + "ID m\nAL ACGT\nLE 99999999999999999999\n" + row + "END\nEND\n",
       "too few MA lines, LE header announced more lines than available", 7, "END", 1},
      {"missing value", header + "MA 1 2 3\n", "line incomplete, missing values according to alphabet",
       6, "MA 1 2 3", 9},
      {"no value at all", header + "MA \n", "line incomplete, missing values according to alphabet", 6,
       "MA ", 4},
      {"value too many", header + "MA 1 2 3 4 5\n",
       "line contains too many values according to alphabet", 6, "MA 1 2 3 4 5", 12},
      {"tab counts for the column", header + "MA 1\t2 3 4 5\n",
       "line contains too many values according to alphabet", 6, "MA 12 3 4 5", 12},
      {"carriage return", header + "MA 1 2 3 4\r\n", "numeric value expected", 6, "MA 1 2 3 4", 11},
      {"last row without newline", header + "MA 1 2 3 4", "unexpected end of file", 6, "MA 1 2 3 4",
       11},
      {"plus sign in INT", header + "MA +1 2 3 4\n", "numeric value expected", 6, "MA +1 2 3 4", 4},
      {"minus alone", header + "MA 1 2 - 4\n", "numeric value expected", 6, "MA 1 2 - 4", 8},
      {"INT value too high", header + "MA 1 2 3 4611686018427387903\n", "matrix value too high", 6,
       "MA 1 2 3 4611686018427387903", 10},
      {"INT value too small", header + "MA 1 2 3 -4611686018427387903\n", "matrix value too small",
       6, "MA 1 2 3 -4611686018427387903", 10},
      {"FLOAT value too high", group + "BEGIN FLOAT\nID m\nAL ACGT\nLE 1\nMA 1 2 3 1.7014117e38\n",
       "matrix value too high", 6, "MA 1 2 3 1.7014117e38", 10},
      {"FLOAT value too small", group + "BEGIN FLOAT\nID m\nAL ACGT\nLE 1\nMA 1 2 3 -1e39\n",
       "matrix value too small", 6, "MA 1 2 3 -1e39", 10},
      {"token of 128 characters", header + "MA 1 2 3 " + std::string(128, '0') + "\n",
       "input too long", 6, "MA 1 2 3 " + std::string(128, '0'), 137},
  };
}

TEST_F(LibraryParse, format_errors_name_line_and_column) {
  for (const ErrorCase &c : errorcases()) {
    SCOPED_TRACE(c.name);
    const ParseOutcome outcome = parsetext(c.text, &dna, &collection);
    EXPECT_EQ(outcome.status, -1);
    EXPECT_EQ(outcome.code, 1);
    EXPECT_EQ(outcome.message, "Parsing error in line " + std::to_string(c.line) + ": " +
                                   c.reason + ".");
    EXPECT_EQ(outcome.stderrtext, c.shown + "\n" + std::string(c.column - 1, ' ') +
                                      "^ (column " + std::to_string(c.column) + ")\n");
  }
}

TEST_F(LibraryParse, long_tokens_and_lenient_integer_conversion) {
  // 127 characters are the limit; "1-2" converts to 1.
  const std::string text =
      header + "MA " + std::string(126, '0') + "7 1-2 3 4\n" + row + "END\nEND\n";
  const ParseOutcome outcome = parsetext(text, &dna, &collection);
  ASSERT_EQ(outcome.status, 0) << outcome.message;
  EXPECT_EQ(introw(&collection.profiles[0], 0), (std::vector<int64_t>{7, 1, 3, 4, intminus}));
  collection_free(&collection, false, false);
}

TEST_F(LibraryParse, synonym_columns_fail_at_the_end_of_the_al_line) {
  // U alone names the class of T, U, t and u once; T and U together name it twice.
  ParseOutcome outcome = parsetext(
      header.substr(0, header.find("AL")) + "AL ACGU\nLE 1\nMA 1 2 3 4\nEND\nEND\n", &dna, &collection);
  ASSERT_EQ(outcome.status, 0) << outcome.message;
  EXPECT_EQ(outcome.stderrtext, "");
  EXPECT_EQ(introw(&collection.profiles[0], 0), (std::vector<int64_t>{1, 2, 3, 4, intminus}));
  collection_free(&collection, false, false);

  outcome = parsetext(matrix + "ID m\nAL ACGTU\nLE 1\nMA 1 2 3 4 5\nEND\nEND\n", &dna, &collection);
  EXPECT_EQ(outcome.status, -1);
  EXPECT_EQ(outcome.code, 1);
  EXPECT_EQ(outcome.message,
            "Character `U' is a synonym for at least one other character in the input sequence "
            "alphabet (they are all represented by the same symbolic value 3). There is no way to "
            "decide which of the given profile columns apply for scoring (line 4).\n"
            "Offending mapping: U -> {TUtu}.");
  EXPECT_EQ(outcome.stderrtext, "AL ACGTU\n        ^ (column 9)\n");
}

TEST_F(LibraryParse, predefined_alphabet_that_the_sequence_alphabet_cannot_tell_apart) {
  // A reduced protein alphabet folds D, E, N and Q into one symbol.
  Alphabet reduced;
  const char mapfile[] = "LVIM\nC\nA\nG\nST\nP\nFYW\nEDNQ\nKR\nH\nXUBZ*-\n";
  FILE *stream = fmemopen(const_cast<char *>(mapfile), sizeof mapfile - 1, "r");
  ASSERT_EQ(readsymbolmap(&reduced, "reduced", stream), 0);
  std::fclose(stream);

  const std::string text = matrix + "ID m\nAP PROTEIN\nLE 1\n";
  ParseOutcome outcome = parsetext(text, &reduced, &collection);
  EXPECT_EQ(outcome.status, -1);
  EXPECT_EQ(outcome.code, 1);
  EXPECT_EQ(outcome.message,
            "Character `E' is a synonym for at least one other character in the input sequence "
            "alphabet (they are all represented by the same symbolic value 7). There is no way to "
            "decide which of the given profile columns apply for scoring.\n"
            "Offending mapping: E -> {DENQ}.");
  EXPECT_EQ(outcome.stderrtext, "AP PROTEIN\n          ^ (column 11)\n");

  // The failed probe is no error while no matrix names that alphabet.
  outcome = parsetext(matrix + "ID m\nAP DNA\nLE 1\nMA 1 2 3 4\nEND\nEND\n", &reduced, &collection);
  ASSERT_EQ(outcome.status, 0) << outcome.message;
  EXPECT_EQ(geterrorcode(), 0);
  collection_free(&collection, false, false);
}

}  // namespace

// A matrix given by its values becomes the profile that parsing its library entry gives: the
// same texts, group, alphabet copy (with its column adjustments), cells, bounds and
// warnings, or the same failure; over letter orders, cases, synonyms, wildcards, letters the
// alphabet lacks and both alphabets.
TEST_F(LibraryParse, integer_matrix_from_values_equals_its_parsed_entry) {
  struct Case {
    const char *letters;
    bool protein;
  };
  const Case cases[] = {{"ACGT", false}, {"TGCA", false}, {"acgu", false}, {"ACGTN", false},
                        {"ACGX", false}, {"ACGTU", false}, {"ACDEFGHIKLMNPQRSTVWY", true},
                        {"ACGT", true}};
  int failures = 0, warned = 0;
  for (const Case &c : cases) {
    const Alphabet *alpha = c.protein ? &protein : &dna;
    const std::string letters = c.letters;
    const uint64_t rows = 3;
    std::vector<int64_t> values;
    for (uint64_t i = 0; i < rows * letters.size(); i++) {
      values.push_back(static_cast<int64_t>(i * 37 % 11) * 100 - 500);
    }
    std::string text = "BEGIN GROUP\nBEGIN INT\nID name one\nAC MA0001.1\nDE file.jaspar MA0001.1\n";
    text.append("AL ").append(letters).append("\nLE 3\n");
    for (uint64_t r = 0; r < rows; r++) {
      text += "MA";
      for (size_t i = 0; i < letters.size(); i++) {
        text.append(" ").append(std::to_string(values[r * letters.size() + i]));
      }
      text += "\n";
    }
    text += "END\nEND\n";
    ProfileCollection parsed{};
    const ParseOutcome outcome = parsetext(text, alpha, &parsed);

    ProfileCollection made{};
    ASSERT_EQ(collection_init(&made, alpha), 0);
    std::vector<ClassTable> classes(1);
    buildcharacterclasses(classes.data(), alpha);
    IntegerMatrix matrix;
    matrix.identifier = "name one";
    matrix.accession = "MA0001.1";
    matrix.description = "file.jaspar MA0001.1";
    matrix.letters = letters;
    matrix.rows = rows;
    matrix.values = values.data();
    matrix.beginline = 2;
    matrix.alphabetline = 6;
    outputinit(false, true);
    clearerrorcode();
    testing::internal::CaptureStderr();
    const int status = appendintegermatrix(&made, classes.data(), matrix);
    const std::string warnings = testing::internal::GetCapturedStderr();
    outputinit(true, true);
    ASSERT_EQ(status, outcome.status) << letters;
    if (status != 0) {
      EXPECT_EQ(std::string(errormessagespace()), outcome.message) << letters;
      collection_free(&made, false, false);
      failures++;
      continue;
    }
    // The parse shows no failure here, so its standard error holds the warnings alone.
    EXPECT_EQ(warnings, outcome.stderrtext) << letters;
    warned += !warnings.empty();
    ASSERT_EQ(made.numofprofiles, 1u);
    ASSERT_EQ(made.numofgroups, parsed.numofgroups);
    const Profile &a = made.profiles[0], &b = parsed.profiles[0];
    EXPECT_STREQ(a.identifier, b.identifier);
    EXPECT_STREQ(a.accession, b.accession);
    EXPECT_STREQ(a.description, b.description);
    EXPECT_EQ(a.groupnumber, b.groupnumber);
    EXPECT_EQ(a.groupposition, b.groupposition);
    EXPECT_EQ(a.beginline, b.beginline);
    EXPECT_EQ(a.alphabet.mapsize, b.alphabet.mapsize);
    EXPECT_EQ(0, std::memcmp(a.alphabet.symbolmap, b.alphabet.symbolmap, sizeof a.alphabet.symbolmap));
    EXPECT_EQ(0, std::memcmp(a.alphabet.characters, b.alphabet.characters,
                             sizeof a.alphabet.characters));
    EXPECT_EQ(a.matrix.m, b.matrix.m);
    EXPECT_EQ(a.matrix.minscore.i, b.matrix.minscore.i) << letters;
    EXPECT_EQ(a.matrix.maxscore.i, b.matrix.maxscore.i) << letters;
    EXPECT_EQ(a.smallestvalue.i, b.smallestvalue.i) << letters;
    for (uint64_t r = 0; r < rows; r++) EXPECT_EQ(introw(&a, r), introw(&b, r)) << letters;
    collection_free(&made, false, false);
    collection_free(&parsed, false, false);
  }
  // The cases reach a failure and warnings.
  EXPECT_GT(failures, 0);
  EXPECT_GT(warned, 0);
}
