// JASPAR's matrices: a `>' header with the accession and the name, then one row of counts per
// letter, "A  [ 4 19 0 ... ]" (brackets optional), in any letter order; or, as in .pfm tables,
// four rows without letters for A, C, G and T, with or without a header. Rows hold positions
// side by side, so each motif is turned around into positions of letter counts.
#include <cstdio>

#include "motifconv/motiflines.hpp"

namespace {

struct TableRow {
  char label;  // 0 for a row without a letter
  std::vector<double> values;
  uint64_t line;
};

// A motif whose rows are still being collected.
struct TableMotif {
  bool open;
  Motif motif;
  std::vector<TableRow> rows;
  std::string problem;  // the first problem met; the motif is then skipped
  uint64_t problemline;
};

void noteproblem(TableMotif *table, const std::string &problem, uint64_t line) {
  if (table->problem.empty()) {
    table->problem = problem;
    table->problemline = line;
  }
}

// Reads a row into *row. False when the line is no row at all; a row that is one but cannot
// be read leaves its reason in *problem.
bool readrow(std::string_view line, TableRow *row, std::string *problem) {
  std::string_view rest = trimblanks(line);
  if (rest.empty()) return false;
  row->label = 0;
  if (isletterbyte(rest[0])) {
    if (rest.size() > 1 && !isblankbyte(rest[1]) && rest[1] != '[' && rest[1] != ':') return false;
    row->label = rest[0];
    rest.remove_prefix(1);
    if (!rest.empty() && rest[0] == ':') rest.remove_prefix(1);
    rest = trimblanks(rest);
  } else if (rest[0] != '[' && !isnumberstart(rest[0])) {
    return false;
  }
  const bool bracketed = !rest.empty() && rest[0] == '[';
  if (bracketed) {
    rest.remove_prefix(1);
    const size_t close = rest.find(']');
    if (close == std::string_view::npos) {
      *problem = "`]' missing";
      return true;
    }
    if (!isblankline(rest.substr(close + 1))) {
      *problem = "characters after `]'";
      return true;
    }
    rest = rest.substr(0, close);
  }
  for (std::string_view word : splitwords(rest)) {
    double value;
    if (!readnumber(word, &value)) {
      *problem = quotedword(word, "is no count");
      return true;
    }
    row->values.push_back(value);
  }
  if (row->values.empty()) *problem = "a row without counts";
  return true;
}

void closemotif(TableMotif *table, MotifSink *sink) {
  if (!table->open) return;
  table->open = false;
  Motif *motif = &table->motif;
  const std::vector<TableRow> &rows = table->rows;
  if (table->problem.empty() && rows.empty()) noteproblem(table, "no rows of counts", motif->line);
  size_t labelled = 0;
  for (const TableRow &row : rows) labelled += row.label != 0 ? 1 : 0;
  if (table->problem.empty() && labelled != 0 && labelled != rows.size()) {
    noteproblem(table, "rows with and without letters", rows.front().line);
  }
  if (table->problem.empty() && labelled == 0) {
    if (rows.size() == 4) {
      motif->letters = "ACGT";
    } else {
      char text[96];
      std::snprintf(text, sizeof text, "%lu rows without letters, expecting four (A, C, G, T)",
                    static_cast<unsigned long>(rows.size()));
      noteproblem(table, text, rows.back().line);
    }
  } else if (table->problem.empty()) {
    for (const TableRow &row : rows) motif->letters.push_back(row.label);
  }
  for (const TableRow &row : rows) {
    if (row.values.size() != rows.front().values.size()) {
      noteproblem(table, "rows of different lengths", row.line);
    }
  }
  if (table->problem.empty()) {
    const size_t width = rows.size();
    const size_t length = rows.front().values.size();
    motif->counts.resize(width * length);
    for (size_t letter = 0; letter < width; letter++) {
      for (size_t position = 0; position < length; position++) {
        motif->counts[position * width + letter] = rows[letter].values[position];
      }
    }
  }
  finishmotif(sink, motif, table->problem, table->problemline);
}

void openmotif(TableMotif *table, uint64_t line) {
  *table = TableMotif{};
  table->open = true;
  table->motif.line = line;
}

}  // namespace

int readjaspar(LineCursor *cursor, MotifSink *sink) {
  TableMotif table{};
  std::string_view line;
  while (nextline(cursor, &line)) {
    if (isblankline(line)) continue;
    if (line[0] == '>') {
      closemotif(&table, sink);
      openmotif(&table, cursor->line);
      const std::string_view header = trimblanks(line.substr(1));
      const std::vector<std::string_view> words = splitwords(header);
      if (words.size() >= 2) {
        table.motif.accession = words[0];
        table.motif.name = trimblanks(header.substr(words[0].size()));
      } else if (words.size() == 1) {
        table.motif.name = words[0];
      }
      continue;
    }
    TableRow row{};
    row.line = cursor->line;
    std::string problem;
    if (!readrow(line, &row, &problem)) {
      return layouterror(sink, cursor->line, "expecting a `>' header or a row of counts");
    }
    // Rows before any header form a motif named after the file.
    if (!table.open) openmotif(&table, cursor->line);
    if (!problem.empty()) noteproblem(&table, problem, cursor->line);
    table.rows.push_back(std::move(row));
  }
  closemotif(&table, sink);
  return 0;
}
