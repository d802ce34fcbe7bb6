// The program's banner line with its build date and time.
#pragma once

// "Zelkosearch 1.3-mt 64bit, compiled on <date> at <time>" ("1.3" in the single-threaded build).
const char *searchbanner();
// Prints "* " and the banner with a line break on standard output.
void printsearchbanner();
