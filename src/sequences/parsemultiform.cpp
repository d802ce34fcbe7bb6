// GenBank and EMBL records rewritten as Fasta text in their own buffer. Every record's Fasta
// form is shorter than the record, so the output, written from the start of the buffer,
// never overtakes the text still to be read.
#include "sequences/parsemultiform.hpp"

#include <cctype>
#include <cstring>

#include "base/error.hpp"

const RecordKeys genbankkeys = {"LOCUS", "\nDEFINITION", "\nORIGIN"};
const RecordKeys emblkeys = {"ID   ", "\nDE   ", "\nSQ   "};

namespace {

constexpr uint64_t notfound = UINT64_MAX;

// Per thread: calls of several threads read files at once.
thread_local SourceFormat lastformat = SOURCE_FASTA;

// Boyer-Moore-Horspool search for key in text[from, to): the position of the first
// occurrence, or notfound.
uint64_t findkey(const unsigned char *text, uint64_t from, uint64_t to, const char *key) {
  const uint64_t keylength = std::strlen(key);
  if (keylength == 0 || to < from || to - from < keylength) return notfound;
  const unsigned char *pattern = reinterpret_cast<const unsigned char *>(key);
  uint64_t shift[256];
  for (uint64_t &s : shift) s = keylength;
  for (uint64_t i = 0; i + 1 < keylength; i++) shift[pattern[i]] = keylength - 1 - i;
  uint64_t start = from;
  while (start + keylength <= to) {
    const unsigned char last = text[start + keylength - 1];
    if (last == pattern[keylength - 1] && std::memcmp(text + start, pattern, keylength - 1) == 0)
      return start;
    start += shift[last];
  }
  return notfound;
}

uint64_t lineend(const unsigned char *text, uint64_t from, uint64_t length) {
  const void *newline = std::memchr(text + from, '\n', length - from);
  return newline == nullptr ? length : uint64_t(static_cast<const unsigned char *>(newline) - text);
}

bool isblankchar(unsigned char c) { return c == ' ' || c == '\t'; }

// The first line of an EMBL record names the kind of sequence: it ends in "bp." or "aa.",
// in either case. A carriage return of a CRLF line end is not part of the line.
bool emblkindknown(const unsigned char *text, uint64_t firstlineend) {
  uint64_t end = firstlineend;
  if (end > 0 && text[end - 1] == '\r') end--;
  if (end < 3 || text[end - 1] != '.') return false;
  const int first = std::tolower(text[end - 3]);
  const int second = std::tolower(text[end - 2]);
  return (first == 'b' && second == 'p') || (first == 'a' && second == 'a');
}

// Converts records one after the other until the text is used up: the total output length,
// 0 when a record does not begin with the start key, or a record's failure value.
int64_t convertall(SequenceFormat format, unsigned char *text, uint64_t length,
                   unsigned char *destination, const RecordKeys *keys) {
  uint64_t consumed = 0;
  uint64_t written = 0;
  while (consumed < length) {
    uint64_t recordlength = 0;
    const int64_t result = convertrecord(format, text + consumed, length - consumed,
                                         destination + written, &recordlength, keys);
    if (result <= 0) return result;
    written += uint64_t(result);
    consumed += recordlength;
  }
  return int64_t(written);
}

}  // namespace

int64_t convertrecord(SequenceFormat format, unsigned char *text, uint64_t length,
                      unsigned char *destination, uint64_t *ret_consumed,
                      const RecordKeys *keys) {
  const uint64_t startlength = std::strlen(keys->startkey);
  if (length < startlength || std::memcmp(text, keys->startkey, startlength) != 0) return 0;
  const uint64_t firstlineend = lineend(text, 0, length);
  if (format == FORMAT_EMBL && !emblkindknown(text, firstlineend)) {
    reporttext("cannot detect sequence type:  first line must end with \"aa.\" or \"bp.\" in "
               "lower or upper case");
    return -1;
  }
  uint64_t idstart = startlength;
  while (idstart < firstlineend && isblankchar(text[idstart])) idstart++;
  uint64_t idend = idstart;
  while (idend < firstlineend && !std::isspace(text[idend])) idend++;

  // The keys are looked for inside this record only (up to its "//" line), so a record that
  // lacks one fails instead of taking the next record's description or sequence.
  const uint64_t recordend = [&] {
    const uint64_t terminator = findkey(text, 0, length, "\n//");
    return terminator == notfound ? length : terminator + 1;
  }();
  const uint64_t descriptionkey = findkey(text, 0, recordend, keys->descriptionkey);
  if (descriptionkey == notfound) {
    reporttext("missing \"%s\" in database file", keys->descriptionkey);
    return -2;
  }
  uint64_t descstart = descriptionkey + std::strlen(keys->descriptionkey);
  const uint64_t descend = lineend(text, descstart, length);
  while (descstart < descend && isblankchar(text[descstart])) descstart++;

  unsigned char *out = destination;
  *out++ = '>';
  std::memmove(out, text + idstart, idend - idstart);
  out += idend - idstart;
  *out++ = ' ';
  std::memmove(out, text + descstart, descend - descstart);
  out += descend - descstart;
  *out++ = '\n';

  const uint64_t sequencekey = findkey(text, descend, recordend, keys->sequencekey);
  if (sequencekey == notfound) {
    reporttext("missing \"%s\" in GenBank file", keys->sequencekey);
    return -3;
  }
  uint64_t in = lineend(text, sequencekey + std::strlen(keys->sequencekey), length);
  while (in < length && text[in] != '/') {
    const unsigned char c = text[in++];
    if (c != ' ' && c != '\n' && !std::isdigit(c)) *out++ = c;
  }
  if (in == length) {
    reporttext("input sequence does not end with a line \"//\"");
    return -4;
  }
  *out++ = '\n';
  if (in + 1 >= length || text[in + 1] != '/') {
    reporttext("input sequence does no contain second '%c'", '/');
    return -4;
  }
  in = lineend(text, in, length);
  while (in < length && std::isspace(text[in])) in++;
  *ret_consumed = in;
  return out - destination;
}

int64_t convertmultiformat(unsigned char *buffer, uint64_t length) {
  uint64_t skipped = 0;
  while (skipped < length && std::isspace(buffer[skipped])) skipped++;
  if (skipped < length && buffer[skipped] == '>') {
    std::memmove(buffer, buffer + skipped, length - skipped);
    lastformat = SOURCE_FASTA;
    return int64_t(length - skipped);
  }
  const int64_t genbank =
      convertall(FORMAT_GENBANK, buffer + skipped, length - skipped, buffer, &genbankkeys);
  if (genbank > 0) {
    lastformat = SOURCE_GENBANK;
    return genbank;
  }
  if (genbank < 0) return -1;
  // EMBL is tried from the very first byte: a file that begins with white space is not taken
  // for EMBL (and after a partial GenBank conversion the buffer begins with Fasta text).
  const int64_t embl = convertall(FORMAT_EMBL, buffer, length, buffer, &emblkeys);
  if (embl < 0) return -2;
  if (embl > 0) lastformat = SOURCE_EMBL;
  return embl;
}

SourceFormat lastconvertedformat() { return lastformat; }
