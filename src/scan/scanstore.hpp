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
#include <unordered_map>
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
using ScoreCounts = std::unordered_map<int64_t, ScoreCount>;

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
  // Sorts the last chunk: the worker's runs are complete.
  void seal();

  std::vector<ScoreCounts> counts;  // per profile
  std::vector<std::unique_ptr<HitRecord[]>> chunks;  // sorted runs in memory, then the filling one
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
