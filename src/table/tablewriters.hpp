// The three tables zelkotable writes from report lines: TSV with a header row for data
// frames, BED6 (optionally with extra columns) and GFF3 for genome browsers.
//
// Contents: TableFormat, TableSettings, MatchPlace; OutputBuffer; writetableheader,
// writetablerow; bedscore.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "table/tabsrecord.hpp"

enum TableFormat { TABLE_TSV, TABLE_BED, TABLE_GFF3 };

// How the GFF3 type is chosen: from the matched letters, or fixed by the user.
enum MoleculeKind { MOLECULE_AUTO, MOLECULE_DNA, MOLECULE_PROTEIN };

struct TableSettings {
  TableFormat format = TABLE_TSV;
  bool bedextra = false;       // BED6 plus p-value, score and matched sequence
  bool genomic = false;        // chromosome coordinates from region words
  bool databasetext = false;   // complementary matches were printed as in the database
  MoleculeKind molecule = MOLECULE_AUTO;
  bool qvalues = false;        // TSV: a last column q_value from the record's qvalue
};

// Where a match lies in the output: sequence (or chromosome) name, 1-based closed
// coordinates and the strand code on it.
struct MatchPlace {
  std::string_view sequence;
  uint64_t start = 0;
  uint64_t stop = 0;
  std::string_view strand;
};

// The text of an output block: a growing byte array whose appends are inline and copy
// short pieces without a call, as rows are made of a dozen short fields.
class TextBlock {
 public:
  TextBlock() = default;
  TextBlock(const TextBlock &) = delete;
  TextBlock &operator=(const TextBlock &) = delete;
  ~TextBlock() { std::free(data_); }
  const char *data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() { size_ = 0; }
  void reserve(size_t capacity) {
    if (capacity > capacity_) grow(capacity - size_);
  }
  void push_back(char c) {
    if (size_ == capacity_) grow(1);
    data_[size_++] = c;
  }
  void pop_back() { size_--; }
  void append(const char *text, size_t length) {
    if (capacity_ - size_ < length) grow(length);
    char *out = data_ + size_;
    if (length <= 16) {
      for (size_t i = 0; i < length; i++) out[i] = text[i];
    } else {
      std::memcpy(out, text, length);
    }
    size_ += length;
  }
  void append(std::string_view text) { append(text.data(), text.size()); }

 private:
  void grow(size_t more);
  char *data_ = nullptr;
  size_t size_ = 0, capacity_ = 0;
};

// Output collected in one block and written to standard output with one call when it is
// full, so that a row costs no system call and no formatting through printf.
struct OutputBuffer {
  FILE *stream = nullptr;  // null: standard output, through the checked writes of the core
  TextBlock text;
  bool failed = false;  // a write fell short (on standard output the reason is kept for
                        // finishoutput, on another stream in error)
  int error = 0;
};
// Inline: a row is made of a dozen of these.
inline void appendtext(OutputBuffer *out, std::string_view text) { out->text.append(text); }
inline void appendchar(OutputBuffer *out, char c) { out->text.push_back(c); }
inline void appendnumber(OutputBuffer *out, uint64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out->text.append(digits, static_cast<size_t>(result.ptr - digits));
}
// Writes the block when it has grown beyond its threshold; flushoutput writes it always.
void maybeflush(OutputBuffer *out);
void flushoutput(OutputBuffer *out);

// The header lines of the format: the column names of TSV (q_value last with qvalues), "##gff-version 3", none for BED.
void writetableheader(const TableSettings &settings, OutputBuffer *out);

// One row. text is the matched text in the matrix's reading direction, upper case. A record
// with a q-value gives GFF3 a qvalue attribute after the pvalue one.
void writetablerow(const TableSettings &settings, const TabsRecord &record,
                   const MatchPlace &place, std::string_view text, OutputBuffer *out);

// The BED score of a p-value: min(1000, round(-10 log10 p)), 0 for p >= 1.
uint64_t bedscore(double pvalue);
