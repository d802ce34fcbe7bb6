// Opening an enhanced suffix array index: the project file N.prj, the alphabet files, and the
// tables mapped whole into memory on demand; and the lookup of lcp values of 255 or more.
#pragma once

#include <cstdint>

#include "sequences/virtualtree.hpp"

// Index names of this length or more are refused.
constexpr uint64_t MAXINDEXNAME = 4096;

// The values of a project file that do not go into the Multiseq.
struct IndexParameters {
  uint64_t longest;
  bool longestdefined;
  uint64_t prefixlength;
  uint64_t largelcpvalues;
  uint64_t maxbranchdepth;
  int64_t specialindex;
};

// Opens the index indexname with the tables named by demand (TISTAB, OISTAB, ...): 0, or a
// negative value with the message in the ErrorBuffer (text only; the caller sets the code).
// A tis table that cannot be mapped leaves multiseq.sequence null without failing. After a
// failure the Virtualtree is partly filled; closevirtualtree releases it.
int openvirtualtree(Virtualtree *virtualtree, const char *indexname, uint32_t demand);
// Reads N.prj into the counts and file table of multiseq and into parameters: 0; -1 the file
// cannot be opened; -2 its content is wrong; -3 it cannot be closed.
int readprojectfile(Multiseq *multiseq, IndexParameters *parameters, const char *indexname);
// Maps the sequence tables of demand (tis, ois, ssp, des with sds) into multiseq, whose counts
// are set: 0 or -1.
int mapsequencetables(Multiseq *multiseq, const char *indexname, uint32_t demand);
// Unmaps every table: 0, or -1 with the message of the first failing unmapping.
int closevirtualtree(Virtualtree *virtualtree);

// Where the last large lcp lookup ended; one per running search, starting zeroed.
struct LargeLcpCursor {
  uint64_t index;
};
// The lcp value of rank from the large lcp table. A rank missing from the table prints
// "cannot find %lu in exception table" on standard error and ends the process with status 1.
// Consecutive queries for the same or increasing ranks are answered from the cursor without
// a search.
uint64_t largelcp(const Virtualtree *virtualtree, uint64_t rank, LargeLcpCursor *cursor);
// The lcp value of rank: its byte, or the large value behind a byte of 255.
inline uint64_t lcpvalue(const Virtualtree *virtualtree, uint64_t rank, LargeLcpCursor *cursor) {
  const unsigned char byte = virtualtree->lcptab[rank];
  return byte < 255 ? byte : largelcp(virtualtree, rank, cursor);
}
