// Helpers for the engine tests: a Multiseq built in memory from coded sequences, matrices
// filled from rows, and a ReportFunction that records every Match it is given.
#pragma once

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "matching/profile.hpp"
#include "model/match.hpp"
#include "sequences/multiseq.hpp"
#include "sequences/virtualtree.hpp"

namespace enginetest {

// A Multiseq over the given coded sequences, each followed by a separator but the last.
struct MemoryMultiseq {
  std::vector<unsigned char> codes;
  std::vector<uint64_t> separators;
  Multiseq multiseq;

  explicit MemoryMultiseq(const std::vector<std::vector<unsigned char>> &sequences) {
    for (size_t i = 0; i < sequences.size(); i++) {
      if (i > 0) {
        separators.push_back(codes.size());
        codes.push_back(SEPARATORCODE);
      }
      codes.insert(codes.end(), sequences[i].begin(), sequences[i].end());
    }
    initmultiseq(&multiseq);
    multiseq.sequence = codes.data();
    multiseq.totallength = codes.size();
    multiseq.numofsequences = sequences.size();
    multiseq.numofdbsequences = sequences.size();
    multiseq.separatorpositions = separators.empty() ? nullptr : separators.data();
    multiseq.numofseparators = separators.size();
    multiseq.allocatedseparators = separators.size();
  }
  MemoryMultiseq(const MemoryMultiseq &) = delete;
  MemoryMultiseq &operator=(const MemoryMultiseq &) = delete;
};

// Codes of a text over "acgt" (n a wildcard, # a separator inside one sequence's codes, ?
// an undefined character).
inline std::vector<unsigned char> dna(const std::string &text) {
  std::vector<unsigned char> codes;
  for (char c : text) {
    switch (c) {
      case 'a': codes.push_back(0); break;
      case 'c': codes.push_back(1); break;
      case 'g': codes.push_back(2); break;
      case 't': codes.push_back(3); break;
      case 'n': codes.push_back(WILDCARDCODE); break;
      case '?': codes.push_back(UNDEFINEDCODE); break;
      default: codes.push_back(SEPARATORCODE); break;
    }
  }
  return codes;
}

// An alphabet of `columns` codes, the last being the wildcard class.
inline Alphabet alphabetof(uint64_t columns) {
  Alphabet alpha{};
  alpha.mapsize = columns;
  alpha.undefinedcode = UNDEFINEDCODE;
  for (uint64_t i = 0; i < columns; i++) alpha.characters[i] = static_cast<unsigned char>('a' + i);
  alpha.characters[WILDCARDCODE] = 'n';
  return alpha;
}

template <typename Score>
ScoreValue scorevalue(Score s) {
  ScoreValue v;
  scoreof<Score>(v) = s;
  return v;
}

// Initialises matrix from rows of `columns` cells with threshold T and its intermediate
// thresholds.
template <typename Score>
void fillmatrix(ScoringMatrix *matrix, const Alphabet *alpha,
                const std::vector<std::vector<Score>> &rows, Score threshold) {
  matrix_init_threshold(matrix, ScoreTraits<Score>::type, alpha, rows.size(),
                        scorevalue<Score>(threshold));
  for (uint64_t i = 0; i < rows.size(); i++) {
    for (uint64_t j = 0; j < alpha->mapsize; j++) {
      matrix_scores<Score>(matrix)[matrix->rowoffsets[i] + j] = rows[i][j];
    }
  }
  matrix_set_intermediate_thresholds(matrix);
}

// The index tables of a coded text, built by their definitions: suffixes in order of the
// codes, the end of the text above every code (so the empty suffix comes last); lcp of each
// suffix with the one before; skip[r] + 1 the first rank after r with a smaller lcp value (n
// when none), skip[n] = n.
struct NaiveIndex {
  std::vector<uint64_t> suf, skp, lcpvalues;
  std::vector<unsigned char> lcp;
  std::vector<LargeLcpValue> llv;

  explicit NaiveIndex(const std::vector<unsigned char> &codes) {
    const uint64_t n = codes.size();
    auto at = [&](uint64_t p) -> unsigned { return p < n ? codes[p] : 256u; };
    suf.resize(n + 1);
    std::iota(suf.begin(), suf.end(), 0);
    std::sort(suf.begin(), suf.end(), [&](uint64_t a, uint64_t b) {
      while (at(a) == at(b) && at(a) != 256u) a++, b++;
      return at(a) < at(b);
    });
    lcpvalues.assign(n + 1, 0);
    for (uint64_t r = 1; r <= n; r++) {
      uint64_t l = 0;
      while (at(suf[r - 1] + l) == at(suf[r] + l) && at(suf[r] + l) != 256u) l++;
      lcpvalues[r] = l;
    }
    for (uint64_t r = 0; r <= n; r++) {
      lcp.push_back(static_cast<unsigned char>(std::min<uint64_t>(lcpvalues[r], 255)));
      if (lcpvalues[r] >= 255) llv.push_back({r, lcpvalues[r]});
    }
    skp.assign(n + 1, n);
    for (uint64_t r = 0; r < n; r++) {
      uint64_t next = r + 1;
      while (next < n && lcpvalues[next] >= lcpvalues[r]) next++;
      skp[r] = next - 1;
    }
  }
};

// A Virtualtree over a MemoryMultiseq with the naive tables.
struct MemoryIndex {
  NaiveIndex tables;
  Virtualtree tree{};
  explicit MemoryIndex(const MemoryMultiseq &db) : tables(db.codes) {
    tree.multiseq = db.multiseq;
    tree.suftab = tables.suf.data();
    tree.skptab = tables.skp.data();
    tree.lcptab = tables.lcp.data();
    tree.llvtab = tables.llv.empty() ? nullptr : tables.llv.data();
    tree.largelcpvalues = tables.llv.size();
  }
  // Rank of the suffix at each position.
  std::vector<uint64_t> ranks() const {
    std::vector<uint64_t> rank(tables.suf.size());
    for (uint64_t r = 0; r < tables.suf.size(); r++) rank[tables.suf[r]] = r;
    return rank;
  }
};

struct Found {
  uint64_t endposition;
  double score;  // both score types' values are exact in a double
  bool operator==(const Found &other) const = default;
};

// Records matches; answers non-zero from the match numbered stopat on (counted from 0).
struct Recorder {
  std::vector<Found> found;
  std::vector<Match> matches;
  uint64_t stopat = UINT64_MAX;
};
inline Recorder *currentrecorder = nullptr;

inline int recordmatch(Match *match) {
  Recorder *recorder = currentrecorder;
  const double score = match->matrix->scoretype == SCORE_INTEGER
                           ? static_cast<double>(match->score.i)
                           : static_cast<double>(match->score.f);
  recorder->found.push_back({match->endposition, score});
  recorder->matches.push_back(*match);
  return recorder->found.size() > recorder->stopat ? 1 : 0;
}

// Runs search with a fresh recorder installed; returns the engine's answer in *ret_status.
template <typename Search>
std::vector<Found> record(Search &&search, int *ret_status = nullptr, uint64_t stopat = UINT64_MAX) {
  Recorder recorder;
  recorder.stopat = stopat;
  currentrecorder = &recorder;
  const int status = search(recordmatch);
  currentrecorder = nullptr;
  if (ret_status != nullptr) *ret_status = status;
  return recorder.found;
}

}  // namespace enginetest
