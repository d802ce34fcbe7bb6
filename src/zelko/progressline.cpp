// The progress line of zelko's subcommands.
#include "zelko/progressline.hpp"

#include <cstdio>

// "time" as m:ss or h:mm:ss.
std::string clocktext(double seconds) {
  if (!(seconds >= 0.0) || seconds > 359999.0) return "--:--";
  const unsigned long total = static_cast<unsigned long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%lu:%02lu", total / 60, total % 60);
  }
  return text;
}

int drawprogress(const ScanProgress &progress, void *context) {
  ProgressLine *line = static_cast<ProgressLine *>(context);
  // Into a pipe or a file a line a second is plenty; a terminal redraws in place.
  if (!line->terminal && progress.workdone < progress.worktotal &&
      progress.elapsed - line->lastdrawn < 1.0) {
    return 0;
  }
  line->lastdrawn = progress.elapsed;
  const double fraction = progress.worktotal == 0
                              ? 1.0
                              : static_cast<double>(progress.workdone) /
                                    static_cast<double>(progress.worktotal);
  const double rate = progress.elapsed > 0.0
                          ? static_cast<double>(progress.workdone) / progress.elapsed / 1e6
                          : 0.0;
  const double left =
      fraction > 0.0 ? progress.elapsed * (1.0 - fraction) / fraction : -1.0;
  std::fprintf(stderr, "%s%s%5.1f%%  %.1f of %.1f M letters x motifs x strands  %lu matches  "
               "%.0f M/s  %s left%s",
               line->terminal ? "\r" : "", line->phase.c_str(), 100.0 * fraction,
               static_cast<double>(progress.workdone) / 1e6,
               static_cast<double>(progress.worktotal) / 1e6,
               static_cast<unsigned long>(progress.hits), rate, clocktext(left).c_str(),
               line->terminal ? "\033[K" : "\n");
  std::fflush(stderr);
  line->drawn = true;
  return 0;
}

void endprogress(ProgressLine *line) {
  if (line->drawn && line->terminal) std::fputc('\n', stderr);
}
