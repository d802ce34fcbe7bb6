// The multiple-sequence container: the database as one coded sequence with separators,
// its headers and counts; and the readers of Fasta, GenBank and EMBL files.
#pragma once

#include <cstdint>

#include "sequences/alphabet.hpp"

constexpr uint64_t MAXFILES = 256;

struct FileInfo {
  char *filename;  // owned, or null
  uint64_t filelength;
  uint64_t endposition;  // index files: end of this file's sequences in the concatenation
};

struct Multiseq {
  uint64_t *separatorpositions;  // numofsequences - 1 positions, ascending
  uint64_t allocatedseparators;
  uint64_t numofseparators;
  uint64_t *descoffsets;  // numofsequences + 1 offsets into desctext
  uint64_t numofsequences;
  uint64_t totallength;  // coded positions, separators included
  FileInfo fileinfo[MAXFILES];
  uint64_t numoffiles;
  uint64_t numofqueryfiles;
  uint64_t numofdbsequences;
  uint64_t numofquerysequences;
  uint64_t totalquerylength;
  uint64_t specialcharacters;
  uint64_t specialranges;
  uint64_t lengthofspecialprefix;
  uint64_t lengthofspecialsuffix;
  unsigned char *desctext;  // headers, each ending with its newline
  uint64_t allocateddesctext;
  uint64_t desctextlength;
  unsigned char *sequence;       // totallength symbol codes
  unsigned char *plainsequence;  // totallength characters, or null, or the same as sequence
  bool descoffsetsmapped;        // set by the index reader when the tables are memory maps
};

// Sets every table and count to empty (nothing is freed).
void initmultiseq(Multiseq *multiseq);
// Releases every table: a memory map is unmapped, any other block freed; fields become null.
// 0, or -1 with the message of the first failing unmapping (the rest is still released).
int freemultiseq(Multiseq *multiseq);

// Loads a sequence file (Fasta, GenBank or EMBL, plain or gzip) coded with alpha into an
// empty multiseq: 0 or -1 with the message in the ErrorBuffer (text only). A file named
// "*.gz" is decompressed, any other is mapped as a private copy; that buffer becomes
// sequence. With keepcharacters the plain characters are kept in plainsequence. After a
// failure the multiseq may be partly filled; freemultiseq releases it. The Fasta text is
// parsed by up to jobs threads (see parsefasta).
// A plain sequence file read into a block of memory of its own (huge pages) rather than
// mapped: for a library whose tables read matched letters all over the sequences. Off by
// default; process-wide.
void setsequencefilesread(bool read);
int readsequencefile(Multiseq *multiseq, const char *filename, const Alphabet *alpha,
                     bool keepcharacters, uint64_t jobs = 1);

// Parses Fasta text in one pass, writing the codes over the text itself, which becomes
// multiseq->sequence (owned from then on, also after a failure). filename is for messages.
// 0; -1 illegal character; -2 no sequence at all; -3 an empty sequence among several.
// With jobs above 1 the text is cut at headers into up to jobs stretches parsed at the same
// time, with the same result and the same message as one pass (where a thread cannot start,
// its stretch is parsed afterwards by the caller); each stretch's pages are first made
// present by its thread. readsequencefile does so for texts of some megabytes.
int parsefasta(const Alphabet *alpha, Multiseq *multiseq, const char *filename,
               unsigned char *text, uint64_t length, uint64_t jobs = 1);
// Whether parsefasta (and so readsequencefile) takes an empty sequence among several as a
// sequence of length 0 instead of failing with -3. Off unless a caller turns it on for its
// own reads; the scan library does, and skips such sequences with a warning.
void setemptysequencesaccepted(bool accepted);
bool emptysequencesaccepted();

// Writes the residue characters of Fasta text to destination, 255 in place of every header
// but a leading one; white space is dropped. Returns the number of bytes written, which is
// never more than length.
uint64_t extractplain(unsigned char *destination, const unsigned char *text, uint64_t length);

// Number of the sequence containing position, or -1 with "cannot find position %lu".
int64_t seqnumofposition(const Multiseq *multiseq, uint64_t position);
struct PositionPair {
  uint64_t first, last;  // both inclusive
};
// First and last position of sequence seqnum: 0, or -1 with "unit %lu does not exist: maximal
// number of units is %lu".
int seqrange(const Multiseq *multiseq, uint64_t seqnum, PositionPair *ret_range);
// First position of sequence seqnum (no check).
uint64_t seqstartposition(const Multiseq *multiseq, uint64_t seqnum);
// Checks the container's invariants (separators ascending and inside, counts): 0 or -1.
int multiseq_check(const Multiseq *multiseq);
