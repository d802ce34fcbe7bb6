// The distribution file writer: the record layout the reader expects, and failures that
// leave the output name as it was (a full disk stood in for by a file-size limit).
#include "statistics/distwriter.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/scratchfiles.hpp"

namespace {

std::string readfile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string decompressed(const std::string &path) {
  gzFile file = gzopen(path.c_str(), "r");
  EXPECT_NE(file, nullptr) << path;
  std::string bytes;
  char buffer[4096];
  for (int got; file != nullptr && (got = gzread(file, buffer, sizeof buffer)) > 0;)
    bytes.append(buffer, static_cast<size_t>(got));
  if (file != nullptr) gzclose(file);
  return bytes;
}

std::vector<std::string> foldercontent(const std::string &folder) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Writes every table as one record, one by one or (compressed) each record compressed apart
// and all written at once; 0 or -1 with the writer abandoned.
int writeall(const std::string &path, std::vector<std::vector<double>> &tables,
             bool compressed = false) {
  DistributionWriter writer;
  if (distwriter_open(&writer, path.c_str()) != 0) return -1;
  std::vector<ScoreDistribution> distributions;
  for (std::vector<double> &table : tables) {
    distributions.push_back(
        {7, 7 + static_cast<int64_t>(table.size()) - 1, 3, table.data(), table.size()});
  }
  int status = 0;
  if (compressed) {
    std::vector<CompressedRecord> records(distributions.size());
    for (size_t i = 0; i < distributions.size() && status == 0; i++) {
      status = distwriter_compress_record(&distributions[i], 0.5, &records[i]);
    }
    if (status == 0) status = distwriter_write_records(&writer, records.data(), records.size());
    for (CompressedRecord &record : records) distwriter_free_record(&record);
  } else {
    for (size_t i = 0; i < distributions.size() && status == 0; i++) {
      status = distwriter_append(&writer, &distributions[i], 0.5);
    }
  }
  if (status != 0) {
    distwriter_abandon(&writer);
    return -1;
  }
  return distwriter_finish(&writer);
}

// Lowers the file-size limit for the lifetime of the object; a write beyond it fails with
// EFBIG (the signal it would raise is ignored), as on a full disk.
struct FileSizeLimit {
  rlimit saved{};
  void (*savedhandler)(int);
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved);
    savedhandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved;
    lowered.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedhandler);
  }
};

}  // namespace

TEST(DistributionWriter, records_follow_each_other_in_the_readers_layout) {
  // A table of several megabytes and one smaller than a header.
  std::vector<double> ramp(700000);
  for (size_t i = 0; i < ramp.size(); i++) ramp[i] = 1.0 / static_cast<double>(i + 1);
  std::vector<std::vector<double>> tables = {{1.0, 0.5, 0.25}, ramp, {1.0}};
  std::string expected;
  for (const std::vector<double> &table : tables) {
    const int64_t header[3] = {7, 7 + static_cast<int64_t>(table.size()) - 1, 3};
    const double multiplier = 0.5;
    expected.append(reinterpret_cast<const char *>(header), sizeof header);
    expected.append(reinterpret_cast<const char *>(&multiplier), sizeof multiplier);
    expected.append(reinterpret_cast<const char *>(table.data()), table.size() * sizeof(double));
  }
  for (const bool compressed : {false, true}) {  // record by record; compressed apart
    SCOPED_TRACE(compressed);
    ScratchFolder folder;
    const std::string path = folder.write("out.pdis", "an older file");
    ASSERT_EQ(writeall(path, tables, compressed), 0) << errortext();
    EXPECT_TRUE(decompressed(path) == expected);
    const std::string bytes = readfile(path);
    EXPECT_EQ(bytes.substr(0, 2), "\x1f\x8b");  // a gzip stream, not a plain copy
    EXPECT_EQ(bytes[8], 2);                       // written at the highest level
    EXPECT_EQ(foldercontent(folder.path()), std::vector<std::string>{"out.pdis"});
  }
}

TEST(DistributionWriter, failures_leave_the_output_name_as_it_was) {
  // Random bits do not compress, so the data reaches the disk while records are written.
  std::mt19937_64 bits(12);
  std::vector<double> noise(1 << 20);
  for (double &value : noise) {
    const uint64_t word = bits();
    std::memcpy(&value, &word, sizeof value);
  }
  struct Case {
    const char *name;
    bool existing;       // an older file of the output name exists
    rlim_t limit;        // file-size limit, 0 for none
    const char *output;  // in the scratch folder; null for /dev/full
    const char *message;
    bool compressed = false;  // records compressed apart and written at once
  };
  const std::vector<Case> cases = {
      {"write rejected, older file kept", true, 1 << 16, "out.pdis",
       "Failed to write 8388608 bytes to `"},
      {"write rejected, no older file", false, 1 << 16, "out.pdis",
       "Failed to write 8388608 bytes to `"},
      {"closing fails on a full device", false, 0, nullptr, "Failed to write 40 bytes to `"},
      {"all at once to a full device", false, 0, nullptr, "Failed to write 40 bytes to `", true},
      {"all at once, write rejected", true, 1 << 16, "out.pdis",
       "Failed to write 8388608 bytes to `", true},
      {"missing folder", false, 0, "nosuch/out.pdis",
       "Couldn't open probability distribution file `"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder folder;
    if (c.existing) folder.write("out.pdis", "an older file");
    const std::vector<std::string> before = foldercontent(folder.path());
    const std::string path = c.output != nullptr ? folder.path(c.output) : "/dev/full";
    std::vector<std::vector<double>> tables = {{1.0}};
    if (c.limit != 0) tables = {{1.0, 0.5}, noise, {1.0}};
    {
      std::unique_ptr<FileSizeLimit> limit;
      if (c.limit != 0) limit = std::make_unique<FileSizeLimit>(c.limit);
      EXPECT_EQ(writeall(path, tables, c.compressed), -1);
    }
    EXPECT_EQ(errortext(), std::string(c.message) + path + "'.");
    EXPECT_EQ(foldercontent(folder.path()), before);
    if (c.existing) {
      EXPECT_TRUE(readfile(folder.path("out.pdis")) == "an older file") << "older file changed";
    }
  }
}

// A run ended by an interrupt, a termination or a hangup while the file is being written
// leaves no temporary file behind and dies by the signal, so that its caller sees why; an
// older file of the output name stays as it was. A signal the process was started to ignore
// stays ignored.
TEST(DistributionWriter, a_signal_removes_the_temporary_file) {
  struct Case {
    int signalnumber;
    bool ignored;  // the process starts with the signal ignored (as under nohup)
  } cases[] = {{SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGHUP, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(strsignal(c.signalnumber));
    ScratchFolder folder;
    folder.write("out.pdis", "an older file");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (c.ignored) std::signal(c.signalnumber, SIG_IGN);
      DistributionWriter writer;
      if (distwriter_open(&writer, folder.path("out.pdis").c_str()) != 0) _exit(2);
      std::vector<double> table = {1.0, 0.5};
      ScoreDistribution distribution = {7, 8, 3, table.data(), table.size()};
      if (distwriter_append(&writer, &distribution, 1.0) != 0) _exit(3);
      std::raise(c.signalnumber);
      _exit(c.ignored ? 0 : 4);  // only an ignored signal lets the child go on
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (c.ignored) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signalnumber) << status;
    }
    // The ignoring child leaves by _exit, without the clean-up at exit, so its temporary file
    // stays; the others must have removed theirs.
    const std::vector<std::string> names = foldercontent(folder.path());
    if (c.ignored) {
      EXPECT_EQ(names.size(), 2u);
    } else {
      EXPECT_EQ(names, std::vector<std::string>{"out.pdis"});
    }
    EXPECT_TRUE(readfile(folder.path("out.pdis")) == "an older file");
  }
}
