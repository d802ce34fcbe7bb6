// The ProfileCollection: growing arrays of Profiles and groups, the locked work counter that
// hands out one profile index at a time, and the release of everything a collection owns.
#include <cstring>

#include "base/error.hpp"
#include "model/profile.hpp"

namespace {

constexpr uint64_t groupincrement = 128;
constexpr uint64_t profileincrement = 1024;

// The texts of a Profile, owned by exactly one collection.
void freeprofiletexts(Profile *profile) {
  freeandnull(profile->identifier);
  freeandnull(profile->accession);
  freeandnull(profile->description);
}

// The matrix arrays and the distribution table. The alphabet copy is embedded in the Profile
// and owns no memory, so releasing it needs no work of its own.
void freeprofilematrix(Profile *profile) {
  matrix_free(&profile->matrix);
  freeandnull(profile->distribution.tail);
  profile->distribution.size = 0;
}

}  // namespace

int collection_init(ProfileCollection *collection, const Alphabet *alpha) {
  collection->alphabet = alpha;
  collection->groups = nullptr;
  collection->allocatedgroups = 0;
  collection->numofgroups = 0;
  collection->profiles = nullptr;
  collection->allocatedprofiles = 0;
  collection->numofprofiles = 0;
  collection->nextprofile = 0;
  if (mutexinit(&collection->lock) != 0) return internalerror();
  return 0;
}

ProfileGroup *collection_append_group(ProfileCollection *collection) {
  if (collection->numofgroups == collection->allocatedgroups) {
    collection->allocatedgroups += groupincrement;
    collection->groups = allocorexit(collection->groups, collection->allocatedgroups);
  }
  ProfileGroup *group = &collection->groups[collection->numofgroups++];
  *group = ProfileGroup{};
  return group;
}

Profile *collection_append_profile(ProfileCollection *collection) {
  if (collection->numofprofiles == collection->allocatedprofiles) {
    // A new block rather than a resize: a matrix that points at the alphabet copy inside its
    // own Profile must be pointed at the copy in the new block, which can only be told while
    // the old block still exists.
    const uint64_t capacity = collection->allocatedprofiles + profileincrement;
    Profile *moved = allocorexit<Profile>(nullptr, capacity);
    Profile *old = collection->profiles;
    for (uint64_t i = 0; i < collection->numofprofiles; i++) {
      std::memcpy(static_cast<void *>(&moved[i]), &old[i], sizeof(Profile));
      if (old[i].matrix.alphabet == &old[i].alphabet) moved[i].matrix.alphabet = &moved[i].alphabet;
    }
    std::free(old);
    collection->profiles = moved;
    collection->allocatedprofiles = capacity;
  }
  Profile *profile = &collection->profiles[collection->numofprofiles++];
  std::memset(static_cast<void *>(profile), 0, sizeof(Profile));
  return profile;
}

int collection_foreach(ProfileCollection *collection, ProfileRoutine routine, void *context) {
  for (uint64_t i = 0; i < collection->numofprofiles; i++) {
    const int result = routine(&collection->profiles[i], context);
    if (result != 0) return result;
  }
  return 0;
}

void collection_reset_work(ProfileCollection *collection) {
  MutexGuard guard(&collection->lock);
  collection->nextprofile = 0;
}

int64_t collection_next_profile(ProfileCollection *collection) {
  MutexGuard guard(&collection->lock);
  if (collection->nextprofile >= collection->numofprofiles) return -1;
  return static_cast<int64_t>(collection->nextprofile++);
}

void collection_free(ProfileCollection *collection, bool sharedalphabet, bool owner) {
  for (uint64_t i = 0; i < collection->numofprofiles; i++) {
    Profile *profile = &collection->profiles[i];
    // Under -realpha the reduced collection owns the texts and the protein collection the
    // alphabet copies; both own their matrices.
    if (!sharedalphabet || owner) freeprofiletexts(profile);
    freeprofilematrix(profile);
  }
  for (uint64_t i = 0; i < collection->numofgroups; i++) freeandnull(collection->groups[i].extra);
  freeandnull(collection->groups);
  collection->allocatedgroups = 0;
  collection->numofgroups = 0;
  freeandnull(collection->profiles);
  collection->allocatedprofiles = 0;
  collection->numofprofiles = 0;
  mutexdestroy(&collection->lock);
}
