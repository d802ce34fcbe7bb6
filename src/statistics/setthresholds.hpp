// Threshold derivation: gives every Profile of a collection its score threshold from the run's
// cutoff (E-value, p-value, raw score, matrix similarity score or k best), warns about cutoffs
// a Profile cannot meet, and reads the precalculated distribution file.
//
// Distribution file: a gzip stream (a plain file reads the same) of one record per Profile in
// library order, in the writing machine's layout: minimum, maximum and offset as signed 64-bit
// integers, the multiplier as a double, then maximum - minimum + 1 doubles of tail table.
#pragma once

#include <cstdint>

#include "model/profile.hpp"
#include "model/searchsettings.hpp"

// Each step walks all Profiles in order in the calling thread, sets threshold, intermediate
// thresholds and multiplier (and, where computed or read, the ScoreDistribution), writes the
// same threshold into the Profile at the same index of mirror (null without a reduced
// collection), and stops at the first failure: 0, or -1 with the message in the ErrorBuffer.
// A cutoff kind that does not belong to the step is an internal error.

// E-value and p-value cutoffs through the lazy distribution and settings->frequencies.
int prepare_with_frequencies(ProfileCollection *collection, const SearchSettings *settings,
                             ProfileCollection *mirror);
// Every cutoff kind, with the records of settings->distributionname.
int prepare_from_file(ProfileCollection *collection, const SearchSettings *settings,
                      ProfileCollection *mirror);
// Raw threshold, matrix similarity score and k-best cutoffs.
int prepare_plain(ProfileCollection *collection, const SearchSettings *settings,
                  ProfileCollection *mirror);
// The step the settings' distribution mode calls for (distributionmode): the file's, the
// lazy distribution's or the plain one.
int prepare_thresholds(ProfileCollection *collection, const SearchSettings *settings,
                       ProfileCollection *mirror);

// The threshold of a Profile that cannot reach its cutoff: 2^62 - 1 (as a float for float
// matrices). Such a Profile is not searched.
constexpr int64_t unreachablethreshold = INT64_C(4611686018427387903);
