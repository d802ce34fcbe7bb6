// Which build of the program this is. The program units are compiled once per build with
// ZELKO_THREADED set to 1 (threads, -j) or 0 (one job); the difference is used only through
// this constant and if constexpr.
#pragma once

#ifndef ZELKO_THREADED
#error "ZELKO_THREADED must be defined (1 for the threaded build, 0 for the single-threaded one)"
#endif

constexpr bool threadedbuild = ZELKO_THREADED != 0;
