// The shared tokens: where number tokens end, what they accept, and where the cursor stops.
#include <gtest/gtest.h>

#include <string>

#include "base/tokenizer.hpp"

namespace {

TextCursor cursorover(const std::string &text) {
  return TextCursor{text.data(), text.data() + text.size(), 1};
}

TEST(Tokenizer, integer_tokens) {
  const std::string text = "-12\t34\n1-2 x5 -";
  TextCursor cursor = cursorover(text);
  int64_t value = 0;
  EXPECT_EQ(readintegertoken(&cursor, true, &value), nullptr);
  EXPECT_EQ(value, -12);
  EXPECT_EQ(cursor.pos, text.data() + 3);
  skipblanks(&cursor);
  EXPECT_EQ(readintegertoken(&cursor, false, &value), nullptr);
  EXPECT_EQ(value, 34);
  EXPECT_TRUE(atendofline(&cursor));
  skipline(&cursor);
  EXPECT_EQ(cursor.line, 2u);
  EXPECT_EQ(readintegertoken(&cursor, true, &value), nullptr);
  EXPECT_EQ(value, 1);
  skipblanks(&cursor);
  EXPECT_STREQ(readintegertoken(&cursor, true, &value), "numeric value expected");
  EXPECT_EQ(*cursor.pos, 'x');
  cursor.pos += 3;
  EXPECT_STREQ(readintegertoken(&cursor, true, &value), "numeric value expected");  // "-" alone
  EXPECT_EQ(*cursor.pos, '-');

  // Digits only: the minus sign is refused where it is not allowed.
  const std::string negative = "-5";
  cursor = cursorover(negative);
  EXPECT_STREQ(readintegertoken(&cursor, false, &value), "numeric value expected");
}

TEST(Tokenizer, float_tokens_and_the_length_limit) {
  const std::string text = "+.5e1 1.5x";
  TextCursor cursor = cursorover(text);
  double value = 0;
  EXPECT_EQ(readfloattoken(&cursor, &value), nullptr);
  EXPECT_EQ(value, 5.0);
  skipblanks(&cursor);
  EXPECT_STREQ(readfloattoken(&cursor, &value), "numeric value expected");
  EXPECT_EQ(*cursor.pos, 'x');

  const std::string longest(127, '1');
  cursor = cursorover(longest);
  EXPECT_EQ(readfloattoken(&cursor, &value), nullptr);
  EXPECT_TRUE(atend(&cursor));
  const std::string toolong(128, '1');
  cursor = cursorover(toolong);
  EXPECT_STREQ(readfloattoken(&cursor, &value), "input too long");
  EXPECT_EQ(cursor.pos, toolong.data() + 127);
}

TEST(Tokenizer, comment_lines_and_tag_values) {
  const std::string text = "# c\n\n#\nvalue with  blanks \nID";
  TextCursor cursor = cursorover(text);
  skipcommentlines(&cursor);
  EXPECT_EQ(cursor.line, 4u);
  const char *start;
  uint64_t length;
  EXPECT_EQ(readtagvalue(&cursor, &start, &length), nullptr);
  EXPECT_EQ(std::string(start, length), "value with  blanks ");
  EXPECT_EQ(*cursor.pos, '\n');
  EXPECT_STREQ(readtagvalue(&cursor, &start, &length), "empty tag");
  skipline(&cursor);
  EXPECT_TRUE(lookingat(&cursor, "ID"));
  EXPECT_FALSE(lookingat(&cursor, "IDX"));
  EXPECT_EQ(readtagvalue(&cursor, &start, &length), nullptr);
  EXPECT_EQ(length, 2u);
  EXPECT_TRUE(atend(&cursor));
}

}  // namespace
