// The store of a scan's matches: whatever the budget (everything held, runs spilled, more
// runs than one merge takes), the merge gives every record once in the order a full sort
// gives; a folder that cannot take the runs fails with its name.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "scan/scanstore.hpp"

namespace {

struct Collected {
  std::vector<HitRecord> records;
};

int collect(const HitRecord &hit, void *context) {
  static_cast<Collected *>(context)->records.push_back(hit);
  return 0;
}

bool same(const HitRecord &a, const HitRecord &b) {
  return a.position == b.position && a.score == b.score && a.pvalue == b.pvalue &&
         a.sequence == b.sequence && a.profile == b.profile;
}

// Distinct matches with many ties of p-value, start and stop across motifs and strands.
std::vector<HitRecord> randomrecords(uint64_t count, uint32_t motifs, std::mt19937_64 *random) {
  std::vector<HitRecord> records;
  for (uint64_t i = 0; i < count; i++) {
    HitRecord hit;
    hit.sequence = static_cast<uint32_t>((*random)() % 5);
    hit.position = (*random)() % 300;
    hit.profile = static_cast<uint32_t>((*random)() % motifs) | ((*random)() % 2 ? HIT_REVERSE : 0);
    hit.score = static_cast<int64_t>((*random)() % 40);
    hit.pvalue = static_cast<double>(40 - hit.score) * 1e-5;
    records.push_back(hit);
  }
  std::sort(records.begin(), records.end(), HitOrder{});
  records.erase(std::unique(records.begin(), records.end(),
                            [](const HitRecord &a, const HitRecord &b) {
                              return hitmotif(a) == hitmotif(b) && a.sequence == b.sequence &&
                                     a.position == b.position && a.profile == b.profile;
                            }),
                records.end());
  std::shuffle(records.begin(), records.end(), *random);
  return records;
}

TEST(ScanStore, the_merge_of_held_and_spilled_runs_is_a_sort) {
  const std::string folder = ::testing::TempDir();
  const std::vector<uint64_t> lengths = {6, 11, 3, 8};
  struct Case {
    ScanSort sort;
    uint64_t budget;  // bytes a worker holds; 0: no spilling
    size_t workers;
    uint64_t matches;
  };
  const Case cases[] = {
      {SCAN_SORT_POSITION, 0, 1, 5000},     {SCAN_SORT_POSITION, 4096, 3, 20000},
      {SCAN_SORT_PVALUE, 0, 2, 5000},       {SCAN_SORT_PVALUE, 2048, 1, 20000},
      {SCAN_SORT_GENOME, 0, 3, 5000},       {SCAN_SORT_GENOME, 2048, 2, 20000},
      {SCAN_SORT_GENOME, 2048, 7, 100},     {SCAN_SORT_POSITION, 4096, 2, 0},
  };
  std::mt19937_64 random(11);
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.sort) + " budget " + std::to_string(c.budget) + " workers " +
                 std::to_string(c.workers));
    const std::vector<HitRecord> records =
        randomrecords(c.matches, static_cast<uint32_t>(lengths.size()), &random);
    StoreSettings settings;
    settings.order.sort = c.sort;
    settings.order.lengths = lengths.data();
    if (c.budget > 0) {
      settings.budget = c.budget;
      settings.tmpdir = folder;
    }
    std::vector<WorkerStore> stores(c.workers);
    for (WorkerStore &store : stores) store.setup(&settings, 2 * lengths.size());
    for (const HitRecord &hit : records) {
      const uint64_t profile = hitmotif(hit) + (hitreverse(hit) ? lengths.size() : 0);
      ASSERT_EQ(stores[random() % c.workers].add(hit, profile), 0) << errormessageorunknown();
    }
    uint64_t runs = 0, counted = 0;
    for (WorkerStore &store : stores) {
      store.seal();
      runs += store.fileruns.size();
      for (const ScoreCounts &counts : store.counts)
        counts.each([&counted](int64_t, const ScoreCount &count) { counted += count.count; });
    }
    EXPECT_EQ(counted, records.size());
    // Small budgets spill, beyond one merge's width of runs for the largest cases.
    if (c.budget > 0 && c.matches >= 20000) {
      EXPECT_GT(runs, 64u);
    }
    if (c.budget == 0) {
      EXPECT_EQ(runs, 0u);
    }
    Collected merged;
    ASSERT_EQ(mergeruns(&stores, settings.order, folder, collect, &merged), 0)
        << errormessageorunknown();
    std::vector<HitRecord> sorted = records;
    std::sort(sorted.begin(), sorted.end(), settings.order);
    ASSERT_EQ(merged.records.size(), sorted.size());
    for (size_t i = 0; i < sorted.size(); i++) {
      ASSERT_TRUE(same(merged.records[i], sorted[i])) << "record " << i;
    }
  }
}

TEST(ScanStore, a_folder_that_cannot_take_the_runs_fails_with_its_name) {
  const std::vector<uint64_t> lengths = {5};
  StoreSettings settings;
  settings.order.lengths = lengths.data();
  settings.budget = 1024;
  settings.tmpdir = "/nonexistent/folder";
  WorkerStore store;
  store.setup(&settings, 2);
  std::mt19937_64 random(3);
  int result = 0;
  for (const HitRecord &hit : randomrecords(2000, 1, &random)) {
    result = store.add(hit, hitreverse(hit) ? 1 : 0);
    if (result != 0) break;
  }
  ASSERT_EQ(result, -1);
  EXPECT_NE(std::string(errormessagespace())
                .find("cannot create a temporary file in `/nonexistent/folder' for the sorted "
                      "matches: No such file or directory"),
            std::string::npos)
      << errormessagespace();
  clearerrorcode();
}

}  // namespace
