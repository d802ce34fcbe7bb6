// Opening an enhanced suffix array index: the project file is read line by line in its fixed
// order, the alphabet comes from N.al1 or N.al2, and every demanded table is mapped whole,
// its length checked against the counts of the project file. Nothing is copied.
//
// Contents: project file; sequence tables; suffix array tables; release; large lcp values.
#include "sequences/readvirt.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/error.hpp"
#include "base/filehandle.hpp"
#include "base/genfile.hpp"
#include "base/mapfile.hpp"

namespace {

constexpr const char *projectsuffix = "prj";

// ---- Project file ------------------------------------------------------------------------

// The lines of a project file, consumed strictly in order: a key is found only on the line
// that follows the last one taken.
struct ProjectLines {
  FILE *stream;
  LineBuffer line;
  bool haveline;

  void advance() { haveline = readfileline(stream, &line) == 0; }

  // The text after "key=" on the current line, or null.
  const char *valueof(const char *key) const {
    if (!haveline) return nullptr;
    const size_t keylength = std::strlen(key);
    if (std::strncmp(line.text, key, keylength) != 0 || line.text[keylength] != '=') {
      return nullptr;
    }
    return line.text + keylength + 1;
  }

  // Takes the line "key=<signed decimal>" (blanks may follow the number).
  bool take(const char *key, int64_t *ret_value) {
    const char *text = valueof(key);
    if (text == nullptr || !readnumber(text, ret_value, &text) || !onlyblanks(text)) return false;
    advance();
    return true;
  }
  // The same for a count, which cannot be negative.
  bool takecount(const char *key, uint64_t *ret_value) {
    int64_t value;
    const char *text = valueof(key);
    const char *end;
    if (text == nullptr || !readnumber(text, &value, &end) || !onlyblanks(end) || value < 0) {
      return false;
    }
    *ret_value = static_cast<uint64_t>(value);
    advance();
    return true;
  }

  static bool onlyblanks(const char *text) {
    while (std::isspace(static_cast<unsigned char>(*text))) text++;
    return *text == '\0';
  }
  static bool readnumber(const char *text, int64_t *ret_value, const char **ret_end) {
    if (!std::isdigit(static_cast<unsigned char>(text[0])) &&
        !((text[0] == '-' || text[0] == '+') && std::isdigit(static_cast<unsigned char>(text[1])))) {
      return false;
    }
    char *end;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0) return false;
    *ret_value = value;
    *ret_end = end;
    return true;
  }
};

// A file line "key=name bytes positions": the name (a copy) and the two counts.
bool takefileline(ProjectLines *lines, const char *key, FileInfo *info) {
  const char *text = lines->valueof(key);
  if (text == nullptr) return false;
  const char *nameend = text;
  while (*nameend != '\0' && !std::isspace(static_cast<unsigned char>(*nameend))) nameend++;
  if (nameend == text) return false;
  const char *rest = nameend;
  int64_t values[2];
  for (int64_t &value : values) {
    while (*rest == ' ' || *rest == '\t') rest++;
    if (!ProjectLines::readnumber(rest, &value, &rest) || value < 0) return false;
  }
  if (!ProjectLines::onlyblanks(rest)) return false;
  info->filename = copystring(std::string_view(text, static_cast<size_t>(nameend - text)));
  info->filelength = static_cast<uint64_t>(values[0]);
  info->endposition = static_cast<uint64_t>(values[1]);  // the contribution, until summed up
  lines->advance();
  return true;
}

// Reads the file lines of one kind; -1 when the table is full.
int takefilelines(ProjectLines *lines, const char *key, Multiseq *multiseq,
                  const char *indexname) {
  for (;;) {
    if (lines->valueof(key) == nullptr) return 0;
    if (multiseq->numoffiles == MAXFILES) {
      reporttext("%s.%s names more than %lu files", indexname, projectsuffix,
                 static_cast<unsigned long>(MAXFILES));
      return -1;
    }
    if (!takefileline(lines, key, &multiseq->fileinfo[multiseq->numoffiles])) return 0;
    multiseq->numoffiles++;
  }
}

int checkprojectcontent(ProjectLines *lines, Multiseq *multiseq, IndexParameters *parameters,
                        const char *indexname) {
  if (takefilelines(lines, "dbfile", multiseq, indexname) != 0) return -1;
  const uint64_t dbfiles = multiseq->numoffiles;
  if (takefilelines(lines, "queryfile", multiseq, indexname) != 0) return -1;
  multiseq->numofqueryfiles = multiseq->numoffiles - dbfiles;

  // Contributed lengths become end positions, with one separator between two files.
  uint64_t sum = 0;
  for (uint64_t i = 0; i < multiseq->numoffiles; i++) {
    const uint64_t contribution = multiseq->fileinfo[i].endposition;
    multiseq->fileinfo[i].endposition = sum + contribution;
    sum += contribution + 1;
  }

  struct RequiredCount {
    const char *key;
    uint64_t *value;
  };
  const RequiredCount counts[] = {
      {"totallength", &multiseq->totallength},
      {"specialcharacters", &multiseq->specialcharacters},
      {"specialranges", &multiseq->specialranges},
      {"lengthofspecialprefix", &multiseq->lengthofspecialprefix},
      {"lengthofspecialsuffix", &multiseq->lengthofspecialsuffix},
      {"numofsequences", &multiseq->numofsequences},
      {"numofdbsequences", &multiseq->numofdbsequences},
      {"numofquerysequences", &multiseq->numofquerysequences},
  };
  const char *missing = nullptr;
  for (const RequiredCount &count : counts) {
    if (!lines->takecount(count.key, count.value) && missing == nullptr) missing = count.key;
  }
  parameters->longestdefined = lines->takecount("longest", &parameters->longest);
  if (!lines->takecount("prefixlength", &parameters->prefixlength) && missing == nullptr) {
    missing = "prefixlength";
  }
  if (!lines->takecount("largelcpvalues", &parameters->largelcpvalues)) {
    parameters->largelcpvalues = 0;
  }
  if (!lines->takecount("maxbranchdepth", &parameters->maxbranchdepth)) {
    parameters->maxbranchdepth = 0;
  }
  int64_t integersize = 0, littleendian = 0, specialindex = 0;
  const bool integersizegiven = lines->take("integersize", &integersize);
  const bool littleendiangiven = lines->take("littleendian", &littleendian);
  const bool specialindexgiven = lines->take("specialindex", &specialindex);

  if (missing != nullptr) {
    reporttext("%s.%s does not contain line defining %s", indexname, projectsuffix, missing);
    return -1;
  }
  if (multiseq->numofdbsequences + multiseq->numofquerysequences != multiseq->numofsequences ||
      multiseq->numofquerysequences > multiseq->numofsequences) {
    reporttext("inconsistent number of sequences: dbseq=%lu, queryseq=%lu, total=%lu",
               static_cast<unsigned long>(multiseq->numofdbsequences),
               static_cast<unsigned long>(multiseq->numofquerysequences),
               static_cast<unsigned long>(multiseq->numofsequences));
    return -1;
  }
  if (multiseq->numofqueryfiles > 0 && dbfiles == 0) fatalcase();
  if (!integersizegiven || integersize == 32) {
    reporttext("index was generated for %lu-bit integers while this program uses %lu-bit "
               "integers",
               32UL, 64UL);
    return -1;
  }
  if (integersize != 64) {
    reporttext("%s.%s contains illegal line defining the integer size", indexname,
               projectsuffix);
    return -1;
  }
  if (!littleendiangiven) {
    reporttext("%s.%s contains illegal line defining the endianess", indexname, projectsuffix);
    return -1;
  }
  if (littleendian != 1) {
    reporttext("computer has little endian byte order, while index was build on computer with "
               "big endian byte order");
    return -1;
  }
  if (specialindexgiven && specialindex < 0) {
    reporttext("%s.%s contains illegal line defining special index", indexname, projectsuffix);
    return -1;
  }
  parameters->specialindex = specialindexgiven ? specialindex : 0;

  multiseq->numofseparators = multiseq->numofsequences > 0 ? multiseq->numofsequences - 1 : 0;
  if (multiseq->numofqueryfiles > 0) {
    multiseq->totalquerylength =
        multiseq->totallength - multiseq->fileinfo[dbfiles - 1].endposition - 1;
  }
  return 0;
}

// ---- Tables ------------------------------------------------------------------------------

// Maps N.suffix and checks its length: the address, or null with the message.
const void *maptable(const char *indexname, const char *suffix, uint64_t expected,
                     bool writable, uint64_t *ret_length = nullptr) {
  char *path = addsuffix(indexname, suffix);
  uint64_t length = 0;
  void *table = mapwholefile(path, writable, &length);
  if (table != nullptr && ret_length == nullptr && length != expected) {
    unmapfile(table);
    reporttext("%lu bytes read from %s, but %lu expected", static_cast<unsigned long>(length),
               path, static_cast<unsigned long>(expected));
    table = nullptr;
  }
  std::free(path);
  if (ret_length != nullptr) *ret_length = length;
  return table;
}

// Separator positions must ascend inside the sequence and header offsets inside the header
// text, since the queries and the reports index with them.
int checkseparators(const Multiseq *multiseq, const char *indexname) {
  const uint64_t *positions = multiseq->separatorpositions;
  for (uint64_t i = 0; i < multiseq->numofseparators; i++) {
    if (positions[i] >= multiseq->totallength || (i > 0 && positions[i] <= positions[i - 1])) {
      reporttext("%s.ssp: separator positions do not ascend below %lu", indexname,
                 static_cast<unsigned long>(multiseq->totallength));
      return -1;
    }
  }
  return 0;
}

int checkdescoffsets(const Multiseq *multiseq, const char *indexname) {
  const uint64_t *offsets = multiseq->descoffsets;
  for (uint64_t k = 0; k <= multiseq->numofsequences; k++) {
    if (offsets[k] > multiseq->desctextlength || (k > 0 && offsets[k] < offsets[k - 1])) {
      reporttext("%s.sds: header offsets do not ascend up to %lu", indexname,
                 static_cast<unsigned long>(multiseq->desctextlength));
      return -1;
    }
  }
  return 0;
}

}  // namespace

int readprojectfile(Multiseq *multiseq, IndexParameters *parameters, const char *indexname) {
  char *path = addsuffix(indexname, projectsuffix);
  ProjectLines lines{};
  lines.stream = openfilehandle(path, "rb");
  std::free(path);
  if (lines.stream == nullptr) return -1;
  lines.advance();
  const int result = checkprojectcontent(&lines, multiseq, parameters, indexname);
  freelinebuffer(&lines.line);
  if (result != 0) {
    closefilehandle(lines.stream);
    return -2;
  }
  if (closefilehandle(lines.stream) != 0) return -3;
  return 0;
}

int mapsequencetables(Multiseq *multiseq, const char *indexname, uint32_t demand) {
  const uint64_t n = multiseq->totallength;
  if ((demand & TISTAB) != 0) {
    // A missing coded sequence is noticed by the caller; the message stays.
    multiseq->sequence =
        static_cast<unsigned char *>(const_cast<void *>(maptable(indexname, "tis", n, false)));
  }
  if ((demand & OISTAB) != 0) {
    multiseq->plainsequence =
        static_cast<unsigned char *>(const_cast<void *>(maptable(indexname, "ois", n, false)));
    if (multiseq->plainsequence == nullptr) return -1;
  }
  if ((demand & (TISTAB | SSPTAB)) != 0 && multiseq->numofsequences > 1) {
    multiseq->separatorpositions = static_cast<uint64_t *>(const_cast<void *>(
        maptable(indexname, "ssp", 8 * (multiseq->numofsequences - 1), false)));
    if (multiseq->separatorpositions == nullptr) return -1;
    multiseq->allocatedseparators = multiseq->numofseparators;
    if (checkseparators(multiseq, indexname) != 0) return -1;
  }
  if ((demand & DESTAB) != 0) {
    uint64_t length = 0;
    multiseq->desctext =
        static_cast<unsigned char *>(const_cast<void *>(maptable(indexname, "des", 0, true, &length)));
    if (multiseq->desctext == nullptr) return -1;
    multiseq->desctextlength = length;
    multiseq->allocateddesctext = length;
    multiseq->descoffsets = static_cast<uint64_t *>(const_cast<void *>(
        maptable(indexname, "sds", 8 * (multiseq->numofsequences + 1), true)));
    if (multiseq->descoffsets == nullptr) return -1;
    multiseq->descoffsetsmapped = true;
    if (checkdescoffsets(multiseq, indexname) != 0) return -1;
  }
  return 0;
}

int openvirtualtree(Virtualtree *virtualtree, const char *indexname, uint32_t demand) {
  *virtualtree = Virtualtree{};
  initmultiseq(&virtualtree->multiseq);
  if (std::strlen(indexname) >= MAXINDEXNAME) {
    // A name this long cannot appear whole in a message of at most 1023 characters:
    // its first 1000 characters stand for it.
    reporttext("indexname \"%.1000s\" too long", indexname);
    return -1;
  }
  IndexParameters parameters{};
  const int projectresult = readprojectfile(&virtualtree->multiseq, &parameters, indexname);
  if (projectresult != 0) return projectresult;
  virtualtree->longest = parameters.longest;
  virtualtree->longestdefined = parameters.longestdefined;
  virtualtree->prefixlength = parameters.prefixlength;
  virtualtree->largelcpvalues = parameters.largelcpvalues;
  virtualtree->maxbranchdepth = parameters.maxbranchdepth;
  virtualtree->specialindex = parameters.specialindex;
  virtualtree->specialindexiszero = parameters.specialindex == 0;
  if (loadindexalphabet(indexname, &virtualtree->alpha, &virtualtree->alphafromsymbolmap) != 0) {
    return -1;
  }
  if (mapsequencetables(&virtualtree->multiseq, indexname, demand) != 0) return -1;
  virtualtree->mappedtables |= demand & (TISTAB | OISTAB | SSPTAB | DESTAB);

  const uint64_t entries = virtualtree->multiseq.totallength + 1;
  if ((demand & SUFTAB) != 0) {
    virtualtree->suftab = static_cast<const uint64_t *>(maptable(indexname, "suf", 8 * entries, false));
    if (virtualtree->suftab == nullptr) return -1;
    virtualtree->mappedtables |= SUFTAB;
  }
  if ((demand & LCPTAB) != 0) {
    virtualtree->lcptab = static_cast<const unsigned char *>(maptable(indexname, "lcp", entries, false));
    if (virtualtree->lcptab == nullptr) return -1;
    virtualtree->mappedtables |= LCPTAB;
    if (virtualtree->largelcpvalues > 0) {
      virtualtree->llvtab = static_cast<const LargeLcpValue *>(
          maptable(indexname, "llv", 16 * virtualtree->largelcpvalues, false));
      if (virtualtree->llvtab == nullptr) return -1;
    }
  }
  if ((demand & SKPTAB) != 0) {
    virtualtree->skptab = static_cast<const uint64_t *>(maptable(indexname, "skp", 8 * entries, false));
    if (virtualtree->skptab == nullptr) return -1;
    virtualtree->mappedtables |= SKPTAB;
  }
  return 0;
}

int closevirtualtree(Virtualtree *virtualtree) {
  int result = 0;
  auto release = [&result](auto &table) {
    if (table != nullptr && unmapfile(table) != 0 && result == 0) result = -1;
    table = nullptr;
  };
  release(virtualtree->suftab);
  release(virtualtree->lcptab);
  release(virtualtree->llvtab);
  release(virtualtree->skptab);
  virtualtree->mappedtables = 0;
  if (freemultiseq(&virtualtree->multiseq) != 0) result = -1;
  return result;
}

uint64_t largelcp(const Virtualtree *virtualtree, uint64_t rank, LargeLcpCursor *cursor) {
  const LargeLcpValue *table = virtualtree->llvtab;
  const uint64_t count = table == nullptr ? 0 : virtualtree->largelcpvalues;
  uint64_t at = cursor->index;
  if (at < count && table[at].position == rank) return table[at].value;
  if (at + 1 < count && table[at + 1].position == rank) {
    cursor->index = at + 1;
    return table[at + 1].value;
  }
  // Queries mostly ascend in small steps: gallop upwards from the cursor, then bisect.
  uint64_t low = 0, high = count;
  if (at < count && table[at].position < rank) {
    low = at + 1;
    uint64_t step = 1;
    while (low + step < count && table[low + step].position < rank) {
      low += step + 1;
      step *= 2;
    }
    high = std::min(count, low + step + 1);
  } else if (at < count) {
    high = at;
  }
  while (low < high) {
    const uint64_t middle = low + (high - low) / 2;
    if (table[middle].position < rank) low = middle + 1; else high = middle;
  }
  if (low >= count || table[low].position != rank) {
    std::fprintf(stderr, "cannot find %lu in exception table\n", static_cast<unsigned long>(rank));
    std::exit(EXIT_FAILURE);
  }
  cursor->index = low;
  return table[low].value;
}
