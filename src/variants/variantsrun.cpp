// variants_run: the VCF read in blocks of records, each block's stretches of the genome read
// through faidx and its alleles scored by per-call worker threads, the blocks' rows written
// in the VCF's order by the calling thread; and the background counted from the genome.
//
// Contents: letters and numbers; the background of a genome; regions; records and blocks;
// reading a block; scoring a block; writing a block; the run.
#include <htslib/bgzf.h>
#include <htslib/faidx.h>
#include <htslib/hfile.h>
#include <htslib/hts.h>
#include <htslib/kstring.h>
#include <htslib/vcf.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "base/error.hpp"
#include "base/output.hpp"
#include "base/threads.hpp"
#include "scan/scangenome.hpp"
#include "scan/scaninternal.hpp"
#include "variants/variants.hpp"
#include "variants/variantsinternal.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double secondssince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Records per block: enough to read the genome in few stretches, few enough that the blocks
// in flight stay small.
constexpr size_t blockrecords = 2048;
// Records whose stretches of the genome lie this close are read as one.
constexpr uint64_t stretchgap = 4096;
constexpr uint64_t longeststretch = uint64_t{1} << 20;
// Records named in the warning about REF letters that are not the genome's.
constexpr size_t namedmismatches = 5;
// The INFO field of the VCF output.
constexpr const char *infokey = "MOTIFS";

// ---- Letters and numbers -------------------------------------------------------------------

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

char complement(char c) {
  switch (c) {
    case 'A': return 'T';
    case 'C': return 'G';
    case 'G': return 'C';
    case 'T': case 'U': return 'A';
    default: return 'N';
  }
}

bool sameletters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

// An allele of A, C, G, T and N letters alone (either case).
bool plainallele(std::string_view allele) {
  if (allele.empty()) return false;
  for (const char c : allele) {
    switch (upper(c)) {
      case 'A': case 'C': case 'G': case 'T': case 'N': break;
      default: return false;
    }
  }
  return true;
}

void appendinteger(std::string *out, int64_t value) {
  char text[24];
  const auto result = std::to_chars(text, text + sizeof text, value);
  out->append(text, result.ptr);
}

// As the scan's tables write p-values: %.6e.
void appendreal(std::string *out, double value) {
  char text[40];
  const auto result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 6);
  out->append(text, result.ptr);
}

void appendfixed(std::string *out, double value) {
  char text[40];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3);
  out->append(text, result.ptr);
}

// A text inside an INFO value: the characters VCF reserves there percent-encoded.
void appendinfotext(std::string *out, std::string_view text) {
  static constexpr char hex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '%' || c == ',' || c == ';' || c == '=' || c == ':' || c == '|' || u <= ' ' ||
        u >= 0x7f) {
      out->push_back('%');
      out->push_back(hex[u >> 4]);
      out->push_back(hex[u & 15]);
    } else {
      out->push_back(c);
    }
  }
}

// ---- The background of a genome ------------------------------------------------------------

struct CountShared {
  const ScanGenome *genome;
  std::vector<std::pair<uint64_t, uint64_t>> pieces;  // sequence, start (pieces of 4 MB)
  std::atomic<uint64_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex lock;
  std::string message;
  uint64_t counts[4] = {};
};

constexpr uint64_t countpiece = uint64_t{4} << 20;

void *countbody(void *argument) {
  CountShared *shared = static_cast<CountShared *>(argument);
  const ScanGenome &genome = *shared->genome;
  faidx_t *index = fai_load3(genome.path.c_str(), nullptr, nullptr, 0);
  uint64_t counts[256] = {};
  std::string letters;
  int result = index == nullptr ? reporterror("cannot read the index of genome `%s'",
                                              genome.path.c_str())
                                : 0;
  while (result == 0 && !shared->failed.load()) {
    const uint64_t k = shared->next.fetch_add(1);
    if (k >= shared->pieces.size()) break;
    const auto [sequence, start] = shared->pieces[k];
    const uint64_t end = std::min(genome.lengths[sequence], start + countpiece);
    result = scanfetchgenome(genome, sequence, start, end, &letters, index);
    for (const char c : letters) counts[static_cast<unsigned char>(c)]++;
  }
  if (index != nullptr) fai_destroy(index);
  std::lock_guard<std::mutex> guard(shared->lock);
  if (result != 0) {
    if (!shared->failed.load()) shared->message = errormessageorunknown();
    shared->failed = true;
  }
  const char *letterset[4] = {"aA", "cC", "gG", "tTuU"};
  for (int code = 0; code < 4; code++) {
    for (const char *c = letterset[code]; *c != '\0'; c++) {
      shared->counts[code] += counts[static_cast<unsigned char>(*c)];
    }
  }
  return nullptr;
}

// Order-0 frequencies of a c g t over the whole genome, as the scan counts its sequences
// (u as t; N and other letters not counted), one per code of the DNA alphabet, the
// wildcard's 0.
int countgenome(const ScanGenome &genome, uint64_t threads, std::vector<double> *frequencies) {
  CountShared shared;
  shared.genome = &genome;
  for (uint64_t sequence = 0; sequence < genome.lengths.size(); sequence++) {
    for (uint64_t start = 0; start < genome.lengths[sequence]; start += countpiece) {
      shared.pieces.push_back({sequence, start});
    }
  }
  threads = std::max<uint64_t>(1, std::min<uint64_t>(threads, shared.pieces.size()));
  std::vector<CountShared *> items(threads, &shared);
  runeach(items.data(), threads, [](void *item) -> void * {
    return countbody(*static_cast<CountShared **>(item));
  });
  if (shared.failed) return reporterror("%s", shared.message.c_str());
  const uint64_t total = shared.counts[0] + shared.counts[1] + shared.counts[2] + shared.counts[3];
  for (int code = 0; code < 4; code++) {
    if (shared.counts[code] == 0) {
      return reporterror("genome `%s' holds no `%c': a background counted from it gives the "
                         "letter no chance; give a background (uniform or a file)",
                         genome.path.c_str(), "ACGT"[code]);
    }
  }
  frequencies->assign(5, 0.0);
  for (int code = 0; code < 4; code++) {
    (*frequencies)[code] = static_cast<double>(shared.counts[code]) / static_cast<double>(total);
  }
  return 0;
}

// ---- Regions -------------------------------------------------------------------------------

// The merged intervals of a BED file per genome sequence, by start.
struct RegionIndex {
  bool all = true;
  std::vector<std::vector<std::pair<uint64_t, uint64_t>>> intervals;
  // Whether [start, end) overlaps an interval of the sequence.
  bool overlaps(uint64_t sequence, uint64_t start, uint64_t end) const {
    if (all) return true;
    const auto &list = intervals[sequence];
    // The first interval that ends after start.
    auto found = std::upper_bound(list.begin(), list.end(), start,
                                  [](uint64_t value, const std::pair<uint64_t, uint64_t> &interval) {
                                    return value < interval.second;
                                  });
    return found != list.end() && found->first < std::max(end, start + 1);
  }
};

// ---- Records and blocks ----------------------------------------------------------------------

// One record as the scoring needs it; its texts in the block's arena.
struct Record {
  uint64_t number = 0;
  const std::string *chromosome = nullptr;
  int64_t sequence = -1;   // in the genome; -1: skipped (a missing contig)
  int64_t position = 0;    // POS - 1
  uint64_t id = 0, idlength = 0;  // arena offsets
  uint32_t alleles = 0;           // REF and the ALTs
  uint64_t firstallele = 0;       // index into the block's allele offsets
};

struct AlleleSpan {
  uint64_t offset, length;
};

// A reported pair, as a row function sees it; texts in the block's arenas.
struct StoredRow {
  uint32_t record;  // in the block
  uint32_t altnumber;
  uint32_t motif;
  char refstrand, altstrand;
  uint64_t refstart, altstart;
  int64_t refscore, altscore;
  double refpvalue, altpvalue, log2ratio;
  VariantEffect effect;
  uint64_t refsequence, altsequence;  // offsets into windowtext, each motif length long
  uint32_t reflength, altlength;
};

struct Block {
  uint64_t serial = 0;
  std::vector<Record> records;
  std::string arena;                 // ids and alleles
  std::vector<AlleleSpan> alleles;
  std::vector<bcf1_t *> vcf;         // the records themselves, for the VCF output
  // Results.
  std::string text;                  // TSV rows
  std::vector<std::string> info;     // VCF: the MOTIFS value of every record (empty: none)
  std::vector<StoredRow> rows;
  std::string windowtext;
  uint64_t alleles_scored = 0, refmismatch = 0, symbolic = 0, longindel = 0, outside = 0,
           missingcontig = 0;
  std::vector<std::pair<uint32_t, std::string>> mismatches;  // by record, named
  bool failed = false;
  std::string message;
  ~Block() {
    for (bcf1_t *record : vcf) bcf_destroy(record);
  }
  std::string_view textof(uint64_t offset, uint64_t length) const {
    return std::string_view(arena).substr(offset, length);
  }
  std::string_view allele(const Record &record, uint32_t k) const {
    const AlleleSpan &span = alleles[record.firstallele + k];
    return textof(span.offset, span.length);
  }
  void clear() {
    records.clear();
    arena.clear();
    alleles.clear();
    text.clear();
    info.clear();
    rows.clear();
    windowtext.clear();
    alleles_scored = refmismatch = symbolic = longindel = outside = missingcontig = 0;
    mismatches.clear();
    failed = false;
    message.clear();
  }
};

// The exact p-values of one motif's strand: the table in use, read without a lock. Only one
// thread (under the lock) makes a deeper one; the one it replaces is retired, and freed once
// every worker has finished the block it was scoring then (no worker holds a table from one
// block to the next).
struct TailSlot {
  std::mutex lock;
  std::atomic<const ScanTail *> current{nullptr};
  std::unique_ptr<ScanTail> table;  // what current points to
  int64_t lowest = 0;  // the first table reaches down to this score at least
};

struct RetiredTail {
  std::unique_ptr<ScanTail> table;
  std::vector<uint64_t> blocks;  // the workers' blocks finished when it was retired
};

// What every thread of a run reads, and the reader's state (under readlock).
struct Run {
  const ScanMotifs *motifs = nullptr;
  const VariantOptions *options = nullptr;
  const VariantOutput *output = nullptr;
  const ScanGenome *genome = nullptr;
  const RegionIndex *regions = nullptr;
  const VariantMatrices *matrices = nullptr;
  std::vector<std::string> names;  // the motifs' unique names
  // The exact p-values per motif and strand; the tables replaced, and the blocks every
  // worker has finished (UINT64_MAX once it has ended).
  std::unique_ptr<TailSlot[]> tails;
  uint64_t workers = 1;
  std::unique_ptr<std::atomic<uint64_t>[]> finished;
  std::mutex retiredlock;
  std::vector<RetiredTail> retired;
  // The reader.
  std::mutex readlock;
  std::string path;
  htsFile *file = nullptr;
  bcf_hdr_t *header = nullptr;
  bcf1_t *scratch = nullptr;
  bool ended = false;
  bool hadinfo = false;  // the VCF declared the INFO field already
  uint64_t recordsread = 0;
  uint64_t nextserial = 0;
  std::deque<std::string> contignames;     // per VCF contig id, as read
  std::vector<int64_t> contigsequence;     // VCF contig id -> genome sequence, -1 missing,
                                           // -2 not looked up yet
  std::vector<std::string> missingnames;   // contigs skipped, in the order met
  std::atomic<uint64_t> bytesread{0};
  uint64_t bytestotal = 0;
  ~Run() {
    if (scratch != nullptr) bcf_destroy(scratch);
    if (header != nullptr) bcf_hdr_destroy(header);
    if (file != nullptr) hts_close(file);
  }
};

// A table replaced by a deeper one: freed at once with one worker, else kept until every
// worker has finished the block it is in; those retired before that are freed now.
void retire(Run *run, std::unique_ptr<ScanTail> table) {
  if (run->workers <= 1) return;
  std::lock_guard<std::mutex> guard(run->retiredlock);
  std::vector<RetiredTail> kept;
  for (RetiredTail &retired : run->retired) {
    bool passed = true;
    for (uint64_t w = 0; w < run->workers && passed; w++) {
      passed = run->finished[w].load(std::memory_order_acquire) > retired.blocks[w];
    }
    if (!passed) kept.push_back(std::move(retired));
  }
  run->retired.swap(kept);
  RetiredTail retired{std::move(table), std::vector<uint64_t>(run->workers)};
  for (uint64_t w = 0; w < run->workers; w++) {
    retired.blocks[w] = run->finished[w].load(std::memory_order_acquire);
  }
  run->retired.push_back(std::move(retired));
}

// The p-value of a score of a motif's strand, from the strand's part of the exact
// distribution in use so far, made deeper first when it does not reach the score.
int pvalueof(Run *run, uint32_t motif, bool reverse, int64_t score, double *ret_pvalue) {
  TailSlot &slot = run->tails[uint64_t{motif} * 2 + (reverse ? 1 : 0)];
  const ScanTail *tail = slot.current.load(std::memory_order_acquire);
  if (tail != nullptr && scantaillookup(*tail, score, ret_pvalue)) return 0;
  std::lock_guard<std::mutex> guard(slot.lock);
  tail = slot.current.load(std::memory_order_acquire);
  if (tail != nullptr && scantaillookup(*tail, score, ret_pvalue)) return 0;
  auto deeper = std::make_unique<ScanTail>();
  const ScanStrand strand = reverse ? SCAN_STRAND_REVERSE : SCAN_STRAND_FORWARD;
  if (scantailcompute(*run->motifs, motif, strand, std::min(score, slot.lowest), tail,
                      deeper.get()) != 0) {
    return -1;
  }
  if (!scantaillookup(*deeper, score, ret_pvalue)) return internalerror();
  slot.current.store(deeper.get(), std::memory_order_release);
  std::unique_ptr<ScanTail> old = std::move(slot.table);
  slot.table = std::move(deeper);
  if (old != nullptr) retire(run, std::move(old));
  return 0;
}

// Asks for the memory of a p-value to be brought near, as pvalueof will read it.
void prefetchpvalue(const Run *run, uint32_t motif, bool reverse, int64_t score) {
  const TailSlot &slot = run->tails[uint64_t{motif} * 2 + (reverse ? 1 : 0)];
  const ScanTail *tail = slot.current.load(std::memory_order_acquire);
  if (tail == nullptr) return;
  const void *place = scantailplace(*tail, score);
  if (place != nullptr) __builtin_prefetch(place);
}

// ---- Reading a block ---------------------------------------------------------------------------

// Where the reader is in the file, for the progress.
uint64_t fileoffset(htsFile *file) {
  if (file->is_bgzf) return static_cast<uint64_t>(file->fp.bgzf->block_address);
  if (file->fp.hfile != nullptr) {
    const off_t offset = htell(file->fp.hfile);
    return offset < 0 ? 0 : static_cast<uint64_t>(offset);
  }
  return 0;
}

// The genome sequence of a VCF contig: -1 when the genome lacks it (a failure unless such
// records are skipped).
int contigof(Run *run, int rid, int64_t position, int64_t *ret_sequence) {
  if (rid < 0) return reporterror("a record of `%s' names no contig", run->path.c_str());
  while (run->contigsequence.size() <= static_cast<size_t>(rid)) {
    run->contigsequence.push_back(-2);
    run->contignames.emplace_back();
  }
  if (run->contigsequence[rid] == -2) {
    const char *name = bcf_hdr_id2name(run->header, rid);
    run->contignames[rid] = name != nullptr ? name : "";
    const auto found = run->genome->numbers.find(run->contignames[rid]);
    run->contigsequence[rid] = found == run->genome->numbers.end() ? -1 : static_cast<int64_t>(found->second);
    if (run->contigsequence[rid] == -1) {
      if (!run->options->skipmissingcontigs) {
        return reporterror("contig `%s' of `%s' is not in genome `%s' (record %lu, at %s:%ld)",
                           run->contignames[rid].c_str(), run->path.c_str(),
                           run->genome->path.c_str(),
                           static_cast<unsigned long>(run->recordsread + 1),
                           run->contignames[rid].c_str(), static_cast<long>(position + 1));
      }
      run->missingnames.push_back(run->contignames[rid]);
    }
  }
  *ret_sequence = run->contigsequence[rid];
  return 0;
}

// Up to blockrecords records into block (under the read lock): 0, or -1 with the message.
int readblock(Run *run, Block *block) {
  const bool keep = run->output->format == VARIANT_FORMAT_VCF;
  while (block->records.size() < blockrecords) {
    const size_t k = block->records.size();
    if (keep && block->vcf.size() <= k) block->vcf.push_back(bcf_init());
    bcf1_t *record = keep ? block->vcf[k] : run->scratch;
    const int status = bcf_read(run->file, run->header, record);
    if (status == -1) {
      run->ended = true;
      break;
    }
    if (status < -1 || bcf_unpack(record, BCF_UN_STR) != 0) {
      run->ended = true;
      return reporterror("cannot read `%s': record %lu is damaged or no VCF record",
                         run->path.c_str(), static_cast<unsigned long>(run->recordsread + 1));
    }
    Record parsed;
    parsed.number = run->recordsread;
    if (contigof(run, record->rid, record->pos, &parsed.sequence) != 0) {
      run->ended = true;
      return -1;
    }
    run->recordsread++;
    parsed.chromosome = &run->contignames[record->rid];
    parsed.position = record->pos;
    const char *id = record->d.id != nullptr ? record->d.id : ".";
    parsed.id = block->arena.size();
    parsed.idlength = std::strlen(id);
    block->arena.append(id, parsed.idlength);
    parsed.alleles = record->n_allele;
    parsed.firstallele = block->alleles.size();
    for (uint32_t a = 0; a < record->n_allele; a++) {
      const char *allele = record->d.allele[a];
      const uint64_t length = std::strlen(allele);
      block->alleles.push_back({block->arena.size(), length});
      block->arena.append(allele, length);
    }
    block->records.push_back(parsed);
  }
  run->bytesread = fileoffset(run->file);
  return 0;
}

// ---- Scoring a block -----------------------------------------------------------------------------

// One allele of a record, trimmed: the genome's letters a .. b - 1 replaced by insert.
struct Change {
  uint32_t altnumber;
  uint64_t a, b;
  std::string_view insert;
};

// A stretch of the genome read once for the records that lie in it.
struct Stretch {
  uint64_t sequence, start, end;
};

// The best windows of a motif's strands on an allele, whose p-values are to be looked up.
struct StrandBests {
  ProfileBest strand[2];
};

struct Scorer {
  Run *run = nullptr;
  faidx_t *index = nullptr;  // this thread's own
  VariantFilter filter;
  std::string letters;         // a stretch as read, in upper case
  std::vector<uint8_t> codes;  // its codes
  std::string altletters;
  std::vector<uint8_t> altcodes;
  std::vector<StrandBests> bests;
  ~Scorer() {
    if (index != nullptr) fai_destroy(index);
  }
};

// The best window of one allele over the strands.
struct AlleleBest {
  bool found = false;
  char strand = 0;
  uint64_t start = 0;  // in the allele's text
  int64_t score = 0;
  double pvalue = 1.0;
  uint32_t length = 0;
};

// The allele's best window of the strands' best ones.
void strandbests(const VariantMatrices &matrices, uint32_t motif, const AlleleText &text,
                 StrandBests *bests) {
  for (uint32_t strand = 0; strand < 2; strand++) {
    bests->strand[strand] =
        strand < matrices.strands
            ? variantbest(matrices.profiles[motif * matrices.strands + strand], text)
            : ProfileBest{};
  }
}

// The p-value of a score when the strand's table reaches it (exact); otherwise the table's
// largest p-value, which the score's is at least (a bound): 0, or -1 when the first table
// cannot be made.
int pvaluebound(Run *run, uint32_t motif, bool reverse, int64_t score, double *ret_pvalue,
                bool *ret_exact) {
  const TailSlot &slot = run->tails[uint64_t{motif} * 2 + (reverse ? 1 : 0)];
  const ScanTail *tail = slot.current.load(std::memory_order_acquire);
  if (tail == nullptr) {
    *ret_exact = true;
    return pvalueof(run, motif, reverse, score, ret_pvalue);
  }
  *ret_exact = scantaillookup(*tail, score, ret_pvalue);
  if (!*ret_exact) *ret_pvalue = tail->distribution.tail[0];
  return 0;
}

int bestof(Scorer *scorer, uint32_t motif, const StrandBests &bests, AlleleBest *best) {
  Run *run = scorer->run;
  const VariantMatrices &matrices = *run->matrices;
  *best = AlleleBest{};
  // A strand's p-value is made exact (its table deepened) only when it may be the smaller:
  // the other strand's best window often scores far below what the tables hold, and a bound
  // tells it apart.
  double pvalues[2] = {1.0, 1.0};
  bool exact[2] = {true, true};
  for (uint32_t strand = 0; strand < matrices.strands; strand++) {
    const ProfileBest &found = bests.strand[strand];
    if (found.found &&
        pvaluebound(run, motif, strand == 1, found.score, &pvalues[strand], &exact[strand]) != 0) {
      return -1;
    }
  }
  for (uint32_t strand = 0; strand < matrices.strands; strand++) {
    const ProfileBest &found = bests.strand[strand];
    if (!found.found || exact[strand]) continue;
    const uint32_t other = 1 - strand;
    const bool beaten = matrices.strands == 2 && bests.strand[other].found && exact[other] &&
                        pvalues[other] < pvalues[strand];
    if (beaten) continue;
    if (pvalueof(run, motif, strand == 1, found.score, &pvalues[strand]) != 0) return -1;
    exact[strand] = true;
  }
  for (uint32_t strand = 0; strand < matrices.strands; strand++) {
    const ProfileBest &found = bests.strand[strand];
    if (!found.found || !exact[strand]) continue;
    const double pvalue = pvalues[strand];
    // The smallest p-value, then the higher score; + before - where both are equal.
    if (!best->found || pvalue < best->pvalue ||
        (pvalue == best->pvalue && found.score > best->score)) {
      best->found = true;
      best->strand = strand == 1 ? '-' : '+';
      best->start = found.start;
      best->score = found.score;
      best->pvalue = pvalue;
      best->length = matrices.profiles[motif * matrices.strands + strand].length;
    }
  }
  return 0;
}

// A best window's letters into out: upper case, the changed ones lower case, reverse
// complemented on the - strand.
void windowletters(std::string_view letters, const AlleleText &text, const AlleleBest &best,
                   std::string *out) {
  const size_t from = out->size();
  for (uint32_t k = 0; k < best.length; k++) {
    const uint64_t at = best.start + k;
    char c = letters[at];
    if (best.strand == '-') c = complement(c);
    if (at >= text.changed && at < text.changedend) c = lower(c);
    out->push_back(c);
  }
  if (best.strand == '-') std::reverse(out->begin() + static_cast<ptrdiff_t>(from), out->end());
}

// The TSV row of a stored row.
void appendtsv(const Run &run, const Block &block, const StoredRow &row, std::string *out) {
  const Record &record = block.records[row.record];
  const ScanMotif &motif = run.motifs->motifs[row.motif];
  out->append(*record.chromosome);
  out->push_back('\t');
  appendinteger(out, record.position + 1);
  out->push_back('\t');
  out->append(block.textof(record.id, record.idlength));
  out->push_back('\t');
  out->append(block.allele(record, 0));
  out->push_back('\t');
  out->append(block.allele(record, row.altnumber));
  out->push_back('\t');
  out->append(motif.id);
  out->push_back('\t');
  out->append(motif.accession);
  out->push_back('\t');
  out->append(run.names[row.motif]);
  for (int allele = 0; allele < 2; allele++) {
    const char strand = allele == 0 ? row.refstrand : row.altstrand;
    out->push_back('\t');
    if (strand == 0) {
      out->append("NA\tNA");
      continue;
    }
    out->push_back(strand);
    out->push_back('\t');
    appendinteger(out, static_cast<int64_t>(allele == 0 ? row.refstart : row.altstart));
  }
  for (int allele = 0; allele < 2; allele++) {
    out->push_back('\t');
    if ((allele == 0 ? row.refstrand : row.altstrand) == 0) {
      out->append("NA");
    } else {
      appendinteger(out, allele == 0 ? row.refscore : row.altscore);
    }
  }
  out->push_back('\t');
  appendreal(out, row.refpvalue);
  out->push_back('\t');
  appendreal(out, row.altpvalue);
  out->push_back('\t');
  appendfixed(out, row.log2ratio);
  out->push_back('\t');
  out->append(variants_effectname(row.effect));
  for (int allele = 0; allele < 2; allele++) {
    out->push_back('\t');
    const uint32_t length = allele == 0 ? row.reflength : row.altlength;
    if (length == 0) {
      out->append("NA");
    } else {
      out->append(block.windowtext, allele == 0 ? row.refsequence : row.altsequence, length);
    }
  }
  out->push_back('\n');
}

// The record's MOTIFS entry of a stored row: ALT number|motif|effect|log2 ratio|p-values.
void appendinfo(const Run &run, const StoredRow &row, std::string *out) {
  if (!out->empty()) out->push_back(',');
  appendinteger(out, row.altnumber);
  out->push_back('|');
  appendinfotext(out, run.names[row.motif]);
  out->push_back('|');
  out->append(variants_effectname(row.effect));
  out->push_back('|');
  appendfixed(out, row.log2ratio);
  out->push_back('|');
  appendreal(out, row.refpvalue);
  out->push_back('|');
  appendreal(out, row.altpvalue);
}

// The rows of one allele of a record.
int scoreallele(Scorer *scorer, Block *block, uint32_t recordindex, const Change &change,
                const Stretch &stretch) {
  Run *run = scorer->run;
  const VariantMatrices &matrices = *run->matrices;
  const uint64_t reach = matrices.longest > 0 ? matrices.longest - 1 : 0;
  const uint64_t sequencelength = run->genome->lengths[stretch.sequence];
  const uint64_t low = change.a > reach ? change.a - reach : 0;
  const uint64_t high = std::min(sequencelength, change.b + reach);
  // The reference's letters low .. high - 1, and the alternative's around the same change.
  const uint64_t offset = low - stretch.start;
  AlleleText ref;
  ref.codes = scorer->codes.data() + offset;
  ref.length = high - low;
  ref.changed = change.a - low;
  ref.changedend = change.b - low;
  const std::string_view refletters = std::string_view(scorer->letters).substr(offset, high - low);
  std::string &altletters = scorer->altletters;
  altletters.assign(refletters.substr(0, ref.changed));
  for (const char c : change.insert) altletters.push_back(upper(c));
  altletters.append(refletters.substr(ref.changedend));
  scorer->altcodes.resize(altletters.size());
  for (size_t k = 0; k < altletters.size(); k++) scorer->altcodes[k] = variantcode(altletters[k]);
  AlleleText alt;
  alt.codes = scorer->altcodes.data();
  alt.length = altletters.size();
  alt.changed = ref.changed;
  alt.changedend = ref.changed + change.insert.size();

  // The motifs either allele may reach the threshold of, then their exact best windows.
  VariantFilter *filter = &scorer->filter;
  variantfilter_begin(filter, run->motifs->motifs.size());
  if (change.b == change.a + 1 && change.insert.size() == 1 &&
      variantcode(change.insert[0]) != VARIANT_OTHER) {
    variantfiltersnv(matrices, ref, variantcode(change.insert[0]), filter);
  } else {
    variantfilter(matrices, ref, filter);
    variantfilter(matrices, alt, filter);
  }
  std::sort(filter->passed.begin(), filter->passed.end());
  const VariantOptions &options = *run->options;
  // Every best window first, its p-value's memory asked for; then the p-values.
  std::vector<StrandBests> &bests = scorer->bests;
  bests.resize(2 * filter->passed.size());
  for (size_t k = 0; k < filter->passed.size(); k++) {
    const uint32_t motif = filter->passed[k];
    strandbests(matrices, motif, ref, &bests[2 * k]);
    strandbests(matrices, motif, alt, &bests[2 * k + 1]);
    for (const StrandBests &allele : {bests[2 * k], bests[2 * k + 1]}) {
      for (uint32_t strand = 0; strand < 2; strand++) {
        if (allele.strand[strand].found) {
          prefetchpvalue(run, motif, strand == 1, allele.strand[strand].score);
        }
      }
    }
  }
  for (size_t k = 0; k < filter->passed.size(); k++) {
    const uint32_t motif = filter->passed[k];
    AlleleBest refbest, altbest;
    if (bestof(scorer, motif, bests[2 * k], &refbest) != 0 ||
        bestof(scorer, motif, bests[2 * k + 1], &altbest) != 0) {
      return -1;
    }
    const bool refpasses = refbest.found && refbest.pvalue <= options.pvalue;
    const bool altpasses = altbest.found && altbest.pvalue <= options.pvalue;
    if (!refpasses && !altpasses) continue;
    StoredRow row{};
    row.record = recordindex;
    row.altnumber = change.altnumber;
    row.motif = motif;
    row.log2ratio = std::log2(refbest.pvalue / altbest.pvalue);
    if (!(std::fabs(row.log2ratio) >= options.minchange)) continue;
    row.effect = refpasses && altpasses ? VARIANT_BOTH : refpasses ? VARIANT_LOSS : VARIANT_GAIN;
    row.refstrand = refbest.strand;
    row.altstrand = altbest.strand;
    row.refstart = low + refbest.start + 1;
    row.altstart = low + altbest.start + 1;
    row.refscore = refbest.found ? refbest.score : SCAN_NOSCORE;
    row.altscore = altbest.found ? altbest.score : SCAN_NOSCORE;
    row.refpvalue = refbest.pvalue;
    row.altpvalue = altbest.pvalue;
    row.refsequence = block->windowtext.size();
    if (refbest.found) windowletters(refletters, ref, refbest, &block->windowtext);
    row.reflength = refbest.found ? refbest.length : 0;
    row.altsequence = block->windowtext.size();
    if (altbest.found) windowletters(altletters, alt, altbest, &block->windowtext);
    row.altlength = altbest.found ? altbest.length : 0;
    block->rows.push_back(row);
  }
  return 0;
}

// The alleles of a record that can be scored, trimmed; the others counted into the block
// when count is set.
void changesof(const Run &run, Block *block, const Record &record, bool count,
               std::vector<Change> *changes) {
  changes->clear();
  const std::string_view ref = block->allele(record, 0);
  const bool plainref = plainallele(ref);
  for (uint32_t k = 1; k < record.alleles; k++) {
    const std::string_view alt = block->allele(record, k);
    if (!plainref || !plainallele(alt)) {
      if (count) block->symbolic++;
      continue;
    }
    size_t prefix = 0;
    while (prefix < ref.size() && prefix < alt.size() && upper(ref[prefix]) == upper(alt[prefix])) {
      prefix++;
    }
    size_t suffix = 0;
    while (suffix < ref.size() - prefix && suffix < alt.size() - prefix &&
           upper(ref[ref.size() - 1 - suffix]) == upper(alt[alt.size() - 1 - suffix])) {
      suffix++;
    }
    const size_t removed = ref.size() - prefix - suffix;
    const size_t inserted = alt.size() - prefix - suffix;
    if (removed == 0 && inserted == 0) continue;  // the ALT is the REF: nothing changes
    if (std::max(removed, inserted) > run.options->maxindel) {
      if (count) block->longindel++;
      continue;
    }
    const uint64_t a = static_cast<uint64_t>(record.position) + prefix;
    changes->push_back({k, a, a + removed, alt.substr(prefix, inserted)});
  }
}

// Scores every record of a block: 0, or -1 with the message in the block.
int scoreblock(Scorer *scorer, Block *block) {
  Run *run = scorer->run;
  const VariantMatrices &matrices = *run->matrices;
  const uint64_t reach = matrices.longest;
  const bool vcf = run->output->format == VARIANT_FORMAT_VCF;
  if (vcf) block->info.assign(block->records.size(), std::string());
  // The records to score and the stretch of the genome each needs.
  struct Need {
    uint32_t record;
    Stretch stretch;
  };
  std::vector<Need> needs;
  std::vector<Change> changes;
  for (uint32_t i = 0; i < block->records.size(); i++) {
    const Record &record = block->records[i];
    if (record.sequence < 0) {
      block->missingcontig++;
      continue;
    }
    const uint64_t sequence = static_cast<uint64_t>(record.sequence);
    const uint64_t start = static_cast<uint64_t>(record.position);
    const uint64_t reflength = block->allele(record, 0).size();
    if (!run->regions->overlaps(sequence, start, start + reflength)) {
      block->outside++;
      continue;
    }
    changesof(*run, block, record, true, &changes);
    if (changes.empty()) continue;
    // A record beyond the end of its contig reads nothing (its REF does not match).
    const uint64_t length = run->genome->lengths[sequence];
    const uint64_t low = std::min(length, start > reach ? start - reach : 0);
    const uint64_t high = std::min(length, start + reflength + reach);
    needs.push_back({i, {sequence, low, std::max(low, high)}});
  }
  // Stretches in genome order, merged where they lie close; each read once.
  std::vector<uint32_t> order(needs.size());
  for (uint32_t k = 0; k < order.size(); k++) order[k] = k;
  std::sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
    const Stretch &a = needs[x].stretch, &b = needs[y].stretch;
    return a.sequence != b.sequence ? a.sequence < b.sequence : a.start < b.start;
  });
  std::vector<uint32_t> stretchof(needs.size());
  std::vector<Stretch> stretches;
  for (const uint32_t k : order) {
    const Stretch &s = needs[k].stretch;
    if (stretches.empty() || stretches.back().sequence != s.sequence ||
        s.start > stretches.back().end + stretchgap ||
        std::max(stretches.back().end, s.end) - stretches.back().start > longeststretch) {
      stretches.push_back(s);
    } else {
      stretches.back().end = std::max(stretches.back().end, s.end);
    }
    stretchof[k] = static_cast<uint32_t>(stretches.size() - 1);
  }
  // The records stretch by stretch; their rows are put back in the block's order after.
  std::vector<std::pair<uint32_t, uint32_t>> rowsof(block->records.size(), {0, 0});
  std::vector<uint32_t> bystretch(order);
  size_t next = 0;
  for (uint32_t s = 0; s < stretches.size(); s++) {
    const Stretch &stretch = stretches[s];
    if (scanfetchgenome(*run->genome, stretch.sequence, stretch.start, stretch.end,
                        &scorer->letters, scorer->index) != 0) {
      return -1;
    }
    scorer->codes.resize(scorer->letters.size());
    for (size_t k = 0; k < scorer->letters.size(); k++) {
      scorer->letters[k] = upper(scorer->letters[k]);
      scorer->codes[k] = variantcode(scorer->letters[k]);
    }
    for (; next < bystretch.size() && stretchof[bystretch[next]] == s; next++) {
      const uint32_t i = needs[bystretch[next]].record;
      const Record &record = block->records[i];
      const std::string_view ref = block->allele(record, 0);
      const uint64_t start = static_cast<uint64_t>(record.position);
      const uint64_t length = run->genome->lengths[stretch.sequence];
      const bool fits = start + ref.size() <= length;
      const std::string_view genome =
          fits ? std::string_view(scorer->letters).substr(start - stretch.start, ref.size())
               : std::string_view();
      if (!fits || !sameletters(ref, genome)) {
        // Named later in the block's order, the first few of them.
        block->refmismatch++;
        std::string named = *record.chromosome + ":" + std::to_string(start + 1) + " REF " +
                            std::string(ref.substr(0, 20)) + (ref.size() > 20 ? "..." : "");
        named += fits ? " (genome " + std::string(genome.substr(0, 20)) +
                            (genome.size() > 20 ? "...)" : ")")
                      : " (beyond the end of " + *record.chromosome + ")";
        block->mismatches.push_back({i, std::move(named)});
        continue;
      }
      changesof(*run, block, record, false, &changes);
      const uint32_t firstrow = static_cast<uint32_t>(block->rows.size());
      for (const Change &change : changes) {
        block->alleles_scored++;
        if (scoreallele(scorer, block, i, change, stretch) != 0) return -1;
      }
      rowsof[i] = {firstrow, static_cast<uint32_t>(block->rows.size())};
    }
  }
  // The records whose REF is not the genome's, and the rows, in the block's order of records.
  std::sort(block->mismatches.begin(), block->mismatches.end());
  if (block->mismatches.size() > namedmismatches) block->mismatches.resize(namedmismatches);
  std::vector<StoredRow> rows;
  rows.reserve(block->rows.size());
  for (uint32_t i = 0; i < block->records.size(); i++) {
    for (uint32_t k = rowsof[i].first; k < rowsof[i].second; k++) rows.push_back(block->rows[k]);
  }
  block->rows.swap(rows);
  for (const StoredRow &row : block->rows) {
    if (run->output->format == VARIANT_FORMAT_TSV) appendtsv(*run, *block, row, &block->text);
    if (vcf) appendinfo(*run, row, &block->info[row.record]);
  }
  return 0;
}

}  // namespace

namespace {

// ---- Writing a block ---------------------------------------------------------------------------

struct Totals {
  VariantSummary *summary;
  std::vector<std::string> mismatches;
  kstring_t line = {0, 0, nullptr};
  ~Totals() { std::free(line.s); }
};

int writestream(FILE *stream, const char *text, size_t length) {
  if (stream == nullptr || length == 0) return 0;
  errno = 0;
  if (std::fwrite(text, 1, length, stream) != length || std::ferror(stream) != 0) {
    return reporterror("cannot write the output: %s", std::strerror(errno != 0 ? errno : EIO));
  }
  return 0;
}

// A scored block out, on the calling thread: its rows to the row function and the stream,
// its counts into the totals.
int writeblock(Run *run, Block *block, Totals *totals) {
  const VariantOutput &output = *run->output;
  VariantSummary *summary = totals->summary;
  if (output.row != nullptr) {
    for (const StoredRow &stored : block->rows) {
      const Record &record = block->records[stored.record];
      VariantRow row;
      row.record = record.number;
      row.chromosome = *record.chromosome;
      row.position = static_cast<uint64_t>(record.position) + 1;
      row.id = block->textof(record.id, record.idlength);
      row.ref = block->allele(record, 0);
      row.alt = block->allele(record, stored.altnumber);
      row.altnumber = stored.altnumber;
      row.motif = stored.motif;
      row.motifname = run->names[stored.motif];
      row.refstrand = stored.refstrand;
      row.altstrand = stored.altstrand;
      row.refstart = stored.refstrand != 0 ? stored.refstart : 0;
      row.altstart = stored.altstrand != 0 ? stored.altstart : 0;
      row.refscore = stored.refscore;
      row.altscore = stored.altscore;
      row.refpvalue = stored.refpvalue;
      row.altpvalue = stored.altpvalue;
      row.refsequence = std::string_view(block->windowtext).substr(stored.refsequence, stored.reflength);
      row.altsequence = std::string_view(block->windowtext).substr(stored.altsequence, stored.altlength);
      row.log2ratio = stored.log2ratio;
      row.effect = stored.effect;
      if (output.row(row, output.rowcontext) != 0) {
        if (geterrorcode() == 0) reporterror("cancelled");
        return -1;
      }
    }
  }
  if (output.format == VARIANT_FORMAT_TSV &&
      writestream(output.stream, block->text.data(), block->text.size()) != 0) {
    return -1;
  }
  if (output.format == VARIANT_FORMAT_VCF) {
    // The reader may add contigs to the header while records are formatted: both under the
    // read lock.
    std::lock_guard<std::mutex> guard(run->readlock);
    for (size_t k = 0; k < block->records.size(); k++) {
      bcf1_t *record = block->vcf[k];
      int updated = 0;
      if (!block->info[k].empty()) {
        updated = bcf_update_info_string(run->header, record, infokey, block->info[k].c_str());
      } else if (run->hadinfo) {
        updated = bcf_update_info(run->header, record, infokey, nullptr, 0, BCF_HT_STR);
      }
      kstring_t *line = &totals->line;
      line->l = 0;
      if (updated < 0 || vcf_format(run->header, record, line) != 0) {
        return reporterror("cannot write record %lu of `%s' as VCF",
                           static_cast<unsigned long>(block->records[k].number + 1),
                           run->path.c_str());
      }
      if (writestream(output.stream, line->s, line->l) != 0) return -1;
    }
  }
  summary->records += block->records.size();
  summary->alleles += block->alleles_scored;
  summary->rows += block->rows.size();
  summary->refmismatch += block->refmismatch;
  summary->symbolic += block->symbolic;
  summary->longindel += block->longindel;
  summary->outside += block->outside;
  summary->missingcontig += block->missingcontig;
  for (auto &named : block->mismatches) {
    if (totals->mismatches.size() < namedmismatches) {
      totals->mismatches.push_back(std::move(named.second));
    }
  }
  return 0;
}

// ---- The run -----------------------------------------------------------------------------------

// Reads and scores the next block: false when the VCF has ended (the block holds nothing).
bool fillblock(Run *run, Scorer *scorer, Block *block, uint64_t *serial) {
  block->clear();
  {
    std::lock_guard<std::mutex> guard(run->readlock);
    if (run->ended) return false;
    if (readblock(run, block) != 0) {
      block->failed = true;
      block->message = errormessageorunknown();
    }
    if (block->records.empty() && !block->failed) return false;
    // Blocks are numbered in the order they are read: the order they are written in.
    block->serial = run->nextserial++;
    *serial = block->serial;
  }
  if (!block->failed && scoreblock(scorer, block) != 0) {
    block->failed = true;
    block->message = errormessageorunknown();
  }
  return true;
}

struct Pipeline {
  Run *run = nullptr;
  std::mutex lock;
  std::condition_variable changed;
  std::map<uint64_t, std::unique_ptr<Block>> done;
  std::vector<std::unique_ptr<Block>> spare;
  uint64_t inflight = 0;  // blocks taken and not yet written
  uint64_t limit = 0;
  uint64_t running = 0;
  bool stop = false;
  std::vector<std::unique_ptr<Scorer>> scorers;
  std::atomic<uint64_t> nextscorer{0};
};

void *workerbody(void *argument) {
  Pipeline *pipe = static_cast<Pipeline *>(argument);
  Run *run = pipe->run;
  const uint64_t worker = pipe->nextscorer.fetch_add(1);
  Scorer *scorer = pipe->scorers[worker].get();
  for (;;) {
    std::unique_ptr<Block> block;
    {
      std::unique_lock<std::mutex> guard(pipe->lock);
      pipe->changed.wait(guard, [&] { return pipe->stop || pipe->inflight < pipe->limit; });
      if (pipe->stop) break;
      pipe->inflight++;
      if (!pipe->spare.empty()) {
        block = std::move(pipe->spare.back());
        pipe->spare.pop_back();
      }
    }
    if (block == nullptr) block = std::make_unique<Block>();
    uint64_t serial = 0;
    const bool filled = fillblock(run, scorer, block.get(), &serial);
    // Between blocks the worker holds no p-value table.
    run->finished[worker].fetch_add(1, std::memory_order_release);
    std::lock_guard<std::mutex> guard(pipe->lock);
    if (!filled) {
      pipe->inflight--;
      pipe->spare.push_back(std::move(block));
      break;
    }
    pipe->done[serial] = std::move(block);
    pipe->changed.notify_all();
  }
  run->finished[worker].store(UINT64_MAX, std::memory_order_release);
  std::lock_guard<std::mutex> guard(pipe->lock);
  pipe->running--;
  pipe->changed.notify_all();
  return nullptr;
}

VariantProgress progressof(const Run &run, const VariantSummary &summary, Clock::time_point start) {
  VariantProgress progress;
  progress.records = summary.records;
  progress.rows = summary.rows;
  progress.bytesdone = run.bytesread.load();
  progress.bytestotal = run.bytestotal;
  if (progress.bytesdone > progress.bytestotal) progress.bytesdone = progress.bytestotal;
  progress.elapsed = secondssince(start);
  return progress;
}

bool cancelled(const VariantOptions &options) {
  return options.cancel != nullptr && options.cancel->load();
}

// The blocks read, scored and written: by the calling thread alone, or by worker threads
// while the calling thread writes them in order.
int runblocks(Run *run, uint64_t threads, Totals *totals, uint64_t *ret_threadsused) {
  const VariantOptions &options = *run->options;
  const Clock::time_point start = Clock::now();
  Clock::time_point lastprogress = start;
  const auto report = [&](bool last) {
    if (options.progress == nullptr) return 0;
    if (!last && secondssince(lastprogress) < options.progressinterval) return 0;
    lastprogress = Clock::now();
    VariantProgress progress = progressof(*run, *totals->summary, start);
    progress.finished = last;
    return options.progress(progress, options.progresscontext);
  };
  if (threads <= 1) {
    *ret_threadsused = 1;
    Scorer scorer;
    scorer.run = run;
    scorer.index = fai_load3(run->genome->path.c_str(), nullptr, nullptr, 0);
    if (scorer.index == nullptr) {
      return reporterror("cannot read the index of genome `%s'", run->genome->path.c_str());
    }
    Block block;
    uint64_t serial = 0;
    while (fillblock(run, &scorer, &block, &serial)) {
      if (block.failed) return reporterror("%s", block.message.c_str());
      if (writeblock(run, &block, totals) != 0) return -1;
      if (cancelled(options) || report(false) != 0) return reporterror("cancelled");
    }
    report(true);
    return 0;
  }
  Pipeline pipe;
  pipe.run = run;
  pipe.limit = 2 * threads + 1;
  for (uint64_t k = 0; k < threads; k++) {
    auto scorer = std::make_unique<Scorer>();
    scorer->run = run;
    scorer->index = fai_load3(run->genome->path.c_str(), nullptr, nullptr, 0);
    if (scorer->index == nullptr) {
      return reporterror("cannot read the index of genome `%s'", run->genome->path.c_str());
    }
    pipe.scorers.push_back(std::move(scorer));
  }
  std::vector<Thread> handles(threads);
  pipe.running = threads;
  const int64_t started = startthreads(handles.data(), threads, workerbody, &pipe);
  if (started < 0) return -1;
  {
    // Those that could not start never end (nor hold a table): the others may have ended
    // already.
    std::lock_guard<std::mutex> guard(pipe.lock);
    pipe.running -= threads - static_cast<uint64_t>(started);
    for (uint64_t w = static_cast<uint64_t>(started); w < threads; w++) {
      run->finished[w].store(UINT64_MAX, std::memory_order_release);
    }
  }
  *ret_threadsused = static_cast<uint64_t>(started);
  int result = 0;
  uint64_t written = 0;
  const auto interval = std::chrono::duration<double>(std::min(options.progressinterval, 0.05));
  for (;;) {
    std::unique_ptr<Block> block;
    bool finished = false;
    {
      std::unique_lock<std::mutex> guard(pipe.lock);
      pipe.changed.wait_for(guard, interval, [&] {
        return pipe.done.count(written) != 0 || pipe.running == 0;
      });
      const auto found = pipe.done.find(written);
      if (found != pipe.done.end()) {
        block = std::move(found->second);
        pipe.done.erase(found);
      } else if (pipe.running == 0) {
        finished = true;
      }
    }
    if (finished) break;
    if (block != nullptr) {
      if (block->failed) {
        result = reporterror("%s", block->message.c_str());
      } else {
        result = writeblock(run, block.get(), totals);
      }
      std::lock_guard<std::mutex> guard(pipe.lock);
      written++;
      pipe.inflight--;
      pipe.spare.push_back(std::move(block));
      pipe.changed.notify_all();
    }
    if (result == 0 && (cancelled(options) || report(false) != 0)) result = reporterror("cancelled");
    if (result != 0) break;
  }
  {
    std::lock_guard<std::mutex> guard(pipe.lock);
    pipe.stop = true;
    pipe.changed.notify_all();
  }
  {
    // A worker in the middle of a block ends it first; the reader learns of the stop too.
    std::lock_guard<std::mutex> guard(run->readlock);
    run->ended = true;
  }
  for (int64_t k = 0; k < started; k++) threadjoin(&handles[k], nullptr);
  if (result == 0) report(true);
  return result;
}

// The VCF or BCF file opened, its header read and, for the VCF output, the INFO field
// declared.
int openvariants(Run *run, const std::string &path, const VariantOutput &output) {
  run->path = path;
  if (path != "-") {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
      return reporterror("cannot open `%s': %s", path.c_str(), std::strerror(errno));
    }
    if (S_ISDIR(status.st_mode)) return reporterror("`%s' is a directory, not a VCF file", path.c_str());
    if (S_ISREG(status.st_mode)) run->bytestotal = static_cast<uint64_t>(status.st_size);
  }
  run->file = hts_open(path.c_str(), "r");
  if (run->file == nullptr) {
    return reporterror("cannot open `%s': %s", path.c_str(),
                       errno != 0 ? std::strerror(errno) : "not a file htslib reads");
  }
  const htsFormat *format = hts_get_format(run->file);
  if (format->category != variant_data || (format->format != vcf && format->format != bcf)) {
    return reporterror("`%s' is no VCF or BCF file", path.c_str());
  }
  run->header = bcf_hdr_read(run->file);
  if (run->header == nullptr) return reporterror("cannot read the header of `%s'", path.c_str());
  if (output.format != VARIANT_FORMAT_VCF) {
    // The samples' columns are not needed: they are not parsed.
    if (bcf_hdr_nsamples(run->header) > 0 && bcf_hdr_set_samples(run->header, nullptr, 0) < 0) {
      return reporterror("cannot read the header of `%s'", path.c_str());
    }
  } else {
    const int id = bcf_hdr_id2int(run->header, BCF_DT_ID, infokey);
    run->hadinfo = id >= 0 && bcf_hdr_idinfo_exists(run->header, BCF_HL_INFO, id);
    if (run->hadinfo && bcf_hdr_id2type(run->header, BCF_HL_INFO, id) != BCF_HT_STR) {
      return reporterror("`%s' declares an INFO field %s that holds no text: it cannot take "
                         "the motifs", path.c_str(), infokey);
    }
    if (!run->hadinfo) {
      const std::string line =
          std::string("##INFO=<ID=") + infokey +
          ",Number=.,Type=String,Description=\"Motif sites the ALT alleles make or break: "
          "ALT number|motif|gain, loss or both (its best window reaches the p-value cutoff "
          "on ALT, REF or both)|log2(REF p-value / ALT p-value)|REF p-value|ALT p-value\">";
      if (bcf_hdr_append(run->header, line.c_str()) != 0) {
        return reporterror("cannot declare the INFO field %s in the header of `%s'", infokey,
                           path.c_str());
      }
    }
    if (!output.commandline.empty()) {
      std::string line = "##zelko_variantsCommand=" + output.commandline;
      for (char &c : line) {
        if (c == '\n' || c == '\r') c = ' ';
      }
      bcf_hdr_append(run->header, line.c_str());
    }
    if (bcf_hdr_sync(run->header) != 0) {
      return reporterror("cannot declare the INFO field %s in the header of `%s'", infokey,
                         path.c_str());
    }
  }
  run->scratch = bcf_init();
  return 0;
}

// The motifs prepared for the DNA alphabet and the background.
int preparemotifs(ScanMotifs *motifs, const ScanGenome &genome, const VariantOptions &options,
                  uint64_t threads) {
  std::vector<double> counted;
  const bool counting = options.background.kind == SCAN_BACKGROUND_SEQUENCES;
  if (counting && countgenome(genome, threads, &counted) != 0) return -1;
  // The alphabet comes from the sequences: one letter stands for them.
  ScanSequences standin;
  standin.pending = ">standin\na\n";
  int result = scanloadsequences(&standin, SCAN_ALPHABET_DNA);
  if (result == 0) {
    result = scanpreparemotifs(motifs, standin, options.background, options.pseudocount,
                               counting ? &counted : nullptr);
  }
  const std::string message = result != 0 ? errormessageorunknown() : "";
  scan_freesequences(&standin);
  if (result != 0) return reporterror("%s", message.c_str());
  if (counting) motifs->backgroundsource = "genome";
  return 0;
}

// The motifs that cannot reach the cutoff on either strand, named once.
void warnunreachable(const ScanMotifs &motifs, const VariantMatrices &matrices, double pvalue) {
  std::string named;
  uint64_t count = 0;
  for (uint32_t motif = 0; motif < motifs.motifs.size(); motif++) {
    bool reachable = false;
    for (uint32_t strand = 0; strand < matrices.strands; strand++) {
      reachable |= matrices.profiles[motif * matrices.strands + strand].reachable;
    }
    if (reachable) continue;
    if (++count <= 5) named += (count == 1 ? "" : ", ") + motifs.motifs[motif].id;
  }
  if (count > 0) {
    printwarning("%lu motif%s cannot reach a p-value of %g on this background and %s no "
                 "rows: %s%s\n",
                 static_cast<unsigned long>(count), count == 1 ? "" : "s", pvalue,
                 count == 1 ? "has" : "have", named.c_str(), count > 5 ? ", ..." : ".");
  }
}

void warnskipped(const Run &run, const Totals &totals) {
  const VariantSummary &summary = *totals.summary;
  const char *file = run.path == "-" ? "standard input" : run.path.c_str();
  const auto plural = [](uint64_t n, const char *word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
  };
  if (summary.refmismatch > 0) {
    std::string named;
    for (const std::string &text : totals.mismatches) named += (named.empty() ? "" : ", ") + text;
    printwarning("%s of `%s' whose REF is not the genome's letters %s skipped: %s%s\n",
                 plural(summary.refmismatch, "record").c_str(), file,
                 summary.refmismatch == 1 ? "was" : "were", named.c_str(),
                 summary.refmismatch > totals.mismatches.size() ? ", ..." : "");
  }
  if (summary.symbolic > 0) {
    printwarning("%s of `%s' that %s symbolic (<DEL>, *, breakends), missing (.) or not of "
                 "the letters A, C, G, T and N %s skipped.\n",
                 plural(summary.symbolic, "allele").c_str(), file,
                 summary.symbolic == 1 ? "is" : "are", summary.symbolic == 1 ? "was" : "were");
  }
  if (summary.longindel > 0) {
    printwarning("%s of `%s' that change%s more than %lu letters %s skipped.\n",
                 plural(summary.longindel, "allele").c_str(), file,
                 summary.longindel == 1 ? "s" : "", static_cast<unsigned long>(run.options->maxindel),
                 summary.longindel == 1 ? "was" : "were");
  }
  if (summary.missingcontig > 0) {
    std::string named;
    for (size_t k = 0; k < run.missingnames.size() && k < 5; k++) {
      named += (k == 0 ? "" : ", ") + run.missingnames[k];
    }
    printwarning("%s of `%s' on contigs that genome `%s' lacks %s skipped: %s%s\n",
                 plural(summary.missingcontig, "record").c_str(), file, run.genome->path.c_str(),
                 summary.missingcontig == 1 ? "was" : "were", named.c_str(),
                 run.missingnames.size() > 5 ? ", ..." : ".");
  }
}

int checkoptions(const VariantOptions &options, const VariantOutput &output) {
  if (!(options.pvalue > 0.0 && options.pvalue <= 1.0)) {
    return reporterror("The p-value cutoff must lie above 0 and at most 1.");
  }
  if (!(options.minchange >= 0.0) || !std::isfinite(options.minchange)) {
    return reporterror("The least change must be a number of at least 0.");
  }
  if (options.threads > 128) return reporterror("At most 128 threads can be used.");
  if (output.format != VARIANT_FORMAT_NONE && output.stream == nullptr) {
    return reporterror("no stream to write the output to");
  }
  return 0;
}

int runvariants(ScanMotifs *motifs, const std::string &genomepath, const std::string &variants,
                const VariantOptions &options, const VariantOutput &output,
                VariantSummary *summary, ScanCall *call) {
  const Clock::time_point start = Clock::now();
  *summary = VariantSummary{};
  if (checkoptions(options, output) != 0) return -1;
  if (motifs->library == nullptr || motifs->motifs.empty()) return reporterror("no motifs were read");
  if (motifs->alphabet != SCAN_ALPHABET_DNA) {
    for (const ScanMotif &motif : motifs->motifs) {
      if (motif.letters.find_first_not_of("ACGTUacgtu") == std::string::npos) continue;
      return reporterror("variants are scored on DNA, and motif `%s' (`%s') has the letters %s",
                         motif.id.c_str(), motif.sourcefile.c_str(), motif.letters.c_str());
    }
    return reporterror("variants are scored on DNA motifs");
  }
  const uint64_t threads = options.threads == 0 ? scan_availablethreads() : options.threads;
  ScanGenome genome;
  if (scanopengenome(genomepath, &genome) != 0) return -1;
  RegionIndex regions;
  if (!options.regions.empty()) {
    std::vector<ScanGenomeRegion> merged;
    if (scanreadregions(options.regions, genomepath, &genome, &merged) != 0) return -1;
    regions.all = false;
    regions.intervals.resize(genome.names.size());
    for (const ScanGenomeRegion &region : merged) {
      regions.intervals[region.sequence].push_back({region.start, region.end});
    }
  }
  if (preparemotifs(motifs, genome, options, threads) != 0) return -1;
  call->deliverwarnings();
  VariantMatrices matrices;
  if (variantmatrices_build(*motifs, options.pvalue, options.forwardonly, &matrices) != 0) {
    return -1;
  }
  warnunreachable(*motifs, matrices, options.pvalue);
  call->deliverwarnings();

  Run run;
  run.motifs = motifs;
  run.options = &options;
  run.output = &output;
  run.genome = &genome;
  run.regions = &regions;
  run.matrices = &matrices;
  run.names = scanuniquenames(*motifs);
  run.tails = std::make_unique<TailSlot[]>(motifs->motifs.size() * 2);
  run.workers = threads;
  run.finished = std::make_unique<std::atomic<uint64_t>[]>(threads);
  for (uint64_t w = 0; w < threads; w++) run.finished[w] = 0;
  // The first tables reach the threshold less a column's range: the other allele of an SNV
  // scores no lower than that.
  for (uint32_t motif = 0; motif < motifs->motifs.size(); motif++) {
    for (uint32_t strand = 0; strand < matrices.strands; strand++) {
      const VariantProfile &profile = matrices.profiles[motif * matrices.strands + strand];
      run.tails[motif * 2 + strand].lowest = profile.threshold - profile.columnrange;
    }
  }
  if (openvariants(&run, variants, output) != 0) return -1;
  if (output.format == VARIANT_FORMAT_TSV && writestream(output.stream, variants_tsvheader(),
                                                         std::strlen(variants_tsvheader())) != 0) {
    return -1;
  }
  if (output.format == VARIANT_FORMAT_VCF) {
    kstring_t text = {0, 0, nullptr};
    const int formatted = bcf_hdr_format(run.header, 0, &text);
    const int written = formatted == 0 ? writestream(output.stream, text.s, text.l) : 0;
    std::free(text.s);
    if (formatted != 0) return reporterror("cannot write the header of `%s'", variants.c_str());
    if (written != 0) return -1;
  }
  Totals totals;
  totals.summary = summary;
  if (runblocks(&run, threads, &totals, &summary->threadsused) != 0) return -1;
  if (output.stream != nullptr && std::fflush(output.stream) != 0) {
    return reporterror("cannot write the output: %s", std::strerror(errno));
  }
  warnskipped(run, totals);
  summary->backgroundsource = motifs->backgroundsource;
  summary->backgroundletters = motifs->backgroundletters;
  summary->backgroundfrequencies = motifs->backgroundfrequencies;
  summary->elapsed = secondssince(start);
  return 0;
}

}  // namespace

const char *variants_effectname(VariantEffect effect) {
  switch (effect) {
    case VARIANT_GAIN: return "gain";
    case VARIANT_LOSS: return "loss";
    case VARIANT_BOTH: break;
  }
  return "both";
}

const char *variants_tsvheader() {
  return "chrom\tpos\tid\tref\talt\tmotif_id\tmotif_accession\tmotif_name\tref_strand\t"
         "ref_start\talt_strand\talt_start\tref_score\talt_score\tref_pvalue\talt_pvalue\t"
         "log2_ratio\teffect\tref_sequence\talt_sequence\n";
}

int variants_run(ScanMotifs *motifs, const std::string &genome, const std::string &variants,
                 const VariantOptions &options, const VariantOutput &output,
                 VariantSummary *summary) {
  ScanCall call(options.warnings, options.warning, options.warningcontext);
  return call.finish(runvariants(motifs, genome, variants, options, output, summary, &call));
}
