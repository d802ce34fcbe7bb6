// Hand-built inputs for the report tests: a two-sequence DNA database, Profiles with and
// without names, descriptions and distributions, and a Match aimed at a given position.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "model/match.hpp"
#include "model/profile.hpp"
#include "sequences/multiseq.hpp"
#include "sequences/virtualtree.hpp"

// Codes a=0 c=1 g=2 t=3. Sequence 0 "acgtac" at 0..5, separator at 6, sequence 1 "ggatc" at
// 7..11. Headers "seq1\n" and "second one\n".
struct TestDatabase {
  unsigned char sequence[12] = {0, 1, 2, 3, 0, 1, 255, 2, 2, 0, 3, 1};
  uint64_t separators[1] = {6};
  uint64_t descoffsets[3] = {0, 5, 16};
  unsigned char desctext[17] = "seq1\nsecond one\n";
  unsigned char characters[256] = {};
  unsigned char complement[256] = {};
  Multiseq multiseq{};

  TestDatabase() {
    std::memcpy(characters, "acgt", 4);
    std::memcpy(complement, "tgca", 4);
    characters[254] = complement[254] = 'n';
    multiseq.separatorpositions = separators;
    multiseq.numofseparators = 1;
    multiseq.allocatedseparators = 1;
    multiseq.descoffsets = descoffsets;
    multiseq.numofsequences = 2;
    multiseq.totallength = 12;
    multiseq.desctext = desctext;
    multiseq.desctextlength = 16;
    multiseq.sequence = sequence;
  }
};

// A Profile whose matrix carries only what the reports read: score type, threshold and
// bounds. Strings are owned by the test.
inline Profile makeprofile(ScoreType type, double threshold, double minimum, double maximum) {
  Profile profile{};
  profile.matrix.scoretype = type;
  if (type == SCORE_FLOAT) {
    profile.matrix.threshold.f = static_cast<float>(threshold);
    profile.matrix.minscore.f = static_cast<float>(minimum);
    profile.matrix.maxscore.f = static_cast<float>(maximum);
  } else {
    profile.matrix.threshold.i = static_cast<int64_t>(threshold);
    profile.matrix.minscore.i = static_cast<int64_t>(minimum);
    profile.matrix.maxscore.i = static_cast<int64_t>(maximum);
  }
  profile.multiplier = 1.0;
  return profile;
}

// The distribution of a one-row matrix scoring 1, 2, 3, 4 under uniform frequencies: the
// p-value of score s is (5 - s) / 4 for s in 1..4.
struct TestDistribution {
  double tail[4] = {1.0, 0.75, 0.5, 0.25};
  void attach(Profile *profile) {
    profile->distribution.minimum = 1;
    profile->distribution.maximum = 4;
    profile->distribution.offset = 0;
    profile->distribution.tail = tail;
    profile->distribution.size = 4;
  }
};

inline ScoreValue integerscore(int64_t value) {
  ScoreValue score{};
  score.i = value;
  return score;
}
inline ScoreValue floatscore(float value) {
  ScoreValue score{};
  score.f = value;
  return score;
}

inline Match makematch(TestDatabase *database, SearchJob *job, uint64_t endposition,
                       uint64_t length, ScoreValue score) {
  Match match{};
  match.sourcekind = SOURCE_MULTISEQ;
  match.length = length;
  match.endposition = endposition;
  match.characters = database->characters;
  match.job = job;
  match.source = &database->multiseq;
  match.matrix = &job->profile->matrix;
  match.score = score;
  return match;
}
