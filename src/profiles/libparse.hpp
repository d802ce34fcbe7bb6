// The profile library parser and the tokenizer it shares with the frequency file reader.
#pragma once

#include "profiles/profilecollection.hpp"

// Parses the library into the collection: 0, or -1 with the error code set. After a failure
// the collection has been released (or never created): the caller neither uses nor frees it.
int parselibrary(const char *filename, const Alphabet *alpha, ProfileCollection *collection);
