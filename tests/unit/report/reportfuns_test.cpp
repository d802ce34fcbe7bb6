// The reports: exact human and tabular records for both score types and all strands, the
// location of a match at sequence boundaries, and the statistics behind the records.
#include <gtest/gtest.h>

#include <string>

#include "base/error.hpp"
#include "matching/profile.hpp"
#include "report/reports.hpp"
#include "reportfixture.hpp"
#include "statistics/distribution.hpp"

namespace {

std::string capture(int (*report)(Match *), Match *match, int *ret_result) {
  testing::internal::CaptureStdout();
  *ret_result = report(match);
  return testing::internal::GetCapturedStdout();
}

// An integer profile with every name and a two-line description, searched with threshold 5
// over a matrix scoring -3..8.
struct NamedProfile {
  std::string identifier = "MA0001", accession = "ACC1", description = "line one\nline two";
  Profile profile = makeprofile(SCORE_INTEGER, 5, -3, 8);
  NamedProfile() {
    profile.identifier = identifier.data();
    profile.accession = accession.data();
    profile.description = description.data();
    profile.groupnumber = 3;
    profile.groupposition = 2;
  }
};

// A float profile without accession or description, with the 1..4 distribution.
struct FloatProfile {
  std::string identifier = "F1";
  TestDistribution distribution;
  Profile profile = makeprofile(SCORE_FLOAT, 2.5, 0.5, 4.5);
  FloatProfile() {
    profile.identifier = identifier.data();
    distribution.attach(&profile);
  }
};

}  // namespace

TEST(HumanRecord, integer_forward_with_descriptions_and_no_distribution) {
  TestDatabase database;
  NamedProfile named;
  SearchJob job{};
  job.profile = &named.profile;
  job.strand = STRAND_FORWARD;
  Match match = makematch(&database, &job, 9, 3, integerscore(6));
  int result;
  EXPECT_EQ(capture(report_human, &match, &result),
            "Match for `MA0001', `ACC1', group 3, position 2 (forward non-compl.)\n"
            "  description: `line one. line two'\n"
            "  sequence 1: `second one. '\n"
            "  position 0, length 3, threshold 5, score range -3..8\n"
            "  score 6, MSS 8.181818e-01\n"
            "  matching sequence: `gga'\n");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(job.matchcount, 1u);
}

TEST(HumanRecord, float_strands_complement_table_and_distribution) {
  TestDatabase database;
  FloatProfile floatprofile;
  SearchJob job{};
  job.profile = &floatprofile.profile;
  job.dbsize = 1000;
  job.complementcharacters = database.complement;
  const std::string body =
      "  sequence 0: `seq1. '\n"
      "  position 0, length 4, threshold 2.500000e+00, score range 5.000000e-01..4.500000e+00\n"
      "  score 3.500000e+00, MSS 7.500000e-01, p-value 2.500000e-01, E-value 2.500000e+02\n"
      "  matching sequence: `";
  struct Case {
    unsigned char strand;
    bool complementtable;
    const char *header, *sequence;
  } cases[] = {
      {STRAND_FORWARD, true, "forward non-compl.", "acgt"},
      {STRAND_REVERSE, true, "reverse non-compl.", "acgt"},
      {STRAND_COMPLEMENT, true, "forward compl.", "tgca"},
      {STRAND_REVERSECOMPLEMENT, true, "reverse compl.", "tgca"},
      {STRAND_REVERSECOMPLEMENT, false, "reverse compl.", "acgt"},
  };
  for (const Case &c : cases) {
    job.strand = c.strand;
    job.complementcharacters = c.complementtable ? database.complement : nullptr;
    Match match = makematch(&database, &job, 3, 4, floatscore(3.5f));
    int result;
    EXPECT_EQ(capture(report_human, &match, &result),
              std::string("Match for `F1', `(NULL)', group 0, position 0 (") + c.header + ")\n" +
                  body + c.sequence + "'\n")
        << int(c.strand);
    EXPECT_EQ(result, 0);
  }
  EXPECT_EQ(job.matchcount, 5u);
}

TEST(TabsRecord, integer_all_strands_without_distribution) {
  TestDatabase database;
  NamedProfile named;
  SearchJob job{};
  job.profile = &named.profile;
  struct Case {
    unsigned char strand;
    bool complementtable;
    const char *letters, *sequence;
  } cases[] = {
      {STRAND_FORWARD, true, "fn", "gga"},         {STRAND_REVERSE, true, "rn", "gga"},
      {STRAND_COMPLEMENT, true, "fc", "cct"},      {STRAND_REVERSECOMPLEMENT, true, "rc", "cct"},
      {STRAND_COMPLEMENT, false, "fc", "gga"},     {STRAND_REVERSECOMPLEMENT, false, "rc", "gga"},
  };
  for (const Case &c : cases) {
    job.strand = c.strand;
    job.complementcharacters = c.complementtable ? database.complement : nullptr;
    Match match = makematch(&database, &job, 9, 3, integerscore(6));
    int result;
    EXPECT_EQ(capture(report_tabs, &match, &result),
              std::string("MA0001\tACC1\tline one. line two\t3\t2\t0\t3\t") + c.letters +
                  "\t5\t6\t-3\t8\t\t\t8.181818e-01\t1\tsecond one. \t" + c.sequence + "\n");
    EXPECT_EQ(result, 0);
  }
  EXPECT_EQ(job.matchcount, 6u);
}

TEST(TabsRecord, float_with_distribution_and_absent_names) {
  TestDatabase database;
  FloatProfile floatprofile;
  floatprofile.profile.identifier = nullptr;
  SearchJob job{};
  job.profile = &floatprofile.profile;
  job.dbsize = 1000;
  job.strand = STRAND_REVERSECOMPLEMENT;
  job.complementcharacters = database.complement;
  Match match = makematch(&database, &job, 11, 2, floatscore(3.5f));
  int result;
  EXPECT_EQ(capture(report_tabs, &match, &result),
            "\t\t\t0\t0\t3\t2\trc\t2.500000e+00\t3.500000e+00\t5.000000e-01\t4.500000e+00\t"
            "2.500000e-01\t2.500000e+02\t7.500000e-01\t1\tsecond one. \tag\n");
  EXPECT_EQ(result, 0);
}

TEST(Records, null_report_only_counts_and_other_sources_print_no_sequence) {
  TestDatabase database;
  NamedProfile named;
  SearchJob job{};
  job.profile = &named.profile;
  job.strand = STRAND_FORWARD;
  Match match = makematch(&database, &job, 9, 3, integerscore(6));
  int result;
  EXPECT_EQ(capture(report_null, &match, &result), "");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(job.matchcount, 1u);

  // No sequence data: location all zero, no description, no matching sequence.
  match.sourcekind = 0;
  EXPECT_EQ(capture(report_tabs, &match, &result),
            "MA0001\tACC1\tline one. line two\t3\t2\t0\t3\tfn\t5\t6\t-3\t8\t\t\t8.181818e-01\t0"
            "\t\t\n");
  const std::string human = capture(report_human, &match, &result);
  EXPECT_NE(human.find("  sequence 0\n"), std::string::npos);
  EXPECT_EQ(human.find("matching sequence"), std::string::npos);
  EXPECT_EQ(job.matchcount, 3u);
}

TEST(Records, failures_print_nothing_and_return_minus_one) {
  TestDatabase database;
  NamedProfile named;
  SearchJob job{};
  job.profile = &named.profile;
  Match match = makematch(&database, &job, 12, 1, integerscore(6));
  clearerrorcode();
  for (auto report : {report_human, report_tabs}) {
    int result;
    EXPECT_EQ(capture(report, &match, &result), "");
    EXPECT_EQ(result, -1);
    EXPECT_STREQ(errormessagespace(), "cannot find position 12");
    EXPECT_EQ(geterrorcode(), 1);
    clearerrorcode();
  }
  named.profile.matrix.scoretype = 7;
  match.endposition = 9;
  int result;
  EXPECT_EQ(capture(report_human, &match, &result), "");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(std::string(errormessagespace()).rfind("Internal program error (reportfuns, line ", 0),
            0u);
  clearerrorcode();
}

TEST(MatchLocation, sequence_boundaries_and_sources) {
  TestDatabase database;
  SearchJob job{};
  Profile profile = makeprofile(SCORE_INTEGER, 0, 0, 1);
  job.profile = &profile;
  struct Case {
    uint64_t end, length, seqnum, start, seqposition;
  } cases[] = {
      {0, 1, 0, 0, 0}, {5, 6, 0, 0, 0}, {5, 2, 0, 4, 4}, {7, 1, 1, 7, 0}, {11, 5, 1, 7, 0},
      {11, 2, 1, 10, 3},
  };
  Virtualtree tree{};
  tree.multiseq = database.multiseq;
  for (const Case &c : cases) {
    Match match = makematch(&database, &job, c.end, c.length, integerscore(0));
    for (uint32_t kind : {SOURCE_MULTISEQ, SOURCE_VIRTUALTREE}) {
      match.sourcekind = kind;
      match.source = kind == SOURCE_MULTISEQ ? static_cast<const void *>(&database.multiseq)
                                             : static_cast<const void *>(&tree);
      MatchLocation location;
      ASSERT_EQ(match_location(&match, &location), 0);
      EXPECT_EQ(location.seqnum, c.seqnum) << c.end;
      EXPECT_EQ(location.startposition, c.start) << c.end;
      EXPECT_EQ(location.seqposition, c.seqposition) << c.end;
      EXPECT_EQ(std::string(reinterpret_cast<const char *>(location.description),
                            location.descriptionlength),
                c.seqnum == 0 ? "seq1\n" : "second one\n");
      EXPECT_EQ(location.sequence, database.sequence);
    }
  }

  Match match = makematch(&database, &job, 7, 1, integerscore(0));
  database.multiseq.descoffsets = nullptr;
  MatchLocation location;
  ASSERT_EQ(match_location(&match, &location), 0);
  EXPECT_EQ(location.description, nullptr);
  EXPECT_EQ(location.descriptionlength, 0u);

  match.sourcekind = 3;
  ASSERT_EQ(match_location(&match, &location), 0);
  EXPECT_EQ(location.seqnum, 0u);
  EXPECT_EQ(location.seqposition, 0u);
  EXPECT_EQ(location.sequence, nullptr);
}

TEST(MatchStatistics, mss_is_clamped_and_defined_for_a_constant_matrix) {
  SearchJob job{};
  Profile integer = makeprofile(SCORE_INTEGER, 0, -3, 8);
  Profile real = makeprofile(SCORE_FLOAT, 0, -3, 8);
  MatchStatistics statistics;
  struct Case {
    double score, mss;
  } cases[] = {{-3, 0.0}, {8, 1.0}, {10, 1.0}, {-5, 0.0}, {2.5, 5.5 / 11}};
  for (const Case &c : cases) {
    if (c.score == static_cast<int64_t>(c.score)) {
      ASSERT_EQ(match_statistics(&integer, &job, integerscore(int64_t(c.score)), &statistics), 0);
      EXPECT_DOUBLE_EQ(statistics.mss, c.mss) << c.score;
    }
    ASSERT_EQ(match_statistics(&real, &job, floatscore(float(c.score)), &statistics), 0);
    EXPECT_DOUBLE_EQ(statistics.mss, c.mss) << c.score;
    EXPECT_FALSE(statistics.hasdistribution);
    EXPECT_EQ(statistics.pvalue, 0.0);
    EXPECT_EQ(statistics.evalue, 0.0);
  }
  // All scores equal: the one possible score is the best one, not 0/0.
  Profile flat = makeprofile(SCORE_INTEGER, 4, 4, 4);
  ASSERT_EQ(match_statistics(&flat, &job, integerscore(4), &statistics), 0);
  EXPECT_EQ(statistics.mss, 1.0);
  flat = makeprofile(SCORE_FLOAT, 4, 4, 4);
  ASSERT_EQ(match_statistics(&flat, &job, floatscore(4.0f), &statistics), 0);
  EXPECT_EQ(statistics.mss, 1.0);
}

TEST(MatchStatistics, float_scores_round_half_to_even_before_the_lookup) {
  SearchJob job{};
  job.dbsize = 1000;
  FloatProfile floatprofile;
  struct Case {
    float score;
    double pvalue;
  } cases[] = {{2.5f, 0.75}, {3.5f, 0.25}, {1.4f, 1.0}, {2.6f, 0.5}, {9.0f, 0.25}, {-7.0f, 1.0}};
  for (const Case &c : cases) {
    MatchStatistics statistics;
    ASSERT_EQ(match_statistics(&floatprofile.profile, &job, floatscore(c.score), &statistics), 0);
    EXPECT_TRUE(statistics.hasdistribution);
    EXPECT_DOUBLE_EQ(statistics.pvalue, c.pvalue) << c.score;
    EXPECT_DOUBLE_EQ(statistics.evalue, c.pvalue * 1000) << c.score;
  }
}

TEST(MatchStatistics, frequencies_compute_the_distribution_once_and_store_it) {
  Alphabet alpha{};
  std::memcpy(alpha.characters, "acgt", 4);
  alpha.mapsize = 5;  // four letters and the wildcard
  alpha.undefinedcode = UNDEFINEDCODE;
  Profile profile{};
  ASSERT_EQ(matrix_init(&profile.matrix, SCORE_INTEGER, &alpha, 1), 0);
  int64_t *cells = matrix_scores<int64_t>(&profile.matrix);
  for (int64_t j = 0; j < 5; j++) cells[j] = j < 4 ? j + 1 : 0;
  profile.matrix.minscore.i = 1;
  profile.matrix.maxscore.i = 4;
  profile.multiplier = 1.0;
  const double frequencies[5] = {0.25, 0.25, 0.25, 0.25, 0.0};
  SearchJob job{};
  job.frequencies = frequencies;
  job.dbsize = 1000;
  MatchStatistics statistics;
  ASSERT_EQ(match_statistics(&profile, &job, integerscore(3), &statistics), 0);
  EXPECT_TRUE(statistics.hasdistribution);
  EXPECT_DOUBLE_EQ(statistics.pvalue, 0.5);
  EXPECT_DOUBLE_EQ(statistics.evalue, 500.0);
  ASSERT_EQ(profile.distribution.size, 4u);
  const double *stored = profile.distribution.tail;
  ASSERT_EQ(match_statistics(&profile, &job, integerscore(4), &statistics), 0);
  EXPECT_DOUBLE_EQ(statistics.pvalue, 0.25);
  EXPECT_EQ(profile.distribution.tail, stored);
  freedistribution(&profile.distribution);
  matrix_free(&profile.matrix);
}
