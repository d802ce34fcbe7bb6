// The profile library parser: a library file read into a ProfileCollection.
#pragma once

#include <cstdint>

#include "model/profile.hpp"

// Parses the library into the collection, every matrix laid out for alpha (borrowed; it must
// outlive the collection): 0, or -1 with the error code set. Prints the status line "Reading
// profile matrices from `%s'" and the column warnings through the output switches. A format
// error leaves "Parsing error in line %lu: %s." (or the synonym message of the column check)
// in the ErrorBuffer and shows the offending line with a caret on standard error. After a
// failure the collection has been released (or never created): the caller neither uses nor
// frees it.
int parselibrary(const char *filename, const Alphabet *alpha, ProfileCollection *collection);

// The same for a library held in memory (text need not end with a zero byte; the
// collection's texts are copies, so text may go once the parse is over). No status line.
int parselibrarytext(const char *text, uint64_t length, const Alphabet *alpha,
                     ProfileCollection *collection);
