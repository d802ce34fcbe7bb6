// Splitting shard records: descriptions holding tabs or the header's own words must not move
// the fields the merge orders by, and texts that are no record must be refused.
#include <gtest/gtest.h>

#include <string>

#include "merge/shardrecords.hpp"

namespace {

struct Expected {
  uint64_t group, position, seqnum, seqposition, length;
  unsigned char strand;
  const char *threshold, *score, *pvalue, *mss, *groupdigits, *seqnumdigits;
};

void expectfields(const RecordFields &fields, const Expected &expected) {
  EXPECT_EQ(fields.groupnumber, expected.group);
  EXPECT_EQ(fields.groupposition, expected.position);
  EXPECT_EQ(fields.seqnum, expected.seqnum);
  EXPECT_EQ(fields.seqposition, expected.seqposition);
  EXPECT_EQ(fields.length, expected.length);
  EXPECT_EQ(fields.strand, expected.strand);
  EXPECT_EQ(fields.threshold, expected.threshold);
  EXPECT_EQ(fields.score, expected.score);
  EXPECT_EQ(fields.pvalue, expected.pvalue);
  EXPECT_EQ(fields.mss, expected.mss);
  EXPECT_EQ(fields.groupdigits, expected.groupdigits);
  EXPECT_EQ(fields.seqnumdigits, expected.seqnumdigits);
}

TEST(ShardRecords, TabSeparatedLines) {
  struct Case {
    const char *name;
    std::string line;
    int result;  // 0 valid, -1 no record, -2 fields that cannot be told apart
    Expected expected;
  } cases[] = {
      {"plain", "box\tB001\ta box\t0\t1\t17\t3\trc\t5\t7\t-5\t7\t1.5e-02\t9.0e+01\t1.0e+00\t12\tseq. \tACG",
       0, {0, 1, 12, 17, 3, STRAND_REVERSECOMPLEMENT, "5", "7", "1.5e-02", "1.0e+00", "0", "12"}},
      {"tabs in both descriptions, numbers and strand letters among them",
       "box\t\tx\t1\t2\t3\tfn\ty\t4\t5\t6\t7\tfc\t8\t9\t10\t11\t12\t13\t14\t15\ta\t1\tc\tACG",
       0, {4, 5, 15, 6, 7, STRAND_COMPLEMENT, "8", "9", "12", "14", "4", "15"}},
      {"a description holding a whole second set of numbers",
       "box\tB001\td\t0\t1\t2\t3\tfn\t5\t7\t-5\t7\t\t\t1\t12\t0\t1\t17\t3\trc\t5\t7\t-5\t7\t\t\t1"
       "\t12\tseq. \tACG",
       -2, {}},
      {"no distribution", "solo\t\t\t1\t0\t0\t2\trn\t3\t3\t0\t3\t\t\t1.000000e+00\t0\t\tGT", 0,
       {1, 0, 0, 0, 2, STRAND_REVERSE, "3", "3", "", "1.000000e+00", "1", "0"}},
      {"a field missing", "box\tB001\ta box\t0\t1\t17\t3\trc\t5\t7\t-5\t7\t\t\t1\t12\tACG", -1, {}},
      {"strand letters", "box\tB001\t\t0\t1\t17\t3\tfx\t5\t7\t-5\t7\t\t\t1\t12\t\tACG", -1, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RecordFields fields{};
    ASSERT_EQ(parsetabsrecord(c.line, &fields), c.result);
    if (c.result == 0) expectfields(fields, c.expected);
  }
}

TEST(ShardRecords, HumanRecords) {
  struct Case {
    const char *name;
    std::string record;
    bool valid;
    Expected expected;
  } cases[] = {
      {"everything",
       "Match for `box', `B001', group 0, position 1 (reverse compl.)\n"
       "  description: `a box. second line'\n"
       "  sequence 12: `seq1 chr2:5-9. '\n"
       "  position 17, length 3, threshold 5, score range -5..7\n"
       "  score 7, MSS 1.000000e+00, p-value 1.5e-02, E-value 9.0e+01\n"
       "  matching sequence: `ACG'\n",
       true, {0, 1, 12, 17, 3, STRAND_REVERSECOMPLEMENT, "5", "7", "1.5e-02", "1.000000e+00", "0", "12"}},
      {"identifier holding the header's words, no distribution",
       "Match for `a', `b', group 7, position 8 (x', `(NULL)', group 3, position 4 (forward compl.)\n"
       "  sequence 2\n"
       "  position 0, length 2, threshold 1.500000e+00, score range -1..2\n"
       "  score 2.000000e+00, MSS 5.000000e-01\n",
       true, {3, 4, 2, 0, 2, STRAND_COMPLEMENT, "1.500000e+00", "2.000000e+00", "", "5.000000e-01", "3", "2"}},
      {"score line missing",
       "Match for `box', `B001', group 0, position 1 (forward non-compl.)\n  sequence 2\n"
       "  position 0, length 2, threshold 1, score range -1..2\n",
       false, {}},
      {"strand words", "Match for `box', `', group 0, position 1 (sideways non-compl.)\n", false, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RecordFields fields{};
    ASSERT_EQ(parsehumanrecord(c.record, &fields), c.valid ? 0 : -1);
    if (c.valid) expectfields(fields, c.expected);
  }
}

}  // namespace
