// Frequency files: values, warnings, the sum check, every parsing error, and the uniform
// background.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "statistics/freqfileparser.hpp"
#include "statisticsfixture.hpp"

namespace {

struct Loaded {
  std::vector<double> frequencies;  // empty after a failure
  std::string errors;               // standard error
  std::string message;              // the ErrorBuffer after a failure
  int64_t code;
};

class FrequencyFile : public testing::Test {
 protected:
  void SetUp() override { dnaalphabet(&dna); }

  Loaded load(const std::string &content, bool warnings = true, bool status = false) {
    const std::string file = folder.write("freq" + std::to_string(files++), content);
    return loadfile(file.c_str(), warnings, status);
  }
  Loaded loadfile(const char *file, bool warnings = true, bool status = false,
                  const Alphabet *alpha = nullptr) {
    if (alpha == nullptr) alpha = &dna;
    Loaded loaded;
    stattest::clearerror();
    double *frequencies = nullptr;
    loaded.errors = stattest::capturestderr(status, warnings,
                                            [&] { frequencies = loadfrequencies(file, alpha); });
    if (frequencies != nullptr) {
      loaded.frequencies.assign(frequencies, frequencies + alpha->mapsize);
      std::free(frequencies);
    }
    loaded.message = stattest::errortext();
    loaded.code = geterrorcode();
    clearerrorcode();
    return loaded;
  }
  void expectparsingerror(const std::string &content, const std::string &message) {
    const Loaded loaded = load(content);
    EXPECT_TRUE(loaded.frequencies.empty()) << content;
    EXPECT_EQ(loaded.message, message) << content;
    EXPECT_EQ(loaded.code, 1);
  }

  Alphabet dna;
  ScratchFolder folder;
  int files = 0;
};

}  // namespace

TEST_F(FrequencyFile, values_land_on_their_symbol_codes) {
  Loaded loaded = load("# background\na 0.3\nc\t0.2\n\ng 0.2  \nt 0.3\n", true, true);
  EXPECT_EQ(loaded.frequencies, (std::vector<double>{0.3, 0.2, 0.2, 0.3, 0.0}));
  EXPECT_EQ(loaded.errors.rfind("Reading frequencies from `", 0), 0u) << loaded.errors;
  EXPECT_EQ(loaded.errors.find("WARNING"), std::string::npos);

  // Lines add up for characters of one code (a and A); the order is free, symbols may be
  // missing, and the last line needs no newline.
  loaded = load("t 0.5\na 0.1\nA 0.2\nT\t \t-0.1");
  EXPECT_NEAR(loaded.frequencies[0], 0.3, 1e-15);
  EXPECT_EQ(loaded.frequencies[1], 0.0);
  EXPECT_NEAR(loaded.frequencies[3], 0.4, 1e-15);
  EXPECT_EQ(loaded.errors,
            "WARNING: sum of relative frequencies is not 1.0 (calculated 0.700000).\n");
}

TEST_F(FrequencyFile, wildcard_undefined_and_separator_characters_warn) {
  Loaded loaded = load("a 0.25\nc 0.25\ng 0.2\nt 0.2\nn 0.1\n");
  EXPECT_EQ(loaded.frequencies, (std::vector<double>{0.25, 0.25, 0.2, 0.2, 0.1}));
  EXPECT_EQ(loaded.errors,
            "WARNING: character `n' is defined as a wildcard in the input alphabet (line 5).\n");

  // An undefined character's value is dropped and counts nowhere.
  loaded = load("a 0.25\nc 0.25\ng 0.25\nt 0.25\nx 0.5\n");
  EXPECT_EQ(loaded.frequencies, (std::vector<double>{0.25, 0.25, 0.25, 0.25, 0.0}));
  EXPECT_EQ(loaded.errors, "WARNING: character `x' is undefined in the input alphabet (line 5).\n");

  Alphabet separated = dna;
  separated.symbolmap[static_cast<unsigned char>('|')] = SEPARATORCODE;
  const std::string file = folder.write("separator", "| 0.5\na 1\n");
  loaded = loadfile(file.c_str(), true, false, &separated);
  EXPECT_EQ(loaded.frequencies, (std::vector<double>{1.0, 0.0, 0.0, 0.0, 0.0}));
  EXPECT_EQ(loaded.errors,
            "WARNING: character `|' is defined as the special separator character in the input "
            "alphabet (line 1).\n");
}

TEST_F(FrequencyFile, sum_check_only_with_warnings_and_without_normalising) {
  Loaded loaded = load("a 0.3\nc 0.2\ng 0.2\nt 0.2\n");
  EXPECT_EQ(loaded.errors,
            "WARNING: sum of relative frequencies is not 1.0 (calculated 0.900000).\n");
  EXPECT_EQ(loaded.frequencies[3], 0.2);
  loaded = load("a 0.3\nc 0.2\ng 0.2\nt 0.2\nn 0.5\nx 1\n", false);
  EXPECT_EQ(loaded.errors, "");
  EXPECT_EQ(loaded.frequencies[4], 0.5);
  // Values above 1 and negative values are taken as they are here.
  loaded = load("a 1.5\nc -0.5\n");
  EXPECT_EQ(loaded.frequencies, (std::vector<double>{1.5, -0.5, 0.0, 0.0, 0.0}));
  EXPECT_EQ(loaded.errors, "");
}

TEST_F(FrequencyFile, format_errors_name_their_line) {
  expectparsingerror("a 0.25\nc0.25\n",
                     "Parsing error in line 2: expecting white space after token.");
  expectparsingerror("# first\n\na 0.25\nc 0.25x\n",
                     "Parsing error in line 4: numeric value expected.");
  expectparsingerror("a 0.25 x\n", "Parsing error in line 1: extra characters after numeric value.");
  expectparsingerror("a 0.25\nc", "Parsing error in line 2: unexpected end of file.");
  expectparsingerror("a \n", "Parsing error in line 1: numeric value expected.");
  expectparsingerror("a 1-2,5\n", "Parsing error in line 1: numeric value expected.");
  expectparsingerror("a 0.25\r\n", "Parsing error in line 1: numeric value expected.");
  expectparsingerror("a " + std::string(128, '1') + "\n",
                     "Parsing error in line 1: input too long.");
  EXPECT_FALSE(load("a " + std::string(127, '0') + "\n").frequencies.empty());
  // A line of blanks is not an empty line.
  expectparsingerror("a 0.5\n  \n", "Parsing error in line 2: numeric value expected.");
}

TEST_F(FrequencyFile, unreadable_files_and_the_uniform_background) {
  const std::string missing = folder.path("missing");
  Loaded loaded = loadfile(missing.c_str());
  EXPECT_TRUE(loaded.frequencies.empty());
  EXPECT_EQ(loaded.message, "Failed to open file `" + missing + "'.");
  EXPECT_EQ(loaded.code, 1);
  const std::string empty = folder.write("empty", "");
  EXPECT_EQ(loadfile(empty.c_str()).message, "Failed to open file `" + empty + "'.");

  loaded = loadfile(nullptr, true, true);
  EXPECT_EQ(loaded.frequencies, (std::vector<double>{0.25, 0.25, 0.25, 0.25, 0.0}));
  EXPECT_EQ(loaded.errors, "Assuming uniform character distribution.\n");
  Alphabet protein;
  proteinalphabet(&protein);
  loaded = loadfile(nullptr, true, false, &protein);
  ASSERT_EQ(loaded.frequencies.size(), 21u);
  EXPECT_EQ(loaded.frequencies[0], 0.05);
  EXPECT_EQ(loaded.frequencies[20], 0.0);
  EXPECT_EQ(loaded.errors, "");
}
