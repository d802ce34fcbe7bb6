// The ReportFunctions that print matches (human-readable records, tab-separated lines, or
// nothing but a count) and the pieces every report shares: where a match lies in the
// database, its statistics (p-value, E-value, MSS), and the character rules for
// descriptions and matching sequences.
//
// Contents: MatchLocation, match_location; MatchStatistics, match_statistics; text helpers;
// report_null, report_human, report_tabs (collect_match is in matchcollection.hpp).
#pragma once

#include <cstdint>
#include <string>

#include "model/match.hpp"

struct Profile;

// Where a match lies. For a source kind other than sequence file or index everything is 0
// or null.
struct MatchLocation {
  uint64_t seqnum;         // number of the sequence holding the end position, from 0
  uint64_t startposition;  // absolute position of the first matched symbol
  uint64_t seqposition;    // startposition relative to the start of its sequence
  const unsigned char *description;  // header of the sequence (ends with its newline), or null
  uint64_t descriptionlength;        // 0 when description is null
  const unsigned char *sequence;     // the database's symbol array, or null
};

// Locates match: 0, or -1 with the sequence container's message in the ErrorBuffer and the
// error code set (the end position lies outside the database).
int match_location(const Match *match, MatchLocation *ret_location);

struct MatchStatistics {
  bool hasdistribution;  // false: pvalue and evalue are 0.0 and are not printed
  double pvalue;
  double evalue;
  double mss;  // clamped to 0.0 .. 1.0
};

// Statistics of score for profile. A profile without a stored distribution gets its complete
// distribution computed and stored when job has background frequencies. Returns 0, or -1
// with the message in the ErrorBuffer (a score type other than integer or float, or a
// failing distribution computation).
int match_statistics(Profile *profile, const SearchJob *job, ScoreValue score,
                     MatchStatistics *ret_statistics);

// The character table a matching sequence is printed with: the job's complement table for a
// complementary strand when the run has one, the match's own table otherwise.
const unsigned char *matchcharacters(const Match *match);
// Appends length bytes of text, each newline as ". ".
void appenddescription(std::string &text, const unsigned char *bytes, uint64_t length);
// Appends the symbols from startposition to endposition (inclusive, database order) mapped
// through characters.
void appendmatchingsequence(std::string &text, const unsigned char *sequence,
                            uint64_t startposition, uint64_t endposition,
                            const unsigned char *characters);

// The Multiseq a match was found in: its source, or the Multiseq of its Virtualtree.
const Multiseq *multiseqofmatch(const Match *match);

// ReportFunctions: each adds 1 to the job's match counter. report_null prints nothing;
// report_human and report_tabs print one record on standard output in one write under the
// output lock. 0, or -1 with the message in the ErrorBuffer.
int report_null(Match *match);
int report_human(Match *match);
int report_tabs(Match *match);
