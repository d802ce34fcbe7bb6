// The matches of a scan between the search and the table: 32-byte records collected by each
// worker in sorted chunks, spilled as sorted runs to an unlinked temporary file when the
// worker's share of the memory budget is full, counted by score for the q-values, and read
// back in the table's order by one merge of every run.
//
// Contents: HitRecord, HitOrder; ScoreCounts; WorkerStore; mergeruns.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scan/scan.hpp"

// A match as the search finds it. Its motif and strand share one word (the strand in the top
// bit); its stop, E-value, MSS and text follow from it when the row is written.
struct HitRecord {
  uint64_t position;  // of the first letter in its sequence, from 0
  int64_t score;
  double pvalue;
  uint32_t sequence;
  uint32_t profile;  // motif | HIT_REVERSE on the - strand
};
static_assert(sizeof(HitRecord) == 32);

constexpr uint32_t HIT_REVERSE = uint32_t{1} << 31;
inline uint32_t hitmotif(const HitRecord &hit) { return hit.profile & ~HIT_REVERSE; }
inline bool hitreverse(const HitRecord &hit) { return (hit.profile & HIT_REVERSE) != 0; }

// The order of the table's rows (see ScanSort). Every match has its own place: motif,
// sequence, start and strand tell matches apart.
struct HitOrder {
  ScanSort sort = SCAN_SORT_POSITION;
  const uint64_t *lengths = nullptr;  // of the motifs, for the genome order's stops
  bool positionbefore(const HitRecord &a, const HitRecord &b) const {
    if (hitmotif(a) != hitmotif(b)) return hitmotif(a) < hitmotif(b);
    if (a.sequence != b.sequence) return a.sequence < b.sequence;
    if (a.position != b.position) return a.position < b.position;
    return a.profile < b.profile;  // + before -
  }
  bool operator()(const HitRecord &a, const HitRecord &b) const {
    switch (sort) {
      case SCAN_SORT_PVALUE:
        if (a.pvalue != b.pvalue) return a.pvalue < b.pvalue;
        return positionbefore(a, b);
      case SCAN_SORT_GENOME: {
        if (a.sequence != b.sequence) return a.sequence < b.sequence;
        if (a.position != b.position) return a.position < b.position;
        const uint64_t stopa = a.position + lengths[hitmotif(a)];
        const uint64_t stopb = b.position + lengths[hitmotif(b)];
        if (stopa != stopb) return stopa < stopb;
        if (hitmotif(a) != hitmotif(b)) return hitmotif(a) < hitmotif(b);
        return a.profile < b.profile;  // + before -
      }
      case SCAN_SORT_POSITION:
        break;
    }
    return positionbefore(a, b);
  }
};

// Matches of one searched profile (a motif on one strand) by score, with the score's p-value.
struct ScoreCount {
  uint64_t count = 0;
  double pvalue = 0.0;
};
// Per score, in an open-addressed table (a match costs one probe or two, no allocation).
class ScoreCounts {
 public:
  ScoreCount &operator[](int64_t score) {
    if (2 * (used_ + 1) > slots_.size()) grow();
    size_t at = slotof(score);
    while (slots_[at].score != score) {
      if (slots_[at].score == empty) {
        slots_[at].score = score;
        used_++;
        break;
      }
      at = (at + 1) & (slots_.size() - 1);
    }
    return slots_[at].count;
  }
  template <typename Function>
  void each(Function &&function) const {
    for (const Slot &slot : slots_) {
      if (slot.score != empty) function(slot.score, slot.count);
    }
  }

 private:
  static constexpr int64_t empty = INT64_MIN;
  struct Slot {
    int64_t score = empty;
    ScoreCount count;
  };
  size_t slotof(int64_t score) const {
    return static_cast<size_t>((static_cast<uint64_t>(score) * UINT64_C(0x9E3779B97F4A7C15)) >>
                               32) &
           (slots_.size() - 1);
  }
  void grow() {
    std::vector<Slot> old(std::max<size_t>(16, 2 * slots_.size()));
    old.swap(slots_);
    used_ = 0;
    for (const Slot &slot : old) {
      if (slot.score != empty) (*this)[slot.score] = slot.count;
    }
  }
  std::vector<Slot> slots_;
  size_t used_ = 0;
};

// Where the runs go and how much a worker may hold.
struct StoreSettings {
  HitOrder order;
  uint64_t budget = UINT64_MAX;  // bytes of records a worker holds before it spills
  std::string tmpdir;            // folder of the spill file (a worker without one never spills)
};

// A sorted run in a worker's spill file: records [offset, offset + count) of it.
struct FileRun {
  int fd = -1;
  uint64_t offset = 0;  // in records
  uint64_t count = 0;
};

// A chunk's memory.
struct ChunkFree {
  void operator()(HitRecord *chunk) const;
};
using Chunk = std::unique_ptr<HitRecord[], ChunkFree>;
Chunk newchunk(uint64_t records);

// The records of one worker: chunks filled in turn, each sorted when full; the sorted chunks
// are runs in memory until the budget is reached, then merged into one run of the spill file.
class WorkerStore {
 public:
  WorkerStore() = default;
  ~WorkerStore();
  WorkerStore(const WorkerStore &) = delete;
  WorkerStore &operator=(const WorkerStore &) = delete;

  void setup(const StoreSettings *settings, uint64_t profiles);
  // Adds a match of profile (motif, or motifs + motif on the - strand): 0, or -1 with the
  // message when a spill fails.
  int add(const HitRecord &hit, uint64_t profile);
  // The same in two steps, for a caller that takes the p-value of a score already counted
  // from its count (pvalue is 0 and count 0 for a score not seen yet): the count, which the
  // caller increments and gives its p-value, then keep.
  ScoreCount &countof(uint64_t profile, int64_t score) { return counts[profile][score]; }
  int keep(const HitRecord &hit);
  // Sorts the last chunk: the worker's runs are complete.
  void seal();

  std::vector<ScoreCounts> counts;  // per profile
  std::vector<Chunk> chunks;  // sorted runs in memory, then the filling one
  std::vector<uint64_t> chunksizes;
  std::vector<FileRun> fileruns;
  uint64_t held = 0;       // records in chunks
  uint64_t peakheld = 0;   // the most records held at once
  uint64_t spilled = 0;    // records written to the file
  int fd = -1;

 private:
  int spill();
  const StoreSettings *settings_ = nullptr;
  uint64_t chunkcapacity_ = 0;
};

// Calls row for every record of all workers' runs in the order, each once, releasing the
// chunks as they are read: 0, -1 with the message when a run cannot be read, or row's
// non-zero result. File runs beyond the merge's width are first merged in passes into a
// further temporary file in tmpdir.
using RecordFunction = int (*)(const HitRecord &hit, void *context);
int mergeruns(std::vector<WorkerStore> *stores, const HitOrder &order, const std::string &tmpdir,
              RecordFunction row, void *context);

// The folder for spill files: dir, else $TMPDIR, else /tmp.
std::string spillfolder(const std::string &dir);
