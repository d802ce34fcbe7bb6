// The CisML report: XML escaping of every kind of byte, and the parts of the body walk that
// whole runs cannot reach (escaped matching characters, a failing sequence lookup).
#include <gtest/gtest.h>

#include <string>

#include "base/error.hpp"
#include "report/cismlreport.hpp"
#include "report/matchcollection.hpp"
#include "reportfixture.hpp"

namespace {

std::string escaped(const std::string &bytes, bool descriptionnewlines) {
  std::string text;
  appendxmltext(text, reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                descriptionnewlines);
  return text;
}

// Profile A (group 0) and a collection keyed like the report's.
struct BodyFixture {
  TestDatabase database;
  std::string identifier = "A<1>", databasename = "db&.fa";
  Profile profile = makeprofile(SCORE_INTEGER, 0, 0, 10);
  SearchSettings settings{};
  SearchJob job{};
  MatchCollection *collection = matchcollection_create("gn");
  Match walkmatch{};

  BodyFixture() {
    profile.identifier = identifier.data();
    settings.databasename = databasename.c_str();
    job.settings = &settings;
    job.profile = &profile;
    walkmatch = makematch(&database, &job, 0, 1, integerscore(0));
  }
  ~BodyFixture() { matchcollection_free(collection); }
  void add(Profile *owner, uint64_t seqnum, uint64_t seqposition, uint64_t endposition,
           uint64_t length) {
    CollectedMatch entry{};
    entry.profile = owner;
    entry.seqnum = seqnum;
    entry.endposition = endposition;
    entry.length = length;
    entry.seqposition = seqposition;
    entry.strand = STRAND_FORWARD;
    entry.score = integerscore(5);
    matchcollection_insert(collection, &entry);
  }
  std::string body(int *ret_result, uint64_t *ret_written) {
    testing::internal::CaptureStdout();
    *ret_result = cisml_write_body(collection, &walkmatch, ret_written);
    return testing::internal::GetCapturedStdout();
  }
};

}  // namespace

TEST(CismlEscaping, special_forbidden_and_multibyte_bytes) {
  struct Case {
    std::string bytes;
    bool descriptionnewlines;
    std::string expected;
  };
  const Case cases[] = {
      {"a&b<c>d\"e'f", false, "a&amp;b&lt;c&gt;d&quot;e&apos;f"},
      {"&amp;", false, "&amp;amp;"},  // an entity in the input is text, not markup
      {"t\tn\nr\r", false, "t\tn\nr\r"},
      {"one\ntwo\n", true, "one. two. "},
      {std::string("x\0y\x01\x08\x0b\x0c\x1f\x7f", 9), false, "x?y?????\x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf", false,
       "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf"},
      {"\xe9t\xe9", false, "?t?"},                         // Latin-1
      {"\x80\xbf", false, "??"},                           // lone continuation bytes
      {"\xc0\x80 \xe0\x80\x80 \xf0\x80\x80\x80", false, "?? ??? ????"},  // overlong forms
      {"\xed\xa0\x80", false, "???"},                      // a surrogate
      {"\xf4\x90\x80\x80 \xf5\x80", false, "???? ??"},     // beyond U+10FFFF
      {"\xef\xbf\xbe\xef\xbf\xbf\xef\xbf\xbd", false, "??????\xef\xbf\xbd"},  // U+FFFE, U+FFFF
      {"end\xe2\x82", false, "end??"},                     // cut off at the end
      {"\xc3<", false, "?&lt;"},                           // cut off by a special character
  };
  for (const Case &c : cases) {
    EXPECT_EQ(escaped(c.bytes, c.descriptionnewlines), c.expected) << c.bytes;
  }
}

TEST(CismlBody, matching_characters_are_escaped_and_the_complement_table_used) {
  BodyFixture fixture;
  fixture.database.characters[1] = '<';   // c
  fixture.database.characters[2] = '\xe9';  // g: no UTF-8 character on its own
  fixture.database.complement[0] = '&';   // a on complementary strands
  fixture.job.complementcharacters = fixture.database.complement;
  fixture.add(&fixture.profile, 0, 0, 3, 4);  // "acgt"
  CollectedMatch complementary{};
  complementary.profile = &fixture.profile;
  complementary.endposition = 4;
  complementary.seqposition = 4;
  complementary.length = 1;
  complementary.strand = STRAND_REVERSECOMPLEMENT;
  complementary.score = integerscore(-2);
  matchcollection_insert(fixture.collection, &complementary);
  int result;
  uint64_t written;
  EXPECT_EQ(fixture.body(&result, &written),
            "  <pattern accession=\"\" name=\"A&lt;1&gt;\">\n"
            "    <scanned-sequence accession=\"\" name=\"seq1. \" db=\"db&amp;.fa\" length=\"6\">\n"
            "      <matched-element start=\"0\" stop=\"3\" score=\"5\"><sequence>a&lt;?t"
            "</sequence></matched-element>\n"
            "      <matched-element start=\"4\" stop=\"4\" score=\"-2\"><sequence>&amp;"
            "</sequence></matched-element>\n"
            "    </scanned-sequence>\n"
            "  </pattern>\n");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(written, 2u);
}

TEST(CismlBody, failing_sequence_lookup_stops_the_walk_and_closes_the_pattern) {
  BodyFixture fixture;
  std::string second = "B";
  Profile other = makeprofile(SCORE_INTEGER, 0, 0, 10);
  other.identifier = second.data();
  other.groupnumber = 1;
  fixture.add(&fixture.profile, 1, 0, 8, 2);
  fixture.add(&other, 7, 2, 9, 1);  // no sequence 7 in the database
  fixture.add(&other, 8, 2, 9, 1);
  clearerrorcode();
  int result;
  uint64_t written;
  EXPECT_EQ(fixture.body(&result, &written),
            "  <pattern accession=\"\" name=\"A&lt;1&gt;\">\n"
            "    <scanned-sequence accession=\"\" name=\"second one. \" db=\"db&amp;.fa\" "
            "length=\"5\">\n"
            "      <matched-element start=\"0\" stop=\"1\" score=\"5\"><sequence>gg</sequence>"
            "</matched-element>\n"
            "    </scanned-sequence>\n"
            "  </pattern>\n"
            "  <pattern accession=\"\" name=\"B\">\n"
            "  </pattern>\n");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(geterrorcode(), 1);
  EXPECT_STREQ(errormessagespace(), "unit 7 does not exist: maximal number of units is 2");
  clearerrorcode();
}

TEST(CismlReport, engines_calling_it_is_an_internal_error) {
  Match match{};
  EXPECT_EQ(report_cisml(&match), -1);
  EXPECT_EQ(std::string(errormessagespace()).rfind("Internal program error (cismlreport, line ", 0),
            0u);
  clearerrorcode();
}
