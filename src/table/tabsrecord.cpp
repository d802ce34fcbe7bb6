// Reading one line of zelkosearch's tab-separated report: field splitting, number checks and
// the derived sequence name, strand sign and matched text.
#include "table/tabsrecord.hpp"

#include <array>
#include <charconv>
#include <cstring>
#include <system_error>

#include "base/error.hpp"

namespace {

constexpr size_t fieldcount = 18;
// A line with more fields than this is not a report line whatever its descriptions hold.
constexpr size_t maxfields = 64;
// Field texts quoted in messages are cut to this many bytes.
constexpr int quotelimit = 40;

int quotedlength(std::string_view text) {
  return text.size() > static_cast<size_t>(quotelimit) ? quotelimit
                                                       : static_cast<int>(text.size());
}

bool readunsigned(std::string_view text, uint64_t *value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

bool readreal(std::string_view text, double *value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  // Out of range still names a number (a p-value of 1e-400); only the form matters here.
  return (error == std::errc() || error == std::errc::result_out_of_range) &&
         end == text.data() + text.size();
}

int notanumber(uint64_t linenumber, const char *field, std::string_view text) {
  return reporterror("line %lu: %s `%.*s' is not a number", static_cast<unsigned long>(linenumber),
                     field, quotedlength(text), text.data());
}

int notacount(uint64_t linenumber, const char *field, std::string_view text) {
  return reporterror("line %lu: %s `%.*s' is not a non-negative integer",
                     static_cast<unsigned long>(linenumber), field, quotedlength(text),
                     text.data());
}

// The 13 fields from the group ID to the sequence number, starting at fields[first].
int readnumericfields(const std::string_view *fields, size_t first, uint64_t linenumber,
                      TabsRecord *record) {
  const std::string_view *f = fields + first;
  if (!readunsigned(f[0], &record->groupid)) return notacount(linenumber, "group ID", f[0]);
  if (!readunsigned(f[1], &record->groupposition)) {
    return notacount(linenumber, "position in group", f[1]);
  }
  if (!readunsigned(f[2], &record->position)) return notacount(linenumber, "position", f[2]);
  if (!readunsigned(f[3], &record->length) || record->length == 0) {
    return reporterror("line %lu: length `%.*s' is not a positive integer",
                       static_cast<unsigned long>(linenumber), quotedlength(f[3]), f[3].data());
  }
  if (record->position > UINT64_MAX - record->length) {
    return reporterror("line %lu: position %lu and length %lu overflow",
                       static_cast<unsigned long>(linenumber),
                       static_cast<unsigned long>(record->position),
                       static_cast<unsigned long>(record->length));
  }
  record->strand = f[4];
  if (f[4].size() != 2 || (f[4][0] != 'f' && f[4][0] != 'r') ||
      (f[4][1] != 'n' && f[4][1] != 'c')) {
    return reporterror("line %lu: strand `%.*s' is not one of fn, fc, rn, rc",
                       static_cast<unsigned long>(linenumber), quotedlength(f[4]), f[4].data());
  }
  static constexpr const char *scorenames[] = {"threshold", "score", "minimum score",
                                               "maximum score"};
  std::string_view *scorefields[] = {&record->threshold, &record->score, &record->minimum,
                                     &record->maximum};
  for (size_t i = 0; i < 4; i++) {
    double unused;
    if (!readreal(f[5 + i], &unused)) return notanumber(linenumber, scorenames[i], f[5 + i]);
    *scorefields[i] = f[5 + i];
  }
  record->pvalue = f[9];
  record->evalue = f[10];
  if (f[9].empty() != f[10].empty()) {
    return reporterror("line %lu: p-value and E-value must both be given or both be empty",
                       static_cast<unsigned long>(linenumber));
  }
  if (!f[9].empty()) {
    double evalue;
    if (!readreal(f[9], &record->pvaluenumber)) return notanumber(linenumber, "p-value", f[9]);
    if (!readreal(f[10], &evalue)) return notanumber(linenumber, "E-value", f[10]);
  }
  double mss;
  if (!readreal(f[11], &mss)) return notanumber(linenumber, "MSS", f[11]);
  record->mss = f[11];
  if (!readunsigned(f[12], &record->sequencenumber)) {
    return notacount(linenumber, "sequence number", f[12]);
  }
  return 0;
}

int ambiguous(uint64_t linenumber) {
  return reporterror(
      "line %lu: the fields cannot be told apart: a tab inside the identifier, the accession "
      "or a description",
      static_cast<unsigned long>(linenumber));
}

// Joins fields[first..last] back into one text: they were one field split at its tabs.
std::string_view joined(const std::string_view *fields, size_t first, size_t last) {
  const char *begin = fields[first].data();
  const char *end = fields[last].data() + fields[last].size();
  return std::string_view(begin, static_cast<size_t>(end - begin));
}

}  // namespace

int parsetabsline(std::string_view line, uint64_t linenumber, TabsRecord *record) {
  std::array<std::string_view, maxfields> fields;
  size_t count = 0;
  size_t start = 0;
  while (true) {
    const size_t tab = line.find('\t', start);
    const size_t end = tab == std::string_view::npos ? line.size() : tab;
    if (count < maxfields) fields[count] = line.substr(start, end - start);
    count++;
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  if (count < fieldcount || count > maxfields) {
    return reporterror("line %lu: %lu tab-separated fields, expected %lu",
                       static_cast<unsigned long>(linenumber), static_cast<unsigned long>(count),
                       static_cast<unsigned long>(fieldcount));
  }
  // Tabs inside the sequence description add fields behind the numbers, and the numbers tell
  // where it begins. Tabs in front of them (inside the identifier, the accession or the
  // matrix description) leave no way to tell which of the three holds them, and numbers that
  // also read at a second place leave two records: either way the line is refused.
  const bool plain = readnumericfields(fields.data(), 3, linenumber, record) == 0;
  for (size_t share = 1; share <= count - fieldcount; share++) {
    TabsRecord other;
    if (readnumericfields(fields.data(), 3 + share, linenumber, &other) == 0)
      return ambiguous(linenumber);
  }
  if (!plain) return readnumericfields(fields.data(), 3, linenumber, record);  // its message
  clearerrorcode();
  record->identifier = fields[0];
  record->accession = fields[1];
  record->description = fields[2];
  record->sequencedescription = joined(fields.data(), 16, count - 2);
  record->matchedtext = fields[count - 1];
  if (!record->matchedtext.empty() && record->matchedtext.size() != record->length) {
    return reporterror("line %lu: matched sequence of %lu characters for a match of length %lu",
                       static_cast<unsigned long>(linenumber),
                       static_cast<unsigned long>(record->matchedtext.size()),
                       static_cast<unsigned long>(record->length));
  }
  return 0;
}

std::string_view headertext(std::string_view sequencedescription) {
  if (sequencedescription.ends_with(". ")) sequencedescription.remove_suffix(2);
  return sequencedescription;
}

std::string_view sequencename(std::string_view sequencedescription) {
  std::string_view header = headertext(sequencedescription);
  const size_t first = header.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  header.remove_prefix(first);
  return header.substr(0, header.find_first_of(" \t"));
}

std::string_view strandsign(std::string_view strand) {
  if (strand == "fn") return "+";
  if (strand == "rc") return "-";
  return strand;
}

namespace {

// Upper case, and the complement of every nucleotide code in upper case (IUPAC pairs).
struct LetterTables {
  std::array<char, 256> upper;
  std::array<char, 256> complement;
  LetterTables() {
    for (int c = 0; c < 256; c++) {
      upper[c] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    complement = upper;
    static constexpr const char *pairs[] = {"AT", "TA", "UA", "CG", "GC", "RY", "YR",
                                            "KM", "MK", "BV", "VB", "DH", "HD"};
    for (const char *pair : pairs) {
      complement[static_cast<unsigned char>(pair[0])] = pair[1];
      complement[static_cast<unsigned char>(pair[0] - 'A' + 'a')] = pair[1];
    }
  }
};
const LetterTables lettertables;

}  // namespace

void orientedtext(const TabsRecord &record, bool databasetext, std::string *text) {
  const std::array<char, 256> &table = databasetext && iscomplementary(record)
                                           ? lettertables.complement
                                           : lettertables.upper;
  const std::string_view source = record.matchedtext;
  text->resize(source.size());
  char *out = text->data();
  const size_t n = source.size();
  if (isreversed(record)) {
    for (size_t i = 0; i < n; i++) out[i] = table[static_cast<unsigned char>(source[n - 1 - i])];
  } else {
    for (size_t i = 0; i < n; i++) out[i] = table[static_cast<unsigned char>(source[i])];
  }
}
