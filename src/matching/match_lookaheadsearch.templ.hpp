// Integer and float versions of the lookahead search and its k-best form, written once over
// the score type, with the best-match store that every k-best search shares.
//
// A window passes the lookahead test when no symbol is a wildcard, separator or outside the
// alphabet and every prefix sum, added in row order, reaches the intermediate threshold of
// its last row. Walking the rows of every window in order is slow on real matrices, whose
// intermediate thresholds reject late, so the scan puts a filter in front of that test:
// groups of consecutive rows are scored through precomputed tables indexed by the packed
// symbols of the group, the most rejecting group first, and a window is dropped only when
// the table sums prove that its complete score stays below the threshold. Every window that
// survives the filter goes through the exact test, so the hits, their scores and their
// order are those of the row-by-row rule. Where the processor has vector units and the
// alphabet is small, a byte pass takes the place of the tables: a coarse upper bound of
// every window's whole score, 32 or 64 windows at a time (lookahead_firstpass.hpp).
//
// Contents: exact window test; table filter; scan over a Multiseq; best-match store;
// lookaheadsearch_templ, lookaheadsearch_kbest_templ.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "base/error.hpp"
#include "base/redblack.hpp"
#include "matching/lookahead_firstpass.hpp"
#include "matching/match_simplesearch.templ.hpp"
#include "matching/profile.templ.hpp"

// ---------------------------------------------------------------------------------------
// Exact window test

// The lookahead rule on the m symbols at window: false when a code reaches limit or a prefix
// sum falls below its intermediate threshold, otherwise true with the score.
template <typename Score>
inline bool lookahead_window(const unsigned char *window, const Score *scores,
                             const uint64_t *rowoffsets, const Score *intermediate, uint64_t m,
                             uint64_t limit, Score *ret_score) {
  Score sum = ScoreTraits<Score>::zero;
  for (uint64_t j = 0; j < m; j++) {
    const uint64_t code = window[j];
    if (code >= limit) return false;
    sum = addscore<Score>(sum, scores[rowoffsets[j] + code]);
    if (!(intermediate[j] <= sum)) return false;  // a float NaN rejects as well
  }
  *ret_score = sum;
  return true;
}

// ---------------------------------------------------------------------------------------
// Table filter
//
// The rows are cut into groups of `width` consecutive rows (the last group is shifted back
// to end at row m - 1, its rows shared with the previous group counting 0). The symbols of
// a group, `bits` bits each with the first symbol highest, form the index of the group's
// table, whose entry is the group's score. Only windows whose codes all lie below `codes`
// use the tables; others take the exact test.
//
// Soundness. Integer entries are exact sums; a group holding a forbidden cell gets a
// sentinel far below every reachable partial sum, so it rejects at once. That is right only
// when the exact test would reject the window too: true while the intermediate threshold of
// every row with a forbidden cell lies above any sum of a forbidden cell and the best of the
// rows before it ("forbidsafe", checked whenever the thresholds change). Float entries are
// group sums rounded to single precision; the filter's sum and the exact test's row-order
// sum both stay within (m + 2 groups + 4) units of rounding of the sum of the largest
// absolute cells of each row, so the filter thresholds are lowered by twice that margin.

constexpr uint64_t FILTER_PACKBITS = 10;   // table entries per group: at most 2^10
constexpr uint64_t FILTER_BLOCK = 1024;    // windows whose packs are computed at once
constexpr uint64_t FILTER_FIRSTSTEPS = 3;  // steps taken as passes without a branch

// Filter entry type for each score type: float for float matrices; int32_t or int64_t for
// integer matrices, as their magnitude allows.
template <typename Score, typename Entry>
struct LookaheadFilter {
  uint64_t m;
  uint64_t codes;  // codes below this use the tables
  uint64_t bits, width, groups;
  uint64_t tablesize;
  Entry *tables;       // groups tables of tablesize entries, in evaluation order
  uint64_t *offsets;   // per step: first row of the step's group
  Entry *steps;        // per step: reject when the partial sum is below this
  Entry *maxentries;   // per step: largest entry of the step's table
  // Scratch of the running scan (owned unless the filter is a view made by filter_view).
  uint16_t *packs;       // packs of FILTER_BLOCK + m positions
  uint32_t *survivors;   // windows of a block (from its start) passing the first steps
  Entry *partials;       // their partial sums
  uint64_t firststeps;   // steps taken for every window
  double absbound;     // sum over rows of the largest absolute non-forbidden cell
  bool enabled;        // false: every window takes the exact test
  // The byte pass (see filter_bytetables): used with the current threshold when bytepass is
  // set and byteusable.
  BytePass bytepass;
  uint64_t bytestride;  // codes per row of the byte tables: 16, or 32 for wide alphabets
  uint8_t *bytetables;  // m rows of bytestride bytes
  uint8_t bytebound;
  bool byteusable;
  // The byte pass may also judge windows holding codes from codes up to the last column: the
  // rows cover every column, and a forbidden cell in any column makes the exact test fail.
  bool anycode;
};

// Reports whether the current intermediate thresholds make every window with a forbidden
// cell (in a column below codes) fail the exact test at that row.
template <typename Score>
bool filter_forbidsafe(const ScoringMatrix *matrix, uint64_t codes) {
  const Score *thr = matrix_intermediate<Score>(matrix);
  for (uint64_t j = 0; j < matrix->m; j++) {
    const Score *cells = matrix_scores<Score>(matrix) + matrix->rowoffsets[j];
    bool forbidden = false;
    for (uint64_t c = 0; c < codes; c++) forbidden = forbidden || ScoreTraits<Score>::forbidden(cells[c]);
    if (!forbidden) continue;
    if constexpr (std::is_integral_v<Score>) {
      if (thr[j] < -(INT64_C(1) << 61)) return false;
    } else {
      if (thr[j] <= -1e38f) return false;
    }
  }
  return true;
}

// Integer filter thresholds are clamped into -limit .. limit; the matrix's absolute bound
// stays below limit / 4 and the sentinel is -4 limit. Then no sum of up to seven entries
// overflows, a sum holding a sentinel lies below every threshold, and a sum without one
// lies above every clamped threshold that stands for a threshold below -limit.
template <typename Entry>
constexpr Entry filterlimit() {
  if constexpr (std::is_same_v<Entry, int32_t>) {
    return INT32_C(1) << 27;
  } else if constexpr (std::is_same_v<Entry, int64_t>) {
    return INT64_C(1) << 58;
  } else {
    return 0;
  }
}
// The entry of a group holding a forbidden cell.
template <typename Entry>
constexpr Entry filtersentinel() {
  if constexpr (std::is_same_v<Entry, int32_t>) {
    return -(INT32_C(1) << 28);
  } else if constexpr (std::is_same_v<Entry, int64_t>) {
    return -(INT64_C(1) << 60);
  } else {
    return -HUGE_VALF;
  }
}

// The byte tables for the current threshold T.
//
// Row j's cell for code c becomes q = the nearest whole number to (s - lo_j) / scale, where
// lo_j is the row's smallest non-forbidden cell and scale = D / 250 with D = T - margin -
// sum of lo_j (margin as for the float tables, plus a trace for double rounding); e_j is the
// largest (s - lo_j) / scale - q of the row, at most 1/2. A window that passes the exact test
// has a score of at least T - margin, so its cells' q sum to at least 250 - sum of e_j: the
// bound is that, rounded up. The sum saturates at 255, above the bound, so saturation never
// drops a window; a cell whose q would exceed 255 is stored as 255 and lifts every window
// holding it over the bound. Forbidden cells count 0: their windows fail the exact test
// anyway while the filter is enabled.
template <typename Score, typename Entry>
void filter_bytetables(LookaheadFilter<Score, Entry> *filter, const ScoringMatrix *matrix,
                       double margin) {
  filter->byteusable = false;
  if (filter->bytepass == nullptr || !filter->enabled) return;
  const uint64_t m = filter->m, codes = filter->codes;
  const double threshold = static_cast<double>(scoreof<Score>(matrix->threshold));
  std::vector<double> low(m, 0.0);
  double lowsum = 0.0;
  for (uint64_t j = 0; j < m; j++) {
    bool any = false;
    for (uint64_t c = 0; c < codes; c++) {
      const Score s = matrix_cell<Score>(matrix, j, c);
      if (ScoreTraits<Score>::forbidden(s)) continue;
      if (!any || static_cast<double>(s) < low[j]) low[j] = static_cast<double>(s);
      any = true;
    }
    lowsum += low[j];
  }
  const double span = threshold - margin - 1e-9 * (filter->absbound + std::fabs(threshold)) - lowsum;
  if (!(span > 0.0)) return;  // every window may reach the threshold
  const double scale = span / 250.0;
  double residuals = 0.0;
  for (uint64_t j = 0; j < m; j++) {
    double residual = 0.0;
    uint8_t *row = filter->bytetables + filter->bytestride * j;
    for (uint64_t c = 0; c < filter->bytestride; c++) {
      row[c] = 0;
      if (c >= codes) continue;
      const Score s = matrix_cell<Score>(matrix, j, c);
      if (ScoreTraits<Score>::forbidden(s)) continue;
      const double x = (static_cast<double>(s) - low[j]) / scale;
      const double q = std::nearbyint(x);
      if (q >= 255.0) {
        row[c] = 255;
        continue;
      }
      row[c] = static_cast<uint8_t>(q);
      residual = std::max(residual, x - q);
    }
    residuals += residual;
  }
  const double bound = std::ceil(250.0 - residuals - 1e-6);
  if (!(bound >= 1.0)) return;
  filter->bytebound = static_cast<uint8_t>(bound);
  filter->byteusable = true;
}

// Recomputes the step thresholds from the matrix's threshold and decides whether the filter
// may be used with the current intermediate thresholds.
template <typename Score, typename Entry>
void filter_retune(LookaheadFilter<Score, Entry> *filter, const ScoringMatrix *matrix) {
  filter->enabled = filter_forbidsafe<Score>(matrix, filter->codes);
  const uint64_t columns = matrix_columns(matrix);
  filter->anycode = filter->bytepass != nullptr && filter->bytestride >= columns &&
                    filter_forbidsafe<Score>(matrix, columns);
  const Score threshold = scoreof<Score>(matrix->threshold);
  if constexpr (std::is_integral_v<Score>) {
    const Entry limit = filterlimit<Entry>();
    const Entry t = static_cast<Entry>(std::clamp<int64_t>(threshold, -limit, limit));
    Entry rest = 0;
    for (uint64_t k = filter->groups; k-- > 0;) {
      filter->steps[k] = t - rest;
      rest += filter->maxentries[k];
    }
    filter_bytetables(filter, matrix, 0.0);
  } else {
    if (!(std::fabs(threshold) <= 1e30f)) {
      filter->enabled = false;
      filter->byteusable = false;
      return;
    }
    const double margin = 2.0 * static_cast<double>(filter->m + 2 * filter->groups + 4) *
                          std::ldexp(filter->absbound + std::fabs(threshold), -24);
    double rest = 0.0;
    for (uint64_t k = filter->groups; k-- > 0;) {
      const double bound = static_cast<double>(threshold) - margin - rest;
      float step = static_cast<float>(bound);
      if (static_cast<double>(step) > bound) step = std::nextafter(step, -HUGE_VALF);
      filter->steps[k] = step;
      rest += static_cast<double>(filter->maxentries[k]);
    }
    filter_bytetables(filter, matrix, margin);
  }
}

// Builds the tables of the filter for matrix, with its own scratch unless withscratch is
// false (then every scan goes through a view, filter_view). Returns false when the matrix
// does not suit the filter (then nothing is allocated): an alphabet without regular codes,
// non-finite or huge cells.
template <typename Score, typename Entry>
bool filter_init(LookaheadFilter<Score, Entry> *filter, const ScoringMatrix *matrix,
                 uint64_t limit, bool withscratch = true) {
  const uint64_t m = matrix->m;
  const uint64_t columns = matrix_columns(matrix);
  if (m == 0 || columns < 2) return false;
  // The wildcard column takes part only when some of its cells can score.
  uint64_t codes = columns - 1;
  for (uint64_t j = 0; j < m; j++) {
    if (!ScoreTraits<Score>::forbidden(matrix_cell<Score>(matrix, j, columns - 1))) codes = columns;
  }
  codes = std::min(codes, limit);
  if (codes == 0) return false;
  uint64_t bits = 1;
  while ((UINT64_C(1) << bits) < codes) bits++;
  if (bits > FILTER_PACKBITS) return false;
  double absbound = 0.0;
  for (uint64_t j = 0; j < m; j++) {
    double rowbound = 0.0;
    for (uint64_t c = 0; c < codes; c++) {
      const Score s = matrix_cell<Score>(matrix, j, c);
      if (ScoreTraits<Score>::forbidden(s)) {
        if constexpr (std::is_integral_v<Score>) {
          if (s < INT64_MIN + (INT64_C(1) << 59)) return false;
        }
        continue;
      }
      if (!(std::fabs(static_cast<double>(s)) <= 1e30)) return false;  // NaN or infinite
      rowbound = std::max(rowbound, std::fabs(static_cast<double>(s)));
    }
    absbound += rowbound;
  }
  if constexpr (std::is_integral_v<Score>) {
    if (absbound >= static_cast<double>(filterlimit<Entry>()) / 4) return false;
  } else {
    if (absbound > 1e30) return false;
  }
  const uint64_t width = std::min<uint64_t>(m, FILTER_PACKBITS / bits);
  const uint64_t groups = (m + width - 1) / width;
  const uint64_t tablesize = UINT64_C(1) << (bits * width);
  filter->m = m;
  filter->codes = codes;
  filter->bits = bits;
  filter->width = width;
  filter->groups = groups;
  filter->tablesize = tablesize;
  filter->absbound = absbound;
  filter->tables = allocorexit<Entry>(nullptr, groups * tablesize);
  filter->offsets = allocorexit<uint64_t>(nullptr, groups);
  filter->steps = allocorexit<Entry>(nullptr, groups);
  filter->maxentries = allocorexit<Entry>(nullptr, groups);
  if (withscratch) {
    filter->packs = allocorexit<uint16_t>(nullptr, FILTER_BLOCK + m);
    filter->survivors = allocorexit<uint32_t>(nullptr, FILTER_BLOCK);
    filter->partials = allocorexit<Entry>(nullptr, FILTER_BLOCK);
  } else {
    filter->packs = nullptr;
    filter->survivors = nullptr;
    filter->partials = nullptr;
  }
  filter->firststeps = std::min(groups, FILTER_FIRSTSTEPS);
  // The byte pass reads symbols as indexes of 16- or 32-byte rows; its sums saturate at 255.
  filter->bytestride = codes <= BYTEPASS_CODES ? BYTEPASS_CODES : BYTEPASS_WIDECODES;
  filter->bytepass = codes <= BYTEPASS_WIDECODES && m < 200
                         ? bytepass_for(firstpass_level(), codes > BYTEPASS_CODES)
                         : nullptr;
  filter->bytetables = filter->bytepass != nullptr
                           ? allocorexit<uint8_t>(nullptr, filter->bytestride * m)
                           : nullptr;

  // Tables in row order first, with how often each group alone rejects a random window.
  const Score threshold = scoreof<Score>(matrix->threshold);
  const uint64_t mask = (UINT64_C(1) << bits) - 1;
  double maxsum = 0.0;
  for (uint64_t g = 0; g < groups; g++) {
    const uint64_t first = g * width;
    const uint64_t start = std::min(first, m - width);
    Entry *table = filter->tables + g * tablesize;
    Entry best = filtersentinel<Entry>();
    bool anyvalid = false;
    for (uint64_t index = 0; index < tablesize; index++) {
      double sum = 0.0;
      bool valid = true, forbidden = false;
      for (uint64_t t = 0; t < width; t++) {
        const uint64_t code = (index >> (bits * (width - 1 - t))) & mask;
        if (code >= codes) {
          valid = false;
          break;
        }
        if (start + t < first) continue;
        const Score s = matrix_cell<Score>(matrix, start + t, code);
        if (ScoreTraits<Score>::forbidden(s)) forbidden = true; else sum += static_cast<double>(s);
      }
      Entry entry = filtersentinel<Entry>();
      if (valid && !forbidden) {
        if constexpr (std::is_integral_v<Score>) {
          int64_t exact = 0;  // integer cells are summed exactly
          for (uint64_t t = 0; t < width; t++) {
            if (start + t < first) continue;
            exact += matrix_cell<Score>(matrix, start + t, (index >> (bits * (width - 1 - t))) & mask);
          }
          entry = static_cast<Entry>(exact);
        } else {
          entry = static_cast<Entry>(sum);
        }
        if (!anyvalid || best < entry) best = entry;
        anyvalid = true;
      }
      table[index] = entry;
    }
    // A group that always holds a forbidden cell rejects through its sentinel entries; its
    // maximum counts 0 so that the thresholds of the other steps stay in range.
    if (!anyvalid) best = 0;
    filter->offsets[g] = start;
    filter->maxentries[g] = best;
    maxsum += static_cast<double>(best);
  }
  // Evaluation order: the group that most often rejects a window by itself comes first.
  std::vector<double> rejects(groups);
  std::vector<uint64_t> order(groups);
  for (uint64_t g = 0; g < groups; g++) {
    const Entry *table = filter->tables + g * tablesize;
    const double cut =
        static_cast<double>(threshold) - (maxsum - static_cast<double>(filter->maxentries[g]));
    uint64_t below = 0, valid = 0;
    for (uint64_t index = 0; index < tablesize; index++) {
      bool ok = true;
      for (uint64_t t = 0; t < width; t++) ok = ok && ((index >> (bits * t)) & mask) < codes;
      if (!ok) continue;
      valid++;
      if (static_cast<double>(table[index]) < cut) below++;
    }
    rejects[g] = valid == 0 ? 0.0 : static_cast<double>(below) / static_cast<double>(valid);
    order[g] = g;
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](uint64_t a, uint64_t b) { return rejects[a] > rejects[b]; });
  Entry *ordered = allocorexit<Entry>(nullptr, groups * tablesize);
  std::vector<uint64_t> rowoffsets(groups);
  std::vector<Entry> maxima(groups);
  for (uint64_t k = 0; k < groups; k++) {
    std::copy(filter->tables + order[k] * tablesize, filter->tables + (order[k] + 1) * tablesize,
              ordered + k * tablesize);
    rowoffsets[k] = filter->offsets[order[k]];
    maxima[k] = filter->maxentries[order[k]];
  }
  std::copy(rowoffsets.begin(), rowoffsets.end(), filter->offsets);
  std::copy(maxima.begin(), maxima.end(), filter->maxentries);
  std::free(filter->tables);
  filter->tables = ordered;
  filter_retune(filter, matrix);
  return true;
}

template <typename Score, typename Entry>
void filter_free(LookaheadFilter<Score, Entry> *filter) {
  freeandnull(filter->tables);
  freeandnull(filter->offsets);
  freeandnull(filter->steps);
  freeandnull(filter->maxentries);
  freeandnull(filter->packs);
  freeandnull(filter->survivors);
  freeandnull(filter->partials);
  freeandnull(filter->bytetables);
}

// Pack p of the symbols: the width symbols from p on, bits bits each, the first highest.
// Width and bits are template arguments so that the loop over the positions vectorises in
// 16-bit lanes; bits = 0 takes the number of bits at run time.
template <uint64_t width, unsigned fixedbits>
void filter_packs_fixed(const unsigned char *symbols, uint64_t npacks, uint64_t bits,
                        uint16_t *packs) {
  const unsigned shift = fixedbits != 0 ? fixedbits : static_cast<unsigned>(bits);
  for (uint64_t p = 0; p < npacks; p++) {
    uint16_t pack = 0;
    for (uint64_t t = 0; t < width; t++) {
      pack = static_cast<uint16_t>(pack << shift) | static_cast<uint16_t>(symbols[p + t]);
    }
    packs[p] = pack;
  }
}

inline void filter_packs(const unsigned char *symbols, uint64_t npacks, uint64_t width,
                         uint64_t bits, uint16_t *packs) {
  if (bits == 2) {  // four-letter alphabets
    switch (width) {
      case 1: return filter_packs_fixed<1, 2>(symbols, npacks, bits, packs);
      case 2: return filter_packs_fixed<2, 2>(symbols, npacks, bits, packs);
      case 3: return filter_packs_fixed<3, 2>(symbols, npacks, bits, packs);
      case 4: return filter_packs_fixed<4, 2>(symbols, npacks, bits, packs);
      case 5: return filter_packs_fixed<5, 2>(symbols, npacks, bits, packs);
      case 6: return filter_packs_fixed<6, 2>(symbols, npacks, bits, packs);
      case 7: return filter_packs_fixed<7, 2>(symbols, npacks, bits, packs);
      default: break;
    }
  }
  switch (width) {
    case 1: return filter_packs_fixed<1, 0>(symbols, npacks, bits, packs);
    case 2: return filter_packs_fixed<2, 0>(symbols, npacks, bits, packs);
    case 3: return filter_packs_fixed<3, 0>(symbols, npacks, bits, packs);
    case 4: return filter_packs_fixed<4, 0>(symbols, npacks, bits, packs);
    case 5: return filter_packs_fixed<5, 0>(symbols, npacks, bits, packs);
    case 6: return filter_packs_fixed<6, 0>(symbols, npacks, bits, packs);
    case 7: return filter_packs_fixed<7, 0>(symbols, npacks, bits, packs);
    case 8: return filter_packs_fixed<8, 0>(symbols, npacks, bits, packs);
    case 9: return filter_packs_fixed<9, 0>(symbols, npacks, bits, packs);
    default: return filter_packs_fixed<10, 0>(symbols, npacks, bits, packs);
  }
}

// The first steps for the windows 0 to windows - 1 of a block, as a cascade of passes
// without branches: the first pass scores every window with the first step's table and
// lists those that reach its threshold; each further pass adds the next step's entry to the
// listed windows and keeps those that reach its threshold. Returns the number of windows
// listed in the end, with their partial sums.
template <typename Score, typename Entry>
uint64_t filter_firststeps(LookaheadFilter<Score, Entry> *filter, uint64_t windows) {
  const uint16_t *packs = filter->packs;
  uint32_t *survivors = filter->survivors;
  Entry *partials = filter->partials;
  const Entry *table = filter->tables;
  const uint16_t *steppacks = packs + filter->offsets[0];
  const Entry firstbound = filter->steps[0];
  uint64_t count = 0;
  // The first pass lists the windows only; the second looks their first entries up again.
  for (uint64_t w = 0; w < windows; w++) {
    survivors[count] = static_cast<uint32_t>(w);
    count += table[steppacks[w]] < firstbound ? 0 : 1;
  }
  if (filter->firststeps == 1) {
    for (uint64_t i = 0; i < count; i++) partials[i] = table[steppacks[survivors[i]]];
    return count;
  }
  {
    const Entry *second = filter->tables + filter->tablesize;
    const uint16_t *secondpacks = packs + filter->offsets[1];
    const Entry bound = filter->steps[1];
    const uint64_t listed = count;
    count = 0;
    for (uint64_t i = 0; i < listed; i++) {
      const uint32_t w = survivors[i];
      const Entry partial = table[steppacks[w]] + second[secondpacks[w]];
      survivors[count] = w;
      partials[count] = partial;
      count += partial < bound ? 0 : 1;
    }
  }
  for (uint64_t k = 2; k < filter->firststeps; k++) {
    table = filter->tables + k * filter->tablesize;
    steppacks = packs + filter->offsets[k];
    const Entry bound = filter->steps[k];
    const uint64_t listed = count;
    count = 0;
    for (uint64_t i = 0; i < listed; i++) {
      const uint32_t w = survivors[i];
      const Entry partial = partials[i] + table[steppacks[w]];
      survivors[count] = w;
      partials[count] = partial;
      count += partial < bound ? 0 : 1;
    }
  }
  return count;
}

// ---------------------------------------------------------------------------------------
// Scan over a Multiseq

// The first position from `from` on (below len) whose symbol is at least limit, or len. Eight
// symbols at a time: a word can only hold such a symbol when adding 128 - limit to each of
// its bytes (limit at most 128) sets a top bit; a carry into the next byte may make a false
// alarm, which the byte loop then passes over.
inline uint64_t firstatleast(const unsigned char *symbols, uint64_t from, uint64_t len,
                             uint64_t limit) {
  uint64_t p = from;
  if (limit <= 128) {
    const uint64_t ones = UINT64_C(0x0101010101010101);
    const uint64_t add = (128 - limit) * ones;
    const uint64_t tops = ones * 0x80;
    while (p + 8 <= len) {
      uint64_t word;
      std::memcpy(&word, symbols + p, sizeof word);
      if (((word + add) | word) & tops) break;
      p += 8;
    }
  }
  while (p < len && symbols[p] < limit) p++;
  return p;
}

// Calls search(start, len, first, last) for every sequence that holds windows of m symbols
// starting from `from` to `to - 1`, in increasing order: start and len are the sequence's
// absolute start and length, first <= last the window starts within it (relative to start).
// Returns 0, or -1 as soon as search answers non-zero.
template <typename SegmentSearch>
int walkwindows(const Multiseq *multiseq, uint64_t m, uint64_t from, uint64_t to,
                SegmentSearch &&search) {
  const uint64_t sequences = multiseq->numofsequences;
  if (sequences == 0 || from >= to) return 0;
  const uint64_t *separators = multiseq->separatorpositions;
  // The sequence holding `from` (or, when `from` is a separator, the one after it).
  uint64_t i = static_cast<uint64_t>(std::lower_bound(separators, separators + (sequences - 1), from) -
                                     separators);
  for (; i < sequences; i++) {
    const uint64_t start = i == 0 ? 0 : separators[i - 1] + 1;
    if (start >= to) break;
    const uint64_t end = i + 1 < sequences ? separators[i] : multiseq->totallength;
    if (end - start < m) continue;
    const uint64_t first = std::max(from, start);
    const uint64_t last = std::min(to - 1, end - m);
    if (first > last) continue;
    if (search(start, end - start, first - start, last - start) != 0) return -1;
  }
  return 0;
}

// The window starts of the sequences in range (all when null): [*ret_from, *ret_to) over the
// concatenated sequence, empty when no window of m symbols fits. Both ends of a range are
// looked up first; if either fails, the error code is set and the answer is -1.
inline int windowspan(const Multiseq *multiseq, const SequenceRange *range, uint64_t m,
                      uint64_t *ret_from, uint64_t *ret_to) {
  uint64_t first = 0, last = 0;
  *ret_from = *ret_to = 0;
  const int found = rangesequences(multiseq, range, &first, &last);
  if (found <= 0) return found;
  const uint64_t start = first == 0 ? 0 : multiseq->separatorpositions[first - 1] + 1;
  const uint64_t end = last + 1 < multiseq->numofsequences ? multiseq->separatorpositions[last]
                                                           : multiseq->totallength;
  if (m == 0 || end < start + m) return 0;
  *ret_from = start;
  *ret_to = end - m + 1;
  return 0;
}

// Calls hit(score, endposition) for every window starting from `from` to `to - 1` (windows
// that lie wholly in one sequence; to + m - 1 at most the total length) that passes the exact
// test and reaches the threshold, in order of end position. hit returns 0 to go on, 1 after
// it changed the matrix's threshold and intermediate thresholds, or -1 to stop. Returns 0,
// or -1 when hit failed.
//
// While the byte pass may judge windows holding any code (filter_anycode), it runs over the
// windows without regard to the sequences: a window that crosses a separator or holds a
// wildcard fails the exact test. Otherwise the scan goes sequence by sequence, and only runs
// of regular codes go through the filter.
template <typename Score, typename Entry, typename Hit>
int lookahead_scan_windows(const Multiseq *multiseq, const ScoringMatrix *matrix,
                           LookaheadFilter<Score, Entry> *filter, uint64_t from, uint64_t to,
                           Hit &&hit) {
  const uint64_t m = matrix->m;
  const uint64_t limit = std::min<uint64_t>(matrix_columns(matrix), WILDCARDCODE);
  const Score *scores = matrix_scores<Score>(matrix);
  const uint64_t *rowoffsets = matrix->rowoffsets;
  const uint64_t codes = filter->codes;
  const uint64_t bits = filter->bits;
  const uint64_t width = filter->width;
  const uint64_t groups = filter->groups;
  const uint64_t tablesize = filter->tablesize;
  const Entry *tables = filter->tables;
  const uint64_t *offsets = filter->offsets;
  uint16_t *packs = filter->packs;
  const unsigned char *sequence = multiseq->sequence;

  // The exact test of the window starting at n: 0, or hit's answer.
  auto exact = [&](uint64_t n) -> int {
    Score score;
    if (!lookahead_window<Score>(sequence + n, scores, rowoffsets,
                                 matrix_intermediate<Score>(matrix), m, limit, &score)) {
      return 0;
    }
    if (!(scoreof<Score>(matrix->threshold) <= score)) return 0;
    const int answer = hit(score, n + m - 1);
    if (answer > 0) filter_retune(filter, matrix);
    return answer < 0 ? -1 : 0;
  };

  // The byte pass over windows first to first + windows - 1, all of whose symbols are
  // regular codes or, when filter_anycode holds, any codes.
  auto bytewindows = [&](uint64_t first, uint64_t windows) -> int {
    const uint64_t passed = filter->bytepass(sequence + first, windows, filter->bytetables, m,
                                             filter->bytebound, filter->survivors);
    for (uint64_t i = 0; i < passed; i++) {
      if (exact(first + filter->survivors[i]) != 0) return -1;
    }
    return 0;
  };

  // Windows first to last of the segment at start, all of whose symbols are below codes.
  // Per block: the packs of all positions; then the first steps for every window without a
  // branch, keeping the windows that pass in a list; then the remaining steps and the exact
  // test for those alone.
  auto cleanrun = [&](uint64_t start, uint64_t first, uint64_t last) -> int {
    const unsigned char *segment = sequence + start;
    for (uint64_t blockstart = first; blockstart <= last; blockstart += FILTER_BLOCK) {
      const uint64_t blockend = std::min(last, blockstart + FILTER_BLOCK - 1);
      const uint64_t windows = blockend - blockstart + 1;
      if (!filter->enabled) {
        for (uint64_t n = blockstart; n <= blockend; n++) {
          if (exact(start + n) != 0) return -1;
        }
        continue;
      }
      if (filter->byteusable) {
        if (bytewindows(start + blockstart, windows) != 0) return -1;
        continue;
      }
      const unsigned char *symbols = segment + blockstart;
      // Pack p holds the width symbols from blockstart + p on, the first one highest.
      const uint64_t npacks = windows + m - width;
      filter_packs(symbols, npacks, width, bits, packs);
      const uint64_t passed = filter_firststeps(filter, windows);
      for (uint64_t i = 0; i < passed; i++) {
        const uint64_t w = filter->survivors[i];
        const uint16_t *windowpacks = packs + w;
        Entry partial = filter->partials[i];
        uint64_t k = filter->firststeps;
        for (; k < groups; k++) {
          partial += tables[k * tablesize + windowpacks[offsets[k]]];
          if (partial < filter->steps[k]) break;
        }
        if (k < groups) continue;
        if (exact(start + blockstart + w) != 0) return -1;
      }
    }
    return 0;
  };

  uint64_t n = from;
  while (n < to && filter->enabled && filter->byteusable && filter->anycode) {
    const uint64_t windows = std::min(to - n, FILTER_BLOCK);
    if (bytewindows(n, windows) != 0) return -1;
    n += windows;
  }
  return walkwindows(multiseq, m, n, to,
                     [&](uint64_t start, uint64_t len, uint64_t first, uint64_t last) -> int {
    const unsigned char *segment = sequence + start;
    uint64_t special = first;  // first position at or after n whose code is not below codes
    uint64_t n = first;
    while (n <= last) {
      if (special < n) special = n;
      special = firstatleast(segment, special, len, codes);
      if (special >= n + m) {
        const uint64_t runend = std::min(last, special - m);
        if (cleanrun(start, n, runend) != 0) return -1;
        n = runend + 1;
      } else if (segment[special] >= limit) {
        n = special + 1;  // every window covering this symbol fails
      } else {
        if (exact(start + n) != 0) return -1;
        n++;
      }
    }
    return 0;
  });
}

// The same scan without a filter: the exact test on every window.
template <typename Score, typename Hit>
int lookahead_scan_plain(const Multiseq *multiseq, const ScoringMatrix *matrix, uint64_t from,
                         uint64_t to, Hit &&hit) {
  const uint64_t m = matrix->m;
  const uint64_t limit = std::min<uint64_t>(matrix_columns(matrix), WILDCARDCODE);
  const Score *scores = matrix_scores<Score>(matrix);
  return walkwindows(multiseq, m, from, to,
                     [&](uint64_t start, uint64_t, uint64_t first, uint64_t last) -> int {
    for (uint64_t n = start + first; n <= start + last; n++) {
      Score score;
      if (!lookahead_window<Score>(multiseq->sequence + n, scores, matrix->rowoffsets,
                                   matrix_intermediate<Score>(matrix), m, limit, &score)) {
        continue;
      }
      if (!(scoreof<Score>(matrix->threshold) <= score)) continue;
      if (hit(score, n + m - 1) < 0) return -1;
    }
    return 0;
  });
}

// Chooses the filter's entry type (or none) for matrix and scans the sequences in range.
template <typename Score, typename Hit>
int lookahead_scan(const Multiseq *multiseq, const ScoringMatrix *matrix,
                   const SequenceRange *range, Hit &&hit) {
  uint64_t from, to;
  if (windowspan(multiseq, range, matrix->m, &from, &to) != 0) return -1;
  if (from >= to) return 0;
  const uint64_t limit = std::min<uint64_t>(matrix_columns(matrix), WILDCARDCODE);
  auto filtered = [&](auto *filter) -> int {
    const int result = lookahead_scan_windows(multiseq, matrix, filter, from, to, hit);
    filter_free(filter);
    return result;
  };
  if constexpr (std::is_integral_v<Score>) {
    LookaheadFilter<Score, int32_t> narrow{};
    if (filter_init(&narrow, matrix, limit)) return filtered(&narrow);
    LookaheadFilter<Score, int64_t> wide{};
    if (filter_init(&wide, matrix, limit)) return filtered(&wide);
  } else {
    LookaheadFilter<Score, float> single{};
    if (filter_init(&single, matrix, limit)) return filtered(&single);
  }
  return lookahead_scan_plain<Score>(multiseq, matrix, from, to, hit);
}

// ---------------------------------------------------------------------------------------
// Best-match store

template <typename Score>
struct BestMatch {
  Score score;
  uint64_t endposition;
};

// The k best hits of a search: count slots in use (of allocated, which grows with what the
// store holds, so that a k beyond the number of windows costs nothing), ordered by a red-black
// tree over slot numbers (greater score first, then smaller end position); worst is the last
// slot in that order once the store is full.
template <typename Score>
struct BestMatches {
  BestMatch<Score> *slots;
  uint64_t allocated;
  uint64_t k;
  uint64_t count;
  RBNode *root;
  uint64_t worst;
};

template <typename Score>
int bestmatches_compare(uint64_t a, uint64_t b, void *context) {
  const BestMatch<Score> *slots = static_cast<const BestMatch<Score> *>(context);
  if (slots[a].score > slots[b].score) return -1;
  if (slots[a].score < slots[b].score) return 1;
  if (slots[a].endposition != slots[b].endposition) {
    return slots[a].endposition < slots[b].endposition ? -1 : 1;
  }
  return a < b ? -1 : (a > b ? 1 : 0);
}

template <typename Score>
void bestmatches_init(BestMatches<Score> *store, uint64_t k) {
  store->slots = nullptr;
  store->allocated = 0;
  store->k = k;
  store->count = 0;
  store->root = nullptr;
  store->worst = 0;
}

// Adds a hit without touching the matrix. Once the store is full, a hit is kept only when it
// ranks before the worst kept one (a greater score, or an equal score and a smaller end
// position, which a search in order of end position never offers), and then replaces it.
// Returns whether the hit was kept.
template <typename Score>
bool bestmatches_insert(BestMatches<Score> *store, Score score, uint64_t endposition) {
  bool created;
  if (store->count < store->k) {
    if (store->count == store->allocated) {
      constexpr uint64_t firstslots = 64;
      const uint64_t grown = std::max(firstslots, store->allocated * 2);
      store->allocated = std::min(store->k, grown);
      store->slots = allocorexit<BestMatch<Score>>(store->slots, store->allocated);
    }
    const uint64_t slot = store->count++;
    store->slots[slot] = {score, endposition};
    rbinsert(slot, &created, &store->root, bestmatches_compare<Score>, store->slots);
  } else {
    const BestMatch<Score> &worst = store->slots[store->worst];
    if (!(score > worst.score) && !(score == worst.score && endposition < worst.endposition)) {
      return false;
    }
    rbdelete(store->worst, &store->root, bestmatches_compare<Score>, store->slots);
    store->slots[store->worst] = {score, endposition};
    rbinsert(store->worst, &created, &store->root, bestmatches_compare<Score>, store->slots);
  }
  if (store->count == store->k) store->worst = rbmaximum(store->root);
  return true;
}

// Once the store is full and the worst kept score exceeds the matrix's threshold, raises the
// threshold to it and recomputes the intermediate thresholds. Returns 1 when it raised them.
template <typename Score>
int bestmatches_raise(const BestMatches<Score> *store, ScoringMatrix *matrix) {
  if (store->count < store->k) return 0;
  const Score worstscore = store->slots[store->worst].score;
  if (worstscore > scoreof<Score>(matrix->threshold)) {
    scoreof<Score>(matrix->threshold) = worstscore;
    matrix_set_intermediate_thresholds_templ<Score>(matrix);
    return 1;
  }
  return 0;
}

// Offers a hit: inserts it and, when it was kept, raises the threshold as far as the store
// allows. Returns 1 when the threshold was raised, otherwise 0.
template <typename Score>
int bestmatches_offer(BestMatches<Score> *store, Score score, uint64_t endposition,
                      ScoringMatrix *matrix) {
  if (!bestmatches_insert(store, score, endposition)) return 0;
  return bestmatches_raise(store, matrix);
}

// Hands every kept hit to report, best first, in match (whose fixed fields are set).
// Returns 0, or -1 with the error code set when report answered non-zero.
template <typename Score>
int bestmatches_report(const BestMatches<Score> *store, Match *match, ReportFunction report) {
  if (store->count == 0) return 0;
  struct Walk {
    const BestMatches<Score> *store;
    Match *match;
    ReportFunction report;
  } walk = {store, match, report};
  auto visit = [](uint64_t slot, RBVisit kind, uint64_t, void *context) -> int {
    if (kind != RB_POSTORDER && kind != RB_LEAF) return 0;
    Walk *w = static_cast<Walk *>(context);
    scoreof<Score>(w->match->score) = w->store->slots[slot].score;
    w->match->endposition = w->store->slots[slot].endposition;
    return w->report(w->match) != 0 ? 1 : 0;
  };
  if (rbwalk(store->root, visit, &walk) != 0) {
    seterrorcode(1);
    return -1;
  }
  return 0;
}

template <typename Score>
void bestmatches_free(BestMatches<Score> *store) {
  rbdestroy(&store->root);
  freeandnull(store->slots);
  store->allocated = 0;
  store->count = 0;
}

// ---------------------------------------------------------------------------------------
// Engines

template <typename Score>
int lookaheadsearch_templ(const Multiseq *multiseq, const ScoringMatrix *matrix,
                          const SequenceRange *range, ReportFunction report,
                          SearchJob *userdata) {
  Match match;
  initmatch(&match, multiseq, matrix, userdata);
  return lookahead_scan<Score>(multiseq, matrix, range, [&](Score score, uint64_t endposition) {
    scoreof<Score>(match.score) = score;
    match.endposition = endposition;
    return report(&match) != 0 ? -1 : 0;
  });
}

template <typename Score>
int lookaheadsearch_kbest_templ(const Multiseq *multiseq, ScoringMatrix *matrix,
                                const SequenceRange *range, uint64_t k, ReportFunction report,
                                SearchJob *userdata) {
  if (k == 0) return reporterror("Searching for zero best matches doesn't make any sense.");
  BestMatches<Score> store;
  bestmatches_init(&store, k);
  int result = lookahead_scan<Score>(multiseq, matrix, range, [&](Score score, uint64_t endposition) {
    return bestmatches_offer<Score>(&store, score, endposition, matrix);
  });
  if (result == 0) {
    Match match;
    initmatch(&match, multiseq, matrix, userdata);
    result = bestmatches_report(&store, &match, report);
  }
  bestmatches_free(&store);
  return result;
}
