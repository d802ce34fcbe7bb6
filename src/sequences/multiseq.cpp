// The multiple-sequence container: creation and release, and the questions asked of it
// while matching and reporting (which sequence holds a position, where a sequence lies).
#include "sequences/multiseq.hpp"

#include <cstdlib>

#include "base/error.hpp"
#include "base/mapfile.hpp"

namespace {

// A table is either a memory map (of a sequence file or an index) or an allocated block.
int releasetable(void *table) {
  if (table == nullptr) return 0;
  if (ismappedfile(table)) return unmapfile(table) == 0 ? 0 : -1;
  std::free(table);
  return 0;
}

template <typename T>
int releasefield(T *&field) {
  const int result = releasetable(const_cast<void *>(static_cast<const void *>(field)));
  field = nullptr;
  return result;
}

}  // namespace

void initmultiseq(Multiseq *multiseq) { *multiseq = Multiseq{}; }

int freemultiseq(Multiseq *multiseq) {
  int result = 0;
  result |= releasefield(multiseq->separatorpositions);
  result |= releasefield(multiseq->desctext);
  result |= releasefield(multiseq->descoffsets);
  if (multiseq->plainsequence == multiseq->sequence) {
    multiseq->plainsequence = nullptr;
  } else {
    result |= releasefield(multiseq->plainsequence);
  }
  result |= releasefield(multiseq->sequence);
  for (uint64_t i = 0; i < multiseq->numoffiles && i < MAXFILES; i++) {
    freeandnull(multiseq->fileinfo[i].filename);
  }
  multiseq->allocatedseparators = 0;
  multiseq->numofseparators = 0;
  multiseq->allocateddesctext = 0;
  multiseq->desctextlength = 0;
  multiseq->numoffiles = 0;
  return result == 0 ? 0 : -1;
}

int64_t seqnumofposition(const Multiseq *multiseq, uint64_t position) {
  // Positions past the end are rejected for a single sequence as well.
  if (position >= multiseq->totallength) {
    reporttext("cannot find position %lu", static_cast<unsigned long>(position));
    return -1;
  }
  if (multiseq->numofsequences <= 1) return 0;
  const uint64_t *separators = multiseq->separatorpositions;
  const uint64_t separatorcount = multiseq->numofsequences - 1;
  if (position <= separators[0]) return 0;
  if (position > separators[separatorcount - 1]) return int64_t(separatorcount);
  // The first separator at or after position closes the sequence that holds it.
  uint64_t low = 1;
  uint64_t high = separatorcount - 1;
  while (low < high) {
    const uint64_t middle = low + (high - low) / 2;
    if (separators[middle] < position) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return int64_t(low);
}

uint64_t seqstartposition(const Multiseq *multiseq, uint64_t seqnum) {
  return seqnum == 0 ? 0 : multiseq->separatorpositions[seqnum - 1] + 1;
}

int seqrange(const Multiseq *multiseq, uint64_t seqnum, PositionPair *ret_range) {
  if (seqnum >= multiseq->numofsequences) {
    reporttext("unit %lu does not exist: maximal number of units is %lu",
               static_cast<unsigned long>(seqnum),
               static_cast<unsigned long>(multiseq->numofsequences));
    return -1;
  }
  ret_range->first = seqstartposition(multiseq, seqnum);
  ret_range->last = seqnum == multiseq->numofsequences - 1
                        ? multiseq->totallength - 1
                        : multiseq->separatorpositions[seqnum] - 1;
  return 0;
}

int multiseq_check(const Multiseq *multiseq) {
  const uint64_t sequences = multiseq->numofsequences;
  const uint64_t length = multiseq->totallength;
  const uint64_t separatorcount = sequences == 0 ? 0 : sequences - 1;
  if (sequences > 1 && multiseq->numofseparators != separatorcount) {
    return reporttext("multiseq: %lu separators recorded for %lu sequences",
                      static_cast<unsigned long>(multiseq->numofseparators),
                      static_cast<unsigned long>(sequences));
  }
  for (uint64_t i = 0; i < separatorcount; i++) {
    const uint64_t position = multiseq->separatorpositions[i];
    if (position >= length || (i > 0 && position <= multiseq->separatorpositions[i - 1])) {
      return reporttext("multiseq: separator %lu at %lu is out of order or range",
                        static_cast<unsigned long>(i), static_cast<unsigned long>(position));
    }
  }
  if (multiseq->sequence != nullptr) {
    uint64_t separatorsseen = 0;
    uint64_t specials = 0;
    uint64_t ranges = 0;
    bool previousspecial = false;
    for (uint64_t p = 0; p < length; p++) {
      const unsigned char code = multiseq->sequence[p];
      if (code == UNDEFINEDCODE) {
        return reporttext("multiseq: undefined code at position %lu",
                          static_cast<unsigned long>(p));
      }
      if (code == SEPARATORCODE) {
        if (separatorsseen >= separatorcount ||
            multiseq->separatorpositions[separatorsseen] != p) {
          return reporttext("multiseq: unrecorded separator at position %lu",
                            static_cast<unsigned long>(p));
        }
        separatorsseen++;
      }
      const bool special = code >= WILDCARDCODE;
      if (special) {
        specials++;
        if (!previousspecial) ranges++;
      }
      previousspecial = special;
    }
    if (separatorsseen != separatorcount) {
      return reporttext("multiseq: %lu separators in the sequence, %lu recorded",
                        static_cast<unsigned long>(separatorsseen),
                        static_cast<unsigned long>(separatorcount));
    }
    uint64_t prefix = 0;
    while (prefix < length && multiseq->sequence[prefix] >= WILDCARDCODE) prefix++;
    uint64_t suffix = 0;
    while (suffix < length && multiseq->sequence[length - 1 - suffix] >= WILDCARDCODE) suffix++;
    if (specials != multiseq->specialcharacters || ranges != multiseq->specialranges ||
        prefix != multiseq->lengthofspecialprefix || suffix != multiseq->lengthofspecialsuffix) {
      return reporttext("multiseq: special counts %lu/%lu/%lu/%lu differ from the sequence's "
                        "%lu/%lu/%lu/%lu",
                        static_cast<unsigned long>(multiseq->specialcharacters),
                        static_cast<unsigned long>(multiseq->specialranges),
                        static_cast<unsigned long>(multiseq->lengthofspecialprefix),
                        static_cast<unsigned long>(multiseq->lengthofspecialsuffix),
                        static_cast<unsigned long>(specials), static_cast<unsigned long>(ranges),
                        static_cast<unsigned long>(prefix), static_cast<unsigned long>(suffix));
    }
  }
  if (multiseq->descoffsets != nullptr && multiseq->desctext != nullptr) {
    for (uint64_t k = 0; k < sequences; k++) {
      const uint64_t from = multiseq->descoffsets[k];
      const uint64_t to = multiseq->descoffsets[k + 1];
      if (to <= from || multiseq->desctext[to - 1] != '\n') {
        return reporttext("multiseq: header %lu does not end with a newline",
                          static_cast<unsigned long>(k));
      }
    }
    if (multiseq->descoffsets[0] != 0 ||
        (multiseq->desctextlength != 0 &&
         multiseq->descoffsets[sequences] != multiseq->desctextlength)) {
      return reporttext("multiseq: header offsets do not cover the header text");
    }
  }
  return 0;
}
