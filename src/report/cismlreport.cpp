// The CisML report: head, body from the collected matches, closing line, and the XML
// escaping of every text written into the document.
//
// Contents: escaping; document buffer; head; body; tail; report_cisml.
#include "report/cismlreport.hpp"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "base/error.hpp"
#include "base/output.hpp"
#include "model/profile.hpp"
#include "report/matchcollection.hpp"
#include "report/reports.hpp"
#include "sequences/multiseq.hpp"
#include "sequences/virtualtree.hpp"
#include "statistics/distribution.hpp"

// ---------------------------------------------------------------------------------------
// Escaping

namespace {

enum ByteClass : unsigned char { PLAIN, ENTITY, FORBIDDEN, MULTIBYTE };

constexpr ByteClass classof(unsigned char c) {
  if (c == '&' || c == '<' || c == '>' || c == '"' || c == '\'') return ENTITY;
  if (c == '\t' || c == '\n' || c == '\r') return PLAIN;
  if (c < 0x20) return FORBIDDEN;
  if (c >= 0x80) return MULTIBYTE;
  return PLAIN;
}

struct ByteClasses {
  ByteClass of[256];
  constexpr ByteClasses() : of() {
    for (int c = 0; c < 256; c++) of[c] = classof(static_cast<unsigned char>(c));
  }
};
constexpr ByteClasses byteclasses;

void appendentity(std::string &text, unsigned char c) {
  switch (c) {
    case '&':
      text += "&amp;";
      break;
    case '<':
      text += "&lt;";
      break;
    case '>':
      text += "&gt;";
      break;
    case '"':
      text += "&quot;";
      break;
    default:
      text += "&apos;";
      break;
  }
}

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence of a character XML allows that starts at bytes
// (2 to 4), or 0 when there is none: overlong forms, surrogates, code points above U+10FFFF
// and the non-characters U+FFFE and U+FFFF do not count.
uint64_t utf8length(const unsigned char *bytes, uint64_t remaining) {
  const unsigned char lead = bytes[0];
  uint64_t length;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (remaining < length || bytes[1] < low || bytes[1] > high) return 0;
  for (uint64_t i = 2; i < length; i++)
    if (!continuation(bytes[i])) return 0;
  if (lead == 0xEF && bytes[1] == 0xBF && (bytes[2] == 0xBE || bytes[2] == 0xBF)) return 0;
  return length;
}

}  // namespace

void appendxmltext(std::string &text, const unsigned char *bytes, uint64_t length,
                   bool descriptionnewlines) {
  uint64_t i = 0;
  while (i < length) {
    const unsigned char c = bytes[i];
    switch (byteclasses.of[c]) {
      case PLAIN:
        if (c == '\n' && descriptionnewlines) {
          text += ". ";
        } else {
          text += static_cast<char>(c);
        }
        i++;
        break;
      case ENTITY:
        appendentity(text, c);
        i++;
        break;
      case FORBIDDEN:
        text += '?';
        i++;
        break;
      case MULTIBYTE: {
        const uint64_t sequence = utf8length(bytes + i, length - i);
        if (sequence == 0) {
          text += '?';
          i++;
        } else {
          text.append(reinterpret_cast<const char *>(bytes + i), sequence);
          i += sequence;
        }
        break;
      }
    }
  }
}

namespace {

void appendxmlstring(std::string &text, const char *string) {
  if (string == nullptr) return;
  appendxmltext(text, reinterpret_cast<const unsigned char *>(string), std::strlen(string), false);
}

// One matching-sequence character: a lone byte above 0x7F is no UTF-8 character.
void appendxmlcharacter(std::string &text, unsigned char c) {
  switch (byteclasses.of[c]) {
    case PLAIN:
      text += static_cast<char>(c);
      break;
    case ENTITY:
      appendentity(text, c);
      break;
    default:
      text += '?';
      break;
  }
}

// ---------------------------------------------------------------------------------------
// Document buffer: the body is assembled in one buffer written out in large blocks.

constexpr size_t FLUSHSIZE = 1 << 16;

// Writes text out and empties it: 0, or -1 with the error code set after a failed write.
int writeout(std::string &text) {
  const int result = text.empty() ? 0 : writeoutput(text.data(), text.size());
  text.clear();
  if (result != 0) seterrorcode(1);
  return result;
}

void appendunsigned(std::string &text, uint64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  text.append(digits, static_cast<size_t>(end - digits));
}

void appendsigned(std::string &text, int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  text.append(digits, static_cast<size_t>(end - digits));
}

// The value as printf's "%.6e" writes it.
void appendscientific(std::string &text, double value) {
  char digits[64];
  const auto result =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::scientific, 6);
  if (result.ec == std::errc()) {
    text.append(digits, static_cast<size_t>(result.ptr - digits));
  } else {
    const int written = std::snprintf(digits, sizeof digits, "%.6e", value);
    if (written > 0) text.append(digits, static_cast<size_t>(written));
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Head

int cisml_write_head(const SearchSettings *settings, const char *programname) {
  std::string text;
  text +=
      "<?xml version=\"1.0\"?>\n"
      "<cis-element-search xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xmlns=\"http://zlab.bu.edu/schema/cisml\"> \n"
      "  <program-name>";
  appendxmlstring(text, programname);
  text += "</program-name>\n  <parameters>\n    <pattern-file>";
  appendxmlstring(text, settings->libraryname);
  text += "</pattern-file>\n    <sequence-file>";
  appendxmlstring(text, settings->databasename);
  text += "</sequence-file>\n";
  if (settings->frequencyname != nullptr) {
    text += "    <background-seq-file>";
    appendxmlstring(text, settings->frequencyname);
    text += "</background-seq-file>\n";
  }
  const char *cutoff = nullptr;
  switch (settings->thresholdkind) {
    case THRESHOLD_EVALUE:
      cutoff = "pattern-evalue-cutoff";
      break;
    case THRESHOLD_PVALUE:
      cutoff = "pattern-pvalue-cutoff";
      break;
    case THRESHOLD_RAW:
      cutoff = "pattern-score-cutoff";
      break;
    case THRESHOLD_MSS:
      cutoff = "pattern-mss-cutoff";
      break;
    case THRESHOLD_KBEST:
      cutoff = "pattern-kbest-cutoff";
      break;
  }
  if (cutoff != nullptr) {
    text += "    <";
    text += cutoff;
    text += '>';
    if (settings->thresholdkind == THRESHOLD_KBEST) {
      appendunsigned(text, settings->kbest);
    } else {
      appendscientific(text, settings->thresholdvalue);
    }
    text += "</";
    text += cutoff;
    text += ">\n";
  }
  text +=
      "    <sequence-filtering on-off=\"off\"/>\n"
      "  </parameters>\n";
  return writeout(text);
}

// ---------------------------------------------------------------------------------------
// Body

namespace {

struct BodyWalk {
  const MatchCollection *collection;
  Match match;  // the shared fields, completed per entry
  const Multiseq *multiseq;
  std::string escapeddatabase;  // the db attribute, escaped once
  const Profile *openpattern;
  uint64_t written;
  std::string text;
};

int opensequence(BodyWalk *walk, uint64_t seqnum) {
  const Multiseq *multiseq = walk->multiseq;
  uint64_t length = 0;
  if (multiseq != nullptr) {
    PositionPair range;
    if (seqrange(multiseq, seqnum, &range) != 0) {
      // The container writes only the text; passing it on makes it an error of the run.
      seterrorcode(1);
      return -1;
    }
    length = range.last - range.first + 1;
  }
  std::string &text = walk->text;
  text += "    <scanned-sequence accession=\"\" name=\"";
  if (multiseq != nullptr && multiseq->descoffsets != nullptr && multiseq->desctext != nullptr) {
    const uint64_t first = multiseq->descoffsets[seqnum];
    appendxmltext(text, multiseq->desctext + first, multiseq->descoffsets[seqnum + 1] - first,
                  true);
  }
  text += "\" db=\"";
  text += walk->escapeddatabase;
  text += "\" length=\"";
  appendunsigned(text, length);
  text += "\">\n";
  return 0;
}

int writeentry(BodyWalk *walk, const CollectedMatch *entry) {
  Match *match = &walk->match;
  SearchJob *job = match->job;
  Profile *profile = entry->profile;
  job->strand = entry->strand;
  match->length = entry->length;
  match->endposition = entry->endposition;
  match->score = entry->score;
  MatchStatistics statistics;
  if (match_statistics(profile, job, entry->score, &statistics) != 0) return -1;

  std::string &text = walk->text;
  text += "      <matched-element start=\"";
  appendunsigned(text, entry->seqposition);
  text += "\" stop=\"";
  appendunsigned(text, entry->seqposition + entry->length - 1);
  text += "\" score=\"";
  switch (profile->matrix.scoretype) {
    case SCORE_INTEGER:
      appendsigned(text, entry->score.i);
      break;
    case SCORE_FLOAT:
      appendscientific(text, static_cast<double>(entry->score.f));
      break;
    default:
      return internalerror();
  }
  text += '"';
  if (statistics.hasdistribution) {
    text += " pvalue=\"";
    appendscientific(text, statistics.pvalue);
    text += '"';
  }
  text += "><sequence>";
  if (walk->multiseq != nullptr && walk->multiseq->sequence != nullptr) {
    const unsigned char *sequence = walk->multiseq->sequence;
    const unsigned char *characters = matchcharacters(match);
    const uint64_t start = entry->endposition + 1 - entry->length;
    for (uint64_t i = start; i <= entry->endposition; i++)
      appendxmlcharacter(text, characters[sequence[i]]);
  }
  text += "</sequence></matched-element>\n";
  if (text.size() >= FLUSHSIZE) return writeout(text);
  return 0;
}

// One group: every match of one Profile in one sequence, in insertion order.
int writegroup(const CollectedMatch *first, void *context) {
  BodyWalk *walk = static_cast<BodyWalk *>(context);
  SearchJob *job = walk->match.job;
  Profile *profile = first->profile;
  if (profile->distribution.size == 0 && job->frequencies != nullptr) {
    // Its status line follows what was written before.
    if (writeout(walk->text) != 0) return -1;
    if (ensure_distribution(profile, job->frequencies) == nullptr) return -1;
  }
  job->profile = profile;
  walk->match.matrix = &profile->matrix;
  std::string &text = walk->text;
  if (walk->openpattern != profile) {
    if (walk->openpattern != nullptr) text += "  </pattern>\n";
    text += "  <pattern accession=\"";
    appendxmlstring(text, profile->accession);
    text += "\" name=\"";
    appendxmlstring(text, profile->identifier);
    text += "\">\n";
    walk->openpattern = profile;
  }
  bool sequenceopen = false;
  uint64_t openseqnum = 0;
  for (const CollectedMatch *entry = first; entry != nullptr;
       entry = matchcollection_next(walk->collection, entry)) {
    walk->written++;
    if (!sequenceopen || entry->seqnum != openseqnum) {
      if (sequenceopen) text += "    </scanned-sequence>\n";
      if (opensequence(walk, entry->seqnum) != 0) return -1;
      sequenceopen = true;
      openseqnum = entry->seqnum;
    }
    if (writeentry(walk, entry) != 0) return -1;
  }
  if (sequenceopen) text += "    </scanned-sequence>\n";
  return 0;
}

}  // namespace

int cisml_write_body(MatchCollection *collection, const Match *walkmatch, uint64_t *ret_written) {
  BodyWalk walk{};
  walk.match = *walkmatch;
  walk.multiseq = multiseqofmatch(walkmatch);
  walk.collection = collection;
  appendxmlstring(walk.escapeddatabase, walkmatch->job->settings->databasename);
  walk.text.reserve(FLUSHSIZE + 4096);
  int result = 0;
  if (collection != nullptr && collection->numofentries > 0)
    result = matchcollection_walkgroups(collection, writegroup, &walk);
  if (walk.openpattern != nullptr) walk.text += "  </pattern>\n";
  if (writeout(walk.text) != 0) result = -1;
  *ret_written = walk.written;
  return result != 0 ? -1 : 0;
}

// ---------------------------------------------------------------------------------------
// Tail

int cisml_write_tail() {
  std::string text = "</cis-element-search>\n";
  return writeout(text);
}

// ---------------------------------------------------------------------------------------
// report_cisml

int report_cisml(Match *match) { return internalerror(); }
