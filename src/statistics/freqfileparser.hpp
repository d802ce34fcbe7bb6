// Background frequencies: one probability per symbol code of the sequence alphabet, read from
// a frequency file or made uniform.
#pragma once

#include "sequences/alphabet.hpp"

// Loads the frequencies for alpha: from the file named filename, or, with a null name, the
// uniform background (every regular symbol 1/(mapsize - 1), the wildcard 0). Returns an array
// of alpha->mapsize doubles, the wildcard's entry last, which the caller frees with free();
// null after an error ("Failed to open file `%s'." or "Parsing error in line %lu: %s.", code
// set). Status lines and warnings go through printstatus and printwarning; the values are not
// normalised.
double *loadfrequencies(const char *filename, const Alphabet *alpha);
