// Threshold derivation: every cutoff kind in its preparation step, the reach check and -all,
// the mirror collection, and the distribution file with its validity checks.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "model/searchsettings.hpp"
#include "profiles/libparse.hpp"
#include "statistics/freqfileparser.hpp"
#include "statistics/setthresholds.hpp"
#include "statisticsfixture.hpp"

using stattest::Record;

namespace {

// Line 2: integer, minimum -3, maximum 8. Line 9: float, minimum -1.5, maximum 3.25. Line 19
// (second group): the one-row matrix scoring 1, 2, 3, 4 for a, c, g, t.
const char *library =
    "BEGIN GROUP\n"
    "BEGIN INT\n"
    "ID mixed\n"
    "AP DNA\n"
    "LE 2\n"
    "MA -3 0 1 5\n"
    "MA 0 0 0 3\n"
    "END\n"
    "BEGIN FLOAT\n"
    "ID floating\n"
    "AC F1\n"
    "AL ACGT\n"
    "LE 2\n"
    "MA -1 0.5 1 2\n"
    "MA -0.5 0 1.25 0.25\n"
    "END\n"
    "END\n"
    "BEGIN GROUP\n"
    "BEGIN INT\n"
    "ID ramp\n"
    "AP DNA\n"
    "LE 1\n"
    "MA 1 2 3 4\n"
    "END\n"
    "END\n";

const char *onematrix =
    "BEGIN GROUP\nBEGIN INT\nID ramp\nAP DNA\nLE 1\nMA 1 2 3 4\nEND\nEND\n";

constexpr int64_t unreachable = INT64_C(4611686018427387903);

class Thresholds : public testing::Test {
 protected:
  void SetUp() override {
    dnaalphabet(&dna);
    initsearchsettings(&config);
    outputinit(false, true);
    frequencies = loadfrequencies(nullptr, &dna);
    outputinit(true, true);
    config.frequencies = frequencies;
    config.dbsize = 1000;
  }
  void TearDown() override {
    for (ProfileCollection *collection : parsed) collection_free(collection, false, false);
    for (ProfileCollection *collection : parsed) delete collection;
    std::free(frequencies);
  }

  ProfileCollection *parse(const char *text) {
    const std::string file = folder.write("lib" + std::to_string(parsed.size()), text);
    ProfileCollection *collection = new ProfileCollection;
    outputinit(false, true);
    EXPECT_EQ(parselibrary(file.c_str(), &dna, collection), 0) << errormessagespace();
    outputinit(true, true);
    parsed.push_back(collection);
    return collection;
  }

  // Runs one preparation step with standard error captured: its status and the output.
  using Step = int (*)(ProfileCollection *, const SearchSettings *, ProfileCollection *);
  int run(Step step, ProfileCollection *collection, std::string *ret_errors = nullptr,
          ProfileCollection *mirror = nullptr, bool warnings = true, bool status = false) {
    stattest::clearerror();
    int result = 0;
    const std::string errors = stattest::capturestderr(
        status, warnings, [&] { result = step(collection, &config, mirror); });
    if (ret_errors != nullptr) *ret_errors = errors;
    return result;
  }

  std::string writerecords(const std::vector<Record> &records, bool compressed = true) {
    std::string bytes;
    for (const Record &record : records) bytes += stattest::recordbytes(record);
    const std::string name = "pdis" + std::to_string(files++);
    return compressed ? stattest::writegzip(folder, name, bytes) : folder.write(name, bytes);
  }

  Alphabet dna;
  SearchSettings config;
  double *frequencies = nullptr;
  ScratchFolder folder;
  std::vector<ProfileCollection *> parsed;
  int files = 0;
};

int64_t integerthreshold(const Profile &profile) { return profile.matrix.threshold.i; }
float floatthreshold(const Profile &profile) { return profile.matrix.threshold.f; }

const Record ramp = {1, 4, 0, 1.0, {1.0, 0.75, 0.5, 0.25}};

}  // namespace

TEST_F(Thresholds, raw_mss_and_kbest_cutoffs_without_distributions) {
  ProfileCollection *collection = parse(library);
  Profile *profiles = collection->profiles;
  config.multiplier = 2.0;
  std::string errors;

  config.thresholdkind = THRESHOLD_RAW;
  config.thresholdvalue = 5.7;
  ASSERT_EQ(run(prepare_plain, collection, &errors, nullptr, true, true), 0);
  EXPECT_EQ(errors,
            "Preparing 3 profiles in 2 groups.\n"
            "WARNING: Threshold 5.700000e+00 too high for PSSM declared on line 9 (maximum is "
            "3.250000e+00, no matches possible).\n"
            "WARNING: Threshold 5 too high for PSSM declared on line 19 (maximum is 4, no "
            "matches possible).\n");
  EXPECT_EQ(integerthreshold(profiles[0]), 5);
  EXPECT_EQ(floatthreshold(profiles[1]), 5.7f);
  EXPECT_EQ(profiles[0].multiplier, 2.0);
  EXPECT_EQ(profiles[0].distribution.size, 0u);
  for (uint64_t i = 0; i < 3; i++) EXPECT_EQ(matrix_check(&profiles[i].matrix), 0) << i;

  config.thresholdvalue = -2.5;  // truncated toward zero
  ASSERT_EQ(run(prepare_plain, collection), 0);
  EXPECT_EQ(integerthreshold(profiles[0]), -2);
  EXPECT_EQ(floatthreshold(profiles[1]), -2.5f);

  config.allmatrices = true;
  config.thresholdvalue = 9.0;
  ASSERT_EQ(run(prepare_plain, collection, &errors), 0);
  EXPECT_EQ(errors,
            "WARNING: Threshold 9 too high for PSSM declared on line 2 (adjusted to 8).\n"
            "WARNING: Threshold 9.000000e+00 too high for PSSM declared on line 9 (adjusted to "
            "3.250000e+00).\n"
            "WARNING: Threshold 9 too high for PSSM declared on line 19 (adjusted to 4).\n");
  EXPECT_EQ(integerthreshold(profiles[0]), 8);
  EXPECT_EQ(floatthreshold(profiles[1]), 3.25f);
  for (uint64_t i = 0; i < 3; i++) EXPECT_EQ(matrix_check(&profiles[i].matrix), 0) << i;
  ASSERT_EQ(run(prepare_plain, collection, &errors, nullptr, false), 0);
  EXPECT_EQ(errors, "");
  EXPECT_EQ(integerthreshold(profiles[0]), 8);  // the same without warnings
  config.allmatrices = false;

  // A cutoff beyond the 64-bit range stays unreachable instead of wrapping around.
  config.thresholdvalue = 1e300;
  ASSERT_EQ(run(prepare_plain, collection, nullptr, nullptr, false), 0);
  EXPECT_EQ(integerthreshold(profiles[0]), unreachable);
  config.thresholdvalue = -1e300;
  ASSERT_EQ(run(prepare_plain, collection, nullptr, nullptr, false), 0);
  EXPECT_EQ(integerthreshold(profiles[0]), -unreachable);

  config.thresholdkind = THRESHOLD_MSS;
  const std::vector<std::tuple<double, int64_t, float>> mss = {
      {0.5, 3, 1.0f}, {0.0, -3, -1.0f}, {1.0, 8, 3.25f}, {0.9, 7, 3.0f}};
  for (const auto &[value, integer, floating] : mss) {
    config.thresholdvalue = value;
    ASSERT_EQ(run(prepare_plain, collection, &errors), 0);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(integerthreshold(profiles[0]), integer) << value;
    EXPECT_EQ(floatthreshold(profiles[1]), floating) << value;
    EXPECT_EQ(matrix_check(&profiles[1].matrix), 0);
  }

  config.thresholdkind = THRESHOLD_KBEST;
  config.kbest = 3;
  ASSERT_EQ(run(prepare_plain, collection), 0);
  EXPECT_EQ(integerthreshold(profiles[0]), -3);
  EXPECT_EQ(floatthreshold(profiles[1]), -1.5f);
  EXPECT_EQ(integerthreshold(profiles[2]), 1);
}

TEST_F(Thresholds, lazy_p_value_and_e_value_cutoffs_with_the_reach_check) {
  ProfileCollection *collection = parse(onematrix);
  Profile *profile = collection->profiles;
  config.lazy = true;
  std::string errors;

  config.thresholdkind = THRESHOLD_PVALUE;
  const std::vector<std::pair<double, int64_t>> cases = {{0.3, 4}, {0.25, 4}, {0.5, 3}};
  for (const auto &[pvalue, threshold] : cases) {
    config.thresholdvalue = pvalue;
    ASSERT_EQ(run(prepare_with_frequencies, collection, &errors, nullptr, true, true), 0);
    EXPECT_EQ(errors, "Preparing 1 profile in 1 group.\n");
    EXPECT_EQ(integerthreshold(*profile), threshold);
    EXPECT_EQ(profile->multiplier, 1.0);
    ASSERT_GT(profile->distribution.size, 0u);
    EXPECT_EQ(tail_lookup(&profile->distribution, threshold, 1.0, TAIL_PVALUE, 0),
              threshold == 3 ? 0.5 : 0.25);
    EXPECT_EQ(matrix_check(&profile->matrix), 0);
  }

  // E-values are divided by the database size: 500 of 1000 is the p-value 0.5.
  config.thresholdkind = THRESHOLD_EVALUE;
  config.thresholdvalue = 500;
  ASSERT_EQ(run(prepare_with_frequencies, collection), 0);
  EXPECT_EQ(integerthreshold(*profile), 3);
  EXPECT_EQ(config.thresholdvalue, 500);

  // The smallest p-value this matrix can give is 0.25.
  config.dbsize = 1000000;
  config.thresholdvalue = 10;
  ASSERT_EQ(run(prepare_with_frequencies, collection, &errors), 0);
  EXPECT_EQ(errors,
            "WARNING: an E-Value of 1.000000e+01 is too low for the PSSM declared on line 2, "
            "which can only code down to a minimum of 2.500000e+05 (no matches possible).\n");
  EXPECT_EQ(integerthreshold(*profile), unreachable);
  EXPECT_EQ(matrix_check(&profile->matrix), 0);

  config.thresholdkind = THRESHOLD_PVALUE;
  config.thresholdvalue = 0.1;
  config.allmatrices = true;
  ASSERT_EQ(run(prepare_with_frequencies, collection, &errors), 0);
  EXPECT_EQ(errors,
            "WARNING: a p-value of 1.000000e-01 is too low for the PSSM declared on line 2, which "
            "can only code down to a minimum of 2.500000e-01 (adjusted threshold to maximum "
            "score).\n");
  EXPECT_EQ(integerthreshold(*profile), 4);
  ASSERT_EQ(run(prepare_with_frequencies, collection, &errors, nullptr, false), 0);
  EXPECT_EQ(errors, "");
  EXPECT_EQ(integerthreshold(*profile), 4);

  // A float matrix gets the unreachable threshold as a float.
  ProfileCollection *floats = parse(library);
  config.allmatrices = false;
  config.thresholdvalue = 1e-9;
  ASSERT_EQ(run(prepare_with_frequencies, floats, nullptr, nullptr, false), 0);
  EXPECT_EQ(floatthreshold(floats->profiles[1]), static_cast<float>(unreachable));
}

TEST_F(Thresholds, mirror_collection_receives_the_same_thresholds) {
  ProfileCollection *collection = parse(library);
  ProfileCollection *mirror = parse(library);
  config.thresholdkind = THRESHOLD_MSS;
  config.thresholdvalue = 0.5;
  ASSERT_EQ(run(prepare_plain, collection, nullptr, mirror), 0);
  EXPECT_EQ(integerthreshold(mirror->profiles[0]), 3);
  EXPECT_EQ(floatthreshold(mirror->profiles[1]), 1.0f);
  EXPECT_EQ(integerthreshold(mirror->profiles[2]), 3);
  for (uint64_t i = 0; i < 3; i++) EXPECT_EQ(matrix_check(&mirror->profiles[i].matrix), 0);
}

TEST_F(Thresholds, steps_refuse_cutoff_kinds_that_are_not_theirs) {
  ProfileCollection *collection = parse(onematrix);
  config.thresholdkind = THRESHOLD_PVALUE;
  config.thresholdvalue = 0.5;
  EXPECT_EQ(run(prepare_plain, collection), -1);
  EXPECT_EQ(stattest::errortext().rfind("Internal program error (setthresholds, line ", 0), 0u);
  EXPECT_EQ(geterrorcode(), 1);
  config.thresholdkind = THRESHOLD_MSS;
  EXPECT_EQ(run(prepare_with_frequencies, collection), -1);
  EXPECT_EQ(stattest::errortext().rfind("Internal program error (setthresholds, line ", 0), 0u);
  clearerrorcode();
}

// A distribution larger than the machine's memory is refused before anything is allocated,
// lazily (p-value cutoff) and completely (first report of a p-value) alike. Sizes count the
// scores as the float copy that the computation scales has them.
TEST_F(Thresholds, distributions_beyond_the_memory_are_refused_by_name) {
  ProfileCollection *collection = parse(
      "BEGIN GROUP\nBEGIN INT\nID wide\nAL ACGT\nLE 2\nMA 0 0 0 10000000000000\n"
      "MA 0 0 0 1\nEND\nEND\n");
  const std::string expected =
      "The score distribution of PSSM `wide' (declared on line 2) needs ";
  config.thresholdkind = THRESHOLD_PVALUE;
  config.thresholdvalue = 1e-4;
  EXPECT_EQ(run(prepare_with_frequencies, collection), -1);
  EXPECT_EQ(stattest::errortext().rfind(expected + "159999997313032 bytes, more than the ", 0),
            0u)
      << stattest::errortext();
  EXPECT_NE(stattest::errortext().find("use a smaller multiplier (-mult)."), std::string::npos);
  clearerrorcode();
  Profile *profile = collection->profiles;
  profile->multiplier = 1.0;
  stattest::clearerror();
  EXPECT_EQ(ensure_distribution(profile, frequencies), nullptr);
  EXPECT_EQ(stattest::errortext().rfind(expected + "239999995871280 bytes", 0), 0u)
      << stattest::errortext();
  clearerrorcode();
}

// zelkodist computes every Profile's complete table, one per job at a time: each must fit on
// its own, and the largest ones together under threads. Two matrices of 24024 bytes each
// (three tables of 1001 doubles) and a smaller one.
TEST_F(Thresholds, distributions_computed_at_once_must_fit_together) {
  ProfileCollection *collection = parse(
      "BEGIN GROUP\nBEGIN INT\nID one\nAL ACGT\nLE 1\nMA 0 0 0 1000\nEND\n"
      "BEGIN INT\nID two\nAL ACGT\nLE 1\nMA 0 0 1000 0\nEND\n"
      "BEGIN INT\nID small\nAL ACGT\nLE 1\nMA 0 0 0 10\nEND\nEND\n");
  const double one = 24024.0;
  struct Case {
    double memory;
    uint64_t jobs;
    const char *message;  // start of the refusal, null when the run fits
  } cases[] = {
      {0.0, 128, nullptr},                // memory unknown: nothing is refused
      {one, 1, nullptr},                  // one table at a time
      {1.5 * one, 2, "The score distributions of the 2 largest PSSMs, computed at once by 2 "
                     "jobs, need 48048 bytes, more than the 36036 bytes of memory"},
      {1.5 * one, 128, "The score distributions of the 3 largest PSSMs, computed at once by "
                       "128 jobs, need 48312 bytes"},
      {2.0 * one + 264.0, 3, nullptr},    // all three fit together
      {2.0 * one + 263.0, 3, "The score distributions of the 3 largest PSSMs"},
      {one - 1.0, 1, "The score distribution of PSSM `one' (declared on line 2) needs 24024 "
                     "bytes, more than the 24023 bytes of memory"},
  };
  for (const Case &c : cases) {
    stattest::clearerror();
    const int result = check_distributions_fit(collection, 1.0, c.jobs, c.memory);
    if (c.message == nullptr) {
      EXPECT_EQ(result, 0) << c.memory << " " << c.jobs << ": " << stattest::errortext();
    } else {
      EXPECT_EQ(result, -1) << c.memory << " " << c.jobs;
      EXPECT_EQ(stattest::errortext().rfind(c.message, 0), 0u) << stattest::errortext();
    }
  }
  clearerrorcode();
}

TEST_F(Thresholds, distribution_file_gives_thresholds_and_tables) {
  ProfileCollection *collection = parse(onematrix);
  Profile *profile = collection->profiles;
  std::string errors;

  // A p-value from the stored table, plain and compressed, with extra records ignored.
  config.thresholdkind = THRESHOLD_PVALUE;
  config.thresholdvalue = 0.3;
  for (const bool compressed : {true, false}) {
    const std::string file = writerecords({ramp, ramp}, compressed);
    config.distributionname = file.c_str();
    ASSERT_EQ(run(prepare_from_file, collection, &errors, nullptr, true, true), 0)
        << stattest::errortext();
    EXPECT_EQ(errors, "Preparing 1 profile in 1 group from precalculated distribution.\n");
    EXPECT_EQ(integerthreshold(*profile), 4);
    ASSERT_EQ(profile->distribution.size, 4u);
    EXPECT_EQ(profile->distribution.tail[1], 0.75);
    EXPECT_EQ(matrix_check(&profile->matrix), 0);
  }

  // The record's multiplier and offset enter the threshold: ceil((1 + 2 + 20) / 10) = 3.
  const std::string scaled = writerecords({{1, 4, -20, 10.0, {1.0, 0.75, 0.5, 0.25}}});
  config.distributionname = scaled.c_str();
  config.thresholdvalue = 0.5;
  ASSERT_EQ(run(prepare_from_file, collection), 0);
  EXPECT_EQ(integerthreshold(*profile), 3);
  EXPECT_EQ(profile->multiplier, 10.0);

  // When no entry exceeds the target every window qualifies: the threshold is the matrix's
  // minimum (1), not ceil((5 - 0) / 1) from a table that need not reach down to it.
  const std::string low = writerecords({{5, 8, 0, 1.0, {0.5, 0.4, 0.3, 0.2}}});
  config.distributionname = low.c_str();
  config.thresholdvalue = 0.6;
  ASSERT_EQ(run(prepare_from_file, collection), 0);
  EXPECT_EQ(integerthreshold(*profile), 1);
  config.distributionname = scaled.c_str();

  // The reach check works on the stored table as well.
  config.thresholdkind = THRESHOLD_EVALUE;
  config.thresholdvalue = 100;
  ASSERT_EQ(run(prepare_from_file, collection, &errors), 0);
  EXPECT_EQ(errors,
            "WARNING: an E-Value of 1.000000e+02 is too low for the PSSM declared on line 2, "
            "which can only code down to a minimum of 2.500000e+02 (no matches possible).\n");
  EXPECT_EQ(integerthreshold(*profile), unreachable);

  // Other cutoffs set their threshold and then take the record for the reports.
  config.thresholdkind = THRESHOLD_RAW;
  config.thresholdvalue = 2.9;
  config.multiplier = 3.0;
  const std::string other = writerecords({{0, 2, 0, 4.0, {1.0, 0.5, 0.125}}});
  config.distributionname = other.c_str();
  ASSERT_EQ(run(prepare_from_file, collection), 0);
  EXPECT_EQ(integerthreshold(*profile), 2);
  EXPECT_EQ(profile->multiplier, 4.0);
  EXPECT_EQ(profile->distribution.size, 3u);
  EXPECT_EQ(profile->distribution.tail[2], 0.125);
}

TEST_F(Thresholds, distribution_file_validity_checks) {
  ProfileCollection *collection = parse(library);  // three profiles
  config.thresholdkind = THRESHOLD_PVALUE;
  config.thresholdvalue = 0.3;
  const auto expectfailure = [&](const std::string &file, const std::string &message) {
    config.distributionname = file.c_str();
    EXPECT_EQ(run(prepare_from_file, collection), -1) << message;
    EXPECT_EQ(stattest::errortext(), message);
    EXPECT_EQ(geterrorcode(), 1);
    clearerrorcode();
  };

  std::string file = writerecords({ramp, ramp});
  expectfailure(file, "Unexpected end of file while reading distribution file `" + file + "'.");
  file = writerecords({ramp, ramp, {1, 4, 0, 1.0, {1.0, 0.75}}});
  expectfailure(file, "Unexpected end of file while reading distribution file `" + file + "'.");
  const std::string bytes = stattest::recordbytes(ramp);
  file = stattest::writegzip(folder, "partial", bytes + bytes + bytes.substr(0, 12));
  expectfailure(file, "Unexpected end of file while reading distribution file `" + file + "'.");

  const std::string invalid = "' (wrong architecture?).";
  file = writerecords({ramp, {12, 10, 0, 1.0, {}}, ramp});
  expectfailure(file, "Invalid data in distribution file `" + file + invalid);
  file = writerecords({{1, 4, 0, -1.0, ramp.tail}, ramp, ramp});
  expectfailure(file, "Invalid data in distribution file `" + file + invalid);
  file = writerecords({{1, 4, 0, 1000.5, ramp.tail}, ramp, ramp});
  expectfailure(file, "Invalid data in distribution file `" + file + invalid);
  // The whole 64-bit range would wrap the size to 0.
  file = writerecords({{INT64_MIN, INT64_MAX, 0, 1.0, {}}, ramp, ramp});
  expectfailure(file, "Invalid data in distribution file `" + file + invalid);
  // Records whose numbers cannot be a distribution, each as the second of three records.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  const int64_t huge = INT64_C(4611686018427387904);  // one past the score infinity
  const std::vector<stattest::Record> implausible = {
      {1, 4, 0, nan, ramp.tail},
      {1, 4, 0, 0.0, ramp.tail},
      {-huge, -huge + 3, 0, 1.0, ramp.tail},
      {1, 4, huge, 1.0, ramp.tail},
      {INT64_MIN + 1, INT64_MIN + 4, INT64_MAX, 1.0, ramp.tail},
      {1, 4, 0, 1.0, {1.0, nan, 0.25, 0.125}},
      {1, 4, 0, 1.0, {1.0, 0.5, infinity, 0.125}},
      {1, 4, 0, 1.0, {1.5, 0.5, 0.25, 0.125}},
      {1, 4, 0, 1.0, {1.0, 0.5, 0.25, -0.125}},
      {1, 4, 0, 1.0, {1.0, 0.25, 0.5, 0.125}},
  };
  for (const stattest::Record &record : implausible) {
    file = writerecords({ramp, record, ramp});
    expectfailure(file, "Invalid data in distribution file `" + file + invalid);
  }
  // The limit 1000 and equal neighbouring entries are fine.
  file = writerecords({{1, 4, 0, 1000.0, ramp.tail},
                       {1, 4, 0, 1.0, {1.0, 0.5, 0.5, 0.125}},
                       ramp});
  config.distributionname = file.c_str();
  EXPECT_EQ(run(prepare_from_file, collection, nullptr, nullptr, false), 0);

  const std::string missing = folder.path("missing.pdis");
  expectfailure(missing, "Couldn't open probability distribution file `" + missing + "'.");
  file = folder.write("corrupt", std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) +
                                     std::string(64, '\xff'));
  expectfailure(file, "Error reading distribution file `" + file + "'.");
  // A huge size field in a short file ends with the end-of-file message, not in one huge
  // allocation.
  file = writerecords({{0, INT64_C(1) << 40, 0, 1.0, {0.5, 0.5}}, ramp, ramp});
  expectfailure(file, "Unexpected end of file while reading distribution file `" + file + "'.");
}
