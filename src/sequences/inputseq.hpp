// Input selection: opens the database name as an enhanced suffix array index when its
// project file exists, otherwise as a sequence file with the chosen alphabet.
#pragma once

#include <cstdint>

#include "sequences/virtualtree.hpp"

// 0 or -1 (error code set, message in the ErrorBuffer). *ret_isindex tells whether the
// database is an index. A sequence file is parsed by up to jobs threads.
int selectinputsequence(const char *databasename, const char *smapname, bool protein, bool dna,
                        uint32_t demand, Virtualtree *virtualtree, bool *ret_isindex,
                        uint64_t jobs = 1);
// Releases what selectinputsequence opened: 0 or -1.
int releaseinputsequence(Virtualtree *virtualtree, bool isindex);
