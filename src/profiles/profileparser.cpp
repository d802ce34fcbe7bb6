// The profile library parser: reads a whole library from a memory map into a ProfileCollection,
// checks it strictly, and stops at the first error, which it reports with its line number and
// shows with the offending line and a caret.
//
// Contents: error display; header of one matrix; rows; groups; parselibrary.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "base/mapfile.hpp"
#include "base/output.hpp"
#include "base/tokenizer.hpp"
#include "matching/profile.hpp"
#include "profiles/libparse.hpp"
#include "profiles/readmatrix.templ.hpp"
#include "sequences/characterclasses.hpp"

namespace {

// The two predefined column alphabets a matrix may name with AP, in the order DNA, PROTEIN.
constexpr const char *predefinednames[2] = {"DNA", "PROTEIN"};
constexpr const char *predefinedcolumns[2] = {"ACGT", "ACDEFGHIKLMNPQRSTVWY"};

// A predefined alphabet checked once per parse against the sequence alphabet.
struct Probe {
  bool succeeded;
  Alphabet adjusted;
  char message[errorcapacity];
};

struct LibraryParser {
  TextCursor cursor;
  const char *text;  // start of the mapped file
  const Alphabet *alpha;
  ProfileCollection *collection;
  ClassTable classes;
  Probe probes[2];
};

// What the header of one matrix said. Texts are spans of the mapped file.
struct MatrixHeader {
  ScoreType scoretype;
  uint64_t beginline;
  std::string_view identifier;
  std::string_view accession;
  std::vector<std::string_view> descriptions;
  std::string_view columns;  // AL characters, or the predefined ones of AP
  bool hasidentifier, hasaccession, hasal, hasap, hasle, hasth;
  int predefined;  // index into the predefined alphabets when hasap
  uint64_t alphabetline;   // line of the AL or AP tag
  const char *alend;       // end of the AL line: where a synonym error is shown
  uint64_t rows;
  ScoreValue threshold;
};

// ---------------------------------------------------------------- error display

// Writes the line holding position (printable characters only), then a caret under it with the
// 1-based column. A position on a newline belongs to the line that newline ends.
void showerrorposition(const LibraryParser *parser, const char *position) {
  const char *linestart = position;
  while (linestart > parser->text && linestart[-1] != '\n') linestart--;
  const char *lineend = position;
  while (lineend < parser->cursor.end && *lineend != '\n') lineend++;
  std::string display;
  for (const char *p = linestart; p < lineend; p++) {
    if (*p >= 0x20 && *p < 0x7f) display.push_back(*p);
  }
  const unsigned long offset = static_cast<unsigned long>(position - linestart);
  display.push_back('\n');
  display.append(offset, ' ');
  std::fputs(display.c_str(), stderr);
  std::fprintf(stderr, "^ (column %lu)\n", offset + 1);
}

// A format error at the cursor's position: the message with the current line, then the display.
int parseerror(const LibraryParser *parser, const char *reason) {
  reporterror("Parsing error in line %lu: %s.", static_cast<unsigned long>(parser->cursor.line),
              reason);
  showerrorposition(parser, parser->cursor.pos);
  return -1;
}

// A format error whose message is already in the ErrorBuffer, shown at position.
int showfailure(const LibraryParser *parser, const char *position) {
  showerrorposition(parser, position);
  return -1;
}

// ---------------------------------------------------------------- header of one matrix

bool knowntag(const char *tag) {
  static constexpr const char *tags[] = {"ID", "AC", "DE", "AL", "AP", "LE", "TH", "MA"};
  for (const char *known : tags) {
    if (tag[0] == known[0] && tag[1] == known[1]) return true;
  }
  return false;
}

// Reads a rest-of-line value after a tag into *ret_value.
int readtextvalue(LibraryParser *parser, std::string_view *ret_value) {
  const char *start;
  uint64_t length;
  const char *reason = readtagvalue(&parser->cursor, &start, &length);
  if (reason != nullptr) return parseerror(parser, reason);
  *ret_value = std::string_view(start, length);
  return 0;
}

// After a number or a name: only blanks may follow on the line.
int expectlineend(LibraryParser *parser, const char *reason) {
  skipblanks(&parser->cursor);
  if (!atendofline(&parser->cursor)) return parseerror(parser, reason);
  return 0;
}

int readalcolumns(LibraryParser *parser, MatrixHeader *header) {
  if (header->hasap)
    return parseerror(parser, "the `AL' tag cannot be used when an `AP' tag is present");
  if (header->hasal) return parseerror(parser, "duplicate `AL' tag");
  std::string_view columns;
  if (readtextvalue(parser, &columns) != 0) return -1;
  bool seen[256] = {};
  for (size_t i = 0; i < columns.size(); i++) {
    const unsigned char c = static_cast<unsigned char>(columns[i]);
    if (seen[c]) {
      parser->cursor.pos = columns.data() + i;
      return parseerror(parser, "duplicate characters in `AL' definition");
    }
    seen[c] = true;
  }
  header->hasal = true;
  header->columns = columns;
  header->alphabetline = parser->cursor.line;
  header->alend = parser->cursor.pos;
  return 0;
}

int readapname(LibraryParser *parser, MatrixHeader *header) {
  if (header->hasap) return parseerror(parser, "duplicate `AP' tag");
  if (header->hasal)
    return parseerror(parser, "the `AP' tag cannot be used when an `AL' tag is present");
  int which = -1;
  for (int i = 0; i < 2; i++) {
    if (lookingat(&parser->cursor, predefinednames[i])) which = i;
  }
  if (which < 0) return parseerror(parser, "invalid alphabet name");
  parser->cursor.pos += std::strlen(predefinednames[which]);
  if (expectlineend(parser, "extra characters after alphabet name") != 0) return -1;
  if (!parser->probes[which].succeeded) {
    reporterror("%s", parser->probes[which].message);
    return showfailure(parser, parser->cursor.pos);
  }
  header->hasap = true;
  header->predefined = which;
  header->columns = predefinedcolumns[which];
  header->alphabetline = parser->cursor.line;
  return 0;
}

int readlength(LibraryParser *parser, MatrixHeader *header) {
  if (header->hasle) return parseerror(parser, "duplicate `LE' tag");
  int64_t rows;
  const char *reason = readintegertoken(&parser->cursor, false, &rows);
  if (reason != nullptr) return parseerror(parser, reason);
  if (expectlineend(parser, "extra characters after numeric value") != 0) return -1;
  header->hasle = true;
  header->rows = static_cast<uint64_t>(rows);
  return 0;
}

int readthreshold(LibraryParser *parser, MatrixHeader *header) {
  if (header->hasth) return parseerror(parser, "duplicate `TH' tag");
  const char *reason = header->scoretype == SCORE_INTEGER
                           ? parsescorevalue<int64_t>(&parser->cursor, &header->threshold)
                           : parsescorevalue<float>(&parser->cursor, &header->threshold);
  if (reason != nullptr) return parseerror(parser, reason);
  if (expectlineend(parser, "extra characters after numeric value") != 0) return -1;
  header->hasth = true;
  return 0;
}

// Reads tag lines up to the first MA line, which is left for the rows.
int readheader(LibraryParser *parser, MatrixHeader *header) {
  TextCursor *cursor = &parser->cursor;
  for (;;) {
    skipcommentlines(cursor);
    if (atend(cursor)) return parseerror(parser, "unexpected end of file");
    if (cursor->end - cursor->pos < 3)
      return parseerror(parser, "expecting tag, but line is too short to contain one");
    const char *tag = cursor->pos;
    if (!knowntag(tag)) return parseerror(parser, "invalid tag");
    cursor->pos += 2;
    if (!isblankchar(*cursor->pos))
      return parseerror(parser, "tag seems valid, but is not followed by white space");
    if (tag[0] == 'M' && tag[1] == 'A') {
      cursor->pos = tag;
      return 0;
    }
    cursor->pos++;
    int status = 0;
    switch (tag[0]) {
      case 'I':
        if (header->hasidentifier) return parseerror(parser, "duplicate `ID' tag");
        status = readtextvalue(parser, &header->identifier);
        header->hasidentifier = true;
        break;
      case 'A':
        if (tag[1] == 'C') {
          if (header->hasaccession) return parseerror(parser, "duplicate `AC' tag");
          status = readtextvalue(parser, &header->accession);
          header->hasaccession = true;
        } else if (tag[1] == 'L') {
          status = readalcolumns(parser, header);
        } else {
          status = readapname(parser, header);
        }
        break;
      case 'D': {
        std::string_view description;
        status = readtextvalue(parser, &description);
        if (status == 0) header->descriptions.push_back(description);
        break;
      }
      case 'L':
        status = readlength(parser, header);
        break;
      case 'T':
        status = readthreshold(parser, header);
        break;
      default:
        return internalerror();
    }
    if (status != 0) return -1;
    skipline(cursor);
  }
}

// The checks at the end of the header and the matrix's alphabet copy, adjusted for its columns.
int finishheader(LibraryParser *parser, const MatrixHeader *header, Alphabet *ret_alphabet) {
  if (!header->hasidentifier) return parseerror(parser, "identifier missing (`ID')");
  if (!header->hasle)
    return parseerror(parser, "you must specify the number of lines in the matrix (`LE')");
  if (!header->hasal && !header->hasap)
    return parseerror(parser, "you must specify an alphabet (`AL' or `AP')");
  if (header->hasal) {
    const int result = checkcompatibility(
        &parser->classes, reinterpret_cast<const unsigned char *>(header->columns.data()),
        header->columns.size(), ret_alphabet, header->alphabetline);
    if (result < 0) return showfailure(parser, header->alend);
  } else {
    copyalphabet(ret_alphabet, &parser->probes[header->predefined].adjusted);
    warnmissingcolumns(&parser->classes, ret_alphabet, header->alphabetline);
  }
  return 0;
}

char *joindescriptions(const std::vector<std::string_view> &descriptions) {
  if (descriptions.empty()) return nullptr;
  size_t length = descriptions.size() - 1;
  for (std::string_view part : descriptions) length += part.size();
  char *joined = allocorexit<char>(nullptr, length + 1);
  char *out = joined;
  for (size_t i = 0; i < descriptions.size(); i++) {
    if (i > 0) *out++ = '\n';
    std::memcpy(out, descriptions[i].data(), descriptions[i].size());
    out += descriptions[i].size();
  }
  *out = '\0';
  return joined;
}

// ---------------------------------------------------------------- rows

template <typename Score>
const char *readrows(TextCursor *cursor, const RowLayout *layout, uint64_t announced,
                     Profile *profile) {
  return readmatrix_templ<Score>(cursor, layout, announced, &profile->matrix,
                                 &profile->smallestvalue);
}

// Parses the header and rows of the matrix whose BEGIN line has been read, appending it.
int parsematrix(LibraryParser *parser, MatrixHeader *header, uint64_t groupposition) {
  if (readheader(parser, header) != 0) return -1;
  Alphabet adjusted;
  if (finishheader(parser, header, &adjusted) != 0) return -1;

  ProfileCollection *collection = parser->collection;
  Profile *profile = collection_append_profile(collection);
  profile->identifier = copystring(header->identifier);
  if (header->hasaccession) profile->accession = copystring(header->accession);
  profile->description = joindescriptions(header->descriptions);
  profile->groupnumber = collection->numofgroups;
  profile->groupposition = groupposition;
  profile->beginline = header->beginline;
  copyalphabet(&profile->alphabet, &adjusted);

  // Every row takes at least five bytes ("MA", a blank, a value, a newline), so an LE beyond
  // what the rest of the file can hold cannot be met; the matrix is then made no larger than
  // the rows that could still be read, and the parse ends with the error the rows give.
  const uint64_t remaining = static_cast<uint64_t>(parser->cursor.end - parser->cursor.pos);
  const uint64_t capacity = std::min(header->rows, remaining / 5 + 1);
  const int status =
      header->hasth ? matrix_init_threshold(&profile->matrix, header->scoretype,
                                            &profile->alphabet, capacity, header->threshold)
                    : matrix_init(&profile->matrix, header->scoretype, &profile->alphabet,
                                  capacity);
  if (status != 0) return showfailure(parser, parser->cursor.pos);

  std::vector<int64_t> columns(header->columns.size());
  for (size_t i = 0; i < header->columns.size(); i++) {
    const uint64_t code = parser->alpha->symbolmap[static_cast<unsigned char>(header->columns[i])];
    const bool ordinary = code < UNDEFINEDCODE && code != parser->alpha->undefinedcode &&
                          code < parser->alpha->mapsize;
    columns[i] = ordinary ? static_cast<int64_t>(code) : -1;
  }
  const RowLayout layout = {columns.data(), columns.size()};
  const char *reason = header->scoretype == SCORE_INTEGER
                           ? readrows<int64_t>(&parser->cursor, &layout, header->rows, profile)
                           : readrows<float>(&parser->cursor, &layout, header->rows, profile);
  if (reason != nullptr) return parseerror(parser, reason);
  return 0;
}

// ---------------------------------------------------------------- groups

// Reads "END", optional blanks and the end of the line or text.
int readendline(LibraryParser *parser, const char *missing) {
  TextCursor *cursor = &parser->cursor;
  if (!lookingat(cursor, "END")) return parseerror(parser, missing);
  cursor->pos += 3;
  if (expectlineend(parser, "extra characters after `END'") != 0) return -1;
  skipline(cursor);
  return 0;
}

// Reads the type of a matrix after its "BEGIN": 0 or -1.
int readscoretype(LibraryParser *parser, ScoreType *ret_type) {
  TextCursor *cursor = &parser->cursor;
  cursor->pos += 5;
  if (atend(cursor) || !isblankchar(*cursor->pos)) return parseerror(parser, "invalid type");
  skipblanks(cursor);
  if (lookingat(cursor, "FLOAT")) {
    *ret_type = SCORE_FLOAT;
    cursor->pos += 5;
  } else if (lookingat(cursor, "INT")) {
    *ret_type = SCORE_INTEGER;
    cursor->pos += 3;
  } else {
    return parseerror(parser, "invalid type");
  }
  skipblanks(cursor);
  if (atend(cursor) || *cursor->pos != '\n')
    return parseerror(parser, "extra characters after type identifier");
  return 0;
}

int parsegroup(LibraryParser *parser) {
  TextCursor *cursor = &parser->cursor;
  const char *missing = "expecting `BEGIN GROUP'";
  if (!lookingat(cursor, "BEGIN")) return parseerror(parser, missing);
  cursor->pos += 5;
  if (atend(cursor) || !isblankchar(*cursor->pos)) return parseerror(parser, missing);
  skipblanks(cursor);
  if (!lookingat(cursor, "GROUP")) return parseerror(parser, missing);
  cursor->pos += 5;
  skipblanks(cursor);
  if (atend(cursor) || *cursor->pos != '\n')
    return parseerror(parser, "extra characters after `BEGIN GROUP'");
  skipline(cursor);

  ProfileCollection *collection = parser->collection;
  const uint64_t firstprofile = collection->numofprofiles;
  uint64_t groupposition = 0;
  for (;;) {
    skipcommentlines(cursor);
    if (atend(cursor) || lookingat(cursor, "END")) break;
    if (!lookingat(cursor, "BEGIN"))
      return parseerror(parser, "expecting `BEGIN' for next matrix or `END' to end the group");
    MatrixHeader header = {};
    if (readscoretype(parser, &header.scoretype) != 0) return -1;
    header.beginline = cursor->line;
    skipline(cursor);
    if (parsematrix(parser, &header, groupposition) != 0) return -1;
    groupposition++;
  }
  if (readendline(parser, "expecting `END'") != 0) return -1;
  ProfileGroup *group = collection_append_group(collection);
  group->firstprofile = firstprofile;
  group->numofprofiles = collection->numofprofiles - firstprofile;
  return 0;
}

// Checks the predefined alphabets against the sequence alphabet, without warnings; a failed
// probe is no error until a matrix names that alphabet.
void probepredefined(LibraryParser *parser) {
  for (int i = 0; i < 2; i++) {
    Probe *probe = &parser->probes[i];
    const char *columns = predefinedcolumns[i];
    probe->succeeded =
        checkcompatibility(&parser->classes, reinterpret_cast<const unsigned char *>(columns),
                           std::strlen(columns), &probe->adjusted, 0) >= 0;
    probe->message[0] = '\0';
    if (!probe->succeeded) std::snprintf(probe->message, sizeof probe->message, "%s", errormessagespace());
  }
  clearerrorcode();
}

}  // namespace

int parselibrary(const char *filename, const Alphabet *alpha, ProfileCollection *collection) {
  printstatus("Reading profile matrices from `%s'\n", filename);
  uint64_t length;
  void *map = mapwholefile(filename, false, &length);
  if (map == nullptr) return reporterror("Failed to open file `%s'.", filename);
  const int status = parselibrarytext(static_cast<const char *>(map), length, alpha, collection);
  unmapfile(map);
  return status;
}

int parselibrarytext(const char *text, uint64_t length, const Alphabet *alpha,
                     ProfileCollection *collection) {
  // The class table alone is some 70 kB: keep the parser's state off the stack.
  std::vector<LibraryParser> state(1);
  LibraryParser *parser = state.data();
  parser->text = text;
  parser->cursor = {parser->text, parser->text + length, 1};
  parser->alpha = alpha;
  parser->collection = collection;
  int status = collection_init(collection, alpha);
  if (status == 0) {
    buildcharacterclasses(&parser->classes, alpha);
    probepredefined(parser);
    for (;;) {
      skipcommentlines(&parser->cursor);
      if (atend(&parser->cursor)) break;
      if (parsegroup(parser) != 0) {
        status = -1;
        break;
      }
    }
    if (status != 0) collection_free(collection, false, false);
  }
  return status;
}

int appendintegermatrix(ProfileCollection *collection, const ClassTable *classes,
                        const IntegerMatrix &matrix) {
  Alphabet adjusted;
  if (checkcompatibility(classes, reinterpret_cast<const unsigned char *>(matrix.letters.data()),
                         matrix.letters.size(), &adjusted, matrix.alphabetline) < 0) {
    return -1;
  }
  const uint64_t firstprofile = collection->numofprofiles;
  Profile *profile = collection_append_profile(collection);
  profile->identifier = copystring(matrix.identifier);
  if (!matrix.accession.empty()) profile->accession = copystring(matrix.accession);
  if (!matrix.description.empty()) profile->description = copystring(matrix.description);
  profile->groupnumber = collection->numofgroups;
  profile->groupposition = 0;
  profile->beginline = matrix.beginline;
  copyalphabet(&profile->alphabet, &adjusted);
  if (matrix_init(&profile->matrix, SCORE_INTEGER, &profile->alphabet, matrix.rows) != 0) {
    return -1;
  }
  // The rows as readmatrix_templ reads them: every column forbidden but those of the letters.
  const Alphabet *alpha = collection->alphabet;
  const uint64_t width = matrix.letters.size();
  std::vector<int64_t> columns(width);
  for (size_t i = 0; i < width; i++) {
    const uint64_t code = alpha->symbolmap[static_cast<unsigned char>(matrix.letters[i])];
    const bool ordinary =
        code < UNDEFINEDCODE && code != alpha->undefinedcode && code < alpha->mapsize;
    columns[i] = ordinary ? static_cast<int64_t>(code) : -1;
  }
  ScoringMatrix *scores = &profile->matrix;
  const uint64_t matrixcolumns = matrix_columns(scores);
  int64_t minscore = 0, maxscore = 0;
  int64_t smallest = ScoreTraits<int64_t>::plusinfinity;
  uint64_t magnitude = 0;
  for (uint64_t row = 0; row < matrix.rows; row++) {
    int64_t *cells = matrix_scores<int64_t>(scores) + scores->rowoffsets[row];
    std::fill(cells, cells + matrixcolumns, ScoreTraits<int64_t>::minusinfinity);
    int64_t rowminimum = ScoreTraits<int64_t>::plusinfinity;
    int64_t rowmaximum = ScoreTraits<int64_t>::minusinfinity;
    for (size_t i = 0; i < width; i++) {
      if (columns[i] < 0) continue;
      const int64_t value = matrix.values[row * width + i];
      cells[columns[i]] = value;
      rowminimum = std::min(rowminimum, value);
      rowmaximum = std::max(rowmaximum, value);
    }
    if (sumsoverflow(&magnitude, rowminimum, rowmaximum)) {
      return reporterror("matrix values too large, the sum of a window's scores would overflow");
    }
    minscore = addbounded(minscore, rowminimum);
    maxscore = addbounded(maxscore, rowmaximum);
    smallest = std::min(smallest, rowminimum);
  }
  scores->minscore.i = minscore;
  scores->maxscore.i = maxscore;
  profile->smallestvalue.i = smallest;
  ProfileGroup *group = collection_append_group(collection);
  group->firstprofile = firstprofile;
  group->numofprofiles = 1;
  return 0;
}
