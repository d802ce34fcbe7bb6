// An indexed Fasta genome read through htslib's faidx, and the merged intervals of a BED file
// over it: what scan_addregions and the variant scoring share. Internal to the scan library
// (and the analyses built into it); the caller holds a ScanCall.
#pragma once

#include <htslib/faidx.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// The genome's sequences as its .fai lists them, and the index the letters are read with.
// One ScanGenome is used by one thread at a time (faidx keeps a file position): threads
// that read at once open one each.
struct ScanGenome {
  std::string path;
  faidx_t *index = nullptr;
  std::vector<std::string> names;  // in the order of the .fai
  std::vector<uint64_t> lengths;
  std::unordered_map<std::string, uint64_t> numbers;  // name -> place in names
  ScanGenome() = default;
  ScanGenome(const ScanGenome &) = delete;
  ScanGenome &operator=(const ScanGenome &) = delete;
  ~ScanGenome();
};

// Opens a Fasta genome (plain or bgzip) through its .fai (and .gzi), made when missing: a
// missing file, a folder, a pipe and gzip data that is not BGZF are refused by name; an
// index older than the genome is warned about.
int scanopengenome(const std::string &path, ScanGenome *genome);

// The letters start .. end - 1 of sequence number sequence, as the file holds them (case
// kept): 0, or -1 naming the region and the genome. A `>' among them (an index that no
// longer fits its genome) fails too. index: another faidx handle of the same genome, for a
// thread that reads beside others (null: the genome's own).
int scanfetchgenome(const ScanGenome &genome, uint64_t sequence, uint64_t start, uint64_t end,
                    std::string *letters, faidx_t *index = nullptr);

// A stretch of the genome: the intervals of a BED file that overlap or touch, merged.
struct ScanGenomeRegion {
  uint64_t sequence = 0;
  uint64_t start = 0;
  uint64_t end = 0;
  std::string names;  // the intervals' names in file order, each once, joined by `,'
};

// The intervals of a BED file (plain or gzip; 0-based, half-open; a header, `track' and
// `browser' lines and `#' comments skipped) checked against the genome and merged where they
// overlap or touch, in the genome's order and by start. A line that is no interval, a
// sequence the genome lacks or a region beyond its end fails naming the file and line; a
// file without any interval of positive length fails too. The genome is opened from
// genomepath once the BED file is read, unless it is open already.
int scanreadregions(const std::string &bedfile, const std::string &genomepath,
                    ScanGenome *genome, std::vector<ScanGenomeRegion> *regions);
