// scan_addregions against the genome's own letters: intervals merged where they overlap or
// touch, in the genome's order, with their offsets and names, from plain and gzip BED files
// of a plain and a bgzip genome (their indices made on first use); and the lines and files it
// refuses, named by file and line, leaving the sequences as they were.
#include <gtest/gtest.h>
#include <htslib/bgzf.h>
#include <sys/stat.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "scan/scan.hpp"
#include "support/scratchfiles.hpp"

namespace {

using Record = std::pair<std::string, std::string>;  // name and letters

// A made-up genome, its sequences in an order that is not alphabetical; chrZ spans several
// BGZF blocks (64 KiB each).
std::vector<Record> makegenome() {
  std::mt19937 random(32);
  std::vector<Record> genome = {{"chrZ", ""}, {"chr2", ""}, {"chr10", ""}};
  const size_t lengths[] = {150000, 5000, 3000};
  for (size_t i = 0; i < genome.size(); i++) {
    for (size_t k = 0; k < lengths[i]; k++) genome[i].second.push_back("ACGTacgtN"[random() % 9]);
  }
  return genome;
}

std::string fastatext(const std::vector<Record> &genome) {
  std::string text;
  for (const Record &record : genome) {
    text += ">" + record.first + " made up\n";
    for (size_t k = 0; k < record.second.size(); k += 60) text += record.second.substr(k, 60) + "\n";
  }
  return text;
}

void writegzip(const std::string &path, const std::string &text) {
  gzFile file = gzopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(gzwrite(file, text.data(), static_cast<unsigned>(text.size())),
            static_cast<int>(text.size()));
  gzclose(file);
}

// BGZF without its .gzi, as bgzip writes it without -i.
void writebgzf(const std::string &path, const std::string &text) {
  BGZF *file = bgzf_open(path.c_str(), "w");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(bgzf_write(file, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ASSERT_EQ(bgzf_close(file), 0);
}

// The in-memory records: header line and letters.
std::vector<Record> pending(const ScanSequences &sequences) {
  std::vector<Record> records;
  const std::string &text = sequences.pending;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    if (line[0] == '>') {
      records.emplace_back(line.substr(1), "");
    } else {
      records.back().second += line;
    }
    at = end + 1;
  }
  return records;
}

struct Region {
  std::string chromosome;
  uint64_t start;
  uint64_t end;
  std::string names;
};

struct MergeCase {
  const char *what;
  std::string bed;
  std::vector<Region> regions;
};

const std::vector<MergeCase> mergecases = {
    {"overlapping, bookended and contained intervals merge; names in file order, each once",
     "chr2\t100\t200\ta\nchr2\t150\t250\tb\nchr2\t250\t300\ta\nchr2\t120\t130\tc\n"
     "chr2\t301\t400\td\n",
     {{"chr2", 100, 300, "a,b,c"}, {"chr2", 301, 400, "d"}}},
    {"the genome's order, then start; no names, no region names",
     "chr10\t0\t10\nchr2\t50\t60\nchrZ\t70000\t70100\nchrZ\t5\t6\n",
     {{"chrZ", 5, 6, ""}, {"chrZ", 70000, 70100, ""}, {"chr2", 50, 60, ""}, {"chr10", 0, 10, ""}}},
    {"comments, track, browser and blank lines, CRLF, empty intervals, further columns",
     "# regions\ntrack name=test\nbrowser position chr2:1-10\n\n \t\n"
     "chr2\t10\t20\tn1\t0\t+\r\nchr2\t30\t30\tempty\nchr10\t2990\t3000\tlast\n",
     {{"chr2", 10, 20, "n1"}, {"chr10", 2990, 3000, "last"}}},
    {"a region across BGZF blocks, a whole sequence, names of some intervals only",
     "chrZ\t65000\t140000\tlong\nchrZ\t64000\t66000\nchr10\t0\t3000\twhole\n",
     {{"chrZ", 64000, 140000, "long"}, {"chr10", 0, 3000, "whole"}}},
};

TEST(ScanRegions, merged_in_genome_order_with_offsets_names_and_letters) {
  const std::vector<Record> genome = makegenome();
  for (const bool bgzip : {false, true}) {
    ScratchFolder folder;
    const std::string fasta = folder.path(bgzip ? "genome.fa.gz" : "genome.fa");
    if (bgzip) {
      writebgzf(fasta, fastatext(genome));
    } else {
      folder.write("genome.fa", fastatext(genome));
    }
    for (const MergeCase &test : mergecases) {
      for (const bool gzip : {false, true}) {
        SCOPED_TRACE(std::string(test.what) + (bgzip ? ", bgzip genome" : ", plain genome") +
                     (gzip ? ", gzip BED" : ", plain BED"));
        const std::string bed = folder.path(gzip ? "regions.bed.gz" : "regions.bed");
        if (gzip) {
          writegzip(bed, test.bed);
        } else {
          folder.write("regions.bed", test.bed);
        }
        ScanSequences sequences;
        ASSERT_EQ(scan_addregions(&sequences, fasta, bed), 0) << scan_errormessage();
        const std::vector<Record> records = pending(sequences);
        ASSERT_EQ(records.size(), test.regions.size());
        ASSERT_EQ(sequences.offsets.size(), test.regions.size());
        ASSERT_EQ(sequences.regions.size(), test.regions.size());
        for (size_t i = 0; i < test.regions.size(); i++) {
          const Region &region = test.regions[i];
          EXPECT_EQ(records[i].first, region.chromosome);
          EXPECT_EQ(sequences.offsets[i], region.start);
          EXPECT_EQ(sequences.regions[i], region.names);
          std::string letters;
          for (const Record &record : genome) {
            if (record.first == region.chromosome) {
              letters = record.second.substr(region.start, region.end - region.start);
            }
          }
          EXPECT_TRUE(records[i].second == letters) << "letters of region " << i;
        }
        ASSERT_EQ(scan_loadsequences(&sequences, SCAN_ALPHABET_DNA), 0) << scan_errormessage();
        EXPECT_EQ(sequences.count, test.regions.size());
        EXPECT_EQ(sequences.names[0], test.regions[0].chromosome);
        scan_freesequences(&sequences);
      }
    }
    // The indices were made beside the genome.
    struct stat status;
    EXPECT_EQ(stat((fasta + ".fai").c_str(), &status), 0);
    if (bgzip) {
      EXPECT_EQ(stat((fasta + ".gzi").c_str(), &status), 0);
    }
  }
}

struct FailureCase {
  const char *what;
  std::string bed;      // the BED file's text
  const char *bedname;  // "regions.bed", or another file
  const char *genome;   // "genome.fa", or another file
  std::string message;  // @BED@ and @GENOME@ stand for the paths
};

const std::vector<FailureCase> failurecases = {
    {"too few columns", "chr2\t10\t20\nchr2\t10\n", "regions.bed", "genome.fa",
     "`@BED@' line 2: not a BED interval (chromosome, start, end)"},
    {"blanks instead of tabs", "chr2 10 20\n", "regions.bed", "genome.fa",
     "`@BED@' line 1: not a BED interval (chromosome, start, end)"},
    {"a start that is no whole number", "chr2\t1e3\t2000\n", "regions.bed", "genome.fa",
     "`@BED@' line 1: not a BED interval (chromosome, start, end): start `1e3' is not a whole "
     "number"},
    {"a negative end", "chr2\t0\t-5\n", "regions.bed", "genome.fa",
     "`@BED@' line 1: not a BED interval (chromosome, start, end): end `-5' is not a whole "
     "number"},
    {"start after end", "# first\nchr2\t500\t100\n", "regions.bed", "genome.fa",
     "`@BED@' line 2: region chr2:500-100 starts after its end"},
    {"a sequence the genome lacks", "chr2\t1\t2\nchr2\t3\t4\nchrX\t1\t2\n", "regions.bed",
     "genome.fa", "`@BED@' line 3: no sequence `chrX' in genome `@GENOME@'"},
    {"beyond the end", "chr10\t0\t3000\nchr2\t100\t5001\n", "regions.bed", "genome.fa",
     "`@BED@' line 2: region chr2:100-5001 reaches beyond the end of chr2 (5000 letters)"},
    {"no region of positive length", "# none\nchr2\t7\t7\n", "regions.bed", "genome.fa",
     "`@BED@' holds no region to scan"},
    {"a BED file that is missing", "", "none.bed", "genome.fa",
     "cannot open `@BED@': No such file or directory"},
    {"truncated gzip", "", "truncated.bed.gz", "genome.fa",
     "file `@BED@' is truncated or corrupt: its gzip data ends early"},
    {"a genome that is missing", "chr2\t1\t2\n", "regions.bed", "none.fa",
     "cannot open genome `@GENOME@': No such file or directory"},
    {"a genome compressed with gzip", "chr2\t1\t2\n", "regions.bed", "genome.fa.gz",
     "genome `@GENOME@' is compressed with gzip, not bgzip: its regions cannot be read through "
     "an index (compress it with bgzip, or decompress it)"},
};

TEST(ScanRegions, faults_named_by_file_and_line_and_nothing_added) {
  const std::vector<Record> genome = makegenome();
  ScratchFolder folder;
  const std::string text = fastatext(genome);
  folder.write("genome.fa", text);
  writegzip(folder.path("genome.fa.gz"), text);
  std::string lines;
  for (int i = 0; i < 5000; i++) lines += "chr2\t" + std::to_string(i * 7919 % 3989) + "\t4000\n";
  writegzip(folder.path("whole.bed.gz"), lines);
  {
    std::FILE *whole = std::fopen(folder.path("whole.bed.gz").c_str(), "rb");
    ASSERT_NE(whole, nullptr);
    std::string bytes(400, '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), whole));
    std::fclose(whole);
    ASSERT_EQ(bytes.size(), 400u);
    folder.write("truncated.bed.gz", bytes);
  }
  const std::string good = folder.write("good.bed", "chr2\t0\t10\tfirst\n");
  for (const FailureCase &test : failurecases) {
    SCOPED_TRACE(test.what);
    const std::string bed = folder.path(test.bedname);
    if (std::string(test.bedname) == "regions.bed") folder.write("regions.bed", test.bed);
    const std::string fasta = folder.path(test.genome);
    ScanSequences sequences;
    ASSERT_EQ(scan_addregions(&sequences, folder.path("genome.fa"), good), 0)
        << scan_errormessage();
    const std::string before = sequences.pending;
    EXPECT_EQ(scan_addregions(&sequences, fasta, bed), -1);
    std::string message = test.message;
    for (const auto &[mark, path] : {std::pair{"@BED@", bed}, std::pair{"@GENOME@", fasta}}) {
      const size_t at = message.find(mark);
      if (at != std::string::npos) message.replace(at, std::string(mark).size(), path);
    }
    EXPECT_EQ(scan_errormessage(), message);
    EXPECT_EQ(sequences.pending, before);
    EXPECT_EQ(sequences.offsets, std::vector<uint64_t>{0});
    EXPECT_EQ(sequences.regions, std::vector<std::string>{"first"});
  }
  // Regions belong to their sequences one by one: none among sequences given otherwise.
  ScanSequences mixed;
  ASSERT_EQ(scan_addsequence(&mixed, "other", "ACGT"), 0);
  EXPECT_EQ(scan_addregions(&mixed, folder.path("genome.fa"), good), -1);
  EXPECT_STREQ(scan_errormessage(), "the regions of a genome cannot be added to other sequences");
  EXPECT_EQ(mixed.pending, ">other\nACGT\n");
}

}  // namespace
