// Records of one shard's report: a tab-separated line or a human-readable record written by
// zelkosearch, split into the fields that identify, order and select it. Parsing only looks
// at the text; which profile a record belongs to is settled by the merge.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "search/runconfig.hpp"

// Views into the record's text.
struct RecordFields {
  uint64_t groupnumber;
  uint64_t groupposition;
  unsigned char strand;  // strand bit
  uint64_t seqnum;
  uint64_t seqposition;
  uint64_t length;
  std::string_view groupdigits;   // where groupnumber and seqnum stand in the text
  std::string_view seqnumdigits;
  std::string_view threshold;
  std::string_view score;
  std::string_view pvalue;  // both empty when the run had no distribution
  std::string_view evalue;
  std::string_view mss;
};

// 0, or -1 when line (without its newline) is not a tab-separated record. The profile and
// sequence descriptions may hold tabs; the fields between them locate the record, and -2
// says that they do so at more than one place (the fields cannot be told apart).
int parsetabsrecord(std::string_view line, RecordFields *fields);
// 0, or -1 when record (its lines, each with its newline) is not a human-readable record.
int parsehumanrecord(std::string_view record, RecordFields *fields);

// Reads the records of one report file, one at a time.
struct ShardReader {
  FILE *file;
  const char *name;
  OutputFormat format;
  uint64_t line;         // lines read so far
  uint64_t recordline;   // first line of the last record read
  std::string lookahead;  // human: the header line of the next record
  uint64_t lookaheadline;
  std::vector<char> block;  // what was read and not yet handed out: begin to end
  size_t begin;
  size_t end;
  bool atend;             // the file has no more bytes
  // Added to the group and sequence numbers of every record: the shard searched a slice of
  // the library or one of several databases.
  uint64_t groupoffset;
  uint64_t seqoffset;
};

// 0, or -1 with the message in the ErrorBuffer.
int shardreader_open(ShardReader *reader, const char *name, OutputFormat format);
// A line, or a human record, longer than this is no part of a report; it is refused rather
// than held in memory (zelkotable refuses the same lines).
constexpr size_t maxshardline = size_t{256} << 20;

// Reads the next record's text into text (reusing its space): 1 when a record was read, 0 at
// the end of the file, -1 with the message in the ErrorBuffer on a read error or a line (or
// human record) longer than maxshardline.
int shardreader_next(ShardReader *reader, std::string *text);
void shardreader_close(ShardReader *reader);
