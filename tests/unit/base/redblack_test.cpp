// The red-black tree: invariants after every change, agreement with std::set under random
// insertions and deletions, walks, and the edge cases of empty trees and equal keys.
#include "base/redblack.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <vector>

#include "base/error.hpp"

namespace {

int ascending(uint64_t a, uint64_t b, void *) { return a < b ? -1 : a > b ? 1 : 0; }

// Keys are indices into the context's values, as the match collection uses them.
int byvalue(uint64_t a, uint64_t b, void *context) {
  const std::vector<int> &values = *static_cast<const std::vector<int> *>(context);
  return values[a] < values[b] ? -1 : values[a] > values[b] ? 1 : 0;
}

struct Visit {
  uint64_t key;
  RBVisit kind;
  uint64_t depth;
  bool operator==(const Visit &) const = default;
};

int record(uint64_t key, RBVisit kind, uint64_t depth, void *context) {
  static_cast<std::vector<Visit> *>(context)->push_back({key, kind, depth});
  return 0;
}

int collect(uint64_t key, RBVisit kind, uint64_t, void *context) {
  if (kind == RB_POSTORDER || kind == RB_LEAF)
    static_cast<std::vector<uint64_t> *>(context)->push_back(key);
  return 0;
}

std::vector<uint64_t> inorder(const RBNode *root) {
  std::vector<uint64_t> keys;
  EXPECT_EQ(rbwalk(root, collect, &keys), 0);
  return keys;
}

void expectvalid(const RBNode *root, RBCompare compare = ascending, void *context = nullptr) {
  EXPECT_EQ(rbcheck(root, compare, context), 0) << errormessagespace();
}

// A valid tree of black height blackheight whose rightmost path alternates black and red
// nodes, the longest path a red-black tree of that black height can have; keys are assigned
// in order afterwards.
RBNode *makenode(bool red, RBNode *left, RBNode *right) {
  RBNode *node = static_cast<RBNode *>(std::malloc(sizeof(RBNode)));
  *node = {0, left, right, red};
  return node;
}
RBNode *perfectblack(int blackheight) {
  if (blackheight == 0) return nullptr;
  return makenode(false, perfectblack(blackheight - 1), perfectblack(blackheight - 1));
}
RBNode *longspine(int blackheight) {
  if (blackheight == 0) return nullptr;
  RBNode *red = makenode(true, perfectblack(blackheight - 1), longspine(blackheight - 1));
  return makenode(false, perfectblack(blackheight - 1), red);
}
void numberinorder(RBNode *node, uint64_t *next) {
  if (node == nullptr) return;
  numberinorder(node->left, next);
  node->key = (*next)++;
  numberinorder(node->right, next);
}

}  // namespace

TEST(RedBlack, empty_tree_and_equal_keys) {
  RBNode *root = nullptr;
  bool created = true;
  EXPECT_EQ(rbinsert(5, &created, nullptr, ascending, nullptr), 0u);
  EXPECT_FALSE(created);
  EXPECT_EQ(rbdelete(5, &root, ascending, nullptr), -1);
  EXPECT_EQ(rbminimum(root), 0u);
  EXPECT_EQ(rbmaximum(root), 0u);
  EXPECT_EQ(rbwalk(root, collect, nullptr), 0);

  // Keys 0 and 2 carry equal values: the second is the same element as the first.
  std::vector<int> values = {7, 3, 7};
  EXPECT_EQ(rbinsert(0, &created, &root, byvalue, &values), 0u);
  EXPECT_TRUE(created);
  EXPECT_EQ(rbinsert(1, &created, &root, byvalue, &values), 1u);
  EXPECT_TRUE(created);
  EXPECT_EQ(rbinsert(2, &created, &root, byvalue, &values), 0u);
  EXPECT_FALSE(created);
  EXPECT_EQ(inorder(root), (std::vector<uint64_t>{1, 0}));
  values.push_back(5);
  EXPECT_EQ(rbdelete(3, &root, byvalue, &values), -1);  // absent: unchanged
  EXPECT_EQ(inorder(root), (std::vector<uint64_t>{1, 0}));
  EXPECT_EQ(rbdelete(2, &root, byvalue, &values), 0);  // equal value removes key 0
  EXPECT_EQ(inorder(root), (std::vector<uint64_t>{1}));
  EXPECT_EQ(rbdelete(1, &root, byvalue, &values), 0);
  EXPECT_EQ(root, nullptr);
}

TEST(RedBlack, ascending_insertions_stay_balanced) {
  RBNode *root = nullptr;
  bool created;
  std::vector<uint64_t> expected;
  for (uint64_t key = 1; key <= 1000; key++) {
    EXPECT_EQ(rbinsert(key, &created, &root, ascending, nullptr), key);
    expectvalid(root);
    expected.push_back(key);
  }
  EXPECT_EQ(rbminimum(root), 1u);
  EXPECT_EQ(rbmaximum(root), 1000u);
  EXPECT_EQ(inorder(root), expected);
  rbdestroy(&root);
  EXPECT_EQ(root, nullptr);
}

TEST(RedBlack, random_changes_agree_with_std_set) {
  std::mt19937_64 random(20070807);
  RBNode *root = nullptr;
  std::set<uint64_t> reference;
  for (int step = 0; step < 20000; step++) {
    const uint64_t key = random() % 600;
    bool created;
    if (random() % 3 != 0) {
      EXPECT_EQ(rbinsert(key, &created, &root, ascending, nullptr), key);
      EXPECT_EQ(created, reference.insert(key).second);
    } else {
      EXPECT_EQ(rbdelete(key, &root, ascending, nullptr), reference.erase(key) == 1 ? 0 : -1);
    }
    ASSERT_EQ(rbcheck(root, ascending, nullptr), 0)
        << "step " << step << ": " << errormessagespace();
    if (!reference.empty()) {
      EXPECT_EQ(rbminimum(root), *reference.begin());
      EXPECT_EQ(rbmaximum(root), *reference.rbegin());
    }
  }
  EXPECT_EQ(inorder(root), std::vector<uint64_t>(reference.begin(), reference.end()));
  // Empty the tree again through deletions only.
  for (uint64_t key : reference) {
    EXPECT_EQ(rbdelete(key, &root, ascending, nullptr), 0);
    expectvalid(root);
  }
  EXPECT_EQ(root, nullptr);
}

TEST(RedBlack, walk_visits_in_order_and_stops_on_request) {
  RBNode *root = nullptr;
  bool created;
  for (uint64_t key : {2, 1, 3}) rbinsert(key, &created, &root, ascending, nullptr);
  std::vector<Visit> visits;
  EXPECT_EQ(rbwalk(root, record, &visits), 0);
  EXPECT_EQ(visits, (std::vector<Visit>{{2, RB_PREORDER, 0},
                                        {1, RB_LEAF, 1},
                                        {2, RB_POSTORDER, 0},
                                        {3, RB_LEAF, 1},
                                        {2, RB_ENDORDER, 0}}));
  for (uint64_t key = 4; key <= 20; key++) rbinsert(key, &created, &root, ascending, nullptr);
  struct Stop {
    std::vector<uint64_t> keys;
  } stop;
  auto third = [](uint64_t key, RBVisit kind, uint64_t, void *context) {
    if (kind != RB_POSTORDER && kind != RB_LEAF) return 0;
    auto *keys = &static_cast<Stop *>(context)->keys;
    keys->push_back(key);
    return keys->size() == 3 ? 1 : 0;
  };
  EXPECT_EQ(rbwalk(root, third, &stop), -1);
  EXPECT_EQ(stop.keys, (std::vector<uint64_t>{1, 2, 3}));
  rbdestroy(&root);
}

TEST(RedBlack, deletion_on_a_path_longer_than_32_links) {
  // Black height 17: the rightmost path has 34 nodes, so removing its last key records 35
  // links and the deletion stack has to grow.
  RBNode *root = longspine(17);
  uint64_t count = 0;
  numberinorder(root, &count);
  expectvalid(root);
  uint64_t deepest = 0;
  auto depth = [](uint64_t, RBVisit, uint64_t level, void *context) {
    uint64_t *deepest = static_cast<uint64_t *>(context);
    if (level > *deepest) *deepest = level;
    return 0;
  };
  rbwalk(root, depth, &deepest);
  EXPECT_EQ(deepest, 33u);
  EXPECT_EQ(rbdelete(count - 1, &root, ascending, nullptr), 0);
  expectvalid(root);
  EXPECT_EQ(rbmaximum(root), count - 2);
  EXPECT_EQ(rbdelete(count - 1, &root, ascending, nullptr), -1);
  for (uint64_t key = count - 2; key >= count - 200; key--) {
    ASSERT_EQ(rbdelete(key, &root, ascending, nullptr), 0);
  }
  expectvalid(root);
  EXPECT_EQ(inorder(root).size(), count - 200);
  rbdestroy(&root);
}

TEST(RedBlack, checker_finds_broken_trees) {
  RBNode *root = nullptr;
  bool created;
  for (uint64_t key = 1; key <= 7; key++) rbinsert(key, &created, &root, ascending, nullptr);
  expectvalid(root);
  root->red = true;
  EXPECT_EQ(rbcheck(root, ascending, nullptr), -1);
  root->red = false;
  std::swap(root->left->key, root->right->key);
  EXPECT_EQ(rbcheck(root, ascending, nullptr), -1);
  std::swap(root->left->key, root->right->key);
  root->left->red = !root->left->red;
  EXPECT_EQ(rbcheck(root, ascending, nullptr), -1);
  rbdestroy(&root);
}
