// The MatchCollection: entries in one array growing by 1024, a red-black tree of their
// indices ordered by the sort keys, groups of entries with equal keys, and the in-order walk.
//
// Contents: comparison; create, insert, walk, release.
#include "report/matchcollection.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/error.hpp"
#include "base/redblack.hpp"
#include "model/profile.hpp"

namespace {

constexpr uint64_t entrygrowth = 1024;

// Ascending order of two values; unordered values (NaN) are equal.
template <typename T>
int ascending(T a, T b) {
  if (a < b) return -1;
  if (a > b) return 1;
  return 0;
}

// Byte-wise; the same string object is equal without looking at it, and an absent string
// comes before every present one.
int comparestrings(const char *a, const char *b) {
  if (a == b) return 0;
  if (a == nullptr) return -1;
  if (b == nullptr) return 1;
  return std::strcmp(a, b);
}

// Scores compare as single-precision floats, whatever the score type.
float scoreasfloat(const CollectedMatch *entry) {
  switch (entry->profile->matrix.scoretype) {
    case SCORE_INTEGER:
      return static_cast<float>(entry->score.i);
    case SCORE_FLOAT:
      return entry->score.f;
  }
  return 0.0f;
}

[[noreturn]] void invalidsortkey(char key) {
  std::fprintf(stderr, "Invalid sort key `%c'.\n", key);
  std::fflush(stderr);
  std::abort();
}

int comparekey(char key, const CollectedMatch *a, const CollectedMatch *b) {
  const Profile *pa = a->profile;
  const Profile *pb = b->profile;
  switch (key) {
    case 'i':
      return comparestrings(pa->identifier, pb->identifier);
    case 'a':
      return comparestrings(pa->accession, pb->accession);
    case 'p':
      return ascending(a->pvalue, b->pvalue);
    case 'e':
      return ascending(a->evalue, b->evalue);
    case 'm':
      return ascending(b->mss, a->mss);
    case 's':
      return ascending(scoreasfloat(b), scoreasfloat(a));
    case 'n':
      return ascending(a->seqnum, b->seqnum);
    case 'o':
      return ascending(a->seqposition, b->seqposition);
    case 'r':
      return ascending(pa->groupnumber, pb->groupnumber);
    case 't':
      return ascending(pa->groupposition, pb->groupposition);
    case 'g': {
      const int result = ascending(pa->groupnumber, pb->groupnumber);
      return result != 0 ? result : ascending(pa->groupposition, pb->groupposition);
    }
  }
  invalidsortkey(key);
}

struct WalkState {
  MatchCollection *collection;
  MatchVisitor visit;
  void *context;
  bool wholegroups;  // visit every entry of a group, not only its first
  int result;        // the visitor's nonzero result that stopped the walk
};

int walkaction(uint64_t key, RBVisit kind, uint64_t depth, void *context) {
  if (kind != RB_POSTORDER && kind != RB_LEAF) return 0;
  WalkState *state = static_cast<WalkState *>(context);
  const CollectedMatch *entries = state->collection->entries;
  for (int64_t index = static_cast<int64_t>(key); index >= 0; index = entries[index].next) {
    const int result = state->visit(&entries[index], state->context);
    if (result != 0) {
      state->result = result;
      return 1;
    }
    if (!state->wholegroups) break;
  }
  return 0;
}

// Threads insert the entries of a group in any order; one job inserts them in library order
// of the profiles and, within a profile, in report order. Each group is put into that order
// before a walk by moving the records along the group's chain, which the tree never sees.
bool reportedbefore(const CollectedMatch &a, const CollectedMatch &b) {
  if (a.profile != b.profile) return a.profile < b.profile;
  return a.reportorder < b.reportorder;
}

int settlegroup(uint64_t key, RBVisit kind, uint64_t, void *context) {
  if (kind != RB_POSTORDER && kind != RB_LEAF) return 0;
  CollectedMatch *entries = static_cast<MatchCollection *>(context)->entries;
  if (entries[key].next < 0) return 0;
  thread_local std::vector<uint64_t> chain;
  thread_local std::vector<CollectedMatch> records;
  chain.clear();
  records.clear();
  bool ordered = true;
  for (int64_t index = static_cast<int64_t>(key); index >= 0; index = entries[index].next) {
    if (!records.empty() && reportedbefore(entries[index], records.back())) ordered = false;
    chain.push_back(static_cast<uint64_t>(index));
    records.push_back(entries[index]);
  }
  if (ordered) return 0;
  std::stable_sort(records.begin(), records.end(), reportedbefore);
  for (size_t i = 0; i < chain.size(); i++) {
    CollectedMatch *slot = &entries[chain[i]];
    const int64_t next = slot->next;
    const uint64_t last = slot->last;
    *slot = records[i];
    slot->next = next;
    slot->last = last;
  }
  return 0;
}

int walk(MatchCollection *collection, MatchVisitor visit, void *context, bool wholegroups) {
  rbwalk(collection->root, settlegroup, collection);
  WalkState state{collection, visit, context, wholegroups, 0};
  rbwalk(collection->root, walkaction, &state);
  return state.result;
}

}  // namespace

int matchcollection_compare(uint64_t a, uint64_t b, void *context) {
  const MatchCollection *collection = static_cast<const MatchCollection *>(context);
  const CollectedMatch *ea = &collection->entries[a];
  const CollectedMatch *eb = &collection->entries[b];
  for (const char *key = collection->sortkeys; *key != '\0'; key++) {
    const int result = comparekey(*key, ea, eb);
    if (result != 0) return result;
  }
  return 0;
}

MatchCollection *matchcollection_create(const char *sortkeys) {
  MatchCollection *collection = allocorexit<MatchCollection>(nullptr, 1);
  *collection = MatchCollection{};
  collection->sortkeys = sortkeys;
  if (mutexinit(&collection->lock) != 0) {
    std::free(collection);
    internalerror();
    return nullptr;
  }
  return collection;
}

void matchcollection_insert(MatchCollection *collection, const CollectedMatch *entry) {
  MutexGuard guard(&collection->lock);
  if (collection->numofentries == collection->allocatedentries) {
    collection->allocatedentries += entrygrowth;
    collection->entries =
        allocorexit<CollectedMatch>(collection->entries, collection->allocatedentries);
  }
  const uint64_t index = collection->numofentries++;
  CollectedMatch *added = &collection->entries[index];
  *added = *entry;
  added->next = -1;
  added->last = index;
  bool created;
  const uint64_t present = rbinsert(index, &created, &collection->root,
                                    matchcollection_compare, collection);
  if (!created) {
    CollectedMatch *first = &collection->entries[present];
    collection->entries[first->last].next = static_cast<int64_t>(index);
    first->last = index;
  }
}

int matchcollection_walk(MatchCollection *collection, MatchVisitor visit, void *context) {
  return walk(collection, visit, context, true);
}

int matchcollection_walkgroups(MatchCollection *collection, MatchVisitor visitgroup,
                               void *context) {
  return walk(collection, visitgroup, context, false);
}

const CollectedMatch *matchcollection_next(const MatchCollection *collection,
                                           const CollectedMatch *entry) {
  return entry->next < 0 ? nullptr : &collection->entries[entry->next];
}

void matchcollection_free(MatchCollection *collection) {
  if (collection == nullptr) return;
  rbdestroy(&collection->root);
  freeandnull(collection->entries);
  mutexdestroy(&collection->lock);
  std::free(collection);
}
