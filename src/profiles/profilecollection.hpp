// Profiles and the ProfileCollection: all matrices of a library in file order, their groups,
// the lock and the work counter that hands out one profile at a time; character classes
// and the check of a matrix's characters against the sequence alphabet.
#pragma once

#include <cstdint>

#include "base/threads.hpp"
#include "matching/profile.hpp"
#include "sequences/alphabet.hpp"
#include "statistics/distribution.hpp"

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

// Character classes: for each code some byte maps to (undefined excepted), the byte values
// mapping to it in increasing order.
struct CharacterClass {
  char members[257];
  uint64_t length;
};
struct ClassTable {
  const Alphabet *alphabet;     // the sequence alphabet the classes were built from (borrowed)
  CharacterClass classes[256];  // indexed by symbol code
  bool present[256];
};
void buildcharacterclasses(ClassTable *table, const Alphabet *alpha);
// The class of character c (null for an undefined character) and its code.
const CharacterClass *classofcharacter(const ClassTable *table, const Alphabet *alpha,
                                       unsigned char c, uint64_t *ret_code);
// -1 on a synonym error, 1 when something was adjusted or warned about, 0 otherwise. A line
// number of 0 marks a probe: no warnings, no line in the message.
// The destination becomes a copy of the table's alphabet in which every character whose class
// has no column maps to the undefined code and the printed character of its former code is
// '~'. Warnings go through printwarning.
int checkcompatibility(const ClassTable *table, const unsigned char *characters, uint64_t count,
                       Alphabet *destination, uint64_t linenumber);
// For a matrix over an adjusted alphabet made by checkcompatibility: warns about every class of
// codes 0 to mapsize - 2 whose members are all undefined there, naming the matrix's line.
void warnmissingcolumns(const ClassTable *table, const Alphabet *adjusted, uint64_t linenumber);
