// The MatchCollection: every sort key and key chains, groups of equal entries in insertion
// order, the walk and its early stop, and concurrent collection.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "base/error.hpp"
#include "base/redblack.hpp"
#include "report/matchcollection.hpp"
#include "reportfixture.hpp"

namespace {

// Entries carry their insertion number in endposition so that the walk order can be read
// back as a list of numbers.
struct Collected {
  MatchCollection *collection;
  uint64_t inserted = 0;
  explicit Collected(const char *keys) : collection(matchcollection_create(keys)) {}
  ~Collected() { matchcollection_free(collection); }
  void add(CollectedMatch entry) {
    entry.endposition = inserted++;
    matchcollection_insert(collection, &entry);
  }
  std::vector<uint64_t> order() {
    std::vector<uint64_t> numbers;
    const int result = matchcollection_walk(
        collection,
        [](const CollectedMatch *entry, void *context) {
          static_cast<std::vector<uint64_t> *>(context)->push_back(entry->endposition);
          return 0;
        },
        &numbers);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(rbcheck(collection->root, matchcollection_compare, collection), 0);
    return numbers;
  }
};

CollectedMatch entryof(Profile *profile) {
  CollectedMatch entry{};
  entry.profile = profile;
  entry.strand = STRAND_FORWARD;
  return entry;
}

using Order = std::vector<uint64_t>;

}  // namespace

TEST(SortKeys, each_numeric_key_orders_in_its_direction) {
  Profile profile = makeprofile(SCORE_INTEGER, 0, 0, 10);
  const double values[] = {0.5, 0.1, 0.9, 0.3};
  struct Case {
    const char *keys;
    void (*set)(CollectedMatch *, double);
    Order expected;
  } cases[] = {
      {"p", [](CollectedMatch *e, double v) { e->pvalue = v; }, {1, 3, 0, 2}},
      {"e", [](CollectedMatch *e, double v) { e->evalue = v * 1e6; }, {1, 3, 0, 2}},
      {"m", [](CollectedMatch *e, double v) { e->mss = v; }, {2, 0, 3, 1}},
      {"s", [](CollectedMatch *e, double v) { e->score.i = int64_t(v * 10); }, {2, 0, 3, 1}},
      {"n", [](CollectedMatch *e, double v) { e->seqnum = uint64_t(v * 10); }, {1, 3, 0, 2}},
      {"o", [](CollectedMatch *e, double v) { e->seqposition = uint64_t(v * 10); }, {1, 3, 0, 2}},
  };
  for (const Case &c : cases) {
    Collected collected(c.keys);
    for (double v : values) {
      CollectedMatch entry = entryof(&profile);
      c.set(&entry, v);
      collected.add(entry);
    }
    EXPECT_EQ(collected.order(), c.expected) << c.keys;
  }
}

TEST(SortKeys, unsigned_fields_compare_unsigned_and_scores_as_floats) {
  Profile profile = makeprofile(SCORE_INTEGER, 0, 0, 10);
  Collected bynumber("n");
  for (uint64_t seqnum : {UINT64_MAX, uint64_t(0), uint64_t(1) << 63}) {
    CollectedMatch entry = entryof(&profile);
    entry.seqnum = seqnum;
    bynumber.add(entry);
  }
  EXPECT_EQ(bynumber.order(), (Order{1, 2, 0}));

  // 2^24 and 2^24 + 1 are the same float; -1 and 3 are not.
  Collected byscore("s");
  for (int64_t score : {int64_t(-1), int64_t(16777217), int64_t(3), int64_t(16777216)}) {
    CollectedMatch entry = entryof(&profile);
    entry.score.i = score;
    byscore.add(entry);
  }
  EXPECT_EQ(byscore.order(), (Order{1, 3, 2, 0}));

  Profile real = makeprofile(SCORE_FLOAT, 0, 0, 10);
  Collected byfloat("s");
  for (float score : {0.25f, -2.5f, 7.75f}) {
    CollectedMatch entry = entryof(&real);
    entry.score.f = score;
    byfloat.add(entry);
  }
  EXPECT_EQ(byfloat.order(), (Order{2, 0, 1}));

  // An unordered p-value equals everything on that key; the next key decides.
  Collected nan("pn");
  const double nanvalue = std::numeric_limits<double>::quiet_NaN();
  for (auto [pvalue, seqnum] : {std::pair{0.5, 2}, std::pair{nanvalue, 1}, std::pair{0.5, 0}}) {
    CollectedMatch entry = entryof(&profile);
    entry.pvalue = pvalue;
    entry.seqnum = uint64_t(seqnum);
    nan.add(entry);
  }
  EXPECT_EQ(nan.order(), (Order{2, 1, 0}));
}

TEST(SortKeys, profile_keys_names_and_groups) {
  std::string names[] = {"beta", "alpha", "gamma"};
  Profile profiles[4];
  const uint64_t groups[][2] = {{2, 0}, {1, 1}, {1, 0}, {0, 5}};
  for (int k = 0; k < 4; k++) {
    profiles[k] = makeprofile(SCORE_INTEGER, 0, 0, 10);
    profiles[k].groupnumber = groups[k][0];
    profiles[k].groupposition = groups[k][1];
  }
  profiles[0].identifier = names[0].data();
  profiles[1].identifier = names[1].data();
  profiles[2].identifier = names[2].data();
  profiles[3].identifier = names[1].data();  // the same string object as profile 1
  profiles[0].accession = names[2].data();
  profiles[2].accession = names[0].data();  // 1 and 3 have none: they come first
  struct Case {
    const char *keys;
    Order expected;
  } cases[] = {
      {"i", {1, 3, 0, 2}}, {"a", {1, 3, 2, 0}}, {"r", {3, 1, 2, 0}},
      {"t", {0, 2, 1, 3}}, {"g", {3, 2, 1, 0}}, {"rt", {3, 2, 1, 0}},
      {"ig", {3, 1, 0, 2}},
  };
  for (const Case &c : cases) {
    Collected collected(c.keys);
    for (Profile &profile : profiles) collected.add(entryof(&profile));
    EXPECT_EQ(collected.order(), c.expected) << c.keys;
  }
}

TEST(Groups, equal_keys_keep_insertion_order_across_key_chains) {
  Profile profile = makeprofile(SCORE_INTEGER, 0, 0, 10);
  // (sequence number, score) in insertion order.
  const int64_t matches[][2] = {{1, 5}, {0, 3}, {1, 7}, {0, 3}, {1, 5}, {0, 9}, {1, 5}};
  Collected collected("ns");
  for (const auto &m : matches) {
    CollectedMatch entry = entryof(&profile);
    entry.seqnum = uint64_t(m[0]);
    entry.score.i = m[1];
    collected.add(entry);
  }
  EXPECT_EQ(collected.order(), (Order{5, 1, 3, 2, 0, 4, 6}));

  // The group's first entry knows its last one; walkgroups sees only first entries.
  const CollectedMatch *entries = collected.collection->entries;
  EXPECT_EQ(entries[0].last, 6u);
  EXPECT_EQ(entries[0].next, 4);
  EXPECT_EQ(entries[4].next, 6);
  EXPECT_EQ(entries[6].next, -1);
  struct Walk {
    MatchCollection *collection;
    std::vector<Order> groups;
  } walk{collected.collection, {}};
  EXPECT_EQ(matchcollection_walkgroups(
                collected.collection,
                [](const CollectedMatch *first, void *context) {
                  Walk *w = static_cast<Walk *>(context);
                  Order group;
                  for (const CollectedMatch *e = first; e != nullptr;
                       e = matchcollection_next(w->collection, e)) {
                    group.push_back(e->endposition);
                  }
                  w->groups.push_back(group);
                  return 0;
                },
                &walk),
            0);
  EXPECT_EQ(walk.groups, (std::vector<Order>{{5}, {1, 3}, {2}, {0, 4, 6}}));

  // No keys at all: everything is one group in insertion order.
  Collected unsorted("");
  for (int k = 0; k < 5; k++) unsorted.add(entryof(&profile));
  EXPECT_EQ(unsorted.order(), (Order{0, 1, 2, 3, 4}));
}

TEST(Walk, stops_at_the_first_nonzero_result_and_passes_it_back) {
  Profile profile = makeprofile(SCORE_INTEGER, 0, 0, 10);
  Collected collected("n");
  for (uint64_t seqnum : {4, 2, 2, 3, 1}) {
    CollectedMatch entry = entryof(&profile);
    entry.seqnum = seqnum;
    collected.add(entry);
  }
  struct Stop {
    Order seen;
    size_t stopat;
  } stop{{}, 3};
  auto visit = [](const CollectedMatch *entry, void *context) {
    Stop *s = static_cast<Stop *>(context);
    s->seen.push_back(entry->endposition);
    return s->seen.size() == s->stopat ? 7 : 0;
  };
  EXPECT_EQ(matchcollection_walk(collected.collection, visit, &stop), 7);
  EXPECT_EQ(stop.seen, (Order{4, 1, 2}));  // stopped inside the group of sequence 2

  Collected empty("n");
  stop = {{}, 1};
  EXPECT_EQ(matchcollection_walk(empty.collection, visit, &stop), 0);
  EXPECT_TRUE(stop.seen.empty());
  matchcollection_free(nullptr);
}

TEST(Collect, collect_match_stores_location_statistics_and_counts) {
  TestDatabase database;
  TestDistribution distribution;
  Profile profile = makeprofile(SCORE_FLOAT, 1, 0, 4);
  distribution.attach(&profile);
  MatchCollection *collection = matchcollection_create("s");
  ASSERT_NE(collection, nullptr);
  SearchJob job{};
  job.profile = &profile;
  job.strand = STRAND_REVERSE;
  job.dbsize = 10;
  job.collection = collection;
  Match match = makematch(&database, &job, 10, 2, floatscore(3.0f));
  ASSERT_EQ(collect_match(&match), 0);
  match.endposition = 12;  // outside the database
  clearerrorcode();
  EXPECT_EQ(collect_match(&match), -1);
  EXPECT_EQ(geterrorcode(), 1);
  clearerrorcode();
  EXPECT_EQ(job.matchcount, 2u);
  ASSERT_EQ(collection->numofentries, 1u);
  const CollectedMatch &entry = collection->entries[0];
  EXPECT_EQ(entry.profile, &profile);
  EXPECT_DOUBLE_EQ(entry.pvalue, 0.5);
  EXPECT_DOUBLE_EQ(entry.evalue, 5.0);
  EXPECT_DOUBLE_EQ(entry.mss, 0.75);
  EXPECT_EQ(entry.score.f, 3.0f);
  EXPECT_EQ(entry.seqnum, 1u);
  EXPECT_EQ(entry.seqposition, 2u);
  EXPECT_EQ(entry.endposition, 10u);
  EXPECT_EQ(entry.length, 2u);
  EXPECT_EQ(entry.strand, STRAND_REVERSE);
  EXPECT_EQ(entry.next, -1);
  matchcollection_free(collection);
}

TEST(Collect, concurrent_collection_keeps_every_match_and_each_threads_order) {
  TestDatabase database;
  constexpr int threads = 4;
  constexpr uint64_t perthread = 1500;  // more than one growth step of the entry array
  Profile profiles[threads];
  for (int t = 0; t < threads; t++) {
    profiles[t] = makeprofile(SCORE_INTEGER, 0, 0, 10);
    profiles[t].groupnumber = uint64_t(t);
  }
  MatchCollection *collection = matchcollection_create("rn");
  std::vector<std::thread> workers;
  uint64_t counts[threads] = {};
  for (int t = 0; t < threads; t++) {
    workers.emplace_back([&, t] {
      SearchJob job{};
      job.profile = &profiles[t];
      job.strand = STRAND_FORWARD;
      job.collection = collection;
      for (uint64_t k = 0; k < perthread; k++) {
        // Alternate between the two sequences; the score records the order of finding.
        Match match = makematch(&database, &job, k % 2 == 0 ? 3 : 9, 1,
                                integerscore(int64_t(k)));
        if (collect_match(&match) != 0) return;
      }
      counts[t] = job.matchcount;
    });
  }
  for (std::thread &worker : workers) worker.join();
  ASSERT_EQ(collection->numofentries, threads * perthread);
  EXPECT_EQ(rbcheck(collection->root, matchcollection_compare, collection), 0);

  struct Check {
    uint64_t visited = 0, group = 0, seqnum = 0;
    int64_t lastscore = -1;
    bool ordered = true;
  } check;
  matchcollection_walk(
      collection,
      [](const CollectedMatch *entry, void *context) {
        Check *c = static_cast<Check *>(context);
        const uint64_t group = entry->profile->groupnumber;
        if (c->visited > 0 && (group != c->group || entry->seqnum != c->seqnum)) {
          if (group < c->group || (group == c->group && entry->seqnum < c->seqnum)) {
            c->ordered = false;
          }
          c->lastscore = -1;
        }
        if (entry->score.i <= c->lastscore) c->ordered = false;
        c->lastscore = entry->score.i;
        c->group = group;
        c->seqnum = entry->seqnum;
        c->visited++;
        return 0;
      },
      &check);
  EXPECT_EQ(check.visited, threads * perthread);
  EXPECT_TRUE(check.ordered);
  for (uint64_t count : counts) EXPECT_EQ(count, perthread);
  matchcollection_free(collection);
}

TEST(SortKeys, an_unknown_key_letter_aborts_the_comparison) {
  Profile profile = makeprofile(SCORE_INTEGER, 0, 0, 10);
  EXPECT_DEATH(
      {
        Collected collected("nz");
        collected.add(entryof(&profile));
        collected.add(entryof(&profile));
      },
      "Invalid sort key `z'\\.");
}
