// Reading Fasta, GenBank and EMBL files into a Multiseq, its messages and its queries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/mapfile.hpp"
#include "sequences/multiseq.hpp"
#include "sequences/parsemultiform.hpp"
#include "support/scratchfiles.hpp"

namespace {

const std::string datadir = ZELKO_TEST_DATA "/sequences/";

// A loaded multiseq, released at the end of the test; its invariants are checked on load.
struct Loaded {
  Multiseq multiseq{};
  int status = 0;
  Loaded(const std::string &path, const Alphabet &alpha, bool keepcharacters = false) {
    status = readsequencefile(&multiseq, path.c_str(), &alpha, keepcharacters);
    if (status == 0) {
      EXPECT_EQ(multiseq_check(&multiseq), 0) << errortext();
    }
  }
  ~Loaded() { EXPECT_EQ(freemultiseq(&multiseq), 0); }
  std::string header(uint64_t k) const {
    const uint64_t from = multiseq.descoffsets[k];
    return std::string(reinterpret_cast<const char *>(multiseq.desctext) + from,
                       multiseq.descoffsets[k + 1] - from);
  }
  std::vector<unsigned char> codes() const {
    return {multiseq.sequence, multiseq.sequence + multiseq.totallength};
  }
};

Alphabet dna() {
  Alphabet alpha;
  dnaalphabet(&alpha);
  return alpha;
}
Alphabet protein() {
  Alphabet alpha;
  proteinalphabet(&alpha);
  return alpha;
}

// The codes of residue text under alpha, with 255 for '|'.
std::vector<unsigned char> coded(const Alphabet &alpha, const std::string &residues) {
  std::vector<unsigned char> result;
  for (const char c : residues)
    result.push_back(c == '|' ? SEPARATORCODE : uint8_t(alpha.symbolmap[uint8_t(c)]));
  return result;
}

// Loads text written to a scratch file, named without folder so that messages show the bare
// name; returns the status and leaves the message.
int loadtext(const std::string &text, const Alphabet &alpha, const char *name = "input.fa") {
  ScratchFolder scratch;
  scratch.write(name, text);
  const std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::current_path(scratch.path());
  int status = 0;
  {
    Loaded loaded(name, alpha);
    status = loaded.status;
  }
  std::filesystem::current_path(home);
  return status;
}

std::string failuremessage(const std::string &text, const Alphabet &alpha,
                           const char *name = "input.fa") {
  EXPECT_EQ(loadtext(text, alpha, name), -1);
  return errortext();
}

}  // namespace

TEST(FastaInput, lower_case_wildcards_and_layout) {
  const Alphabet alpha = dna();
  const uint64_t mappedbefore = mappedbytes();
  Loaded loaded(datadir + "mixed.fa", alpha);
  ASSERT_EQ(loaded.status, 0) << errortext();
  const Multiseq &m = loaded.multiseq;
  EXPECT_EQ(m.numofsequences, 3u);
  EXPECT_EQ(loaded.codes(), coded(alpha, "acgtacgtacgtnnacgu|ACGTRYKMSWNNNN|AcGt"));
  EXPECT_EQ(m.totallength, 38u);
  EXPECT_EQ(m.numofseparators, 2u);
  EXPECT_EQ(m.separatorpositions[0], 18u);
  EXPECT_EQ(m.separatorpositions[1], 33u);
  EXPECT_EQ(loaded.header(0), "first sequence, lower case\n");
  EXPECT_EQ(loaded.header(1), "second UPPER case\n");
  EXPECT_EQ(loaded.header(2), "third mixed\n");
  // Specials: nn, the separator, RYKMSWNNNN plus the separator, no prefix or suffix.
  EXPECT_EQ(m.specialcharacters, 2u + 1u + 11u);
  EXPECT_EQ(m.specialranges, 3u);
  EXPECT_EQ(m.lengthofspecialprefix, 0u);
  EXPECT_EQ(m.lengthofspecialsuffix, 0u);
  EXPECT_EQ(m.numoffiles, 1u);
  EXPECT_STREQ(m.fileinfo[0].filename, (datadir + "mixed.fa").c_str());
  EXPECT_EQ(m.fileinfo[0].filelength, 103u);
  EXPECT_TRUE(ismappedfile(m.sequence));  // coded in place in the file's private map
  EXPECT_GT(mappedbytes(), mappedbefore);
}

TEST(FastaInput, gzip_and_crlf_give_the_same_codes) {
  const Alphabet alpha = dna();
  Loaded plain(datadir + "mixed.fa", alpha, true);
  Loaded gzip(datadir + "mixed.fa.gz", alpha, true);
  Loaded crlf(datadir + "crlf.fa", alpha, true);
  ASSERT_EQ(plain.status, 0);
  ASSERT_EQ(gzip.status, 0) << errortext();
  ASSERT_EQ(crlf.status, 0) << errortext();
  EXPECT_FALSE(ismappedfile(gzip.multiseq.sequence));
  EXPECT_EQ(gzip.codes(), plain.codes());
  EXPECT_EQ(crlf.codes(), plain.codes());
  EXPECT_EQ(gzip.header(1), plain.header(1));
  EXPECT_EQ(crlf.header(1), "second UPPER case\r\n");
  const std::string expectedplain = "acgtacgtacgtnnacgu\xff" "ACGTRYKMSWNNNN\xff" "AcGt";
  for (const Loaded *loaded : {&plain, &gzip, &crlf}) {
    ASSERT_NE(loaded->multiseq.plainsequence, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(loaded->multiseq.plainsequence),
                          loaded->multiseq.totallength),
              expectedplain);
  }
}

TEST(FastaInput, special_counts_at_the_ends_and_across_separators) {
  ScratchFolder scratch;
  const Alphabet alpha = dna();
  Loaded loaded(scratch.write("n.fa", ">a\nnnac\n>b\ngn\n>c\nnnnt\n>d\nan\n"), alpha);
  ASSERT_EQ(loaded.status, 0) << errortext();
  EXPECT_EQ(loaded.codes(), coded(alpha, "nnac|gn|nnnt|an"));
  EXPECT_EQ(loaded.multiseq.specialcharacters, 2u + 1 + 1 + 1 + 3 + 1 + 1);
  // Runs: "nn", the first separator, "n|nnn", the third separator, the last "n".
  EXPECT_EQ(loaded.multiseq.specialranges, 5u);
  EXPECT_EQ(loaded.multiseq.lengthofspecialprefix, 2u);
  EXPECT_EQ(loaded.multiseq.lengthofspecialsuffix, 1u);
}

TEST(FastaInput, leading_blank_lines_and_unterminated_last_line) {
  const Alphabet alpha = dna();
  ScratchFolder scratch;
  Loaded with(scratch.write("with.fa", "\n \n\t\n>x\nac\ngt"), alpha);
  Loaded without(scratch.write("without.fa", ">x\nac\ngt\n"), alpha);
  ASSERT_EQ(with.status, 0) << errortext();
  ASSERT_EQ(without.status, 0);
  EXPECT_EQ(with.codes(), without.codes());
  EXPECT_EQ(with.header(0), "x\n");
  // A header on the unterminated last line still ends with a newline.
  EXPECT_EQ(failuremessage(">x\nac\n>y", alpha), "sequence 1 is empty");
}

TEST(FastaInput, format_errors) {
  const Alphabet alpha = dna();
  EXPECT_EQ(failuremessage(">x\nacgt\nac>gt\n", alpha, "gt.fa"),
            "Illegal character '>' in file \"gt.fa\" line 3");
  EXPECT_EQ(failuremessage(">x\nacgt\n\nacxt\n", alpha, "x.fa"),
            "Illegal character 'x' in file \"x.fa\" line 4");
  EXPECT_EQ(failuremessage(">x\nLVIF\n>y\nlvif\n", protein(), "p.fa"),
            "Illegal character 'l' in file \"p.fa\" line 4");
  EXPECT_EQ(failuremessage(">a\nac\n>b\n>c\ngt\n", alpha), "sequence 1 is empty");
  EXPECT_EQ(failuremessage(">a\n>b\n>c\ngt\n", alpha), "sequence 1 is empty");
  EXPECT_EQ(failuremessage(">a\n>b\nac\n>c\ngt\n", alpha), "sequence 0 is empty");
  EXPECT_EQ(failuremessage(">a\nac\n>b\n", alpha), "sequence 1 is empty");
  EXPECT_EQ(failuremessage(">only\n\n", alpha), "input sequences are all empty");
  EXPECT_EQ(failuremessage("\n  \n", alpha, "blank.fa"),
            "input file \"blank.fa\" is not in Fasta, GENBANK or EMBL format");
  EXPECT_EQ(failuremessage("acgt\n>x\nacgt\n", alpha, "nohead.fa"),
            "input file \"nohead.fa\" is not in Fasta, GENBANK or EMBL format");
  Alphabet none{};
  EXPECT_EQ(failuremessage(">x\nacgt\n", none), "need an alphabet for transforming fasta file");
  EXPECT_NE(failuremessage("", alpha, "empty.fa").find("\"empty.fa\": it is empty"),
            std::string::npos);
  Multiseq multiseq{};
  EXPECT_EQ(readsequencefile(&multiseq, "/nonexistent/db.fa.gz", &alpha, false), -1);
  EXPECT_EQ(errortext(), "error when uncompressing file \"/nonexistent/db.fa.gz\": cannot open "
                         "file \"/nonexistent/db.fa.gz\"");
  EXPECT_EQ(geterrorcode(), 0);  // text only: the input selection sets the code
  EXPECT_EQ(freemultiseq(&multiseq), 0);
}

TEST(FastaInput, parser_without_any_header) {
  const Alphabet alpha = dna();
  Multiseq multiseq{};
  unsigned char blank[] = " \n\t";
  EXPECT_EQ(parsefasta(&alpha, &multiseq, "t.fa", blank, 3), -2);
  EXPECT_EQ(errortext(), "no sequences in multiple fasta file");
  multiseq.sequence = nullptr;  // the text is a local array
  EXPECT_EQ(freemultiseq(&multiseq), 0);
}

// Texts cut into up to five stretches parsed by threads: the tables, counts and messages are
// those of one pass, wherever the cuts fall (at headers after runs of wildcards, before empty
// sequences, before a failure in a later stretch, after leading blank lines).
TEST(FastaInput, parse_in_stretches_matches_one_pass) {
  const std::string texts[] = {
      ">a\nacgt\n>b desc\nnnac\ngg\n>c\nacnn\n>d\nttt\n>e\nnnnn\n>f\nac",
      "\n\n>a\nac\n>b\nnn\n>c\ng\n>d\nt\n>e\nacgtacgt\n>f\n",
      ">a\nac\n>b\ngg\n>c\ntt\n>d\nacxt\n>e\nac\n",
      ">a\nac\n>b\ngg\n>c\ntt\n>d\nac>t\n>e\nac\n",
      ">a\nac\n>b\ngg\n>c\n>d\nac\n>e\nac\n",
      ">a\nac\r\n>b\r\ngg\r\n>c\r\ntt\r\n>d\r\nnn\r\n>e\r\nnac",
      ">only one\nacgtnnacgt\nacgt\n",
  };
  const Alphabet alpha = dna();
  for (const std::string &text : texts) {
    SCOPED_TRACE(text);
    std::vector<unsigned char> onebuffer(text.begin(), text.end());
    Multiseq one{};
    errormessagespace()[0] = '\0';
    const int onestatus = parsefasta(&alpha, &one, "t.fa", onebuffer.data(), onebuffer.size());
    const std::string onemessage = errortext();
    for (uint64_t jobs = 2; jobs <= 5; jobs++) {
      SCOPED_TRACE("jobs " + std::to_string(jobs));
      std::vector<unsigned char> buffer(text.begin(), text.end());
      Multiseq parts{};
      errormessagespace()[0] = '\0';
      EXPECT_EQ(parsefasta(&alpha, &parts, "t.fa", buffer.data(), buffer.size(), jobs), onestatus);
      EXPECT_EQ(errortext(), onemessage);
      if (onestatus == 0) {
        EXPECT_EQ(multiseq_check(&parts), 0);
        EXPECT_EQ(std::vector<unsigned char>(buffer.data(), buffer.data() + parts.totallength),
                  std::vector<unsigned char>(onebuffer.data(), onebuffer.data() + one.totallength));
        EXPECT_EQ(std::vector<uint64_t>(parts.separatorpositions,
                                        parts.separatorpositions + parts.numofseparators),
                  std::vector<uint64_t>(one.separatorpositions,
                                        one.separatorpositions + one.numofseparators));
        EXPECT_EQ(std::vector<uint64_t>(parts.descoffsets, parts.descoffsets + parts.numofsequences + 1),
                  std::vector<uint64_t>(one.descoffsets, one.descoffsets + one.numofsequences + 1));
        EXPECT_EQ(std::string(reinterpret_cast<char *>(parts.desctext), parts.desctextlength),
                  std::string(reinterpret_cast<char *>(one.desctext), one.desctextlength));
        const uint64_t counts[] = {parts.numofsequences, parts.specialcharacters,
                                   parts.specialranges, parts.lengthofspecialprefix,
                                   parts.lengthofspecialsuffix, parts.numofdbsequences};
        const uint64_t expected[] = {one.numofsequences, one.specialcharacters,
                                     one.specialranges, one.lengthofspecialprefix,
                                     one.lengthofspecialsuffix, one.numofdbsequences};
        EXPECT_TRUE(std::equal(std::begin(counts), std::end(counts), std::begin(expected)));
      }
      parts.sequence = nullptr;  // the text is a local buffer
      EXPECT_EQ(freemultiseq(&parts), 0);
    }
    one.sequence = nullptr;
    EXPECT_EQ(freemultiseq(&one), 0);
  }
}

TEST(Positions, sequence_of_position_and_ranges) {
  ScratchFolder scratch;
  const Alphabet alpha = dna();
  Loaded loaded(scratch.write("32.fa", ">three\nacg\n>two\ntt\n"), alpha);
  ASSERT_EQ(loaded.status, 0);
  const Multiseq *m = &loaded.multiseq;
  EXPECT_EQ(m->totallength, 6u);
  EXPECT_EQ(m->separatorpositions[0], 3u);
  const int64_t expected[] = {0, 0, 0, 0, 1, 1};
  for (uint64_t p = 0; p < 6; p++) EXPECT_EQ(seqnumofposition(m, p), expected[p]) << p;
  EXPECT_EQ(seqnumofposition(m, 6), -1);
  EXPECT_EQ(errortext(), "cannot find position 6");
  PositionPair range{};
  ASSERT_EQ(seqrange(m, 1, &range), 0);
  EXPECT_EQ(range.first, 4u);
  EXPECT_EQ(range.last, 5u);
  ASSERT_EQ(seqrange(m, 0, &range), 0);
  EXPECT_EQ(range.first, 0u);
  EXPECT_EQ(range.last, 2u);
  EXPECT_EQ(seqstartposition(m, 1), 4u);
  EXPECT_EQ(seqrange(m, 2, &range), -1);
  EXPECT_EQ(errortext(), "unit 2 does not exist: maximal number of units is 2");
}

TEST(Positions, bisection_over_many_sequences_and_single_sequence_bounds) {
  ScratchFolder scratch;
  const Alphabet alpha = dna();
  std::string text;
  for (int k = 0; k < 300; k++) text += ">s" + std::to_string(k) + "\n" + std::string(k % 7 + 1, 'a') + "\n";
  Loaded many(scratch.write("many.fa", text), alpha);
  ASSERT_EQ(many.status, 0);
  const Multiseq *m = &many.multiseq;
  EXPECT_EQ(m->numofsequences, 300u);
  for (uint64_t k = 0; k < 300; k++) {
    PositionPair range{};
    ASSERT_EQ(seqrange(m, k, &range), 0);
    EXPECT_EQ(range.last - range.first + 1, k % 7 + 1);
    EXPECT_EQ(seqnumofposition(m, range.first), int64_t(k));
    if (k + 1 < 300) {
      EXPECT_EQ(seqnumofposition(m, range.last + 1), int64_t(k)) << "its closing separator";
    }
  }
  Loaded one(scratch.write("one.fa", ">x\nacgt\n"), alpha);
  ASSERT_EQ(one.status, 0);
  EXPECT_EQ(seqnumofposition(&one.multiseq, 3), 0);
  EXPECT_EQ(seqnumofposition(&one.multiseq, 4), -1);
  EXPECT_EQ(errortext(), "cannot find position 4");
}

TEST(RecordFormats, genbank_and_embl_records_code_identically) {
  const Alphabet alpha = dna();
  Loaded genbank(datadir + "twins.gb", alpha, true);
  Loaded embl(datadir + "twins.embl", alpha);
  Loaded emblgz(datadir + "twins.embl.gz", alpha);
  ASSERT_EQ(genbank.status, 0) << errortext();
  ASSERT_EQ(embl.status, 0) << errortext();
  ASSERT_EQ(emblgz.status, 0) << errortext();
  EXPECT_EQ(genbank.multiseq.numofsequences, 2u);
  EXPECT_EQ(genbank.multiseq.totallength, 1065u + 1 + 70);
  EXPECT_EQ(genbank.codes(), embl.codes());
  EXPECT_EQ(emblgz.codes(), embl.codes());
  EXPECT_EQ(genbank.header(0),
            "M27612 Pseudomonas aeruginosa aliphatic amidase (amiE) gene, complete cds.\n");
  EXPECT_EQ(embl.header(0),
            "M27612; Pseudomonas aeruginosa aliphatic amidase (amiE) gene, complete cds.\n");
  EXPECT_EQ(genbank.header(1), "TOYSEQ Synthetic test sequence with wildcards,\n");
  EXPECT_EQ(embl.header(1), "TOYSEQ; Synthetic test sequence with wildcards,\n");
  // No digits or blanks of the sequence block survive; the record starts "AAATAACAAC".
  const std::string plain(reinterpret_cast<const char *>(genbank.multiseq.plainsequence),
                          genbank.multiseq.totallength);
  EXPECT_EQ(plain.substr(0, 10), "AAATAACAAC");
  EXPECT_EQ(plain.substr(1060, 5), "CCTGA");
  EXPECT_EQ(plain.substr(1066), "acgtnacgtacgtacgtacgttttuaaccggnnnyrgatcatgcatgcatgcatgcatgcaaaaaccccc");
}

TEST(RecordFormats, conversion_writes_fasta_in_place) {
  std::string text =
      "LOCUS       AB1  6 bp\nDEFINITION  first one\nORIGIN\n        1 acg ttt\n//\n"
      "LOCUS       AB2  2 bp\nDEFINITION  second\n            more\nFEATURES  /x=\"/\"\n"
      "ORIGIN   extra\n        1 gg\n// trailing\n\n";
  const int64_t length =
      convertmultiformat(reinterpret_cast<unsigned char *>(text.data()), text.size());
  ASSERT_GT(length, 0);
  EXPECT_EQ(text.substr(0, size_t(length)), ">AB1 first one\nacgttt\n>AB2 second\ngg\n");

  std::string fasta = "\n\n  >x\nac\n";
  EXPECT_EQ(convertmultiformat(reinterpret_cast<unsigned char *>(fasta.data()), fasta.size()), 6);
  EXPECT_EQ(fasta.substr(0, 6), ">x\nac\n");
}

TEST(RecordFormats, record_errors) {
  const Alphabet alpha = dna();
  const std::string genbank = "LOCUS       A1\nDEFINITION  d\nORIGIN\n  1 acgt\n//\n";
  const std::string embl = "ID   E1; linear; DNA; 4 BP.\nDE   d\nSQ   Sequence\n  acgt 4\n//\n";
  EXPECT_EQ(loadtext(genbank + genbank, alpha), 0);
  EXPECT_EQ(loadtext(embl + embl, alpha), 0);
  // Blank lines before the first record are skipped for Fasta and GenBank, not for EMBL.
  for (const std::string &file : {"\n \n" + genbank, std::string("\n\n>x\nacgt\n")}) {
    EXPECT_EQ(loadtext(file, alpha), 0) << file;
  }
  EXPECT_EQ(loadtext("ID   E1; 4 bp.\r\nDE   d\r\nSQ   s\r\n  acgt\r\n//\r\n", alpha), 0);
  EXPECT_EQ(loadtext("ID   E1; 4 aa.\nDE   d\nSQ   s\n  LVIF\n//\n", protein()), 0);
  EXPECT_EQ(failuremessage("ID   E1; 4 bp\nDE   d\nSQ   s\n  acgt\n//\n", alpha),
            "cannot detect sequence type:  first line must end with \"aa.\" or \"bp.\" in lower "
            "or upper case");
  EXPECT_EQ(failuremessage("LOCUS       A1\nDEF  d\nORIGIN\n  1 acgt\n//\n", alpha),
            "missing \"\nDEFINITION\" in database file");
  EXPECT_EQ(failuremessage("LOCUS       A1\nDEFINITION  d\nSEQUENCE\n  1 acgt\n//\n", alpha),
            "missing \"\nORIGIN\" in GenBank file");
  EXPECT_EQ(failuremessage("ID   E1; 4 BP.\nDE   d\nSS   x\n  acgt\n//\n", alpha),
            "missing \"\nSQ   \" in GenBank file");
  EXPECT_EQ(failuremessage("LOCUS       A1\nDEFINITION  d\nORIGIN\n  1 acgt\n/x\n", alpha),
            "input sequence does no contain second '/'");
  EXPECT_EQ(failuremessage("LOCUS       A1\nDEFINITION  d\nORIGIN\n  1 acgt\n", alpha),
            "input sequence does not end with a line \"//\"");
  // A record without a description does not borrow the next record's.
  EXPECT_EQ(failuremessage("LOCUS       A0\nORIGIN\n  1 tttt\n//\n" + genbank, alpha),
            "missing \"\nDEFINITION\" in database file");
  EXPECT_EQ(failuremessage("LOCUS       A0\nDEFINITION  d\n  1 tttt\n//\n" + genbank, alpha),
            "missing \"\nORIGIN\" in GenBank file");
  const std::string unknown = "input file \"input.fa\" is not in Fasta, GENBANK or EMBL format";
  EXPECT_EQ(failuremessage("\n" + embl, alpha), unknown);
  EXPECT_EQ(failuremessage(" " + embl, alpha), unknown);
  EXPECT_EQ(failuremessage(genbank + "junk after the record\n", alpha), unknown);
  EXPECT_EQ(failuremessage(embl + "junk\n", alpha), unknown);
  EXPECT_EQ(failuremessage("RELEASE HEADER\n" + genbank, alpha), unknown);
}

TEST(Release, free_unmaps_and_nulls_every_table_and_check_finds_damage) {
  ScratchFolder scratch;
  const Alphabet alpha = dna();
  const uint64_t before = mappedbytes();
  Multiseq multiseq{};
  ASSERT_EQ(readsequencefile(&multiseq, scratch.write("a.fa", ">a\nac\n>b\ngt\n").c_str(),
                             &alpha, true),
            0);
  EXPECT_EQ(multiseq_check(&multiseq), 0);
  multiseq.sequence[1] = SEPARATORCODE;
  EXPECT_EQ(multiseq_check(&multiseq), -1);
  multiseq.sequence[1] = 1;
  multiseq.specialranges++;
  EXPECT_EQ(multiseq_check(&multiseq), -1);
  multiseq.specialranges--;
  multiseq.separatorpositions[0] = 1;
  EXPECT_EQ(multiseq_check(&multiseq), -1);
  multiseq.separatorpositions[0] = 2;
  EXPECT_EQ(multiseq_check(&multiseq), 0);

  EXPECT_EQ(freemultiseq(&multiseq), 0);
  EXPECT_EQ(mappedbytes(), before);
  EXPECT_EQ(multiseq.sequence, nullptr);
  EXPECT_EQ(multiseq.plainsequence, nullptr);
  EXPECT_EQ(multiseq.desctext, nullptr);
  EXPECT_EQ(multiseq.descoffsets, nullptr);
  EXPECT_EQ(multiseq.separatorpositions, nullptr);
  EXPECT_EQ(multiseq.fileinfo[0].filename, nullptr);
  EXPECT_EQ(freemultiseq(&multiseq), 0);  // releasing twice is harmless
}

TEST(Release, extractplain_skips_headers_and_white_space) {
  const std::string text = ">a b\nac gt\r\n>c\n\nNN\n";
  std::vector<unsigned char> plain(text.size());
  const uint64_t written = extractplain(plain.data(), reinterpret_cast<const unsigned char *>(text.data()), text.size());
  EXPECT_EQ(std::string(plain.begin(), plain.begin() + long(written)), "acgt\xffNN");
}
