// The ScoreDistribution record: a Profile's exact score distribution over scaled integer
// scores, as the threshold derivation computes it or a distribution file stores it. The tail
// table holds plain probabilities. The computations and lookups are in statistics/.
//
// Scores are scaled to non-negative integers: with c the smallest entry of the matrix (at most
// 0, wildcard column and forbidden cells left out), shift = |rint(multiplier * c)| and a row
// entry scores shift + rint(multiplier * entry). A window of real score s thus has the scaled
// total offset + multiplier * s, with offset = rows * shift.
#pragma once

#include <cstdint>

struct ScoreDistribution {
  int64_t minimum;  // smallest scaled total the table covers
  int64_t maximum;  // largest scaled total
  int64_t offset;   // rows * shift: a real score s is the scaled total offset + multiplier * s
  double *tail;     // maximum - minimum + 1 entries: P(scaled total >= minimum + i); owned
  uint64_t size;    // entries of tail; 0 means no distribution
};
