// TRANSFAC-style count tables: entries of tagged lines ("AC", "ID", "NA", "DE", ...) ended by
// "//", whose matrix is a "P0" (or "PO") line naming the letter columns followed by numbered
// rows of counts, "01  1  2  2  0  S" (a consensus letter may end the row). Entries without a
// matrix (release headers) are passed over. Old tables pad matrices with positions without
// counts; those at either end are dropped, with a warning.
#include <cstddef>
#include <cstdio>

#include "base/output.hpp"
#include "motifconv/motiflines.hpp"

namespace {

struct TransfacEntry {
  std::string accession;
  std::string identifier;
  std::string name;  // "NA", the identifier when "ID" is missing
  bool hasmatrix;
  Motif motif;
  std::string problem;
  uint64_t problemline;
};

void noteproblem(TransfacEntry *entry, const std::string &problem, uint64_t line) {
  if (entry->problem.empty()) {
    entry->problem = problem;
    entry->problemline = line;
  }
}

// Reads the "P0" line's letters and the numbered rows after it.
void readmatrix(LineCursor *cursor, std::string_view letterline, TransfacEntry *entry) {
  if (entry->hasmatrix) noteproblem(entry, "a second count table", cursor->line);
  entry->hasmatrix = true;
  Motif *motif = &entry->motif;
  motif->line = cursor->line;
  motif->letters.clear();
  motif->counts.clear();
  for (std::string_view word : splitwords(letterline)) {
    if (word.size() != 1) {
      noteproblem(entry, quotedword(word, "in the `P0' line is no letter"), cursor->line);
    }
    motif->letters.push_back(word[0]);
  }
  if (motif->letters.empty()) noteproblem(entry, "no letters in the `P0' line", cursor->line);
  const size_t width = motif->letters.size();
  std::string_view line;
  uint64_t positions = 0;
  while (peekline(cursor, &line) && !line.empty() && isdigitbyte(line[0])) {
    nextline(cursor, &line);
    const std::vector<std::string_view> words = splitwords(line);
    double number;
    if (!readnumber(words[0], &number) || number != static_cast<double>(positions + 1)) {
      noteproblem(entry, "position `" + std::string(words[0]) + "' out of order", cursor->line);
    }
    positions++;
    // The counts, then at most one word that is not a number (the consensus letter).
    size_t counts = words.size() - 1;
    if (counts == width + 1 && !readnumber(words.back(), &number)) counts = width;
    if (counts != width) {
      char text[96];
      std::snprintf(text, sizeof text, "%lu values in a row of %lu letters",
                    static_cast<unsigned long>(words.size() - 1),
                    static_cast<unsigned long>(width));
      noteproblem(entry, text, cursor->line);
      continue;
    }
    for (size_t i = 1; i <= width; i++) {
      if (!readnumber(words[i], &number)) {
        noteproblem(entry, quotedword(words[i], "is no count"), cursor->line);
        number = 0.0;
      }
      motif->counts.push_back(number);
    }
  }
}

// Drops the positions without counts at both ends and says so.
void trimemptyends(TransfacEntry *entry, MotifSink *sink) {
  Motif *motif = &entry->motif;
  const size_t width = motif->letters.size();
  const size_t length = motiflength(*motif);
  auto empty = [&](size_t position) {
    double total = 0.0;
    for (size_t i = 0; i < width; i++) total += motif->counts[position * width + i];
    return total == 0.0;
  };
  size_t first = 0;
  while (first < length && empty(first)) first++;
  size_t last = length;
  while (last > first && empty(last - 1)) last--;
  if (first == length) {
    noteproblem(entry, "no position has counts", motif->line);
    return;
  }
  if (first == 0 && last == length) return;
  motif->counts.erase(motif->counts.begin() + static_cast<ptrdiff_t>(last * width),
                      motif->counts.end());
  motif->counts.erase(motif->counts.begin(),
                      motif->counts.begin() + static_cast<ptrdiff_t>(first * width));
  const std::string &label = motif->accession.empty() ? motif->name : motif->accession;
  printwarning("file `%s', line %lu: motif `%s': empty positions dropped: %lu at the start, %lu "
               "at the end.\n",
               sink->filename, static_cast<unsigned long>(motif->line), label.c_str(),
               static_cast<unsigned long>(first), static_cast<unsigned long>(length - last));
}

void closeentry(TransfacEntry *entry, MotifSink *sink) {
  if (entry->hasmatrix) {
    Motif *motif = &entry->motif;
    motif->accession = entry->accession;
    motif->name = !entry->identifier.empty() ? entry->identifier : entry->name;
    if (entry->problem.empty()) trimemptyends(entry, sink);
    finishmotif(sink, motif, entry->problem, entry->problemline);
  }
  *entry = TransfacEntry{};
}

}  // namespace

int readtransfac(LineCursor *cursor, MotifSink *sink) {
  TransfacEntry entry{};
  std::string_view line;
  while (nextline(cursor, &line)) {
    if (startswith(line, "//")) {
      closeentry(&entry, sink);
      continue;
    }
    if (line.size() < 2) continue;
    const std::string_view tag = line.substr(0, 2);
    const std::string_view value = trimblanks(line.substr(2));
    if (tag == "P0" || tag == "PO") {
      readmatrix(cursor, value, &entry);
    } else if (tag == "AC" && entry.accession.empty() && !value.empty()) {
      entry.accession = splitwords(value)[0];
    } else if (tag == "ID" && entry.identifier.empty()) {
      entry.identifier = value;
    } else if (tag == "NA" && entry.name.empty()) {
      entry.name = value;
    }
  }
  closeentry(&entry, sink);
  return 0;
}
