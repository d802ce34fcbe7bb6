// An indexed Fasta genome through htslib's faidx: the checks of the file, its .fai read for
// the names and lengths, the letters of a stretch; and the intervals of a BED file over it,
// checked against the genome and merged where they overlap or touch.
#include "scan/scangenome.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string_view>

#include "base/error.hpp"
#include "base/output.hpp"
#include "base/readgzip.hpp"

namespace {

// Far beyond any BED line: a longer one (a file that is no text) is refused before it is
// held in memory whole.
constexpr uint64_t maxbedline = UINT64_C(1) << 20;

// A field of a line as messages show it: at most 60 characters.
std::string shown(std::string_view field) {
  if (field.size() <= 60) return std::string(field);
  return std::string(field.substr(0, 57)) + "...";
}

// A number in decimal digits alone, that fits 64 bits.
bool wholenumber(std::string_view text, uint64_t *value) {
  const char *last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, *value);
  return !text.empty() && error == std::errc() && end == last;
}

// What faidx cannot tell well: a missing or unreadable file, a folder, a pipe (the index
// needs to seek), and gzip data that is not BGZF (only bgzip's blocks can be indexed).
int checkgenome(const std::string &path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0 || access(path.c_str(), R_OK) != 0) {
    return reporterror("cannot open genome `%s': %s", path.c_str(), std::strerror(errno));
  }
  if (S_ISDIR(status.st_mode)) {
    return reporterror("genome `%s' is a directory, not a Fasta file", path.c_str());
  }
  if (!S_ISREG(status.st_mode)) {
    return reporterror("genome `%s' is no regular file: its regions are read through its "
                       "index (.fai), which needs a file",
                       path.c_str());
  }
  const int descriptor = open(path.c_str(), O_RDONLY);
  if (descriptor < 0) {
    return reporterror("cannot open genome `%s': %s", path.c_str(), std::strerror(errno));
  }
  unsigned char head[18] = {};
  const ssize_t got = pread(descriptor, head, sizeof head, 0);
  close(descriptor);
  // BGZF: a gzip member with an extra field whose first subfield is `BC'.
  const bool gzip = got >= 2 && head[0] == 0x1f && head[1] == 0x8b;
  const bool bgzf = got == 18 && gzip && (head[3] & 4) != 0 && head[12] == 'B' && head[13] == 'C';
  if (gzip && !bgzf) {
    return reporterror("genome `%s' is compressed with gzip, not bgzip: its regions cannot be "
                       "read through an index (compress it with bgzip, or decompress it)",
                       path.c_str());
  }
  return 0;
}

// The sequences' names and lengths from the .fai's text: the first two columns of each line,
// the first line of a name counting (as faidx takes it). faidx itself answers lengths as
// int, too small for the longest chromosomes.
int readfai(const std::string &faipath, ScanGenome *genome) {
  uint64_t size = 0;
  unsigned char *content = readgziptext(faipath.c_str(), maxbedline, &size);
  if (content == nullptr) {
    return reporterror("cannot read the index `%s' of genome `%s'", faipath.c_str(),
                       genome->path.c_str());
  }
  const std::string_view text(reinterpret_cast<const char *>(content), size);
  int result = 0;
  uint64_t linenumber = 0;
  for (size_t position = 0; position < text.size() && result == 0;) {
    size_t newline = text.find('\n', position);
    if (newline == std::string_view::npos) newline = text.size();
    const std::string_view line = text.substr(position, newline - position);
    position = newline + 1;
    linenumber++;
    if (line.empty()) continue;
    const size_t tab = line.find('\t');
    const size_t next = tab == std::string_view::npos ? tab : line.find('\t', tab + 1);
    uint64_t length = 0;
    if (tab == 0 || tab == std::string_view::npos ||
        !wholenumber(line.substr(tab + 1, next == std::string_view::npos ? next : next - tab - 1),
                     &length)) {
      result = reporterror("index `%s' of genome `%s', line %lu: no sequence name and length",
                           faipath.c_str(), genome->path.c_str(),
                           static_cast<unsigned long>(linenumber));
      break;
    }
    std::string name(line.substr(0, tab));
    if (genome->numbers.count(name) != 0) continue;
    genome->numbers.emplace(name, genome->names.size());
    genome->names.push_back(std::move(name));
    genome->lengths.push_back(length);
  }
  std::free(content);
  return result;
}

// One line of the BED file, checked against the genome.
struct Interval {
  uint64_t sequence = 0;  // in the genome's order
  uint64_t start = 0;
  uint64_t end = 0;
  uint64_t line = 0;      // for the order of the names
  std::string_view name;  // into the BED text; empty without a fourth column
};

// Lines without an interval: blank, `#' comments, and the `track' and `browser' lines of
// genome browsers.
bool skippedline(std::string_view line) {
  if (line.find_first_not_of(" \t") == std::string_view::npos) return true;
  if (line[0] == '#') return true;
  for (const std::string_view word : {std::string_view("track"), std::string_view("browser")}) {
    if (line.starts_with(word) &&
        (line.size() == word.size() || line[word.size()] == ' ' || line[word.size()] == '\t')) {
      return true;
    }
  }
  return false;
}

// The intervals of positive length of the BED text, in file order.
int readintervals(const std::string &bedfile, std::string_view text, const ScanGenome &genome,
                  std::vector<Interval> *intervals) {
  const char *file = bedfile.c_str();
  uint64_t linenumber = 0;
  for (size_t position = 0; position < text.size();) {
    size_t newline = text.find('\n', position);
    if (newline == std::string_view::npos) newline = text.size();
    std::string_view line = text.substr(position, newline - position);
    position = newline + 1;
    linenumber++;
    const unsigned long number = static_cast<unsigned long>(linenumber);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (skippedline(line)) continue;
    std::string_view fields[4];
    size_t count = 0;
    for (size_t from = 0; count < 4;) {
      const size_t tab = line.find('\t', from);
      fields[count++] = line.substr(from, tab == std::string_view::npos ? tab : tab - from);
      if (tab == std::string_view::npos) break;
      from = tab + 1;
    }
    if (count < 3) {
      return reporterror("`%s' line %lu: not a BED interval (chromosome, start, end)", file,
                         number);
    }
    Interval interval;
    interval.line = linenumber;
    if (count == 4) interval.name = fields[3];
    for (int k = 1; k <= 2; k++) {
      if (!wholenumber(fields[k], k == 1 ? &interval.start : &interval.end)) {
        return reporterror("`%s' line %lu: not a BED interval (chromosome, start, end): %s `%s' "
                           "is not a whole number",
                           file, number, k == 1 ? "start" : "end", shown(fields[k]).c_str());
      }
    }
    const std::string chromosome(fields[0]);
    if (interval.start > interval.end) {
      return reporterror("`%s' line %lu: region %s:%lu-%lu starts after its end", file, number,
                         shown(chromosome).c_str(), static_cast<unsigned long>(interval.start),
                         static_cast<unsigned long>(interval.end));
    }
    const auto found = genome.numbers.find(chromosome);
    if (found == genome.numbers.end()) {
      return reporterror("`%s' line %lu: no sequence `%s' in genome `%s'", file, number,
                         shown(chromosome).c_str(), genome.path.c_str());
    }
    interval.sequence = found->second;
    const uint64_t length = genome.lengths[interval.sequence];
    if (interval.end > length) {
      return reporterror("`%s' line %lu: region %s:%lu-%lu reaches beyond the end of %s "
                         "(%lu letters)",
                         file, number, chromosome.c_str(),
                         static_cast<unsigned long>(interval.start),
                         static_cast<unsigned long>(interval.end), chromosome.c_str(),
                         static_cast<unsigned long>(length));
    }
    if (interval.start < interval.end) intervals->push_back(interval);
  }
  return 0;
}

std::vector<ScanGenomeRegion> mergeintervals(std::vector<Interval> *intervals) {
  std::sort(intervals->begin(), intervals->end(), [](const Interval &a, const Interval &b) {
    return a.sequence != b.sequence ? a.sequence < b.sequence : a.start < b.start;
  });
  std::vector<ScanGenomeRegion> regions;
  std::vector<const Interval *> members;
  const auto close = [&]() {
    std::sort(members.begin(), members.end(),
              [](const Interval *a, const Interval *b) { return a->line < b->line; });
    std::set<std::string_view> taken;
    std::string &names = regions.back().names;
    for (const Interval *member : members) {
      if (member->name.empty() || !taken.insert(member->name).second) continue;
      if (!names.empty()) names.push_back(',');
      names.append(member->name);
    }
    members.clear();
  };
  for (const Interval &interval : *intervals) {
    if (regions.empty() || interval.sequence != regions.back().sequence ||
        interval.start > regions.back().end) {
      if (!regions.empty()) close();
      regions.push_back({interval.sequence, interval.start, interval.end, {}});
    } else {
      regions.back().end = std::max(regions.back().end, interval.end);
    }
    members.push_back(&interval);
  }
  if (!regions.empty()) close();
  return regions;
}

}  // namespace

ScanGenome::~ScanGenome() {
  if (index != nullptr) fai_destroy(index);
}

int scanopengenome(const std::string &path, ScanGenome *genome) {
  genome->path = path;
  if (checkgenome(path) != 0) return -1;
  const std::string faipath = path + ".fai";
  genome->index = fai_load3(path.c_str(), nullptr, nullptr, FAI_CREATE);
  if (genome->index == nullptr) {
    return reporterror("cannot read or make the index `%s' of genome `%s'%s", faipath.c_str(),
                       path.c_str(), access(faipath.c_str(), F_OK) == 0 ? " (or its .gzi)" : "");
  }
  // An index older than its genome may no longer fit it: the letters would come from the
  // wrong places.
  struct stat fasta, fai;
  if (stat(path.c_str(), &fasta) == 0 && stat(faipath.c_str(), &fai) == 0 &&
      fai.st_mtime < fasta.st_mtime) {
    printwarning("the index `%s' is older than genome `%s'; make it anew if the genome has "
                 "changed.\n",
                 faipath.c_str(), path.c_str());
  }
  return readfai(faipath, genome);
}

int scanfetchgenome(const ScanGenome &genome, uint64_t sequence, uint64_t start, uint64_t end,
                    std::string *letters, faidx_t *index) {
  letters->clear();
  if (start >= end) return 0;
  const std::string &name = genome.names[sequence];
  hts_pos_t length = 0;
  char *fetched = faidx_fetch_seq64(index != nullptr ? index : genome.index, name.c_str(),
                                    static_cast<hts_pos_t>(start),
                                    static_cast<hts_pos_t>(end) - 1, &length);
  if (fetched == nullptr || length != static_cast<hts_pos_t>(end - start)) {
    std::free(fetched);
    return reporterror("cannot read region %s:%lu-%lu of genome `%s'", name.c_str(),
                       static_cast<unsigned long>(start), static_cast<unsigned long>(end),
                       genome.path.c_str());
  }
  letters->assign(fetched, static_cast<size_t>(length));
  std::free(fetched);
  if (letters->find('>') != std::string::npos) {
    letters->clear();
    return reporterror("region %s:%lu-%lu of genome `%s' holds a `>': is its index `%s.fai' "
                       "out of date?",
                       name.c_str(), static_cast<unsigned long>(start),
                       static_cast<unsigned long>(end), genome.path.c_str(), genome.path.c_str());
  }
  return 0;
}

int scanreadregions(const std::string &bedfile, const std::string &genomepath,
                    ScanGenome *genome, std::vector<ScanGenomeRegion> *regions) {
  struct stat status;
  if (stat(bedfile.c_str(), &status) != 0 || access(bedfile.c_str(), R_OK) != 0) {
    return reporterror("cannot open `%s': %s", bedfile.c_str(), std::strerror(errno));
  }
  if (S_ISDIR(status.st_mode)) {
    return reporterror("`%s' is a directory, not a BED file", bedfile.c_str());
  }
  uint64_t size = 0;
  unsigned char *content = readgziptext(bedfile.c_str(), maxbedline, &size);
  if (content == nullptr) {
    if (gzipendedearly()) {
      return reporterror("file `%s' is truncated or corrupt: its gzip data ends early",
                         bedfile.c_str());
    }
    const std::string message = errormessageorunknown();
    return reporterror("%s", message.c_str());
  }
  const std::string_view text(reinterpret_cast<const char *>(content), size);
  std::vector<Interval> intervals;
  int result = genome->index != nullptr ? 0 : scanopengenome(genomepath, genome);
  if (result == 0) result = readintervals(bedfile, text, *genome, &intervals);
  if (result == 0 && intervals.empty()) {
    result = reporterror("`%s' holds no region to scan", bedfile.c_str());
  }
  if (result == 0) *regions = mergeintervals(&intervals);
  std::free(content);
  return result;
}
