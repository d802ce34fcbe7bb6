// The option processor: declaration rules, exact matching, exclusions and the help layout.
#include "base/procopt.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/error.hpp"

namespace {

constexpr std::array<OptionDeclaration, 4> declarations = {{
    {"-help", "Show help screen."},
    {"-seqrange", "First line.\nSecond line."},
    {"-db", "Database."},
    {"-q", "Quiet."},
}};

std::string printhelp(const OptionEntry *table, uint64_t count) {
  FILE *out = std::tmpfile();
  printoptionhelp(out, "prog", table, count);
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
  std::fclose(out);
  return text;
}

}  // namespace

TEST(Procopt, declaration_rules_and_messages) {
  OptionEntry table[3];
  initoptiontable(table, 3);
  EXPECT_EQ(declareoption(table, 3, 3, "-x", ""), -1);
  EXPECT_STREQ(errormessagespace(), "option number 3 out of range [0,2]");
  EXPECT_EQ(declareoption(table, 3, 0, "-a", ""), 0);
  EXPECT_EQ(declareoption(table, 3, 0, "-a", ""), 0);   // number 0 may be declared again
  EXPECT_EQ(declareoption(table, 3, 2, "-c", ""), -3);  // the last one, with 1 missing
  EXPECT_STREQ(errormessagespace(), "option 1 not declared");
  EXPECT_EQ(declareoption(table, 3, 2, "-c", ""), -2);
  EXPECT_STREQ(errormessagespace(), "option 2 already declared");
  EXPECT_EQ(geterrorcode(), 0);  // text only: the program sets the code
  EXPECT_EQ(declareoption(table, 3, 1, "-b", ""), 0);

  EXPECT_EQ(declareoptions(table, declarations.data(), 3), 0);
  static_assert(optionindex(declarations, "-db") == 2);
  static_assert(optionindex(declarations, "-q") == 3);
}

TEST(Procopt, findoption_matches_exactly_and_once) {
  OptionEntry table[4];
  ASSERT_EQ(declareoptions(table, declarations.data(), 4), 0);
  EXPECT_EQ(findoption(table, 4, "-seq"), -2);  // a prefix is not the option
  EXPECT_STREQ(errormessagespace(), "illegal option \"-seq\"");
  EXPECT_EQ(findoption(table, 4, "database.fna"), -2);
  EXPECT_STREQ(errormessagespace(), "illegal option \"database.fna\"");
  EXPECT_EQ(findoption(table, 4, "-q"), 3);
  EXPECT_EQ(table[3].present, 1);
  EXPECT_EQ(table[2].present, 0);
  EXPECT_EQ(findoption(table, 4, "-q"), -1);
  EXPECT_STREQ(errormessagespace(), "option \"-q\" already set");
  EXPECT_EQ(geterrorcode(), 0);
}

TEST(Procopt, exclusions_follow_list_order_and_skip_absent_leaders) {
  OptionEntry table[4];
  ASSERT_EQ(declareoptions(table, declarations.data(), 4), 0);
  // Group (help: seqrange db) and group (seqrange: q).
  const int32_t list[] = {0, 1, 2, -1, 1, 3, -1};
  table[1].present = table[2].present = 1;
  EXPECT_EQ(checkexclusions(table, list, 7), 0);  // leader -help absent: group skipped whole
  table[3].present = 1;
  EXPECT_EQ(checkexclusions(table, list, 7), -1);
  EXPECT_STREQ(errormessagespace(), "option -seqrange and option -q exclude each other");
  table[0].present = 1;
  EXPECT_EQ(checkexclusions(table, list, 7), -1);
  EXPECT_STREQ(errormessagespace(), "option -help and option -seqrange exclude each other");

  constexpr std::array<ExclusionPair, 2> pairs = {{{"-db", "-q"}, {"-help", "-seqrange"}}};
  constexpr auto built = makeexclusionlist(declarations, pairs);
  EXPECT_EQ(built, (std::array<int32_t, 6>{2, 3, -1, 0, 1, -1}));
}

TEST(Procopt, help_aligns_names_and_continuation_lines) {
  OptionEntry table[4];
  ASSERT_EQ(declareoptions(table, declarations.data(), 4), 0);
  EXPECT_EQ(printhelp(table, 4),
            "-help      Show help screen.\n"
            "-seqrange  First line.\n"
            "           Second line.\n"
            "-db        Database.\n"
            "-q         Quiet.\n");
  table[2].number = 5;
  EXPECT_EXIT(printhelp(table, 4), testing::ExitedWithCode(1),
              "^prog: optvalue 5 for option \"-db\" must be 2\n$");
}
