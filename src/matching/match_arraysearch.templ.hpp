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

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/error.hpp"
#include "matching/match_arraysearch.hpp"
#include "matching/match_lookaheadsearch.templ.hpp"
#include "matching/match_simplesearch.templ.hpp"
#include "matching/profile.templ.hpp"
#include "sequences/readvirt.hpp"

// ---------------------------------------------------------------------------------------
// Table access

// Hint that the cache line holding address will be read soon.
inline void prefetchline(const void *address) { __builtin_prefetch(address, 0, 3); }

struct ArrayTables {
  const Virtualtree *virtualtree;
  const unsigned char *text;
  const uint64_t *suftab;
  const uint64_t *skptab;
  const unsigned char *lcptab;
  uint64_t n;

  explicit ArrayTables(const Virtualtree *tree)
      : virtualtree(tree),
        text(tree->multiseq.sequence),
        suftab(tree->suftab),
        skptab(tree->skptab),
        lcptab(tree->lcptab),
        n(tree->multiseq.totallength),
        cap(UINT64_MAX) {}

  uint64_t cap;  // every lcp value the walk compares lies below this or is only compared
                 // with depths below it: a byte of 255 needs no lookup when cap <= 255
  uint64_t limit = 0;  // codes at or above this are not scored: no window may hold one

  uint64_t lcp(uint64_t rank, LargeLcpCursor *cursor) const {
    const unsigned char byte = lcptab[rank];
    if (byte < 255 || cap <= 255) return byte;
    return largelcp(virtualtree, rank, cursor);
  }
  // The rank after the block that the skip table names for rank. A table that does not lead
  // forward (a damaged index) still makes progress instead of looping.
  uint64_t afterblock(uint64_t rank) const {
    const uint64_t next = skptab[rank] + 1;
    if (next <= rank) return rank + 1;
    return next < n ? next : n;
  }
};

// ---------------------------------------------------------------------------------------
// Traversal
//
// Every step of the walk waits for a read at a random place: the suffix table entry of the
// next rank, the text at that suffix, the skip and lcp entries of a block passed over. One
// walk alone leaves the processor idle for each of them. So the ranks are cut into lanes,
// each walked on its own, and the lanes take turns step by step: a step asks for the memory
// of its lane's next step in advance and hands over to the next lane, so that the reads of
// all lanes overlap. A lane ends at a rank whose lcp value is below m: no window's group and
// no block passed over at a depth of m or more crosses it, and a block passed over at a
// smaller depth that crosses it only means that the lane is done. Each lane starts at its
// first rank with nothing scored, which the traversal would do at any rank.
//
// Windows are offered to onmatch(lane, rank, score, &lcp, cursor), which returns the rank
// after the window's group (with its lcp value), or n + 1 to stop everything. ondone(lane)
// is called once a lane is finished and answers false to stop everything.

constexpr uint64_t ARRAY_LANES = 16;
constexpr uint64_t ARRAY_SCAN = 48;  // lcp bytes read one by one before the skip table is used

enum ArrayStage : uint8_t {
  STAGE_SUFFIX,   // the suffix table entry of rank is on its way
  STAGE_SCORE,    // the text at the suffix is on its way
  STAGE_SKIP,     // the skip entry of next is on its way
  STAGE_LCP,      // the lcp and suffix table entries of next are on their way
  STAGE_DONE
};

template <typename Score>
struct ArrayLane {
  uint64_t r, end;   // current rank, first rank after the lane
  uint64_t a;        // valid depth
  uint64_t next, f;  // while passing over blocks: candidate rank and its lcp value
  uint64_t depth;    // ... and the depth of the failure: pass over lcp values above it
  Score *partials;
  LargeLcpCursor cursor;
  ArrayStage stage;
};

// Cuts the ranks 0 to n - 1 into lanes that begin at ranks whose lcp value is below m.
template <typename Score>
uint64_t array_lanes(const ArrayTables *tables, uint64_t m, Score *partials,
                     ArrayLane<Score> *lanes) {
  const uint64_t n = tables->n;
  const uint64_t lanecount = n < 4 * ARRAY_LANES ? 1 : ARRAY_LANES;
  const unsigned char bound = static_cast<unsigned char>(m < 255 ? m : 255);
  uint64_t start = 0;
  for (uint64_t i = 0; i < lanecount; i++) {
    uint64_t end = n;
    if (i + 1 < lanecount) {
      end = std::max(start, n / lanecount * (i + 1));
      while (end < n && tables->lcptab[end] >= bound) end++;
    }
    lanes[i] = ArrayLane<Score>{};
    lanes[i].r = start;
    lanes[i].end = end;
    lanes[i].partials = partials + i * m;
    lanes[i].stage = start < end ? STAGE_SUFFIX : STAGE_DONE;
    prefetchline(tables->suftab + start);
    start = end;
  }
  return lanecount;
}

template <typename Score, typename OnMatch, typename OnDone>
void array_traverse(ArrayTables *tables, const ScoringMatrix *matrix, Score *partials,
                    OnMatch &&onmatch, OnDone &&ondone) {
  const uint64_t n = tables->n;
  const uint64_t m = matrix->m;
  if (m == 0 || m > n) return;
  // Depths stay below m, and so does every lcp value the walk keeps (a valid depth); larger
  // values only decide comparisons with depths.
  tables->cap = m;
  const uint64_t last = n - m;  // largest start of a window that ends inside the text
  const uint64_t limit = std::min<uint64_t>(matrix_columns(matrix), WILDCARDCODE);
  tables->limit = limit;
  const Score *scores = matrix_scores<Score>(matrix);
  const uint64_t *rowoffsets = matrix->rowoffsets;
  const Score *intermediate = matrix_intermediate<Score>(matrix);
  const uint64_t *suftab = tables->suftab;
  const unsigned char *text = tables->text;
  // largerbest[e (limit + 1) + c]: the best score of row e over the codes c to limit - 1.
  Score *largerbest = partials + ARRAY_LANES * m;
  for (uint64_t e = 0; e < m; e++) {
    Score best = ScoreTraits<Score>::minusinfinity;
    largerbest[e * (limit + 1) + limit] = best;
    for (uint64_t c = limit; c-- > 0;) {
      best = std::max(best, scores[rowoffsets[e] + c]);
      largerbest[e * (limit + 1) + c] = best;
    }
  }

  ArrayLane<Score> lanes[ARRAY_LANES];
  const uint64_t lanecount = array_lanes<Score>(tables, m, partials, lanes);
  uint64_t active = 0;
  bool stopped = false;
  auto finish = [&](uint64_t i) {
    lanes[i].stage = STAGE_DONE;
    active--;
    if (!ondone(i)) stopped = true;
  };
  for (uint64_t i = 0; i < lanecount; i++) {
    active++;
    if (lanes[i].stage == STAGE_DONE) finish(i);
  }

  // Moves lane i to rank, valid to depth f: its suffix entry is asked for.
  auto moveto = [&](uint64_t i, uint64_t rank, uint64_t f) {
    ArrayLane<Score> &lane = lanes[i];
    if (rank >= lane.end) {
      finish(i);
      return;
    }
    lane.r = rank;
    lane.a = f;
    prefetchline(suftab + rank);
    prefetchline(tables->lcptab + rank);
    lane.stage = STAGE_SUFFIX;
  };
  // Passes over the blocks after a failure at lane.depth, starting with rank lane.r + 1.
  // Most blocks are short: the lcp bytes that follow, side by side in memory, are read one by
  // one first; only a longer block is passed over through the skip table.
  auto passover = [&](uint64_t i) {
    ArrayLane<Score> &lane = lanes[i];
    lane.next = lane.r + 1;
    lane.f = tables->lcp(lane.next, &lane.cursor);
    for (uint64_t scanned = 0; scanned < ARRAY_SCAN && lane.next < lane.end && lane.f > lane.depth;
         scanned++) {
      lane.next++;
      lane.f = tables->lcp(lane.next, &lane.cursor);
    }
    if (lane.next < lane.end && lane.f > lane.depth) {
      prefetchline(tables->skptab + lane.next);
      lane.stage = STAGE_SKIP;
    } else {
      moveto(i, lane.next, lane.f);
    }
  };

  while (active > 0 && !stopped) {
    for (uint64_t i = 0; i < lanecount; i++) {
      ArrayLane<Score> &lane = lanes[i];
      switch (lane.stage) {
        case STAGE_DONE:
          break;
        case STAGE_SUFFIX: {
          // Suffixes too short to hold a window; their entries lie side by side.
          while (lane.r < lane.end && suftab[lane.r] > last) {
            lane.r++;
            const uint64_t f = tables->lcp(lane.r, &lane.cursor);
            if (f < lane.a) lane.a = f;
          }
          if (lane.r >= lane.end) {
            finish(i);
            break;
          }
          prefetchline(text + suftab[lane.r] + lane.a);
          lane.stage = STAGE_SCORE;
          break;
        }
        case STAGE_SCORE: {
          const unsigned char *window = text + suftab[lane.r];
          Score *values = lane.partials;
          Score score = lane.a == 0 ? ScoreTraits<Score>::zero : values[lane.a - 1];
          uint64_t e = lane.a;
          uint64_t c;
          bool matched = false;
          for (;; e++) {
            c = window[e];
            if (c >= limit) break;
            score = addscore<Score>(score, scores[rowoffsets[e] + c]);
            values[e] = score;
            if (e + 1 == m) {
              matched = scoreof<Score>(matrix->threshold) <= score;
              break;
            }
            if (!(intermediate[e] <= score)) break;  // a float NaN fails as well
          }
          if (matched) {
            uint64_t f = 0;
            const uint64_t next = onmatch(i, lane.r, score, &f, &lane.cursor);
            if (next > n) return;
            moveto(i, next, f);
            break;
          }
          // The suffixes that share the first e symbols follow in order of their symbol at
          // depth e. When no larger symbol can pass depth e either (a larger code is not
          // scored at all, or the best score of the larger codes falls short too), all of
          // them fail there: pass over them at once instead of trying each.
          bool siblingsfail = c >= limit;
          if (!siblingsfail) {
            const Score base = e == 0 ? ScoreTraits<Score>::zero : values[e - 1];
            const Score bound =
                e + 1 == m ? scoreof<Score>(matrix->threshold) : intermediate[e];
            siblingsfail = !(bound <= addscore<Score>(base, largerbest[e * (limit + 1) + c + 1]));
          }
          if (!siblingsfail) {
            lane.depth = e;  // pass over the suffixes sharing e + 1 symbols
          } else if (e > 0) {
            lane.depth = e - 1;  // ... sharing the first e symbols
          } else {
            // Every later suffix of the lane fails at its first symbol.
            finish(i);
            break;
          }
          passover(i);
          break;
        }
        case STAGE_SKIP:
          lane.next = tables->afterblock(lane.next);
          prefetchline(tables->lcptab + lane.next);
          prefetchline(suftab + lane.next);
          lane.stage = STAGE_LCP;
          break;
        case STAGE_LCP:
          lane.f = tables->lcp(lane.next, &lane.cursor);
          if (lane.next < lane.end && lane.f > lane.depth) {
            prefetchline(tables->skptab + lane.next);
            lane.stage = STAGE_SKIP;
          } else {
            moveto(i, lane.next, lane.f);
          }
          break;
      }
      if (stopped) return;
    }
  }
}

// ---------------------------------------------------------------------------------------
// Engines

// Scores the traversal needs: the partial scores of every lane, then the best scores of the
// larger codes of every row.
inline uint64_t array_scratch(const ScoringMatrix *matrix) {
  const uint64_t limit = std::min<uint64_t>(matrix_columns(matrix), WILDCARDCODE);
  return matrix->m * (ARRAY_LANES + limit + 1) + 1;
}

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

// Whether every symbol of the window at text position start is one the matrix scores. The
// walk reads only the symbols beyond the depth a suffix shares with the one before, and takes
// a group's members from the lcp table; in an index whose text disagrees with its tables (a
// damaged or hand-made one) a window found that way may hold a code beyond the alphabet,
// which the scan of the text would never report.
inline bool array_windowscored(const ArrayTables *tables, uint64_t start, uint64_t m) {
  const unsigned char *window = tables->text + start;
  for (uint64_t e = 0; e < m; e++) {
    if (window[e] >= tables->limit) return false;
  }
  return true;
}

// The first rank after the group of the window at rank (ranks whose lcp value is at least
// m), with its lcp value; visit(rank) is called for rank and every member whose window holds
// only scored symbols, until it answers false.
template <typename Visit>
uint64_t array_group(const ArrayTables *tables, uint64_t rank, uint64_t m, LargeLcpCursor *cursor,
                     uint64_t *ret_lcp, Visit &&visit) {
  for (;;) {
    if (array_windowscored(tables, tables->suftab[rank], m) && !visit(rank))
      return tables->n + 1;
    rank++;
    const uint64_t f = tables->lcp(rank, cursor);
    if (rank >= tables->n || f < m) {
      *ret_lcp = f;
      return rank;
    }
  }
}

template <typename Score>
int arraysearch_templ(const Virtualtree *virtualtree, const ScoringMatrix *matrix,
                      ReportFunction report, SearchJob *userdata) {
  ArrayTables tables(virtualtree);
  const uint64_t m = matrix->m;
  Score *partials = allocorexit<Score>(nullptr, array_scratch(matrix));
  Match match;
  initarraymatch(&match, virtualtree, matrix, userdata);
  // Matches reach report in rank order: those of the first unfinished lane at once, those
  // of later lanes held back until every lane before them is finished.
  struct Held {
    uint64_t endposition;
    Score score;
  };
  std::vector<Held> held[ARRAY_LANES];
  bool done[ARRAY_LANES] = {};
  uint64_t reporting = 0;  // the lane whose matches go out at once
  int answer = 0;
  auto emit = [&](uint64_t endposition, Score score) {
    match.endposition = endposition;
    scoreof<Score>(match.score) = score;
    answer = report(&match);
    return answer == 0;
  };
  array_traverse<Score>(
      &tables, matrix, partials,
      [&](uint64_t lane, uint64_t rank, Score score, uint64_t *ret_lcp,
          LargeLcpCursor *cursor) -> uint64_t {
        return array_group(&tables, rank, m, cursor, ret_lcp, [&](uint64_t member) {
          const uint64_t endposition = tables.suftab[member] + m - 1;
          if (lane == reporting) return emit(endposition, score);
          held[lane].push_back({endposition, score});
          return true;
        });
      },
      [&](uint64_t lane) {
        done[lane] = true;
        while (reporting < ARRAY_LANES && done[reporting]) {
          reporting++;
          if (reporting == ARRAY_LANES) break;
          for (const Held &h : held[reporting]) {
            if (!emit(h.endposition, h.score)) return false;
          }
          held[reporting].clear();
          held[reporting].shrink_to_fit();
        }
        return true;
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
  Score *partials = allocorexit<Score>(nullptr, array_scratch(matrix));
  BestMatches<Score> store;
  bestmatches_init(&store, k);
  // The store keeps ranks, ordered as the traversal would meet them whatever the lane; they
  // become end positions before the report.
  array_traverse<Score>(&tables, matrix, partials,
                        [&](uint64_t, uint64_t rank, Score score, uint64_t *ret_lcp,
                            LargeLcpCursor *cursor) -> uint64_t {
    bool offersended = false;
    uint64_t next = array_group(&tables, rank, m, cursor, ret_lcp, [&](uint64_t member) {
      if (bestmatches_insert(&store, score, member)) return true;
      offersended = true;
      return false;
    });
    bestmatches_raise(&store, matrix);
    if (offersended) {
      // No later suffix of the group ranks before the worst kept one: pass over the rest.
      uint64_t f = 0;
      next = rank + 1;
      while (next < n && (f = tables.lcp(next, cursor)) >= m) next = tables.afterblock(next);
      if (next >= n) f = tables.lcp(n, cursor);
      *ret_lcp = f;
    }
    return next;
  }, [](uint64_t) { return true; });
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
