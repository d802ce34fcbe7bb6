// The regions of a genome as the scan's sequences: the merged intervals of a BED file over an
// indexed Fasta genome (scan/scangenome), their letters read through htslib's faidx and added
// as in-memory sequences with their offsets and names, so that the rest of the genome is never
// read.
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "scan/scangenome.hpp"
#include "scan/scaninternal.hpp"

namespace {

// Letters per line of the in-memory Fasta text. The parser checks each line whole before
// it codes it, and a line with a wildcard (the N's of a genome) again from each letter on:
// one line per region would cost the square of its length.
constexpr size_t fastaline = 60;

// One region as a record of the in-memory Fasta text, in lines as a Fasta file has them.
void appendrecord(std::string *pending, const std::string &name, std::string_view letters) {
  pending->push_back('>');
  pending->append(name);
  pending->push_back('\n');
  for (size_t k = 0; k < letters.size(); k += fastaline) {
    pending->append(letters.substr(k, fastaline));
    pending->push_back('\n');
  }
}

// The records the in-memory Fasta text holds: each begins a line with `>'.
uint64_t pendingrecords(const std::string &pending) {
  uint64_t records = 0;
  for (size_t i = 0; i < pending.size(); i++) {
    if (pending[i] == '>' && (i == 0 || pending[i - 1] == '\n')) records++;
  }
  return records;
}

int addregions(ScanSequences *sequences, const std::string &genomepath,
               const std::string &bedfile) {
  if (sequences->loaded) return reporterror("sequences cannot be added after they were loaded");
  if (!sequences->path.empty()) {
    return reporterror("the regions of a genome cannot be added to the sequences of `%s'",
                       sequences->path.c_str());
  }
  // The offsets and names belong to the sequences one by one: no other sequence among them.
  if (pendingrecords(sequences->pending) != sequences->offsets.size()) {
    return reporterror("the regions of a genome cannot be added to other sequences");
  }
  ScanGenome genome;
  std::vector<ScanGenomeRegion> regions;
  if (scanreadregions(bedfile, genomepath, &genome, &regions) != 0) return -1;

  // Each region's letters go in as a sequence named after its genome sequence, as
  // scan_addsequence would add them but in lines; a failure takes every one of them out
  // again.
  const size_t pendingsize = sequences->pending.size();
  const size_t count = sequences->offsets.size();
  uint64_t bytes = 0;
  for (const ScanGenomeRegion &region : regions) {
    const uint64_t letters = region.end - region.start;
    bytes += genome.names[region.sequence].size() + 2 + letters + letters / fastaline + 1;
  }
  sequences->pending.reserve(pendingsize + bytes);
  int result = 0;
  std::string letters;
  for (const ScanGenomeRegion &region : regions) {
    result = scanfetchgenome(genome, region.sequence, region.start, region.end, &letters);
    if (result != 0) break;
    appendrecord(&sequences->pending, genome.names[region.sequence], letters);
    sequences->offsets.push_back(region.start);
    sequences->regions.push_back(region.names);
  }
  if (result != 0) {
    sequences->pending.resize(pendingsize);
    sequences->offsets.resize(count);
    sequences->regions.resize(count);
    return -1;
  }
  return 0;
}

}  // namespace

int scan_addregions(ScanSequences *sequences, const std::string &genome,
                    const std::string &bedfile) {
  ScanCall call;
  return call.finish(addregions(sequences, genome, bedfile));
}
