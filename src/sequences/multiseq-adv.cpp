// Loading a sequence file into a Multiseq: the file is mapped (or decompressed) once, turned
// into Fasta text in place, and the coded sequence is written over that text in one pass.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <vector>

#include "base/error.hpp"
#include "base/mapfile.hpp"
#include "base/readgzip.hpp"
#include "base/threads.hpp"
#include "sequences/multiseq.hpp"
#include "sequences/parsemultiform.hpp"

namespace {

constexpr uint64_t desctextstep = 4096;

// Per thread: it is set and read by the thread that reads the file.
thread_local bool emptyaccepted = false;
constexpr uint64_t tablestep = 128;

// Growth is at least the fixed step and otherwise proportional to the size, so that many
// small headers or sequences still load in linear time.
uint64_t grown(uint64_t allocated, uint64_t needed, uint64_t step) {
  uint64_t size = allocated + (allocated / 2 > step ? allocated / 2 : step);
  return size < needed ? needed : size;
}

void appenddesc(Multiseq *multiseq, const unsigned char *text, uint64_t length) {
  if (length == 0) return;  // an empty header on the last line has nothing to copy yet
  const uint64_t needed = multiseq->desctextlength + length;
  if (needed > multiseq->allocateddesctext) {
    multiseq->allocateddesctext = grown(multiseq->allocateddesctext, needed, desctextstep);
    multiseq->desctext = allocorexit(multiseq->desctext, multiseq->allocateddesctext);
  }
  std::memcpy(multiseq->desctext + multiseq->desctextlength, text, length);
  multiseq->desctextlength = needed;
}

struct OffsetTable {
  uint64_t allocated;
};

void appendoffset(Multiseq *multiseq, OffsetTable *table, uint64_t offset, uint64_t count) {
  if (count >= table->allocated) {
    table->allocated = grown(table->allocated, count + 1, tablestep);
    multiseq->descoffsets = allocorexit(multiseq->descoffsets, table->allocated);
  }
  multiseq->descoffsets[count] = offset;
}

void appendseparator(Multiseq *multiseq, uint64_t position) {
  if (multiseq->numofseparators >= multiseq->allocatedseparators) {
    multiseq->allocatedseparators =
        grown(multiseq->allocatedseparators, multiseq->numofseparators + 1, tablestep);
    multiseq->separatorpositions =
        allocorexit(multiseq->separatorpositions, multiseq->allocatedseparators);
  }
  multiseq->separatorpositions[multiseq->numofseparators++] = position;
}

// Classes of input bytes outside a header: a symbol code (below 256), white space to skip,
// the start of a header, or a byte outside the alphabet.
constexpr uint16_t skipbyte = 256;
constexpr uint16_t headerbyte = 257;
constexpr uint16_t illegalbyte = 258;

void classifybytes(const Alphabet *alpha, uint16_t *classes) {
  for (int c = 0; c < 256; c++) {
    const uint64_t code = alpha->symbolmap[c];
    if (c == '>') {
      classes[c] = headerbyte;
    } else if (std::isspace(c)) {
      classes[c] = skipbyte;
    } else if (code == UNDEFINEDCODE || code > SEPARATORCODE) {
      classes[c] = illegalbyte;
    } else {
      classes[c] = static_cast<uint16_t>(code);
    }
  }
}

// Length of the line at text when it holds nothing but ordinary symbols (below the wildcard
// code) and ends with a newline; 0 otherwise.
uint64_t ordinaryline(const uint16_t *classes, const unsigned char *text, uint64_t length,
                      uint64_t *ret_linelength) {
  const void *newline = std::memchr(text, '\n', length);
  *ret_linelength = newline == nullptr ? length
                                       : uint64_t(static_cast<const unsigned char *>(newline) - text);
  if (newline == nullptr) return 0;
  const uint64_t run = *ret_linelength;
  uint16_t highest = 0;
  for (uint64_t k = 0; k < run; k++) highest = std::max(highest, classes[text[k]]);
  return highest < WILDCARDCODE ? run : 0;
}

int illegalcharacter(unsigned char c, const char *filename, uint64_t line) {
  return reporttext("Illegal character '%c' in file \"%s\" line %lu", c, filename,
                    static_cast<unsigned long>(line));
}

// The first empty sequence among several: the inner ones in ascending order, then the first,
// then the last. -1 when none is empty.
int64_t firstemptysequence(const Multiseq *multiseq) {
  const uint64_t *separators = multiseq->separatorpositions;
  const uint64_t sequences = multiseq->numofsequences;
  for (uint64_t k = 1; k + 1 < sequences; k++) {
    if (separators[k] == separators[k - 1] + 1) return int64_t(k);
  }
  if (separators[0] == 0) return 0;
  if (separators[sequences - 2] == multiseq->totallength - 1) return int64_t(sequences - 1);
  return -1;
}

// Whether a text of length bytes is parsed by jobs threads: threads pay only for some
// megabytes.
bool parallelparse(uint64_t jobs, uint64_t length) {
  return jobs > 1 && length >= (UINT64_C(1) << 22);
}

// Whether the text is Fasta as it stands: a header after white space.
bool startsfasta(const unsigned char *text, uint64_t length) {
  uint64_t in = 0;
  while (in < length && std::isspace(text[in])) in++;
  return in < length && text[in] == '>';
}

bool endswith(const char *name, const char *suffix) {
  const size_t namelength = std::strlen(name);
  const size_t suffixlength = std::strlen(suffix);
  return namelength >= suffixlength &&
         std::strcmp(name + namelength - suffixlength, suffix) == 0;
}

// One stretch of the Fasta text parsed by itself: from `in` (a header that follows a newline,
// or the first header of the text) to end, which lies after a newline or at the end of the
// text. The codes are written over the text from begin on; the separators, headers and their
// offsets go to tables, those of the multiseq for the first stretch and tables of their own
// for the others, with positions and offsets counted from the stretch's start.
struct FastaPart {
  unsigned char *text;
  const uint16_t *classes;
  uint64_t begin, in, end;
  uint64_t lastnewline;  // the newline before in, or UINT64_MAX
  bool follows;          // other sequences come before it: its first header adds a separator
  bool prefault;         // make the pages of its text present first
  Multiseq *tables;
  OffsetTable offsets;
  uint64_t out, specials, ranges;
  bool previousspecial;  // the last code written is special
  uint64_t line;         // lines begun, counted from 1 at in
  // A failure: the illegal character and its line, counted from 1 at in.
  bool failed;
  unsigned char illegal;
  uint64_t illegalline;
};

void parsepart(FastaPart *part) {
  unsigned char *text = part->text;
  const uint16_t *classes = part->classes;
  Multiseq *tables = part->tables;
  const uint64_t length = part->end;
  uint64_t in = part->in, out = part->begin;
  uint64_t line = 1, lastnewline = part->lastnewline;
  uint64_t specials = 0, ranges = 0;
  bool previousspecial = false;
  if (part->prefault) prefaultwritable(text + part->begin, part->end - part->begin);
  auto fail = [&](unsigned char c) {
    part->failed = true;
    part->illegal = c;
    part->illegalline = line;
  };
  // The end of a line the fast path refused: it is taken byte by byte up to there, and not
  // looked at again from each of its bytes.
  uint64_t slowuntil = 0;
  while (in < length) {
    // Fast path: a whole line of ordinary symbols up to its newline, checked in a first pass
    // and then coded, so that a line with anything else is taken byte by byte below.
    uint64_t run = 0;
    if (in >= slowuntil) {
      uint64_t linelength = 0;
      run = ordinaryline(classes, text + in, length - in, &linelength);
      if (run == 0) slowuntil = in + linelength;
    }
    if (run > 0) {
      for (uint64_t k = 0; k < run; k++) text[out + k] = static_cast<unsigned char>(classes[text[in + k]]);
      out += run;
      in += run + 1;
      line++;
      lastnewline = in - 1;
      previousspecial = false;
      continue;
    }
    const unsigned char c = text[in];
    const uint16_t kind = classes[c];
    if (kind < skipbyte) {
      text[out++] = static_cast<unsigned char>(kind);
      const bool special = kind >= WILDCARDCODE;
      if (special) {
        specials++;
        if (!previousspecial) ranges++;
      }
      previousspecial = special;
      in++;
    } else if (kind == skipbyte) {
      if (c == '\n') {
        line++;
        lastnewline = in;
      }
      in++;
    } else if (kind == headerbyte) {
      if (in != 0 && lastnewline != in - 1) {
        fail('>');
        break;
      }
      appendoffset(tables, &part->offsets, tables->desctextlength, tables->numofsequences);
      if (tables->numofsequences > 0 || part->follows) {
        text[out] = SEPARATORCODE;
        appendseparator(tables, out - part->begin);
        out++;
        specials++;
        if (!previousspecial) ranges++;
        previousspecial = true;
      }
      tables->numofsequences++;
      const uint64_t headerstart = in + 1;
      const void *newline = std::memchr(text + headerstart, '\n', length - headerstart);
      if (newline != nullptr) {
        const uint64_t headerend = uint64_t(static_cast<const unsigned char *>(newline) - text);
        appenddesc(tables, text + headerstart, headerend + 1 - headerstart);
        lastnewline = headerend;
        line++;
        in = headerend + 1;
      } else {
        // A header on the unterminated last line still ends with a newline in desctext.
        static const unsigned char newlinechar = '\n';
        appenddesc(tables, text + headerstart, length - headerstart);
        appenddesc(tables, &newlinechar, 1);
        in = length;
      }
    } else {
      fail(c);
      break;
    }
  }
  part->out = out - part->begin;
  part->specials = specials;
  part->ranges = ranges;
  part->previousspecial = previousspecial;
  part->line = line;
}

void *parsepartbody(void *argument) {
  parsepart(static_cast<FastaPart *>(argument));
  return nullptr;
}

// Where the stretches after the first start: up to jobs - 1 headers that follow a newline,
// near equal shares of the text after from, in ascending order.
std::vector<uint64_t> partstarts(const unsigned char *text, uint64_t from, uint64_t length,
                                 uint64_t jobs) {
  std::vector<uint64_t> starts;
  if (jobs < 2) return starts;
  for (uint64_t k = 1; k < jobs; k++) {
    uint64_t at = std::max(from + (length - from) / jobs * k, starts.empty() ? from : starts.back());
    while (at < length) {
      const void *newline = std::memchr(text + at, '\n', length - at);
      if (newline == nullptr) return starts;
      at = uint64_t(static_cast<const unsigned char *>(newline) - text) + 1;
      if (at < length && text[at] == '>') break;
    }
    if (at >= length) break;
    starts.push_back(at);
  }
  return starts;
}

// Appends the tables of a later stretch, whose codes now start at position offset, to the
// multiseq's.
void appendpart(Multiseq *multiseq, OffsetTable *offsets, const FastaPart &part,
                uint64_t offset) {
  const Multiseq *tables = part.tables;
  for (uint64_t k = 0; k < tables->numofseparators; k++)
    appendseparator(multiseq, tables->separatorpositions[k] + offset);
  const uint64_t descbase = multiseq->desctextlength;
  for (uint64_t k = 0; k < tables->numofsequences; k++) {
    appendoffset(multiseq, offsets, tables->descoffsets[k] + descbase,
                 multiseq->numofsequences + k);
  }
  appenddesc(multiseq, tables->desctext, tables->desctextlength);
  multiseq->numofsequences += tables->numofsequences;
}

}  // namespace

int parsefasta(const Alphabet *alpha, Multiseq *multiseq, const char *filename,
               unsigned char *text, uint64_t length, uint64_t jobs) {
  initmultiseq(multiseq);
  multiseq->sequence = text;
  uint16_t classes[256];
  classifybytes(alpha, classes);

  uint64_t line = 1;
  uint64_t in = 0;
  // Position of the last newline read: a header must follow one or start the text.
  uint64_t lastnewline = UINT64_MAX;
  // Before the first header only white space may stand.
  while (in < length && classes[text[in]] == skipbyte) {
    if (text[in] == '\n') {
      line++;
      lastnewline = in;
    }
    in++;
  }
  if (in == length || std::memchr(text + in, '>', length - in) == nullptr) {
    reporttext("no sequences in multiple fasta file");
    return -2;
  }
  if (text[in] != '>') return illegalcharacter(text[in], filename, line);

  // The text is cut at headers into stretches parsed at the same time, each coding over its
  // own text; their codes are then moved together and their tables appended in order. The
  // first failure in the text is the one reported, as by a parse in one stretch.
  const std::vector<uint64_t> starts = partstarts(text, in, length, jobs);
  const uint64_t count = starts.size() + 1;
  std::vector<FastaPart> parts(count);
  std::vector<Multiseq> tables(count - 1);
  for (uint64_t k = 0; k < count; k++) {
    FastaPart &part = parts[k];
    part = FastaPart{};
    part.text = text;
    part.classes = classes;
    part.begin = k == 0 ? 0 : starts[k - 1];
    part.in = k == 0 ? in : starts[k - 1];
    part.end = k + 1 < count ? starts[k] : length;
    part.lastnewline = k == 0 ? lastnewline : part.in - 1;
    part.follows = k > 0;
    part.prefault = jobs > 1;
    if (k > 0) initmultiseq(&tables[k - 1]);
    part.tables = k == 0 ? multiseq : &tables[k - 1];
  }
  runeach(parts.data(), count, parsepartbody);

  int status = 0;
  uint64_t out = parts[0].out, specials = 0, ranges = 0;
  for (uint64_t k = 0; k < count; k++) {
    const FastaPart &part = parts[k];
    if (part.failed) {
      status = illegalcharacter(part.illegal, filename, line + part.illegalline - 1);
      break;
    }
    line += part.line - 1;
    if (k > 0) {
      std::memmove(text + out, text + part.begin, part.out);
      appendpart(multiseq, &parts[0].offsets, part, out);
      out += part.out;
      // The separator that begins the stretch continues a run of special codes before it.
      if (parts[k - 1].previousspecial) ranges--;
    }
    specials += part.specials;
    ranges += part.ranges;
  }
  for (Multiseq &table : tables) freemultiseq(&table);
  if (status != 0) return status;
  appendoffset(multiseq, &parts[0].offsets, multiseq->desctextlength, multiseq->numofsequences);
  multiseq->totallength = out;
  multiseq->specialcharacters = specials;
  multiseq->specialranges = ranges;
  uint64_t prefix = 0;
  while (prefix < out && text[prefix] >= WILDCARDCODE) prefix++;
  uint64_t suffix = 0;
  while (suffix < out && text[out - 1 - suffix] >= WILDCARDCODE) suffix++;
  multiseq->lengthofspecialprefix = prefix;
  multiseq->lengthofspecialsuffix = suffix;
  multiseq->numofdbsequences = multiseq->numofsequences;
  if (multiseq->numofsequences >= 2 && !emptyaccepted) {
    const int64_t empty = firstemptysequence(multiseq);
    if (empty >= 0) {
      reporttext("sequence %lu is empty", static_cast<unsigned long>(empty));
      return -3;
    }
  }
  return 0;
}

void setemptysequencesaccepted(bool accepted) { emptyaccepted = accepted; }
bool emptysequencesaccepted() { return emptyaccepted; }

uint64_t extractplain(unsigned char *destination, const unsigned char *text, uint64_t length) {
  uint64_t out = 0;
  uint64_t in = 0;
  while (in < length) {
    const unsigned char c = text[in];
    if (c == '>') {
      if (in > 0) destination[out++] = SEPARATORCODE;
      const void *newline = std::memchr(text + in, '\n', length - in);
      in = newline == nullptr ? length
                              : uint64_t(static_cast<const unsigned char *>(newline) - text) + 1;
    } else {
      if (!std::isspace(c)) destination[out++] = c;
      in++;
    }
  }
  return out;
}

namespace {
std::atomic<bool> readsintomemory{false};
}  // namespace

void setsequencefilesread(bool read) { readsintomemory.store(read); }

int readsequencefile(Multiseq *multiseq, const char *filename, const Alphabet *alpha,
                     bool keepcharacters, uint64_t jobs) {
  uint64_t filelength = 0;
  unsigned char *buffer = nullptr;
  if (endswith(filename, ".gz")) {
    buffer = readgzipfile(filename, &filelength);
  } else if (readsintomemory.load()) {
    buffer = static_cast<unsigned char *>(readwholefile(filename, &filelength));
  } else {
    buffer = static_cast<unsigned char *>(mapwholefile(filename, true, &filelength));
    // The parse writes over every page of the private copy: taking the copies in one go
    // saves a fault per 4 KiB page. A Fasta text parsed by threads is left to them, each
    // taking the pages of its stretch.
    if (buffer != nullptr &&
        !(parallelparse(jobs, filelength) && !keepcharacters && startsfasta(buffer, filelength))) {
      prefaultwritable(buffer, filelength);
    }
  }
  if (buffer == nullptr) return -1;
  // From here on the multiseq owns the buffer, whatever happens.
  multiseq->sequence = buffer;
  const int64_t converted = convertmultiformat(buffer, filelength);
  if (converted < 0) return -1;
  if (converted == 0) {
    return reporttext("input file \"%s\" is not in Fasta, GENBANK or EMBL format", filename);
  }
  if (alpha->mapsize == 0) return reporttext("need an alphabet for transforming fasta file");
  unsigned char *plain = nullptr;
  if (keepcharacters) {
    plain = allocorexit<unsigned char>(nullptr, uint64_t(converted));
    extractplain(plain, buffer, uint64_t(converted));
  }
  const int parsed = parsefasta(alpha, multiseq, filename, buffer, uint64_t(converted),
                                parallelparse(jobs, uint64_t(converted)) ? jobs : 1);
  multiseq->plainsequence = plain;
  multiseq->numoffiles = 1;
  multiseq->fileinfo[0].filename = copystring(filename);
  multiseq->fileinfo[0].filelength = filelength;
  multiseq->fileinfo[0].endposition = multiseq->totallength;
  if (parsed != 0) return -1;
  if (multiseq->totallength == 0) return reporttext("input sequences are all empty");
  return 0;
}
