// Reading the tops of the tail tables through a distribution file's chunk index: what is held
// equals the full table where lookups and thresholds need it, and a file whose index or data
// does not add up is left to the record-by-record read.
#include "statistics/distindex.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "statistics/distribution.hpp"
#include "statistics/distwriter.hpp"
#include "support/scratchfiles.hpp"

namespace {

// Tables on either side of the chunk size (2048 entries), with odd and even sizes, falling
// from 1 in uneven steps and ending in a run of zeros.
std::vector<std::vector<double>> sampletables() {
  std::vector<std::vector<double>> tables;
  for (const size_t size : {1, 3, 2048, 2049, 20001, 40000}) {
    std::vector<double> table(size);
    for (size_t i = 0; i < size; i++) {
      const double x = static_cast<double>(i) / static_cast<double>(size);
      table[i] = x > 0.97 ? 0.0 : std::exp(-40.0 * x * x) * (1.0 - 1e-9 * static_cast<double>(i % 7));
    }
    for (size_t i = 1; i < size; i++) table[i] = std::min(table[i], table[i - 1]);
    tables.push_back(table);
  }
  return tables;
}

int64_t minimumof(size_t i) { return static_cast<int64_t>(3 * i + 1); }  // odd and even
int64_t tableoffset(size_t i) { return static_cast<int64_t>(i) - 2; }
double multiplierof(size_t i) { return 0.5 + static_cast<double>(i % 1000); }

std::string writefile(const ScratchFolder &folder, const std::vector<std::vector<double>> &tables) {
  const std::string path = folder.path("dist.pdis");
  DistributionWriter writer;
  EXPECT_EQ(distwriter_open(&writer, path.c_str()), 0);
  for (size_t i = 0; i < tables.size(); i++) {
    std::vector<double> table = tables[i];
    const ScoreDistribution distribution = {
        minimumof(i), minimumof(i) + static_cast<int64_t>(table.size()) - 1, tableoffset(i),
        table.data(), table.size()};
    EXPECT_EQ(distwriter_append(&writer, &distribution, multiplierof(i)), 0);
  }
  EXPECT_EQ(distwriter_finish(&writer), 0);
  return path;
}

std::string readbytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writebytes(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A collection of count bare Profiles, which is all the reader touches.
struct BareCollection {
  std::vector<Profile> profiles;
  ProfileCollection collection{};
  explicit BareCollection(size_t count) : profiles(count, Profile{}) {
    collection.profiles = profiles.data();
    collection.numofprofiles = count;
  }
  ~BareCollection() {
    for (Profile &profile : profiles) freedistribution(&profile.distribution);
  }
};

}  // namespace

TEST(DistributionIndex, tops_hold_what_thresholds_and_lookups_need) {
  ScratchFolder folder;
  const std::vector<std::vector<double>> tables = sampletables();
  const std::string path = writefile(folder, tables);
  for (const double target : {2.0, 1.0, 0.5, 1e-3, 1e-12, 0.0}) {
    BareCollection bare(tables.size());
    ASSERT_TRUE(distindex_read_tops(path.c_str(), &bare.collection, target)) << target;
    for (size_t i = 0; i < tables.size(); i++) {
      SCOPED_TRACE(testing::Message() << "target " << target << ", table " << i);
      const std::vector<double> &full = tables[i];
      const ScoreDistribution &held = bare.profiles[i].distribution;
      const double multiplier = bare.profiles[i].multiplier;
      EXPECT_EQ(multiplier, multiplierof(i));
      EXPECT_EQ(held.maximum, minimumof(i) + static_cast<int64_t>(full.size()) - 1);
      EXPECT_EQ(held.offset, tableoffset(i));
      const int64_t skipped = held.minimum - minimumof(i);
      ASSERT_GE(skipped, 0);
      EXPECT_EQ(skipped % 2, 0) << "lookups must round as in the full table";
      ASSERT_EQ(held.size, full.size() - static_cast<size_t>(skipped));
      for (uint64_t j = 0; j < held.size; j++) {
        ASSERT_EQ(held.tail[j], full[j + static_cast<size_t>(skipped)]) << j;
      }
      // The lowest entry held is above the target, unless the whole table is held.
      if (skipped > 0) {
        EXPECT_GT(held.tail[0], target);
      }
      EXPECT_EQ(tail_threshold(held.tail, held.size, held.minimum, held.offset, multiplier, target),
                tail_threshold(full.data(), full.size(), minimumof(i), tableoffset(i), multiplier,
                               target));
    }
  }
  // A small target needs little of the large tables.
  BareCollection bare(tables.size());
  ASSERT_TRUE(distindex_read_tops(path.c_str(), &bare.collection, 1e-12));
  EXPECT_LT(bare.profiles.back().distribution.size, tables.back().size() / 2);
  // Records beyond the Profiles are ignored.
  BareCollection fewer(2);
  EXPECT_TRUE(distindex_read_tops(path.c_str(), &fewer.collection, 1e-3));

  // So many records that their index takes several members.
  const std::vector<std::vector<double>> many(3000, {1.0, 0.25, 0.125});
  const std::string manypath = writefile(folder, many);
  BareCollection all(many.size());
  ASSERT_TRUE(distindex_read_tops(manypath.c_str(), &all.collection, 0.2));
  const ScoreDistribution &last = all.profiles.back().distribution;
  ASSERT_EQ(last.size, 3u);
  EXPECT_EQ(last.tail[2], 0.125);
  EXPECT_EQ(all.profiles.back().multiplier, multiplierof(2999));
}

TEST(DistributionIndex, files_that_do_not_add_up_are_left_to_the_full_read) {
  ScratchFolder folder;
  const std::vector<std::vector<double>> tables = sampletables();
  const std::string intact = readbytes(writefile(folder, tables));
  // Where the index members start: the data member's trailer ends there.
  const size_t footer = intact.size() - 10 - 24;
  size_t firstmember = 0;
  for (int b = 7; b >= 0; b--) firstmember = firstmember << 8 | static_cast<unsigned char>(intact[footer + 16 + b]);
  using Damage = std::function<void(std::string &)>;
  const auto flip = [](size_t at) { return Damage([at](std::string &bytes) { bytes[at] ^= 0x10; }); };
  struct Case {
    const char *name;
    Damage damage;
    size_t profiles = 0;  // 0 for one per record
  };
  const std::vector<Case> cases = {
      {"cut short", [](std::string &bytes) { bytes.pop_back(); }},
      {"bytes appended", [](std::string &bytes) { bytes += '\n'; }},
      {"index cut off", [&](std::string &bytes) { bytes.resize(firstmember); }},
      {"entry count", flip(footer + 8)},
      {"first chunk's start", flip(firstmember + 16)},
      {"a chunk's CRC", flip(firstmember + 16 + 12)},
      {"a chunk's length", flip(firstmember + 16 + 9)},
      {"data trailer's length", flip(firstmember - 3)},
      {"data trailer's CRC", flip(firstmember - 8)},
      {"compressed data at the top of the last table", flip(firstmember - 40)},
      {"gzip header flags", flip(3)},
      {"more Profiles than records", [](std::string &) {}, tables.size() + 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = intact;
    c.damage(bytes);
    const std::string path = folder.path("damaged.pdis");
    writebytes(path, bytes);
    BareCollection bare(c.profiles != 0 ? c.profiles : tables.size());
    EXPECT_FALSE(distindex_read_tops(path.c_str(), &bare.collection, 1e-3));
    for (const Profile &profile : bare.profiles) EXPECT_EQ(profile.distribution.size, 0u);
  }
  // The uncompressed records, and a folder, have no index either.
  gzFile in = gzopen(folder.path("dist.pdis").c_str(), "r");
  std::string plain(1 << 20, '\0');
  plain.resize(static_cast<size_t>(gzread(in, plain.data(), static_cast<unsigned>(plain.size()))));
  gzclose(in);
  writebytes(folder.path("plain.pdis"), plain);
  BareCollection bare(tables.size());
  EXPECT_FALSE(distindex_read_tops(folder.path("plain.pdis").c_str(), &bare.collection, 1e-3));
  EXPECT_FALSE(distindex_read_tops(folder.path().c_str(), &bare.collection, 1e-3));
}
