// Character classes and the check of a matrix's columns against the DNA, protein and a
// symbol-map alphabet: synonym errors, warnings and the adjusted alphabet copy.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/error.hpp"
#include "base/output.hpp"
#include "sequences/characterclasses.hpp"

namespace {

struct CheckOutcome {
  int result;
  std::string warnings;
  Alphabet adjusted;
};

CheckOutcome check(const Alphabet *alpha, const std::string &columns, uint64_t line,
                   bool warnings = true) {
  ClassTable table;
  buildcharacterclasses(&table, alpha);
  outputinit(true, warnings);
  CheckOutcome outcome;
  testing::internal::CaptureStderr();
  outcome.result = checkcompatibility(&table, reinterpret_cast<const unsigned char *>(columns.data()),
                                      columns.size(), &outcome.adjusted, line);
  outcome.warnings = testing::internal::GetCapturedStderr();
  outputinit(true, true);
  return outcome;
}

std::string nocolumn(char c, int line) {
  return std::string("WARNING: character `") + c +
         "' may occur in the input sequence, but is not defined for the PSSM given on line " +
         std::to_string(line) + ".\n";
}

TEST(CharacterClasses, classes_list_every_byte_of_a_code_in_increasing_order) {
  Alphabet dna;
  dnaalphabet(&dna);
  ClassTable table;
  buildcharacterclasses(&table, &dna);
  uint64_t code;
  const CharacterClass *t = classofcharacter(&table, &dna, 'u', &code);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(code, 3u);
  EXPECT_STREQ(t->members, "TUtu");
  EXPECT_EQ(t->length, 4u);
  const CharacterClass *wildcard = classofcharacter(&table, &dna, 'N', &code);
  ASSERT_NE(wildcard, nullptr);
  EXPECT_EQ(code, WILDCARDCODE);
  EXPECT_EQ(wildcard->length, 22u);
  EXPECT_EQ(classofcharacter(&table, &dna, 'X', &code), nullptr);
  EXPECT_EQ(code, UNDEFINEDCODE);
}

TEST(CharacterClasses, dna_columns) {
  Alphabet dna;
  dnaalphabet(&dna);
  CheckOutcome outcome = check(&dna, "ACGT", 3);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.warnings, "");
  EXPECT_EQ(0, std::memcmp(&outcome.adjusted, &dna, sizeof dna));

  outcome = check(&dna, "ACG", 12);
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(outcome.warnings,
            "WARNING: character class {TUtu} may occur in the input sequence, but no column for "
            "any of its representatives is defined in the PSSM given on line 12.\n");
  for (char c : std::string("tTuU"))
    EXPECT_EQ(outcome.adjusted.symbolmap[static_cast<unsigned char>(c)], UNDEFINEDCODE) << c;
  EXPECT_EQ(outcome.adjusted.symbolmap[static_cast<unsigned char>('g')], 2u);
  EXPECT_EQ(outcome.adjusted.characters[3], '~');
  EXPECT_EQ(outcome.adjusted.characters[2], 'g');

  // Suppressed warnings change nothing but the output.
  const CheckOutcome quiet = check(&dna, "ACG", 12, false);
  EXPECT_EQ(quiet.result, 1);
  EXPECT_EQ(quiet.warnings, "");
  EXPECT_EQ(0, std::memcmp(&quiet.adjusted, &outcome.adjusted, sizeof dna));

  // A probe (line 0) warns about nothing but adjusts the same way.
  const CheckOutcome probe = check(&dna, "ACG", 0);
  EXPECT_EQ(probe.warnings, "");
  EXPECT_EQ(0, std::memcmp(&probe.adjusted, &outcome.adjusted, sizeof dna));
}

TEST(CharacterClasses, synonyms_are_errors_with_or_without_a_line) {
  Alphabet dna;
  dnaalphabet(&dna);
  clearerrorcode();
  CheckOutcome outcome = check(&dna, "ACGTU", 7);
  EXPECT_EQ(outcome.result, -1);
  EXPECT_EQ(geterrorcode(), 1);
  EXPECT_STREQ(errormessagespace(),
               "Character `U' is a synonym for at least one other character in the input "
               "sequence alphabet (they are all represented by the same symbolic value 3). There "
               "is no way to decide which of the given profile columns apply for scoring (line "
               "7).\nOffending mapping: U -> {TUtu}.");
  outcome = check(&dna, "aA", 0);
  EXPECT_EQ(outcome.result, -1);
  EXPECT_STREQ(errormessagespace(),
               "Character `A' is a synonym for at least one other character in the input "
               "sequence alphabet (they are all represented by the same symbolic value 0). There "
               "is no way to decide which of the given profile columns apply for scoring.\n"
               "Offending mapping: A -> {Aa}.");
  clearerrorcode();

  // Two wildcard characters are no synonyms: neither column can match anyway.
  outcome = check(&dna, "ACGTNn", 2, false);
  EXPECT_EQ(outcome.result, 1);
}

TEST(CharacterClasses, protein_columns_with_a_wildcard) {
  Alphabet protein;
  proteinalphabet(&protein);
  const CheckOutcome outcome = check(&protein, "ACGTX", 9);
  EXPECT_EQ(outcome.result, 1);
  std::string expected =
      "WARNING: character `X' is defined as a wildcard in the input alphabet, it won't match "
      "even if it is defined for the PSSM on line 9.\n";
  for (char c : std::string("DEFHIKLMNPQRSVWY")) expected += nocolumn(c, 9);
  EXPECT_EQ(outcome.warnings, expected);
  EXPECT_EQ(outcome.adjusted.symbolmap[static_cast<unsigned char>('L')], UNDEFINEDCODE);
  EXPECT_EQ(outcome.adjusted.characters[0], '~');
  EXPECT_EQ(outcome.adjusted.symbolmap[static_cast<unsigned char>('A')], 8u);
  EXPECT_EQ(outcome.adjusted.symbolmap[static_cast<unsigned char>('X')], WILDCARDCODE);

  // Lower-case letters are undefined for the protein alphabet.
  const CheckOutcome lower = check(&protein, "LVIFKREDAGSTNQYWPHMCa", 4);
  EXPECT_EQ(lower.warnings,
            "WARNING: character `a' is undefined in the input alphabet, it won't match even if it "
            "is defined for the PSSM on line 4.\n");
}

TEST(CharacterClasses, symbol_map_alphabet_and_missing_column_warnings) {
  Alphabet reduced;
  const char mapfile[] = "LVIM\nC\nA\nG\nST\nP\nFYW\nEDNQ\nKR\nH\nXUBZ*-\n";
  FILE *stream = fmemopen(const_cast<char *>(mapfile), sizeof mapfile - 1, "r");
  ASSERT_EQ(readsymbolmap(&reduced, "reduced", stream), 0);
  std::fclose(stream);

  CheckOutcome outcome = check(&reduced, "LCAGSPFEKH", 5);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.warnings, "");
  outcome = check(&reduced, "LCAGSPFEK", 5);
  EXPECT_EQ(outcome.warnings, nocolumn('H', 5));
  EXPECT_EQ(outcome.adjusted.symbolmap[static_cast<unsigned char>('H')], UNDEFINEDCODE);
  EXPECT_EQ(outcome.adjusted.characters[9], '~');
  outcome = check(&reduced, "LI", 5);
  EXPECT_EQ(outcome.result, -1);

  // The warnings for a predefined alphabet come in code order and name whole classes.
  ClassTable table;
  buildcharacterclasses(&table, &reduced);
  Alphabet adjusted;
  ASSERT_EQ(checkcompatibility(&table, reinterpret_cast<const unsigned char *>("ACGT"), 4,
                               &adjusted, 0),
            1);
  testing::internal::CaptureStderr();
  warnmissingcolumns(&table, &adjusted, 6);
  const std::string warnings = testing::internal::GetCapturedStderr();
  auto cls = [](const char *members) {
    return std::string("WARNING: character class {") + members +
           "} may occur in the input sequence, but no column for any of its representatives is "
           "defined in the PSSM given on line 6.\n";
  };
  EXPECT_EQ(warnings, cls("ILMV") + nocolumn('P', 6) + cls("FWY") + cls("DENQ") + cls("KR") +
                          nocolumn('H', 6));
}

}  // namespace
