// Reading TRANSFAC nucleotide weight matrices and writing them as a profile library.
//
// An entry is a run of lines ended by a line that begins with "//". Within it, tagged lines
// give the accession, identifier, name, length and threshold, and every line that begins
// with a digit 1 to 9 is a weight row: its position number, then the weights after the
// labels "A:", "C:", "G:" and "T:".
//
// Contents: weight rows; the end of an entry; readtransfac; writetransfac.
#include "convert/transfacmatrices.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "convert/linereader.hpp"

namespace {

// ---------------------------------------------------------------------------------------
// Weight rows

struct WeightRow {
  int position;
  std::array<double, 4> weights;
  unsigned long line;
};

// A floating-point number at the start of text as "%lf" reads it; false for no number and
// for infinities and NaNs, which no library could read back.
bool readdouble(std::string_view text, double *ret_value) {
  const std::string copy(text);
  char *stop = nullptr;
  const double value = std::strtod(copy.c_str(), &stop);
  if (stop == copy.c_str() || !std::isfinite(value)) return false;
  *ret_value = value;
  return true;
}

struct EntryReading {
  TransfacEntry entry;
  bool haslength = false;
  std::vector<WeightRow> rows;
};

void noteproblem(TransfacEntry *entry, unsigned long line, std::string text) {
  if (!entry->problem.empty()) return;
  entry->problem = std::move(text);
  entry->problemline = line;
}

void takeweightrow(const LineReader &reader, std::FILE *messages, EntryReading *reading) {
  const std::string_view text = reader.text;
  WeightRow row;
  row.line = reader.number;
  if (!readint(text, &row.position)) {
    noteproblem(&reading->entry, reader.number, "unreadable weight row number");
    return;
  }
  static constexpr char letters[] = {'A', 'C', 'G', 'T'};
  for (int i = 0; i < 4; i++) {
    const char label[] = {letters[i], ':'};
    const size_t at = text.find(std::string_view(label, 2));
    // An unreadable weight is reported and counts as 0; the row is kept.
    if (at == std::string_view::npos || !readdouble(text.substr(at + 2), &row.weights[i])) {
      std::fprintf(messages, "Failure cannot read %c weight\n", letters[i]);
      row.weights[i] = 0.0;
    }
  }
  reading->rows.push_back(row);
}

// ---------------------------------------------------------------------------------------
// The end of an entry

// Lays the weight rows out by position, or notes why they do not make a matrix: rows must
// be numbered 1 to the length, each position must have one (a repeated position keeps its
// last row), and there must be at least one.
void finishentry(EntryReading *reading, TransfacLibrary *library) {
  TransfacEntry &entry = reading->entry;
  if (reading->rows.empty()) {
    noteproblem(&entry, entry.line, "entry without weight rows");
  } else if (!reading->haslength) {
    noteproblem(&entry, entry.line, "entry without `MATR_LENGTH' line");
  }
  for (const WeightRow &row : reading->rows) {
    if (row.position < 1 || row.position > entry.length) {
      noteproblem(&entry, row.line,
                  "weight row " + std::to_string(row.position) + " outside 1.." +
                      std::to_string(entry.length));
    }
  }
  if (entry.problem.empty()) {
    // The first position without a row, found without a table of the announced length.
    std::vector<int> positions;
    for (const WeightRow &row : reading->rows) positions.push_back(row.position);
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    size_t covered = 0;
    while (covered < positions.size() && positions[covered] == static_cast<int>(covered) + 1) {
      covered++;
    }
    if (covered < static_cast<size_t>(entry.length)) {
      noteproblem(&entry, entry.line, "weight row " + std::to_string(covered + 1) + " missing");
    }
  }
  if (entry.problem.empty()) {
    entry.rows.assign(static_cast<size_t>(entry.length), std::array<double, 4>{});
    for (const WeightRow &row : reading->rows) entry.rows[row.position - 1] = row.weights;
  }
  library->entries.push_back(std::move(entry));
}

}  // namespace

// ---------------------------------------------------------------------------------------
// readtransfac

int readtransfac(std::FILE *input, std::FILE *messages, TransfacLibrary *library) {
  LineReader reader;
  reader.stream = input;
  bool current = readline(&reader);
  while (current) {
    EntryReading reading;
    TransfacEntry &entry = reading.entry;
    entry.line = reader.number;
    for (; current; current = readline(&reader)) {
      const std::string_view text = reader.text;
      if (startswith(text, "//")) {
        current = readline(&reader);
        break;
      }
      if (startswith(text, "AC ")) {
        entry.accession = firstword(text.substr(3));
      } else if (startswith(text, "ID  ")) {
        entry.identifier = firstword(text.substr(4));
      } else if (startswith(text, "NA  ")) {
        entry.name = firstword(text.substr(4));
      } else if (startswith(text, "MATR_LENGTH ")) {
        if (readint(text.substr(12), &entry.length) && entry.length >= 0) {
          reading.haslength = true;
        } else {
          noteproblem(&entry, reader.number, "unreadable matrix length");
        }
      } else if (startswith(text, "THRESHOLD ")) {
        entry.hasthreshold = readdouble(text.substr(10), &entry.threshold);
        if (!entry.hasthreshold) {
          std::fprintf(messages, "WARNING: line %lu: unreadable threshold; no `TH' line\n",
                       reader.number);
        }
      } else if (!text.empty() && text[0] >= '1' && text[0] <= '9') {
        takeweightrow(reader, messages, &reading);
      }
      // "CORE_START ", "CORE_LENGTH ", "MAXIMAL ", "MINIMAL " and all other lines: nothing.
    }
    finishentry(&reading, library);
  }
  const int status = reader.toolong ? -2 : reader.failed ? -1 : 0;
  if (reader.toolong) library->longline = reader.number + 1;
  freelinereader(&reader);
  return status;
}

// ---------------------------------------------------------------------------------------
// writetransfac

int writetransfac(std::FILE *output, std::FILE *messages, const TransfacLibrary &library) {
  for (size_t index = 0; index < library.entries.size(); index++) {
    const TransfacEntry &entry = library.entries[index];
    if (entry.accession.empty()) {
      std::fprintf(messages, "Invalid entry number: %zu\n", index);
      continue;
    }
    if (!entry.problem.empty()) {
      std::fprintf(messages, "WARNING: line %lu: %s; entry %s left out\n", entry.problemline,
                   entry.problem.c_str(), entry.accession.c_str());
      continue;
    }
    // The library refuses empty tag values: an entry without identifier is named by its
    // accession, one without name has no description.
    const std::string &identifier = entry.identifier.empty() ? entry.accession : entry.identifier;
    std::fprintf(output, "BEGIN GROUP\nBEGIN FLOAT\nID %s\nAC %s\n", identifier.c_str(),
                 entry.accession.c_str());
    if (!entry.name.empty()) std::fprintf(output, "DE %s\n", entry.name.c_str());
    std::fprintf(output, "AL ACGT\nLE %d\n", entry.length);
    if (entry.hasthreshold) std::fprintf(output, "TH %f\n", entry.threshold);
    for (const std::array<double, 4> &row : entry.rows) {
      std::fprintf(output, "MA %f %f %f %f \n", row[0], row[1], row[2], row[3]);
    }
    std::fputs("END\nEND\n", output);
  }
  if (std::fflush(output) != 0 || std::ferror(output)) return -1;
  return 0;
}
