// The zelkosearch command line (threaded build): what accepted command lines put into the
// RunConfiguration, value conversions at their limits, and the processor count of -j. The
// messages of rejected command lines are covered by the golden end-to-end cases.
#include "search/cmdline.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/error.hpp"

namespace {

// Owns the words so that the texts in the configuration stay valid.
struct Words {
  std::vector<std::string> words;
  std::vector<char *> argv;
  RunConfiguration config;

  CommandLineOutcome parse(std::vector<std::string> arguments) {
    clearerrorcode();
    words = std::move(arguments);
    words.insert(words.begin(), "zelkosearch");
    argv.clear();
    for (std::string &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return parsecommandline(&config, static_cast<int>(words.size()), argv.data());
  }
  // The accepted base command line with extra words.
  CommandLineOutcome run(std::vector<std::string> extra) {
    std::vector<std::string> arguments = {"-db", "seq.fna", "-pr", "lib.txt", "-simple"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return parse(arguments);
  }
  std::string message() const { return errormessagespace(); }
};

}  // namespace

TEST(CommandLine, accepted_settings_reach_the_configuration) {
  Words w;
  ASSERT_EQ(w.run({"-rawth", "7.5"}), COMMANDLINE_RUN) << w.message();
  EXPECT_STREQ(w.config.settings.databasename, "seq.fna");
  EXPECT_STREQ(w.config.settings.libraryname, "lib.txt");
  EXPECT_EQ(w.config.settings.thresholdkind, THRESHOLD_RAW);
  EXPECT_EQ(w.config.settings.thresholdvalue, 7.5);
  EXPECT_EQ(w.config.settings.strands, STRAND_FORWARD);  // no strand option: forward only
  EXPECT_EQ(w.config.settings.algorithm, ALGORITHM_SIMPLE);
  EXPECT_EQ(w.config.format, FORMAT_HUMAN);
  EXPECT_EQ(w.config.settings.jobs, 1u);
  EXPECT_EQ(w.config.settings.multiplier, 1.0);
  EXPECT_EQ(w.config.report, nullptr);
  EXPECT_EQ(w.config.sortkeys, nullptr);

  ASSERT_EQ(w.run({"-rawth", "1", "-2", "-fn"}), COMMANDLINE_RUN) << w.message();
  EXPECT_EQ(w.config.settings.strands, 9);
  ASSERT_EQ(w.run({"-rawth", "1", "-rn", "-fc"}), COMMANDLINE_RUN) << w.message();
  EXPECT_EQ(w.config.settings.strands, 6);

  ASSERT_EQ(w.parse({"-db", "d", "-pr", "p", "-lahead", "-best", "+12", "-uniform", "-lazy",
                     "-mult", "2.5", "-seqrange", "5:5", "-format", "cisml", "-q", "-j", "3"}),
            COMMANDLINE_RUN)
      << w.message();
  EXPECT_EQ(w.config.settings.thresholdkind, THRESHOLD_KBEST);
  EXPECT_EQ(w.config.settings.kbest, 12u);
  EXPECT_TRUE(w.config.frequenciesgiven);
  EXPECT_EQ(w.config.settings.frequencyname, nullptr);
  EXPECT_TRUE(w.config.settings.lazy);
  EXPECT_EQ(w.config.settings.multiplier, 2.5);
  EXPECT_TRUE(w.config.seqrangegiven);
  EXPECT_EQ(w.config.seqrangelower, 5u);
  EXPECT_EQ(w.config.seqrangeupper, 5u);
  EXPECT_EQ(w.config.format, FORMAT_CISML);
  EXPECT_STREQ(w.config.sortkeys, "gn");  // CisML is collected by group, then sequence
  EXPECT_TRUE(w.config.statusoff);
  EXPECT_TRUE(w.config.warningsoff);
  EXPECT_EQ(w.config.settings.jobs, 3u);
  EXPECT_EQ(w.config.settings.algorithm, ALGORITHM_LOOKAHEAD);

  ASSERT_EQ(w.parse({"-db", "d", "-pr", "p", "-esa", "-eval", "1e-3", "-pdis", "dist.gz", "-dbsize",
                     "1000", "-freq", "f"}),
            COMMANDLINE_ERROR);  // -pdis and -freq exclude each other
  ASSERT_EQ(w.parse({"-db", "d", "-pr", "p", "-esa", "-eval", "1e-3", "-pdis", "dist.gz", "-dbsize",
                     "1000", "-sort", "ep", "-qw"}),
            COMMANDLINE_RUN)
      << w.message();
  EXPECT_EQ(w.config.settings.thresholdkind, THRESHOLD_EVALUE);
  EXPECT_DOUBLE_EQ(w.config.settings.thresholdvalue, 1e-3);
  EXPECT_STREQ(w.config.settings.distributionname, "dist.gz");
  EXPECT_TRUE(w.config.distributiongiven);
  EXPECT_TRUE(w.config.dbsizegiven);
  EXPECT_EQ(w.config.settings.dbsize, 1000u);
  EXPECT_STREQ(w.config.sortkeys, "ep");
  EXPECT_TRUE(w.config.warningsoff);
  EXPECT_FALSE(w.config.statusoff);
}

TEST(CommandLine, reading_stops_at_help_version_and_first_error) {
  Words w;
  EXPECT_EQ(w.parse({"-help", "-nonsense"}), COMMANDLINE_HELP);
  EXPECT_EQ(w.parse({"-version", "-fn", "-fn"}), COMMANDLINE_VERSION);
  EXPECT_EQ(w.parse({"-fn", "--version"}), COMMANDLINE_VERSION);
  EXPECT_EQ(w.parse({"-nonsense", "-help"}), COMMANDLINE_ERROR);
  EXPECT_EQ(w.message(), "illegal option \"-nonsense\"");
  EXPECT_EQ(geterrorcode(), 1);  // the option processor writes text only; the code is set
  EXPECT_EQ(w.parse({"-db", "-help"}), COMMANDLINE_ERROR);  // a value is the next word
  EXPECT_EQ(w.message(), "option -pr is mandatory");
  EXPECT_EQ(w.parse({"-db", "-pr", "-rawth", "1", "-simple"}), COMMANDLINE_ERROR);
  EXPECT_EQ(w.message(), "option -pr is mandatory");
}

TEST(CommandLine, integer_values_at_their_limits) {
  Words w;
  ASSERT_EQ(w.run({"-eval", "1", "-uniform", "-lazy", "-dbsize", "18446744073709551615"}),
            COMMANDLINE_RUN)
      << w.message();
  EXPECT_EQ(w.config.settings.dbsize, UINT64_MAX);
  ASSERT_EQ(w.run({"-eval", "1", "-uniform", "-lazy", "-dbsize", ""}), COMMANDLINE_RUN);
  EXPECT_EQ(w.config.settings.dbsize, 0u);  // an empty text reads as 0
  ASSERT_EQ(w.run({"-eval", "1", "-uniform", "-lazy", "-dbsize", " \t+42"}), COMMANDLINE_RUN);
  EXPECT_EQ(w.config.settings.dbsize, 42u);

  EXPECT_EQ(w.run({"-eval", "1", "-uniform", "-lazy", "-dbsize", "18446744073709551616"}),
            COMMANDLINE_ERROR);
  EXPECT_EQ(w.message(), "Value too large for option -dbsize.");
  for (const char *bad : {"42 ", "4x", "+", " ", "++1", " -1", "-0", "0x10"}) {
    EXPECT_EQ(w.run({"-eval", "1", "-uniform", "-lazy", "-dbsize", bad}), COMMANDLINE_ERROR) << bad;
    EXPECT_EQ(w.message(), "Option -dbsize expects a non-negative integer value.") << bad;
  }
  EXPECT_EQ(w.run({"-best", "0", "-lahead"}), COMMANDLINE_ERROR);
  EXPECT_EQ(w.message(), "Requesting zero best matches doesn't make sense.");
}

TEST(CommandLine, real_values_and_ranges) {
  Words w;
  for (const char *accepted : {"1", "1.0e-3", "0", "1E+0", " 0.5", "0.5xyz"}) {
    ASSERT_EQ(w.run({"-pval", accepted, "-uniform", "-lazy"}), COMMANDLINE_RUN) << accepted;
  }
  // NaN lies in no range: each option refuses it with its range message.
  const struct {
    std::vector<std::string> words;
    const char *message;
  } nans[] = {
      {{"-pval", "nan", "-uniform", "-lazy"}, "A p-value can only take values between 0.0 and 1.0."},
      {{"-eval", "NAN", "-uniform", "-lazy"}, "An E-value cannot take negative values."},
      {{"-mssth", "nan"}, "A matrix similarity score can only take values between 0.0 and 1.0."},
      {{"-rawth", "1", "-mult", "nan", "-uniform"},
       "The multiplier must be a positive real number, not exceeding 1000."},
  };
  for (const auto &c : nans) {
    EXPECT_EQ(w.run(c.words), COMMANDLINE_ERROR) << c.words[0];
    EXPECT_EQ(w.message(), c.message);
  }
  for (const char *bad : {"1-2", "", "x", "--1", "1e-+2"}) {
    EXPECT_EQ(w.run({"-pval", bad, "-uniform", "-lazy"}), COMMANDLINE_ERROR) << bad;
    EXPECT_EQ(w.message(), "Option -pval expects a floating point value.") << bad;
  }
  ASSERT_EQ(w.run({"-rawth", "-12.5"}), COMMANDLINE_RUN);  // a sign may lead
  EXPECT_EQ(w.config.settings.thresholdvalue, -12.5);
  ASSERT_EQ(w.run({"-rawth", "1", "-mult", "1000", "-uniform"}), COMMANDLINE_RUN);
  EXPECT_EQ(w.run({"-rawth", "1", "-mult", "1000.001", "-uniform"}), COMMANDLINE_ERROR);
  EXPECT_EQ(w.message(), "The multiplier must be a positive real number, not exceeding 1000.");
  ASSERT_EQ(w.run({"-mssth", "0", "-seqrange", "0:18446744073709551616000"}), COMMANDLINE_RUN);
  EXPECT_EQ(w.config.seqrangelower, 0u);
  EXPECT_EQ(w.config.seqrangeupper, static_cast<uint64_t>(INT64_MAX));
}

TEST(CommandLine, jobs_from_value_or_processor_count) {
  Words w;
  ASSERT_EQ(w.run({"-rawth", "1", "-j", "-q"}), COMMANDLINE_RUN) << w.message();
  EXPECT_GE(w.config.settings.jobs, 1u);  // the processor count, then -q read as an option
  EXPECT_LE(w.config.settings.jobs, maximumjobs);
  EXPECT_TRUE(w.config.statusoff);
  ASSERT_EQ(w.run({"-rawth", "1", "-j"}), COMMANDLINE_RUN);
  ASSERT_EQ(w.run({"-rawth", "1", "-j", "128"}), COMMANDLINE_RUN);
  EXPECT_EQ(w.config.settings.jobs, 128u);
  EXPECT_EQ(w.run({"-rawth", "1", "-j", "200"}), COMMANDLINE_ERROR);  // not cut
  EXPECT_EQ(w.message(), "The number of jobs must be in a range from 1 to 128.");

  EXPECT_EQ(jobsfromprocessors(200, 200, false), 128u);
  EXPECT_EQ(jobsfromprocessors(6, 8, false), 6u);
  EXPECT_EQ(jobsfromprocessors(-1, 4, false), 4u);
  testing::internal::CaptureStderr();
  EXPECT_EQ(jobsfromprocessors(0, -1, true), 1u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  testing::internal::CaptureStderr();
  EXPECT_EQ(jobsfromprocessors(-1, 0, false), 1u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: could not determine number of CPUs, using single.\n");
}
