// The motifs' matrices for scoring the windows around variants: integer weights over a c g t
// per strand with their thresholds, the q-mer filter that names the few profiles a window may
// still reach the threshold of (so that most motifs cost nothing at most windows), and the
// exact best window of a profile over an allele's windows.
#include <algorithm>
#include <cstring>

#include "base/error.hpp"
#include "scan/scaninternal.hpp"
#include "variants/variantsinternal.hpp"

namespace {

// The filter's size at most, in entries (8 bytes each); a lenient cutoff that would need more
// gets a shorter q.
constexpr uint64_t maxentries = uint64_t{1} << 24;
constexpr unsigned maxq = 8;

// The filter's sums stay far inside 32 bits: every partial score and every needed score of a
// profile lies within +-2^28, so that adding a forbidden cell (-2^30) cannot overflow and
// falls below every needed score.
constexpr int32_t forbiddencell = -(int32_t{1} << 30);
constexpr int64_t cellbound = int64_t{1} << 28;

struct CodeTable {
  uint8_t codes[256];
  CodeTable() {
    std::memset(codes, VARIANT_OTHER, sizeof codes);
    const char *letters[4] = {"aA", "cC", "gG", "tTuU"};
    for (uint8_t code = 0; code < 4; code++) {
      for (const char *c = letters[code]; *c != '\0'; c++) codes[static_cast<unsigned char>(*c)] = code;
    }
  }
};
const CodeTable codetable;

// The profile of a prepared motif on a strand as weights over a c g t.
int makeprofile(const ScanMotifs &motifs, uint32_t motif, bool reverse, double pvalue,
                VariantProfile *out) {
  const ScanStrand strand = reverse ? SCAN_STRAND_REVERSE : SCAN_STRAND_FORWARD;
  int64_t maxscore = 0;
  std::vector<int64_t> weights;
  if (scanstrandweights(motifs, motif, strand, "acgt", &weights, &maxscore) != 0) return -1;
  out->motif = motif;
  out->reverse = reverse;
  out->length = static_cast<uint32_t>(weights.size() / 4);
  out->weights.assign(weights.size(), VARIANT_FORBIDDEN);
  bool possible = out->length > 0;
  std::vector<int64_t> rowmax(out->length, VARIANT_FORBIDDEN);
  out->columnrange = 0;
  for (uint32_t row = 0; row < out->length; row++) {
    for (uint8_t code = 0; code < 4; code++) {
      const int64_t cell = weights[row * 4 + code];
      if (cell == SCAN_NOSCORE) continue;
      out->weights[row * 4 + code] = cell;
      rowmax[row] = std::max(rowmax[row], cell);
    }
    if (rowmax[row] == VARIANT_FORBIDDEN) possible = false;
    for (uint8_t code = 0; code < 4; code++) {
      const int64_t weight = out->weights[row * 4 + code];
      if (weight != VARIANT_FORBIDDEN) out->columnrange = std::max(out->columnrange, rowmax[row] - weight);
    }
  }
  if (scanthreshold(motifs, motif, pvalue, strand, &out->threshold) != 0) return -1;
  out->reachable = possible && out->threshold <= maxscore;
  out->needed.assign(out->length + 1, 0);
  if (out->reachable) {
    int64_t suffix = 0;
    out->needed[out->length] = out->threshold;
    for (uint32_t k = out->length; k-- > 0;) {
      suffix += rowmax[k];
      out->needed[k] = out->threshold - suffix;
    }
  }
  return 0;
}

// The block after the q-mer of every reachable profile longer than q.
void layoutblocks(VariantMatrices *out) {
  constexpr unsigned block = VariantMatrices::block;
  constexpr uint32_t letters = 1u << (2 * block);
  const unsigned q = out->q;
  const uint64_t profiles = out->profiles.size();
  out->blocks.assign(letters * profiles, forbiddencell);
  for (const uint32_t index : out->bylength) {
    const VariantProfile &profile = out->profiles[index];
    if (profile.length <= q) continue;
    const uint32_t end = std::min<uint32_t>(profile.length, q + block);
    out->layout[index].needed = static_cast<int32_t>(profile.needed[end]);
    for (uint32_t code = 0; code < letters; code++) {
      int64_t score = 0;
      for (uint32_t k = q; k < end; k++) {
        const uint32_t letter = (code >> (2 * (block - 1 - (k - q)))) & 3;
        const int64_t weight = profile.weights[k * 4 + letter];
        if (weight == VARIANT_FORBIDDEN) {
          score = forbiddencell;
          break;
        }
        score += weight;
      }
      out->blocks[code * profiles + index] = static_cast<int32_t>(score);
    }
  }
}

// Calls emit(q-mer, prefix score) for every q-mer whose first min(q, length) letters score
// at least what the profile needs there to reach its threshold.
template <typename Emit>
void enumerate(const VariantProfile &profile, unsigned q, Emit &&emit) {
  const unsigned depth = std::min<unsigned>(q, profile.length);
  const uint64_t tails = uint64_t{1} << (2 * (q - depth));
  // An explicit stack: letter chosen at each depth and the score so far.
  uint8_t letter[maxq + 1];
  int64_t partial[maxq + 1];
  uint64_t prefix[maxq + 1];
  partial[0] = 0;
  prefix[0] = 0;
  unsigned k = 0;
  letter[0] = 0;
  for (;;) {
    if (k == depth) {
      for (uint64_t tail = 0; tail < tails; tail++) {
        emit((prefix[k] << (2 * (q - depth))) | tail, partial[k]);
      }
      if (k == 0) return;
      k--;
      letter[k]++;
      continue;
    }
    if (letter[k] == 4) {
      if (k == 0) return;
      k--;
      letter[k]++;
      continue;
    }
    const int64_t weight = profile.weights[k * 4 + letter[k]];
    const int64_t score = partial[k] + weight;
    if (weight == VARIANT_FORBIDDEN || score < profile.needed[k + 1]) {
      letter[k]++;
      continue;
    }
    partial[k + 1] = score;
    prefix[k + 1] = prefix[k] * 4 + letter[k];
    k++;
    letter[k] = 0;
  }
}

// The filter's sums stay far inside 32 bits: every partial score and every needed score of a
// profile lies within +-2^28, so that adding a forbidden cell (-2^30) cannot overflow and
// falls below every needed score.

bool fits32(const VariantProfile &profile) {
  int64_t bound = 0;
  for (uint32_t k = 0; k < profile.length; k++) {
    int64_t largest = 0;
    for (int code = 0; code < 4; code++) {
      const int64_t weight = profile.weights[k * 4 + code];
      if (weight != VARIANT_FORBIDDEN) largest = std::max(largest, weight < 0 ? -weight : weight);
    }
    bound += largest;
  }
  if (bound >= cellbound) return false;
  for (const int64_t needed : profile.needed) {
    if (needed <= -cellbound || needed >= cellbound) return false;
  }
  return true;
}

// The reachable profiles' columns in the filter's layout.
void layoutcolumns(VariantMatrices *out) {
  out->layout.assign(out->profiles.size(), VariantMatrices::Layout{0, 0, 0, 0});
  out->columns.clear();
  for (const uint32_t index : out->bylength) {
    const VariantProfile &profile = out->profiles[index];
    out->layout[index] = {static_cast<uint32_t>(out->columns.size()), profile.length,
                          profile.motif, 0};
    for (uint32_t k = 0; k < profile.length; k++) {
      for (int code = 0; code < 4; code++) {
        const int64_t weight = profile.weights[k * 4 + code];
        out->columns.push_back(weight == VARIANT_FORBIDDEN ? forbiddencell
                                                           : static_cast<int32_t>(weight));
      }
      out->columns.push_back(forbiddencell);
      out->columns.push_back(static_cast<int32_t>(profile.needed[k + 1]));
    }
  }
}

int buildfilter(VariantMatrices *out) {
  const std::vector<uint32_t> &tabled = out->bylength;
  for (const uint32_t index : tabled) {
    if (!fits32(out->profiles[index])) {
      return reporterror("the weights of motif %lu are too large to score variants (more than "
                         "2^28 over its positions)",
                         static_cast<unsigned long>(out->profiles[index].motif + 1));
    }
  }
  layoutcolumns(out);
  for (unsigned q = std::min<unsigned>(maxq, out->longest); q > 0; q--) {
    std::vector<uint64_t> counts((uint64_t{1} << (2 * q)) + 1, 0);
    uint64_t total = 0;
    for (uint32_t index : tabled) {
      enumerate(out->profiles[index], q, [&](uint64_t code, int64_t) {
        counts[code + 1]++;
        total++;
      });
      if (total > maxentries) break;
    }
    if (total > maxentries) continue;
    for (size_t i = 1; i < counts.size(); i++) counts[i] += counts[i - 1];
    out->q = q;
    out->offsets = counts;
    out->entries.assign(total, VariantMatrices::Entry{0, 0});
    // Filled longest profile first, so that every list is ordered by length.
    std::vector<uint64_t> fill(counts.begin(), counts.end() - 1);
    for (uint32_t index : tabled) {
      enumerate(out->profiles[index], q, [&](uint64_t code, int64_t prefix) {
        out->entries[fill[code]++] = {index, static_cast<int32_t>(prefix)};
      });
    }
    layoutblocks(out);
    return 0;
  }
  // Not even single letters fit: every window is scored by the slow path.
  out->q = 0;
  return 0;
}

// Whether a profile's window reaches the threshold: its score from column from on, given
// the score of the columns before; false as soon as the threshold is out of reach (a letter
// that cannot be scored weighs a forbidden cell).
inline bool reaches(const int32_t *columns, uint32_t length, const uint8_t *window,
                    uint32_t from, int32_t score) {
  constexpr unsigned cells = VariantMatrices::cells;
  for (uint32_t k = from; k < length; k++) {
    const int32_t *column = columns + k * cells;
    score += column[window[k]];
    if (score < column[5]) return false;
  }
  return true;
}

// The same with the better of two letters at column twice (from <= twice < length).
inline bool reachesboth(const int32_t *columns, uint32_t length, const uint8_t *window,
                        uint32_t from, uint32_t twice, uint8_t other, int32_t score) {
  constexpr unsigned cells = VariantMatrices::cells;
  for (uint32_t k = from; k < twice; k++) {
    const int32_t *column = columns + k * cells;
    score += column[window[k]];
    if (score < column[5]) return false;
  }
  const int32_t *column = columns + twice * cells;
  score += std::max(column[window[twice]], column[other]);
  if (score < column[5]) return false;
  return reaches(columns, length, window, twice + 1, score);
}

// The q-mer of the letters at window, or false when one of them cannot be scored.
inline bool qmer(const uint8_t *window, unsigned q, uint64_t *ret_code) {
  uint64_t code = 0;
  for (unsigned k = 0; k < q; k++) {
    if (window[k] == VARIANT_OTHER) return false;
    code = code * 4 + window[k];
  }
  *ret_code = code;
  return true;
}

// The block's letters after the q-mer, or false when they cannot all be read.
inline bool blockcode(const uint8_t *letters, uint32_t *ret_code) {
  uint32_t code = 0;
  for (unsigned k = 0; k < VariantMatrices::block; k++) {
    if (letters[k] == VARIANT_OTHER) return false;
    code = code * 4 + letters[k];
  }
  *ret_code = code;
  return true;
}

// Marks the motifs of the listed profiles whose window at window reaches the threshold
// (with the better of two letters at column twice when twice >= q, a column inside the
// profile or not). least and room bound the lengths that overlap the variant and fit.
inline void scanlist(const VariantMatrices &matrices, uint64_t code, const uint8_t *window,
                     int64_t least, int64_t room, int64_t twice, uint8_t other, uint32_t stamp,
                     uint32_t *marks, std::vector<uint32_t> *passed) {
  constexpr unsigned block = VariantMatrices::block;
  const unsigned q = matrices.q;
  const VariantMatrices::Entry *entry = matrices.entries.data() + matrices.offsets[code];
  const VariantMatrices::Entry *end = matrices.entries.data() + matrices.offsets[code + 1];
  const VariantMatrices::Layout *layout = matrices.layout.data();
  const int32_t *columns = matrices.columns.data();
  const uint64_t profiles = matrices.profiles.size();
  // The letters after the q-mer as one block, with the other letter too when it lies there.
  uint32_t next = 0, othernext = 0;
  const bool inblock = twice >= static_cast<int64_t>(q) && twice < static_cast<int64_t>(q + block);
  bool byblock = room >= static_cast<int64_t>(q + block) && blockcode(window + q, &next);
  if (byblock && inblock) {
    const unsigned shift = 2 * (block - 1 - static_cast<unsigned>(twice - q));
    othernext = (next & ~(3u << shift)) | (static_cast<uint32_t>(other) << shift);
  }
  const int32_t *blockrow = matrices.blocks.data() + next * profiles;
  const int32_t *otherrow = matrices.blocks.data() + othernext * profiles;
  for (; entry < end; entry++) {
    const VariantMatrices::Layout &profile = layout[entry->profile];
    const int64_t m = profile.length;
    if (m < least) break;
    if (m > room || marks[profile.motif] == stamp) continue;
    bool reached;
    if (m <= static_cast<int64_t>(q)) {
      reached = true;
    } else if (byblock) {
      const int32_t here = blockrow[entry->profile];
      int32_t score = entry->prefix +
                      (inblock ? std::max(here, otherrow[entry->profile]) : here);
      const uint32_t after = std::min<uint32_t>(profile.length, q + block);
      if (score < profile.needed) {
        reached = false;
      } else if (twice >= static_cast<int64_t>(after) && twice < m) {
        reached = reachesboth(columns + profile.first, profile.length, window, after,
                              static_cast<uint32_t>(twice), other, score);
      } else {
        reached = reaches(columns + profile.first, profile.length, window, after, score);
      }
    } else if (twice >= static_cast<int64_t>(q) && twice < m) {
      reached = reachesboth(columns + profile.first, profile.length, window, q,
                            static_cast<uint32_t>(twice), other, entry->prefix);
    } else {
      reached = reaches(columns + profile.first, profile.length, window, q, entry->prefix);
    }
    if (reached) {
      marks[profile.motif] = stamp;
      passed->push_back(profile.motif);
    }
  }
}

// Every reachable profile from its first column: near the end of a sequence, or an N.
inline void scanall(const VariantMatrices &matrices, const uint8_t *window, int64_t least,
                    int64_t room, int64_t twice, uint8_t other, uint32_t stamp, uint32_t *marks,
                    std::vector<uint32_t> *passed) {
  const int32_t *columns = matrices.columns.data();
  for (const uint32_t index : matrices.bylength) {
    const VariantMatrices::Layout &profile = matrices.layout[index];
    const int64_t m = profile.length;
    if (m < least) break;
    if (m > room || marks[profile.motif] == stamp) continue;
    const bool reached =
        twice >= 0 && twice < m
            ? reachesboth(columns + profile.first, profile.length, window, 0,
                          static_cast<uint32_t>(twice), other, 0)
            : reaches(columns + profile.first, profile.length, window, 0, 0);
    if (reached) {
      marks[profile.motif] = stamp;
      passed->push_back(profile.motif);
    }
  }
}

}  // namespace

uint8_t variantcode(char letter) { return codetable.codes[static_cast<unsigned char>(letter)]; }

int variantmatrices_build(const ScanMotifs &motifs, double pvalue, bool forwardonly,
                          VariantMatrices *out) {
  *out = VariantMatrices{};
  out->strands = forwardonly ? 1 : 2;
  const uint32_t count = static_cast<uint32_t>(motifs.motifs.size());
  out->profiles.resize(uint64_t{count} * out->strands);
  for (uint32_t motif = 0; motif < count; motif++) {
    for (uint32_t strand = 0; strand < out->strands; strand++) {
      VariantProfile *profile = &out->profiles[motif * out->strands + strand];
      if (makeprofile(motifs, motif, strand == 1, pvalue, profile) != 0) return -1;
    }
  }
  for (uint32_t index = 0; index < out->profiles.size(); index++) {
    if (!out->profiles[index].reachable) continue;
    out->bylength.push_back(index);
    out->longest = std::max(out->longest, out->profiles[index].length);
  }
  std::stable_sort(out->bylength.begin(), out->bylength.end(), [out](uint32_t a, uint32_t b) {
    return out->profiles[a].length > out->profiles[b].length;
  });
  for (const VariantProfile &profile : out->profiles) {
    out->longest = std::max(out->longest, profile.length);
  }
  return out->bylength.empty() ? 0 : buildfilter(out);
}

WindowRange variantwindows(const AlleleText &text, uint32_t longest) {
  WindowRange range;
  if (longest == 0) return range;
  const int64_t changed = static_cast<int64_t>(text.changed);
  range.first = std::max<int64_t>(0, changed - static_cast<int64_t>(longest) + 1);
  range.last = text.changedend > text.changed ? static_cast<int64_t>(text.changedend) - 1
                                              : changed - 1;
  return range;
}

void variantfilter_begin(VariantFilter *filter, uint64_t motifs) {
  if (filter->marks.size() != motifs) {
    filter->marks.assign(motifs, 0);
    filter->stamp = 0;
  }
  if (++filter->stamp == 0) {
    std::fill(filter->marks.begin(), filter->marks.end(), 0);
    filter->stamp = 1;
  }
  filter->passed.clear();
}

namespace {

// Reads the lists of the jobs planned: their places first asked for all at once, so that the
// waits for memory of a variant's some 40 lists overlap instead of following each other.
void runjobs(const VariantMatrices &matrices, const AlleleText &text, VariantFilter *filter) {
  const int64_t length = static_cast<int64_t>(text.length);
  const int64_t changed = static_cast<int64_t>(text.changed);
  const uint64_t *offsets = matrices.offsets.data();
  const VariantMatrices::Entry *entries = matrices.entries.data();
  for (const VariantFilter::Job &job : filter->jobs) {
    if (!job.all) __builtin_prefetch(offsets + job.code);
  }
  for (const VariantFilter::Job &job : filter->jobs) {
    if (job.all) continue;
    const char *first = reinterpret_cast<const char *>(entries + offsets[job.code]);
    const char *last = reinterpret_cast<const char *>(entries + offsets[job.code + 1]);
    for (const char *line = first; line < last; line += 64) __builtin_prefetch(line);
  }
  uint32_t *marks = filter->marks.data();
  for (const VariantFilter::Job &job : filter->jobs) {
    const int64_t least = changed - job.start + 1;
    const int64_t room = length - job.start;
    const uint8_t *window = text.codes + job.start;
    if (job.all) {
      scanall(matrices, window, least, room, job.twice, job.other, filter->stamp, marks,
              &filter->passed);
    } else {
      scanlist(matrices, job.code, window, least, room, job.twice, job.other, filter->stamp,
               marks, &filter->passed);
    }
  }
}

}  // namespace

void variantfilter(const VariantMatrices &matrices, const AlleleText &text, VariantFilter *filter) {
  filter->jobs.clear();
  if (matrices.bylength.empty()) return;
  const WindowRange range = variantwindows(text, matrices.longest);
  const unsigned q = matrices.q;
  const int64_t length = static_cast<int64_t>(text.length);
  for (int64_t start = range.first; start <= range.last; start++) {
    // A window from start reaches the change with at least least letters, and fits with at
    // most room.
    const int64_t least = static_cast<int64_t>(text.changed) - start + 1;
    const int64_t room = length - start;
    if (room < least) break;
    uint64_t code = 0;
    const bool listed = q > 0 && room >= static_cast<int64_t>(q) && qmer(text.codes + start, q, &code);
    filter->jobs.push_back({start, -1, code, !listed, 0});
  }
  runjobs(matrices, text, filter);
}

void variantfiltersnv(const VariantMatrices &matrices, const AlleleText &ref, uint8_t alt,
                      VariantFilter *filter) {
  filter->jobs.clear();
  if (matrices.bylength.empty()) return;
  const WindowRange range = variantwindows(ref, matrices.longest);
  const unsigned q = matrices.q;
  const int64_t length = static_cast<int64_t>(ref.length);
  const int64_t variant = static_cast<int64_t>(ref.changed);
  uint8_t altwindow[maxq];
  for (int64_t start = range.first; start <= range.last; start++) {
    const int64_t least = variant - start + 1;
    const int64_t room = length - start;
    if (room < least) break;
    const uint8_t *window = ref.codes + start;
    const int64_t column = variant - start;  // of the variant in the window
    uint64_t code = 0;
    const bool whole = q > 0 && room >= static_cast<int64_t>(q);
    if (whole && column >= static_cast<int64_t>(q)) {
      // One q-mer for both alleles.
      const bool listed = qmer(window, q, &code);
      filter->jobs.push_back({start, column, code, !listed, alt});
      continue;
    }
    // The q-mer holds the variant: a list for each allele, whose profiles read the same
    // letters from column q on. Without both q-mers, every profile with both letters.
    uint64_t altcode = 0;
    if (whole && qmer(window, q, &code)) {
      for (unsigned k = 0; k < q; k++) altwindow[k] = window[k];
      altwindow[column] = alt;
      if (qmer(altwindow, q, &altcode)) {
        filter->jobs.push_back({start, -1, code, false, 0});
        filter->jobs.push_back({start, -1, altcode, false, 0});
        continue;
      }
    }
    filter->jobs.push_back({start, column, 0, true, alt});
  }
  runjobs(matrices, ref, filter);
}

ProfileBest variantbest(const VariantProfile &profile, const AlleleText &text) {
  ProfileBest best;
  const WindowRange range = variantwindows(text, profile.length);
  const int64_t m = profile.length;
  const int64_t length = static_cast<int64_t>(text.length);
  const int64_t *weights = profile.weights.data();
  for (int64_t start = range.first; start <= range.last && start + m <= length; start++) {
    const uint8_t *window = text.codes + start;
    int64_t score = 0;
    bool scored = true;
    for (int64_t k = 0; k < m; k++) {
      const uint8_t code = window[k];
      const int64_t weight = code == VARIANT_OTHER ? VARIANT_FORBIDDEN : weights[k * 4 + code];
      if (weight == VARIANT_FORBIDDEN) {
        scored = false;
        break;
      }
      score += weight;
    }
    if (scored && (!best.found || score > best.score)) {
      best.found = true;
      best.score = score;
      best.start = static_cast<uint64_t>(start);
    }
  }
  return best;
}
