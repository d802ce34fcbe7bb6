// The MatchCollection: every match of a sorted run, kept once in one array and ordered by a
// chain of sort keys through a red-black tree of array indices. Entries with equal keys form
// a group in insertion order. The code is in itemcollection.templ.cpp (the collection) and
// reportfuns.cpp (collect_match).
//
// Sort keys, one letter each, applied in order until one differs:
//   i identifier, a accession (byte-wise; absent before present), p p-value, e E-value,
//   n sequence number, o position in the sequence, r group ID, t position in the group,
//   g group ID then position (ascending); m MSS, s score (descending).
#pragma once

#include <cstdint>

#include "base/threads.hpp"
#include "model/match.hpp"
#include "model/scoringmatrix.hpp"

struct Profile;
struct RBNode;

struct CollectedMatch {
  Profile *profile;  // not owned
  double pvalue;     // 0.0 without a distribution
  double evalue;     // 0.0 without a distribution
  double mss;
  ScoreValue score;  // integer score, or the float score in the low 32 bits
  uint64_t seqnum;
  uint64_t seqposition;
  uint64_t endposition;  // absolute
  uint64_t length;
  unsigned char strand;  // 1, 2, 4 or 8
  uint64_t reportorder;  // matches of its profile reported before it: ties keep one order
  int64_t next;          // index of the next entry of the group, or -1
  uint64_t last;         // in a group's first entry: index of the group's last entry
};

struct MatchCollection {
  CollectedMatch *entries;
  uint64_t allocatedentries;
  uint64_t numofentries;
  const char *sortkeys;  // not owned
  RBNode *root;          // keys are indices into entries
  Mutex lock;            // guards insertions
};

// An empty collection ordered by sortkeys (which must outlive it). Null, with an internal
// error reported, when its lock cannot be created.
MatchCollection *matchcollection_create(const char *sortkeys);

// Adds entry (its next and last fields are set here) under the collection's lock; when an
// entry with equal keys is present the new one joins the end of its group.
void matchcollection_insert(MatchCollection *collection, const CollectedMatch *entry);

// Compares the entries with indices a and b by the sort keys: negative, 0 or positive.
// An unknown key letter prints "Invalid sort key `%c'." and aborts.
int matchcollection_compare(uint64_t a, uint64_t b, void *collection);

using MatchVisitor = int (*)(const CollectedMatch *entry, void *context);

// Visits every entry in key order, the entries of a group in the order one job reports them
// (library order of the profiles, then the order within each profile's search), whatever the
// order of insertion by several threads. Stops at the
// first nonzero result of visit and returns it; 0 when all were visited. Takes no lock.
int matchcollection_walk(MatchCollection *collection, MatchVisitor visit, void *context);

// Visits the first entry of every group in key order; the visitor follows the group with
// matchcollection_next. Same result as matchcollection_walk.
int matchcollection_walkgroups(MatchCollection *collection, MatchVisitor visitgroup,
                               void *context);
// The entry after entry in its group, or null.
const CollectedMatch *matchcollection_next(const MatchCollection *collection,
                                           const CollectedMatch *entry);

// Releases the tree, the entries, the lock and the collection itself; null is skipped.
void matchcollection_free(MatchCollection *collection);

// ReportFunction of sorted runs: counts the match, computes its location and statistics and
// inserts it into the job's collection. 0, or -1 with the message in the ErrorBuffer.
int collect_match(Match *match);
