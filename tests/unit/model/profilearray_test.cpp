// The ProfileCollection: the work counter, alone and shared by threads, and the release modes.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "base/error.hpp"
#include "matching/profile.hpp"
#include "model/profile.hpp"

namespace {

void addprofiles(ProfileCollection *collection, uint64_t count) {
  for (uint64_t i = 0; i < count; i++) {
    Profile *profile = collection_append_profile(collection);
    profile->identifier = copystring("p");
    copyalphabet(&profile->alphabet, collection->alphabet);
    ASSERT_EQ(matrix_init(&profile->matrix, SCORE_INTEGER, &profile->alphabet, 2), 0);
  }
}

TEST(ProfileCollection, work_counter_hands_out_each_index_once) {
  Alphabet dna;
  dnaalphabet(&dna);
  ProfileCollection collection;
  ASSERT_EQ(collection_init(&collection, &dna), 0);
  EXPECT_EQ(collection_next_profile(&collection), -1);
  addprofiles(&collection, 3);
  collection_reset_work(&collection);
  EXPECT_EQ(collection_next_profile(&collection), 0);
  EXPECT_EQ(collection_next_profile(&collection), 1);
  EXPECT_EQ(collection_next_profile(&collection), 2);
  EXPECT_EQ(collection_next_profile(&collection), -1);
  EXPECT_EQ(collection_next_profile(&collection), -1);
  collection_reset_work(&collection);
  EXPECT_EQ(collection_next_profile(&collection), 0);
  collection_free(&collection, false, false);
  EXPECT_EQ(collection.profiles, nullptr);
  EXPECT_EQ(collection.numofprofiles, 0u);
}

struct Worker {
  ProfileCollection *collection;
  std::vector<int64_t> taken;
};

void *takework(void *argument) {
  Worker *worker = static_cast<Worker *>(argument);
  for (int64_t index; (index = collection_next_profile(worker->collection)) >= 0;)
    worker->taken.push_back(index);
  return nullptr;
}

TEST(ProfileCollection, threads_share_the_work_without_gaps_or_repeats) {
  Alphabet dna;
  dnaalphabet(&dna);
  ProfileCollection collection;
  ASSERT_EQ(collection_init(&collection, &dna), 0);
  addprofiles(&collection, 2000);
  collection_reset_work(&collection);
  Worker workers[4];
  Thread threads[4];
  for (int t = 0; t < 4; t++) {
    workers[t].collection = &collection;
    ASSERT_EQ(threadcreate(&threads[t], takework, &workers[t]), 0);
  }
  std::vector<int> seen(2000, 0);
  for (int t = 0; t < 4; t++) {
    ASSERT_EQ(threadjoin(&threads[t], nullptr), 0);
    for (size_t k = 1; k < workers[t].taken.size(); k++)
      EXPECT_LT(workers[t].taken[k - 1], workers[t].taken[k]);
    for (int64_t index : workers[t].taken) seen[index]++;
  }
  for (int count : seen) ASSERT_EQ(count, 1);
  collection_free(&collection, false, false);
}

TEST(ProfileCollection, foreach_stops_at_the_first_failure) {
  Alphabet dna;
  dnaalphabet(&dna);
  ProfileCollection collection;
  ASSERT_EQ(collection_init(&collection, &dna), 0);
  addprofiles(&collection, 5);
  int visited = 0;
  const int result = collection_foreach(
      &collection,
      [](Profile *profile, void *context) {
        int *count = static_cast<int *>(context);
        return ++*count == 3 ? 7 : 0;
      },
      &visited);
  EXPECT_EQ(result, 7);
  EXPECT_EQ(visited, 3);
  collection_free(&collection, false, false);
}

TEST(ProfileCollection, realpha_modes_release_texts_once) {
  // The reduced collection copies the protein collection's records and owns their texts; the
  // protein collection keeps its alphabet copies and matrices.
  Alphabet protein;
  proteinalphabet(&protein);
  ProfileCollection proteins, reduced;
  ASSERT_EQ(collection_init(&proteins, &protein), 0);
  ASSERT_EQ(collection_init(&reduced, &protein), 0);
  addprofiles(&proteins, 3);
  for (uint64_t i = 0; i < proteins.numofprofiles; i++) {
    Profile *copy = collection_append_profile(&reduced);
    *copy = proteins.profiles[i];
    ASSERT_EQ(matrix_init(&copy->matrix, SCORE_INTEGER, &protein, 1), 0);
  }
  collection_append_group(&reduced)->extra = copystring("group block");
  collection_free(&reduced, true, true);
  collection_free(&proteins, true, false);
  EXPECT_EQ(reduced.groups, nullptr);
  EXPECT_EQ(proteins.profiles, nullptr);
}

}  // namespace
