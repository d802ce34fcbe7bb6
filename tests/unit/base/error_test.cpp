// The ErrorBuffer: capacity limit, codes, fatal paths.
#include <gtest/gtest.h>

#include <string>

#include "base/error.hpp"

TEST(ErrorBuffer, report_sets_text_and_code_textonly_leaves_code) {
  clearerrorcode();
  EXPECT_EQ(reporttext("cannot open file \"%s\"", "x"), -1);
  EXPECT_STREQ(errormessagespace(), "cannot open file \"x\"");
  EXPECT_EQ(geterrorcode(), 0);
  EXPECT_EQ(reporterror("value %d", 7), -1);
  EXPECT_STREQ(errormessagespace(), "value 7");
  EXPECT_EQ(geterrorcode(), 1);
  clearerrorcode();
  EXPECT_STREQ(errormessagespace(), "value 7");  // clearing the code keeps the text
  EXPECT_EQ(errormessagecapacity(), 1024u);
}

TEST(ErrorBuffer, message_of_1023_characters_fits_1024_is_fatal) {
  const std::string fits(1023, 'x');
  reporterror("%s", fits.c_str());
  EXPECT_EQ(std::string(errormessagespace()), fits);
  const std::string toolong(1024, 'x');
  EXPECT_EXIT(reporterror("%s", toolong.c_str()), testing::ExitedWithCode(1),
              "^file error_test, line [0-9]+: space for errormessage too small\n$");
}

TEST(ErrorBuffer, internal_error_names_unit_and_line) {
  const int line = __LINE__ + 1;
  EXPECT_EQ(internalerror(), -1);
  EXPECT_EQ(std::string(errormessagespace()),
            "Internal program error (error_test, line " + std::to_string(line) +
                "). This should not happen. :-(");
  EXPECT_EQ(geterrorcode(), 1);
  clearerrorcode();
}

TEST(ErrorBuffer, fatal_paths_print_one_line_and_exit_1) {
  EXPECT_EXIT(fatalcase(), testing::ExitedWithCode(1),
              "^error_test: line [0-9]+: This case is not supposed to occur\n$");
  EXPECT_EXIT(allocorexit<char>(nullptr, SIZE_MAX / 2), testing::ExitedWithCode(1),
              "^file error_test, line [0-9]+: malloc\\([0-9]+\\) failed\n$");
  // A count whose byte size does not fit a size_t fails instead of wrapping to a small block.
  EXPECT_EXIT(allocorexit<int64_t>(nullptr, SIZE_MAX / 4), testing::ExitedWithCode(1),
              "^file error_test, line [0-9]+: malloc\\(18446744073709551615\\) failed\n$");
  EXPECT_EQ(sourceunit("src/matching/profile.templ.hpp"), "profile.templ");
}
