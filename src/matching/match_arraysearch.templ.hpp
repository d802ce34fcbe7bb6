// Integer and float versions of the enhanced suffix array search and its k-best form,
// written once over the score type.
//
// The traversal keeps the partial scores of the current suffix's prefix, one per depth, and
// a valid depth: how many leading symbols the current suffix shares with the suffix scored
// before it. Scoring resumes at that depth. A prefix that falls below its intermediate
// threshold is given up together with every following suffix that shares it, found through
// the skip table; a window that reaches the threshold is reported for every following suffix
// that begins with it. Symbols that no column scores (wildcards, separators, codes beyond
// the alphabet) end the prefix at once.
//
// Contents: table access; traversal; arraysearch_templ, arraysearch_kbest_templ.
#pragma once

#include <cstdint>

#include "base/error.hpp"
#include "matching/match_arraysearch.hpp"
#include "matching/match_lookaheadsearch.templ.hpp"
#include "matching/match_simplesearch.templ.hpp"
#include "matching/profile.templ.hpp"
#include "sequences/readvirt.hpp"

// ---------------------------------------------------------------------------------------
// Table access

struct ArrayTables {
  const Virtualtree *virtualtree;
  const unsigned char *text;
  const uint64_t *suftab;
  const uint64_t *skptab;
  const unsigned char *lcptab;
  uint64_t n;
  LargeLcpCursor cursor;

  explicit ArrayTables(const Virtualtree *tree)
      : virtualtree(tree),
        text(tree->multiseq.sequence),
        suftab(tree->suftab),
        skptab(tree->skptab),
        lcptab(tree->lcptab),
        n(tree->multiseq.totallength),
        cursor{0} {}

  uint64_t lcp(uint64_t rank) {
    const unsigned char byte = lcptab[rank];
    return byte < 255 ? byte : largelcp(virtualtree, rank, &cursor);
  }
  // The rank after the block that the skip table names for rank. A table that does not lead
  // forward (a damaged index) still makes progress instead of looping.
  uint64_t afterblock(uint64_t rank) const {
    const uint64_t next = skptab[rank] + 1;
    if (next <= rank) return rank + 1;
    return next < n ? next : n;
  }
  // The first rank from rank + 1 on whose lcp value is at most depth, passing over blocks.
  uint64_t firstatmost(uint64_t rank, uint64_t depth, uint64_t *ret_lcp) {
    uint64_t next = rank + 1;
    uint64_t f = lcp(next);
    while (next < n && f > depth) {
      next = afterblock(next);
      f = lcp(next);
    }
    *ret_lcp = f;
    return next;
  }
};

// ---------------------------------------------------------------------------------------
// Traversal

// Walks the suffixes in rank order. For each window that reaches the threshold (read again
// at every window, since a k-best search raises it), onmatch(rank, score, &lcp) is called
// with the window's first rank; it answers the rank to continue at (after the window's
// group), with that rank's lcp value, or n + 1 to stop the traversal. partials holds m
// scores.
template <typename Score, typename OnMatch>
void array_traverse(ArrayTables *tables, const ScoringMatrix *matrix, Score *partials,
                    OnMatch &&onmatch) {
  const uint64_t n = tables->n;
  const uint64_t m = matrix->m;
  if (m == 0 || m > n) return;
  const uint64_t last = n - m;  // largest start of a window that ends inside the text
  const uint64_t limit = std::min<uint64_t>(matrix_columns(matrix), WILDCARDCODE);
  const Score *scores = matrix_scores<Score>(matrix);
  const uint64_t *rowoffsets = matrix->rowoffsets;
  const Score *intermediate = matrix_intermediate<Score>(matrix);
  const uint64_t *suftab = tables->suftab;
  const unsigned char *text = tables->text;

  uint64_t r = 0;
  uint64_t a = 0;  // valid depth
  while (r < n) {
    // Suffixes too short to hold a window.
    while (r < n && suftab[r] > last) {
      r++;
      const uint64_t f = tables->lcp(r);
      if (f < a) a = f;
    }
    if (r >= n) return;
    const unsigned char *window = text + suftab[r];
    Score score = a == 0 ? ScoreTraits<Score>::zero : partials[a - 1];
    uint64_t e = a;
    uint64_t c;
    bool matched = false;
    for (;; e++) {
      c = window[e];
      if (c >= limit) break;
      score = addscore<Score>(score, scores[rowoffsets[e] + c]);
      partials[e] = score;
      if (e + 1 == m) {
        matched = scoreof<Score>(matrix->threshold) <= score;
        break;
      }
      if (!(intermediate[e] <= score)) break;  // a float NaN fails as well
    }
    if (matched) {
      uint64_t f = 0;
      r = onmatch(r, score, &f);
      if (r > n) return;
      a = f;
      continue;
    }
    // Failure at depth e.
    uint64_t f = 0;
    if (c < WILDCARDCODE) {
      r = tables->firstatmost(r, e, &f);  // passes over the suffixes sharing e + 1 symbols
    } else {
      if (e == 0) return;  // every remaining suffix begins with a wildcard or a separator
      r = tables->firstatmost(r, e - 1, &f);  // ... sharing the first e symbols
    }
    a = f;
  }
}

// ---------------------------------------------------------------------------------------
// Engines

inline void initarraymatch(Match *match, const Virtualtree *virtualtree,
                           const ScoringMatrix *matrix, SearchJob *userdata) {
  match->sourcekind = SOURCE_VIRTUALTREE;
  match->length = matrix->m;
  match->endposition = 0;
  match->characters = matrix->alphabet->characters;
  match->job = userdata;
  match->source = virtualtree;
  match->matrix = matrix;
  match->score.i = 0;
}

template <typename Score>
int arraysearch_templ(const Virtualtree *virtualtree, const ScoringMatrix *matrix,
                      ReportFunction report, SearchJob *userdata) {
  ArrayTables tables(virtualtree);
  const uint64_t m = matrix->m;
  const uint64_t n = tables.n;
  Score *partials = allocorexit<Score>(nullptr, m == 0 ? 1 : m);
  Match match;
  initarraymatch(&match, virtualtree, matrix, userdata);
  int answer = 0;
  array_traverse<Score>(&tables, matrix, partials, [&](uint64_t rank, Score score, uint64_t *ret_lcp) {
    scoreof<Score>(match.score) = score;
    // Every following suffix that shares at least m symbols begins with the same window.
    for (;;) {
      match.endposition = tables.suftab[rank] + m - 1;
      answer = report(&match);
      if (answer != 0) return n + 1;
      rank++;
      const uint64_t f = tables.lcp(rank);
      if (rank >= n || f < m) {
        *ret_lcp = f;
        return rank;
      }
    }
  });
  std::free(partials);
  return answer;
}

template <typename Score>
int arraysearch_kbest_templ(const Virtualtree *virtualtree, ScoringMatrix *matrix, uint64_t k,
                            ReportFunction report, SearchJob *userdata) {
  if (k == 0) return reporterror("Searching for zero best matches doesn't make any sense.");
  ArrayTables tables(virtualtree);
  const uint64_t m = matrix->m;
  const uint64_t n = tables.n;
  Score *partials = allocorexit<Score>(nullptr, m == 0 ? 1 : m);
  BestMatches<Score> store;
  bestmatches_init(&store, k);
  // The store keeps ranks; they become end positions before the report.
  array_traverse<Score>(&tables, matrix, partials, [&](uint64_t rank, Score score, uint64_t *ret_lcp) {
    for (;;) {
      if (!bestmatches_insert(&store, score, rank)) {
        // No later suffix of the group can be better: pass over the rest of it.
        bestmatches_raise(&store, matrix);
        return tables.firstatmost(rank, m - 1, ret_lcp);
      }
      rank++;
      const uint64_t f = tables.lcp(rank);
      if (rank >= n || f < m) {
        bestmatches_raise(&store, matrix);
        *ret_lcp = f;
        return rank;
      }
    }
  });
  std::free(partials);
  for (uint64_t slot = 0; slot < store.count; slot++) {
    store.slots[slot].endposition = tables.suftab[store.slots[slot].endposition] + m - 1;
  }
  Match match;
  initarraymatch(&match, virtualtree, matrix, userdata);
  const int result = bestmatches_report(&store, &match, report);
  bestmatches_free(&store);
  return result;
}
