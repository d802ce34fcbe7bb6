// Distribution files from zelkodist: the same bytes (after decompression) whatever the number
// of jobs and the build, and searches with -pdis that print exactly what searches computing
// their distributions lazily print (thresholds, matches, p- and E-values), on random
// libraries and on the bundled JASPAR excerpt.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "agree/oracle.hpp"
#include "support/scratchfiles.hpp"

extern char **environ;

using namespace oracle;

namespace {

const std::string bin = ZELKO_BINARY_DIR;
const std::string examples = ZELKO_TEST_DATA "/../../examples";

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string readfile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

Outcome run(const ScratchFolder &folder, const std::string &program,
            const std::vector<std::string> &args) {
  const std::string outpath = folder.path("stdout"), errpath = folder.path("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outpath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errpath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const std::string path = bin + "/" + program;
  std::vector<char *> argv = {const_cast<char *>(path.c_str())};
  for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  Outcome outcome;
  pid_t pid;
  if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  outcome.out = readfile(outpath);
  outcome.err = readfile(errpath);
  return outcome;
}

std::string decompressed(const std::string &path) {
  gzFile file = gzopen(path.c_str(), "r");
  std::string bytes;
  if (file == nullptr) return bytes;
  char buffer[1 << 16];
  for (int got; (got = gzread(file, buffer, sizeof buffer)) > 0;)
    bytes.append(buffer, static_cast<size_t>(got));
  gzclose(file);
  return bytes;
}

// Number of records, or -1 when the bytes do not split into whole records.
int64_t countrecords(const std::string &bytes) {
  int64_t count = 0;
  for (size_t at = 0; at < bytes.size(); count++) {
    int64_t header[3];
    if (bytes.size() - at < 32) return -1;
    std::memcpy(header, bytes.data() + at, sizeof header);
    at += 32 + 8 * static_cast<size_t>(header[1] - header[0] + 1);
    if (at > bytes.size()) return -1;
  }
  return count;
}

struct Setting {
  std::string library, database, alphabet;  // alphabet: -dna or -protein
  std::vector<std::string> background;      // -uniform or -freq FILE
  std::string multiplier;
  uint64_t matrices;
};

using Builds = std::vector<std::pair<std::string, std::string>>;  // program, -j value
const Builds everybuild = {{"zelkodist", "1"}, {"zelkodist", "3"}, {"zelkodist-st", ""}};

// Writes the file with each build and job count, and checks they agree; the path of the
// first one.
std::string writedistributions(const ScratchFolder &folder, const Setting &setting,
                               const Builds &builds = everybuild) {
  std::string first;
  for (const auto &[program, jobs] : builds) {
    const std::string output = folder.path(program + jobs + ".pdis");
    std::vector<std::string> args = {setting.alphabet, "-pr",   setting.library, "-pdis",
                                     output,           "-mult", setting.multiplier, "-q"};
    args.insert(args.end(), setting.background.begin(), setting.background.end());
    if (!jobs.empty()) args.insert(args.end(), {"-j", jobs});
    const Outcome outcome = run(folder, program, args);
    EXPECT_EQ(outcome.status, 0) << program << " -j " << jobs << "\n" << outcome.err;
    if (first.empty()) {
      first = output;
      EXPECT_EQ(countrecords(decompressed(output)), static_cast<int64_t>(setting.matrices));
    } else {
      EXPECT_TRUE(decompressed(output) == decompressed(first)) << program << " -j " << jobs;
    }
  }
  return first;
}

// A search with the file prints what a search computing lazily prints.
void comparesearches(const ScratchFolder &folder, const Setting &setting, const std::string &pdis,
                     const std::vector<std::string> &cutoff) {
  std::vector<std::string> common = {"-db",   setting.database, setting.alphabet, "-pr",
                                     setting.library, "-lahead", "-format", "tabs", "-q"};
  if (setting.alphabet == "-dna") common.push_back("-2");
  common.insert(common.end(), cutoff.begin(), cutoff.end());
  std::vector<std::string> fromfile = common, lazy = common;
  fromfile.insert(fromfile.end(), {"-pdis", pdis});
  lazy.insert(lazy.end(), {"-lazy", "-mult", setting.multiplier});
  lazy.insert(lazy.end(), setting.background.begin(), setting.background.end());
  const Outcome a = run(folder, "zelkosearch", fromfile);
  const Outcome b = run(folder, "zelkosearch", lazy);
  EXPECT_EQ(a.status, 0) << a.err;
  EXPECT_EQ(b.status, 0) << b.err;
  EXPECT_TRUE(a.out == b.out) << "-pdis and -lazy differ, multiplier " << setting.multiplier
                              << ", cutoff " << cutoff[0] << " " << cutoff[1] << "\n"
                              << a.out.size() << " against " << b.out.size() << " bytes";
}

std::string frequencytext(Random &random, const std::string &characters) {
  std::vector<int> weights(characters.size());
  int total = 0;
  for (int &w : weights) total += (w = 1 + static_cast<int>(random.below(20)));
  std::string text;
  for (size_t i = 0; i < characters.size(); i++)
    text += format("%c %.6f\n", characters[i], weights[i] / static_cast<double>(total));
  return text;
}

}  // namespace

TEST(DistributionFiles, random_libraries_written_alike_and_searched_like_lazy_distributions) {
  Random random(20240611);
  const LibraryShape shape = {12, true, true};
  for (int round = 0; round < 9; round++) {
    SCOPED_TRACE(format("round %d", round));
    ScratchFolder folder;
    const bool dna = round % 3 != 2;
    const Alphabet alpha = dna ? dnaalphabet() : proteinalphabet();
    Setting setting;
    setting.alphabet = dna ? "-dna" : "-protein";
    setting.matrices = 2 + random.below(4);
    setting.library = folder.write("lib", librarytext(randomlibrary(random, alpha, shape,
                                                                    setting.matrices), random));
    setting.database = folder.write(
        "db.fa", fastatext(randomdatabase(random, alpha, 3, dna ? 400 : 200), random));
    setting.background = {"-uniform"};
    if (random.chance(0.5)) {
      setting.background = {"-freq", folder.write("freq", frequencytext(random, alpha.characters))};
    }
    setting.multiplier = std::vector<std::string>{"1", "10", "0.5"}[round % 3];
    const std::string pdis = writedistributions(folder, setting);
    const double pvalue = std::exp(std::log(1e-4) * random.between(5, 100) / 100.0);
    comparesearches(folder, setting, pdis, {"-pval", format("%.4g", pvalue)});
    // An E-value whose p-value stays below 1.
    comparesearches(folder, setting, pdis, {"-eval", format("%.4g", random.between(1, 60) / 10.0)});
  }
}

TEST(DistributionFiles, bundled_jaspar_excerpt_searched_like_lazy_distributions) {
  for (const std::string multiplier : {"1", "0.5"}) {
    ScratchFolder folder;
    const Setting setting = {examples + "/jaspar_vertebrates40.lib",
                             examples + "/dm3_upstream300.fa.gz",
                             "-dna",
                             {"-uniform"},
                             multiplier,
                             40};
    // Level-9 compression of the tables costs more than computing them: one file each.
    const std::string pdis = writedistributions(folder, setting, {{"zelkodist", "2"}});
    comparesearches(folder, setting, pdis, {"-pval", "1e-4"});
    comparesearches(folder, setting, pdis, {"-eval", "20"});
  }
}
