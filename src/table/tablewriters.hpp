// The three tables zelkotable writes from report lines: TSV with a header row for data
// frames, BED6 (optionally with extra columns) and GFF3 for genome browsers.
//
// Contents: TableFormat, TableSettings, MatchPlace; OutputBuffer; writetableheader,
// writetablerow; bedscore.
#pragma once

#include <cstdint>
#include <cstdio>
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

// Output collected in one block and written to standard output with one call when it is
// full, so that a row costs no system call and no formatting through printf.
struct OutputBuffer {
  FILE *stream = nullptr;  // null: standard output, through the checked writes of the core
  std::string text;
  bool failed = false;  // a write fell short (on standard output the reason is kept for
                        // finishoutput, on another stream in error)
  int error = 0;
};
void appendtext(OutputBuffer *out, std::string_view text);
void appendchar(OutputBuffer *out, char c);
void appendnumber(OutputBuffer *out, uint64_t value);
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
