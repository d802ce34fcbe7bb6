// The progress line of zelko's subcommands on standard error: done, letters x motifs x
// strands, matches, rate and time left, redrawn in place on a terminal and a line a second
// into a file or a pipe.
#pragma once

#include <string>

#include "scan/scan.hpp"

struct ProgressLine {
  bool terminal = false;
  bool drawn = false;
  double lastdrawn = -1.0;
  std::string phase;  // shown in front ("control: "), empty for none
};

// "time" as m:ss or h:mm:ss.
std::string clocktext(double seconds);
// A ScanProgressFunction; context is the ProgressLine.
int drawprogress(const ScanProgress &progress, void *context);
// Ends a line drawn in place.
void endprogress(ProgressLine *line);
