// Profile, ProfileGroup and ProfileCollection: every matrix of a library in file order with
// its texts, group, ScoringMatrix and ScoreDistribution, the groups, and the lock and work
// counter that hand out one profile at a time; the operations over a collection: growing
// its arrays, the work counter, the release of everything it owns.
#pragma once

#include <cstdint>

#include "base/threads.hpp"
#include "model/distribution.hpp"
#include "model/scoringmatrix.hpp"
#include "sequences/alphabet.hpp"

struct Profile {
  char *identifier;   // owned
  char *accession;    // owned, or null
  char *description;  // owned, or null
  uint64_t groupnumber;
  uint64_t groupposition;
  ScoringMatrix matrix;
  ScoreDistribution distribution;  // size 0 until computed or read
  double multiplier;               // the multiplier the distribution was made with
  ScoreValue smallestvalue;        // smallest single value of the matrix
  uint64_t beginline;              // line of the matrix's BEGIN
  Alphabet alphabet;               // private copy, adjusted for the matrix; matrix.alphabet
};

struct ProfileGroup {
  uint64_t firstprofile;
  uint64_t numofprofiles;
  void *extra;  // null after parsing; released with the collection
};

struct ProfileCollection {
  const Alphabet *alphabet;  // borrowed
  ProfileGroup *groups;
  uint64_t allocatedgroups;
  uint64_t numofgroups;
  Profile *profiles;
  uint64_t allocatedprofiles;
  uint64_t numofprofiles;
  Mutex lock;
  uint64_t nextprofile;
};

// 0, or -1 (internal error) when the lock cannot be created.
int collection_init(ProfileCollection *collection, const Alphabet *alpha);
// Appends an empty (zeroed) group / Profile and returns it. The pointer stays valid until the
// next append. A Profile whose matrix refers to its own alphabet copy keeps doing so when the
// array moves.
ProfileGroup *collection_append_group(ProfileCollection *collection);
Profile *collection_append_profile(ProfileCollection *collection);
using ProfileRoutine = int (*)(Profile *profile, void *context);
int collection_foreach(ProfileCollection *collection, ProfileRoutine routine, void *context);
void collection_reset_work(ProfileCollection *collection);
// Next profile index under the lock, or -1 when all are handed out.
int64_t collection_next_profile(ProfileCollection *collection);
// Releases the collection. sharedalphabet/owner select the -realpha modes.
void collection_free(ProfileCollection *collection, bool sharedalphabet, bool owner);
