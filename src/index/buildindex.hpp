// Building an enhanced suffix array index from a sequence file: the sequence tables, the
// alphabet, the suffix array, the lcp table with its large values, the skip table and the
// project file, each written under a temporary name and renamed when all are complete.
#pragma once

#include <cstdint>
#include <string>

#include "sequences/alphabet.hpp"

struct IndexBuildOptions {
  // Sort with the 64-bit interface even where the 32-bit one suffices (tests use it to
  // exercise the path that large texts take).
  bool wideindex;
};

// Reads the sequence file databasename with alpha (as the search program reads it) and writes
// the index indexname. Status lines for the long steps go through printstatus. Returns 0, or
// -1 with the message in the ErrorBuffer (text only); a failure leaves no file of the index
// behind (an index of that name that existed before may have lost its project file).
int buildindex(const char *databasename, const Alphabet *alpha, const char *indexname,
               const IndexBuildOptions *options);

// The alphabet as the text of a symbol map file that reads back to the same codes,
// representatives and wildcard class.
std::string symbolmaptext(const Alphabet *alpha);
