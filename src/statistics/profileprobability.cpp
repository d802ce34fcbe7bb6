// Exact score distributions of a matrix under independent background frequencies. Scores are
// scaled to non-negative integers and the distribution of the total is built row by row. The
// complete computation fills every cell; the lazy one fills the table from the maximum
// downward and stops as soon as the threshold for a target p-value is settled.
//
// Contents: scaled rows and their order; the two probability domains; complete_distribution;
// lazy_threshold; tail_lookup, tail_threshold; freedistribution.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <optional>
#include <vector>

#include "base/error.hpp"
#include "base/mapfile.hpp"
#include "base/output.hpp"
#include "statistics/distribution.hpp"

namespace {

// log 0. A product with it (a sum of logarithms) is log 0 again, so paths through a symbol of
// frequency 0 vanish without a test, and log-sums simply leave such terms out.
constexpr double logzero = -std::numeric_limits<double>::infinity();

// A scaled row entry beyond this magnitude would give a table that no machine can hold (and
// keeps every sum of scaled scores far inside the 64-bit range).
constexpr double largestscaled = 1099511627776.0;  // 2^40

// Cells are held as plain probabilities when no path through the matrix can be less probable
// than this (log of 1e-280): no product then comes near the smallest double, and plain sums
// are as exact as log-sums and many times faster. Other matrices are computed with logarithms.
constexpr double plainpathlimit = -644.7238260383328;

// ---------------------------------------------------------------------------------------
// Scaled rows and their order

// One symbol group of a row: the symbols of equal scaled score, as the deficit below the row
// maximum, their summed frequency and its logarithm. Groups of probability 0 are not kept.
struct ScaledGroup {
  int64_t deficit;
  double prob;
  double logprob;
};

// One matrix row in scaled scores.
struct ScaledRow {
  int64_t maximum;
  int64_t minimum;
  int64_t gap;          // maximum - next smaller distinct score, 0 when all scores are equal
  ScaledGroup *groups;  // numofgroups entries in ascending deficit order
  uint64_t numofgroups;
};

// The matrix in scaled scores, rows in processing order. The total deficit of a path is the
// maximum minus its scaled total; prefixspan[k] is the largest total deficit of the first k
// rows (prefixspan[0] = 0, prefixspan[m] = maximum - minimum).
struct ScaledMatrix {
  uint64_t m;
  ScaledRow *rows;
  ScaledGroup *groupspace;
  int64_t *prefixspan;
  int64_t minimum;
  int64_t maximum;
  int64_t offset;
  double realminimum;  // sum of the unscaled row minima
  bool plain;          // cells as plain probabilities (see plainpathlimit)
};

void freescaled(ScaledMatrix *scaled) {
  freeandnull(scaled->rows);
  freeandnull(scaled->groupspace);
  freeandnull(scaled->prefixspan);
}

// Converts a double to a score, saturating at the unreachable threshold so that nothing
// derived from a degenerate table overflows; NaN becomes the upper end (no window reaches it).
int64_t toscore(double value) {
  constexpr double limit = 4611686018427387903.0;
  if (!(value < limit)) return ScoreTraits<int64_t>::plusinfinity;
  if (value <= -limit) return -ScoreTraits<int64_t>::plusinfinity;
  return static_cast<int64_t>(value);
}

int64_t scaledentry(double multiplier, float entry) {
  const double product = std::rint(multiplier * static_cast<double>(entry));
  if (!(std::fabs(product) <= largestscaled)) {
    // The table would need more memory than any allocation can give.
    allocationfailed(__FILE__, __LINE__, std::numeric_limits<size_t>::max());
  }
  return static_cast<int64_t>(product);
}

// Builds the scaled form of a float matrix: every regular (non-wildcard) symbol that the row
// does not forbid takes part. Forbidden cells stay out, as if their symbol had probability 0,
// which is what a search sees: a window placing such a symbol never scores. A frequency that
// is not positive contributes nothing.
void scalematrix(const ScoringMatrix *matrix, const double *frequencies, double multiplier,
                 ScaledMatrix *scaled) {
  const uint64_t m = matrix->m;
  const uint64_t symbols = matrix_columns(matrix) > 0 ? matrix_columns(matrix) - 1 : 0;
  for (uint64_t j = 0; j < symbols; j++) {
    if (frequencies[j] > 1.0) {
      printwarning("Error: rfrequency of symbol %ld is %f>1!\n", static_cast<long>(j),
                   frequencies[j]);
    }
  }

  float smallest = 0.0f;
  double realminimum = 0.0;
  for (uint64_t i = 0; i < m; i++) {
    bool any = false;
    float rowminimum = 0.0f;
    for (uint64_t j = 0; j < symbols; j++) {
      const float entry = matrix_cell<float>(matrix, i, j);
      if (ScoreTraits<float>::forbidden(entry)) continue;
      if (!any || entry < rowminimum) rowminimum = entry;
      any = true;
    }
    smallest = std::min(smallest, rowminimum);
    realminimum += rowminimum;
  }
  const int64_t shift = std::llabs(scaledentry(multiplier, smallest));

  scaled->m = m;
  scaled->rows = allocorexit<ScaledRow>(nullptr, m);
  scaled->groupspace = allocorexit<ScaledGroup>(nullptr, m * symbols);
  scaled->prefixspan = allocorexit<int64_t>(nullptr, m + 1);
  scaled->realminimum = realminimum;
  scaled->minimum = 0;
  scaled->maximum = 0;
  scaled->offset = static_cast<int64_t>(m) * shift;
  double leastpath = 0.0;

  for (uint64_t i = 0; i < m; i++) {
    struct Entry {
      int64_t score;
      double frequency;
    } entries[256];
    uint64_t count = 0;
    for (uint64_t j = 0; j < symbols; j++) {
      const float entry = matrix_cell<float>(matrix, i, j);
      if (ScoreTraits<float>::forbidden(entry)) continue;
      entries[count++] = {shift + scaledentry(multiplier, entry), frequencies[j]};
    }
    std::sort(entries, entries + count,
              [](const Entry &a, const Entry &b) { return a.score > b.score; });
    ScaledRow *row = scaled->rows + i;
    row->groups = scaled->groupspace + i * symbols;
    row->numofgroups = 0;
    row->gap = 0;
    if (count == 0) {
      // Every symbol is forbidden: the row scores like 0 with probability 0.
      row->maximum = row->minimum = shift;
    } else {
      row->maximum = entries[0].score;
      row->minimum = entries[count - 1].score;
    }
    double leastgroup = 0.0;
    for (uint64_t j = 0; j < count;) {
      const int64_t score = entries[j].score;
      double prob = 0.0;
      for (; j < count && entries[j].score == score; j++) {
        if (entries[j].frequency > 0.0) prob += entries[j].frequency;
      }
      if (row->gap == 0 && score < row->maximum) row->gap = row->maximum - score;
      if (prob > 0.0) {
        const double logprob = std::log(prob);
        row->groups[row->numofgroups++] = {row->maximum - score, prob, logprob};
        leastgroup = std::min(leastgroup, logprob);
      }
    }
    leastpath += leastgroup;
    scaled->minimum += row->minimum;
    scaled->maximum += row->maximum;
  }
  scaled->plain = leastpath >= plainpathlimit;

  // Rows with a large gap first: the order changes no result beyond rounding, and both
  // computations use the same one, so their cells agree to the last bit.
  std::stable_sort(scaled->rows, scaled->rows + m,
                   [](const ScaledRow &a, const ScaledRow &b) { return a.gap > b.gap; });
  scaled->prefixspan[0] = 0;
  for (uint64_t k = 0; k < m; k++) {
    scaled->prefixspan[k + 1] =
        scaled->prefixspan[k] + (scaled->rows[k].maximum - scaled->rows[k].minimum);
  }
}

// ---------------------------------------------------------------------------------------
// The two probability domains
//
// A cell of prefix k holds the probability that the first k rows (in processing order) have
// a given total deficit e: the sum over the groups of row k of (cell e - deficit of prefix
// k - 1) times the group's probability. Both computations fill cells with the same block
// routine, so every cell receives the same terms in the same order (ascending deficit) and
// lazy and complete cells agree to the last bit.
//
// A block routine fills the cells a .. b (as far as the new prefix reaches) of the prefix
// after row from the previous prefix. Each prefix is held in a window of consecutive cells:
// cell x of a prefix whose window starts at lo is window[x - lo].

// Keeps the multiply-add in one place, so that any contraction the compiler applies is the
// same for both computations.
inline void addscaled(double *target, const double *source, int64_t count, double factor) {
  for (int64_t x = 0; x < count; x++) target[x] += source[x] * factor;
}

// Plain probabilities: products and sums, group by group over the whole block.
struct PlainDomain {
  static constexpr double one = 1.0;
  static double probability(double cell) { return cell; }

  static void block(const ScaledRow *row, const double *previous, int64_t previouslo,
                    int64_t previousspan, double *current, int64_t currentlo, int64_t a,
                    int64_t b) {
    const int64_t high = std::min(b, previousspan + (row->maximum - row->minimum));
    if (a > high) return;
    std::fill(current + (a - currentlo), current + (high - currentlo) + 1, 0.0);
    for (uint64_t g = 0; g < row->numofgroups; g++) {
      const int64_t deficit = row->groups[g].deficit;
      if (high < deficit) break;
      const int64_t low = std::max<int64_t>(a - deficit, 0);
      const int64_t top = std::min(high - deficit, previousspan);
      if (low > top) continue;
      addscaled(current + (low + deficit - currentlo), previous + (low - previouslo),
                top - low + 1, row->groups[g].prob);
    }
  }
};

// Natural logarithms: products are sums; a sum of terms is its largest term plus the log of
// the summed exponentials of the differences to it.
struct LogDomain {
  static constexpr double one = 0.0;
  static double probability(double cell) { return std::exp(cell); }

  static void block(const ScaledRow *row, const double *previous, int64_t previouslo,
                    int64_t previousspan, double *current, int64_t currentlo, int64_t a,
                    int64_t b) {
    const int64_t high = std::min(b, previousspan + (row->maximum - row->minimum));
    double terms[256];
    for (int64_t e = a; e <= high; e++) {
      uint64_t count = 0;
      double best = logzero;
      for (uint64_t g = 0; g < row->numofgroups; g++) {
        const ScaledGroup &group = row->groups[g];
        const int64_t x = e - group.deficit;
        if (x < 0) break;
        if (x > previousspan) continue;
        const double term = previous[x - previouslo] + group.logprob;
        if (term > logzero) {
          terms[count++] = term;
          best = std::max(best, term);
        }
      }
      double cell = count == 0 ? logzero : terms[0];
      if (count > 1) {
        double sum = 0.0;
        for (uint64_t t = 0; t < count; t++) sum += std::exp(terms[t] - best);
        cell = best + std::log(sum);
      }
      current[e - currentlo] = cell;
    }
  }
};

// ---------------------------------------------------------------------------------------
// Working cells

// The working cells of the computations in this thread, kept from one call to the next:
// touching fresh pages costs more than the computation on them, and a threshold preparation
// runs one matrix after another. Blocks above retainedcells are released after each use.
constexpr size_t retainedcells = size_t{1} << 22;

struct CellScratch {
  double *cells = nullptr;
  size_t allocated = 0;
  ~CellScratch() { std::free(cells); }
};
thread_local CellScratch scratch;

double *borrowcells(size_t count) {
  if (count > scratch.allocated) {
    std::free(scratch.cells);
    scratch.cells = allocorexit<double>(nullptr, count);
    scratch.allocated = count;
  }
  return scratch.cells;
}

void returncells() {
  if (scratch.allocated > retainedcells) {
    freeandnull(scratch.cells);
    scratch.allocated = 0;
  }
}

// ---------------------------------------------------------------------------------------
// Tables

void startdistribution(const ScaledMatrix *scaled, ScoreDistribution *distribution) {
  distribution->minimum = scaled->minimum;
  distribution->maximum = scaled->maximum;
  distribution->offset = scaled->offset;
  distribution->size = static_cast<uint64_t>(scaled->maximum - scaled->minimum) + 1;
  distribution->tail = allocorexit<double>(nullptr, distribution->size);
  // Large tables are written whole at once: fresh pages are cheaper taken together.
  advisehugepages(distribution->tail, distribution->size * sizeof(double));
  prefaultwritable(distribution->tail, distribution->size * sizeof(double));
}

// Index into the tail table for score s, clamped to the table.
uint64_t tailindex(const ScoreDistribution *distribution, int64_t score, double multiplier) {
  const double position = std::rint(static_cast<double>(distribution->offset) +
                                    static_cast<double>(score) * multiplier -
                                    static_cast<double>(distribution->minimum));
  if (!(position > 0.0)) return 0;
  const double last = static_cast<double>(distribution->size - 1);
  if (position >= last) return distribution->size - 1;
  return static_cast<uint64_t>(position);
}

int checkfloat(const ScoringMatrix *matrix) {
  if (matrix->scoretype != SCORE_FLOAT) return reporterror("Invalid profile type.");
  return 0;
}

// Cells of one prefix computed per block call of the complete computation.
constexpr int64_t completepiece = 2048;

// The largest step on which every total of nonzero probability lies: the greatest common
// divisor of all group deficits and row ranges (1 when there is none). Scaled integer scores
// (a multiplier of 10 or 100 over whole-number matrices) make it the multiplier or more.
int64_t commonstep(const ScaledMatrix *scaled) {
  int64_t step = 0;
  for (uint64_t k = 0; k < scaled->m; k++) {
    const ScaledRow &row = scaled->rows[k];
    step = std::gcd(step, row.maximum - row.minimum);
    for (uint64_t g = 0; g < row.numofgroups; g++) step = std::gcd(step, row.groups[g].deficit);
  }
  return step > 0 ? step : 1;
}

// The matrix with all deficits and ranges divided by step (which divides them all).
struct SteppedMatrix {
  ScaledMatrix scaled;
  std::vector<ScaledRow> rows;
  std::vector<ScaledGroup> groups;
  std::vector<int64_t> prefixspan;

  SteppedMatrix(const ScaledMatrix *source, int64_t step) : scaled(*source) {
    const uint64_t m = source->m;
    uint64_t total = 0;
    for (uint64_t k = 0; k < m; k++) total += source->rows[k].numofgroups;
    rows.assign(source->rows, source->rows + m);
    groups.reserve(total);
    for (ScaledRow &row : rows) {
      const ScaledGroup *first = row.groups;
      row.groups = groups.data() + groups.size();
      for (uint64_t g = 0; g < row.numofgroups; g++) {
        groups.push_back({first[g].deficit / step, first[g].prob, first[g].logprob});
      }
      row.minimum = row.maximum - (row.maximum - row.minimum) / step;
    }
    prefixspan.resize(m + 1);
    for (uint64_t k = 0; k <= m; k++) prefixspan[k] = source->prefixspan[k] / step;
    scaled.rows = rows.data();
    scaled.prefixspan = prefixspan.data();
  }
};

// Every prefix in one pass over its whole span; two windows of the full span take turns. The
// cells between multiples of the common step hold probability 0 in every prefix, so only the
// multiples are computed; each of them receives the same nonzero terms in the same order as
// in the full grid, and the running sum passes the zero cells unchanged, so the table is the
// same to the last bit.
template <typename Domain>
void completetable_templ(const ScaledMatrix *full, ScoreDistribution *distribution) {
  const int64_t step = commonstep(full);
  std::optional<SteppedMatrix> stepped;
  if (step > 1) stepped.emplace(full, step);
  const ScaledMatrix *scaled = stepped ? &stepped->scaled : full;
  const int64_t span = scaled->prefixspan[scaled->m];
  double *previous = borrowcells(2 * (static_cast<size_t>(span) + 1));
  double *current = previous + span + 1;
  previous[0] = Domain::one;  // the empty prefix has total deficit 0 with probability 1
  for (uint64_t k = 0; k < scaled->m; k++) {
    // In pieces that stay in the first-level cache while every group adds to them; each
    // cell still receives its terms in the same order, so the result does not change.
    const int64_t last = scaled->prefixspan[k + 1];
    for (int64_t a = 0; a <= last; a += completepiece) {
      Domain::block(scaled->rows + k, previous, 0, scaled->prefixspan[k], current, 0, a,
                    std::min(last, a + completepiece - 1));
    }
    std::swap(previous, current);
  }
  startdistribution(full, distribution);
  const int64_t fullspan = full->prefixspan[full->m];
  double sum = 0.0;
  for (int64_t e = 0; e <= span; e++) {
    sum += Domain::probability(previous[e]);
    const int64_t first = e * step;
    const int64_t last = std::min(first + step - 1, fullspan);
    for (int64_t f = first; f <= last; f++) distribution->tail[fullspan - f] = sum;
  }
  returncells();
}

void completetable(const ScaledMatrix *scaled, ScoreDistribution *distribution) {
  if (scaled->plain) {
    completetable_templ<PlainDomain>(scaled, distribution);
  } else {
    completetable_templ<LogDomain>(scaled, distribution);
  }
}

// Blocks of the lazy walk grow with the deficit reached, so that the work past the stopping
// point stays below the work before it, up to this many cells.
constexpr int64_t largestblock = 4096;
constexpr int64_t smallestblock = 64;

// The running tail sums of the lazy walk by deficit: entry e is the tail entry of maximum - e.
struct TailSums {
  double *sums;
  int64_t allocated;
  int64_t count;  // entries computed: deficits 0 .. count - 1
};

// The lazy walk: blocks of total deficits a .. b from 0 upward, each computed for every prefix
// in turn. A prefix keeps a window of its cells from a minus the largest deficit of the row
// that reads it up to b; the window slides forward when a block would run past its end. The
// running sum over the last prefix is the tail entry of maximum - e, exactly as the complete
// table has it. The walk stops at the first e whose entry exceeds the target, or at deficit
// depth, and returns it, or span + 1 when neither comes. sums holds the entries of deficits 0 up to the stop, and one
// more where that makes the number of entries left out even: lookups round halfway cases to
// even relative to the table's minimum, so a table whose minimum differs from the complete
// one by an even number rounds every score the same way.
template <typename Domain>
int64_t lazywalk_templ(const ScaledMatrix *scaled, double pvalue, int64_t depth,
                       TailSums *sums) {
  const uint64_t m = scaled->m;
  const int64_t span = scaled->prefixspan[m];
  if (m == 0) {
    sums->sums = allocorexit<double>(nullptr, 1);
    sums->sums[0] = 1.0;
    sums->count = 1;
    return 1.0 > pvalue ? 0 : 1;
  }
  // Window k holds prefix k; window 0 the empty prefix, window m the current block only. A
  // window holds at least as many cells beyond the reach of its reader as within it, so that
  // sliding moves each cell at most about once.
  int64_t *lo = allocorexit<int64_t>(nullptr, m + 1);
  int64_t *capacity = allocorexit<int64_t>(nullptr, m + 1);
  double **window = allocorexit<double *>(nullptr, m + 1);
  capacity[0] = 1;
  for (uint64_t k = 1; k < m; k++) {
    const int64_t reach = scaled->rows[k].maximum - scaled->rows[k].minimum;
    capacity[k] = reach + std::max(reach, largestblock);
  }
  capacity[m] = largestblock;
  int64_t total = 0;
  for (uint64_t k = 0; k <= m; k++) total += capacity[k];
  double *space = borrowcells(static_cast<size_t>(total));
  for (uint64_t k = 0, used = 0; k <= m; used += capacity[k], k++) {
    window[k] = space + used;
    lo[k] = 0;
  }
  window[0][0] = Domain::one;

  double sum = 0.0;
  int64_t stop = span + 1;
  int64_t end = span;  // the last deficit to compute
  for (int64_t a = 0; a <= end;) {
    const int64_t b = std::min(span, a + std::clamp(a, smallestblock, largestblock) - 1);
    for (uint64_t k = 0; k < m; k++) {
      const uint64_t t = k + 1;
      if (t == m) {
        lo[t] = a;
      } else if (b - lo[t] + 1 > capacity[t]) {
        const int64_t reach = scaled->rows[t].maximum - scaled->rows[t].minimum;
        const int64_t newlo = std::max<int64_t>(0, a - reach);
        std::memmove(window[t], window[t] + (newlo - lo[t]),
                     static_cast<size_t>(a - newlo) * sizeof(double));
        lo[t] = newlo;
      }
      Domain::block(scaled->rows + k, window[k], lo[k], scaled->prefixspan[k], window[t], lo[t],
                    a, b);
    }
    if (b >= sums->allocated) {
      sums->allocated = std::min(span + 1, std::max(2 * sums->allocated, b + 1));
      sums->sums = allocorexit<double>(sums->sums, static_cast<size_t>(sums->allocated));
    }
    for (int64_t e = a; e <= std::min(b, end); e++) {
      sum += Domain::probability(window[m][e - a]);
      sums->sums[e] = sum;
      sums->count = e + 1;
      if (stop > span && (sum > pvalue || e >= depth)) {
        stop = e;
        end = std::min(span, e + ((span - e) & 1));
      }
    }
    a = b + 1;
  }
  returncells();
  std::free(window);
  std::free(capacity);
  std::free(lo);
  return stop;
}

}  // namespace

double distribution_bytes(const ScoringMatrix *floatmatrix, double multiplier, bool complete) {
  const uint64_t symbols =
      matrix_columns(floatmatrix) > 0 ? matrix_columns(floatmatrix) - 1 : 0;
  double span = 0.0;
  double windows = 0.0;
  for (uint64_t i = 0; i < floatmatrix->m; i++) {
    bool any = false;
    double low = 0.0, high = 0.0;
    for (uint64_t j = 0; j < symbols; j++) {
      const float entry = matrix_cell<float>(floatmatrix, i, j);
      if (ScoreTraits<float>::forbidden(entry)) continue;
      const double scaled = std::rint(multiplier * static_cast<double>(entry));
      low = any ? std::min(low, scaled) : scaled;
      high = any ? std::max(high, scaled) : scaled;
      any = true;
    }
    const double reach = high - low;
    span += reach;
    windows += reach + std::max(reach, static_cast<double>(largestblock));
  }
  const double cells = complete ? 3.0 * (span + 1.0) : windows + static_cast<double>(largestblock);
  return cells * static_cast<double>(sizeof(double));
}

int complete_distribution(const ScoringMatrix *floatmatrix, const double *frequencies,
                          double multiplier, ScoreDistribution *ret_distribution) {
  if (checkfloat(floatmatrix) != 0) return -1;
  ScaledMatrix scaled;
  scalematrix(floatmatrix, frequencies, multiplier, &scaled);
  completetable(&scaled, ret_distribution);
  freescaled(&scaled);
  return 0;
}

int lazy_threshold(const ScoringMatrix *floatmatrix, const double *frequencies, double multiplier,
                   double pvalue, int64_t *ret_threshold, ScoreDistribution *ret_distribution) {
  if (checkfloat(floatmatrix) != 0) return -1;
  ScaledMatrix scaled;
  scalematrix(floatmatrix, frequencies, multiplier, &scaled);

  if (pvalue > 1.0) {
    // Every window qualifies. The table is computed completely, so that reports of this
    // profile get real p-values, and the threshold lies at or below every possible score.
    completetable(&scaled, ret_distribution);
    const int64_t lowest = scaled.minimum - scaled.offset;
    *ret_threshold = std::min(lowest, toscore(std::floor(scaled.realminimum)));
    freescaled(&scaled);
    return 0;
  }

  const int64_t span = scaled.prefixspan[scaled.m];
  TailSums sums = {nullptr, 0, 0};
  const int64_t stop = scaled.plain ? lazywalk_templ<PlainDomain>(&scaled, pvalue, span + 1, &sums)
                                    : lazywalk_templ<LogDomain>(&scaled, pvalue, span + 1, &sums);
  // The table holds the entries the walk computed, from the maximum down. Its minimum is the
  // lowest scaled total it covers, so that lookups of lower scores (which no match of the
  // threshold has) get its lowest entry.
  const int64_t reached = sums.count - 1;
  ret_distribution->maximum = scaled.maximum;
  ret_distribution->minimum = scaled.maximum - reached;
  ret_distribution->offset = scaled.offset;
  ret_distribution->size = static_cast<uint64_t>(reached) + 1;
  std::reverse(sums.sums, sums.sums + reached + 1);
  ret_distribution->tail = allocorexit<double>(sums.sums, ret_distribution->size);

  const double highest = static_cast<double>(scaled.maximum - scaled.offset);
  if (stop > span) {
    // No entry exceeds the target: every score qualifies.
    *ret_threshold = toscore(std::rint(static_cast<double>(scaled.minimum - scaled.offset) /
                                       multiplier));
  } else if (stop == 0) {
    // Even the maximum is more probable than the target; the caller's reach check decides.
    *ret_threshold = toscore(std::rint(highest / multiplier)) + 1;
  } else {
    // The entry of deficit stop exceeds the target and all entries above it do not: the
    // threshold is the smallest integer score whose entry lies above it. The estimate is off
    // by at most a rounding step; the bound only keeps degenerate multipliers from walking far.
    const int64_t lowestbelow = scaled.maximum - stop + 1;
    const uint64_t first = static_cast<uint64_t>(lowestbelow - ret_distribution->minimum);
    int64_t score = toscore(
        std::ceil((static_cast<double>(lowestbelow - scaled.offset) - 0.5) / multiplier));
    for (int step = 0; step < 16 && tailindex(ret_distribution, score - 1, multiplier) >= first;
         step++) {
      score--;
    }
    for (int step = 0; step < 16 && tailindex(ret_distribution, score, multiplier) < first;
         step++) {
      score++;
    }
    *ret_threshold = score;
  }
  freescaled(&scaled);
  return 0;
}

int lazy_tail(const ScoringMatrix *floatmatrix, const double *frequencies, double multiplier,
              int64_t lowest, ScoreDistribution *ret_distribution) {
  if (checkfloat(floatmatrix) != 0) return -1;
  ScaledMatrix scaled;
  scalematrix(floatmatrix, frequencies, multiplier, &scaled);
  const int64_t span = scaled.prefixspan[scaled.m];
  // The deficit of the lowest score's scaled total below the maximum.
  const double total = static_cast<double>(scaled.offset) + static_cast<double>(lowest) * multiplier;
  const double below = std::ceil(static_cast<double>(scaled.maximum) - total);
  const int64_t depth = below <= 0.0 ? 0 : below >= static_cast<double>(span) ? span
                                                                               : static_cast<int64_t>(below);
  // Room for every entry down to the depth at once (the walk's last block may reach past
  // it), instead of growing the table as the walk goes.
  TailSums sums = {nullptr, 0, 0};
  sums.allocated = std::min(span + 1, depth + largestblock + 1);
  sums.sums = allocorexit<double>(nullptr, static_cast<size_t>(sums.allocated));
  if (scaled.plain) {
    lazywalk_templ<PlainDomain>(&scaled, 2.0, depth, &sums);
  } else {
    lazywalk_templ<LogDomain>(&scaled, 2.0, depth, &sums);
  }
  const int64_t reached = sums.count - 1;
  ret_distribution->maximum = scaled.maximum;
  ret_distribution->minimum = scaled.maximum - reached;
  ret_distribution->offset = scaled.offset;
  ret_distribution->size = static_cast<uint64_t>(reached) + 1;
  std::reverse(sums.sums, sums.sums + reached + 1);
  ret_distribution->tail = allocorexit<double>(sums.sums, ret_distribution->size);
  freescaled(&scaled);
  return 0;
}

double tail_lookup(const ScoreDistribution *distribution, int64_t score, double multiplier,
                   TailMode mode, uint64_t dbsize) {
  if (distribution->size == 0) return 0.0;
  const double pvalue = distribution->tail[tailindex(distribution, score, multiplier)];
  return mode == TAIL_EVALUE ? pvalue * static_cast<double>(dbsize) : pvalue;
}

int64_t tail_threshold(const double *tail, uint64_t size, int64_t minimum, int64_t offset,
                       double multiplier, double pvalue) {
  for (uint64_t i = size; i > 0; i--) {
    if (tail[i - 1] >= pvalue) {
      const uint64_t index = tail[i - 1] > pvalue ? i : i - 1;
      int64_t score = toscore(std::ceil(
          static_cast<double>(minimum + static_cast<int64_t>(index) - offset) / multiplier));
      // Lookups round the scaled total to the nearest entry (halfway cases to even), so with
      // a multiplier below 1 the score below may reach the same entry and thus the same
      // p-value: the threshold is the smallest such score, as the lazy derivation finds it.
      if (index > 0 && index < size) {
        const ScoreDistribution table = {minimum, minimum + static_cast<int64_t>(size) - 1,
                                         offset, const_cast<double *>(tail), size};
        for (int step = 0; step < 16 && tailindex(&table, score - 1, multiplier) >= index;
             step++) {
          score--;
        }
      }
      return score;
    }
  }
  return toscore(std::ceil(static_cast<double>(minimum - offset) / multiplier));
}

void freedistribution(ScoreDistribution *distribution) {
  freeandnull(distribution->tail);
  distribution->size = 0;
}
