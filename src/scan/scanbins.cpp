// The bins of the scan's histograms: where a match's position and score are counted. The
// scan's summaries and the HTML report made from a table both bin by these rules.
#include <algorithm>
#include <cmath>

#include "scan/scan.hpp"

ScanPositionLayout scan_positionlayout(uint64_t longest, uint64_t binwidth, bool centred) {
  ScanPositionLayout layout;
  layout.width = static_cast<int64_t>(std::max<uint64_t>(binwidth, 1));
  const int64_t length = static_cast<int64_t>(longest);
  int64_t last = length - 1;
  if (centred) {
    const int64_t half = length / 2;
    layout.origin = -((half + layout.width - 1) / layout.width) * layout.width;
    last = length - 1 - half;
  }
  layout.count =
      static_cast<uint64_t>(std::max<int64_t>((last - layout.origin) / layout.width + 1, 1));
  return layout;
}

int64_t scan_hitposition(uint64_t start, uint64_t motiflength, uint64_t sequencelength,
                         bool centred) {
  const int64_t centre =
      static_cast<int64_t>(start - 1) + static_cast<int64_t>(motiflength - 1) / 2;
  return centred ? centre - static_cast<int64_t>(sequencelength) / 2 : centre;
}

uint64_t scan_positionbin(const ScanPositionLayout &layout, int64_t position) {
  return static_cast<uint64_t>(std::clamp<int64_t>((position - layout.origin) / layout.width, 0,
                                                   static_cast<int64_t>(layout.count) - 1));
}

ScanScoreLayout scan_scorelayout(const ScanMotif &motif, bool reachable, int64_t threshold,
                                 int64_t highest, uint64_t count) {
  ScanScoreLayout layout;
  layout.count = std::max<uint64_t>(count, 1);
  layout.low = reachable ? threshold : motif.minscore;
  layout.width = static_cast<double>(std::max(highest, layout.low) - layout.low + 1) /
                 static_cast<double>(layout.count);
  return layout;
}

uint64_t scan_scorebin(const ScanScoreLayout &layout, int64_t score) {
  const double offset = static_cast<double>(score - layout.low) / layout.width;
  return static_cast<uint64_t>(
      std::clamp<double>(std::floor(offset), 0.0, static_cast<double>(layout.count - 1)));
}
