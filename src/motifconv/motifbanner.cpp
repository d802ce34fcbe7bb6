// The banner line. It alone holds the build date and time, so only it recompiles per build.
#include "motifconv/motifbanner.hpp"

const char *motifconvbanner() { return "Motifconv 1.0 64bit, compiled on " __DATE__ " at " __TIME__; }
