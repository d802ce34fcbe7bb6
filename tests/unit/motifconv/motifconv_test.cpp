// motifconv: the three readers on good and damaged motifs, the weights against a computation
// of their own and against published reference weights, integer rounding, and the output file
// of a whole run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/output.hpp"
#include "motifconv/logodds.hpp"
#include "motifconv/motif.hpp"
#include "support/scratchfiles.hpp"

namespace {

const std::string data = ZELKO_TEST_DATA "/motifconv/";

struct Reading {
  int status;
  std::vector<Motif> motifs;
  uint64_t skipped;
  std::string warnings;  // standard error
  std::string message;   // the ErrorBuffer after a failure
};

template <typename Body>
std::string capturewarnings(Body body) {
  outputinit(false, true);
  testing::internal::CaptureStderr();
  body();
  return testing::internal::GetCapturedStderr();
}

Reading readtext(const std::string &text, MotifFormat format = MOTIF_AUTO) {
  Reading reading{};
  clearerrorcode();
  errormessagespace()[0] = '\0';
  reading.warnings = capturewarnings([&] {
    reading.status = readmotiftext("in.pfm", text, format, &reading.motifs, &reading.skipped);
  });
  reading.message = errortext();
  clearerrorcode();
  return reading;
}

// "name/accession/letters:" then the counts position by position.
std::string summary(const Motif &motif) {
  std::ostringstream text;
  text << motif.name << '/' << motif.accession << '/' << motif.letters << ':';
  for (size_t i = 0; i < motif.counts.size(); i++) {
    text << (i == 0 ? "" : i % motif.letters.size() == 0 ? "," : " ") << motif.counts[i];
  }
  return text.str();
}

std::string filetext(const std::string &path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream text;
  text << stream.rdbuf();
  return text.str();
}

// The MA lines of a library text.
std::vector<std::string> matrixrows(const std::string &library) {
  std::vector<std::string> rows;
  std::istringstream lines(library);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("MA ", 0) == 0) rows.push_back(line);
  }
  return rows;
}

}  // namespace

TEST(MotifReaders, every_layout_gives_its_counts) {
  const struct {
    const char *what;
    const char *text;
    std::vector<std::string> motifs;
  } cases[] = {
      {"JASPAR, two motifs", ">MA1.1\tArnt\nA  [ 4 19 ]\nC  [ 16 0 ]\nG [0 1]\nT [ 0 0 ]\n\n"
                             ">MA2.1 RXRA::VDR\nA [1]\nC [2]\nG [3]\nT [4]\n",
       {"Arnt/MA1.1/ACGT:4 16 0 0,19 0 1 0", "RXRA::VDR/MA2.1/ACGT:1 2 3 4"}},
      {"JASPAR, glued brackets, CRLF, own letter order, fractions",
       ">only\r\nT[1.5 2]\r\nG: 0 1e1\r\nC 3 0\r\nA [+1 .25 ]\r\n",
       {"only//TGCA:1.5 0 3 1,2 10 0 0.25"}},
      {"pfm without header", "1 2\n3 4\n5 6\n7 8\n", {"in//ACGT:1 3 5 7,2 4 6 8"}},
      {"pfm with header", ">MA3.1 X\n1\n2\n3\n4\n", {"X/MA3.1/ACGT:1 2 3 4"}},
      {"TRANSFAC as JASPAR exports it", "AC MA0004.1\nXX\nID Arnt\nXX\nDE MA0004.1 Arnt ; From\n"
                                        "PO\tA\tC\tG\tT\n01\t4.0\t16.0\t0.0\t0.0\n02\t19.0\t0.0\t1.0\t0.0\n"
                                        "XX\nCC x\n//\n",
       {"Arnt/MA0004.1/ACGT:4 16 0 0,19 0 1 0"}},
      {"TRANSFAC with consensus column, NA only, no final //",
       "\nVV\xa0 header\n//\nAC  M00001\nNA  MyoD\nP0      A      C      G      T\n"
       "01      1      2      2      0      S\n02      0      0      0      5      T\n",
       {"MyoD/M00001/ACGT:1 2 2 0,0 0 0 5"}},
      {"MEME, nsites given and absent, glued keys",
       "MEME version 4\n\nALPHABET= ACGT\n\nBackground letter frequencies\nA 0.25 C 0.25 G 0.25 "
       "T 0.25\n\nMOTIF MA1.1 Arnt\nletter-probability matrix: alength= 4 w= 2 nsites= 10 E= 0\n"
       "  0.2 0.8 0 0\n  0.5 0 0.5 0\nURL http://x\n\nMOTIF solo extra words\n"
       "letter-probability matrix: alength=4 w=1\n 0.25 0.25 0.25 0.25\n",
       {"Arnt/MA1.1/ACGT:2 8 0 0,5 0 5 0", "extra/solo/ACGT:5 5 5 5"}},
      {"MEME protein without ALPHABET, log-odds matrix passed over",
       "MEME version 5\nMOTIF P\nlog-odds matrix: alength= 20 w= 1\n"
       " 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\n"
       "letter-probability matrix: alength= 20 w= 1 nsites= 2\n"
       " 0.5 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0.5 0\n",
       {"P//ACDEFGHIKLMNPQRSTVWY:1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 0"}},
  };
  for (const auto &c : cases) {
    const Reading reading = readtext(c.text);
    EXPECT_EQ(reading.status, 0) << c.what << ": " << reading.message;
    std::vector<std::string> motifs;
    for (const Motif &motif : reading.motifs) motifs.push_back(summary(motif));
    EXPECT_EQ(motifs, c.motifs) << c.what;
    EXPECT_EQ(reading.warnings, "") << c.what;
  }
}

TEST(MotifReaders, unreadable_motifs_are_skipped_with_a_warning) {
  const std::string good = ">ok\n1\n1\n1\n1\n";
  const std::string memehead = "MEME version 4\nALPHABET= ACGT\nMOTIF ok\n"
                               "letter-probability matrix: w= 1\n0.25 0.25 0.25 0.25\n";
  const std::string transfachead = "AC ok\nP0 A C G T\n01 1 1 1 1\n//\n";
  const struct {
    std::string text;
    const char *warning;
  } cases[] = {
      {good + ">b\nA [1 2]\nC [1]\nG [1 2]\nT [1 2]\n", "line 8: motif `b' skipped: rows of different lengths"},
      {good + ">b\nA [1 -2]\nC [1 2]\nG [1 2]\nT [1 2]\n", "line 6: motif `b' skipped: negative count at position 2"},
      {good + ">b\nA [1 0]\nC [1 0]\nG [1 0]\nT [1 0]\n", "line 6: motif `b' skipped: position 2 has no counts"},
      {good + ">b\nA [1 x]\nC [1 2]\nG [1 2]\nT [1 2]\n", "line 7: motif `b' skipped: `x' is no count"},
      {good + ">b\nA [1 2\nC [1 2]\nG [1 2]\nT [1 2]\n", "line 7: motif `b' skipped: `]' missing"},
      {good + ">b\n1\n1\n1\n", "line 9: motif `b' skipped: 3 rows without letters, expecting four (A, C, G, T)"},
      {good + ">b\nA [1]\nC [1]\na [1]\n", "line 6: motif `b' skipped: letter `a' given twice"},
      {good + ">b\nA [1]\n1\n", "line 7: motif `b' skipped: rows with and without letters"},
      {good + ">b\n", "line 6: motif `b' skipped: no rows of counts"},
      {transfachead + "AC b\nP0 A C G T\n02 1 1 1 1\n//\n", "line 7: motif `b' skipped: position `02' out of order"},
      {transfachead + "AC b\nP0 A C G T\n01 0 0 0 0\n//\n", "line 6: motif `b' skipped: no position has counts"},
      {transfachead + "AC b\nP0 A C G T\n01 1 1 1 1\nPO A C G T\n//\n", "line 8: motif `b' skipped: a second count table"},
      {transfachead + "AC b\nP0 A CG T\n01 1 1 1\n//\n", "line 6: motif `b' skipped: `CG' in the `P0' line is no letter"},
      {memehead + "MOTIF b\nletter-probability matrix: w= 1\n0.5 0.5 0\n", "line 8: motif `b' skipped: a row whose number of values differs from the alphabet's size"},
      {memehead + "MOTIF b\nletter-probability matrix: w= 2\n0.5 0.5 0 0\nURL x\n", "line 8: motif `b' skipped: w= 2, but 1 rows"},
      {memehead + "MOTIF b\nURL x\n", "line 6: motif `b' skipped: no letter-probability matrix"},
      {memehead + "MOTIF b\nletter-probability matrix: nsites= 0\n1 0 0 0\n", "line 7: motif `b' skipped: nsites is not positive"},
      {memehead + "MOTIF b\nletter-probability matrix: alength= 5\n1 0 0 0\n", "line 7: motif `b' skipped: alength differs from the alphabet's size"},
      {memehead + "MOTIF b\nletter-probability matrix: w= x\n1 0 0 0\n", "line 7: motif `b' skipped: a value of the matrix header is no number"},
      {memehead + "MOTIF b\nletter-probability matrix: nsites= 1e300\n1e300 0 0 0\n", "line 6: motif `b' skipped: counts at position 1 too large"},
  };
  for (const auto &c : cases) {
    const Reading reading = readtext(c.text);
    EXPECT_EQ(reading.status, 0) << c.text << reading.message;
    EXPECT_EQ(reading.motifs.size(), 1u) << c.text;
    EXPECT_EQ(reading.skipped, 1u) << c.text;
    EXPECT_EQ(reading.warnings, std::string("WARNING: file `in.pfm', ") + c.warning + ".\n") << c.text;
  }
}

TEST(MotifReaders, transfac_tables_lose_empty_end_positions) {
  const Reading reading = readtext(
      "AC X1\nP0 A C G T\n01 0 0 0 0\n02 0 0 0 0\n03 1 2 0 0\n04 0 0 3 0\n05 0 0 0 0\n//\n");
  ASSERT_EQ(reading.motifs.size(), 1u);
  EXPECT_EQ(summary(reading.motifs[0]), "X1/X1/ACGT:1 2 0 0,0 0 3 0");
  EXPECT_EQ(reading.warnings, "WARNING: file `in.pfm', line 2: motif `X1': empty positions "
                              "dropped: 2 at the start, 1 at the end.\n");
}

TEST(MotifReaders, layout_errors_name_file_and_line) {
  const struct {
    const char *text;
    MotifFormat format;
    const char *message;
  } cases[] = {
      {"", MOTIF_AUTO, "line 1: the file holds no motif"},
      {"\n \n", MOTIF_AUTO, "line 1: the file holds no motif"},
      {"\nhello world\n", MOTIF_AUTO, "line 2: unknown motif format (try -from)"},
      {">a\nA [1]\nhello\n", MOTIF_AUTO, "line 3: expecting a `>' header or a row of counts"},
      {"MEME version 4\nletter-probability matrix: w= 1\n", MOTIF_AUTO,
       "line 2: a letter-probability matrix outside a motif"},
      {"MEME version 4\nALPHABET= AC-T\n", MOTIF_AUTO, "line 2: expecting the letters of the alphabet"},
      {"MEME version 4\nALPHABET \"x\" DNA-LIKE\n", MOTIF_AUTO,
       "line 2: only alphabets given as `ALPHABET= letters' can be read"},
      {"MEME version 4\nMOTIF\n", MOTIF_AUTO, "line 2: a motif without a name"},
      {"VV  release\n//\n", MOTIF_AUTO, "line 2: the file holds no motif"},
      {">a\nA [1]\n", MOTIF_MEME, "line 2: the file holds no motif"},
  };
  for (const auto &c : cases) {
    const Reading reading = readtext(c.text, c.format);
    EXPECT_EQ(reading.status, -1) << c.text;
    EXPECT_EQ(reading.message, std::string("Parsing error in file `in.pfm', ") + c.message + ".")
        << c.text;
  }
}

// Weights through the readers and the background, against the formula computed here from
// the counts as the files give them.
TEST(MotifWeights, agree_with_an_independent_computation) {
  const struct {
    const char *what;
    std::string file;
    const char *frequencyfile;
    double pseudocount;
    size_t motif;                // which motif of the file
    size_t positions;            // leading positions checked
    std::vector<double> counts;  // as the file gives them (MEME: probability x nsites)
    std::vector<double> background;
  } cases[] = {
      {"known counts, uniform", data + "jaspar3.jaspar", nullptr, 1.0, 0, 2,
       {4, 16, 0, 0, 19, 0, 1, 0}, {0.25, 0.25, 0.25, 0.25}},
      {"non-uniform background, pseudocount 2", data + "jaspar3.jaspar.gz",
       ZELKO_TEST_DATA "/motifconv/at_rich.freq", 2.0, 1, 1, {2, 4, 4, 33}, {0.3, 0.2, 0.2, 0.3}},
      {"fractional counts", data + "jaspar3.transfac", nullptr, 1.0, 2, 2,
       {137.739, 13.535, 832.006, 16.7197, 118.631, 0.796178, 876.592, 3.98089},
       {0.25, 0.25, 0.25, 0.25}},
      {"MEME probabilities times nsites", data + "jaspar3.meme", nullptr, 1.0, 1, 1,
       {0.046512 * 43, 0.093023 * 43, 0.093023 * 43, 0.767442 * 43}, {0.25, 0.25, 0.25, 0.25}},
      {"protein MEME, nsites 20 by default", data + "protein.meme", nullptr, 0.5, 0, 3,
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0,
        2, 2, 2, 2, 0, 2, 0, 0, 2, 2, 0, 2, 0, 0, 2, 2, 0, 0, 0, 0,
        0, 10, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       std::vector<double>(20, 0.05)},
  };
  for (const auto &c : cases) {
    std::vector<Motif> motifs;
    uint64_t skipped;
    ASSERT_EQ(readmotiffile(c.file.c_str(), MOTIF_AUTO, &motifs, &skipped), 0) << c.what;
    ASSERT_GT(motifs.size(), c.motif) << c.what;
    const Motif &motif = motifs[c.motif];
    BackgroundSource source;
    initbackgroundsource(&source, c.frequencyfile);
    std::vector<double> background, weights;
    std::string problem;
    ASSERT_EQ(motifbackground(&source, motif, &background, &problem), 0) << c.what;
    freebackgroundsource(&source);
    motifweights(motif, background, c.pseudocount, &weights);
    const size_t width = c.background.size();
    ASSERT_EQ(motif.letters.size(), width) << c.what;
    for (size_t position = 0; position < c.positions; position++) {
      double total = 0.0;
      for (size_t b = 0; b < width; b++) total += c.counts[position * width + b];
      for (size_t b = 0; b < width; b++) {
        const double q = c.background[b];
        const double n = c.counts[position * width + b];
        const double expected = std::log((n + c.pseudocount * q) / (total + c.pseudocount) / q);
        EXPECT_NEAR(weights[position * width + b], expected, 1e-9)
            << c.what << ", position " << position << ", letter " << motif.letters[b];
      }
    }
  }
}

// The published library of these motifs was made with pseudocount 1, a uniform background and
// scale 1000 from each position's own count total: both count formats must give it exactly.
TEST(MotifWeights, count_formats_reproduce_the_reference_weights) {
  const std::vector<std::string> reference = matrixrows(filetext(data + "jaspar3_reference.lib"));
  ASSERT_FALSE(reference.empty());
  for (const char *file : {"jaspar3.jaspar", "jaspar3.transfac"}) {
    std::vector<Motif> motifs;
    uint64_t skipped;
    ASSERT_EQ(readmotiffile((data + file).c_str(), MOTIF_AUTO, &motifs, &skipped), 0) << file;
    std::string library;
    for (const Motif &motif : motifs) {
      std::vector<double> background(4, 0.25), weights;
      motifweights(motif, background, 1.0, &weights);
      ASSERT_EQ(appendlibraryentry(&library, motif, weights, 1000.0, file), 0);
    }
    EXPECT_EQ(matrixrows(library), reference) << file;
  }
}

TEST(MotifWeights, written_values_round_half_away_from_zero_and_stay_in_range) {
  Motif motif{"m", "", "AC", {1, 1, 1, 1, 1, 1}, 1};
  const struct {
    std::vector<double> weights;
    double scale;
    const char *rows;  // the MA lines, or null when the entry must fail
  } cases[] = {
      {{2.5, -2.5, 0.5, -0.5, 1.4999, -1.4999}, 1.0, "MA 3 -3\nMA 1 -1\nMA 1 -1\n"},
      {{-0.0000004, 0.0000026, 1.25, -3, 0, -0.0}, 0.0,
       "MA 0.000000 0.000003\nMA 1.250000 -3.000000\nMA 0.000000 0.000000\n"},
      {{1e19, 0, 0, 0, 0, 0}, 1.0, nullptr},
      {{-4.7e18, 0, 0, 0, 0, 0}, 1.0, nullptr},
      {{2.4e18, 0, 0, -2.4e18, 0, 0}, 1.0, nullptr},  // rows that add up beyond the range
      {{2.3e18, 0, 0, -2.3e18, 0, 0}, 1.0, "MA 2300000000000000000 0\nMA 0 -2300000000000000000\nMA 0 0\n"},
  };
  for (const auto &c : cases) {
    std::string library;
    clearerrorcode();
    // The DE line names the file's base name, whatever folder it was read from.
    const int status = appendlibraryentry(&library, motif, c.weights, c.scale, "/data/set/f");
    if (c.rows == nullptr) {
      EXPECT_EQ(status, -1);
      EXPECT_EQ(errortext(), "The weights of motif `m' times 1 exceed the integer score range.");
      clearerrorcode();
      continue;
    }
    ASSERT_EQ(status, 0);
    const std::string head = c.scale > 0 ? "BEGIN INT" : "BEGIN FLOAT";
    EXPECT_EQ(library, "BEGIN GROUP\n" + head + "\nID m\nDE f\nAL AC\nLE 3\n" + c.rows + "END\nEND\n");
  }
}

TEST(MotifconvProgram, output_file_appears_only_after_a_good_run) {
  ScratchFolder folder;
  const std::string program = ZELKO_BINARY_DIR "/motifconv";
  const std::string output = folder.path("out.lib");
  const std::string good = data + "jaspar3.meme";
  const std::string skippedonly = folder.write("skipped.jaspar", ">b\nA [1 -1]\n");
  const std::string broken = folder.write("broken.jaspar", ">b\nA [1]\nhello\n");
  folder.write("out.lib", "old\n");
  // A file that fails, or no motif left: the run fails and the old file stays as it was.
  for (const std::string &inputs : {good + " " + broken, skippedonly}) {
    EXPECT_NE(std::system((program + " -o " + output + " " + inputs + " 2>/dev/null").c_str()), 0);
    EXPECT_EQ(filetext(output), "old\n") << inputs;
  }
  ASSERT_EQ(std::system((program + " -o " + output + " " + good + " 2>/dev/null").c_str()), 0);
  ASSERT_EQ(std::system((program + " " + good + " > " + folder.path("stdout.lib")).c_str()), 0);
  EXPECT_EQ(filetext(output), filetext(folder.path("stdout.lib")));
  // No temporary file is left beside the output.
  size_t files = 0;
  for (const auto &entry : std::filesystem::directory_iterator(folder.path())) files += entry.is_regular_file();
  EXPECT_EQ(files, 4u);
}
