// The scan library against independent computations: q-values by brute force, the counted
// background against a frequency file written by hand, results for every thread count and
// for sequences given in memory, the single-motif statistics against the scan's matches, a
// cancelled scan, and the histograms' bin rules against values worked out by hand.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "scan/scan.hpp"
#include "support/scratchfiles.hpp"

namespace {

const std::string data = ZELKO_TEST_DATA "/";
const std::string example = ZELKO_TEST_DATA "/../../examples/dm3_upstream300.fa.gz";
const std::string jaspar = ZELKO_TEST_DATA "/motifconv/jaspar3.jaspar";

struct Scan {
  ScanMotifs motifs;
  ScanSequences sequences;
  ScanResult result;
  ~Scan() {
    scan_freesequences(&sequences);
    scan_freemotifs(&motifs);
  }
};

// The records of a Fasta file (plain or gzip): header line without `>' and the letters.
std::vector<std::pair<std::string, std::string>> fastarecords(const std::string &path) {
  std::vector<std::pair<std::string, std::string>> records;
  gzFile file = gzopen(path.c_str(), "rb");
  EXPECT_NE(file, nullptr) << path;
  if (file == nullptr) return records;
  char line[65536];
  while (gzgets(file, line, sizeof line) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (!text.empty() && text[0] == '>') {
      records.emplace_back(text.substr(1), "");
    } else if (!records.empty()) {
      records.back().second += text;
    }
  }
  gzclose(file);
  return records;
}

// Reads, loads and scans; the test fails on any error.
void runscan(Scan *scan, const std::vector<std::string> &motiffiles, const std::string &sequences,
             const ScanOptions &options) {
  ASSERT_EQ(scan_readmotifs(motiffiles, SCAN_FORMAT_AUTO, &scan->motifs), 0)
      << scan_errormessage();
  if (!sequences.empty()) scan->sequences.path = sequences;
  ASSERT_EQ(scan_run(&scan->motifs, &scan->sequences, options, &scan->result), 0)
      << scan_errormessage();
}

// The rows of a result as text, every column included.
std::string rows(const Scan &scan) {
  std::string text;
  char *buffer = nullptr;
  size_t length = 0;
  FILE *stream = open_memstream(&buffer, &length);
  EXPECT_EQ(scan_writetsv(scan.result, scan.motifs, scan.sequences, stream), 0);
  std::fclose(stream);
  text.assign(buffer, length);
  std::free(buffer);
  return text;
}

TEST(Scan, qvalues_agree_with_benjamini_hochberg_by_brute_force) {
  Scan scan;
  ScanOptions options;
  options.pvalue = 1e-3;
  options.threads = 2;
  runscan(&scan, {jaspar}, example, options);
  const ScanHits &hits = scan.result.hits;
  ASSERT_GT(scan_hitcount(hits), 1000u);
  for (uint32_t motif = 0; motif < scan.motifs.motifs.size(); motif++) {
    // N: every window of every sequence the motif fits in, on both strands.
    const uint64_t m = scan.motifs.motifs[motif].length;
    double windows = 0;
    for (uint64_t length : scan.sequences.lengths) {
      if (length >= m) windows += 2.0 * static_cast<double>(length - m + 1);
    }
    EXPECT_EQ(scan.result.motifs[motif].windows, static_cast<uint64_t>(windows));
    std::vector<size_t> mine;
    for (size_t i = 0; i < hits.motif.size(); i++) {
      if (hits.motif[i] == motif) mine.push_back(i);
    }
    // q_i = min over the matches j at least as improbable of p_j N / rank_j, where the
    // rank counts the matches at most as probable: quadratic, without any sorting.
    std::vector<double> rank(hits.motif.size(), 0.0);
    for (size_t j : mine) {
      for (size_t l : mine) rank[j] += hits.pvalue[l] <= hits.pvalue[j] ? 1 : 0;
    }
    for (size_t i : mine) {
      double q = 1.0;
      for (size_t j : mine) {
        if (hits.pvalue[j] >= hits.pvalue[i]) q = std::min(q, hits.pvalue[j] * windows / rank[j]);
      }
      ASSERT_NEAR(hits.qvalue[i], q, 1e-12 * q) << "motif " << motif << " row " << i;
    }
  }
  // The filter keeps exactly the rows at or below the cutoff: one of the q-values here.
  std::vector<double> sorted = hits.qvalue;
  std::sort(sorted.begin(), sorted.end());
  const double cutoff = sorted[sorted.size() / 3];
  Scan filtered;
  options.useqvalue = true;
  options.qvalue = cutoff;
  runscan(&filtered, {jaspar}, example, options);
  const auto kept = std::count_if(hits.qvalue.begin(), hits.qvalue.end(),
                                  [cutoff](double q) { return q <= cutoff; });
  EXPECT_EQ(static_cast<size_t>(kept), scan_hitcount(filtered.result.hits));
}

TEST(Scan, background_counted_from_the_sequences_equals_a_frequency_file) {
  ScratchFolder folder;
  // 24 letters: a 9, c 3, g 3, t 9; the n's are wildcards and not counted.
  const std::string sequences =
      folder.write("small.fa", ">one\nAATTACGTAATnnTTACG\n>two\nTTACGATA\n");
  const std::string frequencies = folder.write("hand.freq", "a 0.375\nc 0.125\ng 0.125\nt 0.375\n");
  Scan counted, file;
  ScanOptions options;
  options.pvalue = 0.05;
  runscan(&counted, {jaspar}, sequences, options);
  options.background.kind = SCAN_BACKGROUND_FILE;
  options.background.filename = frequencies;
  runscan(&file, {jaspar}, sequences, options);
  EXPECT_EQ(counted.motifs.backgroundletters, "acgt");
  EXPECT_EQ(counted.motifs.backgroundfrequencies,
            (std::vector<double>{0.375, 0.125, 0.125, 0.375}));
  ASSERT_GT(scan_hitcount(counted.result.hits), 0u);
  EXPECT_EQ(rows(counted), rows(file));
  // The same frequencies handed over in memory, upper case as a caller may write them.
  Scan given;
  options.background.kind = SCAN_BACKGROUND_GIVEN;
  options.background.letters = "ACGT";
  options.background.frequencies = {0.375, 0.125, 0.125, 0.375};
  runscan(&given, {jaspar}, sequences, options);
  EXPECT_EQ(rows(given), rows(file));
  // The weights rest on that background too: not those of the uniform one.
  Scan uniform;
  options.background.kind = SCAN_BACKGROUND_UNIFORM;
  runscan(&uniform, {jaspar}, sequences, options);
  EXPECT_NE(counted.motifs.motifs[0].weights, uniform.motifs.motifs[0].weights);
}

// Also with the motifs searched one by one instead of in one batch (a setting for tests).
TEST(Scan, every_thread_count_and_sequences_in_memory_give_the_same_rows) {
  ScanOptions options;
  options.pvalue = 1e-3;
  std::string first, firstbypvalue;
  for (const char *setting : {"", "nobatch"}) {
    setenv("ZELKO_TEST_LOOKAHEAD", setting, 1);
    for (uint64_t threads : {1, 2, 4, 7}) {
      for (ScanSort sort : {SCAN_SORT_POSITION, SCAN_SORT_PVALUE}) {
        Scan scan;
        options.threads = threads;
        options.sort = sort;
        runscan(&scan, {jaspar}, example, options);
        const std::string text = rows(scan);
        std::string &expected = sort == SCAN_SORT_POSITION ? first : firstbypvalue;
        if (expected.empty()) expected = text;
        EXPECT_EQ(text, expected) << threads << " threads, sort " << sort << ", " << setting;
      }
    }
  }
  unsetenv("ZELKO_TEST_LOOKAHEAD");
  // The same sequences given one by one, as a caller holding them in memory would.
  Scan memory;
  options.threads = 3;
  options.sort = SCAN_SORT_POSITION;
  for (const auto &[header, residues] : fastarecords(example)) {
    ASSERT_EQ(scan_addsequence(&memory.sequences, header, residues), 0) << scan_errormessage();
  }
  runscan(&memory, {jaspar}, "", options);
  EXPECT_EQ(rows(memory), first);
}

TEST(Scan, single_motif_statistics_agree_with_the_scan) {
  Scan scan;
  ScanOptions options;
  options.pvalue = 1e-3;
  runscan(&scan, {jaspar}, example, options);
  const auto records = fastarecords(example);
  const ScanHits &hits = scan.result.hits;
  for (uint32_t motif = 0; motif < scan.motifs.motifs.size(); motif++) {
    for (const ScanStrand strand : {SCAN_STRAND_FORWARD, SCAN_STRAND_REVERSE}) {
      int64_t threshold;
      ASSERT_EQ(scan_threshold(scan.motifs, motif, 1e-3, &threshold, strand), 0)
          << scan_errormessage();
      const ScanMotifSummary &summary = scan.result.motifs[motif];
      EXPECT_EQ(threshold, strand == SCAN_STRAND_FORWARD ? summary.threshold
                                                         : summary.reversethreshold);
      double at, below;
      ASSERT_EQ(scan_pvalue(scan.motifs, motif, threshold, &at, strand), 0);
      ASSERT_EQ(scan_pvalue(scan.motifs, motif, threshold - 1, &below, strand), 0);
      EXPECT_LE(at, 1e-3);
      EXPECT_GT(below, 1e-3);
      // Beyond the score range: certain below it, impossible above it.
      const ScanMotif &m = scan.motifs.motifs[motif];
      double top, above, under;
      ASSERT_EQ(scan_pvalue(scan.motifs, motif, m.maxscore, &top, strand), 0);
      ASSERT_EQ(scan_pvalue(scan.motifs, motif, m.maxscore + 1, &above, strand), 0);
      ASSERT_EQ(scan_pvalue(scan.motifs, motif, m.minscore - 1, &under, strand), 0);
      EXPECT_GT(top, 0.0);
      EXPECT_EQ(above, 0.0);
      EXPECT_NEAR(under, 1.0, 1e-9);
    }
  }
  for (size_t i = 0; i < hits.motif.size(); i += 97) {
    double pvalue;
    const ScanStrand strand = hits.strand[i] == '-' ? SCAN_STRAND_REVERSE : SCAN_STRAND_FORWARD;
    ASSERT_EQ(scan_pvalue(scan.motifs, hits.motif[i], hits.score[i], &pvalue, strand), 0);
    EXPECT_EQ(pvalue, hits.pvalue[i]) << "row " << i;
    std::vector<int64_t> forward, reverse;
    ASSERT_EQ(scan_scorewindows(scan.motifs, hits.motif[i], records[hits.sequence[i]].second,
                                &forward, &reverse),
              0)
        << scan_errormessage();
    const std::vector<int64_t> &windows = hits.strand[i] == '+' ? forward : reverse;
    EXPECT_EQ(windows.at(hits.start[i] - 1), hits.score[i]) << "row " << i;
  }
}

// On sequences of skewed composition the letters of a - window follow the complemented
// frequencies: each strand's matches must come at the rate its own threshold's exact p-value
// gives, both strands and the forward strand alone, with the counted background. Scoring the
// - strand under the forward frequencies made it some 100 times too frequent here.
TEST(Scan, each_strand_matches_at_the_rate_of_its_exact_pvalue_on_skewed_sequences) {
  std::mt19937_64 random(20261209);
  std::discrete_distribution<int> letter({0.45, 0.20, 0.25, 0.10});
  std::vector<std::string> records(8);
  for (std::string &record : records) {
    for (int i = 0; i < 125000; i++) record.push_back("ACGT"[letter(random)]);
  }
  for (const ScanStrands strands : {SCAN_STRANDS_BOTH, SCAN_STRANDS_FORWARD}) {
    Scan scan;
    for (size_t i = 0; i < records.size(); i++) {
      ASSERT_EQ(scan_addsequence(&scan.sequences, "s" + std::to_string(i), records[i]), 0);
    }
    ScanOptions options;
    options.pvalue = 1e-3;
    options.strands = strands;
    runscan(&scan, {jaspar}, "", options);
    const ScanHits &hits = scan.result.hits;
    for (const ScanStrand strand : {SCAN_STRAND_FORWARD, SCAN_STRAND_REVERSE}) {
      if (strands == SCAN_STRANDS_FORWARD && strand == SCAN_STRAND_REVERSE) continue;
      const char sign = strand == SCAN_STRAND_FORWARD ? '+' : '-';
      double expected = 0.0;
      uint64_t observed = 0;
      for (uint32_t motif = 0; motif < scan.motifs.motifs.size(); motif++) {
        const ScanMotifSummary &summary = scan.result.motifs[motif];
        const int64_t threshold =
            strand == SCAN_STRAND_FORWARD ? summary.threshold : summary.reversethreshold;
        double pvalue;
        ASSERT_EQ(scan_pvalue(scan.motifs, motif, threshold, &pvalue, strand), 0);
        EXPECT_LE(pvalue, options.pvalue);
        const uint64_t windows = summary.windows / (strands == SCAN_STRANDS_BOTH ? 2 : 1);
        expected += pvalue * static_cast<double>(windows);
        for (size_t i = 0; i < hits.motif.size(); i++) {
          observed += hits.motif[i] == motif && hits.strand[i] == sign;
        }
      }
      // Overlapping windows make the matches clump a little: six standard deviations of a
      // Poisson count leave room for that.
      EXPECT_GT(expected, 500.0);
      EXPECT_NEAR(static_cast<double>(observed), expected, 6.0 * std::sqrt(expected))
          << "strand " << sign << (strands == SCAN_STRANDS_FORWARD ? " (forward only)" : "");
    }
  }
}

// Messages longer than the message space (a long file name, text pasted where a file name
// belongs, multi-byte letters) are cut in the middle and returned as failures: the caller's
// process, a Python kernel say, goes on. The cut keeps whole UTF-8 characters and the end,
// which says what went wrong.
TEST(Scan, overlong_messages_are_cut_and_returned) {
  const std::string jaspartext = ">MA0004.1 Arnt\nA  [ 4 19 0 0 0 0 ]\n" + std::string(2000, ' ');
  const std::vector<std::string> names = {"/data/" + std::string(1000, 'x'),
                                          std::string(10000, 'y'), jaspartext,
                                          "/" + [] {
                                            std::string text;
                                            for (int i = 0; i < 700; i++) text += "\xc3\xa9";
                                            return text;
                                          }()};
  for (const std::string &name : names) {
    ScanMotifs motifs;
    EXPECT_EQ(scan_readmotifs({name}, SCAN_FORMAT_AUTO, &motifs), -1);
    const std::string message = scan_errormessage();
    EXPECT_LT(message.size(), 1024u);
    EXPECT_TRUE(message.starts_with("cannot open `")) << message.substr(0, 40);
    // The reason at the end: "No such file or directory", "File name too long".
    EXPECT_NE(message.rfind("': "), std::string::npos) << message;
    EXPECT_GT(message.rfind("': "), message.size() - 40) << message;
    const size_t dots = message.find("...");
    ASSERT_NE(dots, std::string::npos);
    // No character cut in two: every continuation byte follows a lead or continuation byte.
    for (size_t i = 1; i < message.size(); i++) {
      if ((static_cast<unsigned char>(message[i]) & 0xC0) == 0x80) {
        EXPECT_GE(static_cast<unsigned char>(message[i - 1]), 0x80u) << i;
      }
    }
    EXPECT_NE(static_cast<unsigned char>(message[dots - 1]), 0xC3u);
    EXPECT_NE(static_cast<unsigned char>(message[dots + 3]) & 0xC0, 0x80);
    scan_freemotifs(&motifs);
  }
}

// Calls of several threads run at once, each with its own messages and warnings: two scans
// side by side give the rows of one alone, while a third thread's failing calls keep their
// own messages and leave the scans' alone.
TEST(Scan, calls_of_several_threads_run_at_once_with_their_own_messages) {
  ScanOptions options;
  options.pvalue = 1e-3;
  options.threads = 2;
  Scan alone;
  runscan(&alone, {jaspar}, example, options);
  const std::string expected = rows(alone);
  Scan scans[2];
  std::atomic<int> started{0};
  auto scanning = [&](Scan *scan) {
    started++;
    while (started.load() < 3) std::this_thread::yield();
    runscan(scan, {jaspar}, example, options);
  };
  std::vector<std::string> messages;
  auto failing = [&] {
    started++;
    while (started.load() < 3) std::this_thread::yield();
    for (int i = 0; i < 20; i++) {
      ScanMotifs motifs;
      const std::string name = "missing-" + std::to_string(i) + ".jaspar";
      if (scan_readmotifs({name}, SCAN_FORMAT_AUTO, &motifs) != 0) {
        messages.push_back(scan_errormessage());
      }
      scan_freemotifs(&motifs);
    }
  };
  std::thread first(scanning, &scans[0]), second(scanning, &scans[1]), third(failing);
  first.join();
  second.join();
  third.join();
  EXPECT_EQ(rows(scans[0]), expected);
  EXPECT_EQ(rows(scans[1]), expected);
  ASSERT_EQ(messages.size(), 20u);
  for (size_t i = 0; i < messages.size(); i++) {
    EXPECT_EQ(messages[i], "cannot open `missing-" + std::to_string(i) +
                               ".jaspar': No such file or directory");
  }
}

int stopatonce(const ScanProgress &, void *) { return 1; }

TEST(Scan, a_cancelled_scan_fails_and_says_so) {
  for (bool byflag : {true, false}) {
    Scan scan;
    std::atomic<bool> cancel{byflag};
    ScanOptions options;
    // With one thread the progress callback runs after every unit, on this thread.
    options.threads = byflag ? 2 : 1;
    options.cancel = &cancel;
    options.progressinterval = 0.0;
    if (!byflag) options.progress = stopatonce;
    ASSERT_EQ(scan_readmotifs({jaspar}, SCAN_FORMAT_AUTO, &scan.motifs), 0);
    scan.sequences.path = example;
    EXPECT_EQ(scan_run(&scan.motifs, &scan.sequences, options, &scan.result), -1);
    EXPECT_STREQ(scan_errormessage(), "scan cancelled");
  }
}

// Bins worked out by hand from the rules in scan.hpp: centred layouts of even and odd
// longest sequences, positions beyond either end, a threshold the motif cannot reach, and
// a highest score below the threshold.
TEST(Scan, histogram_bins_follow_their_rules) {
  const struct {
    uint64_t longest, width;
    bool centred;
    int64_t origin, binwidth;
    uint64_t count;
  } layouts[] = {
      {100, 10, false, 0, 10, 10},  {101, 10, false, 0, 10, 11}, {100, 10, true, -50, 10, 10},
      {101, 10, true, -50, 10, 11}, {7, 5, true, -5, 5, 2},      {0, 0, false, 0, 1, 1},
  };
  for (const auto &c : layouts) {
    const ScanPositionLayout layout = scan_positionlayout(c.longest, c.width, c.centred);
    EXPECT_EQ(layout.origin, c.origin) << c.longest << " " << c.width << " " << c.centred;
    EXPECT_EQ(layout.width, c.binwidth) << c.longest << " " << c.width << " " << c.centred;
    EXPECT_EQ(layout.count, c.count) << c.longest << " " << c.width << " " << c.centred;
  }

  const struct {
    uint64_t start, motiflength, sequencelength;
    bool centred;
    int64_t position;
    uint64_t bin;  // in the centred layout of 100 letters in bins of 10
  } hits[] = {
      {1, 6, 100, false, 2, 5},    {10, 5, 21, true, 1, 5},   {1, 1, 100, true, -50, 0},
      {100, 1, 100, true, 49, 9},  {1, 1, 9, true, -4, 4},    {2000, 1, 100, false, 1999, 9},
      {1, 1, 300, true, -150, 0},  {45, 12, 100, true, -1, 4},
  };
  const ScanPositionLayout centred = scan_positionlayout(100, 10, true);
  for (const auto &c : hits) {
    const int64_t position = scan_hitposition(c.start, c.motiflength, c.sequencelength, c.centred);
    EXPECT_EQ(position, c.position) << c.start << " " << c.motiflength << " " << c.centred;
    EXPECT_EQ(scan_positionbin(centred, position), c.bin) << position;
  }

  ScanMotif motif;
  motif.minscore = -5000;
  motif.maxscore = 3000;
  const struct {
    bool reachable;
    int64_t threshold, highest, low;
    double width;
    int64_t score;
    uint64_t bin;
  } scores[] = {
      {true, 1000, 3000, 1000, 100.05, 1000, 0},   {true, 1000, 3000, 1000, 100.05, 1100, 0},
      {true, 1000, 3000, 1000, 100.05, 1101, 1},   {true, 1000, 3000, 1000, 100.05, 3000, 19},
      {true, 1000, 3000, 1000, 100.05, 9000, 19},  {true, 1000, 3000, 1000, 100.05, 0, 0},
      {false, 4000, 3000, -5000, 400.05, -1000, 9}, {true, 1000, 500, 1000, 0.05, 1000, 0},
  };
  for (const auto &c : scores) {
    const ScanScoreLayout layout =
        scan_scorelayout(motif, c.reachable, c.threshold, c.highest, 20);
    EXPECT_EQ(layout.low, c.low) << c.threshold << " " << c.highest;
    EXPECT_DOUBLE_EQ(layout.width, c.width) << c.threshold << " " << c.highest;
    EXPECT_EQ(layout.count, 20u);
    EXPECT_EQ(scan_scorebin(layout, c.score), c.bin) << c.threshold << " " << c.score;
  }
  EXPECT_EQ(scan_scorelayout(motif, true, 1000, 3000, 0).count, 1u);
}

}  // namespace

// Sequences given in memory as the Python module gives them: records without letters are
// skipped (their numbers kept, no windows), lower-case protein reads as upper case.
TEST(Scan, empty_records_and_lower_case_protein_in_memory) {
  const auto records = fastarecords(data + "table/chrom.fa");
  ASSERT_EQ(records.size(), 2u);
  ScanOptions options;
  options.pvalue = 1e-3;
  Scan plain, gaps;
  for (const auto &[header, residues] : records) {
    ASSERT_EQ(scan_addsequence(&plain.sequences, header, residues), 0);
  }
  for (const char *empty : {"first", "inner", "last"}) {
    ASSERT_EQ(scan_addsequence(&gaps.sequences, empty, ""), 0);
    if (std::string(empty) != "last") {
      const auto &[header, residues] = records[std::string(empty) == "first" ? 0 : 1];
      ASSERT_EQ(scan_addsequence(&gaps.sequences, header, residues), 0);
    }
  }
  runscan(&plain, {jaspar}, "", options);
  runscan(&gaps, {jaspar}, "", options);
  ASSERT_GT(scan_hitcount(plain.result.hits), 0u);
  ASSERT_EQ(scan_hitcount(gaps.result.hits), scan_hitcount(plain.result.hits));
  for (size_t i = 0; i < scan_hitcount(plain.result.hits); i++) {
    // Records 1 and 3 of five are the two sequences.
    EXPECT_EQ(gaps.result.hits.sequence[i], 2 * plain.result.hits.sequence[i] + 1) << i;
    EXPECT_EQ(gaps.result.hits.start[i], plain.result.hits.start[i]) << i;
    EXPECT_EQ(gaps.result.hits.pvalue[i], plain.result.hits.pvalue[i]) << i;
    EXPECT_EQ(gaps.result.hits.qvalue[i], plain.result.hits.qvalue[i]) << i;
  }
  for (size_t m = 0; m < plain.result.motifs.size(); m++) {
    EXPECT_EQ(gaps.result.motifs[m].windows, plain.result.motifs[m].windows) << m;
  }

  const std::string protein = "mkwvtfislllffsaaysrgvfrrdthkseiahrfkdlgeehwahgxtlfgdklcti";
  std::string upper = protein;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  options.alphabet = SCAN_ALPHABET_PROTEIN;
  options.background.kind = SCAN_BACKGROUND_UNIFORM;
  options.pvalue = 0.01;
  std::string expected;
  for (const std::string &letters : {upper, protein}) {
    Scan scan;
    ASSERT_EQ(scan_addsequence(&scan.sequences, "p", letters), 0);
    runscan(&scan, {data + "motifconv/protein.meme"}, "", options);
    EXPECT_EQ(scan_hitcount(scan.result.hits), 1u) << letters;
    if (expected.empty()) expected = rows(scan);
    EXPECT_EQ(rows(scan), expected);
  }
}

// A host process with many files open (a notebook) gets descriptors of 64 and more: the
// sequence file is mapped whatever its descriptor's number.
TEST(Scan, files_are_mapped_whatever_the_descriptor_numbers) {
  ScratchFolder folder;
  const std::string fasta = folder.path() + "/plain.fa";
  {
    FILE *file = std::fopen(fasta.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs(">one\nACGTTGACTGCATGCATGCAAAGTCGATCGATCGTAGCTAGCTAGC\n", file);
    std::fclose(file);
  }
  std::vector<FILE *> held;
  for (int i = 0; i < 80; i++) held.push_back(std::fopen("/dev/null", "r"));
  Scan scan;
  ASSERT_EQ(scan_readmotifs({jaspar}, SCAN_FORMAT_AUTO, &scan.motifs), 0) << scan_errormessage();
  scan.sequences.path = fasta;
  ScanOptions options;
  options.pvalue = 0.5;
  options.warnings = false;
  EXPECT_EQ(scan_run(&scan.motifs, &scan.sequences, options, &scan.result), 0)
      << scan_errormessage();
  EXPECT_GT(scan_hitcount(scan.result.hits), 0u);
  for (FILE *file : held) std::fclose(file);
}
