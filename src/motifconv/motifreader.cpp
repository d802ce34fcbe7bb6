// The parts of the motif readers that do not depend on the format: lines, words and count
// tokens, the checks every motif passes before it is kept, format detection and the entry
// points that read a text or a file.
#include "motifconv/motif.hpp"

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/error.hpp"
#include "base/output.hpp"
#include "base/readgzip.hpp"
#include "motifconv/motiflines.hpp"

// ---- Lines, words and numbers -----------------------------------------------------------

bool peekline(const LineCursor *cursor, std::string_view *ret_line) {
  if (cursor->pos >= cursor->text.size()) return false;
  const size_t newline = cursor->text.find('\n', cursor->pos);
  const size_t end = newline == std::string_view::npos ? cursor->text.size() : newline;
  std::string_view line = cursor->text.substr(cursor->pos, end - cursor->pos);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  *ret_line = line;
  return true;
}

bool nextline(LineCursor *cursor, std::string_view *ret_line) {
  if (!peekline(cursor, ret_line)) return false;
  const size_t newline = cursor->text.find('\n', cursor->pos);
  cursor->pos = newline == std::string_view::npos ? cursor->text.size() : newline + 1;
  cursor->line++;
  return true;
}

std::string_view trimblanks(std::string_view text) {
  while (!text.empty() && isblankbyte(text.front())) text.remove_prefix(1);
  while (!text.empty() && isblankbyte(text.back())) text.remove_suffix(1);
  return text;
}

bool isblankline(std::string_view line) { return trimblanks(line).empty(); }

bool startswith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::vector<std::string_view> splitwords(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isblankbyte(text[i])) i++;
    const size_t start = i;
    while (i < text.size() && !isblankbyte(text[i])) i++;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

std::string quotedword(std::string_view word, const char *text) {
  std::string quoted = "`";
  quoted.append(word);
  quoted.append("' ");
  quoted.append(text);
  return quoted;
}

bool readnumber(std::string_view token, double *ret_value) {
  for (char c : token) {
    if (!isdigitbyte(c) && c != '.' && c != '-' && c != '+' && c != 'e' && c != 'E') return false;
  }
  // from_chars takes no leading plus sign.
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  if (token.empty() || token.front() == '+') return false;
  double value;
  const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (error != std::errc() || end != token.data() + token.size() || !std::isfinite(value)) {
    return false;
  }
  *ret_value = value;
  return true;
}

std::string letterproblem(std::string_view letters) {
  bool seen[256] = {};
  for (char c : letters) {
    if (!isletterbyte(c)) return quotedword(std::string_view(&c, 1), "is not a letter");
    const unsigned char folded = static_cast<unsigned char>(c | 0x20);
    if (seen[folded]) return "letter " + quotedword(std::string_view(&c, 1), "given twice");
    seen[folded] = true;
  }
  return "";
}

std::string namefromfile(const char *filename) {
  std::string_view name(filename);
  const size_t slash = name.find_last_of('/');
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  if (name.size() > 3 && name.substr(name.size() - 3) == ".gz") name.remove_suffix(3);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  return name.empty() ? std::string("motif") : std::string(name);
}

// ---- Keeping or skipping a motif --------------------------------------------------------

namespace {

// What makes the counts unusable, or an empty text.
std::string countproblem(const Motif &motif) {
  const size_t width = motif.letters.size();
  if (width == 0 || motif.counts.empty()) return "it has no positions";
  std::string problem = letterproblem(motif.letters);
  if (!problem.empty()) return problem;
  if (motif.counts.size() % width != 0) return "rows of different lengths";
  char text[96];
  for (size_t position = 0; position < motif.counts.size() / width; position++) {
    double total = 0.0;
    for (size_t letter = 0; letter < width; letter++) {
      const double count = motif.counts[position * width + letter];
      if (!(count >= 0.0)) {
        std::snprintf(text, sizeof text, "negative count at position %lu",
                      static_cast<unsigned long>(position + 1));
        return text;
      }
      total += count;
    }
    if (!std::isfinite(total)) {
      std::snprintf(text, sizeof text, "counts at position %lu too large",
                    static_cast<unsigned long>(position + 1));
      return text;
    }
    if (!(total > 0.0)) {
      std::snprintf(text, sizeof text, "position %lu has no counts",
                    static_cast<unsigned long>(position + 1));
      return text;
    }
  }
  return "";
}

}  // namespace

void finishmotif(MotifSink *sink, Motif *motif, const std::string &problem,
                 uint64_t problemline) {
  sink->found++;
  if (motif->name.empty()) {
    motif->name = motif->accession.empty() ? namefromfile(sink->filename) : motif->accession;
  }
  std::string reason = problem;
  if (reason.empty()) {
    reason = countproblem(*motif);
    problemline = motif->line;
  }
  if (!reason.empty()) {
    const std::string &label = motif->accession.empty() ? motif->name : motif->accession;
    printwarning("file `%s', line %lu: motif `%s' skipped: %s.\n", sink->filename,
                 static_cast<unsigned long>(problemline), label.c_str(), reason.c_str());
    sink->skipped++;
    return;
  }
  sink->motifs->push_back(std::move(*motif));
}

int layouterror(const MotifSink *sink, uint64_t line, const char *reason) {
  return reporterror("Parsing error in file `%s', line %lu: %s.", sink->filename,
                     static_cast<unsigned long>(line), reason);
}

// ---- Detection and entry points ---------------------------------------------------------

namespace {

// A JASPAR row: an optional letter followed by a blank, `[' or `:', then counts.
bool looksliketablerow(std::string_view line) {
  line = trimblanks(line);
  if (line.empty()) return false;
  if (isletterbyte(line[0])) {
    return line.size() == 1 || isblankbyte(line[1]) || line[1] == '[' || line[1] == ':';
  }
  return line[0] == '[' || isnumberstart(line[0]);
}

// A TRANSFAC line: a tag of two capitals, digits or slashes ("AC", "P0", "//", ...) followed by
// anything but a letter or digit (old releases put a non-ASCII blank after "VV").
bool looksliketransfac(std::string_view line) {
  const auto tagcharacter = [](char c) { return (c >= 'A' && c <= 'Z') || isdigitbyte(c) || c == '/'; };
  if (line.size() < 2 || !tagcharacter(line[0]) || !tagcharacter(line[1])) return false;
  return line.size() == 2 || !(isletterbyte(line[2]) || isdigitbyte(line[2]));
}

}  // namespace

MotifFormat detectmotifformat(std::string_view text, uint64_t *ret_line) {
  LineCursor cursor = {text, 0, 0};
  std::string_view line;
  uint64_t first = 0;
  MotifFormat format = MOTIF_AUTO;
  while (nextline(&cursor, &line)) {
    if (startswith(line, "MEME version")) return MOTIF_MEME;
    if (first != 0 || isblankline(line)) continue;
    first = cursor.line;
    if (line[0] == '>' || looksliketablerow(line)) {
      format = MOTIF_JASPAR;
    } else if (looksliketransfac(line)) {
      format = MOTIF_TRANSFAC;
    }
  }
  *ret_line = first == 0 ? 1 : first;
  return format;
}

int readmotiftext(const char *filename, std::string_view text, MotifFormat format,
                  std::vector<Motif> *motifs, uint64_t *ret_skipped, const char *formatoption) {
  MotifSink sink = {filename, motifs, 0, 0};
  if (format == MOTIF_AUTO) {
    uint64_t line;
    format = detectmotifformat(text, &line);
    if (format == MOTIF_AUTO) {
      const bool empty = text.find_first_not_of(" \t\r\n") == std::string_view::npos;
      const std::string unknown =
          std::string("unknown motif format (try ") + formatoption + ")";
      return layouterror(&sink, line, empty ? "the file holds no motif" : unknown.c_str());
    }
  }
  LineCursor cursor = {text, 0, 0};
  int result = -1;
  switch (format) {
    case MOTIF_JASPAR:
      result = readjaspar(&cursor, &sink);
      break;
    case MOTIF_TRANSFAC:
      result = readtransfac(&cursor, &sink);
      break;
    case MOTIF_MEME:
      result = readmeme(&cursor, &sink);
      break;
    case MOTIF_AUTO:
      return internalerror();
  }
  if (result != 0) return -1;
  if (sink.found == 0) return layouterror(&sink, cursor.line, "the file holds no motif");
  *ret_skipped = sink.skipped;
  return 0;
}

// Far beyond any line of the three formats: a longer one (a device that never ends a line, a
// file that is no text) is refused before it is held in memory.
constexpr uint64_t maxmotifline = UINT64_C(1) << 20;

int readmotiffile(const char *filename, MotifFormat format, std::vector<Motif> *motifs,
                  uint64_t *ret_skipped) {
  // Opening is tested without reading, so that a fifo is read only once, by the gzip reader
  // (which passes plain text through unchanged).
  if (access(filename, R_OK) != 0) return reporterror("Failed to open file `%s'.", filename);
  uint64_t length;
  unsigned char *content = readgziptext(filename, maxmotifline, &length);
  if (content == nullptr) {
    seterrorcode(1);
    return -1;
  }
  const std::string_view text(reinterpret_cast<const char *>(content), length);
  const int result = readmotiftext(filename, text, format, motifs, ret_skipped);
  std::free(content);
  return result;
}
