// The program's banner line with its build date and time.
#pragma once

// "Zelkosearch 1.3-mt 64bit, compiled on <date> at <time>" ("1.3" in the single-threaded build).
const char *searchbanner();
// "Zelkosearch 1.3-mt 64bit" ("1.3" in the single-threaded build): the banner's program part.
const char *searchprogramname();
// Prints "* " and the banner with a line break on standard output.
void printsearchbanner();
