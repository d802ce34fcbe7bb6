// The banner line of motifconv with its build date and time.
#pragma once

// "Motifconv 1.0 64bit, compiled on <date> at <time>".
const char *motifconvbanner();
