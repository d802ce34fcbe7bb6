// Many lookahead searches over one Multiseq at once: the plan (q-gram table or filtered scan
// for each matrix), the parts and blocks over the database, the q-gram sweep, and the hits
// kept for each matrix until they are reported.
//
// Q-gram table. For an alphabet of at most four regular codes, every q-gram of QGRAM_LENGTH
// regular codes has an index of two bits per code. A matrix takes one stretch of
// QGRAM_LENGTH consecutive rows (the one that rejects most q-grams); a window can only reach
// the threshold when the score of its q-gram on those rows plus the best of all other rows
// does, so the table lists the matrix under exactly the q-grams that pass this test. The
// sweep reads the database once, looks every q-gram up, and sends each window that a listed
// matrix may match through the exact test of the lookahead search. A window that holds a
// code outside the regular ones at the q-gram is never listed, which is right only for a
// matrix whose exact test rejects every window holding such a code: the cells of those
// codes are forbidden and the intermediate thresholds reject forbidden cells.
//
// A matrix shorter than a q-gram takes the q-gram that starts with its window, the rows
// beyond its end counting 0 for every regular code. The q-gram of such a window may then
// hold a code outside the regular ones after the window, or run past the end of the
// sequences searched, where the table does not see it: the sweep tests those windows at
// every such code, and at the end.
//
// The plan takes a matrix into the table when the share of q-grams that list it, times the
// cost of testing a listed window, stays below the cost of its filtered scan per window.
//
// Contents: records; hit lists; q-gram bounds; filtered scans; group tables and tests; plan
// helpers; sweep; interface (plan, parts, reports).
#include "matching/lookahead_batch.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <vector>

#include "matching/match_lookaheadsearch.templ.hpp"

namespace {

constexpr uint64_t BATCH_BLOCK = UINT64_C(1) << 18;  // positions searched by all at once
constexpr uint64_t QGRAM_CODEBITS = 2;
constexpr uint64_t QGRAM_LENGTH = QGRAMPASS_LENGTH;
static_assert(QGRAM_LENGTH == 8 && QGRAM_CODEBITS == 2, "q-gram pass: eight codes of two bits");
constexpr uint64_t QGRAM_HALF = QGRAM_LENGTH / 2;
constexpr uint64_t QGRAM_HALFCOUNT = UINT64_C(1) << (QGRAM_CODEBITS * QGRAM_HALF);
constexpr uint64_t QGRAM_COUNT = QGRAM_HALFCOUNT * QGRAM_HALFCOUNT;
constexpr uint64_t GROUP_ROWS = 4;                // rows of a member's group table
constexpr uint64_t GROUP_MAXWORDS = 8;            // groups cover at most 64 rows
constexpr uint64_t TABLE_MAXROWS = 511;           // longest matrix the table takes
constexpr uint64_t CANDIDATES = 4096;             // windows listed before they are tested
constexpr uint64_t SWEEP_CHUNK = 4096;            // q-gram starts passed at once

// Estimated costs, in processor cycles (measured on the fly upstream regions): one window that
// the table lists (listing, group tables and now and then the exact test), and the filtered
// scan per window, with the byte pass (per window and per row) and with the tables alone.
constexpr double COST_CANDIDATE = 80.0;
constexpr double COST_BYTEROW = 0.03;
constexpr double COST_BYTEWINDOW = 0.08;
constexpr double COST_TABLEFILTER = 3.0;

// ---------------------------------------------------------------------------------------
// Records

// The hits of one matrix in one part: the starts of their windows, counted from base, which
// lies before the part's start by the longest offset of a q-gram in a matrix (parts are
// shorter than 2^32 positions by more). Their scores are computed again when they are
// reported, which costs less than keeping them.
struct HitList {
  uint32_t *starts;
  uint64_t count, allocated;
  uint64_t base;
};
constexpr uint64_t PART_MAXLENGTH = (UINT64_C(1) << 32) - 1024;
// A long database is cut into parts that shrink toward its end, each a share of what is left
// (1 / (PART_SHARE * workers)) but no shorter than PART_MINLENGTH, so that threads that each
// take the next part when done with one finish close together even when one of them runs
// slower; their number grows only with the logarithm of the length, since every part holds
// a hit list per matrix.
constexpr uint64_t PART_SHARE = 4;
constexpr uint64_t PART_MINLENGTH = UINT64_C(1) << 18;

// The starts of the parts of [from, end), and end: at least parts parts of equal length, or,
// when that gives more, the shrinking parts above.
std::vector<uint64_t> cutparts(uint64_t from, uint64_t end, uint64_t parts, uint64_t workers) {
  const uint64_t length = end - from;
  std::vector<uint64_t> starts{from};
  for (uint64_t at = from; at < end;) {
    const uint64_t left = end - at;
    const uint64_t share = (left + PART_SHARE * workers - 1) / (PART_SHARE * workers);
    at += std::min({left, std::max(share, PART_MINLENGTH), PART_MAXLENGTH});
    starts.push_back(at);
  }
  if (starts.size() - 1 >= std::max<uint64_t>(parts, 1)) return starts;
  starts.resize(parts + 1);
  for (uint64_t p = 0; p <= parts; p++)
    starts[p] = from + static_cast<uint64_t>(static_cast<unsigned __int128>(length) * p / parts);
  return starts;
}

enum SlotKind : int {
  SLOT_NONE,   // not searched here (invalid score type)
  SLOT_EMPTY,  // no window fits: no hits
  SLOT_TABLE,  // windows listed by the q-gram table
  SLOT_SCAN,   // the filtered scan, block by block
};

struct Scratch;
struct Slot;
// Scans the windows starting from `from` to `to - 1` into list.
using SlotScan = void (*)(const Slot *slot, const Multiseq *multiseq, uint64_t from,
                          uint64_t to, Scratch *scratch, HitList *list,
                          std::atomic<uint64_t> *bytes);
using SlotRelease = void (*)(Slot *slot);

struct Slot {
  const ScoringMatrix *matrix;
  SlotKind kind;
  uint64_t to;      // windows start below this
  uint64_t offset;  // SLOT_TABLE: the first row of the matrix's q-gram
  void *filter;     // SLOT_SCAN: its LookaheadFilter, or null for the plain scan
  SlotScan scan;
  SlotRelease release;
  HitList *lists;   // one per part
  std::atomic<bool> givenup;
};

// Scratch of one thread: for the filtered scans, sized for the longest matrix; for the sweep,
// the windows listed and not yet tested.
struct Scratch {
  uint16_t *packs;
  uint32_t *survivors;
  int64_t *partials;  // room for FILTER_BLOCK entries of any entry type
  uint32_t *members;  // CANDIDATES windows: member and start
  uint64_t *starts;
  uint64_t *sorted;   // their starts in order of member
  uint32_t *ends;     // one more than the members of the table
  uint32_t *qgrams;   // SWEEP_CHUNK starts listed by the q-gram pass
};

// A matrix of the q-gram table with what the sweep needs to test its windows cheaply before
// the exact test: the window's codes are read eight at a time, and each run of GROUP_ROWS
// rows is scored through a table indexed by their codes (two bits each, the first lowest),
// whose entry is the rows' sum as a float (rows beyond m count 0; a forbidden cell gives
// GROUP_FORBIDDEN). A window whose table sum stays below least cannot pass the exact test:
// least lies below the threshold by the rounding of the entries, of their sum and of the
// exact test's own sum.
struct Member {
  uint64_t number;  // the slot
  uint64_t offset;  // first row of the q-gram
  uint64_t to;      // windows start below this
  uint64_t m;
  ScoreType type;
  uint64_t groups;  // 0 for a matrix of more than GROUP_MAXWORDS * 8 rows: exact test alone
  double least;
  float *tables;    // groups tables of 256 entries
};

constexpr float GROUP_FORBIDDEN = -1e30f;

struct QgramTable {
  uint64_t regular;                // codes below this are indexed
  std::vector<uint64_t> present;   // one bit per q-gram: some matrix listed
  std::vector<uint32_t> heads;     // QGRAM_COUNT + 1 starts into numbers
  std::vector<uint32_t> numbers;   // the members listed, q-gram after q-gram
  std::vector<Member> members;
  std::vector<uint32_t> shortmembers;  // those shorter than a q-gram
  uint64_t shortest;                   // their least length (QGRAM_LENGTH when none)
};

// The parts of a matrix that the q-gram table looks at, as doubles: the cells of the regular
// codes (forbidden cells as minus infinity), each row's best, and the least score a window
// must reach in real arithmetic to reach the threshold in the score type.
struct QgramRows {
  uint64_t m = 0, regular = 0;
  double absbound = 0.0, threshold = 0.0;
  uint64_t qrows = 0;          // m, or QGRAM_LENGTH for a shorter matrix
  std::vector<double> cells;   // qrows rows of regular entries, 0 beyond row m
  std::vector<double> best;    // per row
  double least = 0.0;
};

}  // namespace

struct LookaheadBatch {
  const Multiseq *multiseq;
  uint64_t from, end;  // the positions of the sequences searched: [from, end)
  std::vector<const ScoringMatrix *> matrices;
  std::unique_ptr<Slot[]> slots;
  uint64_t parts, workers;
  std::vector<uint64_t> partstarts;  // parts + 1 positions
  std::vector<Scratch> scratches;    // one per worker
  uint64_t maxm;
  QgramTable table;
  BatchRoute route;
  std::vector<QgramRows> rows;  // while planning: the table's view of each matrix it takes
  bool withtable;
  QgramPass qgrampass;
  uint64_t budget;
  std::atomic<uint64_t> bytes;  // held by all hit lists
  std::atomic<uint64_t> peak;   // the most they held, as the parts ended
};

namespace {

// ---------------------------------------------------------------------------------------
// Hit lists

void hits_append(HitList *list, uint64_t start, std::atomic<uint64_t> *bytes) {
  if (list->count == list->allocated) {
    const uint64_t grown = std::max<uint64_t>(64, list->allocated + list->allocated / 2);
    list->starts = allocorexit<uint32_t>(list->starts, grown);
    bytes->fetch_add((grown - list->allocated) * sizeof(uint32_t), std::memory_order_relaxed);
    list->allocated = grown;
  }
  list->starts[list->count++] = static_cast<uint32_t>(start - list->base);
}

void hits_free(HitList *list, std::atomic<uint64_t> *bytes) {
  if (list->starts == nullptr) return;
  bytes->fetch_sub(list->allocated * sizeof(uint32_t), std::memory_order_relaxed);
  freeandnull(list->starts);
  list->count = list->allocated = 0;
}

// ---------------------------------------------------------------------------------------
// Q-gram bounds


// Fills rows for matrix when the q-gram table can take it (see the file comment), with
// regular codes of the database's alphabet. Integer sums must be exact in double precision;
// float sums of the exact test may lie below the real sum by the rounding margin of the
// filter.
template <typename Score>
bool qgram_rows(const ScoringMatrix *matrix, uint64_t regular, QgramRows *rows) {
  const uint64_t m = matrix->m, columns = matrix_columns(matrix);
  if (m == 0 || m > TABLE_MAXROWS || columns != regular + 1) return false;
  if (!filter_forbidsafe<Score>(matrix, columns)) return false;
  rows->m = m;
  rows->regular = regular;
  rows->qrows = std::max(m, QGRAM_LENGTH);
  rows->cells.assign(rows->qrows * regular, 0.0);
  rows->best.assign(rows->qrows, 0.0);
  for (uint64_t j = 0; j < m; j++) rows->best[j] = -HUGE_VAL;
  double absbound = 0.0;
  for (uint64_t j = 0; j < m; j++) {
    if (!ScoreTraits<Score>::forbidden(matrix_cell<Score>(matrix, j, columns - 1))) return false;
    double rowbound = 0.0;
    for (uint64_t c = 0; c < regular; c++) {
      const Score s = matrix_cell<Score>(matrix, j, c);
      double value = -HUGE_VAL;
      if (!ScoreTraits<Score>::forbidden(s)) {
        value = static_cast<double>(s);
        if (!(std::fabs(value) <= 1e30)) return false;
        rowbound = std::max(rowbound, std::fabs(value));
        rows->best[j] = std::max(rows->best[j], value);
      }
      rows->cells[j * regular + c] = value;
    }
    absbound += rowbound;
  }
  const double threshold = static_cast<double>(scoreof<Score>(matrix->threshold));
  rows->absbound = absbound;
  rows->threshold = threshold;
  if constexpr (std::is_integral_v<Score>) {
    if (!(absbound < 0x1p50) || !(std::fabs(threshold) < 0x1p52)) return false;
    rows->least = threshold;
  } else {
    if (!(absbound <= 1e25) || !(std::fabs(threshold) <= 1e25)) return false;
    const double scale = absbound + std::fabs(threshold);
    rows->least = threshold - 2.0 * static_cast<double>(m + 4) * std::ldexp(scale, -24) -
                  1e-9 * scale;
  }
  return true;
}

// The scores of the QGRAM_HALF rows from first on for every half q-gram (minus infinity
// when a code is not regular or a cell is forbidden).
void halfscores(const QgramRows &rows, uint64_t first, std::vector<double> *scores) {
  scores->assign(QGRAM_HALFCOUNT, 0.0);
  const uint64_t mask = (UINT64_C(1) << QGRAM_CODEBITS) - 1;
  for (uint64_t half = 0; half < QGRAM_HALFCOUNT; half++) {
    double sum = 0.0;
    for (uint64_t t = 0; t < QGRAM_HALF; t++) {
      const uint64_t code = (half >> (QGRAM_CODEBITS * (QGRAM_HALF - 1 - t))) & mask;
      sum += code < rows.regular ? rows.cells[(first + t) * rows.regular + code] : -HUGE_VAL;
    }
    (*scores)[half] = sum;
  }
}

// What a q-gram on the rows from offset on must score at least.
double qgram_cut(const QgramRows &rows, uint64_t offset) {
  double rest = 0.0;
  for (uint64_t j = 0; j < rows.qrows; j++) {
    if (j < offset || j >= offset + QGRAM_LENGTH) rest += rows.best[j];
  }
  return rows.least - rest;  // plus infinity when some other row allows no code
}

// Number of q-grams on the rows from offset on that reach the cut.
uint64_t qgram_count(const QgramRows &rows, uint64_t offset) {
  const double cut = qgram_cut(rows, offset);
  std::vector<double> left, right;
  halfscores(rows, offset, &left);
  halfscores(rows, offset + QGRAM_HALF, &right);
  std::sort(right.begin(), right.end());
  uint64_t count = 0;
  for (const double a : left) {
    if (a == -HUGE_VAL) continue;
    count += static_cast<uint64_t>(right.end() -
                                   std::lower_bound(right.begin(), right.end(), cut - a));
  }
  return count;
}

// Calls list(index) for every q-gram on the rows from offset on that reaches the cut.
template <typename List>
void qgram_enumerate(const QgramRows &rows, uint64_t offset, List &&list) {
  const double cut = qgram_cut(rows, offset);
  std::vector<double> left, right;
  halfscores(rows, offset, &left);
  halfscores(rows, offset + QGRAM_HALF, &right);
  std::vector<uint32_t> order(QGRAM_HALFCOUNT);
  for (uint64_t i = 0; i < QGRAM_HALFCOUNT; i++) order[i] = static_cast<uint32_t>(i);
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return right[a] > right[b]; });
  for (uint64_t a = 0; a < QGRAM_HALFCOUNT; a++) {
    if (left[a] == -HUGE_VAL) continue;
    for (const uint32_t b : order) {
      if (!(left[a] + right[b] >= cut)) break;
      list(a * QGRAM_HALFCOUNT + b);
    }
  }
}

// The offset whose q-grams pass least often, among the few whose rows spread their scores
// most (counting is dear), and the share of all q-grams that pass there.
void qgram_bestoffset(const QgramRows &rows, uint64_t *ret_offset, double *ret_density) {
  constexpr uint64_t COUNTED = 3;
  // Spread of a row: its best minus the mean of its allowed cells (a forbidden cell counts
  // as the row's least allowed one less the spread).
  std::vector<double> spread(rows.qrows, 0.0);
  for (uint64_t j = 0; j < rows.m; j++) {
    double low = HUGE_VAL, sum = 0.0;
    uint64_t allowed = 0;
    for (uint64_t c = 0; c < rows.regular; c++) {
      const double cell = rows.cells[j * rows.regular + c];
      if (cell == -HUGE_VAL) continue;
      low = std::min(low, cell);
      sum += cell;
      allowed++;
    }
    if (allowed == 0) continue;
    const double mean = (sum + static_cast<double>(rows.regular - allowed) * low) /
                        static_cast<double>(rows.regular);
    spread[j] = rows.best[j] - mean + static_cast<double>(rows.regular - allowed) * (rows.best[j] - low + 1.0);
  }
  std::vector<std::pair<double, uint64_t>> candidates;
  for (uint64_t offset = 0; offset + QGRAM_LENGTH <= rows.qrows; offset++) {
    double total = 0.0;
    for (uint64_t j = offset; j < offset + QGRAM_LENGTH; j++) total += spread[j];
    candidates.push_back({-total, offset});
  }
  const uint64_t counted = std::min<uint64_t>(COUNTED, candidates.size());
  std::partial_sort(candidates.begin(), candidates.begin() + counted, candidates.end());
  uint64_t best = 0, bestcount = UINT64_MAX;
  for (uint64_t k = 0; k < counted; k++) {
    const uint64_t offset = candidates[k].second;
    const uint64_t count = qgram_count(rows, offset);
    if (count < bestcount || (count == bestcount && offset < best)) {
      best = offset;
      bestcount = count;
    }
  }
  *ret_offset = best;
  *ret_density = static_cast<double>(bestcount) / static_cast<double>(QGRAM_COUNT);
}

// ---------------------------------------------------------------------------------------
// Filtered scans of one slot

template <typename Score, typename Entry>
void scan_filtered(const Slot *slot, const Multiseq *multiseq, uint64_t from, uint64_t to,
                   Scratch *scratch, HitList *list, std::atomic<uint64_t> *bytes) {
  // The slot's filter, with this part's scratch.
  LookaheadFilter<Score, Entry> view = *static_cast<const LookaheadFilter<Score, Entry> *>(slot->filter);
  view.packs = scratch->packs;
  view.survivors = scratch->survivors;
  view.partials = reinterpret_cast<Entry *>(scratch->partials);
  const uint64_t m = slot->matrix->m;
  lookahead_scan_windows(multiseq, slot->matrix, &view, from, to,
                         [&](Score, uint64_t endposition) {
    hits_append(list, endposition + 1 - m, bytes);
    return 0;
  });
}

template <typename Score>
void scan_plain(const Slot *slot, const Multiseq *multiseq, uint64_t from, uint64_t to,
                Scratch *, HitList *list, std::atomic<uint64_t> *bytes) {
  const uint64_t m = slot->matrix->m;
  lookahead_scan_plain<Score>(multiseq, slot->matrix, from, to,
                              [&](Score, uint64_t endposition) {
    hits_append(list, endposition + 1 - m, bytes);
    return 0;
  });
}

template <typename Score, typename Entry>
void release_filter(Slot *slot) {
  auto *filter = static_cast<LookaheadFilter<Score, Entry> *>(slot->filter);
  filter_free(filter);
  delete filter;
  slot->filter = nullptr;
}

// The estimated cost per window of the filtered scan of matrix: with the byte pass where the
// filter will have one (filter_init), otherwise the tables of the filter.
double scancost(const ScoringMatrix *matrix) {
  const uint64_t columns = matrix_columns(matrix);
  const bool bytepass = columns - 1 <= BYTEPASS_WIDECODES && matrix->m < 200 &&
                        bytepass_for(firstpass_level(), columns - 1 > BYTEPASS_CODES) != nullptr;
  if (bytepass) return COST_BYTEWINDOW + COST_BYTEROW * static_cast<double>(matrix->m);
  return COST_TABLEFILTER;
}

// Gives slot its filtered scan: the filter of the entry type that suits the matrix, or the
// plain exact test.
template <typename Score>
void plan_scan(Slot *slot) {
  const ScoringMatrix *matrix = slot->matrix;
  const uint64_t limit = std::min<uint64_t>(matrix_columns(matrix), WILDCARDCODE);
  auto usefilter = [&](auto *filter, auto scan, auto release) {
    slot->filter = filter;
    slot->scan = scan;
    slot->release = release;
  };
  if constexpr (std::is_integral_v<Score>) {
    auto *narrow = new LookaheadFilter<Score, int32_t>{};
    if (filter_init(narrow, matrix, limit, false)) {
      return usefilter(narrow, scan_filtered<Score, int32_t>, release_filter<Score, int32_t>);
    }
    delete narrow;
    auto *wide = new LookaheadFilter<Score, int64_t>{};
    if (filter_init(wide, matrix, limit, false)) {
      return usefilter(wide, scan_filtered<Score, int64_t>, release_filter<Score, int64_t>);
    }
    delete wide;
  } else {
    auto *single = new LookaheadFilter<Score, float>{};
    if (filter_init(single, matrix, limit, false)) {
      return usefilter(single, scan_filtered<Score, float>, release_filter<Score, float>);
    }
    delete single;
  }
  slot->filter = nullptr;
  slot->scan = scan_plain<Score>;
  slot->release = nullptr;
}

// The group tables of a member (see Member) from its rows.
void member_tables(Member *member, const QgramRows &rows) {
  const uint64_t m = rows.m;
  member->groups = m <= GROUP_MAXWORDS * 8 ? (m + GROUP_ROWS - 1) / GROUP_ROWS : 0;
  member->tables = member->groups == 0 ? nullptr : allocorexit<float>(nullptr, member->groups * 256);
  for (uint64_t g = 0; g < member->groups; g++) {
    for (uint64_t index = 0; index < 256; index++) {
      double sum = 0.0;
      for (uint64_t t = 0; t < GROUP_ROWS && g * GROUP_ROWS + t < m; t++) {
        const uint64_t code = (index >> (2 * t)) & 3;
        sum += code < rows.regular ? rows.cells[(g * GROUP_ROWS + t) * rows.regular + code] : -HUGE_VAL;
      }
      member->tables[g * 256 + index] = sum == -HUGE_VAL ? GROUP_FORBIDDEN : static_cast<float>(sum);
    }
  }
  const double scale = rows.absbound + std::fabs(rows.threshold);
  member->least = rows.least - 4.0 * static_cast<double>(member->groups + 1) * std::ldexp(scale, -24);
}

// Codes of the eight bytes of word (the first lowest), two bits each: bits 2t and 2t + 1
// hold the low two bits of byte t.
inline uint64_t twobitcodes(uint64_t word) {
  uint64_t x = word & UINT64_C(0x0303030303030303);
  x = (x | (x >> 6)) & UINT64_C(0x000F000F000F000F);
  x = (x | (x >> 12)) & UINT64_C(0x000000FF000000FF);
  return (x | (x >> 24)) & UINT64_C(0xFFFF);
}

// Whether the window of member starting at n may pass the exact test by its group tables:
// false when one of its codes is not regular or the table sum stays below least. Reads whole
// words; the caller makes sure that they lie within the sequence.
inline bool member_maypass(const Member &member, const unsigned char *window, uint64_t regular) {
  const uint64_t ones = UINT64_C(0x0101010101010101);
  const uint64_t add = (128 - regular) * ones, tops = ones * 0x80;
  const float *tables = member.tables;
  float sums[2] = {0.0f, 0.0f};
  uint64_t row = 0;
  for (uint64_t g = 0; g < member.groups; g += 2, row += 8) {
    uint64_t word;
    std::memcpy(&word, window + row, sizeof word);
    // A byte of at least regular sets its top bit; a carry out of a byte of 128 or more can
    // only reach the bytes after it.
    uint64_t outside = ((word + add) | word) & tops;
    if (member.m - row < 8) outside &= (UINT64_C(1) << (8 * (member.m - row))) - 1;
    if (outside != 0) return false;
    const uint64_t codes = twobitcodes(word);
    sums[0] += tables[g * 256 + (codes & 0xFF)];
    if (g + 1 < member.groups) sums[1] += tables[(g + 1) * 256 + (codes >> 8)];
  }
  return static_cast<double>(sums[0] + sums[1]) >= member.least;
}

// Tests the window of member starting at n: by the group tables where the words that they
// read lie within the sequence, then by the exact test of the lookahead search; a hit goes
// into list.
template <typename Score>
void member_test(const Member &member, const ScoringMatrix *matrix, const unsigned char *sequence,
                 uint64_t total, uint64_t regular, uint64_t n, HitList *list,
                 std::atomic<uint64_t> *bytes) {
  const unsigned char *window = sequence + n;
  const uint64_t m = member.m;
  if (member.groups != 0 && n + 4 * member.groups + 8 <= total &&
      !member_maypass(member, window, regular)) {
    return;
  }
  const uint64_t limit = std::min<uint64_t>(matrix_columns(matrix), WILDCARDCODE);
  Score score;
  if (!lookahead_window<Score>(window, matrix_scores<Score>(matrix), matrix->rowoffsets,
                               matrix_intermediate<Score>(matrix), m, limit, &score)) {
    return;
  }
  if (!(scoreof<Score>(matrix->threshold) <= score)) return;
  hits_append(list, n, bytes);
}

// ---------------------------------------------------------------------------------------
// Plan

// Whether matrix may go into the table, with its rows when it may.
bool table_rows(const ScoringMatrix *matrix, uint64_t regular, QgramRows *rows) {
  if (matrix->scoretype == SCORE_INTEGER) return qgram_rows<int64_t>(matrix, regular, rows);
  return qgram_rows<float>(matrix, regular, rows);
}

void build_table(LookaheadBatch *batch, const std::vector<QgramRows> &rows,
                 const std::vector<uint64_t> &numbers) {
  QgramTable &table = batch->table;
  table.members.resize(numbers.size());
  for (uint64_t k = 0; k < numbers.size(); k++) {
    const Slot &slot = batch->slots[numbers[k]];
    Member &member = table.members[k];
    member.number = numbers[k];
    member.offset = slot.offset;
    member.to = slot.to;
    member.m = slot.matrix->m;
    member.type = slot.matrix->scoretype;
    member_tables(&member, rows[k]);
  }
  table.shortest = QGRAM_LENGTH;
  for (uint64_t k = 0; k < numbers.size(); k++) {
    if (table.members[k].m >= QGRAM_LENGTH) continue;
    table.shortmembers.push_back(static_cast<uint32_t>(k));
    table.shortest = std::min(table.shortest, table.members[k].m);
  }
  std::vector<uint32_t> counts(QGRAM_COUNT + 1, 0);
  for (uint64_t k = 0; k < numbers.size(); k++) {
    qgram_enumerate(rows[k], table.members[k].offset, [&](uint64_t index) { counts[index]++; });
  }
  table.heads.assign(QGRAM_COUNT + 1, 0);
  for (uint64_t index = 0; index < QGRAM_COUNT; index++) {
    table.heads[index + 1] = table.heads[index] + counts[index];
  }
  table.numbers.assign(table.heads[QGRAM_COUNT], 0);
  table.present.assign(QGRAM_COUNT / 64, 0);
  std::vector<uint32_t> fill(table.heads.begin(), table.heads.end() - 1);
  for (uint64_t k = 0; k < numbers.size(); k++) {
    qgram_enumerate(rows[k], table.members[k].offset, [&](uint64_t index) {
      table.numbers[fill[index]++] = static_cast<uint32_t>(k);
      table.present[index / 64] |= UINT64_C(1) << (index % 64);
    });
  }
}

// ---------------------------------------------------------------------------------------
// Sweep and scans

// Tests the windows listed in scratch into the lists of part.
//
// The windows are first put in order of their member (keeping their order within a member),
// so that the tests of one member follow each other and their branches are foreseeable.
void testlisted(LookaheadBatch *batch, uint64_t part, Scratch *scratch, uint64_t listed) {
  if (listed == 0) return;
  const QgramTable &table = batch->table;
  const uint64_t count = table.members.size();
  uint32_t *ends = scratch->ends;
  std::fill(ends, ends + count + 1, 0);
  for (uint64_t i = 0; i < listed; i++) ends[scratch->members[i] + 1]++;
  for (uint64_t k = 0; k < count; k++) ends[k + 1] += ends[k];
  for (uint64_t i = 0; i < listed; i++) scratch->sorted[ends[scratch->members[i]]++] = scratch->starts[i];
  // Now ends[k] is where the windows of member k end.
  const unsigned char *sequence = batch->multiseq->sequence;
  const uint64_t total = batch->multiseq->totallength;
  uint64_t begin = 0;
  for (uint64_t k = 0; k < count && begin < listed; k++) {
    const uint64_t end = ends[k];
    if (end == begin) continue;
    const Member &member = table.members[k];
    const Slot &slot = batch->slots[member.number];
    HitList *list = &slot.lists[part];
    if (!slot.givenup.load(std::memory_order_relaxed)) {
      for (uint64_t i = begin; i < end; i++) {
        if (member.type == SCORE_INTEGER) {
          member_test<int64_t>(member, slot.matrix, sequence, total, table.regular,
                               scratch->sorted[i], list, &batch->bytes);
        } else {
          member_test<float>(member, slot.matrix, sequence, total, table.regular,
                             scratch->sorted[i], list, &batch->bytes);
        }
      }
    }
    begin = end;
  }
}

// Lists the window of member number starting at n for the exact tests, testing the list
// first when it is full.
inline void listcandidate(LookaheadBatch *batch, uint64_t part, Scratch *scratch,
                          uint64_t *listed, uint32_t number, uint64_t n) {
  if (*listed == CANDIDATES) {
    testlisted(batch, part, scratch, *listed);
    *listed = 0;
  }
  scratch->members[*listed] = number;
  scratch->starts[*listed] = n;
  (*listed)++;
}

// The q-gram sweep over the q-grams starting from first to last - 1 (last + QGRAM_LENGTH - 1
// at most the end of the sequences searched), into the lists of part. The q-gram pass lists
// the starts whose q-gram some member may match, chunk by chunk; the windows that the table
// lists for them are gathered and tested together, in the order of their q-grams, which for
// each matrix is the order of the windows. At a code outside the regular ones, the windows of
// the short members whose q-gram holds it are gathered too, in their place: a q-gram counts
// where its last code is, among the codes outside.
void sweep(LookaheadBatch *batch, uint64_t part, Scratch *scratch, uint64_t first,
           uint64_t last) {
  const QgramTable &table = batch->table;
  const unsigned char *sequence = batch->multiseq->sequence;
  const uint64_t regular = table.regular;
  const uint64_t *present = table.present.data();
  const uint32_t *heads = table.heads.data();
  const uint32_t *numbers = table.numbers.data();
  const Member *members = table.members.data();
  const uint64_t from = batch->from;
  const uint64_t shortest = table.shortest;
  const uint64_t codeend = last + QGRAM_LENGTH - 1;  // codes read: first to codeend - 1
  uint64_t listed = 0;
  auto list = [&](uint32_t number, uint64_t n) {
    listcandidate(batch, part, scratch, &listed, number, n);
  };
  // Codes outside the regular ones, in order; runstart is where the run of regular codes
  // before the next one starts.
  uint64_t runstart = first;
  uint64_t outside = firstatleast(sequence, first, codeend, regular);
  auto passoutside = [&](uint64_t before) {
    for (; outside < before; outside = firstatleast(sequence, outside + 1, codeend, regular)) {
      const uint64_t x = outside, run = x - runstart;
      runstart = x + 1;
      // Windows from x - QGRAM_LENGTH + 1 on whose q-gram holds x: those that end before x,
      // lie after the code outside before and start in this sweep.
      if (run < shortest) continue;
      const uint64_t low = x - std::min(run, QGRAM_LENGTH - 1);
      for (const uint32_t number : table.shortmembers) {
        const Member &member = members[number];
        for (uint64_t n = low; n + member.m <= x && n < last; n++) list(number, n);
      }
    }
  };
  for (uint64_t chunk = first; chunk < last; chunk += SWEEP_CHUNK) {
    const uint64_t count = std::min(last - chunk, SWEEP_CHUNK);
    const uint64_t hits = batch->qgrampass(sequence + chunk, count, regular, present, scratch->qgrams);
    for (uint64_t h = 0; h < hits; h++) {
      const uint64_t p = chunk + scratch->qgrams[h];
      passoutside(p + QGRAM_LENGTH - 1);
      uint64_t word;
      std::memcpy(&word, sequence + p, sizeof word);
      const uint64_t index = twobitcodes(__builtin_bswap64(word));  // the first code highest
      const uint32_t end = heads[index + 1];
      for (uint32_t k = heads[index]; k < end; k++) {
        const uint32_t number = numbers[k];
        const Member &member = members[number];
        const uint64_t n = p - member.offset;
        // Windows before the sequences searched (n wraps around) or beyond their end.
        if (p < from + member.offset || n >= member.to) continue;
        list(number, n);
      }
    }
    passoutside(chunk + count + QGRAM_LENGTH - 1);
  }
  passoutside(codeend);
  testlisted(batch, part, scratch, listed);
}

// The windows of the short members starting from first to last - 1 whose q-gram runs past
// the end of the sequences searched (first at least that end minus QGRAM_LENGTH - 1).
void sweep_end(LookaheadBatch *batch, uint64_t part, Scratch *scratch, uint64_t first,
               uint64_t last) {
  const QgramTable &table = batch->table;
  uint64_t listed = 0;
  for (const uint32_t number : table.shortmembers) {
    const Member &member = table.members[number];
    for (uint64_t n = first; n < last && n < member.to; n++) {
      listcandidate(batch, part, scratch, &listed, number, n);
    }
  }
  testlisted(batch, part, scratch, listed);
}

// Gives up the slot whose list in this part is longest when the hits exceed the budget; every
// part drops its own list of a slot given up when it next looks at it.
void keepbudget(LookaheadBatch *batch, uint64_t part) {
  const uint64_t count = batch->matrices.size();
  const uint64_t held = batch->bytes.load(std::memory_order_relaxed);
  uint64_t peak = batch->peak.load(std::memory_order_relaxed);
  while (held > peak && !batch->peak.compare_exchange_weak(peak, held)) {
  }
  for (uint64_t i = 0; i < count; i++) {
    Slot &slot = batch->slots[i];
    if (slot.lists != nullptr && slot.givenup.load(std::memory_order_relaxed)) {
      hits_free(&slot.lists[part], &batch->bytes);
    }
  }
  while (batch->bytes.load(std::memory_order_relaxed) > batch->budget) {
    uint64_t largest = count, size = 0;
    for (uint64_t i = 0; i < count; i++) {
      const Slot &slot = batch->slots[i];
      if (slot.lists == nullptr || slot.givenup.load(std::memory_order_relaxed)) continue;
      if (slot.lists[part].allocated > size) {
        largest = i;
        size = slot.lists[part].allocated;
      }
    }
    if (largest == count) break;  // the rest is held by the other parts
    batch->slots[largest].givenup.store(true, std::memory_order_relaxed);
    hits_free(&batch->slots[largest].lists[part], &batch->bytes);
  }
}

// The score of the hit whose window starts at n: the exact test's sum again.
template <typename Score>
Score hitscore(const Multiseq *multiseq, const ScoringMatrix *matrix, uint64_t n) {
  Score score = ScoreTraits<Score>::zero;
  const uint64_t limit = std::min<uint64_t>(matrix_columns(matrix), WILDCARDCODE);
  lookahead_window<Score>(multiseq->sequence + n, matrix_scores<Score>(matrix), matrix->rowoffsets,
                          matrix_intermediate<Score>(matrix), matrix->m, limit, &score);
  return score;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Interface

LookaheadBatch *lookaheadbatch_create(const Multiseq *multiseq, const SequenceRange *range) {
  const uint64_t sequences = multiseq->numofsequences;
  uint64_t first = 0, last = sequences == 0 ? 0 : sequences - 1;
  if (range != nullptr) {
    if (range->first >= sequences || range->last >= sequences) return nullptr;
    first = range->first;
    last = range->last;
  }
  auto *batch = new LookaheadBatch{};
  batch->multiseq = multiseq;
  if (sequences > 0 && first <= last) {
    batch->from = first == 0 ? 0 : multiseq->separatorpositions[first - 1] + 1;
    batch->end = last + 1 < sequences ? multiseq->separatorpositions[last] : multiseq->totallength;
  }
  batch->parts = batch->workers = 0;
  batch->budget = (UINT64_C(64) << 20) + multiseq->totallength / 2;
  batch->bytes.store(0);
  batch->peak.store(0);
  return batch;
}

uint64_t lookaheadbatch_add(LookaheadBatch *batch, const ScoringMatrix *matrix) {
  batch->matrices.push_back(matrix);
  return batch->matrices.size() - 1;
}

void lookaheadbatch_setbudget(LookaheadBatch *batch, uint64_t bytes) { batch->budget = bytes; }

uint64_t lookaheadbatch_peakbytes(const LookaheadBatch *batch) {
  return batch == nullptr ? 0 : batch->peak.load();
}

void lookaheadbatch_planstart(LookaheadBatch *batch, uint64_t parts, uint64_t workers,
                              BatchRoute route) {
  const uint64_t count = batch->matrices.size();
  batch->workers = std::max<uint64_t>(workers, 1);
  batch->partstarts = cutparts(batch->from, batch->end, parts, batch->workers);
  batch->parts = batch->partstarts.size() - 1;
  batch->route = route;
  batch->slots = std::make_unique<Slot[]>(count);
  batch->rows.assign(count, QgramRows{});
  // Codes below regular are indexed by the table: an alphabet of at most four regular codes
  // and the wildcard column, the same for all matrices.
  uint64_t regular = 0;
  if (count > 0) {
    const uint64_t columns = matrix_columns(batch->matrices[0]);
    if (columns >= 2 && columns <= (UINT64_C(1) << QGRAM_CODEBITS) + 1) regular = columns - 1;
  }
  batch->table.regular = regular;
}

void lookaheadbatch_planshare(LookaheadBatch *batch, uint64_t share, uint64_t shares) {
  const uint64_t count = batch->matrices.size();
  const uint64_t parts = batch->parts, regular = batch->table.regular;
  for (uint64_t i = share; i < count; i += shares) {
    Slot &slot = batch->slots[i];
    const ScoringMatrix *matrix = batch->matrices[i];
    slot.matrix = matrix;
    slot.givenup.store(false);
    slot.lists = nullptr;
    slot.filter = nullptr;
    slot.scan = nullptr;
    slot.release = nullptr;
    slot.offset = 0;
    if (matrix->scoretype != SCORE_INTEGER && matrix->scoretype != SCORE_FLOAT) {
      slot.kind = SLOT_NONE;
      continue;
    }
    const uint64_t m = matrix->m;
    if (m == 0 || batch->end < batch->from + m) {
      slot.kind = SLOT_EMPTY;
      slot.to = batch->from;
      continue;
    }
    slot.to = batch->end - m + 1;
    slot.lists = allocorexit<HitList>(nullptr, parts);
    for (uint64_t p = 0; p < parts; p++) slot.lists[p] = {nullptr, 0, 0, 0};
    QgramRows &rows = batch->rows[i];
    const bool fits = batch->route != BATCHROUTE_SCAN && regular > 0 &&
                      matrix_columns(matrix) == regular + 1 && table_rows(matrix, regular, &rows);
    double density = 1.0;
    if (fits) qgram_bestoffset(rows, &slot.offset, &density);
    if (fits &&
        (batch->route == BATCHROUTE_TABLE || density * COST_CANDIDATE < scancost(matrix))) {
      slot.kind = SLOT_TABLE;
    } else {
      rows = QgramRows{};
      slot.kind = SLOT_SCAN;
      if (matrix->scoretype == SCORE_INTEGER) {
        plan_scan<int64_t>(&slot);
      } else {
        plan_scan<float>(&slot);
      }
    }
  }
}

void lookaheadbatch_planfinish(LookaheadBatch *batch) {
  const uint64_t count = batch->matrices.size();
  const uint64_t parts = batch->parts;
  std::vector<QgramRows> tablerows;
  std::vector<uint64_t> tabled;
  batch->maxm = 0;
  for (uint64_t i = 0; i < count; i++) {
    const Slot &slot = batch->slots[i];
    if (slot.kind == SLOT_TABLE) {
      tablerows.push_back(std::move(batch->rows[i]));
      tabled.push_back(i);
    } else if (slot.kind == SLOT_SCAN) {
      batch->maxm = std::max(batch->maxm, slot.matrix->m);
    }
  }
  batch->rows.clear();
  batch->withtable = !tabled.empty();
  batch->qgrampass = qgrampass_for(firstpass_level());
  if (batch->withtable) build_table(batch, tablerows, tabled);

  // Where each part's hits are counted from; each worker's scratch.
  for (uint64_t i = 0; i < count; i++) {
    if (batch->slots[i].lists == nullptr) continue;
    for (uint64_t p = 0; p < parts; p++) {
      batch->slots[i].lists[p].base =
          std::max(batch->from, batch->partstarts[p] - std::min(batch->partstarts[p], TABLE_MAXROWS));
    }
  }
  batch->scratches.resize(batch->workers);
  for (Scratch &scratch : batch->scratches) {
    scratch.packs = allocorexit<uint16_t>(nullptr, FILTER_BLOCK + batch->maxm + 1);
    scratch.survivors = allocorexit<uint32_t>(nullptr, FILTER_BLOCK);
    scratch.partials = allocorexit<int64_t>(nullptr, FILTER_BLOCK);
    scratch.members = allocorexit<uint32_t>(nullptr, CANDIDATES);
    scratch.starts = allocorexit<uint64_t>(nullptr, CANDIDATES);
    scratch.sorted = allocorexit<uint64_t>(nullptr, CANDIDATES);
    scratch.ends = allocorexit<uint32_t>(nullptr, batch->table.members.size() + 1);
    scratch.qgrams = allocorexit<uint32_t>(nullptr, SWEEP_CHUNK);
  }
}

void lookaheadbatch_plan(LookaheadBatch *batch, uint64_t parts, uint64_t workers,
                         BatchRoute route) {
  lookaheadbatch_planstart(batch, parts, workers, route);
  lookaheadbatch_planshare(batch, 0, 1);
  lookaheadbatch_planfinish(batch);
}

uint64_t lookaheadbatch_parts(const LookaheadBatch *batch) { return batch->parts; }

void lookaheadbatch_runpart(LookaheadBatch *batch, uint64_t part, uint64_t worker) {
  const uint64_t count = batch->matrices.size();
  const uint64_t start = batch->partstarts[part], stop = batch->partstarts[part + 1];
  // The last q-gram start from which a q-gram fits in the sequences searched.
  const uint64_t qgramend =
      batch->end >= batch->from + QGRAM_LENGTH ? batch->end - QGRAM_LENGTH + 1 : batch->from;
  Scratch *scratch = &batch->scratches[worker];
  for (uint64_t block = start; block < stop; block += BATCH_BLOCK) {
    const uint64_t blockend = std::min(stop, block + BATCH_BLOCK);
    if (batch->withtable && block < qgramend) sweep(batch, part, scratch, block, std::min(blockend, qgramend));
    for (uint64_t i = 0; i < count; i++) {
      Slot &slot = batch->slots[i];
      if (slot.kind != SLOT_SCAN || slot.givenup.load(std::memory_order_relaxed)) continue;
      const uint64_t to = std::min(blockend, slot.to);
      if (block >= to) continue;
      slot.scan(&slot, batch->multiseq, block, to, scratch, &slot.lists[part], &batch->bytes);
    }
    keepbudget(batch, part);
  }
  const uint64_t endfirst = std::max(start, qgramend);
  if (batch->withtable && endfirst < stop) sweep_end(batch, part, scratch, endfirst, stop);
}

bool lookaheadbatch_holds(const LookaheadBatch *batch, uint64_t number) {
  const Slot &slot = batch->slots[number];
  return slot.kind != SLOT_NONE && !slot.givenup.load(std::memory_order_relaxed);
}

bool lookaheadbatch_intable(const LookaheadBatch *batch, uint64_t number) {
  return batch->slots[number].kind == SLOT_TABLE;
}

namespace {

// Reports the hits of one list with the scores lookaheadsearch reports (unless a report
// before has failed: then it only goes), and releases it: 0, or -1 when report answered
// non-zero.
int reportlist(LookaheadBatch *batch, HitList *list, const ScoringMatrix *matrix, Match *match,
               ReportFunction report, bool failed) {
  int result = failed ? -1 : 0;
  // The windows are read again to score them: fetch them ahead, since the hits of a matrix
  // lie far apart in a large database.
  constexpr uint64_t ahead = 16;
  for (uint64_t h = 0; h < std::min(ahead, list->count) && result == 0; h++) {
    __builtin_prefetch(batch->multiseq->sequence + list->base + list->starts[h]);
  }
  for (uint64_t h = 0; h < list->count && result == 0; h++) {
    if (h + ahead < list->count) {
      __builtin_prefetch(batch->multiseq->sequence + list->base + list->starts[h + ahead]);
    }
    const uint64_t n = list->base + list->starts[h];
    if (matrix->scoretype == SCORE_INTEGER) {
      scoreof<int64_t>(match->score) = hitscore<int64_t>(batch->multiseq, matrix, n);
    } else {
      scoreof<float>(match->score) = hitscore<float>(batch->multiseq, matrix, n);
    }
    match->endposition = n + matrix->m - 1;
    if (report(match) != 0) result = -1;
  }
  hits_free(list, &batch->bytes);
  return result;
}

}  // namespace

int lookaheadbatch_report(LookaheadBatch *batch, uint64_t number, const ScoringMatrix *matrix,
                          ReportFunction report, SearchJob *userdata) {
  Slot &slot = batch->slots[number];
  Match match;
  initmatch(&match, batch->multiseq, matrix, userdata);
  int result = 0;
  for (uint64_t part = 0; part < batch->parts && slot.lists != nullptr; part++) {
    result = reportlist(batch, &slot.lists[part], matrix, &match, report, result != 0);
  }
  return result;
}

int lookaheadbatch_reportpart(LookaheadBatch *batch, uint64_t part, uint64_t number,
                              const ScoringMatrix *matrix, ReportFunction report,
                              SearchJob *userdata) {
  Slot &slot = batch->slots[number];
  if (slot.lists == nullptr || part >= batch->parts) return 0;
  Match match;
  initmatch(&match, batch->multiseq, matrix, userdata);
  return reportlist(batch, &slot.lists[part], matrix, &match, report, false);
}

void lookaheadbatch_free(LookaheadBatch *batch) {
  if (batch == nullptr) return;

  const uint64_t count = batch->matrices.size();
  for (uint64_t i = 0; batch->slots != nullptr && i < count; i++) {
    Slot &slot = batch->slots[i];
    if (slot.release != nullptr) slot.release(&slot);
    if (slot.lists != nullptr) {
      for (uint64_t p = 0; p < batch->parts; p++) hits_free(&slot.lists[p], &batch->bytes);
      freeandnull(slot.lists);
    }
  }
  for (Scratch &scratch : batch->scratches) {
    freeandnull(scratch.packs);
    freeandnull(scratch.survivors);
    freeandnull(scratch.partials);
    freeandnull(scratch.members);
    freeandnull(scratch.starts);
    freeandnull(scratch.sorted);
    freeandnull(scratch.ends);
    freeandnull(scratch.qgrams);
  }
  for (Member &member : batch->table.members) freeandnull(member.tables);
  delete batch;
}
