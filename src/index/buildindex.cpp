// Building an enhanced suffix array index.
//
// Order of suffixes: by symbol code, wildcards (254) and separators (255) after all regular
// codes, and a suffix that is a prefix of another after it, so that the empty suffix comes
// last. The sorter orders bytes with a shorter suffix first; so the text it sorts has the
// codes 254 and 255 moved down to 253 and 254 (253 never occurs in a coded sequence) and one
// end mark 255 appended, which is greater than every code and occurs once.
//
// Memory: the sorted text (n bytes) and the suffix array (4 bytes per entry while the text
// has fewer than 2^31 symbols, otherwise 8) while sorting; the suffix array is written out
// and read back in passes, so that the lcp step holds the text and one array of the same
// entry size (the predecessor of each suffix, overwritten by its lcp value); then a second
// such array takes the lcp values in rank order while the lcp bytes and the large values
// are written out, and the skip table is computed into the first from right to left by
// jumping along the entries already computed (linear time, no stack).
//
// Contents: temporary files; table writers; suffix array, lcp and skip steps; project file;
// buildindex.
#include "index/buildindex.hpp"

#include <divsufsort.h>
#include <divsufsort64.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/error.hpp"
#include "base/filehandle.hpp"
#include "base/genfile.hpp"
#include "base/output.hpp"
#include "sequences/multiseq.hpp"
#include "sequences/readvirt.hpp"

static_assert(std::endian::native == std::endian::little,
              "index tables are written in the machine's byte order, which must be little endian");

namespace {

// ---- Temporary files ---------------------------------------------------------------------
//
// Every table is written under "N.suffix.tmp<pid>" and renamed once all are complete; the
// project file, which makes the index visible to the search program, is renamed last. An
// interrupted run removes the temporary files it has made.

constexpr int maxtemporaries = 16;
char *temporaries[maxtemporaries];  // written only outside signal handlers
volatile sig_atomic_t temporarycount = 0;

extern "C" void removetemporaries(int signalnumber) {
  for (int i = 0; i < temporarycount; i++) {
    if (temporaries[i] != nullptr) unlink(temporaries[i]);
  }
  std::signal(signalnumber, SIG_DFL);
  std::raise(signalnumber);
}

void watchsignals() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int signalnumber : {SIGINT, SIGTERM, SIGHUP}) std::signal(signalnumber, removetemporaries);
}

struct IndexFiles {
  const char *indexname;
  struct Entry {
    const char *suffix;
    char *finalpath;
    char *temporarypath;
  } entries[maxtemporaries];
  int count;

  const char *temporaryfor(const char *suffix) {
    for (int i = 0; i < count; i++) {
      if (std::strcmp(entries[i].suffix, suffix) == 0) return entries[i].temporarypath;
    }
    char tail[64];
    std::snprintf(tail, sizeof tail, "%s.tmp%ld", suffix, static_cast<long>(getpid()));
    Entry &entry = entries[count];
    entry.suffix = suffix;
    entry.finalpath = addsuffix(indexname, suffix);
    entry.temporarypath = addsuffix(indexname, tail);
    temporaries[count] = entry.temporarypath;
    count++;
    temporarycount = count;
    return entry.temporarypath;
  }

  // Removes every temporary file (after a failure) and forgets the names.
  void discard() {
    for (int i = 0; i < count; i++) unlink(entries[i].temporarypath);
    release();
  }
  void release() {
    temporarycount = 0;
    for (int i = 0; i < count; i++) {
      temporaries[i] = nullptr;
      freeandnull(entries[i].finalpath);
      freeandnull(entries[i].temporarypath);
    }
    count = 0;
  }

  // Renames the tables to their final names, the project file last. An older project file of
  // the same name goes first, so that no moment shows old counts over new tables.
  int publish() {
    char *project = addsuffix(indexname, "prj");
    if (unlink(project) != 0 && errno != ENOENT) {
      reporttext("cannot remove file \"%s\": %s", project, std::strerror(errno));
      std::free(project);
      return -1;
    }
    std::free(project);
    int projectentry = -1;
    for (int i = 0; i < count; i++) {
      if (std::strcmp(entries[i].suffix, "prj") == 0) {
        projectentry = i;
        continue;
      }
      if (renameentry(i) != 0) return -1;
    }
    if (projectentry >= 0 && renameentry(projectentry) != 0) return -1;
    release();
    return 0;
  }
  int renameentry(int i) {
    if (std::rename(entries[i].temporarypath, entries[i].finalpath) != 0) {
      reporttext("cannot rename file \"%s\" to \"%s\": %s", entries[i].temporarypath,
                 entries[i].finalpath, std::strerror(errno));
      return -1;
    }
    return 0;
  }
};

// ---- Table writers -----------------------------------------------------------------------

// A buffered output file; the first failure is kept and reported at close.
struct TableWriter {
  FILE *stream = nullptr;
  const char *path = nullptr;
  int failure = 0;  // errno of the first failing write

  int open(IndexFiles *files, const char *suffix) {
    path = files->temporaryfor(suffix);
    stream = openfilehandle(path, "wb");
    return stream == nullptr ? -1 : 0;
  }
  void write(const void *data, uint64_t bytes) {
    if (failure == 0 && bytes > 0 && std::fwrite(data, 1, bytes, stream) != bytes) {
      failure = errno != 0 ? errno : EIO;
    }
  }
  void writeword(uint64_t value) { write(&value, sizeof value); }
  int close() {
    if (failure == 0 && std::fflush(stream) != 0) failure = errno != 0 ? errno : EIO;
    if (closefilehandle(stream) != 0) {
      stream = nullptr;
      return -1;
    }
    stream = nullptr;
    if (failure != 0) {
      reporttext("cannot write file \"%s\": %s", path, std::strerror(failure));
      return -1;
    }
    return 0;
  }
  // Writes a whole table at once.
  int writetable(IndexFiles *files, const char *suffix, const void *data, uint64_t bytes) {
    if (open(files, suffix) != 0) return -1;
    write(data, bytes);
    return close();
  }
};

// Reads a file of 64-bit words front to back in blocks.
struct WordReader {
  FILE *stream = nullptr;
  std::vector<uint64_t> block;
  uint64_t filled = 0, next = 0;

  int open(const char *path) {
    stream = openfilehandle(path, "rb");
    block.resize(1 << 16);
    filled = next = 0;
    return stream == nullptr ? -1 : 0;
  }
  // The next word; false at the end or after a read error (reported).
  bool read(uint64_t *ret_word) {
    if (next == filled) {
      filled = std::fread(block.data(), sizeof(uint64_t), block.size(), stream);
      next = 0;
      if (filled == 0) return false;
    }
    *ret_word = block[next++];
    return true;
  }
  int close() { return closefilehandle(stream); }
};

// ---- Suffix array, lcp and skip ----------------------------------------------------------

struct BuildCounts {
  uint64_t n;  // coded positions, separators included
  uint64_t longest;  // rank of the suffix at position 0
  uint64_t largelcpvalues;
  uint64_t maxbranchdepth;
  uint64_t specialindex;  // first rank of a suffix that begins with a wildcard or separator
};

int sortsuffixes(const unsigned char *text, int32_t *suffixes, uint64_t length) {
  return divsufsort(text, suffixes, static_cast<saidx_t>(length));
}
int sortsuffixes(const unsigned char *text, int64_t *suffixes, uint64_t length) {
  return divsufsort64(text, suffixes, static_cast<saidx64_t>(length));
}

// Reads the suffix array back from the suf file: calls visit(rank, position) in rank order.
template <typename Visit>
int readsuffixes(const char *path, uint64_t entries, Visit &&visit) {
  WordReader reader;
  if (reader.open(path) != 0) return -1;
  uint64_t rank = 0;
  uint64_t position;
  while (rank < entries && reader.read(&position)) visit(rank++, position);
  if (reader.close() != 0) return -1;
  if (rank != entries) {
    reporttext("cannot read back file \"%s\": %lu of %lu entries read", path,
               static_cast<unsigned long>(rank), static_cast<unsigned long>(entries));
    return -1;
  }
  return 0;
}

// Suffix array, lcp and skip tables of text (n + 1 bytes, ending with the end mark), with
// Index the signed entry type of the sorter. text is freed here.
template <typename Index>
int buildarrays(IndexFiles *files, unsigned char *text, BuildCounts *counts) {
  const uint64_t n = counts->n;
  const uint64_t entries = n + 1;

  printstatus("Sorting %lu suffixes.\n", static_cast<unsigned long>(entries));
  Index *array = allocorexit<Index>(nullptr, entries);
  if (sortsuffixes(text, array, entries) != 0) {
    std::free(array);
    std::free(text);
    reporttext("sorting the suffixes of %lu symbols failed", static_cast<unsigned long>(entries));
    return -1;
  }
  TableWriter writer;
  if (writer.open(files, "suf") != 0) {
    std::free(array);
    std::free(text);
    return -1;
  }
  {
    std::vector<uint64_t> block;
    block.reserve(1 << 16);
    for (uint64_t rank = 0; rank < entries; rank++) {
      const uint64_t position = static_cast<uint64_t>(array[rank]);
      if (position == 0) counts->longest = rank;
      block.push_back(position);
      if (block.size() == block.capacity() || rank + 1 == entries) {
        writer.write(block.data(), block.size() * sizeof(uint64_t));
        block.clear();
      }
    }
  }
  // The first rank whose suffix begins with a wildcard, a separator or the end mark.
  uint64_t low = 0, high = entries;
  while (low < high) {
    const uint64_t middle = low + (high - low) / 2;
    if (text[array[middle]] < UNDEFINEDCODE) low = middle + 1; else high = middle;
  }
  counts->specialindex = low;
  if (writer.close() != 0) {
    std::free(array);
    std::free(text);
    return -1;
  }
  const char *sufpath = files->temporaryfor("suf");

  // Predecessor of each suffix in rank order, then, in place and in text order, the lcp
  // value of each suffix with its predecessor: it drops by at most one from one position to
  // the next, so the comparisons take linear time. The end mark occurs once, so comparing
  // stops at it.
  printstatus("Computing lcp values.\n");
  Index *values = array;  // the suffix array is on disk now
  {
    Index previous = -1;
    if (readsuffixes(sufpath, entries, [&](uint64_t, uint64_t position) {
          values[position] = previous;
          previous = static_cast<Index>(position);
        }) != 0) {
      std::free(values);
      std::free(text);
      return -1;
    }
  }
  uint64_t shared = 0;
  for (uint64_t i = 0; i < entries; i++) {
    const Index predecessor = values[i];
    if (predecessor < 0) {
      values[i] = 0;
      shared = 0;
      continue;
    }
    const unsigned char *a = text + i;
    const unsigned char *b = text + predecessor;
    while (a[shared] == b[shared]) shared++;
    values[i] = static_cast<Index>(shared);
    if (shared > 0) shared--;
  }
  std::free(text);

  // The lcp value of each rank: kept whole for the skip table, and written out as bytes with
  // the large values beside them as they come.
  Index *lcpbyrank = allocorexit<Index>(nullptr, entries);
  TableWriter lcpwriter, llvwriter;
  if (lcpwriter.open(files, "lcp") != 0 || llvwriter.open(files, "llv") != 0) {
    if (lcpwriter.stream != nullptr) lcpwriter.close();
    std::free(values);
    std::free(lcpbyrank);
    return -1;
  }
  counts->maxbranchdepth = 0;
  counts->largelcpvalues = 0;
  std::vector<unsigned char> bytes;
  bytes.reserve(1 << 16);
  const int readresult = readsuffixes(sufpath, entries, [&](uint64_t rank, uint64_t position) {
    const uint64_t value = rank == 0 ? 0 : static_cast<uint64_t>(values[position]);
    lcpbyrank[rank] = static_cast<Index>(value);
    if (value > counts->maxbranchdepth) counts->maxbranchdepth = value;
    if (value >= 255) {
      const LargeLcpValue large = {rank, value};
      llvwriter.write(&large, sizeof large);
      counts->largelcpvalues++;
    }
    bytes.push_back(static_cast<unsigned char>(value >= 255 ? 255 : value));
    if (bytes.size() == bytes.capacity() || rank + 1 == entries) {
      lcpwriter.write(bytes.data(), bytes.size());
      bytes.clear();
    }
  });
  const int lcpclosed = lcpwriter.close();
  const int llvclosed = llvwriter.close();
  if (readresult != 0 || lcpclosed != 0 || llvclosed != 0) {
    std::free(values);
    std::free(lcpbyrank);
    return -1;
  }

  // Skip table, right to left: skip[r] + 1 is the first rank after r whose lcp value is below
  // that of r (n when none is); the ranks in between have values at least as large, so each
  // step may jump over the block that an entry already computed names.
  printstatus("Computing skip table.\n");
  Index *skip = values;
  skip[n] = static_cast<Index>(n);
  for (uint64_t r = n; r-- > 0;) {
    const Index own = lcpbyrank[r];
    uint64_t next = r + 1;
    while (next < n && lcpbyrank[next] >= own) next = static_cast<uint64_t>(skip[next]) + 1;
    skip[r] = static_cast<Index>(next - 1);
  }
  std::free(lcpbyrank);
  if (writer.open(files, "skp") != 0) {
    std::free(skip);
    return -1;
  }
  {
    std::vector<uint64_t> block;
    block.reserve(1 << 16);
    for (uint64_t rank = 0; rank < entries; rank++) {
      block.push_back(static_cast<uint64_t>(skip[rank]));
      if (block.size() == block.capacity() || rank + 1 == entries) {
        writer.write(block.data(), block.size() * sizeof(uint64_t));
        block.clear();
      }
    }
  }
  std::free(skip);
  return writer.close();
}

// ---- Project file ------------------------------------------------------------------------

struct ProjectValues {
  const char *databasename;
  uint64_t filelength;
  uint64_t numofsequences;
  BuildCounts counts;
};

std::string projecttext(const ProjectValues &values, const Multiseq &ms) {
  std::string text;
  char line[5000];
  auto add = [&](const char *key, uint64_t value) {
    std::snprintf(line, sizeof line, "%s=%lu\n", key, static_cast<unsigned long>(value));
    text += line;
  };
  std::snprintf(line, sizeof line, "dbfile=%s %lu %lu\n", values.databasename,
                static_cast<unsigned long>(values.filelength),
                static_cast<unsigned long>(ms.totallength));
  text += line;
  add("totallength", ms.totallength);
  add("specialcharacters", ms.specialcharacters);
  add("specialranges", ms.specialranges);
  add("lengthofspecialprefix", ms.lengthofspecialprefix);
  add("lengthofspecialsuffix", ms.lengthofspecialsuffix);
  add("numofsequences", ms.numofsequences);
  add("numofdbsequences", ms.numofsequences);
  add("numofquerysequences", 0);
  add("longest", values.counts.longest);
  add("prefixlength", 0);
  add("largelcpvalues", values.counts.largelcpvalues);
  add("maxbranchdepth", values.counts.maxbranchdepth);
  add("integersize", 64);
  add("littleendian", 1);
  add("specialindex", values.counts.specialindex);
  return text;
}

// The sequence tables, straight from the loaded file.
int writesequencetables(IndexFiles *files, const Multiseq *ms, const Alphabet *alpha) {
  TableWriter writer;
  const std::string symbolmap = symbolmaptext(alpha);
  const uint64_t separators = ms->numofsequences > 0 ? ms->numofsequences - 1 : 0;
  if (writer.writetable(files, "al1", symbolmap.data(), symbolmap.size()) != 0 ||
      writer.writetable(files, "tis", ms->sequence, ms->totallength) != 0 ||
      writer.writetable(files, "ois", ms->plainsequence, ms->totallength) != 0 ||
      writer.writetable(files, "ssp", ms->separatorpositions, 8 * separators) != 0 ||
      writer.writetable(files, "des", ms->desctext, ms->desctextlength) != 0 ||
      writer.writetable(files, "sds", ms->descoffsets, 8 * (ms->numofsequences + 1)) != 0) {
    return -1;
  }
  return 0;
}

int buildfromloaded(IndexFiles *files, Multiseq *ms, const Alphabet *alpha,
                    ProjectValues *values, const IndexBuildOptions *options) {
  printstatus("Writing sequence tables of index `%s'.\n", files->indexname);
  if (writesequencetables(files, ms, alpha) != 0) return -1;
  const Multiseq counted = *ms;  // the counts, for the project file
  values->numofsequences = ms->numofsequences;

  // The text to sort: special codes moved below the end mark.
  const uint64_t n = ms->totallength;
  unsigned char *text = allocorexit<unsigned char>(nullptr, n + 1);
  for (uint64_t i = 0; i < n; i++) {
    const unsigned char code = ms->sequence[i];
    text[i] = code >= WILDCARDCODE ? static_cast<unsigned char>(code - 1) : code;
  }
  text[n] = 255;
  freemultiseq(ms);

  values->counts.n = n;
  const bool narrow = !options->wideindex && n + 1 <= static_cast<uint64_t>(INT32_MAX);
  const int result = narrow ? buildarrays<int32_t>(files, text, &values->counts)
                            : buildarrays<int64_t>(files, text, &values->counts);
  if (result != 0) return -1;

  TableWriter writer;
  const std::string project = projecttext(*values, counted);
  return writer.writetable(files, "prj", project.data(), project.size());
}

}  // namespace

std::string symbolmaptext(const Alphabet *alpha) {
  std::string text;
  if (alpha->mapsize == 0) return text;
  auto addline = [&](uint64_t code, unsigned char representative) {
    std::string line;
    for (uint64_t i = 0; i < alpha->domainsize; i++) {
      const unsigned char c = alpha->mapdomain[i];
      if (alpha->symbolmap[c] == code) line += static_cast<char>(c);
    }
    if (line.empty()) return;
    if (static_cast<unsigned char>(line[0]) != representative) {
      line += ' ';
      line += static_cast<char>(representative);
    }
    text += line;
    text += '\n';
  };
  for (uint64_t code = 0; code + 1 < alpha->mapsize; code++) {
    addline(code, alpha->characters[code]);
  }
  addline(WILDCARDCODE, alpha->characters[WILDCARDCODE]);
  return text;
}

int buildindex(const char *databasename, const Alphabet *alpha, const char *indexname,
               const IndexBuildOptions *options) {
  for (const char *c = databasename; *c != '\0'; c++) {
    if (*c == ' ' || *c == '\t' || *c == '\n' || *c == '\r') {
      reporttext("the project file cannot name the database file \"%s\": its name contains "
                 "white space",
                 databasename);
      return -1;
    }
  }
  if (std::strlen(indexname) + 32 >= MAXINDEXNAME) {
    // A name this long cannot appear whole in a message of at most 1023 characters:
    // its first 1000 characters stand for it.
    reporttext("indexname \"%.1000s\" too long", indexname);
    return -1;
  }
  ProjectValues values{};
  values.databasename = databasename;
  struct stat status;
  if (stat(databasename, &status) == 0) values.filelength = static_cast<uint64_t>(status.st_size);

  printstatus("Reading input sequence from `%s'.\n", databasename);
  Multiseq ms;
  initmultiseq(&ms);
  if (readsequencefile(&ms, databasename, alpha, true) != 0) {
    freemultiseq(&ms);
    return -1;
  }
  watchsignals();
  IndexFiles files{};
  files.indexname = indexname;
  if (buildfromloaded(&files, &ms, alpha, &values, options) != 0 || files.publish() != 0) {
    freemultiseq(&ms);
    files.discard();
    return -1;
  }
  freemultiseq(&ms);
  printstatus("Index `%s' written: %lu sequences, %lu symbols, %lu large lcp values.\n",
              indexname, static_cast<unsigned long>(values.numofsequences),
              static_cast<unsigned long>(values.counts.n),
              static_cast<unsigned long>(values.counts.largelcpvalues));
  return 0;
}
