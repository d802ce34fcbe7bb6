// Whole runs of both zelkosearch builds against a brute-force model (oracle.hpp): random
// DNA and protein databases and random libraries are written to a scratch folder, the
// programs run with tab-separated output, and every printed record must be one the model
// expects, field by field, with the match count of the final status line. Also checks that
// several jobs find what one job finds and that sorted output does not depend on them, and
// that every way of the lookahead search (forced through ZELKO_TEST_LOOKAHEAD) prints what
// the plain one prints.
//
// The seed is printed; ZELKO_ORACLE_SEED=<number> repeats a run, ZELKO_ORACLE_KEEP=1 keeps
// the scratch folder.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "agree/oracle.hpp"

extern char **environ;

using namespace oracle;

namespace {

uint64_t seed() {
  static const uint64_t value = [] {
    const char *text = std::getenv("ZELKO_ORACLE_SEED");
    const uint64_t chosen = text != nullptr ? std::strtoull(text, nullptr, 10) : 20070807;
    std::printf("whole-run oracle seed %" PRIu64 " (ZELKO_ORACLE_SEED repeats it)\n", chosen);
    return chosen;
  }();
  return value;
}

// Every test draws from its own stream so that each can be run alone with the same cases.
Random randomfor(const char *test) {
  uint64_t mixed = seed();
  for (const char *c = test; *c != '\0'; c++)
    mixed = mixed * 1099511628211ULL ^ static_cast<unsigned char>(*c);
  return Random(mixed);
}

const std::string &scratch() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/zelko-oracle-XXXXXX";
    const char *made = mkdtemp(pattern);
    return std::string(made != nullptr ? made : "/tmp");
  }();
  return folder;
}

struct ScratchCleanup : ::testing::Environment {
  void TearDown() override {
    if (std::getenv("ZELKO_ORACLE_KEEP") == nullptr && scratch() != "/tmp")
      std::filesystem::remove_all(scratch());
  }
};
const auto *const cleanup = ::testing::AddGlobalTestEnvironment(new ScratchCleanup);

void writefile(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string readfile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// ---------------------------------------------------------------------------------------
// Running a program

const std::string threaded = ZELKO_BINARY_DIR "/zelkosearch";
const std::string single = ZELKO_BINARY_DIR "/zelkosearch-st";

struct Outcome {
  int status = -1;
  std::string out, err;
};

Outcome runprogram(const std::string &program, const std::vector<std::string> &args) {
  const std::string outpath = scratch() + "/stdout", errpath = scratch() + "/stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outpath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errpath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<char *> argv = {const_cast<char *>(program.c_str())};
  for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  Outcome outcome;
  pid_t pid;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  outcome.out = readfile(outpath);
  outcome.err = readfile(errpath);
  return outcome;
}

std::string commandline(const std::string &program, const std::vector<std::string> &args) {
  std::string text = program;
  for (const std::string &arg : args) text += " '" + arg + "'";
  return text;
}

// The number of the final "Found %lu match%s." status line, or -1.
int64_t foundcount(const std::string &err) {
  const size_t at = err.rfind("Found ");
  if (at == std::string::npos) return -1;
  return std::strtoll(err.c_str() + at + 6, nullptr, 10);
}

std::vector<std::vector<std::string>> tablines(const std::string &out) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    lines.push_back(fields);
  }
  return lines;
}

// ---------------------------------------------------------------------------------------
// Comparing records

// Identity of a match: profile (group, position), strand, sequence, position.
std::string identity(const std::vector<std::string> &fields) {
  if (fields.size() != F_COUNT) return "malformed line";
  return fields[F_GROUP] + ":" + fields[F_POSITION] + " " + fields[F_STRAND] + " seq " +
         fields[F_SEQNUM] + " at " + fields[F_SEQPOSITION];
}

// p- and E-values come from log-space sums in the program and from plain products here;
// the two may differ in the last bits, which can move the seventh printed digit by one.
bool withinstatistic(double least, double most, const std::string &got) {
  if (got.empty()) return false;
  const double value = std::strtod(got.c_str(), nullptr);
  return value >= least * (1 - 1.5e-6) && value <= most * (1 + 1.5e-6);
}

const char *const fieldnames[F_COUNT] = {"identifier",
                                         "accession",
                                         "description",
                                         "group",
                                         "group position",
                                         "position",
                                         "length",
                                         "strand",
                                         "threshold",
                                         "score",
                                         "minimum",
                                         "maximum",
                                         "p-value",
                                         "E-value",
                                         "MSS",
                                         "sequence number",
                                         "sequence description",
                                         "matching sequence"};

// Differences between the expected records and the printed lines, as a readable list (empty
// when they agree as multisets).
std::string compareset(const std::vector<Record> &expected,
                       const std::vector<std::vector<std::string>> &lines) {
  std::multimap<std::string, const Record *> want;
  std::multimap<std::string, const std::vector<std::string> *> got;
  for (const Record &record : expected) want.emplace(identity(record.fields), &record);
  for (const auto &line : lines) got.emplace(identity(line), &line);
  std::string report;
  int shown = 0;
  auto note = [&](const std::string &text) {
    if (shown++ < 12) report += "  " + text + "\n";
  };
  auto w = want.begin();
  auto g = got.begin();
  while (w != want.end() || g != got.end()) {
    if (g == got.end() || (w != want.end() && w->first < g->first)) {
      note("missing: " + w->first + " score " + w->second->fields[F_SCORE]);
      ++w;
    } else if (w == want.end() || g->first < w->first) {
      note("unexpected: " + g->first +
           (g->second->size() == F_COUNT ? " score " + (*g->second)[F_SCORE] : ""));
      ++g;
    } else {
      const Record &record = *w->second;
      for (int f = 0; f < F_COUNT; f++) {
        const std::string &a = record.fields[f], &b = (*g->second)[f];
        bool same = a == b;
        if (f == F_PVALUE && record.haspvalue)
          same = withinstatistic(record.leastpvalue, record.pvalue, b);
        if (f == F_EVALUE && record.haspvalue)
          same = withinstatistic(record.leastevalue, record.evalue, b);
        if (f == F_THRESHOLD && a.compare(0, 2, "<=") == 0)
          same =
              !b.empty() && std::strtod(b.c_str(), nullptr) <= std::strtod(a.c_str() + 2, nullptr);
        if (!same) note(w->first + ": " + fieldnames[f] + " expected `" + a + "', got `" + b + "'");
      }
      ++w, ++g;
    }
  }
  if (shown > 12) report += format("  ... %d differences in all\n", shown);
  return report;
}

// ---------------------------------------------------------------------------------------
// Scenarios

struct Scenario {
  Database db;
  Library library;
  std::string dbpath, libpath, freqpath;
  std::vector<double> filefrequencies;
};

// A frequency file with one line per symbol in random case and order, sometimes a symbol
// split over two lines, a zero, and lines for characters that take no part (a wildcard; for
// proteins an undefined lower-case letter).
std::string frequencyfile(Random &random, const Alphabet &alpha,
                          std::vector<double> *ret_frequencies) {
  std::vector<int> weights(alpha.symbols());
  for (int &w : weights) w = 1 + static_cast<int>(random.below(20));
  if (random.chance(0.25)) weights[random.below(weights.size())] = 0;
  int total = 0;
  for (int w : weights) total += w;
  std::vector<std::string> lines;
  ret_frequencies->assign(alpha.symbols(), 0.0);
  for (size_t code = 0; code < alpha.symbols(); code++) {
    char c = alpha.characters[code];
    if (alpha.dna && random.chance(0.5)) c = static_cast<char>(c - 'a' + 'A');
    const std::string value = format("%.6f", weights[code] / static_cast<double>(total));
    if (random.chance(0.15) && weights[code] > 0) {
      const std::string half = format("%.7f", weights[code] / static_cast<double>(total) / 2);
      lines.push_back(format("%c %s", c, half.c_str()));
      lines.push_back(format("%c\t%s  ", c, half.c_str()));
      (*ret_frequencies)[code] =
          0.0 + std::strtod(half.c_str(), nullptr) + std::strtod(half.c_str(), nullptr);
    } else {
      lines.push_back(format("%c %s", c, value.c_str()));
      (*ret_frequencies)[code] = 0.0 + std::strtod(value.c_str(), nullptr);
    }
  }
  std::shuffle(lines.begin(), lines.end(), random.engine);
  lines.push_back(alpha.dna ? "n 0.01" : "x 0.01");
  std::string text = "# background\n";
  for (const std::string &line : lines) text += line + "\n";
  return text;
}

Scenario makescenario(Random &random, const std::string &name, bool dna, const LibraryShape &shape,
                      uint64_t matrices) {
  Scenario scenario;
  const Alphabet alpha = dna ? dnaalphabet() : proteinalphabet();
  scenario.db = randomdatabase(random, alpha, 2 + random.below(5), dna ? 160 : 90);
  scenario.library = randomlibrary(random, alpha, shape, matrices);
  scenario.dbpath = scratch() + "/" + name + ".fa";
  scenario.libpath = scratch() + "/" + name + ".lib";
  scenario.freqpath = scratch() + "/" + name + ".freq";
  writefile(scenario.dbpath, fastatext(scenario.db, random));
  writefile(scenario.libpath, librarytext(scenario.library, random));
  writefile(scenario.freqpath, frequencyfile(random, alpha, &scenario.filefrequencies));
  return scenario;
}

void setbackground(Options &options, Background background, const Scenario &scenario) {
  options.background = background;
  const size_t symbols = scenario.db.alpha.symbols();
  if (background == Background::uniform)
    options.frequencies.assign(symbols, 1.0 / static_cast<double>(symbols));
  if (background == Background::file) options.frequencies = scenario.filefrequencies;
}

void randomstrands(Random &random, Options &options, bool dna) {
  options.strandoptions.clear();
  if (!dna) {
    const unsigned choice = static_cast<unsigned>(random.below(3));
    options.strands = choice == 0 ? FORWARD : choice == 1 ? REVERSE : FORWARD | REVERSE;
    // Forward alone may go without an option; with the reverse strand it must be named.
    if (options.strands & REVERSE || random.chance(0.7)) {
      if (options.strands & FORWARD) options.strandoptions.push_back("-fn");
    }
    if (options.strands & REVERSE) options.strandoptions.push_back("-rn");
    return;
  }
  switch (random.below(4)) {
    case 0:
      options.strands = FORWARD | COMPLEMENT | REVERSE | REVERSECOMPLEMENT;
      options.strandoptions = {"-4"};
      return;
    case 1:
      options.strands = FORWARD | REVERSECOMPLEMENT;
      options.strandoptions = {"-2"};
      return;
  }
  options.strands = 0;
  const std::vector<std::pair<unsigned, const char *>> flags = {
      {FORWARD, "-fn"}, {REVERSE, "-rn"}, {COMPLEMENT, "-fc"}, {REVERSECOMPLEMENT, "-rc"}};
  for (const auto &[bit, flag] : flags) {
    if (random.chance(0.5)) {
      options.strands |= bit;
      options.strandoptions.push_back(flag);
    }
  }
  if (options.strands == 0) options.strands = FORWARD;  // no option: forward only
}

void maybeseqrange(Random &random, Options &options, const Scenario &scenario) {
  options.seqrange = random.chance(0.25);
  if (!options.seqrange) return;
  const uint64_t count = scenario.db.sequences.size();
  options.firstsequence = random.below(count);
  options.lastsequence = options.firstsequence + random.below(count - options.firstsequence);
}

struct Tally {
  uint64_t matches = 0;
};

// Runs both builds with the options and compares each with the model: exit status, the
// match count, every record, the order of sorted output, and the single-threaded output
// byte for byte against the threaded one.
void checkrun(const Scenario &scenario, Options options, Tally &tally) {
  const Expectation expectation = expectedrun(scenario.db, scenario.library, options);
  std::vector<Record> ordered = expectation.records;
  if (!options.sortkeys.empty()) sortrecords(ordered, options.sortkeys);
  // Ties on p- and E-values may fall either way between profiles, since the two sides sum
  // probabilities differently; an absent accession may sort anywhere.
  bool checkorder =
      !options.sortkeys.empty() && options.sortkeys.find_first_of("pe") == std::string::npos;
  if (options.sortkeys.find('a') != std::string::npos)
    for (const Matrix &matrix : scenario.library.matrices)
      checkorder = checkorder && !matrix.ac.empty();
  std::string threadedout;
  for (const std::string &program : {threaded, single}) {
    if (program == single) options.jobs = 0;
    const std::vector<std::string> args =
        arguments(options, scenario.db.alpha, scenario.dbpath, scenario.libpath, scenario.freqpath);
    const Outcome outcome = runprogram(program, args);
    std::string problems;
    if (outcome.status != 0) problems += format("  exit status %d\n", outcome.status);
    const auto lines = tablines(outcome.out);
    const int64_t count = foundcount(outcome.err);
    if (count != static_cast<int64_t>(expectation.records.size()))
      problems += format("  status line reports %" PRId64 " matches, expected %zu\n", count,
                         expectation.records.size());
    problems += compareset(expectation.records, lines);
    if (problems.empty() && checkorder) {
      for (size_t i = 0; i < lines.size(); i++) {
        if (identity(lines[i]) != identity(ordered[i].fields)) {
          problems += "  line " + std::to_string(i + 1) + " is " + identity(lines[i]) +
                      ", expected " + identity(ordered[i].fields) + " for keys " +
                      options.sortkeys + "\n";
          break;
        }
      }
    }
    if (program == threaded)
      threadedout = outcome.out;
    else if (problems.empty() && outcome.out != threadedout)
      problems += "  single-threaded output differs from the threaded output\n";
    if (!problems.empty()) {
      std::string notes;
      for (const std::string &note : expectation.notes) notes += "    " + note + "\n";
      ADD_FAILURE() << commandline(program, args) << "\n"
                    << problems << "  thresholds:\n"
                    << notes
                    << (outcome.err.find("*** Error") != std::string::npos ? outcome.err : "");
    }
  }
  tally.matches += expectation.records.size();
}

std::string decimal(double value, const char *pattern) { return format(pattern, value); }

// Every test needs both builds of the program.
class WholeRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string &program : {threaded, single})
      ASSERT_EQ(access(program.c_str(), X_OK), 0)
          << program << " is missing: build zelkosearch and zelkosearch-st";
  }
};

const LibraryShape dnashape = {7, false, false};
const LibraryShape proteinshape = {3, false, false};

}  // namespace

// ---------------------------------------------------------------------------------------

// Raw and MSS cutoffs without background: every strand combination, -ncompl, sequence
// ranges, -all, matrices with missing columns (forbidden symbols), wildcard and undefined
// columns, and float values that do not add up exactly (simple scan only).
TEST_F(WholeRuns, raw_and_mss_cutoffs_match_every_window_that_reaches_them) {
  Random random = randomfor("raw_and_mss");
  Tally tally;
  for (int round = 0; round < 16; round++) {
    const bool inexact = round % 4 == 3;
    const LibraryShape shape = {7, true, inexact};
    const Scenario scenario =
        makescenario(random, format("raw%d", round), true, shape, 4 + random.below(3));
    for (int variant = 0; variant < 2; variant++) {
      Options options;
      if (random.chance(0.5)) {
        options.cutoff = Cutoff::raw;
        options.valuetext = decimal(random.between(-300, 1400) / 100.0, "%.2f");
      } else {
        options.cutoff = Cutoff::mss;
        options.valuetext = decimal(random.between(0, 1000) / 1000.0, "%.3f");
      }
      options.value = std::strtod(options.valuetext.c_str(), nullptr);
      options.all = random.chance(0.4);
      options.ncompl = random.chance(0.3);
      options.jobs = random.chance(0.5) ? 1 : 0;
      randomstrands(random, options, true);
      maybeseqrange(random, options, scenario);
      options.lookahead = false;
      checkrun(scenario, options, tally);
      if (!inexact) {
        options.lookahead = true;
        checkrun(scenario, options, tally);
      }
    }
  }
  EXPECT_GT(tally.matches, 50u);
}

// Raw and MSS cutoffs with a uniform or file background: p- and E-values of every record
// come from the complete distribution, also for floats (scores rounded to integers) and
// with multipliers.
TEST_F(WholeRuns, reports_carry_exact_pvalues_and_evalues) {
  Random random = randomfor("statistics");
  Tally tally;
  for (int round = 0; round < 16; round++) {
    const bool dna = round % 2 == 0;
    const Scenario scenario = makescenario(random, format("stat%d", round), dna,
                                           dna ? dnashape : proteinshape, 3 + random.below(3));
    Options options;
    options.cutoff = random.chance(0.5) ? Cutoff::raw : Cutoff::mss;
    options.valuetext = options.cutoff == Cutoff::raw
                            ? decimal(random.between(0, 900) / 100.0, "%.2f")
                            : decimal(random.between(400, 1000) / 1000.0, "%.3f");
    options.value = std::strtod(options.valuetext.c_str(), nullptr);
    setbackground(options, random.chance(0.5) ? Background::uniform : Background::file, scenario);
    if (random.chance(0.6)) {
      options.multgiven = true;
      options.multtext = random.pick(std::vector<std::string>{"2", "0.5", "3.7", "10", "1"});
      options.multiplier = std::strtod(options.multtext.c_str(), nullptr);
    }
    randomstrands(random, options, dna);
    maybeseqrange(random, options, scenario);
    options.lookahead = random.chance(0.5);
    checkrun(scenario, options, tally);
  }
  EXPECT_GT(tally.matches, 50u);
}

// P-value and E-value cutoffs derived lazily: the threshold is the smallest score whose
// tail probability does not exceed the target (through the scaled scores), unreachable
// targets find nothing or, with -all, the maximum; E-values use the database length or
// -dbsize, including targets above 1.
TEST_F(WholeRuns, pvalue_and_evalue_cutoffs_give_the_exact_thresholds) {
  Random random = randomfor("pvalue");
  Tally tally;
  for (int round = 0; round < 30; round++) {
    const bool dna = round % 3 != 2;
    const Scenario scenario = makescenario(random, format("pval%d", round), dna,
                                           dna ? dnashape : proteinshape, 3 + random.below(3));
    Options options;
    options.cutoff = random.chance(0.5) ? Cutoff::pvalue : Cutoff::evalue;
    setbackground(options, random.chance(0.5) ? Background::uniform : Background::file, scenario);
    if (random.chance(0.6)) {
      options.multgiven = true;
      options.multtext = random.pick(std::vector<std::string>{"2", "0.5", "3.7", "10", "1"});
      options.multiplier = std::strtod(options.multtext.c_str(), nullptr);
    }
    if (options.cutoff == Cutoff::evalue && random.chance(0.5)) {
      options.dbsizegiven = true;
      options.dbsize = 100 + random.below(5000);
    }
    const uint64_t dbsize = options.dbsizegiven ? options.dbsize : scenario.db.totallength;
    // A target well clear of every tail probability, so that rounding cannot decide.
    double target = std::exp(std::log(1e-4) * random.between(5, 100) / 100.0);
    if (options.cutoff == Cutoff::evalue && random.chance(0.15))
      target = 1.5 + static_cast<double>(random.below(3));
    for (int tries = 0; tries < 20; tries++) {
      options.valuetext = decimal(
          options.cutoff == Cutoff::pvalue ? target : target * static_cast<double>(dbsize), "%.5g");
      options.value = std::strtod(options.valuetext.c_str(), nullptr);
      const double effective = options.cutoff == Cutoff::pvalue
                                   ? options.value
                                   : options.value / static_cast<double>(dbsize);
      bool clear = true;
      for (const Matrix &matrix : scenario.library.matrices)
        clear = clear && !ambiguoustarget(
                             enumeratedistribution(matrix, options.frequencies, options.multiplier),
                             effective);
      if (clear) break;
      target *= 1.0137;
    }
    options.all = random.chance(0.3);
    randomstrands(random, options, dna);
    maybeseqrange(random, options, scenario);
    options.jobs = random.chance(0.5) ? 1 : 0;
    options.lookahead = true;
    checkrun(scenario, options, tally);
    options.lookahead = false;
    checkrun(scenario, options, tally);
  }
  EXPECT_GT(tally.matches, 50u);
}

// -best k with the lookahead scan: per profile and strand the k best windows (earlier end
// first among equal scores), best first; reports show the forward strand's raised
// threshold.
TEST_F(WholeRuns, k_best_keeps_the_best_windows_of_each_strand) {
  Random random = randomfor("kbest");
  Tally tally;
  for (int round = 0; round < 16; round++) {
    const bool dna = round % 4 != 3;
    // Matrices without a column for some symbol have no defined distribution: no background.
    const bool forbidden = round % 4 == 1;
    const LibraryShape shape = forbidden ? LibraryShape{3, true, false}
                               : dna     ? dnashape
                                         : proteinshape;
    const Scenario scenario =
        makescenario(random, format("best%d", round), dna, shape, 3 + random.below(3));
    Options options;
    options.cutoff = Cutoff::best;
    options.k = 1 + random.below(round % 2 == 0 ? 4 : 40);
    options.lookahead = true;
    if (!forbidden && random.chance(0.5)) setbackground(options, Background::uniform, scenario);
    randomstrands(random, options, dna);
    maybeseqrange(random, options, scenario);
    options.ncompl = random.chance(0.3);
    checkrun(scenario, options, tally);
  }
  EXPECT_GT(tally.matches, 30u);
}

// Sorted output: every key string that does not involve p- or E-values must come out in
// exactly the order of a stable sort of the unsorted report order; with p and e the set is
// still checked.
TEST_F(WholeRuns, sorted_output_follows_the_keys) {
  Random random = randomfor("sorted");
  Tally tally;
  const std::string letters = "iampesnortg";
  for (int round = 0; round < 16; round++) {
    const bool dna = round % 3 != 1;
    const Scenario scenario = makescenario(random, format("sort%d", round), dna,
                                           dna ? dnashape : proteinshape, 3 + random.below(4));
    Options options;
    options.cutoff = random.chance(0.7) ? Cutoff::mss : Cutoff::best;
    options.valuetext = decimal(random.between(500, 900) / 1000.0, "%.3f");
    options.value = std::strtod(options.valuetext.c_str(), nullptr);
    options.k = 1 + random.below(6);
    options.lookahead = options.cutoff == Cutoff::best || random.chance(0.5);
    if (random.chance(0.5)) setbackground(options, Background::uniform, scenario);
    std::string shuffled = letters;
    std::shuffle(shuffled.begin(), shuffled.end(), random.engine);
    options.sortkeys = shuffled.substr(0, 1 + random.below(4));
    if (options.background == Background::none) {
      options.sortkeys.erase(std::remove_if(options.sortkeys.begin(), options.sortkeys.end(),
                                            [](char c) { return c == 'p' || c == 'e'; }),
                             options.sortkeys.end());
      if (options.sortkeys.empty()) options.sortkeys = "s";
    }
    randomstrands(random, options, dna);
    checkrun(scenario, options, tally);
  }
  EXPECT_GT(tally.matches, 30u);
}

// Several jobs: the same records and count as one job, more jobs than profiles included;
// sorted output byte-identical to one job's, also with keys that leave many ties between
// profiles (a single key such as score or p-value).
TEST_F(WholeRuns, job_counts_do_not_change_the_matches) {
  Random random = randomfor("jobs");
  uint64_t matches = 0;
  for (int round = 0; round < 6; round++) {
    const bool dna = round % 3 != 2;
    const Scenario scenario = makescenario(random, format("jobs%d", round), dna,
                                           dna ? dnashape : proteinshape, 2 + random.below(3));
    Options options;
    options.cutoff = round % 3 == 1 ? Cutoff::best : Cutoff::mss;
    options.k = 3;
    options.valuetext = "0.45";
    options.value = 0.45;
    options.lookahead = true;
    setbackground(options, Background::uniform, scenario);
    randomstrands(random, options, dna);
    const Expectation expectation = expectedrun(scenario.db, scenario.library, options);
    matches += expectation.records.size();
    for (const std::string keys : {"", "gno", "sig", "mrto", "s", "p", "e"}) {
      options.sortkeys = keys;
      std::vector<Outcome> outcomes;
      for (uint64_t jobs : {1, 2, 5, 16}) {
        options.jobs = jobs;
        const auto args = arguments(options, scenario.db.alpha, scenario.dbpath, scenario.libpath,
                                    scenario.freqpath);
        outcomes.push_back(runprogram(threaded, args));
        const Outcome &outcome = outcomes.back();
        const std::string problems = compareset(expectation.records, tablines(outcome.out));
        EXPECT_EQ(outcome.status, 0) << commandline(threaded, args);
        EXPECT_EQ(foundcount(outcome.err), static_cast<int64_t>(expectation.records.size()))
            << commandline(threaded, args);
        EXPECT_TRUE(problems.empty()) << commandline(threaded, args) << "\n" << problems;
        if (jobs > 1) {
          EXPECT_NE(outcome.err.find(format("Spawned %" PRIu64 " threads.", jobs)),
                    std::string::npos);
        }
        if (!options.sortkeys.empty() && jobs > 1) {
          EXPECT_EQ(outcome.out, outcomes.front().out)
              << "sorted output of " << commandline(threaded, args) << " differs from one job";
        }
      }
    }
  }
  EXPECT_GT(matches, 0u);
}

// Every way of the lookahead search, forced through ZELKO_TEST_LOOKAHEAD (batch or not, q-gram
// table or byte pass or table filter, parts for several jobs, a budget that gives every
// matrix up), prints byte for byte what the search of each strand by itself prints with the
// scalar filter: real DNA matrices at strict and loose p-values, random DNA and protein
// libraries with forbidden cells under raw cutoffs, all strand sets, sequence ranges, sorted
// and unsorted reports, both builds.
TEST_F(WholeRuns, every_lookahead_path_prints_what_the_plain_search_prints) {
  Random random = randomfor("lookahead_paths");
  const std::string examples = ZELKO_TEST_DATA "/../../examples/";
  const char *reference = "nobatch,level=0";
  const std::vector<std::string> paths = {"",           "table",          "scan",
                                          "table,budget=0", "table,level=0", "scan,level=1",
                                          "level=2",     "nobatch"};
  auto runwith = [](const std::string &path, const std::string &program,
                    const std::vector<std::string> &args) {
    setenv("ZELKO_TEST_LOOKAHEAD", path.c_str(), 1);
    Outcome outcome = runprogram(program, args);
    unsetenv("ZELKO_TEST_LOOKAHEAD");
    return outcome;
  };
  auto compare = [&](const std::vector<std::string> &args, bool sorted) {
    const Outcome plain = runwith(reference, threaded, args);
    ASSERT_EQ(plain.status, 0) << commandline(threaded, args) << "\n" << plain.err;
    for (const std::string &path : paths) {
      for (const std::string &program : {threaded, single}) {
        const Outcome outcome = runwith(path, program, args);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.out, plain.out) << "ZELKO_TEST_LOOKAHEAD=" << path << " "
                                          << commandline(program, args);
        EXPECT_EQ(outcome.err, plain.err) << "ZELKO_TEST_LOOKAHEAD=" << path << " "
                                          << commandline(program, args);
      }
      if (sorted) {
        // Several jobs split the batch into parts; sorted output stays that of one job.
        std::vector<std::string> jobs = args;
        jobs.insert(jobs.end(), {"-j", "3"});
        const Outcome outcome = runwith(path, threaded, jobs);
        EXPECT_EQ(outcome.out, plain.out) << "ZELKO_TEST_LOOKAHEAD=" << path << " "
                                          << commandline(threaded, jobs);
      }
    }
  };
  struct RealRun {
    const char *pvalue, *strands;
    bool sorted;
  };
  for (const RealRun &run : {RealRun{"1e-3", "-2", false}, RealRun{"1e-7", "-4", false},
                             RealRun{"1e-5", "-fn", true}}) {
    std::vector<std::string> args = {"-db", examples + "dm3_upstream300.fa.gz", "-dna", "-pr",
                                     examples + "jaspar_vertebrates40.lib", "-lahead", "-pval",
                                     run.pvalue, "-lazy", "-uniform", run.strands, "-format", "tabs"};
    if (run.sorted) args.insert(args.end(), {"-sort", "pno", "-seqrange", "3:250"});
    compare(args, run.sorted);
  }
  for (int round = 0; round < 6; round++) {
    const bool dna = round % 3 != 2;
    const LibraryShape shape = {dna ? 7u : 3u, true, false};
    const Scenario scenario = makescenario(random, format("paths%d", round), dna, shape,
                                           4 + random.below(6));
    Options options;
    options.cutoff = Cutoff::mss;
    options.valuetext = decimal(random.between(40, 95) / 100.0, "%.2f");
    options.lookahead = true;
    options.all = true;
    options.jobs = 0;  // no -j: the single-threaded build has none
    randomstrands(random, options, dna);
    maybeseqrange(random, options, scenario);
    std::vector<std::string> args = arguments(options, scenario.db.alpha, scenario.dbpath,
                                              scenario.libpath, scenario.freqpath);
    if (round % 2 == 1) *(std::find(args.begin(), args.end(), "-format") + 1) = "human";
    compare(args, false);
  }
}

// Ties between profiles are many on real data (equal p-values of different matrices): every
// job count must give exactly the order of one job, run after run.
TEST_F(WholeRuns, ties_between_profiles_keep_the_order_of_one_job) {
  const std::string examples = ZELKO_TEST_DATA "/../../examples/";
  for (const char *keys : {"p", "se"}) {
    std::vector<std::string> args = {"-db", examples + "dm3_upstream300.fa.gz", "-dna",
                                      "-pr", examples + "jaspar_vertebrates40.lib",
                                      "-lahead", "-pval", "1e-4", "-lazy", "-uniform", "-2",
                                      "-sort", keys, "-format", "tabs", "-q", "-j", "1"};
    const Outcome one = runprogram(threaded, args);
    ASSERT_EQ(one.status, 0);
    ASSERT_GT(tablines(one.out).size(), 1000u);
    for (const char *jobs : {"16", "16", "3"}) {
      args.back() = jobs;
      EXPECT_EQ(runprogram(threaded, args).out, one.out) << "-sort " << keys << " -j " << jobs;
    }
  }
}

// The reduced-alphabet search reports exactly the protein search's matches, scores,
// p-values and order, whatever the engine, cutoff, strand and job count. The database holds
// characters the protein alphabet refuses (lowercase letters, a class without any protein
// character) and wildcards; the protein run reads them as wildcards, which never match.
TEST_F(WholeRuns, reduced_alphabet_search_reports_the_protein_matches) {
  Random random = randomfor("realpha");
  const std::string aminoacids = "LVIFKREDAGSTNQYWPHMC";
  const std::string mapname = ZELKO_TEST_DATA "/realpha/lowercase.smap";
  std::string reduceddb, proteindb;
  for (int s = 0; s < 30; s++) {
    reduceddb += ">s" + std::to_string(s) + " protein " + std::to_string(s) + "\n";
    proteindb += ">s" + std::to_string(s) + " protein " + std::to_string(s) + "\n";
    for (int64_t i = random.between(5, 300); i > 0; i--) {
      char c = random.pick(aminoacids);
      if (random.chance(0.02)) c = random.pick(std::string("lvagsfkxOo*X"));
      reduceddb += c;
      proteindb += aminoacids.find(c) == std::string::npos ? 'X' : c;
    }
    reduceddb += "\n";
    proteindb += "\n";
  }
  std::string library = "BEGIN GROUP\n";
  for (int p = 0; p < 6; p++) {
    const bool integer = p % 2 == 0;
    const int64_t m = random.between(3, 9);
    library += std::string(integer ? "BEGIN INT" : "BEGIN FLOAT") + "\nID m" + std::to_string(p) +
               "\nAP PROTEIN\nLE " + std::to_string(m) + "\n";
    for (int64_t row = 0; row < m; row++) {
      library += "MA";
      for (size_t column = 0; column < aminoacids.size(); column++) {
        const int64_t value = random.between(-8, 9);
        library += " " + (integer ? std::to_string(value) : decimal(value / 4.0, "%.2f"));
      }
      library += "\n";
    }
    library += "END\n";
  }
  library += "END\n";
  const std::string reducedpath = scratch() + "/realpha-reduced.fa";
  const std::string proteinpath = scratch() + "/realpha-protein.fa";
  const std::string librarypath = scratch() + "/realpha.lib";
  writefile(reducedpath, reduceddb);
  writefile(proteinpath, proteindb);
  writefile(librarypath, library);

  // The threshold column of k-best runs shows the searched matrix's raised threshold in the
  // protein run and the protein matrix's own in the reduced run; every other column agrees.
  const auto withoutthreshold = [](std::string out) {
    std::string kept;
    for (const auto &line : tablines(out)) {
      for (size_t i = 0; i < line.size(); i++)
        if (i != 8) kept += line[i] + "\t";
      kept += "\n";
    }
    return kept;
  };
  const std::vector<std::vector<std::string>> cutoffs = {
      {"-simple", "-mssth", "0.6"},
      {"-lahead", "-mssth", "0.75"},
      {"-lahead", "-pval", "1e-3", "-lazy", "-uniform"},
      {"-simple", "-eval", "5", "-lazy", "-uniform"},
      {"-lahead", "-rawth", "8", "-uniform"},
      {"-lahead", "-best", "4"},
  };
  uint64_t lines = 0;
  for (const auto &cutoff : cutoffs) {
    for (const char *strand : {"-fn", "-rn"}) {
      for (const char *keys : {"", "gno"}) {
        for (const char *jobs : {"1", "3"}) {
          std::vector<std::string> common = cutoff;
          common.insert(common.end(), {"-pr", librarypath, strand, "-format", "tabs", "-q", "-j", jobs});
          if (*keys != '\0') common.insert(common.end(), {"-sort", keys});
          std::vector<std::string> plain = {"-db", proteinpath, "-protein"};
          std::vector<std::string> reduced = {"-db", reducedpath, "-smap", mapname, "-realpha"};
          plain.insert(plain.end(), common.begin(), common.end());
          reduced.insert(reduced.end(), common.begin(), common.end());
          const Outcome expected = runprogram(threaded, plain);
          const Outcome outcome = runprogram(threaded, reduced);
          ASSERT_EQ(expected.status, 0) << commandline(threaded, plain) << expected.err;
          EXPECT_EQ(outcome.status, 0) << commandline(threaded, reduced) << outcome.err;
          const bool kbest = cutoff[1] == "-best";
          // Unsorted runs of several jobs interleave profiles; compare them as sets.
          auto sorted = [&](const std::string &out) {
            std::string text = kbest ? withoutthreshold(out) : out;
            if (*keys != '\0' || std::string(jobs) == "1") return text;
            std::vector<std::string> rows;
            std::istringstream in(text);
            for (std::string row; std::getline(in, row);) rows.push_back(row);
            std::sort(rows.begin(), rows.end());
            std::string joined;
            for (const auto &row : rows) joined += row + "\n";
            return joined;
          };
          EXPECT_EQ(sorted(outcome.out), sorted(expected.out)) << commandline(threaded, reduced);
          lines += tablines(expected.out).size();
        }
      }
    }
  }
  EXPECT_GT(lines, 500u);
}

// Inputs the run must refuse rather than search: an empty sequence in the database, and a
// sequence range past the last sequence.
TEST_F(WholeRuns, refused_inputs_end_with_an_error) {
  Random random = randomfor("refused");
  Scenario scenario = makescenario(random, "refused", true, dnashape, 2);
  const std::string emptydb = scratch() + "/empty.fa";
  writefile(emptydb, ">one\nacgtacgt\n>two\n>three\nacgt\n");
  Options options;
  options.cutoff = Cutoff::mss;
  options.valuetext = "0.5";
  options.jobs = 0;
  for (const std::string &program : {threaded, single}) {
    const Outcome empty =
        runprogram(program, arguments(options, scenario.db.alpha, emptydb, scenario.libpath, ""));
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.err.find("*** Error: sequence 1 is empty\n"), std::string::npos) << empty.err;
    EXPECT_EQ(empty.out, "");
  }
  options.seqrange = true;
  options.firstsequence = 0;
  options.lastsequence = scenario.db.sequences.size();
  const Outcome beyond = runprogram(
      threaded, arguments(options, scenario.db.alpha, scenario.dbpath, scenario.libpath, ""));
  EXPECT_EQ(beyond.status, 1);
  EXPECT_NE(beyond.err.find(
                format("*** Error 1: unit %zu does not exist: maximal number of units is %zu\n",
                       scenario.db.sequences.size(), scenario.db.sequences.size())),
            std::string::npos)
      << beyond.err;
}
