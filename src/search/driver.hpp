// The search run after the command line: opens the database, loads frequencies and the
// library, prepares thresholds and strands, runs the jobs and reports.
#pragma once

#include "search/runconfig.hpp"

// Runs the whole search and prints any pending error; returns the exit status (0 or 1).
int runsearch(RunConfiguration *config);
