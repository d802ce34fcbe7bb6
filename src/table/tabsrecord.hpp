// One line of zelkosearch's tab-separated report, split into its 18 fields and checked, and
// the facts about a match that every output table derives from it: the sequence name, the
// 1-based coordinates, the strand sign and the matched text in the matrix's reading direction.
//
// Contents: TabsRecord; parsetabsline; sequencename; strandsign; orientedtext.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The fields of one report line. Texts point into the line and live as long as it does;
// numeric fields keep their text too, so that they are copied to the tables exactly as
// zelkosearch printed them.
struct TabsRecord {
  std::string_view identifier;      // empty when the matrix has none
  std::string_view accession;       // empty when the matrix has none
  std::string_view description;     // profile description, newlines printed as ". "
  uint64_t groupid = 0;
  uint64_t groupposition = 0;
  uint64_t position = 0;            // first matched position in the sequence, from 0
  uint64_t length = 0;
  std::string_view strand;          // "fn", "fc", "rn" or "rc"
  std::string_view threshold;
  std::string_view score;
  std::string_view minimum;
  std::string_view maximum;
  std::string_view pvalue;          // empty when the run had no distribution
  std::string_view evalue;
  double pvaluenumber = 0.0;
  std::string_view mss;
  uint64_t sequencenumber = 0;
  std::string_view sequencedescription;  // ends with ". " for the header's newline
  std::string_view matchedtext;     // database order, complemented on complementary strands
  std::string_view qvalue;          // not a field of the report: empty, or set by a caller
                                    // that computed q-values (zelko scan)
};

// Splits the line (without its newline) into record. The sequence description may itself
// hold tabs: the numeric fields in front of it decide where it begins. A line with tabs in
// front of the numbers (inside the identifier, the accession or the matrix description), or
// whose numbers also read at another place, is refused: its fields cannot be told apart.
// Returns 0, or -1 with "line %lu: ..." in the ErrorBuffer for a wrong number of fields, such
// a line, a field that is not a number, an unknown strand, a p-value without E-value or a
// matched text whose length differs from the match length.
int parsetabsline(std::string_view line, uint64_t linenumber, TabsRecord *record);

// The strand bits of the two-letter code: reversed and complementary.
inline bool isreversed(const TabsRecord &record) { return record.strand[0] == 'r'; }
inline bool iscomplementary(const TabsRecord &record) { return record.strand[1] == 'c'; }

// The sequence description without the ". " that stands for the header's final newline.
std::string_view headertext(std::string_view sequencedescription);

// The first word of the header text; empty when the header is empty.
std::string_view sequencename(std::string_view sequencedescription);

// "+" for fn, "-" for rc and the code itself for the two other strands.
std::string_view strandsign(std::string_view strand);

// The matched text as the matrix reads it, in upper case: reversed on reversed strands, so
// that the reverse complementary strand gives the reverse complement of the database text.
// databasetext says that complementary strands were printed as they stand in the database
// (zelkosearch -ncompl); they are then complemented here.
void orientedtext(const TabsRecord &record, bool databasetext, std::string *text);
