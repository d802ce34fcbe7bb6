// Records of one shard's report: splitting a tab-separated line or a human-readable record
// into its fields, and reading records from a report file one at a time.
//
// Contents: numbers and strands; tab-separated lines; human records; the reader.
#include "merge/shardrecords.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/error.hpp"

namespace {

// ---- Numbers and strands -----------------------------------------------------------------

bool readunsigned(std::string_view text, uint64_t *ret_value) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *ret_value = value;
  return true;
}

// The two letters of the tabular report: f/r, then n/c.
bool readstrandletters(std::string_view text, unsigned char *ret_strand) {
  if (text.size() != 2) return false;
  const bool reverse = text[0] == 'r';
  const bool complement = text[1] == 'c';
  if ((!reverse && text[0] != 'f') || (!complement && text[1] != 'n')) return false;
  *ret_strand = reverse ? (complement ? STRAND_REVERSECOMPLEMENT : STRAND_REVERSE)
                        : (complement ? STRAND_COMPLEMENT : STRAND_FORWARD);
  return true;
}

// The words of the human header: "forward non-compl.", "reverse compl.", ...
bool readstrandwords(std::string_view text, unsigned char *ret_strand) {
  const size_t blank = text.find(' ');
  if (blank == std::string_view::npos) return false;
  const std::string_view direction = text.substr(0, blank);
  const std::string_view kind = text.substr(blank + 1);
  const bool reverse = direction == "reverse";
  const bool complement = kind == "compl.";
  if ((!reverse && direction != "forward") || (!complement && kind != "non-compl."))
    return false;
  *ret_strand = reverse ? (complement ? STRAND_REVERSECOMPLEMENT : STRAND_REVERSE)
                        : (complement ? STRAND_COMPLEMENT : STRAND_FORWARD);
  return true;
}

// The text between prefix and the next occurrence of suffix, from position *from on; *from
// moves behind suffix. An empty suffix takes the rest.
bool between(std::string_view text, size_t *from, std::string_view prefix,
             std::string_view suffix, std::string_view *ret_value) {
  if (text.substr(*from, prefix.size()) != prefix) return false;
  const size_t start = *from + prefix.size();
  const size_t end = suffix.empty() ? text.size() : text.find(suffix, start);
  if (end == std::string_view::npos) return false;
  *ret_value = text.substr(start, end - start);
  *from = end + suffix.size();
  return true;
}

std::string_view nextline(std::string_view record, size_t *from) {
  const size_t start = *from;
  const size_t newline = record.find('\n', start);
  const size_t end = newline == std::string_view::npos ? record.size() : newline;
  *from = newline == std::string_view::npos ? record.size() : newline + 1;
  return record.substr(start, end - start);
}

}  // namespace

// ---- Tab-separated lines -----------------------------------------------------------------

// Fields: identifier, accession, description, group, position in group, position, length,
// strand, threshold, score, minimum, maximum, p-value, E-value, MSS, sequence number,
// sequence description, matching sequence.
int parsetabsrecord(std::string_view line, RecordFields *fields) {
  thread_local std::vector<std::string_view> parts;
  parts.clear();
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    if (tab == std::string_view::npos) {
      parts.push_back(line.substr(start));
      break;
    }
    parts.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  const size_t count = parts.size();
  if (count < 18) return -1;
  // The group field: the place, behind a description that may hold tabs, where the numbers
  // and the strand letters stand, leaving room for the fields after them. Descriptions with
  // tabs may make them read at two places; then the line's fields cannot be told apart.
  bool placed = false;
  for (size_t group = 3; group + 15 <= count; group++) {
    RecordFields found{};
    if (!readunsigned(parts[group], &found.groupnumber) ||
        !readunsigned(parts[group + 1], &found.groupposition) ||
        !readunsigned(parts[group + 2], &found.seqposition) ||
        !readunsigned(parts[group + 3], &found.length) ||
        !readstrandletters(parts[group + 4], &found.strand) ||
        !readunsigned(parts[group + 12], &found.seqnum))
      continue;
    found.groupdigits = parts[group];
    found.seqnumdigits = parts[group + 12];
    found.threshold = parts[group + 5];
    found.score = parts[group + 6];
    found.pvalue = parts[group + 9];
    found.evalue = parts[group + 10];
    found.mss = parts[group + 11];
    if (placed) return -2;
    *fields = found;
    placed = true;
  }
  return placed ? 0 : -1;
}

// ---- Human records -----------------------------------------------------------------------

// Match for `%s', `%s', group %lu, position %lu (%s %s)
// [  description: `%s']
//   sequence %lu[: `%s']
//   position %lu, length %lu, threshold %s, score range %s..%s
//   score %s, MSS %s[, p-value %s, E-value %s]
// [  matching sequence: `%s']
int parsehumanrecord(std::string_view record, RecordFields *fields) {
  RecordFields found{};
  size_t from = 0;
  const std::string_view header = nextline(record, &from);
  if (header.substr(0, 11) != "Match for `" || header.empty() || header.back() != ')') return -1;
  // Identifiers may hold anything but a line break, so the header is read from its end.
  const size_t group = header.rfind(", group ");
  if (group == std::string_view::npos) return -1;
  size_t at = group;
  std::string_view number, strandwords;
  if (!between(header, &at, ", group ", ", position ", &number) ||
      !readunsigned(number, &found.groupnumber) ||
      (found.groupdigits = number, false) ||
      !between(header, &at, "", " (", &number) || !readunsigned(number, &found.groupposition))
    return -1;
  strandwords = header.substr(at, header.size() - 1 - at);
  if (!readstrandwords(strandwords, &found.strand)) return -1;

  std::string_view line = nextline(record, &from);
  if (line.substr(0, 16) == "  description: `") line = nextline(record, &from);
  if (line.substr(0, 11) != "  sequence ") return -1;
  const size_t colon = line.find(':', 11);
  found.seqnumdigits = line.substr(11, colon == std::string_view::npos ? line.npos : colon - 11);
  if (!readunsigned(found.seqnumdigits, &found.seqnum)) return -1;

  line = nextline(record, &from);
  at = 0;
  std::string_view minimum;
  if (!between(line, &at, "  position ", ", length ", &number) ||
      !readunsigned(number, &found.seqposition) ||
      !between(line, &at, "", ", threshold ", &number) || !readunsigned(number, &found.length) ||
      !between(line, &at, "", ", score range ", &found.threshold) ||
      !between(line, &at, "", "..", &minimum))
    return -1;
  line = nextline(record, &from);
  at = 0;
  if (!between(line, &at, "  score ", ", MSS ", &found.score)) return -1;
  const size_t pvalue = line.find(", p-value ", at);
  if (pvalue == std::string_view::npos) {
    found.mss = line.substr(at);
  } else {
    found.mss = line.substr(at, pvalue - at);
    at = pvalue;
    if (!between(line, &at, ", p-value ", ", E-value ", &found.pvalue)) return -1;
    found.evalue = line.substr(at);
  }
  *fields = found;
  return 0;
}

// ---- The reader ----------------------------------------------------------------------------

int shardreader_open(ShardReader *reader, const char *name, OutputFormat format) {
  *reader = ShardReader{};
  reader->name = name;
  reader->format = format;
  reader->file = std::fopen(name, "r");
  if (reader->file == nullptr) return reporterror("cannot open %s: %s", name, std::strerror(errno));
  return 0;
}

namespace {

constexpr size_t firstblock = size_t{1} << 16;

int toolong(const ShardReader *reader, uint64_t line) {
  return reporterror("%s, line %lu: longer than %lu bytes", reader->name,
                     static_cast<unsigned long>(line), static_cast<unsigned long>(maxshardline));
}

// 1 with the next line (its newline included, when it has one) in *ret_line, 0 at the end,
// -1 on an error. The line stays valid until the next call.
int readline(ShardReader *reader, std::string_view *ret_line) {
  std::vector<char> &block = reader->block;
  for (size_t scanned = 0;;) {
    const char *start = block.data() + reader->begin;
    const size_t available = reader->end - reader->begin;
    const void *newline =
        available > scanned ? std::memchr(start + scanned, '\n', available - scanned) : nullptr;
    scanned = available;
    if (newline != nullptr || (reader->atend && available > 0)) {
      const size_t length =
          newline != nullptr ? static_cast<size_t>(static_cast<const char *>(newline) - start) + 1
                             : available;
      if (length > maxshardline) return toolong(reader, reader->line + 1);
      reader->line++;
      *ret_line = std::string_view(start, length);
      reader->begin += length;
      return 1;
    }
    if (reader->atend) return 0;
    if (available > maxshardline) return toolong(reader, reader->line + 1);
    if (reader->begin > 0) {
      std::memmove(block.data(), start, available);
      reader->begin = 0;
      reader->end = available;
    }
    if (reader->end == block.size())
      block.resize(std::min(std::max(firstblock, 2 * block.size()), maxshardline + 1));
    const size_t got = std::fread(block.data() + reader->end, 1, block.size() - reader->end,
                                  reader->file);
    if (got == 0) {
      if (std::ferror(reader->file))
        return reporterror("cannot read %s: %s", reader->name, std::strerror(errno));
      reader->atend = true;
    }
    reader->end += got;
  }
}

}  // namespace

int shardreader_next(ShardReader *reader, std::string *text) {
  text->clear();
  std::string_view line;
  if (reader->format != FORMAT_HUMAN) {
    const int result = readline(reader, &line);
    if (result == 1) {
      text->assign(line);
      reader->recordline = reader->line;
    }
    return result;
  }
  // A human record runs from its header line to the next header line; its other lines begin
  // with blanks, and line breaks in descriptions are printed as ". ".
  if (reader->lookahead.empty()) {
    const int result = readline(reader, &line);
    if (result != 1) return result;
    reader->lookahead.assign(line);
    reader->lookaheadline = reader->line;
  }
  text->swap(reader->lookahead);
  reader->lookahead.clear();
  reader->recordline = reader->lookaheadline;
  for (;;) {
    const int result = readline(reader, &line);
    if (result < 0) return -1;
    if (result == 0) break;
    if (line.substr(0, 11) == "Match for `") {
      reader->lookahead.assign(line);
      reader->lookaheadline = reader->line;
      break;
    }
    if (text->size() + line.size() > maxshardline) return toolong(reader, reader->recordline);
    text->append(line);
  }
  return 1;
}

void shardreader_close(ShardReader *reader) {
  if (reader->file != nullptr) std::fclose(reader->file);
  *reader = ShardReader{};
}
